#include <algorithm>
#include <cmath>
#include <string_view>

#include "accounting/number_text.h"
#include "accounting/summary.h"
#include "accounting/summary_common.h"
#include "accounting/user_groups.h"
#include "base/errors.h"
#include "base/text.h"

namespace tollbook {

using summary_detail::IsInbound;
using summary_detail::WriteLine;

namespace {

// sum + b, rounded to the nearest whole number with a half going to the even
// neighbour (the default rounding mode), as a 64-bit integer.
std::int64_t AddRounded(std::int64_t sum, double b, std::string_view user) {
  const double result = std::nearbyint(static_cast<double>(sum) + b);
  // 2^63 is exactly representable; every double below it fits.
  if (!(result >= -9223372036854775808.0 && result < 9223372036854775808.0)) {
    throw Failure("user " + std::string(user) + ": byte sum is beyond the 64-bit range");
  }
  return static_cast<std::int64_t>(result);
}

}  // namespace

void GroupUsers(RunState& state, ProgressDisplay& progress) {
  const std::int64_t n = summary_detail::RecordsToSummarise(state);
  std::string caption;

  // Grouping, in record order. The hashes of the keys are taken a few records
  // ahead, so that the table's slot and group are on their way from memory by
  // the time the record is added.
  progress.SetProgressCaption("Summerize by User");
  UserGroups groups(state.RecordUser, static_cast<std::size_t>(n));
  constexpr std::int64_t kAhead = 16;  // records between the hash and the lookup
  constexpr std::int64_t kHalfway = kAhead / 2;
  std::uint64_t hashes[kAhead];
  auto hashOf = [&](std::int64_t i) -> std::uint64_t& { return hashes[i % kAhead]; };
  auto stageHash = [&](std::int64_t i) {
    if (i > n) return;
    const std::string& key = state.RecordUser[static_cast<std::size_t>(i)];
    if (key.empty()) return;
    hashOf(i) = UserGroups::Hash(key);
    groups.PrefetchSlot(hashOf(i));
  };
  auto stageGroup = [&](std::int64_t i) {
    if (i <= n && !state.RecordUser[static_cast<std::size_t>(i)].empty()) {
      groups.PrefetchGroup(hashOf(i));
    }
  };
  for (std::int64_t i = 1; i <= std::min<std::int64_t>(n, kAhead); ++i) stageHash(i);
  for (std::int64_t i = 1; i <= std::min<std::int64_t>(n, kHalfway); ++i) stageGroup(i);
  for (std::int64_t i = 1; i <= n; ++i) {
    summary_detail::ShowPosition(progress, caption, i, n);
    const auto index = static_cast<std::size_t>(i);
    const bool hasKey = !state.RecordUser[index].empty();
    const std::uint64_t hash = hasKey ? hashOf(i) : 0;
    stageHash(i + kAhead);  // overwrites record i's hash, taken above
    stageGroup(i + kHalfway);
    if (!hasKey) continue;
    const std::size_t g = groups.Add(static_cast<std::uint32_t>(i), hash);
    UserGroups::Group& group = groups.At(g);
    const double b = summary_detail::RecordByteSize(state, i);
    auto& sum = IsInbound(state.RecordDirection[index]) ? group.bytesIn : group.bytesOut;
    sum = AddRounded(sum, b, groups.Name(g));
  }
  const std::int64_t g = static_cast<std::int64_t>(groups.Count());
  for (std::int64_t u = 1; u <= g; ++u) {
    const auto index = static_cast<std::size_t>(u);
    const UserGroups::Group& group = groups.At(index);
    state.UserNames[index].assign(groups.Name(index));
    state.UserBytesIn[index] = group.bytesIn;
    state.UserBytesOut[index] = group.bytesOut;
  }
  state.UserCount = g;

  // The keys are consumed.
  for (std::int64_t i = 1; i <= n; ++i) state.RecordUser[static_cast<std::size_t>(i)].clear();
}

std::int64_t UserTotalBytes(const RunState& state, std::int64_t u) {
  const auto index = static_cast<std::size_t>(u);
  std::int64_t total = 0;
  if (__builtin_add_overflow(state.UserBytesIn[index], state.UserBytesOut[index], &total)) {
    throw Failure("user " + state.UserNames[index] + ": total bytes are beyond the 64-bit range");
  }
  return total;
}

void WriteUserSummary(RunState& state, std::ostream& summaryOutput, ProgressDisplay& progress) {
  GroupUsers(state, progress);
  WriteLine(summaryOutput, "");
  WriteLine(summaryOutput, "Summary Report by User");
  WriteLine(summaryOutput, "User,Bytes In,Bytes Out,Total Bytes");
  std::string line;
  for (std::int64_t u = 1; u <= state.UserCount; ++u) {
    const auto index = static_cast<std::size_t>(u);
    const std::int64_t total = UserTotalBytes(state, u);
    line.assign(state.UserNames[index]);
    line += ',';
    AppendNumberText(line, state.UserBytesIn[index]);
    line += ',';
    AppendNumberText(line, state.UserBytesOut[index]);
    line += ',';
    AppendNumberText(line, total);
    WriteLine(summaryOutput, line);
  }
}

}  // namespace tollbook
