#include "mail/imap/folder_walk.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/fault_point.h"
#include "base/text.h"
#include "mail/imap/errors.h"
#include "mail/imap/fetch_items.h"
#include "mail/imap/folder_names.h"
#include "mail/imap/message.h"
#include "mail/imap/part_headers.h"
#include "mail/imap/walk_answers.h"
#include "mail/mime/header_fields.h"

namespace tollbook::mail {
namespace {

// First attachments fetched ahead: only those of at most kBodyAheadLimit
// bytes, for at most kBodiesAhead messages and kBodiesAheadBytes in all.
constexpr std::size_t kBodyAheadLimit = 64 * 1024;
constexpr std::size_t kBodiesAhead = 100;
constexpr std::size_t kBodiesAheadBytes = 2 * 1024 * 1024;

// How many UIDs one STORE or EXPUNGE command names at most.
constexpr std::size_t kUidsPerCommand = 500;

// The command's name for messages: "UID FETCH", "SELECT".
std::string CommandName(const std::string& text) { return text.substr(0, text.find(' ', 4)); }

// Takes the BODY[section] literals of a streamed body fetch into a decode buffer.
class BodySink : public ImapLiteralSink {
 public:
  BodySink(ImapDecodeBuffer& into, std::string section)
      : into_(into), section_(std::move(section)) {}
  bool Wants(std::string_view item) override {
    const auto name = FetchSectionName(item);
    return name && *name == section_;
  }
  void Write(const char* data, std::size_t size) override { into_.Write(data, size); }

 private:
  ImapDecodeBuffer& into_;
  std::string section_;
};

class ImapMessageCollection : public MessageCollection {
 public:
  ImapMessageCollection(std::shared_ptr<ImapClient> client, std::string mailbox, std::string name,
                        std::string server, bool forDeletion)
      : client_(std::move(client)),
        folderName_(name),
        where_(name + " on " + server),
        headers_([this]() -> ImapClient& { return Client(); }, where_) {
    try {
      if (forDeletion && !Client().Has("UIDPLUS")) {
        throw MessageError("cannot delete messages in " + where_ +
                           ": the server lacks UIDPLUS (UID EXPUNGE), and a plain EXPUNGE would "
                           "also remove messages that others marked deleted; run without deletion");
      }
      // The account's own connection does all the reading. A deleting walk
      // selects the folder read-write from the start, so the walk and the
      // deletions see the folder's one UIDVALIDITY (a server may fix it only
      // when the folder is first selected read-write); a reading walk only
      // examines it, and so never sets \Seen.
      mailbox_ = ImapMailboxArgument(mailbox, Client().Has("LITERAL+"));
      const ImapAnswer opened =
          Run((forDeletion ? "SELECT " : "EXAMINE ") + mailbox_, ImapGrade::kFolder);
      uidValidity_ = UidValidityOf(opened);
      const ImapAnswer search = Run("UID SEARCH ALL", ImapGrade::kFolder);
      for (const auto& response : search.untagged) {
        if (!response.Untagged() || response.items.empty() || !response.items[0].Is("SEARCH")) {
          continue;
        }
        for (std::size_t i = 1; i < response.items.size(); ++i) {
          const auto uid = response.items[i].Number();
          if (!uid || *uid == 0 || *uid > 0xFFFFFFFFu) {
            throw ImapError(ImapGrade::kFolder, "the server's UID SEARCH answer holds " +
                                                    ShownServerText(response.items[i].text) +
                                                    ", which is no UID");
          }
          uids_.push_back(static_cast<unsigned long>(*uid));
        }
      }
      std::sort(uids_.begin(), uids_.end());
      uids_.erase(std::unique(uids_.begin(), uids_.end()), uids_.end());
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession, "cannot open " + where_);
    }
  }

  std::unique_ptr<Message> Next() override {
    if (position_ == chunk_.size()) {
      if (nextUid_ >= uids_.size()) return nullptr;
      LoadChunk();
      if (chunk_.empty()) return nullptr;
    }
    const std::size_t index = position_++;
    const auto& message = chunk_[index];
    const std::string fields = message.topLevelFields.value_or("");
    MessageIdentity identity{
        "imap " + folderName_ + " " + std::to_string(uidValidity_) + " " + message.uid,
        HeaderFieldValue(fields, "Message-ID"), HeaderFieldValue(fields, "Date")};
    return MakeImapMessage(
        message.uid, where_, std::move(identity),
        [this, index, uid = message.uid] { return FirstOf(index, uid); },
        [this,
         deletedByOthers = message.deleted && !message.flaggedByTollbook](const std::string& uid) {
          if (!deletedByOthers) pending_.push_back(std::stoul(uid));
        },
        decodeBuffer_,
        [this](const std::string& uid, const std::string& section) { return Body(uid, section); },
        [this](const std::string& uid, const std::string& section, ImapDecodeBuffer& into) {
          StreamBody(uid, section, into);
        });
  }

