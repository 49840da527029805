// Decoding a part's raw (still encoded) body into the bytes the sender
// meant, the same for every mail source.
//
// - base64 and uuencode are checked whole before anything is written, and
//   refused rather than decoded to garbage (MimeDecodeRefusal);
// - 7bit, 8bit and quoted-printable bodies are lines whose breaks are CR LF
//   on the wire: a LF without its CR (a message stored the Unix way) is
//   taken for CR LF before decoding, so a Maildir and an IMAP server give
//   the same bytes; a lone CR stays;
// - binary bodies and everything base64 or uuencode decodes to are kept
//   byte for byte.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vmime/header.hpp>
#include <vmime/utility/outputStream.hpp>

#include "mail/mime/part_probe.h"

namespace tollbook::mail {



// 'c' for a printable byte, \xNN for any other.
std::string MimeByteText(unsigned char c);

// The Content-Transfer-Encoding of a part header, lower case; "7bit" when
// it names none.
std::string MimeTransferEncoding(const vmime::header& header);

// Whether the encoding is a uuencode one: x-uuencode, uuencode, x-uue.
bool IsUuencoding(std::string_view encoding);

// Writes raw bytes of the body to the stream given; called once per pass.
using MimeRawBody = std::function<void(vmime::utility::outputStream& out)>;

// Decodes the body that raw gives (encoding as MimeTransferEncoding() gives
// it) into out. Throws MimeDecodeRefusal for base64 or uuencode text that
// does not decode whole, before anything is written; MessageError for an
// unknown encoding.
void DecodeMimeBody(std::string_view encoding, const MimeRawBody& raw, std::ostream& out);

// The 1-based line that holds offset of the raw body that raw gives
// (counting LFs before it).
std::size_t MimeLineAt(const MimeRawBody& raw, std::size_t offset);

}  // namespace tollbook::mail
