// The run record "<R>_run.json" and the .prj carried beside an ASCII result.
#include "app/run_record.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string_view>

#include "core/cell_loops.h"
#include "app/hostpath.h"
#include "app/run.h"
#include "nrutil/files.h"
#include "rasterio/formats.h"

namespace app {

namespace {

using Json = nlohmann::ordered_json;

// The record's names of the processing types.
constexpr const char* kTypeNames[] = {"square_cell_mesh", "moving_window"};

constexpr std::string_view kInfoSuffix = "_info.txt";

// The largest .prj carried beside a result: a coordinate system's text is a few KiB.
constexpr std::uintmax_t kMaxPrjBytes = std::uintmax_t{1} << 20;

Json format_name(int code) {
  const rasterio::FileFormat* f = rasterio::format_of(code);
  if (f == nullptr) return nullptr;
  return f->name;
}

Json type_name(int code) {
  if (code < 0 || code > 1) return nullptr;
  return kTypeNames[code];
}

// The result's name with its folder, as typed: the report's name less "_info.txt".
std::string result_base(const Run& r) {
  return r.nom_info.substr(0, r.nom_info.size() - kInfoSuffix.size());
}

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

Json known(double v, bool is_known) {
  if (!is_known || !std::isfinite(v)) return nullptr;
  return v;
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

// Writes `bytes` as the whole file `name` (nrutil::AtomicFile): nothing of the name is left
// half-written. Stops the run naming the file.
void write_whole(Run& r, const std::string& name, std::string_view bytes) {
  nrutil::AtomicFile f;
  if (!f.open(host_path(name))) r.fail_create(name, errno);
  if (!f.write(bytes) || !f.commit()) {
    r.fail_file(msg::kCannotWrite, name,
                errno != 0 ? std::strerror(errno) : r.pick(msg::kWhyWriteError));
  }
}

// The whole content of `name`; stops the run naming it when it cannot be read.
std::string read_whole(Run& r, const std::string& name) {
  std::string bytes;
  errno = 0;
  switch (nrutil::read_file(host_path(name), kMaxPrjBytes, bytes)) {
    case nrutil::ReadFile::Done:
      return bytes;
    case nrutil::ReadFile::Failed:
      r.fail_file(msg::kCannotRead, name, std::strerror(errno));
    case nrutil::ReadFile::NotRegular:
      r.fail_file(msg::kCannotRead, name, r.pick(msg::kWhyNotRegular));
    case nrutil::ReadFile::TooLarge:
      break;
  }
  r.fail_file(msg::kCannotRead, name, r.pick(msg::kWhyTooLarge));
}

// Whether `bytes` is UTF-8 text.
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

Json levels_of(const Run& r, const std::array<std::int64_t, 256>& cells) {
  Json classes = Json::array();
  for (int k = 1; k <= r.num_segm && k <= kMaxLevels; ++k) {
    classes.push_back({{"level", k},
                       {"from", r.levels.esc_min[k]},
                       {"to", r.levels.esc_max[k]},
                       {"cells", cells[static_cast<std::size_t>(k)]}});
  }
  return {{"count", r.num_segm},
          {"max_sum", r.levels.max_hist},
          {"step", r.levels.step_hist},
          {"classes", std::move(classes)}};
}

Json inputs_of(const Run& r) {
  Json inputs = Json::array();
  for (int k = 1; k <= r.num_imag; ++k) {
    const imagen& c = r.capas[static_cast<std::size_t>(k)];
    // The items as the report lists them: every value present but the highest.
    Json items = Json::array();
    int highest = 255;
    while (highest > 0 && c.items[static_cast<std::size_t>(highest)] == 0) --highest;
    for (int v = 0; v < highest; ++v) {
      const std::int64_t n = c.items[static_cast<std::size_t>(v)];
      if (n > 0) items.push_back({{"code", v}, {"cells", n}});
    }
    Json input = Json::object();
    put_name(input, "file", c.file);
    input["format"] = format_name(c.format);
    input["weight"] = c.weight;
    input["items"] = std::move(items);
    inputs.push_back(std::move(input));
  }
  return inputs;
}

// The window range: the one asked or measured by the mesh stage, else the band width that
// the detection measured for a moving window; null when neither is known.
Json range_of(const Run& r) {
  if (r.rango >= 1) return r.rango;
  if (r.im_gene == 1 && r.jdeb >= 1) return r.jdeb;
  return nullptr;
}

}  // namespace

std::string record_name(const Run& r) {
  return result_base(r) + "_run.json";
}

void remove_stale_record(Run& r) {
  const std::string name = record_name(r);
  if (::unlink(host_path(name).c_str()) != 0 && errno != ENOENT) {
    r.fail_file(msg::kCannotCreate, name, std::strerror(errno));
  }
}

void carry_prj(Run& r) {
  const auto georeferenced = [](int code) {
    const rasterio::FileFormat* f = rasterio::format_of(code);
    return f != nullptr && f->georeferenced;
  };
  if (!georeferenced(r.format_out)) return;
  std::vector<std::string> grids;
  for (int k = 1; k <= r.num_imag; ++k) {
    const imagen& c = r.capas[static_cast<std::size_t>(k)];
    if (georeferenced(c.format)) grids.push_back(c.nombre);
  }
  // The mask's name carries its extension once it is read.
  if (r.mask_exist == 0 && georeferenced(r.mask_format)) {
    const std::size_t ext = std::string_view(rasterio::format_of(r.mask_format)->ext).size();
    if (r.nom_mask_in.size() > ext)
      grids.push_back(r.nom_mask_in.substr(0, r.nom_mask_in.size() - ext));
  }
  for (const std::string& base : grids) {
    const std::string prj = base + ".prj";
    if (!nrutil::is_regular_file(host_path(prj))) continue;
    r.notes.prj = result_base(r) + "_tessum.prj";
    r.notes.prj_from = prj;
    write_whole(r, r.notes.prj, read_whole(r, prj));
    return;
  }
}

void write_run_record(Run& r) {
  std::array<std::int64_t, 256> cells{};
  ValueCounter counter;
  for (int i = 0; i < r.nb_lig; ++i) counter.add(r.tab_out[i], static_cast<std::size_t>(r.nb_col));
  for (int b = 0; b < 256; ++b) cells[static_cast<std::size_t>(b)] = counter.count(b);
  std::int64_t leveled = 0;
  for (int k = 1; k <= r.num_segm && k <= kMaxLevels; ++k)
    leveled += cells[static_cast<std::size_t>(k)];

  const std::string base = result_base(r);
  const std::string name = record_name(r);
  std::vector<std::string> output_names = r.notes.descriptors;
  output_names.push_back(r.nom_info);
  output_names.push_back(r.nom_file_histo);
  if (r.im_gene == 0 && r.cmd == 0) {
    output_names.push_back(r.nom_file_point);
    output_names.push_back(r.nom_file_utm);
  }
  if (r.format_out == 0) output_names.push_back(base + "_tessum.txt");
  output_names.push_back(r.nom_res);
  if (!r.notes.prj.empty()) output_names.push_back(r.notes.prj);
  output_names.push_back(name);
  // The outputs' names, and where one is not UTF-8 the bytes of each in the same order.
  Json outputs = Json::array();
  Json outputs_bytes = Json::array();
  bool all_utf8 = true;
  for (const std::string& n : output_names) {
    outputs.push_back(n);
    outputs_bytes.push_back(hex_bytes(n));
    all_utf8 = all_utf8 && is_utf8(n);
  }

  Json result = Json::object();
  put_name(result, "file", r.nom_res);
  result["format"] = format_name(r.format_out);
  if (r.format_out == 0) put_name(result, "descriptor", base + "_tessum.txt");
  if (r.notes.prj.empty()) {
    result["prj"] = nullptr;
    result["prj_copied_from"] = nullptr;
  } else {
    put_name(result, "prj", r.notes.prj);
    put_name(result, "prj_copied_from", r.notes.prj_from);
  }

  const bool corner = r.UTM_coord == 1;
  const Json record = {{"tessera_run_record", 1},
                       {"levels", levels_of(r, cells)},
                       {"cells",
                        {{"with_level", leveled},
                         {"mesh_line", cells[0]},
                         {"outside_study_area", cells[254]},
                         {"background", cells[255]}}},
                       {"grid",
                        {{"rows", r.nb_lig},
                         {"cols", r.nb_col},
                         {"cell_size", known(r.dpix_size, r.dpix_size > 0.0)},
                         {"x_min", known(r.X_min, corner)},
                         {"y_min", known(r.Y_min, corner)}}},
                       {"inputs", inputs_of(r)},
                       {"mask", r.mask_exist == 0 ? Json(r.nom_mask_in) : Json(nullptr)},
                       {"result", std::move(result)},
                       {"processing",
                        {{"detected", type_name(r.jdeb == 0 ? 0 : 1)},
                         {"confirmed", type_name(r.notes.confirmed)},
                         {"mesh_drawn", r.cmd == 0},
                         {"range", range_of(r)}}},
                       {"outputs", std::move(outputs)}};
  Json full = record;
  if (r.mask_exist == 0 && !is_utf8(r.nom_mask_in)) {
    // Beside "mask", keeping the order of the keys a reader sees.
    Json with_bytes = Json::object();
    for (auto it = full.begin(); it != full.end(); ++it) {
      with_bytes[it.key()] = *it;
      if (it.key() == "mask") with_bytes["mask_bytes"] = hex_bytes(r.nom_mask_in);
    }
    full = std::move(with_bytes);
  }
  if (!all_utf8) full["outputs_bytes"] = std::move(outputs_bytes);
  std::string text;
  emit(full, 0, 0, text);
  text += "\n";
  write_whole(r, name, text);
}

}  // namespace app
