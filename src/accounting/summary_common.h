// Pieces shared by the two summary sections.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "accounting/progress.h"
#include "accounting/run_state.h"

namespace tollbook::summary_detail {

// The number of records to summarise, state.RecordCount; throws Failure when
// the run counted more records than the tables hold.
std::int64_t RecordsToSummarise(const RunState& state);

// The byte size of record i as a number; throws Failure naming the record.
double RecordByteSize(const RunState& state, std::int64_t i);

// True when the direction text means bytes in ("I" or "i").
inline bool IsInbound(std::string_view direction) {
  return direction.size() == 1 && (direction[0] == 'i' || direction[0] == 'I');
}

// Writes line and CR LF straight to the stream's buffer (a user section has a
// line per user); a short write marks the stream bad.
inline void WriteLine(std::ostream& out, const std::string& line) {
  std::streambuf& buffer = *out.rdbuf();
  const auto size = static_cast<std::streamsize>(line.size());
  if (buffer.sputn(line.data(), size) != size || buffer.sputn("\r\n", 2) != 2) {
    out.setstate(std::ios::badbit);
  }
}

// Shows "i of N" in the current caption, reusing `caption`'s storage.
void ShowPosition(ProgressDisplay& progress, std::string& caption, std::int64_t i, std::int64_t n);

}  // namespace tollbook::summary_detail
