// A small component that raises OnTimer at a fixed interval, independent of any window. The ticks
// come from the application's message loop (platform/runtime/MessageLoop.h), so OnTimer runs on
// the loop's thread between other events, never concurrently with them. The datasets use it for
// delayed detail refresh and periodic auto-refresh.
//
// A timer is created, changed and destroyed on the loop's thread.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/runtime/MessageLoop.h"

class TWin32Timer {
 public:
  using TNotifyEvent = std::function<void(TWin32Timer* sender)>;

  // Enabled, interval 1000 ms, no handler: nothing runs until OnTimer is set.
  TWin32Timer() = default;
  virtual ~TWin32Timer();
  TWin32Timer(const TWin32Timer&) = delete;
  TWin32Timer& operator=(const TWin32Timer&) = delete;

  // The setters store a changed value (SetOnTimer always) and then re-arm the timer: it runs
  // while Enabled is set, Interval is not 0 and OnTimer is assigned, starting a full interval
  // after the change. When it should run but the loop gives no timer (or no loop is installed)
  // they raise EOutOfResources "Not enough timers available"; the value stays stored and the
  // timer stopped.
  bool GetEnabled() const noexcept { return FEnabled; }
  void SetEnabled(bool value);
  // Milliseconds.
  uint32_t GetInterval() const noexcept { return FInterval; }
  void SetInterval(uint32_t value);
  const TNotifyEvent& GetOnTimer() const noexcept { return FOnTimer; }
  void SetOnTimer(TNotifyEvent value);

 protected:
  // One tick: calls OnTimer when assigned. The handler may destroy the timer.
  virtual void Timer();

 private:
  void UpdateTimer();
  void KillTimer() noexcept;

  uint32_t FInterval = 1000;
  bool FEnabled = true;
  TNotifyEvent FOnTimer;
  TMessageLoop* FLoop = nullptr;  // the loop that armed FTimerId
  TMessageLoop::TTimerId FTimerId = 0;
};
