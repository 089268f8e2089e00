#!/usr/bin/env python3
"""tessera_gis prepare: GIS rasters and a boundary in, a correct tessera_summary run out.

Fixtures are small GeoTIFFs and boundaries made here. The end-to-end runs prepare a folder,
run tessera_summary on its run.txt from another working directory, and compare the result
cell for cell with a reference computed here from the fixtures by the program's rules.

Usage: test_gis_prepare.py <tessera_summary> <tessera_gis or "none"> [unittest names...]
Exits with 77 (a skip for CTest) when GDAL's Python bindings or tessera_gis are missing.
"""

import math
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import unittest

SKIP = 77

try:
    import numpy as np
    from osgeo import gdal, ogr, osr
except ImportError as missing:
    print(f"SKIPPED: tessera_gis tests need GDAL's Python bindings and numpy ({missing}); "
          "install the Debian packages python3-gdal python3-numpy")
    sys.exit(SKIP)

gdal.UseExceptions()
ogr.UseExceptions()
osr.UseExceptions()

SUMMARY = None  # set from the command line
GIS = None

ROWS, COLS, CELL = 30, 44, 25.0
X0, Y0 = 430000.0, 4580000.0  # lower-left corner
EPSG = 25830


def srs_of(epsg):
    s = osr.SpatialReference()
    s.ImportFromEPSG(epsg)
    s.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    return s


def write_tif(path, values, dtype, nodata=None, epsg=EPSG, x0=X0, y0=Y0, cell=CELL,
              cell_height=None, rotation=0.0, options=(), scale=None, offset=None):
    rows, cols = values.shape
    height = cell if cell_height is None else cell_height
    ds = gdal.GetDriverByName("GTiff").Create(path, cols, rows, 1, dtype, options=list(options))
    ds.SetGeoTransform((x0, cell, rotation, y0 + rows * height, 0.0, -height))
    if epsg is not None:
        ds.SetProjection(srs_of(epsg).ExportToWkt())
    band = ds.GetRasterBand(1)
    band.WriteArray(values)
    if nodata is not None:
        band.SetNoDataValue(nodata)
    if scale is not None:
        band.SetScale(scale)
    if offset is not None:
        band.SetOffset(offset)
    ds = None


def write_without_georeferencing(path, values):
    ds = gdal.GetDriverByName("GTiff").Create(path, values.shape[1], values.shape[0], 1,
                                              gdal.GDT_Byte)
    ds.GetRasterBand(1).WriteArray(values)
    ds = None


def write_signed_bytes(path, values, nodata):
    """A signed byte band, as GDAL before 3.7 writes it: Byte with PIXELTYPE=SIGNEDBYTE."""
    write_tif(path, values.astype(np.int8).view(np.uint8), gdal.GDT_Byte, nodata,
              options=["PIXELTYPE=SIGNEDBYTE"])


def write_polygon(path, ring_xy, epsg, from_epsg=EPSG, geometry=ogr.wkbPolygon):
    """A one-feature GeoJSON layer in `epsg` from a ring given in `from_epsg`."""
    to = osr.CoordinateTransformation(srs_of(from_epsg), srs_of(epsg))
    if geometry == ogr.wkbPolygon:
        ring = ogr.Geometry(ogr.wkbLinearRing)
        for x, y in ring_xy:
            ring.AddPoint_2D(x, y)
        geom = ogr.Geometry(ogr.wkbPolygon)
        geom.AddGeometry(ring)
    else:
        geom = ogr.Geometry(ogr.wkbLineString)
        for x, y in ring_xy:
            geom.AddPoint_2D(x, y)
    geom.Transform(to)
    driver = "GPKG" if path.endswith(".gpkg") else "GeoJSON"
    ds = ogr.GetDriverByName(driver).CreateDataSource(path)
    layer = ds.CreateLayer("boundary", srs_of(epsg), geometry)
    feature = ogr.Feature(layer.GetLayerDefn())
    feature.SetGeometry(geom)
    layer.CreateFeature(feature)
    ds = None


def ellipse(cx, cy, rx, ry, n=48):
    return [(cx + rx * math.cos(2 * math.pi * k / n), cy + ry * math.sin(2 * math.pi * k / n))
            for k in range(n + 1)]


def centres_inside(ring_xy, rows=ROWS, cols=COLS):
    """Cells whose centre lies inside the ring (given in the grid's CRS), by OGR's test."""
    ring = ogr.Geometry(ogr.wkbLinearRing)
    for x, y in ring_xy:
        ring.AddPoint_2D(x, y)
    poly = ogr.Geometry(ogr.wkbPolygon)
    poly.AddGeometry(ring)
    inside = np.zeros((rows, cols), dtype=bool)
    for i in range(rows):
        for j in range(cols):
            point = ogr.Geometry(ogr.wkbPoint)
            point.AddPoint_2D(X0 + (j + 0.5) * CELL, Y0 + (rows - i - 0.5) * CELL)
            inside[i, j] = poly.Contains(point)
    return inside


