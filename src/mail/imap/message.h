// One IMAP message of a walk and its first attachment.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/imap/body_structure.h"
#include "mail/imap/decode_buffer.h"
#include "mail/mail_source.h"
#include "mail/mime/part_probe.h"

namespace tollbook::mail {

// Fetches the raw MIME header of one part of the message with UID uid:
// section "1.2" gives BODY.PEEK[1.2.MIME], "" the message's own top-level
// fields of ImapTopLevelFields().
using ImapRawHeaderFetcher =
    std::function<std::string(const std::string& uid, const std::string& section)>;

// The raw (still encoded) body of part section of the message with UID uid
// when it was fetched ahead, else nullopt: the body is then streamed from
// the server.
using ImapBodyFetcher =
    std::function<std::optional<std::string>(const std::string& uid, const std::string& section)>;

// Fills into with the raw (still encoded) body of part section of the message
// with UID uid, streamed from the server (BODY.PEEK[section], or the
// message's text for section ""): the whole body or nothing, since it throws
// MessageError when what arrives is not the size the server announced for
// the part. Throws ImapError.
using ImapBodyStreamer =
    std::function<void(const std::string& uid, const std::string& section, ImapDecodeBuffer& into)>;

// The keyword a deleting run stores with \Deleted on the messages it handled,
// where the server keeps keywords: a run stopped between that STORE and its
// UID EXPUNGE leaves them flagged, and the next run can tell them from
// messages that someone else flagged, take them and expunge them.
inline constexpr std::string_view kImapHandledKeyword = "$TollbookHandled";

// What the walk's batched FETCH tells about one message.
struct ImapMessageInfo {
  std::string uid;
  bool deleted = false;            // it carried \Deleted when read
  bool flaggedByTollbook = false;  // it carried kImapHandledKeyword: a run that flagged it
                                   // \Deleted was stopped before its expunge
  std::shared_ptr<const ImapBodyPart> structure;  // null when the server sent none
  // The fields of ImapTopLevelFields() as the server sent them, if it did.
  std::optional<std::string> topLevelFields;
};

// A message's first attachment as the walk finds it.
struct ImapFirstAttachment {
  std::shared_ptr<const ImapBodyPart> part;
  std::string section;                         // its IMAP section number, "" for the message itself
  std::shared_ptr<const MimePartProbe> probe;  // its MIME header as the server sent it, parsed
};

// Searches the parts of message depth first, by the attachment rule of
// mime/attachment_rule.h (the same as the Maildir source applies), for the
// first attachment; nullopt when there is none. Throws ImapError or MailError.
std::optional<ImapFirstAttachment> FindImapFirstAttachment(const ImapMessageInfo& message,
                                                           const ImapRawHeaderFetcher& fetchHeader);

// Gives the message's first attachment, as FindImapFirstAttachment() finds it.
using ImapFirstFinder = std::function<std::optional<ImapFirstAttachment>()>;

// The message with UID uid of a walk, whose Identity() is identity. markDeleted is called with the
// UID by Delete(). where names the folder for messages ("INBOX on imaps://host:993"). The first
// attachment's body is the one fetched ahead when prefetchedBody has it, else it streams through
// streamBody; a base64 or quoted-printable one is decoded through decodeBuffer, which the messages
// of a walk share.
std::unique_ptr<Message> MakeImapMessage(std::string uid, std::string where,
                                         MessageIdentity identity, ImapFirstFinder findFirst,
                                         std::function<void(const std::string& uid)> markDeleted,
                                         std::shared_ptr<ImapDecodeBuffer> decodeBuffer,
                                         ImapBodyFetcher prefetchedBody,
                                         ImapBodyStreamer streamBody);

// The header fields that decide whether the message itself is an attachment.
// The walk fetches these and the fields of ImapIdentityFields() together.
const std::vector<std::string>& ImapTopLevelFields();
// The header fields a message's identity is read from: Message-ID and Date.
const std::vector<std::string>& ImapIdentityFields();

}  // namespace tollbook::mail
