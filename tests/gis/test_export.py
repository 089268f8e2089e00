#!/usr/bin/env python3
"""tessera_gis export against GDAL and headless Chromium.

Runs the built tessera_summary on copies of the sample area, then tessera_gis export, and
checks what GDAL reads in <R>.tif and <R>_map.png (CRS, geotransform, no-data, colour table,
category names, every cell), what Chromium shows of <R>_report.html (the level colour of
every cell of the map, the legend's colours), and the refusals of bad input.

Usage: test_export.py <tessera_summary> <tessera_gis> <group>
  group: GeoTiffAndPng, ReportInChromium or BadInput.
Exits with 77 (a skip for CTest) where GDAL's Python bindings, tessera_gis or (for the report)
Chromium are missing.
"""

import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

SKIP = 77
try:
    import numpy as np
    from osgeo import gdal, osr
except ImportError as missing:
    print("SKIPPED: the export tests need GDAL's Python bindings and numpy (%s)" % missing)
    sys.exit(SKIP)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import tessera_files as tf  # noqa: E402

gdal.UseExceptions()
SUMMARY = GIS = None
CHROMIUM = "/usr/bin/chromium"
VIRIDIS_FIRST, VIRIDIS_LAST = (0x44, 0x01, 0x54), (0xfd, 0xe7, 0x25)


def export(base, *options, cwd=None):
    done = subprocess.run([GIS, "export", base, *options], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, cwd=cwd, timeout=120, check=False)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


class Sample:
    """A finished sample run in a scratch folder and its export."""

    def __init__(self, answers, result):
        self.tmp = tempfile.TemporaryDirectory()
        self.root = self.tmp.name
        self.zone = tf.fresh_area(self.root)
        status, console = tf.run_summary(SUMMARY, self.root, answers)
        assert status == 0, console[-400:]
        self.base = os.path.join(self.zone, result)
        self.record = json.loads(tf.slurp(self.base + "_run.json"))
        self.result = tf.read_result(self.zone, self.record)

    def close(self):
        self.tmp.cleanup()


def srs_of(wkt_file):
    s = osr.SpatialReference()
    s.ImportFromWkt(tf.slurp(wkt_file))
    return s


def colours(band):
    table = band.GetColorTable()
    return [table.GetColorEntry(v) for v in range(table.GetCount())]


