// Processing type and cell mesh: the detection and the moving-window histogram, the user's
// confirmation of the type, the mesh parameters and the drawing.
#include "core/mesh.h"

#include <cstdint>

#include "app/histogram.h"
#include "app/stages.h"

namespace app {

namespace {

// The window range of a square cell mesh: a range below 1 would make every row a mesh line
// and send the point rows past the grid, so it is asked again.
int ask_range(Ui& ui) {
  for (;;) {
    const int v = ui.ask_int(msg::kParamsRange);
    if (v >= 1) return v;
    ui.say(msg::kWindowRangeNote);
  }
}

// Pixel size, map origin (shown when known, asked otherwise) and the window range.
void mesh_parameters(Ui& ui, Processing& p) {
  ui.say(msg::kParamsHead);
  ui.say(msg::kParamsPixel, p.georef.pixel_size);
  if (p.georef.corner) {
    ui.say(msg::kParamsUtmKnown);
    ui.say(msg::kParamsXminShow, p.georef.corner->x_min);
    ui.say(msg::kParamsYminShow, p.georef.corner->y_min);
  } else {
    ui.say(msg::kParamsUtmAsk);
    core::Corner c;
    c.x_min = ui.ask_real(msg::kParamsXminAsk);
    c.y_min = ui.ask_real(msg::kParamsYminAsk);
    p.georef.corner = c;
  }
  p.range = ask_range(ui);
}

// The moving-window mesh, spaced by the width of the background band along the borders.
void moving_window_mesh(Ui& ui, const Setup& setup, core::LevelGrid& grid, Processing& p) {
  p.range = core::window_band(grid);
  core::fill_holes(grid, core::inside_band(grid, p.range),
                   static_cast<unsigned char>(setup.params.level_count));
  p.mesh_drawn = ui.ask_choice(msg::kQ8MeshDrawing, msg::kYesNo) != rasterio::answer::kNo;
  if (p.mesh_drawn) {
    if (p.range >= 1) {
      core::draw_lines(grid, static_cast<double>(p.range));
    } else {
      // Without a band there is no spacing to draw with (a square-cell-mesh grid taken
      // for a moving window): nothing is drawn and the report does not claim a mesh.
      ui.say(msg::kNoMeshBand);
      ui.report(msg::kNoMeshBand);
      p.mesh_drawn = false;
    }
  }
  // The band is background again whatever the answer; lines drawn in it disappear.
  core::clear_band(grid, p.range);
}

}  // namespace

Processing processing_type(Ui& ui, const Setup& setup, core::LevelGrid& grid, core::Georef georef) {
  Processing p;
  p.georef = georef;
  p.detected = core::detect(grid);
  p.type = p.detected.type;
  core::fill_holes(grid, core::detected_area(grid, p.detected),
                   static_cast<unsigned char>(setup.params.level_count));
  if (p.type == core::kMovingWindow) {
    const int band = p.detected.band_width;
    write_histogram_table(ui, setup, core::count_values(grid, core::inside_band(grid, band)), true);
    p.histogram_reported = true;
    ui.report(msg::kReportMwHistoType);
    ui.report(msg::kReportMwHisto, setup.files.histogram.c_str());
  }
  return p;
}

void cell_mesh(Ui& ui, const Setup& setup, core::LevelGrid& grid, Processing& p) {
  if (ui.ask_choice(msg::kDrawQuestion, msg::kYesNo) == rasterio::answer::kNo) return;

  // Confirmation of the type: rejecting the square cell mesh and choosing the moving window
  // leads to the moving-window confirmation; rejecting that asks the type once more.
  int resp = rasterio::answer::kYes;
  if (p.type == core::kSquareCellMesh) {
    ui.say(msg::kQ2CellMesh);
    resp = ui.ask_choice(msg::kQ3AfterQ2, msg::kYesNo);
    if (resp == rasterio::answer::kNo) p.type = ui.ask_choice(msg::kQ4TypeUsed, msg::kQ5AfterQ4);
  }
  if (p.type == core::kMovingWindow) {
    ui.say(msg::kQ6MovingWindow);
    resp = ui.ask_choice(msg::kQ3AfterQ6, msg::kYesNo);
  }
  if (resp == rasterio::answer::kNo) p.type = ui.ask_choice(msg::kQ7TypeUsed, msg::kQ5AfterQ7);
  p.confirmed = p.type;

  // After a moving-window histogram the report already names the type.
  if (!p.histogram_reported) {
    ui.report(p.type == core::kSquareCellMesh ? msg::kReportCellMesh : msg::kReportMovingWindow);
  }

  if (p.type == core::kSquareCellMesh) {
    // A moving-window grid taken for a square cell mesh: the detection did not measure the
    // data area, so it is measured now the same way.
    p.area =
        p.detected.type == core::kSquareCellMesh ? p.detected.area : core::measure_data_area(grid);
    const core::DataArea& area = p.area;
    mesh_parameters(ui, p);
    ui.say(msg::kMeshDrawing);
    core::draw_square_mesh(grid, p.range, area);
    p.mesh_drawn = true;
    // Mesh-line cells count under 0, which is not written; the last data row and column are
    // left out.
    write_histogram_table(
        ui, setup,
        core::count_values(grid, core::region_of(grid, 0, area.last_row, 0, area.last_col)), true);
    ui.report(msg::kReportCellHisto, setup.files.histogram.c_str());
    write_point_files(ui, setup, grid, p);
    p.points_written = true;
  } else {
    ui.say(msg::kWarnLine1);
    ui.say(msg::kWarnLine2);
    // The answer only acknowledges the warning: the mesh question decides.
    ui.ask_choice(msg::kWarnQuestion, msg::kYesNo);
    moving_window_mesh(ui, setup, grid, p);
  }
}

}  // namespace app
