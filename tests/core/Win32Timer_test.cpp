#include "core/Win32Timer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/runtime/Exceptions.h"
#include "support/ManualMessageLoop.h"

namespace {

class Win32TimerTest : public ::testing::Test {
 protected:
  void Count(TWin32Timer& timer) {
    timer.SetOnTimer([this](TWin32Timer*) { Ticks.push_back(Loop.Now); });
  }
  TManualMessageLoop Loop;
  TMessageLoopInstaller Installed{&Loop};
  std::vector<uint64_t> Ticks;  // the loop's clock at each tick
};

TEST_F(Win32TimerTest, FiresAtItsIntervalWhileEnabledWithAHandlerAndAnInterval) {
  TWin32Timer timer;
  EXPECT_EQ(Loop.ArmCalls, 0) << "no handler, no timer";
  Count(timer);
  timer.SetInterval(250);
  timer.SetEnabled(true);  // current values: not armed again
  timer.SetInterval(250);
  EXPECT_EQ(Loop.ArmCalls, 2);
  Loop.Advance(500);
  timer.SetInterval(0);
  Loop.Advance(1000);
  timer.SetInterval(100);
  timer.SetEnabled(false);
  Loop.Advance(1000);
  timer.SetEnabled(true);
  Loop.Advance(100);
  EXPECT_EQ(Ticks, (std::vector<uint64_t>{250, 500, 2600}));
}

TEST_F(Win32TimerTest, DestroyingItStopsCallsAlsoFromItsOwnHandler) {
  auto timer = std::make_unique<TWin32Timer>();
  Count(*timer);
  timer.reset();
  auto selfFreeing = std::make_unique<TWin32Timer>();
  int calls = 0;
  selfFreeing->SetOnTimer([&](TWin32Timer*) { ++calls, selfFreeing.reset(); });
  Loop.Advance(5000);
  EXPECT_TRUE(Ticks.empty());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(Loop.ArmedCount(), 0u);
}

}  // namespace
