// The per-cell loops of the summation. The sums are plain loops that the compiler vectorises;
// the checks use the compiler's vector types, the levels a table read in gathers. Each row
// kernel is one body built twice: for the baseline x86-64 processor, and for AVX2 (through a
// function attribute, so that nothing else of the program needs AVX2).
#include "core/cell_loops.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define TESSERA_AVX2 1
#define TESSERA_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define TESSERA_AVX2 0
#endif

#define TESSERA_INLINE inline __attribute__((always_inline))

namespace core {

void ValueCounter::add(const unsigned char* v, std::size_t n) {
  while (n > 0) {
    if (pending_ >= flush_every_) flush();
    const std::size_t take = n < flush_every_ - pending_ ? n : flush_every_ - pending_;
    std::size_t j = 0;
#if defined(__SSE2__)
    // Sixteen equal bytes (a level grid's runs, a background) count in one addition; the
    // others one by one, four tables in turn.
    for (; j + 16 <= take; j += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + j));
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(x, _mm_set1_epi8(static_cast<char>(v[j])))) == 0xFFFF) {
        part_[0][v[j]] += 16;
        continue;
      }
      for (std::size_t k = j; k < j + 16; k += 4) {
        ++part_[0][v[k]];
        ++part_[1][v[k + 1]];
        ++part_[2][v[k + 2]];
        ++part_[3][v[k + 3]];
      }
    }
#endif
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

// Cells of a row taken at a time by the row kernels: their sums (4 KiB) stay in the
// first-level cache between the loop that makes them and the loop that reads them.
constexpr std::size_t kPiece = 512;

