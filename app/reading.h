// The reading stage: the input images and the mask of a run, with the item statistics of
// each image; the questions, messages and stops of a file that is missing or bad.
#pragma once

#include <cstdint>

#include "app/run.h"

namespace app {

// A bound on the cells of any grid read, below the one the machine's memory sets; 0 (the
// default) leaves only the memory bound. Tools that read many hostile files in one process
// (the fuzz drivers) lower it so that a typed or announced size cannot take gigabytes.
void set_cell_limit(std::int64_t cells);

// Reads input image k (its path and base name in r.nom_lect) in the given format into
// r.tab (reusing the previous image's grid), adds value x weight of every cell into the
// running sum r.dtab_res (image 1 makes it, as 0.0 + value x weight; so does an image that
// finds no sum of its size), counts the values into r.hist_explor (255 counted as 254) and
// reports the items. Stops the run with a message on a bad file.
void lecture(Run& r, int k, int format, double weight);

// Lists the items (values present) of r.hist_explor and reports them on the console and in
// the report.
void explor(Run& r);

// Reads the mask named by r.nom_mask_in in r.mask_format into r.tab_mask_in.
void mask_lecture(Run& r);

}  // namespace app
