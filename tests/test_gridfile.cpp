// Raw image, descriptor and ASCII grid files: parsing, error results, golden bytes, round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include "harness.h"
#include "rasterio/gridfile.h"

namespace fs = std::filesystem;
using rasterio::FileError;

namespace {

// A fresh directory per test, removed afterwards.
class GridFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "gridfile_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string put(const std::string& name, const std::string& bytes) {
    const std::string p = (dir_ / name).string();
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

std::string slurp(const std::string& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<int> cells(const nrutil::ByteGrid& g) {
  std::vector<int> v;
  for (int r = 0; r < g.nb_lig(); ++r) v.insert(v.end(), g[r], g[r] + g.nb_col());
  return v;
}

struct AsciiRead {
  FileError err;
  rasterio::AsciiHeader h;
  std::vector<int> cells;
};

// Reads a whole ASCII grid file; nodata starts at 42 to show when it is left unchanged.
AsciiRead read_ascii(const std::string& p, std::size_t chunk = 0) {
  AsciiRead out{FileError::None, {}, {}};
  out.h.nodata = 42.0;
  rasterio::AsciiGridReader rd(chunk);
  if ((out.err = rd.open(p)) != FileError::None) return out;
  if ((out.err = rd.read_header(out.h)) != FileError::None) return out;
  auto g = nrutil::ByteGrid::make(out.h.nb_col, out.h.nb_lig);
  out.err = rd.read_values(g);
  out.cells = cells(g);
  return out;
}

// Every piece size from one byte up, so that tokens are split at every place.
const std::size_t kChunks[] = {1, 2, 3, 5, 7, 64, 0};

const char* kHead6 = "ncols 2\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -1\n";

}  // namespace

// ---- Descriptor ----

TEST(Descriptor, ParsesSixIntegersSeparatedByAnyWhiteSpace) {
  const struct {
    const char* text;
    rasterio::Descriptor want;
  } cases[] = {
      {"3\n4\n1\n0\n255\n30\n", {3, 4, 1, 0, 255, 30}},
      {"3 4 1 0 255 30", {3, 4, 1, 0, 255, 30}},
      {"  3\t4\r\n7\n\n0 255\v30\fjunk 99", {3, 4, 7, 0, 255, 30}},
      {"+3 -4 1 0 255 30xyz", {3, -4, 1, 0, 255, 30}},
      {"2147483647 -2147483648 1 0 255 1", {2147483647, -2147483647 - 1, 1, 0, 255, 1}},
  };
  for (const auto& c : cases) {
    rasterio::Descriptor d;
    ASSERT_EQ(rasterio::parse_descriptor(c.text, d), FileError::None) << c.text;
    EXPECT_EQ(rasterio::format_descriptor(d), rasterio::format_descriptor(c.want)) << c.text;
  }
}

TEST(Descriptor, RejectsShortAndNonNumericText) {
  const struct {
    const char* text;
    FileError want;
  } cases[] = {
      {"", FileError::ShortHeader},
      {"3 4 1 0 255", FileError::ShortHeader},
      {"3 4 1 0 255 \n\n", FileError::ShortHeader},
      {"3 x 1 0 255 30", FileError::BadHeader},
      {"3 4.5 1 0 255 30", FileError::BadHeader},  // %d stops at '.', which is no integer
      {"3 4 1 0 255 -", FileError::BadHeader},
      {"3 4 1 0 + 30", FileError::BadHeader},
      {"2147483648 4 1 0 255 30", FileError::BadHeader},
      {"3 -2147483649 1 0 255 30", FileError::BadHeader},
      {"3 4 1 0 255 184467440737095516161", FileError::BadHeader},
  };
  for (const auto& c : cases) {
    rasterio::Descriptor d;
    EXPECT_EQ(rasterio::parse_descriptor(c.text, d), c.want) << c.text;
  }
}

TEST_F(GridFile, DescriptorFileGoldenTextAndReadBack) {
  const rasterio::Descriptor d{3, 4, 1, 0, 255, 30};
  ASSERT_EQ(rasterio::write_descriptor(path("a.txt"), d), FileError::None);
  EXPECT_EQ(slurp(path("a.txt")), "3\n4\n1\n0\n255\n30\n");
  rasterio::Descriptor back;
  ASSERT_EQ(rasterio::read_descriptor(path("a.txt"), back), FileError::None);
  EXPECT_EQ(rasterio::format_descriptor(back), "3\n4\n1\n0\n255\n30\n");
  // White space longer than the reader's piece before the last value.
  put("b.txt", "5 6 1 0 255" + std::string(10000, ' ') + "\n17 trailing");
  ASSERT_EQ(rasterio::read_descriptor(path("b.txt"), back), FileError::None);
  EXPECT_EQ(rasterio::format_descriptor(back), "5\n6\n1\n0\n255\n17\n");

  EXPECT_EQ(rasterio::read_descriptor(path("missing.txt"), back), FileError::CannotOpen);
  EXPECT_EQ(rasterio::read_descriptor(dir_.string(), back), FileError::CannotOpen);
  EXPECT_EQ(rasterio::write_descriptor(dir_.string(), d), FileError::CannotOpen);
  EXPECT_EQ(rasterio::write_descriptor("/dev/full", d), FileError::CannotOpen);  // a device
  // On a full disk the descriptor is written whole or not at all: the old one stays, and
  // no part-written file is left beside it.
  const auto files = [this] {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> before = files();
  {
    testing_support::FullDisk full(4);
    EXPECT_EQ(rasterio::write_descriptor(path("a.txt"), {7, 8, 1, 0, 255, 9}),
              FileError::WriteError);
    EXPECT_EQ(rasterio::write_descriptor(path("new.txt"), d), FileError::WriteError);
  }
  EXPECT_EQ(slurp(path("a.txt")), "3\n4\n1\n0\n255\n30\n");
  EXPECT_EQ(files(), before);
}

// ---- Raw image ----

TEST_F(GridFile, RawReadTakesRowsInOrderAndClearsWhatTheFileLacks) {
  std::string bytes;
  for (int i = 0; i < 20; ++i) bytes += static_cast<char>(200 + i);
  const struct {
    std::size_t file_len;
  } cases[] = {{20}, {12}, {5}, {0}};  // longer, exact, short mid-row, empty
  for (const auto& c : cases) {
    auto g = nrutil::ByteGrid::make(4, 3);
    for (int r = 0; r < 3; ++r) std::fill(g[r], g[r] + 4, 0xAB);
    ASSERT_EQ(rasterio::read_raw(put("a.raw", bytes.substr(0, c.file_len)), g), FileError::None);
    const std::vector<int> got = cells(g);
    for (std::size_t i = 0; i < 12; ++i) {
      EXPECT_EQ(got[i], i < c.file_len ? 200 + static_cast<int>(i) : 0) << c.file_len << " " << i;
    }
  }
}

TEST_F(GridFile, RawRowsWiderThanTheStreamBuffer) {
  const int cols = 1500000;
  std::string bytes(2 * cols - 10, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  auto g = nrutil::ByteGrid::make(cols, 2);
  std::fill(g[1], g[1] + cols, 0xCD);
  ASSERT_EQ(rasterio::read_raw(put("w.raw", bytes), g), FileError::None);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(g[0]), cols), bytes.substr(0, cols));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(g[1]), cols),
            bytes.substr(cols) + std::string(10, '\0'));
  ASSERT_EQ(rasterio::write_raw(path("w2.raw"), g), FileError::None);
  EXPECT_EQ(slurp(path("w2.raw")), bytes + std::string(10, '\0'));
}

