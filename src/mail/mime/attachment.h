// What the mail sources need of a parsed MIME attachment: its display name
// and its decoded content.
#pragma once

#include <functional>
#include <ostream>
#include <string_view>
#include <string>
#include <vector>
#include <vmime/attachment.hpp>
#include <vmime/header.hpp>
#include <vmime/message.hpp>

#include "mail/mime/file_stream.h"

namespace tollbook::mail {

// A message file parsed with its bodies left in the file: the attachments
// read from stream while they are used.
struct MimeMessage {
  vmime::shared_ptr<MimeFileStream> stream;
  vmime::shared_ptr<vmime::message> message;
  std::vector<vmime::shared_ptr<const vmime::attachment>> attachments;  // in order
};

// Parses the whole of stream and finds its attachments by the rule of
// mime/attachment_rule.h. Throws vmime::exception or MessageError.
MimeMessage ParseMimeMessage(vmime::shared_ptr<MimeFileStream> stream);

// The file name a part header gives: the Content-Disposition filename, else
// the Content-Type name, decoded as MimeAttachmentName() says; empty when it
// has neither. rawText(offset, length) returns the raw bytes the header was
// parsed from at a parameter's parsed bounds (empty when it cannot), for the
// plain quoted names whose bytes are kept exactly.
std::string HeaderAttachmentName(
    const vmime::header& header,
    const std::function<std::string(std::size_t offset, std::size_t length)>& rawText);

// The attachment's file name: the Content-Disposition filename, else the
// Content-Type name, RFC 2047 and RFC 2231 decoded to UTF-8; empty when it has
// neither. A plain quoted name keeps its bytes exactly, blanks at either end
// included (vmime trims them), so " acct" stays " acct". source is the stream
// the message was parsed from; it is read for the raw parameter text.
std::string MimeAttachmentName(const vmime::attachment& attachment, MimeFileStream& source);

// Writes the attachment's decoded content to out as DecodeMimeBody()
// (mime/decode.h) decodes it, streamed from the message file source; no
// charset conversion. Base64 and uuencoded content is checked whole before
// anything is written: what DecodeMimeBody() refuses throws MessageError
// naming the byte or line and its line number in the message file.
void WriteMimeAttachmentContent(const vmime::attachment& attachment, MimeFileStream& source,
                                std::ostream& out);

}  // namespace tollbook::mail
