// A grid of one bit a cell that marks the cells holding one value in a byte row (the 0
// cells of a run's first image, the 255 cells of its mask): an eighth of a byte grid.
#pragma once

#include <cstddef>
#include <cstdint>

#include "nrutil/grid.h"

namespace nrutil {

class BitGrid {
 public:
  // A grid with every bit clear; empty when a size is not positive or memory runs out.
  static BitGrid make(int nb_col, int nb_lig);

  bool empty() const { return words_.empty(); }
  int nb_col() const { return nb_col_; }
  int nb_lig() const { return words_.nb_lig(); }

  // Marks the cells of row i whose byte in v (nb_col bytes) equals value; clears the others.
  void mark_row(int i, const unsigned char* v, unsigned char value);
  // Sets out[j] to `to` at every marked cell j of row i.
  void apply_row(int i, unsigned char* out, unsigned char to) const;
  bool test(int i, int j) const { return (words_[i][j / 64] >> (j % 64)) & 1u; }

 private:
  Grid<std::uint64_t> words_;  // each row: nb_col bits in 64-bit words, bit j % 64 of word j / 64
  int nb_col_ = 0;
};

}  // namespace nrutil