TEST_F(GridFile, RawWriteGoldenBytesAndFailures) {
  auto g = nrutil::ByteGrid::make(4, 3);
  for (int i = 0; i < 12; ++i) g[i / 4][i % 4] = static_cast<unsigned char>(i == 5 ? 255 : i);
  ASSERT_EQ(rasterio::write_raw(path("o.raw"), g), FileError::None);
  EXPECT_EQ(slurp(path("o.raw")), std::string("\0\1\2\3\4\xff\6\7\10\11\12\13", 12));
  EXPECT_EQ(rasterio::write_raw("/dev/full", g), FileError::CannotOpen);  // a device
  {
    testing_support::FullDisk full(5);
    EXPECT_EQ(rasterio::write_raw(path("o.raw"), g), FileError::WriteError);
  }
  EXPECT_EQ(rasterio::write_raw(dir_.string(), g), FileError::CannotOpen);
  EXPECT_EQ(rasterio::read_raw(path("missing.raw"), g), FileError::CannotOpen);
  EXPECT_EQ(rasterio::read_raw(dir_.string(), g), FileError::CannotOpen);
  nrutil::ByteGrid empty;
  EXPECT_EQ(rasterio::read_raw(path("o.raw"), empty), FileError::BadSize);
}

// ---- ASCII grid reading ----

