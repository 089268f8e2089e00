// What each fuzz target does with one input, shared by the libFuzzer drivers (fuzz/*.cpp)
// and by the regression test that replays the kept inputs (tests/test_fuzz_regress.cpp).
//
// Every body feeds the input to the program's code and checks the outcome against an
// independent reading of the same bytes: a file is refused exactly when it is bad, with the
// reason the reference finds, and a file that is taken gives exactly the grid the reference
// gives. A body returns "" when all is well and a description of the fault otherwise.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/stages.h"
#include "app/tessera_summary.h"
#include "core/summation.h"
#include "image/bmp.h"
#include "nrutil/grid.h"
#include "rasterio/formats.h"
#include "rasterio/gridfile.h"

namespace fuzz_bodies {

// Cells a fuzzed file may announce before the reader refuses it (the front-end's cell
// limit): small enough that no input makes a body allocate much.
inline constexpr std::int64_t kCellLimit = std::int64_t{1} << 14;

inline bool write_bytes(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

inline std::string read_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

// A run whose answers are `answers` and whose console text and notes are kept.
struct QuietRun {
  explicit QuietRun(const std::string& answers = "")
      : in(answers), con(in, out, false), ui(con, notes) {
    ui.cell_limit = kCellLimit;
  }
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream notes;
  app::Console con;
  app::Ui ui;
  app::Setup setup;
  app::Inputs inputs;
};

// The table's entry of a format.
inline const rasterio::FileFormat& format_entry(rasterio::Format f) {
  return rasterio::kFormats[rasterio::code_of(f)];
}

// Reads the one image of a run in `format` (the first reading); the stop status, or 0 when
// the image was taken.
inline int read_image(QuietRun& q, const std::string& base, int format) {
  q.setup.params.images = {{{base, format}, 1.0}};
  q.setup.limits = core::ReadLimits::of(q.setup.params);
  q.setup.limits.cell_limit = kCellLimit;
  try {
    q.inputs = app::read_images(q.ui, q.setup);
  } catch (const app::RunStop& stop) {
    return stop.status;
  }
  return 0;
}

// After read_image: "" when the outcome is the expected one. A refusal must say why and
// name the file; a taken image must have counted the values of `cells` (row by row) as its
// items, and give those cells again to the later passes.
inline std::string check_read(QuietRun& q, int status, bool should_take, const std::string& file,
                              int rows, int cols, const std::string& cells) {
  const std::string text = q.out.str();
  if (!should_take) {
    if (status != 1) return "a bad file was taken (status " + std::to_string(status) + ")";
    if (text.find(file) == std::string::npos) return "the refusal does not name " + file;
    if (text.find(q.ui.pick(app::msg::kRunStops)) == std::string::npos &&
        text.find(q.ui.pick(app::msg::kEndOfInput)) == std::string::npos) {
      return "the refusal does not stop the run";
    }
    return "";
  }
  if (status != 0) return "a sound file was refused: " + text;
  core::ImageRead& im = q.inputs.images[0];
  if (im.facts.rows != rows || im.facts.cols != cols) return "wrong size";
  std::array<std::int64_t, 256> items{};
  for (const char c : cells)
    ++items[static_cast<unsigned char>(c) == 255 ? 254 : static_cast<unsigned char>(c)];
  if (im.items != items) return "wrong item counts";
  const std::vector<core::SumInput> inputs = {{&im, 1.0}};
  core::ImageRows again(inputs, rows, cols);
  if (again.status()) return "a later pass refused the file";
  for (int first = 0; first < rows; first += again.block_rows()) {
    const int count = std::min(again.block_rows(), rows - first);
    if (again.load(first, count)) return "a later pass could not read the file";
    for (int i = first; i < first + count; ++i) {
      const std::string_view want(cells.data() + static_cast<std::size_t>(i) * cols,
                                  static_cast<std::size_t>(cols));
      if (std::memcmp(again.row(0, i), want.data(), want.size()) != 0) {
        return "wrong cell values in a later pass";
      }
    }
  }
  return "";
}

// ---- A plain reading of the text formats, byte by byte, as the C conversions read them ----

inline bool is_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
inline bool is_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}

class RefScan {
 public:
  enum class Got { Ok, End, Bad };
  explicit RefScan(std::string_view s) : s_(s) {}

