// The application's message loop as the data-access library sees it. The library links no GUI
// toolkit: the application installs its loop here at start (the GUI provides one over its event
// loop), and library code that must act on the loop's thread, such as periodic timers, goes
// through it. Programs without a loop install none.
#pragma once

#include <cstdint>
#include <functional>

class TMessageLoop {
 public:
  using TTimerProc = std::function<void()>;
  // 0 names no timer.
  using TTimerId = uint64_t;

  TMessageLoop() = default;
  virtual ~TMessageLoop() = default;
  TMessageLoop(const TMessageLoop&) = delete;
  TMessageLoop& operator=(const TMessageLoop&) = delete;

  // Arms a periodic timer: proc runs on the loop's thread every intervalMs milliseconds (> 0)
  // until the timer is disarmed. Called on the loop's thread. Returns the timer's id, or 0 when
  // the loop has no timer to give. The loop guards each call of proc: an exception proc raises
  // goes to the application's error report and does not stop the timer.
  virtual TTimerId ArmTimer(uint32_t intervalMs, TTimerProc proc) = 0;
  // Stops the timer: once this returns, its proc is never called again, and the loop drops its
  // copy of proc. Allowed from inside the timer's own proc; an id of 0 or one already disarmed
  // does nothing. Called on the loop's thread; never throws.
  virtual void DisarmTimer(TTimerId id) noexcept = 0;
};

// The installed loop, nil when none is. The application installs its loop before it creates
// anything that arms a timer and removes it (nil) only after all of those are gone.
TMessageLoop* GetMessageLoop() noexcept;
void SetMessageLoop(TMessageLoop* loop) noexcept;
