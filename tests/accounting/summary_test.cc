#include "accounting/summary.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "accounting/report.h"
#include "base/errors.h"
#include "support/report_reading.h"
#include "support/test_support.h"

namespace tollbook {
namespace {

struct Row {
  std::string user, direction, bytes, date;
};

// A run state holding the given records at indexes 1 to N.
RunState StateWith(const std::vector<Row>& rows) {
  RunState state(rows.size() + 2);
  for (const auto& row : rows) {
    const auto i = static_cast<std::size_t>(++state.RecordCount);
    state.RecordUser[i] = row.user;
    state.RecordDirection[i] = row.direction;
    state.RecordBytes[i] = row.bytes;
    state.RecordDate[i] = row.date;
  }
  state.FileFirstRecord = {0};
  return state;
}

std::string Crlf(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

std::string Day(const std::vector<Row>& rows) {
  RunState state = StateWith(rows);
  std::ostringstream out;
  NoProgress progress;
  WriteDaySummary(state, out, progress);
  return out.str();
}

std::string User(const std::vector<Row>& rows) {
  RunState state = StateWith(rows);
  std::ostringstream out;
  NoProgress progress;
  WriteUserSummary(state, out, progress);
  return out.str();
}

const std::vector<std::string> kDayHead = {"Summary Report by Day",
                                           "Date,Bytes In,Bytes Out,Total Bytes"};
const std::vector<std::string> kUserHead = {"", "Summary Report by User",
                                            "User,Bytes In,Bytes Out,Total Bytes"};

std::vector<std::string> With(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(DaySummaryTest, BlocksOfEqualDatesInTableOrder) {
  EXPECT_EQ(Day({{"u", "I", "400", "12/01/99"},
                 {"u", "O", "300", "12/01/99"},
                 {"u", "i", "50", "12/02/99"},
                 {"u", "O", "25", "12/01/99"}}),
            Crlf(With(kDayHead, {"12/01/99, 400, 300, 700", "12/02/99, 50, 0, 50",
                                 "12/01/99, 0, 25, 25", "Totals, 450, 325, 775"})));
}

TEST(DaySummaryTest, EdgeCases) {
  struct Case {
    const char* name;
    std::vector<Row> rows;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"no records", {}, {"Totals, 0, 0, 0"}},
      {"one record", {{"u", "O", "7", "D"}}, {"D, 0, 7, 7", "Totals, 0, 7, 7"}},
      {"last record alone",
       {{"u", "I", "1", "A"}, {"u", "I", "2", "A"}, {"u", "O", "3", "B"}},
       {"A, 3, 0, 3", "B, 0, 3, 3", "Totals, 3, 3, 6"}},
      {"dates differing in case share a block, named by its first record",
       {{"u", "I", "1", "dec"}, {"u", "I", "2", "DEC"}},
       {"dec, 3, 0, 3", "Totals, 3, 0, 3"}},
      {"records without a user count here",
       {{"", "I", "5", "D"}, {"u", "o", "6", "D"}},
       {"D, 5, 6, 11", "Totals, 5, 6, 11"}},
      {"any direction but i is out",
       {{"u", "", "1", "D"}, {"u", "X", "2", "D"}, {"u", " ", "4", "D"}, {"u", "in", "8", "D"}},
       {"D, 0, 15, 15", "Totals, 0, 15, 15"}},
      {"fractions add up exactly here", {{"u", "I", "0.5", "D"}, {"u", "I", "0.5", "D"}},
       {"D, 1, 0, 1", "Totals, 1, 0, 1"}},
      {"sums beyond 32 bits",
       {{"u", "I", "3000000000", "D"}, {"u", "I", "3000000000", "D"}},
       {"D, 6000000000, 0, 6000000000", "Totals, 6000000000, 0, 6000000000"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Day(c.rows), Crlf(With(kDayHead, c.lines))) << c.name;
}

TEST(UserSummaryTest, GroupsInOrderOfFirstAppearanceNamedByTheLastKey) {
  EXPECT_EQ(User({{"PO1.ANNA", "I", "700", "d"},
                  {"PO1.bert", "O", "300", "d"},
                  {"po1.anna", "O", "50", "d"}}),
            Crlf(With(kUserHead, {"po1.anna, 700, 50, 750", "PO1.bert, 0, 300, 300"})));
}

TEST(UserSummaryTest, EdgeCases) {
  struct Case {
    const char* name;
    std::vector<Row> rows;
    std::vector<std::string> lines;
  };
  std::vector<Row> admins(9, Row{"PO.other", "O", "1", "d"});
  admins[1].user = "ADMIN";
  admins[4].user = "Admin";
  admins[8].user = "admin";
  admins[0].user = "first";
  const std::vector<Case> cases = {
      {"no records", {}, {}},
      {"no record with a user key", {{"", "I", "5", "d"}}, {}},
      {"keys differing in case form one group where the first is met",
       admins,
       {"first, 0, 1, 1", "admin, 0, 3, 3", "PO.other, 0, 5, 5"}},
      {"a key with a comma is written unchanged", {{"jsmith,1234", "O", "512", "d"}},
       {"jsmith,1234, 0, 512, 512"}},
      {"each addition rounds half to even",
       {{"u", "I", "2.5", "d"}, {"u", "I", "3.5", "d"}, {"v", "O", "0.5", "d"},
        {"v", "O", "0.5", "d"}},
       {"u, 6, 0, 6", "v, 0, 0, 0"}},
      {"sums beyond 32 bits",
       {{"big", "I", "2147483647", "d"}, {"big", "I", "2147483647", "d"},
        {"big", "O", "4000000000", "d"}},
       {"big, 4294967294, 4000000000, 8294967294"}},
      {"trailing blank makes another key", {{"u", "I", "1", "d"}, {"u ", "I", "2", "d"}},
       {"u, 1, 0, 1", "u , 2, 0, 2"}},
  };
  for (const auto& c : cases) EXPECT_EQ(User(c.rows), Crlf(With(kUserHead, c.lines))) << c.name;
}

TEST(UserSummaryTest, ConsumesTheKeysAndFillsTheUserTables) {
  RunState state = StateWith({{"a", "I", "1", "d"}, {"", "I", "1", "d"}, {"A", "O", "2", "d"}});
  std::ostringstream out;
  NoProgress progress;
  WriteUserSummary(state, out, progress);
  EXPECT_EQ(state.UserCount, 1);
  EXPECT_EQ(state.UserNames[1], "A");
  EXPECT_EQ(state.UserBytesIn[1], 1);
  EXPECT_EQ(state.UserBytesOut[1], 2);
  for (std::size_t i = 1; i <= 3; ++i) EXPECT_EQ(state.RecordUser[i], "") << i;
}

TEST(SummaryTest, ProgressCaptions) {
  RunState state = StateWith({{"a", "I", "1", "d"}, {"b", "I", "1", "d"}});
  testing::RecordingFrontEnd progress;
  std::ostringstream out;
  WriteDaySummary(state, out, progress);
  WriteUserSummary(state, out, progress);
  EXPECT_EQ(progress.events,
            (std::vector<std::string>{"progress Summerize by Day", "current  1 of  2",
                                      "current  2 of  2", "progress Summerize by User",
                                      "current  1 of  2", "current  2 of  2"}));
}

TEST(SummaryTest, ByteSizeThatIsNotANumberNamesTheRecord) {
  RunState state = StateWith({{"a", "I", "1", "D1"}, {"a", "I", "2", "D2"}, {"a", "I", "12k", "D2"}});
  state.FileFirstRecord = {0, 1};
  const std::string message = "record 3 (accounting file 2, line 2): byte size \"12k\" is not a number";
  std::ostringstream day;
  NoProgress progress;
  try {
    WriteDaySummary(state, day, progress);
    FAIL() << "no error";
  } catch (const Failure& e) {
    EXPECT_EQ(e.what(), message);
  }
  // The lines before the record are written; its block's line is not.
  EXPECT_EQ(day.str(), Crlf(With(kDayHead, {"D1, 1, 0, 1"})));
  try {
    CheckByteSizes(state);
    FAIL() << "no error";
  } catch (const Failure& e) {
    EXPECT_EQ(e.what(), message);
  }
  std::ostringstream user;
  EXPECT_THROW(WriteUserSummary(state, user, progress), Failure);
  EXPECT_EQ(user.str(), "") << "nothing of the user section is written";
}

TEST(SummaryTest, MoreRecordsThanTheTablesHoldAreRefused) {
  RunState state(2);
  state.RecordCount = 3;
  std::ostringstream out;
  NoProgress progress;
  try {
    WriteDaySummary(state, out, progress);
    FAIL() << "no error";
  } catch (const Failure& e) {
    EXPECT_EQ(std::string(e.what()),
              "the run merged 3 records, more than the 2 records a summary can hold; the summary "
              "was not written");
  }
  EXPECT_EQ(out.str(), "");
}

// The report's figures against the summary of the same records, for a run
// with the summary (the user groups of WriteUserSummary) and one without it
// (GroupUsers alone): the two pages are the same.
TEST(ReportTest, FiguresAgreeWithTheSummaryOfTheSameRecords) {
  struct Case {
    const char* name;
    std::vector<Row> rows;
    bool chronological;
    std::vector<std::string> chartDates;  // empty: not checked
  };
  std::vector<Row> many;  // at capacity: 200,000 records of 100,000 users
  for (int i = 0; i < 200000; ++i) {
    many.push_back({"PO" + std::to_string(i % 7) + ".user" + std::to_string(i % 100000),
                    i % 3 ? "O" : "I", std::to_string(100 + (i * 7919) % 100000),
                    "12/" + std::to_string(1 + i % 31) + "/99"});
  }
  const std::vector<Case> cases = {
      {"one user",
       {{"PO1.anna", "I", "700", "12/01/99"}, {"po1.ANNA", "o", "50", "12/01/99"}},
       true,
       {"12/01/99"}},
      {"the three date forms, sorted by day, equal texts merged ignoring case",
       {{"a", "I", "1", "2000-01-02"},
        {"b", "O", "2", "12/31/1999"},
        {"a", "I", "4", "1/2/00"},
        {"c", "I", "8", "12/30/99"},
        {"", "O", "16", "2000-01-02"},
        {"a", "I", "32", "1/2/00"}},
       true,
       {"12/30/99", "12/31/1999", "2000-01-02", "1/2/00"}},
      {"a date that does not parse keeps the order of first appearance",
       {{"a", "I", "1", "12/02/99"},
        {"b", "O", "2", "Dec 1"},
        {"a", "I", "4", "02/30/99"},
        {"a", "I", "8", "12/01/99"}},
       false,
       {"12/02/99", "Dec 1", "02/30/99", "12/01/99"}},
      {"hostile keys and dates are escaped",
       {{"<script>alert(1)</script>", "I", "5", "<img src=x onerror=alert(1)>"},
        {"a&b\"'", "O", "6", "\x01\xff"},
        {"\xE2\x80\xAEgpj.exe", "O", "7", ""},
        {"jsmith,1234", "I", "3000000000", "12/01/99"}},
       false,
       {"&lt;img src=x onerror=alert(1)&gt;", "\\x01\\xFF", "(empty)", "12/01/99"}},
      {"ties keep the order of first appearance, fractions as the summary rounds them",
       {{"x", "I", "2.5", "d"},
        {"y", "O", "3", "d"},
        {"z", "I", "0.5", "d"},
        {"x", "I", "0.5", "d"}},
       false,
       {"d"}},
      {"no record names a user", {{"", "I", "5", "2000-02-29"}}, true, {"2000-02-29"}},
      {"100,000 users at capacity", many, true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NoProgress progress;
    RunState withSummary = StateWith(c.rows);
    std::ostringstream summary;
    ReportBuilder builder;
    const DayTotals totals = WriteDaySummary(
        withSummary, summary, progress, [&](const DateBlock& b) { builder.AddDateBlock(b); });
    WriteUserSummary(withSummary, summary, progress);
    ReportRun run{"maildir:/srv/mail", "Accounting", "2026-12-01 10:00 UTC", 3, ""};
    std::ostringstream page;
    WriteReport(withSummary, builder.Finish(withSummary, totals), run, page);

    RunState reportOnly = StateWith(c.rows);
    GroupUsers(reportOnly, progress);
    std::ostringstream alone;
    WriteReport(reportOnly, BuildReportFigures(reportOnly, progress), run, alone);
    EXPECT_EQ(alone.str(), page.str());

    const std::string html = page.str();
    testing::ExpectReportAgreesWithSummary(html, summary.str());
    const testing::ReportReading reading = testing::ReadReport(html);
    EXPECT_EQ(reading.chronological, c.chronological);
    if (!c.chartDates.empty()) {
      EXPECT_EQ(reading.chartDates, c.chartDates);
    }
    for (const char* raw : {"<script", "<img", "\x01", "\xff", "\xE2\x80\xAE"}) {
      EXPECT_EQ(html.find(raw), std::string::npos) << raw;
    }
    EXPECT_LT(html.size(), 2000000u);
  }
}

// A whole page, byte for byte: dates in order of first appearance (one does
// not parse), keys differing in case, a hostile key, a record without a user,
// a fraction. TOLLBOOK_UPDATE_GOLDEN=1 rewrites the expected page.
TEST(ReportTest, APageByteForByte) {
  RunState state = StateWith({{"PO1.anna", "I", "1500000", "12/01/99"},
                              {"PO1.bert", "O", "250000", "12/02/99"},
                              {"<b>x</b>&amp;", "I", "999", "Dec 3"},
                              {"po1.ANNA", "o", "2.5", "12/01/99"},
                              {"", "I", "10", "12/02/99"}});
  NoProgress progress;
  std::ostringstream summary;
  ReportBuilder builder;
  const DayTotals totals = WriteDaySummary(state, summary, progress,
                                           [&](const DateBlock& b) { builder.AddDateBlock(b); });
  WriteUserSummary(state, summary, progress);
  std::ostringstream page;
  WriteReport(state, builder.Finish(state, totals),
              {"imaps://acct@mail.example.org/", "Gateway <Accounting>", "2026-12-01 10:00 UTC", 2,
               "/srv/acct/summary.csv"},
              page);
  const std::string golden = std::string(TOLLBOOK_TEST_DATA_DIR) + "/report_golden.html";
  if (std::getenv("TOLLBOOK_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(golden, std::ios::binary) << page.str();
  }
  EXPECT_EQ(page.str(), testing::ReadFile(golden));
}

}  // namespace
}  // namespace tollbook
