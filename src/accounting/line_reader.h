// Reads the lines of an accounting file. A line ends at CR or at CR LF; the
// end is not part of the line. A line feed that does not follow a CR stays in
// the line. The last line may lack its end. An empty file has no lines; a file
// that ends in a line end has no empty line after it. Streams the file in
// fixed-size blocks: memory does not grow with the file, only with its longest
// line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollbook {

class LineReader {
 public:
  // Opens path for reading; throws FileError ("cannot open PATH for reading: ...").
  explicit LineReader(std::string path);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Reads the next line into `line` (valid until the next call). Returns false
  // at the end of the file. Throws FileError on a read error.
  bool ReadLine(std::string_view& line);

  // Number of lines read so far.
  std::int64_t LineNumber() const { return line_number_; }
  const std::string& Path() const { return path_; }

 private:
  bool Fill();

  std::string path_;
  int fd_ = -1;
  std::vector<char> block_;
  std::size_t begin_ = 0;  // next unread byte in block_
  std::size_t end_ = 0;    // end of the valid bytes in block_
  bool at_eof_ = false;
  bool skip_lf_ = false;  // the previous line ended in CR: a leading LF belongs to it
  std::string pending_;   // a line that spans blocks
  std::int64_t line_number_ = 0;
};

}  // namespace tollbook
