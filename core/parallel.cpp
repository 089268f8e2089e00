// Thread count and the blocks of a pass shared among threads.
#include "core/parallel.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace core {

int thread_count() {
  if (const char* v = std::getenv("TESSERA_THREADS"); v != nullptr && *v != '\0') {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(v, &end, 10);
    if (*end == '\0' && errno == 0 && n >= 1 && n <= kMaxThreads) return static_cast<int>(n);
  }
  const unsigned cores = std::thread::hardware_concurrency();
  if (cores < 1) return 1;
  return cores > static_cast<unsigned>(kMaxThreads) ? kMaxThreads : static_cast<int>(cores);
}

Status for_each_block(int threads, int blocks,
                      const std::function<Status(int worker, int block)>& work) {
  if (blocks <= 0) return std::nullopt;
  const int workers = workers_for(threads, blocks);
  std::atomic<int> next{0};
  // The first failing block so far (blocks after it are not started).
  std::atomic<int> failed_at{blocks};
  // Each worker's first failure: its blocks come in increasing order, so that is its
  // earliest.
  std::vector<std::pair<int, Status>> failures(static_cast<std::size_t>(workers),
                                               {blocks, std::nullopt});
  const auto run = [&](int worker) {
    for (;;) {
      const int b = next.fetch_add(1, std::memory_order_relaxed);
      if (b >= blocks || b > failed_at.load(std::memory_order_relaxed)) return;
      Status s;
      try {
        s = work(worker, b);
      } catch (const std::bad_alloc&) {
        s = Failure::unreadable(std::string(), rasterio::FileError::OutOfMemory);
      }
      if (s) {
        failures[static_cast<std::size_t>(worker)] = {b, std::move(s)};
        int seen = failed_at.load(std::memory_order_relaxed);
        while (b < seen && !failed_at.compare_exchange_weak(seen, b, std::memory_order_relaxed)) {
        }
        return;
      }
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(static_cast<std::size_t>(workers - 1));
  for (int w = 1; w < workers; ++w) {
    try {
      pool.emplace_back(run, w);
    } catch (const std::system_error&) {
      break;  // the threads started (and this one) take every block
    }
  }
  run(0);
  for (std::thread& t : pool) t.join();
  std::pair<int, Status>* first = nullptr;
  for (auto& f : failures) {
    if (f.second && (first == nullptr || f.first < first->first)) first = &f;
  }
  return first != nullptr ? std::move(first->second) : std::nullopt;
}

}  // namespace core
