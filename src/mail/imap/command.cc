#include "mail/imap/command.h"

#include <typeinfo>
#include <vmime/net/imap/IMAPCommand.hpp>

namespace tollbook::mail {

using vmime::net::imap::IMAPParser;

std::unique_ptr<IMAPParser::response> RunImapCommand(vmime::net::imap::IMAPConnection& connection,
                                                     const std::string& text, const std::string& name,
                                                     IMAPParser::literalHandler* literals) {
  vmime::net::imap::IMAPCommand::createCommand(text)->send(connection.shared_from_this());
  std::unique_ptr<IMAPParser::response> response(connection.readResponse(literals));
  if (response->isBad() || response->response_done()->response_tagged()->resp_cond_state()->status() !=
                               IMAPParser::resp_cond_state::OK) {
    throw vmime::exceptions::command_error(name, response->getErrorLog(), "bad response");
  }
  return response;
}

IMAPParser::literalHandler::target* ImapBodyTarget::targetFor(const IMAPParser::component& component, int) {
  if (typeid(component) != typeid(IMAPParser::msg_att_item)) return nullptr;
  const auto type = static_cast<const IMAPParser::msg_att_item&>(component).type();
  if (type != IMAPParser::msg_att_item::BODY_SECTION) return nullptr;
  return new targetStream(nullptr, out_);  // the parser deletes it
}

}  // namespace tollbook::mail
