#include "ledger/store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "base/errors.h"
#include "base/text.h"

namespace tollbook::ledger {
namespace {

constexpr const char* kSchema = R"(
CREATE TABLE IF NOT EXISTS runs (
  id INTEGER PRIMARY KEY,
  started TEXT NOT NULL,
  ended TEXT,
  mailbox TEXT NOT NULL,
  folder TEXT NOT NULL,
  options TEXT NOT NULL,
  outcome TEXT NOT NULL,
  messages INTEGER NOT NULL DEFAULT 0,
  accounting_files INTEGER NOT NULL DEFAULT 0,
  stored_files INTEGER NOT NULL DEFAULT 0,
  seen_files INTEGER NOT NULL DEFAULT 0);
CREATE TABLE IF NOT EXISTS files (
  id INTEGER PRIMARY KEY,
  run_id INTEGER NOT NULL REFERENCES runs(id),
  collected TEXT NOT NULL,
  store_identity TEXT NOT NULL,
  message_id TEXT NOT NULL,
  date_header TEXT NOT NULL,
  month TEXT NOT NULL,
  sha256 TEXT NOT NULL,
  size INTEGER NOT NULL,
  content BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS files_by_month ON files(month, id);
CREATE TABLE IF NOT EXISTS sightings (
  id INTEGER PRIMARY KEY,
  run_id INTEGER NOT NULL REFERENCES runs(id),
  file_id INTEGER NOT NULL REFERENCES files(id),
  seen TEXT NOT NULL,
  store_identity TEXT NOT NULL);
)";

// Each file unique by message and content, so that collectors side by side
// store it once; the indexes serve the lookups too. The message comes first:
// a run meets messages in the store's order, and many Message-IDs begin with
// a time, so a batch of files lands on a few pages of each index, where keys
// that begin with the content's hash would touch a page for every file.
constexpr const char* kIdentityIndexes = R"(
CREATE UNIQUE INDEX files_by_store ON files(store_identity, sha256);
CREATE UNIQUE INDEX files_by_message_id ON files(message_id, sha256) WHERE message_id <> '';
)";

// Version 2: the indexes above; pieces of large files (unused by SQLite,
// which writes a large value in place).
constexpr const char* kSchemaVersion2 = R"(
DROP INDEX IF EXISTS files_by_sha256;
CREATE TABLE IF NOT EXISTS file_pieces (
  file_id INTEGER NOT NULL REFERENCES files(id),
  position INTEGER NOT NULL,
  bytes BLOB NOT NULL,
  PRIMARY KEY (file_id, position));
PRAGMA user_version = 2;
)";

// Whether the ledger's identity indexes still begin with the content's hash,
// as the first ledgers of version 2 made them.
bool HashFirstIndexes(Database& db) {
  return db.QueryInteger(
             "SELECT count(*) FROM pragma_index_info('files_by_store') "
             "WHERE seqno = 0 AND name = 'sha256'") != 0;
}

// Refuses a file that is no ledger of a version this program knows. Returns
// the version (0: an empty SQLite file).
// Both are read in one statement, so in one snapshot: another collector
// creating the tables in between would otherwise show a version of 0 beside
// its tables.
std::int64_t CheckVersion(Database& db) {
  Statement query(db,
                  "SELECT user_version, (SELECT count(*) FROM sqlite_master) "
                  "FROM pragma_user_version");
  if (!query.Step()) db.Fail("cannot read the ledger", SQLITE_ERROR);
  const std::int64_t version = query.Integer(0);
  const std::int64_t objects = query.Integer(1);
  query.Reset();
  if (version > kLedgerSchemaVersion) {
    throw Failure("the ledger " + db.Path() + " has schema version " + std::to_string(version) +
                  ", newer than this Tollbook's " + std::to_string(kLedgerSchemaVersion) +
                  "; use a newer Tollbook or another ledger");
  }
  if (version == 0 && objects != 0) {
    throw Failure("the ledger " + db.Path() +
                  " is an SQLite database of another program, not a ledger");
  }
  return version;
}

// Creates folder and the folders above it that are missing, each private to
// the user (0700); folders that exist are left as they are.
void CreatePrivateFolders(const std::filesystem::path& folder, const std::string& ledger) {
  std::error_code ec;
  if (std::filesystem::is_directory(folder, ec)) return;
  const auto parent = folder.parent_path();
  if (!parent.empty() && parent != folder) CreatePrivateFolders(parent, ledger);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    throw Failure("cannot create the folder " + folder.string() + " of the ledger " + ledger +
                  ": " + std::strerror(errno));
  }
}

}  // namespace

