// The look of an exported map: the colour of each cell value, the names of the categories,
// and the numbers as the legend shows them.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "gis/export_record.h"

namespace gis {

struct Rgba {
  unsigned char r = 0, g = 0, b = 0, a = 255;
};

// The palettes --palette accepts, the default first.
const std::vector<std::string>& palette_names();

// The colour of every byte value for `count` levels: levels 1..count along the palette's
// ramp, 0 (mesh lines) dark, 254 (outside the study area) light grey, 255 (no data) and the
// values no level uses transparent. Throws UsageError for an unknown palette.
std::array<Rgba, 256> colour_table(const std::string& palette, int count);

// "#rrggbb".
std::string hex(Rgba c);

// A bound or a sum as the legend shows it: 6 significant digits (the record keeps the exact
// value).
std::string legend_number(double v);

// The name of each byte value: "level k: from – to" for the levels, and the names of 0, 254
// and 255; "" for values no level uses.
std::vector<std::string> category_names(const RunRecord& rec);

}  // namespace gis
