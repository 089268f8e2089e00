// The level bounds as running sums of the step, and the bucket table of the grid loop.
#include "core/levels.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace core {

void Levels::build(double max_valid, int segments) {
  max_hist = max_valid;
  step_hist = max_valid / segments;
  num_segm = segments;
  inv_step = step_hist > 0.0 ? 1.0 / step_hist : 0.0;
  esc_min[0] = -step_hist;
  esc_max[0] = 0.0;
  for (int k = 1; k <= segments; ++k) {
    esc_min[k] = esc_min[k - 1] + step_hist;
    esc_max[k] = esc_max[k - 1] + step_hist;
  }

  // The bucket table. Rounding is monotone, so the sums of bucket q form one interval, and
  // since sum * bucket_scale is exact to a relative 2^-53, that interval lies well inside
  // [(q - 1) / scale, (q + 2) / scale]. When no bound lies there, every sum of the bucket
  // (and the bucket's middle) compares alike with every bound: they share one level.
  std::fill(bucket_level, bucket_level + kBuckets, static_cast<unsigned char>(0));
  bucket_scale = 0.0;
  const double top = segments >= 1 && segments <= kMaxLevels ? esc_max[segments] : 0.0;
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
    while (next_min <= segments && esc_min[next_min] < lo) ++next_min;
    while (next_max <= segments && esc_max[next_max] < lo) ++next_max;
    const bool bound_near = (next_min <= segments && esc_min[next_min] <= hi) ||
                            (next_max <= segments && esc_max[next_max] <= hi);
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
    if (level == 0 || d == max_hist) level = level_of(d);
    out[j] = valid[j] < 255 ? level : 255;
  }
}

}  // namespace core
