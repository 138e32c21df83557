#!/bin/sh
# Counts the instructions and peak memory of `velk++ -### -O2 hello.cc -o
# hello` with valgrind's callgrind, next to a bare `int main(){}` C++
# program linked with the same static C++ run-time.  Needs valgrind and GNU
# time (/usr/bin/time).  Prints two lines: instructions and peak resident
# memory in KiB of each.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
cmake --preset default >/dev/null
cmake --build build/default --target stage >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# valgrind cannot read the debug information clang writes; the symbols
# suffice.
cp -r build/default/stage "$work/stage"
strip --strip-debug "$work/stage/bin/velk++"
printf 'int main() {}\n' >"$work/bare.cc"
clang++ -O2 -static-libstdc++ -static-libgcc "$work/bare.cc" -o "$work/bare"
cp examples/hello.cc "$work/"
cd "$work"
count() {
  valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$@" \
    >/dev/null 2>"$work/vg.txt"
  sed -n 's/.*Collected : //p' "$work/vg.txt"
}
peak() {
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
}
echo "velk++ -### -O2 hello.cc -o hello: $(count stage/bin/velk++ -### -O2 hello.cc -o hello) instructions, $(peak stage/bin/velk++ -### -O2 hello.cc -o hello) KiB"
echo "bare int main(){}: $(count ./bare) instructions, $(peak ./bare) KiB"
