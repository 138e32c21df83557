#!/bin/sh
# Builds the installed programs (not the tests), lays them into a throwaway
# prefix and runs `velk++ -v -O2 examples/hello.cc -o hello` there.
#
# With the host's clang present, the compiler propers, assembler and linker
# front-end in the prefix are the host adapter toolchain (tests/adapter/),
# which carries velk++'s commands out with clang, so the result runs: the
# script ends with the program's own output.  Without clang they are the
# stand-in toolchain, and the script lists the programs velk++ started and
# the arguments it gave them.
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

exec_dir="$prefix/libexec/velk/aarch64-portbld-freebsd14.3/13.3.0"
tool_dir="$prefix/aarch64-portbld-freebsd14.3/bin"
if command -v clang > /dev/null 2>&1 && command -v clang++ > /dev/null 2>&1; then
  adapter="$src/tests/adapter/host-adapter.sh"
  for program in tarn1 tarn1xx sheaf2; do
    cp "$adapter" "$exec_dir/$program"
  done
  cp "$adapter" "$tool_dir/as"
  echo "== installed into $prefix, with the host adapter toolchain"
  echo "   (tests/adapter/: tarn1, tarn1xx, as and sheaf2 carry velk++'s"
  echo "   commands out with the host's clang)"
  cd "$prefix/work"
  echo "== velk++ -v -O2 hello.cc -o hello"
  status=0
  "$prefix/bin/velk++" -v -O2 hello.cc -o hello || status=$?
  echo "== exit status: $status"
  [ "$status" -eq 0 ] || exit "$status"
  echo "== ./hello"
  ./hello
  exit
fi

cd "$prefix/work"
echo "== installed into $prefix (stand-in toolchain in libexec/ and" \
  "aarch64-portbld-freebsd14.3/bin/)"
echo "== no clang on this machine: the stand-in toolchain records the calls"
echo "   and makes no program that runs"
echo "== velk++ -v -O2 hello.cc -o hello"
status=0
VELK_STANDIN_LOG="$prefix/calls.log" "$prefix/bin/velk++" -v -O2 hello.cc \
  -o hello || status=$?
echo "== exit status: $status"
echo "== programs started (from the stand-in toolchain's log):"
awk '/^call /{printf "%s", $2} /^arg /{sub(/^arg /,""); printf " %s", $0}
     /^end$/{print ""}' "$prefix/calls.log"
exit "$status"
