#!/usr/bin/env python3
"""tessera_gis's progress on standard error, as GDAL's tools print it: every command with
--progress on a grid of 2048 x 2048 cells, on a terminal by default, and never with --quiet.

Usage: test_progress.py <tessera_summary> <tessera_gis or "none">
Exits with 77 (a skip for CTest) where GDAL's Python bindings, numpy or tessera_gis are missing.
"""

import os
import pty
import shutil
import subprocess
import sys
import tempfile
import tty
import unittest

SKIP = 77
try:
    import numpy as np
    from osgeo import gdal, osr
except ImportError as missing:
    print("SKIPPED: the progress test needs GDAL's Python bindings and numpy (%s)" % missing)
    sys.exit(SKIP)

gdal.UseExceptions()
SUMMARY = GIS = None
SIZE = 2048
DONE = b"0...10...20...30...40...50...60...70...80...90...100 - done.\n"


def write_layer(path, values):
    ds = gdal.GetDriverByName("GTiff").Create(path, SIZE, SIZE, 1, gdal.GDT_Byte,
                                              ["TILED=YES", "COMPRESS=DEFLATE"])
    ds.SetGeoTransform((500000.0, 10.0, 0.0, 4200000.0, 0.0, -10.0))
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(25830)
    ds.SetProjection(srs.ExportToWkt())
    band = ds.GetRasterBand(1)
    band.SetNoDataValue(255)
    band.WriteArray(values)
    ds = None


def on_terminal(argv, cwd):
    """Runs argv with standard error on a terminal: (status, stdout, what the terminal got)."""
    master, slave = pty.openpty()
    tty.setraw(slave)  # the bytes as written, without "\r" added to "\n"
    done = subprocess.run(argv, cwd=cwd, stdout=subprocess.PIPE, stderr=slave, timeout=300,
                          check=False)
    os.close(slave)
    seen = b""
    while True:
        try:
            chunk = os.read(master, 4096)
        except OSError:  # EIO: the terminal's other side is closed and read out
            break
        if not chunk:
            break
        seen += chunk
    os.close(master)
    return done.returncode, done.stdout, seen


class Progress(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="tessera_progress_")
        rng = np.random.default_rng(23)
        for name in ("geology", "soils"):
            values = rng.integers(1, 12, (SIZE, SIZE), dtype=np.uint8)
            values[rng.random((SIZE, SIZE)) < 0.01] = 255
            write_layer(os.path.join(self.root, name + ".tif"), values)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def run_gis(self, *args):
        done = subprocess.run([GIS, *args], cwd=self.root, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=300, check=False)
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
        return done.stdout, done.stderr

    def test_every_command_shows_gdal_progress_when_asked_and_never_when_quiet(self):
        layers = ["geology.tif", "soils.tif:2"]
        # --progress: the whole sequence and nothing else, whatever standard error is.
        _, err = self.run_gis("prepare", "--progress", "--out", "prep", *layers)
        self.assertEqual(err, DONE)
        with open(os.path.join(self.root, "prep", "run.txt"), "rb") as answers:
            subprocess.run([SUMMARY], stdin=answers, stdout=subprocess.DEVNULL, cwd=self.root,
                           timeout=300, check=True)
        out, err = self.run_gis("export", "prep/comp", "--progress")
        self.assertEqual(err, DONE)
        self.assertEqual(out.count(b"\n"), 3)
        _, err = self.run_gis("compose", "--out", "maps/a", "--mesh", "3", "--progress", *layers)
        self.assertEqual(err, DONE)
        _, err = self.run_gis("richness", "--out", "rich.tif", "--window", "2", "--progress",
                              "geology.tif")
        self.assertEqual(err, DONE)
        _, err = self.run_gis("compose", "--out", "maps/q", "--classes", "quantile", "--progress",
                              *layers)
        self.assertEqual(err, DONE)

        # A terminal shows it by default; --quiet silences it. Standard output is the same.
        argv = [GIS, "compose", "--out", "maps/t", *layers]
        status, out, seen = on_terminal(argv, self.root)
        self.assertEqual((status, seen), (0, DONE))
        status, quiet_out, seen = on_terminal(argv[:2] + ["--quiet"] + argv[2:], self.root)
        self.assertEqual((status, seen), (0, b""))
        self.assertEqual(quiet_out, out)
        self.assertEqual(out.split(b"\n")[0], b"maps/t.tif")

        # A failure after the progress began ends its line before the message.
        os.remove(os.path.join(self.root, "prep", "comp_tessum.asc"))
        done = subprocess.run([GIS, "export", "--progress", "prep/comp"], cwd=self.root,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
        self.assertEqual(done.returncode, 1)
        self.assertRegex(done.stderr.decode(), r"^0(\.\.\.\d+)*\.*\ntessera_gis: .*comp_tessum")


def main():
    global SUMMARY, GIS
    SUMMARY, GIS = sys.argv[1], sys.argv[2]
    if GIS == "none" or not os.access(GIS, os.X_OK):
        print("SKIPPED: tessera_gis was not built (GDAL's development files missing)")
        return SKIP
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(Progress)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
