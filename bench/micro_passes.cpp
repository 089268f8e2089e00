// Micro-benchmarks of the whole passes of a run over the benchmark's main study area (three
// raw images of 8192 x 8192 cells in TESSERA_BENCH_DIR/raw_mesh, made by run_bench.py), on
// 1 and 2 threads: the first pass (sums, checks, item counts), the level pass, the result
// (masks, counts, writing), and the two ways of reading the inputs (copied by pread into
// reused buffers, or mapped a block at a time). Files in the page cache.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/inputs.h"
#include "core/parallel.h"
#include "core/result.h"
#include "core/summation.h"
#include "nrutil/mapped.h"
#include "rasterio/formats.h"

namespace {

constexpr int kImages = 3;
const double kWeights[kImages] = {1.5, 2.0, 0.75};

std::string area() {
  const char* d = std::getenv("TESSERA_BENCH_DIR");
  return std::string(d != nullptr ? d : "/tmp") + "/raw_mesh/";
}

// The three images, opened and left to the first pass, as a run leaves them.
struct Area {
  std::vector<core::ImageRead> images;
  std::vector<core::SumInput> inputs;
  bool ok = false;
  Area() {
    for (int k = 0; k < kImages; ++k) {
      const core::InputGrid g{area() + "img" + std::to_string(k + 1), 0};
      core::Outcome<core::DescriptorLookup> d = core::look_up_descriptor(g);
      if (!d.ok() || d.value().missing) return;
      core::Outcome<core::OpenedGrid> o = core::open_grid(g, &d.value().descriptor, {}, {});
      if (!o.ok()) return;
      core::Outcome<core::ImageRead> im = core::defer_image(std::move(o.value()), k == 0);
      if (!im.ok()) return;
      images.push_back(std::move(im.value()));
    }
    for (int k = 0; k < kImages; ++k) inputs.push_back({&images[k], kWeights[k]});
    ok = true;
  }
  std::int64_t cells() const { return std::int64_t{images[0].facts.rows} * images[0].facts.cols; }
};

Area& the_area() {
  static Area a;
  return a;
}

void ScanPass(benchmark::State& state) {
  Area& a = the_area();
  if (!a.ok) return state.SkipWithError("no study area (run bench/run_bench.py first)");
  for (auto _ : state) {
    for (core::ImageRead& im : a.images) im.counted = false;
    core::Outcome<core::SumScan> s = core::scan_images(a.inputs, static_cast<int>(state.range(0)));
    if (!s.ok()) state.SkipWithError("scan");
  }
  state.SetItemsProcessed(state.iterations() * a.cells());
  state.SetBytesProcessed(state.iterations() * a.cells() * kImages);
}

void LevelPass(benchmark::State& state) {
  Area& a = the_area();
  if (!a.ok) return state.SkipWithError("no study area");
  core::Outcome<core::SumScan> scan = core::scan_images(a.inputs);
  if (!scan.ok()) return state.SkipWithError("scan");
  for (auto _ : state) {
    // The level grid is made afresh each time, as in a run.
    core::Outcome<core::Summation> s =
        core::level_images(a.inputs, scan.value(), 10, static_cast<int>(state.range(0)));
    if (!s.ok()) state.SkipWithError("levels");
  }
  state.SetItemsProcessed(state.iterations() * a.cells());
  state.SetBytesProcessed(state.iterations() * a.cells() * kImages);
}

void ResultPass(benchmark::State& state) {
  Area& a = the_area();
  if (!a.ok) return state.SkipWithError("no study area");
  core::Outcome<core::Summation> s = core::sum_and_level(a.inputs, 10);
  if (!s.ok()) return state.SkipWithError("levels");
  const rasterio::FileFormat& raw = rasterio::kFormats[0];
  const core::ResultFiles files{area() + "micro_result.raw", area() + "micro_result.txt"};
  for (auto _ : state) {
    core::Outcome<core::ValueCounts> c = core::write_result(
        s.value().grid, a.images[0].zeros, nullptr, raw, core::Georef{25.0, std::nullopt}, files,
        static_cast<int>(state.range(0)));
    if (!c.ok()) state.SkipWithError("write");
  }
  std::remove(files.image.c_str());
  std::remove(files.descriptor.c_str());
  state.SetItemsProcessed(state.iterations() * a.cells());
  state.SetBytesProcessed(state.iterations() * a.cells());
}

// The three files read block by block (4 MiB of rows a block) on state.range(1) threads, each
// with readers of its own, every 64th byte read: copied (range(0) 0) or mapped (1).
void ReadInputs(benchmark::State& state) {
  Area& a = the_area();
  if (!a.ok) return state.SkipWithError("no study area");
  const bool mapped = state.range(0) == 1;
  const int threads = static_cast<int>(state.range(1));
  const int rows = a.images[0].facts.rows;
  const int cols = a.images[0].facts.cols;
  const int block = core::ImageRows::rows_per_block(a.inputs, rows, cols, std::size_t{4} << 20);
  const int blocks = (rows + block - 1) / block;
  std::atomic<unsigned> sink{0};
  for (auto _ : state) {
    struct Reader {
      std::unique_ptr<rasterio::RowReader> file;
      nrutil::FileWindow window;
      std::vector<unsigned char> bytes;
      std::vector<unsigned char*> rows;
      std::vector<const unsigned char*> view;
    };
    std::vector<std::vector<Reader>> per(static_cast<std::size_t>(threads));
    for (auto& readers : per) {
      readers.resize(kImages);
      for (int k = 0; k < kImages; ++k) {
        Reader& r = readers[static_cast<std::size_t>(k)];
        r.file = std::move(core::reopen(a.images[static_cast<std::size_t>(k)]).value());
        r.bytes.resize(static_cast<std::size_t>(block) * cols);
        for (int i = 0; i < block; ++i)
          r.rows.push_back(r.bytes.data() + std::size_t{1} * i * cols);
        r.view.resize(static_cast<std::size_t>(block));
      }
    }
    core::for_each_block(threads, blocks, [&](int worker, int b) -> core::Status {
      const int first = b * block;
      const int n = std::min(block, rows - first);
      unsigned sum = 0;
      for (Reader& r : per[static_cast<std::size_t>(worker)]) {
        if (mapped) {
          r.file->map_rows_at(first, r.view.data(), n, r.window);
        } else {
          r.file->read_rows_at(first, r.rows.data(), n);
          for (int i = 0; i < n; ++i) r.view[static_cast<std::size_t>(i)] = r.rows[i];
        }
        nrutil::read_mapped([&] {
          for (int i = 0; i < n; ++i) {
            for (int j = 0; j < cols; j += 64) sum += r.view[static_cast<std::size_t>(i)][j];
          }
        });
      }
      sink += sum;
      return std::nullopt;
    });
  }
  benchmark::DoNotOptimize(sink.load());
  state.SetItemsProcessed(state.iterations() * a.cells());
  state.SetBytesProcessed(state.iterations() * a.cells() * kImages);
}

BENCHMARK(ScanPass)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LevelPass)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ResultPass)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadInputs)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({0, 2})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
