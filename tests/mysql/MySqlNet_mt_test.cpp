// The packet layer over real sockets: round trips of long payloads over a socket pair, fault
// scripts of the fake server, connect failures and time-outs over TCP and the Unix socket.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <thread>
#include <tuple>

#include "mysql/MySqlNet.h"
#include "mysql/MySqlVioPipe.h"
#include "mysql/MySqlVioTcp.h"
#include "support/FakeMySqlServer.h"
#include "support/NetTestUtil.h"

namespace {

using Fake = TFakeMySqlServer;
using Clock = std::chrono::steady_clock;
constexpr size_t kChunk = MYSQL_MAX_CHUNK;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The TCP transport's reads and writes over one end of a socket pair.
class TAdoptedSocketVio : public TMySqlVioTcp {
 public:
  explicit TAdoptedSocketVio(int fd) : TMySqlVioTcp("socketpair", 0) {
    TMySqlVio::Connect();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    FSocket = fd;
    FTimeout = 20;
  }
};

// A TCP socket bound to a free loopback port, and its address.
sockaddr_in BoundLoopbackSocket(int& fd) {
  fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  EXPECT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len), 0);
  return a;
}

std::unique_ptr<TMySqlNet> ConnectTo(const Fake& server, int timeout = 5) {
  auto vio = std::make_unique<TMySqlVioTcp>("127.0.0.1", server.Port());
  vio->SetTimeout(timeout);
  vio->Connect();
  return std::make_unique<TMySqlNet>(std::move(vio));
}

// Each payload goes from one packet layer to another through real sockets, written in uneven
// pieces, while the reader checks every sequence number: it arrives byte for byte, full chunks go
// out as they fill, and a packet whose last chunk was full is terminated (else the reader would
// wait out its time-out). Noise that zlib cannot shrink goes stored: a full chunk packed would
// overflow the 3-byte length.
TEST(MySqlNetSocketTest, LongPayloadsRoundTripPlainAndCompressed) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  TMySqlNet writer(std::make_unique<TAdoptedSocketVio>(fds[0]));
  TMySqlNet reader(std::make_unique<TAdoptedSocketVio>(fds[1]));
  const std::tuple<size_t, bool, uint8_t> sizes[] = {// size, noise, plain packets on the wire
                                                     {0, false, 1},
                                                     {kChunk, false, 2},
                                                     {kChunk + 10, false, 2},
                                                     {2 * kChunk, false, 3},
                                                     {kChunk + 10, true, 2}};
  for (bool compress : {false, true}) {
    for (const auto& [size, noise, frames] : sizes) {
      SCOPED_TRACE(std::to_string(size) + (noise ? " of noise" : "") + (compress ? ", compressed" : ""));
      const TBytes data = TestPattern(size, noise);
      writer.SetCompress(compress);
      reader.SetCompress(compress);
      writer.Reset();
      reader.Reset();
      auto sent = std::async(std::launch::async, [&] {
        if (data.empty()) writer.FlushEmpty();
        for (size_t pos = 0; pos < data.size();) {
          const size_t piece = std::min<size_t>(data.size() - pos, pos % 3 == 0 ? 1 : 999983);
          writer.WriteBytes(std::span(data).subspan(pos, piece));
          pos += piece;
        }
        if (!data.empty()) writer.Flush();
      });
      EXPECT_EQ(MySqlErrorOf([&] { reader.ReadPacket(); }), 0);
      sent.get();  // rethrows what the writer raised
      ASSERT_EQ(reader.Length(), static_cast<int>(data.size()));
      EXPECT_TRUE(data.empty() || std::memcmp(reader.Data(), data.data(), data.size()) == 0);
      EXPECT_EQ(reader.Sequence(), frames);
      EXPECT_EQ(writer.Sequence(), frames);
      // Compressed packets carry at most 0xFFFFFF plain bytes; both ends count them alike.
      if (compress) {
        EXPECT_EQ(reader.CompressedSequence(), writer.CompressedSequence());
        EXPECT_EQ(writer.CompressedSequence(), (size + 4 * frames + kChunk - 1) / kChunk);
      }
    }
  }
}

// ---- fault scripts ------------------------------------------------------------------------------

