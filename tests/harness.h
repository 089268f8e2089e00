// Test helpers: a scratch folder, whole-file reads and writes, and an in-process run over
// scripted answers.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/run.h"
#include "app/tessera_summary.h"

namespace testing_support {

// A fresh folder removed at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tessera_XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) ? tmpl : std::string();
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

inline bool exists(const std::string& path) {
  return std::filesystem::exists(path);
}

// While it lives, no file this process writes may grow past `bytes`: a full disk. A write
// past the limit fails with EFBIG (SIGXFSZ, which would end the process, is ignored).
class FullDisk {
 public:
  explicit FullDisk(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = saved_;
    lim.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &lim);
  }
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;
  ~FullDisk() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_);
  }

 private:
  rlimit saved_{};
  void (*old_)(int) = SIG_DFL;
};

// A run over scripted answers, with the console text collected.
struct Session {
  explicit Session(const std::string& answers) : in(answers), con(in, out, false), run(con) {}
  std::istringstream in;
  std::ostringstream out;
  app::Console con;
  app::Run run;
  int status = -1;
  int go() { return status = app::opening(run); }
  std::string text() const { return out.str(); }
};

}  // namespace testing_support
