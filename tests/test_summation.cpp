// Weighted summation, the level bounds and the level of every cell.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <random>

#include "core/cell_loops.h"
#include "core/levels.h"
#include "core/summation.h"
#include "support/child.h"
#include "support/images.h"

namespace {

using testing_support::ScratchDir;
using testing_support::write_file;

// The builds of the row kernels; each is tested where the processor runs it.
const core::Isa kIsas[] = {core::Isa::Baseline, core::Isa::Avx2};

// The level as the scan over every level gives it: the last k whose interval holds dval; the
// largest valid sum itself is in the top level.
int literal_scan(const core::Levels& lv, double dval) {
  if (dval == lv.max_sum) return lv.count;
  int out = 255;
  for (int k = 1; k <= lv.count; ++k) {
    if (lv.lower[k] <= dval && dval < lv.upper[k]) out = k;
  }
  return out;
}

TEST(Levels, BoundsAreRunningSumsAndTileTheRange) {
  core::Levels lv;
  lv.build(10.0, 4);
  EXPECT_EQ(lv.lower[1], 0.0);
  for (int k = 1; k < 4; ++k) EXPECT_EQ(lv.lower[k + 1], lv.upper[k]);
  EXPECT_EQ(lv.level_of(2.5), 2);
  EXPECT_EQ(lv.level_of(0.0), 1);
  EXPECT_EQ(lv.level_of(10.0), 4);  // the bound ends exactly at the maximum, which is in level 4
  EXPECT_EQ(lv.level_of(10.5), 255);
  EXPECT_EQ(lv.level_of(-0.1), 255);
  lv.build(50.0, 6);
  EXPECT_EQ(lv.upper[6], 50.00000000000001);
  EXPECT_EQ(lv.level_of(50.0), 6);
  lv.build(1.0, 10);
  EXPECT_EQ(lv.upper[10], 0.9999999999999999);
  EXPECT_EQ(lv.level_of(1.0), 10);  // the bound ends below the maximum
  lv.build(0.0, 5);                 // every sum 0: every interval empty, but 0 is the maximum
  EXPECT_EQ(lv.level_of(0.0), 5);
  EXPECT_EQ(lv.level_of(1e-300), 255);
}

TEST(Levels, SearchAgreesWithTheScanOnRandomSumsAndOnEveryBound) {
  std::mt19937_64 rng(20231206);
  std::uniform_real_distribution<double> maxima(0.0, 5000.0);
  for (int trial = 0; trial < 400; ++trial) {
    const int segments = 1 + trial % 99;
    const double max_sum = trial % 7 == 0 ? std::floor(maxima(rng)) : maxima(rng);
    core::Levels lv;
    lv.build(max_sum, segments);
    std::uniform_real_distribution<double> sums(-1.0, max_sum * 1.01 + 1.0);
    std::vector<double> probes = {0.0, -0.0, max_sum, -1e-300, 1e300};
    for (int k = 0; k <= segments; ++k) {
      for (double b : {lv.lower[k], lv.upper[k]}) {
        probes.push_back(b);
        probes.push_back(std::nextafter(b, -INFINITY));
        probes.push_back(std::nextafter(b, INFINITY));
      }
    }
    for (int n = 0; n < 200; ++n) probes.push_back(sums(rng));
    for (double d : probes) {
      ASSERT_EQ(lv.level_of(d), literal_scan(lv, d))
          << "max " << max_sum << " levels " << segments << " sum " << d;
    }
  }
}

// The grid loop reads most levels from a bucket table: every cell must still get what the
// scan gives, on random sums, on every bound and its neighbours, next to every bucket edge,
// and for maxima from subnormal to huge (where no table can be built).
TEST(Levels, GridAssignmentAgreesWithTheScan) {
  std::mt19937_64 rng(7);
  const double maxima[] = {0.0,    1.0,   10.0,  50.0,  104.5, 255.0 * 3.75, 4999.99,
                           1e-310, 1e-30, 1e300, 1e308, 3e-5,  987654.321};
  for (const double max_sum : maxima) {
    for (const int segments : {1, 2, 7, 10, 33, 99}) {
      core::Levels lv;
      lv.build(max_sum, segments);
      std::vector<double> sums = {0.0,       -0.0,  max_sum,
                                  -1e-300,   1e300, INFINITY,
                                  -INFINITY, NAN,   std::numeric_limits<double>::denorm_min()};
      for (int k = 0; k <= segments; ++k) {
        for (double b : {lv.lower[k], lv.upper[k]}) {
          sums.push_back(b);
          for (double toward : {-INFINITY, INFINITY}) {
            double c = b;
            for (int u = 0; u < 3; ++u) sums.push_back(c = std::nextafter(c, toward));
          }
        }
      }
      if (lv.bucket_scale > 0.0) {
        for (int q = 0; q <= core::Levels::kBuckets; q += 97) {
          const double edge = q / lv.bucket_scale;
          sums.push_back(edge);
          sums.push_back(std::nextafter(edge, -INFINITY));
          sums.push_back(std::nextafter(edge, INFINITY));
        }
      }
      std::uniform_real_distribution<double> any(-0.01 * max_sum, max_sum * 1.01);
      for (int n = 0; n < 3000; ++n) sums.push_back(any(rng));
      std::vector<unsigned char> last(sums.size(), 0);
      for (std::size_t j = 0; j < last.size(); j += 5)
        last[j] = static_cast<unsigned char>(j % 256);
      for (const core::Isa isa : kIsas) {
        if (!core::runs(isa)) continue;
        std::vector<unsigned char> out(sums.size());
        core::assign_levels(lv, last.data(), sums.data(), sums.size(), out.data(), isa);
        for (std::size_t j = 0; j < sums.size(); ++j) {
          const int want = last[j] < 255 ? literal_scan(lv, sums[j]) : 255;
          ASSERT_EQ(out[j], want) << "max " << max_sum << " levels " << segments << " sum "
                                  << sums[j] << " last " << int{last[j]} << " isa "
                                  << static_cast<int>(isa);
        }
      }
    }
  }
}

// ---- the per-cell loops ----

TEST(CellLoops, CountsMatchANaiveCountWhateverTheRowsAndFlushes) {
  std::mt19937 rng(3);
  // Single values, then runs of every length up to 70 (the counter adds sixteen equal cells
  // at once).
  std::vector<unsigned char> v(10007);
  for (auto& b : v) b = static_cast<unsigned char>(rng() % 7 == 0 ? 255 : rng() % 40);
  for (std::size_t at = 4000; at < v.size();) {
    const std::size_t run = 1 + rng() % 70;
    const auto value = static_cast<unsigned char>(rng() % 256);
    for (std::size_t k = at; k < std::min(at + run, v.size()); ++k) v[k] = value;
    at += run;
  }
  std::int64_t naive[256] = {};
  for (unsigned char b : v) ++naive[b];
  for (const std::size_t flush_every :
       {std::size_t{1}, std::size_t{5}, std::size_t{1000}, core::ValueCounter::kFlushEvery}) {
    for (const std::size_t row : {std::size_t{1}, std::size_t{3}, std::size_t{64}, v.size()}) {
      core::ValueCounter c(flush_every);
      for (std::size_t at = 0; at < v.size(); at += row) {
        c.add(v.data() + at, std::min(row, v.size() - at));
      }
      for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(c.count(b), naive[b]) << "value " << b << " flush " << flush_every;
      }
    }
  }
}

