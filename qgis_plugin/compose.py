"""tessera:compose: sub-index layers to the styled map of the composite diversity index."""

import glob
import os

from qgis.core import (QgsProcessingOutputFile, QgsProcessingOutputHtml,
                       QgsProcessingOutputVectorLayer, QgsProcessingParameterNumber,
                       QgsProcessingParameterRasterDestination)

from . import runner
from .base import LANGUAGES, PALETTES, TesseraAlgorithm, stem

CLASSES = [("equal", "equal (tessera_summary's levels)"), ("minmax", "minmax"),
           ("quantile", "quantile")]
PROCESSING = [("none", "none given (or read from Richness layers)"),
              ("mesh", "square cell mesh"),
              ("window", "moving window")]


class ComposeAlgorithm(TesseraAlgorithm):
    command = "compose"
    group_id = "index"

    def displayName(self):
        return "Compose the diversity map"

    def shortHelpString(self):
        return (
            "Sums the sub-index layers cell by cell, each times its weight, on the cells that "
            "hold data in every layer and lie inside the study area, cuts the sums into levels "
            "and writes the map (runs tessera_gis compose).\n\n"
            "Layers: band 1 of each, whole numbers from 0 to 254; the grids must match the "
            "first layer's unless 'Resample' is ticked (nearest neighbour). Weights: one number "
            "a layer, in the order of the layers (1 each when empty). Study area: cells whose "
            "centre lies in a polygon (default: the whole grid).\n\n"
            "Class method: equal, N equal levels from 0 to the largest sum (the levels of "
            "tessera_summary); minmax, N equal levels from the smallest to the largest sum; "
            "quantile, levels of as equal cell counts as ties allow.\n\n"
            "Processing type: give the square cell mesh (writes the mesh cells as polygons) or "
            "the moving window the layers were made with, and its range R (cells of 2R+1 a "
            "side); layers made by Richness carry it.\n\n"
            "Writes beside the GeoTIFF: NAME.qml (the style: levels 1 to N with their bounds, "
            "applied when the layer is loaded), NAME_run.json (the run record, exact bounds), "
            "NAME_levels.csv, NAME_report.html (a printable page) and, with a mesh, "
            "NAME_cells.gpkg. Cells without a level (outside the study area, no data) are "
            "no-data in band 1; band 2 tells them apart.")

    def initAlgorithm(self, config=None):
        self.add_layers("Sub-index layers")
        self.add_boundary()
        self.add_align()
        self.add_levels()
        self.add_choice("CLASSES", "Class method", CLASSES)
        self.add_choice("PROCESSING", "Processing type of the layers", PROCESSING)
        self.addParameter(QgsProcessingParameterNumber(
            "RANGE", "Range R (1 to 127)",
            QgsProcessingParameterNumber.Integer, minValue=1, maxValue=127, optional=True))
        self.add_choice("PALETTE", "Palette", PALETTES)
        self.add_title()
        self.add_choice("LANG", "Language of the report page", LANGUAGES)
        self.addParameter(QgsProcessingParameterRasterDestination(
            "OUTPUT", "Diversity levels"))
        self.addOutput(QgsProcessingOutputHtml("REPORT", "Report page"))
        self.addOutput(QgsProcessingOutputFile("RECORD", "Run record"))
        self.addOutput(QgsProcessingOutputFile("LEVEL_TABLE", "Level table"))
        self.addOutput(QgsProcessingOutputFile("STYLE", "QGIS style"))
        self.addOutput(QgsProcessingOutputVectorLayer("CELLS", "Mesh cells"))

    def checkParameterValues(self, parameters, context):
        ok, message = super().checkParameterValues(parameters, context)
        if ok and self.parameterAsEnum(parameters, "PROCESSING", context) != 0 and \
                parameters.get("RANGE") in (None, ""):
            return False, "Give the range R of the square cell mesh or moving window"
        return ok, message

    def processAlgorithm(self, parameters, context, feedback):
        tif = self.parameterAsOutputLayer(parameters, "OUTPUT", context)
        out = stem(tif, ".tif")
        tif = out + ".tif"
        args = ["--out", out, "--levels",
                str(self.parameterAsInt(parameters, "LEVELS", context)),
                "--classes", self.choice(parameters, "CLASSES", CLASSES, context),
                "--palette", self.choice(parameters, "PALETTE", PALETTES, context),
                "--lang", self.choice(parameters, "LANG", LANGUAGES, context)]
        kind = self.choice(parameters, "PROCESSING", PROCESSING, context)
        if kind != "none":
            args += ["--" + kind, str(self.parameterAsInt(parameters, "RANGE", context))]
        if self.parameterAsBool(parameters, "ALIGN", context):
            args.append("--align")
        title = self.parameterAsString(parameters, "TITLE", context)
        if title:
            args += ["--title", title]
        args += self.boundary_argument(parameters, context, feedback)
        args += self.layer_arguments(parameters, context, feedback)

        name = glob.escape(os.path.basename(out))
        leftovers = runner.Leftovers(os.path.dirname(os.path.abspath(out)),
                                     [name + ".*", name + "_*"] + runner.STAGED_PATTERNS)
        self.run_command(args, feedback, [leftovers])

        cells = out + "_cells.gpkg"
        results = {"OUTPUT": tif, "REPORT": out + "_report.html", "RECORD": out + "_run.json",
                   "LEVEL_TABLE": out + "_levels.csv", "STYLE": out + ".qml",
                   "CELLS": cells + "|layername=cells" if kind == "mesh" else None}
        self.style_on_completion(context, tif, out + ".qml")
        if kind == "mesh" and context.willLoadLayerOnCompletion(tif):
            self.load_on_completion(context, results["CELLS"], "Mesh cells", "CELLS")
            self.style_on_completion(context, results["CELLS"])
        return results
