// The study area of a prepared run: a polygon boundary rasterised on the cell centres of the
// layers' grid, or a raster boundary.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gis/common.h"
#include "gis/prepare_grid.h"

namespace gis {

// Sets `inside` (grid.cells() entries, row 0 first) to 1 for the cells inside the boundary
// and 0 for the others. A polygon layer (the file's only layer) is reprojected to the grid's
// CRS when it differs, and a cell is inside when its centre lies in a polygon. A raster
// boundary is brought onto the grid like a layer (see bring_onto); its cells that hold
// non-zero data are inside. Notes for the user (a CRS assumed) are added to `warnings`.
// `progress` (when set) goes from 0 to 1.
void boundary_cells(const std::string& path, const Grid& grid, const std::string& grid_path,
                    bool align, std::vector<unsigned char>& inside,
                    std::vector<std::string>& warnings, const Progress& progress = {});

// A boundary file as read: its polygons in the grid's CRS (a polygon layer), or the raster
// (a raster boundary). Refuses what boundary_cells refuses in the file itself.
struct BoundaryFile {
  std::vector<std::unique_ptr<OGRGeometry>> polygons;
  GDALDatasetUniquePtr raster;
};
BoundaryFile read_boundary(const std::string& path, const Grid& grid,
                           std::vector<std::string>& warnings);

// Sets `inside` (rows x grid.cols cells) to 1 for the cells of rows [row, row + rows) of the
// grid whose centre lies in one of the polygons, 0 for the others: for any cut into rows,
// the cells that rasterising the whole grid at once gives (GDAL's rasterisation rule).
void rasterise_rows(const std::vector<std::unique_ptr<OGRGeometry>>& polygons, const Grid& grid,
                    const std::string& path, int row, int rows, unsigned char* inside,
                    const Progress& progress = {});

// Sets `inside` (grid.cells() cells) to 1 for the cells where the raster boundary `ds`
// (brought onto the grid like a layer) holds non-zero data, 0 for the others.
void raster_boundary_cells(GDALDataset& ds, const std::string& path, const Grid& grid,
                           const std::string& grid_path, bool align, unsigned char* inside,
                           const Progress& progress = {});

}  // namespace gis
