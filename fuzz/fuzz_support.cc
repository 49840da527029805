#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tollbook::fuzz {

MemoryFile::MemoryFile() {
  fd_ = ::memfd_create("tollbook-fuzz", MFD_CLOEXEC);
  Require(fd_ >= 0, "memfd_create");
  path_ = "/proc/self/fd/" + std::to_string(fd_);
}

const std::string& MemoryFile::Hold(std::string_view content) {
  Require(::ftruncate(fd_, 0) == 0, "ftruncate");
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::pwrite(fd_, content.data() + done, content.size() - done,
                         static_cast<off_t>(done));
    Require(n > 0, "pwrite");
    done += static_cast<std::size_t>(n);
  }
  return path_;
}

std::vector<std::string_view> ReferenceLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') continue;
    lines.push_back(text.substr(start, i - start));
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string_view ReferenceColumn(std::string_view line, std::size_t c) {
  std::size_t begin = 0;
  for (std::size_t k = 1; k < c; ++k) {
    const auto comma = line.find(',', begin);
    if (comma == std::string_view::npos) return {};
    begin = comma + 1;
  }
  const auto end = line.find(',', begin);
  return line.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
  std::abort();
}

}  // namespace tollbook::fuzz
