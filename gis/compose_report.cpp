// The composite's report page: one self-contained HTML file in the run's language (map with
// its boundary, mesh, scale bar and north arrow; legend; level chart; parameters and sources),
// printable on one A4 page.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>

#include "cpl_vsi.h"
#include "gdal_alg.h"
#include "gis/compose_output.h"
#include "ogrsf_frmts.h"

namespace gis {

namespace {

// Every text of the page, in English, French and Spanish, side by side.
struct Text {
  const char* key;
  const char* en;
  const char* fr;
  const char* es;
};

constexpr Text kTexts[] = {
    {"title", "Composite diversity index: %s", "Indice de diversit\u00e9 composite : %s",
     "\u00cdndice de diversidad compuesto: %s"},
    {"legend", "Legend", "L\u00e9gende", "Leyenda"},
    {"level", "Level", "Niveau", "Nivel"},
    {"bounds", "Sums from \u2013 to", "Sommes de \u2013 \u00e0", "Sumas de \u2013 a"},
    {"cells", "Cells", "Cellules", "Celdas"},
    {"share", "Share", "Part", "Proporci\u00f3n"},
    {"area", "Area", "Surface", "Superficie"},
    {"outside", "Outside the study area", "Hors de la zone d\u2019\u00e9tude",
     "Fuera del \u00e1rea de estudio"},
    {"nodata", "No data in some layer", "Sans donn\u00e9es dans une couche",
     "Sin datos en alguna capa"},
    {"below", "Sum below the first level", "Somme sous le premier niveau",
     "Suma bajo el primer nivel"},
    {"chart", "Cells per level", "Cellules par niveau", "Celdas por nivel"},
    {"parameters", "Parameters", "Param\u00e8tres", "Par\u00e1metros"},
    {"layers", "Layers (weight)", "Couches (poids)", "Capas (peso)"},
    {"boundary", "Boundary", "Limite", "L\u00edmite"},
    {"none", "none", "aucune", "ninguno"},
    {"classes", "Levels", "Niveaux", "Niveles"},
    {"equal", "%d equal levels from 0 to the largest sum",
     "%d niveaux \u00e9gaux de 0 \u00e0 la plus grande somme",
     "%d niveles iguales de 0 a la suma mayor"},
    {"minmax", "%d equal levels from the smallest to the largest sum",
     "%d niveaux \u00e9gaux de la plus petite \u00e0 la plus grande somme",
     "%d niveles iguales de la suma menor a la mayor"},
    {"quantile", "%d quantile levels (about equal cell counts)",
     "%d niveaux par quantiles (effectifs \u00e0 peu pr\u00e8s \u00e9gaux)",
     "%d niveles por cuantiles (efectivos casi iguales)"},
    {"processing", "Processing type", "Type de traitement", "Tipo de procesamiento"},
    {"mesh", "square cell mesh of range %d (cells of %d \u00d7 %d)",
     "maille carr\u00e9e de rayon %d (mailles de %d \u00d7 %d)",
     "malla cuadrada de rango %d (celdas de %d \u00d7 %d)"},
    {"window", "moving window of range %d", "fen\u00eatre mobile de rayon %d",
     "ventana m\u00f3vil de rango %d"},
    {"not_given", "not given", "non indiqu\u00e9", "no indicado"},
    {"crs", "Coordinate reference system", "Syst\u00e8me de coordonn\u00e9es",
     "Sistema de referencia"},
    {"no_crs", "none", "aucun", "ninguno"},
    {"grid", "Grid", "Grille", "Cuadr\u00edcula"},
    {"grid_text", "%d \u00d7 %d cells of %s", "%d \u00d7 %d cellules de %s",
     "%d \u00d7 %d celdas de %s"},
    {"with_level", "Cells with a level", "Cellules avec un niveau", "Celdas con nivel"},
    {"sources", "Data sources", "Sources des donn\u00e9es", "Fuentes de datos"},
    {"date", "Date", "Date", "Fecha"},
    {"version", "Made with", "R\u00e9alis\u00e9 avec", "Hecho con"},
    {"mesh_lines", "Thin lines: the mesh cells.", "Traits fins : les mailles.",
     "L\u00edneas finas: las celdas de la malla."},
    {"mesh_fine", "The mesh is too fine to draw at this scale.",
     "La maille est trop fine pour \u00eatre dessin\u00e9e \u00e0 cette \u00e9chelle.",
     "La malla es demasiado fina para dibujarla a esta escala."},
    {"outline", "Black line: the boundary of the study area.",
     "Trait noir : la limite de la zone d\u2019\u00e9tude.",
     "L\u00ednea negra: el l\u00edmite del \u00e1rea de estudio."},
    {"north", "N", "N", "N"},
};

class Texts {
 public:
  explicit Texts(const std::string& lang) : lang_(lang == "fr" ? 1 : lang == "es" ? 2 : 0) {}
  std::string operator()(const char* key) const {
    for (const Text& t : kTexts) {
      if (std::string(t.key) == key) return lang_ == 1 ? t.fr : lang_ == 2 ? t.es : t.en;
    }
    return key;
  }

