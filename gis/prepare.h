// `tessera_gis prepare`: the input layers and the scripted answers of a tessera_summary run,
// made from GIS rasters and a boundary.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gis/common.h"
#include "gis/prepare_options.h"

namespace gis {

inline constexpr const char* kPrepareSummary =
    "write a run's layers, mask and answers (run.txt) from GIS rasters";

// One layer as prepare read it: a row of the table the command shows.
struct PreparedLayer {
  std::string name;               // of its .asc file in the folder, without extension
  std::string type;               // GDAL's name of the data type of its band 1
  std::int64_t nodata_cells = 0;  // its no-data cells over the whole grid
  std::int64_t data_cells = 0;    // its data cells inside the boundary
  double min = 0.0, max = 0.0;    // the range of their values
  double weight = 1.0;
  std::string path;        // as given on the command line
  bool resampled = false;  // brought onto the first layer's grid by --align
};

// What prepare wrote, for the user.
struct PrepareResult {
  std::string folder;  // the run's folder, absolute
  int cols = 0, rows = 0;
  double cell_size = 0.0;
  std::string crs;  // "EPSG:25830", a CRS's name, or "no CRS"
  std::vector<PreparedLayer> layers;
  std::int64_t data_cells = 0;        // inside the boundary, with data in every layer
  std::int64_t nodata_cells = 0;      // inside the boundary, with no data in some layer
  std::int64_t outside_cells = 0;     // outside the boundary
  std::string mask;                   // the mask's file name in the folder, "" without a boundary
  std::string answers;                // the answers file, DIR/run.txt
  std::vector<std::string> warnings;  // for the user, one line each, without a prefix
};

// Writes the run's folder. Prints nothing; calls `progress` (when set) with the fraction
// done. Throws UsageError for names that do not fit the run, DataError naming the file and
// the reason for anything else; nothing is written then.
PrepareResult run_prepare(const PrepareOptions& o, const Progress& progress);

}  // namespace gis