  bool skip_space() {
    while (p_ < s_.size() && is_space(at(p_))) ++p_;
    return p_ < s_.size();
  }
  // "%s": one word of non-blank bytes.
  Got word() {
    if (!skip_space()) return Got::End;
    while (p_ < s_.size() && !is_space(at(p_))) ++p_;
    return Got::Ok;
  }
  // "%d" into an int; Bad without digits or outside the int range.
  Got integer(int& v) {
    if (!skip_space()) return Got::End;
    bool neg = false;
    if (at(p_) == '-' || at(p_) == '+') {
      neg = at(p_) == '-';
      ++p_;
    }
    if (p_ >= s_.size() || !is_digit(at(p_))) return Got::Bad;
    long long mag = 0;
    bool over = false;
    for (; p_ < s_.size() && is_digit(at(p_)); ++p_) {
      mag = mag * 10 + (at(p_) - '0');
      if (mag > (1LL << 31)) {
        over = true;
        mag = 1LL << 31;
      }
    }
    const long long val = neg ? -mag : mag;
    if (over || val > INT32_MAX || val < INT32_MIN) return Got::Bad;
    v = static_cast<int>(val);
    return Got::Ok;
  }
  // "%lf": the longest prefix of the word (at most 4096 bytes) that strtod takes.
  Got real(double& v) {
    if (!skip_space()) return Got::End;
    std::size_t n = 0;
    while (p_ + n < s_.size() && n < 4096 && !is_space(at(p_ + n))) ++n;
    const std::string token(s_.substr(p_, n));
    char* stop = nullptr;
    const double x = std::strtod(token.c_str(), &stop);
    const auto used = static_cast<std::size_t>(stop - token.c_str());
    if (used == 0 || used == 4096) return Got::Bad;
    p_ += used;
    v = x;
    return Got::Ok;
  }
  // A word that may be a whole integer (digits, then maybe "." and zeros); its value modulo
  // 256 when it is.
  Got word_maybe_int(bool& is_int, unsigned char& value) {
    if (!skip_space()) return Got::End;
    const std::size_t b = p_;
    while (p_ < s_.size() && !is_space(at(p_))) ++p_;
    std::string_view w = s_.substr(b, p_ - b);
    bool neg = false;
    if (w[0] == '-' || w[0] == '+') {
      neg = w[0] == '-';
      w.remove_prefix(1);
    }
    const std::size_t dot = w.find('.');
    const std::string_view whole = w.substr(0, dot);
    const std::string_view rest = dot == std::string_view::npos ? "" : w.substr(dot + 1);
    is_int = !whole.empty() &&
             std::all_of(whole.begin(), whole.end(), [](char c) { return is_digit(c); }) &&
             std::all_of(rest.begin(), rest.end(), [](char c) { return c == '0'; });
    value = is_int ? mod256(whole, neg) : 0;
    return Got::Ok;
  }
  // "%s" keeping the word.
  Got word(std::string& w) {
    if (!skip_space()) return Got::End;
    const std::size_t b = p_;
    while (p_ < s_.size() && !is_space(at(p_))) ++p_;
    w = std::string(s_.substr(b, p_ - b));
    return Got::Ok;
  }
  // One grid value as "%d\t" reads it, modulo 256; a value of at most nine digits equal to
  // `nodata` (a whole number outside 0..255, when `has_nodata`) is 255.
  rasterio::FileError value(unsigned char& v, bool has_nodata, double nodata) {
    if (!skip_space()) return rasterio::FileError::FewerValues;
    bool neg = false;
    if (at(p_) == '-' || at(p_) == '+') {
      neg = at(p_) == '-';
      ++p_;
    }
    if (p_ >= s_.size() || !is_digit(at(p_))) return rasterio::FileError::BadValue;
    const std::size_t b = p_;
    while (p_ < s_.size() && is_digit(at(p_))) ++p_;
    const std::string_view digits = s_.substr(b, p_ - b);
    v = mod256(digits, neg);
    if (has_nodata && digits.size() <= 9 && std::abs(nodata) <= 999999999.0 &&
        nodata == std::trunc(nodata) && (nodata < 0 || nodata > 255)) {
      const long long mag = std::stoll(std::string(digits));
      if ((neg ? -mag : mag) == static_cast<long long>(nodata)) v = 255;
    }
    // A zero fraction ("3.0", "3.") keeps the whole number; another digit after it is refused.
    if (p_ < s_.size() && at(p_) == '.') {
      ++p_;
      while (p_ < s_.size() && at(p_) == '0') ++p_;
      if (p_ < s_.size() && is_digit(at(p_))) return rasterio::FileError::BadValue;
    }
    return rasterio::FileError::None;
  }

