#include "core/Win32Timer.h"

#include <utility>

#include "core/DAConsts.h"
#include "platform/runtime/Exceptions.h"

TWin32Timer::~TWin32Timer() {
  FEnabled = false;
  KillTimer();
}

void TWin32Timer::SetEnabled(bool value) {
  if (value == FEnabled) return;
  FEnabled = value;
  UpdateTimer();
}

void TWin32Timer::SetInterval(uint32_t value) {
  if (value == FInterval) return;
  FInterval = value;
  UpdateTimer();
}

void TWin32Timer::SetOnTimer(TNotifyEvent value) {
  FOnTimer = std::move(value);
  UpdateTimer();
}

void TWin32Timer::Timer() {
  if (!FOnTimer) return;
  // A copy: the handler may destroy this timer, and with it FOnTimer, while it runs.
  TNotifyEvent handler = FOnTimer;
  handler(this);
}

void TWin32Timer::UpdateTimer() {
  KillTimer();
  if (FInterval == 0 || !FEnabled || !FOnTimer) return;
  TMessageLoop* loop = GetMessageLoop();
  TMessageLoop::TTimerId id = loop ? loop->ArmTimer(FInterval, [this] { Timer(); }) : 0;
  if (id == 0) throw EOutOfResources(MessageText(SNoTimers));
  FLoop = loop;
  FTimerId = id;
}

void TWin32Timer::KillTimer() noexcept {
  if (FTimerId == 0) return;
  FLoop->DisarmTimer(FTimerId);
  FTimerId = 0;
  FLoop = nullptr;
}
