#!/bin/sh
# checkLoadFailure.sh: starts a host program with a chosen set of libraries
# on its search path and checks that the library's load-time failure halts
# it with exactly the expected diagnostics.
#
#   checkLoadFailure.sh <expected stderr file> <program> <library files...> [-- <emulator and its options>]
#
# The library files are linked by their own names into a fresh directory
# that becomes LD_LIBRARY_PATH, so the test decides exactly which names the
# loader can find. With an emulator (cross builds), the emulator's own
# report of the guest's signal is left out of the comparison.
#
# Passes when: the program ends by SIGTRAP (exit status 133), its standard
# error equals the expected file byte for byte, and main never ran (nothing
# on standard output).
#
# POSIX sh and the tools of a small target userland only (busybox will do):
# the check also runs on an ARM system.
set -u

expected=$1
program=$2
shift 2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/lib"
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  library=$1
  shift
  [ -e "$library" ] || { echo "FAIL: library $library does not exist"; exit 1; }
  case $library in
    /*) ;;
    *) library=$PWD/$library ;;
  esac
  ln -s "$library" "$work/lib/${library##*/}"
done
[ $# -gt 0 ] && shift
# What is left in "$@" is the emulator and its options, if any.

# A halted process must not leave a core file behind.
ulimit -c 0
(LD_LIBRARY_PATH="$work/lib" exec "$@" "$program" >"$work/stdout" 2>"$work/stderr")
status=$?

if [ $# -gt 0 ]; then
  grep -v '^qemu: uncaught target signal' "$work/stderr" >"$work/stderr.filtered"
  mv "$work/stderr.filtered" "$work/stderr"
fi

failures=0
if [ "$status" -ne $((128 + 5)) ]; then
  echo "FAIL: exit status $status, expected 133 (SIGTRAP)"
  failures=$((failures + 1))
fi
if ! cmp -s "$expected" "$work/stderr"; then
  echo "FAIL: standard error differs from $expected"
  echo "---- expected"; od -c "$expected"
  echo "---- actual"; od -c "$work/stderr"
  failures=$((failures + 1))
fi
if [ -s "$work/stdout" ]; then
  echo "FAIL: main ran: $(cat "$work/stdout")"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] && echo "halted at load as expected"
[ "$failures" -eq 0 ]
