// Start of a run: start-up values, banner, language question and introduction.
#include <string>

#include "app/stages.h"

namespace app {

namespace {

constexpr int kBannerInner = 61;  // characters between the two vertical edges

// One inner line of the banner: `lead` blanks, the text, blanks up to the inner width.
std::string banner_line(int lead, const char* text) {
  std::string s(static_cast<std::size_t>(lead), ' ');
  s += text;
  s.resize(kBannerInner, ' ');
  return s;
}

void print_banner(Ui& r) {
  const BoxChars b;
  const std::string edge(kBannerInner, b.h);
  r.con.print("\n\n\t%c%s%c", b.p1, edge.c_str(), b.p2);
  const std::string inner[10] = {
      banner_line(0, ""),
      banner_line(23, "TESSERA_SUMMARY"),
      banner_line(0, ""),
      banner_line(0, ""),
      banner_line(0, ""),
      banner_line(34, "Landscape analysis"),
      banner_line(0, ""),
      banner_line(0, ""),
      banner_line(38, "Version June 2023"),
      banner_line(0, ""),
  };
  for (const std::string& line : inner) r.con.print("\n\t%c%s%c", b.v, line.c_str(), b.v);
  r.con.print("\n\t%c%s%c\n\n", b.p4, edge.c_str(), b.p3);
}

// The language menu, asked again while the answer is not 0, 1 or 2.
int ask_language(Ui& r) {
  for (;;) {
    for (const Text3* line : msg::kLanguageMenu) r.con.write(line->en);
    int v = 0;
    const Answer a = r.con.read_int(v);
    if (a == Answer::EndOfInput || a == Answer::TooLong) {
      r.language = 0;  // no language chosen yet: the stop is told in English
      if (a == Answer::TooLong) {
        r.say(msg::kAnswerTooLong, kMaxAnswer);
      } else {
        r.say(msg::kEndOfInput);
      }
      throw RunStop{1};
    }
    if (a == Answer::Ok && v >= 0 && v <= 2) return v;
  }
}

}  // namespace

void start(Ui& r) {
  print_banner(r);
  r.language = ask_language(r);
  for (const Text3* line : msg::kIntro) r.say(*line);
}

}  // namespace app
