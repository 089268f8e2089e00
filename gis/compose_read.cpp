// Reading the layers of a composite in blocks of rows, summing them and numbering the sums.
#include "gis/compose_read.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <future>
#include <limits>
#include <new>

#include "core/cell_loops.h"
#include "gis/prepare_boundary.h"
#include "gis/prepare_read.h"
#include "nrutil/block.h"

namespace gis {

namespace {

constexpr std::int64_t kMiB = std::int64_t{1} << 20;
// Cells of a block of rows: whole rows of the output's 256 x 256 tiles where they fit.
constexpr std::int64_t kBlockCells = std::int64_t{1} << 21;
constexpr int kTileRows = 256;
// Cells summed at a time within a block, so that their sums stay in the first-level cache.
constexpr std::size_t kChunk = 4096;

std::string mib(std::int64_t bytes) {
  return std::to_string((bytes + kMiB - 1) / kMiB) + " MiB";
}

// The most distinct sums numbered: DistinctSums::kMost, or fewer with TESSERA_DISTINCT_SUMS
// (a test hook that makes the layers be read again for the levels).
int most_numbers() {
  if (const char* v = std::getenv("TESSERA_DISTINCT_SUMS"); v != nullptr && *v != '\0') {
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (*end == '\0' && n >= 0 && n < DistinctSums::kMost) return static_cast<int>(n);
  }
  return DistinctSums::kMost;
}

}  // namespace

DistinctSums::DistinctSums() : slots_(1024), mask_(1023), shift_(64 - 10) {}

int DistinctSums::add(Slot& s, std::uint64_t bits) {
  if (sums_.size() >= static_cast<std::size_t>(limit_)) return -1;
  const auto number = static_cast<std::int32_t>(sums_.size());
  s.bits = bits;
  s.number = number;
  sums_.push_back(std::bit_cast<double>(bits));
  counts_.push_back(0);
  if (sums_.size() * 2 > slots_.size()) {
    // Half full: twice the slots, every sum placed again.
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    --shift_;
    for (const Slot& o : old) {
      if (o.number < 0) continue;
      std::size_t at = (o.bits * 0x9E3779B97F4A7C15ULL) >> shift_;
      while (slots_[at].number >= 0) at = (at + 1) & mask_;
      slots_[at] = o;
    }
  }
  return number;
}

void DistinctSums::clear() {
  std::vector<Slot>().swap(slots_);
  std::vector<double>().swap(sums_);
  std::vector<std::int64_t>().swap(counts_);
  limit_ = 0;
}

std::vector<std::pair<double, std::int64_t>> DistinctSums::counted() const {
  std::vector<std::pair<double, std::int64_t>> out;
  out.reserve(sums_.size());
  for (std::size_t k = 0; k < sums_.size(); ++k) out.emplace_back(sums_[k], counts_[k]);
  return out;
}

// The readers of the layers and the bytes of the blocks of rows. While the caller works on
// one block, kThreads threads read the next ones, each into its own buffers and through its
// own opening of the layers (ComposeLayer::band), block after block in turn, so that the
// files are decoded on every core. With `state` (the grid's), the threads also check each
// layer's values and mark its no-data cells in `state`, and count its values over the cells
// that hold data in every layer; merge() then adds what they found into the layers.
class LayerStack::Reading {
 public:
  static constexpr int kThreads = 2;

