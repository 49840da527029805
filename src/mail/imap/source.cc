// The IMAP mail source: a session that logs in to imap:// or imaps://
// locations, the account's folders and the way to their messages.
#include <algorithm>
#include <cstdio>
#include <vmime/net/imap/IMAPConnection.hpp>
#include <vmime/net/imap/IMAPStore.hpp>
#include <vmime/vmime.hpp>

#include "base/text.h"
#include "mail/imap/connection.h"
#include "mail/imap/errors.h"
#include "mail/imap/folder_walk.h"
#include "mail/imap/imap.h"
#include "mail/imap/netrc.h"
#include "mail/imap/password_command.h"
#include "mail/imap/url.h"

namespace tollbook::mail {
namespace {

struct ImapAccountState {
  ImapUrl url;
  std::shared_ptr<vmime::net::store> store;
};

class ImapFolder : public Folder {
 public:
  ImapFolder(std::shared_ptr<ImapAccountState> account, vmime::net::folder::path path, std::string name)
      : account_(std::move(account)), path_(std::move(path)), name_(std::move(name)) {}
  std::string Name() override { return name_; }
  std::unique_ptr<MessageCollection> Messages(bool forDeletion) override {
    return OpenImapMessages(account_->store, path_, name_, account_->url.Shown(), forDeletion);
  }

 private:
  std::shared_ptr<ImapAccountState> account_;
  vmime::net::folder::path path_;
  std::string name_;
};

struct FolderEntry {
  vmime::net::folder::path path;
  std::string name;
};

class ImapFolderCollection : public FolderCollection {
 public:
  ImapFolderCollection(std::shared_ptr<ImapAccountState> account, std::vector<FolderEntry> folders)
      : account_(std::move(account)), folders_(std::move(folders)) {}
  int Count() override { return static_cast<int>(folders_.size()); }
  std::unique_ptr<Folder> Item(int position) override {
    if (position < 1 || position > Count()) {
      throw MailError("there is no folder " + std::to_string(position) + " on " + account_->url.Shown() +
                      " (it has " + std::to_string(Count()) + ")");
    }
    const FolderEntry& entry = folders_[position - 1];
    return std::make_unique<ImapFolder>(account_, entry.path, entry.name);
  }

 private:
  std::shared_ptr<ImapAccountState> account_;
  std::vector<FolderEntry> folders_;
};

std::string ComponentText(const vmime::net::folder::path::component& component) {
  return component.getConvertedText(vmime::charset(vmime::charsets::UTF_8));
}

class ImapAccount : public Account {
 public:
  explicit ImapAccount(std::shared_ptr<ImapAccountState> state) : state_(std::move(state)) {}
  ~ImapAccount() override {
    try {
      if (state_->store->isConnected()) state_->store->disconnect();
    } catch (...) {
      // Leaving: a connection that cannot say goodbye is dropped.
    }
  }

  bool Remote() override { return false; }
  std::string Owner() override { return state_->url.user; }

  std::unique_ptr<FolderCollection> AllFolders() override {
    std::vector<FolderEntry> others;
    try {
      auto imapStore = std::dynamic_pointer_cast<vmime::net::imap::IMAPStore>(state_->store);
      const char separator = imapStore->getConnection()->hierarchySeparator();
      for (const auto& folder : state_->store->getRootFolder()->getFolders(true)) {
        if (folder->getAttributes().getFlags() & vmime::net::folderAttributes::FLAG_NO_OPEN) continue;
        const auto path = folder->getFullPath();
        if (path.getSize() == 1 && EqualsIgnoreCase(ComponentText(path[0]), "INBOX")) continue;
        std::string name;
        for (std::size_t i = 0; i < path.getSize(); ++i) {
          if (i > 0) name += separator;
          name += ComponentText(path[i]);
        }
        others.push_back({path, name});
      }
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession, "cannot list the folders of " + state_->url.Shown());
    }
    std::sort(others.begin(), others.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    std::vector<FolderEntry> folders{{InboxPath(), "INBOX"}};
    folders.insert(folders.end(), others.begin(), others.end());
    return std::make_unique<ImapFolderCollection>(state_, std::move(folders));
  }

  std::unique_ptr<Folder> Mailbox() override {
    return std::make_unique<ImapFolder>(state_, InboxPath(), "INBOX");
  }

  std::string Location() override { return state_->url.Shown(); }

  // Asks the server (NOOP): a connection the server dropped is often still
  // open on this side until something is sent.
  bool Connected() override {
    try {
      if (!state_->store->isConnected()) return false;
      state_->store->noop();
      return state_->store->isConnected();
    } catch (...) {
      return false;
    }
  }

 private:
  static vmime::net::folder::path InboxPath() {
    return vmime::net::folder::path(vmime::net::folder::path::component("INBOX"));
  }
  std::shared_ptr<ImapAccountState> state_;
};

class ImapSession : public Session {
 public:
  ImapSession(ImapUrl url, SessionOptions options) : url_(std::move(url)), options_(std::move(options)) {}

  // The password: the password command's when one is named, else the one
  // given to Login(), else the URL's, else the netrc file's.
  std::unique_ptr<Account> Login(std::string_view user, std::string_view password) override {
    ImapUrl url = url_;
    if (!user.empty()) url.user = std::string(user);
    if (!options_.passwordCommand.empty()) {
      Trace("running the password command");
      url.password = RunPasswordCommand(options_.passwordCommand);
      url.hasPassword = true;
    } else if (!password.empty()) {
      url.password = std::string(password);
      url.hasPassword = true;
    }
    const TraceSink warn = options_.warn ? options_.warn : [](std::string_view text) {
      std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    };
    CompleteImapCredentials(url, DefaultNetrcPath(), warn);
    Trace("connecting to " + url.Shown() + " and logging in as " + url.user);
    auto state = std::make_shared<ImapAccountState>();
    state->store = ConnectImapStore(url);
    Trace("logged in to " + url.Shown() + " as " + url.user);
    state->url = std::move(url);
    return std::make_unique<ImapAccount>(std::move(state));
  }

 private:
  void Trace(const std::string& step) {
    if (options_.trace) options_.trace(step);
  }

  ImapUrl url_;
  SessionOptions options_;
};

}  // namespace

std::unique_ptr<Session> CreateImapSession(std::string_view url, const SessionOptions& options) {
  ImapTimeoutSeconds();  // a malformed time-out is refused before anything starts
  return std::make_unique<ImapSession>(ParseImapUrl(url), options);
}

}  // namespace tollbook::mail
