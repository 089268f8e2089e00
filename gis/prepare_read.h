// Reading band 1 of a raster in blocks of rows, with the cells that hold data told apart.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gdal_priv.h"

namespace gis {

// Reads a band in blocks of whole rows: the values as doubles, and for each cell whether it
// holds data. A cell holds no data when its stored number equals the band's no-data value,
// is NaN, or is masked by the band's mask (an internal mask, an alpha band). The values are
// the band's, as GDAL's tools read them: a signed byte band (PIXELTYPE=SIGNEDBYTE) as signed,
// then the band's scale and offset applied (stored x scale + offset), a result within
// rounding of a whole number taken as that number.
class BandReader {
 public:
  // Refuses (DataError naming `path`) a complex band.
  BandReader(GDALRasterBand& band, std::string path);

  // The memory a reader of a band of `cols` columns holds, in bytes.
  static std::int64_t bytes_needed(int cols);

  // " (with its scale S and offset O applied)" when the band has them, else "".
  std::string scaling() const;

  // Rows of a block: about a million cells, whole blocks of the file where they fit.
  int block_rows() const { return block_rows_; }

  // Reads rows [row, row + count), count <= block_rows(); DataError when GDAL fails.
  void read(int row, int count);
  const double* values() const { return values_.data(); }
  const unsigned char* has_data() const { return has_data_.data(); }

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
  std::vector<double> values_;
  std::vector<unsigned char> has_data_;
};

}  // namespace gis
