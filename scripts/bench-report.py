#!/usr/bin/env python3
"""Turns the benchmark programs' JSON output into the performance report.

    bench-report.py JSON_DIR OUT_DIR
    bench-report.py --realtime FILE   prints the real-time section of one bench_realtime JSON

JSON_DIR holds one directory per repetition (rep-1, rep-2, ...), each with the
bench_*.json of one run of every program, and realtime.json from one run of
bench_realtime (the real-time figures, kept as information). Writes OUT_DIR/performance.md, plus
streaming.dat and streaming.gp for gnuplot (bench-report.sh runs it to make
streaming.png). Every figure is set against an anchor measured in the same
repetition, and every ratio is taken within a repetition before the median
over repetitions: load that hits one repetition hits both sides of its
ratios. CPU times are the benchmark thread's own. Prints the summary tables,
which bench-report.sh copies into docs/development.md.
"""
import json
import pathlib
import re
import statistics
import sys

SIZES = [4 << 10, 16 << 10, 64 << 10, 256 << 10, 1 << 20, 4 << 20]
PATHS = ["Region", "Limit", "Copy", "Memcpy"]
TIMEOUTS = [("0", "0"), ("finite (1 s)", "1000"), ("infinite", "4294967295")]
# A spread wider than this share of its median is called out under the table.
WIDE_SPREAD = 0.10
FORWARDING_INSTRUCTIONS = 12


def ns(run, key):
    """A run's time in nanoseconds."""
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[run.get("time_unit", "ns")]
    return run[key] * scale


class Repetition:
    """One run of every program: {benchmark name: run}, plus each program's context."""

    def __init__(self, directory):
        self.runs, self.contexts = {}, []
        for path in sorted(directory.glob("bench_*.json")):
            data = json.loads(path.read_text())
            self.contexts.append(data.get("context", {}))
            for run in data["benchmarks"]:
                if run.get("error_occurred"):
                    raise SystemExit(f"bench-report: {run['name']} failed: {run.get('error_message')}")
                self.runs[run.get("run_name", run["name"])] = run

    def run(self, name):
        if name not in self.runs:
            raise SystemExit(f"bench-report: no result for {name}")
        return self.runs[name]

    def cpu(self, name):
        return ns(self.run(name), "cpu_time")

    def wall(self, name):
        return ns(self.run(name), "real_time")


class Spread:
    """A figure's value in every repetition: its median, minimum and maximum."""

    def __init__(self, values):
        self.values = list(values)
        self.median = statistics.median(self.values)
        self.low, self.high = min(self.values), max(self.values)

    def wide(self):
        return self.high - self.low > WIDE_SPREAD * abs(self.median)

    def range(self, digits=3, unit=""):
        dash = " to " if self.low < 0 else "–"  # "-32–43" would read as a range from minus 32 to minus 43
        return f"{self.low:.{digits}f}{dash}{self.high:.{digits}f}{unit}"

    def cell(self, digits=3, unit=""):
        return f"{self.median:.{digits}f}{unit} ({self.range(digits)})"

    def explain(self):
        """Each repetition's value, and whether a few stand apart or the whole figure moved."""
        near = [v for v in self.values if abs(v - self.median) <= WIDE_SPREAD / 2 * abs(self.median)]
        values = ", ".join(f"{v:.3f}" for v in self.values)
        if len(near) > len(self.values) / 2:
            return (f"{values} | {len(self.values) - len(near)} of {len(self.values)} stand apart: a burst of load "
                    "hit them; the median sets them aside")
        return f"{values} | no majority within {WIDE_SPREAD / 2:.0%}: the figure moved with the load throughout"


def decimals_to_show(value, bound, digits):
    """Digits enough that neither the value nor its margin rounds onto the bound."""
    while digits < 8 and value != bound and (round(value, digits) == round(bound, digits)
                                             or round(abs(value - bound), digits) == 0):
        digits += 1
    return digits


