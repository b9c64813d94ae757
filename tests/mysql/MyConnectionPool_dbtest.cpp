// Pooled MySQL connections against the test server.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ApiTestSupport.h"
#include "mysql/MyConnectionPool.h"

namespace {

using api_test::Exec;
using api_test::Scalar;
using api_test::TConn;

void SetTestServer(TMyConnectionParameters& p) {
  const TestServer::TInfo& srv = TestServer::Info();
  p.Server = srv.Host;
  p.Port = srv.Port;
  p.Username = srv.NativeUser;
  p.Password = srv.NativePassword;
  p.Charset = "gbk";
  p.Validate = true;
}

std::string ThreadId(TMySQLConnection& connection) {
  return Scalar(connection.GetMySQL(), "SELECT CONNECTION_ID()");
}

TEST(MyConnectionPoolDbTest, AReturnedConnectionIsReusedWhileItPassesValidation) {
  TMyConnectionParameters p;
  SetTestServer(p);
  auto connection = TMyConnectionPoolManager::GetPooledConnection(p);
  EXPECT_EQ(Scalar(connection->GetMySQL(), "SELECT @@character_set_client"), "gbk");
  const std::string id = ThreadId(*connection);
  TCRConnection::ReturnToPool(std::move(connection));

  connection = TMyConnectionPoolManager::GetPooledConnection(p);
  EXPECT_EQ(ThreadId(*connection), id) << "the same session";
  TCRConnection::ReturnToPool(std::move(connection));

  {
    TConn admin;
    Exec(admin, "KILL " + id);
  }
  connection = TMyConnectionPoolManager::GetPooledConnection(p);
  const std::string fresh = ThreadId(*connection);
  EXPECT_NE(fresh, id) << "the killed session failed its check and was replaced";
  EXPECT_NE(fresh, "<none>");
  TCRConnection::ReturnToPool(std::move(connection));
  TMyConnectionPoolManager::Clear();
}

}  // namespace