  // Reads the layers of `stack`; `checking`: the first reading, which also makes the cells'
  // states (LayerStack::prepare_rows) and checks the values.
  Reading(LayerStack& stack, bool checking)
      : stack_(stack),
        layers_(stack.layers_),
        block_rows_(stack.block_rows_),
        cols_(stack.grid_.cols),
        rows_(stack.grid_.rows),
        windows_(stack.windows_),
        row_windows_(stack.row_windows_),
        state_(checking ? stack.state_.get() : nullptr) {
    std::vector<ComposeLayer>& layers = layers_;
    const int block_rows = block_rows_;
    const int cols = cols_;
    const std::size_t cells = static_cast<std::size_t>(block_rows) * cols;
    for (int t = 0; t < kThreads; ++t) {
      Thread& th = threads_[static_cast<std::size_t>(t)];
      for (ComposeLayer& l : layers) {
        th.readers.push_back(std::make_unique<BandReader>(l.band(t), l.arg.path, block_rows));
        LayerScan scan;
        scan.min = std::numeric_limits<double>::infinity();
        scan.max = -scan.min;
        th.scans.push_back(scan);
      }
      th.items.resize(layers.size());
    }
    for (ComposeLayer& l : layers) weights_.push_back(l.arg.weight);
    for (auto& set : sets_) set.assign(layers.size(), std::vector<unsigned char>(cells));
    block.resize(layers.size());
    rows_of_chunk_.resize(layers.size());
    sums.resize(kChunk);
    valid.resize(kChunk);
    for (int t = 0; t < kThreads && next_row_ < rows_; ++t) start();
  }
  ~Reading() {
    for (Pending& p : pending_) {
      if (p.done.valid()) p.done.wait();
    }
  }
  Reading(const Reading&) = delete;
  Reading& operator=(const Reading&) = delete;

  // The memory of the readers and buffers of `layers`, in bytes, for blocks of `cells` cells.
  static std::int64_t bytes(std::vector<ComposeLayer>& layers, std::int64_t cells) {
    std::int64_t b = 16 * static_cast<std::int64_t>(kChunk);
    for (ComposeLayer& l : layers) {
      // The blocks of bytes; a reader's data flags, and for a band read as doubles its
      // block of them.
      const BandReader probe(l.band(), l.arg.path, 1);
      b += cells * ((kThreads + 1) + kThreads * (probe.plain_bytes() ? 1 : 9));
    }
    return b;
  }

  // Waits for the next block and starts reading a later one; false after the last block.
  // The block's rows are then [row, row + count) and block[k] holds layer k's bytes.
  bool next(int& row, int& count) {
    if (pending_.empty()) return false;
    Pending p = std::move(pending_.front());
    pending_.pop_front();
    p.done.get();  // a DataError of the reading comes out here
    row = p.row;
    count = p.count;
    window = windows_[static_cast<std::size_t>(p.block)];
    for (std::size_t k = 0; k < block.size(); ++k) block[k] = sets_[p.set][k].data();
    // The set of the block before is free again: the caller is done with it.
    if (next_row_ < rows_) start();
    return true;
  }

  // The sums and validity of cells [at, at + m) of the block (m <= kChunk), whose states
  // are `state`.
  void sum(std::size_t at, std::size_t m, const unsigned char* state) {
    unsigned char* v = valid.data();  // a local, so that the loop is vectorised
    for (std::size_t i = 0; i < m; ++i) v[i] = state[i] == kData ? 0 : 255;
    for (std::size_t k = 0; k < block.size(); ++k) rows_of_chunk_[k] = block[k] + at;
    core::weighted_sum(rows_of_chunk_.data(), weights_.data(),
                       static_cast<int>(rows_of_chunk_.size()), m, sums.data());
  }

  // After the last block of a checking reading: each layer's scan and item counts, from
  // what the threads found.
  void merge() {
    stack_.outside_ = 0;
    for (const Thread& th : threads_) stack_.outside_ += th.outside;
    for (std::size_t k = 0; k < layers_.size(); ++k) {
      LayerScan& s = layers_[k].scan;
      for (const Thread& th : threads_) {
        const LayerScan& t = th.scans[k];
        // Each thread reads its blocks in order: its first bad cell is its earliest one.
        const bool earlier =
            t.bad_cells > 0 && (s.bad_cells == 0 || t.bad_line < s.bad_line ||
                                (t.bad_line == s.bad_line && t.bad_pixel < s.bad_pixel));
        if (earlier) {
          s.first_bad = t.first_bad;
          s.bad_line = t.bad_line;
          s.bad_pixel = t.bad_pixel;
        }
        s.nodata_cells += t.nodata_cells;
        s.data_cells += t.data_cells;
        s.bad_cells += t.bad_cells;
        s.min = std::min(s.min, t.min);
        s.max = std::max(s.max, t.max);
        for (std::size_t v = 0; v < 256; ++v) layers_[k].items[v] += th.items[k][v];
      }
    }
  }

