// The session against the private test server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlSession.h"
#include "mysql/MySqlVioTcp.h"
#include "platform/runtime/Classes.h"
#include "support/NetTestUtil.h"
#include "tests/mysql/ApiTestSupport.h"
#include "tests/mysql/MariaDbOracle.h"

namespace {

using api_test::TScratchDb;
using TRows = std::vector<std::vector<std::string>>;

const TestServer::TInfo& Srv() {
  return TestServer::Info();
}

std::unique_ptr<TMySqlSession> Open(const std::string& user, const std::string& password,
                                    const std::string& database = {}, uint32_t flags = 0) {
  auto s = std::make_unique<TMySqlSession>();
  s->Connect(Srv().Host, user, flags, {}, static_cast<uint32_t>(Srv().Port), database, password);
  return s;
}

std::unique_ptr<TMySqlSession> OpenNative(const std::string& database = {}, uint32_t flags = 0) {
  return Open(Srv().NativeUser, Srv().NativePassword, database, flags);
}

// Every value of the pending result, row by row, as (is NULL, bytes).
TOracleValues Values(TMySqlSession& s, bool buffered = true) {
  TMySqlResultSet rs(s);
  if (buffered) rs.ReadAll();
  TOracleValues values;
  while (rs.Fetch())
    for (const TMySqlBind& b : rs.Row().Binds)
      values.emplace_back(
          b.IsNull != 0,
          b.IsNull ? std::string()
                   : std::string(reinterpret_cast<const char*>(rs.RowData().data()) + b.Position, b.Length));
  return values;
}

// The first value of a query, NULL as "<null>".
std::string Scalar(TMySqlSession& s, const std::string& sql) {
  s.Query(sql);
  const TOracleValues values = Values(s);
  return values.at(0).first ? "<null>" : values.at(0).second;
}

}  // namespace

TEST(MySqlSessionDbTest, LoginsWithAndWithoutDatabasePasswordAndTcp) {
  TScratchDb db;
  auto with = OpenNative(db.Name());
  EXPECT_EQ(Scalar(*with, "SELECT DATABASE()"), db.Name());
  EXPECT_TRUE(with->IsProtocol41());
  EXPECT_EQ(with->ServerVersion(), Srv().Version);
  EXPECT_EQ(with->HostInfo(), Srv().Host + " via TCP/IP");
  auto without = OpenNative();
  EXPECT_EQ(Scalar(*without, "SELECT DATABASE()"), "<null>");
  EXPECT_EQ(Scalar(*without, "SELECT CONNECTION_ID()"), std::to_string(without->ThreadId()));
  without->SelectDb(db.Name());
  EXPECT_EQ(Scalar(*without, "SELECT DATABASE()"), db.Name());
  EXPECT_EQ(Scalar(*Open(Srv().EmptyUser, ""), "SELECT CURRENT_USER()"), Srv().EmptyUser + "@%");
  TMySqlSession sock;
  sock.Protocol = MYSQL_PROTOCOL_PIPE;
  sock.Connect("localhost", Srv().NativeUser, 0, Srv().Socket, 0, {}, Srv().NativePassword);
  EXPECT_EQ(Scalar(sock, "SELECT 1"), "1");
}

TEST(MySqlSessionDbTest, WrongPasswordGivesTheServersError) {
  TMySqlSession s;
  std::string message;
  EXPECT_EQ(MySqlErrorOf([&] { s.Connect(Srv().Host, Srv().NativeUser, 0, {}, Srv().Port, {}, "wrong"); },
                         &message),
            1045);
  EXPECT_NE(message.find("Access denied for user '" + Srv().NativeUser + "'"), std::string::npos) << message;
  EXPECT_EQ(s.State(), TMySqlSessionState::NotConnected);
  EXPECT_EQ(MySqlErrorOf([&] { s.Ping(); }), 2006);
}

