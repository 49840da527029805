// The fields of a MIME header block, delimited without parsing them.
//
// vmime parses every field of a header into its own value type (addresses,
// dates, message ids ...), which makes reading a message's header cost more
// than everything else a run does with the message. The attachment rules
// look only at the Content-* fields, so the scan lets vmime parse just those:
// this finds where each field starts and ends, step for step as vmime's
// header parser walks a block, so that a field handed to vmime on its own
// parses exactly as it would within the whole header.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tollbook::mail {

struct HeaderFieldBounds {
  std::size_t begin;      // the first byte of the field's name
  std::size_t end;        // just past the field's last line, as vmime ends it
  std::string_view name;  // as vmime reads it: up to the colon or a blank
};

struct HeaderFields {
  std::vector<HeaderFieldBounds> fields;  // in order
  std::size_t end = 0;  // where vmime's header parse stops: the body's start
};

// Splits block, a header block from a part's start, as vmime's header parser
// does: lines that are no field (no colon after the name, or starting with a
// blank) are skipped, and an empty or blank-only line ends the header. The
// names point into block.
HeaderFields SplitHeaderFields(std::string_view block);

// The value of the first field named name (case aside) in block, unfolded
// (line breaks removed) and without the blanks around it; empty when there
// is none.
std::string HeaderFieldValue(std::string_view block, std::string_view name);

// Whether a field of this name is one of the Content-* fields (case aside).
bool IsContentField(std::string_view name);

}  // namespace tollbook::mail
