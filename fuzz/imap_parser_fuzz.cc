// The IMAP parser on whatever a server could send: responses are read until
// the bytes run out or a bound refuses them, and each one is checked against
// the bounds the parser promises; FETCH answers go on through the
// BODYSTRUCTURE and section readers.
//
// Input: one control byte, then the server's bytes. Bit 0 reads them as
// before the log-in; the other bits give the size of each read (1 to 128), so
// tokens straddle reads anywhere.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "mail/imap/body_structure.h"
#include "mail/imap/fetch_items.h"
#include "mail/imap/parser.h"

using namespace tollbook::mail;
using tollbook::fuzz::Require;

namespace {

class CountingSink : public ImapLiteralSink {
 public:
  bool Wants(std::string_view item) override { return FetchSectionName(item).has_value(); }
  void Write(const char*, std::size_t size) override { taken += size; }
  std::uint64_t taken = 0;
};

void Check(const ImapItem& item, int depth, const CountingSink& sink) {
  Require(depth <= kImapMaxNesting, "a list nested deeper than the bound");
  if (item.streamed) {
    Require(item.offset + item.length <= sink.taken,
            "a streamed literal beyond what the sink took");
    Require(item.length <= kImapLargestBody, "a streamed literal past its bound");
  } else {
    Require(item.text.size() <= kImapLargestHeldLiteral, "a held string past its bound");
  }
  for (const auto& member : item.items) Check(member, depth + 1, sink);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool beforeLogin = (data[0] & 1) != 0;
  const std::size_t step = 1 + (data[0] >> 1);
  const std::string wire(reinterpret_cast<const char*>(data + 1), size - 1);
  std::size_t at = 0;
  ImapParser parser([&](char* out, std::size_t room) -> std::size_t {
    if (at == wire.size()) throw ImapError(ImapGrade::kConnection, "end of input");
    const std::size_t n = std::min({room, step, wire.size() - at});
    wire.copy(out, n, at);
    at += n;
    return n;
  });
  CountingSink sink;
  try {
    for (;;) {
      const ImapResponse response = parser.Next(beforeLogin, &sink);
      Require(!response.tag.empty(), "a response without a tag");
      for (const auto& item : response.items) Check(item, 1, sink);
      Require(sink.written == sink.taken, "the sink's count differs from what it took");
      if (const ImapItem* attributes = FetchAttributes(response)) {
        (void)FetchUid(*attributes);
        if (const ImapItem* structure = FetchValue(*attributes, "BODYSTRUCTURE")) {
          try {
            (void)ParseBodyStructure(*structure);
          } catch (const ImapError&) {
          }
        }
      }
    }
  } catch (const ImapError&) {
  }
  return 0;
}
