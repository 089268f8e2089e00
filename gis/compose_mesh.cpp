// The mesh cells of a composite made on a square cell mesh, streamed into a GeoPackage.
#include <algorithm>
#include <limits>
#include <optional>

#include "gis/compose_output.h"
#include "ogrsf_frmts.h"

namespace gis {

namespace {

// One mesh cell of the current mesh row, as its rows come.
struct MeshCell {
  std::int64_t valid = 0;
  std::int64_t outside = 0;
  std::vector<std::int64_t> per_level;
  double best = std::numeric_limits<double>::infinity();  // squared distance to the centre
  int best_row = 0, best_col = 0;
};

// The polygons of a clipped mesh cell: a polygon or multipolygon as it is; from a collection
// (the square meets a boundary edge along one of its sides, which adds that stretch of side as
// a line), its polygons alone. Null when it holds none. The layer declares multipolygons, so
// every cell is written as one (a GeoPackage layer holds one geometry type).
std::unique_ptr<OGRGeometry> polygons_of(std::unique_ptr<OGRGeometry> shape) {
  const OGRwkbGeometryType flat = wkbFlatten(shape->getGeometryType());
  if (flat == wkbPolygon || flat == wkbMultiPolygon) {
    if (shape->IsEmpty()) return nullptr;
    return shape;
  }
  if (!OGR_GT_IsSubClassOf(flat, wkbGeometryCollection)) return nullptr;
  auto polygons = std::make_unique<OGRMultiPolygon>();
  for (const OGRGeometry* part : *shape->toGeometryCollection()) {
    const OGRwkbGeometryType type = wkbFlatten(part->getGeometryType());
    if (type == wkbPolygon) {
      polygons->addGeometry(part);
    } else if (type == wkbMultiPolygon) {
      for (const OGRPolygon* p : *part->toMultiPolygon()) polygons->addGeometry(p);
    }
  }
  if (polygons->IsEmpty()) return nullptr;
  if (polygons->getNumGeometries() == 1) {
    return std::unique_ptr<OGRGeometry>(polygons->getGeometryRef(0)->clone());
  }
  return polygons;
}

}  // namespace

struct MeshWriter::Impl {
  std::string final_name;
  const Composite* c = nullptr;
  int side = 0;  // 2R + 1 cells
  GDALDatasetUniquePtr ds;
  OGRLayer* cells = nullptr;
  OGRLayer* centres = nullptr;
  std::unique_ptr<OGRGeometry> boundary;  // the union of the boundary's polygons, or null
  OGRPreparedGeometryUniquePtr prepared;  // the same, prepared for fast tests
  std::vector<MeshCell> row_cells;
  int mesh_row = 0;
  std::int64_t in_transaction = 0;

