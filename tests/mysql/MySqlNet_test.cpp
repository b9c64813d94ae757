// The packet layer on bytes: framing, the compressed envelope and the protocol's errors, over an in-memory
// transport. Long payloads: MySqlNet_mt_test.
#include "mysql/MySqlNet.h"

#include <gtest/gtest.h>

#include <tuple>

#include "mysql/MySqlPackets.h"
#include "support/FakeMySqlServer.h"
#include "support/MemoryVio.h"
#include "support/NetTestUtil.h"

namespace {

using Fake = TFakeMySqlServer;
constexpr uint32_t kChunk = MYSQL_MAX_CHUNK;

TBytes Cat(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const TBytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TBytes Text(std::string_view s) {
  return TBytes(s.begin(), s.end());
}

// A packet layer over an in-memory transport that serves `input`, at most maxRead bytes a read.
struct Wire {
  explicit Wire(TBytes input = {}, size_t maxRead = 0)
      : net(std::make_unique<TMemoryVio>(std::move(input), maxRead)),
        vio(static_cast<TMemoryVio*>(net.Vio())) {}
  TMySqlNet net;
  TMemoryVio* vio;
};

TEST(MySqlErrorsTest, EveryClientErrorHasATextAndMissingArgumentsLeaveItAsItIs) {
  for (int code = CR_MIN_ERROR; code <= CR_MAX_ERROR; ++code)
    EXPECT_STRNE(MySqlClientErrorText(code), "") << code;
  EXPECT_EQ(MySqlErrorMessage(2003), "Can't connect to MySQL server on '%s' (%d)");
}

TEST(MySqlNetTest, SequenceNumbersCountAndWrapAfter255) {
  Wire w;
  for (int i = 0; i < 257; ++i) {
    w.net.WriteByte(static_cast<uint8_t>(i));
    w.net.Flush();
  }
  w.net.Flush();  // nothing built: nothing sent
  const TBytes& out = w.vio->Output;
  ASSERT_EQ(out.size(), 257u * 5);
  EXPECT_EQ(out[255 * 5 + 3], 255);
  EXPECT_EQ(out[256 * 5 + 3], 0);
  w.net.Reset();
  w.net.FlushEmpty();
  EXPECT_EQ(TBytes(out.end() - 4, out.end()), (TBytes{0, 0, 0, 0}));
}

TEST(MySqlNetTest, AFailedWriteIsALostConnection) {
  Wire w;
  w.vio->WriteLimit = 3;
  w.net.WriteBytes(Text("select 1"));
  std::string message;
  EXPECT_EQ(MySqlErrorOf([&] { w.net.Flush(); }, &message), CR_SERVER_LOST);
  EXPECT_EQ(message, "Lost connection to MySQL server during query\r\npeer closed");
  EXPECT_TRUE(w.net.Broken());
  w.net.Reset();
  w.net.WriteByte(1);
  EXPECT_EQ(MySqlErrorOf([&] { w.net.Flush(); }), CR_SERVER_GONE_ERROR);
}

// Faults the fake server cannot script (MySqlNet_mt_test has the others).
TEST(MySqlNetTest, FramingFaultsBreakTheConnection) {
  const TBytes packed = Fake::CompressedPacket(0, Fake::Packet(0, TBytes(100, 'z')), true);
  TBytes longer = packed, shorter = packed;
  longer[4] += 1;   // announces one byte more than inflates
  shorter[4] -= 1;  // zlib would need more room than announced
  const std::tuple<const char*, TBytes, bool, int> cases[] = {
      {"chunk without its continuation", Fake::Packet(0, TBytes(kChunk, 1)), false, CR_SERVER_LOST},
      {"error packet without a number", {2, 0, 0, 0, 0xFF, 0x15}, false, CR_MALFORMED_PACKET},
      {"over the size cap of 100", Fake::Packet(0, TBytes(200, 1)), false, CR_NET_PACKET_TOO_LARGE},
      {"inflates short of the announced length", longer, true, ER_NET_UNCOMPRESS_ERROR},
      {"inflates past the announced length", shorter, true, ER_NET_UNCOMPRESS_ERROR},
  };
  for (const auto& [name, wire, compress, error] : cases) {
    SCOPED_TRACE(name);
    Wire w(wire);
    w.net.SetCompress(compress);
    if (error == CR_NET_PACKET_TOO_LARGE) w.net.SetMaxPacketSize(100);
    EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacket(); }), error);
    EXPECT_TRUE(w.net.Broken());
    EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacket(); }), CR_SERVER_GONE_ERROR);
  }
}