TEST_F(GridFile, AsciiHeaderIsReadByOrderWhateverTheKeywords) {
  const std::string usual =
      "ncols 3\nnrows 2\nxllcorner 10.5\nyllcorner -20.25\ncellsize 30\nNODATA_value -9999\n"
      "1 2 3\n4 5 6\n";
  const std::string crlf =
      "NCOLS\t2\r\nNROWS\t1\r\nXLLCENTER\t1e3\r\nYLLCENTER\t+0.5\r\nCELLSIZE\t0x10\r\n"
      "NODATA_VALUE\t-9999.9999\r\n7\t8\t\r\n";
  // No no-data line: the sixth word is the first value and nodata stays as it was (42).
  const std::string five =
      "ncols 3\nnrows 2\nxllcorner 1\nyllcorner 2\ncellsize 5\n7 8 9\n10 11 12\n";
  const std::string five_wrap =
      "ncols 2\nnrows 1\nxllcorner 1\nyllcorner 2\ncellsize 5\n-1\t+300\t";
  const struct {
    std::string text;
    std::array<double, 6> nums;  // columns, rows, x, y, cell size, nodata
    bool has_nodata;
    std::vector<int> want;
  } cases[] = {
      {usual, {3, 2, 10.5, -20.25, 30, -9999}, true, {1, 2, 3, 4, 5, 6}},
      {crlf, {2, 1, 1000, 0.5, 16, -9999.9999}, true, {7, 8}},
      // strtod stops before the 'd', which becomes the next keyword.
      {std::string(300, 'k') + " 2 b 1 c 1.25e2d 3 e 4 f 5 9 10",
       {2, 1, 125, 3, 4, 5},
       true,
       {9, 10}},
      {"a 2 b 1 c 0 d 0 e 1 0-1 -5 1 2", {2, 1, 0, 0, 1, -5}, true, {1, 2}},  // a word, no value
      {five, {3, 2, 1, 2, 5, 42}, false, {7, 8, 9, 10, 11, 12}},
      {five_wrap, {2, 1, 1, 2, 5, 42}, false, {255, 44}},
      // GDAL's five-line header of a real-valued band: "3.0" is the first value.
      {"ncols 2\nnrows 1\nxllcorner 1\nyllcorner 2\ncellsize 5\n 3.0 4\n",
       {2, 1, 1, 2, 5, 42},
       false,
       {3, 4}},
  };
  for (const auto& c : cases) {
    const std::string p = put("h.asc", c.text);
    for (std::size_t chunk : kChunks) {
      SCOPED_TRACE(c.text.substr(0, 40) + " chunk " + std::to_string(chunk));
      const AsciiRead r = read_ascii(p, chunk);
      ASSERT_EQ(r.err, FileError::None);
      const std::array<double, 6> got{double(r.h.nb_col), double(r.h.nb_lig), r.h.X_min,
                                      r.h.Y_min,          r.h.dpix_size,      r.h.nodata};
      EXPECT_EQ(got, c.nums);
      EXPECT_EQ(r.h.has_nodata, c.has_nodata);
      EXPECT_EQ(r.cells, c.want);
    }
  }
}

