// The crash harness's kill points with the runs recording into a
// PostgreSQL ledger: one server for the program (scripts/test-postgres), a
// new empty ledger in it for every killed run.
#include <gtest/gtest.h>

#include <cstdlib>

#include "hardening/crash_harness.h"
#include "support/postgres_server.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  using tollbook::testing::PostgresServer;
  if (!PostgresServer::Available()) {
    std::fprintf(stderr, "PostgreSQL is not installed\n");
    return std::getenv("CI") != nullptr ? 1 : 0;
  }
  PostgresServer server;
  tollbook::testing::SetCrashLedgerFactory([&server] { return server.NewLedger(); });
  return RUN_ALL_TESTS();
}
