#include "accounting/line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "support/test_support.h"

namespace tollbook {
namespace {

using testing::TempDir;
using testing::WriteFile;

std::vector<std::string> ReadAll(const std::string& path) {
  LineReader reader(path);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.ReadLine(line)) lines.emplace_back(line);
  return lines;
}

struct LineCase {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

TEST(LineReaderTest, SplitsAtCrAndCrLfOnly) {
  const std::vector<LineCase> cases = {
      {"empty file", "", {}},
      {"crlf ends", "a\r\nb\r\n", {"a", "b"}},
      {"cr ends", "a\rb\r", {"a", "b"}},
      {"missing final end", "a\r\nb\r\nc", {"a", "b", "c"}},
      {"lone lf stays in the line", "a\nb\nc\r\n", {"a\nb\nc"}},
      {"lf only file is one line", "a\nb\n", {"a\nb\n"}},
      {"blank line in the middle", "a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"cr cr is an empty line", "a\r\r\nb", {"a", "", "b"}},
      {"lone cr", "\r", {""}},
      {"lf after crlf starts a line", "a\r\n\nb\r\n", {"a", "\nb"}},
      {"nul and high bytes kept", std::string("x\0\xff,y\r\n", 7), {std::string("x\0\xff,y", 5)}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    WriteFile(dir / "f", c.bytes);
    EXPECT_EQ(ReadAll(dir / "f"), c.lines) << c.name;
  }
}

TEST(LineReaderTest, LinesSpanningBlocksAndCrLfSplitAcrossBlocks) {
  TempDir dir;
  // The block is 64 KiB: put a CR as its last byte and the LF as the next
  // block's first, and a line longer than a block.
  std::string first(65535, 'x');
  std::string bytes = first + "\r\n" + std::string(200000, 'y') + "\r\nz";
  WriteFile(dir / "f", bytes);
  const auto lines = ReadAll(dir / "f");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], first);
  EXPECT_EQ(lines[1], std::string(200000, 'y'));
  EXPECT_EQ(lines[2], "z");
}

TEST(LineReaderTest, MissingFileNamesThePath) {
  TempDir dir;
  try {
    LineReader reader(dir / "absent");
    FAIL() << "opened a missing file";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "cannot open " + (dir / "absent") + " for reading: No such file or directory");
  }
}

}  // namespace
}  // namespace tollbook
