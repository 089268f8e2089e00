// Faults while writing, each through the built program: every output file of a complete run
// (report, histogram, point files, result image and its descriptor, a descriptor written for
// an input) in turn cannot be created, meets a full disk, or would replace an input file.
// The run must stop with exit status 1 and a message naming that file, never wait, and
// leave the input files as they were.
//
// The tests run as root, for whom a folder without write permission is still writable, so
// "cannot be created" is made another way: the output name is taken by a named pipe or a
// folder, or is a link into a folder that does not exist. A full disk is a limit on the
// size of the files the program writes (RLIMIT_FSIZE), so that a write past it fails.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/child.h"
#include "support/images.h"

namespace {

using testing_support::changed_files;
using testing_support::ChildOptions;
using testing_support::ChildRun;
using testing_support::mesh_cells;
using testing_support::run_binary;
using testing_support::ScratchDir;
using testing_support::snapshot;
using testing_support::write_file;

// A folder holding zone/geol.raw + geol.txt.
struct Area {
  Area() {
    std::filesystem::create_directories(zone);
    write_file(zone + "/geol.raw", mesh_cells());
    write_file(zone + "/geol.txt", "12\n12\n1\n0\n255\n30\n");
  }
  // Answers from the disk on; `rest` follows the folder name.
  std::string answers(const std::string& rest, const std::string& folder = "zone") const {
    return "0\n2\n" + dir.path() + "\n" + folder + "\n" + rest;
  }
  // A complete run: one raw image, result "res" in `format`, 5 levels, the cell mesh drawn
  // (type confirmed, map origin 100/200, window range 1), so every output file is written.
  ChildRun run(int format) const {
    return run_binary(
        answers("1\ngeol\n0\n1\n1\nres\n" + std::to_string(format) + "\n5\n0\n0\n100\n200\n1\n"));
  }
  std::string named(const std::string& file) const { return dir.path() + "\\zone\\" + file; }
  ScratchDir dir;
  std::string zone = dir.file("zone");
};

const char* const kOutputs0[] = {"res_info.txt",       "res_histo.xls",  "res_points_ij.txt",
                                 "res_points_utm.txt", "res_tessum.txt", "res_tessum.raw"};

TEST(WriteFaults, TheCompleteRunWritesEveryOutputFile) {
  for (int format = 0; format <= 2; ++format) {
    Area a;
    const ChildRun r = a.run(format);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.err, "");
    for (const char* name : kOutputs0) {
      const std::string file = std::string(name);
      if (format != 0 && file.rfind("res_tessum", 0) == 0) continue;
      EXPECT_TRUE(std::filesystem::file_size(a.zone + "/" + file) > 0) << file;
    }
    const char* const result[] = {"res_tessum.raw", "res_tessum.bmp", "res_tessum.asc"};
    EXPECT_TRUE(std::filesystem::file_size(a.zone + "/" + result[format]) > 0);
  }
}

enum class Fault { NamedPipe, NameIsAFolder, FolderMissing };

struct WriteFault {
  std::string file;
  int format;
  Fault fault;
};

void PrintTo(const WriteFault& w, std::ostream* os) {
  *os << w.file << "/" << static_cast<int>(w.fault);
}

std::vector<WriteFault> write_faults() {
  std::vector<WriteFault> v;
  for (Fault f : {Fault::NamedPipe, Fault::NameIsAFolder, Fault::FolderMissing}) {
    for (const char* name : kOutputs0) v.push_back({name, 0, f});
    v.push_back({"res_tessum.bmp", 1, f});
    v.push_back({"res_tessum.asc", 2, f});
  }
  return v;
}

class WriteFaultRun : public ::testing::TestWithParam<WriteFault> {};

TEST_P(WriteFaultRun, StopsWithStatus1NamingTheFile) {
  const WriteFault& w = GetParam();
  Area a;
  const std::string path = a.zone + "/" + w.file;
  switch (w.fault) {
    case Fault::NamedPipe:
      ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
      break;
    case Fault::NameIsAFolder:
      std::filesystem::create_directory(path);
      break;
    case Fault::FolderMissing:
      std::filesystem::create_symlink(a.dir.file("no_such_folder/x"), path);
      break;
  }
  const auto before = snapshot(a.dir.path());

  // A named pipe opened for writing would wait for a reader: a hang shows as status 124.
  const ChildRun r = a.run(w.format);

  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.err, "");
  const std::string why = w.fault == Fault::FolderMissing
                              ? "No such file or directory"
                              : "the name is taken by a folder, a device or a named pipe";
  EXPECT_NE(r.out.find("Cannot create the file " + a.named(w.file) + ": " + why), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\tThe run stops.\n"), std::string::npos);
  EXPECT_EQ(changed_files(before, snapshot(a.dir.path())), "");
}

