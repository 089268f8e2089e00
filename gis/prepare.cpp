// `tessera_gis prepare`: opens and checks the layers and the boundary, finds the union of
// their no-data, writes every file into the run's folder, and says what was done.
#include "gis/prepare.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <new>
#include <system_error>

#include "gis/ascii_writer.h"
#include "gis/common.h"
#include "gis/prepare_boundary.h"
#include "gis/prepare_cells.h"
#include "gis/prepare_grid.h"
#include "gis/prepare_options.h"
#include "gis/prepare_read.h"
#include "gis/prepare_run.h"
#include "nrutil/block.h"
#include "nrutil/files.h"
#include "rasterio/run_files.h"

namespace gis {

namespace {

namespace fs = std::filesystem;

constexpr GIntBig kBlockCache = GIntBig{64} << 20;

// The cost of each step, relative to reading a layer with its values checked (measured on
// grids of 4096 x 4096 cells): each step's share of the progress is its share of the cost.
constexpr double kBoundaryCost = 0.5;  // rasterising polygons, or reading a raster boundary
constexpr double kScanCost = 1.0;      // reading a layer, its no-data and its values checked
constexpr double kWriteCost = 1.3;     // reading it again and writing it as an ASCII grid
constexpr double kMaskCost = 0.6;      // writing the mask as an ASCII grid

ProgressSteps steps_of(const PrepareOptions& o, const Progress& progress) {
  const bool boundary = !o.boundary.empty();
  return ProgressSteps(progress,
                       (boundary ? kBoundaryCost + kMaskCost : 0.0) +
                           static_cast<double>(o.layers.size()) * (kScanCost + kWriteCost));
}

struct Layer {
  LayerArg arg;
  std::string name;  // of its .asc file, without extension
  GDALDatasetUniquePtr source;
  GDALDatasetUniquePtr resampled;  // onto the first layer's grid, with --align
  LayerScan scan;
  std::int64_t zeros = 0;  // data cells of the run where it holds 0

