// tessera_gis's command lines: what each command's parser makes of a good line, and the
// message of a wrong one.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gis/compose.h"
#include "gis/export.h"
#include "gis/prepare_options.h"
#include "gis/richness.h"
#include "support/files.h"

namespace {

using gis::ProgressMode;

// Calls a parser on the arguments that follow the command's name.
template <class Parse>
auto parse(Parse p, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  return p(static_cast<int>(argv.size()), argv.data());
}

TEST(GisOptions, GoodLinesGiveTheirOptions) {
  const gis::PrepareOptions p =
      parse(gis::parse_prepare_options,
            {"--out", "maps/zone", "--boundary=area.gpkg", "--align", "--result", "r1", "--levels",
             "5", "--output", "raw", "--lang", "es", "--progress", "geology.tif",
             "NETCDF:soils.nc:class", "relief.tif:2.5", "--", "--odd.tif:-0.25"});
  EXPECT_EQ(p.out_dir, "maps/zone");
  EXPECT_EQ(p.boundary, "area.gpkg");
  EXPECT_TRUE(p.align);
  EXPECT_EQ(p.result, "r1");
  EXPECT_EQ(p.levels, 5);
  EXPECT_EQ(p.output.answer, rasterio::code_of(rasterio::Format::Raw));
  EXPECT_EQ(p.lang.answer, rasterio::answer::kSpanish);
  EXPECT_EQ(p.progress, ProgressMode::Always);
  ASSERT_EQ(p.layers.size(), 4u);
  EXPECT_EQ(p.layers[0].path, "geology.tif");
  EXPECT_EQ(p.layers[0].weight, 1.0);
  EXPECT_EQ(p.layers[1].path, "NETCDF:soils.nc:class");  // a colon that is no weight
  EXPECT_EQ(p.layers[2].path, "relief.tif");
  EXPECT_EQ(p.layers[2].weight, 2.5);
  EXPECT_EQ(p.layers[3].path, "--odd.tif");  // after "--", a layer
  EXPECT_EQ(p.layers[3].weight, -0.25);
  EXPECT_TRUE(parse(gis::parse_prepare_options, {"x.tif", "--help"}).help);

  const gis::ComposeOptions c =
      parse(gis::parse_compose_options,
            {"--out", "maps/lux", "--classes", "quantile", "--mesh", "3", "--palette", "ylorrd",
             "--title", "Lux", "--lang", "fr", "--quiet", "--levels=99", "a.tif:-1", "b.tif"});
  EXPECT_EQ(c.out, "maps/lux");
  EXPECT_EQ(c.classes, core::ClassMethod::Quantile);
  ASSERT_TRUE(c.processing);
  EXPECT_EQ(c.processing->type, 0);
  EXPECT_EQ(c.processing->range, 3);
  EXPECT_EQ(c.processing->given_by, "--mesh");
  EXPECT_EQ(c.palette, "ylorrd");
  EXPECT_EQ(c.title, "Lux");
  EXPECT_EQ(c.lang, "fr");
  EXPECT_EQ(c.progress, ProgressMode::Never);
  EXPECT_EQ(c.levels, 99);
  ASSERT_EQ(c.layers.size(), 2u);
  EXPECT_EQ(c.layers[0].weight, -1.0);
  const gis::ComposeOptions window =
      parse(gis::parse_compose_options, {"--window=127", "--out=m/n", "a.tif"});
  EXPECT_EQ(window.processing->type, 1);
  EXPECT_EQ(window.progress, ProgressMode::Terminal);

  const gis::ExportOptions e =
      parse(gis::parse_export_options, {"zone1/res", "--palette=ylorrd", "--progress"});
  EXPECT_EQ(e.base, "zone1/res");
  EXPECT_EQ(e.palette, "ylorrd");
  EXPECT_EQ(e.title, "Composite diversity index: res");
  EXPECT_EQ(e.progress, ProgressMode::Always);
  EXPECT_EQ(parse(gis::parse_export_options, {"--title", "T", "r"}).title, "T");
  EXPECT_TRUE(parse(gis::parse_export_options, {"--help"}).help);

  const gis::RichnessOptions r =
      parse(gis::parse_richness_options, {"--out=geol_rich.tif", "--mesh", "+3", "--field", "unit",
                                          "--cell", "25", "--quiet", "geology.gpkg"});
  EXPECT_EQ(r.out, "geol_rich.tif");
  EXPECT_EQ(r.type, gis::Processing::SquareCellMesh);
  EXPECT_EQ(r.range, 3);
  EXPECT_EQ(r.field, "unit");
  EXPECT_EQ(r.cell, 25.0);
  EXPECT_EQ(r.progress, ProgressMode::Never);
  EXPECT_EQ(r.source, "geology.gpkg");
  // A range out of 1..127 is kept for run_richness to refuse, naming the source.
  EXPECT_EQ(parse(gis::parse_richness_options, {"--out", "o.tif", "--window", "300", "s"}).range,
            300);
}

TEST(GisOptions, WrongLinesAreToldWhatIsWrong) {
  const testing_support::ScratchDir dir;
  const std::string layer = dir.file("geology.tif");
  testing_support::write_file(layer, "");
  std::vector<std::string> hundred = {"--out", "d"};
  for (int k = 0; k < 100; ++k) hundred.push_back(std::to_string(k) + ".tif");
  using Parser = std::function<void(std::vector<std::string>)>;
  const Parser prepare = [](auto a) { parse(gis::parse_prepare_options, a); };
  const Parser compose = [](auto a) { parse(gis::parse_compose_options, a); };
  const Parser export_ = [](auto a) { parse(gis::parse_export_options, a); };
  const Parser richness = [](auto a) { parse(gis::parse_richness_options, a); };
  const struct {
    const Parser& parser;
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {prepare, {"a.tif"}, "prepare needs --out DIR"},
      {prepare, {"--out", "d"}, "prepare needs at least one LAYER"},
      {prepare, {"--out"}, "--out needs a value"},
      {prepare, {"--out=", "a.tif"}, "--out needs a folder"},
      {prepare,
       {"--out", "d", "--levels", "100", "a"},
       "--levels takes a whole number from 1 to 99, not '100'"},
      {prepare,
       {"--out", "d", "--levels", "7x", "a"},
       "--levels takes a whole number from 1 to 99, not '7x'"},
      {prepare,
       {"--out", "d", "--output", "tif", "a"},
       "--output takes one of asc, bmp, raw, not 'tif'"},
      {prepare, {"--out", "d", "--lang", "de", "a"}, "--lang takes one of en, fr, es, not 'de'"},
      {prepare,
       {"--out", "d", "--result", "a/b", "a"},
       "--result takes a file name without blanks, control characters or folder separators, not "
       "'a/b'"},
      {prepare, {"--out", "d", "--frob", "a"}, "unknown option '--frob'"},
      {prepare, {"--out", "d", "--progress", "--quiet", "a"}, "give one of --progress and --quiet"},
      {prepare,
       {"--out", "d", layer + ":x"},
       "the weight of " + layer + " must be a finite number, not 'x'"},
      {prepare,
       {"--out", "d", layer + ":inf"},
       "the weight of " + layer + " must be a finite number, not 'inf'"},
      {prepare, hundred, "at most 99 layers are summed, not 100"},
      {compose, {"a.tif"}, "compose needs --out DIR/NAME"},
      {compose, {"--out", "maps/", "a.tif"}, "--out needs DIR/NAME"},
      {compose, {"--out", "m/n"}, "compose needs at least one LAYER"},
      {compose,
       {"--out", "m/n", "--classes", "jenks", "a"},
       "--classes takes one of equal, minmax, quantile, not 'jenks'"},
      {compose,
       {"--out", "m/n", "--mesh", "128", "a"},
       "--mesh takes a whole number from 1 to 127, not '128'"},
      {compose,
       {"--out", "m/n", "--window", "0", "a"},
       "--window takes a whole number from 1 to 127, not '0'"},
      {compose,
       {"--out", "m/n", "--mesh", "1", "--window", "2", "a"},
       "give one of --mesh and --window, once"},
      {compose,
       {"--out", "m/n", "--palette", "jet", "a"},
       "unknown palette 'jet' (palettes: viridis, ylorrd)"},
      {compose,
       {"--out", "m/n", "--quiet", "--progress", "a"},
       "give one of --progress and --quiet"},
      {export_, {}, "export: the result name R is missing"},
      {export_, {"a", "b"}, "export: one result name only ('b' is one too many)"},
      {export_, {"-x", "a"}, "export: unknown option '-x'"},
      {export_, {"a", "--title"}, "--title needs a value"},
      {export_, {"--palette", "jet", "a"}, "unknown palette 'jet' (palettes: viridis, ylorrd)"},
      {richness, {"--window", "1", "s"}, "richness needs --out FILE.tif"},
      {richness, {"--out", "o.tif", "s"}, "richness needs --window R or --mesh R"},
      {richness, {"--out", "o.tif", "--mesh", "1"}, "richness needs a SOURCE layer"},
      {richness,
       {"--out", "o.tif", "--mesh", "1", "--window", "1", "s"},
       "give one of --window and --mesh, once"},
      {richness,
       {"--out", "o.tif", "--mesh", "x", "s"},
       "--mesh takes a whole number R from 1 to 127, not 'x'"},
      {richness,
       {"--out", "o.tif", "--mesh", "1", "--cell", "-2", "s"},
       "--cell takes a cell size greater than 0, not '-2'"},
      {richness,
       {"--out", "o.tif", "--mesh", "1", "--like", "l.tif", "--cell", "2", "s"},
       "give --like or --cell, not both"},
      {richness,
       {"--out", "o.tif", "--mesh", "1", "s", "t"},
       "one SOURCE only ('t' is one too many)"},
      {richness,
       {"--out", "o.tif", "--mesh", "1", "--quiet", "--progress", "s"},
       "give one of --progress and --quiet"},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += " " + a;
    SCOPED_TRACE(line.substr(0, 120));
    try {
      c.parser(c.args);
      ADD_FAILURE() << "accepted";
    } catch (const gis::UsageError& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

}  // namespace
