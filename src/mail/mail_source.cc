#include <streambuf>

#include "base/output_file.h"
#include "mail/mail_source.h"

namespace tollbook::mail {

void Attachment::Save(const std::string& path) {
  OutputFile file(path, OutputFile::Mode::kTruncateNoFollow);
  WriteContent(file.Stream());
  file.Close();
}

namespace {

// Counts what is written to it and keeps nothing.
class CountingBuffer : public std::streambuf {
 public:
  std::uint64_t count = 0;

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    count += static_cast<std::uint64_t>(n);
    return n;
  }
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) ++count;
    return traits_type::not_eof(c);
  }
};

}  // namespace

std::uint64_t Attachment::DecodedSize() {
  CountingBuffer buffer;
  std::ostream out(&buffer);
  WriteContent(out);
  return buffer.count;
}

}  // namespace tollbook::mail
