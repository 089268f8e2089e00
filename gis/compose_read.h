// The layers of a composite as compose reads them: opened, checked and brought onto one grid
// as prepare does, the boundary rasterised, then read again and again in blocks of rows, each
// pass giving the weighted sum of every cell and whether it is valid.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gis/compose.h"
#include "gis/prepare_cells.h"
#include "gis/prepare_grid.h"

namespace gis {

// What a cell of the composite is (band 2 of NAME.tif).
enum ComposeCell : unsigned char {
  kCellLevel = 1,    // valid, with a level
  kCellOutside = 2,  // outside the boundary
  kCellNoData = 3,   // no data in some layer
  kCellBelow = 4,    // valid, but its sum lies below the first level (equal levels from 0)
};

struct ComposeLayer {
  LayerArg arg;
  GDALDatasetUniquePtr source;
  GDALDatasetUniquePtr resampled;  // onto the first layer's grid, with --align
  LayerScan scan;
  std::array<std::int64_t, 256> items{};  // its values over the valid cells

  GDALRasterBand& band() const { return *(resampled ? resampled : source)->GetRasterBand(1); }
  std::string driver() const { return source->GetDriver() ? source->GetDriverName() : ""; }
};

// One block of rows of a pass.
struct SumBlock {
  int row = 0;
  int rows = 0;
  std::size_t cells = 0;
  const double* sums = nullptr;          // the weighted sums, exactly as core::weighted_sum
  const unsigned char* valid = nullptr;  // 0 valid, 255 not
  const unsigned char* state = nullptr;  // CellState of prepare: kOutside, kData, kNoData
};

class LayerStack {
 public:
  // Opens and checks everything; DataError for what cannot be used, including a grid that
  // the memory cannot hold (checked before any large allocation).
  LayerStack(const ComposeOptions& o, std::vector<std::string>& warnings);

  const Grid& grid() const { return grid_; }
  std::vector<ComposeLayer>& layers() { return layers_; }
  // The boundary's polygons in the grid's CRS (empty without a boundary or for a raster one).
  const std::vector<std::unique_ptr<OGRGeometry>>& boundary() const { return boundary_; }

  // Reads every layer once, block by block, and hands each block's sums to `f`. The first
  // pass also checks the values, marks the no-data cells and counts the items; it refuses
  // values that are not whole numbers 0..254, a run without a valid cell, and weights that
  // make a sum infinite. `progress` goes from `from` to `to`.
  void pass(const std::function<void(const SumBlock&)>& f, const Progress& progress, double from,
            double to);

  std::int64_t valid_cells() const { return valid_; }

 private:
  const ComposeOptions& o_;
  Grid grid_;
  std::vector<ComposeLayer> layers_;
  std::vector<std::unique_ptr<OGRGeometry>> boundary_;
  std::vector<unsigned char> state_;
  bool scanned_ = false;
  std::int64_t valid_ = 0;
};

// The memory the machine offers (or TESSERA_MEMORY_BYTES, a test hook), 0 when unknown.
std::int64_t compose_memory_bytes();

}  // namespace gis
