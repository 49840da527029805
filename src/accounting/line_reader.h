// Reads the lines of an accounting file. A line ends at CR or at CR LF; the
// end is not part of the line. A line feed that does not follow a CR stays in
// the line. The last line may lack its end. An empty file has no lines; a file
// that ends in a line end has no empty line after it. Streams the file in
// fixed-size blocks: memory does not grow with the file, only with its longest
// line.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace tollbook {

class LineReader {
 public:
  // Size of the blocks the file is read in.
  static constexpr std::size_t kBlockSize = 1 << 16;

  // Opens path for reading; throws FileError ("cannot open PATH for reading: ...").
  explicit LineReader(std::string path);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Reads the next line into `line` (valid until the next call). Returns false
  // at the end of the file. Throws FileError on a read error.
  bool ReadLine(std::string_view& line);

  // Reads every line left in the file. Calls on_line(line) for each, in order,
  // and hands the same lines, each followed by CR LF, to write(bytes), also in
  // order: a stretch of lines that already end in CR LF within one read block
  // goes out as one piece straight from the block, so a file of such lines
  // costs about one write a block. Every line is given to on_line before the
  // piece that holds it is written. Returns false as soon as write returns
  // false (the lines of that piece have been given to on_line), true at the end
  // of the file. Throws FileError on a read error.
  template <typename OnLine, typename Write>
  bool CopyLines(OnLine&& on_line, Write&& write);

  // Number of lines read so far.
  std::int64_t LineNumber() const { return line_number_; }
  const std::string& Path() const { return path_; }

 private:
  bool Fill();

  std::string path_;
  int fd_ = -1;
  std::unique_ptr<char[]> block_;  // kBlockSize bytes, left uninitialised
  std::size_t begin_ = 0;  // next unread byte in block_
  std::size_t end_ = 0;    // end of the valid bytes in block_
  bool at_eof_ = false;
  bool skip_lf_ = false;  // the previous line ended in CR: a leading LF belongs to it
  std::string pending_;   // a line that spans blocks
  std::int64_t line_number_ = 0;
};

template <typename OnLine, typename Write>
bool LineReader::CopyLines(OnLine&& on_line, Write&& write) {
  std::string_view line;
  for (;;) {
    if (skip_lf_ && begin_ < end_) {
      skip_lf_ = false;
      if (block_[begin_] == '\n') ++begin_;
    }
    // The stretch: lines whose CR LF lies whole in this block. A line that
    // ends in a lone CR, in the block's last byte, or not in this block at
    // all is left to ReadLine.
    const char* const stretch = block_.get() + begin_;
    const char* next = stretch;
    const char* const end = block_.get() + end_;
    for (;;) {
      const auto* cr = static_cast<const char*>(std::memchr(next, '\r', static_cast<std::size_t>(end - next)));
      if (cr == nullptr || cr + 1 == end || cr[1] != '\n') break;
      ++line_number_;
      on_line(std::string_view(next, static_cast<std::size_t>(cr - next)));
      next = cr + 2;
    }
    if (next != stretch) {
      begin_ += static_cast<std::size_t>(next - stretch);
      if (!write(std::string_view(stretch, static_cast<std::size_t>(next - stretch)))) return false;
    }
    if (!ReadLine(line)) return true;
    on_line(line);
    if (!write(line) || !write(std::string_view("\r\n", 2))) return false;
  }
}

}  // namespace tollbook