 private:
  unsigned char at(std::size_t i) const { return static_cast<unsigned char>(s_[i]); }
  static unsigned char mod256(std::string_view digits, bool neg) {
    unsigned m = 0;
    for (char c : digits) m = (m * 10 + static_cast<unsigned>(c - '0')) % 256;
    return static_cast<unsigned char>(neg ? (256 - m) % 256 : m);
  }
  std::string_view s_;
  std::size_t p_ = 0;
};

inline rasterio::FileError header_error(RefScan::Got g) {
  return g == RefScan::Got::End ? rasterio::FileError::ShortHeader : rasterio::FileError::BadHeader;
}

inline rasterio::FileError ref_descriptor(std::string_view text, rasterio::Descriptor& d) {
  RefScan sc(text);
  int v[6] = {};
  for (int& x : v) {
    const RefScan::Got g = sc.integer(x);
    if (g != RefScan::Got::Ok) return header_error(g);
  }
  d = rasterio::Descriptor{v[0], v[1], v[2], v[3], v[4], v[5]};
  return rasterio::FileError::None;
}

// The whole ASCII grid; cells are filled only when `with_values` (and the header is sound).
inline rasterio::FileError ref_ascii(std::string_view text, rasterio::AsciiHeader& h,
                                     std::string& cells, bool with_values) {
  using rasterio::FileError;
  RefScan sc(text);
  int* const sizes[] = {&h.nb_col, &h.nb_lig};
  for (int* v : sizes) {
    if (RefScan::Got g = sc.word(); g != RefScan::Got::Ok) return header_error(g);
    if (RefScan::Got g = sc.integer(*v); g != RefScan::Got::Ok) return header_error(g);
  }
  if (h.nb_col <= 0 || h.nb_lig <= 0) return FileError::BadSize;
  if (std::int64_t{h.nb_col} * h.nb_lig > nrutil::kMaxCells) return FileError::TooLarge;
  double* const reals[] = {&h.X_min, &h.Y_min, &h.dpix_size};
  std::string keyword;
  for (double* v : reals) {
    if (RefScan::Got g = sc.word(keyword); g != RefScan::Got::Ok) return header_error(g);
    if (RefScan::Got g = sc.real(*v); g != RefScan::Got::Ok) return header_error(g);
  }
  // "dx" (and "dy") in place of the cell size: cells that are not square.
  if (keyword.size() == 2 && (keyword[0] | 0x20) == 'd' && (keyword[1] | 0x20) == 'x') {
    return FileError::NonSquareCells;
  }
  if (!(std::abs(h.X_min) <= DBL_MAX)) return FileError::BadXCorner;
  if (!(std::abs(h.Y_min) <= DBL_MAX)) return FileError::BadYCorner;
  if (!(h.dpix_size >= 0.0 && h.dpix_size <= DBL_MAX)) return FileError::BadCellSize;
  bool is_int = false;
  unsigned char first = 0;
  if (RefScan::Got g = sc.word_maybe_int(is_int, first); g != RefScan::Got::Ok) {
    return header_error(g);
  }
  h.has_nodata = !is_int;
  if (!is_int) {
    if (RefScan::Got g = sc.real(h.nodata); g != RefScan::Got::Ok) return header_error(g);
  }
  if (!with_values) return FileError::None;
  const auto n = static_cast<std::size_t>(std::int64_t{h.nb_col} * h.nb_lig);
  cells.assign(n, '\0');
  std::size_t i = 0;
  if (is_int) cells[i++] = static_cast<char>(first);
  for (; i < n; ++i) {
    unsigned char v = 0;
    if (FileError e = sc.value(v, h.has_nodata, h.nodata); e != FileError::None) return e;
    cells[i] = static_cast<char>(v);
  }
  return FileError::None;
}

inline bool same_real(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

inline bool same_header(const rasterio::AsciiHeader& a, const rasterio::AsciiHeader& b) {
  return a.nb_col == b.nb_col && a.nb_lig == b.nb_lig && same_real(a.X_min, b.X_min) &&
         same_real(a.Y_min, b.Y_min) && same_real(a.dpix_size, b.dpix_size) &&
         a.has_nodata == b.has_nodata && (!a.has_nodata || same_real(a.nodata, b.nodata));
}

inline std::string grid_text(const nrutil::ByteGrid& g) {
  std::string s;
  for (int i = 0; i < g.nb_lig(); ++i) s.append(reinterpret_cast<const char*>(g[i]), g.nb_col());
  return s;
}

// ---- BMP image ----

inline std::uint32_t le32(std::string_view s, std::size_t at) {
  std::uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v |= std::uint32_t{static_cast<unsigned char>(s[at + k])} << (8 * k);
  return v;
}
inline std::uint16_t le16(std::string_view s, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                    (static_cast<unsigned char>(s[at + 1]) << 8));
}

struct RefBmp {
  bmp::LoadError why = bmp::LoadError::None;
  int cols = 0, rows = 0, bits = 8;
  std::string cells;  // rows x (cols x bits / 8) bytes, row 0 (the top) first
};

inline RefBmp ref_bmp(std::string_view f) {
  using bmp::LoadError;
  RefBmp r;
  if (f.size() < 54) return r.why = LoadError::ShortHeader, r;
  if (le16(f, 0) != 0x4D42) return r.why = LoadError::NotBmp, r;
  const std::uint32_t off = le32(f, 10);
  const std::uint16_t bits = le16(f, 28);
  const std::uint32_t used = le32(f, 46);  // BiClrUsed
  // 8-bit: 256 palette entries, or (40-byte information header) the 1 to 255 entries that
  // BiClrUsed declares, the pixels right after them.
  const bool short_palette = le32(f, 14) == 40 && used >= 1 && used < 256 && off == 54 + 4 * used;
  if ((bits == 8 && (off == 1078 || short_palette)) || (bits == 24 && off == 54)) {
    r.bits = bits;
  } else {
    return r.why = LoadError::UnsupportedLayout, r;
  }
  if (le32(f, 30) == 1) return r.why = LoadError::Compressed, r;
  const auto w = static_cast<std::int32_t>(le32(f, 18));
  const auto h = static_cast<std::int32_t>(le32(f, 22));
  if (w <= 0 || h <= 0) {
    return r.why = LoadError::BadSize, r;
  }
  if (f.size() < off) return r.why = LoadError::ShortPalette, r;
  const std::size_t row = static_cast<std::size_t>(w) * (r.bits / 8);
  const std::size_t stride = (row + 3) / 4 * 4;
  if (f.size() < off + stride * static_cast<std::size_t>(h)) return r.why = LoadError::ShortRows, r;
  r.cols = w;
  r.rows = h;
  for (int i = 0; i < h; ++i) r.cells.append(f.substr(off + (h - 1 - i) * stride, row));
  return r;
}

// Reads the whole BMP file `path` with bmp::FileReader, in blocks of `block` rows; sets the
// sizes and bit count and returns the reason of a refusal.
inline bmp::LoadError read_bmp(const std::string& path, int block, RefBmp& got) {
  bmp::FileReader rd;
  const bmp::LoadError e = rd.open(path.c_str());
  if (e != bmp::LoadError::None) return e;
  got.cols = rd.nb_col();
  got.rows = rd.nb_lig();
  got.bits = rd.bit_count();
  const std::size_t row = static_cast<std::size_t>(got.cols) * (got.bits / 8);
  // The file holds every row (open checks its length), so the grid is no larger than it.
  got.cells.assign(row * static_cast<std::size_t>(got.rows), '\0');
  std::vector<unsigned char*> rows;
  for (int i = 0; i < got.rows; ++i) {
    rows.push_back(reinterpret_cast<unsigned char*>(got.cells.data()) + row * i);
  }
  for (int first = 0; first < got.rows; first += block) {
    const int count = std::min(block, got.rows - first);
    const bmp::LoadError b = rd.read_block(first, count, rows.data() + first);
    if (b != bmp::LoadError::None) return b;
  }
  return bmp::LoadError::None;
}

// `data` is the file; its last byte picks the size of the blocks of rows it is read in. An
// 8-bit file that was read is also written back with bmp::FileWriter and read again.
inline std::string bmp_one(const std::uint8_t* data, std::size_t size, const std::string& dir) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const rasterio::FileFormat& format = format_entry(rasterio::Format::Bmp);
  const std::string path = dir + "/in" + format.ext;
  if (!write_bytes(path, bytes)) return "";  // the scratch disk is not what is tested
  const RefBmp want = ref_bmp(bytes);

