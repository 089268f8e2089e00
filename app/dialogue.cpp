// The run parameter dialogue: every answer of the run, every file name, the mask read at once,
// the histogram file, the report and its run summary.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/stages.h"
#include "nrutil/files.h"
#include "nrutil/hostpath.h"
#include "rasterio/formats.h"

namespace app {

namespace {

using rasterio::kMaxImages;
using rasterio::kMaxLevels;

// Creates an output text file at the start of the run, or stops the run naming it.
void create_or_stop(Ui& ui, TextFile& f, const std::string& name) {
  if (!f.create(nrutil::host_path(name))) ui.fail_create(name, errno);
}

// Whether two names lead to one file: the same path once links and "." / ".." are resolved,
// or two names of one existing file.
bool same_file(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ec1, ec2;
  const fs::path pa = fs::weakly_canonical(nrutil::host_path(a), ec1);
  const fs::path pb = fs::weakly_canonical(nrutil::host_path(b), ec2);
  if (!ec1 && !ec2 && pa == pb) return true;
  std::error_code ec;
  return fs::equivalent(nrutil::host_path(a), nrutil::host_path(b), ec) && !ec;
}

// Stops the run when the folder answer names no folder, rather than a dozen answers later
// when the first output file cannot be created there.
void check_folder(Ui& ui, const std::string& folder) {
  struct stat st {};
  if (::stat(nrutil::host_path(folder).c_str(), &st) != 0) {
    ui.fail_file(msg::kCannotOpenFolder, folder, std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode)) ui.fail_file(msg::kCannotOpenFolder, folder, std::strerror(ENOTDIR));
}

// Stops at the first image whose file does not exist, with its reader's message, before the
// weights are asked. A raw image's descriptor is not looked for here: a missing one is asked
// for when the image is read.
void check_images_exist(Ui& ui, const std::vector<core::ImageParameter>& images) {
  for (const core::ImageParameter& im : images) {
    const std::string name = core::grid_file(im.grid);
    struct stat st {};
    if (::stat(nrutil::host_path(name).c_str(), &st) != 0) {
      ui.fail(core::Failure::missing(name, im.grid.format));
    }
  }
}

// Every input file the run reads: the images (and the descriptor beside a raw image) and the
// mask, with its descriptor.
std::vector<std::string> input_files(const core::RunParameters& p) {
  std::vector<std::string> files;
  const auto add = [&files](const core::InputGrid& g) {
    if (rasterio::format_of(g.format) == nullptr) return;
    files.push_back(core::grid_file(g));
    if (const std::string d = core::descriptor_file(g); !d.empty()) files.push_back(d);
  };
  for (const core::ImageParameter& im : p.images) add(im.grid);
  if (p.mask) add(*p.mask);
  return files;
}

// The result image's files for its format: the image, the descriptor beside a raw one, and
// the .prj of its inputs beside a georeferenced one.
std::vector<std::string> result_files(const Setup& s) {
  const rasterio::FileFormat* f = rasterio::format_of(s.params.output_format);
  if (f == nullptr) return {};
  std::vector<std::string> files = {s.files.result(*f)};
  if (f->sidecar != nullptr) files.push_back(s.files.result_descriptor(*f));
  if (f->georeferenced) files.push_back(s.files.prj);
  return files;
}

// Stops the run before an output file would replace one of its inputs.
void refuse_input_as_output(Ui& ui, const core::RunParameters& p,
                            const std::vector<std::string>& outputs) {
  const std::vector<std::string> inputs = input_files(p);
  for (const std::string& out : outputs) {
    for (const std::string& in : inputs) {
      if (same_file(out, in)) {
        ui.fail(vformat(ui.pick(msg::kOutputIsInput), out.c_str(), in.c_str()));
      }
    }
  }
}

// Stops the run before anything is written when an output's name is longer than its folder
// allows (every result file's name is as long as "_tessum.prj"'s).
void refuse_names_too_long(Ui& ui, const std::vector<std::string>& outputs) {
  for (const std::string& out : outputs) {
    if (!nrutil::name_fits(nrutil::host_path(out))) ui.fail_create(out, ENAMETOOLONG);
  }
}

// Removes a run record of this run's name left by an earlier run; called before the run
// replaces its first output, so that no record describes files it did not write. Stops the
// run when the name cannot be cleared (a folder holds it).
void remove_stale_record(Ui& ui, const std::string& record) {
  if (::unlink(nrutil::host_path(record).c_str()) != 0 && errno != ENOENT) {
    ui.fail_file(msg::kCannotCreate, record, std::strerror(errno));
  }
}

// The mask, named and read at once.
void read_mask(Ui& ui, Setup& s, const std::string& prefix) {
  core::InputGrid mask;
  mask.name = prefix + ui.ask_word(msg::kMaskName);
  ui.say(msg::kMaskFormat);
  mask.format = ui.ask_menu(msg::kFormatOptions, rasterio::kFormatCount - 1);
  s.params.mask = mask;
  core::OpenedGrid opened = open_input(ui, mask, s.limits, std::nullopt, s.descriptors);
  s.reference = core::reference_of(opened);
  const bool ascii = rasterio::format_of(mask.format)->id == rasterio::Format::Ascii;
  if (ascii) ui.con.write("\n");
  s.mask = ui.take(core::read_mask(std::move(opened)));
  if (ascii) ui.con.write("\n");
  s.georef = core::after_grid(s.georef, s.mask->facts);
}

void write_summary(Ui& ui, const Setup& s) {
  ui.report(msg::kSummaryProgram);
  ui.report(msg::kSummaryCredit);
  ui.report(msg::kSummaryDisk);
  ui.report(msg::kSummaryValue, s.disk.c_str());
  ui.report(msg::kSummaryFolder, s.disk.c_str());
  ui.report(msg::kSummaryValue, s.folder.c_str());
  ui.report(msg::kSummaryImages, static_cast<int>(s.params.images.size()));
}

}  // namespace

Setup dialogue(Ui& ui) {
  Setup s;
  // Disk and folder.
  ui.say(msg::kDiskQuestion);
  const int disk = ui.ask_menu(msg::kDiskOptions, rasterio::answer::kDiskNamed);
  s.disk = disk == rasterio::answer::kDiskNamed ? ui.ask_word(msg::kDiskName)
                                                : std::string(rasterio::kPresetDisks[disk]);
  s.folder = s.disk + "\\" + ui.ask_word(msg::kFolder, s.disk.c_str());
  check_folder(ui, s.folder);
  const std::string prefix = s.folder + "\\";

  // Images: how many, their names, types and weights.
  const int count = ui.ask_count(msg::kNumImages, 1, kMaxImages);
  s.params.images.resize(static_cast<std::size_t>(count));
  ui.con.write("\n");
  for (int k = 1; k <= count; ++k) {
    s.params.images[k - 1].grid.name = prefix + ui.ask_word(msg::kGenericName, k);
  }
  for (core::ImageParameter& im : s.params.images) {
    ui.say(msg::kImageType, im.grid.name.c_str());
    im.grid.format = ui.ask_menu(msg::kFormatOptions, rasterio::kFormatCount - 1);
  }
  s.limits = core::ReadLimits::of(s.params);
  s.limits.cell_limit = ui.cell_limit;
  check_images_exist(ui, s.params.images);
  ui.con.write("\n");
  for (core::ImageParameter& im : s.params.images) {
    im.weight = ui.ask_real(msg::kWeight, im.grid.name.c_str());
  }

  // Mask: 0 names one, read at once; any other answer means none.
  ui.say(msg::kMaskQuestion);
  ui.say(msg::kMaskNote);
  if (ui.ask_option(msg::kYesNo) == rasterio::answer::kYes) read_mask(ui, s, prefix);

  // Result name: every output name is built now and the histogram file created.
  s.files = rasterio::RunFiles::of(prefix + ui.ask_word(msg::kResultName));
  const rasterio::RunFiles& f = s.files;
  refuse_input_as_output(ui, s.params, {f.histogram, f.info, f.points_ij, f.points_utm, f.record});
  refuse_names_too_long(ui, {f.histogram, f.info, f.points_ij, f.points_utm, f.record, f.prj});
  remove_stale_record(ui, f.record);
  create_or_stop(ui, ui.histogram_file, f.histogram);

  ui.say(msg::kOutputFormat);
  s.params.output_format = ui.ask_menu(msg::kFormatOptions, rasterio::kFormatCount - 1);
  refuse_input_as_output(ui, s.params, result_files(s));
  s.params.level_count = ui.ask_count(msg::kNumLevels, 1, kMaxLevels);

  // The pixel size is asked only when the image asked last is in a format that carries none
  // (BMP) and no mask has given one.
  const int last_format = s.params.images.back().grid.format;
  if (!rasterio::format_of(last_format)->carries_pixel_size && s.georef.pixel_size == 0.0) {
    s.params.pixel_size = ui.ask_real(msg::kPixelSize);
    s.georef.pixel_size = *s.params.pixel_size;
  }

  create_or_stop(ui, ui.report_file, f.info);
  write_summary(ui, s);
  ui.say(msg::kTreatmentConsole);
  ui.report(msg::kTreatmentReport);
  return s;
}

}  // namespace app
