// Test support: the built program run as a child process over scripted answers, and
// snapshots of a folder to prove that a run left its files alone.
#pragma once

#include <sys/wait.h>

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

// Runs TESSERA_BINARY in the C locale with `answers` on its standard input; a run taking
// more than `seconds` is stopped (a hang). Sanitizer reports go to stderr with exit 99.
// When TESSERA_WRAPPER is set (for instance to a valgrind command, by `make valgrind`) the
// program runs under it, with ten times the time.
inline ChildRun run_binary(const std::string& answers, int seconds = 30) {
  ScratchDir io;
  write_file(io.file("in"), answers);
  const char* wrapper = std::getenv("TESSERA_WRAPPER");
  const bool wrapped = wrapper != nullptr && *wrapper != '\0';
  const std::string cmd = "LC_ALL=C ASAN_OPTIONS=exitcode=99 UBSAN_OPTIONS=exitcode=99 timeout " +
                          std::to_string(wrapped ? 10 * seconds : seconds) + " " +
                          (wrapped ? std::string(wrapper) + " " : std::string()) + "'" +
                          TESSERA_BINARY + "' < '" + io.file("in") + "' > '" + io.file("out") +
                          "' 2> '" + io.file("err") + "'";
  const int raw = std::system(cmd.c_str());
  ChildRun r;
  r.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = read_file(io.file("out"));
  r.err = read_file(io.file("err"));
  return r;
}

// Every regular file under `dir` (recursively, symbolic links not followed) with its bytes.
inline std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  namespace fs = std::filesystem;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file() && !e.is_symlink()) files[e.path().string()] = read_file(e.path());
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
