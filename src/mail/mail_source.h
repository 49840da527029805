// The mail source: the session, account, folder, message and attachment that
// a processing run and start-up work through, with only the operations they
// use. Implemented by a Maildir store, an IMAP server and an in-memory store
// for tests.
//
// Objects handed out are owned by the caller. Every object may keep using the
// one it came from (a message its folder's connection, say), so callers keep
// the account alive while they use anything obtained through it.
//
// Failures are thrown as the MailError family below; implementations translate
// their library's exceptions into these in one place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tollbook::mail {

// Any failure of the mail source.
class MailError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// The session could not be created or the log-in failed (missing mailbox,
// refused password, unreachable server, untrusted certificate).
class LoginError : public MailError {
 public:
  using MailError::MailError;
};
// A mailbox location or a setting of the environment that cannot be used as
// written (an unknown scheme, a time-out that is no number): bad usage rather
// than a failed log-in, though start-up takes its error route all the same.
class SettingError : public LoginError {
 public:
  using LoginError::LoginError;
};
// The connection to the store broke or timed out after the log-in.
class ConnectionError : public MailError {
 public:
  using MailError::MailError;
};
// One message or attachment could not be read or changed.
class MessageError : public MailError {
 public:
  using MailError::MailError;
};

class Attachment {
 public:
  virtual ~Attachment() = default;
  // The attachment's display name (its file name, MIME-decoded).
  virtual std::string DisplayName() = 0;
  // Writes the attachment's decoded content, byte for byte, to path: a new or
  // emptied file; a symbolic link at path is refused, not followed. Throws
  // tollbook::Failure for file errors and MailError for mail errors.
  void Save(const std::string& path);
  // The number of bytes Save() would write. Reads (and decodes) the whole
  // content, writing it nowhere. Throws MailError.
  std::uint64_t DecodedSize();

 protected:
  // Streams the decoded content into out. Write errors are checked by Save.
  virtual void WriteContent(std::ostream& out) = 0;
};

class AttachmentCollection {
 public:
  virtual ~AttachmentCollection() = default;
  virtual int Count() = 0;
  // The attachment at position index, counted from 1. Throws MailError when
  // index is not between 1 and Count().
  virtual std::unique_ptr<Attachment> Item(int index) = 0;
};

// Where a message comes from, as far as the store can say it for good: the
// ledger recognises a file seen again by it.
struct MessageIdentity {
  // The store's own stable name of the message: "maildir UNIQUE" (the file
  // name without its ":2,..." flags), "imap FOLDER UIDVALIDITY UID",
  // "memory ID".
  std::string store;
  std::string messageId;  // the Message-ID field's value, trimmed; empty when none
  std::string date;       // the Date field's value as written; empty when none
  // When a ledger first collected the message (UTC, ISO 8601): set only by
  // the "ledger:" mailbox, empty for every other store.
  std::string collected{};
};

class Message {
 public:
  virtual ~Message() = default;
  // Asks the store to present attachments in their decoded form. Set on every
  // message before its attachments are looked at.
  virtual void SetConvertAttachments(bool convert) = 0;
  virtual std::unique_ptr<AttachmentCollection> Attachments() = 0;
  // Marks the message for deletion. Nothing disappears before the message
  // collection's CommitDeletions().
  virtual void Delete() = 0;
  // A short description for error messages, e.g. a file name or "UID 42".
  virtual std::string Describe() = 0;
  // The message's identity. Reads the message's header where needed; throws
  // MailError.
  virtual MessageIdentity Identity() = 0;
};

// The messages of one folder, walked once from first to last.
class MessageCollection {
 public:
  virtual ~MessageCollection() = default;
  // The next message, or nullptr after the last one.
  virtual std::unique_ptr<Message> Next() = 0;
  // How many messages the walk will go through, as the folder held them when
  // it was opened; -1 when the store cannot tell without walking.
  virtual std::int64_t Count() { return -1; }
  // Removes every message marked by Delete() since the last commit. The caller
  // makes everything it took from those messages durable first. A store may
  // carry the removal out in the background while the walk goes on; a failure
  // there is thrown by a later CommitDeletions() or by FinishDeletions().
  virtual void CommitDeletions() = 0;
  // Waits until every committed deletion is done and durable. Throws the
  // first failure of a deletion carried out in the background.
  virtual void FinishDeletions() {}
};

class Folder {
 public:
  virtual ~Folder() = default;
  virtual std::string Name() = 0;
  // Opens the folder's messages. forDeletion says whether the walk may delete
  // messages (a store can then open the folder read-only otherwise).
  virtual std::unique_ptr<MessageCollection> Messages(bool forDeletion) = 0;
};

// The account's folders in a fixed order: the order of the folder list and of
// positional lookup.
class FolderCollection {
 public:
  virtual ~FolderCollection() = default;
  virtual int Count() = 0;
  // The folder at position, counted from 1. Throws MailError when position is
  // not between 1 and Count().
  virtual std::unique_ptr<Folder> Item(int position) = 0;
};

class Account {
 public:
  virtual ~Account() = default;
  // True for a local copy of the mailbox, false for a live server connection.
  virtual bool Remote() = 0;
  virtual std::string Owner() = 0;
  virtual std::unique_ptr<FolderCollection> AllFolders() = 0;
  // The account's own mailbox folder (INBOX).
  virtual std::unique_ptr<Folder> Mailbox() = 0;
  // Where the mailbox is, for people: a Maildir path or an IMAP location
  // without its password. "" when the store has no such name.
  virtual std::string Location() { return ""; }
  // False when the connection to the store is lost; a live connection may
  // be asked (an IMAP NOOP). A local store is always connected.
  virtual bool Connected() { return true; }
  // What the account's own folders' names start with where the server puts
  // them under a common prefix ("INBOX." on Cyrus), as shown; "" elsewhere.
  virtual std::string FolderPrefix() { return {}; }
};

// Steps of the session worth telling a user who asked for them ("connecting
// to imaps://host:993", "logged in as ann"). Never holds a password.
using TraceSink = std::function<void(std::string_view step)>;

// What a session takes besides its location.
struct SessionOptions {
  // IMAP: the shell command whose first output line is the password; empty
  // for none. It comes before the URL's password and ~/.netrc.
  std::string passwordCommand;
  // Told each step of connecting and logging in, when set.
  TraceSink trace;
  // Told what the user should know (a ~/.netrc that others can read); the
  // text goes to standard error when unset.
  TraceSink warn;
};

class Session {
 public:
  virtual ~Session() = default;
  // Logs in. Which account opens is the store's matter; user and password are
  // passed on as given (both empty in normal use). Throws LoginError.
  virtual std::unique_ptr<Account> Login(std::string_view user, std::string_view password) = 0;
};

}  // namespace tollbook::mail
