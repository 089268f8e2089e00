#!/usr/bin/python3
"""Runs the benchmarks of tessera_summary and prints their table (Markdown).

Whole runs: complete scripted runs of the program on generated study areas, each case run
several times (warm cache), with wall time and peak memory (GNU time, else wait4) per run;
the median time and the largest peak are reported. Baseline: a plain numpy script doing the
same sum and levels on the same raw inputs, run in turn with the main case. Micro-benchmarks:
the hot parts, in cells (or bytes) per second. Then the targets, each met or missed.

    run_bench.py --build BUILD_DIR [--data DIR] [--size S] [--runs N] [--quick]

A case is an entry of CASES (areas it needs in AREAS); another tool's case is added the same
way, with its own command. Tests never assert on time; this script only checks the targets
and reports them.
"""
import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

import bench_compose
import bench_prepare
import bench_richness

MIB = 1024 * 1024
WEIGHTS = ["1.5", "2", "0.75", "1.25", "3", "0.5", "1", "2.5", "1.75", "0.25"]
CODES = {"raw": "0", "bmp": "1", "asc": "2"}


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


class Area:
    """A generated study area: `count` images of size x size cells in one format and shape,
    with a mask when asked. `size` None: the size of the run (--size)."""

    def __init__(self, name, count, fmt, shape="mesh", size=None, mask=False):
        self.name, self.count, self.fmt, self.shape = name, count, fmt, shape
        self.size, self.mask = size, mask

    def side(self, size):
        return self.size or size

    def generate(self, build, data, size):
        """Makes the area once; a stamp file keeps it across runs of the same description."""
        folder = os.path.join(data, self.name)
        stamp = os.path.join(folder, "stamp")
        want = f"{self.count} {self.side(size)} {self.fmt} {self.shape} {self.mask}\n"
        if os.path.exists(stamp) and open(stamp).read() == want:
            return
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        t = time.perf_counter()
        sh([os.path.join(build, "bench", "gen_area"), folder, str(self.count),
            str(self.side(size)), self.fmt, self.shape, "1"] + (["--mask"] if self.mask else []))
        with open(stamp, "w") as f:
            f.write(want)
        print(f"  generated {self.name}: {self.count} x {self.side(size)}^2 {self.fmt} "
              f"{self.shape} in {time.perf_counter() - t:.1f} s", file=sys.stderr)

    def inputs(self, data, count):
        ext = {"raw": ".raw", "bmp": ".bmp", "asc": ".asc"}[self.fmt]
        return [os.path.join(data, self.name, f"img{k}{ext}") for k in range(1, count + 1)]


AREAS = {a.name: a for a in [
    Area("raw_mesh", 10, "raw", mask=True),
    Area("raw_window", 3, "raw", "window"),
    Area("bmp_mesh", 3, "bmp"),
    Area("asc_mesh", 3, "asc"),
    Area("raw_4096", 3, "raw", size=4096),
    Area("raw_16384", 3, "raw", size=16384),
]}


class Case:
    """A whole run of tessera_summary on `count` images of an area (English, user-named disk,
    no mesh drawing unless `draw`)."""

    def __init__(self, name, area, count, levels, out, draw=False, mask=False):
        self.name, self.area, self.count, self.levels = name, AREAS[area], count, levels
        self.out, self.draw, self.mask = out, draw, mask

    def describe(self):
        return (f"{self.area.fmt} -> {self.out}" + (" + mask" if self.mask else "")
                + (f", {self.area.shape} drawn" if self.draw else ""))

    def cells(self, size):
        return self.area.side(size) ** 2

    def command(self, build, data):
        """The command line and the text on its standard input."""
        return [os.path.join(build, "tessera_summary")], self.answers(data)

    def answers(self, data):
        a = ["0", "2", data, self.area.name, str(self.count)]
        a += [f"img{k}" for k in range(1, self.count + 1)]
        a += [CODES[self.area.fmt]] * self.count
        a += WEIGHTS[: self.count]
        a += ["0", "mask", "0"] if self.mask else ["1"]
        a += ["res_" + self.name, CODES[self.out], str(self.levels)]
        if self.area.fmt == "bmp" and not self.mask:
            a += ["25"]  # pixel size: a BMP image carries none
        utm_known = self.area.fmt == "asc"
        if not self.draw:
            a += ["1"]
        elif self.area.shape == "mesh":
            a += ["0", "0"]  # draw, agree with the detected type
            if not utm_known:
                a += ["500000", "4000000"]
                utm_known = True
            a += ["2"]  # window range
        else:
            a += ["0", "0", "0", "0"]  # draw, agree, really draw, draw
        if self.out == "asc" and not utm_known:
            a += ["500000", "4000000"]
        return "\n".join(a) + "\n"

    def inputs(self, data):
        return self.area.inputs(data, self.count)

    def clean(self, data):
        """Removes what the runs wrote (the result, report, histogram and point files)."""
        folder = os.path.join(data, self.area.name)
        for name in os.listdir(folder):
            if name.startswith("res_" + self.name + "_"):
                os.remove(os.path.join(folder, name))


