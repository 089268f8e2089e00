// Weighted summation of the images and the cutting of the range into equal levels.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "app/cell_loops.h"
#include "app/levels.h"
#include "app/reading.h"
#include "app/stages.h"

namespace app {

void summation(Run& r) {
  r.UTM_coord = 0;
  // The reader adds each image, value x weight, into dtab_res (image 1 starts it).
  for (int k = 1; k <= r.num_imag; ++k) {
    r.nom_lect = r.capas[k].nombre;
    lecture(r, k, r.capas[k].format, r.capas[k].weight);
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
  Levels lv;
  lv.build(r.step_hist, r.num_segm);

  // The levels are written over the last image, cell by cell after its byte is read: tab
  // is used by no later stage, and its grid becomes tab_out without a fresh allocation.
  for (int i = 0; i < r.nb_lig; ++i) lv.assign(r.tab[i], r.dtab_res[i], cols, r.tab[i]);
  r.tab_out = std::move(r.tab);
}

}  // namespace app
