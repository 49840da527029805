// What the mail sources need of a parsed MIME attachment: its display name
// and its decoded content.
#pragma once

#include <ostream>
#include <string>
#include <vmime/attachment.hpp>

#include "mail/mime_file_stream.h"

namespace tollbook::mail {

// The attachment's file name: the Content-Disposition filename, else the
// Content-Type name, RFC 2047 and RFC 2231 decoded to UTF-8; empty when it has
// neither. A plain quoted name keeps its bytes exactly, blanks at either end
// included (vmime trims them), so " acct" stays " acct". source is the stream
// the message was parsed from; it is read for the raw parameter text.
std::string MimeAttachmentName(const vmime::attachment& attachment, MimeFileStream& source);

// Writes the attachment's decoded content (base64 and quoted-printable
// decoded; no charset or line-end conversion) to out, streamed from the
// message file.
void WriteMimeAttachmentContent(const vmime::attachment& attachment, std::ostream& out);

}  // namespace tollbook::mail
