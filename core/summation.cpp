// The passes of the summation after the first reading.
#include "core/summation.h"

#include <algorithm>

#include "core/cell_loops.h"
#include "nrutil/hostpath.h"
#include "rasterio/formats.h"

namespace core {

using rasterio::FileError;

namespace {

// Bytes of the row buffers of one pass, all images together.
constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

// The sums of the rows of one block, image after image, with the row of the valid cells.
class RowSums {
 public:
  RowSums(const std::vector<SumInput>& inputs, int cols)
      : sum_(static_cast<std::size_t>(cols)), rows_(inputs.size()), weights_(inputs.size()) {
    for (std::size_t k = 0; k < inputs.size(); ++k) weights_[k] = inputs[k].weight;
    // A single raw or BMP image has its 255 cells read as 0 for the validity test: every
    // cell is valid (their sums keep 255 x the weight).
    const int first = inputs[0].image->input.format;
    all_valid_ = inputs.size() == 1 && !rasterio::format_of(first)->georeferenced;
    if (all_valid_) zeros_.assign(static_cast<std::size_t>(cols), 0);
  }

  // The sums of row i of the block `rows` has loaded.
  void compute(const ImageRows& rows, int i) {
    for (std::size_t k = 0; k < rows_.size(); ++k) rows_[k] = rows.row(static_cast<int>(k), i);
    weighted_sum(rows_.data(), weights_.data(), static_cast<int>(rows_.size()), sum_.size(),
                 sum_.data());
  }
  const double* sum() const { return sum_.data(); }
  // The row whose cells below 255 are the valid cells of the row computed last.
  const unsigned char* valid() const { return all_valid_ ? zeros_.data() : rows_.back(); }
  // Row of image k of the row computed last.
  const unsigned char* image(std::size_t k) const { return rows_[k]; }

 private:
  std::vector<double> sum_;
  std::vector<const unsigned char*> rows_;
  std::vector<double> weights_;
  bool all_valid_ = false;
  std::vector<unsigned char> zeros_;
};

// Runs `each_row(i, sums)` over every row, the images read together block by block.
template <class EachRow>
Status over_rows(const std::vector<SumInput>& inputs, int rows, int cols, EachRow each_row) {
  ImageRows block(inputs, rows, cols);
  if (block.status()) return block.status();
  RowSums sums(inputs, cols);
  for (int first = 0; first < rows; first += block.block_rows()) {
    const int count = std::min(block.block_rows(), rows - first);
    if (Status s = block.load(first, count)) return s;
    for (int i = first; i < first + count; ++i) {
      sums.compute(block, i);
      each_row(i, sums);
    }
  }
  return std::nullopt;
}

}  // namespace

// ---- ImageRows ----

struct ImageRows::Source {
  const nrutil::ByteGrid* kept = nullptr;
  std::unique_ptr<rasterio::RowReader> reader;
  std::vector<unsigned char> bytes;
  std::vector<unsigned char*> rows;
};

ImageRows::ImageRows(const std::vector<SumInput>& inputs, int rows, int cols) : inputs_(inputs) {
  int files = 0;
  for (const SumInput& in : inputs) files += in.image->kept ? 0 : 1;
  const std::size_t per_row = static_cast<std::size_t>(cols) * std::max(files, 1);
  block_rows_ = static_cast<int>(std::min<std::size_t>(
      std::max<std::size_t>(1, kBlockBytes / per_row), static_cast<std::size_t>(rows)));
  sources_.resize(inputs.size());
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    const ImageRead& im = *inputs[k].image;
    Source& s = sources_[k];
    if (im.kept) {
      s.kept = &im.kept;
      continue;
    }
    s.reader = rasterio::format_of(im.input.format)->reader();
    rasterio::GridInfo size;
    size.nb_col = cols;
    size.nb_lig = rows;
    // A file that cannot be opened again, or opens as another file, changed since the first
    // reading: its rows would not be those the first reading counted.
    if (s.reader->open(nrutil::host_path(im.file), size) != FileError::None ||
        !(s.reader->identity() == im.identity) || s.reader->info().nb_col != cols ||
        s.reader->info().nb_lig != rows) {
      status_ = Failure::of(Failure::Kind::Changed, im.file);
      return;
    }
    s.bytes.assign(static_cast<std::size_t>(cols) * block_rows_, 0);
    s.rows.resize(static_cast<std::size_t>(block_rows_));
    for (int i = 0; i < block_rows_; ++i) {
      s.rows[static_cast<std::size_t>(i)] = s.bytes.data() + static_cast<std::size_t>(i) * cols;
    }
  }
}

ImageRows::~ImageRows() = default;

Status ImageRows::load(int first, int count) {
  first_ = first;
  for (std::size_t k = 0; k < sources_.size(); ++k) {
    Source& s = sources_[k];
    if (s.kept != nullptr) continue;
    const FileError e = s.reader->read_rows(s.rows.data(), count);
    if (e != FileError::None) return Failure::unreadable(inputs_[k].image->file, e);
  }
  return std::nullopt;
}

const unsigned char* ImageRows::row(int k, int i) const {
  const Source& s = sources_[static_cast<std::size_t>(k)];
  if (s.kept != nullptr) return (*s.kept)[i];
  return s.rows[static_cast<std::size_t>(i - first_)];
}

// ---- The summation ----

Outcome<Summation> sum_and_level(const std::vector<SumInput>& inputs, int level_count) {
  const int rows = inputs[0].image->facts.rows;
  const int cols = inputs[0].image->facts.cols;
  const auto n = static_cast<std::size_t>(cols);
  Summation out;
  out.nodata_in_valid.assign(inputs.size() - 1, 0);

  // The largest sum over the valid cells, from 0 up; and, for each image before the last,
  // the cells where it holds no data (255) in a valid cell. Sums beyond the range of doubles
  // would give no sound levels.
  double max_sum = 0.0;
  bool finite = true;
  if (Status s = over_rows(inputs, rows, cols, [&](int, const RowSums& r) {
        max_sum = max_valid_sum(r.valid(), r.sum(), n, max_sum);
        finite = valid_sums_finite(r.valid(), r.sum(), n) && finite;
        for (std::size_t k = 0; k + 1 < inputs.size(); ++k) {
          out.nodata_in_valid[k] += count_nodata_in_valid(r.image(k), r.valid(), n);
        }
      })) {
    return *s;
  }
  if (!finite) return Failure::of(Failure::Kind::NotFinite, inputs.back().image->file);
  out.levels.build(max_sum, level_count);

  // The level grid: the one grid of the run's size.
  out.grid = LevelGrid::make(cols, rows);
  if (!out.grid) return Failure::unreadable(inputs.back().image->file, FileError::OutOfMemory);
  if (Status s = over_rows(inputs, rows, cols, [&](int i, const RowSums& r) {
        out.levels.assign(r.valid(), r.sum(), n, out.grid[i]);
      })) {
    return *s;
  }
  return out;
}

}  // namespace core