  const int block = size > 0 ? 1 + data[size - 1] % 8 : 1;
  RefBmp got;
  const bmp::LoadError why = read_bmp(path, block, got);
  if (why != want.why) return "refused for another reason than the reference, or not refused";
  if (why != bmp::LoadError::None) return "";
  if (got.cols != want.cols || got.rows != want.rows || got.bits != want.bits) {
    return "wrong size or bit count";
  }
  if (got.cells != want.cells) return "wrong pixel values";

  // What was read, written again, reads back the same.
  if (want.bits == 8) {
    const std::string again = dir + "/again.bmp";
    std::vector<const unsigned char*> rows;
    for (int i = 0; i < got.rows; ++i) {
      rows.push_back(reinterpret_cast<const unsigned char*>(got.cells.data()) +
                     static_cast<std::size_t>(got.cols) * i);
    }
    bmp::FileWriter w;
    if (!w.create(again.c_str()) || !w.begin(got.cols, got.rows)) {
      return "FileWriter refused a sound grid";
    }
    for (int first = 0; first < got.rows; first += block) {
      if (!w.write_block(first, std::min(block, got.rows - first), rows.data() + first)) {
        return "FileWriter failed on a sound grid";
      }
    }
    if (!w.close()) return "FileWriter failed to close";
    RefBmp back;
    if (read_bmp(again, got.rows, back) != bmp::LoadError::None || back.cols != got.cols ||
        back.rows != got.rows || back.bits != 8) {
      return "a written image does not read back";
    }
    if (back.cells != got.cells) return "a written image reads back different";
    if (ref_bmp(read_bytes(again)).cells != got.cells) return "a written image is laid out wrong";
  }

