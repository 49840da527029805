// The IMAP mail source: a session that logs in to imap:// or imaps://
// locations, the account's folders and the way to their messages.
#include <algorithm>
#include <cstdio>
#include <vmime/net/imap/IMAPConnection.hpp>
#include <vmime/net/imap/IMAPStore.hpp>
#include <vmime/vmime.hpp>

#include "base/text.h"
#include "mail/imap/command.h"
#include "mail/imap/connection.h"
#include "mail/imap/errors.h"
#include "mail/imap/folder_names.h"
#include "mail/imap/folder_walk.h"
#include "mail/imap/imap.h"
#include "mail/imap/netrc.h"
#include "mail/imap/password_command.h"
#include "mail/imap/response_limits.h"
#include "mail/imap/url.h"

namespace tollbook::mail {
namespace {

using vmime::net::imap::IMAPParser;

struct ImapAccountState {
  ImapUrl url;
  std::shared_ptr<vmime::net::store> store;
};

std::shared_ptr<vmime::net::imap::IMAPConnection> ConnectionOf(const ImapAccountState& state) {
  auto imapStore = std::dynamic_pointer_cast<vmime::net::imap::IMAPStore>(state.store);
  if (!imapStore || !imapStore->getConnection()) {
    throw ConnectionError("the connection to " + state.url.Shown() + " is closed");
  }
  return imapStore->getConnection();
}

class ImapFolder : public Folder {
 public:
  ImapFolder(std::shared_ptr<ImapAccountState> account, std::string mailbox, std::string name)
      : account_(std::move(account)), mailbox_(std::move(mailbox)), name_(std::move(name)) {}
  std::string Name() override { return name_; }
  std::unique_ptr<MessageCollection> Messages(bool forDeletion) override {
    return OpenImapMessages(account_->store, mailbox_, name_, account_->url.Shown(), forDeletion);
  }

 private:
  std::shared_ptr<ImapAccountState> account_;
  std::string mailbox_;  // as the server spells it
  std::string name_;     // as shown
};

struct FolderEntry {
  std::string mailbox;  // as the server spells it
  std::string name;     // as shown: decoded, escaped
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
    return std::make_unique<ImapFolder>(account_, entry.mailbox, entry.name);
  }

 private:
  std::shared_ptr<ImapAccountState> account_;
  std::vector<FolderEntry> folders_;
};

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

  // Every selectable folder the server lists, INBOX first. The names are
  // read from the server's own LIST answer, byte for byte: a name that is
  // not valid modified UTF-7 is shown as its raw bytes and still opens.
  std::unique_ptr<FolderCollection> AllFolders() override {
    std::vector<FolderEntry> others;
    try {
      auto response = RunImapCommand(*ConnectionOf(*state_), "LIST \"\" \"*\"", "LIST");
      for (const auto* data : response->continue_req_or_response_data()) {
        const auto* responseData = data->response_data();
        if (responseData == nullptr || responseData->mailbox_data() == nullptr ||
            responseData->mailbox_data()->type() != IMAPParser::mailbox_data::LIST ||
            responseData->mailbox_data()->mailbox_list() == nullptr) {
          continue;
        }
        const auto* list = responseData->mailbox_data()->mailbox_list();
        bool selectable = list->mailbox() != nullptr;
        if (list->mailbox_flag_list() != nullptr) {
          for (const auto* flag : list->mailbox_flag_list()->flags()) {
            if (flag->type() == IMAPParser::mailbox_flag::NOSELECT ||
                EqualsIgnoreCase(flag->name(), "\\NonExistent")) {
              selectable = false;
            }
          }
        }
        if (!selectable) continue;
        const std::string& mailbox = list->mailbox()->name();
        if (EqualsIgnoreCase(mailbox, "INBOX")) continue;
        others.push_back({mailbox, ShownImapFolderName(mailbox)});
      }
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession, "cannot list the folders of " + state_->url.Shown());
    }
    std::sort(others.begin(), others.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    std::vector<FolderEntry> folders{{"INBOX", "INBOX"}};
    folders.insert(folders.end(), others.begin(), others.end());
    return std::make_unique<ImapFolderCollection>(state_, std::move(folders));
  }

  // The personal namespace's prefix (RFC 2342), as shown: "INBOX." on a
  // server that keeps every folder under INBOX.
  std::string FolderPrefix() override {
    try {
      auto connection = ConnectionOf(*state_);
      if (!connection->hasCapability("NAMESPACE")) return {};
      auto guard = ImapGuardOf(*connection);
      if (!guard) return {};
      guard->TakeNamespaceLine();
      RunImapCommand(*connection, "NAMESPACE", "NAMESPACE");
      if (auto line = guard->TakeNamespaceLine()) {
        if (auto prefix = PersonalNamespacePrefix(*line)) return ShownImapFolderName(*prefix);
      }
      return {};
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession,
                         "cannot read the namespaces of " + state_->url.Shown());
    }
  }

  std::unique_ptr<Folder> Mailbox() override {
    return std::make_unique<ImapFolder>(state_, "INBOX", "INBOX");
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
