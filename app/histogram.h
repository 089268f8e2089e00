// The level histogram ("_histo.xls") and the two point files of a square-cell-mesh run.
#pragma once

#include "app/stages.h"
#include "core/samples.h"

namespace app {

// One table of the histogram: "%d\t%lld\n " for each level 1 to the level count, then a line
// break when `blank_line`.
void write_histogram_table(Ui& ui, const Setup& setup, const core::ValueCounts& counts,
                           bool blank_line);

// One point per mesh cell of range p.range, at its centre pixel, by column and row and by map
// coordinates; then the table of the points by level and the report lines.
void write_point_files(Ui& ui, const Setup& setup, const core::LevelGrid& grid,
                       const Processing& p);

}  // namespace app
