// Grids of the prepared layers: opening, checks and nearest-neighbour resampling.
#include "gis/prepare_grid.h"

#include <cmath>
#include <initializer_list>
#include <memory>
#include <vector>

#include "cpl_string.h"
#include "gdal_utils.h"
#include "gis/common.h"

namespace gis {

namespace {

// Two coordinates of one grid agree when they differ by less than a millionth of a cell:
// files written by different tools round the same grid differently.
bool near(double a, double b, double cell) {
  return std::fabs(a - b) <= std::fabs(cell) * 1e-6;
}

// The UTM zone of a point in degrees as an EPSG code of WGS 84, or 0 when it lies outside.
int utm_epsg(double lon, double lat) {
  if (!(lon >= -180.0 && lon <= 180.0 && lat >= -80.0 && lat <= 84.0)) return 0;
  const int zone = std::min(60, static_cast<int>(std::floor((lon + 180.0) / 6.0)) + 1);
  return (lat >= 0.0 ? 32600 : 32700) + zone;
}

}  // namespace

GDALDatasetUniquePtr open_raster(const std::string& path) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds) throw DataError(with_gdal_reason(path, "cannot be opened as a raster"));
  if (ds->GetRasterCount() < 1) throw DataError(path + ": holds no raster band");
  return ds;
}

