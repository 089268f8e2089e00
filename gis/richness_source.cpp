// Reading the classes of a richness source: raster codes, polygon fields, features.
#include "gis/richness_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <utility>

#include "cpl_error.h"
#include "cpl_string.h"
#include "gdal_alg.h"
#include "gis/common.h"

namespace gis {

namespace {

constexpr std::int64_t kBlockCells = 1 << 20;

// Rows of a block: about a million cells, whole blocks of the file where they fit.
int block_rows_for(GDALRasterBand& band) {
  int block_x = 0;
  int block_y = 0;
  band.GetBlockSize(&block_x, &block_y);
  const int cols = std::max(band.GetXSize(), 1);
  const int wanted = static_cast<int>(std::max<std::int64_t>(1, kBlockCells / cols));
  const int rows = block_y >= 1 && block_y <= wanted ? wanted / block_y * block_y : wanted;
  return std::min(rows, std::max(band.GetYSize(), 1));
}

// Gives class numbers to codes in the order they are first met.
class ClassNumbers {
 public:
  explicit ClassNumbers(std::string path) : path_(std::move(path)) {}

  std::uint32_t limit() const { return next_; }

  // The class of a code of a small range [lowest, lowest + size): a table.
  void use_table(std::int64_t lowest, std::size_t size) {
    table_lowest_ = lowest;
    table_.assign(size, 0);
  }
  std::uint32_t from_table(std::int64_t code) {
    std::uint32_t& c = table_[static_cast<std::size_t>(code - table_lowest_)];
    if (c == 0) c = fresh();
    return c;
  }

  // The class of any code: a hash table, with the last code remembered (neighbouring cells
  // often hold the same class).
  std::uint32_t from_map(std::int64_t code) {
    if (have_last_ && code == last_code_) return last_class_;
    auto [it, added] = map_.try_emplace(code, 0);
    if (added) it->second = fresh();
    have_last_ = true;
    last_code_ = code;
    last_class_ = it->second;
    return last_class_;
  }

 private:
  std::uint32_t fresh() {
    if (next_ > kMaxClasses) {
      throw DataError(path_ + ": holds more than " + std::to_string(kMaxClasses) +
                      " distinct classes: richness counts classes, such as units of a map, not "
                      "measurements; reclassify it first");
    }
    return next_++;
  }

