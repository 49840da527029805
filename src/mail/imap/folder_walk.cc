#include "mail/imap/folder_walk.h"

#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>
#include <vmime/net/imap/IMAPConnection.hpp>
#include <vmime/net/imap/IMAPMessageStructure.hpp>
#include <vmime/net/imap/IMAPParser.hpp>
#include <vmime/net/imap/IMAPStore.hpp>
#include <vmime/net/imap/IMAPUtils.hpp>
#include <vmime/vmime.hpp>

#include "base/fault_point.h"
#include "base/text.h"
#include "mail/imap/command.h"
#include "mail/imap/errors.h"
#include "mail/imap/folder_names.h"
#include "mail/imap/message.h"
#include "mail/imap/part_headers.h"
#include "mail/imap/response_limits.h"
#include "mail/mime/header_fields.h"

namespace tollbook::mail {
namespace {

// The octets BODYSTRUCTURE gives for a part; nullopt for a message/* part,
// for which vmime's parser keeps no size.
std::optional<std::uint64_t> PartOctets(const vmime::net::messagePart& part) {
  if (part.getType().getType() == vmime::mediaTypes::MESSAGE) return std::nullopt;
  return part.getSize();
}

using vmime::net::imap::IMAPConnection;
using vmime::net::imap::IMAPParser;

// First attachments fetched ahead: only those of at most kBodyAheadLimit
// bytes, for at most kBodiesAhead messages and kBodiesAheadBytes in all.
constexpr std::size_t kBodyAheadLimit = 64 * 1024;
constexpr std::size_t kBodiesAhead = 100;
constexpr std::size_t kBodiesAheadBytes = 2 * 1024 * 1024;

// How many UIDs one STORE or EXPUNGE command names at most.
constexpr std::size_t kUidsPerCommand = 500;

// Sends one command on connection and throws command_error unless it ends in OK.
std::unique_ptr<IMAPParser::response> RunCommand(const std::shared_ptr<IMAPConnection>& connection,
                                                 const std::string& text) {
  return RunImapCommand(*connection, text, text.substr(0, text.find(' ', 4)));
}

// The response code of the given type that an answer carried (in an
// untagged OK, as UIDVALIDITY and PERMANENTFLAGS come), or null.
const IMAPParser::resp_text_code* ResponseCode(const IMAPParser::response& response,
                                               IMAPParser::resp_text_code::Type type) {
  for (const auto* data : response.continue_req_or_response_data()) {
    const auto* responseData = data->response_data();
    if (responseData == nullptr || responseData->resp_cond_state() == nullptr) continue;
    const auto* code = responseData->resp_cond_state()->resp_text()->resp_text_code();
    if (code != nullptr && code->type() == type) return code;
  }
  return nullptr;
}

// The UIDVALIDITY an EXAMINE or SELECT answer gave, 0 when none.
unsigned long UidValidityOf(const IMAPParser::response& response) {
  const auto* code = ResponseCode(response, IMAPParser::resp_text_code::UIDVALIDITY);
  return code != nullptr && code->nz_number() != nullptr ? code->nz_number()->value() : 0;
}

bool IsHandledKeyword(const IMAPParser::flag& flag) {
  return flag.type() == IMAPParser::flag::KEYWORD_OR_EXTENSION && flag.flag_keyword() != nullptr &&
         EqualsIgnoreCase(flag.flag_keyword()->value(), kImapHandledKeyword);
}

// Whether a SELECT answer lets this session store kImapHandledKeyword: its
// PERMANENTFLAGS name the keyword or allow new ones ("\*").
bool KeepsHandledKeyword(const IMAPParser::response& response) {
  const auto* code = ResponseCode(response, IMAPParser::resp_text_code::PERMANENTFLAGS);
  if (code == nullptr || code->flag_list() == nullptr) return false;
  for (const auto* flag : code->flag_list()->flags()) {
    if (flag->type() == IMAPParser::flag::STAR || IsHandledKeyword(*flag)) return true;
  }
  return false;
}

// The messages one "UID FETCH ... (UID FLAGS BODYSTRUCTURE BODY.PEEK[HEADER.FIELDS ...])"
// answer describes, in the answer's order.
std::vector<ImapMessageInfo> MessagesOf(const IMAPParser::response& response) {
  std::vector<ImapMessageInfo> messages;
  for (const auto* data : response.continue_req_or_response_data()) {
    const auto* responseData = data->response_data();
    if (responseData == nullptr || responseData->message_data() == nullptr ||
        responseData->message_data()->type() != IMAPParser::message_data::FETCH) {
      continue;
    }
    const auto* attributes = responseData->message_data()->msg_att();
    if (attributes == nullptr) continue;
    ImapMessageInfo message;
    for (const auto* item : attributes->items()) {
      switch (item->type()) {
        case IMAPParser::msg_att_item::UID:
          if (item->unique_id() != nullptr) message.uid = std::to_string(item->unique_id()->value());
          break;
        case IMAPParser::msg_att_item::FLAGS:
          if (item->flag_list() == nullptr) break;
          for (const auto* flag : item->flag_list()->flags()) {
            if (flag->type() == IMAPParser::flag::DELETED) message.deleted = true;
            if (IsHandledKeyword(*flag)) message.flaggedByTollbook = true;
          }
          break;
        case IMAPParser::msg_att_item::BODY_STRUCTURE:
          message.structure = std::make_shared<vmime::net::imap::IMAPMessageStructure>(item->body());
          break;
        case IMAPParser::msg_att_item::BODY_SECTION:
          if (item->nstring() != nullptr) message.topLevelFields = item->nstring()->value();
          break;
        default:
          break;
      }
    }
    if (!message.uid.empty()) messages.push_back(std::move(message));
  }
  return messages;
}

class ImapMessageCollection : public MessageCollection {
 public:
  ImapMessageCollection(std::shared_ptr<vmime::net::store> store, std::string mailbox,
                        std::string name, std::string server, bool forDeletion)
      : store_(std::move(store)), folderName_(name), where_(name + " on " + server),
        headers_([this] { return StoreConnection(); }, where_) {
    try {
      if (forDeletion) {
        auto connection = StoreConnection();
        if (!connection->hasCapability("UIDPLUS")) {
          throw MessageError("cannot delete messages in " + where_ +
                             ": the server lacks UIDPLUS (UID EXPUNGE), and a plain EXPUNGE would "
                             "also remove messages that others marked deleted; run without deletion");
        }
      }
      // The account's own connection does all the reading, with the folder
      // examined (read-only) on it.
      auto connection = StoreConnection();
      mailbox_ = ImapMailboxArgument(mailbox, connection->hasCapability("LITERAL+"));
      uidValidity_ = UidValidityOf(*RunCommand(connection, "EXAMINE " + mailbox_));
      auto search = RunCommand(connection, "UID SEARCH ALL");
      for (const auto* data : search->continue_req_or_response_data()) {
        const auto* responseData = data->response_data();
        if (responseData == nullptr || responseData->mailbox_data() == nullptr ||
            responseData->mailbox_data()->type() != IMAPParser::mailbox_data::SEARCH) {
          continue;
        }
        for (const auto* uid : responseData->mailbox_data()->search_nz_number_list()) uids_.push_back(uid->value());
      }
      std::sort(uids_.begin(), uids_.end());
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
    MessageIdentity identity{"imap " + folderName_ + " " + std::to_string(uidValidity_) + " " + message.uid,
                             HeaderFieldValue(fields, "Message-ID"), HeaderFieldValue(fields, "Date")};
    return MakeImapMessage(
        message.uid, where_, std::move(identity), [this, index, uid = message.uid] { return FirstOf(index, uid); },
        [this, deletedByOthers = message.deleted && !message.flaggedByTollbook](const std::string& uid) {
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
      auto connection = StoreConnection();
      const auto selected = RunCommand(connection, "SELECT " + mailbox_);
      const unsigned long uidValidity = UidValidityOf(*selected);
      if (uidValidity != 0 && uidValidity != uidValidity_) {
        throw MessageError("cannot delete the handled messages of " + where_ +
                           ": the folder was re-created during the run (UIDVALIDITY changed)");
      }
      const std::string flags = KeepsHandledKeyword(*selected)
                                    ? "(\\Deleted " + std::string(kImapHandledKeyword) + ")"
                                    : "(\\Deleted)";
      for (std::size_t from = 0; from < pending_.size(); from += kUidsPerCommand) {
        const std::vector<unsigned long> part(
            pending_.begin() + from, pending_.begin() + std::min(pending_.size(), from + kUidsPerCommand));
        const std::string set = ImapUidSetText(part);
        RunCommand(connection, "UID STORE " + set + " +FLAGS.SILENT " + flags);
        FaultPoint("flag");
        RunCommand(connection, "UID EXPUNGE " + set);
        FaultPoint("expunge");
      }
      pending_.clear();
      // Back to read-only without CLOSE, which would expunge others' \Deleted messages.
      RunCommand(connection, "EXAMINE " + mailbox_);
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession, "cannot delete the handled messages of " + where_);
    }
  }

 private:
  std::shared_ptr<IMAPConnection> StoreConnection() {
    auto imapStore = std::dynamic_pointer_cast<vmime::net::imap::IMAPStore>(store_);
    if (!imapStore || !imapStore->getConnection()) {
      throw ConnectionError("the connection to the server of " + where_ + " is closed");
    }
    return imapStore->getConnection();
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
  // UID uid: the octets of the encoded part; nullopt for a message/* part,
  // whose size vmime's parser does not keep (the literal's own length still
  // frames its body).
  std::optional<std::uint64_t> AnnouncedSize(const std::string& uid, const std::string& section) {
    for (std::size_t i = 0; i < chunk_.size(); ++i) {
      if (chunk_[i].uid != uid || !firsts_[i] || !*firsts_[i] || (*firsts_[i])->section != section)
        continue;
      return PartOctets(*(*firsts_[i])->part);
    }
    throw MessageError("UID " + uid + " in " + where_ + ": part " + section +
                       " was not looked at before");
  }

  // The message whose answer a failed read was in, for the error, when the
  // guard knows it: the one whose body was cut, not the one being handled.
  std::string CutMessage() {
    auto imapStore = std::dynamic_pointer_cast<vmime::net::imap::IMAPStore>(store_);
    if (!imapStore || !imapStore->getConnection()) return {};
    auto guard = ImapGuardOf(*imapStore->getConnection());
    return guard ? guard->CurrentMessage() : std::string();
  }

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
      auto& out = into.Writer();
      ImapBodyTarget target(out, name);
      std::unique_ptr<IMAPParser::response> response;
      try {
        response = RunImapCommand(*StoreConnection(),
                                  "UID FETCH " + uid + " (UID BODY.PEEK[" + name + "])",
                                  "UID FETCH", &target);
      } catch (...) {
        RethrowAsMailError(ImapStage::kSession,
                           "reading part " + name + " of UID " + uid + " in " + where_);
      }
      // The answer's BODY[name] items in order, each with its FETCH
      // response's UID: the target holds their values in the same order.
      std::vector<std::string> owners;
      std::string itemName;
      for (const auto* data : response->continue_req_or_response_data()) {
        const auto* responseData = data->response_data();
        if (responseData == nullptr || responseData->message_data() == nullptr ||
            responseData->message_data()->msg_att() == nullptr) {
          continue;
        }
        const auto* attributes = responseData->message_data()->msg_att();
        for (const auto* item : attributes->items()) {
          if (item->type() == IMAPParser::msg_att_item::BODY_SECTION &&
              ImapSectionName(item->section(), itemName) && itemName == name &&
              item->nstring() != nullptr && !item->nstring()->isNIL()) {
            owners.push_back(ImapUidOf(*attributes));
          }
        }
      }
      const std::string refused = "UID " + uid + " in " + where_ + " is left on the server: ";
      const auto& values = target.Values();
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
    for (std::size_t j = position_ - 1; j < chunk_.size() && bodyTried_.size() < kBodiesAhead; ++j) {
      std::optional<ImapFirstAttachment> first;
      try {
        first = FirstOf(j, chunk_[j].uid);
      } catch (...) {
        break;  // its own turn will report it
      }
      const auto octets = first && !first->section.empty() ? PartOctets(*first->part) : std::nullopt;
      const std::size_t size = octets ? static_cast<std::size_t>(*octets) : kBodyAheadLimit + 1;
      if (size <= kBodyAheadLimit && bytes + size > kBodiesAheadBytes) break;
      bodyTried_.insert(chunk_[j].uid);
      if (size > kBodyAheadLimit) continue;
      bytes += size;
      groups[first->section].push_back(std::stoul(chunk_[j].uid));
    }
    try {
      for (auto& [section, uids] : groups) {
        ImapFetchSections(*StoreConnection(), uids, "BODY.PEEK[" + section + "]",
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
      chunk_ = MessagesOf(*RunImapCommand(*StoreConnection(),
                                          "UID FETCH " + std::to_string(uids_[nextUid_]) + ":" +
                                              std::to_string(uids_[last]) +
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

  std::shared_ptr<vmime::net::store> store_;
  std::string folderName_;
  std::string where_;
  std::string mailbox_;  // the folder's name as a quoted IMAP string
  unsigned long uidValidity_ = 0;
  std::vector<unsigned long> uids_;  // every UID of the folder when it was opened, ascending
  std::size_t nextUid_ = 0;                     // index into uids_ of the next chunk's first UID
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

std::unique_ptr<MessageCollection> OpenImapMessages(std::shared_ptr<vmime::net::store> store,
                                                    const std::string& mailbox,
                                                    const std::string& name,
                                                    const std::string& server, bool forDeletion) {
  return std::make_unique<ImapMessageCollection>(std::move(store), mailbox, name, server,
                                                 forDeletion);
}

}  // namespace tollbook::mail
