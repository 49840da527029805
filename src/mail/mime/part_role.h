// What the attachment rule (attachment_rule.h) makes of one part, and what
// it asks of the multipart the part stands in.
#pragma once

#include <cstddef>
#include <string>

namespace tollbook::mail {

enum class MimePartRole {
  kBody,        // not an attachment
  kAttachment,  // the next attachment of the message
  kMultipart,   // its parts are visited in turn
};

// What the rule asks of the multipart a part stands in.
struct MimeParent {
  bool related = false;   // a multipart/related
  bool digest = false;    // a multipart/digest: parts without Content-Type are messages
  std::string start;      // the related root's Content-ID (no angle brackets), "" when not named
  std::size_t index = 0;  // the part's position in it, from 0
};

}  // namespace tollbook::mail
