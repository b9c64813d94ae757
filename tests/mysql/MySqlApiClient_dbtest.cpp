// The client-library variant against the test server: whatever a caller reads through it must
// equal what the direct variant gives for the same data.
#include <gtest/gtest.h>

#include <utility>

#include "mysql/MyClasses.h"
#include "mysql/MySqlApiClient.h"
#include "tests/mysql/ApiTestSupport.h"

using namespace api_test;

namespace {

TMySQLAPIClient& Client() {
  MyAPIClient().Initialize();
  return MyAPIClient();
}

}  // namespace

TEST(MySqlApiClientDbTest, TheLoadedLibraryGivesTheNewestLevelWhateverVersionItReports) {
  const std::string version = Client().mysql_get_client_info();
  EXPECT_EQ(Client().ClientVersion(), version);
  EXPECT_EQ(Client().ClientLevel(), MYSQL_CLIENT_411) << version;
}

// The library answers a failure with a flag; the variant answers with the error number.
TEST(MySqlApiClientDbTest, FailuresReturnTheErrorNumberAndTheNextCallClearsIt) {
  TConn lib(Client(), {});
  ASSERT_TRUE(lib.Connected()) << lib.Error();
  EXPECT_EQ(Client().mysql_real_query(lib, "SELEC 1"), 1064);
  EXPECT_EQ(Client().mysql_errno(lib), 1064u);
  EXPECT_EQ(Client().mysql_select_db(lib, "no_such_db_h16"), 1049);
  EXPECT_EQ(Client().mysql_ping(lib), 0);
  EXPECT_EQ(Client().mysql_errno(lib), 0u);
  TStmt bad(Client(), lib, "DO 1");
  EXPECT_EQ(Client().mysql_stmt_prepare(bad, "SELECT * FROM no_such_db_h16.t"), 1146);
  EXPECT_EQ(Client().mysql_stmt_errno(bad), 1146u);
}

