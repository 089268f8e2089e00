// The export command: reads the run record and the result image, finds the coordinate
// reference system, and writes the GeoTIFF, the PNG map and the report page into a staging
// folder beside the result; they are moved into place only once all are complete.
#include "gis/export.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "cpl_conv.h"
#include "cpl_error.h"
#include "cpl_string.h"
#include "cpl_vsi.h"
#include "gdal_priv.h"
#include "gis/command_line.h"
#include "gis/common.h"
#include "gis/export_html.h"
#include "gis/export_record.h"
#include "gis/export_style.h"
#include "nrutil/files.h"
#include "ogr_spatialref.h"
#include "rasterio/run_files.h"

namespace gis {

const std::string kExportHelp =
    std::string(
        "Usage: tessera_gis export R [--palette NAME] [--title TEXT]\n"
        "                          [--progress | --quiet]\n"
        "\n"
        "Reads R_run.json, written by tessera_summary beside its result (R is the result's name\n"
        "with its folder, as for R_info.txt), and the result image it names, and writes:\n"
        "  R.tif            GeoTIFF, one byte a cell, with the run's corner and cell size, the\n"
        "                   CRS of R_tessum.prj or of the inputs' .prj, no-data 255, a colour\n"
        "                   table and category names (R.tif.aux.xml)\n"
        "  R_map.png        the same colours, one pixel a cell, with R_map.wld and the CRS in\n"
        "                   R_map.png.aux.xml\n"
        "  R_report.html    a self-contained report page: map, legend, chart, parameters\n"
        "\n"
        "Options:\n"
        "  --palette NAME    colours of the levels: viridis (default) or ylorrd\n"
        "  --title TEXT      title of the report page and of the GeoTIFF\n") +
    kProgressHelp + "  --help            this text\n";

namespace {

namespace fs = std::filesystem;

// The cost of each step, relative to writing the PNG map (measured on a grid of 4096 x 4096
// cells): each step's share of the progress is its share of the cost.
constexpr double kReadAsciiCost = 1.1;      // reading an ASCII grid result: its text parsed
constexpr double kReadCost = 0.05;          // reading a raw or BMP result
constexpr double kGeoTiffCost = 0.2;        // the GeoTIFF, compressed as GDAL closes it
constexpr double kGeoTiffCellsShare = 0.1;  // of which: its cells handed to GDAL
constexpr double kPngCost = 1.0;
constexpr double kPageCost = 0.05;  // the report page

}  // namespace

ExportOptions parse_export_options(int argc, char** argv) {
  ExportOptions o;
  bool have_base = false;
  bool have_title = false;
  for (CommandLine a(argc, argv); a.next();) {
    const std::string arg(a.arg());
    if (a.help()) {
      o.help = true;
      return o;
    } else if (a.is("--palette")) {
      o.palette = a.value("--palette");
    } else if (a.is("--title")) {
      o.title = a.value("--title");
      have_title = true;
    } else if (take_progress_option(arg, o.progress)) {
    } else if (!a.operand() || (arg.size() > 1 && arg[0] == '-')) {
      throw UsageError("export: unknown option '" + arg + "'");
    } else if (have_base) {
      throw UsageError("export: one result name only ('" + arg + "' is one too many)");
    } else {
      o.base = arg;
      have_base = true;
    }
  }
  if (!have_base || o.base.empty()) throw UsageError("export: the result name R is missing");
  colour_table(o.palette, 1);  // an unknown palette is a usage error, found before any work
  if (!have_title) o.title = "Composite diversity index: " + fs::path(o.base).filename().string();
  return o;
}

namespace {

// The coordinate reference system of the outputs and the file it was read from.
struct Crs {
  OGRSpatialReference srs;
  std::string source;
  bool found = false;
};

// The largest .prj read: a coordinate system's text is a few KiB.
constexpr std::uintmax_t kMaxPrjBytes = std::uintmax_t{1} << 20;

// Reads a .prj (WKT in any of GDAL's dialects, or an older ESRI projection file).
void read_prj(const std::string& path, Crs& crs) {
  const std::string text = read_file(path, kMaxPrjBytes);
  crs.srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  CPLErrorReset();
  if (crs.srs.importFromWkt(text.c_str()) != OGRERR_NONE) {
    char** lines = CSLTokenizeString2(text.c_str(), "\r\n", 0);
    const OGRErr e = crs.srs.importFromESRI(lines);
    CSLDestroy(lines);
    if (e != OGRERR_NONE) {
      throw DataError(path + ": not a coordinate reference system GDAL can read");
    }
  }
  crs.source = path;
  crs.found = true;
}

// The CRS of the .prj that the record names beside the result (R_tessum.prj, carried by the
// run); else of the first input (in the record's order, then the mask) that has a .prj beside
// it. Adds to `notes` what was found but not used, and why.
Crs find_crs(const RunRecord& rec, const std::string& base, std::vector<std::string>& notes) {
  std::vector<std::string> candidates;
  if (rec.result_prj) {
    candidates.push_back(rec.beside(*rec.result_prj));
    if (!nrutil::is_regular_file(candidates[0]) && !nrutil::is_non_regular(candidates[0])) {
      notes.push_back(candidates[0] + ", named by " + rec.path + ", cannot be found");
    }
  } else if (const std::string stale = rasterio::RunFiles::of(base).prj;
             nrutil::is_regular_file(stale)) {
    notes.push_back(stale + " is not used: " + rec.path +
                    " names no .prj of the result (it is left from an earlier run)");
  }
  auto beside = [&](const std::string& file) {
    return fs::path(rec.beside(file)).replace_extension(".prj").string();
  };
  for (const InputImage& im : rec.inputs) candidates.push_back(beside(im.file));
  if (rec.mask) candidates.push_back(beside(*rec.mask));
  Crs crs;
  for (const std::string& c : candidates) {
    if (nrutil::is_regular_file(c)) {
      read_prj(c, crs);
      break;
    }
    if (nrutil::is_non_regular(c)) notes.push_back(c + " is not used: it is not a regular file");
  }
  return crs;
}

// Files are written into a private folder beside the outputs and moved into place together
// once all are complete; whatever goes wrong, the folder and its content are removed.
class Staging {
 public:
  explicit Staging(const std::string& folder) : folder_(folder) {
    if (!dir_.make(folder)) {
      throw DataError(folder + ": cannot write there (" + std::strerror(errno) + ")");
    }
  }
  std::string file(const std::string& name) const { return dir_.file(name); }
  std::string final_name(const std::string& name) const {
    return (fs::path(folder_) / name).string();
  }
  // Moves the staged files of `names` into place; a name that was not staged is removed from
  // the folder, so that no side file of an earlier export stays beside the new files.
  void commit(const std::vector<std::string>& names) const {
    for (const std::string& n : names) {
      const std::string target = final_name(n);
      if (nrutil::is_regular_file(file(n))) {
        if (!nrutil::move_into_place(file(n), target)) {
          throw DataError(target + ": cannot be written (" + std::strerror(errno) + ")");
        }
      } else if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
        throw DataError(target + ": cannot be removed (" + std::strerror(errno) + ")");
      }
    }
  }

