#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/runtime/SyncObjs.h"

namespace {

TEST(EventTest, ManualAndAutoReset) {
  TEvent manual(true, false);
  EXPECT_EQ(manual.WaitFor(10), TWaitResult::wrTimeout);
  std::thread t([&] { manual.SetEvent(); });
  EXPECT_EQ(manual.WaitFor(5000), TWaitResult::wrSignaled);
  t.join();
  EXPECT_EQ(manual.WaitFor(0), TWaitResult::wrSignaled);  // stays signalled
  manual.ResetEvent();
  EXPECT_EQ(manual.WaitFor(0), TWaitResult::wrTimeout);

  TEvent autoReset(false, true);
  EXPECT_EQ(autoReset.WaitFor(0), TWaitResult::wrSignaled);
  EXPECT_EQ(autoReset.WaitFor(0), TWaitResult::wrTimeout);
}

TEST(CriticalSectionTest, GuardsACounterAcrossThreadsAndReenters) {
  TCriticalSection cs;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        std::lock_guard<TCriticalSection> outer(cs);
        std::lock_guard<TCriticalSection> inner(cs);  // re-entry by the owner
        ++counter;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
}

}  // namespace
