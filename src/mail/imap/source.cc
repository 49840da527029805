// The IMAP mail source: a session that logs in to imap:// or imaps://
// locations, the account's folders and the way to their messages.
#include <algorithm>
#include <atomic>
#include <cstdio>

#include "base/text.h"
#include "mail/imap/client.h"
#include "mail/imap/errors.h"
#include "mail/imap/folder_names.h"
#include "mail/imap/folder_walk.h"
#include "mail/imap/imap.h"
#include "mail/imap/netrc.h"
#include "mail/imap/password_command.h"
#include "mail/imap/url.h"

namespace tollbook::mail {
namespace {

// Microsoft's tokens pass 4 KiB.
constexpr std::size_t kLongestToken = 16 * 1024;

struct ImapAccountState {
  ImapUrl url;
  std::shared_ptr<ImapClient> client;
};

ImapClient& ClientOf(const ImapAccountState& state) {
  if (!state.client->Open()) {
    throw ConnectionError("the connection to " + state.url.Shown() + " is closed");
  }
  return *state.client;
}

// An item of a LIST answer read as a string (a mailbox name).
bool IsStringLike(const ImapItem& item) {
  return item.kind == ImapItem::Kind::kAtom || item.kind == ImapItem::Kind::kString;
}

class ImapFolder : public Folder {
 public:
  ImapFolder(std::shared_ptr<ImapAccountState> account, std::string mailbox, std::string name)
      : account_(std::move(account)), mailbox_(std::move(mailbox)), name_(std::move(name)) {}
  std::string Name() override { return name_; }
  std::unique_ptr<MessageCollection> Messages(bool forDeletion) override {
    return OpenImapMessages(account_->client, mailbox_, name_, account_->url.Shown(), forDeletion);
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
      throw MailError("there is no folder " + std::to_string(position) + " on " +
                      account_->url.Shown() + " (it has " + std::to_string(Count()) + ")");
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
  ~ImapAccount() override { state_->client->LogOut(); }

  bool Remote() override { return false; }
  std::string Owner() override { return state_->url.user; }

  // Every selectable folder the server lists, INBOX first. The names are
  // read from the server's own LIST answer, byte for byte: a name that is
  // not valid modified UTF-7 is shown as its raw bytes and still opens.
  std::unique_ptr<FolderCollection> AllFolders() override {
    std::vector<FolderEntry> others;
    try {
      const ImapAnswer answer = ClientOf(*state_).Run("LIST \"\" \"*\"", "LIST");
      for (const auto& response : answer.untagged) {
        // * LIST (flags) delimiter name
        const auto& items = response.items;
        if (!response.Untagged() || items.size() != 4 || !items[0].Is("LIST") ||
            !items[1].IsList() || !IsStringLike(items[3]) || items[3].streamed) {
          continue;
        }
        bool selectable = true;
        for (const auto& flag : items[1].items) {
          if (flag.Is("\\Noselect") || flag.Is("\\NonExistent")) selectable = false;
        }
        if (!selectable) continue;
        const std::string& mailbox = items[3].text;
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
      ImapClient& client = ClientOf(*state_);
      if (!client.Has("NAMESPACE")) return {};
      const ImapAnswer answer = client.Run("NAMESPACE", "NAMESPACE");
      for (const auto& response : answer.untagged) {
        // * NAMESPACE (("prefix" "delimiter") ...) other shared
        const auto& items = response.items;
        if (!response.Untagged() || items.size() < 2 || !items[0].Is("NAMESPACE")) continue;
        if (!items[1].IsList() || items[1].items.empty() || !items[1].items[0].IsList()) return {};
        const auto& first = items[1].items[0].items;
        if (first.empty() || !IsStringLike(first[0]) || first[0].streamed) return {};
        return ShownImapFolderName(first[0].text);
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
      if (!state_->client->Open()) return false;
      state_->client->Run("NOOP", "NOOP");
      return state_->client->Open();
    } catch (...) {
      return false;
    }
  }

 private:
  std::shared_ptr<ImapAccountState> state_;
};

class ImapSession : public Session {
 public:
  ImapSession(ImapUrl url, SessionOptions options)
      : url_(std::move(url)), options_(std::move(options)) {}

  // The password: the password command's when one is named, else the one
  // given to Login(), else the URL's, else the netrc file's. A bearer token
  // (";AUTH=XOAUTH2", ";AUTH=OAUTHBEARER") comes only from the password
  // command, run again for every log-in so that it can hand out a fresh one.
  std::unique_ptr<Account> Login(std::string_view user, std::string_view password) override {
    ImapUrl url = url_;
    if (!user.empty()) url.user = std::string(user);
    const TraceSink warn = options_.warn ? options_.warn : [](std::string_view text) {
      std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
    };
    if (url.tls == ImapTls::kNone) {
      static std::atomic<bool> warned{false};
      if (!warned.exchange(true)) warn("warning: ?tls=none: the password travels in clear text");
    }
    if (!url.mechanism.empty()) {
      Trace("running the password command for a bearer token");
      url.password = RunPasswordCommand(options_.passwordCommand);
      url.hasPassword = true;
      if (url.password.size() > kLongestToken) {
        throw LoginError(
            "the bearer token that the password command printed is longer than 16 KiB");
      }
    } else {
      if (!options_.passwordCommand.empty()) {
        Trace("running the password command");
        url.password = RunPasswordCommand(options_.passwordCommand);
        url.hasPassword = true;
      } else if (!password.empty()) {
        url.password = std::string(password);
        url.hasPassword = true;
      }
      CompleteImapCredentials(url, DefaultNetrcPath(), warn);
    }
    Trace("connecting to " + url.Shown() + " and logging in as " + url.user);
    auto state = std::make_shared<ImapAccountState>();
    state->client = std::make_shared<ImapClient>(url, ImapTimeoutSeconds());
    try {
      state->client->LogIn(url.password);
    } catch (...) {
      RethrowAsMailError(ImapStage::kLogin, "cannot log in to " + url.Shown(), url.password);
    }
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
  ImapUrl parsed = ParseImapUrl(url);
  if (!parsed.mechanism.empty() && options.passwordCommand.empty()) {
    throw SettingError(";AUTH=" + parsed.mechanism + " in " + parsed.Shown() +
                       " needs a password command that prints the bearer token "
                       "(--password-command or TOLLBOOK_IMAP_PASSWORD_COMMAND)");
  }
  if (!parsed.mechanism.empty() && parsed.user.empty()) {
    throw SettingError(";AUTH=" + parsed.mechanism +
                       " needs a user name in the location: imaps://USER;AUTH=" + parsed.mechanism +
                       "@" + parsed.host);
  }
  return std::make_unique<ImapSession>(std::move(parsed), options);
}

}  // namespace tollbook::mail
