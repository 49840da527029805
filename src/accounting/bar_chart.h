// A horizontal bar chart as inline SVG, for the report page: one row per
// label, bytes in and bytes out either side by side or stacked in one bar,
// an axis with byte units, and text alternatives for each bar and the whole.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tollbook {

struct BarChartRow {
  std::string_view label;  // raw text from the records; escaped when written
  double bytesIn = 0;
  double bytesOut = 0;
};

struct BarChart {
  std::string id;           // prefix of the chart's element ids, unique in the page
  std::string titleHtml;    // the chart's title, already escaped
  std::string summaryHtml;  // what the chart shows, in words, already escaped
  bool stacked = false;     // one bar of in then out per row (else two bars)
  std::vector<BarChartRow> rows;
};

// Appends the chart's <svg> element to out. Negative figures draw no bar;
// their labels still give them.
void AppendBarChart(std::string& out, const BarChart& chart);

}  // namespace tollbook
