// The transport base (read-ahead, write retries), the user IO handler, and the protocol's small
// shared records.
#include "mysql/MySqlVio.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "mysql/MySqlNet.h"
#include "mysql/MySqlTypes.h"
#include "mysql/MySqlVioPipe.h"
#include "support/FakeMySqlServer.h"
#include "support/MemoryVio.h"

namespace {

TBytes Numbers(size_t n) {
  TBytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i);
  return b;
}

// A transport whose writes move `step` bytes, or nothing for the calls listed in `zeros`.
struct TStepVio : TMemoryVio {
  TStepVio(int step, std::vector<int> zeros) : FStep(step), FZeros(std::move(zeros)) {}
  int Write(const uint8_t* buffer, int offset, int count) override {
    ++Calls;
    for (int z : FZeros)
      if (z == Calls) return 0;
    return TMemoryVio::Write(buffer, offset, std::min(count, FStep));
  }
  int Calls = 0;
  int FStep;
  std::vector<int> FZeros;
};

TEST(MySqlVioTest, SmallRequestsGoThroughTheReadAhead) {
  TMemoryVio vio(Numbers(150));
  uint8_t buffer[100];
  EXPECT_EQ(vio.ReadAll(buffer, 0, 100), 100);
  EXPECT_EQ(vio.ReadCalls, 1);  // one read of up to 16384 bytes served it
  EXPECT_EQ(buffer[99], 99);
  EXPECT_EQ(vio.ReadAll(buffer, 10, 50), 50);  // the 50 bytes left over, no further read
  EXPECT_EQ(vio.ReadCalls, 1);
  EXPECT_EQ(buffer[10], 100);
  EXPECT_EQ(buffer[59], 149);
}

TEST(MySqlVioTest, APeerThatDeliversLittleAtATimeStillFillsTheRequest) {
  TMemoryVio vio(Numbers(100), 10);
  uint8_t buffer[100];
  EXPECT_EQ(vio.ReadAll(buffer, 0, 100), 100);
  EXPECT_EQ(vio.ReadCalls, 10);  // one into the read-ahead, nine straight into the buffer
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[99], 99);

  TMemoryVio big(Numbers(5000), 1000);
  TBytes large(5000);
  EXPECT_EQ(big.ReadAll(large.data(), 0, 5000), 5000);  // over the threshold: direct reads
  EXPECT_EQ(large, Numbers(5000));
}

TEST(MySqlVioTest, AClosedPeerGivesAShortCount) {
  TMemoryVio vio(Numbers(30), 10);
  uint8_t buffer[100];
  EXPECT_EQ(vio.ReadAll(buffer, 0, 100), 30);
  EXPECT_EQ(vio.ReadAll(buffer, 0, 0), 0);
}

TEST(MySqlVioTest, WriteAllRetriesZeroWritesTwice) {
  struct Case {
    const char* name;
    std::vector<int> zeros;
    int written;
  } cases[] = {
      {"no zeros", {}, 10},
      {"two zeros in a row are retried", {2, 3}, 10},
      {"zeros apart are retried", {1, 3, 5}, 10},
      {"three zeros in a row give up", {2, 3, 4}, 3},
  };
  const TBytes data = Numbers(10);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TStepVio vio(3, c.zeros);
    EXPECT_EQ(vio.WriteAll(data.data(), 0, 10), c.written);
    EXPECT_EQ(vio.Output, TBytes(data.begin(), data.begin() + c.written));
  }
  TStepVio vio(3, {});
  EXPECT_EQ(vio.WriteAll(data.data(), 0, 0), 0);
}

// ---- the user IO handler ---------------------------------------------------------------------

class TScriptHandler : public TMyIOHandler {
 public:
  THandle Connect(const std::string& host, int port) override {
    Host = host;
    Port = port;
    return this;
  }
  void Disconnect(THandle) override { ++Disconnects; }
  int Read(THandle, uint8_t* buffer, int offset, int count) override {
    int n = std::min({count, 4, static_cast<int>(Input.size() - Pos)});
    std::memcpy(buffer + offset, Input.data() + Pos, static_cast<size_t>(n));
    Pos += static_cast<size_t>(n);
    return n;
  }
  int Write(THandle, const uint8_t* buffer, int offset, int count) override {
    int n = std::min(count, 3);
    Output.insert(Output.end(), buffer + offset, buffer + offset + n);
    return n;
  }
  int GetTimeout(THandle) override { return Timeout; }
  void SetTimeout(THandle, int seconds) override { Timeout = seconds; }

  std::string Host;
  int Port = 0;
  int Disconnects = 0;
  int Timeout = -1;
  TBytes Input, Output;
  size_t Pos = 0;
};

TEST(MySqlVioHandlerTest, ForwardsToTheHandlerAndLoopsOverPartialTransfers) {
  TScriptHandler handler;
  const std::string greeting = "greeting";
  handler.Input = TFakeMySqlServer::Packet(0, TBytes(greeting.begin(), greeting.end()));
  TMySqlNet net(std::make_unique<TMySqlVioHandler>("db", 3307, &handler));
  net.Vio()->SetTimeout(7);  // kept until a handle exists
  EXPECT_EQ(net.Vio()->GetTimeout(), 7);
  net.Vio()->Connect();
  EXPECT_EQ(handler.Host, "db");
  EXPECT_EQ(handler.Port, 3307);
  net.Vio()->SetTimeout(9);
  EXPECT_EQ(handler.Timeout, 9);
  EXPECT_THROW(net.Vio()->Connect(), EAssertionFailed);

  net.ReadPacket();
  EXPECT_EQ(net.ReadStringZ(), "greeting");
  net.WriteString("hello");
  net.Flush();
  EXPECT_EQ(handler.Output, (TBytes{5, 0, 0, 1, 'h', 'e', 'l', 'l', 'o'}));

  net.Vio()->Close();
  net.Vio()->Close();
  EXPECT_EQ(handler.Disconnects, 1);
  uint8_t b[4];
  EXPECT_EQ(net.Vio()->ReadAll(b, 0, 4), 0);
}

