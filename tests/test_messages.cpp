// Every message exists in the three languages with the same conversions in the same order.
#include <gtest/gtest.h>

#include <string>

#include "app/messages.h"

namespace {

using app::Text3;
namespace msg = app::msg;

// The printf conversions of a text, in order ("%%" left out).
std::string conversions(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    std::string c = "%";
    while (*p != '\0' && std::string("diouxXeEfFgGcsp").find(*p) == std::string::npos) c += *p++;
    c += *p;
    out += c;
    if (*p == '\0') break;
  }
  return out;
}

const Text3* const kAll[] = {
    &msg::kDiskQuestion,
    &msg::kDiskOptions,
    &msg::kDiskName,
    &msg::kFolder,
    &msg::kNumImages,
    &msg::kGenericName,
    &msg::kImageType,
    &msg::kFormatOptions,
    &msg::kWeight,
    &msg::kMaskQuestion,
    &msg::kMaskNote,
    &msg::kYesNo,
    &msg::kMaskName,
    &msg::kMaskFormat,
    &msg::kResultName,
    &msg::kOutputFormat,
    &msg::kNumLevels,
    &msg::kPixelSize,
    &msg::kTreatmentConsole,
    &msg::kTreatmentReport,
    &msg::kSummaryProgram,
    &msg::kSummaryCredit,
    &msg::kSummaryDisk,
    &msg::kSummaryValue,
    &msg::kSummaryFolder,
    &msg::kSummaryImages,
    &msg::kNoDescriptor,
    &msg::kAskRows,
    &msg::kAskCols,
    &msg::kAskPixel,
    &msg::kNoRawImage,
    &msg::kNoAsciiGrid,
    &msg::kItemsHeadConsole,
    &msg::kItemsHeadReport,
    &msg::kItemsCountConsole,
    &msg::kItemsCountReport,
    &msg::kItemLine,
    &msg::kDrawQuestion,
    &msg::kQ2CellMesh,
    &msg::kQ3AfterQ2,
    &msg::kQ3AfterQ6,
    &msg::kQ4TypeUsed,
    &msg::kQ5AfterQ4,
    &msg::kQ5AfterQ7,
    &msg::kQ6MovingWindow,
    &msg::kQ7TypeUsed,
    &msg::kQ8MeshDrawing,
    &msg::kReportCellMesh,
    &msg::kReportMovingWindow,
    &msg::kParamsHead,
    &msg::kParamsPixel,
    &msg::kParamsUtmKnown,
    &msg::kParamsUtmAsk,
    &msg::kParamsXminShow,
    &msg::kParamsYminShow,
    &msg::kParamsXminAsk,
    &msg::kParamsYminAsk,
    &msg::kParamsRange,
    &msg::kWarnLine1,
    &msg::kWarnLine2,
    &msg::kWarnQuestion,
    &msg::kMeshDrawing,
    &msg::kReportMwHistoType,
    &msg::kReportMwHisto,
    &msg::kReportCellHisto,
    &msg::kPointFilesConsole,
    &msg::kReportPointFiles,
    &msg::kReportPointFile,
    &msg::kReportPointHisto,
    &msg::kAsciiUtm,
    &msg::kAsciiXmin,
    &msg::kAsciiYmin,
    &msg::kReportResultName,
    &msg::kReportWeight,
    &msg::kReportLevels,
    &msg::kReportPixel,
    &msg::kReportMeshDrawn,
    &msg::kEndOfInput,
    &msg::kRangeNote,
    &msg::kWindowRangeNote,
    &msg::kCannotCreate,
    &msg::kCannotWrite,
    &msg::kCannotRead,
    &msg::kRunStops,
    &msg::kSizeMismatch,
    &msg::kNoMeshBand,
    &msg::kOutputIsInput,
    &msg::kWhyMissing,
    &msg::kWhyShortHeader,
    &msg::kWhyBadHeader,
    &msg::kWhyBadSize,
    &msg::kWhyTooLarge,
    &msg::kWhyFewerValues,
    &msg::kWhyBadValue,
    &msg::kWhyNonSquare,
    &msg::kWhyNotBmp,
    &msg::kWhyBmpLayout,
    &msg::kWhyBmpSize,
    &msg::kWhyTruncated,
    &msg::kWhyOutOfMemory,
    &msg::kWhyReadError,
    &msg::kWhyWriteError,
    &msg::kWhyFormatCode,
};

TEST(Messages, EveryLanguageTakesTheSameArguments) {
  for (const Text3* t : kAll) {
    EXPECT_EQ(conversions(t->fr), conversions(t->en)) << t->en;
    EXPECT_EQ(conversions(t->es), conversions(t->en)) << t->en;
  }
  for (const Text3& t : msg::kIntro) {
    EXPECT_EQ(conversions(t.en), "");
    EXPECT_EQ(conversions(t.fr), "");
    EXPECT_EQ(conversions(t.es), "");
  }
}

TEST(Messages, ConsoleTextsAreCodePage850AndFileTextsPlain) {
  // Texts written into files carry no accented letters, apart from the two summary lines
  // whose French form has them.
  const Text3* const file_texts[] = {&msg::kItemsHeadReport,    &msg::kReportCellMesh,
                                     &msg::kReportMovingWindow, &msg::kReportResultName,
                                     &msg::kReportLevels,       &msg::kReportPixel,
                                     &msg::kReportPointFiles,   &msg::kReportPointHisto};
  for (const Text3* t : file_texts) {
    for (const char* s : {t->en, t->fr, t->es}) {
      for (const char* p = s; *p != '\0'; ++p) EXPECT_GE(*p, 0) << s;
    }
  }
  EXPECT_NE(std::string(msg::kSummaryDisk.fr).find("o\x97 se trouve le r\x82pertoire"),
            std::string::npos);
}

}  // namespace
