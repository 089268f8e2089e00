// The GeoTIFF of a richness layer, written row by row into a temporary file beside its name
// and renamed into place once complete.
#pragma once

#include <string>
#include <vector>

#include "gdal_priv.h"
#include "gis/layer_metadata.h"
#include "gis/prepare_grid.h"
#include "nrutil/files.h"

namespace gis {

// A Byte GeoTIFF (DEFLATE, tiled, no-data 255) on `grid`, in its CRS, with the metadata of
// `made`. Rows are handed out in order and written in strips of whole tiles, so the file is
// never held whole. Until commit() GDAL writes it into a private staging folder beside
// `path`, which the destructor removes; every failure is a DataError naming `path`.
class RichnessTiff {
 public:
  RichnessTiff(std::string path, const Grid& grid, const LayerProcessing& made);
  RichnessTiff(const RichnessTiff&) = delete;
  RichnessTiff& operator=(const RichnessTiff&) = delete;
  ~RichnessTiff();

  // The buffer of the next row (grid.cols bytes), to be filled completely before the next
  // call or commit().
  unsigned char* next_row();
  // Writes what is left, closes the file (checked) and renames it to `path`. A side file
  // path.aux.xml left by an earlier file of that name is replaced or removed, as GDAL does
  // when it replaces a dataset.
  void commit();

 private:
  [[noreturn]] void fail(const std::string& what);
  void write_strip();

  std::string path_;
  nrutil::StagingDir staging_;
  std::string tmp_;       // the file in the staging folder
  std::string tmp_side_;  // GDAL's side file of it, should it write one
  int cols_;
  int rows_;
  int strip_rows_;
  int next_ = 0;         // rows handed out
  int strip_first_ = 0;  // first row of the strip in the buffer
  std::vector<unsigned char> strip_;
  GDALDatasetUniquePtr ds_;
};

}  // namespace gis
