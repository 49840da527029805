// The two sections of the summary file: the day section first, then the user
// section, written to the same stream.
#pragma once

#include <functional>
#include <ostream>
#include <string_view>

#include "accounting/progress.h"
#include "accounting/run_state.h"

namespace tollbook {

// One stretch of consecutive records with equal dates (ignoring case): the
// date of its first record and the bytes its records carried in and out.
struct DateBlock {
  std::string_view date;  // points into state.RecordDate
  double bytesIn = 0;
  double bytesOut = 0;
};

// The sums over every record: the figures of the day section's totals line.
struct DayTotals {
  double bytesIn = 0;
  double bytesOut = 0;
};

// Walks records 1 to state.RecordCount in order and hands each date block to
// onBlock as it closes (the last one after the walk); returns the totals.
// Shows "Summerize by Day" and "i of N" while it works. Throws Failure as
// WriteDaySummary does, before the block of the bad record is handed on.
DayTotals SumDateBlocks(const RunState& state, ProgressDisplay& progress,
                        const std::function<void(const DateBlock&)>& onBlock);

// Writes the day section for records 1 to state.RecordCount: one line per
// stretch of consecutive records with equal dates (ignoring case), then the
// totals line. Shows "Summerize by Day" and "i of N" while it works.
// Throws Failure naming the record, its file and line and the text when a byte
// size is not a number; the lines before that record are then in the stream.
// Hands each date block also to alsoOnBlock, when given, and returns the
// totals, so that the report takes its figures from the same walk.
DayTotals WriteDaySummary(const RunState& state, std::ostream& summaryOutput,
                          ProgressDisplay& progress,
                          const std::function<void(const DateBlock&)>& alsoOnBlock = nullptr);

// Writes the user section: one line per distinct user key (ignoring case), in
// order of first appearance, named by the key of the group's last record, with
// bytes in and out summed in record order, each addition rounded to the nearest
// whole number (a half to the even one). Fills the user tables and empties the
// RecordUser entries it consumed. Shows "Summerize by User" and "i of N".
// Throws Failure on a byte size that is not a number (nothing of the section
// written) and on a sum beyond the 64-bit range.
void WriteUserSummary(RunState& state, std::ostream& summaryOutput, ProgressDisplay& progress);

// The grouping of WriteUserSummary alone: fills state.UserNames,
// state.UserBytesIn, state.UserBytesOut (indexes 1 to state.UserCount) and
// empties the RecordUser entries it consumed. Throws as WriteUserSummary does.
void GroupUsers(RunState& state, ProgressDisplay& progress);

// The total bytes of user u (1 to state.UserCount), as the user section
// writes it; throws Failure naming the user when the sum is beyond the
// 64-bit range.
std::int64_t UserTotalBytes(const RunState& state, std::int64_t u);

// Checks that every record's byte size converts; throws the same Failure that
// the summaries would. Lets a run refuse before it empties the summary file.
void CheckByteSizes(const RunState& state);

}  // namespace tollbook
