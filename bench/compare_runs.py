#!/usr/bin/python3
"""Checks that two builds of tessera_summary give byte-identical results: runs both over the
same scripted runs on generated study areas (three input formats, both processing types,
with and without mask and mesh drawing, three output formats, 1 to 3 images, 7 and 99
levels) and compares every output file and the console text.

    compare_runs.py --gen BUILD/bench/gen_area REFERENCE_BINARY NEW_BINARY [--size S]
                    [--new-files SUFFIX ...]

Use it before and after an optimisation: the reference is a build of the code before it.
--new-files names the files that only the new build writes (by the end of their names, such
as _run.json): they are counted, not compared; every other file must be the same.
"""
import argparse
import filecmp
import glob
import os
import shutil
import subprocess
import sys
import tempfile

CODES = {"raw": "0", "bmp": "1", "asc": "2"}
WEIGHTS = {1: ["0.1"], 2: ["-1.5", "2.25"], 3: ["0.1", "0.3333333333333333", "0.7"]}


def answers(data, folder, count, levels, mask, out, draw):
    fmt, shape = folder.split("_")
    a = ["0", "2", data, folder, str(count)] + [f"img{k}" for k in range(1, count + 1)]
    a += [CODES[fmt]] * count + WEIGHTS[count]
    a += ["0", "mask", "0"] if mask else ["1"]
    a += ["res", CODES[out], str(levels)]
    if fmt == "bmp" and not mask:
        a += ["25"]  # pixel size
    if not draw:
        a += ["1"]
    elif shape == "mesh":
        a += ["0", "0"] + ([] if fmt == "asc" else ["500000", "4000000"]) + ["2"]
    else:
        a += ["0", "0", "0", "0"]
    a += ["500000.5", "4000000.25"]  # the map origin of an ASCII result, when it is asked
    return "\n".join(a) + "\n"


def run(binary, data, folder, text, dest):
    for f in glob.glob(os.path.join(data, folder, "res_*")):
        os.remove(f)
    p = subprocess.run([binary], input=text.encode(), capture_output=True,
                       env=dict(os.environ, LC_ALL="C"))
    os.makedirs(dest)
    with open(os.path.join(dest, "console"), "wb") as f:
        f.write(p.stdout + b"\nstatus %d\n" % p.returncode)
    for f in glob.glob(os.path.join(data, folder, "res_*")):
        shutil.move(f, dest)
    return p.returncode


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--gen", required=True)
    ap.add_argument("reference")
    ap.add_argument("new")
    ap.add_argument("--size", type=int, default=1003)
    ap.add_argument("--new-files", nargs="*", default=[])
    a = ap.parse_args()
    work = tempfile.mkdtemp(prefix="tessera_compare_")
    try:
        data = os.path.join(work, "data")
        for fmt in CODES:
            for shape in ("mesh", "window"):
                folder = os.path.join(data, f"{fmt}_{shape}")
                os.makedirs(folder)
                subprocess.run([a.gen, folder, "3", str(a.size), fmt, shape, "7", "--mask"],
                               check=True)
        runs = differ = failed = added = 0
        for folder in sorted(os.listdir(data)):
            for count in (1, 3, 2):
                for levels in (7, 99):
                    for mask in (False, True):
                        for out in CODES:
                            for draw in (False, True):
                                if levels == 99 and (out != "raw" or count != 3):
                                    continue
                                name = f"{folder}_K{count}_L{levels}_{int(mask)}_{out}_{int(draw)}"
                                text = answers(data, folder, count, levels, mask, out, draw)
                                ref = os.path.join(work, "ref", name)
                                new = os.path.join(work, "new", name)
                                failed += run(a.reference, data, folder, text, ref) != 0
                                run(a.new, data, folder, text, new)
                                cmp = filecmp.dircmp(ref, new)
                                extra = [f for f in cmp.right_only
                                         if not f.endswith(tuple(a.new_files))]
                                added += len(cmp.right_only) - len(extra)
                                same = not cmp.left_only and not extra and all(
                                    filecmp.cmp(os.path.join(ref, f), os.path.join(new, f),
                                                shallow=False) for f in cmp.common_files)
                                if not same:
                                    differ += 1
                                    print(f"DIFFERENT: {name}")
                                runs += 1
        print(f"{runs} runs compared, {differ} different, {failed} reference runs stopped"
              + (f", {added} files only in the new build ({', '.join(a.new_files)})"
                 if a.new_files else ""))
        return 1 if differ else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
