#!/usr/bin/python3
"""`tessera_gis compose` against the GDAL-only route to the same map, side by side.

Three SIZE x SIZE Byte GeoTIFF layers (tiled, DEFLATE, no-data 255, about 1 % no-data each)
and a polygon boundary. compose makes the levelled, styled GeoTIFF (and its record, table,
style and report). The GDAL-only route makes the same level GeoTIFF with GDAL's tools:
gdal_rasterize for the boundary, gdal_calc.py for the weighted sum, gdalinfo for its largest
value, gdal_calc.py again for the levels, then gdal_translate through a VRT that carries the
colour table. The two run in turn, warm cache; medians and peak memory.

Called by run_bench.py (`make bench`).
"""
import os
import shutil
import statistics
import sys

MIB = 1024 * 1024
WEIGHTS = ["1", "2", "1.5"]
LEVELS = 10


def missing(build):
    if not os.path.exists(os.path.join(build, "tessera_gis")):
        return "tessera_gis was not built (GDAL not found at configure time)"
    for tool in ("gdal_calc.py", "gdal_rasterize", "gdal_translate", "gdalinfo"):
        if shutil.which(tool) is None:
            return f"{tool} is missing (apt-get install gdal-bin python3-gdal)"
    try:
        import numpy  # noqa: F401
        from osgeo import gdal  # noqa: F401
    except ImportError:
        return "GDAL's Python bindings or numpy are missing (apt-get install python3-gdal)"
    return None


def generate(folder, size):
    import numpy as np
    from osgeo import gdal, ogr, osr
    gdal.UseExceptions()
    stamp = os.path.join(folder, "stamp")
    paths = [os.path.join(folder, f"layer{k}.tif") for k in range(3)]
    boundary = os.path.join(folder, "boundary.geojson")
    if os.path.exists(stamp) and open(stamp).read() == f"{size}\n":
        return paths, boundary
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(2169)
    rng = np.random.default_rng(20)
    for k, path in enumerate(paths):
        ds = gdal.GetDriverByName("GTiff").Create(path, size, size, 1, gdal.GDT_Byte,
                                                  ["TILED=YES", "COMPRESS=DEFLATE"])
        ds.SetGeoTransform((50000.0, 10.0, 0.0, 140000.0, 0.0, -10.0))
        ds.SetSpatialRef(srs)
        band = ds.GetRasterBand(1)
        band.SetNoDataValue(255)
        for row in range(0, size, 512):
            rows = min(512, size - row)
            v = rng.integers(0, 12 + 4 * k, (rows, size), dtype=np.uint8)
            v[rng.random((rows, size)) < 0.01] = 255
            band.WriteArray(v, 0, row)
        ds = None
    ring = []
    import math
    cx, cy, r = 50000.0 + size * 5.0, 140000.0 - size * 5.0, size * 4.6
    for i in range(200):
        a = 2 * math.pi * i / 200
        ring.append((cx + r * math.cos(a) * (1 + 0.1 * math.sin(5 * a)), cy + r * math.sin(a)))
    ring.append(ring[0])
    d = ogr.GetDriverByName("GeoJSON").CreateDataSource(boundary)
    layer = d.CreateLayer("boundary", srs, ogr.wkbPolygon)
    f = ogr.Feature(layer.GetLayerDefn())
    f.SetGeometry(ogr.CreateGeometryFromWkt(
        "POLYGON((" + ",".join(f"{x} {y}" for x, y in ring) + "))"))
    layer.CreateFeature(f)
    d = None
    with open(stamp, "w") as f:
        f.write(f"{size}\n")
    return paths, boundary


