#include "FakeMySqlServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

std::string Hex(const std::vector<uint8_t>& b, size_t limit = 48) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < b.size() && i < limit; ++i) {
    if (i) s += ' ';
    s += digits[b[i] >> 4];
    s += digits[b[i] & 15];
  }
  if (b.size() > limit) s += " ... (" + std::to_string(b.size()) + " bytes)";
  return s;
}

void PutUInt24(std::vector<uint8_t>& b, size_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v >> 16));
}

[[noreturn]] void SystemFailure(const char* what) {
  throw std::runtime_error(std::string("fake server: ") + what + ": " + std::strerror(errno));
}

}  // namespace

TFakeMySqlServer::TFakeMySqlServer() = default;

TFakeMySqlServer::TFakeMySqlServer(const std::string& unixSocketPath) : FSocketPath(unixSocketPath) {}

TFakeMySqlServer::~TFakeMySqlServer() {
  if (FThread.joinable()) Finish(0);
  CloseClient();
  for (int fd : {FListenFd, FWakePipe[0], FWakePipe[1]})
    if (fd >= 0) ::close(fd);
  if (!FSocketPath.empty()) ::unlink(FSocketPath.c_str());
}

// ---- the script -----------------------------------------------------------------------------

TFakeMySqlServer& TFakeMySqlServer::Add(TStep step) {
  if (FThread.joinable()) throw std::logic_error("fake server: the script is fixed once started");
  FSteps.push_back(std::move(step));
  return *this;
}

TFakeMySqlServer& TFakeMySqlServer::Send(const TBytes& bytes) {
  return Add(TStep(TKind::Send, bytes));
}

TFakeMySqlServer& TFakeMySqlServer::SendPacket(uint8_t seq, const TBytes& payload) {
  return Send(Packet(seq, payload));
}

TFakeMySqlServer& TFakeMySqlServer::Expect(const TBytes& bytes) {
  return Add(TStep(TKind::Expect, bytes));
}

TFakeMySqlServer& TFakeMySqlServer::ExpectPacket(uint8_t seq, const TBytes& payload) {
  return Expect(Packet(seq, payload));
}

TFakeMySqlServer& TFakeMySqlServer::ReadPacket(uint8_t seq, TPacketCheck check) {
  TStep step(TKind::ReadPacket);
  step.Seq = seq;
  step.Check = std::move(check);
  return Add(std::move(step));
}

TFakeMySqlServer& TFakeMySqlServer::Pause(int ms) {
  TStep step(TKind::Pause);
  step.Ms = ms;
  return Add(std::move(step));
}

TFakeMySqlServer& TFakeMySqlServer::Close() {
  return Add(TStep(TKind::Close));
}
TFakeMySqlServer& TFakeMySqlServer::ExpectClose() {
  return Add(TStep(TKind::ExpectClose));
}
TFakeMySqlServer& TFakeMySqlServer::Accept() {
  return Add(TStep(TKind::Accept));
}

void TFakeMySqlServer::FailAtStep(int step, TFailMode mode) {
  FFailStep = step;
  FFailMode = mode;
}

