// The record store's own allocators: record items carved from blocks (TBlockManager) and the
// reference-counted heap of variable-length record strings (TStringHeap).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <span>
#include <unordered_map>
#include <vector>

#include "core/CLRClasses.h"

class TCriticalSection;

// ---- Record items ---------------------------------------------------------------------------

// Cached-update state of an item.
enum TItemStatus : uint8_t { isUnmodified = 0, isModified = 1, isInserted = 2, isDeleted = 3 };

// TItemHeader::UpdateResult holds the dataset layer's update actions (0 fail, 1 abort, 2 skip,
// 3 retry, 4 applied), or this value while no change of the item was applied.
inline constexpr uint8_t UpdateResultNone = 5;

// TItemHeader::Flag: guards against an item freed twice or taken from a corrupt free list.
inline constexpr uint8_t ItemFree = 0xDD;
inline constexpr uint8_t ItemUsed = 0xEE;

// TItemHeader::FilterResult.
inline constexpr uint8_t FilterNotEvaluated = 0;
inline constexpr uint8_t FilterVisible = 1;
inline constexpr uint8_t FilterHidden = 2;

struct TBlockHeader;

// The fixed header of every record item; the record's RecordSize data bytes follow it directly
// (TBlockManager::GetRecordPtr). Prev and Next link an item in use into the record store's
// record list and a free item into the free list. 28 bytes: a million rows pay for every one, so
// the item's block is found from its place in the block (TBlockManager::BlockOf), the record as it
// was before a cached change, which few items ever have, is kept aside (TBlockManager::Rollback),
// and the small states share a byte. Items still start at 8-byte boundaries (ItemStride); the
// header is packed only so that no padding of its own stands between it and the record.
#pragma pack(push, 4)
struct TItemHeader {
  TItemHeader* Prev;
  TItemHeader* Next;
  int32_t Order;   // record number among the visible items; 0 when hidden
  uint32_t Stamp;  // new for every allocation: tells a reused slot from the record it held
  uint16_t IndexInBlock;
  uint8_t Flag;  // ItemFree / ItemUsed
  TItemStatus Status : 2;
  uint8_t UpdateResult : 3;
  uint8_t FilterResult : 2;  // FilterNotEvaluated / FilterVisible / FilterHidden
  bool HasRollback : 1;      // the manager holds a rollback record for it
};
#pragma pack(pop)
static_assert(sizeof(TItemHeader) == 28);
using PItemHeader = TItemHeader*;

// A block: this header, then ItemCount items.
struct TBlockHeader {
  uint16_t ItemCount;
  uint16_t UsedItems;
  bool Indexed;  // in the manager's index of live blocks (filled when an address is checked)
  bool InChunk;  // from one of the manager's chunks, not from the general allocator
  TBlockHeader* Prev;
  TBlockHeader* Next;
};
using PBlockHeader = TBlockHeader*;

// Allocator of record items. Fetching thousands of rows costs one allocation per block; a block
// is given back as soon as its last item in use is freed. A small store's blocks come from the
// general allocator and are released oldest first, so it merges them as they go and gives the
// memory back in one piece; a large store's further blocks come from chunks mapped from the
// system, each returned to it when its last block goes.
class TBlockManager {
 public:
  TBlockManager() = default;
  ~TBlockManager();
  TBlockManager(const TBlockManager&) = delete;
  TBlockManager& operator=(const TBlockManager&) = delete;

  // A fresh item: no rollback record, Status isUnmodified, UpdateResult UpdateResultNone, Order 0,
  // FilterResult 0, a Stamp no other allocation of this manager got; its record bytes are not
  // cleared. Raises EOutOfMemory when a new block cannot
  // be had (nothing is linked then), EAssertionFailed when the free list is corrupt.
  PItemHeader AllocItem();
  // Returns an item (forgetting its rollback record, which the caller frees); frees its block when
  // it was the block's last item in use. EAssertionFailed for an item that is not in use (freed
  // twice).
  void FreeItem(PItemHeader item);
  // Under cached updates: the record as it was before the item's first change (an item of this
  // manager), nil for none.
  PItemHeader Rollback(const TItemHeader* item) const noexcept {
    return item->HasRollback ? FindRollback(item) : nullptr;
  }
  // Sets the item's rollback record; nil forgets it. Raises EOutOfMemory (nothing changes then).
  void SetRollback(PItemHeader item, PItemHeader rollback);
  // Frees every block: items still in use become invalid (the owner empties its lists first).
  // Large stores get their blocks from chunks of the system's memory (see MemBlocks.cpp); the
  // chunks go too.
  void FreeAllBlocks() noexcept;

