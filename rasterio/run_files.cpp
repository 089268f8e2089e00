// The names and answers of a classic run.
#include "rasterio/run_files.h"

#include <charconv>

namespace rasterio {

namespace {

constexpr const char* kResultStem = "_tessum";

// The shortest fixed-notation text of a double that reads back as the same double.
std::string exact_decimal(double v) {
  char buf[400];  // the longest double in fixed notation has 309 digits and a sign
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

}  // namespace

RunFiles RunFiles::of(const std::string& base) {
  RunFiles f;
  f.base = base;
  f.info = base + "_info.txt";
  f.histogram = base + "_histo.xls";
  f.points_ij = base + "_points_ij.txt";
  f.points_utm = base + "_points_utm.txt";
  f.record = base + "_run.json";
  f.prj = base + kResultStem + ".prj";
  return f;
}

std::string RunFiles::result(const FileFormat& f) const {
  return base + kResultStem + f.ext;
}

std::string RunFiles::result_descriptor(const FileFormat& f) const {
  return f.sidecar != nullptr ? base + kResultStem + f.sidecar : std::string();
}

std::vector<std::string> export_files(const std::string& base) {
  return {base + ".tif",     base + ".tif.aux.xml",     base + "_map.png",
          base + "_map.wld", base + "_map.png.aux.xml", base + "_report.html"};
}

std::string answers_text(const ScriptedRun& run) {
  std::string a;
  const auto answer = [&a](const std::string& s) { a += s + "\n"; };
  answer(std::to_string(run.language));
  answer(std::to_string(answer::kDiskNamed));
  answer(run.disk);
  answer(run.folder);
  answer(std::to_string(run.images.size()));
  for (const ScriptedImage& im : run.images) answer(im.name);
  for (const ScriptedImage& im : run.images) answer(std::to_string(im.format));
  for (const ScriptedImage& im : run.images) answer(exact_decimal(im.weight));
  if (run.mask) {
    answer(std::to_string(answer::kYes));
    answer(run.mask->name);
    answer(std::to_string(run.mask->format));
  } else {
    answer(std::to_string(answer::kNo));
  }
  answer(run.result);
  answer(std::to_string(run.output_format));
  answer(std::to_string(run.levels));
  answer(std::to_string(answer::kNo));  // the cell-mesh drawing
  return a;
}

}  // namespace rasterio
