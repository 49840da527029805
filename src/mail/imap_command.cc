#include "mail/imap_command.h"

#include <stdexcept>
#include <typeinfo>
#include <vmime/net/imap/IMAPCommand.hpp>

#include "mail/imap_response_limits.h"

namespace tollbook::mail {
namespace {

using vmime::net::imap::IMAPParser;

class CountingTarget : public IMAPParser::literalHandler::target {
 public:
  CountingTarget(vmime::utility::outputStream* out, std::uint64_t& bytes) : target(nullptr), out_(out), bytes_(bytes) {}
  void putData(const vmime::string& chunk) override {
    if (out_ != nullptr) out_->write(chunk.data(), chunk.size());
    bytes_ += chunk.size();
  }

 private:
  vmime::utility::outputStream* out_;  // null: dropped
  std::uint64_t& bytes_;
};

}  // namespace

std::unique_ptr<IMAPParser::response> RunImapCommand(vmime::net::imap::IMAPConnection& connection,
                                                     const std::string& text, const std::string& name,
                                                     IMAPParser::literalHandler* literals) {
  auto guard = ImapGuardOf(connection);
  if (guard) guard->SetLiteralLimit(literals != nullptr ? kImapLargestBody : kImapLargestHeldLiteral);
  std::unique_ptr<IMAPParser::response> response;
  try {
    vmime::net::imap::IMAPCommand::createCommand(text)->send(connection.shared_from_this());
    response.reset(connection.readResponse(literals));
  } catch (const ImapAnswerError& e) {
    throw std::runtime_error("the server's answer to " + name + " is refused: " + e.what());
  }
  if (response->isBad() || response->response_done()->response_tagged()->resp_cond_state()->status() !=
                               IMAPParser::resp_cond_state::OK) {
    throw vmime::exceptions::command_error(name, response->getErrorLog(), "bad response");
  }
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
  if (item.type() != IMAPParser::msg_att_item::BODY_SECTION || !ImapSectionName(item.section(), name) ||
      name != section_) {
    return new CountingTarget(nullptr, dropped_);  // the parser deletes it
  }
  written_ += values_.empty() ? 0 : values_.back().second;
  values_.emplace_back(written_, 0);
  return new CountingTarget(&out_, values_.back().second);
}

}  // namespace tollbook::mail
