// The run parameter dialogue: questions, re-asks, built names, report head, stops.
#include <gtest/gtest.h>

#include <memory>

#include "app/stages.h"
#include "support/session.h"

namespace {

using testing_support::ScratchDir;
using testing_support::Session;

// Runs the start and the dialogue only; returns the stop status, or 0. What the dialogue
// gathered goes into `setup`.
int dialogue_only(Session& s, app::Setup* setup = nullptr) {
  const int status = testing_support::stop_status([&] {
    app::start(s.ui);
    app::Setup got = app::dialogue(s.ui);
    if (setup != nullptr) *setup = std::move(got);
  });
  s.ui.report_file.close();
  s.ui.histogram_file.close();
  return status;
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t p = 0; (p = text.find(what, p)) != std::string::npos; p += what.size()) ++n;
  return n;
}

// Answers for language `lang`, a user disk that is the scratch folder, folder "zone1".
std::string head(int lang, const ScratchDir& d) {
  return std::to_string(lang) + "\n2\n" + d.path() + "\nzone1\n";
}

class Dialogue : public ::testing::Test {
 protected:
  // The folder and the image files the answers name (the dialogue looks for them; only the
  // summation reads them).
  void SetUp() override {
    std::filesystem::create_directory(dir.file("zone1"));
    for (const char* name :
         {"geol.raw", "soil.raw", "g.raw", "a.raw", "a.bmp", "b.raw", "b.bmp", "c.raw", "c.bmp"}) {
      testing_support::write_file(zone(name), "");
    }
  }
  std::string zone(const std::string& name) const { return dir.file("zone1/" + name); }
  ScratchDir dir;
};

TEST_F(Dialogue, PresetDiskNamesTheFolderAndStopsWhenItIsMissing) {
  Session s("0\n0\nzone1\n2\ngeol\nsoil\n0\n0\n1\n2\n1\nres\n");
  EXPECT_EQ(dialogue_only(s), 1);
  // The folder does not exist under /mnt/c: the stop names it as built, at once.
  const std::string t = s.text();
  EXPECT_NE(t.find("\n\tCannot open the folder C:\\images\\zone1: "), std::string::npos);
  EXPECT_EQ(t.find("Number of images to mix"), std::string::npos);
}

TEST_F(Dialogue, EnglishRunWritesTheSummaryAndAsksInOrder) {
  Session s(head(0, dir) + "2\ngeol\nsoil\n0\n0\n1\n2.5\n1\nres\n1\n10\n");
  app::Setup setup;
  ASSERT_EQ(dialogue_only(s, &setup), 0);
  const std::string d = dir.path();
  const std::string t = s.text();
  const std::string expected_tail =
      "\n\n\tName of the disk the where the directory is located: "
      "\n\t\t0 ====> C:\\images\n\t\t1 ====> D:\\images\n\t\t2 ====> defined by the user\n\t\t"
      "\n\tName of the disk? "
      "\n\n\tName of the File Folder located in the Directory " +
      d +
      " : "
      "\n\tNumber of images to mix ? \n"
      "\t\tGeneric name of the image number 1 (without any extension) ? "
      "\t\tGeneric name of the image number 2 (without any extension) ? "
      "\n\tType of the image " +
      d +
      "\\zone1\\geol: "
      "\n\t\t0 ====> raster\n\t\t1 ====> bitmap\n\t\t2 ====> ascii\n\t\t"
      "\n\tType of the image " +
      d +
      "\\zone1\\soil: "
      "\n\t\t0 ====> raster\n\t\t1 ====> bitmap\n\t\t2 ====> ascii\n\t\t\n"
      "\tWeight of the image " +
      d +
      "\\zone1\\geol: "
      "\tWeight of the image " +
      d +
      "\\zone1\\soil: "
      "\n\tStudy area comprised in a mask ? \n\t\t(Note: mask = 1; background = 255)"
      "\n\t\t0 ====> yes\n\t\t1 ====> no\n\t\t"
      "\n\n\tName of the resulting image (without any extension) ? "
      "\n\tFormat of the output picture: "
      "\n\t\t0 ====> raster\n\t\t1 ====> bitmap\n\t\t2 ====> ascii\n\t\t"
      "\n\tNumber of segments in the resulting image: "
      "\n\n\tTreatment";
  ASSERT_GE(t.size(), expected_tail.size());
  EXPECT_EQ(t.substr(t.size() - expected_tail.size()), expected_tail);
  EXPECT_EQ(setup.params.output_format, 1);
  EXPECT_EQ(setup.params.level_count, 10);
  EXPECT_EQ(setup.params.images[1].weight, 2.5);
  const std::string p = d + "\\zone1\\";
  EXPECT_EQ(setup.params.images[0].grid.name, p + "geol");
  EXPECT_EQ(setup.params.images[1].grid.name, p + "soil");
  EXPECT_EQ(setup.files.info, p + "res_info.txt");
  EXPECT_EQ(setup.files.points_utm, p + "res_points_utm.txt");

  const std::string report = testing_support::read_file(zone("res_info.txt"));
  EXPECT_EQ(report,
            "\n\n\tProgram TESSERA_SUMMARY \n\n\t\tLandscape analysis tools (June 2023) "
            "\n\n\tName of the Disk where the directory is located: \n\t   " +
                d +
                " "
                "\n\tName of the File Folder located in the Directory " +
                d +
                ": "
                "\n\t   " +
                d +
                "\\zone1 "
                "\n\n\tNumber of images to mix : 2 \n\n\tTreatment");
  EXPECT_TRUE(std::filesystem::exists(zone("res_histo.xls")));
  EXPECT_EQ(testing_support::read_file(zone("res_histo.xls")), "");
}

