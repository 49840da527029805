#include "accounting/user_groups.h"

#include "base/text.h"

namespace tollbook {
namespace {

constexpr std::size_t kFirstSlots = 1024;
constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Eight bytes with their ASCII capitals turned into small letters.
std::uint64_t FoldEight(std::uint64_t x) {
  const std::uint64_t low = x & ~kHighBits;
  const std::uint64_t atLeastA = low + (0x80 - 'A') * kOnes;
  const std::uint64_t aboveZ = low + (0x80 - 'Z' - 1) * kOnes;
  const std::uint64_t capital = atLeastA & ~aboveZ & ~x & kHighBits;
  return x | (capital >> 2);
}

std::uint64_t Mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}

}  // namespace

std::uint64_t UserGroups::Hash(std::string_view key) {
  std::uint64_t h = key.size() * 0x9e3779b97f4a7c15ull;
  const char* p = key.data();
  std::size_t left = key.size();
  for (; left >= 8; p += 8, left -= 8) {
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    h = (h ^ FoldEight(x)) * 0x9e3779b97f4a7c15ull;
    h ^= h >> 29;
  }
  if (left > 0) {
    std::uint64_t x = 0;
    std::memcpy(&x, p, left);
    h = (h ^ FoldEight(x)) * 0x9e3779b97f4a7c15ull;
  }
  return Mix(h);
}

UserGroups::UserGroups(const std::vector<std::string>& keys, std::size_t records)
    : keys_(keys) {
  std::size_t slots = kFirstSlots;
  while (slots < 2 * records) slots *= 2;
  slots_.assign(slots, Slot{});
  mask_ = slots - 1;
  groups_.reserve(records);
}

bool UserGroups::SameKey(const Group& group, std::string_view key) const {
  if (group.keyLength != key.size()) return false;
  if (key.size() <= Group::kInlineKey) {
    return EqualsIgnoreCase(std::string_view(group.key, group.keyLength), key);
  }
  return EqualsIgnoreCase(keys_[group.firstRecord], key);
}

std::size_t UserGroups::Add(std::uint32_t record, std::uint64_t hash) {
  const std::string_view key = keys_[record];
  const std::uint32_t tag = Tag(hash);
  std::size_t i = hash & mask_;
  for (;; i = (i + 1) & mask_) {
    const Slot slot = slots_[i];
    if (slot.group == 0) break;
    if (slot.tag != tag) continue;
    Group& group = groups_[slot.group - 1];
    if (group.hash != hash || !SameKey(group, key)) continue;
    group.lastRecord = record;
    if (key.size() <= Group::kInlineKey) std::memcpy(group.key, key.data(), key.size());
    return slot.group;
  }
  Group& group = groups_.emplace_back();
  group.hash = hash;
  group.firstRecord = group.lastRecord = record;
  group.keyLength = static_cast<std::uint32_t>(key.size());
  if (key.size() <= Group::kInlineKey) std::memcpy(group.key, key.data(), key.size());
  slots_[i] = {tag, static_cast<std::uint32_t>(groups_.size())};
  if (groups_.size() * 2 > slots_.size()) Grow();
  return groups_.size();
}

std::string_view UserGroups::Name(std::size_t number) const {
  const Group& group = groups_[number - 1];
  if (group.keyLength <= Group::kInlineKey) return {group.key, group.keyLength};
  return keys_[group.lastRecord];
}

void UserGroups::Grow() {
  slots_.assign(slots_.size() * 2, Slot{});
  mask_ = slots_.size() - 1;
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    std::size_t i = groups_[g].hash & mask_;
    while (slots_[i].group != 0) i = (i + 1) & mask_;
    slots_[i] = {Tag(groups_[g].hash), static_cast<std::uint32_t>(g + 1)};
  }
}

}  // namespace tollbook