  std::int64_t Count() override { return static_cast<std::int64_t>(uids_.size()); }

  void CommitDeletions() override {
    if (pending_.empty()) return;
    try {
      // Selected again: a folder re-created during the run answers with
      // another UIDVALIDITY, and nothing of it is touched.
      const ImapAnswer selected = Run("SELECT " + mailbox_, ImapGrade::kFolder);
      const unsigned long uidValidity = UidValidityOf(selected);
      if (uidValidity != 0 && uidValidity != uidValidity_) {
        throw MessageError("cannot delete the handled messages of " + where_ +
                           ": the folder was re-created during the run (UIDVALIDITY changed)");
      }
      const std::string flags = KeepsHandledKeyword(selected)
                                    ? "(\\Deleted " + std::string(kImapHandledKeyword) + ")"
                                    : "(\\Deleted)";
      for (std::size_t from = 0; from < pending_.size(); from += kUidsPerCommand) {
        const std::vector<unsigned long> part(
            pending_.begin() + from,
            pending_.begin() + std::min(pending_.size(), from + kUidsPerCommand));
        const std::string set = ImapUidSetText(part);
        Run("UID STORE " + set + " +FLAGS.SILENT " + flags, ImapGrade::kMessage);
        FaultPoint("flag");
        Run("UID EXPUNGE " + set, ImapGrade::kMessage);
        FaultPoint("expunge");
      }
      pending_.clear();
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession, "cannot delete the handled messages of " + where_);
    }
  }

 private:
  ImapClient& Client() {
    if (!client_->Open()) {
      throw ImapError(ImapGrade::kConnection,
                      "the connection to the server of " + where_ + " is closed");
    }
    return *client_;
  }

  ImapAnswer Run(const std::string& command, ImapGrade refusal) {
    return Client().Run(command, CommandName(command), nullptr, refusal);
  }