 private:
  std::string folder_;
  nrutil::StagingDir dir_;
};

// Georeferencing, no-data, colours and category names of band 1, as every output carries
// them; each setter checked, a failure naming `name`.
void style(GDALDataset& ds, const std::string& name, const RunRecord& rec, const Crs& crs,
           const std::array<Rgba, 256>& colours) {
  if (rec.cell_size && rec.x_min && rec.y_min) {
    double gt[6] = {*rec.x_min, *rec.cell_size, 0.0, *rec.y_min + rec.rows * *rec.cell_size,
                    0.0,        -*rec.cell_size};
    check_set(ds.SetGeoTransform(gt), name, "georeferencing");
  }
  if (crs.found) check_set(ds.SetSpatialRef(&crs.srs), name, "coordinate reference system");
  GDALRasterBand* band = ds.GetRasterBand(1);
  check_set(band->SetNoDataValue(255), name, "no-data value");
  GDALColorTable table;
  for (int v = 0; v < 256; ++v) {
    const Rgba& c = colours[static_cast<std::size_t>(v)];
    const GDALColorEntry e{c.r, c.g, c.b, c.a};
    table.SetColorEntry(v, &e);
  }
  check_set(band->SetColorTable(&table), name, "colour table");
  check_set(band->SetColorInterpretation(GCI_PaletteIndex), name, "colour interpretation");
  const std::vector<std::string> names = category_names(rec);
  CPLStringList list;
  for (const std::string& n : names) list.AddString(n.c_str());
  check_set(band->SetCategoryNames(list.List()), name, "category names");
  set_description(*band, "diversity level", name);
}

void put_cells(GDALDataset& ds, const RunRecord& rec, std::vector<unsigned char>& cells,
               const std::string& name, const Progress& progress) {
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.pfnProgress = gdal_progress;
  extra.pProgressData = const_cast<Progress*>(&progress);
  if (ds.GetRasterBand(1)->RasterIO(GF_Write, 0, 0, rec.cols, rec.rows, cells.data(), rec.cols,
                                    rec.rows, GDT_Byte, 0, 0, &extra) != CE_None) {
    write_failed(name);
  }
}

void write_geotiff(const std::string& staged, const std::string& name, const RunRecord& rec,
                   std::vector<unsigned char>& cells, const Crs& crs,
                   const std::array<Rgba, 256>& colours, const std::string& title,
                   const Progress& progress) {
  GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (drv == nullptr) throw DataError(name + ": GDAL has no GTiff driver");
  CPLStringList opts;
  // DEFLATE (through libdeflate where GDAL has it), the strips compressed on every core.
  opts.SetNameValue("COMPRESS", "DEFLATE");
  opts.SetNameValue("NUM_THREADS", "ALL_CPUS");
  CPLErrorReset();
  GDALDatasetUniquePtr ds(
      drv->Create(staged.c_str(), rec.cols, rec.rows, 1, GDT_Byte, opts.List()));
  if (!ds) write_failed(name);
  style(*ds, name, rec, crs, colours);
  check_set(ds->SetMetadataItem("TIFFTAG_IMAGEDESCRIPTION", title.c_str()), name, "title");
  check_set(ds->SetMetadataItem("TIFFTAG_SOFTWARE", "tessera_gis export"), name, "metadata");
  put_cells(*ds, rec, cells, name, part_of(progress, 0.0, kGeoTiffCellsShare));
  close_output(ds, name);
  if (progress) progress(1.0);
}

void write_png(const std::string& staged, const std::string& name, const RunRecord& rec,
               std::vector<unsigned char>& cells, const Crs& crs,
               const std::array<Rgba, 256>& colours, const Progress& progress) {
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
  if (mem == nullptr || png == nullptr) throw DataError(name + ": GDAL has no PNG driver");
  CPLErrorReset();
  GDALDatasetUniquePtr src(mem->Create("", rec.cols, rec.rows, 1, GDT_Byte, nullptr));
  if (!src) write_failed(name);
  style(*src, name, rec, crs, colours);
  put_cells(*src, rec, cells, name, Progress());
  CPLStringList opts;
  opts.SetNameValue("WORLDFILE", "YES");
  GDALDatasetUniquePtr out(png->CreateCopy(staged.c_str(), src.get(), FALSE, opts.List(),
                                           gdal_progress, const_cast<Progress*>(&progress)));
  src.reset();
  if (!out) write_failed(name);
  close_output(out, name);
}

void write_text(const std::string& staged, const std::string& name, const std::string& text) {
  switch (nrutil::replace_file(staged, text)) {
    case nrutil::Replace::Done:
      return;
    case nrutil::Replace::CannotCreate:
      throw DataError(name + ": cannot be created (" + file_error_text(errno) + ")");
    case nrutil::Replace::CannotWrite:
      break;
  }
  throw DataError(name + ": cannot be written (" + file_error_text(errno) + ")");
}

// Whether the outputs' cell size is in metres: a projected CRS in metres, or no CRS (the
// cell size of tessera_summary is in metres).
bool in_metres(const Crs& crs) {
  if (!crs.found) return true;
  return crs.srs.IsProjected() && std::fabs(crs.srs.GetLinearUnits() - 1.0) < 1e-12;
}

// Refuses an output that would replace a file the record names: an input image, its .prj or
// descriptor, the mask, the result, the record itself.
void check_inputs_kept(const RunRecord& rec, const std::vector<std::string>& outputs) {
  std::vector<std::string> inputs = {rec.path, rec.result_path()};
  const auto add = [&](const std::string& name_as_built) {
    const std::string file = rec.beside(name_as_built);
    inputs.push_back(file);
    inputs.push_back(fs::path(file).replace_extension(".prj").string());
    inputs.push_back(fs::path(file).replace_extension(".txt").string());
  };
  for (const InputImage& im : rec.inputs) add(im.file);
  if (rec.mask) add(*rec.mask);
  if (rec.result_prj) inputs.push_back(rec.beside(*rec.result_prj));
  for (const std::string& out : outputs) {
    for (const std::string& in : inputs) {
      std::error_code ec;
      if (fs::equivalent(out, in, ec) && !ec) {
        throw DataError(out + ": cannot be written: it would replace " + in +
                        ", a file of the run named by " + rec.path);
      }
    }
  }
}

}  // namespace

