// Reading the untagged FETCH responses of an answer: which message each is
// about and the value of each of its items.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mail/imap/response.h"

namespace tollbook::mail {

// The attribute list of a "* n FETCH (...)" response, null for any other.
const ImapItem* FetchAttributes(const ImapResponse& response);

// The value that follows the item named name (case aside) in attributes,
// null when there is none.
const ImapItem* FetchValue(const ImapItem& attributes, std::string_view name);

// The UID the attributes give, nullopt when they give none or not a valid one.
std::optional<unsigned long> FetchUid(const ImapItem& attributes);

// The section a BODY[...] item name gives, spelt as asked ("1.2", "TEXT",
// "1.2.MIME", "HEADER.FIELDS"); nullopt for another item or section.
std::optional<std::string> FetchSectionName(std::string_view item);

}  // namespace tollbook::mail