CASES = [
    Case("raw3_L10", "raw_mesh", 3, 10, "raw"),
    Case("raw3_L99", "raw_mesh", 3, 99, "raw"),
    Case("raw1_L10", "raw_mesh", 1, 10, "raw"),
    Case("raw5_L10", "raw_mesh", 5, 10, "raw"),
    Case("raw10_L10", "raw_mesh", 10, 10, "raw"),
    Case("raw3_4096", "raw_4096", 3, 10, "raw"),
    Case("raw3_16384", "raw_16384", 3, 10, "raw"),
    Case("raw3_mask", "raw_mesh", 3, 10, "raw", mask=True),
    Case("asc3_raw", "asc_mesh", 3, 10, "raw"),
    Case("bmp3_bmp", "bmp_mesh", 3, 10, "bmp"),
    Case("mesh_drawn", "raw_mesh", 3, 10, "raw", draw=True),
    Case("window_drawn", "raw_window", 3, 10, "bmp", draw=True),
]
QUICK = {"raw3_L10", "raw3_L99", "raw1_L10", "raw5_L10"}
MAIN = "raw3_L10"  # run in turn with the numpy baseline
IN_TURN = ["raw3_L10", "raw3_L99"]  # run in turn with one another (and the baseline)


def warm(paths):
    """Reads the inputs once so that every timed run finds them in the page cache."""
    for p in paths:
        with open(p, "rb") as f:
            while f.read(1 << 24):
                pass


def timed(cmd, stdin_text=None):
    """Runs cmd; returns (wall seconds, peak RSS bytes). The peak comes from GNU time, whose
    own small process is what forks the program; without it, from wait4, which also counts
    the pages of this Python process that the child held before its exec (some MiB)."""
    gnu_time = os.path.exists("/usr/bin/time")
    full = (["/usr/bin/time", "-f", "maxrss_kb=%M"] if gnu_time else []) + cmd
    t = time.perf_counter()
    p = subprocess.Popen(full, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, env=dict(os.environ, LC_ALL="C"))
    if stdin_text is not None:
        p.stdin.write(stdin_text.encode())
    p.stdin.close()
    err = p.stderr.read().decode(errors="replace")
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - t
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise RuntimeError(f"{cmd[0]} failed ({p.returncode}):\n{err[-2000:]}")
    m = re.search(r"maxrss_kb=(\d+)", err)
    return wall, (int(m.group(1)) if m else usage.ru_maxrss) * 1024


def summary(walls, peaks):
    return statistics.median(walls), max(peaks), walls


def run_case(build, data, runs, case):
    warm(case.inputs(data))
    walls, peaks = [], []
    cmd, text = case.command(build, data)
    for _ in range(runs):
        w, m = timed(cmd, text)
        walls.append(w)
        peaks.append(m)
    case.clean(data)
    print(f"  {case.name}: {statistics.median(walls):.3f} s, {max(peaks) / MIB:.0f} MiB",
          file=sys.stderr)
    return summary(walls, peaks)


def numpy_available():
    try:
        sh(["/usr/bin/python3", "-c", "import numpy"], stderr=subprocess.DEVNULL)
        return True
    except (subprocess.CalledProcessError, FileNotFoundError):
        return False


