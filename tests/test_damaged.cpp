// Damaged and hostile input files, each through the built program: the run must stop with
// exit status 1 and a message that names the file and the reason, print nothing on stderr
// (no sanitizer report under the sanitizer build) and leave every input file as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/summation.h"
#include "image/bmp.h"
#include "rasterio/gridfile.h"
#include "support/child.h"
#include "support/images.h"

namespace {

// Every count of cells is 64-bit: a grid of more than 2^31 cells is counted right (such
// grids are too large to make in a test, so the types are what is checked).
static_assert(sizeof(core::ItemCounts::value_type) == 8 &&
              sizeof(core::Summation{}.nodata_in_valid[0]) == 8);
static_assert(sizeof(std::declval<nrutil::ByteGrid>().cells()) == 8);

using testing_support::changed_files;
using testing_support::run_binary;
using testing_support::ScratchDir;
using testing_support::snapshot;
using testing_support::write_file;

// ---- File builders, byte by byte ----

// A sound 8-bit grey BMP of 5 columns and 3 rows (stride 8), or a 24-bit one.
std::string good_bmp(int bits = 8) {
  std::string cells;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 5 * bits / 8; ++j) cells.push_back(static_cast<char>(1 + j % 4));
  }
  return testing_support::bmp_bytes(5, 3, cells, {.bits = bits});
}

// The sound BMP with one 16- or 32-bit header field changed.
std::string bmp_with(std::size_t at, std::uint32_t v, int width = 4, int bits = 8) {
  std::string s = good_bmp(bits);
  testing_support::put_le(s, at, v, width);
  return s;
}

std::string asc(const std::string& head, const std::string& values = "") {
  return head + values;
}
const std::string kAscTail = "xllcorner 0\nyllcorner 0\ncellsize 10\nNODATA_value -9999\n";

std::string descriptor(const std::string& rows, const std::string& cols) {
  return rows + "\n" + cols + "\n1\n0\n255\n30\n";
}

// ---- The cases ----

struct Damaged {
  std::string label;
  std::map<std::string, std::string> files;  // name in the folder -> bytes
  std::vector<std::string> folders;          // names in the folder that are folders
  std::string answers;                       // everything after the folder name
  std::string named;                         // the file the message must name
  std::string reason;                        // the English reason, or "" when none is given
  std::vector<std::string> pipes = {};       // names in the folder that are named pipes
  std::vector<std::pair<std::string, std::string>> links = {};  // name -> what it links to
};

void PrintTo(const Damaged& d, std::ostream* os) {
  *os << d.label;
}

// One image "img" of format f, read in the summation after a complete dialogue (which asks
// the pixel size when the image is a BMP image).
std::string image_answers(int format) {
  return "1\nimg\n" + std::to_string(format) + "\n1\n1\nres\n0\n5\n" + (format == 1 ? "10\n" : "");
}
// A raw image "img" and a mask "mask" of format f, read during the dialogue.
std::string mask_answers(int format) {
  return "1\nimg\n0\n1\n0\nmask\n" + std::to_string(format) + "\nres\n0\n5\n";
}

const char* const kNotBmp = "it is not a BMP image";
const char* const kLayout = "only uncompressed 8-bit BMP images with a 256-entry palette are read";
const char* const kBmpSize = "the width and height must be positive";
const char* const kCut = "the file is cut short";
const char* const kMissing = "the file does not exist or cannot be opened";
const char* const kShort = "the header ends too early";
const char* const kNaN = "a header value is not a number";
const char* const kSize = "the numbers of rows and columns must be positive";
const char* const kLarge = "the grid is larger than the memory available";
const char* const kFewer = "it holds fewer values than its header announces";
const char* const kBadValue = "a value is not an integer";
const char* const kCellSize = "the cell size (cellsize, line 5) must be a finite number, 0 or more";
const char* const kXCorner = "the x of the lower-left corner (xllcorner, line 3) is not a finite";
const char* const kYCorner = "the y of the lower-left corner (yllcorner, line 4) is not a finite";

