#include "ledger/source.h"

#include <optional>
#include <vector>

#include "ledger/store.h"

namespace tollbook::ledger {
namespace {

constexpr const char* kAllFolder = "All";
constexpr int kPiece = 1 << 16;

using DatabasePtr = std::shared_ptr<Database>;

class LedgerAttachment : public mail::Attachment {
 public:
  LedgerAttachment(DatabasePtr db, std::int64_t file) : db_(std::move(db)), file_(file) {}
  std::string DisplayName() override { return "acct"; }

 protected:
  void WriteContent(std::ostream& out) override {
    Blob blob(*db_, "files", "content", file_, /*write=*/false);
    std::vector<char> buffer(kPiece);
    for (std::int64_t offset = 0, size = blob.Size(); offset < size;) {
      const int n = static_cast<int>(std::min<std::int64_t>(kPiece, size - offset));
      blob.Read(buffer.data(), n, offset);
      out.write(buffer.data(), n);
      offset += n;
    }
  }

 private:
  DatabasePtr db_;
  std::int64_t file_;
};

class LedgerAttachments : public mail::AttachmentCollection {
 public:
  LedgerAttachments(DatabasePtr db, std::int64_t file) : db_(std::move(db)), file_(file) {}
  int Count() override { return 1; }
  std::unique_ptr<mail::Attachment> Item(int index) override {
    if (index != 1) {
      throw mail::MessageError("ledger file " + std::to_string(file_) +
                               " has one attachment, not " + std::to_string(index));
    }
    return std::make_unique<LedgerAttachment>(db_, file_);
  }

 private:
  DatabasePtr db_;
  std::int64_t file_;
};

class LedgerMessage : public mail::Message {
 public:
  LedgerMessage(DatabasePtr db, std::int64_t file, mail::MessageIdentity identity)
      : db_(std::move(db)), file_(file), identity_(std::move(identity)) {}
  void SetConvertAttachments(bool) override {}
  std::unique_ptr<mail::AttachmentCollection> Attachments() override {
    return std::make_unique<LedgerAttachments>(db_, file_);
  }
  void Delete() override {
    throw mail::MessageError("the ledger " + db_->Path() +
                             " is read-only: nothing is deleted from it");
  }
  std::string Describe() override { return "ledger file " + std::to_string(file_); }
  mail::MessageIdentity Identity() override { return identity_; }

 private:
  DatabasePtr db_;
  std::int64_t file_;
  mail::MessageIdentity identity_;
};

class LedgerMessages : public mail::MessageCollection {
 public:
  LedgerMessages(DatabasePtr db, const std::string& month)
      : db_(std::move(db)),
        query_(*db_,
               month.empty()
                   ? "SELECT id, store_identity, message_id, date_header FROM files ORDER BY id"
                   : "SELECT id, store_identity, message_id, date_header FROM files "
                     "WHERE month = ?1 ORDER BY id") {
    if (!month.empty()) query_.Bind(1, month);
  }
  std::unique_ptr<mail::Message> Next() override {
    if (done_ || !query_.Step()) {
      done_ = true;
      return nullptr;
    }
    return std::make_unique<LedgerMessage>(
        db_, query_.Integer(0),
        mail::MessageIdentity{query_.Text(1), query_.Text(2), query_.Text(3)});
  }
  void CommitDeletions() override {}

 private:
  DatabasePtr db_;
  Statement query_;
  bool done_ = false;
};

class LedgerFolder : public mail::Folder {
 public:
  LedgerFolder(DatabasePtr db, std::string name) : db_(std::move(db)), name_(std::move(name)) {}
  std::string Name() override { return name_; }
  std::unique_ptr<mail::MessageCollection> Messages(bool forDeletion) override {
    if (forDeletion) {
      throw mail::MessageError("the ledger " + db_->Path() +
                               " is read-only: its messages cannot be deleted");
    }
    return std::make_unique<LedgerMessages>(db_, name_ == kAllFolder ? std::string() : name_);
  }

 private:
  DatabasePtr db_;
  std::string name_;
};

class LedgerFolders : public mail::FolderCollection {
 public:
  LedgerFolders(DatabasePtr db, std::vector<std::string> names)
      : db_(std::move(db)), names_(std::move(names)) {}
  int Count() override { return static_cast<int>(names_.size()); }
  std::unique_ptr<mail::Folder> Item(int position) override {
    if (position < 1 || position > Count()) {
      throw mail::MailError("the ledger " + db_->Path() + " has no folder " +
                            std::to_string(position));
    }
    return std::make_unique<LedgerFolder>(db_, names_[static_cast<std::size_t>(position - 1)]);
  }

 private:
  DatabasePtr db_;
  std::vector<std::string> names_;
};

class LedgerAccount : public mail::Account {
 public:
  explicit LedgerAccount(DatabasePtr db) : db_(std::move(db)) {}
  bool Remote() override { return true; }
  std::string Owner() override { return "ledger"; }
  std::unique_ptr<mail::FolderCollection> AllFolders() override {
    std::vector<std::string> names{kAllFolder};
    try {
      Statement months(*db_, "SELECT DISTINCT month FROM files ORDER BY month");
      while (months.Step()) names.push_back(months.Text(0));
    } catch (const std::exception& e) {
      throw mail::MailError(e.what());
    }
    return std::make_unique<LedgerFolders>(db_, std::move(names));
  }
  std::unique_ptr<mail::Folder> Mailbox() override {
    return std::make_unique<LedgerFolder>(db_, kAllFolder);
  }

 private:
  DatabasePtr db_;
};

class LedgerSession : public mail::Session {
 public:
  explicit LedgerSession(std::string path) : path_(std::move(path)) {}
  std::unique_ptr<mail::Account> Login(std::string_view, std::string_view) override {
    try {
      return std::make_unique<LedgerAccount>(OpenLedgerForReading(path_));
    } catch (const std::exception& e) {
      throw mail::LoginError(e.what());
    }
  }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<mail::Session> CreateLedgerSession(std::string path) {
  return std::make_unique<LedgerSession>(std::move(path));
}

}  // namespace tollbook::ledger
