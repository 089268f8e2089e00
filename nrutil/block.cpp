// Zero-filled blocks: mapped pages for large blocks, calloc for small ones.
#include "nrutil/block.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace nrutil {
namespace {

// From this size on a block is a mapping of its own: zero-filled by the kernel, returned
// to the system at once on release, and never scattered over the heap.
constexpr std::size_t kMapFrom = std::size_t{1} << 20;

}  // namespace

std::int64_t memory_bytes() {
  if (const char* v = std::getenv("TESSERA_MEMORY_BYTES"); v != nullptr && *v != '\0') {
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(v, &end, 10);
    if (*end == '\0' && n > 0 && errno == 0) return n;
  }
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  return pages > 0 && page > 0 ? std::int64_t{pages} * page : 0;
}

void* alloc_block(std::size_t bytes) {
  if (bytes == 0) bytes = 1;
  if (bytes < kMapFrom) return std::calloc(bytes, 1);
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void free_block(void* block, std::size_t bytes) {
  if (block == nullptr) return;
  if (bytes == 0) bytes = 1;
  if (bytes < kMapFrom) {
    std::free(block);
  } else {
    munmap(block, bytes);
  }
}

}  // namespace nrutil
