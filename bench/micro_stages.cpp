// Micro-benchmarks of the hot parts of a run, on one grid of 4000 x 4000 cells: the file
// formats (reading and writing, files in the page cache), the summation loops and the level
// assignment. Rates are cells (items) and bytes per second: the file's bytes for the
// formats, the memory a loop reads and writes for the others.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cell_loops.h"
#include "app/levels.h"
#include "image/bmp.h"
#include "nrutil/grid.h"
#include "rasterio/gridfile.h"

namespace {

constexpr int kSide = 4000;
constexpr std::int64_t kCells = std::int64_t{kSide} * kSide;

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

const nrutil::ByteGrid& image() {
  static const nrutil::ByteGrid g = sample_grid();
  return g;
}

void set_rates(benchmark::State& state, std::int64_t bytes_per_run) {
  state.SetItemsProcessed(state.iterations() * kCells);
  state.SetBytesProcessed(state.iterations() * bytes_per_run);
}

// ---- file formats ----

void WriteRaw(benchmark::State& state) {
  const std::string path = bench_dir() + "/micro.raw";
  image();
  for (auto _ : state) {
    if (rasterio::write_raw(path, image()) != rasterio::FileError::None)
      state.SkipWithError("write");
  }
  set_rates(state, kCells);
}

void ReadRaw(benchmark::State& state) {
  const std::string path = bench_dir() + "/micro.raw";
  rasterio::write_raw(path, image());
  auto g = nrutil::ByteGrid::make(kSide, kSide);
  for (auto _ : state) {
    if (rasterio::read_raw(path, g) != rasterio::FileError::None) state.SkipWithError("read");
    benchmark::DoNotOptimize(g[kSide - 1][kSide - 1]);
  }
  set_rates(state, kCells);
}

void WriteBmp(benchmark::State& state) {
  const std::string path = bench_dir() + "/micro.bmp";
  auto& g = const_cast<nrutil::ByteGrid&>(image());
  for (auto _ : state) {
    if (SauveBMP(path.c_str(), g.rows(), kSide, kSide, 0, nullptr) != 0)
      state.SkipWithError("write");
  }
  set_rates(state, kCells);
}

void ReadBmp(benchmark::State& state) {
  const std::string path = bench_dir() + "/micro.bmp";
  auto& src = const_cast<nrutil::ByteGrid&>(image());
  SauveBMP(path.c_str(), src.rows(), kSide, kSide, 0, nullptr);
  auto g = nrutil::ByteGrid::make(kSide, kSide);
  for (auto _ : state) {
    bmp::FileReader f;
    if (f.open(path.c_str()) != bmp::LoadError::None ||
        f.read_rows(g.rows()) != bmp::LoadError::None) {
      state.SkipWithError("read");
    }
    benchmark::DoNotOptimize(g[0][0]);
  }
  set_rates(state, kCells);
}

void WriteAscii(benchmark::State& state) {
  const std::string path = bench_dir() + "/micro.asc";
  image();
  std::int64_t bytes = 0;
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    const bool ok =
        f != nullptr && rasterio::write_ascii_values(f, image()) == rasterio::FileError::None;
    if (f != nullptr) {
      bytes = std::ftell(f);
      std::fclose(f);
    }
    if (!ok) state.SkipWithError("write");
  }
  set_rates(state, bytes);
}

void ReadAscii(benchmark::State& state) {
  const std::string path = bench_dir() + "/micro.asc";
  std::FILE* f = std::fopen(path.c_str(), "w");
  std::fputs(rasterio::format_ascii_head(kSide, kSide).c_str(), f);
  std::fputs(rasterio::format_ascii_corner(500000.0, 4000000.0, 25.0).c_str(), f);
  rasterio::write_ascii_values(f, image());
  const std::int64_t bytes = std::ftell(f);
  std::fclose(f);
  auto g = nrutil::ByteGrid::make(kSide, kSide);
  for (auto _ : state) {
    rasterio::AsciiGridReader rd;
    rasterio::AsciiHeader h;
    if (rd.open(path) != rasterio::FileError::None ||
        rd.read_header(h) != rasterio::FileError::None ||
        rd.read_values(g) != rasterio::FileError::None) {
      state.SkipWithError("read");
    }
    benchmark::DoNotOptimize(g[0][0]);
  }
  set_rates(state, bytes);
}

// ---- summation ----

