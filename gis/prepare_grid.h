// The grid that every prepared layer shares: opening a raster, telling whether it lies on
// the grid, refusing grids tessera_summary cannot use, and resampling onto the grid.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "gdal_priv.h"
#include "ogr_spatialref.h"

namespace gis {

// Size, georeferencing and coordinate reference system of a raster.
struct Grid {
  int cols = 0;
  int rows = 0;
  std::array<double, 6> gt{};              // GDAL's geotransform
  bool georeferenced = false;              // false: the file has none (gt is GDAL's default)
  std::optional<OGRSpatialReference> srs;  // none when the file carries no CRS

  std::size_t cells() const { return static_cast<std::size_t>(cols) * rows; }
  double cell_size() const { return gt[1]; }
  double xll() const { return gt[0]; }
  double yll() const { return gt[3] + rows * gt[5]; }
};

// Opens a raster read-only; DataError naming the file when GDAL cannot open it as one or it
// holds no band.
GDALDatasetUniquePtr open_raster(const std::string& path);

// The grid of a dataset (a dataset without georeferencing gets GDAL's default one).
Grid grid_of(GDALDataset& ds);

// "EPSG:25830", or the CRS's name when it has no authority code, or "no CRS".
std::string srs_label(const std::optional<OGRSpatialReference>& srs);

// Refuses a grid that cannot carry a run: without georeferencing, rotated or not north-up,
// cells that are not square, a geographic CRS in degrees. Returns a warning ("" for none) for a CRS
// whose unit is not the metre.
std::string check_run_grid(const Grid& grid, const std::string& path);

// Whether the grid's rows run west to east and north to south, without rotation.
bool north_up(const Grid& grid);

// How `g` differs from `ref` ("" when it lies on it): CRS, size, origin, cell size.
std::string grid_difference(const Grid& g, const Grid& ref);

// A virtual dataset of `src` resampled onto `grid` by nearest neighbour at full
// resolution; cells that `src` does not cover, or covers with no-data, are masked.
GDALDatasetUniquePtr resample_onto(GDALDataset& src, const Grid& src_grid, const Grid& grid,
                                   const std::string& path);

// Brings a raster onto `grid` (the grid of the file `grid_path`): null when `source` lies on
// it already, a resampled dataset when it does not and `align` is set; otherwise refuses it
// with what differs and the advice to add --align.
GDALDatasetUniquePtr bring_onto(GDALDataset& source, const std::string& path, const Grid& grid,
                                const std::string& grid_path, bool align);

}  // namespace gis
