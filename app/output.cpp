// The end of a run: the map-origin questions of a georeferenced result, the result image,
// and the closing lines of the run report.
#include <algorithm>

#include "app/stages.h"
#include "core/result.h"
#include "rasterio/formats.h"

namespace app {

namespace {

void close_report(Ui& ui, const Setup& setup, const Processing& p, const Written& w) {
  ui.report(msg::kReportResultName, w.image.c_str());
  ui.report_file.write("\n");
  for (std::size_t k = 0; k < setup.params.images.size(); ++k) {
    ui.report(msg::kReportWeight, static_cast<int>(k) + 1, setup.params.images[k].weight);
  }
  ui.report(msg::kReportLevels, setup.params.level_count);
  ui.report(msg::kReportPixel, w.georef.pixel_size);
  if (p.mesh_drawn) ui.report(msg::kReportMeshDrawn);
  ui.report_file.write("\n\n");
}

}  // namespace

Written write_result(Ui& ui, const Setup& setup, const Inputs& inputs, core::LevelGrid& grid,
                     const Processing& p) {
  Written w;
  w.georef = p.georef;
  const rasterio::FileFormat& f = *rasterio::format_of(setup.params.output_format);
  w.image = setup.files.result(f);
  w.descriptor = setup.files.result_descriptor(f);
  // The questions come before the result file is opened: a run that ends at them leaves an
  // earlier result whole.
  if (f.georeferenced && !w.georef.corner) {
    ui.say(msg::kAsciiUtm);
    core::Corner c;
    c.x_min = ui.ask_real(msg::kAsciiXmin);
    c.y_min = ui.ask_real(msg::kAsciiYmin);
    w.georef.corner = c;
  }
  if (f.id == rasterio::Format::Ascii) ui.con.write("\n");
  const nrutil::BitGrid* outside = setup.mask ? &setup.mask->outside : nullptr;
  w.counts = ui.take(core::write_result(grid, inputs.images[0].zeros, outside, f, w.georef,
                                        core::ResultFiles{w.image, w.descriptor}));
  close_report(ui, setup, p, w);
  return w;
}

}  // namespace app