TEST(MySqlVioHandlerTest, MissingOverridesAreAssertions) {
  struct TBare : TMyIOHandler {
    THandle Connect(const std::string&, int) override { return this; }
  } bare;
  uint8_t b[1];
  try {
    bare.Read(&bare, b, 0, 1);
    ADD_FAILURE() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("Not overriden in an inherited class"), std::string::npos);
  }
  EXPECT_THROW(bare.Write(&bare, b, 0, 1), EAssertionFailed);
  EXPECT_THROW(bare.GetTimeout(&bare), EAssertionFailed);
  TMySqlVioHandler vio("h", 1, &bare);
  try {
    vio.Read(b, 0, 1);
    ADD_FAILURE() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(std::string(e.what()).find("Not implemented"), std::string::npos);
  }
}

// ---- the Unix-socket path --------------------------------------------------------------------

TEST(MySqlVioPipeTest, SocketPathFromTheNameTheEnvironmentOrTheDefault) {
  const char* saved = std::getenv("MYSQL_UNIX_PORT");
  std::string keep = saved ? saved : "";
  ::unsetenv("MYSQL_UNIX_PORT");
  EXPECT_EQ(TMySqlVioPipe::SocketPath("MySQL"), "/run/mysqld/mysqld.sock");
  EXPECT_EQ(TMySqlVioPipe::SocketPath(""), "/run/mysqld/mysqld.sock");
  ::setenv("MYSQL_UNIX_PORT", "/tmp/env.sock", 1);
  EXPECT_EQ(TMySqlVioPipe::SocketPath("MySQL"), "/tmp/env.sock");
  EXPECT_EQ(TMySqlVioPipe::SocketPath("/var/x/my.sock"), "/var/x/my.sock");
  ::setenv("MYSQL_UNIX_PORT", "", 1);
  EXPECT_EQ(TMySqlVioPipe::SocketPath("MySQL"), "/run/mysqld/mysqld.sock");
  if (saved)
    ::setenv("MYSQL_UNIX_PORT", keep.c_str(), 1);
  else
    ::unsetenv("MYSQL_UNIX_PORT");
}

TEST(MySqlVioPipeTest, AMissingSocketIs2017WithTheSystemsReason) {
  struct Case {
    const char* host;
    std::string path;
    const char* message;
  } cases[] = {
      {"LocalHost", "/nonexistent/da.sock",
       "Can't open named pipe to host: .  pipe: /nonexistent/da.sock (No such file or directory)"},
      {"", "/" + std::string(200, 'x'),
       nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.substr(0, 30));
    TMySqlVioPipe pipe(c.host, c.path, 0);
    try {
      pipe.Connect();
      ADD_FAILURE() << "connected";
    } catch (const EMySqlException& e) {
      EXPECT_EQ(e.ErrorCode, CR_NAMEDPIPEOPEN_ERROR);
      if (c.message) {
        EXPECT_EQ(e.Message(), c.message);
      }
    }
    EXPECT_EQ(pipe.Socket(), -1);
  }
}

// ---- shared records ------------------------------------------------------------------------

TEST(MySqlTypesTest, ParseMySQLVersion) {
  struct Case {
    const char* text;
    int major, minor, release;
  } cases[] = {
      {"4.1.3-beta-nt", 4, 1, 3},
      {"10.11.19-MariaDB-0+deb12u1", 10, 11, 19},
      {"5.0", 5, 0, 0},
      {"8", 8, 0, 0},
      {"", 0, 0, 0},
      {"x.y.z", 0, 0, 0},
      {"99999999999999.2.3", 999999999, 2, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int major = -1, minor = -1, release = -1;
    ParseMySQLVersion(c.text, major, minor, release);
    EXPECT_EQ(major, c.major);
    EXPECT_EQ(minor, c.minor);
    EXPECT_EQ(release, c.release);
  }
}

TEST(MySqlTypesTest, FieldInfoMarksNumericTypes) {
  struct Case {
    uint8_t type;
    uint32_t length;
    bool numeric;
  } cases[] = {
      {0, 10, true},  {3, 11, true},  {9, 8, true},    {7, 19, false}, {7, 14, true},
      {7, 8, true},   {13, 4, true},  {10, 10, false}, {253, 20, false}, {246, 10, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.type));
    TMySqlFieldInfo f;
    f.Init("n", "on", "t", "ot", "db", "def", c.length, 0, 1, 0, 8, c.type);
    EXPECT_EQ((f.Flags & NUM_FLAG) != 0, c.numeric);
    EXPECT_EQ(f.Flags & 1, 1u);
  }
}

TEST(MySqlTypesTest, TimeFromDateTimeAndBinds) {
  TMySqlTime t = TMySqlTime::FromDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 58, 123));
  EXPECT_EQ(t.Year, 2024u);
  EXPECT_EQ(t.Month, 2u);
  EXPECT_EQ(t.Day, 29u);
  EXPECT_EQ(t.Hour, 23u);
  EXPECT_EQ(t.Second, 58u);
  EXPECT_EQ(t.SecondPart, 123000u);
  EXPECT_EQ(t.TimeType, 1);
  EXPECT_THROW(TMySqlTime::FromDateTime(1e300), EConvertError);

  TMySqlBinds binds(3);
  EXPECT_EQ(binds.Count(), 3);
  binds[2].Type = 253;
  EXPECT_EQ(binds.Binds[2].Type, 253);
  EXPECT_THROW(binds[3], EAssertionFailed);
}

}  // namespace