std::string fault_name(const ::testing::TestParamInfo<WriteFault>& info) {
  std::string n = info.param.file;
  for (char& c : n) {
    if (c == '.') c = '_';
  }
  const char* const kinds[] = {"NamedPipe", "NameIsAFolder", "FolderMissing"};
  return n + "_" + kinds[static_cast<int>(info.param.fault)];
}

INSTANTIATE_TEST_SUITE_P(EveryOutput, WriteFaultRun, ::testing::ValuesIn(write_faults()),
                         fault_name);

// A full disk under each output file in turn: the limit lets every file written before it
// through and stops that one. A descriptor is written whole or not at all, and no partly
// written temporary file is left behind.
struct FullDiskCase {
  std::string file;     // in zone/
  std::string answers;  // after the folder name
  long long limit;      // bytes any file may hold
  bool descriptor = false;
};

void PrintTo(const FullDiskCase& c, std::ostream* os) {
  *os << c.file;
}

class FullDiskRun : public ::testing::TestWithParam<FullDiskCase> {};

TEST_P(FullDiskRun, StopsWithStatus1NamingTheFile) {
  const FullDiskCase& c = GetParam();
  Area a;
  write_file(a.zone + "/nodesc.raw", mesh_cells());
  const auto before = snapshot(a.dir.path());
  ChildOptions o;
  o.file_limit = c.limit;

  const ChildRun r = run_binary(a.answers(c.answers), o);

  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("Cannot write the file " + a.named(c.file) + ": "), std::string::npos)
      << r.out;
  EXPECT_EQ(changed_files(before, snapshot(a.dir.path())), "");
  for (const auto& e : std::filesystem::directory_iterator(a.zone)) {
    EXPECT_NE(e.path().filename().string().rfind(".tsr", 0), 0u) << e.path();
  }
  if (c.descriptor) {
    EXPECT_FALSE(std::filesystem::exists(a.zone + "/" + c.file)) << "a descriptor cut short";
  }
}

// The histogram's first table (27 bytes), the point files (104 and 352 bytes) and the result
// descriptor (17 bytes) come first when the mesh is drawn; without the mesh the result and
// then the report (836 bytes) are written.
const std::string kMesh = "1\ngeol\n0\n1\n1\nres\n0\n5\n0\n0\n100\n200\n1\n";
std::string no_mesh(int format) {
  return "1\ngeol\n0\n1\n1\nres\n" + std::to_string(format) + "\n5\n1\n" +
         (format == 2 ? "100\n200\n" : "");
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutput, FullDiskRun,
    ::testing::Values(FullDiskCase{"res_histo.xls", kMesh, 10},
                      FullDiskCase{"res_points_ij.txt", kMesh, 60},
                      FullDiskCase{"res_points_utm.txt", kMesh, 200},
                      FullDiskCase{"res_tessum.txt", no_mesh(0), 10, true},
                      FullDiskCase{"res_tessum.raw", no_mesh(0), 50},
                      FullDiskCase{"res_tessum.bmp", no_mesh(1), 100},
                      FullDiskCase{"res_tessum.asc", no_mesh(2), 100},
                      FullDiskCase{"res_info.txt", no_mesh(0), 400},
                      FullDiskCase{"nodesc.txt", "1\nnodesc\n0\n1\n1\nres\n0\n5\n12\n12\n30\n", 10,
                                   true}),
    [](const auto& info) {
      std::string n = info.param.file;
      for (char& ch : n) {
        if (ch == '.') ch = '_';
      }
      return n;
    });

