// The stages of a run, called in this order by opening().
#pragma once

#include "app/run.h"

namespace app {

// Banner, language question and introduction.
void start(Run& r);
// Folder, images, weights, mask (read at once), result name and format, levels, pixel size;
// builds every name, creates the histogram file and the report, writes the run summary.
void dialogue(Run& r);
// Reads every image, sums value x weight, and gives every valid cell its level in tab_out
// (the grid of the last image, tab, becomes tab_out).
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

}  // namespace app
