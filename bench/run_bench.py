#!/usr/bin/python3
"""Runs the benchmarks of tessera_summary and prints their table (Markdown).

Whole runs: complete scripted runs of the program on generated study areas, each case run
several times (warm cache), with wall time and peak memory (GNU time, else wait4) per run;
the median is reported. Baseline: a plain numpy script doing the same sum and levels on the
same raw inputs. Micro-benchmarks: the hot parts, in cells (or bytes) per second.

    run_bench.py --build BUILD_DIR [--data DIR] [--size S] [--runs N] [--quick]

Tests never assert on time; this script only checks the targets and reports them.
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

import bench_prepare

MIB = 1024 * 1024
WEIGHTS = ["1.5", "2", "0.75", "1.25", "3"]


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def generate(build, data, size):
    """Makes the study areas once; a stamp file keeps them across runs of the same size."""
    sets = [
        ("raw_mesh", 5, "raw", "mesh", []),
        ("raw_window", 3, "raw", "window", []),
        ("bmp_mesh", 3, "bmp", "mesh", []),
        ("asc_mesh", 1, "asc", "mesh", []),
        ("raw_mask", 3, "raw", "mesh", ["--mask"]),
    ]
    for name, count, fmt, shape, extra in sets:
        folder = os.path.join(data, name)
        stamp = os.path.join(folder, "stamp")
        want = f"{count} {size} {fmt} {shape} {extra}\n"
        if os.path.exists(stamp) and open(stamp).read() == want:
            continue
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        t = time.perf_counter()
        sh([os.path.join(build, "bench", "gen_area"), folder, str(count), str(size), fmt, shape,
            "1"] + extra)
        with open(stamp, "w") as f:
            f.write(want)
        print(f"  generated {name}: {count} x {size}^2 {fmt} {shape} "
              f"in {time.perf_counter() - t:.1f} s", file=sys.stderr)


class Case:
    def __init__(self, name, folder, fmt, count, levels, out, shape="mesh", draw=False,
                 mask=False):
        self.name, self.folder, self.fmt, self.count = name, folder, fmt, count
        self.levels, self.out, self.shape, self.draw, self.mask = levels, out, shape, draw, mask

    def answers(self, data):
        """The scripted answers of the whole run (English, user-named disk)."""
        codes = {"raw": "0", "bmp": "1", "asc": "2"}
        a = ["0", "2", data, self.folder, str(self.count)]
        a += [f"img{k}" for k in range(1, self.count + 1)]
        a += [codes[self.fmt]] * self.count
        a += WEIGHTS[: self.count]
        a += ["0", "mask", "0"] if self.mask else ["1"]
        a += ["res_" + self.name, codes[self.out], str(self.levels)]
        if self.fmt == "bmp" and not self.mask:
            a += ["25"]  # pixel size: a BMP image carries none
        utm_known = self.fmt == "asc"
        if not self.draw:
            a += ["1"]
        elif self.shape == "mesh":
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
        ext = {"raw": ".raw", "bmp": ".bmp", "asc": ".asc"}[self.fmt]
        return [os.path.join(data, self.folder, f"img{k}{ext}") for k in range(1, self.count + 1)]


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


def run_cases(build, data, size, runs, cases):
    binary = os.path.join(build, "tessera_summary")
    results = {}
    for c in cases:
        warm(c.inputs(data))
        walls, peaks = [], []
        for _ in range(runs):
            w, m = timed([binary], c.answers(data))
            walls.append(w)
            peaks.append(m)
        results[c.name] = (statistics.median(walls), max(peaks), walls)
        print(f"  {c.name}: {statistics.median(walls):.3f} s, {max(peaks) / MIB:.0f} MiB",
              file=sys.stderr)
    return results


def numpy_available():
    try:
        sh(["/usr/bin/python3", "-c", "import numpy"], stderr=subprocess.DEVNULL)
        return True
    except (subprocess.CalledProcessError, FileNotFoundError):
        return False


def run_paired(build, data, size, runs, case):
    """The main case and the numpy baseline on the same inputs, run in turn, so that both
    see the same state of the machine; returns both results (the baseline None without
    numpy)."""
    here = os.path.dirname(os.path.abspath(__file__))
    args = [str(size), str(size), str(case.levels), os.path.join(data, "numpy_out.raw")]
    args += [path + ":" + WEIGHTS[k] for k, path in enumerate(case.inputs(data))]
    use_numpy = numpy_available()
    warm(case.inputs(data))
    ours, base = ([], []), ([], [])
    for _ in range(runs):
        w, m = timed([os.path.join(build, "tessera_summary")], case.answers(data))
        ours[0].append(w)
        ours[1].append(m)
        if use_numpy:
            w, m = timed(["/usr/bin/python3", os.path.join(here, "numpy_baseline.py")] + args)
            base[0].append(w)
            base[1].append(m)
    summary = lambda r: (statistics.median(r[0]), max(r[1]), r[0])
    print(f"  {case.name}: {statistics.median(ours[0]):.3f} s; numpy "
          f"{statistics.median(base[0]) if use_numpy else float('nan'):.3f} s", file=sys.stderr)
    return summary(ours), summary(base) if use_numpy else None


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


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--data", default=None)
    ap.add_argument("--size", type=int, default=8000)
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--quick", action="store_true", help="fewer cases, for a smoke test")
    a = ap.parse_args()
    build = os.path.abspath(a.build)
    data = os.path.abspath(a.data or os.path.join(build, "bench-data"))
    os.makedirs(data, exist_ok=True)
    size = a.size
    cells = size * size

    print(f"generating study areas of {size} x {size} in {data}", file=sys.stderr)
    generate(build, data, size)

    cases = [
        Case("raw3_L10", "raw_mesh", "raw", 3, 10, "raw"),
        Case("raw3_L99", "raw_mesh", "raw", 3, 99, "raw"),
        Case("raw1_L10", "raw_mesh", "raw", 1, 10, "raw"),
        Case("raw5_L10", "raw_mesh", "raw", 5, 10, "raw"),
    ]
    if not a.quick:
        cases += [
            Case("bmp3_bmp", "bmp_mesh", "bmp", 3, 10, "bmp"),
            Case("asc1_asc", "asc_mesh", "asc", 1, 10, "asc"),
            Case("raw3_mask_asc", "raw_mask", "raw", 3, 10, "asc", mask=True),
            Case("mesh_drawn", "raw_mesh", "raw", 3, 10, "raw", draw=True),
            Case("window_drawn", "raw_window", "raw", 3, 10, "bmp", shape="window", draw=True),
        ]
    print("whole runs", file=sys.stderr)
    results = run_cases(build, data, size, a.runs, cases[1:])
    results[cases[0].name], base = run_paired(build, data, size, a.runs, cases[0])
    print("micro-benchmarks", file=sys.stderr)
    micro = run_micro(build, data, a.quick)
    print("tessera_gis prepare against gdal_translate", file=sys.stderr)
    prepare_lines, prepare_checks = ([], []) if a.quick else \
        bench_prepare.run(build, data, size, a.runs, timed)

    # ---- the table ----
    print(f"\n### Whole runs ({size} x {size} cells, median of {a.runs} runs, warm cache, "
          f"one thread)\n")
    print("| case | images | levels | in -> out | wall s (median) | runs s | Mcells/s | peak MiB |"
          " bytes/cell | vs numpy |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for c in cases:
        w, m, walls = results[c.name]
        ratio = f"{base[0] / w:.1f}x faster" if base and c.name == "raw3_L10" else ""
        what = f"{c.fmt} -> {c.out}" + (" + mask" if c.mask else "") + \
            (f", {c.shape} drawn" if c.draw else "")
        print(f"| {c.name} | {c.count} | {c.levels} | {what} | {w:.3f} | "
              f"{' '.join(f'{x:.2f}' for x in walls)} | {cells / w / 1e6:.0f} | {m / MIB:.0f} | "
              f"{m / cells:.1f} | {ratio} |")
    if base:
        w, m, walls = base
        print(f"| numpy baseline | 3 | 10 | raw -> raw | {w:.3f} | "
              f"{' '.join(f'{x:.2f}' for x in walls)} | {cells / w / 1e6:.0f} | {m / MIB:.0f} | "
              f"{m / cells:.1f} | 1.0x |")
    else:
        print("\n(numpy baseline skipped: /usr/bin/python3 has no numpy; "
              "apt-get install python3-numpy)")
    print("\nbytes/cell = peak RSS / cells; Mcells/s = cells of the grid / wall time. The "
          "baseline and raw3_L10 are run in turn.")

    if micro:
        print("\n### Stages (micro-benchmarks, median of 3)\n")
        print("MB/s: the file's bytes for the formats, the memory read and written for the "
              "loops. One grid of 4000 x 4000 cells a call; files in the page cache.\n")
        print("| stage | Mcells/s | MB/s | time per call |")
        print("|---|---|---|---|")
        for name, items, nbytes, t, unit in micro:
            print(f"| {name} | {items / 1e6:.0f} | "
                  f"{nbytes / 1e6:.0f} | {t:.1f} {unit} |".replace("| 0 |", "| - |"))

    if prepare_lines:
        print("\n" + "\n".join(prepare_lines))

    # ---- the targets ----
    print("\n### Targets\n")
    checks = []
    main_case = results["raw3_L10"][0]
    if base:
        checks.append((f"whole run >= 2x faster than numpy ({base[0] / main_case:.1f}x)",
                       base[0] / main_case >= 2.0))
    worst = max(results[n][1] for n in ("raw1_L10", "raw3_L10", "raw5_L10"))
    checks.append((f"peak memory <= 22 B/cell + 64 MiB (worst {worst / MIB:.0f} MiB, limit "
                   f"{(22 * cells + 64 * MIB) / MIB:.0f} MiB)", worst <= 22 * cells + 64 * MIB))
    m1, m5 = results["raw1_L10"][1], results["raw5_L10"][1]
    checks.append((f"peak memory flat in K (K=1 {m1 / MIB:.0f}, K=3 "
                   f"{results['raw3_L10'][1] / MIB:.0f}, K=5 {m5 / MIB:.0f} MiB)",
                   m5 <= m1 + 16 * MIB))
    r99 = results["raw3_L99"][0] / main_case
    checks.append((f"99 levels within 1.2x of 10 levels ({r99:.2f}x)", r99 <= 1.2))
    rates = {name: (items, nbytes) for name, items, nbytes, _, _ in micro}

    def rate(prefix, which):
        found = [v for k, v in rates.items() if k.startswith(prefix)]
        return found[0][which] if found else None

    for label, prefix, which, limit, unit in [
        ("ASCII writing", "WriteAscii", 0, 100e6, "Mcells/s"),
        ("ASCII reading", "ReadAscii", 0, 40e6, "Mcells/s"),
        ("raw reading", "ReadRaw", 1, 1e9, "MB/s"),
        ("raw writing", "WriteRaw", 1, 1e9, "MB/s"),
        ("BMP reading", "ReadBmp", 1, 1e9, "MB/s"),
        ("BMP writing", "WriteBmp", 1, 1e9, "MB/s"),
    ]:
        v = rate(prefix, which)
        if v is None:
            checks.append((f"{label}: not measured", False))
        else:
            checks.append((f"{label} {v / 1e6:.0f} {unit} (target {limit / 1e6:.0f})", v >= limit))
    checks += prepare_checks
    for text, ok in checks:
        print(f"- [{'x' if ok else ' '}] {'met' if ok else 'MISSED'}: {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
