"""tessera:prepare and tessera:export: the classic route through tessera_summary."""

import glob
import os

from qgis.core import (QgsProcessingException, QgsProcessingOutputFile,
                       QgsProcessingOutputHtml, QgsProcessingOutputRasterLayer,
                       QgsProcessingParameterBoolean, QgsProcessingParameterFile,
                       QgsProcessingParameterFolderDestination, QgsProcessingParameterString)

from . import runner
from .base import LANGUAGES, PALETTES, TesseraAlgorithm, stem

FORMATS = [("asc", "ASCII grid (asc)"), ("bmp", "8-bit BMP (bmp)"), ("raw", "raw bytes (raw)")]
RECORD_SUFFIX = "_run.json"


def summary_error(lines):
    """The message tessera_summary printed before 'The run stops.'."""
    text = [l.strip() for l in lines if l.strip()]
    for i in range(len(text) - 1, -1, -1):
        if "The run stops." in text[i]:
            return "tessera_summary: " + " ".join(text[max(0, i - 1): i + 1])
    return text[-1] if text else None


class PrepareAlgorithm(TesseraAlgorithm):
    command = "prepare"
    group_id = "classic"

    def displayName(self):
        return "Prepare a classic run"

    def shortHelpString(self):
        return (
            "Writes the layers, the study area mask and the answers of one tessera_summary run "
            "into the output folder (runs tessera_gis prepare), then, when 'Run "
            "tessera_summary' is ticked, runs it: the folder then holds the classic program's "
            "result, report, histogram and point files, and RESULT_run.json, which Export "
            "turns into a styled map.\n\n"
            "Layers: band 1 of each, whole numbers from 0 to 254, summed in the order given, "
            "each times its weight (1 each when empty). Cells with no data in some layer are "
            "written as 255 and cells outside the study area as 254, so the result shows them "
            "without a level. The folder's path must hold no blanks.")

    def initAlgorithm(self, config=None):
        self.add_layers("Sub-index layers")
        self.add_boundary()
        self.add_align()
        self.addParameter(QgsProcessingParameterString(
            "RESULT", "Name of the run's result", defaultValue="comp"))
        self.add_levels()
        self.add_choice("FORMAT", "Format of the result image", FORMATS)
        self.add_choice("LANG", "Language of the run", LANGUAGES)
        self.addParameter(QgsProcessingParameterBoolean(
            "RUN", "Run tessera_summary on the prepared folder", defaultValue=True))
        self.addParameter(QgsProcessingParameterFolderDestination("OUTPUT", "Run folder"))
        self.addOutput(QgsProcessingOutputFile("ANSWERS", "Answers of the run (run.txt)"))
        self.addOutput(QgsProcessingOutputFile("RECORD", "Run record (for Export)"))

    def processAlgorithm(self, parameters, context, feedback):
        folder = self.parameterAsString(parameters, "OUTPUT", context)
        result = self.parameterAsString(parameters, "RESULT", context).strip() or "comp"
        args = ["--out", folder, "--result", result,
                "--levels", str(self.parameterAsInt(parameters, "LEVELS", context)),
                "--output", self.choice(parameters, "FORMAT", FORMATS, context),
                "--lang", self.choice(parameters, "LANG", LANGUAGES, context)]
        if self.parameterAsBool(parameters, "ALIGN", context):
            args.append("--align")
        args += self.boundary_argument(parameters, context, feedback)
        args += self.layer_arguments(parameters, context, feedback)
        leftovers = runner.Leftovers(folder, ["*"])
        _, program = self.run_command(args, feedback, [leftovers])
        answers = os.path.join(folder, "run.txt")
        results = {"OUTPUT": folder, "ANSWERS": answers, "RECORD": None}
        if self.parameterAsBool(parameters, "RUN", context):
            summary = runner.tessera_summary(program)
            runner.run([summary], feedback, leftovers=[leftovers], stdin_path=answers,
                       error_from_stdout=summary_error)
            results["RECORD"] = os.path.join(folder, result + RECORD_SUFFIX)
        return results


class ExportAlgorithm(TesseraAlgorithm):
    command = "export"
    group_id = "classic"

    def displayName(self):
        return "Export a classic run"

    def shortHelpString(self):
        return (
            "Turns the result of a tessera_summary run into files ready to publish (runs "
            "tessera_gis export): reads R_run.json, written by the run beside its result, and "
            "writes beside it R.tif (a GeoTIFF with the run's CRS, colours and level names, "
            "loaded when the algorithm ends), R_map.png (the same colours, one pixel a cell, "
            "with a world file) and R_report.html (map, legend, chart and parameters).")

    def initAlgorithm(self, config=None):
        self.addParameter(QgsProcessingParameterFile(
            "RECORD", "Run record (R_run.json)", extension="json"))
        self.add_choice("PALETTE", "Palette", PALETTES)
        self.add_title()
        self.addOutput(QgsProcessingOutputRasterLayer("OUTPUT", "Exported map"))
        self.addOutput(QgsProcessingOutputFile("MAP", "Map picture (PNG)"))
        self.addOutput(QgsProcessingOutputHtml("REPORT", "Report page"))

    def processAlgorithm(self, parameters, context, feedback):
        record = self.parameterAsFile(parameters, "RECORD", context)
        if not record.endswith(RECORD_SUFFIX):
            raise QgsProcessingException(
                "{}: choose the R{} file that a tessera_summary run wrote".format(
                    record, RECORD_SUFFIX))
        base = stem(record, RECORD_SUFFIX)
        args = [base, "--palette", self.choice(parameters, "PALETTE", PALETTES, context)]
        title = self.parameterAsString(parameters, "TITLE", context)
        if title:
            args += ["--title", title]
        name = glob.escape(os.path.basename(base))
        leftovers = runner.Leftovers(os.path.dirname(os.path.abspath(base)),
                                     [name + ".tif*", name + "_map.*", name + "_report.html"]
                                     + runner.STAGED_PATTERNS)
        self.run_command(args, feedback, [leftovers])
        tif = base + ".tif"
        self.load_on_completion(context, tif, os.path.basename(base), "OUTPUT")
        return {"OUTPUT": tif, "MAP": base + "_map.png", "REPORT": base + "_report.html"}
