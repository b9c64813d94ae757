// The session against the scripted fake server: older servers' logins, authentication switches,
// LOAD DATA LOCAL and faults at every step. (The fake server runs on a thread of its own.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlSession.h"
#include "platform/runtime/Classes.h"
#include "support/FakeMySqlServer.h"
#include "tests/mysql/MySqlPacketFactory.h"

using namespace mysql_test;

namespace {

constexpr int kStepMs = 3000;

void Connect(TMySqlSession& s, const TFakeMySqlServer& server, const std::string& password = "pw",
             const std::string& db = "db") {
  s.ConnectTimeout = 3;
  s.Connect("127.0.0.1", "u", 0, {}, static_cast<uint32_t>(server.Port()), db, password);
}

int ErrorOf(auto f) {
  try {
    f();
  } catch (const EMySqlException& e) {
    return e.ErrorCode;
  }
  return 0;
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

Bytes Ok40() { return Bytes{0, 0, 0, 2, 0}; }

// The login of a MariaDB greeting, ready for commands.
TFakeMySqlServer& LoggedIn(TFakeMySqlServer& server) {
  server.SetStepTimeoutMs(kStepMs);
  return server.SendPacket(0, GreetingMariaDb()).ReadPacket(1).SendPacket(2, OkPacket41(0, 0, 2));
}

}  // namespace

TEST(MySqlSessionFakeTest, FourZeroServerGetsShortFlagsAndTheOldScramble) {
  TFakeMySqlServer server;
  server.SetStepTimeoutMs(kStepMs);
  server.SendPacket(0, Greeting40())
      .ReadPacket(1, [](const Bytes& p) -> std::string {
        if (p.size() != 2 + 3 + 2 + 9 + 3) return "login packet of " + std::to_string(p.size()) + " bytes";
        if (Bytes(p.begin() + 2, p.begin() + 5) != Bytes{0xFF, 0xFF, 0xFF}) return "packet size field";
        if (p[5] != 'u' || p[6] != 0 || p[15] != 0 || Text(Bytes(p.end() - 3, p.end())) != std::string("db\0", 3))
          return "user, scramble or database";
        return "";
      })
      .SendPacket(2, Ok40())
      .ExpectPacket(0, Bytes{COM_QUIT})
      .ExpectClose();
  server.Start();
  {
    TMySqlSession s;
    Connect(s, server);
    EXPECT_FALSE(s.IsProtocol41());
    EXPECT_EQ(s.ServerVersion(), "4.0.27");
  }
  EXPECT_EQ(server.Finish(), "");
}

TEST(MySqlSessionFakeTest, EarlyFourOneChallengeIsAnswered) {
  // A 4.1 greeting without the 12 extra bytes: the login carries eight 'x', the server answers
  // with a 24-byte challenge, the client with 20 bytes.
  Bytes greeting = Greeting41();
  greeting.resize(greeting.size() - 13);
  TFakeMySqlServer server;
  server.SetStepTimeoutMs(kStepMs);
  Bytes challenge(24);
  for (size_t i = 0; i < challenge.size(); ++i) challenge[i] = static_cast<uint8_t>(0x41 + i);
  server.SendPacket(0, greeting)
      .ReadPacket(1, [](const Bytes& p) {
        const std::string t = Text(p);
        return t.find(std::string("u\0xxxxxxxx\0", 11)) != std::string::npos ? "" : "no placeholder";
      })
      .SendPacket(2, challenge)
      .ReadPacket(3, [](const Bytes& p) { return p.size() == 20 ? "" : "answer of " + std::to_string(p.size()); })
      .SendPacket(4, OkPacket41(0, 0, 2))
      .ExpectClose();
  server.Start();
  {
    TMySqlSession s;
    Connect(s, server);
    EXPECT_TRUE(s.IsProtocol41());
  }
  EXPECT_EQ(server.Finish(), "");
}

TEST(MySqlSessionFakeTest, OldPasswordSwitchSendsTheOldScrambleAsPacketThree) {
  TFakeMySqlServer server;
  server.SetStepTimeoutMs(kStepMs);
  const std::string expected = MySqlScramble323("pw", std::span<const uint8_t, 8>(SampleScramble, 8));
  server.SendPacket(0, Greeting41())
      .ReadPacket(1)
      .SendPacket(2, Bytes{0xFE})
      .ExpectPacket(3, Bytes(expected.begin(), expected.end()))
      .SendPacket(4, OkPacket41(0, 0, 2))
      .ExpectClose();
  server.Start();
  {
    TMySqlSession s;
    Connect(s, server);
  }
  EXPECT_EQ(server.Finish(), "");
}

TEST(MySqlSessionFakeTest, OnlyAnOkPacketEndsTheLogin) {
  struct Case { const char* name; Bytes reply; const char* named; };
  const Case cases[] = {
      {"switch to an unknown method", AuthSwitch("client_ed25519", Bytes(32, 1)), "client_ed25519"},
      {"more data", Bytes{0x01, 0x04}, ""},
      {"garbage", Bytes{0x33, 0x33}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TFakeMySqlServer server;
    server.SetStepTimeoutMs(kStepMs);
    server.SendPacket(0, GreetingMariaDb()).ReadPacket(1).SendPacket(2, c.reply).ExpectClose();
    server.Start();
    TMySqlSession s;
    try {
      Connect(s, server);
      ADD_FAILURE() << "logged in";
    } catch (const EMySqlException& e) {
      EXPECT_EQ(e.ErrorCode, 2012);
      EXPECT_NE(e.Message().find(c.named), std::string::npos) << e.Message();
    }
    EXPECT_EQ(s.State(), TMySqlSessionState::NotConnected);
    EXPECT_EQ(server.Finish(), "");
  }
}

TEST(MySqlSessionFakeTest, ProtocolNineIsAMismatch) {
  Bytes greeting = Greeting40();
  greeting[0] = 9;
  TFakeMySqlServer server;
  server.SetStepTimeoutMs(kStepMs);
  server.SendPacket(0, greeting).ExpectClose();
  server.Start();
  TMySqlSession s;
  EXPECT_EQ(ErrorOf([&] { Connect(s, server); }), 2007);
  EXPECT_EQ(server.Finish(), "");
}

// Each greeting, cut to every length, and each login cut at every step: a clean error, never an
// over-read (the suite runs under ASan) and never a session that thinks it is logged in.
TEST(MySqlSessionFakeTest, EveryCutOfTheLoginFailsCleanly) {
  for (const Bytes& full : {Greeting40(), Greeting41(), GreetingMariaDb()}) {
    for (size_t len = 0; len < full.size(); len += 3) {
      SCOPED_TRACE(len);
      TFakeMySqlServer server;
      server.SetStepTimeoutMs(kStepMs);
      server.SendPacket(0, Bytes(full.begin(), full.begin() + len)).Close();
      server.Start();
      TMySqlSession s;
      const int err = ErrorOf([&] { Connect(s, server); });
      EXPECT_TRUE(err == 2027 || err == 2013) << err;
      EXPECT_EQ(s.State(), TMySqlSessionState::NotConnected);
      server.Finish();
    }
    for (int step = 0; step < 3; ++step) {
      for (auto mode : {TFakeMySqlServer::TFailMode::Close, TFakeMySqlServer::TFailMode::CloseMidStep}) {
        SCOPED_TRACE(step);
        TFakeMySqlServer server;
        server.SetStepTimeoutMs(kStepMs);
        server.SendPacket(0, full).ReadPacket(1).SendPacket(2, OkPacket41(0, 0, 2));
        server.FailAtStep(step, mode);
        server.Start();
        TMySqlSession s;
        EXPECT_NE(ErrorOf([&] { Connect(s, server); }), 0);
        EXPECT_EQ(s.State(), TMySqlSessionState::NotConnected);
        server.Finish();
      }
    }
  }
}

TEST(MySqlSessionFakeTest, LocalFileRequestsTheStatementDidNotMakeAreRefused) {
  TFakeMySqlServer server;
  LoggedIn(server)
      .ReadPacket(0)
      .SendPacket(1, Bytes{0xFB, '/', 'e', 't', 'c', '/', 'p', 'a', 's', 's', 'w', 'd'})
      .ExpectPacket(2, Bytes{})
      .SendPacket(3, OkPacket41(0, 0, 2))
      .ExpectPacket(0, Bytes{COM_PING})
      .SendPacket(1, OkPacket41(0, 0, 2))
      .ExpectClose();
  server.Start();
  {
    TMySqlSession s;
    Connect(s, server);
    EXPECT_EQ(ErrorOf([&] { s.Query("LOAD DATA LOCAL INFILE '/tmp/mine' INTO TABLE t"); }), 2000);
    EXPECT_EQ(s.State(), TMySqlSessionState::Ready);
    s.Ping();
  }
  EXPECT_EQ(server.Finish(), "");
}

TEST(MySqlSessionFakeTest, LocalFileGoesInPiecesOf8192Bytes) {
  const std::string path = ::testing::TempDir() + "h6_fake_load_" + std::to_string(::getpid());
  {
    std::ofstream f(path, std::ios::binary);
    f << std::string(20000, 'z');
  }
  const std::string sql = "LOAD DATA LOCAL INFILE '" + path + "' INTO TABLE t";
  Bytes request{0xFB};
  request.insert(request.end(), path.begin(), path.end());
  TFakeMySqlServer server;
  LoggedIn(server)
      .ExpectPacket(0, [&] { Bytes b{COM_QUERY}; b.insert(b.end(), sql.begin(), sql.end()); return b; }())
      .SendPacket(1, request)
      .ExpectPacket(2, Bytes(8192, 'z'))
      .ExpectPacket(3, Bytes(8192, 'z'))
      .ExpectPacket(4, Bytes(3616, 'z'))
      .ExpectPacket(5, Bytes{})
      .SendPacket(6, OkPacket41(20000, 0, 2))
      .ExpectClose();
  server.Start();
  {
    TMySqlSession s;
    Connect(s, server);
    s.Query(sql);
    EXPECT_EQ(s.AffectedRows(), 20000u);
  }
  EXPECT_EQ(server.Finish(), "");
  std::remove(path.c_str());
}

TEST(MySqlSessionFakeTest, RowFaultsBreakOrEndTheResult) {
  const Bytes field = FieldPacket41("db", "t", "t", "c", "c", 8, 10, 253, 0, 0);
  // A server error after one row ends the result; the session goes on.
  {
    TFakeMySqlServer server;
    LoggedIn(server)
        .ReadPacket(0)
        .SendPacket(1, Bytes{1})
        .SendPacket(2, field)
        .SendPacket(3, EofPacket(0, 2))
        .SendPacket(4, TextRow({"a"}))
        .SendPacket(5, ErrorPacket41(1969, "70100", "Query execution was interrupted"))
        .ExpectPacket(0, Bytes{COM_PING})
        .SendPacket(1, OkPacket41(0, 0, 2))
        .ExpectClose();
    server.Start();
    {
      TMySqlSession s;
      Connect(s, server);
      s.Query("SELECT c FROM t");
      TMySqlResultSet rs(s);
      ASSERT_TRUE(rs.Fetch());
      EXPECT_EQ(ErrorOf([&] { rs.Fetch(); }), 1969);
      EXPECT_EQ(s.State(), TMySqlSessionState::Ready);
      s.Ping();
    }
    EXPECT_EQ(server.Finish(), "");
  }
  // A column running past the row's end is malformed and breaks the session.
  {
    TFakeMySqlServer server;
    LoggedIn(server)
        .ReadPacket(0)
        .SendPacket(1, Bytes{1})
        .SendPacket(2, field)
        .SendPacket(3, EofPacket(0, 2))
        .SendPacket(4, Bytes{5, 'a', 'b'})
        .ExpectClose();
    server.Start();
    {
      TMySqlSession s;
      Connect(s, server);
      s.Query("SELECT c FROM t");
      TMySqlResultSet rs(s);
      EXPECT_EQ(ErrorOf([&] { rs.Fetch(); }), 2027);
      EXPECT_EQ(ErrorOf([&] { s.Ping(); }), 2006);
      EXPECT_EQ(s.State(), TMySqlSessionState::Broken);
    }
    EXPECT_EQ(server.Finish(), "");
  }
}
