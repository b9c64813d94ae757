// The change list of the record store's cached updates: one entry per changed item, in the order
// of each item's first change. The record store's cached-update operations (declared with
// TMemData, defined in MemDataCache.cpp) keep it.
//
// An item's Status says what changed (isModified, isInserted, isDeleted), its UpdateResult what
// the last apply answered (0-4, TUpdateAction), UpdateResultNone while not applied, and its
// Rollback holds a modified record as it was before the first change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <unordered_map>

#include "core/MemBlocks.h"

// The update result of a change deferred into a batch while applying: the callback answers it
// to have the change sent with later ones; the batch's changes then all get the answer that
// closes the batch.
inline constexpr uint8_t UpdateResultDeferred = 6;

struct TCacheItem {
  PItemHeader Item;
  uint64_t Seq;  // order of creation, never reused: tells an entry from a later one of the same item
};

class TCacheList {
 public:
  using iterator = std::list<TCacheItem>::iterator;

  TCacheList() = default;
  TCacheList(const TCacheList&) = delete;
  TCacheList& operator=(const TCacheList&) = delete;

  // A new entry at the end. An item that has one already is an assertion failure.
  iterator Add(PItemHeader item);
  // The item's entry, or end().
  iterator Find(PItemHeader item);
  // Removes the item's entry; nothing when it has none.
  void Remove(PItemHeader item) noexcept;
  iterator Erase(iterator entry) noexcept;
  // Whether the entry with this Seq is still in the list (as the item's entry).
  bool Holds(PItemHeader item, uint64_t seq);
  // The first entry created after seq, or end().
  iterator FirstAfter(uint64_t seq);
  void Clear() noexcept;

  bool Empty() const noexcept { return FEntries.empty(); }
  size_t Count() const noexcept { return FEntries.size(); }
  iterator begin() noexcept { return FEntries.begin(); }
  iterator end() noexcept { return FEntries.end(); }

 private:
  std::list<TCacheItem> FEntries;
  std::unordered_map<PItemHeader, iterator> FIndex;
  uint64_t FNextSeq = 1;
};
