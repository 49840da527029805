#include "mail/imap/message.h"

#include <vmime/vmime.hpp>

#include "base/errors.h"
#include "base/text.h"
#include "mail/imap/errors.h"
#include "mail/mime/attachment.h"
#include "mail/mime/attachment_rule.h"
#include "mail/mime/decode.h"

namespace tollbook::mail {
namespace {


// Depth first, by the attachment rule of mime/attachment_rule.h: a part is
// the first attachment, or its sub-parts are visited when it is a
// multipart. probe holds part's header. Asks fetchHeader for one MIME
// header per part it visits.
std::optional<ImapFirstAttachment> FindFirst(const std::string& uid, const ImapRawHeaderFetcher& fetchHeader,
                                             const std::shared_ptr<vmime::net::messagePart>& part,
                                             const std::shared_ptr<vmime::bodyPart>& probe, std::string rawHeader,
                                             const std::string& section, bool isRoot, const MimeParent& parent) {
  const vmime::header& header = *probe->getHeader();
  const MimePartRole role = ClassifyMimePart(header, parent, [&] {
    return !HeaderAttachmentName(header, [&rawHeader](std::size_t offset, std::size_t length) {
              return offset + length <= rawHeader.size() ? rawHeader.substr(offset, length) : std::string();
            }).empty();
  });
  if (role == MimePartRole::kAttachment) {
    // The probe itself is kept, its header parsed from rawHeader (the
    // top-level fields for the root), so the name is read from it as parsed.
    if (isRoot) {
      std::string raw = fetchHeader(uid, "");
      if (raw != rawHeader) {
        probe->getHeader()->parse(raw);
        rawHeader = std::move(raw);
      }
    }
    return ImapFirstAttachment{part, section, probe, std::move(rawHeader)};
  }
  if (role != MimePartRole::kMultipart || part->getType().getType() != vmime::mediaTypes::MULTIPART) {
    return std::nullopt;
  }
  auto children = part->getStructure();
  for (std::size_t i = 0, n = children->getPartCount(); i < n; ++i) {
    auto child = children->getPartAt(i);
    const std::string childSection = (section.empty() ? "" : section + ".") + std::to_string(i + 1);
    std::string raw = fetchHeader(uid, childSection);
    auto childProbe = std::make_shared<vmime::bodyPart>();
    childProbe->getHeader()->parse(raw);
    if (auto found = FindFirst(uid, fetchHeader, child, childProbe, std::move(raw), childSection, false,
                               MimeChildOf(header, i))) {
      return found;
    }
  }
  return std::nullopt;
}

// Copies what an ImapDecodeBuffer holds into out.
void CopyBuffer(ImapDecodeBuffer& buffer, vmime::utility::outputStream& out) {
  auto& in = buffer.Reader();
  vmime::byte_t block[1 << 16];
  while (!in.eof()) {
    const std::size_t got = in.read(block, sizeof block);
    if (got == 0) break;
    out.write(block, got);
  }
}

class ImapAttachment : public Attachment {
 public:
  ImapAttachment(std::string uid, ImapFirstAttachment found, std::string where,
                 std::shared_ptr<ImapDecodeBuffer> buffer, ImapBodyFetcher prefetchedBody,
                 ImapBodyStreamer streamBody)
      : uid_(std::move(uid)), probe_(std::move(found.probe)), rawHeader_(std::move(found.rawHeader)),
        section_(std::move(found.section)), where_(std::move(where)), buffer_(std::move(buffer)),
        prefetchedBody_(std::move(prefetchedBody)), streamBody_(std::move(streamBody)) {}

