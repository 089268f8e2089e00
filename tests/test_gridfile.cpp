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

#include "rasterio/gridfile.h"
#include "support/files.h"

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

using testing_support::read_file;

// A grid of rows x cols cells held in one block, with its row pointers.
struct Rows {
  Rows(int cols, int rows) : cols(cols), bytes(static_cast<std::size_t>(cols) * rows, 0xAB) {
    for (int i = 0; i < rows; ++i)
      ptrs.push_back(bytes.data() + static_cast<std::size_t>(i) * cols);
  }
  std::vector<int> cells() const { return std::vector<int>(bytes.begin(), bytes.end()); }
  int cols;
  std::vector<unsigned char> bytes;
  std::vector<unsigned char*> ptrs;
};

// Reads a raw file of cols x rows cells in blocks of `block` rows.
std::pair<FileError, std::vector<int>> read_raw(const std::string& p, int cols, int rows,
                                                int block) {
  rasterio::RawReader rd;
  Rows g(cols, rows);
  FileError e = rd.open(p, rasterio::GridInfo{cols, rows});
  for (int first = 0; first < rows && e == FileError::None; first += block) {
    e = rd.read_rows(g.ptrs.data() + first, std::min(block, rows - first));
  }
  return {e, g.cells()};
}

// Writes rows with a row writer in blocks of `block` rows.
FileError write_rows(rasterio::RowWriter& w, const std::string& p, const rasterio::GridInfo& info,
                     const Rows& g, int block) {
  if (FileError e = w.create(p); e != FileError::None) return e;
  if (FileError e = w.begin(info); e != FileError::None) return e;
  for (int first = 0; first < info.nb_lig; first += block) {
    const int count = std::min(block, info.nb_lig - first);
    if (FileError e = w.write_rows(g.ptrs.data() + first, count); e != FileError::None) return e;
  }
  return w.finish();
}

struct AsciiRead {
  FileError err;
  rasterio::AsciiHeader h;
  std::vector<int> cells;
};

// Reads a whole ASCII grid file, a row at a time.
AsciiRead read_ascii(const std::string& p, std::size_t chunk = 0) {
  AsciiRead out{FileError::None, {}, {}};
  rasterio::AsciiGridReader rd(chunk);
  if ((out.err = rd.open(p)) != FileError::None) return out;
  out.h = rd.header();
  Rows g(out.h.nb_col, out.h.nb_lig);
  for (int i = 0; i < out.h.nb_lig && out.err == FileError::None; ++i) {
    out.err = rd.read_rows(g.ptrs.data() + i, 1);
  }
  out.cells = g.cells();
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
  EXPECT_EQ(read_file(path("a.txt")), "3\n4\n1\n0\n255\n30\n");
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
  EXPECT_EQ(read_file(path("a.txt")), "3\n4\n1\n0\n255\n30\n");
  EXPECT_EQ(files(), before);
}

// ---- Raw image ----

TEST_F(GridFile, RawRowsComeInOrderAndWhatTheFileLacksReadsAsZero) {
  std::string bytes;
  for (int i = 0; i < 20; ++i) bytes += static_cast<char>(200 + i);
  for (const std::size_t file_len : {20, 12, 5, 0}) {  // longer, exact, short mid-row, empty
    for (const int block : {1, 2, 3}) {
      const auto [e, got] = read_raw(put("a.raw", bytes.substr(0, file_len)), 4, 3, block);
      ASSERT_EQ(e, FileError::None);
      for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(got[i], i < file_len ? 200 + static_cast<int>(i) : 0)
            << file_len << " bytes, blocks of " << block << ", cell " << i;
      }
    }
  }
}

