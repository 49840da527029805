// Reads the figures back out of a report page and a summary file, so that a
// test can hold the one against the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tollbook::testing {

// A name and its three figures, each as written without the sign's blank.
struct FigureLine {
  std::string name;
  std::string in, out, total;
  bool operator==(const FigureLine&) const = default;
};

struct ReportReading {
  FigureLine totals;                    // name "Totals"
  std::vector<FigureLine> users;        // the table's rows; names as the page has them (escaped)
  std::int64_t moreUsers = 0;           // the count of the line below the table
  bool chronological = false;           // the page says its dates are in chronological order
  std::vector<std::string> chartDates;  // the date chart's rows, escaped
  std::vector<std::string> chartUsers;  // the user chart's rows, escaped
};

// Reads the page; a missing piece fails the current test.
ReportReading ReadReport(const std::string& html);

// Expects the page's totals to be the summary's Totals line, and its table to
// hold the summary's user lines (names escaped), the largest total first and
// ties in the summary's order, at most 1,000 of them with the rest counted,
// and the user chart to start the table's order.
void ExpectReportAgreesWithSummary(const std::string& html, const std::string& summaryCsv);

}  // namespace tollbook::testing
