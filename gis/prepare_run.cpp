// run.txt: the scripted answers of a tessera_summary run over prepared layers, from the
// table of a run's files and answers.
#include "gis/prepare_run.h"

#include <filesystem>
#include <utility>

#include "gis/common.h"

namespace gis {

RunFolder run_folder(const std::string& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p = fs::absolute(dir, ec);
  if (ec) throw UsageError("--out " + dir + ": " + ec.message());
  p = p.lexically_normal();
  std::string text = p.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= ' ' || b == 0x7f || c == '\\') {
      throw UsageError("--out " + text +
                       ": the folder's path holds a blank, a control character or a backslash, "
                       "while tessera_summary reads its answers as blank-separated words and "
                       "takes a backslash as a folder separator: choose a folder whose path "
                       "has none");
    }
  }
  const fs::path clean(text);
  if (!clean.has_parent_path() || clean.filename().empty() || clean == clean.root_path()) {
    throw UsageError("--out " + text + ": choose a folder below the root folder");
  }
  return RunFolder{text, clean.parent_path().string(), clean.filename().string()};
}

rasterio::ScriptedRun scripted_run(const PrepareOptions& o, const RunFolder& where,
                                   std::vector<rasterio::ScriptedImage> images, bool mask) {
  rasterio::ScriptedRun run;
  run.language = o.lang.answer;
  run.disk = where.disk;
  run.folder = where.folder;
  run.images = std::move(images);
  if (mask)
    run.mask = rasterio::ScriptedImage{kMaskName, rasterio::code_of(rasterio::Format::Ascii)};
  run.result = o.result;
  run.output_format = o.output.answer;
  run.levels = o.levels;
  return run;
}

std::vector<std::string> run_output_files(const std::string& result, int output_format) {
  const rasterio::RunFiles f = rasterio::RunFiles::of(result);
  const rasterio::FileFormat& format = *rasterio::format_of(output_format);
  std::vector<std::string> files = {f.info, f.histogram, f.points_ij, f.points_utm,
                                    f.result(format)};
  if (const std::string descriptor = f.result_descriptor(format); !descriptor.empty()) {
    files.push_back(descriptor);
  }
  if (format.georeferenced) files.push_back(f.prj);
  files.push_back(f.record);
  return files;
}

}  // namespace gis
