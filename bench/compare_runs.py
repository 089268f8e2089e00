#!/usr/bin/python3
"""Checks that two builds of tessera_summary give byte-identical results: runs both over the
same scripted runs on generated study areas (three input formats, both processing types,
with and without mask and mesh drawing, three output formats, 1 to 3 images, 7 and 99
levels) and compares every output file and the console text.

    compare_runs.py --gen BUILD/bench/gen_area REFERENCE_BINARY NEW_BINARY [--size S]
                    [--new-files SUFFIX ...] [--mixed]

Use it before and after an optimisation: the reference is a build of the code before it.
--new-files names the files that only the new build writes (by the end of their names, such
as _run.json): they are counted, not compared; every other file must be the same.
--mixed adds runs whose images mix the formats, with a raw image whose descriptor is asked,
and runs that stop (a missing image, a grid of another size, sums too large, answers that
end at the descriptor question): what each tells, in which order, must be the same.
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


# Runs of mixed images: (name, images as (file, format code), weights, how the answers end).
# "nodescr" is a raw image without its descriptor: the run asks its size; "bad" is a BMP file
# that is not a BMP, "baddescr" a raw image whose descriptor holds words, "small" a raw image
# of another size.
MIXED = [
    ("mixed_valid", [("r1", "0"), ("nodescr", "0"), ("a1", "2"), ("b1", "1"), ("r2", "0")],
     ["0.5", "1", "0.25", "2", "1.5"], "full"),
    ("mixed_bmp_first", [("b1", "1"), ("r1", "0"), ("nodescr", "0")], ["1", "2", "3"], "full"),
    ("mixed_asc_last", [("r1", "0"), ("b1", "1"), ("a1", "2")], ["1", "1", "1"], "full"),
    ("stop_bad_bmp", [("r1", "0"), ("r2", "0"), ("bad", "1")], ["1", "1", "1"], "full"),
    ("stop_bad_descriptor", [("r1", "0"), ("b1", "1"), ("baddescr", "0")], ["1", "1", "1"],
     "full"),
    ("stop_size", [("r1", "0"), ("b1", "1"), ("small", "0")], ["1", "1", "1"], "full"),
    ("stop_not_finite", [("r1", "0"), ("b1", "1")], ["1e308", "1e308"], "full"),
    ("stop_at_question", [("r1", "0"), ("b1", "1"), ("nodescr", "0")], ["1", "1", "1"], "cut"),
]


def mixed_area(gen, work, size):
    """A folder with raw, BMP and ASCII images of one size, and the odd ones of MIXED."""
    base = os.path.join(work, "mixed_src")
    for fmt in CODES:
        folder = os.path.join(base, fmt)
        os.makedirs(folder)
        subprocess.run([gen, folder, "2", str(size), fmt, "mesh", "11"], check=True)
    area = os.path.join(work, "mixed_base")
    os.makedirs(area)
    for k in (1, 2):
        shutil.copy(os.path.join(base, "raw", f"img{k}.raw"), os.path.join(area, f"r{k}.raw"))
        shutil.copy(os.path.join(base, "raw", f"img{k}.txt"), os.path.join(area, f"r{k}.txt"))
    shutil.copy(os.path.join(base, "raw", "img2.raw"), os.path.join(area, "nodescr.raw"))
    shutil.copy(os.path.join(base, "bmp", "img1.bmp"), os.path.join(area, "b1.bmp"))
    shutil.copy(os.path.join(base, "asc", "img2.asc"), os.path.join(area, "a1.asc"))
    with open(os.path.join(area, "bad.bmp"), "wb") as f:
        f.write(b"not a bitmap at all" * 10)
    shutil.copy(os.path.join(base, "raw", "img1.raw"), os.path.join(area, "baddescr.raw"))
    with open(os.path.join(area, "baddescr.txt"), "w") as f:
        f.write("rows cols\n")
    with open(os.path.join(area, "small.raw"), "wb") as f:
        f.write(bytes(range(100)))
    with open(os.path.join(area, "small.txt"), "w") as f:
        f.write("10\n10\n1\n0\n255\n25\n")
    return area


def mixed_answers(data, images, weights, mode, size):
    a = ["0", "2", data, "zone", str(len(images))] + [f for f, _ in images]
    a += [code for _, code in images] + weights + ["1", "res", "0", "7"]
    text = "\n".join(a) + "\n"
    # The descriptor question of "nodescr" reads three numbers after the dialogue's answers:
    # rows, columns, pixel size; "cut" ends the answers at it. Then no mesh drawing.
    if mode == "full":
        if ("nodescr", "0") in images:
            text += f"{size}\n{size}\n25\n"
        text += "1\n"
    return text


def run_mixed(a, work):
    area = mixed_area(a.gen, work, a.size)
    runs = differ = 0
    for name, images, weights, mode in MIXED:
        outs = {}
        for which, binary in (("ref", a.reference), ("new", a.new)):
            data = os.path.join(work, "mixed_" + which)
            shutil.rmtree(data, ignore_errors=True)
            shutil.copytree(area, os.path.join(data, "zone"))
            text = mixed_answers(data, images, weights, mode, a.size)
            p = subprocess.run([binary], input=text.encode(), capture_output=True,
                               env=dict(os.environ, LC_ALL="C"))
            files = {}
            for f in sorted(os.listdir(os.path.join(data, "zone"))):
                with open(os.path.join(data, "zone", f), "rb") as fh:
                    files[f] = fh.read()
            # The folder's name differs between the two: it is not part of the comparison.
            outs[which] = (p.stdout.replace(data.encode(), b"DATA"),
                           p.stderr.replace(data.encode(), b"DATA"), p.returncode,
                           {f: b.replace(data.encode(), b"DATA") for f, b in files.items()
                            if not f.endswith(tuple(a.new_files))})
        runs += 1
        if outs["ref"] != outs["new"]:
            differ += 1
            print(f"DIFFERENT: {name}")
    print(f"{runs} mixed runs compared, {differ} different")
    return differ


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--gen", required=True)
    ap.add_argument("reference")
    ap.add_argument("new")
    ap.add_argument("--size", type=int, default=1003)
    ap.add_argument("--new-files", nargs="*", default=[])
    ap.add_argument("--mixed", action="store_true")
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
        if a.mixed:
            differ += run_mixed(a, work)
        return 1 if differ else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
