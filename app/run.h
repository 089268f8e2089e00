// The state of one run: every answer, name, grid and stream of the run in one object, with
// the names the program's documentation uses. A test can run a whole dialogue in-process.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/accents.h"
#include "app/console.h"
#include "app/levels.h"
#include "app/messages.h"
#include "app/run_record.h"
#include "app/textfile.h"
#include "nrutil/grid.h"

namespace app {

// One input image of the run.
struct imagen {
  std::string nombre;      // directory prefix + generic name, no extension
  std::string descriptif;  // kept for the record layout; never set or read
  int format = 0;          // 0 raw with descriptor, 1 BMP, 2 ASCII grid
  double weight = 0.0;
};

inline constexpr int kMaxImages = 99;

// Thrown to end the run once its reason has been told; carries the exit status.
struct RunStop {
  int status = 1;
};

struct Run {
  explicit Run(Console& console) : con(console) {}
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  Console& con;
  Accents acc;

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
  int num_slice = 0;

  // Raster state of the grid read last.
  std::string nom_lect, nomdescr1;
  int nb_lig = 0, nb_col = 0;
  int pix_size = 0;
  double dpix_size = 0.0;
  int min_al = 0, max_al = 0;
  double X_min = 0.0, Y_min = 0.0, nodata = 0.0;
  // The grid every later grid must match: the mask when one was read, else image 1.
  std::string ref_name;
  int ref_lig = 0, ref_col = 0;

  // Grids. The image read last is `tab`; its weighted values go straight into the running
  // sum `dtab_res` and its values are counted as they are (255 as 254) while it is read, so
  // the copy `tab_in` and the weighted grid `dtab_in` of the original design are never
  // built: two fewer full-size grids, and one pass over each image instead of four. The
  // levels are written over the last image, whose grid then moves from tab to tab_out.
  nrutil::ByteGrid tab, tab_mask, tab_mask_in, tab_out;
  nrutil::RealGrid dtab_res;

  // Levels.
  double max_hist = 0.0, step_hist = 0.0;
  Levels levels;  // the bounds the levels were given with

  // Processing type and mesh.
  int im_gene = 0, rango = 0, jdeb = 0, ifin = 0, jfin = 0;
  int cmd = 1;  // last drawing answer: 0 means a mesh was drawn
  int win_size = 0;
  double hemi_win_size = 0.0;
  std::array<std::int64_t, 250> histo{};

  // Item statistics of the image read last.
  std::int64_t surf_image = 0;
  int num_item = 0;
  std::array<int, 260> number_item{};
  std::array<std::int64_t, 260> hist_explor{}, num_pixel_item{};
  std::array<double, 260> percent_item{};

  // Output streams: run report, histogram, point files.
  TextFile finfo, fpt3, fpt1, fpt2;

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
  template <class... A>
  std::string ask_word(const Text3& prompt, A... args) {
    say(prompt, args...);
    std::string w;
    answer(con.read_word(w));  // a word is always an answer, unless input has ended
    return w;
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
  // Checks a written stream; stops the run naming the file when a write failed.
  void check_written(TextFile& f, const std::string& name);

 private:
  // True for an answer; false to ask again; stops the run at the end of input.
  bool answer(Answer a);
};

}  // namespace app
