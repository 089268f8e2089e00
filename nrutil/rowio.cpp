// Scattered reads and gathered writes over many pieces, batched by the system's iovec limit
// and resumed after short transfers and interruptions.
#include "nrutil/rowio.h"

#include <limits.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace nrutil {
namespace {

#ifdef IOV_MAX
constexpr std::size_t kMaxIov = IOV_MAX;
#else
constexpr std::size_t kMaxIov = 1024;
#endif

// Writes go out in calls of at most 1 MiB: on the virtual machines measured, larger writes
// into the page cache were several times slower after a few idle seconds.
constexpr std::size_t kMaxWriteCall = std::size_t{1} << 20;

// Runs `call` (readv or writev) over the pieces, at most `limit` bytes a call (0: no limit);
// on a short transfer it goes on from where it stopped. Returns the bytes moved, or -1 on an
// error; stops early when call returns 0.
template <class Call>
long long transfer(const Piece* pieces, std::size_t count, std::size_t limit, Call call) {
  std::vector<iovec> iov;
  iov.reserve(std::min(count, kMaxIov));
  long long moved = 0;
  std::size_t next = 0;    // first piece not yet in a batch
  std::size_t offset = 0;  // bytes of pieces[next] already moved
  while (next < count) {
    iov.clear();
    std::size_t batch = 0;
    for (std::size_t k = next; k < count && iov.size() < kMaxIov; ++k) {
      if (limit != 0 && batch >= limit) break;
      const std::size_t skip = k == next ? offset : 0;
      if (pieces[k].n > skip) {
        std::size_t take = pieces[k].n - skip;
        if (limit != 0) take = std::min(take, limit - batch);
        iov.push_back({static_cast<char*>(pieces[k].p) + skip, take});
        batch += take;
      }
    }
    if (iov.empty()) break;
    const ssize_t got = call(iov.data(), static_cast<int>(iov.size()));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    moved += got;
    // Advance over the bytes moved.
    auto left = static_cast<std::size_t>(got);
    while (next < count && left > 0) {
      const std::size_t rest = pieces[next].n - offset;
      if (left < rest) {
        offset += left;
        left = 0;
      } else {
        left -= rest;
        ++next;
        offset = 0;
      }
    }
    while (next < count && pieces[next].n == offset) {
      ++next;
      offset = 0;
    }
  }
  return moved;
}

std::size_t total_of(const Piece* pieces, std::size_t count) {
  std::size_t total = 0;
  for (std::size_t k = 0; k < count; ++k) total += pieces[k].n;
  return total;
}

}  // namespace

long long read_pieces(int fd, const Piece* pieces, std::size_t count) {
  return transfer(pieces, count, 0, [fd](const iovec* v, int n) { return readv(fd, v, n); });
}

bool write_pieces(int fd, const Piece* pieces, std::size_t count) {
  const long long moved = transfer(pieces, count, kMaxWriteCall,
                                   [fd](const iovec* v, int n) { return writev(fd, v, n); });
  return moved >= 0 && static_cast<std::size_t>(moved) == total_of(pieces, count);
}

long long read_pieces_at(int fd, long long offset, const Piece* pieces, std::size_t count) {
  return transfer(pieces, count, 0, [fd, &offset](const iovec* v, int n) {
    const ssize_t got = preadv(fd, v, n, static_cast<off_t>(offset));
    if (got > 0) offset += got;
    return got;
  });
}

bool write_pieces_at(int fd, long long offset, const Piece* pieces, std::size_t count) {
  const long long moved =
      transfer(pieces, count, kMaxWriteCall, [fd, &offset](const iovec* v, int n) {
        const ssize_t put = pwritev(fd, v, n, static_cast<off_t>(offset));
        if (put > 0) offset += put;
        return put;
      });
  return moved >= 0 && static_cast<std::size_t>(moved) == total_of(pieces, count);
}

}  // namespace nrutil
