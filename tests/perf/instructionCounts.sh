#!/usr/bin/env bash
# Instructions executed inside libViDazoHx.so itself (the stand-ins, libc and
# the driver excluded) per forwarded register read and per region cycle,
# counted with callgrind and checked against a committed baseline.
#
#   instructionCounts.sh [--update] [driver [baseline]]
#
# The driver (vidazohx_perf_driver) runs each case N and 2N times; the
# difference divided by N is the count per call, so load, open and close
# drop out. Counts do not depend on the machine's load, only on the code and
# the compiler: the baseline belongs to the default preset's build.
#
# Fails when a count grew by more than 10 % or by more than 3 instructions,
# whichever is larger. --update writes the measured counts as the new
# baseline; a change that moves a count on purpose commits it and says why.
#
# Also fails when a finite timeout costs more than the infinite path plus its
# two clock reads: cycle-finite minus cycle-infinite is bounded absolutely
# (finiteExtraBound), not against the baseline, because a stopwatch that
# grows work of its own is a fault however it got there. Time cannot check
# this on a shared machine; instruction counts can.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
update=0
if [[ ${1:-} == --update ]]; then
  update=1
  shift
fi
driver=${1:-$here/../../build/default/bin/vidazohx_perf_driver}
baseline=${2:-$here/instructionCounts.baseline}
iterations=2000
cases=(read32 cycle-0 cycle-finite cycle-infinite)
finiteExtraBound=60

[[ -x $driver ]] || { echo "no driver at $driver (build the default preset)" >&2; exit 2; }
command -v valgrind >/dev/null || { echo "valgrind is not installed (scripts/install-deps.sh)" >&2; exit 2; }
export LD_LIBRARY_PATH="$(cd "$(dirname "$driver")/../lib" && pwd)${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export LD_BIND_NOW=1  # symbol binding happens at load, outside the measured difference

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# libraryInstructions <case> <iterations>: self cost (Ir) of every function
# in the object libViDazoHx.so. A cost line right after "calls=" is the
# inclusive cost of a call made from there, which belongs to the callee.
libraryInstructions() {
  local out=$work/callgrind.$1.$2
  valgrind --tool=callgrind --callgrind-out-file="$out" --compress-strings=no --compress-pos=no \
    "$driver" "$1" "$2" >"$work/log" 2>&1 || { cat "$work/log" >&2; return 1; }
  awk '
    /^ob=/    { inLibrary = ($0 ~ /\/libViDazoHx\.so[^\/]*$/); next }
    /^calls=/ { skipNext = 1; next }
    /^[0-9+*-]/ {
      if (skipNext) { skipNext = 0; next }
      if (inLibrary) total += $2
      next
    }
    END { printf "%d\n", total }' "$out"
}

declare -A measured
for c in "${cases[@]}"; do
  once=$(libraryInstructions "$c" "$iterations")
  twice=$(libraryInstructions "$c" $((2 * iterations)))
  measured[$c]=$(awk -v a="$once" -v b="$twice" -v n="$iterations" 'BEGIN { printf "%.0f", (b - a) / n }')
done

if ((update)); then
  {
    echo "# Instructions executed inside libViDazoHx.so per call (callgrind, default preset)."
    echo "# Regenerate with tests/perf/instructionCounts.sh --update; say in the commit why counts moved."
    for c in "${cases[@]}"; do echo "$c ${measured[$c]}"; done
  } >"$baseline"
  echo "baseline written to $baseline"
  for c in "${cases[@]}"; do echo "  $c ${measured[$c]}"; done
  exit 0
fi

[[ -r $baseline ]] || { echo "no baseline at $baseline (run with --update)" >&2; exit 2; }
failed=0
for c in "${cases[@]}"; do
  expected=$(awk -v c="$c" '$1 == c { print $2 }' "$baseline")
  if [[ -z $expected ]]; then
    echo "FAIL $c: no baseline entry (run with --update)"
    failed=1
    continue
  fi
  verdict=$(awk -v m="${measured[$c]}" -v b="$expected" 'BEGIN {
    allowed = b * 0.10; if (allowed < 3) allowed = 3
    print (m - b > allowed) ? "FAIL" : "ok" }')
  echo "$verdict $c: ${measured[$c]} instructions per call (baseline $expected)"
  [[ $verdict == ok ]] || failed=1
done

extra=$((${measured[cycle-finite]} - ${measured[cycle-infinite]}))
verdict=ok
((extra <= finiteExtraBound)) || { verdict=FAIL; failed=1; }
echo "$verdict cycle-finite minus cycle-infinite: $extra instructions (at most $finiteExtraBound)"
exit $failed
