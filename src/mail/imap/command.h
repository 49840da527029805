// Commands the IMAP walk sends itself on a store's connection, beside
// vmime's folder object: their answers are read once, by the walk, rather
// than handed to every message object the folder holds.
#pragma once

#include <memory>
#include <string>
#include <vmime/net/imap/IMAPConnection.hpp>
#include <vmime/net/imap/IMAPParser.hpp>
#include <vmime/utility/outputStream.hpp>

namespace tollbook::mail {

// Sends text on connection and returns the whole answer. Literals go to
// literals when it is given (see ImapBodyTarget). Throws
// vmime::exceptions::command_error, named by name, unless the answer ends
// in OK; throws vmime exceptions when the connection fails.
std::unique_ptr<vmime::net::imap::IMAPParser::response> RunImapCommand(
    vmime::net::imap::IMAPConnection& connection, const std::string& text, const std::string& name,
    vmime::net::imap::IMAPParser::literalHandler* literals = nullptr);

// Sends the literals of the BODY[...] items of a FETCH answer to out as
// they arrive, instead of into the answer.
class ImapBodyTarget : public vmime::net::imap::IMAPParser::literalHandler {
 public:
  explicit ImapBodyTarget(vmime::utility::outputStream& out) : out_(out) {}
  target* targetFor(const vmime::net::imap::IMAPParser::component& component, int data) override;

 private:
  vmime::utility::outputStream& out_;
};

}  // namespace tollbook::mail
