#include "ledger/location.h"

#include <cstdlib>

#include "mail/mail_source.h"

namespace tollbook::ledger {
namespace {

constexpr std::string_view kScheme = "ledger:";

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string ResolveLedgerPath(const std::optional<std::string>& choice) {
  std::string path = choice ? *choice : Variable("TOLLBOOK_LEDGER");
  if (path == "off") return {};
  if (!path.empty()) return path;
  const std::string data = Variable("XDG_DATA_HOME");
  if (!data.empty() && data.front() == '/') return data + "/tollbook/ledger.sqlite";
  const std::string home = Variable("HOME");
  return (home.empty() ? std::string(".") : home) + "/.local/share/tollbook/ledger.sqlite";
}

bool IsLedgerLocation(std::string_view location) { return location.starts_with(kScheme); }

std::string LedgerLocationPath(std::string_view location,
                               const std::optional<std::string>& choice) {
  location.remove_prefix(kScheme.size());
  if (!location.empty()) return std::string(location);
  std::string path = ResolveLedgerPath(choice);
  if (path.empty()) {
    throw mail::LoginError(
        "ledger: names the ledger runs record into, and that is turned off "
        "(TOLLBOOK_LEDGER=off or --no-ledger); use ledger:PATH");
  }
  return path;
}

std::string LocationWithoutPassword(std::string_view location) {
  const auto scheme = location.find("://");
  if (scheme == std::string_view::npos) return std::string(location);
  const auto start = scheme + 3;
  const auto authorityEnd = location.find_first_of("/?#", start);
  const auto at = location.substr(0, authorityEnd).rfind('@');
  if (at == std::string_view::npos || at < start) return std::string(location);
  const auto colon = location.substr(start, at - start).find(':');
  if (colon == std::string_view::npos) return std::string(location);
  return std::string(location.substr(0, start + colon)) + std::string(location.substr(at));
}

}  // namespace tollbook::ledger
