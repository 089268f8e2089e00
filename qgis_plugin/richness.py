"""tessera:richness: a sub-index layer, the number of distinct classes around each cell."""

import glob
import os

from qgis.core import (QgsMapLayer, QgsProcessing, QgsProcessingException,
                       QgsProcessingParameterField, QgsProcessingParameterMapLayer,
                       QgsProcessingParameterNumber, QgsProcessingParameterRasterDestination,
                       QgsProcessingParameterRasterLayer)

from . import inputs, runner
from .base import TesseraAlgorithm

PROCESSING = [("window", "moving window"), ("mesh", "square cell mesh")]


class RichnessAlgorithm(TesseraAlgorithm):
    command = "richness"
    group_id = "index"

    def displayName(self):
        return "Richness sub-index"

    def shortHelpString(self):
        return (
            "Counts, for each cell, the distinct classes of the source in the area around it "
            "and writes a sub-index layer for Compose (runs tessera_gis richness).\n\n"
            "Source: a raster of whole-number class codes (band 1; its no-data holds no "
            "class); a polygon layer with a class field (rasterised on cell centres); or a "
            "point or line layer, or polygons without a field, where each feature is a class "
            "of its own in every cell it touches. A vector source is counted on the grid of "
            "the given raster or on square cells of the given size (in its CRS's unit) over "
            "its extent.\n\n"
            "Moving window: the area of a cell is the (2R+1) x (2R+1) window centred on it; a "
            "band of R cells along the edges is no-data (255). Square cell mesh: the grid is "
            "cut into mesh cells of 2R+1 a side from its top-left corner and every cell of a "
            "mesh cell gets its count.\n\n"
            "The GeoTIFF (Byte, no-data 255) records how it was made, so Compose needs no "
            "processing type for it. Counts above 254 are written as 254.")

    def initAlgorithm(self, config=None):
        self.addParameter(QgsProcessingParameterMapLayer(
            "SOURCE", "Source: class raster, or polygon, line or point layer",
            types=[QgsProcessing.TypeRaster, QgsProcessing.TypeVectorAnyGeometry]))
        self.addParameter(QgsProcessingParameterField(
            "FIELD", "Class field of a polygon source", parentLayerParameterName="SOURCE",
            optional=True))
        self.add_choice("PROCESSING", "Processing type", PROCESSING)
        self.addParameter(QgsProcessingParameterNumber(
            "RANGE", "Range R (1 to 127)",
            QgsProcessingParameterNumber.Integer, minValue=1, maxValue=127))
        self.add_boundary("Study area (polygons; outside it nothing is a class)")
        self.addParameter(QgsProcessingParameterRasterLayer(
            "LIKE", "Grid of a vector source: this raster's", optional=True))
        self.addParameter(QgsProcessingParameterNumber(
            "CELL", "Grid of a vector source: cells of this size",
            QgsProcessingParameterNumber.Double, minValue=0, optional=True))
        self.addParameter(QgsProcessingParameterRasterDestination("OUTPUT", "Richness"))

    def processAlgorithm(self, parameters, context, feedback):
        source = self.parameterAsLayer(parameters, "SOURCE", context)
        if source is None:
            raise QgsProcessingException("Give a source layer")
        tif = self.parameterAsOutputLayer(parameters, "OUTPUT", context)
        kind = self.choice(parameters, "PROCESSING", PROCESSING, context)
        args = ["--out", tif, "--" + kind, str(self.parameterAsInt(parameters, "RANGE", context))]
        field = self.parameterAsString(parameters, "FIELD", context)
        if field:
            args += ["--field", field]
        like = self.parameterAsRasterLayer(parameters, "LIKE", context)
        if like is not None:
            args += ["--like", inputs.raster_path(like, context, feedback)]
        if parameters.get("CELL") not in (None, ""):
            args += ["--cell", repr(self.parameterAsDouble(parameters, "CELL", context))]
        args += self.boundary_argument(parameters, context, feedback)
        if source.type() == QgsMapLayer.RasterLayer:
            args.append(inputs.raster_path(source, context, feedback))
        else:
            args.append(inputs.vector_path(source, context, feedback))

        folder = os.path.dirname(os.path.abspath(tif))
        name = glob.escape(os.path.basename(tif))
        leftovers = runner.Leftovers(folder, [name, name + ".*"]
                                     + runner.STAGED_PATTERNS)
        # The command writes into an existing folder; one made here goes again on failure.
        os.makedirs(folder, exist_ok=True)
        try:
            self.run_command(args, feedback, [leftovers])
        except QgsProcessingException:
            leftovers.remove()
            raise
        return {"OUTPUT": tif}
