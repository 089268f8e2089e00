// The run parameter dialogue: every answer of the run, every file name, the histogram file,
// the report and its run summary.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/hostpath.h"
#include "app/reading.h"
#include "app/stages.h"
#include "nrutil/files.h"
#include "rasterio/formats.h"

namespace app {

namespace {

// Creates an output text file at the start of the run, or stops the run naming it.
void create_or_stop(Run& r, TextFile& f, const std::string& name) {
  if (!f.create(host_path(name))) r.fail_create(name, errno);
}

// Whether two names lead to one file: the same path once links and "." / ".." are resolved,
// or two names of one existing file.
bool same_file(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ec1, ec2;
  const fs::path pa = fs::weakly_canonical(host_path(a), ec1);
  const fs::path pb = fs::weakly_canonical(host_path(b), ec2);
  if (!ec1 && !ec2 && pa == pb) return true;
  std::error_code ec;
  return fs::equivalent(host_path(a), host_path(b), ec) && !ec;
}

// Stops the run when the folder answer names no folder, rather than a dozen answers later
// when the first output file cannot be created there.
void check_folder(Run& r) {
  struct stat st {};
  if (::stat(host_path(r.nomim1b).c_str(), &st) != 0) {
    r.fail_file(msg::kCannotOpenFolder, r.nomim1b, std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode)) r.fail_file(msg::kCannotOpenFolder, r.nomim1b, std::strerror(ENOTDIR));
}

// Stops at the first image whose file does not exist, with its reader's message, before the
// weights are asked. A raw image's descriptor is not looked for here: a missing one is asked
// for when the image is read.
void check_images_exist(Run& r) {
  for (int k = 1; k <= r.num_imag; ++k) {
    const imagen& c = r.capas[static_cast<std::size_t>(k)];
    const rasterio::FileFormat& f = *rasterio::format_of(c.format);
    const std::string name = c.nombre + f.ext;
    struct stat st {};
    if (::stat(host_path(name).c_str(), &st) != 0) fail_missing(r, f, name);
  }
}

// Every input file the run reads: the images with their format's extension (and the
// descriptor beside a raw image) and the mask, already read, with its descriptor.
std::vector<std::string> input_files(const Run& r) {
  std::vector<std::string> files;
  for (int k = 1; k <= r.num_imag; ++k) {
    const imagen& c = r.capas[static_cast<std::size_t>(k)];
    if (const rasterio::FileFormat* f = rasterio::format_of(c.format)) {
      files.push_back(c.nombre + f->ext);
      if (f->sidecar != nullptr) files.push_back(c.nombre + f->sidecar);
    }
  }
  const rasterio::FileFormat* m = rasterio::format_of(r.mask_format);
  if (r.mask_exist == 0 && m != nullptr) {
    files.push_back(r.nom_mask_in);
    const std::size_t ext = std::string(m->ext).size();
    if (m->sidecar != nullptr && r.nom_mask_in.size() >= ext) {
      files.push_back(r.nom_mask_in.substr(0, r.nom_mask_in.size() - ext) + m->sidecar);
    }
  }
  return files;
}

// The result image's files for a format: the image, and the descriptor beside a raw one.
std::vector<std::string> result_files(const Run& r) {
  const rasterio::FileFormat* f = rasterio::format_of(r.format_out);
  if (f == nullptr) return {};
  const std::string base = r.nom_res + "_tessum";
  std::vector<std::string> files = {base + f->ext};
  if (f->sidecar != nullptr) files.push_back(base + f->sidecar);
  // A georeferenced result gets the .prj of its inputs beside it.
  if (f->georeferenced) files.push_back(base + ".prj");
  return files;
}

// Stops the run before an output file would replace one of its inputs.
void refuse_input_as_output(Run& r, const std::vector<std::string>& outputs) {
  const std::vector<std::string> inputs = input_files(r);
  for (const std::string& out : outputs) {
    for (const std::string& in : inputs) {
      if (same_file(out, in)) r.fail(vformat(r.pick(msg::kOutputIsInput), out.c_str(), in.c_str()));
    }
  }
}

// Stops the run before anything is written when an output's name is longer than its folder
// allows (every result file's name is as long as "_tessum.prj"'s).
void refuse_names_too_long(Run& r, const std::vector<std::string>& outputs) {
  for (const std::string& out : outputs) {
    if (!nrutil::name_fits(host_path(out))) r.fail_create(out, ENAMETOOLONG);
  }
}

void write_summary(Run& r) {
  r.report(msg::kSummaryProgram);
  r.report(msg::kSummaryCredit);
  r.report(msg::kSummaryDisk);
  r.report(msg::kSummaryValue, r.nom_disk.c_str());
  r.report(msg::kSummaryFolder, r.nom_disk.c_str());
  r.report(msg::kSummaryValue, r.nomim1b.c_str());
  r.report(msg::kSummaryImages, r.num_imag);
}

}  // namespace

void dialogue(Run& r) {
  // Disk and folder.
  r.say(msg::kDiskQuestion);
  const int rep = r.ask_menu(msg::kDiskOptions, 2);
  if (rep == 0) {
    r.nom_disk = "C:\\images";
  } else if (rep == 1) {
    r.nom_disk = "D:\\images";
  } else {
    r.nom_disk = r.ask_word(msg::kDiskName);
  }
  r.nomim1 = r.nom_disk + "\\";
  const std::string nomdir = r.ask_word(msg::kFolder, r.nom_disk.c_str());
  r.nomim1 += nomdir;
  r.nomim1b = r.nomim1;
  r.nomim1 += "\\";
  check_folder(r);
  const std::string& prefix = r.nomim1;
  r.nom_res = r.nom_info = r.nom_file_point = r.nom_file_utm = r.nom_file_histo = r.nom_mask_in =
      prefix;

  // Images: how many, their names, types and weights.
  r.num_imag = r.ask_count(msg::kNumImages, 1, kMaxImages);
  r.con.write("\n");
  for (int k = 1; k <= r.num_imag; ++k) {
    r.capas[k].nombre = prefix + r.ask_word(msg::kGenericName, k);
  }
  for (int k = 1; k <= r.num_imag; ++k) {
    r.say(msg::kImageType, r.capas[k].nombre.c_str());
    r.format = r.ask_menu(msg::kFormatOptions, rasterio::kFormatCount - 1);
    r.capas[k].format = r.format;
  }
  check_images_exist(r);
  r.con.write("\n");
  for (int k = 1; k <= r.num_imag; ++k) {
    r.capas[k].weight = r.ask_real(msg::kWeight, r.capas[k].nombre.c_str());
  }

  // Mask: 0 names one, read at once; any other answer means none.
  r.say(msg::kMaskQuestion);
  r.say(msg::kMaskNote);
  r.mask_exist = r.ask_option(msg::kYesNo);
  if (r.mask_exist == 0) {
    r.nom_mask_in += r.ask_word(msg::kMaskName);
    r.say(msg::kMaskFormat);
    r.mask_format = r.ask_menu(msg::kFormatOptions, rasterio::kFormatCount - 1);
    mask_lecture(r);
  }

  // Result name: every output name is built now and the histogram file created.
  const std::string result = r.ask_word(msg::kResultName);
  r.nom_res += result;
  r.nom_info += result + "_info.txt";
  r.nom_file_point += result + "_points_ij.txt";
  r.nom_file_utm += result + "_points_utm.txt";
  r.nom_file_histo += result + "_histo.xls";
  refuse_input_as_output(
      r, {r.nom_file_histo, r.nom_info, r.nom_file_point, r.nom_file_utm, record_name(r)});
  refuse_names_too_long(r, {r.nom_file_histo, r.nom_info, r.nom_file_point, r.nom_file_utm,
                            record_name(r), r.nom_res + "_tessum.prj"});
  remove_stale_record(r);
  create_or_stop(r, r.fpt3, r.nom_file_histo);

  r.say(msg::kOutputFormat);
  r.format_out = r.ask_menu(msg::kFormatOptions, rasterio::kFormatCount - 1);
  refuse_input_as_output(r, result_files(r));
  r.num_segm = r.ask_count(msg::kNumLevels, 1, kMaxLevels);

  // The pixel size is asked only when the image asked last is in a format that carries none
  // (BMP) and no mask has given one.
  if (!rasterio::format_of(r.format)->carries_pixel_size && r.dpix_size == 0.0) {
    r.dpix_size = r.ask_real(msg::kPixelSize);
  }

  create_or_stop(r, r.finfo, r.nom_info);
  write_summary(r);
  r.say(msg::kTreatmentConsole);
  r.report(msg::kTreatmentReport);
}

}  // namespace app
