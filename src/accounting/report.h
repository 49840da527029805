// The run's report: one self-contained HTML page (inline CSS and SVG, no
// script, nothing fetched) with the summary's figures as charts and a table.
// Its figures come from the same walks as summary.csv: the date blocks of the
// day section and the user groups of the user section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "accounting/progress.h"
#include "accounting/run_state.h"
#include "accounting/summary.h"
#include "base/text.h"

namespace tollbook {

// Rows of the user table; the rest are counted in a line below it.
inline constexpr std::size_t kReportUserRows = 1000;
// Users in the bar chart of the largest.
inline constexpr std::size_t kReportChartUsers = 20;
// Dates in the bar chart of bytes per date; the rest are counted below it.
inline constexpr std::size_t kReportChartDates = 400;

// What the page says about the run besides the records' figures.
struct ReportRun {
  std::string mailbox;  // the mailbox location, never with a password
  std::string folder;   // the folder walked
  std::string ended;    // when the run ended, as the page shows it
  std::int64_t accountingFiles = 0;
  std::string summaryPath;  // the summary file the run wrote; empty: none
};

// The bytes of one date: the date blocks whose dates are equal ignoring case,
// named by the first one's text.
struct ReportDate {
  std::string_view date;  // points into the run state's RecordDate
  double bytesIn = 0;
  double bytesOut = 0;
};

struct ReportUser {
  std::int64_t group = 0;  // index into the run state's user tables
  std::int64_t total = 0;  // bytes in + bytes out
};

struct ReportFigures {
  std::int64_t records = 0;
  DayTotals totals;               // the day section's totals line
  std::vector<ReportDate> dates;  // one per date, in the chart's order
  bool chronological = false;     // every date parsed; dates are sorted by day
  std::string_view firstDate;     // the earliest date, or the first record's
  std::string_view lastDate;      // the latest date, or the last record's
  std::int64_t userCount = 0;     // user groups of the run
  std::vector<ReportUser> users;  // the largest totals first (ties in order of
                                  // first appearance), at most kReportUserRows
};

// Gathers the figures of the page from the date blocks of the day walk (the
// one that writes the day section, or SumDateBlocks) and the user tables.
class ReportBuilder {
 public:
  // Adds a date block's bytes to its date (dates equal ignoring case).
  void AddDateBlock(const DateBlock& block);
  // The figures, from the blocks added, the walk's totals and the user
  // tables, which GroupUsers (or WriteUserSummary) must have filled. Throws
  // Failure when a user's total is beyond the 64-bit range. The figures point
  // into state, which must not change until the page is written.
  ReportFigures Finish(const RunState& state, const DayTotals& totals);

 private:
  ReportFigures figures_;
  std::unordered_map<std::string_view, std::size_t, CaseInsensitiveHash, CaseInsensitiveEqual>
      positions_;
};

// The figures of a run that writes no summary: walks records 1 to
// state.RecordCount with SumDateBlocks, then as ReportBuilder::Finish. Throws
// Failure as the summary sections do (a byte size that is not a number, a
// user total beyond the 64-bit range), so that a run refuses the report
// before it opens its file.
ReportFigures BuildReportFigures(const RunState& state, ProgressDisplay& progress);

// Writes the page. Every text that comes from the records or the run is
// escaped. A failed write marks the stream bad; nothing is thrown.
void WriteReport(const RunState& state, const ReportFigures& figures, const ReportRun& run,
                 std::ostream& out);

}  // namespace tollbook