def read_asc(path):
    ds = gdal.Open(path)
    return ds.GetRasterBand(1).ReadAsArray().astype(np.int64), ds.GetGeoTransform()


def expected_result(images, weights, levels, mask=None):
    """The result grid of tessera_summary over `images` (what it reads, in order), by its
    rules: weighted sum in image order, the maximum and levels over cells whose last image
    is below 255, running-sum bounds with the largest sum in the top level, the top level on
    empty cells of the data area it
    measures, 255 where the first image holds 0, 254 where the mask holds 255."""
    total = np.zeros(images[0].shape)
    for values, weight in zip(images, weights):
        total = total + values.astype(np.float64) * weight
    valid = images[-1] < 255
    top = max(0.0, float(total[valid].max())) if valid.any() else 0.0
    step = top / levels
    lo, hi = [-step], [0.0]
    for _ in range(levels):
        lo.append(lo[-1] + step)
        hi.append(hi[-1] + step)
    out = np.full(total.shape, 255, dtype=np.int64)
    for k in range(1, levels + 1):
        out[valid & (lo[k] <= total) & (total < hi[k])] = k
    out[valid & (total == top)] = levels  # the largest sum is in the top level
    rows, cols = out.shape
    m, c = rows // 2, cols // 2
    data = np.nonzero(out[m, :c] != 255)[0]
    jdeb = int(data[0]) if data.size else 0
    area = np.zeros(out.shape, dtype=bool)
    if jdeb == 0:   # square cell mesh: the rectangle up to the last data row and column
        right = [j for j in range(cols - 1, c, -1) if out[m, j] != 255]
        below = [i for i in range(rows - 1, m, -1) if out[i, c] != 255]
        area[:below[0] if below else 0, :right[0] if right else 0] = True
    else:           # moving window: inside the band
        area[jdeb:rows - jdeb, jdeb:cols - jdeb] = True
    out[area & (out == 255)] = levels
    out[images[0] == 0] = 255
    if mask is not None:
        out[mask == 255] = 254
    return out


