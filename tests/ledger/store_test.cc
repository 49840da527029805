// The ledger on real SQLite files: what it stores and recognises again, the
// files it refuses, and what the ledger: mailbox gives back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "base/errors.h"
#include "ledger/location.h"
#include "ledger/recorder.h"
#include "ledger/sha256.h"
#include "ledger/source.h"
#include "ledger/sqlite_db.h"
#include "ledger/storage.h"
#include "ledger/store.h"
#include "support/test_support.h"

namespace tollbook::ledger {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(Sha256, KnownDigests) {
  const struct {
    std::string input;
    std::size_t piece;  // fed in pieces of this size
    const char* digest;
  } cases[] = {
      {"", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 7,
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), 997,
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      {std::string(64, 'x'), 64,
       "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c"},
      {std::string(1000000, 'a'), 1000000,
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const bool cpuInstructions : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::to_string(c.input.size()) +
                   (cpuInstructions ? " bytes" : " bytes, portable code"));
      Sha256 hash(cpuInstructions);
      for (std::size_t at = 0; at < c.input.size(); at += c.piece) {
        hash.Update(std::string_view(c.input).substr(at, c.piece));
      }
      EXPECT_EQ(hash.HexDigest(), c.digest);
    }
  }
}

TEST(LedgerStore, MonthOfTheDateHeader) {
  const struct {
    const char* date;
    const char* month;  // nullptr: no usable date
  } cases[] = {
      {"Tue, 3 Nov 2026 10:00:00 +0000", "2026-11"},
      {"3 nov 2026 23:59:59 -1200", "2026-11"},
      {"  Sun,  31 Dec 1999 00:00 GMT", "1999-12"},
      {"1 Jan 99 00:00 +0000", "1999-01"},
      {"1 Jan 05 00:00 +0000", "2005-01"},
      {"", nullptr},
      {"2026-11-03", nullptr},
      {"Tue, 3 Movember 2026", nullptr},
      {"Tue, 3 Nov", nullptr},
      {"3 Nov 99999999999999 10:00 +0000", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    const auto month = MonthOfDate(c.date);
    if (c.month == nullptr) {
      EXPECT_FALSE(month.has_value()) << *month;
    } else {
      EXPECT_EQ(month.value_or("none"), c.month);
    }
  }
}

TEST(LedgerLocation, PathsAndPasswords) {
  EXPECT_EQ(ResolveLedgerPath(std::string("/x/l.sqlite")), "/x/l.sqlite");
  EXPECT_EQ(ResolveLedgerPath(std::string("off")), "");
  EXPECT_EQ(LedgerLocationPath("ledger:/x/l.sqlite"), "/x/l.sqlite");
  EXPECT_EQ(LedgerLocationPath("ledger:", std::string("/y.sqlite")), "/y.sqlite");
  EXPECT_THROW(LedgerLocationPath("ledger:", std::string("off")), mail::LoginError);
  EXPECT_EQ(LocationWithoutPassword("imaps://acct:s3cr:et@host:993/x"), "imaps://acct@host:993/x");
  EXPECT_EQ(LocationWithoutPassword("imap://acct@host"), "imap://acct@host");
  EXPECT_EQ(LocationWithoutPassword("/srv/Maildir"), "/srv/Maildir");
  EXPECT_EQ(
      LocationWithoutPassword("ledger:postgresql://acct:pw@db/t?password=pw&sslmode=verify-full"),
      "ledger:postgresql://acct@db/t?sslmode=verify-full");
  EXPECT_EQ(LocationWithoutPassword("ledger:host=/run/pg dbname=t password='p w' user=acct"),
            "ledger:user=acct dbname=t host=/run/pg");
  for (const char* location :
       {"postgresql://db/t", "postgres://u@db", "host=db dbname=t", "dbname = t", "service=team"}) {
    EXPECT_TRUE(IsPostgresLocation(location)) << location;
  }
  for (const char* location :
       {"/x/l.sqlite", "l.sqlite", "./a=b.sqlite", "a=b.sqlite", "postgresql:x", "my ledger=1"}) {
    EXPECT_FALSE(IsPostgresLocation(location)) << location;
  }
}

// One run into the ledger at path, recording each (identity, content).
void RecordRun(const std::string& path,
               const std::vector<std::pair<mail::MessageIdentity, std::string>>& files) {
  TempDir scratch;
  auto recorder = CreateLedgerRecorder(path, "imaps://acct@host");
  recorder->Open();
  recorder->BeginRun("INBOX", "delete");
  for (const auto& [identity, content] : files) {
    WriteFile(scratch / "acct", content);
    recorder->RecordFile(identity, scratch / "acct");
  }
  recorder->Sync();
  recorder->EndRun(true, static_cast<std::int64_t>(files.size()),
                   static_cast<std::int64_t>(files.size()));
}

// The ledger: mailbox's folders, and the attachments of one folder in order.
std::vector<std::string> Folders(mail::Account& account) {
  std::vector<std::string> names;
  auto folders = account.AllFolders();
  for (int i = 1; i <= folders->Count(); ++i) names.push_back(folders->Item(i)->Name());
  return names;
}

std::vector<std::string> Contents(mail::Account& account, int position) {
  std::vector<std::string> contents;
  auto messages = account.AllFolders()->Item(position)->Messages(false);
  TempDir dir;
  while (auto message = messages->Next()) {
    auto attachment = message->Attachments()->Item(1);
    EXPECT_EQ(attachment->DisplayName(), "acct");
    attachment->Save(dir / "saved");
    contents.push_back(ReadFile(dir / "saved"));
  }
  return contents;
}

TEST(LedgerStore, StoresEachFileOnceAcrossRunsAndARenumberedFolder) {
  TempDir dir;
  const std::string path = dir / "sub/ledger.sqlite";
  const std::string big(3 << 20, 'b');  // streamed in pieces
  using Id = mail::MessageIdentity;
  RecordRun(path, {{Id{"imap INBOX 7 1", "<a@gw>", "Tue, 3 Nov 2026 10:00:00 +0000"}, "a,1\r\n"},
                   {Id{"imap INBOX 7 2", "", "1 Oct 2026 08:00 +0200"}, "b,2\r\n"},
                   {Id{"imap INBOX 7 3", "<c@gw>", "2 Nov 2026 00:00 +0000"}, big}});
  // Indexes as the first ledgers of this version had them: the next run
  // rebuilds them, the message first.
  {
    Database db(path, SQLITE_OPEN_READWRITE);
    db.Execute(
        "DROP INDEX files_by_store; DROP INDEX files_by_message_id;"
        "CREATE UNIQUE INDEX files_by_store ON files(sha256, store_identity);"
        "CREATE UNIQUE INDEX files_by_message_id ON files(sha256, message_id) "
        "WHERE message_id <> ''");
  }
  // Seen again, then after the folder was re-created (a new UIDVALIDITY):
  // known by identity, then by Message-ID; the one without a Message-ID and
  // a changed file are new.
  RecordRun(path, {{Id{"imap INBOX 7 1", "<a@gw>", "Tue, 3 Nov 2026 10:00:00 +0000"}, "a,1\r\n"},
                   {Id{"imap INBOX 7 2", "", "1 Oct 2026 08:00 +0200"}, "b,2\r\n"}});
  RecordRun(path, {{Id{"imap INBOX 9 1", "<a@gw>", "Tue, 3 Nov 2026 10:00:00 +0000"}, "a,1\r\n"},
                   {Id{"imap INBOX 9 2", "", "1 Oct 2026 08:00 +0200"}, "b,2\r\n"},
                   {Id{"imap INBOX 9 3", "<c@gw>", "2 Nov 2026 00:00 +0000"}, "c,changed\r\n"}});

  // Only its owner may read it, or enter the folder made for it.
  for (const auto& [file, mode] : {std::pair{path, 0600}, std::pair{dir / "sub", 0700}}) {
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mode & 0777, static_cast<unsigned>(mode)) << file;
  }
  Database db(path, SQLITE_OPEN_READONLY);
  EXPECT_EQ(db.QueryInteger("PRAGMA user_version"), kLedgerSchemaVersion);
  EXPECT_EQ(db.QueryInteger("SELECT count(*) FROM files"), 5);
  EXPECT_EQ(db.QueryInteger("SELECT count(*) FROM sightings"), 3);
  Statement indexes(db,
                    "SELECT group_concat(name, ' ') FROM (SELECT name FROM "
                    "pragma_index_info('files_by_store') UNION ALL SELECT name FROM "
                    "pragma_index_info('files_by_message_id'))");
  ASSERT_TRUE(indexes.Step());
  EXPECT_EQ(indexes.Text(0), "store_identity sha256 message_id sha256");
  indexes.Reset();
  Statement runs(
      db,
      "SELECT group_concat(stored_files || '/' || seen_files || ' ' || outcome, ', ') FROM runs");
  ASSERT_TRUE(runs.Step());
  EXPECT_EQ(runs.Text(0), "3/0 completed, 0/2 completed, 2/1 completed");
  runs.Reset();

  auto account = CreateLedgerSession(path)->Login("", "");
  EXPECT_EQ(Folders(*account), (std::vector<std::string>{"All", "2026-10", "2026-11"}));
  EXPECT_EQ(Contents(*account, 1),
            (std::vector<std::string>{"a,1\r\n", "b,2\r\n", big, "b,2\r\n", "c,changed\r\n"}));
  EXPECT_EQ(Contents(*account, 3), (std::vector<std::string>{"a,1\r\n", big, "c,changed\r\n"}));
  EXPECT_THROW(account->Mailbox()->Messages(true), mail::MessageError);
}

