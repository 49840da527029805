// IMAP folder names as data: what the server sends is kept byte for byte (to
// select the folder again), and shown with every byte that could break a line
// or a terminal escaped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tollbook::mail {

// name with control bytes escaped: "\r", "\n", "\t", other ones and bytes
// that are not part of valid UTF-8 as "\xNN" (two upper-case hex digits).
std::string EscapeFolderText(std::string_view name);

// The shown name of a mailbox name as sent by the server: decoded from
// modified UTF-7 to UTF-8 when it is valid modified UTF-7, else its raw
// bytes; escaped by EscapeFolderText() either way.
std::string ShownImapFolderName(std::string_view raw);

// raw as one argument of a command: a quoted string when it can be one, else
// a literal ("{n+}" when the server has LITERAL+).
std::string ImapMailboxArgument(std::string_view raw, bool literalPlus);

// The prefix of the first personal namespace of an untagged NAMESPACE answer
// line ("* NAMESPACE ((\"INBOX.\" \".\")) NIL NIL" gives "INBOX."), nullopt
// when it names none.
std::optional<std::string> PersonalNamespacePrefix(std::string_view line);

}  // namespace tollbook::mail
