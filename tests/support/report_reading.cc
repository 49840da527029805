#include "support/report_reading.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string_view>

#include "accounting/report_text.h"

namespace tollbook::testing {
namespace {

// The text between from and to after position at; advances at past it.
std::string Between(const std::string& text, std::size_t& at, std::string_view from,
                    std::string_view to) {
  const std::size_t start = text.find(from, at);
  if (start == std::string::npos) return {};
  const std::size_t end = text.find(to, start + from.size());
  if (end == std::string::npos) return {};
  at = end + to.size();
  return text.substr(start + from.size(), end - start - from.size());
}

// The row labels of one chart: the titles of its bytes-in bars.
std::vector<std::string> ChartRows(const std::string& html, std::string_view id) {
  std::vector<std::string> rows;
  std::size_t at = html.find("<g id=\"" + std::string(id) + "\">");
  const std::size_t end = html.find("</svg>", at);
  if (at == std::string::npos || end == std::string::npos) {
    ADD_FAILURE() << "no chart " << id;
    return rows;
  }
  for (;;) {
    const std::size_t bar = html.find("<rect class=\"bar in\"", at);
    if (bar == std::string::npos || bar > end) break;
    at = bar;
    rows.push_back(Between(html, at, "<title>", ": bytes in "));
  }
  return rows;
}

std::string Trim(std::string text) {
  if (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

}  // namespace

ReportReading ReadReport(const std::string& html) {
  ReportReading page;
  std::size_t at = 0;
  page.totals.name = "Totals";
  page.totals.in = Between(html, at, "id=\"total-in\">", " bytes<");
  page.totals.out = Between(html, at, "id=\"total-out\">", " bytes<");
  page.totals.total = Between(html, at, "id=\"total-all\">", " bytes<");
  EXPECT_NE(page.totals.total, "") << "no totals";
  page.chronological = html.find("Dates in chronological order.") != std::string::npos;
  page.chartDates = ChartRows(html, "dates-chart");
  page.chartUsers = ChartRows(html, "users-chart");

  at = html.find("<tbody id=\"user-rows\">");
  const std::size_t end = html.find("</tbody>", at);
  EXPECT_NE(at, std::string::npos) << "no user table";
  while (at != std::string::npos) {
    const std::size_t row = html.find("<tr>", at);
    if (row == std::string::npos || row > end) break;
    at = row;
    FigureLine line;
    Between(html, at, "<td class=\"rank\">", "</td>");
    line.name = Between(html, at, "<td class=\"user\">", "</td>");
    line.in = Between(html, at, "<td>", "</td>");
    line.out = Between(html, at, "<td>", "</td>");
    line.total = Between(html, at, "<td>", "</td>");
    page.users.push_back(line);
  }
  std::size_t more = html.find("<p class=\"note\" id=\"more-users\">");
  if (more != std::string::npos) {
    page.moreUsers = std::atoll(Between(html, more, "id=\"more-users\">", " ").c_str());
  }
  return page;
}

void ExpectReportAgreesWithSummary(const std::string& html, const std::string& summaryCsv) {
  FigureLine totals;
  std::vector<FigureLine> users;
  std::istringstream lines(summaryCsv);
  bool inUsers = false;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "User,Bytes In,Bytes Out,Total Bytes") {
      inUsers = true;
      continue;
    }
    // The name may hold commas: the figures are the last three fields.
    const std::size_t c3 = line.rfind(',');
    const std::size_t c2 = c3 == std::string::npos ? c3 : line.rfind(',', c3 - 1);
    const std::size_t c1 =
        c2 == std::string::npos || c2 == 0 ? std::string::npos : line.rfind(',', c2 - 1);
    if (c1 == std::string::npos) continue;
    FigureLine figures{line.substr(0, c1), Trim(line.substr(c1 + 1, c2 - c1 - 1)),
                       Trim(line.substr(c2 + 1, c3 - c2 - 1)), Trim(line.substr(c3 + 1))};
    if (inUsers) {
      std::string escaped;
      report_text::AppendHtml(escaped, figures.name);
      figures.name = escaped;
      users.push_back(figures);
    } else if (figures.name == "Totals") {
      totals = figures;
    }
  }
  const ReportReading page = ReadReport(html);
  EXPECT_EQ(page.totals, totals);

  std::stable_sort(users.begin(), users.end(), [](const FigureLine& a, const FigureLine& b) {
    return std::atoll(a.total.c_str()) > std::atoll(b.total.c_str());
  });
  const std::size_t shown = std::min<std::size_t>(users.size(), 1000);
  EXPECT_EQ(page.moreUsers, static_cast<std::int64_t>(users.size() - shown));
  users.resize(shown);
  ASSERT_EQ(page.users.size(), users.size());
  for (std::size_t i = 0; i < shown; ++i) ASSERT_EQ(page.users[i], users[i]) << "row " << i + 1;
  ASSERT_EQ(page.chartUsers.size(), std::min<std::size_t>(shown, 20));
  for (std::size_t i = 0; i < page.chartUsers.size(); ++i) {
    EXPECT_EQ(page.chartUsers[i], users[i].name) << "chart row " << i + 1;
  }
}

}  // namespace tollbook::testing
