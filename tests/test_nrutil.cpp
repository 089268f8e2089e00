// Tests of nrutil's grids (the Grid owner and its blocks, the bit grid, the scattered row
// transfers) and of the temporaries removed on a termination signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "nrutil/bitgrid.h"
#include "nrutil/block.h"
#include "nrutil/files.h"
#include "nrutil/grid.h"
#include "nrutil/mapped.h"
#include "nrutil/rowio.h"
#include "support/files.h"

namespace {

// Ctrl-C or kill in the middle of writing: the temporary files and the staging folder (with
// what a library wrote into it) go, the files already in place stay, the program still ends
// by the signal, and a signal ignored from the start stays ignored.
// Writes as a run does, then is ended by a signal: a file put in place, a temporary file half
// written, a staging folder holding a library's files. SIGHUP, ignored from the start, stays so.
[[noreturn]] void write_then_end(const std::string& dir) {
  std::signal(SIGHUP, SIG_IGN);
  nrutil::remove_temporaries_on_termination();
  nrutil::AtomicFile placed, open;
  if (!placed.open(dir + "/placed") || !placed.write("x") || !placed.commit()) _exit(3);
  if (!open.open(dir + "/result") || !open.write("half")) _exit(3);
  nrutil::StagingDir staging;
  if (!staging.make(dir)) _exit(3);
  for (const char* name : {"map.tif", "map.tif.aux.xml", "cells.gpkg-journal"}) {
    testing_support::write_file(staging.file(name), "y");
  }
  std::raise(SIGHUP);
  std::raise(SIGTERM);
  _exit(0);
}

// Ctrl-C or kill in the middle of writing: the temporary files and the staging folder go, the
// file already in place stays, and the program still ends by the signal.
TEST(Temporaries, ATerminationSignalRemovesThemAndStillEndsTheProgram) {
  testing_support::ScratchDir d;
  EXPECT_EXIT(write_then_end(d.path()), testing::KilledBySignal(SIGTERM), "");
  std::set<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(d.path())) {
    left.insert(e.path().filename().string());
  }
  EXPECT_EQ(left, std::set<std::string>{"placed"});
}

TEST(BitGrid, MarksExactlyTheCellsOfOneValueInRowsOfAnyWidth) {
  // Widths below, at and across the 64-bit words (and the 16-byte compares) of a row.
  for (const int nb_col : {1, 15, 16, 63, 64, 65, 130}) {
    SCOPED_TRACE(nb_col);
    nrutil::BitGrid g = nrutil::BitGrid::make(nb_col, 2);
    ASSERT_FALSE(g.empty());
    std::vector<unsigned char> v(static_cast<std::size_t>(nb_col));
    for (int j = 0; j < nb_col; ++j) v[j] = static_cast<unsigned char>(j % 3 == 0 ? 255 : j);
    g.mark_row(1, v.data(), 255);
    std::vector<unsigned char> out(static_cast<std::size_t>(nb_col), 7);
    g.apply_row(1, out.data(), 254);
    for (int j = 0; j < nb_col; ++j) {
      EXPECT_EQ(g.test(1, j), j % 3 == 0) << j;
      EXPECT_FALSE(g.test(0, j)) << j;
      EXPECT_EQ(out[j], j % 3 == 0 ? 254 : 7) << j;
    }
    // Marking a row again clears what no longer holds the value.
    std::fill(v.begin(), v.end(), 0);
    g.mark_row(1, v.data(), 255);
    for (int j = 0; j < nb_col; ++j) EXPECT_FALSE(g.test(1, j)) << j;
  }
  EXPECT_TRUE(nrutil::BitGrid::make(0, 3).empty());
}

TEST(Grid, MakeRefusesBadSizes) {
  EXPECT_TRUE(nrutil::ByteGrid::make(0, 3).empty());
  EXPECT_TRUE(nrutil::ByteGrid::make(3, 0).empty());
  EXPECT_TRUE(nrutil::ByteGrid::make(-2, 3).empty());
  // 2^17 x 2^17 + 1 row is just above the cell limit of 2^34.
  EXPECT_TRUE(nrutil::ByteGrid::make(1 << 17, (1 << 17) + 1).empty());
  auto g = nrutil::Grid<double>::make(3, 2);
  ASSERT_FALSE(g.empty());
  EXPECT_EQ(g.nb_col(), 3);
  EXPECT_EQ(g.nb_lig(), 2);
  EXPECT_EQ(g.cells(), 6);
  EXPECT_EQ(g[1][2], 0.0);
}

TEST(Grid, MoveTransfersOwnershipAndResetEmpties) {
  auto a = nrutil::ByteGrid::make(4, 3);
  ASSERT_TRUE(a);
  a[2][3] = 77;
  unsigned char** rows = a.rows();

  nrutil::ByteGrid b(std::move(a));
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(a.nb_lig(), 0);
  EXPECT_EQ(b.rows(), rows);
  EXPECT_EQ(b.nb_col(), 4);
  EXPECT_EQ(b[2][3], 77);

  // Assigning over a grid releases the one it held (the sanitizer build reports a leak
  // otherwise).
  auto c = nrutil::ByteGrid::make(2, 2);
  c = std::move(b);
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(c.rows(), rows);
  EXPECT_EQ(c.nb_lig(), 3);

  c.reset();
  EXPECT_TRUE(c.empty());
  EXPECT_EQ(c.nb_col(), 0);
  EXPECT_EQ(c.cells(), 0);
  c.reset();  // a second reset is harmless
}

