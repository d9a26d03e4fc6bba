#!/usr/bin/env bash
# Builds the release preset, runs every benchmark and writes the performance
# report: docs/performance.md and docs/streaming.png, and the summary table
# in docs/development.md.
#
#   scripts/bench-report.sh           full run (under five minutes), writes docs/
#   scripts/bench-report.sh --quick   checks that every benchmark and the report
#                                     run (well under a minute); writes to
#                                     build/release/bench-report only
#   scripts/bench-report.sh --again   rewrites the full report from the last
#                                     full run's results, without running anything
#
# A run is several repetitions, each one run of every program in turn, so
# that load from elsewhere spreads over all the figures rather than landing
# on one benchmark's repetitions; the report takes every ratio within a
# repetition and gives its median and spread over them. The real-time
# figures (bench_realtime: tail latencies, single slow events) come from one
# run after the repetitions.
set -euo pipefail

cd "$(dirname "$0")/.."
quick=0
again=0
case "${1:-}" in
  --quick) quick=1 ;;
  --again) again=1 ;;
  "") ;;
  *) echo "usage: $0 [--quick | --again]" >&2; exit 2 ;;
esac

programs=(bench_locks bench_forwarding bench_regions bench_streaming)
work=build/release/bench-report
json="${work}/json-full"  # kept for --again
((quick)) && json="${work}/json-quick"

# gnuplot draws the plot; install it when missing, as install-deps.sh would.
if ! command -v gnuplot >/dev/null; then
  sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends gnuplot-nox </dev/null
fi

if ((!again)); then
  cmake --preset release >/dev/null
  cmake --build --preset release --target "${programs[@]}" bench_realtime
fi

if ((quick)); then
  # Just long enough for every benchmark to run its set-up and a few
  # iterations, twice, so that the report's medians and spreads are exercised.
  repetitions=2
  options=(--benchmark_min_time=0.002)
  out="${work}"
else
  # Five repetitions: the median then sets aside up to two that a burst of
  # load hit. 100 ms of CPU time per benchmark and repetition is a few hundred
  # iterations even of the 4 MiB chunks; the streaming benchmarks' wall time
  # is several times their CPU time (the device thread works while the host
  # waits), so this keeps the whole run within a few minutes on a loaded
  # two-core machine.
  repetitions=5
  options=(--benchmark_min_time=0.1)
  out=docs
fi

if ((!again)); then
  rm -rf "${json}"
  mkdir -p "${json}" "${out}"
  export LD_LIBRARY_PATH="${PWD}/build/release/lib${LD_LIBRARY_PATH:+:${LD_LIBRARY_PATH}}"
  start=${SECONDS}
  for ((rep = 1; rep <= repetitions; ++rep)); do
    mkdir -p "${json}/rep-${rep}"
    for program in "${programs[@]}"; do
      echo "bench-report: repetition ${rep} of ${repetitions}: ${program}"
      "build/release/bin/${program}" "${options[@]}" --benchmark_format=console \
        --benchmark_out="${json}/rep-${rep}/${program}.json" --benchmark_out_format=json
    done
  done
  echo "bench-report: real-time figures (bench_realtime)"
  realtime=()
  ((quick)) && realtime=(--quick)  # fewer samples, each slow figure once
  "build/release/bin/bench_realtime" "${realtime[@]}" "${json}/realtime.json" >/dev/null
  source=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
  [[ -n $(git status --porcelain --untracked-files=no 2>/dev/null) ]] && source+=" with changes not yet committed"
  echo "\`${source}\`" >"${json}/realtime.source"
  echo $((SECONDS - start)) >"${json}/elapsed"
fi

summary=$(python3 scripts/bench-report.py "${json}" "${out}")
(cd "${out}" && gnuplot streaming.gp && rm -f streaming.gp streaming.dat)

if ((!quick)); then
  # The development guide shows the goals table between its two markers.
  python3 - "${summary}" <<'PY'
import pathlib, sys
readme = pathlib.Path("docs/development.md")
text = readme.read_text()
start, end = "<!-- bench-summary:start -->", "<!-- bench-summary:end -->"
head, rest = text.split(start, 1)
_, tail = rest.split(end, 1)
readme.write_text(f"{head}{start}\n{sys.argv[1]}\n{end}{tail}")
PY
fi
echo "bench-report: wrote ${out}/performance.md and ${out}/streaming.png"