// secure_auth is global: both halves run in one test, and it is switched back in every case.
TEST(MySqlSessionDbTest, OldPasswordUserNeedsSecureAuthOff) {
  auto admin = OpenNative();
  EXPECT_EQ(Scalar(*Open(Srv().OldUser, Srv().OldPassword), "SELECT CURRENT_USER()"), Srv().OldUser + "@%");
  struct TRestore {
    TMySqlSession& S;
    ~TRestore() {
      MySqlErrorOf([&] { S.Query("SET GLOBAL secure_auth = 0"); });
    }
  } restore{*admin};
  admin->Query("SET GLOBAL secure_auth = 1");
  EXPECT_EQ(MySqlErrorOf([&] { Open(Srv().OldUser, Srv().OldPassword); }), 1275);
}

TEST(MySqlSessionDbTest, AccountOfAnUnknownMethodIsNamedInTheError) {
  auto admin = OpenNative();
  if (Scalar(*admin, "SELECT COUNT(*) FROM information_schema.PLUGINS WHERE PLUGIN_NAME = 'ed25519'") == "0")
    admin->Query("INSTALL SONAME 'auth_ed25519'");
  const std::string user = "h6_ed_" + std::to_string(::getpid());
  admin->Query("CREATE USER " + user + "@'%' IDENTIFIED VIA ed25519 USING PASSWORD('Ed_pw1')");
  std::string message;
  EXPECT_EQ(MySqlErrorOf([&] { Open(user, "Ed_pw1"); }, &message), 2012);
  EXPECT_NE(message.find("client_ed25519"), std::string::npos) << message;
  admin->Query("DROP USER " + user + "@'%'");
}

TEST(MySqlSessionDbTest, CompressionNegotiatedAndUsed) {
  auto s = OpenNative({}, CLIENT_COMPRESS);
  EXPECT_TRUE(s->ClientFlags & CLIENT_COMPRESS);
  EXPECT_EQ(Scalar(*s,
                   "SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                   "WHERE VARIABLE_NAME = 'Compression'"),
            "ON");
  std::string expected;
  for (int i = 0; i < 50000; ++i) expected += "ab";
  EXPECT_EQ(Scalar(*s, "SELECT REPEAT('ab', 50000)"), expected);
}

// The application's wait hook runs its events, and one of them may start a statement: on the
// session whose reply is awaited it is refused, and the awaited reply is read whole; on another
// session it runs.
namespace {
std::function<void()> RunInWait;
bool RunOnceInWait(int, bool ended) noexcept {
  if (ended || !RunInWait) return true;
  const std::function<void()> run = std::move(RunInWait);
  RunInWait = nullptr;
  run();
  return true;
}
}  // namespace

TEST(MySqlSessionDbTest, AStatementStartedInTheWaitHookNeverCutsIntoTheReplyAwaited) {
  const std::tuple<const char*, bool, uint32_t, const char*> cases[] = {
      // name, on the waiting session, its flags, what the nested statement gives
      {"the waiting session", true, 0, "error 2014"},
      {"the waiting session, compressed", true, CLIENT_COMPRESS, "error 2014"},
      {"another session", false, 0, "2"},
  };
  for (const auto& [name, same, flags, nested] : cases) {
    SCOPED_TRACE(name);
    auto s = OpenNative({}, flags);
    auto other = OpenNative();
    TMySqlSession& target = same ? *s : *other;
    std::string got;
    RunInWait = [&] {
      try {
        got = Scalar(target, "SELECT 2");
      } catch (const EMySqlException& e) {
        got = "error " + std::to_string(e.ErrorCode);
      }
    };
    SetMySqlWaitProc(&RunOnceInWait);
    std::string outer;
    const int error = MySqlErrorOf([&] { outer = Scalar(*s, "SELECT CONCAT('x', SLEEP(0.5))"); });
    SetMySqlWaitProc(nullptr);
    EXPECT_EQ(got, nested);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(outer, "x0");
    EXPECT_EQ(Scalar(*s, "SELECT 3"), "3");
    EXPECT_EQ(Scalar(target, "SELECT 4"), "4");
  }
}

// The OK packet's counters and message (length-coded), the other commands, and a server error
// that leaves the session ready.
TEST(MySqlSessionDbTest, OkPacketsAndCommands) {
  TScratchDb db;
  auto s = OpenNative(db.Name());
  s->Query("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(10))");
  s->Query("INSERT INTO t (v) VALUES ('a'), ('b'), ('c')");
  EXPECT_EQ(s->AffectedRows(), 3u);
  EXPECT_EQ(s->InsertId(), 1u);
  EXPECT_EQ(s->Info(), "Records: 3  Duplicates: 0  Warnings: 0");
  EXPECT_NE(s->Statistics().find("Uptime"), std::string::npos);
  const auto fields = s->FieldList("t");
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[1].Name + std::to_string(fields[1].Length), "v10");  // latin1 login character set
  EXPECT_EQ(MySqlErrorOf([&] { s->Query("SELECT * FROM no_such_table"); }), 1146);
  EXPECT_EQ(s->State(), TMySqlSessionState::Ready);
  EXPECT_EQ(Scalar(*s, "SELECT COUNT(*) FROM t"), "3");
}

