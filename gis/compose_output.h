// The outputs of `tessera_gis compose`: what a finished composite holds, and the writers of
// its GeoTIFF, QGIS style, run record, level table, mesh GeoPackage and report page. Each
// writes into the staging folder; compose moves them into place together.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/classes.h"
#include "gis/compose.h"
#include "gis/compose_read.h"
#include "gis/export_style.h"
#include "gis/prepare_grid.h"

class OGRGeometry;

namespace gis {

// A finished composite: the choices, the grid, the levels and the cells of each kind.
struct Composite {
  const ComposeOptions* options = nullptr;
  std::string name;   // NAME
  std::string title;  // of the report and the GeoTIFF
  const Grid* grid = nullptr;
  std::vector<ComposeLayer>* layers = nullptr;
  core::Levels levels;
  double min_sum = 0.0, max_sum = 0.0;  // of the valid cells
  std::array<std::int64_t, 256> level_cells{};
  std::int64_t with_level = 0, outside = 0, no_data = 0, below = 0;
  std::optional<ComposeProcessing> processing;
  std::optional<int> epsg;
  std::string crs_name;  // "" without a CRS
  std::string unit;      // of the CRS's lengths ("metre", ...), "" when unknown
  double unit_metres = 1.0;
  std::string date;  // ISO 8601, UTC
  std::array<Rgba, 256> colours{};
  std::vector<std::string> outputs;  // file names, as written in the record

  double cell_area() const { return grid->cell_size() * grid->cell_size(); }
  // "level 3: 5.1 – 7.65"
  std::string level_label(int k) const;
  // A bound in its shortest exact form.
  static std::string exact(double v);
};

// The GeoTIFF, written block by block: band 1 the level (1..N, 0 no level and the no-data
// value), band 2 the cell state (ComposeCell), a colour table and category names.
class TiffWriter {
 public:
  TiffWriter(const std::string& staged, const std::string& final_name, const Composite& c);
  ~TiffWriter();
  TiffWriter(const TiffWriter&) = delete;
  TiffWriter& operator=(const TiffWriter&) = delete;
  void write(int row, int rows, const unsigned char* level, const unsigned char* state);
  // The colours, names and statistics (over the level cells), then the close, checked.
  void finish(const Composite& c);

 private:
  std::string final_;
  GDALDataset* ds_ = nullptr;
  int cols_ = 0;
};

// The QGIS style of NAME.tif: a paletted renderer of the levels 1..N with their labels.
std::string qml_text(const Composite& c);

// NAME_run.json and NAME_levels.csv.
std::string compose_record(const Composite& c);
std::string levels_csv(const Composite& c);

// The mesh cells of a square cell mesh as they are streamed, row by row, into a GeoPackage:
// a polygon per mesh cell that holds a cell with a level (clipped to the boundary's
// polygons where the mesh cell reaches outside it) and a point on the centre of a cell of it.
class MeshWriter {
 public:
  MeshWriter(const std::string& staged, const std::string& final_name, const Composite& c,
             int range, const std::vector<std::unique_ptr<OGRGeometry>>& boundary);
  ~MeshWriter();
  MeshWriter(const MeshWriter&) = delete;
  MeshWriter& operator=(const MeshWriter&) = delete;
  // Rows [row, row + rows) of the level band and the cell states, in order.
  void add(int row, int rows, const unsigned char* level, const unsigned char* state);
  void finish();
  std::int64_t mesh_cells() const { return written_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::int64_t written_ = 0;
};

// The map of the report page: every f-th cell of every f-th row, as level codes (1..N),
// 254 outside, 255 no data, 253 a sum below the levels.
struct ReportMap {
  int factor = 1;
  int cols = 0, rows = 0;
  std::vector<unsigned char> cells;
  void setup(int grid_cols, int grid_rows);
  void add(int row, int rows, int grid_cols, const unsigned char* level,
           const unsigned char* state);
};

// The report's default title, "Composite diversity index: NAME" in the language `lang`.
std::string compose_default_title(const std::string& lang, const std::string& name);

// NAME_report.html, in the language of --lang.
std::string compose_report(const Composite& c, const ReportMap& map,
                           const std::vector<std::unique_ptr<OGRGeometry>>& boundary);

}  // namespace gis
