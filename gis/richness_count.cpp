// Sliding-window and mesh counts of distinct classes.
#include "gis/richness_count.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace gis {

namespace {

// Reads rows of classes, with the cells outside the study area made "no class".
class RowFeed {
 public:
  RowFeed(ClassRows& source, const CountArea& area) : source_(source), area_(area) {}

  // Reads the next row into `out`; returns the number of cells with a class.
  std::int64_t read(std::uint32_t* out) {
    source_.next_row(out);
    const int cols = area_.cols;
    if (area_.inside != nullptr) {
      const unsigned char* in = area_.inside + static_cast<std::size_t>(row_) * cols;
      for (int x = 0; x < cols; ++x) out[x] = in[x] != 0 ? out[x] : 0;
    }
    ++row_;
    std::int64_t data = 0;
    for (int x = 0; x < cols; ++x) data += out[x] != 0;
    return data;
  }

  std::uint32_t class_limit() const { return source_.class_limit(); }

 private:
  ClassRows& source_;
  const CountArea& area_;
  int row_ = 0;
};

unsigned char capped(std::uint32_t count, std::int64_t cells, CountTally& t) {
  if (count > static_cast<std::uint32_t>(kMaxCount)) {
    t.capped_cells += cells;
    return kMaxCount;
  }
  return static_cast<unsigned char>(count);
}

// Calls `done` about a hundred times over the rows.
void tell(const std::function<void(double)>& done, int row, int rows) {
  if (done && (row + 1 == rows || (row % std::max(1, rows / 100)) == 0)) {
    done(static_cast<double>(row + 1) / rows);
  }
}

}  // namespace

CountTally count_window(ClassRows& source, const CountArea& area, RichnessTiff& out,
                        const std::function<void(double)>& done) {
  const int r = area.range;
  const int side = 2 * r + 1;
  const int cols = area.cols;
  const int rows = area.rows;
  RowFeed feed(source, area);
  CountTally t;
  // The rows of the window around the current row: row y is kept at ring[y % side].
  std::vector<std::uint32_t> ring(static_cast<std::size_t>(side) * cols);
  std::vector<const std::uint32_t*> band(static_cast<std::size_t>(side));
  // Cells of each class in the window. counts[0], for "no class", starts at 1 and so never
  // falls to 0: no class is never counted.
  std::vector<std::uint32_t> counts(1, 1);
  int loaded = 0;

  for (int y = 0; y < rows; ++y) {
    unsigned char* o = out.next_row();
    if (y < r || y >= rows - r) {
      std::memset(o, kNoCount, static_cast<std::size_t>(cols));
      tell(done, y, rows);
      continue;
    }
    for (; loaded <= y + r; ++loaded) {
      t.data_cells += feed.read(ring.data() + static_cast<std::size_t>(loaded % side) * cols);
    }
    if (counts.size() < feed.class_limit()) counts.resize(feed.class_limit(), 0);
    for (int k = 0; k < side; ++k) {
      band[k] = ring.data() + static_cast<std::size_t>((y - r + k) % side) * cols;
    }
    std::fill(o, o + r, kNoCount);
    std::fill(o + cols - r, o + cols, kNoCount);

    std::uint32_t* c = counts.data();
    std::uint32_t distinct = 0;
    for (int k = 0; k < side; ++k) {
      const std::uint32_t* row = band[k];
      for (int x = 0; x < side; ++x) distinct += c[row[x]]++ == 0;
    }
    const std::uint32_t* centre = band[r];
    for (int x = r;; ++x) {
      if (centre[x] != 0) {
        o[x] = capped(distinct, 1, t);
        ++t.counted_cells;
      } else {
        o[x] = kNoCount;
      }
      if (x == cols - r - 1) break;
      // Slide right: the column x - r leaves the window, the column x + r + 1 enters it.
      for (int k = 0; k < side; ++k) {
        const std::uint32_t* row = band[k];
        distinct -= --c[row[x - r]] == 0;
        distinct += c[row[x + r + 1]]++ == 0;
      }
    }
    // Empty the window: every counter is back to 0 (and 1 for no class).
    for (int k = 0; k < side; ++k) {
      const std::uint32_t* row = band[k];
      for (int x = cols - side; x < cols; ++x) --c[row[x]];
    }
    tell(done, y, rows);
  }
  return t;
}

CountTally count_mesh(ClassRows& source, const CountArea& area, RichnessTiff& out,
                      const std::function<void(double)>& done) {
  const int side = 2 * area.range + 1;
  const int cols = area.cols;
  const int rows = area.rows;
  const int mesh_cols = cols / side;
  const int mesh_rows = rows / side;
  const int whole = mesh_cols * side;  // columns of whole mesh cells
  RowFeed feed(source, area);
  CountTally t;
  std::vector<std::uint32_t> block(static_cast<std::size_t>(side) * cols);
  std::vector<unsigned char> values(static_cast<std::size_t>(mesh_cols));
  // The mesh cell in which each class was last seen, as a number that grows mesh cell by mesh
  // cell; a class is new to a mesh cell when its stamp differs from the cell's number.
  std::vector<std::uint32_t> stamps;
  std::uint32_t stamp = 0;

  for (int m = 0; m < mesh_rows; ++m) {
    for (int k = 0; k < side; ++k) {
      std::uint32_t* row = block.data() + static_cast<std::size_t>(k) * cols;
      feed.read(row);
      for (int x = 0; x < whole; ++x) t.data_cells += row[x] != 0;
    }
    if (stamps.size() < feed.class_limit()) stamps.resize(feed.class_limit(), 0);
    for (int j = 0; j < mesh_cols; ++j) {
      if (++stamp == 0) {  // wrapped around: forget every stamp
        std::fill(stamps.begin(), stamps.end(), 0);
        stamp = 1;
      }
      std::uint32_t distinct = 0;
      bool any = false;
      for (int k = 0; k < side; ++k) {
        const std::uint32_t* row = block.data() + static_cast<std::size_t>(k) * cols + j * side;
        for (int x = 0; x < side; ++x) {
          const std::uint32_t c = row[x];
          if (c == 0) continue;
          any = true;
          if (stamps[c] != stamp) {
            stamps[c] = stamp;
            ++distinct;
          }
        }
      }
      const std::int64_t cells = std::int64_t{side} * side;
      values[j] = any ? capped(distinct, cells, t) : kNoCount;
      if (any) t.counted_cells += cells;
    }
    for (int k = 0; k < side; ++k) {
      unsigned char* o = out.next_row();
      for (int j = 0; j < mesh_cols; ++j) std::memset(o + j * side, values[j], side);
      std::memset(o + whole, kNoCount, static_cast<std::size_t>(cols - whole));
      tell(done, m * side + k, rows);
    }
  }
  for (int y = mesh_rows * side; y < rows; ++y) {
    std::memset(out.next_row(), kNoCount, static_cast<std::size_t>(cols));
    tell(done, y, rows);
  }
  return t;
}

}  // namespace gis
