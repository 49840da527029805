#include "mail/mime/header_fields.h"

#include "base/text.h"

namespace tollbook::mail {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Just past the line end (CR LF or LF) of the line at p, or the block's end.
std::size_t LineEnd(std::string_view b, std::size_t p) {
  for (; p < b.size(); ++p) {
    if (b[p] == '\n') return p + 1;
    if (b[p] == '\r' && p + 1 < b.size() && b[p + 1] == '\n') return p + 2;
  }
  return b.size();
}

}  // namespace

// Follows vmime's headerField::parseNext() branch for branch, positions only,
// so that the bounds are the ones vmime gives its fields. vmime reads the
// byte at the end of the block in places, which its string holds as NUL;
// `at` does the same.
HeaderFields SplitHeaderFields(std::string_view b) {
  const std::size_t end = b.size();
  const auto at = [&](std::size_t i) { return i < end ? b[i] : '\0'; };
  HeaderFields out;
  std::size_t pos = 0;
  while (pos < end) {
    std::size_t p = pos;
    bool headerEnded = true;
    while (p < end) {
      char c = b[p];
      if (c == '\n') {
        ++p;
        break;
      }
      if (c == '\r' && p + 1 < end && b[p + 1] == '\n') {
        p += 2;
        break;
      }
      if (IsSpace(c)) {
        // A blank-only line ends the header; any other line starting with a
        // blank is skipped.
        while (p < end && IsBlank(b[p])) ++p;
        if (p < end && b[p] == '\n') {
          ++p;
          break;
        }
        if (p + 1 < end && b[p] == '\r' && b[p + 1] == '\n') {
          p += 2;
          break;
        }
        while (p < end && b[p] != '\n') ++p;
        if (at(p) == '\n') ++p;
        continue;
      }
      const std::size_t nameStart = p;
      while (p < end && b[p] != ':' && !IsSpace(b[p])) ++p;
      const std::size_t nameEnd = p;
      while (p < end && IsBlank(b[p])) ++p;
      if (at(p) != ':') {  // no field: the line is skipped
        p = nameStart;
        while (p < end && b[p] != '\n') ++p;
        if (p < end && b[p] == '\n') ++p;
        continue;
      }
      ++p;
      while (p < end && IsBlank(b[p])) ++p;
      // The value: its first line, then every line that starts with a blank.
      for (bool firstLine = true; p < end; firstLine = false) {
        if (!firstLine && !IsBlank(b[p])) break;
        p = LineEnd(b, p);
      }
      out.fields.push_back({nameStart, p, b.substr(nameStart, nameEnd - nameStart)});
      headerEnded = false;
      break;
    }
    pos = p;
    if (headerEnded) break;
  }
  out.end = pos;
  return out;
}

bool IsContentField(std::string_view name) {
  constexpr std::string_view kPrefix = "content-";
  return name.size() >= kPrefix.size() && EqualsIgnoreCase(name.substr(0, kPrefix.size()), kPrefix);
}

}  // namespace tollbook::mail

namespace tollbook::mail {

std::string HeaderFieldValue(std::string_view block, std::string_view name) {
  for (const auto& field : SplitHeaderFields(block).fields) {
    if (!EqualsIgnoreCase(field.name, name)) continue;
    std::string_view text = block.substr(field.begin, field.end - field.begin);
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return {};
    std::string value;
    for (const char c : text.substr(colon + 1)) {
      if (c != '\r' && c != '\n') value += c;
    }
    const auto first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return value.substr(first, value.find_last_not_of(" \t") - first + 1);
  }
  return {};
}

}  // namespace tollbook::mail
