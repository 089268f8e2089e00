// The per-cell loops of the summation, over plain arrays (one grid row at a time), so that
// they can be tested and timed on their own. Each keeps the exact arithmetic of the run:
// every product value x weight is rounded to a double before it is added, image after image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/levels.h"

namespace core {

// Counts how many cells hold each byte value, over any number of rows. Four tables of
// 32-bit counters, so that runs of equal values do not wait on one another's increments,
// are moved into 64-bit totals before they can overflow.
class alignas(64) ValueCounter {
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

// The instruction sets the row kernels below are built for: the baseline of every x86-64
// processor (two doubles a vector), and AVX2 (four doubles a vector, gathers). Both give the
// same bits; a run uses the widest its processor has.
enum class Isa { Baseline, Avx2 };
// Whether this processor runs the kernels of `isa`.
bool runs(Isa isa);
// The widest set this processor runs.
Isa widest_isa();

// What the checks of the sums find over rows.
struct SumChecks {
  double max_sum = 0.0;  // the largest valid sum, from 0 up (negatives and NaN never raise it)
  bool finite = true;    // false once a valid sum is not a finite number
};

// The weighted sums of one row (as weighted_sum), taken in pieces that stay in the
// first-level cache, and their checks: the largest valid sum (valid[j] below 255) raises
// checks.max_sum, and, when check_finite, a valid sum that is infinite or NaN clears
// checks.finite. Nothing is stored.
void check_sums(const unsigned char* const* v, const double* w, int count, std::size_t n,
                const unsigned char* valid, bool check_finite, SumChecks& checks,
                Isa isa = widest_isa());

// The weighted sums of one row (as weighted_sum) and the level of each: out[j] is
// levels.level_of(sum) where valid[j] is below 255, else 255 (as Levels::assign).
void level_sums(const unsigned char* const* v, const double* w, int count, std::size_t n,
                const unsigned char* valid, const Levels& levels, unsigned char* out,
                Isa isa = widest_isa());

// Levels::assign: out[j] = levels.level_of(sum[j]) where valid[j] is below 255, else 255,
// mostly read from the bucket table.
void assign_levels(const Levels& levels, const unsigned char* valid, const double* sum,
                   std::size_t n, unsigned char* out, Isa isa = widest_isa());

// The cells where v holds 255 (no data) while valid holds less than 255: a cell whose sum
// takes 255 x the weight of v's image and still receives a level.
std::int64_t count_nodata_in_valid(const unsigned char* v, const unsigned char* valid,
                                   std::size_t n);

// Whether the sum of every valid cell (valid[j] below 255) is a finite number: weights too
// large for the values give infinite sums, or NaN where infinities of both signs meet.
bool valid_sums_finite(const unsigned char* valid, const double* sum, std::size_t n);

// Whether no sum of `count` images of these weights can leave the finite numbers: 255 times
// the sum of the absolute weights, with room for the rounding of the partial sums, is finite.
bool sums_always_finite(const double* w, int count);

}  // namespace core
