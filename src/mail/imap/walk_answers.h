// What the folder walk reads from the server's answers: the folder's
// UIDVALIDITY and permanent flags, and the messages a FETCH describes.
#pragma once

#include <vector>

#include "mail/imap/client.h"
#include "mail/imap/message.h"

namespace tollbook::mail {

// The UIDVALIDITY an EXAMINE or SELECT answer gave, 0 when none.
unsigned long UidValidityOf(const ImapAnswer& answer);

// Whether a SELECT answer lets this session store kImapHandledKeyword: its
// PERMANENTFLAGS name the keyword or allow new ones ("\*").
bool KeepsHandledKeyword(const ImapAnswer& answer);

// The messages one "UID FETCH ... (UID FLAGS BODYSTRUCTURE
// BODY.PEEK[HEADER.FIELDS ...])" answer describes, in the answer's order.
// Throws ImapError (a bad message) for a BODYSTRUCTURE that cannot be read.
std::vector<ImapMessageInfo> MessagesOf(const ImapAnswer& answer);

}  // namespace tollbook::mail
