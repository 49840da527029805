#include "mail/imap/message.h"

#include "base/errors.h"
#include "base/text.h"
#include "mail/imap/errors.h"
#include "mail/mime/part_probe.h"

namespace tollbook::mail {
namespace {

// Depth first, by the attachment rule of mime/attachment_rule.h: a part is
// the first attachment, or its sub-parts are visited when it is a
// multipart. probe holds part's header. Asks fetchHeader for one MIME
// header per part it visits.
std::optional<ImapFirstAttachment> FindFirst(const std::string& uid,
                                             const ImapRawHeaderFetcher& fetchHeader,
                                             const std::shared_ptr<const ImapBodyPart>& part,
                                             std::shared_ptr<MimePartProbe> probe,
                                             const std::string& section, bool isRoot,
                                             const MimeParent& parent) {
  const MimePartRole role = probe->Role(parent);
  if (role == MimePartRole::kAttachment) {
    // The probe itself is kept, its header parsed from the raw text (the
    // top-level fields for the root), so the name is read from it as parsed.
    if (isRoot) {
      std::string raw = fetchHeader(uid, "");
      if (raw != probe->Raw()) probe->Reparse(std::move(raw));
    }
    return ImapFirstAttachment{part, section, std::move(probe)};
  }
  if (role != MimePartRole::kMultipart || !part->IsMultipart()) return std::nullopt;
  for (std::size_t i = 0, n = part->parts.size(); i < n; ++i) {
    const std::shared_ptr<const ImapBodyPart> child(part, &part->parts[i]);
    const std::string childSection = (section.empty() ? "" : section + ".") + std::to_string(i + 1);
    auto childProbe = std::make_shared<MimePartProbe>(fetchHeader(uid, childSection));
    if (auto found = FindFirst(uid, fetchHeader, child, std::move(childProbe), childSection, false,
                               probe->ChildParent(i))) {
      return found;
    }
  }
  return std::nullopt;
}

class ImapAttachment : public Attachment {
 public:
  ImapAttachment(std::string uid, ImapFirstAttachment found, std::string where,
                 std::shared_ptr<ImapDecodeBuffer> buffer, ImapBodyFetcher prefetchedBody,
                 ImapBodyStreamer streamBody)
      : uid_(std::move(uid)),
        probe_(std::move(found.probe)),
        section_(std::move(found.section)),
        where_(std::move(where)),
        buffer_(std::move(buffer)),
        prefetchedBody_(std::move(prefetchedBody)),
        streamBody_(std::move(streamBody)) {}

  std::string DisplayName() override {
    try {
      return probe_->AttachmentName();
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession, "reading the attachment name of " + where_);
    }
  }

 protected:
  // The raw body is the one fetched ahead, or streams from the server's
  // literal: straight into the decoder when it is read once, else into the
  // decode buffer first, which the check and the decoding then read.
  void WriteContent(std::ostream& out) override {
    std::string encoding;
    MimeRawBytes raw;
    std::optional<std::string> body;
    try {
      encoding = probe_->TransferEncoding();
      body = prefetchedBody_(uid_, section_);
      if (body) {
        raw = [&body](const MimeByteWriter& write) { write(body->data(), body->size()); };
      } else {
        // The raw body streams from the server's literal into the decode
        // buffer, and is used only once it is known to be whole.
        streamBody_(uid_, section_, *buffer_);
        raw = [this](const MimeByteWriter& write) { buffer_->ReadAll(write); };
      }
      DecodeMimeBytes(encoding, raw, out);
    } catch (const MimeDecodeRefusal& refusal) {
      std::size_t line = 0;
      try {
        line = MimeLineAtBytes(raw, refusal.offset);
      } catch (...) {
        RethrowAsMailError(ImapStage::kSession, "saving the attachment of " + where_);
      }
      throw MessageError("cannot decode attachment 1 \"" + DisplayName() + "\" of " + where_ +
                         ": line " + std::to_string(line) + " of part " +
                         (section_.empty() ? "TEXT" : section_) + ": " + refusal.why);
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession, "saving the attachment of " + where_);
    }
  }

 private:
  std::string uid_;
  std::shared_ptr<const MimePartProbe> probe_;
  std::string section_;
  std::string where_;
  std::shared_ptr<ImapDecodeBuffer> buffer_;
  ImapBodyFetcher prefetchedBody_;
  ImapBodyStreamer streamBody_;
};

