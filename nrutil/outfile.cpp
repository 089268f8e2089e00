// Output files: refusing names that are not regular files, and whole-file replacement.
#include "nrutil/outfile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "nrutil/rowio.h"

namespace nrutil {
namespace {

// The errno of a name refused for not being a regular file: EISDIR for a folder; ENXIO,
// what opening a named pipe without a reader gives, for the others.
int refused_errno(mode_t mode) {
  return S_ISDIR(mode) ? EISDIR : ENXIO;
}

// Closes fd keeping errno as it was; returns -1 for the caller's failure path.
int close_keeping_errno(int fd) {
  const int err = errno;
  ::close(fd);
  errno = err;
  return -1;
}

// The file a name leads to: its symbolic links followed as far as they go (a link to a
// file that does not exist yet leads to that file). A loop ends after 40 hops.
std::string link_target(std::string p) {
  char buf[PATH_MAX];
  for (int hops = 0; hops < 40; ++hops) {
    const ssize_t n = ::readlink(p.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) break;
    const std::string to(buf, static_cast<std::size_t>(n));
    const std::size_t slash = p.rfind('/');
    p = to[0] == '/' || slash == std::string::npos ? to : p.substr(0, slash + 1) + to;
  }
  return p;
}

}  // namespace

bool is_non_regular(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

int open_output(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    errno = refused_errno(st.st_mode);
    return -1;
  }
  // O_NONBLOCK: should a pipe take the name between the look above and here, the opening
  // fails or returns at once instead of waiting for a reader; it is then refused below.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0) return close_keeping_errno(fd);
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = refused_errno(st.st_mode);
    return -1;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 || ::ftruncate(fd, 0) != 0) {
    return close_keeping_errno(fd);
  }
  return fd;
}

Replace replace_file(const std::string& path, std::string_view bytes) {
  const std::string target = link_target(path);
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    errno = refused_errno(st.st_mode);
    return Replace::CannotCreate;
  }
  if (!exists && errno != ENOENT) return Replace::CannotCreate;  // a link loop, no search right
  // A file the user may not write stays so: the rename would replace it all the same.
  if (exists && ::access(target.c_str(), W_OK) != 0) return Replace::CannotCreate;
  // The new file: a hidden name of this process beside the target, so that the rename
  // stays within one file system.
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string temp;
  int fd = -1;
  for (int n = 0; fd < 0 && n < 100; ++n) {
    temp = dir + ".tessera_" + std::to_string(::getpid()) + "_" + std::to_string(n) + ".tmp";
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0 && errno != EEXIST) return Replace::CannotCreate;
  }
  if (fd < 0) return Replace::CannotCreate;
  if (exists) ::fchmod(fd, st.st_mode & 07777);  // the new file keeps the old one's mode
  const Piece all{const_cast<char*>(bytes.data()), bytes.size()};
  bool ok = write_pieces(fd, &all, 1);
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(temp.c_str());
    errno = err;
    return Replace::CannotWrite;
  }
  return Replace::Done;
}

}  // namespace nrutil
