// Test support: runs driven in-process over scripted answers, the stop of a stage as a
// status, and a run set up for the stages that follow the summation.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/reading.h"
#include "app/run.h"
#include "app/stages.h"
#include "app/tessera_summary.h"
#include "support/files.h"

namespace testing_support {

// A run over scripted answers, with the console text and the notes collected.
struct Session {
  explicit Session(const std::string& answers)
      : in(answers), con(in, out, false), run(con, notes) {}
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream notes;
  app::Console con;
  app::Run run;
  int status = -1;
  int go() { return status = app::opening(run); }
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

// The cells of image k as the passes after the first read them, row 0 first.
inline std::string image_cells(app::Run& r, int k) {
  app::ImageRows rows(r);
  std::string s;
  for (int first = 0; first < r.nb_lig; first += rows.block_rows()) {
    const int count = std::min(rows.block_rows(), r.nb_lig - first);
    rows.load(first, count);
    for (int i = first; i < first + count; ++i) {
      s.append(reinterpret_cast<const char*>(rows.row(k, i)), static_cast<std::size_t>(r.nb_col));
    }
  }
  return s;
}

// Level grid pictures: one row per string, one cell per character; '.' is 255 (background),
// '#' is 0 (mesh line), a digit is that level.
using Picture = std::vector<std::string>;

// A run set up for the stages after the summation: scripted answers, captured console text,
// a level grid given as a picture, and the output files in a fresh temporary folder.
class StageRun {
 public:
  explicit StageRun(const std::string& answers = "")
      : answers_(answers), con_(answers_, out_, false), r(con_) {
    // Names are built as the dialogue builds them, the last part joined with a backslash.
    const std::string prefix = dir.path() + "\\res";
    r.nom_res = prefix;
    r.nom_info = prefix + "_info.txt";
    r.nom_file_point = prefix + "_points_ij.txt";
    r.nom_file_utm = prefix + "_points_utm.txt";
    r.nom_file_histo = prefix + "_histo.xls";
    EXPECT_TRUE(r.finfo.create(file("_info.txt")));
    EXPECT_TRUE(r.fpt3.create(file("_histo.xls")));
  }
  ~StageRun() {
    r.finfo.close();
    r.fpt3.close();
  }

  // The host path of the output file with the given suffix.
  std::string file(const std::string& suffix) const { return dir.file("res" + suffix); }
  // Its bytes, once every output stream is flushed.
  std::string bytes(const std::string& suffix) {
    r.finfo.flush();
    r.fpt3.flush();
    return read_file(file(suffix));
  }
  std::string console() const { return out_.str(); }
  std::string report() { return bytes("_info.txt"); }

  void levels(const Picture& pic, int num_segm = 9) {
    r.nb_lig = static_cast<int>(pic.size());
    r.nb_col = static_cast<int>(pic[0].size());
    r.num_segm = num_segm;
    r.tab_out = nrutil::ByteGrid::make(r.nb_col, r.nb_lig);
    for (int i = 0; i < r.nb_lig; ++i) {
      for (int j = 0; j < r.nb_col; ++j) r.tab_out[i][j] = cell(pic[i][j]);
    }
  }
  // A grid of nb_lig x nb_col cells all holding v.
  void uniform(int nb_lig, int nb_col, unsigned char v, int num_segm = 9) {
    levels(Picture(nb_lig, std::string(nb_col, '0' + v)), num_segm);
  }
  Picture picture() const {
    Picture p;
    for (int i = 0; i < r.nb_lig; ++i) {
      std::string row;
      for (int j = 0; j < r.nb_col; ++j) {
        const unsigned char v = r.tab_out[i][j];
        row += v == 255 ? '.' : v == 0 ? '#' : v < 10 ? static_cast<char>('0' + v) : '?';
      }
      p.push_back(row);
    }
    return p;
  }

  static unsigned char cell(char c) {
    return c == '.' ? 255 : c == '#' ? 0 : static_cast<unsigned char>(c - '0');
  }

 private:
  std::istringstream answers_;
  std::ostringstream out_;
  app::Console con_;

 public:
  ScratchDir dir;
  app::Run r;
};

// Detection, then the cell-mesh stage, with the map origin known (X 1000, Y 2000, 30 m).
inline void detect_and_mesh(StageRun& s, int idiom = 0) {
  s.r.idiom = idiom;
  s.r.UTM_coord = 1;
  s.r.X_min = 1000.0;
  s.r.Y_min = 2000.0;
  s.r.dpix_size = 30.0;
  app::processing_type(s.r);
  app::cell_mesh(s.r);
}

}  // namespace testing_support
