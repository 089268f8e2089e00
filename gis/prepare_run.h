// The answers of a whole tessera_summary run over prepared layers (run.txt), and the folder
// as the run's dialogue names it.
#pragma once

#include <string>
#include <vector>

#include "gis/prepare_options.h"

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

// One prepared image of the run: its name (the .asc file without extension) and weight.
struct RunImage {
  std::string name;
  double weight;
};

// The answers of a whole run, one a line: the language, the user-defined disk and folder,
// the images as ASCII grids with their weights, the mask ("mask", ASCII) or none, the result
// name, format and levels, and "no" to the cell-mesh drawing question.
std::string run_answers(const PrepareOptions& o, const RunFolder& where,
                        const std::vector<RunImage>& images, bool mask);

// The files, in the run's folder, that the run writes: result image (with the .prj it may
// carry), report, histogram, point files and run record.
std::vector<std::string> run_output_files(const std::string& result, int output_answer);

}  // namespace gis
