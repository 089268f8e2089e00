// The file helpers both programs share: the safe output opener, the one atomic writer (an
// exclusive temporary file renamed into place), the regular-file check, the whole-file reader,
// and a private staging folder for files that a library writes by name.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace nrutil {

// Whether `path` names a regular file, following symbolic links.
bool is_regular_file(const std::string& path);

// Whether `path` exists as something other than a regular file (a folder, a device, a named
// pipe, a socket), following symbolic links.
bool is_non_regular(const std::string& path);

// Creates (or empties) the regular file `path` and opens it for writing. A name that exists
// as anything but a regular file is refused, and the opening never waits. Returns the file
// descriptor, or -1 with errno set.
int open_output(const std::string& path);

// The file a name leads to: its symbolic links followed as far as they go (a link to a file
// that does not exist yet leads to that file). A loop ends after 40 hops.
std::string link_target(const std::string& path);

// A file that appears whole or not at all. open() creates a new file beside the final name
// (the target of a link at that name) under a short unpredictable name, exclusively: never
// following a link, never opening a pipe or an existing file. commit() checks the close and
// renames it over the final name. Until then, on any failure, and when the object goes away
// uncommitted, the temporary file is removed and the final name is untouched.
class AtomicFile {
 public:
  AtomicFile() = default;
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;
  AtomicFile(AtomicFile&& other) noexcept;
  AtomicFile& operator=(AtomicFile&& other) noexcept;
  ~AtomicFile() { discard(); }

  // Opens the temporary file for `path`. Refuses (false, errno set) a final name taken by
  // anything but a regular file (EISDIR for a folder, ENXIO for the others), a regular file
  // the user may not write (EACCES), and a name too long to exist (ENAMETOOLONG). The new
  // file gets the mode of the file it replaces.
  bool open(const std::string& path);
  bool is_open() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Writes all of `bytes` at the file's position; false (errno set) when a write fails.
  bool write(std::string_view bytes);
  // Closes the file (with fsync first when `durable`) and renames it into place; false with
  // errno set when anything fails, the temporary file then removed.
  bool commit(bool durable = false);
  // Closes and removes the temporary file, if any.
  void discard();

 private:
  int fd_ = -1;
  int held_ = -1;  // its place among the temporaries removed on a termination signal
  std::string target_;
  std::string temp_;
};

// Outcome of replace_file.
enum class Replace { Done, CannotCreate, CannotWrite };

// Makes `bytes` the whole content of `path` through an AtomicFile. On failure `path` is left
// as it was and errno tells why.
Replace replace_file(const std::string& path, std::string_view bytes);

// Outcome of read_file.
enum class ReadFile {
  Done,
  Failed,      // the system refused: errno tells why (ENOENT: it does not exist)
  NotRegular,  // a folder, device or named pipe: refused before it is opened
  TooLarge,    // longer than the limit the caller set
};

// Reads the whole regular file `path`, at most `limit` bytes, into `out`. Never waits on a
// named pipe.
ReadFile read_file(const std::string& path, std::uintmax_t limit, std::string& out);

// Moves the finished file `from` onto `to` in one step (both in one file system); false with
// errno set on failure. The only renaming of the project's products.
bool move_into_place(const std::string& from, const std::string& to);

// The longest name of one file in the folder of `path` (NAME_MAX where the system cannot
// tell), and whether the last component of `path` fits in it.
bool name_fits(const std::string& path);

// A new private folder (mode 0700, unpredictable name) beside the files a library writes by
// name (GDAL's drivers), so that they can be written there and moved into place together.
// The folder and whatever it still holds are removed when the object goes away.
class StagingDir {
 public:
  StagingDir() = default;
  StagingDir(const StagingDir&) = delete;
  StagingDir& operator=(const StagingDir&) = delete;
  ~StagingDir();
  // Makes the folder inside `parent`; false with errno set.
  bool make(const std::string& parent);
  const std::string& path() const { return path_; }
  // `name` inside the folder.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  int held_ = -1;
};

// Makes SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a closed terminal) remove the temporary files
// and staging folders still open, then end the program by the same signal, as it would have
// ended. A signal ignored when the program starts stays ignored. Called once, early in main.
void remove_temporaries_on_termination();

}  // namespace nrutil
