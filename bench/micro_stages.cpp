// Micro-benchmarks of the hot parts of a run, on one grid of 4000 x 4000 cells (64 MiB grids
// for the memory costs): the file
// formats read and written row block by row block through the format table (files in the
// page cache), the per-row loops of the passes, and the cost of fresh against reused memory.
// Rates are cells (items) and bytes per second: the file's bytes for the formats, the memory
// a loop reads and writes for the others.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/cell_loops.h"
#include "core/levels.h"
#include "nrutil/bitgrid.h"
#include "nrutil/grid.h"
#include "rasterio/formats.h"

namespace {

constexpr int kSide = 4000;
constexpr std::int64_t kCells = std::int64_t{kSide} * kSide;
constexpr int kBlock = 256;  // rows of a block, about what a run's passes use

std::string bench_dir() {
  const char* d = std::getenv("TESSERA_BENCH_DIR");
  return d != nullptr ? d : "/tmp";
}

// A grid of sub-index-like values: smooth areas with noise and some 255 background.
nrutil::ByteGrid sample_grid(unsigned seed = 1) {
  auto g = nrutil::ByteGrid::make(kSide, kSide);
  std::uint32_t s = seed * 2654435761u + 1;
  for (int i = 0; i < kSide; ++i) {
    for (int j = 0; j < kSide; ++j) {
      s = s * 1664525u + 1013904223u;
      const int v = 1 + (i / 97 + j / 89) % 20 + static_cast<int>((s >> 24) % 10);
      g[i][j] = static_cast<unsigned char>((s >> 8) % 997 == 0 ? 255 : v);
    }
  }
  return g;
}

const nrutil::ByteGrid& image(int k = 0) {
  static const nrutil::ByteGrid g[5] = {sample_grid(1), sample_grid(2), sample_grid(3),
                                        sample_grid(4), sample_grid(5)};
  return g[k];
}

void set_rates(benchmark::State& state, std::int64_t bytes_per_run) {
  state.SetItemsProcessed(state.iterations() * kCells);
  state.SetBytesProcessed(state.iterations() * bytes_per_run);
}

const rasterio::FileFormat& format(rasterio::Format f) {
  return rasterio::kFormats[rasterio::code_of(f)];
}

std::string file_of(rasterio::Format f) {
  return bench_dir() + "/micro" + format(f).ext;
}

// Writes the sample grid in format f, block by block; the file's size, or -1.
std::int64_t write_grid(rasterio::Format f) {
  std::unique_ptr<rasterio::RowWriter> w = format(f).writer();
  rasterio::GridInfo g{kSide, kSide, 500000.0, 4000000.0, 25.0};
  if (w->create(file_of(f)) != rasterio::FileError::None ||
      w->begin(g) != rasterio::FileError::None) {
    return -1;
  }
  for (int first = 0; first < kSide; first += kBlock) {
    if (w->write_rows(image().rows() + first, kBlock < kSide - first ? kBlock : kSide - first) !=
        rasterio::FileError::None) {
      return -1;
    }
  }
  if (w->finish() != rasterio::FileError::None) return -1;
  FILE* file = std::fopen(file_of(f).c_str(), "rb");
  std::fseek(file, 0, SEEK_END);
  const std::int64_t size = std::ftell(file);
  std::fclose(file);
  return size;
}

void Write(benchmark::State& state, rasterio::Format f) {
  image();
  std::int64_t size = 0;
  for (auto _ : state) {
    size = write_grid(f);
    if (size < 0) state.SkipWithError("write");
  }
  set_rates(state, size);
}

// Reads the file block by block into one reused buffer, as a pass does.
void Read(benchmark::State& state, rasterio::Format f) {
  const std::int64_t size = write_grid(f);
  auto buffer = nrutil::ByteGrid::make(kSide, kBlock);
  for (auto _ : state) {
    std::unique_ptr<rasterio::RowReader> rd = format(f).reader();
    if (rd->open(file_of(f), rasterio::GridInfo{kSide, kSide}) != rasterio::FileError::None) {
      state.SkipWithError("open");
    }
    for (int first = 0; first < kSide; first += kBlock) {
      const int n = kBlock < kSide - first ? kBlock : kSide - first;
      if (rd->read_rows(buffer.rows(), n) != rasterio::FileError::None) state.SkipWithError("read");
    }
    benchmark::DoNotOptimize(buffer[0][0]);
  }
  set_rates(state, size);
}

void ReadRaw(benchmark::State& s) {
  Read(s, rasterio::Format::Raw);
}
void ReadBmp(benchmark::State& s) {
  Read(s, rasterio::Format::Bmp);
}
void ReadAscii(benchmark::State& s) {
  Read(s, rasterio::Format::Ascii);
}
void WriteRaw(benchmark::State& s) {
  Write(s, rasterio::Format::Raw);
}
void WriteBmp(benchmark::State& s) {
  Write(s, rasterio::Format::Bmp);
}
void WriteAscii(benchmark::State& s) {
  Write(s, rasterio::Format::Ascii);
}

// ---- the first pass ----

void CountValues(benchmark::State& state) {
  image();
  for (auto _ : state) {
    core::ValueCounter counter;
    for (int i = 0; i < kSide; ++i) counter.add(image()[i], kSide);
    benchmark::DoNotOptimize(counter.count(7));
  }
  set_rates(state, kCells);
}

void MarkZeroCells(benchmark::State& state) {
  auto bits = nrutil::BitGrid::make(kSide, kSide);
  for (auto _ : state) {
    for (int i = 0; i < kSide; ++i) bits.mark_row(i, image()[i], 0);
    benchmark::DoNotOptimize(bits.test(0, 0));
  }
  set_rates(state, kCells + kCells / 8);
}

// ---- the later passes ----

// The sums of K images, row by row, into one row of doubles.
void WeightedSum(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const double w[5] = {1.5, 2.0, 0.75, 1.25, 3.0};
  std::vector<double> sum(kSide);
  std::vector<const unsigned char*> rows(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) image(k);
  for (auto _ : state) {
    for (int i = 0; i < kSide; ++i) {
      for (int k = 0; k < count; ++k) rows[static_cast<std::size_t>(k)] = image(k)[i];
      core::weighted_sum(rows.data(), w, count, kSide, sum.data());
    }
    benchmark::DoNotOptimize(sum[0]);
  }
  set_rates(state, kCells * count);
}

// One row of the sums of three images.
const std::vector<double>& row_sums(int i) {
  static std::vector<std::vector<double>> sums = [] {
    std::vector<std::vector<double>> s(kSide, std::vector<double>(kSide));
    const double w[3] = {1.5, 2.0, 0.75};
    for (int r = 0; r < kSide; ++r) {
      const unsigned char* rows[3] = {image(0)[r], image(1)[r], image(2)[r]};
      core::weighted_sum(rows, w, 3, kSide, s[static_cast<std::size_t>(r)].data());
    }
    return s;
  }();
  return sums[static_cast<std::size_t>(i)];
}

// The sums of three images with their largest valid sum (no finiteness check needed), row
// by row, as the first pass takes them.
void CheckSums(benchmark::State& state) {
  const double w[3] = {1.5, 2.0, 0.75};
  for (int k = 0; k < 3; ++k) image(k);
  for (auto _ : state) {
    core::SumChecks checks;
    for (int i = 0; i < kSide; ++i) {
      const unsigned char* rows[3] = {image(0)[i], image(1)[i], image(2)[i]};
      core::check_sums(rows, w, 3, kSide, rows[2], false, checks);
    }
    benchmark::DoNotOptimize(checks.max_sum);
  }
  set_rates(state, kCells * 3);
}

// The levels of the sums of a row, from the bucket table.
void AssignLevels(benchmark::State& state) {
  core::SumChecks checks;
  const double w[3] = {1.5, 2.0, 0.75};
  for (int i = 0; i < kSide; ++i) {
    const unsigned char* rows[3] = {image(0)[i], image(1)[i], image(2)[i]};
    core::check_sums(rows, w, 3, kSide, rows[2], false, checks);
  }
  core::Levels lv;
  lv.build(checks.max_sum, static_cast<int>(state.range(0)));
  auto out = nrutil::ByteGrid::make(kSide, kSide);
  for (auto _ : state) {
    for (int i = 0; i < kSide; ++i) lv.assign(image(2)[i], row_sums(i).data(), kSide, out[i]);
    benchmark::DoNotOptimize(out[0][0]);
  }
  set_rates(state, kCells * 10);
}

// The sums of three images and their levels, row by row, as the level pass takes them.
void LevelSums(benchmark::State& state) {
  core::SumChecks checks;
  const double w[3] = {1.5, 2.0, 0.75};
  for (int i = 0; i < kSide; ++i) {
    const unsigned char* rows[3] = {image(0)[i], image(1)[i], image(2)[i]};
    core::check_sums(rows, w, 3, kSide, rows[2], false, checks);
  }
  core::Levels lv;
  lv.build(checks.max_sum, 10);
  auto out = nrutil::ByteGrid::make(kSide, kSide);
  for (auto _ : state) {
    for (int i = 0; i < kSide; ++i) {
      const unsigned char* rows[3] = {image(0)[i], image(1)[i], image(2)[i]};
      core::level_sums(rows, w, 3, kSide, rows[2], lv, out[i]);
    }
    benchmark::DoNotOptimize(out[0][0]);
  }
  set_rates(state, kCells * 4);
}

// ---- memory ----

// 64 MiB grids, beyond the processor's caches.
constexpr int kBigSide = 8192;
constexpr std::int64_t kBigCells = std::int64_t{kBigSide} * kBigSide;

// Making a grid of a byte a cell and writing every cell once: fresh pages from the system.
void FreshByteGrid(benchmark::State& state) {
  for (auto _ : state) {
    auto g = nrutil::ByteGrid::make(kBigSide, kBigSide);
    for (int i = 0; i < kBigSide; ++i) std::fill(g[i], g[i] + kBigSide, 1);
    benchmark::DoNotOptimize(g[0][0]);
  }
  state.SetItemsProcessed(state.iterations() * kBigCells);
  state.SetBytesProcessed(state.iterations() * kBigCells);
}

// Writing every cell of a grid already touched: the same work on memory the process holds.
void ReusedByteGrid(benchmark::State& state) {
  auto g = nrutil::ByteGrid::make(kBigSide, kBigSide);
  for (int i = 0; i < kBigSide; ++i) std::fill(g[i], g[i] + kBigSide, 1);
  for (auto _ : state) {
    for (int i = 0; i < kBigSide; ++i) std::fill(g[i], g[i] + kBigSide, 2);
    benchmark::DoNotOptimize(g[0][0]);
  }
  state.SetItemsProcessed(state.iterations() * kBigCells);
  state.SetBytesProcessed(state.iterations() * kBigCells);
}

BENCHMARK(ReadRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadAscii)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteAscii)->Unit(benchmark::kMillisecond);
BENCHMARK(CountValues)->Unit(benchmark::kMillisecond);
BENCHMARK(MarkZeroCells)->Unit(benchmark::kMillisecond);
BENCHMARK(WeightedSum)->Arg(1)->Arg(3)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(CheckSums)->Unit(benchmark::kMillisecond);
BENCHMARK(AssignLevels)->Arg(10)->Arg(99)->Unit(benchmark::kMillisecond);
BENCHMARK(LevelSums)->Unit(benchmark::kMillisecond);
BENCHMARK(FreshByteGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(ReusedByteGrid)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
