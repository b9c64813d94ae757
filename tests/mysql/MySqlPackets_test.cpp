// The session codecs on bytes, each parser also fed every truncation of its input. (Login
// replies: through the session in MySqlSession_mt_test.)
#include "mysql/MySqlPackets.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <tuple>
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

// Every cut of `full` short of its whole length is malformed.
void ExpectEveryCutMalformed(const Bytes& full, auto parse) {
  for (size_t len = 0; len < full.size(); ++len) {
    SCOPED_TRACE("cut to " + std::to_string(len));
    EXPECT_EQ(ErrorOf(Bytes(full.begin(), full.begin() + len), parse), 2027);
  }
}

}  // namespace

TEST(MySqlGreetingTest, ReadsEachServerGeneration) {
  struct Case {
    const char* name;
    Bytes packet;
    uint32_t caps;
    bool has20;
    const char* plugin;
  };
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
    EXPECT_EQ(g.Scramble[c.has20 ? 19 : 7], SampleScramble[c.has20 ? 19 : 7]);
  }
  EXPECT_EQ(OnExactCopy(GreetingMariaDb(), ParseMySqlGreeting).ServerVersion, "10.11.6-MariaDB");
}

TEST(MySqlGreetingTest, EveryTruncationIsCleanOrMalformed) {
  for (const Bytes& full : {GreetingMariaDb(), Greeting41(), Greeting40()}) {
    for (size_t len = 0; len < full.size(); ++len) {
      SCOPED_TRACE(len);
      const int err = ErrorOf(Bytes(full.begin(), full.begin() + len), ParseMySqlGreeting);
      // Cuts at a section boundary are older greetings; any other cut is malformed.
      EXPECT_TRUE(err == 0 || err == 2027) << err;
      EXPECT_TRUE(len >= 13 || err == 2027) << err;
    }
  }
}

// The SSL request carries the negotiated flags and the same head the login repeats after TLS.
TEST(MySqlByteCodecTest, LengthCodedIntegersRoundTrip) {
  const std::pair<uint64_t, Bytes> cases[] = {
      {0, {0}},
      {250, {250}},
      {251, {252, 251, 0}},
      {0xFFFF, {252, 0xFF, 0xFF}},
      {0x10000, {253, 0, 0, 1}},
      {0xFFFFFF, {253, 0xFF, 0xFF, 0xFF}},
      {0x1000000, {254, 0, 0, 0, 1, 0, 0, 0, 0}},
      {0x0102030405060708, {254, 8, 7, 6, 5, 4, 3, 2, 1}},
  };
  for (const auto& [value, encoded] : cases) {
    SCOPED_TRACE(value);
    Bytes out;
    TMySqlByteWriter(out).WriteLengthCoded(value);
    EXPECT_EQ(out, encoded);
    TMySqlByteReader r(out);
    EXPECT_EQ(r.ReadLengthCoded(), value);
    EXPECT_TRUE(r.AtEnd());
  }
  EXPECT_EQ(TMySqlByteReader(Bytes{251}).ReadLengthCoded(), std::nullopt);
}