TEST(MySqlApiClientDbTest, PreparedParametersOfEveryTypeArriveAsThroughTheDirectVariant) {
  TScratchDb db;
  TConn direct(db.Name());
  TConn lib(Client(), db.Name());
  Exec(direct, "SET NAMES utf8mb4");
  Exec(Client(), lib, "SET NAMES utf8mb4");
  const std::string columns =
      "(id INT, i8 TINYINT, b TINYINT(1), i16 SMALLINT, u16 SMALLINT UNSIGNED, i32 INT, u32 INT UNSIGNED, "
      "i64 BIGINT, f DOUBLE, d DATE, tm TIME, dt DATETIME(3), s VARCHAR(40) CHARACTER SET utf8mb4, m TEXT, "
      "bl LONGBLOB, n DECIMAL(12,4))";
  Exec(direct, "CREATE TABLE t_direct " + columns);
  Exec(direct, "CREATE TABLE t_lib " + columns);
  std::string big(3 * 1024 * 1024 + 7, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  const TDateTime when = EncodeDateTime(2004, 5, 6, 7, 8, 9, 10);
  const std::vector<std::vector<TMySqlStmtParam>> rows = {
      {P(dtInt32, 1), P(dtInt8, -100), P(dtBoolean, true), P(dtInt16, -30000), P(dtUInt16, 65535),
       P(dtInt32, -2000000000), P(dtUInt32, 3000000000LL), P(dtInt64, -9000000000000000000LL),
       P(dtFloat, 0.1), P(dtDate, Variant::FromDateTime(when)), P(dtTime, Variant::FromDateTime(-1.25)),
       P(dtDateTime, Variant::FromDateTime(when)), P(dtWideString, std::u16string(u"你好 \"quoted\"")),
       P(dtMemo, std::string("memo\nline")), P(dtBlob, Variant::FromBytes(big.data(), big.size())),
       P(dtFmtBCD, std::string("-12345678.1234"))},
      {P(dtInt32, 2), P(dtInt8, Variant::Null()), P(dtBoolean, false), P(dtInt16, 0), P(dtUInt16, 0),
       P(dtInt32, 0), P(dtUInt32, 0), P(dtInt64, 0), P(dtFloat, -1e300),
       P(dtDate, Variant::FromDateTime(MySQLZeroDate)),
       P(dtTime, Variant::FromDateTime(EncodeTime(23, 59, 59, 999))), P(dtDateTime, Variant::Null()),
       P(dtString, std::string()), P(dtMemo, std::string()), P(dtBlob, Variant(), true),
       P(dtFmtBCD, std::string("0"))}};
  for (const auto& [api, con, table] :
       {std::tuple<TMySQLAPI*, PMYSQL_CON, std::string>{&Api(), direct, "t_direct"},
        {&Client(), lib, "t_lib"}}) {
    TStmt ins(*api, con, "INSERT INTO " + table + " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (const auto& row : rows)
      ASSERT_EQ(ins.Execute(row, true), 0) << table << ": " << api->mysql_stmt_error(ins);
  }
  const std::string select =
      "SELECT i8, b, i16, u16, i32, u32, i64, f, d, tm, dt, HEX(s), m, MD5(bl), n FROM ";
  const TRowsText expected = Query(direct, select + "t_direct ORDER BY id");
  EXPECT_EQ(Query(direct, select + "t_lib ORDER BY id"), expected);
  ASSERT_EQ(expected.size(), 2u);
  EXPECT_EQ(expected[0][9], "-30:00:00");
}

TEST(MySqlApiClientDbTest, AParameterCountThatDoesNotMatchIsRefusedBeforeSending) {
  TScratchDb db;
  TConn lib(Client(), db.Name());
  Exec(Client(), lib, "CREATE TABLE t (a INT, b INT)");
  TStmt ins(Client(), lib, "INSERT INTO t VALUES (?, ?)");
  for (size_t count : {1, 3}) {
    std::vector<TMySqlStmtParam> params(count, P(dtInt32, 5));
    EXPECT_EQ(ins.Execute(params), 2030);
    EXPECT_EQ(Client().mysql_stmt_errno(ins), 2030u);
    EXPECT_EQ(Client().mysql_stmt_error(ins), "Not all parameters data supplied");
  }
  ASSERT_EQ(ins.Execute({P(dtInt32, 1), P(dtInt32, 2)}), 0);
  EXPECT_EQ(Client().mysql_stmt_errno(ins), 0u);
  EXPECT_EQ(Scalar(Client(), lib, "SELECT COUNT(*) FROM t"), "1");
}

// Values bound first are the ones the next execute sends; a column's value comes in pieces from
// any offset. Both variants alike.
TEST(MySqlApiClientDbTest, BoundParametersExecuteLaterAndColumnsComeInPieces) {
  TScratchDb db;
  TConn direct(db.Name());
  TConn lib(Client(), db.Name());
  for (const auto& [api, con] : {std::pair<TMySQLAPI*, PMYSQL_CON>{&Api(), direct}, {&Client(), lib}}) {
    SCOPED_TRACE(api == &Api() ? "direct" : "client library");
    TStmt sel(*api, con, "SELECT CONCAT(?, 'xyz'), ? + 1");
    EXPECT_EQ(api->StmtBindParams(sel, TParams({P(dtString, std::string("abc"))}), false), 2030);
    ASSERT_EQ(api->StmtBindParams(sel, TParams({P(dtString, std::string("abc")), P(dtInt32, 41)}), false), 0);
    ASSERT_EQ(api->mysql_stmt_execute(sel), 0) << api->mysql_stmt_error(sel);
    ASSERT_EQ(api->StmtBindResults(sel), 0);
    ASSERT_EQ(api->StmtFetchRow(sel), 0);
    char piece[3] = {};
    uint32_t copied = 0;
    const std::vector<std::pair<uint32_t, std::string>> pieces = {{0, "abc"}, {2, "cxy"}, {5, "z"}, {6, ""}};
    for (const auto& [offset, want] : pieces) {
      EXPECT_EQ(api->StmtFetchColumn(sel, 0, offset, piece, sizeof piece, copied), 0);
      EXPECT_EQ(std::string(piece, copied), want) << "from " << offset;
    }
    int64_t number = 0;
    EXPECT_EQ(api->StmtFetchColumn(sel, 1, 0, &number, sizeof number, copied), 0);
    EXPECT_GT(copied, 0u);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(api->StmtFetchRow(sel), MYSQL_NO_DATA);
  }
}

TEST(MySqlApiClientDbTest, ClosingTheConnectionFirstLeavesResultsAndStatementsSafe) {
  const auto& srv = TestServer::Info();
  PMYSQL_CON h = Client().mysql_init(nullptr);
  ASSERT_NE(Client().mysql_real_connect(h, srv.Host, srv.NativeUser, srv.NativePassword, {}, srv.Port, {}, 0),
            nullptr);
  PMYSQL_STMT stmt = Client().mysql_stmt_init(h);
  ASSERT_EQ(Client().mysql_stmt_prepare(stmt, "SELECT 1"), 0);
  ASSERT_EQ(Client().mysql_real_query(h, "SELECT 1 UNION SELECT 2"), 0);
  PMYSQL_RES res = Client().mysql_use_result(h);
  ASSERT_NE(Client().mysql_fetch_row(res), nullptr);
  const int before = Client().OpenConnections();
  Client().mysql_close(h);
  EXPECT_EQ(Client().OpenConnections(), before - 1);
  EXPECT_EQ(Client().mysql_fetch_row(res), nullptr);
  Client().mysql_free_result(res);
  EXPECT_NE(Client().StmtExecute(stmt, TParams(), false), 0);
  Client().mysql_stmt_close(stmt);
}

TEST(MySqlApiClientDbTest, TheLibraryStaysWhileConnectionsAreOpen) {
  {
    TConn lib(Client(), {});
    ASSERT_TRUE(lib.Connected());
    EXPECT_THROW(Client().Unload(), EInvalidOperation);
    EXPECT_TRUE(Client().Loaded());
    EXPECT_EQ(Scalar(Client(), lib, "SELECT 5"), "5");
  }
  MyAPIClient().Unload();
  EXPECT_FALSE(MyAPIClient().Loaded());
  TConn again(Client(), {});
  EXPECT_EQ(Scalar(Client(), again, "SELECT 6"), "6") << "loaded again";
}

TEST(MySqlApiClientDbTest, ProcedureResultsAreDrainedWithTheStatementsResult) {
  TScratchDb db;
  TConn lib(Client(), db.Name());
  Exec(Client(), lib, "CREATE PROCEDURE p() BEGIN SELECT 1; SELECT 2, 3; END");
  TStmt call(Client(), lib, "CALL p()");
  for (int run = 0; run < 2; ++run) {  // a new execute drops what the last one left
    ASSERT_EQ(call.Execute({}), 0) << Client().mysql_stmt_error(call);
    ASSERT_EQ(Client().StmtBindResults(call), 0);
    ASSERT_EQ(Client().StmtFetchRow(call), 0);
  }
  EXPECT_FALSE(Client().mysql_stmt_free_result(call));
  EXPECT_EQ(Scalar(Client(), lib, "SELECT 4"), "4") << "no result of the call is left pending";
}
