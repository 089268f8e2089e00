// Test support: the small images the tests read, written byte by byte.
#pragma once

#include <cstdint>
#include <string>

#include "support/files.h"

namespace testing_support {

// A 12 x 12 square-cell-mesh image: cells of 3 x 3 pixels, levels 1 to 9 over the area,
// row 0 first.
inline std::string mesh_cells() {
  std::string s;
  for (int i = 0; i < 12; ++i) {
    for (int j = 0; j < 12; ++j) s.push_back(static_cast<char>(1 + (i / 3 * 7 + j / 3 * 3) % 9));
  }
  return s;
}

// The choices of a hand-made BMP file.
struct BmpLayout {
  int bits = 8;                 // 8 or 24
  std::uint32_t entries = 256;  // palette entries written (8 bits)
  std::uint32_t clr_used = 0;   // BiClrUsed
  long offset = -1;             // BfOffBits, where the rows start; -1: right after the palette
  int green = 1, red = 1;       // palette entry i is blue i, green green x i, red red x i
};

// A BMP file of cols x rows cells (row 0 first in `cells`, three bytes a cell at 24 bits):
// the 54-byte header, the palette, then the rows bottom-up, each filled with zero bytes to a
// multiple of 4 bytes. Missing cells are 0.
inline std::string bmp_bytes(int cols, int rows, const std::string& cells,
                             const BmpLayout& l = {}) {
  const std::size_t taille = l.bits == 24 ? 3 : 1;
  const std::size_t row = static_cast<std::size_t>(cols) * taille;
  const std::size_t stride = (row + 3) / 4 * 4;
  std::string s(54, '\0');
  s[0] = 'B';
  s[1] = 'M';
  if (l.bits == 8) {
    for (std::uint32_t i = 0; i < l.entries; ++i) {
      s.push_back(static_cast<char>(i));
      s.push_back(static_cast<char>(l.green * i));
      s.push_back(static_cast<char>(l.red * i));
      s.push_back('\0');
    }
  }
  const std::size_t offset = l.offset < 0 ? s.size() : static_cast<std::size_t>(l.offset);
  s.resize(offset, '\0');
  for (int i = rows - 1; i >= 0; --i) {
    std::string r = cells.substr(std::min(cells.size(), i * row), row);
    r.resize(stride, '\0');
    s += r;
  }
  put_le(s, 2, static_cast<std::uint32_t>(s.size()), 4);
  put_le(s, 10, static_cast<std::uint32_t>(offset), 4);
  put_le(s, 14, 40, 4);
  put_le(s, 18, static_cast<std::uint32_t>(cols), 4);
  put_le(s, 22, static_cast<std::uint32_t>(rows), 4);
  put_le(s, 26, 1, 2);
  put_le(s, 28, static_cast<std::uint32_t>(l.bits), 2);
  put_le(s, 34, static_cast<std::uint32_t>(stride * rows), 4);
  put_le(s, 46, l.clr_used, 4);
  return s;
}

}  // namespace testing_support