def judge(value, bound, at_most, digits, unit=""):
    """(met, text): met is decided on the unrounded value, the text shows the margin."""
    met = value <= bound if at_most else value >= bound
    digits = decimals_to_show(value, bound, digits)
    margin = f"{'met' if met else 'missed'} by {abs(value - bound):.{digits}f}"
    return met, f"{value:.{digits}f}{unit} ({margin})"


class Report:
    def __init__(self, repetitions):
        self.reps = repetitions
        self.goals = []        # (goal, measured, spread, met)
        self.information = []  # (figure, median with its spread); the summary says why no goal
        self.notes = []        # wide spreads, each explained under its table

    def context(self, key):
        return str(self.reps[0].contexts[0].get(key, "?"))

    def load(self):
        """The one-minute load average as each program started, lowest to highest."""
        loads = [c["load_avg"][0] for rep in self.reps for c in rep.contexts if c.get("load_avg")]
        return f"{min(loads):.2f} to {max(loads):.2f}" if loads else "?"

    def spread(self, figure):
        """A figure computed within each repetition."""
        return Spread(figure(rep) for rep in self.reps)

    def goal(self, text, figure, bound, at_most=False, digits=4, unit="×", where=""):
        met, measured = judge(figure.median, bound, at_most, digits, unit)
        self.goals.append((text, measured + where, figure.range(digits, unit), met))

    # ---- streaming -------------------------------------------------------------
    def streaming_rows(self, direction):
        """Per size: CPU ps per byte, wall GB/s and the ratios, each a Spread."""
        rows = []
        for size in SIZES:
            name = {p: f"{direction}{p}/{size}" for p in PATHS}
            cpu = {p: self.spread(lambda r, p=p: r.cpu(name[p]) / size * 1000) for p in PATHS}
            wall = {p: self.spread(lambda r, p=p: size / r.wall(name[p])) for p in PATHS}
            # Anchor ÷ region within each repetition: above 1, the region path costs the host less.
            ratio = {p: self.spread(lambda r, p=p: r.cpu(name[p]) / r.cpu(name["Region"])) for p in ("Limit", "Copy")}
            rows.append((size, cpu, wall, ratio))
        return rows

    def streaming_section(self, direction, title):
        rows = self.streaming_rows(direction)
        out = [f"### {title}", "",
               "Host CPU time per byte in picoseconds (lower is better) and wall throughput in GB/s, medians over "
               "the repetitions; then the ratios by CPU time (anchor ÷ region, taken within each repetition: above 1 "
               "means the region path costs the host less), as median (minimum–maximum).", "",
               "| Size | Region ps/B | Limit ps/B | Copy ps/B | memcpy ps/B | Region GB/s | Limit GB/s | Copy GB/s "
               "| vs limit | vs copy |",
               "|---|---|---|---|---|---|---|---|---|---|"]
        for size, cpu, wall, ratio in rows:
            out.append(f"| {label(size)} | {cpu['Region'].median:.1f} | {cpu['Limit'].median:.1f} "
                       f"| {cpu['Copy'].median:.1f} | {cpu['Memcpy'].median:.1f} | {wall['Region'].median:.2f} "
                       f"| {wall['Limit'].median:.2f} | {wall['Copy'].median:.2f} "
                       f"| {ratio['Limit'].cell()} | {ratio['Copy'].cell()} |")
            for anchor in ("Limit", "Copy"):
                if ratio[anchor].wide():
                    self.notes.append(f"| {title.split()[0]} against the {anchor.lower()} path | {label(size)} "
                                      f"| {ratio[anchor].explain()} |")
        name = title.split()[0]
        limit = {size: ratio["Limit"] for size, _, _, ratio in rows}
        self.goal(f"{name} through regions ≥ 0.93× the limit path at 64 KiB", limit[64 << 10], 0.93)
        worst = min((s for s in SIZES if s >= 256 << 10), key=lambda s: limit[s].median)
        self.goal(f"{name} through regions ≥ 0.97× the limit path from 256 KiB up (the worst size's median)",
                  limit[worst], 0.97, where=f" at {label(worst)}")
        copy = {size: ratio["Copy"] for size, _, _, ratio in rows}
        self.information.append((f"{name} through regions against the copy path at 4 KiB", copy[4 << 10].cell(4, "×")))
        worst = min((s for s in SIZES if s >= 64 << 10), key=lambda s: copy[s].median)
        self.information.append((f"{name} through regions against the copy path from 64 KiB up (the worst size)",
                                 f"{copy[worst].cell(4, '×')} at {label(worst)}"))
        return out + [""], rows

    # ---- scaling, cycle, forwarding, locks ----------------------------------
    def scaling_section(self):
        out = ["### Scaling", "",
               "Region cycles per second (wall time), two threads each on a FIFO of its own against one thread; "
               "the FIFOs generate on demand. The wall ratio needs two cores free, which a loaded machine does not "
               "give. The CPU ratio, 2 × (CPU time per cycle with one thread ÷ with two), estimates what two free "
               "cores would give: it falls below 2 through contention rather than through the load. Even in two "
               "sessions the threads share a line they both write on every cycle: each acquisition holds the "
               "process-wide registry lock shared, and that lock counts its shared holders in one counter, whose "
               "cache line passes between the cores on each acquire and release. In one session they also share "
               "the session's lock, counted the same way. Medians (minimum–maximum) over the repetitions.", "",
               "| FIFOs | 1 thread | 2 threads | Wall ratio | CPU per cycle, 1 / 2 threads | CPU ratio |",
               "|---|---|---|---|---|---|"]
        for arg, text in (("0", "in two sessions"), ("1", "in one session")):
            single, double = (f"scalingCycles/oneSession:{arg}/real_time/threads:{n}" for n in (1, 2))
            one = self.spread(lambda r: r.run(single)["items_per_second"] / 1e3)
            two = self.spread(lambda r: r.run(double)["items_per_second"] / 1e3)
            wall = self.spread(lambda r: r.run(double)["items_per_second"] / r.run(single)["items_per_second"])
            cpu_one = self.spread(lambda r: r.cpu(single))
            cpu_two = self.spread(lambda r: r.cpu(double))
            cpu = self.spread(lambda r: 2 * r.cpu(single) / r.cpu(double))
            out.append(f"| {text} | {one.median:.0f} k/s | {two.median:.0f} k/s | {wall.cell(2, '×')} "
                       f"| {cpu_one.median:.0f} / {cpu_two.median:.0f} ns | {cpu.cell(2, '×')} |")
            self.information.append((f"Scaling: 2 threads on 2 FIFOs {text} against one thread, wall "
                                     f"(CPU ratio {cpu.median:.2f}×)", wall.cell(2, "×")))
        return out + [""]

    def cycle_section(self):
        pair = self.spread(lambda r: r.cpu("piMutexPair"))
        host = self.spread(lambda r: r.cpu("cycleHostShare"))
        out = ["### The region cycle", "",
               "CPU time of one acquire + dispose of a 16-element region. The library's own cost is the cycle "
               "through the library minus the lower library's acquire + release called directly minus the host "
               f"stand-in's share ({host.median:.0f} ns), counted in PI-mutex lock+unlock pairs "
               f"({pair.median:.1f} ns each), all within each repetition. The finite timeout is judged by "
               "instruction count instead (see the goals): two clock reads are too small a cost to tell from "
               "load by time.", "",
               "| Timeout | Library | Lower directly | Own cost | In mutex pairs, median (min–max) |",
               "|---|---|---|---|---|"]
        for text, arg in TIMEOUTS:
            library, lower = f"cycleThroughLibrary/{arg}", f"cycleLowerDirectly/{arg}"

            def own(r):
                return r.cpu(library) - r.cpu(lower) - r.cpu("cycleHostShare")

            pairs = self.spread(lambda r: own(r) / r.cpu("piMutexPair"))
            out.append(f"| {text} | {self.spread(lambda r: r.cpu(library)).median:.0f} ns "
                       f"| {self.spread(lambda r: r.cpu(lower)).median:.0f} ns | {self.spread(own).median:.0f} ns "
                       f"| {pairs.cell(2)} |")
            if arg == "1000":
                self.information.append((f"Library's own cost per region cycle, timeout {text}, by time "
                                         "(judged by instruction count)", pairs.cell(2, " pairs")))
            else:
                self.goal(f"Library's own cost per region cycle, timeout {text}: ≤ 7 mutex pairs", pairs, 7,
                          at_most=True, digits=2, unit=" pairs")
        counts, bound = instruction_baseline(), finite_extra_bound()
        if "cycle-finite" in counts and "cycle-infinite" in counts:
            extra = counts["cycle-finite"] - counts["cycle-infinite"]
            self.goals.append((f"A finite timeout costs the infinite path plus its clock reads: cycle-finite − "
                               f"cycle-infinite ≤ {bound} instructions",
                               f"{extra} instructions ({counts['cycle-finite']} − {counts['cycle-infinite']}, "
                               "committed callgrind baseline)", "exact; `ctest -L perf` enforces it",
                               extra <= bound))
        return out + [""]

    def forwarding_section(self):
        out = ["### Forwarding and locks", "",
               "| Figure | Measured | Anchor | Ratio / difference |", "|---|---|---|---|"]
        for count in (1, 64, 4096):
            library = self.spread(lambda r: r.cpu(f"readThroughLibrary/{count}"))
            lower = self.spread(lambda r: r.cpu(f"readLowerDirectly/{count}"))
            added = self.spread(lambda r: r.cpu(f"readThroughLibrary/{count}") - r.cpu(f"readLowerDirectly/{count}"))
            out.append(f"| Scalar FIFO read of {count} through the library | {library.median:.0f} ns | lower library "
                       f"directly {lower.median:.0f} ns | {added.median:+.0f} ns ({added.range(0)}) |")
        for text, measured, anchor_text, anchor in (
                ("Shared lock acquire + release", "BM_SharedExclusiveLock_Shared/threads:1", "atomic pair",
                 "BM_AtomicPair/threads:1"),
                ("Platform mutex lock + unlock", "BM_tMutex_LockUnlock", "raw PI recursive mutex",
                 "BM_RawPiRecursiveMutex_LockUnlock")):
            value = self.spread(lambda r: r.cpu(measured))
            base = self.spread(lambda r: r.cpu(anchor))
            ratio = self.spread(lambda r: r.cpu(measured) / r.cpu(anchor))
            out.append(f"| {text} | {value.median:.1f} ns | {anchor_text} {base.median:.1f} ns "
                       f"| {ratio.cell(2, '×')} |")
        counts = instruction_baseline()
        text = f"Forwarding: at most {FORWARDING_INSTRUCTIONS} instructions inside the library per call (`ViDazoHx_Read32`)"
        if "read32" in counts:
            self.goals.append((text, f"{counts['read32']} instructions (committed callgrind baseline)", "exact",
                               counts["read32"] <= FORWARDING_INSTRUCTIONS))
        else:
            self.goals.append((text, "no instruction-count baseline", "", None))
        return out + [""]

    def summary(self):
        count = len(self.reps)
        goals = [f"{count} repetitions, run {self.context('date')[:10]} with the machine's load (one-minute "
                 f"average) at {self.load()} on {self.context('num_cpus')} CPUs. Goals are judged on the median, "
                 "unrounded; the margin says by how much.", "",
                 f"| Goal | Measured: median of {count} | Spread: min–max | Met |", "|---|---|---|---|"]
        for text, measured, spread, met in self.goals:
            mark = "n/a" if met is None else ("met" if met else "**missed**")
            goals.append(f"| {text} | {measured} | {spread} | {mark} |")
        info = ["", "Information, without a goal: the copy path's costs are the lower stand-in's copy between ring "
                "and host array and the host stand-in's array handling, not this library's; scaling is bounded by "
                "the registry lock's shared counter, which every acquisition writes (docs/performance.md, Scaling).", "",
                f"| Figure | Median (min–max of {count}) |", "|---|---|"]
        info += [f"| {text} | {measured} |" for text, measured in self.information]
        return goals + info


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