  std::string path_;
  std::uint32_t next_ = 1;
  std::int64_t table_lowest_ = 0;
  std::vector<std::uint32_t> table_;
  std::unordered_map<std::int64_t, std::uint32_t> map_;
  bool have_last_ = false;
  std::int64_t last_code_ = 0;
  std::uint32_t last_class_ = 0;
};

// How the cells of a band are read: small integer codes through a table, wider integer codes
// and real values through the hash table.
enum class Reading { Small, Wide, Unsigned64, Real };

class RasterClasses final : public ClassRows {
 public:
  RasterClasses(GDALRasterBand& band, const std::string& path)
      : band_(band),
        path_(path),
        cols_(band.GetXSize()),
        rows_(band.GetYSize()),
        block_rows_(block_rows_for(band)),
        classes_(path) {
    const GDALDataType type = band.GetRasterDataType();
    if (GDALDataTypeIsComplex(type)) {
      throw DataError(path + ": its band holds complex numbers, not class codes");
    }
    const char* pixel = band.GetMetadataItem("PIXELTYPE", "IMAGE_STRUCTURE");
    const bool signed_byte = type == GDT_Byte && pixel != nullptr && EQUAL(pixel, "SIGNEDBYTE");
    int ok = 0;
    double nodata = 0.0;
    switch (type) {
      case GDT_Byte:
      case GDT_UInt16:
      case GDT_Int16:
        reading_ = Reading::Small;
        // Signed bytes are read as 0..255: the same classes, told apart the same way.
        classes_.use_table(type == GDT_Int16 ? -32768 : 0, type == GDT_Byte ? 256 : 65536);
        nodata = band.GetNoDataValue(&ok);
        if (signed_byte && nodata < 0) nodata += 256;
        break;
      case GDT_UInt32:
      case GDT_Int32:
        reading_ = Reading::Wide;
        nodata = band.GetNoDataValue(&ok);
        break;
      case GDT_Int64:
        reading_ = Reading::Wide;
        nodata_int_ = band.GetNoDataValueAsInt64(&ok);
        has_nodata_ = ok != 0;
        break;
      case GDT_UInt64: {
        reading_ = Reading::Unsigned64;
        const std::uint64_t nd = band.GetNoDataValueAsUInt64(&ok);
        has_nodata_ =
            ok != 0 && nd <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        nodata_int_ = static_cast<std::int64_t>(nd);
        break;
      }
      default:
        reading_ = Reading::Real;
        nodata_real_ = band.GetNoDataValue(&ok);
        has_nodata_ = ok != 0;
        // A Float32 cell holds the no-data value as rounded to float.
        if (has_nodata_ && type == GDT_Float32) nodata_real_ = static_cast<float>(nodata_real_);
        break;
    }
    if (type != GDT_Int64 && type != GDT_UInt64 && reading_ != Reading::Real && ok != 0) {
      // An integer band's no-data value matters when it is a whole number it can hold.
      has_nodata_ = std::floor(nodata) == nodata && std::fabs(nodata) < 9.2e18;
      nodata_int_ = has_nodata_ ? static_cast<std::int64_t>(nodata) : 0;
    }
    const int flags = band.GetMaskFlags();
    if ((flags & (GMF_ALL_VALID | GMF_NODATA)) == 0) mask_ = band.GetMaskBand();

    const std::size_t n = static_cast<std::size_t>(cols_) * block_rows_;
    switch (reading_) {
      case Reading::Small:
        small_.resize(n);
        break;
      case Reading::Wide:
      case Reading::Unsigned64:
        wide_.resize(n);
        break;
      case Reading::Real:
        real_.resize(n);
        break;
    }
    if (mask_ != nullptr) mask_values_.resize(n);
  }

  std::uint32_t class_limit() const override { return classes_.limit(); }

  void next_row(std::uint32_t* out) override {
    if (next_ == block_first_ + block_count_) read_block();
    const std::size_t at = static_cast<std::size_t>(next_ - block_first_) * cols_;
    const unsigned char* mask = mask_ != nullptr ? mask_values_.data() + at : nullptr;
    switch (reading_) {
      case Reading::Small:
        small_row(small_.data() + at, mask, out);
        break;
      case Reading::Wide:
        wide_row(wide_.data() + at, mask, out);
        break;
      case Reading::Unsigned64:
        unsigned_row(wide_.data() + at, mask, out);
        break;
      case Reading::Real:
        real_row(real_.data() + at, mask, out);
        break;
    }
    ++next_;
  }

 private:
  void read_block() {
    block_first_ = next_;
    block_count_ = std::min(block_rows_, rows_ - next_);
    void* data = nullptr;
    GDALDataType as = GDT_Int32;
    switch (reading_) {
      case Reading::Small:
        data = small_.data();
        break;
      case Reading::Wide:
        data = wide_.data();
        as = GDT_Int64;
        break;
      case Reading::Unsigned64:
        data = wide_.data();
        as = GDT_UInt64;
        break;
      case Reading::Real:
        data = real_.data();
        as = GDT_Float64;
        break;
    }
    CPLErrorReset();
    if (band_.RasterIO(GF_Read, 0, block_first_, cols_, block_count_, data, cols_, block_count_, as,
                       0, 0, nullptr) != CE_None) {
      throw DataError(path_ + ": cannot be read" + gdal_says());
    }
    if (mask_ != nullptr &&
        mask_->RasterIO(GF_Read, 0, block_first_, cols_, block_count_, mask_values_.data(), cols_,
                        block_count_, GDT_Byte, 0, 0, nullptr) != CE_None) {
      throw DataError(path_ + ": its mask cannot be read" + gdal_says());
    }
  }