TEST(CellLoops, SumsStartFromZeroAndAddRoundedProductsInImageOrder) {
  // Six images: two groups of the loop (four, then two), each product rounded before it is
  // added, image after image.
  const unsigned char v[6][4] = {{0, 3, 255, 7}, {1, 2, 3, 4},   {9, 8, 7, 6},
                                 {5, 5, 5, 5},   {0, 1, 0, 255}, {2, 2, 2, 2}};
  const double w[6] = {-0.1, 0.7, 1.0 / 3, 2.5e-9, 1e17, -0.3};
  const unsigned char* rows[6] = {v[0], v[1], v[2], v[3], v[4], v[5]};
  for (int count = 1; count <= 6; ++count) {
    double acc[4] = {9.0, 9.0, 9.0, 9.0};
    core::weighted_sum(rows, w, count, 4, acc);
    for (int j = 0; j < 4; ++j) {
      volatile double want = 0.0;
      for (int k = 0; k < count; ++k) {
        volatile double product = v[k][j] * w[k];
        want = want + product;
      }
      EXPECT_EQ(acc[j], want) << count << " images, cell " << j;
    }
  }
  // A zero-filled accumulator gives +0.0 for 0 x -0.1 (0.0 + -0.0): not the bare -0.0.
  double acc[4];
  core::weighted_sum(rows, w, 1, 4, acc);
  EXPECT_FALSE(std::signbit(acc[0]));
}

