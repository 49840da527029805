#include "accounting/number_text.h"
#include "accounting/summary.h"
#include "accounting/summary_common.h"
#include "base/text.h"

namespace tollbook {

using summary_detail::IsInbound;
using summary_detail::WriteLine;

namespace {

void WriteDayLine(std::ostream& out, std::string& line, std::string_view date, double in,
                  double out_bytes) {
  line.assign(date);
  line += ',';
  AppendNumberText(line, in);
  line += ',';
  AppendNumberText(line, out_bytes);
  line += ',';
  AppendNumberText(line, in + out_bytes);
  WriteLine(out, line);
}

}  // namespace

DayTotals SumDateBlocks(const RunState& state, ProgressDisplay& progress,
                        const std::function<void(const DateBlock&)>& onBlock) {
  const std::int64_t n = summary_detail::RecordsToSummarise(state);
  std::string caption;
  DateBlock block;
  block.date = n >= 1 ? std::string_view(state.RecordDate[1]) : std::string_view();
  DayTotals totals;
  progress.SetProgressCaption("Summerize by Day");
  for (std::int64_t i = 1; i <= n; ++i) {
    summary_detail::ShowPosition(progress, caption, i, n);
    const auto index = static_cast<std::size_t>(i);
    const double b = summary_detail::RecordByteSize(state, i);
    const bool inbound = IsInbound(state.RecordDirection[index]);
    (inbound ? totals.bytesIn : totals.bytesOut) += b;
    if (!EqualsIgnoreCase(state.RecordDate[index], block.date)) {
      onBlock(block);
      block.bytesIn = block.bytesOut = 0;
      block.date = state.RecordDate[index];
    }
    (inbound ? block.bytesIn : block.bytesOut) += b;
  }
  if (n >= 1) onBlock(block);
  return totals;
}

DayTotals WriteDaySummary(const RunState& state, std::ostream& summaryOutput,
                          ProgressDisplay& progress,
                          const std::function<void(const DateBlock&)>& alsoOnBlock) {
  summary_detail::RecordsToSummarise(state);  // refuses before the title is written
  std::string line;
  WriteLine(summaryOutput, "Summary Report by Day");
  WriteLine(summaryOutput, "Date,Bytes In,Bytes Out,Total Bytes");
  const DayTotals totals = SumDateBlocks(state, progress, [&](const DateBlock& block) {
    WriteDayLine(summaryOutput, line, block.date, block.bytesIn, block.bytesOut);
    if (alsoOnBlock) alsoOnBlock(block);
  });
  WriteDayLine(summaryOutput, line, "Totals", totals.bytesIn, totals.bytesOut);
  return totals;
}

}  // namespace tollbook