class GeoTiffAndPng(unittest.TestCase):
    def check_outputs(self, s, want_srs):
        rec = s.record
        rows, cols, n = rec["grid"]["rows"], rec["grid"]["cols"], rec["levels"]["count"]
        tif = gdal.Open(s.base + ".tif")
        self.assertEqual((tif.RasterYSize, tif.RasterXSize, tif.RasterCount), (rows, cols, 1))
        g = rec["grid"]
        if g["x_min"] is None:
            self.assertEqual(tif.GetGeoTransform(), (0, 1, 0, 0, 0, 1))  # GDAL's "none"
        else:
            self.assertEqual(tif.GetGeoTransform(), (g["x_min"], g["cell_size"], 0.0,
                                                     g["y_min"] + rows * g["cell_size"], 0.0,
                                                     -g["cell_size"]))
        if want_srs is None:
            self.assertIsNone(tif.GetSpatialRef())
        else:
            self.assertTrue(tif.GetSpatialRef().IsSame(want_srs))
        band = tif.GetRasterBand(1)
        self.assertEqual(band.DataType, gdal.GDT_Byte)
        self.assertEqual(band.GetNoDataValue(), 255)
        self.assertEqual(tif.GetMetadata("IMAGE_STRUCTURE")["COMPRESSION"], "DEFLATE")
        self.assertTrue(np.array_equal(band.ReadAsArray(), s.result))

        table = colours(band)
        self.assertEqual(len(table), 256)
        levels = [table[k][:3] for k in range(1, n + 1)]
        self.assertEqual((levels[0], levels[-1]), (VIRIDIS_FIRST, VIRIDIS_LAST))
        self.assertEqual(len(set(levels)), n, "every level has its own colour")
        self.assertLess(sum(table[0][:3]), 120)  # mesh lines dark
        self.assertTrue(table[254][0] == table[254][1] == table[254][2] > 200)  # light grey
        # No data: the band's no-data value (a TIFF colour map holds no alpha).

        names = band.GetCategoryNames()
        want = ["level %d: %.6g \u2013 %.6g" % (c["level"], c["from"], c["to"])
                for c in rec["levels"]["classes"]]
        self.assertEqual(names[1:n + 1], want)
        self.assertEqual((names[0], names[254], names[255]),
                         ("mesh line", "outside the study area", "no data"))

        png = gdal.Open(s.base + "_map.png")
        self.assertEqual(png.GetDriver().ShortName, "PNG")
        self.assertEqual((png.RasterYSize, png.RasterXSize), (rows, cols))  # a pixel a cell
        self.assertTrue(np.array_equal(png.GetRasterBand(1).ReadAsArray(), s.result))
        png_table = colours(png.GetRasterBand(1))
        self.assertEqual([c[:3] for c in png_table], [c[:3] for c in table])
        self.assertEqual(png_table[255][3], 0)  # no data transparent
        self.assertEqual(png.GetGeoTransform(), tif.GetGeoTransform())
        if g["x_min"] is not None:
            self.assertTrue(os.path.exists(s.base + "_map.wld"))
        if want_srs is not None:
            self.assertTrue(png.GetSpatialRef().IsSame(want_srs))

    def test_sample_runs_in_every_result_format(self):
        runs = tf.scripted_runs()
        # BMP result, CRS from the inputs' .prj (geom.asc's, the first input with one is
        # geol.raw's geol.prj).
        s = Sample(runs["en"], "res_en")
        try:
            # An R_tessum.prj that the record does not name (left by an earlier ASCII run
            # of the same result name) is not the run's CRS.
            stale = osr.SpatialReference()
            stale.ImportFromEPSG(25830)
            with open(s.base + "_tessum.prj", "w") as f:
                f.write(stale.ExportToWkt())
            status, out, err = export(s.base)
            self.assertEqual((status, err), (0, "tessera_gis: note: %s_tessum.prj is not used: "
                                             "%s_run.json names no .prj of the result (it is "
                                             "left from an earlier run)\n" % (s.base, s.base)))
            self.assertEqual(out.split(), [s.base + ".tif", s.base + "_map.png",
                                           s.base + "_report.html"])
            self.check_outputs(s, srs_of(os.path.join(s.zone, "geol.prj")))
        finally:
            s.close()
        # ASCII result: R_tessum.prj wins over the inputs' .prj.
        s = Sample(runs["mesh_asc"], "res_asc")
        try:
            other = osr.SpatialReference()
            other.ImportFromEPSG(25830)
            with open(s.base + "_tessum.prj", "w") as f:
                f.write(other.ExportToWkt())
            status, _, err = export(s.base, "--title", "Zone <1> & co")
            self.assertEqual((status, err), (0, ""))
            self.check_outputs(s, other)
            self.assertEqual(gdal.Open(s.base + ".tif").GetMetadataItem("TIFFTAG_IMAGEDESCRIPTION"),
                             "Zone <1> & co")
        finally:
            s.close()
        # Raw result, moving window, no corner known and no .prj anywhere: neither CRS nor
        # geotransform, each told by a note.
        s = Sample(runs["es"], "res_es")
        try:
            for f in os.listdir(s.zone):
                if f.endswith(".prj"):
                    os.remove(os.path.join(s.zone, f))
            status, _, err = export(s.base)
            self.assertEqual(status, 0)
            self.assertIn("note: no coordinate reference system", err)
            self.assertIn("not georeferenced", err)
            self.check_outputs(s, None)
            self.assertFalse(os.path.exists(s.base + "_map.png.aux.xml") and
                             "SRS" in tf.slurp(s.base + "_map.png.aux.xml"))
        finally:
            s.close()


def find_map(shot, expected, scale):
    """The top-left screen pixel of the map: the one place where the screenshot shows every
    cell as a block of scale x scale pixels of its colour."""
    rows, cols, _ = expected.shape
    h, w, _ = shot.shape
    blocks = np.repeat(np.repeat(expected, scale, axis=0), scale, axis=1)
    if blocks.shape[0] > h or blocks.shape[1] > w:
        return None
    # Candidates: where a few sampled cells show their colour; then the whole map is compared.
    ok = np.ones((h - blocks.shape[0] + 1, w - blocks.shape[1] + 1), bool)
    rng = np.random.default_rng(1)
    for i, j in zip(rng.integers(0, rows, 40), rng.integers(0, cols, 40)):
        y, x = i * scale, j * scale
        ok &= (shot[y: y + ok.shape[0], x: x + ok.shape[1]] == expected[i, j]).all(axis=2)
    found = [(y, x) for y, x in np.argwhere(ok)[:100]
             if np.array_equal(shot[y: y + blocks.shape[0], x: x + blocks.shape[1]], blocks)]
    return found[0] if len(found) == 1 else None


