#include "accounting/merge.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "accounting/line_reader.h"
#include "base/output_file.h"
#include "support/test_support.h"

namespace tollbook {
namespace {

using testing::ReadFile;
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

// Each line followed by CR LF: what the merge must write for them.
std::string Merged(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\r\n";
  return text;
}

struct LineEndCase {
  const char* name;
  std::string bytes;               // the file after its first line
  std::vector<std::string> lines;  // the lines the merge must find in them
};

// Line ends of every kind, each case placed at every offset from 4 bytes
// before a read block's end to 4 bytes after it, so that a CR LF, a lone CR
// or a lone LF falls on each side of the boundary and across it. The first
// line (which pads the file up to the boundary) has no commas, so each
// record's user key is its whole line. The merged output and the lines the
// parser saw are compared whole, through a string stream and through a real
// output file.
TEST_F(MergeTest, LineEndsAroundAReadBlockBoundary) {
  const std::vector<LineEndCase> cases = {
      {"crlf", "a,1\r\nb,2\r\nc,3\r\n", {"a,1", "b,2", "c,3"}},
      {"lone cr", "a,1\rb,2\rc,3\r", {"a,1", "b,2", "c,3"}},
      {"cr and crlf mixed", "a\rb\r\nc\rd\r\n", {"a", "b", "c", "d"}},
      {"lone lf stays in the line", "a\nb\r\nc\n\r\n", {"a\nb", "c\n"}},
      {"lf after crlf starts the next line", "a\r\n\nb\r\n\n", {"a", "\nb", "\n"}},
      {"last line without its end", "a\r\nbc", {"a", "bc"}},
      {"last line ends in a lone cr", "a\r\nb\r", {"a", "b"}},
      {"empty lines", "\r\n\r\n\r\r\n\r", {"", "", "", "", ""}},
      {"cr cr lf", "a\r\r\nb\r\n", {"a", "", "b"}},
      {"line longer than a block",
       std::string(150000, 'y') + "\r\n" + std::string(70000, 'z') + "\r",
       {std::string(150000, 'y'), std::string(70000, 'z')}},
  };
  for (const auto& c : cases) {
    for (std::size_t at = LineReader::kBlockSize - 4; at <= LineReader::kBlockSize + 4; ++at) {
      const std::string first(at - 2, 'p');  // with its CR LF, ends at `at`
      std::vector<std::string> lines{first};
      lines.insert(lines.end(), c.lines.begin(), c.lines.end());
      const std::string expected = kOtherHeaderLine + Merged(lines);
      const std::string where = std::string(c.name) + " at " + std::to_string(at);

      ResetRunState(state);
      full.str("");
      Merge(first + "\r\n" + c.bytes);
      EXPECT_EQ(full.str(), expected) << where;
      ASSERT_EQ(state.RecordCount, static_cast<std::int64_t>(lines.size())) << where;
      for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(state.RecordUser[i + 1], lines[i]) << where << ", record " << i + 1;
      }

      const std::string path = state.AccountingFilePath;
      ResetRunState(state);
      state.AccountingFilePath = path;
      {
        OutputFile out(dir / "fullacct.csv");
        MergeAccountingFile(state, out.Stream(), false);
        out.Close();
      }
      EXPECT_EQ(ReadFile(dir / "fullacct.csv"), expected) << where << ", output file";
    }
  }
}

// Many short CR LF lines, a few lone-CR lines among them and a file without
// its last line end, merged into one output file: the lines that already end
// in CR LF go out as stretches of whole blocks, the others one by one, and
// the file holds them all in order.
TEST_F(MergeTest, ManyBlocksOfLinesIntoAnOutputFile) {
  RunState big(40000);
  std::vector<std::string> lines;
  std::string bytes;
  for (int i = 0; i < 30000; ++i) {
    lines.push_back("I," + std::to_string(i) + ",x");
    bytes += lines.back() + (i % 997 == 0 ? "\r" : "\r\n");
  }
  lines.push_back("O,last");
  bytes += lines.back();
  const std::string expected = kSmtpHeaderLine + Merged(lines);
  for (const std::string& path : {dir / "a", dir / "b"}) {
    WriteFile(path, bytes);
  }
  OutputFile out(dir / "fullacct.csv");
  big.AccountingFilePath = dir / "a";
  MergeAccountingFile(big, out.Stream(), true);
  big.AccountingFilePath = dir / "b";
  MergeAccountingFile(big, out.Stream(), true);
  out.Close();
  EXPECT_EQ(ReadFile(dir / "fullacct.csv"), expected + Merged(lines));
  EXPECT_EQ(big.RecordCount, 2 * static_cast<std::int64_t>(lines.size()));
  EXPECT_EQ(big.RecordDate[30000], "29999");
  EXPECT_EQ(big.RecordDate[30001], "last");
  EXPECT_EQ(big.RecordDate[30002], "0");
}

}  // namespace
}  // namespace tollbook
