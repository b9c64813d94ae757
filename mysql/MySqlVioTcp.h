// The TCP transport of the direct protocol, and the socket primitives it shares with the
// Unix-socket transport and the TLS transport: non-blocking sockets, poll() deadlines, EINTR
// retried, no SIGPIPE.
#pragma once

#include <sys/socket.h>

#include <string>

#include "mysql/MySqlVio.h"
#include "platform/runtime/Exceptions.h"

// Raised by TMySqlVioTcp::Connect only: 2005 (no socket, unknown host) or 2003 (connect failed).
// The message is empty; the transport's ErrorText says what went wrong.
class SocketException : public Exception {
 public:
  explicit SocketException(int errorCode) : ErrorCode(errorCode) {}
  int ErrorCode;
};

// ---- waiting for the server --------------------------------------------------------------------

// The application's say in every socket wait of the direct protocol (connect, reads and writes;
// TCP, the Unix socket, TLS, compressed or not), so that a window can offer a way out of a silent
// server. It is consulted only when the socket is not ready: every kMySqlWaitSliceMs of waiting,
// with the milliseconds this wait has lasted and ended false, and once more with ended true when a
// wait it was consulted in is over (its answer then counts for nothing). Returning false ends the
// wait with ECANCELED, which the transport reports as a lost connection. It runs on whichever
// thread waits. Without one (the default) a wait lasts until the socket is ready or the time-out.
using TMySqlWaitProc = bool (*)(int waitedMs, bool ended) noexcept;
inline constexpr int kMySqlWaitSliceMs = 100;
void SetMySqlWaitProc(TMySqlWaitProc proc) noexcept;

// The transport's error text for a wait the hook ended.
inline constexpr char kMySqlWaitCancelledText[] =
    "The wait for the server was cancelled by the user and the connection closed: a statement "
    "already sent may still be finished by the server, and changes of a transaction not yet "
    "committed are rolled back";
inline constexpr char kMySqlConnectCancelledText[] = "Connecting was cancelled by the user";

// ---- socket primitives (fd in non-blocking mode) ----------------------------------------------

// Waits until fd is ready for events (POLLIN / POLLOUT). timeoutMs <= 0 waits without limit.
// Returns 0 when ready, ETIMEDOUT on time-out, ECANCELED when the wait hook ended it, else the
// errno of the failure.
int MySqlSocketWait(int fd, short events, int timeoutMs);
// Connects within timeoutMs (<= 0: the system's own limit). Returns 0 or the errno.
int MySqlSocketConnect(int fd, const sockaddr* address, socklen_t length, int timeoutMs);
// One receive / send of up to count bytes, waiting at most timeoutMs for the socket to be ready.
// Returns the bytes moved, 0 at end of stream, or -errno on failure (-ETIMEDOUT on time-out).
int MySqlSocketRecv(int fd, uint8_t* buffer, int count, int timeoutMs);
int MySqlSocketSend(int fd, const uint8_t* buffer, int count, int timeoutMs);

// A transport over a connected non-blocking socket: the reads, writes and time-outs that TCP and
// the local socket share. Reads and writes wait at most the time-out for the socket.
class TMySqlVioSocket : public TMySqlVio {
 public:
  ~TMySqlVioSocket() override;

  int GetTimeout() override { return FTimeout; }
  // Seconds for connecting and for each read and write; 0 = no limit of ours (TCP keep-alive
  // still detects a dead peer).
  void SetTimeout(int seconds) override { FTimeout = seconds; }
  int Read(uint8_t* buffer, int offset, int count) override;
  int Write(const uint8_t* buffer, int offset, int count) override;
  void Close() override;
  // 0 when not connected; otherwise writes until done or a write fails or times out (no retry:
  // a failed write already waited out the time-out).
  int WriteAll(const uint8_t* buffer, int offset, int count) override;

  int Socket() const noexcept { return FSocket; }

 protected:
  TMySqlVioSocket() = default;
  int TimeoutMs() const noexcept {
    return FTimeout <= 0 ? 0 : FTimeout > 2000000 ? 2000000000 : FTimeout * 1000;
  }

  void ShutdownCancelled() noexcept;

  int FTimeout = 30;
  int FSocket = -1;
};

class TMySqlVioTcp : public TMySqlVioSocket {
 public:
  static constexpr int DefaultPort = 3306;

  TMySqlVioTcp(std::string host, int port);

  // Port 0 means 3306, an empty host "localhost". Fails an assertion when already connected.
  // Errors: SocketException 2005 (host not resolved, no socket), 2003 (refused, unreachable, or
  // not connected within the time-out); ErrorText names the cause.
  void Connect() override;

  const std::string& Host() const noexcept { return FHost; }
  int Port() const noexcept { return FPort; }

 private:
  std::string FHost;
  int FPort;
};
