// Large zero-filled memory blocks for the grids of a run: big blocks come straight from the
// kernel (fresh pages are zero, and the block goes back to the system when released); small
// ones from the general-purpose allocator.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nrutil {

// The memory a program may count on for its grids, in bytes: the machine's physical memory,
// or the positive whole number of bytes in the environment variable TESSERA_MEMORY_BYTES,
// which tests set so that the refusal of a grid too large does not depend on the machine.
// 0 when unknown.
std::int64_t memory_bytes();

// A zero-filled block of `bytes` bytes (at least one), or null when memory runs out.
void* alloc_block(std::size_t bytes);

// Releases a block from alloc_block; `bytes` is the size it was asked for. Null is ignored.
void free_block(void* block, std::size_t bytes);

}  // namespace nrutil
