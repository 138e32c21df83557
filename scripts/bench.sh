#!/bin/sh
# Prints one table of the instructions (valgrind's callgrind) and peak
# resident memory (GNU time) of velk++ runs, next to a bare `int main(){}`
# C++ program linked the same way (static C++ run-time, only the shared
# libraries it calls).  A benchmark: it prints figures and fails only when
# a tool is missing.
#
#   scripts/bench.sh [STAGE]
#
# STAGE is an installed tree holding bin/velk++ (the `bench` target passes
# the test stage of its build); without one the default build is staged.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ge 1 ]; then
  stage=$1
else
  cd "$root"
  cmake --preset default >/dev/null
  cmake --build build/default --target stage >/dev/null
  stage=$root/build/default/stage
fi
for tool in valgrind /usr/bin/time clang++ strip; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "bench: $tool is needed" >&2
    exit 1
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# valgrind cannot read the debug information clang writes; the symbols
# suffice.
cp -r "$stage" "$work/stage"
strip --strip-debug "$work/stage/bin/velk++"
printf 'int main() {}\n' >"$work/bare.cc"
clang++ -O2 -static-libstdc++ -static-libgcc -Wl,--as-needed "$work/bare.cc" \
  -o "$work/bare"
cp "$root/examples/hello.cc" "$work/"
i=0
while [ $i -lt 100000 ]; do
  echo "-DN$i"
  i=$((i + 1))
done >"$work/args"
cd "$work"

count() {
  valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$@" \
    >/dev/null 2>"$work/vg.txt" || true
  sed -n 's/.*Collected : //p' "$work/vg.txt"
}
peak() {
  { /usr/bin/time -f %M "$@" >/dev/null 2>"$work/err.txt" || true; } \
    2>/dev/null
  tail -n 1 "$work/err.txt"
}
row() {
  label=$1
  shift
  printf '| %-46s | %13s | %8s |\n' "$label" "$(count "$@")" "$(peak "$@")"
}
v=stage/bin/velk++
printf '| %-46s | %13s | %8s |\n' run instructions "peak KiB"
printf '|%s|%s|%s|\n' "------------------------------------------------" \
  "--------------:" "---------:"
row 'bare `int main(){}`' ./bare
row '`velk++ -### -O2 hello.cc -o hello`' $v -### -O2 hello.cc -o hello
row '`velk++ -### -c hello.cc`' $v -### -c hello.cc
row '`velk++ -dumpspecs`' $v -dumpspecs
row '`velk++ --help`' $v --help
row '`velk++ -### -c -fomit-frame-ponter hello.cc`' \
  $v -### -c -fomit-frame-ponter hello.cc
row '`velk++ -### -c hello.cc @args` (100,000)' $v -### -c hello.cc @args
