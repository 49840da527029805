#include "sample/maildir_writer.h"

#include <sys/stat.h>

#include <cerrno>

#include "base/errors.h"
#include "base/output_file.h"

namespace tollbook::mail {
namespace {

void MakeDirectories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (!prefix.empty() && ::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
      throw FileError("cannot create", prefix, errno);
    }
    if (slash == std::string::npos) return;
  }
}

}  // namespace

void CreateMaildirFolder(const std::string& path, bool subfolder) {
  MakeDirectories(path);
  for (const char* subdirectory : {"/cur", "/new", "/tmp"}) {
    const std::string directory = path + subdirectory;
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
      throw FileError("cannot create", directory, errno);
    }
  }
  if (subfolder) {
    OutputFile marker(path + "/maildirfolder");
    marker.Close();
  }
}

void WriteMaildirMessage(const std::string& folderPath, std::string_view subdirectory,
                         std::string_view name, std::string_view content) {
  std::string path = folderPath;
  path += '/';
  path += subdirectory;
  path += '/';
  path += name;
  OutputFile file(path, OutputFile::Mode::kTruncateNoFollow);
  file.Stream().write(content.data(), static_cast<std::streamsize>(content.size()));
  file.Close();
}

std::string ToMaildirLineEnds(std::string_view content) {
  std::string out;
  out.reserve(content.size());
  for (std::size_t i = 0; i < content.size(); ++i) {
    if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n') continue;
    out += content[i];
  }
  return out;
}

}  // namespace tollbook::mail