// The row kernels work on whole vectors in pieces of the row: on every length around the
// vector and piece sizes, for one to six images, with weights that keep the sums finite,
// make them infinite or NaN, or lie just inside the bound where the check is skipped, they
// must give what the plain loops give: the largest valid sum, the finiteness of the valid
// sums, and the level the scan gives every valid cell.
TEST(CellLoops, RowKernelsAgreeWithThePlainLoops) {
  std::mt19937 rng(11);
  const std::vector<std::vector<double>> weight_sets = {
      {1.5, 2.0, 0.75, 1.25, 3.0, 0.5},
      {0.1, 1.0 / 3, 0.7, -1.5, 2.25, -0.3},
      {-1.0, -2.0, -0.5, -1.0, -1.0, -1.0},           // every sum below 0: the maximum stays 0
      {1e306, 1e306, 1e306, 1e306, 1e306, 1e306},     // infinite sums
      {1e308, -1e308, 1e308, -1e308, 1e308, -1e308},  // infinities of both signs: NaN
      {1e305, 1e305, 1e305, 1e305, 1e305, 1e305},     // no check needed for up to three images
  };
  const std::size_t lengths[] = {0, 1, 3, 4, 5, 7, 511, 512, 513, 1030, 2049};
  for (const std::vector<double>& w : weight_sets) {
    for (int count = 1; count <= 6; ++count) {
      for (const std::size_t n : lengths) {
        std::vector<std::vector<unsigned char>> v(static_cast<std::size_t>(count),
                                                  std::vector<unsigned char>(n));
        for (auto& row : v) {
          for (auto& b : row) {
            const unsigned r = rng() % 10;
            b = static_cast<unsigned char>(r == 0 ? 255 : r == 1 ? 0 : rng() % 40);
          }
        }
        std::vector<const unsigned char*> rows;
        for (const auto& row : v) rows.push_back(row.data());
        const unsigned char* valid = rows.back();
        // The plain loops: each product rounded, added image after image from 0.0.
        std::vector<double> sums(n);
        double max_sum = 0.5;  // the maximum of earlier rows carries on
        bool finite = true;
        for (std::size_t j = 0; j < n; ++j) {
          volatile double sum = 0.0;
          for (int k = 0; k < count; ++k) {
            volatile double product =
                v[static_cast<std::size_t>(k)][j] * w[static_cast<std::size_t>(k)];
            sum = sum + product;
          }
          sums[j] = sum;
          if (valid[j] < 255 && sums[j] > max_sum) max_sum = sums[j];
          if (valid[j] < 255 && !std::isfinite(sums[j])) finite = false;
        }
        ASSERT_EQ(core::valid_sums_finite(valid, sums.data(), n), finite);
        if (core::sums_always_finite(w.data(), count)) {
          ASSERT_TRUE(finite) << w[0] << ", " << count << " images";
        }
        for (const core::Isa isa : kIsas) {
          if (!core::runs(isa)) continue;
          const auto where = [&] {
            return "weights " + std::to_string(w[0]) + ", " + std::to_string(count) + " images, " +
                   std::to_string(n) + " cells, isa " + std::to_string(static_cast<int>(isa));
          };
          core::SumChecks checks;
          checks.max_sum = 0.5;
          core::check_sums(rows.data(), w.data(), count, n, valid, true, checks, isa);
          ASSERT_EQ(checks.finite, finite) << where();
          if (finite) {
            ASSERT_EQ(checks.max_sum, max_sum) << where();
          }
          core::SumChecks unchecked;
          core::check_sums(rows.data(), w.data(), count, n, valid, false, unchecked, isa);
          ASSERT_TRUE(unchecked.finite);
          if (!finite) continue;
          for (const int levels : {1, 10, 99}) {
            core::Levels lv;
            lv.build(max_sum, levels);
            std::vector<unsigned char> out(n, 77);
            core::level_sums(rows.data(), w.data(), count, n, valid, lv, out.data(), isa);
            for (std::size_t j = 0; j < n; ++j) {
              const int want = valid[j] < 255 ? literal_scan(lv, sums[j]) : 255;
              ASSERT_EQ(out[j], want) << where() << ", cell " << j << ", " << levels << " levels";
            }
          }
        }
        if (count > 1) {
          std::int64_t nodata = 0;
          for (std::size_t j = 0; j < n; ++j) nodata += v[0][j] == 255 && valid[j] < 255;
          ASSERT_EQ(core::count_nodata_in_valid(rows[0], valid, n), nodata) << n << " cells";
        }
      }
    }
  }
}

