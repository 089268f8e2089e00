// Raw image with descriptor and ASCII grid: a chunked text scanner that reads integers and
// reals the way the C scanf conversions %d and %lf do, and block-wise raw and text writers.
#include "rasterio/gridfile.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "nrutil/outfile.h"
#include "nrutil/rowio.h"

namespace rasterio {
namespace {

constexpr std::size_t kDefaultChunk = std::size_t{4} << 20;  // ASCII grid read piece
constexpr std::size_t kDescriptorChunk = 4096;
constexpr std::size_t kTextOutBuffer = std::size_t{1} << 20;  // ASCII values out buffer
// Longest real number token accepted in an ASCII grid header.
constexpr std::size_t kMaxRealToken = 4096;
// Bytes of a header keyword kept for looking at it.
constexpr std::size_t kMaxKeptWord = 16;

// White space as isspace() sees it in the C locale, which is what scanf skips.
constexpr std::array<bool, 256> kSpace = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) t[c] = true;
  return t;
}();

inline unsigned digit_of(unsigned char c) {
  return static_cast<unsigned>(c) - '0';
}

// ASCII letters compared without regard to case.
bool equals_ignoring_case(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return lower(x) == lower(y);
  });
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Opens path for reading; -1 unless it is a regular file, with errno telling why (EISDIR or
// ENXIO for a name that is not a regular file). O_NONBLOCK: the opening of a named pipe does
// not wait for a writer (it is refused); reading a regular file is not changed.
int open_regular_fd(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    return -1;
  }
  return fd;
}

// The same as a stream (fopen would accept a directory and wait on a pipe).
FilePtr open_regular(const std::string& path, const char* mode) {
  const int fd = open_regular_fd(path);
  if (fd < 0) return nullptr;
  FilePtr f(fdopen(fd, mode));
  if (!f) ::close(fd);
  return f;
}

// strtod in the C locale, whatever locale the process runs in.
double strtod_c(const char* s, char** end) {
  static const locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", locale_t{});
  if (c_locale == locale_t{}) return std::strtod(s, end);
  return strtod_l(s, end, c_locale);
}

// snprintf's %lf follows LC_NUMERIC; the files always carry '.' as the decimal point.
void use_decimal_dot(std::string& s) {
  const char* dp = std::localeconv()->decimal_point;
  if (dp == nullptr || *dp == '\0' || std::strcmp(dp, ".") == 0) return;
  const std::string_view point(dp);
  std::string fixed;
  for (std::size_t at = 0; at < s.size();) {
    if (std::string_view(s).substr(at, point.size()) == point) {
      fixed += '.';
      at += point.size();
    } else {
      fixed += s[at++];
    }
  }
  s = std::move(fixed);
}

// The no-data value of an ASCII header when it is an integer outside 0..255 (GDAL writes
// -9999 for 16- and 32-bit bands): cells holding exactly it would otherwise wrap to an
// ordinary value (-9999 to 241), so they are read as 255, the system's no-data value.
struct NodataToken {
  static constexpr std::size_t kMaxDigits = 9;
  bool active = false;
  bool neg = false;
  unsigned mag = 0;
  unsigned char low = 0;  // the value modulo 256, for a cheap first test

  static NodataToken of(bool has_nodata, double nodata) {
    NodataToken t;
    if (!has_nodata || !(nodata >= -999999999.0 && nodata <= 999999999.0)) return t;
    if (nodata != static_cast<double>(static_cast<long>(nodata))) return t;  // not whole
    const long v = static_cast<long>(nodata);
    if (v >= 0 && v <= 255) return t;  // read as it stands
    t.active = true;
    t.neg = v < 0;
    t.mag = static_cast<unsigned>(v < 0 ? -v : v);
    t.low = static_cast<unsigned char>(t.neg ? 0u - t.mag : t.mag);
    return t;
  }
};

// Reads text from a stream in pieces (or from memory) and scans it like scanf does. The
// byte after the last valid one is always a 0 sentinel, which is neither white space nor a
// digit, so the inner loops stop at it and only then check whether the piece has ended.
class Scanner {
 public:
  enum class Got { Ok, End, Bad, Error };  // End: input over before the item; Error: read

