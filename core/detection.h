// The processing type of a run's images, told from the level grid: a square cell mesh leaves
// data from the first column of the middle row; a moving window leaves a band of background
// along the borders. Also the measures of the data area and the filling of background holes
// inside it with the top level.
#pragma once

#include "core/level_grid.h"
#include "core/parallel.h"

namespace core {

inline constexpr int kSquareCellMesh = 0;
inline constexpr int kMovingWindow = 1;

// The last data row and column of a square-cell-mesh grid: the last data row of the middle
// column and the last data column of the middle row, each scanned from the far edge toward the
// middle; 0 when the scan finds only background.
struct DataArea {
  int last_row = 0;
  int last_col = 0;
};

struct Detection {
  int type = kSquareCellMesh;
  int band_width = 0;  // the first data column of the middle row's left half (0: none)
  DataArea area;       // measured for a square cell mesh only
};

// Detects the type: a band of background at the start of the middle row means a moving window
// of that width; otherwise a square cell mesh, whose data area is measured.
Detection detect(const LevelGrid& grid);
DataArea measure_data_area(const LevelGrid& grid);

// Gives `level` to the background cells of a region, on `threads` threads.
void fill_holes(LevelGrid& grid, const Region& where, unsigned char level,
                int threads = thread_count());

// The region whose holes take the top level after the detection: rows and columns up to the
// data area of a square cell mesh (its last row and column left out), inside the band of a
// moving window.
Region detected_area(const LevelGrid& grid, const Detection& d);

// The region inside a border band of `band` cells.
Region inside_band(const LevelGrid& grid, int band);

// The width of the background band at the start of the middle row (the first data column),
// or 0 when the row holds no data.
int window_band(const LevelGrid& grid);

}  // namespace core
