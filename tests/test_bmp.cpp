// Tests of the BMP codec: golden bytes of written files, round trips, and every refusal of
// the reader and the writer.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/bmp.h"
#include "support/files.h"
#include "support/images.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

Bytes read_file(const fs::path& p) {
  const std::string s = testing_support::read_file(p);
  return Bytes(s.begin(), s.end());
}

void write_file(const fs::path& p, const Bytes& b) {
  testing_support::write_file(p, std::string(b.begin(), b.end()));
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
std::uint16_t le16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = static_cast<unsigned char>(v >> (8 * k));
}
void put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<unsigned char>(v);
  b[at + 1] = static_cast<unsigned char>(v >> 8);
}

// A grid held as vectors, with the row array the codec takes.
struct TestGrid {
  std::vector<Bytes> rows;
  std::vector<unsigned char*> ptrs;
  TestGrid(int row_bytes, int nb_lig, int seed = 1) : rows(nb_lig, Bytes(row_bytes)) {
    for (int i = 0; i < nb_lig; ++i) {
      for (int j = 0; j < row_bytes; ++j)
        rows[i][j] = static_cast<unsigned char>(seed + 31 * i + 7 * j);
      ptrs.push_back(rows[i].data());
    }
  }
  unsigned char** buff() { return ptrs.data(); }
};

std::vector<Color32> grey_palette() {
  std::vector<Color32> p(256);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<unsigned char>(i);
    p[i] = Color32{v, v, v, 0};
  }
  return p;
}

// A temporary folder per test, removed afterwards.
class BmpTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = testing::TempDir() + "bmp_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // Loads a file, checks the grid against the expected rows and releases it.
  void expect_loads(const std::string& file, const TestGrid& want, int nb_col, int type) {
    int c = -1, r = -1, t = -1;
    Color32* map = nullptr;
    bmp::LoadError why = bmp::LoadError::OutOfMemory;
    unsigned char** g = bmp::load(file.c_str(), c, r, t, map, &why);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(why, bmp::LoadError::None);
    EXPECT_EQ(map, nullptr);
    EXPECT_EQ(c, nb_col);
    EXPECT_EQ(r, static_cast<int>(want.rows.size()));
    EXPECT_EQ(t, type);
    for (int i = 0; i < r; ++i) {
      EXPECT_EQ(Bytes(g[i], g[i] + want.rows[i].size()), want.rows[i]) << "row " << i;
    }
    bmp::free_grid(g, r);
  }

  fs::path dir_;
};

TEST(BmpHeader, EncodesLittleEndianFieldByField) {
  BMP_Header h{};
  h.BfType = 0x4D42;
  h.BfSize = 0x11223344;
  h.Res1 = 0x0102;
  h.Res2 = 0x0304;
  h.BfOffBits = 0x05060708;
  h.BiSize = 0x090A0B0C;
  h.BiWidth = 0x0D0E0F10;
  h.BiHeight = -2;
  h.BiPlanes = 0x1112;
  h.BiBitCount = 0x1314;
  h.BiCompression = 0x15161718;
  h.BiSizeImage = 0x191A1B1C;
  h.BiXPelsPerMeter = 0x1D1E1F20;
  h.BiYPelsPerMeter = -0x21222324;
  h.BiClrUsed = 0x25262728;
  h.BiClrImportant = 0x292A2B2C;
  unsigned char raw[bmp::kHeaderSize];
  bmp::encode_header(h, raw);
  const Bytes b(raw, raw + bmp::kHeaderSize);
  const Bytes want = {0x42, 0x4D, 0x44, 0x33, 0x22, 0x11, 0x02, 0x01, 0x04, 0x03, 0x08,
                      0x07, 0x06, 0x05, 0x0C, 0x0B, 0x0A, 0x09, 0x10, 0x0F, 0x0E, 0x0D,
                      0xFE, 0xFF, 0xFF, 0xFF, 0x12, 0x11, 0x14, 0x13, 0x18, 0x17, 0x16,
                      0x15, 0x1C, 0x1B, 0x1A, 0x19, 0x20, 0x1F, 0x1E, 0x1D, 0xDC, 0xDC,
                      0xDD, 0xDE, 0x28, 0x27, 0x26, 0x25, 0x2C, 0x2B, 0x2A, 0x29};
  EXPECT_EQ(b, want);

  // Decoding then encoding again gives the same bytes: every field is read back in place.
  unsigned char again[bmp::kHeaderSize];
  bmp::encode_header(bmp::decode_header(raw), again);
  EXPECT_EQ(Bytes(again, again + bmp::kHeaderSize), want);
  EXPECT_EQ(bmp::decode_header(raw).BiHeight, -2);
}

