#include <algorithm>

#include "accounting/report.h"
#include "accounting/report_text.h"
#include "base/text.h"

namespace tollbook {
namespace {

// Sorts the dates by day when every one is a gateway date, and names the
// first and last.
void OrderDates(const RunState& state, ReportFigures& figures) {
  if (figures.records == 0) return;
  std::vector<std::pair<std::int32_t, std::size_t>> days;  // day, position
  days.reserve(figures.dates.size());
  for (std::size_t i = 0; i < figures.dates.size(); ++i) {
    const std::int32_t day = report_text::ParseGatewayDate(figures.dates[i].date);
    if (day < 0) break;
    days.emplace_back(day, i);
  }
  figures.chronological = days.size() == figures.dates.size();
  if (figures.chronological) {
    std::stable_sort(days.begin(), days.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<ReportDate> sorted;
    sorted.reserve(days.size());
    for (const auto& day : days) sorted.push_back(figures.dates[day.second]);
    figures.dates = std::move(sorted);
    figures.firstDate = figures.dates.front().date;
    figures.lastDate = figures.dates.back().date;
  } else {
    figures.firstDate = state.RecordDate[1];
    figures.lastDate = state.RecordDate[static_cast<std::size_t>(figures.records)];
  }
}

// The largest users, ties in order of first appearance.
void RankUsers(const RunState& state, ReportFigures& figures) {
  figures.userCount = state.UserCount;
  std::vector<ReportUser> users;
  users.reserve(static_cast<std::size_t>(state.UserCount));
  for (std::int64_t u = 1; u <= state.UserCount; ++u)
    users.push_back({u, UserTotalBytes(state, u)});
  const auto shown = std::min(users.size(), kReportUserRows);
  std::partial_sort(users.begin(), users.begin() + static_cast<std::ptrdiff_t>(shown), users.end(),
                    [](const ReportUser& a, const ReportUser& b) {
                      return a.total != b.total ? a.total > b.total : a.group < b.group;
                    });
  users.resize(shown);
  figures.users = std::move(users);
}

}  // namespace

void ReportBuilder::AddDateBlock(const DateBlock& block) {
  const auto [it, added] = positions_.try_emplace(block.date, figures_.dates.size());
  if (added) figures_.dates.push_back({block.date, 0, 0});
  ReportDate& date = figures_.dates[it->second];
  date.bytesIn += block.bytesIn;
  date.bytesOut += block.bytesOut;
}

ReportFigures ReportBuilder::Finish(const RunState& state, const DayTotals& totals) {
  ReportFigures figures = std::move(figures_);
  positions_.clear();
  figures.records = state.RecordCount;
  figures.totals = totals;
  OrderDates(state, figures);
  RankUsers(state, figures);
  return figures;
}

ReportFigures BuildReportFigures(const RunState& state, ProgressDisplay& progress) {
  ReportBuilder builder;
  const DayTotals totals =
      SumDateBlocks(state, progress, [&](const DateBlock& block) { builder.AddDateBlock(block); });
  return builder.Finish(state, totals);
}

}  // namespace tollbook
