#!/usr/bin/python3
"""The comparison point of the benchmarks: a straightforward numpy script doing the work of a
whole tessera_summary run on raw images (no mask, no mesh drawn, raw result), and writing the
same result image:

- the item statistics of each image (the cells of each value, 255 counted as 254), printed;
- the weighted sums, each product rounded and added in image order from 0.0;
- the valid cells (the last image below 255; a single image makes every cell valid), the
  cells where an image before the last holds 255 under a valid cell (counted), and the check
  that every valid sum is finite;
- the largest valid sum, the level bounds as running sums of the step, the level of every
  valid cell (the largest sum in the top level);
- the processing type told from the middle row, and the holes of the data area (the region
  of a square cell mesh, or inside the band of a moving window) filled with the top level;
- the cells where the first image holds 0 made background; the level grid written.

    numpy_baseline.py ROWS COLS LEVELS OUT.raw IMAGE.raw:WEIGHT ...
"""
import sys

import numpy as np

BACKGROUND = 255


def items(image):
    counts = np.bincount(image.ravel(), minlength=256)
    counts[254] += counts[255]
    counts[255] = 0
    return counts


def levels_of(total, valid, top, count):
    """The level of every cell: k where lower[k] <= sum < upper[k], the bounds running sums of
    the step from 0; the largest valid sum in the top level; 255 elsewhere."""
    step = top / count
    upper = [0.0]
    for _ in range(count):
        upper.append(upper[-1] + step)  # the same doubles as the program's running sums
    bounds = np.array(upper[1:])
    level = np.searchsorted(bounds, total, side="right") + 1
    inside = valid & (total >= 0.0) & (total < upper[count])
    result = np.where(inside, level, BACKGROUND).astype(np.uint8)
    result[valid & (total == top)] = count
    return result


def fill_holes(result, count):
    """The holes of the detected data area take the top level."""
    rows, cols = result.shape
    middle = result[rows // 2]
    data = np.flatnonzero(middle[: cols // 2] != BACKGROUND)
    band = int(data[0]) if data.size else 0
    if band == 0:
        # A square cell mesh: the data area ends at the last data column of the middle row
        # and the last data row of the middle column, each searched from the far edge.
        right = np.flatnonzero(middle[cols // 2 + 1:] != BACKGROUND)
        last_col = cols // 2 + 1 + int(right[-1]) if right.size else 0
        down = np.flatnonzero(result[rows // 2 + 1:, cols // 2] != BACKGROUND)
        last_row = rows // 2 + 1 + int(down[-1]) if down.size else 0
        area = result[:last_row, :last_col]
    else:
        area = result[band:rows - band, band:cols - band]
    area[area == BACKGROUND] = count


def main(argv):
    rows, cols, count = int(argv[1]), int(argv[2]), int(argv[3])
    out = argv[4]
    total = np.zeros((rows, cols), dtype=np.float64)
    images = []
    for k, item in enumerate(argv[5:]):
        path, weight = item.rsplit(":", 1)
        image = np.fromfile(path, dtype=np.uint8, count=rows * cols).reshape(rows, cols)
        print(f"image {k + 1}:", " ".join(f"{v}:{n}" for v, n in enumerate(items(image)) if n))
        if k == 0:
            zeros = image == 0
        total += image.astype(np.float64) * float(weight)
        images.append(image)
    last = images[-1]
    valid = last < 255 if len(images) > 1 else np.ones_like(last, dtype=bool)
    for k, image in enumerate(images[:-1]):
        print(f"image {k + 1}: no data in {int(np.count_nonzero((image == 255) & valid))} valid cells")
    sums = total[valid]
    if not np.isfinite(sums).all():
        sys.exit("a weighted sum is not a finite number")
    top = max(0.0, float(sums.max())) if sums.size else 0.0
    result = levels_of(total, valid, top, count)
    fill_holes(result, count)
    result[zeros] = BACKGROUND
    result.tofile(out)


if __name__ == "__main__":
    main(sys.argv)
