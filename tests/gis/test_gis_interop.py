#!/usr/bin/env python3
"""Interoperability of tessera_summary's files with GIS tools.

GDAL/OGR (and Python imaging) open the files the program writes and write files the program
must read. Each test runs the built program as a child process over scripted answers, with
LC_ALL=C, in a scratch folder.

Usage: test_gis_interop.py <path of tessera_summary> [unittest names...]
Exits with 77 (which CTest treats as a skip) when GDAL and its Python bindings are missing.
"""

import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

SKIP = 77

try:
    import numpy as np
    from osgeo import gdal, ogr
except ImportError as missing:
    print(f"SKIPPED: GIS interoperability tests need GDAL's Python bindings ({missing}); "
          "install the Debian packages gdal-bin python3-gdal python3-pil")
    sys.exit(SKIP)
if shutil.which("gdal_translate") is None:
    print("SKIPPED: GIS interoperability tests need gdal_translate (Debian package gdal-bin)")
    sys.exit(SKIP)
try:
    from PIL import Image
except ImportError:
    Image = None

gdal.UseExceptions()
ogr.UseExceptions()

BINARY = None  # set from the command line


# ---- Running the program ----

class Run:
    """One finished run: exit status, console text (code page 850 bytes) and its folder."""

    def __init__(self, status, console, folder):
        self.status = status
        self.console = console
        self.folder = folder

    def path(self, name):
        return os.path.join(self.folder, name)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()


def run_program(root, folder, images, result, out_format, levels=10, extra=(), mesh=None):
    """Runs one English session on folder `folder` under the user disk `root`.

    images: (name, format code, weight) in order. extra: answers after the number of levels
    (the pixel size, asked when the last image is a BMP; the sizes of a raw image without
    descriptor). mesh: answers of the cell-mesh stage; by default the drawing is declined.
    """
    answers = ["0", "2", root, folder, str(len(images))]
    answers += [name for name, _, _ in images]
    answers += [str(fmt) for _, fmt, _ in images]
    answers += [str(weight) for _, _, weight in images]
    answers += ["1", result, str(out_format), str(levels)]
    answers += [str(a) for a in extra]
    answers += mesh if mesh is not None else ["1"]
    env = dict(os.environ, LC_ALL="C")
    done = subprocess.run([BINARY], input="\n".join(answers).encode() + b"\n",
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                          cwd=root, timeout=120, check=False)
    return Run(done.returncode, done.stdout.decode("latin-1"), os.path.join(root, folder))


def item_statistics(report):
    """(value, pixel count) pairs of the item lines of a run report."""
    text = report.decode("latin-1")
    return [(int(v), int(n)) for v, n in re.findall(r"item \d+ code (\d+) pixels (\d+)", text)]


def expected_items(values):
    """Item statistics the program reports for one image: 255 counted as 254, and the highest
    value present left out of the list."""
    counts = {}
    for v in values.ravel().tolist():
        v = 254 if v == 255 else v
        counts[v] = counts.get(v, 0) + 1
    return sorted(counts.items())[:-1]


# ---- Writing the system's own layouts (the references) ----

def write_own_ascii(path, values, xll, yll, cellsize):
    """The ASCII grid exactly as the program's result writer lays it out."""
    rows, cols = values.shape
    with open(path, "w", newline="") as f:
        f.write(f"ncols {cols}\nnrows {rows}\n")
        f.write(f"xllcorner {xll:f}\nyllcorner {yll:f}\ncellsize {cellsize:f}\n")
        f.write("nodata_value -9999.9999\n")
        f.write("".join(f"{v}\t" for v in values.ravel().tolist()))


def write_own_raw(base, values, pixel):
    rows, cols = values.shape
    with open(base + ".raw", "wb") as f:
        f.write(values.astype(np.uint8).tobytes())
    with open(base + ".txt", "w", newline="") as f:
        f.write(f"{rows}\n{cols}\n1\n0\n255\n{pixel}\n")


# ---- Files written by GDAL and Python imaging ----

