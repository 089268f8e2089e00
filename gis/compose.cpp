// `tessera_gis compose`: the layers read and summed in passes over blocks of rows, the levels
// of the chosen method, and every output written into a staging folder beside NAME and moved
// into place only when all are complete.
#include "gis/compose.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <limits>
#include <system_error>

#include "cpl_conv.h"
#include "gis/compose_output.h"
#include "gis/compose_read.h"
#include "gis/layer_metadata.h"
#include "nrutil/files.h"

namespace gis {

namespace {

namespace fs = std::filesystem;

constexpr GIntBig kBlockCache = GIntBig{64} << 20;

std::string describe(const ComposeProcessing& p) {
  return std::string(p.type == 0 ? "a square cell mesh" : "a moving window") + " of range " +
         std::to_string(p.range);
}

// The processing type: the option, and the metadata of every layer that carries one; any
// disagreement is refused.
std::optional<ComposeProcessing> processing_of(const ComposeOptions& o,
                                               std::vector<ComposeLayer>& layers) {
  std::optional<ComposeProcessing> chosen = o.processing;
  for (ComposeLayer& l : layers) {
    const std::optional<LayerProcessing> meta = read_layer_processing(*l.source);
    if (!meta) continue;
    const ComposeProcessing p{meta->type == Processing::SquareCellMesh ? 0 : 1, meta->range,
                              l.arg.path};
    if (!chosen) {
      chosen = p;
    } else if (chosen->type != p.type || chosen->range != p.range) {
      const std::string other =
          chosen->given_by.rfind("--", 0) == 0
              ? "while the command line gives " + chosen->given_by + " " +
                    std::to_string(chosen->range)
              : "while " + chosen->given_by + " was made on " + describe(*chosen);
      throw DataError(l.arg.path + ": its metadata says it was made on " + describe(p) + ", " +
                      other + ": compose layers made the same way, or correct the option");
    }
  }
  return chosen;
}

std::string utc_now() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

// Refuses outputs that would replace an input, or whose names are taken by a folder, a
// device or a pipe.
void check_outputs(const std::vector<std::string>& outputs, std::vector<ComposeLayer>& layers,
                   const std::string& boundary) {
  std::vector<std::string> inputs;
  const auto add_files = [&inputs](GDALDataset& ds) {
    const CPLStringList files(ds.GetFileList());
    for (int i = 0; i < files.size(); ++i) inputs.emplace_back(files[i]);
  };
  for (ComposeLayer& l : layers) add_files(*l.source);
  if (!boundary.empty()) {
    inputs.push_back(boundary);
    const GDALDatasetUniquePtr ds(
        GDALDataset::Open(boundary.c_str(), GDAL_OF_VECTOR | GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (ds) add_files(*ds);
  }
  for (const std::string& out : outputs) {
    if (nrutil::is_non_regular(out)) {
      throw DataError(out +
                      ": cannot be written (the name is taken by a folder, a device or a "
                      "named pipe, not a regular file)");
    }
    for (const std::string& in : inputs) {
      std::error_code ec;
      if (fs::equivalent(out, in, ec) && !ec) {
        throw DataError(out + ": would replace the input file " + in +
                        ": choose another --out name");
      }
    }
  }
}

void write_text(const std::string& staged, const std::string& final_name, const std::string& text) {
  nrutil::AtomicFile f;
  if (!f.open(staged) || !f.write(text) || !f.commit()) {
    throw DataError(final_name + ": cannot be written (" + std::strerror(errno) + ")");
  }
}

}  // namespace

ComposeResult run_compose(const ComposeOptions& o, const Progress& progress) {
  init_gdal();
  // Every block is read once a pass, so a large block cache would only hold memory.
  if (CPLGetConfigOption("GDAL_CACHEMAX", nullptr) == nullptr) GDALSetCacheMax64(kBlockCache);
  const fs::path out(o.out);
  const std::string name = out.filename().string();
  const std::string dir = out.has_parent_path() ? out.parent_path().string() : ".";
  if (name.empty() || name == "." || name == "..") {
    throw UsageError("--out needs DIR/NAME, with a file name NAME");
  }

  ComposeResult res;
  LayerStack stack(o, res.warnings);
  const Grid& grid = stack.grid();
  std::vector<ComposeLayer>& layers = stack.layers();
  const std::optional<ComposeProcessing> processing = processing_of(o, layers);
  const bool mesh = processing && processing->type == 0;

  const std::string tif = name + ".tif", aux = tif + ".aux.xml", qml = name + ".qml",
                    csv = name + "_levels.csv", gpkg = name + "_cells.gpkg",
                    html = name + "_report.html", json = name + "_run.json";
  const auto final_of = [&dir](const std::string& file) { return (fs::path(dir) / file).string(); };
  std::vector<std::string> names = {tif, aux, qml, csv};
  if (mesh) names.push_back(gpkg);
  names.push_back(html);
  names.push_back(json);
  {
    std::vector<std::string> finals;
    for (const std::string& n : names) finals.push_back(final_of(n));
    finals.push_back(final_of(gpkg));
    check_outputs(finals, layers, o.boundary);
  }

  // First pass: the values checked, the no-data cells found, the range of the valid sums
  // (and for quantiles the first histogram).
  const bool quantile = o.classes == core::ClassMethod::Quantile;
  std::optional<core::QuantileSearch> search;
  if (quantile) search.emplace(o.levels);
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  const double first_share = quantile ? 0.3 : 0.45;
  stack.pass(
      [&](const SumBlock& b) {
        for (std::size_t i = 0; i < b.cells; ++i) {
          if (b.valid[i] != 0) continue;
          lo = b.sums[i] < lo ? b.sums[i] : lo;
          hi = b.sums[i] > hi ? b.sums[i] : hi;
        }
        if (search) search->add(b.sums, b.valid, b.cells);
      },
      progress, 0.0, first_share);
  core::Levels levels;
  if (o.classes == core::ClassMethod::Equal) {
    // As tessera_summary: the largest sum from 0.0 up.
    levels = core::equal_levels(hi > 0.0 ? hi : 0.0, o.levels);
  } else if (o.classes == core::ClassMethod::MinMax) {
    levels = core::minmax_levels(lo, hi, o.levels);
  } else {
    search->end_pass();
    double from = first_share;
    while (!search->done()) {
      const double to = from + (0.6 - from) / 2;
      stack.pass([&](const SumBlock& b) { search->add(b.sums, b.valid, b.cells); }, progress, from,
                 to);
      search->end_pass();
      from = to;
    }
    levels = search->levels();
  }

  // The outputs, into a staging folder beside NAME.
  std::error_code ec;
  const bool created = fs::create_directories(dir, ec);
  if (ec || !fs::is_directory(dir)) {
    throw DataError(dir + ": cannot be created as a folder" +
                    (ec ? " (" + ec.message() + ")" : std::string()));
  }
  struct RemoveIfEmpty {
    bool created;
    std::string dir;
    bool keep = false;
    ~RemoveIfEmpty() {
      std::error_code e;
      if (created && !keep) fs::remove(dir, e);  // only when still empty
    }
  } cleanup{created, dir};
  nrutil::StagingDir staging;
  if (!staging.make(dir)) {
    throw DataError(dir + ": cannot write there (" + std::strerror(errno) + ")");
  }

  Composite c;
  c.options = &o;
  c.name = name;
  c.title = o.title.empty() ? compose_default_title(o.lang, name) : o.title;
  c.grid = &grid;
  c.layers = &layers;
  c.levels = levels;
  c.min_sum = lo;
  c.max_sum = hi;
  c.processing = processing;
  c.date = utc_now();
  c.colours = colour_table(o.palette, o.levels);
  if (grid.srs) {
    OGRSpatialReference srs(*grid.srs);
    if (srs.GetAuthorityCode(nullptr) == nullptr) srs.AutoIdentifyEPSG();
    const char* auth = srs.GetAuthorityName(nullptr);
    const char* code = srs.GetAuthorityCode(nullptr);
    if (auth != nullptr && code != nullptr && std::strcmp(auth, "EPSG") == 0)
      c.epsg = std::atoi(code);
    c.crs_name = srs.GetName() != nullptr ? srs.GetName() : "unnamed";
    const char* unit = nullptr;
    c.unit_metres = srs.GetLinearUnits(&unit);
    c.unit = unit != nullptr ? unit : "";
  }

  // Last pass: the level of every cell, into the GeoTIFF, the mesh and the report's map.
  std::optional<TiffWriter> tiff;
  tiff.emplace(staging.file(tif), final_of(tif), c);
  std::optional<MeshWriter> cells;
  if (mesh)
    cells.emplace(staging.file(gpkg), final_of(gpkg), c, processing->range, stack.boundary());
  ReportMap map;
  map.setup(grid.cols, grid.rows);
  std::vector<unsigned char> level, state;
  stack.pass(
      [&](const SumBlock& b) {
        level.resize(b.cells);
        state.resize(b.cells);
        levels.assign(b.valid, b.sums, b.cells, level.data());
        for (std::size_t i = 0; i < b.cells; ++i) {
          unsigned char s = kCellLevel;
          if (b.state[i] == kOutside) {
            s = kCellOutside;
          } else if (b.state[i] == kNoData) {
            s = kCellNoData;
          } else if (level[i] == 255) {
            s = kCellBelow;
          }
          if (s != kCellLevel) level[i] = 0;
          state[i] = s;
          ++c.level_cells[level[i]];
          c.outside += s == kCellOutside;
          c.no_data += s == kCellNoData;
          c.below += s == kCellBelow;
        }
        tiff->write(b.row, b.rows, level.data(), state.data());
        if (cells) cells->add(b.row, b.rows, level.data(), state.data());
        map.add(b.row, b.rows, grid.cols, level.data(), state.data());
      },
      progress, quantile ? 0.6 : 0.45, 0.97);
  c.level_cells[0] = 0;
  for (int k = 1; k <= o.levels; ++k) c.with_level += c.level_cells[static_cast<std::size_t>(k)];
  tiff->finish(c);
  tiff.reset();
  if (cells) cells->finish();

  // The record lists what was written, itself last.
  for (const std::string& n : names) {
    if (n == aux && !nrutil::is_regular_file(staging.file(aux))) continue;
    c.outputs.push_back(final_of(n));
  }
  write_text(staging.file(qml), final_of(qml), qml_text(c));
  write_text(staging.file(csv), final_of(csv), levels_csv(c));
  write_text(staging.file(html), final_of(html), compose_report(c, map, stack.boundary()));
  write_text(staging.file(json), final_of(json), compose_record(c));

  for (const std::string& n : names) {
    const std::string staged = staging.file(n);
    if (!nrutil::is_regular_file(staged)) {
      // A side file this run does not make (GDAL wrote no .aux.xml): an earlier one goes.
      if (::unlink(final_of(n).c_str()) != 0 && errno != ENOENT) {
        throw DataError(final_of(n) + ": cannot be removed (" + std::strerror(errno) + ")");
      }
      continue;
    }
    if (!nrutil::move_into_place(staged, final_of(n))) {
      throw DataError(final_of(n) + ": cannot be written (" + std::strerror(errno) + ")");
    }
    if (n != aux) res.written.push_back(final_of(n));
  }
  if (!mesh && nrutil::is_regular_file(final_of(gpkg))) {
    // The mesh cells of an earlier run no longer match the map.
    ::unlink(final_of(gpkg).c_str());
  }
  cleanup.keep = true;

  if (c.below > 0) {
    res.warnings.push_back(layers[0].arg.path + ": " + std::to_string(c.below) +
                           " valid cells have a sum below 0 and no level (equal levels start at "
                           "0): --classes minmax starts at the smallest sum");
  }
  res.rows = grid.rows;
  res.cols = grid.cols;
  res.levels = o.levels;
  res.with_level = c.with_level;
  res.no_data = c.no_data;
  res.outside = c.outside;
  res.below_levels = c.below;
  res.processing = processing;
  if (progress) progress(1.0);
  return res;
}

int compose_command(int argc, char** argv) {
  const ComposeOptions o = parse_compose_options(argc, argv);
  if (o.help) {
    std::fputs(kComposeHelp, stdout);
    return 0;
  }
  // GDAL's progress style on a terminal: 0...10...20 ... 100 - done.
  Progress progress;
  int shown = -1;
  if (isatty(STDERR_FILENO)) {
    progress = [&shown](double done) {
      const int step = static_cast<int>(done * 40.0 + 1e-9);
      while (shown < step) {
        ++shown;
        if (shown % 4 == 0) {
          std::fprintf(stderr, "%d", shown / 4 * 10);
        } else {
          std::fputc('.', stderr);
        }
      }
      if (done >= 1.0) std::fputs(" - done.\n", stderr);
    };
  }
  const ComposeResult r = run_compose(o, progress);
  for (const std::string& w : r.warnings)
    std::fprintf(stderr, "tessera_gis: warning: %s\n", w.c_str());
  for (const std::string& path : r.written) std::printf("%s\n", path.c_str());
  if (std::fflush(stdout) != 0) throw DataError("standard output cannot be written");
  return 0;
}

}  // namespace gis
