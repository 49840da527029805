// The Message-ID and Date fields of a message's header block, as a person
// would quote them.
#pragma once

#include <string_view>

#include "mail/mail_source.h"

namespace tollbook::mail {

// Fills identity.message_id and identity.date from the first Message-ID and
// Date fields of block (a header block, or the start of a message), unfolded
// and without the blanks around them; a missing field leaves its member as
// it is. Control bytes are kept: callers that print them escape them.
void ReadIdentityFields(std::string_view block, MessageIdentity& identity);

}  // namespace tollbook::mail
