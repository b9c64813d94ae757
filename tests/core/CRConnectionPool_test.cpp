#include "core/CRConnectionPool.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "PoolTestSupport.h"

namespace {

using namespace pooltest;
using TParams = TCRConnectionParameters;

TEST(CRConnectionParametersTest, UserAndPasswordCompareWithCaseServerWithout) {
  const struct {
    const char* name;
    void (*change)(TParams&);
    bool equal;
  } cases[] = {
      {"server case", [](TParams& p) { p.Server = "DB"; }, true},
      {"user case", [](TParams& p) { p.Username = "GM"; }, false},
      {"password case", [](TParams& p) { p.Password = "Secret"; }, false},
      {"max size", [](TParams& p) { p.MaxPoolSize = 99; }, false},
  };
  TParams base;
  base.Username = "gm", base.Server = "db", base.Password = "secret";
  EXPECT_FALSE(base.Equals(nullptr));
  for (const auto& c : cases) {
    std::unique_ptr<TParams> other = base.Clone();
    c.change(*other);
    EXPECT_EQ(base.Equals(other.get()), c.equal) << c.name;
  }
}

class CRConnectionPoolTest : public ::testing::Test {
 protected:
  std::shared_ptr<TTestPool> MakePool(const std::function<void(TParams&)>& set = nullptr) {
    TParams parameters;
    parameters.MaxPoolSize = 3;
    if (set) set(parameters);
    auto pool = std::make_shared<TTestPool>(parameters, Server);
    pool->SetWaitTimeout(0);  // a full pool fails at once instead of waiting
    return pool;
  }
  TPretendServer Server;
};

TEST_F(CRConnectionPoolTest, TwiceTheMaximumOfFailedConnectsThenAGoodOneSucceedsAtOnce) {
  auto pool = MakePool();
  Server.FailConnects = 6;
  for (int i = 0; i < 6; ++i) EXPECT_THROW(pool->GetConnection(), EDatabaseError) << i;
  EXPECT_TRUE(pool->GetConnection()->GetConnected());
}

TEST_F(CRConnectionPoolTest, AFullPoolRefusesWithMaximumConnectionsReached) {
  auto pool = MakePool([](TParams& p) { p.MaxPoolSize = 1; });
  auto held = pool->GetConnection();
  try {
    pool->GetConnection();
    FAIL() << "second connection from a pool of one";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Maximum connections reached in pool");
  }
  held.reset();  // freed by its owner: the slot comes back
  EXPECT_NO_THROW(pool->GetConnection());
  EXPECT_THROW(MakePool([](TParams& p) { p.MaxPoolSize = 0; })->GetConnection(), Exception);
}

// Each case takes a connection, changes something, hands it back, changes something, and takes
// one again.
TEST_F(CRConnectionPoolTest, ReturnedConnectionsAreKeptAndReusedOnlyWhileSound) {
  using TChange = void (*)(TTestPool&, TTestConnection&);
  const TChange none = [](TTestPool&, TTestConnection&) {};
  const TChange mark = [](TTestPool& p, TTestConnection&) { p.MarkForValidation(); };
  const TChange age = [](TTestPool&, TTestConnection& c) { c.Age(5001); };
  const struct {
    const char* name;
    int lifetime;
    bool validate;
    TChange out, idle;
    bool serverValid, pooled, reused;
    int checks;
  } cases[] = {
      {"plain", 0, false, none, none, true, true, true, 0},
      {"old, no lifetime", 0, false, age, none, true, true, true, 0},
      {"past its lifetime", 5000, false, age, none, true, false, false, 0},
      {"marked invalid", 0, false, [](TTestPool&, TTestConnection& c) { c.SetIsValid(false); }, none, true,
       false, false, 0},
      {"invalidated while out", 0, false, [](TTestPool& p, TTestConnection&) { p.Invalidate(); }, none, true,
       false, false, 0},
      {"invalidated while idle", 0, false, none, [](TTestPool& p, TTestConnection&) { p.Invalidate(); }, true,
       true, false, 0},
      {"marked while out", 0, false, mark, none, true, true, true, 1},
      {"marked while out, broken", 0, false, mark, none, false, false, false, 1},
      {"marked while idle", 0, false, none, mark, true, true, true, 1},
      {"marked while idle, broken", 0, false, none, mark, false, true, false, 1},
      {"validate on every use", 0, true, none, none, true, true, true, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto pool = MakePool([&](TParams& p) { p.ConnectionLifetime = c.lifetime, p.Validate = c.validate; });
    auto connection = pool->GetConnection();
    auto& test = static_cast<TTestConnection&>(*connection);
    const int id = test.Id;
    Server.Valid = c.serverValid;
    Server.Checks = 0;
    c.out(*pool, test);
    TCRConnection::ReturnToPool(std::move(connection));
    EXPECT_EQ(Server.Alive, c.pooled ? 1 : 0);
    if (c.pooled) c.idle(*pool, test);
    EXPECT_EQ(IdOf(pool->GetConnection()) == id, c.reused);
    EXPECT_EQ(Server.Checks, c.checks);
    Server.Valid = true;
  }
}

TEST_F(CRConnectionPoolTest, ValidationFreesIdleStaleAndSurplusConnections) {
  auto pool = MakePool();
  auto busy = pool->GetConnection();
  TCRConnection::ReturnToPool(pool->GetConnection());
  for (int cycle = 1; cycle <= 9; ++cycle) {
    pool->Validate();
    EXPECT_EQ(pool->GetTotalConnectionsCount(), cycle <= 8 ? 2 : 1) << "freed after eight idle cycles";
  }
  EXPECT_EQ(Server.Checks, 7) << "checked in every cycle but the first after its return";

  pool = MakePool([](TParams& p) { p.MaxPoolSize = 20, p.MinPoolSize = 2; });
  std::vector<std::unique_ptr<TCRConnection>> out(18);
  for (auto& connection : out) connection = pool->GetConnection();
  for (auto& connection : out) TCRConnection::ReturnToPool(std::move(connection));
  Server.Checks = 0;
  pool->Validate();  // just returned: no check; a surplus of 16 noted
  pool->Validate();  // trims (16 + 6) / 8 and checks the rest
  EXPECT_EQ(pool->GetTotalConnectionsCount(), 16);
  EXPECT_EQ(Server.Checks, 18);
  Server.Valid = false;
  pool->Validate();
  EXPECT_EQ(pool->GetTotalConnectionsCount(), 0);
}

TEST_F(CRConnectionPoolTest, AHandedOutConnectionKeepsItsPoolAndDropsItsOwnersCallbacks) {
  auto pool = MakePool();
  auto connection = pool->GetConnection();
  connection->OnError = [](EDAError&, bool&, bool&, bool&, int, TConnLostCause&) {};
  connection->OnReconnectError = [] {};
  TCRConnection::ReturnToPool(std::move(connection));
  connection = pool->GetConnection();
  EXPECT_FALSE(connection->OnError);
  EXPECT_FALSE(connection->OnReconnectError);
  std::weak_ptr<TTestPool> weak = pool;
  pool.reset();
  ASSERT_FALSE(weak.expired());
  TCRConnection::ReturnToPool(std::move(connection));
  EXPECT_TRUE(weak.expired()) << "handed back to a pool nobody else holds: both are freed";
  EXPECT_EQ(Server.Alive, 0);
  EXPECT_THROW(TCRConnection::ReturnToPool(std::make_unique<TTestConnection>(Server)), EAssertionFailed);
}

}  // namespace
