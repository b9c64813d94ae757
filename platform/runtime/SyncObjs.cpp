#include "platform/runtime/SyncObjs.h"

void TEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> guard(FMutex);
    FSignaled = true;
  }
  if (FManualReset)
    FCond.notify_all();
  else
    FCond.notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> guard(FMutex);
  FSignaled = false;
}

TWaitResult TEvent::WaitFor(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FMutex);
  auto ready = [this] { return FSignaled; };
  if (timeoutMs == INFINITE_WAIT) {
    FCond.wait(lock, ready);
  } else if (!FCond.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return TWaitResult::wrTimeout;
  }
  if (!FManualReset) FSignaled = false;
  return TWaitResult::wrSignaled;
}

uint32_t GetTickCount() noexcept {
  using namespace std::chrono;
  auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(ms);
}

uint32_t TicksSince(uint32_t start) noexcept { return GetTickCount() - start; }
