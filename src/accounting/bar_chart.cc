#include "accounting/bar_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "accounting/number_text.h"
#include "accounting/report_text.h"

namespace tollbook {
namespace {

using report_text::AppendHtml;
using report_text::HumanBytes;

// Across, the chart is laid out in percent of its width, so that it fills
// a phone's screen and a laptop's column alike while its text keeps the
// page's sizes; down, in pixels.
constexpr double kLabelPercent = 28;  // row labels, right-aligned before the bars
constexpr double kPlotPercent = 56;   // the bars; value labels follow them
constexpr double kTop = 30;           // below the legend
constexpr std::size_t kLabelCharacters = 15;

void AppendNumber(std::string& out, double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  std::string_view digits = text;
  while (digits.back() == '0') digits.remove_suffix(1);
  if (digits.back() == '.') digits.remove_suffix(1);
  out += digits;
}

// Exact bytes as the summary writes them, without the sign's blank.
std::string ExactBytes(double value) {
  std::string text = NumberText(value);
  if (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

// A step of 1, 2, 2.5 or 5 times a power of ten that splits max into about
// four parts, never below one byte.
double TickStep(double max) {
  const double raw = max / 4;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double fraction = raw / power;
  const double nice = fraction <= 1     ? 1
                      : fraction <= 2   ? 2
                      : fraction <= 2.5 ? 2.5
                      : fraction <= 5   ? 5
                                        : 10;
  return std::max(1.0, nice * power);
}

void AppendRect(std::string& out, const char* kind, double x, double y, double width, double height,
                std::string_view label, const char* what, double bytes) {
  out += "<rect class=\"bar ";
  out += kind;
  out += "\" x=\"";
  AppendNumber(out, x);
  out += "%\" y=\"";
  AppendNumber(out, y);
  out += "\" width=\"";
  AppendNumber(out, width);
  out += "%\" height=\"";
  AppendNumber(out, height);
  out += "\"><title>";
  AppendHtml(out, label);
  out += ": ";
  out += what;
  out += ' ';
  out += HumanBytes(bytes);
  out += " (";
  out += ExactBytes(bytes);
  out += " bytes)</title></rect>";
}

// Text at x percent across, moved dx pixels, with its baseline at y.
void AppendText(std::string& out, const char* cls, double x, double dx, double y,
                std::string_view html) {
  out += "<text class=\"";
  out += cls;
  out += "\" x=\"";
  AppendNumber(out, x);
  out += '%';
  if (dx != 0) {
    out += "\" dx=\"";
    AppendNumber(out, dx);
  }
  out += "\" y=\"";
  AppendNumber(out, y);
  out += "\">";
  out += html;
  out += "</text>";
}

}  // namespace

void AppendBarChart(std::string& out, const BarChart& chart) {
  const double barHeight = chart.stacked ? 15 : 10;
  const double rowHeight = chart.stacked ? 21 : 2 * barHeight + 9;
  double max = 0;
  for (const auto& row : chart.rows) {
    const double in = std::max(0.0, row.bytesIn), outBytes = std::max(0.0, row.bytesOut);
    max = std::max(max, chart.stacked ? in + outBytes : std::max(in, outBytes));
  }
  const double step = TickStep(max > 0 ? max : 4);
  const double ticks = std::max(1.0, std::ceil(max / step));
  const double axisMax = ticks * step;
  const double bottom = kTop + rowHeight * static_cast<double>(chart.rows.size());
  const auto scale = [&](double bytes) { return std::max(0.0, bytes) / axisMax * kPlotPercent; };
  const std::string& id = chart.id;

  out += "<svg class=\"chart\" role=\"img\" width=\"100%\" height=\"";
  AppendNumber(out, bottom + 44);
  out += "\" aria-labelledby=\"" + id + "-title " + id + "-desc\">";
  out += "<title id=\"" + id + "-title\">" + chart.titleHtml + "</title>";
  out += "<desc id=\"" + id + "-desc\">" + chart.summaryHtml + "</desc>";
  // Bytes out: light with dark stripes, so that in and out differ in grey too.
  out += "<defs><pattern id=\"" + id +
         "-hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
         "patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"#f6c177\"/>"
         "<rect width=\"2\" height=\"6\" fill=\"#7a4b00\"/></pattern></defs>";
  out += "<style>#" + id + " .out{fill:url(#" + id + "-hatch)}</style>";
  out += "<g id=\"" + id + "\">";

  out += "<g class=\"legend\" aria-hidden=\"true\">";
  out += "<rect class=\"in\" x=\"28%\" y=\"5\" width=\"12\" height=\"12\"/>";
  AppendText(out, "legend", kLabelPercent, 17, 16, "Bytes in");
  out += "<rect class=\"out\" x=\"50%\" y=\"5\" width=\"12\" height=\"12\"/>";
  AppendText(out, "legend", 50, 17, 16, "Bytes out");
  out += "</g>";

  out += "<g class=\"grid\" aria-hidden=\"true\">";
  for (double t = 0; t <= ticks; ++t) {
    const double x = kLabelPercent + t / ticks * kPlotPercent;
    out += "<line x1=\"";
    AppendNumber(out, x);
    out += "%\" x2=\"";
    AppendNumber(out, x);
    out += "%\" y1=\"";
    AppendNumber(out, kTop - 4);
    out += "\" y2=\"";
    AppendNumber(out, bottom);
    out += "\"/>";
    AppendText(out, "tick", x, 0, bottom + 15, HumanBytes(t * step));
  }
  out += "</g>";
  AppendText(out, "axis", kLabelPercent + kPlotPercent / 2, 0, bottom + 36,
             "Bytes (1 kB = 1,000 bytes)");

  double y = kTop;
  for (const auto& row : chart.rows) {
    out += "<g class=\"row\">";
    const std::string_view name = row.label.empty() ? std::string_view("(empty)") : row.label;
    std::string label;
    report_text::AppendHtmlShortened(label, name, kLabelCharacters);
    const double inWidth = scale(row.bytesIn), outWidth = scale(row.bytesOut);
    if (chart.stacked) {
      AppendText(out, "label", kLabelPercent, -6, y + 12, label);
      AppendRect(out, "in", kLabelPercent, y, inWidth, barHeight, name, "bytes in", row.bytesIn);
      AppendRect(out, "out", kLabelPercent + inWidth, y, outWidth, barHeight, name, "bytes out",
                 row.bytesOut);
      AppendText(out, "value", kLabelPercent + inWidth + outWidth, 4, y + 11.5,
                 HumanBytes(row.bytesIn + row.bytesOut));
    } else {
      AppendText(out, "label", kLabelPercent, -6, y + 15, label);
      AppendRect(out, "in", kLabelPercent, y, inWidth, barHeight, name, "bytes in", row.bytesIn);
      AppendText(out, "value", kLabelPercent + inWidth, 4, y + 8.5, HumanBytes(row.bytesIn));
      AppendRect(out, "out", kLabelPercent, y + barHeight + 1, outWidth, barHeight, name,
                 "bytes out", row.bytesOut);
      AppendText(out, "value", kLabelPercent + outWidth, 4, y + barHeight + 9.5,
                 HumanBytes(row.bytesOut));
    }
    out += "</g>";
    y += rowHeight;
  }
  out += "</g></svg>";
}

}  // namespace tollbook
