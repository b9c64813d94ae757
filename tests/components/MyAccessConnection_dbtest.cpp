// The MySQL connection and command components against the test server.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "core/DAConsts.h"
#include "mysql/ApiTestSupport.h"
#include "mysql/MyClasses.h"
#include "mysql/MySQLCommand.h"
#include "mysql/MySqlApiClient.h"
#include "platform/runtime/Classes.h"

namespace {

using api_test::TScratchDb;

const TestServer::TInfo& Srv() {
  return TestServer::Info();
}

void Prepare(TMyConnection& c, const std::string& database = {}) {
  c.LoginPrompt = false;
  c.SetServer(Srv().Host);
  c.SetPort(Srv().Port);
  c.SetUsername(Srv().NativeUser);
  c.SetPassword(Srv().NativePassword);
  c.SetDatabase(database);
}

// The first row of a query, columns joined with "|"; "<none>" without rows.
std::string Scalar(TMyConnection& c, const std::string& sql) {
  TMySQLCommand cmd;
  cmd.SetConnection(c.MyIConnection());
  cmd.SetSQL(sql);
  cmd.ResultWanted = true;
  cmd.Execute();
  TMySQLAPI& api = *c.MyIConnection()->GetAPI();
  PMYSQL_RES res = cmd.GetResult();
  if (res == nullptr) return "<none>";
  cmd.SetResult(nullptr);
  std::string text = "<none>";
  if (PMYSQL_ROW row = api.mysql_fetch_row(res)) {
    text.clear();
    for (uint32_t i = 0; i < api.mysql_num_fields(res); ++i)
      text += (i ? "|" : "") + (api.FieldIsNull(row, i) ? std::string("<null>") : api.GetFieldStr(row, i));
  }
  api.mysql_free_result(res);
  return text;
}

int ErrorCodeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EDAError& e) {
    return e.ErrorCode;
  } catch (const EDatabaseError&) {
    return -1;
  }
  return 0;
}

TEST(MyConnectionDbTest, GbkValueRoundTripsOverTcpAndTheSocket) {
  TScratchDb db;
  struct Case {
    const char* Name;
    TMyProtocol Protocol;
    std::string Server;
  };
  const Case cases[] = {
      {"TCP", mpTCP, Srv().Host},
      {"socket path", mpSocket, Srv().Socket},
  };
  const std::string gbk = "\xC4\xE3\xBA\xC3\x5C\x27";  // two GBK characters, a backslash, a quote
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TMyConnection c;
    Prepare(c, db.Name());
    c.SetServer(k.Server);
    c.Options().SetProtocol(k.Protocol);
    c.Options().SetCharset("gbk");
    c.Open();
    c.ExecSQL("CREATE TABLE t (v VARCHAR(20)) CHARACTER SET gbk");
    c.ExecSQL("INSERT INTO t VALUES (:v)", {Variant(gbk)});
    EXPECT_EQ(Scalar(c, "SELECT HEX(v), @@character_set_client FROM t"), "C4E3BAC35C27|gbk");
    EXPECT_EQ(Scalar(c, "SELECT v FROM t"), gbk);
    c.ExecSQL("DROP TABLE t");
  }
}

TEST(MyConnectionDbTest, SettersOnAnOpenConnection) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c);
  c.Open();
  struct Case {
    const char* Name;
    std::function<void()> Change;
    int Error;  // 0: accepted
    bool StaysOpen;
    std::function<bool()> Holds;
  };
  const Case cases[] = {
      {"Database takes effect at once", [&] { c.SetDatabase(db.Name()); }, 0, true,
       [&] { return Scalar(c, "SELECT DATABASE()") == db.Name(); }},
      {"Charset refused", [&] { c.Options().SetCharset("gbk"); }, -1, true,
       [&] { return c.Options().Charset().empty(); }},
      {"Compress refused", [&] { c.Options().SetCompress(true); }, -1, true,
       [&] { return !c.Options().Compress(); }},
      {"SSL key refused", [&] { c.SSLOptions().SetKey("k.pem"); }, -1, true,
       [&] { return c.SSLOptions().Key().empty(); }},
      {"isolation level kept open", [&] { c.SetIsolationLevel(ilSerializable); }, 0, true,
       [&] { return c.MyIConnection()->GetIsolationLevel() == ilSerializable; }},
      {"shared memory not supported", [&] { c.Options().SetProtocol(mpMemory); }, -1, true,
       [&] { return c.Options().Protocol() == mpDefault; }},
      {"Port closes", [&] { c.SetPort(Srv().Port + 1); }, 0, false,
       [&] { return c.Port() == Srv().Port + 1; }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    if (!c.GetConnected()) c.Open();
    EXPECT_EQ(ErrorCodeOf(k.Change), k.Error);
    EXPECT_EQ(c.GetConnected(), k.StaysOpen);
    EXPECT_TRUE(k.Holds());
  }
  try {
    c.SetPort(Srv().Port);
    c.Open();
    c.Options().SetCharset("gbk");
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), MessageText(SConnectionOpen));
  }
}