  std::vector<const unsigned char*> block;
  Window window;  // of the block: the columns read
  std::vector<double> sums;
  std::vector<unsigned char> valid;

 private:
  struct Thread {
    std::vector<std::unique_ptr<BandReader>> readers;
    std::int64_t outside = 0;  // cells outside the boundary in its blocks
    std::vector<LayerScan> scans;
    std::vector<std::array<std::int64_t, 256>> items;
    std::array<std::array<std::uint32_t, 256>, 2> counts{};  // of a row of a layer
  };
  struct Pending {
    std::future<void> done;
    int row = 0, count = 0;
    std::size_t set = 0;
    int block = 0;
  };

  // Block b goes to thread b % kThreads, into set b % (kThreads + 1): the thread has finished
  // block b - kThreads, and the caller the block of that set, b - kThreads - 1.
  void start() {
    const int b = next_block_++;
    const int row = next_row_;
    const int count = std::min(block_rows_, rows_ - row);
    next_row_ += count;
    Thread& th = threads_[static_cast<std::size_t>(b % kThreads)];
    const auto set = static_cast<std::size_t>(b % (kThreads + 1));
    Pending p;
    p.row = row;
    p.count = count;
    p.set = set;
    p.block = b;
    p.done = std::async(std::launch::async,
                        [this, &th, set, b, row, count] { fetch(th, sets_[set], b, row, count); });
    pending_.push_back(std::move(p));
  }

  void fetch(Thread& th, std::vector<std::vector<unsigned char>>& set, int b, int row, int count) {
    if (state_ != nullptr) th.outside += stack_.prepare_rows(row, count);
    const Window w = windows_[static_cast<std::size_t>(b)];
    if (w.width == 0) return;  // no cell of the block lies inside the boundary
    for (std::size_t k = 0; k < th.readers.size(); ++k) {
      BandReader& r = *th.readers[k];
      if (r.plain_bytes()) {
        r.read_bytes(row, count, set[k].data(), w.x0, w.width);
      } else {
        r.read(row, count, w.x0, w.width);
      }
    }
    for (int line = 0; line < count; ++line) {
      // The row's own window within the block's.
      const Window rw = row_windows_[static_cast<std::size_t>(row + line)];
      const auto width = static_cast<std::size_t>(rw.width);
      const std::size_t at = static_cast<std::size_t>(line) * cols_ + rw.x0;
      const std::int64_t first = static_cast<std::int64_t>(row + line) * cols_ + rw.x0;
      unsigned char* st = state_ != nullptr ? state_ + first : nullptr;
      // The checks, then the item counts, a row at a time, so that the cells' states stay in
      // the first-level cache from one layer to the next.
      for (std::size_t k = 0; k < th.readers.size(); ++k) {
        BandReader& r = *th.readers[k];
        unsigned char* out = set[k].data();
        if (r.plain_bytes()) {
          if (st != nullptr) {
            scan_bytes(out + at, r.masked() ? r.has_data() + at : nullptr, r.nodata_byte(), width,
                       st, th.scans[k], first, cols_);
          }
        } else {
          if (st != nullptr) {
            scan_block(r.values() + at, r.has_data() + at, width, st, th.scans[k], first, cols_);
          }
          to_bytes(r.values(), at, width, out);
        }
      }
      if (st == nullptr) continue;
      for (std::size_t k = 0; k < th.readers.size(); ++k) {
        // Two tables, even and odd cells, so that equal neighbours do not wait on one
        // another's increments.
        const unsigned char* b = set[k].data() + at;
        std::array<std::array<std::uint32_t, 256>, 2>& t = th.counts;
        std::size_t i = 0;
        for (; i + 1 < width; i += 2) {
          t[0][b[i]] += st[i] == kData;
          t[1][b[i + 1]] += st[i + 1] == kData;
        }
        if (i < width) t[0][b[i]] += st[i] == kData;
        for (std::size_t v = 0; v < 256; ++v) th.items[k][v] += t[0][v] + t[1][v];
        t = {};
      }
    }
  }

