#include "support/BenchServer.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "mysql/MySqlApiDirect.h"

namespace {

// Runs scripts/test-server with `verb` on the server folder; true when it succeeded.
bool TestServerScript(const char* verb) {
  const std::filesystem::path info(DA_TEST_SERVER_INFO);
  const std::string command = std::string(DA_TEST_SOURCE_DIR) + "/scripts/test-server " + verb + " " +
                              info.parent_path().string() + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// Whether the server the info file names still runs: one killed with the machine (or by a full
// disk) leaves its file behind, and the benchmarks would fail to connect instead of starting one.
bool NamedServerRuns() {
  std::ifstream in(DA_TEST_SERVER_INFO);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("PID=", 0) == 0) {
      const long pid = std::strtol(line.c_str() + 4, nullptr, 10);
      return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0;
    }
  return false;
}

// A server that ran already may have a smaller pool: it grows (the server resizes it while it runs).
void GrowBufferPool() {
  const auto& srv = TestServer::Info();
  TMySQLAPIDirect& api = MyAPIDirect();
  PMYSQL_CON con = api.mysql_init(nullptr);
  const std::string sql = "SET GLOBAL innodb_buffer_pool_size = GREATEST(@@innodb_buffer_pool_size, " +
                          std::to_string(int64_t{TBenchServer::kBufferPoolMiB} << 20) + ")";
  const bool ok = api.mysql_real_connect(con, srv.Host, srv.NativeUser, srv.NativePassword, {},
                                         static_cast<uint32_t>(srv.Port), {}, 0) &&
                  api.mysql_real_query(con, sql) == 0;
  if (!ok) std::fprintf(stderr, "the buffer pool could not grow: %s\n", api.mysql_error(con).c_str());
  api.mysql_close(con);
  if (!ok) std::exit(1);
}

}  // namespace

TBenchServer::TBenchServer() : FStarted(!std::filesystem::exists(DA_TEST_SERVER_INFO) || !NamedServerRuns()) {
  if (FStarted) {
    setenv("DA_TEST_SERVER_BUFFER_POOL", (std::to_string(kBufferPoolMiB) + "M").c_str(), 1);
    if (!TestServerScript("start")) {
      std::fprintf(stderr, "the test server did not start\n");
      std::exit(1);
    }
  } else {
    GrowBufferPool();
  }
}

TBenchServer::~TBenchServer() {
  if (FStarted) TestServerScript("stop");
}
