// The run state: everything a processing run keeps between the calls of its
// procedures. One value, owned by the front end's main object (the window, the
// command line's run), passed by reference to the procedures that use it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tollbook {

#ifndef TOLLBOOK_RECORD_CAPACITY
#define TOLLBOOK_RECORD_CAPACITY 200000
#endif

// Number of records the tables hold, fixed at build time.
inline constexpr std::size_t kRecordCapacity = TOLLBOOK_RECORD_CAPACITY;

// Number of comma positions kept per parsed line.
inline constexpr std::size_t kCommaPositionCount = 21;

// The flavour of an accounting file, decided from its first line.
enum class Flavour { None, Smtp, Other };

// "smtp", "other", or the empty text for Flavour::None.
std::string_view FlavourName(Flavour flavour);

struct RunState {
  // Allocates every table once, with room for `capacity` records at indexes
  // 1 to capacity (index 0 is never used).
  explicit RunState(std::size_t capacity = kRecordCapacity);

  // The number of records the tables hold.
  std::size_t Capacity() const { return RecordUser.size() - 1; }

  // True when the run has counted more lines than the tables can hold.
  bool RecordTablesOverflowed() const {
    return RecordCount > static_cast<std::int64_t>(Capacity());
  }

  std::string AccountingFilePath;  // the scratch file now being merged
  std::string CurrentLine;         // the line ParseAccountingRecord parses (the merge
                                   // parses its lines in place and leaves it alone)
  std::string SummaryPath;         // the summary file of this run

  // The record tables, parallel: index i describes the i-th line merged in
  // the run, counted from 1 over all accounting files.
  std::vector<std::string> RecordUser;
  std::vector<std::string> RecordDirection;
  std::vector<std::string> RecordBytes;
  std::vector<std::string> RecordDate;

  // The user groups of the user summary, indexes 1 to UserCount.
  std::vector<std::string> UserNames;
  std::vector<std::int64_t> UserBytesIn;
  std::vector<std::int64_t> UserBytesOut;
  std::int64_t UserCount = 0;

  // 1-based positions of the commas of the line parsed last (0 is unset).
  std::array<std::int64_t, kCommaPositionCount> CommaPositions{};

  Flavour PreviousFlavour = Flavour::None;
  Flavour CurrentFlavour = Flavour::None;

  // Lines copied into the full accounting file so far; also the number of the
  // latest record.
  std::int64_t RecordCount = 0;

  // Where each merged accounting file's records start: entry n-1 holds the
  // RecordCount before the n-th file was merged. Lets an error name the file
  // and line a record came from.
  std::vector<std::int64_t> FileFirstRecord;
};

// Empties every field of the run (the tables in place, keeping their
// capacity) and sets RecordCount to 0. Cannot fail.
void ResetRunState(RunState& state);

// Describes where record `record` came from, e.g. "accounting file 3, line 17",
// from state.FileFirstRecord.
std::string RecordOrigin(const RunState& state, std::int64_t record);

}  // namespace tollbook
