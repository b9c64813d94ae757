// The packet layer over real sockets: round trips of long payloads over a socket pair, fault
// scripts of the fake server, connect failures and time-outs, the Unix-socket transport.
#include "mysql/MySqlNet.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <functional>
#include <thread>

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

// ---- round trips over a socket pair -------------------------------------------------------------

// Each payload goes from one packet layer to another through real sockets, while the reader
// checks every sequence number: it arrives byte for byte, and a packet whose last chunk was full
// is terminated (else the reader would wait out its time-out).
TEST(MySqlNetSocketTest, LongPayloadsRoundTripPlainAndCompressed) {
  struct Case {
    const char* name;
    size_t size;
    bool compress;
    bool noise;
    uint8_t frames;  // plain packets on the wire
  } cases[] = {
      {"empty", 0, false, false, 1},
      {"one full chunk", kChunk, false, false, 2},
      {"chunk plus ten", kChunk + 10, false, false, 2},
      {"two full chunks", 2 * kChunk, false, false, 3},
      {"empty, compressed", 0, true, false, 1},
      {"one full chunk, compressed", kChunk, true, false, 2},
      {"chunk plus ten, compressed", kChunk + 10, true, false, 2},
      {"two full chunks, compressed", 2 * kChunk, true, false, 3},
      {"chunk plus ten of noise, compressed", kChunk + 10, true, true, 2},
  };
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  TMySqlNet writer(std::make_unique<TAdoptedSocketVio>(fds[0]));
  TMySqlNet reader(std::make_unique<TAdoptedSocketVio>(fds[1]));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TBytes data = TestPattern(c.size, c.noise);
    writer.SetCompress(c.compress);
    reader.SetCompress(c.compress);
    writer.Reset();
    reader.Reset();
    std::exception_ptr failure;
    std::thread send([&] {
      try {
        if (data.empty()) {
          writer.FlushEmpty();
        } else {
          writer.WriteBytes(data);
          writer.Flush();
        }
      } catch (...) {
        failure = std::current_exception();
      }
    });
    EXPECT_EQ(MySqlErrorOf([&] { reader.ReadPacket(); }), 0);
    send.join();
    if (failure) std::rethrow_exception(failure);
    ASSERT_EQ(reader.Length(), static_cast<int>(data.size()));
    EXPECT_TRUE(data.empty() || std::memcmp(reader.Data(), data.data(), data.size()) == 0);
    EXPECT_EQ(reader.Sequence(), c.frames);
    EXPECT_EQ(writer.Sequence(), c.frames);
    // Compressed packets carry at most 0xFFFFFF plain bytes; both ends count them alike.
    if (c.compress) {
      EXPECT_EQ(reader.CompressedSequence(), writer.CompressedSequence());
      EXPECT_EQ(writer.CompressedSequence(), (c.size + 4 * c.frames + kChunk - 1) / kChunk);
    }
  }
}

// ---- fault scripts ------------------------------------------------------------------------------

