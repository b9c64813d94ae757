// Prepared statements through the direct API against the scripted fake server: the bytes sent,
// and faults at every step. (The fake server runs on a thread of its own.)
#include <gtest/gtest.h>

#include "mysql/MyClasses.h"
#include "mysql/MySqlApiDirect.h"
#include "support/FakeMySqlServer.h"
#include "tests/mysql/MySqlPacketFactory.h"

using namespace mysql_test;

namespace {

constexpr uint32_t kStmtId = 0x11223344;

TMySQLAPIDirect& Api() {
  return MyAPIDirect();
}

PMYSQL_CON Connect(const TFakeMySqlServer& server) {
  PMYSQL_CON h = Api().mysql_init(nullptr);
  Api().mysql_options(h, MYSQL_OPT_CONNECT_TIMEOUT, 3);
  Api().SetTimeout(h, 3);
  Api().mysql_real_connect(h, "127.0.0.1", "u", "pw", "db", static_cast<uint32_t>(server.Port()), {}, 0);
  return h;
}

// A command packet with the statement id first, then args.
Bytes Command(uint8_t command, const Bytes& args = {}) {
  Bytes b{command};
  Put(b, kStmtId, 4);
  b.insert(b.end(), args.begin(), args.end());
  return b;
}

Bytes PrepareOk(uint16_t fields, uint16_t params) {
  Bytes b = Command(0);
  Put(b, fields | params << 16, 4);
  Put(b, 0, 3);
  return b;
}

Bytes IntField() {
  return FieldPacket41("db", "t", "t", "v", "v", 63, 11, mftLong, 0, 0);
}

// The prepare of "SELECT v FROM t WHERE v > ?" and its reply, from sequence 0 on.
TFakeMySqlServer& Prepared(TFakeMySqlServer& server) {
  Bytes prepare{COM_STMT_PREPARE};
  PutText(prepare, "SELECT v FROM t WHERE v > ?");
  server.ExpectPacket(0, prepare).SendPacket(1, PrepareOk(1, 1)).SendPacket(2, IntField());
  return server.SendPacket(3, EofPacket(0, 2)).SendPacket(4, IntField()).SendPacket(5, EofPacket(0, 2));
}

// An execute with one LONG parameter of value 5; types only when `types`.
Bytes Execute(bool types) {
  Bytes b = Command(COM_STMT_EXECUTE, {0, 1, 0, 0, 0, 0, static_cast<uint8_t>(types)});
  if (types) b.insert(b.end(), {3, 0});
  Put(b, 5, 4);
  return b;
}

// One execute answered by a result of two binary rows, 6 and 7, from sequence 0 on.
TFakeMySqlServer& Rows(TFakeMySqlServer& server, bool types) {
  server.ExpectPacket(0, Execute(types)).SendPacket(1, Bytes{1}).SendPacket(2, IntField());
  server.SendPacket(3, EofPacket(0, 2))
      .SendPacket(4, Bytes{0, 0, 6, 0, 0, 0})
      .SendPacket(5, Bytes{0, 0, 7, 0, 0, 0});
  return server.SendPacket(6, EofPacket(0, 2));
}

std::vector<int32_t> FetchAll(PMYSQL_STMT stmt, int& rc) {
  std::vector<int32_t> values;
  Api().StmtBindResults(stmt);
  while ((rc = Api().StmtFetchRow(stmt)) == 0) {
    int32_t v;
    std::memcpy(&v, Api().StmtGetColumnPtr(stmt, 0), 4);
    values.push_back(v);
  }
  return values;
}

// One INT parameter of value 5.
struct TParams : TParamDescs {
  TParams() {
    TParamDesc* d = Add(std::make_unique<TParamDesc>());
    d->SetDataType(dtInt32), d->SetValue(5);
  }
};

}  // namespace

TEST(MySqlStmtFakeTest, TypesGoWithTheFirstExecuteOnlyAndCloseIsSentOnce) {
  TFakeMySqlServer server;
  Rows(Rows(Prepared(LoggedIn(server)), true), false);
  server.ExpectPacket(0, Command(COM_STMT_CLOSE)).ExpectPacket(0, Bytes{COM_QUIT}).ExpectClose();
  server.Start();
  PMYSQL_CON con = Connect(server);
  ASSERT_EQ(Api().mysql_errno(con), 0u) << Api().mysql_error(con);
  PMYSQL_STMT stmt = Api().mysql_stmt_init(con);
  ASSERT_EQ(Api().mysql_stmt_prepare(stmt, "SELECT v FROM t WHERE v > ?"), 0) << Api().mysql_stmt_error(stmt);
  EXPECT_EQ(Api().mysql_stmt_param_count(stmt), 1u);
  EXPECT_EQ(Api().mysql_stmt_field_count(stmt), 1u);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(Api().StmtExecute(stmt, TParams(), false), 0) << Api().mysql_stmt_error(stmt);
    int rc = -1;
    EXPECT_EQ(FetchAll(stmt, rc), (std::vector<int32_t>{6, 7}));
    EXPECT_EQ(rc, MYSQL_NO_DATA);
  }
  Api().mysql_stmt_close(stmt);
  Api().mysql_close(con);
  EXPECT_EQ(server.Finish(), "");
}