  // The same file as the input image of a run.
  QuietRun q;
  const int status = read_image(q, dir + "/in", rasterio::code_of(format.id));
  const bool take = want.bits == 8 && std::int64_t{want.cols} * want.rows <= kCellLimit;
  return check_read(q, status, take, path, want.rows, want.cols, want.cells);
}

// ---- ASCII grid ----

// Byte 0 picks the size of the pieces the reader reads the file in (1 to 64 bytes, so that
// piece ends fall everywhere); the rest is the file. It is read with those pieces, with
// pieces just above the longest header token, and as a run reads it (4 MiB pieces).
inline std::string ascii_one(const std::uint8_t* data, std::size_t size, const std::string& dir) {
  using rasterio::FileError;
  if (size == 0) return "";
  const std::size_t chunk = 1 + data[0] % 64;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const rasterio::FileFormat& format = format_entry(rasterio::Format::Ascii);
  const std::string path = dir + "/in" + format.ext;
  if (!write_bytes(path, text)) return "";

  rasterio::AsciiHeader want_h;
  std::string want_cells;
  FileError want = ref_ascii(text, want_h, want_cells, false);
  const bool small =
      want == FileError::None && std::int64_t{want_h.nb_col} * want_h.nb_lig <= kCellLimit;
  if (small) want = ref_ascii(text, want_h, want_cells, true);

  for (const std::size_t piece : {chunk, std::size_t{4099}}) {
    rasterio::AsciiGridReader rd(piece);
    FileError e = rd.open(path);
    if (e == FileError::CannotOpen) return "cannot open a regular file";
    if (e == FileError::None && !same_header(rd.header(), want_h)) {
      return "header differs from reference";
    }
    if (e == FileError::None && small) {
      nrutil::ByteGrid g = nrutil::ByteGrid::make(want_h.nb_col, want_h.nb_lig);
      if (!g) return "";
      e = rd.read_rows(g.rows(), g.nb_lig());
      if (e == FileError::None && grid_text(g) != want_cells) return "values differ";
    }
    if (e != want) {
      return "outcome " + std::to_string(static_cast<int>(e)) + " where the reference gives " +
             std::to_string(static_cast<int>(want));
    }
  }

  QuietRun q;
  const int status = read_image(q, dir + "/in", rasterio::code_of(format.id));
  const bool take = small && want == FileError::None;
  return check_read(q, status, take, path, want_h.nb_lig, want_h.nb_col, want_cells);
}

