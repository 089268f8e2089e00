// The shared file helpers: output opener, atomic writer, regular-file check, whole-file reader,
// staging folder.
#include "nrutil/files.h"

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <utility>

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

// The folder part of a path, with its trailing '/', or "" for a name in the current folder.
std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// `n` random letters and digits, from the system's random source.
std::string random_letters(std::size_t n) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[32];
  n = std::min(n, sizeof bytes);
  if (::getrandom(bytes, n, 0) != static_cast<ssize_t>(n)) {
    std::random_device rd;
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(rd());
  }
  std::string s(n, 'a');
  for (std::size_t i = 0; i < n; ++i) s[i] = kAlphabet[bytes[i] % (sizeof kAlphabet - 1)];
  return s;
}

// The prefix of every temporary name: short, so that a temporary name never runs past the
// system's limit where the final name fits.
constexpr const char* kTempPrefix = ".tsr";
constexpr std::size_t kTempLetters = 10;

// ---- The temporaries a termination signal removes ----
//
// A fixed table that the signal handler can read without taking a lock or allocating: a slot
// is claimed (Claimed), its path copied in, then published (File or Folder); the handler only
// reads published slots. A temporary that finds no free slot (more than kHeldMost at once) or
// whose path is too long is simply not removed by a signal.
enum HeldState : int { Free, Claimed, File, Folder };
struct HeldTemporary {
  std::atomic<int> state{Free};
  char path[PATH_MAX];
};
constexpr int kHeldMost = 64;
HeldTemporary g_held[kHeldMost];
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kTerminationSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Temporaries being created and recorded at this moment, by any thread.
std::atomic<int> g_creating{0};

// While it lives, a temporary is being created and recorded: the termination signals are held
// back from this thread, and a handler that runs on another thread waits for the record, so
// that no signal falls between the two.
class Creating {
 public:
  Creating() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : kTerminationSignals) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, &before_);
    g_creating.fetch_add(1);
  }
  ~Creating() {
    g_creating.fetch_sub(1);
    pthread_sigmask(SIG_SETMASK, &before_, nullptr);
  }
  Creating(const Creating&) = delete;
  Creating& operator=(const Creating&) = delete;

 private:
  sigset_t before_;
};

// Publishes `path` in a free slot; the slot, or -1.
int hold(const std::string& path, HeldState kind) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kHeldMost; ++i) {
    int expected = Free;
    if (g_held[i].state.compare_exchange_strong(expected, Claimed)) {
      std::memcpy(g_held[i].path, path.c_str(), path.size() + 1);
      g_held[i].state.store(kind, std::memory_order_release);
      return i;
    }
  }
  return -1;
}

void release(int& slot) {
  if (slot >= 0) g_held[slot].state.store(Free, std::memory_order_release);
  slot = -1;
}

// Empties and removes a staging folder with async-signal-safe calls only: the folder holds
// the files a library wrote, no folders. Entries are listed again until a listing removes
// nothing, since a listing may skip entries while they are being removed.
void remove_folder_in_handler(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    alignas(8) char buf[8192];
    for (int round = 0; round < 8; ++round) {
      bool removed = false;
      ::lseek(fd, 0, SEEK_SET);
      for (;;) {
        const long n = ::syscall(SYS_getdents64, fd, buf, sizeof buf);
        if (n <= 0) break;
        for (long at = 0; at < n;) {
          // struct linux_dirent64: inode (8), offset (8), record length (2), type (1), name.
          unsigned short length;
          std::memcpy(&length, buf + at + 16, sizeof length);
          const char* name = buf + at + 19;
          if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0 &&
              ::unlinkat(fd, name, 0) == 0) {
            removed = true;
          }
          at += length;
        }
      }
      if (!removed) break;
    }
    ::close(fd);
  }
  ::rmdir(path);
}

void on_termination(int sig) {
  // A temporary being created on another thread is recorded within microseconds; a second
  // at most is waited for.
  for (int waited = 0; waited < 1000 && g_creating.load() > 0; ++waited) {
    const timespec ms{0, 1000000};
    ::nanosleep(&ms, nullptr);
  }
  for (HeldTemporary& t : g_held) {
    const int state = t.state.load(std::memory_order_acquire);
    if (state == File) {
      ::unlink(t.path);
    } else if (state == Folder) {
      remove_folder_in_handler(t.path);
    }
  }
  // The action is back to the default (SA_RESETHAND): the signal, pending until the handler
  // returns, then ends the program with the status it would have had.
  ::raise(sig);
}

}  // namespace

bool is_regular_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

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

std::string link_target(const std::string& path) {
  std::string p = path;
  char buf[PATH_MAX];
  for (int hops = 0; hops < 40; ++hops) {
    const ssize_t n = ::readlink(p.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) break;
    const std::string to(buf, static_cast<std::size_t>(n));
    p = to[0] == '/' ? to : folder_of(p) + to;
  }
  return p;
}

