#include "accounting/merge.h"

#include "accounting/line_reader.h"
#include "accounting/record_parser.h"
#include "base/text.h"

namespace tollbook {

Flavour FlavourOfFirstLine(std::string_view line) {
  if (line.size() >= 2 && line[1] == ',' && (FoldAscii(line[0]) == 'i' || FoldAscii(line[0]) == 'o')) {
    return Flavour::Smtp;
  }
  return Flavour::Other;
}

void MergeAccountingFile(RunState& state, std::ostream& fullAccountingOutput, bool parseRecords) {
  LineReader input(state.AccountingFilePath);
  state.FileFirstRecord.push_back(state.RecordCount);
  std::string_view line;
  if (!input.ReadLine(line)) return;  // an empty file: nothing to merge

  // The flavour comes from the first line alone; reading on from here is the
  // same as reading the file again from its start.
  state.PreviousFlavour = state.CurrentFlavour;
  state.CurrentFlavour = FlavourOfFirstLine(line);
  if (state.CurrentFlavour != state.PreviousFlavour) {
    const auto header = state.CurrentFlavour == Flavour::Smtp ? kSmtpHeader : kOtherHeader;
    fullAccountingOutput.write(header.data(), static_cast<std::streamsize>(header.size()));
    fullAccountingOutput.write("\r\n", 2);
  }
  // Output goes straight to the stream buffer: the stream's per-call checks
  // cost more than the copy itself. A short write marks the stream bad.
  std::streambuf& out = *fullAccountingOutput.rdbuf();
  const auto write = [&out](std::string_view bytes) {
    const auto size = static_cast<std::streamsize>(bytes.size());
    return out.sputn(bytes.data(), size) == size;
  };
  const auto take = [&state, parseRecords](std::string_view record) {
    ++state.RecordCount;
    if (parseRecords) ParseAccountingLine(state, record);
  };
  take(line);
  const bool written = write(line) && write(std::string_view("\r\n", 2)) && input.CopyLines(take, write);
  if (!written) fullAccountingOutput.setstate(std::ios::badbit);
}

}  // namespace tollbook
