#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PoolTestSupport.h"
#include "core/CRConnectionPool.h"

namespace {

using namespace pooltest;
using namespace std::chrono_literals;

// Waits up to 10 s for cond.
template <class Cond>
bool Eventually(Cond cond) {
  for (auto end = std::chrono::steady_clock::now() + 10s; !cond(); std::this_thread::sleep_for(1ms))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

// Two threads per key and one connection per pool: each waits for the other's to come back.
TEST(CRConnectionPoolThreadsTest, ManyThreadsTakeAndReturnWhileTheValidatorRuns) {
  TPretendServer server;
  {
    TTestManager manager(server, 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([&, t] {
        TCRConnectionParameters parameters;
        parameters.MaxPoolSize = 1;
        parameters.Username = "user" + std::to_string(t % 4);
        parameters.ConnectionLifetime = t % 4 < 2 ? 2 : 0;  // short lives empty pools, which get dropped
        for (int i = 0; i < 1000; ++i) {
          std::unique_ptr<TCRConnection> connection = manager.GetConnection(parameters);
          if (i % 50 != 0) TCRConnection::ReturnToPool(std::move(connection));  // else freed by its owner
        }
      });
    for (auto& thread : threads) thread.join();
  }
  EXPECT_EQ(server.Alive, 0);
  EXPECT_LE(server.MostAlive, 4) << "one connection per key";
}

TEST(CRConnectionPoolThreadsTest, DestroyingTheManagerMidValidationWaitsForTheCycle) {
  TPretendServer server;
  auto manager = std::make_unique<TTestManager>(server, 1);
  TCRConnectionParameters parameters;
  TCRConnection::ReturnToPool(manager->GetConnection(parameters));
  server.HoldChecks = true;
  manager->GetConnectionPool(parameters)->MarkForValidation();  // the next cycle checks the idle one
  {
    std::unique_lock<std::mutex> lock(server.Lock);
    server.Changed.wait(lock, [&] { return server.InCheck; });
  }
  std::thread destroyer([&] { manager.reset(); });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(server.Alive, 1) << "not freed under the running check";
  server.Release();
  destroyer.join();
  EXPECT_EQ(server.Alive, 0);
}

TEST(CRConnectionPoolThreadsTest, TheValidatorChecksIdleConnectionsAndDropsEmptyPools) {
  TPretendServer server;
  TTestManager manager(server, 1);
  TCRConnectionParameters shortLived, longLived;
  shortLived.ConnectionLifetime = 1;
  auto connection = manager.GetConnection(shortLived);
  TCRConnection::ReturnToPool(manager.GetConnection(longLived));
  EXPECT_TRUE(Eventually([&] { return server.Checks > 0; })) << "the idle connection is checked";
  EXPECT_TRUE(Eventually([&] { return server.Alive == 1; })) << "and freed after eight cycles";
  EXPECT_TRUE(Eventually([&] { return manager.GetPoolCount() == 1; }));
  std::this_thread::sleep_for(5ms);
  EXPECT_EQ(manager.GetPoolCount(), 1) << "a pool with a connection out stays";
  TCRConnection::ReturnToPool(std::move(connection));  // past its lifetime: freed
  EXPECT_TRUE(Eventually([&] { return manager.GetPoolCount() == 0; }));
}

}  // namespace