TFakeMySqlServer::TBytes TFakeMySqlServer::Packet(uint8_t seq, const TBytes& payload) {
  if (payload.size() > 0xFFFFFF) throw std::invalid_argument("fake server: packet payload over 0xFFFFFF");
  TBytes b;
  b.reserve(payload.size() + 4);
  PutUInt24(b, payload.size());
  b.push_back(seq);
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

TFakeMySqlServer::TBytes TFakeMySqlServer::CompressedPacket(uint8_t compSeq, const TBytes& data,
                                                            bool compress) {
  TBytes body = data;
  size_t uncompressed = 0;
  if (compress) {
    uLongf size = compressBound(data.size());
    body.resize(size);
    if (compress2(body.data(), &size, data.data(), data.size(), Z_DEFAULT_COMPRESSION) != Z_OK)
      throw std::runtime_error("fake server: zlib compress failed");
    body.resize(size);
    uncompressed = data.size();
  }
  if (body.size() > 0xFFFFFF) throw std::invalid_argument("fake server: compressed body over 0xFFFFFF");
  TBytes b;
  PutUInt24(b, body.size());
  b.push_back(compSeq);
  PutUInt24(b, uncompressed);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

// ---- listening and running ------------------------------------------------------------------

void TFakeMySqlServer::Listen() {
  if (::pipe2(FWakePipe, O_CLOEXEC) != 0) SystemFailure("pipe");
  if (FSocketPath.empty()) {
    FListenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListenFd < 0) SystemFailure("socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;  // the system picks a free port: no race with other tests
    if (::bind(FListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) SystemFailure("bind");
    socklen_t len = sizeof addr;
    if (::getsockname(FListenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) SystemFailure("getsockname");
    FPort = ntohs(addr.sin_port);
  } else {
    sockaddr_un addr{};
    if (FSocketPath.size() >= sizeof addr.sun_path)
      throw std::invalid_argument("fake server: socket path too long");
    FListenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (FListenFd < 0) SystemFailure("socket");
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, FSocketPath.c_str(), FSocketPath.size() + 1);
    ::unlink(FSocketPath.c_str());
    if (::bind(FListenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) SystemFailure("bind");
  }
  if (::listen(FListenFd, 8) != 0) SystemFailure("listen");
}

void TFakeMySqlServer::Start() {
  if (FThread.joinable()) throw std::logic_error("fake server: started twice");
  Listen();
  FThread = std::thread([this] { Run(); });
}

void TFakeMySqlServer::Run() {
  try {
    AcceptClient();
    for (int i = 0; i < StepCount(); ++i) {
      if (i == FFailStep) {
        InjectFailure(FSteps[i]);
        break;
      }
      RunStep(i, FSteps[i]);
    }
  } catch (const TStopped&) {
    if (!FStalled) Fail("stopped before the script ended");
  } catch (const std::exception& e) {
    Fail(e.what());
  }
  CloseClient();
  FDone = true;
}

void TFakeMySqlServer::RunStep(int index, const TStep& step) {
  std::string why;
  const std::string at = "step " + std::to_string(index) + ": ";
  switch (step.Kind) {
    case TKind::Send:
      WriteAll(step.Bytes.data(), step.Bytes.size());
      break;
    case TKind::Expect: {
      TBytes got(step.Bytes.size());
      if (!ReadExactly(got.data(), got.size(), why))
        throw std::runtime_error(at + "expected " + Hex(step.Bytes) + "; " + why);
      if (got != step.Bytes)
        throw std::runtime_error(at + "expected " + Hex(step.Bytes) + "\n  received " + Hex(got));
      break;
    }
    case TKind::ReadPacket: {
      uint8_t header[4];
      if (!ReadExactly(header, 4, why)) throw std::runtime_error(at + "expected a packet header; " + why);
      size_t len = header[0] | header[1] << 8 | header[2] << 16;
      if (header[3] != step.Seq)
        throw std::runtime_error(at + "packet sequence " + std::to_string(header[3]) + ", expected " +
                                 std::to_string(step.Seq));
      TBytes payload(len);
      if (!ReadExactly(payload.data(), len, why))
        throw std::runtime_error(at + "packet payload cut short; " + why);
      std::string complaint = step.Check ? step.Check(payload) : std::string();
      {
        std::lock_guard<std::mutex> guard(FLock);
        FReadPackets.push_back(payload);
      }
      if (!complaint.empty()) throw std::runtime_error(at + complaint + "\n  packet " + Hex(payload));
      break;
    }
    case TKind::Pause:
      if (WaitFor(FWakePipe[0], POLLIN, step.Ms)) throw TStopped();
      break;
    case TKind::Close:
      CloseClient();
      break;
    case TKind::ExpectClose: {
      uint8_t sink[4096];
      for (;;) {
        if (!WaitFor(FClientFd, POLLIN, FStepTimeoutMs))
          throw std::runtime_error(at + "the client did not close");
        ssize_t n = ::recv(FClientFd, sink, sizeof sink, 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET)) break;
        if (n < 0 && errno != EINTR && errno != EAGAIN) SystemFailure("recv");
        if (n > 0) {
          std::lock_guard<std::mutex> guard(FLock);
          FReceived.insert(FReceived.end(), sink, sink + n);
        }
      }
      CloseClient();
      break;
    }
    case TKind::Accept:
      CloseClient();
      AcceptClient();
      break;
  }
}

void TFakeMySqlServer::InjectFailure(const TStep& step) {
  switch (FFailMode) {
    case TFailMode::Close:
      CloseClient();
      return;
    case TFailMode::Reset:
      CloseClient(true);
      return;
    case TFailMode::CloseMidStep: {
      std::string why;
      if (step.Kind == TKind::Send && !step.Bytes.empty()) {
        WriteAll(step.Bytes.data(), std::max<size_t>(1, step.Bytes.size() / 2));
      } else if (step.Kind == TKind::Expect && step.Bytes.size() > 1) {
        TBytes got(step.Bytes.size() / 2);
        ReadExactly(got.data(), got.size(), why);
      } else if (step.Kind == TKind::ReadPacket) {
        uint8_t header[2];
        ReadExactly(header, 2, why);
      }
      CloseClient();
      return;
    }
    case TFailMode::Stall: {
      FStalled = true;
      uint8_t sink[4096];
      while (FClientFd >= 0 && WaitFor(FClientFd, POLLIN, 60000)) {
        ssize_t n = ::recv(FClientFd, sink, sizeof sink, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) break;
      }
      CloseClient();
      return;
    }
  }
}

// ---- connection I/O -------------------------------------------------------------------------

void TFakeMySqlServer::AcceptClient() {
  if (!WaitFor(FListenFd, POLLIN, FStepTimeoutMs)) throw std::runtime_error("no client connected");
  FClientFd = ::accept4(FListenFd, nullptr, nullptr, SOCK_CLOEXEC);
  if (FClientFd < 0) SystemFailure("accept");
  ++FConnections;
}

void TFakeMySqlServer::CloseClient(bool reset) {
  if (FClientFd < 0) return;
  if (reset) {
    linger lg{1, 0};
    ::setsockopt(FClientFd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
  } else {
    ::shutdown(FClientFd, SHUT_RDWR);
  }
  ::close(FClientFd);
  FClientFd = -1;
}

// Polls fd together with the wake pipe; Finish writes to the pipe to stop the thread at once.
bool TFakeMySqlServer::WaitFor(int fd, short events, int timeoutMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (fd < 0) throw std::runtime_error("no client connection");
    pollfd fds[2] = {{FWakePipe[0], POLLIN, 0}, {fd, events, 0}};
    int nfds = fd == FWakePipe[0] ? 1 : 2;
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    int r = ::poll(fds, nfds, std::max<int>(0, static_cast<int>(left.count())));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) SystemFailure("poll");
    if (fds[0].revents && fd != FWakePipe[0]) throw TStopped();
    if (r > 0) return true;
    if (left.count() <= 0) return false;
  }
}

bool TFakeMySqlServer::ReadExactly(uint8_t* buffer, size_t count, std::string& why) {
  size_t got = 0;
  while (got < count) {
    if (!WaitFor(FClientFd, POLLIN, FStepTimeoutMs)) {
      why = "timed out after " + std::to_string(got) + " of " + std::to_string(count) + " bytes";
      return false;
    }
    ssize_t n = ::recv(FClientFd, buffer + got, count - got, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      why = "the client closed after " + std::to_string(got) + " of " + std::to_string(count) + " bytes";
      return false;
    }
    {
      std::lock_guard<std::mutex> guard(FLock);
      FReceived.insert(FReceived.end(), buffer + got, buffer + got + n);
    }
    got += static_cast<size_t>(n);
  }
  return true;
}

void TFakeMySqlServer::WriteAll(const uint8_t* data, size_t count) {
  size_t sent = 0;
  while (sent < count) {
    size_t piece = count - sent;
    if (FWriteChunk > 0 && piece > FWriteChunk) piece = FWriteChunk;
    if (!WaitFor(FClientFd, POLLOUT, FStepTimeoutMs)) throw std::runtime_error("the client does not read");
    ssize_t n = ::send(FClientFd, data + sent, piece, MSG_NOSIGNAL);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) SystemFailure("send");
    sent += static_cast<size_t>(n);
    if (FWriteChunk > 0 && sent < count) {
      if (WaitFor(FWakePipe[0], POLLIN, 1)) throw TStopped();
    }
  }
}

// ---- results --------------------------------------------------------------------------------

void TFakeMySqlServer::Fail(const std::string& text) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FError.empty()) FError = text;
}

std::string TFakeMySqlServer::Finish(int timeoutMs) {
  if (FThread.joinable()) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!FDone && !FStalled && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (!FDone) {
      uint8_t one = 1;
      ssize_t ignored = ::write(FWakePipe[1], &one, 1);
      (void)ignored;
    }
    FThread.join();
  }
  std::lock_guard<std::mutex> guard(FLock);
  return FError;
}

TFakeMySqlServer::TBytes TFakeMySqlServer::Received() {
  std::lock_guard<std::mutex> guard(FLock);
  return FReceived;
}

std::vector<TFakeMySqlServer::TBytes> TFakeMySqlServer::ReadPackets() {
  std::lock_guard<std::mutex> guard(FLock);
  return FReadPackets;
}
