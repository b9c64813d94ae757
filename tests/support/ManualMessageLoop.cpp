#include "support/ManualMessageLoop.h"

#include <utility>

TMessageLoop::TTimerId TManualMessageLoop::ArmTimer(uint32_t intervalMs, TTimerProc proc) {
  ++FArmCalls;
  if (intervalMs == 0 || FTimers.size() >= FLimit) return 0;
  TTimerId id = FNextId++;
  FTimers.emplace(id, TTimer{intervalMs, FNow + intervalMs, std::make_shared<TTimerProc>(std::move(proc))});
  return id;
}

void TManualMessageLoop::DisarmTimer(TTimerId id) noexcept { FTimers.erase(id); }

void TManualMessageLoop::Advance(uint64_t ms) {
  const uint64_t end = FNow + ms;
  for (;;) {
    auto next = FTimers.end();
    for (auto it = FTimers.begin(); it != FTimers.end(); ++it)
      if (it->second.Due <= end && (next == FTimers.end() || it->second.Due < next->second.Due)) next = it;
    if (next == FTimers.end()) break;
    FNow = next->second.Due;
    next->second.Due += next->second.Interval;
    std::shared_ptr<TTimerProc> proc = next->second.Proc;
    (*proc)();
  }
  FNow = end;
}
