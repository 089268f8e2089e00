#!/usr/bin/env python3
"""The QGIS plugin in headless QGIS: installed from the zip that make qgis-plugin builds, its
algorithms run by qgis_process and by Processing in a standalone PyQGIS script, compared with
the command line.

Usage: test_qgis_plugin.py <tessera_gis or "none"> <plugin zip> <group>
  group: InstallAndRun, LoadedStyled, CancelAndErrors, RichnessThenCompose or ClassicPair.
Exits with 77 (a skip for CTest) where QGIS, GDAL's Python bindings or tessera_gis are
missing. Each group runs in its own process, with its own QGIS profile in a scratch folder.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(os.path.dirname(os.path.dirname(HERE)), "examples", "zone1")
# A lobed study area over the sample valley (EPSG:32630), inside its extent.
RING = [(431600, 4582900), (437800, 4582700), (438400, 4586800), (435000, 4587300),
        (432000, 4586500), (431600, 4582900)]
GIS = ZIP = None
SCRATCH = tempfile.TemporaryDirectory()
os.environ.update(HOME=SCRATCH.name, XDG_CONFIG_HOME=os.path.join(SCRATCH.name, ".config"),
                  QGIS_CUSTOM_CONFIG_PATH=os.path.join(SCRATCH.name, "qgis"))
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
PLUGINS = os.path.join(SCRATCH.name, "qgis", "profiles", "default", "python", "plugins")
# The sample study area, copied: QGIS and GDAL write .aux.xml files beside what they read.
ZONE = os.path.join(SCRATCH.name, "zone1")
SAMPLE = [(os.path.join(ZONE, n + ".asc"), w) for n, w in (("geol", 1), ("soil", 2),
                                                            ("geom", 1.5))]

try:
    import numpy as np
    from osgeo import gdal, ogr, osr
    sys.path.append("/usr/share/qgis/python")
    sys.path.append("/usr/share/qgis/python/plugins")
    from qgis.core import QgsApplication
    from pyplugin_installer.unzip import unzip
except ImportError as missing:
    print("SKIPPED: the QGIS plugin tests need QGIS with its Python bindings, GDAL's Python "
          "bindings and numpy (apt-get install qgis python3-qgis python3-gdal python3-numpy): "
          "%s" % missing)
    sys.exit(SKIP)
gdal.UseExceptions()


def install_zip():
    """Installs the plugin as QGIS's Install from ZIP does: the folder of the shortest
    metadata.txt names the plugin, and the zip is unpacked into the profile's plugins."""
    import zipfile
    with zipfile.ZipFile(ZIP) as z:
        metadata = sorted(n for n in z.namelist() if n.endswith("metadata.txt"))
    name = os.path.split(metadata[0])[0]
    unzip(ZIP, PLUGINS)
    return name