// Each read one byte short of its field is malformed; no lower-level exception escapes.
TEST(MySqlByteCodecTest, EveryReadRefusesATruncatedPacket) {
  using Read = void (*)(TMySqlByteReader&);
  const std::tuple<const char*, Bytes, Read> cases[] = {
      {"byte of an empty packet", {}, [](TMySqlByteReader& r) { r.ReadByte(); }},
      {"uint16", {1}, [](TMySqlByteReader& r) { r.ReadUInt16(); }},
      {"uint24", {1, 2}, [](TMySqlByteReader& r) { r.ReadUInt24(); }},
      {"uint32", {1, 2, 3}, [](TMySqlByteReader& r) { r.ReadUInt32(); }},
      {"uint64", {1, 2, 3, 4, 5, 6, 7}, [](TMySqlByteReader& r) { r.ReadUInt64(); }},
      {"length-coded 252", {252, 1}, [](TMySqlByteReader& r) { r.ReadLengthCoded(); }},
      {"length-coded 253", {253, 1, 2}, [](TMySqlByteReader& r) { r.ReadLengthCoded(); }},
      {"length-coded 254", {254, 1, 2, 3, 4, 5, 6, 7}, [](TMySqlByteReader& r) { r.ReadLengthCoded(); }},
      {"length-coded 255", {255, 0, 0, 0, 0, 0, 0, 0, 0}, [](TMySqlByteReader& r) { r.ReadLengthCoded(); }},
      {"NULL where a value must be", {251}, [](TMySqlByteReader& r) { r.ReadLengthCodedValue(); }},
      {"string past the end", {3, 'a', 'b'}, [](TMySqlByteReader& r) { r.ReadLengthCodedString(); }},
      {"bytes past the end", {1, 2, 3, 4}, [](TMySqlByteReader& r) { r.ReadBytes(5); }},
  };
  for (const auto& [name, payload, read] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ErrorOf(payload,
                      [read](std::span<const uint8_t> bytes) {
                        TMySqlByteReader r(bytes);
                        read(r);
                        return 0;
                      }),
              CR_MALFORMED_PACKET);
  }
}

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

TEST(MySqlOkPacketTest, FieldsPerProtocol) {
  const TMySqlOkPacket ok = ParseMySqlOkPacket(OkPacket41(3, 300, 0x0A, 2, "Rows matched: 3"), true, true);
  EXPECT_EQ(std::vector<uint64_t>({ok.AffectedRows, ok.InsertId, ok.ServerStatus, ok.WarningCount}),
            std::vector<uint64_t>({3, 300, 0x0A, 2}));
  EXPECT_EQ(ok.Info, "Rows matched: 3");
  // A pre-4.1 server without transactions: the info text follows the insert id.
  const TMySqlOkPacket old = ParseMySqlOkPacket(Bytes{0, 1, 2, 2, 'h', 'i'}, false, false);
  EXPECT_FALSE(old.HasStatus);
  EXPECT_EQ(old.Info, "hi");
  // A message longer than the packet is malformed, not read past the end.
  EXPECT_EQ(ErrorOf(Bytes{0, 1, 2, 9, 'h', 'i'}, [](auto s) { return ParseMySqlOkPacket(s, false, false); }),
            2027);
  const Bytes full = OkPacket41(1, 0x10000, 2);
  ExpectEveryCutMalformed(Bytes(full.begin(), full.begin() + 7),
                          [](auto s) { return ParseMySqlOkPacket(s, true, true); });
}

// An OK packet of a tracked session whose state changed: the message, then the block of entries.
Bytes TrackedOk(const Bytes& block) {
  Bytes b = OkPacket41(0, 0, SERVER_STATUS_AUTOCOMMIT | SERVER_SESSION_STATE_CHANGED);
  PutLencText(b, "");
  PutLenc(b, block.size());
  b.insert(b.end(), block.begin(), block.end());
  return b;
}