TEST_F(BmpTest, EightBitGreyFileHasExactLayout) {
  TestGrid g(3, 2);
  g.rows[0] = {10, 11, 12};
  g.rows[1] = {20, 21, 22};
  const std::string f = path("grey.bmp");
  ASSERT_EQ(SauveBMP(f.c_str(), g.buff(), 3, 2, 0, nullptr), 0);
  const Bytes b = read_file(f);
  ASSERT_EQ(b.size(), 1086u);
  const Bytes header = {'B',  'M',  0x3E, 0x04, 0,    0,           // BfSize 1086
                        0,    0,    0,    0,                       // Res1, Res2
                        0x36, 0x04, 0,    0,                       // BfOffBits 1078
                        40,   0,    0,    0,                       // BiSize
                        3,    0,    0,    0,    2,    0,    0, 0,  // BiWidth, BiHeight
                        1,    0,    8,    0,                       // BiPlanes, BiBitCount
                        0,    0,    0,    0,    8,    0,    0, 0,  // BiCompression, BiSizeImage 8
                        0x10, 0x27, 0,    0,    0x10, 0x27, 0, 0,  // 10000 pixels per metre
                        0,    0,    0,    0,    0,    0,    0, 0};
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 54), header);
  Bytes grey;
  for (int i = 0; i < 256; ++i)
    grey.insert(grey.end(), {Bytes::value_type(i), Bytes::value_type(i), Bytes::value_type(i), 0});
  EXPECT_EQ(Bytes(b.begin() + 54, b.begin() + 1078), grey);
  EXPECT_EQ(Bytes(b.begin() + 54 + 800, b.begin() + 54 + 804), (Bytes{200, 200, 200, 0}));
  // Bottom-up: the grid's last row comes first, each followed by one zero byte.
  EXPECT_EQ(Bytes(b.begin() + 1078, b.end()), (Bytes{20, 21, 22, 0, 10, 11, 12, 0}));
}

TEST_F(BmpTest, TrueColourFileHasStrideTwelveAndNoPalette) {
  TestGrid g(9, 2);
  g.rows[0] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  g.rows[1] = {11, 12, 13, 14, 15, 16, 17, 18, 19};
  const std::string f = path("rgb.bmp");
  ASSERT_EQ(SauveBMP(f.c_str(), g.buff(), 3, 2, 2, nullptr), 0);
  const Bytes b = read_file(f);
  ASSERT_EQ(b.size(), 78u);
  EXPECT_EQ(le32(b, 2), 78u);
  EXPECT_EQ(le32(b, 10), 54u);
  EXPECT_EQ(le32(b, 18), 3u);
  EXPECT_EQ(le16(b, 28), 24);
  EXPECT_EQ(le32(b, 34), 24u);
  const Bytes rows(b.begin() + 54, b.end());
  EXPECT_EQ(rows, (Bytes{11, 12, 13, 14, 15, 16, 17, 18, 19, 0, 0, 0,  //
                         1,  2,  3,  4,  5,  6,  7,  8,  9,  0, 0, 0}));
}

TEST_F(BmpTest, WidthAlreadyMultipleOfFourHasNoFill) {
  TestGrid g(8, 3);
  const std::string f = path("eight.bmp");
  ASSERT_EQ(SauveBMP(f.c_str(), g.buff(), 8, 3, 0, nullptr), 0);
  const Bytes b = read_file(f);
  ASSERT_EQ(b.size(), 1078u + 24u);
  EXPECT_EQ(le32(b, 34), 24u);
  EXPECT_EQ(Bytes(b.begin() + 1078, b.begin() + 1086), g.rows[2]);
  EXPECT_EQ(Bytes(b.begin() + 1094, b.end()), g.rows[0]);
}

