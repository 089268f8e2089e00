// Tests of the BMP codec through the block reader and writer the program uses: golden bytes
// of written files, every layout the reader takes or refuses, and round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "rasterio/formats.h"
#include "support/files.h"
#include "support/images.h"

namespace {

using testing_support::bmp_bytes;
using testing_support::put_le;
using testing_support::read_file;
using testing_support::ScratchDir;
using testing_support::write_file;
using E = bmp::LoadError;

// `count` rows of `width` bytes with the row array the codec takes: `cells` row after row,
// then bytes 0xEE.
struct Rows {
  std::vector<std::string> rows;
  std::vector<unsigned char*> ptrs;
  Rows(int count, std::size_t width, const std::string& cells = "") {
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
      rows.push_back(cells.substr(std::min(cells.size(), i * width), width));
      rows.back().resize(width, '\xEE');
    }
    for (std::string& r : rows) ptrs.push_back(reinterpret_cast<unsigned char*>(r.data()));
  }
};

// Cells of a grid whose every row differs: row i, byte j is seed + 31 i + 7 j.
std::string pattern(int row_bytes, int nb_lig, int seed) {
  std::string s;
  for (int i = 0; i < nb_lig; ++i) {
    for (int j = 0; j < row_bytes; ++j) s.push_back(static_cast<char>(seed + 31 * i + 7 * j));
  }
  return s;
}

// What FileReader makes of a file: the reason of a refusal, or its sizes and cells read in
// blocks of `block` rows into rows wider than the image, whether the bytes past each row were
// left alone, and whether a block past the last row is refused.
struct Read {
  E why = E::None;
  int cols = 0, rows = 0, bits = 0;
  std::string cells;
  bool beyond_untouched = true;
  bool refuses_past_end = false;
};

Read read_blocks(const std::string& path, int block) {
  Read r;
  bmp::FileReader rd;
  r.why = rd.open(path.c_str());
  if (r.why != E::None) return r;
  r.cols = rd.nb_col();
  r.rows = rd.nb_lig();
  r.bits = rd.bit_count();
  const std::size_t width = static_cast<std::size_t>(r.cols) * (r.bits / 8);
  for (int first = 0; first < r.rows; first += block) {
    const int count = std::min(block, r.rows - first);
    Rows got(count, width + 3);
    r.why = rd.read_block(first, count, got.ptrs.data());
    if (r.why != E::None) return r;
    for (const std::string& row : got.rows) {
      r.cells += row.substr(0, width);
      r.beyond_untouched = r.beyond_untouched && row.substr(width) == "\xEE\xEE\xEE";
    }
  }
  Rows one(1, width);
  r.refuses_past_end = rd.read_block(r.rows, 1, one.ptrs.data()) == E::ShortRows;
  return r;
}

// Writes the 8-bit grid `cells` with FileWriter in blocks of `block` rows.
bool write_blocks(const std::string& path, int cols, int rows, const std::string& cells,
                  int block) {
  bmp::FileWriter w;
  if (!w.create(path.c_str()) || !w.begin(cols, rows)) return false;
  const Rows g(rows, static_cast<std::size_t>(cols), cells);
  for (int first = 0; first < rows; first += block) {
    if (!w.write_block(first, std::min(block, rows - first), g.ptrs.data() + first)) return false;
  }
  return w.close();
}

TEST(BmpWriter, WritesTheExactBytesOfAnEightBitGreyFile) {
  ScratchDir dir;
  const std::string f = dir.file("grey.bmp");
  ASSERT_TRUE(write_blocks(f, 3, 2, "\x0A\x0B\x0C\x14\x15\x16", 2));
  const std::string b = read_file(f);
  ASSERT_EQ(b.size(), 1086u);
  const std::string header(
      "BM\x3E\x04\0\0"            // BfSize 1086
      "\0\0\0\0"                  // Res1, Res2
      "\x36\x04\0\0"              // BfOffBits 1078
      "\x28\0\0\0"                // BiSize 40
      "\x03\0\0\0\x02\0\0\0"      // BiWidth 3, BiHeight 2
      "\x01\0\x08\0"              // BiPlanes 1, BiBitCount 8
      "\0\0\0\0\x08\0\0\0"        // BiCompression 0, BiSizeImage 8
      "\x10\x27\0\0\x10\x27\0\0"  // 10000 pixels per metre
      "\0\0\0\0\0\0\0\0",         // BiClrUsed, BiClrImportant
      54);
  EXPECT_EQ(b.substr(0, 54), header);
  std::string grey;
  for (int i = 0; i < 256; ++i) grey += {char(i), char(i), char(i), '\0'};
  EXPECT_EQ(b.substr(54, 1024), grey);
  // Bottom-up: the grid's last row comes first, each followed by one zero byte.
  EXPECT_EQ(b.substr(1078), std::string("\x14\x15\x16\0\x0A\x0B\x0C\0", 8));
}

