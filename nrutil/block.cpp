// Zero-filled blocks: mapped pages for large blocks, calloc for small ones.
#include "nrutil/block.h"

#include <sys/mman.h>

#include <cstdlib>

namespace nrutil {
namespace {

// From this size on a block is a mapping of its own: zero-filled by the kernel, returned
// to the system at once on release, and never scattered over the heap.
constexpr std::size_t kMapFrom = std::size_t{1} << 20;

}  // namespace

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