TEST(Grid, CellsAreOneZeroFilledBlockSmallOrLarge) {
  // 3 x 2 comes from the heap, 1500 x 1000 doubles (12 MB) is a mapping of its own.
  for (const auto& [cols, rows] : {std::pair{3, 2}, std::pair{1500, 1000}}) {
    auto g = nrutil::Grid<double>::make(cols, rows);
    ASSERT_TRUE(g);
    for (int i = 0; i < rows; ++i) {
      if (i + 1 < rows) {
        EXPECT_EQ(g[i + 1], g[i] + cols) << "rows follow one another";
      }
      for (int j = 0; j < cols; ++j) ASSERT_EQ(g[i][j], 0.0);
    }
    g[rows - 1][cols - 1] = 5.0;
    EXPECT_EQ(g.cells(), std::int64_t{cols} * rows);
  }
  void* big = nrutil::alloc_block(std::size_t{3} << 20);
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(static_cast<unsigned char*>(big)[(std::size_t{3} << 20) - 1], 0);
  nrutil::free_block(big, std::size_t{3} << 20);
  nrutil::free_block(nullptr, 10);  // ignored
}

// Scattered reads and gathered writes: more pieces than one system call takes, empty
// pieces, a file shorter than the pieces, and a device that refuses every write.
class RowIo : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (std::filesystem::temp_directory_path() /
             ("tessera_rowio_" + std::to_string(getpid()) + ".bin"))
                .string();
  }
  void TearDown() override { std::filesystem::remove(path_); }
  std::string path_;
};

TEST_F(RowIo, ManyPiecesRoundTripInOrder) {
  // 3000 rows of 7 bytes (above the iovec limit of 1024), every fifth piece empty.
  const int rows = 3000;
  std::vector<std::vector<unsigned char>> data(rows);
  std::vector<nrutil::Piece> out;
  for (int i = 0; i < rows; ++i) {
    data[i].resize(i % 5 == 0 ? 0 : 7);
    for (std::size_t j = 0; j < data[i].size(); ++j) data[i][j] = static_cast<unsigned char>(i + j);
    out.push_back({data[i].data(), data[i].size()});
  }
  const int wfd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(wfd, 0);
  EXPECT_TRUE(nrutil::write_pieces(wfd, out.data(), out.size()));
  close(wfd);
  EXPECT_EQ(std::filesystem::file_size(path_), 2400u * 7u);

  std::vector<std::vector<unsigned char>> back(rows);
  std::vector<nrutil::Piece> in;
  for (int i = 0; i < rows; ++i) {
    back[i].assign(data[i].size(), 0xEE);
    in.push_back({back[i].data(), back[i].size()});
  }
  const int rfd = open(path_.c_str(), O_RDONLY);
  ASSERT_GE(rfd, 0);
  EXPECT_EQ(nrutil::read_pieces(rfd, in.data(), in.size()), 2400 * 7);
  close(rfd);
  EXPECT_EQ(back, data);
}

TEST_F(RowIo, ShortFileFillsTheFirstPiecesOnly) {
  const int wfd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(wfd, 0);
  ASSERT_EQ(write(wfd, "abcdefg", 7), 7);
  close(wfd);
  unsigned char a[4] = {0, 0, 0, 0}, b[4] = {0, 0, 0, 0}, c[4] = {9, 9, 9, 9};
  const nrutil::Piece in[] = {{a, 4}, {b, 4}, {c, 4}};
  const int rfd = open(path_.c_str(), O_RDONLY);
  ASSERT_GE(rfd, 0);
  EXPECT_EQ(nrutil::read_pieces(rfd, in, 3), 7);
  close(rfd);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(a), 4) + std::string(reinterpret_cast<char*>(b), 3),
            "abcdefg");
  EXPECT_EQ(c[0], 9);  // untouched past the end of the file
}

TEST_F(RowIo, FailuresAreReported) {
  unsigned char row[64] = {};
  const nrutil::Piece one[] = {{row, sizeof row}};
  EXPECT_EQ(nrutil::read_pieces(-1, one, 1), -1);
  EXPECT_FALSE(nrutil::write_pieces(-1, one, 1));
  const int full = open("/dev/full", O_WRONLY);
  if (full >= 0) {
    EXPECT_FALSE(nrutil::write_pieces(full, one, 1));
    close(full);
  }
}

// A file read through a mapping that is cut short meanwhile: the reading that finds the
// missing page fails and tells where, the process goes on, and reads of pages still there
// work before and after.
TEST_F(RowIo, AFileCutShortUnderItsMappingFailsTheReadingNotTheProcess) {
  const long page = sysconf(_SC_PAGESIZE);
  const std::string bytes(static_cast<std::size_t>(3 * page), 'x');
  const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  nrutil::FileWindow window;
  const unsigned char* p = window.map(fd, page + 5, static_cast<std::size_t>(page));
  ASSERT_NE(p, nullptr);
  unsigned sum = 0;
  EXPECT_TRUE(nrutil::read_mapped([&] { sum += p[0] + p[page - 1]; }));
  EXPECT_EQ(sum, 2u * 'x');
  ASSERT_EQ(ftruncate(fd, page), 0);  // the mapped stretch now lies past the end
  const void* fault = nullptr;
  EXPECT_FALSE(nrutil::read_mapped(
      [&] { sum += *static_cast<const volatile unsigned char*>(p + 10); }, &fault));
  EXPECT_EQ(fault, p + 10);
  EXPECT_TRUE(window.holds(fault));
  EXPECT_FALSE(window.holds(bytes.data()));
  const unsigned char* q = window.map(fd, 0, static_cast<std::size_t>(page));
  ASSERT_NE(q, nullptr);
  EXPECT_TRUE(nrutil::read_mapped([&] { sum = q[1]; }));
  EXPECT_EQ(sum, unsigned{'x'});
  close(fd);
}

}  // namespace
