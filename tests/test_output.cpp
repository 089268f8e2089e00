// Tests of the end of a run: final masking, the result image in each format, the closing
// lines of the report, and result files that cannot be created or written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ostream>
#include <string>

#include "support/session.h"

namespace {

using testing_support::StageRun;

struct MaskCase {
  const char* name;
  bool zeros;           // the first image held 0 in cells 0 and 2
  bool outside;         // a mask held 255 in cells 0 and 1
  const char* written;  // the four result bytes
};
void PrintTo(const MaskCase& c, std::ostream* os) {
  *os << c.name;
}

class FinalMasking : public ::testing::TestWithParam<MaskCase> {};

TEST_P(FinalMasking, OutsideStudyAreaWinsOverBackground) {
  const MaskCase& c = GetParam();
  StageRun s;
  s.levels({"1234"});
  s.inputs.images.emplace_back();
  if (c.zeros) {
    s.inputs.images[0].zeros = nrutil::BitGrid::make(4, 1);
    s.inputs.images[0].zeros.mark_row(0, reinterpret_cast<const unsigned char*>("\0\xFF\0\xFF"), 0);
  }
  if (c.outside) {
    s.setup.mask.emplace();
    s.setup.mask->outside = nrutil::BitGrid::make(4, 1);
    s.setup.mask->outside.mark_row(0, reinterpret_cast<const unsigned char*>("\xFF\xFF\x01\x01"),
                                   255);
  }
  const app::Written w = s.result(0);
  EXPECT_EQ(s.bytes("_tessum.raw"), std::string(c.written, 4));
  // The counts of the record are those of the written cells.
  core::ValueCounts written{};
  for (const char b : std::string(c.written, 4)) ++written[static_cast<unsigned char>(b)];
  EXPECT_EQ(w.counts, written);
}

INSTANTIATE_TEST_SUITE_P(Masks, FinalMasking,
                         ::testing::Values(MaskCase{"Both", true, true, "\xFE\xFE\xFF\x04"},
                                           MaskCase{"NoMask", true, false, "\xFF\x02\xFF\x04"},
                                           MaskCase{"NoZeros", false, true, "\xFE\xFE\x03\x04"},
                                           MaskCase{"Neither", false, false, "\x01\x02\x03\x04"}),
                         [](const ::testing::TestParamInfo<MaskCase>& info) {
                           return info.param.name;
                         });

struct PixelCase {
  double dpix_size;
  const char* last_line;
};
void PrintTo(const PixelCase& c, std::ostream* os) {
  *os << "pixel size " << c.dpix_size;
}

class RawResult : public ::testing::TestWithParam<PixelCase> {};

TEST_P(RawResult, DescriptorAndRowsTopFirst) {
  StageRun s;
  s.levels({"1234", "5678", "9.#1"});
  s.georef.pixel_size = GetParam().dpix_size;
  const app::Written w = s.result(0);
  EXPECT_EQ(s.bytes("_tessum.txt"), std::string("3\n4\n1\n0\n255\n") + GetParam().last_line);
  EXPECT_EQ(s.bytes("_tessum.raw"),
            std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\xFF\x00\x01", 12));
  EXPECT_EQ(w.image, s.dir.path() + "\\res_tessum.raw");
}

// The pixel size is truncated toward zero; sizes beyond int are held at its limits.
INSTANTIATE_TEST_SUITE_P(PixelSizes, RawResult,
                         ::testing::Values(PixelCase{2.75, "2\n"}, PixelCase{-2.75, "-2\n"},
                                           PixelCase{30.0, "30\n"},
                                           PixelCase{1e12, "2147483647\n"}));

TEST(BmpResult, GreyPaletteAndLastRowFirst) {
  StageRun s;
  s.levels({"12345", "6789#", "....1"});
  s.result(1);
  const std::string b = s.bytes("_tessum.bmp");
  ASSERT_EQ(b.size(), 1078u + 3 * 8);  // rows of 5 bytes padded to 8
  EXPECT_EQ(b.substr(0, 2), "BM");
  EXPECT_EQ(b.substr(54 + 4 * 7, 4), std::string("\x07\x07\x07\x00", 4));
  EXPECT_EQ(b.substr(1078, 8), std::string("\xFF\xFF\xFF\xFF\x01\x00\x00\x00", 8));
  EXPECT_EQ(b.substr(1078 + 16, 5), std::string("\x01\x02\x03\x04\x05", 5));
}

TEST(AsciiResult, KnownOriginAsksNothing) {
  StageRun s;
  s.levels({"123", "456"});
  s.georef.corner = core::Corner{500.0, 600.0};
  s.georef.pixel_size = 30.0;
  s.result(2);
  EXPECT_EQ(s.bytes("_tessum.asc"),
            "ncols 3\nnrows 2\nxllcorner 500.000000\nyllcorner 600.000000\ncellsize "
            "30.000000\nnodata_value -9999.9999\n1\t2\t3\t4\t5\t6\t");
  EXPECT_EQ(s.console(), "\n");
}

TEST(AsciiResult, UnknownOriginIsAskedInTheUsersLanguage) {
  StageRun s("500\n600.25\n");
  s.ui.language = 1;
  s.levels({"123", "456"});
  s.georef.pixel_size = 2.5;
  s.georef.corner.reset();
  const app::Written w = s.result(2);
  EXPECT_EQ(s.bytes("_tessum.asc"),
            "ncols 3\nnrows 2\nxllcorner 500.000000\nyllcorner 600.250000\ncellsize "
            "2.500000\nnodata_value -9999.9999\n1\t2\t3\t4\t5\t6\t");
  EXPECT_EQ(s.console(),
            "\n\n\tCoordonn\x82"
            "es UTM : \n\t\tX_min ? \t\tY_min ? \n");
  ASSERT_TRUE(w.georef.corner.has_value());
  EXPECT_EQ(w.georef.corner->y_min, 600.25);
}

struct ClosingCase {
  int idiom, format_out, cmd;
  const char* suffix;
  const char* lines;  // after "<result name>"
};
void PrintTo(const ClosingCase& c, std::ostream* os) {
  *os << "idiom " << c.idiom << " format " << c.format_out << " cmd " << c.cmd;
}

class ClosingLines : public ::testing::TestWithParam<ClosingCase> {};

TEST_P(ClosingLines, NameWeightsLevelsPixelAndMesh) {
  const ClosingCase& c = GetParam();
  StageRun s;
  s.levels({"12"});
  s.ui.language = c.idiom;
  s.p.mesh_drawn = c.cmd == 0;
  s.setup.params.level_count = 5;
  s.georef.pixel_size = 2.75;
  for (const double w : {1.0, 0.5, 2.25}) s.setup.params.images.push_back({{}, w});
  s.result(c.format_out);
  std::string expected = c.lines;
  expected.replace(expected.find('@'), 1, s.dir.path() + "\\res" + c.suffix);
  EXPECT_EQ(s.report(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, ClosingLines,
    ::testing::Values(
        ClosingCase{0, 0, 0, "_tessum.raw",
                    "\n\n\tName of the resulting image = @ \n"
                    "\n\tWeight of the image 1 = 1.00 \n\tWeight of the image 2 = 0.50 "
                    "\n\tWeight of the image 3 = 2.25 "
                    "\n\n\tNumber of segments in the resulting image: 5"
                    "\n\tpixel size (decimal value in meters) = 2.75 "
                    "\n\n\tcell mesh drawn \n\n"},
        ClosingCase{1, 2, 1, "_tessum.asc",
                    "\n\n\tNom de l'image resultante = @ \n"
                    "\n\tPoids de image 1 = 1.00 \n\tPoids de image 2 = 0.50 "
                    "\n\tPoids de image 3 = 2.25 "
                    "\n\n\tNombre de segments dans l'image resultante : 5 "
                    "\n\ttaille du pixel (valeur decimale en metres) = 2.75 \n\n"},
        ClosingCase{2, 1, 0, "_tessum.bmp",
                    "\n\n\tNombre de la imagen resultante = @ \n"
                    "\n\tPeso de la imagen 1 = 1.00 \n\tPeso de la imagen 2 = 0.50 "
                    "\n\tPeso de la imagen 3 = 2.25 "
                    "\n\n\tNumero de segmentos en la imagen resultante: 5 "
                    "\n\ttamano del pixel (valor decimal en metros) = 2.75 "
                    "\n\n\tmalla de celdas dibujada \n\n"}));

struct FailCase {
  int format_out;
  bool device;  // the result name is a link to a device (/dev/full); else its folder is missing
  const char* suffix;  // of the file the message names
};
void PrintTo(const FailCase& c, std::ostream* os) {
  *os << "format " << c.format_out << (c.device ? " device" : " missing folder");
}

class ResultFailure : public ::testing::TestWithParam<FailCase> {};

TEST_P(ResultFailure, StopsWithStatusOneNamingTheFile) {
  const FailCase& c = GetParam();
  StageRun s;
  s.levels({"12", "34"});
  if (c.device) {
    ASSERT_EQ(symlink("/dev/full", s.file(c.suffix).c_str()), 0);
  } else {
    s.setup.files = rasterio::RunFiles::of(s.dir.path() + "\\absent\\res");
  }
  const std::string name = s.setup.files.base + c.suffix;
  EXPECT_EQ(testing_support::stop_status([&] { s.result(c.format_out); }), 1);
  // A device is refused before it is opened, like a name in a missing folder.
  const std::string what = "Cannot create the file ";
  const std::string why = c.device ? "not a regular file" : "No such file or directory";
  EXPECT_NE(s.console().find("\n\t" + what + name + ": "), std::string::npos) << s.console();
  EXPECT_NE(s.console().find(why), std::string::npos) << s.console();
  const std::string report = s.report();
  EXPECT_NE(report.find(what + name), std::string::npos);
  EXPECT_EQ(report.find("Name of the resulting image"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ResultFailure,
    ::testing::Values(FailCase{0, false, "_tessum.txt"}, FailCase{0, true, "_tessum.raw"},
                      FailCase{1, false, "_tessum.bmp"}, FailCase{1, true, "_tessum.bmp"},
                      FailCase{2, false, "_tessum.asc"}, FailCase{2, true, "_tessum.asc"}));

}  // namespace
