#include "core/MemBlocks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/runtime/Exceptions.h"

namespace {

// ---- TBlockManager --------------------------------------------------------------------------

int CountBlocks(const TBlockManager& bm) {
  int n = 0;
  for (PBlockHeader b = bm.FirstBlock(); b; b = b->Next) ++n;
  return n;
}

int CountFree(const TBlockManager& bm) {
  int n = 0;
  for (PItemHeader i = bm.FirstFree(); i; i = i->Next) ++n;
  return n;
}

TEST(BlockManagerTest, ElevenItemsTakeTwoBlocksAndEachBlockIsTakenFromItsEnd) {
  TBlockManager bm;
  bm.SetRecordSize(13);
  std::vector<PItemHeader> items;
  for (int i = 0; i < 11; ++i) items.push_back(bm.AllocItem());
  ASSERT_EQ(CountBlocks(bm), 2);
  PBlockHeader second = bm.FirstBlock();  // new blocks go to the front
  EXPECT_EQ(second->ItemCount, 10);
  EXPECT_EQ(second->UsedItems, 1);
  EXPECT_EQ(second->Next->UsedItems, 10);
  EXPECT_EQ(items[10], bm.ItemOfBlock(second, 9));
  EXPECT_EQ(items[10]->Block, second);
  EXPECT_EQ(bm.FirstFree(), bm.ItemOfBlock(second, 8));
  EXPECT_EQ(CountFree(bm), 9);
}

TEST(BlockManagerTest, FreeingABlocksLastItemReleasesTheBlockAndItsFreeItems) {
  TBlockManager bm;
  bm.SetRecordSize(8);
  std::vector<PItemHeader> first, second;
  for (int i = 0; i < 10; ++i) first.push_back(bm.AllocItem());
  for (int i = 0; i < 3; ++i) second.push_back(bm.AllocItem());
  ASSERT_EQ(CountBlocks(bm), 2);
  // Free the first block's items in an order that interleaves them with the other block's.
  bm.FreeItem(second[1]);
  for (int i = 0; i < 9; ++i) bm.FreeItem(first[i]);
  EXPECT_EQ(CountFree(bm), 7 + 1 + 9);
  bm.FreeItem(first[9]);
  EXPECT_EQ(CountBlocks(bm), 1);
  EXPECT_EQ(CountFree(bm), 8);
  for (PItemHeader i = bm.FirstFree(); i; i = i->Next) EXPECT_EQ(i->Block, bm.FirstBlock());
  bm.FreeItem(second[0]);
  bm.FreeItem(second[2]);
  EXPECT_EQ(bm.FirstBlock(), nullptr);
  EXPECT_EQ(bm.FirstFree(), nullptr);
  PItemHeader again = bm.AllocItem();
  EXPECT_EQ(CountBlocks(bm), 1);
  bm.FreeItem(again);
}

TEST(BlockManagerTest, AFreshItemIsResetEvenInAReusedSlot) {
  TBlockManager bm;
  bm.SetRecordSize(4);
  PItemHeader keep = bm.AllocItem();  // keeps the block alive
  PItemHeader item = bm.AllocItem();
  item->Rollback = keep;
  item->Status = isModified;
  item->UpdateResult = 4;
  item->Order = 77;
  item->FilterResult = FilterHidden;
  bm.FreeItem(item);
  PItemHeader reused = bm.AllocItem();
  ASSERT_EQ(reused, item);
  EXPECT_EQ(reused->Rollback, nullptr);
  EXPECT_EQ(reused->Status, isUnmodified);
  EXPECT_EQ(reused->UpdateResult, UpdateResultNone);
  EXPECT_EQ(reused->Order, 0);
  EXPECT_EQ(reused->FilterResult, FilterNotEvaluated);
  EXPECT_EQ(reused->Flag, ItemUsed);
}

TEST(BlockManagerTest, IsItemInUseTellsAReusedSlotAndAReleasedBlockWithoutReadingThem) {
  TBlockManager bm;
  bm.SetRecordSize(12);
  std::vector<PItemHeader> items;
  for (int i = 0; i < 12; ++i) items.push_back(bm.AllocItem());
  std::set<uint32_t> stamps;
  for (PItemHeader i : items) stamps.insert(i->Stamp);
  EXPECT_EQ(stamps.size(), items.size());
  EXPECT_EQ(stamps.count(0), 0u);

  PItemHeader kept = items[3];
  const uint32_t keptStamp = kept->Stamp;
  EXPECT_TRUE(bm.IsItemInUse(kept, keptStamp));
  EXPECT_FALSE(bm.IsItemInUse(kept, keptStamp + 100));
  bm.FreeItem(kept);
  EXPECT_FALSE(bm.IsItemInUse(kept, keptStamp));  // free
  PItemHeader reused = bm.AllocItem();
  ASSERT_EQ(reused, kept);                         // the same slot comes back...
  EXPECT_FALSE(bm.IsItemInUse(kept, keptStamp));  // ...as another allocation
  EXPECT_TRUE(bm.IsItemInUse(reused, reused->Stamp));

  // The second block holds items 10 and 11: freeing both releases it. Asking about its items
  // afterwards must not touch the released memory (the address sanitizer would report it).
  const uint32_t gone = items[10]->Stamp;
  bm.FreeItem(items[10]);
  bm.FreeItem(items[11]);
  EXPECT_FALSE(bm.IsItemInUse(items[10], gone));

  // Addresses that are no item: before any block, between items, past the last item.
  const auto* at = reinterpret_cast<const uint8_t*>(items[5]);
  EXPECT_FALSE(bm.IsItemInUse(reinterpret_cast<const TItemHeader*>(at + 8), items[5]->Stamp));
  EXPECT_FALSE(bm.IsItemInUse(nullptr, 1));
  int local = 0;
  EXPECT_FALSE(bm.IsItemInUse(reinterpret_cast<const TItemHeader*>(&local), 1));
  bm.FreeAllBlocks();
  EXPECT_FALSE(bm.IsItemInUse(items[5], 1));
}

TEST(BlockManagerTest, AllocatedAfterFollowsTheAllocationOrderAcrossBlocks) {
  TBlockManager bm;
  bm.SetRecordSize(12);
  bm.SetDefaultItemCount(3);
  std::vector<PItemHeader> items;
  for (int i = 0; i < 9; ++i) items.push_back(bm.AllocItem());
  for (size_t i = 0; i < items.size(); ++i) {
    for (size_t d = 0; d <= 10; ++d) {
      SCOPED_TRACE("item " + std::to_string(i) + ", distance " + std::to_string(d));
      EXPECT_EQ(bm.AllocatedAfter(items[i], d), i + d < items.size() ? items[i + d] : nullptr);
    }
  }
}

TEST(BlockManagerTest, FreeingAnItemTwiceRaisesAndLeavesTheListsIntact) {
  TBlockManager bm;
  bm.SetRecordSize(4);
  PItemHeader a = bm.AllocItem();
  PItemHeader b = bm.AllocItem();
  bm.FreeItem(a);
  const int freeBefore = CountFree(bm);
  EXPECT_THROW(bm.FreeItem(a), EAssertionFailed);
  EXPECT_EQ(CountFree(bm), freeBefore);
  EXPECT_EQ(b->Block->UsedItems, 1);
  bm.FreeItem(b);
  EXPECT_EQ(bm.FirstBlock(), nullptr);
}

TEST(BlockManagerTest, RecordCopiesMoveExactlyRecordSizeBytes) {
  for (int size : {1, 7, 13, 64}) {
    SCOPED_TRACE(size);
    TBlockManager bm;
    bm.SetRecordSize(size);
    PItemHeader a = bm.AllocItem();
    PItemHeader b = bm.AllocItem();
    std::vector<uint8_t> in(size), out(size);  // exact sizes: ASan sees an over-run
    for (int i = 0; i < size; ++i) in[i] = static_cast<uint8_t>(i * 7 + 1);
    bm.PutRecord(a, in.data());
    bm.CopyRecord(a, b);
    bm.GetRecord(b, out.data());
    EXPECT_EQ(in, out);
    EXPECT_EQ(std::memcmp(TBlockManager::GetRecordPtr(a), in.data(), size), 0);
    // Neighbouring items' headers are untouched by a full record write.
    EXPECT_EQ(a->Flag, ItemUsed);
    EXPECT_EQ(b->Flag, ItemUsed);
    bm.FreeItem(a);
    bm.FreeItem(b);
  }
}

TEST(BlockManagerTest, SettingsThatWouldCorruptLiveItemsAreRefused) {
  TBlockManager bm;
  bm.SetRecordSize(10);
  PItemHeader item = bm.AllocItem();
  EXPECT_THROW(bm.SetRecordSize(20), EAssertionFailed);
  EXPECT_NO_THROW(bm.SetRecordSize(10));
  EXPECT_THROW(bm.SetDefaultItemCount(0), EAssertionFailed);
  bm.FreeItem(item);
  bm.SetRecordSize(20);
  EXPECT_EQ(bm.RecordSize(), 20);
}

// Many thousands of allocations and releases against a plain model: the live items keep their
// record bytes, the block and free-list bookkeeping matches, and no block outlives its items.
TEST(BlockManagerTest, RandomisedAgainstAModel) {
  std::mt19937 rng(20240611);
  for (uint16_t perBlock : {1, 3, 10}) {
    SCOPED_TRACE(perBlock);
    TBlockManager bm;
    bm.SetRecordSize(11);
    bm.SetDefaultItemCount(perBlock);
    std::map<PItemHeader, uint8_t> live;  // item -> fill byte of its record
    uint8_t stamp = 0;
    for (int op = 0; op < 20000; ++op) {
      const bool alloc = live.empty() || rng() % 100 < (op < 10000 ? 60 : 35);
      if (alloc) {
        PItemHeader item = bm.AllocItem();
        ASSERT_FALSE(live.count(item));
        std::vector<uint8_t> rec(11, ++stamp);
        bm.PutRecord(item, rec.data());
        live[item] = stamp;
      } else {
        auto it = std::next(live.begin(), static_cast<long>(rng() % live.size()));
        std::vector<uint8_t> rec(11);
        bm.GetRecord(it->first, rec.data());
        ASSERT_EQ(rec, std::vector<uint8_t>(11, it->second));
        bm.FreeItem(it->first);
        live.erase(it);
      }
      if (op % 997 == 0 || live.empty()) {
        std::map<PBlockHeader, int> used;
        for (auto& [item, fill] : live) used[item->Block]++;
        int blocks = 0, capacity = 0;
        for (PBlockHeader b = bm.FirstBlock(); b; b = b->Next, ++blocks) {
          ASSERT_EQ(b->UsedItems, used[b]);
          ASSERT_GT(b->UsedItems, 0);
          capacity += b->ItemCount;
        }
        ASSERT_EQ(blocks, static_cast<int>(used.size()));
        ASSERT_EQ(CountFree(bm), capacity - static_cast<int>(live.size()));
      }
    }
    for (auto& [item, fill] : live) bm.FreeItem(item);
    EXPECT_EQ(bm.FirstBlock(), nullptr);
  }
}

// ---- TStringHeap ----------------------------------------------------------------------------

constexpr size_t FreshBlockSpace = TStringHeap::BlockSize - TStringHeap::BlockLinkSize;
constexpr size_t Need(int cls) { return static_cast<size_t>(cls) * 8 + TStringHeap::BufHeaderSize; }

// Allocates buffers in the current block until exactly `target` bytes of it are left (`left`
// tracks the block's free space). Returns the buffers.
std::vector<void*> LeaveInBlock(TStringHeap& heap, size_t& left, size_t target) {
  const size_t d = left - target;
  for (size_t k = 1; k <= d / Need(1); ++k) {
    if ((d - 6 * k) % 8 != 0 || d > k * Need(TStringHeap::SmallClassCount)) continue;
    size_t classes = (d - 6 * k) / 8;
    std::vector<void*> bufs;
    for (size_t i = 0; i < k; ++i) {
      size_t cls = std::min<size_t>(TStringHeap::SmallClassCount, classes - (k - 1 - i));
      bufs.push_back(heap.NewBuf(static_cast<int32_t>(cls * 8)));
      classes -= cls;
      left -= Need(static_cast<int>(cls));
    }
    return bufs;
  }
  ADD_FAILURE() << "cannot leave " << target << " of " << left;
  return {};
}

TEST(StringHeapTest, SizesAndClasses) {
  TStringHeap heap;
  EXPECT_EQ(heap.NewBuf(0), nullptr);
  EXPECT_EQ(heap.NewBuf(-5), nullptr);
  EXPECT_EQ(heap.AllocStr(nullptr, true), nullptr);
  EXPECT_EQ(heap.AllocWideStr(nullptr, false), nullptr);
  EXPECT_TRUE(heap.Empty());

  struct Case {
    int32_t request;
    int32_t size;
    bool large;
  } cases[] = {{1, 8, false}, {8, 8, false}, {9, 16, false}, {1999, 2000, false},
               {2000, 2000, false}, {2001, 2001, true}, {100000, 100000, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    TStringHeap h;
    void* p = h.NewBuf(c.request);
    EXPECT_EQ(TStringHeap::BufSize(p), c.size);
    EXPECT_EQ(TStringHeap::RefCount(p), TStringHeap::RefOne);
    EXPECT_EQ(h.SysGetMemUsed(), c.large);
    std::memset(p, 0xAB, static_cast<size_t>(c.request));  // the whole request is usable
    h.DisposeBuf(p);
  }
}

TEST(StringHeapTest, ReferencesAndTheFreeListRoundTrip) {
  TStringHeap heap;
  void* p = heap.NewBuf(20);
  heap.AddRef(p);
  EXPECT_EQ(TStringHeap::RefCount(p), 102);
  heap.DisposeBuf(p);
  EXPECT_EQ(TStringHeap::RefCount(p), 101);
  heap.DisposeBuf(p);
  EXPECT_EQ(TStringHeap::RefCount(p), TStringHeap::RefFree);
  EXPECT_THROW(heap.DisposeBuf(p), EAssertionFailed);
  EXPECT_THROW(heap.AddRef(p), EAssertionFailed);
  EXPECT_EQ(TStringHeap::RefCount(p), TStringHeap::RefFree);  // failed checks change nothing
  EXPECT_EQ(heap.NewBuf(17), p);                                // same class (3)
  EXPECT_EQ(TStringHeap::RefCount(p), TStringHeap::RefOne);
  heap.DisposeBuf(nullptr);
  heap.AddRef(nullptr);
}

TEST(StringHeapTest, ReferenceCountCannotOverflow) {
  TStringHeap heap;
  void* p = heap.NewBuf(4);
  for (int i = TStringHeap::RefOne; i < INT16_MAX; ++i) heap.AddRef(p);
  EXPECT_THROW(heap.AddRef(p), EAssertionFailed);
  EXPECT_EQ(TStringHeap::RefCount(p), INT16_MAX);
}

TEST(StringHeapTest, StringsAreCopiedTerminatedAndTrimmed) {
  TStringHeap heap;
  char* s = heap.AllocStr("ab  ", true);
  EXPECT_STREQ(s, "ab");
  EXPECT_EQ(TStringHeap::BufSize(s), 8);
  EXPECT_STREQ(heap.AllocStr("ab  ", false), "ab  ");
  EXPECT_STREQ(heap.AllocStr("abcdef", false, 3), "abc");
  EXPECT_STREQ(heap.AllocStr("   ", true), "");
  const char withZero[] = {'a', '\0', 'b'};
  char* z = heap.AllocStr(withZero, false, 3);
  EXPECT_EQ(std::memcmp(z, withZero, 3), 0);
  EXPECT_EQ(z[3], '\0');

  char16_t* w = heap.AllocWideStr(u"游戏  ", true);
  EXPECT_EQ(std::u16string(w), u"游戏");
  EXPECT_EQ(TStringHeap::BufSize(w), 8);  // (2 + 1) x 2 bytes, class 1
  EXPECT_EQ(reinterpret_cast<uintptr_t>(w) % alignof(char16_t), 0u);
  EXPECT_EQ(std::u16string(heap.AllocWideStr(u"abc", false, 2)), u"ab");
}

TEST(StringHeapTest, TheRestOfAFullBlockBecomesAFreeBuffer) {
  TStringHeap heap;
  size_t left = FreshBlockSpace;
  auto bufs = LeaveInBlock(heap, left, Need(11) + 2);
  ASSERT_FALSE(bufs.empty());
  auto* last = static_cast<uint8_t*>(bufs.back());
  void* big = heap.NewBuf(TStringHeap::MaxSmallSize);  // does not fit: a new block
  uint8_t* rest = last + TStringHeap::BufSize(last) + TStringHeap::BufHeaderSize;
  EXPECT_NE(big, rest);
  void* fromRest = heap.NewBuf(88);  // class 11 is the rest's class
  EXPECT_EQ(fromRest, rest);
  EXPECT_EQ(TStringHeap::BufSize(fromRest), 88);
  EXPECT_EQ(TStringHeap::RefCount(fromRest), TStringHeap::RefOne);
}

TEST(StringHeapTest, AFullBlockEnlargesItsLastBufferAndStartsTheNext) {
  TStringHeap heap;
  size_t left = FreshBlockSpace;
  LeaveInBlock(heap, left, Need(1) + 10);  // after one 8-byte buffer, 10 bytes remain
  auto* p = static_cast<uint8_t*>(heap.NewBuf(8));
  EXPECT_EQ(TStringHeap::BufSize(p), 16);
  void* next = heap.NewBuf(8);
  EXPECT_NE(next, p + 16 + TStringHeap::BufHeaderSize);  // from the new block
  heap.DisposeBuf(p);
  EXPECT_EQ(heap.NewBuf(16), p);  // recycled as the class it grew to
}

TEST(StringHeapTest, ABufferOfTheLargestClassNeverGrowsPastIt) {
  TStringHeap heap;
  size_t left = FreshBlockSpace;
  LeaveInBlock(heap, left, Need(TStringHeap::SmallClassCount) + 12);  // 8 whole bytes spare
  void* p = heap.NewBuf(TStringHeap::MaxSmallSize);
  EXPECT_EQ(TStringHeap::BufSize(p), TStringHeap::MaxSmallSize);
  heap.DisposeBuf(p);  // back to its free list; the system must never see this address
  EXPECT_FALSE(heap.SysGetMemUsed());
  EXPECT_EQ(heap.NewBuf(TStringHeap::MaxSmallSize - 7), p);
}

TEST(StringHeapTest, ClearReleasesBlocksButNotLargeBuffers) {
  TStringHeap heap;
  void* small = heap.NewBuf(10);
  void* large = heap.NewBuf(5000);
  std::memset(large, 1, 5000);
  EXPECT_TRUE(heap.SysGetMemUsed());
  heap.Clear();
  EXPECT_TRUE(heap.Empty());
  EXPECT_FALSE(heap.SysGetMemUsed());
  EXPECT_EQ(TStringHeap::RefCount(large), TStringHeap::RefOne);
  heap.DisposeBuf(large);  // its owner releases it
  void* again = heap.NewBuf(10);
  EXPECT_NE(again, nullptr);
  (void)small;
}

// Many thousands of new/add-reference/dispose operations against a plain model: every live buffer
// keeps its bytes, counts match, live buffers never overlap, small ones never exceed their class.
TEST(StringHeapTest, RandomisedAgainstAModel) {
  std::mt19937 rng(7);
  TStringHeap heap;
  struct Live {
    int32_t size;
    int refs;
    uint8_t fill;
  };
  std::map<uint8_t*, Live> live;
  uint8_t stamp = 0;
  auto check = [&](uint8_t* p, const Live& l) {
    ASSERT_EQ(TStringHeap::RefCount(p), TStringHeap::RefOne + l.refs - 1);
    for (int32_t i = 0; i < l.size; ++i) ASSERT_EQ(p[i], l.fill) << "byte " << i;
  };
  for (int op = 0; op < 60000; ++op) {
    const unsigned r = rng() % 100;
    if (live.empty() || r < 45) {
      static const int32_t edges[] = {1, 7, 8, 9, 1999, 2000, 2001, 3000};
      const int32_t size = rng() % 4 == 0 ? edges[rng() % 8] : static_cast<int32_t>(1 + rng() % 600);
      auto* p = static_cast<uint8_t*>(heap.NewBuf(size));
      const int32_t got = TStringHeap::BufSize(p);
      ASSERT_GE(got, size);
      if (size <= TStringHeap::MaxSmallSize) {
        ASSERT_LE(got, TStringHeap::MaxSmallSize);
      }
      auto after = live.lower_bound(p);
      if (after != live.end()) {
        ASSERT_LE(p + got, after->first - TStringHeap::BufHeaderSize);
      }
      if (after != live.begin()) {
        auto before = std::prev(after);
        ASSERT_LE(before->first + TStringHeap::BufSize(before->first), p - TStringHeap::BufHeaderSize);
      }
      std::memset(p, ++stamp, static_cast<size_t>(size));
      live[p] = {size, 1, stamp};
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
        if (TStringHeap::BufSize(p) > TStringHeap::MaxSmallSize) {
          for (int i = 0; i < l.refs; ++i) heap.DisposeBuf(p);
        }
      }
      live.clear();
      heap.Clear();
    }
  }
  for (auto& [p, l] : live)
    for (int i = 0; i < l.refs; ++i) heap.DisposeBuf(p);
}

}  // namespace
