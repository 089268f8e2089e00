// `tessera_gis richness`: a sub-index layer that counts the distinct classes of a source
// around each cell, on a square cell mesh or in a moving window.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gis/common.h"
#include "gis/layer_metadata.h"

namespace gis {

inline constexpr const char* kRichnessSummary =
    "count the distinct classes of a layer in a moving window or a square cell mesh";

// The text of `tessera_gis richness --help`.
extern const char* const kRichnessHelp;

struct RichnessOptions {
  bool help = false;  // --help: print the help and do nothing else
  std::string out;    // the GeoTIFF to write
  Processing type = Processing::MovingWindow;
  // R as given. Whole numbers outside 1..kMaxRange are kept (saturated to the int range) and
  // refused by run_richness, with the source named.
  int range = 0;
  std::string boundary;  // "" for none
  std::string field;     // "" for none
  std::string like;      // the grid of a vector source: a raster's, or
  double cell = 0.0;     // a grid of this cell size over the source's extent (0: none)
  std::string source;
};

// Parses the arguments that follow `richness`; throws UsageError for a wrong command line.
RichnessOptions parse_richness_options(int argc, char** argv);

struct RichnessResult {
  std::string out;  // the file written
  int cols = 0;
  int rows = 0;
  std::uint64_t classes = 0;          // distinct classes (or features) found in the study area
  std::int64_t counted_cells = 0;     // cells that received a count (not 255)
  std::int64_t capped_cells = 0;      // cells whose count was above 254, written as 254
  std::vector<std::string> warnings;  // for the user, one line each, without a prefix
};

// Makes the layer. Prints nothing; calls `progress` (when set) with the fraction done.
// Throws UsageError for options that do not fit the source (--field on a raster, ...) and
// DataError naming the file and the reason for anything else; nothing is written then.
RichnessResult run_richness(const RichnessOptions& o, const Progress& progress);

}  // namespace gis