// The SQL state of a 4.1 error packet is not part of the message.
TEST(MySqlNetTest, ServerErrorPacketsRaiseTheServersErrorAndKeepTheStreamInStep) {
  const std::tuple<const char*, TBytes, int, const char*> cases[] = {
      {"4.1 with SQL state", Cat({{0xFF, 0x15, 0x04}, Text("#28000Access denied for user 'x'@'h'")}), 1045,
       "\r\nAccess denied for user 'x'@'h'"},
      {"older server, no SQL state", Cat({{0xFF, 0x15, 0x04}, Text("Access denied")}), 1045,
       "\r\nAccess denied"},
      {"text with a terminator", Cat({{0xFF, 0x48, 0x04}, Text("No database"), {0, 'x'}}), 1096,
       "\r\nNo database"},
      {"no text", {0xFF, 0x10, 0x27}, 10000, ""},
  };
  for (const auto& [name, payload, number, text] : cases) {
    SCOPED_TRACE(name);
    Wire w(Cat({Fake::Packet(0, payload), Fake::Packet(1, payload), Fake::Packet(2, payload),
                Fake::Packet(3, {0, 1})}));
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacket(); }, &message), number);
    EXPECT_EQ(message, text);
    EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacketBytes(); }), number);
    TBytes first;
    EXPECT_EQ(MySqlErrorOf([&] { w.net.SkipPacket(first, 2, true); }), number);
    EXPECT_FALSE(w.net.Broken());
    w.net.ReadPacket();
    EXPECT_EQ(TBytes(w.net.Packet().begin(), w.net.Packet().end()), (TBytes{0, 1}));
  }
}

TEST(MySqlNetTest, ReadPacketBytes) {
  // An empty packet is the peer's fault, not ours: malformed, not an assertion.
  Wire empty(Fake::Packet(0, {}));
  EXPECT_EQ(MySqlErrorOf([&] { empty.net.ReadPacketBytes(); }), CR_MALFORMED_PACKET);
  EXPECT_TRUE(empty.net.Broken());

  Wire w(Cat({Fake::Packet(0, Text("row")), Fake::Packet(1, TBytes(kChunk, 7)), Fake::Packet(2, TBytes(5, 7)),
              Fake::Packet(3, {0xFE, 0, 0, 2, 0})}));
  EXPECT_EQ(w.net.ReadPacketBytes(), Text("row"));
  // A huge row is refused, but consumed whole: the stream stays in step.
  try {
    w.net.ReadPacketBytes();
    ADD_FAILURE() << "a huge packet was accepted";
  } catch (const ArgumentException& e) {
    EXPECT_STREQ(e.what(), "Cannot retrieve huge data in FetchAll mode");
  }
  EXPECT_FALSE(w.net.Broken());
  EXPECT_EQ(w.net.ReadPacketBytes(), (TBytes{0xFE, 0, 0, 2, 0}));
}

// An empty compressed packet is skipped (it once copied from an empty buffer); a plain packet may
// span two compressed ones, stored or packed.
TEST(MySqlNetTest, CompressedReadsServeAStreamOfPlainPackets) {
  const TBytes both = Cat({Fake::Packet(0, Text("first")), Fake::Packet(1, TBytes(300, 'b'))});
  // One compressed packet holding two plain ones, an empty one, then a plain one cut across a
  // stored and a compressed one.
  const TBytes c = Fake::Packet(2, TestPattern(100));
  Wire w(Cat({Fake::CompressedPacket(0, both, true), Fake::CompressedPacket(1, {}, false),
              Fake::CompressedPacket(2, TBytes(c.begin(), c.begin() + 30), false),
              Fake::CompressedPacket(3, TBytes(c.begin() + 30, c.end()), true)}),
         7);
  w.net.SetCompress(true);
  w.net.ReadPacket();
  EXPECT_EQ(TMySqlByteReader(w.net.Packet()).ReadStringZ(), "first");
  w.net.ReadPacket();
  EXPECT_EQ(w.net.Length(), 300);
  w.net.ReadPacket();
  EXPECT_EQ(TBytes(w.net.Packet().begin(), w.net.Packet().end()), TestPattern(100));
  EXPECT_EQ(w.net.CompressedSequence(), 4);
}

// A payload handed to FlushWith goes out as the same bytes as one copied into the packet first,
// plain or compressed, whether it is sent straight from the caller's memory or not.
TEST(MySqlNetTest, FlushWithSendsWhatWriteBytesAndFlushSend) {
  const struct {
    const char* name;
    size_t size;
  } cases[] = {{"short, copied", 100},
               {"long, sent from the caller's memory", 300000},
               {"one byte short of a chunk with the command byte", kChunk - 2},
               {"a chunk and more", kChunk + 10}};
  for (const auto& c : cases)
    for (const bool compress : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (compress ? ", compressed" : ""));
      const TBytes payload = TestPattern(c.size, true);
      Wire copied, direct;
      for (Wire* w : {&copied, &direct}) {
        w->net.SetCompress(compress);
        w->net.Reset();
        w->net.WriteByte(3);
      }
      copied.net.WriteBytes(payload);
      copied.net.Flush();
      direct.net.FlushWith(payload);
      EXPECT_TRUE(copied.vio->Output == direct.vio->Output);
      EXPECT_EQ(direct.net.Sequence(), copied.net.Sequence());
      // The packet after it starts afresh.
      copied.net.WriteByte(1);
      copied.net.Flush();
      direct.net.WriteByte(1);
      direct.net.Flush();
      EXPECT_TRUE(copied.vio->Output == direct.vio->Output);
    }
}

}  // namespace
