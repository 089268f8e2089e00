// tessera_gis: makes sub-index layers, prepares tessera_summary's inputs from GIS rasters and
// exports its results. The front-end of the gis library's commands: it picks the command, shows its
// progress, prints what the command returns, and turns a failure into its message and exit status.
// Nothing else in tessera_gis prints.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "gis/common.h"
#include "gis/compose.h"
#include "gis/export.h"
#include "gis/prepare.h"
#include "gis/richness.h"
#include "nrutil/files.h"

namespace gis {
namespace {

// The progress of a command on standard error, in the text of GDAL's command-line tools:
// "0...10...20...30...40...50...60...70...80...90...100 - done.", a character each 2.5 %.
// Shown on a terminal, or always with --progress; never with --quiet.
class ProgressLine {
 public:
  explicit ProgressLine(ProgressMode mode)
      : shown_(mode == ProgressMode::Always ||
               (mode == ProgressMode::Terminal && isatty(STDERR_FILENO) == 1)) {}
  // A line that a failure left open is ended, so that the message starts a line of its own.
  ~ProgressLine() {
    if (ticks_ >= 0 && ticks_ < kTicks) std::fputc('\n', stderr);
  }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // What the command calls; empty when the progress is not shown.
  Progress progress() {
    if (!shown_) return {};
    return [this](double done) { show(done); };
  }

 private:
  static constexpr int kTicks = 40;

  void show(double done) {
    const int ticks = std::clamp(static_cast<int>(done * kTicks), 0, kTicks);
    if (ticks <= ticks_) return;
    while (ticks_ < ticks) {
      ++ticks_;
      if (ticks_ % 4 == 0) {
        std::fprintf(stderr, "%d", ticks_ / 4 * 10);
      } else {
        std::fputc('.', stderr);
      }
    }
    if (ticks_ == kTicks) std::fputs(" - done.\n", stderr);
    std::fflush(stderr);
  }

  bool shown_;
  int ticks_ = -1;  // the characters printed: ticks 0 .. ticks_
};

// Standard output flushed, and checked: a listing that did not reach the user is a failure.
int done() {
  if (std::fflush(stdout) != 0) throw DataError("standard output cannot be written");
  return 0;
}

int help(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return done();
}

void tell(const char* kind, const std::vector<std::string>& lines) {
  for (const std::string& l : lines) std::fprintf(stderr, "tessera_gis: %s: %s\n", kind, l.c_str());
}

// The table of the prepared layers: counts right-aligned, text left-aligned.
void print_layers(const std::vector<PreparedLayer>& layers) {
  std::vector<std::vector<std::string>> rows = {
      {"#", "layer", "type", "no-data cells", "values", "weight", "file"}};
  for (std::size_t k = 0; k < layers.size(); ++k) {
    const PreparedLayer& l = layers[k];
    const std::string values =
        l.data_cells == 0 ? "-" : exact_decimal(l.min) + ".." + exact_decimal(l.max);
    rows.push_back({std::to_string(k + 1), l.name, l.type, std::to_string(l.nodata_cells), values,
                    exact_decimal(l.weight), l.path + (l.resampled ? " (resampled)" : "")});
  }
  std::vector<std::size_t> width(rows[0].size(), 0);
  for (const auto& r : rows) {
    for (std::size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
  }
  for (const auto& r : rows) {
    std::string line = " ";
    for (std::size_t c = 0; c < r.size(); ++c) {
      // The last column unpadded.
      const bool right = c == 0 || c == 3;
      const std::string pad(width[c] - r[c].size(), ' ');
      line += " " + (right ? pad + r[c] : (c + 1 < r.size() ? r[c] + pad : r[c]));
    }
    std::printf("%s\n", line.c_str());
  }
}

// Runs a command's work under its progress line, which is ended before the command prints
// anything else.
template <class Work>
auto with_progress(ProgressMode shown, Work work) {
  ProgressLine line(shown);
  return work(line.progress());
}

int prepare(int argc, char** argv) {
  const PrepareOptions o = parse_prepare_options(argc, argv);
  if (o.help) return help(kPrepareHelp);
  const PrepareResult r =
      with_progress(o.progress, [&](const Progress& p) { return run_prepare(o, p); });
  std::printf("Prepared %zu layer%s of %d x %d cells, cell size %s, %s, in %s:\n", r.layers.size(),
              r.layers.size() == 1 ? "" : "s", r.cols, r.rows, exact_decimal(r.cell_size).c_str(),
              r.crs.c_str(), r.folder.c_str());
  print_layers(r.layers);
  std::string cells = std::to_string(r.nodata_cells) + " with no data in some layer";
  if (!r.mask.empty()) {
    cells += ", " + std::to_string(r.outside_cells) + " outside the boundary (" + r.mask + ")";
  }
  std::printf("Cells set to no-data: %s.\n", cells.c_str());
  std::printf("Cells with data in every layer: %s.\n", std::to_string(r.data_cells).c_str());
  tell("warning", r.warnings);
  std::printf("Next: tessera_summary < %s\n", r.answers.c_str());
  return done();
}

int richness(int argc, char** argv) {
  const RichnessOptions o = parse_richness_options(argc, argv);
  if (o.help) return help(kRichnessHelp);
  const RichnessResult r =
      with_progress(o.progress, [&](const Progress& p) { return run_richness(o, p); });
  tell("warning", r.warnings);
  std::printf("%s\n", r.out.c_str());
  return done();
}

int compose(int argc, char** argv) {
  const ComposeOptions o = parse_compose_options(argc, argv);
  if (o.help) return help(kComposeHelp);
  const ComposeResult r =
      with_progress(o.progress, [&](const Progress& p) { return run_compose(o, p); });
  tell("warning", r.warnings);
  for (const std::string& path : r.written) std::printf("%s\n", path.c_str());
  return done();
}

int export_(int argc, char** argv) {
  const ExportOptions o = parse_export_options(argc, argv);
  if (o.help) return help(kExportHelp);
  const ExportResult r =
      with_progress(o.progress, [&](const Progress& p) { return run_export(o, p); });
  tell("note", r.notes);
  for (const std::string& path : r.written) std::printf("%s\n", path.c_str());
  return done();
}

struct Command {
  const char* name;
  const char* summary;  // one line for `tessera_gis --help`
  int (*run)(int argc, char** argv);
};

// The commands, in the order of the help text.
const std::vector<Command> kCommands = {
    {"richness", kRichnessSummary, richness},
    {"compose", kComposeSummary, compose},
    {"prepare", kPrepareSummary, prepare},
    {"export", kExportSummary, export_},
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
    return done();
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
  // Ctrl-C, kill or a cancel in QGIS leaves no staging folder or temporary file behind.
  nrutil::remove_temporaries_on_termination();
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
