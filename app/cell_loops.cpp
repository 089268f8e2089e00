// The per-cell loops of the summation: plain loops that the compiler vectorises where it
// can.
#include "app/cell_loops.h"

#include <cstring>

namespace app {

void ValueCounter::add(const unsigned char* v, std::size_t n) {
  while (n > 0) {
    if (pending_ >= flush_every_) flush();
    const std::size_t take = n < flush_every_ - pending_ ? n : flush_every_ - pending_;
    std::size_t j = 0;
    for (; j + 4 <= take; j += 4) {
      ++part_[0][v[j]];
      ++part_[1][v[j + 1]];
      ++part_[2][v[j + 2]];
      ++part_[3][v[j + 3]];
    }
    for (; j < take; ++j) ++part_[0][v[j]];
    pending_ += take;
    v += take;
    n -= take;
  }
}

std::int64_t ValueCounter::count(int b) {
  flush();
  return total_[b];
}

void ValueCounter::flush() {
  for (int b = 0; b < 256; ++b) {
    total_[b] += std::int64_t{part_[0][b]} + part_[1][b] + part_[2][b] + part_[3][b];
    part_[0][b] = part_[1][b] = part_[2][b] = part_[3][b] = 0;
  }
  pending_ = 0;
}

void weigh_and_count(const unsigned char* v, std::size_t n, double weight, double* acc, bool start,
                     ValueCounter& counts) {
  if (start) {
    for (std::size_t j = 0; j < n; ++j) acc[j] = 0.0 + static_cast<double>(v[j]) * weight;
  } else {
    for (std::size_t j = 0; j < n; ++j) acc[j] = acc[j] + static_cast<double>(v[j]) * weight;
  }
  counts.add(v, n);
}

void first_image_mask(unsigned char* v, std::size_t n, bool rewrite, unsigned char* mask) {
  for (std::size_t j = 0; j < n; ++j) mask[j] = v[j] == 0 ? 1 : 255;
  if (rewrite) {
    for (std::size_t j = 0; j < n; ++j) v[j] = v[j] == 255 ? 0 : v[j];
  }
}

double max_valid_sum(const unsigned char* last, const double* sum, std::size_t n, double from) {
  double m = from;
  for (std::size_t j = 0; j < n; ++j) {
    if (last[j] < 255 && sum[j] > m) m = sum[j];
  }
  return m;
}

bool valid_sums_finite(const unsigned char* last, const double* sum, std::size_t n) {
  // On the bits, so that the loop runs on whole vectors: a double is infinite or NaN when
  // its exponent bits are all set.
  constexpr std::uint64_t kExponent = 0x7FF0000000000000;
  std::uint64_t bad = 0;
  for (std::size_t j = 0; j < n; ++j) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, sum + j, sizeof bits);
    bad |= static_cast<std::uint64_t>((bits & kExponent) == kExponent) &
           static_cast<std::uint64_t>(last[j] < 255);
  }
  return bad == 0;
}

}  // namespace app