class ReportInChromium(unittest.TestCase):
    def test_the_map_and_legend_show_the_levels_colours(self):
        s = Sample(tf.scripted_runs()["en"], "res_en")
        try:
            status, _, err = export(s.base)
            self.assertEqual((status, err), (0, ""))
            html = tf.slurp(s.base + "_report.html")
            # Self-contained: no script, no link to any other file or host.
            for banned in ("<script", "http:", "https:", "url(", "<link", "@import"):
                self.assertNotIn(banned, html.replace('xmlns="http://www.w3.org/2000/svg"', ""))
            self.assertIn("image-rendering:pixelated", html)

            tif = gdal.Open(s.base + ".tif")
            table = colours(tif.GetRasterBand(1))
            n = s.record["levels"]["count"]
            legend = dict(re.findall(r'data-level="(\d+)"><td><span class="sw" '
                                     r'style="background:#([0-9a-f]{6})"', html))
            self.assertEqual({int(k): tuple(bytes.fromhex(v)) for k, v in legend.items()},
                             {k: table[k][:3] for k in range(1, n + 1)})

            scale = int(re.search(r'data-scale="(\d+)"', html).group(1))
            shot_file = os.path.join(s.root, "shot.png")
            profile = os.path.join(s.root, "profile")
            os.mkdir(profile)
            subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
                            "--disable-quic", "--no-first-run", "--disable-background-networking",
                            "--disable-component-update", "--disable-sync",
                            "--user-data-dir=" + profile, "--force-device-scale-factor=1",
                            "--force-color-profile=srgb", "--hide-scrollbars",
                            "--screenshot=" + shot_file, "--window-size=1200,1500",
                            "file://" + s.base + "_report.html"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120,
                           check=True)
            shot = gdal.Open(shot_file).ReadAsArray()[:3].transpose(1, 2, 0)
            # What each cell must look like: its colour, no data showing the white page.
            rgb = np.array([c[:3] if c[3] else (255, 255, 255) for c in table], dtype=np.uint8)
            expected = rgb[s.result]
            # Every cell of the map is shown in its colour, as a block of scale x scale pixels.
            self.assertIsNotNone(find_map(shot, expected, scale),
                                 "the map is not on the screenshot, cell for cell")
            if os.environ.get("TESSERA_KEEP_SCREENSHOT"):
                shutil.copy(shot_file, os.environ["TESSERA_KEEP_SCREENSHOT"])
        finally:
            s.close()


