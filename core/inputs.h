// The input grids of a run: a raw grid's descriptor, the opening and checks of every grid, the
// first reading of each image (its item statistics, its cells kept when parsing is what reading
// costs) and the reading of the mask. Nothing here asks or prints: a missing descriptor is
// reported for the front-end to ask about, and failures come back as values.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/failure.h"
#include "core/parameters.h"
#include "nrutil/bitgrid.h"
#include "nrutil/grid.h"
#include "rasterio/formats.h"
#include "rasterio/gridfile.h"

namespace core {

// The grid's file (name and the format's extension) and its descriptor ("" for a format
// without one).
std::string grid_file(const InputGrid& g);
std::string descriptor_file(const InputGrid& g);

// What a run's grids may take in memory.
struct ReadLimits {
  int images = 1;       // images of the run
  int kept_images = 0;  // images whose cells are kept after the first reading (ASCII grids)
  // A bound on the cells of any grid below the memory's, or 0 for none. Tools that read many
  // hostile files in one process (the fuzz drivers) lower it.
  std::int64_t cell_limit = 0;
  // The limits of a run's parameters.
  static ReadLimits of(const RunParameters& p);
};

// Refuses, naming `file`, sizes that are not positive (BadSize) or whose grids the memory
// cannot hold (TooLarge; the memory is nrutil::memory_bytes()).
Status check_size(const std::string& file, std::int64_t rows, std::int64_t cols,
                  const ReadLimits& limits);

// The grid every later grid of a run must match: the first one read (the mask, or image 1).
struct Reference {
  std::string file;
  int rows = 0;
  int cols = 0;
};

// What a grid file tells beside its cells.
struct GridFacts {
  int rows = 0;
  int cols = 0;
  std::optional<double> pixel_size;  // from a raw grid's descriptor or an ASCII header
  std::optional<Corner> corner;      // from an ASCII header
};

// The descriptor of a raw grid: its values, or `missing` when it does not exist (ENOENT),
// which is the front-end's to ask about and write (write_descriptor).
struct DescriptorLookup {
  bool missing = false;
  rasterio::Descriptor descriptor;
};

// For a format with a descriptor: refuses a descriptor or grid name that is not a regular
// file, then reads the descriptor. A descriptor that exists but cannot be read is a failure.
Outcome<DescriptorLookup> look_up_descriptor(const InputGrid& g);

// Writes the descriptor of g from the front-end's answers, whole or not at all, after checking
// the size it gives.
Status write_descriptor(const InputGrid& g, const rasterio::Descriptor& d,
                        const ReadLimits& limits);

// An input grid, open and checked, ready for its first reading.
struct OpenedGrid {
  InputGrid input;
  std::string file;  // grid_file(input)
  std::unique_ptr<rasterio::RowReader> reader;
  GridFacts facts;
};

// Opens g (a raw grid with its descriptor `d`), checks its size against the limits and, when
// there is one, against the reference.
Outcome<OpenedGrid> open_grid(const InputGrid& g, const rasterio::Descriptor* d,
                              const ReadLimits& limits, const std::optional<Reference>& reference);

// The reference that the first grid opened sets.
Reference reference_of(const OpenedGrid& g);

// Cells of each value of a grid (255 counted as 254: not an item of its own).
using ItemCounts = std::array<std::int64_t, 256>;

// The first reading of an image.
struct ImageRead {
  InputGrid input;
  std::string file;
  GridFacts facts;
  rasterio::FileIdentity identity;  // the file as it was opened
  ItemCounts items{};
  nrutil::ByteGrid kept;  // an ASCII grid's cells, parsed once (later readings use them)
  nrutil::BitGrid zeros;  // the cells holding 0, when asked for (the first image)
  // Whether the items (and the 0 cells) are known. An image whose reading was deferred
  // (defer_image) has them counted by the first pass of the summation, along with the sums,
  // or by complete_reading.
  bool counted = true;
};

// Reads every row of an opened image once: its items, its identity, its cells when they are
// kept, and the cells holding 0 when `mark_zeros`.
Outcome<ImageRead> read_image(OpenedGrid grid, bool mark_zeros);

// Whether the reading of an image of this format can be left to the summation: its rows can
// be read again at any place (raw, BMP). An ASCII grid is parsed once, at its reading.
bool can_defer(int format);

// The first reading of an opened image of a format that can_defer, left to the summation:
// nothing is read now (the file is opened again later, and must be the same file); the grid
// of 0 cells is made (empty) when `mark_zeros`. The items are counted by scan_images, or by
// complete_reading when something must be told before the summation.
Outcome<ImageRead> defer_image(OpenedGrid grid, bool mark_zeros);

// Does the reading that defer_image left, now: the items and the 0 cells. Changed when the
// file is no longer the one opened.
Status complete_reading(ImageRead& im);

// A reader of the image's file opened again for a later reading, of the size the first
// reading found: Changed when the file cannot be opened again or is not the same file.
Outcome<std::unique_ptr<rasterio::RowReader>> reopen(const ImageRead& im);

// The mask, read whole: the cells outside the study area (holding 255).
struct MaskRead {
  std::string file;
  GridFacts facts;
  nrutil::BitGrid outside;
};
Outcome<MaskRead> read_mask(OpenedGrid grid);

// The pixel size and corner after reading a grid with these facts: what the grid carries
// replaces what was known; a grid without a corner leaves none known.
Georef after_grid(Georef g, const GridFacts& facts);

}  // namespace core