  std::string DisplayName() override {
    try {
      return HeaderAttachmentName(*probe_->getHeader(), [this](std::size_t offset, std::size_t length) {
        return offset + length <= rawHeader_.size() ? rawHeader_.substr(offset, length) : std::string();
      });
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
    MimeRawBody raw;
    std::optional<std::string> body;
    try {
      encoding = MimeTransferEncoding(*probe_->getHeader());
      body = prefetchedBody_(uid_, section_);
      if (body) {
        raw = [&body](vmime::utility::outputStream& to) {
          to.write(body->data(), body->size());
        };
      } else {
        // The raw body streams from the server's literal into the decode
        // buffer, and is used only once it is known to be whole.
        streamBody_(uid_, section_, *buffer_);
        raw = [this](vmime::utility::outputStream& to) { CopyBuffer(*buffer_, to); };
      }
      DecodeMimeBody(encoding, raw, out);
    } catch (const MimeDecodeRefusal& refusal) {
      std::size_t line = 0;
      try {
        line = MimeLineAt(raw, refusal.offset);
      } catch (...) {
        RethrowAsMailError(ImapStage::kSession, "saving the attachment of " + where_);
      }
      throw MessageError("cannot decode attachment 1 \"" + DisplayName() + "\" of " + where_ + ": line " +
                         std::to_string(line) + " of part " + (section_.empty() ? "TEXT" : section_) +
                         ": " + refusal.why);
    } catch (...) {
      RethrowAsMailError(ImapStage::kSession, "saving the attachment of " + where_);
    }
  }

 private:
  std::string uid_;
  std::shared_ptr<const vmime::bodyPart> probe_;
  std::string rawHeader_;
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
  ImapMessage(std::string uid, std::string where, MessageIdentity identity, ImapFirstFinder findFirst,
              std::function<void(const std::string&)> markDeleted, std::shared_ptr<ImapDecodeBuffer> buffer,
              ImapBodyFetcher prefetchedBody, ImapBodyStreamer streamBody)
      : uid_(std::move(uid)), identity_(std::move(identity)), findFirst_(std::move(findFirst)), markDeleted_(std::move(markDeleted)),
        buffer_(std::move(buffer)), prefetchedBody_(std::move(prefetchedBody)),
        streamBody_(std::move(streamBody)) {
    describe_ = "UID " + uid_ + " in " + where;
  }

  void SetConvertAttachments(bool) override {}  // attachments are always decoded

  std::unique_ptr<AttachmentCollection> Attachments() override {
    try {
      std::unique_ptr<Attachment> first;
      if (auto found = findFirst_()) {
        first = std::make_unique<ImapAttachment>(uid_, std::move(*found), describe_, buffer_, prefetchedBody_,
                                                 streamBody_);
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

std::optional<ImapFirstAttachment> FindImapFirstAttachment(const ImapMessageInfo& message,
                                                           const ImapRawHeaderFetcher& fetchHeader) {
  if (!message.structure) throw vmime::exceptions::unfetched_object();
  if (message.structure->getPartCount() == 0) return std::nullopt;
  auto probe = std::make_shared<vmime::bodyPart>();
  std::string raw = message.topLevelFields.value_or("");
  probe->getHeader()->parse(raw);
  return FindFirst(message.uid, fetchHeader, message.structure->getPartAt(0), probe, std::move(raw), "",
                   /*isRoot=*/true, MimeParent{});
}

const std::vector<std::string>& ImapTopLevelFields() {
  static const std::vector<std::string> fields = {
      vmime::fields::CONTENT_TYPE, vmime::fields::CONTENT_DISPOSITION, vmime::fields::CONTENT_ID,
      vmime::fields::CONTENT_LOCATION, vmime::fields::CONTENT_TRANSFER_ENCODING};
  return fields;
}

const std::vector<std::string>& ImapIdentityFields() {
  static const std::vector<std::string> fields = {vmime::fields::MESSAGE_ID, vmime::fields::DATE};
  return fields;
}

std::unique_ptr<Message> MakeImapMessage(std::string uid, std::string where, MessageIdentity identity,
                                         ImapFirstFinder findFirst,
                                         std::function<void(const std::string& uid)> markDeleted,
                                         std::shared_ptr<ImapDecodeBuffer> decodeBuffer,
                                         ImapBodyFetcher prefetchedBody, ImapBodyStreamer streamBody) {
  return std::make_unique<ImapMessage>(std::move(uid), std::move(where), std::move(identity), std::move(findFirst),
                                       std::move(markDeleted), std::move(decodeBuffer), std::move(prefetchedBody),
                                       std::move(streamBody));
}

}  // namespace tollbook::mail
