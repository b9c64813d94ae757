// Connections opened at once load the TLS libraries once.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "mysql/MySqlSslLib.h"

TEST(MySqlSslLib, ConcurrentFirstLoadsGiveOneTable) {
  constexpr int kThreads = 8;
  std::vector<const TSslLib*> seen(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back([&seen, i] { seen[i] = &LoadSslLib(); });
  for (auto& t : threads) t.join();
  for (const TSslLib* lib : seen) {
    EXPECT_EQ(lib, seen[0]);
    EXPECT_NE(lib->SSL_new, nullptr);
  }
}
