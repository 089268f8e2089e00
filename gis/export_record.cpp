// Reading the run record and the result image it names, each checked against the other.
#include "gis/export_record.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <string_view>

#include "core/cell_loops.h"
#include "cpl_conv.h"
#include "cpl_error.h"
#include "gdal_priv.h"
#include "gis/common.h"
#include "nrutil/block.h"
#include "nrutil/files.h"
#include "rasterio/formats.h"
#include "rasterio/run_files.h"

namespace gis {

namespace {

using nlohmann::json;

// Records are a few kilobytes; anything this large is not one.
constexpr std::uintmax_t kMaxRecordBytes = 64u << 20;

// Field access that names the record and the field when the record is damaged.
class Fields {
 public:
  explicit Fields(std::string file) : file_(std::move(file)) {}

  [[noreturn]] void damaged(const std::string& what) const {
    throw DataError(file_ + ": damaged run record: " + what);
  }
  const json& member(const json& obj, const std::string& where, const char* key) const {
    if (!obj.is_object()) damaged(where + " is not an object");
    const auto it = obj.find(key);
    if (it == obj.end()) damaged(join(where, key) + " is missing");
    return *it;
  }
  const json& array(const json& obj, const std::string& where, const char* key) const {
    const json& v = member(obj, where, key);
    if (!v.is_array()) damaged(join(where, key) + " is not an array");
    return v;
  }
  std::int64_t integer(const json& obj, const std::string& where, const char* key, std::int64_t lo,
                       std::int64_t hi) const {
    const json& v = member(obj, where, key);
    if (!v.is_number_integer()) damaged(join(where, key) + " is not an integer");
    const auto x = v.get<std::int64_t>();
    if (x < lo || x > hi) damaged(join(where, key) + " is out of range");
    return x;
  }
  double real(const json& obj, const std::string& where, const char* key) const {
    const json& v = member(obj, where, key);
    if (!v.is_number()) damaged(join(where, key) + " is not a number");
    const auto x = v.get<double>();
    if (!std::isfinite(x)) damaged(join(where, key) + " is not a finite number");
    return x;
  }
  std::optional<double> real_or_null(const json& obj, const std::string& where,
                                     const char* key) const {
    if (member(obj, where, key).is_null()) return std::nullopt;
    return real(obj, where, key);
  }
  std::string text(const json& obj, const std::string& where, const char* key) const {
    const json& v = member(obj, where, key);
    if (!v.is_string()) damaged(join(where, key) + " is not a string");
    return v.get<std::string>();
  }
  std::optional<std::string> text_or_null(const json& obj, const std::string& where,
                                          const char* key) const {
    if (member(obj, where, key).is_null()) return std::nullopt;
    return text(obj, where, key);
  }
  // A file name: obj[key], or exactly, when the record keeps them, the bytes of
  // obj[key + "_bytes"] (hexadecimal digits), written for a name that is not UTF-8.
  std::string name(const json& obj, const std::string& where, const char* key) const {
    const std::string readable = text(obj, where, key);
    const std::string bytes_key = std::string(key) + "_bytes";
    if (!obj.contains(bytes_key)) return readable;
    const std::string hex = text(obj, where, bytes_key.c_str());
    const auto digit = [](char c) {
      return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    std::string exact;
    bool ok = !hex.empty() && hex.size() % 2 == 0;
    for (std::size_t i = 0; ok && i < hex.size(); i += 2) {
      const int hi = digit(hex[i]);
      const int lo = digit(hex[i + 1]);
      ok = hi >= 0 && lo >= 0 && hi * 16 + lo != 0;  // a name holds no NUL byte
      exact += static_cast<char>(hi * 16 + lo);
    }
    if (!ok)
      damaged(join(where, bytes_key.c_str()) + " is not a name's bytes in hexadecimal digits");
    return exact;
  }
  std::optional<std::string> name_or_null(const json& obj, const std::string& where,
                                          const char* key) const {
    if (member(obj, where, key).is_null()) return std::nullopt;
    return name(obj, where, key);
  }

  static std::string join(const std::string& where, const char* key) {
    return where.empty() ? std::string(key) : where + "." + key;
  }
  static std::string at(const std::string& where, std::size_t n) {
    return where + "[" + std::to_string(n) + "]";
  }

 private:
  std::string file_;
};

constexpr std::int64_t kMaxCells = std::numeric_limits<std::int64_t>::max();

void read_levels(const Fields& f, const json& root, RunRecord& rec) {
  const json& lv = f.member(root, "", "levels");
  // Levels are bytes of the result; 0, 254 and 255 have other meanings.
  rec.count = static_cast<int>(f.integer(lv, "levels", "count", 1, 253));
  rec.max_sum = f.real(lv, "levels", "max_sum");
  rec.step = f.real(lv, "levels", "step");
  const json& classes = f.array(lv, "levels", "classes");
  if (classes.size() != static_cast<std::size_t>(rec.count)) {
    f.damaged("levels.classes does not hold levels.count classes");
  }
  for (std::size_t n = 0; n < classes.size(); ++n) {
    const std::string where = Fields::at("levels.classes", n);
    LevelClass c;
    c.level = static_cast<int>(f.integer(classes[n], where, "level", 1, rec.count));
    if (c.level != static_cast<int>(n) + 1)
      f.damaged(where + ".level is not " + std::to_string(n + 1));
    c.from = f.real(classes[n], where, "from");
    c.to = f.real(classes[n], where, "to");
    c.cells = f.integer(classes[n], where, "cells", 0, kMaxCells);
    rec.classes.push_back(c);
  }
  const json& cells = f.member(root, "", "cells");
  rec.mesh_cells = f.integer(cells, "cells", "mesh_line", 0, kMaxCells);
  rec.outside_cells = f.integer(cells, "cells", "outside_study_area", 0, kMaxCells);
  rec.background_cells = f.integer(cells, "cells", "background", 0, kMaxCells);
}

void read_inputs(const Fields& f, const json& root, RunRecord& rec) {
  const json& inputs = f.array(root, "", "inputs");
  for (std::size_t n = 0; n < inputs.size(); ++n) {
    const std::string where = Fields::at("inputs", n);
    InputImage im;
    im.file = f.name(inputs[n], where, "file");
    im.format = f.text(inputs[n], where, "format");
    im.weight = f.real(inputs[n], where, "weight");
    const json& items = f.array(inputs[n], where, "items");
    for (std::size_t i = 0; i < items.size(); ++i) {
      const std::string w = Fields::at(where + ".items", i);
      im.items.push_back({static_cast<int>(f.integer(items[i], w, "code", 0, 255)),
                          f.integer(items[i], w, "cells", 0, kMaxCells)});
    }
    rec.inputs.push_back(std::move(im));
  }
  rec.mask = f.name_or_null(root, "", "mask");
}

}  // namespace

std::string RunRecord::base_name(const std::string& name_as_built) {
  const std::size_t cut = name_as_built.find_last_of("\\/");
  return cut == std::string::npos ? name_as_built : name_as_built.substr(cut + 1);
}

std::string RunRecord::beside(const std::string& name_as_built) const {
  return (std::filesystem::path(folder) / base_name(name_as_built)).string();
}

std::string RunRecord::result_path() const {
  // R: the record's name without the suffix of a run record, "_run.json".
  const std::string suffix = rasterio::RunFiles::of("").record;
  const rasterio::FileFormat* format = nullptr;
  for (const rasterio::FileFormat& f : rasterio::kFormats) {
    if (result_format == f.name) format = &f;
  }
  if (format == nullptr || path.size() < suffix.size() ||
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return beside(result_file);
  }
  return rasterio::RunFiles::of(path.substr(0, path.size() - suffix.size())).result(*format);
}

namespace {

// The largest coordinate of a grid's corner, and so of its cell size, that export takes:
// far beyond any map, and short enough in the fixed notation of a world file.
constexpr double kMaxCoordinate = 1e12;

// The numbers of the grid that place the outputs: a cell size greater than 0, and corners
// within kMaxCoordinate of 0.
void check_grid(const Fields& f, const RunRecord& rec) {
  if (rec.cell_size && !(*rec.cell_size > 0.0 && *rec.cell_size <= kMaxCoordinate)) {
    f.damaged("grid.cell_size is not a number greater than 0 and at most 1e12");
  }
  const auto inside = [](double v) { return std::fabs(v) <= kMaxCoordinate; };
  if (rec.x_min && !inside(*rec.x_min)) f.damaged("grid.x_min lies beyond 1e12 of 0");
  if (rec.y_min && !inside(*rec.y_min)) f.damaged("grid.y_min lies beyond 1e12 of 0");
  if (rec.cell_size && rec.x_min && rec.y_min &&
      !(inside(*rec.x_min + rec.cols * *rec.cell_size) &&
        inside(*rec.y_min + rec.rows * *rec.cell_size))) {
    f.damaged("grid.cols or grid.rows times grid.cell_size puts the far corner beyond 1e12 of 0");
  }
}

// A JSON library message without its "[json.exception.KIND.N] " prefix.
std::string json_reason(const json::exception& e) {
  const std::string what = e.what();
  const std::size_t cut = what.find("] ");
  return cut == std::string::npos ? what : what.substr(cut + 2);
}

RunRecord record_of(const std::string& path, const json& root) {
  const Fields f(path);
  if (!root.is_object() || !root.contains("tessera_run_record")) {
    f.damaged("not a tessera_summary run record");
  }
  RunRecord rec;
  rec.path = path;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  rec.folder = parent.empty() ? "." : parent.string();
  read_levels(f, root, rec);

  const json& grid = f.member(root, "", "grid");
  rec.rows = static_cast<int>(f.integer(grid, "grid", "rows", 1, std::numeric_limits<int>::max()));
  rec.cols = static_cast<int>(f.integer(grid, "grid", "cols", 1, std::numeric_limits<int>::max()));
  rec.cell_size = f.real_or_null(grid, "grid", "cell_size");
  rec.x_min = f.real_or_null(grid, "grid", "x_min");
  rec.y_min = f.real_or_null(grid, "grid", "y_min");
  check_grid(f, rec);
  read_inputs(f, root, rec);

  const json& result = f.member(root, "", "result");
  rec.result_file = f.name(result, "result", "file");
  rec.result_format = f.text(result, "result", "format");
  if (rec.result_format != "raw" && rec.result_format != "bmp" && rec.result_format != "ascii") {
    f.damaged("result.format is not raw, bmp or ascii");
  }
  // Null (or absent) when the run carried no .prj beside its result.
  if (result.contains("prj")) rec.result_prj = f.name_or_null(result, "result", "prj");

  const json& proc = f.member(root, "", "processing");
  rec.detected = f.text(proc, "processing", "detected");
  rec.confirmed = f.text_or_null(proc, "processing", "confirmed");
  const json& drawn = f.member(proc, "processing", "mesh_drawn");
  if (!drawn.is_boolean()) f.damaged("processing.mesh_drawn is not true or false");
  rec.mesh_drawn = drawn.get<bool>();
  if (!f.member(proc, "processing", "range").is_null()) {
    rec.range = static_cast<int>(f.integer(proc, "processing", "range", 0, 1 << 30));
  }
  return rec;
}

}  // namespace

RunRecord read_record(const std::string& path) {
  const std::string bytes = read_file(path, kMaxRecordBytes);
  // Every failure of the JSON library (a number too large for a double, such as 1e400) is
  // told as a damaged record, naming it.
  try {
    json root;
    try {
      root = json::parse(bytes);
    } catch (const json::parse_error& e) {
      throw DataError(path + ": damaged run record: not valid JSON (byte " +
                      std::to_string(e.byte) + ")");
    }
    return record_of(path, root);
  } catch (const json::exception& e) {
    throw DataError(path + ": damaged run record: " + json_reason(e));
  }
}

namespace {

// Why a grid file could not be read, in a few words.
std::string read_error_text(rasterio::FileError e) {
  using rasterio::FileError;
  switch (e) {
    case FileError::CannotOpen:
      return "it cannot be opened";
    case FileError::ShortHeader:
      return "its header ends early";
    case FileError::BadHeader:
    case FileError::NonSquareCells:
    case FileError::BadXCorner:
    case FileError::BadYCorner:
    case FileError::BadCellSize:
      return "its header is not one the program writes";
    case FileError::BadSize:
    case FileError::BmpSize:
      return "its size is not a positive number of rows and columns";
    case FileError::TooLarge:
      return "it has too many cells";
    case FileError::OutOfMemory:
      return "out of memory";
    case FileError::FewerValues:
      return "it holds fewer values than rows x columns";
    case FileError::BadValue:
      return "a value is not an integer";
    case FileError::NotBmp:
      return "it is not a BMP image";
    case FileError::BmpLayout:
      return "it is not an uncompressed 8-bit BMP image";
    case FileError::Truncated:
      return "it is cut short";
    case FileError::ReadError:
    case FileError::WriteError:
    case FileError::None:
      break;
  }
  return "read error";
}

// Reads a BMP or ASCII grid result with the program's own reader of its format (the ASCII
// grid through the scanner that reads the program's inputs, many times faster than a general
// reader of text), block by block into the cells.
std::vector<unsigned char> read_grid(const RunRecord& rec, const std::string& path,
                                     rasterio::Format format, const Progress& progress) {
  const rasterio::FileFormat& f = rasterio::kFormats[rasterio::code_of(format)];
  std::unique_ptr<rasterio::RowReader> reader = f.reader();
  rasterio::GridInfo size;
  size.nb_col = rec.cols;
  size.nb_lig = rec.rows;
  const rasterio::FileError opened = reader->open(path, size);
  if (opened != rasterio::FileError::None) {
    throw DataError(path + ": cannot be read as the run's result (" + read_error_text(opened) +
                    ")");
  }
  const rasterio::GridInfo& info = reader->info();
  if (info.nb_lig != rec.rows || info.nb_col != rec.cols) {
    throw DataError(path + ": does not match " + rec.path + ": it has " +
                    std::to_string(info.nb_lig) + " rows and " + std::to_string(info.nb_col) +
                    " columns, the record " + std::to_string(rec.rows) + " and " +
                    std::to_string(rec.cols));
  }
  const auto cols = static_cast<std::size_t>(rec.cols);
  std::vector<unsigned char> cells(static_cast<std::size_t>(rec.rows) * cols);
  constexpr int kBlockRows = 256;
  std::vector<unsigned char*> rows(kBlockRows);
  for (int first = 0; first < rec.rows; first += kBlockRows) {
    const int n = std::min(kBlockRows, rec.rows - first);
    for (int i = 0; i < n; ++i)
      rows[static_cast<std::size_t>(i)] = cells.data() + (first + i) * cols;
    const rasterio::FileError e = reader->read_rows(rows.data(), n);
    if (e != rasterio::FileError::None) {
      throw DataError(path + ": does not match " + rec.path + ": its cells cannot be read (" +
                      read_error_text(e) + ")");
    }
    if (progress) progress(static_cast<double>(first + n) / rec.rows);
  }
  return cells;
}

// The smallest BMP header: file header, information header.
constexpr std::uintmax_t kBmpHeaderBytes = 14 + 40;

// Refuses a grid of `cells` cells that the memory cannot hold: export keeps the cells, reads
// them through its format's reader (a buffer of a few MiB), copies them for the PNG, and holds the
// PNG and its base64 text in the report page: about four bytes a cell, and GDAL's block cache.
void check_memory(const RunRecord& rec, const std::string& path, std::uintmax_t cells) {
  constexpr std::uintmax_t kMiB = std::uintmax_t{1} << 20;
  const std::int64_t memory = nrutil::memory_bytes();
  const auto cache = static_cast<std::uintmax_t>(std::max<GIntBig>(GDALGetCacheMax64(), 0));
  const std::uintmax_t needed = 4 * cells + cache;  // cells < 2^62: no overflow
  if (memory > 0 && needed > static_cast<std::uintmax_t>(memory)) {
    throw DataError(path + ": its grid of " + std::to_string(rec.rows) + " rows and " +
                    std::to_string(rec.cols) + " columns (" + rec.path +
                    ") is larger than the memory available (about " +
                    std::to_string((needed + kMiB - 1) / kMiB) + " MiB needed, " +
                    std::to_string(static_cast<std::uintmax_t>(memory) / kMiB) + " MiB available)");
  }
}

}  // namespace

std::vector<unsigned char> read_result(const RunRecord& rec, const Progress& progress) {
  const std::string path = rec.result_path();
  if (nrutil::is_non_regular(path)) throw DataError(path + ": cannot be read (not a regular file)");
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    throw DataError(path + ": the result image named by " + rec.path + " cannot be read (" +
                    std::strerror(errno) + ")");
  }
  const std::uintmax_t size =
      static_cast<std::uintmax_t>(rec.rows) * static_cast<std::uintmax_t>(rec.cols);
  const auto length = static_cast<std::uintmax_t>(st.st_size);
  if (rec.result_format == "raw" && length != size) {
    throw DataError(path + ": does not match " + rec.path + ": it holds " + std::to_string(length) +
                    " bytes, not rows x columns = " + std::to_string(size));
  }
  // The least a file of the grid the record claims can hold: a BMP's header and padded rows,
  // an ASCII grid's value and separator for each cell. Checked before anything of the
  // grid's size is allocated.
  const std::uintmax_t least =
      rec.result_format == "bmp"
          ? kBmpHeaderBytes + static_cast<std::uintmax_t>(rec.rows) *
                                  ((static_cast<std::uintmax_t>(rec.cols) + 3) / 4 * 4)
          : 2 * size;
  if (rec.result_format != "raw" && length < least) {
    throw DataError(path + ": does not match " + rec.path + ": it holds " + std::to_string(length) +
                    " bytes, fewer than its " + std::to_string(rec.rows) + " rows and " +
                    std::to_string(rec.cols) + " columns need (" + std::to_string(least) + ")");
  }
  check_memory(rec, path, size);
  std::vector<unsigned char> cells;
  if (rec.result_format == "raw") {
    const std::string bytes = read_file(path, size);
    cells.assign(bytes.begin(), bytes.end());
  } else {
    cells = read_grid(rec, path,
                      rec.result_format == "bmp" ? rasterio::Format::Bmp : rasterio::Format::Ascii,
                      progress);
  }

  core::ValueCounter counter;
  counter.add(cells.data(), cells.size());
  std::array<std::int64_t, 256> count{};
  for (int v = 0; v < 256; ++v) count[static_cast<std::size_t>(v)] = counter.count(v);
  auto check = [&](int value, std::int64_t want, const std::string& what) {
    if (count[static_cast<std::size_t>(value)] != want) {
      throw DataError(path + ": does not match " + rec.path + ": " + what + " has " +
                      std::to_string(count[static_cast<std::size_t>(value)]) +
                      " cells, the record says " + std::to_string(want));
    }
  };
  for (const LevelClass& c : rec.classes)
    check(c.level, c.cells, "level " + std::to_string(c.level));
  check(0, rec.mesh_cells, "value 0 (mesh lines)");
  check(254, rec.outside_cells, "value 254 (outside the study area)");
  check(255, rec.background_cells, "value 255 (background)");
  for (int v = rec.count + 1; v < 254; ++v) {
    if (count[static_cast<std::size_t>(v)] != 0) {
      throw DataError(path + ": does not match " + rec.path + ": it holds the value " +
                      std::to_string(v) + ", which is no level of the record");
    }
  }
  return cells;
}

}  // namespace gis
