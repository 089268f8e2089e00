// Palettes, category names and legend numbers of an exported map.
#include "gis/export_style.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "gis/common.h"

namespace gis {

namespace {

struct Palette {
  const char* name;
  std::vector<Rgba> stops;  // evenly spaced along the ramp, from level 1 to the top level
};

// viridis: perceptually uniform, readable in grey and by colour-blind readers (9 stops of the
// published map). ylorrd: ColorBrewer's yellow-orange-red sequential scheme (9 classes).
const std::vector<Palette>& palettes() {
  static const std::vector<Palette> kPalettes = {
      {"viridis",
       {{0x44, 0x01, 0x54},
        {0x47, 0x2d, 0x7b},
        {0x3b, 0x52, 0x8b},
        {0x2c, 0x72, 0x8e},
        {0x21, 0x91, 0x8c},
        {0x28, 0xae, 0x80},
        {0x5e, 0xc9, 0x62},
        {0xad, 0xdc, 0x30},
        {0xfd, 0xe7, 0x25}}},
      {"ylorrd",
       {{0xff, 0xff, 0xcc},
        {0xff, 0xed, 0xa0},
        {0xfe, 0xd9, 0x76},
        {0xfe, 0xb2, 0x4c},
        {0xfd, 0x8d, 0x3c},
        {0xfc, 0x4e, 0x2a},
        {0xe3, 0x1a, 0x1c},
        {0xbd, 0x00, 0x26},
        {0x80, 0x00, 0x26}}},
  };
  return kPalettes;
}

constexpr Rgba kMeshLine{0x1a, 0x1a, 0x1a, 255};
constexpr Rgba kOutside{0xd9, 0xd9, 0xd9, 255};
constexpr Rgba kNoData{0xff, 0xff, 0xff, 0};

// The colour at t in [0, 1] along the stops, linear between neighbours.
Rgba along(const std::vector<Rgba>& stops, double t) {
  const double x = t * static_cast<double>(stops.size() - 1);
  const auto i = std::min(static_cast<std::size_t>(x), stops.size() - 2);
  const double f = x - static_cast<double>(i);
  auto mix = [f](unsigned char a, unsigned char b) {
    return static_cast<unsigned char>(std::lround(a + (b - a) * f));
  };
  const Rgba &p = stops[i], &q = stops[i + 1];
  return {mix(p.r, q.r), mix(p.g, q.g), mix(p.b, q.b), 255};
}

}  // namespace

const std::vector<std::string>& palette_names() {
  static const std::vector<std::string> kNames = [] {
    std::vector<std::string> v;
    for (const Palette& p : palettes()) v.emplace_back(p.name);
    return v;
  }();
  return kNames;
}

std::array<Rgba, 256> colour_table(const std::string& palette, int count) {
  const Palette* chosen = nullptr;
  for (const Palette& p : palettes()) {
    if (palette == p.name) chosen = &p;
  }
  if (chosen == nullptr) {
    std::string names;
    for (const std::string& n : palette_names()) names += (names.empty() ? "" : ", ") + n;
    throw UsageError("unknown palette '" + palette + "' (palettes: " + names + ")");
  }
  std::array<Rgba, 256> table;
  table.fill(kNoData);
  table[0] = kMeshLine;
  for (int k = 1; k <= count && k < 254; ++k) {
    const double t = count > 1 ? static_cast<double>(k - 1) / (count - 1) : 0.5;
    table[static_cast<std::size_t>(k)] = along(chosen->stops, t);
  }
  table[254] = kOutside;
  table[255] = kNoData;
  return table;
}

std::string hex(Rgba c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
  return buf;
}

std::string legend_number(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::vector<std::string> category_names(const RunRecord& rec) {
  std::vector<std::string> names(256);
  names[0] = "mesh line";
  for (const LevelClass& c : rec.classes) {
    names[static_cast<std::size_t>(c.level)] = "level " + std::to_string(c.level) + ": " +
                                               legend_number(c.from) + " \u2013 " +
                                               legend_number(c.to);
  }
  names[254] = "outside the study area";
  names[255] = "no data";
  return names;
}

}  // namespace gis
