// The provider connection and command against the test server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "ApiTestSupport.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySqlApiClient.h"
#include "support/LoopbackRelay.h"

namespace {

using api_test::TScratchDb;
using TRows = std::vector<std::string>;  // one text per row, columns joined with "|"

const TestServer::TInfo& Srv() {
  return TestServer::Info();
}

// Every test runs through the direct protocol and through the client library: the provider must
// not see which.
class MySQLConnectionDbTest : public ::testing::TestWithParam<bool> {
 public:
  static TMySQLAPI& Api() { return GetParam() ? static_cast<TMySQLAPI&>(MyAPIClient()) : MyAPIDirect(); }
};

std::unique_ptr<TMySQLConnection> Open(const std::string& database = {},
                                       const std::function<void(TMySQLConnection&)>& setup = {}) {
  auto c = std::make_unique<TMySQLConnection>();
  c->SetProp(prMySQLAPI, Variant::FromObject(&MySQLConnectionDbTest::Api()));
  c->SetServer(Srv().Host);
  c->SetUsername(Srv().NativeUser);
  c->SetPassword(Srv().NativePassword);
  c->SetProp(prPort, Srv().Port);
  c->SetProp(prDatabase, database);
  if (setup) setup(*c);
  c->Connect("");
  return c;
}

// Runs sql through a command that wants the result; reads its rows.
TRows Query(TMySQLConnection& c, const std::string& sql) {
  TMySQLCommand cmd;
  cmd.SetConnection(&c);
  cmd.SetSQL(sql);
  cmd.ResultWanted = true;
  cmd.Execute();
  TRows rows;
  TMySQLAPI& api = *c.GetAPI();
  PMYSQL_RES res = cmd.GetResult();
  if (res == nullptr) return rows;
  const uint32_t count = api.mysql_num_fields(res);
  while (PMYSQL_ROW row = api.mysql_fetch_row(res)) {
    std::string text;
    for (uint32_t i = 0; i < count; ++i)
      text += (i ? "|" : "") + (api.FieldIsNull(row, i) ? std::string("<null>") : api.GetFieldStr(row, i));
    rows.push_back(text);
  }
  cmd.SetResult(nullptr);
  api.mysql_free_result(res);
  return rows;
}

std::string Scalar(TMySQLConnection& c, const std::string& sql) {
  const TRows rows = Query(c, sql);
  return rows.empty() ? "<none>" : rows[0];
}

TEST_P(MySQLConnectionDbTest, CharacterSetsOverTcpAndTheSocket) {
  TScratchDb db;
  ::setenv("MYSQL_UNIX_PORT", Srv().Socket.c_str(), 1);
  struct Case {
    const char* Name;
    TMyProtocol Protocol;
    bool Unicode;
    std::string Charset;
    std::string Server;
    bool ViaSocket;
  };
  const Case cases[] = {
      {"TCP, gbk", mpTCP, false, "gbk", Srv().Host, false},
      {"default protocol, Unicode", mpDefault, true, "gbk", Srv().Host, false},
      {"socket, gbk", mpSocket, false, "gbk", "localhost", true},
      {"socket, Unicode", mpSocket, true, "", "", true},
      {"socket named as the server", mpSocket, false, "gbk", Srv().Socket, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto conn = Open(db.Name(), [&](TMySQLConnection& m) {
      m.SetProp(prProtocol, int(c.Protocol));
      m.SetProp(prUseUnicode, c.Unicode);
      m.SetProp(prCharset, c.Charset);
      m.SetServer(c.Server);
    });
    EXPECT_EQ(Scalar(*conn, "SELECT DATABASE()"), db.Name());
    EXPECT_EQ(Scalar(*conn, "SELECT @@character_set_client, @@character_set_results"),
              c.Unicode ? "utf8mb4|utf8mb4" : "gbk|gbk");
    if (c.Unicode) {
      // 4-byte characters travel both ways: a wide parameter out, a value read back.
      TMySQLCommand cmd;
      cmd.SetConnection(conn.get());
      cmd.SetSQL("SELECT HEX(?), CONVERT(X'F09F9880' USING utf8mb4)");
      TParamDesc* p = cmd.AddParam();
      p->SetDataType(dtWideString);
      p->SetValue(std::u16string(u"\U0001F600"));
      cmd.ResultWanted = true;
      cmd.Execute();
      TMySQLAPI& api = *conn->GetAPI();
      PMYSQL_ROW row = api.mysql_fetch_row(cmd.GetResult());
      ASSERT_NE(row, nullptr);
      EXPECT_EQ(api.GetFieldStr(row, 0), "F09F9880");
      EXPECT_EQ(api.GetFieldStr(row, 1), "\xF0\x9F\x98\x80");
      api.mysql_free_result(cmd.GetResult());
      cmd.SetResult(nullptr);
    }
    // A socket client is "localhost"; a TCP client carries its port.
    const std::string host =
        Scalar(*conn, "SELECT HOST FROM information_schema.PROCESSLIST WHERE ID = CONNECTION_ID()");
    EXPECT_EQ(host.find(':') == std::string::npos, c.ViaSocket) << host;
    EXPECT_TRUE(conn->IsServer41());
  }
  // A remote server name never gives the local server's socket.
  for (const std::string& server : {std::string("db.remote.invalid"), Srv().Host}) {
    SCOPED_TRACE(server);
    try {
      Open({}, [&](TMySQLConnection& m) {
        m.SetProp(prProtocol, int(mpSocket));
        m.SetServer(server);
      });
      ADD_FAILURE() << "connected";
    } catch (const EDatabaseError& e) {
      EXPECT_NE(e.Message().find("the server '" + server + "' is not this computer"), std::string::npos)
          << e.Message();
    }
  }
  // A missing socket is named in the error.
  const std::string missing = Srv().Socket + ".none";
  ::setenv("MYSQL_UNIX_PORT", missing.c_str(), 1);
  try {
    Open({}, [](TMySQLConnection& m) {
      m.SetProp(prProtocol, int(mpSocket));
      m.SetServer("");
    });
    ADD_FAILURE() << "connected";
  } catch (const EMyError& e) {
    EXPECT_NE(e.Message().find(missing), std::string::npos) << e.Message();
  }
  ::setenv("MYSQL_UNIX_PORT", Srv().Socket.c_str(), 1);
}

// Through either API a named CA is a demand: another CA, or a certificate that does not name the
// host connected to, is refused; the right CA and host connect.
TEST_P(MySQLConnectionDbTest, ANamedCaVerifiesTheServer) {
  TLoopbackRelay relay("127.0.0.2", Srv().Host, Srv().Port);
  const std::tuple<const char*, std::string, int, std::string, bool> cases[] = {
      {"another CA", Srv().Host, Srv().Port, Srv().Get("OTHER_CA_CERT"), false},
      {"an address the certificate does not name", "127.0.0.2", relay.Port, Srv().CaCert, false},
      {"the right CA and host", "localhost", Srv().Port, Srv().CaCert, true},
  };
  for (const auto& [name, host, port, ca, connects] : cases) {
    SCOPED_TRACE(name);
    try {
      auto conn = Open({}, [&](TMySQLConnection& m) {
        m.SetServer(host);
        m.SetProp(prPort, port);
        m.SetProp(prProtocol, int(mpSSL));
        m.SetProp(prSSLCACert, ca);
      });
      EXPECT_TRUE(connects);
      EXPECT_NE(Scalar(*conn, "SHOW SESSION STATUS LIKE 'Ssl_version'"), "Ssl_version|");
    } catch (const EMyError& e) {
      EXPECT_FALSE(connects) << e.Message();
      EXPECT_EQ(e.ErrorCode, CR_SSL_CONNECTION_ERROR) << e.Message();
    }
  }
}

TEST_P(MySQLConnectionDbTest, SslSettingsReachTheSession) {
  // The X509 account logs in only with the client certificate, named by its full path.
  auto conn = Open({}, [](TMySQLConnection& m) {
    m.SetUsername(Srv().X509User);
    m.SetPassword(Srv().X509Password);
    m.SetProp(prProtocol, int(mpSSL));
    m.SetProp(prSSLKey, Srv().ClientKey);
    m.SetProp(prSSLCert, Srv().ClientCert);
    m.SetProp(prSSLCACert, Srv().CaCert);
  });
  EXPECT_NE(Scalar(*conn, "SHOW SESSION STATUS LIKE 'Ssl_cipher'"), "Ssl_cipher|");
}

TEST_P(MySQLConnectionDbTest, Transactions) {
  TScratchDb db;
  auto conn = Open(db.Name());
  conn->ExecSQL("CREATE TABLE t_bank (id INT PRIMARY KEY) ENGINE=InnoDB");
  conn->StartTransaction();
  conn->ExecSQL("INSERT INTO t_bank VALUES (1)");
  EXPECT_EQ(Scalar(*conn, "SELECT COUNT(*) FROM t_bank"), "1");
  conn->Rollback();
  EXPECT_EQ(Scalar(*conn, "SELECT COUNT(*) FROM t_bank"), "0");
  // Each transaction runs at the level set when it starts.
  const std::pair<TMyIsolationLevel, const char*> levels[] = {
      {ilSerializable, "SERIALIZABLE"},
      {ilSerializable, "SERIALIZABLE"},
      {ilRepeatableRead, "REPEATABLE READ"},
      {ilReadUnCommitted, "READ UNCOMMITTED"},
  };
  for (const auto& [level, expected] : levels) {
    SCOPED_TRACE(expected);
    conn->SetProp(prIsolationLevel, int(level));
    conn->StartTransaction();
    Query(*conn, "SELECT COUNT(*) FROM t_bank");  // the InnoDB transaction starts here
    conn->ExecSQL("DO SLEEP(0.2)");  // the server refreshes its transaction list at most every 0.1 s
    EXPECT_EQ(Scalar(*conn,
                     "SELECT trx_isolation_level FROM information_schema.INNODB_TRX "
                     "WHERE trx_mysql_thread_id = CONNECTION_ID()"),
              expected);
    conn->Commit();
  }
}

TEST_P(MySQLConnectionDbTest, PlaceholdersAsTextAndPrepared) {
  TScratchDb db;
  auto conn = Open(db.Name(), [](TMySQLConnection& m) { m.SetProp(prCharset, "gbk"); });
  conn->ExecSQL("CREATE TABLE t_user (id INT, name VARCHAR(20), note VARCHAR(20)) CHARSET gbk");
  TMySQLCommand cmd;
  cmd.SetConnection(conn.get());
  cmd.SetSQL("INSERT INTO t_user /* ? */ VALUES (?, ?, '?') -- ?");
  auto add = [&](TDataType type) {
    TParamDesc* p = cmd.AddParam();
    p->SetDataType(type);
    return p;
  };
  TParamDesc* id = add(dtInt32);
  TParamDesc* name = add(dtString);
  id->SetValue(1);
  name->SetValue("It's \xB1\xED\\");  // GBK 表 and a backslash
  cmd.Execute();
  EXPECT_EQ(cmd.GetRowsAffected(), 1);
  cmd.SetSQL("INSERT INTO t_user VALUES (?, ?, '?')");
  cmd.Prepare();
  EXPECT_EQ(cmd.GetCursorState(), csPrepared);
  id->SetValue(2);
  name->SetNull(true);
  cmd.Execute();
  id->SetValue(3);
  name->SetValue("Wang's");
  cmd.Execute();
  EXPECT_EQ(cmd.GetRowsAffected(), 1);
  EXPECT_EQ(cmd.GetPrevRowsAffected(), 1);
  cmd.Unprepare();
  EXPECT_EQ(cmd.GetCursorState(), csInactive);
  EXPECT_EQ(Query(*conn, "SELECT * FROM t_user ORDER BY id"),
            (TRows{"1|It's \xB1\xED\\|?", "2|<null>|?", "3|Wang's|?"}));
}

TEST_P(MySQLConnectionDbTest, UnwantedResultsOfABatchAreDrained) {
  TScratchDb db;
  auto conn = Open(db.Name());
  conn->ExecSQL("CREATE TABLE t_log (id INT)");
  conn->ExecSQL("SELECT 1; INSERT INTO t_log VALUES (1); SELECT * FROM t_log; INSERT INTO t_log VALUES (2)");
  EXPECT_EQ(Query(*conn, "SELECT id FROM t_log ORDER BY id"), (TRows{"1", "2"}));
  // An error in a later statement of the batch is reported, and the session stays usable.
  try {
    conn->ExecSQL("SELECT 1; SELECT * FROM t_none; SELECT 3");
    ADD_FAILURE() << "no error";
  } catch (const EMyError& e) {
    EXPECT_EQ(e.ErrorCode, 1146);
  }
  EXPECT_EQ(Scalar(*conn, "SELECT COUNT(*) FROM t_log"), "2");
}

TEST_P(MySQLConnectionDbTest, AKilledSessionFailsOverWhenAsked) {
  auto killer = Open();
  for (bool failover : {false, true}) {
    SCOPED_TRACE(failover ? "reconnect and re-execute" : "reported");
    auto conn = Open();
    std::vector<int> errors;
    conn->OnError = [&](EDAError& e, bool&, bool& reconnect, bool& reexecute, int attempt,
                        TConnLostCause& cause) {
      errors.push_back(e.ErrorCode);
      if (failover && attempt == 0) {
        reconnect = true;
        reexecute = true;
        cause = clExecute;
      }
    };
    const uint32_t thread = conn->GetAPI()->mysql_thread_id(conn->GetMySQL());
    killer->ExecSQL("KILL " + std::to_string(thread));
    TMySQLCommand cmd;
    cmd.SetConnection(conn.get());
    cmd.SetSQL("DO 1");
    if (!failover) {
      EXPECT_THROW(cmd.Execute(), EMyError);
      EXPECT_EQ(errors, std::vector<int>{2013});
      continue;
    }
    try {
      cmd.Execute();
      ADD_FAILURE() << "no failover";
    } catch (const EFailOver& e) {
      EXPECT_EQ(e.ConnLostCause, clExecute);
    }
    EXPECT_EQ(errors, std::vector<int>{2013});
    cmd.Execute();  // the repeat
    EXPECT_TRUE(conn->GetConnected());
    EXPECT_NE(conn->GetAPI()->mysql_thread_id(conn->GetMySQL()), thread);
  }
}

INSTANTIATE_TEST_SUITE_P(Apis, MySQLConnectionDbTest, ::testing::Bool(), [](const auto& info) {
  return std::string(info.param ? "ClientLibrary" : "Direct");
});

}  // namespace