  GDALRasterBand& band() const { return *(resampled ? resampled : source)->GetRasterBand(1); }
  std::string type() const {
    return GDALGetDataTypeName(source->GetRasterBand(1)->GetRasterDataType());
  }
};

std::string lower(std::string s) {
  for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  return s;
}

// The file name of a layer in the run: its file name without extension, with the bytes that
// tessera_summary cannot take in a name (blanks, control bytes, backslashes) made "_".
std::string layer_name(const std::string& path, std::size_t k) {
  std::string name = fs::path(path).stem().string();
  for (char& c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= ' ' || b == 0x7f || c == '\\' || c == ':') c = '_';
  }
  return name.empty() ? "layer" + std::to_string(k + 1) : name;
}

// Every file gets its own name in the folder, compared without regard to case (the folder
// may be copied to a system that ignores it): layers between themselves, against the mask,
// and against the files the run will write.
void check_names(const std::vector<Layer>& layers, const PrepareOptions& o) {
  const std::vector<std::string> outputs = run_output_files(o.result, o.output.answer);
  for (std::size_t k = 0; k < layers.size(); ++k) {
    const std::string name = lower(layers[k].name);
    for (std::size_t e = 0; e < k; ++e) {
      if (lower(layers[e].name) == name) {
        throw UsageError("layers " + layers[e].arg.path + " and " + layers[k].arg.path +
                         " would both be written as " + layers[k].name +
                         ".asc: give one of them another file name");
      }
    }
    if (!o.boundary.empty() && name == kMaskName) {
      throw UsageError("layer " + layers[k].arg.path + " would be written as " + kMaskName +
                       ".asc, the boundary's file: give it another file name");
    }
    for (const std::string& out : outputs) {
      if (lower(out) == name + ".asc" || lower(out) == name + ".prj") {
        throw UsageError("layer " + layers[k].arg.path + " would be written as " + layers[k].name +
                         ".asc, which the run writes as its result " + out +
                         ": choose another --result");
      }
    }
  }
}

// A file that a step of the way from the layers to the map writes, with what writes it ("" for
// prepare itself).
struct Written {
  std::string path;
  std::string by;
};

// Refuses a layer or boundary (or a side file of one) that prepare, the run or the export of
// its result would write over: a layer prepared in its own folder, a layer named like the
// map that export makes of the result.
void check_inputs_kept(const std::vector<Written>& outputs, const std::vector<Layer>& layers,
                       const std::string& boundary) {
  std::vector<std::string> inputs;
  const auto add_files = [&inputs](GDALDataset& ds) {
    const CPLStringList files(ds.GetFileList());
    for (int i = 0; i < files.size(); ++i) inputs.emplace_back(files[i]);
  };
  for (const Layer& l : layers) add_files(*l.source);
  if (!boundary.empty()) {
    inputs.push_back(boundary);
    const GDALDatasetUniquePtr ds(
        GDALDataset::Open(boundary.c_str(), GDAL_OF_VECTOR | GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (ds) add_files(*ds);
  }
  for (const std::string& in : inputs) {
    for (const Written& out : outputs) {
      std::error_code ec;
      if (!fs::equivalent(out.path, in, ec) || ec) continue;
      if (out.by.empty()) {
        throw UsageError(out.path + " would replace the input file " + in +
                         ": choose another --out folder");
      }
      throw UsageError(out.path + ", which " + out.by + ", would replace the input file " + in +
                       ": choose another --result or --out folder");
    }
  }
}

std::string wkt_for_prj(const Grid& grid) {
  const char* const options[] = {"FORMAT=WKT1_ESRI", nullptr};
  char* wkt = nullptr;
  if (grid.srs->exportToWkt(&wkt, options) != OGRERR_NONE || wkt == nullptr) {
    CPLFree(wkt);
    return "";
  }
  std::string text = wkt;
  CPLFree(wkt);
  return text;
}

// Refuses a grid that the memory cannot hold, before anything of its size is allocated: the
// state of every cell (a byte each), a reader of a band, the ASCII writer and a row of its
// bytes, and GDAL's block cache.
void check_memory(const Grid& grid, const std::string& path) {
  constexpr std::int64_t kMiB = std::int64_t{1} << 20;
  const std::int64_t cells = std::int64_t{grid.cols} * grid.rows;
  const std::int64_t needed = cells + BandReader::bytes_needed(grid.cols) +
                              static_cast<std::int64_t>(AsciiGridWriter::bytes_needed(grid.cols)) +
                              grid.cols + GDALGetCacheMax64();
  const std::int64_t memory = nrutil::memory_bytes();
  if (memory > 0 && needed > memory) {
    throw DataError(path + ": its grid of " + std::to_string(grid.cols) + " x " +
                    std::to_string(grid.rows) +
                    " cells is larger than the memory available (about " +
                    std::to_string((needed + kMiB - 1) / kMiB) + " MiB needed, " +
                    std::to_string(memory / kMiB) +
                    " MiB available): cut it into parts, or make its cells larger "
                    "(gdalwarp -tr)");
  }
}

// The layers, named and opened, on the first layer's grid (the run's grid).
std::vector<Layer> open_layers(const PrepareOptions& o, Grid& grid,
                               std::vector<std::string>& warnings) {
  std::vector<Layer> layers(o.layers.size());
  for (std::size_t k = 0; k < layers.size(); ++k) {
    layers[k].arg = o.layers[k];
    layers[k].name = layer_name(o.layers[k].path, k);
  }
  check_names(layers, o);
  for (Layer& l : layers) l.source = open_raster(l.arg.path);
  const std::string& grid_path = layers[0].arg.path;
  grid = grid_of(*layers[0].source);
  if (std::string w = check_run_grid(grid, grid_path); !w.empty()) warnings.push_back(w);
  check_memory(grid, grid_path);
  for (std::size_t k = 1; k < layers.size(); ++k) {
    layers[k].resampled =
        bring_onto(*layers[k].source, layers[k].arg.path, grid, grid_path, o.align);
  }
  return layers;
}

// The state of every cell: the boundary first, then each layer's no-data; refuses values
// that are not whole numbers 0..254 and a run without a single data cell.
std::vector<unsigned char> cell_states(const PrepareOptions& o, const Grid& grid,
                                       std::vector<Layer>& layers,
                                       std::vector<std::string>& warnings, ProgressSteps& steps) {
  std::vector<unsigned char> state;
  try {
    state.reserve(grid.cells());
  } catch (const std::bad_alloc&) {
    throw DataError(layers[0].arg.path + ": its grid of " + std::to_string(grid.cols) + " x " +
                    std::to_string(grid.rows) + " cells is larger than the memory available");
  }
  if (o.boundary.empty()) {
    state.assign(grid.cells(), kData);
  } else {
    boundary_cells(o.boundary, grid, layers[0].arg.path, o.align, state, warnings,
                   steps.next(kBoundaryCost));
    if (std::count(state.begin(), state.end(), kData) == 0) {
      throw DataError(o.boundary +
                      ": no cell centre of the layers' grid lies inside the "
                      "boundary: check that it covers the layers (" +
                      srs_label(grid.srs) + ")");
    }
  }
  for (Layer& l : layers) {
    BandReader reader(l.band(), l.arg.path);
    l.scan = scan_layer(reader, grid.rows, grid.cols, state, steps.next(kScanCost));
    if (l.scan.bad_cells > 0) {
      // 255 and -9999 are the usual no-data values of a band that does not declare one.
      const double undeclared = l.scan.max == 255.0 ? 255.0 : l.scan.min == -9999.0 ? -9999.0 : 0;
      std::string hint;
      if (undeclared != 0) {
        const std::string v = exact_decimal(undeclared);
        hint = "; if " + v + " marks no data, declare it: gdal_edit.py -a_nodata " + v + " " +
               l.arg.path;
      }
      throw DataError(
          l.arg.path + ": " + std::to_string(l.scan.bad_cells) + " of its " +
          std::to_string(l.scan.data_cells) +
          " data cells are not whole numbers from 0 to 254 (the first, at pixel " +
          std::to_string(l.scan.bad_pixel) + " line " + std::to_string(l.scan.bad_line) +
          ", holds " + exact_decimal(l.scan.first_bad) + "; its values" + reader.scaling() +
          " range from " + exact_decimal(l.scan.min) + " to " + exact_decimal(l.scan.max) +
          "): reclassify it into whole classes 0..254 first, for example with "
          "gdal_calc.py or the QGIS raster calculator, keeping its no-data value" +
          hint);
    }
  }
  if (std::count(state.begin(), state.end(), kData) == 0) {
    throw DataError(o.boundary.empty()
                        ? "no cell holds data in every layer: the layers' data do not overlap"
                        : o.boundary +
                              ": the boundary leaves no cell that holds data in every "
                              "layer: check that it covers the layers' data");
  }
  return state;
}

// The files the command writes into the run's folder: the layers and the mask with their
// .prj when the layers have a CRS (`with_prj`), and run.txt.
std::vector<std::string> output_files(const PrepareOptions& o, const std::string& dir,
                                      const std::vector<Layer>& layers, bool with_prj) {
  std::vector<std::string> outputs;
  for (const Layer& l : layers) {
    outputs.push_back(dir + l.name + ".asc");
    if (with_prj) outputs.push_back(dir + l.name + ".prj");
  }
  if (!o.boundary.empty()) {
    outputs.push_back(dir + kMaskName + ".asc");
    if (with_prj) outputs.push_back(dir + kMaskName + ".prj");
  }
  outputs.push_back(dir + kRunFile);
  return outputs;
}

// The files of an earlier preparation that would mislead: the .aux.xml GDAL or QGIS kept
// beside each grid replaced (statistics and histogram of the old values) and, without a CRS,
// the .prj of each layer and of the mask (the run copies the first it finds beside its inputs)
// and the run's R_tessum.prj (an ASCII result would be left beside it, since the run writes
// none then).
std::vector<std::string> stale_files(const PrepareOptions& o, const std::string& dir,
                                     const std::vector<Layer>& layers, bool with_prj) {
  std::vector<std::string> stale;
  for (const Layer& l : layers) stale.push_back(dir + l.name + ".asc.aux.xml");
  if (!o.boundary.empty()) stale.push_back(dir + kMaskName + ".asc.aux.xml");
  if (with_prj) return stale;
  for (const Layer& l : layers) stale.push_back(dir + l.name + ".prj");
  if (!o.boundary.empty()) stale.push_back(dir + kMaskName + ".prj");
  stale.push_back(dir + rasterio::RunFiles::of(o.result).prj);
  return stale;
}

// Writes every file of the run's folder. Each is written under a temporary name and all are
// renamed into place at the end, so that a failure leaves no file half-written; then the
// stale files of an earlier preparation are removed.
void write_folder(const PrepareOptions& o, const RunFolder& where, const Grid& grid,
                  const std::string& prj, std::vector<Layer>& layers,
                  const std::vector<unsigned char>& state, ProgressSteps& steps) {
  const std::string dir = where.path + "/";
  std::deque<StagedFile> files;  // a deque keeps the writers' references valid
  const auto write_prj = [&](const std::string& name) {
    if (prj.empty()) return;
    files.emplace_back(dir + name + ".prj");
    files.back().write(prj);
  };
  AsciiGridHeader header{grid.cols, grid.rows, grid.xll(), grid.yll(), grid.cell_size(), 255};
  std::vector<rasterio::ScriptedImage> images;
  for (std::size_t k = 0; k < layers.size(); ++k) {
    // No-data reaches the run as 0 in the first image (shown as background) and 255 in the
    // others (no level); the header's NODATA_value tells a GIS the same.
    const unsigned char fill = k == 0 ? 0 : 255;
    header.nodata = fill;
    AsciiGridWriter out(files.emplace_back(dir + layers[k].name + ".asc"), header);
    BandReader reader(layers[k].band(), layers[k].arg.path);
    layers[k].zeros =
        write_layer(reader, grid.rows, grid.cols, state, fill, out, steps.next(kWriteCost));
    write_prj(layers[k].name);
    images.push_back(
        {layers[k].name, rasterio::code_of(rasterio::Format::Ascii), layers[k].arg.weight});
  }
  if (!o.boundary.empty()) {
    header.nodata = 255;
    AsciiGridWriter out(files.emplace_back(dir + kMaskName + ".asc"), header);
    write_mask(grid.rows, grid.cols, state, out, steps.next(kMaskCost));
    write_prj(kMaskName);
  }
  files.emplace_back(dir + kRunFile)
      .write(
          rasterio::answers_text(scripted_run(o, where, std::move(images), !o.boundary.empty())));
  for (StagedFile& f : files) f.commit();
  for (const std::string& old : stale_files(o, dir, layers, !prj.empty())) {
    if (::unlink(old.c_str()) != 0 && errno != ENOENT) {
      throw DataError(old + ": cannot be removed (" + file_error_text(errno) + ")");
    }
  }
}

// What was done, for the user: the layers, the cells set to no-data, and the warnings, the
// first layer's 0 cells last.
PrepareResult result_of(const PrepareOptions& o, const RunFolder& where, const Grid& grid,
                        const std::vector<Layer>& layers, const std::vector<unsigned char>& state,
                        std::vector<std::string>& warnings) {
  PrepareResult r;
  r.folder = where.path;
  r.cols = grid.cols;
  r.rows = grid.rows;
  r.cell_size = grid.cell_size();
  r.crs = srs_label(grid.srs);
  for (const Layer& l : layers) {
    r.layers.push_back({l.name, l.type(), l.scan.nodata_cells, l.scan.data_cells, l.scan.min,
                        l.scan.max, l.arg.weight, l.arg.path, l.resampled != nullptr});
  }
  r.data_cells = std::count(state.begin(), state.end(), kData);
  r.outside_cells = std::count(state.begin(), state.end(), kOutside);
  r.nodata_cells = static_cast<std::int64_t>(state.size()) - r.data_cells - r.outside_cells;
  if (!o.boundary.empty()) r.mask = std::string(kMaskName) + ".asc";
  r.answers = where.path + "/" + kRunFile;

  if (layers[0].zeros > 0) {
    std::string free_of_zero;
    for (std::size_t k = 1; k < layers.size(); ++k) {
      if (layers[k].zeros == 0) {
        free_of_zero += (free_of_zero.empty() ? "" : ", ") + layers[k].arg.path;
      }
    }
    warnings.push_back(
        layers[0].arg.path + ": the first layer holds 0 in " + std::to_string(layers[0].zeros) +
        " data cells, which tessera_summary shows as background (255): " +
        (free_of_zero.empty() ? std::string("no other layer is free of 0 there")
                              : "put first a layer free of 0 there: " + free_of_zero));
  }
  r.warnings = std::move(warnings);
  return r;
}

// Refuses a result name that makes a name too long for the folder (the longest first) among
// the files that the run and the export of its result write.
void check_result_names(const PrepareOptions& o, const RunFolder& where) {
  std::vector<std::string> names = run_output_files(o.result, o.output.answer);
  for (std::string& n : rasterio::export_files(o.result)) names.push_back(std::move(n));
  std::stable_sort(names.begin(), names.end(),
                   [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  for (const std::string& n : names) {
    if (!nrutil::name_fits(where.path + "/" + n)) {
      throw UsageError("--result " + o.result + ": the run or its export would write " + n +
                       ", a name longer than the folder allows: choose a shorter --result");
    }
  }
}

}  // namespace

PrepareResult run_prepare(const PrepareOptions& o, const Progress& progress) {
  const RunFolder where = run_folder(o.out_dir);
  check_result_names(o, where);
  const GdalSession gdal;
  const BlockCacheLimit cache(kBlockCache);
  ProgressSteps steps = steps_of(o, progress);
  if (progress) progress(0.0);
  std::vector<std::string> warnings;
  Grid grid;
  std::vector<Layer> layers = open_layers(o, grid, warnings);
  const std::vector<unsigned char> state = cell_states(o, grid, layers, warnings, steps);

  std::error_code ec;
  const bool created = fs::create_directories(where.path, ec);
  if (ec || !fs::is_directory(where.path)) {
    throw DataError(where.path + ": cannot be created as a folder" +
                    (ec ? " (" + ec.message() + ")" : std::string()));
  }
  const std::string prj = grid.srs ? wkt_for_prj(grid) : "";
  if (prj.empty()) {
    warnings.push_back(layers[0].arg.path +
                       (grid.srs ? ": its CRS has no ESRI WKT form" : ": has no CRS") +
                       ": no .prj file is written (and any of an earlier preparation is "
                       "removed)");
  }
  try {
    const std::string dir = where.path + "/";
    std::vector<Written> touched;
    for (std::string& f : output_files(o, dir, layers, !prj.empty())) touched.push_back({f, ""});
    for (std::string& f : stale_files(o, dir, layers, !prj.empty())) touched.push_back({f, ""});
    for (const std::string& f : run_output_files(o.result, o.output.answer)) {
      touched.push_back({dir + f, "the run writes"});
    }
    for (const std::string& f : rasterio::export_files(o.result)) {
      touched.push_back({dir + f, "tessera_gis export writes from the run's result"});
    }
    check_inputs_kept(touched, layers, o.boundary);
    write_folder(o, where, grid, prj, layers, state, steps);
  } catch (...) {
    if (created) fs::remove(where.path, ec);  // only when still empty
    throw;
  }
  if (progress) progress(1.0);
  return result_of(o, where, grid, layers, state, warnings);
}

}  // namespace gis
