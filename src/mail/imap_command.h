// Commands the IMAP walk sends itself on a store's connection, beside
// vmime's folder object: their answers are read once, by the walk, rather
// than handed to every message object the folder holds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vmime/net/imap/IMAPConnection.hpp>
#include <vmime/net/imap/IMAPParser.hpp>
#include <vmime/utility/outputStream.hpp>

namespace tollbook::mail {

// Sends text on connection and returns the whole answer. Literals go to
// literals when it is given (see ImapBodyTarget). Throws
// vmime::exceptions::command_error, named by name, unless the answer ends
// in OK; throws vmime exceptions when the connection fails, and
// std::runtime_error naming the command when the connection's guard refuses
// the answer (see imap_response_limits.h).
std::unique_ptr<vmime::net::imap::IMAPParser::response> RunImapCommand(
    vmime::net::imap::IMAPConnection& connection, const std::string& text, const std::string& name,
    vmime::net::imap::IMAPParser::literalHandler* literals = nullptr);

// The section a BODY[...] item of a FETCH answer names, spelt as asked
// ("1.2", "TEXT", "1.2.MIME", "HEADER.FIELDS"); false for any other.
bool ImapSectionName(const vmime::net::imap::IMAPParser::section* section, std::string& name);

// The UID a FETCH answer item gives, "" when it gives none.
std::string ImapUidOf(const vmime::net::imap::IMAPParser::msg_att& attributes);

class ImapResponseGuard;

// Sends the literal of one BODY[section] item of a FETCH answer to out as it
// arrives, instead of into the answer: the first whose FETCH response had not
// named another UID than uid before the literal began (guard tells). The
// literals of other items, and of any other item of that section, are read
// and dropped.
class ImapBodyTarget : public vmime::net::imap::IMAPParser::literalHandler {
 public:
  ImapBodyTarget(vmime::utility::outputStream& out, std::string section, std::string uid,
                 std::shared_ptr<ImapResponseGuard> guard)
      : out_(out), section_(std::move(section)), uid_(std::move(uid)), guard_(std::move(guard)) {}
  target* targetFor(const vmime::net::imap::IMAPParser::component& component, int data) override;

  // Whether a literal was kept, which of the answer's BODY[section] items
  // (from 0, in the answer's order) it was, and its length.
  bool Received() const { return received_; }
  std::size_t KeptItem() const { return keptItem_; }
  std::uint64_t Bytes() const { return bytes_; }

 private:
  vmime::utility::outputStream& out_;
  std::string section_;
  std::string uid_;
  std::shared_ptr<ImapResponseGuard> guard_;
  bool received_ = false;
  std::size_t items_ = 0;  // BODY[section] literals so far
  std::size_t keptItem_ = 0;
  std::uint64_t bytes_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace tollbook::mail
