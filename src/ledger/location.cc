#include "ledger/location.h"

#include <libpq-fe.h>

#include <cstdlib>

#include "ledger/storage.h"
#include "mail/mail_source.h"

namespace tollbook::ledger {

std::unique_ptr<LedgerStorage> CreateSqliteStorage(const std::string& path, int busyTimeoutMs);
std::unique_ptr<LedgerStorage> CreatePostgresStorage(const std::string& location);

namespace {

constexpr std::string_view kScheme = "ledger:";

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// location without any "password=" query parameter.
std::string WithoutPasswordParameter(std::string location) {
  const auto query = location.find('?');
  if (query == std::string::npos) return location;
  std::string kept = location.substr(0, query);
  char separator = '?';
  std::size_t start = query + 1;
  while (start <= location.size()) {
    auto end = location.find('&', start);
    if (end == std::string::npos) end = location.size();
    const std::string parameter = location.substr(start, end - start);
    if (!parameter.empty() && !parameter.starts_with("password=")) {
      kept += separator + parameter;
      separator = '&';
    }
    start = end + 1;
  }
  return kept;
}

}  // namespace

bool IsPostgresLocation(const std::string& location) {
  if (location.starts_with("postgresql://") || location.starts_with("postgres://")) return true;
  // libpq's key-value form: its first word is "keyword=..." of a keyword
  // libpq knows (a path never starts so).
  const auto equals = location.find('=');
  if (equals == std::string::npos || location.starts_with('/') || location.starts_with('.')) {
    return false;
  }
  std::string keyword = location.substr(0, equals);
  while (!keyword.empty() && keyword.back() == ' ') keyword.pop_back();
  if (keyword.empty() || keyword.find_first_of(" /") != std::string::npos) return false;
  PQconninfoOption* defaults = PQconndefaults();
  bool known = false;
  for (PQconninfoOption* option = defaults; option && option->keyword != nullptr; ++option) {
    if (keyword == option->keyword) known = true;
  }
  PQconninfoFree(defaults);
  return known;
}

std::string PostgresDisplayName(const std::string& location) {
  if (location.find("://") != std::string::npos) {
    return WithoutPasswordParameter(LocationWithoutPassword(location));
  }
  PQconninfoOption* options = PQconninfoParse(location.c_str(), nullptr);
  if (options == nullptr) return "(a malformed PostgreSQL location)";
  std::string name;
  for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    if (option->val == nullptr || std::string_view(option->keyword) == "password") continue;
    if (!name.empty()) name += ' ';
    name += std::string(option->keyword) + "=" + option->val;
  }
  PQconninfoFree(options);
  return name;
}

std::unique_ptr<LedgerStorage> CreateLedgerStorage(const std::string& location, int busyTimeoutMs) {
  if (IsPostgresLocation(location)) return CreatePostgresStorage(location);
  return CreateSqliteStorage(location, busyTimeoutMs);
}

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
  if (location.starts_with(kScheme)) {
    const std::string inner(location.substr(kScheme.size()));
    if (IsPostgresLocation(inner)) return std::string(kScheme) + PostgresDisplayName(inner);
  } else if (IsPostgresLocation(std::string(location)) &&
             location.find("://") == std::string_view::npos) {
    return PostgresDisplayName(std::string(location));
  }
  const auto scheme = location.find("://");
  if (scheme == std::string_view::npos) return std::string(location);
  const auto start = scheme + 3;
  const auto authorityEnd = location.find_first_of("/?#", start);
  const auto at = location.substr(0, authorityEnd).rfind('@');
  std::string kept(location);
  if (at != std::string_view::npos && at >= start) {
    const auto colon = location.substr(start, at - start).find(':');
    if (colon != std::string_view::npos) {
      kept = std::string(location.substr(0, start + colon)) + std::string(location.substr(at));
    }
  }
  if (location.starts_with("postgres")) kept = WithoutPasswordParameter(kept);
  return kept;
}

}  // namespace tollbook::ledger