  void flush(std::int64_t& written);
  OGRLayer* make_layer(const char* name, OGRwkbGeometryType type) {
    std::optional<OGRSpatialReference> srs = c->grid->srs;
    OGRLayer* layer = ds->CreateLayer(name, srs ? &*srs : nullptr, type, nullptr);
    if (layer == nullptr) write_failed(final_name);
    for (const char* field : {"row", "column", "level"}) {
      OGRFieldDefn f(field, OFTInteger);
      if (layer->CreateField(&f) != OGRERR_NONE) write_failed(final_name);
    }
    OGRFieldDefn v("valid_cells", OFTInteger64);
    if (layer->CreateField(&v) != OGRERR_NONE) write_failed(final_name);
    return layer;
  }
};

MeshWriter::MeshWriter(const std::string& staged, const std::string& final_name, const Composite& c,
                       int range, const std::vector<std::unique_ptr<OGRGeometry>>& boundary)
    : impl_(std::make_unique<Impl>()) {
  Impl& m = *impl_;
  m.final_name = final_name;
  m.c = &c;
  m.side = 2 * range + 1;
  GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GPKG");
  if (drv == nullptr) throw DataError(final_name + ": GDAL has no GeoPackage driver");
  CPLErrorReset();
  m.ds.reset(drv->Create(staged.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
  if (!m.ds) write_failed(final_name);
  m.cells = m.make_layer("cells", wkbMultiPolygon);
  m.centres = m.make_layer("centres", wkbPoint);
  if (!boundary.empty()) {
    auto all = std::make_unique<OGRGeometryCollection>();
    for (const auto& p : boundary) all->addGeometry(p.get());
    m.boundary.reset(all->UnionCascaded());
    if (!m.boundary) m.boundary = std::move(all);
    m.prepared.reset(OGRCreatePreparedGeometry(OGRGeometry::ToHandle(m.boundary.get())));
  }
  const int mesh_cols = (c.grid->cols + m.side - 1) / m.side;
  m.row_cells.resize(static_cast<std::size_t>(mesh_cols));
  for (MeshCell& cell : m.row_cells)
    cell.per_level.assign(static_cast<std::size_t>(c.levels.count) + 1, 0);
  if (m.ds->StartTransaction() != OGRERR_NONE) write_failed(final_name);
}

MeshWriter::~MeshWriter() = default;

void MeshWriter::Impl::flush(std::int64_t& written) {
  const Grid& g = *c->grid;
  const double cell = g.cell_size();
  const int r0 = mesh_row * side;
  const int r1 = std::min(r0 + side, g.rows);
  for (std::size_t mc = 0; mc < row_cells.size(); ++mc) {
    MeshCell& m = row_cells[mc];
    if (m.valid > 0) {
      // The level most of its cells hold; on a tie the higher.
      int level = 1;
      for (int k = 1; k <= c->levels.count; ++k) {
        if (m.per_level[static_cast<std::size_t>(k)] >=
            m.per_level[static_cast<std::size_t>(level)]) {
          level = k;
        }
      }
      const int c0 = static_cast<int>(mc) * side;
      const int c1 = std::min(c0 + side, g.cols);
      const double x0 = g.gt[0] + c0 * cell, x1 = g.gt[0] + c1 * cell;
      const double y0 = g.gt[3] - r0 * cell, y1 = g.gt[3] - r1 * cell;
      OGRLinearRing ring;
      ring.addPoint(x0, y0);
      ring.addPoint(x1, y0);
      ring.addPoint(x1, y1);
      ring.addPoint(x0, y1);
      ring.addPoint(x0, y0);
      OGRPolygon square;
      square.addRing(&ring);
      std::unique_ptr<OGRGeometry> shape;
      // A mesh cell whose cells all have their centres inside can still reach over the
      // boundary by half a cell: every cell not wholly inside is clipped.
      if (boundary &&
          (m.outside > 0 || !prepared ||
           !OGRPreparedGeometryContains(prepared.get(), OGRGeometry::ToHandle(&square)))) {
        shape.reset(square.Intersection(boundary.get()));
      }
      if (shape) shape = polygons_of(std::move(shape));
      if (!shape) shape.reset(square.clone());
      shape.reset(OGRGeometryFactory::forceToMultiPolygon(shape.release()));
      for (OGRLayer* layer : {cells, centres}) {
        OGRFeature f(layer->GetLayerDefn());
        f.SetField("row", mesh_row);
        f.SetField("column", static_cast<int>(mc));
        f.SetField("level", level);
        f.SetField("valid_cells", static_cast<GIntBig>(m.valid));
        if (layer == cells) {
          f.SetGeometry(shape.get());
        } else {
          OGRPoint p(g.gt[0] + (m.best_col + 0.5) * cell, g.gt[3] - (m.best_row + 0.5) * cell);
          f.SetGeometry(&p);
        }
        if (layer->CreateFeature(&f) != OGRERR_NONE) write_failed(final_name);
      }
      ++written;
      if (++in_transaction >= 20000) {
        if (ds->CommitTransaction() != OGRERR_NONE || ds->StartTransaction() != OGRERR_NONE) {
          write_failed(final_name);
        }
        in_transaction = 0;
      }
    }
    m.valid = m.outside = 0;
    std::fill(m.per_level.begin(), m.per_level.end(), 0);
    m.best = std::numeric_limits<double>::infinity();
  }
}

void MeshWriter::add(int row, int rows, const unsigned char* level, const unsigned char* state) {
  Impl& m = *impl_;
  const Grid& g = *m.c->grid;
  const int cols = g.cols;
  for (int r = row; r < row + rows; ++r) {
    if (r / m.side != m.mesh_row) {
      m.flush(written_);
      m.mesh_row = r / m.side;
    }
    const int r0 = m.mesh_row * m.side;
    const double centre_r = r0 + (std::min(m.side, g.rows - r0) - 1) / 2.0;
    const std::size_t at = static_cast<std::size_t>(r - row) * cols;
    for (int col = 0; col < cols; ++col) {
      MeshCell& cell = m.row_cells[static_cast<std::size_t>(col / m.side)];
      const unsigned char st = state[at + col];
      if (st == kCellOutside) {
        ++cell.outside;
        continue;
      }
      if (st != kCellLevel) continue;
      ++cell.valid;
      ++cell.per_level[level[at + col]];
      const int c0 = col / m.side * m.side;
      const double centre_c = c0 + (std::min(m.side, cols - c0) - 1) / 2.0;
      const double d = (r - centre_r) * (r - centre_r) + (col - centre_c) * (col - centre_c);
      if (d < cell.best) {
        cell.best = d;
        cell.best_row = r;
        cell.best_col = col;
      }
    }
  }
}

void MeshWriter::finish() {
  Impl& m = *impl_;
  m.flush(written_);
  if (m.ds->CommitTransaction() != OGRERR_NONE) write_failed(m.final_name);
  CPLErrorReset();
  close_output(m.ds, m.final_name);
}

}  // namespace gis
