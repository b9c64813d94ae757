#include "mysql/MySqlVioPipe.h"

#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "mysql/MySqlProtocol.h"
#include "mysql/MySqlVioTcp.h"
#include "platform/runtime/Format.h"

TMySqlVioPipe::TMySqlVioPipe(std::string host, std::string pipeName, int port)
    : FHost(std::move(host)), FPipeName(std::move(pipeName)), FPort(port) {}

std::string TMySqlVioPipe::SocketPath(const std::string& pipeName) {
  if (pipeName.find('/') != std::string::npos) return pipeName;
  const char* env = std::getenv("MYSQL_UNIX_PORT");
  if (env != nullptr && *env != '\0') return env;
  return DefaultSocketPath;
}

bool TMySqlVioPipe::IsLocalHost(const std::string& host) noexcept {
  return host.empty() || host == "." || strcasecmp(host.c_str(), "localhost") == 0 ||
         host.find('/') != std::string::npos;
}

std::string TMySqlVioPipe::NotLocalReason(const std::string& host) {
  return "the server '" + host +
         "' is not this computer: a socket connection takes the server name localhost or a socket path";
}

void TMySqlVioPipe::RaisePipeError(int code, const std::string& path, const std::string& reason) {
  // The path stays in the text whoever reports it: a session shows ErrorText as its detail.
  FErrorText = "socket '" + path + "': " + reason;
  RaiseMySqlClientError(code, {FHost, path, reason});
}

void TMySqlVioPipe::Connect() {
  DA_ASSERT(FSocket < 0);
  TMySqlVio::Connect();
  FErrorText.clear();
  if (FPipeName.empty()) FPipeName = "MySQL";
  if (FHost.find('/') != std::string::npos && FPipeName.find('/') == std::string::npos) FPipeName = FHost;
  const std::string path = SocketPath(FPipeName);
  if (!IsLocalHost(FHost)) RaisePipeError(CR_NAMEDPIPEOPEN_ERROR, path, NotLocalReason(FHost));
  FHost = ".";

  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    RaisePipeError(CR_NAMEDPIPEOPEN_ERROR, path, std::strerror(ENAMETOOLONG));
  std::memcpy(address.sun_path, path.data(), path.size());

  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) RaisePipeError(CR_NAMEDPIPEOPEN_ERROR, path, std::strerror(errno));
  // A full listen queue (EAGAIN) is the busy pipe: wait for room until the time-out.
  const int timeoutMs = TimeoutMs();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int error =
        MySqlSocketConnect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address, timeoutMs);
    if (error == 0) break;
    if (error != EAGAIN || (timeoutMs > 0 && std::chrono::steady_clock::now() >= deadline)) {
      ::close(fd);
      RaisePipeError(error == EAGAIN ? CR_NAMEDPIPEWAIT_ERROR : CR_NAMEDPIPEOPEN_ERROR, path,
                     error == ECANCELED ? kMySqlConnectCancelledText : std::strerror(error));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  FSocket = fd;
}
