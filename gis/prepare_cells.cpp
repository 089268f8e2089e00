// The cells of a prepared run: the union of no-data, the value check and the written bytes.
#include "gis/prepare_cells.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace gis {

void scan_block(const double* v, const unsigned char* has, std::size_t n, unsigned char* st,
                LayerScan& s, std::int64_t first_cell, int cols) {
  double lo = s.min;
  double hi = s.max;
  for (std::size_t i = 0; i < n; ++i) {
    if (!has[i]) {
      ++s.nodata_cells;
      if (st[i] == kData) st[i] = kNoData;
      continue;
    }
    if (st[i] == kOutside) continue;
    ++s.data_cells;
    const double x = v[i];
    lo = std::min(lo, x);
    hi = std::max(hi, x);
    // Within 0..254 the conversion to int is exact for whole numbers and defined.
    if (!(x >= 0.0 && x <= kMaxDataValue && x == static_cast<int>(x)) && s.bad_cells++ == 0) {
      const std::int64_t cell = first_cell + static_cast<std::int64_t>(i);
      s.first_bad = x;
      s.bad_line = static_cast<int>(cell / cols);
      s.bad_pixel = static_cast<int>(cell % cols);
    }
  }
  s.min = lo;
  s.max = hi;
}

LayerScan scan_layer(BandReader& reader, int rows, int cols, std::vector<unsigned char>& state) {
  LayerScan s;
  s.min = std::numeric_limits<double>::infinity();
  s.max = -s.min;
  for (int row = 0; row < rows; row += reader.block_rows()) {
    const int count = std::min(reader.block_rows(), rows - row);
    reader.read(row, count);
    scan_block(reader.values(), reader.has_data(), static_cast<std::size_t>(count) * cols,
               state.data() + static_cast<std::size_t>(row) * cols, s,
               static_cast<std::int64_t>(row) * cols, cols);
  }
  if (s.data_cells == 0) s.min = s.max = 0.0;
  return s;
}

std::int64_t write_layer(BandReader& reader, int rows, int cols,
                         const std::vector<unsigned char>& state, unsigned char fill,
                         AsciiGridWriter& out) {
  std::int64_t zeros = 0;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(cols));
  for (int row = 0; row < rows; row += reader.block_rows()) {
    const int count = std::min(reader.block_rows(), rows - row);
    reader.read(row, count);
    for (int r = 0; r < count; ++r) {
      const std::size_t at = static_cast<std::size_t>(r) * cols;
      const double* v = reader.values() + at;
      const unsigned char* st = state.data() + static_cast<std::size_t>(row + r) * cols;
      for (int j = 0; j < cols; ++j) {
        // The scan has checked that every kData cell holds a whole number 0..254; the range
        // test only keeps a file changed since then from making the cast undefined.
        const bool data = st[j] == kData && v[j] >= 0.0 && v[j] <= kMaxDataValue;
        const unsigned char b = data ? static_cast<unsigned char>(v[j]) : fill;
        zeros += data && b == 0;
        bytes[static_cast<std::size_t>(j)] = b;
      }
      out.write_row(bytes.data());
    }
  }
  out.flush();
  return zeros;
}

void write_mask(int rows, int cols, const std::vector<unsigned char>& state, AsciiGridWriter& out) {
  std::vector<unsigned char> bytes(static_cast<std::size_t>(cols));
  for (int row = 0; row < rows; ++row) {
    const unsigned char* st = state.data() + static_cast<std::size_t>(row) * cols;
    for (int j = 0; j < cols; ++j) bytes[static_cast<std::size_t>(j)] = st[j] == kOutside ? 255 : 1;
    out.write_row(bytes.data());
  }
  out.flush();
}

}  // namespace gis
