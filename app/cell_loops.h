// The per-cell loops of the summation, over plain arrays (one grid row at a time), so that
// they can be tested and timed on their own. Each keeps the exact arithmetic of the run:
// every product value x weight is rounded to a double before it is added.
#pragma once

#include <cstddef>
#include <cstdint>

namespace app {

// Counts how many cells hold each byte value, over any number of rows. Four tables of
// 32-bit counters, so that runs of equal values do not wait on one another's increments,
// are moved into 64-bit totals before they can overflow.
class ValueCounter {
 public:
  // Cells counted into the 32-bit tables before they are moved to the totals.
  static constexpr std::size_t kFlushEvery = std::size_t{1} << 31;
  explicit ValueCounter(std::size_t flush_every = kFlushEvery) : flush_every_(flush_every) {}
  void add(const unsigned char* v, std::size_t n);
  // The number of cells seen with value b.
  std::int64_t count(int b);

 private:
  void flush();
  std::uint32_t part_[4][256] = {};
  std::int64_t total_[256] = {};
  std::size_t flush_every_;
  std::size_t pending_ = 0;
};

// acc[j] = (start ? 0.0 : acc[j]) + v[j] x weight for j < n, and counts every v[j]. Starting
// from 0.0 (rather than taking the product alone) keeps the sum bit-identical to an
// accumulator that was zero-filled first: 0.0 + -0.0 is 0.0.
void weigh_and_count(const unsigned char* v, std::size_t n, double weight, double* acc, bool start,
                     ValueCounter& counts);

// The mask of the first image: mask[j] = 1 where v[j] is 0, else 255; with `rewrite`, every
// 255 of v becomes 0 (a raw or BMP first image: its 255 cells take part in the sum).
void first_image_mask(unsigned char* v, std::size_t n, bool rewrite, unsigned char* mask);

// The largest of `from` and the sums of the valid cells (last[j] below 255).
double max_valid_sum(const unsigned char* last, const double* sum, std::size_t n, double from);

// Whether the sum of every valid cell (last[j] below 255) is a finite number: weights too
// large for the values give infinite sums, or NaN where infinities of both signs meet.
bool valid_sums_finite(const unsigned char* last, const double* sum, std::size_t n);

}  // namespace app
