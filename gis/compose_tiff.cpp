// The composite's GeoTIFF and its QGIS style.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <future>
#include <utility>

#include "cpl_string.h"
#include "gdal_priv.h"
#include "gis/compose_output.h"
#include "gis/page_text.h"

namespace gis {

namespace {}  // namespace

std::string Composite::exact(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string Composite::level_label(int k) const {
  return "level " + std::to_string(k) + ": " + legend_number(levels.lower[k]) + " \u2013 " +
         legend_number(levels.upper[k]);
}

TiffWriter::TiffWriter(const std::string& staged, const std::string& final_name, const Composite& c)
    : final_(final_name), cols_(c.grid->cols), rows_(c.grid->rows) {
  GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (drv == nullptr) throw DataError(final_ + ": GDAL has no GTiff driver");
  CPLStringList opts;
  opts.SetNameValue("COMPRESS", "DEFLATE");
  // Level 1: compressing at the default level 6 was the largest part of a run (2.3 of 7.8 s
  // of processor time on three 8192 x 8192 layers), for a file 12 % smaller.
  opts.SetNameValue("ZLEVEL", "1");
  // The tiles are compressed by a thread of their own (write_tiles); GDAL's own threads
  // only where GDAL_NUM_THREADS asks for them (measured: a sixth more processor time for a
  // run no shorter).
  if (const char* threads = CPLGetConfigOption("GDAL_NUM_THREADS", nullptr)) {
    opts.SetNameValue("NUM_THREADS", threads);
  }
  opts.SetNameValue("TILED", "YES");
  opts.SetNameValue("BLOCKXSIZE", std::to_string(tile_).c_str());
  opts.SetNameValue("BLOCKYSIZE", std::to_string(tile_).c_str());
  opts.SetNameValue("BIGTIFF", "IF_SAFER");
  opts.SetNameValue("INTERLEAVE", "BAND");
  CPLErrorReset();
  ds_.reset(drv->Create(staged.c_str(), c.grid->cols, c.grid->rows, 2, GDT_Byte, opts.List()));
  if (!ds_) write_failed(final_);
  std::array<double, 6> gt = c.grid->gt;
  check_set(ds_->SetGeoTransform(gt.data()), final_, "georeferencing");
  if (c.grid->srs) {
    OGRSpatialReference srs(*c.grid->srs);
    // A CRS read without its code (from a .prj, say) gets it back where GDAL recognises it,
    // so that the GeoTIFF carries the EPSG code.
    if (srs.GetAuthorityCode(nullptr) == nullptr) srs.AutoIdentifyEPSG();
    check_set(ds_->SetSpatialRef(&srs), final_, "coordinate reference system");
  }
  for (int b = 1; b <= 2; ++b) {
    check_set(ds_->GetRasterBand(b)->SetNoDataValue(0), final_, "no-data value");
  }
  const std::size_t tiles = static_cast<std::size_t>((cols_ + tile_ - 1) / tile_);
  for (auto& t : tiles_) t.resize(2 * tiles * tile_ * tile_);
}

TiffWriter::~TiffWriter() {
  if (pending_.valid()) pending_.wait();
}

void TiffWriter::write(int rows, const unsigned char* level, const unsigned char* state) {
  const auto width = static_cast<std::size_t>(cols_);
  for (int r = 0; r < rows;) {
    const int left = rows_ - tile_row_;  // rows of the grid not yet written
    if (gathered_ == 0 && rows - r >= std::min(tile_, left)) {
      // A whole row of tiles in the caller's rows: its tiles straight from them.
      const int take = std::min(tile_, left);
      const std::size_t at = static_cast<std::size_t>(r) * cols_;
      write_tiles({level + at, state + at}, static_cast<std::size_t>(cols_), take);
      r += take;
      continue;
    }
    const int take = std::min(rows - r, tile_ - gathered_);
    for (auto& b : rows_of_tiles_) b.resize(width * tile_);
    for (int i = 0; i < take; ++i) {
      const std::size_t from = static_cast<std::size_t>(r + i) * cols_;
      const std::size_t to = static_cast<std::size_t>(gathered_ + i) * width;
      std::memcpy(rows_of_tiles_[0].data() + to, level + from, static_cast<std::size_t>(cols_));
      std::memcpy(rows_of_tiles_[1].data() + to, state + from, static_cast<std::size_t>(cols_));
    }
    r += take;
    gathered_ += take;
    if (gathered_ == tile_ || tile_row_ + gathered_ == rows_) {
      write_tiles({rows_of_tiles_[0].data(), rows_of_tiles_[1].data()}, width, gathered_);
      gathered_ = 0;
    }
  }
}

void TiffWriter::write_tiles(std::array<const unsigned char*, 2> bands, std::size_t stride,
                             int rows) {
  // The tiles, band after band, into the buffer the thread is not compressing; the cells
  // beyond the grid's last column or row are 0, as GDAL pads.
  const int tiles = (cols_ + tile_ - 1) / tile_;
  const auto tile_cells = static_cast<std::size_t>(tile_) * tile_;
  unsigned char* out = tiles_[current_].data();
  for (int b = 0; b < 2; ++b) {
    for (int t = 0; t < tiles; ++t, out += tile_cells) {
      const int width = std::min(tile_, cols_ - t * tile_);
      for (int i = 0; i < tile_; ++i) {
        unsigned char* to = out + static_cast<std::size_t>(i) * tile_;
        const int copied = i < rows ? width : 0;
        if (copied > 0) {
          std::memcpy(to, bands[b] + i * stride + static_cast<std::size_t>(t) * tile_,
                      static_cast<std::size_t>(copied));
        }
        std::memset(to + copied, 0, static_cast<std::size_t>(tile_ - copied));
      }
    }
  }
  // The thread compresses and writes them while the caller makes the next rows.
  if (pending_.valid()) pending_.get();  // a DataError of the writing comes out here
  const unsigned char* ready = tiles_[current_].data();
  const int tile_row = tile_row_ / tile_;
  pending_ = std::async(std::launch::async, [this, ready, tiles, tile_cells, tile_row] {
    for (int b = 0; b < 2; ++b) {
      GDALRasterBand* band = ds_->GetRasterBand(b + 1);
      for (int t = 0; t < tiles; ++t) {
        const unsigned char* tile = ready + (static_cast<std::size_t>(b) * tiles + t) * tile_cells;
        if (band->WriteBlock(t, tile_row, const_cast<unsigned char*>(tile)) != CE_None) {
          write_failed(final_);
        }
      }
    }
  });
  current_ = 1 - current_;
  tile_row_ += rows;
}

void TiffWriter::finish(const Composite& c) {
  if (pending_.valid()) pending_.get();
  GDALRasterBand* level = ds_->GetRasterBand(1);
  const int n = c.levels.count;
  // Entries 0..N only: a GIS that builds its legend from the table lists the levels alone.
  GDALColorTable table;
  const GDALColorEntry none{0, 0, 0, 0};
  table.SetColorEntry(0, &none);
  for (int k = 1; k <= n; ++k) {
    const Rgba& rgb = c.colours[static_cast<std::size_t>(k)];
    const GDALColorEntry e{rgb.r, rgb.g, rgb.b, 255};
    table.SetColorEntry(k, &e);
  }
  check_set(level->SetColorTable(&table), final_, "colour table");
  check_set(level->SetColorInterpretation(GCI_PaletteIndex), final_, "colour interpretation");
  CPLStringList names;
  names.AddString("no level (outside the study area or no data)");
  for (int k = 1; k <= n; ++k) names.AddString(c.level_label(k).c_str());
  check_set(level->SetCategoryNames(names.List()), final_, "category names");
  set_description(*level, "diversity level", final_);
  // The statistics of the level cells, as GDAL computes them with the no-data value 0.
  int lo = 0, hi = 0;
  double sum = 0.0;
  for (int k = 1; k <= n; ++k) {
    const auto cells = static_cast<double>(c.level_cells[static_cast<std::size_t>(k)]);
    if (cells == 0) continue;
    if (lo == 0) lo = k;
    hi = k;
    sum += k * cells;
  }
  if (c.with_level > 0) {
    const double mean = sum / static_cast<double>(c.with_level);
    double var = 0.0;
    for (int k = lo; k <= hi; ++k) {
      var +=
          (k - mean) * (k - mean) * static_cast<double>(c.level_cells[static_cast<std::size_t>(k)]);
    }
    check_set(
        level->SetStatistics(lo, hi, mean, std::sqrt(var / static_cast<double>(c.with_level))),
        final_, "statistics");
    const double percent =
        100.0 * static_cast<double>(c.with_level) / static_cast<double>(c.grid->cells());
    check_set(level->SetMetadataItem("STATISTICS_VALID_PERCENT", Composite::exact(percent).c_str()),
              final_, "statistics");
  }
  GDALRasterBand* state = ds_->GetRasterBand(2);
  set_description(*state, "cell state", final_);
  CPLStringList state_names;
  for (const char* s :
       {"", "level", "outside the study area", "no data", "sum below the first level"}) {
    state_names.AddString(s);
  }
  check_set(state->SetCategoryNames(state_names.List()), final_, "category names");
  const std::string software = std::string("tessera_gis compose, ") + kToolVersion;
  const std::string count = std::to_string(n);
  const std::pair<const char*, const char*> items[] = {
      {"TIFFTAG_IMAGEDESCRIPTION", c.title.c_str()},
      {"TIFFTAG_SOFTWARE", software.c_str()},
      {"TESSERA_CLASSES", core::class_method_name(c.options->classes)},
      {"TESSERA_LEVELS", count.c_str()}};
  for (const auto& [key, value] : items) {
    check_set(ds_->SetMetadataItem(key, value), final_, "metadata");
  }
  CPLErrorReset();
  close_output(ds_, final_);
}

std::string qml_text(const Composite& c) {
  std::string s =
      "<!DOCTYPE qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'>\n"
      "<qgis version=\"3.22.0\" styleCategories=\"AllStyleCategories\">\n"
      "  <pipe>\n"
      "    <rasterrenderer type=\"paletted\" band=\"1\" opacity=\"1\" alphaBand=\"-1\" "
      "nodataColor=\"\">\n"
      "      <rasterTransparency/>\n"
      "      <minMaxOrigin>\n"
      "        <limits>None</limits>\n"
      "        <extent>WholeRaster</extent>\n"
      "        <statAccuracy>Estimated</statAccuracy>\n"
      "        <cumulativeCutLower>0.02</cumulativeCutLower>\n"
      "        <cumulativeCutUpper>0.98</cumulativeCutUpper>\n"
      "        <stdDevFactor>2</stdDevFactor>\n"
      "      </minMaxOrigin>\n"
      "      <colorPalette>\n";
  for (int k = 1; k <= c.levels.count; ++k) {
    s += "        <paletteEntry value=\"" + std::to_string(k) + "\" color=\"" +
         hex(c.colours[static_cast<std::size_t>(k)]) + "\" alpha=\"255\" label=\"" +
         escape_markup(c.level_label(k)) + "\"/>\n";
  }
  s += "      </colorPalette>\n"
       "    </rasterrenderer>\n"
       "    <brightnesscontrast brightness=\"0\" contrast=\"0\" gamma=\"1\"/>\n"
       "    <huesaturation saturation=\"0\" grayscaleMode=\"0\" colorizeOn=\"0\"/>\n"
       "    <rasterresampler maxOversampling=\"2\"/>\n"
       "    <resamplingStage>resamplingFilter</resamplingStage>\n"
       "  </pipe>\n"
       "  <blendMode>0</blendMode>\n"
       "</qgis>\n";
  return s;
}

}  // namespace gis
