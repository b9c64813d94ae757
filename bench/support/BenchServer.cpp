#include "support/BenchServer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// Runs scripts/test-server with `verb` on the server folder; true when it succeeded.
bool TestServerScript(const char* verb) {
  const std::filesystem::path info(DA_TEST_SERVER_INFO);
  const std::string command = std::string(DA_TEST_SOURCE_DIR) + "/scripts/test-server " + verb + " " +
                              info.parent_path().string() + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace

TBenchServer::TBenchServer() : FStarted(!std::filesystem::exists(DA_TEST_SERVER_INFO)) {
  if (FStarted && !TestServerScript("start")) {
    std::fprintf(stderr, "the test server did not start\n");
    std::exit(1);
  }
}

TBenchServer::~TBenchServer() {
  if (FStarted) TestServerScript("stop");
}