class Summation : public ::testing::Test {
 protected:
  // Writes a raw image with its descriptor.
  void raw(const std::string& base, int rows, int cols, const std::string& bytes) {
    write_file(dir.file(base + ".raw"), bytes);
    write_file(dir.file(base + ".txt"),
               std::to_string(rows) + " " + std::to_string(cols) + " 1 0 255 1");
  }
  // What the core makes of the images (raw unless said otherwise, with the given weights).
  struct Summed {
    std::vector<core::ImageRead> images;
    core::Summation sums;
  };
  std::unique_ptr<Summed> run(const std::vector<std::pair<std::string, double>>& images, int levels,
                              std::vector<int> formats = {}) {
    auto out = std::make_unique<Summed>();
    std::vector<core::SumInput> inputs;
    out->images.reserve(images.size());
    for (std::size_t k = 0; k < images.size(); ++k) {
      const core::InputGrid g{dir.file(images[k].first), formats.empty() ? 0 : formats[k]};
      const core::Outcome<core::DescriptorLookup> d = core::look_up_descriptor(g);
      const bool raw = g.format == 0;
      core::Outcome<core::OpenedGrid> opened =
          core::open_grid(g, raw ? &d.value().descriptor : nullptr, {}, {});
      EXPECT_TRUE(opened.ok());
      core::Outcome<core::ImageRead> im = core::read_image(std::move(opened.value()), k == 0);
      EXPECT_TRUE(im.ok());
      out->images.push_back(std::move(im.value()));
    }
    for (std::size_t k = 0; k < images.size(); ++k) {
      inputs.push_back({&out->images[k], images[k].second});
    }
    core::Outcome<core::Summation> sums = core::sum_and_level(inputs, levels);
    EXPECT_TRUE(sums.ok());
    out->sums = std::move(sums.value());
    return out;
  }
  // The level grid, row by row.
  static std::string levels(const Summed& s) {
    std::string out;
    for (int i = 0; i < s.sums.grid.nb_lig(); ++i)
      out.append(reinterpret_cast<const char*>(s.sums.grid[i]), s.sums.grid.nb_col());
    return out;
  }
  ScratchDir dir;
};

TEST_F(Summation, WeightedValuesAddUpInImageOrder) {
  raw("a", 1, 3, std::string("\x0A\x00\x05", 3));
  raw("b", 1, 3, std::string("\x14\x01\x05", 3));
  auto s = run({{"a", 1.0}, {"b", 2.0}}, 5);
  // Sums 50, 2 and 15: 50, the maximum, is in the top level; 15 lies in [10, 20).
  EXPECT_EQ(s->sums.levels.max_sum, 50.0);
  EXPECT_EQ(s->sums.levels.step, 10.0);
  EXPECT_EQ(levels(*s), std::string("\x05\x01\x02", 3));
  EXPECT_TRUE(s->images[0].zeros.test(0, 1));  // the first image holds 0 there
  EXPECT_FALSE(s->images[0].zeros.test(0, 0));
}

