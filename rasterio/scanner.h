// A text scanner that reads integers, reals and words exactly as the C scanf conversions %d,
// %lf and %s do, over a stream read in large pieces or over text in memory. The grid file
// readers (descriptor, ASCII grid) are built on it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace rasterio {

// Longest real number token accepted.
inline constexpr std::size_t kMaxRealToken = 4096;
// Bytes of a word kept for looking at it.
inline constexpr std::size_t kMaxKeptWord = 16;

// The no-data value of an ASCII header when it is an integer outside 0..255 (GDAL writes
// -9999 for 16- and 32-bit bands): cells holding exactly it would otherwise wrap to an
// ordinary value (-9999 to 241), so they are read as 255, the system's no-data value.
struct NodataToken {
  static constexpr std::size_t kMaxDigits = 9;
  bool active = false;
  bool neg = false;
  unsigned mag = 0;
  unsigned char low = 0;  // the value modulo 256, for a cheap first test

  static NodataToken of(bool has_nodata, double nodata);
};

// Reads text from a stream in pieces (or from memory) and scans it like scanf does. The
// byte after the last valid one is always a 0 sentinel, which is neither white space nor a
// digit, so the inner loops stop at it and only then check whether the piece has ended.
class Scanner {
 public:
  enum class Got { Ok, End, Bad, Error };  // End: input over before the item; Error: read

  // Scans the stream f (not owned) in pieces of chunk bytes; the buffer is kept for reuse.
  bool attach(std::FILE* f, std::size_t chunk);

  // Scans text held in memory.
  bool load(std::string_view text);

  // Skips white space; Ok when a byte of a token stands at the position.
  Got skip_space();

  // Skips one word of non-blank bytes (scanf %s), after white space. When word is given it
  // receives the word's first kMaxKeptWord bytes (longer words are cut there).
  Got skip_word(std::string* word = nullptr);

  // scanf %d into an int: white space, an optional sign, digits. Bad when no digit follows
  // the sign or the value is outside the int range.
  Got read_int(int& v);

  // scanf %lf: white space, then the longest prefix that strtod takes in the C locale.
  Got read_real(double& v);

  // Reads one word (scanf %s); when the whole word is an integer (or a whole number with a
  // zero fraction, "3.0"), its value modulo 256 goes to value and is_int is set.
  Got read_word_maybe_int(bool& is_int, unsigned char& value);

  // Reads n values with repeated scanf "%d\t" semantics, each stored modulo 256 of its exact
  // value. Digits and signs may be split across pieces. A whole number written with a zero
  // fraction ("3.0", "-9999.00", "3.", as GDAL writes real-valued bands) is that integer; a
  // fraction with another digit ("1.5") is Bad. A value equal to `nodata` (when active) is
  // stored as 255 instead. End when the input ends before the n-th value, Bad at a token
  // that is not an integer.
  Got read_values(unsigned char* out, std::size_t n, const NodataToken& nodata);

 private:
  // An optional sign at the position, which must be followed by a digit.
  Got sign(bool& neg);

  // p at the decimal point after a value's digits: moves it over the point and the zeros
  // that follow, across pieces. Bad when another digit follows them.
  Got skip_zero_fraction(unsigned char*& p);

  // The position has reached the end of the piece: reads the next one. False at the end of
  // the input or on a read error (err_ set).
  bool refill();

  // Makes at least n bytes (n <= capacity) stand from the position on, unless the input ends
  // first. False on a read error.
  bool ensure(std::size_t n);

  std::unique_ptr<unsigned char[]> buf_;
  std::size_t cap_ = 0;
  std::size_t chunk_ = 0;
  unsigned char* pos_ = nullptr;
  unsigned char* end_ = nullptr;
  std::FILE* f_ = nullptr;
  bool eof_ = true;
  bool err_ = false;
};

}  // namespace rasterio
