#include "core/CRConnectionPool.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "PoolTestSupport.h"

namespace {

using namespace pooltest;

TEST(CRConnectionParametersTest, EqualityIsThePoolKey) {
  struct Case {
    const char* name;
    std::function<void(TCRConnectionParameters&)> change;
    bool equal;
  };
  const Case cases[] = {
      {"same", [](TCRConnectionParameters&) {}, true},
      {"server case", [](TCRConnectionParameters& p) { p.Server = "DB.Example.ORG"; }, true},
      {"user case", [](TCRConnectionParameters& p) { p.Username = "GM"; }, false},
      {"password case", [](TCRConnectionParameters& p) { p.Password = "Secret"; }, false},
      {"server", [](TCRConnectionParameters& p) { p.Server = "db2.example.org"; }, false},
      {"min size", [](TCRConnectionParameters& p) { p.MinPoolSize = 1; }, false},
      {"max size", [](TCRConnectionParameters& p) { p.MaxPoolSize = 99; }, false},
      {"lifetime", [](TCRConnectionParameters& p) { p.ConnectionLifetime = 1; }, false},
      {"validate", [](TCRConnectionParameters& p) { p.Validate = true; }, false},
  };
  TCRConnectionParameters base;
  base.Username = "gm";
  base.Server = "db.example.org";
  base.Password = "secret";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<TCRConnectionParameters> other = base.Clone();
    c.change(*other);
    EXPECT_EQ(base.Equals(other.get()), c.equal);
    EXPECT_EQ(other->Equals(&base), c.equal);
  }
  EXPECT_FALSE(base.Equals(nullptr));
}

class CRConnectionPoolTest : public ::testing::Test {
 protected:
  std::shared_ptr<TTestPool> MakePool(int maxSize = 4) {
    TCRConnectionParameters parameters;
    parameters.MaxPoolSize = maxSize;
    return MakePool(parameters);
  }
  std::shared_ptr<TTestPool> MakePool(const TCRConnectionParameters& parameters) {
    auto pool = std::make_shared<TTestPool>(parameters, Server);
    pool->SetWaitTimeout(0);  // a full pool fails at once instead of waiting
    return pool;
  }

  TPretendServer Server;
};

TEST_F(CRConnectionPoolTest, ReturnedConnectionsAreHandedOutAgainOldestFirst) {
  auto pool = MakePool();
  auto a = pool->GetConnection();
  auto b = pool->GetConnection();
  EXPECT_TRUE(a->GetConnected());
  EXPECT_EQ(a->GetPool(), pool.get());
  const int idA = IdOf(a), idB = IdOf(b);
  TCRConnection::ReturnToPool(std::move(a));
  TCRConnection::ReturnToPool(std::move(b));
  EXPECT_EQ(pool->GetTotalConnectionsCount(), 2);
  EXPECT_EQ(IdOf(pool->GetConnection()), idA);  // freed by its owner: the slot comes back
  EXPECT_EQ(IdOf(pool->GetConnection()), idB);
  EXPECT_EQ(Server.Connects, 2);
  EXPECT_EQ(pool->GetTotalConnectionsCount(), 0);
}

TEST_F(CRConnectionPoolTest, FailedConnectsGiveTheirSlotBack) {
  auto pool = MakePool(3);
  Server.FailConnects = 6;
  for (int i = 0; i < 6; ++i) {
    SCOPED_TRACE(i);
    try {
      pool->GetConnection();
      FAIL() << "connected";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Message(), "Can't connect to the pretend server");
    }
  }
  EXPECT_EQ(pool->GetTotalConnectionsCount(), 0);
  auto connection = pool->GetConnection();  // no wait allowed: the slots must all be free
  EXPECT_TRUE(connection->GetConnected());
}