// Adds up to four images, cells at to at + n - 1 of their rows, into acc[0..n); `start`
// begins from 0.0. The additions of a cell keep the image order whatever the grouping.
TESSERA_INLINE void add_group(const unsigned char* const* v, const double* w, int count,
                              std::size_t at, std::size_t n, double* __restrict acc, bool start) {
  const unsigned char* __restrict a = v[0] + at;
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
      const unsigned char* __restrict b = v[1] + at;
      const double wb = w[1];
      if (start) {
        for (std::size_t j = 0; j < n; ++j) acc[j] = (0.0 + a[j] * wa) + b[j] * wb;
      } else {
        for (std::size_t j = 0; j < n; ++j) acc[j] = (acc[j] + a[j] * wa) + b[j] * wb;
      }
      return;
    }
    case 3: {
      const unsigned char* __restrict b = v[1] + at;
      const unsigned char* __restrict c = v[2] + at;
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
      const unsigned char* __restrict b = v[1] + at;
      const unsigned char* __restrict c = v[2] + at;
      const unsigned char* __restrict d = v[3] + at;
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

// Cells at to at + n - 1 of the sums, into acc[0..n).
TESSERA_INLINE void sums_at(const unsigned char* const* v, const double* w, int count,
                            std::size_t at, std::size_t n, double* __restrict acc) {
  for (int k = 0; k < count; k += 4) {
    add_group(v + k, w + k, count - k < 4 ? count - k : 4, at, n, acc, k == 0);
  }
}

// Four lanes of doubles and of 64-bit integers (two vectors of the baseline, one of AVX2).
typedef double Doubles __attribute__((vector_size(32)));
typedef std::int64_t Ints __attribute__((vector_size(32)));
typedef unsigned char Bytes __attribute__((vector_size(4)));

TESSERA_INLINE void check_body(const unsigned char* const* v, const double* w, int count,
                               std::size_t n, const unsigned char* valid, bool check_finite,
                               SumChecks& checks) {
  // Each lane keeps the largest valid sum it has seen (starting from the maximum so far): a
  // lane takes a sum only when it is greater, so NaN never enters, and the largest of the
  // lanes is the largest of all. A double is infinite or NaN when its exponent bits are all
  // set.
  const Ints exponent = {0x7FF0000000000000, 0x7FF0000000000000, 0x7FF0000000000000,
                         0x7FF0000000000000};
  const double from = checks.max_sum;
  Doubles top = {from, from, from, from};
  Ints bad = {0, 0, 0, 0};
  double sums[kPiece];
  double rest_top = from;
  bool rest_bad = false;
  for (std::size_t at = 0; at < n; at += kPiece) {
    const std::size_t len = n - at < kPiece ? n - at : kPiece;
    sums_at(v, w, count, at, len, sums);
    const unsigned char* ok = valid + at;
    std::size_t j = 0;
    for (; j + 4 <= len; j += 4) {
      Doubles s;
      std::memcpy(&s, sums + j, sizeof s);
      Bytes b;
      std::memcpy(&b, ok + j, sizeof b);
      // All bits set in the lanes whose cell is valid (its byte below 255); the others take
      // 0.0, which never raises a maximum of 0 or more.
      const Ints lanes = __builtin_convertvector(b, Ints) != 255;
      // (A cast between vector types of one size keeps the bits.)
      const Ints bits = (Ints)s;
      const Doubles c = (Doubles)(bits & lanes);
      const Ints greater = c > top;
      top = (Doubles)(((Ints)c & greater) | ((Ints)top & ~greater));
      if (check_finite) bad |= ((bits & exponent) == exponent) & lanes;
    }
    for (; j < len; ++j) {
      if (ok[j] == 255) continue;
      const double s = sums[j];
      if (s > rest_top) rest_top = s;
      if (check_finite && !std::isfinite(s)) rest_bad = true;
    }
  }
  double m = rest_top;
  for (int l = 0; l < 4; ++l) m = top[l] > m ? top[l] : m;
  checks.max_sum = m;
  if (rest_bad || (bad[0] | bad[1] | bad[2] | bad[3]) != 0) checks.finite = false;
}

// The level of one cell, from the bucket table where it can.
TESSERA_INLINE unsigned char level_cell(const Levels& lv, unsigned char valid, double d) {
  const double x = (d - lv.origin) * lv.bucket_scale;
  unsigned char level = 0;
  if (x >= 0.0 && x < Levels::kBuckets) level = lv.bucket_level[static_cast<int>(x)];
  if (level == 0 || d == lv.max_sum) level = lv.level_of(d);
  return valid < 255 ? level : 255;
}

void assign_baseline(const Levels& lv, const unsigned char* valid, const double* sum, std::size_t n,
                     unsigned char* out) {
  for (std::size_t j = 0; j < n; ++j) out[j] = level_cell(lv, valid[j], sum[j]);
}

void check_baseline(const unsigned char* const* v, const double* w, int count, std::size_t n,
                    const unsigned char* valid, bool check_finite, SumChecks& checks) {
  check_body(v, w, count, n, valid, check_finite, checks);
}

void level_baseline(const unsigned char* const* v, const double* w, int count, std::size_t n,
                    const unsigned char* valid, const Levels& levels, unsigned char* out) {
  double sums[kPiece];
  for (std::size_t at = 0; at < n; at += kPiece) {
    const std::size_t len = n - at < kPiece ? n - at : kPiece;
    sums_at(v, w, count, at, len, sums);
    assign_baseline(levels, valid + at, sums, len, out + at);
  }
}

#if TESSERA_AVX2

// Eight cells at a time: the bucket of each sum in vectors, the eight table entries in one
// gather (a 4-byte load at each bucket, of which the first byte is its level), the cells
// whose bucket holds no level or whose sum is the largest through level_of.
TESSERA_TARGET_AVX2 void assign_avx2(const Levels& lv, const unsigned char* valid,
                                     const double* sum, std::size_t n, unsigned char* out) {
  const __m256d origin = _mm256_set1_pd(lv.origin);
  const __m256d scale = _mm256_set1_pd(lv.bucket_scale);
  const __m256d buckets = _mm256_set1_pd(Levels::kBuckets);
  const __m256d zero = _mm256_setzero_pd();
  const __m256d max_sum = _mm256_set1_pd(lv.max_sum);
  const __m256i low_halves = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  const __m256i level_bytes =
      _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8, 12, -1,
                       -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const int* table = reinterpret_cast<const int*>(lv.bucket_level);
  std::size_t j = 0;
  for (; j + 8 <= n; j += 8) {
    const __m256d d0 = _mm256_loadu_pd(sum + j);
    const __m256d d1 = _mm256_loadu_pd(sum + j + 4);
    const __m256d x0 = _mm256_mul_pd(_mm256_sub_pd(d0, origin), scale);
    const __m256d x1 = _mm256_mul_pd(_mm256_sub_pd(d1, origin), scale);
    const __m256d in0 =
        _mm256_and_pd(_mm256_cmp_pd(x0, zero, _CMP_GE_OQ), _mm256_cmp_pd(x0, buckets, _CMP_LT_OQ));
    const __m256d in1 =
        _mm256_and_pd(_mm256_cmp_pd(x1, zero, _CMP_GE_OQ), _mm256_cmp_pd(x1, buckets, _CMP_LT_OQ));
    // Buckets of the sums in range, bucket 0 for the others (masked out below).
    const __m128i q0 = _mm256_cvttpd_epi32(_mm256_and_pd(x0, in0));
    const __m128i q1 = _mm256_cvttpd_epi32(_mm256_and_pd(x1, in1));
    const __m256i q = _mm256_set_m128i(q1, q0);
    // The masks as eight 32-bit lanes.
    const __m128i m0 =
        _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_castpd_si256(in0), low_halves));
    const __m128i m1 =
        _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(_mm256_castpd_si256(in1), low_halves));
    const __m256i in = _mm256_set_m128i(m1, m0);
    const __m256i entry = _mm256_i32gather_epi32(table, q, 1);
    __m256i level = _mm256_and_si256(_mm256_and_si256(entry, _mm256_set1_epi32(0xFF)), in);
    // Lanes that need level_of: no level in the table, or the largest sum.
    const __m128i t0 = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
        _mm256_castpd_si256(_mm256_cmp_pd(d0, max_sum, _CMP_EQ_OQ)), low_halves));
    const __m128i t1 = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(
        _mm256_castpd_si256(_mm256_cmp_pd(d1, max_sum, _CMP_EQ_OQ)), low_halves));
    const __m256i slow = _mm256_or_si256(_mm256_cmpeq_epi32(level, _mm256_setzero_si256()),
                                         _mm256_set_m128i(t1, t0));
    // The eight levels as bytes, then 255 on the cells that are not valid.
    const __m256i packed = _mm256_shuffle_epi8(level, level_bytes);
    std::uint64_t bytes =
        static_cast<std::uint32_t>(_mm256_extract_epi32(packed, 0)) |
        static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_extract_epi32(packed, 4)))
            << 32;
    std::uint64_t v8;
    std::memcpy(&v8, valid + j, 8);
    std::memcpy(out + j, &bytes, 8);
    const auto invalid = static_cast<unsigned>(_mm_movemask_epi8(
        _mm_cmpeq_epi8(_mm_cvtsi64_si128(static_cast<long long>(v8)), _mm_set1_epi8(-1))));
    for (unsigned lanes = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(slow)));
         lanes != 0; lanes &= lanes - 1) {
      const unsigned l = static_cast<unsigned>(__builtin_ctz(lanes));
      out[j + l] = lv.level_of(sum[j + l]);
    }
    for (unsigned lanes = invalid & 0xFFu; lanes != 0; lanes &= lanes - 1) {
      out[j + static_cast<unsigned>(__builtin_ctz(lanes))] = 255;
    }
  }
  for (; j < n; ++j) out[j] = level_cell(lv, valid[j], sum[j]);
}