TEST_F(GridFile, AsciiHeaderFaults) {
  const std::string tail = "\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -1\n0\n";
  const struct {
    std::string text;
    FileError want;
  } cases[] = {
      {"", FileError::ShortHeader},
      {"ncols", FileError::ShortHeader},
      {"ncols 3\nnrows 2\nxllcorner 1\n", FileError::ShortHeader},
      {"ncols 3\nnrows 2\nxllcorner 1\nyllcorner 2\ncellsize 5\nnodata", FileError::ShortHeader},
      {"ncols x\nnrows 2" + tail, FileError::BadHeader},
      {"ncols 3\nnrows -" + tail, FileError::BadHeader},
      {"ncols 99999999999\nnrows 2" + tail, FileError::BadHeader},
      {"ncols 3\nnrows 2\nxllcorner abc\nyllcorner 0\ncellsize 1\n", FileError::BadHeader},
      {"ncols 3\nnrows 2\nx 1\ny 2\ncellsize 5\nnodata_value zz\n1", FileError::BadHeader},
      {"ncols 0\nnrows 2" + tail, FileError::BadSize},
      {"ncols 3\nnrows -3" + tail, FileError::BadSize},
      {"ncols 131072\nnrows 131073" + tail, FileError::TooLarge},
      {"ncols 200000\nnrows 100000" + tail, FileError::TooLarge},
      {"ncols 131072\nnrows 131072" + tail, FileError::None},  // exactly the cell limit
      // GDAL's header for cells that are not square, with and without a no-data line.
      {"ncols 4\nnrows 2\nxllcorner 0\nyllcorner 4\ndx 2\ndy 3\n0 0 0 0\n0 0 0 0\n",
       FileError::NonSquareCells},
      {"ncols 4\nnrows 2\nxllcorner 0\nyllcorner 4\nDX 2\nDY 3\nNODATA_value 9\n0 0 0 0\n",
       FileError::NonSquareCells},
      // Only the fifth word counts, and only when it is exactly dx.
      {"ncols 2\nnrows 1\ndx 0\ndy 0\ncellsize 1\nnodata_value -1\n0 0", FileError::None},
      {"ncols 2\nnrows 1\nx 0\ny 0\ndxy 1\nnodata_value -1\n0 0", FileError::None},
      // Corners that are not finite, cell sizes that are not finite or negative.
      {"ncols 2\nnrows 1\nx nan\ny 0\ncellsize 1\n0 0", FileError::BadXCorner},
      {"ncols 2\nnrows 1\nx 0\ny -inf\ncellsize 1\n0 0", FileError::BadYCorner},
      {"ncols 2\nnrows 1\nx 0\ny 1e400\ncellsize 1\n0 0", FileError::BadYCorner},
      {"ncols 2\nnrows 1\nx 0\ny 0\ncellsize nan\n0 0", FileError::BadCellSize},
      {"ncols 2\nnrows 1\nx 0\ny 0\ncellsize 1e400\n0 0", FileError::BadCellSize},
      {"ncols 2\nnrows 1\nx 0\ny 0\ncellsize -25\n0 0", FileError::BadCellSize},
      {"ncols 2\nnrows 1\nx 0\ny 0\ncellsize 0\n0 0", FileError::None},  // not known
  };
  for (const auto& c : cases) {
    rasterio::AsciiGridReader rd(3);
    ASSERT_EQ(rd.open(put("f.asc", c.text)), FileError::None);
    rasterio::AsciiHeader h;
    h.nb_col = 77;
    EXPECT_EQ(rd.read_header(h), c.want) << c.text;
    EXPECT_EQ(h.nb_col == 77, c.want != FileError::None) << "changed only on success";
  }
}

TEST_F(GridFile, AsciiValuesLikeRepeatedScanfAndModulo256) {
  const struct {
    std::string values;
    std::vector<int> want;  // empty: want_err expected
    FileError want_err;
  } cases[] = {
      {"256 300 -1 -9999", {0, 44, 255, 241}, FileError::None},
      // 2^8 divides 10^8, so only the last eight digits count: 34567890 % 256 == 210.
      {"123456789012345678901234567890 -123456789012345678901234567890 +5 -0",
       {210, 46, 5, 0},
       FileError::None},
      {"1-2+3 4", {1, 254, 3, 4}, FileError::None},
      {" \t\r\n1\r\n\t 2\v3\f4", {1, 2, 3, 4}, FileError::None},
      {"1 2 3 4junk 5", {1, 2, 3, 4}, FileError::None},
      // Whole numbers written with a zero fraction, as GDAL writes real-valued bands.
      {"3.0 4. -1.000 +5.0", {3, 4, 255, 5}, FileError::None},
      // A real fraction is refused, in the last value too.
      {"1 2 3 4.5", {}, FileError::BadValue},
      {"1 2 3.5", {}, FileError::BadValue},
      {"1 2.05 3 4", {}, FileError::BadValue},
      {"1 2.0e0 3 4", {}, FileError::BadValue},
      {"1 2 x 4", {}, FileError::BadValue},
      {"1 2 - 4", {}, FileError::BadValue},
      {"1 2 3 -", {}, FileError::BadValue},
      {std::string("1 2 \0 4", 7), {}, FileError::BadValue},
      {"1 2 3", {}, FileError::FewerValues},
      {"1 2 3 \r\n\t", {}, FileError::FewerValues},
      {"", {}, FileError::FewerValues},
  };
  for (const auto& c : cases) {
    const std::string p = put("v.asc", kHead6 + c.values);
    for (std::size_t chunk : kChunks) {
      const AsciiRead r = read_ascii(p, chunk);
      EXPECT_EQ(r.err, c.want_err) << c.values << " chunk " << chunk;
      if (c.want_err == FileError::None) {
        EXPECT_EQ(r.cells, c.want) << c.values;
      }
    }
  }
}

