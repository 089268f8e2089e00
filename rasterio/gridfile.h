// The two text-described grid file formats: the raw image with its six-integer descriptor,
// and the ASCII grid with its georeferenced header. Readers and writers work on host paths,
// print nothing and report failure by result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "nrutil/grid.h"

namespace rasterio {

// Why a grid file could not be read or written.
enum class FileError {
  None,
  CannotOpen,   // missing, unreadable, or a directory
  ShortHeader,  // descriptor or ASCII header ends before its last value
  BadHeader,    // a header value is not a number
  BadSize,      // rows or columns not positive
  TooLarge,     // more cells than a grid may hold
  OutOfMemory,
  FewerValues,     // ASCII grid holds fewer values than rows x columns
  BadValue,        // a token among the ASCII values is not an integer
  NonSquareCells,  // ASCII header gives "dx" (and "dy") in place of one cell size
  BadXCorner,      // ASCII header: the x of the lower-left corner is not finite
  BadYCorner,      // ASCII header: the y of the lower-left corner is not finite
  BadCellSize,     // ASCII header: the cell size is not finite, or negative
  ReadError,
  WriteError,
};

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

// Reads rows x columns bytes, row 0 first, into the rows of grid (which has the size;
// BadSize for an empty grid).
// A file longer than that is read up to that size; a shorter one leaves the cells it
// does not reach at 0 (they are cleared here, so a reused grid is fine).
FileError read_raw(const std::string& path, nrutil::ByteGrid& grid);

// Writes the grid row by row, row 0 first, nb_col bytes a row; checks every write and
// the close. BadSize for an empty grid; CannotOpen for a name that cannot be created or is
// not a regular file (nrutil::open_output).
FileError write_raw(const std::string& path, const nrutil::ByteGrid& grid);

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

// Reads an ASCII grid: the header, in fixed order, keywords not examined, then the values.
// Values: rows x columns integers separated by any white space, each stored modulo 256
// (no-data cells aside, see read_values).
class AsciiGridReader {
 public:
  AsciiGridReader() = default;
  // Reads the file in pieces of chunk_bytes (at least 1) instead of the default 4 MiB; lets
  // tests put piece boundaries anywhere in a small file.
  explicit AsciiGridReader(std::size_t chunk_bytes) : chunk_bytes_(chunk_bytes) {}
  ~AsciiGridReader();
  AsciiGridReader(const AsciiGridReader&) = delete;
  AsciiGridReader& operator=(const AsciiGridReader&) = delete;

  // Opens the file (closing one still open; the read buffer is kept for reuse); CannotOpen
  // when missing, unreadable or not a regular file.
  FileError open(const std::string& path);
  // Reads the header: each line a word, then an integer (%d) for lines 1-2 and a real
  // (strtod in the C locale) for lines 3-6. When the sixth word is itself an integer the
  // header has five lines: that word is the first grid value, has_nodata is false and
  // h.nodata keeps its value. ShortHeader, BadHeader, BadSize or TooLarge; NonSquareCells
  // when the fifth word is "dx" in any case (a header with "dx" and "dy" lines for cells
  // that are not square); then what check_ascii_header finds. h is changed only on success.
  FileError read_header(AsciiHeader& h);
  // Reads rows x columns values into grid, which must have the header's size (else
  // BadSize). FewerValues when the file ends first, BadValue at a token that is not an
  // integer; whatever follows the last value is ignored. When the header's no-data value
  // is a whole number outside 0..255 (such as -9999), a value of at most nine digits equal
  // to it is stored as 255 instead of wrapping.
  FileError read_values(nrutil::ByteGrid& grid);
  void close();

 private:
  // implementation-defined buffer state
  struct Impl;
  Impl* impl_ = nullptr;
  std::size_t chunk_bytes_ = 0;  // 0: the default size
};

// Writes the six header lines: "ncols %d\n", "nrows %d\n" (first part) and
// "xllcorner %lf\n", "yllcorner %lf\n", "cellsize %lf\n", "nodata_value -9999.9999\n".
std::string format_ascii_head(int nb_col, int nb_lig);
std::string format_ascii_corner(double X_min, double Y_min, double dpix_size);

// Appends every cell as "%d\t", row 0 first, no line break anywhere, to the open stream,
// and flushes it. Returns WriteError when a write or the flush fails; the caller still
// checks its close.
FileError write_ascii_values(std::FILE* f, const nrutil::ByteGrid& grid);

}  // namespace rasterio