def finite_extra_bound():
    """The bound the instruction-count check enforces, so that the two cannot disagree."""
    script = pathlib.Path("tests/perf/instructionCounts.sh").read_text()
    return int(re.search(r"^finiteExtraBound=(\d+)$", script, re.M).group(1))


def label(size):
    return f"{size >> 20} MiB" if size >= 1 << 20 else f"{size >> 10} KiB"


def machine(report, elapsed):
    reps, context = report.reps, report.reps[0].contexts[0]
    caches = ", ".join(f"L{c['level']} {c['type'].lower()} {c['size'] >> 10} KiB" for c in context.get("caches", []))
    took = f", in {elapsed} s" if elapsed else ""
    return ["## Machine and method", "",
            f"- {cpu_model()}: {context.get('num_cpus', '?')} CPUs at {context.get('mhz_per_cpu', '?')} MHz"
            + (f"; caches: {caches}" if caches else ""),
            f"- run {context.get('date', '?')}{took}: {len(reps)} repetitions, each one run of every benchmark "
            "program in turn; within a program, the paths compared with each other run back to back",
            f"- load (one-minute average) as each program started: {report.load()}. The machine is shared, so wall times "
            "and the two-thread figures vary with what else runs; CPU times much less",
            "- every ratio is taken within one repetition, so that a burst of load falls on both of its sides; "
            "the report gives its median over the repetitions and its spread, the smallest and largest value "
            "seen. A goal is judged on the median; a wide spread means the repetitions disagreed, and the "
            "median then discounts up to half of them that a burst hit",
            "- the code measured (this library, the stand-ins and the benchmark programs) is built with the "
            "`release` preset. Google Benchmark, the library that times the benchmarks, reports its own build "
            f"type as {context.get('library_build_type', '?')} (and warns that timings may be affected): that is "
            "how the installed benchmark package was compiled. It touches only the timing library's work before "
            "and after each batch of iterations; the loop that is timed is compiled into the benchmark programs, "
            "with the `release` preset", ""]


