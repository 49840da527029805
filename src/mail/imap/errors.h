// The IMAP client's own errors, graded by what they spoil, and the one place
// where they become the mail source's errors.
#pragma once

#include <stdexcept>
#include <string>

namespace tollbook::mail {

enum class ImapGrade {
  kMessage,     // one message cannot be read or changed
  kFolder,      // the folder cannot be opened or changed
  kConnection,  // the connection broke, timed out or can no longer be trusted
  kLogin        // the log-in failed
};

// A failure of the IMAP client. what() says why without naming the step
// (the caller knows it).
class ImapError : public std::runtime_error {
 public:
  ImapError(ImapGrade grade, const std::string& why) : std::runtime_error(why), grade_(grade) {}
  ImapGrade Grade() const { return grade_; }

 private:
  ImapGrade grade_;
};

enum class ImapStage {
  kLogin,   // connecting and logging in: every failure is a LoginError
  kSession  // after the log-in: graded by the failure
};

// Call from inside a catch block: rethrows the exception being handled as
// LoginError, ConnectionError or MessageError with a message that starts with
// context ("<context>: <why>"). Any occurrence of secret (the password or the
// token) is blanked out of the text. MailError and tollbook::Failure pass
// through.
[[noreturn]] void RethrowAsMailError(ImapStage stage, const std::string& context,
                                     const std::string& secret = "");

}  // namespace tollbook::mail
