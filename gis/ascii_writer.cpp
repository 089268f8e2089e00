// Hand-formatted ASCII grid writing.
#include "gis/ascii_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace gis {

namespace {

constexpr std::size_t kBufferBytes = std::size_t{4} << 20;

// Each byte value as its digits and a blank, padded to 4 bytes, with the length used.
struct ValueText {
  std::array<std::array<char, 4>, 256> text{};
  std::array<unsigned char, 256> length{};
  constexpr ValueText() {
    for (int v = 0; v < 256; ++v) {
      int n = 0;
      if (v >= 100) text[v][n++] = static_cast<char>('0' + v / 100);
      if (v >= 10) text[v][n++] = static_cast<char>('0' + v / 10 % 10);
      text[v][n++] = static_cast<char>('0' + v % 10);
      text[v][n++] = ' ';
      length[v] = static_cast<unsigned char>(n);
    }
  }
};
constexpr ValueText kValueText;

}  // namespace

std::string format_ascii_header(const AsciiGridHeader& h) {
  return "ncols " + std::to_string(h.cols) + "\nnrows " + std::to_string(h.rows) + "\nxllcorner " +
         exact_decimal(h.xll) + "\nyllcorner " + exact_decimal(h.yll) + "\ncellsize " +
         exact_decimal(h.cell) + "\nNODATA_value " + std::to_string(h.nodata) + "\n";
}

char* format_ascii_row(const unsigned char* values, std::size_t n, char* out) {
  char* p = out;
  for (std::size_t j = 0; j < n; ++j) {
    const unsigned char v = values[j];
    std::memcpy(p, kValueText.text[v].data(), 4);
    p += kValueText.length[v];
  }
  if (p != out) p[-1] = '\n';
  return p;
}

std::size_t AsciiGridWriter::bytes_needed(std::size_t cols) {
  return std::max(kBufferBytes, ascii_row_room(cols));
}

AsciiGridWriter::AsciiGridWriter(StagedFile& file, const AsciiGridHeader& h)
    : file_(file),
      cols_(static_cast<std::size_t>(h.cols)),
      buffer_(std::max(kBufferBytes, ascii_row_room(cols_))) {
  file_.write(format_ascii_header(h));
}

void AsciiGridWriter::write_row(const unsigned char* values) {
  if (buffer_.size() - used_ < ascii_row_room(cols_)) flush();
  used_ = static_cast<std::size_t>(format_ascii_row(values, cols_, buffer_.data() + used_) -
                                   buffer_.data());
}

void AsciiGridWriter::flush() {
  file_.write(buffer_.data(), used_);
  used_ = 0;
}

}  // namespace gis