  static uint8_t* GetRecordPtr(PItemHeader item) noexcept {
    return reinterpret_cast<uint8_t*>(item) + sizeof(TItemHeader);
  }
  // Copy RecordSize bytes between a record buffer or another item and the item's record data.
  void PutRecord(PItemHeader item, const void* buffer) const noexcept {
    std::memcpy(GetRecordPtr(item), buffer, static_cast<size_t>(FRecordSize));
  }
  void GetRecord(PItemHeader item, void* buffer) const noexcept {
    std::memcpy(buffer, GetRecordPtr(item), static_cast<size_t>(FRecordSize));
  }
  void CopyRecord(PItemHeader source, PItemHeader dest) const;

  int32_t RecordSize() const noexcept { return FRecordSize; }
  // Set by the owner whenever it lays out its fields. A different size while blocks exist is an
  // assertion failure: their items were laid out for the old size.
  void SetRecordSize(int32_t value);
  uint16_t DefaultItemCount() const noexcept { return FDefaultItemCount; }
  // Items in each new block; 0 is an assertion failure.
  void SetDefaultItemCount(uint16_t value);

  PItemHeader FirstFree() const noexcept { return FFirstFree; }
  // Items of the newest block not handed out yet: they are on no list, and AllocItem takes them
  // once the free list is empty, from the first to the last.
  uint16_t FreshItems() const noexcept { return FFreshItems; }
  PBlockHeader FirstBlock() const noexcept { return FFirstBlock; }
  // The index-th item of a block (0 <= index < ItemCount).
  PItemHeader ItemOfBlock(PBlockHeader block, int index) const noexcept;
  // The block an item lies in.
  PBlockHeader BlockOf(const TItemHeader* item) const noexcept;
  // The item allocated `distance` allocations after `item` when they all came from fresh blocks:
  // a block hands out its items from the first to the last, then the block allocated next (Prev
  // in the block list) goes on. Where a scan of fetched or appended records goes next. Nil past
  // the newest block.
  const TItemHeader* AllocatedAfter(const TItemHeader* item, size_t distance) const noexcept;
  // Whether `item` is an item in use of one of this manager's blocks, still from the allocation
  // that got `stamp`. Reads no released memory, so any pointer may be asked about. The first
  // question after new blocks came indexes them.
  bool IsItemInUse(const TItemHeader* item, uint32_t stamp) const noexcept;

 private:
  struct TChunk;
  size_t ItemStride() const noexcept;
  // Once a block: out of line, so that taking an item saves no registers for it.
  [[gnu::noinline]] PBlockHeader AllocBlock(uint16_t count);
  void* AllocBlockMemory(size_t bytes);
  void* AllocFromChunk(size_t bytes) noexcept;
  void ReleaseToChunk(PBlockHeader block) noexcept;
  void ReleaseAllChunks() noexcept;
  PItemHeader FindRollback(const TItemHeader* item) const noexcept;
  void FreeBlock(PBlockHeader block) noexcept;
  void UnlinkFree(PItemHeader item) noexcept;

  PItemHeader FFirstFree = nullptr;
  PBlockHeader FFirstBlock = nullptr;
  // The oldest block (the list's end) and how many blocks came from the general allocator: a close
  // frees those from the oldest on and lets the chunks go whole, without visiting every block.
  PBlockHeader FLastBlock = nullptr;
  size_t FHeapBlocks = 0;
  // The newest block's last FFreshItems items were never handed out: their headers are
  // not written yet, so a block costs nothing until its items are taken one by one.
  PBlockHeader FFreshBlock = nullptr;
  uint16_t FFreshItems = 0;
  void IndexBlocks() const;
  PBlockHeader BlockHolding(const uint8_t* address) const noexcept;
  bool Holds(PBlockHeader block, const uint8_t* address) const noexcept;

  // Start addresses of the indexed blocks, to find the block an item lies in. Fetching and
  // appending add no index entries: the blocks not indexed yet are the first ones of the block
  // list (new blocks go to the front), and the first IsItemInUse indexes them.
  mutable std::set<const uint8_t*> FLiveBlocks;
  mutable uint32_t FUnindexedBlocks = 0;
  std::unordered_map<const TItemHeader*, PItemHeader> FRollbacks;
  TChunk* FChunks = nullptr;  // every chunk, newest first
  size_t FBlockBytes = 0;     // held in live blocks
  uint32_t FLastStamp = 0;
  int32_t FRecordSize = 0;
  uint16_t FDefaultItemCount = 64;
};