TEST(MySqlNetSocketTest, FakeServerFaultsGiveTheRightClientError) {
  const TBytes greeting = Fake::Packet(0, TestPattern(80)),
               packed = Fake::CompressedPacket(0, greeting, true);
  TBytes badZlib = packed;
  badZlib[10] ^= 0xA5;
  using M = Fake::TFailMode;
  struct Case {
    const char* name;
    TBytes sent;
    std::optional<M> cut;  // Close: once `sent` is out; CloseMidStep: halfway through it
    bool compress;
    int error;
  } cases[] = {
      {"truncated packet", {10, 0, 0, 0, 1, 2, 3, 4, 5}, M::Close, false, CR_SERVER_LOST},
      {"close mid-packet", greeting, M::CloseMidStep, false, CR_SERVER_LOST},
      {"wrong sequence number", Fake::Packet(1, {10}), {}, false, ER_NET_PACKETS_OUT_OF_ORDER},
      {"wrong compressed sequence number",
       Fake::CompressedPacket(1, greeting, true),
       {},
       true,
       ER_NET_PACKETS_OUT_OF_ORDER},
      {"corrupt zlib body", badZlib, {}, true, ER_NET_UNCOMPRESS_ERROR},
      {"compressed packet cut short", packed, M::CloseMidStep, true, CR_SERVER_LOST},
      {"one byte per write", greeting, {}, false, 0},
      {"one byte per write, compressed", packed, {}, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fake server;
    if (c.error == 0) server.SetWriteChunk(1);
    server.Send(c.sent).ExpectClose();
    if (c.cut) server.FailAtStep(*c.cut == M::Close ? 1 : 0, *c.cut);
    server.Start();
    auto net = ConnectTo(server);
    net->SetCompress(c.compress);
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { net->ReadPacket(); }, &message), c.error);
    EXPECT_EQ(net->Broken(), c.error != 0);
    if (c.error == ER_NET_PACKETS_OUT_OF_ORDER) {
      EXPECT_NE(message.find("Net packets out of order: received[1], expected[0]"), std::string::npos)
          << message;
    }
    if (c.error == 0) {
      EXPECT_EQ(net->Length(), 80);
    }
    net.reset();  // closes: the script's ExpectClose ends
    EXPECT_EQ(server.Finish(), "");
  }
}

// A short exchange with the connection cut at every step in turn, in each way: the client
// either completes or reports a lost connection, never anything else, never a hang.
TEST(MySqlNetSocketTest, AFailureAtEachStepIsALostConnection) {
  const TBytes greeting = Fake::Packet(0, TestPattern(60)), ok = {0, 0, 0, 2, 0, 0, 0};
  auto script = [&](Fake& s) {
    s.Send(greeting).ReadPacket(1).SendPacket(2, ok).ExpectPacket(0, {1}).ExpectClose();
  };
  Fake probe;
  script(probe);
  const int steps = probe.StepCount();
  for (auto mode : {Fake::TFailMode::Close, Fake::TFailMode::CloseMidStep, Fake::TFailMode::Reset}) {
    for (int step = 0; step < steps; ++step) {
      SCOPED_TRACE("mode " + std::to_string(int(mode)) + ", step " + std::to_string(step));
      Fake server;
      script(server);
      server.FailAtStep(step, mode);
      server.Start();
      std::unique_ptr<TMySqlNet> net;
      try {
        net = ConnectTo(server);
      } catch (const SocketException& e) {
        // A reset that overtakes the end of a slow connect is a failed connect.
        EXPECT_EQ(mode, Fake::TFailMode::Reset);
        EXPECT_EQ(e.ErrorCode, CR_CONN_HOST_ERROR);
        EXPECT_EQ(server.Finish(), "");
        continue;
      }
      int error = MySqlErrorOf([&] {
        net->ReadPacket();
        net->WriteBytes(std::span(reinterpret_cast<const uint8_t*>("login"), 6));
        net->Flush();
        net->ReadPacket();
        net->Reset();
        net->WriteByte(1);
        net->Flush();
      });
      if (step <= 2)
        EXPECT_EQ(error, CR_SERVER_LOST);
      else
        EXPECT_TRUE(error == 0 || error == CR_SERVER_LOST) << error;
      net.reset();
      EXPECT_EQ(server.Finish(), "");
    }
  }
}

