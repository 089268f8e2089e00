// The stages of a run, called in this order by opening().
#pragma once

#include "app/run.h"

namespace app {

// Banner, language question and introduction.
void start(Run& r);
// Folder, images, weights, mask (read at once), result name and format, levels, pixel size;
// builds every name, creates the histogram file and the report, writes the run summary.
void dialogue(Run& r);
// Reads every image, sums value x weight, and gives every valid cell its level in tab_out.
void summation(Run& r);
// Detects square cell mesh or moving window, fills background holes with the top level,
// and writes the moving-window histogram.
void processing_type(Run& r);
// The drawing question, the confirmation of the type, the mesh parameters and the drawing;
// after a square-cell-mesh drawing, the cell histogram and the point files.
void cell_mesh(Run& r);
// The histogram and point files.
void moving_window_histogram(Run& r);
void cell_mesh_histogram(Run& r);
void point_files(Run& r);
// Final masking, the result image, the closing lines of the report.
void write_result(Run& r);

// The level bounds and the level of a sum (shared by summation and its tests).
struct Levels {
  double esc_min[kMaxLevels + 1];
  double esc_max[kMaxLevels + 1];
  int num_segm = 0;
  // Running sums of the step, entry 0 the seed.
  void build(double step_hist, int segments);
  // The level k with esc_min[k] <= dval < esc_max[k], or 255 when there is none.
  unsigned char level_of(double dval) const;
};

}  // namespace app
