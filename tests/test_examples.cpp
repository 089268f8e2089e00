// End-to-end runs of the built program as a child process, answers on standard input, in a
// scratch folder holding a copy of the sample study area of examples/: the three sample runs
// and one run for each output format. The console text and every file a run writes are
// compared byte for byte with tests/golden/<run>/. With TESSERA_UPDATE_GOLDEN=1 (make golden)
// the expected files are rewritten instead; review that change before committing it.
// Further tests check the expected files themselves against the file layouts.
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/wait.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/session.h"

namespace fs = std::filesystem;
using testing_support::read_file;
using testing_support::ScratchDir;
using testing_support::write_file;

namespace {

const fs::path kRepo = fs::path(TESSERA_TEST_DATA).parent_path().parent_path();
const fs::path kExamples = kRepo / "examples";
const fs::path kGolden = kRepo / "tests" / "golden";
const fs::path kAnswers = kRepo / "tests" / "e2e";
const char* const kConsole = "console.txt";

struct RunCase {
  const char* name;
  fs::path answers;
  int status;
};

const RunCase kRuns[] = {
    // The sample runs of the README and make demo.
    {"en", kExamples / "answers_en.txt", 0},  // cell mesh, drawn, points, BMP, raw mask
    {"fr", kExamples / "answers_fr.txt", 0},  // moving window, ASCII, BMP mask, origin asked
    {"es", kExamples / "answers_es.txt", 0},  // raw output, missing descriptor written
    // The English run again with the two other output formats (and mask formats).
    {"mesh_raw", kAnswers / "mesh_raw.txt", 0},
    {"mesh_asc", kAnswers / "mesh_asc.txt", 0},
    // Moving window with its mesh drawn, ASCII inputs, BMP output.
    {"window_bmp", kAnswers / "window_bmp.txt", 0},
    // Answers that end in the middle of the dialogue.
    {"es_cut", kAnswers / "es_cut.txt", 1},
};

void PrintTo(const RunCase& c, std::ostream* os) {
  *os << c.name;
}

bool updating() {
  const char* v = std::getenv("TESSERA_UPDATE_GOLDEN");
  return v != nullptr && *v != '\0' && std::string(v) != "0";
}

struct Outcome {
  int status = -1;
  std::string console;
  std::string errors;
  std::map<std::string, std::string> written;  // new file in zone1 -> its bytes
  std::vector<std::string> changed_inputs;     // files of the sample area that changed
};

std::string quoted(const std::string& s) {
  return "'" + s + "'";
}

// Runs the program in dir on a fresh copy of examples/zone1 under the given locale.
Outcome run_program(const fs::path& answers, const std::string& locale, const ScratchDir& dir) {
  Outcome o;
  const fs::path zone = fs::path(dir.path()) / "zone1";
  fs::copy(kExamples / "zone1", zone, fs::copy_options::recursive);
  const std::string cmd = "cd " + quoted(dir.path()) + " && LC_ALL=" + locale + " " +
                          quoted(TESSERA_BINARY) + " < " + quoted(answers.string()) +
                          " > console.out 2> errors.out";
  const int raw = std::system(cmd.c_str());
  o.status = (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1;
  o.console = read_file(dir.file("console.out"));
  o.errors = read_file(dir.file("errors.out"));
  for (const auto& entry : fs::directory_iterator(zone)) {
    const std::string name = entry.path().filename().string();
    const fs::path input = kExamples / "zone1" / name;
    std::string bytes = read_file(entry.path().string());
    if (!fs::exists(input)) {
      o.written[name] = std::move(bytes);
    } else if (bytes != read_file(input.string())) {
      o.changed_inputs.push_back(name);
    }
  }
  return o;
}

std::string printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x7F) {
      const char* hex = "0123456789ABCDEF";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Empty when equal; otherwise where and how the two byte strings first differ.
std::string difference(const std::string& want, const std::string& got) {
  if (want == got) return "";
  std::size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
  const auto line = 1 + std::count(want.begin(), want.begin() + static_cast<long>(i), '\n');
  std::ostringstream s;
  s << "sizes " << want.size() << " expected, " << got.size() << " got; first difference at byte "
    << i << " (line " << line << "): expected \"" << printable(want.substr(i, 60)) << "\", got \""
    << printable(got.substr(i, 60)) << "\"";
  return s.str();
}

std::map<std::string, std::string> golden_files(const std::string& run) {
  std::map<std::string, std::string> files;
  const fs::path dir = kGolden / run;
  if (!fs::is_directory(dir)) return files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    files[entry.path().filename().string()] = read_file(entry.path().string());
  }
  return files;
}

std::string golden(const std::string& run, const std::string& file) {
  return read_file((kGolden / run / file).string());
}

void write_golden(const std::string& run, const Outcome& o) {
  const fs::path dir = kGolden / run;
  fs::remove_all(dir);
  fs::create_directories(dir);
  write_file((dir / kConsole).string(), o.console);
  for (const auto& [name, bytes] : o.written) write_file((dir / name).string(), bytes);
}

class GoldenRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(GoldenRun, ConsoleAndEveryFileMatchTheExpectedBytes) {
  const RunCase& c = GetParam();
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const Outcome o = run_program(c.answers, "C", dir);