Bytes TrackEntry(uint8_t kind, const Bytes& data) {
  Bytes b{kind};
  PutLenc(b, data.size());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

Bytes Variable(std::string_view name, std::string_view value) {
  Bytes data;
  PutLencText(data, name);
  PutLencText(data, value);
  return TrackEntry(0, data);
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(MySqlOkPacketTest, SessionStateNamesTheChangedVariables) {
  using Vars = std::vector<std::pair<std::string, std::string>>;
  auto parse = [](auto s) { return ParseMySqlOkPacket(s, true, true, true); };
  struct Case {
    const char* Name;
    Bytes Packet;
    Vars Expect;
    const char* Schema = nullptr;  // the database a USE moved to
  };
  const Case cases[] = {
      {"SET NAMES: three variables",
       TrackedOk(Join({Variable("character_set_client", "gbk"), Variable("character_set_connection", "gbk"),
                       Variable("character_set_results", "gbk")})),
       {{"character_set_client", "gbk"},
        {"character_set_connection", "gbk"},
        {"character_set_results", "gbk"}}},
      {"a USE among other kinds",
       TrackedOk(
           Join({TrackEntry(1, {3, 'd', 'b', '2'}), Variable("autocommit", "OFF"), TrackEntry(5, {1, 'T'})})),
       {{"autocommit", "OFF"}},
       "db2"},
      {"empty block", TrackedOk({}), {}},
      {"no change flagged", OkPacket41(0, 0, SERVER_STATUS_AUTOCOMMIT), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const TMySqlOkPacket ok = OnExactCopy(c.Packet, parse);
    EXPECT_EQ(ok.SystemVariables, c.Expect);
    EXPECT_EQ(ok.SchemaChanged, c.Schema != nullptr);
    EXPECT_EQ(ok.Schema, c.Schema != nullptr ? c.Schema : "");
  }
  // Untracked sessions read the same bytes as before: the message only.
  EXPECT_TRUE(OnExactCopy(cases[0].Packet, [](auto s) {
                return ParseMySqlOkPacket(s, true, true);
              }).SystemVariables.empty());
  // Every cut inside the block (past the message) is malformed.
  const Bytes& full = cases[0].Packet;
  for (size_t len = 9; len < full.size(); ++len) {
    SCOPED_TRACE("cut to " + std::to_string(len));
    EXPECT_EQ(ErrorOf(Bytes(full.begin(), full.begin() + len), parse), 2027);
  }
  // An entry whose data says less than its variable holds, or more than the block, is malformed.
  const Case malformed[] = {
      {"value past its entry", TrackedOk(TrackEntry(0, {3, 'a', 'b', 'c', 5, 'x'})), {}},
      {"entry past its block", TrackedOk(Join({Bytes{0, 9}, Variable("a", "b")})), {}},
      {"bytes left in an entry", TrackedOk(TrackEntry(0, {1, 'a', 1, 'b', 'z'})), {}},
      {"bytes left in a schema entry", TrackedOk(TrackEntry(1, {1, 'a', 'z'})), {}},
      {"bytes after the block", Join({TrackedOk({}), Bytes{7}}), {}},
  };
  for (const Case& c : malformed) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ErrorOf(c.Packet, parse), 2027);
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
  const auto parse = [](auto s) { return ParseMySqlQueryReply(s, true, true); };
  EXPECT_EQ(parse(OkPacket41(1, 0, 2)).Kind, K::Ok);
  const auto file = parse(Bytes{0xFB, '/', 't', 'm', 'p'});
  EXPECT_EQ(file.Kind, K::LocalInfile);
  EXPECT_EQ(file.FileName, "/tmp");
  const auto rs = parse(Bytes{3, 9});
  EXPECT_EQ(rs.Kind, K::ResultSet);
  EXPECT_EQ(rs.FieldCount, 3u);
  EXPECT_EQ(rs.Extra, 9u);
  for (const Bytes& bad : {Bytes{}, Bytes{0xFB}, Bytes{0xFD, 0x00, 0x00, 0x01}, Bytes{3, 9, 9}, Bytes{0xFF}})
    EXPECT_EQ(ErrorOf(bad, parse), 2027);
}

TEST(MySqlFieldPacketTest, FourOneAndOlderLayouts) {
  const Bytes p41 = FieldPacket41("db", "t", "t0", "c", "c0", 33, 11, 3, 0x4203, 0);
  const auto parse41 = [](auto s) { return ParseMySqlFieldPacket(s, true, true); };
  const TMySqlFieldInfo f = OnExactCopy(p41, parse41);
  EXPECT_EQ(std::vector<std::string>({f.Catalog, f.Database, f.Table, f.OrgTable, f.Name, f.OrgName}),
            std::vector<std::string>({"def", "db", "t", "t0", "c", "c0"}));
  EXPECT_EQ(std::vector<uint32_t>({f.CharsetNr, f.Length, f.Type, f.Flags}),
            std::vector<uint32_t>({33, 11, 3, 0x4203 | 0x8000}));  // numeric
  Bytes withDefault = p41;
  withDefault.push_back(0xFB);
  EXPECT_EQ(ErrorOf(withDefault, parse41), 2027);
  EXPECT_EQ(ErrorOf(withDefault, [](auto s) { return ParseMySqlFieldPacket(s, true, true, true); }), 0);
  ExpectEveryCutMalformed(p41, parse41);

  // Table "t", name "name", length 20, type 253, then flags of two bytes (long flag) or one.
  const TMySqlFieldInfo f40 =
      OnExactCopy(Bytes{1, 't', 4, 'n', 'a', 'm', 'e', 3, 20, 0, 0, 1, 253, 3, 1, 0, 0},
                  [](auto s) { return ParseMySqlFieldPacket(s, false, true); });
  EXPECT_EQ(std::vector<std::string>({f40.Table, f40.Name}), std::vector<std::string>({"t", "name"}));
  EXPECT_EQ(std::vector<uint32_t>({f40.Length, f40.Type, f40.Flags}), std::vector<uint32_t>({20, 253, 1}));
  const TMySqlFieldInfo shortFlags =
      OnExactCopy(Bytes{1, 't', 1, 'n', 3, 20, 0, 0, 1, 253, 2, 1, 2},
                  [](auto s) { return ParseMySqlFieldPacket(s, false, false); });
  EXPECT_EQ(shortFlags.Decimals, 2u);
}

// A session reads the next result's descriptions over those of the result freed before: nothing
// of the old one may stay, and a packet that does not parse leaves the description as it was.
TEST(MySqlFieldPacketTest, ReadOverAnEarlierDescription) {
  const auto all = [](const TMySqlFieldInfo& f) {
    return std::tuple(f.Name, f.OrgName, f.Table, f.OrgTable, f.Database, f.Catalog, f.Length, f.MaxLength,
                      f.Flags, f.Decimals, f.CharsetNr, f.Type);
  };
  const Bytes wide = FieldPacket41("a_database_name_longer_than_sso", "a_table_name_longer_than_sso", "t0",
                                   "a_column_name_longer_than_sso", "c0", 8, 255, 253, 0x1003, 31);
  const Bytes narrow = FieldPacket41("", "", "", "x", "", 63, 11, 3, 0, 0);
  TMySqlFieldInfo info;
  ParseMySqlFieldPacket(wide, true, true, false, info);
  ParseMySqlFieldPacket(narrow, true, true, false, info);
  EXPECT_EQ(all(info), all(ParseMySqlFieldPacket(narrow, true, true)));
  const Bytes cut(narrow.begin(), narrow.end() - 1);
  EXPECT_EQ(ErrorOf(cut, [&](auto s) { return ParseMySqlFieldPacket(s, true, true, false, info), 0; }), 2027);
  EXPECT_EQ(all(info), all(ParseMySqlFieldPacket(narrow, true, true)));
}

TEST(MySqlTextRowTest, NullEmptyAndBounds) {
  // "ab", NULL, "", then a value with a 2-byte length.
  const Bytes row = {2, 'a', 'b', 0xFB, 0, 0xFC, 3, 0, 'x', 'y', 'z'};
  TMySqlBinds binds(4);
  const auto decode = [&](auto s) { return DecodeMySqlTextRow(s, binds.Binds), 0; };
  OnExactCopy(row, decode);
  const auto& b = binds.Binds;
  EXPECT_EQ(std::vector<uint64_t>(
                {b[0].Position, b[0].Length, b[1].Position, b[2].Length, b[3].Position, b[3].Length}),
            std::vector<uint64_t>({1, 2, 0, 0, 8, 3}));
  EXPECT_TRUE(b[1].IsNull);
  EXPECT_FALSE(b[2].IsNull);
  EXPECT_NE(b[2].Position, 0u);
  ExpectEveryCutMalformed(row, decode);
  for (const Bytes& bad : {Bytes{2, 'a', 'b', 0xFB, 0, 0, 0}, Bytes{0xFF, 0, 0, 0},
                           Bytes{0xFE, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}})
    EXPECT_EQ(ErrorOf(bad, decode), 2027);
}
