#include "mail/maildir/tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "base/file_system.h"
#include "mail/mail_source.h"
#include "mail/modified_utf7.h"

namespace tollbook::mail {
namespace {

enum class EntryKind { kFile, kDirectory, kOther };

// An open directory listing, closed when it goes out of scope.
class DirectoryListing {
 public:
  explicit DirectoryListing(const std::string& path) : path_(path), dir_(::opendir(path.c_str())) {
    if (dir_ == nullptr) error_ = errno;
  }
  ~DirectoryListing() {
    if (dir_ != nullptr) ::closedir(dir_);
  }
  DirectoryListing(const DirectoryListing&) = delete;
  DirectoryListing& operator=(const DirectoryListing&) = delete;

  // 0 when the directory is open, else the errno of opendir.
  int Error() const { return error_; }

  // The next entry other than "." and "..", or false at the end.
  bool Next(std::string& name, EntryKind& kind) {
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir_);
      if (entry == nullptr) {
        if (errno != 0) throw MailError("cannot list " + path_ + ": " + SystemErrorText(errno));
        return false;
      }
      if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
      name = entry->d_name;
      kind = KindOf(entry);
      return true;
    }
  }

 private:
  EntryKind KindOf(const dirent* entry) const {
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      struct stat st {};
      if (::fstatat(::dirfd(dir_), entry->d_name, &st, 0) != 0) return EntryKind::kOther;
      if (S_ISREG(st.st_mode)) return EntryKind::kFile;
      if (S_ISDIR(st.st_mode)) return EntryKind::kDirectory;
      return EntryKind::kOther;
    }
    if (type == DT_REG) return EntryKind::kFile;
    if (type == DT_DIR) return EntryKind::kDirectory;
    return EntryKind::kOther;
  }

  std::string path_;
  DIR* dir_;
  int error_ = 0;
};

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Appends the message files of folderPath/subdirectory to files.
void ListSubdirectory(const std::string& folderPath, const char* subdirectory,
                      std::vector<MaildirFileEntry>& files) {
  const std::string path = folderPath + "/" + subdirectory;
  DirectoryListing listing(path);
  if (listing.Error() == ENOENT) return;
  if (listing.Error() != 0) {
    throw MailError("cannot list " + path + ": " + SystemErrorText(listing.Error()));
  }
  std::string name;
  EntryKind kind;
  while (listing.Next(name, kind)) {
    if (kind != EntryKind::kFile || name.front() == '.') continue;
    files.push_back({subdirectory, std::move(name)});
  }
}

}  // namespace

std::string_view MaildirFileEntry::BaseName() const { return MaildirBaseName(name); }

std::string_view MaildirBaseName(std::string_view fileName) {
  const auto info = fileName.rfind(":2,");
  return info == std::string_view::npos ? fileName : fileName.substr(0, info);
}

void CheckMaildirRoot(const std::string& root) {
  if (root.empty()) throw LoginError("no Maildir path given");
  struct stat st {};
  if (::stat(root.c_str(), &st) != 0) {
    throw LoginError("cannot open the Maildir " + root + ": " + SystemErrorText(errno));
  }
  if (!S_ISDIR(st.st_mode)) {
    throw LoginError("cannot open the Maildir " + root + ": it is not a directory");
  }
  for (const char* subdirectory : {"cur", "new"}) {
    const std::string path = root + "/" + subdirectory;
    DirectoryListing listing(path);
    if (listing.Error() == ENOENT) {
      throw LoginError("cannot open the Maildir " + root + ": it has no " + subdirectory +
                       "/ directory, so it is not a Maildir");
    }
    if (listing.Error() != 0) {
      throw LoginError("cannot open the Maildir " + root + ": cannot list " + path + ": " +
                       SystemErrorText(listing.Error()));
    }
  }
}

std::vector<MaildirFolderEntry> ListMaildirFolders(const std::string& root) {
  std::vector<MaildirFolderEntry> folders;
  DirectoryListing listing(root);
  if (listing.Error() != 0) {
    throw MailError("cannot list " + root + ": " + SystemErrorText(listing.Error()));
  }
  std::string name;
  EntryKind kind;
  while (listing.Next(name, kind)) {
    if (kind != EntryKind::kDirectory || name.size() < 2 || name.front() != '.') continue;
    std::string path = root + "/" + name;
    if (!IsDirectory(path + "/cur")) continue;
    folders.push_back({DecodeMaildirFolderName(std::string_view(name).substr(1)), std::move(path)});
  }
  std::sort(folders.begin(), folders.end(),
            [](const MaildirFolderEntry& a, const MaildirFolderEntry& b) { return a.name < b.name; });
  folders.insert(folders.begin(), {"INBOX", root});
  return folders;
}

std::vector<MaildirFileEntry> ListMaildirMessages(const std::string& folderPath) {
  struct stat st {};
  if (::stat(folderPath.c_str(), &st) != 0) {
    throw MailError("cannot open the folder " + folderPath + ": " + SystemErrorText(errno));
  }
  if (!S_ISDIR(st.st_mode)) {
    throw MailError("cannot open the folder " + folderPath + ": it is not a directory");
  }
  std::vector<MaildirFileEntry> files;
  ListSubdirectory(folderPath, "new", files);
  ListSubdirectory(folderPath, "cur", files);
  std::sort(files.begin(), files.end(), [](const MaildirFileEntry& a, const MaildirFileEntry& b) {
    const auto baseA = a.BaseName(), baseB = b.BaseName();
    if (baseA != baseB) return baseA < baseB;
    if (a.subdirectory != b.subdirectory) return a.subdirectory < b.subdirectory;
    return a.name < b.name;
  });
  return files;
}

bool FindMaildirMessage(const std::string& folderPath, std::string_view baseName,
                        MaildirFileEntry& found) {
  std::vector<MaildirFileEntry> files;
  ListSubdirectory(folderPath, "new", files);
  ListSubdirectory(folderPath, "cur", files);
  for (auto& file : files) {
    if (file.BaseName() == baseName) {
      found = std::move(file);
      return true;
    }
  }
  return false;
}

std::string DecodeMaildirFolderName(std::string_view stored) {
  return DecodeModifiedUtf7(stored).value_or(std::string(stored));
}

std::string MaildirFilePath(const std::string& folderPath, const MaildirFileEntry& file) {
  return folderPath + "/" + file.subdirectory + "/" + file.name;
}

}  // namespace tollbook::mail
