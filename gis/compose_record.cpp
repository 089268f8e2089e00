// The composite's run record (tessera_summary's schema and compose's own keys) and its table
// of levels.
#include <nlohmann/json.hpp>

#include "core/run_record.h"
#include "gis/compose_output.h"

namespace gis {

std::string compose_record(const Composite& c) {
  const Grid& g = *c.grid;
  const ComposeOptions& o = *c.options;
  core::RunRecord r;
  r.level_count = c.levels.count;
  r.max_sum = c.levels.max_sum;
  r.step = c.levels.step;
  for (int k = 1; k <= c.levels.count; ++k) {
    r.classes.push_back(
        {k, c.levels.lower[k], c.levels.upper[k], c.level_cells[static_cast<std::size_t>(k)]});
  }
  r.with_level = c.with_level;
  r.outside = c.outside;
  r.background = c.no_data + c.below;
  r.rows = g.rows;
  r.cols = g.cols;
  r.cell_size = g.cell_size();
  r.x_min = g.xll();
  r.y_min = g.yll();
  for (const ComposeLayer& l : *c.layers) {
    core::RecordInput in;
    in.file = l.arg.path;
    in.format = l.driver();
    in.weight = l.arg.weight;
    for (int v = 0; v < 256; ++v) {
      if (l.items[static_cast<std::size_t>(v)] > 0) {
        in.items.emplace_back(v, l.items[static_cast<std::size_t>(v)]);
      }
    }
    r.inputs.push_back(std::move(in));
  }
  if (!o.boundary.empty()) r.mask = o.boundary;
  r.result_file = c.name + ".tif";
  r.result_format = "GTiff";
  if (c.processing) {
    r.confirmed = core::processing_name(c.processing->type);
    r.range = c.processing->range;
    r.mesh_drawn = c.processing->type == 0;
  }
  r.outputs = c.outputs;

  nlohmann::ordered_json extra;
  extra["tool"] = "tessera_gis compose";
  extra["tool_version"] = kToolVersion;
  extra["date"] = c.date;
  extra["class_method"] = core::class_method_name(o.classes);
  extra["min_sum"] = c.min_sum;
  extra["max_valid_sum"] = c.max_sum;
  if (c.processing) {
    extra["processing_given"] = {{"type", core::processing_name(c.processing->type)},
                                 {"range", c.processing->range},
                                 {"given_by", c.processing->given_by}};
  } else {
    extra["processing_given"] = nullptr;
  }
  nlohmann::ordered_json layers = nlohmann::ordered_json::array();
  for (const ComposeLayer& l : *c.layers) layers.push_back(l.arg.path);
  extra["sources"] = {{"layers", layers},
                      {"boundary", o.boundary.empty() ? nlohmann::ordered_json(nullptr)
                                                      : nlohmann::ordered_json(o.boundary)}};
  nlohmann::ordered_json crs = nullptr;
  if (g.srs) {
    char* wkt = nullptr;
    const char* const wkt_opts[] = {"FORMAT=WKT2_2019", nullptr};
    g.srs->exportToWkt(&wkt, wkt_opts);
    crs = {{"epsg", c.epsg ? nlohmann::ordered_json(*c.epsg) : nlohmann::ordered_json(nullptr)},
           {"name", c.crs_name},
           {"unit", c.unit},
           {"wkt", wkt != nullptr ? wkt : ""}};
    CPLFree(wkt);
  }
  extra["crs"] = crs;
  extra["cells_no_data"] = c.no_data;
  extra["cells_below_first_level"] = c.below;
  extra["geotiff"] = {
      {"band_1",
       "level 1..N; 0 = no level (outside the boundary, no data, or a sum below the "
       "first level), the no-data value"},
      {"band_2",
       "cell state: 1 level, 2 outside the boundary, 3 no data in some layer, 4 sum "
       "below the first level"}};
  return core::record_text(r, extra);
}

std::string levels_csv(const Composite& c) {
  std::string s = "level,from,to,cells,share,area\n";
  const double area = c.cell_area();
  for (int k = 1; k <= c.levels.count; ++k) {
    const std::int64_t cells = c.level_cells[static_cast<std::size_t>(k)];
    const double share =
        c.with_level > 0 ? static_cast<double>(cells) / static_cast<double>(c.with_level) : 0.0;
    s += std::to_string(k) + "," + Composite::exact(c.levels.lower[k]) + "," +
         Composite::exact(c.levels.upper[k]) + "," + std::to_string(cells) + "," +
         Composite::exact(share) + "," + Composite::exact(static_cast<double>(cells) * area) + "\n";
  }
  return s;
}

}  // namespace gis
