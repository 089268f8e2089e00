#!/usr/bin/env python3
"""tessera_gis compose: random GIS layers in, every output checked against a numpy reference,
GDAL, OGR, QGIS and headless Chromium.

Usage: test_compose.py <tessera_summary> <tessera_gis or "none"> <group>
  group: EndToEnd, ClassicAgreement, Metadata, InQgis, ReportInChromium or Refusals.
Exits with 77 (a skip for CTest) where GDAL's Python bindings, numpy, tessera_gis, QGIS (for
InQgis) or Chromium (for ReportInChromium) are missing.
"""

import json
import math
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SKIP = 77
try:
    import numpy as np
    from osgeo import gdal, ogr, osr
except ImportError as missing:
    print("SKIPPED: the compose tests need GDAL's Python bindings and numpy (%s)" % missing)
    sys.exit(SKIP)

gdal.UseExceptions()
ogr.UseExceptions()
SUMMARY = GIS = None
CHROMIUM = "/usr/bin/chromium"
EPSG = 2169
X0, Y0, CELL = 70000.0, 90000.0, 25.0


def srs():
    s = osr.SpatialReference()
    s.ImportFromEPSG(EPSG)
    s.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    return s


def write_layer(path, values, nodata=None, dtype=gdal.GDT_Byte, metadata=None, x0=X0, y0=Y0):
    rows, cols = values.shape
    ds = gdal.GetDriverByName("GTiff").Create(path, cols, rows, 1, dtype)
    ds.SetGeoTransform((x0, CELL, 0.0, y0 + rows * CELL, 0.0, -CELL))
    ds.SetSpatialRef(srs())
    band = ds.GetRasterBand(1)
    band.WriteArray(values)
    if nodata is not None:
        band.SetNoDataValue(nodata)
    if metadata:
        ds.SetMetadata(metadata)
    ds = None


def write_boundary(path, ring):
    ds = ogr.GetDriverByName("GeoJSON").CreateDataSource(path)
    layer = ds.CreateLayer("boundary", srs(), ogr.wkbPolygon)
    f = ogr.Feature(layer.GetLayerDefn())
    f.SetGeometry(ogr.CreateGeometryFromWkt(
        "POLYGON((" + ",".join("%r %r" % p for p in ring) + "))"))
    layer.CreateFeature(f)
    ds = None
    return ogr.CreateGeometryFromWkt("POLYGON((" + ",".join("%r %r" % p for p in ring) + "))")


def inside_cells(poly, rows, cols):
    inside = np.zeros((rows, cols), bool)
    for i in range(rows):
        for j in range(cols):
            p = ogr.Geometry(ogr.wkbPoint)
            p.AddPoint_2D(X0 + (j + 0.5) * CELL, Y0 + (rows - i - 0.5) * CELL)
            inside[i, j] = poly.Contains(p)
    return inside


def compose(out, layers, *options, env=None):
    args = [GIS, "compose", "--out", out, *options] + ["%s:%s" % lw for lw in layers]
    done = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300,
                          env=dict(os.environ, **(env or {})), check=False)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def running_bounds(top, n):
    """The classic bounds: running sums of the step from 0 (lower, upper)."""
    step = top / n
    lo, hi = [-step], [0.0]
    for _ in range(n):
        lo.append(lo[-1] + step)
        hi.append(hi[-1] + step)
    return lo[1:], hi[1:]


