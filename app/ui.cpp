// Asking, re-asking, and stopping with a message.
#include "app/ui.h"

#include <algorithm>
#include <cstring>

#include "nrutil/files.h"
#include "nrutil/hostpath.h"
#include "rasterio/formats.h"

namespace app {

namespace {

// The words of a file's failure.
const Text3& reason_of(rasterio::FileError e) {
  using rasterio::FileError;
  switch (e) {
    case FileError::CannotOpen:
      return msg::kWhyMissing;
    case FileError::ShortHeader:
      return msg::kWhyShortHeader;
    case FileError::BadHeader:
      return msg::kWhyBadHeader;
    case FileError::BadSize:
      return msg::kWhyBadSize;
    case FileError::TooLarge:
      return msg::kWhyTooLarge;
    case FileError::OutOfMemory:
      return msg::kWhyOutOfMemory;
    case FileError::FewerValues:
      return msg::kWhyFewerValues;
    case FileError::BadValue:
      return msg::kWhyBadValue;
    case FileError::NonSquareCells:
      return msg::kWhyNonSquare;
    case FileError::BadXCorner:
      return msg::kWhyBadXCorner;
    case FileError::BadYCorner:
      return msg::kWhyBadYCorner;
    case FileError::BadCellSize:
      return msg::kWhyBadCellSize;
    case FileError::NotBmp:
      return msg::kWhyNotBmp;
    case FileError::BmpLayout:
      return msg::kWhyBmpLayout;
    case FileError::BmpSize:
      return msg::kWhyBmpSize;
    case FileError::Truncated:
      return msg::kWhyTruncated;
    case FileError::WriteError:
      return msg::kWhyWriteError;
    case FileError::ReadError:
    case FileError::None:
      break;
  }
  return msg::kWhyReadError;
}

}  // namespace

bool Ui::answer(Answer a) {
  if (a == Answer::Ok) return true;
  if (a == Answer::EndOfInput || a == Answer::TooLong) {
    const std::string why = a == Answer::TooLong ? vformat(pick(msg::kAnswerTooLong), kMaxAnswer)
                                                 : std::string(pick(msg::kEndOfInput));
    con.write(why);
    con.flush();
    if (report_file.is_open()) {
      report_file.write(why);
      report_file.flush();
    }
    throw RunStop{1};
  }
  return false;
}

std::string Ui::read_name() {
  std::string w;
  answer(con.read_word(w));  // a word is always an answer, unless input has ended
  // A control byte (a NUL of a scripted answer, say) would cut the name or hide in it.
  const auto control = std::find_if(
      w.begin(), w.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
  if (control != w.end()) {
    std::string shown;
    for (char c : w) {
      const auto b = static_cast<unsigned char>(c);
      shown += b < 0x20 || b == 0x7F ? vformat("\\x%02X", b) : std::string(1, c);
    }
    fail(vformat(pick(msg::kControlInName), shown.c_str(), static_cast<unsigned char>(*control)));
  }
  return w;
}

int Ui::ask_option(const Text3& options) {
  for (;;) {
    say(options);
    int v = 0;
    if (answer(con.read_int(v))) return v;
  }
}

int Ui::ask_menu(const Text3& options, int highest) {
  for (;;) {
    say(options);
    int v = 0;
    if (answer(con.read_int(v)) && v >= 0 && v <= highest) return v;
  }
}

int Ui::ask_choice(const Text3& question, const Text3& options) {
  say(question);
  return ask_menu(options, 1);
}

int Ui::ask_count(const Text3& prompt, int lo, int hi) {
  for (;;) {
    const int v = ask_int(prompt);
    if (v >= lo && v <= hi) return v;
    say(msg::kRangeNote, lo, hi);
  }
}

void Ui::fail(const std::string& console_text) {
  con.write(console_text);
  say(msg::kRunStops);
  con.flush();
  if (report_file.is_open()) {
    report_file.write(console_text);
    report(msg::kRunStops);
    report_file.flush();
  }
  throw RunStop{1};
}

void Ui::fail_file(const Text3& what, const std::string& name, const char* reason) {
  fail(vformat(pick(what), name.c_str(), reason));
}

void Ui::note_text(const std::string& text) {
  if (con.utf8()) {
    std::string translated;
    cp850_to_utf8(text, translated);
    err << translated;
  } else {
    err << text;
  }
  err.flush();
}

void Ui::fail_create(const std::string& name, int err) {
  const char* why = nrutil::is_non_regular(nrutil::host_path(name)) ? pick(msg::kWhyNotRegular)
                    : err != 0                                      ? std::strerror(err)
                                                                    : pick(msg::kWhyWriteError);
  fail_file(msg::kCannotCreate, name, why);
}

void Ui::fail(const core::Failure& f) {
  using Kind = core::Failure::Kind;
  switch (f.kind) {
    case Kind::Missing:
      // An input grid that does not exist, in the words each format has always used.
      switch (rasterio::format_of(f.format) != nullptr ? rasterio::format_of(f.format)->id
                                                       : rasterio::Format::Bmp) {
        case rasterio::Format::Raw:
          fail(vformat(pick(msg::kNoRawImage), f.file.c_str()));
        case rasterio::Format::Ascii:
          fail(vformat(pick(msg::kNoAsciiGrid), f.file.c_str()));
        case rasterio::Format::Bmp:
          break;
      }
      fail_file(msg::kCannotRead, f.file, pick(msg::kWhyMissing));
    case Kind::Unreadable:
      fail_file(msg::kCannotRead, f.file,
                f.sys_errno != 0 ? std::strerror(f.sys_errno) : pick(reason_of(f.reason)));
    case Kind::SizeMismatch:
      fail(vformat(pick(msg::kSizeMismatch), f.file.c_str(), f.rows, f.cols, f.reference.c_str(),
                   f.ref_rows, f.ref_cols));
    case Kind::Changed:
      fail(vformat(pick(msg::kInputChanged), f.file.c_str()));
    case Kind::NotFinite:
      fail(pick(msg::kSumNotFinite));
    case Kind::CannotCreate:
      fail_create(f.file, f.sys_errno);
    case Kind::CannotWrite:
      fail_file(msg::kCannotWrite, f.file,
                f.sys_errno != 0 ? std::strerror(f.sys_errno) : pick(msg::kWhyWriteError));
    case Kind::UnknownFormat:
      break;
  }
  fail_file(msg::kCannotRead, f.file, pick(msg::kWhyFormatCode));
}

void Ui::check_written(TextFile& f, const std::string& name) {
  if (!f.flush()) fail_file(msg::kCannotWrite, name, pick(msg::kWhyWriteError));
}

}  // namespace app
