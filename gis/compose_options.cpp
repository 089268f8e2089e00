// The command line of `tessera_gis compose`.
#include <charconv>
#include <cstdio>
#include <string_view>
#include <system_error>

#include "gis/compose.h"
#include "gis/export_style.h"

namespace gis {

const char* const kComposeSummary =
    "GIS layers to a styled composite map: GeoTIFF, QGIS style, record, report";

const char* const kComposeHelp =
    "Usage: tessera_gis compose --out DIR/NAME [--boundary FILE] [--align] [--levels N]\n"
    "                           [--classes equal|minmax|quantile] [--mesh R | --window R]\n"
    "                           [--palette NAME] [--title TEXT] [--lang en|fr|es]\n"
    "                           LAYER[:WEIGHT] ...\n"
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
    "  --lang LANG       language of the report page: en (default), fr or es\n"
    "  --help            this text\n"
    "\n"
    "Exit status: 0 done, 1 a layer or the boundary cannot be used or an output cannot be\n"
    "written (nothing is written), 2 a wrong command line.\n";

namespace {

constexpr Choice kLangs[] = {{"en", 0}, {"fr", 1}, {"es", 2}};

std::string value_of(std::string_view arg, std::string_view name, int& i, int argc, char** argv) {
  if (arg.size() > name.size()) return std::string(arg.substr(name.size() + 1));
  if (i + 1 >= argc) throw UsageError(std::string(name) + " needs a value");
  return argv[++i];
}

int whole(const std::string& text, const char* option, int lo, int hi) {
  int v = 0;
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || p != end || v < lo || v > hi) {
    throw UsageError(std::string(option) + " takes a whole number from " + std::to_string(lo) +
                     " to " + std::to_string(hi) + ", not '" + text + "'");
  }
  return v;
}

}  // namespace

ComposeOptions parse_compose_options(int argc, char** argv) {
  ComposeOptions o;
  bool options_done = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto is = [&](std::string_view name) {
      return arg == name || (arg.size() > name.size() && arg.substr(0, name.size()) == name &&
                             arg[name.size()] == '=');
    };
    if (!options_done && (arg == "--help" || arg == "-h")) {
      o.help = true;
      return o;
    } else if (options_done || arg.size() < 2 || arg.substr(0, 2) != "--") {
      o.layers.push_back(parse_layer(argv[i]));
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "--align") {
      o.align = true;
    } else if (is("--out")) {
      o.out = value_of(arg, "--out", i, argc, argv);
      if (o.out.empty() || o.out.back() == '/') throw UsageError("--out needs DIR/NAME");
    } else if (is("--boundary")) {
      o.boundary = value_of(arg, "--boundary", i, argc, argv);
      if (o.boundary.empty()) throw UsageError("--boundary needs a file");
    } else if (is("--levels")) {
      o.levels = whole(value_of(arg, "--levels", i, argc, argv), "--levels", 1, kMaxLevels);
    } else if (is("--classes")) {
      const std::string v = value_of(arg, "--classes", i, argc, argv);
      const auto m = core::class_method_of(v);
      if (!m) throw UsageError("--classes takes one of equal, minmax, quantile, not '" + v + "'");
      o.classes = *m;
    } else if (is("--mesh") || is("--window")) {
      const bool mesh = is("--mesh");
      const char* name = mesh ? "--mesh" : "--window";
      if (o.processing) throw UsageError("give one of --mesh and --window, once");
      o.processing = ComposeProcessing{
          mesh ? 0 : 1, whole(value_of(arg, name, i, argc, argv), name, 1, kMaxComposeRange), name};
    } else if (is("--palette")) {
      o.palette = value_of(arg, "--palette", i, argc, argv);
      colour_table(o.palette, 1);  // an unknown palette is a usage error
    } else if (is("--title")) {
      o.title = value_of(arg, "--title", i, argc, argv);
    } else if (is("--lang")) {
      o.lang = pick("--lang", value_of(arg, "--lang", i, argc, argv), std::begin(kLangs),
                    std::end(kLangs))
                   .name;
    } else {
      throw UsageError("unknown option '" + std::string(arg) + "'");
    }
  }
  if (o.out.empty()) throw UsageError("compose needs --out DIR/NAME");
  if (o.layers.empty()) throw UsageError("compose needs at least one LAYER");
  if (o.layers.size() > static_cast<std::size_t>(kMaxLayers)) {
    throw UsageError("at most " + std::to_string(kMaxLayers) + " layers are summed, not " +
                     std::to_string(o.layers.size()));
  }
  return o;
}

}  // namespace gis
