// The direct client API against the test server: its error convention, results and statements.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstring>
#include <span>

#include "core/MemBlob.h"
#include "mysql/MyClasses.h"
#include "tests/mysql/ApiTestSupport.h"

using namespace api_test;

namespace {

template <typename T>
std::string Shortest(T value) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
}

std::string Pad(uint64_t value, size_t width) {
  const std::string s = std::to_string(value);
  return std::string(width > s.size() ? width - s.size() : 0, '0') + s;
}

// A value in the form the text protocol gives it; floats in their shortest form, so that the
// server's text and a binary value of the same number read alike.
std::string Normalized(const TMySqlFieldRecord& f, const std::string& text) {
  if (f.Type == mftFloat) return Shortest(std::strtof(text.c_str(), nullptr));
  if (f.Type == mftDouble) return Shortest(std::strtod(text.c_str(), nullptr));
  return text;
}

std::string BinaryAsText(const TMySqlFieldRecord& f, std::span<const uint8_t> v) {
  uint64_t raw = 0;
  for (size_t i = std::min<size_t>(v.size(), 8); i-- > 0;) raw = raw << 8 | v[i];
  const int unused = 64 - 8 * static_cast<int>(std::min<size_t>(v.size(), 8));
  switch (f.Type) {
    case mftTiny:
    case mftShort:
    case mftLong:
    case mftInt24:
    case mftLongLong:
      return f.Flags & mffUnsigned ? std::to_string(raw)
                                   : std::to_string(static_cast<int64_t>(raw << unused) >> unused);
    case mftYear:
      return Pad(raw, 4);
    case mftFloat:
      return Shortest(std::bit_cast<float>(static_cast<uint32_t>(raw)));
    case mftDouble:
      return Shortest(std::bit_cast<double>(raw));
    case mftDate:
    case mftDateTime:
    case mftTimestamp:
    case mftTime: {
      const TMySqlTime t = DecodeMySqlBinaryTemporal(v, f.Type);
      const std::string date = Pad(t.Year, 4) + "-" + Pad(t.Month, 2) + "-" + Pad(t.Day, 2);
      std::string time = Pad(t.Hour, 2) + ":" + Pad(t.Minute, 2) + ":" + Pad(t.Second, 2);
      if (f.Decimals > 0 && f.Decimals <= 6) time += "." + Pad(t.SecondPart, 6).substr(0, f.Decimals);
      return f.Type == mftDate ? date : f.Type == mftTime ? (t.Neg ? "-" : "") + time : date + " " + time;
    }
    default:
      return std::string(v.begin(), v.end());
  }
}

}  // namespace

// Server errors read CR LF and the server's text; each call clears the error first; statement
// errors stay in the statement; a handle whose connect failed connects later.
TEST(MySqlApiDirectDbTest, ErrorsAreKeptInTheHandleAndCleared) {
  const auto& srv = TestServer::Info();
  TConn c({}, srv.NativeUser, "wrong");
  EXPECT_FALSE(c.Connected());
  EXPECT_EQ(Api().mysql_errno(c), 1045u);
  EXPECT_NE(c.Error().find("Access denied"), std::string::npos);
  ASSERT_EQ(Api().mysql_real_connect(c, srv.Host, srv.NativeUser, srv.NativePassword, {}, srv.Port, {}, 0),
            c.Handle());
  EXPECT_EQ(Api().mysql_real_query(c, "SELEC 1"), 1064);
  EXPECT_EQ(Api().mysql_errno(c), 1064u);
  EXPECT_EQ(c.Error().rfind("\r\nYou have an error in your SQL syntax", 0), 0u) << c.Error();
  EXPECT_EQ(Api().mysql_ping(c), 0);
  EXPECT_EQ(Api().mysql_errno(c), 0u);
  EXPECT_EQ(c.Error(), "");

  EXPECT_EQ(Api().mysql_select_db(c, "no_such_db_h10"), 1049);
  PMYSQL_STMT bad = Api().mysql_stmt_init(c);
  EXPECT_EQ(Api().mysql_stmt_prepare(bad, "SELECT * FROM no_such_db_h10.t"), 1146);
  EXPECT_EQ(Api().mysql_stmt_errno(bad), 1146u);
  EXPECT_EQ(Api().StmtExecute(bad, {}, false), 2029) << "a statement that failed to prepare";
  EXPECT_EQ(Api().mysql_stmt_error(bad), "Statement not prepared");
  EXPECT_EQ(Api().mysql_errno(c), 1049u);
  Api().mysql_stmt_close(bad);
  EXPECT_EQ(Scalar(c, "SELECT 7"), "7") << "the session stays usable";
}

