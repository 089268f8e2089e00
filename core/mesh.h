// Drawing the cell mesh over the level grid: lines of value 0, and the background that
// bounds the drawing.
#pragma once

#include <vector>

#include "core/detection.h"
#include "core/level_grid.h"

namespace core {

// Positions 0, s, 2s, ... reached by a running real sum of the spacing s (at least 1), for
// n = 0 to trunc(n_max / s) inclusive, keeping those below n_max.
std::vector<int> line_positions(int n_max, double spacing);

// Draws mesh lines on every column and then every row at the positions spaced by `spacing`
// (at least 1).
void draw_lines(LevelGrid& grid, double spacing);

// A square cell mesh of range r (cells of 2r + 1 pixels from the top-left corner, r at least
// 1): the lines, then background beyond the row and the column that follow the data area.
void draw_square_mesh(LevelGrid& grid, int range, const DataArea& area);

// Sets a border band of `band` cells to background, in every row and column.
void clear_band(LevelGrid& grid, int band);

}  // namespace core