def write_geotiff(path, values, xll, yll, cellsize, dtype=gdal.GDT_Byte, nodata=None,
                  colours=None, cell_height=None):
    rows, cols = values.shape
    ds = gdal.GetDriverByName("GTiff").Create(path, cols, rows, 1, dtype)
    height = cellsize if cell_height is None else cell_height
    ds.SetGeoTransform((xll, cellsize, 0.0, yll + rows * height, 0.0, -height))
    band = ds.GetRasterBand(1)
    band.WriteArray(values)
    if nodata is not None:
        band.SetNoDataValue(nodata)
    if colours is not None:
        table = gdal.ColorTable()
        for i, rgb in enumerate(colours):
            table.SetColorEntry(i, (*rgb, 255))
        band.SetRasterColorTable(table)
    ds = None


def gdal_translate(*args):
    done = subprocess.run(["gdal_translate", "-q", *args], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, check=False)
    if done.returncode != 0:
        raise AssertionError("gdal_translate failed: " + done.stdout.decode())


def sample_values(rows, cols, seed, top=254):
    """A sub-index image: values 1..top, a few background zeros, a small value at the left
    end of the middle row (so the level grid starts there and reads as a square cell mesh)."""
    rng = np.random.default_rng(seed)
    values = rng.integers(1, top + 1, size=(rows, cols), dtype=np.uint8)
    values[0, 0] = values[rows - 1, 3] = values[2, cols - 1] = 0
    values[rows // 2, 0] = 2
    return values


class Scratch(unittest.TestCase):
    """A scratch folder "zone" under a temporary user disk, removed afterwards."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tessera_gis_")
        self.zone = os.path.join(self.root, "zone")
        os.mkdir(self.zone)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def at(self, name):
        return os.path.join(self.zone, name)

    def run_ok(self, *args, **kwargs):
        run = run_program(self.root, "zone", *args, **kwargs)
        self.assertEqual(run.status, 0, run.console[-2000:])
        return run


# ---- Our outputs opened by GDAL and OGR ----

class OurResultsInGdal(Scratch):
    """One study area, the same run three times: ASCII grid, raw and BMP results."""

    ROWS, COLS = 17, 23           # odd sizes: BMP rows carry fill bytes
    XLL, YLL, CELL = 512345.5, 4198765.25, 25.0
    LEVELS = 7
    MESH = ["0", "0", "1"]        # draw the mesh, agree with the square cell mesh, range 1

    def setUp(self):
        super().setUp()
        self.a = sample_values(self.ROWS, self.COLS, seed=11, top=200)
        self.b = sample_values(self.ROWS, self.COLS, seed=12, top=120)
        write_own_ascii(self.at("geol.asc"), self.a, self.XLL, self.YLL, self.CELL)
        write_own_ascii(self.at("soil.asc"), self.b, self.XLL, self.YLL, self.CELL)
        images = [("geol", 2, 1), ("soil", 2, 2)]
        self.asc = self.run_ok(images, "rasc", 2, self.LEVELS, mesh=self.MESH)
        self.raw = self.run_ok(images, "rraw", 0, self.LEVELS, mesh=self.MESH)
        self.bmp = self.run_ok(images, "rbmp", 1, self.LEVELS, mesh=self.MESH)
        descriptor = self.raw.read("rraw_tessum.txt").decode().split()
        self.rows, self.cols, self.pixel = int(descriptor[0]), int(descriptor[1]), int(descriptor[5])
        self.levels = np.frombuffer(self.raw.read("rraw_tessum.raw"), dtype=np.uint8)
        self.assertEqual(self.levels.size, self.rows * self.cols)
        self.levels = self.levels.reshape(self.rows, self.cols)

    def test_ascii_result_matches_the_raw_result_in_gdal(self):
        ds = gdal.Open(self.asc.path("rasc_tessum.asc"))
        self.assertEqual(ds.GetDriver().ShortName, "AAIGrid")
        self.assertEqual((ds.RasterYSize, ds.RasterXSize), (self.rows, self.cols))
        self.assertEqual((self.rows, self.cols), (self.ROWS, self.COLS))
        x0, dx, rx, y0, ry, dy = ds.GetGeoTransform()
        self.assertEqual((rx, ry), (0.0, 0.0))
        self.assertEqual(dx, self.pixel)
        self.assertEqual(-dy, self.pixel)
        self.assertAlmostEqual(x0, self.XLL, places=6)                    # xllcorner
        self.assertAlmostEqual(y0 + self.rows * dy, self.YLL, places=6)   # yllcorner
        band = ds.GetRasterBand(1)
        np.testing.assert_array_equal(band.ReadAsArray(), self.levels)
        # No cell of the result is hidden as no-data in the GIS.
        self.assertTrue((band.GetMaskBand().ReadAsArray() == 255).all())
        # The result holds levels, mesh lines and background, not a constant.
        self.assertGreater(len(np.unique(self.levels)), 3)

    def test_bmp_result_matches_the_raw_result_in_gdal(self):
        ds = gdal.Open(self.bmp.path("rbmp_tessum.bmp"))
        self.assertEqual(ds.GetDriver().ShortName, "BMP")
        self.assertEqual((ds.RasterCount, ds.RasterYSize, ds.RasterXSize),
                         (1, self.rows, self.cols))
        band = ds.GetRasterBand(1)
        self.assertEqual(band.DataType, gdal.GDT_Byte)
        self.assertEqual(band.GetRasterColorInterpretation(), gdal.GCI_PaletteIndex)
        table = band.GetColorTable()
        self.assertEqual(table.GetCount(), 256)
        for i in range(256):
            self.assertEqual(table.GetColorEntry(i)[:3], (i, i, i), f"palette entry {i}")
        # GDAL's row 0 is the top row: the raw result's first row.
        np.testing.assert_array_equal(band.ReadAsArray(), self.levels)

    def test_raw_and_bmp_results_georeferenced_by_the_sidecar_files_of_the_docs(self):
        # docs/gis.md: an ESRI .hdr beside the raw result and a world file beside the BMP
        # result, both giving the centre of the top-left cell.
        ulx = self.XLL + self.CELL / 2
        uly = self.YLL + self.ROWS * self.CELL - self.CELL / 2
        with open(self.raw.path("rraw_tessum.hdr"), "w") as f:
            f.write(f"NROWS {self.rows}\nNCOLS {self.cols}\nNBANDS 1\nNBITS 8\n"
                    f"LAYOUT BIL\nULXMAP {ulx}\nULYMAP {uly}\n"
                    f"XDIM {self.pixel}\nYDIM {self.pixel}\n")
        with open(self.bmp.path("rbmp_tessum.wld"), "w") as f:
            f.write(f"{self.pixel}\n0\n0\n{-self.pixel}\n{ulx}\n{uly}\n")
        want = gdal.Open(self.asc.path("rasc_tessum.asc")).GetGeoTransform()
        for path in (self.raw.path("rraw_tessum.raw"), self.bmp.path("rbmp_tessum.bmp")):
            with self.subTest(path=os.path.basename(path)):
                ds = gdal.Open(path)
                self.assertEqual(ds.GetGeoTransform(), want)
                np.testing.assert_array_equal(ds.ReadAsArray(), self.levels)

    def test_point_file_loads_as_an_ogr_point_layer_on_cell_centres(self):
        ij_lines = self.asc.read("rasc_points_ij.txt").decode().splitlines()
        ij = [tuple(int(t) for t in line.split("\t")) for line in ij_lines]
        self.assertGreater(len(ij), 0)
        layer_ds = gdal.OpenEx("CSV:" + self.asc.path("rasc_points_utm.txt"), gdal.OF_VECTOR,
                               open_options=["HEADERS=NO", "AUTODETECT_TYPE=YES",
                                             "X_POSSIBLE_NAMES=field_1",
                                             "Y_POSSIBLE_NAMES=field_2"])
        layer = layer_ds.GetLayer(0)
        self.assertEqual(ogr.GT_Flatten(layer.GetGeomType()), ogr.wkbPoint)
        self.assertEqual(layer.GetFeatureCount(), len(ij))
        x0, dx, _, y0, _, dy = gdal.Open(self.asc.path("rasc_tessum.asc")).GetGeoTransform()
        for feature, (j, i, level) in zip(layer, ij):
            point = feature.GetGeometryRef()
            x, y = point.GetX(), point.GetY()
            where = f"point of column {j}, row {i}"
            # The point lies inside the cell (column j, row i) of the result grid...
            self.assertEqual((math.floor((x - x0) / dx), math.floor((y - y0) / dy)), (j, i), where)
            # ...at its centre, to the three decimals the file carries.
            self.assertAlmostEqual(x, x0 + (j + 0.5) * dx, delta=0.0005, msg=where)
            self.assertAlmostEqual(y, y0 + (i + 0.5) * dy, delta=0.0005, msg=where)
            self.assertEqual(feature.GetField(2), level, where)
            self.assertTrue(1 <= level <= self.LEVELS, where)

    def test_histogram_loads_as_an_ogr_table(self):
        # The histogram is tab-separated text whatever its name: two tables (cells, then
        # points) of "level<TAB>count" lines, each after the first opened by one blank.
        ds = gdal.OpenEx("CSV:" + self.asc.path("rasc_histo.xls"), gdal.OF_VECTOR,
                         open_options=["HEADERS=NO"])
        rows = [(f.GetField(0).strip(), f.GetField(1)) for f in ds.GetLayer(0)]
        levels = [str(k) for k in range(1, self.LEVELS + 1)]
        cells, points = rows[:self.LEVELS], rows[self.LEVELS + 1:2 * self.LEVELS + 1]
        self.assertEqual([level for level, _ in cells], levels)
        self.assertEqual(rows[self.LEVELS][0], "")
        # The file ends with the blank that would open a next line.
        self.assertEqual([level for level, _ in rows[2 * self.LEVELS + 1:]], [""])
        self.assertEqual([level for level, _ in points], levels)
        points_in_file = len(self.asc.read("rasc_points_ij.txt").splitlines())
        self.assertEqual(sum(int(n) for _, n in points), points_in_file)
        self.assertLessEqual(sum(int(n) for _, n in cells), self.rows * self.cols)


# ---- Inputs written by GDAL and Python imaging ----

class ToolWrittenInputs(Scratch):
    """Each tool-written sub-index image must give the run that the same values in the
    system's own layout give: the same result file and the same item statistics."""

    ROWS, COLS = 11, 13
    XLL, YLL, CELL = 300000.0, 5000000.0, 20.0

    def setUp(self):
        super().setUp()
        self.values = sample_values(self.ROWS, self.COLS, seed=5)
        # The same area with no-data cells (255); none at the left end of the middle row.
        self.with_nodata = self.values.copy()
        self.with_nodata[[1, 4, 9], [2, 7, 12]] = 255

    def compare_ascii(self, name, values):
        """Runs the tool's zone/name.asc and our own layout of `values`, ASCII results."""
        write_own_ascii(self.at("own.asc"), values, self.XLL, self.YLL, self.CELL)
        own = self.run_ok([("own", 2, 1)], "rown", 2)
        tool = self.run_ok([(name, 2, 1)], "rtool", 2)
        self.assertEqual(item_statistics(tool.read("rtool_info.txt")), expected_items(values))
        self.assertEqual(tool.read("rtool_tessum.asc"), own.read("rown_tessum.asc"))
        # The corner and cell size went through the tool's header into the result.
        head = tool.read("rtool_tessum.asc").decode().splitlines()[:5]
        self.assertEqual(head[2:5], [f"xllcorner {self.XLL:f}", f"yllcorner {self.YLL:f}",
                                     f"cellsize {self.CELL:f}"])

    def compare_bmp(self, name, values):
        """Runs the tool's zone/name.bmp and our own raw layout of `values`, raw results."""
        write_own_raw(self.at("own"), values, int(self.CELL))
        own = self.run_ok([("own", 0, 1)], "rown", 0)
        tool = self.run_ok([(name, 1, 1)], "rtool", 0, extra=[int(self.CELL)])
        self.assertEqual(item_statistics(tool.read("rtool_info.txt")), expected_items(values))
        self.assertEqual(tool.read("rtool_tessum.raw"), own.read("rown_tessum.raw"))
        self.assertEqual(tool.read("rtool_tessum.txt"), own.read("rown_tessum.txt"))

    def test_gdal_ascii_grid_without_nodata(self):
        write_geotiff(self.at("src.tif"), self.values, self.XLL, self.YLL, self.CELL)
        gdal_translate("-of", "AAIGrid", self.at("src.tif"), self.at("gdal.asc"))
        with open(self.at("gdal.asc")) as f:
            self.assertNotIn("nodata", f.read().lower())  # five header lines
        self.compare_ascii("gdal", self.values)

    def test_gdal_ascii_grid_with_nodata(self):
        write_geotiff(self.at("src.tif"), self.with_nodata, self.XLL, self.YLL, self.CELL)
        gdal_translate("-of", "AAIGrid", "-a_nodata", "255", self.at("src.tif"),
                       self.at("gdal.asc"))
        with open(self.at("gdal.asc")) as f:
            self.assertIn("NODATA_value 255", f.read())
        self.compare_ascii("gdal", self.with_nodata)

    def test_gdal_ascii_grid_of_a_16_bit_band_with_nodata_minus_9999(self):
        wide = self.with_nodata.astype(np.int16)
        wide[wide == 255] = -9999
        write_geotiff(self.at("src.tif"), wide, self.XLL, self.YLL, self.CELL,
                      dtype=gdal.GDT_Int16, nodata=-9999)
        gdal_translate("-of", "AAIGrid", self.at("src.tif"), self.at("gdal.asc"))
        with open(self.at("gdal.asc")) as f:
            self.assertIn("-9999", f.read())
        # Read like the 8-bit band with no-data 255, not with -9999 wrapped to 241.
        self.compare_ascii("gdal", self.with_nodata)

    def real_band_with_nodata_minus_9999(self):
        """zone/src.tif: the area with no-data as a 32-bit real band, no-data -9999."""
        real = self.with_nodata.astype(np.float32)
        real[real == 255] = -9999
        write_geotiff(self.at("src.tif"), real, self.XLL, self.YLL, self.CELL,
                      dtype=gdal.GDT_Float32, nodata=-9999)

    def test_gdal_ascii_grid_of_a_real_band_with_whole_values(self):
        self.real_band_with_nodata_minus_9999()
        gdal_translate("-of", "AAIGrid", self.at("src.tif"), self.at("gdal.asc"))
        with open(self.at("gdal.asc")) as f:
            text = f.read()
        self.assertRegex(text, r"(?m)^ ?\d+\.0 ")  # GDAL marks a real band: "3.0" first
        # Read like the 8-bit band with no-data 255.
        self.compare_ascii("gdal", self.with_nodata)

    def test_the_advised_gdalwarp_command_keeps_no_data_as_255(self):
        # The command the refusal of real values advises, on a real band with no-data -9999:
        # the no-data cells come out as 255 and the whole values are kept.
        self.real_band_with_nodata_minus_9999()
        done = subprocess.run(["gdalwarp", "-q", "-of", "AAIGrid", "-ot", "Byte", "-dstnodata",
                               "255", self.at("src.tif"), self.at("warp.asc")],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
        self.assertEqual(done.returncode, 0, done.stdout.decode())
        ds = gdal.Open(self.at("warp.asc"))
        band = ds.GetRasterBand(1)
        self.assertEqual(band.GetNoDataValue(), 255)
        np.testing.assert_array_equal(band.ReadAsArray(), self.with_nodata)
        ds = None
        self.compare_ascii("warp", self.with_nodata)

    def test_gdal_bmp_from_an_8_bit_band(self):
        write_geotiff(self.at("src.tif"), self.values, self.XLL, self.YLL, self.CELL)
        gdal_translate("-of", "BMP", self.at("src.tif"), self.at("gdal.bmp"))
        self.compare_bmp("gdal", self.values)

    def test_gdal_bmp_from_an_8_bit_band_with_a_colour_table(self):
        colours = [(16 * i, 255 - 16 * i, 40) for i in range(16)]
        write_geotiff(self.at("src.tif"), self.values, self.XLL, self.YLL, self.CELL,
                      colours=colours)
        gdal_translate("-of", "BMP", self.at("src.tif"), self.at("gdal.bmp"))
        self.compare_bmp("gdal", self.values)

    def test_gdal_envi_raw_with_the_descriptor_asked(self):
        write_geotiff(self.at("src.tif"), self.values, self.XLL, self.YLL, self.CELL)
        gdal_translate("-of", "ENVI", self.at("src.tif"), self.at("gdal.raw"))
        write_own_raw(self.at("own"), self.values, int(self.CELL))
        own = self.run_ok([("own", 0, 1)], "rown", 0)
        # No descriptor beside GDAL's file: the program asks rows, columns and pixel size.
        tool = self.run_ok([("gdal", 0, 1)], "rtool", 0,
                           extra=[self.ROWS, self.COLS, int(self.CELL)])
        self.assertEqual(tool.read("gdal.txt"), own.read("own.txt"))
        self.assertEqual(item_statistics(tool.read("rtool_info.txt")),
                         expected_items(self.values))
        self.assertEqual(tool.read("rtool_tessum.raw"), own.read("rown_tessum.raw"))

    @unittest.skipIf(Image is None, "Python imaging (python3-pil) is not installed")
    def test_python_imaging_grey_bmp(self):
        Image.fromarray(self.values, "L").save(self.at("pil.bmp"))
        self.compare_bmp("pil", self.values)

    @unittest.skipIf(Image is None, "Python imaging (python3-pil) is not installed")
    def test_python_imaging_palette_bmp_with_a_short_palette(self):
        small = (self.values % 40).astype(np.uint8)
        small[self.ROWS // 2, 0] = 2
        image = Image.fromarray(small, "P")
        image.putpalette([c for i in range(40) for c in (6 * i, 0, 255 - 6 * i)])
        image.save(self.at("pil.bmp"))
        with open(self.at("pil.bmp"), "rb") as f:
            offset = int.from_bytes(f.read(14)[10:14], "little")
        self.assertEqual(offset, 54 + 4 * 40)  # only the 40 colours used are stored
        self.compare_bmp("pil", small)


class ToolFilesRefused(Scratch):
    """Tool files the program cannot read correctly stop the run with a message that says
    what to export instead."""

    def refused(self, name, fmt, *words):
        run = run_program(self.root, "zone", [(name, fmt, 1)], "res", 0, extra=[20])
        self.assertEqual(run.status, 1, run.console[-2000:])
        self.assertIn("Cannot read the file", run.console)
        for word in words:
            self.assertIn(word, run.console)
        self.assertFalse(os.path.exists(self.at("res_tessum.raw")))

    def test_gdal_ascii_grid_with_cells_that_are_not_square(self):
        values = sample_values(4, 6, seed=3)
        write_geotiff(self.at("src.tif"), values, 0.0, 0.0, 20.0, cell_height=30.0)
        for nodata in ([], ["-a_nodata", "255"]):
            with self.subTest(nodata=nodata):
                gdal_translate("-of", "AAIGrid", *nodata, self.at("src.tif"),
                               self.at("gdal.asc"))
                with open(self.at("gdal.asc")) as f:
                    self.assertRegex(f.read(), r"(?m)^dx +20")
                self.refused("gdal", 2, "cells are not square", "gdal_translate -of AAIGrid -tr")

    def test_gdal_ascii_grid_of_a_real_valued_band(self):
        values = sample_values(4, 6, seed=4).astype(np.float32) + 0.5
        write_geotiff(self.at("src.tif"), values, 0.0, 0.0, 20.0, dtype=gdal.GDT_Float32)
        gdal_translate("-of", "AAIGrid", self.at("src.tif"), self.at("gdal.asc"))
        self.refused("gdal", 2, "a value is not an integer",
                     "gdalwarp -of AAIGrid -ot Byte -dstnodata 255")

    def test_gdal_bmp_of_three_bands(self):
        ds = gdal.GetDriverByName("MEM").Create("", 6, 4, 3, gdal.GDT_Byte)
        gdal.GetDriverByName("BMP").CreateCopy(self.at("rgb.bmp"), ds)
        ds = None
        self.refused("rgb", 1, "only uncompressed 8-bit BMP", "-b 1 -ot Byte")

    @unittest.skipIf(Image is None, "Python imaging (python3-pil) is not installed")
    def test_python_imaging_one_bit_bmp(self):
        Image.fromarray(sample_values(4, 6, seed=6), "L").convert("1").save(self.at("bw.bmp"))
        self.refused("bw", 1, "only uncompressed 8-bit BMP")


def main():
    global BINARY
    if len(sys.argv) < 2 or not os.access(sys.argv[1], os.X_OK):
        print("usage: test_gis_interop.py <tessera_summary binary> [tests...]")
        return 2
    BINARY = os.path.abspath(sys.argv[1])
    print(f"GDAL {gdal.__version__}; Python imaging {'absent' if Image is None else 'present'}")
    program = unittest.main(argv=[sys.argv[0], "-v", *sys.argv[2:]], exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
