// A provider connection, pool and manager over a pretend server that counts what happens to its
// connections and fails connects or checks on request.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "core/CRConnectionPool.h"
#include "platform/runtime/Exceptions.h"

namespace pooltest {

struct TPretendServer {
  std::atomic<int> FailConnects{0};  // this many next connects fail
  std::atomic<bool> Valid{true};     // what CheckIsValid answers
  std::atomic<int> Connects{0};
  std::atomic<int> Checks{0};
  std::atomic<int> Alive{0};
  std::atomic<int> MostAlive{0};
  std::atomic<int> NextId{1};

  // While HoldChecks is set, CheckIsValid waits (InCheck set) until Release.
  std::mutex Lock;
  std::condition_variable Changed;
  bool HoldChecks = false;
  bool InCheck = false;

  void WaitInCheck() {
    std::unique_lock<std::mutex> lock(Lock);
    Changed.wait(lock, [this] { return InCheck; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(Lock);
    HoldChecks = false;
    Changed.notify_all();
  }
};

class TTestConnection : public TCRConnection {
 public:
  explicit TTestConnection(TPretendServer& server) : Server(server), Id(server.NextId++) {
    const int alive = ++Server.Alive;
    for (int most = Server.MostAlive; alive > most && !Server.MostAlive.compare_exchange_weak(most, alive);) {
    }
  }
  ~TTestConnection() override {
    Disconnect();
    --Server.Alive;
  }

  void Connect(const std::string&) override {
    if (Server.FailConnects.fetch_sub(1) > 0) throw EDatabaseError("Can't connect to the pretend server");
    ++Server.Connects;
    FConnected = true;
  }
  void Disconnect() override { FConnected = false; }
  bool CheckIsValid() override {
    ++Server.Checks;
    std::unique_lock<std::mutex> lock(Server.Lock);
    if (Server.HoldChecks) {
      Server.InCheck = true;
      Server.Changed.notify_all();
      Server.Changed.wait(lock, [this] { return !Server.HoldChecks; });
    }
    FIsValid = Server.Valid;
    return FIsValid;
  }
  // Makes the connection look ms milliseconds older.
  void Age(uint32_t ms) { FCreationTime -= ms; }

  TPretendServer& Server;
  const int Id;
};

class TTestPool : public TCRLocalConnectionPool {
 public:
  TTestPool(const TCRConnectionParameters& parameters, TPretendServer& server)
      : TCRLocalConnectionPool(parameters), Server(server) {}

 protected:
  std::unique_ptr<TCRConnection> CreateNewConnection() override {
    auto connection = std::make_unique<TTestConnection>(Server);
    connection->Connect(std::string());
    return connection;
  }

 private:
  TPretendServer& Server;
};

class TTestManager : public TCRConnectionPoolManager {
 public:
  TTestManager(TPretendServer& server, uint32_t validateIntervalMs)
      : TCRConnectionPoolManager(validateIntervalMs), Server(server) {}
  using TCRConnectionPoolManager::GetConnectionPool;

 protected:
  std::shared_ptr<TCRConnectionPool> CreateConnectionPool(const TCRConnectionParameters& parameters) override {
    return std::make_shared<TTestPool>(parameters, Server);
  }

 private:
  TPretendServer& Server;
};

inline int IdOf(const std::unique_ptr<TCRConnection>& connection) {
  return static_cast<TTestConnection&>(*connection).Id;
}

}  // namespace pooltest
