// Helpers shared by the fuzz targets: an in-memory file that a path can name,
// and the plain reference readings of the accounting format that the targets
// compare the real code against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollbook::fuzz {

// A memory file (memfd) reachable through a /proc/self/fd path, so that code
// which opens files by name reads the fuzzer's bytes without touching a disk.
class MemoryFile {
 public:
  MemoryFile();
  // Replaces the content; returns the path that names it.
  const std::string& Hold(std::string_view content);
  const std::string& Path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

// Splits text into lines: a line ends at CR or CR LF, a lone LF stays in the
// line, the last line may lack its end, nothing after a final line end.
std::vector<std::string_view> ReferenceLines(std::string_view text);

// Column c (from 1) of line: the text between comma c-1 and comma c, up to
// the end of the line when it has exactly c-1 commas, empty when fewer.
std::string_view ReferenceColumn(std::string_view line, std::size_t c);

// Aborts with the message when the condition is false (a finding).
void Require(bool condition, const char* what);

}  // namespace tollbook::fuzz
