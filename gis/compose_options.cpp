// The command line of `tessera_gis compose`.
#include <charconv>
#include <string_view>
#include <system_error>

#include "gis/command_line.h"
#include "gis/compose.h"
#include "gis/export_style.h"
#include "gis/layer_metadata.h"

namespace gis {

const char* const kComposeSummary =
    "GIS layers to a styled composite map: GeoTIFF, QGIS style, record, report";

const std::string kComposeHelp =
    std::string(
        "Usage: tessera_gis compose --out DIR/NAME [--boundary FILE] [--align] [--levels N]\n"
        "                           [--classes equal|minmax|quantile] [--mesh R | --window R]\n"
        "                           [--palette NAME] [--title TEXT] [--lang en|fr|es]\n"
        "                           [--progress | --quiet] LAYER[:WEIGHT] ...\n"
        "\n"
        "Sums the layers cell by cell, each times its weight, on the cells that hold data in\n"
        "every layer and lie inside the boundary, cuts the sums into levels and writes the map.\n"
        "Each LAYER is a raster that GDAL opens; band 1 is read, its data must be whole numbers\n"
        "from 0 to 254. The weight follows a colon (soils.tif:2), 1 by default.\n"
        "\n"
        "Options:\n"
        "  --out DIR/NAME    where to write (DIR is created if missing): NAME.tif, NAME.qml,\n"
        "                    NAME_run.json, NAME_levels.csv, NAME_report.html and, with a\n"
        "                    mesh, NAME_cells.gpkg; required\n"
        "  --boundary FILE   study area: a polygon layer (cells whose centre lies inside) or a\n"
        "                    raster (its non-zero cells); default: the whole grid\n"
        "  --align           resample the other layers onto the first layer's grid (nearest\n"
        "                    neighbour) instead of refusing grids that differ; default: off\n"
        "  --levels N        number of levels, 1 to 99; default 10\n"
        "  --classes METHOD  equal: N equal levels from 0 to the largest sum, as tessera_summary\n"
        "                    (default); minmax: N equal levels from the smallest to the largest\n"
        "                    sum; quantile: levels of as equal cell counts as ties allow\n"
        "  --mesh R          the layers were made on a square cell mesh of 2R+1 cells a side\n"
        "                    from the top-left corner, R from 1 to 127: writes NAME_cells.gpkg\n"
        "                    and draws the mesh on the report; default: none\n"
        "  --window R        the layers were made with a moving window of range R, 1 to 127;\n"
        "                    recorded only; default: none\n"
        "                    (layers written by tessera_gis richness carry their type and\n"
        "                    range; a conflict with them or between them is refused)\n"
        "  --palette NAME    colours of the levels: viridis (default) or ylorrd\n"
        "  --title TEXT      title of the report page and the GeoTIFF; default: the name\n"
        "  --lang LANG       language of the report page: en (default), fr or es\n") +
    kProgressHelp +
    "  --help            this text\n"
    "\n"
    "Exit status: 0 done, 1 a layer or the boundary cannot be used or an output cannot be\n"
    "written (nothing is written), 2 a wrong command line.\n";

ComposeOptions parse_compose_options(int argc, char** argv) {
  ComposeOptions o;
  for (CommandLine a(argc, argv); a.next();) {
    if (a.help()) {
      o.help = true;
      return o;
    } else if (a.operand()) {
      o.layers.push_back(parse_layer(std::string(a.arg())));
    } else if (a.arg() == "--align") {
      o.align = true;
    } else if (take_progress_option(a.arg(), o.progress)) {
    } else if (a.is("--out")) {
      o.out = a.value("--out");
      if (o.out.empty() || o.out.back() == '/') throw UsageError("--out needs DIR/NAME");
    } else if (a.is("--boundary")) {
      o.boundary = a.value("--boundary");
      if (o.boundary.empty()) throw UsageError("--boundary needs a file");
    } else if (a.is("--levels")) {
      o.levels = a.whole("--levels", 1, rasterio::kMaxLevels);
    } else if (a.is("--classes")) {
      const std::string v = a.value("--classes");
      const auto m = core::class_method_of(v);
      if (!m) throw UsageError("--classes takes one of equal, minmax, quantile, not '" + v + "'");
      o.classes = *m;
    } else if (a.is("--mesh") || a.is("--window")) {
      const bool mesh = a.is("--mesh");
      const char* name = mesh ? "--mesh" : "--window";
      if (o.processing) throw UsageError("give one of --mesh and --window, once");
      o.processing = ComposeProcessing{mesh ? 0 : 1, a.whole(name, 1, kMaxRange), name};
    } else if (a.is("--palette")) {
      o.palette = a.value("--palette");
      colour_table(o.palette, 1);  // an unknown palette is a usage error
    } else if (a.is("--title")) {
      o.title = a.value("--title");
    } else if (a.is("--lang")) {
      o.lang = pick("--lang", a.value("--lang"), std::begin(kLanguageChoices),
                    std::end(kLanguageChoices))
                   .name;
    } else {
      throw UsageError("unknown option '" + std::string(a.arg()) + "'");
    }
  }
  if (o.out.empty()) throw UsageError("compose needs --out DIR/NAME");
  if (o.layers.empty()) throw UsageError("compose needs at least one LAYER");
  check_layer_count(o.layers.size());
  return o;
}

}  // namespace gis
