#include "support/postgres_server.h"

#include <glob.h>
#include <libpq-fe.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace tollbook::testing {
namespace {}  // namespace

bool PostgresServer::Available() {
  glob_t found{};
  const bool any = ::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0;
  ::globfree(&found);
  return any;
}

PostgresServer::PostgresServer() {
  std::string output = RunProjectScript("test-postgres", "start " + ShellQuoted(dir_ / "server"));
  while (!output.empty() && output.back() == '\n') output.pop_back();
  socket_ = output.substr(output.rfind('\n') + 1);
}

PostgresServer::~PostgresServer() {
  try {
    RunProjectScript("test-postgres", "stop " + ShellQuoted(dir_ / "server"));
  } catch (const std::exception&) {
    // Stopping is best effort at the end of a test.
  }
}

std::string PostgresServer::NewLedger() {
  const std::string schema = "ledger_" + std::to_string(++ledgers_);
  const std::string location = "host=" + socket_ + " port=5432 user=tollbook dbname=ledger";
  Query(location, "CREATE SCHEMA " + schema);
  return location + " options='-c search_path=" + schema + "'";
}

std::string PostgresServer::Query(const std::string& location, const std::string& sql) {
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(location.c_str()), PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    throw std::runtime_error("cannot connect to " + location + ": " + PQerrorMessage(conn.get()));
  }
  std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(conn.get(), sql.c_str()), PQclear);
  const auto status = PQresultStatus(result.get());
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    throw std::runtime_error(sql + ": " + PQresultErrorMessage(result.get()));
  }
  if (status != PGRES_TUPLES_OK || PQntuples(result.get()) == 0) return "";
  return PQgetvalue(result.get(), 0, 0);
}

void PostgresServer::Crash() {
  RunProjectScript("test-postgres", "crash " + ShellQuoted(dir_ / "server"));
}

void PostgresServer::Restart() {
  RunProjectScript("test-postgres", "restart " + ShellQuoted(dir_ / "server"));
}

}  // namespace tollbook::testing