  EXPECT_EQ(o.status, c.status) << "exit status of run " << c.name;
  EXPECT_EQ(o.errors, "") << "nothing goes to standard error";
  EXPECT_TRUE(o.changed_inputs.empty()) << "an input file was modified: " << o.changed_inputs[0];

  if (updating()) {
    write_golden(c.name, o);
    std::cout << "rewrote tests/golden/" << c.name << " (" << o.written.size() << " files)\n";
    return;
  }
  std::map<std::string, std::string> want = golden_files(c.name);
  ASSERT_TRUE(want.count(kConsole)) << "no tests/golden/" << c.name << "; run make golden";
  EXPECT_EQ(difference(want[kConsole], o.console), "") << "console text of run " << c.name;
  want.erase(kConsole);

  std::set<std::string> want_names, got_names;
  for (const auto& kv : want) want_names.insert(kv.first);
  for (const auto& kv : o.written) got_names.insert(kv.first);
  EXPECT_EQ(want_names, got_names) << "the files run " << c.name << " writes";
  for (const auto& [name, bytes] : o.written) {
    if (want.count(name)) {
      EXPECT_EQ(difference(want[name], bytes), "") << "file " << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, GoldenRun, ::testing::ValuesIn(kRuns),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the console under a UTF-8 locale ----

// The UTF-8 form of the code page 850 characters the program prints; any other byte above
// 0x7F in the console text is a fault.
std::string cp850_as_utf8(const std::string& bytes) {
  static const std::map<unsigned char, const char*> table = {
      {0x85, "\xC3\xA0"},     {0x87, "\xC3\xA7"},     {0x88, "\xC3\xAA"},
      {0x8A, "\xC3\xA8"},     {0x8C, "\xC3\xAE"},     {0xA0, "\xC3\xA1"},
      {0x82, "\xC3\xA9"},     {0xA1, "\xC3\xAD"},     {0xA2, "\xC3\xB3"},
      {0xA3, "\xC3\xBA"},     {0x97, "\xC3\xB9"},     {0xA4, "\xC3\xB1"},
      {0xA8, "\xC2\xBF"},     {0xC9, "\xE2\x95\x94"}, {0xBB, "\xE2\x95\x97"},
      {0xBC, "\xE2\x95\x9D"}, {0xC8, "\xE2\x95\x9A"}, {0xCD, "\xE2\x95\x90"},
      {0xBA, "\xE2\x95\x91"},
  };
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (auto it = table.find(c); it != table.end()) {
      out += it->second;
    } else {
      ADD_FAILURE() << "unexpected console byte " << int{c};
    }
  }
  return out;
}

TEST(Utf8Console, AccentsAndBoxCharactersArriveAsUtf8WhileTheFilesKeepTheirBytes) {
  if (updating()) GTEST_SKIP() << "expected files are being rewritten";
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  if (utf8 == locale_t{}) GTEST_SKIP() << "this system has no C.UTF-8 locale";
  freelocale(utf8);
  for (const char* run : {"fr", "es"}) {
    SCOPED_TRACE(run);
    ScratchDir dir;
    const Outcome o =
        run_program(kExamples / (std::string("answers_") + run + ".txt"), "C.UTF-8", dir);
    EXPECT_EQ(o.status, 0);
    const std::string cp850 = golden(run, kConsole);
    ASSERT_NE(cp850.find('\x82'), std::string::npos) << "the run prints an e acute";
    EXPECT_EQ(difference(cp850_as_utf8(cp850), o.console), "");
    EXPECT_NE(o.console.find("\xE2\x95\x94"), std::string::npos) << "top-left box corner";
    EXPECT_NE(o.console.find("\xC3\xA9"), std::string::npos) << "e acute";
    for (const auto& [name, bytes] : o.written) {
      EXPECT_EQ(difference(golden(run, name), bytes), "") << "file " << name;
    }
  }
}

// ---- the expected files against the file layouts ----

struct Grid {
  int rows = 0, cols = 0;
  std::vector<unsigned char> cells;
  unsigned char at(int i, int j) const {
    return cells[static_cast<std::size_t>(i) * static_cast<std::size_t>(cols) +
                 static_cast<std::size_t>(j)];
  }
};

std::uint32_t le32(const std::string& b, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

// An 8-bit grey BMP: 54-byte header, 256-entry grey palette, rows last first, padded to 4.
Grid decode_bmp(const std::string& b) {
  Grid g;
  EXPECT_GE(b.size(), 1078u);
  if (b.size() < 1078) return g;
  EXPECT_EQ(b.substr(0, 2), "BM");
  EXPECT_EQ(le32(b, 10), 1078u) << "pixel offset";
  EXPECT_EQ(le32(b, 14), 40u) << "info header size";
  EXPECT_EQ(static_cast<unsigned char>(b[28]), 8) << "bits per pixel";
  for (int v = 0; v < 256; ++v) {
    const std::string want{static_cast<char>(v), static_cast<char>(v), static_cast<char>(v), 0};
    EXPECT_EQ(b.substr(54 + 4 * static_cast<std::size_t>(v), 4), want) << "palette entry " << v;
  }
  g.cols = static_cast<int>(le32(b, 18));
  g.rows = static_cast<int>(le32(b, 22));
  const std::size_t stride = (static_cast<std::size_t>(g.cols) + 3) / 4 * 4;
  EXPECT_EQ(b.size(), 1078 + stride * static_cast<std::size_t>(g.rows)) << "file size";
  EXPECT_EQ(le32(b, 2), b.size()) << "size field";
  if (b.size() != 1078 + stride * static_cast<std::size_t>(g.rows)) return g;
  for (int i = 0; i < g.rows; ++i) {
    const std::size_t row = 1078 + stride * static_cast<std::size_t>(g.rows - 1 - i);
    g.cells.insert(g.cells.end(), b.begin() + static_cast<long>(row),
                   b.begin() + static_cast<long>(row) + g.cols);
    for (std::size_t p = row + static_cast<std::size_t>(g.cols); p < row + stride; ++p) {
      EXPECT_EQ(b[p], '\0') << "row padding";
    }
  }
  return g;
}

// A raw image with its descriptor: six lines (rows, columns, 1, 0, 255, pixel size).
Grid decode_raw(const std::string& bytes, const std::string& descriptor, int pixel) {
  Grid g;
  std::istringstream d(descriptor);
  int third = 0, lo = 0, hi = 0, pix = 0;
  d >> g.rows >> g.cols >> third >> lo >> hi >> pix;
  EXPECT_EQ(descriptor, std::to_string(g.rows) + "\n" + std::to_string(g.cols) + "\n1\n0\n255\n" +
                            std::to_string(pixel) + "\n");
  EXPECT_EQ(bytes.size(), static_cast<std::size_t>(g.rows) * static_cast<std::size_t>(g.cols));
  g.cells.assign(bytes.begin(), bytes.end());
  return g;
}

// A result ASCII grid: the six header lines as written, then every value followed by a
// tab, all on one line, no line break at the end.
Grid decode_asc(const std::string& text, const std::string& corner_lines) {
  Grid g;
  std::istringstream s(text);
  std::string line;
  std::getline(s, line);
  EXPECT_EQ(line.rfind("ncols ", 0), 0u) << line;
  g.cols = std::stoi(line.substr(6));
  std::getline(s, line);
  EXPECT_EQ(line.rfind("nrows ", 0), 0u) << line;
  g.rows = std::stoi(line.substr(6));
  std::string corner;
  for (int k = 0; k < 4; ++k) {
    std::getline(s, line);
    corner += line + "\n";
  }
  EXPECT_EQ(corner, corner_lines);
  std::getline(s, line);
  EXPECT_TRUE(s.eof()) << "the values stand on one line";
  EXPECT_EQ(line.back(), '\t') << "the file ends with a tab";
  std::istringstream values(line);
  int v = 0;
  while (values >> v) g.cells.push_back(static_cast<unsigned char>(v));
  EXPECT_EQ(g.cells.size(), static_cast<std::size_t>(g.rows) * static_cast<std::size_t>(g.cols));
  return g;
}

Grid sample_raw(const std::string& name) {
  const std::string base = (kExamples / "zone1" / name).string();
  return decode_raw(read_file(base + ".raw"), read_file(base + ".txt"), 25);
}

TEST(ExpectedFiles, TheThreeOutputFormatsHoldTheSameLevelGrid) {
  const Grid bmp = decode_bmp(golden("en", "res_en_tessum.bmp"));
  const Grid raw = decode_raw(golden("mesh_raw", "res_raw_tessum.raw"),
                              golden("mesh_raw", "res_raw_tessum.txt"), 25);
  const Grid asc = decode_asc(golden("mesh_asc", "res_asc_tessum.asc"),
                              "xllcorner 431250.000000\nyllcorner 4582500.000000\n"
                              "cellsize 25.000000\nnodata_value -9999.9999\n");
  EXPECT_EQ(bmp.rows, 203);
  EXPECT_EQ(bmp.cols, 303);
  EXPECT_EQ(raw.rows, bmp.rows);
  EXPECT_EQ(asc.rows, bmp.rows);
  EXPECT_EQ(raw.cols, bmp.cols);
  EXPECT_EQ(asc.cols, bmp.cols);
  EXPECT_TRUE(bmp.cells == raw.cells) << "BMP and raw results differ";
  EXPECT_TRUE(bmp.cells == asc.cells) << "BMP and ASCII results differ";
}

// The drawn square cell mesh of the English run, cell by cell: 254 outside the study area
// of the mask, 255 where geology holds 0 (the lake), 0 on the mesh lines (every fifth row
// and column of the data area and the closing row and column), a level elsewhere.
TEST(ExpectedFiles, MeshLinesLevelsAndMaskedAreaOfTheEnglishResult) {
  const Grid out = decode_bmp(golden("en", "res_en_tessum.bmp"));
  const Grid mask = sample_raw("mask");
  const Grid geol = sample_raw("geol");
  ASSERT_EQ(out.cells.size(), mask.cells.size());
  int levels_seen[256] = {};
  for (int i = 0; i < out.rows; ++i) {
    for (int j = 0; j < out.cols; ++j) {
      const bool in_data = i <= 200 && j <= 300;  // rows 0-199 and the closing row 200
      const bool line = in_data && (i % 5 == 0 || j % 5 == 0);
      const int v = out.at(i, j);
      int want_kind;  // 254, 255, 0, or 1 for "a level"
      if (mask.at(i, j) == 255) {
        want_kind = 254;
      } else if (geol.at(i, j) == 0) {
        want_kind = 255;
      } else if (line) {
        want_kind = 0;
      } else {
        want_kind = in_data ? 1 : 255;
      }
      const int kind = (v >= 1 && v <= 10) ? 1 : v;
      ASSERT_EQ(kind, want_kind) << "row " << i << " column " << j << " value " << v;
      ++levels_seen[v];
    }
  }
  // Level 1 holds the sums near 0: in this area only the lake, which the geology blanks.
  EXPECT_EQ(levels_seen[1], 0);
  for (int level = 2; level <= 10; ++level) EXPECT_GT(levels_seen[level], 0) << "level " << level;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

// Histogram of a drawn square cell mesh: the cell table, a line holding one blank, the
// point table; every line after the first begins with a blank.
TEST(ExpectedFiles, HistogramAndPointFilesOfTheEnglishRun) {
  const int levels = 10;
  const std::vector<std::string> histo = lines_of(golden("en", "res_en_histo.xls"));
  ASSERT_EQ(histo.size(), 2u * levels + 2);
  long cells = 0, points = 0;
  for (int k = 0; k < levels; ++k) {
    const std::string cell_line = histo[static_cast<std::size_t>(k)];
    const std::string point_line = histo[static_cast<std::size_t>(levels + 1 + k)];
    const std::string lead = k == 0 ? "" : " ";
    EXPECT_EQ(cell_line.rfind(lead + std::to_string(k + 1) + "\t", 0), 0u) << cell_line;
    EXPECT_EQ(point_line.rfind(lead + std::to_string(k + 1) + "\t", 0), 0u) << point_line;
    cells += std::stol(cell_line.substr(cell_line.find('\t') + 1));
    points += std::stol(point_line.substr(point_line.find('\t') + 1));
  }
  EXPECT_EQ(histo[static_cast<std::size_t>(levels)], " ");
  EXPECT_EQ(histo.back(), " ") << "the file ends with the blank of the last line";
  // Counted cells: rows 0-198, columns 0-298, less the mesh lines (every fifth row/column).
  EXPECT_EQ(cells, (199L - 40) * (299 - 60));

  const std::vector<std::string> ij = lines_of(golden("en", "res_en_points_ij.txt"));
  const std::vector<std::string> utm = lines_of(golden("en", "res_en_points_utm.txt"));
  // One point per cell centre: rows 2, 7, ..., 197 (up to 203 - 2 inclusive) and
  // columns 2, 7, ..., 297 (below 303 - 2): 40 x 60 points.
  ASSERT_EQ(ij.size(), 40u * 60);
  ASSERT_EQ(utm.size(), ij.size());
  EXPECT_EQ(points, static_cast<long>(ij.size()));
  const Grid out = decode_bmp(golden("en", "res_en_tessum.bmp"));
  double last_north = 1e300;
  for (std::size_t n = 0; n < ij.size(); ++n) {
    int j = 0, i = 0, level = 0;
    ASSERT_EQ(std::sscanf(ij[n].c_str(), "%d\t%d\t%d", &j, &i, &level), 3) << ij[n];
    EXPECT_EQ(j, 2 + 5 * static_cast<int>(n % 60));
    EXPECT_EQ(i, 2 + 5 * static_cast<int>(n / 60));
    double east = 0, north = 0, real_level = 0;
    ASSERT_EQ(std::sscanf(utm[n].c_str(), "%lf\t%lf\t%lf", &east, &north, &real_level), 3);
    EXPECT_EQ(real_level, level) << utm[n];
    EXPECT_GE(level, 1);
    EXPECT_LE(level, levels);
    // The point takes the level of its centre pixel, unless the mask blanked it.
    const int v = out.at(i, j);
    if (v >= 1 && v <= levels) {
      EXPECT_EQ(level, v) << ij[n];
    }
    // First point of each row: X_min + pixel x half cell; eastings grow along a row,
    // northings fall from row to row.
    if (n % 60 == 0) {
      EXPECT_DOUBLE_EQ(east, 431250.0 + 25 * 2.5) << utm[n];
      EXPECT_LT(north, last_north) << utm[n];
      last_north = north;
    } else {
      EXPECT_EQ(north, last_north) << utm[n];
    }
  }
}

// ---- the sample area and the demo ----

bool have_python3() {
  return std::system("command -v python3 > /dev/null 2>&1") == 0;
}

TEST(SampleArea, TheCommittedFilesAreWhatTheGeneratorWrites) {
  if (!have_python3()) GTEST_SKIP() << "python3 is not installed";
  ScratchDir dir;
  const std::string cmd = "python3 " + quoted((kExamples / "make_sample.py").string()) + " " +
                          quoted(dir.file("zone1"));
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  std::set<std::string> made, committed;
  for (const auto& e : fs::directory_iterator(dir.file("zone1"))) {
    const std::string name = e.path().filename().string();
    made.insert(name);
    EXPECT_EQ(read_file(e.path().string()), read_file((kExamples / "zone1" / name).string()))
        << name << " differs from the generator's output; run make sample";
  }
  for (const auto& e : fs::directory_iterator(kExamples / "zone1")) {
    committed.insert(e.path().filename().string());
  }
  EXPECT_EQ(made, committed);
}

// make demo: every sample run ends with status 0 and its listing names the files the run
// writes (those of the expected files), with their sizes.
TEST(Demo, ListsEveryFileOfTheThreeSampleRunsWithItsSize) {
  if (updating()) GTEST_SKIP() << "expected files are being rewritten";
  ScratchDir dir;
  const std::string cmd = quoted((kExamples / "demo.sh").string()) + " " + quoted(TESSERA_BINARY) +
                          " " + quoted(dir.file("demo")) + " > " + quoted(dir.file("listing.txt")) +
                          " 2>&1";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  const std::string listing = read_file(dir.file("listing.txt"));
  for (const char* run : {"en", "fr", "es"}) {
    EXPECT_NE(listing.find(std::string("answers_") + run + ".txt: exit status 0"),
              std::string::npos)
        << listing;
    for (const auto& [name, bytes] : golden_files(run)) {
      if (name == kConsole) continue;
      char line[256];
      std::snprintf(line, sizeof line, "   %10zu  %s\n", bytes.size(), name.c_str());
      EXPECT_NE(listing.find(line), std::string::npos) << "missing: " << line << listing;
    }
  }
}

}  // namespace