// Holds at most the first attachment: the walk looks no further, since
// nothing but the first attachment is ever used.
class ImapAttachments : public AttachmentCollection {
 public:
  ImapAttachments(std::unique_ptr<Attachment> first, std::string where)
      : first_(std::move(first)), where_(std::move(where)) {}
  int Count() override { return first_ ? 1 : 0; }
  std::unique_ptr<Attachment> Item(int index) override {
    if (index != 1 || !first_) {
      throw MessageError(where_ + ": no attachment " + std::to_string(index) +
                         " (only the first attachment is read)");
    }
    return std::move(first_);
  }

 private:
  std::unique_ptr<Attachment> first_;
  std::string where_;
};

class ImapMessage : public Message {
 public:
  ImapMessage(std::string uid, std::string where, MessageIdentity identity,
              ImapFirstFinder findFirst, std::function<void(const std::string&)> markDeleted,
              std::shared_ptr<ImapDecodeBuffer> buffer, ImapBodyFetcher prefetchedBody,
              ImapBodyStreamer streamBody)
      : uid_(std::move(uid)),
        identity_(std::move(identity)),
        findFirst_(std::move(findFirst)),
        markDeleted_(std::move(markDeleted)),
        buffer_(std::move(buffer)),
        prefetchedBody_(std::move(prefetchedBody)),
        streamBody_(std::move(streamBody)) {
    describe_ = "UID " + uid_ + " in " + where;
  }

  void SetConvertAttachments(bool) override {}  // attachments are always decoded

  std::unique_ptr<AttachmentCollection> Attachments() override {
    try {
      std::unique_ptr<Attachment> first;
      if (auto found = findFirst_()) {
        first = std::make_unique<ImapAttachment>(uid_, std::move(*found), describe_, buffer_,
                                                 prefetchedBody_, streamBody_);
      }
      return std::make_unique<ImapAttachments>(std::move(first), describe_);
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession, "reading the parts of " + describe_);
    }
  }

  void Delete() override { markDeleted_(uid_); }
  std::string Describe() override { return describe_; }
  MessageIdentity Identity() override { return identity_; }

 private:
  std::string uid_;
  MessageIdentity identity_;
  ImapFirstFinder findFirst_;
  std::function<void(const std::string&)> markDeleted_;
  std::shared_ptr<ImapDecodeBuffer> buffer_;
  ImapBodyFetcher prefetchedBody_;
  ImapBodyStreamer streamBody_;
  std::string describe_;
};

}  // namespace

std::optional<ImapFirstAttachment> FindImapFirstAttachment(
    const ImapMessageInfo& message, const ImapRawHeaderFetcher& fetchHeader) {
  if (!message.structure) {
    throw ImapError(ImapGrade::kMessage, "the server sent no BODYSTRUCTURE for it");
  }
  auto probe = std::make_shared<MimePartProbe>(message.topLevelFields.value_or(""));
  return FindFirst(message.uid, fetchHeader, message.structure, std::move(probe), "",
                   /*isRoot=*/true, MimeParent{});
}

const std::vector<std::string>& ImapTopLevelFields() {
  static const std::vector<std::string> fields = {"Content-Type", "Content-Disposition",
                                                  "Content-Id", "Content-Location",
                                                  "Content-Transfer-Encoding"};
  return fields;
}

const std::vector<std::string>& ImapIdentityFields() {
  static const std::vector<std::string> fields = {"Message-Id", "Date"};
  return fields;
}

std::unique_ptr<Message> MakeImapMessage(std::string uid, std::string where,
                                         MessageIdentity identity, ImapFirstFinder findFirst,
                                         std::function<void(const std::string& uid)> markDeleted,
                                         std::shared_ptr<ImapDecodeBuffer> decodeBuffer,
                                         ImapBodyFetcher prefetchedBody,
                                         ImapBodyStreamer streamBody) {
  return std::make_unique<ImapMessage>(std::move(uid), std::move(where), std::move(identity),
                                       std::move(findFirst), std::move(markDeleted),
                                       std::move(decodeBuffer), std::move(prefetchedBody),
                                       std::move(streamBody));
}

}  // namespace tollbook::mail
