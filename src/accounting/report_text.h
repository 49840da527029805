// Texts of the report page: escaping hostile record texts into HTML, byte
// counts as a person reads them, and the gateways' date forms.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tollbook::report_text {

// Appends text as HTML character data or attribute value: & < > " ' become
// entities; ASCII control bytes and bytes that are not valid UTF-8 become
// "\xNN"; the invisible characters that reorder text (U+202A to U+202E,
// U+2066 to U+2069) become "\u202E" and the like. Valid UTF-8 is kept.
void AppendHtml(std::string& out, std::string_view text);

// AppendHtml of at most maxCharacters characters of text, with "…" in place
// of the rest; returns whether text was cut.
bool AppendHtmlShortened(std::string& out, std::string_view text, std::size_t maxCharacters);

// A byte count with 1000-based units and three significant digits, without
// trailing zeros: "0 B", "999 B", "1.5 kB", "12.3 MB", "1 GB", "-2 kB".
std::string HumanBytes(double bytes);

// The day of a date in one of the gateways' forms, as YYYYMMDD: MM/DD/YY
// (years 69 to 99 are 1969 to 1999, 00 to 68 are 2000 to 2068), MM/DD/YYYY,
// YYYY-MM-DD; month and day may have one digit in the first two forms. The
// day must exist in that month. -1 for any other text.
std::int32_t ParseGatewayDate(std::string_view text);

}  // namespace tollbook::report_text
