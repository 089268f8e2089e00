// Detection of the processing type and the measures of the data area.
#include "core/detection.h"

#include <algorithm>
#include <cstring>

#include "core/parallel.h"

namespace core {

namespace {

// The first column j of row i, from j0 upward while j < j1, that holds data; -1 if none.
int first_data_col(const LevelGrid& grid, int i, int j0, int j1) {
  const unsigned char* row = grid[i];
  for (int j = std::max(j0, 0); j < std::min(j1, grid.nb_col()); ++j) {
    if (row[j] != kBackground) return j;
  }
  return -1;
}

}  // namespace

DataArea measure_data_area(const LevelGrid& grid) {
  DataArea a;
  const int rows = grid.nb_lig();
  const int cols = grid.nb_col();
  const int m = rows / 2;
  const int c = cols / 2;
  for (int j = cols - 1; j > c; --j) {
    if (grid[m][j] != kBackground) {
      a.last_col = j;
      break;
    }
  }
  for (int i = rows - 1; i > m; --i) {
    if (grid[i][c] != kBackground) {
      a.last_row = i;
      break;
    }
  }
  return a;
}

Detection detect(const LevelGrid& grid) {
  Detection d;
  const int found = first_data_col(grid, grid.nb_lig() / 2, 0, grid.nb_col() / 2);
  d.band_width = found >= 0 ? found : 0;
  if (d.band_width == 0) {
    d.type = kSquareCellMesh;
    d.area = measure_data_area(grid);
  } else {
    d.type = kMovingWindow;
  }
  return d;
}

void fill_holes(LevelGrid& grid, const Region& where, unsigned char level, int threads) {
  if (where.rows.empty() || where.cols.empty()) return;
  constexpr int kBlockRows = 64;
  const int rows = where.rows.hi - where.rows.lo;
  const auto width = static_cast<std::size_t>(where.cols.hi - where.cols.lo);
  for_each_block(threads, (rows + kBlockRows - 1) / kBlockRows, [&](int, int b) -> Status {
    const int first = where.rows.lo + b * kBlockRows;
    for (int i = first; i < std::min(first + kBlockRows, where.rows.hi); ++i) {
      unsigned char* const from = grid[i] + where.cols.lo;
      // Most rows hold no hole: they are only read. From the first hole on, a select rather
      // than a conditional store, so that the loop runs on whole vectors.
      auto* row = static_cast<unsigned char*>(std::memchr(from, kBackground, width));
      if (row == nullptr) continue;
      for (unsigned char* const end = from + width; row < end; ++row) {
        *row = *row == kBackground ? level : *row;
      }
    }
    return std::nullopt;
  });
}

Region inside_band(const LevelGrid& grid, int band) {
  return region_of(grid, band, std::int64_t{grid.nb_lig()} - band, band,
                   std::int64_t{grid.nb_col()} - band);
}

Region detected_area(const LevelGrid& grid, const Detection& d) {
  if (d.type == kSquareCellMesh) return region_of(grid, 0, d.area.last_row, 0, d.area.last_col);
  return inside_band(grid, d.band_width);
}

int window_band(const LevelGrid& grid) {
  const int found = first_data_col(grid, grid.nb_lig() / 2, 0, grid.nb_col());
  return found < 0 ? 0 : found;
}

}  // namespace core