TEST_F(Summation, OneRawImageMakesEveryCellValidIncluding255) {
  raw("a", 1, 3, std::string("\xFF\x00\x33", 3));
  auto s = run({{"a", 1.0}}, 3);
  EXPECT_EQ(s->sums.levels.max_sum, 255.0);  // the 255 cell is valid: it raises the maximum
  EXPECT_EQ(levels(*s), std::string("\x03\x01\x01", 3));  // 255, the maximum; 51 < 85
  EXPECT_FALSE(s->images[0].zeros.test(0, 0));
}

TEST_F(Summation, LastImage255CellsAreNotValidWhateverTheirSum) {
  raw("a", 1, 2, std::string("\x01\x02", 2));
  raw("b", 1, 2, std::string("\xFF\x02", 2));
  auto s = run({{"a", 1.0}, {"b", 1.0}}, 2);
  EXPECT_EQ(s->sums.levels.max_sum, 4.0);
  EXPECT_EQ(s->sums.grid[0][0], 255);
}

TEST_F(Summation, ZeroAndNegativeWeights) {
  raw("a", 1, 3, std::string("\x01\x02\x03", 3));
  {
    auto s = run({{"a", 0.0}}, 4);  // every sum 0, the maximum: the top level
    EXPECT_EQ(levels(*s), std::string(3, '\x04'));
  }
  raw("b", 1, 3, std::string("\x04\x01\x01", 3));
  auto s = run({{"a", 1.0}, {"b", -1.0}}, 2);  // sums -3, 1, 2
  EXPECT_EQ(s->sums.levels.max_sum, 2.0);
  EXPECT_EQ(s->sums.grid[0][0], 255);
  EXPECT_EQ(s->sums.grid[0][1], 2);
}

TEST_F(Summation, AsciiFirstImageGetsAMaskWithoutTheRewrite) {
  write_file(dir.file("g.asc"), "ncols 3\nnrows 1\nx 0\ny 0\nc 1\nn 0\n0 255 4\n");
  auto s = run({{"g", 1.0}}, 2, {2});
  EXPECT_TRUE(s->images[0].zeros.test(0, 0));
  EXPECT_FALSE(s->images[0].zeros.test(0, 1));
  EXPECT_EQ(s->sums.levels.max_sum, 4.0);  // not rewritten: the 255 cell stays invalid
  EXPECT_EQ(levels(*s), std::string("\x01\xFF\x02", 3));
  EXPECT_TRUE(core::after_grid({}, s->images[0].facts).corner.has_value());
}

// Cells where an image before the last holds 255 while the last image holds a value: their
// sums take 255 x that image's weight. The run says so on standard error, one line per
// image in the run's language, and nowhere else; the levels stay as they are.
TEST(NoDataInSums, EachImageBeforeTheLastIsNamedOnStandardErrorOnly) {
  ScratchDir dir;
  const std::string zone = dir.file("zone");
  std::filesystem::create_directories(zone);
  const std::pair<const char*, std::string> images[] = {
      {"a", std::string("\xFF\x01\xFF\x02\x03\x04", 6)},   // 255 in two valid cells
      {"b", std::string("\x05\xFF\x06\xFF\x07\x08", 6)},   // one valid, one not
      {"c", std::string("\x01\x02\x03\xFF\x04\x05", 6)}};  // the last: one cell not valid
  for (const auto& [name, cells] : images) {
    write_file(zone + "/" + name + ".raw", cells);
    write_file(zone + "/" + name + ".txt", "2\n3\n1\n0\n255\n10\n");
  }
  const testing_support::ChildRun run = testing_support::run_binary(
      "1\n2\n" + dir.path() + "\nzone\n3\na\nb\nc\n0\n0\n0\n1\n1\n1\n1\nres\n0\n5\n1\n");
  ASSERT_EQ(run.status, 0) << run.out;
  const std::string tail =
      ") ; leurs sommes comptent 255 x le poids de cette image. Donnez 255 \x85 ces cellules dans "
      "la derni\x8Are image (aucun niveau), ou 0 dans la premi\x8Are image (fond), ou pr\x82parez "
      "les couches avec tessera_gis prepare.\n";
  const std::string head = "Note : " + dir.path() + "\\zone\\";
  const std::string middle =
      " contient 255 (pas de donn\x82"
      "es) l\x85 o\x97 la derni\x8Are image "
      "a une valeur (cellules : ";
  EXPECT_EQ(run.err, head + "a.raw" + middle + "2" + tail + head + "b.raw" + middle + "1" + tail);
  EXPECT_EQ(run.out.find("tessera_gis"), std::string::npos);
  EXPECT_EQ(testing_support::read_file(zone + "/res_info.txt").find("tessera_gis"),
            std::string::npos);
  // The sums 261, 258, 264, -, 14 and 17 cut into 5 levels of 52.8; 264, the maximum, is in
  // the top level.
  EXPECT_EQ(testing_support::read_file(zone + "/res_tessum.raw"),
            std::string("\x05\x05\x05\xFF\x01\x01", 6));
}

