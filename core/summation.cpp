// The passes of the summation after the first reading, shared among threads block by block.
#include "core/summation.h"

#include <sys/resource.h>

#include <algorithm>

#include "rasterio/formats.h"

namespace core {

using rasterio::FileError;

namespace {

// The bytes of a block of rows, all images together: 4 MiB (each block is mapped and released
// once, and a release interrupts the other threads to flush their address translations), less
// where many threads would hold more than 32 MiB together or a small grid would give a thread
// fewer than four blocks, never less than 1 MiB.
constexpr std::size_t kMinBlockBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxBlockBytes = std::size_t{4} << 20;
constexpr std::size_t kAllBlocksBytes = std::size_t{32} << 20;

// The threads a pass may use: each opens every file again, and together they keep within
// half the files a process may hold open.
int threads_for_files(int threads, int files) {
  rlimit open_files{};
  if (files > 0 && getrlimit(RLIMIT_NOFILE, &open_files) == 0 &&
      open_files.rlim_cur != RLIM_INFINITY) {
    const auto most =
        static_cast<int>(std::min<rlim_t>(open_files.rlim_cur / 2 / files, kMaxThreads));
    threads = std::min(threads, std::max(most, 1));
  }
  return std::max(threads, 1);
}

// What every block of a pass shares: the size, the weights, the blocks, and the row whose
// cells below 255 are the valid cells when no image tells them.
struct Pass {
  int rows = 0;
  int cols = 0;
  std::vector<double> weights;
  // A single raw or BMP image has its 255 cells read as 0 for the validity test: every cell
  // is valid (their sums keep 255 x the weight).
  bool all_valid = false;
  std::vector<unsigned char> zeros;
  int block_rows = 1;
  int blocks = 0;
  int workers = 1;  // the threads of the pass

  Pass(const std::vector<SumInput>& inputs, int threads)
      : rows(inputs[0].image->facts.rows), cols(inputs[0].image->facts.cols) {
    for (const SumInput& in : inputs) weights.push_back(in.weight);
    all_valid =
        inputs.size() == 1 && !rasterio::format_of(inputs[0].image->input.format)->georeferenced;
    if (all_valid) zeros.assign(static_cast<std::size_t>(cols), 0);
    int files = 0;  // images read from their files (the others are kept)
    for (const SumInput& in : inputs) files += in.image->kept ? 0 : 1;
    threads = threads_for_files(threads, files);
    // Four blocks a thread at least, so that a thread the machine slows down holds no others.
    const auto t = static_cast<std::size_t>(threads);
    const std::size_t all = static_cast<std::size_t>(rows) * n() * static_cast<std::size_t>(files);
    const std::size_t bytes =
        std::clamp(std::min(kAllBlocksBytes / t, all / (4 * t)), kMinBlockBytes, kMaxBlockBytes);
    block_rows = ImageRows::rows_per_block(inputs, rows, cols, bytes);
    blocks = (rows + block_rows - 1) / block_rows;
    workers = workers_for(threads, blocks);
  }
  int count() const { return static_cast<int>(weights.size()); }
  std::size_t n() const { return static_cast<std::size_t>(cols); }
};

// One thread's readers and its view of the rows of a block.
struct Reading {
  std::unique_ptr<ImageRows> images;
  std::vector<const unsigned char*> row;  // row i of each image
};

// Loads block b through the thread's own readers (opened at its first block) and runs
// each_row(i, rows of the images, valid row) over its rows.
template <class EachRow>
Status over_block(const std::vector<SumInput>& inputs, const Pass& p, Reading& r, int b,
                  EachRow each_row) {
  if (!r.images) {
    r.images = std::make_unique<ImageRows>(inputs, p.rows, p.cols, p.block_rows);
    r.row.resize(inputs.size());
  }
  if (r.images->status()) return r.images->status();
  const int first = b * p.block_rows;
  const int count = std::min(p.block_rows, p.rows - first);
  if (Status s = r.images->load(first, count)) return s;
  // Nothing made here needs a destructor: a file cut short under its mapping ends the block.
  return r.images->use([&] {
    for (int i = first; i < first + count; ++i) {
      for (std::size_t k = 0; k < inputs.size(); ++k) {
        r.row[k] = r.images->row(static_cast<int>(k), i);
      }
      each_row(i, r.row.data(), p.all_valid ? p.zeros.data() : r.row.back());
    }
  });
}

}  // namespace

// ---- ImageRows ----

struct ImageRows::Source {
  const nrutil::ByteGrid* kept = nullptr;
  std::unique_ptr<rasterio::RowReader> reader;
  nrutil::FileWindow window;         // the block's rows mapped, where the file allows it
  std::vector<unsigned char> bytes;  // else read here
  std::vector<unsigned char*> buffer_rows;
  std::vector<const unsigned char*> rows;  // the block's rows, wherever they are
};

int ImageRows::rows_per_block(const std::vector<SumInput>& inputs, int rows, int cols,
                              std::size_t bytes) {
  int files = 0;
  for (const SumInput& in : inputs) files += in.image->kept ? 0 : 1;
  const std::size_t per_row = static_cast<std::size_t>(cols) * std::max(files, 1);
  return static_cast<int>(std::min<std::size_t>(std::max<std::size_t>(1, bytes / per_row),
                                                static_cast<std::size_t>(rows)));
}

ImageRows::ImageRows(const std::vector<SumInput>& inputs, int rows, int cols, int block_rows)
    : inputs_(inputs), cols_(cols) {
  block_rows_ = block_rows > 0 ? std::min(block_rows, rows)
                               : rows_per_block(inputs, rows, cols, kMinBlockBytes);
  sources_.resize(inputs.size());
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    const ImageRead& im = *inputs[k].image;
    Source& s = sources_[k];
    if (im.kept) {
      s.kept = &im.kept;
      continue;
    }
    Outcome<std::unique_ptr<rasterio::RowReader>> reader = reopen(im);
    if (!reader.ok()) {
      status_ = reader.failure();
      return;
    }
    s.reader = std::move(reader.value());
    s.rows.resize(static_cast<std::size_t>(block_rows_));
  }
}

