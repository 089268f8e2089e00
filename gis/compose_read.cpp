// Reading the layers of a composite in blocks of rows and summing them.
#include "gis/compose_read.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <new>

#include "core/cell_loops.h"
#include "gis/prepare_boundary.h"
#include "gis/prepare_read.h"

namespace gis {

namespace {

constexpr std::int64_t kMiB = std::int64_t{1} << 20;

std::string mib(std::int64_t bytes) {
  return std::to_string((bytes + kMiB - 1) / kMiB) + " MiB";
}

}  // namespace

std::int64_t compose_memory_bytes() {
  if (const char* v = std::getenv("TESSERA_MEMORY_BYTES"); v != nullptr && *v != '\0') {
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(v, &end, 10);
    if (*end == '\0' && n > 0 && errno == 0) return n;
  }
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  return pages > 0 && page > 0 ? std::int64_t{pages} * page : 0;
}

LayerStack::LayerStack(const ComposeOptions& o, std::vector<std::string>& warnings) : o_(o) {
  layers_.resize(o.layers.size());
  for (std::size_t k = 0; k < layers_.size(); ++k) {
    layers_[k].arg = o.layers[k];
    layers_[k].source = open_raster(o.layers[k].path);
  }
  const std::string& grid_path = layers_[0].arg.path;
  grid_ = grid_of(*layers_[0].source);
  // The warning about units other than the metre concerns tessera_summary's report only:
  // compose gives areas in the CRS's units.
  check_run_grid(grid_, grid_path);
  for (std::size_t k = 1; k < layers_.size(); ++k) {
    layers_[k].resampled =
        bring_onto(*layers_[k].source, layers_[k].arg.path, grid_, grid_path, o.align);
  }

  // The memory of a run: a byte a cell for the state of each cell, the block buffers of the
  // layers (a double, a byte of data flag and a byte of value a cell of a block of about a
  // million cells each), the sums and levels of a block, GDAL's block cache and the quantile
  // search; checked before anything of the grid's size is allocated.
  const auto cells = static_cast<std::int64_t>(grid_.cells());
  const std::int64_t block = std::int64_t{1} << 20;
  const std::int64_t need = cells + static_cast<std::int64_t>(layers_.size()) * block * 10 +
                            block * 12 + 64 * kMiB + 80 * kMiB;
  const std::int64_t memory = compose_memory_bytes();
  if (memory > 0 && need > memory) {
    throw DataError(grid_path + ": its grid of " + std::to_string(grid_.cols) + " x " +
                    std::to_string(grid_.rows) + " cells needs about " + mib(need) +
                    " to compose, more than the memory available (" + mib(memory) + ")");
  }
  try {
    state_.reserve(grid_.cells());
  } catch (const std::bad_alloc&) {
    throw DataError(grid_path + ": its grid of " + std::to_string(grid_.cols) + " x " +
                    std::to_string(grid_.rows) + " cells is larger than the memory available");
  }
  if (o.boundary.empty()) {
    state_.assign(grid_.cells(), kData);
  } else {
    boundary_cells(o.boundary, grid_, grid_path, o.align, state_, warnings);
    if (std::find(state_.begin(), state_.end(), kData) == state_.end()) {
      throw DataError(o.boundary +
                      ": no cell centre of the layers' grid lies inside the boundary: check "
                      "that it covers the layers (" +
                      srs_label(grid_.srs) + ")");
    }
    std::vector<std::string> ignored;  // the same notes as boundary_cells gave
    boundary_ = boundary_polygons(o.boundary, grid_, ignored);
  }
}

void LayerStack::pass(const std::function<void(const SumBlock&)>& f, const Progress& progress,
                      double from, double to) {
  const int cols = grid_.cols;
  const std::size_t count = layers_.size();
  std::vector<std::unique_ptr<BandReader>> readers;
  int block_rows = std::numeric_limits<int>::max();
  for (ComposeLayer& l : layers_) {
    readers.push_back(std::make_unique<BandReader>(l.band(), l.arg.path));
    block_rows = std::min(block_rows, readers.back()->block_rows());
  }
  const std::size_t block_cells = static_cast<std::size_t>(block_rows) * cols;
  std::vector<std::vector<unsigned char>> bytes(count, std::vector<unsigned char>(block_cells));
  std::vector<const unsigned char*> rows(count);
  std::vector<double> weights(count);
  for (std::size_t k = 0; k < count; ++k) {
    rows[k] = bytes[k].data();
    weights[k] = layers_[k].arg.weight;
    if (!scanned_) {
      layers_[k].scan = LayerScan{};
      layers_[k].scan.min = std::numeric_limits<double>::infinity();
      layers_[k].scan.max = -layers_[k].scan.min;
      layers_[k].items.fill(0);
    }
  }
  std::vector<double> sums(block_cells);
  std::vector<unsigned char> valid(block_cells);
  std::int64_t valid_total = 0;
  bool finite = true;

  for (int row = 0; row < grid_.rows; row += block_rows) {
    const int n_rows = std::min(block_rows, grid_.rows - row);
    const std::size_t n = static_cast<std::size_t>(n_rows) * cols;
    unsigned char* st = state_.data() + static_cast<std::size_t>(row) * cols;
    for (std::size_t k = 0; k < count; ++k) {
      readers[k]->read(row, n_rows);
      if (!scanned_) {
        scan_block(readers[k]->values(), readers[k]->has_data(), n, st, layers_[k].scan,
                   static_cast<std::int64_t>(row) * cols, cols);
      }
    }
    for (std::size_t i = 0; i < n; ++i) valid[i] = st[i] == kData ? 0 : 255;
    for (std::size_t k = 0; k < count; ++k) {
      const double* v = readers[k]->values();
      unsigned char* b = bytes[k].data();
      // The first pass refuses values other than whole numbers 0..254; the range test keeps
      // a cast from being undefined before that, or if a file changes between passes.
      for (std::size_t i = 0; i < n; ++i) {
        b[i] = valid[i] == 0 && v[i] >= 0.0 && v[i] <= kMaxDataValue
                   ? static_cast<unsigned char>(v[i])
                   : 0;
      }
    }
    core::weighted_sum(rows.data(), weights.data(), static_cast<int>(count), n, sums.data());
    if (!scanned_) {
      for (std::size_t i = 0; i < n; ++i) valid_total += valid[i] == 0;
      finite = finite && core::valid_sums_finite(valid.data(), sums.data(), n);
      for (std::size_t k = 0; k < count; ++k) {
        std::array<std::int64_t, 256>& items = layers_[k].items;
        const unsigned char* b = bytes[k].data();
        for (std::size_t i = 0; i < n; ++i) items[b[i]] += valid[i] == 0;
      }
    }
    f(SumBlock{row, n_rows, n, sums.data(), valid.data(), st});
    if (progress) {
      progress(from + (to - from) * static_cast<double>(row + n_rows) / grid_.rows);
    }
  }

  if (scanned_) return;
  scanned_ = true;
  valid_ = valid_total;
  for (ComposeLayer& l : layers_) {
    LayerScan& s = l.scan;
    if (s.data_cells == 0) s.min = s.max = 0.0;
    if (s.bad_cells > 0) {
      // 255 and -9999 are the usual no-data values of a band that does not declare one.
      const double undeclared = s.max == 255.0 ? 255.0 : s.min == -9999.0 ? -9999.0 : 0;
      std::string hint;
      if (undeclared != 0) {
        const std::string v = exact_decimal(undeclared);
        hint = "; if " + v + " marks no data, declare it: gdal_edit.py -a_nodata " + v + " " +
               l.arg.path;
      }
      throw DataError(l.arg.path + ": " + std::to_string(s.bad_cells) + " of its " +
                      std::to_string(s.data_cells) +
                      " data cells are not whole numbers from 0 to 254 (its values range from " +
                      exact_decimal(s.min) + " to " + exact_decimal(s.max) +
                      "): reclassify it into whole classes 0..254 first, for example with "
                      "gdal_calc.py or the QGIS raster calculator, keeping its no-data value" +
                      hint);
    }
  }
  if (valid_ == 0) {
    throw DataError(o_.boundary.empty()
                        ? layers_[0].arg.path +
                              ": no cell holds data in every layer: the layers' data do not "
                              "overlap"
                        : o_.boundary +
                              ": the boundary leaves no cell that holds data in every layer: "
                              "check that it covers the layers' data");
  }
  if (!finite) {
    throw DataError(layers_.back().arg.path +
                    ": the weights are too large for the values: a weighted sum is not a "
                    "finite number; use smaller weights");
  }
}

}  // namespace gis