// Each result's descriptions are read over those of the result freed before it: a narrower
// result, of an expression without a table, keeps nothing of the wider one.
TEST(MySqlSessionDbTest, EachResultDescribesOnlyItsOwnColumns) {
  TScratchDb db;
  auto s = OpenNative(db.Name());
  s->Query("CREATE TABLE a_table_named_past_the_short_text (a_column_named_past_the_short_text INT, b INT)");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    s->Query("SELECT * FROM a_table_named_past_the_short_text AS t");
    {
      TMySqlResultSet rs(*s);
      ASSERT_EQ(rs.Fields().size(), 2u);
      const TMySqlFieldInfo& f = rs.Fields()[0];
      EXPECT_EQ(std::vector<std::string>({f.Name, f.OrgName, f.Table, f.OrgTable, f.Database}),
                std::vector<std::string>({"a_column_named_past_the_short_text",
                                          "a_column_named_past_the_short_text", "t",
                                          "a_table_named_past_the_short_text", db.Name()}));
      while (rs.Fetch()) {
      }
    }
    s->Query("SELECT 'v' AS x");
    TMySqlResultSet rs(*s);
    ASSERT_EQ(rs.Fields().size(), 1u);
    const TMySqlFieldInfo& f = rs.Fields()[0];
    EXPECT_EQ(std::vector<std::string>({f.Name, f.OrgName, f.Table, f.OrgTable, f.Database}),
              std::vector<std::string>({"x", "", "", "", ""}));
    EXPECT_EQ(f.Type, 253u);  // VAR_STRING, not the INT read before
    while (rs.Fetch()) {
    }
  }
}

TEST(MySqlSessionDbTest, BatchGivesCommandsOutOfSyncThenBothResults) {
  auto s = OpenNative({}, CLIENT_MULTI_STATEMENTS);
  s->Query("SELECT 1; SELECT 2");
  // The first result's rows are unread: another command must not read them as its reply.
  EXPECT_EQ(MySqlErrorOf([&] { s->Query("SELECT 3"); }), 2014);
  EXPECT_EQ(Values(*s), (TOracleValues{{false, "1"}}));
  EXPECT_TRUE(s->MoreResults());
  EXPECT_EQ(s->State(), TMySqlSessionState::ResultPending);
  EXPECT_EQ(MySqlErrorOf([&] { s->Ping(); }), 2014);
  ASSERT_TRUE(s->NextResult());
  EXPECT_EQ(Values(*s, false), (TOracleValues{{false, "2"}}));
  EXPECT_FALSE(s->NextResult());
  EXPECT_EQ(Scalar(*s, "SELECT 3"), "3");
}

