// The ASCII grid that tessera_summary reads and GIS tools open: the six-line header (ncols,
// nrows, xllcorner, yllcorner, cellsize, NODATA_value, in that order) and one row of whole
// numbers 0..255 per line, formatted by hand over large buffers.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "gis/common.h"

namespace gis {

struct AsciiGridHeader {
  int cols = 0;
  int rows = 0;
  double xll = 0.0;  // lower-left corner
  double yll = 0.0;
  double cell = 0.0;
  int nodata = 255;
};

// The six header lines; reals in the shortest decimal form that reads back exactly.
std::string format_ascii_header(const AsciiGridHeader& h);

// Room that format_ascii_row needs for n values.
inline std::size_t ascii_row_room(std::size_t n) {
  return 4 * n;
}

// Writes n values as decimal numbers separated by one blank and ended by "\n" at `out`
// (ascii_row_room(n) bytes); returns the end of the text.
char* format_ascii_row(const unsigned char* values, std::size_t n, char* out);

// Writes an ASCII grid into a staged file: the header now, then rows in order.
class AsciiGridWriter {
 public:
  AsciiGridWriter(StagedFile& file, const AsciiGridHeader& h);
  // The memory a writer of `cols` columns holds, in bytes.
  static std::size_t bytes_needed(std::size_t cols);
  // Appends one row of h.cols values.
  void write_row(const unsigned char* values);
  // Writes what is buffered; to call once after the last row.
  void flush();

 private:
  StagedFile& file_;
  std::size_t cols_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
};

}  // namespace gis
