// The reading stage: the input images and the mask of a run, read row block by row block,
// with the item statistics of each image; the questions, messages and stops of a file that
// is missing or bad.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/run.h"
#include "rasterio/formats.h"
#include "rasterio/rows.h"

namespace app {

// A bound on the cells of any grid read, below the one the machine's memory sets; 0 (the
// default) leaves only the memory bound. Tools that read many hostile files in one process
// (the fuzz drivers) lower it so that a typed or announced size cannot take gigabytes.
void set_cell_limit(std::int64_t cells);

// Stops the run with the message of an image or mask file in format f that does not exist
// or cannot be opened (`name` with its extension), in the words each format has always used.
[[noreturn]] void fail_missing(Run& r, const rasterio::FileFormat& f, const std::string& name);

// The first pass over input image k (capas[k]): opens it in its format (asking for the size
// of a raw image whose descriptor is missing, and writing the descriptor), checks its size
// against the first grid read, reads every row once, counts its values into capas[k].items
// (255 counted as 254), records the file's identity, keeps the values of an ASCII grid (the
// later passes do not parse it again), marks in tab_mask the cells where image 1 holds 0,
// and reports the items. Stops the run with a message on a bad file.
void lecture(Run& r, int k);

// Reports the items (values present) of image k on the console and in the report.
void explor(Run& r, int k);

// Reads the mask named by r.nom_mask_in in r.mask_format; tab_mask_in marks its 255 cells.
void mask_lecture(Run& r);

// The rows of every image of the run, block by block from the top, for the passes after the
// first: raw and BMP images are read again from their files into small reused buffers,
// ASCII grids come from the values the first pass kept. Opening a file again stops the run
// when the file is no longer the one the first pass read.
class ImageRows {
 public:
  explicit ImageRows(Run& r);
  ImageRows(const ImageRows&) = delete;
  ImageRows& operator=(const ImageRows&) = delete;
  ~ImageRows();

  // Rows a block may hold.
  int block_rows() const { return block_rows_; }
  // Makes rows first to first + count - 1 of every image available; blocks come in order.
  void load(int first, int count);
  // Row i of image k, for a row of the block loaded last.
  const unsigned char* row(int k, int i) const;

 private:
  struct Source;
  Run& r_;
  int block_rows_ = 1;
  int first_ = 0;
  std::vector<Source> sources_;  // image k at k - 1
};

}  // namespace app
