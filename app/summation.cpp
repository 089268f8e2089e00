// Weighted summation of the images and the cutting of the range into equal levels, in three
// passes over the images, none of which holds a grid of sums:
// 1. each image in turn, in image order: its descriptor question if any, its checks and its
//    item statistics (lecture);
// 2. all images together, row block by row block: the sums and the largest valid sum;
// 3. the sums again, with the same operations in the same order (so the same doubles), and
//    the level of every cell written into the level grid.
#include <algorithm>
#include <vector>

#include "app/reading.h"
#include "app/stages.h"
#include "core/cell_loops.h"
#include "core/levels.h"
#include "rasterio/formats.h"

namespace app {

namespace {

// The sums of the rows of one block, image after image, with the row of the valid cells.
class RowSums {
 public:
  explicit RowSums(Run& r)
      : r_(r),
        sum_(static_cast<std::size_t>(r.nb_col)),
        rows_(static_cast<std::size_t>(r.num_imag)),
        weights_(static_cast<std::size_t>(r.num_imag)) {
    for (int k = 1; k <= r.num_imag; ++k) {
      weights_[static_cast<std::size_t>(k - 1)] = r.capas[static_cast<std::size_t>(k)].weight;
    }
    // A cell is valid when the last image holds less than 255 there. A single raw or BMP
    // image has its 255 cells read as 0 for this test: every cell is valid (their sums
    // keep 255 x the weight).
    const int first = r.capas[1].format;
    all_valid_ = r.num_imag == 1 && !rasterio::format_of(first)->georeferenced;
    if (all_valid_) zeros_.assign(static_cast<std::size_t>(r.nb_col), 0);
  }

  // The sums of row i of the block `rows` has loaded.
  void compute(const ImageRows& rows, int i) {
    for (int k = 1; k <= r_.num_imag; ++k) rows_[static_cast<std::size_t>(k - 1)] = rows.row(k, i);
    weighted_sum(rows_.data(), weights_.data(), r_.num_imag, sum_.size(), sum_.data());
  }
  const double* sum() const { return sum_.data(); }
  // The row whose cells below 255 are the valid cells of the row computed last.
  const unsigned char* valid() const {
    return all_valid_ ? zeros_.data() : rows_[static_cast<std::size_t>(r_.num_imag - 1)];
  }
  // Row of image k of the row computed last.
  const unsigned char* image(int k) const { return rows_[static_cast<std::size_t>(k - 1)]; }

 private:
  Run& r_;
  std::vector<double> sum_;
  std::vector<const unsigned char*> rows_;
  std::vector<double> weights_;
  bool all_valid_ = false;
  std::vector<unsigned char> zeros_;
};

// Runs `each_row(i, sums)` over every row, the images read together block by block.
template <class EachRow>
void over_rows(Run& r, EachRow each_row) {
  ImageRows rows(r);
  RowSums sums(r);
  for (int first = 0; first < r.nb_lig; first += rows.block_rows()) {
    const int count = std::min(rows.block_rows(), r.nb_lig - first);
    rows.load(first, count);
    for (int i = first; i < first + count; ++i) {
      sums.compute(rows, i);
      each_row(i, sums);
    }
  }
}

// Tells on standard error, image by image, where no data of an image before the last enters
// a sum that receives a level.
void note_nodata_in_sums(Run& r) {
  for (int k = 1; k < r.num_imag; ++k) {
    const imagen& c = r.capas[static_cast<std::size_t>(k)];
    if (c.nodata_in_valid > 0) {
      r.note(msg::kNodataInSum, c.file.c_str(), static_cast<long long>(c.nodata_in_valid));
    }
  }
}

}  // namespace

void summation(Run& r) {
  r.UTM_coord = 0;
  for (int k = 1; k <= r.num_imag; ++k) lecture(r, k);
  const auto cols = static_cast<std::size_t>(r.nb_col);

  // The largest sum over the valid cells, from 0 up; and, for each image before the last,
  // the cells where it holds no data (255) in a valid cell. Sums beyond the range of doubles
  // would give no sound levels: the run stops before any result is written.
  double max_sum = 0.0;
  bool finite = true;
  for (int k = 1; k <= r.num_imag; ++k) r.capas[static_cast<std::size_t>(k)].nodata_in_valid = 0;
  over_rows(r, [&](int, const RowSums& s) {
    max_sum = max_valid_sum(s.valid(), s.sum(), cols, max_sum);
    finite = valid_sums_finite(s.valid(), s.sum(), cols) && finite;
    for (int k = 1; k < r.num_imag; ++k) {
      r.capas[static_cast<std::size_t>(k)].nodata_in_valid +=
          count_nodata_in_valid(s.image(k), s.valid(), cols);
    }
  });
  if (!finite) r.fail(r.pick(msg::kSumNotFinite));
  note_nodata_in_sums(r);
  r.levels.build(max_sum, r.num_segm);

  // The level grid: the one grid of the run's size.
  r.tab_out = nrutil::ByteGrid::make(r.nb_col, r.nb_lig);
  if (!r.tab_out) {
    r.fail_file(msg::kCannotRead, r.capas[static_cast<std::size_t>(r.num_imag)].file,
                r.pick(msg::kWhyOutOfMemory));
  }
  over_rows(
      r, [&](int i, const RowSums& s) { r.levels.assign(s.valid(), s.sum(), cols, r.tab_out[i]); });
}

}  // namespace app
