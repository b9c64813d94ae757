// The fake server itself, driven by a bare socket client.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <tuple>

#include "support/FakeMySqlServer.h"

namespace {

using TBytes = TFakeMySqlServer::TBytes;

// A bare TCP client.
class RawClient {
 public:
  explicit RawClient(int port) : FFd(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(FFd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  ~RawClient() { ::close(FFd); }
  void Send(const TBytes& b) { ASSERT_EQ(::send(FFd, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size())); }
  TBytes Read(size_t count) {  // until count bytes, end of stream or a silence of 5 s
    TBytes out(count);
    size_t got = 0;
    for (pollfd p{FFd, POLLIN, 0}; got < count && ::poll(&p, 1, 5000) == 1;) {
      const ssize_t n = ::recv(FFd, out.data() + got, count - got, 0);
      if (n <= 0) break;
      got += size_t(n);
    }
    out.resize(got);
    return out;
  }

 private:
  int FFd;
};

// The fault tests rely on the fake server replaying exactly and on Finish() reporting what the
// client got wrong; failing where told to shows in their step-by-step loops.
TEST(FakeMySqlServerTest, ReplaysTheScriptAndRecordsWhatItRead) {
  TFakeMySqlServer server;
  server.SendPacket(0, {10, 'v', 0}).ReadPacket(1).ExpectPacket(2, {3, 'x'}).SendPacket(3, {0}).ExpectClose();
  server.Start();
  {
    RawClient c(server.Port());
    EXPECT_EQ(c.Read(7), (TBytes{3, 0, 0, 0, 10, 'v', 0}));
    c.Send({2, 0, 0, 1, 0xAB, 0xCD});
    c.Send({2, 0, 0, 2, 3, 'x'});
    EXPECT_EQ(c.Read(5), (TBytes{1, 0, 0, 3, 0}));
  }
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(server.ReadPackets(), std::vector<TBytes>{(TBytes{0xAB, 0xCD})});
  EXPECT_EQ(server.Received().size(), 12u);
}

TEST(FakeMySqlServerTest, ReportsWhatDiffersFromTheScript) {
  const std::tuple<const char*, std::function<void(TFakeMySqlServer&)>, TBytes, const char*> cases[] = {
      {"other payload", [](auto& s) { s.ExpectPacket(0, {7}); }, {1, 0, 0, 0, 9}, "expected 01 00 00 00 07"},
      {"wrong sequence", [](auto& s) { s.ReadPacket(0); }, {1, 0, 0, 5, 7}, "packet sequence 5, expected 0"},
      {"refused by the check",
       [](auto& s) { s.ReadPacket(0, [](const TBytes&) { return "want two"; }); },
       {1, 0, 0, 0, 1},
       "want two"},
      {"script not ended",
       [](auto& s) { s.ExpectPacket(0, {1}).ReadPacket(1); },
       {1, 0, 0, 0, 1},
       "stopped before the script ended"}};
  for (const auto& [name, script, sent, complaint] : cases) {
    SCOPED_TRACE(name);
    TFakeMySqlServer server;
    script(server);
    server.Start();
    RawClient c(server.Port());
    c.Send(sent);
    const std::string report = server.Finish(std::string(name) == "script not ended" ? 50 : 10000);
    EXPECT_NE(report.find(complaint), std::string::npos) << report;
  }
}

}  // namespace
