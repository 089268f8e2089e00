// The per-cell loops of the summation: plain loops that the compiler vectorises where it
// can.
#include "core/cell_loops.h"

#include <cstring>

namespace core {

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

namespace {

// Adds up to four images into acc in one sweep; `start` begins from 0.0. The additions of a
// cell keep the image order whatever the grouping.
void add_group(const unsigned char* const* v, const double* w, int count, std::size_t n,
               double* acc, bool start) {
  const unsigned char* a = v[0];
  const double wa = w[0];
  switch (count) {
    case 1:
      if (start) {
        for (std::size_t j = 0; j < n; ++j) acc[j] = 0.0 + a[j] * wa;
      } else {
        for (std::size_t j = 0; j < n; ++j) acc[j] = acc[j] + a[j] * wa;
      }
      return;
    case 2: {
      const unsigned char* b = v[1];
      const double wb = w[1];
      if (start) {
        for (std::size_t j = 0; j < n; ++j) acc[j] = (0.0 + a[j] * wa) + b[j] * wb;
      } else {
        for (std::size_t j = 0; j < n; ++j) acc[j] = (acc[j] + a[j] * wa) + b[j] * wb;
      }
      return;
    }
    case 3: {
      const unsigned char *b = v[1], *c = v[2];
      const double wb = w[1], wc = w[2];
      if (start) {
        for (std::size_t j = 0; j < n; ++j) acc[j] = ((0.0 + a[j] * wa) + b[j] * wb) + c[j] * wc;
      } else {
        for (std::size_t j = 0; j < n; ++j) {
          acc[j] = ((acc[j] + a[j] * wa) + b[j] * wb) + c[j] * wc;
        }
      }
      return;
    }
    default: {
      const unsigned char *b = v[1], *c = v[2], *d = v[3];
      const double wb = w[1], wc = w[2], wd = w[3];
      if (start) {
        for (std::size_t j = 0; j < n; ++j) {
          acc[j] = (((0.0 + a[j] * wa) + b[j] * wb) + c[j] * wc) + d[j] * wd;
        }
      } else {
        for (std::size_t j = 0; j < n; ++j) {
          acc[j] = (((acc[j] + a[j] * wa) + b[j] * wb) + c[j] * wc) + d[j] * wd;
        }
      }
      return;
    }
  }
}

}  // namespace

void weighted_sum(const unsigned char* const* v, const double* w, int count, std::size_t n,
                  double* acc) {
  for (int k = 0; k < count; k += 4) {
    add_group(v + k, w + k, count - k < 4 ? count - k : 4, n, acc, k == 0);
  }
}

double max_valid_sum(const unsigned char* valid, const double* sum, std::size_t n, double from) {
  double m = from;
  for (std::size_t j = 0; j < n; ++j) {
    if (valid[j] < 255 && sum[j] > m) m = sum[j];
  }
  return m;
}

std::int64_t count_nodata_in_valid(const unsigned char* v, const unsigned char* valid,
                                   std::size_t n) {
  std::int64_t count = 0;
  for (std::size_t j = 0; j < n; ++j) count += (v[j] == 255) & (valid[j] < 255);
  return count;
}

bool valid_sums_finite(const unsigned char* valid, const double* sum, std::size_t n) {
  // On the bits, so that the loop runs on whole vectors: a double is infinite or NaN when
  // its exponent bits are all set.
  constexpr std::uint64_t kExponent = 0x7FF0000000000000;
  std::uint64_t bad = 0;
  for (std::size_t j = 0; j < n; ++j) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, sum + j, sizeof bits);
    bad |= static_cast<std::uint64_t>((bits & kExponent) == kExponent) &
           static_cast<std::uint64_t>(valid[j] < 255);
  }
  return bad == 0;
}

}  // namespace core
