// The level bounds as running sums of the step, and the bucket table of the grid loop.
#include "core/levels.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/cell_loops.h"

namespace core {

void Levels::build(double max_valid, int level_count) {
  max_sum = max_valid;
  step = max_valid / level_count;
  count = level_count;
  inv_step = step > 0.0 ? 1.0 / step : 0.0;
  lower[0] = -step;
  upper[0] = 0.0;
  for (int k = 1; k <= level_count; ++k) {
    lower[k] = lower[k - 1] + step;
    upper[k] = upper[k - 1] + step;
  }

  origin = 0.0;
  build_buckets();
}

void Levels::build_bounds(const double* bounds, double max_valid, int level_count,
                          double level_step) {
  max_sum = max_valid;
  step = level_step;
  count = level_count;
  origin = bounds[0];
  lower[0] = bounds[0];
  upper[0] = bounds[0];
  for (int k = 1; k <= level_count; ++k) {
    lower[k] = bounds[k - 1];
    upper[k] = bounds[k];
  }
  const double width = bounds[level_count] - bounds[0];
  inv_step = width > 0.0 && std::isfinite(level_count / width) ? level_count / width : 0.0;
  build_buckets();
}

void Levels::build_buckets() {
  // The bucket table, over the sums shifted by the origin. Rounding is monotone, so the
  // sums of bucket q form one interval, and since (sum - origin) * bucket_scale is exact to a
  // relative 2^-52 (the subtraction of two doubles errs relative to its result), that
  // interval lies well inside [(q - 1) / scale, (q + 2) / scale]. The bounds are shifted the
  // same way: since fl(b - origin) < fl(d - origin) implies b < d, a bucket with no shifted
  // bound in that range compares alike with every bound for all of its sums: they share the
  // level of the first upper bound above it (the levels tile the range, lower[k + 1] ==
  // upper[k]).
  std::fill(bucket_level, bucket_level + kBuckets, static_cast<unsigned char>(0));
  bucket_scale = 0.0;
  if (count < 1 || count > kMaxLevels) return;
  const double top = upper[count] - origin;
  const double scale = kBuckets / top;
  if (!(top >= std::numeric_limits<double>::min()) || !std::isfinite(top) ||
      !std::isfinite(scale)) {
    return;  // no table: every sum goes through level_of
  }
  bucket_scale = scale;
  // Both bound sequences rise with k; walk each with a pointer to its first bound >= the
  // bucket's low edge.
  int next_min = 1;
  int next_max = 1;
  for (int q = 0; q < kBuckets; ++q) {
    const double lo = (q - 1) / scale;
    const double hi = (q + 2) / scale;
    while (next_min <= count && lower[next_min] - origin < lo) ++next_min;
    while (next_max <= count && upper[next_max] - origin < lo) ++next_max;
    const bool bound_near = (next_min <= count && lower[next_min] - origin <= hi) ||
                            (next_max <= count && upper[next_max] - origin <= hi);
    if (!bound_near && next_max <= count) bucket_level[q] = static_cast<unsigned char>(next_max);
  }
}

void Levels::assign(const unsigned char* valid, const double* sum, std::size_t n,
                    unsigned char* out) const {
  assign_levels(*this, valid, sum, n, out);
}

}  // namespace core
