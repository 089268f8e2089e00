#!/usr/bin/env python3
"""Writes the sample study area of examples/zone1: three sub-index images (geology, soil,
geomorphology) made by a square cell mesh, the same three made by a moving window, and a
mask of the study area, each in the three grid formats of tessera_summary (raw bytes with a
six-line descriptor, 8-bit grey BMP, ASCII grid with the .prj that GIS tools write beside it).

The area is a synthetic valley: for each theme a map of units (lithologies, soil types,
landforms) is drawn from deterministic value noise; a sub-index is the number of distinct
units met in a cell of the mesh or in the window around a pixel, the usual way a
geodiversity sub-index is counted. A lake carries 0 in every sub-index.

Standard library only; the output is the same byte for byte on every run and machine.
Usage: make_sample.py [OUTPUT_FOLDER]   (default: the zone1 folder beside this script)
"""

import math
import os
import struct
import sys

# Grid and mesh. A cell of the mesh is 2R+1 pixels wide; the data area holds whole cells and
# the strip beyond it (an incomplete row and column of cells) is background 255.
R = 2
CELL = 2 * R + 1
DATA_ROWS, DATA_COLS = 40 * CELL, 60 * CELL  # 200 x 300 pixels, 40 x 60 cells
ROWS, COLS = DATA_ROWS + 3, DATA_COLS + 3  # 203 x 303
PIXEL = 25  # metres
X_MIN, Y_MIN = 431250.0, 4582500.0  # lower-left corner of the grid (UTM metres)
BACKGROUND = 255
# The coordinate reference system of the area (WGS 84 / UTM zone 30N, EPSG:32630) as GDAL's
# ASCII grid driver writes it beside a grid: ESRI WKT on one line.
PRJ = (
    'PROJCS["WGS_1984_UTM_Zone_30N",GEOGCS["GCS_WGS_1984",'
    'DATUM["D_WGS_1984",SPHEROID["WGS_1984",6378137.0,298.257223563]],'
    'PRIMEM["Greenwich",0.0],UNIT["Degree",0.0174532925199433]],'
    'PROJECTION["Transverse_Mercator"],PARAMETER["False_Easting",500000.0],'
    'PARAMETER["False_Northing",0.0],PARAMETER["Central_Meridian",-3.0],'
    'PARAMETER["Scale_Factor",0.9996],PARAMETER["Latitude_Of_Origin",0.0],'
    'UNIT["Meter",1.0]]'
)


def hash01(ix, iy, seed):
    """A deterministic pseudo-random number in [0, 1) for a lattice point."""
    h = (ix * 374761393 + iy * 668265263 + seed * 2147483647) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 1274126177) & 0xFFFFFFFF
    h ^= h >> 16
    return h / 4294967296.0


def value_noise(x, y, scale, seed):
    """Smooth noise in [0, 1): bilinear interpolation of lattice values, smoothstep weights."""
    fx, fy = x / scale, y / scale
    ix, iy = math.floor(fx), math.floor(fy)
    tx, ty = fx - ix, fy - iy
    tx, ty = tx * tx * (3 - 2 * tx), ty * ty * (3 - 2 * ty)
    a = hash01(ix, iy, seed)
    b = hash01(ix + 1, iy, seed)
    c = hash01(ix, iy + 1, seed)
    d = hash01(ix + 1, iy + 1, seed)
    return (a * (1 - tx) + b * tx) * (1 - ty) + (c * (1 - tx) + d * tx) * ty


def fractal(x, y, scale, seed, octaves=3):
    total, amp, norm = 0.0, 1.0, 0.0
    for o in range(octaves):
        total += amp * value_noise(x, y, scale / (2**o), seed + 17 * o)
        norm += amp
        amp *= 0.5
    return total / norm


def in_lake(i, j):
    """A lake in the lower middle of the valley."""
    di, dj = (i - 128) / 14.0, (j - 170) / 24.0
    return di * di + dj * dj <= 1.0


def in_study_area(i, j):
    """The study area: a catchment-like lobed outline around the valley centre."""
    ci, cj = 100.0, 150.0
    di, dj = i - ci, j - cj
    angle = math.atan2(di, dj)
    radius = 1.0 + 0.14 * math.sin(3 * angle + 0.4) + 0.07 * math.sin(7 * angle + 1.3)
    return (dj / 120.0) ** 2 + (di / 80.0) ** 2 <= radius * radius


def unit_maps():
    """Unit maps of the three themes over the data area, one list of rows each."""
    geology, soil, landform = [], [], []
    for i in range(DATA_ROWS):
        g_row, s_row, l_row = [], [], []
        for j in range(DATA_COLS):
            # Rocks: many thin folded units in the mountains of the north-west, few in the
            # plain of the south-east.
            mountains = max(0.0, 1.0 - math.hypot(i / DATA_ROWS, j / DATA_COLS) / 0.9)
            g = fractal(j + 0.6 * i, 0.5 * i, 60.0, 11, octaves=2)
            g_row.append(int(g * (4 + 45 * mountains)))
            # Soils: many types along the river that crosses the valley, few on the slopes.
            river_row = 100 + 25 * math.sin(j / 45.0)
            river = math.exp(-(((i - river_row) / 30.0) ** 2))
            s = fractal(i, j, 40.0, 29, octaves=2)
            s_row.append(int(s * (4 + 50 * river)))
            # Landforms: elevation bands of a relief that is steep in the north-east.
            steep = max(0.0, 1.0 - math.hypot(i / DATA_ROWS, 1.0 - j / DATA_COLS) / 0.9)
            elev = fractal(i, j, 80.0, 43, octaves=2)
            l_row.append(int(elev * (5 + 45 * steep)))
        geology.append(g_row)
        soil.append(s_row)
        landform.append(l_row)
    return geology, soil, landform


