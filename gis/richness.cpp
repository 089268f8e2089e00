// `tessera_gis richness`: opens the source and finds its grid, checks the sizes against the
// memory, reads the boundary, counts and writes the layer.
#include "gis/richness.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>

#include "cpl_conv.h"
#include "cpl_error.h"
#include "gis/prepare_boundary.h"
#include "gis/prepare_grid.h"
#include "gis/richness_count.h"
#include "gis/richness_features.h"
#include "gis/richness_source.h"
#include "gis/richness_tiff.h"
#include "nrutil/block.h"

namespace gis {

namespace {

namespace fs = std::filesystem;

constexpr GIntBig kBlockCache = GIntBig{64} << 20;
constexpr std::int64_t kMiB = std::int64_t{1} << 20;

// What kind of source, and so which count.
enum class Kind { Raster, PolygonField, Features };

struct Opened {
  GDALDatasetUniquePtr source;
  GDALDatasetUniquePtr like;
  Kind kind = Kind::Raster;
  Grid grid;
  std::string grid_file;  // the file that gives the grid: the source or --like
};

// Refuses a grid without a CRS: the layer carries its source's.
void check_crs(const Grid& grid, const std::string& path) {
  if (!grid.srs) {
    throw DataError(path +
                    ": has no CRS: assign it its CRS, for example gdal_edit.py -a_srs "
                    "EPSG:XXXX " +
                    path);
  }
}

Opened open_source(const RichnessOptions& o, std::vector<std::string>& warnings) {
  Opened s;
  CPLErrorReset();
  s.source.reset(
      GDALDataset::Open(o.source.c_str(), GDAL_OF_RASTER | GDAL_OF_VECTOR | GDAL_OF_READONLY));
  if (!s.source) {
    throw DataError(o.source + ": cannot be opened as a raster or a vector layer" + gdal_says());
  }
  const bool vector_options = !o.field.empty() || !o.like.empty() || o.cell > 0.0;
  const bool has_layers = s.source->GetLayerCount() > 0;
  if (s.source->GetRasterCount() >= 1 && !(has_layers && vector_options)) {
    if (vector_options) {
      throw UsageError(std::string(!o.field.empty()  ? "--field"
                                   : !o.like.empty() ? "--like"
                                                     : "--cell") +
                       " applies to a vector source, and " + o.source +
                       " is a raster: its own grid and codes are counted");
    }
    s.kind = Kind::Raster;
    s.grid = grid_of(*s.source);
    s.grid_file = o.source;
  } else {
    if (!has_layers) throw DataError(o.source + ": holds neither a raster band nor a vector layer");
    if (o.like.empty() && !(o.cell > 0.0)) {
      throw UsageError("a vector source needs a grid: give --like RASTER or --cell SIZE");
    }
    s.kind = o.field.empty() ? Kind::Features : Kind::PolygonField;
    OGRLayer& layer = only_layer(*s.source, o.source);
    if (!o.like.empty()) {
      s.like = open_raster(o.like);
      s.grid = grid_of(*s.like);
      s.grid_file = o.like;
    } else {
      s.grid = grid_over_extent(layer, o.source, o.cell, s.kind == Kind::Features);
      s.grid_file = o.source;
    }
  }
  if (std::string w = check_run_grid(s.grid, s.grid_file); !w.empty()) warnings.push_back(w);
  check_crs(s.grid, s.grid_file);
  return s;
}

// Gives the grid's CRS its EPSG code where GDAL's tables know it (a CRS read from an ESRI
// .prj carries none); warns when none is found.
void identify_epsg(Grid& grid, const std::string& path, std::vector<std::string>& warnings) {
  OGRSpatialReference& srs = *grid.srs;
  if (srs.GetAuthorityCode(nullptr) != nullptr) return;
  int count = 0;
  int* confidence = nullptr;
  OGRSpatialReferenceH* matches = srs.FindMatches(nullptr, &count, &confidence);
  bool found = false;
  if (matches != nullptr && count > 0 && confidence[0] == 100) {
    const OGRSpatialReference* best = OGRSpatialReference::FromHandle(matches[0]);
    const char* auth = best->GetAuthorityName(nullptr);
    if (auth != nullptr && EQUAL(auth, "EPSG")) {
      srs = *best;
      srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
      found = true;
    }
  }
  OSRFreeSRSArray(matches);
  CPLFree(confidence);
  if (!found) {
    warnings.push_back(path + ": its CRS " + srs_label(grid.srs) +
                       " matches no EPSG code: the layer carries it without one");
  }
}

// The bytes the count holds beyond GDAL's block cache, for a grid of `g`.
std::int64_t bytes_needed(const Opened& s, const RichnessOptions& o) {
  const std::int64_t cols = s.grid.cols;
  const std::int64_t cells = cols * s.grid.rows;
  const std::int64_t side = 2 * std::int64_t{o.range} + 1;
  std::int64_t n = (o.boundary.empty() ? 0 : cells) + 256 * cols;  // the study area, a strip
  if (s.kind == Kind::Features) {
    return n + FeatureCounts::bytes_needed(s.grid, o.type, o.range);
  }
  n += side * cols * 4;  // the rows of classes around the current row (or mesh row)
  const std::int64_t block = std::max<std::int64_t>(std::int64_t{1} << 20, cols);
  return n + block * (s.kind == Kind::Raster ? 9 : 4);  // a block read (and its mask)
}

void check_memory(const Opened& s, const RichnessOptions& o) {
  const std::int64_t memory = nrutil::memory_bytes();
  const std::int64_t needed = bytes_needed(s, o) + kBlockCache + 16 * kMiB;
  if (memory > 0 && needed > memory) {
    throw DataError(s.grid_file + ": its grid of " + std::to_string(s.grid.cols) + " x " +
                    std::to_string(s.grid.rows) + " cells needs about " +
                    std::to_string(needed / kMiB + 1) + " MiB, more than the memory available (" +
                    std::to_string(memory / kMiB) + " MiB)");
  }
}

// Refuses an output that would replace one of the files read.
void check_inputs_kept(const RichnessOptions& o, const Opened& s) {
  std::vector<std::string> inputs = {o.source};
  const auto add_files = [&inputs](GDALDataset* ds) {
    if (ds == nullptr) return;
    const CPLStringList files(ds->GetFileList());
    for (int i = 0; i < files.size(); ++i) inputs.emplace_back(files[i]);
  };
  add_files(s.source.get());
  add_files(s.like.get());
  if (!o.like.empty()) inputs.push_back(o.like);
  if (!o.boundary.empty()) inputs.push_back(o.boundary);
  for (const std::string& in : inputs) {
    std::error_code ec;
    if (fs::equivalent(o.out, in, ec) && !ec) {
      throw UsageError(o.out + " would replace the input file " + in + ": choose another --out");
    }
  }
}

// The study area on the grid: a byte a cell, 1 inside the boundary.
std::vector<unsigned char> study_area(const RichnessOptions& o, const Opened& s,
                                      std::vector<std::string>& warnings) {
  std::vector<unsigned char> inside;
  CPLErrorReset();
  try {
    boundary_cells(o.boundary, s.grid, s.grid_file, true, inside, warnings);
  } catch (const DataError& e) {
    // GDAL's own words, where it gave some, go with the message.
    const std::string why = gdal_says();
    const std::string text = e.what();
    throw DataError(why.empty() || text.find(why.substr(2)) != std::string::npos ? text
                                                                                 : text + why);
  }
  if (std::find(inside.begin(), inside.end(), 1) == inside.end()) {
    throw DataError(o.boundary + ": no cell centre of the grid of " + s.grid_file +
                    " lies inside the boundary: check that it overlaps that grid (" +
                    srs_label(s.grid.srs) + ")");
  }
  return inside;
}

// Why a count gave no cell a value.
std::string nothing_counted(const RichnessOptions& o, const CountTally& t, bool features) {
  const std::string where = o.boundary.empty() ? "" : " inside the boundary";
  const bool window = o.type == Processing::MovingWindow;
  const std::string side = std::to_string(2 * o.range + 1);
  if (t.data_cells == 0 && !features) {
    return "holds no data" + where +
           (window ? std::string()
                   : " in the whole mesh cells of " + side + " x " + side + " cells");
  }
  const std::string what = features ? "the study area lies" : "its data" + where + " lie";
  return what +
         (window ? " only in the band of " + std::to_string(o.range) +
                       " cells along the grid's edges, where a window does not fit"
                 : " only beyond the last whole mesh cell of " + side + " x " + side + " cells") +
         ": choose a smaller R";
}

}  // namespace

RichnessResult run_richness(const RichnessOptions& o, const Progress& progress) {
  init_gdal();
  // GDAL's messages go no further than its last-error state, quoted by this command's own.
  const CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
  const char* option = o.type == Processing::MovingWindow ? "--window" : "--mesh";
  if (o.range < 1 || o.range > kMaxRange) {
    throw DataError(o.source + ": " + option + " " + std::to_string(o.range) +
                    " is out of range: R runs from 1 to " + std::to_string(kMaxRange) +
                    " (areas of 3 x 3 to 255 x 255 cells)");
  }
  // Every block is read once, so a large block cache would only hold memory.
  if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr) GDALSetCacheMax64(kBlockCache);

