// Reading input images and masks in the three formats, the item statistics, and the stops
// on bad files.
#include <gtest/gtest.h>

#include "core/summation.h"
#include "support/child.h"
#include "support/images.h"
#include "support/session.h"

namespace {

using testing_support::read_file;
using testing_support::ScratchDir;
using testing_support::Session;
using testing_support::write_file;

class Reader : public ::testing::Test {
 protected:
  // A run in language `lang` whose report is open in the scratch folder.
  std::unique_ptr<Session> session(int lang, const std::string& answers = "") {
    auto s = std::make_unique<Session>(answers);
    s->ui.language = lang;
    s->ui.report_file.create(dir.file("report.txt"));
    return s;
  }
  // The first reading of the images (base name, format) of a run; the stop status or 0.
  int read(Session& s, const std::vector<std::pair<std::string, int>>& images) {
    setup = app::Setup();
    for (const auto& [base, format] : images) setup.params.images.push_back({{base, format}, 1.0});
    setup.limits = core::ReadLimits::of(setup.params);
    setup.params.level_count = 5;
    return testing_support::stop_status([&] { inputs = app::read_images(s.ui, setup); });
  }
  // The cells of image k (from 0) as the passes after the first read them, row 0 first.
  std::string cells(std::size_t k) {
    std::vector<core::SumInput> in;
    for (core::ImageRead& im : inputs.images) in.push_back({&im, 1.0});
    const int rows = inputs.images[k].facts.rows;
    const int cols = inputs.images[k].facts.cols;
    core::ImageRows block(in, rows, cols);
    EXPECT_FALSE(block.status().has_value());
    std::string out;
    for (int first = 0; first < rows; first += block.block_rows()) {
      const int count = std::min(block.block_rows(), rows - first);
      EXPECT_FALSE(block.load(first, count).has_value());
      for (int i = first; i < first + count; ++i) {
        out.append(reinterpret_cast<const char*>(block.row(static_cast<int>(k), i)),
                   static_cast<std::size_t>(cols));
      }
    }
    return out;
  }
  std::string report(Session& s) {
    s.ui.report_file.close();
    return read_file(dir.file("report.txt"));
  }
  ScratchDir dir;
  app::Setup setup;
  app::Inputs inputs;
};

// 10 x 10: 25 cells of 3, 25 of 7, 50 of 255.
std::string items_image() {
  return std::string(25, '\x03') + std::string(25, '\x07') + std::string(50, '\xFF');
}

TEST_F(Reader, ItemStatisticsLeaveOutTheHighestValueInEachLanguage) {
  write_file(dir.file("a.raw"), items_image());
  write_file(dir.file("a.txt"), "10\n10\n1\n0\n255\n30\n");
  const std::string name = dir.file("a.raw");
  const std::string items =
      "\n\t\titem 1 code 3 pixels 25 percent 25.00 \n\t\titem 2 code 7 pixels 25 percent 25.00 ";
  const struct {
    std::string console, report;
  } expected[] = {
      {"\n\n\tThe image number 1 named " + name + " \n\tcontains 2 items \n" + items + "\n",
       "\n\n\tThe image number 1 named " + name + " \n\tcontains 2 items \n" + items},
      {"\n\n\tL'image num\x82ro 1 nomm\x82"
       "e " +
           name + " \n\tcontient 2 items \n" + items + "\n",
       "\n\n\tL'image numero 1 nommee " + name + " \n\tcontient 2 items \n\n" + items},
      {"\n\n\tLa imagen n\xA3mero 1 llamada " + name + " \n\tcontiene 2 items \n" + items + "\n",
       "\n\n\tLa imagen numero 1 llamada " + name + " \n\tcontiene 2 items \n" + items},
  };
  for (int lang = 0; lang < 3; ++lang) {
    auto s = session(lang);
    ASSERT_EQ(read(*s, {{dir.file("a"), 0}}), 0);
    EXPECT_EQ(s->text(), expected[lang].console) << lang;
    EXPECT_EQ(report(*s), expected[lang].report) << lang;
    // The 50 cells of 255 are counted as 254 (the unlisted highest item); the cells keep 255.
    EXPECT_EQ(inputs.images[0].items[254], 50);
    EXPECT_EQ(cells(0), items_image());
  }
}

TEST_F(Reader, ItemCountsForBackgroundOnlyAndFor254With255) {
  write_file(dir.file("bg.raw"), std::string(4, '\xFF'));
  write_file(dir.file("bg.txt"), "2 2 1 0 255 1");
  write_file(dir.file("mix.raw"), std::string("\x00\xFE\xFF\xFF", 4));
  write_file(dir.file("mix.txt"), "2 2 1 0 255 1");
  auto s = session(0);
  ASSERT_EQ(read(*s, {{dir.file("bg"), 0}, {dir.file("mix"), 0}}), 0);
  EXPECT_NE(s->text().find("\n\tcontains 0 items \n\n"), std::string::npos);
  EXPECT_NE(s->text().find("The image number 2 named"), std::string::npos);
  EXPECT_NE(s->text().find("\n\tcontains 1 items \n\n\t\titem 1 code 0 pixels 1 percent 25.00 \n"),
            std::string::npos);
}

TEST_F(Reader, RawDescriptorOnOneLineThirdValueIgnoredAndFileLengths) {
  write_file(dir.file("long.raw"), "abcdefXYZ");
  write_file(dir.file("long.txt"), "2 3 77 0 255 12 trailing words");
  write_file(dir.file("short.raw"), "abcd");
  write_file(dir.file("short.txt"), "2\n3\n1\n0\n255\n12\n");
  auto s = session(0);
  ASSERT_EQ(read(*s, {{dir.file("long"), 0}, {dir.file("short"), 0}}), 0);
  EXPECT_EQ(cells(0), "abcdef");
  EXPECT_EQ(inputs.georef.pixel_size, 12.0);
  EXPECT_FALSE(inputs.georef.corner.has_value());
  EXPECT_EQ(inputs.images[0].file, dir.file("long.raw"));
  EXPECT_EQ(cells(1), std::string("abcd\0\0", 6));
}

TEST_F(Reader, MissingDescriptorIsAskedForWrittenAndThenFound) {
  write_file(dir.file("g.raw"), "\x01\x02\x03\x04\x05\x06");
  auto s = session(0, "2 3 25\n");
  ASSERT_EQ(read(*s, {{dir.file("g"), 0}}), 0);
  const std::string prompts =
      "\n\tNo File  " + dir.file("g.txt") +
      " \n\n\t\tNumber of lines? \n\t\tNumber of columns? \n\t\tPixel size? ";
  EXPECT_EQ(s->text().rfind(prompts, 0), 0u) << s->text();
  EXPECT_EQ(read_file(dir.file("g.txt")), "2\n3\n1\n0\n255\n25\n");
  EXPECT_EQ(inputs.descriptors, std::vector<std::string>{dir.file("g.txt")});
  auto again = session(0, "");
  ASSERT_EQ(read(*again, {{dir.file("g"), 0}}), 0);
  EXPECT_EQ(again->text().find("No File"), std::string::npos);
}

TEST_F(Reader, AsciiGridValuesWrapAndFiveLineHeadersAreRead) {
  write_file(dir.file("g.asc"),
             "NCOLS 2\nnrows 2\nxllcorner 100.5\nyllcorner -20\ncellsize 30\nNODATA -1\n"
             "256 300\n-1\t-9999\n");
  write_file(dir.file("h.asc"), "ncols 2\nnrows 1\nxll 1\nyll 2\ncell 5\n7 8\n");
  auto s = session(0);
  ASSERT_EQ(read(*s, {{dir.file("g"), 2}}), 0);
  EXPECT_EQ(cells(0), std::string("\x00\x2C\xFF\xF1", 4));
  ASSERT_TRUE(inputs.georef.corner.has_value());
  EXPECT_EQ(inputs.georef.corner->x_min, 100.5);
  EXPECT_EQ(inputs.georef.corner->y_min, -20.0);
  EXPECT_EQ(inputs.georef.pixel_size, 30.0);
  auto five = session(0);
  ASSERT_EQ(read(*five, {{dir.file("h"), 2}}), 0);
  EXPECT_EQ(cells(0), "\x07\x08");
  EXPECT_EQ(inputs.georef.pixel_size, 5.0);
}

TEST_F(Reader, BmpGreyAndColourPalettesGiveTheSameGrid) {
  const std::string grid("\x00\x01\x02\x0A\x0B\x0C", 6);
  testing_support::BmpLayout colour;
  colour.green = 0;
  colour.red = 3;
  write_file(dir.file("grey.bmp"), testing_support::bmp_bytes(3, 2, grid));
  write_file(dir.file("col.bmp"), testing_support::bmp_bytes(3, 2, grid, colour));
  auto s = session(0);
  ASSERT_EQ(read(*s, {{dir.file("grey"), 1}, {dir.file("col"), 1}}), 0);
  EXPECT_EQ(cells(0), grid);
  EXPECT_EQ(cells(1), grid);
  EXPECT_FALSE(inputs.georef.corner.has_value());
}

TEST_F(Reader, MaskInEachFormatKeepsItsValuesAndItsCorner) {
  write_file(dir.file("m.asc"), "ncols 3\nnrows 1\nx 5\ny 6\nc 2.5\nn -9\n1 511 7\n");
  auto s = session(0);
  core::OpenedGrid opened = s->ui.take(core::open_grid({dir.file("m"), 2}, nullptr, {}, {}));
  const core::MaskRead m = s->ui.take(core::read_mask(std::move(opened)));
  // Only the 255 cells (511 read modulo 256) mark the study area's outside.
  EXPECT_FALSE(m.outside.test(0, 0));
  EXPECT_TRUE(m.outside.test(0, 1));
  EXPECT_FALSE(m.outside.test(0, 2));
  const core::Georef g = core::after_grid({}, m.facts);
  ASSERT_TRUE(g.corner.has_value());
  EXPECT_EQ(g.corner->x_min, 5.0);
  EXPECT_EQ(g.corner->y_min, 6.0);
  EXPECT_EQ(g.pixel_size, 2.5);
  EXPECT_EQ(m.file, dir.file("m.asc"));
}

// Every bad file stops the run with status 1 and a message naming the file.
TEST_F(Reader, BadFilesStopTheRunNamingTheFile) {
  write_file(dir.file("none.txt"), "2 3 1 0 255 1");
  write_file(dir.file("short.txt"), "2 3 1");
  write_file(dir.file("short.raw"), "abcdef");
  write_file(dir.file("neg.txt"), "-2 3 1 0 255 1");
  write_file(dir.file("neg.raw"), "abcdef");
  write_file(dir.file("few.asc"), "ncols 2\nnrows 2\nx 0\ny 0\nc 1\nn 0\n1 2 3");
  write_file(dir.file("word.asc"), "ncols 2\nnrows 1\nx 0\ny 0\nc 1\nn 0\n1 two");
  write_file(dir.file("bad.bmp"), "BM not really");
  write_file(dir.file("big.txt"), "100000000 100000000 1 0 255 1");
  write_file(dir.file("big.raw"), "a");
  std::filesystem::create_directory(dir.file("dir.asc"));
  testing_support::BmpLayout rgb;
  rgb.bits = 24;
  write_file(dir.file("rgb.bmp"), testing_support::bmp_bytes(2, 1, std::string(6, '\x01'), rgb));
  const struct {
    const char* base;
    int format;
    std::string named;
  } cases[] = {
      {"none", 0, "\n\tNo File  " + dir.file("none.raw") + " \n"},
      {"none", 2, "\n\tFile " + dir.file("none.asc") + " unknown\n"},
      {"dir", 2, "\n\tFile " + dir.file("dir.asc") + " unknown\n"},
      {"none", 1, dir.file("none.bmp")},
      {"short", 0, dir.file("short.txt")},
      {"neg", 0, dir.file("neg.txt")},
      {"big", 0, dir.file("big.txt")},
      {"few", 2, dir.file("few.asc")},
      {"word", 2, dir.file("word.asc")},
      {"bad", 1, dir.file("bad.bmp")},
      {"rgb", 1, dir.file("rgb.bmp")},
  };
  for (const auto& c : cases) {
    auto s = session(0);
    EXPECT_EQ(read(*s, {{dir.file(c.base), c.format}}), 1) << c.base;
    EXPECT_NE(s->text().find(c.named), std::string::npos) << c.base << ": " << s->text();
    EXPECT_NE(s->text().find("The run stops."), std::string::npos) << c.base;
    EXPECT_NE(report(*s).find(c.named), std::string::npos) << c.base;
  }
}

TEST_F(Reader, DescriptorThatCannotBeCreatedStops) {
  auto s = session(1, "2 2 1\n");
  EXPECT_EQ(read(*s, {{dir.file("nowhere/g"), 0}}), 1);
  EXPECT_NE(s->text().find("Impossible de cr\x82"
                           "er le fichier " +
                           dir.file("nowhere/g.txt")),
            std::string::npos);
}

TEST_F(Reader, ImagesOfAnotherSizeThanTheFirstStop) {
  write_file(dir.file("a.raw"), "abcdef");
  write_file(dir.file("a.txt"), "2 3 1 0 255 1");
  write_file(dir.file("b.raw"), "abcdef");
  write_file(dir.file("b.txt"), "3 2 1 0 255 1");
  auto s = session(0);
  EXPECT_EQ(read(*s, {{dir.file("a"), 0}, {dir.file("b"), 0}}), 1);
  EXPECT_NE(s->text().find("The file " + dir.file("b.raw") + " has 3 rows and 2 columns, but " +
                           dir.file("a.raw") + " has 2 rows and 3 columns."),
            std::string::npos);
}

// The passes after the first read raw and BMP images again: a file replaced or changed in
// between stops the run naming it, rather than summing other values than those counted.
TEST_F(Reader, AFileThatChangedSinceTheFirstPassStopsTheLaterPasses) {
  write_file(dir.file("a.raw"), "abcdef");
  write_file(dir.file("a.txt"), "2 3 1 0 255 1");
  write_file(dir.file("b.bmp"), testing_support::bmp_bytes(3, 2, "abcdef"));
  const struct {
    const char* file;
    std::string bytes;
  } changes[] = {{"a.raw", "abcdefg"}, {"b.bmp", testing_support::bmp_bytes(3, 2, "ABCDEF")}};
  for (const auto& change : changes) {
    auto s = session(1);
    ASSERT_EQ(read(*s, {{dir.file("a"), 0}, {dir.file("b"), 1}}), 0);
    EXPECT_EQ(cells(1), "abcdef");  // unchanged: read again
    // The raw file grows; the BMP file keeps its size but is written an hour later.
    const auto when = std::filesystem::last_write_time(dir.file(change.file));
    write_file(dir.file(change.file), change.bytes);
    std::filesystem::last_write_time(dir.file(change.file), when + std::chrono::hours(1));
    EXPECT_EQ(testing_support::stop_status([&] { app::summation(s->ui, setup, inputs); }), 1);
    EXPECT_NE(s->text().find("\n\tLe fichier " + dir.file(change.file) +
                             " a chang\x82 pendant que le traitement le lisait.\n"),
              std::string::npos)
        << s->text();
    write_file(dir.file(change.file), change.file == std::string("a.raw")
                                          ? std::string("abcdef")
                                          : testing_support::bmp_bytes(3, 2, "abcdef"));
  }
}

// Through the built program: files that were refused although their values are sound.
class ReadByTheProgram : public ::testing::Test {
 protected:
  ReadByTheProgram() { std::filesystem::create_directories(zone); }
  // One image `name` of `format`, result `res` in `out_format`, 5 levels, no mesh; `extra`
  // answers the pixel size after a BMP image.
  testing_support::ChildRun run(const std::string& name, int format, const std::string& res,
                                int out_format, const std::string& extra = "") {
    return testing_support::run_binary("0\n2\n" + dir.path() + "\nzone\n1\n" + name + "\n" +
                                       std::to_string(format) + "\n1\n1\n" + res + "\n" +
                                       std::to_string(out_format) + "\n5\n" + extra + "1\n");
  }
  ScratchDir dir;
  std::string zone = dir.file("zone");
};

// A BMP wider than 32,767 cells, such as the program's own result of a grid that wide, reads
// back as input.
TEST_F(ReadByTheProgram, ABmpWiderThan32767Cells) {
  const int cols = 33000;
  std::string cells;
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < cols; ++j) cells.push_back(static_cast<char>(1 + (j / 3) % 9));
  }
  write_file(zone + "/wide.raw", cells);
  write_file(zone + "/wide.txt", "2\n" + std::to_string(cols) + "\n1\n0\n255\n25\n");
  const auto first = run("wide", 0, "res", 1);
  ASSERT_EQ(first.status, 0) << first.out;
  const auto again = run("res_tessum", 1, "back", 0, "25\n");
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(read_file(zone + "/back_tessum.txt"),
            "2\n" + std::to_string(cols) + "\n1\n0\n255\n25\n");
  EXPECT_EQ(std::filesystem::file_size(zone + "/back_tessum.raw"), 2u * cols);
}

