// Locks and events: a re-entrant critical section, a manual-reset (or auto-reset) event and a lock
// shared between processes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

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

// A lock that processes share by naming the same file: the stand-in for the platform's named
// mutex. The lock is an flock on the file (created when missing), so it is freed when its holder
// exits, however it exits. Two TMutex objects on one file exclude each other even in one process.
class TMutex {
 public:
  // Opens (or creates) the lock file. Errors: EOSError naming the file and the system's reason.
  TMutex(std::string fileName, uint32_t timeoutMs);
  // Releases the lock when held and closes the file; never throws.
  ~TMutex();
  TMutex(const TMutex&) = delete;
  TMutex& operator=(const TMutex&) = delete;

  // Waits up to the time-out for the lock. Errors: EOSError (ETIMEDOUT) "The lock file %s is held
  // by another process" when it stays held; EOSError with the system's reason when flock fails.
  void Acquire();
  void Release() noexcept;
  bool Held() const noexcept { return FHeld; }
  const std::string& FileName() const noexcept { return FFileName; }

 private:
  std::string FFileName;
  uint32_t FTimeoutMs;
  int FHandle = -1;
  bool FHeld = false;
};