  RichnessResult result;
  result.out = o.out;
  std::vector<std::string>& warnings = result.warnings;
  Opened s = open_source(o, warnings);
  identify_epsg(s.grid, s.grid_file, warnings);
  result.cols = s.grid.cols;
  result.rows = s.grid.rows;
  const int side = 2 * o.range + 1;
  if (side > s.grid.cols || side > s.grid.rows) {
    throw DataError(s.grid_file + ": " + option + " " + std::to_string(o.range) + " needs " +
                    std::to_string(side) + " x " + std::to_string(side) +
                    " cells, more than its grid of " + std::to_string(s.grid.cols) + " x " +
                    std::to_string(s.grid.rows) + " cells: choose R of at most " +
                    std::to_string((std::min(s.grid.cols, s.grid.rows) - 1) / 2));
  }
  check_memory(s, o);
  check_inputs_kept(o, s);
  if (std::error_code ec; fs::is_directory(o.out, ec)) {
    throw DataError(o.out + ": cannot be written (a folder has this name)");
  }
  const std::vector<unsigned char> inside =
      o.boundary.empty() ? std::vector<unsigned char>() : study_area(o, s, warnings);

  const CountArea area{s.grid.cols, s.grid.rows, o.range, inside.empty() ? nullptr : inside.data()};
  // The progress of one part of the work, [from, to] of the whole; none without `progress`.
  const auto done = [&progress](double from, double to) -> std::function<void(double)> {
    if (!progress) return nullptr;
    return [&progress, from, to](double f) { progress(from + (to - from) * f); };
  };
  LayerProcessing made;
  made.type = o.type;
  made.range = o.range;
  made.source = o.source;
  made.field = o.field;
  made.version = kToolVersion;

