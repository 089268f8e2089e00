// The console: formatted output and one-answer-per-call input over injected streams, with
// code page 850 to UTF-8 translation of the output on UTF-8 terminals.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>

namespace app {

// The Unicode code point of each code page 850 byte from 0x80 to 0xFF.
extern const char16_t kCp850High[128];

// Appends the UTF-8 form of the code page 850 text `bytes` to `out`.
void cp850_to_utf8(std::string_view bytes, std::string& out);

// printf into a std::string (C locale numbers: the program never changes LC_NUMERIC).
std::string vformat(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Outcome of reading one answer.
enum class Answer {
  Ok,
  NoAnswer,    // a token was read but it is not a number where a number is asked
  EndOfInput,  // nothing more to read
  TooLong,     // the answer runs on beyond kMaxAnswer bytes (input with no white space)
};

// The most bytes of one answer: far above any real name or number, and a bound on the memory
// that input without white space (such as /dev/zero) can take.
inline constexpr int kMaxAnswer = 65536;

class Console {
 public:
  // When utf8 is true every output byte >= 0x80 is written as UTF-8 of its code page 850
  // character; otherwise bytes go out unchanged.
  Console(std::istream& in, std::ostream& out, bool utf8) : in_(in), out_(out), utf8_(utf8) {}

  // Writes bytes as they stand (through the translation).
  void write(std::string_view bytes);

  // Formats as C printf would and writes the result.
  template <class... A>
  void print(const char* fmt, A... args) {
    static_assert((... && (std::is_arithmetic_v<A> || std::is_same_v<A, const char*> ||
                           std::is_same_v<A, char*>)),
                  "print takes numbers, characters and C strings only");
    write(format_args(fmt, args...));
  }

  // Every read skips a UTF-8 byte order mark at the very start of the input (as some
  // editors save an answers file).
  // One integer as "%d" reads it: a whole blank-delimited token holding an optionally
  // signed decimal integer in int range. Any other token is discarded (NoAnswer).
  Answer read_int(int& value);
  // One real as "%lf" reads it: a whole token that is a finite decimal real.
  Answer read_real(double& value);
  // One blank-free token as "%s" reads it.
  Answer read_word(std::string& word);

  void flush() { out_.flush(); }
  // Whether the output is translated to UTF-8.
  bool utf8() const { return utf8_; }

 private:
  template <class... A>
  static std::string format_args(const char* fmt, A... args) {
    if constexpr (sizeof...(A) == 0) {
      return vformat("%s", fmt);
    } else {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
      return vformat(fmt, args...);
#pragma GCC diagnostic pop
    }
  }
  // The next blank-delimited token: Ok, EndOfInput, or TooLong (its first kMaxAnswer bytes
  // read, the rest left unread).
  Answer next_token(std::string& token);
  // The next input byte, or EOF; the bytes held back by the start check come first.
  int get();

  std::istream& in_;
  std::ostream& out_;
  bool utf8_;
  std::string scratch_;
  bool at_start_ = true;  // no byte read yet: a byte order mark may stand here
  std::string held_;      // bytes read by the start check that are not a byte order mark
};

}  // namespace app