ImageRows::~ImageRows() = default;

Status ImageRows::load(int first, int count) {
  first_ = first;
  for (std::size_t k = 0; k < sources_.size(); ++k) {
    Source& s = sources_[k];
    if (s.kept != nullptr) continue;
    // Mapped where the file allows it: the rows are read where they lie in the page cache,
    // not copied.
    if (s.reader->map_rows_at(first, s.rows.data(), count, s.window)) continue;
    s.window.reset();
    if (s.bytes.empty()) {
      s.bytes.assign(static_cast<std::size_t>(cols_) * block_rows_, 0);
      s.buffer_rows.resize(static_cast<std::size_t>(block_rows_));
      for (int i = 0; i < block_rows_; ++i) {
        s.buffer_rows[static_cast<std::size_t>(i)] =
            s.bytes.data() + static_cast<std::size_t>(i) * cols_;
      }
    }
    const FileError e = s.reader->read_rows_at(first, s.buffer_rows.data(), count);
    if (e != FileError::None) return Failure::unreadable(inputs_[k].image->file, e);
    std::copy(s.buffer_rows.begin(), s.buffer_rows.begin() + count, s.rows.begin());
  }
  return std::nullopt;
}

const unsigned char* ImageRows::row(int k, int i) const {
  const Source& s = sources_[static_cast<std::size_t>(k)];
  if (s.kept != nullptr) return (*s.kept)[i];
  return s.rows[static_cast<std::size_t>(i - first_)];
}

Status ImageRows::use(const std::function<void()>& work) const {
  const void* fault = nullptr;
  if (nrutil::read_mapped(work, &fault)) return std::nullopt;
  // A mapped file cut short since its opening: it is no longer the file the run read first.
  for (std::size_t k = 0; k < sources_.size(); ++k) {
    if (sources_[k].window.holds(fault)) {
      return Failure::of(Failure::Kind::Changed, inputs_[k].image->file);
    }
  }
  return Failure::of(Failure::Kind::Changed, inputs_.back().image->file);
}

// ---- The passes ----

