#!/usr/bin/python3
"""Runs the benchmarks of tessera_summary and prints their tables (Markdown).

Whole runs: complete scripted runs of the program on generated study areas, each case run
several times (warm cache), with wall time and peak memory (GNU time, else wait4) per run;
the median time and the largest peak are reported. Peers, run in turn with each case of raw
images (case, floor, numpy, case, ...), so that all see the same state of the machine:
- the floor (bench/floor.cpp): the least a program does to turn the raw images into a level
  grid, on every core;
- numpy (bench/numpy_baseline.py): a plain numpy script doing the program's work, whose
  result must equal the program's byte for byte.
The main case also runs on one thread, and the floor too, for the thread scaling; a 32768^2
case runs in turn with the main case, for the scaling in size (its 3 GiB of inputs are
removed after it). Micro-benchmarks: the hot loops and the whole passes. Then the export of
an 8192^2 ASCII result by tessera_gis (in turn with a reference build's, with --reference),
prepare, compose and richness against their GDAL and GRASS peers, and the targets, each met
or missed.

    run_bench.py --build BUILD_DIR [--data DIR] [--size S] [--runs N] [--quick]
                 [--only SECTION,...] [--reference OLD_BUILD_DIR]

SECTION: runs, micro, export, prepare, compose, richness (default: all). A case is an entry
of CASES (areas it needs in AREAS). Tests never assert on time; this script only checks the
targets and reports them.
"""
import argparse
import filecmp
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
    with a mask when asked. `size` None: the size of the run (--size). A temporary area is
    made just before its case and removed after it."""

    def __init__(self, name, count, fmt, shape="mesh", size=None, mask=False, temporary=False):
        self.name, self.count, self.fmt, self.shape = name, count, fmt, shape
        self.size, self.mask, self.temporary = size, mask, temporary

    def remove(self, data):
        shutil.rmtree(os.path.join(data, self.name), ignore_errors=True)

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
    Area("raw_32768", 3, "raw", size=32768, temporary=True),
]}


class Case:
    """A whole run of tessera_summary on `count` images of an area (English, user-named disk,
    no mesh drawing unless `draw`)."""

    def __init__(self, name, area, count, levels, out, draw=False, mask=False, threads=None,
                 numpy=True):
        self.name, self.area, self.count, self.levels = name, AREAS[area], count, levels
        self.out, self.draw, self.mask, self.threads = out, draw, mask, threads
        self.numpy = numpy

    def has_peers(self):
        """The floor and numpy read raw images and do no mask, drawing or other output."""
        return self.area.fmt == "raw" and self.out == "raw" and not self.mask and not self.draw

    def env(self):
        return {"TESSERA_THREADS": str(self.threads)} if self.threads else {}

    def result(self, data):
        return os.path.join(data, self.area.name, f"res_{self.name}_tessum.{self.out}")

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
    Case("raw3_L10_1t", "raw_mesh", 3, 10, "raw", threads=1),
    Case("raw3_L99", "raw_mesh", 3, 99, "raw"),
    Case("raw1_L10", "raw_mesh", 1, 10, "raw"),
    Case("raw5_L10", "raw_mesh", 5, 10, "raw"),
    Case("raw10_L10", "raw_mesh", 10, 10, "raw"),
    Case("raw3_4096", "raw_4096", 3, 10, "raw"),
    Case("raw3_16384", "raw_16384", 3, 10, "raw"),
    # numpy would hold 8 GiB of sums and as much again of temporaries.
    Case("raw3_32768", "raw_32768", 3, 10, "raw", numpy=False),
    Case("raw3_mask", "raw_mesh", 3, 10, "raw", mask=True),
    Case("asc3_raw", "asc_mesh", 3, 10, "raw"),
    Case("bmp3_bmp", "bmp_mesh", 3, 10, "bmp"),
    Case("mesh_drawn", "raw_mesh", 3, 10, "raw", draw=True),
    Case("window_drawn", "raw_window", 3, 10, "bmp", draw=True),
]
QUICK = {"raw3_L10", "raw3_L10_1t", "raw3_L99", "raw1_L10", "raw5_L10"}
MAIN = "raw3_L10"
# Run in turn with one another and with the main case's floor (every core and one thread)
# and numpy.
IN_TURN = ["raw3_L10", "raw3_L10_1t", "raw3_L99"]
BIG = "raw3_32768"  # run in turn with the main case


def warm(paths):
    """Reads the inputs once so that every timed run finds them in the page cache."""
    for p in paths:
        with open(p, "rb") as f:
            while f.read(1 << 24):
                pass


def timed(cmd, stdin_text=None, env=None):
    """Runs cmd; returns (wall seconds, peak RSS bytes). The peak comes from GNU time, whose
    own small process is what forks the program; without it, from wait4, which also counts
    the pages of this Python process that the child held before its exec (some MiB)."""
    gnu_time = os.path.exists("/usr/bin/time")
    full = (["/usr/bin/time", "-f", "maxrss_kb=%M"] if gnu_time else []) + cmd
    t = time.perf_counter()
    p = subprocess.Popen(full, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, env=dict(os.environ, LC_ALL="C", **(env or {})))
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


def numpy_available():
    try:
        sh(["/usr/bin/python3", "-c", "import numpy"], stderr=subprocess.DEVNULL)
        return True
    except (subprocess.CalledProcessError, FileNotFoundError):
        return False


class Runner:
    """Runs cases with their peers, in turn, and keeps every measurement."""

    def __init__(self, build, data, size, runs):
        self.build, self.data, self.size, self.runs = build, data, size, runs
        self.here = os.path.dirname(os.path.abspath(__file__))
        self.use_numpy = numpy_available()
        self.cores = os.cpu_count() or 1
        self.results = {}  # case name -> summary
        self.floor = {}    # case name -> summary of the floor on every core
        self.floor1 = {}   # case name -> summary of the floor on one thread
        self.numpy = {}    # case name -> summary
        self.numpy_same = {}  # case name -> whether numpy's result equals the program's

    def floor_cmd(self, case, threads):
        side = str(case.area.side(self.size))
        return ([os.path.join(self.build, "bench", "floor"), side, side, str(case.levels),
                 os.path.join(self.data, "floor_out.raw"), str(threads)] +
                [p + ":" + WEIGHTS[k] for k, p in enumerate(case.inputs(self.data))])

    def numpy_cmd(self, case):
        side = str(case.area.side(self.size))
        return (["/usr/bin/python3", os.path.join(self.here, "numpy_baseline.py"), side, side,
                 str(case.levels), os.path.join(self.data, "numpy_out.raw")] +
                [p + ":" + WEIGHTS[k] for k, p in enumerate(case.inputs(self.data))])

    def in_turn(self, cases, peers_of=None, floor1=False):
        """Runs the cases in turn, and after the first (or `peers_of`) its floor (every core,
        and one thread when `floor1`) and numpy; `runs` rounds."""
        lead = peers_of or cases[0]
        peers = lead.has_peers()
        use_numpy = peers and lead.numpy and self.use_numpy
        for c in cases:
            warm(c.inputs(self.data))
        got = {c.name: ([], []) for c in cases}
        fl, fl1, npy = ([], []), ([], []), ([], [])
        for r in range(self.runs):
            for c in cases:
                cmd, text = c.command(self.build, self.data)
                w, m = timed(cmd, text, c.env())
                got[c.name][0].append(w)
                got[c.name][1].append(m)
                if c is not lead:
                    continue
                if peers:
                    w, m = timed(self.floor_cmd(c, self.cores))
                    fl[0].append(w)
                    fl[1].append(m)
                    if floor1:
                        w, m = timed(self.floor_cmd(c, 1))
                        fl1[0].append(w)
                        fl1[1].append(m)
                if use_numpy:
                    w, m = timed(self.numpy_cmd(c))
                    npy[0].append(w)
                    npy[1].append(m)
                    if r == 0:
                        self.numpy_same[c.name] = filecmp.cmp(
                            c.result(self.data), os.path.join(self.data, "numpy_out.raw"),
                            shallow=False)
        for c in cases:
            c.clean(self.data)
            self.results[c.name] = summary(*got[c.name])
            print(f"  {c.name}: {self.results[c.name][0]:.3f} s, "
                  f"{self.results[c.name][1] / MIB:.0f} MiB", file=sys.stderr)
        if peers:
            self.floor[lead.name] = summary(*fl)
            if floor1:
                self.floor1[lead.name] = summary(*fl1)
            print(f"  floor: {self.floor[lead.name][0]:.3f} s", file=sys.stderr)
        if use_numpy:
            self.numpy[lead.name] = summary(*npy)
            print(f"  numpy: {self.numpy[lead.name][0]:.3f} s"
                  f" (same result: {self.numpy_same[lead.name]})", file=sys.stderr)
        for f in ("floor_out.raw", "numpy_out.raw"):
            if os.path.exists(os.path.join(self.data, f)):
                os.remove(os.path.join(self.data, f))


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


def targets(run, size, cases, big_ratio):
    """The targets: (text, met) for each."""
    results = run.results
    checks = []
    cell = {c.name: c.cells(size) for c in cases}

    def within(name, per_cell):
        m, top = results[name][1], limit(cell[name], per_cell)
        return f"{m / MIB:.0f} of {top / MIB:.0f} MiB", m <= top

    main_w = results[MAIN][0]
    if MAIN in run.numpy:
        ratio = run.numpy[MAIN][0] / main_w
        checks.append((f"{MAIN}: whole run at least 4x faster than numpy ({ratio:.1f}x)",
                       ratio >= 4.0))
    if MAIN in run.floor:
        ratio = main_w / run.floor[MAIN][0]
        checks.append((f"{MAIN}: within 1.3x of the floor on every core ({ratio:.2f}x)",
                       ratio <= 1.3))
    if run.numpy_same:
        differ = [n for n, same in run.numpy_same.items() if not same]
        checks.append(("numpy's result equals the program's, byte for byte (" +
                       ", ".join(run.numpy_same) + ")" +
                       (f"; different: {', '.join(differ)}" if differ else ""), not differ))
    text, ok = within(MAIN, 1.25)
    checks.append((f"{MAIN}: peak at most 64 MiB + 1.25 bytes a cell ({text})", ok))
    ks = [n for n in ("raw1_L10", "raw3_L10", "raw5_L10", "raw10_L10") if n in results]
    peaks = [results[n][1] for n in ks]
    checks.append(("peak flat in the number of images (" +
                   ", ".join(f"K={n.split('_')[0][3:]} {results[n][1] / MIB:.0f}" for n in ks) +
                   " MiB; within 16 MiB)", max(peaks) - min(peaks) <= 16 * MIB))
    sizes = [n for n in ("raw3_4096", "raw3_L10", "raw3_16384", BIG) if n in results]
    if len(sizes) > 1:
        parts = [(n, *within(n, 1.25)) for n in sizes]
        checks.append(("peak flat in the grid size: 64 MiB + 1.25 bytes a cell at most (" +
                       ", ".join(f"{cell[n] ** 0.5:.0f}^2 {t}" for n, t, _ in parts) + ")",
                       all(ok for _, _, ok in parts)))
    if big_ratio is not None:
        checks.append((f"{BIG}: time within 10 % of linear from {MAIN} (time a cell "
                       f"{big_ratio:.2f}x, run in turn)", big_ratio <= 1.10))
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


def run_export(build, data, size, runs, reference):
    """tessera_gis export of the main area's result as an ASCII grid (8192^2 cells), in turn
    with a reference build's when given. Returns the table lines and the target checks."""
    gis = os.path.join(build, "tessera_gis")
    if not os.path.exists(gis):
        return ["(export case skipped: tessera_gis is not built here)"], []
    case = Case("export", "raw_mesh", 3, 10, "asc")
    cmd, text = case.command(build, data)
    timed(cmd, text)
    base = os.path.join(data, case.area.name, "res_export")
    tools = [("tessera_gis export", gis)]
    if reference:
        tools.append(("reference build's export", os.path.join(reference, "tessera_gis")))
    got = {name: ([], []) for name, _ in tools}
    for _ in range(runs):
        for name, tool in tools:
            w, m = timed([tool, "export", base])
            got[name][0].append(w)
            got[name][1].append(m)
    sizes = {ext: os.path.getsize(base + ext) for ext in (".tif", "_map.png", "_report.html")}
    case.clean(data)
    for ext in [".tif", ".tif.aux.xml", "_map.png", "_map.wld", "_map.png.aux.xml",
                "_report.html"]:
        if os.path.exists(base + ext):
            os.remove(base + ext)
    lines = [f"### Exporting a {size}^2 ASCII result "
             f"(tessera_gis export; median of {runs} runs in turn, warm cache)\n",
             "| command | wall s (median) | runs s | peak MiB |", "|---|---|---|---|"]
    for name, _ in tools:
        w, m, walls = summary(*got[name])
        lines.append(f"| {name} | {w:.2f} | {' '.join(f'{x:.2f}' for x in walls)} | "
                     f"{m / MIB:.0f} |")
    lines.append(f"\nOutputs: GeoTIFF {sizes['.tif'] / 1e6:.1f} MB, PNG "
                 f"{sizes['_map.png'] / 1e6:.1f} MB, report page "
                 f"{sizes['_report.html'] / 1e6:.1f} MB.")
    checks = []
    if reference:
        ratio = summary(*got[tools[1][0]])[0] / summary(*got[tools[0][0]])[0]
        checks.append((f"export of a {size}^2 result at least 2x faster than the reference "
                       f"build's ({ratio:.1f}x)", ratio >= 2.0))
    print(f"  export: {summary(*got[tools[0][0]])[0]:.2f} s", file=sys.stderr)
    return lines, checks


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--data", default=None)
    ap.add_argument("--size", type=int, default=8192)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--quick", action="store_true", help="fewer cases, for a smoke test")
    ap.add_argument("--only", default="runs,micro,export,prepare,compose,richness")
    ap.add_argument("--reference", default=None,
                    help="an older build folder whose tessera_gis export runs in turn")
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    data = os.path.abspath(a.data or os.path.join(build, "bench-data"))
    os.makedirs(data, exist_ok=True)
    size = a.size
    only = set(a.only.split(","))
    cases = [c for c in CASES if not a.quick or c.name in QUICK] if "runs" in only else []
    reference = os.path.abspath(a.reference) if a.reference else None

    print(f"generating study areas in {data}", file=sys.stderr)
    needed = {c.area.name for c in cases if not c.area.temporary}
    if only & {"micro", "export"}:
        needed.add("raw_mesh")
    for area in sorted(needed):
        AREAS[area].generate(build, data, size)

    run = Runner(build, data, size, a.runs)
    big_ratio = None
    if cases:
        print("whole runs", file=sys.stderr)
        together = [c for name in IN_TURN for c in cases if c.name == name]
        run.in_turn(together, floor1=True)
        for c in cases:
            if c.name in run.results or c.name == BIG:
                continue
            run.in_turn([c])
        big = [c for c in cases if c.name == BIG]
        if big:
            big[0].area.generate(build, data, size)
            main_case = next(c for c in CASES if c.name == MAIN)
            pair = Runner(build, data, size, max(3, a.runs // 2))
            pair.in_turn([big[0], main_case])
            run.results[BIG] = pair.results[BIG]
            if BIG in pair.floor:
                run.floor[BIG] = pair.floor[BIG]
            per_cell = [pair.results[n][0] / big[0].cells(size) if n == BIG else
                        pair.results[n][0] / main_case.cells(size) for n in (BIG, MAIN)]
            big_ratio = per_cell[0] / per_cell[1]
            big[0].area.remove(data)
    micro = []
    if "micro" in only:
        print("micro-benchmarks", file=sys.stderr)
        micro = run_micro(build, data, a.quick)
    export_lines, export_checks = ([], [])
    if "export" in only:
        print("tessera_gis export", file=sys.stderr)
        export_lines, export_checks = run_export(build, data, size, a.runs, reference)
    prepare_lines, prepare_checks = ([], [])
    if "prepare" in only and not a.quick:
        print("tessera_gis prepare against gdal_translate", file=sys.stderr)
        prepare_lines, prepare_checks = bench_prepare.run(build, data, size, a.runs, timed)
    compose_lines, compose_checks = ([], [])
    if "compose" in only and not a.quick:
        print("tessera_gis compose against the GDAL-only route", file=sys.stderr)
        compose_lines, compose_checks = bench_compose.run(build, data, size, a.runs, timed)
    richness_lines, richness_checks = ([], [])
    if "richness" in only and not a.quick:
        print("tessera_gis richness against GRASS r.neighbors", file=sys.stderr)
        richness_lines, richness_checks = bench_richness.run(build, data, size, a.runs, timed)

    # ---- the tables ----
    if cases:
        print(f"\n### Whole runs ({size} x {size} cells unless stated, median of {a.runs} runs "
              f"in turn with their peers, warm cache, {run.cores} cores)\n")
        print("| case | images | levels | in -> out | cells | wall s (median) | runs s | "
              "Mcells/s | peak MiB | bytes/cell | floor s | x floor | numpy s | numpy / run |")
        print("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
        for c in cases:
            if c.name not in run.results:
                continue
            w, m, walls = run.results[c.name]
            n = c.cells(size)
            fl = run.floor.get(c.name)
            npy = run.numpy.get(c.name)
            threads = f", {c.threads} thread" if c.threads else ""
            print(f"| {c.name} | {c.count} | {c.levels} | {c.describe()}{threads} | "
                  f"{c.area.side(size)}^2 | {w:.3f} | {' '.join(f'{x:.2f}' for x in walls)} | "
                  f"{n / w / 1e6:.0f} | {m / MIB:.0f} | {m / n:.2f} | "
                  f"{f'{fl[0]:.3f}' if fl else '-'} | {f'{w / fl[0]:.2f}' if fl else '-'} | "
                  f"{f'{npy[0]:.2f}' if npy else '-'} | {f'{npy[0] / w:.1f}' if npy else '-'} |")
        print("\nMcells/s = cells of the grid / wall time; bytes/cell = peak / cells; x floor = "
              "the run's time / the floor's (bench/floor.cpp, every core); numpy / run = "
              "numpy's time / the run's. The peers run in turn with their case; "
              f"{', '.join(IN_TURN)} run in turn together; {BIG} in turn with {MAIN}.")
        if not run.use_numpy:
            print("\n(numpy baseline skipped: /usr/bin/python3 has no numpy; "
                  "apt-get install python3-numpy)")
        if MAIN in run.floor1 and "raw3_L10_1t" in run.results:
            one, every = run.results["raw3_L10_1t"][0], run.results[MAIN][0]
            f1, fn = run.floor1[MAIN][0], run.floor[MAIN][0]
            print(f"\n### Thread scaling ({MAIN}, in turn)\n")
            print("| program | 1 thread s | every core s | speed-up |")
            print("|---|---|---|---|")
            print(f"| tessera_summary | {one:.3f} | {every:.3f} | {one / every:.2f} |")
            print(f"| floor | {f1:.3f} | {fn:.3f} | {f1 / fn:.2f} |")

    if micro:
        print("\n### Stages and passes (micro-benchmarks, median of 3)\n")
        print("MB/s: the file's bytes for the formats, the memory read and written for the "
              "loops. The stages: one grid of 4000 x 4000 cells a call, read or written in "
              "blocks of 256 rows, files in the page cache; a grid of 8192 x 8192 cells (64 MiB) "
              "for the memory written fresh or again. The passes: the main case's three 8192^2 "
              "images (/N: N threads; ReadInputs/0 copied by pread, /1 mapped).\n")
        print("| stage | Mcells/s | MB/s | time per call |")
        print("|---|---|---|---|")
        for name, items, nbytes, t, unit in micro:
            print(f"| {name} | {items / 1e6:.0f} | "
                  f"{nbytes / 1e6:.0f} | {t:.1f} {unit} |".replace("| 0 |", "| - |"))

    for lines in (export_lines, prepare_lines, compose_lines, richness_lines):
        if lines:
            print("\n" + "\n".join(lines))

    print("\n### Targets\n")
    checks = targets(run, size, cases, big_ratio) if cases else []
    for text, ok in (checks + export_checks + prepare_checks + compose_checks + richness_checks):
        print(f"- [{'x' if ok else ' '}] {'met' if ok else 'MISSED'}: {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
