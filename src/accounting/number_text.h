// Number text: the way every number of the summary file, of a scratch file's
// name and of the progress captions is written. A number of 0 or more is
// preceded by one blank (the place of the sign), a negative one by "-"; digits
// are never grouped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tollbook {

// " 0", " 750", "-12".
std::string NumberText(std::int64_t value);

// Whole values are written in full ("1e20" as " 100000000000000000000");
// a value with a fraction is rounded to 15 significant digits and written
// with a point and without trailing zeros (" 0.5", " 2.25"). Negative zero
// is written " 0".
std::string NumberText(double value);

// Appends NumberText(value) to out without allocating when out has room.
void AppendNumberText(std::string& out, std::int64_t value);
void AppendNumberText(std::string& out, double value);

// Converts the byte-size text of a record. Accepted: decimal digits with an
// optional fraction (".5", "2.", "2.5"), an optional leading "+" or "-", and
// blanks or tabs around the number. Plain decimal digits convert exactly up to
// 2^53. Returns false for anything else: the empty text, letters, grouping
// commas, exponents, "inf", "nan", or a magnitude beyond a double's range.
bool ConvertByteSize(std::string_view text, double& value);

}  // namespace tollbook
