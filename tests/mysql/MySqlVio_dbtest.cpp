// Against the test server: both transports reach it and the packet layer reads its greeting.
#include <gtest/gtest.h>

#include "mysql/MySqlNet.h"
#include "mysql/MySqlPackets.h"
#include "mysql/MySqlVioPipe.h"
#include "mysql/MySqlVioTcp.h"
#include "support/TestServer.h"

TEST(MySqlTransportDbTest, GreetingOverTcpAndTheUnixSocket) {
  const TestServer::TInfo& info = TestServer::Info();
  for (bool local : {false, true}) {
    SCOPED_TRACE(local ? "Unix socket" : "TCP");
    std::unique_ptr<TMySqlVio> vio = std::make_unique<TMySqlVioTcp>(info.Host, info.Port);
    if (local) vio = std::make_unique<TMySqlVioPipe>("localhost", info.Socket, 0);
    vio->SetTimeout(10);
    vio->Connect();
    TMySqlNet net(std::move(vio));
    net.ReadPacket();
    TMySqlByteReader greeting(net.Packet());
    EXPECT_EQ(greeting.ReadByte(), 10);  // protocol version
    // The server announces its version, possibly behind a "5.5.5-" prefix for old clients.
    const std::string version = greeting.ReadStringZ();
    EXPECT_NE(version.find(info.Version), std::string::npos) << version;
    EXPECT_GT(greeting.ReadUInt32(), 0u);  // connection id
    EXPECT_GT(greeting.Remaining(), 8u);
    EXPECT_EQ(net.Sequence(), 1);
  }
}
