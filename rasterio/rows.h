// Grid files read and written row by row, top row first, in blocks of rows through small
// buffers: what every file format offers, whatever its layout on disk. Nothing here prints;
// failure is reported by the result.
#pragma once

#include <string>

#include "nrutil/mapped.h"

namespace rasterio {

// Why a grid file could not be read or written.
enum class FileError {
  None,
  CannotOpen,   // missing, unreadable, not a regular file; or an output that cannot be created
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
  NotBmp,          // signature is not "BM"
  BmpLayout,       // not an uncompressed 8-bit BMP with its palette
  BmpSize,         // width or height not positive
  Truncated,       // a BMP file cut short in its header, palette or rows
  ReadError,
  WriteError,
};

// The identity of an opened file: device, inode, size and modification time. A file whose
// identity differs at a later opening was replaced or changed in between.
struct FileIdentity {
  unsigned long long dev = 0;
  unsigned long long ino = 0;
  long long size = 0;
  long long mtime_sec = 0;
  long long mtime_nsec = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the open file fd (all zero when it cannot be told).
FileIdentity identity_of(int fd);

// What a grid file tells of its grid. The corner and the cell size are known only from a
// georeferenced format (the ASCII grid).
struct GridInfo {
  int nb_col = 0;
  int nb_lig = 0;
  double X_min = 0.0;
  double Y_min = 0.0;
  double dpix_size = 0.0;
};

// Reads a grid file's rows, top row first, in blocks.
class RowReader {
 public:
  virtual ~RowReader() = default;
  // Opens the file and reads what stands before the rows (header, palette). A format whose
  // size stands in a separate descriptor takes it from `size` (nb_col, nb_lig); the others
  // read it from the file. Refuses a name that is not a regular file, without waiting on a
  // named pipe.
  virtual FileError open(const std::string& path, const GridInfo& size) = 0;
  // The grid's size (and the georeference of a georeferenced format) once open.
  const GridInfo& info() const { return info_; }
  // The identity of the open file.
  const FileIdentity& identity() const { return identity_; }
  // Reads the next n rows into rows[0] to rows[n - 1], nb_col bytes each.
  virtual FileError read_rows(unsigned char* const* rows, int n) = 0;
  // Whether read_rows_at works: the rows of the format lie at places known from the size
  // (raw, BMP), so that any block can be read, by several readers of one file at once.
  virtual bool reads_anywhere() const { return false; }
  // Reads rows first to first + n - 1 into rows[0] to rows[n - 1], leaving the place of
  // read_rows alone. ReadError for a format that does not read anywhere.
  virtual FileError read_rows_at(int first, unsigned char* const* rows, int n);
  // Points rows[0] to rows[n - 1] at rows first to first + n - 1 where they lie in the file,
  // mapped through `window` instead of copied (they stay valid until the window maps again
  // or goes away); whatever reads them runs under nrutil::read_mapped. False when they cannot
  // be mapped so (a format that does not read anywhere, a raw file shorter than its rows, a
  // failed mapping): read_rows_at reads them then.
  virtual bool map_rows_at(int first, const unsigned char** rows, int n,
                           nrutil::FileWindow& window);

 protected:
  GridInfo info_;
  FileIdentity identity_;
};

// Writes a grid file's rows, top row first, in blocks. Every write and the close are
// checked; after a failure errno tells why.
class RowWriter {
 public:
  virtual ~RowWriter() = default;
  // Creates (replaces) the file; CannotOpen when it cannot be created.
  virtual FileError create(const std::string& path) = 0;
  // Writes what stands before the rows for a grid of g's size (and georeference).
  virtual FileError begin(const GridInfo& g) = 0;
  // Writes the next n rows.
  virtual FileError write_rows(const unsigned char* const* rows, int n) = 0;
  // Writes what is left and closes the file.
  virtual FileError finish() = 0;
};

}  // namespace rasterio
