// The per-cell loops of the summation, over plain arrays (one grid row at a time), so that
// they can be tested and timed on their own. Each keeps the exact arithmetic of the run:
// every product value x weight is rounded to a double before it is added, image after image.
#pragma once

#include <cstddef>
#include <cstdint>

namespace core {

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

// The weighted sum of one row over `count` images (at least one), in image order:
// acc[j] = (...((0.0 + v[0][j] x w[0]) + v[1][j] x w[1]) ...) + v[count-1][j] x w[count-1]
// for j < n. Starting from 0.0 (rather than taking the first product alone) keeps the sum
// bit-identical to adding into a zero-filled accumulator: 0.0 + -0.0 is 0.0.
void weighted_sum(const unsigned char* const* v, const double* w, int count, std::size_t n,
                  double* acc);

// The largest of `from` and the sums of the valid cells (valid[j] below 255).
double max_valid_sum(const unsigned char* valid, const double* sum, std::size_t n, double from);

// The cells where v holds 255 (no data) while valid holds less than 255: a cell whose sum
// takes 255 x the weight of v's image and still receives a level.
std::int64_t count_nodata_in_valid(const unsigned char* v, const unsigned char* valid,
                                   std::size_t n);

// Whether the sum of every valid cell (valid[j] below 255) is a finite number: weights too
// large for the values give infinite sums, or NaN where infinities of both signs meet.
bool valid_sums_finite(const unsigned char* valid, const double* sum, std::size_t n);

}  // namespace core
