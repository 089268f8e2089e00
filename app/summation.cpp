// Weighted summation of the images and the cutting of the range into equal levels.
#include <algorithm>

#include "app/stages.h"
#include "rasterio/reader.h"

namespace app {

void Levels::build(double step_hist, int segments) {
  num_segm = segments;
  esc_min[0] = -step_hist;
  esc_max[0] = 0.0;
  for (int k = 1; k <= segments; ++k) {
    esc_min[k] = esc_min[k - 1] + step_hist;
    esc_max[k] = esc_max[k - 1] + step_hist;
  }
}

unsigned char Levels::level_of(double dval) const {
  // Level k holds [esc_min[k], esc_max[k]) and esc_min[k+1] == esc_max[k] exactly, so the
  // levels tile [esc_min[1], esc_max[num_segm]) and the level of dval is the first k whose
  // upper bound lies above it: a binary search gives what the scan over every level gives.
  if (num_segm < 1 || !(dval >= esc_min[1]) || !(dval < esc_max[num_segm])) return 255;
  const double* up = std::upper_bound(esc_max + 1, esc_max + num_segm + 1, dval);
  return static_cast<unsigned char>(up - esc_max);
}

void summation(Run& r) {
  r.UTM_coord = 0;
  for (int k = 1; k <= r.num_imag; ++k) {
    r.nom_lect = r.capas[k].nombre;
    rasterio::lecture(r, k, r.capas[k].format, r.capas[k].weight);
    if (r.UTM_coord != 1 && k == 1) {
      // Cells where the first image holds 0 are shown as background in the result; its
      // 255 cells take part in the sum as valid cells.
      r.tab_mask = nrutil::ByteGrid::make(r.nb_col, r.nb_lig);
      if (!r.tab_mask) r.fail_file(msg::kCannotRead, r.nom_lect, r.pick(msg::kWhyOutOfMemory));
      for (int i = 0; i < r.nb_lig; ++i) {
        unsigned char* t = r.tab[i];
        unsigned char* m = r.tab_mask[i];
        for (int j = 0; j < r.nb_col; ++j) {
          m[j] = t[j] == 0 ? 1 : 255;
          if (t[j] == 255) t[j] = 0;
        }
      }
    } else if (k == 1) {
      // An ASCII first image gets the same mask, without the rewrite of its 255 cells.
      r.tab_mask = nrutil::ByteGrid::make(r.nb_col, r.nb_lig);
      if (!r.tab_mask) r.fail_file(msg::kCannotRead, r.nom_lect, r.pick(msg::kWhyOutOfMemory));
      for (int i = 0; i < r.nb_lig; ++i) {
        for (int j = 0; j < r.nb_col; ++j) r.tab_mask[i][j] = r.tab[i][j] == 0 ? 1 : 255;
      }
    }
    for (int i = 0; i < r.nb_lig; ++i) {
      double* acc = r.dtab_res[i];
      const double* d = r.dtab_in[i];
      for (int j = 0; j < r.nb_col; ++j) acc[j] += d[j];
    }
  }

  // The largest sum over the valid cells (byte of the last image below 255), from 0 up.
  r.max_hist = 0.0;
  for (int i = 0; i < r.nb_lig; ++i) {
    for (int j = 0; j < r.nb_col; ++j) {
      if (r.tab[i][j] < 255 && r.dtab_res[i][j] > r.max_hist) r.max_hist = r.dtab_res[i][j];
    }
  }
  r.step_hist = r.max_hist / r.num_segm;
  Levels lv;
  lv.build(r.step_hist, r.num_segm);

  r.tab_out = nrutil::ByteGrid::make(r.nb_col, r.nb_lig);
  if (!r.tab_out) r.fail_file(msg::kCannotRead, r.nom_lect, r.pick(msg::kWhyOutOfMemory));
  for (int i = 0; i < r.nb_lig; ++i) {
    const unsigned char* t = r.tab[i];
    const double* s = r.dtab_res[i];
    unsigned char* out = r.tab_out[i];
    for (int j = 0; j < r.nb_col; ++j) out[j] = t[j] < 255 ? lv.level_of(s[j]) : 255;
  }
}

}  // namespace app