TEST_F(GridFile, AsciiNoDataOutsideTheByteRangeReadsAs255) {
  const std::string head = "ncols 6\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n";
  const struct {
    std::string nodata_line;  // empty: no no-data line
    std::string values;
    std::vector<int> want;
  } cases[] = {
      // GDAL's usual no-data value of 16- and 32-bit bands: only the exact value is no-data.
      {"NODATA_value -9999\n", "-9999 1 241 -9999 -10255 17", {255, 1, 241, 255, 241, 17}},
      {"NODATA_value  -9999.0\n", "-9999 -9999 0 -0 +7 -9999", {255, 255, 0, 0, 7, 255}},
      {"NODATA_value -9999.00\n", "-9999.0 1.0 -9999.00 2 3 -9999.", {255, 1, 255, 2, 3, 255}},
      {"nodata_value 32767\n", "32767 32767 255 -1 3 +32767", {255, 255, 255, 255, 3, 255}},
      {"nodata_value -999999999\n",
       "-999999999 1 2 3 4 -000999999999",
       {255, 1, 2, 3, 4, 1}},  // more than nine digits: wraps as any other value
      // The system's own no-data line and no-data values inside 0..255 change nothing.
      {"nodata_value -9999.9999\n", "-9999 1 2 3 4 5", {241, 1, 2, 3, 4, 5}},
      {"NODATA_value 0\n", "0 1 2 3 256 5", {0, 1, 2, 3, 0, 5}},
      {"NODATA_value 255\n", "255 -1 2 3 4 5", {255, 255, 2, 3, 4, 5}},
      {"NODATA_value 1e10\n", "1410065408 1 2 3 4 5", {0, 1, 2, 3, 4, 5}},
      {"", "-9999 1 2 3 4 5", {241, 1, 2, 3, 4, 5}},
  };
  for (const auto& c : cases) {
    const std::string p = put("nd.asc", head + c.nodata_line + c.values);
    for (std::size_t chunk : kChunks) {
      SCOPED_TRACE(c.nodata_line + c.values + " chunk " + std::to_string(chunk));
      const AsciiRead r = read_ascii(p, chunk);
      ASSERT_EQ(r.err, FileError::None);
      EXPECT_EQ(r.cells, c.want);
    }
  }
}

TEST_F(GridFile, AsciiValuesAgreeWithSscanfOnRandomText) {
  std::mt19937 rng(12345);
  const char* seps[] = {" ", "\t", "\n", "\r\n", "  \t", "\v\f", ""};
  std::string text;
  std::vector<int> want;
  for (int i = 0; i < 3000; ++i) {
    const int v = static_cast<int>(rng()) >> (rng() % 32);
    const char* sep = seps[rng() % 7];
    if (*sep == '\0' && v >= 0) sep = "+";  // glued values need a sign to stay apart
    text += sep + std::to_string(v);
  }
  // Oracle: the C library's own %d, one call per value.
  for (const char* s = text.c_str();;) {
    int v = 0, used = 0;
    if (std::sscanf(s, "%d%n", &v, &used) != 1) break;
    want.push_back(static_cast<unsigned char>(v));
    s += used;
  }
  ASSERT_EQ(want.size(), 3000u);
  const std::string p = put("r.asc", "ncols 100\nnrows 30\nx 0\ny 0\nc 1\nn 0\n" + text);
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
    const AsciiRead r = read_ascii(p, chunk);
    ASSERT_EQ(r.err, FileError::None);
    EXPECT_EQ(r.cells, want) << "chunk " << chunk;
  }
}

