// The Maildir source: a Maildir++ tree read with a directory walk of its own
// (maildir/tree.h) and a scan of each message for its attachments
// (mime/scan.h) by the attachment rule of mime/attachment_rule.h. Nothing
// in the tree changes except the files of messages whose deletion is
// committed: no flags are set and nothing moves from new/ to cur/.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>
#include <vmime/exception.hpp>

#include "base/errors.h"
#include "base/file_system.h"
#include "base/output_file.h"
#include "mail/maildir/deleter.h"
#include "mail/maildir/maildir.h"
#include "mail/maildir/tree.h"
#include "mail/mime/attachment.h"
#include "mail/mime/file_stream.h"
#include "mail/mime/header_fields.h"
#include "mail/mime/scan.h"
#include "mail/vmime_init.h"

namespace tollbook::mail {
namespace {


// Runs f, turning vmime's exceptions into MessageError("<what>: <why>").
template <class F>
auto TranslateVmime(const std::string& what, F&& f) {
  try {
    return f();
  } catch (const vmime::exception& e) {
    throw MessageError(what + ": " + e.what());
  }
}

// One message file, scanned for its attachments; shared by its attachment collection and its
// attachments, which keep the file open while they live.
struct ParsedMessage {
  std::string description;
  MimeMessage mime;
};

class MaildirAttachment : public Attachment {
 public:
  MaildirAttachment(std::shared_ptr<const ParsedMessage> message, std::size_t index)
      : message_(std::move(message)), index_(index) {}

  std::string DisplayName() override {
    return TranslateVmime("cannot read an attachment name of " + message_->description,
                          [&] { return MimeAttachmentName(Mime(), *message_->mime.stream); });
  }

 protected:
  void WriteContent(std::ostream& out) override {
    try {
      WriteMimeAttachmentContent(Mime(), *message_->mime.stream, out);
    } catch (const vmime::exception& e) {
      throw MessageError(CannotDecode() + e.what());
    } catch (const MessageError& e) {
      throw MessageError(CannotDecode() + e.what());
    }
  }

 private:
  const vmime::attachment& Mime() const { return *message_->mime.attachments[index_]; }

  std::string CannotDecode() {
    return "cannot decode attachment " + std::to_string(index_ + 1) + " \"" + DisplayName() +
           "\" of " + message_->description + ": ";
  }

  std::shared_ptr<const ParsedMessage> message_;
  std::size_t index_;
};

class MaildirAttachments : public AttachmentCollection {
 public:
  explicit MaildirAttachments(std::shared_ptr<const ParsedMessage> message)
      : message_(std::move(message)) {}

  int Count() override { return static_cast<int>(message_->mime.attachments.size()); }

  std::unique_ptr<Attachment> Item(int index) override {
    if (index < 1 || index > Count()) {
      throw MessageError(message_->description + " has no attachment " + std::to_string(index));
    }
    return std::make_unique<MaildirAttachment>(message_, static_cast<std::size_t>(index - 1));
  }

 private:
  std::shared_ptr<const ParsedMessage> message_;
};

// What a folder's walk shares with its messages: where the folder is and
// which messages are marked for deletion.
struct Walk {
  std::string folderPath;
  std::vector<MaildirFileEntry> marked;
};

std::string RelativePath(const MaildirFileEntry& file) { return file.subdirectory + "/" + file.name; }

std::string FullPath(const Walk& walk, const MaildirFileEntry& file) {
  return MaildirFilePath(walk.folderPath, file);
}

// At most this much of a message is read for its Message-ID and Date.
constexpr std::size_t kHeaderLimit = 256 * 1024;

class MaildirMessage : public Message {
 public:
  MaildirMessage(std::shared_ptr<Walk> walk, MaildirFileEntry file,
                 vmime::shared_ptr<MimeFileStream> stream)
      : walk_(std::move(walk)), file_(std::move(file)), stream_(std::move(stream)) {}

  // Attachments are always presented decoded.
  void SetConvertAttachments(bool) override {}

  std::unique_ptr<AttachmentCollection> Attachments() override {
    if (!parsed_) parsed_ = Parse();
    return std::make_unique<MaildirAttachments>(parsed_);
  }

  void Delete() override { walk_->marked.push_back(file_); }

  std::string Describe() override { return RelativePath(file_); }

  MessageIdentity Identity() override {
    MessageIdentity identity{"maildir " + std::string(file_.BaseName()), {}, {}};
    std::string header;
    TranslateVmime("cannot read the header of message " + FullPath(*walk_, file_), [&] {
      header = stream_->ReadRange(0, stream_->HeaderBlockEnd(0, std::min(kHeaderLimit, stream_->Size())));
    });
    identity.messageId = HeaderFieldValue(header, "Message-ID");
    identity.date = HeaderFieldValue(header, "Date");
    return identity;
  }

 private:
  std::shared_ptr<const ParsedMessage> Parse() {
    auto parsed = std::make_shared<ParsedMessage>();
    parsed->description = "message " + FullPath(*walk_, file_);
    TranslateVmime("cannot parse " + parsed->description,
                   [&] {
                     parsed->mime.stream = stream_;
                     parsed->mime.attachments = ScanMimeAttachments(stream_);
                   });
    return parsed;
  }