// ---- Raw image with descriptor ----

// Bytes 0-1 give the length of the descriptor text that follows them; the rest is the raw
// image file.
inline std::string descriptor_one(const std::uint8_t* data, std::size_t size,
                                  const std::string& dir) {
  using rasterio::FileError;
  if (size < 2) return "";
  const std::size_t len = (data[0] | (std::size_t{data[1]} << 8)) % (size - 1);
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, len);
  const std::string_view raw(reinterpret_cast<const char*>(data) + 2 + len, size - 2 - len);

  rasterio::Descriptor want_d, got_d, file_d;
  const FileError want = ref_descriptor(text, want_d);
  const FileError got = rasterio::parse_descriptor(text, got_d);
  if (got != want) return "parse_descriptor disagrees with the reference";
  auto same = [](const rasterio::Descriptor& a, const rasterio::Descriptor& b) {
    return a.nb_lig == b.nb_lig && a.nb_col == b.nb_col && a.third == b.third &&
           a.min_al == b.min_al && a.max_al == b.max_al && a.pix_size == b.pix_size;
  };
  if (got == FileError::None) {
    if (!same(got_d, want_d)) return "descriptor values differ from the reference";
    rasterio::Descriptor back;
    if (rasterio::parse_descriptor(rasterio::format_descriptor(got_d), back) != FileError::None ||
        !same(back, got_d)) {
      return "a written descriptor does not read back";
    }
  }
  const rasterio::FileFormat& format = format_entry(rasterio::Format::Raw);
  const std::string base = dir + "/in";
  const std::string descriptor = base + format.sidecar;
  if (!write_bytes(descriptor, text) || !write_bytes(base + format.ext, raw)) return "";
  const FileError from_file = rasterio::read_descriptor(descriptor, file_d);
  if (from_file != want) return "read_descriptor disagrees with parse_descriptor";
  if (from_file == FileError::None && !same(file_d, want_d)) return "file descriptor differs";

  QuietRun q;
  const int status = read_image(q, base, rasterio::code_of(format.id));
  const bool take = want == FileError::None && want_d.nb_lig > 0 && want_d.nb_col > 0 &&
                    std::int64_t{want_d.nb_lig} * want_d.nb_col <= kCellLimit;
  std::string cells;
  if (take) {
    cells.assign(static_cast<std::size_t>(std::int64_t{want_d.nb_lig} * want_d.nb_col), '\0');
    std::copy_n(raw.begin(), std::min(raw.size(), cells.size()), cells.begin());
  }
  // A refused descriptor is named; so is one whose sizes cannot be.
  std::string fault = check_read(q, status, take, descriptor, want_d.nb_lig, want_d.nb_col, cells);
  if (fault.empty() && take && q.inputs.georef.pixel_size != want_d.pix_size) {
    fault = "wrong pixel size";
  }
  return fault;
}

// ---- A whole run ----

