// Answers typed by hand or piped from scripts, through the built program, over complete runs
// that reach every kind of question (language, disk, folder, counts, names, formats, weights,
// mask, result, levels, pixel size, the sizes of a raw image without descriptor, the mesh
// questions and the map origin):
// - the answers cut after each one in turn: exit status 1 with the end-of-input message in
//   the run's language, never a hang;
// - a non-number before any numeric answer, and a negative number before any menu or count
//   answer: asked again, and the run writes exactly the files of the run without it;
// - hostile answers: a byte order mark, endless input with no white space, control bytes in
//   names, weights whose sums overflow.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/child.h"
#include "support/images.h"

namespace {

using testing_support::bmp_bytes;
using testing_support::ChildRun;
using testing_support::mesh_cells;
using testing_support::read_file;
using testing_support::run_binary;
using testing_support::ScratchDir;
using testing_support::write_file;

enum class Kind {
  Word,    // a name
  Menu,    // options 0..n, asked again outside them
  Count,   // images or levels, asked again outside 1..99
  Range,   // window range, asked again below 1
  Option,  // the mask answer: any integer (0 yes, else no)
  Int,     // a typed size, taken as it is
  Real,    // a weight, a pixel size, a map coordinate
};

struct Answer {
  std::string token;
  Kind kind;
};

struct Script {
  std::string label;
  std::vector<Answer> answers;       // "DIR" stands for the scratch folder
  std::string end_of_input;          // the end-of-input message in the script's language
  std::vector<std::string> written;  // every file the complete run writes
};

constexpr Kind W = Kind::Word, M = Kind::Menu, C = Kind::Count, G = Kind::Range, O = Kind::Option,
               I = Kind::Int, R = Kind::Real;

const char* const kEndEn = "\n\n\tEnd of input: the run stops.\n";
const char* const kEndFr = "\n\n\tFin des r\x82ponses : le traitement s'arr\x88te.\n";
const char* const kEndEs = "\n\n\tFin de la entrada: el programa se detiene.\n";

std::vector<Script> scripts() {
  return {
      // English; a raw image without descriptor (its sizes are asked during the summation),
      // a BMP image and a BMP mask, ASCII result; square cell mesh drawn with the origin typed.
      {"RawBmpMaskAscii",
       {{"0", M},   {"2", M}, {"DIR", W},   {"zone", W}, {"2", C},  {"nodesc", W}, {"soil", W},
        {"0", M},   {"1", M}, {"1", R},     {"2", R},    {"0", O},  {"mask", W},   {"1", M},
        {"res", W}, {"2", M}, {"5", C},     {"30", R},   {"12", I}, {"12", I},     {"30", I},
        {"0", M},   {"0", M}, {"100.5", R}, {"200", R},  {"1", G}},
       kEndEn,
       {"nodesc.txt", "res_histo.xls", "res_info.txt", "res_points_ij.txt", "res_points_utm.txt",
        "res_run.json", "res_tessum.asc"}},
      // Spanish; an ASCII moving-window image taken for a square cell mesh after all.
      {"AsciiWindowTakenAsMesh",
       {{"2", M},
        {"2", M},
        {"DIR", W},
        {"zone", W},
        {"1", C},
        {"win", W},
        {"2", M},
        {"1.5", R},
        {"1", O},
        {"res", W},
        {"0", M},
        {"7", C},
        {"0", M},
        {"1", M},
        {"0", M},
        {"2", G}},
       kEndEs,
       {"res_histo.xls", "res_info.txt", "res_points_ij.txt", "res_points_utm.txt", "res_run.json",
        "res_tessum.raw", "res_tessum.txt"}},
      // French; a square cell mesh taken for a moving window: warning and mesh questions;
      // BMP result.
      {"MeshTakenAsWindow",
       {{"1", M},
        {"2", M},
        {"DIR", W},
        {"zone", W},
        {"1", C},
        {"geol", W},
        {"0", M},
        {"2.5", R},
        {"1", O},
        {"res", W},
        {"1", M},
        {"4", C},
        {"0", M},
        {"1", M},
        {"1", M},
        {"0", M},
        {"0", M},
        {"0", M}},
       kEndFr,
       {"res_histo.xls", "res_info.txt", "res_run.json", "res_tessum.bmp"}},
  };
}

// The inputs of the scripts, in DIR/zone.
void make_inputs(const std::string& zone) {
  std::filesystem::create_directories(zone);
  const std::string mesh = mesh_cells();
  write_file(zone + "/geol.raw", mesh);
  write_file(zone + "/geol.txt", "12\n12\n1\n0\n255\n30\n");
  write_file(zone + "/nodesc.raw", mesh);
  write_file(zone + "/soil.bmp", bmp_bytes(12, 12, mesh));
  std::string mask, asc =
                        "ncols 12\nnrows 12\nxllcorner 500\nyllcorner 700\ncellsize 20\n"
                        "NODATA_value -9999\n";
  for (int i = 0; i < 12; ++i) {
    for (int j = 0; j < 12; ++j) {
      mask.push_back(static_cast<char>(i + j < 16 ? 1 : 255));
      const bool band = i < 2 || j < 2 || i >= 10 || j >= 10;
      asc += std::to_string(band ? 255 : 1 + (i * j) % 6) + (j == 11 ? "\n" : " ");
    }
  }
  write_file(zone + "/mask.bmp", bmp_bytes(12, 12, mask));
  write_file(zone + "/win.asc", asc);
}

std::string join(const std::vector<Answer>& answers, const std::string& dir) {
  std::string s;
  for (const Answer& a : answers) s += (a.token == "DIR" ? dir : a.token) + "\n";
  return s;
}

// Every file the run wrote (the inputs excluded), with the scratch folder's name made "DIR".
std::map<std::string, std::string> outputs(const std::string& dir) {
  const std::string zone = dir + "/zone";
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(zone)) {
    const std::string name = e.path().filename().string();
    if (name == "geol.raw" || name == "geol.txt" || name == "nodesc.raw" || name == "soil.bmp" ||
        name == "mask.bmp" || name == "win.asc") {
      continue;
    }
    std::string bytes = read_file(e.path());
    for (std::size_t at; (at = bytes.find(dir)) != std::string::npos;)
      bytes.replace(at, dir.size(), "DIR");
    files[name] = bytes;
  }
  return files;
}

