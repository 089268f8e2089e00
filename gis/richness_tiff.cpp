// Writing a richness layer as a GeoTIFF, in strips of whole tiles, staged beside its name.
#include "gis/richness_tiff.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "cpl_error.h"
#include "cpl_string.h"
#include "gis/common.h"

namespace gis {

namespace {

constexpr int kTile = 256;

// A new, empty file of our own beside `path`: ".NAME.part-PID", with a number added when a
// file of that name exists (left by an earlier run that was killed).
std::string create_temporary(const std::string& path) {
  const std::string base = temporary_beside(path);
  for (int n = 0;; ++n) {
    const std::string name = n == 0 ? base : base + "-" + std::to_string(n);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST || n == 100) {
      throw DataError(path + ": cannot be created (" + std::strerror(errno) + ")");
    }
  }
}

}  // namespace

RichnessTiff::RichnessTiff(std::string path, const Grid& grid, const LayerProcessing& made)
    : path_(std::move(path)),
      tmp_(create_temporary(path_)),
      tmp_side_(tmp_ + ".aux.xml"),
      cols_(grid.cols),
      rows_(grid.rows),
      strip_rows_(std::min(kTile, grid.rows)) {
  try {
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
  } catch (...) {
    ds_.reset();
    ::unlink(tmp_.c_str());
    ::unlink(tmp_side_.c_str());
    throw;
  }
}

RichnessTiff::~RichnessTiff() {
  ds_.reset();
  if (!tmp_.empty()) ::unlink(tmp_.c_str());
  if (!tmp_side_.empty()) ::unlink(tmp_side_.c_str());
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
  if (std::rename(tmp_.c_str(), path_.c_str()) != 0) {
    throw DataError(path_ + ": cannot be written (" + std::strerror(errno) + ")");
  }
  tmp_.clear();
  // GDAL keeps in a side file what the TIFF cannot hold; it goes with the file. Otherwise a
  // side file of the file replaced would describe the new one, and is removed.
  const std::string side = path_ + ".aux.xml";
  const std::string staged_side = tmp_side_;
  tmp_side_.clear();
  if (std::rename(staged_side.c_str(), side.c_str()) != 0) {
    if (errno != ENOENT)
      throw DataError(side + ": cannot be written (" + std::strerror(errno) + ")");
    if (::unlink(side.c_str()) != 0 && errno != ENOENT) {
      throw DataError(side + ": cannot be removed (" + std::strerror(errno) +
                      "): it describes the file that " + path_ + " replaced");
    }
  }
}

}  // namespace gis
