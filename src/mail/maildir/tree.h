// The directory walk of a Maildir++ tree, as Dovecot and Courier lay it out:
// the root (with cur/, new/ and tmp/) is the mailbox INBOX, and each folder is
// a dot-directory beside them (".Sent", ".A.B" for the folder "A.B"). Only
// directory listings and file names; the messages themselves are read by the
// Maildir source.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tollbook::mail {

struct MaildirFolderEntry {
  std::string name;  // "INBOX", or the folder name decoded to UTF-8
  std::string path;  // the folder's directory: the root, or root + "/.Name"
};

// Checks that root is a readable Maildir: a directory whose cur/ and new/ can
// be listed. Creates nothing. Throws LoginError naming root and the cause.
void CheckMaildirRoot(const std::string& root);

// The mailbox (named "INBOX") first, then every dot-directory of root that
// holds a cur/ directory, sorted by name (byte order). Throws MailError when
// root cannot be listed.
std::vector<MaildirFolderEntry> ListMaildirFolders(const std::string& root);

struct MaildirFileEntry {
  std::string subdirectory;  // "new" or "cur"
  std::string name;          // the file name, flags included
  std::string_view BaseName() const;
};

// The path of a message file: folderPath/subdirectory/name.
std::string MaildirFilePath(const std::string& folderPath, const MaildirFileEntry& file);

// The message files of a folder's new/ and cur/ together, in delivery order:
// ascending by base name (MaildirBaseName), then by subdirectory and name.
// tmp/, names starting with "." and anything that is not a regular file are
// left out; a missing new/ or cur/ counts as empty. Throws MailError when the
// folder directory is missing or a subdirectory cannot be listed.
std::vector<MaildirFileEntry> ListMaildirMessages(const std::string& folderPath);

// A message file's name without its info suffix: everything in front of the
// last ":2," (the name itself when it has none).
std::string_view MaildirBaseName(std::string_view fileName);

// Looks for the file of the message with the given base name in the folder's
// new/ and cur/ (another client may have moved it or changed its flags).
// Returns false when there is none. Throws MailError when a subdirectory
// cannot be listed.
bool FindMaildirMessage(const std::string& folderPath, std::string_view baseName,
                        MaildirFileEntry& found);

// Decodes a Maildir++ folder name stored in IMAP's modified UTF-7 ("&AOQ-"
// for "ä", "&-" for "&") to UTF-8. A name that is not valid modified UTF-7 is
// returned as it stands.
std::string DecodeMaildirFolderName(std::string_view stored);

}  // namespace tollbook::mail
