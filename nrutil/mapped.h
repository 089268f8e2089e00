// Reading a file through a mapping instead of copies: a window over a stretch of the file,
// and a guard that turns a read of a page the file no longer has (it was cut short after the
// mapping: SIGBUS) into a failure of the work that read it, instead of the end of the process.
#pragma once

#include <cstddef>
#include <functional>
#include <utility>

namespace nrutil {

// One stretch of a file mapped for reading, its pages in memory from the start. At most one
// stretch at a time: mapping another releases the one before.
class FileWindow {
 public:
  FileWindow() = default;
  FileWindow(const FileWindow&) = delete;
  FileWindow& operator=(const FileWindow&) = delete;
  FileWindow(FileWindow&& o) noexcept
      : base_(std::exchange(o.base_, nullptr)), length_(std::exchange(o.length_, 0)) {}
  FileWindow& operator=(FileWindow&& o) noexcept {
    if (this != &o) {
      reset();
      base_ = std::exchange(o.base_, nullptr);
      length_ = std::exchange(o.length_, 0);
    }
    return *this;
  }
  ~FileWindow() { reset(); }

  // The bytes [offset, offset + length) of the open file fd (length at least 1), or null
  // when they cannot be mapped.
  const unsigned char* map(int fd, long long offset, std::size_t length);
  // Releases the stretch, if any.
  void reset();
  // Whether `address` lies in the stretch mapped now.
  bool holds(const void* address) const;

 private:
  void* base_ = nullptr;
  std::size_t length_ = 0;
};

// Runs `work`, which reads mapped files. When a read finds a page that its file no longer
// has, `work` stops there (no destructor of what it made runs: it must make nothing that
// needs one) and this returns false, with the address read in *fault when fault is given.
// Other threads are not affected; a SIGBUS outside such work still ends the process.
bool read_mapped(const std::function<void()>& work, const void** fault = nullptr);

}  // namespace nrutil