Outcome<SumScan> scan_images(const std::vector<SumInput>& inputs, int threads) {
  const Pass p(inputs, threads);
  const int count = p.count();
  // Sums that cannot leave the finite numbers need no check.
  const bool check_finite = !sums_always_finite(p.weights.data(), count);
  // The images whose first reading was left to this pass.
  std::vector<int> deferred;
  for (int k = 0; k < count; ++k) {
    if (!inputs[static_cast<std::size_t>(k)].image->counted) deferred.push_back(k);
  }
  nrutil::BitGrid* zeros = !inputs[0].image->counted && !inputs[0].image->zeros.empty()
                               ? &inputs[0].image->zeros
                               : nullptr;
  struct alignas(64) Found {
    Reading reading;
    SumChecks checks;
    std::vector<std::int64_t> nodata;
    std::vector<ValueCounter> items;
  };
  const int workers = p.workers;
  std::vector<Found> found(static_cast<std::size_t>(workers));
  for (Found& f : found) {
    f.nodata.assign(static_cast<std::size_t>(count - 1), 0);
    f.items.resize(deferred.size());
  }
  const std::size_t n = p.n();
  const Status s = for_each_block(workers, p.blocks, [&](int worker, int b) {
    Found& f = found[static_cast<std::size_t>(worker)];
    return over_block(inputs, p, f.reading, b,
                      [&](int i, const unsigned char* const* v, const unsigned char* valid) {
                        check_sums(v, p.weights.data(), count, n, valid, check_finite, f.checks);
                        for (int k = 0; k + 1 < count; ++k) {
                          f.nodata[static_cast<std::size_t>(k)] +=
                              count_nodata_in_valid(v[k], valid, n);
                        }
                        for (std::size_t d = 0; d < deferred.size(); ++d) {
                          f.items[d].add(v[deferred[d]], n);
                        }
                        if (zeros != nullptr) zeros->mark_row(i, v[0], 0);
                      });
  });
  if (s) return *s;

  // The threads' findings, gathered in thread order.
  SumScan out;
  out.nodata_in_valid.assign(static_cast<std::size_t>(count - 1), 0);
  for (Found& f : found) {
    if (f.checks.max_sum > out.checks.max_sum) out.checks.max_sum = f.checks.max_sum;
    out.checks.finite = out.checks.finite && f.checks.finite;
    for (std::size_t k = 0; k < out.nodata_in_valid.size(); ++k) {
      out.nodata_in_valid[k] += f.nodata[k];
    }
  }
  for (std::size_t d = 0; d < deferred.size(); ++d) {
    ImageRead& im = *inputs[static_cast<std::size_t>(deferred[d])].image;
    im.items = {};
    for (Found& f : found) {
      for (int v = 0; v < 256; ++v) im.items[v == 255 ? 254 : v] += f.items[d].count(v);
    }
    im.counted = true;
  }
  return out;
}

Outcome<Summation> level_images(const std::vector<SumInput>& inputs, const SumScan& scan,
                                int level_count, int threads) {
  // Sums beyond the range of doubles would give no sound levels.
  if (!scan.checks.finite) return Failure::of(Failure::Kind::NotFinite, inputs.back().image->file);
  const Pass p(inputs, threads);
  Summation out;
  out.nodata_in_valid = scan.nodata_in_valid;
  out.levels.build(scan.checks.max_sum, level_count);
  // The level grid: the one grid of the run's size, first touched by the threads that fill it.
  out.grid = LevelGrid::make(p.cols, p.rows);
  if (!out.grid) return Failure::unreadable(inputs.back().image->file, FileError::OutOfMemory);
  const int workers = p.workers;
  std::vector<Reading> readings(static_cast<std::size_t>(workers));
  const Status s = for_each_block(workers, p.blocks, [&](int worker, int b) {
    return over_block(inputs, p, readings[static_cast<std::size_t>(worker)], b,
                      [&](int i, const unsigned char* const* v, const unsigned char* valid) {
                        level_sums(v, p.weights.data(), p.count(), p.n(), valid, out.levels,
                                   out.grid[i]);
                      });
  });
  if (s) return *s;
  return out;
}

Outcome<Summation> sum_and_level(const std::vector<SumInput>& inputs, int level_count,
                                 int threads) {
  Outcome<SumScan> scan = scan_images(inputs, threads);
  if (!scan.ok()) return scan.failure();
  return level_images(inputs, scan.value(), level_count, threads);
}

}  // namespace core
