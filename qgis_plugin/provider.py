"""The Tessera Processing provider: the tessera_gis commands as algorithms."""

import os

from qgis.core import QgsProcessingProvider
from qgis.PyQt.QtGui import QIcon

from . import runner
from .classic import ExportAlgorithm, PrepareAlgorithm
from .compose import ComposeAlgorithm
from .richness import RichnessAlgorithm

ICON = os.path.join(os.path.dirname(__file__), "icon.svg")


class TesseraProvider(QgsProcessingProvider):

    def id(self):
        return "tessera"

    def name(self):
        return "Tessera"

    def longName(self):
        return "Tessera: composite diversity index maps (tessera_gis)"

    def icon(self):
        return QIcon(ICON)

    def svgIconPath(self):
        return ICON

    def load(self):
        self._settings(add=True)
        self.refreshAlgorithms()
        return True

    def unload(self):
        self._settings(add=False)

    def _settings(self, add):
        """The programs' paths in Settings > Options > Processing > Providers > Tessera."""
        try:
            from processing.core.ProcessingConfig import ProcessingConfig, Setting
        except ImportError:  # Processing's Python part is missing: PATH still works
            return
        entries = [(runner.GIS_SETTING, "tessera_gis program (empty: found on PATH)"),
                   (runner.SUMMARY_SETTING, "tessera_summary program, for Prepare (empty: "
                    "beside tessera_gis, then on PATH)")]
        for key, description in entries:
            if add:
                ProcessingConfig.addSetting(Setting(self.name(), key, description, "",
                                                    valuetype=Setting.FILE))
            else:
                ProcessingConfig.removeSetting(key)
        if add:
            ProcessingConfig.settingIcons[self.name()] = self.icon()
            ProcessingConfig.readSettings()

    def loadAlgorithms(self):
        for algorithm in (ComposeAlgorithm(), RichnessAlgorithm(), PrepareAlgorithm(),
                          ExportAlgorithm()):
            self.addAlgorithm(algorithm)

    def supportedOutputRasterLayerExtensions(self):
        return ["tif"]

    def supportsNonFileBasedOutput(self):
        return False
