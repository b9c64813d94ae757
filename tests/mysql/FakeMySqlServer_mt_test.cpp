// The fake server itself, driven by a bare socket client: later fault tests rely on it replaying
// exactly, reporting mismatches and failing where it is told to.
#include "support/FakeMySqlServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "platform/runtime/Exceptions.h"
#include "support/TestServer.h"

namespace {

using TBytes = TFakeMySqlServer::TBytes;

class RawClient {
 public:
  explicit RawClient(int port) {
    FFd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "connect failed";
  }
  explicit RawClient(const std::string& path) {
    FFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path.c_str());
    if (::connect(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) ADD_FAILURE() << "connect failed";
  }
  ~RawClient() { Close(); }
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }
  void Send(const TBytes& b) { ASSERT_EQ(::send(FFd, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size())); }
  // Reads until count bytes, end of stream or a silence of timeoutMs.
  TBytes Read(size_t count, int timeoutMs = 5000) {
    TBytes out(count);
    size_t got = 0;
    while (got < count) {
      pollfd p{FFd, POLLIN, 0};
      if (::poll(&p, 1, timeoutMs) != 1) break;
      ssize_t n = ::recv(FFd, out.data() + got, count - got, 0);
      if (n <= 0) break;
      got += size_t(n);
    }
    out.resize(got);
    return out;
  }

 private:
  int FFd = -1;
};

TEST(FakeMySqlServerTest, ReplaysTheScriptAndRecordsWhatItRead) {
  TFakeMySqlServer server;
  server.SendPacket(0, {10, 'v', 0}).ReadPacket(1).ExpectPacket(2, {3, 'x'}).SendPacket(3, {0}).ExpectClose();
  server.Start();
  RawClient c(server.Port());
  EXPECT_EQ(c.Read(7), (TBytes{3, 0, 0, 0, 10, 'v', 0}));
  c.Send({2, 0, 0, 1, 0xAB, 0xCD});
  c.Send({2, 0, 0, 2, 3, 'x'});
  EXPECT_EQ(c.Read(5), (TBytes{1, 0, 0, 3, 0}));
  c.Close();
  EXPECT_EQ(server.Finish(), "");
  ASSERT_EQ(server.ReadPackets().size(), 1u);
  EXPECT_EQ(server.ReadPackets()[0], (TBytes{0xAB, 0xCD}));
  EXPECT_EQ(server.Received().size(), 12u);
}

