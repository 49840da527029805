#include <cstdio>
#include <string>

#include "accounting/bar_chart.h"
#include "accounting/number_text.h"
#include "accounting/report.h"
#include "accounting/report_text.h"

namespace tollbook {
namespace {

using report_text::AppendHtml;
using report_text::HumanBytes;

constexpr std::size_t kFlushAt = 1 << 16;

constexpr const char* kStyle = R"(<style>
:root{color-scheme:light;--ink:#1b1f24;--muted:#5a6270;--rule:#d5d9e0;--in:#1f4e8c}
*{box-sizing:border-box}
body{margin:0;font:16px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Noto Sans",sans-serif;color:var(--ink);background:#fff}
main{max-width:60rem;margin:0 auto;padding:1.5rem 1.25rem 3rem}
h1{font-size:1.6rem;margin:0 0 .75rem}
h2{font-size:1.2rem;margin:2rem 0 .5rem;border-bottom:1px solid var(--rule);padding-bottom:.25rem}
p.note{color:var(--muted);margin:.25rem 0 .75rem}
dl.facts{display:grid;grid-template-columns:max-content 1fr;gap:.2rem 1rem;margin:0}
dl.facts dt{color:var(--muted)}
dl.facts dd{margin:0;overflow-wrap:anywhere}
.totals{display:grid;grid-template-columns:repeat(3,1fr);gap:.75rem}
.total{border:1px solid var(--rule);border-radius:.4rem;padding:.6rem .8rem}
.total .name{color:var(--muted);font-size:.9rem}
.total .human{font-size:1.5rem;font-weight:600}
.total .exact{font-variant-numeric:tabular-nums;font-size:.9rem}
figure{margin:0}
svg.chart{display:block;width:100%;max-width:52rem;font-family:inherit;overflow:visible}
svg.chart text{fill:var(--ink)}
svg.chart .label{font-size:12px;text-anchor:end}
svg.chart .value,svg.chart .tick{font-size:11px;fill:var(--muted)}
svg.chart .tick,svg.chart .axis{text-anchor:middle}
svg.chart .axis{font-size:12px}
svg.chart .legend{font-size:12px}
svg.chart .in{fill:var(--in)}
svg.chart .grid line{stroke:var(--rule);stroke-width:1}
.scroll{overflow-x:auto}
table.users{border-collapse:collapse;width:100%;font-variant-numeric:tabular-nums}
table.users th,table.users td{padding:.3rem .5rem;border-bottom:1px solid var(--rule);text-align:right;white-space:nowrap}
table.users th{background:#f1f3f6;position:sticky;top:0}
table.users .user{text-align:left;white-space:normal;overflow-wrap:anywhere;min-width:8rem}
table.users tbody tr:nth-child(even){background:#f8f9fb}
footer{margin-top:2rem;color:var(--muted);font-size:.85rem}
@media (max-width:40rem){
main{padding:1rem .75rem 2rem}
h1{font-size:1.3rem}
body{font-size:15px}
.totals{grid-template-columns:1fr;gap:.4rem}
.total{display:flex;flex-wrap:wrap;align-items:baseline;column-gap:.6rem;padding:.35rem .6rem}
.total .name{width:4.5rem}
.total .human{font-size:1.15rem}
table.users{font-size:.8rem}
table.users th,table.users td{padding:.2rem .25rem}
table.users th{white-space:normal}
table.users .user{min-width:5.5rem}
table.users .rank{display:none}
}
@media print{
@page{size:A4;margin:14mm}
body{font-size:10pt}
main{max-width:none;padding:0}
h2{break-after:avoid}
figure,.totals,tr{break-inside:avoid}
svg.chart{max-width:100%}
thead{display:table-header-group}
table.users th{position:static}
*{print-color-adjust:exact;-webkit-print-color-adjust:exact}
}
</style>
)";

// The page, written through a buffer that goes to the stream in large pieces.
class Page {
 public:
  explicit Page(std::ostream& out) : out_(out) { text.reserve(2 * kFlushAt); }
  std::string text;
  void Flush(bool always = false) {
    if (text.empty() || (!always && text.size() < kFlushAt)) return;
    const auto size = static_cast<std::streamsize>(text.size());
    if (out_.rdbuf()->sputn(text.data(), size) != size) out_.setstate(std::ios::badbit);
    text.clear();
  }

 private:
  std::ostream& out_;
};

std::string Exact(double value) {
  std::string text = NumberText(value);
  if (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

std::string Exact(std::int64_t value) {
  std::string text = NumberText(value);
  if (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

std::string Count(std::int64_t value, const char* one, const char* many) {
  return std::to_string(value) + " " + (value == 1 ? one : many);
}

std::string Share(std::int64_t part, double whole) {
  if (whole <= 0) return "\xE2\x80\x93";
  const double percent = static_cast<double>(part) / whole * 100;
  if (percent > 0 && percent < 0.01) return "&lt;0.01%";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f%%", percent);
  return text;
}

void AppendFact(std::string& out, const char* name, std::string_view rawValue) {
  out += "<dt>";
  out += name;
  out += "</dt><dd>";
  AppendHtml(out, rawValue);
  out += "</dd>\n";
}

void AppendHeading(Page& page, const ReportFigures& figures, const ReportRun& run) {
  std::string& out = page.text;
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'\">\n"
      "<meta name=\"generator\" content=\"Tollbook\">\n<title>Accounting report: ";
  AppendHtml(out, run.folder);
  out += "</title>\n";
  out += kStyle;
  out += "</head>\n<body>\n<main>\n<header>\n<h1>Accounting report: ";
  AppendHtml(out, run.folder);
  out += "</h1>\n<dl class=\"facts\">\n";
  AppendFact(out, "Mailbox", run.mailbox);
  AppendFact(out, "Folder", run.folder);
  AppendFact(out, "Run ended", run.ended);
  AppendFact(out, "Accounting files", std::to_string(run.accountingFiles));
  AppendFact(out, "Records", std::to_string(figures.records));
  AppendFact(out, figures.chronological ? "Earliest date" : "First record's date",
             figures.firstDate);
  AppendFact(out, figures.chronological ? "Latest date" : "Last record's date", figures.lastDate);
  out += "</dl>\n</header>\n";
}

void AppendTotals(Page& page, const ReportFigures& figures) {
  std::string& out = page.text;
  const DayTotals& totals = figures.totals;
  out +=
      "<section aria-labelledby=\"totals\">\n<h2 id=\"totals\">Totals</h2>\n"
      "<div class=\"totals\" id=\"totals-figures\">\n";
  const struct {
    const char* name;
    const char* id;
    double bytes;
  } items[] = {{"Bytes in", "total-in", totals.bytesIn},
               {"Bytes out", "total-out", totals.bytesOut},
               {"Total", "total-all", totals.bytesIn + totals.bytesOut}};
  for (const auto& item : items) {
    out += "<div class=\"total\"><div class=\"name\">";
    out += item.name;
    out += "</div><div class=\"human\">";
    out += HumanBytes(item.bytes);
    out += "</div><div class=\"exact\" id=\"";
    out += item.id;
    out += "\">";
    out += Exact(item.bytes);
    out += " bytes</div></div>\n";
  }
  out +=
      "</div>\n<p class=\"note\">Every record counts here, also those without a user; "
      "the figures are the totals line of the summary's day section.</p>\n</section>\n";
}

void AppendDates(Page& page, const ReportFigures& figures) {
  std::string& out = page.text;
  const std::size_t count = figures.dates.size();
  const std::size_t shown = std::min(count, kReportChartDates);
  out +=
      "<section aria-labelledby=\"dates\">\n<h2 id=\"dates\">Bytes per date</h2>\n<p "
      "class=\"note\">";
  if (count == 0) {
    out += "No records.";
  } else if (figures.chronological) {
    out += "Dates in chronological order.";
  } else {
    out +=
        "Dates in the order they first appear: not every date reads as MM/DD/YY, "
        "MM/DD/YYYY or YYYY-MM-DD.";
  }
  out += " Records of one date count together wherever they stand.</p>\n<figure>\n";
  BarChart chart;
  chart.id = "dates-chart";
  chart.titleHtml = "Bytes in and bytes out per date";
  chart.summaryHtml = "Two bars per date, bytes in (dark) and bytes out (striped), for " +
                      std::to_string(shown) + " of " + std::to_string(count) +
                      " dates; totals: in " + HumanBytes(figures.totals.bytesIn) + ", out " +
                      HumanBytes(figures.totals.bytesOut) + ".";
  chart.rows.reserve(shown);
  for (std::size_t i = 0; i < shown; ++i) {
    chart.rows.push_back(
        {figures.dates[i].date, figures.dates[i].bytesIn, figures.dates[i].bytesOut});
  }
  AppendBarChart(out, chart);
  out += "</figure>\n";
  if (shown < count) {
    out += "<p class=\"note\">The chart shows the first " + std::to_string(shown) + " of " +
           std::to_string(count) + " dates.</p>\n";
  }
  out += "</section>\n";
}

void AppendTopUsers(Page& page, const RunState& state, const ReportFigures& figures) {
  std::string& out = page.text;
  const std::size_t shown = std::min(figures.users.size(), kReportChartUsers);
  out += "<section aria-labelledby=\"top\">\n<h2 id=\"top\">";
  out += shown == 0
             ? std::string("Users")
             : "The " + (shown == 1 ? std::string("one user") : std::to_string(shown) + " users") +
                   " with the most bytes";
  out += "</h2>\n";
  if (shown == 0) out += "<p class=\"note\">No record names a user.</p>\n";
  out += "<figure>\n";
  BarChart chart;
  chart.id = "users-chart";
  chart.stacked = true;
  chart.titleHtml = "Total bytes of the " + std::to_string(shown) + " largest users";
  chart.summaryHtml =
      "One bar per user, largest first: bytes in (dark) then bytes out "
      "(striped); the table below gives every figure.";
  for (std::size_t i = 0; i < shown; ++i) {
    const auto g = static_cast<std::size_t>(figures.users[i].group);
    chart.rows.push_back({state.UserNames[g], static_cast<double>(state.UserBytesIn[g]),
                          static_cast<double>(state.UserBytesOut[g])});
  }
  AppendBarChart(out, chart);
  out += "</figure>\n</section>\n";
}

void AppendUserTable(Page& page, const RunState& state, const ReportFigures& figures,
                     const ReportRun& run) {
  std::string& out = page.text;
  const double whole = figures.totals.bytesIn + figures.totals.bytesOut;
  out +=
      "<section aria-labelledby=\"users\">\n<h2 id=\"users\">Every user</h2>\n<p class=\"note\">" +
      Count(figures.userCount, "user", "users") +
      ", largest first; bytes exact, share of all bytes.</p>\n<div class=\"scroll\">\n"
      "<table class=\"users\">\n<thead><tr><th class=\"rank\" scope=\"col\">#</th>"
      "<th class=\"user\" scope=\"col\">User</th><th scope=\"col\">Bytes in</th>"
      "<th scope=\"col\">Bytes out</th><th scope=\"col\">Total bytes</th>"
      "<th scope=\"col\">Share</th></tr></thead>\n<tbody id=\"user-rows\">\n";
  std::size_t rank = 0;
  for (const ReportUser& user : figures.users) {
    const auto g = static_cast<std::size_t>(user.group);
    out += "<tr><td class=\"rank\">" + std::to_string(++rank) + "</td><td class=\"user\">";
    AppendHtml(out, state.UserNames[g]);
    out += "</td><td>";
    out += Exact(state.UserBytesIn[g]);
    out += "</td><td>";
    out += Exact(state.UserBytesOut[g]);
    out += "</td><td>";
    out += Exact(user.total);
    out += "</td><td>";
    out += Share(user.total, whole);
    out += "</td></tr>\n";
    page.Flush();
  }
  out += "</tbody>\n</table>\n</div>\n";
  const std::int64_t more = figures.userCount - static_cast<std::int64_t>(figures.users.size());
  if (more > 0) {
    out += "<p class=\"note\" id=\"more-users\">" + Count(more, "more user", "more users") +
           " with smaller totals ";
    if (run.summaryPath.empty()) {
      out += "are not listed here; a run with --summary writes every user to summary.csv.";
    } else {
      out += "are not listed here; every user is in the summary file, ";
      AppendHtml(out, run.summaryPath);
      out += '.';
    }
    out += "</p>\n";
  }
  out += "</section>\n";
}

}  // namespace

void WriteReport(const RunState& state, const ReportFigures& figures, const ReportRun& run,
                 std::ostream& out) {
  Page page(out);
  AppendHeading(page, figures, run);
  AppendTotals(page, figures);
  AppendDates(page, figures);
  page.Flush();
  AppendTopUsers(page, state, figures);
  AppendUserTable(page, state, figures, run);
  page.text +=
      "<footer>Written by Tollbook from the records of one run.</footer>\n"
      "</main>\n</body>\n</html>\n";
  page.Flush(true);
}

}  // namespace tollbook
