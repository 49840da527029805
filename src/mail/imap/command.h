// Commands the IMAP walk sends itself on a store's connection, beside
// vmime's folder object: their answers are read once, by the walk, rather
// than handed to every message object the folder holds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <vmime/net/imap/IMAPConnection.hpp>
#include <vmime/net/imap/IMAPParser.hpp>
#include <vmime/utility/outputStream.hpp>

namespace tollbook::mail {

// Sends text on connection and returns the whole answer. Literals go to
// literals when it is given (see ImapBodyTarget). Throws
// vmime::exceptions::command_error, named by name, unless the answer ends
// in OK; throws vmime exceptions when the connection fails, and
// std::runtime_error naming the command when the connection's guard refuses
// the answer (see imap/response_limits.h).
std::unique_ptr<vmime::net::imap::IMAPParser::response> RunImapCommand(
    vmime::net::imap::IMAPConnection& connection, const std::string& text, const std::string& name,
    vmime::net::imap::IMAPParser::literalHandler* literals = nullptr);

// The section a BODY[...] item of a FETCH answer names, spelt as asked
// ("1.2", "TEXT", "1.2.MIME", "HEADER.FIELDS"); false for any other.
bool ImapSectionName(const vmime::net::imap::IMAPParser::section* section, std::string& name);

// The UID a FETCH answer item gives, "" when it gives none.
std::string ImapUidOf(const vmime::net::imap::IMAPParser::msg_att& attributes);

// Sends the values of the BODY[section] items of a FETCH answer to out as
// they arrive, one after the other, instead of into the answer, and notes
// where each one lies; the literals of other items are read and dropped. The
// caller picks the one of the message it asked for once the answer is read.
class ImapBodyTarget : public vmime::net::imap::IMAPParser::literalHandler {
 public:
  ImapBodyTarget(vmime::utility::outputStream& out, std::string section)
      : out_(out), section_(std::move(section)) {}
  target* targetFor(const vmime::net::imap::IMAPParser::component& component, int data) override;

  // Where the BODY[section] values lie in what was sent to out (offset,
  // length), in the order of the answer.
  const std::vector<std::pair<std::uint64_t, std::uint64_t>>& Values() const { return values_; }

 private:
  vmime::utility::outputStream& out_;
  std::string section_;
  std::uint64_t written_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> values_;
  std::uint64_t dropped_ = 0;
};

}  // namespace tollbook::mail