TEST_F(BmpTest, PaletteFollowsColorMapWhateverTheType) {
  std::vector<Color32> map(256);
  for (int i = 0; i < 256; ++i) map[i] = Color32{1, 2, static_cast<unsigned char>(i), 9};
  TestGrid g(1, 1);
  const std::string f = path("map.bmp");
  ASSERT_EQ(SauveBMP(f.c_str(), g.buff(), 1, 1, 0, map.data()), 0);
  const Bytes b = read_file(f);
  ASSERT_EQ(b.size(), 1082u);
  EXPECT_EQ(Bytes(b.begin() + 54 + 4 * 77, b.begin() + 54 + 4 * 78), (Bytes{1, 2, 77, 9}));
}

TEST_F(BmpTest, RoundTripsEveryTypeAndFillWidth) {
  struct Case {
    int type;
    int taille;
  };
  const std::vector<Color32> grey = grey_palette();
  for (const Case k : {Case{0, 1}, Case{2, 3}}) {
    for (int nb_col = 1; nb_col <= 9; ++nb_col) {
      const int nb_lig = 1 + nb_col % 4;
      SCOPED_TRACE("type " + std::to_string(k.type) + " columns " + std::to_string(nb_col));
      TestGrid g(nb_col * k.taille, nb_lig, nb_col);
      const std::string f = path("rt.bmp");
      ASSERT_EQ(SauveBMP(f.c_str(), g.buff(), nb_col, nb_lig, k.type, nullptr), 0);
      const std::size_t stride = (nb_col * k.taille + 3) / 4 * 4;
      EXPECT_EQ(read_file(f).size(), (k.type == 2 ? 54u : 1078u) + stride * nb_lig);
      expect_loads(f, g, nb_col, k.type);
    }
  }
  // Type 1 with an explicit grey map is a grey file and so reads back as Type 0.
  TestGrid g(5, 3);
  const std::string f = path("t1.bmp");
  ASSERT_EQ(SauveBMP(f.c_str(), g.buff(), 5, 3, 1, grey.data()), 0);
  expect_loads(f, g, 5, 0);
}

TEST_F(BmpTest, PaletteDecidesTypeAndIsHandedToTheCaller) {
  struct Case {
    const char* name;
    int entry;
    Color32 colour;
    int want_type;
  };
  const Case cases[] = {
      {"red off by one", 5, {5, 5, 6, 0}, 1},
      {"green off", 255, {255, 0, 255, 0}, 1},
      {"blue off at entry 0", 0, {1, 0, 0, 0}, 1},
      {"fourth byte ignored", 9, {9, 9, 9, 200}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Color32> map = grey_palette();
    for (auto& e : map) e.O = 3;  // non-zero fourth bytes never change the type
    map[c.entry] = c.colour;
    TestGrid g(3, 2);
    const std::string f = path("pal.bmp");
    ASSERT_EQ(SauveBMP(f.c_str(), g.buff(), 3, 2, 1, map.data()), 0);

    int nc = 0, nl = 0, t = -1;
    Color32 placeholder{};
    Color32* got = &placeholder;  // non-null: the caller asks for the palette
    unsigned char** grid = ChargeBMP(f.c_str(), nc, nl, t, got);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(t, c.want_type);
    ASSERT_NE(got, &placeholder);
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(got[i].B, map[i].B) << i;
      ASSERT_EQ(got[i].G, map[i].G) << i;
      ASSERT_EQ(got[i].R, map[i].R) << i;
      ASSERT_EQ(got[i].O, map[i].O) << i;
    }
    delete[] got;
    EXPECT_EQ(Bytes(grid[1], grid[1] + 3), g.rows[1]);
    bmp::free_grid(grid, nl);
  }
}

TEST_F(BmpTest, TrueColourHandsBackAPaletteBlockWhenAsked) {
  TestGrid g(6, 1);
  const std::string f = path("rgb.bmp");
  ASSERT_EQ(SauveBMP(f.c_str(), g.buff(), 2, 1, 2, nullptr), 0);
  int nc = 0, nl = 0, t = -1;
  Color32 placeholder{};
  Color32* got = &placeholder;
  unsigned char** grid = ChargeBMP(f.c_str(), nc, nl, t, got);
  ASSERT_NE(grid, nullptr);
  EXPECT_EQ(t, 2);
  EXPECT_NE(got, &placeholder);
  delete[] got;
  bmp::free_grid(grid, nl);
}

