#include "accounting/summary_common.h"

#include "base/errors.h"
#include "accounting/number_text.h"
#include "accounting/summary.h"

namespace tollbook {
namespace summary_detail {

std::int64_t RecordsToSummarise(const RunState& state) {
  if (state.RecordTablesOverflowed()) {
    throw Failure("the run merged " + std::to_string(state.RecordCount) +
                  " records, more than the " + std::to_string(state.Capacity()) +
                  " records a summary can hold; the summary was not written");
  }
  return state.RecordCount;
}

double RecordByteSize(const RunState& state, std::int64_t i) {
  const std::string& text = state.RecordBytes[static_cast<std::size_t>(i)];
  double value = 0;
  if (!ConvertByteSize(text, value)) {
    throw Failure("record " + std::to_string(i) + " (" + RecordOrigin(state, i) +
                  "): byte size \"" + text + "\" is not a number");
  }
  return value;
}

void ShowPosition(ProgressDisplay& progress, std::string& caption, std::int64_t i,
                  std::int64_t n) {
  caption.clear();
  AppendNumberText(caption, i);
  caption += " of ";
  AppendNumberText(caption, n);
  progress.SetCurrentCaption(caption);
}

}  // namespace summary_detail

void CheckByteSizes(const RunState& state) {
  const std::int64_t n = summary_detail::RecordsToSummarise(state);
  for (std::int64_t i = 1; i <= n; ++i) summary_detail::RecordByteSize(state, i);
}

}  // namespace tollbook
