// Test support: the built program run as a child process over scripted answers, and
// snapshots of a folder to prove that a run left its files alone.
#pragma once

#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "support/files.h"

namespace testing_support {

struct ChildRun {
  int status = -1;  // exit status; 124 when it had to be stopped, 128+n after signal n
  std::string out;  // standard output
  std::string err;  // standard error: empty unless something went badly wrong
};

// How run_binary starts the program.
struct ChildOptions {
  int seconds = 30;             // a run taking longer is stopped (a hang)
  long long file_limit = -1;    // when >= 0: no file the program writes may grow past this many
                                // bytes (a full disk: such writes fail with EFBIG)
  bool console_closed = false;  // standard output is a pipe whose reader has already gone
  std::string env;              // "NAME=value ..." set for the program
  std::string prefix;           // a command the program runs under, such as setpriv ...
};

// Runs TESSERA_BINARY in the C locale with `answers` on its standard input, its standard
// output and error read through pipes (which a file size limit does not touch). Sanitizer
// reports go to stderr with exit 99. When TESSERA_WRAPPER is set (for instance to a valgrind
// command, by `make valgrind`) the program runs under it, with ten times the time.
inline ChildRun run_binary(const std::string& answers, const ChildOptions& o) {
  ScratchDir io;
  write_file(io.file("in"), answers);
  const char* wrapper = std::getenv("TESSERA_WRAPPER");
  const bool wrapped = wrapper != nullptr && *wrapper != '\0';
  const std::string cmd = "LC_ALL=C ASAN_OPTIONS=exitcode=99 UBSAN_OPTIONS=exitcode=99 " + o.env +
                          " exec timeout " + std::to_string(wrapped ? 10 * o.seconds : o.seconds) +
                          " " + o.prefix + " " + (wrapped ? std::string(wrapper) : std::string()) +
                          " '" + TESSERA_BINARY + "' < '" + io.file("in") + "'";
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return ChildRun{};
  if (o.console_closed) {
    close(out[0]);
    out[0] = -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1]}) {
      if (fd > 2) close(fd);
    }
    std::signal(SIGPIPE, SIG_DFL);
    if (o.file_limit >= 0) {
      // SIGXFSZ keeps its default action, which ends a program: the program itself must
      // ignore it so that the write past the limit fails and is told. A wrapper (valgrind)
      // writes files of its own before the program starts: it is spared the signal.
      std::signal(SIGXFSZ, wrapped ? SIG_IGN : SIG_DFL);
      rlimit lim{};
      getrlimit(RLIMIT_FSIZE, &lim);
      lim.rlim_cur = static_cast<rlim_t>(o.file_limit);
      setrlimit(RLIMIT_FSIZE, &lim);
    }
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  ChildRun r;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* into[2] = {&r.out, &r.err};
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      char buf[65536];
      const ssize_t n = read(fds[k].fd, buf, sizeof buf);
      if (n > 0) {
        into[k]->append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[k].fd);
        fds[k].fd = -1;
      }
    }
  }
  int raw = 0;
  if (pid < 0 || waitpid(pid, &raw, 0) != pid) return r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
  return r;
}

inline ChildRun run_binary(const std::string& answers, int seconds = 30) {
  ChildOptions o;
  o.seconds = seconds;
  return run_binary(answers, o);
}

// Every regular file under `dir` (recursively, symbolic links not followed) with its bytes.
inline std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  namespace fs = std::filesystem;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_symlink() && e.is_regular_file()) files[e.path().string()] = read_file(e.path());
  }
  return files;
}

// The names in `before` whose file is gone or changed in `after`, one per line.
inline std::string changed_files(const std::map<std::string, std::string>& before,
                                 const std::map<std::string, std::string>& after) {
  std::string changed;
  for (const auto& [name, bytes] : before) {
    const auto it = after.find(name);
    if (it == after.end() || it->second != bytes) changed += name + "\n";
  }
  return changed;
}

}  // namespace testing_support
