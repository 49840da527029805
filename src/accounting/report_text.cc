#include "accounting/report_text.h"

#include <cmath>
#include <cstdio>

#include "base/text.h"

namespace tollbook::report_text {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendByteEscape(std::string& out, unsigned char byte) {
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 15];
}

bool Reorders(std::uint32_t code) {
  return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// Appends one character of text at i (escaped) and returns its length in bytes.
std::size_t AppendCharacter(std::string& out, std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c < 0x80) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          AppendByteEscape(out, c);
        } else {
          out += static_cast<char>(c);
        }
    }
    return 1;
  }
  std::uint32_t code = 0;
  const std::size_t length = Utf8SequenceAt(text, i, code);
  if (length == 0) {
    AppendByteEscape(out, c);
    return 1;
  }
  if (Reorders(code) || (code >= 0x80 && code <= 0x9F)) {
    char escaped[12];
    std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(code));
    out += escaped;
  } else {
    out.append(text.substr(i, length));
  }
  return length;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Reads minDigits to maxDigits decimal digits at text[i]; -1 when there are not.
int Digits(std::string_view text, std::size_t& i, std::size_t minDigits, std::size_t maxDigits) {
  int value = 0;
  std::size_t count = 0;
  while (i < text.size() && count < maxDigits && text[i] >= '0' && text[i] <= '9') {
    value = value * 10 + (text[i] - '0');
    ++i, ++count;
  }
  return count >= minDigits ? value : -1;
}

std::int32_t Day(int year, int month, int day) {
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return -1;
  return year * 10000 + month * 100 + day;
}

}  // namespace

void AppendHtml(std::string& out, std::string_view text) {
  for (std::size_t i = 0; i < text.size();) i += AppendCharacter(out, text, i);
}

bool AppendHtmlShortened(std::string& out, std::string_view text, std::size_t maxCharacters) {
  std::size_t i = 0;
  for (std::size_t n = 0; i < text.size() && n < maxCharacters; ++n) {
    i += AppendCharacter(out, text, i);
  }
  if (i >= text.size()) return false;
  out += "\xE2\x80\xA6";
  return true;
}

std::string HumanBytes(double bytes) {
  static constexpr const char* kUnits[] = {"B", "kB", "MB", "GB", "TB", "PB", "EB"};
  const bool negative = bytes < 0;
  double value = std::fabs(bytes);
  std::size_t unit = 0;
  while (unit + 1 < std::size(kUnits) && std::round(value) >= 1000) {
    value /= 1000;
    ++unit;
  }
  char text[64];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%.0f", value);
  } else {
    // Three significant digits; 999.5 kB shows as 1000 kB rather than
    // changing the unit after rounding.
    std::snprintf(text, sizeof text, value < 10 ? "%.2f" : value < 100 ? "%.1f" : "%.0f", value);
    std::string digits = text;
    if (digits.find('.') != std::string::npos) {
      while (digits.back() == '0') digits.pop_back();
      if (digits.back() == '.') digits.pop_back();
    }
    std::snprintf(text, sizeof text, "%s", digits.c_str());
  }
  std::string result = negative && std::string_view(text) != "0" ? "-" : "";
  result += text;
  result += ' ';
  result += kUnits[unit];
  return result;
}

std::int32_t ParseGatewayDate(std::string_view text) {
  std::size_t i = 0;
  if (text.size() == 10 && text[4] == '-') {
    const int year = Digits(text, i, 4, 4);
    if (year < 0 || text[i++] != '-') return -1;
    const int month = Digits(text, i, 2, 2);
    if (month < 0 || i >= text.size() || text[i++] != '-') return -1;
    const int day = Digits(text, i, 2, 2);
    if (day < 0 || i != text.size()) return -1;
    return Day(year, month, day);
  }
  const int month = Digits(text, i, 1, 2);
  if (month < 0 || i >= text.size() || text[i++] != '/') return -1;
  const int day = Digits(text, i, 1, 2);
  if (day < 0 || i >= text.size() || text[i++] != '/') return -1;
  const std::size_t yearStart = i;
  int year = Digits(text, i, 2, 4);
  if (year < 0 || i != text.size() || i - yearStart == 3) return -1;
  if (i - yearStart == 2) year += year >= 69 ? 1900 : 2000;
  return Day(year, month, day);
}

}  // namespace tollbook::report_text
