// The session against the scripted fake server: older servers' logins, authentication switches,
// LOAD DATA LOCAL and faults at every step. (The fake server runs on a thread of its own.)
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <tuple>

#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlSession.h"
#include "platform/runtime/Classes.h"
#include "support/NetTestUtil.h"
#include "tests/mysql/MySqlPacketFactory.h"

using namespace mysql_test;

namespace {

void Connect(TMySqlSession& s, const TFakeMySqlServer& server) {
  s.ConnectTimeout = 3;
  s.Connect("127.0.0.1", "u", 0, {}, static_cast<uint32_t>(server.Port()), "db", "pw");
}

std::string Text(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

}  // namespace

// A 4.0 server gets short flags and the old scramble; an early 4.1 greeting without the scramble's
// last 12 bytes gets eight 'x', then a 24-byte challenge answered with 20 bytes; a switch to the
// old password method gets the old scramble as packet three.
TEST(MySqlSessionFakeTest, OlderServersAndMethodsLogIn) {
  const std::string old = MySqlScramble323("pw", std::span<const uint8_t, 8>(SampleScramble, 8));
  const Bytes early = Greeting40("4.1.2-alpha", Caps41);
  const std::tuple<const char*, std::function<void(TFakeMySqlServer&)>, bool> cases[] = {
      {"4.0",
       [](TFakeMySqlServer& s) {
         s.SendPacket(0, Greeting40()).ReadPacket(1, [](const Bytes& p) -> std::string {
           // flags(2), size 0xFFFFFF, "u\0", the old scramble's 8 bytes and terminator, "db\0"
           const bool ok = p.size() == 19 &&
                           Bytes(p.begin() + 2, p.begin() + 7) == Bytes{0xFF, 0xFF, 0xFF, 'u', 0} &&
                           p[15] == 0 && Text(Bytes(p.end() - 3, p.end())) == std::string("db\0", 3);
           return ok ? "" : "4.0 login packet of " + std::to_string(p.size()) + " bytes";
         });
         s.SendPacket(2, Bytes{0, 0, 0, 2, 0});
       },
       false},
      {"early 4.1 challenge",
       [&](TFakeMySqlServer& s) {
         s.SendPacket(0, early).ReadPacket(1, [](const Bytes& p) {
           return Text(p).find(std::string("u\0xxxxxxxx\0", 11)) != std::string::npos ? "" : "no placeholder";
         });
         s.SendPacket(2, Bytes(24, 'A')).ReadPacket(3, [](const Bytes& p) {
           return p.size() == 20 ? "" : "answer";
         });
         s.SendPacket(4, OkPacket41(0, 0, 2));
       },
       true},
      {"old-password switch",
       [&](TFakeMySqlServer& s) {
         s.SendPacket(0, Greeting41()).ReadPacket(1).SendPacket(2, Bytes{0xFE});
         s.ExpectPacket(3, Bytes(old.begin(), old.end())).SendPacket(4, OkPacket41(0, 0, 2));
       },
       true},
  };
  for (const auto& [name, script, protocol41] : cases) {
    SCOPED_TRACE(name);
    TFakeMySqlServer server;
    server.SetStepTimeoutMs(3000);
    script(server);
    server.ExpectClose();
    server.Start();
    {
      TMySqlSession s;
      Connect(s, server);
      EXPECT_EQ(s.IsProtocol41(), protocol41);
      EXPECT_EQ(s.State(), TMySqlSessionState::Ready);
    }
    EXPECT_EQ(server.Finish(), "");
  }
}

TEST(MySqlSessionFakeTest, OnlyAnOkPacketEndsTheLogin) {
  Bytes version9 = Greeting40();
  version9[0] = 9;
  const std::tuple<const char*, Bytes, Bytes, int, const char*> cases[] = {
      {"switch to an unknown method", GreetingMariaDb(), AuthSwitch("client_ed25519", Bytes(32, 1)), 2012,
       "client_ed25519"},
      {"more data", GreetingMariaDb(), Bytes{0x01, 0x04}, 2012, ""},
      {"garbage", GreetingMariaDb(), Bytes{0x33, 0x33}, 2012, ""},
      {"protocol 9", version9, {}, 2007, "Protocol mismatch. Server Version = 9 Client Version = 10"},
  };
  for (const auto& [name, greeting, reply, error, named] : cases) {
    SCOPED_TRACE(name);
    TFakeMySqlServer server;
    server.SetStepTimeoutMs(3000);
    server.SendPacket(0, greeting);
    if (!reply.empty()) server.ReadPacket(1).SendPacket(2, reply);
    server.ExpectClose();
    server.Start();
    TMySqlSession s;
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { Connect(s, server); }, &message), error);
    EXPECT_NE(message.find(named), std::string::npos) << message;
    EXPECT_EQ(s.State(), TMySqlSessionState::NotConnected);
    EXPECT_EQ(server.Finish(), "");
  }
}

