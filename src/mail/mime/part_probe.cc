#include "mail/mime/part_probe.h"

#include <vmime/bodyPart.hpp>
#include <vmime/header.hpp>
#include <vmime/utility/outputStream.hpp>

#include "mail/mime/attachment.h"
#include "mail/mime/attachment_rule.h"
#include "mail/mime/decode.h"

namespace tollbook::mail {
namespace {

MimeRawBody AsRawBody(const MimeRawBytes& raw) {
  return [&raw](vmime::utility::outputStream& out) {
    raw([&out](const char* data, std::size_t size) { out.write(data, size); });
  };
}

}  // namespace

struct MimePartProbe::Impl {
  std::string raw;
  std::shared_ptr<vmime::header> header = std::make_shared<vmime::header>();
  std::function<std::string(std::size_t, std::size_t)> RawText() const {
    return [this](std::size_t offset, std::size_t length) {
      return offset + length <= raw.size() ? raw.substr(offset, length) : std::string();
    };
  }
};

MimePartProbe::MimePartProbe(std::string raw) : impl_(std::make_unique<Impl>()) {
  Reparse(std::move(raw));
}

MimePartProbe::~MimePartProbe() = default;
MimePartProbe::MimePartProbe(MimePartProbe&&) noexcept = default;
MimePartProbe& MimePartProbe::operator=(MimePartProbe&&) noexcept = default;

const std::string& MimePartProbe::Raw() const { return impl_->raw; }

void MimePartProbe::Reparse(std::string raw) {
  impl_->raw = std::move(raw);
  impl_->header = std::make_shared<vmime::header>();
  impl_->header->parse(impl_->raw);
}

MimePartRole MimePartProbe::Role(const MimeParent& parent) const {
  return ClassifyMimePart(*impl_->header, parent, [this] { return !AttachmentName().empty(); });
}

MimeParent MimePartProbe::ChildParent(std::size_t index) const {
  return MimeChildOf(*impl_->header, index);
}

std::string MimePartProbe::AttachmentName() const {
  return HeaderAttachmentName(*impl_->header, impl_->RawText());
}

std::string MimePartProbe::TransferEncoding() const { return MimeTransferEncoding(*impl_->header); }

void DecodeMimeBytes(std::string_view encoding, const MimeRawBytes& raw, std::ostream& out) {
  DecodeMimeBody(encoding, AsRawBody(raw), out);
}

std::size_t MimeLineAtBytes(const MimeRawBytes& raw, std::size_t offset) {
  return MimeLineAt(AsRawBody(raw), offset);
}

}  // namespace tollbook::mail
