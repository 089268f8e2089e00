// Moving grid rows between a file and memory in large blocks: one system call carries many
// rows (scattered reads and gathered writes), so a grid crosses the kernel boundary once,
// with no copy through a stream buffer.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace nrutil {

// One stretch of memory of a transfer.
struct Piece {
  void* p;
  std::size_t n;
};

// Reads from fd, at its position, into the pieces in order until they are full or the file
// ends. Returns the number of bytes read, or -1 on a read error.
long long read_pieces(int fd, const Piece* pieces, std::size_t count);

// Writes the pieces in order to fd at its position, in calls of at most 1 MiB. False when a
// write fails.
bool write_pieces(int fd, const Piece* pieces, std::size_t count);

// The same at a given offset of the file, leaving the file's position alone.
long long read_pieces_at(int fd, long long offset, const Piece* pieces, std::size_t count);
bool write_pieces_at(int fd, long long offset, const Piece* pieces, std::size_t count);

}  // namespace nrutil