TEST(BmpWriter, BlocksOfAnySizeGiveTheFileMadeByteByByteAndReadBack) {
  // Widths with 0 to 3 fill bytes a row, written and read in blocks of 1, 2 and 5 rows.
  ScratchDir dir;
  const std::string f = dir.file("blocks.bmp");
  for (int nb_col = 1; nb_col <= 9; ++nb_col) {
    for (const int block : {1, 2, 5}) {
      SCOPED_TRACE(std::to_string(nb_col) + " columns, blocks of " + std::to_string(block));
      const int nb_lig = 5;
      const std::string cells = pattern(nb_col, nb_lig, nb_col);
      ASSERT_TRUE(write_blocks(f, nb_col, nb_lig, cells, block));
      std::string want = bmp_bytes(nb_col, nb_lig, cells);
      put_le(want, 38, 10000, 4);  // pixels per metre
      put_le(want, 42, 10000, 4);
      EXPECT_EQ(read_file(f), want);

      const Read r = read_blocks(f, block);
      ASSERT_EQ(r.why, E::None);
      EXPECT_EQ(r.cols, nb_col);
      EXPECT_EQ(r.rows, nb_lig);
      EXPECT_EQ(r.bits, 8);
      EXPECT_EQ(r.cells, cells);
      EXPECT_TRUE(r.beyond_untouched);
      EXPECT_TRUE(r.refuses_past_end);
    }
  }
}

TEST(BmpWriter, SidesBeyondSixteenBitsRoundTrip) {
  ScratchDir dir;
  const std::string f = dir.file("big.bmp");
  for (auto [nb_col, nb_lig] : {std::pair{40000, 1}, std::pair{1, 40000}}) {
    const std::string cells = pattern(nb_col, nb_lig, 3);
    ASSERT_TRUE(write_blocks(f, nb_col, nb_lig, cells, 4096));
    const Read r = read_blocks(f, 4096);
    ASSERT_EQ(r.why, E::None);
    EXPECT_EQ(r.cols, nb_col);
    EXPECT_EQ(r.rows, nb_lig);
    EXPECT_EQ(r.cells, cells);
  }
}

TEST(BmpWriter, RefusesBadSizesAndTouchesTheNameOnlyOnClose) {
  ScratchDir dir;
  const std::string f = dir.file("w.bmp");
  const Rows g(2, 3, "abcdef");
  {
    bmp::FileWriter w;
    EXPECT_FALSE(w.create(nullptr));
    EXPECT_FALSE(w.begin(3, 2));  // nothing created
    ASSERT_TRUE(w.create(f.c_str()));
    EXPECT_FALSE(w.begin(0, 2));
    EXPECT_FALSE(w.begin(3, -2));
    EXPECT_FALSE(w.begin(70000, 70000));  // more than the header's 32-bit sizes hold
    ASSERT_TRUE(w.begin(3, 2));
    EXPECT_FALSE(w.write_block(1, 2, g.ptrs.data()));  // past the last row
    EXPECT_FALSE(w.write_block(-1, 1, g.ptrs.data()));
    EXPECT_TRUE(w.write_block(0, 2, g.ptrs.data()));
  }
  // A writer gone before close() leaves nothing behind.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  // An existing file is replaced on close(), and only then.
  write_file(f, "old");
  bmp::FileWriter w;
  ASSERT_TRUE(w.create(f.c_str()));
  ASSERT_TRUE(w.begin(3, 2));
  ASSERT_TRUE(w.write_block(0, 2, g.ptrs.data()));
  EXPECT_EQ(read_file(f), "old");
  ASSERT_TRUE(w.close());
  EXPECT_EQ(std::filesystem::file_size(f), 1086u);
}

// A 3 x 2 file: 8-bit {1, 2, 250} above {4, 5, 6}, or 24-bit with 18 distinct bytes.
std::string sound(int bits = 8) {
  return bits == 24 ? bmp_bytes(3, 2, pattern(9, 2, 1), {.bits = 24})
                    : bmp_bytes(3, 2, "\x01\x02\xFA\x04\x05\x06");
}

// `s` with the `width`-byte field at `at` set to v.
std::string with(std::string s, std::size_t at, std::uint32_t v, int width = 4) {
  put_le(s, at, v, width);
  return s;
}

// A 3 x 2 8-bit file whose palette (blue i, green 2i, red 3i) has `entries` entries,
// BiClrUsed `clr_used`, and its rows at `offset`.
std::string short_palette(std::uint32_t entries, std::uint32_t clr_used, long offset) {
  return bmp_bytes(
      3, 2, "\x01\x02\xFA\x04\x05\x06",
      {.entries = entries, .clr_used = clr_used, .offset = offset, .green = 2, .red = 3});
}

