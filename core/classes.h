// The ways of cutting the valid sums of a composite into levels: equal levels from 0 (the
// classic rule), equal levels from the smallest to the largest sum, and quantiles; and the
// exact search of the quantile bounds over sums streamed several times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/levels.h"

namespace core {

enum class ClassMethod { Equal, MinMax, Quantile };

// "equal", "minmax", "quantile".
const char* class_method_name(ClassMethod m);
// The method of a name, or nullopt.
std::optional<ClassMethod> class_method_of(const std::string& name);

// N equal levels from 0 to the largest valid sum, bounds as running sums of the step: the
// classic levels, to the last bit.
Levels equal_levels(double max_valid, int count);

// N equal levels from the smallest to the largest valid sum: the step is (max - min) / N and
// the bounds are running sums of it from min. With min == max every level is empty and every
// valid cell (its sum is the largest) is in the top level.
Levels minmax_levels(double min_valid, double max_valid, int count);

// The quantile levels (the rule of QuantileSearch below) of sums that are few enough to be
// held as their distinct finite values, in any order, each with the number of cells that
// hold it (at least one value, each count at least 1).
Levels quantile_levels(std::vector<std::pair<double, std::int64_t>> counted, int count);

// The order-preserving 64-bit key of a finite double (-0.0 taken as 0.0): a < b exactly when
// key(a) < key(b).
std::uint64_t sum_key(double d);
double key_sum(std::uint64_t key);

// Exact quantile bounds of a multiset of sums that is too large to hold: the caller streams
// every valid sum through add() once per pass, in any order, and calls end_pass() after each
// pass until done() (the first pass also counts the sums and finds their range). Memory: a
// histogram of 2^20 counters, then the sums of the few key ranges that hold a bound, kept as
// distinct values with their counts (at most about `budget_bytes`); a range that holds too
// many distinct sums is cut finer in the next pass, so the search ends after at most six
// passes whatever the sums.
//
// The bound of level k + 1 (k = 1..N-1) is taken among the sums: with n sums in ascending
// order and v the sum at rank floor(k * n / N) (from 0), it is v or the next larger sum,
// whichever leaves the number of sums below the bound nearer to k * n / N; on equal distance
// v, so the cells tied at v go to the upper level. Cells with equal sums always share a level;
// a large tie can leave levels empty.
class QuantileSearch {
 public:
  explicit QuantileSearch(int count, std::size_t budget_bytes = std::size_t{64} << 20);

  void add(const double* sums, const unsigned char* valid, std::size_t n);
  void end_pass();
  bool done() const { return done_; }
  int passes() const { return passes_; }

  // After done(): the number of sums, their range, and the levels (build_bounds).
  std::int64_t total() const { return total_; }
  double min() const { return min_; }
  double max() const { return max_; }
  Levels levels() const;

 private:
  // A target: the sum at rank `rank`, and (once found) the counts below it and up to it and
  // the next larger sum.
  struct Target {
    std::int64_t rank = 0;
    bool found = false;
    double value = 0.0;
    std::int64_t below = 0;  // sums < value
    std::int64_t upto = 0;   // sums <= value
    bool has_next = false;
    double next = 0.0;
  };
  // A key range [lo, lo + (bins << shift)) searched in a pass: its sums counted in bins of
  // 2^shift keys, and kept as distinct values with counts while they fit.
  struct Window {
    std::uint64_t lo = 0;
    std::uint64_t span = 0;  // keys in the window (0: all 2^64)
    int shift = 0;
    std::int64_t below = 0;  // sums below the window
    std::vector<std::int64_t> bins;
    std::vector<double> pending;                        // sums not yet merged
    std::vector<std::pair<double, std::int64_t>> kept;  // distinct sums and counts
    bool overflow = false;
    std::int64_t count = 0;
    std::vector<int> targets;
  };
  // What lies after a window up to the next one: its smallest sum and its count.
  struct Gap {
    double min = 0.0;
    std::int64_t count = 0;
  };

  void merge(Window& w);
  void plan_windows();
  void resolve_from_bins(Window& w);
  int region_of(std::uint64_t key) const;
  std::optional<double> smallest_after(std::size_t window) const;

  int count_;
  std::size_t budget_;
  std::size_t keep_limit_ = 0;  // distinct sums a window may keep
  bool done_ = false;
  int passes_ = 0;
  std::int64_t total_ = 0;
  double min_ = 0.0, max_ = 0.0;
  std::vector<Target> targets_;
  std::vector<Window> windows_;  // sorted by key, disjoint
  std::vector<Gap> gaps_;        // gaps_[i]: after windows_[i]
  std::vector<double> window_min_;
};

}  // namespace core