TEST(MySqlNetSocketTest, FakeServerFaultsGiveTheRightClientError) {
  const TBytes greeting = Fake::Packet(0, TestPattern(80));
  TBytes badZlib = Fake::CompressedPacket(0, greeting, true);
  badZlib[10] ^= 0xA5;
  struct Case {
    const char* name;
    std::function<void(Fake&)> script;
    bool compress;
    int error;
  } cases[] = {
      {"truncated packet", [&](Fake& s) { s.Send({10, 0, 0, 0, 1, 2, 3, 4, 5}).Close(); }, false, CR_SERVER_LOST},
      {"close mid-packet",
       [&](Fake& s) {
         s.Send(greeting).ExpectClose();
         s.FailAtStep(0, Fake::TFailMode::CloseMidStep);
       },
       false, CR_SERVER_LOST},
      {"reset before the reply",
       [&](Fake& s) {
         s.Pause(100).Send(greeting).ExpectClose();  // the pause lets the connect complete first
         s.FailAtStep(1, Fake::TFailMode::Reset);
       },
       false, CR_SERVER_LOST},
      {"wrong sequence number", [&](Fake& s) { s.SendPacket(1, {10}).ExpectClose(); }, false,
       ER_NET_PACKETS_OUT_OF_ORDER},
      {"wrong compressed sequence number",
       [&](Fake& s) { s.Send(Fake::CompressedPacket(1, greeting, true)).ExpectClose(); }, true,
       ER_NET_PACKETS_OUT_OF_ORDER},
      {"corrupt zlib body", [&](Fake& s) { s.Send(badZlib).ExpectClose(); }, true, ER_NET_UNCOMPRESS_ERROR},
      {"compressed packet cut short",
       [&](Fake& s) {
         s.Send(Fake::CompressedPacket(0, greeting, true)).ExpectClose();
         s.FailAtStep(0, Fake::TFailMode::CloseMidStep);
       },
       true, CR_SERVER_LOST},
      {"one byte per write", [&](Fake& s) { s.SetWriteChunk(1), s.Send(greeting).ExpectClose(); }, false, 0},
      {"one byte per write, compressed",
       [&](Fake& s) { s.SetWriteChunk(1), s.Send(Fake::CompressedPacket(0, greeting, true)).ExpectClose(); }, true,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fake server;
    c.script(server);
    server.Start();
    auto net = ConnectTo(server);
    net->SetCompress(c.compress);
    EXPECT_EQ(MySqlErrorOf([&] { net->ReadPacket(); }), c.error);
    EXPECT_EQ(net->Broken(), c.error != 0);
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
        net->WriteStringZ("login");
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

TEST(MySqlNetSocketTest, AClosedPortFailsWithin2003AtOnce) {
  int fd = -1;
  sockaddr_in a = BoundLoopbackSocket(fd);
  ::close(fd);  // nothing listens there now

  TMySqlVioTcp vio("127.0.0.1", ntohs(a.sin_port));
  vio.SetTimeout(10);
  const auto start = Clock::now();
  try {
    vio.Connect();
    ADD_FAILURE() << "connected to a closed port";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.ErrorCode, CR_CONN_HOST_ERROR);
  }
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_EQ(vio.ErrorText(), "Socket error on connect. WSAGetLastError return 111($6F)");
  EXPECT_EQ(vio.Socket(), -1);
}

// A listener whose accept queue is full drops further connection requests unanswered: a
// peer that never replies to connect, without leaving the machine.
TEST(MySqlNetSocketTest, AHostThatNeverAnswersGivesUpAtTheTimeOut) {
  int listener = -1;
  sockaddr_in a = BoundLoopbackSocket(listener);
  ASSERT_EQ(::listen(listener, 0), 0);
  std::vector<int> fillers;
  for (int i = 0; i < 3; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fillers.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));

  TMySqlVioTcp vio("127.0.0.1", ntohs(a.sin_port));
  vio.SetTimeout(1);
  const auto start = Clock::now();
  try {
    vio.Connect();
    ADD_FAILURE() << "connected";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.ErrorCode, CR_CONN_HOST_ERROR);
  }
  const double waited = SecondsSince(start);
  EXPECT_GE(waited, 0.9);
  EXPECT_LT(waited, 2.5);
  EXPECT_EQ(vio.ErrorText(), "Socket error on connect. WSAGetLastError return 110($6E)");
  for (int fd : fillers) ::close(fd);
  ::close(listener);
}

TEST(MySqlNetSocketTest, AnUnknownHostIs2005) {
  TMySqlVioTcp vio("no-such-host.invalid", 3306);
  try {
    vio.Connect();
    ADD_FAILURE() << "connected";
  } catch (const SocketException& e) {
    EXPECT_EQ(e.ErrorCode, CR_UNKNOWN_HOST);
  }
  EXPECT_NE(vio.ErrorText().find("no-such-host.invalid"), std::string::npos);
}

TEST(MySqlNetSocketTest, ASilentPeerTimesOutWith2013) {
  for (bool local : {false, true}) {
    SCOPED_TRACE(local ? "Unix socket" : "TCP");
    const std::string path = "/tmp/da-silent-" + std::to_string(::getpid()) + ".sock";
    std::unique_ptr<Fake> server = local ? std::make_unique<Fake>(path) : std::make_unique<Fake>();
    server->SendPacket(0, {10});
    server->FailAtStep(0, Fake::TFailMode::Stall);
    server->Start();
    std::unique_ptr<TMySqlVio> vio;
    if (local)
      vio = std::make_unique<TMySqlVioPipe>("localhost", path, 0);
    else
      vio = std::make_unique<TMySqlVioTcp>("127.0.0.1", server->Port());
    vio->SetTimeout(1);
    vio->Connect();
    TMySqlNet net(std::move(vio));
    const auto start = Clock::now();
    std::string message;
    EXPECT_EQ(MySqlErrorOf([&] { net.ReadPacket(); }, &message), CR_SERVER_LOST);
    const double waited = SecondsSince(start);
    EXPECT_GE(waited, 0.9);
    EXPECT_LT(waited, 3.0);
    if (!local) {
      EXPECT_EQ(message,
                "Lost connection to MySQL server during query\r\nSocket error on read. WSAGetLastError return 110($6E)");
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

// ---- the Unix-socket transport -------------------------------------------------------------------

TEST(MySqlNetSocketTest, UnixSocketTransportCarriesPackets) {
  const std::string path = "/tmp/da-pipe-" + std::to_string(::getpid()) + ".sock";
  Fake server(path);
  server.SendPacket(0, {10, '5', '.', '7', 0}).ExpectPacket(1, {'h', 'i'}).ExpectClose();
  server.Start();
  TMySqlNet net(std::make_unique<TMySqlVioPipe>("", path, 3306));
  net.Vio()->Connect();
  net.ReadPacket();
  EXPECT_EQ(net.ReadByte(), 10);
  EXPECT_EQ(net.ReadStringZ(), "5.7");
  net.WriteString("hi");
  net.Flush();
  net.Vio()->Close();
  EXPECT_EQ(server.Finish(), "");
}

}  // namespace
