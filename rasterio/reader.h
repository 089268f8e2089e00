// Reading the input images and the mask of a run, with the item statistics of each image.
#pragma once

#include <cstdint>
#include <string>

#include "app/run.h"

namespace rasterio {

// A bound on the cells of any grid read, below the one the machine's memory sets; 0 (the
// default) leaves only the memory bound. Tools that read many hostile files in one process
// (the fuzz drivers) lower it so that a typed or announced size cannot take gigabytes.
void set_cell_limit(std::int64_t cells);

// Reads input image k (its path and base name in r.nom_lect) in the given format into
// r.tab (reusing the previous image's grid), adds value x weight of every cell into the
// running sum r.dtab_res (image 1 makes it, as 0.0 + value x weight; so does an image that
// finds no sum of its size), counts the values into r.hist_explor (255 counted as 254) and
// reports the items. Stops the run with a message on a bad file.
void lecture(app::Run& r, int k, int format, double weight);

// Lists the items (values present) of r.hist_explor and reports them on the console and in
// the report.
void explor(app::Run& r);

// Reads the mask named by r.nom_mask_in in r.mask_format into r.tab_mask_in.
void mask_lecture(app::Run& r);

// Stops the run with the message of a missing image file in the given format (`name` with
// its extension), as the readers tell it.
[[noreturn]] void fail_missing(app::Run& r, int format, const std::string& name);

}  // namespace rasterio