TEST_F(GridFile, RawRowsWiderThanTheStreamBuffer) {
  const int cols = 1500000;
  std::string bytes(2 * cols - 10, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  const auto [e, got] = read_raw(put("w.raw", bytes), cols, 2, 2);
  ASSERT_EQ(e, FileError::None);
  EXPECT_EQ(std::string(got.begin(), got.end()), bytes + std::string(10, '\0'));
}

TEST_F(GridFile, RawWriteGoldenBytesAndFailures) {
  Rows g(4, 3);
  for (int i = 0; i < 12; ++i) g.bytes[i] = static_cast<unsigned char>(i == 5 ? 255 : i);
  const rasterio::GridInfo size{4, 3};
  for (const int block : {1, 2, 3}) {
    rasterio::RawWriter w;
    ASSERT_EQ(write_rows(w, path("o.raw"), size, g, block), FileError::None);
    EXPECT_EQ(read_file(path("o.raw")), std::string("\0\1\2\3\4\xff\6\7\10\11\12\13", 12));
  }
  rasterio::RawWriter w;
  EXPECT_EQ(write_rows(w, "/dev/full", size, g, 3), FileError::CannotOpen);  // a device
  {
    testing_support::FullDisk full(5);
    EXPECT_EQ(write_rows(w, path("o.raw"), size, g, 3), FileError::WriteError);
  }
  EXPECT_EQ(write_rows(w, dir_.string(), size, g, 3), FileError::CannotOpen);
  EXPECT_EQ(read_raw(path("missing.raw"), 4, 3, 3).first, FileError::CannotOpen);
  EXPECT_EQ(read_raw(dir_.string(), 4, 3, 3).first, FileError::CannotOpen);
  rasterio::RawReader rd;
  EXPECT_EQ(rd.open(path("o.raw"), rasterio::GridInfo{0, 3}), FileError::BadSize);
}

// ---- ASCII grid reading ----

TEST_F(GridFile, AsciiHeaderIsReadByOrderWhateverTheKeywords) {
  const std::string usual =
      "ncols 3\nnrows 2\nxllcorner 10.5\nyllcorner -20.25\ncellsize 30\nNODATA_value -9999\n"
      "1 2 3\n4 5 6\n";
  const std::string crlf =
      "NCOLS\t2\r\nNROWS\t1\r\nXLLCENTER\t1e3\r\nYLLCENTER\t+0.5\r\nCELLSIZE\t0x10\r\n"
      "NODATA_VALUE\t-9999.9999\r\n7\t8\t\r\n";
  // No no-data line: the sixth word is the first value.
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
      {five, {3, 2, 1, 2, 5, 0}, false, {7, 8, 9, 10, 11, 12}},
      {five_wrap, {2, 1, 1, 2, 5, 0}, false, {255, 44}},
      // GDAL's five-line header of a real-valued band: "3.0" is the first value.
      {"ncols 2\nnrows 1\nxllcorner 1\nyllcorner 2\ncellsize 5\n 3.0 4\n",
       {2, 1, 1, 2, 5, 0},
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
    EXPECT_EQ(rd.open(put("f.asc", c.text)), c.want) << c.text;
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
  unsigned char row[2];
  unsigned char* rows[1] = {row};
  EXPECT_EQ(rd.read_rows(rows, 1), FileError::CannotOpen);
  EXPECT_EQ(rd.open(path("missing.asc")), FileError::CannotOpen);
  EXPECT_EQ(rd.open(dir_.string()), FileError::CannotOpen);
  // A five-line grid, then a six-line one with the same reader: no first value carried over.
  ASSERT_EQ(rd.open(put("a.asc", "a 2\nb 1\nc 0\nd 0\ne 1\n7 8")), FileError::None);
  EXPECT_FALSE(rd.header().has_nodata);
  ASSERT_EQ(rd.read_rows(rows, 1), FileError::None);
  EXPECT_EQ(std::vector<int>(row, row + 2), (std::vector<int>{7, 8}));
  ASSERT_EQ(rd.open(put("b.asc", "a 2\nb 1\nc 0\nd 0\ne 1\nf 0\n3 4")), FileError::None);
  EXPECT_TRUE(rd.header().has_nodata);
  ASSERT_EQ(rd.read_rows(rows, 1), FileError::None);
  EXPECT_EQ(std::vector<int>(row, row + 2), (std::vector<int>{3, 4}));
  EXPECT_EQ(rd.read_rows(rows, 1), FileError::FewerValues);
}

// ---- ASCII grid writing ----

TEST_F(GridFile, AsciiWriterGoldenText) {
  EXPECT_EQ(rasterio::format_ascii_head(3, 2), "ncols 3\nnrows 2\n");
  EXPECT_EQ(rasterio::format_ascii_corner(452310.5, -4123456.25, 30),
            "xllcorner 452310.500000\nyllcorner -4123456.250000\ncellsize 30.000000\n"
            "nodata_value -9999.9999\n");
  Rows g(3, 2);
  for (int i = 0; i < 6; ++i) g.bytes[i] = static_cast<unsigned char>(i + 1);
  Rows all(256, 1);
  std::string all_text;
  for (int v = 0; v < 256; ++v) {
    all.bytes[v] = static_cast<unsigned char>(v);
    all_text += std::to_string(v) + "\t";
  }
  const std::string head23 =
      "ncols 3\nnrows 2\nxllcorner 1.000000\nyllcorner 2.000000\n"
      "cellsize 0.500000\nnodata_value -9999.9999\n";
  const struct {
    const Rows& grid;
    rasterio::GridInfo info;
    std::string want;
  } cases[] = {{g, {3, 2, 1.0, 2.0, 0.5}, head23 + "1\t2\t3\t4\t5\t6\t"},
               {all,
                {256, 1, 0, 0, 0},
                "ncols 256\nnrows 1\nxllcorner 0.000000\nyllcorner "
                "0.000000\ncellsize 0.000000\nnodata_value -9999.9999\n" +
                    all_text}};
  for (const auto& c : cases) {
    rasterio::AsciiGridWriter w;
    ASSERT_EQ(write_rows(w, path("o.asc"), c.info, c.grid, 1), FileError::None);
    EXPECT_EQ(read_file(path("o.asc")), c.want);
  }
  rasterio::AsciiGridWriter w;
  EXPECT_EQ(write_rows(w, "/dev/full", cases[0].info, g, 1), FileError::CannotOpen);  // a device
  testing_support::FullDisk full(100);  // the header fits, the values do not
  EXPECT_EQ(write_rows(w, path("full.asc"), cases[1].info, all, 1), FileError::WriteError);
}

TEST_F(GridFile, AsciiWrittenGridReadsBackLargerThanEveryBuffer) {
  // About 5.5 MB of text: more than the writer's buffer and the reader's default piece.
  const int cols = 1500, rows = 1000;
  Rows g(cols, rows);
  std::mt19937 rng(7);
  for (auto& b : g.bytes) b = static_cast<unsigned char>(rng());
  rasterio::AsciiGridWriter w;
  ASSERT_EQ(write_rows(w, path("big.asc"), {cols, rows, 512.25, -7.5, 2.75}, g, 7),
            FileError::None);
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
  EXPECT_EQ(r.cells, g.cells());
}
