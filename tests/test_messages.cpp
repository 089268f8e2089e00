// Every message exists in the three languages with the same conversions in the same order.
#include <gtest/gtest.h>

#include <string>

#include "app/messages.h"

namespace {

using app::Text3;
namespace msg = app::msg;

// The printf conversions of a text, in order ("%%" left out).
std::string conversions(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    std::string c = "%";
    while (*p != '\0' && std::string("diouxXeEfFgGcsp").find(*p) == std::string::npos) c += *p++;
    c += *p;
    out += c;
    if (*p == '\0') break;
  }
  return out;
}

TEST(Messages, EveryLanguageTakesTheSameArguments) {
  for (const msg::NamedText& t : msg::kAllTexts) {
    EXPECT_EQ(conversions(t.text->fr), conversions(t.text->en)) << t.name;
    EXPECT_EQ(conversions(t.text->es), conversions(t.text->en)) << t.name;
  }
  // The language menu and the introduction are printed as they stand: no conversion.
  for (const Text3* t : msg::kLanguageMenu) EXPECT_EQ(conversions(t->en), "");
  for (const Text3* t : msg::kIntro) {
    for (const char* s : {t->en, t->fr, t->es}) EXPECT_EQ(conversions(s), "") << s;
  }
}

TEST(Messages, ConsoleTextsAreCodePage850AndFileTextsPlain) {
  // Texts written into files carry no accented letters, apart from the two summary lines
  // whose French form has them.
  const Text3* const file_texts[] = {&msg::kItemsHeadReport,    &msg::kReportCellMesh,
                                     &msg::kReportMovingWindow, &msg::kReportResultName,
                                     &msg::kReportLevels,       &msg::kReportPixel,
                                     &msg::kReportPointFiles,   &msg::kReportPointHisto};
  for (const Text3* t : file_texts) {
    for (const char* s : {t->en, t->fr, t->es}) {
      for (const char* p = s; *p != '\0'; ++p) EXPECT_GE(*p, 0) << s;
    }
  }
  EXPECT_NE(std::string(msg::kSummaryDisk.fr).find("o\x97 se trouve le r\x82pertoire"),
            std::string::npos);
}

}  // namespace
