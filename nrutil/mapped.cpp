// File windows and the guard of the work that reads them.
#include "nrutil/mapped.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <mutex>

namespace nrutil {

namespace {

// Where the guarded work of this thread goes back to on a SIGBUS, and where the fault was.
thread_local sigjmp_buf* t_return = nullptr;
thread_local const void* t_fault = nullptr;

struct sigaction g_before {};
std::once_flag g_installed;

void on_bus_error(int /*sig*/, siginfo_t* info, void* /*context*/) {
  if (sigjmp_buf* back = t_return) {
    t_return = nullptr;
    t_fault = info != nullptr ? info->si_addr : nullptr;
    siglongjmp(*back, 1);
  }
  // Not a read of guarded work: the action there was before, and the faulting access runs
  // again under it.
  sigaction(SIGBUS, &g_before, nullptr);
}

long page_size() {
  static const long size = sysconf(_SC_PAGESIZE) > 0 ? sysconf(_SC_PAGESIZE) : 4096;
  return size;
}

}  // namespace

const unsigned char* FileWindow::map(int fd, long long offset, std::size_t length) {
  reset();
  if (fd < 0 || offset < 0 || length == 0) return nullptr;
  const long long start = offset - offset % page_size();
  const std::size_t span = length + static_cast<std::size_t>(offset - start);
  void* p =
      mmap(nullptr, span, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, static_cast<off_t>(start));
  if (p == MAP_FAILED) return nullptr;
  base_ = p;
  length_ = span;
  return static_cast<const unsigned char*>(p) + (offset - start);
}

void FileWindow::reset() {
  if (base_ != nullptr) munmap(base_, length_);
  base_ = nullptr;
  length_ = 0;
}

bool FileWindow::holds(const void* address) const {
  const auto* a = static_cast<const unsigned char*>(address);
  const auto* b = static_cast<const unsigned char*>(base_);
  return b != nullptr && a >= b && a < b + length_;
}

bool read_mapped(const std::function<void()>& work, const void** fault) {
  std::call_once(g_installed, [] {
    struct sigaction a {};
    a.sa_sigaction = on_bus_error;
    a.sa_flags = SA_SIGINFO;
    sigemptyset(&a.sa_mask);
    sigaction(SIGBUS, &a, &g_before);
  });
  sigjmp_buf back;
  if (sigsetjmp(back, 1) != 0) {
    if (fault != nullptr) *fault = t_fault;
    return false;
  }
  t_return = &back;
  work();
  t_return = nullptr;
  return true;
}

}  // namespace nrutil
