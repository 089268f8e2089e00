// The one table of a classic run's names and answers: the files a run writes beside its
// result name R (and those tessera_gis export writes from them), the limits of a run, the
// answers of the dialogue's menus, and the order of its questions as an answers file.
// tessera_summary, tessera_gis and the run record all take them from here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "rasterio/formats.h"

namespace rasterio {

// The limits of a run.
inline constexpr int kMaxImages = 99;
inline constexpr int kMaxLevels = 99;

// The answers of the dialogue's menus.
namespace answer {
inline constexpr int kYes = 0;
inline constexpr int kNo = 1;
inline constexpr int kDiskC = 0;      // C:\images
inline constexpr int kDiskD = 1;      // D:\images
inline constexpr int kDiskNamed = 2;  // a disk (folder) the user names
inline constexpr int kEnglish = 0;
inline constexpr int kFrench = 1;
inline constexpr int kSpanish = 2;
}  // namespace answer

// The preset disks, in the order of their answers.
inline constexpr const char* kPresetDisks[] = {"C:\\images", "D:\\images"};

// The files of a run, each the result name with its folder (R) and a suffix.
struct RunFiles {
  std::string base;        // R
  std::string info;        // R_info.txt, the run report
  std::string histogram;   // R_histo.xls
  std::string points_ij;   // R_points_ij.txt
  std::string points_utm;  // R_points_utm.txt
  std::string record;      // R_run.json
  std::string prj;         // R_tessum.prj, beside a georeferenced result

  static RunFiles of(const std::string& base);
  // The result image in format f (R_tessum and the format's extension) and the descriptor
  // beside it, or "" for a format without one.
  std::string result(const FileFormat& f) const;
  std::string result_descriptor(const FileFormat& f) const;
};

// The files tessera_gis export writes from the result R, in order: the GeoTIFF and its
// .aux.xml, the PNG map, its world file and .aux.xml, the report page.
std::vector<std::string> export_files(const std::string& base);

// One image of a scripted run: its generic name (no extension), format code and weight.
struct ScriptedImage {
  std::string name;
  int format = code_of(Format::Ascii);
  double weight = 1.0;
};

// The answers of a whole run, without the mesh drawing.
struct ScriptedRun {
  int language = answer::kEnglish;
  std::string disk;    // a disk the user names (answer kDiskNamed)
  std::string folder;  // the folder in it
  std::vector<ScriptedImage> images;
  std::optional<ScriptedImage> mask;  // name and format; the weight is not asked
  std::string result;
  int output_format = code_of(Format::Ascii);
  int levels = 10;
};

// The answers file of a run, one answer a line in the order the dialogue asks: language,
// disk, folder, number of images, their names, formats and weights (written so that they
// read back as the same doubles), the mask, the result name, its format, the levels, and
// "no" to the cell-mesh drawing question. The run's images must all carry their descriptors
// (or be BMP images with a pixel size known otherwise): no other question is answered.
std::string answers_text(const ScriptedRun& run);

}  // namespace rasterio
