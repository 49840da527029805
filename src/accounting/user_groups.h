// The grouping behind the user summary: finds, for each record's user key in
// record order, the group of keys equal to it without regard to ASCII case.
// An open-addressing table of compact slots over a flat array of groups, so
// that a lookup touches two cache lines; with a hundred thousand distinct keys
// the run's records fall far outside the processor's caches, and the walk
// prefetches both lines a few records ahead.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tollbook {

class UserGroups {
 public:
  // One group: its sums, its first and last records, and up to kInlineKey
  // bytes of the key of its last record (the name the summary prints).
  struct Group {
    static constexpr std::size_t kInlineKey = 28;
    std::uint64_t hash = 0;
    std::int64_t bytesIn = 0;
    std::int64_t bytesOut = 0;
    std::uint32_t firstRecord = 0;
    std::uint32_t lastRecord = 0;
    std::uint32_t keyLength = 0;
    char key[kInlineKey];
  };

  // The hash of key with ASCII letters folded to lower case.
  static std::uint64_t Hash(std::string_view key);

  // keys is the record table the groups are formed over (index = record);
  // it must not change while this object is used. Room is made for
  // `records` keys at once, so that the table never grows while it is
  // filled; memory that no group uses is never touched.
  UserGroups(const std::vector<std::string>& keys, std::size_t records);

  // Asks the processor for the slot where a key of this hash starts its search.
  void PrefetchSlot(std::uint64_t hash) const {
    __builtin_prefetch(&slots_[hash & mask_]);
  }
  // Asks for the group that the key's first slot points to, if any.
  void PrefetchGroup(std::uint64_t hash) const {
    const Slot slot = slots_[hash & mask_];
    if (slot.group != 0 && slot.tag == Tag(hash)) __builtin_prefetch(&groups_[slot.group - 1]);
  }

  // The group of record `record`'s key (hash from Hash), numbered from 1 in
  // order of first appearance; a new group when the key was not met before.
  // Records the record as the group's last and its key as the group's name.
  std::size_t Add(std::uint32_t record, std::uint64_t hash);

  std::size_t Count() const { return groups_.size(); }
  Group& At(std::size_t group) { return groups_[group - 1]; }
  // The name of a group: the key of its last record.
  std::string_view Name(std::size_t group) const;

 private:
  struct Slot {
    std::uint32_t tag = 0;    // high bits of the key's hash
    std::uint32_t group = 0;  // 0: empty
  };
  static std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }
  bool SameKey(const Group& group, std::string_view key) const;
  void Grow();

  const std::vector<std::string>& keys_;
  std::vector<Slot> slots_;
  std::size_t mask_;
  std::vector<Group> groups_;
};

}  // namespace tollbook