def cpu_model():
    try:
        for line in pathlib.Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "CPU"


def notes_section(notes):
    if not notes:
        return []
    return ["### Wide spreads", "",
            f"Ratios whose repetitions spread over more than {WIDE_SPREAD:.0%} of their median, with each "
            "repetition's value in order and what the spread comes from. The paths of a ratio run back to back, "
            "but not at once, so a burst of load from elsewhere on the shared machine can still fall on one of "
            "them: when most repetitions agree, the few that stand apart are such bursts, and the median is "
            f"theirs. When no majority agrees within {WIDE_SPREAD / 2:.0%} of the median, the load changed "
            "throughout the run, and the median is the less certain. The copy path also varies more than the "
            "others by its nature: it copies whole chunks through the caches, so it moves with whatever else runs "
            "on the machine and evicts them.", "",
            "| Ratio | Size | Repetitions | Reading |", "|---|---|---|---|", *notes, ""]


def gnuplot_files(out_dir, read_rows, write_rows):
    with open(out_dir / "streaming.dat", "w") as dat:
        for rows in (read_rows, write_rows):
            dat.write("# size_kib, then median min max of: region_ps limit_ps copy_ps region_gbs limit_gbs copy_gbs\n")
            for size, cpu, wall, _ in rows:
                figures = [cpu[p] for p in PATHS[:3]] + [wall[p] for p in PATHS[:3]]
                dat.write(f"{size >> 10} " + " ".join(f"{f.median:.3f} {f.low:.3f} {f.high:.3f}" for f in figures)
                          + "\n")
            dat.write("\n\n")
    # Paths side by side around each size, so that their error bars do not
    # hide each other on the log size axis.
    plot = ("plot for [p=0:2] 'streaming.dat' index {index} using ($1*2**((p-1)*0.08)):(column({first}+3*p)):"
            "(column({first}+3*p+1)):(column({first}+3*p+2)) with yerrorlines ls (p+1) "
            "title word('region limit copy', p+1)")
    panels = []
    for first, what, unit in ((2, "host CPU time per byte", "ps per byte"), (11, "wall throughput", "GB/s")):
        for index, direction in ((0, "Reads"), (1, "Writes")):
            panels.append(f"set title '{direction}: {what}'; set ylabel '{unit}'; "
                          + plot.format(index=index, first=first))
    script = "\n".join([
        "set terminal pngcairo size 1200,860 font ',10'",
        "set output 'streaming.png'",
        "set logscale x 2; set xrange [3:5600]; set xlabel 'region size (KiB)'; set grid",
        "set yrange [0:*]",  # from zero: a cut axis makes small differences look large
        "set key outside right top vertical",  # outside the plot area, so it covers no line
        "set bars 2",
        "set style line 1 lw 2 pt 7 lc rgb '#1f77b4'",
        "set style line 2 lw 2 pt 5 lc rgb '#2ca02c'",
        "set style line 3 lw 2 pt 9 lc rgb '#d62728'",
        "set multiplot layout 2,2 title 'Streaming through FIFO regions against the limit path and the copy path "
        "(medians; bars from the smallest to the largest repetition)'",
        *panels,
        "unset multiplot", ""])
    (out_dir / "streaming.gp").write_text(script)