TEST(MyConnectionDbTest, ServerAndClientVersions) {
  TMyConnection c;
  Prepare(c);
  EXPECT_EQ(c.GetServerVersion().substr(0, 6), "10.11.");
  EXPECT_EQ(c.GetClientVersion(), "4.1.3 Direct");
  c.Close();
  c.Options().SetDirect(false);
  EXPECT_FALSE(c.GetClientVersion().empty());
  c.Open();
  EXPECT_EQ(c.MyIConnection()->GetAPI(), &MyAPIClient());
  EXPECT_EQ(c.GetServerVersion().substr(0, 6), "10.11.");
}

TEST(MyConnectionDbTest, ListsOfTablesAndDatabases) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  c.ExecSQL("CREATE TABLE `a#b` (x INT)");
  TStringList names;
  c.GetTableNames(names);
  ASSERT_EQ(names.Count(), 1);
  EXPECT_EQ(names[0], "a#b");
  c.Close();
  c.SetDatabase("no_such_database_here");
  c.GetDatabaseNames(names);
  EXPECT_GE(names.IndexOf(db.Name()), 0);
  EXPECT_FALSE(c.GetConnected());
  EXPECT_EQ(c.Database(), "no_such_database_here");
}

TEST(MyConnectionDbTest, ErrorKinds) {
  struct Case {
    const char* Name;
    int Code;
    bool Fatal, KeyViolation;
  };
  const Case cases[] = {{"no server", 2003, true, false},      {"lost", 2013, true, false},
                        {"gone away", 2006, true, false},      {"shutdown", 1053, true, false},
                        {"refused login", 1045, false, false}, {"duplicate key", 1062, false, true}};
  TMyConnection c;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    EXPECT_EQ(c.IsFatalError(EMyError(k.Code, "x")), k.Fatal);
    EXPECT_EQ(c.IsKeyViolation(EMyError(k.Code, "x")), k.KeyViolation);
    EXPECT_FALSE(c.IsFatalError(EDAError(k.Code, "x")));
  }
}

TEST(MyConnectionDbTest, KilledSessionRaisesOrFailsOver) {
  struct Case {
    const char* Name;
    bool Failover;
    TRetryMode Retry;  // what OnConnectionLost answers
    bool Repeated;
  };
  // A statement is repeated only when the handler asks for it: it may not be safe to send twice.
  const Case cases[] = {{"no failover", false, rmRaise, false},
                        {"failover, statements not repeated", true, rmRaise, false},
                        {"failover, handler repeats", true, rmReconnectExecute, true}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TMyConnection victim, killer;
    Prepare(victim);
    Prepare(killer);
    victim.Options().LocalFailover = k.Failover;
    victim.OnConnectionLost = [&](TComponent*, TComponent*, TConnLostCause, TRetryMode& r) { r = k.Retry; };
    victim.Open();
    const std::string id = Scalar(victim, "SELECT CONNECTION_ID()");
    killer.ExecSQL("KILL CONNECTION " + id);
    const int code = ErrorCodeOf([&] { victim.ExecSQL("SET @after_kill = 1"); });
    if (k.Repeated) {
      EXPECT_EQ(code, 0);
      EXPECT_EQ(Scalar(victim, "SELECT @after_kill"), "1");
    } else {
      EXPECT_TRUE(code == 2006 || code == 2013) << code;
    }
    // Either way the next statement runs on a fresh session.
    if (!victim.GetConnected()) victim.Open();
    EXPECT_NE(Scalar(victim, "SELECT CONNECTION_ID()"), id);
  }
}

