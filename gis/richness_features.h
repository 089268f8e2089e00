// Richness of a layer whose every feature is a class of its own (springs, river reaches,
// patches): the number of distinct features that touch the area of each cell.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gis/layer_metadata.h"
#include "gis/prepare_grid.h"
#include "gis/richness_count.h"
#include "ogr_geometry.h"

namespace gis {

// Features may overlap, so a cell can hold several classes. Each feature is therefore
// rasterised on its own (every cell it touches, as gdal_rasterize -at), its cells outside the
// study area dropped, and counted once in each area it reaches: the windows whose centre lies
// within R cells of one of its cells (its cells dilated by R), or the mesh cells that hold one
// of its cells. Every cell of the study area holds data: where no feature comes, the count is
// 0.
class FeatureCounts {
 public:
  FeatureCounts(const Grid& grid, Processing type, const CountArea& area);

  // Counts one feature, its geometry in the grid's CRS.
  void add(const OGRGeometry& geometry, const std::string& path);

  // Features that touch a cell of the grid, and of those, a cell of the study area.
  std::int64_t on_grid() const { return on_grid_; }
  std::int64_t in_area() const { return in_area_; }

  // Bytes held for the counts of `grid`, and at most for one feature, before any is counted.
  static std::int64_t bytes_needed(const Grid& grid, Processing type, int range);

  // Writes the layer.
  CountTally write(RichnessTiff& out, const std::function<void(double)>& done) const;

 private:
  void dilate_and_count(int c0, int r0, int w, int h);
  void count_mesh_cells(int c0, int r0, int w, int h);

  std::array<double, 6> gt_;
  Processing type_;
  CountArea area_;
  int side_;
  int mesh_cols_;
  int mesh_rows_;
  std::uint32_t serial_ = 0;  // the number of the feature being counted (mesh)
  std::int64_t on_grid_ = 0;
  std::int64_t in_area_ = 0;
  // Window: features reaching each cell's window, a byte a cell, 255 meaning "more than 254".
  std::vector<unsigned char> window_;
  // Mesh: features in each mesh cell, and the last feature counted in it.
  std::vector<std::uint32_t> mesh_;
  std::vector<std::uint32_t> mesh_stamp_;
  // One feature: the cells it touches in its box, the box dilated along rows, and the
  // running sums of the columns.
  std::vector<unsigned char> touched_;
  std::vector<unsigned char> wide_;
  std::vector<std::int32_t> prefix_;
  std::vector<std::int32_t> column_;
};

}  // namespace gis
