#include "core/CRConnectionPool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "PoolTestSupport.h"

namespace {

using namespace pooltest;
using namespace std::chrono_literals;

// Waits up to 10 s for cond; false when it never came.
template <class Cond>
bool Eventually(Cond cond) {
  for (auto end = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < end;) {
    if (cond()) return true;
    std::this_thread::sleep_for(1ms);
  }
  return cond();
}

TEST(CRConnectionPoolThreadsTest, ManyThreadsTakeAndReturnWhileTheValidatorRuns) {
  TPretendServer server;
  {
    TTestManager manager(server, 1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([&, t] {
        TCRConnectionParameters parameters;
        parameters.MaxPoolSize = 3;
        parameters.Username = t % 2 ? "odd" : "even";
        parameters.ConnectionLifetime = t < 4 ? 2 : 0;  // short lives empty pools, so they get dropped
        for (int i = 0; i < 1000; ++i) {
          std::unique_ptr<TCRConnection> connection = manager.GetConnection(parameters);
          if (i % 7 == 0) std::this_thread::yield();
          if (i % 50 == 0) {
            connection.reset();  // freed by its owner
          } else {
            TCRConnection::ReturnToPool(std::move(connection));
          }
        }
      });
    for (auto& thread : threads) thread.join();
  }
  EXPECT_EQ(server.Alive, 0);
  EXPECT_LE(server.MostAlive, 4 * 3) << "four keys, at most three connections each";
}

TEST(CRConnectionPoolThreadsTest, AWaitingCallerGetsTheConnectionReturnedMeanwhile) {
  TPretendServer server;
  TCRConnectionParameters parameters;
  parameters.MaxPoolSize = 1;
  auto pool = std::make_shared<TTestPool>(parameters, server);
  auto held = pool->GetConnection();
  const int id = IdOf(held);
  std::thread returner([&] {
    std::this_thread::sleep_for(50ms);
    TCRConnection::ReturnToPool(std::move(held));
  });
  auto connection = pool->GetConnection();  // waits up to 30 s
  returner.join();
  EXPECT_EQ(IdOf(connection), id);
}

TEST(CRConnectionPoolThreadsTest, DestroyingTheManagerMidValidationWaitsForTheCycle) {
  TPretendServer server;
  auto manager = std::make_unique<TTestManager>(server, 1);
  TCRConnectionParameters parameters;
  auto pool = manager->GetConnectionPool(parameters);
  TCRConnection::ReturnToPool(manager->GetConnection(parameters));
  {
    std::lock_guard<std::mutex> lock(server.Lock);
    server.HoldChecks = true;
  }
  pool->MarkForValidation();  // the next cycle checks the idle connection
  pool.reset();
  server.WaitInCheck();
  std::thread destroyer([&] { manager.reset(); });
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(server.Alive, 1) << "the pool is not freed under the running check";
  server.Release();
  destroyer.join();
  EXPECT_EQ(server.Alive, 0);
}

TEST(CRConnectionPoolThreadsTest, TheValidatorDropsPoolsLeftEmpty) {
  TPretendServer server;
  TTestManager manager(server, 1);
  TCRConnectionParameters shortLived;
  shortLived.ConnectionLifetime = 1;
  auto connection = manager.GetConnection(shortLived);
  std::this_thread::sleep_for(5ms);
  EXPECT_EQ(manager.GetPoolCount(), 1) << "a pool with a connection out stays";
  TCRConnection::ReturnToPool(std::move(connection));  // past its lifetime: freed
  EXPECT_TRUE(Eventually([&] { return manager.GetPoolCount() == 0; }));
  TCRConnectionParameters longLived;
  TCRConnection::ReturnToPool(manager.GetConnection(longLived));
  EXPECT_TRUE(Eventually([&] { return server.Checks > 0; })) << "the idle connection is checked";
  EXPECT_EQ(manager.GetPoolCount(), 1);
}

}  // namespace
