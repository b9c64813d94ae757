// The connect sequence of the login: the three shared connections (account, character, log)
// opened in that order, each announced and reported through a sink, stopping at the first
// failure with the connections opened before left open. Widget-free; the login window is its
// sink, tests drive it with connections of their own.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "console/common/DbIniSettings.h"

class TCustomDAConnection;

// Where one connection goes. Texts are ANSI bytes.
struct TConnectTarget {
  std::string Server;
  int Port = 3306;
  std::string Uid;
  std::string Pwd;
  std::string Database;
  // The character set to use; empty leaves the connection's own.
  std::string Charset;
};

// One shared connection as the login drives it. Open raises on any failure.
class TLoginConnection {
 public:
  virtual ~TLoginConnection() = default;
  virtual void Close() = 0;
  virtual void Open(const TConnectTarget& target) = 0;
  virtual bool Connected() const = 0;
  // The connection the tool windows use; null while the library has none for this kind.
  virtual TCustomDAConnection* Connection() = 0;
};

// Makes connection 0 (account), 1 (character) or 2 (log).
using TLoginConnectionFactory = std::function<std::unique_ptr<TLoginConnection>(int index)>;

class TLoginSink {
 public:
  virtual ~TLoginSink() = default;
  // The status line (UTF-8).
  virtual void Status(const std::string& text) = 0;
  // An error box (UTF-8).
  virtual void Error(const std::string& text) = 0;
  // Lets pending window messages run so that the status line repaints.
  virtual void ProcessMessages() = 0;
};

// Checks the typed settings in the order the user is told about them; the message of the
// first problem (UTF-8), or empty when they can be used.
std::string CheckLoginInput(const TDbSettings& s);

class TLoginSession {
 public:
  explicit TLoginSession(TLoginConnectionFactory factory);

  // Opens con1, con2, con3 in order; true when all three are open.
  bool Connect(const TDbSettings& settings, TLoginSink& sink);
  bool Connected() const noexcept { return FConnected; }
  // 0: account (con1), 1: character (con2), 2: log (con3).
  TLoginConnection& Con(int index) { return *FCons.at(static_cast<size_t>(index)); }

 private:
  std::array<std::unique_ptr<TLoginConnection>, 3> FCons;
  bool FConnected = false;
};