def gdal_route(work, tifs, boundary, size, timed):
    """The GDAL-only route; returns (total wall seconds, peak bytes)."""
    import re
    import subprocess
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    mask, total, levels = (os.path.join(work, n) for n in ("mask.tif", "sum.tif", "levels.tif"))
    wall, peak = 0.0, 0
    te = ["-te", "50000", str(140000 - size * 10), str(50000 + size * 10), "140000"]

    def step(cmd):
        nonlocal wall, peak
        w, m = timed(cmd)
        wall, peak = wall + w, max(peak, m)

    step(["gdal_rasterize", "-q", "-burn", "1", "-init", "0", "-ot", "Byte", *te,
          "-ts", str(size), str(size), "-co", "TILED=YES", boundary, mask])
    calc = "numpy.where((D == 1) & (A != 255) & (B != 255) & (C != 255), " \
           f"A * {WEIGHTS[0]} + B * {WEIGHTS[1]} + C * {WEIGHTS[2]}, -1)"
    step(["gdal_calc.py", "--quiet", "-A", tifs[0], "-B", tifs[1], "-C", tifs[2], "-D", mask,
          "--calc", calc, "--type", "Float64", "--NoDataValue", "-1", "--outfile", total,
          "--co", "TILED=YES"])
    w0 = __import__("time").perf_counter()
    info = subprocess.run(["gdalinfo", "-mm", total], stdout=subprocess.PIPE,
                          check=True).stdout.decode()
    wall += __import__("time").perf_counter() - w0
    top = float(re.search(r"Computed Min/Max=[-\d.e+]+,([-\d.e+]+)", info).group(1))
    step_ = top / LEVELS
    step(["gdal_calc.py", "--quiet", "-A", total, "--calc",
          f"numpy.where(A < 0, 0, numpy.minimum({LEVELS}, numpy.floor(A / {step_!r}) + 1))",
          "--type", "Byte", "--NoDataValue", "0", "--outfile", levels, "--co", "TILED=YES"])
    vrt = os.path.join(work, "levels.vrt")
    step(["gdal_translate", "-q", "-of", "VRT", levels, vrt])
    text = open(vrt).read()
    table = "<ColorInterp>Palette</ColorInterp><ColorTable>" + "".join(
        f'<Entry c1="{40 + 20 * k}" c2="{20 * k}" c3="{200 - 15 * k}" c4="255"/>'
        for k in range(LEVELS + 1)) + "</ColorTable>"
    text = re.sub(r"<ColorInterp>Gray</ColorInterp>", table, text, count=1)
    open(vrt, "w").write(text)
    step(["gdal_translate", "-q", "-co", "COMPRESS=DEFLATE", "-co", "TILED=YES", vrt,
          os.path.join(work, "final.tif")])
    return wall, peak


def run(build, data, size, runs, timed):
    why = missing(build)
    if why:
        return [f"(compose case skipped: {why})"], []
    folder = os.path.join(data, "compose")
    print(f"  generating three {size}^2 Byte GeoTIFF layers in {folder}", file=sys.stderr)
    tifs, boundary = generate(folder, size)
    out = os.path.join(data, "compose_out", "comp")
    cmd = [os.path.join(build, "tessera_gis"), "compose", "--out", out, "--boundary", boundary]
    cmd += [f"{t}:{w}" for t, w in zip(tifs, WEIGHTS)]
    ours, theirs = ([], []), ([], [])
    for _ in range(runs):
        w, m = timed(cmd)
        ours[0].append(w)
        ours[1].append(m)
        w, m = gdal_route(os.path.join(data, "compose_gdal"), tifs, boundary, size, timed)
        theirs[0].append(w)
        theirs[1].append(m)
    shutil.rmtree(os.path.dirname(out), ignore_errors=True)
    shutil.rmtree(os.path.join(data, "compose_gdal"), ignore_errors=True)
    mine, gdal_t = statistics.median(ours[0]), statistics.median(theirs[0])
    print(f"  compose: {mine:.2f} s; GDAL-only route: {gdal_t:.2f} s", file=sys.stderr)
    cells = size * size
    budget = 2 * cells + 128 * MIB
    lines = [
        f"### Composing GeoTIFF layers ({size} x {size} cells, three Byte layers, tiled DEFLATE, "
        f"a polygon boundary, {LEVELS} levels; median of {runs} runs, warm cache)\n",
        "| route | wall s (median) | runs s | peak MiB | bytes/cell |",
        "|---|---|---|---|---|",
        f"| tessera_gis compose (all outputs) | {mine:.2f} | "
        f"{' '.join(f'{x:.2f}' for x in ours[0])} | {max(ours[1]) / MIB:.0f} | "
        f"{max(ours[1]) / cells:.2f} |",
        f"| GDAL only: gdal_rasterize, gdal_calc.py x2, gdalinfo -mm, gdal_translate x2 | "
        f"{gdal_t:.2f} | {' '.join(f'{x:.2f}' for x in theirs[0])} | "
        f"{max(theirs[1]) / MIB:.0f} | {max(theirs[1]) / cells:.2f} |",
        "\nThe two run in turn. compose also writes the cell-state band, the style, the record, "
        "the level table and the report page.",
    ]
    ratio = gdal_t / mine
    return lines, [
        (f"compose >= 5x faster than the GDAL-only route ({ratio:.1f}x)", ratio >= 5.0),
        (f"compose peak at most 2 bytes a cell + 128 MiB ({max(ours[1]) / MIB:.0f} of "
         f"{budget / MIB:.0f} MiB)", max(ours[1]) <= budget),
    ]
