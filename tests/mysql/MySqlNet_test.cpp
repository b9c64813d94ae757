// The packet layer on bytes: framing, chunking, the compressed envelope, the primitive readers
// and the protocol's errors, over an in-memory transport.
#include "mysql/MySqlNet.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "support/FakeMySqlServer.h"
#include "support/NetTestUtil.h"
#include "support/MemoryVio.h"

namespace {

using Fake = TFakeMySqlServer;
constexpr uint32_t kChunk = MYSQL_MAX_CHUNK;

TBytes Cat(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const TBytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TBytes Text(std::string_view s) { return TBytes(s.begin(), s.end()); }

// A packet layer over an in-memory transport that serves `input`, at most maxRead bytes a read.
struct Wire {
  explicit Wire(TBytes input = {}, size_t maxRead = 0)
      : net(std::make_unique<TMemoryVio>(std::move(input), maxRead)), vio(static_cast<TMemoryVio*>(net.Vio())) {}
  TMySqlNet net;
  TMemoryVio* vio;
};

struct TFrame {
  uint32_t length;
  uint8_t seq;
};

// The plain packets on a captured wire: length and sequence of each.
std::vector<TFrame> Frames(const TBytes& wire, TBytes* payload = nullptr) {
  std::vector<TFrame> frames;
  size_t pos = 0;
  while (pos + 4 <= wire.size()) {
    TFrame f{MySqlGetUInt24(&wire[pos]), wire[pos + 3]};
    if (payload) payload->insert(payload->end(), wire.begin() + pos + 4, wire.begin() + pos + 4 + f.length);
    pos += 4 + f.length;
    frames.push_back(f);
  }
  EXPECT_EQ(pos, wire.size()) << "the wire ends inside a packet";
  return frames;
}

// ---- client errors ------------------------------------------------------------------------------

TEST(MySqlErrorsTest, ClientTextsAndMessages) {
  EXPECT_STREQ(MySqlClientErrorText(2000), "Unknown MySQL error");
  EXPECT_STREQ(MySqlClientErrorText(2014), "Commands out of sync;  You can't run this command now");
  EXPECT_STREQ(MySqlClientErrorText(2027), "Malformed packet");
  EXPECT_STREQ(MySqlClientErrorText(2047), "Invalid connection handle");
  EXPECT_STREQ(MySqlClientErrorText(1999), "");
  EXPECT_STREQ(MySqlClientErrorText(2048), "");
  for (int code = CR_MIN_ERROR; code <= CR_MAX_ERROR; ++code) EXPECT_STRNE(MySqlClientErrorText(code), "") << code;

  EXPECT_EQ(MySqlErrorMessage(2003, {"db.example", 111}), "Can't connect to MySQL server on 'db.example' (111)");
  EXPECT_EQ(MySqlErrorMessage(2013, {}, "Socket error on read."),
            "Lost connection to MySQL server during query\r\nSocket error on read.");
  EXPECT_EQ(MySqlErrorMessage(1045, {}, "Access denied"), "\r\nAccess denied");
  // Arguments that do not fit leave the text as it is rather than failing the error report.
  EXPECT_EQ(MySqlErrorMessage(2003), "Can't connect to MySQL server on '%s' (%d)");
  try {
    RaiseMySqlClientError(2017, {".", "/tmp/x.sock", "No such file or directory"});
  } catch (const EMySqlException& e) {
    EXPECT_EQ(e.ErrorCode, 2017);
    EXPECT_EQ(e.Message(), "Can't open named pipe to host: .  pipe: /tmp/x.sock (No such file or directory)");
  }
}

// ---- primitive encodings -----------------------------------------------------------------------

TEST(MySqlNetTest, LengthCodedIntegersRoundTrip) {
  struct Case {
    uint64_t value;
    TBytes encoded;
  } cases[] = {
      {0, {0}},
      {250, {250}},
      {251, {252, 251, 0}},
      {0xFFFF, {252, 0xFF, 0xFF}},
      {0x10000, {253, 0, 0, 1}},
      {0xFFFFFF, {253, 0xFF, 0xFF, 0xFF}},
      {0x1000000, {254, 0, 0, 0, 1, 0, 0, 0, 0}},
      {0x0102030405060708, {254, 8, 7, 6, 5, 4, 3, 2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Wire w;
    w.net.WriteLengthCodedInt(c.value);
    w.net.Flush();
    EXPECT_EQ(w.vio->Output, Fake::Packet(0, c.encoded));
    EXPECT_EQ(MySqlLengthCodedSize(c.value), static_cast<int>(c.encoded.size()));
    Wire r(Fake::Packet(0, c.encoded));
    r.net.ReadPacket();
    EXPECT_EQ(r.net.ReadLengthCodedInt(), static_cast<int64_t>(c.value));
    EXPECT_EQ(r.net.Remaining(), 0);
  }
  Wire null(Fake::Packet(0, {251}));
  null.net.ReadPacket();
  EXPECT_EQ(null.net.ReadLengthCodedInt(), MYSQL_NULL_LENGTH);
}

TEST(MySqlNetTest, FixedWidthWritersAndReadersAreLittleEndian) {
  Wire w;
  w.net.WriteByte(0x81);
  w.net.WriteBool(true);
  w.net.WriteUInt16(0x0201);
  w.net.WriteUInt24(0x050403);
  w.net.WriteUInt32(0x09080706);
  w.net.WriteInt64(-2);
  w.net.WriteFill(0xAA, 3);
  w.net.WriteString("ab");
  w.net.WriteStringZ("cd");
  w.net.WriteBytes(TBytes{0x10, 0x11});
  w.net.Flush();
  const TBytes payload = {0x81, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                          0xAA, 0xAA, 0xAA, 'a', 'b', 'c', 'd', 0, 0x10, 0x11};
  EXPECT_EQ(w.vio->Output, Fake::Packet(0, payload));

  Wire r(Fake::Packet(0, payload));
  r.net.ReadPacket();
  EXPECT_EQ(r.net.ReadByte(), 0x81);
  EXPECT_EQ(r.net.ReadByte(), 1);
  EXPECT_EQ(r.net.ReadUInt16(), 0x0201);
  EXPECT_EQ(r.net.ReadUInt24(), 0x050403u);
  EXPECT_EQ(r.net.ReadUInt32(), 0x09080706u);
  EXPECT_EQ(r.net.ReadInt64(), -2);
  r.net.SetPosition(r.net.Position() + 3);
  EXPECT_EQ(r.net.ReadStringZ(), "abcd");
  uint8_t two[3] = {0, 0, 0};
  r.net.ReadBytes(two, 1, 2);
  EXPECT_EQ(two[1], 0x10);
  EXPECT_EQ(two[2], 0x11);
  EXPECT_EQ(r.net.Remaining(), 0);
  EXPECT_EQ(r.net.ReadStringZ(), "");  // at the end: empty, no over-read
}

TEST(MySqlNetTest, StringWithoutTerminatorRunsToTheEnd) {
  Wire r(Fake::Packet(0, Text("abc")));
  r.net.ReadPacket();
  EXPECT_EQ(r.net.ReadStringZ(), "abc");
  EXPECT_EQ(r.net.Remaining(), 0);
}

// Each reader on a packet one byte too short (sized exactly, so ASan sees any over-read) raises
// 2027 and leaves the layer broken; no lower-level exception escapes.
TEST(MySqlNetTest, EveryPrimitiveReaderRefusesATruncatedPacket) {
  struct Case {
    const char* name;
    TBytes payload;
    std::function<void(TMySqlNet&)> read;
  } cases[] = {
      {"byte of an empty packet", {}, [](TMySqlNet& n) { n.ReadByte(); }},
      {"uint16", {1}, [](TMySqlNet& n) { n.ReadUInt16(); }},
      {"uint24", {1, 2}, [](TMySqlNet& n) { n.ReadUInt24(); }},
      {"uint32", {1, 2, 3}, [](TMySqlNet& n) { n.ReadUInt32(); }},
      {"int64", {1, 2, 3, 4, 5, 6, 7}, [](TMySqlNet& n) { n.ReadInt64(); }},
      {"length-coded 252", {252, 1}, [](TMySqlNet& n) { n.ReadLengthCodedInt(); }},
      {"length-coded 253", {253, 1, 2}, [](TMySqlNet& n) { n.ReadLengthCodedInt(); }},
      {"length-coded 254", {254, 1, 2, 3, 4, 5, 6, 7}, [](TMySqlNet& n) { n.ReadLengthCodedInt(); }},
      {"length-coded 255",
       {1, 255, 0, 0, 0, 0, 0, 0, 0, 0},
       [](TMySqlNet& n) {
         n.ReadByte();
         n.ReadLengthCodedInt();
       }},
      {"bytes past the end",
       {1, 2, 3, 4},
       [](TMySqlNet& n) {
         uint8_t b[5];
         n.ReadBytes(b, 0, 5);
       }},
      {"negative byte count",
       {1},
       [](TMySqlNet& n) {
         uint8_t b[1];
         n.ReadBytes(b, 0, -1);
       }},
      {"position past the end", {1, 2}, [](TMySqlNet& n) { n.SetPosition(3); }},
      {"negative position", {1, 2}, [](TMySqlNet& n) { n.SetPosition(-1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Wire w(Cat({Fake::Packet(0, c.payload), Fake::Packet(1, {0})}));
    w.net.ReadPacket();
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { c.read(w.net); }, &message), CR_MALFORMED_PACKET);
    EXPECT_EQ(message, "Malformed packet");
    EXPECT_TRUE(w.net.Broken());
    EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacket(); }), CR_SERVER_GONE_ERROR);
  }
}

// ---- writing and chunking ----------------------------------------------------------------------

TEST(MySqlNetTest, SequenceNumbersCountAndWrapAfter255) {
  Wire w;
  for (int i = 0; i < 257; ++i) {
    w.net.WriteByte(static_cast<uint8_t>(i));
    w.net.Flush();
  }
  std::vector<TFrame> frames = Frames(w.vio->Output);
  ASSERT_EQ(frames.size(), 257u);
  EXPECT_EQ(frames[255].seq, 255);
  EXPECT_EQ(frames[256].seq, 0);

  w.net.Flush();  // nothing built: nothing sent
  EXPECT_EQ(w.vio->Output.size(), 257u * 5);
  w.net.Reset();
  w.net.FlushEmpty();
  EXPECT_EQ(TBytes(w.vio->Output.end() - 4, w.vio->Output.end()), (TBytes{0, 0, 0, 0}));
}

TEST(MySqlNetTest, FlushEmptyRefusesAPacketBeingBuilt) {
  Wire w;
  w.net.WriteByte(1);
  EXPECT_THROW(w.net.FlushEmpty(), EAssertionFailed);
}

// Payloads around the chunk size, written in uneven pieces: full chunks go out as they fill, and
// every packet whose last chunk was full ends with a shorter one, empty if need be.
TEST(MySqlNetTest, LongPayloadsAreChunkedAndTerminated) {
  struct Case {
    const char* name;
    size_t size;
    bool flushEmpty;
    std::vector<uint32_t> chunks;
  } cases[] = {
      {"one byte short of a chunk", kChunk - 1, false, {kChunk - 1}},
      {"exactly one chunk, Flush", kChunk, false, {kChunk, 0}},
      {"exactly one chunk, FlushEmpty", kChunk, true, {kChunk, 0}},
      {"chunk plus ten", kChunk + 10, false, {kChunk, 10}},
      {"two chunks, Flush", 2 * size_t(kChunk), false, {kChunk, kChunk, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TBytes data = TestPattern(c.size);
    Wire w;
    w.net.WriteByte(data[0]);
    for (size_t pos = 1; pos < data.size();) {
      size_t piece = std::min<size_t>(data.size() - pos, pos % 3 == 0 ? 1 : 999983);
      w.net.WriteBytes(data.data(), static_cast<int>(pos), static_cast<int>(piece));
      pos += piece;
    }
    if (c.flushEmpty)
      w.net.FlushEmpty();
    else
      w.net.Flush();
    TBytes joined;
    std::vector<TFrame> frames = Frames(w.vio->Output, &joined);
    ASSERT_EQ(frames.size(), c.chunks.size());
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].length, c.chunks[i]) << i;
      EXPECT_EQ(frames[i].seq, i) << i;
    }
    EXPECT_TRUE(joined == data);
  }
}

TEST(MySqlNetTest, AFailedWriteIsALostConnection) {
  Wire w;
  w.vio->WriteLimit = 3;
  w.net.WriteString("select 1");
  std::string message;
  EXPECT_EQ(MySqlErrorOf([&] { w.net.Flush(); }, &message), CR_SERVER_LOST);
  EXPECT_EQ(message, "Lost connection to MySQL server during query\r\npeer closed");
  EXPECT_TRUE(w.net.Broken());
  w.net.Reset();
  w.net.WriteByte(1);
  EXPECT_EQ(MySqlErrorOf([&] { w.net.Flush(); }), CR_SERVER_GONE_ERROR);
}

// ---- reading ------------------------------------------------------------------------------------

TEST(MySqlNetTest, ReadsJoinChunksAndSplitReads) {
  const TBytes data = TestPattern(kChunk + 10);
  TBytes wire = Cat({Fake::Packet(0, TBytes(data.begin(), data.begin() + kChunk)),
                     Fake::Packet(1, TBytes(data.begin() + kChunk, data.end())), Fake::Packet(2, Text("next"))});
  Wire w(std::move(wire), 4093);
  w.net.ReadPacket();
  ASSERT_EQ(w.net.Length(), static_cast<int>(data.size()));
  EXPECT_EQ(0, std::memcmp(w.net.Data(), data.data(), data.size()));
  EXPECT_EQ(w.net.Sequence(), 2);
  w.net.ReadPacket();
  EXPECT_EQ(w.net.ReadStringZ(), "next");
}

TEST(MySqlNetTest, FramingFaultsBreakTheConnection) {
  struct Case {
    const char* name;
    TBytes wire;
    int error;
    const char* message;
  } cases[] = {
      {"wrong sequence", Fake::Packet(3, {0}), ER_NET_PACKETS_OUT_OF_ORDER,
       "\r\nReceiveHeader: Net packets out of order: received[3], expected[0]"},
      {"header cut short", {5, 0}, CR_SERVER_LOST, "Lost connection to MySQL server during query\r\nend of test input"},
      {"payload cut short", {5, 0, 0, 0, 1, 2}, CR_SERVER_LOST, nullptr},
      {"chunk without its continuation", Fake::Packet(0, TBytes(kChunk, 1)), CR_SERVER_LOST, nullptr},
      {"error packet without a number", {2, 0, 0, 0, 0xFF, 0x15}, CR_MALFORMED_PACKET, "Malformed packet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Wire w(c.wire);
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacket(); }, &message), c.error);
    if (c.message) {
      EXPECT_EQ(message, c.message);
    }
    EXPECT_TRUE(w.net.Broken());
    EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacket(); }), CR_SERVER_GONE_ERROR);
  }
}

