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

#include "app/cell_loops.h"
#include "app/hostpath.h"
#include "app/run.h"
#include "rasterio/formats.h"

namespace app {

namespace {

using Json = nlohmann::ordered_json;

// The record's names of the processing types.
constexpr const char* kTypeNames[] = {"square_cell_mesh", "moving_window"};

constexpr std::string_view kInfoSuffix = "_info.txt";

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

// Writes `bytes` to `name` through "<name>.part", renamed into place once complete and
// closed; nothing of the name is left half-written. Stops the run naming the file.
void write_whole(Run& r, const std::string& name, std::string_view bytes) {
  const std::string path = host_path(name);
  const std::string part = path + ".part";
  std::FILE* f = std::fopen(part.c_str(), "wb");
  if (f == nullptr) r.fail_file(msg::kCannotCreate, name, std::strerror(errno));
  errno = 0;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fflush(f) == 0 && ok;
  int err = errno;
  ok = std::fclose(f) == 0 && ok;
  if (ok && std::rename(part.c_str(), path.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    if (err == 0) err = errno;
    std::remove(part.c_str());
    r.fail_file(msg::kCannotWrite, name,
                err != 0 ? std::strerror(err) : r.pick(msg::kWhyWriteError));
  }
}

// Whether `name` is a regular file (not a folder, device or named pipe that reading would wait
// on).
bool regular_file(const std::string& name) {
  struct stat st {};
  return stat(host_path(name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The whole content of `name`; stops the run naming it when it cannot be read.
std::string read_whole(Run& r, const std::string& name) {
  std::FILE* f = std::fopen(host_path(name).c_str(), "rb");
  if (f == nullptr) r.fail_file(msg::kCannotRead, name, std::strerror(errno));
  std::string bytes;
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  const bool failed = std::ferror(f) != 0;
  const int err = errno;
  std::fclose(f);
  if (failed) r.fail_file(msg::kCannotRead, name, std::strerror(err));
  return bytes;
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
    inputs.push_back({{"file", c.file},
                      {"format", format_name(c.format)},
                      {"weight", c.weight},
                      {"items", std::move(items)}});
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
    if (!regular_file(prj)) continue;
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
  Json outputs = Json::array();
  for (const std::string& d : r.notes.descriptors) outputs.push_back(d);
  outputs.push_back(r.nom_info);
  outputs.push_back(r.nom_file_histo);
  if (r.im_gene == 0 && r.cmd == 0) {
    outputs.push_back(r.nom_file_point);
    outputs.push_back(r.nom_file_utm);
  }
  if (r.format_out == 0) outputs.push_back(base + "_tessum.txt");
  outputs.push_back(r.nom_res);
  if (!r.notes.prj.empty()) outputs.push_back(r.notes.prj);
  outputs.push_back(name);

  Json result = {{"file", r.nom_res}, {"format", format_name(r.format_out)}};
  if (r.format_out == 0) result["descriptor"] = base + "_tessum.txt";
  result["prj"] = r.notes.prj.empty() ? Json(nullptr) : Json(r.notes.prj);
  result["prj_copied_from"] = r.notes.prj.empty() ? Json(nullptr) : Json(r.notes.prj_from);

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
  std::string text;
  emit(record, 0, 0, text);
  text += "\n";
  write_whole(r, name, text);
}

}  // namespace app
