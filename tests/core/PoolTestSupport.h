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
  std::atomic<int> FailConnects{0}, Checks{0}, Alive{0}, MostAlive{0}, NextId{1};
  std::atomic<bool> Valid{true};  // what CheckIsValid answers
  // While HoldChecks is set, CheckIsValid sets InCheck and waits for Release.
  std::mutex Lock;
  std::condition_variable Changed;
  bool HoldChecks = false, InCheck = false;

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
  ~TTestConnection() override { --Server.Alive; }

  void Connect(const std::string&) override {
    if (Server.FailConnects.fetch_sub(1) > 0) throw EDatabaseError("Can't connect to the pretend server");
    FConnected = true;
  }
  bool CheckIsValid() override {
    ++Server.Checks;
    std::unique_lock<std::mutex> lock(Server.Lock);
    Server.InCheck = Server.HoldChecks;
    Server.Changed.notify_all();
    Server.Changed.wait(lock, [this] { return !Server.HoldChecks; });
    return FIsValid = Server.Valid;
  }
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
  TPretendServer& Server;
};

class TTestManager : public TCRConnectionPoolManager {
 public:
  TTestManager(TPretendServer& server, uint32_t validateIntervalMs)
      : TCRConnectionPoolManager(validateIntervalMs), Server(server) {}
  using TCRConnectionPoolManager::GetConnectionPool;

 protected:
  std::shared_ptr<TCRConnectionPool> CreateConnectionPool(
      const TCRConnectionParameters& parameters) override {
    return std::make_shared<TTestPool>(parameters, Server);
  }
  TPretendServer& Server;
};

inline int IdOf(const std::unique_ptr<TCRConnection>& connection) {
  return static_cast<TTestConnection&>(*connection).Id;
}

}  // namespace pooltest