TEST_F(BmpTest, SidesBeyondSixteenBitsAreRead) {
  for (auto [nb_col, nb_lig] : {std::pair{40000, 1}, std::pair{1, 40000}}) {
    TestGrid g(nb_col, nb_lig);
    const std::string f = path("big.bmp");
    ASSERT_EQ(SauveBMP(f.c_str(), g.buff(), nb_col, nb_lig, 0, nullptr), 0);
    expect_loads(f, g, nb_col, 0);
  }
}

// A valid 8-bit 3x2 file (or 24-bit when asked) to damage.
Bytes valid_file(bool true_colour) {
  const std::string f = testing_support::bmp_bytes(3, 2, std::string(true_colour ? 18 : 6, '\0'),
                                                   {.bits = true_colour ? 24 : 8});
  return Bytes(f.begin(), f.end());
}

TEST_F(BmpTest, RefusesEveryUnacceptedFile) {
  using E = bmp::LoadError;
  struct Case {
    const char* name;
    bool true_colour;
    void (*damage)(Bytes&);
    E want;
  };
  const Case cases[] = {
      {"valid 8-bit", false, [](Bytes&) {}, E::None},
      {"valid 24-bit", true, [](Bytes&) {}, E::None},
      {"compression 2 is not examined", false, [](Bytes& b) { put32(b, 30, 2); }, E::None},
      {"signature BA", false, [](Bytes& b) { b[1] = 'A'; }, E::NotBmp},
      {"8-bit offset 1077", false, [](Bytes& b) { put32(b, 10, 1077); }, E::UnsupportedLayout},
      {"8-bit offset 54", false, [](Bytes& b) { put32(b, 10, 54); }, E::UnsupportedLayout},
      {"24-bit offset 1078", true, [](Bytes& b) { put32(b, 10, 1078); }, E::UnsupportedLayout},
      {"1-bit", false, [](Bytes& b) { put16(b, 28, 1); }, E::UnsupportedLayout},
      {"4-bit", false, [](Bytes& b) { put16(b, 28, 4); }, E::UnsupportedLayout},
      {"16-bit", true, [](Bytes& b) { put16(b, 28, 16); }, E::UnsupportedLayout},
      {"32-bit", true, [](Bytes& b) { put16(b, 28, 32); }, E::UnsupportedLayout},
      {"compression 1", false, [](Bytes& b) { put32(b, 30, 1); }, E::Compressed},
      {"empty file", false, [](Bytes& b) { b.clear(); }, E::ShortHeader},
      {"header cut at 53", false, [](Bytes& b) { b.resize(53); }, E::ShortHeader},
      {"palette cut", false, [](Bytes& b) { b.resize(1077); }, E::ShortPalette},
      {"8-bit rows cut", false, [](Bytes& b) { b.pop_back(); }, E::ShortRows},
      {"24-bit rows cut", true, [](Bytes& b) { b.resize(54 + 12 + 5); }, E::ShortRows},
      {"width 0", false, [](Bytes& b) { put32(b, 18, 0); }, E::BadSize},
      {"height 0", false, [](Bytes& b) { put32(b, 22, 0); }, E::BadSize},
      {"height -2 (top-down)", false, [](Bytes& b) { put32(b, 22, 0xFFFFFFFEu); }, E::BadSize},
      {"width -3", false, [](Bytes& b) { put32(b, 18, 0xFFFFFFFDu); }, E::BadSize},
      {"huge width INT_MIN", false, [](Bytes& b) { put32(b, 18, 0x80000000u); }, E::BadSize},
      // The largest accepted sides on a tiny file: refused without building the grid.
      {"INT_MAX x INT_MAX declared, 2 rows present", false,
       [](Bytes& b) {
         put32(b, 18, 0x7FFFFFFFu);
         put32(b, 22, 0x7FFFFFFFu);
       },
       E::ShortRows},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = valid_file(c.true_colour);
    c.damage(b);
    const std::string f = path("damaged.bmp");
    write_file(f, b);
    int nc = 0, nl = 0, t = -1;
    Color32* map = nullptr;
    E why = E::OutOfMemory;
    unsigned char** g = bmp::load(f.c_str(), nc, nl, t, map, &why);
    EXPECT_EQ(why, c.want);
    EXPECT_EQ(map, nullptr);
    if (c.want == E::None) {
      ASSERT_NE(g, nullptr);
      EXPECT_EQ(nc, 3);
      EXPECT_EQ(nl, 2);
      bmp::free_grid(g, nl);
    } else {
      EXPECT_EQ(g, nullptr);
      // The plain entry point refuses the same file.
      EXPECT_EQ(ChargeBMP(f.c_str(), nc, nl, t, map), nullptr);
    }
  }
}

