// The session against the private test server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlSession.h"
#include "platform/runtime/Classes.h"
#include "support/TestServer.h"

namespace {

const TestServer::TInfo& Srv() { return TestServer::Info(); }

std::unique_ptr<TMySqlSession> Open(const std::string& user, const std::string& password,
                                    const std::string& database = {}, uint32_t flags = 0) {
  auto s = std::make_unique<TMySqlSession>();
  s->Connect(Srv().Host, user, flags, {}, static_cast<uint32_t>(Srv().Port), database, password);
  return s;
}

std::unique_ptr<TMySqlSession> OpenNative(const std::string& database = {}, uint32_t flags = 0) {
  return Open(Srv().NativeUser, Srv().NativePassword, database, flags);
}

// The rows of the pending result as text, NULL as "<null>".
std::vector<std::vector<std::string>> ReadRows(TMySqlSession& s, bool buffered = true) {
  TMySqlResultSet rs(s);
  if (buffered) rs.ReadAll();
  std::vector<std::vector<std::string>> rows;
  while (rs.Fetch()) {
    auto& row = rows.emplace_back();
    for (const TMySqlBind& b : rs.Row().Binds)
      row.push_back(b.IsNull ? "<null>" : std::string(reinterpret_cast<const char*>(rs.RowData().data()) + b.Position, b.Length));
  }
  return rows;
}

std::string Scalar(TMySqlSession& s, const std::string& sql) {
  s.Query(sql);
  const auto rows = ReadRows(s);
  return rows.at(0).at(0);
}

int ErrorOf(auto f) {
  try {
    f();
  } catch (const EMySqlException& e) {
    return e.ErrorCode;
  }
  return 0;
}

// A database of its own for a test, dropped at the end.
struct TScratchDb {
  std::string Name = "h6_" + std::to_string(::getpid()) + "_" + std::to_string(++Counter());
  TScratchDb() { OpenNative()->Query("CREATE DATABASE " + Name); }
  ~TScratchDb() {
    try {
      OpenNative()->Query("DROP DATABASE IF EXISTS " + Name);
    } catch (...) {
    }
  }
  static int& Counter() {
    static int n = 0;
    return n;
  }
};

}  // namespace

TEST(MySqlSessionDbTest, NativeLoginWithAndWithoutDatabase) {
  TScratchDb db;
  auto with = OpenNative(db.Name);
  EXPECT_EQ(with->State(), TMySqlSessionState::Ready);
  EXPECT_EQ(Scalar(*with, "SELECT DATABASE()"), db.Name);
  EXPECT_TRUE(with->IsProtocol41());
  EXPECT_EQ(with->ServerVersion(), Srv().Version);
  EXPECT_EQ(with->HostInfo(), Srv().Host + " via TCP/IP");

  auto without = OpenNative();
  EXPECT_EQ(Scalar(*without, "SELECT DATABASE()"), "<null>");
  EXPECT_EQ(Scalar(*without, "SELECT CONNECTION_ID()"), std::to_string(without->ThreadId()));
  without->SelectDb(db.Name);
  EXPECT_EQ(Scalar(*without, "SELECT DATABASE()"), db.Name);
  EXPECT_EQ(without->Database, db.Name);
}

TEST(MySqlSessionDbTest, EmptyPasswordUserAndUnixSocket) {
  auto s = Open(Srv().EmptyUser, "");
  EXPECT_EQ(Scalar(*s, "SELECT CURRENT_USER()"), Srv().EmptyUser + "@%");
  TMySqlSession sock;
  sock.Protocol = MYSQL_PROTOCOL_PIPE;
  sock.Connect("localhost", Srv().NativeUser, 0, Srv().Socket, 0, {}, Srv().NativePassword);
  EXPECT_EQ(Scalar(sock, "SELECT 1"), "1");
}

TEST(MySqlSessionDbTest, WrongPasswordGivesTheServersError) {
  TMySqlSession s;
  try {
    s.Connect(Srv().Host, Srv().NativeUser, 0, {}, Srv().Port, {}, "wrong");
    FAIL() << "logged in with a wrong password";
  } catch (const EMySqlException& e) {
    EXPECT_EQ(e.ErrorCode, 1045);
    EXPECT_NE(e.Message().find("Access denied for user '" + Srv().NativeUser + "'"), std::string::npos) << e.Message();
  }
  EXPECT_EQ(s.State(), TMySqlSessionState::NotConnected);
  EXPECT_EQ(ErrorOf([&] { s.Ping(); }), 2006);
}

