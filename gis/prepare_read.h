// Reading band 1 of a raster in blocks of rows, with the cells that hold data told apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gdal_priv.h"

namespace gis {

// Reads a band in blocks of whole rows: the values as doubles, and for each cell whether it
// holds data. A cell holds no data when its stored number equals the band's no-data value,
// is NaN, or is masked by the band's mask (an internal mask, an alpha band of any type). The values
// are the band's, as GDAL's tools read them: a signed byte band (PIXELTYPE=SIGNEDBYTE) as signed,
// then the band's scale and offset applied (stored x scale + offset), a result within
// rounding of a whole number taken as that number.
class BandReader {
 public:
  // Refuses (DataError naming `path`) a complex band. `rows` > 0 sets the rows of a block
  // (block_rows()); by default a block holds about a million cells.
  BandReader(GDALRasterBand& band, std::string path, int rows = 0);

  // The memory a reader of a band of `cols` columns holds, in bytes.
  static std::int64_t bytes_needed(int cols);

  // " (with its scale S and offset O applied)" when the band has them, else "".
  std::string scaling() const;

  // Rows of a block: about a million cells, whole blocks of the file where they fit.
  int block_rows() const { return block_rows_; }

  // Reads rows [row, row + count), count <= block_rows(), or only their columns
  // [x0, x0 + width) (width -1: to the last), at their place in the rows of values() and
  // has_data(); DataError when GDAL fails.
  void read(int row, int count, int x0 = 0, int width = -1);
  const double* values() const { return values_.data(); }
  const unsigned char* has_data() const { return has_data_.data(); }

  // Whether the band's values are its stored bytes: an unsigned Byte band without scale or
  // offset. read_bytes then reads them as they are, without the conversion to doubles.
  bool plain_bytes() const { return plain_bytes_; }
  // For a plain_bytes() band: the byte that marks no data (its no-data value), or -1 when no
  // byte does; and whether a mask tells the cells without data too.
  int nodata_byte() const;
  bool masked() const { return mask_ != nullptr; }
  // Reads rows (or columns of them) as read does, for a plain_bytes() band: the values into
  // `out` (count x the band's columns), or into bytes() when `out` is null, and for a
  // masked() band the mask into has_data(). A cell holds data when the mask (if any) says so
  // and its byte is not nodata_byte().
  void read_bytes(int row, int count, unsigned char* out = nullptr, int x0 = 0, int width = -1);
  const unsigned char* bytes() const { return bytes_.data(); }

 private:
  GDALRasterBand& band_;
  std::string path_;
  int cols_;
  int block_rows_;
  bool has_nodata_ = false;
  double nodata_ = 0.0;
  bool signed_byte_ = false;
  double scale_ = 1.0;
  double offset_ = 0.0;
  GDALRasterBand* mask_ = nullptr;  // read only when the band has a real mask
  bool plain_bytes_ = false;
  std::size_t cells_ = 0;  // of a block
  // Allocated by the first reading that needs them.
  std::vector<double> values_;
  std::vector<unsigned char> bytes_;
  std::vector<unsigned char> has_data_;
};

}  // namespace gis
