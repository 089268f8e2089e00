"""Tessera: the tessera_gis commands in QGIS's Processing Toolbox."""


def classFactory(iface):
    from .plugin import TesseraPlugin
    return TesseraPlugin(iface)
