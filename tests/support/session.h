// Test support: runs driven in-process over scripted answers, the stop of a stage as a
// status, and a run set up for the stages that follow the summation.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/histogram.h"
#include "app/stages.h"
#include "app/tessera_summary.h"
#include "app/ui.h"
#include "support/files.h"

namespace testing_support {

// A run over scripted answers, with the console text and the notes collected.
struct Session {
  explicit Session(const std::string& answers) : in(answers), con(in, out, false), ui(con, notes) {}
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream notes;
  app::Console con;
  app::Ui ui;
  int status = -1;
  int go() { return status = app::opening(ui); }
  std::string text() const { return out.str(); }
};

// The exit status of a stage that stops the run; 0 when it did not stop.
template <class F>
int stop_status(F&& stage) {
  try {
    stage();
  } catch (const app::RunStop& s) {
    return s.status;
  }
  return 0;
}

// Level grid pictures: one row per string, one cell per character; '.' is 255 (background),
// '#' is 0 (mesh line), a digit is that level.
using Picture = std::vector<std::string>;

// A run set up for the stages after the summation: scripted answers, captured console text,
// a level grid given as a picture, and the output files in a fresh temporary folder. The map
// origin is known (X 1000, Y 2000, 30 m) unless a test says otherwise.
class StageRun {
 public:
  explicit StageRun(const std::string& answers = "")
      : answers_(answers), con_(answers_, out_, false), ui(con_) {
    // Names are built as the dialogue builds them, the last part joined with a backslash.
    setup.files = rasterio::RunFiles::of(dir.path() + "\\res");
    EXPECT_TRUE(ui.report_file.create(file("_info.txt")));
    EXPECT_TRUE(ui.histogram_file.create(file("_histo.xls")));
    georef.pixel_size = 30.0;
    georef.corner = core::Corner{1000.0, 2000.0};
  }
  ~StageRun() {
    ui.report_file.close();
    ui.histogram_file.close();
  }

  // The host path of the output file with the given suffix.
  std::string file(const std::string& suffix) const { return dir.file("res" + suffix); }
  // Its bytes, once every output stream is flushed.
  std::string bytes(const std::string& suffix) {
    ui.report_file.flush();
    ui.histogram_file.flush();
    return read_file(file(suffix));
  }
  std::string console() const { return out_.str(); }
  std::string report() { return bytes("_info.txt"); }

  void levels(const Picture& pic, int level_count = 9) {
    setup.params.level_count = level_count;
    grid = core::LevelGrid::make(static_cast<int>(pic[0].size()), static_cast<int>(pic.size()));
    for (int i = 0; i < grid.nb_lig(); ++i) {
      for (int j = 0; j < grid.nb_col(); ++j) grid[i][j] = cell(pic[i][j]);
    }
  }
  // A grid of rows x cols cells all holding v.
  void uniform(int rows, int cols, unsigned char v, int level_count = 9) {
    levels(Picture(rows, std::string(cols, static_cast<char>('0' + v))), level_count);
  }
  Picture picture() const {
    Picture p;
    for (int i = 0; i < grid.nb_lig(); ++i) {
      std::string row;
      for (int j = 0; j < grid.nb_col(); ++j) {
        const unsigned char v = grid[i][j];
        row += v == 255 ? '.' : v == 0 ? '#' : v < 10 ? static_cast<char>('0' + v) : '?';
      }
      p.push_back(row);
    }
    return p;
  }
  static unsigned char cell(char c) {
    return c == '.' ? 255 : c == '#' ? 0 : static_cast<unsigned char>(c - '0');
  }

  // The detection, then the cell-mesh stage.
  void detect() { p = app::processing_type(ui, setup, grid, georef); }
  void mesh() { app::cell_mesh(ui, setup, grid, p); }
  // The point files of a mesh of range p.range.
  void points() {
    p.georef = georef;
    app::write_point_files(ui, setup, grid, p);
  }
  // The result in `format` (a code of the format table).
  app::Written result(int format) {
    setup.params.output_format = format;
    if (inputs.images.empty()) inputs.images.emplace_back();
    p.georef = georef;
    return app::write_result(ui, setup, inputs, grid, p);
  }
  void detect_and_mesh(int language = 0) {
    ui.language = language;
    detect();
    mesh();
  }

 private:
  std::istringstream answers_;
  std::ostringstream out_;
  app::Console con_;

 public:
  ScratchDir dir;
  app::Ui ui;
  app::Setup setup;
  core::Georef georef;
  core::LevelGrid grid;
  app::Processing p;
  app::Inputs inputs;
};

}  // namespace testing_support
