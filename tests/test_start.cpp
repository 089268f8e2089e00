// Start of a run: banner, language question, introductions, end of input.
#include <gtest/gtest.h>

#include "app/stages.h"
#include "support/session.h"

namespace {

using testing_support::Session;

std::string start_text(const std::string& answers, int* status = nullptr) {
  Session s(answers);
  const int st = testing_support::stop_status([&] { app::start(s.ui); });
  if (status != nullptr) *status = st;
  return s.text();
}

const std::string kMenu =
    "\n\tLanguage: \n\t\t0 ====> English\n\t\t1 ====> French\n\t\t2 ====> Spanish\n\tChoice: ";

TEST(Banner, IsTwelveLinesOf61InnerCharactersWithExactCorners) {
  const std::string t = start_text("0");
  ASSERT_EQ(t.rfind("\n\n\t\xC9", 0), 0u);
  const std::size_t end = t.find("\n\n", 3);
  const std::string banner = t.substr(2, end - 2);
  std::vector<std::string> lines;
  std::size_t p = 0;
  for (std::size_t q; (q = banner.find('\n', p)) != std::string::npos; p = q + 1) {
    lines.push_back(banner.substr(p, q - p));
  }
  lines.push_back(banner.substr(p));
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "\t\xC9" + std::string(61, '\xCD') + "\xBB");
  EXPECT_EQ(lines[11], "\t\xC8" + std::string(61, '\xCD') + "\xBC");
  for (int i = 1; i <= 10; ++i) {
    ASSERT_EQ(lines[i].size(), 64u) << i;
    EXPECT_EQ(lines[i].substr(0, 2), "\t\xBA");
    EXPECT_EQ(lines[i].back(), '\xBA');
  }
  EXPECT_EQ(lines[2],
            "\t\xBA" + std::string(23, ' ') + "TESSERA_SUMMARY" + std::string(23, ' ') + "\xBA");
  EXPECT_EQ(lines[9],
            "\t\xBA" + std::string(38, ' ') + "Version June 2023" + std::string(6, ' ') + "\xBA");
  EXPECT_EQ(lines[6].substr(2, 34), std::string(34, ' '));
  EXPECT_NE(lines[6][36], ' ');  // the credit text starts at inner column 35
  EXPECT_EQ(t.substr(end, 2 + kMenu.size()), "\n\n" + kMenu);
}

TEST(Language, AnswersAboveTwoNegativeOrNotNumbersAreAskedAgain) {
  const std::string t = start_text("3 7 -1 x 1");
  std::size_t count = 0;
  for (std::size_t p = 0; (p = t.find(kMenu, p)) != std::string::npos; p += kMenu.size()) ++count;
  EXPECT_EQ(count, 5u);
  EXPECT_NE(t.find("\n\n\tCe programme fait la somme des diff\x82rents"), std::string::npos);
}

TEST(Language, EachIntroductionIsExact) {
  const std::string en =
      "\n\n\tThis program makes the sum of the different sub-indexes which enter into"
      "\n\tthe definition of the diversity index, for example, the geological sub-index,"
      "\n\tthe sub-index calculated from the soil map, the geomorphological sub-index."
      "\n\tThe program calculates the sum of these indices, and normalizes them according"
      "\n\tto the scale defined by the user."
      "\n\tMoreover, it is possible to take into account the weight of each of the indices"
      "\n\tto carry out the calculation."
      "\n\tEventually, a grid can be transferred to the resulting image. ";
  const std::string fr =
      "\n\n\tCe programme fait la somme des diff\x82rents sub-indices qui entrent dans la"
      "\n\td\x82"
      "finition de l'indice de diversit\x82, par exemple, le sub-indice g\x82ologique, le"
      "\n\tsub-indice calcul\x82 \x85 partir de la carte des sols, le sub-indice "
      "g\x82omorphologique."
      "\n\tLe programme fait la somme de ces indices, et les normalize en fonction de l'\x82"
      "chelle"
      "\n\td\x82"
      "finie par l'utilisateur. "
      "\n\tPar ailleurs, il est possible de prendre en compte le poids de chacun des indices"
      "\n\tpour r\x82"
      "aliser le calcul."
      "\n\tEventuellement, une grille peut \x88tre report\x82"
      "e sur l'image r\x82sultante. ";
  const std::string es =
      "\n\n\tEste programa realiza la suma de los diferentes sub\xA1ndices que entran en la"
      "\n\tdefinici\xA2n del \xA1ndice de diversidad, por ejemplo, el sub\xA1ndice geol\xA2gico,"
      "\n\tel sub\xA1ndice proveniente del mapa de suelos, el sub\xA1ndice geomorfol\xA2gico."
      "\n\tEl programa calcula la suma de estos \xA1ndices y los normaliza seg\xA3n la"
      "\n\tescala definida por el usuario."
      "\n\tAdem\xA0s, es posible tomar en cuenta los pesos de cada uno de los \xA1ndices"
      "\n\tpara realizar el c\xA0lculo."
      "\n\tEventualmente, se puede trazar una cuadr\xA1"
      "cula en la imagen resultante. ";
  const std::string intro[] = {en, fr, es};
  for (int lang = 0; lang < 3; ++lang) {
    const std::string t = start_text(std::to_string(lang));
    ASSERT_GE(t.size(), intro[lang].size());
    EXPECT_EQ(t.substr(t.size() - intro[lang].size()), intro[lang]) << lang;
    EXPECT_EQ(t.substr(t.size() - intro[lang].size() - kMenu.size(), kMenu.size()), kMenu);
  }
}

TEST(Language, EndOfInputStopsWithStatusOneAndAMessage) {
  int status = 0;
  const std::string t = start_text("9 ", &status);
  EXPECT_EQ(status, 1);
  EXPECT_NE(t.find("End of input"), std::string::npos);
}

TEST(Run, WholeRunEndingDuringTheDialogueReturnsOne) {
  Session s("1\n");
  EXPECT_EQ(s.go(), 1);
  EXPECT_NE(s.text().find("Fin des r\x82ponses"), std::string::npos);
}

}  // namespace
