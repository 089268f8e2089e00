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
#include <string_view>

#include "app/hostpath.h"
#include "app/run.h"
#include "core/cell_loops.h"
#include "core/run_record.h"
#include "nrutil/files.h"
#include "rasterio/formats.h"

namespace app {

namespace {

constexpr std::string_view kInfoSuffix = "_info.txt";

// The largest .prj carried beside a result: a coordinate system's text is a few KiB.
constexpr std::uintmax_t kMaxPrjBytes = std::uintmax_t{1} << 20;

// The result's name with its folder, as typed: the report's name less "_info.txt".
std::string result_base(const Run& r) {
  return r.nom_info.substr(0, r.nom_info.size() - kInfoSuffix.size());
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

// The window range: the one asked or measured by the mesh stage, else the band width that
// the detection measured for a moving window; none when neither is known.
std::optional<int> range_of(const Run& r) {
  if (r.rango >= 1) return r.rango;
  if (r.im_gene == 1 && r.jdeb >= 1) return r.jdeb;
  return std::nullopt;
}

std::optional<std::string> format_name(int code) {
  const rasterio::FileFormat* f = rasterio::format_of(code);
  if (f == nullptr) return std::nullopt;
  return std::string(f->name);
}

std::optional<std::string> type_name(int code) {
  const char* name = core::processing_name(code);
  return name != nullptr ? std::optional<std::string>(name) : std::nullopt;
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

  core::RunRecord rec;
  rec.level_count = r.num_segm;
  rec.max_sum = r.levels.max_sum;
  rec.step = r.levels.step;
  for (int k = 1; k <= r.num_segm && k <= kMaxLevels; ++k) {
    const std::int64_t n = cells[static_cast<std::size_t>(k)];
    rec.classes.push_back({k, r.levels.lower[k], r.levels.upper[k], n});
    rec.with_level += n;
  }
  rec.mesh_line = cells[0];
  rec.outside = cells[254];
  rec.background = cells[255];
  rec.rows = r.nb_lig;
  rec.cols = r.nb_col;
  if (r.dpix_size > 0.0) rec.cell_size = r.dpix_size;
  if (r.UTM_coord == 1) {
    rec.x_min = r.X_min;
    rec.y_min = r.Y_min;
  }
  for (int k = 1; k <= r.num_imag; ++k) {
    const imagen& c = r.capas[static_cast<std::size_t>(k)];
    core::RecordInput in{c.file, format_name(c.format).value_or(""), c.weight, {}};
    // The items as the report lists them: every value present but the highest.
    int highest = 255;
    while (highest > 0 && c.items[static_cast<std::size_t>(highest)] == 0) --highest;
    for (int v = 0; v < highest; ++v) {
      const std::int64_t n = c.items[static_cast<std::size_t>(v)];
      if (n > 0) in.items.emplace_back(v, n);
    }
    rec.inputs.push_back(std::move(in));
  }
  if (r.mask_exist == 0) rec.mask = r.nom_mask_in;

  const std::string base = result_base(r);
  const std::string name = record_name(r);
  rec.result_file = r.nom_res;
  rec.result_format = format_name(r.format_out);
  if (r.format_out == 0) rec.result_descriptor = base + "_tessum.txt";
  if (!r.notes.prj.empty()) {
    rec.prj = r.notes.prj;
    rec.prj_from = r.notes.prj_from;
  }
  rec.detected = type_name(r.jdeb == 0 ? 0 : 1);
  rec.confirmed = type_name(r.notes.confirmed);
  rec.mesh_drawn = r.cmd == 0;
  rec.range = range_of(r);

  rec.outputs = r.notes.descriptors;
  rec.outputs.push_back(r.nom_info);
  rec.outputs.push_back(r.nom_file_histo);
  if (r.im_gene == 0 && r.cmd == 0) {
    rec.outputs.push_back(r.nom_file_point);
    rec.outputs.push_back(r.nom_file_utm);
  }
  if (rec.result_descriptor) rec.outputs.push_back(*rec.result_descriptor);
  rec.outputs.push_back(r.nom_res);
  if (rec.prj) rec.outputs.push_back(*rec.prj);
  rec.outputs.push_back(name);
  write_whole(r, name, core::record_text(rec));
}

}  // namespace app
