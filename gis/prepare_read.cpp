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

BandReader::BandReader(GDALRasterBand& band, std::string path)
    : band_(band), path_(std::move(path)), cols_(band.GetXSize()) {
  int block_x = 0;
  int block_y = 0;
  band.GetBlockSize(&block_x, &block_y);
  const int wanted = std::max(1, kBlockCells / std::max(cols_, 1));
  block_rows_ = block_y >= 1 && block_y <= wanted ? wanted / block_y * block_y : wanted;
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
  if ((flags & (GMF_ALL_VALID | GMF_NODATA)) == 0) mask_ = band.GetMaskBand();

  const std::size_t n = static_cast<std::size_t>(cols_) * block_rows_;
  values_.resize(n);
  has_data_.resize(n);
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

void BandReader::read(int row, int count) {
  const std::size_t n = static_cast<std::size_t>(cols_) * count;
  if (band_.RasterIO(GF_Read, 0, row, cols_, count, values_.data(), cols_, count, GDT_Float64, 0, 0,
                     nullptr) != CE_None) {
    throw DataError(with_gdal_reason(path_, "cannot be read"));
  }
  double* v = values_.data();
  unsigned char* ok = has_data_.data();
  if (signed_byte_) {
    for (std::size_t i = 0; i < n; ++i) v[i] = v[i] >= 128.0 ? v[i] - 256.0 : v[i];
  }
  // Without a no-data value, nd is NaN, which no value equals; v == v is false for NaN.
  const double nd = has_nodata_ ? nodata_ : std::nan("");
  if (mask_ != nullptr) {
    if (mask_->RasterIO(GF_Read, 0, row, cols_, count, ok, cols_, count, GDT_Byte, 0, 0, nullptr) !=
        CE_None) {
      throw DataError(with_gdal_reason(path_, "its mask cannot be read"));
    }
    for (std::size_t i = 0; i < n; ++i) ok[i] = (ok[i] != 0) & (v[i] == v[i]) & (v[i] != nd);
  } else {
    for (std::size_t i = 0; i < n; ++i) ok[i] = (v[i] == v[i]) & (v[i] != nd);
  }
  if (scale_ == 1.0 && offset_ == 0.0) return;
  // The no-data value is a stored number: the values are scaled after its test. A scaled
  // whole number such as 30 x 0.1 comes out as 3.0000000000000004; such rounding is undone.
  constexpr double kRounding = 1e-9;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = v[i] * scale_ + offset_;
    const double whole = std::nearbyint(x);
    v[i] = std::fabs(x - whole) <= kRounding * std::max(1.0, std::fabs(whole)) ? whole : x;
  }
}

}  // namespace gis
