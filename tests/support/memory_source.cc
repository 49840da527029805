#include "support/memory_source.h"

#include <algorithm>

namespace tollbook::mail {
namespace {

using StorePtr = std::shared_ptr<MemoryStore>;

class MemoryAttachment : public Attachment {
 public:
  MemoryAttachment(StorePtr store, std::size_t folder, std::size_t message, std::size_t index)
      : store_(std::move(store)), folder_(folder), message_(message), index_(index) {}
  std::string DisplayName() override { return Data().displayName; }

 protected:
  void WriteContent(std::ostream& out) override {
    const auto& content = Data().content;
    store_->events.push_back("save " + store_->folders[folder_].messages[message_].id);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }

 private:
  const MemoryAttachmentData& Data() {
    return store_->folders[folder_].messages[message_].attachments[index_];
  }
  StorePtr store_;
  std::size_t folder_, message_, index_;
};

class MemoryAttachments : public AttachmentCollection {
 public:
  MemoryAttachments(StorePtr store, std::size_t folder, std::size_t message)
      : store_(std::move(store)), folder_(folder), message_(message) {}
  int Count() override {
    return static_cast<int>(store_->folders[folder_].messages[message_].attachments.size());
  }
  std::unique_ptr<Attachment> Item(int index) override {
    if (index < 1 || index > Count()) throw MessageError("no attachment " + std::to_string(index));
    return std::make_unique<MemoryAttachment>(store_, folder_, message_,
                                              static_cast<std::size_t>(index - 1));
  }

 private:
  StorePtr store_;
  std::size_t folder_, message_;
};

class MemoryMessage : public Message {
 public:
  MemoryMessage(StorePtr store, std::size_t folder, std::size_t message,
                std::vector<std::size_t>& marked)
      : store_(std::move(store)), folder_(folder), message_(message), marked_(marked) {}
  void SetConvertAttachments(bool) override { store_->events.push_back("convert " + Describe()); }
  std::unique_ptr<AttachmentCollection> Attachments() override {
    return std::make_unique<MemoryAttachments>(store_, folder_, message_);
  }
  void Delete() override {
    store_->events.push_back("mark " + Describe());
    marked_.push_back(message_);
  }
  std::string Describe() override { return store_->folders[folder_].messages[message_].id; }
  MessageIdentity Identity() override {
    const auto& data = store_->folders[folder_].messages[message_];
    return {"memory " + data.id, data.messageId, data.date};
  }

 private:
  StorePtr store_;
  std::size_t folder_, message_;
  std::vector<std::size_t>& marked_;
};

class MemoryMessages : public MessageCollection {
 public:
  MemoryMessages(StorePtr store, std::size_t folder) : store_(std::move(store)), folder_(folder) {
    const auto& messages = store_->folders[folder_].messages;
    for (std::size_t i = 0; i < messages.size(); ++i) {
      if (!messages[i].deleted) walk_.push_back(i);
    }
  }
  std::int64_t Count() override { return static_cast<std::int64_t>(walk_.size()); }
  std::unique_ptr<Message> Next() override {
    if (next_ >= walk_.size()) return nullptr;
    return std::make_unique<MemoryMessage>(store_, folder_, walk_[next_++], marked_);
  }
  void CommitDeletions() override {
    store_->events.push_back("commit");
    for (std::size_t m : marked_) {
      auto& message = store_->folders[folder_].messages[m];
      message.deleted = true;
      store_->deletedIds.push_back(message.id);
    }
    marked_.clear();
  }

 private:
  StorePtr store_;
  std::size_t folder_;
  std::vector<std::size_t> walk_;
  std::size_t next_ = 0;
  std::vector<std::size_t> marked_;
};

class MemoryFolder : public Folder {
 public:
  MemoryFolder(StorePtr store, std::size_t folder) : store_(std::move(store)), folder_(folder) {}
  std::string Name() override { return store_->folders[folder_].name; }
  std::unique_ptr<MessageCollection> Messages(bool forDeletion) override {
    store_->events.push_back("open " + Name() + (forDeletion ? " rw" : ""));
    return std::make_unique<MemoryMessages>(store_, folder_);
  }

 private:
  StorePtr store_;
  std::size_t folder_;
};

class MemoryFolders : public FolderCollection {
 public:
  explicit MemoryFolders(StorePtr store) : store_(std::move(store)) {}
  int Count() override { return static_cast<int>(store_->folders.size()); }
  std::unique_ptr<Folder> Item(int position) override {
    if (position < 1 || position > Count()) {
      throw MailError("no folder at position " + std::to_string(position));
    }
    return std::make_unique<MemoryFolder>(store_, static_cast<std::size_t>(position - 1));
  }

 private:
  StorePtr store_;
};

class MemoryAccount : public Account {
 public:
  explicit MemoryAccount(StorePtr store) : store_(std::move(store)) {}
  bool Remote() override { return store_->remote; }
  std::string Owner() override { return store_->owner; }
  std::unique_ptr<FolderCollection> AllFolders() override {
    return std::make_unique<MemoryFolders>(store_);
  }
  std::unique_ptr<Folder> Mailbox() override {
    if (store_->folders.empty()) throw MailError("the store has no mailbox folder");
    return std::make_unique<MemoryFolder>(store_, 0);
  }
  std::string Location() override { return store_->location; }
  bool Connected() override { return store_->connected; }

 private:
  StorePtr store_;
};

class MemorySession : public Session {
 public:
  explicit MemorySession(StorePtr store) : store_(std::move(store)) {}
  std::unique_ptr<Account> Login(std::string_view, std::string_view) override {
    if (store_->refuseLogin) throw LoginError("log-in refused");
    store_->connected = true;
    ++store_->logins;
    return std::make_unique<MemoryAccount>(store_);
  }

 private:
  StorePtr store_;
};

}  // namespace

MemoryMessageData& MemoryStore::AddMessage(const std::string& folder, std::string id,
                                           std::vector<MemoryAttachmentData> attachments) {
  auto it = std::find_if(folders.begin(), folders.end(),
                         [&](const MemoryFolderData& f) { return f.name == folder; });
  if (it == folders.end()) {
    folders.push_back({folder, {}});
    it = folders.end() - 1;
  }
  it->messages.push_back({std::move(id), std::move(attachments), false});
  return it->messages.back();
}

std::unique_ptr<Session> CreateMemorySession(std::shared_ptr<MemoryStore> store) {
  return std::make_unique<MemorySession>(std::move(store));
}

}  // namespace tollbook::mail