// An ASCII grid of a real-valued band, as GDAL writes it ("3.0", and the whole no-data value
// -9999.0), reads as the same grid written with integers: whole values kept, no-data as 255.
TEST_F(ReadByTheProgram, WholeNumbersWrittenAsReals) {
  const std::string head = "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 1940\ncellsize 20\n";
  write_file(zone + "/ints.asc",
             head + "NODATA_value -9999\n3 4 5 -9999\n0 254 7 8\n-9999 1 2 3\n");
  write_file(zone + "/reals.asc",
             head + "NODATA_value -9999.0\n 3.0 4 5 -9999.0\n 0.00 254. 7 8\n -9999 1 2 3.000\n");
  const auto ints = run("ints", 2, "ri", 2);
  ASSERT_EQ(ints.status, 0) << ints.out;
  const auto reals = run("reals", 2, "rr", 2);
  EXPECT_EQ(reals.status, 0) << reals.out;
  EXPECT_EQ(read_file(zone + "/rr_tessum.asc"), read_file(zone + "/ri_tessum.asc"));
  EXPECT_NE(read_file(zone + "/rr_info.txt").find("item 1 code 0 pixels 1 "), std::string::npos);
  EXPECT_EQ(read_file(zone + "/rr_info.txt").find("code 241"), std::string::npos);
}