// An 8-bit 3x2 file that stores `entries` palette entries (colour i: B i, G 2i, R 3i) and
// declares `clr_used` of them, pixels at `offset`; rows bottom-up, values 1 2 250 / 4 5 6.
// A 3x2 file whose palette has `entries` entries (blue i, green 2i, red 3i), BiClrUsed
// `clr_used`, and its rows at `offset`: {1, 2, 250} above {4, 5, 6}.
Bytes short_palette_file(std::uint32_t entries, std::uint32_t clr_used, std::uint32_t offset) {
  const std::string f = testing_support::bmp_bytes(
      3, 2, "\x01\x02\xFA\x04\x05\x06",
      {.entries = entries, .clr_used = clr_used, .offset = offset, .green = 2, .red = 3});
  return Bytes(f.begin(), f.end());
}

TEST_F(BmpTest, ShortPaletteDeclaredByClrUsedIsRead) {
  using E = bmp::LoadError;
  struct Case {
    const char* name;
    std::uint32_t entries, clr_used, offset;
    void (*damage)(Bytes&);
    E want;
  };
  const Case cases[] = {
      {"3 entries, pixels at 66", 3, 3, 66, [](Bytes&) {}, E::None},
      {"1 entry, pixels at 58", 1, 1, 58, [](Bytes&) {}, E::None},
      {"255 entries, pixels at 1074", 255, 255, 1074, [](Bytes&) {}, E::None},
      {"full palette with a small BiClrUsed", 256, 3, 1078, [](Bytes&) {}, E::None},
      {"gap after the declared entries", 3, 3, 70, [](Bytes&) {}, E::UnsupportedLayout},
      {"BiClrUsed 0 (all 256) at 54", 0, 0, 54, [](Bytes&) {}, E::UnsupportedLayout},
      {"BiClrUsed 256 at 54", 0, 256, 54, [](Bytes&) {}, E::UnsupportedLayout},
      {"fewer entries than declared", 2, 3, 62, [](Bytes&) {}, E::UnsupportedLayout},
      {"larger information header", 3, 3, 66, [](Bytes& b) { put32(b, 14, 108); },
       E::UnsupportedLayout},
      {"24-bit with BiClrUsed", 3, 3, 66, [](Bytes& b) { put16(b, 28, 24); }, E::UnsupportedLayout},
      {"compression 1", 3, 3, 66, [](Bytes& b) { put32(b, 30, 1); }, E::Compressed},
      {"palette cut", 3, 3, 66, [](Bytes& b) { b.resize(60); }, E::ShortPalette},
      {"rows cut", 3, 3, 66, [](Bytes& b) { b.pop_back(); }, E::ShortRows},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes b = short_palette_file(c.entries, c.clr_used, c.offset);
    c.damage(b);
    const std::string f = path("short.bmp");
    write_file(f, b);
    int nc = 0, nl = 0, t = -1;
    Color32 placeholder{};
    Color32* map = &placeholder;
    E why = E::OutOfMemory;
    unsigned char** g = bmp::load(f.c_str(), nc, nl, t, map, &why);
    EXPECT_EQ(why, c.want);
    ASSERT_NE(map, &placeholder);
    if (c.want != E::None) {
      EXPECT_EQ(g, nullptr);
      delete[] map;
      continue;
    }
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(nc, 3);
    EXPECT_EQ(nl, 2);
    EXPECT_EQ(t, 1);
    EXPECT_EQ(Bytes(g[0], g[0] + 3), (Bytes{1, 2, 250}));
    EXPECT_EQ(Bytes(g[1], g[1] + 3), (Bytes{4, 5, 6}));
    // The stored entries come back; the ones the file lacks are 0.
    const std::uint32_t stored = c.offset == 1078 ? 256 : c.entries;
    for (std::uint32_t i = 0; i < 256; ++i) {
      const auto v = static_cast<unsigned char>(i < stored ? i : 0);
      ASSERT_EQ(map[i].B, v) << i;
      ASSERT_EQ(map[i].G, static_cast<unsigned char>(i < stored ? 2 * i : 0)) << i;
      ASSERT_EQ(map[i].R, static_cast<unsigned char>(i < stored ? 3 * i : 0)) << i;
    }
    delete[] map;
    bmp::free_grid(g, nl);
  }
}