  void small_row(const std::int32_t* v, const unsigned char* mask, std::uint32_t* out) {
    // Without a no-data value, nd lies outside every band's range.
    const std::int64_t nd = has_nodata_ ? nodata_int_ : std::numeric_limits<std::int64_t>::min();
    for (int x = 0; x < cols_; ++x) {
      const bool data = v[x] != nd && (mask == nullptr || mask[x] != 0);
      out[x] = data ? classes_.from_table(v[x]) : 0;
    }
  }

  void wide_row(const std::int64_t* v, const unsigned char* mask, std::uint32_t* out) {
    for (int x = 0; x < cols_; ++x) {
      const bool data = !(has_nodata_ && v[x] == nodata_int_) && (mask == nullptr || mask[x] != 0);
      out[x] = data ? classes_.from_map(v[x]) : 0;
    }
  }

  // UInt64 cells were read into the same buffer as unsigned numbers.
  void unsigned_row(const std::int64_t* v, const unsigned char* mask, std::uint32_t* out) {
    for (int x = 0; x < cols_; ++x) {
      const bool data = !(has_nodata_ && v[x] == nodata_int_) && (mask == nullptr || mask[x] != 0);
      if (data && v[x] < 0) {
        throw DataError(path_ + ": holds a class code above 9223372036854775807 (row " +
                        std::to_string(next_) + ", column " + std::to_string(x) +
                        "): renumber its classes first");
      }
      out[x] = data ? classes_.from_map(v[x]) : 0;
    }
  }

  void real_row(const double* v, const unsigned char* mask, std::uint32_t* out) {
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    for (int x = 0; x < cols_; ++x) {
      const double d = v[x];
      // NaN is no data; without a no-data value nd is NaN, which no value equals.
      const bool data =
          d == d && !(has_nodata_ && d == nodata_real_) && (mask == nullptr || mask[x] != 0);
      if (!data) {
        out[x] = 0;
        continue;
      }
      if (std::floor(d) != d || !(d >= -kLimit && d < kLimit)) real_value(d, x);
      out[x] = classes_.from_map(static_cast<std::int64_t>(d));
    }
  }

  [[noreturn]] void real_value(double d, int x) const {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", d);
    const std::string where = " (" + std::string(text) + " at row " + std::to_string(next_) +
                              ", column " + std::to_string(x) + ")";
    throw DataError(path_ + ": holds " +
                    (std::isinf(d)        ? std::string("an infinite value")
                     : std::floor(d) != d ? std::string("real values with a fraction")
                                          : std::string("a value beyond the 64-bit integers")) +
                    where +
                    ", while richness counts whole-number class codes: reclassify it into "
                    "classes first, for example with gdal_calc.py or the QGIS raster "
                    "calculator");
  }

  GDALRasterBand& band_;
  std::string path_;
  int cols_;
  int rows_;
  int block_rows_;
  ClassNumbers classes_;
  Reading reading_ = Reading::Small;
  bool has_nodata_ = false;
  std::int64_t nodata_int_ = 0;
  double nodata_real_ = 0.0;
  GDALRasterBand* mask_ = nullptr;  // read only when the band has a real mask
  std::vector<std::int32_t> small_;
  std::vector<std::int64_t> wide_;
  std::vector<double> real_;
  std::vector<unsigned char> mask_values_;
  int next_ = 0;
  int block_first_ = 0;
  int block_count_ = 0;
};

bool polygonal(OGRwkbGeometryType type) {
  const OGRwkbGeometryType flat = wkbFlatten(type);
  return OGR_GT_IsSubClassOf(flat, wkbCurvePolygon) || OGR_GT_IsSubClassOf(flat, wkbMultiSurface);
}

// The geometry of a feature in the grid's CRS, curves made linear; null for a feature without
// one.
std::unique_ptr<OGRGeometry> grid_geometry(const OGRFeature& f, VectorLayer& source) {
  const OGRGeometry* g = f.GetGeometryRef();
  if (g == nullptr || g->IsEmpty()) return nullptr;
  std::unique_ptr<OGRGeometry> copy(g->clone());
  if (source.to_grid) {
    CPLErrorReset();
    if (copy->transform(source.to_grid.get()) != OGRERR_NONE) {
      throw DataError(source.path + ": feature " + std::to_string(f.GetFID()) +
                      " cannot be reprojected to the grid's CRS" + gdal_says());
    }
  }
  if (copy->hasCurveGeometry()) copy.reset(copy->getLinearGeometry());
  return copy;
}

// Polygons with their class, rasterised block by block of rows onto the grid.
class PolygonClasses final : public ClassRows {
 public:
  struct Shape {
    std::unique_ptr<OGRGeometry> geometry;
    OGREnvelope envelope;
    double burn;  // the class
  };

