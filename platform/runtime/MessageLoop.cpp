#include "platform/runtime/MessageLoop.h"

#include <atomic>

namespace {

std::atomic<TMessageLoop*> InstalledLoop{nullptr};

}  // namespace

TMessageLoop* GetMessageLoop() noexcept {
  return InstalledLoop.load(std::memory_order_acquire);
}

void SetMessageLoop(TMessageLoop* loop) noexcept {
  InstalledLoop.store(loop, std::memory_order_release);
}
