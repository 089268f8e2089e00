// The front-end's side of a run: the console, the language, the report and histogram files,
// asking and re-asking, and stopping with a message in the user's language. The stages of the
// classic run talk to the user through it; the computation is the core's.
#pragma once

#include <cstdint>
#include <iostream>
#include <ostream>
#include <string>

#include "app/console.h"
#include "app/messages.h"
#include "app/textfile.h"
#include "core/failure.h"

namespace app {

// Thrown to end the run once its reason has been told; carries the exit status.
struct RunStop {
  int status = 1;
};

class Ui {
 public:
  // The notes that do not belong to the dialogue (the console) go to `notes`: standard error
  // for a whole run.
  explicit Ui(Console& console, std::ostream& notes = std::cerr) : con(console), err(notes) {}
  Ui(const Ui&) = delete;
  Ui& operator=(const Ui&) = delete;

  Console& con;
  std::ostream& err;
  int language = 0;         // 0 English, 1 French, 2 Spanish
  TextFile report_file;     // the run report "_info.txt", once the dialogue has made it
  TextFile histogram_file;  // the level histogram "_histo.xls"
  // A bound on the cells of any grid read, below the memory's (0: none). Tools that read many
  // hostile files in one process (the fuzz drivers) lower it.
  std::int64_t cell_limit = 0;

  // The text of `t` in the run's language.
  const char* pick(const Text3& t) const { return t.in(language); }

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
    report_file.print(pick(t), args...);
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
  // A yes/no or type question: the question once, then its option lines until 0 or 1.
  int ask_choice(const Text3& question, const Text3& options);
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
  // The stop for a failure of the core, in the words the program has always used for it.
  [[noreturn]] void fail(const core::Failure& f);
  // Checks a written stream; stops the run naming the file when a write failed.
  void check_written(TextFile& f, const std::string& name);

  // The value of a stage's outcome, or the stop for its failure.
  template <class T>
  T take(core::Outcome<T> outcome) {
    if (!outcome.ok()) fail(outcome.failure());
    return std::move(outcome.value());
  }
  void check(const core::Status& status) {
    if (status) fail(*status);
  }

 private:
  // True for an answer; false to ask again; stops the run at the end of input or at an
  // answer longer than the console reads.
  bool answer(Answer a);
  void note_text(const std::string& text);
  // Reads one name; stops the run when it holds a byte below 0x20 or 0x7F.
  std::string read_name();
};

}  // namespace app
