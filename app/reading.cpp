// The reading stage: input images and mask opened through the format table, read in row
// blocks; the item statistics; the later passes' view of the images.
#include "app/reading.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/hostpath.h"
#include "core/cell_loops.h"
#include "nrutil/block.h"
#include "rasterio/formats.h"
#include "rasterio/gridfile.h"

namespace app {

using rasterio::FileError;
using rasterio::FileFormat;

namespace {

// Bytes of the row buffers of one pass, all images together.
constexpr std::size_t kBlockBytes = std::size_t{4} << 20;

const Text3& reason_of(FileError e) {
  switch (e) {
    case FileError::CannotOpen:
      return msg::kWhyMissing;
    case FileError::ShortHeader:
      return msg::kWhyShortHeader;
    case FileError::BadHeader:
      return msg::kWhyBadHeader;
    case FileError::BadSize:
      return msg::kWhyBadSize;
    case FileError::TooLarge:
      return msg::kWhyTooLarge;
    case FileError::OutOfMemory:
      return msg::kWhyOutOfMemory;
    case FileError::FewerValues:
      return msg::kWhyFewerValues;
    case FileError::BadValue:
      return msg::kWhyBadValue;
    case FileError::NonSquareCells:
      return msg::kWhyNonSquare;
    case FileError::BadXCorner:
      return msg::kWhyBadXCorner;
    case FileError::BadYCorner:
      return msg::kWhyBadYCorner;
    case FileError::BadCellSize:
      return msg::kWhyBadCellSize;
    case FileError::NotBmp:
      return msg::kWhyNotBmp;
    case FileError::BmpLayout:
      return msg::kWhyBmpLayout;
    case FileError::BmpSize:
      return msg::kWhyBmpSize;
    case FileError::Truncated:
      return msg::kWhyTruncated;
    case FileError::WriteError:
      return msg::kWhyWriteError;
    case FileError::ReadError:
    case FileError::None:
      break;
  }
  return msg::kWhyReadError;
}

[[noreturn]] void fail_read(Run& r, const std::string& name, const Text3& why) {
  r.fail_file(msg::kCannotRead, name, r.pick(why));
}

std::int64_t g_cell_limit = 0;

// The memory a run holds for grids of rows x cols cells: the level grid (a byte a cell),
// the bit grids of the first image's 0 cells and of the mask's 255 cells (an eighth of a
// byte each), the values of each ASCII image, kept after the first pass (a byte a cell), and
// for the passes a row of sums (doubles) and a row of each image. cells is at most kMaxCells.
std::int64_t bytes_needed(const Run& r, std::int64_t cells, std::int64_t cols) {
  std::int64_t kept = 0;
  for (int k = 1; k <= std::min(r.num_imag, kMaxImages); ++k) {
    const FileFormat* f = rasterio::format_of(r.capas[static_cast<std::size_t>(k)].format);
    kept += f != nullptr && f->id == rasterio::Format::Ascii ? 1 : 0;
  }
  return cells + cells / 4 + cells * kept + cols * (8 + std::max(r.num_imag, 1));
}

// Refuses sizes that are not positive or that the memory cannot hold.
void check_size(Run& r, const std::string& name, std::int64_t rows, std::int64_t cols) {
  if (rows <= 0 || cols <= 0) fail_read(r, name, msg::kWhyBadSize);
  const std::int64_t cells = rows * cols;
  const std::int64_t memory = nrutil::memory_bytes();
  if (cells > nrutil::kMaxCells || (memory > 0 && bytes_needed(r, cells, cols) > memory) ||
      (g_cell_limit > 0 && cells > g_cell_limit)) {
    fail_read(r, name, msg::kWhyTooLarge);
  }
}

// The grid every later grid must match: the first one read (mask or image 1).
void check_reference(Run& r, const std::string& name) {
  if (r.ref_name.empty()) {
    r.ref_name = name;
    r.ref_lig = r.nb_lig;
    r.ref_col = r.nb_col;
    return;
  }
  if (r.nb_lig != r.ref_lig || r.nb_col != r.ref_col) {
    r.fail(vformat(r.pick(msg::kSizeMismatch), name.c_str(), r.nb_lig, r.nb_col, r.ref_name.c_str(),
                   r.ref_lig, r.ref_col));
  }
}

// A name that exists but is not a regular file: a folder, a device, or a named pipe, whose
// opening would wait for a writer forever. Such names are refused before any opening.
bool not_a_file(const std::string& name) {
  struct stat st {};
  return stat(host_path(name).c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// The descriptor of a raw image (`descr`). Only a descriptor that does not exist (ENOENT) is
// asked for and written; any other failure to open it (no permission, a link loop, an I/O
// error) stops the run and leaves the file as it is.
rasterio::Descriptor descriptor(Run& r, const std::string& descr) {
  rasterio::Descriptor d;
  errno = 0;
  const FileError e = rasterio::read_descriptor(host_path(descr), d);
  const int err = errno;
  if (e == FileError::CannotOpen && err != ENOENT) {
    r.fail_file(msg::kCannotRead, descr, err != 0 ? std::strerror(err) : r.pick(msg::kWhyMissing));
  }
  if (e == FileError::CannotOpen) {
    r.say(msg::kNoDescriptor, descr.c_str());
    d.nb_lig = r.ask_int(msg::kAskRows);
    d.nb_col = r.ask_int(msg::kAskCols);
    d.pix_size = r.ask_int(msg::kAskPixel);
    d.third = 1;
    d.min_al = 0;
    d.max_al = 255;
    check_size(r, descr, d.nb_lig, d.nb_col);
    errno = 0;
    const FileError w = rasterio::write_descriptor(host_path(descr), d);
    const int werr = errno;
    if (w == FileError::CannotOpen) r.fail_create(descr, werr);
    if (w != FileError::None) {
      r.fail_file(msg::kCannotWrite, descr,
                  werr != 0 ? std::strerror(werr) : r.pick(msg::kWhyWriteError));
    }
    r.notes.descriptors.push_back(descr);
  } else if (e != FileError::None) {
    fail_read(r, descr, reason_of(e));
  }
  return d;
}

// Opens the grid file `name` (path and base name; it gets the format's extension) in the
// format of `code`, checks its size, sets the run's size and what the format tells (pixel
// size, map corner), and checks the size against the first grid read.
std::unique_ptr<rasterio::RowReader> open_grid(Run& r, int code, std::string& name) {
  const FileFormat* f = rasterio::format_of(code);
  if (f == nullptr) fail_read(r, name, msg::kWhyFormatCode);
  std::unique_ptr<rasterio::RowReader> rd = f->reader();
  if (f->sidecar != nullptr) {
    // The size stands in the descriptor, which a missing one's answers replace; the image is
    // opened once the size is known.
    const std::string descr = name + f->sidecar;
    name += f->ext;
    // Only a descriptor that does not exist is asked for; one that is not a file is refused.
    if (not_a_file(descr)) fail_read(r, descr, msg::kWhyMissing);
    if (not_a_file(name)) fail_missing(r, *f, name);
    const rasterio::Descriptor d = descriptor(r, descr);
    check_size(r, descr, d.nb_lig, d.nb_col);
    r.nb_lig = d.nb_lig;
    r.nb_col = d.nb_col;
    check_reference(r, name);
    r.dpix_size = static_cast<double>(d.pix_size);
    rasterio::GridInfo size;
    size.nb_col = d.nb_col;
    size.nb_lig = d.nb_lig;
    const FileError e = rd->open(host_path(name), size);
    if (e == FileError::CannotOpen) fail_missing(r, *f, name);
    if (e != FileError::None) fail_read(r, name, reason_of(e));
    return rd;
  }
  name += f->ext;
  if (not_a_file(name)) fail_missing(r, *f, name);
  const FileError e = rd->open(host_path(name), rasterio::GridInfo{});
  if (e == FileError::CannotOpen) fail_missing(r, *f, name);
  if (e != FileError::None) fail_read(r, name, reason_of(e));
  const rasterio::GridInfo& g = rd->info();
  check_size(r, name, g.nb_lig, g.nb_col);
  r.nb_col = g.nb_col;
  r.nb_lig = g.nb_lig;
  if (f->georeferenced) {
    r.X_min = g.X_min;
    r.Y_min = g.Y_min;
    r.dpix_size = g.dpix_size;
  }
  check_reference(r, name);
  return rd;
}

// A buffer of `rows` rows of nb_col bytes, with the row pointers.
struct RowBuffer {
  std::vector<unsigned char> bytes;
  std::vector<unsigned char*> rows;
  void make(int nb_col, int count) {
    bytes.assign(static_cast<std::size_t>(nb_col) * static_cast<std::size_t>(count), 0);
    rows.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      rows[static_cast<std::size_t>(i)] = bytes.data() + static_cast<std::size_t>(i) * nb_col;
    }
  }
};

// Rows a block may hold when `files` grids of nb_col columns are read together.
int block_rows_for(int nb_col, int nb_lig, int files) {
  const std::size_t per_row = static_cast<std::size_t>(nb_col) * std::max(files, 1);
  const std::size_t rows = std::max<std::size_t>(1, kBlockBytes / per_row);
  return static_cast<int>(std::min<std::size_t>(rows, static_cast<std::size_t>(nb_lig)));
}

// Reads every row of an opened grid, block by block, and hands each block to `use` (first
// row, count, row pointers). The rows go into `into` when it is given (a grid of the size),
// else into a reused buffer. An ASCII grid prints a line break before and after its values.
template <class Use>
void read_all(Run& r, const std::string& name, int code, rasterio::RowReader& rd,
              nrutil::ByteGrid* into, Use use) {
  const bool ascii = rasterio::format_of(code)->id == rasterio::Format::Ascii;
  const int block = block_rows_for(r.nb_col, r.nb_lig, 1);
  RowBuffer buffer;
  if (into == nullptr) buffer.make(r.nb_col, block);
  std::vector<unsigned char*> kept_rows(static_cast<std::size_t>(block));
  if (ascii) r.con.write("\n");
  for (int first = 0; first < r.nb_lig; first += block) {
    const int count = std::min(block, r.nb_lig - first);
    unsigned char* const* rows = buffer.rows.data();
    if (into != nullptr) {
      for (int i = 0; i < count; ++i) kept_rows[static_cast<std::size_t>(i)] = (*into)[first + i];
      rows = kept_rows.data();
    }
    const FileError e = rd.read_rows(rows, count);
    if (e != FileError::None) fail_read(r, name, reason_of(e));
    use(first, count, rows);
  }
  if (ascii) r.con.write("\n");
}

}  // namespace

void fail_missing(Run& r, const FileFormat& f, const std::string& name) {
  switch (f.id) {
    case rasterio::Format::Raw:
      r.fail(vformat(r.pick(msg::kNoRawImage), name.c_str()));
    case rasterio::Format::Ascii:
      r.fail(vformat(r.pick(msg::kNoAsciiGrid), name.c_str()));
    case rasterio::Format::Bmp:
      break;
  }
  fail_read(r, name, msg::kWhyMissing);
}

void set_cell_limit(std::int64_t cells) {
  g_cell_limit = cells;
}

void lecture(Run& r, int k) {
  imagen& c = r.capas[static_cast<std::size_t>(k)];
  std::string name = c.nombre;
  std::unique_ptr<rasterio::RowReader> rd = open_grid(r, c.format, name);
  c.file = name;
  c.identity = rd->identity();
  c.kept.reset();
  // The values of a text format are kept: parsing is what reading it costs.
  const bool keep = rasterio::format_of(c.format)->id == rasterio::Format::Ascii;
  if (keep) {
    c.kept = nrutil::ByteGrid::make(r.nb_col, r.nb_lig);
    if (!c.kept) fail_read(r, name, msg::kWhyOutOfMemory);
  }
  if (k == 1) {
    r.tab_mask = nrutil::BitGrid::make(r.nb_col, r.nb_lig);
    if (r.tab_mask.empty()) fail_read(r, name, msg::kWhyOutOfMemory);
  }
  ValueCounter counter;
  const auto cols = static_cast<std::size_t>(r.nb_col);
  read_all(r, name, c.format, *rd, keep ? &c.kept : nullptr,
           [&](int first, int count, unsigned char* const* rows) {
             for (int i = 0; i < count; ++i) {
               counter.add(rows[i], cols);
               // Cells where the first image holds 0 are shown as background in the result.
               if (k == 1) r.tab_mask.mark_row(first + i, rows[i], 0);
             }
           });
  r.UTM_coord = rasterio::format_of(c.format)->georeferenced ? 1 : 0;
  // The value 255 is not an item of its own: its cells count as 254.
  c.items.fill(0);
  for (int v = 0; v < 256; ++v) c.items[v == 255 ? 254 : v] += counter.count(v);
  explor(r, k);
}

void explor(Run& r, int k) {
  const imagen& c = r.capas[static_cast<std::size_t>(k)];
  const std::int64_t surf_image = std::int64_t{r.nb_lig} * r.nb_col;
  int num_item = 0;
  for (const std::int64_t n : c.items) num_item += n > 0 ? 1 : 0;
  // The highest value present is left out of the list and of the count.
  const int listed = num_item - 1;
  r.say(msg::kItemsHeadConsole, k, c.file.c_str());
  r.say(msg::kItemsCountConsole, listed);
  r.report(msg::kItemsHeadReport, k, c.file.c_str());
  r.report(msg::kItemsCountReport, listed);
  if (r.idiom == 2) r.con.write("\n");
  int n = 0;
  for (int v = 0; v < 256 && n < listed; ++v) {
    if (c.items[static_cast<std::size_t>(v)] == 0) continue;
    ++n;
    const auto pixels = static_cast<long long>(c.items[static_cast<std::size_t>(v)]);
    const double percent = static_cast<double>(pixels) / static_cast<double>(surf_image) * 100.0;
    r.say(msg::kItemLine, n, v, pixels, percent);
    r.report(msg::kItemLine, n, v, pixels, percent);
  }
  r.con.write("\n");
}

void mask_lecture(Run& r) {
  std::unique_ptr<rasterio::RowReader> rd = open_grid(r, r.mask_format, r.nom_mask_in);
  r.tab_mask_in = nrutil::BitGrid::make(r.nb_col, r.nb_lig);
  if (r.tab_mask_in.empty()) fail_read(r, r.nom_mask_in, msg::kWhyOutOfMemory);
  read_all(r, r.nom_mask_in, r.mask_format, *rd, nullptr,
           [&r](int first, int count, unsigned char* const* rows) {
             for (int i = 0; i < count; ++i) r.tab_mask_in.mark_row(first + i, rows[i], 255);
           });
  r.UTM_coord = rasterio::format_of(r.mask_format)->georeferenced ? 1 : 0;
}

// ---- The later passes ----

struct ImageRows::Source {
  const nrutil::ByteGrid* kept = nullptr;
  std::unique_ptr<rasterio::RowReader> reader;
  RowBuffer buffer;
};

ImageRows::ImageRows(Run& r) : r_(r) {
  int files = 0;
  for (int k = 1; k <= r.num_imag; ++k) files += r.capas[static_cast<std::size_t>(k)].kept ? 0 : 1;
  block_rows_ = block_rows_for(r.nb_col, r.nb_lig, files);
  sources_.resize(static_cast<std::size_t>(r.num_imag));
  for (int k = 1; k <= r.num_imag; ++k) {
    const imagen& c = r.capas[static_cast<std::size_t>(k)];
    Source& s = sources_[static_cast<std::size_t>(k - 1)];
    if (c.kept) {
      s.kept = &c.kept;
      continue;
    }
    const FileFormat* f = rasterio::format_of(c.format);
    s.reader = f->reader();
    rasterio::GridInfo size;
    size.nb_col = r.nb_col;
    size.nb_lig = r.nb_lig;
    // A file that cannot be opened again, or opens as another file, changed since the first
    // pass: its rows would not be those the first pass counted.
    if (s.reader->open(host_path(c.file), size) != FileError::None ||
        !(s.reader->identity() == c.identity) || s.reader->info().nb_col != r.nb_col ||
        s.reader->info().nb_lig != r.nb_lig) {
      r.fail(vformat(r.pick(msg::kInputChanged), c.file.c_str()));
    }
    s.buffer.make(r.nb_col, block_rows_);
  }
}

ImageRows::~ImageRows() = default;

void ImageRows::load(int first, int count) {
  first_ = first;
  for (int k = 1; k <= r_.num_imag; ++k) {
    Source& s = sources_[static_cast<std::size_t>(k - 1)];
    if (s.kept != nullptr) continue;
    const FileError e = s.reader->read_rows(s.buffer.rows.data(), count);
    if (e != FileError::None)
      fail_read(r_, r_.capas[static_cast<std::size_t>(k)].file, reason_of(e));
  }
}

const unsigned char* ImageRows::row(int k, int i) const {
  const Source& s = sources_[static_cast<std::size_t>(k - 1)];
  if (s.kept != nullptr) return (*s.kept)[i];
  return s.buffer.rows[static_cast<std::size_t>(i - first_)];
}

}  // namespace app
