// The composite's GeoTIFF and its QGIS style.
#include <charconv>
#include <cmath>

#include "cpl_string.h"
#include "gdal_priv.h"
#include "gis/compose_output.h"

namespace gis {

namespace {

[[noreturn]] void write_failed(const std::string& name) {
  std::string why = CPLGetLastErrorMsg();
  if (why.empty()) why = "write error";
  throw DataError(name + ": cannot be written (" + why + ")");
}

std::string xml_escape(const std::string& s) {
  std::string out;
  for (const char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

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
    : final_(final_name), cols_(c.grid->cols) {
  GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (drv == nullptr) throw DataError(final_ + ": GDAL has no GTiff driver");
  CPLStringList opts;
  opts.SetNameValue("COMPRESS", "DEFLATE");
  opts.SetNameValue("TILED", "YES");
  opts.SetNameValue("BIGTIFF", "IF_SAFER");
  opts.SetNameValue("INTERLEAVE", "BAND");
  CPLErrorReset();
  ds_ = drv->Create(staged.c_str(), c.grid->cols, c.grid->rows, 2, GDT_Byte, opts.List());
  if (ds_ == nullptr) write_failed(final_);
  std::array<double, 6> gt = c.grid->gt;
  ds_->SetGeoTransform(gt.data());
  if (c.grid->srs) {
    OGRSpatialReference srs(*c.grid->srs);
    // A CRS read without its code (from a .prj, say) gets it back where GDAL recognises it,
    // so that the GeoTIFF carries the EPSG code.
    if (srs.GetAuthorityCode(nullptr) == nullptr) srs.AutoIdentifyEPSG();
    ds_->SetSpatialRef(&srs);
  }
  for (int b = 1; b <= 2; ++b) ds_->GetRasterBand(b)->SetNoDataValue(0);
}

TiffWriter::~TiffWriter() {
  if (ds_ != nullptr) GDALClose(ds_);
}

void TiffWriter::write(int row, int rows, const unsigned char* level, const unsigned char* state) {
  const unsigned char* bands[] = {level, state};
  for (int b = 0; b < 2; ++b) {
    if (ds_->GetRasterBand(b + 1)->RasterIO(GF_Write, 0, row, cols_, rows,
                                            const_cast<unsigned char*>(bands[b]), cols_, rows,
                                            GDT_Byte, 0, 0, nullptr) != CE_None) {
      write_failed(final_);
    }
  }
}

void TiffWriter::finish(const Composite& c) {
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
  level->SetColorTable(&table);
  level->SetColorInterpretation(GCI_PaletteIndex);
  CPLStringList names;
  names.AddString("no level (outside the study area or no data)");
  for (int k = 1; k <= n; ++k) names.AddString(c.level_label(k).c_str());
  level->SetCategoryNames(names.List());
  level->SetDescription("diversity level");
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
    level->SetStatistics(lo, hi, mean, std::sqrt(var / static_cast<double>(c.with_level)));
    const double percent =
        100.0 * static_cast<double>(c.with_level) / static_cast<double>(c.grid->cells());
    level->SetMetadataItem("STATISTICS_VALID_PERCENT", Composite::exact(percent).c_str());
  }
  GDALRasterBand* state = ds_->GetRasterBand(2);
  state->SetDescription("cell state");
  CPLStringList state_names;
  for (const char* s :
       {"", "level", "outside the study area", "no data", "sum below the first level"}) {
    state_names.AddString(s);
  }
  state->SetCategoryNames(state_names.List());
  ds_->SetMetadataItem("TIFFTAG_IMAGEDESCRIPTION", c.title.c_str());
  ds_->SetMetadataItem("TIFFTAG_SOFTWARE",
                       (std::string("tessera_gis compose, ") + kToolVersion).c_str());
  ds_->SetMetadataItem("TESSERA_CLASSES", core::class_method_name(c.options->classes));
  ds_->SetMetadataItem("TESSERA_LEVELS", std::to_string(n).c_str());
  CPLErrorReset();
  GDALDataset* ds = ds_;
  ds_ = nullptr;
  GDALClose(ds);
  if (CPLGetLastErrorType() >= CE_Failure) write_failed(final_);
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
         xml_escape(c.level_label(k)) + "\"/>\n";
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
