#include "mysql/MySqlVio.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/runtime/Exceptions.h"

namespace {

constexpr char SNotOverriden[] = "Not overriden in an inherited class";
constexpr char SNotImplemented[] = "Not implemented";

}  // namespace

// ---- TMySqlVio ------------------------------------------------------------------------------

TMySqlVio::~TMySqlVio() = default;

void TMySqlVio::Connect() {
  FReadAhead.assign(ReadAheadSize, 0);
  FReadAheadCount = 0;
  FReadAheadPos = 0;
}

int TMySqlVio::ReadAll(uint8_t* buffer, int offset, int count) {
  if (count < 1) return 0;
  uint8_t* dst = buffer + offset;
  int done = std::min(count, FReadAheadCount - FReadAheadPos);
  if (done > 0) {
    std::memcpy(dst, FReadAhead.data() + FReadAheadPos, static_cast<size_t>(done));
    FReadAheadPos += done;
  }
  if (done == count) return done;
  // The read-ahead buffer is empty from here on.
  FReadAheadCount = FReadAheadPos = 0;
  if (count - done < ReadAheadThreshold && !FReadAhead.empty()) {
    int n = Read(FReadAhead.data(), 0, ReadAheadSize);
    if (n <= 0) return done;
    FReadAheadCount = n;
    int take = std::min(count - done, n);
    std::memcpy(dst + done, FReadAhead.data(), static_cast<size_t>(take));
    FReadAheadPos = take;
    done += take;
  }
  while (done < count) {
    int n = Read(dst, done, count - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int TMySqlVio::WriteAll(const uint8_t* buffer, int offset, int count) {
  if (count < 1) return 0;
  int done = 0;
  int zeros = 0;
  while (done < count) {
    int n = Write(buffer, offset + done, count - done);
    if (n > 0) {
      done += n;
      zeros = 0;
      continue;
    }
    if (++zeros == 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done;
}

int TMySqlVio::WriteUntilFailure(const uint8_t* buffer, int offset, int count) {
  int done = 0;
  while (done < count) {
    int n = Write(buffer, offset + done, count - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

// ---- TMyIOHandler ---------------------------------------------------------------------------

void TMyIOHandler::RegisterClient(void*) {}
void TMyIOHandler::UnRegisterClient(void*) {}

void TMyIOHandler::Disconnect(THandle) {
  RaiseAssertion(__FILE__, __LINE__, "", SNotOverriden);
}

int TMyIOHandler::Read(THandle, uint8_t*, int, int) {
  RaiseAssertion(__FILE__, __LINE__, "", SNotOverriden);
}

int TMyIOHandler::Write(THandle, const uint8_t*, int, int) {
  RaiseAssertion(__FILE__, __LINE__, "", SNotOverriden);
}

int TMyIOHandler::GetTimeout(THandle) {
  RaiseAssertion(__FILE__, __LINE__, "", SNotOverriden);
}

void TMyIOHandler::SetTimeout(THandle, int) {
  RaiseAssertion(__FILE__, __LINE__, "", SNotOverriden);
}

void TMyIOHandlerUtils::RegisterClient(TMyIOHandler* handler, void* client) {
  if (handler) handler->RegisterClient(client);
}

void TMyIOHandlerUtils::UnRegisterClient(TMyIOHandler* handler, void* client) {
  if (handler) handler->UnRegisterClient(client);
}

// ---- TMySqlVioHandler -----------------------------------------------------------------------

TMySqlVioHandler::TMySqlVioHandler(std::string host, int port, TMyIOHandler* handler)
    : FHost(std::move(host)), FPort(port), FHandler(handler) {
  DA_ASSERT(handler != nullptr);
}

TMySqlVioHandler::~TMySqlVioHandler() {
  try {
    Close();
  } catch (...) {
    // A destructor never throws; the handler's failure to disconnect is lost here.
  }
}

int TMySqlVioHandler::GetTimeout() {
  return FHandle ? FHandler->GetTimeout(FHandle) : FTimeout;
}

void TMySqlVioHandler::SetTimeout(int seconds) {
  if (FHandle)
    FHandler->SetTimeout(FHandle, seconds);
  else
    FTimeout = seconds;
}

int TMySqlVioHandler::Read(uint8_t*, int, int) {
  RaiseAssertion(__FILE__, __LINE__, "", SNotImplemented);
}

int TMySqlVioHandler::Write(const uint8_t*, int, int) {
  RaiseAssertion(__FILE__, __LINE__, "", SNotImplemented);
}

void TMySqlVioHandler::Connect() {
  TMySqlVio::Connect();
  DA_ASSERT(FHandle == nullptr);
  FHandle = FHandler->Connect(FHost, FPort);
}

void TMySqlVioHandler::Close() {
  if (!FHandle) return;
  TMyIOHandler::THandle handle = FHandle;
  FHandle = nullptr;
  FHandler->Disconnect(handle);
}

// A handler's Read may deliver less than asked, like a socket: loop until done or it stops.
int TMySqlVioHandler::ReadAll(uint8_t* buffer, int offset, int count) {
  int done = 0;
  while (FHandle && done < count) {
    int n = FHandler->Read(FHandle, buffer, offset + done, count - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}

int TMySqlVioHandler::WriteAll(const uint8_t* buffer, int offset, int count) {
  int done = 0;
  while (FHandle && done < count) {
    int n = FHandler->Write(FHandle, buffer, offset + done, count - done);
    if (n <= 0) break;
    done += n;
  }
  return done;
}
