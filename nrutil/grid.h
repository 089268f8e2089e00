// Owning handle of a row-array grid: releases it exactly once. The cells are one zero-filled
// block (rows one after the other) with a row array pointing into it: one allocation however
// many rows, fresh pages straight from the system for large grids, and the memory handed
// back at once on release.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "nrutil/block.h"

namespace nrutil {

// Largest number of cells a grid may have; sizes are checked in 64 bits before allocating.
inline constexpr std::int64_t kMaxCells = std::int64_t{1} << 34;

template <class T>
class Grid {
 public:
  Grid() = default;
  Grid(const Grid&) = delete;
  Grid& operator=(const Grid&) = delete;
  Grid(Grid&& o) noexcept { swap(o); }
  Grid& operator=(Grid&& o) noexcept {
    Grid tmp(std::move(o));
    swap(tmp);
    return *this;
  }
  ~Grid() { reset(); }

  // A zero-filled grid; empty when a size is not positive, the cell count exceeds
  // kMaxCells, or memory runs out.
  static Grid make(int nb_col, int nb_lig);

  void reset() {
    if (rows_ != nullptr) {
      free_block(rows_[0], block_bytes(nb_col_, nb_lig_));
      delete[] rows_;
    }
    rows_ = nullptr;
    nb_col_ = nb_lig_ = 0;
  }

  bool empty() const { return rows_ == nullptr; }
  explicit operator bool() const { return rows_ != nullptr; }
  int nb_col() const { return nb_col_; }
  int nb_lig() const { return nb_lig_; }
  std::int64_t cells() const { return std::int64_t{nb_col_} * nb_lig_; }
  T* operator[](int i) { return rows_[i]; }
  const T* operator[](int i) const { return rows_[i]; }
  T** rows() { return rows_; }
  const T* const* rows() const { return rows_; }

 private:
  static std::size_t block_bytes(int nb_col, int nb_lig) {
    return static_cast<std::size_t>(nb_col) * static_cast<std::size_t>(nb_lig) * sizeof(T);
  }
  void swap(Grid& o) noexcept {
    std::swap(rows_, o.rows_);
    std::swap(nb_col_, o.nb_col_);
    std::swap(nb_lig_, o.nb_lig_);
  }

  T** rows_ = nullptr;
  int nb_col_ = 0;
  int nb_lig_ = 0;
};

template <class T>
Grid<T> Grid<T>::make(int nb_col, int nb_lig) {
  Grid g;
  if (nb_col <= 0 || nb_lig <= 0 || std::int64_t{nb_col} * nb_lig > kMaxCells) return g;
  T** rows = new (std::nothrow) T*[static_cast<std::size_t>(nb_lig)];
  if (rows == nullptr) return g;
  T* cells = static_cast<T*>(alloc_block(block_bytes(nb_col, nb_lig)));
  if (cells == nullptr) {
    delete[] rows;
    return g;
  }
  for (int i = 0; i < nb_lig; ++i) rows[i] = cells + static_cast<std::size_t>(i) * nb_col;
  g.rows_ = rows;
  g.nb_col_ = nb_col;
  g.nb_lig_ = nb_lig;
  return g;
}

using ByteGrid = Grid<unsigned char>;

}  // namespace nrutil
