// What every tessera_gis command shares: the two kinds of failure and their exit statuses,
// GDAL's set-up, and files that appear whole or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

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

// A wrong command line. The message says what is wrong; main adds where to find help.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A file that cannot be read, used or written. The message names the file and the reason.
struct DataError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Registers GDAL's drivers and routes GDAL's own messages to last_gdal_error() instead of
// stderr, so that a failure is told once, in the command's words.
void init_gdal();

// GDAL's last error message since init_gdal(), or "" when it gave none.
std::string last_gdal_error();

// "FILE: REASON", with GDAL's last message appended to REASON when there is one.
std::string with_gdal_reason(const std::string& file, const std::string& reason);

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
