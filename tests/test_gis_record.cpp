// Reading the run record as tessera_gis export does: the fields it takes, names kept as exact
// bytes, and the message for each kind of damage.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "gis/export_record.h"
#include "support/files.h"

namespace {

using nlohmann::json;

// A record as tessera_summary writes it (two levels, one input, an ASCII result).
json good_record() {
  return json::parse(R"({
    "tessera_run_record": 1,
    "levels": {"count": 2, "max_sum": 3.0, "step": 1.5, "classes": [
      {"level": 1, "from": 0.0, "to": 1.5, "cells": 4},
      {"level": 2, "from": 1.5, "to": 3.0000000000000004, "cells": 5}]},
    "cells": {"with_level": 9, "mesh_line": 0, "outside_study_area": 2, "background": 1},
    "grid": {"rows": 3, "cols": 4, "cell_size": 25.0, "x_min": 5e+05, "y_min": 4198500.0},
    "inputs": [{"file": ".\\zone1\\geol.asc", "format": "ascii", "weight": 1.5,
                "items": [{"code": 0, "cells": 1}, {"code": 2, "cells": 11}]}],
    "mask": ".\\zone1\\mask.raw",
    "result": {"file": ".\\zone1\\res_tessum.asc", "format": "ascii",
               "prj": ".\\zone1\\res_tessum.prj", "prj_copied_from": ".\\zone1\\geol.prj"},
    "processing": {"detected": "square_cell_mesh", "confirmed": "square_cell_mesh",
                   "mesh_drawn": true, "range": 2},
    "outputs": []
  })");
}

TEST(RunRecord, GivesItsFieldsAndNamesTheDamage) {
  const testing_support::ScratchDir dir;
  const std::string path = dir.file("res_run.json");
  const std::string damaged = path + ": damaged run record: ";

  // The fields export takes, and where it looks for the files.
  testing_support::write_file(path, good_record().dump());
  const gis::RunRecord rec = gis::read_record(path);
  EXPECT_EQ(rec.count, 2);
  EXPECT_EQ(rec.classes[1].to, 3.0000000000000004);
  EXPECT_EQ(rec.classes[1].cells, 5);
  EXPECT_EQ(rec.outside_cells, 2);
  EXPECT_EQ(rec.rows, 3);
  EXPECT_EQ(rec.cols, 4);
  EXPECT_EQ(rec.x_min, 500000.0);
  ASSERT_EQ(rec.inputs.size(), 1u);
  EXPECT_EQ(rec.inputs[0].weight, 1.5);
  EXPECT_EQ(rec.inputs[0].items[1].cells, 11);
  EXPECT_EQ(rec.beside(rec.inputs[0].file), dir.file("geol.asc"));
  EXPECT_EQ(rec.result_path(), dir.file("res_tessum.asc"));
  EXPECT_EQ(rec.mask, ".\\zone1\\mask.raw");
  EXPECT_EQ(rec.range, 2);

  // Names that are not UTF-8 come from their "_bytes" field.
  json latin1 = good_record();
  latin1["inputs"][0]["file_bytes"] = "2e5c7a6f6e65315c73f36c2e617363";
  latin1["mask_bytes"] = "6de1736361726120";
  testing_support::write_file(path, latin1.dump());
  const gis::RunRecord named = gis::read_record(path);
  EXPECT_EQ(named.inputs[0].file, ".\\zone1\\s\xf3l.asc");
  EXPECT_EQ(named.mask, "m\xe1scara ");

  using Change = std::function<void(json&)>;
  const struct {
    const char* what;
    Change change;  // null: the text below is the file
    std::string text;
    std::string message;
  } cases[] = {
      {"not JSON", nullptr,
       "{\"levels\": ", path + ": damaged run record: not valid JSON (byte 12)"},
      {"too large a number", nullptr,
       "{\"tessera_run_record\": 1, \"levels\": {\"count\": 2, \"max_sum\": 1e400}}",
       damaged + "number overflow parsing '1e400'"},
      {"another JSON file", [](json& r) { r.erase("tessera_run_record"); }, "",
       damaged + "not a tessera_summary run record"},
      {"a missing field", [](json& r) { r["levels"].erase("count"); }, "",
       damaged + "levels.count is missing"},
      {"a missing object", [](json& r) { r.erase("processing"); }, "",
       damaged + "processing is missing"},
      {"a count of levels out of range", [](json& r) { r["levels"]["count"] = 254; }, "",
       damaged + "levels.count is out of range"},
      {"classes that do not match the count", [](json& r) { r["levels"]["count"] = 3; }, "",
       damaged + "levels.classes does not hold levels.count classes"},
      {"a class out of order", [](json& r) { r["levels"]["classes"][1]["level"] = 1; }, "",
       damaged + "levels.classes[1].level is not 2"},
      {"a number as text", [](json& r) { r["grid"]["cell_size"] = "25"; }, "",
       damaged + "grid.cell_size is not a number"},
      {"a real where a whole number is", [](json& r) { r["grid"]["rows"] = 3.5; }, "",
       damaged + "grid.rows is not an integer"},
      {"no rows", [](json& r) { r["grid"]["rows"] = 0; }, "",
       damaged + "grid.rows is out of range"},
      {"a negative count of cells", [](json& r) { r["cells"]["background"] = -1; }, "",
       damaged + "cells.background is out of range"},
      {"a cell size of 0", [](json& r) { r["grid"]["cell_size"] = 0.0; }, "",
       damaged + "grid.cell_size is not a number greater than 0 and at most 1e12"},
      {"a corner far off", [](json& r) { r["grid"]["x_min"] = -2e12; }, "",
       damaged + "grid.x_min lies beyond 1e12 of 0"},
      {"a far corner far off", [](json& r) { r["grid"]["cell_size"] = 1e12; }, "",
       damaged +
           "grid.cols or grid.rows times grid.cell_size puts the far corner beyond 1e12 of 0"},
      {"an item code beyond a byte", [](json& r) { r["inputs"][0]["items"][0]["code"] = 256; }, "",
       damaged + "inputs[0].items[0].code is out of range"},
      {"a weight as null", [](json& r) { r["inputs"][0]["weight"] = nullptr; }, "",
       damaged + "inputs[0].weight is not a number"},
      {"bytes of a name that are not hexadecimal",
       [](json& r) { r["inputs"][0]["file_bytes"] = "6g"; }, "",
       damaged + "inputs[0].file_bytes is not a name's bytes in hexadecimal digits"},
      {"a name with a NUL byte", [](json& r) { r["result"]["file_bytes"] = "6100"; }, "",
       damaged + "result.file_bytes is not a name's bytes in hexadecimal digits"},
      {"an odd number of digits", [](json& r) { r["mask_bytes"] = "6d6"; }, "",
       damaged + "mask_bytes is not a name's bytes in hexadecimal digits"},
      {"an unknown result format", [](json& r) { r["result"]["format"] = "tif"; }, "",
       damaged + "result.format is not raw, bmp or ascii"},
      {"a flag as a number", [](json& r) { r["processing"]["mesh_drawn"] = 1; }, "",
       damaged + "processing.mesh_drawn is not true or false"},
      {"inputs as an object", [](json& r) { r["inputs"] = json::object(); }, "",
       damaged + "inputs is not an array"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.change) {
      json r = good_record();
      c.change(r);
      testing_support::write_file(path, r.dump());
    } else {
      testing_support::write_file(path, c.text);
    }
    try {
      gis::read_record(path);
      ADD_FAILURE() << "read";
    } catch (const gis::DataError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

}  // namespace
