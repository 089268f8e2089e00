// The threads of a run: how many, and the work of a pass shared among them block by block of
// rows, with the per-thread results gathered in a fixed order so that what a pass finds does
// not depend on the number of threads.
#pragma once

#include <functional>

#include "core/failure.h"

namespace core {

// The most threads a run uses.
inline constexpr int kMaxThreads = 64;

// The threads of a run: TESSERA_THREADS when it holds a whole number from 1 to kMaxThreads
// (tests run 1, 2 and 4 threads on any machine), else one per core the system reports.
int thread_count();

// Runs work(worker, block) for the blocks 0 to blocks - 1 on up to `threads` threads, the
// calling thread among them. Blocks are handed out in increasing order; `worker` (0 to
// threads - 1) names the thread, for the state each keeps of its own. After a block fails,
// no block after it is started, and every block before it still runs: the failure returned
// is that of the first failing block, whatever the number of threads.
Status for_each_block(int threads, int blocks,
                      const std::function<Status(int worker, int block)>& work);

// The number of workers for_each_block uses for `blocks` blocks.
inline int workers_for(int threads, int blocks) {
  return threads < 1 ? 1 : (blocks < threads ? (blocks < 1 ? 1 : blocks) : threads);
}

}  // namespace core