TESSERA_TARGET_AVX2 void check_avx2(const unsigned char* const* v, const double* w, int count,
                                    std::size_t n, const unsigned char* valid, bool check_finite,
                                    SumChecks& checks) {
  check_body(v, w, count, n, valid, check_finite, checks);
}

TESSERA_TARGET_AVX2 void level_avx2(const unsigned char* const* v, const double* w, int count,
                                    std::size_t n, const unsigned char* valid, const Levels& levels,
                                    unsigned char* out) {
  double sums[kPiece];
  for (std::size_t at = 0; at < n; at += kPiece) {
    const std::size_t len = n - at < kPiece ? n - at : kPiece;
    sums_at(v, w, count, at, len, sums);
    assign_avx2(levels, valid + at, sums, len, out + at);
  }
}

#endif

}  // namespace

bool runs(Isa isa) {
  if (isa == Isa::Baseline) return true;
#if TESSERA_AVX2
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

Isa widest_isa() {
  static const Isa widest = runs(Isa::Avx2) ? Isa::Avx2 : Isa::Baseline;
  return widest;
}

void weighted_sum(const unsigned char* const* v, const double* w, int count, std::size_t n,
                  double* acc) {
  sums_at(v, w, count, 0, n, acc);
}

void check_sums(const unsigned char* const* v, const double* w, int count, std::size_t n,
                const unsigned char* valid, bool check_finite, SumChecks& checks, Isa isa) {
#if TESSERA_AVX2
  if (isa == Isa::Avx2) return check_avx2(v, w, count, n, valid, check_finite, checks);
#endif
  (void)isa;
  check_baseline(v, w, count, n, valid, check_finite, checks);
}

void level_sums(const unsigned char* const* v, const double* w, int count, std::size_t n,
                const unsigned char* valid, const Levels& levels, unsigned char* out, Isa isa) {
#if TESSERA_AVX2
  if (isa == Isa::Avx2) return level_avx2(v, w, count, n, valid, levels, out);
#endif
  (void)isa;
  level_baseline(v, w, count, n, valid, levels, out);
}

void assign_levels(const Levels& levels, const unsigned char* valid, const double* sum,
                   std::size_t n, unsigned char* out, Isa isa) {
#if TESSERA_AVX2
  if (isa == Isa::Avx2) return assign_avx2(levels, valid, sum, n, out);
#endif
  (void)isa;
  assign_baseline(levels, valid, sum, n, out);
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

bool sums_always_finite(const double* w, int count) {
  // Every product is at most 255 |w| and every partial sum at most their total, give or take
  // a relative rounding of count x 2^-53: half the largest double leaves room for far more.
  double total = 0.0;
  for (int k = 0; k < count; ++k) total += 255.0 * std::fabs(w[k]);
  return total <= DBL_MAX / 2;
}

}  // namespace core
