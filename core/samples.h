// What the histogram and the point files of a run hold: the cells of each value in a region
// of the level grid, and one sample point per mesh cell.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/level_grid.h"

namespace core {

// Cells of each byte value.
using ValueCounts = std::array<std::int64_t, 256>;

// The cells of each value in a region of the grid.
ValueCounts count_values(const LevelGrid& grid, const Region& where);

// One point per cell of a square cell mesh of range r, at its centre pixel: rows and columns
// r, r + (2r + 1), ... The columns are those whose cell lies whole inside the grid; the rows
// also include a last row of cells that lacks its bottom row, as long as its centre row is in
// the grid. A centre pixel holding background counts as the top level.
struct PointSamples {
  std::vector<int> rows;
  std::vector<int> cols;
  std::vector<unsigned char> levels;  // rows.size() x cols.size(), row after row
  ValueCounts counts{};               // the points of each level
};

PointSamples sample_points(const LevelGrid& grid, int range, int level_count);

}  // namespace core