ExportResult run_export(const ExportOptions& o, const Progress& progress) {
  const GdalSession gdal;
  if (progress) progress(0.0);
  const rasterio::RunFiles run = rasterio::RunFiles::of(o.base);
  const RunRecord rec = read_record(run.record);
  const double read_cost = rec.result_format == "ascii" ? kReadAsciiCost : kReadCost;
  ProgressSteps steps(progress, read_cost + kGeoTiffCost + kPngCost + kPageCost);
  std::vector<unsigned char> cells = read_result(rec, steps.next(read_cost));
  const std::array<Rgba, 256> colours = colour_table(o.palette, rec.count);
  ExportResult result;
  const Crs crs = find_crs(rec, o.base, result.notes);

  const fs::path base(o.base);
  const std::string stem = base.filename().string();
  const std::string folder = base.has_parent_path() ? base.parent_path().string() : ".";
  const std::vector<std::string> names = rasterio::export_files(stem);
  const std::string& tif = names[0];
  const std::string& png = names[2];
  const std::string& html = names[5];
  std::vector<std::string> finals;
  for (const std::string& n : names) {
    finals.push_back((fs::path(folder) / n).string());
    if (fs::is_directory(finals.back())) {
      throw DataError(finals.back() + ": cannot be written (a folder has this name)");
    }
  }
  check_inputs_kept(rec, finals);
  Staging st(folder);

  // The map is compressed beside the GeoTIFF, on a thread of its own; both read the cells.
  // The GeoTIFF's progress stands for both (a progress is told from one thread only).
  std::exception_ptr map_failed;
  std::thread map([&] {
    try {
      write_png(st.file(png), st.final_name(png), rec, cells, crs, colours, Progress());
    } catch (...) {
      map_failed = std::current_exception();
    }
  });
  std::exception_ptr tiff_failed;
  try {
    write_geotiff(st.file(tif), st.final_name(tif), rec, cells, crs, colours, o.title,
                  steps.next(kGeoTiffCost + kPngCost));
  } catch (...) {
    tiff_failed = std::current_exception();
  }
  map.join();
  if (tiff_failed) std::rethrow_exception(tiff_failed);
  if (map_failed) std::rethrow_exception(map_failed);
  ReportPage page;
  page.title = o.title;
  page.palette = o.palette;
  page.png = read_file(st.file(png), std::numeric_limits<std::uintmax_t>::max());
  if (crs.found) {
    page.crs_name = crs.srs.GetName() != nullptr ? crs.srs.GetName() : "unnamed";
    page.crs_source = crs.source;
  }
  page.metres = in_metres(crs);
  write_text(st.file(html), st.final_name(html), report_html(rec, colours, page));
  st.commit(names);

  if (!crs.found) {
    result.notes.push_back("no coordinate reference system (no .prj of the result named by " +
                           rec.path +
                           ", and no .prj beside the inputs it names): the outputs carry none");
  }
  if (!(rec.cell_size && rec.x_min && rec.y_min)) {
    result.notes.push_back(rec.path +
                           " gives no lower-left corner or cell size: the outputs are not "
                           "georeferenced");
  }
  for (const std::string& n : {tif, png, html}) result.written.push_back(st.final_name(n));
  if (progress) progress(1.0);
  return result;
}

}  // namespace gis