std::vector<Damaged> bmp_cases() {
  const std::string b1 = image_answers(1);
  std::vector<Damaged> v = {
      {"BmpSignature", {{"img.bmp", bmp_with(0, 0x5842, 2)}}, {}, b1, "img.bmp", kNotBmp},
      {"BmpOffset1077", {{"img.bmp", bmp_with(10, 1077)}}, {}, b1, "img.bmp", kLayout},
      {"BmpOffset54For8Bits", {{"img.bmp", bmp_with(10, 54)}}, {}, b1, "img.bmp", kLayout},
      {"BmpOffsetHuge", {{"img.bmp", bmp_with(10, 0xFFFFFFFF)}}, {}, b1, "img.bmp", kLayout},
      {"BmpCompression1", {{"img.bmp", bmp_with(30, 1)}}, {}, b1, "img.bmp", kLayout},
      {"Bmp24Bits", {{"img.bmp", good_bmp(24)}}, {}, b1, "img.bmp", kLayout},
      {"BmpWidthZero", {{"img.bmp", bmp_with(18, 0)}}, {}, b1, "img.bmp", kBmpSize},
      {"BmpHeightZero", {{"img.bmp", bmp_with(22, 0)}}, {}, b1, "img.bmp", kBmpSize},
      {"BmpWidthNegative",
       {{"img.bmp", bmp_with(18, static_cast<std::uint32_t>(-5))}},
       {},
       b1,
       "img.bmp",
       kBmpSize},
      {"BmpHeightNegativeTopDown",
       {{"img.bmp", bmp_with(22, static_cast<std::uint32_t>(-3))}},
       {},
       b1,
       "img.bmp",
       kBmpSize},
      // Sides the codec accepts, announced by a file far too short for them: refused before
      // a grid of gigabytes is made.
      {"BmpWidthHugeShortFile", {{"img.bmp", bmp_with(18, 0x7FFFFFFF)}}, {}, b1, "img.bmp", kCut},
      {"BmpHeightHugeShortFile", {{"img.bmp", bmp_with(22, 40000)}}, {}, b1, "img.bmp", kCut},
      {"BmpLargestSidesShortFile",
       {{"img.bmp",
         [] {
           std::string s = bmp_with(18, 0x7FFFFFFF);
           testing_support::put_le(s, 22, 0x7FFFFFFF, 4);
           return s;
         }()}},
       {},
       b1,
       "img.bmp",
       kCut},
      {"BmpPaletteCutShort",
       {{"img.bmp", good_bmp().substr(0, 54 + 600)}},
       {},
       b1,
       "img.bmp",
       kCut},
      {"BmpRowsCutShort",
       {{"img.bmp", good_bmp().substr(0, good_bmp().size() - 3)}},
       {},
       b1,
       "img.bmp",
       kCut},
      {"BmpHeaderCutShort", {{"img.bmp", good_bmp().substr(0, 30)}}, {}, b1, "img.bmp", kCut},
      {"BmpEmptyFile", {{"img.bmp", ""}}, {}, b1, "img.bmp", kCut},
      {"BmpIsAFolder", {}, {"img.bmp"}, b1, "img.bmp", kMissing},
      {"BmpMissing", {}, {}, b1, "img.bmp", kMissing},
  };
  for (int bits : {1, 4, 16, 32}) {
    v.push_back({"BmpBitCount" + std::to_string(bits),
                 {{"img.bmp", bmp_with(28, static_cast<std::uint32_t>(bits), 2)}},
                 {},
                 b1,
                 "img.bmp",
                 kLayout});
  }
  return v;
}

std::vector<Damaged> ascii_cases() {
  const std::string a2 = image_answers(2);
  auto one = [&](const std::string& label, const std::string& text, const char* why) {
    return Damaged{label, {{"img.asc", text}}, {}, a2, "img.asc", why};
  };
  return {
      one("AscEmpty", "", kShort),
      one("AscTwoHeaderLines", "ncols 3\nnrows 2\n", kShort),
      one("AscNoValueAfterKeyword", "ncols 3\nnrows\n", kShort),
      one("AscFiveLinesNoValues", "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\n",
          kShort),
      one("AscColsNotNumeric", asc("ncols three\nnrows 2\n" + kAscTail), kNaN),
      one("AscRowsNotNumeric", asc("ncols 3\nnrows 2x\n" + kAscTail), kNaN),
      one("AscColsBeyondInt", asc("ncols 99999999999\nnrows 2\n" + kAscTail), kNaN),
      one("AscCellSizeNotNumeric", "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize ten\n",
          kNaN),
      // Header reals that place no grid on a map.
      one("AscCellSizeNaN", "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize nan\n1 2 3 4 5 6",
          kCellSize),
      one("AscCellSizeBeyondDouble",
          "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1e400\n1 2 3 4 5 6", kCellSize),
      one("AscCellSizeNegative",
          "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize -25\n1 2 3 4 5 6", kCellSize),
      one("AscXCornerInfinite",
          "ncols 3\nnrows 2\nxllcorner inf\nyllcorner 0\ncellsize 25\n1 2 3 4 5 6", kXCorner),
      one("AscYCornerNaN", "ncols 3\nnrows 2\nxllcorner 0\nyllcorner nan\ncellsize 25\n1 2 3 4 5 6",
          kYCorner),
      one("AscColsZero", asc("ncols 0\nnrows 2\n" + kAscTail), kSize),
      one("AscRowsNegative", asc("ncols 3\nnrows -2\n" + kAscTail), kSize),
      one("AscLargestInts", asc("ncols 2147483647\nnrows 2147483647\n" + kAscTail), kLarge),
      one("AscFewerValues", asc("ncols 3\nnrows 2\n" + kAscTail, "1 2 3\n4 5\n"), kFewer),
      one("AscNoValues", asc("ncols 3\nnrows 2\n" + kAscTail), kFewer),
      one("AscValueNotNumeric", asc("ncols 3\nnrows 2\n" + kAscTail, "1 2 3\n4 x 6\n"), kBadValue),
      one("AscValueSignAlone", asc("ncols 3\nnrows 2\n" + kAscTail, "1 2 3\n4 - 6\n"), kBadValue),
      {"AscIsAFolder", {}, {"img.asc"}, a2, "img.asc", ""},
      {"AscMissing", {}, {}, a2, "img.asc", ""},
  };
}

