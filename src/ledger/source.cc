#include "ledger/source.h"

#include <optional>
#include <vector>

#include "ledger/storage.h"

namespace tollbook::ledger {
namespace {

constexpr const char* kAllFolder = "All";
using DatabasePtr = std::shared_ptr<LedgerStorage>;

class LedgerAttachment : public mail::Attachment {
 public:
  LedgerAttachment(DatabasePtr db, std::int64_t file) : db_(std::move(db)), file_(file) {}
  std::string DisplayName() override { return "acct"; }

 protected:
  void WriteContent(std::ostream& out) override { db_->WriteContent(file_, out); }

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
    throw mail::MessageError("the ledger " + db_->Name() +
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
      : db_(std::move(db)), files_(db_->Files(month)) {}
  std::unique_ptr<mail::Message> Next() override {
    std::int64_t id = 0;
    FileRow row;
    if (!files_->Next(id, row)) return nullptr;
    return std::make_unique<LedgerMessage>(
        db_, id, mail::MessageIdentity{row.store, row.messageId, row.date, row.collected});
  }
  void CommitDeletions() override {}

 private:
  DatabasePtr db_;
  std::unique_ptr<FileCursor> files_;
};

class LedgerFolder : public mail::Folder {
 public:
  LedgerFolder(DatabasePtr db, std::string name) : db_(std::move(db)), name_(std::move(name)) {}
  std::string Name() override { return name_; }
  std::unique_ptr<mail::MessageCollection> Messages(bool forDeletion) override {
    if (forDeletion) {
      throw mail::MessageError("the ledger " + db_->Name() +
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
      throw mail::MailError("the ledger " + db_->Name() + " has no folder " +
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
      for (auto& month : db_->Months()) names.push_back(std::move(month));
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
      std::shared_ptr<LedgerStorage> storage = CreateLedgerStorage(path_);
      storage->OpenForReading();
      return std::make_unique<LedgerAccount>(std::move(storage));
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