TEST(MyConnectionDbTest, BadPasswordNeverReconnects) {
  TMyConnection c;
  Prepare(c);
  c.SetPassword("wrong");
  c.Options().LocalFailover = true;
  int lost = 0;
  c.OnConnectionLost = [&](TComponent*, TComponent*, TConnLostCause, TRetryMode&) { ++lost; };
  EXPECT_EQ(ErrorCodeOf([&] { c.Open(); }), 1045);
  EXPECT_EQ(lost, 0);
  EXPECT_FALSE(c.GetConnected());
}

// The text sent without values used to go unchecked: a failing statement passed as success.
TEST(MyConnectionDbTest, ExecSQLWithoutValuesReportsServerErrors) {
  TMyConnection c;
  Prepare(c);
  EXPECT_EQ(ErrorCodeOf([&] { c.ExecSQL("SELEC 1"); }), 1064);
  EXPECT_EQ(c.ConnectCount(), 0);
}

TEST(MyConnectionDbTest, PooledConnectionRunsStatements) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  c.SetPooling(true);
  c.Open();
  EXPECT_NE(c.MyIConnection()->GetPool(), nullptr);
  EXPECT_EQ(Scalar(c, "SELECT DATABASE()"), db.Name());
  c.Close();
  c.Open();
  EXPECT_EQ(Scalar(c, "SELECT 1"), "1");
}

// A pooled session goes to its next user as a new one would: nothing of what the last user left
// in it (an open transaction, autocommit off, another database, the character set, variables,
// temporary tables) carries over.
TEST(MyConnectionDbTest, PooledSessionComesBackClean) {
  for (bool direct : {true, false}) {
    SCOPED_TRACE(direct ? "direct" : "client library");
    TScratchDb db;
    auto pooled = [&](TMyConnection& c) {
      Prepare(c, db.Name());
      c.Options().SetDirect(direct);
      c.Options().SetCharset("gbk");
      c.SetPooling(true);
      c.Open();
    };
    std::string id;
    {
      TMyConnection first;
      pooled(first);
      id = Scalar(first, "SELECT CONNECTION_ID()");
      for (const char* sql :
           {"CREATE TABLE t (id INT) ENGINE=InnoDB", "SET autocommit = 0", "INSERT INTO t VALUES (1)",
            "CREATE TEMPORARY TABLE tmp (id INT)", "SET @v = 5", "SET NAMES latin1",
            "SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'", "USE mysql"})
        first.ExecSQL(sql);
    }
    TMyConnection next;
    pooled(next);
    ASSERT_EQ(Scalar(next, "SELECT CONNECTION_ID()"), id);  // the same session, taken from the pool
    EXPECT_EQ(Scalar(next, "SELECT DATABASE()"), db.Name());
    EXPECT_EQ(Scalar(next, "SELECT @@autocommit"), "1");
    EXPECT_EQ(Scalar(next, "SELECT COUNT(*) FROM t"), "0");  // the insert was rolled back
    EXPECT_EQ(Scalar(next, "SELECT IFNULL(@v, 'none')"), "none");
    EXPECT_EQ(Scalar(next, "SELECT @@character_set_client"), "gbk");
    EXPECT_EQ(Scalar(next, "SELECT LOCATE('NO_BACKSLASH_ESCAPES', @@sql_mode)"), "0");
    EXPECT_EQ(ErrorCodeOf([&] { next.ExecSQL("CREATE TEMPORARY TABLE tmp (id INT)"); }), 0);
  }
}

// A database chosen on a session of a pool without one cannot be unchosen: the session is not
// handed out again.
TEST(MyConnectionDbTest, PooledSessionThatChoseADatabaseIsDropped) {
  TScratchDb db;
  std::string id;
  {
    TMyConnection first;
    Prepare(first);
    first.SetPooling(true);
    first.Open();
    id = Scalar(first, "SELECT CONNECTION_ID()");
    first.ExecSQL("USE " + db.Name());
  }
  TMyConnection next;
  Prepare(next);
  next.SetPooling(true);
  next.Open();
  EXPECT_NE(Scalar(next, "SELECT CONNECTION_ID()"), id);
  EXPECT_EQ(Scalar(next, "SELECT IFNULL(DATABASE(), 'none')"), "none");
}

