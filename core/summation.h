// Weighted summation of the images and the cutting of the range into equal levels, in two
// passes over the images after their first reading, neither of which holds a grid of sums:
// 1. all images together, row block by row block: the sums and the largest valid sum;
// 2. the sums again, with the same operations in the same order (so the same doubles), and
//    the level of every cell written into the level grid.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/failure.h"
#include "core/inputs.h"
#include "core/level_grid.h"
#include "core/levels.h"

namespace core {

// One image as the summation takes it: its first reading and its weight.
struct SumInput {
  const ImageRead* image = nullptr;
  double weight = 0.0;
};

// The rows of every image, block by block from the top, for the passes after the first:
// raw and BMP images are read again from their files into small reused buffers, ASCII grids
// come from the cells the first reading kept. Opening a file again fails (Changed) when the
// file is no longer the one the first reading read.
class ImageRows {
 public:
  ImageRows(const std::vector<SumInput>& inputs, int rows, int cols);
  ImageRows(const ImageRows&) = delete;
  ImageRows& operator=(const ImageRows&) = delete;
  ~ImageRows();

  // The failure met when the files were opened again, if any; nothing else works then.
  const Status& status() const { return status_; }
  // Rows a block may hold.
  int block_rows() const { return block_rows_; }
  // Makes rows first to first + count - 1 of every image available; blocks come in order.
  Status load(int first, int count);
  // Row i of image k (from 0), for a row of the block loaded last.
  const unsigned char* row(int k, int i) const;

 private:
  struct Source;
  const std::vector<SumInput>& inputs_;
  int block_rows_ = 1;
  int first_ = 0;
  std::vector<Source> sources_;
  Status status_;
};

// What the summation found and made.
struct Summation {
  Levels levels;
  // For each image before the last, the cells where it holds 255 (no data) while the cell is
  // valid: their sums take 255 x its weight.
  std::vector<std::int64_t> nodata_in_valid;
  LevelGrid grid;  // the level of every cell, 255 where none
};

// Sums the images (at least one, all of one size) in order and cuts [0, largest valid sum]
// into level_count levels. A cell is valid when the last image holds less than 255 there (a
// single raw or BMP image makes every cell valid). Fails with NotFinite when a valid sum is
// not a finite number, before anything is made.
Outcome<Summation> sum_and_level(const std::vector<SumInput>& inputs, int level_count);

}  // namespace core
