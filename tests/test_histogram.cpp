// Tests of the level histogram and the point files: table layout, point rows and columns,
// map coordinates against printf, report lines, and files that cannot be made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "support/session.h"

namespace {

using testing_support::Picture;
using testing_support::StageRun;

// Every point of the file by column and row, as "j,i;" pairs.
std::string point_cells(const std::string& ij) {
  std::string out;
  int j = 0, i = 0, v = 0, used = 0;
  for (const char* p = ij.c_str(); std::sscanf(p, "%d\t%d\t%d\n%n", &j, &i, &v, &used) == 3;
       p += used) {
    out += std::to_string(j) + "," + std::to_string(i) + ";";
  }
  return out;
}

TEST(MovingWindowHistogram, TableLinesStartWithABlankAfterTheFirst) {
  // A band of 1 around 60 cells: 10 of level 1, 20 of level 2, 30 of level 3.
  StageRun s;
  s.levels({"............", ".1111111111.", ".2222222222.", ".2222222222.", ".3333333333.",
            ".3333333333.", ".3333333333.", "............"},
           3);
  s.detect();
  EXPECT_EQ(s.bytes("_histo.xls"), "1\t10\n 2\t20\n 3\t30\n \n");
}

struct ReportCase {
  int idiom;
  const char* expected;
};
void PrintTo(const ReportCase& c, std::ostream* os) {
  *os << "idiom " << c.idiom;
}

class MovingWindowReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(MovingWindowReport, NamesTypeAndHistogramFile) {
  StageRun s;
  s.ui.language = GetParam().idiom;
  s.levels({".....", ".111.", ".111.", ".111.", "....."}, 5);
  s.detect();  // a moving window of band 1
  EXPECT_EQ(s.bytes("_histo.xls"), "1\t9\n 2\t0\n 3\t0\n 4\t0\n 5\t0\n \n");
  EXPECT_TRUE(s.p.histogram_reported);
  std::string expected = GetParam().expected;
  expected.replace(expected.find('@'), 1, s.setup.files.histogram);
  EXPECT_EQ(s.report(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, MovingWindowReport,
    ::testing::Values(
        ReportCase{0,
                   "\n\n\tMoving window treatment has been used to generate the input images. "
                   "\n\n\tdiversity levels histogram: @ "},
        ReportCase{1,
                   "\n\n\tTraitement de type fenetre mobile. "
                   "\n\n\tHistogramme des niveaux de diversite : @ "},
        ReportCase{2,
                   "\n\n\tTratamiento de tipo ventana movil. "
                   "\n\n\tHistograma de los niveles de diversidad: @ "}));

TEST(SquareMeshRun, CellTablePointTablePointFilesAndReport) {
  Picture p(10, "1111111111");
  for (int i = 5; i < 10; ++i) p[i] = "2222222222";
  StageRun s("0\n0\n1\n");
  s.levels(p, 2);
  s.detect_and_mesh();
  // Cells of rows and columns 0 to 8 off the lines 0, 3, 6: rows 1, 2, 4 of level 1 and
  // rows 5, 7, 8 of level 2, six cells each. Points at rows and columns 1, 4, 7.
  EXPECT_EQ(s.bytes("_histo.xls"), "1\t18\n 2\t18\n \n1\t6\n 2\t3\n ");
  EXPECT_EQ(s.bytes("_points_ij.txt"),
            "1\t1\t1\n4\t1\t1\n7\t1\t1\n1\t4\t1\n4\t4\t1\n7\t4\t1\n1\t7\t2\n4\t7\t2\n7\t7\t2\n");
  EXPECT_EQ(s.bytes("_points_utm.txt"),
            "1045.000\t2255.000\t1.000\n1135.000\t2255.000\t1.000\n1225.000\t2255.000\t1.000\n"
            "1045.000\t2165.000\t1.000\n1135.000\t2165.000\t1.000\n1225.000\t2165.000\t1.000\n"
            "1045.000\t2075.000\t2.000\n1135.000\t2075.000\t2.000\n1225.000\t2075.000\t2.000\n");
  const std::string& h = s.setup.files.histogram;
  EXPECT_EQ(s.report(),
            "\n\n\tCell mesh treatment has been used to generate the input images. "
            "\n\n\tdiversity levels histogram: " +
                h + " \n\n\tTwo point files created: \n\t\t- " + s.setup.files.points_ij +
                " \n\t\t- " + s.setup.files.points_utm +
                " \n\n\tdiversity levels histogram : " + h + " ");
}

TEST(PointFiles, FrenchReportLines) {
  StageRun s;
  s.ui.language = 1;
  s.p.range = 1;
  s.uniform(3, 3, 1);
  s.points();
  EXPECT_EQ(s.report(),
            "\n\n\tDeux fichiers de points ont ete enregistres : \n\t\t- " +
                s.setup.files.points_ij + " \n\t\t- " + s.setup.files.points_utm +
                " \n\n\thistogramme des niveaux de diversite : " + s.setup.files.histogram + " ");
  EXPECT_EQ(s.console(),
            "\n\n\tCr\x82"
            "ation de fichiers de points pour r\x82"
            "aliser des interpolations externes ");
}

struct RowsCase {
  int nb_lig, nb_col, rango;
  const char* cells;
};
void PrintTo(const RowsCase& c, std::ostream* os) {
  *os << c.nb_lig << "x" << c.nb_col << " range " << c.rango;
}

class PointRows : public ::testing::TestWithParam<RowsCase> {};

TEST_P(PointRows, RowTestKeepsALastShortRowColumnTestDoesNot) {
  const RowsCase& c = GetParam();
  StageRun s;
  s.p.range = c.rango;
  s.uniform(c.nb_lig, c.nb_col, 1);
  s.points();
  EXPECT_EQ(point_cells(s.bytes("_points_ij.txt")), c.cells);
}

INSTANTIATE_TEST_SUITE_P(
    Grids, PointRows,
    ::testing::Values(RowsCase{10, 10, 1, "1,1;4,1;7,1;1,4;4,4;7,4;1,7;4,7;7,7;"},
                      RowsCase{11, 10, 1, "1,1;4,1;7,1;1,4;4,4;7,4;1,7;4,7;7,7;1,10;4,10;7,10;"},
                      RowsCase{5, 11, 2, "2,2;7,2;"},
                      // A range of 0 would reach row nb_lig; below 0 there are no cells.
                      RowsCase{2, 2, 0, "0,0;1,0;0,1;1,1;"}, RowsCase{4, 4, -2, ""},
                      RowsCase{1, 1, 1, ""}, RowsCase{3, 3, 2147483647, ""}));

TEST(PointFiles, BackgroundCentreIsWrittenAsTopLevel) {
  StageRun s;
  s.p.range = 1;
  s.levels({"111111", "1.1111", "111111"}, 7);
  s.georef.pixel_size = 1.0;
  s.georef.corner = core::Corner{0.0, 0.0};
  s.points();
  EXPECT_EQ(s.bytes("_points_ij.txt"), "1\t1\t7\n4\t1\t1\n");
  EXPECT_EQ(s.bytes("_points_utm.txt"), "1.500\t1.500\t7.000\n4.500\t1.500\t1.000\n");
  EXPECT_EQ(s.bytes("_histo.xls"), "1\t1\n 2\t0\n 3\t0\n 4\t0\n 5\t0\n 6\t0\n 7\t1\n ");
}

TEST(PointFiles, MapCoordinatesMatchPrintfRounding) {
  // Origins and pixel sizes whose products sit on or near a rounding tie.
  const double origins[][3] = {{0.0005, 0.0015, 0.001},    {2.675, -1.0005, 0.005},
                               {-0.0004, -0.0006, 0.0001}, {123456789.0625, 1e15, 0.125},
                               {-1e-9, 5e-4, 1e-3},        {1.0, 2.0, 1.0 / 3.0}};
  for (const auto& o : origins) {
    StageRun s;
    s.p.range = 1;
    s.uniform(7, 8, 3);
    s.georef.corner = core::Corner{o[0], o[1]};
    s.georef.pixel_size = o[2];
    s.points();
    std::string expected;
    char line[1200];
    for (int i = 1; i <= 6; i += 3) {
      for (int j = 1; j < 7; j += 3) {
        std::snprintf(line, sizeof line, "%.3lf\t%.3lf\t%.3lf\n", o[0] + (j + 0.5) * o[2],
                      o[1] + (7 - i - 0.5) * o[2], 3.0);
        expected += line;
      }
    }
    EXPECT_EQ(s.bytes("_points_utm.txt"), expected) << o[0] << " " << o[1] << " " << o[2];
  }
}

TEST(PointFiles, ManyPointsAreWrittenWhole) {
  // More than one output block of lines.
  StageRun s;
  s.p.range = 0;
  s.uniform(300, 400, 2);
  s.points();
  const std::string ij = s.bytes("_points_ij.txt");
  EXPECT_EQ(ij.substr(ij.size() - 10), "399\t299\t2\n");
  std::size_t lines = 0;
  for (const char ch : s.bytes("_points_utm.txt")) lines += ch == '\n';
  EXPECT_EQ(lines, 120000u);
  EXPECT_NE(s.bytes("_histo.xls").find(" 2\t120000\n"), std::string::npos);
}

TEST(PointFiles, MissingFolderStopsNamingTheFile) {
  StageRun s;
  s.p.range = 1;
  s.uniform(3, 3, 1);
  s.setup.files.points_ij = s.dir.path() + "\\absent\\res_points_ij.txt";
  EXPECT_EQ(testing_support::stop_status([&] { s.points(); }), 1);
  EXPECT_NE(s.console().find("\n\tCannot create the file " + s.setup.files.points_ij + ": "),
            std::string::npos);
  EXPECT_NE(s.report().find("Cannot create the file " + s.setup.files.points_ij),
            std::string::npos);
}

TEST(PointFiles, ADeviceInPlaceOfAPointFileIsRefused) {
  StageRun s;
  s.p.range = 1;
  s.uniform(30, 30, 1);
  ASSERT_EQ(symlink("/dev/full", s.file("_points_utm.txt").c_str()), 0);
  EXPECT_EQ(testing_support::stop_status([&] { s.points(); }), 1);
  EXPECT_NE(s.console().find("\n\tCannot create the file " + s.setup.files.points_utm +
                             ": the name is taken by a folder, a device or a named pipe"),
            std::string::npos);
}

}  // namespace