TEST_F(BmpTest, ShortGreyPaletteIsNotTheGreyType) {
  // A grey ramp of 255 entries lacks entry 255, so the palette is not the full grey ramp.
  Bytes b = short_palette_file(255, 255, 1074);
  for (std::size_t i = 0; i < 255; ++i) {
    b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = static_cast<unsigned char>(i);
  }
  const std::string f = path("grey255.bmp");
  write_file(f, b);
  int nc = 0, nl = 0, t = -1;
  Color32* map = nullptr;
  unsigned char** g = ChargeBMP(f.c_str(), nc, nl, t, map);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(t, 1);
  EXPECT_EQ(map, nullptr);
  bmp::free_grid(g, nl);
}

TEST_F(BmpTest, RefusesMissingFileAndDirectory) {
  for (const std::string& name : {path("absent.bmp"), dir_.string()}) {
    SCOPED_TRACE(name);
    int nc = 0, nl = 0, t = 0;
    Color32* map = nullptr;
    bmp::LoadError why = bmp::LoadError::None;
    EXPECT_EQ(bmp::load(name.c_str(), nc, nl, t, map, &why), nullptr);
    EXPECT_EQ(why, bmp::LoadError::CannotOpen);
  }
}

TEST_F(BmpTest, CallerOwnsRequestedPaletteEvenOnRefusal) {
  // The sanitizer build reports a leak or a double release if ownership is wrong.
  Bytes b = valid_file(false);
  b.resize(1077);
  const std::string f = path("cut.bmp");
  write_file(f, b);
  for (const std::string& name : {f, path("absent.bmp")}) {
    int nc = 0, nl = 0, t = 0;
    Color32 placeholder{};
    Color32* map = &placeholder;
    EXPECT_EQ(ChargeBMP(name.c_str(), nc, nl, t, map), nullptr);
    ASSERT_NE(map, &placeholder);
    ASSERT_NE(map, nullptr);
    delete[] map;
  }
}

