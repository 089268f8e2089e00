// The run record's JSON text.
#include "core/run_record.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace core {

namespace {

using Json = nlohmann::ordered_json;

// A real as its shortest text that reads back as the same double, with a '.' or an exponent
// so that it reads back as a real; null where JSON has no number.
std::string real_text(double v) {
  if (!std::isfinite(v)) return "null";
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, res.ptr);
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

bool scalar(const Json& v) {
  return !v.is_object() && !v.is_array();
}

// The JSON text of v, indented by two blanks a level; an object or array of scalars that fits
// in 100 columns after the `lead` columns before it stands on one line. Reals through
// real_text: nlohmann's own output reads back as the same double but is not always the
// shortest form.
void emit(const Json& v, int depth, std::size_t lead, std::string& out) {
  if (v.is_number_float()) {
    out += real_text(v.get<double>());
    return;
  }
  if (scalar(v)) {
    // Names are bytes as typed; a byte that is not UTF-8 (a name typed in code page 850 or
    // Latin-1) becomes U+FFFD, since JSON text is UTF-8.
    out += v.dump(-1, ' ', false, Json::error_handler_t::replace);
    return;
  }
  const bool object = v.is_object();
  const char open = object ? '{' : '[';
  const char close = object ? '}' : ']';
  bool flat = true;
  for (const auto& item : v) flat = flat && scalar(item);
  if (flat) {
    std::string line(1, open);
    bool first = true;
    for (auto it = v.begin(); it != v.end(); ++it) {
      if (!first) line += ", ";
      first = false;
      if (object) line += Json(it.key()).dump() + ": ";
      emit(*it, depth + 1, 0, line);
    }
    line += close;
    if (lead + line.size() <= 100 || v.empty()) {
      out += line;
      return;
    }
  }
  const std::string pad(static_cast<std::size_t>(2 * (depth + 1)), ' ');
  out += open;
  bool first = true;
  for (auto it = v.begin(); it != v.end(); ++it) {
    out += first ? "\n" : ",\n";
    first = false;
    out += pad;
    const std::string key = object ? Json(it.key()).dump() + ": " : std::string();
    out += key;
    emit(*it, depth + 1, pad.size() + key.size(), out);
  }
  out += '\n';
  out.append(static_cast<std::size_t>(2 * depth), ' ');
  out += close;
}

// The bytes of a name as lowercase hexadecimal digits.
std::string hex_bytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string s;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    s += kDigits[b >> 4];
    s += kDigits[b & 15];
  }
  return s;
}

// Sets obj[key] to a file name. JSON text is UTF-8: a name that is not (typed in code page
// 850 or Latin-1) is written readable, with U+FFFD for its odd bytes, and exactly, as the
// hexadecimal digits of its bytes in obj[key + "_bytes"], so that a reader finds the file.
void put_name(Json& obj, const std::string& key, const std::string& name) {
  obj[key] = name;
  if (!is_utf8(name)) obj[key + "_bytes"] = hex_bytes(name);
}

Json optional_text(const std::optional<std::string>& v) {
  return v ? Json(*v) : Json(nullptr);
}

Json optional_real(const std::optional<double>& v) {
  return v && std::isfinite(*v) ? Json(*v) : Json(nullptr);
}

}  // namespace

bool is_utf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (b < 0x80) {
      ++i;
      continue;
    }
    if ((b & 0xE0) == 0xC0) {
      n = 1;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      n = 2;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      n = 3;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (i + n >= bytes.size()) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto c = static_cast<unsigned char>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += n + 1;
  }
  return true;
}

const char* processing_name(int type) {
  static constexpr const char* kNames[] = {"square_cell_mesh", "moving_window"};
  return type == 0 || type == 1 ? kNames[type] : nullptr;
}

std::string record_text(const RunRecord& rec, const nlohmann::ordered_json& extra) {
  Json classes = Json::array();
  for (const RecordLevel& c : rec.classes) {
    classes.push_back({{"level", c.level}, {"from", c.from}, {"to", c.to}, {"cells", c.cells}});
  }
  Json inputs = Json::array();
  for (const RecordInput& in : rec.inputs) {
    Json items = Json::array();
    for (const auto& [code, cells] : in.items) items.push_back({{"code", code}, {"cells", cells}});
    Json input = Json::object();
    put_name(input, "file", in.file);
    input["format"] = in.format;
    input["weight"] = in.weight;
    input["items"] = std::move(items);
    inputs.push_back(std::move(input));
  }
  Json result = Json::object();
  put_name(result, "file", rec.result_file);
  result["format"] = optional_text(rec.result_format);
  if (rec.result_descriptor) put_name(result, "descriptor", *rec.result_descriptor);
  if (rec.prj) {
    put_name(result, "prj", *rec.prj);
    put_name(result, "prj_copied_from", rec.prj_from.value_or(""));
  } else {
    result["prj"] = nullptr;
    result["prj_copied_from"] = nullptr;
  }
  Json outputs = Json::array();
  Json outputs_bytes = Json::array();
  bool all_utf8 = true;
  for (const std::string& n : rec.outputs) {
    outputs.push_back(n);
    outputs_bytes.push_back(hex_bytes(n));
    all_utf8 = all_utf8 && is_utf8(n);
  }

  Json record = {{"tessera_run_record", 1},
                 {"levels",
                  {{"count", rec.level_count},
                   {"max_sum", rec.max_sum},
                   {"step", rec.step},
                   {"classes", std::move(classes)}}},
                 {"cells",
                  {{"with_level", rec.with_level},
                   {"mesh_line", rec.mesh_line},
                   {"outside_study_area", rec.outside},
                   {"background", rec.background}}},
                 {"grid",
                  {{"rows", rec.rows},
                   {"cols", rec.cols},
                   {"cell_size", optional_real(rec.cell_size)},
                   {"x_min", optional_real(rec.x_min)},
                   {"y_min", optional_real(rec.y_min)}}},
                 {"inputs", std::move(inputs)}};
  if (rec.mask) {
    put_name(record, "mask", *rec.mask);
  } else {
    record["mask"] = nullptr;
  }
  record["result"] = std::move(result);
  record["processing"] = {{"detected", optional_text(rec.detected)},
                          {"confirmed", optional_text(rec.confirmed)},
                          {"mesh_drawn", rec.mesh_drawn},
                          {"range", rec.range ? Json(*rec.range) : Json(nullptr)}};
  record["outputs"] = std::move(outputs);
  if (!all_utf8) record["outputs_bytes"] = std::move(outputs_bytes);
  if (extra.is_object()) {
    for (auto it = extra.begin(); it != extra.end(); ++it) record[it.key()] = *it;
  }
  std::string text;
  emit(record, 0, 0, text);
  text += "\n";
  return text;
}

}  // namespace core
