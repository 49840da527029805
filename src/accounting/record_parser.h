// The record parser: cuts one accounting line into its user key, direction,
// byte size and date, and files them in the record tables.
#pragma once

#include <string_view>

#include "accounting/run_state.h"

namespace tollbook {

// Parses state.CurrentLine (of flavour state.CurrentFlavour) and files the
// record at index state.RecordCount of the four record tables. Columns are cut
// at the line's own commas: column c is the text between comma c-1 and comma
// c, runs to the end of the line when the line has exactly c-1 commas, and is
// empty when it has fewer. The first 21 comma positions are kept in
// state.CommaPositions. A record numbered past the tables' capacity is not
// filed (see RunState::RecordTablesOverflowed). Cannot fail.
void ParseAccountingRecord(RunState& state);

// The same for `line` in place of state.CurrentLine, which is left alone: lets
// the merge parse the line where it was read, without copying it.
void ParseAccountingLine(RunState& state, std::string_view line);

}  // namespace tollbook
