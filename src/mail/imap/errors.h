// The one place where vmime's exceptions become the mail source's errors.
#pragma once

#include <string>

namespace tollbook::mail {

enum class ImapStage {
  kLogin,   // connecting and logging in: every failure is a LoginError
  kSession  // after the log-in: a broken connection is a ConnectionError
};

// Call from inside a catch block: rethrows the exception being handled as
// LoginError, ConnectionError or MessageError with a message that starts with
// context ("<context>: <why>"). Any occurrence of secret (the password) is
// blanked out of the text. MailError and tollbook::Failure pass through.
[[noreturn]] void RethrowAsMailError(ImapStage stage, const std::string& context,
                                     const std::string& secret = "");

}  // namespace tollbook::mail