  // The values [at, at + m) of a band read as doubles, as bytes into out[at...]. The first
  // reading refuses values other than whole numbers 0..254; the range test keeps the cast
  // defined before that, or if a file changes between readings.
  static void to_bytes(const double* v, std::size_t at, std::size_t m, unsigned char* out) {
    for (std::size_t i = at; i < at + m; ++i) {
      out[i] = v[i] >= 0.0 && v[i] <= kMaxDataValue ? static_cast<unsigned char>(v[i]) : 0;
    }
  }

  LayerStack& stack_;
  std::vector<ComposeLayer>& layers_;
  int block_rows_, cols_, rows_;
  const std::vector<Window>& windows_;
  const std::vector<Window>& row_windows_;
  unsigned char* state_;
  std::array<Thread, kThreads> threads_;
  std::vector<double> weights_;
  std::array<std::vector<std::vector<unsigned char>>, kThreads + 1> sets_;
  std::vector<const unsigned char*> rows_of_chunk_;
  std::deque<Pending> pending_;
  int next_block_ = 0, next_row_ = 0;
};

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
  // A second opening of each layer, for the second reading thread.
  for (std::size_t k = 0; k < layers_.size(); ++k) {
    ComposeLayer& l = layers_[k];
    l.source2 = open_raster(l.arg.path);
    if (l.resampled) l.resampled2 = bring_onto(*l.source2, l.arg.path, grid_, grid_path, o.align);
  }
  const std::int64_t cols = grid_.cols;
  block_rows_ = kTileRows * cols <= kBlockCells
                    ? static_cast<int>(kBlockCells / cols / kTileRows * kTileRows)
                    : static_cast<int>(std::max<std::int64_t>(1, kBlockCells / cols));
  block_rows_ = std::min(block_rows_, grid_.rows);

  // The memory of a run: two bytes a cell for the state of each cell and the number of its
  // sum, the block buffers of the layers and of the levels, GDAL's block cache, and the
  // quantile search of sums too many to number; checked before anything of the grid's size
  // is allocated.
  const auto cells = static_cast<std::int64_t>(grid_.cells());
  const std::int64_t block = static_cast<std::int64_t>(block_rows_) * cols;
  const std::int64_t need =
      2 * cells + Reading::bytes(layers_, block) + 2 * block + GDALGetCacheMax64() + 80 * kMiB;
  const std::int64_t memory = nrutil::memory_bytes();
  if (memory > 0 && need > memory) {
    throw DataError(grid_path + ": its grid of " + std::to_string(grid_.cols) + " x " +
                    std::to_string(grid_.rows) + " cells needs about " + mib(need) +
                    " to compose, more than the memory available (" + mib(memory) + ")");
  }
  try {
    state_ = std::make_unique_for_overwrite<unsigned char[]>(grid_.cells());
    low_ = std::make_unique_for_overwrite<unsigned char[]>(grid_.cells());
  } catch (const std::bad_alloc&) {
    throw DataError(grid_path + ": its grid of " + std::to_string(grid_.cols) + " x " +
                    std::to_string(grid_.rows) + " cells is larger than the memory available");
  }
  // A polygon boundary is rasterised block by block as the blocks are read (prepare_rows),
  // a raster boundary here.
  if (!o.boundary.empty()) {
    BoundaryFile b = read_boundary(o.boundary, grid_, warnings);
    if (b.raster) {
      raster_boundary_cells(*b.raster, o.boundary, grid_, grid_path, o.align, state_.get());
      state_ready_ = true;
    }
    boundary_ = std::move(b.polygons);
  }
  windows_.resize(static_cast<std::size_t>((grid_.rows + block_rows_ - 1) / block_rows_));
  row_windows_.resize(static_cast<std::size_t>(grid_.rows));
}

