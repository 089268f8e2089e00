// Small helpers over the level grid tab_out shared by the stages that follow the summation.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "app/run.h"

namespace app {

// Value of a cell outside the data area, or without a level.
inline constexpr unsigned char kBackground = 255;

// The stages after the summation need tab_out with the run's size; anything else is a
// programming error, not a fault of the user's data.
inline void check_level_grid(const Run& r) {
  if (r.tab_out.empty() || r.tab_out.nb_lig() != r.nb_lig || r.tab_out.nb_col() != r.nb_col) {
    throw std::logic_error("tab_out does not have nb_lig rows and nb_col columns");
  }
}

// The half-open range [lo, hi) clamped to [0, n).
struct Span {
  int lo = 0;
  int hi = 0;
  bool empty() const { return lo >= hi; }
};
inline Span clamp_span(std::int64_t lo, std::int64_t hi, int n) {
  const std::int64_t a = std::clamp<std::int64_t>(lo, 0, n);
  const std::int64_t b = std::clamp<std::int64_t>(hi, 0, n);
  return Span{static_cast<int>(a), static_cast<int>(std::max(a, b))};
}

}  // namespace app