// Each greeting, cut to every length, and each login cut at every step: a clean error, never an
// over-read (the suite runs under ASan) and never a session that thinks it is logged in.
TEST(MySqlSessionFakeTest, EveryCutOfTheLoginFailsCleanly) {
  for (const Bytes& full : {Greeting40(), Greeting41(), GreetingMariaDb()}) {
    for (size_t len = 0; len < full.size(); len += 3) {
      SCOPED_TRACE(len);
      TFakeMySqlServer server;
      server.SetStepTimeoutMs(3000);
      server.SendPacket(0, Bytes(full.begin(), full.begin() + len)).Close();
      server.Start();
      TMySqlSession s;
      const int err = MySqlErrorOf([&] { Connect(s, server); });
      EXPECT_TRUE(err == 2027 || err == 2013) << err;
      EXPECT_EQ(s.State(), TMySqlSessionState::NotConnected);
      server.Finish();
    }
    for (int step = 0; step < 3; ++step) {
      for (auto mode : {TFakeMySqlServer::TFailMode::Close, TFakeMySqlServer::TFailMode::CloseMidStep}) {
        SCOPED_TRACE(step);
        TFakeMySqlServer server;
        server.SetStepTimeoutMs(3000);
        server.SendPacket(0, full).ReadPacket(1).SendPacket(2, OkPacket41(0, 0, 2));
        server.FailAtStep(step, mode);
        server.Start();
        TMySqlSession s;
        EXPECT_NE(MySqlErrorOf([&] { Connect(s, server); }), 0);
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
    EXPECT_EQ(MySqlErrorOf([&] { s.Query("LOAD DATA LOCAL INFILE '/tmp/mine' INTO TABLE t"); }), 2000);
    EXPECT_EQ(s.State(), TMySqlSessionState::Ready);
    s.Ping();
  }
  EXPECT_EQ(server.Finish(), "");
}

// After one good row: a server error ends the result and the session goes on; a column running
// past the row's end is malformed and breaks the session.
TEST(MySqlSessionFakeTest, RowFaultsBreakOrEndTheResult) {
  const std::tuple<const char*, Bytes, int, bool> cases[] = {
      {"server error", ErrorPacket41(1969, "70100", "Query execution was interrupted"), 1969, true},
      {"column past the row's end", Bytes{5, 'a', 'b'}, 2027, false},
  };
  for (const auto& [name, second, error, usable] : cases) {
    SCOPED_TRACE(name);
    TFakeMySqlServer server;
    LoggedIn(server).ReadPacket(0).SendPacket(1, Bytes{1});
    server.SendPacket(2, FieldPacket41("db", "t", "t", "c", "c", 8, 10, 253, 0, 0))
        .SendPacket(3, EofPacket(0, 2));
    server.SendPacket(4, TextRow({"a"})).SendPacket(5, second);
    if (usable) server.ExpectPacket(0, Bytes{COM_PING}).SendPacket(1, OkPacket41(0, 0, 2));
    server.ExpectClose();
    server.Start();
    {
      TMySqlSession s;
      Connect(s, server);
      s.Query("SELECT c FROM t");
      TMySqlResultSet rs(s);
      ASSERT_TRUE(rs.Fetch());
      EXPECT_EQ(MySqlErrorOf([&] { rs.Fetch(); }), error);
      EXPECT_EQ(s.State(), usable ? TMySqlSessionState::Ready : TMySqlSessionState::Broken);
      EXPECT_EQ(MySqlErrorOf([&] { s.Ping(); }), usable ? 0 : 2006);
    }
    EXPECT_EQ(server.Finish(), "");
  }
}

// A packet header announcing more than the login can need fails at once with 2020, without
// waiting for (or buffering) what it announces; once logged in, the session's own limit rules.
TEST(MySqlSessionFakeTest, OversizedPacketsFailAtTheirHeader) {
  auto header = [](uint32_t length, uint8_t seq) {
    return Bytes{uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16), seq};
  };
  const Bytes filler(4096, 'x');
  const std::tuple<const char*, int, std::function<void(TFakeMySqlServer&)>, bool> cases[] = {
      {"greeting of endless 16 MB frames", 0,
       [&](TFakeMySqlServer& s) { s.Send(header(0xFFFFFF, 0)).Send(filler); }, false},
      {"greeting just over 1 MiB", 0, [&](TFakeMySqlServer& s) { s.Send(header((1 << 20) + 1, 0)); }, false},
      {"authentication reply over 1 MiB", 0,
       [&](TFakeMySqlServer& s) {
         s.SendPacket(0, GreetingMariaDb()).ReadPacket(1).Send(header(2 << 20, 2));
       },
       false},
      {"a row over the session's limit", 1000,
       [&](TFakeMySqlServer& s) { LoggedIn(s).ReadPacket(0).Send(header(1001, 1)).Send(filler); }, true},
  };
  for (const auto& [name, limit, script, loggedIn] : cases) {
    SCOPED_TRACE(name);
    TFakeMySqlServer server;
    server.SetStepTimeoutMs(3000);
    script(server);
    server.ExpectClose();
    server.Start();
    const auto start = std::chrono::steady_clock::now();
    {
      TMySqlSession s;
      s.MaxPacketSize = limit;
      EXPECT_EQ(MySqlErrorOf([&] {
                  Connect(s, server);
                  s.Query("SELECT 1");
                }),
                CR_NET_PACKET_TOO_LARGE);
      EXPECT_EQ(s.State(), loggedIn ? TMySqlSessionState::Broken : TMySqlSessionState::NotConnected);
    }
    // Well before the 3-second time-out that waiting for the announced bytes would end in.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    server.Finish();
  }
}

// An abandoned result is skipped in pieces to its end: a row of two physical packets, whose second
// starts like an EOF packet, is not taken for the end, and the session stays in step.
TEST(MySqlSessionFakeTest, AnAbandonedResultIsSkippedToItsEnd) {
  TFakeMySqlServer server;
  LoggedIn(server).ReadPacket(0).SendPacket(1, Bytes{1});
  server.SendPacket(2, FieldPacket41("db", "t", "t", "c", "c", 8, 10, 252, 0, 0))
      .SendPacket(3, EofPacket(0, 2));
  server.SendPacket(4, TextRow({"a"}));
  Bytes longRow{0xFE};
  Put(longRow, 0xFFFFFF + 4 - 9, 8);
  longRow.resize(0xFFFFFF, 'x');
  server.SendPacket(5, longRow).SendPacket(6, Bytes{0xFE, 'x', 'x', 'x'}).SendPacket(7, EofPacket(0, 2));
  server.ExpectPacket(0, Bytes{COM_PING}).SendPacket(1, OkPacket41(0, 0, 2)).ExpectClose();
  server.Start();
  {
    TMySqlSession s;
    Connect(s, server);
    s.Query("SELECT c FROM t");
    {
      TMySqlResultSet rs(s);
      ASSERT_TRUE(rs.Fetch());
    }
    EXPECT_EQ(s.State(), TMySqlSessionState::Ready);
    EXPECT_EQ(MySqlErrorOf([&] { s.Ping(); }), 0);
  }
  EXPECT_EQ(server.Finish(), "");
}

// A refused connection names the system's error, by number and in words.
TEST(MySqlSessionConnectTest, RefusedConnectionShowsTheSystemsError) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);  // nobody listens there now
  TMySqlSession s;
  s.ConnectTimeout = 3;
  std::string message;
  EXPECT_EQ(MySqlErrorOf([&] { s.Connect("127.0.0.1", "u", 0, {}, ntohs(address.sin_port), "db", "pw"); },
                         &message),
            2003);
  EXPECT_EQ(message,
            "Can't connect to MySQL server on '127.0.0.1' (111)\r\n"
            "Socket error on connect: Connection refused (errno 111)");
}
