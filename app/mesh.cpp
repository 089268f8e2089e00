// Processing type and cell mesh: tells a square cell mesh from a moving window by the band
// of background values in tab_out, lets the user confirm the type, and draws the mesh.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "app/level_grid.h"
#include "app/stages.h"

namespace app {

namespace {

// The first column j of row i, from j0 upward while j < j1, that holds data; -1 if none.
int first_data_col(const Run& r, int i, int j0, int j1) {
  const unsigned char* row = r.tab_out[i];
  for (int j = std::max(j0, 0); j < std::min(j1, r.nb_col); ++j) {
    if (row[j] != kBackground) return j;
  }
  return -1;
}

// Gives the top level to the background cells of rows [i0, i1) and columns [j0, j1).
void fill_holes(Run& r, std::int64_t i0, std::int64_t i1, std::int64_t j0, std::int64_t j1) {
  const Span rows = clamp_span(i0, i1, r.nb_lig);
  const Span cols = clamp_span(j0, j1, r.nb_col);
  const auto top = static_cast<unsigned char>(r.num_segm);
  for (int i = rows.lo; i < rows.hi; ++i) {
    unsigned char* row = r.tab_out[i];
    // A select rather than a conditional store, so that the loop runs on whole vectors.
    for (int j = cols.lo; j < cols.hi; ++j) row[j] = row[j] == kBackground ? top : row[j];
  }
}

// The last data column of the middle row and the last data row of the middle column, each
// scanned from the far edge toward the middle; a variable keeps its value when the scan
// finds only background.
void measure_data_area(Run& r) {
  const int m = r.nb_lig / 2;
  const int c = r.nb_col / 2;
  for (int j = r.nb_col - 1; j > c; --j) {
    if (r.tab_out[m][j] != kBackground) {
      r.jfin = j;
      break;
    }
  }
  for (int i = r.nb_lig - 1; i > m; --i) {
    if (r.tab_out[i][c] != kBackground) {
      r.ifin = i;
      break;
    }
  }
}

// Positions 0, s, 2s, ... reached by a running real sum of the spacing s, for n = 0 to
// trunc(n_max / s) inclusive, keeping those below n_max.
std::vector<int> line_positions(int n_max, double spacing) {
  std::vector<int> pos;
  const auto steps = static_cast<std::int64_t>(n_max / spacing);
  double dval = 0.0;
  std::int64_t val = 0;
  for (std::int64_t n = 0; n <= steps; ++n) {
    if (val < n_max) pos.push_back(static_cast<int>(val));
    dval += spacing;
    val = static_cast<std::int64_t>(dval);
  }
  return pos;
}

// Draws mesh lines (value 0) on every column and then every row of the positions spaced
// by `spacing` (at least 1).
void draw_lines(Run& r, double spacing) {
  const std::vector<int> cols = line_positions(r.nb_col, spacing);
  const std::vector<int> rows = line_positions(r.nb_lig, spacing);
  for (int i = 0; i < r.nb_lig; ++i) {
    unsigned char* row = r.tab_out[i];
    for (const int j : cols) row[j] = 0;
  }
  for (const int i : rows) std::memset(r.tab_out[i], 0, static_cast<std::size_t>(r.nb_col));
}

// Sets rows [i0, i1) to background in every column.
void clear_rows(Run& r, std::int64_t i0, std::int64_t i1) {
  const Span rows = clamp_span(i0, i1, r.nb_lig);
  for (int i = rows.lo; i < rows.hi; ++i) {
    std::memset(r.tab_out[i], kBackground, static_cast<std::size_t>(r.nb_col));
  }
}

// Sets columns [j0, j1) to background in every row.
void clear_cols(Run& r, std::int64_t j0, std::int64_t j1) {
  const Span cols = clamp_span(j0, j1, r.nb_col);
  if (cols.empty()) return;
  for (int i = 0; i < r.nb_lig; ++i) {
    std::memset(r.tab_out[i] + cols.lo, kBackground, static_cast<std::size_t>(cols.hi - cols.lo));
  }
}

// A yes/no or type question: the question once, then its option lines until 0 or 1.
int ask_choice(Run& r, const Text3& question, const Text3& options) {
  r.say(question);
  return r.ask_menu(options, 1);
}

// The window range of a square cell mesh: a range below 1 would make every row a mesh line
// and send the point rows past the grid, so it is asked again.
int ask_range(Run& r) {
  for (;;) {
    const int v = r.ask_int(msg::kParamsRange);
    if (v >= 1) return v;
    r.say(msg::kWindowRangeNote);
  }
}

// Pixel size, map origin (shown when known, asked otherwise) and the window range.
void mesh_parameters(Run& r) {
  r.say(msg::kParamsHead);
  r.say(msg::kParamsPixel, r.dpix_size);
  if (r.UTM_coord == 1) {
    r.say(msg::kParamsUtmKnown);
    r.say(msg::kParamsXminShow, r.X_min);
    r.say(msg::kParamsYminShow, r.Y_min);
  } else {
    r.say(msg::kParamsUtmAsk);
    r.X_min = r.ask_real(msg::kParamsXminAsk);
    r.Y_min = r.ask_real(msg::kParamsYminAsk);
    r.UTM_coord = 1;
  }
  r.rango = ask_range(r);
}

// Square cells of 2 rango + 1 pixels from the top-left corner; everything beyond the row
// and column that follow the last data row and column becomes background.
void draw_square_mesh(Run& r) {
  const auto augm = static_cast<double>(2 * std::int64_t{r.rango} + 1);
  r.say(msg::kMeshDrawing);
  draw_lines(r, augm);
  clear_rows(r, std::int64_t{r.ifin} + 2, r.nb_lig);
  clear_cols(r, std::int64_t{r.jfin} + 2, r.nb_col);
}

// The moving-window mesh, spaced by the width of the background band along the borders.
void moving_window_mesh(Run& r) {
  const int found = first_data_col(r, r.nb_lig / 2, 0, r.nb_col);
  r.rango = found < 0 ? 0 : found;
  fill_holes(r, r.rango, std::int64_t{r.nb_lig} - r.rango, r.rango,
             std::int64_t{r.nb_col} - r.rango);
  r.cmd = ask_choice(r, msg::kQ8MeshDrawing, msg::kYesNo);
  if (r.cmd != 1) {
    if (r.rango >= 1) {
      draw_lines(r, static_cast<double>(r.rango));
    } else {
      // Without a band there is no spacing to draw with (a square-cell-mesh grid taken
      // for a moving window): nothing is drawn and the report does not claim a mesh.
      r.say(msg::kNoMeshBand);
      r.report(msg::kNoMeshBand);
      r.cmd = 1;
    }
  }
  // The band is background again whatever the answer; lines drawn in it disappear.
  clear_rows(r, 0, r.rango);
  clear_rows(r, std::int64_t{r.nb_lig} - r.rango, r.nb_lig);
  clear_cols(r, 0, r.rango);
  clear_cols(r, std::int64_t{r.nb_col} - r.rango, r.nb_col);
}

}  // namespace

void processing_type(Run& r) {
  check_level_grid(r);
  const int m = r.nb_lig / 2;
  const int c = r.nb_col / 2;
  const int found = first_data_col(r, m, 0, c);
  if (found >= 0) r.jdeb = found;
  if (r.jdeb == 0) {
    r.im_gene = 0;
    measure_data_area(r);
    fill_holes(r, 0, r.ifin, 0, r.jfin);
  } else {
    r.im_gene = 1;
    fill_holes(r, r.jdeb, std::int64_t{r.nb_lig} - r.jdeb, r.jdeb, std::int64_t{r.nb_col} - r.jdeb);
  }
  if (r.im_gene == 1) moving_window_histogram(r);
}

void cell_mesh(Run& r) {
  check_level_grid(r);
  const int detected = r.im_gene;
  r.cmd = ask_choice(r, msg::kDrawQuestion, msg::kYesNo);
  if (r.cmd == 1) return;

  // Confirmation of the type: rejecting the square cell mesh and choosing the moving window
  // leads to the moving-window confirmation; rejecting that asks the type once more.
  int resp = 0;
  if (r.im_gene == 0) {
    r.say(msg::kQ2CellMesh);
    resp = ask_choice(r, msg::kQ3AfterQ2, msg::kYesNo);
    if (resp == 1) r.im_gene = ask_choice(r, msg::kQ4TypeUsed, msg::kQ5AfterQ4);
  }
  if (r.im_gene == 1) {
    r.say(msg::kQ6MovingWindow);
    resp = ask_choice(r, msg::kQ3AfterQ6, msg::kYesNo);
  }
  if (resp == 1) r.im_gene = ask_choice(r, msg::kQ7TypeUsed, msg::kQ5AfterQ7);
  r.notes.confirmed = r.im_gene;

  // After a moving-window histogram the report already names the type.
  if (r.flag == 0) {
    r.report(r.im_gene == 0 ? msg::kReportCellMesh : msg::kReportMovingWindow);
  }

  if (r.im_gene == 0) {
    // A moving-window grid taken for a square cell mesh: the detection did not measure
    // the data area, so it is measured now the same way.
    if (detected != 0) measure_data_area(r);
    mesh_parameters(r);
    draw_square_mesh(r);
    cell_mesh_histogram(r);
    point_files(r);
  } else {
    r.say(msg::kWarnLine1);
    r.say(msg::kWarnLine2);
    // The answer (malla) only acknowledges the warning: the mesh question decides.
    ask_choice(r, msg::kWarnQuestion, msg::kYesNo);
    moving_window_mesh(r);
  }
}

}  // namespace app
