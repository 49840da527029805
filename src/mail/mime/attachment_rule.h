// Which parts of a message are its attachments, in order: the one rule that
// the Maildir scan, the whole-message parse and the IMAP walk all apply, so
// the same message gives the same attachment list from every source.
//
// The parts are visited depth first in the order they stand, descending into
// every multipart and into nothing else. A leaf part is
//   - an attachment when it is a message/rfc822 (a forwarded message is one
//     attachment; nothing inside it is an attachment of the outer message);
//   - an attachment when its Content-Disposition is "attachment";
//   - the body when it is an inline resource of a multipart/related: it has
//     a Content-ID and is not the related root (the part the "start"
//     parameter names, else the first part). This is how an HTML body refers
//     to its pictures; the HTML itself is not read for cid: references,
//     which the IMAP walk could not do without fetching the body;
//   - an attachment when it has a file name (the Content-Disposition
//     filename, else the Content-Type name, decoded);
//   - the body when it is text/* (inline or no disposition);
//   - an attachment without a name otherwise (application/octet-stream
//     without a name, say).
// Signatures are parts like any other.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vmime/header.hpp>

#include "mail/mime/part_role.h"

namespace tollbook::mail {

// The parent description of part `index` of the multipart whose header is
// multipartHeader; the message itself has MimeParent{}.
MimeParent MimeChildOf(const vmime::header& multipartHeader, std::size_t index);

// The role of the part whose header is header. named() tells whether the
// part has a non-empty file name (HeaderAttachmentName()); it is asked only
// when the rule needs it.
MimePartRole ClassifyMimePart(const vmime::header& header, const MimeParent& parent,
                              const std::function<bool()>& named);

}  // namespace tollbook::mail
