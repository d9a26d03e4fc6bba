#!/usr/bin/env python3
"""Turns the benchmark programs' JSON output into the performance report.

    bench-report.py JSON_DIR OUT_DIR

Reads bench_*.json from JSON_DIR and writes OUT_DIR/performance.md, plus
streaming.dat and streaming.gp for gnuplot (bench-report.sh runs it to make
streaming.png). Every figure is set against an anchor measured in the same
run; CPU times are the benchmark thread's own. Prints the summary table, which
bench-report.sh copies into README.md.
"""
import json
import pathlib
import sys

SIZES = [4 << 10, 16 << 10, 64 << 10, 256 << 10, 1 << 20, 4 << 20]
PATHS = ["Region", "Limit", "Copy", "Memcpy"]
TIMEOUTS = [("0", "0"), ("finite (1 s)", "1000"), ("infinite", "4294967295")]


def load(json_dir):
    """Returns (context, {name: run}) with the median of repeated runs, or the single run."""
    runs, context = {}, {}
    for path in sorted(pathlib.Path(json_dir).glob("bench_*.json")):
        data = json.loads(path.read_text())
        context = context or data.get("context", {})
        for run in data["benchmarks"]:
            if run.get("error_occurred"):
                raise SystemExit(f"bench-report: {run['name']} failed: {run.get('error_message')}")
            name = run.get("run_name", run["name"])
            if run.get("run_type") == "aggregate":
                if run.get("aggregate_name") == "median":
                    runs[name] = run
            elif name not in runs or runs[name].get("run_type") != "aggregate":
                runs[name] = run
    return context, runs


def ns(run, key):
    """A run's time in nanoseconds."""
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
    return run[key] * scale


