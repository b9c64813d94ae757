#include "mysql/MySqlVioTcp.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "mysql/MySqlProtocol.h"
#include "platform/runtime/Format.h"

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

int MsSince(Clock::time_point start) {
  auto since = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  return since < INT_MAX ? static_cast<int>(since) : INT_MAX;
}

std::atomic<TMySqlWaitProc> gWaitProc{nullptr};

// What the system says about the failure, with its number; a wait the user ended says so.
std::string SocketErrorText(const char* operation, int error) {
  if (error == ECANCELED)
    return std::strcmp(operation, "connect") == 0 ? kMySqlConnectCancelledText : kMySqlWaitCancelledText;
  return Format("Socket error on %s: %s (errno %d)", {operation, std::strerror(error), error});
}

// Keep-alive probes after a minute of silence find a dead peer within about two minutes, even
// when no time-out of ours applies.
void SetSocketOptions(int fd) {
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  int idle = 60, interval = 10, count = 6;
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

}  // namespace

// ---- socket primitives ------------------------------------------------------------------------

void SetMySqlWaitProc(TMySqlWaitProc proc) noexcept {
  gWaitProc.store(proc, std::memory_order_release);
}

int MySqlSocketWait(int fd, short events, int timeoutMs) {
  const bool limited = timeoutMs > 0;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::milliseconds(limited ? timeoutMs : 0);
  // Read once: a hook set meanwhile applies from the next wait on.
  const TMySqlWaitProc hook = gWaitProc.load(std::memory_order_acquire);
  bool consulted = false;
  int result = 0;
  for (;;) {
    pollfd p{fd, events, 0};
    int sliceMs = limited ? MsLeft(deadline) : -1;
    if (hook != nullptr && (sliceMs < 0 || sliceMs > kMySqlWaitSliceMs)) sliceMs = kMySqlWaitSliceMs;
    int r = ::poll(&p, 1, sliceMs);
    if (r > 0) break;  // ready, or an error condition the next call reports
    if (r < 0 && errno != EINTR) {
      result = errno;
      break;
    }
    if (limited && MsLeft(deadline) == 0) {
      result = ETIMEDOUT;
      break;
    }
    if (r == 0 && hook != nullptr) {
      consulted = true;
      if (!hook(MsSince(start), false)) {
        result = ECANCELED;
        break;
      }
    }
  }
  if (consulted) hook(MsSince(start), true);
  return result;
}

int MySqlSocketConnect(int fd, const sockaddr* address, socklen_t length, int timeoutMs) {
  if (::connect(fd, address, length) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) return errno;
  int error = MySqlSocketWait(fd, POLLOUT, timeoutMs);
  if (error != 0) return error;
  socklen_t size = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
  return error;
}

int MySqlSocketRecv(int fd, uint8_t* buffer, int count, int timeoutMs) {
  for (;;) {
    ssize_t n = ::recv(fd, buffer, static_cast<size_t>(count), 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -errno;
    int error = MySqlSocketWait(fd, POLLIN, timeoutMs);
    if (error != 0) return -error;
  }
}

int MySqlSocketSend(int fd, const uint8_t* buffer, int count, int timeoutMs) {
  for (;;) {
    ssize_t n = ::send(fd, buffer, static_cast<size_t>(count), MSG_NOSIGNAL);
    if (n >= 0) return static_cast<int>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -errno;
    int error = MySqlSocketWait(fd, POLLOUT, timeoutMs);
    if (error != 0) return -error;
  }
}

// ---- TMySqlVioTcp -----------------------------------------------------------------------------

TMySqlVioTcp::TMySqlVioTcp(std::string host, int port) : FHost(std::move(host)), FPort(port) {}

void TMySqlVioTcp::Connect() {
  DA_ASSERT(FSocket < 0);
  TMySqlVio::Connect();
  FErrorText.clear();
  FErrorNumber = 0;
  if (FPort == 0) FPort = DefaultPort;
  if (FHost.empty()) FHost = "localhost";

  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* list = nullptr;
  const std::string service = std::to_string(FPort);
  int rc = ::getaddrinfo(FHost.c_str(), service.c_str(), &hints, &list);
  if (rc != 0 || list == nullptr) {
    FErrorText = Format("Unknown host '%s' (%s)", {FHost, ::gai_strerror(rc)});
    throw SocketException(CR_UNKNOWN_HOST);
  }
  // One deadline for every address the name resolves to.
  const int timeoutMs = TimeoutMs();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int error = 0;
  for (addrinfo* a = list; a != nullptr && FSocket < 0; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      error = errno;
      continue;
    }
    int left = timeoutMs > 0 ? MsLeft(deadline) : 0;
    error = timeoutMs > 0 && left == 0 ? ETIMEDOUT : MySqlSocketConnect(fd, a->ai_addr, a->ai_addrlen, left);
    if (error == 0)
      FSocket = fd;
    else
      ::close(fd);
    if (error == ECANCELED) break;  // the user stopped waiting: no further address
  }
  ::freeaddrinfo(list);
  if (FSocket < 0) {
    FErrorText = SocketErrorText("connect", error);
    FErrorNumber = error;
    throw SocketException(CR_CONN_HOST_ERROR);
  }
  SetSocketOptions(FSocket);
}

// ---- TMySqlVioSocket --------------------------------------------------------------------------

TMySqlVioSocket::~TMySqlVioSocket() {
  TMySqlVioSocket::Close();
}

int TMySqlVioSocket::Read(uint8_t* buffer, int offset, int count) {
  FErrorText.clear();
  if (FSocket < 0 || count < 1) return 0;
  int n = MySqlSocketRecv(FSocket, buffer + offset, count, TimeoutMs());
  if (n >= 0) return n;
  FErrorText = SocketErrorText("read", -n);
  if (n == -ECANCELED) ShutdownCancelled();
  return 0;
}

int TMySqlVioSocket::Write(const uint8_t* buffer, int offset, int count) {
  FErrorText.clear();
  if (FSocket < 0 || count < 1) return 0;
  int n = MySqlSocketSend(FSocket, buffer + offset, count, TimeoutMs());
  if (n >= 0) return n;
  FErrorText = SocketErrorText("write", -n);
  if (n == -ECANCELED) ShutdownCancelled();
  return 0;
}

int TMySqlVioSocket::WriteAll(const uint8_t* buffer, int offset, int count) {
  return FSocket < 0 ? 0 : WriteUntilFailure(buffer, offset, count);
}

// The server learns at once that nobody waits any more: it ends the session, rolling back what
// its transaction holds. The descriptor stays until Close (a TLS layer may still be above it).
void TMySqlVioSocket::ShutdownCancelled() noexcept {
  ::shutdown(FSocket, SHUT_RDWR);
}

void TMySqlVioSocket::Close() {
  if (FSocket < 0) return;
  ::shutdown(FSocket, SHUT_RDWR);
  ::close(FSocket);
  FSocket = -1;
}
