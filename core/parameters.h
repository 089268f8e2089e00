// What a front-end gives the core for one run: the input grids, their weights, the mask, the
// number of levels and the result's format. Made once (by the dialogue, say) and then only read.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace core {

// A grid file of the run as the front-end names it: folder and generic name without extension
// (names may use '\' as the folder separator and a drive letter; see nrutil::host_path), and
// the code of its format in rasterio's format table.
struct InputGrid {
  std::string name;
  int format = 0;
};

struct ImageParameter {
  InputGrid grid;
  double weight = 0.0;
};

struct RunParameters {
  std::vector<ImageParameter> images;  // in the order they are summed
  std::optional<InputGrid> mask;       // 1 inside the study area, 255 outside
  int level_count = 0;                 // 1 to rasterio::kMaxLevels
  int output_format = 0;               // code of the result's format
  std::optional<double> pixel_size;    // given by the user, when it was asked
};

// The lower-left corner of a grid in map coordinates.
struct Corner {
  double x_min = 0.0;
  double y_min = 0.0;
};

// Where a run's grid lies: the pixel size (0 when none is known) and the map corner, once a
// grid or the user has told them. Each grid read that carries them replaces them.
struct Georef {
  double pixel_size = 0.0;
  std::optional<Corner> corner;
};

}  // namespace core