  // Scans the stream f (not owned) in pieces of chunk bytes; the buffer is kept for reuse.
  bool attach(std::FILE* f, std::size_t chunk) {
    chunk = std::max<std::size_t>(chunk, 1);
    const std::size_t cap = std::max(chunk, kMaxRealToken);
    if (!buf_ || cap_ != cap) {
      buf_.reset(new (std::nothrow) unsigned char[cap + 1]);
      if (!buf_) return false;
      cap_ = cap;
    }
    f_ = f;
    chunk_ = chunk;
    eof_ = err_ = false;
    pos_ = end_ = buf_.get();
    *end_ = 0;
    return true;
  }

  // Scans text held in memory.
  bool load(std::string_view text) {
    buf_.reset(new (std::nothrow) unsigned char[text.size() + 1]);
    if (!buf_) return false;
    cap_ = text.size();
    if (!text.empty()) std::memcpy(buf_.get(), text.data(), text.size());
    f_ = nullptr;
    eof_ = true;
    err_ = false;
    pos_ = buf_.get();
    end_ = pos_ + text.size();
    *end_ = 0;
    return true;
  }

  // Skips white space; Ok when a byte of a token stands at the position.
  Got skip_space() {
    for (;;) {
      while (kSpace[*pos_]) ++pos_;
      if (pos_ != end_) return Got::Ok;
      if (!refill()) return err_ ? Got::Error : Got::End;
    }
  }

  // Skips one word of non-blank bytes (scanf %s), after white space. When word is given it
  // receives the word's first kMaxKeptWord bytes (longer words are cut there).
  Got skip_word(std::string* word = nullptr) {
    if (Got g = skip_space(); g != Got::Ok) return g;
    if (word != nullptr) word->clear();
    for (;;) {
      const unsigned char* from = pos_;
      while (!kSpace[*pos_] && pos_ != end_) ++pos_;
      if (word != nullptr && word->size() < kMaxKeptWord) {
        const std::size_t n = std::min<std::size_t>(pos_ - from, kMaxKeptWord - word->size());
        word->append(reinterpret_cast<const char*>(from), n);
      }
      if (pos_ != end_) return Got::Ok;
      if (!refill()) return err_ ? Got::Error : Got::Ok;
    }
  }

  // scanf %d into an int: white space, an optional sign, digits. Bad when no digit follows
  // the sign or the value is outside the int range.
  Got read_int(int& v) {
    if (Got g = skip_space(); g != Got::Ok) return g;
    bool neg = false;
    if (Got g = sign(neg); g != Got::Ok) return g;
    std::uint64_t mag = 0;
    bool overflow = false;
    for (;;) {
      for (unsigned d; (d = digit_of(*pos_)) <= 9; ++pos_) {
        mag = mag * 10 + d;
        overflow = overflow || mag > (std::uint64_t{1} << 31);
      }
      if (pos_ != end_ || !refill()) break;
    }
    if (err_) return Got::Error;
    if (overflow || mag > (neg ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1)) {
      return Got::Bad;
    }
    v = neg ? static_cast<int>(-static_cast<std::int64_t>(mag)) : static_cast<int>(mag);
    return Got::Ok;
  }

  // scanf %lf: white space, then the longest prefix that strtod takes in the C locale.
  Got read_real(double& v) {
    if (Got g = skip_space(); g != Got::Ok) return g;
    if (!ensure(kMaxRealToken)) return Got::Error;
    const std::size_t avail = std::min<std::size_t>(end_ - pos_, kMaxRealToken);
    std::size_t n = 0;
    while (n < avail && !kSpace[pos_[n]]) ++n;
    char token[kMaxRealToken + 1];
    std::memcpy(token, pos_, n);
    token[n] = '\0';
    char* stop = nullptr;
    const double x = strtod_c(token, &stop);
    const std::size_t used = static_cast<std::size_t>(stop - token);
    if (used == 0 || used == kMaxRealToken) return Got::Bad;  // none, or too long to judge
    pos_ += used;
    v = x;
    return Got::Ok;
  }

