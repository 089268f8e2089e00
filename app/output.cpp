// The end of a run: final masking of the level grid, the result image in the chosen format,
// and the closing lines of the run report.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "app/hostpath.h"
#include "app/level_grid.h"
#include "app/stages.h"
#include "image/bmp.h"
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

// Sets the cells of tab_out whose cell in `by` holds `marker` to `value`. A grid that was
// never built (no mask) marks nothing.
void mark(Run& r, const nrutil::ByteGrid& by, unsigned char marker, unsigned char value) {
  if (by.empty()) return;
  const int rows = std::min(by.nb_lig(), r.nb_lig);
  const int cols = std::min(by.nb_col(), r.nb_col);
  for (int i = 0; i < rows; ++i) {
    const unsigned char* m = by[i];
    unsigned char* out = r.tab_out[i];
    // A select rather than a conditional store, so that the loop runs on whole vectors.
    for (int j = 0; j < cols; ++j) out[j] = m[j] == marker ? value : out[j];
  }
}

// Stops the run for a result file that could not be written through a gridfile writer.
[[noreturn]] void fail_grid_file(Run& r, rasterio::FileError e, int err, const std::string& name) {
  if (e == rasterio::FileError::CannotOpen) r.fail_create(name, err);
  r.fail_file(msg::kCannotWrite, name, reason(r, err));
}

// Raw bytes with the six-line descriptor beside them.
void write_raw_result(Run& r) {
  const std::string nom_dres = r.nom_res + "_tessum.txt";
  r.nom_res += "_tessum.raw";
  rasterio::Descriptor d;
  d.nb_lig = r.nb_lig;
  d.nb_col = r.nb_col;
  d.third = 1;
  d.min_al = 0;
  d.max_al = 255;
  d.pix_size = truncated_pixel_size(r.dpix_size);
  errno = 0;
  rasterio::FileError e = rasterio::write_descriptor(host_path(nom_dres), d);
  if (e != rasterio::FileError::None) fail_grid_file(r, e, errno, nom_dres);
  errno = 0;
  e = rasterio::write_raw(host_path(r.nom_res), r.tab_out);
  if (e != rasterio::FileError::None) fail_grid_file(r, e, errno, r.nom_res);
}

// 8-bit BMP with the grey palette.
void write_bmp_result(Run& r) {
  r.nom_res += "_tessum.bmp";
  const std::string path = host_path(r.nom_res);
  errno = 0;
  if (SauveBMP(path.c_str(), r.tab_out.rows(), r.nb_col, r.nb_lig, 0, nullptr) != 0) {
    const int err = errno;
    std::error_code ec;
    // A regular file that exists now was created and the writing failed; anything else in
    // its place means it could not be created.
    if (!std::filesystem::is_regular_file(path, ec)) r.fail_create(r.nom_res, err);
    r.fail_file(msg::kCannotWrite, r.nom_res, reason(r, err));
  }
}

// ASCII grid; the map origin is asked when no earlier stage knew it.
void write_ascii_result(Run& r) {
  r.nom_res += "_tessum.asc";
  TextFile fr;
  if (!fr.create(host_path(r.nom_res))) r.fail_create(r.nom_res, errno);
  fr.write(rasterio::format_ascii_head(r.nb_col, r.nb_lig));
  if (r.UTM_coord == 0) {
    r.say(msg::kAsciiUtm);
    r.X_min = r.ask_real(msg::kAsciiXmin);
    r.Y_min = r.ask_real(msg::kAsciiYmin);
    r.UTM_coord = 1;
  }
  fr.write(rasterio::format_ascii_corner(r.X_min, r.Y_min, r.dpix_size));
  r.con.write("\n");
  errno = 0;
  const rasterio::FileError e = rasterio::write_ascii_values(fr.stream(), r.tab_out);
  const int err = errno;
  if (e != rasterio::FileError::None || !fr.good()) {
    r.fail_file(msg::kCannotWrite, r.nom_res, reason(r, err));
  }
  errno = 0;
  if (!fr.close()) r.fail_file(msg::kCannotWrite, r.nom_res, reason(r, errno));
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
  // Cells where the first image held 0 are background; cells outside the study area of
  // the mask end as 254 even when they are background too.
  mark(r, r.tab_mask, 1, kBackground);
  if (r.mask_exist == 0) mark(r, r.tab_mask_in, kBackground, kOutsideStudyArea);

  switch (r.format_out) {
    case 0:
      write_raw_result(r);
      break;
    case 1:
      write_bmp_result(r);
      break;
    case 2:
      write_ascii_result(r);
      break;
    default:
      break;  // the format menu allows no other value: no image
  }
  close_report(r);
}

}  // namespace app
