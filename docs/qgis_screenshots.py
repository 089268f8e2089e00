#!/usr/bin/python3
"""Takes the README's QGIS screenshots, headless: the dialog of tessera:compose filled in on the
sample study area, and the styled result as QGIS shows it (legend and map) once the algorithm
has run and Processing has loaded its outputs.

Usage: docs/qgis_screenshots.py BUILD/tessera_gis
Writes docs/qgis_dialog.png and docs/qgis_result.png. Needs QGIS with its Python bindings.
"""

import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
SCRATCH = tempfile.mkdtemp()
os.environ.update(HOME=SCRATCH, XDG_CONFIG_HOME=os.path.join(SCRATCH, ".config"),
                  QGIS_CUSTOM_CONFIG_PATH=os.path.join(SCRATCH, "qgis"))
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
sys.path.append("/usr/share/qgis/python/plugins")

from osgeo import gdal, ogr  # noqa: E402
from qgis.core import (QgsApplication, QgsProcessingContext, QgsProcessingFeedback,  # noqa
                       QgsProcessingOutputLayerDefinition, QgsProject, QgsRasterLayer,
                       QgsSettings, QgsVectorLayer)
from qgis.gui import QgsLayerTreeView, QgsMapCanvas  # noqa: E402
from qgis.core import QgsLayerTreeModel  # noqa: E402
from qgis.PyQt.QtWidgets import QHBoxLayout, QWidget  # noqa: E402


def catchment(zone):
    """The sample's study area (mask.asc, 1 inside) as polygons, kept by a filter: a layer
    that is not a plain file, which the plugin writes to a GeoPackage for tessera_gis."""
    mask = gdal.Open(os.path.join(zone, "mask.asc"))
    path = os.path.join(zone, "mask_polygons.gpkg")
    ds = ogr.GetDriverByName("GPKG").CreateDataSource(path)
    layer = ds.CreateLayer("mask", mask.GetSpatialRef(), ogr.wkbPolygon)
    layer.CreateField(ogr.FieldDefn("value", ogr.OFTInteger))
    gdal.Polygonize(mask.GetRasterBand(1), None, layer, 0)
    ds = None
    area = QgsVectorLayer(path + "|layername=mask", "catchment", "ogr")
    area.setSubsetString('"value" = 1')
    return area


def main():
    gis = os.path.abspath(sys.argv[1])
    app = QgsApplication([], True)
    app.initQgis()
    from processing.core.Processing import Processing
    Processing.initialize()
    plugins = os.path.join(SCRATCH, "plugins")
    os.makedirs(plugins)
    os.symlink(os.path.join(REPO, "qgis_plugin"), os.path.join(plugins, "tessera"))
    sys.path.insert(0, plugins)
    import tessera
    plugin = tessera.classFactory(None)
    plugin.initProcessing()
    QgsSettings().setValue("Processing/Configuration/TESSERA_GIS", gis)

    zone = os.path.join(SCRATCH, "zone1")
    os.makedirs(zone)
    for name in ("geol", "soil", "geom", "mask"):
        for ext in (".asc", ".prj"):
            shutil.copy(os.path.join(REPO, "examples", "zone1", name + ext), zone)
    project = QgsProject.instance()
    layers = [QgsRasterLayer(os.path.join(zone, n + ".asc"), n) for n in ("geol", "soil", "geom")]
    area = catchment(zone)
    project.addMapLayers(layers + [area])
    out = os.path.join(SCRATCH, "maps", "catchment.tif")
    parameters = {"LAYERS": [l.id() for l in layers], "WEIGHTS": [1, 2, 1.5],
                  "BOUNDARY": area.id(), "LEVELS": 10, "CLASSES": 0, "PROCESSING": 1,
                  "RANGE": 2, "TITLE": "Upper valley",
                  "OUTPUT": QgsProcessingOutputLayerDefinition(out, project)}

    # The dialog, as the Processing Toolbox opens it, filled in.
    from processing.gui.AlgorithmDialog import AlgorithmDialog
    alg = QgsApplication.processingRegistry().createAlgorithmById("tessera:compose")
    dialog = AlgorithmDialog(alg)
    dialog.setParameters(dict(parameters, OUTPUT=out))
    dialog.resize(1040, 980)
    dialog.show()
    app.processEvents()
    dialog.grab().save(os.path.join(HERE, "qgis_dialog.png"))
    dialog.close()

    # The run, and the loading of its outputs, as the dialog does them.
    import processing
    from processing.gui.Postprocessing import handleAlgorithmResults
    context = QgsProcessingContext()
    context.setProject(project)
    processing.run("tessera:compose", parameters, feedback=QgsProcessingFeedback(),
                   context=context, onFinish=handleAlgorithmResults)
    project.removeMapLayers([l.id() for l in layers] + [area.id()])

    window = QWidget()
    box = QHBoxLayout(window)
    view = QgsLayerTreeView()
    model = QgsLayerTreeModel(project.layerTreeRoot(), view)
    view.setModel(model)
    view.expandAll()
    canvas = QgsMapCanvas()
    canvas.setCanvasColor(QgsApplication.palette().base().color())
    shown = project.layerTreeRoot().layerOrder()
    canvas.setDestinationCrs(shown[-1].crs())
    canvas.setLayers(shown)
    canvas.setExtent(shown[-1].extent())
    box.addWidget(view, 3)
    box.addWidget(canvas, 5)
    window.resize(1100, 560)
    window.show()
    canvas.refreshAllLayers()
    app.processEvents()
    canvas.waitWhileRendering()
    app.processEvents()
    window.grab().save(os.path.join(HERE, "qgis_result.png"))
    window.close()
    shutil.rmtree(SCRATCH, ignore_errors=True)


if __name__ == "__main__":
    main()