  std::shared_ptr<Walk> walk_;
  MaildirFileEntry file_;
  vmime::shared_ptr<MimeFileStream> stream_;
  std::shared_ptr<const ParsedMessage> parsed_;
};

class MaildirMessages : public MessageCollection {
 public:
  explicit MaildirMessages(const std::string& folderPath)
      : walk_(std::make_shared<Walk>(Walk{folderPath, {}})),
        files_(ListMaildirMessages(folderPath)) {}

  std::unique_ptr<Message> Next() override {
    while (next_ < files_.size()) {
      MaildirFileEntry file = std::move(files_[next_++]);
      auto stream = MimeFileStream::Open(FullPath(*walk_, file));
      if (!stream && errno == ENOENT) {
        // Another client moved it (new/ to cur/) or changed its flags since
        // the listing; a message that is gone altogether is skipped.
        const std::string baseName(file.BaseName());
        if (!FindMaildirMessage(walk_->folderPath, baseName, file)) continue;
        stream = MimeFileStream::Open(FullPath(*walk_, file));
        if (!stream && errno == ENOENT) continue;
      }
      if (!stream) {
        throw MessageError("cannot open message " + FullPath(*walk_, file) + ": " +
                           SystemErrorText(errno));
      }
      return std::make_unique<MaildirMessage>(walk_, std::move(file), std::move(stream));
    }
    return nullptr;
  }

  // Hands the marked files to the deleter, which unlinks them while the walk
  // goes on: unlinking costs about as much as reading the messages.
  void CommitDeletions() override {
    if (walk_->marked.empty()) {
      deleter_.ThrowFailure();
      return;
    }
    deleter_.Add(std::move(walk_->marked));
    walk_->marked.clear();
  }

  void FinishDeletions() override { deleter_.Finish(); }

  std::int64_t Count() override { return static_cast<std::int64_t>(files_.size()); }

 private:
  std::shared_ptr<Walk> walk_;
  std::vector<MaildirFileEntry> files_;
  std::size_t next_ = 0;
  MaildirDeleter deleter_{walk_->folderPath};
};

class MaildirFolder : public Folder {
 public:
  explicit MaildirFolder(MaildirFolderEntry entry) : entry_(std::move(entry)) {}
  std::string Name() override { return entry_.name; }
  // The files are only read, and removed when deletion is committed, so the
  // walk is the same with or without deletion.
  std::unique_ptr<MessageCollection> Messages(bool) override {
    return std::make_unique<MaildirMessages>(entry_.path);
  }

 private:
  MaildirFolderEntry entry_;
};

class MaildirFolders : public FolderCollection {
 public:
  explicit MaildirFolders(std::vector<MaildirFolderEntry> folders) : folders_(std::move(folders)) {}
  int Count() override { return static_cast<int>(folders_.size()); }
  std::unique_ptr<Folder> Item(int position) override {
    if (position < 1 || position > Count()) {
      throw MailError("no folder at position " + std::to_string(position));
    }
    return std::make_unique<MaildirFolder>(folders_[static_cast<std::size_t>(position - 1)]);
  }

 private:
  std::vector<MaildirFolderEntry> folders_;
};

class MaildirAccount : public Account {
 public:
  explicit MaildirAccount(std::string root) : root_(std::move(root)) {}

  // A Maildir is a local copy of the mailbox.
  bool Remote() override { return true; }

  // The user name of the owner of the Maildir root (its number when the user
  // has no name).
  std::string Owner() override {
    struct stat st {};
    if (::stat(root_.c_str(), &st) != 0) {
      throw MailError("cannot read the owner of " + root_ + ": " + SystemErrorText(errno));
    }
    std::vector<char> buffer(16384);
    passwd entry {};
    passwd* found = nullptr;
    if (::getpwuid_r(st.st_uid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr) {
      return found->pw_name;
    }
    return std::to_string(st.st_uid);
  }

  std::unique_ptr<FolderCollection> AllFolders() override {
    return std::make_unique<MaildirFolders>(ListMaildirFolders(root_));
  }

  std::unique_ptr<Folder> Mailbox() override {
    return std::make_unique<MaildirFolder>(MaildirFolderEntry{"INBOX", root_});
  }

  std::string Location() override { return root_; }

 private:
  std::string root_;
};

class MaildirSession : public Session {
 public:
  MaildirSession(std::string root, TraceSink trace) : root_(std::move(root)), trace_(std::move(trace)) {}

  std::unique_ptr<Account> Login(std::string_view, std::string_view) override {
    EnsureVmimeInitialised();
    if (trace_) trace_("opening the Maildir " + root_);
    CheckMaildirRoot(root_);
    return std::make_unique<MaildirAccount>(root_);
  }

 private:
  std::string root_;
  TraceSink trace_;
};

}  // namespace

std::unique_ptr<Session> CreateMaildirSession(std::string path, TraceSink trace) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return std::make_unique<MaildirSession>(std::move(path), std::move(trace));
}

}  // namespace tollbook::mail