Grid grid_of(GDALDataset& ds) {
  Grid g;
  g.cols = ds.GetRasterXSize();
  g.rows = ds.GetRasterYSize();
  g.georeferenced = ds.GetGeoTransform(g.gt.data()) == CE_None;
  if (!g.georeferenced) g.gt = {0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
  if (const OGRSpatialReference* srs = ds.GetSpatialRef(); srs != nullptr && !srs->IsEmpty()) {
    g.srs.emplace(*srs);
    g.srs->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  }
  return g;
}

std::string srs_label(const std::optional<OGRSpatialReference>& srs) {
  if (!srs) return "no CRS";
  const char* auth = srs->GetAuthorityName(nullptr);
  const char* code = srs->GetAuthorityCode(nullptr);
  if (auth != nullptr && code != nullptr) return std::string(auth) + ":" + code;
  const char* name = srs->GetName();
  return name != nullptr ? std::string("'") + name + "'" : "an unnamed CRS";
}

bool north_up(const Grid& g) {
  return g.gt[2] == 0.0 && g.gt[4] == 0.0 && g.gt[1] > 0.0 && g.gt[5] < 0.0;
}

namespace {

[[noreturn]] void no_georeferencing(const std::string& path) {
  throw DataError(path +
                  ": has no georeferencing (no corner and cell size), while tessera_summary "
                  "places the layers by them: assign them first, for example gdal_edit.py "
                  "-a_ullr ULX ULY LRX LRY -a_srs EPSG:XXXX " +
                  path);
}

}  // namespace

std::string check_run_grid(const Grid& g, const std::string& path) {
  if (!g.georeferenced) no_georeferencing(path);
  if (!north_up(g)) {
    throw DataError(path +
                    ": its grid is rotated or not north-up, while tessera_summary needs rows "
                    "from north to south: warp it first, for example gdalwarp " +
                    path + " north_up.tif");
  }
  const double w = g.gt[1];
  const double h = -g.gt[5];
  if (std::fabs(w - h) > w * 1e-9) {
    throw DataError(path + ": its cells are not square (" + exact_decimal(w) + " by " +
                    exact_decimal(h) +
                    "): resample it to one cell size, for example gdalwarp -tr " +
                    exact_decimal(w) + " " + exact_decimal(w) + " " + path + " square.tif");
  }
  if (g.srs && g.srs->IsGeographic()) {
    const int epsg = utm_epsg(g.gt[0] + g.cols * w / 2, g.gt[3] - g.rows * h / 2);
    throw DataError(
        path + ": its CRS " + srs_label(g.srs) +
        " is geographic, with cells in degrees, while tessera_summary needs square "
        "cells in metres: reproject it to a projected CRS" +
        (epsg != 0 ? ", for example its UTM zone: gdalwarp -t_srs EPSG:" + std::to_string(epsg)
                   : std::string(": gdalwarp -t_srs EPSG:XXXX")) +
        " -r near " + path + " projected.tif");
  }
  if (g.srs && g.srs->IsProjected()) {
    const char* unit = nullptr;
    const double to_metre = g.srs->GetLinearUnits(&unit);
    if (std::fabs(to_metre - 1.0) > 1e-12) {
      return path + ": its CRS measures in " + (unit != nullptr ? unit : "a unit") +
             ", not metres: tessera_summary reports the cell size (" + exact_decimal(w) +
             ") as metres";
    }
  }
  return "";
}

std::string grid_difference(const Grid& g, const Grid& ref) {
  std::string why;
  const auto add = [&why](const std::string& s) { why += (why.empty() ? "" : ", ") + s; };
  const bool same_srs = (!g.srs && !ref.srs) || (g.srs && ref.srs && g.srs->IsSame(&*ref.srs));
  if (!same_srs) add("CRS " + srs_label(g.srs) + " instead of " + srs_label(ref.srs));
  if (g.cols != ref.cols || g.rows != ref.rows) {
    add("size " + std::to_string(g.cols) + " x " + std::to_string(g.rows) + " instead of " +
        std::to_string(ref.cols) + " x " + std::to_string(ref.rows));
  }
  const double cell = ref.gt[1];
  if (!near(g.gt[0], ref.gt[0], cell) || !near(g.gt[3], ref.gt[3], cell)) {
    add("top-left corner (" + exact_decimal(g.gt[0]) + ", " + exact_decimal(g.gt[3]) +
        ") instead of (" + exact_decimal(ref.gt[0]) + ", " + exact_decimal(ref.gt[3]) + ")");
  }
  if (!near(g.gt[1], ref.gt[1], cell * 1e-3) || !near(g.gt[5], ref.gt[5], cell * 1e-3)) {
    add("cell size " + exact_decimal(g.gt[1]) + " by " + exact_decimal(-g.gt[5]) + " instead of " +
        exact_decimal(ref.gt[1]) + " by " + exact_decimal(-ref.gt[5]));
  }
  return why;
}

GDALDatasetUniquePtr resample_onto(GDALDataset& src, const Grid& src_grid, const Grid& grid,
                                   const std::string& path) {
  if (!src_grid.srs || !grid.srs) {
    const std::string which = !src_grid.srs ? path : "the first layer";
    throw DataError(path + ": cannot be resampled onto the first layer's grid, as " + which +
                    " has no CRS: assign it its CRS first, for example gdal_edit.py -a_srs "
                    "EPSG:XXXX FILE");
  }
  char* wkt = nullptr;
  grid.srs->exportToWkt(&wkt);
  const std::string srs_wkt = wkt != nullptr ? wkt : "";
  CPLFree(wkt);
  const double x1 = grid.gt[0] + grid.cols * grid.gt[1];
  const double y0 = grid.gt[3] + grid.rows * grid.gt[5];
  // Nearest neighbour at full resolution (no overviews), onto exactly the grid's extent and
  // size, with an alpha band that masks what the source does not cover or covers with
  // no-data.
  CPLStringList argv;
  const auto add = [&argv](std::initializer_list<std::string> args) {
    for (const std::string& a : args) argv.AddString(a.c_str());
  };
  add({"-of", "VRT", "-r", "near", "-ovr", "NONE", "-dstalpha", "-t_srs", srs_wkt});
  add({"-te", exact_decimal(grid.gt[0]), exact_decimal(y0), exact_decimal(x1),
       exact_decimal(grid.gt[3])});
  add({"-ts", std::to_string(grid.cols), std::to_string(grid.rows)});
  std::unique_ptr<GDALWarpAppOptions, decltype(&GDALWarpAppOptionsFree)> options(
      GDALWarpAppOptionsNew(argv.List(), nullptr), GDALWarpAppOptionsFree);
  if (!options) throw DataError(with_gdal_reason(path, "cannot be resampled"));
  GDALDatasetH source = GDALDataset::ToHandle(&src);
  int usage_error = 0;
  GDALDatasetH out = GDALWarp("", nullptr, 1, &source, options.get(), &usage_error);
  if (out == nullptr) throw DataError(with_gdal_reason(path, "cannot be resampled"));
  return GDALDatasetUniquePtr(GDALDataset::FromHandle(out));
}

GDALDatasetUniquePtr bring_onto(GDALDataset& source, const std::string& path, const Grid& grid,
                                const std::string& grid_path, bool align) {
  const Grid g = grid_of(source);
  if (!g.georeferenced) no_georeferencing(path);
  const std::string why = north_up(g) ? grid_difference(g, grid) : "rotated or not north-up";
  if (why.empty()) return nullptr;
  if (!align) {
    throw DataError(path + ": its grid differs from that of " + grid_path + " (" + why +
                    "): add --align to resample it onto that grid by nearest neighbour");
  }
  return resample_onto(source, g, grid, path);
}

}  // namespace gis