// The study area every fuzzed run works in: small images of each format (one of them a
// moving-window image with its background band), masks, an image of another size, a 24-bit
// BMP, a raw image without descriptor, and a folder and named pipes named like images.
class RunArea {
 public:
  // Creates the files under `dir`/zone.
  explicit RunArea(const std::string& dir) : dir_(dir), zone_(dir + "/zone") {
    std::filesystem::create_directories(zone_);
    constexpr int n = 12;
    std::string mesh, window, mask;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        mesh.push_back(static_cast<char>(1 + (i / 3 * 7 + j / 3 * 3) % 9));
        const bool band = i < 2 || j < 2 || i >= n - 2 || j >= n - 2;
        window.push_back(static_cast<char>(band ? 255 : 1 + (i * j) % 6));
        mask.push_back(static_cast<char>(i + j < 14 ? 1 : 255));
      }
    }
    put_raw("geol", mesh, n, n);
    put_raw("win", window, n, n);
    put_raw("mask", mask, n, n);
    put_raw("small", std::string(36, '\x02'), 6, 6);
    put_raw("out_info", mesh, n, n);  // named like the report of the result "out"
    put("nodesc.raw", mesh);
    put_bmp("soil", mesh, n, n, 8);
    put_bmp("rgb", mesh + mesh + mesh, n, n, 24);
    std::string asc =
        "ncols 12\nnrows 12\nxllcorner 1000.5\nyllcorner 2000\ncellsize 25\n"
        "NODATA_value -9999\n";
    for (unsigned char c : window) asc += std::to_string(c) + " ";
    put("morph.asc", asc);
    std::filesystem::create_directories(zone_ + "/folder.raw");
    put("folder.txt", "12\n12\n1\n0\n255\n30\n");
    // Named pipes where files are expected: opening one would wait for a writer.
    put("pipe.raw", mesh);
    put("fifo.txt", "12\n12\n1\n0\n255\n30\n");
    for (const char* name : {"pipe.txt", "pipe.bmp", "pipe.asc", "fifo.raw"}) {
      mkfifo((zone_ + "/" + name).c_str(), 0600);
      specials_.insert(name);
    }
    specials_.insert("folder.raw");
    for (const auto& e : std::filesystem::directory_iterator(zone_)) {
      if (e.is_regular_file()) inputs_[e.path().filename().string()] = read_bytes(e.path());
    }
  }

  // Answers name the disk "2", this folder and "zone"; everything after comes from `data`,
  // with every byte that could lead out of the folder ('/', '\', ':') made '_'.
  std::string answers(const std::uint8_t* data, std::size_t size) const {
    std::string a = "0 2 " + dir_ + " zone ";
    for (std::size_t i = 0; i < size; ++i) {
      const char c = static_cast<char>(data[i]);
      a.push_back(c == '/' || c == '\\' || c == ':' || c == '\0' ? '_' : c);
    }
    return a;
  }

  // "" when no file of the area changed but those named as outputs of the run (an existing
  // file of an output's name is replaced), and never one of the run's own inputs. Puts back
  // what changed and removes everything the run created.
  std::string check_and_clean(const app::RunNames& r) const {
    const std::set<std::string> outputs = output_names(r);
    const std::set<std::string> own = input_names(r);
    std::string fault;
    for (const auto& [name, bytes] : inputs_) {
      if (read_bytes(zone_ + "/" + name) == bytes) continue;
      if (outputs.count(name) == 0 || own.count(name) != 0) {
        fault = "input file " + name + " changed";
      }
      write_bytes(zone_ + "/" + name, bytes);
    }
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(zone_, ec)) {
      const std::string name = e.path().filename().string();
      if (inputs_.count(name) == 0 && specials_.count(name) == 0) {
        std::filesystem::remove_all(e.path(), ec);
      }
    }
    return fault;
  }

  const std::string& zone() const { return zone_; }

 private:
  // The file name alone of a name the run built (its folder is always this area's).
  static std::string base(const std::string& name) {
    const std::size_t at = name.find_last_of("\\/");
    return at == std::string::npos ? name : name.substr(at + 1);
  }
  // The files a run may write: its report, histogram, point files, record and the result
  // image in any format (with the descriptor beside a raw one and the .prj).
  static std::set<std::string> output_names(const app::RunNames& r) {
    const rasterio::RunFiles& f = r.files;
    std::set<std::string> names = {base(f.info),       base(f.histogram), base(f.points_ij),
                                   base(f.points_utm), base(f.record),    base(f.prj)};
    for (const rasterio::FileFormat& format : rasterio::kFormats) {
      names.insert(base(f.result(format)));
      if (format.sidecar != nullptr) names.insert(base(f.result_descriptor(format)));
    }
    return names;
  }
  // The files the run reads: each image in its format (with the descriptor beside a raw
  // image) and the mask.
  static std::set<std::string> input_names(const app::RunNames& r) {
    std::set<std::string> names;
    std::vector<core::InputGrid> grids;
    for (const core::ImageParameter& im : r.params.images) grids.push_back(im.grid);
    if (r.params.mask) grids.push_back(*r.params.mask);
    for (const core::InputGrid& g : grids) {
      if (rasterio::format_of(g.format) == nullptr) continue;
      names.insert(base(core::grid_file(g)));
      if (const std::string d = core::descriptor_file(g); !d.empty()) names.insert(base(d));
    }
    return names;
  }

  void put(const std::string& name, const std::string& bytes) {
    write_bytes(zone_ + "/" + name, bytes);
  }
  void put_raw(const std::string& name, const std::string& cells, int rows, int cols) {
    const rasterio::FileFormat& raw = format_entry(rasterio::Format::Raw);
    put(name + raw.ext, cells);
    put(name + raw.sidecar,
        std::to_string(rows) + "\n" + std::to_string(cols) + "\n1\n0\n255\n30\n");
  }
  // An 8-bit grey or a 24-bit BMP image of `cells` (row 0 first), written byte by byte.
  void put_bmp(const std::string& name, const std::string& cells, int rows, int cols, int bits) {
    const std::size_t row = static_cast<std::size_t>(cols) * (bits / 8);
    const std::size_t stride = (row + 3) / 4 * 4;
    const std::size_t offset = bits == 8 ? 1078 : 54;
    std::string f(54, '\0');
    const auto le = [&f](std::size_t at, std::uint32_t v, int n) {
      for (int k = 0; k < n; ++k) f[at + k] = static_cast<char>(v >> (8 * k));
    };
    le(0, 0x4D42, 2);
    le(2, static_cast<std::uint32_t>(offset + stride * rows), 4);
    le(10, static_cast<std::uint32_t>(offset), 4);
    le(14, 40, 4);
    le(18, static_cast<std::uint32_t>(cols), 4);
    le(22, static_cast<std::uint32_t>(rows), 4);
    le(26, 1, 2);
    le(28, static_cast<std::uint32_t>(bits), 2);
    le(34, static_cast<std::uint32_t>(stride * rows), 4);
    for (int i = 0; bits == 8 && i < 256; ++i) f += {char(i), char(i), char(i), '\0'};
    for (int i = rows - 1; i >= 0; --i) {
      f += cells.substr(row * i, row);
      f.append(stride - row, '\0');
    }
    put(name + format_entry(rasterio::Format::Bmp).ext, f);
  }

  std::string dir_;
  std::string zone_;
  std::map<std::string, std::string> inputs_;
  std::set<std::string> specials_;  // the folder and the pipes among the inputs
};

