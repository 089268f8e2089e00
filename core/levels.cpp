// The level bounds as running sums of the step, and the bucket table of the grid loop.
#include "core/levels.h"

#include <algorithm>
#include <cmath>
#include <limits>

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

  // The bucket table. Rounding is monotone, so the sums of bucket q form one interval, and
  // since sum * bucket_scale is exact to a relative 2^-53, that interval lies well inside
  // [(q - 1) / scale, (q + 2) / scale]. When no bound lies there, every sum of the bucket
  // (and the bucket's middle) compares alike with every bound: they share one level.
  std::fill(bucket_level, bucket_level + kBuckets, static_cast<unsigned char>(0));
  bucket_scale = 0.0;
  const double top = level_count >= 1 && level_count <= kMaxLevels ? upper[level_count] : 0.0;
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
    while (next_min <= level_count && lower[next_min] < lo) ++next_min;
    while (next_max <= level_count && upper[next_max] < lo) ++next_max;
    const bool bound_near = (next_min <= level_count && lower[next_min] <= hi) ||
                            (next_max <= level_count && upper[next_max] <= hi);
    if (!bound_near) bucket_level[q] = level_of((q + 0.5) / scale);
  }
}

void Levels::assign(const unsigned char* valid, const double* sum, std::size_t n,
                    unsigned char* out) const {
  for (std::size_t j = 0; j < n; ++j) {
    const double d = sum[j];
    const double x = d * bucket_scale;
    unsigned char level = 0;
    if (x >= 0.0 && x < kBuckets) level = bucket_level[static_cast<int>(x)];
    if (level == 0 || d == max_sum) level = level_of(d);
    out[j] = valid[j] < 255 ? level : 255;
  }
}

}  // namespace core