  PolygonClasses(std::vector<Shape> shapes, std::uint32_t limit, const Grid& grid, std::string path)
      : shapes_(std::move(shapes)), limit_(limit), grid_(grid), path_(std::move(path)) {
    block_rows_ = static_cast<int>(
        std::clamp<std::int64_t>(kBlockCells / std::max(grid.cols, 1), 1, grid.rows));
    block_.resize(static_cast<std::size_t>(grid.cols) * block_rows_);
  }

  std::uint32_t class_limit() const override { return limit_; }

  void next_row(std::uint32_t* out) override {
    if (next_ == block_first_ + block_count_) rasterise_block();
    const std::size_t at = static_cast<std::size_t>(next_ - block_first_) * grid_.cols;
    std::copy_n(block_.data() + at, grid_.cols, out);
    ++next_;
  }

 private:
  void rasterise_block() {
    block_first_ = next_;
    block_count_ = std::min(block_rows_, grid_.rows - next_);
    std::fill(block_.begin(), block_.end(), 0);
    const double top = grid_.gt[3] + block_first_ * grid_.gt[5];
    const double bottom = top + block_count_ * grid_.gt[5];
    std::vector<OGRGeometryH> handles;
    std::vector<double> burn;
    for (const Shape& s : shapes_) {
      if (s.envelope.MinY > top || s.envelope.MaxY < bottom) continue;
      handles.push_back(OGRGeometry::ToHandle(s.geometry.get()));
      burn.push_back(s.burn);
    }
    if (handles.empty()) return;
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDatasetUniquePtr target(
        mem != nullptr ? mem->Create("", grid_.cols, block_count_, 0, GDT_UInt32, nullptr)
                       : nullptr);
    char pointer[64];
    std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p", static_cast<void*>(block_.data()));
    CPLStringList options;
    options.AddString(pointer);
    options.AddString("PIXELOFFSET=4");
    options.AddString(("LINEOFFSET=" + std::to_string(std::int64_t{4} * grid_.cols)).c_str());
    std::array<double, 6> gt = grid_.gt;
    gt[3] = top;
    int band = 1;
    CPLErrorReset();
    if (!target || target->AddBand(GDT_UInt32, options.List()) != CE_None ||
        target->SetGeoTransform(gt.data()) != CE_None ||
        GDALRasterizeGeometries(GDALDataset::ToHandle(target.get()), 1, &band,
                                static_cast<int>(handles.size()), handles.data(), nullptr, nullptr,
                                burn.data(), nullptr, nullptr, nullptr) != CE_None) {
      throw DataError(path_ + ": cannot be rasterised" + gdal_says());
    }
  }

