"""Independent readers of tessera_summary's grid files and a runner of scripted runs, shared
by the run record and export tests. numpy only (no GDAL), so that the readers owe nothing to
the code under test."""

import os
import shutil
import struct
import subprocess

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
EXAMPLES = os.path.join(REPO, "examples")
E2E = os.path.join(REPO, "tests", "e2e")


def slurp(path, binary=False):
    with open(path, "rb" if binary else "r") as f:
        return f.read()


def read_raw(path, rows, cols):
    data = np.fromfile(path, dtype=np.uint8)
    return data[: rows * cols].reshape(rows, cols)


def read_descriptor(path):
    values = [int(v) for v in slurp(path).split()[:6]]
    return values[0], values[1], values[5]  # rows, columns, pixel size


def read_bmp(path):
    """An 8-bit BMP: the stored index of every pixel, top row first."""
    b = slurp(path, binary=True)
    offset = struct.unpack_from("<I", b, 10)[0]
    width, height = struct.unpack_from("<ii", b, 18)
    stride = (width + 3) // 4 * 4
    rows = [b[offset + r * stride: offset + r * stride + width] for r in range(height)]
    return np.array([list(r) for r in reversed(rows)], dtype=np.uint8)


def read_asc(path):
    """An ASCII grid: (values modulo 256, header dict keyed by line number 0..5)."""
    words = slurp(path).split()
    cols, rows = int(words[1]), int(words[3])
    # The program's own results have six header lines; the sample's inputs too.
    values = np.array([int(v) for v in words[12: 12 + rows * cols]], dtype=np.int64)
    header = {"xll": float(words[5]), "yll": float(words[7]), "cellsize": float(words[9])}
    return (values % 256).astype(np.uint8).reshape(rows, cols), header


def read_image(base, fmt):
    """An input image by its path and base name and its format code (0 raw, 1 BMP, 2 ASCII)."""
    if fmt == 0:
        rows, cols, _ = read_descriptor(base + ".txt")
        return read_raw(base + ".raw", rows, cols)
    if fmt == 1:
        return read_bmp(base + ".bmp")
    return read_asc(base + ".asc")[0]


def read_result(folder, record):
    """The result image a record names, resolved in the record's folder."""
    name = record["result"]["file"].replace("\\", "/").split("/")[-1]
    path = os.path.join(folder, name)
    fmt = record["result"]["format"]
    rows, cols = record["grid"]["rows"], record["grid"]["cols"]
    if fmt == "raw":
        return read_raw(path, rows, cols)
    if fmt == "bmp":
        return read_bmp(path)
    return read_asc(path)[0]


def parse_answers(text):
    """The parameters a scripted run gives in its dialogue: images (name, format, weight as
    typed), mask, result name, output format and number of levels."""
    t = text.split()
    i = 2 if t[1] != "2" else 3
    i += 1  # folder
    n = int(t[i])
    names = t[i + 1: i + 1 + n]
    formats = [int(v) for v in t[i + 1 + n: i + 1 + 2 * n]]
    weights = t[i + 1 + 2 * n: i + 1 + 3 * n]
    i += 1 + 3 * n
    mask = None
    if t[i] == "0":
        mask = (t[i + 1], int(t[i + 2]))
        i += 2
    return {"images": list(zip(names, formats, weights)), "mask": mask, "result": t[i + 1],
            "out": int(t[i + 2]), "levels": int(t[i + 3])}


def fresh_area(root):
    """A copy of the sample study area in root/zone1."""
    zone = os.path.join(root, "zone1")
    shutil.copytree(os.path.join(EXAMPLES, "zone1"), zone)
    return zone


def run_summary(binary, root, answers):
    """Runs tessera_summary in root with the answers text; returns (status, console)."""
    env = dict(os.environ, LC_ALL="C")
    done = subprocess.run([binary], input=answers.encode(), stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, cwd=root, env=env, timeout=120, check=False)
    return done.returncode, done.stdout.decode("latin-1")


# The scripted runs: the golden runs of the sample area (every result format, both processing
# types, the mesh drawn or not), a single raw image (its 255 cells take part), and weights
# whose sums round.
def scripted_runs():
    runs = {}
    for lang in ("en", "fr", "es"):
        runs[lang] = slurp(os.path.join(EXAMPLES, "answers_%s.txt" % lang))
    for name in ("mesh_raw", "mesh_asc", "window_bmp"):
        runs[name] = slurp(os.path.join(E2E, name + ".txt"))
    runs["single_raw"] = "0 2 . zone1 1 geol 0 0.35 1 res_one 0 9 1\n"
    runs["rounding"] = "0 2 . zone1 3 geol soil geom 0 1 2 0.1 0.7 0.3 1 res_rd 2 7 1\n"
    return runs
