// Shared helpers of the run: asking, re-asking, and stopping with a message.
#include "app/run.h"

namespace app {

bool Run::answer(Answer a) {
  if (a == Answer::Ok) return true;
  if (a == Answer::EndOfInput) {
    say(msg::kEndOfInput);
    con.flush();
    if (finfo.is_open()) {
      report(msg::kEndOfInput);
      finfo.flush();
    }
    throw RunStop{1};
  }
  return false;
}

int Run::ask_option(const Text3& options) {
  for (;;) {
    say(options);
    int v = 0;
    if (answer(con.read_int(v))) return v;
  }
}

int Run::ask_menu(const Text3& options, int highest) {
  for (;;) {
    say(options);
    int v = 0;
    if (answer(con.read_int(v)) && v >= 0 && v <= highest) return v;
  }
}

int Run::ask_count(const Text3& prompt, int lo, int hi) {
  for (;;) {
    const int v = ask_int(prompt);
    if (v >= lo && v <= hi) return v;
    say(msg::kRangeNote, lo, hi);
  }
}

void Run::fail(const std::string& console_text) {
  con.write(console_text);
  say(msg::kRunStops);
  con.flush();
  if (finfo.is_open()) {
    finfo.write(console_text);
    report(msg::kRunStops);
    finfo.flush();
  }
  throw RunStop{1};
}

void Run::fail_file(const Text3& what, const std::string& name, const char* reason) {
  fail(vformat(pick(what), name.c_str(), reason));
}

void Run::note_text(const std::string& text) {
  if (con.utf8()) {
    std::string translated;
    cp850_to_utf8(text, translated);
    err << translated;
  } else {
    err << text;
  }
  err.flush();
}

void Run::check_written(TextFile& f, const std::string& name) {
  if (!f.flush()) fail_file(msg::kCannotWrite, name, pick(msg::kWhyWriteError));
}

}  // namespace app
