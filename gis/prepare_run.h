// The answers of a whole tessera_summary run over prepared layers (run.txt), the folder as
// the run's dialogue names it, and the files the run writes there.
#pragma once

#include <string>
#include <vector>

#include "gis/prepare_options.h"
#include "rasterio/run_files.h"

namespace gis {

// The output folder as tessera_summary is told it: the user-defined disk (the absolute parent
// folder) and the folder's name.
struct RunFolder {
  std::string path;    // absolute, normalised, without a trailing separator
  std::string disk;    // its parent folder
  std::string folder;  // its last component
};

// The absolute folder of `dir`. tessera_summary reads its answers as blank-separated words
// and maps "\" to "/", so a path holding blanks, control bytes or backslashes is refused
// (UsageError, saying why), as is the root folder, which has no name.
RunFolder run_folder(const std::string& dir);

// The file name (without extension) of the prepared mask, and the answers file.
inline constexpr const char* kMaskName = "mask";
inline constexpr const char* kRunFile = "run.txt";

// The whole run over the prepared images (ASCII grids, with their weights) and the mask
// ("mask", ASCII) or none, as rasterio::answers_text writes it into run.txt.
rasterio::ScriptedRun scripted_run(const PrepareOptions& o, const RunFolder& where,
                                   std::vector<rasterio::ScriptedImage> images, bool mask);

// The files, in the run's folder, that the run writes: report, histogram, point files,
// result image (with its descriptor, or the .prj a georeferenced result may carry) and run
// record.
std::vector<std::string> run_output_files(const std::string& result, int output_format);

}  // namespace gis
