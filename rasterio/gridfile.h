// The two text-described grid file formats: the raw image with its six-integer descriptor,
// and the ASCII grid with its georeferenced header, read and written row by row. Readers and
// writers work on host paths, print nothing and report failure by result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "nrutil/files.h"
#include "rasterio/rows.h"

namespace rasterio {

// ---- Raw image with descriptor ----

// The six descriptor integers, in file order.
struct Descriptor {
  int nb_lig = 0;
  int nb_col = 0;
  int third = 1;  // read and discarded
  int min_al = 0;
  int max_al = 255;
  int pix_size = 0;
};

// Parses six integers separated by any white space (whatever follows the sixth is ignored).
// Returns ShortHeader when fewer than six integers stand at the start, BadHeader when a
// token there is not an integer.
FileError parse_descriptor(std::string_view text, Descriptor& d);

// Reads and parses a descriptor file. CannotOpen when it does not exist or is not a
// regular readable file; errno then tells which (ENOENT: it does not exist).
FileError read_descriptor(const std::string& path, Descriptor& d);

// The descriptor text: the six values each followed by "\n".
std::string format_descriptor(const Descriptor& d);

// Creates (replaces) a descriptor file, whole or not at all (nrutil::replace_file): None
// once every byte is written, closed and in place; CannotOpen or WriteError (errno tells
// why) leave an existing descriptor as it was.
FileError write_descriptor(const std::string& path, const Descriptor& d);

// The raw image: rows x columns bytes, row 0 first, no header; its size comes from its
// descriptor. A file longer than that is read up to that size; the cells a shorter one does
// not reach read as 0.
class RawReader final : public RowReader {
 public:
  RawReader() = default;
  ~RawReader() override;
  RawReader(const RawReader&) = delete;
  RawReader& operator=(const RawReader&) = delete;
  // BadSize when the size given is not positive.
  FileError open(const std::string& path, const GridInfo& size) override;
  FileError read_rows(unsigned char* const* rows, int n) override;
  bool reads_anywhere() const override { return true; }
  // The cells beyond the end of a shorter file read as 0, as with read_rows.
  FileError read_rows_at(int first, unsigned char* const* rows, int n) override;
  bool map_rows_at(int first, const unsigned char** rows, int n,
                   nrutil::FileWindow& window) override;

 private:
  // Fills rows[0..n) from the `got` bytes read into them, the rest with 0.
  void zero_after(unsigned char* const* rows, int n, std::size_t got) const;
  int fd_ = -1;
  bool ended_ = false;  // the file ended: every later cell reads as 0
};

// Writes the raw image, row by row, into a temporary file that finish() puts in place of the
// name (nrutil::AtomicFile): a writer that fails or goes away leaves an earlier file whole.
// create() refuses a name that is not a regular file.
class RawWriter final : public RowWriter {
 public:
  RawWriter() = default;
  ~RawWriter() override;
  RawWriter(const RawWriter&) = delete;
  RawWriter& operator=(const RawWriter&) = delete;
  FileError create(const std::string& path) override;
  FileError begin(const GridInfo& g) override;
  FileError write_rows(const unsigned char* const* rows, int n) override;
  FileError finish() override;

 private:
  nrutil::AtomicFile file_;
  int nb_col_ = 0;
};

// ---- ASCII grid ----

struct AsciiHeader {
  int nb_col = 0;
  int nb_lig = 0;
  double X_min = 0.0;
  double Y_min = 0.0;
  double dpix_size = 0.0;
  double nodata = 0.0;
  bool has_nodata = true;  // false for a five-line header (no no-data line)
};

// Checks the header's reals: finite corners, and a finite cell size of 0 or more (0: the
// size is not known). None, BadXCorner, BadYCorner or BadCellSize.
FileError check_ascii_header(const AsciiHeader& h);

// Reads an ASCII grid: the header, in fixed order, keywords not examined, then the values:
// rows x columns integers separated by any white space, each stored modulo 256 (no-data
// cells aside, see read_rows).
class AsciiGridReader final : public RowReader {
 public:
  AsciiGridReader() = default;
  // Reads the file in pieces of chunk_bytes (at least 1) instead of the default 4 MiB; lets
  // tests put piece boundaries anywhere in a small file.
  explicit AsciiGridReader(std::size_t chunk_bytes) : chunk_bytes_(chunk_bytes) {}
  ~AsciiGridReader() override;
  AsciiGridReader(const AsciiGridReader&) = delete;
  AsciiGridReader& operator=(const AsciiGridReader&) = delete;

  // Opens the file (closing one still open; the read buffer is kept for reuse) and reads the
  // header: each line a word, then an integer (%d) for lines 1-2 and a real (strtod in the C
  // locale) for lines 3-6. When the sixth word is itself an integer the header has five
  // lines: that word is the first grid value and has_nodata is false. CannotOpen when the
  // file is missing, unreadable or not a regular file; ShortHeader, BadHeader, BadSize or
  // TooLarge for a bad header; NonSquareCells when the fifth word is "dx" in any case (a
  // header with "dx" and "dy" lines for cells that are not square); then what
  // check_ascii_header finds. `size` is not used.
  FileError open(const std::string& path, const GridInfo& size = {}) override;
  // The header as read.
  const AsciiHeader& header() const { return header_; }
  // Reads the next n rows of values. FewerValues when the file ends first, BadValue at a
  // token that is not an integer (a whole number written with a zero fraction, "3.0" or
  // "3.", is that integer; "1.5" is refused); whatever follows the last value is ignored. When the
  // header's no-data value is a whole number outside 0..255 (such as -9999), a value of at
  // most nine digits equal to it is stored as 255 instead of wrapping.
  FileError read_rows(unsigned char* const* rows, int n) override;
  void close();

 private:
  struct Impl;  // the scanner and the open file
  Impl* impl_ = nullptr;
  std::size_t chunk_bytes_ = 0;  // 0: the default size
  AsciiHeader header_;
};

// The header's six lines: "ncols %d\n", "nrows %d\n" (first part) and "xllcorner %lf\n",
// "yllcorner %lf\n", "cellsize %lf\n", "nodata_value -9999.9999\n" (second part).
std::string format_ascii_head(int nb_col, int nb_lig);
std::string format_ascii_corner(double X_min, double Y_min, double dpix_size);

// Writes an ASCII grid: the header, then every cell as "%d\t", row 0 first, with no line
// break anywhere after the header; like RawWriter, through a temporary file put in place by
// finish(). create() refuses a name that is not a regular file.
class AsciiGridWriter final : public RowWriter {
 public:
  AsciiGridWriter() = default;
  ~AsciiGridWriter() override;
  AsciiGridWriter(const AsciiGridWriter&) = delete;
  AsciiGridWriter& operator=(const AsciiGridWriter&) = delete;
  FileError create(const std::string& path) override;
  FileError begin(const GridInfo& g) override;
  FileError write_rows(const unsigned char* const* rows, int n) override;
  FileError finish() override;

 private:
  // Writes the buffered text; false when a write fails.
  bool drain();
  nrutil::AtomicFile file_;
  int nb_col_ = 0;
  std::unique_ptr<char[]> out_;
  std::size_t used_ = 0;
};

}  // namespace rasterio
