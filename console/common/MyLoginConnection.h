// The login's shared connections as MySQL connection components, with the console's time-outs:
// a server that does not answer ends the attempt or the statement instead of holding the window.
#pragma once

#include <QString>
#include <memory>

#include "console/common/LoginSession.h"

class TCustomDAConnection;
class TMyConnection;
class TMySQLConnection;

// Seconds a connection attempt may take.
inline constexpr int kConnectTimeoutSeconds = 10;
// Seconds a browsing statement may wait for the server's answer. Long work (free SQL, backup,
// restore, the merge) sets its own time-out instead.
inline constexpr int kReadTimeoutSeconds = 30;

class TMyLoginConnection : public TLoginConnection {
 public:
  // initialCharset: the character set used while the login leaves it unchanged.
  explicit TMyLoginConnection(std::string initialCharset);
  ~TMyLoginConnection() override;

  void Close() override;
  void Open(const TConnectTarget& target) override;
  bool Connected() const override;
  TCustomDAConnection* Connection() override;
  TMyConnection& MyConnection() { return *FConnection; }
  // The provider connection of the open session (for statements of the console's own).
  TMySQLConnection& Provider();

 private:
  std::unique_ptr<TMyConnection> FConnection;
};

// con1 starts on gb2312 (account names travel in it); con2 and con3 on the server's default.
std::unique_ptr<TLoginConnection> MakeMyLoginConnection(int index);

// A session of its own opened with exactly source's settings (server, port, user, password,
// database, character set, transport and the rest) and the console's time-outs, for a window whose
// statements must not reach the session of source (a USE, a SET, a temporary table or an open
// transaction). Raises what opening raises.
std::unique_ptr<TMyLoginConnection> OpenSessionLike(TMyConnection& source);

// Whether the database of connection holds a table named table, without regard to case. Raises
// what reading the table list raises.
bool HasTableNamed(TCustomDAConnection& connection, const QString& table);
