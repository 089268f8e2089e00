#!/usr/bin/python3
"""`tessera_gis richness --window 5` against GRASS `r.neighbors size=11 method=diversity`.

One categorical raster of SIZE x SIZE cells with 20 classes (Byte GeoTIFF, tiled, DEFLATE)
is counted by both, in turn (ours, GRASS, ours, GRASS, ...), warm cache; the medians, the
peak memory and their ratio are reported, and the interior cells of the two results (all but
the band of 5 cells along the edges, where r.neighbors counts partial windows) are compared.
GRASS works in its own database: the raster is imported once (r.in.gdal, not timed) and each
timed run is `grass LOCATION/PERMANENT --exec r.neighbors ...` (its start-up, a second or so,
included); the result is exported once for the comparison.

Called by run_bench.py (`make bench`); needs GDAL's Python bindings, numpy and a tessera_gis
built next to tessera_summary; GRASS (the grass-core package) is optional and its half of the
table is skipped, with a note, where it is missing.
"""
import os
import shutil
import statistics
import subprocess
import sys

MIB = 1024 * 1024
CLASSES = 20
R = 5
EPSG = 25830


def missing(build):
    """Why the case cannot run at all, or None."""
    if not os.path.exists(os.path.join(build, "tessera_gis")):
        return "tessera_gis was not built (GDAL not found at configure time)"
    try:
        import numpy  # noqa: F401
        from osgeo import gdal  # noqa: F401
    except ImportError:
        return "GDAL's Python bindings or numpy are missing (apt-get install python3-gdal)"
    return None


def generate(folder, size):
    """The class raster, made once per size (a stamp file keeps it)."""
    import numpy as np
    from osgeo import gdal, osr
    gdal.UseExceptions()
    path = os.path.join(folder, "classes.tif")
    stamp = os.path.join(folder, "stamp")
    if os.path.exists(stamp) and open(stamp).read() == f"{size}\n":
        return path
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(EPSG)
    ds = gdal.GetDriverByName("GTiff").Create(path, size, size, 1, gdal.GDT_Byte,
                                              ["TILED=YES", "COMPRESS=DEFLATE"])
    ds.SetGeoTransform((400000.0, 25.0, 0.0, 4600000.0, 0.0, -25.0))
    ds.SetProjection(srs.ExportToWkt())
    band = ds.GetRasterBand(1)
    band.SetNoDataValue(255)
    rng = np.random.default_rng(21)
    for row in range(0, size, 512):
        rows = min(512, size - row)
        band.WriteArray(rng.integers(1, CLASSES + 1, (rows, size)).astype(np.uint8), 0, row)
    ds = None
    with open(stamp, "w") as f:
        f.write(f"{size}\n")
    return path


def grass_mapset(folder, tif):
    """A GRASS location in the raster's CRS with the raster imported and the region set; its
    PERMANENT mapset, or None without GRASS."""
    grass = shutil.which("grass")
    if grass is None:
        return None
    location = os.path.join(folder, "grassdb", "bench")
    mapset = os.path.join(location, "PERMANENT")
    if os.path.exists(os.path.join(mapset, "cell", "classes")):
        return mapset
    shutil.rmtree(os.path.join(folder, "grassdb"), ignore_errors=True)
    os.makedirs(os.path.dirname(location))
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    subprocess.run([grass, "-c", f"EPSG:{EPSG}", "-e", location], **quiet)
    subprocess.run([grass, mapset, "--exec", "r.in.gdal", "-o", f"input={tif}",
                    "output=classes", "--quiet"], **quiet)
    subprocess.run([grass, mapset, "--exec", "g.region", "raster=classes"], **quiet)
    return mapset


