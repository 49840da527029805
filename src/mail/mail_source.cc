#include "base/output_file.h"
#include "mail/mail_source.h"

namespace tollbook::mail {

void Attachment::Save(const std::string& path) {
  OutputFile file(path, OutputFile::Mode::kTruncateNoFollow);
  WriteContent(file.Stream());
  file.Close();
}

}  // namespace tollbook::mail
