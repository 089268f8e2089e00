// The run record "<R>_run.json" that tessera_summary writes, as export reads it, and the
// result image it names, checked against it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace gis {

struct LevelClass {
  int level = 0;
  double from = 0.0, to = 0.0;  // the running bounds the calculation used
  std::int64_t cells = 0;       // cells of this level in the result image
};

struct InputItem {
  int code = 0;
  std::int64_t cells = 0;
};

// Names of files are as tessera_summary built them (folder joined with '\'), byte for byte:
// where the record's text could not hold a name (one that is not UTF-8), from its "_bytes"
// field.
struct InputImage {
  std::string file;
  std::string format;  // raw, bmp or ascii
  double weight = 0.0;
  std::vector<InputItem> items;
};

struct RunRecord {
  std::string path;    // the record as opened
  std::string folder;  // its folder: every file the record names is looked for there
  int count = 0;
  double max_sum = 0.0, step = 0.0;
  std::vector<LevelClass> classes;
  std::int64_t mesh_cells = 0, outside_cells = 0, background_cells = 0;
  int rows = 0, cols = 0;
  std::optional<double> cell_size, x_min, y_min;
  std::vector<InputImage> inputs;
  std::optional<std::string> mask;
  std::string result_file, result_format;
  std::optional<std::string> result_prj;  // the .prj the run carried beside its result
  std::string detected;
  std::optional<std::string> confirmed;
  bool mesh_drawn = false;
  std::optional<int> range;

  // The path of a file the record names: its last name part in the record's folder.
  std::string beside(const std::string& name_as_built) const;
  // The result image: "<R>_tessum" and the extension of the record's result file, beside the
  // record "<R>_run.json" (so a name that the record could not keep byte for byte, such as one
  // that is not UTF-8, is still found).
  std::string result_path() const;
  // The name without folder of a file the record names.
  static std::string base_name(const std::string& name_as_built);
};

// Reads and checks the record at `path`. Throws DataError naming the file when it is
// missing, is not JSON, or lacks a field export needs.
RunRecord read_record(const std::string& path);

// Reads the result image the record names (rows x columns bytes, top row first) and checks it
// against the record: its size, and the cells of every value. Throws DataError naming the
// image when it is missing, unreadable or does not match.
std::vector<unsigned char> read_result(const RunRecord& rec);

}  // namespace gis