// Image 1 starts the running sum (writes it); every later image adds to it (reads and
// writes it). Both count the values of the image.
void weigh_and_count(benchmark::State& state, bool start) {
  auto sum = nrutil::RealGrid::make(kSide, kSide);
  app::ValueCounter warm;  // the grids are made and touched before the timing
  for (int i = 0; i < kSide; ++i) app::weigh_and_count(image()[i], kSide, 1.5, sum[i], true, warm);
  for (auto _ : state) {
    app::ValueCounter counter;
    for (int i = 0; i < kSide; ++i)
      app::weigh_and_count(image()[i], kSide, 1.5, sum[i], start, counter);
    benchmark::DoNotOptimize(counter.count(7));
  }
  set_rates(state, kCells * (start ? 9 : 17));
}
void WeighFirstImage(benchmark::State& state) {
  weigh_and_count(state, true);
}
void WeighNextImage(benchmark::State& state) {
  weigh_and_count(state, false);
}

void FirstImageMask(benchmark::State& state) {
  auto t = sample_grid();
  auto mask = nrutil::ByteGrid::make(kSide, kSide);
  for (int i = 0; i < kSide; ++i) app::first_image_mask(t[i], kSide, true, mask[i]);
  for (auto _ : state) {
    for (int i = 0; i < kSide; ++i) app::first_image_mask(t[i], kSide, true, mask[i]);
    benchmark::DoNotOptimize(mask[0][0]);
  }
  set_rates(state, kCells * 2);
}

// A running sum of three weighted images, as the summation leaves it.
const nrutil::RealGrid& sums() {
  static const nrutil::RealGrid s = [] {
    auto g = nrutil::RealGrid::make(kSide, kSide);
    const double w[3] = {1.5, 2.0, 0.75};
    for (int k = 0; k < 3; ++k) {
      auto img = sample_grid(k + 1);
      app::ValueCounter c;
      for (int i = 0; i < kSide; ++i) app::weigh_and_count(img[i], kSide, w[k], g[i], k == 0, c);
    }
    return g;
  }();
  return s;
}

void MaxValidSum(benchmark::State& state) {
  const auto& s = sums();
  image();
  for (auto _ : state) {
    double m = 0.0;
    for (int i = 0; i < kSide; ++i) m = app::max_valid_sum(image()[i], s[i], kSide, m);
    benchmark::DoNotOptimize(m);
  }
  set_rates(state, kCells * 9);
}

void AssignLevels(benchmark::State& state) {
  const auto& s = sums();
  double m = 0.0;
  for (int i = 0; i < kSide; ++i) m = app::max_valid_sum(image()[i], s[i], kSide, m);
  app::Levels lv;
  const int levels = static_cast<int>(state.range(0));
  lv.build(m / levels, levels);
  auto out = nrutil::ByteGrid::make(kSide, kSide);
  for (int i = 0; i < kSide; ++i) lv.assign(image()[i], s[i], kSide, out[i]);
  for (auto _ : state) {
    for (int i = 0; i < kSide; ++i) lv.assign(image()[i], s[i], kSide, out[i]);
    benchmark::DoNotOptimize(out[0][0]);
  }
  set_rates(state, kCells * 10);
}

// Making and first touching the running-sum grid: what a fresh grid costs before any work.
void FreshRealGrid(benchmark::State& state) {
  for (auto _ : state) {
    auto g = nrutil::RealGrid::make(kSide, kSide);
    for (int i = 0; i < kSide; ++i) g[i][0] = 1.0;
    for (int i = 0; i < kSide; ++i)
      for (int j = 0; j < kSide; j += 512) g[i][j] = 1.0;
    benchmark::DoNotOptimize(g[0][0]);
  }
  set_rates(state, kCells * 8);
}

BENCHMARK(ReadRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteRaw)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteBmp)->Unit(benchmark::kMillisecond);
BENCHMARK(ReadAscii)->Unit(benchmark::kMillisecond);
BENCHMARK(WriteAscii)->Unit(benchmark::kMillisecond);
BENCHMARK(WeighFirstImage)->Unit(benchmark::kMillisecond);
BENCHMARK(WeighNextImage)->Unit(benchmark::kMillisecond);
BENCHMARK(FirstImageMask)->Unit(benchmark::kMillisecond);
BENCHMARK(MaxValidSum)->Unit(benchmark::kMillisecond);
BENCHMARK(AssignLevels)->Arg(10)->Arg(99)->Unit(benchmark::kMillisecond);
BENCHMARK(FreshRealGrid)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