  // Reads one word (scanf %s); when the whole word is an integer (or a whole number with a
  // zero fraction, "3.0"), its value modulo 256 goes to value and is_int is set.
  Got read_word_maybe_int(bool& is_int, unsigned char& value) {
    if (Got g = skip_space(); g != Got::Ok) return g;
    bool neg = false;
    bool any_digit = false;
    bool only_int = true;
    bool first = true;
    bool fraction = false;
    unsigned acc = 0;
    for (;;) {
      for (; !kSpace[*pos_] && pos_ != end_; ++pos_, first = false) {
        const unsigned char c = *pos_;
        if (fraction) {
          only_int = only_int && c == '0';
        } else if (digit_of(c) <= 9) {
          acc = acc * 10 + digit_of(c);
          any_digit = true;
        } else if (first && (c == '-' || c == '+')) {
          neg = c == '-';
        } else if (c == '.' && any_digit) {
          fraction = true;
        } else {
          only_int = false;
        }
      }
      if (pos_ != end_ || !refill()) break;
    }
    if (err_) return Got::Error;
    is_int = only_int && any_digit;
    value = static_cast<unsigned char>(neg ? 0u - acc : acc);
    return Got::Ok;
  }

  // Reads n values with repeated scanf "%d\t" semantics, each stored modulo 256 of its exact
  // value. Digits and signs may be split across pieces. A whole number written with a zero
  // fraction ("3.0", "-9999.00", "3.", as GDAL writes real-valued bands) is that integer; a
  // fraction with another digit ("1.5") is a BadValue.
  // A value equal to `nodata` (when active) is stored as 255 instead.
  FileError read_values(unsigned char* out, std::size_t n, const NodataToken& nodata) {
    unsigned char* p = pos_;
    std::size_t i = 0;
    while (i < n) {
      unsigned c = *p;
      while (kSpace[c]) c = *++p;
      if (p == end_) {
        if (!refill()) return err_ ? FileError::ReadError : FileError::FewerValues;
        p = pos_;
        continue;
      }
      bool neg = false;
      if (c == '-' || c == '+') {
        neg = c == '-';
        c = *++p;
        if (p == end_) {
          if (!refill()) return err_ ? FileError::ReadError : FileError::BadValue;
          p = pos_;
          c = *p;
        }
      }
      unsigned d = digit_of(static_cast<unsigned char>(c));
      if (d > 9) {
        pos_ = p;
        return FileError::BadValue;
      }
      unsigned acc = 0;                // wraps modulo 2^32, which keeps the value modulo 256 exact
      const unsigned char* first = p;  // first digit in the current piece
      std::size_t earlier_digits = 0;  // digits in pieces already left
      for (;;) {
        do {
          acc = acc * 10 + d;
          d = digit_of(*++p);
        } while (d <= 9);
        if (p != end_) break;
        earlier_digits += static_cast<std::size_t>(p - first);
        first = p;
        pos_ = p;
        if (!refill()) {
          if (err_) return FileError::ReadError;
          break;  // the file ends right after the digits
        }
        p = pos_;
        first = p;
        d = digit_of(*p);
        if (d > 9) break;
      }
      auto v = static_cast<unsigned char>(neg ? 0u - acc : acc);
      // Up to nine digits acc is the exact magnitude.
      if (v == nodata.low && nodata.active && neg == nodata.neg && acc == nodata.mag &&
          earlier_digits + static_cast<std::size_t>(p - first) <= NodataToken::kMaxDigits) {
        v = 255;
      }
      if (*p == '.' && p != end_) {
        if (FileError e = skip_zero_fraction(p); e != FileError::None) return e;
      }
      out[i++] = v;
    }
    pos_ = p;
    return FileError::None;
  }

 private:
  // An optional sign at the position, which must be followed by a digit.
  Got sign(bool& neg) {
    if (*pos_ == '-' || *pos_ == '+') {
      neg = *pos_ == '-';
      ++pos_;
      if (pos_ == end_ && !refill()) return err_ ? Got::Error : Got::Bad;
    }
    return digit_of(*pos_) <= 9 ? Got::Ok : Got::Bad;
  }

  // p at the decimal point after a value's digits: moves it over the point and the zeros
  // that follow, across pieces. BadValue when another digit follows them.
  FileError skip_zero_fraction(unsigned char*& p) {
    ++p;
    for (;;) {
      while (*p == '0') ++p;
      if (p != end_) break;
      pos_ = p;
      if (!refill()) return err_ ? FileError::ReadError : FileError::None;
      p = pos_;
    }
    if (digit_of(*p) <= 9) {
      pos_ = p;
      return FileError::BadValue;
    }
    return FileError::None;
  }

