#include "accounting/record_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tollbook {
namespace {

struct Record {
  std::string user, direction, bytes, date;
  bool operator==(const Record&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Record& r) {
  return os << "{user=\"" << r.user << "\" direction=\"" << r.direction << "\" bytes=\""
            << r.bytes << "\" date=\"" << r.date << "\"}";
}

Record Parse(RunState& state, Flavour flavour, const std::string& line) {
  state.CurrentFlavour = flavour;
  state.CurrentLine = line;
  ++state.RecordCount;
  ParseAccountingRecord(state);
  const auto i = static_cast<std::size_t>(state.RecordCount);
  return {state.RecordUser[i], state.RecordDirection[i], state.RecordBytes[i], state.RecordDate[i]};
}

// An "smtp" line with the given columns 1, 2, 8, 9 and 19; the rest filled in.
std::string SmtpLine(const std::string& c1, const std::string& date, const std::string& po,
                     const std::string& id, const std::string& bytes) {
  return c1 + "," + date + ",10:15,MSG1,Mail,Normal,DOM1," + po + "," + id +
         ",ACC1,Subject,GDOM,GATE1,F1,SMTP,ADDR1,1,0," + bytes + ",X";
}

TEST(RecordParserTest, SmtpLines) {
  const std::vector<std::pair<std::string, Record>> cases = {
      {"I,12/01/99,10:15,MSG1,Mail,Normal,DOM1,PO1,jsmith,ACC1,Quarterly report,GDOM,GATE1,F1,"
       "SMTP,ADDR1,1,0,2048,X",
       {"PO1.jsmith", "I", "2048", "12/01/99"}},
      {SmtpLine("O", "12/02/99", "", "jsmith", "10"), {".jsmith", "O", "10", "12/02/99"}},
      {SmtpLine("IN", "d", "PO1", "x", "1"), {"PO1.x", "I", "1", "d"}},
      {SmtpLine("X", "d", "PO1", "x", "1"), {"PO1.x", "X", "1", "d"}},
      {SmtpLine("I", "", "PO1 ", " x", ""), {"PO1 . x", "I", "", ""}},
      // A comma in the subject shifts ByteSize: column 19 is then NoAttnts.
      {"I,d,t,M,Mail,N,DOM,PO1,ann,ACC,Hello, world,G,GATE,F,SMTP,A,1,0,2048,X",
       {"PO1.ann", "I", "0", "d"}},
      // 21 commas: the 20th and 21st do not matter.
      {SmtpLine("I", "d", "P", "u", "5") + ",y,z", {"P.u", "I", "5", "d"}},
      // Too few commas: columns come from the line itself, missing ones are empty.
      {"I,12/01/99,10:15,MSG1,Mail,Normal,DOM1,PO1,jsmith", {"PO1.jsmith", "I", "", "12/01/99"}},
      {"I,12/01/99", {".", "I", "", "12/01/99"}},
      {"", {".", "", "", ""}},
  };
  RunState state(100);
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(Parse(state, Flavour::Smtp, line), expected) << line;
  }
}

TEST(RecordParserTest, OtherLines) {
  const std::vector<std::pair<std::string, Record>> cases = {
      {"jsmith,1234,BILL1,Quarterly report,Normal,12/01/99,10:15,Mail,X400,0,512,DOM1,PO1,GDOM,"
       "GATE1,1,bob,0,O",
       {"jsmith,1234", "O", "512", "12/01/99"}},
      {"a,b,c,d,e,DATE,t,g,f,n,77,s,p,g,g,1,u,0,I ", {"a,b", " ", "77", "DATE"}},
      {"a,b,c,d,e,,t,g,f,n,,s,p,g,g,1,u,0,i", {"a,b", "i", "", ""}},
      // Exactly ten commas: column 11 runs to the end of the line.
      {"a,b,c,d,e,DATE,t,g,f,n,99", {"a,b", "9", "99", "DATE"}},
      {"alone", {"alone", "e", "", ""}},
      {"a,b", {"a,b", "b", "", ""}},
      {"", {"", "", "", ""}},
  };
  RunState state(100);
  for (const auto& [line, expected] : cases) {
    EXPECT_EQ(Parse(state, Flavour::Other, line), expected) << line;
  }
}

TEST(RecordParserTest, ShortLineAfterLongOneUsesOnlyItsOwnCommas) {
  RunState state(10);
  const std::string long_line = SmtpLine("I", "d1", "PO1", "ann", "100");
  Parse(state, Flavour::Smtp, long_line);
  const auto nineteenth = static_cast<std::int64_t>(long_line.rfind(',')) + 1;
  EXPECT_EQ(state.CommaPositions[18], nineteenth);
  // The earlier positions stay in the table but are not used for this line.
  EXPECT_EQ(Parse(state, Flavour::Smtp, "O,d2"), (Record{".", "O", "", "d2"}));
  EXPECT_EQ(state.CommaPositions[0], 2);
  EXPECT_EQ(state.CommaPositions[18], nineteenth);
}

TEST(RecordParserTest, ThousandsOfCommasStoreTwentyOnePositions) {
  RunState state(10);
  std::string line = SmtpLine("I", "d", "P", "u", "5");
  line += std::string(5000, ',');
  EXPECT_EQ(Parse(state, Flavour::Smtp, line), (Record{"P.u", "I", "5", "d"}));
  EXPECT_EQ(state.CommaPositions[20], static_cast<std::int64_t>(line.find(",,") + 2));
}

TEST(RecordParserTest, FirstRecordAtIndexOneAndNothingPastTheCapacity) {
  RunState state(1);
  Parse(state, Flavour::Other, "a,b");
  EXPECT_EQ(state.RecordUser[0], "");
  EXPECT_EQ(state.RecordUser[1], "a,b");
  state.CurrentLine = "c,d";
  ++state.RecordCount;
  ParseAccountingRecord(state);  // record 2 does not fit: not filed, nothing overrun
  EXPECT_EQ(state.RecordUser.size(), 2u);
  EXPECT_EQ(state.RecordUser[1], "a,b");
}

}  // namespace
}  // namespace tollbook
