// Weighted summation of the images and the cutting of the range into equal levels, in two
// passes over the images after their first reading, neither of which holds a grid of sums:
// 1. all images together: the sums, the largest valid sum, the checks of the sums, and the
//    first reading of the images that left it to this pass (their items and 0 cells);
// 2. the sums again, with the same operations in the same order (so the same doubles), and
//    the level of every cell written into the level grid.
// Each pass shares its blocks of rows among the threads of the run; what the threads find is
// gathered in a fixed order, so that every result is the same whatever their number.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/cell_loops.h"
#include "core/failure.h"
#include "core/inputs.h"
#include "core/level_grid.h"
#include "core/levels.h"
#include "core/parallel.h"

namespace core {

// One image as the summation takes it: its first reading and its weight. The first pass
// completes a deferred first reading in place.
struct SumInput {
  ImageRead* image = nullptr;
  double weight = 0.0;
};

// The rows of every image, block by block, for the passes after the first reading: raw and
// BMP images are mapped from their files a block at a time (or read into a small reused
// buffer where they cannot be mapped), at any place, so that each thread reads its own blocks
// through readers of its own; ASCII grids come from the cells the first reading kept. Opening a
// file again fails (Changed) when the file is no longer the one the first reading opened.
class ImageRows {
 public:
  // Blocks of `block_rows` rows, or (0) of about 1 MiB of rows of all images together.
  ImageRows(const std::vector<SumInput>& inputs, int rows, int cols, int block_rows = 0);
  ImageRows(const ImageRows&) = delete;
  ImageRows& operator=(const ImageRows&) = delete;
  ~ImageRows();

  // The failure met when the files were opened again, if any; nothing else works then.
  const Status& status() const { return status_; }
  // Rows a block may hold.
  int block_rows() const { return block_rows_; }
  // Makes rows first to first + count - 1 of every image available (count at most
  // block_rows()).
  Status load(int first, int count);
  // Row i of image k (from 0), for a row of the block loaded last.
  const unsigned char* row(int k, int i) const;
  // Runs `work`, which reads the rows of the block loaded last (and makes nothing that needs
  // a destructor): Changed, naming the file, when a mapped file was cut short meanwhile.
  Status use(const std::function<void()>& work) const;

  // The rows of a block of about `bytes` (all images read from their files together) when the
  // images of `inputs` have `cols` columns.
  static int rows_per_block(const std::vector<SumInput>& inputs, int rows, int cols,
                            std::size_t bytes);

 private:
  struct Source;
  const std::vector<SumInput>& inputs_;
  int cols_ = 0;
  int block_rows_ = 1;
  int first_ = 0;
  std::vector<Source> sources_;
  Status status_;
};

// What the first pass found.
struct SumScan {
  SumChecks checks;  // the largest valid sum, and whether every valid sum is finite
  // For each image before the last, the cells where it holds 255 (no data) while the cell is
  // valid: their sums take 255 x its weight.
  std::vector<std::int64_t> nodata_in_valid;
};

// What the summation found and made.
struct Summation {
  Levels levels;
  std::vector<std::int64_t> nodata_in_valid;  // as in SumScan
  LevelGrid grid;                             // the level of every cell, 255 where none
};

// The first pass over the images (at least one, all of one size), on `threads` threads.
// A cell is valid when the last image holds less than 255 there (a single raw or BMP image
// makes every cell valid). Deferred first readings are completed (items, 0 cells, counted)
// only when the whole pass succeeds; after a failure they are left as they were.
Outcome<SumScan> scan_images(const std::vector<SumInput>& inputs, int threads = thread_count());

// The second pass: cuts [0, largest valid sum] into level_count levels and gives every cell
// its level. Fails with NotFinite, before anything is made, when the first pass met a valid
// sum that is not a finite number.
Outcome<Summation> level_images(const std::vector<SumInput>& inputs, const SumScan& scan,
                                int level_count, int threads = thread_count());

// Both passes.
Outcome<Summation> sum_and_level(const std::vector<SumInput>& inputs, int level_count,
                                 int threads = thread_count());

}  // namespace core
