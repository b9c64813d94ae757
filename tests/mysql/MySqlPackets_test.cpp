#include "mysql/MySqlPackets.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/mysql/MySqlPacketFactory.h"

using namespace mysql_test;

namespace {

// Runs the parser on an exactly sized heap copy so that ASan sees any over-read.
template <typename F>
auto OnExactCopy(const Bytes& bytes, F parse) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() ? bytes.size() : 1]);
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return parse(std::span<const uint8_t>(copy.get(), bytes.size()));
}

int ErrorOf(const Bytes& bytes, auto parse) {
  try {
    OnExactCopy(bytes, parse);
  } catch (const EMySqlException& e) {
    return e.ErrorCode;
  }
  return 0;
}

}  // namespace

TEST(MySqlGreetingTest, ReadsEachServerGeneration) {
  struct Case { const char* name; Bytes packet; uint32_t caps; bool has20; const char* plugin; };
  const Case cases[] = {
      {"mariadb 10.11", GreetingMariaDb(), MariaDbCaps, true, "mysql_native_password"},
      {"4.1", Greeting41(), Caps41, true, ""},
      {"early 4.1 without terminator", Greeting41NoTerminator(), Caps41, true, ""},
      {"4.0", Greeting40(), Caps40, false, ""},
      {"3.23 stopping after the capabilities", Greeting323(), 0x202C, false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TMySqlGreeting g = OnExactCopy(c.packet, ParseMySqlGreeting);
    EXPECT_EQ(g.ProtocolVersion, 10);
    EXPECT_EQ(g.ThreadId, 0x04030201u);
    EXPECT_EQ(g.ServerCapabilities, c.caps);
    EXPECT_EQ(g.HasScramble20, c.has20);
    EXPECT_EQ(g.AuthPluginName, c.plugin);
    EXPECT_EQ(g.Scramble[0], SampleScramble[0]);
    if (c.has20) {
      EXPECT_EQ(g.Scramble[19], SampleScramble[19]);
    }
  }
  EXPECT_EQ(OnExactCopy(GreetingMariaDb(), ParseMySqlGreeting).ServerVersion, "10.11.6-MariaDB");
}

TEST(MySqlGreetingTest, EveryTruncationIsCleanOrMalformed) {
  for (const Bytes& full : {GreetingMariaDb(), Greeting41(), Greeting40()}) {
    for (size_t len = 0; len < full.size(); ++len) {
      SCOPED_TRACE(len);
      const Bytes cut(full.begin(), full.begin() + len);
      const int err = ErrorOf(cut, ParseMySqlGreeting);
      // Cuts at a section boundary are older greetings; any other cut is malformed.
      EXPECT_TRUE(err == 0 || err == 2027) << err;
      if (len < 13) {
        EXPECT_EQ(err, 2027);
      }
    }
  }
}

TEST(MySqlGreetingTest, ProtocolVersion9IsAMismatch) {
  Bytes g = Greeting40();
  g[0] = 9;
  try {
    OnExactCopy(g, ParseMySqlGreeting);
    FAIL();
  } catch (const EMySqlException& e) {
    EXPECT_EQ(e.ErrorCode, 2007);
    EXPECT_EQ(e.Message(), "Protocol mismatch. Server Version = 9 Client Version = 10");
  }
}

TEST(MySqlLoginPacketTest, LayoutPerServerGeneration) {
  TMySqlLoginRequest q;
  q.User = "gm";
  q.Password = "pw";
  std::copy(std::begin(SampleScramble), std::end(SampleScramble), q.Scramble.begin());

  q.ServerCapabilities = Caps40;
  q.ClientFlags = MySqlNegotiateClientFlags(Caps40, 0, 0, 0);
  q.Database = "acc";
  Bytes p = BuildMySqlLoginPacket(q);
  // flags(2) size(3) "gm\0" scramble323(9) "acc\0"
  ASSERT_EQ(p.size(), 2u + 3 + 3 + 9 + 4);
  EXPECT_EQ(p[0] | p[1] << 8, int(q.ClientFlags & 0xFFFF));
  EXPECT_EQ(Bytes(p.begin() + 2, p.begin() + 5), (Bytes{0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(p.back(), 0);

  q.ServerCapabilities = Caps41;
  q.ClientFlags = MySqlNegotiateClientFlags(Caps41, 0, 0, 0);
  q.HasScramble20 = true;
  q.Database.clear();
  p = BuildMySqlLoginPacket(q);
  // flags(4) size(4) charset(1) 23 zeros, "gm\0", 20 + token, and the empty database's terminator.
  ASSERT_EQ(p.size(), 32u + 3 + 21 + 1);
  EXPECT_EQ(p[8], 8);
  EXPECT_EQ(p[35], 20);
  EXPECT_EQ(p.back(), 0);

  q.HasScramble20 = false;
  p = BuildMySqlLoginPacket(q);
  EXPECT_EQ(Bytes(p.begin() + 35, p.begin() + 44), (Bytes{'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x', 0}));

  q.Password.clear();
  q.ServerCapabilities = MariaDbCaps;
  q.ClientFlags = MySqlNegotiateClientFlags(MariaDbCaps, 0, 0, 0);
  q.Database = "db";
  p = BuildMySqlLoginPacket(q);
  const std::string tail(p.begin() + 35, p.end());
  EXPECT_EQ(tail, std::string("\0db\0mysql_native_password\0", 26));
}

// The SSL request carries the negotiated flags and the same head the login repeats after TLS.
TEST(MySqlLoginPacketTest, SslRequestIsTheLoginHeadWithTheNegotiatedFlags) {
  TMySqlLoginRequest q;
  q.ServerCapabilities = MariaDbCaps | CLIENT_SSL;
  q.ClientFlags = MySqlNegotiateClientFlags(q.ServerCapabilities, 0, 0, MYSQL_PROTOCOL_SSL);
  ASSERT_TRUE(q.ClientFlags & CLIENT_SSL);
  q.User = "gm";
  const uint32_t f = q.ClientFlags;
  Bytes expected{uint8_t(f), uint8_t(f >> 8), uint8_t(f >> 16), uint8_t(f >> 24), 0, 0, 0, 0x40, 8};
  expected.resize(32, 0);
  EXPECT_EQ(BuildMySqlSslRequest(f), expected);
  const Bytes login = BuildMySqlLoginPacket(q);
  EXPECT_EQ(Bytes(login.begin(), login.begin() + 32), expected);
}

TEST(MySqlLoginReplyTest, OnlyKnownRepliesAreAccepted) {
  const uint32_t plugin = MariaDbCaps | CLIENT_PLUGIN_AUTH;
  using K = TMySqlLoginReply::TKind;
  EXPECT_EQ(ParseMySqlLoginReply(OkPacket41(0, 0, 2), plugin, MariaDbCaps).Kind, K::Ok);
  EXPECT_EQ(ParseMySqlLoginReply(Bytes{0xFE}, plugin, MariaDbCaps).Kind, K::OldPasswordSwitch);
  const auto sw = ParseMySqlLoginReply(AuthSwitch("client_ed25519", Bytes(32, 7)), plugin, MariaDbCaps);
  EXPECT_EQ(sw.Kind, K::AuthSwitch);
  EXPECT_EQ(sw.PluginName, "client_ed25519");
  EXPECT_EQ(sw.Data.size(), 32u);
  EXPECT_EQ(ParseMySqlLoginReply(Bytes(24, '*'), Caps41, Caps41).Kind, K::Challenge410);
  for (const Bytes& bad : {Bytes{0x01, 0x03}, Bytes{0xFE, 'a', 0}, Bytes{0x05}}) {
    EXPECT_EQ(ErrorOf(bad, [&](auto s) { return ParseMySqlLoginReply(s, Caps41, Caps41); }), 2012);
  }
  EXPECT_EQ(ErrorOf(Bytes{}, [&](auto s) { return ParseMySqlLoginReply(s, Caps41, Caps41); }), 2027);
}

TEST(MySqlOkPacketTest, FieldsPerProtocol) {
  TMySqlOkPacket ok = ParseMySqlOkPacket(OkPacket41(3, 300, 0x0A, 2, "Rows matched: 3"), true, true);
  EXPECT_EQ(ok.AffectedRows, 3u);
  EXPECT_EQ(ok.InsertId, 300u);
  EXPECT_EQ(ok.ServerStatus, 0x0A);
  EXPECT_EQ(ok.WarningCount, 2);
  EXPECT_EQ(ok.Info, "Rows matched: 3");
  // A pre-4.1 server without transactions: the info text follows the insert id.
  ok = ParseMySqlOkPacket(Bytes{0, 1, 2, 2, 'h', 'i'}, false, false);
  EXPECT_FALSE(ok.HasStatus);
  EXPECT_EQ(ok.Info, "hi");
  // A message longer than the packet is malformed, not read past the end.
  EXPECT_EQ(ErrorOf(Bytes{0, 1, 2, 9, 'h', 'i'}, [](auto s) { return ParseMySqlOkPacket(s, false, false); }), 2027);
  for (size_t len = 0; len < 7; ++len) {
    SCOPED_TRACE(len);
    const Bytes full = OkPacket41(1, 0x10000, 2);
    EXPECT_EQ(ErrorOf(Bytes(full.begin(), full.begin() + len), [](auto s) { return ParseMySqlOkPacket(s, true, true); }),
              2027);
  }
}

TEST(MySqlEofPacketTest, OneOrFiveBytes) {
  EXPECT_FALSE(ParseMySqlEofPacket(Bytes{0xFE}).HasStatus);
  const TMySqlEofPacket eof = ParseMySqlEofPacket(EofPacket(1, 0x22));
  EXPECT_EQ(eof.WarningCount, 1);
  EXPECT_EQ(eof.ServerStatus, 0x22);
  for (const Bytes& bad : {Bytes{0xFE, 1}, Bytes{0xFE, 0, 0, 0}, Bytes{0xFE, 0, 0, 0, 0, 0}}) {
    EXPECT_TRUE(IsMySqlEofPacket(bad));
    EXPECT_EQ(ErrorOf(bad, ParseMySqlEofPacket), 2027);
  }
  EXPECT_FALSE(IsMySqlEofPacket(Bytes{0xFE, 0, 0, 0, 0, 0, 0, 0, 0}));  // a row with an 8-byte length
}

TEST(MySqlQueryReplyTest, OkLocalFileOrResultHeader) {
  using K = TMySqlQueryReply::TKind;
  EXPECT_EQ(ParseMySqlQueryReply(OkPacket41(1, 0, 2), true, true).Kind, K::Ok);
  const auto file = ParseMySqlQueryReply(Bytes{0xFB, '/', 't', 'm', 'p'}, true, true);
  EXPECT_EQ(file.Kind, K::LocalInfile);
  EXPECT_EQ(file.FileName, "/tmp");
  const auto rs = ParseMySqlQueryReply(Bytes{3}, true, true);
  EXPECT_EQ(rs.Kind, K::ResultSet);
  EXPECT_EQ(rs.FieldCount, 3u);
  EXPECT_EQ(ParseMySqlQueryReply(Bytes{3, 9}, true, true).Extra, 9u);
  for (const Bytes& bad : {Bytes{}, Bytes{0xFB}, Bytes{0xFC, 0x01, 0x10}, Bytes{3, 9, 9}, Bytes{0xFF}}) {
    EXPECT_EQ(ErrorOf(bad, [](auto s) { return ParseMySqlQueryReply(s, true, true); }), 2027);
  }
}

TEST(MySqlFieldPacketTest, FourOneAndOlderLayouts) {
  const Bytes p41 = FieldPacket41("db", "t", "t0", "c", "c0", 33, 11, 3, 0x4203, 0);
  TMySqlFieldInfo f = OnExactCopy(p41, [](auto s) { return ParseMySqlFieldPacket(s, true, true); });
  EXPECT_EQ(f.Catalog, "def");
  EXPECT_EQ(f.Database, "db");
  EXPECT_EQ(f.Table, "t");
  EXPECT_EQ(f.OrgTable, "t0");
  EXPECT_EQ(f.Name, "c");
  EXPECT_EQ(f.OrgName, "c0");
  EXPECT_EQ(f.CharsetNr, 33u);
  EXPECT_EQ(f.Length, 11u);
  EXPECT_EQ(f.Type, 3);
  EXPECT_EQ(f.Flags, 0x4203u | 0x8000u);  // numeric
  Bytes withDefault = p41;
  withDefault.push_back(0xFB);
  EXPECT_EQ(ErrorOf(withDefault, [](auto s) { return ParseMySqlFieldPacket(s, true, true); }), 2027);
  EXPECT_EQ(ErrorOf(withDefault, [](auto s) { return ParseMySqlFieldPacket(s, true, true, true); }), 0);
  for (size_t len = 0; len < p41.size(); ++len) {
    SCOPED_TRACE(len);
    EXPECT_EQ(ErrorOf(Bytes(p41.begin(), p41.begin() + len), [](auto s) { return ParseMySqlFieldPacket(s, true, true); }),
              2027);
  }

  const Bytes p40 = FieldPacket40("t", "name", 20, 253, 0x0001, 0, true);
  f = OnExactCopy(p40, [](auto s) { return ParseMySqlFieldPacket(s, false, true); });
  EXPECT_EQ(f.Table, "t");
  EXPECT_EQ(f.Name, "name");
  EXPECT_EQ(f.Length, 20u);
  EXPECT_EQ(f.Type, 253);
  EXPECT_EQ(f.Flags, 1u);
  const Bytes p40short = FieldPacket40("t", "n", 20, 253, 0x01, 2, false);
  f = OnExactCopy(p40short, [](auto s) { return ParseMySqlFieldPacket(s, false, false); });
  EXPECT_EQ(f.Decimals, 2u);
}

TEST(MySqlTextRowTest, NullEmptyAndBounds) {
  // "ab", NULL, "", then a value with a 2-byte length.
  Bytes row = {2, 'a', 'b', 0xFB, 0, 0xFC, 3, 0, 'x', 'y', 'z'};
  TMySqlBinds binds(4);
  OnExactCopy(row, [&](auto s) { DecodeMySqlTextRow(s, binds.Binds); return 0; });
  EXPECT_EQ(binds.Binds[0].Position, 1u);
  EXPECT_EQ(binds.Binds[0].Length, 2u);
  EXPECT_TRUE(binds.Binds[1].IsNull);
  EXPECT_EQ(binds.Binds[1].Position, 0u);
  EXPECT_FALSE(binds.Binds[2].IsNull);
  EXPECT_EQ(binds.Binds[2].Length, 0u);
  EXPECT_NE(binds.Binds[2].Position, 0u);
  EXPECT_EQ(binds.Binds[3].Position, 8u);
  EXPECT_EQ(binds.Binds[3].Length, 3u);
  for (size_t len = 0; len < row.size(); ++len) {
    SCOPED_TRACE(len);
    EXPECT_EQ(ErrorOf(Bytes(row.begin(), row.begin() + len), [&](auto s) { DecodeMySqlTextRow(s, binds.Binds); return 0; }),
              2027);
  }
  for (const Bytes& bad : {Bytes{2, 'a', 'b', 0xFB, 0, 0, 0}, Bytes{0xFF, 0, 0, 0}, Bytes{0xFE, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}) {
    EXPECT_EQ(ErrorOf(bad, [&](auto s) { DecodeMySqlTextRow(s, binds.Binds); return 0; }), 2027);
  }
}
