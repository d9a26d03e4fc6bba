#!/bin/sh
# checkLoadFailure.sh: starts a host program with a chosen set of libraries
# on its search path and checks how the load of the library fails.
#
#   checkLoadFailure.sh [--exit N] [--stdout FILE] <expected stderr file> <program>
#                       <library files...> [-- <emulator and its options>]
#
# The library files are linked by their own names into a fresh directory
# that becomes LD_LIBRARY_PATH, so the test decides exactly which names the
# loader can find. With an emulator (cross builds), the emulator's own
# report of the guest's signal is left out of the comparison. The word
# PROGRAM in the expected standard error stands for the program's path, as
# the loader names it in its messages.
#
# Passes when: the program ends with the expected exit status (default 133,
# SIGTRAP: the library's halt), its standard error equals the expected file
# byte for byte, and its standard output equals the --stdout file (default:
# nothing, so main never ran).
#
# POSIX sh and the tools of a small target userland only (busybox will do):
# the check also runs on an ARM system.
set -u

expected_status=133
expected_stdout=/dev/null
while [ $# -gt 0 ]; do
  case $1 in
    --exit) expected_status=$2 ;;
    --stdout) expected_stdout=$2 ;;
    --*) echo "FAIL: unknown option $1"; exit 1 ;;
    *) break ;;
  esac
  shift 2
done
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

sed "s|PROGRAM|$program|g" "$expected" >"$work/expected.stderr"

failures=0
if [ "$status" -ne "$expected_status" ]; then
  echo "FAIL: exit status $status, expected $expected_status"
  failures=$((failures + 1))
fi
if ! cmp -s "$work/expected.stderr" "$work/stderr"; then
  echo "FAIL: standard error differs from $expected"
  echo "---- expected"; od -c "$work/expected.stderr"
  echo "---- actual"; od -c "$work/stderr"
  failures=$((failures + 1))
fi
if ! cmp -s "$expected_stdout" "$work/stdout"; then
  echo "FAIL: standard output is not $expected_stdout: $(cat "$work/stdout")"
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] && echo "load failed as expected"
[ "$failures" -eq 0 ]