// secure_auth is global: both halves run in one test, and it is switched back in every case.
TEST(MySqlSessionDbTest, OldPasswordUserNeedsSecureAuthOff) {
  auto admin = OpenNative();
  auto old = Open(Srv().OldUser, Srv().OldPassword);
  EXPECT_EQ(Scalar(*old, "SELECT CURRENT_USER()"), Srv().OldUser + "@%");
  struct TRestore {
    TMySqlSession& S;
    ~TRestore() {
      try { S.Query("SET GLOBAL secure_auth = 0"); } catch (...) {}
    }
  } restore{*admin};
  admin->Query("SET GLOBAL secure_auth = 1");
  EXPECT_EQ(ErrorOf([&] { Open(Srv().OldUser, Srv().OldPassword); }), 1275);
}

TEST(MySqlSessionDbTest, AccountOfAnUnknownMethodIsNamedInTheError) {
  auto admin = OpenNative();
  if (Scalar(*admin, "SELECT COUNT(*) FROM information_schema.PLUGINS WHERE PLUGIN_NAME = 'ed25519'") == "0")
    admin->Query("INSTALL SONAME 'auth_ed25519'");
  const std::string user = "h6_ed_" + std::to_string(::getpid());
  admin->Query("CREATE USER " + user + "@'%' IDENTIFIED VIA ed25519 USING PASSWORD('Ed_pw1')");
  try {
    Open(user, "Ed_pw1");
    ADD_FAILURE() << "logged in without the method";
  } catch (const EMySqlException& e) {
    EXPECT_EQ(e.ErrorCode, 2012);
    EXPECT_NE(e.Message().find("client_ed25519"), std::string::npos) << e.Message();
  }
  admin->Query("DROP USER " + user + "@'%'");
}

TEST(MySqlSessionDbTest, CompressionNegotiatedAndUsed) {
  auto s = OpenNative({}, CLIENT_COMPRESS);
  EXPECT_TRUE(s->ClientFlags & CLIENT_COMPRESS);
  s->Query("SHOW SESSION STATUS LIKE 'Compression'");
  const auto rows = ReadRows(*s);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], "ON");
  std::string expected;
  for (int i = 0; i < 50000; ++i) expected += "ab";
  EXPECT_EQ(Scalar(*s, "SELECT REPEAT('ab', 50000)"), expected);
}

TEST(MySqlSessionDbTest, OkPacketCountersAndStatistics) {
  TScratchDb db;
  auto s = OpenNative(db.Name);
  s->Query("CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, v VARCHAR(10))");
  s->Query("INSERT INTO t (v) VALUES ('a'), ('b'), ('c')");
  EXPECT_EQ(s->AffectedRows(), 3u);
  EXPECT_EQ(s->InsertId(), 1u);
  EXPECT_EQ(s->Info(), "Records: 3  Duplicates: 0  Warnings: 0");
  EXPECT_EQ(s->State(), TMySqlSessionState::Ready);
  s->Query("UPDATE t SET v = 'x' WHERE id > 1");
  EXPECT_EQ(s->AffectedRows(), 2u);
  EXPECT_NE(s->Statistics().find("Uptime"), std::string::npos);
  const auto fields = s->FieldList("t");
  ASSERT_EQ(fields.size(), 2u);
  EXPECT_EQ(fields[0].Name, "id");
  EXPECT_EQ(fields[1].Length, 10u * 1);  // latin1 login character set
  s->Ping();
  EXPECT_EQ(ErrorOf([&] { s->Query("SELECT * FROM no_such_table"); }), 1146);
  EXPECT_EQ(s->State(), TMySqlSessionState::Ready);
  EXPECT_EQ(Scalar(*s, "SELECT COUNT(*) FROM t"), "3");
}

TEST(MySqlSessionDbTest, BatchGivesCommandsOutOfSyncThenBothResults) {
  auto s = OpenNative({}, CLIENT_MULTI_STATEMENTS);
  s->Query("SELECT 1; SELECT 2");
  // The first result's rows are unread: another command must not read them as its reply.
  EXPECT_EQ(ErrorOf([&] { s->Query("SELECT 3"); }), 2014);
  EXPECT_EQ(ReadRows(*s), (std::vector<std::vector<std::string>>{{"1"}}));
  EXPECT_TRUE(s->MoreResults());
  EXPECT_EQ(s->State(), TMySqlSessionState::ResultPending);
  EXPECT_EQ(ErrorOf([&] { s->Ping(); }), 2014);
  ASSERT_TRUE(s->NextResult());
  EXPECT_EQ(ReadRows(*s, false), (std::vector<std::vector<std::string>>{{"2"}}));
  EXPECT_FALSE(s->NextResult());
  EXPECT_EQ(s->State(), TMySqlSessionState::Ready);
  EXPECT_EQ(Scalar(*s, "SELECT 3"), "3");
}

