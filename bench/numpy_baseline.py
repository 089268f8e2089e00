#!/usr/bin/python3
"""The comparison point of the benchmarks: a straightforward numpy script doing the same
weighted sum and equal-interval levels on the same raw images, and writing the level grid.

    numpy_baseline.py ROWS COLS LEVELS OUT.raw IMAGE.raw:WEIGHT ...
"""
import sys

import numpy as np


def main(argv):
    rows, cols, levels = int(argv[1]), int(argv[2]), int(argv[3])
    out = argv[4]
    total = np.zeros((rows, cols), dtype=np.float64)
    last = None
    for item in argv[5:]:
        path, weight = item.rsplit(":", 1)
        last = np.fromfile(path, dtype=np.uint8, count=rows * cols).reshape(rows, cols)
        total += last.astype(np.float64) * float(weight)
    valid = last < 255
    top = max(0.0, float(total[valid].max())) if valid.any() else 0.0
    step = top / levels
    result = np.full((rows, cols), 255, dtype=np.uint8)
    if step > 0:
        level = np.floor(total / step) + 1
        keep = valid & (total >= 0) & (level <= levels)
        result[keep] = level[keep].astype(np.uint8)
    result.tofile(out)


if __name__ == "__main__":
    main(sys.argv)