TEST(MySqlApiDirectDbTest, UsingAResultTwiceIsOutOfSync) {
  TConn c;
  ASSERT_EQ(Api().mysql_real_query(c, "SELECT 1 UNION SELECT 2"), 0);
  PMYSQL_RES res = Api().mysql_use_result(c);
  ASSERT_NE(res, nullptr);
  EXPECT_EQ(Api().mysql_use_result(c), nullptr);
  EXPECT_EQ(Api().mysql_errno(c), 2014u);
  EXPECT_EQ(c.Error(), "Commands out of sync;  You can't run this command now\r\nmysql.status = 2");
  EXPECT_EQ(Api().mysql_next_result(c), 2014) << "rows are unread";
  EXPECT_EQ(Api().mysql_real_query(c, "SELECT 3"), 2014);
  ASSERT_NE(Api().mysql_fetch_row(res), nullptr);
  Api().mysql_free_result(res);  // reads the row left
  EXPECT_EQ(Scalar(c, "SELECT 3"), "3");
  Exec(c, "DO 1");
  EXPECT_EQ(Api().mysql_use_result(c), nullptr) << "a reply without rows";
  EXPECT_EQ(Api().mysql_errno(c), 0u);
}

// Field descriptions as the provider reads them, the second result of a batch.
TEST(MySqlApiDirectDbTest, FieldInfoOfABatchsSecondResult) {
  TScratchDb db;
  TConn c(db.Name());
  Exec(c, "CREATE TABLE t (a VARCHAR(20) NOT NULL, b LONGTEXT, c DECIMAL(8,3) UNSIGNED)");
  Exec(c, "INSERT INTO t VALUES ('hello', NULL, 1.5)");
  ASSERT_EQ(Api().mysql_real_query(c, "SELECT 1; SELECT a AS alias, b, c FROM t"), 0);
  Api().mysql_free_result(Api().mysql_use_result(c));
  ASSERT_EQ(Api().mysql_next_result(c), 0);
  PMYSQL_RES res = Api().mysql_use_result(c);
  ASSERT_NE(res, nullptr);
  TMySqlFieldRecord f;
  Api().GetFieldInfo(res, 0, f, false);
  EXPECT_EQ(std::vector<std::string>({f.Name, f.OrgName, f.Table, f.Database}),
            std::vector<std::string>({"alias", "a", "t", db.Name()}));
  Api().GetFieldInfo(res, 1, f, true);
  EXPECT_EQ(f.Length, 65535u) << "lengths are limited";
  Api().GetFieldInfo(res, 2, f, false);
  EXPECT_EQ(f.Decimals, 3u);
  EXPECT_TRUE(f.Flags & mffUnsigned);
  ASSERT_NE(Api().mysql_fetch_row(res), nullptr);
  std::vector<uint32_t> lengths;
  Api().GetLengths(res, lengths);
  EXPECT_EQ(lengths, (std::vector<uint32_t>{5, 0, 5}));
  EXPECT_EQ(Api().mysql_fetch_row(res), nullptr);
  Api().mysql_free_result(res);
  EXPECT_EQ(Api().mysql_next_result(c), -1);
}

