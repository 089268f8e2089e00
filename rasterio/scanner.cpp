// The scanf-compatible scanner: white space as the C locale sees it, integers with their
// exact value modulo 256, reals through strtod in the C locale.
#include "rasterio/scanner.h"

#include <locale.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace rasterio {
namespace {

// White space as isspace() sees it in the C locale, which is what scanf skips.
constexpr std::array<bool, 256> kSpace = [] {
  std::array<bool, 256> t{};
  for (unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r'}) t[c] = true;
  return t;
}();

inline unsigned digit_of(unsigned char c) {
  return static_cast<unsigned>(c) - '0';
}

// strtod in the C locale, whatever locale the process runs in.
double strtod_c(const char* s, char** end) {
  static const locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", locale_t{});
  if (c_locale == locale_t{}) return std::strtod(s, end);
  return strtod_l(s, end, c_locale);
}

}  // namespace

NodataToken NodataToken::of(bool has_nodata, double nodata) {
  NodataToken t;
  if (!has_nodata || !(nodata >= -999999999.0 && nodata <= 999999999.0)) return t;
  if (nodata != static_cast<double>(static_cast<long>(nodata))) return t;  // not whole
  const long v = static_cast<long>(nodata);
  if (v >= 0 && v <= 255) return t;  // read as it stands
  t.active = true;
  t.neg = v < 0;
  t.mag = static_cast<unsigned>(v < 0 ? -v : v);
  t.low = static_cast<unsigned char>(t.neg ? 0u - t.mag : t.mag);
  return t;
}

bool Scanner::attach(std::FILE* f, std::size_t chunk) {
  chunk = std::max<std::size_t>(chunk, 1);
  const std::size_t cap = std::max(chunk, kMaxRealToken);
  if (!buf_ || cap_ != cap) {
    buf_.reset(new (std::nothrow) unsigned char[cap + 1]);
    if (!buf_) return false;
    cap_ = cap;
  }
  f_ = f;
  chunk_ = chunk;
  eof_ = err_ = false;
  pos_ = end_ = buf_.get();
  *end_ = 0;
  return true;
}

bool Scanner::load(std::string_view text) {
  buf_.reset(new (std::nothrow) unsigned char[text.size() + 1]);
  if (!buf_) return false;
  cap_ = text.size();
  if (!text.empty()) std::memcpy(buf_.get(), text.data(), text.size());
  f_ = nullptr;
  eof_ = true;
  err_ = false;
  pos_ = buf_.get();
  end_ = pos_ + text.size();
  *end_ = 0;
  return true;
}

Scanner::Got Scanner::skip_space() {
  for (;;) {
    while (kSpace[*pos_]) ++pos_;
    if (pos_ != end_) return Got::Ok;
    if (!refill()) return err_ ? Got::Error : Got::End;
  }
}

Scanner::Got Scanner::skip_word(std::string* word) {
  if (Got g = skip_space(); g != Got::Ok) return g;
  if (word != nullptr) word->clear();
  for (;;) {
    const unsigned char* from = pos_;
    while (!kSpace[*pos_] && pos_ != end_) ++pos_;
    if (word != nullptr && word->size() < kMaxKeptWord) {
      const std::size_t n = std::min<std::size_t>(pos_ - from, kMaxKeptWord - word->size());
      word->append(reinterpret_cast<const char*>(from), n);
    }
    if (pos_ != end_) return Got::Ok;
    if (!refill()) return err_ ? Got::Error : Got::Ok;
  }
}

Scanner::Got Scanner::read_int(int& v) {
  if (Got g = skip_space(); g != Got::Ok) return g;
  bool neg = false;
  if (Got g = sign(neg); g != Got::Ok) return g;
  std::uint64_t mag = 0;
  bool overflow = false;
  for (;;) {
    for (unsigned d; (d = digit_of(*pos_)) <= 9; ++pos_) {
      mag = mag * 10 + d;
      overflow = overflow || mag > (std::uint64_t{1} << 31);
    }
    if (pos_ != end_ || !refill()) break;
  }
  if (err_) return Got::Error;
  if (overflow || mag > (neg ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1)) {
    return Got::Bad;
  }
  v = neg ? static_cast<int>(-static_cast<std::int64_t>(mag)) : static_cast<int>(mag);
  return Got::Ok;
}

Scanner::Got Scanner::read_real(double& v) {
  if (Got g = skip_space(); g != Got::Ok) return g;
  if (!ensure(kMaxRealToken)) return Got::Error;
  const std::size_t avail = std::min<std::size_t>(end_ - pos_, kMaxRealToken);
  std::size_t n = 0;
  while (n < avail && !kSpace[pos_[n]]) ++n;
  char token[kMaxRealToken + 1];
  std::memcpy(token, pos_, n);
  token[n] = '\0';
  char* stop = nullptr;
  const double x = strtod_c(token, &stop);
  const std::size_t used = static_cast<std::size_t>(stop - token);
  if (used == 0 || used == kMaxRealToken) return Got::Bad;  // none, or too long to judge
  pos_ += used;
  v = x;
  return Got::Ok;
}

Scanner::Got Scanner::read_word_maybe_int(bool& is_int, unsigned char& value) {
  if (Got g = skip_space(); g != Got::Ok) return g;
  bool neg = false;
  bool any_digit = false;
  bool only_int = true;
  bool first = true;
  bool fraction = false;
  unsigned acc = 0;
  for (;;) {
    for (; !kSpace[*pos_] && pos_ != end_; ++pos_, first = false) {
      const unsigned char c = *pos_;
      if (fraction) {
        only_int = only_int && c == '0';
      } else if (digit_of(c) <= 9) {
        acc = acc * 10 + digit_of(c);
        any_digit = true;
      } else if (first && (c == '-' || c == '+')) {
        neg = c == '-';
      } else if (c == '.' && any_digit) {
        fraction = true;
      } else {
        only_int = false;
      }
    }
    if (pos_ != end_ || !refill()) break;
  }
  if (err_) return Got::Error;
  is_int = only_int && any_digit;
  value = static_cast<unsigned char>(neg ? 0u - acc : acc);
  return Got::Ok;
}

Scanner::Got Scanner::read_values(unsigned char* out, std::size_t n, const NodataToken& nodata) {
  unsigned char* p = pos_;
  std::size_t i = 0;
  while (i < n) {
    unsigned c = *p;
    while (kSpace[c]) c = *++p;
    if (p == end_) {
      if (!refill()) return err_ ? Got::Error : Got::End;
      p = pos_;
      continue;
    }
    bool neg = false;
    if (c == '-' || c == '+') {
      neg = c == '-';
      c = *++p;
      if (p == end_) {
        if (!refill()) return err_ ? Got::Error : Got::Bad;
        p = pos_;
        c = *p;
      }
    }
    unsigned d = digit_of(static_cast<unsigned char>(c));
    if (d > 9) {
      pos_ = p;
      return Got::Bad;
    }
    unsigned acc = 0;                // wraps modulo 2^32, which keeps the value modulo 256 exact
    const unsigned char* first = p;  // first digit in the current piece
    std::size_t earlier_digits = 0;  // digits in pieces already left
    for (;;) {
      do {
        acc = acc * 10 + d;
        d = digit_of(*++p);
      } while (d <= 9);
      if (p != end_) break;
      earlier_digits += static_cast<std::size_t>(p - first);
      first = p;
      pos_ = p;
      if (!refill()) {
        if (err_) return Got::Error;
        break;  // the file ends right after the digits
      }
      p = pos_;
      first = p;
      d = digit_of(*p);
      if (d > 9) break;
    }
    auto v = static_cast<unsigned char>(neg ? 0u - acc : acc);
    // Up to nine digits acc is the exact magnitude.
    if (v == nodata.low && nodata.active && neg == nodata.neg && acc == nodata.mag &&
        earlier_digits + static_cast<std::size_t>(p - first) <= NodataToken::kMaxDigits) {
      v = 255;
    }
    if (*p == '.' && p != end_) {
      if (Got g = skip_zero_fraction(p); g != Got::Ok) return g;
    }
    out[i++] = v;
  }
  pos_ = p;
  return Got::Ok;
}

Scanner::Got Scanner::skip_zero_fraction(unsigned char*& p) {
  ++p;
  for (;;) {
    while (*p == '0') ++p;
    if (p != end_) break;
    pos_ = p;
    if (!refill()) return err_ ? Got::Error : Got::Ok;
    p = pos_;
  }
  if (digit_of(*p) <= 9) {
    pos_ = p;
    return Got::Bad;
  }
  return Got::Ok;
}

Scanner::Got Scanner::sign(bool& neg) {
  if (*pos_ == '-' || *pos_ == '+') {
    neg = *pos_ == '-';
    ++pos_;
    if (pos_ == end_ && !refill()) return err_ ? Got::Error : Got::Bad;
  }
  return digit_of(*pos_) <= 9 ? Got::Ok : Got::Bad;
}

bool Scanner::refill() {
  if (eof_) return false;
  const std::size_t got = std::fread(buf_.get(), 1, chunk_, f_);
  if (got == 0) {
    eof_ = true;
    err_ = std::ferror(f_) != 0;
    return false;
  }
  pos_ = buf_.get();
  end_ = pos_ + got;
  *end_ = 0;
  return true;
}

bool Scanner::ensure(std::size_t n) {
  if (static_cast<std::size_t>(end_ - pos_) >= n || eof_) return true;
  const std::size_t kept = static_cast<std::size_t>(end_ - pos_);
  std::memmove(buf_.get(), pos_, kept);
  pos_ = buf_.get();
  end_ = pos_ + kept;
  while (static_cast<std::size_t>(end_ - pos_) < n && !eof_) {
    const std::size_t room = cap_ - static_cast<std::size_t>(end_ - pos_);
    const std::size_t got = std::fread(end_, 1, std::min(chunk_, room), f_);
    if (got == 0) {
      eof_ = true;
      err_ = std::ferror(f_) != 0;
    }
    end_ += got;
  }
  *end_ = 0;
  return !err_;
}

}  // namespace rasterio
