// The end of a run: the final masking of the level grid, the result image in a format of the
// format table (with its descriptor), and the .prj carried beside a georeferenced result.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/failure.h"
#include "core/level_grid.h"
#include "core/parallel.h"
#include "core/parameters.h"
#include "core/samples.h"
#include "nrutil/bitgrid.h"
#include "rasterio/formats.h"

namespace core {

// Where the result goes: its image file and the descriptor beside it ("" for none), as the
// run names them.
struct ResultFiles {
  std::string image;
  std::string descriptor;
};

// Masks the level grid (on `threads` threads): cells marked in `zeros` (the first image held
// 0) become background; cells marked in `outside` (null for no mask) become
// kOutsideStudyArea, even when they are background too. Writes the image in format f,
// through a temporary file put in place with its descriptor only once both are complete.
// Returns the cells of each value of the written image.
Outcome<ValueCounts> write_result(LevelGrid& grid, const nrutil::BitGrid& zeros,
                                  const nrutil::BitGrid* outside, const rasterio::FileFormat& f,
                                  const Georef& where, const ResultFiles& files,
                                  int threads = thread_count());

// The .prj carried beside a result: the copy and where it came from.
struct CarriedPrj {
  std::string file;
  std::string from;
};

// Copies the .prj beside the first of `grids` (in the run's order: the images, then the mask)
// that is in a georeferenced format and has one, to `target`. None when no grid has one.
Outcome<std::optional<CarriedPrj>> carry_prj(const std::vector<InputGrid>& grids,
                                             const std::string& target);

}  // namespace core
