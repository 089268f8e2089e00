// The levels of a run: the bounds that cut the range from 0 to the largest valid sum into
// equal intervals, and the level of a sum, found in constant time.
#pragma once

#include <cstddef>

namespace core {

inline constexpr int kMaxLevels = 99;

// The level bounds of a run and the level of a sum.
struct Levels {
  double max_hist = 0.0;   // the largest valid sum, at least 0.0
  double step_hist = 0.0;  // the width of a level: max_hist / num_segm
  double esc_min[kMaxLevels + 1] = {};
  double esc_max[kMaxLevels + 1] = {};
  int num_segm = 0;
  double inv_step = 0.0;  // 1 / step: only a first guess of the level, see level_of
  // The step from the largest valid sum, the bounds as running sums of the step (entry 0
  // the seed), then the bucket table of assign. `segments` lies in 1..kMaxLevels.
  void build(double max_valid, int segments);
  // The level k with esc_min[k] <= dval < esc_max[k], or 255 when there is none: the level
  // the scan over every level gives, found in constant time. The largest valid sum itself is
  // always in the top level, wherever the running bounds have landed around it.
  unsigned char level_of(double dval) const {
    if (dval == max_hist && num_segm >= 1) return static_cast<unsigned char>(num_segm);
    // The levels tile [esc_min[1], esc_max[num_segm]) with neither gap nor overlap
    // (esc_min[k + 1] == esc_max[k]), so a sum in that range has exactly one level; outside
    // it (or NaN) none.
    if (num_segm < 1 || !(dval >= esc_min[1]) || !(dval < esc_max[num_segm])) return 255;
    // Guess from the quotient, then step to the level whose running bounds hold dval: the
    // bounds decide, the guess only saves the search (it is off by one at most, except for
    // steps too small to invert, where the walk is longer but still exact).
    const double x = dval * inv_step;
    int k = x < num_segm ? static_cast<int>(x) + 1 : num_segm;
    while (dval < esc_min[k]) --k;
    while (dval >= esc_max[k]) ++k;
    return static_cast<unsigned char>(k);
  }
  // out[j] = the level of sum[j] where valid[j] is below 255, else 255, for j < n: what
  // level_of gives, mostly read from the bucket table. out may be valid itself.
  void assign(const unsigned char* valid, const double* sum, std::size_t n,
              unsigned char* out) const;

  // The range [0, esc_max[num_segm]) cut into kBuckets equal buckets; bucket q holds the
  // level of every sum whose quotient sum * bucket_scale truncates to q, or 0 when a bound
  // lies in or next to the bucket (those sums go through level_of).
  static constexpr int kBuckets = 16384;
  double bucket_scale = 0.0;
  unsigned char bucket_level[kBuckets] = {};
};

}  // namespace core