TEST_F(CRConnectionPoolTest, AFullPoolRefusesWithMaximumConnectionsReached) {
  auto pool = MakePool(1);
  auto held = pool->GetConnection();
  try {
    pool->GetConnection();
    FAIL() << "second connection from a pool of one";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Maximum connections reached in pool");
  }
  const int id = IdOf(held);
  TCRConnection::ReturnToPool(std::move(held));
  EXPECT_EQ(IdOf(pool->GetConnection()), id);
  EXPECT_THROW(MakePool(0)->GetConnection(), Exception);
}

TEST_F(CRConnectionPoolTest, WhatHappensToAReturnedConnection) {
  struct Case {
    const char* name;
    int lifetime;
    std::function<void(TTestPool&, TTestConnection&)> before;
    bool serverValid;
    bool pooled;
    int checks;
  };
  const Case cases[] = {
      {"plain", 0, [](TTestPool&, TTestConnection&) {}, true, true, 0},
      {"old, no lifetime", 0, [](TTestPool&, TTestConnection& c) { c.Age(1000000); }, true, true, 0},
      {"past its lifetime", 5000, [](TTestPool&, TTestConnection& c) { c.Age(5001); }, true, false, 0},
      {"within its lifetime", 5000, [](TTestPool&, TTestConnection& c) { c.Age(4000); }, true, true, 0},
      {"marked invalid", 0, [](TTestPool&, TTestConnection& c) { c.SetIsValid(false); }, true, false, 0},
      {"pool invalidated", 0, [](TTestPool& p, TTestConnection&) { p.Invalidate(); }, true, false, 0},
      {"marked for validation, valid", 0, [](TTestPool& p, TTestConnection&) { p.MarkForValidation(); }, true,
       true, 1},
      {"marked for validation, broken", 0, [](TTestPool& p, TTestConnection&) { p.MarkForValidation(); }, false,
       false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCRConnectionParameters parameters;
    parameters.ConnectionLifetime = c.lifetime;
    auto pool = MakePool(parameters);
    auto connection = pool->GetConnection();
    Server.Valid = c.serverValid;
    Server.Checks = 0;
    c.before(*pool, static_cast<TTestConnection&>(*connection));
    TCRConnection::ReturnToPool(std::move(connection));
    EXPECT_EQ(pool->GetTotalConnectionsCount(), c.pooled ? 1 : 0);
    EXPECT_EQ(Server.Alive, c.pooled ? 1 : 0);
    EXPECT_EQ(Server.Checks, c.checks);
    Server.Valid = true;
  }
}

TEST_F(CRConnectionPoolTest, WhatHappensToAnIdleConnectionAtItsNextUse) {
  struct Case {
    const char* name;
    bool validate;
    void (TCRConnectionPool::*change)();
    bool serverValid;
    bool reused;
    int checks;
  };
  const Case cases[] = {
      {"nothing changed", false, nullptr, true, true, 0},
      {"validate on every use", true, nullptr, true, true, 1},
      {"validate, broken", true, nullptr, false, false, 1},
      {"marked for validation", false, &TCRConnectionPool::MarkForValidation, true, true, 1},
      {"marked for validation, broken", false, &TCRConnectionPool::MarkForValidation, false, false, 1},
      {"invalidated", false, &TCRConnectionPool::Invalidate, true, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TCRConnectionParameters parameters;
    parameters.Validate = c.validate;
    auto pool = MakePool(parameters);
    auto connection = pool->GetConnection();
    const int id = IdOf(connection);
    TCRConnection::ReturnToPool(std::move(connection));
    if (c.change) ((*pool).*c.change)();
    Server.Valid = c.serverValid;
    Server.Checks = 0;
    connection = pool->GetConnection();
    EXPECT_EQ(IdOf(connection) == id, c.reused);
    EXPECT_EQ(Server.Checks, c.checks);
    EXPECT_EQ(Server.Alive, 1) << "a connection that failed its checks is freed";
    Server.Valid = true;
    connection.reset();
  }
}

TEST_F(CRConnectionPoolTest, ValidationFreesConnectionsIdleThroughEightCycles) {
  auto pool = MakePool();
  auto busy = pool->GetConnection();
  TCRConnection::ReturnToPool(pool->GetConnection());
  for (int cycle = 1; cycle <= 9; ++cycle) {
    SCOPED_TRACE(cycle);
    pool->Validate();
    EXPECT_EQ(pool->GetTotalConnectionsCount(), cycle <= 8 ? 2 : 1);
  }
  EXPECT_EQ(Server.Checks, 7) << "checked in every cycle but the first after its return";
  EXPECT_EQ(Server.Alive, 1);
}

TEST_F(CRConnectionPoolTest, ValidationChecksStaleConnectionsAndTrimsTheSurplus) {
  TCRConnectionParameters parameters;
  parameters.MaxPoolSize = 20;
  parameters.MinPoolSize = 2;
  auto pool = MakePool(parameters);
  std::vector<std::unique_ptr<TCRConnection>> out;
  for (int i = 0; i < 18; ++i) out.push_back(pool->GetConnection());
  for (auto& connection : out) TCRConnection::ReturnToPool(std::move(connection));
  pool->Validate();  // returned since the last cycle and current: no check; surplus 16 noted
  EXPECT_EQ(Server.Checks, 0);
  EXPECT_EQ(pool->GetTotalConnectionsCount(), 18);
  pool->Validate();  // trims (16 + 6) / 8 = 2, checks the rest
  EXPECT_EQ(pool->GetTotalConnectionsCount(), 16);
  EXPECT_EQ(Server.Checks, 18);
  Server.Valid = false;
  pool->Validate();
  EXPECT_EQ(pool->GetTotalConnectionsCount(), 0) << "every connection failed its check";
  EXPECT_EQ(Server.Alive, 0);
}

TEST_F(CRConnectionPoolTest, AHandedOutConnectionKeepsItsPoolAndItsOwnerMayFreeIt) {
  auto pool = MakePool(1);
  auto connection = pool->GetConnection();
  connection->OnError = [](EDAError&, bool&, bool&, bool&, int, TConnLostCause&) {};
  connection->OnReconnectError = [] {};
  TCRConnection* raw = connection.get();
  std::weak_ptr<TTestPool> weak = pool;
  pool.reset();
  ASSERT_FALSE(weak.expired()) << "the connection holds its pool";
  TCRConnection::ReturnToPool(std::move(connection));
  EXPECT_TRUE(weak.expired()) << "handed back to a pool nobody else holds: both are freed";
  EXPECT_EQ(Server.Alive, 0);

  pool = MakePool(1);
  connection = pool->GetConnection();
  connection.reset();  // freed instead of handed back: the slot is free again
  connection = pool->GetConnection();
  TCRConnection::ReturnToPool(std::move(connection));
  connection = pool->GetConnection();
  raw = connection.get();
  EXPECT_FALSE(raw->OnError) << "a returned connection keeps no callback of its last owner";
  EXPECT_FALSE(raw->OnReconnectError);
  EXPECT_THROW(TCRConnection::ReturnToPool(std::make_unique<TTestConnection>(Server)), EAssertionFailed);
}

TEST(CRConnectionPoolManagerTest, EqualParametersShareAPool) {
  TPretendServer server;
  TTestManager manager(server, ConnectionPoolValidateInterval);
  TCRConnectionParameters gm, gmHost, other;
  gm.Username = gmHost.Username = "gm";
  other.Username = "GM";
  gm.Server = "db";
  gmHost.Server = "DB";
  auto a = manager.GetConnection(gm);
  TCRConnection::ReturnToPool(std::move(a));
  EXPECT_EQ(IdOf(manager.GetConnection(gmHost)), 1);
  EXPECT_NE(IdOf(manager.GetConnection(other)), 1);
  EXPECT_EQ(manager.GetPoolCount(), 2);
  manager.ClearPools();
  EXPECT_EQ(manager.GetPoolCount(), 0);
  EXPECT_EQ(server.Alive, 0);
}

}  // namespace
