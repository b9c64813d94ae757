// The MySQL side of the connection pools: the pool key with every setting a MySQL session is
// opened with, a pool that makes TMySQLConnection sessions, and the process-wide manager the
// MySQL connection component asks when pooling is on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/CRConnectionPool.h"
#include "mysql/MyClasses.h"
#include "mysql/MySQLConnection.h"

class TMyIOHandler;

class TMyConnectionParameters : public TCRConnectionParameters {
 public:
  // With a TMyConnectionParameters destination every MySQL setting too.
  void AssignTo(TCRConnectionParameters& dest) const override;
  std::unique_ptr<TCRConnectionParameters> Clone() const override;
  // The inherited comparison; then, when other is a TMyConnectionParameters too, every setting
  // below equal, names and paths with case (database names are case-sensitive on Linux
  // servers), the four SSL settings only when Protocol is mpSSL.
  bool Equals(const TCRConnectionParameters* other) const override;

  std::string Database;
  int32_t Port = 0;
  TMyIOHandler* IOHandler = nullptr;  // not owned
  int32_t ConnectionTimeout = 15;     // seconds
  TMyIsolationLevel IsolationLevel = ilReadCommitted;
  bool Compress = false;
  bool UseUnicode = false;
  std::string Charset;
  TMyProtocol Protocol = mpDefault;
  bool Embedded = false;
  TDANumericType NumericType = ntFloat;
  bool Direct = true;
  std::string ChipherList, CACert, Key, Cert;
};

class TMyLocalConnectionPool : public TCRLocalConnectionPool {
 public:
  explicit TMyLocalConnectionPool(const TMyConnectionParameters& parameters);

 protected:
  // A TMySQLConnection with the pool's settings, connected; its connect error passes on.
  std::unique_ptr<TCRConnection> CreateNewConnection() override;
};

class TMyConnectionPoolManager : public TCRConnectionPoolManager {
 public:
  using TCRConnectionPoolManager::TCRConnectionPoolManager;

  // A connection from the process's manager (made on first use), for parameters equal to these.
  // Raises what the pool raises: the connect error (EMyError), or Exception "Maximum
  // connections reached in pool" after the pool's wait. Hand it back with
  // TCRConnection::ReturnToPool.
  static std::unique_ptr<TMySQLConnection> GetPooledConnection(const TMyConnectionParameters& parameters);
  // Drops every pool of the process's manager, when there is one.
  static void Clear();

 protected:
  std::shared_ptr<TCRConnectionPool> CreateConnectionPool(const TCRConnectionParameters& parameters) override;
};
