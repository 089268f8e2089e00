// run.txt: the scripted answers of a tessera_summary run over prepared layers.
#include "gis/prepare_run.h"

#include <filesystem>

#include "gis/common.h"

namespace gis {

namespace {

// tessera_summary's answers in its menus.
constexpr int kDiskUserDefined = 2;
constexpr int kFormatAscii = 2;
constexpr int kYes = 0;
constexpr int kNo = 1;

}  // namespace

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

std::string run_answers(const PrepareOptions& o, const RunFolder& where,
                        const std::vector<RunImage>& images, bool mask) {
  std::string a;
  const auto answer = [&a](const std::string& s) { a += s + "\n"; };
  answer(std::to_string(o.lang.answer));
  answer(std::to_string(kDiskUserDefined));
  answer(where.disk);
  answer(where.folder);
  answer(std::to_string(images.size()));
  for (const RunImage& im : images) answer(im.name);
  for (std::size_t k = 0; k < images.size(); ++k) answer(std::to_string(kFormatAscii));
  for (const RunImage& im : images) answer(exact_decimal(im.weight));
  if (mask) {
    answer(std::to_string(kYes));
    answer(kMaskName);
    answer(std::to_string(kFormatAscii));
  } else {
    answer(std::to_string(kNo));
  }
  answer(o.result);
  answer(std::to_string(o.output.answer));
  answer(std::to_string(o.levels));
  answer(std::to_string(kNo));  // the cell-mesh drawing
  return a;
}

std::vector<std::string> run_output_files(const std::string& result, int output_answer) {
  std::vector<std::string> files = {result + "_info.txt", result + "_histo.xls",
                                    result + "_points_ij.txt", result + "_points_utm.txt"};
  switch (output_answer) {
    case 0:
      files.push_back(result + "_tessum.raw");
      files.push_back(result + "_tessum.txt");
      break;
    case 1:
      files.push_back(result + "_tessum.bmp");
      break;
    default:
      files.push_back(result + "_tessum.asc");
      files.push_back(result + "_tessum.prj");
      break;
  }
  files.push_back(result + "_run.json");
  return files;
}

}  // namespace gis
