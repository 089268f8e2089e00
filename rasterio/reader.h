// Reading the input images and the mask of a run, with the item statistics of each image.
#pragma once

#include <cstdint>

#include "app/run.h"

namespace rasterio {

// A bound on the cells of any grid read, below the one the machine's memory sets; 0 (the
// default) leaves only the memory bound. Tools that read many hostile files in one process
// (the fuzz drivers) lower it so that a typed or announced size cannot take gigabytes.
void set_cell_limit(std::int64_t cells);

// Reads input image k (its path and base name in r.nom_lect) in the given format into
// r.tab, makes r.tab_in, r.dtab_in (value x weight) and, for k = 1, the zeroed accumulator
// r.dtab_res; then reports its items. Stops the run with a message on a bad file.
void lecture(app::Run& r, int k, int format, double weight);

// Counts the items (distinct values) of r.tab_in and reports them on the console and in
// the report.
void explor(app::Run& r);

// Reads the mask named by r.nom_mask_in in r.mask_format into r.tab_mask_in.
void mask_lecture(app::Run& r);

}  // namespace rasterio