  CountTally tally;
  if (s.kind == Kind::Features) {
    VectorLayer layer = vector_layer(only_layer(*s.source, o.source), o.source, s.grid, warnings);
    FeatureCounts counts(s.grid, o.type, area);
    RichnessTiff out(o.out, s.grid, made);
    for_each_feature(
        layer, [&](const OGRGeometry& g) { counts.add(g, o.source); }, done(0.0, 0.9));
    if (counts.on_grid() == 0) {
      throw DataError(o.source + ": no feature touches the grid of " + s.grid_file +
                      ": check that they overlap (" + srs_label(s.grid.srs) + ")");
    }
    tally = counts.write(out, done(0.9, 1.0));
    result.classes = static_cast<std::uint64_t>(counts.in_area());
    if (tally.counted_cells == 0)
      throw DataError(o.source + ": " + nothing_counted(o, tally, true));
    out.commit();
  } else {
    std::unique_ptr<ClassRows> classes;
    std::optional<VectorLayer> layer;
    if (s.kind == Kind::Raster) {
      classes = raster_classes(*s.source->GetRasterBand(1), o.source);
    } else {
      layer.emplace(vector_layer(only_layer(*s.source, o.source), o.source, s.grid, warnings));
      classes = polygon_classes(*layer, o.field, s.grid, warnings);
    }
    RichnessTiff out(o.out, s.grid, made);
    tally = o.type == Processing::MovingWindow ? count_window(*classes, area, out, done(0.0, 1.0))
                                               : count_mesh(*classes, area, out, done(0.0, 1.0));
    result.classes = classes->class_limit() - 1;
    if (tally.counted_cells == 0)
      throw DataError(o.source + ": " + nothing_counted(o, tally, false));
    out.commit();
  }
  result.counted_cells = tally.counted_cells;
  result.capped_cells = tally.capped_cells;
  if (tally.capped_cells > 0) {
    warnings.push_back(o.out + ": " + std::to_string(tally.capped_cells) + " cell" +
                       (tally.capped_cells == 1 ? " has" : "s have") + " a count above " +
                       std::to_string(kMaxCount) + ", written as " + std::to_string(kMaxCount));
  }
  return result;
}

}  // namespace gis