class Report:
    def __init__(self, context, runs):
        self.context, self.runs = context, runs
        self.goals = []  # (goal, measured, met)

    def run(self, name):
        if name not in self.runs:
            raise SystemExit(f"bench-report: no result for {name}")
        return self.runs[name]

    def cpu(self, name):
        return ns(self.run(name), "cpu_time")

    def wall(self, name):
        return ns(self.run(name), "real_time")

    def goal(self, text, ratio, bound, unit="×", at_most=False):
        met = ratio <= bound if at_most else ratio >= bound
        self.goals.append((text, f"{ratio:.2f}{unit}", met))
        return met

    # ---- streaming -------------------------------------------------------------
    def streaming_rows(self, direction):
        rows = []
        for size in SIZES:
            cpu = {p: self.cpu(f"{direction}{p}/{size}") / size * 1000 for p in PATHS}  # ps per byte
            wall = {p: size / self.wall(f"{direction}{p}/{size}") for p in PATHS}  # GB/s
            rows.append((size, cpu, wall))
        return rows

    def streaming_section(self, direction, title):
        rows = self.streaming_rows(direction)
        out = [f"### {title}", "",
               "Host CPU time per byte in picoseconds (lower is better), wall throughput in GB/s, and the "
               "ratios by CPU time (anchor ÷ region: above 1 means the region path costs the host less).", "",
               "| Size | Region ps/B | Limit ps/B | Copy ps/B | memcpy ps/B | Region GB/s | Limit GB/s | Copy GB/s "
               "| vs limit | vs copy |",
               "|---|---|---|---|---|---|---|---|---|---|"]
        for size, cpu, wall in rows:
            out.append(f"| {label(size)} | {cpu['Region']:.1f} | {cpu['Limit']:.1f} | {cpu['Copy']:.1f} "
                       f"| {cpu['Memcpy']:.1f} | {wall['Region']:.2f} | {wall['Limit']:.2f} | {wall['Copy']:.2f} "
                       f"| {cpu['Limit'] / cpu['Region']:.2f}× | {cpu['Copy'] / cpu['Region']:.2f}× |")
        by_size = {size: cpu for size, cpu, _ in rows}
        name = title.split()[0]
        self.goal(f"{name} through regions ≥ 0.93× the limit path at 64 KiB",
                  by_size[64 << 10]["Limit"] / by_size[64 << 10]["Region"], 0.93)
        worst = min(by_size[s]["Limit"] / by_size[s]["Region"] for s in SIZES if s >= 256 << 10)
        self.goal(f"{name} through regions ≥ 0.97× the limit path from 256 KiB up (worst size)", worst, 0.97)
        self.goal(f"{name} through regions ≥ 1.0× the copy path at 4 KiB",
                  by_size[4 << 10]["Copy"] / by_size[4 << 10]["Region"], 1.0)
        worst = min(by_size[s]["Copy"] / by_size[s]["Region"] for s in SIZES if s >= 64 << 10)
        self.goal(f"{name} through regions ≥ 1.5× the copy path from 64 KiB up (worst size)", worst, 1.5)
        return out + [""], rows

    # ---- scaling, cycle, forwarding, locks ----------------------------------
    def scaling_section(self):
        out = ["### Scaling", "",
               "Region cycles per second (wall time), two threads each on a FIFO of its own against one thread; "
               "the FIFOs generate on demand. The wall ratio is the goal's figure; it needs two cores free, which a "
               "loaded machine does not give. The CPU ratio, 2 × (CPU time per cycle with one thread ÷ with two), "
               "estimates what two free cores would give: it falls below 2 mostly through contention (shared locks and "
               "cache lines) rather than through the load.", "",
               "| FIFOs | 1 thread | 2 threads | Wall ratio | CPU per cycle, 1 / 2 threads | CPU ratio |",
               "|---|---|---|---|---|---|"]
        for arg, text, bound in (("0", "in two sessions", 1.7), ("1", "in one session", 1.5)):
            single = self.run(f"scalingCycles/oneSession:{arg}/real_time/threads:1")
            double = self.run(f"scalingCycles/oneSession:{arg}/real_time/threads:2")
            one, two = single["items_per_second"], double["items_per_second"]
            cpu_one, cpu_two = ns(single, "cpu_time"), ns(double, "cpu_time")
            out.append(f"| {text} | {one / 1e3:.0f} k/s | {two / 1e3:.0f} k/s | {two / one:.2f}× "
                       f"| {cpu_one:.0f} / {cpu_two:.0f} ns | {2 * cpu_one / cpu_two:.2f}× |")
            self.goal(f"Scaling: 2 threads on 2 FIFOs {text} ≥ {bound}× one thread (wall)", two / one, bound)
            self.goals.append((f"Scaling {text}, CPU ratio (what two free cores would give; not the goal's figure)",
                               f"{2 * cpu_one / cpu_two:.2f}×", None))
        return out + [""]

    def cycle_section(self):
        pair = self.cpu("piMutexPair")
        host = self.cpu("cycleHostShare")
        out = ["### The region cycle", "",
               "CPU time of one acquire + dispose of a 16-element region. The library's own cost is the cycle "
               "through the library minus the lower library's acquire + release called directly minus the host "
               f"stand-in's share ({host:.0f} ns), counted in PI-mutex lock+unlock pairs ({pair:.1f} ns each).", "",
               "| Timeout | Library | Lower directly | Own cost | In mutex pairs |", "|---|---|---|---|---|"]
        for text, arg in TIMEOUTS:
            library = self.cpu(f"cycleThroughLibrary/{arg}")
            lower = self.cpu(f"cycleLowerDirectly/{arg}")
            own = library - lower - host
            out.append(f"| {text} | {library:.0f} ns | {lower:.0f} ns | {own:.0f} ns | {own / pair:.1f} |")
            self.goal(f"Library's own cost per region cycle, timeout {text}: ≤ 8 mutex pairs", own / pair, 8,
                      unit=" pairs", at_most=True)
        return out + [""]

    def forwarding_section(self):
        out = ["### Forwarding and locks", "",
               "| Figure | Measured | Anchor | Ratio / difference |", "|---|---|---|---|"]
        for count in (1, 64, 4096):
            library = self.cpu(f"readThroughLibrary/{count}")
            lower = self.cpu(f"readLowerDirectly/{count}")
            out.append(f"| Scalar FIFO read of {count} through the library | {library:.0f} ns | lower library "
                       f"directly {lower:.0f} ns | +{library - lower:.0f} ns |")
        shared = self.cpu("BM_SharedExclusiveLock_Shared/threads:1")
        atomic = self.cpu("BM_AtomicPair/threads:1")
        out.append(f"| Shared lock acquire + release | {shared:.1f} ns | atomic pair {atomic:.1f} ns "
                   f"| {shared / atomic:.2f}× |")
        mutex = self.cpu("BM_tMutex_LockUnlock")
        raw = self.cpu("BM_RawPiRecursiveMutex_LockUnlock")
        out.append(f"| Platform mutex lock + unlock | {mutex:.1f} ns | raw PI recursive mutex {raw:.1f} ns "
                   f"| {mutex / raw:.2f}× |")
        added = self.cpu("readThroughLibrary/1") - self.cpu("readLowerDirectly/1")
        counts = instruction_baseline()
        text = "Forwarding: at most 12 instructions inside the library per call (`ViDazoHx_Read32`)"
        if "read32" in counts:
            self.goals.append((text, f"{counts['read32']} instructions (committed callgrind baseline); "
                               f"a scalar FIFO read adds {added:.0f} ns", counts["read32"] <= 12))
        else:
            self.goals.append((text, f"no instruction-count baseline; a scalar FIFO read adds {added:.0f} ns", None))
        return out + [""]


