#include "ledger/postgres_connect.h"

#include <cstdlib>
#include <cstring>

namespace tollbook::ledger {
namespace {

// Whether the location names a Unix socket (or no host: libpq's default
// socket), where TLS does not apply.
bool OnUnixSocket(const std::string& location) {
  PQconninfoOption* options = PQconninfoParse(location.c_str(), nullptr);
  std::string host, hostaddr;
  for (PQconninfoOption* option = options; option && option->keyword != nullptr; ++option) {
    if (option->val == nullptr) continue;
    if (std::strcmp(option->keyword, "host") == 0) host = option->val;
    if (std::strcmp(option->keyword, "hostaddr") == 0) hostaddr = option->val;
  }
  PQconninfoFree(options);
  if (host.empty() && std::getenv("PGHOST") != nullptr) host = std::getenv("PGHOST");
  if (!hostaddr.empty() || std::getenv("PGHOSTADDR") != nullptr) return false;
  return host.empty() || host.front() == '/' || host.front() == '@';
}

}  // namespace

std::string TrimmedError(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  if (text.empty()) text = "the connection failed";
  return text;
}

PGconn* ConnectToLedger(const std::string& location, const std::string& name) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(location.c_str(), &error);
  if (options == nullptr) {
    std::string why = error != nullptr ? error : "out of memory";
    PQfreemem(error);
    while (!why.empty() && why.back() == '\n') why.pop_back();
    throw Failure("the ledger location " + name + " is malformed: " + why);
  }
  bool sslmodeGiven = std::getenv("PGSSLMODE") != nullptr;
  bool timeoutGiven = std::getenv("PGCONNECT_TIMEOUT") != nullptr;
  for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    if (option->val == nullptr) continue;
    if (std::strcmp(option->keyword, "sslmode") == 0) sslmodeGiven = true;
    if (std::strcmp(option->keyword, "connect_timeout") == 0) timeoutGiven = true;
  }
  PQconninfoFree(options);
  // libpq's own default, "prefer", goes on without TLS where the server
  // offers none: unless the location or PGSSLMODE says otherwise, the
  // connection is encrypted (a Unix socket needs none) or refused.
  std::vector<const char*> keywords{"dbname"}, values{location.c_str()};
  if (!sslmodeGiven && !OnUnixSocket(location)) {
    keywords.push_back("sslmode");
    values.push_back("require");
  }
  if (!timeoutGiven) {
    keywords.push_back("connect_timeout");
    values.push_back("30");
  }
  keywords.push_back("fallback_application_name");
  values.push_back("tollbook");
  keywords.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* conn = PQconnectdbParams(keywords.data(), values.data(), 1);
  if (conn == nullptr) throw Failure("cannot open the ledger " + name + ": out of memory");
  if (PQstatus(conn) != CONNECTION_OK) {
    const std::string why = TrimmedError(PQerrorMessage(conn));
    PQfinish(conn);
    throw Failure("cannot open the ledger " + name + ": " + why);
  }
  return conn;
}

}  // namespace tollbook::ledger