// `data` is the answer stream after the folder. The run must end with status 0 having
// written its result, or with status 1 after saying why; the inputs stay as they were.
inline std::string run_one(const std::uint8_t* data, std::size_t size, const RunArea& area) {
  QuietRun q(area.answers(data, size));
  app::RunNames names;
  const int status = app::opening(q.ui, &names);
  std::string fault;
  const std::string text = q.out.str();
  const auto host = [](std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
  };
  if (status == 0) {
    struct stat st {};
    const rasterio::FileFormat* f = rasterio::format_of(names.params.output_format);
    const std::string path = f != nullptr ? host(names.files.result(*f)) : std::string();
    if (f != nullptr && (stat(path.c_str(), &st) != 0 || st.st_size == 0)) {
      fault = "a run that succeeded left no result image " + path;
    }
    if (stat(host(names.files.info).c_str(), &st) != 0 || st.st_size == 0) {
      fault = "a run that succeeded left no report";
    }
  } else if (status == 1) {
    if (text.find(q.ui.pick(app::msg::kRunStops)) == std::string::npos &&
        text.find(q.ui.pick(app::msg::kEndOfInput)) == std::string::npos) {
      fault = "a stop without its message";
    }
  } else {
    fault = "exit status " + std::to_string(status);
  }
  const std::string inputs = area.check_and_clean(names);
  return fault.empty() ? inputs : fault;
}

}  // namespace fuzz_bodies
