"""The plugin: adds the Tessera provider to Processing, in QGIS and in qgis_process."""

from qgis.core import QgsApplication

from .provider import TesseraProvider


class TesseraPlugin:

    def __init__(self, iface=None):
        self.iface = iface
        self.provider = None

    def initProcessing(self):
        if self.provider is None:
            self.provider = TesseraProvider()
            QgsApplication.processingRegistry().addProvider(self.provider)

    def initGui(self):
        self.initProcessing()

    def unload(self):
        if self.provider is not None:
            QgsApplication.processingRegistry().removeProvider(self.provider)
            self.provider = None
