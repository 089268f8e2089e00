// Output text files.
#include "app/textfile.h"

namespace app {

bool TextFile::create(const std::string& path) {
  close();
  ok_ = true;
  f_ = std::fopen(path.c_str(), "w");
  if (f_ != nullptr) std::setvbuf(f_, nullptr, _IOFBF, 1 << 16);
  return f_ != nullptr;
}

void TextFile::write(std::string_view bytes) {
  if (f_ == nullptr || bytes.empty()) return;
  if (std::fwrite(bytes.data(), 1, bytes.size(), f_) != bytes.size()) ok_ = false;
}

bool TextFile::flush() {
  if (f_ != nullptr && std::fflush(f_) != 0) ok_ = false;
  return ok_;
}

bool TextFile::close() {
  if (f_ == nullptr) return ok_;
  if (std::fflush(f_) != 0) ok_ = false;
  if (std::fclose(f_) != 0) ok_ = false;
  f_ = nullptr;
  return ok_;
}

}  // namespace app
