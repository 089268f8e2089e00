// Raw image with descriptor and ASCII grid: readers on the scanf-compatible scanner, and
// block-wise raw and text writers.
#include "rasterio/gridfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "nrutil/files.h"
#include "nrutil/grid.h"
#include "nrutil/rowio.h"
#include "rasterio/scanner.h"

namespace rasterio {
namespace {

constexpr std::size_t kDefaultChunk = std::size_t{4} << 20;  // ASCII grid read piece
constexpr std::size_t kDescriptorChunk = 4096;
constexpr std::size_t kTextOutBuffer = std::size_t{1} << 20;  // ASCII values out buffer

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

// Closes fd once; false when the close fails.
bool close_fd(int& fd) {
  const int f = fd;
  fd = -1;
  return f >= 0 && ::close(f) == 0;
}

// The rows of a transfer as pieces of n bytes each; rows that follow one another in memory
// make one piece.
std::vector<nrutil::Piece> pieces_of(const unsigned char* const* rows, int count, std::size_t n) {
  std::vector<nrutil::Piece> pieces;
  pieces.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    auto* p = const_cast<unsigned char*>(rows[i]);
    if (!pieces.empty() && static_cast<unsigned char*>(pieces.back().p) + pieces.back().n == p) {
      pieces.back().n += n;
    } else {
      pieces.push_back({p, n});
    }
  }
  return pieces;
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

RawReader::~RawReader() {
  close_fd(fd_);
}

FileError RawReader::open(const std::string& path, const GridInfo& size) {
  close_fd(fd_);
  ended_ = false;
  if (size.nb_col <= 0 || size.nb_lig <= 0) return FileError::BadSize;
  fd_ = open_regular_fd(path);
  if (fd_ < 0) return FileError::CannotOpen;
  info_ = GridInfo{};
  info_.nb_col = size.nb_col;
  info_.nb_lig = size.nb_lig;
  identity_ = identity_of(fd_);
  return FileError::None;
}

FileError RawReader::read_rows(unsigned char* const* rows, int n) {
  if (fd_ < 0) return FileError::CannotOpen;
  const auto cols = static_cast<std::size_t>(info_.nb_col);
  std::size_t got = 0;  // bytes of the block read from the file
  if (!ended_) {
    const std::vector<nrutil::Piece> pieces = pieces_of(rows, n, cols);
    const long long moved = nrutil::read_pieces(fd_, pieces.data(), pieces.size());
    if (moved < 0) return FileError::ReadError;
    got = static_cast<std::size_t>(moved);
    ended_ = got < cols * static_cast<std::size_t>(n);
  }
  zero_after(rows, n, got);
  return FileError::None;
}

FileError RawReader::read_rows_at(int first, unsigned char* const* rows, int n) {
  if (fd_ < 0) return FileError::CannotOpen;
  const auto cols = static_cast<std::size_t>(info_.nb_col);
  const std::vector<nrutil::Piece> pieces = pieces_of(rows, n, cols);
  const long long moved = nrutil::read_pieces_at(fd_, static_cast<long long>(first) * info_.nb_col,
                                                 pieces.data(), pieces.size());
  if (moved < 0) return FileError::ReadError;
  zero_after(rows, n, static_cast<std::size_t>(moved));
  return FileError::None;
}

bool RawReader::map_rows_at(int first, const unsigned char** rows, int n,
                            nrutil::FileWindow& window) {
  const auto cols = static_cast<std::size_t>(info_.nb_col);
  const long long at = static_cast<long long>(first) * info_.nb_col;
  const std::size_t length = cols * static_cast<std::size_t>(n);
  // Rows beyond the end of the file read as 0: those are read, not mapped.
  if (fd_ < 0 || n <= 0 || at + static_cast<long long>(length) > identity_.size) return false;
  const unsigned char* p = window.map(fd_, at, length);
  if (p == nullptr) return false;
  for (int i = 0; i < n; ++i) rows[i] = p + static_cast<std::size_t>(i) * cols;
  return true;
}

void RawReader::zero_after(unsigned char* const* rows, int n, std::size_t got) const {
  // A shorter file leaves the cells it does not reach at 0.
  const auto cols = static_cast<std::size_t>(info_.nb_col);
  const std::size_t full = got / cols;
  if (full < static_cast<std::size_t>(n)) {
    const std::size_t part = got % cols;
    std::memset(rows[full] + part, 0, cols - part);
    for (std::size_t i = full + 1; i < static_cast<std::size_t>(n); ++i) {
      std::memset(rows[i], 0, cols);
    }
  }
}

RawWriter::~RawWriter() = default;

FileError RawWriter::create(const std::string& path) {
  return file_.open(path) ? FileError::None : FileError::CannotOpen;
}

FileError RawWriter::begin(const GridInfo& g) {
  if (g.nb_col <= 0 || g.nb_lig <= 0) return FileError::BadSize;
  nb_col_ = g.nb_col;
  return file_.is_open() ? FileError::None : FileError::CannotOpen;
}

FileError RawWriter::write_rows(const unsigned char* const* rows, int n) {
  if (!file_.is_open()) return FileError::CannotOpen;
  const std::vector<nrutil::Piece> pieces = pieces_of(rows, n, static_cast<std::size_t>(nb_col_));
  return nrutil::write_pieces(file_.fd(), pieces.data(), pieces.size()) ? FileError::None
                                                                        : FileError::WriteError;
}

FileError RawWriter::finish() {
  return file_.is_open() && file_.commit() ? FileError::None : FileError::WriteError;
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
  bool has_first = false;  // a five-line header already gave the first value
  unsigned char first = 0;
  NodataToken nodata;
};

AsciiGridReader::~AsciiGridReader() {
  close();
  delete impl_;
}

FileError AsciiGridReader::open(const std::string& path, const GridInfo& /*size*/) {
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
  identity_ = identity_of(fileno(f.get()));
  impl_->file = std::move(f);

  Scanner& sc = impl_->scanner;
  AsciiHeader r;
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
  impl_->has_first = is_int;
  impl_->first = first;
  impl_->nodata = NodataToken::of(r.has_nodata, r.nodata);
  header_ = r;
  info_ = GridInfo{r.nb_col, r.nb_lig, r.X_min, r.Y_min, r.dpix_size};
  return FileError::None;
}

FileError AsciiGridReader::read_rows(unsigned char* const* rows, int n) {
  if (impl_ == nullptr || !impl_->file) return FileError::CannotOpen;
  if (!impl_->header_read) return FileError::ShortHeader;
  const auto cols = static_cast<std::size_t>(info_.nb_col);
  for (int row = 0; row < n; ++row) {
    unsigned char* out = rows[row];
    std::size_t count = cols;
    if (impl_->has_first) {
      *out++ = impl_->first;
      --count;
      impl_->has_first = false;
    }
    switch (impl_->scanner.read_values(out, count, impl_->nodata)) {
      case Scanner::Got::Ok:
        break;
      case Scanner::Got::End:
        return FileError::FewerValues;
      case Scanner::Got::Bad:
        return FileError::BadValue;
      case Scanner::Got::Error:
        return FileError::ReadError;
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
  // "%lf" as printf prints it in the C locale: to_chars with a precision rounds alike and
  // never follows the locale's decimal point.
  std::string text;
  const auto line = [&text](const char* key, double v) {
    char tmp[400];  // the longest double in fixed notation with 6 decimals fits
    const auto res = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::fixed, 6);
    text += key;
    text.append(tmp, res.ptr);
    text += '\n';
  };
  line("xllcorner ", X_min);
  line("yllcorner ", Y_min);
  line("cellsize ", dpix_size);
  text += "nodata_value -9999.9999\n";
  return text;
}

namespace {

// "%d\t" of every byte value, padded to four bytes so that each cell is one 4-byte copy.
struct CellText {
  char text[4];
  unsigned char len;
};
const std::array<CellText, 256> kCellTexts = [] {
  std::array<CellText, 256> t{};
  for (int v = 0; v < 256; ++v) {
    char s[8];
    const int n = std::snprintf(s, sizeof s, "%d\t", v);
    std::memcpy(t[v].text, s, static_cast<std::size_t>(n));
    t[v].len = static_cast<unsigned char>(n);
  }
  return t;
}();

}  // namespace

AsciiGridWriter::~AsciiGridWriter() = default;

FileError AsciiGridWriter::create(const std::string& path) {
  used_ = 0;
  return file_.open(path) ? FileError::None : FileError::CannotOpen;
}

bool AsciiGridWriter::drain() {
  const bool ok = file_.write(std::string_view(out_.get(), used_));
  used_ = 0;
  return ok;
}

FileError AsciiGridWriter::begin(const GridInfo& g) {
  if (!file_.is_open()) return FileError::CannotOpen;
  if (g.nb_col <= 0 || g.nb_lig <= 0) return FileError::BadSize;
  nb_col_ = g.nb_col;
  if (!out_) {
    out_.reset(new (std::nothrow) char[kTextOutBuffer]);
    if (!out_) return FileError::OutOfMemory;
  }
  const std::string head =
      format_ascii_head(g.nb_col, g.nb_lig) + format_ascii_corner(g.X_min, g.Y_min, g.dpix_size);
  return file_.write(head) ? FileError::None : FileError::WriteError;
}

FileError AsciiGridWriter::write_rows(const unsigned char* const* rows, int n) {
  if (!file_.is_open() || !out_) return FileError::CannotOpen;
  const auto cols = static_cast<std::size_t>(nb_col_);
  for (int row = 0; row < n; ++row) {
    const unsigned char* in = rows[row];
    for (std::size_t j = 0; j < cols;) {
      std::size_t room = (kTextOutBuffer - used_) / 4;
      if (room == 0) {
        if (!drain()) return FileError::WriteError;
        room = kTextOutBuffer / 4;
      }
      const std::size_t stop = j + std::min(room, cols - j);
      char* o = out_.get() + used_;
      for (; j < stop; ++j) {
        const CellText& c = kCellTexts[in[j]];
        std::memcpy(o, c.text, 4);
        o += c.len;
      }
      used_ = static_cast<std::size_t>(o - out_.get());
    }
  }
  return FileError::None;
}

FileError AsciiGridWriter::finish() {
  const bool wrote = file_.is_open() && drain();
  if (!wrote) {
    file_.discard();
    return FileError::WriteError;
  }
  return file_.commit() ? FileError::None : FileError::WriteError;
}

}  // namespace rasterio
