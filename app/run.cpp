// Shared helpers of the run: asking, re-asking, and stopping with a message.
#include "app/run.h"

#include <algorithm>
#include <cstring>

#include "app/hostpath.h"
#include "nrutil/files.h"

namespace app {

bool Run::answer(Answer a) {
  if (a == Answer::Ok) return true;
  if (a == Answer::EndOfInput || a == Answer::TooLong) {
    const std::string why = a == Answer::TooLong ? vformat(pick(msg::kAnswerTooLong), kMaxAnswer)
                                                 : std::string(pick(msg::kEndOfInput));
    con.write(why);
    con.flush();
    if (finfo.is_open()) {
      finfo.write(why);
      finfo.flush();
    }
    throw RunStop{1};
  }
  return false;
}

std::string Run::read_name() {
  std::string w;
  answer(con.read_word(w));  // a word is always an answer, unless input has ended
  // A control byte (a NUL of a scripted answer, say) would cut the name or hide in it.
  const auto control = std::find_if(
      w.begin(), w.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
  if (control != w.end()) {
    std::string shown;
    for (char c : w) {
      const auto b = static_cast<unsigned char>(c);
      shown += b < 0x20 || b == 0x7F ? vformat("\\x%02X", b) : std::string(1, c);
    }
    fail(vformat(pick(msg::kControlInName), shown.c_str(), static_cast<unsigned char>(*control)));
  }
  return w;
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

void Run::fail_create(const std::string& name, int err) {
  const char* why = nrutil::is_non_regular(host_path(name)) ? pick(msg::kWhyNotRegular)
                    : err != 0                              ? std::strerror(err)
                                                            : pick(msg::kWhyWriteError);
  fail_file(msg::kCannotCreate, name, why);
}

void Run::check_written(TextFile& f, const std::string& name) {
  if (!f.flush()) fail_file(msg::kCannotWrite, name, pick(msg::kWhyWriteError));
}

}  // namespace app
