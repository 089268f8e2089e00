// `tessera_gis compose`: GIS layers in, a styled composite map out, in one command: the
// weighted sum of the layers on the cells that hold data in every layer inside the boundary,
// its levels by a chosen class method, and the GeoTIFF, QGIS style, run record, level table,
// mesh GeoPackage and report page.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/classes.h"
#include "gis/common.h"
#include "gis/prepare_options.h"

namespace gis {

// The largest range R of --mesh and --window (cells of 2R + 1 = 255 a side).
inline constexpr int kMaxComposeRange = 127;

// How the layers were made: 0 square cell mesh, 1 moving window (core::processing_name), and
// the range R.
struct ComposeProcessing {
  int type = 0;
  int range = 1;
  std::string given_by;  // "--mesh", "--window", or the metadata of a layer (its path)
};

struct ComposeOptions {
  bool help = false;
  std::string out;  // DIR/NAME
  std::string boundary;
  bool align = false;
  int levels = 10;
  core::ClassMethod classes = core::ClassMethod::Equal;
  std::optional<ComposeProcessing> processing;  // --mesh R or --window R
  std::string palette = "viridis";
  std::string title;  // "" for the default title
  std::string lang = "en";
  std::vector<LayerArg> layers;
};

// Parses the arguments that follow `compose`; UsageError for a wrong command line.
ComposeOptions parse_compose_options(int argc, char** argv);

// The text of `tessera_gis compose --help` and the command's line in `tessera_gis --help`.
extern const char* const kComposeHelp;
extern const char* const kComposeSummary;

struct ComposeResult {
  std::vector<std::string> written;  // the files, in place
  std::vector<std::string> warnings;
  int rows = 0, cols = 0, levels = 0;
  std::int64_t with_level = 0, no_data = 0, outside = 0, below_levels = 0;
  std::optional<ComposeProcessing> processing;
};

// Runs the command. Prints nothing; DataError (one line naming the file and the reason) for
// data that cannot be used or written, and then nothing is written.
ComposeResult run_compose(const ComposeOptions& options, const Progress& progress);

// The command as tessera_gis runs it: parse, run, print the warnings and the written files.
int compose_command(int argc, char** argv);

}  // namespace gis
