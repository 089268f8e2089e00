// Output text files.
#include "app/textfile.h"

#include <unistd.h>

#include <cerrno>

#include "nrutil/files.h"

namespace app {

bool TextFile::create(const std::string& path) {
  close();
  ok_ = true;
  const int fd = nrutil::open_output(path);
  if (fd < 0) return false;
  f_ = fdopen(fd, "w");
  if (f_ == nullptr) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return false;
  }
  std::setvbuf(f_, nullptr, _IOFBF, 1 << 16);
  return true;
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
