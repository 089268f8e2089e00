// An output text file that remembers whether every write succeeded.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "app/console.h"

namespace app {

class TextFile {
 public:
  TextFile() = default;
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;
  ~TextFile() { close(); }

  // Creates (replaces) the file at host path `path`, refusing a name that is not a regular
  // file (nrutil::open_output). False when it cannot be created; errno then tells why.
  bool create(const std::string& path);
  bool is_open() const { return f_ != nullptr; }
  // True while no write has failed.
  bool good() const { return ok_; }

  void write(std::string_view bytes);
  template <class... A>
  void print(const char* fmt, A... args) {
    if (f_ == nullptr) return;
    if constexpr (sizeof...(A) == 0) {
      write(fmt);
    } else {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
      if (std::fprintf(f_, fmt, args...) < 0) ok_ = false;
#pragma GCC diagnostic pop
    }
  }
  // Pushes buffered bytes to the file; false if this or an earlier write failed.
  bool flush();
  // Flushes and closes; false if anything written was lost. Closing twice is harmless.
  bool close();
  std::FILE* stream() {
    return f_;
  }

 private:
  std::FILE* f_ = nullptr;
  bool ok_ = true;
};

}  // namespace app
