// A message file's attachments found without parsing the whole message.
//
// vmime's message parser builds every header field of every part (addresses,
// dates, ...) and tearing that tree down costs as much again, while a run
// wants only which parts are attachments. The scan reads the parts' MIME
// headers, follows the multipart boundaries exactly as vmime's body parser
// does, and applies the attachment rule (mime/attachment_rule.h) to each
// part, so it finds the same attachments, in the same order, as
// ParseMimeMessage(). Only an
// attachment's own part is parsed by vmime (its header and body bounds; the
// body stays in the file).
#pragma once

#include <vector>
#include <vmime/attachment.hpp>

#include "mail/mime/file_stream.h"

namespace tollbook::mail {

// The attachments of the message in stream, in order, as ParseMimeMessage()
// finds them in the parsed message; each can be used with MimeAttachmentName() and
// WriteMimeAttachmentContent() on stream. Reads the file once, front to back,
// boundary searches aside. Throws vmime::exception or MessageError.
std::vector<vmime::shared_ptr<const vmime::attachment>> ScanMimeAttachments(
    const vmime::shared_ptr<MimeFileStream>& stream);

}  // namespace tollbook::mail
