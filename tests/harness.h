// Test helpers: a scratch folder, whole-file reads and writes, and an in-process run over
// scripted answers.
#pragma once

#include <unistd.h>

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
