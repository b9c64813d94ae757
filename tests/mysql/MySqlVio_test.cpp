// The transport base (write retries), the user IO handler, the Unix-socket path and the server
// version parser.
#include "mysql/MySqlVio.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "mysql/MySqlNet.h"
#include "mysql/MySqlPackets.h"
#include "mysql/MySqlTypes.h"
#include "mysql/MySqlVioPipe.h"
#include "support/FakeMySqlServer.h"
#include "support/MemoryVio.h"

namespace {

TBytes Numbers(size_t n) {
  TBytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i);
  return b;
}

// A transport whose writes move `step` bytes, or nothing for the calls listed in `zeros`.
struct TStepVio : TMemoryVio {
  TStepVio(int step, std::vector<int> zeros) : FStep(step), FZeros(std::move(zeros)) {}
  int Write(const uint8_t* buffer, int offset, int count) override {
    ++Calls;
    for (int z : FZeros)
      if (z == Calls) return 0;
    return TMemoryVio::Write(buffer, offset, std::min(count, FStep));
  }
  int Calls = 0;
  int FStep;
  std::vector<int> FZeros;
};

TEST(MySqlVioTest, WriteAllRetriesZeroWritesTwice) {
  const std::tuple<const char*, std::vector<int>, int> cases[] = {
      {"no zeros", {}, 10},
      {"two zeros in a row are retried", {2, 3}, 10},
      {"zeros apart are retried", {1, 3, 5}, 10},
      {"three zeros in a row give up", {2, 3, 4}, 3}};
  const TBytes data = Numbers(10);
  for (const auto& [name, zeros, written] : cases) {
    SCOPED_TRACE(name);
    TStepVio vio(3, zeros);
    EXPECT_EQ(vio.WriteAll(data.data(), 0, 10), written);
    EXPECT_EQ(vio.Output, TBytes(data.begin(), data.begin() + written));
  }
  TStepVio vio(3, {});
  EXPECT_EQ(vio.WriteAll(data.data(), 0, 0), 0);
}

// ---- the user IO handler ---------------------------------------------------------------------

// A handler that moves at most 4 bytes a read and 3 a write.
class TScriptHandler : public TMyIOHandler {
 public:
  THandle Connect(const std::string& host, int port) override {
    Host = host + ":" + std::to_string(port);
    return this;
  }
  void Disconnect(THandle) override { ++Disconnects; }
  int Read(THandle, uint8_t* buffer, int offset, int count) override {
    const int n = std::min({count, 4, static_cast<int>(Input.size() - Pos)});
    std::memcpy(buffer + offset, Input.data() + Pos, static_cast<size_t>(n));
    Pos += static_cast<size_t>(n);
    return n;
  }
  int Write(THandle, const uint8_t* buffer, int offset, int count) override {
    Output.insert(Output.end(), buffer + offset, buffer + offset + std::min(count, 3));
    return std::min(count, 3);
  }
  int GetTimeout(THandle) override { return Timeout; }
  void SetTimeout(THandle, int seconds) override { Timeout = seconds; }

  std::string Host;
  int Disconnects = 0, Timeout = -1;
  TBytes Input, Output;
  size_t Pos = 0;
};

TEST(MySqlVioHandlerTest, ForwardsToTheHandlerAndLoopsOverPartialTransfers) {
  TScriptHandler handler;
  handler.Input = TFakeMySqlServer::Packet(0, {'g', 'r', 'e', 'e', 't', 'i', 'n', 'g'});
  TMySqlNet net(std::make_unique<TMySqlVioHandler>("db", 3307, &handler));
  net.Vio()->SetTimeout(7);  // kept until a handle exists
  EXPECT_EQ(net.Vio()->GetTimeout(), 7);
  net.Vio()->Connect();
  EXPECT_EQ(handler.Host, "db:3307");
  net.Vio()->SetTimeout(9);
  EXPECT_EQ(handler.Timeout, 9);
  net.ReadPacket();
  EXPECT_EQ(TMySqlByteReader(net.Packet()).ReadStringZ(), "greeting");
  net.WriteBytes(std::span(reinterpret_cast<const uint8_t*>("hello"), 5));
  net.Flush();
  EXPECT_EQ(handler.Output, (TBytes{5, 0, 0, 1, 'h', 'e', 'l', 'l', 'o'}));
  net.Vio()->Close();
  net.Vio()->Close();
  EXPECT_EQ(handler.Disconnects, 1);
  uint8_t b[4];
  EXPECT_EQ(net.Vio()->ReadAll(b, 0, 4), 0);
}

