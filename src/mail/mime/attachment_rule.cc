#include "mail/mime/attachment_rule.h"

#include <string_view>
#include <vmime/contentDispositionField.hpp>
#include <vmime/contentTypeField.hpp>
#include <vmime/headerField.hpp>
#include <vmime/mediaType.hpp>
#include <vmime/messageId.hpp>

#include "base/text.h"

namespace tollbook::mail {
namespace {

// A Content-ID as it is compared: without blanks and angle brackets.
std::string BareId(std::string_view id) {
  while (!id.empty() && (id.front() == ' ' || id.front() == '\t' || id.front() == '<')) id.remove_prefix(1);
  while (!id.empty() && (id.back() == ' ' || id.back() == '\t' || id.back() == '>')) id.remove_suffix(1);
  return std::string(id);
}

std::string ContentIdOf(const vmime::header& header) {
  const auto field = header.findField(vmime::fields::CONTENT_ID);
  if (!field) return {};
  if (const auto id = vmime::dynamicCast<const vmime::messageId>(field->getValue())) {
    return BareId(id->getId());
  }
  return BareId(field->getValue()->generate());
}

}  // namespace

MimeParent MimeChildOf(const vmime::header& multipartHeader, std::size_t index) {
  MimeParent parent;
  parent.index = index;
  const auto type = multipartHeader.findField<vmime::contentTypeField>(vmime::fields::CONTENT_TYPE);
  if (!type) return parent;
  const auto media = type->getValue<vmime::mediaType>();
  parent.related = EqualsIgnoreCase(media->getSubType(), "related");
  parent.digest = EqualsIgnoreCase(media->getSubType(), "digest");
  if (parent.related && type->hasParameter("start")) {
    parent.start = BareId(type->getParameter("start")->getValue().getBuffer());
  }
  return parent;
}

MimePartRole ClassifyMimePart(const vmime::header& header, const MimeParent& parent,
                              const std::function<bool()>& named) {
  std::string type = parent.digest ? "message" : "text";
  std::string subType = parent.digest ? "rfc822" : "plain";
  if (const auto field = header.findField<vmime::contentTypeField>(vmime::fields::CONTENT_TYPE)) {
    const auto media = field->getValue<vmime::mediaType>();
    type = media->getType();
    subType = media->getSubType();
  }
  if (EqualsIgnoreCase(type, "multipart")) return MimePartRole::kMultipart;
  if (EqualsIgnoreCase(type, "message") && EqualsIgnoreCase(subType, "rfc822")) {
    return MimePartRole::kAttachment;
  }
  const auto disposition =
      header.findField<vmime::contentDispositionField>(vmime::fields::CONTENT_DISPOSITION);
  if (disposition &&
      EqualsIgnoreCase(disposition->getValue<vmime::contentDisposition>()->getName(), "attachment")) {
    return MimePartRole::kAttachment;
  }
  if (parent.related) {
    const std::string id = ContentIdOf(header);
    const bool root = parent.start.empty() ? parent.index == 0 : id == parent.start;
    if (!root && !id.empty()) return MimePartRole::kBody;
  }
  if (named()) return MimePartRole::kAttachment;
  return EqualsIgnoreCase(type, "text") ? MimePartRole::kBody : MimePartRole::kAttachment;
}

}  // namespace tollbook::mail
