#!/bin/sh
# The host adapter toolchain: one small script installed under the names of
# the C and C++ compiler propers (tarn1, tarn1xx), the assembler (as) and the
# linker front-end (sheaf2).  It takes exactly the command lines velk++ gives
# those programs and carries them out with the host's clang: compile to host
# assembly, assemble, link.  What only the aarch64 FreeBSD target understands
# (its ABI and endianness switches, start files, dynamic linker, link-time
# plug-in, hash style and run-time libraries) is mapped to the host or
# dropped.  A test and demonstration tool, never part of an installation.
#
# VELK_HOST_CC and VELK_HOST_CXX name the host compilers (default clang and
# clang++).
set -eu
cc=${VELK_HOST_CC:-clang}
cxx=${VELK_HOST_CXX:-clang++}
# The search paths velk++ exports are the target's; the host back end must
# not look for its own programs and libraries there.
unset COMPILER_PATH LIBRARY_PATH

self=${0##*/}
n=$#
next='' # what the argument after an option is
case $self in
tarn1 | tarn1xx)
  lang=c
  [ "$self" = tarn1xx ] && lang=c++
  deps='' depfile='' explicit_depfile='' target='' dumpbase='' dumpext='' input='' debug=''
  for a do
    case $next in
    keep) set -- "$@" "$a"; next=; continue ;;
    drop) next=; continue ;;
    depfile) depfile=$a; next=; continue ;;
    mf) explicit_depfile=$a; next=; continue ;;
    target) target=yes; set -- "$@" "$a"; next=; continue ;;
    dumpbase) dumpbase=$a; next=; continue ;;
    dumpext) dumpext=$a; next=; continue ;;
    esac
    case $a in
    -o | -D | -U | -I | -include | -isystem | -iquote | -idirafter)
      set -- "$@" "$a"; next=keep ;;
    -MD | -MMD) deps=$a; next=depfile ;;
    -MF) next=mf ;;
    -MT | -MQ) set -- "$@" "$a"; next=target ;;
    -dumpbase) next=dumpbase ;;
    -dumpbase-ext) next=dumpext ;;
    -dumpdir | -iprefix | -imultilib | -imultiarch | -auxbase | -auxbase-strip)
      next=drop ;;
    -quiet | -fpreprocessed | -m*) ;;
    -g0) debug=''; set -- "$@" "$a" ;;
    -g*) debug=yes; set -- "$@" "$a" ;;
    -O* | -W* | -w | -f* | -std=* | -pedantic* | -ansi | -D?* | -U?* | \
      -I?* | -E | -C | -CC | -P | -M | -MM | -MP | -p | -pg)
      set -- "$@" "$a" ;;
    -) input=- ;;
    -*) ;; # meaningful only to the target's compiler
    *) input=$a ;;
    esac
  done
  shift "$n"
  case $input in
  *.i) lang=cpp-output ;;
  *.ii) lang=c++-cpp-output ;;
  esac
  if [ -n "$deps" ]; then
    set -- "$@" "$deps" -MF "${explicit_depfile:-$depfile}"
    # Without -MT the rule is for the object file the user asked for.
    [ -n "$target" ] || set -- "$@" -MT "${dumpbase%"$dumpext"}.o"
  fi
  # Host assembly with DWARF 5 line tables draws warnings from the host
  # assembler; version 4 assembles quietly.
  [ -z "$debug" ] || set -- "$@" -gdwarf-4
  case " $* " in
  *" -E "* | *" -M "* | *" -MM "*) ;;
  *) set -- -S "$@" ;;
  esac
  exec "$cc" "$@" -x "$lang" "$input"
  ;;
as)
  input=-
  for a do
    case $next in
    keep) set -- "$@" "$a"; next=; continue ;;
    drop) next=; continue ;;
    esac
    case $a in
    -o) set -- "$@" "$a"; next=keep ;;
    -I | -mabi | -march | -mcpu) next=drop ;;
    -*) ;; # the target's assembler switches
    *) input=$a ;;
    esac
  done
  shift "$n"
  exec "$cc" -c "$@" -x assembler "$input"
  ;;
sheaf2)
  for a do
    case $next in
    keep) set -- "$@" "$a"; next=; continue ;;
    drop) next=; continue ;;
    wl) set -- "$@" "-Wl,$wl,$a"; next=; continue ;;
    esac
    case $a in
    -o) set -- "$@" "$a"; next=keep ;;
    -plugin | -dynamic-linker | -m) next=drop ;;
    -rpath | -soname | -z | -e | -T) wl=$a; next=wl ;;
    -plugin-opt=* | --hash-style=* | --eh-frame-hdr | -X | -EL | -EB | -m* | -v | -V) ;;
    -lvelkcxx) ;; # the host's C++ library comes with the host's clang++
    -lvelk | -lvelk_s | -lvelk_eh) ;;
    -Bshareable) set -- "$@" -shared ;;
    -static | -shared | -pie | -no-pie | -L* | -l*) set -- "$@" "$a" ;;
    -*) set -- "$@" "-Wl,$a" ;;
    */crt1.o | */crti.o | */crtn.o | */crtbegin*.o | */crtend*.o | \
      crt1.o | crti.o | crtn.o | crtbegin*.o | crtend*.o | *Scrt1.o) ;;
    *) set -- "$@" "$a" ;;
    esac
  done
  shift "$n"
  exec "$cxx" "$@"
  ;;
*)
  echo "host-adapter: installed under an unknown name: $self" >&2
  exit 1
  ;;
esac