  // The position has reached the end of the piece: reads the next one. False at the end of
  // the input or on a read error (err_ set).
  bool refill() {
    if (eof_) return false;
    const std::size_t got = std::fread(buf_.get(), 1, chunk_, f_);
    if (got == 0) {
      eof_ = true;
      err_ = std::ferror(f_) != 0;
      return false;
    }
    pos_ = buf_.get();
    end_ = pos_ + got;
    *end_ = 0;
    return true;
  }

  // Makes at least n bytes (n <= capacity) stand from the position on, unless the input ends
  // first. False on a read error.
  bool ensure(std::size_t n) {
    if (static_cast<std::size_t>(end_ - pos_) >= n || eof_) return true;
    const std::size_t kept = static_cast<std::size_t>(end_ - pos_);
    std::memmove(buf_.get(), pos_, kept);
    pos_ = buf_.get();
    end_ = pos_ + kept;
    while (static_cast<std::size_t>(end_ - pos_) < n && !eof_) {
      const std::size_t room = cap_ - static_cast<std::size_t>(end_ - pos_);
      const std::size_t got = std::fread(end_, 1, std::min(chunk_, room), f_);
      if (got == 0) {
        eof_ = true;
        err_ = std::ferror(f_) != 0;
      }
      end_ += got;
    }
    *end_ = 0;
    return !err_;
  }

  std::unique_ptr<unsigned char[]> buf_;
  std::size_t cap_ = 0;
  std::size_t chunk_ = 0;
  unsigned char* pos_ = nullptr;
  unsigned char* end_ = nullptr;
  std::FILE* f_ = nullptr;
  bool eof_ = true;
  bool err_ = false;
};

FileError header_error(Scanner::Got g) {
  switch (g) {
    case Scanner::Got::Ok:
      return FileError::None;
    case Scanner::Got::End:
      return FileError::ShortHeader;
    case Scanner::Got::Bad:
      return FileError::BadHeader;
    case Scanner::Got::Error:
      break;
  }
  return FileError::ReadError;
}

FileError scan_descriptor(Scanner& sc, Descriptor& d) {
  int v[6];
  for (int& x : v) {
    if (FileError e = header_error(sc.read_int(x)); e != FileError::None) return e;
  }
  d = Descriptor{v[0], v[1], v[2], v[3], v[4], v[5]};
  return FileError::None;
}

// An owned file descriptor, closed once.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  explicit operator bool() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Closes now; false when the close fails.
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

// Every row of the grid, row 0 first: the pieces of a whole-grid transfer.
std::vector<nrutil::Piece> row_pieces(const nrutil::ByteGrid& grid) {
  std::vector<nrutil::Piece> rows(static_cast<std::size_t>(grid.nb_lig()));
  for (int i = 0; i < grid.nb_lig(); ++i) {
    rows[static_cast<std::size_t>(i)] = {const_cast<unsigned char*>(grid[i]),
                                         static_cast<std::size_t>(grid.nb_col())};
  }
  return rows;
}

}  // namespace

// ---- Raw image with descriptor ----

FileError parse_descriptor(std::string_view text, Descriptor& d) {
  Scanner sc;
  if (!sc.load(text)) return FileError::OutOfMemory;
  return scan_descriptor(sc, d);
}

FileError read_descriptor(const std::string& path, Descriptor& d) {
  FilePtr f = open_regular(path, "r");
  if (!f) return FileError::CannotOpen;
  Scanner sc;
  if (!sc.attach(f.get(), kDescriptorChunk)) return FileError::OutOfMemory;
  return scan_descriptor(sc, d);
}

std::string format_descriptor(const Descriptor& d) {
  char text[6 * 12 + 1];
  std::snprintf(text, sizeof text, "%d\n%d\n%d\n%d\n%d\n%d\n", d.nb_lig, d.nb_col, d.third,
                d.min_al, d.max_al, d.pix_size);
  return text;
}

FileError write_descriptor(const std::string& path, const Descriptor& d) {
  switch (nrutil::replace_file(path, format_descriptor(d))) {
    case nrutil::Replace::Done:
      return FileError::None;
    case nrutil::Replace::CannotCreate:
      return FileError::CannotOpen;
    case nrutil::Replace::CannotWrite:
      break;
  }
  return FileError::WriteError;
}

