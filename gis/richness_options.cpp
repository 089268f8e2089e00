// Parsing of the `tessera_gis richness` command line.
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>
#include <system_error>

#include "gis/richness.h"

namespace gis {

const char* const kRichnessHelp =
    "Usage: tessera_gis richness --out FILE.tif (--window R | --mesh R) [--boundary FILE]\n"
    "                            [--field NAME] [--like RASTER | --cell SIZE] SOURCE\n"
    "\n"
    "Writes a sub-index layer: in each cell, the number of distinct classes of SOURCE in\n"
    "the area around it, as a Byte GeoTIFF (DEFLATE, tiled, no-data 255, SOURCE's CRS) whose\n"
    "metadata say how it was made (TESSERA_PROCESSING, TESSERA_RANGE, TESSERA_SOURCE,\n"
    "TESSERA_FIELD, TESSERA_VERSION).\n"
    "\n"
    "SOURCE is one of:\n"
    "  a raster            band 1 holds whole-number class codes of any range; its no-data\n"
    "                      cells hold no class\n"
    "  a polygon layer     with --field NAME: the field's value is the class, polygons are\n"
    "                      rasterised on cell centres; cells under no polygon hold no class\n"
    "  a point or line     (or a polygon layer without --field): each feature is a class of\n"
    "  layer               its own, present in every cell it touches\n"
    "A vector source is counted on the grid of --like RASTER or on cells of --cell SIZE over\n"
    "its extent, in its CRS.\n"
    "\n"
    "Options:\n"
    "  --window R        the area of a cell is the (2R+1) x (2R+1) window centred on it,\n"
    "                    R from 1 to 127; a band of R cells along the grid's edges is 255, as\n"
    "                    are cells without data and cells outside the boundary\n"
    "  --mesh R          the grid is cut into square mesh cells of (2R+1) x (2R+1) cells\n"
    "                    from its top-left corner; every cell of a mesh cell gets its count;\n"
    "                    mesh cells that do not fit whole in the grid, or that hold no data\n"
    "                    inside the boundary, are 255\n"
    "  --boundary FILE   the study area: a polygon layer (a cell is inside when its centre\n"
    "                    is) or a raster (its non-zero cells); outside it nothing is a class\n"
    "  --field NAME      the class field of a polygon source\n"
    "  --like RASTER     count a vector source on this raster's grid\n"
    "  --cell SIZE       count a vector source on square cells of SIZE (in its CRS's unit)\n"
    "  --out FILE        the GeoTIFF to write; an existing file is replaced once the new one\n"
    "                    is complete\n"
    "  --help            this text\n"
    "\n"
    "Counts above 254 are written as 254, with a warning giving the number of such cells.\n"
    "Exit status: 0 done, 1 a file cannot be used (nothing is written), 2 a wrong command\n"
    "line.\n";

namespace {

// The value of an option: the rest of "--name=value" or the next argument.
std::string option_value(std::string_view arg, std::string_view name, int& i, int argc,
                         char** argv) {
  if (arg.size() > name.size()) return std::string(arg.substr(name.size() + 1));
  if (i + 1 >= argc) throw UsageError(std::string(name) + " needs a value");
  return argv[++i];
}

// R as a whole number; one outside the int range is saturated (and refused later as out of
// range, like any R outside 1..127).
int parse_range(std::string_view option, const std::string& text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  long long v = 0;
  const char* end = digits.data() + digits.size();
  const auto [p, ec] = std::from_chars(digits.data(), end, v);
  if (digits.empty() || p != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
    throw UsageError(std::string(option) + " takes a whole number R from 1 to " +
                     std::to_string(kMaxRange) + ", not '" + text + "'");
  }
  if (ec == std::errc::result_out_of_range) return digits.front() == '-' ? -1 : kMaxRange + 1;
  constexpr long long kIntMax = std::numeric_limits<int>::max();
  return static_cast<int>(v < -1 ? -1 : v > kIntMax ? kIntMax : v);
}

double parse_cell(const std::string& text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  double v = 0.0;
  const char* end = digits.data() + digits.size();
  const auto [p, ec] = std::from_chars(digits.data(), end, v);
  if (digits.empty() || ec != std::errc() || p != end || !std::isfinite(v) || v <= 0.0) {
    throw UsageError("--cell takes a cell size greater than 0, not '" + text + "'");
  }
  return v;
}

std::string non_empty(std::string_view option, std::string value, const char* what) {
  if (value.empty()) throw UsageError(std::string(option) + " needs " + what);
  return value;
}

}  // namespace

RichnessOptions parse_richness_options(int argc, char** argv) {
  RichnessOptions o;
  bool have_type = false;
  bool have_source = false;
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
      if (have_source) {
        throw UsageError("one SOURCE only ('" + std::string(arg) + "' is one too many)");
      }
      o.source = non_empty("SOURCE", argv[i], "a file");
      have_source = true;
    } else if (arg == "--") {
      options_done = true;
    } else if (is("--window") || is("--mesh")) {
      const std::string_view name = is("--window") ? "--window" : "--mesh";
      if (have_type) throw UsageError("give one of --window and --mesh, once");
      o.type = name == "--window" ? Processing::MovingWindow : Processing::SquareCellMesh;
      o.range = parse_range(name, option_value(arg, name, i, argc, argv));
      have_type = true;
    } else if (is("--out")) {
      o.out = non_empty("--out", option_value(arg, "--out", i, argc, argv), "a file");
    } else if (is("--boundary")) {
      o.boundary =
          non_empty("--boundary", option_value(arg, "--boundary", i, argc, argv), "a file");
    } else if (is("--field")) {
      o.field = non_empty("--field", option_value(arg, "--field", i, argc, argv), "a name");
    } else if (is("--like")) {
      o.like = non_empty("--like", option_value(arg, "--like", i, argc, argv), "a raster");
    } else if (is("--cell")) {
      o.cell = parse_cell(option_value(arg, "--cell", i, argc, argv));
    } else {
      throw UsageError("unknown option '" + std::string(arg) + "'");
    }
  }
  if (o.out.empty()) throw UsageError("richness needs --out FILE.tif");
  if (!have_type) throw UsageError("richness needs --window R or --mesh R");
  if (!have_source) throw UsageError("richness needs a SOURCE layer");
  if (!o.like.empty() && o.cell > 0.0) throw UsageError("give --like or --cell, not both");
  return o;
}

}  // namespace gis
