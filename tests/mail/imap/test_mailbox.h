// Real MIME messages for the IMAP tests, written into a Maildir++ tree that
// the test Dovecot serves, with what the in-memory store needs to stand for
// the same messages.
#pragma once

#include <string>
#include <vector>

#include "support/memory_source.h"

namespace tollbook::testing {

struct TestMessage {
  std::string name;  // the Maildir base name, e.g. "m01"
  std::string raw;   // the message, CR LF line ends
  // The message's first attachment as the run sees it (empty: none).
  std::vector<mail::MemoryAttachmentData> attachments;
};

std::string Base64(const std::string& data);

// A gateway line of the "smtp" flavour.
std::string SmtpLine(const std::string& direction, const std::string& date, const std::string& user,
                     int bytes);
// A gateway line of the "other" flavour.
std::string OtherLine(const std::string& sender, const std::string& date, int bytes,
                      const std::string& direction);

// A folder of messages covering the attachment cases: acct in base64,
// quoted-printable and 7bit, as the whole message, nested in an alternative,
// after another attachment, named " acct", "ACCT", "acct.csv"; messages
// without attachments; one with a large non-accounting attachment; seven
// body parts, some nested, ahead of the attachment; an RFC 2231 file name.
std::vector<TestMessage> GoldenMessages();

// Writes raw as root/<folder>/cur/<name>:2,<flags> (folder "" is INBOX,
// otherwise a Maildir++ folder such as ".Accounting").
void WriteMaildirMessage(const std::string& root, const std::string& folder, const std::string& name,
                         const std::string& flags, const std::string& raw);

// A multipart/mixed message from the given parts (each: its header lines and
// body, CR LF ends, without boundaries).
std::string MixedMessage(const std::string& subject, const std::vector<std::string>& parts);
// A part carrying a named attachment in base64.
std::string Base64Part(const std::string& name, const std::string& content);
// A text/plain part.
std::string TextPart(const std::string& text);

}  // namespace tollbook::testing