TEST(MySqlSessionDbTest, ErrorInTheMiddleOfRowsLeavesTheSessionUsable) {
  auto s = OpenNative("mysql");
  s->Query("SET STATEMENT max_statement_time = 0.3 FOR "
           "SELECT seq, SLEEP(0.002) FROM seq_1_to_100000");
  TMySqlResultSet rs(*s);
  int rows = 0;
  int error = 0;
  try {
    while (rs.Fetch()) ++rows;
  } catch (const EMySqlException& e) {
    error = e.ErrorCode;
  }
  EXPECT_EQ(error, 1969);  // max_statement_time exceeded
  EXPECT_GT(rows, 0);
  EXPECT_EQ(s->State(), TMySqlSessionState::Ready);
  s->Ping();
  EXPECT_EQ(Scalar(*s, "SELECT 7"), "7");
}

TEST(MySqlSessionDbTest, UnreadRowsAreDrainedWhenTheResultCloses) {
  auto s = OpenNative("mysql");
  s->Query("SELECT seq FROM seq_1_to_5000");
  {
    TMySqlResultSet rs(*s);
    ASSERT_TRUE(rs.Fetch());
    EXPECT_EQ(ErrorOf([&] { s->Ping(); }), 2014);
  }
  EXPECT_EQ(Scalar(*s, "SELECT 8"), "8");
}

TEST(MySqlSessionDbTest, LoadDataLocalSendsOnlyTheNamedReadableFile) {
  TScratchDb db;
  auto s = OpenNative(db.Name);
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

#include "tests/mysql/MariaDbOracle.h"

namespace {

using TValues = TOracleValues;

TValues OracleValues(const std::string& sql, bool compress) {
  std::string error;
  TValues v = MariaDbOracleValues(Srv().Host, Srv().Port, Srv().NativeUser, Srv().NativePassword, "mysql", sql,
                                  compress, error);
  if (!error.empty()) ADD_FAILURE() << error;
  return v;
}

TValues SessionValues(const std::string& sql, bool compress, bool buffered) {
  auto s = OpenNative("mysql", compress ? CLIENT_COMPRESS : 0);
  s->Query(sql);
  TMySqlResultSet rs(*s);
  if (buffered) rs.ReadAll();
  TValues values;
  while (rs.Fetch()) {
    for (const TMySqlBind& b : rs.Row().Binds)
      values.emplace_back(b.IsNull != 0,
                          b.IsNull ? std::string() : std::string(reinterpret_cast<const char*>(rs.RowData().data()) + b.Position, b.Length));
  }
  return values;
}

}  // namespace

TEST(MySqlSessionDbTest, TenThousandRowsMatchTheCClientLibrary) {
  // NULLs, empty strings, short and long (2- and 3-byte length) values, numbers, dates, binary.
  const std::string sql =
      "SELECT seq, IF(seq % 7 = 0, NULL, CONCAT('v', seq)), IF(seq % 5 = 0, '', REPEAT('x', seq % 300)), "
      "seq * 1.5, IF(seq % 11 = 0, NULL, FROM_UNIXTIME(seq * 3600)), UNHEX(LPAD(HEX(seq), 8, '0')), "
      "IF(seq % 2500 = 0, REPEAT('long', 20000), NULL), IF(seq % 3 = 0, '', NULL) FROM seq_1_to_10000";
  for (bool compress : {false, true}) {
    SCOPED_TRACE(compress ? "compressed" : "plain");
    const TValues expected = OracleValues(sql, compress);
    ASSERT_EQ(expected.size(), 10000u * 8);
    for (bool buffered : {false, true}) {
      SCOPED_TRACE(buffered ? "buffered" : "unbuffered");
      const TValues got = SessionValues(sql, compress, buffered);
      ASSERT_EQ(got.size(), expected.size());
      size_t mismatches = 0;
      for (size_t i = 0; i < got.size(); ++i)
        if (got[i] != expected[i] && ++mismatches < 5) ADD_FAILURE() << "value " << i << " differs";
      EXPECT_EQ(mismatches, 0u);
    }
  }
}
