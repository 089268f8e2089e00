// Writing a richness layer as a GeoTIFF, in strips of whole tiles, staged beside its name.
#include "gis/richness_tiff.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "cpl_error.h"
#include "cpl_string.h"
#include "gis/common.h"
#include "nrutil/files.h"

namespace gis {

namespace {

constexpr int kTile = 256;

std::string parent_of(const std::string& path) {
  const std::filesystem::path p(path);
  return p.has_parent_path() ? p.parent_path().string() : ".";
}

}  // namespace

RichnessTiff::RichnessTiff(std::string path, const Grid& grid, const LayerProcessing& made)
    : path_(std::move(path)),
      cols_(grid.cols),
      rows_(grid.rows),
      strip_rows_(std::min(kTile, grid.rows)) {
  if (!staging_.make(parent_of(path_))) {
    throw DataError(path_ + ": cannot be created (" + std::strerror(errno) + ")");
  }
  tmp_ = staging_.file(std::filesystem::path(path_).filename().string());
  tmp_side_ = tmp_ + ".aux.xml";
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (gtiff == nullptr) fail("GDAL has no GTiff driver");
  CPLStringList options;
  options.SetNameValue("TILED", "YES");
  options.SetNameValue("BLOCKXSIZE", std::to_string(kTile).c_str());
  options.SetNameValue("BLOCKYSIZE", std::to_string(kTile).c_str());
  options.SetNameValue("COMPRESS", "DEFLATE");
  options.SetNameValue("BIGTIFF", "IF_SAFER");
  CPLErrorReset();
  ds_.reset(gtiff->Create(tmp_.c_str(), cols_, rows_, 1, GDT_Byte, options.List()));
  if (!ds_) fail("cannot be created");
  std::array<double, 6> gt = grid.gt;
  GDALRasterBand* band = ds_->GetRasterBand(1);
  if (ds_->SetGeoTransform(gt.data()) != CE_None ||
      (grid.srs && ds_->SetSpatialRef(&*grid.srs) != CE_None) ||
      band->SetNoDataValue(255) != CE_None || !write_layer_processing(*ds_, made)) {
    fail("cannot be written");
  }
  band->SetDescription("richness");
  strip_.assign(static_cast<std::size_t>(cols_) * strip_rows_, 255);
}

RichnessTiff::~RichnessTiff() {
  ds_.reset();  // closed before the staging folder and what it holds are removed
}

void RichnessTiff::fail(const std::string& what) {
  std::string text = path_ + ": " + what;
  if (CPLGetLastErrorType() >= CE_Failure && CPLGetLastErrorMsg()[0] != '\0') {
    text += std::string(" (") + CPLGetLastErrorMsg() + ")";
  }
  throw DataError(text);
}

void RichnessTiff::write_strip() {
  const int count = next_ - strip_first_;
  if (count == 0) return;
  CPLErrorReset();
  if (ds_->GetRasterBand(1)->RasterIO(GF_Write, 0, strip_first_, cols_, count, strip_.data(), cols_,
                                      count, GDT_Byte, 0, 0, nullptr) != CE_None) {
    fail("cannot be written");
  }
  // The strip's tiles are complete: compress and write them now rather than hold them in
  // GDAL's block cache.
  ds_->FlushCache(false);
  if (CPLGetLastErrorType() >= CE_Failure) fail("cannot be written");
  strip_first_ = next_;
}

unsigned char* RichnessTiff::next_row() {
  if (next_ >= rows_) throw std::logic_error("RichnessTiff: more rows than the grid has");
  if (next_ - strip_first_ == strip_rows_) write_strip();
  unsigned char* row = strip_.data() + static_cast<std::size_t>(next_ - strip_first_) * cols_;
  ++next_;
  return row;
}

void RichnessTiff::commit() {
  if (!ds_ || next_ != rows_) throw std::logic_error("RichnessTiff: commit of an incomplete file");
  write_strip();
  CPLErrorReset();
  ds_.reset();  // closes the file: the last tiles and the directory are written here
  if (CPLGetLastErrorType() >= CE_Failure) fail("cannot be written");
  if (!nrutil::move_into_place(tmp_, path_)) {
    throw DataError(path_ + ": cannot be written (" + std::strerror(errno) + ")");
  }
  // GDAL keeps in a side file what the TIFF cannot hold; it goes with the file. Otherwise a
  // side file of the file replaced would describe the new one, and is removed.
  const std::string side = path_ + ".aux.xml";
  if (nrutil::is_regular_file(tmp_side_)) {
    if (!nrutil::move_into_place(tmp_side_, side)) {
      throw DataError(side + ": cannot be written (" + std::strerror(errno) + ")");
    }
  } else if (::unlink(side.c_str()) != 0 && errno != ENOENT) {
    throw DataError(side + ": cannot be removed (" + std::strerror(errno) +
                    "): it describes the file that " + path_ + " replaced");
  }
}

}  // namespace gis
