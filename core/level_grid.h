// The level grid of a run, the one grid of a byte a cell, and the values its cells take.
#pragma once

#include <algorithm>
#include <cstdint>

#include "nrutil/grid.h"

namespace core {

// Cells of the level grid: 1 to the level count a level, and these.
inline constexpr unsigned char kMeshLine = 0;
inline constexpr unsigned char kOutsideStudyArea = 254;  // outside the mask's study area
inline constexpr unsigned char kBackground = 255;        // no data, no level, beyond the data

using LevelGrid = nrutil::ByteGrid;

// The half-open range [lo, hi) clamped to [0, n).
struct Span {
  int lo = 0;
  int hi = 0;
  bool empty() const { return lo >= hi; }
};
inline Span clamp_span(std::int64_t lo, std::int64_t hi, int n) {
  const std::int64_t a = std::clamp<std::int64_t>(lo, 0, n);
  const std::int64_t b = std::clamp<std::int64_t>(hi, 0, n);
  return Span{static_cast<int>(a), static_cast<int>(std::max(a, b))};
}

// Rows [rows.lo, rows.hi) and columns [cols.lo, cols.hi) of a grid.
struct Region {
  Span rows;
  Span cols;
};

// The region of rows [i0, i1) and columns [j0, j1), clamped to a grid of `grid`'s size.
inline Region region_of(const LevelGrid& grid, std::int64_t i0, std::int64_t i1, std::int64_t j0,
                        std::int64_t j1) {
  return Region{clamp_span(i0, i1, grid.nb_lig()), clamp_span(j0, j1, grid.nb_col())};
}

}  // namespace core