class Scratch(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tessera_prepare_")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def at(self, *names):
        return os.path.join(self.root, *names)

    def prepare(self, *args, env=None):
        done = subprocess.run([GIS, "prepare", *args], cwd=self.root, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60, check=False, env=env)
        return (done.returncode, done.stdout.decode(errors="replace"),
                done.stderr.decode(errors="replace"))

    def prepare_ok(self, *args):
        status, out, err = self.prepare(*args)
        self.assertEqual(status, 0, out + err)
        return out, err

    def export(self, base):
        done = subprocess.run([GIS, "export", base], cwd=self.root, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60, check=False)
        return done.returncode, done.stderr.decode(errors="replace")

    def run_summary(self, folder):
        """tessera_summary < folder/run.txt, from a working directory elsewhere."""
        elsewhere = self.at("elsewhere")
        os.makedirs(elsewhere, exist_ok=True)
        with open(os.path.join(folder, "run.txt"), "rb") as answers:
            done = subprocess.run([SUMMARY], stdin=answers, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, cwd=elsewhere,
                                  env=dict(os.environ, LC_ALL="C"), timeout=60, check=False)
        self.assertEqual(done.returncode, 0, done.stdout.decode("latin-1")[-1500:])
        self.assertNotIn(b"End of input", done.stdout)
        return done.stdout.decode("latin-1")


# ---- The analyst's data: three GeoTIFF types, a polygon boundary in another CRS ----

class PrepareEndToEnd(Scratch):

    LEVELS = 7
    WEIGHTS = [1.0, 2.0, 1.5, 0.3]

    def setUp(self):
        super().setUp()
        rng = np.random.default_rng(14)
        shape = (ROWS, COLS)
        self.values = [rng.integers(0, 13, shape), rng.integers(1, 10, shape),
                       rng.integers(0, 8, shape), rng.integers(0, 6, shape)]
        self.nodata = [np.zeros(shape, dtype=bool) for _ in range(4)]
        self.nodata[0][3:6, 30:36] = True      # geology: no-data 255
        self.nodata[1][12:17, 5:15] = True     # soils: a town, -9999
        self.nodata[2][20:24, 22:30] = True    # geomorphology: a lake, -9999
        self.nodata[3][8:11, 18:25] = True     # a float layer with NaN as no-data
        geology = np.where(self.nodata[0], 255, self.values[0]).astype(np.uint8)
        soils = np.where(self.nodata[1], -9999, self.values[1]).astype(np.int16)
        geom = np.where(self.nodata[2], -9999, self.values[2]).astype(np.float32)
        slope = np.where(self.nodata[3], np.nan, self.values[3]).astype(np.float32)
        write_tif(self.at("geology.tif"), geology, gdal.GDT_Byte, 255)
        write_tif(self.at("soils.tif"), soils, gdal.GDT_Int16, -9999)
        write_tif(self.at("geomorphology.tif"), geom, gdal.GDT_Float32, -9999)
        write_tif(self.at("slope.tif"), slope, gdal.GDT_Float32, float("nan"))
        ring = ellipse(X0 + COLS * CELL * 0.45, Y0 + ROWS * CELL * 0.5, COLS * CELL * 0.42,
                       ROWS * CELL * 0.46)
        write_polygon(self.at("boundary.geojson"), ring, 4326)
        self.inside = centres_inside(ring)

    def test_prepare_then_one_run_gives_the_reference_map(self):
        out, err = self.prepare_ok("--out", "prep", "--boundary", "boundary.geojson",
                                   "--levels", str(self.LEVELS), "geology.tif",
                                   "soils.tif:2", "geomorphology.tif:1.5", "slope.tif:0.3")
        prep = self.at("prep")
        self.assertIn(f"Next: tessera_summary < {prep}/run.txt", out)
        for name, kind, nodata in [("geology", "Byte", 0), ("soils", "Int16", 1),
                                   ("geomorphology", "Float32", 2), ("slope", "Float32", 3)]:
            self.assertRegex(out, rf"\n +\d +{name} +{kind} +{self.nodata[nodata].sum()} ")
        with open(os.path.join(prep, "run.txt")) as f:
            answers = f.read().split("\n")
        self.assertEqual(answers, ["0", "2", self.root, "prep", "4", "geology", "soils",
                                   "geomorphology", "slope", "2", "2", "2", "2", "1", "2", "1.5",
                                   "0.3", "0", "mask", "2", "comp", "2", str(self.LEVELS), "1",
                                   ""])

        # The layers as the run reads them: values on cells with data in every layer and
        # inside the boundary; elsewhere 0 in the first image and 255 in the others.
        data = self.inside & ~np.logical_or.reduce(self.nodata)
        expect = [np.where(data, v, 0 if k == 0 else 255) for k, v in enumerate(self.values)]
        for k, name in enumerate(["geology", "soils", "geomorphology", "slope"]):
            got, gt = read_asc(os.path.join(prep, name + ".asc"))
            np.testing.assert_array_equal(got, expect[k], name)
            self.assertEqual(gt, (X0, CELL, 0.0, Y0 + ROWS * CELL, 0.0, -CELL))
        mask, _ = read_asc(os.path.join(prep, "mask.asc"))
        np.testing.assert_array_equal(mask, np.where(self.inside, 1, 255))
        self.assertIn(f"{(~self.inside).sum()} outside the boundary", out)
        self.assertIn(f"Cells with data in every layer: {data.sum()}.", out)

        # The .prj beside each grid is the one GDAL writes beside an ASCII grid.
        gdal.Translate(self.at("gdal.asc"), self.at("geology.tif"), format="AAIGrid")
        with open(self.at("gdal.prj"), "rb") as f:
            gdal_prj = f.read()
        for name in ["geology", "soils", "geomorphology", "slope", "mask"]:
            with open(os.path.join(prep, name + ".prj"), "rb") as f:
                self.assertEqual(f.read(), gdal_prj, name)

        # The first layer holds 0 in data cells: a warning names the layer free of 0 there.
        zeros = int((data & (self.values[0] == 0)).sum())
        self.assertIn(f"holds 0 in {zeros} data cells", err)
        self.assertIn("free of 0 there: soils.tif", err)
        self.assertNotIn("geomorphology.tif", err)

        self.run_summary(prep)
        result, gt = read_asc(os.path.join(prep, "comp_tessum.asc"))
        self.assertEqual(gt, (X0, CELL, 0.0, Y0 + ROWS * CELL, 0.0, -CELL))
        reference = expected_result(expect, self.WEIGHTS, self.LEVELS, mask)
        np.testing.assert_array_equal(result, reference)
        # No-data carries no level (255), outside the boundary is 254, data cells levels.
        self.assertTrue((result[self.inside & ~data] == 255).all())
        self.assertTrue((result[~self.inside] == 254).all())
        levels = result[data & (self.values[0] != 0)]
        self.assertTrue(((levels >= 1) & (levels <= self.LEVELS)).all())
        self.assertGreaterEqual(len(np.unique(levels)), self.LEVELS - 1)

        # The prepared study area exports as a map in the layers' CRS, every cell kept.
        done = subprocess.run([GIS, "export", os.path.join(prep, "comp")], cwd=self.root,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
        self.assertEqual(done.returncode, 0, done.stderr)
        tif = gdal.Open(os.path.join(prep, "comp.tif"))
        self.assertTrue(tif.GetSpatialRef().IsSame(srs_of(EPSG)))
        self.assertEqual(tif.GetGeoTransform(), gt)
        np.testing.assert_array_equal(tif.GetRasterBand(1).ReadAsArray(), result)
        self.assertTrue(os.path.getsize(os.path.join(prep, "comp_report.html")) > 0)

    def test_a_preparation_without_crs_removes_the_crs_and_statistics_of_the_earlier_one(self):
        inside = np.where(self.inside, 1, 0).astype(np.uint8)
        write_tif(self.at("area.tif"), inside, gdal.GDT_Byte, None)
        self.prepare_ok("--out", "prep", "--boundary", "area.tif", "geology.tif")
        prep = self.at("prep")
        self.run_summary(prep)
        # QGIS or GDAL keeps the statistics of a grid it has shown beside it.
        shown = gdal.Open(os.path.join(prep, "geology.asc"))
        shown.GetRasterBand(1).ComputeStatistics(False)
        shown = None
        stale = ["geology.prj", "mask.prj", "comp_tessum.prj", "geology.asc.aux.xml"]
        self.assertEqual([n for n in stale if os.path.exists(os.path.join(prep, n))], stale)
        # The corrected layer of the same name, and its boundary, carry no CRS: nothing in
        # the folder may give the new run the old one, nor the old values' statistics.
        os.makedirs(self.at("fixed"))
        write_tif(self.at("fixed", "geology.tif"), self.values[0].astype(np.uint8),
                  gdal.GDT_Byte, 255, epsg=None)
        write_tif(self.at("fixed", "area.tif"), inside, gdal.GDT_Byte, None, epsg=None)
        _, err = self.prepare_ok("--out", "prep", "--boundary", "fixed/area.tif",
                                 "fixed/geology.tif")
        self.assertIn("fixed/geology.tif: has no CRS: no .prj file is written", err)
        self.assertEqual([n for n in stale if os.path.exists(os.path.join(prep, n))], [])
        self.run_summary(prep)
        self.assertFalse(os.path.exists(os.path.join(prep, "comp_tessum.prj")))
        status, err = self.export(os.path.join(prep, "comp"))
        self.assertEqual(status, 0, err)
        self.assertIn("note: no coordinate reference system", err)
        self.assertIsNone(gdal.Open(os.path.join(prep, "comp.tif")).GetSpatialRef())

    def test_a_latin1_layer_name_keeps_its_crs_to_the_map(self):
        # g\xe9ol.tif: a name that is not UTF-8 (str arguments carry its byte through
        # surrogateescape). A BMP result carries no .prj, so the map's CRS is the layer's.
        name = os.fsdecode(b"g\xe9ol")
        os.rename(self.at("geology.tif"), self.at(name + ".tif"))
        self.prepare_ok("--out", "prep", "--output", "bmp", name + ".tif")
        prep = self.at("prep")
        self.assertTrue(os.path.exists(os.path.join(prep, name + ".prj")))
        self.run_summary(prep)
        status, err = self.export(os.path.join(prep, "comp"))
        self.assertEqual((status, err), (0, ""))
        self.assertTrue(gdal.Open(os.path.join(prep, "comp.tif")).GetSpatialRef()
                        .IsSame(srs_of(EPSG)))
        with open(os.path.join(prep, "comp_report.html"), encoding="utf-8") as f:
            self.assertIn("g\u00e9ol.asc", f.read())

    def test_single_layer_with_nan_nodata_raw_result_in_spanish(self):
        # With one image the no-data cells are 0, which the run shows as background.
        out, _ = self.prepare_ok("--out", "one", "--output", "raw", "--lang", "es",
                                 "--result", "solo", "--levels", "4", "slope.tif:0.5")
        self.assertNotIn("boundary", out)
        with open(self.at("one", "run.txt")) as f:
            answers = f.read().split()
        self.assertEqual(answers[:2], ["2", "2"])          # Spanish, user-defined disk
        self.assertEqual(answers[-6:], ["0.5", "1", "solo", "0", "4", "1"])
        self.run_summary(self.at("one"))
        with open(self.at("one", "solo_tessum.raw"), "rb") as f:
            result = np.frombuffer(f.read(), dtype=np.uint8).reshape(ROWS, COLS)
        image = np.where(self.nodata[3], 0, self.values[3])
        np.testing.assert_array_equal(result, expected_result([image], [0.5], 4))
        self.assertTrue((result[self.nodata[3]] == 255).all())


# ---- Grids that differ: refused, then resampled with --align ----

class PrepareAlign(Scratch):

    def setUp(self):
        super().setUp()
        rng = np.random.default_rng(3)
        self.base = rng.integers(1, 9, (ROWS, COLS)).astype(np.uint8)
        write_tif(self.at("base.tif"), self.base, gdal.GDT_Byte, 255)
        # Shifted by a cell and a half, with a patch of no-data 255.
        shifted = rng.integers(0, 9, (ROWS, COLS)).astype(np.uint8)
        shifted[10:14, 10:14] = 255
        write_tif(self.at("shifted.tif"), shifted, gdal.GDT_Byte, 255,
                  x0=X0 + 1.5 * CELL, y0=Y0 - CELL)
        # The same kind of layer in another CRS (UTM 30N on WGS 84), cells of 20 m.
        other = rng.integers(0, 9, (40, 60)).astype(np.int16)
        write_tif(self.at("other.tif"), other, gdal.GDT_Int16, -9999, epsg=32630,
                  x0=X0 - 100, y0=Y0 - 80, cell=20.0)

    def test_differing_grids_are_refused_without_align(self):
        for layer, reason in [("shifted.tif", "top-left corner"),
                              ("other.tif", "CRS EPSG:32630 instead of EPSG:25830")]:
            with self.subTest(layer=layer):
                status, _, err = self.prepare("--out", "prep", "base.tif", layer)
                self.assertEqual(status, 1)
                self.assertIn(f"tessera_gis: {layer}: its grid differs from that of base.tif",
                              err)
                self.assertIn(reason, err)
                self.assertIn("add --align", err)
                self.assertFalse(os.path.exists(self.at("prep")))

    def test_align_resamples_onto_the_first_grid_by_nearest_neighbour(self):
        # A raster boundary on the shifted grid: non-zero data inside.
        inner = np.zeros((ROWS, COLS), dtype=np.uint8)
        inner[2:ROWS - 3, 5:COLS - 2] = 7
        write_tif(self.at("area.tif"), inner, gdal.GDT_Byte, None,
                  x0=X0 + 1.5 * CELL, y0=Y0 - CELL)
        out, _ = self.prepare_ok("--out", "prep", "--align", "--boundary", "area.tif",
                                 "base.tif", "shifted.tif", "other.tif")
        self.assertIn("shifted.tif (resampled)", out)
        # GDAL's own nearest-neighbour warp of each file onto the first grid.
        def warped(name, nodata):
            ds = gdal.Warp("", self.at(name), format="MEM", resampleAlg="near",
                           outputBounds=(X0, Y0, X0 + COLS * CELL, Y0 + ROWS * CELL),
                           width=COLS, height=ROWS, dstSRS=f"EPSG:{EPSG}",
                           srcNodata=nodata, dstNodata=nodata)
            return ds.GetRasterBand(1).ReadAsArray().astype(np.int64)
        shifted, other = warped("shifted.tif", 255), warped("other.tif", -9999)
        inside = warped("area.tif", None) != 0
        data = inside & (shifted != 255) & (other != -9999)
        got_shifted, _ = read_asc(self.at("prep", "shifted.asc"))
        got_other, _ = read_asc(self.at("prep", "other.asc"))
        got_mask, _ = read_asc(self.at("prep", "mask.asc"))
        np.testing.assert_array_equal(got_mask, np.where(inside, 1, 255))
        np.testing.assert_array_equal(got_shifted, np.where(data, shifted, 255))
        np.testing.assert_array_equal(got_other, np.where(data, other, 255))
        self.assertTrue(data.any() and (~data & inside).any())
        self.run_summary(self.at("prep"))


# ---- Every refusal, through the binary: exit status, message, nothing written ----

class PrepareRefusals(Scratch):

    def setUp(self):
        super().setUp()
        rng = np.random.default_rng(5)
        good = rng.integers(1, 9, (ROWS, COLS)).astype(np.uint8)
        write_tif(self.at("a.tif"), good, gdal.GDT_Byte, 255)
        write_tif(self.at("b.tif"), good, gdal.GDT_Byte, 255)
        os.makedirs(self.at("other"))
        write_tif(self.at("other", "a.tif"), good, gdal.GDT_Byte, 255)
        real = good.astype(np.float32) + 0.25
        real[0, 0] = -3.5
        write_tif(self.at("real.tif"), real, gdal.GDT_Float32, -9999)
        wide = good.astype(np.int16)
        wide[1, :3] = 300
        write_tif(self.at("wide.tif"), wide, gdal.GDT_Int16, -9999)
        # The band's values, not its stored numbers: -100 as a signed byte (156 stored), a
        # complex band, 15 stored with scale 0.1 (1.5).
        signed = good.astype(np.int16)
        signed[2, 3] = -100
        write_signed_bytes(self.at("signed.tif"), signed, -1)
        write_tif(self.at("complex.tif"), good.astype(np.complex64) + 2j, gdal.GDT_CInt16, None)
        tenths = good.astype(np.int16) * 10
        tenths[4, 1] = 15
        write_tif(self.at("tenths.tif"), tenths, gdal.GDT_Int16, -9999, scale=0.1)
        undeclared = good.copy()
        undeclared[:3, :3] = 255
        write_tif(self.at("undeclared.tif"), undeclared, gdal.GDT_Byte, None)
        write_tif(self.at("degrees.tif"), good, gdal.GDT_Byte, 255, epsg=4326, x0=-3.2,
                  y0=40.1, cell=0.001)
        write_tif(self.at("oblong.tif"), good, gdal.GDT_Byte, 255, cell_height=30.0)
        write_tif(self.at("rotated.tif"), good, gdal.GDT_Byte, 255, rotation=2.0)
        write_tif(self.at("nocrs.tif"), good, gdal.GDT_Byte, 255, epsg=None, x0=X0 + CELL)
        write_without_georeferencing(self.at("nogeo.tif"), good)
        # 2147483647 x 1 cells in a few hundred bytes: no strip is written.
        huge = gdal.GetDriverByName("GTiff").Create(self.at("huge.tif"), 2147483647, 1, 1,
                                                    gdal.GDT_Byte, options=["SPARSE_OK=TRUE"])
        huge.SetGeoTransform((X0, CELL, 0.0, Y0 + CELL, 0.0, -CELL))
        huge = None
        write_tif(self.at("empty.tif"), np.full((ROWS, COLS), 255, np.uint8), gdal.GDT_Byte, 255)
        far = ellipse(X0 + 50000, Y0 + 50000, 500, 500)
        write_polygon(self.at("far.geojson"), far, 4326)
        write_polygon(self.at("line.geojson"), far, EPSG, geometry=ogr.wkbLineString)
        area = np.zeros((ROWS, COLS), dtype=np.uint8)
        area[:5, :5] = 1
        write_tif(self.at("corner.tif"), area, gdal.GDT_Byte, None)
        gappy = good.copy()
        gappy[:5, :5] = 255
        write_tif(self.at("gappy.tif"), gappy, gdal.GDT_Byte, 255)
        with open(self.at("notes.txt"), "w") as f:
            f.write("not a raster\n")
        write_tif(self.at("cut.tif"), good, gdal.GDT_Byte, 255)
        with open(self.at("cut.tif"), "r+b") as f:
            f.truncate(os.path.getsize(self.at("cut.tif")) // 2)
        write_polygon(self.at("two.gpkg"), far, EPSG)
        two = ogr.Open(self.at("two.gpkg"), update=1)
        two.CreateLayer("rivers", srs_of(EPSG), ogr.wkbLineString)
        two = None
        with open(self.at("none.geojson"), "w") as f:
            f.write('{"type": "FeatureCollection", "features": []}\n')
        gdal.Translate(self.at("a.asc"), self.at("a.tif"), format="AAIGrid")

    def test_each_refusal_has_its_status_and_message(self):
        cases = [
            # (arguments, exit status, words of the message)
            ([], 2, ["prepare needs --out DIR"]),
            (["--out", "p"], 2, ["at least one LAYER"]),
            (["--out", "p", "--levels", "100", "a.tif"], 2, ["--levels", "1 to 99", "'100'"]),
            (["--out", "p", "--output", "tif", "a.tif"], 2, ["--output takes one of asc, bmp, raw"]),
            (["--out", "p", "--lang", "de", "a.tif"], 2, ["--lang takes one of en, fr, es"]),
            (["--out", "p", "--result", "a/b", "a.tif"], 2, ["--result", "folder separators"]),
            (["--out", "p", "--result", "r" * 242, "a.tif"], 2,
             ["r" * 242 + "_map.png.aux.xml, a name longer than the folder allows"]),
            (["--out", "p", "--colour", "a.tif"], 2, ["unknown option '--colour'"]),
            (["--out", "p", "a.tif", "--levels"], 2, ["--levels needs a value"]),
            (["--out", "p", "--boundary=", "a.tif"], 2, ["--boundary needs a file"]),
            (["--out", "p", "a.tif:heavy"], 2, ["weight of a.tif", "'heavy'"]),
            (["--out", "my maps", "a.tif"], 2, ["blank", "blank-separated words"]),
            (["--out", "/", "a.tif"], 2, ["below the root folder"]),
            (["--out", "p"] + ["a.tif"] * 100, 2, ["at most 99 layers"]),
            (["--out", "p", "a.tif", "other/a.tif"], 2,
             ["a.tif and other/a.tif would both be written as a.asc"]),
            (["--out", "p", "--boundary", "a.tif", "mask.tif"], 2,
             ["mask.tif would be written as mask.asc"]),
            (["--out", "p", "--result", "a", "a_tessum.tif"], 2,
             ["which the run writes as its result a_tessum.asc"]),
            (["--out", ".", "a.asc"], 2, ["would replace the input file", "a.asc"]),
            (["--out", "other", "--result", "a", "other/a.tif"], 2,
             ["other/a.tif, which tessera_gis export writes from the run's result, would "
              "replace the input file other/a.tif: choose another --result"]),
            (["--out", "p", "missing.tif"], 1, ["missing.tif: cannot be opened as a raster"]),
            (["--out", "p", "notes.txt"], 1, ["notes.txt: cannot be opened as a raster"]),
            (["--out", "p", "cut.tif"], 1, ["cut.tif: cannot be read ("]),
            (["--out", "notes.txt/p", "a.tif"], 1, ["notes.txt/p: cannot be created as a folder"]),
            (["--out", "p", "a.tif", "real.tif"], 1,
             ["real.tif:", f"{ROWS * COLS} of its {ROWS * COLS} data cells are not whole "
              "numbers from 0 to 254", "from -3.5 to 8.25", "reclassify"]),
            (["--out", "p", "wide.tif"], 1, ["3 of its", "from 1 to 300"]),
            (["--out", "p", "signed.tif"], 1,
             ["signed.tif: 1 of its", "the first, at pixel 3 line 2, holds -100",
              "range from -100 to 8"]),
            (["--out", "p", "a.tif", "complex.tif"], 1,
             ["complex.tif: its band 1 is complex (CInt16)", "gdal_translate -ot Float32"]),
            (["--out", "p", "tenths.tif"], 1,
             ["tenths.tif: 1 of its", "at pixel 1 line 4, holds 1.5",
              "values (with its scale 0.1 and offset 0 applied) range from 1 to 8"]),
            (["--out", "p", "undeclared.tif"], 1,
             ["9 of its", "if 255 marks no data, declare it: gdal_edit.py -a_nodata 255"]),
            (["--out", "p", "degrees.tif"], 1,
             ["degrees.tif: its CRS EPSG:4326 is geographic", "gdalwarp -t_srs EPSG:32630"]),
            (["--out", "p", "oblong.tif"], 1,
             ["its cells are not square (25 by 30)", "gdalwarp -tr 25 25"]),
            (["--out", "p", "rotated.tif"], 1, ["rotated or not north-up", "gdalwarp"]),
            (["--out", "p", "nogeo.tif"], 1,
             ["nogeo.tif: has no georeferencing", "gdal_edit.py -a_ullr"]),
            (["--out", "p", "a.tif", "nogeo.tif"], 1, ["nogeo.tif: has no georeferencing"]),
            (["--out", "p", "huge.tif"], 1,
             ["huge.tif: its grid of 2147483647 x 1 cells is larger than the memory available",
              "1024 MiB available"]),
            (["--out", "p", "a.tif", "rotated.tif"], 1, ["rotated or not north-up", "--align"]),
            (["--out", "p", "--align", "a.tif", "nocrs.tif"], 1,
             ["nocrs.tif: cannot be resampled", "as nocrs.tif has no CRS", "gdal_edit.py"]),
            (["--out", "p", "--boundary", "far.geojson", "a.tif"], 1,
             ["far.geojson: no cell centre", "inside the boundary"]),
            (["--out", "p", "--boundary", "line.geojson", "a.tif"], 1,
             ["line.geojson: feature 0 is a Line String, not a polygon"]),
            (["--out", "p", "--boundary", "two.gpkg", "a.tif"], 1,
             ["two.gpkg: holds 2 layers", "ogr2ogr boundary.gpkg"]),
            (["--out", "p", "--boundary", "none.geojson", "a.tif"], 1,
             ["none.geojson: holds no polygon"]),
            (["--out", "p", "--boundary", "notes.txt", "a.tif"], 1,
             ["notes.txt: cannot be opened as a polygon layer or a raster"]),
            (["--out", "p", "--boundary", "empty.tif", "a.tif"], 1,
             ["empty.tif: no cell centre"]),
            (["--out", "p", "a.tif", "empty.tif"], 1, ["no cell holds data in every layer"]),
            (["--out", "p", "--boundary", "corner.tif", "a.tif", "gappy.tif"], 1,
             ["corner.tif: the boundary leaves no cell that holds data in every layer"]),
        ]
        os.symlink("a.tif", self.at("mask.tif"))
        os.symlink("a.tif", self.at("a_tessum.tif"))
        # The memory a grid may take does not depend on the machine: 1 GiB.
        env = dict(os.environ, TESSERA_MEMORY_BYTES=str(1 << 30))
        for args, status, words in cases:
            with self.subTest(args=" ".join(args[:8])):
                got, out, err = self.prepare(*args, env=env)
                written = os.path.exists(self.at("p"))
                shutil.rmtree(self.at("p"), ignore_errors=True)  # so that one case fails alone
                self.assertEqual(got, status, err)
                self.assertEqual(out, "")
                lines = err.splitlines()
                self.assertEqual(len(lines), 1, err)
                self.assertTrue(lines[0].startswith("tessera_gis: "), err)
                for word in words:
                    self.assertIn(word, err)
                self.assertFalse(written)
        self.assertEqual(sorted(f for f in os.listdir(self.root) if f.startswith(".")), [])

    def test_values_are_read_with_sign_scale_and_offset(self):
        # Stored 0..80 with scale 0.1 and offset 1: the values 1..9; a signed byte band whose
        # no-data is -1 (stored 255).
        rng = np.random.default_rng(8)
        values = rng.integers(1, 10, (ROWS, COLS))
        write_tif(self.at("scaled.tif"), ((values - 1) * 10).astype(np.uint8), gdal.GDT_Byte,
                  None, scale=0.1, offset=1)
        signed = rng.integers(0, 9, (ROWS, COLS))
        signed[6:9, 2:7] = -1
        write_signed_bytes(self.at("signed8.tif"), signed, -1)
        self.prepare_ok("--out", "p", "scaled.tif", "signed8.tif")
        nodata = signed == -1
        np.testing.assert_array_equal(read_asc(self.at("p", "scaled.asc"))[0],
                                      np.where(nodata, 0, values))
        np.testing.assert_array_equal(read_asc(self.at("p", "signed8.asc"))[0],
                                      np.where(nodata, 255, signed))

    def test_a_file_size_limit_is_told_like_a_full_disk(self):
        # The child keeps the default disposition of SIGXFSZ (restore_signals): the program
        # itself must ignore it to tell the failed write.
        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (2000, 2000))

        done = subprocess.run([GIS, "prepare", "--out", "p", "a.tif"], cwd=self.root,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60,
                              restore_signals=True, preexec_fn=limit, check=False)
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertEqual(done.stderr.decode(), "tessera_gis: %s: cannot be written (File too "
                         "large)\n" % self.at("p", "a.asc"))
        self.assertFalse(os.path.exists(self.at("p")))

    def test_names_planted_in_the_folder_are_never_followed(self):
        # A link and a named pipe wait at the names an earlier version staged its files under
        # (.NAME.part-PID, the PID known once the child exists): the files are still written
        # whole, the link's target is untouched, and no temporary stays behind.
        prep = self.at("prep")
        os.makedirs(prep)
        victim = self.at("victim.txt")
        with open(victim, "w") as f:
            f.write("keep\n")

        def plant():
            pid = os.getpid()
            os.symlink(victim, os.path.join(prep, f".a.asc.part-{pid}"))
            os.mkfifo(os.path.join(prep, f".run.txt.part-{pid}"))

        done = subprocess.run([GIS, "prepare", "--out", prep, "a.tif"], cwd=self.root,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30,
                              preexec_fn=plant, check=False)
        self.assertEqual(done.returncode, 0, done.stderr)
        with open(victim) as f:
            self.assertEqual(f.read(), "keep\n")
        names = sorted(os.listdir(prep))
        self.assertEqual([n for n in names if not n.startswith(".")], ["a.asc", "a.prj", "run.txt"])
        self.assertEqual(len([n for n in names if n.startswith(".")]), 2)  # the planted two
        for name in ("a.asc", "run.txt"):
            self.assertFalse(os.path.islink(os.path.join(prep, name)))
        np.testing.assert_array_equal(read_asc(os.path.join(prep, "a.asc"))[0],
                                      gdal.Open(self.at("a.tif")).ReadAsArray())

    def test_help(self):
        done = subprocess.run([GIS, "--help"], stdout=subprocess.PIPE, check=False)
        self.assertEqual(done.returncode, 0)
        self.assertIn(b"prepare", done.stdout)
        done = subprocess.run([GIS, "prepare", "--help"], stdout=subprocess.PIPE, check=False)
        self.assertEqual(done.returncode, 0)
        self.assertTrue(done.stdout.startswith(b"Usage: tessera_gis prepare --out DIR"))


def main():
    global SUMMARY, GIS
    if len(sys.argv) < 3:
        print("usage: test_gis_prepare.py <tessera_summary> <tessera_gis|none> [tests...]")
        return 2
    if sys.argv[2] == "none" or not os.access(sys.argv[2], os.X_OK):
        print("SKIPPED: tessera_gis is not built (GDAL was not found at configure time)")
        return SKIP
    SUMMARY, GIS = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    print(f"GDAL {gdal.__version__}")
    program = unittest.main(argv=[sys.argv[0], "-v", *sys.argv[3:]], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
