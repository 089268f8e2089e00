// Console output formatting, answer reading, code page 850 translation and host paths.
#include <gtest/gtest.h>
#include <iconv.h>

#include <sstream>

#include "app/console.h"
#include "nrutil/hostpath.h"

namespace {

using app::Answer;

TEST(ConsoleFormat, MatchesPrintfForTheFormatsInUse) {
  EXPECT_EQ(app::vformat("%d|%s|%c", -12, "ab", 'x'), "-12|ab|x");
  EXPECT_EQ(app::vformat("%.2lf", 25.0), "25.00");
  EXPECT_EQ(app::vformat("%.2lf", 2.675), "2.67");  // 2.675 is stored just below
  EXPECT_EQ(app::vformat("%.3lf", 0.0005), "0.001");
  EXPECT_EQ(app::vformat("%lf", 30.0), "30.000000");
  EXPECT_EQ(app::vformat("%lf", -1234567.125), "-1234567.125000");
  std::string longer(1000, 'a');
  EXPECT_EQ(app::vformat("<%s>", longer.c_str()), "<" + longer + ">");
}

TEST(ConsoleRead, IntegersAreWholeTokensOthersAreDiscarded) {
  std::istringstream in(" 12\tabc\n-3 +4 5x 2147483647 2147483648 -2147483648 - \n");
  std::ostringstream out;
  app::Console con(in, out, false);
  const struct {
    Answer a;
    int v;
  } expected[] = {{Answer::Ok, 12},       {Answer::NoAnswer, 0},         {Answer::Ok, -3},
                  {Answer::Ok, 4},        {Answer::NoAnswer, 0},         {Answer::Ok, 2147483647},
                  {Answer::NoAnswer, 0},  {Answer::Ok, -2147483647 - 1}, {Answer::NoAnswer, 0},
                  {Answer::EndOfInput, 0}};
  for (const auto& e : expected) {
    int v = 0;
    EXPECT_EQ(con.read_int(v), e.a);
    if (e.a == Answer::Ok) {
      EXPECT_EQ(v, e.v);
    }
  }
  int v = 0;
  EXPECT_EQ(con.read_int(v), Answer::EndOfInput);  // stays at the end
}

TEST(ConsoleRead, RealsAndWords) {
  std::istringstream in("1.5 2 abc inf nan 1e3 -0.25x C:\\images\\zone 1e999");
  std::ostringstream out;
  app::Console con(in, out, false);
  double d = 0;
  EXPECT_EQ(con.read_real(d), Answer::Ok);
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(con.read_real(d), Answer::Ok);
  EXPECT_EQ(d, 2.0);
  EXPECT_EQ(con.read_real(d), Answer::NoAnswer);
  EXPECT_EQ(con.read_real(d), Answer::NoAnswer);  // infinite weights are refused
  EXPECT_EQ(con.read_real(d), Answer::NoAnswer);
  EXPECT_EQ(con.read_real(d), Answer::Ok);
  EXPECT_EQ(d, 1000.0);
  EXPECT_EQ(con.read_real(d), Answer::NoAnswer);
  std::string w;
  EXPECT_EQ(con.read_word(w), Answer::Ok);
  EXPECT_EQ(w, "C:\\images\\zone");
  EXPECT_EQ(con.read_real(d), Answer::NoAnswer);  // out of range
  EXPECT_EQ(con.read_word(w), Answer::EndOfInput);
}

TEST(ConsoleRead, OutputIsFlushedBeforeEveryRead) {
  std::istringstream in("5");
  std::stringstream out;
  app::Console con(in, out, false);
  con.write("question? ");
  int v = 0;
  con.read_int(v);
  EXPECT_EQ(out.str(), "question? ");
}

std::string through(bool utf8, const std::string& bytes) {
  std::istringstream in;
  std::ostringstream out;
  app::Console con(in, out, utf8);
  con.write(bytes);
  return out.str();
}

TEST(ConsoleEncoding, Utf8TerminalsShowAccentsAndBoxes) {
  EXPECT_EQ(through(true, "r\x82sultat"), "r\xC3\xA9sultat");                        // é
  EXPECT_EQ(through(true, "\xC9\xCD\xBB"), "\xE2\x95\x94\xE2\x95\x90\xE2\x95\x97");  // ╔═╗
  EXPECT_EQ(through(true, "\xA8"), "\xC2\xBF");                                      // ¿
  EXPECT_EQ(through(false, "r\x82sultat\xC9"), "r\x82sultat\xC9");  // bytes unchanged
}

TEST(ConsoleEncoding, EveryHighByteAgreesWithTheSystemCodePageTable) {
  iconv_t cd = iconv_open("UTF-8", "CP850");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no CP850 converter on this system";
  for (int b = 0x80; b <= 0xFF; ++b) {
    char in[1] = {static_cast<char>(b)};
    char out[8] = {};
    char* ip = in;
    char* op = out;
    size_t il = 1;
    size_t ol = sizeof out;
    ASSERT_NE(iconv(cd, &ip, &il, &op, &ol), static_cast<size_t>(-1)) << b;
    EXPECT_EQ(through(true, std::string(1, static_cast<char>(b))), std::string(out, op))
        << "byte " << b;
  }
  iconv_close(cd);
}

TEST(HostPath, DrivesAndBackslashesMapToPosixPaths) {
  const struct {
    const char* name;
    const char* path;
  } cases[] = {
      {"C:\\images\\zone1\\res_info.txt", "/mnt/c/images/zone1/res_info.txt"},
      {"D:\\images\\z\\geol.raw", "/mnt/d/images/z/geol.raw"},
      {"E:\\F\\res.asc", "/mnt/e/F/res.asc"},
      {"e:x", "/mnt/e/x"},
      {"/home/ana/data\\zone1\\", "/home/ana/data/zone1/"},
      {"data\\zone1\\geol", "data/zone1/geol"},
      {"1:\\x", "1:/x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(nrutil::host_path(c.name), c.path) << c.name;
}

}  // namespace
