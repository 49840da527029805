// The line reader and the merge against a plain reference reading: the merged
// output of a file must be its flavour's header line and every reference line
// followed by CR LF, whatever the bytes and wherever the reader's blocks end.
//
// Input: one control byte, then the file. Control bit 0 puts a padding line in
// front so that the file's lines straddle the reader's 64 KiB block boundary
// at an offset taken from the next byte; bit 1 has the records parsed into
// small tables that overflow.
#include <cstdint>
#include <sstream>
#include <string>

#include "accounting/merge.h"
#include "accounting/record_parser.h"
#include "accounting/run_state.h"
#include "fuzz_support.h"

using namespace tollbook;
using tollbook::fuzz::Require;

namespace {

constexpr std::size_t kReaderBlock = 1 << 16;

std::string ExpectedMerge(const std::vector<std::string_view>& lines, Flavour previous) {
  std::string out;
  if (lines.empty()) return out;
  const Flavour flavour = FlavourOfFirstLine(lines[0]);
  if (flavour != previous) {
    out += flavour == Flavour::Smtp ? kSmtpHeader : kOtherHeader;
    out += "\r\n";
  }
  for (auto line : lines) {
    out += line;
    out += "\r\n";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::MemoryFile file;
  static RunState state(8);
  if (size < 2) return 0;
  const unsigned control = data[0];
  std::string content;
  if (control & 1) {
    // A padding line that ends a few bytes before (or after) the block end.
    const std::size_t shift = data[1] % 64;
    content.assign(kReaderBlock - 32 + shift, 'p');
    content += '\r';
  }
  content.append(reinterpret_cast<const char*>(data) + 2, size - 2);
  const bool parse = (control & 2) != 0;

  // The flavour rule itself, on the raw first line.
  const auto lines = fuzz::ReferenceLines(content);
  if (!lines.empty()) {
    const auto first = lines[0];
    const bool smtp = first.size() >= 2 && first[1] == ',' &&
                      (first[0] == 'I' || first[0] == 'i' || first[0] == 'O' || first[0] == 'o');
    Require(FlavourOfFirstLine(first) == (smtp ? Flavour::Smtp : Flavour::Other), "flavour rule");
  }

  // The same file merged twice in one run: the second copy gets no header.
  ResetRunState(state);
  state.AccountingFilePath = file.Hold(content);
  std::ostringstream out;
  MergeAccountingFile(state, out, parse);
  const std::string first = ExpectedMerge(lines, Flavour::None);
  Require(out.str() == first, "first merge differs from the reference lines");
  const Flavour after_first = state.CurrentFlavour;
  MergeAccountingFile(state, out, parse);
  Require(out.str() == first + ExpectedMerge(lines, after_first), "second merge differs");
  Require(state.RecordCount == static_cast<std::int64_t>(2 * lines.size()), "RecordCount");
  Require(state.RecordTablesOverflowed() == (2 * lines.size() > state.Capacity()),
          "overflow flag");
  Require(state.FileFirstRecord.size() == 2, "file starts");
  if (!parse) {
    for (std::size_t i = 0; i <= state.Capacity(); ++i) {
      Require(state.RecordUser[i].empty() && state.RecordDate[i].empty(),
              "records filed without the summary option");
    }
  }
  return 0;
}