TEST_F(Dialogue, FrenchReportKeepsTheEnglishImagesLineAndDique) {
  Session s(head(1, dir) + "1\ng\n0\n1\n1\nres\n0\n5\n");
  ASSERT_EQ(dialogue_only(s), 0);
  const std::string report = testing_support::read_file(zone("res_info.txt"));
  EXPECT_NE(report.find("\n\n\tNom du dique o\x97 se trouve le r\x82pertoire : "),
            std::string::npos);
  EXPECT_NE(report.find("\n\n\tNumber of images to mix : 1 \n\n\tTreatement"), std::string::npos);
  EXPECT_NE(s.text().find("\n\tTreatement"), std::string::npos);
}

TEST_F(Dialogue, SpanishMaskTextsCarryTheAccentedA) {
  // A raw mask without descriptor: the size prompts appear, then the descriptor exists.
  testing_support::write_file(zone("m.raw"), std::string(6, '\x01'));
  Session s(head(2, dir) + "1\ng\n0\n1\n0\nm\n0\n2\n3\n7\nres\n0\n5\n");
  app::Setup setup;
  ASSERT_EQ(dialogue_only(s, &setup), 0);
  const std::string t = s.text();
  EXPECT_NE(t.find("\n\t\xA8"
                   "Area de estudio comprendida en una m\xA0scara? "),
            std::string::npos);
  EXPECT_NE(t.find("\n\t\t(Nota: m\xA0scara = 1; fondo = 255)"), std::string::npos);
  EXPECT_NE(t.find("\n\tFormato de la m\xA0scara: "), std::string::npos);
  EXPECT_NE(t.find("\n\t\tN\xA3mero de l\xA1neas? \n\t\tN\xA3mero de columnas? \n\t\t\xA8Tama\xA4o "
                   "del pixel? "),
            std::string::npos);
  EXPECT_EQ(testing_support::read_file(zone("m.txt")), "2\n3\n1\n0\n255\n7\n");
  ASSERT_TRUE(setup.mask.has_value());
  EXPECT_EQ(setup.mask->file, dir.path() + "\\zone1\\m.raw");
  EXPECT_EQ(setup.mask->outside.nb_lig(), 2);
  EXPECT_EQ(setup.georef.pixel_size, 7.0);
  EXPECT_EQ(setup.descriptors, std::vector<std::string>{dir.path() + "\\zone1\\m.txt"});
}

