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

void WriteDaySummary(const RunState& state, std::ostream& summaryOutput,
                     ProgressDisplay& progress) {
  const std::int64_t n = summary_detail::RecordsToSummarise(state);
  std::string line;
  std::string caption;
  std::string_view current_date = n >= 1 ? std::string_view(state.RecordDate[1]) : std::string_view();
  double day_in = 0, day_out = 0, total_in = 0, total_out = 0;

  WriteLine(summaryOutput, "Summary Report by Day");
  WriteLine(summaryOutput, "Date,Bytes In,Bytes Out,Total Bytes");
  progress.SetProgressCaption("Summerize by Day");
  for (std::int64_t i = 1; i <= n; ++i) {
    summary_detail::ShowPosition(progress, caption, i, n);
    const auto index = static_cast<std::size_t>(i);
    const double b = summary_detail::RecordByteSize(state, i);
    const bool inbound = IsInbound(state.RecordDirection[index]);
    (inbound ? total_in : total_out) += b;
    if (!EqualsIgnoreCase(state.RecordDate[index], current_date)) {
      WriteDayLine(summaryOutput, line, current_date, day_in, day_out);
      day_in = day_out = 0;
      current_date = state.RecordDate[index];
    }
    (inbound ? day_in : day_out) += b;
  }
  if (n >= 1) WriteDayLine(summaryOutput, line, current_date, day_in, day_out);
  WriteDayLine(summaryOutput, line, "Totals", total_in, total_out);
}

}  // namespace tollbook
