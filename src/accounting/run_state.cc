#include "accounting/run_state.h"

#include <algorithm>

namespace tollbook {

std::string_view FlavourName(Flavour flavour) {
  switch (flavour) {
    case Flavour::Smtp:
      return "smtp";
    case Flavour::Other:
      return "other";
    case Flavour::None:
      break;
  }
  return "";
}

RunState::RunState(std::size_t capacity)
    : RecordUser(capacity + 1),
      RecordDirection(capacity + 1),
      RecordBytes(capacity + 1),
      RecordDate(capacity + 1),
      UserNames(capacity + 1),
      UserBytesIn(capacity + 1),
      UserBytesOut(capacity + 1) {}

void ResetRunState(RunState& state) {
  state.AccountingFilePath.clear();
  state.CurrentLine.clear();
  state.CommaPositions.fill(0);
  for (auto* table : {&state.RecordUser, &state.RecordDirection, &state.RecordBytes,
                      &state.RecordDate, &state.UserNames}) {
    for (std::string& entry : *table) entry.clear();
  }
  std::fill(state.UserBytesIn.begin(), state.UserBytesIn.end(), 0);
  std::fill(state.UserBytesOut.begin(), state.UserBytesOut.end(), 0);
  state.UserCount = 0;
  state.SummaryPath.clear();
  state.PreviousFlavour = Flavour::None;
  state.CurrentFlavour = Flavour::None;
  state.RecordCount = 0;
  state.FileFirstRecord.clear();
}

std::string RecordOrigin(const RunState& state, std::int64_t record) {
  const auto& starts = state.FileFirstRecord;
  // The last file whose first record number is below `record`.
  auto it = std::lower_bound(starts.begin(), starts.end(), record);
  if (it == starts.begin()) return "an unknown accounting file";
  --it;
  const auto file = (it - starts.begin()) + 1;
  return "accounting file " + std::to_string(file) + ", line " + std::to_string(record - *it);
}

}  // namespace tollbook