TEST(MyCommandDbTest, InsertIdAboveFourBillion) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  c.ExecSQL("CREATE TABLE a (id BIGINT AUTO_INCREMENT PRIMARY KEY, v INT) AUTO_INCREMENT=5000000000");
  TMyCommand cmd;
  cmd.SetConnection(&c);
  cmd.SetSQLText("INSERT INTO a (v) VALUES (:v)");
  cmd.Params()[0]->SetValue(Variant(7));
  cmd.Execute();
  EXPECT_EQ(cmd.InsertId(), 5000000000LL);
}

TEST(MyCommandDbTest, TextWithoutColonIsSentAsWritten) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  c.ExecSQL("CREATE TABLE t (v VARCHAR(20))");
  TMyCommand cmd;
  cmd.SetConnection(&c);
  const std::string text = "INSERT INTO t VALUES ('a?b''\\\\c')   /* ? */";
  cmd.SetSQLText(text);
  EXPECT_EQ(cmd.Params().Count(), 0);
  cmd.Execute();
  EXPECT_EQ(cmd.ICommand()->GetSQL(), text);
  c.Open();
  EXPECT_EQ(Scalar(c, "SELECT v FROM t"), "a?b'\\c");
}

// Under NO_BACKSLASH_ESCAPES 'C:\' is a whole string: a parameter after it is found however the
// text came to the command, and the statement writes the row the values name.
TEST(MyCommandDbTest, ParametersAfterABackslashFollowTheSessionsMode) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  c.ExecSQL("CREATE TABLE t (id INT, p VARCHAR(20), v VARCHAR(20))");
  const std::string insert = "INSERT INTO t VALUES (:id, 'C:\\', :v)";
  enum TWay { InTheMode, BeforeTheConnection, BeforeTheModeChanged, ThroughTheConnection };
  const struct {
    const char* Name;
    TWay Way;
    const char* Stored;  // HEX(p), HEX(v)
  } cases[] = {
      {"text set in the mode", InTheMode, "433A5C|78275C"},
      {"text set before the command had its connection", BeforeTheConnection, "433A5C|78275C"},
      // The value of v could not be set: the text had no v then.
      {"text set before the mode changed", BeforeTheModeChanged, "433A5C|<null>"},
      {"the connection's ExecSQL with values", ThroughTheConnection, "433A5C|78275C"},
  };
  const std::string value = "x'\\";
  int id = 0;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Name);
    ++id;
    c.ExecSQL("SET SESSION sql_mode = ''");
    TMyCommand cmd;
    if (k.Way != BeforeTheConnection) cmd.SetConnection(&c);
    if (k.Way == BeforeTheModeChanged || k.Way == BeforeTheConnection) cmd.SetSQLText(insert);
    c.ExecSQL("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'");
    if (k.Way == BeforeTheConnection) cmd.SetConnection(&c);
    if (k.Way == InTheMode) cmd.SetSQLText(insert);
    if (k.Way == ThroughTheConnection) {
      EXPECT_NO_THROW(c.ExecSQL(insert, {Variant(id), Variant(value)}));
    } else {
      cmd.Params().ParamByName("id")->SetValue(Variant(id));
      if (k.Way != BeforeTheModeChanged) cmd.Params().ParamByName("v")->SetValue(Variant(value));
      EXPECT_NO_THROW(cmd.Execute());
    }
    EXPECT_EQ(Scalar(c, "SELECT HEX(p), HEX(v) FROM t WHERE id = " + std::to_string(id)), k.Stored);
  }
  EXPECT_EQ(Scalar(c, "SELECT COUNT(*) FROM t"), "4");
  TMyQuery q;
  q.SetConnection(&c);
  q.SetSQLText("SELECT v FROM t WHERE p = 'C:\\' AND id = :id");
  q.Params().ParamByName("id")->SetValue(Variant(2));
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);
}

TEST(MyCommandDbTest, CommandTimeoutReachesTheProviderCommand) {
  TMyConnection c;
  Prepare(c);
  TMyCommand cmd;
  cmd.SetConnection(&c);
  cmd.SetSQLText("DO 1");
  cmd.Execute();
  cmd.SetCommandTimeout(7);
  EXPECT_EQ(cmd.MyICommand()->CommandTimeout, 7);
}

}  // namespace
