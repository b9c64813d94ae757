// The login's shared connections over the MySQL provider connection, with the console's
// time-outs: a server that does not answer ends the attempt instead of holding the window.
#pragma once

#include <memory>

#include "console/LoginSession.h"

class TMySQLConnection;

// Seconds a connection attempt may take.
inline constexpr int kConnectTimeoutSeconds = 10;

class TMyLoginConnection : public TLoginConnection {
 public:
  // initialCharset: the character set used while the login leaves it unchanged.
  explicit TMyLoginConnection(std::string initialCharset);
  ~TMyLoginConnection() override;

  void Close() override;
  void Open(const TConnectTarget& target) override;
  bool Connected() const override;
  TCustomDAConnection* Connection() override { return nullptr; }
  // The provider connection (for statements of the console's own).
  TMySQLConnection& Provider() { return *FConnection; }

 private:
  std::unique_ptr<TMySQLConnection> FConnection;
};

// con1 starts on gb2312 (account names travel in it); con2 and con3 on the server's default.
std::unique_ptr<TLoginConnection> MakeMyLoginConnection(int index);