TEST(MySqlApiDirectDbTest, PreparedInsertOfEveryParameterTypeReadsBackEqual) {
  TScratchDb db;
  TConn c(db.Name());
  Exec(c,
       "CREATE TABLE t (id INT, i8 TINYINT, b TINYINT(1), i16 SMALLINT, u16 SMALLINT UNSIGNED, i32 INT, "
       "u32 INT UNSIGNED, i64 BIGINT, f DOUBLE, d DATE, tm TIME, dt DATETIME(3), s VARCHAR(40), "
       "m TEXT, bl LONGBLOB, n DECIMAL(12,4))");
  std::string big(17 * 1024 * 1024 + 5, '\0');  // more than one 16 MB packet chunk
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  TBlob* blob = new TBlob;
  blob->Write(0, static_cast<uint32_t>(big.size()), big.data());
  ASSERT_NE(blob->GetFirstPiece()->Next, nullptr) << "the blob is held in pieces";

  TStmt ins(c, "INSERT INTO t VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  ASSERT_EQ(Api().mysql_stmt_param_count(ins), 16u);
  const TDateTime when = EncodeDateTime(2004, 5, 6, 7, 8, 9, 10);
  std::vector<TMySqlStmtParam> row = {P(dtInt32, 1),
                                      P(dtInt8, -100),
                                      P(dtBoolean, true),
                                      P(dtInt16, -30000),
                                      P(dtUInt16, 65535),
                                      P(dtInt32, -2000000000),
                                      P(dtUInt32, 3000000000LL),
                                      P(dtInt64, -9000000000000000000LL),
                                      P(dtFloat, 0.1),
                                      P(dtDate, Variant::FromDateTime(when)),
                                      P(dtTime, Variant::FromDateTime(EncodeTime(7, 8, 9, 0))),
                                      P(dtDateTime, Variant::FromDateTime(when)),
                                      P(dtString, std::string("it's \"quoted\"")),
                                      P(dtMemo, std::string("memo\nline")),
                                      P(dtBlob, Variant::FromObject(static_cast<TSharedObject*>(blob))),
                                      P(dtFmtBCD, std::string("-12345678.1234"))};
  ASSERT_EQ(ins.Execute(row), 0) << Api().mysql_stmt_error(ins);
  EXPECT_EQ(Api().mysql_stmt_affected_rows(ins), 1u);
  blob->Release();

  std::vector<TMySqlStmtParam> nulls(16, P(dtString, Variant::Null()));
  nulls[0] = P(dtInt32, 2);
  nulls[10] = P(dtTime, Variant::FromDateTime(-1.25));  // -30:00:00
  nulls[14] = P(dtBlob, Variant(), true);
  ASSERT_EQ(ins.Execute(nulls), 0) << Api().mysql_stmt_error(ins);

  const TRowsText text =
      Query(c, "SELECT i8, b, i16, u16, i32, u32, i64, f, d, tm, dt, s, m, LENGTH(bl), n FROM t ORDER BY id");
  ASSERT_EQ(text.size(), 2u);
  const std::vector<TValue> expected = {"-100",
                                        "1",
                                        "-30000",
                                        "65535",
                                        "-2000000000",
                                        "3000000000",
                                        "-9000000000000000000",
                                        "0.1",
                                        "2004-05-06",
                                        "07:08:09",
                                        "2004-05-06 07:08:09.010",
                                        "it's \"quoted\"",
                                        "memo\nline",
                                        std::to_string(big.size()),
                                        "-12345678.1234"};
  EXPECT_EQ(text[0], expected);
  std::vector<TValue> nullRow(15, TValue());
  nullRow[9] = "-30:00:00";
  EXPECT_EQ(text[1], nullRow);
  EXPECT_EQ(Scalar(c, "SELECT bl FROM t WHERE id = 1") == big, true) << "the long blob's bytes";
}

TEST(MySqlApiDirectDbTest, PreparedSelectOfEveryColumnTypeMatchesTheTextProtocol) {
  TScratchDb db;
  TConn c(db.Name());
  CreateEveryColumnType(c);
  const std::string select = "SELECT * FROM t ORDER BY id";
  const TRowsText text = Query(c, select);
  ASSERT_EQ(text.size(), 3u);

  TStmt sel(c, select);
  ASSERT_EQ(Api().mysql_stmt_field_count(sel), 33u);
  ASSERT_EQ(sel.Execute({}), 0) << Api().mysql_stmt_error(sel);
  PMYSQL_RES meta = Api().mysql_stmt_result_metadata(sel);
  ASSERT_NE(meta, nullptr);
  std::vector<TMySqlFieldRecord> fields(Api().mysql_num_fields(meta));
  for (uint32_t i = 0; i < fields.size(); ++i) Api().GetFieldInfo(meta, i, fields[i], false);
  Api().mysql_free_result(meta);
  ASSERT_EQ(Api().StmtBindResults(sel), 0);
  size_t n = 0;
  std::vector<uint32_t> lengths;
  for (; Api().StmtFetchRow(sel) == 0; ++n) {
    ASSERT_LT(n, text.size());
    Api().StmtGetLengths(sel, lengths);
    for (uint32_t i = 0; i < fields.size(); ++i) {
      SCOPED_TRACE("row " + std::to_string(n) + " column " + fields[i].Name);
      const uint8_t* p = Api().StmtGetColumnPtr(sel, i);
      ASSERT_EQ(p == nullptr, !text[n][i].has_value());
      if (p) {
        EXPECT_EQ(BinaryAsText(fields[i], {p, lengths[i]}), Normalized(fields[i], *text[n][i]));
      }
    }
  }
  EXPECT_EQ(n, text.size());
  EXPECT_EQ(Api().StmtFetchRow(sel), MYSQL_NO_DATA);
}

// Conversion errors pass and send nothing; a new execute frees the rows left of the last one.
TEST(MySqlApiDirectDbTest, StatementsRunAgainWithOtherValuesAndTypes) {
  TScratchDb db;
  TConn c(db.Name());
  Exec(c, "CREATE TABLE t (v VARCHAR(20))");
  TStmt ins(c, "INSERT INTO t VALUES (?)");
  for (const Variant& v : {Variant(5), Variant(6), Variant(std::string("seven"))})
    ASSERT_EQ(ins.Execute({P(v.IsString() ? dtString : dtInt32, v)}), 0);
  EXPECT_THROW(ins.Execute({P(dtInt8, 1000)}), EConvertError);
  ASSERT_EQ(ins.Execute({P(dtString, std::string("eight"))}), 0);
  EXPECT_EQ(Scalar(c, "SELECT GROUP_CONCAT(v ORDER BY v) FROM t"), "5,6,eight,seven");

  TStmt sel(c, "SELECT v FROM t WHERE v > ? ORDER BY v");
  for (const char* from : {"6", "e"}) {
    ASSERT_EQ(sel.Execute({P(dtString, std::string(from))}), 0);
    ASSERT_EQ(Api().StmtFetchRow(sel), 0);
  }
  ASSERT_EQ(Api().StmtFetchRow(sel), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Api().StmtGetColumnPtr(sel, 0)), 5), "seven");
  EXPECT_EQ(Api().StmtFetchRow(sel), MYSQL_NO_DATA);
  EXPECT_EQ(Api().StmtExecute(sel, {}, false), 1210) << "too few parameters: the server refuses";
}