std::int64_t LayerStack::prepare_rows(int row, int rows) {
  const int cols = grid_.cols;
  unsigned char* st = state_.get() + static_cast<std::size_t>(row) * cols;
  if (!state_ready_) {
    if (o_.boundary.empty()) {
      std::fill(st, st + static_cast<std::size_t>(rows) * cols, kData);
    } else {
      // rasterise_rows writes 1 (kData) inside and 0 (kOutside) outside.
      static_assert(kOutside == 0 && kData == 1, "the rasterised cells are cell states");
      rasterise_rows(boundary_, grid_, o_.boundary, row, rows, st);
    }
  }
  // Each row's window, from its first cell inside the boundary to its last, and the block's:
  // the union of its rows'. The cells outside, counted in 32 bits a row, which the compiler
  // vectorises.
  std::int64_t outside = 0;
  int x0 = cols, x1 = 0;
  for (int r = 0; r < rows; ++r) {
    const unsigned char* line = st + static_cast<std::size_t>(r) * cols;
    int a = 0;
    while (a < cols && line[a] == kOutside) ++a;
    int b = cols;
    while (b > a && line[b - 1] == kOutside) --b;
    row_windows_[static_cast<std::size_t>(row + r)] = Window{a < b ? a : 0, b - a};
    std::uint32_t n = 0;
    for (int i = a; i < b; ++i) n += line[i] == kOutside;
    outside += n + (cols - (b - a));
    if (a < b) {
      x0 = std::min(x0, a);
      x1 = std::max(x1, b);
    }
  }
  windows_[static_cast<std::size_t>(row / block_rows_)] = x1 > x0 ? Window{x0, x1 - x0} : Window{};
  return outside;
}

void LayerStack::widen(std::size_t cells) {
  unsigned char* st = state_.get();
  unsigned char* low = low_.get();
  for (std::size_t i = 0; i < cells; ++i) {
    if (st[i] < 3) continue;
    low[i] = static_cast<unsigned char>(st[i] - 3);
    st[i] = 3;
  }
  wide_ = true;
}

void LayerStack::drop_numbers(std::size_t cells) {
  unsigned char* st = state_.get();
  for (std::size_t i = 0; i < cells; ++i)
    st[i] = st[i] >= 3 ? static_cast<unsigned char>(kData) : st[i];
  // The range and finiteness of the sums numbered so far are those of the cells dropped.
  for (std::size_t k = 0; k < sums_.size(); ++k) {
    const double s = sums_.sum(k);
    min_ = s < min_ ? s : min_;
    max_ = s > max_ ? s : max_;
    finite_ = finite_ && std::isfinite(s);
  }
  sums_.clear();
  numbered_ = false;
}