TEST_F(BmpTest, WriterRefusesBadArgumentsWithoutCreatingAFile) {
  TestGrid g(3, 2);
  unsigned char* holes[2] = {g.rows[0].data(), nullptr};
  struct Case {
    const char* name;
    unsigned char** buff;
    int nb_col, nb_lig, type;
  };
  const Case cases[] = {
      {"type 3", g.buff(), 3, 2, 3},     {"type -1", g.buff(), 3, 2, -1},
      {"no columns", g.buff(), 0, 2, 0}, {"negative rows", g.buff(), 3, -2, 0},
      {"null grid", nullptr, 3, 2, 0},   {"null row", holes, 3, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string f = path("refused.bmp");
    EXPECT_EQ(SauveBMP(f.c_str(), c.buff, c.nb_col, c.nb_lig, c.type, nullptr), -1);
    EXPECT_FALSE(fs::exists(f));
  }
}

TEST_F(BmpTest, WriterReportsFilesItCannotWrite) {
  TestGrid g(3, 2);
  EXPECT_EQ(SauveBMP(path("no/such/folder.bmp").c_str(), g.buff(), 3, 2, 0, nullptr), -1);
  EXPECT_EQ(SauveBMP(dir_.c_str(), g.buff(), 3, 2, 0, nullptr), -1);
  EXPECT_EQ(SauveBMP("/dev/full", g.buff(), 3, 2, 0, nullptr), -1);  // a device is refused
  // A full disk: the header fits, the rows do not.
  testing_support::FullDisk full(2000);
  TestGrid big(4096, 600);
  EXPECT_EQ(SauveBMP(path("full.bmp").c_str(), big.buff(), 4096, 600, 0, nullptr), -1);
}

TEST_F(BmpTest, WriterReplacesAnExistingFile) {
  const std::string f = path("replace.bmp");
  TestGrid big(40, 10), small(3, 2);
  ASSERT_EQ(SauveBMP(f.c_str(), big.buff(), 40, 10, 0, nullptr), 0);
  ASSERT_EQ(SauveBMP(f.c_str(), small.buff(), 3, 2, 0, nullptr), 0);
  EXPECT_EQ(fs::file_size(f), 1086u);
}

TEST_F(BmpTest, TwoStepReaderFillsTheCallersRows) {
  // Widths with 0 to 3 fill bytes a row, read into rows the caller gives (wider than the
  // image): the fill bytes never reach them.
  std::vector<Bytes> rows(5, Bytes(8, 0xEE));
  std::vector<unsigned char*> ptrs;
  for (auto& r : rows) ptrs.push_back(r.data());
  for (const int nb_col : {8, 7, 6, 5}) {
    SCOPED_TRACE(nb_col);
    for (auto& r : rows) r.assign(8, 0xEE);
    TestGrid g(nb_col, 5, nb_col);
    const std::string f = path("two_step.bmp");
    ASSERT_EQ(SauveBMP(f.c_str(), g.buff(), nb_col, 5, 0, nullptr), 0);
    bmp::FileReader rd;
    ASSERT_EQ(rd.open(f.c_str()), bmp::LoadError::None);
    EXPECT_EQ(rd.nb_col(), nb_col);
    EXPECT_EQ(rd.nb_lig(), 5);
    EXPECT_EQ(rd.type(), 0);
    EXPECT_EQ(rd.row_bytes(), static_cast<std::size_t>(nb_col));
    ASSERT_EQ(rd.read_rows(ptrs.data()), bmp::LoadError::None);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(Bytes(rows[i].begin(), rows[i].begin() + nb_col), g.rows[i]) << "row " << i;
      EXPECT_EQ(rows[i][7], nb_col == 8 ? g.rows[i][7] : 0xEE) << "past the row: untouched";
    }
    EXPECT_EQ(rd.read_rows(ptrs.data()), bmp::LoadError::CannotOpen);  // the file is closed
  }
}

TEST_F(BmpTest, BlocksOfRowsWriteTheSameFileAndReadBackFromTheEnd) {
  // Widths with 0 to 3 fill bytes a row, blocks of 1, 2 and 5 rows: the block writer gives
  // the bytes of SauveBMP, and the block reader (bottom row first in the file) the rows.
  for (const int nb_col : {8, 7, 6, 5}) {
    for (const int block : {1, 2, 5}) {
      SCOPED_TRACE(std::to_string(nb_col) + " columns, blocks of " + std::to_string(block));
      const int nb_lig = 5;
      TestGrid g(nb_col, nb_lig, nb_col);
      ASSERT_EQ(SauveBMP(path("whole.bmp").c_str(), g.buff(), nb_col, nb_lig, 0, nullptr), 0);
      bmp::FileWriter w;
      ASSERT_TRUE(w.create(path("blocks.bmp").c_str()));
      ASSERT_TRUE(w.begin(nb_col, nb_lig));
      for (int first = 0; first < nb_lig; first += block) {
        const int count = std::min(block, nb_lig - first);
        ASSERT_TRUE(w.write_block(first, count, g.buff() + first));
      }
      ASSERT_TRUE(w.close());
      EXPECT_EQ(read_file(path("blocks.bmp")), read_file(path("whole.bmp")));

      bmp::FileReader rd;
      ASSERT_EQ(rd.open(path("blocks.bmp").c_str()), bmp::LoadError::None);
      for (int first = 0; first < nb_lig; first += block) {
        const int count = std::min(block, nb_lig - first);
        std::vector<Bytes> rows(static_cast<std::size_t>(count), Bytes(nb_col));
        std::vector<unsigned char*> ptrs;
        for (auto& r : rows) ptrs.push_back(r.data());
        ASSERT_EQ(rd.read_block(first, count, ptrs.data()), bmp::LoadError::None);
        for (int i = 0; i < count; ++i) EXPECT_EQ(rows[i], g.rows[first + i]) << first + i;
      }
      unsigned char* one[1] = {nullptr};
      EXPECT_EQ(rd.read_block(nb_lig, 1, one), bmp::LoadError::ShortRows);  // past the grid
    }
  }
}

}  // namespace