def distinct_in(units, i0, i1, j0, j1):
    seen = set()
    for i in range(max(i0, 0), min(i1, DATA_ROWS)):
        seen.update(units[i][max(j0, 0):min(j1, DATA_COLS)])
    return len(seen)


def cell_mesh_image(units):
    """Square cell mesh: one value per cell, the number of units in it; 255 beyond the data."""
    grid = [[BACKGROUND] * COLS for _ in range(ROWS)]
    for ci in range(DATA_ROWS // CELL):
        for cj in range(DATA_COLS // CELL):
            i0, j0 = ci * CELL, cj * CELL
            centre_i, centre_j = i0 + R, j0 + R
            v = 0 if in_lake(centre_i, centre_j) else distinct_in(units, i0, i0 + CELL, j0, j0 + CELL)
            for i in range(i0, i0 + CELL):
                grid[i][j0:j0 + CELL] = [v] * CELL
    return grid


def moving_window_image(units):
    """Moving window of range R: each pixel the number of units in the window around it;
    a band of R pixels of 255 along the four borders, where the window does not fit."""
    grid = [[BACKGROUND] * COLS for _ in range(ROWS)]
    for i in range(R, ROWS - R):
        for j in range(R, COLS - R):
            if i >= DATA_ROWS or j >= DATA_COLS:
                # Beyond the mapped units the window sees the last mapped row or column.
                ii, jj = min(i, DATA_ROWS - 1), min(j, DATA_COLS - 1)
            else:
                ii, jj = i, j
            if in_lake(i, j):
                grid[i][j] = 0
            else:
                grid[i][j] = distinct_in(units, ii - R, ii + R + 1, jj - R, jj + R + 1)
    return grid


def mask_image():
    return [[1 if in_study_area(i, j) else BACKGROUND for j in range(COLS)] for i in range(ROWS)]


# ---- the three file formats ----


def write_bytes(path, data):
    with open(path, "wb") as f:
        f.write(data)


def raw_bytes(grid):
    return b"".join(bytes(row) for row in grid)


def descriptor_text(rows, cols, pixel):
    return "%d\n%d\n%d\n%d\n%d\n%d\n" % (rows, cols, 1, 0, 255, pixel)


def bmp_bytes(grid):
    """8-bit BMP with the 256-entry grey palette, last row first, rows padded to 4 bytes."""
    rows, cols = len(grid), len(grid[0])
    stride = (cols + 3) // 4 * 4
    image_size = rows * stride
    offset = 14 + 40 + 1024
    head = struct.pack("<2sIHHI", b"BM", offset + image_size, 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, cols, rows, 1, 8, 0, image_size, 10000, 10000, 0, 0)
    palette = b"".join(bytes((v, v, v, 0)) for v in range(256))
    pad = bytes(stride - cols)
    pixels = b"".join(bytes(row) + pad for row in reversed(grid))
    return head + info + palette + pixels


def ascii_text(grid):
    """An ASCII grid as a GIS exports it: keyword and value per header line, one row a line."""
    head = (
        "ncols         %d\n"
        "nrows         %d\n"
        "xllcorner     %.1f\n"
        "yllcorner     %.1f\n"
        "cellsize      %d\n"
        "NODATA_value  255\n" % (len(grid[0]), len(grid), X_MIN, Y_MIN, PIXEL)
    )
    return head + "".join(" ".join(str(v) for v in row) + "\n" for row in grid)


def write_all_formats(folder, name, grid):
    base = os.path.join(folder, name)
    write_bytes(base + ".raw", raw_bytes(grid))
    write_bytes(base + ".txt", descriptor_text(len(grid), len(grid[0]), PIXEL).encode())
    write_bytes(base + ".bmp", bmp_bytes(grid))
    write_bytes(base + ".asc", ascii_text(grid).encode())
    write_bytes(base + ".prj", PRJ.encode())


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "zone1")
    os.makedirs(folder, exist_ok=True)
    themes = dict(zip(("geol", "soil", "geom"), unit_maps()))
    for name, units in themes.items():
        write_all_formats(folder, name, cell_mesh_image(units))
        write_all_formats(folder, "mw_" + name, moving_window_image(units))
    write_all_formats(folder, "mask", mask_image())
    # A geomorphology image delivered without its descriptor: the run asks its size and
    # writes the descriptor beside it.
    write_bytes(os.path.join(folder, "geom_nodesc.raw"), raw_bytes(cell_mesh_image(themes["geom"])))


if __name__ == "__main__":
    main()
