#include "support/ManualMessageLoop.h"

#include <utility>

TMessageLoop::TTimerId TManualMessageLoop::ArmTimer(uint32_t intervalMs, TTimerProc proc) {
  ++ArmCalls;
  if (intervalMs == 0 || FTimers.size() >= TimerLimit) return 0;
  FTimers.emplace(FNextId,
                  TTimer{intervalMs, Now + intervalMs, std::make_shared<TTimerProc>(std::move(proc))});
  return FNextId++;
}

void TManualMessageLoop::Advance(uint64_t ms) {
  const uint64_t end = Now + ms;
  for (;;) {
    TTimer* next = nullptr;
    for (auto& [id, timer] : FTimers)
      if (timer.Due <= end && (!next || timer.Due < next->Due)) next = &timer;
    if (!next) break;
    Now = next->Due;
    next->Due += next->Interval;
    std::shared_ptr<TTimerProc> proc = next->Proc;
    (*proc)();
  }
  Now = end;
}