TEST(FakeMySqlServerTest, ReportsBytesThatDifferFromTheScript) {
  struct Case {
    const char* name;
    TBytes sent;
    const char* complaint;
  } cases[] = {
      {"other payload", {1, 0, 0, 0, 9}, "expected 01 00 00 00 07"},
      {"wrong sequence in a read packet", {1, 0, 0, 5, 7}, "packet sequence 5, expected 0"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TFakeMySqlServer server;
    if (k.sent[3] == 0)
      server.ExpectPacket(0, {7});
    else
      server.ReadPacket(0);
    server.Start();
    RawClient c(server.Port());
    c.Send(k.sent);
    EXPECT_NE(server.Finish().find(k.complaint), std::string::npos) << server.Finish();
  }
}

TEST(FakeMySqlServerTest, ReadPacketCheckCanRefuseAPayload) {
  TFakeMySqlServer server;
  server.ReadPacket(0, [](const TBytes& p) { return p.size() == 2 ? "" : "want two bytes"; });
  server.Start();
  RawClient c(server.Port());
  c.Send({1, 0, 0, 0, 1});
  EXPECT_NE(server.Finish().find("want two bytes"), std::string::npos);
}

TEST(FakeMySqlServerTest, InjectedFailuresCutTheStreamWhereAsked) {
  const TBytes greeting = TFakeMySqlServer::Packet(0, {10, 1, 2, 3, 4, 5, 6, 7});
  struct Case {
    const char* name;
    TFakeMySqlServer::TFailMode mode;
    size_t bytesSeen;
  } cases[] = {
      {"close before the step", TFakeMySqlServer::TFailMode::Close, 0},
      {"close mid-packet", TFakeMySqlServer::TFailMode::CloseMidStep, greeting.size() / 2},
      {"reset", TFakeMySqlServer::TFailMode::Reset, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TFakeMySqlServer server;
    server.Send(greeting).ExpectClose();
    server.FailAtStep(0, k.mode);
    server.Start();
    RawClient c(server.Port());
    EXPECT_EQ(c.Read(greeting.size()).size(), k.bytesSeen);
    EXPECT_EQ(server.Finish(), "");
  }
}

TEST(FakeMySqlServerTest, StallKeepsTheConnectionOpenAndSilentUntilFinish) {
  TFakeMySqlServer server;
  server.SendPacket(0, {1});
  server.FailAtStep(0, TFakeMySqlServer::TFailMode::Stall);
  server.Start();
  RawClient c(server.Port());
  EXPECT_EQ(c.Read(1, 300).size(), 0u);
  EXPECT_EQ(server.Finish(), "");
}

// How many reads the client needs depends on scheduling; what must hold is that the pieces
// arrive whole and in order.
TEST(FakeMySqlServerTest, SplitWritesArriveIntact) {
  TBytes payload(100, 'a');
  TFakeMySqlServer server;
  server.SendPacket(0, payload);
  server.SetWriteChunk(7);
  server.Start();
  RawClient c(server.Port());
  EXPECT_EQ(c.Read(104), TFakeMySqlServer::Packet(0, payload));
  EXPECT_EQ(server.Finish(), "");
}

TEST(FakeMySqlServerTest, ServesAUnixSocketAndAcceptsASecondConnection) {
  std::string path = "/tmp/da-fake-" + std::to_string(::getpid()) + ".sock";
  TFakeMySqlServer server(path);
  server.SendPacket(0, {1}).Accept().SendPacket(0, {2});
  server.Start();
  {
    RawClient c(path);
    EXPECT_EQ(c.Read(5), (TBytes{1, 0, 0, 0, 1}));
  }
  RawClient c2(path);
  EXPECT_EQ(c2.Read(5), (TBytes{1, 0, 0, 0, 2}));
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(server.Connections(), 2);
}

TEST(FakeMySqlServerTest, FinishReportsAScriptThatDidNotEnd) {
  TFakeMySqlServer server;
  server.ExpectPacket(0, {1});
  server.Start();
  RawClient c(server.Port());
  EXPECT_NE(server.Finish(50), "");
}

TEST(TestServerInfoTest, ParsesTheInfoFileAndNamesWhatIsMissing) {
  std::string text =
      "# written by scripts/test-server\nHOST=127.0.0.1\nPORT=3307\nSOCKET='/tmp/s.sock'\nVERSION=10.11\n"
      "ROOT_USER=root\nROOT_PASSWORD=r\nNATIVE_USER=n\nNATIVE_PASSWORD=np\nEMPTY_USER=e\nEMPTY_PASSWORD=\n"
      "OLD_USER=o\nOLD_PASSWORD=op\nX509_USER=x\nX509_PASSWORD=xp\nCA_CERT=/c/ca.pem\n"
      "SERVER_CERT=/c/s.pem\nSERVER_KEY=/c/sk.pem\nCLIENT_CERT=/c/c.pem\nCLIENT_KEY=/c/ck.pem\nPID_FILE=/p\n";
  TestServer::TInfo info = TestServer::Parse(text, "server.env");
  EXPECT_EQ(info.Port, 3307);
  EXPECT_EQ(info.Socket, "/tmp/s.sock");
  EXPECT_EQ(info.OldPassword, "op");
  EXPECT_EQ(info.Get("EMPTY_PASSWORD"), "");
  EXPECT_THROW(info.Get("NOPE"), Exception);

  try {
    TestServer::Parse("HOST=127.0.0.1\nPORT=1\n", "server.env");
    FAIL() << "an incomplete file was accepted";
  } catch (const Exception& e) {
    EXPECT_NE(std::string(e.what()).find("server.env: the test server info lacks SOCKET"), std::string::npos);
  }
  EXPECT_THROW(TestServer::Parse("PORT=x\n", "f"), Exception);
  EXPECT_THROW(TestServer::Parse("just words\n", "f"), Exception);
}

}  // namespace