def quantile_bounds(sums, n):
    """The documented rule, from every valid sum sorted."""
    s = np.sort(sums)
    total = len(s)
    bounds = [s[0]]
    for k in range(1, n):
        v = s[min(total - 1, k * total // n)]
        below = int(np.searchsorted(s, v, "left"))
        upto = int(np.searchsorted(s, v, "right"))
        up = upto < total and abs(n * upto - k * total) < abs(n * below - k * total)
        bounds.append(s[upto] if up else v)
    bounds.append(s[-1])
    return bounds[:-1], bounds[1:]


def reference_levels(sums, valid, method, n):
    """Level of every cell by the compose rules (0 for none) and the bounds."""
    v = sums[valid]
    if method == "equal":
        lower, upper = running_bounds(max(0.0, v.max()), n)
    elif method == "minmax":
        step = (v.max() - v.min()) / n
        upper, b = [], v.min()
        for _ in range(n):
            b = b + step
            upper.append(b)
        lower = [v.min()] + upper[:-1]
    else:
        lower, upper = quantile_bounds(v, n)
    levels = np.zeros(sums.shape, np.uint8)
    for k in range(n):
        levels[valid & (sums >= lower[k]) & (sums < upper[k])] = k + 1
    levels[valid & (sums == v.max())] = n  # the largest sum is in the top level
    return levels, lower, upper


class Area:
    """Random layers with no-data (each its own way) and a polygon boundary."""

    def __init__(self, seed=3, rows=48, cols=70, top=30):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        rng = np.random.default_rng(seed)
        self.rows, self.cols = rows, cols
        a = rng.integers(0, top, (rows, cols)).astype(np.uint8)
        b = rng.integers(0, top, (rows, cols)).astype(np.int16)
        c = rng.integers(0, top, (rows, cols)).astype(np.float32)
        nd_a, nd_b, nd_c = (rng.random((rows, cols)) < 0.04 for _ in range(3))
        a[nd_a] = 255
        b[nd_b] = -9999
        c[nd_c] = np.nan
        self.values = [a.astype(float), b.astype(float), c.astype(float)]
        self.nodata = nd_a | nd_b | nd_c
        self.layers = [(os.path.join(self.dir, "geology.tif"), "1"),
                       (os.path.join(self.dir, "soils.tif"), "2"),
                       (os.path.join(self.dir, "geomorph.tif"), "0.3")]
        write_layer(self.layers[0][0], a, 255)
        write_layer(self.layers[1][0], b, -9999, gdal.GDT_Int16)
        write_layer(self.layers[2][0], c, None, gdal.GDT_Float32)
        w, h = cols * CELL, rows * CELL
        self.ring = [(X0 + 0.1 * w, Y0 + 0.15 * h), (X0 + 0.9 * w, Y0 + 0.05 * h),
                     (X0 + 0.8 * w, Y0 + 0.9 * h), (X0 + 0.2 * w, Y0 + 0.8 * h),
                     (X0 + 0.1 * w, Y0 + 0.15 * h)]
        self.boundary = os.path.join(self.dir, "area.geojson")
        self.poly = write_boundary(self.boundary, self.ring)
        self.inside = inside_cells(self.poly, rows, cols)
        self.valid = self.inside & ~self.nodata
        total = np.zeros((rows, cols))
        for vals, (_, weight) in zip(self.values, self.layers):
            total = total + np.where(self.valid, vals, 0) * float(weight)
        self.sums = total

    def close(self):
        self.tmp.cleanup()


class EndToEnd(unittest.TestCase):
    """Each class method against the numpy reference, every output read back."""

    @classmethod
    def setUpClass(cls):
        cls.area = Area()

    @classmethod
    def tearDownClass(cls):
        cls.area.close()

    def test_every_method_every_output(self):
        a = self.area
        for method, n in (("equal", 10), ("minmax", 7), ("quantile", 6)):
            with self.subTest(method=method):
                base = os.path.join(a.dir, "out", method)
                status, out, err = compose(base, a.layers, "--boundary", a.boundary,
                                           "--levels", str(n), "--classes", method,
                                           "--mesh", "2")
                self.assertEqual(status, 0, err)
                want, lower, upper = reference_levels(a.sums, a.valid, method, n)
                self.assertEqual(out.split(), [base + s for s in (
                    ".tif", ".qml", "_levels.csv", "_cells.gpkg", "_report.html",
                    "_run.json")])
                self.check_tiff(base, want, a, n, lower, upper)
                self.check_record_and_csv(base, want, a, n, lower, upper, method)
                self.check_mesh(base, want, a)

    def test_mesh_cells_on_a_boundary_along_cell_edges(self):
        """A boundary drawn along cell edges (a polygonised raster) meets mesh cells along
        their sides: each mesh cell is still clipped to it, so the cells cover exactly the
        cells with a level."""
        rows, cols = 48, 70
        with tempfile.TemporaryDirectory() as d:
            layer = os.path.join(d, "layer.tif")
            write_layer(layer, np.random.default_rng(4).integers(0, 9, (rows, cols)).astype(
                np.uint8))
            # A step whose lower edge runs along the mesh line 20 rows from the top.
            steps = [(2, 3), (60, 3), (60, 28), (33, 28), (33, 45), (2, 45), (2, 3)]
            boundary = os.path.join(d, "steps.geojson")
            poly = write_boundary(boundary, [(X0 + x * CELL, Y0 + y * CELL) for x, y in steps])
            status, _, err = compose(os.path.join(d, "c"), [(layer, "1")], "--mesh", "2",
                                     "--boundary", boundary)
            self.assertEqual(status, 0, err)
            tif = gdal.Open(os.path.join(d, "c.tif"))
            levels = tif.GetRasterBand(1).ReadAsArray()
            gpkg = ogr.Open(os.path.join(d, "c_cells.gpkg"))
            cells = gpkg.GetLayerByName("cells")
            inside = poly.Buffer(1e-6)
            area = 0.0
            for f in cells:
                self.assertTrue(inside.Contains(f.GetGeometryRef()),
                                "mesh cell %d, %d reaches outside" % (f["row"], f["column"]))
                area += f.GetGeometryRef().GetArea()
            self.assertEqual(area, np.count_nonzero(levels) * CELL * CELL)

    def check_tiff(self, base, want, a, n, lower, upper):
        tif = gdal.Open(base + ".tif")
        self.assertEqual(tif.RasterCount, 2)
        self.assertEqual(tif.GetMetadata("IMAGE_STRUCTURE")["COMPRESSION"], "DEFLATE")
        level, state = (tif.GetRasterBand(b) for b in (1, 2))
        self.assertEqual(level.GetBlockSize(), [256, 256])  # tiled
        self.assertTrue(np.array_equal(level.ReadAsArray(), want))
        code = np.where(~a.inside, 2, np.where(a.nodata, 3, 1))
        self.assertTrue(np.array_equal(state.ReadAsArray(), code))
        # The CRS keeps its EPSG code.
        self.assertEqual(tif.GetSpatialRef().GetAuthorityCode(None), str(EPSG))
        self.assertIn("EPSG:%d" % EPSG, subprocess.run(
            ["gdalsrsinfo", "-o", "epsg", base + ".tif"], stdout=subprocess.PIPE,
            check=True).stdout.decode())
        # Colours and names of the levels alone; GDAL's own statistics over the level cells.
        table = level.GetColorTable()
        self.assertEqual(len({table.GetColorEntry(k)[:3] for k in range(1, n + 1)}), n)
        names = level.GetCategoryNames()
        self.assertEqual(names[1:n + 1], ["level %d: %.6g \u2013 %.6g" % (k + 1, lower[k], upper[k])
                                          for k in range(n)])
        self.assertEqual(level.GetNoDataValue(), 0)
        mn, mx, mean, _ = level.ComputeStatistics(False)
        levels = want[want > 0]
        self.assertGreaterEqual(mn, 1)
        self.assertLessEqual(mx, n)
        self.assertAlmostEqual(mean, levels.mean(), places=9)
        info = subprocess.run(["gdalinfo", "-stats", base + ".tif"], stdout=subprocess.PIPE,
                              check=True).stdout.decode()
        self.assertIn("Minimum=%.3f, Maximum=%.3f, Mean=%.3f" % (levels.min(), levels.max(),
                                                                 levels.mean()), info)

    def check_record_and_csv(self, base, want, a, n, lower, upper, method):
        rec = json.load(open(base + "_run.json"))
        self.assertEqual(rec["class_method"], method)
        self.assertEqual([(c["from"], c["to"]) for c in rec["levels"]["classes"]],
                         list(zip(lower, upper)))
        self.assertEqual([c["cells"] for c in rec["levels"]["classes"]],
                         [int((want == k).sum()) for k in range(1, n + 1)])
        self.assertEqual(rec["cells"]["outside_study_area"], int((~a.inside).sum()))
        self.assertEqual(rec["cells_no_data"], int((a.inside & a.nodata).sum()))
        self.assertEqual(rec["crs"]["epsg"], EPSG)
        self.assertEqual(rec["sources"], {"layers": [p for p, _ in a.layers],
                                          "boundary": a.boundary})
        self.assertEqual(rec["processing"]["confirmed"], "square_cell_mesh")
        self.assertEqual(rec["processing_given"]["given_by"], "--mesh")
        self.assertEqual(rec["tool_version"], rec["tool_version"].strip())
        self.assertRegex(rec["date"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
        lines = open(base + "_levels.csv").read().splitlines()
        self.assertEqual(lines[0], "level,from,to,cells,share,area")
        for k, line in enumerate(lines[1:], 1):
            f = line.split(",")
            cells = int((want == k).sum())
            self.assertEqual((int(f[0]), float(f[1]), float(f[2]), int(f[3])),
                             (k, lower[k - 1], upper[k - 1], cells))
            self.assertEqual(float(f[5]), cells * CELL * CELL)

    def check_mesh(self, base, want, a):
        ds = ogr.Open(base + "_cells.gpkg")
        cells, centres = ds.GetLayerByName("cells"), ds.GetLayerByName("centres")
        self.assertEqual(cells.GetSpatialRef().GetAuthorityCode(None), str(EPSG))
        side = 5
        expect = {}
        for mr in range(0, a.rows, side):
            for mc in range(0, a.cols, side):
                block = want[mr:mr + side, mc:mc + side]
                lv = block[block > 0]
                if len(lv):
                    counts = np.bincount(lv)
                    expect[(mr // side, mc // side)] = (
                        int(np.flatnonzero(counts == counts.max())[-1]), len(lv))
        got = {(f["row"], f["column"]): (f["level"], f["valid_cells"]) for f in cells}
        self.assertEqual(got, expect)
        # One geometry type in the layer, as a GeoPackage layer declares it.
        self.assertEqual(cells.GetGeomType(), ogr.wkbMultiPolygon)
        self.assertEqual({f.GetGeometryRef().GetGeometryType() for f in cells},
                         {ogr.wkbMultiPolygon})
        boundary = a.poly.Buffer(1e-6)
        for f in cells:
            self.assertTrue(boundary.Contains(f.GetGeometryRef()), "a cell reaches outside")
        self.assertEqual(centres.GetFeatureCount(), len(expect))
        for f in centres:
            p = f.GetGeometryRef()
            j = int((p.GetX() - X0) / CELL)
            i = int((Y0 + a.rows * CELL - p.GetY()) / CELL)
            self.assertTrue(a.valid[i, j] and want[i, j] > 0, "a centre off the study area")
            self.assertEqual((i // side, j // side), (f["row"], f["column"]))


class ClassicAgreement(unittest.TestCase):
    """On a rectangle without no-data and without boundary, compose --classes equal gives
    every cell the level tessera_summary gives through prepare."""

    def test_random_rectangles(self):
        for seed, weights, n in ((1, ("1", "2", "1.5"), 10), (2, ("0.1", "0.3333333333333333",
                                                                   "2.75"), 7), (3, ("1",), 99)):
            with self.subTest(seed=seed), tempfile.TemporaryDirectory() as d:
                rng = np.random.default_rng(seed)
                layers = []
                for k, w in enumerate(weights):
                    # No 0 in the first layer: tessera_summary shows those cells as background.
                    v = rng.integers(1 if k == 0 else 0, 255, (37, 53)).astype(np.uint8)
                    path = os.path.join(d, "l%d.tif" % k)
                    write_layer(path, v)
                    layers.append((path, w))
                run = os.path.join(d, "run")
                done = subprocess.run([GIS, "prepare", "--out", run, "--levels", str(n)] +
                                      ["%s:%s" % lw for lw in layers], stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, check=True)
                with open(os.path.join(run, "run.txt")) as answers:
                    subprocess.run([SUMMARY], stdin=answers, stdout=subprocess.DEVNULL,
                                   cwd=d, check=True, env=dict(os.environ, LC_ALL="C"))
                classic = gdal.Open(os.path.join(run, "comp_tessum.asc")).ReadAsArray()
                status, _, err = compose(os.path.join(d, "c", "comp"), layers, "--levels", str(n))
                self.assertEqual(status, 0, err + done.stderr.decode())
                tif = gdal.Open(os.path.join(d, "c", "comp.tif"))
                ours = tif.GetRasterBand(1).ReadAsArray()
                self.assertTrue((classic >= 1).all() and (classic <= n).all())
                self.assertTrue(np.array_equal(ours, classic.astype(np.uint8)))


class Metadata(unittest.TestCase):
    """The processing type from layers written as tessera_gis richness writes them."""

    def test_type_read_and_conflicts_refused(self):
        with tempfile.TemporaryDirectory() as d:
            v = np.arange(20 * 30, dtype=np.uint8).reshape(20, 30) % 9
            mesh = {"TESSERA_PROCESSING": "square_cell_mesh", "TESSERA_RANGE": "1",
                    "TESSERA_SOURCE": "geology.gpkg", "TESSERA_VERSION": "tessera 0.4"}
            window = dict(mesh, TESSERA_PROCESSING="moving_window")
            paths = {name: os.path.join(d, name + ".tif") for name in ("m1", "m2", "w", "plain")}
            write_layer(paths["m1"], v, metadata=mesh)
            write_layer(paths["m2"], v, metadata=mesh)
            write_layer(paths["w"], v, metadata=window)
            write_layer(paths["plain"], v)
            out = os.path.join(d, "o", "x")
            status, _, err = compose(out, [(paths["plain"], 1), (paths["m1"], 1),
                                           (paths["m2"], 2)])
            self.assertEqual(status, 0, err)
            rec = json.load(open(out + "_run.json"))
            self.assertEqual((rec["processing"]["confirmed"], rec["processing"]["range"]),
                             ("square_cell_mesh", 1))
            self.assertEqual(rec["processing_given"]["given_by"], paths["m1"])
            gpkg = ogr.Open(out + "_cells.gpkg")
            self.assertEqual(gpkg.GetLayerByName("cells").GetFeatureCount(), 10 * 7)
            for layers, opts, culprit in (
                    ([(paths["m1"], 1), (paths["w"], 1)], (), paths["w"]),
                    ([(paths["m1"], 1)], ("--mesh", "2"), paths["m1"]),
                    ([(paths["w"], 1)], ("--mesh", "1"), paths["w"])):
                status, _, err = compose(os.path.join(d, "bad", "x"), layers, *opts)
                self.assertEqual(status, 1, err)
                self.assertTrue(err.startswith("tessera_gis: " + culprit + ": its metadata"), err)
                self.assertFalse(os.path.exists(os.path.join(d, "bad")))


class LargeGrids(unittest.TestCase):
    """A grid of several blocks of rows, wider than a block of tiles, with a raster boundary
    that leaves whole columns out, a Byte layer with an internal mask, a Byte layer that
    declares no-data and a layer resampled by --align: the cells against the numpy reference,
    whether the run holds each cell's sum in one byte (few distinct sums), in two, or reads
    the layers again."""

    def test_blocks_and_ways_of_holding_the_sums(self):
        rows, cols = 300, 8300
        x0, y0 = X0 + 0.123, Y0 + 0.7  # a corner whose coordinates round
        rng = np.random.default_rng(7)
        with tempfile.TemporaryDirectory() as d:
            a = rng.integers(0, 12, (rows, cols)).astype(np.uint8)
            b = rng.integers(0, 9, (rows, cols)).astype(np.uint8)
            c = rng.integers(0, 6, (rows, cols)).astype(np.int16)
            nd_b = rng.random((rows, cols)) < 0.02
            masked_a = rng.random((rows, cols)) < 0.02
            b[nd_b] = 200
            c[rng.random((rows, cols)) < 0.01] = -9999
            paths = [os.path.join(d, n) for n in ("a.tif", "b.tif", "c.tif", "area.tif")]
            write_layer(paths[1], b, 200, x0=x0, y0=y0)
            # The Int16 layer reaches a row higher and a column further: --align brings it onto
            # the grid of the others (nearest neighbour, so the same cells).
            larger = np.full((rows + 1, cols + 1), 3, np.int16)
            larger[1:, :cols] = c
            write_layer(paths[2], larger, -9999, gdal.GDT_Int16, x0=x0, y0=y0)
            ds = gdal.GetDriverByName("GTiff").Create(paths[0], cols, rows, 1, gdal.GDT_Byte,
                                                      ["TILED=YES"])
            ds.SetGeoTransform((x0, CELL, 0.0, y0 + rows * CELL, 0.0, -CELL))
            ds.SetSpatialRef(srs())
            ds.GetRasterBand(1).WriteArray(a)
            gdal.SetConfigOption("GDAL_TIFF_INTERNAL_MASK", "YES")
            ds.CreateMaskBand(gdal.GMF_PER_DATASET)
            gdal.SetConfigOption("GDAL_TIFF_INTERNAL_MASK", None)
            ds.GetRasterBand(1).GetMaskBand().WriteArray(np.where(masked_a, 0, 255))
            ds = None
            # A diamond: no cell of the first and last columns in most rows, none at all in
            # the top rows.
            i, j = np.mgrid[0:rows, 0:cols]
            inside = (np.abs(i - 170) / 130 + np.abs(j - 4100) / 4000) < 1
            write_layer(paths[3], inside.astype(np.uint8), x0=x0, y0=y0)
            valid = inside & ~masked_a & ~nd_b & (c != -9999)
            values = [a.astype(float), b.astype(float), c.astype(float)]
            state = np.where(~inside, 2, np.where(valid, 1, 3))
            for weights, method, hook in ((("1", "2", "1"), "equal", None),
                                          (("1", "0.37", "2.1"), "equal", None),
                                          (("1", "0.37", "2.1"), "equal", "300"),
                                          (("1", "0.37", "2.1"), "quantile", None),
                                          (("1", "0.37", "2.1"), "quantile", "100")):
                with self.subTest(weights=weights, method=method, hook=hook):
                    total = np.zeros((rows, cols))
                    for v, w in zip(values, weights):
                        total = total + np.where(valid, v, 0) * float(w)
                    want, lower, _ = reference_levels(total, valid, method, 10)
                    out = os.path.join(d, "out", "x")
                    status, _, err = compose(out, list(zip(paths[:3], weights)), "--boundary",
                                             paths[3], "--classes", method, "--align",
                                             env={"TESSERA_DISTINCT_SUMS": hook} if hook else None)
                    self.assertEqual(status, 0, err)
                    tif = gdal.Open(out + ".tif")
                    self.assertTrue(np.array_equal(tif.GetRasterBand(1).ReadAsArray(), want))
                    self.assertTrue(np.array_equal(tif.GetRasterBand(2).ReadAsArray(), state))
                    rec = json.load(open(out + "_run.json"))
                    self.assertEqual([c["from"] for c in rec["levels"]["classes"]], lower)
                    self.assertEqual([i["items"] for i in rec["inputs"]], [
                        [{"code": int(v), "cells": int(n)}
                         for v, n in zip(*np.unique(x[valid], return_counts=True))]
                        for x in (a, b, c)])
            # A polygon boundary, rasterised block by block: the cells GDAL rasterises on the
            # whole grid at once, vertices on cell centres and corners included.
            # (column, row) from the top left, in cells: a zigzag whose edges run through cell
            # centres across the second block of rows, where the rounding decides.
            top = y0 + rows * CELL
            cells = [(0.5, 10.5)] + [(70.0 * k + 20.5, 290.5 if k % 2 else 220.5)
                                     for k in range(118)] + [(8299.5, 10.5)]
            ring = [(x0 + x * CELL, top - y * CELL) for x, y in cells + cells[:1]]
            write_boundary(os.path.join(d, "area.geojson"), ring)
            whole = gdal.GetDriverByName("MEM").Create("", cols, rows, 1, gdal.GDT_Byte)
            whole.SetGeoTransform((x0, CELL, 0.0, y0 + rows * CELL, 0.0, -CELL))
            source = ogr.Open(os.path.join(d, "area.geojson"))
            gdal.RasterizeLayer(whole, [1], source.GetLayer(0), burn_values=[1])
            inside = whole.ReadAsArray() == 1
            out = os.path.join(d, "poly", "x")
            status, _, err = compose(out, list(zip(paths[:3], ("1", "2", "1"))), "--boundary",
                                     os.path.join(d, "area.geojson"), "--align")
            self.assertEqual(status, 0, err)
            tif = gdal.Open(out + ".tif")
            got = tif.GetRasterBand(2).ReadAsArray()
            self.assertTrue(np.array_equal(got == 2, ~inside))
            self.assertTrue(inside.any() and not inside.all())


class InQgis(unittest.TestCase):
    """QGIS loads NAME.qml with NAME.tif: a paletted renderer of the N levels, labelled."""

    def test_style_in_qgis(self):
        a = Area(seed=8)
        try:
            base = os.path.join(a.dir, "q", "comp")
            status, _, err = compose(base, a.layers, "--boundary", a.boundary, "--levels", "7",
                                     "--classes", "minmax")
            self.assertEqual(status, 0, err)
            script = (
                "import sys\n"
                "from qgis.core import QgsApplication, QgsRasterLayer, QgsRasterBandStats\n"
                "app = QgsApplication([], False); app.initQgis()\n"
                "l = QgsRasterLayer(sys.argv[1], 'c')\n"
                "msg, ok = l.loadDefaultStyle()\n"
                "r = l.renderer()\n"
                "st = l.dataProvider().bandStatistics(1, QgsRasterBandStats.All)\n"
                "print(repr((ok, l.isValid(), l.crs().authid(), r.type(), r.band(),\n"
                "  [(c.value, c.label) for c in r.classes()],\n"
                "  st.minimumValue, st.maximumValue, st.mean)), flush=True)\n"
                "del r, l\n"
                "app.exitQgis()\n")
            done = subprocess.run(["/usr/bin/python3", "-c", script, base + ".tif"],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=180,
                                  env=dict(os.environ, QT_QPA_PLATFORM="offscreen"), check=True)
            ok, valid, crs, kind, band, classes, mn, mx, mean = eval(
                done.stdout.decode().strip().splitlines()[-1])
            rec = json.load(open(base + "_run.json"))
            want = [(c["level"], "level %d: %.6g \u2013 %.6g" % (c["level"], c["from"], c["to"]))
                    for c in rec["levels"]["classes"]]
            self.assertEqual((ok, valid, crs, kind, band), (True, True, "EPSG:%d" % EPSG,
                                                             "paletted", 1))
            self.assertEqual(classes, want)
            tif = gdal.Open(base + ".tif")
            levels = tif.GetRasterBand(1).ReadAsArray()
            levels = levels[levels > 0]
            self.assertEqual((mn, mx), (levels.min(), levels.max()))
            self.assertAlmostEqual(mean, levels.mean(), places=6)
        finally:
            a.close()


class ReportInChromium(unittest.TestCase):
    """The page: map cell for cell (10 px a cell), boundary, mesh, scale bar, north arrow,
    legend, chart; self-contained; one A4 page in print; each language."""

    def chromium(self, d, *args):
        profile = os.path.join(d, "profile")
        os.makedirs(profile, exist_ok=True)
        subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update",
                        "--user-data-dir=" + profile, "--force-device-scale-factor=1",
                        "--force-color-profile=srgb", "--hide-scrollbars", *args],
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120,
                       check=True)

    def test_page(self):
        a = Area(seed=5)
        try:
            base = os.path.join(a.dir, "r", "comp")
            status, _, err = compose(base, a.layers, "--boundary", a.boundary, "--mesh", "2",
                                     "--lang", "fr")
            self.assertEqual(status, 0, err)
            html = open(base + "_report.html", encoding="utf-8").read()
            for banned in ("<script", "http:", "https:", "url(", "<link", "@import"):
                self.assertNotIn(banned, html)
            self.assertIn("image-rendering:pixelated", html)
            self.assertIn("L\u00e9gende", html)
            rec = json.load(open(base + "_run.json"))
            n = rec["levels"]["count"]
            self.assertEqual(len(re.findall(r'<tr class="level">', html)), n)
            for part in ('id="boundary" d="M', 'id="mesh" d="M', 'id="north-arrow"',
                         'id="scale-bar"', 'id="chart"', "geology.tif", a.boundary):
                self.assertIn(part, html)
            # The scale bar's length stands for its label's distance.
            bar = re.search(r'<rect x="1" y="4" width="([\d.]+)".*?text-anchor="middle">'
                            r'([\d.]+) (k?m)</text>', html)
            metres = float(bar.group(2)) * (1000 if bar.group(3) == "km" else 1)
            self.assertAlmostEqual(2 * float(bar.group(1)), 700 * metres / (a.cols * CELL),
                                   places=0)

            shot_file = os.path.join(a.dir, "shot.png")
            self.chromium(a.dir, "--screenshot=" + shot_file, "--window-size=1000,1400",
                          "file://" + base + "_report.html")
            shot = gdal.Open(shot_file).ReadAsArray()[:3].transpose(1, 2, 0).astype(int)
            tif = gdal.Open(base + ".tif")
            table = tif.GetRasterBand(1).GetColorTable()
            state = tif.GetRasterBand(2).ReadAsArray()
            level = tif.GetRasterBand(1).ReadAsArray()
            rgb = np.array([table.GetColorEntry(k)[:3] for k in range(256)])
            expect = np.where((state == 2)[..., None], np.array([0xd9, 0xd9, 0xd9]),
                              np.where((state == 3)[..., None], np.array([255, 255, 255]),
                                       rgb[level]))
            # 700 px for 70 columns: every cell is a block of 10 x 10 pixels; its centre pixel
            # shows its colour (but where the boundary line crosses it).
            best = (0, None)
            for y0 in range(0, 200):
                for x0 in range(0, 60):
                    ys = y0 + 10 * np.arange(0, a.rows, 7) + 5
                    xs = x0 + 10 * np.arange(0, a.cols, 7) + 5
                    if ys[-1] >= shot.shape[0] or xs[-1] >= shot.shape[1]:
                        continue
                    hit = (shot[np.ix_(ys, xs)] == expect[::7, ::7]).all(axis=2).mean()
                    best = max(best, (hit, (y0, x0)))
            y0, x0 = best[1]
            centres = shot[y0 + 5: y0 + 10 * a.rows: 10, x0 + 5: x0 + 10 * a.cols: 10]
            share = (centres == expect).all(axis=2).mean()
            self.assertGreater(share, 0.95, "the map is not on the page, cell for cell")

            pdf = os.path.join(a.dir, "page.pdf")
            self.chromium(a.dir, "--print-to-pdf=" + pdf, "--no-pdf-header-footer",
                          "file://" + base + "_report.html")
            pages = len(re.findall(rb"/Type\s*/Page[^s]", open(pdf, "rb").read()))
            self.assertEqual(pages, 1, "the page does not print on one A4 page")
        finally:
            a.close()


class Refusals(unittest.TestCase):
    """Every refusal: its exit status, one line naming the file or option, nothing written,
    and the outputs of an earlier run left whole."""

    def test_refusals(self):
        a = Area(seed=11, rows=20, cols=30)
        try:
            d = a.dir
            base = os.path.join(d, "ok", "comp")
            status, _, err = compose(base, a.layers, "--boundary", a.boundary)
            self.assertEqual(status, 0, err)
            before = {f: open(os.path.join(d, "ok", f), "rb").read()
                      for f in os.listdir(os.path.join(d, "ok"))}
            bad = np.full((20, 30), 2.5, np.float32)
            write_layer(os.path.join(d, "half.tif"), bad, None, gdal.GDT_Float32)
            undeclared = np.full((20, 30), 7, np.uint8)
            undeclared[3:5, 4:9] = 255
            write_layer(os.path.join(d, "undeclared.tif"), undeclared)
            other = os.path.join(d, "moved.tif")
            ds = gdal.GetDriverByName("GTiff").Create(other, 30, 20, 1, gdal.GDT_Byte)
            ds.SetGeoTransform((X0 + 10, CELL, 0.0, Y0 + 20 * CELL, 0.0, -CELL))
            ds.SetSpatialRef(srs())
            ds = None
            far = os.path.join(d, "far.geojson")
            write_boundary(far, [(0, 0), (10, 0), (10, 10), (0, 0)])
            os.makedirs(os.path.join(d, "taken", "comp.qml"))
            geo = a.layers[0][0]
            cases = [
                # (arguments after --out, out, expected status, expected start of the message)
                ([], None, 2, "compose needs --out"),
                (["--levels", "0", geo], base, 2, "--levels takes a whole number from 1 to 99"),
                (["--classes", "jenks", geo], base, 2, "--classes takes one of"),
                (["--mesh", "0", geo], base, 2, "--mesh takes a whole number from 1 to 127"),
                (["--mesh", "1", "--window", "1", geo], base, 2, "give one of --mesh"),
                (["--palette", "rainbow", geo], base, 2, "unknown palette"),
                (["--lang", "de", geo], base, 2, "--lang takes one of"),
                (["--bogus", geo], base, 2, "unknown option"),
                ([os.path.join(d, "missing.tif")], base, 1, os.path.join(d, "missing.tif") + ":"),
                ([geo, os.path.join(d, "half.tif")], base, 1, os.path.join(d, "half.tif") +
                 ": 600 of its 600 data cells are not whole numbers"),
                ([os.path.join(d, "undeclared.tif")], base, 1, os.path.join(d, "undeclared.tif") +
                 ": 10 of its 600 data cells are not whole numbers from 0 to 254 (its values "
                 "range from 7 to 255)"),
                ([geo, other], base, 1, other + ": its grid differs"),
                (["--boundary", far, geo], base, 1, far + ": no cell centre"),
                ([geo], os.path.join(d, "taken", "comp"), 1,
                 os.path.join(d, "taken", "comp.qml") + ": cannot be written"),
                ([geo], os.path.join(d, "geology"), 1, os.path.join(d, "geology.tif") +
                 ": would replace the input file"),
            ]
            for args, out, want_status, want in cases:
                with self.subTest(args=args):
                    argv = [GIS, "compose"] + (["--out", out] if out else []) + args
                    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                          timeout=120, check=False)
                    err = done.stderr.decode()
                    self.assertEqual(done.returncode, want_status, err)
                    self.assertEqual(done.stdout, b"")
                    self.assertEqual(len(err.splitlines()), 1, err)
                    self.assertTrue(err.startswith("tessera_gis: " + want), err)
                    if want_status == 2:
                        self.assertTrue(err.endswith("(see tessera_gis compose --help)\n"), err)
                    after = {f: open(os.path.join(d, "ok", f), "rb").read()
                             for f in os.listdir(os.path.join(d, "ok"))}
                    self.assertEqual(after, before)
            # Ended by a signal while it writes (Ctrl-C, kill, a cancel in QGIS): it ends by
            # that signal, its staging folder goes and the earlier outputs stay whole.
            big = os.path.join(d, "big.tif")
            write_layer(big, np.random.default_rng(3).integers(0, 9, (1500, 1500)).astype(
                np.uint8))
            proc = subprocess.Popen([GIS, "compose", "--out", base, "--mesh", "1", big + ":1"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            staged = lambda: [f for f in os.listdir(os.path.join(d, "ok")) if f.startswith(".")]
            while not staged() and proc.poll() is None:
                time.sleep(0.002)
            self.assertTrue(staged(), "the run ended before its staging folder was seen")
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(timeout=60), -signal.SIGTERM)
            self.assertEqual(staged(), [])
            self.assertEqual({f: open(os.path.join(d, "ok", f), "rb").read()
                              for f in os.listdir(os.path.join(d, "ok"))}, before)
            # The memory bound is checked before the grid is allocated.
            status, _, err = compose(base, a.layers, env={"TESSERA_MEMORY_BYTES": "100000"})
            self.assertEqual(status, 1)
            self.assertIn(geo + ": its grid of 30 x 20 cells needs about", err)
            self.assertEqual(os.listdir(os.path.join(d, "taken")), ["comp.qml"])
            # help: every option with its default.
            text = subprocess.run([GIS, "compose", "--help"], stdout=subprocess.PIPE,
                                  check=True).stdout.decode()
            for option in ("--out", "--boundary", "--align", "--levels", "--classes", "--mesh",
                           "--window", "--palette", "--title", "--lang"):
                self.assertIn("  " + option, text)
        finally:
            a.close()


def main():
    global SUMMARY, GIS
    SUMMARY, GIS, group = sys.argv[1], sys.argv[2], sys.argv[3]
    if GIS == "none" or not os.access(GIS, os.X_OK):
        print("SKIPPED: tessera_gis was not built (GDAL's development files missing)")
        return SKIP
    if group == "ReportInChromium" and not os.access(CHROMIUM, os.X_OK):
        print("SKIPPED: the report test needs Chromium (Debian package chromium)")
        return SKIP
    if group == "InQgis" and subprocess.run(["/usr/bin/python3", "-c", "import qgis.core"],
                                            stderr=subprocess.DEVNULL).returncode != 0:
        print("SKIPPED: the QGIS style test needs QGIS (apt-get install qgis python3-qgis)")
        return SKIP
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(globals()[group])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
