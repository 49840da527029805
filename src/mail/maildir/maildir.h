// The Maildir source: a local Maildir++ tree read through the mail source
// interface. The other headers of this folder are private to it.
#pragma once

#include <memory>
#include <string>

#include "mail/mail_source.h"

namespace tollbook::mail {

// A session on the Maildir++ tree at path (trailing slashes dropped). Nothing
// is read until Login(), which throws LoginError when path is not a readable
// Maildir. trace, when set, is told each step of opening it.
std::unique_ptr<Session> CreateMaildirSession(std::string path, TraceSink trace = {});

}  // namespace tollbook::mail
