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

namespace {

// The loop of scan_bytes, with or without a mask. Without branches, so that the compiler
// vectorises it: the smallest value is looked for among the data cells (the others count as
// 255), the largest likewise (the others as 0), and the counts are kept in 32 bits for
// pieces of 2^16 cells.
template <bool kMasked>
void scan_bytes_loop(const unsigned char* v, const unsigned char* has, int nodata, std::size_t n,
                     unsigned char* st, LayerScan& s) {
  static_assert(kNoData == kData + 1, "a data cell becomes a no-data cell by adding 1");
  const auto nd = static_cast<unsigned char>(nodata < 0 ? 0 : nodata);
  const unsigned char any = nodata < 0 ? 1 : 0;  // 1: no byte marks no data
  std::int64_t nodata_cells = 0, data = 0, bad = 0;
  unsigned char lo = 255, hi = 0;
  for (std::size_t from = 0; from < n; from += 65536) {
    const std::size_t to = std::min(n, from + 65536);
    std::uint32_t nodata32 = 0, data32 = 0, bad32 = 0;
    for (std::size_t i = from; i < to; ++i) {
      const unsigned char x = v[i];
      unsigned char h = (x != nd) | any;
      if constexpr (kMasked) h &= has[i] != 0;
      const unsigned char c = st[i];
      st[i] = static_cast<unsigned char>(c + ((h ^ 1) & (c == kData)));
      const unsigned char d = h & (c != kOutside);
      const auto mask = static_cast<unsigned char>(-d);  // 255 for a data cell, else 0
      lo = std::min(lo, static_cast<unsigned char>(x | static_cast<unsigned char>(~mask)));
      hi = std::max(hi, static_cast<unsigned char>(x & mask));
      nodata32 += h ^ 1;
      data32 += d;
      bad32 += d & (x == 255);
    }
    nodata_cells += nodata32;
    data += data32;
    bad += bad32;
  }
  s.nodata_cells += nodata_cells;
  if (data == 0) return;
  s.data_cells += data;
  s.min = std::min(s.min, static_cast<double>(lo));
  s.max = std::max(s.max, static_cast<double>(hi));
  s.bad_cells += bad;
}

}  // namespace

void scan_bytes(const unsigned char* v, const unsigned char* has, int nodata, std::size_t n,
                unsigned char* st, LayerScan& s, std::int64_t first_cell, int cols) {
  const std::int64_t bad_before = s.bad_cells;
  if (has != nullptr) {
    scan_bytes_loop<true>(v, has, nodata, n, st, s);
  } else {
    scan_bytes_loop<false>(v, has, nodata, n, st, s);
  }
  if (bad_before > 0 || s.bad_cells == 0) return;
  // The first value 255 of a data cell inside the boundary (only a band whose no-data value
  // is not 255 can hold one).
  for (std::size_t i = 0; i < n; ++i) {
    if (v[i] == 255 && nodata != 255 && (has == nullptr || has[i] != 0) && st[i] != kOutside) {
      const std::int64_t cell = first_cell + static_cast<std::int64_t>(i);
      s.first_bad = 255.0;
      s.bad_line = static_cast<int>(cell / cols);
      s.bad_pixel = static_cast<int>(cell % cols);
      break;
    }
  }
}

LayerScan scan_layer(BandReader& reader, int rows, int cols, std::vector<unsigned char>& state,
                     const Progress& progress) {
  LayerScan s;
  s.min = std::numeric_limits<double>::infinity();
  s.max = -s.min;
  for (int row = 0; row < rows; row += reader.block_rows()) {
    const int count = std::min(reader.block_rows(), rows - row);
    reader.read(row, count);
    scan_block(reader.values(), reader.has_data(), static_cast<std::size_t>(count) * cols,
               state.data() + static_cast<std::size_t>(row) * cols, s,
               static_cast<std::int64_t>(row) * cols, cols);
    if (progress) progress(static_cast<double>(row + count) / rows);
  }
  if (s.data_cells == 0) s.min = s.max = 0.0;
  return s;
}

std::int64_t write_layer(BandReader& reader, int rows, int cols,
                         const std::vector<unsigned char>& state, unsigned char fill,
                         AsciiGridWriter& out, const Progress& progress) {
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
    if (progress) progress(static_cast<double>(row + count) / rows);
  }
  out.flush();
  return zeros;
}

void write_mask(int rows, int cols, const std::vector<unsigned char>& state, AsciiGridWriter& out,
                const Progress& progress) {
  std::vector<unsigned char> bytes(static_cast<std::size_t>(cols));
  for (int row = 0; row < rows; ++row) {
    const unsigned char* st = state.data() + static_cast<std::size_t>(row) * cols;
    for (int j = 0; j < cols; ++j) bytes[static_cast<std::size_t>(j)] = st[j] == kOutside ? 255 : 1;
    out.write_row(bytes.data());
    if (progress) progress(static_cast<double>(row + 1) / rows);
  }
  out.flush();
}

}  // namespace gis
