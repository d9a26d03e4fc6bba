#!/usr/bin/env bash
# Line and branch coverage of the library (src/) by the test suite.
#
#   scripts/coverage.sh           configure, build and test the coverage preset
#                                 (the suite without the perf label), then report
#   scripts/coverage.sh --report  report on the counters of the last run only
#
# Prints gcovr's table (per file: lines, executed, percentage, the lines no
# test reaches) and the totals of lines and branches, then the branch total
# without the edges the compiler adds for exceptions, and writes an HTML
# report with every file annotated to build/coverage/html/index.html.
#
# A process that a test ends by a signal (the load-failure and trap probes)
# writes no counters, so what only such a process runs shows as unreached.
# Counters add up over runs of the same build, so a full run clears them
# first. Exits non-zero when a test fails, after the report.
set -euo pipefail

mode=${1:-}
case $mode in
  "" | --report) ;;
  *) echo "usage: coverage.sh [--report]" >&2; exit 2 ;;
esac

cd "$(dirname "$0")/.."
build=build/coverage
testsPassed=0

if [[ -z $mode ]]; then
  cmake --preset coverage
  cmake --build --preset coverage
  find "$build" -name '*.gcda' -delete
  ctest --preset coverage || testsPassed=$?
elif [[ ! -d $build ]]; then
  echo "coverage: nothing in $build; run scripts/coverage.sh first" >&2
  exit 2
fi

mkdir -p "$build/html"
common=(--root . --object-directory "$build" --filter 'src/' --exclude-directories "$build/CMakeFiles" -j "$(nproc)")
gcovr "${common[@]}" --txt - --html-details "$build/html/index.html" --print-summary
# Each call of a function that may throw adds an edge gcov counts as a
# branch. Nothing in the library throws, so no run takes those edges; the
# second figure leaves them out and counts only the code's own decisions.
# gcovr deletes a file it is told to write to before it writes it, so no
# output goes to /dev/null: the table goes to standard output and is dropped.
echo "without the compiler's exception edges:"
gcovr "${common[@]}" --exclude-throw-branches --exclude-unreachable-branches --print-summary | grep '^branches:'

if ((testsPassed != 0)); then
  echo "coverage: the suite failed; the figures above miss what the failing tests did not reach" >&2
  exit 1
fi
