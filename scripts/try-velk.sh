#!/bin/sh
# Builds the suite, installs it into a throwaway prefix together with the
# stand-in toolchain, and runs `velk++ -v -O2 examples/hello.cc -o hello`
# there, listing the programs it started and the arguments it gave them.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
cmake --preset default -S "$src" > /dev/null
cmake --build "$src/build/default"
prefix=$(mktemp -d "${TMPDIR:-/tmp}/velk-try-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$src/build/default" --prefix "$prefix" > /dev/null
cmake --install "$src/build/default" --prefix "$prefix" --component standin \
  > /dev/null
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
