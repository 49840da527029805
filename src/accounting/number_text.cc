#include "accounting/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace tollbook {

void AppendNumberText(std::string& out, std::int64_t value) {
  char buffer[24];
  char* first = buffer;
  if (value >= 0) *first++ = ' ';
  auto [end, ec] = std::to_chars(first, buffer + sizeof buffer, value);
  out.append(buffer, end);
}

void AppendNumberText(std::string& out, double value) {
  if (value == 0) value = 0;  // no "-0"
  char buffer[400];
  char* first = buffer;
  if (!(value < 0)) *first++ = ' ';
  char* end;
  if (std::isfinite(value) && value == std::trunc(value)) {
    end = std::to_chars(first, buffer + sizeof buffer, value, std::chars_format::fixed).ptr;
  } else if (std::isfinite(value)) {
    // 15 significant digits, then trailing zeros of the fraction trimmed.
    const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    const int decimals = std::max(0, 14 - magnitude);
    end = std::to_chars(first, buffer + sizeof buffer, value, std::chars_format::fixed, decimals)
              .ptr;
    while (end > first && end[-1] == '0') --end;
    if (end > first && end[-1] == '.') --end;
  } else {
    end = first + std::snprintf(first, 8, "%s", std::isnan(value) ? "nan" : "inf");
  }
  out.append(buffer, end);
}

std::string NumberText(std::int64_t value) {
  std::string text;
  AppendNumberText(text, value);
  return text;
}

std::string NumberText(double value) {
  std::string text;
  AppendNumberText(text, value);
  return text;
}

bool ConvertByteSize(std::string_view text, double& value) {
  auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Only digits with at most one point, and at least one digit.
  std::size_t digits = 0;
  std::size_t points = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return false;
    }
  }
  if (digits == 0 || points > 1) return false;
  double parsed = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed,
                                   std::chars_format::fixed);
  if (ec != std::errc() || ptr != text.data() + text.size() || !std::isfinite(parsed)) {
    return false;
  }
  value = negative ? -parsed : parsed;
  return true;
}

}  // namespace tollbook