def run_in_turn(build, data, size, runs, cases):
    """Cases on the same inputs and the numpy baseline of the first, run in turn (first case,
    numpy, second case, first case, numpy, ...), so that all see the same state of the
    machine; returns the results of the cases and of the baseline (None without numpy)."""
    here = os.path.dirname(os.path.abspath(__file__))
    first = cases[0]
    side = first.area.side(size)
    args = [str(side), str(side), str(first.levels), os.path.join(data, "numpy_out.raw")]
    args += [path + ":" + WEIGHTS[k] for k, path in enumerate(first.inputs(data))]
    use_numpy = numpy_available()
    warm(first.inputs(data))
    runs_of = {c.name: ([], []) for c in cases}
    base = ([], [])
    for _ in range(runs):
        for k, c in enumerate(cases):
            cmd, text = c.command(build, data)
            w, m = timed(cmd, text)
            runs_of[c.name][0].append(w)
            runs_of[c.name][1].append(m)
            if k == 0 and use_numpy:
                w, m = timed(["/usr/bin/python3", os.path.join(here, "numpy_baseline.py")] + args)
                base[0].append(w)
                base[1].append(m)
    for c in cases:
        c.clean(data)
        print(f"  {c.name}: {statistics.median(runs_of[c.name][0]):.3f} s", file=sys.stderr)
    if use_numpy:
        print(f"  numpy: {statistics.median(base[0]):.3f} s", file=sys.stderr)
    return ({c.name: summary(*runs_of[c.name]) for c in cases},
            summary(*base) if use_numpy else None)


def run_micro(build, data, quick):
    exe = os.path.join(build, "bench", "micro_bench")
    if not os.path.exists(exe):
        return []
    out = os.path.join(data, "micro.json")
    cmd = [exe, f"--benchmark_out={out}", "--benchmark_out_format=json",
           "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true",
           f"--benchmark_min_time={'0.05' if quick else '0.2'}"]
    sh(cmd, stdout=subprocess.DEVNULL, env=dict(os.environ, TESSERA_BENCH_DIR=data))
    rows = []
    for b in json.load(open(out))["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        rows.append((b["run_name"], b.get("items_per_second", 0.0),
                     b.get("bytes_per_second", 0.0), b["real_time"], b["time_unit"]))
    return rows


def limit(cells, per_cell):
    """64 MiB and `per_cell` bytes a cell."""
    return 64 * MIB + per_cell * cells