TEST_F(GridFile, AsciiReaderStateAndMisuse) {
  rasterio::AsciiGridReader rd;
  rasterio::AsciiHeader h;
  EXPECT_EQ(rd.read_header(h), FileError::CannotOpen);
  EXPECT_EQ(rd.open(path("missing.asc")), FileError::CannotOpen);
  EXPECT_EQ(rd.open(dir_.string()), FileError::CannotOpen);
  // A five-line grid, then a six-line one with the same reader: no first value carried over.
  ASSERT_EQ(rd.open(put("a.asc", "a 2\nb 1\nc 0\nd 0\ne 1\n7 8")), FileError::None);
  ASSERT_EQ(rd.read_header(h), FileError::None);
  auto g = nrutil::ByteGrid::make(2, 1);
  ASSERT_EQ(rd.read_values(g), FileError::None);
  EXPECT_EQ(cells(g), (std::vector<int>{7, 8}));
  ASSERT_EQ(rd.open(put("b.asc", "a 2\nb 1\nc 0\nd 0\ne 1\nf 0\n3 4")), FileError::None);
  ASSERT_EQ(rd.read_header(h), FileError::None);
  EXPECT_TRUE(h.has_nodata);
  auto wrong = nrutil::ByteGrid::make(1, 2);
  EXPECT_EQ(rd.read_values(wrong), FileError::BadSize);
  ASSERT_EQ(rd.read_values(g), FileError::None);
  EXPECT_EQ(cells(g), (std::vector<int>{3, 4}));
}

// ---- ASCII grid writing ----

TEST_F(GridFile, AsciiWriterGoldenText) {
  EXPECT_EQ(rasterio::format_ascii_head(3, 2), "ncols 3\nnrows 2\n");
  EXPECT_EQ(rasterio::format_ascii_corner(452310.5, -4123456.25, 30),
            "xllcorner 452310.500000\nyllcorner -4123456.250000\ncellsize 30.000000\n"
            "nodata_value -9999.9999\n");
  auto g = nrutil::ByteGrid::make(3, 2);
  for (int i = 0; i < 6; ++i) g[i / 3][i % 3] = static_cast<unsigned char>(i + 1);
  auto all = nrutil::ByteGrid::make(256, 1);
  std::string all_text;
  for (int v = 0; v < 256; ++v) {
    all[0][v] = static_cast<unsigned char>(v);
    all_text += std::to_string(v) + "\t";
  }
  const struct {
    const nrutil::ByteGrid& grid;
    std::string want;
  } cases[] = {{g, "1\t2\t3\t4\t5\t6\t"}, {all, all_text}};
  for (const auto& c : cases) {
    std::FILE* f = std::fopen(path("o.asc").c_str(), "w");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(rasterio::write_ascii_values(f, c.grid), FileError::None);
    EXPECT_EQ(std::fclose(f), 0);
    EXPECT_EQ(slurp(path("o.asc")), c.want);
  }
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(rasterio::write_ascii_values(full, g), FileError::WriteError);
  std::fclose(full);
}

TEST_F(GridFile, AsciiWrittenGridReadsBackLargerThanEveryBuffer) {
  // About 5.5 MB of text: more than the writer's buffer and the reader's default piece.
  const int cols = 1500, rows = 1000;
  auto g = nrutil::ByteGrid::make(cols, rows);
  std::mt19937 rng(7);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) g[r][c] = static_cast<unsigned char>(rng());
  std::FILE* f = std::fopen(path("big.asc").c_str(), "w");
  ASSERT_NE(f, nullptr);
  const std::string head =
      rasterio::format_ascii_head(cols, rows) + rasterio::format_ascii_corner(512.25, -7.5, 2.75);
  ASSERT_EQ(std::fwrite(head.data(), 1, head.size(), f), head.size());
  ASSERT_EQ(rasterio::write_ascii_values(f, g), FileError::None);
  ASSERT_EQ(std::fclose(f), 0);
  ASSERT_GT(fs::file_size(path("big.asc")), std::uintmax_t{4} << 20);
  const AsciiRead r = read_ascii(path("big.asc"));
  ASSERT_EQ(r.err, FileError::None);
  EXPECT_EQ(r.h.nb_col, cols);
  EXPECT_EQ(r.h.nb_lig, rows);
  EXPECT_EQ(r.h.X_min, 512.25);
  EXPECT_EQ(r.h.Y_min, -7.5);
  EXPECT_EQ(r.h.dpix_size, 2.75);
  EXPECT_EQ(r.h.nodata, -9999.9999);
  EXPECT_TRUE(r.h.has_nodata);
  EXPECT_EQ(r.cells, cells(g));
}
