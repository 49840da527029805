// A message's BODYSTRUCTURE as the walk uses it: the tree of its parts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mail/imap/response.h"

namespace tollbook::mail {

struct ImapBodyPart {
  std::string type;     // lower case: "multipart", "text", "message" ...
  std::string subtype;  // lower case
  // The octets of the part's encoded body; nullopt for a message/* part,
  // whose body the literal's own length frames.
  std::optional<std::uint64_t> size;
  std::vector<ImapBodyPart> parts;  // a multipart's parts, in order

  bool IsMultipart() const { return type == "multipart"; }
};

// Reads the value of a FETCH BODYSTRUCTURE item. Throws ImapError (a bad
// message) naming what is wrong.
ImapBodyPart ParseBodyStructure(const ImapItem& value);

}  // namespace tollbook::mail