TEST(LedgerStore, RefusesFilesThatAreNoLedgerAndNeverChangesThem) {
  TempDir dir;
  const auto sqliteFile = [&](const std::string& name, const char* sql) {
    const std::string path = dir / name;
    Database(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE).Execute(sql);
    return path;
  };
  const std::string garbage = dir / "garbage.sqlite";
  WriteFile(garbage, std::string(4096, 'x'));
  const struct {
    std::string path;
    const char* cause;
  } cases[] = {
      {garbage, "file is not a database"},
      {sqliteFile("other.sqlite", "CREATE TABLE t(x)"), "is an SQLite database of another program"},
      {sqliteFile("newer.sqlite", "PRAGMA user_version = 3"), "has schema version 3, newer than"},
      {dir.Path(), "not a regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string before = c.path == dir.Path() ? "" : ReadFile(c.path);
    auto recorder = CreateLedgerRecorder(c.path, "/m");
    try {
      recorder->Open();
      recorder->BeginRun("INBOX", "");
      ADD_FAILURE() << "opened";
    } catch (const Failure& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(c.path), std::string::npos) << message;
      EXPECT_NE(message.find(c.cause), std::string::npos) << message;
    }
    if (c.path != dir.Path()) {
      EXPECT_EQ(ReadFile(c.path), before);
    }
  }
}

TEST(LedgerStore, ALockedLedgerFailsTheRunStartNamingIt) {
  TempDir dir;
  const std::string path = dir / "ledger.sqlite";
  RecordRun(path, {});
  Database other(path, SQLITE_OPEN_READWRITE);
  other.Execute(
      "BEGIN EXCLUSIVE; INSERT INTO runs (started, mailbox, folder, options, outcome) "
      "VALUES ('', '', '', '', 'x')");
  auto recorder = CreateLedgerRecorder(path, "/m", /*busyTimeoutMs=*/0);
  recorder->Open();
  try {
    recorder->BeginRun("INBOX", "");
    ADD_FAILURE() << "recorded into a locked ledger";
  } catch (const Failure& e) {
    EXPECT_EQ(std::string(e.what()), "cannot write the ledger " + path + ": database is locked");
  }
}

}  // namespace
}  // namespace tollbook::ledger