// A folder or an image that does not exist is told right after its answer: the folder
// after the folder question, the first missing image once every type is known (before the
// weights). A name that is a file, not a folder, is refused likewise.
TEST(MissingInputs, AreToldRightAfterTheirAnswers) {
  Area a;
  write_file(a.zone + "/file", "x");
  const auto before = snapshot(a.dir.path());
  const struct {
    std::string answers;  // each ends right after the answer that names the missing input
    std::string told;
  } cases[] = {
      {a.answers("", "nowhere"),
       "Cannot open the folder " + a.dir.path() + "\\nowhere: No such file or directory"},
      {a.answers("", "zone/file"),
       "Cannot open the folder " + a.dir.path() + "\\zone/file: Not a directory"},
      {a.answers("3\ngeol\nlost\nlost\n0\n1\n2\n"),
       "Cannot read the file " + a.named("lost.bmp") + ": the file does not exist"},
      {a.answers("2\nlost\ngeol\n0\n0\n"), "No File  " + a.named("lost.raw")},
  };
  for (const auto& c : cases) {
    const ChildRun r = run_binary(c.answers);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(c.told), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("End of input"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Weight of the image"), std::string::npos) << r.out;
  }
  EXPECT_EQ(changed_files(before, snapshot(a.dir.path())), "");
  EXPECT_FALSE(std::filesystem::exists(a.dir.file("nowhere")));
  EXPECT_FALSE(std::filesystem::exists(a.zone + "/res_histo.xls"));
}

// The console on a full device: the run's files are written, but the lost text is a failure.
TEST(WriteFaults, ConsoleOnAFullDeviceGivesStatus1) {
  Area a;
  ScratchDir io;
  write_file(io.file("in"), "0\n2\n" + a.dir.path() + "\nzone\n1\ngeol\n0\n1\n1\nres\n0\n5\n1\n");
  const std::string cmd = std::string("LC_ALL=C '") + TESSERA_BINARY + "' < '" + io.file("in") +
                          "' > /dev/full 2> '" + io.file("err") + "'";
  const int raw = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 1);
  EXPECT_EQ(testing_support::read_file(io.file("err")),
            "tessera_summary: the console output could not be written\n");
  EXPECT_TRUE(std::filesystem::file_size(a.zone + "/res_tessum.raw") > 0);
}

