// The one routine behind every matrix and vector allocator of nrutil: zero-filled blocks from a
// calloc-like function, released by the matching free-like function. The block functions are
// parameters so that a test can make an allocation fail at a chosen block.
#pragma once

#include <cstddef>
#include <cstdlib>

namespace nrutil::detail {

using ZeroAlloc = void* (*)(std::size_t count, std::size_t size);
using Release = void (*)(void* block);

// A row array of nb_lig zero-filled rows of nb_col elements. With nb_lig <= 0 it is a valid
// row array holding no rows. Null when nb_col is negative or a block cannot be obtained; the
// blocks already obtained are then handed back, so a failure leaks nothing.
template <class T>
T** alloc_rows(int nb_col, int nb_lig, ZeroAlloc zalloc = std::calloc,
               Release release = std::free) {
  if (nb_col < 0) return nullptr;
  const int rows = nb_lig > 0 ? nb_lig : 0;
  // At least one entry and one element: calloc(0, ...) may return null, which would read as
  // a failure.
  const std::size_t array_len = rows > 0 ? static_cast<std::size_t>(rows) : 1;
  const std::size_t row_len = nb_col > 0 ? static_cast<std::size_t>(nb_col) : 1;
  T** mat = static_cast<T**>(zalloc(array_len, sizeof(T*)));
  if (mat == nullptr) return nullptr;
  for (int i = 0; i < rows; ++i) {
    mat[i] = static_cast<T*>(zalloc(row_len, sizeof(T)));
    if (mat[i] == nullptr) {
      for (int k = 0; k < i; ++k) release(mat[k]);
      release(mat);
      return nullptr;
    }
  }
  return mat;
}

// Releases the first nb_lig rows of mat, then the row array. A null mat is ignored.
template <class T>
void free_rows(T** mat, int nb_lig, Release release = std::free) {
  if (mat == nullptr) return;
  for (int i = 0; i < nb_lig; ++i) release(mat[i]);
  release(mat);
}

// One zero-filled block of nb_col elements (at least one element is obtained); null when
// nb_col is negative or memory runs out.
template <class T>
T* alloc_vector(int nb_col, ZeroAlloc zalloc = std::calloc) {
  if (nb_col < 0) return nullptr;
  return static_cast<T*>(zalloc(nb_col > 0 ? static_cast<std::size_t>(nb_col) : 1, sizeof(T)));
}

}  // namespace nrutil::detail
