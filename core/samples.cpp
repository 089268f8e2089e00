// Counts and sample points of the level grid.
#include "core/samples.h"

#include <algorithm>

#include "core/cell_loops.h"

namespace core {

ValueCounts count_values(const LevelGrid& grid, const Region& where) {
  ValueCounts h{};
  if (where.rows.empty() || where.cols.empty()) return h;
  ValueCounter counter;
  for (int i = where.rows.lo; i < where.rows.hi; ++i) {
    counter.add(grid[i] + where.cols.lo, static_cast<std::size_t>(where.cols.hi - where.cols.lo));
  }
  for (int b = 0; b < 256; ++b) h[static_cast<std::size_t>(b)] = counter.count(b);
  return h;
}

PointSamples sample_points(const LevelGrid& grid, int range, int level_count) {
  PointSamples p;
  const std::int64_t hws = range;
  const std::int64_t ws = 2 * hws + 1;
  const int rows = grid.nb_lig();
  const int cols = grid.nb_col();
  // A range below 0 has no cells.
  if (hws < 0) return p;
  const std::int64_t last_row = std::min<std::int64_t>(rows - hws, rows - 1);
  for (std::int64_t j = hws; j < cols - hws; j += ws) p.cols.push_back(static_cast<int>(j));
  for (std::int64_t i = hws; i <= last_row; i += ws) p.rows.push_back(static_cast<int>(i));
  p.levels.reserve(p.rows.size() * p.cols.size());
  for (const int i : p.rows) {
    const unsigned char* row = grid[i];
    for (const int j : p.cols) {
      const unsigned char v =
          row[j] == kBackground ? static_cast<unsigned char>(level_count) : row[j];
      p.levels.push_back(v);
      ++p.counts[v];
    }
  }
  return p;
}

}  // namespace core
