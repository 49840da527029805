// The paths of a run's output files: the numbered scratch files and the files
// named inside the output folder.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tollbook {

// The scratch file of the n-th accounting attachment: the output folder, "/"
// unless the folder already ends in it, "acct", a blank and n.
std::string ScratchFilePath(const std::string& outputFolder, bool folderEndsInSeparator,
                            std::int64_t n);

// The output path rule: folder followed by name, with a "/" between them unless
// folder ends in one.
std::string OutputFilePath(const std::string& folder, std::string_view name);

}  // namespace tollbook
