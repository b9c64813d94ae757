// Locks and events: a re-entrant critical section and a manual-reset (or auto-reset) event.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

// Re-entrant like the platform's critical section: the owning thread may enter again.
class TCriticalSection {
public:
  void Enter() { FMutex.lock(); }
  void Leave() { FMutex.unlock(); }
  bool TryEnter() { return FMutex.try_lock(); }
  // BasicLockable, for std::lock_guard / std::unique_lock.
  void lock() { Enter(); }
  void unlock() { Leave(); }

private:
  std::recursive_mutex FMutex;
};

enum class TWaitResult { wrSignaled, wrTimeout };

constexpr uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

class TEvent {
public:
  explicit TEvent(bool manualReset = true, bool initialState = false)
      : FManualReset(manualReset), FSignaled(initialState) {}

  void SetEvent();
  void ResetEvent();
  // Waits until signalled or `timeoutMs` passed (INFINITE_WAIT waits without limit).
  // An auto-reset event is reset by the wait that sees it signalled.
  TWaitResult WaitFor(uint32_t timeoutMs);

private:
  std::mutex FMutex;
  std::condition_variable FCond;
  bool FManualReset;
  bool FSignaled;
};

// Milliseconds since an arbitrary start, wrapping at 2^32 like the platform's tick counter.
uint32_t GetTickCount() noexcept;
// Milliseconds elapsed from `start` to now, correct across one wrap.
uint32_t TicksSince(uint32_t start) noexcept;
