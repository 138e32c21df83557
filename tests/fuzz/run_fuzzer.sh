#!/bin/sh
# Runs a libFuzzer target over a copy of its seed corpus for a bounded time.
# Any crash, hang, leak or sanitizer report fails the run; the input that
# showed it is kept in the artifact directory.
#
#   run_fuzzer.sh FUZZER SEED_DIR [SECONDS] [ARTIFACT_DIR]
set -eu
fuzzer=$1
seeds=$2
seconds=${3:-30}
artifacts=${4:-$PWD/fuzz-artifacts}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/corpus" "$artifacts"
cp "$seeds"/* "$work/corpus/"
rm -f "$artifacts"/*

status=0
# -close_fd_mask=3: the target's own diagnostics stay quiet; libFuzzer and
# the sanitizers still report on a copy of standard error.
"$fuzzer" "$work/corpus" -max_total_time="$seconds" -timeout=10 \
  -rss_limit_mb=2048 -max_len=4096 -close_fd_mask=3 \
  -artifact_prefix="$artifacts/" -print_final_stats=1 || status=$?

if [ "$status" -ne 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
  echo "$(basename "$fuzzer"): fault found (status $status); inputs kept in $artifacts:" >&2
  ls -l "$artifacts" >&2
  exit 1
fi
