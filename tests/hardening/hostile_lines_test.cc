// Accounting lines that gateways, mailers and broken relays really produce, run
// through the whole processing run: each gives either the exact summary or a
// clear failure naming the record, its file and line, and no table overruns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "accounting/merge.h"
#include "hardening/hardening_support.h"

namespace tollbook::testing {
namespace {

// A full "other" line: sender, account, ..., date (column 6), byte size (column
// 11), ..., direction as the last character.
std::string Other(const std::string& sender, const std::string& date, const std::string& bytes,
                  char direction = 'O', const std::string& subject = "Report") {
  return sender + ",1," + "BILL," + subject + ",Normal," + date + ",10:15,Mail,X400,0," + bytes +
         ",DOM,PO,GDOM,GATE,1,bob,0," + direction;
}

// A full "smtp" line: direction, date, ..., post office (8), user (9), ...,
// byte size (19), other (20).
std::string Smtp(char direction, const std::string& date, const std::string& user,
                 const std::string& bytes) {
  return std::string(1, direction) + "," + date + ",10:15,MSG,Mail,Normal,DOM,PO1," + user +
         ",ACC,Subject,GDOM,GATE,F1,SMTP,ADDR,1,0," + bytes + ",X";
}

constexpr const char* kDayHead = "Summary Report by Day\r\nDate,Bytes In,Bytes Out,Total Bytes\r\n";
constexpr const char* kUserHead = "\r\nSummary Report by User\r\nUser,Bytes In,Bytes Out,Total Bytes\r\n";

struct HostileCase {
  const char* name;
  std::vector<std::string> files;  // one accounting attachment each
  std::string summary;             // the exact summary.csv, when the run completes
  std::string failure;             // the failure after "writing the summary PATH: ", else
};

std::vector<HostileCase> Cases() {
  const std::string mb(1 << 20, 'x');
  std::string high;
  for (int c = 0x80; c <= 0xFF; ++c) high += static_cast<char>(c);
  const std::string nul("a\0b", 3);
  return {
      {"ThousandsOfCommasAfterTheUsedColumns",
       {Smtp('I', "d1", "ann", "10") + std::string(5000, ',')},
       std::string(kDayHead) + "d1, 10, 0, 10\r\nTotals, 10, 0, 10\r\n" + kUserHead +
           "PO1.ann, 10, 0, 10\r\n",
       ""},
      {"ThousandsOfCommasShiftTheByteSize",
       {"I," + std::string(3000, ',')},
       "",
       "record 1 (accounting file 1, line 1): byte size \"\" is not a number"},
      {"NoCommas", {"no commas here"}, "",
       "record 1 (accounting file 1, line 1): byte size \"\" is not a number"},
      {"MegabyteLongSubject",
       {Other("ann", "d1", "7", 'I', mb)},
       std::string(kDayHead) + "d1, 7, 0, 7\r\nTotals, 7, 0, 7\r\n" + kUserHead + "ann,1, 7, 0, 7\r\n",
       ""},
      {"MegabyteLineWithoutCommas", {mb}, "",
       "record 1 (accounting file 1, line 1): byte size \"\" is not a number"},
      {"OnlyCarriageReturns", {"\r\r\r\r"}, "",
       "record 1 (accounting file 1, line 1): byte size \"\" is not a number"},
      {"HighBytesInKeyAndDateKeptAsTheyAre",
       {Other(high, high, "5") + "\r\n" + Other(high, high, "6", 'I')},
       std::string(kDayHead) + high + ", 6, 5, 11\r\nTotals, 6, 5, 11\r\n" + kUserHead + high +
           ",1, 6, 5, 11\r\n",
       ""},
      {"NulBytesInKeyAndDate",
       {Other(nul, nul, "3")},
       std::string(kDayHead) + nul + ", 0, 3, 3\r\nTotals, 0, 3, 3\r\n" + kUserHead + nul +
           ",1, 0, 3, 3\r\n",
       ""},
      {"SignsBlanksAndFractions",
       {Smtp('I', "d1", "ann", " 12 ") + "\r\n" + Smtp('O', "d1", "ann", "+5") + "\r\n" +
        Smtp('O', "d1", "ann", "-3") + "\r\n" + Smtp('i', "d1", "ann", "\t2.5")},
       std::string(kDayHead) + "d1, 14.5, 2, 16.5\r\nTotals, 14.5, 2, 16.5\r\n" + kUserHead +
           "PO1.ann, 14, 2, 16\r\n",
       ""},
      {"HugeDigitStringOverflowsTheUserSums",
       {Smtp('I', "d1", "ann", std::string(25, '9'))},
       "",
       "user PO1.ann: byte sum is beyond the 64-bit range"},
      {"ThreeHundredDigitsStillConvert",
       {Smtp('I', "d1", "ann", "1" + std::string(300, '0'))},
       "",
       "user PO1.ann: byte sum is beyond the 64-bit range"},
      {"FourHundredDigitsAreNotANumber",
       {Smtp('I', "d1", "ann", "1" + std::string(400, '0'))},
       "",
       "record 1 (accounting file 1, line 1): byte size \"1" + std::string(400, '0') +
           "\" is not a number"},
      {"BlankInsideANumber", {Smtp('O', "d1", "ann", "1 2")}, "",
       "record 1 (accounting file 1, line 1): byte size \"1 2\" is not a number"},
      {"ExponentIsNotANumber",
       {Smtp('O', "d1", "ann", "5") + "\r\n" + Smtp('O', "d1", "ann", "1e5")},
       "",
       "record 2 (accounting file 1, line 2): byte size \"1e5\" is not a number"},
      {"BadRecordNamedByFileAndLine",
       {Smtp('O', "d1", "ann", "5"),
        Smtp('O', "d1", "ann", "5") + "\r\n" + Smtp('O', "d1", "ann", "6") + "\r\n" +
            Smtp('O', "d1", "ann", "0x10")},
       "",
       "record 4 (accounting file 2, line 3): byte size \"0x10\" is not a number"},
      {"NulInAKeyStaysInTheFailureMessage",
       {Other(nul, "d1", std::string(25, '9'))},
       "",
       "user a\\x00b,1: byte sum is beyond the 64-bit range"},
      {"NulAndLineFeedInAByteSizeAreShownEscaped",
       {Other("ann", "d1", std::string("1\0\n2", 4))},
       "",
       "record 1 (accounting file 1, line 1): byte size \"1\\x00\\x0a2\" is not a number"},
      {"SignOnly", {Smtp('O', "d1", "ann", "-")}, "",
       "record 1 (accounting file 1, line 1): byte size \"-\" is not a number"},
  };
}

class HostileLines : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileLines, GiveTheSummaryOrAClearFailure) {
  const HostileCase& row = GetParam();
  TempDir dir;
  auto store = AccountingStore(row.files);
  RecordingFrontEnd frontEnd;
  frontEnd.recordPositions = false;
  frontEnd.settings = FolderSettings(dir.Path(), /*cleanup=*/false);
  const RunReport report = RunOnStore(store, frontEnd);