std::unique_ptr<Database> OpenLedgerForRecording(const std::string& path, int busyTimeoutMs) {
  struct stat st {};
  const int flags = SQLITE_OPEN_READWRITE;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) throw FileError("cannot open the ledger", path, errno);
    const auto folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) CreatePrivateFolders(folder, path);
    // Created here, exclusively, for the system's own reason when that fails;
    // an empty file is an empty SQLite database. Only its owner may read it:
    // it holds every accounting line.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) throw FileError("cannot create the ledger", path, errno);
    if (fd >= 0) ::close(fd);
  } else if (!S_ISREG(st.st_mode)) {
    throw Failure("cannot open the ledger " + path + ": not a regular file");
  }
  auto db = std::make_unique<Database>(path, flags);
  if (db->ReadOnly()) throw Failure("cannot write the ledger " + path + ": the file is read-only");
  sqlite3_busy_timeout(db->Handle(), busyTimeoutMs);
  // The page cache is bounded in bytes whatever the page size (earlier
  // ledgers were made with 64 KiB pages). A run's writes go to the last pages
  // of the table and of its indexes, so a small cache serves them.
  db->Execute("PRAGMA cache_size = -1024");
  if (CheckVersion(*db) < kLedgerSchemaVersion) {
    if (db->QueryInteger("SELECT count(*) FROM sqlite_master") == 0) {
      // Every page a transaction changes goes to the log in a frame of its
      // own, and each frame costs more than its bytes: 8 KiB pages halve the
      // frames of the default 4 KiB, while an index whose keys come in no
      // order (random Message-IDs) still costs no more per file than it did
      // with its keys beginning with the hash.
      db->Execute("PRAGMA page_size = 8192");
      db->Execute("PRAGMA journal_mode = WAL");
    }
    db->Execute("BEGIN IMMEDIATE");
    const std::int64_t version = CheckVersion(*db);
    if (version == 0) db->Execute(kSchema);
    if (version < 2) {
      db->Execute(kSchemaVersion2);
      db->Execute(kIdentityIndexes);
    }
    db->Execute("COMMIT");
  }
  if (HashFirstIndexes(*db)) {
    // Rebuilt once, in the order new ledgers have them.
    db->Execute("BEGIN IMMEDIATE");
    if (HashFirstIndexes(*db)) {
      db->Execute("DROP INDEX files_by_store; DROP INDEX files_by_message_id;");
      db->Execute(kIdentityIndexes);
    }
    db->Execute("COMMIT");
  }
  Statement mode(*db, "PRAGMA journal_mode");
  if (mode.Step() && !EqualsIgnoreCase(mode.Text(0), "wal")) {
    mode.Reset();
    db->Execute("PRAGMA journal_mode = WAL");
  }
  mode.Reset();
  db->Execute("PRAGMA synchronous = NORMAL");
  // Each checkpoint writes the log into the database and syncs both. One
  // every 8 MiB of log comes after a batch's commit, on the thread that
  // stores batches beside the run, and leaves little for the last one when
  // the ledger is closed; the log is then written over from its start.
  const std::int64_t pageSize = db->QueryInteger("PRAGMA page_size");
  const std::string autocheckpoint =
      "PRAGMA wal_autocheckpoint = " + std::to_string((8 << 20) / (pageSize > 0 ? pageSize : 4096));
  db->Execute(autocheckpoint.c_str());
  return db;
}

std::unique_ptr<Database> OpenLedgerForReading(const std::string& path, int busyTimeoutMs) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw FileError("cannot open the ledger", path, errno);
  auto db = std::make_unique<Database>(path, SQLITE_OPEN_READONLY);
  sqlite3_busy_timeout(db->Handle(), busyTimeoutMs);
  db->Execute("PRAGMA cache_size = -2048");
  if (CheckVersion(*db) == 0)
    throw Failure("the ledger " + path + " is empty: no run has recorded into it");
  return db;
}

std::optional<std::string> MonthOfDate(std::string_view date) {
  static constexpr std::string_view kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  std::size_t i = 0;
  auto skipBlanks = [&] {
    while (i < date.size() && (date[i] == ' ' || date[i] == '\t')) ++i;
  };
  skipBlanks();
  if (const auto comma = date.find(','); comma != std::string_view::npos && comma < 12) {
    i = comma + 1;
    skipBlanks();
  }
  auto digits = [&] {
    const std::size_t start = i;
    while (i < date.size() && date[i] >= '0' && date[i] <= '9') ++i;
    return date.substr(start, i - start);
  };
  const auto day = digits();
  if (day.empty() || day.size() > 2) return std::nullopt;
  skipBlanks();
  if (i + 3 > date.size()) return std::nullopt;
  int month = 0;
  for (int m = 0; m < 12; ++m) {
    if (EqualsIgnoreCase(date.substr(i, 3), kMonths[m])) month = m + 1;
  }
  if (month == 0) return std::nullopt;
  i += 3;
  skipBlanks();
  const auto yearText = digits();
  if (yearText.size() < 2 || yearText.size() > 4) return std::nullopt;
  int year = 0;
  for (const char c : yearText) year = year * 10 + (c - '0');
  if (yearText.size() == 2) {
    year += year < 50 ? 2000 : 1900;
  } else if (yearText.size() == 3) {
    year += 1900;
  } else if (yearText.size() != 4) {
    return std::nullopt;
  }
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d", year, month);
  return std::string(text);
}

}  // namespace tollbook::ledger
