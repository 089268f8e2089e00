// The union of no-data over the layers and the boundary, the check of the layers' values,
// and the cells of each layer as tessera_summary must read them.
#pragma once

#include <cstdint>
#include <vector>

#include "gis/ascii_writer.h"
#include "gis/prepare_read.h"

namespace gis {

// What each cell of the run is: outside the boundary, inside with data in every layer read
// so far, or inside with no data in at least one of them.
enum CellState : unsigned char { kOutside = 0, kData = 1, kNoData = 2 };

// What the scan of one layer found.
struct LayerScan {
  std::int64_t nodata_cells = 0;  // the layer's no-data cells, over the whole grid
  std::int64_t data_cells = 0;    // its data cells inside the boundary
  double min = 0.0;               // the range of their values
  double max = 0.0;
  std::int64_t bad_cells = 0;  // those that are not whole numbers from 0 to 254
  double first_bad = 0.0;      // the first of them, row by row, and its cell
  int bad_pixel = 0, bad_line = 0;
};

// The highest data value tessera_summary takes: 255 is its no-data.
inline constexpr double kMaxDataValue = 254.0;

// Checks n cells of a layer read by a BandReader, the first of them cell `first_cell` of a grid
// of `cols` columns: marks kNoData in `state` (the same n cells) where a cell inside the
// boundary holds no data, and counts into `scan` its no-data cells and its data cells inside
// the boundary, their range and those that are not whole numbers from 0 to 254, keeping the
// first of these (min and max are the running range: start them at +inf and -inf).
void scan_block(const double* values, const unsigned char* has_data, std::size_t n,
                unsigned char* state, LayerScan& scan, std::int64_t first_cell, int cols);

// Reads a layer of `rows` rows; marks kNoData in `state` (rows x cols cells, 1 byte each)
// where a cell inside the boundary holds no data in this layer, and checks the values of its
// data cells inside the boundary.
LayerScan scan_layer(BandReader& reader, int rows, int cols, std::vector<unsigned char>& state);

// Writes a layer as the run must read it: its values on the kData cells, `fill` on the
// others. Returns the number of kData cells where it holds 0.
std::int64_t write_layer(BandReader& reader, int rows, int cols,
                         const std::vector<unsigned char>& state, unsigned char fill,
                         AsciiGridWriter& out);

// Writes the mask: 1 inside the boundary, 255 outside.
void write_mask(int rows, int cols, const std::vector<unsigned char>& state, AsciiGridWriter& out);

}  // namespace gis
