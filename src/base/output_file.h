// A file written through a std::ostream, with every write checked and the
// system's error kept, so that a failed write names the file and the cause.
#pragma once

#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

namespace tollbook {

class OutputFile {
 public:
  enum class Mode {
    kTruncate,         // create or empty; a symbolic link at path is followed
    kTruncateNoFollow  // create or empty; a symbolic link at path is refused
  };

  // Opens path for writing from an empty file. Throws FileError
  // ("cannot open PATH for writing: ...") on failure.
  OutputFile(std::string path, Mode mode = Mode::kTruncate);
  // Closes the file if Close() was not called; errors are then lost, so callers
  // that care call Close().
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& Stream() { return stream_; }
  const std::string& Path() const { return path_; }
  int Descriptor() const { return fd_; }

  // Throws FileError ("cannot write PATH: ...") when a write to the stream
  // failed since the file was opened.
  void CheckWrites();
  // Writes out the buffer and fsyncs the file; throws FileError on failure.
  void Sync();
  // Writes out the buffer and closes the file; throws FileError on failure.
  void Close();

 private:
  class Buffer;
  std::string path_;
  int fd_ = -1;
  std::unique_ptr<Buffer> buffer_;
  std::ostream stream_;
};

}  // namespace tollbook