FileError read_raw(const std::string& path, nrutil::ByteGrid& grid) {
  if (grid.empty()) return FileError::BadSize;
  Fd fd(open_regular_fd(path));
  if (!fd) return FileError::CannotOpen;
  const auto cols = static_cast<std::size_t>(grid.nb_col());
  const std::vector<nrutil::Piece> rows = row_pieces(grid);
  const long long got = nrutil::read_pieces(fd.get(), rows.data(), rows.size());
  if (got < 0) return FileError::ReadError;
  // A shorter file leaves the cells it does not reach at 0, in a fresh or a reused grid.
  const auto full = static_cast<std::size_t>(got) / cols;
  if (full < rows.size()) {
    const std::size_t part = static_cast<std::size_t>(got) % cols;
    std::memset(grid[static_cast<int>(full)] + part, 0, cols - part);
    for (std::size_t i = full + 1; i < rows.size(); ++i) std::memset(rows[i].p, 0, cols);
  }
  return FileError::None;
}

FileError write_raw(const std::string& path, const nrutil::ByteGrid& grid) {
  if (grid.empty()) return FileError::BadSize;
  Fd fd(nrutil::open_output(path));
  if (!fd) return FileError::CannotOpen;
  const std::vector<nrutil::Piece> rows = row_pieces(grid);
  const bool wrote = nrutil::write_pieces(fd.get(), rows.data(), rows.size());
  const bool closed = fd.close();
  return wrote && closed ? FileError::None : FileError::WriteError;
}

// ---- ASCII grid ----

FileError check_ascii_header(const AsciiHeader& h) {
  if (!std::isfinite(h.X_min)) return FileError::BadXCorner;
  if (!std::isfinite(h.Y_min)) return FileError::BadYCorner;
  if (!std::isfinite(h.dpix_size) || h.dpix_size < 0.0) return FileError::BadCellSize;
  return FileError::None;
}

struct AsciiGridReader::Impl {
  Scanner scanner;
  FilePtr file;
  bool header_read = false;
  int nb_col = 0;
  int nb_lig = 0;
  bool has_first = false;  // a five-line header already gave the first value
  unsigned char first = 0;
  NodataToken nodata;
};

AsciiGridReader::~AsciiGridReader() {
  close();
  delete impl_;
}

FileError AsciiGridReader::open(const std::string& path) {
  close();
  if (impl_ == nullptr) {
    impl_ = new (std::nothrow) Impl;
    if (impl_ == nullptr) return FileError::OutOfMemory;
  }
  FilePtr f = open_regular(path, "rb");
  if (!f) return FileError::CannotOpen;
  std::setvbuf(f.get(), nullptr, _IONBF, 0);  // the scanner reads large pieces itself
  if (!impl_->scanner.attach(f.get(), chunk_bytes_ == 0 ? kDefaultChunk : chunk_bytes_)) {
    return FileError::OutOfMemory;
  }
  impl_->file = std::move(f);
  return FileError::None;
}

FileError AsciiGridReader::read_header(AsciiHeader& h) {
  if (impl_ == nullptr || !impl_->file) return FileError::CannotOpen;
  Scanner& sc = impl_->scanner;
  AsciiHeader r = h;
  r.has_nodata = true;
  int* const sizes[] = {&r.nb_col, &r.nb_lig};
  for (int* v : sizes) {
    if (FileError e = header_error(sc.skip_word()); e != FileError::None) return e;
    if (FileError e = header_error(sc.read_int(*v)); e != FileError::None) return e;
  }
  if (r.nb_col <= 0 || r.nb_lig <= 0) return FileError::BadSize;
  if (std::int64_t{r.nb_col} * r.nb_lig > nrutil::kMaxCells) return FileError::TooLarge;
  double* const reals[] = {&r.X_min, &r.Y_min, &r.dpix_size};
  std::string keyword;
  for (double* v : reals) {
    if (FileError e = header_error(sc.skip_word(&keyword)); e != FileError::None) return e;
    if (FileError e = header_error(sc.read_real(*v)); e != FileError::None) return e;
  }
  // GDAL writes "dx" and "dy" lines in place of "cellsize" for cells that are not square;
  // read by order, dx would pass for the cell size and dy for the no-data value.
  if (equals_ignoring_case(keyword, "dx")) return FileError::NonSquareCells;
  if (FileError e = check_ascii_header(r); e != FileError::None) return e;
  // Some tools leave out the no-data line: the sixth "keyword" is then the first value.
  bool is_int = false;
  unsigned char first = 0;
  if (FileError e = header_error(sc.read_word_maybe_int(is_int, first)); e != FileError::None) {
    return e;
  }
  if (is_int) {
    r.has_nodata = false;
  } else if (FileError e = header_error(sc.read_real(r.nodata)); e != FileError::None) {
    return e;
  }
  impl_->header_read = true;
  impl_->nb_col = r.nb_col;
  impl_->nb_lig = r.nb_lig;
  impl_->has_first = is_int;
  impl_->first = first;
  impl_->nodata = NodataToken::of(r.has_nodata, r.nodata);
  h = r;
  return FileError::None;
}

