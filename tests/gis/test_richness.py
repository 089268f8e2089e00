#!/usr/bin/env python3
"""tessera_gis richness: sub-index layers counted from class rasters and vector layers.

The raster cases are checked against a plain numpy reference that recounts every window and
every mesh cell; the vector cases against counts made by hand on small layers; the layers go
through prepare and tessera_summary, whose detection must find how they were made.

Usage: test_richness.py <tessera_summary> <tessera_gis or "none"> [unittest names...]
Exits with 77 (a skip for CTest) when GDAL's Python bindings or tessera_gis are missing.
"""

import json
import math
import os
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

EPSG = 25830
X0, Y0, CELL = 430000.0, 4580000.0, 25.0  # top-left corner


def srs_of(epsg):
    s = osr.SpatialReference()
    s.ImportFromEPSG(epsg)
    s.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    return s


def write_raster(path, values, dtype, nodata=None, epsg=EPSG, georeferenced=True, driver="GTiff",
                 mask=None):
    rows, cols = values.shape
    if driver == "GTiff":
        ds = gdal.GetDriverByName("GTiff").Create(path, cols, rows, 1, dtype)
    else:  # through a MEM copy, for drivers without Create
        ds = gdal.GetDriverByName("MEM").Create("", cols, rows, 1, dtype)
    if georeferenced:
        ds.SetGeoTransform((X0, CELL, 0.0, Y0, 0.0, -CELL))
    if epsg is not None:
        ds.SetProjection(srs_of(epsg).ExportToWkt())
    band = ds.GetRasterBand(1)
    band.WriteArray(values)
    if nodata is not None:
        band.SetNoDataValue(nodata)
    if mask is not None:
        band.CreateMaskBand(gdal.GMF_PER_DATASET)
        band.GetMaskBand().WriteArray(np.where(mask, 255, 0).astype(np.uint8))
    if driver != "GTiff":
        gdal.GetDriverByName(driver).CreateCopy(path, ds)
    ds = None


def write_layer(path, features, geometry_type, epsg=EPSG, fields=()):
    """A vector layer: features are (WKT, {field: value}) pairs."""
    driver = {".gpkg": "GPKG", ".geojson": "GeoJSON", ".shp": "ESRI Shapefile"}
    ds = ogr.GetDriverByName(driver[os.path.splitext(path)[1]]).CreateDataSource(path)
    layer = ds.CreateLayer("layer", srs_of(epsg) if epsg else None, geometry_type)
    for name, kind in fields:
        layer.CreateField(ogr.FieldDefn(name, kind))
    for wkt, values in features:
        f = ogr.Feature(layer.GetLayerDefn())
        f.SetGeometry(ogr.CreateGeometryFromWkt(wkt))
        for name, value in values.items():
            if value is None:
                f.SetFieldNull(name)
            else:
                f.SetField(name, value)
        layer.CreateFeature(f)
    ds = None


def box(c0, r0, c1, r1, x0=X0, y0=Y0, cell=CELL):
    """The WKT polygon over cells [c0, c1) x [r0, r1) of a grid with top-left (x0, y0)."""
    xa, xb = x0 + c0 * cell, x0 + c1 * cell
    ya, yb = y0 - r0 * cell, y0 - r1 * cell
    return f"POLYGON(({xa} {ya},{xb} {ya},{xb} {yb},{xa} {yb},{xa} {ya}))"


def centre(c, r, dx=0.0, dy=0.0):
    return X0 + (c + 0.5) * CELL + dx, Y0 - (r + 0.5) * CELL + dy


def ellipse_inside(rows, cols, path):
    """An ellipse boundary written to `path` and the cells whose centre lies inside it."""
    cx, cy = X0 + cols * CELL * 0.48, Y0 - rows * CELL * 0.5
    rx, ry = cols * CELL * 0.44, rows * CELL * 0.47
    ring = [(cx + rx * math.cos(2 * math.pi * k / 64), cy + ry * math.sin(2 * math.pi * k / 64))
            for k in range(65)]
    wkt = "POLYGON((" + ",".join(f"{x} {y}" for x, y in ring) + "))"
    write_layer(path, [(wkt, {})], ogr.wkbPolygon)
    poly = ogr.CreateGeometryFromWkt(wkt)
    inside = np.zeros((rows, cols), dtype=bool)
    for i in range(rows):
        for j in range(cols):
            x, y = centre(j, i)
            inside[i, j] = poly.Contains(ogr.CreateGeometryFromWkt(f"POINT({x} {y})"))
    return inside


