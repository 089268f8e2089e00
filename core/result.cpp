// The result image and the .prj beside it.
#include "core/result.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <memory>

#include "core/cell_loops.h"
#include "core/parallel.h"
#include "nrutil/files.h"
#include "nrutil/hostpath.h"
#include "rasterio/gridfile.h"

namespace core {

namespace {

// The largest .prj carried beside a result: a coordinate system's text is a few KiB.
constexpr std::uintmax_t kMaxPrjBytes = std::uintmax_t{1} << 20;

// The pixel size as the descriptor's integer: truncated toward zero, held within int.
int truncated_pixel_size(double p) {
  if (std::isnan(p)) return 0;
  if (p >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (p <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(p);
}

// The failure of a result file.
Failure file_failure(rasterio::FileError e, int err, const std::string& name) {
  return Failure::of(e == rasterio::FileError::CannotOpen ? Failure::Kind::CannotCreate
                                                          : Failure::Kind::CannotWrite,
                     name, err);
}

}  // namespace

Outcome<ValueCounts> write_result(LevelGrid& grid, const nrutil::BitGrid& zeros,
                                  const nrutil::BitGrid* outside, const rasterio::FileFormat& f,
                                  const Georef& where, const ResultFiles& files, int threads) {
  const int rows = grid.nb_lig();
  const int cols = grid.nb_col();
  // The descriptor beside a raw result: rows, columns, 1, 0, 255 and the pixel size in whole
  // metres, written into a temporary file put in place once the image is.
  nrutil::AtomicFile descriptor;
  if (!files.descriptor.empty()) {
    rasterio::Descriptor d;
    d.nb_lig = rows;
    d.nb_col = cols;
    d.third = 1;
    d.min_al = 0;
    d.max_al = 255;
    d.pix_size = truncated_pixel_size(where.pixel_size);
    errno = 0;
    if (!descriptor.open(nrutil::host_path(files.descriptor))) {
      return Failure::of(Failure::Kind::CannotCreate, files.descriptor, errno);
    }
    if (!descriptor.write(rasterio::format_descriptor(d))) {
      return Failure::of(Failure::Kind::CannotWrite, files.descriptor, errno);
    }
  }
  std::unique_ptr<rasterio::RowWriter> w = f.writer();
  errno = 0;
  rasterio::FileError e = w->create(nrutil::host_path(files.image));
  if (e != rasterio::FileError::None) {
    return Failure::of(Failure::Kind::CannotCreate, files.image, errno);
  }
  rasterio::GridInfo g;
  g.nb_col = cols;
  g.nb_lig = rows;
  g.X_min = where.corner ? where.corner->x_min : 0.0;
  g.Y_min = where.corner ? where.corner->y_min : 0.0;
  g.dpix_size = where.pixel_size;
  errno = 0;
  e = w->begin(g);
  if (e != rasterio::FileError::None) return file_failure(e, errno, files.image);

  // The masks, and the counts of the cells as they will be written, on the run's threads;
  // the counts of the threads add up in thread order.
  constexpr int kMaskRows = 64;
  const int mask_blocks = (rows + kMaskRows - 1) / kMaskRows;
  const int workers = workers_for(threads, mask_blocks);
  std::vector<ValueCounter> counters(static_cast<std::size_t>(workers));
  for_each_block(workers, mask_blocks, [&](int worker, int b) -> Status {
    const int first = b * kMaskRows;
    for (int i = first; i < std::min(first + kMaskRows, rows); ++i) {
      unsigned char* out = grid[i];
      if (!zeros.empty()) zeros.apply_row(i, out, kBackground);
      if (outside != nullptr && !outside->empty()) outside->apply_row(i, out, kOutsideStudyArea);
      counters[static_cast<std::size_t>(worker)].add(out, static_cast<std::size_t>(cols));
    }
    return std::nullopt;
  });
  // Then the rows in blocks of about 1 MiB, each block one call of the writer.
  const int block_rows =
      static_cast<int>(std::clamp<std::size_t>((std::size_t{1} << 20) / cols, 1, rows));
  std::vector<const unsigned char*> block(static_cast<std::size_t>(block_rows));
  for (int first = 0; first < rows; first += block_rows) {
    const int count = std::min(block_rows, rows - first);
    for (int i = first; i < first + count; ++i)
      block[static_cast<std::size_t>(i - first)] = grid[i];
    errno = 0;
    e = w->write_rows(block.data(), count);
    if (e != rasterio::FileError::None) return file_failure(e, errno, files.image);
  }
  errno = 0;
  e = w->finish();
  if (e != rasterio::FileError::None) return file_failure(e, errno, files.image);
  // The descriptor goes in place with its image: a run stopped before leaves both as they were.
  errno = 0;
  if (descriptor.is_open() && !descriptor.commit()) {
    return Failure::of(Failure::Kind::CannotWrite, files.descriptor, errno);
  }
  ValueCounts counts{};
  for (ValueCounter& c : counters) {
    for (int b = 0; b < 256; ++b) counts[static_cast<std::size_t>(b)] += c.count(b);
  }
  return counts;
}

Outcome<std::optional<CarriedPrj>> carry_prj(const std::vector<InputGrid>& grids,
                                             const std::string& target) {
  for (const InputGrid& g : grids) {
    const rasterio::FileFormat* f = rasterio::format_of(g.format);
    if (f == nullptr || !f->georeferenced) continue;
    const std::string prj = g.name + ".prj";
    if (!nrutil::is_regular_file(nrutil::host_path(prj))) continue;
    std::string bytes;
    errno = 0;
    switch (nrutil::read_file(nrutil::host_path(prj), kMaxPrjBytes, bytes)) {
      case nrutil::ReadFile::Done:
        break;
      case nrutil::ReadFile::Failed:
        return Failure::unreadable(prj, rasterio::FileError::ReadError, errno);
      case nrutil::ReadFile::NotRegular:
        return Failure::unreadable(prj, rasterio::FileError::CannotOpen);
      case nrutil::ReadFile::TooLarge:
        return Failure::unreadable(prj, rasterio::FileError::TooLarge);
    }
    nrutil::AtomicFile out;
    errno = 0;
    if (!out.open(nrutil::host_path(target))) {
      return Failure::of(Failure::Kind::CannotCreate, target, errno);
    }
    if (!out.write(bytes) || !out.commit()) {
      return Failure::of(Failure::Kind::CannotWrite, target, errno);
    }
    return std::optional<CarriedPrj>(CarriedPrj{target, prj});
  }
  return std::optional<CarriedPrj>();
}

}  // namespace core