TEST(MySqlNetTest, ServerErrorPacketsRaiseTheServersErrorAndKeepTheStreamInStep) {
  struct Case {
    const char* name;
    TBytes payload;
    int number;
    const char* message;
  } cases[] = {
      {"4.1 with SQL state", Cat({{0xFF, 0x15, 0x04}, Text("#28000Access denied for user 'x'@'h'")}), 1045,
       "\r\nAccess denied for user 'x'@'h'"},
      {"older server, no SQL state", Cat({{0xFF, 0x15, 0x04}, Text("Access denied")}), 1045, "\r\nAccess denied"},
      {"text with a terminator", Cat({{0xFF, 0x48, 0x04}, Text("No database"), {0, 'x'}}), 1096,
       "\r\nNo database"},
      {"no text", {0xFF, 0x10, 0x27}, 10000, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Wire w(Cat({Fake::Packet(0, c.payload), Fake::Packet(1, c.payload), Fake::Packet(2, c.payload),
                Fake::Packet(3, {0, 1})}));
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacket(); }, &message), c.number);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacketBytes(); }), c.number);
    TBytes first;
    EXPECT_EQ(MySqlErrorOf([&] { w.net.SkipPacket(first, 2, true); }), c.number);
    EXPECT_FALSE(w.net.Broken());
    w.net.ReadPacket();
    EXPECT_EQ(w.net.ReadUInt16(), 0x0100);
  }
}

