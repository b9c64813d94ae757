#include "core/MemBlocks.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <string>

#include "core/CLRClasses.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SyncObjs.h"

namespace {

constexpr size_t RoundUp(size_t n, size_t unit) {
  return (n + unit - 1) / unit * unit;
}

// Items (and the block after the block header) start at boundaries of their pointers' size.
constexpr size_t ItemAlign = alignof(TItemHeader*);
constexpr size_t BlockHeaderSpace = RoundUp(sizeof(TBlockHeader), ItemAlign);

// A store that holds this much in blocks is a large one: its further blocks come from chunks of
// ChunkSize bytes mapped from the system with their pages present. Filling a large store then
// costs one call a chunk instead of a page fault for every 4 KiB, and its close returns the chunks
// whole. Small stores keep the general allocator, so they never hold a chunk's memory.
constexpr size_t ChunkSize = size_t{2} << 20;
constexpr size_t ChunkThreshold = ChunkSize / 2;
// Larger blocks keep the general allocator: a chunk holds at least this many, so little is lost
// at its end.
constexpr size_t MinBlocksInChunk = 16;

// ChunkSize bytes at a ChunkSize boundary (a block finds its chunk by rounding its address down);
// nil when the system has none.
void* MapChunk() noexcept {
  void* raw = mmap(nullptr, 2 * ChunkSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  auto* start = static_cast<uint8_t*>(raw);
  auto* aligned = reinterpret_cast<uint8_t*>(RoundUp(reinterpret_cast<uintptr_t>(start), ChunkSize));
  if (aligned > start) munmap(start, static_cast<size_t>(aligned - start));
  const size_t tail = static_cast<size_t>(start + 2 * ChunkSize - (aligned + ChunkSize));
  if (tail > 0) munmap(aligned + ChunkSize, tail);
  // No huge pages: the system clears a fresh one before handing it out, and when it must first
  // gather it (or a virtual machine's host must back it again) that costs several times the small
  // pages' faults; a million-row fill took twice as long. The pages come in one call; where the
  // system cannot do that they come at first touch, which works the same.
  madvise(aligned, ChunkSize, MADV_NOHUGEPAGE);
  madvise(aligned, ChunkSize, MADV_POPULATE_WRITE);
  return aligned;
}

}  // namespace

// The head of a chunk, in its first bytes; the block slots, all of one size, follow.
struct TBlockManager::TChunk {
  TChunk* Prev;
  TChunk* Next;
  size_t SlotSize;
  size_t Carved;    // where the slots never handed out begin
  void* FreeSlots;  // slots given back, linked through their first word
  size_t LiveBlocks;
};

namespace {

constexpr size_t ChunkHeadSpace = RoundUp(sizeof(void*) * 6, 64);

}  // namespace

// ---- TBlockManager --------------------------------------------------------------------------

TBlockManager::~TBlockManager() {
  FreeAllBlocks();
}

void TBlockManager::SetRecordSize(int32_t value) {
  DA_ASSERT(value >= 0);
  if (value == FRecordSize) return;
  DA_ASSERT_MSG(FFirstBlock == nullptr, "RecordSize changed while items exist");
  FRecordSize = value;
}

void TBlockManager::SetDefaultItemCount(uint16_t value) {
  DA_ASSERT(value > 0);
  FDefaultItemCount = value;
}

// Items are laid out back to back; the stride keeps every header pointer-aligned, so a block's
// size is a multiple of that too and blocks carved from a chunk stay aligned.
size_t TBlockManager::ItemStride() const noexcept {
  return RoundUp(sizeof(TItemHeader) + static_cast<size_t>(FRecordSize), ItemAlign);
}

PItemHeader TBlockManager::ItemOfBlock(PBlockHeader block, int index) const noexcept {
  return reinterpret_cast<PItemHeader>(reinterpret_cast<uint8_t*>(block) + BlockHeaderSpace +
                                       static_cast<size_t>(index) * ItemStride());
}

PBlockHeader TBlockManager::BlockOf(const TItemHeader* item) const noexcept {
  const auto* at =
      reinterpret_cast<const uint8_t*>(item) - static_cast<size_t>(item->IndexInBlock) * ItemStride();
  return reinterpret_cast<PBlockHeader>(const_cast<uint8_t*>(at - BlockHeaderSpace));
}

const TItemHeader* TBlockManager::AllocatedAfter(const TItemHeader* item, size_t distance) const noexcept {
  const size_t stride = ItemStride();
  const PBlockHeader block = BlockOf(item);
  size_t ahead = item->IndexInBlock + distance;
  if (ahead < block->ItemCount)
    return reinterpret_cast<const TItemHeader*>(reinterpret_cast<const uint8_t*>(item) + distance * stride);
  // The rest of the way runs on from the first item of each newer block.
  ahead -= block->ItemCount;
  for (PBlockHeader next = block->Prev; next; next = next->Prev) {
    if (ahead < next->ItemCount) return ItemOfBlock(next, static_cast<int>(ahead));
    ahead -= next->ItemCount;
  }
  return nullptr;
}

void* TBlockManager::AllocFromChunk(size_t bytes) noexcept {
  for (TChunk* c = FChunks; c; c = c->Next) {  // newest first: it mostly has room
    if (c->SlotSize != bytes) continue;
    if (void* slot = c->FreeSlots) {
      c->FreeSlots = Marshal::ReadIntPtr(slot);
      ++c->LiveBlocks;
      return slot;
    }
    if (c->Carved + bytes <= ChunkSize) {
      void* slot = reinterpret_cast<uint8_t*>(c) + c->Carved;
      c->Carved += bytes;
      ++c->LiveBlocks;
      return slot;
    }
  }
  auto* c = static_cast<TChunk*>(MapChunk());
  if (!c) return nullptr;
  *c = TChunk{nullptr, FChunks, bytes, ChunkHeadSpace + bytes, nullptr, 1};
  if (FChunks) FChunks->Prev = c;
  FChunks = c;
  return reinterpret_cast<uint8_t*>(c) + ChunkHeadSpace;
}

void TBlockManager::ReleaseToChunk(PBlockHeader block) noexcept {
  // Chunks lie at ChunkSize boundaries: a block's chunk starts at the boundary below it.
  auto* c = reinterpret_cast<TChunk*>(reinterpret_cast<uintptr_t>(block) / ChunkSize * ChunkSize);
  if (--c->LiveBlocks > 0) {
    Marshal::WriteIntPtr(block, c->FreeSlots);
    c->FreeSlots = block;
    return;
  }
  if (c->Prev)
    c->Prev->Next = c->Next;
  else
    FChunks = c->Next;
  if (c->Next) c->Next->Prev = c->Prev;
  munmap(c, ChunkSize);
}

void TBlockManager::ReleaseAllChunks() noexcept {
  while (TChunk* c = FChunks) {
    FChunks = c->Next;
    munmap(c, ChunkSize);
  }
}

// Sets InChunk; raises EOutOfMemory when no memory can be had.
void* TBlockManager::AllocBlockMemory(size_t bytes) {
  if (FBlockBytes >= ChunkThreshold && bytes <= (ChunkSize - ChunkHeadSpace) / MinBlocksInChunk) {
    if (void* slot = AllocFromChunk(bytes)) {
      static_cast<PBlockHeader>(slot)->InChunk = true;
      return slot;
    }
  }
  void* block = Marshal::AllocHGlobal(bytes);
  static_cast<PBlockHeader>(block)->InChunk = false;
  return block;
}

PBlockHeader TBlockManager::AllocBlock(uint16_t count) {
  const size_t bytes = BlockHeaderSpace + count * ItemStride();
  auto* block = static_cast<PBlockHeader>(AllocBlockMemory(bytes));
  FBlockBytes += bytes;
  block->ItemCount = count;
  block->UsedItems = 0;
  block->Indexed = false;
  ++FUnindexedBlocks;
  block->Prev = nullptr;
  block->Next = FFirstBlock;
  if (FFirstBlock)
    FFirstBlock->Prev = block;
  else
    FLastBlock = block;
  FFirstBlock = block;
  if (!block->InChunk) ++FHeapBlocks;
  return block;
}

void TBlockManager::FreeBlock(PBlockHeader block) noexcept {
  if (block->Prev)
    block->Prev->Next = block->Next;
  else
    FFirstBlock = block->Next;
  if (block->Next)
    block->Next->Prev = block->Prev;
  else
    FLastBlock = block->Prev;
  if (block->Indexed)
    FLiveBlocks.erase(reinterpret_cast<const uint8_t*>(block));
  else
    --FUnindexedBlocks;  // it was one of the first blocks: the others still are
  FBlockBytes -= BlockHeaderSpace + block->ItemCount * ItemStride();
  if (block->InChunk) {
    ReleaseToChunk(block);
  } else {
    --FHeapBlocks;
    Marshal::FreeHGlobal(block);
  }
}

// Oldest first: each block then joins the free space before it, and the newest one, which borders
// the top of the heap, goes last, so the allocator shrinks the heap once rather than at every
// block (freeing newest first costs as much as filling the blocks did).
// Blocks in chunks go with their chunks: the walk ends at the last block of the general allocator.
void TBlockManager::FreeAllBlocks() noexcept {
  for (PBlockHeader block = FLastBlock; block && FHeapBlocks > 0;) {
    PBlockHeader newer = block->Prev;
    if (!block->InChunk) {
      --FHeapBlocks;
      Marshal::FreeHGlobal(block);
    }
    block = newer;
  }
  ReleaseAllChunks();
  FFirstBlock = nullptr;
  FLastBlock = nullptr;
  FHeapBlocks = 0;
  FBlockBytes = 0;
  FRollbacks.clear();
  FLiveBlocks.clear();  // at once: erasing block by block rebalances the tree every time
  FUnindexedBlocks = 0;
  FFirstFree = nullptr;
  FFreshBlock = nullptr;
  FFreshItems = 0;
}

void TBlockManager::UnlinkFree(PItemHeader item) noexcept {
  if (item->Prev)
    item->Prev->Next = item->Next;
  else
    FFirstFree = item->Next;
  if (item->Next) item->Next->Prev = item->Prev;
}

// Oldest first, so that after a failed insert the blocks still missing are the first ones.
void TBlockManager::IndexBlocks() const {
  if (FUnindexedBlocks == 0) return;
  PBlockHeader block = FFirstBlock;
  for (uint32_t i = 1; i < FUnindexedBlocks; ++i) block = block->Next;
  for (; FUnindexedBlocks > 0; block = block->Prev) {
    // Blocks mostly come at rising addresses: the hint makes the insert constant time.
    FLiveBlocks.insert(FLiveBlocks.end(), reinterpret_cast<const uint8_t*>(block));
    block->Indexed = true;
    --FUnindexedBlocks;
  }
}

bool TBlockManager::Holds(PBlockHeader block, const uint8_t* address) const noexcept {
  const auto* first = reinterpret_cast<const uint8_t*>(ItemOfBlock(block, 0));
  return address >= first && address < reinterpret_cast<const uint8_t*>(ItemOfBlock(block, block->ItemCount));
}

PBlockHeader TBlockManager::BlockHolding(const uint8_t* address) const noexcept {
  auto it = FLiveBlocks.upper_bound(address);
  if (it != FLiveBlocks.begin()) {
    auto* block = reinterpret_cast<PBlockHeader>(const_cast<uint8_t*>(*std::prev(it)));
    if (Holds(block, address)) return block;
  }
  PBlockHeader block = FFirstBlock;  // the blocks an index that could not grow lacks
  for (uint32_t i = 0; i < FUnindexedBlocks; ++i, block = block->Next)
    if (Holds(block, address)) return block;
  return nullptr;
}

bool TBlockManager::IsItemInUse(const TItemHeader* item, uint32_t stamp) const noexcept {
  try {
    IndexBlocks();
  } catch (...) {
    // Out of memory: BlockHolding looks at the blocks not indexed one by one.
  }
  const auto* address = reinterpret_cast<const uint8_t*>(item);
  PBlockHeader block = BlockHolding(address);
  if (!block) return false;
  const size_t offset =
      static_cast<size_t>(address - reinterpret_cast<const uint8_t*>(ItemOfBlock(block, 0)));
  if (offset % ItemStride() != 0) return false;
  // A slot never handed out holds whatever the memory held before, not a header.
  if (block == FFreshBlock && offset / ItemStride() >= static_cast<size_t>(block->ItemCount - FFreshItems))
    return false;
  return item->Flag == ItemUsed && item->Stamp == stamp;
}

PItemHeader TBlockManager::AllocItem() {
  PItemHeader item = FFirstFree;
  PBlockHeader block;
  if (item) {
    DA_ASSERT(item->Flag == ItemFree);
    FFirstFree = item->Next;
    if (FFirstFree) FFirstFree->Prev = nullptr;
    block = BlockOf(item);
  } else {
    if (FFreshItems == 0) {
      FFreshBlock = AllocBlock(FDefaultItemCount);
      FFreshItems = FFreshBlock->ItemCount;
    }
    block = FFreshBlock;
    const auto index = static_cast<uint16_t>(block->ItemCount - FFreshItems);
    --FFreshItems;
    item = ItemOfBlock(block, index);
    item->IndexInBlock = index;
  }
  item->Flag = ItemUsed;
  item->Prev = nullptr;
  item->Next = nullptr;
  item->HasRollback = false;
  item->Status = isUnmodified;
  item->UpdateResult = UpdateResultNone;
  item->Order = 0;
  item->FilterResult = FilterNotEvaluated;
  if (++FLastStamp == 0) FLastStamp = 1;  // 0 stays "no stamp"
  item->Stamp = FLastStamp;
  block->UsedItems++;
  return item;
}

void TBlockManager::FreeItem(PItemHeader item) {
  DA_ASSERT(item != nullptr);
  DA_ASSERT(item->Flag == ItemUsed);
  PBlockHeader block = BlockOf(item);
  DA_ASSERT(block->UsedItems > 0);
  if (block->UsedItems != 1) {
    SetRollback(item, nullptr);
    item->Flag = ItemFree;
    item->Prev = nullptr;
    item->Next = FFirstFree;
    if (FFirstFree) FFirstFree->Prev = item;
    FFirstFree = item;
    block->UsedItems--;
    return;
  }
  // The block's last item in use: the whole block goes. Check before unlinking anything, so a
  // failed check leaves the lists as they were. Items never handed out are on no list.
  const int end = block == FFreshBlock ? block->ItemCount - FFreshItems : block->ItemCount;
  for (int i = 0; i < end; ++i) {
    PItemHeader other = ItemOfBlock(block, i);
    if (other != item) DA_ASSERT(other->Flag == ItemFree);
  }
  for (int i = 0; i < end; ++i) {
    PItemHeader other = ItemOfBlock(block, i);
    if (other != item) UnlinkFree(other);
  }
  SetRollback(item, nullptr);
  item->Flag = ItemFree;
  if (block == FFreshBlock) {
    FFreshBlock = nullptr;
    FFreshItems = 0;
  }
  FreeBlock(block);
}

PItemHeader TBlockManager::FindRollback(const TItemHeader* item) const noexcept {
  auto it = FRollbacks.find(item);
  return it != FRollbacks.end() ? it->second : nullptr;
}

void TBlockManager::SetRollback(PItemHeader item, PItemHeader rollback) {
  if (!rollback) {
    if (item->HasRollback) FRollbacks.erase(item);
    item->HasRollback = false;
    return;
  }
  try {
    FRollbacks[item] = rollback;
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory("Out of memory");
  }
  item->HasRollback = true;
}

void TBlockManager::CopyRecord(PItemHeader source, PItemHeader dest) const {
  if (source != dest) std::memcpy(GetRecordPtr(dest), GetRecordPtr(source), static_cast<size_t>(FRecordSize));
}

// ---- TStringHeap ----------------------------------------------------------------------------

namespace {

// The smallest buffer a block can still give: one 8-byte class and its header.
constexpr size_t MinBufSpace = TStringHeap::BufHeaderSize + 8;

void WriteSize(uint8_t* buf, int32_t size) noexcept {
  Marshal::WriteInt32(buf, -6, size);
}
void WriteRef(uint8_t* buf, int16_t ref) noexcept {
  Marshal::WriteInt16(buf, -2, ref);
}
uint8_t* ReadLink(const uint8_t* p) noexcept {
  return static_cast<uint8_t*>(Marshal::ReadIntPtr(p));
}
void WriteLink(uint8_t* p, uint8_t* link) noexcept {
  Marshal::WriteIntPtr(p, link);
}

// Runs the heap's work under its lock when it has one.
std::unique_lock<TCriticalSection> LockHeap(TCriticalSection* lock) {
  return lock ? std::unique_lock<TCriticalSection>(*lock) : std::unique_lock<TCriticalSection>();
}

}  // namespace

static_assert(TStringHeap::BufHeaderSize == sizeof(int32_t) + sizeof(int16_t));

TStringHeap::TStringHeap() = default;

TStringHeap::~TStringHeap() {
  ClearLocked();
}

void TStringHeap::SetThreadSafetyLock(std::unique_ptr<TCriticalSection> lock) {
  FLock = std::move(lock);
}

namespace {

// A large string heap's blocks come from chunks of this size, mapped with their pages present:
// one call instead of a page fault for every 4 KiB the heap fills. (No huge pages: clearing a
// fresh one costs more than the faults it saves when the system must first gather it.)
constexpr size_t HeapChunkSize = size_t{2} << 20;
constexpr size_t HeapChunkThreshold = size_t{1} << 20;

}  // namespace

uint8_t* TStringHeap::AllocBlock() {
  if (FBlockCount * BlockSize >= HeapChunkThreshold) {
    if (FChunks.empty() || FChunkUsed + BlockSize > HeapChunkSize) {
      void* chunk = mmap(nullptr, HeapChunkSize, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
      if (chunk != MAP_FAILED) {
        try {
          FChunks.push_back(static_cast<uint8_t*>(chunk));
        } catch (...) {
          munmap(chunk, HeapChunkSize);
          throw EOutOfMemory("Out of memory");
        }
        FChunkUsed = 0;
      }
    }
    if (!FChunks.empty() && FChunkUsed + BlockSize <= HeapChunkSize) {
      uint8_t* block = FChunks.back() + FChunkUsed;
      FChunkUsed += BlockSize;
      ++FBlockCount;
      return block;
    }
  }
  auto* block = static_cast<uint8_t*>(Marshal::AllocHGlobal(BlockSize));
  ++FBlockCount;
  return block;
}

void TStringHeap::NewBlock() {
  uint8_t* block = AllocBlock();
  WriteLink(block, FRoot);
  FRoot = block;
  FFree = BlockSize - BlockLinkSize;
}

void TStringHeap::PushFree(uint8_t* buf, int cls) noexcept {
  WriteLink(buf, FFreeLists[cls]);
  FFreeLists[cls] = buf;
}

void* TStringHeap::NewBuf(int32_t size) {
  if (size <= 0) return nullptr;
  auto guard = LockHeap(FLock.get());
  FEmpty = false;
  const int32_t cls = static_cast<int32_t>((static_cast<int64_t>(size) + 7) / 8);
  return cls <= SmallClassCount ? NewSmallBuf(cls) : NewLargeBuf(size);
}

void* TStringHeap::NewSmallBuf(int cls) {
  if (uint8_t* buf = FFreeLists[cls]) {
    FFreeLists[cls] = ReadLink(buf);
    WriteRef(buf, RefOne);
    return buf;
  }
  const size_t need = static_cast<size_t>(cls) * 8 + BufHeaderSize;
  if (!FRoot || FFree < need) {
    uint8_t* oldBlock = FRoot;
    const size_t oldFree = FFree;
    NewBlock();  // first, so that a failure leaves the heap as it was
    if (oldBlock) {
      // The rest of the old block becomes a free buffer of the class that fits in it.
      const int restCls = static_cast<int>((oldFree - BufHeaderSize) / 8);
      DA_ASSERT(restCls >= 1 && restCls <= SmallClassCount);
      uint8_t* rest = oldBlock + BlockSize - oldFree + BufHeaderSize;
      WriteSize(rest, restCls * 8);
      WriteRef(rest, RefFree);
      PushFree(rest, restCls);
    }
  }
  uint8_t* buf = FRoot + BlockSize - FFree + BufHeaderSize;
  int32_t size = cls * 8;
  if (FFree - need < MinBufSpace) {
    // Too little left for any buffer: this one takes the whole eights that remain, unless
    // that would lift it out of the small classes (it must go back to a free list, never to
    // the system), and the next block starts at once.
    const auto extra = static_cast<int32_t>((FFree - need) / 8 * 8);
    NewBlock();
    if (size + extra <= MaxSmallSize) size += extra;
  } else {
    FFree -= need;
  }
  WriteSize(buf, size);
  WriteRef(buf, RefOne);
  return buf;
}

void* TStringHeap::NewLargeBuf(int32_t size) {
  auto* buf =
      static_cast<uint8_t*>(Marshal::AllocHGlobal(static_cast<size_t>(size) + BufHeaderSize)) + BufHeaderSize;
  WriteSize(buf, size);
  WriteRef(buf, RefOne);
  FSysGetMemUsed = true;
  return buf;
}

char* TStringHeap::AllocStr(const char* text, bool trim, int32_t len) {
  if (!text) return nullptr;
  size_t n = len < 0 ? std::strlen(text) : static_cast<size_t>(len);
  if (trim)
    while (n > 0 && text[n - 1] == ' ') --n;
  DA_ASSERT(n < static_cast<size_t>(INT32_MAX));
  auto* buf = static_cast<char*>(NewBuf(static_cast<int32_t>(n + 1)));
  std::memcpy(buf, text, n);
  buf[n] = '\0';
  return buf;
}

char16_t* TStringHeap::AllocWideStr(const char16_t* text, bool trim, int32_t len) {
  if (!text) return nullptr;
  size_t n = len < 0 ? std::char_traits<char16_t>::length(text) : static_cast<size_t>(len);
  if (trim)
    while (n > 0 && text[n - 1] == u' ') --n;
  DA_ASSERT(n < static_cast<size_t>(INT32_MAX / 2));
  auto* buf = static_cast<char16_t*>(NewBuf(static_cast<int32_t>((n + 1) * 2)));
  std::memcpy(buf, text, n * 2);
  buf[n] = u'\0';
  return buf;
}

void TStringHeap::DisposeBuf(void* buf) {
  if (!buf) return;
  auto guard = LockHeap(FLock.get());
  DisposeBufLocked(buf);
}

void TStringHeap::DisposeBufLocked(void* p) {
  auto* buf = static_cast<uint8_t*>(p);
  const int16_t ref = RefCount(buf);
  DA_ASSERT_MSG(ref >= RefOne, "DisposeBuf failed");
  if (ref > RefOne) {
    WriteRef(buf, static_cast<int16_t>(ref - 1));
    return;
  }
  const int64_t cls = (static_cast<int64_t>(BufSize(buf)) + 7) / 8;
  DA_ASSERT_MSG(cls > 0, "SmallTab in DisposeBuf failed");
  WriteRef(buf, RefFree);
  if (cls <= SmallClassCount)
    PushFree(buf, static_cast<int>(cls));
  else
    Marshal::FreeHGlobal(buf - BufHeaderSize);
}

void TStringHeap::AddRef(void* buf) {
  if (!buf) return;
  // Under the lock too: an unguarded count update racing a DisposeBuf would lose one of them.
  auto guard = LockHeap(FLock.get());
  AddRefLocked(buf);
}

void TStringHeap::AddRefAt(const void* record, std::span<const uint32_t> offsets) {
  auto guard = LockHeap(FLock.get());
  for (const uint32_t offset : offsets)
    if (void* buf = Marshal::ReadIntPtr(record, offset)) AddRefLocked(buf);
}

void TStringHeap::DisposeAt(void* record, std::span<const uint32_t> offsets) {
  auto guard = LockHeap(FLock.get());
  for (const uint32_t offset : offsets) {
    void* buf = Marshal::ReadIntPtr(record, offset);
    if (!buf) continue;
    const bool last = RefCount(buf) == RefOne;
    DisposeBufLocked(buf);
    if (last) Marshal::WriteIntPtr(record, offset, nullptr);
  }
}

void TStringHeap::AddRefLocked(void* p) {
  auto* buf = static_cast<uint8_t*>(p);
  const int16_t ref = RefCount(buf);
  DA_ASSERT_MSG(ref >= RefOne && ref < INT16_MAX, "AddRefStr failed");
  WriteRef(buf, static_cast<int16_t>(ref + 1));
}

void TStringHeap::Clear() noexcept {
  auto guard = LockHeap(FLock.get());
  ClearLocked();
}

// Oldest block first, as the record store's blocks go: the links run newest to oldest, so they are
// turned round before anything is freed.
void TStringHeap::ClearLocked() noexcept {
  if (FEmpty) return;
  uint8_t* oldest = nullptr;
  while (FRoot) {
    uint8_t* prev = ReadLink(FRoot);
    WriteLink(FRoot, oldest);
    oldest = FRoot;
    FRoot = prev;
  }
  // Blocks carved from a chunk go with their chunk; the others back to the allocator.
  std::sort(FChunks.begin(), FChunks.end());
  while (oldest) {
    uint8_t* newer = ReadLink(oldest);
    auto next = std::upper_bound(FChunks.begin(), FChunks.end(), oldest);
    const bool inChunk = next != FChunks.begin() && oldest < *std::prev(next) + HeapChunkSize;
    if (!inChunk) Marshal::FreeHGlobal(oldest);
    oldest = newer;
  }
  for (uint8_t* chunk : FChunks) munmap(chunk, HeapChunkSize);
  FChunks.clear();
  FChunkUsed = 0;
  FBlockCount = 0;
  FFree = BlockSize - BlockLinkSize;
  for (auto& head : FFreeLists) head = nullptr;
  FEmpty = true;
  FSysGetMemUsed = false;
}
