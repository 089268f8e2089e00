// The drawing of the cell mesh.
#include "core/mesh.h"

#include <cstdint>
#include <cstring>

namespace core {

namespace {

// Sets rows [i0, i1) to background in every column.
void clear_rows(LevelGrid& grid, std::int64_t i0, std::int64_t i1) {
  const Span rows = clamp_span(i0, i1, grid.nb_lig());
  for (int i = rows.lo; i < rows.hi; ++i) {
    std::memset(grid[i], kBackground, static_cast<std::size_t>(grid.nb_col()));
  }
}

// Sets columns [j0, j1) to background in every row.
void clear_cols(LevelGrid& grid, std::int64_t j0, std::int64_t j1) {
  const Span cols = clamp_span(j0, j1, grid.nb_col());
  if (cols.empty()) return;
  for (int i = 0; i < grid.nb_lig(); ++i) {
    std::memset(grid[i] + cols.lo, kBackground, static_cast<std::size_t>(cols.hi - cols.lo));
  }
}

}  // namespace

std::vector<int> line_positions(int n_max, double spacing) {
  std::vector<int> pos;
  const auto steps = static_cast<std::int64_t>(n_max / spacing);
  double sum = 0.0;
  std::int64_t val = 0;
  for (std::int64_t n = 0; n <= steps; ++n) {
    if (val < n_max) pos.push_back(static_cast<int>(val));
    sum += spacing;
    val = static_cast<std::int64_t>(sum);
  }
  return pos;
}

void draw_lines(LevelGrid& grid, double spacing) {
  const std::vector<int> cols = line_positions(grid.nb_col(), spacing);
  const std::vector<int> rows = line_positions(grid.nb_lig(), spacing);
  for (int i = 0; i < grid.nb_lig(); ++i) {
    unsigned char* row = grid[i];
    for (const int j : cols) row[j] = kMeshLine;
  }
  for (const int i : rows) std::memset(grid[i], kMeshLine, static_cast<std::size_t>(grid.nb_col()));
}

void draw_square_mesh(LevelGrid& grid, int range, const DataArea& area) {
  draw_lines(grid, static_cast<double>(2 * std::int64_t{range} + 1));
  clear_rows(grid, std::int64_t{area.last_row} + 2, grid.nb_lig());
  clear_cols(grid, std::int64_t{area.last_col} + 2, grid.nb_col());
}

void clear_band(LevelGrid& grid, int band) {
  clear_rows(grid, 0, band);
  clear_rows(grid, std::int64_t{grid.nb_lig()} - band, grid.nb_lig());
  clear_cols(grid, 0, band);
  clear_cols(grid, std::int64_t{grid.nb_col()} - band, grid.nb_col());
}

}  // namespace core
