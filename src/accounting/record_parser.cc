#include "accounting/record_parser.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <string_view>

#include "accounting/run_state.h"

namespace tollbook {
namespace {

// Commas needed to reach the last column that a layout uses (column 19 of
// "smtp"); further commas are counted no more.
constexpr std::size_t kCommasScanned = kCommaPositionCount;

// The commas found in a line: their 1-based positions are stored straight
// into the run state's CommaPositions, entries 0 to count-1.
struct Commas {
  std::int64_t* position;  // RunState::CommaPositions
  std::size_t count = 0;   // commas found, at most kCommasScanned
};

// Finds the first kCommasScanned commas of line. Looks at 16 bytes at a time
// where the processor allows it: the scan is the parser's inner loop.
Commas ScanCommas(std::string_view line, std::int64_t* positions) {
  Commas commas{positions};
  const char* data = line.data();
  const std::size_t size = line.size();
  std::size_t p = 0;
#if defined(__SSE2__)
  const __m128i comma = _mm_set1_epi8(',');
  for (; p + 16 <= size; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + p));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, comma)));
    while (mask != 0) {
      positions[commas.count++] = static_cast<std::int64_t>(p + 1) + __builtin_ctz(mask);
      if (commas.count == kCommasScanned) return commas;
      mask &= mask - 1;
    }
  }
#endif
  for (; p < size; ++p) {
    if (data[p] != ',') continue;
    positions[commas.count++] = static_cast<std::int64_t>(p + 1);
    if (commas.count == kCommasScanned) break;
  }
  return commas;
}

// Column c (from 1) of `line`, cut at the line's own commas.
std::string_view Column(std::string_view line, const Commas& commas, std::size_t c) {
  if (c > commas.count + 1) return {};
  const auto begin = c == 1 ? 0 : static_cast<std::size_t>(commas.position[c - 2]);
  const auto end = c <= commas.count ? static_cast<std::size_t>(commas.position[c - 1] - 1) : line.size();
  return line.substr(begin, end - begin);
}

}  // namespace

void ParseAccountingRecord(RunState& state) { ParseAccountingLine(state, state.CurrentLine); }

void ParseAccountingLine(RunState& state, std::string_view line) {
  const Commas commas = ScanCommas(line, state.CommaPositions.data());

  const auto i = state.RecordCount;
  if (i < 1 || i > static_cast<std::int64_t>(state.Capacity())) return;
  const auto index = static_cast<std::size_t>(i);
  std::string& user = state.RecordUser[index];
  if (state.CurrentFlavour == Flavour::Smtp) {
    state.RecordDirection[index].assign(line.substr(0, 1));
    const auto post_office = Column(line, commas, 8);
    const auto user_id = Column(line, commas, 9);
    // Built in place and stored with one call: most keys fit a string's own
    // buffer, and three calls into the string cost more than the bytes.
    char key[64];
    const std::size_t length = post_office.size() + 1 + user_id.size();
    if (length <= sizeof key) {
      // An empty column may have no data pointer at all: memcpy must not see it.
      if (!post_office.empty()) std::memcpy(key, post_office.data(), post_office.size());
      key[post_office.size()] = '.';
      if (!user_id.empty()) std::memcpy(key + post_office.size() + 1, user_id.data(), user_id.size());
      user.assign(key, length);
    } else {
      user.assign(post_office);
      user.push_back('.');
      user.append(user_id);
    }
    state.RecordBytes[index].assign(Column(line, commas, 19));
    state.RecordDate[index].assign(Column(line, commas, 2));
  } else {
    user.assign(commas.count >= 2 ? line.substr(0, static_cast<std::size_t>(commas.position[1] - 1)) : line);
    state.RecordBytes[index].assign(Column(line, commas, 11));
    state.RecordDirection[index].assign(line.empty() ? std::string_view() : line.substr(line.size() - 1));
    state.RecordDate[index].assign(Column(line, commas, 6));
  }
}

}  // namespace tollbook