// Runs the answers in a fresh study area.
struct Outcome {
  ChildRun run;
  std::map<std::string, std::string> files;
};
Outcome run_script(const std::vector<Answer>& answers) {
  ScratchDir dir;
  make_inputs(dir.file("zone"));
  Outcome o;
  o.run = run_binary(join(answers, dir.path()), 20);
  o.files = outputs(dir.path());
  return o;
}

class Answers : public ::testing::TestWithParam<Script> {};

void PrintTo(const Script& s, std::ostream* os) {
  *os << s.label;
}

TEST_P(Answers, TheWholeScriptCompletesTheRun) {
  const Outcome o = run_script(GetParam().answers);
  EXPECT_EQ(o.run.status, 0) << o.run.out;
  EXPECT_EQ(o.run.err, "");
  std::vector<std::string> names;
  for (const auto& [name, bytes] : o.files) {
    names.push_back(name);
    // A mesh taken for a moving window has no histogram table: the histogram may be empty.
    if (name != "res_histo.xls") {
      EXPECT_FALSE(bytes.empty()) << name;
    }
  }
  EXPECT_EQ(names, GetParam().written);
}

TEST_P(Answers, EndOfInputAtEveryQuestionStopsWithStatus1) {
  const Script& s = GetParam();
  for (std::size_t n = 0; n < s.answers.size(); ++n) {
    const std::vector<Answer> cut(s.answers.begin(), s.answers.begin() + static_cast<long>(n));
    const Outcome o = run_script(cut);
    SCOPED_TRACE("after " + std::to_string(n) + " answers");
    EXPECT_EQ(o.run.status, 1);
    EXPECT_EQ(o.run.err, "");
    // Before the language is chosen the message is in English.
    const std::string message = n == 0 ? kEndEn : s.end_of_input;
    ASSERT_GE(o.run.out.size(), message.size());
    EXPECT_EQ(o.run.out.substr(o.run.out.size() - message.size()), message);
  }
}

// Inserts `token` before answer i of every kind in `kinds`; each run must write the files of
// the plain script.
void expect_asked_again(const Script& s, const std::string& token, std::vector<Kind> kinds) {
  const Outcome plain = run_script(s.answers);
  ASSERT_EQ(plain.run.status, 0) << plain.run.out;
  for (std::size_t i = 0; i < s.answers.size(); ++i) {
    if (std::find(kinds.begin(), kinds.end(), s.answers[i].kind) == kinds.end()) continue;
    std::vector<Answer> odd = s.answers;
    odd.insert(odd.begin() + static_cast<long>(i), Answer{token, Kind::Word});
    const Outcome o = run_script(odd);
    SCOPED_TRACE("'" + token + "' before answer " + std::to_string(i) + " (" + s.answers[i].token +
                 ")");
    EXPECT_EQ(o.run.status, 0) << o.run.out;
    EXPECT_EQ(o.run.err, "");
    EXPECT_EQ(o.files, plain.files);
    EXPECT_GT(o.run.out.size(), plain.run.out.size());  // the question came again
  }
}

TEST_P(Answers, NonNumbersAtEveryNumericQuestionAreAskedAgain) {
  const Script& s = GetParam();
  expect_asked_again(s, "abc", {M, C, G, O, I, R});
  expect_asked_again(s, "12abc", {M, C, G, O, I, R});
  expect_asked_again(s, "99999999999", {M, C, G, O, I});  // beyond int
  expect_asked_again(s, "1e999", {R});                    // beyond double
  expect_asked_again(s, "nan", {R});
}

