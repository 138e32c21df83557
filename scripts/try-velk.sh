#!/bin/sh
# Builds the installed programs (not the tests), lays them into a throwaway
# prefix together with the stand-in toolchain, and runs
# `velk++ -v -O2 examples/hello.cc -o hello` there, listing the programs it
# started and the arguments it gave them.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
build="$src/build/default"
log=$(mktemp "${TMPDIR:-/tmp}/velk-try-build-XXXXXX")
prefix=$(mktemp -d "${TMPDIR:-/tmp}/velk-try-XXXXXX")
trap 'rm -rf "$prefix" "$log"' EXIT

# The test stage is the installed tree plus the stand-in toolchain; building
# it builds exactly the programs that are installed.
echo "== building velk++ and the stand-in toolchain (log: quiet unless it fails)"
if ! { cmake --preset default -S "$src" &&
  cmake --build "$build" --target stage; } > "$log" 2>&1; then
  cat "$log"
  echo "== the build failed"
  exit 1
fi
cp -R "$build/stage/." "$prefix/"
mkdir "$prefix/work"
cp "$src/examples/hello.cc" "$prefix/work/"
cd "$prefix/work"
echo "== installed into $prefix (stand-in toolchain in libexec/ and" \
  "aarch64-portbld-freebsd14.3/bin/)"
echo "== velk++ -v -O2 hello.cc -o hello"
status=0
VELK_STANDIN_LOG="$prefix/calls.log" "$prefix/bin/velk++" -v -O2 hello.cc \
  -o hello || status=$?
echo "== exit status: $status"
if [ -s "$prefix/calls.log" ]; then
  echo "== programs started (from the stand-in toolchain's log):"
  awk '/^call /{printf "%s", $2} /^arg /{sub(/^arg /,""); printf " %s", $0}
       /^end$/{print ""}' "$prefix/calls.log"
else
  echo "== no program was started: this build of velk++ decodes the command"
  echo "   line and checks its inputs, but does not yet run the compiler,"
  echo "   assembler or linker."
fi
