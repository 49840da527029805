// IMAP's modified UTF-7 (RFC 3501, 5.1.3), in which IMAP servers name their
// folders and Dovecot and Courier name Maildir++ folder directories.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tollbook::mail {

// raw decoded to UTF-8 ("&AOQ-" is "ä", "&-" is "&"); nullopt when raw is not
// valid modified UTF-7: a byte outside printable ASCII, a shift without its
// "-", a byte outside the alphabet, an unpaired surrogate, printable ASCII
// encoded, or left-over bits.
std::optional<std::string> DecodeModifiedUtf7(std::string_view raw);

}  // namespace tollbook::mail
