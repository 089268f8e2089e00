// Parsing of the `tessera_gis prepare` command line.
#include "gis/prepare_options.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "gis/command_line.h"
#include "gis/common.h"

namespace gis {

const std::string kPrepareHelp =
    std::string(
        "Usage: tessera_gis prepare --out DIR [--boundary FILE] [--align] [--result NAME]\n"
        "                           [--levels N] [--output asc|bmp|raw] [--lang en|fr|es]\n"
        "                           [--progress | --quiet] LAYER[:WEIGHT] ...\n"
        "\n"
        "Writes the input layers of one tessera_summary run into DIR, with the answers of the\n"
        "whole run in DIR/run.txt, so that 'tessera_summary < DIR/run.txt' makes the map.\n"
        "\n"
        "Each LAYER is a raster that GDAL opens (GeoTIFF, ASCII grid, ...); band 1 is read. Its\n"
        "weight is 1 unless given after a colon (geology.tif:2.5). The layers are summed in the\n"
        "order given. Their data must be whole numbers from 0 to 254. A cell that is no-data in\n"
        "any layer, or outside the boundary, is written so that the result shows it without a\n"
        "level: 255 on no-data, 254 outside the boundary.\n"
        "\n"
        "Options:\n"
        "  --out DIR         folder to write into (created if missing; its path must hold no\n"
        "                    blanks); DIR/NAME.asc and NAME.prj per layer, NAME being the\n"
        "                    layer's file name without extension\n"
        "  --boundary FILE   study area: a polygon layer that OGR opens (GeoJSON, Shapefile,\n"
        "                    GeoPackage, ...), rasterised on cell centres, or a raster whose\n"
        "                    non-zero cells are inside; written as DIR/mask.asc\n"
        "  --align           resample every layer onto the first layer's grid (nearest\n"
        "                    neighbour) instead of refusing layers whose grids differ\n"
        "  --result NAME     name of the run's result files (default comp)\n"
        "  --levels N        number of levels, 1 to 99 (default 10)\n"
        "  --output FORMAT   result image: asc (ASCII grid, default), bmp or raw\n"
        "  --lang LANG       language of the run: en (default), fr or es\n") +
    kProgressHelp +
    "  --help            this text\n"
    "\n"
    "Exit status: 0 done, 1 a layer or the boundary cannot be used (nothing is written),\n"
    "2 a wrong command line.\n";

namespace {

// A weight as text: a finite decimal number, independent of the locale.
bool parse_weight(std::string_view text, double& w) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, w);
  return !text.empty() && ec == std::errc() && p == end && std::isfinite(w);
}

// A result name becomes file names in DIR and one answer of the run: one word, no folder.
void check_result_name(const std::string& name) {
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= ' ' || b == 0x7f || c == '/' || c == '\\') {
      throw UsageError(
          "--result takes a file name without blanks, control characters or "
          "folder separators, not '" +
          name + "'");
    }
  }
  if (name.empty()) throw UsageError("--result needs a name");
}

}  // namespace

Choice pick(std::string_view option, const std::string& value, const Choice* begin,
            const Choice* end) {
  std::string names;
  for (const Choice* c = begin; c != end; ++c) {
    if (value == c->name) return *c;
    names += std::string(names.empty() ? "" : ", ") + c->name;
  }
  throw UsageError(std::string(option) + " takes one of " + names + ", not '" + value + "'");
}

LayerArg parse_layer(const std::string& arg) {
  LayerArg layer{arg, 1.0};
  const std::size_t colon = arg.rfind(':');
  if (colon == std::string::npos) return layer;
  const std::string_view suffix = std::string_view(arg).substr(colon + 1);
  double w = 0.0;
  if (parse_weight(suffix, w)) {
    layer.path = arg.substr(0, colon);
    layer.weight = w;
    return layer;
  }
  // "geology.tif:x" where geology.tif exists: a weight was meant.
  std::error_code ec;
  if (!std::filesystem::exists(arg, ec) && std::filesystem::exists(arg.substr(0, colon), ec)) {
    throw UsageError("the weight of " + arg.substr(0, colon) + " must be a finite number, not '" +
                     std::string(suffix) + "'");
  }
  return layer;
}

PrepareOptions parse_prepare_options(int argc, char** argv) {
  PrepareOptions o;
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
      o.out_dir = a.value("--out");
      if (o.out_dir.empty()) throw UsageError("--out needs a folder");
    } else if (a.is("--boundary")) {
      o.boundary = a.value("--boundary");
      if (o.boundary.empty()) throw UsageError("--boundary needs a file");
    } else if (a.is("--result")) {
      o.result = a.value("--result");
      check_result_name(o.result);
    } else if (a.is("--levels")) {
      o.levels = a.whole("--levels", 1, rasterio::kMaxLevels);
    } else if (a.is("--output")) {
      o.output = pick("--output", a.value("--output"), std::begin(kOutputChoices),
                      std::end(kOutputChoices));
    } else if (a.is("--lang")) {
      o.lang = pick("--lang", a.value("--lang"), std::begin(kLanguageChoices),
                    std::end(kLanguageChoices));
    } else {
      throw UsageError("unknown option '" + std::string(a.arg()) + "'");
    }
  }
  if (o.out_dir.empty()) throw UsageError("prepare needs --out DIR");
  if (o.layers.empty()) throw UsageError("prepare needs at least one LAYER");
  check_layer_count(o.layers.size());
  return o;
}

}  // namespace gis