class BadInput(unittest.TestCase):
    def setUp(self):
        self.s = Sample(tf.scripted_runs()["es"], "res_es")

    def tearDown(self):
        self.s.close()

    def refused(self, status, message, *args, env=None):
        before = {f: os.path.getmtime(os.path.join(self.s.zone, f)) for f in os.listdir(self.s.zone)}
        done = subprocess.run([GIS, "export", *(args or [self.s.base])], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120, check=False, env=env)
        got, out, err = done.returncode, done.stdout.decode(), done.stderr.decode()
        self.assertEqual(got, status, err)
        self.assertEqual(out, "")
        self.assertEqual(err.count("\n"), 1, err)
        self.assertIn(message, err)
        after = {f: os.path.getmtime(os.path.join(self.s.zone, f)) for f in os.listdir(self.s.zone)}
        self.assertEqual(after, before, "nothing written, nothing left behind")

    def test_refusals(self):
        base, record = self.s.base, self.s.base + "_run.json"
        self.refused(2, "the result name R is missing", "--palette", "viridis")
        self.refused(2, "unknown option '--colour'", base, "--colour", "red")
        self.refused(2, "unknown palette 'rainbow'", base, "--palette", "rainbow")
        self.refused(1, self.s.zone + "/nothing_run.json: cannot be read (No such file",
                     os.path.join(self.s.zone, "nothing"))
        text = tf.slurp(record)
        for damage, message in ((text[:200], "damaged run record: not valid JSON"),
                                (text.replace('"step"', '"stop"'), "levels.step is missing"),
                                (text.replace('"count": 12', '"count": 11'),
                                 "levels.classes does not hold levels.count classes"),
                                (text.replace('"cell_size": 25.0', '"cell_size": 0.0'),
                                 "grid.cell_size is not a number greater than 0"),
                                (text.replace('"cell_size": 25.0', '"cell_size": -25.0'),
                                 "grid.cell_size is not a number greater than 0"),
                                (text.replace('"x_min": null, "y_min": null',
                                              '"x_min": 1e300, "y_min": 0'),
                                 "grid.x_min lies beyond 1e12 of 0"),
                                (text.replace('"x_min": null, "y_min": null',
                                              '"x_min": 0, "y_min": 1e400'),
                                 "number overflow parsing '1e400'")):
            with open(record, "w") as f:
                f.write(damage)
            self.refused(1, record + ": damaged run record: " + message.split(": ")[-1])
        with open(record, "w") as f:
            f.write(text)
        # A result image that does not match the record: one cell moved to another level.
        raw = base + "_tessum.raw"
        cells = bytearray(tf.slurp(raw, binary=True))
        i = next(k for k, v in enumerate(cells) if v == 5)
        cells[i] = 6
        with open(raw, "wb") as f:
            f.write(cells)
        self.refused(1, raw + ": does not match " + record + ": level 5 has")
        with open(raw, "wb") as f:
            f.write(cells[:-1])
        self.refused(1, raw + ": does not match " + record + ": it holds 61508 bytes")
        cells[i] = 5
        with open(raw, "wb") as f:
            f.write(cells)
        # Grids larger than the file or the memory, refused before anything of their size is
        # allocated: a 1.2 KB BMP whose header and record claim 100000 x 100000 cells, and a
        # raw result of 50000 x 50000 bytes (a sparse file) with 1 GiB of memory.
        huge = text.replace('"rows": 203', '"rows": 100000').replace('"cols": 303', '"cols": 100000')
        with open(record, "w") as f:
            f.write(huge.replace('"format": "raw",\n    "descriptor"', '"format": "bmp",\n    "descriptor"')
                    .replace("res_es_tessum.raw", "res_es_tessum.bmp"))
        bmp = base + "_tessum.bmp"
        with open(bmp, "wb") as f:
            f.write(struct.pack("<2sIHHIIiiHHIIiiII", b"BM", 1178, 0, 0, 1078, 40, 100000, 100000,
                                1, 8, 0, 0, 0, 0, 256, 0))
            f.write(bytes(v for v in range(256) for _ in range(4)) + bytes(100))
        self.refused(1, bmp + ": does not match " + record + ": it holds 1178 bytes, fewer than "
                     "its 100000 rows and 100000 columns need (10000000054)")
        os.remove(bmp)
        # An ASCII grid result, read by the program's own reader, that holds fewer values than
        # its grid (blanks in place of the rest).
        asc = base + "_tessum.asc"
        with open(record, "w") as f:
            f.write(text.replace('"format": "raw",\n    "descriptor"', '"format": "ascii",\n    "descriptor"')
                    .replace("res_es_tessum.raw", "res_es_tessum.asc"))
        with open(asc, "w") as f:
            f.write("ncols 303\nnrows 203\nxllcorner 0\nyllcorner 0\ncellsize 25\n"
                    "nodata_value -9999.9999\n" + "1\t" * 1000 + " " * (2 * 203 * 303))
        self.refused(1, asc + ": does not match " + record + ": its cells cannot be read (it "
                     "holds fewer values than rows x columns)")
        os.remove(asc)
        with open(record, "w") as f:
            f.write(text.replace('"rows": 203', '"rows": 50000').replace('"cols": 303', '"cols": 50000'))
        shutil.copy(raw, raw + ".kept")
        os.truncate(raw, 50000 * 50000)
        self.refused(1, raw + ": its grid of 50000 rows and 50000 columns (" + record + ") is "
                     "larger than the memory available", env=dict(os.environ, TESSERA_MEMORY_BYTES=str(1 << 30)))
        os.replace(raw + ".kept", raw)
        with open(record, "w") as f:
            f.write(text)
        # A record that names a file of the run among the outputs' names.
        with open(base + ".tif", "w") as f:
            f.write("an input\n")
        with open(record, "w") as f:
            f.write(text.replace("geol.bmp", "res_es.tif", 1))
        self.refused(1, base + ".tif: cannot be written: it would replace " + base + ".tif, a "
                     "file of the run named by " + record)
        os.remove(base + ".tif")
        with open(record, "w") as f:
            f.write(text)
        # An output that cannot be written: a folder holds its name.
        os.mkdir(base + ".tif")
        self.refused(1, base + ".tif: cannot be written (a folder has this name)")
        os.rmdir(base + ".tif")
        status, _, _ = export(base)
        self.assertEqual(status, 0)
        # A listing of the files written that does not reach the user is a failure.
        if os.path.exists("/dev/full"):
            with open("/dev/full", "wb") as full:
                done = subprocess.run([GIS, "export", base], stdout=full, stderr=subprocess.PIPE,
                                      timeout=120, check=False)
            self.assertEqual(done.returncode, 1)
            self.assertTrue(done.stderr.decode().endswith(
                "\ntessera_gis: standard output cannot be written\n"), done.stderr)


if __name__ == "__main__":
    SUMMARY = os.path.abspath(sys.argv[1])
    GIS = os.path.abspath(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2] else ""
    group = sys.argv[3] if len(sys.argv) > 3 else None
    if not GIS or not os.path.exists(GIS):
        print("SKIPPED: tessera_gis is not built here (GDAL's development files are missing)")
        sys.exit(SKIP)
    if group == "ReportInChromium" and not os.access(CHROMIUM, os.X_OK):
        print("SKIPPED: the report test needs Chromium (Debian package chromium)")
        sys.exit(SKIP)
    unittest.main(argv=[sys.argv[0]] + ([group] if group else []), verbosity=2)
