// Tests of the processing-type detection and the cell-mesh stage: detection, the question
// sequences in the three languages, both drawings, and the guarded overrides and ranges.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "support/session.h"

namespace {

using testing_support::Picture;
using testing_support::StageRun;

const std::string kYesNoEn = "\n\t\t0 ====> yes\n\t\t1 ====> no\n\t\t";
const std::string kYesNoFr = "\n\t\t0 ====> oui\n\t\t1 ====> non\n\t\t";
const std::string kYesNoEs = "\n\t\t0 ====> si\n\t\t1 ====> no\n\t\t";
const std::string kQ1En = "\n\n\tdo you want to draw the cell mesh: ";

// A moving-window grid: a background band of `band` cells around an area of level v.
Picture moving_window(int nb_lig, int nb_col, int band, char v = '2') {
  Picture p(nb_lig, std::string(nb_col, '.'));
  for (int i = band; i < nb_lig - band; ++i) {
    for (int j = band; j < nb_col - band; ++j) p[i][j] = v;
  }
  return p;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(Detection, SquareCellMeshMeasuresDataAreaAndFillsHolesBeforeIt) {
  StageRun s;
  s.levels({"1111111111..", "1111111111..", "111.111111..", "111111111...", "2222222222..",
            "2222222222..", "3333333333..", "3333333333..", "33.3333333..", "............",
            "............", "............"},
           4);
  s.detect();
  EXPECT_EQ(s.p.type, 0);
  EXPECT_EQ(s.p.detected.band_width, 0);
  EXPECT_EQ(s.p.detected.area.last_col, 9);
  EXPECT_EQ(s.p.detected.area.last_row, 8);
  // The hole before row ifin and column jfin gets the top level; those on them do not.
  EXPECT_EQ(s.picture()[2], "1114111111..");
  EXPECT_EQ(s.picture()[3], "111111111...");
  EXPECT_EQ(s.picture()[8], "33.3333333..");
  EXPECT_FALSE(s.p.histogram_reported);
  EXPECT_EQ(s.bytes("_histo.xls"), "");
}

TEST(Detection, MovingWindowBandGivesJdebAndWritesHistogramAtOnce) {
  Picture p = moving_window(12, 12, 3);
  p[4][5] = '.';
  StageRun s;
  s.levels(p, 3);
  s.detect();
  EXPECT_EQ(s.p.type, 1);
  EXPECT_EQ(s.p.detected.band_width, 3);
  EXPECT_EQ(s.grid[4][5], 3);
  EXPECT_EQ(s.grid[2][5], 255);
  EXPECT_TRUE(s.p.histogram_reported);
  EXPECT_EQ(s.bytes("_histo.xls"), "1\t0\n 2\t35\n 3\t1\n \n");
}

TEST(Detection, LeftHalfOfMiddleRowAllBackgroundIsSquareCellMesh) {
  StageRun s;
  s.levels({"111111", "111111", "111111", "...111", "111111", "111111"});
  s.detect();
  EXPECT_EQ(s.p.type, 0);
  EXPECT_EQ(s.p.detected.band_width, 0);
}

TEST(CellMesh, DecliningTheDrawingLeavesTheGridAndTheHistogramAlone) {
  StageRun s("1\n");
  s.levels({"1111", "11.1", "1111", "1111", "...."});
  s.detect_and_mesh();
  EXPECT_EQ(s.picture(), (Picture{"1111", "1191", "1111", "1111", "...."}));
  EXPECT_FALSE(s.p.mesh_drawn);
  EXPECT_EQ(s.console(), kQ1En + kYesNoEn);
  EXPECT_EQ(s.bytes("_histo.xls"), "");
  EXPECT_EQ(s.report(), "");
  EXPECT_FALSE(std::filesystem::exists(s.file("_points_ij.txt")));
}

TEST(CellMesh, OutOfRangeAnswersRepeatOnlyTheOptionLines) {
  StageRun s("7\n-1\nx\n1\n");
  s.levels({"11", "11"});
  s.detect_and_mesh();
  EXPECT_EQ(s.console(), kQ1En + kYesNoEn + kYesNoEn + kYesNoEn + kYesNoEn);
}

TEST(CellMesh, EnglishSquareCellMeshDialogueAndReportLine) {
  StageRun s("0\n0\n1\n");
  s.levels(Picture(6, "111111"));
  s.detect_and_mesh();
  EXPECT_EQ(s.console(),
            kQ1En + kYesNoEn +
                "\n\tCell mesh treatment has been used to generate the input images. "
                "\n\n\tdo you agree ? " +
                kYesNoEn +
                "\n\tUsed parameters to generate the resulting image: "
                "\n\n\t\tPixel size = 30.00 "
                "\n\n\t\tUTM coordinates: \n\t\t\tX_min = 1000.000 \t\t\tY_min = 2000.000 "
                "\n\n\t\tSize of the window range ? "
                "\n\tmesh drawing "
                "\n\n\tCreation of point files to realize external interpolations ");
  EXPECT_EQ(
      s.report().rfind("\n\n\tCell mesh treatment has been used to generate the input images. ", 0),
      0u);
  EXPECT_TRUE(s.p.mesh_drawn);
  EXPECT_EQ(s.p.range, 1);
}

TEST(CellMesh, SpanishRejectionsUseTheirOwnAgreementAndTypeLines) {
  // Square cell mesh rejected, moving window chosen and rejected, square cell mesh again.
  StageRun s("0\n1\n1\n1\n0\n1\n");
  s.levels(Picture(6, "111111"));
  s.detect_and_mesh(2);
  const std::string expected =
      "\n\n\t\xA8requiere dibujar las celdas? " + kYesNoEs +
      "\n\tSe usaron celdas para el tratamiento. \n\n\t\xA8"
      "Correcto? " +
      kYesNoEs + "\n\tTipo de tratamiento que se us\xA2: " +
      "\n\t\t0 ====> celdas\n\t\t1 ====> ventana m\xA2vil\n\t\t" +
      "\n\tUna ventana m\xA2vil se us\xA2 para generar el resultado. \n\n\t\xA8"
      "de acuerdo? " +
      kYesNoEs + "\n\t\xA8Tipo de tratamiento que se us\xA2? " +
      "\n\t\t0 ====> celda\n\t\t1 ====> ventana m\xA2vil\n\t\t" +
      "\n\tPar\xA0metros utilizados para realizar el c\xA0lculo: " +
      "\n\n\t\tTama\xA4o del p\xA1xel size = 30.00 ";
  EXPECT_EQ(s.console().substr(0, expected.size()), expected);
  EXPECT_EQ(s.p.type, 0);
  EXPECT_EQ(
      s.report().rfind("\n\n\tUn tratamiento tipo malla de celdas cuadradas genero la imagen. ", 0),
      0u);
}

TEST(CellMesh, FrenchMovingWindowDialogueAddsNoSecondTypeLine) {
  StageRun s("0\n0\n0\n1\n");
  s.levels(moving_window(8, 8, 1));
  s.ui.language = 1;
  s.detect();
  const std::string report_before = s.report();
  s.mesh();
  EXPECT_EQ(s.console(),
            "\n\n\tvoulez-vous dessiner la maille : " + kYesNoFr +
                "\n\tUn traitement de type fen\x88tre mobile a \x82t\x82 utilis\x82. " +
                "\n\n\tEtes-vous d'accord ? " + kYesNoFr +
                "\n\tLe dessin de la maille sur une image provenant d'un traitement " +
                "\n\tutilisant une fen\x88tre mobile est seulement illustratif. " +
                "\n\n\tD\x82sirez-vous vraiment dessiner cette maille ? " + kYesNoFr +
                "\n\n\tdessin du maillage : " + kYesNoFr);
  EXPECT_EQ(s.report(), report_before);
  EXPECT_FALSE(s.p.mesh_drawn);
}

TEST(CellMesh, EnglishSquareCellMeshChangedToMovingWindowIsConfirmedAgain) {
  StageRun s("0\n1\n1\n0\n0\n1\n");
  s.levels(Picture(6, "111111"));
  s.detect_and_mesh();
  EXPECT_EQ(s.console(),
            kQ1En + kYesNoEn +
                "\n\tCell mesh treatment has been used to generate the input images. "
                "\n\n\tdo you agree ? " +
                kYesNoEn + "\n\tType of processing really used: " +
                "\n\t\t0 ====> square cell mesh\n\t\t1 ====> moving window\n\t\t" +
                "\n\tMoving window treatment has been used to generate the input images. "
                "\n\n\tdo you agree ? " +
                kYesNoEn + "\n\tThe drawing of the cell mesh on an image coming from  " +
                "\n\ta processing using a mobile window is only illustrative." +
                "\n\n\tdo you really want to draw this cell mesh? " + kYesNoEn +
                "\n\n\tcell mesh drawing: " + kYesNoEn);
  EXPECT_EQ(s.report(),
            "\n\n\tMoving window treatment has been used to generate the input images. ");
}

TEST(CellMesh, UnknownMapOriginIsAskedOnce) {
  StageRun s("0\n0\n512.5\n-7\n1\n");
  s.levels(Picture(3, "111"));
  s.georef.pixel_size = 2.5;
  s.georef.corner.reset();
  s.detect();
  s.mesh();
  const std::string part =
      "\n\n\t\tPixel size = 2.50 \n\n\t\tUTM Coordinates: \n\t\t\tX_min ? \t\t\tY_min ? "
      "\n\n\t\tSize of the window range ? ";
  EXPECT_NE(s.console().find(part), std::string::npos);
  ASSERT_TRUE(s.p.georef.corner.has_value());
  EXPECT_DOUBLE_EQ(s.p.georef.corner->x_min, 512.5);
  EXPECT_DOUBLE_EQ(s.p.georef.corner->y_min, -7.0);
}

TEST(SquareMeshDrawing, RangeTwoDrawsEveryFifthRowAndColumn) {
  StageRun s("0\n0\n2\n");
  s.levels(Picture(12, std::string(20, '1')));
  s.detect_and_mesh();
  const std::string line(20, '#');
  const std::string cells = "#1111#1111#1111#1111";
  EXPECT_EQ(s.picture(), (Picture{line, cells, cells, cells, cells, line, cells, cells, cells,
                                  cells, line, cells}));
}

TEST(SquareMeshDrawing, RowAndColumnAfterTheDataAreaKeepTheirValuesBeyondIsReset) {
  Picture p(12, std::string(12, '1'));
  for (int k = 8; k < 12; ++k) p[6][k] = p[k][6] = '.';  // data ends at row 7, column 7
  StageRun s("0\n0\n1\n");
  s.levels(p);
  s.detect_and_mesh();
  EXPECT_EQ(s.p.area.last_row, 7);
  EXPECT_EQ(s.p.area.last_col, 7);
  const std::string line = "#########...", cells = "#11#11#11...", none(12, '.');
  EXPECT_EQ(s.picture(), (Picture{line, cells, cells, line, cells, cells, line, cells, cells, none,
                                  none, none}));
}

TEST(MovingWindowDrawing, BandOfThreeDrawsLinesOutsideTheBandOnly) {
  StageRun s("0\n0\n0\n0\n");
  s.levels(moving_window(16, 16, 3));
  s.detect_and_mesh();
  EXPECT_EQ(s.p.range, 3);
  EXPECT_TRUE(s.p.mesh_drawn);
  const std::string band(16, '.'), line = "...##########...", cells = "...#22#22#22#...";
  EXPECT_EQ(s.picture(), (Picture{band, band, band, line, cells, cells, line, cells, cells, line,
                                  cells, cells, line, band, band, band}));
}

TEST(MovingWindowDrawing, DeclinedMeshStillResetsTheBand) {
  Picture p = moving_window(8, 8, 2);
  StageRun s("0\n0\n1\n1\n");
  s.levels(p);
  s.detect();
  // Whatever the band holds becomes background again.
  s.grid[0][0] = 5;
  s.mesh();
  EXPECT_EQ(s.picture(), p);
  EXPECT_FALSE(s.p.mesh_drawn);
}

// ---- Sound behaviour where the plain procedure would go wrong ----

TEST(SoundBehaviour, WindowRangeBelowOneIsAskedAgainWithANote) {
  StageRun s("0\n0\n0\n-3\n2\n");
  s.levels(Picture(6, "111111"));
  s.detect_and_mesh();
  EXPECT_EQ(s.p.range, 2);
  EXPECT_EQ(occurrences(s.console(), "\n\n\t\tSize of the window range ? "), 3u);
  EXPECT_EQ(occurrences(s.console(), "\n\tThe window range must be at least 1."), 2u);
}

TEST(SoundBehaviour, MovingWindowChangedToSquareMeshMeasuresTheDataArea) {
  StageRun s("0\n1\n0\n1\n");
  s.levels(moving_window(16, 16, 3));
  s.detect_and_mesh();
  EXPECT_EQ(s.p.type, 0);
  EXPECT_EQ(s.p.area.last_row, 12);
  EXPECT_EQ(s.p.area.last_col, 12);
  // Without the measurement every row and column from 2 on would be reset.
  EXPECT_EQ(s.grid[4][4], 2);
  EXPECT_EQ(s.grid[13][4], 255);
  EXPECT_EQ(s.picture()[14], std::string(16, '.'));
  EXPECT_EQ(s.grid[4][14], 255);
}

TEST(SoundBehaviour, SquareMeshChangedToMovingWindowWithoutBandDrawsNothing) {
  StageRun s("0\n1\n1\n0\n0\n0\n");
  s.levels(Picture(6, "111111"));
  s.detect_and_mesh();
  const std::string note = "\n\tNo border band was found: the moving window mesh is not drawn.\n";
  EXPECT_NE(s.console().find("\n\n\tcell mesh drawing: " + kYesNoEn + note), std::string::npos);
  EXPECT_EQ(s.report(),
            "\n\n\tMoving window treatment has been used to generate the input images. " + note);
  EXPECT_EQ(s.picture(), Picture(6, "111111"));
  EXPECT_EQ(s.p.range, 0);
  EXPECT_FALSE(s.p.mesh_drawn);  // so the report will not claim a drawn mesh
}

struct TinyCase {
  const char* name;
  Picture grid;
  const char* answers;
  Picture expected;
};
void PrintTo(const TinyCase& c, std::ostream* os) {
  *os << c.name;
}

class TinyGrids : public ::testing::TestWithParam<TinyCase> {};

TEST_P(TinyGrids, StayInsideTheGrid) {
  const TinyCase& c = GetParam();
  StageRun s(c.answers);
  s.levels(c.grid);
  s.detect_and_mesh();
  EXPECT_EQ(s.picture(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, TinyGrids,
    ::testing::Values(TinyCase{"OneCellHugeRange", {"1"}, "0\n0\n2147483647\n", {"#"}},
                      TinyCase{"OneBackgroundCell", {"."}, "0\n0\n1\n", {"#"}},
                      TinyCase{"OneCellAsMovingWindow", {"1"}, "0\n1\n1\n0\n0\n0\n", {"1"}},
                      TinyCase{"HugeRangeOnLargerGrid",
                               Picture(4, "1111"),
                               "0\n0\n1000000000\n",
                               {"####", "#111", "#111", "#111"}},
                      TinyCase{"NoDataAreaMeasured",
                               {"1...", "1...", "....", "...."},
                               "0\n0\n1\n",
                               {"##..", "#...", "....", "...."}},
                      TinyCase{"BandWiderThanTheGrid",
                               {"..........", "....111111", ".........."},
                               "0\n0\n0\n0\n",
                               Picture(3, "..........")}),
    [](const ::testing::TestParamInfo<TinyCase>& info) { return info.param.name; });

}  // namespace
