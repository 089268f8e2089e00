// tessera_gis export: a run's result as a styled GeoTIFF, a PNG map with its world file and
// a self-contained report page, from the run record "<R>_run.json".
#pragma once

#include <string>
#include <vector>

#include "gis/common.h"

namespace gis {

inline constexpr const char* kExportSummary =
    "a run's result as a styled GeoTIFF, a PNG map and a report page";

// The text of `tessera_gis export --help`.
extern const std::string kExportHelp;

struct ExportOptions {
  bool help = false;  // --help: print the help and do nothing else
  std::string base;   // R, the result's name with its folder
  std::string palette = "viridis";
  std::string title;  // the default title when --title is not given
  ProgressMode progress = ProgressMode::Terminal;
};

// Parses the arguments that follow `export`; throws UsageError for a wrong command line.
ExportOptions parse_export_options(int argc, char** argv);

// What export wrote, for the user.
struct ExportResult {
  std::vector<std::string> written;  // the GeoTIFF, the PNG map and the report page
  std::vector<std::string> notes;    // for the user, one line each, without a prefix
};

// Writes the files. Prints nothing; calls `progress` (when set) with the fraction done.
// Throws DataError naming the file and the reason; nothing is written then.
ExportResult run_export(const ExportOptions& o, const Progress& progress);

}  // namespace gis