std::vector<Damaged> raw_cases() {
  const std::string r0 = image_answers(0);
  const std::string raw(12, '\x05');
  auto one = [&](const std::string& label, const std::string& text, const char* why) {
    return Damaged{label, {{"img.raw", raw}, {"img.txt", text}}, {}, r0, "img.txt", why};
  };
  return {
      one("DescEmpty", "", kShort),
      one("DescThreeLines", "3\n4\n1\n", kShort),
      one("DescFiveLines", "3\n4\n1\n0\n255\n", kShort),
      one("DescRowsNotNumeric", descriptor("three", "4"), kNaN),
      one("DescColsBeyondInt", descriptor("3", "3000000000"), kNaN),
      one("DescPixelSizeNotNumeric", "3\n4\n1\n0\n255\nthirty\n", kNaN),
      one("DescRowsNegative", descriptor("-3", "4"), kSize),
      one("DescColsZero", descriptor("3", "0"), kSize),
      one("DescLargestInts", descriptor("2147483647", "2147483647"), kLarge),
      // A descriptor that is a folder is refused (only a missing one is asked for).
      {"DescIsAFolder", {{"img.raw", raw}}, {"img.txt"}, r0, "img.txt", kMissing},
      {"RawIsAFolder", {{"img.txt", descriptor("3", "4")}}, {"img.raw"}, r0, "img.raw", ""},
      {"RawMissing", {{"img.txt", descriptor("3", "4")}}, {}, r0, "img.raw", ""},
      // The descriptor asked for cannot be created: its name links into a missing folder.
      {"DescCannotBeCreated",
       {{"img.raw", raw}},
       {},
       r0 + "3\n4\n30\n",
       "img.txt",
       "No such file or directory",
       {},
       {{"img.txt", "nosub/img.txt"}}},
      // A descriptor that exists but cannot be opened is refused, never asked for and written
      // over: here a link loop (for a descriptor without read permission, see below).
      {"DescLinkLoop",
       {{"img.raw", raw}},
       {},
       r0,
       "img.txt",
       "Too many levels of symbolic links",
       {},
       {{"img.txt", "img.txt"}}},
      // Sizes typed for a missing descriptor are checked like those read from one.
      {"TypedSizesNegative", {{"img.raw", raw}}, {}, r0 + "-3\n4\n30\n", "img.txt", kSize},
  };
}

std::vector<Damaged> size_cases() {
  const std::string raw34(12, '\x05');
  const std::string raw35(15, '\x05');
  const std::string mask34 = std::string(6, '\x01') + std::string(6, '\xFF');
  return {
      {"MaskOfAnotherSize",
       {{"img.raw", raw35},
        {"img.txt", descriptor("3", "5")},
        {"mask.raw", mask34},
        {"mask.txt", descriptor("3", "4")}},
       {},
       mask_answers(0),
       "img.raw",
       "but"},
      {"SecondImageOfAnotherSize",
       {{"img.raw", raw34},
        {"img.txt", descriptor("3", "4")},
        {"two.asc", asc("ncols 3\nnrows 4\n" + kAscTail, "1 2 3 4 5 6 7 8 9 10 11 12")}},
       {},
       "2\nimg\ntwo\n0\n2\n1\n1\n1\nres\n0\n5\n",
       "two.asc",
       "but"},
      {"MaskIsAFolder",
       {{"img.raw", raw34}, {"img.txt", descriptor("3", "4")}},
       {"mask.bmp"},
       mask_answers(1),
       "mask.bmp",
       kMissing},
      {"Mask24BitBmp",
       {{"img.raw", raw34}, {"img.txt", descriptor("3", "4")}, {"mask.bmp", good_bmp(24)}},
       {},
       mask_answers(1),
       "mask.bmp",
       kLayout},
      {"MaskAscCutShort",
       {{"img.raw", raw34},
        {"img.txt", descriptor("3", "4")},
        {"mask.asc", asc("ncols 4\nnrows 3\n" + kAscTail, "1 1 1 1 255")}},
       {},
       mask_answers(2),
       "mask.asc",
       kFewer},
  };
}