 private:
  int lang_;
};

// The pattern with its %d and %s filled in order by `args`.
std::string fill(std::string pattern, std::initializer_list<std::string> args) {
  std::size_t at = 0;
  for (const std::string& a : args) {
    at = pattern.find('%', at);
    if (at == std::string::npos) break;
    pattern.replace(at, 2, a);
    at += a.size();
  }
  return pattern;
}

std::string fmt(const std::string& pattern, int a, int b = 0, int c = 0) {
  return fill(pattern, {std::to_string(a), std::to_string(b), std::to_string(c)});
}

std::string esc(const std::string& s) {
  std::string out;
  for (const char c : s) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '"') {
      out += "&quot;";
    } else {
      out += c;
    }
  }
  return out;
}

std::string base64(const std::string& bytes) {
  static const char* const kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string num(double v, const char* format = "%.6g") {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

std::string grouped(std::int64_t n) {
  const std::string d = std::to_string(n);
  std::string out;
  const std::size_t first = d.size() % 3 == 0 ? 3 : d.size() % 3;
  for (std::size_t i = 0; i < d.size(); ++i) {
    if (i >= first && (i - first) % 3 == 0) out += "\u202f";
    out += d[i];
  }
  return out;
}

constexpr Rgba kOutsideGrey{0xd9, 0xd9, 0xd9, 255};
constexpr Rgba kBelowPink{0xf4, 0xcc, 0xcc, 255};
constexpr int kMapWidth = 700;  // CSS pixels on screen

// The map as PNG bytes: a pixel a map cell, levels in their colours, outside grey, below the
// levels pink, no data transparent.
std::string map_png(const Composite& c, const ReportMap& map) {
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDriver* png = GetGDALDriverManager()->GetDriverByName("PNG");
  if (mem == nullptr || png == nullptr)
    throw DataError(c.name + "_report.html: GDAL has no PNG driver");
  GDALDatasetUniquePtr src(mem->Create("", map.cols, map.rows, 1, GDT_Byte, nullptr));
  GDALRasterBand* band = src->GetRasterBand(1);
  if (band->RasterIO(GF_Write, 0, 0, map.cols, map.rows,
                     const_cast<unsigned char*>(map.cells.data()), map.cols, map.rows, GDT_Byte, 0,
                     0, nullptr) != CE_None) {
    throw DataError(c.name + "_report.html: its map cannot be made");
  }
  GDALColorTable table;
  for (int v = 0; v < 256; ++v) {
    Rgba rgb = v >= 1 && v <= c.levels.count ? c.colours[static_cast<std::size_t>(v)]
               : v == 254                    ? kOutsideGrey
               : v == 253                    ? kBelowPink
                                             : Rgba{255, 255, 255, 0};
    const GDALColorEntry e{rgb.r, rgb.g, rgb.b, rgb.a};
    table.SetColorEntry(v, &e);
  }
  band->SetColorTable(&table);
  const std::string path = "/vsimem/tessera_compose_map.png";
  GDALDataset* out = png->CreateCopy(path.c_str(), src.get(), FALSE, nullptr, nullptr, nullptr);
  if (out == nullptr) throw DataError(c.name + "_report.html: its map cannot be made");
  GDALClose(out);
  vsi_l_offset size = 0;
  GByte* data = VSIGetMemFileBuffer(path.c_str(), &size, FALSE);
  std::string bytes(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
  VSIUnlink(path.c_str());
  VSIUnlink((path + ".aux.xml").c_str());
  return bytes;
}

void ring_path(const OGRLinearRing& ring, const Grid& g, std::string& d) {
  for (int i = 0; i < ring.getNumPoints(); ++i) {
    const double x = (ring.getX(i) - g.gt[0]) / g.gt[1];
    const double y = (ring.getY(i) - g.gt[3]) / g.gt[5];
    d += i == 0 ? 'M' : 'L';
    d += num(x, "%.2f");
    d += ' ';
    d += num(y, "%.2f");
  }
  d += "Z";
}

void geometry_path(const OGRGeometry& geom, const Grid& g, std::string& d) {
  const OGRwkbGeometryType t = wkbFlatten(geom.getGeometryType());
  if (t == wkbPolygon) {
    const auto& p = *geom.toPolygon();
    for (const OGRLinearRing* ring : p) ring_path(*ring, g, d);
  } else if (OGR_GT_IsSubClassOf(t, wkbGeometryCollection)) {
    for (const OGRGeometry* part : *geom.toGeometryCollection()) geometry_path(*part, g, d);
  }
}

// The boundary's outline in cell coordinates: its polygons, or for a raster boundary the
// outline of the cells inside at the map's resolution.
std::string outline_path(const Composite& c, const ReportMap& map,
                         const std::vector<std::unique_ptr<OGRGeometry>>& boundary) {
  const Grid& g = *c.grid;
  std::string d;
  if (!boundary.empty()) {
    for (const auto& p : boundary) geometry_path(*p, g, d);
    return d;
  }
  if (c.options->boundary.empty()) return d;
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDatasetUniquePtr src(mem->Create("", map.cols, map.rows, 1, GDT_Byte, nullptr));
  std::vector<unsigned char> inside(map.cells.size());
  for (std::size_t i = 0; i < inside.size(); ++i) inside[i] = map.cells[i] != 254;
  double gt[6] = {0.0, static_cast<double>(map.factor), 0.0, 0.0,
                  0.0, static_cast<double>(map.factor)};
  src->SetGeoTransform(gt);
  GDALRasterBand* band = src->GetRasterBand(1);
  if (band->RasterIO(GF_Write, 0, 0, map.cols, map.rows, inside.data(), map.cols, map.rows,
                     GDT_Byte, 0, 0, nullptr) != CE_None) {
    return d;
  }
  GDALDriver* vmem = GetGDALDriverManager()->GetDriverByName("Memory");
  if (vmem == nullptr) return d;
  GDALDatasetUniquePtr vds(vmem->Create("", 0, 0, 0, GDT_Unknown, nullptr));
  OGRLayer* layer = vds->CreateLayer("outline", nullptr, wkbPolygon, nullptr);
  OGRFieldDefn f("inside", OFTInteger);
  layer->CreateField(&f);
  if (GDALPolygonize(band, band, layer, 0, nullptr, nullptr, nullptr) != CE_None) return d;
  const Grid cell_grid{g.cols, g.rows, {0.0, 1.0, 0.0, 0.0, 0.0, 1.0}, true, std::nullopt};
  for (auto& feature : *layer) {
    if (const OGRGeometry* geom = feature->GetGeometryRef()) geometry_path(*geom, cell_grid, d);
  }
  return d;
}

// A round length for the scale bar, about a fifth of `extent`.
double round_length(double extent) {
  const double target = extent / 5.0;
  const double p = std::pow(10.0, std::floor(std::log10(target)));
  for (const double m : {5.0, 2.0, 1.0}) {
    if (m * p <= target) return m * p;
  }
  return p;
}

}  // namespace

std::string compose_default_title(const std::string& lang, const std::string& name) {
  return fill(Texts(lang)("title"), {name});
}

void ReportMap::setup(int grid_cols, int grid_rows) {
  factor = std::max(1, std::max((grid_cols + 1399) / 1400, (grid_rows + 1399) / 1400));
  cols = (grid_cols + factor - 1) / factor;
  rows = (grid_rows + factor - 1) / factor;
  cells.assign(static_cast<std::size_t>(cols) * rows, 255);
}

void ReportMap::add(int row, int n_rows, int grid_cols, const unsigned char* level,
                    const unsigned char* state) {
  for (int r = row; r < row + n_rows; ++r) {
    if (r % factor != 0) continue;
    const std::size_t at = static_cast<std::size_t>(r - row) * grid_cols;
    unsigned char* out = cells.data() + static_cast<std::size_t>(r / factor) * cols;
    for (int c = 0, m = 0; c < grid_cols; c += factor, ++m) {
      const unsigned char st = state[at + c];
      out[m] = st == kCellLevel     ? level[at + c]
               : st == kCellOutside ? 254
               : st == kCellBelow   ? 253
                                    : 255;
    }
  }
}

std::string compose_report(const Composite& c, const ReportMap& map,
                           const std::vector<std::unique_ptr<OGRGeometry>>& boundary) {
  const Texts t(c.options->lang);
  const Grid& g = *c.grid;
  const int n = c.levels.count;
  const double width_units = g.cols * g.cell_size();
  const bool metres = c.unit == "metre" || c.unit.empty();
  const double height_px = kMapWidth * static_cast<double>(g.rows) / g.cols;
  const std::string unit = metres ? "m" : c.unit;

  std::string h =
      "<!DOCTYPE html>\n<html lang=\"" + c.options->lang +
      "\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + esc(c.title) + "</title>\n<style>\n" +
      "body{font-family:'DejaVu Sans',Arial,sans-serif;font-size:12px;color:#222;margin:16px;"
      "max-width:1100px}\n"
      "h1{font-size:18px;margin:0 0 2px}\n.sub{color:#555;margin:0 0 8px}\n"
      "h2{font-size:13px;margin:8px 0 4px}\n"
      ".map{position:relative;width:" +
      std::to_string(kMapWidth) +
      "px;border:1px solid #777}\n"
      ".map img{display:block;width:100%;height:auto;image-rendering:pixelated;"
      "image-rendering:crisp-edges}\n"
      ".map svg.over{position:absolute;left:0;top:0;width:100%;height:100%}\n"
      ".north{position:absolute;right:8px;top:8px;width:28px;height:44px}\n"
      ".row{display:flex;gap:16px;align-items:flex-start;flex-wrap:wrap}\n"
      "table{border-collapse:collapse}\ntd,th{padding:1px 6px;text-align:left;"
      "vertical-align:top}\n"
      "th{border-bottom:1px solid #999}\ntd.n{text-align:right;white-space:nowrap}\n"
      ".sw{display:inline-block;width:14px;height:10px;border:1px solid #666}\n"
      ".note{color:#555;font-size:11px}\n"
      "@page{size:A4 portrait;margin:10mm}\n"
      "@media print{body{margin:0;font-size:9px;-webkit-print-color-adjust:exact;"
      "print-color-adjust:exact}.map{width:" +
      num(std::min(170.0, 110.0 * g.cols / std::max(1.0 * g.rows, 1.0)), "%.0f") +
      "mm}h1{font-size:14px}h2{font-size:10px;margin:4px 0 2px}.row{flex-wrap:nowrap}"
      "td,th{padding:0 4px}}\n"
      "</style>\n</head>\n<body>\n";
  h += "<h1>" + esc(c.title) + "</h1>\n<p class=\"sub\">" + esc(t("date")) + " " + esc(c.date) +
       " \u00b7 " + esc(t("version")) + " " + esc(kToolVersion) + "</p>\n";

  // The map with its overlay: boundary, mesh, north arrow; then the scale bar.
  h += "<div class=\"map\" id=\"map\">\n<img id=\"map-image\" alt=\"map\" width=\"" +
       std::to_string(map.cols) + "\" height=\"" + std::to_string(map.rows) +
       "\" src=\"data:image/png;base64," + base64(map_png(c, map)) + "\">\n";
  h += "<svg class=\"over\" viewBox=\"0 0 " + std::to_string(g.cols) + " " +
       std::to_string(g.rows) + "\" preserveAspectRatio=\"none\">\n";
  std::string notes;
  if (c.processing && c.processing->type == 0) {
    const int side = 2 * c.processing->range + 1;
    if (side * static_cast<double>(kMapWidth) / g.cols >= 3.0) {
      std::string d;
      for (int x = side; x < g.cols; x += side) {
        d += "M" + std::to_string(x) + " 0V" + std::to_string(g.rows);
      }
      for (int y = side; y < g.rows; y += side) {
        d += "M0 " + std::to_string(y) + "H" + std::to_string(g.cols);
      }
      h += "<path id=\"mesh\" d=\"" + d +
           "\" fill=\"none\" stroke=\"#333\" stroke-opacity=\"0.5\" stroke-width=\"0.5\" "
           "vector-effect=\"non-scaling-stroke\"/>\n";
      notes += t("mesh_lines") + " ";
    } else {
      notes += t("mesh_fine") + " ";
    }
  }
  const std::string outline = outline_path(c, map, boundary);
  if (!outline.empty()) {
    h += "<path id=\"boundary\" d=\"" + outline +
         "\" fill=\"none\" stroke=\"#000\" stroke-width=\"1.5\" "
         "vector-effect=\"non-scaling-stroke\"/>\n";
    notes += t("outline");
  }
  h += "</svg>\n<svg class=\"north\" id=\"north-arrow\" viewBox=\"0 0 28 44\">"
       "<polygon points=\"14,2 24,26 14,20 4,26\" fill=\"#222\"/>"
       "<text x=\"14\" y=\"41\" text-anchor=\"middle\" font-size=\"13\" font-weight=\"bold\">" +
       t("north") + "</text></svg>\n</div>\n";
  const double length = round_length(width_units);
  const double bar_px = kMapWidth * length / width_units;
  std::string label =
      metres && length >= 1000 ? num(length / 1000, "%g") + " km" : num(length, "%g") + " " + unit;
  h += "<svg id=\"scale-bar\" width=\"" + num(bar_px + 60, "%.0f") +
       "\" height=\"28\" viewBox=\"0 0 " + num(bar_px + 60, "%.0f") + " 28\">" +
       "<rect x=\"1\" y=\"4\" width=\"" + num(bar_px / 2, "%.1f") +
       "\" height=\"6\" fill=\"#222\"/><rect x=\"" + num(1 + bar_px / 2, "%.1f") +
       "\" y=\"4\" width=\"" + num(bar_px / 2, "%.1f") +
       "\" height=\"6\" fill=\"#fff\" stroke=\"#222\"/>" +
       "<text x=\"1\" y=\"24\" font-size=\"11\">0</text><text x=\"" + num(bar_px, "%.1f") +
       "\" y=\"24\" font-size=\"11\" text-anchor=\"middle\">" + esc(label) + "</text></svg>\n";
  if (!notes.empty()) h += "<p class=\"note\">" + esc(notes) + "</p>\n";
  (void)height_px;

  // Legend and chart.
  const bool km = metres;
  const std::string area_unit = km ? "km\u00b2" : unit + "\u00b2";
  const double area_scale = km ? 1e-6 : 1.0;
  const auto area = [&](std::int64_t cells) {
    return num(static_cast<double>(cells) * c.cell_area() * area_scale);
  };
  h += "<div class=\"row\">\n<div>\n<h2>" + esc(t("legend")) + "</h2>\n<table id=\"legend\">\n";
  h += "<tr><th></th><th>" + esc(t("level")) + "</th><th>" + esc(t("bounds")) + "</th><th>" +
       esc(t("cells")) + "</th><th>" + esc(t("share")) + "</th><th>" + esc(t("area")) + " (" +
       area_unit + ")</th></tr>\n";
  for (int k = 1; k <= n; ++k) {
    const std::int64_t cells = c.level_cells[static_cast<std::size_t>(k)];
    const double share =
        c.with_level > 0 ? 100.0 * static_cast<double>(cells) / static_cast<double>(c.with_level)
                         : 0.0;
    h += "<tr class=\"level\"><td><span class=\"sw\" style=\"background:" +
         hex(c.colours[static_cast<std::size_t>(k)]) + "\"></span></td><td class=\"n\">" +
         std::to_string(k) + "</td><td>" + Composite::exact(c.levels.lower[k]) + " \u2013 " +
         Composite::exact(c.levels.upper[k]) + "</td><td class=\"n\">" + grouped(cells) +
         "</td><td class=\"n\">" + num(share, "%.1f") + "\u00a0%</td><td class=\"n\">" +
         area(cells) + "</td></tr>\n";
  }
  const auto extra_row = [&](const char* key, Rgba colour, std::int64_t cells, bool always) {
    if (cells == 0 && !always) return;
    h += "<tr><td><span class=\"sw\" style=\"background:" +
         (colour.a == 0 ? std::string("transparent") : hex(colour)) +
         "\"></span></td><td></td><td>" + esc(t(key)) + "</td><td class=\"n\">" + grouped(cells) +
         "</td><td></td><td class=\"n\">" + area(cells) + "</td></tr>\n";
  };
  extra_row("outside", kOutsideGrey, c.outside, !c.options->boundary.empty());
  extra_row("nodata", Rgba{255, 255, 255, 0}, c.no_data, true);
  extra_row("below", kBelowPink, c.below, false);
  h += "</table>\n</div>\n<div>\n<h2>" + esc(t("chart")) + "</h2>\n";
  std::int64_t top = 1;
  for (int k = 1; k <= n; ++k) top = std::max(top, c.level_cells[static_cast<std::size_t>(k)]);
  const double bw = std::max(2.0, std::min(24.0, 300.0 / n));
  const double cw = bw * n + 40;
  h += "<svg id=\"chart\" width=\"" + num(cw, "%.0f") + "\" height=\"150\" viewBox=\"0 0 " +
       num(cw, "%.0f") + " 150\">\n";
  for (int k = 1; k <= n; ++k) {
    const double v = static_cast<double>(c.level_cells[static_cast<std::size_t>(k)]) / top * 120;
    h += "<rect x=\"" + num(30 + (k - 1) * bw, "%.1f") + "\" y=\"" + num(130 - v, "%.1f") +
         "\" width=\"" + num(bw * 0.85, "%.1f") + "\" height=\"" + num(v, "%.1f") + "\" fill=\"" +
         hex(c.colours[static_cast<std::size_t>(k)]) + "\"><title>" + esc(t("level")) + " " +
         std::to_string(k) + ": " + grouped(c.level_cells[static_cast<std::size_t>(k)]) +
         "</title></rect>\n";
    if (n <= 20 || k == 1 || k == n || k % 10 == 0) {
      h += "<text x=\"" + num(30 + (k - 0.6) * bw, "%.1f") +
           "\" y=\"144\" font-size=\"9\" text-anchor=\"middle\">" + std::to_string(k) + "</text>\n";
    }
  }
  h += "<line x1=\"28\" y1=\"130\" x2=\"" + num(cw - 6, "%.0f") +
       "\" y2=\"130\" stroke=\"#444\"/>\n<text x=\"26\" y=\"14\" font-size=\"9\" "
       "text-anchor=\"end\">" +
       grouped(top) + "</text>\n</svg>\n</div>\n</div>\n";

  // Parameters and sources.
  const ComposeOptions& o = *c.options;
  std::string layers;
  for (const ComposeLayer& l : *c.layers) {
    layers +=
        (layers.empty() ? "" : "<br>") + esc(l.arg.path) + " (" + num(l.arg.weight, "%g") + ")";
  }
  std::string processing = t("not_given");
  if (c.processing) {
    const int r = c.processing->range;
    processing =
        c.processing->type == 0 ? fmt(t("mesh"), r, 2 * r + 1, 2 * r + 1) : fmt(t("window"), r);
  }
  const std::string crs =
      c.crs_name.empty() ? t("no_crs")
                         : c.crs_name + (c.epsg ? " (EPSG:" + std::to_string(*c.epsg) + ")" : "");
  h += "<h2>" + esc(t("parameters")) + "</h2>\n<table id=\"parameters\">\n";
  const auto param = [&](const char* key, const std::string& html) {
    h += "<tr><th>" + esc(t(key)) + "</th><td>" + html + "</td></tr>\n";
  };
  param("classes", esc(fmt(t(core::class_method_name(o.classes)), n)));
  param("processing", esc(processing));
  param("grid", esc(fill(t("grid_text"), {std::to_string(g.cols), std::to_string(g.rows),
                                          num(g.cell_size(), "%g") + " " + unit})));
  param("crs", esc(crs));
  param("with_level", grouped(c.with_level));
  h += "</table>\n<h2>" + esc(t("sources")) + "</h2>\n<table id=\"sources\">\n";
  param("layers", layers);
  param("boundary", o.boundary.empty() ? esc(t("none")) : esc(o.boundary));
  h += "</table>\n</body>\n</html>\n";
  return h;
}

}  // namespace gis
