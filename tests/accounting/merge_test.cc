#include "accounting/merge.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tollbook {
namespace {

using testing::TempDir;
using testing::WriteFile;

const std::string kSmtpLine1 =
    "I,12/01/99,10:15,MSG1,Mail,Normal,DOM1,PO1,jsmith,ACC1,Quarterly report,GDOM,GATE1,F1,SMTP,"
    "ADDR1,1,0,2048,X";
const std::string kSmtpLine2 =
    "o,12/02/99,11:00,MSG2,Mail,Normal,DOM1,PO2,anna,ACC2,Hello,GDOM,GATE1,F2,SMTP,ADDR2,1,0,300,";
const std::string kOtherLine =
    "jsmith,1234,BILL1,Quarterly report,Normal,12/01/99,10:15,Mail,X400,0,512,DOM1,PO1,GDOM,GATE1,"
    "1,bob,0,O";
const std::string kSmtpHeaderLine = std::string(kSmtpHeader) + "\r\n";
const std::string kOtherHeaderLine = std::string(kOtherHeader) + "\r\n";

class MergeTest : public ::testing::Test {
 protected:
  RunState state{50};
  TempDir dir;
  std::ostringstream full;
  int files = 0;

  void Merge(const std::string& content, bool parse = true) {
    state.AccountingFilePath = dir / ("acct " + std::to_string(++files));
    WriteFile(state.AccountingFilePath, content);
    MergeAccountingFile(state, full, parse);
  }
};

TEST_F(MergeTest, HeaderAtEveryChangeOfFlavour) {
  Merge(kSmtpLine1 + "\r\n");
  Merge(kSmtpLine2 + "\r\n" + kSmtpLine1 + "\r\n");
  Merge(kOtherLine + "\r\n");
  Merge(kSmtpLine2);
  EXPECT_EQ(full.str(), kSmtpHeaderLine + kSmtpLine1 + "\r\n" + kSmtpLine2 + "\r\n" + kSmtpLine1 +
                            "\r\n" + kOtherHeaderLine + kOtherLine + "\r\n" + kSmtpHeaderLine +
                            kSmtpLine2 + "\r\n");
  EXPECT_EQ(state.RecordCount, 5);
  EXPECT_EQ(state.CurrentFlavour, Flavour::Smtp);
  EXPECT_EQ(state.PreviousFlavour, Flavour::Other);
  EXPECT_EQ(state.RecordUser[4], "jsmith,1234");
  EXPECT_EQ(state.RecordUser[5], "PO2.anna");
}

TEST_F(MergeTest, FlavourFromTheFirstLineOnly) {
  const std::vector<std::pair<std::string, Flavour>> cases = {
      {"I,x", Flavour::Smtp},  {"O,x", Flavour::Smtp},  {"i,x", Flavour::Smtp},
      {"o,", Flavour::Smtp},   {"I;x", Flavour::Other}, {"IN,x", Flavour::Other},
      {"I", Flavour::Other},   {"", Flavour::Other},    {"X,x", Flavour::Other},
      {" I,x", Flavour::Other},
  };
  for (const auto& [line, flavour] : cases) {
    EXPECT_EQ(FlavourOfFirstLine(line), flavour) << '"' << line << '"';
  }
}

TEST_F(MergeTest, EveryLineCopiedWithCrLfAndCounted) {
  // Missing final end, a blank line, a line with lone LFs.
  Merge("a,1\r\n\r\nb\nc\rd");
  EXPECT_EQ(full.str(), kOtherHeaderLine + "a,1\r\n\r\nb\nc\r\nd\r\n");
  EXPECT_EQ(state.RecordCount, 4);
  EXPECT_EQ(state.RecordUser[2], "") << "a blank line is parsed like any other";
  EXPECT_EQ(state.RecordUser[3], "b\nc");
}

TEST_F(MergeTest, LfOnlyFileIsOneRecord) {
  Merge("I,1\nO,2\n");
  EXPECT_EQ(full.str(), kSmtpHeaderLine + "I,1\nO,2\n\r\n");
  EXPECT_EQ(state.RecordCount, 1);
}

TEST_F(MergeTest, EmptyFileMergesNothingAndKeepsTheFlavour) {
  Merge(kOtherLine + "\r\n");
  Merge("");
  Merge(kOtherLine + "\r\n");
  EXPECT_EQ(full.str(), kOtherHeaderLine + kOtherLine + "\r\n" + kOtherLine + "\r\n");
  EXPECT_EQ(state.RecordCount, 2);
  EXPECT_EQ(state.FileFirstRecord, (std::vector<std::int64_t>{0, 1, 1}));
  EXPECT_EQ(RecordOrigin(state, 2), "accounting file 3, line 1");
}

TEST_F(MergeTest, WithoutTheSummaryLinesAreCountedButNotParsed) {
  Merge(kSmtpLine1 + "\r\n" + kSmtpLine2 + "\r\n", /*parse=*/false);
  EXPECT_EQ(state.RecordCount, 2);
  for (std::size_t i = 0; i <= 2; ++i) {
    EXPECT_EQ(state.RecordUser[i], "");
    EXPECT_EQ(state.RecordBytes[i], "");
  }
}

TEST_F(MergeTest, LinesPastTheCapacityAreMergedButNotFiled) {
  RunState small(2);
  small.AccountingFilePath = dir / "big";
  WriteFile(small.AccountingFilePath, "a,1\rb,2\rc,3\r");
  MergeAccountingFile(small, full, true);
  EXPECT_EQ(full.str(), kOtherHeaderLine + "a,1\r\nb,2\r\nc,3\r\n");
  EXPECT_EQ(small.RecordCount, 3);
  EXPECT_TRUE(small.RecordTablesOverflowed());
  EXPECT_EQ(small.RecordUser[2], "b,2");
}

}  // namespace
}  // namespace tollbook
