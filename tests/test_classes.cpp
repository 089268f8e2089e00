// Class methods of the composite: levels of any bounds against the literal scan, and the
// streamed quantile search against a sort of every sum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "core/classes.h"

namespace {

int literal_scan(const core::Levels& lv, double d) {
  if (d == lv.max_sum) return lv.count;
  int out = 255;
  for (int k = 1; k <= lv.count; ++k) {
    if (lv.lower[k] <= d && d < lv.upper[k]) out = k;
  }
  return out;
}

// Every sum of interest for a set of levels: each bound and its neighbours, bucket edges, and
// random sums over and around the range.
std::vector<double> probes(const core::Levels& lv, std::mt19937_64& rng) {
  std::vector<double> s = {lv.max_sum, -lv.max_sum, 0.0, NAN, INFINITY, -INFINITY};
  for (int k = 0; k <= lv.count; ++k) {
    for (double b : {lv.lower[k], lv.upper[k]}) {
      s.push_back(b);
      double lo = b, hi = b;
      for (int u = 0; u < 3; ++u) {
        s.push_back(lo = std::nextafter(lo, -INFINITY));
        s.push_back(hi = std::nextafter(hi, INFINITY));
      }
    }
  }
  if (lv.bucket_scale > 0.0) {
    for (int q = 0; q <= core::Levels::kBuckets; q += 61) {
      const double edge = lv.origin + q / lv.bucket_scale;
      s.push_back(edge);
      s.push_back(std::nextafter(edge, -INFINITY));
      s.push_back(std::nextafter(edge, INFINITY));
    }
  }
  const double w = lv.upper[lv.count] - lv.lower[1];
  std::uniform_real_distribution<double> any(lv.lower[1] - 0.02 * w, lv.upper[lv.count] + 0.02 * w);
  for (int n = 0; n < 2000; ++n) s.push_back(any(rng));
  return s;
}

void expect_scan(const core::Levels& lv, std::mt19937_64& rng, const char* what) {
  const std::vector<double> sums = probes(lv, rng);
  std::vector<unsigned char> valid(sums.size(), 0);
  std::vector<unsigned char> out(sums.size());
  lv.assign(valid.data(), sums.data(), sums.size(), out.data());
  for (std::size_t j = 0; j < sums.size(); ++j) {
    ASSERT_EQ(lv.level_of(sums[j]), literal_scan(lv, sums[j])) << what << " sum " << sums[j];
    ASSERT_EQ(out[j], literal_scan(lv, sums[j])) << what << " sum " << sums[j];
  }
}

// Min-max levels and bounds of any kind (far from 0, narrow beside their size, negative,
// with empty levels) give every sum the level of the scan, in the search and in the grid loop.
TEST(Classes, LevelsOfAnyBoundsAgreeWithTheScan) {
  std::mt19937_64 rng(99);
  const double ranges[][2] = {{0.0, 10.0},       {-50.0, 50.0},    {-7.5, -0.25},
                              {1e6, 1e6 + 1e-3}, {1e15, 1e15 + 2}, {3.0, 3.0},
                              {-1e300, 1e300},   {1e-310, 3e-310}, {250.0, 762.0}};
  for (const auto& r : ranges) {
    for (const int n : {1, 2, 7, 10, 99}) {
      const core::Levels lv = core::minmax_levels(r[0], r[1], n);
      EXPECT_EQ(lv.lower[1], r[0]);
      for (int k = 1; k < n; ++k) ASSERT_EQ(lv.lower[k + 1], lv.upper[k]);
      expect_scan(lv, rng, "minmax");
      // Bounds with ties (empty levels), as quantiles give them.
      std::vector<double> b(static_cast<std::size_t>(n) + 1);
      std::uniform_int_distribution<int> pick(0, 3);
      b[0] = r[0];
      for (int k = 1; k <= n; ++k) {
        b[static_cast<std::size_t>(k)] =
            pick(rng) == 0 ? b[static_cast<std::size_t>(k) - 1] : r[0] + (r[1] - r[0]) * k / n;
      }
      b[static_cast<std::size_t>(n)] = r[1];
      std::sort(b.begin(), b.end());
      core::Levels q;
      q.build_bounds(b.data(), r[1], n, 0.0);
      expect_scan(q, rng, "bounds");
    }
  }
}

// The quantile bounds by the documented rule, from every sum sorted.
std::vector<double> reference_bounds(std::vector<double> s, int n) {
  std::sort(s.begin(), s.end());
  const auto total = static_cast<std::int64_t>(s.size());
  std::vector<double> b = {s.front()};
  for (int k = 1; k < n; ++k) {
    const std::int64_t r = std::min<std::int64_t>(total - 1, k * total / n);
    const double v = s[static_cast<std::size_t>(r)];
    const auto below = std::lower_bound(s.begin(), s.end(), v) - s.begin();
    const auto upto = std::upper_bound(s.begin(), s.end(), v) - s.begin();
    const std::int64_t want = k * total;
    const bool up = upto < total && std::llabs(n * upto - want) < std::llabs(n * below - want);
    b.push_back(up ? s[static_cast<std::size_t>(upto)] : v);
  }
  b.push_back(s.back());
  return b;
}

core::Levels streamed(const std::vector<double>& s, const std::vector<unsigned char>& valid, int n,
                      std::size_t budget, int& passes) {
  core::QuantileSearch q(n, budget);
  while (!q.done()) {
    // In uneven pieces, as blocks of rows come.
    for (std::size_t at = 0; at < s.size(); at += 1237) {
      const std::size_t len = std::min<std::size_t>(1237, s.size() - at);
      q.add(s.data() + at, valid.data() + at, len);
    }
    q.end_pass();
    EXPECT_LE(q.passes(), 6);
    if (q.passes() > 6) break;
  }
  passes = q.passes();
  return q.levels();
}

// Sums of many shapes: whole numbers with heavy ties, weighted bytes, one value, two values,
// one sum, sums that are all distinct, negative sums, and a distribution whose quantiles all
// fall among a crowd of distinct sums packed into one first-pass bin, with a budget too small
// to keep them, so that the search must cut the bin finer. Cells marked invalid are ignored.
// The quantiles of the same sums given as distinct values with counts are the same bounds.
TEST(Classes, StreamedQuantilesAreTheBoundsOfTheSortedSums) {
  std::mt19937_64 rng(5);
  std::vector<std::vector<double>> cases;
  std::uniform_int_distribution<int> byte(0, 254);
  std::vector<double> v;
  for (int i = 0; i < 50000; ++i) v.push_back(byte(rng) % 7);  // 7 values, heavy ties
  cases.push_back(v);
  v.clear();
  for (int i = 0; i < 60000; ++i) v.push_back(byte(rng) * 1.5 + byte(rng) * 0.1 + byte(rng) / 3.0);
  cases.push_back(v);
  cases.push_back(std::vector<double>(1000, 42.0));
  v.assign(900, 1.0);
  v.resize(1000, 5.0);
  cases.push_back(v);
  cases.push_back({3.25});
  v.clear();
  std::normal_distribution<double> normal(-20.0, 5.0);
  for (int i = 0; i < 30000; ++i) v.push_back(normal(rng));
  cases.push_back(v);
  v.clear();
  for (int i = 0; i < 40000; ++i) v.push_back(1000.0 + i * 1e-9);  // one first-pass bin
  std::shuffle(v.begin(), v.end(), rng);
  cases.push_back(v);
  for (std::size_t c = 0; c < cases.size(); ++c) {
    std::vector<double> sums = cases[c];
    std::vector<unsigned char> valid(sums.size(), 0);
    std::vector<double> kept;
    for (std::size_t j = 0; j < sums.size(); ++j) {
      if (j % 11 == 3 && sums.size() > 1) {
        valid[j] = 255;
        sums[j] = 1e9;  // not a sum of the study area
      } else {
        kept.push_back(sums[j]);
      }
    }
    std::map<double, std::int64_t> tally;
    for (const double d : kept) ++tally[d];
    std::vector<std::pair<double, std::int64_t>> counted(tally.rbegin(), tally.rend());
    for (const int n : {1, 2, 3, 10, 99}) {
      const core::Levels of_counts = core::quantile_levels(counted, n);
      for (const std::size_t budget : {std::size_t{64} << 20, std::size_t{4096}}) {
        int passes = 0;
        const core::Levels lv = streamed(sums, valid, n, budget, passes);
        const std::vector<double> want = reference_bounds(kept, n);
        ASSERT_EQ(lv.count, n);
        EXPECT_EQ(lv.max_sum, want.back());
        for (int k = 0; k < n; ++k) {
          ASSERT_EQ(lv.lower[k + 1], want[static_cast<std::size_t>(k)])
              << "case " << c << " levels " << n << " budget " << budget << " bound " << k;
          ASSERT_EQ(of_counts.lower[k + 1], lv.lower[k + 1]) << "case " << c << " bound " << k;
          ASSERT_EQ(of_counts.upper[k + 1], lv.upper[k + 1]) << "case " << c << " bound " << k;
        }
        if (c + 1 == cases.size() && budget == 4096 && n == 10) {
          EXPECT_GE(passes, 3);  // the crowded bin was cut finer
        }
      }
    }
  }
  // With one value every level but the top is empty, and every cell is in the top level.
  int passes = 0;
  const std::vector<double> same(100, 7.0);
  const core::Levels lv = streamed(same, std::vector<unsigned char>(100, 0), 4, 1 << 20, passes);
  EXPECT_EQ(lv.level_of(7.0), 4);
}

}  // namespace
