// Bit grids: rows of 64-bit words, built from byte rows 16 bytes at a time where the
// processor compares 16 bytes in one instruction.
#include "nrutil/bitgrid.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nrutil {

BitGrid BitGrid::make(int nb_col, int nb_lig) {
  BitGrid g;
  if (nb_col <= 0 || nb_lig <= 0) return g;
  g.words_ = Grid<std::uint64_t>::make((nb_col + 63) / 64, nb_lig);
  if (!g.words_.empty()) g.nb_col_ = nb_col;
  return g;
}

void BitGrid::mark_row(int i, const unsigned char* v, unsigned char value) {
  std::uint64_t* w = words_[i];
  const int full = nb_col_ / 64;
  for (int k = 0; k < full; ++k) {
    const unsigned char* p = v + 64 * static_cast<std::size_t>(k);
    std::uint64_t bits = 0;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi8(static_cast<char>(value));
    for (int q = 0; q < 4; ++q) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q));
      const auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, want)));
      bits |= std::uint64_t{mask & 0xFFFFu} << (16 * q);
    }
#else
    for (int j = 0; j < 64; ++j) bits |= std::uint64_t{p[j] == value} << j;
#endif
    w[k] = bits;
  }
  if (full * 64 < nb_col_) {
    std::uint64_t bits = 0;
    for (int j = full * 64; j < nb_col_; ++j) bits |= std::uint64_t{v[j] == value} << (j % 64);
    w[full] = bits;
  }
}

void BitGrid::apply_row(int i, unsigned char* out, unsigned char to) const {
  const std::uint64_t* w = words_[i];
  const int count = (nb_col_ + 63) / 64;
  for (int k = 0; k < count; ++k) {
    for (std::uint64_t bits = w[k]; bits != 0; bits &= bits - 1) {
      out[64 * static_cast<std::size_t>(k) + static_cast<unsigned>(__builtin_ctzll(bits))] = to;
    }
  }
}

}  // namespace nrutil
