// The local transport: a Unix-domain stream socket, used for both the socket and the pipe
// protocol. Reads and writes have the same deadlines as TCP.
#pragma once

#include <string>

#include "mysql/MySqlVioTcp.h"

class TMySqlVioPipe : public TMySqlVioSocket {
 public:
  static constexpr char DefaultSocketPath[] = "/run/mysqld/mysqld.sock";

  // The host must be local (IsLocalHost); a host that is a socket path names the socket when the
  // pipe name does not.
  TMySqlVioPipe(std::string host, std::string pipeName, int port);
  // Errors: EMySqlException 2017 "Can't open named pipe ..." (a host that is not local, no such
  // socket, refused, path too long; the reason and the path in the text; ErrorText holds both), 2016 "Can't
  // wait for named pipe ..." (the server's queue stayed full for the whole time-out). Fails an assertion when
  // already connected.
  void Connect() override;

  // The socket path for a pipe name: the name itself when it holds a "/", else $MYSQL_UNIX_PORT
  // when set and not empty, else /run/mysqld/mysqld.sock.
  static std::string SocketPath(const std::string& pipeName);

  // A host name a local socket can stand for: empty, "localhost" (any case), "." or a socket path
  // (it holds a "/"). Any other name is a remote server, which a local socket never reaches.
  static bool IsLocalHost(const std::string& host) noexcept;
  // The reason given when it is not.
  static std::string NotLocalReason(const std::string& host);

  int Port() const noexcept { return FPort; }

 private:
  [[noreturn]] void RaisePipeError(int code, const std::string& path, const std::string& reason);

  std::string FHost;
  std::string FPipeName;
  int FPort;  // kept; a local socket has none
};
