// Console input and output.
#include "app/console.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace app {

const char16_t kCp850High[128] = {
    0x00c7, 0x00fc, 0x00e9, 0x00e2, 0x00e4, 0x00e0, 0x00e5, 0x00e7,  // 0x80
    0x00ea, 0x00eb, 0x00e8, 0x00ef, 0x00ee, 0x00ec, 0x00c4, 0x00c5,  // 0x88
    0x00c9, 0x00e6, 0x00c6, 0x00f4, 0x00f6, 0x00f2, 0x00fb, 0x00f9,  // 0x90
    0x00ff, 0x00d6, 0x00dc, 0x00f8, 0x00a3, 0x00d8, 0x00d7, 0x0192,  // 0x98
    0x00e1, 0x00ed, 0x00f3, 0x00fa, 0x00f1, 0x00d1, 0x00aa, 0x00ba,  // 0xA0
    0x00bf, 0x00ae, 0x00ac, 0x00bd, 0x00bc, 0x00a1, 0x00ab, 0x00bb,  // 0xA8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00c1, 0x00c2, 0x00c0,  // 0xB0
    0x00a9, 0x2563, 0x2551, 0x2557, 0x255d, 0x00a2, 0x00a5, 0x2510,  // 0xB8
    0x2514, 0x2534, 0x252c, 0x251c, 0x2500, 0x253c, 0x00e3, 0x00c3,  // 0xC0
    0x255a, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256c, 0x00a4,  // 0xC8
    0x00f0, 0x00d0, 0x00ca, 0x00cb, 0x00c8, 0x0131, 0x00cd, 0x00ce,  // 0xD0
    0x00cf, 0x2518, 0x250c, 0x2588, 0x2584, 0x00a6, 0x00cc, 0x2580,  // 0xD8
    0x00d3, 0x00df, 0x00d4, 0x00d2, 0x00f5, 0x00d5, 0x00b5, 0x00fe,  // 0xE0
    0x00de, 0x00da, 0x00db, 0x00d9, 0x00fd, 0x00dd, 0x00af, 0x00b4,  // 0xE8
    0x00ad, 0x00b1, 0x2017, 0x00be, 0x00b6, 0x00a7, 0x00f7, 0x00b8,  // 0xF0
    0x00b0, 0x00a8, 0x00b7, 0x00b9, 0x00b3, 0x00b2, 0x25a0, 0x00a0,  // 0xF8
};

void cp850_to_utf8(std::string_view bytes, std::string& out) {
  for (unsigned char b : bytes) {
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      continue;
    }
    const unsigned cp = kCp850High[b - 0x80];
    if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    }
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string vformat(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list ap2;
  va_copy(ap2, ap);
  char small[512];
  const int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  std::string s;
  if (n < 0) {
    va_end(ap2);
    return s;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    s.assign(small, static_cast<std::size_t>(n));
  } else {
    s.resize(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(s.data(), s.size(), fmt, ap2);
    s.resize(static_cast<std::size_t>(n));
  }
  va_end(ap2);
  return s;
}

void Console::write(std::string_view bytes) {
  if (!utf8_) {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return;
  }
  scratch_.clear();
  cp850_to_utf8(bytes, scratch_);
  out_.write(scratch_.data(), static_cast<std::streamsize>(scratch_.size()));
}

static bool is_blank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int Console::get() {
  if (at_start_) {
    at_start_ = false;
    static constexpr char kBom[] = "\xEF\xBB\xBF";
    for (int k = 0; k < 3; ++k) {
      const int c = in_.get();
      if (c == EOF) break;
      held_.push_back(static_cast<char>(c));
      if (held_.back() != kBom[k]) break;
    }
    if (held_ == kBom) held_.clear();
  }
  if (!held_.empty()) {
    const auto c = static_cast<unsigned char>(held_.front());
    held_.erase(0, 1);
    return c;
  }
  return in_.get();
}

Answer Console::next_token(std::string& token) {
  out_.flush();  // the question must be visible before the answer is awaited
  token.clear();
  int c = get();
  while (c != EOF && is_blank(c)) c = get();
  if (c == EOF) return Answer::EndOfInput;
  while (c != EOF && !is_blank(c)) {
    if (token.size() == static_cast<std::size_t>(kMaxAnswer)) return Answer::TooLong;
    token.push_back(static_cast<char>(c));
    c = get();
  }
  return Answer::Ok;
}

Answer Console::read_word(std::string& word) {
  return next_token(word);
}

Answer Console::read_int(int& value) {
  std::string t;
  if (const Answer a = next_token(t); a != Answer::Ok) return a;
  std::size_t i = (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size()) return Answer::NoAnswer;
  long long v = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return Answer::NoAnswer;
    v = v * 10 + (t[i] - '0');
    if (v > std::numeric_limits<int>::max() + 1LL) return Answer::NoAnswer;
  }
  if (t[0] == '-') v = -v;
  if (v > std::numeric_limits<int>::max()) return Answer::NoAnswer;
  value = static_cast<int>(v);
  return Answer::Ok;
}

Answer Console::read_real(double& value) {
  std::string t;
  if (const Answer a = next_token(t); a != Answer::Ok) return a;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || !std::isfinite(v) || errno == ERANGE) {
    return Answer::NoAnswer;
  }
  value = v;
  return Answer::Ok;
}

}  // namespace app
