// The state of one run: every answer, name, grid and stream of the run in one object, with
// the names the program's documentation uses. A test can run a whole dialogue in-process.
#pragma once

#include <array>
#include <cstdint>
#include <iostream>
#include <ostream>
#include <string>

#include "app/console.h"
#include "app/messages.h"
#include "app/run_record.h"
#include "app/textfile.h"
#include "core/cell_loops.h"
#include "core/levels.h"
#include "nrutil/bitgrid.h"
#include "nrutil/grid.h"
#include "rasterio/rows.h"

namespace app {

using core::count_nodata_in_valid;
using core::kMaxLevels;
using core::Levels;
using core::max_valid_sum;
using core::valid_sums_finite;
using core::ValueCounter;
using core::weighted_sum;

// One input image of the run: what the dialogue asks, and what the reading stage learns.
struct imagen {
  std::string nombre;  // directory prefix + generic name, no extension
  int format = 0;      // code of the format table: 0 raw with descriptor, 1 BMP, 2 ASCII grid
  double weight = 0.0;

  std::string file;                 // the image file as the run names it, with its extension
  rasterio::FileIdentity identity;  // the file as the first pass read it
  nrutil::ByteGrid kept;            // an ASCII grid's values, parsed once by the first pass
  // Cells of each value (255 counted as 254): the image's item statistics.
  std::array<std::int64_t, 256> items{};
  // Cells where this image holds 255 while the last image holds a value (images before the
  // last only): their sums take 255 x this image's weight.
  std::int64_t nodata_in_valid = 0;
};

inline constexpr int kMaxImages = 99;

// Thrown to end the run once its reason has been told; carries the exit status.
struct RunStop {
  int status = 1;
};

struct Run {
  // The notes that do not belong to the dialogue (the console) go to `notes`: standard error
  // for a whole run.
  explicit Run(Console& console, std::ostream& notes = std::cerr) : con(console), err(notes) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  Console& con;
  std::ostream& err;

  // Start-up and language.
  int idiom = 0;  // 0 English, 1 French, 2 Spanish
  unsigned char UTM_coord = 0;
  int flag = 0;

  // Dialogue answers and built names (no length limit).
  std::string nom_disk, nomim1, nomim1b;
  int num_imag = 0;
  int format = 0;  // type answer of the image asked last
  std::array<imagen, kMaxImages + 1> capas;
  int mask_exist = 1;
  std::string nom_mask_in;
  int mask_format = 0;
  std::string nom_res, nom_info, nom_file_point, nom_file_utm, nom_file_histo;
  int format_out = 0;
  int num_segm = 0;

  // The grid read last (all grids of a run have one size) and what its format told.
  int nb_lig = 0, nb_col = 0;
  double dpix_size = 0.0;
  double X_min = 0.0, Y_min = 0.0;
  // The grid every later grid must match: the mask when one was read, else image 1.
  std::string ref_name;
  int ref_lig = 0, ref_col = 0;

  // Grids. The images are read row block by row block, several times, through small
  // buffers; the level grid tab_out is the only grid of a byte a cell. tab_mask marks the
  // cells where the first image holds 0, tab_mask_in the cells where the mask holds 255.
  nrutil::ByteGrid tab_out;
  nrutil::BitGrid tab_mask, tab_mask_in;

  // The level bounds the run used.
  Levels levels;

  // Processing type and mesh.
  int im_gene = 0, rango = 0, jdeb = 0, ifin = 0, jfin = 0;
  int cmd = 1;  // last drawing answer: 0 means a mesh was drawn

  // Output streams: run report, histogram.
  TextFile finfo, fpt3;

  // What the stages note for the run record.
  RecordNotes notes;

  // ---- helpers shared by the stages ----

  // The text of `t` in the run's language.
  const char* pick(const Text3& t) const { return t.in(idiom); }

  // Prints `t` in the run's language on the console.
  template <class... A>
  void say(const Text3& t, A... args) {
    con.print(pick(t), args...);
  }
  // Writes `t` in the run's language on `err`, translated like the console; a note that
  // cannot be written is lost without stopping the run.
  template <class... A>
  void note(const Text3& t, A... args) {
    if constexpr (sizeof...(A) == 0) {
      note_text(pick(t));
    } else {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
      note_text(vformat(pick(t), args...));
#pragma GCC diagnostic pop
    }
  }
  // Writes `t` in the run's language into the report.
  template <class... A>
  void report(const Text3& t, A... args) {
    finfo.print(pick(t), args...);
  }

  // Asks until an integer arrives: prints `prompt` (with args) before every read.
  template <class... A>
  int ask_int(const Text3& prompt, A... args) {
    for (;;) {
      say(prompt, args...);
      int v = 0;
      if (answer(con.read_int(v))) return v;
    }
  }
  template <class... A>
  double ask_real(const Text3& prompt, A... args) {
    for (;;) {
      say(prompt, args...);
      double v = 0.0;
      if (answer(con.read_real(v))) return v;
    }
  }
  // A name: one blank-free word. A name holding a control byte stops the run.
  template <class... A>
  std::string ask_word(const Text3& prompt, A... args) {
    say(prompt, args...);
    return read_name();
  }
  // Prints the option lines and reads an integer, any value (options again for a non-number).
  int ask_option(const Text3& options);
  // A menu: prints the option lines and reads until the answer lies in 0..highest.
  int ask_menu(const Text3& options, int highest);
  // A count: asked until it lies in lo..hi, with a note of the range after a wrong number.
  int ask_count(const Text3& prompt, int lo, int hi);

  // Tells the user why the run stops (console, and the report when open), then stops it.
  [[noreturn]] void fail(const std::string& console_text);
  // The stop for a file that could not be opened, created, read or written: names the
  // file and the reason in the user's language.
  [[noreturn]] void fail_file(const Text3& what, const std::string& name, const char* reason);
  // The stop for an output file that could not be created: the name is taken by something
  // other than a regular file, or the system's reason `err` (errno).
  [[noreturn]] void fail_create(const std::string& name, int err);
  // Checks a written stream; stops the run naming the file when a write failed.
  void check_written(TextFile& f, const std::string& name);

 private:
  // True for an answer; false to ask again; stops the run at the end of input or at an
  // answer longer than the console reads.
  bool answer(Answer a);
  void note_text(const std::string& text);
  // Reads one name; stops the run when it holds a byte below 0x20 or 0x7F.
  std::string read_name();
};

}  // namespace app
