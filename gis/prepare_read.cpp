// Block reading of a band with its no-data cells.
#include "gis/prepare_read.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "gis/common.h"

namespace gis {

namespace {

constexpr int kBlockCells = 1 << 20;

}  // namespace

BandReader::BandReader(GDALRasterBand& band, std::string path, int rows)
    : band_(band), path_(std::move(path)), cols_(band.GetXSize()) {
  if (rows > 0) {
    block_rows_ = rows;
  } else {
    int block_x = 0;
    int block_y = 0;
    band.GetBlockSize(&block_x, &block_y);
    const int wanted = std::max(1, kBlockCells / std::max(cols_, 1));
    block_rows_ = block_y >= 1 && block_y <= wanted ? wanted / block_y * block_y : wanted;
  }
  block_rows_ = std::min(block_rows_, std::max(band.GetYSize(), 1));

  int ok = 0;
  const GDALDataType type = band.GetRasterDataType();
  if (GDALDataTypeIsComplex(type)) {
    throw DataError(path_ + ": its band 1 is complex (" + GDALGetDataTypeName(type) +
                    "), while tessera_summary needs real values: convert it first, for example "
                    "gdal_translate -ot Float32 " +
                    path_ + " real.tif (which keeps the real part)");
  }
  // GDAL before 3.7 reads a signed byte band as Byte and tells its sign in this item.
  const char* pixel_type = band.GetMetadataItem("PIXELTYPE", "IMAGE_STRUCTURE");
  signed_byte_ = type == GDT_Byte && pixel_type != nullptr && EQUAL(pixel_type, "SIGNEDBYTE");
  int has_scale = 0;
  int has_offset = 0;
  const double scale = band.GetScale(&has_scale);
  const double offset = band.GetOffset(&has_offset);
  if (has_scale != 0) scale_ = scale;
  if (has_offset != 0) offset_ = offset;
#if GDAL_VERSION_NUM >= GDAL_COMPUTE_VERSION(3, 5, 0)
  if (type == GDT_Int64) {
    nodata_ = static_cast<double>(band.GetNoDataValueAsInt64(&ok));
  } else if (type == GDT_UInt64) {
    nodata_ = static_cast<double>(band.GetNoDataValueAsUInt64(&ok));
  } else
#endif
  {
    nodata_ = band.GetNoDataValue(&ok);
  }
  has_nodata_ = ok != 0;
  // A Float32 cell holds the no-data value as rounded to float.
  if (has_nodata_ && type == GDT_Float32) nodata_ = static_cast<float>(nodata_);
  const int flags = band.GetMaskFlags();
  if ((flags & (GMF_ALL_VALID | GMF_NODATA)) == 0) {
    mask_ = band.GetMaskBand();
  } else if (GDALDataset* ds = band.GetDataset(); ds != nullptr) {
    // GDAL takes an alpha band for the mask of Byte and UInt16 bands only. A layer resampled
    // by --align carries one of its own type (GDALWarp's -dstalpha), 0 where its source has
    // no data or does not reach: without it, those cells of an Int16 or Float32 layer would
    // read as data 0.
    for (int b = 1; b <= ds->GetRasterCount(); ++b) {
      GDALRasterBand* other = ds->GetRasterBand(b);
      if (other != &band && other->GetColorInterpretation() == GCI_AlphaBand) mask_ = other;
    }
  }
  plain_bytes_ = type == GDT_Byte && !signed_byte_ && scale_ == 1.0 && offset_ == 0.0;
  cells_ = static_cast<std::size_t>(cols_) * block_rows_;
}

std::int64_t BandReader::bytes_needed(int cols) {
  // A block of rows as doubles and data flags: about kBlockCells cells, one row at least.
  return std::int64_t{9} * std::max<std::int64_t>(kBlockCells, cols);
}

std::string BandReader::scaling() const {
  if (scale_ == 1.0 && offset_ == 0.0) return "";
  return " (with its scale " + exact_decimal(scale_) + " and offset " + exact_decimal(offset_) +
         " applied)";
}

void BandReader::read(int row, int count, int x0, int width) {
  if (width < 0) width = cols_ - x0;
  values_.resize(cells_);
  has_data_.resize(cells_);
  const auto line = static_cast<GSpacing>(cols_);
  double* v0 = values_.data() + x0;
  unsigned char* ok0 = has_data_.data() + x0;
  if (band_.RasterIO(GF_Read, x0, row, width, count, v0, width, count, GDT_Float64, sizeof(double),
                     line * static_cast<GSpacing>(sizeof(double)), nullptr) != CE_None) {
    throw DataError(with_gdal_reason(path_, "cannot be read"));
  }
  if (mask_ != nullptr && mask_->RasterIO(GF_Read, x0, row, width, count, ok0, width, count,
                                          GDT_Byte, 1, line, nullptr) != CE_None) {
    throw DataError(with_gdal_reason(path_, "its mask cannot be read"));
  }
  // The window, row by row (one piece when it spans whole rows).
  const bool whole = x0 == 0 && width == cols_;
  const int pieces = whole ? 1 : count;
  const std::size_t n =
      whole ? static_cast<std::size_t>(cols_) * count : static_cast<std::size_t>(width);
  // Without a no-data value, nd is NaN, which no value equals; v == v is false for NaN.
  const double nd = has_nodata_ ? nodata_ : std::nan("");
  for (int p = 0; p < pieces; ++p) {
    double* v = v0 + static_cast<std::size_t>(p) * cols_;
    unsigned char* ok = ok0 + static_cast<std::size_t>(p) * cols_;
    if (signed_byte_) {
      for (std::size_t i = 0; i < n; ++i) v[i] = v[i] >= 128.0 ? v[i] - 256.0 : v[i];
    }
    if (mask_ != nullptr) {
      for (std::size_t i = 0; i < n; ++i) ok[i] = (ok[i] != 0) & (v[i] == v[i]) & (v[i] != nd);
    } else {
      for (std::size_t i = 0; i < n; ++i) ok[i] = (v[i] == v[i]) & (v[i] != nd);
    }
    if (scale_ == 1.0 && offset_ == 0.0) continue;
    // The no-data value is a stored number: the values are scaled after its test. A scaled
    // whole number such as 30 x 0.1 comes out as 3.0000000000000004; such rounding is undone.
    constexpr double kRounding = 1e-9;
    for (std::size_t i = 0; i < n; ++i) {
      const double x = v[i] * scale_ + offset_;
      const double whole_number = std::nearbyint(x);
      v[i] = std::fabs(x - whole_number) <= kRounding * std::max(1.0, std::fabs(whole_number))
                 ? whole_number
                 : x;
    }
  }
}

int BandReader::nodata_byte() const {
  // A no-data value that no byte can hold (-9999, 0.5, NaN) marks no cell.
  return has_nodata_ && nodata_ >= 0.0 && nodata_ <= 255.0 && nodata_ == std::floor(nodata_)
             ? static_cast<int>(nodata_)
             : -1;
}

void BandReader::read_bytes(int row, int count, unsigned char* out, int x0, int width) {
  if (width < 0) width = cols_ - x0;
  if (out == nullptr) {
    bytes_.resize(cells_);
    out = bytes_.data();
  }
  const auto line = static_cast<GSpacing>(cols_);
  if (band_.RasterIO(GF_Read, x0, row, width, count, out + x0, width, count, GDT_Byte, 1, line,
                     nullptr) != CE_None) {
    throw DataError(with_gdal_reason(path_, "cannot be read"));
  }
  if (mask_ != nullptr) has_data_.resize(cells_);
  if (mask_ != nullptr && mask_->RasterIO(GF_Read, x0, row, width, count, has_data_.data() + x0,
                                          width, count, GDT_Byte, 1, line, nullptr) != CE_None) {
    throw DataError(with_gdal_reason(path_, "its mask cannot be read"));
  }
}

}  // namespace gis