TEST(MySqlNetTest, PacketsOverTheCapAreRefused) {
  Wire w(Fake::Packet(0, TBytes(200, 1)));
  w.net.SetMaxPacketSize(100);
  EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacket(); }), CR_NET_PACKET_TOO_LARGE);
  EXPECT_TRUE(w.net.Broken());
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

TEST(MySqlNetTest, SkipPacketKeepsTheFirstByteAndTheLastPiece) {
  Wire w(Cat({Fake::Packet(0, Text("abcdefg")), Fake::Packet(1, Text("xyz")), Fake::Packet(2, {})}));
  TBytes first;
  EXPECT_EQ(w.net.SkipPacket(first, 3, true), 7);
  EXPECT_EQ(first, Text("a"));  // last piece "g", byte 0 replaced by the packet's first byte
  EXPECT_EQ(w.net.SkipPacket(first, 2, false), 3);
  EXPECT_EQ(first, (TBytes{0}));  // last piece "z"; the check is off, so byte 0 is 0
  EXPECT_EQ(w.net.SkipPacket(first, 2, true), 0);
  EXPECT_EQ(first, (TBytes{0}));
  EXPECT_THROW(w.net.SkipPacket(first, 0, true), EAssertionFailed);
}

// ---- compression ---------------------------------------------------------------------------------

