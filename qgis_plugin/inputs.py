"""Layers handed to tessera_gis by path: a layer GDAL or OGR reads from a file is passed as
it is; any other (in memory, a web service, a selection or a filter) is first written to a
temporary GeoTIFF or GeoPackage."""

import os
import re

from qgis.core import (QgsProcessingException, QgsProcessingUtils, QgsProviderRegistry,
                       QgsRasterFileWriter, QgsRasterPipe, QgsVectorLayer)

VECTOR_FORMATS = ["gpkg", "shp", "geojson", "json", "fgb", "gml", "kml", "tab", "sqlite"]


def _safe_name(layer):
    return re.sub(r"[^\w-]+", "_", layer.name()).strip("_") or "layer"


def raster_path(layer, context, feedback):
    """A path (or GDAL dataset name) that tessera_gis opens for the raster layer."""
    source = layer.source()
    if layer.providerType() == "gdal" and "|" not in source:
        path = QgsProviderRegistry.instance().decodeUri("gdal", source).get("path", "")
        if path and os.path.isfile(path):
            return source
    provider = layer.dataProvider()
    if provider is None or provider.xSize() <= 0 or provider.ySize() <= 0:
        raise QgsProcessingException(
            "{}: this layer has no grid of cells to read (save it as a GeoTIFF first)".format(
                layer.name()))
    out = QgsProcessingUtils.generateTempFilename(_safe_name(layer) + ".tif")
    feedback.pushInfo("{}: written to {} for tessera_gis".format(layer.name(), out))
    pipe = QgsRasterPipe()
    if not pipe.set(provider.clone()):
        raise QgsProcessingException("{}: cannot be read".format(layer.name()))
    writer = QgsRasterFileWriter(out)
    writer.setOutputFormat("GTiff")
    error = writer.writeRaster(pipe, provider.xSize(), provider.ySize(), provider.extent(),
                               provider.crs(), context.transformContext(), feedback)
    if error != QgsRasterFileWriter.NoError:
        raise QgsProcessingException(
            "{}: cannot be written to {} (error {})".format(layer.name(), out, int(error)))
    return out


def vector_path(layer, context, feedback, selected_only=False):
    """A file that OGR opens with the vector layer as its only (or first) layer."""
    if not isinstance(layer, QgsVectorLayer):
        raise QgsProcessingException("{}: not a vector layer".format(layer.name()))
    return QgsProcessingUtils.convertToCompatibleFormat(
        layer, selected_only, _safe_name(layer), VECTOR_FORMATS, "gpkg", context, feedback)
