// A message loop that tests drive by hand: time stands still until Advance moves it on, and the
// timers due on the way run in time order on the calling thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "platform/runtime/MessageLoop.h"

class TManualMessageLoop : public TMessageLoop {
 public:
  TTimerId ArmTimer(uint32_t intervalMs, TTimerProc proc) override;
  void DisarmTimer(TTimerId id) noexcept override;

  // Moves the clock on by ms, running each timer every time it falls due on the way. An
  // exception of a timer's proc propagates to the caller.
  void Advance(uint64_t ms);

  uint64_t Now() const noexcept { return FNow; }
  size_t ArmedCount() const noexcept { return FTimers.size(); }
  // How many times ArmTimer was called.
  int ArmCalls() const noexcept { return FArmCalls; }
  // ArmTimer gives 0 while this many timers are armed.
  void SetTimerLimit(size_t limit) noexcept { FLimit = limit; }

 private:
  struct TTimer {
    uint32_t Interval;
    uint64_t Due;
    std::shared_ptr<TTimerProc> Proc;  // shared: a proc may disarm its own timer while running
  };

  uint64_t FNow = 0;
  TTimerId FNextId = 1;
  int FArmCalls = 0;
  size_t FLimit = SIZE_MAX;
  std::map<TTimerId, TTimer> FTimers;
};

// Installs a loop for the lifetime of the guard and removes it after.
class TMessageLoopInstaller {
 public:
  explicit TMessageLoopInstaller(TMessageLoop* loop) noexcept { SetMessageLoop(loop); }
  ~TMessageLoopInstaller() { SetMessageLoop(nullptr); }
  TMessageLoopInstaller(const TMessageLoopInstaller&) = delete;
  TMessageLoopInstaller& operator=(const TMessageLoopInstaller&) = delete;
};