TEST_P(Answers, NegativeAnswersAtEveryMenuAndCountAreAskedAgain) {
  const Script& s = GetParam();
  expect_asked_again(s, "-1", {M, C, G});
  expect_asked_again(s, "-2147483648", {M, C, G});
}

INSTANTIATE_TEST_SUITE_P(CompleteRuns, Answers, ::testing::ValuesIn(scripts()),
                         [](const auto& info) { return info.param.label; });

// The first script with answer i replaced by `token`.
std::vector<Answer> with_answer(std::size_t i, const std::string& token) {
  std::vector<Answer> a = scripts()[0].answers;
  a[i].token = token;
  return a;
}

// An answers file saved with a UTF-8 byte order mark runs as the same file without it.
TEST(HostileAnswers, AByteOrderMarkAtTheStartIsSkipped) {
  const std::vector<Answer> plain = scripts()[0].answers;
  std::vector<Answer> bom = plain;
  bom[0].token = "\xEF\xBB\xBF" + bom[0].token;
  const Outcome a = run_script(plain);
  const Outcome b = run_script(bom);
  ASSERT_EQ(a.run.status, 0) << a.run.out;
  EXPECT_EQ(b.run.status, 0) << b.run.out;
  EXPECT_EQ(b.files, a.files);
}

// Input with no white space cannot make one answer take all memory: past 65,536 bytes the
// run stops, in English before the language is known and in the run's language after.
TEST(HostileAnswers, AnAnswerLongerThanTheCapStopsTheRun) {
  const Outcome zeros = run_script({{std::string(1 << 20, '\0'), W}});
  EXPECT_EQ(zeros.run.status, 1);
  EXPECT_EQ(zeros.run.err, "");
  EXPECT_NE(zeros.run.out.find("\n\n\tAn answer is longer than 65536 bytes: the run stops.\n"),
            std::string::npos);
  const Outcome folder = run_script(with_answer(3, std::string(70000, 'x')));
  EXPECT_EQ(folder.run.status, 1);
  EXPECT_NE(folder.run.out.find("An answer is longer than 65536 bytes: the run stops."),
            std::string::npos);
  EXPECT_TRUE(folder.files.empty());
}

// A control byte in a name (a NUL would cut it, and every output would land in one file) stops
// the run before anything is written.
TEST(HostileAnswers, ANameHoldingAControlByteStopsTheRun) {
  const struct {
    std::size_t answer;
    std::string name, told;
  } cases[] = {
      {14, std::string("re\0s", 4), "The name \"re\\x00s\" holds a control character (byte 0x00)"},
      {5,
       "no\x7F"
       "desc",
       "The name \"no\\x7Fdesc\" holds a control character (byte 0x7F)"},
      {3, "zo\x01ne", "The name \"zo\\x01ne\" holds a control character (byte 0x01)"},
  };
  for (const auto& c : cases) {
    const Outcome o = run_script(with_answer(c.answer, c.name));
    SCOPED_TRACE(c.told);
    EXPECT_EQ(o.run.status, 1) << o.run.out;
    EXPECT_NE(o.run.out.find(c.told), std::string::npos) << o.run.out;
    EXPECT_TRUE(o.files.empty());
  }
}

// Weights so large that the sums are not finite numbers (infinite, or NaN where infinities of
// both signs meet) stop the run before any result is written.
TEST(HostileAnswers, WeightsTooLargeForTheValuesStopTheRun) {
  const std::vector<Answer> head = {{"0", M}, {"2", M}, {"DIR", W}, {"zone", W}};
  const std::vector<std::vector<Answer>> images = {
      {{"1", C}, {"geol", W}, {"0", M}, {"1e308", R}},
      {{"1", C}, {"geol", W}, {"0", M}, {"-1e308", R}},
      {{"2", C}, {"geol", W}, {"geol", W}, {"0", M}, {"0", M}, {"1e308", R}, {"-1e308", R}},
  };
  for (const auto& weights : images) {
    std::vector<Answer> answers = head;
    answers.insert(answers.end(), weights.begin(), weights.end());
    answers.insert(answers.end(), {{"1", O}, {"res", W}, {"0", M}, {"5", C}, {"1", M}});
    const Outcome o = run_script(answers);
    SCOPED_TRACE(weights[weights.size() - 1].token);
    EXPECT_EQ(o.run.status, 1) << o.run.out;
    EXPECT_NE(o.run.out.find("\n\tThe weights are too large for the values: a weighted sum is "
                             "not a finite number."),
              std::string::npos)
        << o.run.out;
    EXPECT_EQ(o.files.count("res_tessum.raw") + o.files.count("res_tessum.txt"), 0u);
    EXPECT_EQ(o.files.at("res_histo.xls"), "");
    EXPECT_NE(o.files.at("res_info.txt").find("The weights are too large"), std::string::npos);
  }
}

}  // namespace
