// Rasterising the boundary of the study area onto the layers' grid.
#include "gis/prepare_boundary.h"

#include <algorithm>
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

// Burns 1 into `inside` on the cells whose centre lies in one of the polygons.
void rasterise(const std::vector<std::unique_ptr<OGRGeometry>>& polygons, const Grid& grid,
               const std::string& path, std::vector<unsigned char>& inside) {
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDatasetUniquePtr target(
      mem != nullptr ? mem->Create("", grid.cols, grid.rows, 0, GDT_Byte, nullptr) : nullptr);
  if (!target) throw DataError(with_gdal_reason(path, "cannot be rasterised"));
  // The band is the caller's own buffer.
  char pointer[64];
  std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p", static_cast<void*>(inside.data()));
  CPLStringList options;
  options.AddString(pointer);
  options.AddString("PIXELOFFSET=1");
  options.AddString(("LINEOFFSET=" + std::to_string(grid.cols)).c_str());
  std::array<double, 6> gt = grid.gt;
  if (target->AddBand(GDT_Byte, options.List()) != CE_None ||
      target->SetGeoTransform(gt.data()) != CE_None) {
    throw DataError(with_gdal_reason(path, "cannot be rasterised"));
  }
  std::vector<OGRGeometryH> handles;
  for (const auto& p : polygons) handles.push_back(OGRGeometry::ToHandle(p.get()));
  const std::vector<double> burn(handles.size(), 1.0);
  int band = 1;
  if (GDALRasterizeGeometries(GDALDataset::ToHandle(target.get()), 1, &band,
                              static_cast<int>(handles.size()), handles.data(), nullptr, nullptr,
                              burn.data(), nullptr, nullptr, nullptr) != CE_None) {
    throw DataError(with_gdal_reason(path, "cannot be rasterised"));
  }
}

// A raster boundary: non-zero data inside.
void raster_cells(GDALDataset& ds, const std::string& path, const Grid& grid,
                  const std::string& grid_path, bool align, std::vector<unsigned char>& inside) {
  const GDALDatasetUniquePtr resampled = bring_onto(ds, path, grid, grid_path, align);
  GDALRasterBand* band = (resampled ? resampled.get() : &ds)->GetRasterBand(1);
  BandReader reader(*band, path);
  for (int row = 0; row < grid.rows; row += reader.block_rows()) {
    const int count = std::min(reader.block_rows(), grid.rows - row);
    reader.read(row, count);
    unsigned char* out = inside.data() + static_cast<std::size_t>(row) * grid.cols;
    const std::size_t n = static_cast<std::size_t>(count) * grid.cols;
    for (std::size_t i = 0; i < n; ++i) out[i] = reader.has_data()[i] && reader.values()[i] != 0.0;
  }
}

}  // namespace

void boundary_cells(const std::string& path, const Grid& grid, const std::string& grid_path,
                    bool align, std::vector<unsigned char>& inside,
                    std::vector<std::string>& warnings) {
  inside.assign(grid.cells(), 0);
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
  if (layers == 1) {
    rasterise(polygons_of(*ds->GetLayer(0), path, grid, warnings), grid, path, inside);
  } else if (ds->GetRasterCount() >= 1) {
    raster_cells(*ds, path, grid, grid_path, align, inside);
  } else {
    throw DataError(path + ": holds neither a polygon layer nor a raster band");
  }
}

std::vector<std::unique_ptr<OGRGeometry>> boundary_polygons(const std::string& path,
                                                            const Grid& grid,
                                                            std::vector<std::string>& warnings) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
  if (!ds || ds->GetLayerCount() != 1) return {};
  return polygons_of(*ds->GetLayer(0), path, grid, warnings);
}

}  // namespace gis