  std::string FetchRawHeader(const std::string& uid, const std::string& section) {
    try {
      return headers_.Get(uid, section);
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession, "reading part " + (section.empty() ? "0" : section) +
                                                  " of UID " + uid + " in " + where_);
    }
  }

  // The size BODYSTRUCTURE announced for part section of the message with
  // UID uid: the octets of the encoded part; nullopt for a message/* part
  // (the literal's own length still frames its body).
  std::optional<std::uint64_t> AnnouncedSize(const std::string& uid, const std::string& section) {
    for (std::size_t i = 0; i < chunk_.size(); ++i) {
      if (chunk_[i].uid != uid || !firsts_[i] || !*firsts_[i] || (*firsts_[i])->section != section)
        continue;
      return (*firsts_[i])->part->size;
    }
    throw MessageError("UID " + uid + " in " + where_ + ": part " + section +
                       " was not looked at before");
  }

  // The message whose answer a failed read was in, for the error, when the
  // parser knows it: the one whose body was cut, not the one being handled.
  std::string CutMessage() { return client_->CurrentMessage(); }

  // Fills into with the raw body of part section (the text for "") of the
  // message with UID uid, streamed from the server's literal. The body counts
  // only when it is as long as BODYSTRUCTURE announced and comes for this UID
  // and section; else it is fetched once more, then the message is refused.
  void StreamBody(const std::string& uid, const std::string& section, ImapDecodeBuffer& into) {
    const std::optional<std::uint64_t> announced = AnnouncedSize(uid, section);
    const std::string name = section.empty() ? "TEXT" : section;
    std::uint64_t got = 0;
    // A body fetched ahead that came wrong was the first fetch.
    const int attempts = shortAhead_.erase(uid) > 0 ? 1 : 2;
    for (int attempt = 0; attempt < attempts; ++attempt) {
      into.Start();
      BodySink sink(into, name);
      ImapAnswer answer;
      try {
        answer =
            Client().Run("UID FETCH " + uid + " (UID BODY.PEEK[" + name + "])", "UID FETCH", &sink);
      } catch (...) {
        RethrowAsMailError(ImapStage::kSession,
                           "reading part " + name + " of UID " + uid + " in " + where_);
      }
      // The answer's BODY[name] values in order, each with its FETCH
      // response's UID, and where each lies in what the buffer holds.
      std::vector<std::string> owners;
      std::vector<std::pair<std::uint64_t, std::uint64_t>> values;
      for (const auto& response : answer.untagged) {
        const ImapItem* attributes = FetchAttributes(response);
        if (attributes == nullptr) continue;
        const auto owner = FetchUid(*attributes);
        for (std::size_t i = 0; i + 1 < attributes->items.size(); i += 2) {
          const ImapItem& item = attributes->items[i];
          const ImapItem& value = attributes->items[i + 1];
          const auto section =
              item.kind == ImapItem::Kind::kAtom ? FetchSectionName(item.text) : std::nullopt;
          if (!section || *section != name || !value.IsString()) continue;
          owners.push_back(owner ? std::to_string(*owner) : std::string());
          if (value.streamed) {
            values.emplace_back(value.offset, value.length);
          } else {
            // A quoted body: the buffer holds it after the literals.
            values.emplace_back(sink.written, value.text.size());
            into.Write(value.text.data(), value.text.size());
            sink.written += value.text.size();
          }
        }
      }
      const std::string refused = "UID " + uid + " in " + where_ + " is left on the server: ";
      if (owners.size() != values.size()) {
        throw MessageError(refused + "the answer to the fetch of its part " + name +
                           " cannot be told apart");
      }
      const auto own = std::find(owners.begin(), owners.end(), uid);
      if (own == owners.end())
        throw MessageError(refused + "the server sent no body for its part " + name);
      if (std::find(own + 1, owners.end(), uid) != owners.end()) {
        throw MessageError(refused + "the server sent two bodies for its part " + name);
      }
      const auto& [offset, length] = values[static_cast<std::size_t>(own - owners.begin())];
      into.Narrow(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
      got = length;
      if (!announced || got == *announced) return;
    }
    throw MessageError("UID " + uid + " in " + where_ + " is left on the server: part " + name +
                       " is " + std::to_string(*announced) +
                       " bytes in BODYSTRUCTURE but the server sent " + std::to_string(got) +
                       " bytes, twice");
  }

  // The raw body of the first attachment of the message with UID uid when
  // it was fetched ahead. A miss fetches ahead the small first attachments of
  // the next messages of the chunk, this one included, in one command per
  // section number.
  std::optional<std::string> Body(const std::string& uid, const std::string& section) {
    auto found = bodies_.find(uid);
    if (found == bodies_.end() && !bodyTried_.contains(uid)) {
      FetchBodiesAhead();
      found = bodies_.find(uid);
    }
    if (found == bodies_.end() || found->second.first != section) return std::nullopt;
    std::string body = std::move(found->second.second);
    bodies_.erase(found);
    // A body that is not the announced size is fetched again by streaming.
    const auto announced = AnnouncedSize(uid, section);
    if (announced && body.size() != *announced) {
      shortAhead_.insert(uid);
      return std::nullopt;
    }
    return body;
  }

  // The first attachment of chunk_[index], found once. uid guards against a
  // message asked after the walk moved on to another chunk.
  std::optional<ImapFirstAttachment> FirstOf(std::size_t index, const std::string& uid) {
    if (index >= chunk_.size() || chunk_[index].uid != uid) {
      throw MessageError("UID " + uid + " in " + where_ + " was read after the walk moved past it");
    }
    if (!firsts_[index]) {
      firsts_[index] = FindImapFirstAttachment(
          chunk_[index], [this](const std::string& uid, const std::string& section) {
            return FetchRawHeader(uid, section);
          });
    }
    return *firsts_[index];
  }

  void FetchBodiesAhead() {
    bodies_.clear();
    bodyTried_.clear();
    std::map<std::string, std::vector<unsigned long>> groups;  // by section
    std::size_t bytes = 0;
    for (std::size_t j = position_ - 1; j < chunk_.size() && bodyTried_.size() < kBodiesAhead;
         ++j) {
      std::optional<ImapFirstAttachment> first;
      try {
        first = FirstOf(j, chunk_[j].uid);
      } catch (...) {
        break;  // its own turn will report it
      }
      const auto octets = first && !first->section.empty() ? first->part->size : std::nullopt;
      const std::size_t size = octets ? static_cast<std::size_t>(*octets) : kBodyAheadLimit + 1;
      if (size <= kBodyAheadLimit && bytes + size > kBodiesAheadBytes) break;
      bodyTried_.insert(chunk_[j].uid);
      if (size > kBodyAheadLimit) continue;
      bytes += size;
      groups[first->section].push_back(std::stoul(chunk_[j].uid));
    }
    try {
      for (auto& [section, uids] : groups) {
        ImapFetchSections(Client(), uids, "BODY.PEEK[" + section + "]",
                          [this, &section](const std::string& uid, const std::string& name,
                                           const std::string& text) {
                            if (name == section) bodies_[uid] = {name, text};
                          });
      }
    } catch (...) {
      const std::string cut = CutMessage();
      RethrowAsMailError(ImapStage::kSession, "reading the attachments of " +
                                                  (cut.empty() ? "" : cut + " in ") + where_);
    }
  }

  void LoadChunk() {
    const std::size_t last = std::min(uids_.size(), nextUid_ + kImapFetchChunk) - 1;
    const std::string context = "reading the messages of " + where_;
    try {
      std::string fields;
      for (const auto& field : ImapTopLevelFields()) fields += (fields.empty() ? "" : " ") + field;
      for (const auto& field : ImapIdentityFields()) fields += " " + field;
      chunk_ = MessagesOf(Client().Run(
          "UID FETCH " + std::to_string(uids_[nextUid_]) + ":" + std::to_string(uids_[last]) +
              " (UID FLAGS BODYSTRUCTURE BODY.PEEK[HEADER.FIELDS (" + fields + ")])",
          "UID FETCH"));
      // Only the folder's messages of this chunk, each once: a server may add
      // answers about other messages, or a second one (a flag change) about
      // the same message, without its structure.
      const std::unordered_set<unsigned long> asked(
          uids_.begin() + static_cast<std::ptrdiff_t>(nextUid_),
          uids_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
      std::erase_if(chunk_,
                    [&](const ImapMessageInfo& m) { return !asked.contains(std::stoul(m.uid)); });
      std::stable_sort(chunk_.begin(), chunk_.end(), [](const auto& a, const auto& b) {
        if (std::stoul(a.uid) != std::stoul(b.uid)) return std::stoul(a.uid) < std::stoul(b.uid);
        return a.structure != nullptr && b.structure == nullptr;
      });
      chunk_.erase(std::unique(chunk_.begin(), chunk_.end(),
                               [](const auto& a, const auto& b) { return a.uid == b.uid; }),
                   chunk_.end());
      headers_.Load(chunk_);
      bodies_.clear();
      bodyTried_.clear();
      firsts_.assign(chunk_.size(), std::nullopt);
    } catch (...) {
      const std::string cut = CutMessage();
      RethrowAsMailError(ImapStage::kSession,
                         cut.empty() ? context : context + " (in the answer for " + cut + ")");
    }
    position_ = 0;
    nextUid_ = last + 1;
  }

  std::shared_ptr<ImapClient> client_;
  std::string folderName_;
  std::string where_;
  std::string mailbox_;  // the folder's name as a quoted IMAP string
  unsigned long uidValidity_ = 0;
  std::vector<unsigned long> uids_;  // every UID of the folder when it was opened, ascending
  std::size_t nextUid_ = 0;          // index into uids_ of the next chunk's first UID
  std::vector<ImapMessageInfo> chunk_;
  std::size_t position_ = 0;
  std::vector<unsigned long> pending_;  // UIDs marked by Delete(), in walk order
  ImapPartHeaders headers_;             // the raw part headers of chunk_
  std::shared_ptr<ImapDecodeBuffer> decodeBuffer_ = std::make_shared<ImapDecodeBuffer>();
  // First attachments fetched ahead: UID -> (section, raw body); and the
  // UIDs that the last fetch ahead looked at.
  std::unordered_map<std::string, std::pair<std::string, std::string>> bodies_;
  std::unordered_set<std::string> bodyTried_;
  // UIDs whose body fetched ahead was not the announced size.
  std::unordered_set<std::string> shortAhead_;
  // The first attachment of each message of chunk_, once found.
  std::vector<std::optional<std::optional<ImapFirstAttachment>>> firsts_;
};

}  // namespace

std::unique_ptr<MessageCollection> OpenImapMessages(std::shared_ptr<ImapClient> client,
                                                    const std::string& mailbox,
                                                    const std::string& name,
                                                    const std::string& server, bool forDeletion) {
  return std::make_unique<ImapMessageCollection>(std::move(client), mailbox, name, server,
                                                 forDeletion);
}

}  // namespace tollbook::mail
