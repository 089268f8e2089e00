// Counting features one by one: rasterised on their own, dilated by the window or gathered
// by mesh cell, each counted once where it reaches.
#include "gis/richness_features.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cpl_error.h"
#include "cpl_string.h"
#include "gdal_alg.h"
#include "gdal_priv.h"
#include "gis/common.h"
#include "gis/richness_source.h"

namespace gis {

namespace {

unsigned char capped(std::uint32_t count, std::int64_t cells, CountTally& t) {
  if (count > static_cast<std::uint32_t>(kMaxCount)) {
    t.capped_cells += cells;
    return kMaxCount;
  }
  return static_cast<unsigned char>(count);
}

// A cell index from a coordinate in cells, clamped to [0, limit].
int clamp_cell(double v, int limit) {
  if (!(v > 0)) return 0;  // NaN too
  return v >= limit ? limit : static_cast<int>(v);
}

}  // namespace

FeatureCounts::FeatureCounts(const Grid& grid, Processing type, const CountArea& area)
    : gt_(grid.gt),
      type_(type),
      area_(area),
      side_(2 * area.range + 1),
      mesh_cols_(area.cols / side_),
      mesh_rows_(area.rows / side_) {
  if (type_ == Processing::MovingWindow) {
    window_.assign(static_cast<std::size_t>(area.cols) * area.rows, 0);
  } else {
    mesh_.assign(static_cast<std::size_t>(mesh_cols_) * mesh_rows_, 0);
    mesh_stamp_.assign(mesh_.size(), 0);
  }
}

std::int64_t FeatureCounts::bytes_needed(const Grid& grid, Processing type, int range) {
  const std::int64_t cells = static_cast<std::int64_t>(grid.cols) * grid.rows;
  const std::int64_t side = 2 * range + 1;
  // One feature may cover the whole grid: its cells, and in a window their dilation.
  if (type == Processing::MovingWindow) return 3 * cells + 12 * std::int64_t{grid.cols};
  return cells + 8 * (grid.cols / side) * (grid.rows / side);
}

void FeatureCounts::add(const OGRGeometry& geometry, const std::string& path) {
  OGREnvelope e;
  geometry.getEnvelope(&e);
  // The box of cells the feature can touch, with a cell to spare on each side.
  const int c0 = clamp_cell(std::floor((e.MinX - gt_[0]) / gt_[1]) - 1, area_.cols);
  const int c1 = clamp_cell(std::floor((e.MaxX - gt_[0]) / gt_[1]) + 2, area_.cols);
  const int r0 = clamp_cell(std::floor((e.MaxY - gt_[3]) / gt_[5]) - 1, area_.rows);
  const int r1 = clamp_cell(std::floor((e.MinY - gt_[3]) / gt_[5]) + 2, area_.rows);
  if (c0 >= c1 || r0 >= r1) return;
  const int w = c1 - c0;
  const int h = r1 - r0;
  touched_.assign(static_cast<std::size_t>(w) * h, 0);

  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDatasetUniquePtr box(mem != nullptr ? mem->Create("", w, h, 0, GDT_Byte, nullptr) : nullptr);
  char pointer[64];
  std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p", static_cast<void*>(touched_.data()));
  CPLStringList band_options;
  band_options.AddString(pointer);
  band_options.AddString("PIXELOFFSET=1");
  band_options.AddString(("LINEOFFSET=" + std::to_string(w)).c_str());
  std::array<double, 6> gt = gt_;
  gt[0] += c0 * gt_[1];
  gt[3] += r0 * gt_[5];
  const char* const options[] = {"ALL_TOUCHED=TRUE", nullptr};
  OGRGeometryH handle = OGRGeometry::ToHandle(const_cast<OGRGeometry*>(&geometry));
  const double burn = 1.0;
  int band = 1;
  CPLErrorReset();
  if (!box || box->AddBand(GDT_Byte, band_options.List()) != CE_None ||
      box->SetGeoTransform(gt.data()) != CE_None ||
      GDALRasterizeGeometries(GDALDataset::ToHandle(box.get()), 1, &band, 1, &handle, nullptr,
                              nullptr, &burn, options, nullptr, nullptr) != CE_None) {
    throw DataError(path + ": cannot be rasterised" + gdal_says());
  }

  bool on_grid = false;
  bool in_area = false;
  for (int i = 0; i < h; ++i) {
    unsigned char* row = touched_.data() + static_cast<std::size_t>(i) * w;
    const unsigned char* inside =
        area_.inside == nullptr ? nullptr
                                : area_.inside + static_cast<std::size_t>(r0 + i) * area_.cols + c0;
    for (int k = 0; k < w; ++k) {
      if (row[k] == 0) continue;
      on_grid = true;
      if (inside != nullptr && inside[k] == 0) {
        row[k] = 0;
      } else {
        in_area = true;
      }
    }
  }
  on_grid_ += on_grid;
  if (!in_area) return;
  ++in_area_;
  if (type_ == Processing::MovingWindow) {
    dilate_and_count(c0, r0, w, h);
  } else {
    count_mesh_cells(c0, r0, w, h);
  }
}

void FeatureCounts::dilate_and_count(int c0, int r0, int w, int h) {
  const int r = area_.range;
  const int cols = area_.cols;
  const int e0 = std::max(0, c0 - r);
  const int e1 = std::min(cols, c0 + w + r);
  const int f0 = std::max(0, r0 - r);
  const int f1 = std::min(area_.rows, r0 + h + r);
  const int wide = e1 - e0;
  // Along rows: a cell of `wide_` is 1 when a touched cell lies within r columns of it.
  wide_.assign(static_cast<std::size_t>(wide) * h, 0);
  prefix_.resize(static_cast<std::size_t>(w) + 1);
  for (int i = 0; i < h; ++i) {
    const unsigned char* row = touched_.data() + static_cast<std::size_t>(i) * w;
    prefix_[0] = 0;
    for (int k = 0; k < w; ++k) prefix_[k + 1] = prefix_[k] + row[k];
    if (prefix_[w] == 0) continue;
    unsigned char* out = wide_.data() + static_cast<std::size_t>(i) * wide;
    for (int x = e0; x < e1; ++x) {
      const int lo = std::max(c0, x - r) - c0;
      const int hi = std::min(c0 + w, x + r + 1) - c0;
      out[x - e0] = prefix_[hi] - prefix_[lo] > 0;
    }
  }
  // Along columns: the rows of `wide_` within r rows of row y, summed column by column.
  column_.assign(static_cast<std::size_t>(wide), 0);
  int lo = 0;  // rows [lo, hi) of the box are in the sums
  int hi = 0;
  for (int y = f0; y < f1; ++y) {
    for (const int want = std::min(h, y + r + 1 - r0); hi < want; ++hi) {
      const unsigned char* row = wide_.data() + static_cast<std::size_t>(hi) * wide;
      for (int x = 0; x < wide; ++x) column_[x] += row[x];
    }
    for (const int want = std::max(0, y - r - r0); lo < want; ++lo) {
      const unsigned char* row = wide_.data() + static_cast<std::size_t>(lo) * wide;
      for (int x = 0; x < wide; ++x) column_[x] -= row[x];
    }
    unsigned char* count = window_.data() + static_cast<std::size_t>(y) * cols + e0;
    for (int x = 0; x < wide; ++x) count[x] += column_[x] > 0 && count[x] != 255;
  }
}

void FeatureCounts::count_mesh_cells(int c0, int r0, int w, int h) {
  if (++serial_ == 0) {  // wrapped around: forget every stamp
    std::fill(mesh_stamp_.begin(), mesh_stamp_.end(), 0);
    serial_ = 1;
  }
  for (int i = 0; i < h; ++i) {
    const int mr = (r0 + i) / side_;
    if (mr >= mesh_rows_) break;
    const unsigned char* row = touched_.data() + static_cast<std::size_t>(i) * w;
    for (int k = 0; k < w; ++k) {
      const int mc = (c0 + k) / side_;
      if (row[k] == 0 || mc >= mesh_cols_) continue;
      const std::size_t at = static_cast<std::size_t>(mr) * mesh_cols_ + mc;
      if (mesh_stamp_[at] != serial_) {
        mesh_stamp_[at] = serial_;
        ++mesh_[at];
      }
    }
  }
}

CountTally FeatureCounts::write(RichnessTiff& out, const std::function<void(double)>& done) const {
  const int cols = area_.cols;
  const int rows = area_.rows;
  CountTally t;
  const auto inside = [&](int y, int x) {
    return area_.inside == nullptr || area_.inside[static_cast<std::size_t>(y) * cols + x] != 0;
  };
  const auto tell = [&](int y) {
    if (done && (y + 1 == rows || y % std::max(1, rows / 100) == 0)) done((y + 1.0) / rows);
  };
  if (type_ == Processing::MovingWindow) {
    const int r = area_.range;
    for (int y = 0; y < rows; ++y) {
      unsigned char* o = out.next_row();
      std::memset(o, kNoCount, static_cast<std::size_t>(cols));
      if (y >= r && y < rows - r) {
        const unsigned char* count = window_.data() + static_cast<std::size_t>(y) * cols;
        for (int x = r; x < cols - r; ++x) {
          if (!inside(y, x)) continue;
          ++t.data_cells;
          ++t.counted_cells;
          // 255 stands for more than 254 features.
          o[x] = capped(count[x] == 255 ? 255u : count[x], 1, t);
        }
      }
      tell(y);
    }
    return t;
  }
  const int whole = mesh_cols_ * side_;
  std::vector<unsigned char> values(static_cast<std::size_t>(mesh_cols_));
  const std::int64_t cells = std::int64_t{side_} * side_;
  for (int m = 0; m < mesh_rows_; ++m) {
    for (int j = 0; j < mesh_cols_; ++j) {
      std::int64_t in_area = 0;
      for (int k = 0; k < side_; ++k) {
        for (int x = j * side_; x < (j + 1) * side_; ++x) in_area += inside(m * side_ + k, x);
      }
      t.data_cells += in_area;
      const std::uint32_t n = mesh_[static_cast<std::size_t>(m) * mesh_cols_ + j];
      values[j] = in_area > 0 ? capped(n, cells, t) : kNoCount;
      if (in_area > 0) t.counted_cells += cells;
    }
    for (int k = 0; k < side_; ++k) {
      unsigned char* o = out.next_row();
      for (int j = 0; j < mesh_cols_; ++j) std::memset(o + j * side_, values[j], side_);
      std::memset(o + whole, kNoCount, static_cast<std::size_t>(cols - whole));
      tell(m * side_ + k);
    }
  }
  for (int y = mesh_rows_ * side_; y < rows; ++y) {
    std::memset(out.next_row(), kNoCount, static_cast<std::size_t>(cols));
    tell(y);
  }
  return t;
}

}  // namespace gis
