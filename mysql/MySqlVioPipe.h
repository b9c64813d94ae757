// The local transport: a Unix-domain stream socket, used for both the socket and the pipe
// protocol. Reads and writes have the same deadlines as TCP.
#pragma once

#include <string>

#include "mysql/MySqlVioTcp.h"

class TMySqlVioPipe : public TMySqlVioSocket {
 public:
  static constexpr char DefaultSocketPath[] = "/run/mysqld/mysqld.sock";

  TMySqlVioPipe(std::string host, std::string pipeName, int port);
  // Errors: EMySqlException 2017 "Can't open named pipe ..." (no such socket, refused, path too
  // long), 2016 "Can't wait for named pipe ..." (the server's queue stayed full for the whole
  // time-out). Fails an assertion when already connected.
  void Connect() override;

  // The socket path for a pipe name: the name itself when it holds a "/", else $MYSQL_UNIX_PORT
  // when set and not empty, else /run/mysqld/mysqld.sock.
  static std::string SocketPath(const std::string& pipeName);

  int Port() const noexcept { return FPort; }

 private:
  [[noreturn]] void RaisePipeError(int code, const std::string& path, int error);

  std::string FHost;
  std::string FPipeName;
  int FPort;  // kept; a local socket has none
};
