// tessera_gis: makes sub-index layers, prepares tessera_summary's inputs from GIS rasters and
// exports its results.
// The entry point picks the subcommand and turns a failure into its message and exit status.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "gis/commands.h"
#include "gis/common.h"
#include "gis/compose.h"
#include "gis/export.h"
#include "gis/prepare.h"
#include "gis/richness.h"

namespace gis {
namespace {

// `tessera_gis richness`: makes the layer, then tells the warnings and the file written.
int richness_command(int argc, char** argv) {
  const RichnessOptions o = parse_richness_options(argc, argv);
  if (o.help) {
    std::fputs(kRichnessHelp, stdout);
    return 0;
  }
  const RichnessResult r = run_richness(o, Progress());
  for (const std::string& w : r.warnings) {
    std::fprintf(stderr, "tessera_gis: warning: %s\n", w.c_str());
  }
  std::printf("%s\n", r.out.c_str());
  if (std::fflush(stdout) != 0) throw DataError("standard output cannot be written");
  return 0;
}

// The subcommands, in the order of the help text.
const std::vector<Command> kCommands = {
    {"richness", kRichnessSummary, richness_command},
    {"compose", kComposeSummary, compose_command},
    {"prepare", kPrepareSummary, prepare_command},
    {"export", "a run's result as a styled GeoTIFF, a PNG map and a report page", export_command},
};

void print_help(std::FILE* to) {
  std::fputs(
      "Usage: tessera_gis COMMAND [OPTIONS] ...\n"
      "\n"
      "Makes the sub-index layers of tessera_summary, prepares its inputs from GIS rasters\n"
      "and exports its results to GIS formats. Commands:\n",
      to);
  for (const Command& c : kCommands) std::fprintf(to, "  %-10s %s\n", c.name, c.summary);
  std::fputs("\nSee 'tessera_gis COMMAND --help' for the options of one command.\n", to);
}

int run(int argc, char** argv) {
  if (argc < 2) {
    print_help(stderr);
    return kExitUsage;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    print_help(stdout);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) != 0) continue;
    try {
      return c.run(argc - 2, argv + 2);
    } catch (const UsageError& e) {
      // A wrong command line of one command: its own help says what it takes.
      std::fprintf(stderr, "tessera_gis: %s (see tessera_gis %s --help)\n", e.what(), c.name);
      return kExitUsage;
    }
  }
  throw UsageError(std::string("unknown command '") + argv[1] + "'");
}

}  // namespace
}  // namespace gis

int main(int argc, char** argv) {
  // A write past a limit on the size of files (ulimit -f) then fails with EFBIG and is told
  // like a full disk, instead of the signal ending the program with a file half-written.
  std::signal(SIGXFSZ, SIG_IGN);
  try {
    return gis::run(argc, argv);
  } catch (const gis::UsageError& e) {
    std::fprintf(stderr, "tessera_gis: %s (see tessera_gis --help)\n", e.what());
    return gis::kExitUsage;
  } catch (const gis::DataError& e) {
    std::fprintf(stderr, "tessera_gis: %s\n", e.what());
    return gis::kExitData;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tessera_gis: %s\n", e.what());
    return gis::kExitData;
  }
}
