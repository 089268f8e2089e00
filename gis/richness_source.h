// The classes a richness count reads: a categorical raster's codes or a polygon layer's field
// values as rows of dense class numbers, and the features of a point, line or polygon layer,
// each a class of its own, in the grid's CRS.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gdal_priv.h"
#include "gis/prepare_grid.h"
#include "ogrsf_frmts.h"

namespace gis {

// " (GDAL's message)" after a failure that GDAL reported since CPLErrorReset(), else "".
std::string gdal_says();

// At most this many distinct classes in one source (their counters and their table).
inline constexpr std::uint32_t kMaxClasses = std::uint32_t{1} << 24;

// The classes of a grid, row by row from the top. A class is a number from 1 up, given to
// each distinct code (or field value) in the order it is first met; 0 is "no class": a cell
// without data.
class ClassRows {
 public:
  virtual ~ClassRows() = default;
  // Fills `out` (a row of the grid) with the classes of the next row.
  virtual void next_row(std::uint32_t* out) = 0;
  // One more than the largest class handed out so far.
  virtual std::uint32_t class_limit() const = 0;
};

// The class codes in band 1 of a raster, `path` naming it in messages. A cell holds no class
// where it is the band's no-data value, NaN, or masked (an internal mask, an alpha band).
// Codes are whole numbers of any range; a real value with a fraction (or one beyond the range
// of 64-bit integers) is a DataError naming the cell.
std::unique_ptr<ClassRows> raster_classes(GDALRasterBand& band, const std::string& path);

// A vector source: its only layer, and the transformation of its coordinates into the grid's
// CRS (none when they are the same).
struct VectorLayer {
  OGRLayer* layer = nullptr;
  std::string path;
  std::unique_ptr<OGRCoordinateTransformation> to_grid;
};

// The only layer of `ds`; a DataError naming the layers otherwise.
OGRLayer& only_layer(GDALDataset& ds, const std::string& path);

// The layer with the transformation to `grid`'s CRS. A layer without a CRS is taken to be in
// the grid's CRS, with a warning.
VectorLayer vector_layer(OGRLayer& layer, const std::string& path, const Grid& grid,
                         std::vector<std::string>& warnings);

// A grid of square cells of `cell` over the extent of the layer, from its top-left corner, in
// the layer's CRS. With `touching` (features count in every cell they touch) a feature on the
// extent's right or bottom edge gets a column or row of its own. DataError for a layer
// without features or without a CRS, a geographic CRS, or a grid too large for GDAL.
Grid grid_over_extent(OGRLayer& layer, const std::string& path, double cell, bool touching);

// The polygons of the layer rasterised on cell centres, the value of `field` as the class
// (features where it is unset or null hold none; a warning gives their number). Where
// polygons overlap, the one later in the layer wins, as with gdal_rasterize. A missing field
// and a feature that is not a polygon are DataErrors.
std::unique_ptr<ClassRows> polygon_classes(VectorLayer& source, const std::string& field,
                                           const Grid& grid, std::vector<std::string>& warnings);

// Calls `each` with the geometry of every feature that has one, in the grid's CRS, curves made
// linear; `done` (when set) gets the fraction of the features read.
void for_each_feature(VectorLayer& source, const std::function<void(const OGRGeometry&)>& each,
                      const std::function<void(double)>& done);

}  // namespace gis
