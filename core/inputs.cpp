// The input grids: descriptors, opening and checks, the first reading of the images, the mask.
#include "core/inputs.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include "core/cell_loops.h"
#include "nrutil/block.h"
#include "nrutil/files.h"
#include "nrutil/hostpath.h"

namespace core {

using rasterio::FileError;
using rasterio::FileFormat;

namespace {

// Rows of one block of a reading: about 4 MiB.
constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

// The memory grids of rows x cols cells take in a run: the level grid (a byte a cell), the
// bit grids of the first image's 0 cells and of the mask's 255 cells (an eighth of a byte
// each), each kept image (a byte a cell), and for the passes a row of sums (doubles) and a
// row of each image. cells is at most nrutil::kMaxCells.
std::int64_t bytes_needed(const ReadLimits& l, std::int64_t cells, std::int64_t cols) {
  return cells + cells / 4 + cells * l.kept_images + cols * (8 + std::max(l.images, 1));
}

// A name that exists but is not a regular file: a folder, a device, or a named pipe, whose
// opening would wait for a writer forever. Such names are refused before any opening.
bool not_a_file(const std::string& name) {
  return nrutil::is_non_regular(nrutil::host_path(name));
}

// Rows a block may hold when `files` grids of cols columns are read together.
int block_rows_for(int cols, int rows, int files) {
  const std::size_t per_row = static_cast<std::size_t>(cols) * std::max(files, 1);
  const std::size_t n = std::max<std::size_t>(1, kBlockBytes / per_row);
  return static_cast<int>(std::min<std::size_t>(n, static_cast<std::size_t>(rows)));
}

// Reads every row of an opened grid, block by block, and hands each block to `use` (first
// row, count, row pointers). The rows go into `into` when it is given (a grid of the size),
// else into a reused buffer.
template <class Use>
Status read_all(OpenedGrid& g, nrutil::ByteGrid* into, Use use) {
  const int rows = g.facts.rows;
  const int cols = g.facts.cols;
  const int block = block_rows_for(cols, rows, 1);
  std::vector<unsigned char> buffer;
  std::vector<unsigned char*> pointers(static_cast<std::size_t>(block));
  if (into == nullptr) buffer.resize(static_cast<std::size_t>(cols) * block);
  for (int first = 0; first < rows; first += block) {
    const int count = std::min(block, rows - first);
    for (int i = 0; i < count; ++i) {
      pointers[static_cast<std::size_t>(i)] =
          into != nullptr ? (*into)[first + i] : buffer.data() + static_cast<std::size_t>(i) * cols;
    }
    const FileError e = g.reader->read_rows(pointers.data(), count);
    if (e != FileError::None) return Failure::unreadable(g.file, e);
    use(first, count, pointers.data());
  }
  return std::nullopt;
}

}  // namespace

std::string grid_file(const InputGrid& g) {
  const FileFormat* f = rasterio::format_of(g.format);
  return f != nullptr ? g.name + f->ext : g.name;
}

std::string descriptor_file(const InputGrid& g) {
  const FileFormat* f = rasterio::format_of(g.format);
  return f != nullptr && f->sidecar != nullptr ? g.name + f->sidecar : std::string();
}

ReadLimits ReadLimits::of(const RunParameters& p) {
  ReadLimits l;
  l.images = static_cast<int>(p.images.size());
  for (const ImageParameter& im : p.images) {
    const FileFormat* f = rasterio::format_of(im.grid.format);
    l.kept_images += f != nullptr && f->id == rasterio::Format::Ascii ? 1 : 0;
  }
  return l;
}

Status check_size(const std::string& file, std::int64_t rows, std::int64_t cols,
                  const ReadLimits& limits) {
  if (rows <= 0 || cols <= 0) return Failure::unreadable(file, FileError::BadSize);
  const std::int64_t cells = rows * cols;
  const std::int64_t memory = nrutil::memory_bytes();
  if (cells > nrutil::kMaxCells || (memory > 0 && bytes_needed(limits, cells, cols) > memory) ||
      (limits.cell_limit > 0 && cells > limits.cell_limit)) {
    return Failure::unreadable(file, FileError::TooLarge);
  }
  return std::nullopt;
}

Outcome<DescriptorLookup> look_up_descriptor(const InputGrid& g) {
  const std::string descr = descriptor_file(g);
  const std::string file = grid_file(g);
  // Only a descriptor that does not exist is asked for; one that is not a file is refused.
  if (not_a_file(descr)) return Failure::unreadable(descr, FileError::CannotOpen);
  if (not_a_file(file)) return Failure::missing(file, g.format);
  DescriptorLookup found;
  errno = 0;
  const FileError e = rasterio::read_descriptor(nrutil::host_path(descr), found.descriptor);
  const int err = errno;
  // Any failure but ENOENT (no permission, a link loop, an I/O error) stops, and the file is
  // left as it is.
  if (e == FileError::CannotOpen && err != ENOENT) {
    return Failure::unreadable(descr, FileError::CannotOpen, err);
  }
  if (e == FileError::CannotOpen) {
    found.missing = true;
  } else if (e != FileError::None) {
    return Failure::unreadable(descr, e);
  }
  return found;
}

Status write_descriptor(const InputGrid& g, const rasterio::Descriptor& d,
                        const ReadLimits& limits) {
  const std::string descr = descriptor_file(g);
  if (Status s = check_size(descr, d.nb_lig, d.nb_col, limits)) return s;
  errno = 0;
  const FileError w = rasterio::write_descriptor(nrutil::host_path(descr), d);
  const int err = errno;
  if (w == FileError::CannotOpen) return Failure::of(Failure::Kind::CannotCreate, descr, err);
  if (w != FileError::None) return Failure::of(Failure::Kind::CannotWrite, descr, err);
  return std::nullopt;
}

Outcome<OpenedGrid> open_grid(const InputGrid& g, const rasterio::Descriptor* d,
                              const ReadLimits& limits, const std::optional<Reference>& reference) {
  const FileFormat* f = rasterio::format_of(g.format);
  if (f == nullptr) return Failure::of(Failure::Kind::UnknownFormat, g.name);
  OpenedGrid out;
  out.input = g;
  out.file = grid_file(g);
  out.reader = f->reader();
  rasterio::GridInfo size;
  if (f->sidecar != nullptr) {
    // The size stands in the descriptor; the grid is opened once it is known.
    if (d == nullptr) return Failure::unreadable(descriptor_file(g), FileError::CannotOpen);
    if (Status s = check_size(descriptor_file(g), d->nb_lig, d->nb_col, limits)) return *s;
    size.nb_col = d->nb_col;
    size.nb_lig = d->nb_lig;
    out.facts.rows = d->nb_lig;
    out.facts.cols = d->nb_col;
    out.facts.pixel_size = static_cast<double>(d->pix_size);
  } else if (not_a_file(out.file)) {
    return Failure::missing(out.file, g.format);
  }
  const auto check_reference = [&]() -> Status {
    if (reference && (out.facts.rows != reference->rows || out.facts.cols != reference->cols)) {
      Failure m = Failure::of(Failure::Kind::SizeMismatch, out.file);
      m.rows = out.facts.rows;
      m.cols = out.facts.cols;
      m.reference = reference->file;
      m.ref_rows = reference->rows;
      m.ref_cols = reference->cols;
      return m;
    }
    return std::nullopt;
  };
  // A raw grid is checked against the reference before it is opened; the others once their
  // header has told their size.
  if (f->sidecar != nullptr) {
    if (Status s = check_reference()) return *s;
  }
  const FileError e = out.reader->open(nrutil::host_path(out.file), size);
  if (e == FileError::CannotOpen) return Failure::missing(out.file, g.format);
  if (e != FileError::None) return Failure::unreadable(out.file, e);
  if (f->sidecar == nullptr) {
    const rasterio::GridInfo& info = out.reader->info();
    if (Status s = check_size(out.file, info.nb_lig, info.nb_col, limits)) return *s;
    out.facts.rows = info.nb_lig;
    out.facts.cols = info.nb_col;
    if (f->georeferenced) {
      out.facts.pixel_size = info.dpix_size;
      out.facts.corner = Corner{info.X_min, info.Y_min};
    }
    if (Status s = check_reference()) return *s;
  }
  return out;
}

Reference reference_of(const OpenedGrid& g) {
  return Reference{g.file, g.facts.rows, g.facts.cols};
}

Outcome<ImageRead> read_image(OpenedGrid grid, bool mark_zeros) {
  ImageRead im;
  im.input = grid.input;
  im.file = grid.file;
  im.facts = grid.facts;
  im.identity = grid.reader->identity();
  const int rows = grid.facts.rows;
  const int cols = grid.facts.cols;
  // The cells of a text format are kept: parsing is what reading it costs.
  const bool keep = rasterio::format_of(grid.input.format)->id == rasterio::Format::Ascii;
  if (keep) {
    im.kept = nrutil::ByteGrid::make(cols, rows);
    if (!im.kept) return Failure::unreadable(im.file, FileError::OutOfMemory);
  }
  if (mark_zeros) {
    im.zeros = nrutil::BitGrid::make(cols, rows);
    if (im.zeros.empty()) return Failure::unreadable(im.file, FileError::OutOfMemory);
  }
  ValueCounter counter;
  const auto n = static_cast<std::size_t>(cols);
  const Status s = read_all(grid, keep ? &im.kept : nullptr,
                            [&](int first, int count, unsigned char* const* rows_read) {
                              for (int i = 0; i < count; ++i) {
                                counter.add(rows_read[i], n);
                                if (mark_zeros) im.zeros.mark_row(first + i, rows_read[i], 0);
                              }
                            });
  if (s) return *s;
  for (int v = 0; v < 256; ++v) im.items[v == 255 ? 254 : v] += counter.count(v);
  return im;
}

bool can_defer(int format) {
  const FileFormat* f = rasterio::format_of(format);
  return f != nullptr && f->id != rasterio::Format::Ascii;
}

Outcome<ImageRead> defer_image(OpenedGrid grid, bool mark_zeros) {
  ImageRead im;
  im.input = grid.input;
  im.file = grid.file;
  im.facts = grid.facts;
  im.identity = grid.reader->identity();
  im.counted = false;
  if (mark_zeros) {
    im.zeros = nrutil::BitGrid::make(grid.facts.cols, grid.facts.rows);
    if (im.zeros.empty()) return Failure::unreadable(im.file, FileError::OutOfMemory);
  }
  return im;
}

Outcome<std::unique_ptr<rasterio::RowReader>> reopen(const ImageRead& im) {
  std::unique_ptr<rasterio::RowReader> reader = rasterio::format_of(im.input.format)->reader();
  rasterio::GridInfo size;
  size.nb_col = im.facts.cols;
  size.nb_lig = im.facts.rows;
  // A file that cannot be opened again, or opens as another file, changed since the first
  // reading: its rows would not be those the first reading counted.
  if (reader->open(nrutil::host_path(im.file), size) != FileError::None ||
      !(reader->identity() == im.identity) || reader->info().nb_col != im.facts.cols ||
      reader->info().nb_lig != im.facts.rows) {
    return Failure::of(Failure::Kind::Changed, im.file);
  }
  return reader;
}

Status complete_reading(ImageRead& im) {
  if (im.counted) return std::nullopt;
  Outcome<std::unique_ptr<rasterio::RowReader>> reader = reopen(im);
  if (!reader.ok()) return reader.failure();
  OpenedGrid g;
  g.input = im.input;
  g.file = im.file;
  g.facts = im.facts;
  g.reader = std::move(reader.value());
  ValueCounter counter;
  const auto n = static_cast<std::size_t>(im.facts.cols);
  const bool mark_zeros = !im.zeros.empty();
  const Status s = read_all(g, nullptr, [&](int first, int count, unsigned char* const* rows) {
    for (int i = 0; i < count; ++i) {
      counter.add(rows[i], n);
      if (mark_zeros) im.zeros.mark_row(first + i, rows[i], 0);
    }
  });
  if (s) return s;
  im.items = {};
  for (int v = 0; v < 256; ++v) im.items[v == 255 ? 254 : v] += counter.count(v);
  im.counted = true;
  return std::nullopt;
}

Outcome<MaskRead> read_mask(OpenedGrid grid) {
  MaskRead m;
  m.file = grid.file;
  m.facts = grid.facts;
  m.outside = nrutil::BitGrid::make(grid.facts.cols, grid.facts.rows);
  if (m.outside.empty()) return Failure::unreadable(m.file, FileError::OutOfMemory);
  const Status s = read_all(grid, nullptr, [&m](int first, int count, unsigned char* const* rows) {
    for (int i = 0; i < count; ++i) m.outside.mark_row(first + i, rows[i], 255);
  });
  if (s) return *s;
  return m;
}

Georef after_grid(Georef g, const GridFacts& facts) {
  if (facts.pixel_size) g.pixel_size = *facts.pixel_size;
  g.corner = facts.corner;
  return g;
}

}  // namespace core