// A reply longer than its layout, or more column descriptions than announced.
TEST(MySqlStmtFakeTest, MalformedPrepareRepliesBreakTheSession) {
  Bytes longer = PrepareOk(0, 0);
  longer.push_back(9);
  const std::pair<const char*, std::vector<Bytes>> cases[] = {
      {"longer reply", {longer}},
      {"too many descriptions", {PrepareOk(1, 0), IntField(), IntField(), EofPacket(0, 2)}},
  };
  for (const auto& [name, replies] : cases) {
    SCOPED_TRACE(name);
    TFakeMySqlServer server;
    LoggedIn(server).ReadPacket(0);
    for (size_t i = 0; i < replies.size(); ++i) server.SendPacket(static_cast<uint8_t>(i + 1), replies[i]);
    server.ExpectClose();
    server.Start();
    PMYSQL_CON con = Connect(server);
    PMYSQL_STMT stmt = Api().mysql_stmt_init(con);
    EXPECT_EQ(Api().mysql_stmt_prepare(stmt, "SELECT v FROM t"), 2027);
    EXPECT_EQ(Api().mysql_stmt_field_count(stmt), 0u);
    EXPECT_EQ(Api().StmtExecute(stmt, {}, false), 2029);
    EXPECT_EQ(Api().mysql_ping(con), 2006);
    Api().mysql_stmt_close(stmt);
    Api().mysql_close(con);
    EXPECT_EQ(server.Finish(), "");
  }
}

TEST(MySqlStmtFakeTest, ServerErrorsLeaveTheSessionUsable) {
  TFakeMySqlServer server;
  Prepared(LoggedIn(server)).ExpectPacket(0, Execute(true));
  server.SendPacket(1, ErrorPacket41(1062, "23000", "Duplicate entry '5' for key 'PRIMARY'"));
  server.ExpectPacket(0, Execute(true))
      .SendPacket(1, OkPacket41(1, 0, 2));  // types again: the server may not have kept them
  server.ExpectPacket(0, Command(COM_STMT_CLOSE)).ExpectPacket(0, Bytes{COM_QUIT}).ExpectClose();
  server.Start();
  PMYSQL_CON con = Connect(server);
  PMYSQL_STMT stmt = Api().mysql_stmt_init(con);
  ASSERT_EQ(Api().mysql_stmt_prepare(stmt, "SELECT v FROM t WHERE v > ?"), 0);
  EXPECT_EQ(Api().StmtExecute(stmt, TParams(), false), 1062);
  EXPECT_EQ(Api().mysql_stmt_error(stmt), "\r\nDuplicate entry '5' for key 'PRIMARY'");
  EXPECT_EQ(Api().StmtExecute(stmt, TParams(), false), 0) << Api().mysql_stmt_error(stmt);
  EXPECT_EQ(Api().mysql_stmt_affected_rows(stmt), 1u);
  EXPECT_EQ(Api().StmtFetchRow(stmt), MYSQL_NO_DATA) << "no rows";
  Api().mysql_stmt_close(stmt);
  Api().mysql_close(con);
  EXPECT_EQ(server.Finish(), "");
}

// Every step of a prepare, two executes with rows and the closes fails in turn, in every way the
// fake server knows: each call reports 0 or an error number, nothing raises, nothing is read
// outside a packet, and freeing everything afterwards is always possible.
TEST(MySqlStmtFakeTest, AFailureAtEveryStepIsReportedNotRaised) {
  using M = TFakeMySqlServer::TFailMode;
  TFakeMySqlServer probe;
  const int steps = Rows(Rows(Prepared(LoggedIn(probe)), true), false).StepCount();
  for (const M mode : {M::Close, M::CloseMidStep, M::Reset}) {
    for (int step = 3; step < steps; ++step) {
      SCOPED_TRACE("mode " + std::to_string(int(mode)) + " step " + std::to_string(step));
      TFakeMySqlServer server;
      Rows(Rows(Prepared(LoggedIn(server)), true), false).FailAtStep(step, mode);
      server.Start();
      PMYSQL_CON con = Connect(server);
      PMYSQL_STMT stmt = Api().mysql_stmt_init(con);
      int failures = 0;
      if (Api().mysql_stmt_prepare(stmt, "SELECT v FROM t WHERE v > ?") != 0) ++failures;
      for (int round = 0; round < 2 && failures == 0; ++round) {
        if (Api().StmtExecute(stmt, TParams(), false) != 0) {
          ++failures;
          break;
        }
        int rc = 0;
        const auto values = FetchAll(stmt, rc);
        if (rc != MYSQL_NO_DATA)
          ++failures;
        else
          EXPECT_EQ(values, (std::vector<int32_t>{6, 7}));
      }
      EXPECT_EQ(failures, 1);
      const uint32_t err = Api().mysql_stmt_errno(stmt);
      EXPECT_TRUE(err == 2013 || err == 2027 || err == 2006) << err << " " << Api().mysql_stmt_error(stmt);
      EXPECT_NO_THROW(Api().mysql_stmt_close(stmt));
      EXPECT_NO_THROW(Api().mysql_close(con));
      server.Finish();
    }
  }
}
