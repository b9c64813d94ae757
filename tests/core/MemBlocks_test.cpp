#include "core/MemBlocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/runtime/Exceptions.h"

namespace {

// Items ready to be handed out: on the free list or never handed out yet.
int CountFree(const TBlockManager& bm) {
  int n = bm.FreshItems();
  for (PItemHeader i = bm.FirstFree(); i; i = i->Next) ++n;
  return n;
}

TEST(BlockManagerTest, AReusedSlotIsResetAndToldApartFromTheRecordItHeld) {
  TBlockManager bm;
  bm.SetRecordSize(12);
  bm.SetDefaultItemCount(10);
  std::vector<PItemHeader> items;
  for (int i = 0; i < 12; ++i) items.push_back(bm.AllocItem());
  PItemHeader item = items[3];
  const uint32_t stamp = item->Stamp;
  bm.SetRollback(item, items[4]);
  item->Status = isModified;
  item->UpdateResult = 4;
  item->FilterResult = FilterHidden;
  EXPECT_TRUE(bm.IsItemInUse(item, stamp));
  EXPECT_FALSE(bm.IsItemInUse(item, stamp + 100));
  bm.FreeItem(item);
  EXPECT_FALSE(bm.IsItemInUse(item, stamp));  // free
  ASSERT_EQ(bm.AllocItem(), item);            // the same slot comes back...
  EXPECT_FALSE(bm.IsItemInUse(item, stamp));  // ...as another allocation
  EXPECT_TRUE(bm.IsItemInUse(item, item->Stamp));
  EXPECT_EQ(bm.Rollback(item), nullptr);
  EXPECT_EQ(item->Status, isUnmodified);
  EXPECT_EQ(item->UpdateResult, UpdateResultNone);
  EXPECT_EQ(item->FilterResult, FilterNotEvaluated);

  // The second block holds items 10 and 11: freeing both releases it. Asking about its items
  // afterwards must not touch the released memory (the address sanitizer would report it).
  const uint32_t gone = items[10]->Stamp;
  bm.FreeItem(items[10]);
  bm.FreeItem(items[11]);
  EXPECT_FALSE(bm.IsItemInUse(items[10], gone));
  const auto* at = reinterpret_cast<const uint8_t*>(items[5]);  // between items
  EXPECT_FALSE(bm.IsItemInUse(reinterpret_cast<const TItemHeader*>(at + 8), items[5]->Stamp));
  EXPECT_FALSE(bm.IsItemInUse(nullptr, 1));

  // A block released before any question indexed it; the blocks after it are still found.
  std::vector<PItemHeader> third, fourth;
  for (int i = 0; i < 10; ++i) third.push_back(bm.AllocItem());
  for (int i = 0; i < 10; ++i) fourth.push_back(bm.AllocItem());
  const uint32_t thirdStamp = third[0]->Stamp;
  for (PItemHeader i : third) bm.FreeItem(i);
  EXPECT_FALSE(bm.IsItemInUse(third[0], thirdStamp));
  for (PItemHeader i : fourth) EXPECT_TRUE(bm.IsItemInUse(i, i->Stamp));
  bm.FreeAllBlocks();
  EXPECT_FALSE(bm.IsItemInUse(items[5], 1));
}

// A block's items are handed out one by one, their headers written only then: a slot not handed
// out yet is never taken for an item in use, whatever its memory holds, and a block released
// before all its items were handed out leaves nothing behind.
TEST(BlockManagerTest, SlotsNotHandedOutAreNeitherInUseNorListed) {
  TBlockManager bm;
  bm.SetRecordSize(12);
  bm.SetDefaultItemCount(10);
  PItemHeader first = bm.AllocItem();
  PBlockHeader block = bm.BlockOf(first);
  EXPECT_EQ(first, bm.ItemOfBlock(block, 0));  // in address order, as a scan reads them
  EXPECT_EQ(bm.FreshItems(), 9);
  PItemHeader slot = bm.ItemOfBlock(block, 6);
  std::memset(slot, 0, sizeof(TItemHeader));  // as a slot of reused memory may look
  slot->Flag = ItemUsed;
  slot->Stamp = first->Stamp + 1;
  EXPECT_FALSE(bm.IsItemInUse(slot, first->Stamp + 1));
  PItemHeader second = bm.AllocItem();
  EXPECT_EQ(second, bm.ItemOfBlock(block, 1));
  EXPECT_EQ(second->Flag, ItemUsed);
  bm.FreeItem(second);
  EXPECT_EQ(bm.AllocItem(), second);  // a freed item goes before those never handed out
  bm.FreeItem(second);
  bm.FreeItem(first);  // the block goes with 8 items never handed out
  EXPECT_EQ(bm.FirstBlock(), nullptr);
  EXPECT_EQ(bm.FirstFree(), nullptr);
  EXPECT_EQ(bm.FreshItems(), 0);
  PItemHeader again = bm.AllocItem();
  EXPECT_TRUE(bm.IsItemInUse(again, again->Stamp));
  EXPECT_EQ(bm.FreshItems(), 9);
  bm.FreeItem(again);
}

// Where a scan of appended records guesses it goes next: the item allocated that many
// allocations later, across blocks of any size, and nothing past the newest block.
TEST(BlockManagerTest, AllocatedAfterNamesTheItemAllocatedThatManyLater) {
  for (uint16_t perBlock : {1, 3, 10, 64}) {
    SCOPED_TRACE(testing::Message() << perBlock << " items a block");
    TBlockManager bm;
    bm.SetRecordSize(12);
    bm.SetDefaultItemCount(perBlock);
    std::vector<PItemHeader> items;
    for (int i = 0; i < 25; ++i) items.push_back(bm.AllocItem());
    const size_t capacity = (25 + perBlock - 1) / perBlock * perBlock;
    for (size_t i = 0; i < items.size(); ++i)
      for (size_t distance : {0, 1, 2, 8, 24, 80}) {
        SCOPED_TRACE(testing::Message() << "item " << i << ", " << distance << " on");
        if (i + distance < items.size()) {
          EXPECT_EQ(bm.AllocatedAfter(items[i], distance), items[i + distance]);
        } else if (i + distance >= capacity) {
          EXPECT_EQ(bm.AllocatedAfter(items[i], distance), nullptr);
        }
      }
    for (PItemHeader item : items) bm.FreeItem(item);
  }
}

TEST(BlockManagerTest, MisuseRaisesAndChangesNothing) {
  TBlockManager bm;
  bm.SetRecordSize(4);
  PItemHeader a = bm.AllocItem();
  PItemHeader b = bm.AllocItem();
  bm.FreeItem(a);
  const int freeBefore = CountFree(bm);
  EXPECT_THROW(bm.FreeItem(a), EAssertionFailed);
  EXPECT_EQ(CountFree(bm), freeBefore);
  EXPECT_EQ(bm.BlockOf(b)->UsedItems, 1);
  EXPECT_THROW(bm.SetRecordSize(20), EAssertionFailed);  // a live item would overrun
  EXPECT_THROW(bm.SetDefaultItemCount(0), EAssertionFailed);
  bm.FreeItem(b);
}

// Many thousands of allocations, copies and releases against a plain model: the live items keep
// their record bytes, the block and free-list bookkeeping matches, and no block outlives its items.
// The large records make the store grow past the general allocator into chunks and back.
TEST(BlockManagerTest, RandomisedAgainstAModel) {
  std::mt19937 rng(20240611);
  const struct {
    uint16_t perBlock;
    size_t size;
    bool chunks;  // the store grows large enough for them
  } cases[] = {{1, 11, false}, {3, 11, false}, {10, 11, false}, {64, 1500, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.perBlock << " items of " << c.size << " bytes a block");
    const size_t size = c.size;
    TBlockManager bm;
    bm.SetRecordSize(static_cast<int32_t>(size));
    bm.SetDefaultItemCount(c.perBlock);
    std::map<PItemHeader, uint8_t> live;  // item -> fill byte of its record
    uint8_t fillByte = 0;
    std::vector<uint8_t> rec(size);  // sized exactly: ASan sees an over-run
    bool sawChunk = false;
    for (int op = 0; op < 15000; ++op) {
      if (live.empty() || rng() % 100 < (op < 7500 ? 60 : 35)) {
        PItemHeader item = bm.AllocItem();
        ASSERT_FALSE(live.count(item));
        if (!live.empty() && rng() % 4 == 0) {
          const auto source = *live.begin();
          bm.CopyRecord(source.first, item);
          live[item] = source.second;
        } else {
          rec.assign(size, ++fillByte);
          bm.PutRecord(item, rec.data());
          live[item] = fillByte;
        }
      } else {
        auto it = std::next(live.begin(), static_cast<long>(rng() % live.size()));
        bm.GetRecord(it->first, rec.data());
        ASSERT_EQ(rec, std::vector<uint8_t>(size, it->second));
        bm.FreeItem(it->first);
        live.erase(it);
      }
      if (op % 997 == 0 || live.empty()) {
        std::map<PBlockHeader, int> used;
        for (auto& [item, fill] : live) {
          used[bm.BlockOf(item)]++;
          ASSERT_TRUE(bm.IsItemInUse(item, item->Stamp));
        }
        int blocks = 0, capacity = 0;
        for (PBlockHeader b = bm.FirstBlock(); b; b = b->Next, ++blocks) {
          ASSERT_EQ(b->UsedItems, used[b]);
          ASSERT_GT(b->UsedItems, 0);
          capacity += b->ItemCount;
          sawChunk |= b->InChunk;
        }
        ASSERT_EQ(blocks, static_cast<int>(used.size()));
        ASSERT_EQ(CountFree(bm), capacity - static_cast<int>(live.size()));
      }
    }
    for (auto& [item, fill] : live) bm.FreeItem(item);
    EXPECT_EQ(bm.FirstBlock(), nullptr);
    EXPECT_EQ(sawChunk, c.chunks);
  }
}

// FreeAllBlocks with items still in use gives back every block, those of the general allocator
// and those of chunks alike, whichever blocks went one by one before (the sanitizer reports a block
// left behind or one freed twice); the manager then fills and empties again.
TEST(BlockManagerTest, FreeAllBlocksReleasesEveryBlockWhateverWentBefore) {
  enum TGone { None, Oldest, Newest, EveryThird };
  const struct {
    const char* name;
    size_t size;  // 1500: past 1 MiB the store moves on to chunks; 9000: its blocks are too large for them
    TGone gone;
  } cases[] = {{"chunks, nothing freed", 1500, None},        {"chunks, oldest freed", 1500, Oldest},
               {"chunks, newest freed", 1500, Newest},       {"chunks, every third freed", 1500, EveryThird},
               {"large blocks, oldest freed", 9000, Oldest}, {"large blocks, every third", 9000, EveryThird}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TBlockManager bm;
    bm.SetRecordSize(static_cast<int32_t>(c.size));
    bm.SetDefaultItemCount(16);
    for (int round = 0; round < 2; ++round) {
      std::vector<std::vector<PItemHeader>> blocks(200);  // oldest first; about 40 before the chunks
      for (auto& items : blocks)
        for (int i = 0; i < 16; ++i) items.push_back(bm.AllocItem());
      bool sawChunk = false;
      for (PBlockHeader b = bm.FirstBlock(); b; b = b->Next) sawChunk |= b->InChunk;
      EXPECT_EQ(sawChunk, c.size == 1500);
      for (size_t k = 0; k < blocks.size(); ++k) {
        const bool go = (c.gone == Oldest && k < 60) || (c.gone == Newest && k >= 150) ||
                        (c.gone == EveryThird && k % 3 == 0);
        if (go)
          for (PItemHeader item : blocks[k]) bm.FreeItem(item);
      }
      bm.FreeAllBlocks();
      ASSERT_EQ(bm.FirstBlock(), nullptr);
    }
  }
}

constexpr size_t Need(int cls) {
  return static_cast<size_t>(cls) * 8 + TStringHeap::BufHeaderSize;
}

// Allocates buffers in a fresh heap's block until exactly `target` bytes of it are left.
void LeaveInBlock(TStringHeap& heap, size_t target) {
  const size_t d = TStringHeap::BlockSize - TStringHeap::BlockLinkSize - target;
  for (size_t k = 1; k <= d / Need(1); ++k) {
    if ((d - 6 * k) % 8 != 0 || d > k * Need(TStringHeap::SmallClassCount)) continue;
    size_t classes = (d - 6 * k) / 8;
    for (size_t i = 0; i < k; ++i) {
      size_t cls = std::min<size_t>(TStringHeap::SmallClassCount, classes - (k - 1 - i));
      heap.NewBuf(static_cast<int32_t>(cls * 8));
      classes -= cls;
    }
    return;
  }
  ADD_FAILURE() << "cannot leave " << target;
}

TEST(StringHeapTest, SizesClassesAndReferences) {
  const struct {
    int32_t request, size;
    bool large;
  } cases[] = {
      {1, 8, false}, {9, 16, false}, {2000, 2000, false}, {2001, 2001, true}, {100000, 100000, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    TStringHeap h;
    void* p = h.NewBuf(c.request);
    EXPECT_EQ(TStringHeap::BufSize(p), c.size);
    EXPECT_EQ(h.SysGetMemUsed(), c.large);
    std::memset(p, 0xAB, static_cast<size_t>(c.request));  // the whole request is usable
    h.DisposeBuf(p);
  }
  TStringHeap heap;
  EXPECT_EQ(heap.NewBuf(0), nullptr);
  void* p = heap.NewBuf(20);
  heap.AddRef(p);
  heap.DisposeBuf(p);
  EXPECT_EQ(TStringHeap::RefCount(p), TStringHeap::RefOne);
  heap.DisposeBuf(p);
  EXPECT_THROW(heap.DisposeBuf(p), EAssertionFailed);
  EXPECT_THROW(heap.AddRef(p), EAssertionFailed);
  EXPECT_EQ(TStringHeap::RefCount(p), TStringHeap::RefFree);  // failed checks change nothing
  EXPECT_EQ(heap.NewBuf(17), p);                              // same class (3)
  for (int i = TStringHeap::RefOne; i < INT16_MAX; ++i) heap.AddRef(p);
  EXPECT_THROW(heap.AddRef(p), EAssertionFailed);  // the count cannot overflow
  EXPECT_EQ(TStringHeap::RefCount(p), INT16_MAX);
}

TEST(StringHeapTest, StringsAreCopiedTerminatedAndTrimmed) {
  TStringHeap heap;
  EXPECT_STREQ(heap.AllocStr("ab  ", true), "ab");
  const char withZero[] = {'a', '\0', 'b'};
  char* z = heap.AllocStr(withZero, false, 3);
  EXPECT_EQ(std::string(z, 4), std::string("a\0b\0", 4));
  char16_t* w = heap.AllocWideStr(u"游戏  ", true);
  EXPECT_EQ(std::u16string(w), u"游戏");
  EXPECT_EQ(reinterpret_cast<uintptr_t>(w) % alignof(char16_t), 0u);
}

// The last buffer of a full block takes the block's few spare bytes, but never grows out of the
// small classes: a 2,000-byte buffer grown past 2,000 would be freed as a large one, which frees
// a pointer inside a heap block.
TEST(StringHeapTest, ABlocksLastBufferGrowsOnlyWithinTheSmallClasses) {
  const struct {
    const char* name;
    size_t left;
    int32_t request, size;
  } cases[] = {{"small buffer takes the spare bytes", Need(1) + 10, 8, 16},
               {"largest class stays", Need(TStringHeap::SmallClassCount) + 12, TStringHeap::MaxSmallSize,
                TStringHeap::MaxSmallSize}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TStringHeap heap;
    LeaveInBlock(heap, c.left);
    void* p = heap.NewBuf(c.request);
    EXPECT_EQ(TStringHeap::BufSize(p), c.size);
    heap.DisposeBuf(p);  // back to the free list of the class it grew to
    EXPECT_FALSE(heap.SysGetMemUsed());
    EXPECT_EQ(heap.NewBuf(c.size - 7), p);
  }
}

// Many thousands of new/add-reference/dispose operations against a plain model: every live buffer
// keeps its bytes, counts match, live buffers never overlap, small ones never exceed their class.
// A large heap carves its later blocks from mapped chunks: every buffer keeps its bytes, and Clear
// and the destructor give back chunks and allocator blocks alike (the sanitizer reports a chunk's
// block handed to the allocator, or an allocator block never freed).
TEST(StringHeapTest, ALargeHeapKeepsEveryBufferAcrossItsChunks) {
  TStringHeap heap;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    std::vector<uint8_t*> bufs;
    for (int i = 0; i < 120000; ++i) {  // about 8 MiB: allocator blocks first, then several chunks
      auto* p = static_cast<uint8_t*>(heap.NewBuf(64));
      std::memset(p, i & 0xFF, 64);
      bufs.push_back(p);
    }
    for (size_t i = 0; i < bufs.size(); i += 2) heap.DisposeBuf(bufs[i]);
    for (size_t i = 0; i < bufs.size(); i += 2) {
      bufs[i] = static_cast<uint8_t*>(heap.NewBuf(64));  // the freed ones come back
      std::memset(bufs[i], i & 0xFF, 64);
    }
    for (size_t i = 0; i < bufs.size(); ++i) {
      ASSERT_EQ(TStringHeap::RefCount(bufs[i]), TStringHeap::RefOne) << i;
      ASSERT_EQ(bufs[i][0], static_cast<uint8_t>(i & 0xFF)) << i;
      ASSERT_EQ(bufs[i][63], static_cast<uint8_t>(i & 0xFF)) << i;
    }
    if (round == 0) heap.Clear();
  }
}

TEST(StringHeapTest, RandomisedAgainstAModel) {
  std::mt19937 rng(7);
  TStringHeap heap;
  struct Live {
    int32_t size;
    int refs;
    uint8_t fill;
  };
  std::map<uint8_t*, Live> live;
  uint8_t fillByte = 0;
  auto check = [&](uint8_t* p, const Live& l) {
    ASSERT_EQ(TStringHeap::RefCount(p), TStringHeap::RefOne + l.refs - 1);
    for (int32_t i = 0; i < l.size; ++i) ASSERT_EQ(p[i], l.fill) << "byte " << i;
  };
  for (int op = 0; op < 40000; ++op) {
    const unsigned r = rng() % 100;
    if (live.empty() || r < 45) {
      static const int32_t edges[] = {1, 7, 8, 9, 1999, 2000, 2001, 3000};
      const int32_t size = rng() % 4 == 0 ? edges[rng() % 8] : static_cast<int32_t>(1 + rng() % 600);
      auto* p = static_cast<uint8_t*>(heap.NewBuf(size));
      const int32_t got = TStringHeap::BufSize(p);
      ASSERT_GE(got, size);
      ASSERT_LE(got, std::max(size, TStringHeap::MaxSmallSize));
      auto after = live.lower_bound(p);
      if (after != live.end()) {
        ASSERT_LE(p + got, after->first - TStringHeap::BufHeaderSize);
      }
      if (after != live.begin()) {
        auto before = std::prev(after);
        ASSERT_LE(before->first + TStringHeap::BufSize(before->first), p - TStringHeap::BufHeaderSize);
      }
      std::memset(p, ++fillByte, static_cast<size_t>(size));
      live[p] = {size, 1, fillByte};
    } else if (r < 60) {
      auto it = std::next(live.begin(), static_cast<long>(rng() % live.size()));
      heap.AddRef(it->first);
      it->second.refs++;
    } else {
      auto it = std::next(live.begin(), static_cast<long>(rng() % live.size()));
      check(it->first, it->second);
      heap.DisposeBuf(it->first);
      if (--it->second.refs == 0) live.erase(it);
    }
    if (op % 20000 == 19999) {
      // The record store's close: large buffers go one by one, then the blocks in one go.
      for (auto& [p, l] : live) {
        check(p, l);
        if (TStringHeap::BufSize(p) > TStringHeap::MaxSmallSize)
          for (int i = 0; i < l.refs; ++i) heap.DisposeBuf(p);
      }
      live.clear();
      heap.Clear();
    }
  }
  for (auto& [p, l] : live)
    for (int i = 0; i < l.refs; ++i) heap.DisposeBuf(p);
}

}  // namespace
