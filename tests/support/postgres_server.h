// A throwaway PostgreSQL server for the ledger tests, run through
// scripts/test-postgres: a cluster of its own, listening on a Unix socket
// only, stopped when the object goes.
#pragma once

#include <string>

#include "support/test_support.h"

namespace tollbook::testing {

class PostgresServer {
 public:
  // Whether the PostgreSQL server programs are installed. Tests must fail,
  // not skip, without them when $CI is set.
  static bool Available();

  // Starts the server. Throws std::runtime_error with the script's message
  // when it does not start.
  PostgresServer();
  ~PostgresServer();
  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;

  // A new, empty ledger in the server: the location (libpq's key-value
  // form) of a schema of its own in the database "ledger".
  std::string NewLedger();
  // The first value of the first row sql gives in the database "ledger" as
  // the superuser, with location's search path; the empty text when there
  // is no row. Throws std::runtime_error when it fails.
  std::string Query(const std::string& location, const std::string& sql);
  // The folder of the server's Unix socket.
  const std::string& Socket() const { return socket_; }
  // Stops the server as a power cut would; Restart() brings it back.
  void Crash();
  void Restart();

 private:
  TempDir dir_;
  std::string socket_;
  int ledgers_ = 0;
};

}  // namespace tollbook::testing
