#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "core/MemBlocks.h"
#include "platform/runtime/SyncObjs.h"

namespace {

// With a lock object, threads may share one heap: some allocate and release their own buffers
// while all of them add and drop references to shared ones. Every count must come out exact.
TEST(StringHeapThreadsTest, ALockedHeapKeepsCountsExactAcrossThreads) {
  TStringHeap heap;
  heap.SetThreadSafetyLock(std::make_unique<TCriticalSection>());
  std::vector<void*> shared;
  for (int i = 0; i < 16; ++i) shared.push_back(heap.NewBuf(24));

  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&heap, &shared, t] {
      std::mt19937 rng(t);
      std::vector<char*> own;
      for (int i = 0; i < 5000; ++i) {
        void* s = shared[rng() % shared.size()];
        heap.AddRef(s);
        char* p = heap.AllocStr("thread", false);
        own.push_back(p);
        if (own.size() > 20) {
          ASSERT_STREQ(own.front(), "thread");
          heap.DisposeBuf(own.front());
          own.erase(own.begin());
        }
        heap.DisposeBuf(s);
      }
      for (char* p : own) heap.DisposeBuf(p);
    });
  for (auto& th : threads) th.join();
  for (void* s : shared) {
    EXPECT_EQ(TStringHeap::RefCount(s), TStringHeap::RefOne);
    heap.DisposeBuf(s);
  }
}

}  // namespace