TEST_F(Dialogue, WrongTypeAnswersRepeatOnlyTheOptionLines) {
  Session s(head(0, dir) + "1\ng\n5\n-2\nx\n0\n1\n1\nres\n3\n0\n5\n");
  app::Setup setup;
  ASSERT_EQ(dialogue_only(s, &setup), 0);
  const std::string t = s.text();
  EXPECT_EQ(count_of(t, "\n\tType of the image "), 1u);
  EXPECT_EQ(count_of(t, "\n\t\t0 ====> raster\n\t\t1 ====> bitmap\n\t\t2 ====> ascii\n\t\t"),
            4u + 2u);
  EXPECT_EQ(count_of(t, "\n\tFormat of the output picture: "), 1u);
  EXPECT_EQ(setup.params.output_format, 0);
}

TEST_F(Dialogue, NoMaskAsksNothingMoreAndReadsNothing) {
  Session s(head(0, dir) + "1\ng\n0\n1\n1\nres\n0\n5\n");
  app::Setup setup;
  ASSERT_EQ(dialogue_only(s, &setup), 0);
  EXPECT_EQ(s.text().find("Name of the mask"), std::string::npos);
  EXPECT_EQ(s.text().find("Mask format"), std::string::npos);
  EXPECT_FALSE(setup.mask.has_value());
}

TEST_F(Dialogue, PixelSizeIsAskedOnlyWhenTheLastImageIsBmpAndNoneIsKnown) {
  const char* kQuestion = "\n\tpixel size (decimal value in meters) ? ";
  {
    Session s(head(0, dir) + "3\na\nb\nc\n0\n0\n1\n1\n1\n1\n1\nres\n0\n5\n2.5\n");
    app::Setup setup;
    ASSERT_EQ(dialogue_only(s, &setup), 0);
    EXPECT_EQ(count_of(s.text(), kQuestion), 1u);
    EXPECT_EQ(setup.georef.pixel_size, 2.5);
  }
  {
    Session s(head(0, dir) + "3\na\nb\nc\n1\n1\n0\n1\n1\n1\n1\nres\n0\n5\n");
    ASSERT_EQ(dialogue_only(s), 0);
    EXPECT_EQ(count_of(s.text(), kQuestion), 0u);
  }
  {
    testing_support::write_file(zone("m.raw"), "ab");
    testing_support::write_file(zone("m.txt"), "1 2 1 0 255 30");
    Session s(head(0, dir) + "1\na\n1\n1\n0\nm\n0\nres\n0\n5\n");
    app::Setup setup;
    ASSERT_EQ(dialogue_only(s, &setup), 0);
    EXPECT_EQ(count_of(s.text(), kQuestion), 0u);
    EXPECT_EQ(setup.georef.pixel_size, 30.0);
  }
}

TEST_F(Dialogue, CountsOutsideOneToNinetyNineAreAskedAgainWithANote) {
  Session s(head(0, dir) + "0\n100\n-4\nmany\n1\ng\n0\nw\n1\n1\nres\n0\n0\n120\n99\n");
  app::Setup setup;
  ASSERT_EQ(dialogue_only(s, &setup), 0);
  const std::string t = s.text();
  EXPECT_EQ(count_of(t, "\n\tThe answer must lie between 1 and 99."), 5u);
  EXPECT_EQ(count_of(t, "\n\tNumber of images to mix ? "), 5u);
  EXPECT_EQ(count_of(t, "\n\tNumber of segments in the resulting image: "), 3u);
  EXPECT_EQ(count_of(t, "\tWeight of the image "), 2u);  // "w" is not a number
  EXPECT_EQ(setup.params.images.size(), 1u);
  EXPECT_EQ(setup.params.level_count, 99);
}

TEST_F(Dialogue, EndOfInputAtAnyQuestionStopsWithStatusOne) {
  const std::string full = head(0, dir) + "1\ng\n0\n1\n1\nres\n0\n5\n";
  for (std::size_t cut = 0; cut < full.size(); cut = full.find('\n', cut) + 1) {
    Session s(full.substr(0, cut));
    EXPECT_EQ(dialogue_only(s), 1) << "answers cut after byte " << cut;
    EXPECT_NE(s.text().find("End of input: the run stops."), std::string::npos);
    if (full.find('\n', cut) + 1 >= full.size()) break;
  }
}

}  // namespace
