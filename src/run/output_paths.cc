#include "run/output_paths.h"

#include "accounting/number_text.h"

namespace tollbook {

std::string ScratchFilePath(const std::string& outputFolder, bool folderEndsInSeparator,
                            std::int64_t n) {
  std::string path = outputFolder;
  path += folderEndsInSeparator ? "acct" : "/acct";
  AppendNumberText(path, n);
  return path;
}

std::string OutputFilePath(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  path += name;
  return path;
}

}  // namespace tollbook
