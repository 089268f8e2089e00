// Rasterising the boundary of the study area onto the layers' grid.
#include "gis/prepare_boundary.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "cpl_string.h"
#include "gdal_alg.h"
#include "gis/common.h"
#include "gis/prepare_read.h"
#include "ogrsf_frmts.h"

namespace gis {

namespace {

bool polygonal(OGRwkbGeometryType type) {
  const OGRwkbGeometryType flat = wkbFlatten(type);
  return OGR_GT_IsSubClassOf(flat, wkbCurvePolygon) || OGR_GT_IsSubClassOf(flat, wkbMultiSurface);
}

// The polygons of the layer in the grid's CRS.
std::vector<std::unique_ptr<OGRGeometry>> polygons_of(OGRLayer& layer, const std::string& path,
                                                      const Grid& grid,
                                                      std::vector<std::string>& warnings) {
  std::unique_ptr<OGRCoordinateTransformation> to_grid;
  const OGRSpatialReference* layer_srs = layer.GetSpatialRef();
  if (layer_srs != nullptr && grid.srs && !layer_srs->IsSame(&*grid.srs)) {
    OGRSpatialReference from(*layer_srs);
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    to_grid.reset(OGRCreateCoordinateTransformation(&from, &*grid.srs));
    if (!to_grid) {
      throw DataError(with_gdal_reason(path, "cannot be reprojected from " + srs_label(from) +
                                                 " to the layers' " + srs_label(grid.srs)));
    }
  } else if (layer_srs == nullptr && grid.srs) {
    warnings.push_back(path + ": has no CRS; its coordinates are taken to be in the layers' " +
                       srs_label(grid.srs));
  }

  std::vector<std::unique_ptr<OGRGeometry>> polygons;
  layer.ResetReading();
  for (OGRFeatureUniquePtr f(layer.GetNextFeature()); f; f.reset(layer.GetNextFeature())) {
    const OGRGeometry* g = f->GetGeometryRef();
    if (g == nullptr || g->IsEmpty()) continue;
    if (!polygonal(g->getGeometryType())) {
      throw DataError(path + ": feature " + std::to_string(f->GetFID()) + " is a " +
                      OGRGeometryTypeToName(g->getGeometryType()) +
                      ", not a polygon: the boundary must be a polygon layer");
    }
    std::unique_ptr<OGRGeometry> p(g->clone());
    if (to_grid && p->transform(to_grid.get()) != OGRERR_NONE) {
      throw DataError(with_gdal_reason(path, "feature " + std::to_string(f->GetFID()) +
                                                 " cannot be reprojected to " +
                                                 srs_label(grid.srs)));
    }
    if (p->hasCurveGeometry()) p.reset(p->getLinearGeometry());
    polygons.push_back(std::move(p));
  }
  if (polygons.empty()) throw DataError(path + ": holds no polygon");
  return polygons;
}

// Georeferenced coordinates to the pixel and line of the whole grid, as GDAL's default
// transformer of a dataset computes them (its inverse geotransform), then the first row of
// the rows rasterised taken from the line: an exact subtraction, so that rows rasterised
// apart get the cells the whole grid gets.
struct RowsTransform {
  double inverse[6] = {};
  double first_row = 0.0;
};

int to_rows(void* arg, int /*dst_to_src*/, int n, double* x, double* y, double* /*z*/, int* ok) {
  const auto* t = static_cast<const RowsTransform*>(arg);
  for (int i = 0; i < n; ++i) {
    const double gx = x[i];
    const double gy = y[i];
    x[i] = t->inverse[0] + gx * t->inverse[1] + gy * t->inverse[2];
    y[i] = t->inverse[3] + gx * t->inverse[4] + gy * t->inverse[5] - t->first_row;
    ok[i] = TRUE;
  }
  return TRUE;
}

}  // namespace

void rasterise_rows(const std::vector<std::unique_ptr<OGRGeometry>>& polygons, const Grid& grid,
                    const std::string& path, int row, int rows, unsigned char* inside,
                    const Progress& progress) {
  std::fill(inside, inside + static_cast<std::size_t>(rows) * grid.cols, 0);
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDatasetUniquePtr target(
      mem != nullptr ? mem->Create("", grid.cols, rows, 0, GDT_Byte, nullptr) : nullptr);
  if (!target) throw DataError(with_gdal_reason(path, "cannot be rasterised"));
  // The band is the caller's own buffer.
  char pointer[64];
  std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p", static_cast<void*>(inside));
  CPLStringList options;
  options.AddString(pointer);
  options.AddString("PIXELOFFSET=1");
  options.AddString(("LINEOFFSET=" + std::to_string(grid.cols)).c_str());
  if (target->AddBand(GDT_Byte, options.List()) != CE_None) {
    throw DataError(with_gdal_reason(path, "cannot be rasterised"));
  }
  RowsTransform transform;
  std::array<double, 6> gt = grid.gt;
  if (!GDALInvGeoTransform(gt.data(), transform.inverse)) {
    throw DataError(path + ": cannot be rasterised (the layers' grid has no inverse)");
  }
  transform.first_row = row;
  std::vector<OGRGeometryH> handles;
  for (const auto& p : polygons) handles.push_back(OGRGeometry::ToHandle(p.get()));
  const std::vector<double> burn(handles.size(), 1.0);
  int band = 1;
  if (GDALRasterizeGeometries(GDALDataset::ToHandle(target.get()), 1, &band,
                              static_cast<int>(handles.size()), handles.data(), to_rows, &transform,
                              burn.data(), nullptr, gdal_progress,
                              const_cast<Progress*>(&progress)) != CE_None) {
    throw DataError(with_gdal_reason(path, "cannot be rasterised"));
  }
}

void raster_boundary_cells(GDALDataset& ds, const std::string& path, const Grid& grid,
                           const std::string& grid_path, bool align, unsigned char* inside,
                           const Progress& progress) {
  const GDALDatasetUniquePtr resampled = bring_onto(ds, path, grid, grid_path, align);
  GDALRasterBand* band = (resampled ? resampled.get() : &ds)->GetRasterBand(1);
  BandReader reader(*band, path);
  for (int row = 0; row < grid.rows; row += reader.block_rows()) {
    const int count = std::min(reader.block_rows(), grid.rows - row);
    reader.read(row, count);
    unsigned char* out = inside + static_cast<std::size_t>(row) * grid.cols;
    const std::size_t n = static_cast<std::size_t>(count) * grid.cols;
    for (std::size_t i = 0; i < n; ++i) out[i] = reader.has_data()[i] && reader.values()[i] != 0.0;
    if (progress) progress(static_cast<double>(row + count) / grid.rows);
  }
}

BoundaryFile read_boundary(const std::string& path, const Grid& grid,
                           std::vector<std::string>& warnings) {
  GDALDatasetUniquePtr ds(
      GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds)
    throw DataError(with_gdal_reason(path, "cannot be opened as a polygon layer or a raster"));
  const int layers = ds->GetLayerCount();
  if (layers > 1) {
    throw DataError(path + ": holds " + std::to_string(layers) +
                    " layers: save the boundary layer alone, for example ogr2ogr boundary.gpkg " +
                    path + " " + ds->GetLayer(0)->GetName());
  }
  BoundaryFile b;
  if (layers == 1) {
    b.polygons = polygons_of(*ds->GetLayer(0), path, grid, warnings);
  } else if (ds->GetRasterCount() >= 1) {
    b.raster = std::move(ds);
  } else {
    throw DataError(path + ": holds neither a polygon layer nor a raster band");
  }
  return b;
}

void boundary_cells(const std::string& path, const Grid& grid, const std::string& grid_path,
                    bool align, std::vector<unsigned char>& inside,
                    std::vector<std::string>& warnings, const Progress& progress) {
  inside.assign(grid.cells(), 0);
  BoundaryFile b = read_boundary(path, grid, warnings);
  if (b.raster) {
    raster_boundary_cells(*b.raster, path, grid, grid_path, align, inside.data(), progress);
  } else {
    rasterise_rows(b.polygons, grid, path, 0, grid.rows, inside.data(), progress);
  }
}

}  // namespace gis