TEST(BmpReader, TakesOrRefusesEveryLayout) {
  struct Case {
    const char* name;
    std::string file;
    E want;
  };
  const std::string cut = sound();
  const Case cases[] = {
      {"8-bit, grey palette", sound(), E::None},
      {"24-bit", sound(24), E::None},
      {"compression 2 is not examined", with(sound(), 30, 2), E::None},
      {"3 entries, pixels at 66", short_palette(3, 3, 66), E::None},
      {"1 entry, pixels at 58", short_palette(1, 1, 58), E::None},
      {"255 entries, pixels at 1074", short_palette(255, 255, 1074), E::None},
      {"256 entries with a small BiClrUsed", short_palette(256, 3, 1078), E::None},
      {"signature BA", with(sound(), 0, 0x4142, 2), E::NotBmp},
      {"8-bit offset 1077", with(sound(), 10, 1077), E::UnsupportedLayout},
      {"8-bit offset 54", with(sound(), 10, 54), E::UnsupportedLayout},
      {"24-bit offset 1078", with(sound(24), 10, 1078), E::UnsupportedLayout},
      {"1-bit", with(sound(), 28, 1, 2), E::UnsupportedLayout},
      {"4-bit", with(sound(), 28, 4, 2), E::UnsupportedLayout},
      {"16-bit", with(sound(24), 28, 16, 2), E::UnsupportedLayout},
      {"32-bit", with(sound(24), 28, 32, 2), E::UnsupportedLayout},
      {"gap after the declared entries", short_palette(3, 3, 70), E::UnsupportedLayout},
      {"BiClrUsed 0 (all 256) at 54", short_palette(0, 0, 54), E::UnsupportedLayout},
      {"BiClrUsed 256 at 54", short_palette(0, 256, 54), E::UnsupportedLayout},
      {"fewer entries than declared", short_palette(2, 3, 62), E::UnsupportedLayout},
      {"larger information header", with(short_palette(3, 3, 66), 14, 108), E::UnsupportedLayout},
      {"24-bit with BiClrUsed", with(short_palette(3, 3, 66), 28, 24, 2), E::UnsupportedLayout},
      {"compression 1", with(sound(), 30, 1), E::Compressed},
      {"compression 1, short palette", with(short_palette(3, 3, 66), 30, 1), E::Compressed},
      {"width 0", with(sound(), 18, 0), E::BadSize},
      {"height 0", with(sound(), 22, 0), E::BadSize},
      {"height -2 (top-down)", with(sound(), 22, 0xFFFFFFFEu), E::BadSize},
      {"width -3", with(sound(), 18, 0xFFFFFFFDu), E::BadSize},
      {"width INT_MIN", with(sound(), 18, 0x80000000u), E::BadSize},
      {"empty file", "", E::ShortHeader},
      {"header cut at 53", cut.substr(0, 53), E::ShortHeader},
      {"palette cut", cut.substr(0, 1077), E::ShortPalette},
      {"short palette cut", short_palette(3, 3, 66).substr(0, 60), E::ShortPalette},
      {"8-bit rows cut", cut.substr(0, cut.size() - 1), E::ShortRows},
      {"24-bit rows cut", sound(24).substr(0, 54 + 12 + 5), E::ShortRows},
      {"short palette rows cut", short_palette(3, 3, 66).substr(0, 73), E::ShortRows},
      // The largest accepted sides on a tiny file: refused before the caller makes a grid.
      {"INT_MAX x INT_MAX declared, 2 rows present",
       with(with(sound(), 18, 0x7FFFFFFFu), 22, 0x7FFFFFFFu), E::ShortRows},
  };
  ScratchDir dir;
  const std::string f = dir.file("case.bmp");
  const auto format_reader = rasterio::kFormats[rasterio::code_of(rasterio::Format::Bmp)].reader;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(f, c.file);
    const Read r = read_blocks(f, 1);
    EXPECT_EQ(r.why, c.want);
    if (c.want != E::None) continue;
    const bool rgb = c.file[28] == 24;
    EXPECT_EQ(r.cols, 3);
    EXPECT_EQ(r.rows, 2);
    EXPECT_EQ(r.bits, rgb ? 24 : 8);
    // Whatever the palette, a pixel's stored byte is its value.
    EXPECT_EQ(r.cells, rgb ? pattern(9, 2, 1) : std::string("\x01\x02\xFA\x04\x05\x06"));
    // The program's reader takes the 8-bit files and refuses the 24-bit one (three bytes a
    // cell).
    EXPECT_EQ(format_reader()->open(f, rasterio::GridInfo{}),
              rgb ? rasterio::FileError::BmpLayout : rasterio::FileError::None);
  }
}

TEST(BmpReader, RefusesMissingFileAndFolder) {
  ScratchDir dir;
  bmp::FileReader rd;
  EXPECT_EQ(rd.open(dir.file("absent.bmp").c_str()), E::CannotOpen);
  EXPECT_EQ(rd.open(dir.path().c_str()), E::CannotOpen);
  EXPECT_EQ(rd.open(nullptr), E::CannotOpen);
  unsigned char row[3];
  unsigned char* rows[1] = {row};
  EXPECT_EQ(rd.read_block(0, 1, rows), E::CannotOpen);
}

}  // namespace