def targets(results, base, size, cases):
    """The targets: (text, met) for each."""
    checks = []
    cell = {c.name: c.cells(size) for c in cases}

    def within(name, per_cell):
        m, top = results[name][1], limit(cell[name], per_cell)
        return f"{m / MIB:.0f} of {top / MIB:.0f} MiB", m <= top

    main_w = results[MAIN][0]
    if base:
        ratio = base[0] / main_w
        checks.append((f"{MAIN}: whole run at least 4x faster than numpy ({ratio:.1f}x)",
                       ratio >= 4.0))
    text, ok = within(MAIN, 1.25)
    checks.append((f"{MAIN}: peak at most 64 MiB + 1.25 bytes a cell ({text})", ok))
    ks = [n for n in ("raw1_L10", "raw3_L10", "raw5_L10", "raw10_L10") if n in results]
    peaks = [results[n][1] for n in ks]
    checks.append(("peak flat in the number of images (" +
                   ", ".join(f"K={n.split('_')[0][3:]} {results[n][1] / MIB:.0f}" for n in ks) +
                   " MiB; within 16 MiB)", max(peaks) - min(peaks) <= 16 * MIB))
    sizes = [n for n in ("raw3_4096", "raw3_L10", "raw3_16384") if n in results]
    if len(sizes) > 1:
        parts = [(n, *within(n, 1.25)) for n in sizes]
        checks.append(("peak flat in the grid size: 64 MiB + 1.25 bytes a cell at most (" +
                       ", ".join(f"{cell[n] ** 0.5:.0f}^2 {t}" for n, t, _ in parts) + ")",
                       all(ok for _, _, ok in parts)))
    if "raw3_16384" in results:
        m = results["raw3_16384"][1]
        checks.append((f"three 16384^2 images under 400 MiB ({m / MIB:.0f} MiB)", m < 400 * MIB))
    if "raw3_mask" in results:
        text, ok = within("raw3_mask", 2.25)
        checks.append((f"with a mask: peak at most 64 MiB + 2.25 bytes a cell ({text})", ok))
    if "asc3_raw" in results:
        text, ok = within("asc3_raw", 4.25)
        checks.append(("three ASCII images, kept: peak at most 64 MiB + 4.25 bytes a cell "
                       f"({text})", ok))
    if "raw3_L99" in results:
        r = results["raw3_L99"][0] / main_w
        checks.append((f"99 levels within 1.2x of 10 levels ({r:.2f}x)", r <= 1.2))
    return checks


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--data", default=None)
    ap.add_argument("--size", type=int, default=8192)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--quick", action="store_true", help="fewer cases, for a smoke test")
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    data = os.path.abspath(a.data or os.path.join(build, "bench-data"))
    os.makedirs(data, exist_ok=True)
    size = a.size
    cases = [c for c in CASES if not a.quick or c.name in QUICK]

    print(f"generating study areas in {data}", file=sys.stderr)
    for area in sorted({c.area.name for c in cases}):
        AREAS[area].generate(build, data, size)

    print("whole runs", file=sys.stderr)
    together = [c for name in IN_TURN for c in cases if c.name == name]
    results, base = run_in_turn(build, data, size, a.runs, together)
    for c in cases:
        if c.name not in results:
            results[c.name] = run_case(build, data, a.runs, c)
    print("micro-benchmarks", file=sys.stderr)
    micro = run_micro(build, data, a.quick)
    print("tessera_gis prepare against gdal_translate", file=sys.stderr)
    prepare_lines, prepare_checks = ([], []) if a.quick else \
        bench_prepare.run(build, data, size, a.runs, timed)
    print("tessera_gis compose against the GDAL-only route", file=sys.stderr)
    compose_lines, compose_checks = ([], []) if a.quick else \
        bench_compose.run(build, data, size, a.runs, timed)
    print("tessera_gis richness against GRASS r.neighbors", file=sys.stderr)
    richness_lines, richness_checks = ([], []) if a.quick else \
        bench_richness.run(build, data, size, a.runs, timed)

    # ---- the tables ----
    print(f"\n### Whole runs ({size} x {size} cells unless stated, median of {a.runs} runs, "
          "warm cache, one thread)\n")
    print("| case | images | levels | in -> out | cells | wall s (median) | runs s | Mcells/s |"
          " peak MiB | bytes/cell | vs numpy |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    for c in cases:
        w, m, walls = results[c.name]
        n = c.cells(size)
        ratio = f"{base[0] / w:.1f}x faster" if base and c.name == MAIN else ""
        print(f"| {c.name} | {c.count} | {c.levels} | {c.describe()} | {c.area.side(size)}^2 | "
              f"{w:.3f} | {' '.join(f'{x:.2f}' for x in walls)} | {n / w / 1e6:.0f} | "
              f"{m / MIB:.0f} | {m / n:.2f} | {ratio} |")
    if base:
        w, m, walls = base
        n = size * size
        print(f"| numpy baseline | 3 | 10 | raw -> raw | {size}^2 | {w:.3f} | "
              f"{' '.join(f'{x:.2f}' for x in walls)} | {n / w / 1e6:.0f} | {m / MIB:.0f} | "
              f"{m / n:.2f} | 1.0x |")
    else:
        print("\n(numpy baseline skipped: /usr/bin/python3 has no numpy; "
              "apt-get install python3-numpy)")
    print(f"\nMcells/s = cells of the grid / wall time; bytes/cell = peak / cells. "
          f"{', '.join(IN_TURN)} and the baseline are run in turn.")

    if micro:
        print("\n### Stages (micro-benchmarks, median of 3)\n")
        print("MB/s: the file's bytes for the formats, the memory read and written for the "
              "loops. One grid of 4000 x 4000 cells a call, read or written in blocks of 256 "
              "rows, files in the page cache; a grid of 8192 x 8192 cells (64 MiB) for the "
              "memory written fresh or again.\n")
        print("| stage | Mcells/s | MB/s | time per call |")
        print("|---|---|---|---|")
        for name, items, nbytes, t, unit in micro:
            print(f"| {name} | {items / 1e6:.0f} | "
                  f"{nbytes / 1e6:.0f} | {t:.1f} {unit} |".replace("| 0 |", "| - |"))

    if prepare_lines:
        print("\n" + "\n".join(prepare_lines))
    if compose_lines:
        print("\n" + "\n".join(compose_lines))
    if richness_lines:
        print("\n" + "\n".join(richness_lines))

    print("\n### Targets\n")
    for text, ok in (targets(results, base, size, cases) + prepare_checks + compose_checks
                     + richness_checks):
        print(f"- [{'x' if ok else ' '}] {'met' if ok else 'MISSED'}: {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