void LayerStack::first_pass(const Progress& progress, double from, double to) {
  const int cols = grid_.cols;
  for (ComposeLayer& l : layers_) {
    l.scan = LayerScan{};
    l.scan.min = std::numeric_limits<double>::infinity();
    l.scan.max = -l.scan.min;
    l.items.fill(0);
  }
  sums_.limit(most_numbers());
  numbered_ = true;
  wide_ = false;
  finite_ = true;
  min_ = std::numeric_limits<double>::infinity();
  max_ = -min_;
  std::int64_t valid_total = 0;
  std::vector<std::int64_t>& counts = sums_.counts();

  Reading rd(*this, true);
  int row = 0, n_rows = 0;
  while (rd.next(row, n_rows)) {
    const std::size_t first = static_cast<std::size_t>(row) * cols;
    unsigned char* st = state_.get() + first;
    unsigned char* low = low_.get() + first;
    // The cells of the block's window (the others lie outside the boundary), a row at a time.
    for (std::size_t line = 0; line < static_cast<std::size_t>(n_rows); ++line) {
      const Window rw = row_windows_[row + line];
      const std::size_t end = line * cols + rw.x0 + rw.width;
      for (std::size_t at = line * cols + rw.x0; at < end; at += kChunk) {
        const std::size_t m = std::min(kChunk, end - at);
        rd.sum(at, m, st + at);
        const unsigned char* valid = rd.valid.data();
        const double* sums = rd.sums.data();
        std::size_t i = 0;
        if (numbered_) {
          // Each valid cell gets the number of its sum (see state_). A run of equal sums
          // looks the table up once. What the loop reads is held in locals: its stores into
          // cells could otherwise change them for all the compiler knows.
          DistinctSums::Lookup look = sums_.lookup();
          std::int64_t* cells_of = counts.data();
          bool wide = wide_;
          unsigned char* s = st + at;
          unsigned char* l = low + at;
          std::uint64_t last = 0;
          int number = -1;
          std::int64_t numbered = 0;
          for (; i < m; ++i) {
            if (valid[i] != 0) continue;
            const auto bits = std::bit_cast<std::uint64_t>(sums[i]);
            if (number < 0 || bits != last) {
              int k = look.find(bits);
              if (k < 0) {
                k = sums_.number(bits);
                if (k < 0) break;
                if (k >= kNarrow && !wide) {
                  widen(first + at + i);
                  wide = true;
                }
                look = sums_.lookup();
                cells_of = counts.data();
              }
              number = k;
              last = bits;
            }
            if (wide) {
              s[i] = static_cast<unsigned char>(3 + (number >> 8));
              l[i] = static_cast<unsigned char>(number & 255);
            } else {
              s[i] = static_cast<unsigned char>(3 + number);
            }
            ++cells_of[number];
            ++numbered;
          }
          valid_total += numbered;
          if (i < m) drop_numbers(first + at + i);
        }
        if (!numbered_) {
          double lo = min_, hi = max_;
          for (std::size_t j = i; j < m; ++j) {
            if (valid[j] != 0) continue;
            lo = sums[j] < lo ? sums[j] : lo;
            hi = sums[j] > hi ? sums[j] : hi;
            ++valid_total;
          }
          min_ = lo;
          max_ = hi;
          finite_ = finite_ && core::valid_sums_finite(valid + i, sums + i, m - i);
        }
      }
    }
    if (progress) {
      progress(from + (to - from) * static_cast<double>(row + n_rows) / grid_.rows);
    }
  }
  rd.merge();
  if (!o_.boundary.empty() && outside_ == static_cast<std::int64_t>(grid_.cells())) {
    throw DataError(o_.boundary +
                    ": no cell centre of the layers' grid lies inside the boundary: check "
                    "that it covers the layers (" +
                    srs_label(grid_.srs) + ")");
  }
  if (numbered_) {
    for (std::size_t k = 0; k < sums_.size(); ++k) {
      const double s = sums_.sum(k);
      min_ = s < min_ ? s : min_;
      max_ = s > max_ ? s : max_;
      finite_ = finite_ && std::isfinite(s);
    }
  }
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
  if (!finite_) {
    throw DataError(layers_.back().arg.path +
                    ": the weights are too large for the values: a weighted sum is not a "
                    "finite number; use smaller weights");
  }
}

void LayerStack::pass(const std::function<void(const SumBlock&)>& f, const Progress& progress,
                      double from, double to) {
  const int cols = grid_.cols;
  Reading rd(*this, false);
  int row = 0, n_rows = 0;
  while (rd.next(row, n_rows)) {
    const std::size_t n = static_cast<std::size_t>(n_rows) * cols;
    const unsigned char* st = state_.get() + static_cast<std::size_t>(row) * cols;
    for (std::size_t at = 0; at < n; at += kChunk) {
      const std::size_t m = std::min(kChunk, n - at);
      rd.sum(at, m, st + at);
      f(SumBlock{row, n_rows, m, rd.sums.data(), rd.valid.data()});
    }
    if (progress) {
      progress(from + (to - from) * static_cast<double>(row + n_rows) / grid_.rows);
    }
  }
}

