// The two measures of richness: distinct classes in a moving window, or in the square cells
// of a mesh, counted from rows of classes and written row by row into the layer.
#pragma once

#include <cstdint>
#include <functional>

#include "gis/richness_source.h"
#include "gis/richness_tiff.h"

namespace gis {

// The largest count written; above it, this value and a warning.
inline constexpr int kMaxCount = 254;
// The value of cells that get no count.
inline constexpr unsigned char kNoCount = 255;

// What a count found.
struct CountTally {
  std::int64_t data_cells = 0;     // cells with a class inside the study area, of those read
  std::int64_t counted_cells = 0;  // cells written with a count
  std::int64_t capped_cells = 0;   // of those, cells whose count was above kMaxCount
};

// Where the count may look: `inside` (a byte a cell, row 0 first, non-zero inside the study
// area) or null for the whole grid.
struct CountArea {
  int cols = 0;
  int rows = 0;
  int range = 1;  // R
  const unsigned char* inside = nullptr;
};

// Moving window: each cell with a class gets the number of distinct classes in the
// (2R+1) x (2R+1) window centred on it; the band of R cells along the edges and the cells
// without a class get kNoCount. A sliding count: per-class counters updated as the window
// moves along a row, over a ring of 2R+1 rows of classes.
CountTally count_window(ClassRows& source, const CountArea& area, RichnessTiff& out,
                        const std::function<void(double)>& done);

// Square cell mesh: the grid cut into mesh cells of (2R+1) x (2R+1) cells from its top-left
// corner; every cell of a mesh cell gets the number of distinct classes in it, or kNoCount
// when it holds no class; cells of mesh cells that do not fit whole in the grid get kNoCount.
CountTally count_mesh(ClassRows& source, const CountArea& area, RichnessTiff& out,
                      const std::function<void(double)>& done);

}  // namespace gis
