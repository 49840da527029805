// The record parser and the two summary sections. Every line of the input is
// parsed into small tables (so that the capacity limit is reached), each
// filed value is compared with a plain reference cut of the line, and the
// summaries must either be written whole or fail with a message that names
// the record.
//
// Input: the lines of one accounting file (flavour from its first line).
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

#include "base/errors.h"
#include "accounting/merge.h"
#include "accounting/number_text.h"
#include "accounting/record_parser.h"
#include "accounting/run_state.h"
#include "accounting/summary.h"
#include "fuzz_support.h"

using namespace tollbook;
using tollbook::fuzz::ReferenceColumn;
using tollbook::fuzz::Require;

namespace {

constexpr std::size_t kCapacity = 64;

void CheckFiled(const RunState& state, std::string_view line, std::size_t i) {
  const auto col = [&](std::size_t c) { return ReferenceColumn(line, c); };
  if (state.CurrentFlavour == Flavour::Smtp) {
    Require(state.RecordDirection[i] == line.substr(0, 1), "smtp direction");
    Require(state.RecordUser[i] == std::string(col(8)) + "." + std::string(col(9)), "smtp user");
    Require(state.RecordBytes[i] == col(19), "smtp bytes");
    Require(state.RecordDate[i] == col(2), "smtp date");
  } else {
    const auto first = line.find(',');
    const auto second = first == std::string_view::npos ? first : line.find(',', first + 1);
    Require(state.RecordUser[i] == line.substr(0, second), "other user");
    Require(state.RecordBytes[i] == col(11), "other bytes");
    Require(state.RecordDirection[i] == (line.empty() ? line : line.substr(line.size() - 1)),
            "other direction");
    Require(state.RecordDate[i] == col(6), "other date");
  }
}

// Plain decimal digits (up to 15 of them) must convert exactly.
void CheckConversion(std::string_view text) {
  double value = -1;
  const bool ok = ConvertByteSize(text, value);
  if (text.empty() || text.size() > 15) return;
  for (char c : text) {
    if (c < '0' || c > '9') return;
  }
  Require(ok, "plain digits refused");
  Require(value == static_cast<double>(std::stoull(std::string(text))), "digits inexact");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static RunState state(kCapacity);
  ResetRunState(state);
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto lines = fuzz::ReferenceLines(text);
  if (lines.empty()) return 0;
  state.CurrentFlavour = FlavourOfFirstLine(lines[0]);
  state.FileFirstRecord.push_back(0);
  for (auto line : lines) {
    state.CurrentLine.assign(line);
    ++state.RecordCount;
    ParseAccountingRecord(state);
    const auto i = static_cast<std::size_t>(state.RecordCount);
    if (i <= kCapacity) {
      CheckFiled(state, line, i);
      CheckConversion(state.RecordBytes[i]);
    }
  }

  bool sizes_ok = true;
  try {
    CheckByteSizes(state);
  } catch (const Failure& e) {
    sizes_ok = false;
    const std::string what = e.what();
    Require(what.rfind("record ", 0) == 0 || what.find("records a summary can hold") != what.npos,
            "byte size failure does not name the record");
  }
  std::ostringstream out;
  NoProgress progress;
  try {
    WriteDaySummary(state, out, progress);
    Require(sizes_ok, "day summary accepted what the check refused");
    const std::string day = out.str();
    Require(day.rfind("Summary Report by Day\r\nDate,Bytes In,Bytes Out,Total Bytes\r\n", 0) == 0,
            "day section head");
    Require(day.find("\r\nTotals,") != std::string::npos, "day totals line");
    WriteUserSummary(state, out, progress);
    Require(out.str().find("\r\n\r\nSummary Report by User\r\nUser,Bytes In,Bytes Out,Total Bytes\r\n") ==
                day.size() - 2,
            "user section head");
    for (std::size_t i = 1; i <= static_cast<std::size_t>(state.RecordCount); ++i) {
      Require(state.RecordUser[i].empty(), "user keys not consumed");
    }
  } catch (const Failure& e) {
    const std::string what = e.what();
    Require(!what.empty(), "empty failure message");
    if (sizes_ok) {
      Require(what.find("range") != what.npos, "unexpected summary failure");
    }
  }
  return 0;
}
