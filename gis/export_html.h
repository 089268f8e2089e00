// The report page of an exported run: one self-contained HTML file (map, legend, bar chart,
// parameters and item statistics) that needs no network, no other file and no script.
#pragma once

#include <array>
#include <string>

#include "gis/export_record.h"
#include "gis/export_style.h"

namespace gis {

struct ReportPage {
  std::string title;
  std::string palette;
  std::string png;         // the map, one pixel a cell, as PNG bytes
  std::string crs_name;    // "" without a coordinate reference system
  std::string crs_source;  // the file it was read from
  bool metres = true;      // whether the cell size is in metres (areas in km²)
};

// The page's HTML (UTF-8).
std::string report_html(const RunRecord& rec, const std::array<Rgba, 256>& colours,
                        const ReportPage& page);

}  // namespace gis