// ---- the Unix-socket path --------------------------------------------------------------------

TEST(MySqlVioPipeTest, SocketPathFromTheNameTheEnvironmentOrTheDefault) {
  const std::string saved = std::getenv("MYSQL_UNIX_PORT") ? std::getenv("MYSQL_UNIX_PORT") : "";
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {nullptr, "MySQL", "/run/mysqld/mysqld.sock"},
      {nullptr, "", "/run/mysqld/mysqld.sock"},
      {"", "MySQL", "/run/mysqld/mysqld.sock"},
      {"/tmp/env.sock", "MySQL", "/tmp/env.sock"},
      {"/tmp/env.sock", "/var/x/my.sock", "/var/x/my.sock"}};
  for (const auto& [env, name, path] : cases) {
    SCOPED_TRACE(std::string(env ? env : "unset") + " " + name);
    env ? ::setenv("MYSQL_UNIX_PORT", env, 1) : ::unsetenv("MYSQL_UNIX_PORT");
    EXPECT_EQ(TMySqlVioPipe::SocketPath(name), path);
  }
  saved.empty() ? ::unsetenv("MYSQL_UNIX_PORT") : ::setenv("MYSQL_UNIX_PORT", saved.c_str(), 1);
}

// A path longer than the socket address holds is refused, not copied past its end; a host that
// is not this computer is refused before any socket is opened.
TEST(MySqlVioPipeTest, AMissingSocketOrARemoteHostIs2017WithTheReason) {
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"LocalHost", "/nonexistent/da.sock",
       "Can't open named pipe to host: .  pipe: /nonexistent/da.sock (No such file or directory)"},
      {".", "/" + std::string(200, 'x'), "Can't open named pipe to host: .  pipe: /"},
      {"/nonexistent/host.sock", "",
       "Can't open named pipe to host: .  pipe: /nonexistent/host.sock (No such"},
      {"db.remote.invalid", "/nonexistent/da.sock",
       "Can't open named pipe to host: db.remote.invalid  pipe: /nonexistent/da.sock (the server "
       "'db.remote.invalid' is not this computer"},
      {"127.0.0.1", "/nonexistent/da.sock", "Can't open named pipe to host: 127.0.0.1  pipe: "},
  };
  for (const auto& [host, path, message] : cases) {
    SCOPED_TRACE(host);
    TMySqlVioPipe pipe(host, path, 0);
    try {
      pipe.Connect();
      ADD_FAILURE() << "connected";
    } catch (const EMySqlException& e) {
      EXPECT_EQ(e.ErrorCode, CR_NAMEDPIPEOPEN_ERROR);
      EXPECT_EQ(e.Message().rfind(message, 0), 0u) << e.Message();
    }
    // A session reports ErrorText as its detail: the path stays in it.
    EXPECT_EQ(pipe.ErrorText().rfind("socket '" + (path.empty() ? std::string(host) : path) + "': ", 0), 0u)
        << pipe.ErrorText();
    EXPECT_EQ(pipe.Socket(), -1);
  }
}

// ---- shared records ------------------------------------------------------------------------

TEST(MySqlTypesTest, ParseMySQLVersion) {
  using V = std::tuple<int, int, int>;
  const std::pair<const char*, V> cases[] = {{"4.1.3-beta-nt", {4, 1, 3}},
                                             {"10.11.19-MariaDB-0+deb12u1", {10, 11, 19}},
                                             {"5.0", {5, 0, 0}},
                                             {"8", {8, 0, 0}},
                                             {"", {0, 0, 0}},
                                             {"x.y.z", {0, 0, 0}},
                                             {"99999999999999.2.3", {999999999, 2, 3}}};
  for (const auto& [text, want] : cases) {
    SCOPED_TRACE(text);
    V got{-1, -1, -1};
    ParseMySQLVersion(text, std::get<0>(got), std::get<1>(got), std::get<2>(got));
    EXPECT_EQ(got, want);
  }
}

}  // namespace