def reference_window(codes, data, r):
    """Distinct codes among the data cells of each (2r+1)^2 window centred on a data cell;
    -1 for no count."""
    rows, cols = codes.shape
    out = np.full((rows, cols), -1, dtype=np.int64)
    for i in range(r, rows - r):
        for j in range(r, cols - r):
            if data[i, j]:
                window = (slice(i - r, i + r + 1), slice(j - r, j + r + 1))
                out[i, j] = len(np.unique(codes[window][data[window]]))
    return out


def reference_mesh(codes, data, r):
    """Distinct codes among the data cells of each whole mesh cell from the top-left corner;
    -1 for no count."""
    rows, cols = codes.shape
    side = 2 * r + 1
    out = np.full((rows, cols), -1, dtype=np.int64)
    for i in range(0, rows - side + 1, side):
        for j in range(0, cols - side + 1, side):
            cell = (slice(i, i + side), slice(j, j + side))
            if data[cell].any():
                out[cell] = len(np.unique(codes[cell][data[cell]]))
    return out


class Scratch(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tessera_richness_")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def at(self, *names):
        return os.path.join(self.root, *names)

    def gis(self, *args, env=None):
        done = subprocess.run([GIS, *args], cwd=self.root, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120, check=False,
                              env=dict(os.environ, **(env or {})))
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def richness(self, *args):
        """Runs richness (which must succeed); returns (cells as int64, dataset, stderr)."""
        status, out, err = self.gis("richness", *args)
        self.assertEqual(status, 0, err)
        path = args[args.index("--out") + 1]
        self.assertEqual(out, path + "\n")
        ds = gdal.Open(self.at(path))
        return ds.GetRasterBand(1).ReadAsArray().astype(np.int64), ds, err

    def assert_layer_made(self, ds, kind, r, source, field=None):
        """A Byte GeoTIFF, DEFLATE, tiled, no-data 255, EPSG code kept, how it was made."""
        band = ds.GetRasterBand(1)
        self.assertEqual(ds.GetDriver().ShortName, "GTiff")
        self.assertEqual(band.DataType, gdal.GDT_Byte)
        self.assertEqual(band.GetNoDataValue(), 255)
        self.assertEqual(band.GetBlockSize(), [256, 256])
        self.assertEqual(ds.GetMetadata("IMAGE_STRUCTURE").get("COMPRESSION"), "DEFLATE")
        self.assertEqual(ds.GetSpatialRef().GetAuthorityCode(None), str(EPSG))
        meta = {k: v for k, v in ds.GetMetadata().items() if k.startswith("TESSERA_")}
        expect = {"TESSERA_PROCESSING": kind, "TESSERA_RANGE": str(r),
                  "TESSERA_SOURCE": source, "TESSERA_VERSION": "tessera 0.4"}
        if field:
            expect["TESSERA_FIELD"] = field
        self.assertEqual(meta, expect)


# ---- Class rasters against the numpy reference ----

class RichnessReference(Scratch):

    ROWS, COLS = 41, 58  # a multiple of no 2R+1 used here

    def test_every_window_and_mesh_cell_as_recounted(self):
        rng = np.random.default_rng(21)
        shape = (self.ROWS, self.COLS)
        inside = ellipse_inside(*shape, self.at("area.geojson"))
        holes = rng.random(shape) < 0.1
        holes[5:9, 30:40] = True  # a lake
        cases = []  # (file, codes as read, cells with data, ranges, with boundary)
        codes = rng.integers(0, 10, shape)
        write_raster(self.at("byte.tif"), np.where(holes, 255, codes).astype(np.uint8),
                     gdal.GDT_Byte, 255)
        cases.append(("byte.tif", codes, ~holes, [1], True))
        # Negative codes, an ASCII grid whose ESRI .prj carries no EPSG code.
        codes = rng.integers(-6, 6, shape)
        write_raster(self.at("signed.asc"), np.where(holes, -9999, codes).astype(np.int16),
                     gdal.GDT_Int16, -9999, driver="AAIGrid")
        cases.append(("signed.asc", codes, ~holes, [2], False))
        # Whole real values, NaN for no data.
        codes = rng.integers(100, 108, shape)
        write_raster(self.at("real.tif"), np.where(holes, np.nan, codes).astype(np.float32),
                     gdal.GDT_Float32, float("nan"))
        cases.append(("real.tif", codes, ~holes, [3], True))
        # No-data by an internal mask.
        codes = rng.integers(0, 5, shape)
        write_raster(self.at("masked.tif"), codes.astype(np.uint8), gdal.GDT_Byte,
                     mask=~holes)
        cases.append(("masked.tif", codes, ~holes, [1], False))
        # A code per cell: windows of 17 x 17 count up to 289, written as 254.
        codes = np.arange(self.ROWS * self.COLS).reshape(shape) * 1000 - 7
        write_raster(self.at("unique.tif"), np.where(holes, -1, codes).astype(np.int32),
                     gdal.GDT_Int32, -1)
        cases.append(("unique.tif", codes, ~holes, [8], True))

        capped_seen = False
        for name, codes, data, ranges, bounded in cases:
            area = data & inside if bounded else data
            for r in ranges:
                for option, kind, reference in [("--window", "moving_window", reference_window),
                                                 ("--mesh", "square_cell_mesh", reference_mesh)]:
                    with self.subTest(source=name, option=option, r=r, boundary=bounded):
                        out = f"{name[:-4]}_{option[2:]}{r}.tif"
                        if name == "byte.tif" and option == "--window":
                            # A side file of an earlier file of this name goes with it.
                            write_raster(self.at(out), np.zeros((3, 3), np.uint8), gdal.GDT_Byte)
                            with open(self.at(out + ".aux.xml"), "w") as f:
                                f.write("<PAMDataset><PAMRasterBand band=\"1\"><NoDataValue>0"
                                        "</NoDataValue></PAMRasterBand></PAMDataset>\n")
                        args = ["--out", out, option, str(r)]
                        args += ["--boundary", "area.geojson"] if bounded else []
                        got, ds, err = self.richness(*args, name)
                        self.assert_layer_made(ds, kind, r, name)
                        self.assertEqual(ds.GetGeoTransform(), (X0, CELL, 0.0, Y0, 0.0, -CELL))
                        expect = reference(codes, area, r)
                        capped = int((expect > 254).sum())
                        np.testing.assert_array_equal(
                            got, np.where(expect < 0, 255, np.minimum(expect, 254)))
                        if capped:
                            capped_seen = True
                            self.assertEqual(err, f"tessera_gis: warning: {out}: {capped} cells "
                                                  "have a count above 254, written as 254\n")
                        else:
                            self.assertEqual(err, "")
                        self.assertFalse(os.path.exists(self.at(out + ".aux.xml")))
        self.assertTrue(capped_seen)
        self.assertEqual([f for f in os.listdir(self.root) if f.startswith(".")], [])


# ---- Vector sources against counts made by hand ----

class RichnessVectors(Scratch):

    def test_polygons_with_a_field_on_cell_centres(self):
        # Six by six cells of 25 m. G granite, S schist, M marble, . no polygon:
        #   G M G S S S      M: a polygon over cell (0, 1), later in the layer than the
        #   G G G S S S         granite under it, so it wins there
        #   G G G S S S
        #   G G G G G G      the second granite polygon is another feature of the same class
        #   G G G G M G
        #   G G G . . .      the polygon of row 5 has no value in the field: no class
        features = [(box(0, 0, 3, 6), {"unit": "granite"}), (box(3, 0, 6, 3), {"unit": "schist"}),
                    (box(3, 3, 6, 5), {"unit": "granite"}), (box(1, 0, 2, 1), {"unit": "marble"}),
                    (box(4, 4, 5, 5), {"unit": "marble"}), (box(3, 5, 6, 6), {"unit": None})]
        write_layer(self.at("geology.gpkg"), features, ogr.wkbPolygon,
                    fields=[("unit", ogr.OFTString)])
        window = [[255, 255, 255, 255, 255, 255],
                  [255, 2, 3, 2, 1, 255],
                  [255, 1, 2, 2, 2, 255],
                  [255, 1, 2, 3, 3, 255],
                  [255, 1, 1, 2, 2, 255],
                  [255, 255, 255, 255, 255, 255]]
        mesh = [[2, 2, 2, 1, 1, 1]] * 3 + [[1, 1, 1, 2, 2, 2]] * 3
        for option, expect in [("--window", window), ("--mesh", mesh)]:
            with self.subTest(option=option):
                got, ds, err = self.richness("--out", f"geol_{option[2:]}.tif", option, "1",
                                             "--field", "unit", "--cell", "25", "geology.gpkg")
                np.testing.assert_array_equal(got, np.array(expect))
                self.assert_layer_made(ds, option[2:].replace("window", "moving_window")
                                       .replace("mesh", "square_cell_mesh"), 1, "geology.gpkg",
                                       "unit")
                # --cell: the grid starts at the layer's top-left corner.
                self.assertEqual(ds.GetGeoTransform(), (X0, CELL, 0.0, Y0, 0.0, -CELL))
                self.assertEqual(err, "tessera_gis: warning: geology.gpkg: 1 feature has no "
                                      "value in the field unit: their cells hold no class\n")

    def test_points_and_a_line_each_a_class_on_the_grid_of_a_raster(self):
        # Five rows, six columns. Springs A in cell (0, 0), B and C both in cell (1, 1), D in
        # cell (3, 4); a river reach along the middle of row 4 touches the whole row. Each is a
        # class of its own: B and C count as two; the reach counts once in a window however
        # many of its cells lie there. The layer is in longitude and latitude (EPSG:4326),
        # reprojected onto the raster's grid.
        write_raster(self.at("grid.tif"), np.zeros((5, 6), np.uint8), gdal.GDT_Byte)
        a, b, c, d = centre(0, 0), centre(1, 1, -4, 3), centre(1, 1, 5, -2), centre(4, 3)
        x0, y = centre(0, 4)
        features = [(f"POINT({a[0]} {a[1]})", {}), (f"POINT({b[0]} {b[1]})", {}),
                    (f"POINT({c[0]} {c[1]})", {}), (f"POINT({d[0]} {d[1]})", {}),
                    (f"LINESTRING({x0 - 5} {y},{x0 + 5 * CELL + 5} {y})", {})]
        to_degrees = osr.CoordinateTransformation(srs_of(EPSG), srs_of(4326))
        features = [(ogr.CreateGeometryFromWkt(wkt), values) for wkt, values in features]
        for geometry, _ in features:
            geometry.Transform(to_degrees)
        write_layer(self.at("springs.geojson"), [(g.ExportToWkt(), v) for g, v in features],
                    ogr.wkbUnknown, epsg=4326)
        window = [[255] * 6,
                  [255, 3, 2, 0, 0, 255],
                  [255, 2, 2, 1, 1, 255],
                  [255, 1, 1, 2, 2, 255],
                  [255] * 6]
        mesh = [[3, 3, 3, 0, 0, 0]] * 3 + [[255] * 6] * 2
        for option, expect in [("--window", window), ("--mesh", mesh)]:
            with self.subTest(option=option):
                got, ds, err = self.richness("--out", f"springs_{option[2:]}.tif", option, "1",
                                             "--like", "grid.tif", "springs.geojson")
                np.testing.assert_array_equal(got, np.array(expect))
                self.assertEqual(err, "")
                self.assertEqual(ds.GetGeoTransform(), (X0, CELL, 0.0, Y0, 0.0, -CELL))


# ---- The classic program detects how the layers were made ----

class RichnessInClassicProgram(Scratch):

    def test_prepared_layers_are_detected_as_window_or_mesh(self):
        # More classes to the east, so that the counts, and so the levels, vary: the cells
        # that hold the largest sum get no level in the classic program, and the detection
        # reads the first cells of the middle row.
        rng = np.random.default_rng(8)
        top = 1 + np.arange(52) // 4
        for name in ("geology", "soils"):
            codes = rng.integers(0, 1000, (43, 52)) % top
            write_raster(self.at(name + ".tif"), codes.astype(np.uint8), gdal.GDT_Byte, 255)
        for option, r, detected in [("--window", 3, "moving_window"),
                                    ("--mesh", 2, "square_cell_mesh")]:
            with self.subTest(option=option):
                layers = []
                for name in ("geology", "soils"):
                    out = f"{name}_{option[2:]}.tif"
                    self.richness("--out", out, option, str(r), name + ".tif")
                    layers.append(out)
                folder = self.at("run_" + option[2:])
                status, _, err = self.gis("prepare", "--out", folder, *layers)
                self.assertEqual(status, 0, err)
                with open(os.path.join(folder, "run.txt"), "rb") as answers:
                    done = subprocess.run([SUMMARY], stdin=answers, stdout=subprocess.PIPE,
                                          stderr=subprocess.STDOUT, cwd=self.root,
                                          env=dict(os.environ, LC_ALL="C"), timeout=60)
                self.assertEqual(done.returncode, 0, done.stdout[-1500:])
                with open(os.path.join(folder, "comp_run.json")) as f:
                    processing = json.load(f)["processing"]
                self.assertEqual(processing["detected"], detected)
                if detected == "moving_window":
                    self.assertEqual(processing["range"], r)


# ---- Every refusal, through the binary: exit status, message, nothing written ----

class RichnessRefusals(Scratch):

    def setUp(self):
        super().setUp()
        good = np.random.default_rng(2).integers(0, 5, (20, 30)).astype(np.uint8)
        write_raster(self.at("a.tif"), good, gdal.GDT_Byte, 255)
        write_raster(self.at("real.tif"), good.astype(np.float32) + 0.5, gdal.GDT_Float32)
        write_raster(self.at("plain.tif"), good, gdal.GDT_Byte, georeferenced=False, epsg=None)
        write_raster(self.at("nocrs.tif"), good, gdal.GDT_Byte, epsg=None)
        write_raster(self.at("empty.tif"), np.full((20, 30), 255, np.uint8), gdal.GDT_Byte, 255)
        write_layer(self.at("units.gpkg"), [(box(0, 0, 4, 4), {"unit": 3})], ogr.wkbPolygon,
                    fields=[("unit", ogr.OFTInteger)])
        write_layer(self.at("wells.geojson"), [("POINT(430010 4579990)", {"kind": 1})],
                    ogr.wkbPoint, fields=[("kind", ogr.OFTInteger)])
        write_layer(self.at("far.geojson"), [(box(0, 0, 4, 4, x0=900000), {})], ogr.wkbPolygon)
        write_layer(self.at("degrees.geojson"), [("POINT(-3.5 40.2)", {}), ("POINT(-3.4 40.3)",
                                                                              {})],
                    ogr.wkbPoint, epsg=4326)

    def test_each_refusal_has_its_status_and_message(self):
        cases = [
            # (arguments, exit status, words of the message)
            ([], 2, ["richness needs --out FILE.tif"]),
            (["--out", "o.tif", "a.tif"], 2, ["needs --window R or --mesh R"]),
            (["--out", "o.tif", "--window", "2"], 2, ["needs a SOURCE"]),
            (["--out", "o.tif", "--window", "2", "--mesh", "2", "a.tif"], 2,
             ["one of --window and --mesh"]),
            (["--out", "o.tif", "--window", "two", "a.tif"], 2, ["--window takes a whole number"]),
            (["--out", "o.tif", "--mesh", "2", "--cell", "-5", "units.gpkg"], 2,
             ["--cell takes a cell size greater than 0"]),
            (["--out", "o.tif", "--mesh", "2", "--like", "a.tif", "--cell", "5", "units.gpkg"],
             2, ["--like or --cell, not both"]),
            (["--out", "o.tif", "--window", "2", "--size", "3", "a.tif"], 2,
             ["unknown option '--size'"]),
            (["--out", "o.tif", "--window", "2", "a.tif", "b.tif"], 2, ["one SOURCE only"]),
            (["--out", "o.tif", "--window", "2", "--field", "unit", "a.tif"], 2,
             ["--field applies to a vector source", "a.tif is a raster"]),
            (["--out", "o.tif", "--window", "2", "units.gpkg"], 2,
             ["a vector source needs a grid"]),
            (["--out", "a.tif", "--window", "2", "a.tif"], 2, ["would replace the input file"]),
            (["--out", "o.tif", "--window", "2", "missing.tif"], 1,
             ["missing.tif: cannot be opened"]),
            (["--out", "o.tif", "--window", "0", "a.tif"], 1,
             ["a.tif: --window 0 is out of range", "from 1 to 127"]),
            (["--out", "o.tif", "--mesh", "128", "a.tif"], 1, ["a.tif: --mesh 128 is out of range"]),
            (["--out", "o.tif", "--window", "10", "a.tif"], 1,
             ["a.tif: --window 10 needs 21 x 21 cells, more than its grid of 30 x 20",
              "at most 9"]),
            (["--out", "o.tif", "--window", "1", "real.tif"], 1,
             ["real.tif: holds real values with a fraction", "at row 0, column 0"]),
            (["--out", "o.tif", "--window", "1", "plain.tif"], 1,
             ["plain.tif: has no georeferencing"]),
            (["--out", "o.tif", "--window", "1", "nocrs.tif"], 1, ["nocrs.tif: has no CRS"]),
            (["--out", "o.tif", "--window", "1", "empty.tif"], 1, ["empty.tif: holds no data"]),
            (["--out", "o.tif", "--window", "1", "--field", "name", "--like", "a.tif",
              "units.gpkg"], 1, ["units.gpkg: has no field 'name' (its fields: unit)"]),
            (["--out", "o.tif", "--window", "1", "--field", "kind", "--like", "a.tif",
              "wells.geojson"], 1, ["wells.geojson: feature 0 is a Point, not a polygon"]),
            (["--out", "o.tif", "--window", "1", "--cell", "0.01", "degrees.geojson"], 1,
             ["degrees.geojson: its CRS EPSG:4326 is geographic", "ogr2ogr -t_srs"]),
            (["--out", "o.tif", "--window", "1", "--like", "a.tif", "far.geojson"], 1,
             ["far.geojson: no feature touches the grid of a.tif"]),
            (["--out", "o.tif", "--window", "1", "--boundary", "far.geojson", "a.tif"], 1,
             ["far.geojson: no cell centre of the grid of a.tif lies inside the boundary"]),
            (["--out", "no/such/folder/o.tif", "--window", "1", "a.tif"], 1,
             ["no/such/folder/o.tif: cannot be created"]),
            (["--out", ".", "--window", "1", "a.tif"], 1,
             [".: cannot be written (a folder has this name)"]),
        ]
        for args, status, words in cases:
            with self.subTest(args=" ".join(args)):
                got, out, err = self.gis("richness", *args)
                self.assertEqual(got, status, err)
                self.assertEqual(out, "")
                lines = err.splitlines()
                self.assertEqual(len(lines), 1, err)
                self.assertTrue(lines[0].startswith("tessera_gis: "), err)
                if status == 2:
                    self.assertTrue(lines[0].endswith("(see tessera_gis richness --help)"), err)
                for word in words:
                    self.assertIn(word, err)
                self.assertFalse(os.path.exists(self.at("o.tif")))
        # A grid larger than the memory is refused before anything is allocated.
        got, _, err = self.gis("richness", "--out", "o.tif", "--window", "1", "a.tif",
                               env={"TESSERA_MEMORY_BYTES": str(32 << 20)})
        self.assertEqual(got, 1)
        self.assertIn("a.tif: its grid of 30 x 20 cells needs about", err)
        self.assertIn("more than the memory available (32 MiB)", err)
        self.assertEqual(sorted(f for f in os.listdir(self.root)
                                if f.startswith(".") or f.startswith("o.")), [])
        # The help the usage errors point at.
        status, out, _ = self.gis("richness", "--help")
        self.assertEqual(status, 0)
        self.assertTrue(out.startswith("Usage: tessera_gis richness --out FILE.tif"))


def main():
    global SUMMARY, GIS
    if len(sys.argv) < 3:
        print("usage: test_richness.py <tessera_summary> <tessera_gis|none> [tests...]")
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