// ---- connect failures and time-outs -----------------------------------------------------------

// A closed port fails at once; a listener whose accept queue is full drops further connection
// requests unanswered, a peer that never replies to connect without leaving the machine.
TEST(MySqlNetSocketTest, ConnectFailuresAre2003WithinTheTimeOut) {
  int closed = -1, full = -1;
  const sockaddr_in closedAddress = BoundLoopbackSocket(closed), fullAddress = BoundLoopbackSocket(full);
  ::close(closed);
  ASSERT_EQ(::listen(full, 0), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    ::connect(fillers.back(), reinterpret_cast<const sockaddr*>(&fullAddress), sizeof fullAddress);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::tuple<const char*, sockaddr_in, int, double, double, const char*> cases[] = {
      {"closed port", closedAddress, 10, 0.0, 1.0, "Socket error on connect: Connection refused (errno 111)"},
      {"no answer", fullAddress, 1, 0.9, 2.5, "Socket error on connect: Connection timed out (errno 110)"},
  };
  for (const auto& [name, address, timeout, atLeast, below, text] : cases) {
    SCOPED_TRACE(name);
    TMySqlVioTcp vio("127.0.0.1", ntohs(address.sin_port));
    vio.SetTimeout(timeout);
    const auto start = Clock::now();
    try {
      vio.Connect();
      ADD_FAILURE() << "connected";
    } catch (const SocketException& e) {
      EXPECT_EQ(e.ErrorCode, CR_CONN_HOST_ERROR);
    }
    EXPECT_GE(SecondsSince(start), atLeast);
    EXPECT_LT(SecondsSince(start), below);
    EXPECT_EQ(vio.ErrorText(), text);
    EXPECT_EQ(vio.Socket(), -1);
  }
  for (int fd : fillers) ::close(fd);
  ::close(full);

  TMySqlVioTcp unknown("no-such-host.invalid", 3306);
  try {
    unknown.Connect();
    ADD_FAILURE() << "connected";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.ErrorCode, CR_UNKNOWN_HOST);
  }
  EXPECT_NE(unknown.ErrorText().find("no-such-host.invalid"), std::string::npos);
}

TEST(MySqlNetSocketTest, ASilentPeerTimesOutWith2013) {
  for (bool local : {false, true}) {
    SCOPED_TRACE(local ? "Unix socket" : "TCP");
    const std::string path = "/tmp/da-silent-" + std::to_string(::getpid()) + ".sock";
    std::unique_ptr<Fake> server = local ? std::make_unique<Fake>(path) : std::make_unique<Fake>();
    server->SendPacket(0, {10});
    server->FailAtStep(0, Fake::TFailMode::Stall);
    server->Start();
    std::unique_ptr<TMySqlVio> vio = std::make_unique<TMySqlVioTcp>("127.0.0.1", server->Port());
    if (local) vio = std::make_unique<TMySqlVioPipe>("localhost", path, 0);
    vio->SetTimeout(1);
    vio->Connect();
    TMySqlNet net(std::move(vio));
    const auto start = Clock::now();
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { net.ReadPacket(); }, &message), CR_SERVER_LOST);
    EXPECT_GE(SecondsSince(start), 0.9);
    EXPECT_LT(SecondsSince(start), 3.0);
    if (!local) {
      EXPECT_EQ(message,
                "Lost connection to MySQL server during query\r\nSocket error on read: Connection timed out "
                "(errno 110)");
    }
    EXPECT_EQ(server->Finish(), "");
  }
}

TEST(MySqlNetSocketTest, WritingToAClosedPeerIsALostConnectionNotASignal) {
  Fake server;
  server.Close();
  server.Start();
  auto net = ConnectTo(server);
  EXPECT_EQ(server.Finish(), "");  // the server has closed its end
  const TBytes big = TestPattern(4 << 20);
  EXPECT_EQ(MySqlErrorOf([&] {
              for (int i = 0; i < 4; ++i) {
                net->WriteBytes(big);
                net->Flush();
              }
            }),
            CR_SERVER_LOST);
}

}  // namespace