// The console read by a program that has already gone (`tessera_summary < answers | head`):
// the failed writes are told on stderr and the status is 1, not an unseen end by SIGPIPE.
TEST(WriteFaults, ConsoleClosedByItsReaderGivesStatus1) {
  Area a;
  ChildOptions o;
  o.console_closed = true;
  const ChildRun r = run_binary(a.answers("1\ngeol\n0\n1\n1\nres\n0\n5\n1\n"), o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tessera_summary: the console output could not be written\n");
  EXPECT_TRUE(std::filesystem::file_size(a.zone + "/res_tessum.raw") > 0);
}

// The run record, the .prj and the result are written last through temporary files of
// unpredictable names created exclusively: a named pipe, a link to an input or a folder
// planted where a temporary name could be guessed never makes the run wait, write through the
// link or fail; a folder holding the record's own name stops the run before any output is
// replaced.
TEST(WriteFaults, TemporaryNamesCannotBePlantedAndTheRecordNameIsCheckedFirst) {
  Area a;
  std::string cells;
  for (int k = 0; k < 144; ++k) cells += std::to_string(k % 5 + 1) + " ";
  write_file(a.zone + "/g.asc", "ncols 12\nnrows 12\nx 0\ny 0\nc 30\nn 255\n" + cells);
  write_file(a.zone + "/g.prj", "PROJCS[\"x\"]");
  ASSERT_EQ(mkfifo((a.zone + "/res_run.json.part").c_str(), 0600), 0);
  std::filesystem::create_symlink("g.asc", a.zone + "/res_tessum.prj.part");
  const auto before = snapshot(a.dir.path());
  const ChildRun r = run_binary(a.answers("1\ng\n2\n1\n1\nres\n2\n5\n1\n"));
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(changed_files(before, snapshot(a.dir.path())), "");
  EXPECT_EQ(testing_support::read_file(a.zone + "/res_tessum.prj"), "PROJCS[\"x\"]");

  Area b;
  std::filesystem::create_directory(b.zone + "/res_run.json");
  const ChildRun held = b.run(0);
  EXPECT_EQ(held.status, 1);
  EXPECT_NE(held.out.find("Cannot create the file " + b.named("res_run.json") + ": "),
            std::string::npos)
      << held.out;
  EXPECT_FALSE(std::filesystem::exists(b.zone + "/res_histo.xls"));
}

// A run that stops at the map-origin questions of an ASCII result leaves the earlier result
// whole, and a result name too long for the folder is refused before anything is written.
TEST(WriteFaults, AStoppedRunLeavesTheEarlierResultAndLongNamesAreRefusedFirst) {
  Area a;
  const std::string head = "1\ngeol\n0\n1\n1\n";
  ASSERT_EQ(run_binary(a.answers(head + "res\n2\n5\n1\n100\n200\n")).status, 0);
  const std::string earlier = testing_support::read_file(a.zone + "/res_tessum.asc");
  const ChildRun stopped = run_binary(a.answers(head + "res\n2\n5\n1\n100\n"));
  EXPECT_EQ(stopped.status, 1);
  EXPECT_EQ(testing_support::read_file(a.zone + "/res_tessum.asc"), earlier);

  const auto before = snapshot(a.dir.path());
  const std::string long_name(245, 'r');  // fits with "_histo.xls", not with "_points_ij.txt"
  const ChildRun r = run_binary(a.answers(head + long_name + "\n2\n5\n1\n100\n200\n"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("Cannot create the file " + a.named(long_name + "_points_ij.txt") +
                       ": File name too long"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(snapshot(a.dir.path()), before);  // nothing changed, nothing new
}

// A record left by an earlier run is removed once the run starts replacing outputs, so a run
// that stops never leaves a record that describes files it did not write; a run that stops
// before replacing anything leaves it.
TEST(WriteFaults, AStaleRunRecordGoesWhenOutputsAreReplaced) {
  Area a;
  const std::string record = a.zone + "/res_run.json";
  const std::string head = "0\n2\n" + a.dir.path() + "\nzone\n1\ngeol\n0\n1\n1\n";
  write_file(record, "{}");
  EXPECT_EQ(run_binary(head).status, 1);  // ends before the result name
  EXPECT_TRUE(std::filesystem::exists(record));
  EXPECT_EQ(run_binary(head + "res\n0\n").status, 1);  // ends after the histogram's creation
  EXPECT_TRUE(std::filesystem::exists(a.zone + "/res_histo.xls"));
  EXPECT_FALSE(std::filesystem::exists(record));
}

// An output name that names an input file: the run stops before writing anything over it.
struct Clash {
  std::string label;
  std::string answers;    // after the folder
  std::string output;     // the output file the message names
  std::string input;      // the input file it would have replaced
  std::string link = {};  // made a link to geol.raw first, when not empty
};

void PrintTo(const Clash& c, std::ostream* os) {
  *os << c.label;
}

class OutputOverInput : public ::testing::TestWithParam<Clash> {};

TEST_P(OutputOverInput, StopsBeforeTheInputIsReplaced) {
  const Clash& c = GetParam();
  Area a;
  const std::string mesh = mesh_cells();
  for (const char* base : {"res_info", "res_tessum", "res_points_ij"}) {
    write_file(a.zone + "/" + base + ".raw", mesh);
    write_file(a.zone + "/" + base + ".txt", "12\n12\n1\n0\n255\n30\n");
  }
  if (!c.link.empty()) std::filesystem::create_symlink("geol.raw", a.zone + "/" + c.link);
  const auto before = snapshot(a.dir.path());

  const ChildRun r = run_binary("0\n2\n" + a.dir.path() + "\nzone\n" + c.answers);

  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_NE(r.out.find("The file " + a.named(c.output) + " would replace the input file " +
                       a.named(c.input) + ".\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(changed_files(before, snapshot(a.dir.path())), "");
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutputOverInput,
    ::testing::Values(
        // The report would replace the descriptor of image "res_info".
        Clash{"ReportOverDescriptor", "1\nres_info\n0\n1\n1\nres\n", "res_info.txt",
              "res_info.txt"},
        // The same, with the result name spelled another way.
        Clash{"ReportOverDescriptorOtherSpelling", "1\nres_info\n0\n1\n1\n./res\n",
              "./res_info.txt", "res_info.txt"},
        // The raw result would replace the image "res_tessum" (checked once the format is
        // known).
        Clash{"RawResultOverImage", "2\ngeol\nres_tessum\n0\n0\n1\n1\n1\nres\n0\n",
              "res_tessum.raw", "res_tessum.raw"},
        // A point file would replace the descriptor of the mask "res_points_ij".
        Clash{"PointFileOverMaskDescriptor", "1\ngeol\n0\n1\n0\nres_points_ij\n0\nres\n",
              "res_points_ij.txt", "res_points_ij.txt"},
        // The run record and the .prj of an ASCII result are outputs too: a link in their
        // place to an input is refused like any other output.
        Clash{"RunRecordOverImage", "1\ngeol\n0\n1\n1\nres\n", "res_run.json", "geol.raw",
              "res_run.json"},
        Clash{"PrjOverImage", "1\ngeol\n0\n1\n1\nres\n2\n", "res_tessum.prj", "geol.raw",
              "res_tessum.prj"}),
    [](const auto& info) { return info.param.label; });

}  // namespace
