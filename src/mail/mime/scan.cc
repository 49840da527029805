#include "mail/mime/scan.h"

#include <algorithm>
#include <string>
#include <vmime/body.hpp>
#include <vmime/bodyPart.hpp>
#include <vmime/bodyPartAttachment.hpp>
#include <vmime/contentTypeField.hpp>
#include <vmime/header.hpp>
#include <vmime/mediaType.hpp>
#include <vmime/utility/parserInputStreamAdapter.hpp>

#include "mail/mime/attachment.h"
#include "mail/mime/attachment_rule.h"
#include "mail/mime/header_fields.h"

namespace tollbook::mail {
namespace {

using vmime::utility::parserInputStreamAdapter;
constexpr std::size_t npos = vmime::string::npos;

bool IsSpaceOrTab(vmime::byte_t c) { return c == ' ' || c == '\t'; }
bool IsSpace(vmime::byte_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

class Scan {
 public:
  explicit Scan(const vmime::shared_ptr<MimeFileStream>& stream)
      : stream_(stream), parser_(vmime::make_shared<parserInputStreamAdapter>(stream)) {}

  // The part in [begin, end): an attachment, or a multipart whose parts are
  // visited in turn, by the rule of mime/attachment_rule.h.
  void Part(std::size_t begin, std::size_t end, const MimeParent& parent) {
    auto part = vmime::make_shared<vmime::bodyPart>();
    const vmime::header& header = *part->getHeader();
    const std::size_t bodyBegin = ParseContentFields(*part->getHeader(), begin, end);
    const MimePartRole role = ClassifyMimePart(header, parent, [&] {
      return !HeaderAttachmentName(header, [this](std::size_t offset, std::size_t length) {
                return stream_->ReadRange(offset, offset + length);
              }).empty();
    });
    if (role == MimePartRole::kAttachment) {
      part->getBody()->parse(stream_, bodyBegin, end);
      found_.push_back(vmime::make_shared<vmime::bodyPartAttachment>(part));
      return;
    }
    std::string boundary;
    if (role == MimePartRole::kMultipart && IsMultipart(header, bodyBegin, end, boundary)) {
      Multipart(bodyBegin, end, boundary, header);
    }
  }

  std::vector<vmime::shared_ptr<const vmime::attachment>> Found() { return std::move(found_); }

 private:
  // Parses the Content-* fields of the header that starts at begin into
  // header, each with the bounds it has in the file, and returns where the
  // header ends. The other fields are left out: the attachment rules never
  // look at them, and vmime's parse of addresses and dates is the dearest
  // part of reading a message. Runs of neighbouring Content-* fields go to
  // vmime in one parse.
  std::size_t ParseContentFields(vmime::header& header, std::size_t begin, std::size_t end) {
    const std::string block = stream_->ReadRange(begin, stream_->HeaderBlockEnd(begin, end));
    const HeaderFields split = SplitHeaderFields(block);
    const auto& fields = split.fields;
    for (std::size_t first = 0; first < fields.size(); ++first) {
      if (!IsContentField(fields[first].name)) continue;
      std::size_t last = first;
      while (last + 1 < fields.size() && IsContentField(fields[last + 1].name)) ++last;
      runHeader_->parse(stream_, begin + fields[first].begin, begin + fields[last].end);
      for (const auto& field : runHeader_->getFieldList()) header.appendField(field);
      runHeader_->removeAllFields();
      first = last;
    }
    return begin + split.end;
  }

  // Whether vmime's body parser splits the body in [begin, end) into parts,
  // and by which boundary: the Content-Type one, else one guessed from the
  // first line that starts with "--".
  bool IsMultipart(const vmime::header& header, std::size_t begin, std::size_t end,
                   std::string& boundary) {
    if (end == begin) return false;
    const auto type = header.findField<vmime::contentTypeField>(vmime::fields::CONTENT_TYPE);
    if (!type || type->getValue<vmime::mediaType>()->getType() != vmime::mediaTypes::MULTIPART) {
      return false;
    }
    if (type->hasBoundary()) {
      boundary = type->getBoundary();
      return !boundary.empty();
    }
    std::size_t pos = begin;
    parser_->seek(pos);
    if (pos + 2 < end && parser_->matchBytes("--", 2)) {
      pos += 2;
    } else {
      pos = stream_->FindNext("\n--", begin);
      if (pos != npos && pos + 3 < end) pos += 3;
    }
    if (pos == npos || pos >= end) return false;
    parser_->seek(pos);
    vmime::byte_t buffer[256];
    const std::size_t length = parser_->read(buffer, std::min(end - pos, sizeof buffer));
    std::size_t skip = 0;
    while (skip < length && IsSpace(buffer[skip])) ++skip;
    std::size_t size = 0;
    while (skip + size < length && size < 100 && buffer[skip + size] != '\r' &&
           buffer[skip + size] != '\n') {
      ++size;
    }
    if (size < 1 || size >= 100) return false;
    while (size != 0 && IsSpace(buffer[skip + size - 1])) --size;
    boundary.assign(reinterpret_cast<const char*>(buffer + skip), size);
    return !boundary.empty();
  }

  // vmime's search for the next boundary line from position: the boundary
  // after "LF--" (blanks between allowed) and before CR, LF or '-'. Like
  // vmime's, it may look past end and then returns a position at or past
  // end; npos when the boundary text is nowhere further in the file.
  std::size_t NextBoundary(const std::string& boundary, std::size_t position, std::size_t end,
                           std::size_t& boundaryStart, std::size_t& boundaryEnd) {
    std::size_t pos = position;
    while (pos != npos && pos < end) {
      pos = stream_->FindNext(boundary, pos);
      if (pos == npos) break;
      if (pos != 0) {
        std::size_t advance = 0;
        while (true) {
          parser_->seek(pos - advance - 1);
          if (!IsSpaceOrTab(parser_->peekByte())) break;
          ++advance;
        }
        if (pos - advance >= 3) {
          parser_->seek(pos - advance - 3);
          if (parser_->matchBytes("\n--", 3)) {
            parser_->seek(pos + boundary.size());
            const vmime::byte_t next = parser_->peekByte();
            if (next == '\r' || next == '\n' || next == '-') {
              if (pos - advance >= 4) {
                parser_->seek(pos - advance - 4);
                if (parser_->peekByte() == '\r') ++advance;
              }
              boundaryStart = pos - advance - 3;
              boundaryEnd = pos + boundary.size();
              return pos;
            }
          }
        }
      }
      ++pos;  // the boundary text as a prefix of something else
    }
    return pos;
  }

  // The parts of the multipart body in [begin, end), split as vmime's body
  // parser splits them: the text before the first boundary line and after
  // the closing one belongs to no part, and when the closing boundary is
  // missing the rest of the body is the last part.
  void Multipart(std::size_t begin, std::size_t end, const std::string& boundary,
                 const vmime::header& header) {
    std::size_t count = 0;  // parts visited
    std::size_t partStart = begin;
    bool lastPart = false;
    std::size_t boundaryStart = 0;
    std::size_t boundaryEnd = 0;
    std::size_t pos = NextBoundary(boundary, begin, end, boundaryStart, boundaryEnd);
    for (int index = 0; !lastPart && pos != npos && pos < end; ++index) {
      std::size_t partEnd = boundaryStart;
      parser_->seek(boundaryEnd);
      if (boundaryEnd + 1 < end && parser_->matchBytes("--", 2)) {
        lastPart = true;
        boundaryEnd += 2;
      }
      parser_->seek(boundaryEnd);
      boundaryEnd += parser_->skipIf(IsSpaceOrTab, end);
      if (boundaryEnd + 1 < end && parser_->matchBytes("\r\n", 2)) {
        boundaryEnd += 2;
      } else if (boundaryEnd < end && parser_->peekByte() == '\n') {
        ++boundaryEnd;
      }
      if (index > 0) {
        if (partEnd < partStart) std::swap(partStart, partEnd);
        Part(partStart, partEnd, MimeChildOf(header, count++));
      }
      partStart = boundaryEnd;
      pos = NextBoundary(boundary, boundaryEnd, end, boundaryStart, boundaryEnd);
    }
    if (!lastPart && pos == npos) Part(partStart, end, MimeChildOf(header, count));
  }

  vmime::shared_ptr<MimeFileStream> stream_;
  vmime::shared_ptr<parserInputStreamAdapter> parser_;
  vmime::shared_ptr<vmime::header> runHeader_ = vmime::make_shared<vmime::header>();
  std::vector<vmime::shared_ptr<const vmime::attachment>> found_;
};

}  // namespace

std::vector<vmime::shared_ptr<const vmime::attachment>> ScanMimeAttachments(
    const vmime::shared_ptr<MimeFileStream>& stream) {
  Scan scan(stream);
  scan.Part(0, stream->Size(), MimeParent{});
  return scan.Found();
}

}  // namespace tollbook::mail