def instruction_baseline():
    """Counts from the instruction-count check's committed baseline, if there is one."""
    path = pathlib.Path("tests/perf/instructionCounts.baseline")
    counts = {}
    if path.exists():
        for line in path.read_text().splitlines():
            fields = line.split()
            if len(fields) == 2 and not line.startswith("#"):
                counts[fields[0]] = int(fields[1])
    return counts


def label(size):
    return f"{size >> 20} MiB" if size >= 1 << 20 else f"{size >> 10} KiB"


def machine(context):
    caches = ", ".join(f"L{c['level']} {c['type'].lower()} {c['size'] >> 10} KiB" for c in context.get("caches", []))
    load = ", ".join(f"{x:.2f}" for x in context.get("load_avg", []))
    return ["## Machine", "",
            f"- {cpu_model()}: {context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz"
            + (f"; caches: {caches}" if caches else ""),
            f"- load average when the run started: {load} (the machine is shared, so wall times and the "
            "two-thread figures vary with what else runs; CPU times much less)",
            f"- run {context.get('date', '?')}, library build type {context.get('library_build_type', '?')} "
            "(of Google Benchmark itself; the code measured is built with the `release` preset)", ""]


def cpu_model():
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "CPU"


def gnuplot_files(out_dir, read_rows, write_rows):
    with open(out_dir / "streaming.dat", "w") as dat:
        for rows in (read_rows, write_rows):
            dat.write("# size_kib region_ps limit_ps copy_ps region_gbs limit_gbs copy_gbs\n")
            for size, cpu, wall in rows:
                dat.write(f"{size >> 10} {cpu['Region']:.3f} {cpu['Limit']:.3f} {cpu['Copy']:.3f} "
                          f"{wall['Region']:.3f} {wall['Limit']:.3f} {wall['Copy']:.3f}\n")
            dat.write("\n\n")
    panels = []
    for index, direction in ((0, "Reads"), (1, "Writes")):
        panels.append(f"set title '{direction}: host CPU time per byte'; set ylabel 'ps per byte (log)'; set logscale y; "
                      f"plot for [c=2:4] 'streaming.dat' index {index} using 1:c with linespoints "
                      "title columnhead(c) ls (c-1)")
    for index, direction in ((0, "Reads"), (1, "Writes")):
        panels.append(f"set title '{direction}: wall throughput'; set ylabel 'GB/s'; unset logscale y; "
                      f"plot for [c=5:7] 'streaming.dat' index {index} using 1:c with linespoints "
                      "title columnhead(c) ls (c-4)")
    script = "\n".join([
        "set terminal pngcairo size 1200,800 font ',10'",
        "set output 'streaming.png'",
        "set logscale x 2; set xlabel 'region size (KiB)'; set grid",
        "set style line 1 lw 2 pt 7 lc rgb '#1f77b4'",
        "set style line 2 lw 2 pt 5 lc rgb '#2ca02c'",
        "set style line 3 lw 2 pt 9 lc rgb '#d62728'",
        "set multiplot layout 2,2 title 'Streaming through FIFO regions against the limit path and the copy path'",
        *panels,
        "unset multiplot", ""])
    # Column titles the plot shows.
    script = script.replace("title columnhead(c)", "title word('- region limit copy region limit copy', c)")
    (out_dir / "streaming.gp").write_text(script)


def main():
    json_dir, out_dir = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    context, runs = load(json_dir)
    report = Report(context, runs)
    reads, read_rows = report.streaming_section("read", "Reads through regions")
    writes, write_rows = report.streaming_section("write", "Writes through regions")
    body = reads + writes + report.scaling_section() + report.cycle_section() + report.forwarding_section()
    summary = ["| Goal | Measured | Met |", "|---|---|---|"]
    for text, measured, met in report.goals:
        mark = "n/a" if met is None else ("met" if met else "**missed**")
        summary.append(f"| {text} | {measured} | {mark} |")
    doc = ["# Performance", "",
           "Generated by `scripts/bench-report.sh` from one run of the benchmarks in `bench/` (release preset, "
           "journals off). Each figure stands beside its anchor from the same run; times are the median of the "
           "repetitions. Streaming uses the simulated target in device mode: a thread of its own fills or drains "
           "the FIFO, so the benchmark thread's CPU time is the host's work alone.", "",
           *machine(context), "## Goals", "", *summary, "", "![Streaming](streaming.png)", "", "## Figures", "",
           *body]
    out_dir.mkdir(parents=True, exist_ok=True)
    (out_dir / "performance.md").write_text("\n".join(doc))
    gnuplot_files(out_dir, read_rows, write_rows)
    print("\n".join(summary))


if __name__ == "__main__":
    main()