  std::string merged;
  for (const auto& file : row.files) merged += AsMerged(file);
  const std::string fullacct = ReadFile(dir / "fullacct.csv");
  EXPECT_EQ(fullacct.size() - fullacct.find("\r\n") - 2, merged.size());
  EXPECT_TRUE(fullacct.ends_with(merged));
  // The lines are safely in fullacct.csv before the summary: every message goes.
  EXPECT_EQ(report.deleted.size(), row.files.size());
  if (row.failure.empty()) {
    EXPECT_EQ(report.failure, "");
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(ReadFile(dir / "summary.csv"), row.summary);
  } else {
    EXPECT_EQ(report.failure, "writing the summary " + dir / "summary.csv" + ": " + row.failure);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, HostileLines, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// More lines than the record tables hold: the lines are all merged, and the
// summary is refused with the counts rather than overrunning the tables.
TEST(HostileLinesCapacity, MoreRecordsThanTheTablesHoldRefuseTheSummary) {
  TempDir dir;
  std::string file;
  for (int i = 0; i < 1001; ++i) file += Smtp('O', "d", "u", "1") + "\r\n";
  auto store = AccountingStore({file});
  RecordingFrontEnd frontEnd;
  frontEnd.recordPositions = false;
  frontEnd.settings = FolderSettings(dir.Path(), true);
  const RunReport report = RunOnStore(store, frontEnd);  // tables of 1000 records
  EXPECT_EQ(report.failure, "writing the summary " + dir / "summary.csv" +
                                ": the run merged 1001 records, more than the 1000 records a "
                                "summary can hold; the summary was not written");
  EXPECT_FALSE(FileExists(dir / "summary.csv"));
  EXPECT_EQ(ReadFile(dir / "fullacct.csv").size(),
            kSmtpHeader.size() + 2 + AsMerged(file).size());
}

}  // namespace
}  // namespace tollbook::testing
