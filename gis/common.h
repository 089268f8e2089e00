// What every tessera_gis command shares: the two kinds of failure and their exit statuses,
// GDAL's set-up for the span of a command, progress, and files that appear whole or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

#include "cpl_error.h"
#include "gdal_priv.h"
#include "nrutil/files.h"

namespace gis {

// Exit statuses: 0 done, 1 a data error (a file cannot be used or written), 2 a usage error.
inline constexpr int kExitData = 1;
inline constexpr int kExitUsage = 2;

// The version of the tools, written into the metadata and records of the files they make.
inline constexpr const char* kToolVersion = "tessera 0.4";

// Progress of a long piece of work: called with the fraction done, from 0 to 1, in order.
// Commands take one and call it; only the front-end (main, the QGIS provider) shows it.
using Progress = std::function<void(double done)>;

// The part [from, to] of `whole`: a progress of one step of a command, 0 to 1 for the step.
// Empty when `whole` is.
Progress part_of(const Progress& whole, double from, double to);

// The progress of a command made of steps in order, each of a known cost: each step's share
// of the whole is its share of the total cost.
class ProgressSteps {
 public:
  ProgressSteps(Progress whole, double total_cost);
  // The fractions of the whole where the next step, of `cost`, starts and ends.
  std::pair<double, double> span(double cost);
  // The progress of the next step, of `cost`: from 0 to 1 over the step.
  Progress next(double cost);
  // Tells that the next step, of `cost`, is done (for a step that cannot tell its progress).
  void skip(double cost);

 private:
  Progress whole_;
  double total_;
  double done_ = 0.0;
};

// A Progress as GDAL's progress callback takes it (pData: a const Progress*, which may be
// empty); it never asks GDAL to stop.
int CPL_STDCALL gdal_progress(double done, const char* message, void* data);

// Whether a command shows its progress: on a terminal only (the default), always
// (--progress), or never (--quiet).
enum class ProgressMode { Terminal, Always, Never };

// Takes --progress or --quiet into `mode` and returns true; false for any other argument.
// UsageError when both are given.
bool take_progress_option(std::string_view arg, ProgressMode& mode);

// The lines of --progress and --quiet in a command's --help.
inline constexpr const char* kProgressHelp =
    "  --progress        print the progress on standard error (0...10...20 ... 100 - done.),\n"
    "                    as GDAL's tools do; the default when standard error is a terminal\n"
    "  --quiet           no progress\n";

// A wrong command line. The message says what is wrong; main adds where to find help.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A file that cannot be read, used or written. The message names the file and the reason.
struct DataError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// GDAL for the span of one command: the drivers registered, and GDAL's own messages kept by
// a scoped error handler instead of printed, so that a failure is told once, in the command's
// words (with_gdal_reason). The handler that was in place before comes back on exit.
class GdalSession {
 public:
  GdalSession();
  ~GdalSession();
  GdalSession(const GdalSession&) = delete;
  GdalSession& operator=(const GdalSession&) = delete;

  // GDAL's last failure message in this session (or in the innermost one open on this
  // thread), "" when it gave none.
  static std::string last_error();

 private:
  static void CPL_STDCALL keep(CPLErr level, CPLErrorNum number, const char* text);
  std::string last_error_;
  GdalSession* outer_;
  CPLErrorHandlerPusher handler_;
};

// "FILE: REASON", with GDAL's last failure message appended to REASON when there is one.
std::string with_gdal_reason(const std::string& file, const std::string& reason);

// GDAL's block cache held to `bytes` for a scope, unless the user set GDAL_CACHEMAX: each
// block is read once a pass, so a larger cache would only hold memory. The size in force
// before comes back on exit.
class BlockCacheLimit {
 public:
  explicit BlockCacheLimit(GIntBig bytes);
  ~BlockCacheLimit();
  BlockCacheLimit(const BlockCacheLimit&) = delete;
  BlockCacheLimit& operator=(const BlockCacheLimit&) = delete;

 private:
  GIntBig previous_ = 0;
  bool set_ = false;
};

// Checks the result of a GDAL setter on an output: a DataError "FILE: cannot be written (its
// WHAT cannot be set: GDAL's reason)" unless it is CE_None.
void check_set(CPLErr result, const std::string& file, const char* what);

// Sets a band's description, which GDAL's API does not report: a failure GDAL raised while
// setting it is a DataError naming `file`.
void set_description(GDALMajorObject& object, const char* text, const std::string& file);

// Closes an output dataset (GDAL writes what it held then); a DataError "FILE: cannot be
// written (GDAL's reason)" when GDAL reports a failure, including one raised since the last
// CPLErrorReset() on this output.
void close_output(GDALDatasetUniquePtr& ds, const std::string& file);

// The "FILE: cannot be written (GDAL's last message, or write error)" DataError.
[[noreturn]] void write_failed(const std::string& file);

// Writes bytes to `path` through a temporary file in the same folder that is renamed into
// place once it is complete and closed; on any failure the temporary file is removed and a
// DataError names `path`. An existing file of that name is replaced only on success.
void write_file_atomically(const std::string& path, const std::string& bytes);

// The shortest decimal text, in fixed notation with "." as the decimal point, that reads back
// as the same double.
std::string exact_decimal(double v);

// The whole content of the regular file `path`, at most `limit` bytes (nrutil::read_file); a
// DataError naming it and the reason otherwise. A named pipe or a device is refused before it
// is opened (reading it could wait forever).
std::string read_file(const std::string& path, std::uintmax_t limit);

// The system's reason for a failed file operation, in words: errno's text, except for the
// names nrutil refuses for not being regular files.
std::string file_error_text(int err);

// A file written piece by piece that appears only on commit(): an nrutil::AtomicFile (an
// exclusive temporary of unpredictable name beside `path`, never through a link or a pipe)
// renamed into place once complete and closed. Until then (and when anything fails or the
// object is destroyed uncommitted) the temporary is removed and `path` is untouched. Every
// failure throws a DataError that names `path`.
class StagedFile {
 public:
  explicit StagedFile(std::string path);
  StagedFile(StagedFile&& other) noexcept = default;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  StagedFile& operator=(StagedFile&&) = delete;
  ~StagedFile() = default;

  const std::string& path() const { return path_; }
  // Appends bytes; each write is checked.
  void write(const char* data, std::size_t size);
  void write(const std::string& bytes) { write(bytes.data(), bytes.size()); }
  // Closes the temporary (checked), then renames it to `path`.
  void commit();

 private:
  [[noreturn]] void fail(const char* what, int err);
  std::string path_;
  nrutil::AtomicFile file_;
};

}  // namespace gis