// A server error in the middle of the rows, and rows left unread when the result closes.
TEST(MySqlSessionDbTest, ResultsEndedEarlyLeaveTheSessionUsable) {
  auto s = OpenNative("mysql");
  s->Query("SET STATEMENT max_statement_time = 0.3 FOR SELECT seq, SLEEP(0.002) FROM seq_1_to_100000");
  {
    TMySqlResultSet rs(*s);
    int rows = 0;
    EXPECT_EQ(MySqlErrorOf([&] {
                while (rs.Fetch()) ++rows;
              }),
              1969);  // max_statement_time exceeded
    EXPECT_GT(rows, 0);
    EXPECT_EQ(s->State(), TMySqlSessionState::Ready);
  }
  s->Query("SELECT seq FROM seq_1_to_5000");
  {
    TMySqlResultSet rs(*s);
    ASSERT_TRUE(rs.Fetch());
    EXPECT_EQ(MySqlErrorOf([&] { s->Ping(); }), 2014);
  }
  EXPECT_EQ(Scalar(*s, "SELECT 8"), "8");
}

TEST(MySqlSessionDbTest, LoadDataLocalSendsOnlyTheNamedReadableFile) {
  TScratchDb db;
  auto s = OpenNative(db.Name());
  s->Query("CREATE TABLE t (a INT, b VARCHAR(20))");
  const std::string path = ::testing::TempDir() + "h6_load_" + std::to_string(::getpid()) + ".txt";
  {
    std::ofstream f(path, std::ios::binary);
    for (int i = 0; i < 3000; ++i) f << i << "\tvalue " << i << "\n";
  }
  s->Query("LOAD DATA LOCAL INFILE '" + path + "' INTO TABLE t");
  EXPECT_EQ(s->AffectedRows(), 3000u);
  EXPECT_EQ(Scalar(*s, "SELECT SUM(a) FROM t"), std::to_string(2999 * 3000 / 2));
  std::remove(path.c_str());
  EXPECT_THROW(s->Query("LOAD DATA LOCAL INFILE '" + path + "' INTO TABLE t"), EFOpenError);
  EXPECT_EQ(s->State(), TMySqlSessionState::Ready);
  EXPECT_EQ(Scalar(*s, "SELECT COUNT(*) FROM t"), "3000");
}

TEST(MySqlSessionDbTest, TenThousandRowsMatchTheCClientLibrary) {
  // NULLs, empty strings, short and long (2- and 3-byte length) values, numbers, dates, binary.
  const std::string sql =
      "SELECT seq, IF(seq % 7 = 0, NULL, CONCAT('v', seq)), IF(seq % 5 = 0, '', REPEAT('x', seq % 300)), "
      "seq * 1.5, IF(seq % 11 = 0, NULL, FROM_UNIXTIME(seq * 3600)), UNHEX(LPAD(HEX(seq), 8, '0')), "
      "IF(seq % 2500 = 0, REPEAT('long', 20000), NULL), IF(seq % 3 = 0, '', NULL) FROM seq_1_to_10000";
  for (bool compress : {false, true}) {
    SCOPED_TRACE(compress ? "compressed" : "plain");
    std::string error;
    const TOracleValues expected = MariaDbOracleValues(Srv().Host, Srv().Port, Srv().NativeUser,
                                                       Srv().NativePassword, "mysql", sql, compress, error);
    ASSERT_EQ(error, "");
    ASSERT_EQ(expected.size(), 10000u * 8);
    for (bool buffered : {false, true}) {
      SCOPED_TRACE(buffered ? "buffered" : "unbuffered");
      auto s = OpenNative("mysql", compress ? uint32_t{CLIENT_COMPRESS} : 0u);
      s->Query(sql);
      const TOracleValues got = Values(*s, buffered);
      ASSERT_EQ(got.size(), expected.size());
      size_t mismatches = 0;
      for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != expected[i] && ++mismatches < 5) ADD_FAILURE() << "value " << i << " differs";
      EXPECT_EQ(mismatches, 0u);
    }
  }
}
