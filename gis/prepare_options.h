// The command line of `tessera_gis prepare`: what the user asked for, parsed and checked.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace gis {

// tessera_summary's own limits on the number of images and of levels.
inline constexpr int kMaxLayers = 99;
inline constexpr int kMaxLevels = 99;

// One input layer as named on the command line: LAYER[:WEIGHT].
struct LayerArg {
  std::string path;  // handed to GDAL as given
  double weight = 1.0;
};

// A named choice of the command line and the answer that tessera_summary's dialogue takes
// for it.
struct Choice {
  const char* name;
  int answer;
};

// The result formats (--output) and languages (--lang), with their menu answers.
inline constexpr Choice kOutputChoices[] = {{"asc", 2}, {"bmp", 1}, {"raw", 0}};
inline constexpr Choice kLanguageChoices[] = {{"en", 0}, {"fr", 1}, {"es", 2}};

struct PrepareOptions {
  bool help = false;  // --help: print the help and do nothing else
  std::string out_dir;
  std::string boundary;  // empty: no boundary
  bool align = false;
  std::string result = "comp";
  int levels = 10;
  Choice output = kOutputChoices[0];
  Choice lang = kLanguageChoices[0];
  std::vector<LayerArg> layers;
};

// LAYER[:WEIGHT] as given on a command line: a suffix after the last colon that reads as a
// number is the weight; otherwise the colon belongs to the name (NETCDF:file.nc:var).
// UsageError for a weight that is not a finite number.
LayerArg parse_layer(const std::string& arg);

// The choice named `value` among [begin, end); UsageError naming `option` otherwise.
Choice pick(std::string_view option, const std::string& value, const Choice* begin,
            const Choice* end);

// Parses the arguments that follow `prepare`; throws UsageError for a wrong command line.
PrepareOptions parse_prepare_options(int argc, char** argv);

// The text of `tessera_gis prepare --help`.
extern const char* const kPrepareHelp;

}  // namespace gis