TEST(MySqlNetTest, CompressedEnvelopeStoresSmallAndIncompressibleData) {
  const TBytes small = TestPattern(50), large = TBytes(51, 'a');
  TBytes env = MySqlCompressEnvelope(9, small.data(), small.size());
  EXPECT_EQ(TBytes(env.begin(), env.begin() + 7), (TBytes{50, 0, 0, 9, 0, 0, 0}));
  EXPECT_EQ(TBytes(env.begin() + 7, env.end()), small);

  env = MySqlCompressEnvelope(1, large.data(), large.size());
  EXPECT_EQ(MySqlGetUInt24(&env[4]), 51u);
  EXPECT_EQ(MySqlGetUInt24(&env[0]), env.size() - 7);
  TBytes back(51);
  EXPECT_TRUE(MySqlInflate(&env[7], env.size() - 7, back.data(), back.size()));
  EXPECT_EQ(back, large);

  TBytes noise(1000);
  uint32_t x = 12345;
  for (auto& b : noise) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 24);
  env = MySqlCompressEnvelope(0, noise.data(), noise.size());
  EXPECT_EQ(MySqlGetUInt24(&env[4]), 0u);
  EXPECT_EQ(env.size(), noise.size() + 7);
}

TEST(MySqlNetTest, CompressedWritesWrapEachPacket) {
  struct Case {
    const char* name;
    size_t payload;  // plain packet = payload + 4
    bool packed;
  } cases[] = {{"40-byte packet stored", 36, false}, {"51-byte packet compressed", 47, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Wire w;
    w.net.SetCompress(true);
    w.net.WriteBytes(TBytes(c.payload, 'q'));
    w.net.Flush();
    const TBytes& out = w.vio->Output;
    ASSERT_GE(out.size(), 7u);
    EXPECT_EQ(out[3], 0);  // compressed sequence
    EXPECT_EQ(MySqlGetUInt24(&out[4]), c.packed ? c.payload + 4 : 0u);
    EXPECT_EQ(w.net.Sequence(), 1);
    EXPECT_EQ(w.net.CompressedSequence(), 1);
  }
}

TEST(MySqlNetTest, CompressedReadsServeAStreamOfPlainPackets) {
  const TBytes a = Fake::Packet(0, Text("first")), b = Fake::Packet(1, TBytes(300, 'b'));
  const TBytes both = Cat({a, b});
  // One compressed packet holding two plain ones, an empty one, then a plain one cut across a
  // stored and a compressed one.
  const TBytes c = Fake::Packet(2, TestPattern(100));
  TBytes wire = Cat({Fake::CompressedPacket(0, both, true), Fake::CompressedPacket(1, {}, false),
                     Fake::CompressedPacket(2, TBytes(c.begin(), c.begin() + 30), false),
                     Fake::CompressedPacket(3, TBytes(c.begin() + 30, c.end()), true)});
  Wire w(std::move(wire), 7);
  w.net.SetCompress(true);
  w.net.ReadPacket();
  EXPECT_EQ(w.net.ReadStringZ(), "first");
  w.net.ReadPacket();
  EXPECT_EQ(w.net.Length(), 300);
  w.net.ReadPacket();
  EXPECT_EQ(TBytes(w.net.Data(), w.net.Data() + w.net.Length()), TestPattern(100));
  EXPECT_EQ(w.net.CompressedSequence(), 4);
}

TEST(MySqlNetTest, CompressedFaultsBreakTheConnection) {
  const TBytes plain = Fake::Packet(0, TBytes(100, 'z'));
  TBytes packed = Fake::CompressedPacket(0, plain, true);
  TBytes corrupt = packed;
  corrupt[9] ^= 0x55;
  TBytes longer = packed, shorter = packed;
  longer[4] += 1;   // announces one byte more than inflates
  shorter[4] -= 1;  // zlib would need more room than announced
  struct Case {
    const char* name;
    TBytes wire;
    int error;
  } cases[] = {
      {"wrong compressed sequence", Fake::CompressedPacket(4, plain, false), ER_NET_PACKETS_OUT_OF_ORDER},
      {"corrupt zlib body", corrupt, ER_NET_UNCOMPRESS_ERROR},
      {"inflates short of the announced length", longer, ER_NET_UNCOMPRESS_ERROR},
      {"inflates past the announced length", shorter, ER_NET_UNCOMPRESS_ERROR},
      {"body cut short", TBytes(packed.begin(), packed.end() - 1), CR_SERVER_LOST},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Wire w(c.wire);
    w.net.SetCompress(true);
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { w.net.ReadPacket(); }, &message), c.error);
    if (c.error == ER_NET_PACKETS_OUT_OF_ORDER) {
      EXPECT_EQ(message, "\r\nReceiveCompHeader: Net packets out of order: received[4], expected[0]");
    }
    EXPECT_TRUE(w.net.Broken());
  }
}

TEST(MySqlNetTest, ANewTransportClosesTheOldOneAndStartsClean) {
  struct TClosingVio : TMemoryVio {
    explicit TClosingVio(bool* closed) : TMemoryVio(Fake::Packet(7, {1})), FClosed(closed) {}
    void Close() override { *FClosed = true; }
    bool* FClosed;
  };
  bool closed = false;
  TMySqlNet net(std::make_unique<TClosingVio>(&closed));
  EXPECT_EQ(MySqlErrorOf([&] { net.ReadPacket(); }), ER_NET_PACKETS_OUT_OF_ORDER);
  ASSERT_TRUE(net.Broken());
  net.SetVio(std::make_unique<TMemoryVio>(Fake::Packet(0, {2})));
  EXPECT_TRUE(closed);
  EXPECT_FALSE(net.Broken());
  net.ReadPacket();
  EXPECT_EQ(net.ReadByte(), 2);
}

}  // namespace
