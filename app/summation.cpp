// Weighted summation of the images and the cutting of the range into equal levels.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "app/cell_loops.h"
#include "app/stages.h"
#include "rasterio/reader.h"

namespace app {

void Levels::build(double step_hist, int segments) {
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

void Levels::assign(const unsigned char* last, const double* sum, std::size_t n,
                    unsigned char* out) const {
  for (std::size_t j = 0; j < n; ++j) {
    const double d = sum[j];
    const double x = d * bucket_scale;
    unsigned char level = 0;
    if (x >= 0.0 && x < kBuckets) level = bucket_level[static_cast<int>(x)];
    if (level == 0) level = level_of(d);
    out[j] = last[j] < 255 ? level : 255;
  }
}

void summation(Run& r) {
  r.UTM_coord = 0;
  // The reader adds each image, value x weight, into dtab_res (image 1 starts it).
  for (int k = 1; k <= r.num_imag; ++k) {
    r.nom_lect = r.capas[k].nombre;
    rasterio::lecture(r, k, r.capas[k].format, r.capas[k].weight);
    if (k == 1) {
      // Cells where the first image holds 0 are shown as background in the result. The 255
      // cells of a raw or BMP first image become 0 in tab (they take part in the sum as
      // valid cells); an ASCII first image keeps them, and gets the same mask.
      r.tab_mask = nrutil::ByteGrid::make(r.nb_col, r.nb_lig);
      if (!r.tab_mask) r.fail_file(msg::kCannotRead, r.nom_lect, r.pick(msg::kWhyOutOfMemory));
      const bool rewrite = r.UTM_coord != 1;
      for (int i = 0; i < r.nb_lig; ++i) {
        first_image_mask(r.tab[i], static_cast<std::size_t>(r.nb_col), rewrite, r.tab_mask[i]);
      }
    }
  }
  const auto cols = static_cast<std::size_t>(r.nb_col);

  // The largest sum over the valid cells (byte of the last image below 255), from 0 up.
  r.max_hist = 0.0;
  for (int i = 0; i < r.nb_lig; ++i)
    r.max_hist = max_valid_sum(r.tab[i], r.dtab_res[i], cols, r.max_hist);
  r.step_hist = r.max_hist / r.num_segm;
  r.levels.build(r.step_hist, r.num_segm);

  // The levels are written over the last image, cell by cell after its byte is read: tab
  // is used by no later stage, and its grid becomes tab_out without a fresh allocation.
  for (int i = 0; i < r.nb_lig; ++i) r.levels.assign(r.tab[i], r.dtab_res[i], cols, r.tab[i]);
  r.tab_out = std::move(r.tab);
}

}  // namespace app
