// The run parameter dialogue: every answer of the run, every file name, the histogram file,
// the report and its run summary.
#include <cerrno>
#include <cstring>

#include "app/hostpath.h"
#include "app/stages.h"
#include "rasterio/reader.h"

namespace app {

namespace {

// Creates an output text file at the start of the run, or stops the run naming it.
void create_or_stop(Run& r, TextFile& f, const std::string& name) {
  if (!f.create(host_path(name))) r.fail_file(msg::kCannotCreate, name, std::strerror(errno));
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
  r.num_slice = 0;

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
    r.format = r.ask_menu(msg::kFormatOptions, 2);
    r.capas[k].format = r.format;
  }
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
    r.mask_format = r.ask_menu(msg::kFormatOptions, 2);
    rasterio::mask_lecture(r);
  }

  // Result name: every output name is built now and the histogram file created.
  const std::string result = r.ask_word(msg::kResultName);
  r.nom_res += result;
  r.nom_info += result + "_info.txt";
  r.nom_file_point += result + "_points_ij.txt";
  r.nom_file_utm += result + "_points_utm.txt";
  r.nom_file_histo += result + "_histo.xls";
  create_or_stop(r, r.fpt3, r.nom_file_histo);

  r.say(msg::kOutputFormat);
  r.format_out = r.ask_menu(msg::kFormatOptions, 2);
  r.num_segm = r.ask_count(msg::kNumLevels, 1, kMaxLevels);

  // The pixel size is asked only when the image asked last is a BMP image (which carries
  // none) and no mask has given one.
  if (r.format == 1 && r.dpix_size == 0.0) r.dpix_size = r.ask_real(msg::kPixelSize);

  create_or_stop(r, r.finfo, r.nom_info);
  write_summary(r);
  r.say(msg::kTreatmentConsole);
  r.report(msg::kTreatmentReport);
}

}  // namespace app
