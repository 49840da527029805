#include "accounting/record_parser.h"

#include <cstring>
#include <string_view>

#include "accounting/run_state.h"

namespace tollbook {
namespace {

// Commas needed to reach the last column that a layout uses (column 19 of
// "smtp"); further commas are counted no more.
constexpr std::size_t kCommasScanned = kCommaPositionCount;

struct Commas {
  std::size_t count = 0;                            // commas found, at most kCommasScanned
  std::size_t offset[kCommasScanned] = {};          // 0-based offsets of those commas
};

// Column c (from 1) of `line`, cut at the line's own commas.
std::string_view Column(std::string_view line, const Commas& commas, std::size_t c) {
  if (c > commas.count + 1) return {};
  const std::size_t begin = c == 1 ? 0 : commas.offset[c - 2] + 1;
  const std::size_t end = c <= commas.count ? commas.offset[c - 1] : line.size();
  return line.substr(begin, end - begin);
}

}  // namespace

void ParseAccountingRecord(RunState& state) {
  const std::string_view line = state.CurrentLine;
  Commas commas;
  const char* data = line.data();
  const char* end = data + line.size();
  for (const char* p = data; commas.count < kCommasScanned;) {
    const void* hit = std::memchr(p, ',', static_cast<std::size_t>(end - p));
    if (hit == nullptr) break;
    const char* comma = static_cast<const char*>(hit);
    commas.offset[commas.count] = static_cast<std::size_t>(comma - data);
    state.CommaPositions[commas.count] = static_cast<std::int64_t>(comma - data) + 1;
    ++commas.count;
    p = comma + 1;
  }

  const auto i = state.RecordCount;
  if (i < 1 || i > static_cast<std::int64_t>(state.Capacity())) return;
  const auto index = static_cast<std::size_t>(i);
  std::string& user = state.RecordUser[index];
  if (state.CurrentFlavour == Flavour::Smtp) {
    state.RecordDirection[index].assign(line.substr(0, 1));
    const auto post_office = Column(line, commas, 8);
    const auto user_id = Column(line, commas, 9);
    user.assign(post_office);
    user.push_back('.');
    user.append(user_id);
    state.RecordBytes[index].assign(Column(line, commas, 19));
    state.RecordDate[index].assign(Column(line, commas, 2));
  } else {
    user.assign(commas.count >= 2 ? line.substr(0, commas.offset[1]) : line);
    state.RecordBytes[index].assign(Column(line, commas, 11));
    state.RecordDirection[index].assign(line.empty() ? std::string_view() : line.substr(line.size() - 1));
    state.RecordDate[index].assign(Column(line, commas, 6));
  }
}

}  // namespace tollbook
