// Writing Maildir++ trees: for the sample generator and for tests that build
// real mailboxes. Not used by a processing run.
#pragma once

#include <string>
#include <string_view>

namespace tollbook::mail {

// Creates the directory path (and its missing parents) with cur/, new/ and
// tmp/. A subfolder (a ".Name" directory) also gets the empty "maildirfolder"
// file that Courier and Dovecot put there. Existing directories are kept.
// Throws tollbook::FileError.
void CreateMaildirFolder(const std::string& path, bool subfolder);

// Writes content as the message file folderPath/subdirectory/name
// (subdirectory "new" or "cur"; name with its ":2,FLAGS" suffix in cur/),
// byte for byte. Throws tollbook::FileError.
void WriteMaildirMessage(const std::string& folderPath, std::string_view subdirectory,
                         std::string_view name, std::string_view content);

// content with every CR LF turned into LF, as messages are stored in a
// Maildir.
std::string ToMaildirLineEnds(std::string_view content);

}  // namespace tollbook::mail