  std::vector<Shape> shapes_;
  std::uint32_t limit_;
  Grid grid_;
  std::string path_;
  std::vector<std::uint32_t> block_;
  int block_rows_ = 1;
  int next_ = 0;
  int block_first_ = 0;
  int block_count_ = 0;
};

std::string field_names(OGRFeatureDefn& defn) {
  std::string names;
  for (int i = 0; i < defn.GetFieldCount(); ++i) {
    names += std::string(names.empty() ? "" : ", ") + defn.GetFieldDefn(i)->GetNameRef();
  }
  return names.empty() ? "none" : names;
}

// The class key of a field value: whole numbers by their value (3 and 3.0 are one class),
// anything else by its text.
std::string class_key(const OGRFeature& f, int field, const OGRFieldType type,
                      const std::string& path, const std::string& name) {
  // Numbers and texts are told apart by the first character of the key.
  std::string key(1, '#');
  if (type == OFTInteger || type == OFTInteger64) {
    return key.append(std::to_string(f.GetFieldAsInteger64(field)));
  }
  if (type == OFTReal) {
    const double v = f.GetFieldAsDouble(field);
    if (std::floor(v) != v || std::fabs(v) >= 9.2e18) {
      char text[64];
      std::snprintf(text, sizeof text, "%.17g", v);
      throw DataError(path + ": feature " + std::to_string(f.GetFID()) + " holds " + text +
                      " in its field " + name +
                      ", a real value with a fraction, while the field's values are the classes: "
                      "choose a field of class codes or names");
    }
    return key.append(std::to_string(static_cast<std::int64_t>(v)));
  }
  key[0] = '\'';
  return key.append(f.GetFieldAsString(field));
}

}  // namespace

std::string gdal_says() {
  if (CPLGetLastErrorType() < CE_Failure || CPLGetLastErrorMsg()[0] == '\0') return "";
  return std::string(" (") + CPLGetLastErrorMsg() + ")";
}

std::unique_ptr<ClassRows> raster_classes(GDALRasterBand& band, const std::string& path) {
  return std::make_unique<RasterClasses>(band, path);
}

OGRLayer& only_layer(GDALDataset& ds, const std::string& path) {
  const int layers = ds.GetLayerCount();
  if (layers != 1) {
    std::string names;
    for (int i = 0; i < layers; ++i) {
      names += std::string(names.empty() ? "" : ", ") + ds.GetLayer(i)->GetName();
    }
    throw DataError(path + ": holds " + std::to_string(layers) + " layers" +
                    (layers == 0 ? std::string()
                                 : " (" + names +
                                       "): save the one to count alone, for example "
                                       "ogr2ogr one.gpkg " +
                                       path + " " + ds.GetLayer(0)->GetName()));
  }
  return *ds.GetLayer(0);
}

VectorLayer vector_layer(OGRLayer& layer, const std::string& path, const Grid& grid,
                         std::vector<std::string>& warnings) {
  VectorLayer v;
  v.layer = &layer;
  v.path = path;
  const OGRSpatialReference* srs = v.layer->GetSpatialRef();
  if (srs == nullptr || srs->IsEmpty()) {
    warnings.push_back(path + ": has no CRS; its coordinates are taken to be in the grid's " +
                       srs_label(grid.srs));
  } else if (grid.srs && !srs->IsSame(&*grid.srs)) {
    OGRSpatialReference from(*srs);
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    CPLErrorReset();
    v.to_grid.reset(OGRCreateCoordinateTransformation(&from, &*grid.srs));
    if (!v.to_grid) {
      throw DataError(path + ": cannot be reprojected from " + srs_label(from) + " to the grid's " +
                      srs_label(grid.srs) + gdal_says());
    }
  }
  return v;
}

Grid grid_over_extent(OGRLayer& layer, const std::string& path, double cell, bool touching) {
  Grid g;
  const OGRSpatialReference* srs = layer.GetSpatialRef();
  if (srs == nullptr || srs->IsEmpty()) {
    throw DataError(path +
                    ": has no CRS, so --cell cannot make a grid in it: assign it its CRS, for "
                    "example ogr2ogr -a_srs EPSG:XXXX with_crs.gpkg " +
                    path + ", or give --like a raster");
  }
  g.srs.emplace(*srs);
  g.srs->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  if (g.srs->IsGeographic()) {
    throw DataError(path + ": its CRS " + srs_label(g.srs) +
                    " is geographic, with cells in degrees, while the classic program needs "
                    "square cells in metres: reproject it to a projected CRS first, for example "
                    "ogr2ogr -t_srs EPSG:XXXX projected.gpkg " +
                    path + " (your UTM zone), or give --like a projected raster");
  }
  OGREnvelope e;
  if (layer.GetExtent(&e, TRUE) != OGRERR_NONE || !(e.MinX <= e.MaxX && e.MinY <= e.MaxY)) {
    throw DataError(path + ": holds no feature with a geometry, so it has no extent for --cell");
  }
  const auto cells = [&](double from, double to) {
    double n = std::max(1.0, std::ceil((to - from) / cell));
    if (touching && from + n * cell <= to) n += 1;
    return n;
  };
  const double cols = cells(e.MinX, e.MaxX);
  const double rows = cells(e.MinY, e.MaxY);
  if (cols > std::numeric_limits<int>::max() || rows > std::numeric_limits<int>::max()) {
    throw DataError(path + ": cells of " + exact_decimal(cell) +
                    " over its extent make a grid of " + exact_decimal(cols) + " x " +
                    exact_decimal(rows) +
                    " cells, more than GDAL can hold: choose a larger --cell");
  }
  g.cols = static_cast<int>(cols);
  g.rows = static_cast<int>(rows);
  g.gt = {e.MinX, cell, 0.0, e.MaxY, 0.0, -cell};
  g.georeferenced = true;
  return g;
}

std::unique_ptr<ClassRows> polygon_classes(VectorLayer& source, const std::string& field,
                                           const Grid& grid, std::vector<std::string>& warnings) {
  OGRFeatureDefn& defn = *source.layer->GetLayerDefn();
  const int index = defn.GetFieldIndex(field.c_str());
  if (index < 0) {
    throw DataError(source.path + ": has no field '" + field +
                    "' (its fields: " + field_names(defn) + ")");
  }
  const OGRFieldType type = defn.GetFieldDefn(index)->GetType();
  std::unordered_map<std::string, std::uint32_t> classes;
  std::vector<PolygonClasses::Shape> shapes;
  std::int64_t unset = 0;
  source.layer->ResetReading();
  for (OGRFeatureUniquePtr f(source.layer->GetNextFeature()); f;
       f.reset(source.layer->GetNextFeature())) {
    std::unique_ptr<OGRGeometry> g = grid_geometry(*f, source);
    if (!g) continue;
    if (!polygonal(g->getGeometryType())) {
      throw DataError(source.path + ": feature " + std::to_string(f->GetFID()) + " is a " +
                      OGRGeometryTypeToName(g->getGeometryType()) +
                      ", not a polygon: --field counts the classes of a polygon layer (without "
                      "--field each feature of a point or line layer counts as a class)");
    }
    if (!f->IsFieldSetAndNotNull(index)) {
      ++unset;
      continue;
    }
    const auto [it, added] = classes.try_emplace(class_key(*f, index, type, source.path, field),
                                                 static_cast<std::uint32_t>(classes.size() + 1));
    if (added && classes.size() > kMaxClasses) {
      throw DataError(source.path + ": its field " + field + " holds more than " +
                      std::to_string(kMaxClasses) + " distinct values");
    }
    PolygonClasses::Shape s;
    g->getEnvelope(&s.envelope);
    s.burn = it->second;
    s.geometry = std::move(g);
    shapes.push_back(std::move(s));
  }
  if (unset > 0) {
    warnings.push_back(source.path + ": " + std::to_string(unset) + " feature" +
                       (unset == 1 ? " has" : "s have") + " no value in the field " + field +
                       ": their cells hold no class");
  }
  return std::make_unique<PolygonClasses>(
      std::move(shapes), static_cast<std::uint32_t>(classes.size() + 1), grid, source.path);
}

void for_each_feature(VectorLayer& source, const std::function<void(const OGRGeometry&)>& each,
                      const std::function<void(double)>& done) {
  // Counting the features may read the whole layer: only for a progress to show.
  const GIntBig total = done ? source.layer->GetFeatureCount(TRUE) : 0;
  GIntBig read = 0;
  source.layer->ResetReading();
  for (OGRFeatureUniquePtr f(source.layer->GetNextFeature()); f;
       f.reset(source.layer->GetNextFeature())) {
    if (std::unique_ptr<OGRGeometry> g = grid_geometry(*f, source)) each(*g);
    ++read;
    if (total > 0 && read % 256 == 0) done(std::min(1.0, static_cast<double>(read) / total));
  }
}

}  // namespace gis
