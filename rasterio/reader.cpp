// The input image reader, the item statistics and the mask reader.
#include "rasterio/reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/cell_loops.h"
#include "app/hostpath.h"
#include "image/bmp.h"
#include "rasterio/gridfile.h"

namespace rasterio {

using app::Run;
namespace msg = app::msg;

namespace {

const app::Text3& reason_of(FileError e) {
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
    case FileError::WriteError:
      return msg::kWhyWriteError;
    case FileError::ReadError:
    case FileError::None:
      break;
  }
  return msg::kWhyReadError;
}

const app::Text3& reason_of(bmp::LoadError e) {
  switch (e) {
    case bmp::LoadError::CannotOpen:
      return msg::kWhyMissing;
    case bmp::LoadError::ShortHeader:
    case bmp::LoadError::ShortPalette:
    case bmp::LoadError::ShortRows:
      return msg::kWhyTruncated;
    case bmp::LoadError::NotBmp:
      return msg::kWhyNotBmp;
    case bmp::LoadError::UnsupportedLayout:
    case bmp::LoadError::Compressed:
      return msg::kWhyBmpLayout;
    case bmp::LoadError::BadSize:
      return msg::kWhyBmpSize;
    case bmp::LoadError::OutOfMemory:
      return msg::kWhyOutOfMemory;
    case bmp::LoadError::None:
      break;
  }
  return msg::kWhyReadError;
}

[[noreturn]] void fail_read(Run& r, const std::string& name, const app::Text3& why) {
  r.fail_file(msg::kCannotRead, name, r.pick(why));
}

// Bytes a run holds per cell at most: the image read last (which becomes the level grid),
// the mask as read and the mask of the first image (one byte each) and the running sum (a
// double).
constexpr std::int64_t kBytesPerCell = 11;

std::int64_t g_cell_limit = 0;

// Refuses sizes that are not positive or that the machine's memory cannot hold.
void check_size(Run& r, const std::string& name, std::int64_t rows, std::int64_t cols) {
  if (rows <= 0 || cols <= 0) fail_read(r, name, msg::kWhyBadSize);
  const std::int64_t cells = rows * cols;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  const bool known = pages > 0 && page > 0;
  if (cells > nrutil::kMaxCells || (known && cells > std::int64_t{pages} * page / kBytesPerCell) ||
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
    r.fail(app::vformat(r.pick(msg::kSizeMismatch), name.c_str(), r.nb_lig, r.nb_col,
                        r.ref_name.c_str(), r.ref_lig, r.ref_col));
  }
}

// A name that exists but is not a regular file: a folder, a device, or a named pipe, whose
// opening would wait for a writer forever. Such names are refused before any opening.
bool not_a_file(const std::string& name) {
  struct stat st {};
  return stat(app::host_path(name).c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

// Makes `into` a grid of the size just read. Every image of a run has the size of the
// first (check_reference), so the grid of the previous image is reused as it is: the
// readers overwrite every cell.
void size_grid(Run& r, const std::string& name, nrutil::ByteGrid& into) {
  if (into.has_size(r.nb_col, r.nb_lig)) return;
  into.reset();
  into = nrutil::ByteGrid::make(r.nb_col, r.nb_lig);
  if (!into) fail_read(r, name, msg::kWhyOutOfMemory);
}

// Raw image with descriptor; a missing descriptor is asked for and written.
void read_raw_image(Run& r, std::string& name, std::string& descr, nrutil::ByteGrid& into) {
  descr = name + ".txt";
  name += ".raw";
  // Only a descriptor that does not exist is asked for; one that is not a file is refused.
  if (not_a_file(descr)) fail_read(r, descr, msg::kWhyMissing);
  if (not_a_file(name)) r.fail(app::vformat(r.pick(msg::kNoRawImage), name.c_str()));
  Descriptor d;
  const FileError e = read_descriptor(app::host_path(descr), d);
  if (e == FileError::CannotOpen) {
    r.say(msg::kNoDescriptor, descr.c_str());
    d.nb_lig = r.ask_int(msg::kAskRows);
    d.nb_col = r.ask_int(msg::kAskCols);
    d.pix_size = r.ask_int(msg::kAskPixel);
    d.third = 1;
    d.min_al = 0;
    d.max_al = 255;
    check_size(r, descr, d.nb_lig, d.nb_col);
    const FileError w = write_descriptor(app::host_path(descr), d);
    if (w == FileError::CannotOpen) r.fail_file(msg::kCannotCreate, descr, std::strerror(errno));
    if (w != FileError::None) r.fail_file(msg::kCannotWrite, descr, r.pick(msg::kWhyWriteError));
    r.notes.descriptors.push_back(descr);
  } else if (e != FileError::None) {
    fail_read(r, descr, reason_of(e));
  }
  check_size(r, descr, d.nb_lig, d.nb_col);
  r.nb_lig = d.nb_lig;
  r.nb_col = d.nb_col;
  r.min_al = d.min_al;
  r.max_al = d.max_al;
  r.pix_size = d.pix_size;
  check_reference(r, name);
  r.dpix_size = static_cast<double>(r.pix_size);
  size_grid(r, name, into);
  const FileError re = read_raw(app::host_path(name), into);
  if (re == FileError::CannotOpen) r.fail(app::vformat(r.pick(msg::kNoRawImage), name.c_str()));
  if (re != FileError::None) fail_read(r, name, reason_of(re));
  r.UTM_coord = 0;
}

// 8-bit BMP image: the stored byte of each pixel is the value.
void read_bmp_image(Run& r, std::string& name, nrutil::ByteGrid& into) {
  name += ".bmp";
  if (not_a_file(name)) fail_read(r, name, msg::kWhyMissing);
  bmp::FileReader file;
  const bmp::LoadError e = file.open(app::host_path(name).c_str());
  if (e != bmp::LoadError::None) fail_read(r, name, reason_of(e));
  if (file.type() == 2) fail_read(r, name, msg::kWhyBmpLayout);  // 24-bit: three bytes a cell
  // The codec bounds each side, not the cells: the grids made from this one must fit too.
  check_size(r, name, file.nb_lig(), file.nb_col());
  r.nb_col = file.nb_col();
  r.nb_lig = file.nb_lig();
  check_reference(r, name);
  size_grid(r, name, into);
  const bmp::LoadError re = file.read_rows(into.rows());
  if (re != bmp::LoadError::None) fail_read(r, name, reason_of(re));
  r.UTM_coord = 0;
}

// ASCII grid with its georeferenced header.
void read_ascii_image(Run& r, std::string& name, nrutil::ByteGrid& into) {
  name += ".asc";
  AsciiGridReader rd;
  if (not_a_file(name) || rd.open(app::host_path(name)) != FileError::None) {
    r.fail(app::vformat(r.pick(msg::kNoAsciiGrid), name.c_str()));
  }
  AsciiHeader h;
  h.nodata = r.nodata;
  const FileError he = rd.read_header(h);
  if (he != FileError::None) fail_read(r, name, reason_of(he));
  check_size(r, name, h.nb_lig, h.nb_col);
  r.nb_col = h.nb_col;
  r.nb_lig = h.nb_lig;
  r.X_min = h.X_min;
  r.Y_min = h.Y_min;
  r.dpix_size = h.dpix_size;
  if (h.has_nodata) r.nodata = h.nodata;
  check_reference(r, name);
  size_grid(r, name, into);
  r.con.write("\n");
  const FileError ve = rd.read_values(into);
  if (ve != FileError::None) fail_read(r, name, reason_of(ve));
  r.con.write("\n");
  rd.close();
  r.UTM_coord = 1;
}

// Reads a grid file of any format into `into`, setting the sizes and the values its format
// carries. `name` gets the format's extension, `descr` the descriptor's name (raw only).
void read_grid(Run& r, int format, std::string& name, std::string& descr, nrutil::ByteGrid& into) {
  switch (format) {
    case 0:
      read_raw_image(r, name, descr, into);
      return;
    case 1:
      read_bmp_image(r, name, into);
      return;
    case 2:
      read_ascii_image(r, name, into);
      return;
    default:
      fail_read(r, name, msg::kWhyFormatCode);
  }
}

}  // namespace

void set_cell_limit(std::int64_t cells) {
  g_cell_limit = cells;
}

void lecture(Run& r, int k, int format, double weight) {
  read_grid(r, format, r.nom_lect, r.nomdescr1, r.tab);
  // Image 1 starts the sum; so does an image that finds no sum of its size (read out of
  // order), so that no grid is ever indexed outside its size.
  const bool start = k == 1 || !r.dtab_res.has_size(r.nb_col, r.nb_lig);
  if (start) {
    r.dtab_res.reset();
    r.dtab_res = nrutil::RealGrid::make(r.nb_col, r.nb_lig);
    if (!r.dtab_res) fail_read(r, r.nom_lect, msg::kWhyOutOfMemory);
  }
  // One pass: value x weight into the running sum, and the count of every value. The 255
  // cells count as 254: the value 255 is not an item of its own.
  app::ValueCounter counter;
  const auto cols = static_cast<std::size_t>(r.nb_col);
  for (int i = 0; i < r.nb_lig; ++i) {
    app::weigh_and_count(r.tab[i], cols, weight, r.dtab_res[i], start, counter);
  }
  r.hist_explor.fill(0);
  for (int v = 0; v < 256; ++v) r.hist_explor[v == 255 ? 254 : v] += counter.count(v);
  explor(r);
}

void explor(Run& r) {
  r.surf_image = std::int64_t{r.nb_lig} * r.nb_col;
  r.num_item = 0;
  r.number_item.fill(0);
  r.num_pixel_item.fill(0);
  r.percent_item.fill(0.0);
  for (int v = 0; v < 260; ++v) {
    if (r.hist_explor[v] > 0) {
      ++r.num_item;
      r.number_item[r.num_item] = v;
      r.num_pixel_item[r.num_item] = r.hist_explor[v];
      r.percent_item[r.num_item] =
          static_cast<double>(r.hist_explor[v]) / static_cast<double>(r.surf_image) * 100.0;
    }
  }
  ++r.num_slice;
  app::note_items(r);

  // The highest value present is left out of the list and of the count.
  const int listed = r.num_item - 1;
  r.say(msg::kItemsHeadConsole, r.num_slice, r.nom_lect.c_str());
  r.say(msg::kItemsCountConsole, listed);
  r.report(msg::kItemsHeadReport, r.num_slice, r.nom_lect.c_str());
  r.report(msg::kItemsCountReport, listed);
  if (r.idiom == 2) r.con.write("\n");
  for (int n = 1; n <= listed; ++n) {
    const auto pixels = static_cast<long long>(r.num_pixel_item[n]);
    r.say(msg::kItemLine, n, r.number_item[n], pixels, r.percent_item[n]);
    r.report(msg::kItemLine, n, r.number_item[n], pixels, r.percent_item[n]);
  }
  r.con.write("\n");
}

void mask_lecture(Run& r) {
  std::string nomdesc_mask;
  read_grid(r, r.mask_format, r.nom_mask_in, nomdesc_mask, r.tab_mask_in);
}

}  // namespace rasterio
