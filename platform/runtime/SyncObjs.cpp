#include "platform/runtime/SyncObjs.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

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

uint32_t TicksSince(uint32_t start) noexcept {
  return GetTickCount() - start;
}

// ---- TMutex -----------------------------------------------------------------------------------

namespace {

[[noreturn]] void RaiseLockError(int code, const std::string& what, const std::string& fileName) {
  throw EOSError(code, Format("%s %s: %s", {what, fileName, std::string(std::strerror(code))}));
}

}  // namespace

TMutex::TMutex(std::string fileName, uint32_t timeoutMs)
    : FFileName(std::move(fileName)), FTimeoutMs(timeoutMs) {
  do {
    FHandle = ::open(FFileName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  } while (FHandle < 0 && errno == EINTR);
  if (FHandle < 0) RaiseLockError(errno, "Cannot open the lock file", FFileName);
}

TMutex::~TMutex() {
  Release();
  ::close(FHandle);
}

void TMutex::Acquire() {
  if (FHeld) return;
  const uint32_t start = GetTickCount();
  for (;;) {
    if (::flock(FHandle, LOCK_EX | LOCK_NB) == 0) break;
    if (errno != EWOULDBLOCK && errno != EINTR) RaiseLockError(errno, "Cannot lock the file", FFileName);
    const uint32_t waited = TicksSince(start);
    if (waited >= FTimeoutMs)
      throw EOSError(ETIMEDOUT, Format("The lock file %s is held by another process", {FFileName}));
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<uint32_t>(20, FTimeoutMs - waited)));
  }
  FHeld = true;
}

void TMutex::Release() noexcept {
  if (!FHeld) return;
  ::flock(FHandle, LOCK_UN);
  FHeld = false;
}
