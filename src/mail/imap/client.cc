#include "mail/imap/client.h"

#include <cerrno>
#include <cstdlib>

#include "base/text.h"

namespace tollbook::mail {
namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

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

int ImapTimeoutSeconds() {
  const char* text = std::getenv(std::string(kImapTimeoutVariable).c_str());
  if (text == nullptr || *text == '\0') return 20;
  char* end = nullptr;
  errno = 0;
  const long seconds = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || seconds < 1 || seconds > 3600) {
    throw SettingError(std::string(kImapTimeoutVariable) + "=" + text +
                       " is not a number of seconds from 1 to 3600");
  }
  return static_cast<int>(seconds);
}

ImapClient::ImapClient(ImapUrl url, int timeoutSeconds)
    : url_(std::move(url)),
      timeoutSeconds_(timeoutSeconds),
      parser_([this](char* data, std::size_t size) {
        const std::size_t got = transport_.Read(data, size, Deadline());
        receivedSinceSend_ += got;
        return got;
      }) {}

ImapClient::~ImapClient() = default;

ImapClock::time_point ImapClient::Deadline() const {
  return loggedIn_ ? ImapClock::now() + std::chrono::seconds(timeoutSeconds_) : loginDeadline_;
}

std::string ImapClient::NextTag() { return "T" + std::to_string(++tags_); }

bool ImapClient::Has(std::string_view capability) const {
  return capabilities_.contains(Upper(capability));
}

void ImapClient::TakeCapabilities(std::string_view list) {
  ++capabilityLists_;
  capabilities_.clear();
  while (!list.empty()) {
    const auto space = list.find(' ');
    const std::string_view word = list.substr(0, space);
    if (!word.empty()) capabilities_.insert(Upper(word));
    list = space == std::string_view::npos ? std::string_view() : list.substr(space + 1);
  }
}

void ImapClient::Send(std::string_view text) {
  if (broken_) throw ImapError(ImapGrade::kConnection, "the connection is unusable");
  try {
    transport_.Write(text, Deadline());
  } catch (const ImapTimedOut&) {
    broken_ = true;
    throw ImapError(ImapGrade::kConnection, "timed out: the server took nothing for " +
                                                std::to_string(timeoutSeconds_) + " s");
  }
  receivedSinceSend_ = 0;
}

ImapResponse ImapClient::Read(ImapLiteralSink* sink) {
  if (broken_) throw ImapError(ImapGrade::kConnection, "the connection is unusable");
  try {
    ImapResponse response = parser_.Next(!loggedIn_, sink);
    if (response.Untagged() && response.status == "BYE") bye_ = response.text;
    if (response.Untagged() && response.CodeName() == "CAPABILITY") {
      TakeCapabilities(response.CodeArguments());
    }
    if (response.Untagged() && !response.items.empty() && response.items[0].Is("CAPABILITY")) {
      std::string list;
      for (std::size_t i = 1; i < response.items.size(); ++i) {
        if (response.items[i].kind == ImapItem::Kind::kAtom) list += response.items[i].text + " ";
      }
      TakeCapabilities(list);
    }
    return response;
  } catch (const ImapTimedOut&) {
    broken_ = true;
    transport_.Close();
    const std::string seconds = std::to_string(timeoutSeconds_) + " s";
    if (loggedIn_)
      throw ImapError(ImapGrade::kConnection,
                      "the server did not answer within " + seconds + " (timed out)");
    if (receivedSinceSend_ > 0) {
      throw ImapError(ImapGrade::kConnection,
                      "timed out: the log-in did not finish within " + seconds);
    }
    throw ImapError(ImapGrade::kConnection,
                    "timed out: the server did not answer within " + seconds);
  } catch (const ImapError& e) {
    broken_ = true;
    transport_.Close();
    if (e.Grade() == ImapGrade::kConnection && !bye_.empty()) {
      throw ImapError(ImapGrade::kConnection,
                      std::string(e.what()) + " (BYE " + ShownServerText(bye_) + ")");
    }
    throw;
  }
}

ImapAnswer ImapClient::Run(const std::string& command, const std::string& name,
                           ImapLiteralSink* sink, ImapGrade refusal) {
  const std::string tag = NextTag();
  const std::vector<std::string> pieces = SplitAtLiterals(tag + " " + command);
  ImapAnswer answer;
  Send(pieces[0] + "\r\n");
  bool done = false;
  for (std::size_t i = 1; i < pieces.size() && !done; ++i) {
    // A synchronising literal goes once the server asked for it with "+".
    for (;;) {
      ImapResponse response = Read(sink);
      if (response.tag == "+") break;
      if (response.tag == tag) {
        answer.done = std::move(response);
        done = true;
        break;
      }
      answer.untagged.push_back(std::move(response));
    }
    if (!done) Send(pieces[i] + "\r\n");
  }
  while (!done) {
    ImapResponse response = Read(sink);
    if (response.tag == tag) {
      answer.done = std::move(response);
      break;
    }
    if (response.tag == "+") {
      broken_ = true;
      transport_.Close();
      throw ImapError(ImapGrade::kConnection,
                      "the server asked for more of " + name + " than was sent");
    }
    if (!response.Untagged()) {
      broken_ = true;
      transport_.Close();
      throw ImapError(ImapGrade::kConnection, "the server answered a command that was not sent (" +
                                                  ShownServerText(response.tag) + ")");
    }
    answer.untagged.push_back(std::move(response));
  }
  if (answer.done.status != "OK") {
    const std::string why = "the server refused " + name + " (" + answer.done.status + " " +
                            ShownServerText(answer.done.text) + ")";
    throw ImapRefused(refusal, why, std::move(answer.done));
  }
  if (answer.done.CodeName() == "CAPABILITY") TakeCapabilities(answer.done.CodeArguments());
  return answer;
}

void ImapClient::LogOut() noexcept {
  if (!transport_.Open()) return;
  try {
    if (!broken_) {
      transport_.Write(NextTag() + " LOGOUT\r\n",
                       ImapClock::now() + std::chrono::seconds(std::min(timeoutSeconds_, 2)));
    }
  } catch (...) {
    // Leaving: a connection that cannot say goodbye is dropped.
  }
  transport_.Close();
}

}  // namespace tollbook::mail