bool name_fits(const std::string& path) {
  const std::string dir = folder_of(path);
  const std::size_t length = path.size() - dir.size();
  errno = 0;
  long most = ::pathconf(dir.empty() ? "." : dir.c_str(), _PC_NAME_MAX);
  if (most <= 0) most = NAME_MAX;
  return length <= static_cast<std::size_t>(most);
}

// ---- AtomicFile ----

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      held_(std::exchange(other.held_, -1)),
      target_(std::move(other.target_)),
      temp_(std::exchange(other.temp_, std::string())) {}

AtomicFile& AtomicFile::operator=(AtomicFile&& other) noexcept {
  if (this != &other) {
    discard();
    fd_ = std::exchange(other.fd_, -1);
    held_ = std::exchange(other.held_, -1);
    target_ = std::move(other.target_);
    temp_ = std::exchange(other.temp_, std::string());
  }
  return *this;
}

bool AtomicFile::open(const std::string& path) {
  discard();
  target_ = link_target(path);
  if (!name_fits(target_)) {
    errno = ENAMETOOLONG;
    return false;
  }
  struct stat st {};
  const bool exists = ::stat(target_.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    errno = refused_errno(st.st_mode);
    return false;
  }
  if (!exists && errno != ENOENT) return false;  // a link loop, no search right
  // A file the user may not write stays so: the rename would replace it all the same.
  if (exists && ::access(target_.c_str(), W_OK) != 0) return false;
  // Beside the target, so that the rename stays within one file system. O_EXCL with
  // O_NOFOLLOW: a name that exists in any form (a link, a pipe, a file) is never opened.
  const std::string dir = folder_of(target_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = dir + kTempPrefix + random_letters(kTempLetters);
    const Creating creating;
    const int fd =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd >= 0) {
      fd_ = fd;
      temp_ = std::move(temp);
      held_ = hold(temp_, File);
      if (exists) ::fchmod(fd_, st.st_mode & 07777);  // the new file keeps the old one's mode
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

bool AtomicFile::write(std::string_view bytes) {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    // At most 1 MiB a call, as the row writers (nrutil/rowio.cpp) write.
    const std::size_t take = std::min(bytes.size() - done, std::size_t{1} << 20);
    const ssize_t n = ::write(fd_, bytes.data() + done, take);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool AtomicFile::commit(bool durable) {
  if (fd_ < 0) {
    errno = EBADF;
    return false;
  }
  bool ok = !durable || ::fsync(fd_) == 0;
  int err = errno;
  const int fd = std::exchange(fd_, -1);
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && !move_into_place(temp_, target_)) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    discard();
    errno = err;
    return false;
  }
  temp_.clear();
  release(held_);
  return true;
}

void AtomicFile::discard() {
  const int err = errno;
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  release(held_);
  errno = err;
}

Replace replace_file(const std::string& path, std::string_view bytes) {
  AtomicFile f;
  if (!f.open(path)) return Replace::CannotCreate;
  if (!f.write(bytes) || !f.commit()) return Replace::CannotWrite;
  return Replace::Done;
}

// ---- Reading, moving, staging ----

ReadFile read_file(const std::string& path, std::uintmax_t limit, std::string& out) {
  out.clear();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return ReadFile::Failed;
  if (!S_ISREG(st.st_mode)) return ReadFile::NotRegular;
  if (static_cast<std::uintmax_t>(st.st_size) > limit) return ReadFile::TooLarge;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return ReadFile::Failed;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ReadFile::NotRegular;
  }
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close_keeping_errno(fd);
      return ReadFile::Failed;
    }
    if (n == 0) break;
    if (out.size() + static_cast<std::size_t>(n) > limit) {
      ::close(fd);
      return ReadFile::TooLarge;
    }
    out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ReadFile::Done;
}

bool move_into_place(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

StagingDir::~StagingDir() {
  if (path_.empty()) return;
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
  release(held_);
}

bool StagingDir::make(const std::string& parent) {
  std::string name = (parent.empty() ? std::string(".") : parent) + "/" + kTempPrefix + "XXXXXX";
  const Creating creating;
  if (::mkdtemp(name.data()) == nullptr) return false;
  path_ = std::move(name);
  held_ = hold(path_, Folder);
  return true;
}

void remove_temporaries_on_termination() {
  struct sigaction action {};
  action.sa_handler = on_termination;
  action.sa_flags = SA_RESETHAND;
  // One handler at a time, whichever of the signals comes.
  sigemptyset(&action.sa_mask);
  for (const int sig : kTerminationSignals) sigaddset(&action.sa_mask, sig);
  for (const int sig : kTerminationSignals) {
    struct sigaction before {};
    if (::sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &action, nullptr);
  }
}

}  // namespace nrutil