FileError AsciiGridReader::read_values(nrutil::ByteGrid& grid) {
  if (impl_ == nullptr || !impl_->file) return FileError::CannotOpen;
  if (!impl_->header_read) return FileError::ShortHeader;
  if (grid.empty() || grid.nb_col() != impl_->nb_col || grid.nb_lig() != impl_->nb_lig) {
    return FileError::BadSize;
  }
  const auto cols = static_cast<std::size_t>(grid.nb_col());
  for (int row = 0; row < grid.nb_lig(); ++row) {
    unsigned char* out = grid[row];
    std::size_t n = cols;
    if (row == 0 && impl_->has_first) {
      *out++ = impl_->first;
      --n;
      impl_->has_first = false;
    }
    if (FileError e = impl_->scanner.read_values(out, n, impl_->nodata); e != FileError::None) {
      return e;
    }
  }
  return FileError::None;
}

void AsciiGridReader::close() {
  if (impl_ == nullptr) return;
  impl_->file.reset();
  impl_->header_read = false;
  impl_->has_first = false;
}

std::string format_ascii_head(int nb_col, int nb_lig) {
  char text[64];
  std::snprintf(text, sizeof text, "ncols %d\nnrows %d\n", nb_col, nb_lig);
  return text;
}

std::string format_ascii_corner(double X_min, double Y_min, double dpix_size) {
  const char* const fmt = "xllcorner %lf\nyllcorner %lf\ncellsize %lf\nnodata_value -9999.9999\n";
  const int n = std::snprintf(nullptr, 0, fmt, X_min, Y_min, dpix_size);
  std::string text(static_cast<std::size_t>(std::max(n, 0)), '\0');
  std::snprintf(text.data(), text.size() + 1, fmt, X_min, Y_min, dpix_size);
  use_decimal_dot(text);
  return text;
}

FileError write_ascii_values(std::FILE* f, const nrutil::ByteGrid& grid) {
  // "%d\t" of every byte value, padded to four bytes so each cell is one 4-byte copy.
  struct Cell {
    char text[4];
    unsigned char len;
  };
  static const std::array<Cell, 256> kCells = [] {
    std::array<Cell, 256> t{};
    for (int v = 0; v < 256; ++v) {
      char s[8];
      const int n = std::snprintf(s, sizeof s, "%d\t", v);
      std::memcpy(t[v].text, s, static_cast<std::size_t>(n));
      t[v].len = static_cast<unsigned char>(n);
    }
    return t;
  }();
  if (f == nullptr) return FileError::WriteError;
  std::unique_ptr<char[]> out(new (std::nothrow) char[kTextOutBuffer]);
  if (!out) return FileError::OutOfMemory;
  std::size_t used = 0;
  const auto cols = static_cast<std::size_t>(grid.nb_col());
  for (int row = 0; row < grid.nb_lig(); ++row) {
    const unsigned char* in = grid[row];
    for (std::size_t j = 0; j < cols;) {
      std::size_t room = (kTextOutBuffer - used) / 4;
      if (room == 0) {
        if (std::fwrite(out.get(), 1, used, f) != used) return FileError::WriteError;
        used = 0;
        room = kTextOutBuffer / 4;
      }
      const std::size_t stop = j + std::min(room, cols - j);
      char* o = out.get() + used;
      for (; j < stop; ++j) {
        const Cell& c = kCells[in[j]];
        std::memcpy(o, c.text, 4);
        o += c.len;
      }
      used = static_cast<std::size_t>(o - out.get());
    }
  }
  if (used > 0 && std::fwrite(out.get(), 1, used, f) != used) return FileError::WriteError;
  return std::fflush(f) == 0 ? FileError::None : FileError::WriteError;
}

}  // namespace rasterio
