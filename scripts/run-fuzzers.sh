#!/bin/sh
# Builds the fuzz targets (fuzz preset) and runs each for a bounded time.
# Usage: scripts/run-fuzzers.sh [seconds per target, default 60]
# A crash stops the run with the fuzzer's report and a failing status; the
# input that caused it is left in build/fuzz/artifacts/.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz > /dev/null
cmake --build --preset fuzz
mkdir -p build/fuzz/artifacts build/fuzz/corpus
for fuzzer in split_arguments_fuzzer; do
  binary=$(find build/fuzz/tests -type f -name "$fuzzer" | head -n 1)
  corpus=build/fuzz/corpus/$fuzzer
  mkdir -p "$corpus"
  echo "== $fuzzer: $seconds s"
  "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix=build/fuzz/artifacts/ "$corpus"
done
