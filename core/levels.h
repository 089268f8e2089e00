// The levels of a run: the bounds that cut the range of the valid sums into intervals (by
// default equal intervals from 0 to the largest valid sum), and the level of a sum, found in
// constant time.
#pragma once

#include <cstddef>

#include "rasterio/run_files.h"

namespace core {

inline constexpr int kMaxLevels = rasterio::kMaxLevels;

// The level bounds of a run and the level of a sum.
struct Levels {
  double max_sum = 0.0;  // the largest valid sum, at least 0.0
  double step = 0.0;     // the width of a level: max_sum / count
  double lower[kMaxLevels + 1] = {};
  double upper[kMaxLevels + 1] = {};
  int count = 0;
  double inv_step = 0.0;  // levels per unit of sum: only a first guess of the level
  double origin = 0.0;    // lower[1], where the levels start (0.0 for equal levels from 0)
  // The step from the largest valid sum, the bounds as running sums of the step (entry 0
  // the seed), then the bucket table of assign. `level_count` lies in 1..kMaxLevels.
  void build(double max_valid, int level_count);
  // Levels of any bounds: level k covers [bounds[k - 1], bounds[k]) for k in 1..level_count
  // (bounds holds level_count + 1 non-decreasing finite values; equal neighbours make an
  // empty level), and the largest valid sum `max_valid` is in the top level. `level_step`
  // is only recorded (0 where the levels have no common width).
  void build_bounds(const double* bounds, double max_valid, int level_count, double level_step);
  // The level k with lower[k] <= sum < upper[k], or 255 when there is none: the level
  // the scan over every level gives, found in constant time. The largest valid sum itself is
  // always in the top level, wherever the running bounds have landed around it.
  unsigned char level_of(double sum) const {
    if (sum == max_sum && count >= 1) return static_cast<unsigned char>(count);
    // The levels tile [lower[1], upper[count]) with neither gap nor overlap
    // (lower[k + 1] == upper[k]), so a sum in that range has exactly one level; outside
    // it (or NaN) none.
    if (count < 1 || !(sum >= lower[1]) || !(sum < upper[count])) return 255;
    // Guess from the quotient, then step to the level whose running bounds hold sum: the
    // bounds decide, the guess only saves the search (it is off by one at most, except for
    // steps too small to invert, where the walk is longer but still exact).
    const double x = (sum - origin) * inv_step;
    int k = x < count ? static_cast<int>(x) + 1 : count;
    while (sum < lower[k]) --k;
    while (sum >= upper[k]) ++k;
    return static_cast<unsigned char>(k);
  }
  // out[j] = the level of sum[j] where valid[j] is below 255, else 255, for j < n: what
  // level_of gives, mostly read from the bucket table. out may be valid itself.
  void assign(const unsigned char* valid, const double* sum, std::size_t n,
              unsigned char* out) const;

  // The range [origin, upper[count]) cut into kBuckets equal buckets; bucket q holds the
  // level of every sum whose quotient (sum - origin) * bucket_scale truncates to q, or 0 when
  // a bound lies in or next to the bucket (those sums go through level_of).
  static constexpr int kBuckets = 16384;
  double bucket_scale = 0.0;
  // Four more entries, always 0, so that a 4-byte load at any bucket stays inside the table.
  unsigned char bucket_level[kBuckets + 4] = {};

 private:
  void build_buckets();
};

}  // namespace core