TEST(MySqlApiDirectDbTest, ProcedureResultsAreDrainedWithTheStatementsResult) {
  TScratchDb db;
  TConn c(db.Name());
  Exec(c, "CREATE PROCEDURE p() BEGIN SELECT 1; SELECT 2, 3; END");
  TStmt call(c, "CALL p()");
  ASSERT_EQ(call.Execute({}), 0) << Api().mysql_stmt_error(call);
  ASSERT_EQ(Api().StmtFetchRow(call), 0);
  EXPECT_FALSE(Api().mysql_stmt_free_result(call));
  EXPECT_EQ(Scalar(c, "SELECT 4"), "4") << "no result of the call is left pending";
}

// Statements and results outlive a session closed first, or killed from elsewhere: calls report
// errors, closing raises nothing.
TEST(MySqlApiDirectDbTest, StatementsOfAClosedOrKilledSessionAreSafe) {
  TConn killer, victim;
  PMYSQL_CON h = Api().mysql_init(nullptr);
  const auto& srv = TestServer::Info();
  ASSERT_NE(Api().mysql_real_connect(h, srv.Host, srv.NativeUser, srv.NativePassword, {}, srv.Port, {}, 0),
            nullptr);
  PMYSQL_STMT stmt = Api().mysql_stmt_init(h), idle = Api().mysql_stmt_init(h);
  ASSERT_EQ(Api().mysql_stmt_prepare(stmt, "SELECT 1 UNION SELECT 2"), 0);
  ASSERT_EQ(Api().StmtExecute(stmt, {}, false), 0);
  ASSERT_EQ(Api().mysql_real_query(h, "DO 1"), 2014) << "the statement's rows are unread";
  Api().mysql_close(h);
  EXPECT_EQ(Api().StmtFetchRow(stmt), MYSQL_NO_DATA);
  EXPECT_EQ(Api().mysql_stmt_prepare(idle, "SELECT 1"), 2006);
  EXPECT_FALSE(Api().mysql_stmt_close(stmt));
  EXPECT_FALSE(Api().mysql_stmt_close(idle));

  PMYSQL_STMT killed = Api().mysql_stmt_init(victim);
  ASSERT_EQ(Api().mysql_stmt_prepare(killed, "SELECT 1"), 0);
  ASSERT_EQ(Api().mysql_kill(killer, Api().mysql_thread_id(victim)), 0);
  EXPECT_NE(Api().StmtExecute(killed, {}, false), 0);
  EXPECT_FALSE(Api().mysql_stmt_close(killed));  // the close cannot be sent; nothing is raised
  PMYSQL_STMT second = Api().mysql_stmt_init(victim);
  EXPECT_EQ(Api().mysql_stmt_prepare(second, "SELECT 1"), 2006);
  Api().mysql_stmt_close(second);
  EXPECT_EQ(Scalar(killer, "SELECT 1"), "1");
}
