// A message loop that tests drive by hand: time stands still until Advance moves it on, and the
// timers due on the way run in time order on the calling thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/runtime/MessageLoop.h"

class TManualMessageLoop : public TMessageLoop {
 public:
  // Gives 0 while TimerLimit timers are armed.
  TTimerId ArmTimer(uint32_t intervalMs, TTimerProc proc) override;
  void DisarmTimer(TTimerId id) noexcept override { FTimers.erase(id); }
  // Moves the clock on by ms, running each timer every time it falls due.
  void Advance(uint64_t ms);

  uint64_t Now = 0;
  int ArmCalls = 0;
  size_t TimerLimit = SIZE_MAX;
  size_t ArmedCount() const noexcept { return FTimers.size(); }

 private:
  struct TTimer {
    uint32_t Interval;
    uint64_t Due;
    std::shared_ptr<TTimerProc> Proc;  // shared: a proc may disarm its own timer while running
  };
  TTimerId FNextId = 1;
  std::map<TTimerId, TTimer> FTimers;
};

// Installs a loop for the lifetime of the guard.
struct TMessageLoopInstaller {
  explicit TMessageLoopInstaller(TMessageLoop* loop) noexcept { SetMessageLoop(loop); }
  ~TMessageLoopInstaller() { SetMessageLoop(nullptr); }
};
