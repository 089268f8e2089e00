// The layers of a composite as compose reads them: opened, checked and brought onto one grid
// as prepare does, then read in blocks of rows, the boundary rasterised block by block as
// they come. The first reading
// checks the values, finds the no-data cells and gives every valid cell the number of its
// weighted sum among the distinct sums met; the levels of the cells then come from those
// numbers without reading the layers again. Layers whose valid cells hold more distinct sums
// than the numbers can tell apart are read again for the levels.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/levels.h"
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

  // The same file opened again (and resampled), so that two threads can read it at once.
  GDALDatasetUniquePtr source2;
  GDALDatasetUniquePtr resampled2;

  // Band 1 as read, through the first opening (0) or the second (1).
  GDALRasterBand& band(int opening = 0) const {
    const GDALDatasetUniquePtr& ds =
        opening == 0 ? (resampled ? resampled : source) : (resampled2 ? resampled2 : source2);
    return *ds->GetRasterBand(1);
  }
  std::string driver() const { return source->GetDriver() ? source->GetDriverName() : ""; }
};

// Cells of a reading, in order: part of a block of rows.
struct SumBlock {
  int row = 0;
  int rows = 0;
  std::size_t cells = 0;
  const double* sums = nullptr;          // the weighted sums, exactly as core::weighted_sum
  const unsigned char* valid = nullptr;  // 0 valid, 255 not
};

// One block of rows of the composite: the level of each cell (0 for none) and its ComposeCell.
struct LevelBlock {
  int row = 0;
  int rows = 0;
  std::size_t cells = 0;
  const unsigned char* level = nullptr;
  const unsigned char* state = nullptr;
};

// The cells of each level (0: none) and of each ComposeCell.
struct LevelCounts {
  std::array<std::int64_t, 256> levels{};
  std::array<std::int64_t, 5> states{};
};

// The distinct valid sums of the first reading, numbered in the order met, with the number
// of cells that hold each.
class DistinctSums {
  struct Slot {
    std::uint64_t bits = 0;
    std::int32_t number = -1;
  };

 public:
  // The most sums told apart: a cell holds its sum's number in 16 bits, with three values
  // of the high byte kept for the cell states of prepare.
  static constexpr int kMost = (256 - 3) * 256;
  DistinctSums();
  // Numbers at most `most` sums (at most kMost).
  void limit(int most) { limit_ = most; }
  // Forgets every sum and numbers no more.
  void clear();
  // The number of a sum, given the bits of the double; -1 when it is new and the table is
  // full.
  int number(std::uint64_t bits) {
    std::size_t at = (bits * 0x9E3779B97F4A7C15ULL) >> shift_;
    for (;; at = (at + 1) & mask_) {
      Slot& s = slots_[at];
      if (s.number < 0) return add(s, bits);
      if (s.bits == bits) return s.number;
    }
  }
  // The table as it stands, to look sums up in a loop that stores into cells without the
  // table's members being loaded again after each store; valid until number() adds a sum.
  class Lookup {
   public:
    // The number of a sum met already, or -1.
    int find(std::uint64_t bits) const {
      for (std::size_t at = (bits * 0x9E3779B97F4A7C15ULL) >> shift_;; at = (at + 1) & mask_) {
        if (slots_[at].number < 0) return -1;
        if (slots_[at].bits == bits) return slots_[at].number;
      }
    }

   private:
    friend class DistinctSums;
    const Slot* slots_ = nullptr;
    std::size_t mask_ = 0;
    int shift_ = 0;
  };
  Lookup lookup() const {
    Lookup l;
    l.slots_ = slots_.data();
    l.mask_ = mask_;
    l.shift_ = shift_;
    return l;
  }
  std::size_t size() const { return sums_.size(); }
  double sum(std::size_t k) const { return sums_[k]; }
  std::vector<std::int64_t>& counts() { return counts_; }
  // Every sum with its count.
  std::vector<std::pair<double, std::int64_t>> counted() const;

 private:
  int add(Slot& s, std::uint64_t bits);
  std::vector<Slot> slots_;
  int limit_ = kMost;
  std::size_t mask_ = 0;
  int shift_ = 0;
  std::vector<double> sums_;
  std::vector<std::int64_t> counts_;
};

// The columns [x0, x0 + width) of a block of rows, or of a row.
struct Window {
  int x0 = 0;
  int width = 0;
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

  // The first reading, block by block: checks the values, marks the no-data cells, counts
  // the items and the valid cells, finds the range of the valid sums and numbers them. It
  // refuses a boundary that holds no cell centre, values that are not whole numbers 0..254,
  // a run without a valid cell, and weights that make a sum infinite. `progress` goes from
  // `from` to `to`.
  void first_pass(const Progress& progress, double from, double to);

  std::int64_t valid_cells() const { return valid_; }
  double min_sum() const { return min_; }
  double max_sum() const { return max_; }
  // After first_pass: whether every valid cell holds the number of its sum, and then the
  // sums with their counts.
  bool numbered() const { return numbered_; }
  std::vector<std::pair<double, std::int64_t>> counted_sums() const { return sums_.counted(); }

  // Reads every layer again and hands each block's sums to `f` (the quantile search of
  // sums that are not numbered).
  void pass(const std::function<void(const SumBlock&)>& f, const Progress& progress, double from,
            double to);

  // The level and state of every cell, block by block from the top, into `f`: from the
  // numbers of the sums, or by reading the layers again. Returns the cells of each.
  LevelCounts level_pass(const core::Levels& levels,
                         const std::function<void(const LevelBlock&)>& f, const Progress& progress,
                         double from, double to);

 private:
  struct Reading;
  // The states of rows [row, row + rows) before their reading: every cell kData, or inside
  // the boundary kData and outside kOutside (rasterised here, unless the whole grid was
  // already); then the rows' windows and the block's. Returns the cells outside. Called by
  // the reading threads, each for its own blocks.
  std::int64_t prepare_rows(int row, int rows);
  // The numbers of the cells up to `cells` are stored in two bytes from now on.
  void widen(std::size_t cells);
  // The numbers given so far are dropped: the cells up to `cells` become kData again.
  void drop_numbers(std::size_t cells);

  const ComposeOptions& o_;
  Grid grid_;
  std::vector<ComposeLayer> layers_;
  std::vector<std::unique_ptr<OGRGeometry>> boundary_;
  int block_rows_ = 1;
  // The columns of each block of rows that hold its cells inside the boundary (the others
  // are not read), and those of each row (the others are not looked at).
  std::vector<Window> windows_;
  std::vector<Window> row_windows_;
  // The state of each cell: kOutside, kNoData, or for a valid cell kData, or, while the
  // sums are numbered, 3 + its sum's number while there are at most kNarrow numbers, then
  // (wide_) 3 + the high byte of the number, whose low byte is in low_ (written, and its
  // memory touched, only then).
  static constexpr int kNarrow = 256 - 3;
  std::unique_ptr<unsigned char[]> state_;
  bool state_ready_ = false;  // made before the reading (a raster boundary)
  std::unique_ptr<unsigned char[]> low_;
  DistinctSums sums_;
  bool numbered_ = false;
  bool wide_ = false;
  bool finite_ = true;
  std::int64_t outside_ = 0;  // cells outside the boundary
  std::int64_t valid_ = 0;
  double min_ = 0.0, max_ = 0.0;
};

}  // namespace gis
