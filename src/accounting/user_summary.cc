#include <cmath>
#include <string_view>
#include <unordered_map>

#include "accounting/errors.h"
#include "accounting/number_text.h"
#include "accounting/summary.h"
#include "accounting/summary_common.h"
#include "accounting/text.h"

namespace tollbook {

using summary_detail::IsInbound;
using summary_detail::WriteLine;

namespace {

// sum + b, rounded to the nearest whole number with a half going to the even
// neighbour (the default rounding mode), as a 64-bit integer.
std::int64_t AddRounded(std::int64_t sum, double b, const RunState& state, std::int64_t g) {
  const double result = std::nearbyint(static_cast<double>(sum) + b);
  // 2^63 is exactly representable; every double below it fits.
  if (!(result >= -9223372036854775808.0 && result < 9223372036854775808.0)) {
    throw Failure("user " + state.UserNames[static_cast<std::size_t>(g)] +
                  ": byte sum is beyond the 64-bit range");
  }
  return static_cast<std::int64_t>(result);
}

}  // namespace

void WriteUserSummary(RunState& state, std::ostream& summaryOutput, ProgressDisplay& progress) {
  const std::int64_t n = summary_detail::RecordsToSummarise(state);
  std::string caption;

  // Grouping. The index maps each key (ignoring case) to its group; the views
  // point into RecordUser, which is not changed until the section is written.
  progress.SetProgressCaption("Summerize by User");
  std::unordered_map<std::string_view, std::int64_t, CaseInsensitiveHash, CaseInsensitiveEqual>
      groups;
  std::int64_t g = 0;
  for (std::int64_t i = 1; i <= n; ++i) {
    summary_detail::ShowPosition(progress, caption, i, n);
    const auto index = static_cast<std::size_t>(i);
    const std::string& key = state.RecordUser[index];
    if (key.empty()) continue;
    auto [it, inserted] = groups.try_emplace(key, g + 1);
    if (inserted) ++g;
    const auto group = static_cast<std::size_t>(it->second);
    state.UserNames[group] = key;
    const double b = summary_detail::RecordByteSize(state, i);
    auto& sum = IsInbound(state.RecordDirection[index]) ? state.UserBytesIn[group]
                                                        : state.UserBytesOut[group];
    sum = AddRounded(sum, b, state, it->second);
  }
  state.UserCount = g;

  WriteLine(summaryOutput, "");
  WriteLine(summaryOutput, "Summary Report by User");
  WriteLine(summaryOutput, "User,Bytes In,Bytes Out,Total Bytes");
  std::string line;
  for (std::int64_t u = 1; u <= g; ++u) {
    const auto index = static_cast<std::size_t>(u);
    std::int64_t total = 0;
    if (__builtin_add_overflow(state.UserBytesIn[index], state.UserBytesOut[index], &total)) {
      throw Failure("user " + state.UserNames[index] + ": total bytes are beyond the 64-bit range");
    }
    line.assign(state.UserNames[index]);
    line += ',';
    AppendNumberText(line, state.UserBytesIn[index]);
    line += ',';
    AppendNumberText(line, state.UserBytesOut[index]);
    line += ',';
    AppendNumberText(line, total);
    WriteLine(summaryOutput, line);
  }

  // The keys are consumed.
  groups.clear();
  for (std::int64_t i = 1; i <= n; ++i) state.RecordUser[static_cast<std::size_t>(i)].clear();
}

}  // namespace tollbook