// The passes share their blocks of rows among the threads, and the threads' findings are
// gathered in a fixed order: one, two and four threads write the same bytes, console and
// files. The area has blocks enough for four threads (raw, BMP and ASCII images, a mask,
// first-image 0 cells, no data under valid cells, holes).
TEST(Threads, OneTwoAndFourThreadsWriteTheSameBytes) {
  ScratchDir dir;
  const std::string zone = dir.file("zone");
  std::filesystem::create_directories(zone);
  const int rows = 1300, cols = 1500;
  std::minstd_rand rng(5);
  std::string cells[3], mask;
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      for (int k = 0; k < 3; ++k) {
        const unsigned r = rng() % 500;
        cells[k].push_back(static_cast<char>(r == 0   ? 255
                                             : r == 1 ? 0
                                                      : 1 + (i / 5 * 3 + j / 5 * (k + 1)) % 30));
      }
      mask.push_back(static_cast<char>(j < 40 || i > rows - 30 ? 255 : 1));
    }
  }
  write_file(zone + "/a.raw", cells[0]);
  write_file(zone + "/a.txt", "1300\n1500\n1\n0\n255\n25\n");
  write_file(zone + "/b.bmp", testing_support::bmp_bytes(cols, rows, cells[1]));
  std::string ascii =
      "ncols 1500\nnrows 1300\nxllcorner 500000\nyllcorner 4000000\n"
      "cellsize 25\nNODATA_value 255\n";
  for (const char c : cells[2]) ascii += std::to_string(static_cast<unsigned char>(c)) + " ";
  write_file(zone + "/c.asc", ascii);
  write_file(zone + "/mask.raw", mask);
  write_file(zone + "/mask.txt", "1300\n1500\n1\n0\n255\n25\n");
  const std::string answers = "0\n2\n" + dir.path() +
                              "\nzone\n3\na\nb\nc\n0\n1\n2\n0.1\n0.3333333333333333\n0.7\n"
                              "0\nmask\n0\nres\n2\n9\n1\n";
  std::map<std::string, std::string> first;
  for (const int threads : {1, 2, 4}) {
    testing_support::ChildOptions o;
    o.env = "TESSERA_THREADS=" + std::to_string(threads);
    const testing_support::ChildRun run = testing_support::run_binary(answers, o);
    ASSERT_EQ(run.status, 0) << run.out;
    std::map<std::string, std::string> outputs = {{"console", run.out}, {"notes", run.err}};
    for (const auto& f : std::filesystem::directory_iterator(zone)) {
      const std::string name = f.path().filename().string();
      if (name.rfind("res_", 0) == 0) {
        outputs[name] = testing_support::read_file(f.path());
        std::filesystem::remove(f.path());
      }
    }
    if (threads == 1) {
      EXPECT_NE(outputs["notes"].find("a.raw holds 255"), std::string::npos);
      EXPECT_EQ(outputs.count("res_tessum.asc"), 1u);
      first = outputs;
      continue;
    }
    ASSERT_EQ(outputs.size(), first.size()) << threads << " threads";
    for (const auto& [name, bytes] : first) {
      EXPECT_TRUE(outputs[name] == bytes) << name << " differs with " << threads << " threads";
    }
  }
}

}  // namespace