def command_line(*args):
    done = subprocess.run([GIS, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=300, check=False)
    return done.returncode, done.stderr.decode()


def compose_cli(out, layers, *options):
    return command_line("compose", "--out", out, *options,
                        *["%s:%r" % (p, float(w)) for p, w in layers])


def cells(tif):
    """Both bands' cells and the georeferencing of a compose GeoTIFF."""
    ds = gdal.Open(tif)
    return ([ds.GetRasterBand(b + 1).ReadAsArray() for b in range(ds.RasterCount)],
            ds.GetGeoTransform(), osr.SpatialReference(ds.GetProjection()).GetAuthorityCode(None))


def write_ring(path):
    s = osr.SpatialReference()
    s.ImportFromEPSG(32630)
    ds = ogr.GetDriverByName("GeoJSON").CreateDataSource(path)
    layer = ds.CreateLayer("area", s, ogr.wkbPolygon)
    f = ogr.Feature(layer.GetLayerDefn())
    f.SetGeometry(ogr.CreateGeometryFromWkt(wkt_ring()))
    layer.CreateFeature(f)
    ds = None


def wkt_ring():
    return "POLYGON((" + ",".join("%d %d" % p for p in RING) + "))"


class Case(unittest.TestCase):
    def same_cells(self, got, want):
        (gb, gt, gcrs), (wb, wt, wcrs) = cells(got), cells(want)
        self.assertEqual((gt, gcrs, len(gb)), (wt, wcrs, len(wb)))
        for g, w in zip(gb, wb):
            np.testing.assert_array_equal(g, w)


class InstallAndRun(Case):
    """The zip installs as QGIS installs it, qgis_process loads the plugin and lists its
    algorithms, and tessera:compose, run by qgis_process with tessera_gis found on PATH,
    writes the cells of the command line on the sample study area."""

    def test_install_list_run(self):
        self.assertEqual(install_zip(), "tessera")
        env = dict(os.environ, PATH=os.path.dirname(GIS) + os.pathsep + os.environ["PATH"])

        def qgis_process(*args):
            done = subprocess.run(["qgis_process.bin", *args], stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, env=env, timeout=300, check=False)
            return done.returncode, done.stdout.decode()

        status, text = qgis_process("plugins", "enable", "tessera")
        self.assertEqual(status, 0, text)
        status, text = qgis_process("list")
        self.assertEqual(status, 0, text)
        listed = text.split("\nTessera\n", 1)[1].split("\n\n", 1)[0].splitlines()
        self.assertEqual([l.split("\t")[1] for l in listed],
                         ["tessera:compose", "tessera:export", "tessera:prepare",
                          "tessera:richness"], text)

        d = SCRATCH.name
        status, text = qgis_process(
            "run", "tessera:compose", *["--LAYERS=" + p for p, _ in SAMPLE],
            "--WEIGHTS=1,2,1.5", "--LEVELS=7", "--CLASSES=2", "--PROCESSING=1", "--RANGE=2",
            "--OUTPUT=" + os.path.join(d, "q", "comp.tif"))
        self.assertEqual(status, 0, text)
        status, err = compose_cli(os.path.join(d, "c", "comp"), SAMPLE, "--levels", "7",
                                  "--classes", "quantile", "--mesh", "2")
        self.assertEqual(status, 0, err)
        self.same_cells(os.path.join(d, "q", "comp.tif"), os.path.join(d, "c", "comp.tif"))
        for name in ("comp_levels.csv", "comp.qml"):
            with open(os.path.join(d, "q", name)) as q, open(os.path.join(d, "c", name)) as c:
                self.assertEqual(q.read(), c.read(), name)


class Standalone(Case):
    """A standalone QGIS with Processing and the plugin installed from the zip; tessera_gis
    found through the plugin's setting."""

    @classmethod
    def setUpClass(cls):
        from qgis.core import QgsSettings
        cls.app = QgsApplication([], False)
        cls.app.initQgis()
        from processing.core.Processing import Processing
        Processing.initialize()
        install_zip()
        sys.path.insert(0, PLUGINS)
        import tessera  # the plugin's package, unpacked from the zip
        cls.plugin = tessera.classFactory(None)
        cls.plugin.initProcessing()
        QgsSettings().setValue("Processing/Configuration/TESSERA_GIS", GIS)
        cls.dir = tempfile.mkdtemp(dir=SCRATCH.name)

    def run_alg(self, alg, parameters, feedback=None, load=False):
        import processing
        from processing.gui.Postprocessing import handleAlgorithmResults
        from qgis.core import QgsProcessingContext, QgsProcessingFeedback, QgsProject
        context = QgsProcessingContext()
        context.setProject(QgsProject.instance())
        return processing.run(alg, parameters, feedback=feedback or QgsProcessingFeedback(),
                              context=context, onFinish=handleAlgorithmResults if load else None)


class LoadedStyled(Standalone):
    """tessera:compose as the Processing dialog runs it: an in-memory boundary, the output
    loaded into the project with its style (paletted, the N levels labelled with their
    bounds), the cells of the command line, progress passed on."""

    def test_loaded_styled(self):
        from qgis.core import (QgsFeature, QgsGeometry, QgsProcessingFeedback,
                               QgsProcessingOutputLayerDefinition, QgsProject, QgsVectorLayer)
        area = QgsVectorLayer("Polygon?crs=EPSG:32630", "study area", "memory")
        f = QgsFeature()
        f.setGeometry(QgsGeometry.fromWkt(wkt_ring()))
        area.dataProvider().addFeatures([f])
        progress = []

        class Feedback(QgsProcessingFeedback):
            def setProgress(self, value):
                progress.append(value)
                super().setProgress(value)

        tif = os.path.join(self.dir, "plugin", "comp.tif")
        result = self.run_alg("tessera:compose", {
            "LAYERS": [p for p, _ in SAMPLE], "WEIGHTS": "1, 2, 1.5", "BOUNDARY": area,
            "LEVELS": 6, "CLASSES": 1,
            "OUTPUT": QgsProcessingOutputLayerDefinition(tif, QgsProject.instance())},
            feedback=Feedback(), load=True)
        self.assertEqual(result["OUTPUT"], tif)

        boundary = os.path.join(self.dir, "area.geojson")
        write_ring(boundary)
        cli = os.path.join(self.dir, "cli", "comp")
        status, err = compose_cli(cli, SAMPLE, "--levels", "6", "--classes", "minmax",
                                  "--boundary", boundary)
        self.assertEqual(status, 0, err)
        self.same_cells(tif, cli + ".tif")

        loaded = [l for l in QgsProject.instance().mapLayers().values() if l.source() == tif]
        self.assertEqual(len(loaded), 1)
        renderer = loaded[0].renderer()
        with open(result["RECORD"]) as f:
            record = json.load(f)
        want = [(float(c["level"]), "level %d: %.6g \u2013 %.6g" % (c["level"], c["from"], c["to"]))
                for c in record["levels"]["classes"]]
        self.assertEqual(len(want), 6)
        self.assertEqual((renderer.type(), renderer.band()), ("paletted", 1))
        self.assertEqual([(c.value, c.label) for c in renderer.classes()], want)

        from tessera import runner
        if runner.supports_progress(GIS, "compose"):
            self.assertEqual(progress[-1], 100, progress)
            self.assertEqual(progress, sorted(progress))
            self.assertGreater(len(set(progress)), 5, progress)
        else:
            print("NOTE: this tessera_gis prints no progress (no --progress): the progress "
                  "of the run is not checked")


class CancelAndErrors(Standalone):
    """Cancelling ends tessera_gis while it writes and leaves nothing; a layer it refuses
    gives a QgsProcessingException carrying its message."""

    def test_cancel_while_writing(self):
        from qgis.core import QgsProcessingException, QgsProcessingFeedback
        # Large enough that writing the mesh cells takes seconds.
        n = 2048
        rng = np.random.default_rng(5)
        tile = rng.integers(0, 20, (256, 256)).astype(np.uint8)
        layers = []
        for k in range(3):
            path = os.path.join(self.dir, "big%d.tif" % k)
            write_raster(path, np.tile(np.roll(tile, k, 0), (n // 256, n // 256)))
            layers.append(path)
        out_dir = os.path.join(self.dir, "cancelled")
        seen = {}

        class CancelWhenStaged(QgsProcessingFeedback):
            """Cancels once tessera_gis has begun to stage its outputs."""

            def isCanceled(self):
                if "staged" not in seen and os.path.isdir(out_dir) and any(
                        n.startswith(".tsr") for n in os.listdir(out_dir)):
                    seen["staged"] = time.monotonic()
                return "staged" in seen and time.monotonic() - seen["staged"] > 0.3

        # Every name the folder ever shows during the run: the outputs must never reach it.
        names, done = set(), threading.Event()

        def watch():
            while not done.wait(0.02):
                if os.path.isdir(out_dir):
                    names.update(os.listdir(out_dir))

        watcher = threading.Thread(target=watch)
        watcher.start()
        try:
            with self.assertRaises(QgsProcessingException) as raised:
                self.run_alg("tessera:compose", {
                    "LAYERS": layers, "PROCESSING": 1, "RANGE": 1,
                    "OUTPUT": os.path.join(out_dir, "big.tif")}, feedback=CancelWhenStaged())
        finally:
            done.set()
            watcher.join()
        self.assertIn("staged", seen, "tessera_gis ended before it staged its outputs")
        self.assertTrue(str(raised.exception).startswith("Cancelled"), str(raised.exception))
        self.assertEqual([n for n in names if not n.startswith(".tsr")], [])
        self.assertEqual(running_with(out_dir), [])
        self.assertFalse(os.path.exists(out_dir), os.listdir(out_dir)
                         if os.path.isdir(out_dir) else None)

    def test_refused_layer(self):
        from qgis.core import QgsProcessingException
        bad = os.path.join(self.dir, "fractions.tif")
        values = np.full((20, 30), 2.0, np.float32)
        values[7, 11] = 1.5
        write_raster(bad, values, gdal.GDT_Float32)
        out = os.path.join(self.dir, "refused")
        with self.assertRaises(QgsProcessingException) as raised:
            self.run_alg("tessera:compose", {"LAYERS": [bad], "OUTPUT": out + "/x.tif"})
        status, err = compose_cli(out + "/y", [(bad, 1)])
        self.assertEqual(status, 1, err)
        self.assertEqual(str(raised.exception), err.strip())
        self.assertFalse(os.path.exists(out))


class RichnessThenCompose(Standalone):
    """A two-step Processing model: tessera:richness makes a moving-window sub-index that
    tessera:compose sums with a second layer, reading the processing type from the layer; the
    cells are those of the two commands run by hand."""

    def test_model(self):
        from qgis.core import (QgsProcessingModelAlgorithm, QgsProcessingModelChildAlgorithm,
                               QgsProcessingModelChildParameterSource as Source,
                               QgsProcessingModelOutput, QgsProcessingModelParameter,
                               QgsProcessingParameterRasterLayer)
        model = QgsProcessingModelAlgorithm("Richness then compose", "tests")
        for name in ("classes", "second"):
            model.addModelParameter(QgsProcessingParameterRasterLayer(name, name),
                                    QgsProcessingModelParameter(name))
        richness = QgsProcessingModelChildAlgorithm("tessera:richness")
        richness.setChildId("richness")
        # (setParameterSources crashes the 3.22 bindings; addParameterSources does not.)
        richness.addParameterSources("SOURCE", [Source.fromModelParameter("classes")])
        richness.addParameterSources("PROCESSING", [Source.fromStaticValue(0)])
        richness.addParameterSources("RANGE", [Source.fromStaticValue(2)])
        model.addChildAlgorithm(richness)
        compose = QgsProcessingModelChildAlgorithm("tessera:compose")
        compose.setChildId("compose")
        compose.addParameterSources("LAYERS", [Source.fromChildOutput("richness", "OUTPUT"),
                                               Source.fromModelParameter("second")])
        compose.addParameterSources("WEIGHTS", [Source.fromStaticValue([1, 2])])
        compose.addParameterSources("LEVELS", [Source.fromStaticValue(5)])
        levels = QgsProcessingModelOutput("levels")
        levels.setChildOutputName("OUTPUT")
        compose.setModelOutputs({"levels": levels})
        model.addChildAlgorithm(compose)

        classes, second = SAMPLE[0][0], SAMPLE[1][0]
        tif = os.path.join(self.dir, "model", "levels.tif")
        result = self.run_alg(model, {"classes": classes, "second": second,
                                      "compose:levels": tif})
        self.assertEqual(result["compose:levels"], tif)

        by_hand = os.path.join(self.dir, "by_hand")
        os.mkdir(by_hand)
        status, err = command_line("richness", "--out", by_hand + "/richness.tif",
                                   "--window", "2", classes)
        self.assertEqual(status, 0, err)
        status, err = compose_cli(by_hand + "/levels", [(by_hand + "/richness.tif", 1),
                                                        (second, 2)], "--levels", "5")
        self.assertEqual(status, 0, err)
        self.same_cells(tif, by_hand + "/levels.tif")
        with open(os.path.join(self.dir, "model", "levels_run.json")) as f:
            given = json.load(f)["processing_given"]
        self.assertEqual((given["type"], given["range"]), ("moving_window", 2), given)


class ClassicPair(Standalone):
    """tessera:prepare (which runs tessera_summary, found beside tessera_gis) then
    tessera:export on its run record, chained in one Processing context: the exported map
    holds the cells of the classic route typed by hand."""

    def test_prepare_run_export(self):
        folder = os.path.join(self.dir, "plugin")
        prepared = self.run_alg("tessera:prepare", {
            "LAYERS": [p for p, _ in SAMPLE], "WEIGHTS": [1, 2, 1.5], "LEVELS": 8,
            "OUTPUT": folder})
        self.assertEqual(prepared["RECORD"], os.path.join(folder, "comp_run.json"))
        exported = self.run_alg("tessera:export", {"RECORD": prepared["RECORD"],
                                                   "PALETTE": 1})
        self.assertEqual(exported["OUTPUT"], os.path.join(folder, "comp.tif"))

        by_hand = os.path.join(self.dir, "by_hand")
        status, err = command_line("prepare", "--out", by_hand, "--levels", "8",
                                   *["%s:%r" % (p, float(w)) for p, w in SAMPLE])
        self.assertEqual(status, 0, err)
        with open(os.path.join(by_hand, "run.txt"), "rb") as answers:
            subprocess.run([os.path.join(os.path.dirname(GIS), "tessera_summary")],
                           stdin=answers, stdout=subprocess.DEVNULL, check=True, timeout=300)
        status, err = command_line("export", os.path.join(by_hand, "comp"), "--palette",
                                   "ylorrd")
        self.assertEqual(status, 0, err)
        self.same_cells(exported["OUTPUT"], os.path.join(by_hand, "comp.tif"))
        for name in ("comp_map.png", "comp_tessum.asc"):
            with open(os.path.join(folder, name), "rb") as q, \
                    open(os.path.join(by_hand, name), "rb") as c:
                self.assertEqual(q.read(), c.read(), name)


def write_raster(path, values, dtype=gdal.GDT_Byte):
    rows, cols = values.shape
    ds = gdal.GetDriverByName("GTiff").Create(path, cols, rows, 1, dtype)
    ds.SetGeoTransform((431250.0, 25.0, 0.0, 4582500.0 + rows * 25.0, 0.0, -25.0))
    s = osr.SpatialReference()
    s.ImportFromEPSG(32630)
    ds.SetSpatialRef(s)
    ds.GetRasterBand(1).WriteArray(values)
    ds = None


def running_with(text):
    """The processes whose command line holds `text`."""
    found = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                if text.encode() in f.read():
                    found.append(int(pid))
        except OSError:
            pass
    return found


def main():
    global GIS, ZIP
    GIS, ZIP, group = sys.argv[1], sys.argv[2], sys.argv[3]
    if GIS == "none" or not os.access(GIS, os.X_OK):
        print("SKIPPED: tessera_gis was not built (GDAL's development files missing)")
        return SKIP
    if group == "InstallAndRun" and shutil.which("qgis_process.bin") is None:
        print("SKIPPED: qgis_process.bin not found (apt-get install qgis)")
        return SKIP
    if not os.path.isfile(ZIP):
        print("FAILED: the plugin zip %s was not built" % ZIP)
        return 1
    os.mkdir(ZONE)
    for name in ("geol", "soil", "geom"):
        for ext in (".asc", ".prj"):
            shutil.copy(os.path.join(EXAMPLES, name + ext), ZONE)
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(globals()[group])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    SCRATCH.cleanup()
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