def microseconds(ns):
    """A duration in the unit that keeps it short."""
    if ns < 10_000:
        return f"{ns} ns"
    return f"{ns / 1000:.1f} µs" if ns < 1_000_000 else f"{ns / 1e6:.1f} ms"


def seconds(ns):
    return f"{ns / 1e9:.2f} s"


def spread_of(figure, unit=microseconds):
    """A figure's median and, over several samples, its range."""
    if not figure:
        return "not measured"
    if figure["samples"] == 1:
        return f"{unit(figure['p50'])} (one run)"
    return f"{unit(figure['p50'])} (largest {unit(figure['max'])}, {figure['samples']} runs)"


TIMEOUT_NAMES = {0: "0", 4294967295: "infinite"}


def timeout_name(timeout):
    return TIMEOUT_NAMES.get(timeout, f"{timeout} ms")


def realtime_section(path):
    """The real-time figures from bench_realtime's JSON, information without a goal."""
    if not path.exists():
        return []
    data = json.loads(path.read_text())
    m = data["machine"]
    # bench-report.sh notes the commit it measured beside the JSON.
    noted = path.with_suffix(".source")
    source = f", from the code of commit {noted.read_text().strip()}" if noted.exists() else ""
    where = (f"{m['cpu']}, {m['cpus']} CPUs, {m['arch']}, Linux {m['kernel']}"
             f"{', a virtual machine' if m.get('virtual') else ''}, load (one-minute average) {m['load']:.2f}")
    out = ["## Real-time figures", "",
           "Information, without goals: what an engineer deploying the library in a control loop asks first. "
           f"Taken by `bench_realtime` ({'`--quick`, ' if data['quick'] else ''}release preset, journals off) in "
           f"{data['elapsed_s']} s on {m.get('date', '?')}{source}, on: {where}.", "",
           "**This is not a figure for an ARM controller.** "
           + (f"It comes from a virtual {m['arch']} machine shared with other work, whose hypervisor and "
              "neighbours add latency a controller does not have"
              if m.get("virtual") else f"It comes from the {m['arch']} machine named above")
           + (", and whose clock is read without a system call. " if m["arch"] == "x86_64" else ". ")
           + "Where the kernel offers no vDSO clock, `clock_gettime` is a system call, and a region cycle "
           "with a finite timeout makes two of them: on 32-bit ARM that is a core without the generic timer, "
           "such as the Cortex-A9 of the ARM-kernel suite (`scripts/armhf-vm.sh`), on which a clock read is a "
           "`clock_gettime64` system call; its Cortex-A15 machine reads the clock without one. Take the figures on the target itself: "
           "`cmake --preset armhf && cmake --build --preset armhf --target bench_realtime` cross-builds the "
           "program (it needs no Google Benchmark, which the cross build lacks, so the other benchmarks are not "
           "cross-built); copy `build/armhf/bin/bench_realtime` and the libraries in `build/armhf/lib` to the "
           "target, run `LD_LIBRARY_PATH=<their directory> ./bench_realtime out.json` there as root (for "
           "SCHED_FIFO) on an otherwise idle system, and turn its output into this section with "
           "`python3 scripts/bench-report.py --realtime out.json`. The armhf build is RelWithDebInfo, optimised "
           "as the release build is.", ""]
    rows = ["### Region-cycle latency", "",
            f"Wall time of one acquire + dispose of a 16-element read region at a finite timeout (1 s), data "
            f"always there (the FIFOs generate on demand), {data['latency']['cycles_per_thread']} cycles per "
            f"thread after a warm-up, every sample kept; threads scheduled {data['scheduling']}. Two threads on "
            "one FIFO take turns on its acquisition lock, and when their turns collide the second waits in the "
            "kernel on that priority-inheriting lock, so that figure moves with how often they collide; two "
            "FIFOs are in two sessions. The maximum is one "
            "sample, and on a shared virtual machine it holds the hypervisor's and the kernel's interruptions "
            "as well as the library's work (among them real-time throttling, which by default takes 50 ms of "
            "each second from SCHED_FIFO threads that keep the CPUs busy).", "",
            "| Threads | Samples | p50 | p99 | p99.9 | Maximum |", "|---|---|---|---|---|---|"]
    for key, text in (("one_thread", "one"), ("two_threads_one_fifo", "two on one FIFO"),
                      ("two_threads_two_fifos", "two on two FIFOs")):
        f = data["latency"][key]
        rows.append(f"| {text} | {f['samples']} | {microseconds(f['p50'])} | {microseconds(f['p99'])} "
                    f"| {microseconds(f['p999'])} | {microseconds(f['max'])} |")
    out += rows + [""]
    out += ["### System calls and allocations per steady cycle", "",
            "The steady-cycle check (`tests/reliability/steadyCycle.cpp`, the test `SteadyCycle.*` keeps it): in "
            "a forked child, after a warm-up, a seccomp filter allows no system call but `exit_group` (and the "
            "clock reads at a finite timeout) while the child writes a region to a looped-back FIFO and reads one "
            "from it, each disposed of, library and stand-ins together; any other system call ends the child and "
            "is reported by number. The library's allocations over the same cycles are counted by wrapping "
            "`malloc`, `realloc` and the non-throwing `operator new` at link time.", "",
            "| Timeout | Cycles | System calls per cycle | Allocations per cycle |", "|---|---|---|---|"]
    for check in data["steady"]:
        if check["refused"]:
            out.append(f"| {timeout_name(check['timeout'])} | - | not checked: {check['verdict']} | - |")
            continue
        calls = "0" if check["clean"] or "system call" not in check["verdict"] else check["verdict"]
        per_cycle = check["allocations"] / check["cycles"] if check["cycles"] else 0
        out.append(f"| {timeout_name(check['timeout'])} | {check['cycles']} | {calls} | {per_cycle:g} |")
    out.append("")
    first = data["first_use"]
    out += ["### First use of a FIFO", "",
            f"In {first['sessions']} fresh sessions: the FIFO's start through the library builds its record; "
            "its first region cycle makes the region queue's spare node; later "
            "cycles allocate nothing. Allocations are the library's own; times are wall times, median and "
            "largest.", "",
            "| Step | Allocations | Median | Largest |", "|---|---|---|---|"]
    for key, text in (("start", "`ViDazoHx_StartFifo`"), ("first_cycle", "first region cycle"),
                      ("steady_cycle", "a later cycle")):
        f = first[key]
        out.append(f"| {text} | {f['allocations']} | {microseconds(f['ns']['p50'])} "
                   f"| {microseconds(f['ns']['max'])} |")
    out.append("")
    out += ["### Ending a blocked acquisition, and what a close holds up", "",
            "Time from the host's cleanup (the host stand-in's `HostRuntimeSim_RunCleanup`) to the return of an "
            "acquisition waiting on an empty FIFO. The cleanup comes just after the acquisition began waiting in "
            "the lower library, the worst moment: the library sees the cleanup between the lower library's "
            "waits, each at most 3 s long for an infinite timeout and for a finite one above 3000 ms (a build "
            "that does not cut finite waits so ends a finite wait only at its timeout, with -50400).", "",
            "| Wait | Time to return | Status returned |", "|---|---|---|"]
    for key in ("cancel_infinite", "cancel_finite"):
        f = data[key]
        statuses = sorted(set(f["statuses"]))
        names = ", ".join({-50405: "-50405 HostCancelled", -50400: "-50400 timed out"}.get(s, str(s))
                          for s in statuses)
        out.append(f"| {timeout_name(f['timeout'])} | {spread_of(f['ns'], seconds)} | {names} |")
    stall = data["stall"]
    out += ["", "A session's close waits, holding the registry lock exclusively, for an acquisition under way on "
            "one of its FIFOs (the documented registry-wide wait). Meanwhile every other session's acquisitions "
            "wait too. Here one thread streams region cycles on an unrelated session while another session is "
            f"closed whose acquisition waits with a timeout of {stall['timeout']} ms. The stall lasts as long as "
            "the acquisition: up to its whole timeout, and for an infinite one until elements arrive or the host's "
            "cleanup ends it.", "",
            "| Figure | Time |", "|---|---|",
            f"| the close's duration | {spread_of(stall['close_ns'], seconds)} |",
            f"| the unrelated session's longest cycle meanwhile | {spread_of(stall['stall_ns'], seconds)} |", ""]
    return out


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--realtime":
        print("\n".join(realtime_section(pathlib.Path(sys.argv[2]))))
        return
    json_dir, out_dir = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    reps = [Repetition(d) for d in sorted(json_dir.glob("rep-*"), key=lambda d: int(d.name.split("-")[1]))]
    if not reps:
        raise SystemExit(f"bench-report: no repetitions in {json_dir}")
    elapsed_file = json_dir / "elapsed"
    elapsed = elapsed_file.read_text().strip() if elapsed_file.exists() else ""
    report = Report(reps)
    reads, read_rows = report.streaming_section("read", "Reads through regions")
    writes, write_rows = report.streaming_section("write", "Writes through regions")
    body = (reads + writes + notes_section(report.notes) + report.scaling_section() + report.cycle_section()
            + report.forwarding_section())
    summary = report.summary()
    doc = ["# Performance", "",
           "Generated by `scripts/bench-report.sh` from the benchmarks in `bench/` (release preset, journals off). "
           "Each figure stands beside its anchor from the same repetition. Streaming uses the simulated target in "
           "device mode: a thread of its own fills or drains the FIFO, so the benchmark thread's CPU time is the "
           "host's work alone.", "",
           *machine(report, elapsed), "## Goals", "", *summary, "", "![Streaming](streaming.png)", "", "## Figures", "",
           *body, *realtime_section(json_dir / "realtime.json")]
    out_dir.mkdir(parents=True, exist_ok=True)
    (out_dir / "performance.md").write_text("\n".join(doc))
    gnuplot_files(out_dir, read_rows, write_rows)
    print("\n".join(summary))


if __name__ == "__main__":
    main()
