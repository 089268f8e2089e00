"""What the Tessera algorithms share: the parameters that mirror tessera_gis options, the
layers with their weights, the run of one command, and the styling of loaded outputs."""

from qgis.core import (NULL, QgsFillSymbol, QgsProcessing, QgsProcessingAlgorithm,
                       QgsProcessingContext, QgsProcessingException,
                       QgsProcessingLayerPostProcessorInterface,
                       QgsProcessingParameterBoolean, QgsProcessingParameterEnum,
                       QgsProcessingParameterFeatureSource, QgsProcessingParameterMatrix,
                       QgsProcessingParameterMultipleLayers, QgsProcessingParameterNumber,
                       QgsProcessingParameterString, QgsSingleSymbolRenderer)

from . import inputs, runner

LANGUAGES = [("en", "English"), ("fr", "French"), ("es", "Spanish")]
PALETTES = [("viridis", "viridis"), ("ylorrd", "ylorrd (yellow-orange-red)")]


class Styler(QgsProcessingLayerPostProcessorInterface):
    """Styles an output layer once Processing has loaded it: with a QGIS style file, or as
    outlines only (mesh cells drawn over the map)."""

    # Processing does not own the post-processors it is given: they are kept here until used.
    pending = []

    def __init__(self, qml=None):
        super().__init__()
        self.qml = qml
        Styler.pending.append(self)

    def postProcessLayer(self, layer, context, feedback):
        if self.qml:
            message, ok = layer.loadNamedStyle(self.qml)
            if not ok:
                feedback.reportError("{}: the style was not applied ({})".format(self.qml,
                                                                                 message))
        else:
            layer.setRenderer(QgsSingleSymbolRenderer(QgsFillSymbol.createSimple(
                {"style": "no", "outline_color": "35,35,35,255", "outline_width": "0.2"})))
        layer.triggerRepaint()
        if self in Styler.pending:
            Styler.pending.remove(self)


# The groups of the algorithms in the Processing Toolbox.
GROUPS = {"index": "Diversity index", "classic": "Classic route"}


class TesseraAlgorithm(QgsProcessingAlgorithm):
    """One tessera_gis command as a Processing algorithm."""

    command = None  # the tessera_gis command the algorithm runs
    group_id = None  # its group in the Processing Toolbox, a key of GROUPS

    def createInstance(self):
        return type(self)()

    def name(self):
        return self.command

    def group(self):
        return GROUPS[self.group_id]

    def groupId(self):
        return self.group_id

    def helpUrl(self):
        return ""

    # ---- parameters shared by several commands ----

    def add_layers(self, description):
        self.addParameter(QgsProcessingParameterMultipleLayers(
            "LAYERS", description, QgsProcessing.TypeRaster))
        weights = QgsProcessingParameterMatrix(
            "WEIGHTS", "Weights, one a layer in layer order (empty: 1 each)",
            numberRows=0, hasFixedNumberRows=False, headers=["Weight"], optional=True)
        self.addParameter(weights)

    def add_boundary(self, description="Study area (polygons)"):
        self.addParameter(QgsProcessingParameterFeatureSource(
            "BOUNDARY", description, [QgsProcessing.TypeVectorPolygon], optional=True))

    def add_align(self):
        self.addParameter(QgsProcessingParameterBoolean(
            "ALIGN", "Resample the layers onto the first layer's grid", defaultValue=False))

    def add_levels(self):
        self.addParameter(QgsProcessingParameterNumber(
            "LEVELS", "Number of levels", QgsProcessingParameterNumber.Integer,
            defaultValue=10, minValue=1, maxValue=99))

    def add_choice(self, name, description, choices, default=0, optional=False):
        self.addParameter(QgsProcessingParameterEnum(
            name, description, [label for _, label in choices], defaultValue=default,
            optional=optional))

    def add_title(self):
        self.addParameter(QgsProcessingParameterString(
            "TITLE", "Title (default: the output's name)", optional=True))

    # ---- reading them as command-line arguments ----

    def choice(self, parameters, name, choices, context):
        return choices[self.parameterAsEnum(parameters, name, context)][0]

    def layer_arguments(self, parameters, context, feedback):
        """LAYER:WEIGHT for each layer, the layers as paths, the weights in layer order."""
        layers = self.parameterAsLayerList(parameters, "LAYERS", context)
        if not layers:
            raise QgsProcessingException("Give at least one raster layer")
        given = self.parameterAsMatrix(parameters, "WEIGHTS", context)
        given = [w for w in given if w is not None and w != NULL and str(w).strip() != ""]
        if given and len(given) != len(layers):
            raise QgsProcessingException(
                "{} weights for {} layers: give one weight a layer, in layer order, or "
                "none".format(len(given), len(layers)))
        weights = []
        for w in given or [1] * len(layers):
            try:
                weights.append(float(str(w).strip()))
            except ValueError:
                raise QgsProcessingException("The weight '{}' is not a number".format(w))
        # The command takes the text after the last colon as the weight, so a colon within
        # a path or a GDAL dataset name stays part of it.
        return ["{}:{!r}".format(inputs.raster_path(layer, context, feedback), w)
                for layer, w in zip(layers, weights)]

    def boundary_argument(self, parameters, context, feedback):
        if parameters.get("BOUNDARY") in (None, ""):
            return []
        if self.parameterAsSource(parameters, "BOUNDARY", context) is None:
            return []
        path = self.parameterAsCompatibleSourceLayerPath(
            parameters, "BOUNDARY", context, inputs.VECTOR_FORMATS, "gpkg", feedback)
        return ["--boundary", path]

    # ---- running ----

    def run_command(self, arguments, feedback, leftovers=()):
        program = runner.tessera_gis()
        args = [program, self.command] + arguments
        if runner.supports_progress(program, self.command):
            args.insert(2, "--progress")
        return runner.run(args, feedback, leftovers=leftovers), program

    def style_on_completion(self, context, path, qml=None):
        """Styles the output (see Styler) when Processing loads it at the end."""
        if context.willLoadLayerOnCompletion(path):
            context.layerToLoadOnCompletionDetails(path).setPostProcessor(Styler(qml))

    def load_on_completion(self, context, path, name, output):
        """Loads a file that is not a destination parameter's when the algorithm ends."""
        if not context.willLoadLayerOnCompletion(path):
            context.addLayerToLoadOnCompletion(
                path, QgsProcessingContext.LayerDetails(name, context.project(), output))


def stem(path, suffix):
    """`path` without `suffix` (any case); the path itself when it does not end so."""
    if path.lower().endswith(suffix.lower()):
        return path[: -len(suffix)]
    return path

