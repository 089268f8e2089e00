// The run record "<R>_run.json": what a run read, computed and wrote, as a value, and its JSON
// text. Every front-end that makes a composite writes it with the same schema; tools read it
// back (tessera_gis export builds its map and report page from it).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace core {

// One level of the record: its running bounds and the cells of that level in the result.
struct RecordLevel {
  int level = 0;
  double from = 0.0;
  double to = 0.0;
  std::int64_t cells = 0;
};

// One input image: its file as the run names it, its format's name, its weight and its items
// (the codes present and their cells, as the report lists them).
struct RecordInput {
  std::string file;
  std::string format;
  double weight = 0.0;
  std::vector<std::pair<int, std::int64_t>> items;
};

struct RunRecord {
  // Levels.
  int level_count = 0;
  double max_sum = 0.0;
  double step = 0.0;
  std::vector<RecordLevel> classes;
  // Cells of the written result: with a level, on a mesh line (0), outside the study area
  // (254), background (255).
  std::int64_t with_level = 0, mesh_line = 0, outside = 0, background = 0;
  // Grid: size, cell size and lower-left corner where known.
  int rows = 0, cols = 0;
  std::optional<double> cell_size, x_min, y_min;
  std::vector<RecordInput> inputs;
  std::optional<std::string> mask;
  // The result image, its format's name, its descriptor, the .prj beside it and its source.
  std::string result_file;
  std::optional<std::string> result_format;
  std::optional<std::string> result_descriptor;
  std::optional<std::string> prj, prj_from;
  // Processing type: as detected and as confirmed (null when not known), whether the mesh
  // was drawn, and the window range.
  std::optional<std::string> detected, confirmed;
  bool mesh_drawn = false;
  std::optional<int> range;
  // Every file the run wrote, the record last.
  std::vector<std::string> outputs;
};

// The record's names of the processing types: 0 square cell mesh, 1 moving window.
const char* processing_name(int type);

// The record as JSON text (two blanks an indent level, short arrays and objects of scalars on
// one line, reals in their shortest exact form), then "\n". `extra` holds keys a front-end
// adds after the common ones (null: none). A file name that is not UTF-8 is written readable,
// with U+FFFD for its odd bytes, and exactly, as the hexadecimal digits of its bytes under
// the same key with "_bytes" appended ("outputs_bytes" for the list of outputs).
std::string record_text(const RunRecord& record, const nlohmann::ordered_json& extra = nullptr);

// Whether `bytes` is UTF-8 text.
bool is_utf8(std::string_view bytes);

}  // namespace core
