#!/usr/bin/python3
"""`tessera_gis prepare` against `gdal_translate -of AAIGrid` on the same three GeoTIFF layers.

Three layers of SIZE x SIZE cells of the kinds a GIS analyst has: Byte with no-data 255,
Int16 with no-data -9999, Float32 with no-data -9999. One prepare of the three (checks,
union of no-data, three ASCII grids, run.txt) is timed against three gdal_translate runs
(GDAL's own ASCII writer), in turn, warm cache; medians and peak memory.

Called by run_bench.py (`make bench`); needs GDAL's Python bindings, numpy, gdal_translate
and a tessera_gis built next to tessera_summary, and says what is missing otherwise.
"""
import os
import shutil
import statistics
import sys

MIB = 1024 * 1024
LAYERS = [  # name, GDAL type name, numpy type, no-data, highest value
    ("geology", "Byte", "uint8", 255, 12),
    ("soils", "Int16", "int16", -9999, 9),
    ("geomorph", "Float32", "float32", -9999, 99),
]


def missing(build):
    """Why the case cannot run, or None."""
    if not os.path.exists(os.path.join(build, "tessera_gis")):
        return "tessera_gis was not built (GDAL not found at configure time)"
    if shutil.which("gdal_translate") is None:
        return "gdal_translate is missing (apt-get install gdal-bin)"
    try:
        import numpy  # noqa: F401
        from osgeo import gdal  # noqa: F401
    except ImportError:
        return "GDAL's Python bindings or numpy are missing (apt-get install python3-gdal)"
    return None


def generate(folder, size):
    """The three GeoTIFFs, made once per size (a stamp file keeps them)."""
    import numpy as np
    from osgeo import gdal, osr
    gdal.UseExceptions()
    stamp = os.path.join(folder, "stamp")
    paths = [os.path.join(folder, layer[0] + ".tif") for layer in LAYERS]
    if os.path.exists(stamp) and open(stamp).read() == f"{size}\n":
        return paths
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(25830)
    rng = np.random.default_rng(14)
    for path, (_, type_name, np_type, nodata, top) in zip(paths, LAYERS):
        ds = gdal.GetDriverByName("GTiff").Create(path, size, size, 1,
                                                  gdal.GetDataTypeByName(type_name))
        ds.SetGeoTransform((400000.0, 25.0, 0.0, 4600000.0, 0.0, -25.0))
        ds.SetProjection(srs.ExportToWkt())
        band = ds.GetRasterBand(1)
        band.SetNoDataValue(nodata)
        for row in range(0, size, 500):
            rows = min(500, size - row)
            values = rng.integers(0, top + 1, (rows, size)).astype(np.float64)
            values[rng.random((rows, size)) < 0.01] = nodata  # about 1 % no-data
            band.WriteArray(values.astype(np_type), 0, row)
        ds = None
    with open(stamp, "w") as f:
        f.write(f"{size}\n")
    return paths


def run(build, data, size, runs, timed):
    """Times the case; returns the Markdown lines of its table and its target check."""
    why = missing(build)
    if why:
        return [f"(prepare case skipped: {why})"], []
    folder = os.path.join(data, "geotiff")
    print(f"  generating three {size}^2 GeoTIFF layers in {folder}", file=sys.stderr)
    tifs = generate(folder, size)
    ours_dir, gdal_dir = os.path.join(data, "prepared"), os.path.join(data, "gdal_asc")
    os.makedirs(gdal_dir, exist_ok=True)
    weights = ["1", "2", "1.5"]
    prepare = [os.path.join(build, "tessera_gis"), "prepare", "--out", ours_dir]
    prepare += [f"{t}:{w}" for t, w in zip(tifs, weights)]
    ours, theirs = ([], []), ([], [])
    for _ in range(runs):
        w, m = timed(prepare)
        ours[0].append(w)
        ours[1].append(m)
        total, peak = 0.0, 0
        for t in tifs:
            out = os.path.join(gdal_dir, os.path.basename(t)[:-4] + ".asc")
            w, m = timed(["gdal_translate", "-q", "-of", "AAIGrid", t, out])
            total, peak = total + w, max(peak, m)
        theirs[0].append(total)
        theirs[1].append(peak)
    mine, gdal_t = statistics.median(ours[0]), statistics.median(theirs[0])
    print(f"  prepare: {mine:.2f} s; gdal_translate x3: {gdal_t:.2f} s", file=sys.stderr)
    lines = [
        f"### Preparing GeoTIFF layers ({size} x {size} cells, three layers: Byte/255, "
        f"Int16/-9999, Float32/-9999; median of {runs} runs, warm cache)\n",
        "| command | wall s (median) | runs s | peak MiB |",
        "|---|---|---|---|",
        f"| tessera_gis prepare (3 layers) | {mine:.2f} | "
        f"{' '.join(f'{x:.2f}' for x in ours[0])} | {max(ours[1]) / MIB:.0f} |",
        f"| gdal_translate -of AAIGrid (x3, summed) | {gdal_t:.2f} | "
        f"{' '.join(f'{x:.2f}' for x in theirs[0])} | {max(theirs[1]) / MIB:.0f} |",
        "\nThe two are run in turn. prepare also checks every value, makes the union of no-data "
        "and writes run.txt; gdal_translate only converts.",
    ]
    ratio = gdal_t / mine
    return lines, [(f"prepare >= 3x faster than gdal_translate -of AAIGrid ({ratio:.1f}x)",
                    ratio >= 3.0)]