LevelCounts LayerStack::level_pass(const core::Levels& levels,
                                   const std::function<void(const LevelBlock&)>& f,
                                   const Progress& progress, double from, double to) {
  LevelCounts counts;
  const int cols = grid_.cols;
  const std::size_t block = static_cast<std::size_t>(block_rows_) * cols;
  std::vector<unsigned char> level(block), state(block);
  const auto give = [&](int row, int n_rows) {
    f(LevelBlock{row, n_rows, static_cast<std::size_t>(n_rows) * cols, level.data(), state.data()});
    if (progress) {
      progress(from + (to - from) * static_cast<double>(row + n_rows) / grid_.rows);
    }
  };
  if (numbered_) {
    // The level and ComposeCell of every state byte, or pair (state, low byte), looked up
    // cell by cell.
    const std::size_t entries = wide_ ? 65536 : 256;
    std::vector<unsigned char> level_of(entries, 0), state_of(entries, kCellNoData);
    for (std::size_t at = 0; at < entries; ++at) {
      const std::size_t high = wide_ ? at >> 8 : at;
      if (high == kOutside) state_of[at] = kCellOutside;
      if (high < 3) continue;
      const std::size_t number = wide_ ? ((high - 3) << 8) | (at & 255) : high - 3;
      if (number >= sums_.size()) continue;
      const unsigned char lv = levels.level_of(sums_.sum(number));
      level_of[at] = lv == 255 ? 0 : lv;
      state_of[at] = lv == 255 ? kCellBelow : kCellLevel;
      counts.levels[level_of[at]] += sums_.counts()[number];
      counts.states[state_of[at]] += sums_.counts()[number];
    }
    for (int row = 0; row < grid_.rows; row += block_rows_) {
      const int n_rows = std::min(block_rows_, grid_.rows - row);
      const std::size_t n = static_cast<std::size_t>(n_rows) * cols;
      const std::size_t first = static_cast<std::size_t>(row) * cols;
      const unsigned char* st = state_.get() + first;
      if (wide_) {
        const unsigned char* low = low_.get() + first;
        for (std::size_t i = 0; i < n; ++i) {
          // Only the numbered cells have a low byte.
          const std::size_t at = static_cast<std::size_t>(st[i]) << 8 | (st[i] >= 3 ? low[i] : 0);
          level[i] = level_of[at];
          state[i] = state_of[at];
        }
      } else {
        for (std::size_t i = 0; i < n; ++i) {
          level[i] = level_of[st[i]];
          state[i] = state_of[st[i]];
        }
      }
      give(row, n_rows);
    }
    // Every cell inside the boundary is valid (numbered) or without data.
    counts.states[kCellOutside] = outside_;
    counts.states[kCellNoData] = static_cast<std::int64_t>(grid_.cells()) - outside_ - valid_;
    return counts;
  }
  Reading rd(*this, false);
  int row = 0, n_rows = 0;
  while (rd.next(row, n_rows)) {
    const std::size_t n = static_cast<std::size_t>(n_rows) * cols;
    const unsigned char* st = state_.get() + static_cast<std::size_t>(row) * cols;
    for (std::size_t at = 0; at < n; at += kChunk) {
      const std::size_t m = std::min(kChunk, n - at);
      rd.sum(at, m, st + at);
      levels.assign(rd.valid.data(), rd.sums.data(), m, level.data() + at);
    }
    for (std::size_t i = 0; i < n; ++i) {
      unsigned char s = kCellLevel;
      if (st[i] == kOutside) {
        s = kCellOutside;
      } else if (st[i] == kNoData) {
        s = kCellNoData;
      } else if (level[i] == 255) {
        s = kCellBelow;
      }
      if (s != kCellLevel) level[i] = 0;
      state[i] = s;
      ++counts.levels[level[i]];
      ++counts.states[s];
    }
    give(row, n_rows);
  }
  return counts;
}

}  // namespace gis
