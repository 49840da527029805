#include "mail/imap/command.h"

#include <algorithm>
#include <stdexcept>
#include <typeinfo>
#include <vector>
#include <vmime/net/imap/IMAPCommand.hpp>

#include "mail/imap/response_limits.h"

namespace tollbook::mail {
namespace {

using vmime::net::imap::IMAPParser;

class CountingTarget : public IMAPParser::literalHandler::target {
 public:
  CountingTarget(vmime::utility::outputStream* out, std::uint64_t& bytes)
      : target(nullptr), out_(out), bytes_(bytes) {}
  void putData(const vmime::string& chunk) override {
    if (out_ != nullptr) out_->write(chunk.data(), chunk.size());
    bytes_ += chunk.size();
  }

 private:
  vmime::utility::outputStream* out_;  // null: dropped
  std::uint64_t& bytes_;
};

// text cut after each synchronising literal's "{n}" and the CRLF after it
// dropped: "EXAMINE {4}\r\nCafe" gives "EXAMINE {4}" and "Cafe".
std::vector<std::string> SplitAtLiterals(const std::string& text) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t at = text.find("}\r\n"); at != std::string::npos;
       at = text.find("}\r\n", at + 1)) {
    const std::size_t open = text.rfind('{', at);
    if (open == std::string::npos || open < start || at == open + 1 ||
        text.find_first_not_of("0123456789", open + 1) != at) {
      continue;  // not a synchronising literal ("{n+}" is sent at once)
    }
    const std::size_t length = std::stoul(text.substr(open + 1, at - open - 1));
    pieces.push_back(text.substr(start, at + 1 - start));
    start = at + 3;
    if (start + length >= text.size()) break;
    at = start + length - 1;  // the literal's bytes are data: look on after them
  }
  pieces.push_back(text.substr(std::min(start, text.size())));
  return pieces;
}

}  // namespace

std::unique_ptr<IMAPParser::response> RunImapCommand(vmime::net::imap::IMAPConnection& connection,
                                                     const std::string& text, const std::string& name,
                                                     IMAPParser::literalHandler* literals) {
  auto guard = ImapGuardOf(connection);
  if (guard)
    guard->SetLiteralLimit(literals != nullptr ? kImapLargestBody : kImapLargestHeldLiteral);
  std::unique_ptr<IMAPParser::response> response;
  const auto refused = [&] {
    return response->isBad() || response->response_done() == nullptr ||
           response->response_done()->response_tagged() == nullptr ||
           response->response_done()->response_tagged()->resp_cond_state()->status() !=
               IMAPParser::resp_cond_state::OK;
  };
  try {
    // A synchronising literal ("{n}" at the end of a piece) is sent only once
    // the server asked for it with a continuation ("+").
    const std::vector<std::string> pieces = SplitAtLiterals(text);
    vmime::net::imap::IMAPCommand::createCommand(pieces[0])->send(connection.shared_from_this());
    for (std::size_t i = 1; i < pieces.size(); ++i) {
      response.reset(connection.readResponse(literals));
      if (response->response_done() != nullptr) break;  // refused before the literal
      const std::string rest = pieces[i] + "\r\n";
      connection.sendRaw(reinterpret_cast<const vmime::byte_t*>(rest.data()), rest.size());
      response.reset();
    }
    if (!response) response.reset(connection.readResponse(literals));
  } catch (const ImapAnswerError& e) {
    throw std::runtime_error("the server's answer to " + name + " is refused: " + e.what());
  }
  if (refused())
    throw vmime::exceptions::command_error(name, response->getErrorLog(), "bad response");
  return response;
}

bool ImapSectionName(const IMAPParser::section* section, std::string& name) {
  if (section == nullptr) return false;
  name.clear();
  for (const unsigned int number : section->nz_numbers()) {
    if (!name.empty()) name += '.';
    name += std::to_string(number);
  }
  const auto* text = name.empty() ? section->section_text1() : section->section_text2();
  if (text == nullptr) return !name.empty();
  if (text->type() == IMAPParser::section_text::MIME) {
    name += ".MIME";
    return true;
  }
  if (name.empty() && text->type() == IMAPParser::section_text::HEADER_FIELDS) {
    name = "HEADER.FIELDS";
    return true;
  }
  if (name.empty() && text->type() == IMAPParser::section_text::TEXT) {
    name = "TEXT";
    return true;
  }
  return false;
}

std::string ImapUidOf(const IMAPParser::msg_att& attributes) {
  for (const auto* item : attributes.items()) {
    if (item->type() == IMAPParser::msg_att_item::UID && item->unique_id() != nullptr) {
      return std::to_string(item->unique_id()->value());
    }
  }
  return {};
}

IMAPParser::literalHandler::target* ImapBodyTarget::targetFor(const IMAPParser::component& component, int) {
  if (typeid(component) != typeid(IMAPParser::msg_att_item)) return nullptr;
  const auto& item = static_cast<const IMAPParser::msg_att_item&>(component);
  std::string name;
  if (item.type() != IMAPParser::msg_att_item::BODY_SECTION ||
      !ImapSectionName(item.section(), name) || name != section_) {
    return new CountingTarget(nullptr, dropped_);  // the parser deletes it
  }
  written_ += values_.empty() ? 0 : values_.back().second;
  values_.emplace_back(written_, 0);
  return new CountingTarget(&out_, values_.back().second);
}

}  // namespace tollbook::mail
