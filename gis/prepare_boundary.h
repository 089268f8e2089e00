// The study area of a prepared run: a polygon boundary rasterised on the cell centres of the
// layers' grid, or a raster boundary.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gis/prepare_grid.h"

namespace gis {

// Sets `inside` (grid.cells() entries, row 0 first) to 1 for the cells inside the boundary
// and 0 for the others. A polygon layer (the file's only layer) is reprojected to the grid's
// CRS when it differs, and a cell is inside when its centre lies in a polygon. A raster
// boundary is brought onto the grid like a layer (see bring_onto); its cells that hold
// non-zero data are inside. Notes for the user (a CRS assumed) are added to `warnings`.
void boundary_cells(const std::string& path, const Grid& grid, const std::string& grid_path,
                    bool align, std::vector<unsigned char>& inside,
                    std::vector<std::string>& warnings);

// The polygons of a polygon boundary in the grid's CRS (the outline a map draws, the shape
// that clips mesh cells); empty for a raster boundary. Notes are added to `warnings`.
std::vector<std::unique_ptr<OGRGeometry>> boundary_polygons(const std::string& path,
                                                            const Grid& grid,
                                                            std::vector<std::string>& warnings);

}  // namespace gis
