// Against the test server: both transports reach it and the packet layer reads its greeting.
#include <gtest/gtest.h>

#include "mysql/MySqlNet.h"
#include "mysql/MySqlVioPipe.h"
#include "mysql/MySqlVioTcp.h"
#include "support/TestServer.h"

namespace {

void ExpectGreeting(std::unique_ptr<TMySqlVio> vio) {
  vio->SetTimeout(10);
  vio->Connect();
  TMySqlNet net(std::move(vio));
  net.ReadPacket();
  EXPECT_EQ(net.ReadByte(), 10);  // protocol version
  const std::string version = net.ReadStringZ();
  // The server announces its version, possibly behind a "5.5.5-" prefix for old clients.
  EXPECT_NE(version.find(TestServer::Info().Version), std::string::npos) << version;
  EXPECT_GT(net.ReadUInt32(), 0u);  // connection id
  EXPECT_GT(net.Remaining(), 8);
  EXPECT_EQ(net.Sequence(), 1);
}

TEST(MySqlTransportDbTest, GreetingOverTcp) {
  const TestServer::TInfo& info = TestServer::Info();
  ExpectGreeting(std::make_unique<TMySqlVioTcp>(info.Host, info.Port));
}

TEST(MySqlTransportDbTest, GreetingOverTheUnixSocket) {
  const TestServer::TInfo& info = TestServer::Info();
  ExpectGreeting(std::make_unique<TMySqlVioPipe>("localhost", info.Socket, 0));
}

}  // namespace