def interior_equal(ours_tif, grass_tif, size):
    """Whether every cell away from the band of R cells holds the same count; with the number
    of cells that differ."""
    from osgeo import gdal
    ours, theirs = gdal.Open(ours_tif), gdal.Open(grass_tif)  # kept open while their bands are read
    a, b = ours.GetRasterBand(1), theirs.GetRasterBand(1)
    differ = 0
    for row in range(R, size - R, 1024):
        rows = min(1024, size - R - row)
        x = a.ReadAsArray(R, row, size - 2 * R, rows).astype("int64")
        y = b.ReadAsArray(R, row, size - 2 * R, rows).astype("int64")
        differ += int((x != y).sum())
    return differ == 0, differ


def run(build, data, size, runs, timed):
    """Times the case; returns the Markdown lines of its table and its target checks."""
    why = missing(build)
    if why:
        return [f"(richness case skipped: {why})"], []
    folder = os.path.join(data, "richness")
    print(f"  generating a {size}^2 raster of {CLASSES} classes in {folder}", file=sys.stderr)
    tif = generate(folder, size)
    mapset = grass_mapset(folder, tif)
    ours_tif = os.path.join(folder, "ours.tif")
    ours_cmd = [os.path.join(build, "tessera_gis"), "richness", "--out", ours_tif,
                "--window", str(R), tif]
    grass_cmd = ["grass", mapset or "", "--exec", "r.neighbors", "input=classes",
                 "output=diversity", f"size={2 * R + 1}", "method=diversity", "--overwrite",
                 "--quiet"]
    ours, theirs = ([], []), ([], [])
    for _ in range(runs):
        w, m = timed(ours_cmd)
        ours[0].append(w)
        ours[1].append(m)
        if mapset:
            w, m = timed(grass_cmd)
            theirs[0].append(w)
            theirs[1].append(m)
    mine = statistics.median(ours[0])
    lines = [
        f"### Richness: moving window of range {R} ({size} x {size} cells, {CLASSES} classes, "
        f"median of {runs} runs, warm cache)\n",
        "| command | wall s (median) | runs s | peak MiB |",
        "|---|---|---|---|",
        f"| tessera_gis richness --window {R} | {mine:.2f} | "
        f"{' '.join(f'{x:.2f}' for x in ours[0])} | {max(ours[1]) / MIB:.0f} |",
    ]
    limit = size * size + 128 * MIB
    checks = [(f"richness --window {R}: peak at most 1 byte a cell + 128 MiB "
               f"({max(ours[1]) / MIB:.0f} of {limit / MIB:.0f} MiB)", max(ours[1]) <= limit)]
    if not mapset:
        print(f"  richness: {mine:.2f} s; GRASS not installed", file=sys.stderr)
        lines.append("\n(GRASS comparison skipped: no `grass` command; apt-get install "
                     "grass-core)")
        return lines, checks
    grass_t = statistics.median(theirs[0])
    print(f"  richness: {mine:.2f} s; r.neighbors: {grass_t:.2f} s", file=sys.stderr)
    grass_tif = os.path.join(folder, "grass.tif")
    subprocess.run(["grass", mapset, "--exec", "r.out.gdal", "input=diversity",
                    f"output={grass_tif}", "format=GTiff", "type=Int32", "--overwrite", "--quiet"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    same, differ = interior_equal(ours_tif, grass_tif, size)
    lines += [
        f"| GRASS r.neighbors size={2 * R + 1} method=diversity | {grass_t:.2f} | "
        f"{' '.join(f'{x:.2f}' for x in theirs[0])} | {max(theirs[1]) / MIB:.0f} |",
        f"\nThe two are run in turn. richness reads the GeoTIFF and writes a GeoTIFF; "
        f"r.neighbors works on GRASS's own raster (the import and export are not timed). "
        f"Interior cells ({size - 2 * R}^2, away from the band of {R} cells): "
        + ("all equal." if same else f"{differ} differ."),
    ]
    ratio = grass_t / mine
    checks += [
        (f"richness --window {R} >= 5x faster than GRASS r.neighbors ({ratio:.1f}x)",
         ratio >= 5.0),
        (f"richness and r.neighbors give the same value in every interior cell "
         f"({differ} differ)", same),
    ]
    return lines, checks