// Names that are named pipes: refused without opening them, never a wait for a writer.
std::vector<Damaged> pipe_cases() {
  const std::string raw(12, '\x05');
  return {
      {"BmpIsAPipe", {}, {}, image_answers(1), "img.bmp", kMissing, {"img.bmp"}},
      {"AscIsAPipe", {}, {}, image_answers(2), "img.asc", "", {"img.asc"}},
      {"RawIsAPipe",
       {{"img.txt", descriptor("3", "4")}},
       {},
       image_answers(0),
       "img.raw",
       "",
       {"img.raw"}},
      {"DescIsAPipe", {{"img.raw", raw}}, {}, image_answers(0), "img.txt", kMissing, {"img.txt"}},
      {"MaskIsAPipe",
       {{"img.raw", raw}, {"img.txt", descriptor("3", "4")}},
       {},
       mask_answers(2),
       "mask.asc",
       "",
       {"mask.asc"}},
  };
}

std::vector<Damaged> all_cases() {
  std::vector<Damaged> v;
  for (auto* part : {&bmp_cases, &ascii_cases, &raw_cases, &size_cases, &pipe_cases}) {
    for (Damaged& d : part()) v.push_back(std::move(d));
  }
  return v;
}

class DamagedFile : public ::testing::TestWithParam<Damaged> {};

TEST_P(DamagedFile, StopsWithStatus1NamingTheFileAndChangesNothing) {
  const Damaged& d = GetParam();
  ScratchDir dir;
  const std::string zone = dir.file("zone");
  std::filesystem::create_directories(zone);
  for (const auto& [name, bytes] : d.files) write_file(zone + "/" + name, bytes);
  for (const std::string& name : d.folders) std::filesystem::create_directories(zone + "/" + name);
  for (const std::string& name : d.pipes) ASSERT_EQ(mkfifo((zone + "/" + name).c_str(), 0600), 0);
  for (const auto& [name, to] : d.links) std::filesystem::create_symlink(to, zone + "/" + name);
  const auto before = snapshot(dir.path());

  // A pipe opened for reading would wait for a writer: a hang shows as status 124.
  const auto run = run_binary("0\n2\n" + dir.path() + "\nzone\n" + d.answers, 10);

  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  const std::string named = dir.path() + "\\zone\\" + d.named;
  EXPECT_NE(run.out.find(named), std::string::npos) << "no mention of " << named << ":\n"
                                                    << run.out;
  EXPECT_NE(run.out.find(d.reason), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\tThe run stops.\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("End of input"), std::string::npos) << run.out;
  EXPECT_EQ(changed_files(before, snapshot(dir.path())), "");
}

// The readers of the library refuse a named pipe at once, whoever calls them: opening one
// for reading would wait for a writer. A regression shows as the alarm ending the test.
TEST(NamedPipe, TheLibraryReadersRefuseItWithoutWaiting) {
  ScratchDir dir;
  const std::string pipe = dir.file("p");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  alarm(20);
  bmp::FileReader bmp_file;
  EXPECT_EQ(bmp_file.open(pipe.c_str()), bmp::LoadError::CannotOpen);
  rasterio::AsciiGridReader ascii;
  EXPECT_EQ(ascii.open(pipe), rasterio::FileError::CannotOpen);
  rasterio::Descriptor d;
  EXPECT_EQ(rasterio::read_descriptor(pipe, d), rasterio::FileError::CannotOpen);
  rasterio::RawReader raw;
  EXPECT_EQ(raw.open(pipe, rasterio::GridInfo{2, 2}), rasterio::FileError::CannotOpen);
  alarm(0);
}

INSTANTIATE_TEST_SUITE_P(Corpus, DamagedFile, ::testing::ValuesIn(all_cases()),
                         [](const auto& info) { return info.param.label; });

