// Replays, through the fuzz bodies (fuzz/bodies.h), the seed inputs of each fuzz target and
// every input a fuzz run found faulty (kept, minimised, in tests/data/fuzz/<target>), so
// that what was fixed stays fixed without clang or libFuzzer.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/bodies.h"
#include "support/session.h"

namespace {

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::ScratchDir;

// The inputs of one target: its seeds and its kept faulty inputs.
std::vector<fs::path> inputs(const std::string& target) {
  std::vector<fs::path> files;
  const fs::path data(TESSERA_TEST_DATA);
  const fs::path root = data.parent_path().parent_path();
  for (const fs::path& dir : {root / "fuzz" / "seeds" / target, data / "fuzz" / target}) {
    if (!fs::is_directory(dir)) continue;
    for (const auto& e : fs::directory_iterator(dir)) {
      if (e.is_regular_file()) files.push_back(e.path());
    }
  }
  return files;
}

template <class Body>
void replay(const std::string& target, Body body) {
  const std::vector<fs::path> files = inputs(target);
  EXPECT_FALSE(files.empty()) << "no inputs for " << target;
  for (const fs::path& f : files) {
    const std::string bytes = read_file(f);
    const std::string fault =
        body(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(fault, "") << f;
  }
}

TEST(FuzzRegression, Bmp) {
  ScratchDir dir;
  replay("fuzz_bmp", [&](const std::uint8_t* d, std::size_t n) {
    return fuzz_bodies::bmp_one(d, n, dir.path());
  });
}

TEST(FuzzRegression, AsciiGrid) {
  ScratchDir dir;
  replay("fuzz_ascii", [&](const std::uint8_t* d, std::size_t n) {
    return fuzz_bodies::ascii_one(d, n, dir.path());
  });
}

TEST(FuzzRegression, Descriptor) {
  ScratchDir dir;
  replay("fuzz_descriptor", [&](const std::uint8_t* d, std::size_t n) {
    return fuzz_bodies::descriptor_one(d, n, dir.path());
  });
}

TEST(FuzzRegression, WholeRun) {
  ScratchDir dir;
  const fuzz_bodies::RunArea area(dir.path());
  replay("fuzz_run",
         [&](const std::uint8_t* d, std::size_t n) { return fuzz_bodies::run_one(d, n, area); });
}

// The bodies themselves must catch a fault: a reader that took a bad file, or read a sound
// one wrong, is told apart from a sound outcome.
TEST(FuzzRegression, TheChecksOfTheBodiesCanFail) {
  ScratchDir dir;
  testing_support::write_file(dir.file("x.raw"), "ab");
  testing_support::write_file(dir.file("x.txt"), "1 2 1 0 255 1");
  const std::string name = dir.file("x.txt");
  fuzz_bodies::QuietRun q;
  ASSERT_EQ(fuzz_bodies::read_image(q, dir.file("x"), 0), 0);
  EXPECT_NE(fuzz_bodies::check_read(q, 0, false, name, 1, 2, "ab"), "");  // taken, not refused
  EXPECT_NE(fuzz_bodies::check_read(q, 1, true, name, 1, 2, "ab"), "");   // refused, not taken
  EXPECT_NE(fuzz_bodies::check_read(q, 0, true, name, 1, 2, "ac"), "");   // other values
  EXPECT_NE(fuzz_bodies::check_read(q, 0, true, name, 2, 1, "ab"), "");   // another size
  EXPECT_EQ(fuzz_bodies::check_read(q, 0, true, name, 1, 2, "ab"), "");
}

// The reference readings agree with the documented examples.
TEST(FuzzRegression, ReferenceReadings) {
  rasterio::AsciiHeader h;
  std::string cells;
  EXPECT_EQ(fuzz_bodies::ref_ascii("ncols 2 nrows 2 x 1 y 2 c 3 -9999 300 7 8", h, cells, true),
            rasterio::FileError::None);
  EXPECT_FALSE(h.has_nodata);
  EXPECT_EQ(cells, std::string("\xF1\x2C\x07\x08", 4));
  EXPECT_EQ(fuzz_bodies::ref_ascii("ncols 2 nrows 2 x 1 y 2 c 3 nd -1 1 2 3x", h, cells, true),
            rasterio::FileError::BadValue);
  EXPECT_EQ(fuzz_bodies::ref_ascii("ncols 2 nrows 2 x 1 y 2 c 3 nd -1 1 2 3", h, cells, true),
            rasterio::FileError::FewerValues);
  EXPECT_EQ(fuzz_bodies::ref_ascii("ncols 2 nrows 0", h, cells, true),
            rasterio::FileError::BadSize);
  rasterio::Descriptor d;
  EXPECT_EQ(fuzz_bodies::ref_descriptor("1 2 3 4 5 2147483648", d), rasterio::FileError::BadHeader);
  EXPECT_EQ(fuzz_bodies::ref_descriptor("1 2 3 4 5 -2147483648", d), rasterio::FileError::None);
  EXPECT_EQ(d.pix_size, INT32_MIN);
  EXPECT_EQ(fuzz_bodies::ref_descriptor("1 2 3 4 5", d), rasterio::FileError::ShortHeader);
}

}  // namespace
