// The end of a run: final masking of the level grid, the result image in the chosen format,
// and the closing lines of the run report.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/hostpath.h"
#include "app/level_grid.h"
#include "app/stages.h"
#include "nrutil/files.h"
#include "rasterio/formats.h"
#include "rasterio/gridfile.h"

namespace app {

namespace {

constexpr unsigned char kOutsideStudyArea = 254;

// The system's reason for the last failure, or the generic write error when it gave none.
const char* reason(const Run& r, int err) {
  return err != 0 ? std::strerror(err) : r.pick(msg::kWhyWriteError);
}

// The pixel size as the descriptor's integer: truncated toward zero, held within int.
int truncated_pixel_size(double p) {
  if (std::isnan(p)) return 0;
  if (p >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (p <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(p);
}

// Stops the run for a result file that could not be written.
[[noreturn]] void fail_grid_file(Run& r, rasterio::FileError e, int err, const std::string& name) {
  if (e == rasterio::FileError::CannotOpen) r.fail_create(name, err);
  r.fail_file(msg::kCannotWrite, name, reason(r, err));
}

// The descriptor beside a raw result: rows, columns, 1, 0, 255 and the pixel size in whole
// metres, written into a temporary file that the caller puts in place once the image is.
nrutil::AtomicFile stage_result_descriptor(Run& r, const std::string& name) {
  rasterio::Descriptor d;
  d.nb_lig = r.nb_lig;
  d.nb_col = r.nb_col;
  d.third = 1;
  d.min_al = 0;
  d.max_al = 255;
  d.pix_size = truncated_pixel_size(r.dpix_size);
  nrutil::AtomicFile f;
  errno = 0;
  if (!f.open(host_path(name))) r.fail_create(name, errno);
  if (!f.write(rasterio::format_descriptor(d))) {
    fail_grid_file(r, rasterio::FileError::WriteError, errno, name);
  }
  return f;
}

// The level grid written block by block, each block masked first: cells where the first
// image held 0 are background; cells outside the study area of the mask end as 254 even
// when they are background too.
void write_rows(Run& r, rasterio::RowWriter& w) {
  constexpr int kBlock = 256;
  std::vector<const unsigned char*> rows(kBlock);
  const bool masked = r.mask_exist == 0 && !r.tab_mask_in.empty();
  for (int first = 0; first < r.nb_lig; first += kBlock) {
    const int count = std::min(kBlock, r.nb_lig - first);
    for (int i = first; i < first + count; ++i) {
      unsigned char* out = r.tab_out[i];
      if (!r.tab_mask.empty()) r.tab_mask.apply_row(i, out, kBackground);
      if (masked) r.tab_mask_in.apply_row(i, out, kOutsideStudyArea);
      rows[static_cast<std::size_t>(i - first)] = out;
    }
    errno = 0;
    const rasterio::FileError e = w.write_rows(rows.data(), count);
    if (e != rasterio::FileError::None) fail_grid_file(r, e, errno, r.nom_res);
  }
}

// The result image in the chosen format: "_tessum" and the format's extension (with the
// descriptor beside a raw image); the map origin is asked for a georeferenced format when
// no earlier stage knew it.
void write_image(Run& r, const rasterio::FileFormat& f) {
  const std::string base = r.nom_res + "_tessum";
  r.nom_res = base + f.ext;
  const std::string descriptor = f.sidecar != nullptr ? base + f.sidecar : std::string();
  nrutil::AtomicFile staged;
  if (!descriptor.empty()) staged = stage_result_descriptor(r, descriptor);
  // The questions come before the result file is opened: a run that ends at them leaves an
  // earlier result whole.
  if (f.georeferenced && r.UTM_coord == 0) {
    r.say(msg::kAsciiUtm);
    r.X_min = r.ask_real(msg::kAsciiXmin);
    r.Y_min = r.ask_real(msg::kAsciiYmin);
    r.UTM_coord = 1;
  }
  std::unique_ptr<rasterio::RowWriter> w = f.writer();
  errno = 0;
  if (w->create(host_path(r.nom_res)) != rasterio::FileError::None) r.fail_create(r.nom_res, errno);
  rasterio::GridInfo g;
  g.nb_col = r.nb_col;
  g.nb_lig = r.nb_lig;
  g.X_min = r.X_min;
  g.Y_min = r.Y_min;
  g.dpix_size = r.dpix_size;
  errno = 0;
  rasterio::FileError e = w->begin(g);
  if (e != rasterio::FileError::None) fail_grid_file(r, e, errno, r.nom_res);
  if (f.id == rasterio::Format::Ascii) r.con.write("\n");
  write_rows(r, *w);
  errno = 0;
  e = w->finish();
  if (e != rasterio::FileError::None) fail_grid_file(r, e, errno, r.nom_res);
  // The descriptor goes in place with its image: a run stopped before leaves both as they were.
  errno = 0;
  if (staged.is_open() && !staged.commit()) {
    fail_grid_file(r, rasterio::FileError::WriteError, errno, descriptor);
  }
}

void close_report(Run& r) {
  r.report(msg::kReportResultName, r.nom_res.c_str());
  r.finfo.write("\n");
  for (int k = 1; k <= std::min(r.num_imag, kMaxImages); ++k) {
    r.report(msg::kReportWeight, k, r.capas[static_cast<std::size_t>(k)].weight);
  }
  r.report(msg::kReportLevels, r.num_segm);
  r.report(msg::kReportPixel, r.dpix_size);
  if (r.cmd == 0) r.report(msg::kReportMeshDrawn);
  r.finfo.write("\n\n");
}

}  // namespace

void write_result(Run& r) {
  check_level_grid(r);
  // The format menu allows no code outside the table: no image for one.
  if (const rasterio::FileFormat* f = rasterio::format_of(r.format_out)) write_image(r, *f);
  close_report(r);
}

}  // namespace app