// The items of a raw or BMP image are counted with the sums, after every image is opened,
// and told then, unless something is told before: a descriptor question, an ASCII grid's
// line breaks, a stop. Whatever the formats, each image's items stand right after its
// reading, in image order, on the console and in the report, and before a stop.
TEST_F(ReadByTheProgram, ItemsAreToldRightAfterEachReadingWhateverComesBetween) {
  const int rows = 6, cols = 5;
  std::string cells[5];
  for (int k = 0; k < 5; ++k) {
    for (int c = 0; c < rows * cols; ++c) {
      cells[k].push_back(static_cast<char>(c % 7 == 3 ? 255 : (c * (k + 2)) % (4 + k)));
    }
  }
  const std::string size = std::to_string(rows) + "\n" + std::to_string(cols) + "\n";
  write_file(zone + "/a.raw", cells[0]);
  write_file(zone + "/a.txt", size + "1\n0\n255\n10\n");
  write_file(zone + "/b.raw", cells[1]);  // no descriptor: asked for
  write_file(zone + "/c.bmp", testing_support::bmp_bytes(cols, rows, cells[2]));
  std::string ascii = "ncols 5\nnrows 6\nxllcorner 0\nyllcorner 0\ncellsize 10\nNODATA_value 255\n";
  for (const char c : cells[3]) ascii += std::to_string(static_cast<unsigned char>(c)) + " ";
  write_file(zone + "/d.asc", ascii);
  write_file(zone + "/e.raw", cells[4]);
  write_file(zone + "/e.txt", size + "1\n0\n255\n10\n");
  write_file(zone + "/bad.bmp", "not a bitmap");
  // The console text of image k's items: every value but the highest, 255 counted as 254.
  const auto items = [&](int k, const std::string& name, const std::string& bytes) {
    long long count[256] = {};
    for (const char c : bytes)
      ++count[static_cast<unsigned char>(c) == 255 ? 254 : static_cast<unsigned char>(c)];
    int distinct = 0;
    for (const long long n : count) distinct += n > 0;
    std::string text = "\n\n\tThe image number " + std::to_string(k) + " named " + dir.path() +
                       "\\zone\\" + name + " \n\tcontains " + std::to_string(distinct - 1) +
                       " items \n";
    for (int v = 0, n = 0; v < 256 && n < distinct - 1; ++v) {
      if (count[v] == 0) continue;
      char line[96];
      std::snprintf(line, sizeof line, "\n\t\titem %d code %d pixels %lld percent %.2f ", ++n, v,
                    count[v], 100.0 * static_cast<double>(count[v]) / (rows * cols));
      text += line;
    }
    return text + "\n";
  };
  const auto answers = [&](const std::string& images, const std::string& formats, int count) {
    std::string weights;
    for (int k = 0; k < count; ++k) weights += "1\n";
    return "0\n2\n" + dir.path() + "\nzone\n" + std::to_string(count) + "\n" + images + formats +
           weights + "1\nres\n0\n4\n";
  };

  const testing_support::ChildRun mixed = testing_support::run_binary(
      answers("a\nb\nc\nd\ne\n", "0\n0\n1\n2\n0\n", 5) + size + "25\n1\n");
  ASSERT_EQ(mixed.status, 0) << mixed.out;
  const std::string question = "\n\tNo File  " + dir.path() + "\\zone\\b.txt ";
  const std::size_t first = mixed.out.find(items(1, "a.raw", cells[0]) + question);
  EXPECT_NE(first, std::string::npos) << mixed.out;
  // After the answers to the question, image 2, then 3, then the line breaks around the
  // ASCII grid's values, then 4 and 5.
  const std::string rest = items(2, "b.raw", cells[1]) + items(3, "c.bmp", cells[2]) + "\n\n" +
                           items(4, "d.asc", cells[3]) + items(5, "e.raw", cells[4]);
  EXPECT_NE(mixed.out.find("Pixel size? " + rest, first), std::string::npos) << mixed.out;
  EXPECT_NE(read_file(zone + "/res_info.txt").find("\n\tcontains"), std::string::npos);

  // A stop at the third image (a BMP: its pixel size is asked) comes after the items of the
  // first two, deferred or not.
  const testing_support::ChildRun stop =
      testing_support::run_binary(answers("a\ne\nbad\n", "0\n0\n1\n", 3) + "25\n");
  EXPECT_EQ(stop.status, 1);
  EXPECT_NE(stop.out.find(items(1, "a.raw", cells[0]) + items(2, "e.raw", cells[4]) +
                          "\n\tCannot read the file " + dir.path() + "\\zone\\bad.bmp"),
            std::string::npos)
      << stop.out;
  const std::string report = read_file(zone + "/res_info.txt");
  EXPECT_LT(report.find("The image number 1 named"), report.find("The image number 2 named"));
  EXPECT_LT(report.find("The image number 2 named"), report.find("bad.bmp"));
}

}  // namespace