// ---- String heap ----------------------------------------------------------------------------

// Reference-counted buffers for the variable-length strings of records and the other small
// buffers the record store and the providers need many of. Buffers of up to MaxSmallSize bytes
// are carved from BlockSize blocks and recycled through free lists by size class (class = size in
// units of 8 bytes); larger ones are allocated one by one. The blocks of a large heap are carved
// from chunks the system maps with their pages already present.
//
// In front of the address handed out: the size (signed 32-bit; for small buffers the class size,
// never above MaxSmallSize) and the reference count (signed 16-bit; RefOne for one reference,
// RefFree for a small buffer on a free list). Buffer data is 2-byte aligned.
class TStringHeap {
 public:
  static constexpr int SmallClassCount = 250;
  static constexpr int32_t MaxSmallSize = SmallClassCount * 8;  // 2,000 bytes
  static constexpr size_t BlockSize = 16384;
  static constexpr size_t BlockLinkSize = sizeof(void*);  // each block starts with a link to the previous one
  static constexpr size_t BufHeaderSize = 6;              // size + reference count
  static constexpr int16_t RefFree = 100;
  static constexpr int16_t RefOne = 101;

  TStringHeap();
  ~TStringHeap();
  TStringHeap(const TStringHeap&) = delete;
  TStringHeap& operator=(const TStringHeap&) = delete;

  // A buffer of at least size bytes with one reference; nil for size <= 0.
  // Raises EOutOfMemory when no memory can be had.
  void* NewBuf(int32_t size);
  // A zero-terminated copy of len bytes of text (len < 0: up to the terminating zero); with trim,
  // trailing blanks are dropped. Nil for a nil text.
  char* AllocStr(const char* text, bool trim, int32_t len = -1);
  // The same in 16-bit characters.
  char16_t* AllocWideStr(const char16_t* text, bool trim, int32_t len = -1);
  // Drops one reference; a small buffer whose last reference goes returns to its free list, a
  // large one to the system. Nil is ignored. EAssertionFailed ("DisposeBuf failed") for a buffer
  // without references (freed twice).
  void DisposeBuf(void* buf);
  // Adds one reference; nil is ignored. EAssertionFailed ("AddRefStr failed") for a buffer
  // without references or with the most references a count can hold.
  void AddRef(void* buf);
  // AddRef of each buffer a record holds at the offsets, under one lock.
  void AddRefAt(const void* record, std::span<const uint32_t> offsets);
  // DisposeBuf of each buffer a record holds at the offsets, under one lock; a slot whose last
  // reference went is set to nil.
  void DisposeAt(void* record, std::span<const uint32_t> offsets);
  // Releases every block at once. Large buffers are not tracked: their owners dispose of them.
  void Clear() noexcept;

  bool Empty() const noexcept { return FEmpty; }
  // True once a large buffer was handed out since creation or the last Clear.
  bool SysGetMemUsed() const noexcept { return FSysGetMemUsed; }

  // With a lock object, NewBuf, DisposeBuf, AddRef and Clear run under it. The heap owns it.
  void SetThreadSafetyLock(std::unique_ptr<TCriticalSection> lock);
  TCriticalSection* ThreadSafetyLock() const noexcept { return FLock.get(); }

  // Read for every heap field of every record read: inline.
  static int32_t BufSize(const void* buf) noexcept { return Marshal::ReadInt32(buf, -6); }
  static int16_t RefCount(const void* buf) noexcept { return Marshal::ReadInt16(buf, -2); }

 private:
  void* NewSmallBuf(int cls);
  void* NewLargeBuf(int32_t size);
  void NewBlock();
  uint8_t* AllocBlock();
  void PushFree(uint8_t* buf, int cls) noexcept;
  void DisposeBufLocked(void* buf);
  void AddRefLocked(void* buf);
  void ClearLocked() noexcept;

  uint8_t* FFreeLists[SmallClassCount + 1] = {};  // index = class; 0 unused
  uint8_t* FRoot = nullptr;
  size_t FFree = BlockSize - BlockLinkSize;
  size_t FBlockCount = 0;
  std::vector<uint8_t*> FChunks;  // the mapped chunks blocks are carved from
  size_t FChunkUsed = 0;          // bytes of the newest chunk handed out as blocks
  bool FEmpty = true;
  bool FSysGetMemUsed = false;
  std::unique_ptr<TCriticalSection> FLock;
};
