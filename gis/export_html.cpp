// The report page: the map as a base64 PNG scaled up without smoothing, the legend, an inline
// SVG bar chart, the run's parameters and the item statistics of each input; inline CSS with
// print rules.
#include "gis/export_html.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "cpl_conv.h"
#include "cpl_string.h"

namespace gis {

namespace {

// Text as UTF-8, the page's encoding: UTF-8 as it is; other bytes (a file name typed in
// Latin-1, kept exactly by the run record) read as Latin-1.
std::string as_utf8(const std::string& s) {
  if (CPLIsUTF8(s.c_str(), static_cast<int>(s.size()))) return s;
  char* text = CPLRecode(s.c_str(), CPL_ENC_ISO8859_1, CPL_ENC_UTF8);
  std::string out = text != nullptr ? text : "";
  CPLFree(text);
  return out;
}

// Text made safe for HTML content and attribute values, in UTF-8.
std::string esc(const std::string& text) {
  const std::string s = as_utf8(text);
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
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string base64(const std::string& bytes) {
  static const char* const kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
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

// A count with its thousands apart (a narrow no-break space between groups).
std::string grouped(std::int64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  const std::size_t first = digits.size() % 3 == 0 ? 3 : digits.size() % 3;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i >= first && (i - first) % 3 == 0) out += "\u202f";
    out += digits[i];
  }
  return out;
}

std::string fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string swatch(Rgba c) {
  return "<span class=\"sw\" style=\"background:" + hex(c) + "\"></span>";
}

std::string type_text(const std::string& t) {
  if (t == "square_cell_mesh") return "square cell mesh";
  if (t == "moving_window") return "moving window";
  return t;
}

constexpr const char* kStyle = R"(
:root{color-scheme:light}
body{font-family:"DejaVu Sans",system-ui,sans-serif;color:#1d1d1d;background:#fff;margin:24px;max-width:1120px;line-height:1.35}
h1{font-size:1.55em;margin:0 0 .2em}
h2{font-size:1.1em;margin:0 0 .5em;border-bottom:1px solid #bbb;padding-bottom:.15em}
.sub{color:#555;margin:0 0 1.2em}
.top{display:flex;flex-wrap:wrap;gap:28px;align-items:flex-start}
figure{margin:0}
figcaption{color:#555;font-size:.85em;margin-top:.3em}
img.map{display:block;image-rendering:pixelated;image-rendering:crisp-edges;border:1px solid #777;max-width:100%;height:auto}
section{margin-top:1.6em}
table{border-collapse:collapse;font-size:.88em}
th,td{padding:.18em .6em;border-bottom:1px solid #e2e2e2;text-align:right;vertical-align:middle}
th{background:#f3f3f3;font-weight:600}
td.l,th.l{text-align:left}
.sw{display:inline-block;width:1.5em;height:.95em;border:1px solid #666;vertical-align:middle}
.legend{flex:1 1 360px;max-width:520px}
.legend .sub{font-size:.85em}
.items{display:flex;flex-wrap:wrap;gap:20px}
.items h3{font-size:.95em;margin:.2em 0}
svg text{font-family:"DejaVu Sans",sans-serif;fill:#333}
@page{size:A4;margin:14mm}
@media print{
  body{margin:0;max-width:none;font-size:10pt}
  *{-webkit-print-color-adjust:exact;print-color-adjust:exact}
  section,figure,table,.legend{break-inside:avoid}
  img.map{max-height:150mm;width:auto}
}
)";

std::string map_figure(const RunRecord& rec, const ReportPage& page) {
  // Whole-number enlargement so that every cell is a block of equal screen pixels.
  const int fit = 640;
  const int scale = std::max(1, std::min(fit / rec.cols, fit / rec.rows));
  std::string caption =
      std::to_string(rec.rows) + " rows \u00d7 " + std::to_string(rec.cols) + " columns";
  if (rec.cell_size) caption += " of " + legend_number(*rec.cell_size) + (page.metres ? " m" : "");
  caption += page.crs_name.empty() ? "; no coordinate reference system" : "; " + esc(page.crs_name);
  return "<figure><img class=\"map\" alt=\"map of the levels\" width=\"" +
         std::to_string(rec.cols * scale) + "\" height=\"" + std::to_string(rec.rows * scale) +
         "\" data-scale=\"" + std::to_string(scale) + "\" src=\"data:image/png;base64," +
         base64(page.png) + "\"><figcaption>" + caption + "</figcaption></figure>\n";
}

std::string legend(const RunRecord& rec, const std::array<Rgba, 256>& colours,
                   const ReportPage& page) {
  std::int64_t mapped = 0;
  for (const LevelClass& c : rec.classes) mapped += c.cells;
  const bool area = page.metres && rec.cell_size.has_value();
  const double km2 = area ? *rec.cell_size * *rec.cell_size / 1e6 : 0.0;
  std::string h =
      "<div class=\"legend\"><h2>Legend</h2><table>\n<tr><th></th><th>Level</th>"
      "<th>From</th><th>To</th><th>Cells</th><th>Share</th>";
  if (area) h += "<th>Area (km\u00b2)</th>";
  h += "</tr>\n";
  for (auto it = rec.classes.rbegin(); it != rec.classes.rend(); ++it) {
    const LevelClass& c = *it;
    const double share = mapped > 0 ? 100.0 * static_cast<double>(c.cells) / mapped : 0.0;
    h += "<tr data-level=\"" + std::to_string(c.level) + "\"><td>" +
         swatch(colours[static_cast<std::size_t>(c.level)]) + "</td><td>" +
         std::to_string(c.level) + "</td><td>" + legend_number(c.from) + "</td><td>" +
         legend_number(c.to) + "</td><td>" + grouped(c.cells) + "</td><td>" + fixed(share, 1) +
         "\u00a0%</td>";
    if (area) h += "<td>" + fixed(static_cast<double>(c.cells) * km2, 3) + "</td>";
    h += "</tr>\n";
  }
  const std::pair<int, std::int64_t> others[] = {
      {0, rec.mesh_cells}, {254, rec.outside_cells}, {255, rec.background_cells}};
  const char* const names[] = {"mesh line", "outside the study area", "no data"};
  for (std::size_t n = 0; n < 3; ++n) {
    if (others[n].second == 0) continue;
    h += "<tr><td>" + swatch(colours[static_cast<std::size_t>(others[n].first)]) +
         "</td><td class=\"l\" colspan=\"3\">" + names[n] + "</td><td>" +
         grouped(others[n].second) + "</td><td></td>";
    if (area) h += "<td></td>";
    h += "</tr>\n";
  }
  h += "</table>\n<p class=\"sub\">Share: of the " + grouped(mapped) +
       " cells that hold a level. Bounds: a level holds the sums from its lower bound up to, "
       "not including, its upper bound, and the top level also holds the largest sum (rounded "
       "here; the run record holds the exact values)."
       "</p></div>\n";
  return h;
}

std::string bar_chart(const RunRecord& rec, const std::array<Rgba, 256>& colours) {
  const int n = rec.count;
  const int left = 64, top = 16, plot_h = 200, width = std::max(360, left + 16 + n * 24);
  const double bar_w = static_cast<double>(width - left - 16) / n;
  std::int64_t most = 1;
  for (const LevelClass& c : rec.classes) most = std::max(most, c.cells);
  std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
                  "\" height=\"" + std::to_string(top + plot_h + 40) +
                  "\" role=\"img\" aria-label=\"cells per level\">\n";
  const std::string base = std::to_string(top + plot_h);
  s += "<line x1=\"" + std::to_string(left) + "\" y1=\"" + base + "\" x2=\"" +
       std::to_string(width - 8) + "\" y2=\"" + base + "\" stroke=\"#444\"/>\n";
  s += "<text x=\"" + std::to_string(left - 6) + "\" y=\"" + std::to_string(top + 4) +
       "\" font-size=\"11\" text-anchor=\"end\">" + grouped(most) + "</text>\n";
  s += "<text x=\"" + std::to_string(left - 6) + "\" y=\"" + base +
       "\" font-size=\"11\" text-anchor=\"end\">0</text>\n";
  for (const LevelClass& c : rec.classes) {
    const double h = plot_h * static_cast<double>(c.cells) / static_cast<double>(most);
    const double x = left + (c.level - 1) * bar_w;
    s += "<rect x=\"" + fixed(x + bar_w * 0.1, 1) + "\" y=\"" + fixed(top + plot_h - h, 1) +
         "\" width=\"" + fixed(bar_w * 0.8, 1) + "\" height=\"" + fixed(h, 1) + "\" fill=\"" +
         hex(colours[static_cast<std::size_t>(c.level)]) +
         "\" stroke=\"#555\" stroke-width=\"0.5\"><title>level " + std::to_string(c.level) + ": " +
         grouped(c.cells) + " cells</title></rect>\n";
    if (n <= 40 || c.level % 5 == 0) {
      s += "<text x=\"" + fixed(x + bar_w / 2, 1) + "\" y=\"" + std::to_string(top + plot_h + 14) +
           "\" font-size=\"11\" text-anchor=\"middle\">" + std::to_string(c.level) + "</text>\n";
    }
  }
  s += "<text x=\"" + std::to_string(left + (width - left) / 2) + "\" y=\"" +
       std::to_string(top + plot_h + 32) +
       "\" font-size=\"11\" text-anchor=\"middle\">level</text>\n</svg>\n";
  return s;
}

std::string row(const std::string& name, const std::string& value) {
  return "<tr><th class=\"l\">" + name + "</th><td class=\"l\">" + value + "</td></tr>\n";
}

std::string parameters(const RunRecord& rec, const ReportPage& page) {
  std::string t = "<table>\n";
  t += row("Result", esc(RunRecord::base_name(rec.result_file)) + " (" + rec.result_format + ")");
  for (std::size_t n = 0; n < rec.inputs.size(); ++n) {
    const InputImage& im = rec.inputs[n];
    t += row("Input " + std::to_string(n + 1), esc(RunRecord::base_name(im.file)) + " (" +
                                                   esc(im.format) + "), weight " +
                                                   legend_number(im.weight));
  }
  t += row("Mask", rec.mask ? esc(RunRecord::base_name(*rec.mask)) : "none");
  t += row("Levels", std::to_string(rec.count) + " equal levels from 0 to the largest sum " +
                         legend_number(rec.max_sum) + ", step " + legend_number(rec.step));
  std::string proc = "detected " + type_text(rec.detected);
  proc += rec.confirmed ? ", confirmed " + type_text(*rec.confirmed) : ", not confirmed";
  if (rec.range) proc += "; window range " + std::to_string(*rec.range);
  proc += rec.mesh_drawn ? "; cell mesh drawn" : "; no mesh drawn";
  t += row("Processing", esc(proc));
  t += row("Grid",
           std::to_string(rec.rows) + " rows \u00d7 " + std::to_string(rec.cols) + " columns");
  t += row("Cell size",
           rec.cell_size ? legend_number(*rec.cell_size) + (page.metres ? " m" : "") : "unknown");
  t += row("Lower-left corner",
           rec.x_min && rec.y_min ? fixed(*rec.x_min, 3) + ", " + fixed(*rec.y_min, 3) : "unknown");
  t += row("Coordinate reference system",
           page.crs_name.empty()
               ? "none"
               : esc(page.crs_name) + " (from " + esc(RunRecord::base_name(page.crs_source)) + ")");
  t += row("Palette", esc(page.palette));
  return t + "</table>\n";
}

std::string item_tables(const RunRecord& rec) {
  const double grid = static_cast<double>(rec.rows) * rec.cols;
  std::string s = "<div class=\"items\">\n";
  for (std::size_t n = 0; n < rec.inputs.size(); ++n) {
    const InputImage& im = rec.inputs[n];
    s += "<div><h3>" + std::to_string(n + 1) + ". " + esc(RunRecord::base_name(im.file)) +
         "</h3><table><tr><th>Code</th><th>Cells</th><th>Share of the grid</th></tr>\n";
    for (const InputItem& it : im.items) {
      s += "<tr><td>" + std::to_string(it.code) + "</td><td>" + grouped(it.cells) + "</td><td>" +
           fixed(100.0 * static_cast<double>(it.cells) / grid, 2) + "\u00a0%</td></tr>\n";
    }
    s += "</table></div>\n";
  }
  return s + "</div>\n";
}

}  // namespace

std::string report_html(const RunRecord& rec, const std::array<Rgba, 256>& colours,
                        const ReportPage& page) {
  std::string h = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  h += "<meta name=\"generator\" content=\"tessera_gis export\">\n";
  h += "<title>" + esc(page.title) + "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n";
  h += "<h1>" + esc(page.title) + "</h1>\n<p class=\"sub\">Composite diversity index in " +
       std::to_string(rec.count) + " levels, from " + esc(RunRecord::base_name(rec.result_file)) +
       "</p>\n";
  h += "<div class=\"top\">\n" + map_figure(rec, page) + legend(rec, colours, page) + "</div>\n";
  h += "<section><h2>Cells per level</h2>\n" + bar_chart(rec, colours) + "</section>\n";
  h += "<section><h2>Run parameters</h2>\n" + parameters(rec, page) + "</section>\n";
  h += "<section><h2>Item statistics of the inputs</h2>\n<p class=\"sub\">Each input's codes as "
       "the run report lists them (the highest value present, usually the background, is left "
       "out).</p>\n" +
       item_tables(rec) + "</section>\n";
  return h + "</body>\n</html>\n";
}

}  // namespace gis