// A descriptor that the run may not read is refused with the system's reason: the sizes are
// not asked and the user's descriptor is not written over. Root reads any file, so as root
// the program runs without the capabilities that let it.
TEST(UnreadableDescriptor, IsRefusedAndKeptAsItIs) {
  std::string prefix;
  if (geteuid() == 0) {
    prefix = "setpriv --bounding-set=-dac_override,-dac_read_search";
    if (std::system((prefix + " true 2>/dev/null").c_str()) != 0) {
      GTEST_SKIP() << "setpriv cannot drop the capabilities of root here";
    }
  }
  ScratchDir dir;
  const std::string zone = dir.file("zone");
  std::filesystem::create_directories(zone);
  write_file(zone + "/img.raw", std::string(12, '\x05'));
  write_file(zone + "/img.txt", descriptor("3", "4"));
  ASSERT_EQ(chmod((zone + "/img.txt").c_str(), 0200), 0);  // write only
  testing_support::ChildOptions o;
  o.prefix = prefix;

  const auto run =
      run_binary("0\n2\n" + dir.path() + "\nzone\n" + image_answers(0) + "5\n5\n30\n", o);

  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(
      run.out.find("Cannot read the file " + dir.path() + "\\zone\\img.txt: Permission denied"),
      std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("Number of lines?"), std::string::npos);
  ASSERT_EQ(chmod((zone + "/img.txt").c_str(), 0600), 0);
  EXPECT_EQ(testing_support::read_file(zone + "/img.txt"), descriptor("3", "4"));
}

// Whether a grid is refused as larger than the memory depends on the memory the run counts
// on, which tests set (TESSERA_MEMORY_BYTES), not on the machine. Each large grid is read
// after a 3 x 4 mask: with a bound far below the grid it is refused as too large; with one
// far above, the memory check lets it through and the run stops at the size comparison with
// the mask, before any grid of its size is made.
TEST(MemoryBound, DecidesWhetherAGridIsTooLarge) {
  const std::string raw(12, '\x05');
  const std::string with_mask = "1\nimg\n0\n1\n0\nmask\n0\nres\n0\n5\n";
  const struct {
    std::string label;
    std::map<std::string, std::string> files;
    std::string answers;  // after the folder
    std::string named;    // the file refused as too large
    std::string image;    // the image compared with the mask
  } cases[] = {
      {"DescHuge",
       {{"img.raw", raw}, {"img.txt", descriptor("100000", "100000")}},
       with_mask,
       "img.txt",
       "img.raw has 100000 rows and 100000 columns"},
      // 65537 x 65536 cells: the product overflows 32 bits.
      {"DescProductOverflows32Bits",
       {{"img.raw", raw}, {"img.txt", descriptor("65537", "65536")}},
       with_mask,
       "img.txt",
       "img.raw has 65537 rows and 65536 columns"},
      {"TypedSizesHuge",
       {{"img.raw", raw}},
       with_mask + "100000\n100000\n30\n",
       "img.txt",
       "img.raw has 100000 rows and 100000 columns"},
      {"AscProductOverflows32Bits",
       {{"img.asc", asc("ncols 65536\nnrows 65537\n" + kAscTail, "1 2 3")}},
       "1\nimg\n2\n1\n0\nmask\n0\nres\n0\n5\n",
       "img.asc",
       "img.asc has 65537 rows and 65536 columns"},
  };
  for (const auto& c : cases) {
    for (const long long bound : {1LL << 20, 1LL << 50}) {
      SCOPED_TRACE(c.label + " with " + std::to_string(bound) + " bytes");
      ScratchDir dir;
      const std::string zone = dir.file("zone");
      std::filesystem::create_directories(zone);
      for (const auto& [name, bytes] : c.files) write_file(zone + "/" + name, bytes);
      write_file(zone + "/mask.raw", std::string(12, '\x01'));
      write_file(zone + "/mask.txt", descriptor("3", "4"));
      testing_support::ChildOptions o;
      o.env = "TESSERA_MEMORY_BYTES=" + std::to_string(bound);

      const auto run = run_binary("0\n2\n" + dir.path() + "\nzone\n" + c.answers, o);

      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "");
      const std::string at = dir.path() + "\\zone\\";
      const std::string told =
          bound < (1LL << 30)
              ? "Cannot read the file " + at + c.named + ": " + kLarge
              : "The file " + at + c.image + ", but " + at + "mask.raw has 3 rows and 4 columns.";
      EXPECT_NE(run.out.find(told), std::string::npos) << run.out;
    }
  }
}

}  // namespace
