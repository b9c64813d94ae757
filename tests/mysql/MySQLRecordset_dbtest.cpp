// The MySQL record set end to end against the test server.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ApiTestSupport.h"
#include "core/MemBlob.h"
#include "mysql/MySQLRecordset.h"
#include "mysql/MySqlApiClient.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

using api_test::TScratchDb;
using TRows = std::vector<std::string>;  // one text per record, fields joined with "|"

// Every test runs through the direct protocol and through the client library: the record set must
// not see which.
class MySQLRecordsetDbTest : public ::testing::TestWithParam<bool> {
 public:
  static TMySQLAPI& Api() { return GetParam() ? static_cast<TMySQLAPI&>(MyAPIClient()) : MyAPIDirect(); }
};

std::unique_ptr<TMySQLConnection> Open(const std::string& database, const std::string& charset = "gbk",
                                       bool unicode = false) {
  const auto& srv = TestServer::Info();
  auto c = std::make_unique<TMySQLConnection>();
  c->SetProp(prMySQLAPI, Variant::FromObject(&MySQLRecordsetDbTest::Api()));
  c->SetServer(srv.Host);
  c->SetUsername(srv.NativeUser);
  c->SetPassword(srv.NativePassword);
  c->SetProp(prPort, srv.Port);
  c->SetProp(prDatabase, database);
  c->SetProp(prCharset, charset);
  c->SetProp(prUseUnicode, unicode);
  c->Connect("");
  EXPECT_EQ(c->GetAPI(), &MySQLRecordsetDbTest::Api());
  return c;
}

std::unique_ptr<TMySQLRecordset> Recordset(TMySQLConnection& c, const std::string& sql,
                                           const std::function<void(TMySQLRecordset&)>& setup = {}) {
  auto rs = std::make_unique<TMySQLRecordset>();
  rs->SetConnection(&c);
  rs->SetSQL(sql);
  if (setup) setup(*rs);
  return rs;
}

std::string FieldText(TMySQLRecordset& rs, int fieldNo, void* buf) {
  if (rs.GetNull(fieldNo, buf)) return "<null>";
  if (rs.FieldOf(fieldNo).DataType == dtBlob) return std::to_string(rs.GetBlobSize(fieldNo, buf)) + " bytes";
  // A time of day and a negative time share their date-time text: the value itself tells them.
  if (rs.FieldOf(fieldNo).DataType == dtTime)
    return FloatToStr(rs.GetFieldAsVariant(fieldNo, buf).AsDateTime());
  const TDataType type = rs.FieldOf(fieldNo).DataType;
  if ((type == dtDate || type == dtDateTime) && rs.GetFieldAsVariant(fieldNo, buf).AsDateTime() < MinDateTime)
    return "zero date";
  return VarToStr(rs.GetFieldAsVariant(fieldNo, buf));
}

// Every record from the first on.
TRows Rows(TMySQLRecordset& rs) {
  TRows rows;
  std::unique_ptr<void, void (*)(void*)> owned(rs.AllocRecBuf(), TData::FreeRecBuf);
  void* buf = owned.get();
  rs.SetToBegin();
  for (rs.GetNextRecord(buf); !rs.GetEof(); rs.GetNextRecord(buf)) {
    std::string text;
    for (int i = 1; i <= rs.GetFieldCount(); ++i) text += (i > 1 ? "|" : "") + FieldText(rs, i, buf);
    rows.push_back(text);
  }
  return rows;
}

void Exec(TMySQLConnection& c, const std::string& sql) {
  c.ExecSQL(sql);
}

std::string Scalar(TMySQLConnection& c, const std::string& sql) {
  auto rs = Recordset(c, sql, [](TMySQLRecordset& r) { r.SetProp(prFetchAll, true); });
  rs->Open();
  const TRows rows = Rows(*rs);
  return rows.empty() ? "<none>" : rows[0];
}

TEST_P(MySQLRecordsetDbTest, PagedAccountTable) {
  TScratchDb db;
  auto c = Open(db.Name());
  Exec(*c,
       "CREATE TABLE user (idx INT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY, username VARCHAR(32) NOT "
       "NULL, "
       "`password` VARCHAR(32), deleted TINYINT(1) NOT NULL DEFAULT 0, user_priv INT, "
       "create_date DATETIME, email VARCHAR(64), webmoney BIGINT) CHARSET gbk");
  Exec(*c,
       "INSERT INTO user (username, `password`, user_priv, create_date, email, webmoney) SELECT "
       "CONCAT('player', seq), '0123456789abcdef', seq % 3, '2024-01-01' + INTERVAL seq DAY, "
       "CONCAT('p', seq, '@example.com'), seq * 1000 FROM seq_1_to_35");
  auto page = Recordset(*c, "Select * from user  LIMIT 0,17");
  page->Open();
  const TRows rows = Rows(*page);
  ASSERT_EQ(rows.size(), 17u);
  EXPECT_EQ(rows[0], "1|player1|0123456789abcdef|False|1|2024-01-02|p1@example.com|1000");
  EXPECT_EQ(rows[16], "17|player17|0123456789abcdef|False|2|2024-01-18|p17@example.com|17000");
  struct Want {
    const char* Name;
    TDataType Type;
    uint16_t Length, Size;
    bool Required, Key;
  };
  const Want want[] = {
      {"idx", dtUInt32, 10, 4, true, true},         {"username", dtString, 64, 65, true, false},
      {"password", dtString, 64, 65, false, false}, {"deleted", dtBoolean, 1, 2, true, false},
      {"user_priv", dtInt32, 11, 4, false, false},  {"create_date", dtDateTime, 19, 8, false, false},
      {"email", dtString, 128, 129, false, false},  {"webmoney", dtInt64, 20, 8, false, false},
  };
  ASSERT_EQ(page->GetFieldCount(), 8);
  for (const Want& w : want) {
    SCOPED_TRACE(w.Name);
    auto* f = dynamic_cast<TMySQLFieldDesc*>(page->FieldByName(w.Name));
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->DataType, w.Type);
    EXPECT_EQ(f->Length, w.Length);
    EXPECT_EQ(f->Size, w.Size);
    EXPECT_EQ(f->Required, w.Required);
    EXPECT_EQ(f->IsKey, w.Key);
    ASSERT_NE(f->TableInfo, nullptr);
    EXPECT_EQ(f->TableInfo->GetTableName(), "user");
  }
  auto* idx = static_cast<TMySQLFieldDesc*>(page->FieldByName("idx"));
  EXPECT_TRUE(idx->IsPrimaryKey && idx->IsAutoIncrement && idx->IsUnsigned);
  EXPECT_EQ(page->GetTablesInfo().GetCount(), 1);
  page->Close();
  EXPECT_EQ(Scalar(*c, "Select count(*) count  from user"), "35");
  // Another text on the same record set is analysed anew: its alias, and SHOW's long Type column.
  page->SetSQL("Select u.idx from user u LIMIT 0,17");
  page->Open();
  ASSERT_EQ(page->GetTablesInfo().GetCount(), 1);
  EXPECT_EQ(page->GetTablesInfo()[0]->GetTableAlias(), "u");
  page->Close();
  page->SetSQL("SHOW COLUMNS FROM user");
  page->Open();
  const TFieldDesc* type = page->FieldByName("Type");
  ASSERT_NE(type, nullptr);
  EXPECT_TRUE(type->DataType == dtMemo || type->Length == 256) << type->DataType << " " << type->Length;
  page->Close();
}

// A table of every kind of column, read over the text and the prepared paths.
class TAllTypes {
 public:
  explicit TAllTypes(TMySQLConnection& c) {
    Exec(c, "SET SESSION sql_mode = ''");  // zero dates are allowed
    Exec(c,
         "CREATE TABLE t (id INT PRIMARY KEY, ts TIMESTAMP(6) NULL, d DATE, dt DATETIME, b BIT(16), "
         "iu INT UNSIGNED, bu BIGINT UNSIGNED, m DECIMAL(10,2), tm TIME, tx TEXT, bl BLOB, "
         "g VARCHAR(20) CHARACTER SET gbk) CHARSET gbk");
    Exec(c,
         "INSERT INTO t VALUES (1, '2024-01-02 03:04:05.123456', '2024-02-29', '1800-06-01 12:00:00', "
         "b'100000010', "
         "4294967295, 9223372036854775807, -12345678.91, '-12:30:00', 'text', x'00FF01', x'D6D0CEC4'), "
         "(2, '0000-00-00 00:00:00', '0000-00-00', '0000-00-00 00:00:00', 0, 0, 0, 0, '838:59:59', '', '', "
         "''), "
         "(3, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)");
  }
};

TEST_P(MySQLRecordsetDbTest, AllColumnTypesReadTheSameOverTextAndPreparedPaths) {
  TScratchDb db;
  auto c = Open(db.Name());
  TAllTypes table(*c);
  const std::string zero = "zero date";
  const TRows nullDates = {
      "1|2024-01-02 03:04:05.123456|2024-02-29|1800-06-01 "
      "12:00:00|258|4294967295|9223372036854775807|-12345678.91|"
      "-12:30:00|text|3 bytes|\xD6\xD0\xCE\xC4",
      "2|<null>|<null>|<null>|0|0|0|0|838:59:59||0 bytes|",
      "3|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>|<null>"};
  for (bool prepared : {false, true})
    for (bool nullForZero : {true, false}) {
      SCOPED_TRACE(std::string(prepared ? "prepared" : "text") + (nullForZero ? ", zero date null" : ""));
      auto rs = Recordset(*c, "SELECT * FROM t ORDER BY id",
                          [&](TMySQLRecordset& r) { r.SetProp(prNullForZeroDate, nullForZero); });
      if (prepared) rs->Prepare();
      rs->Open();
      TRows want = nullDates;
      if (!nullForZero)
        want[1] = "2|0000-00-00 00:00:00.000000|" + zero + "|" + zero + "|0|0|0|0|838:59:59||0 bytes|";
      EXPECT_EQ(Rows(*rs), want);
      EXPECT_EQ(rs->FieldByName("ts")->Length, 26) << "TIMESTAMP(6)";
      rs->Close();
      if (prepared) rs->UnPrepare();
    }
}

TEST_P(MySQLRecordsetDbTest, UnicodeConnectionReadsTheSameText) {
  TScratchDb db;
  auto setup = Open(db.Name());
  TAllTypes table(*setup);
  auto c = Open(db.Name(), "", true);
  auto rs = Recordset(*c, "SELECT g, tx FROM t WHERE id = 1",
                      [](TMySQLRecordset& r) { r.SetProp(prFetchAll, true); });
  rs->Open();
  EXPECT_EQ(rs->FieldByName("g")->DataType, dtWideString);
  EXPECT_EQ(rs->FieldByName("g")->Length, 20) << "UTF-8 bytes, four to a character";
  EXPECT_EQ(rs->FieldByName("tx")->DataType, dtWideMemo);
  EXPECT_EQ(Rows(*rs), TRows{"\xD6\xD0\xCE\xC4|text"});
}

TEST_P(MySQLRecordsetDbTest, FetchesInBlocks) {
  TScratchDb db;
  auto c = Open(db.Name());
  Exec(*c, "CREATE TABLE t (id INT PRIMARY KEY)");
  Exec(*c, "INSERT INTO t SELECT seq FROM seq_1_to_60");
  for (bool prepared : {false, true}) {
    SCOPED_TRACE(prepared ? "prepared" : "text");
    auto rs = Recordset(*c, "SELECT id FROM t ORDER BY id");
    int blocks = 0;
    rs->OnAfterFetch = [&] { ++blocks; };
    if (prepared) rs->Prepare();
    rs->Open();
    EXPECT_EQ(blocks, 1);
    EXPECT_EQ(rs->GetRecordCount(), 25);
    EXPECT_FALSE(rs->IsAllFetched());
    const TRows rows = Rows(*rs);
    ASSERT_EQ(rows.size(), 60u);
    EXPECT_EQ(rows[59], "60");
    EXPECT_EQ(blocks, 3) << "25, 25, then 10 rows and the end of the data";
    EXPECT_TRUE(rs->IsAllFetched());
    // The auxiliary connection goes with the last row; a prepared statement lives on it.
    EXPECT_EQ(rs->GetFetchConnection() != nullptr, prepared);
    rs->Close();
  }
}

TEST_P(MySQLRecordsetDbTest, ClosingALargeSelectEarlyKillsItOnTheSide) {
  TScratchDb db;
  auto c = Open(db.Name());
  TMySQLAPI& api = *c->GetAPI();
  auto rs = Recordset(*c, "SELECT seq, REPEAT('x', 100) FROM seq_1_to_1000000");
  rs->Open();
  ASSERT_TRUE(rs->GetKillOnClose());
  TMySQLConnection* aux = rs->GetFetchConnection();
  ASSERT_NE(aux, nullptr);
  const std::string thread = std::to_string(api.mysql_thread_id(aux->GetMySQL()));
  EXPECT_EQ(rs->GetRecordCount(), 25);
  rs->Close();
  EXPECT_EQ(rs->GetFetchConnection(), nullptr);
  EXPECT_EQ(Scalar(*c, "SHOW SESSION STATUS LIKE 'Com_kill'"), "Com_kill|1")
      << "KILL went over the main connection";
  // The server ends the killed thread on its own time: it is gone within seconds.
  std::string left;
  for (int i = 0; i < 100 && left != "0"; ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    left = Scalar(*c, "SELECT COUNT(*) FROM information_schema.processlist WHERE id = " + thread);
  }
  EXPECT_EQ(left, "0");
  // A SELECT read to its end needs no KILL.
  auto small = Recordset(*c, "SELECT seq FROM seq_1_to_10");
  small->Open();
  small->Close();
  EXPECT_EQ(Scalar(*c, "SHOW SESSION STATUS LIKE 'Com_kill'"), "Com_kill|1");
}

TEST_P(MySQLRecordsetDbTest, BatchesOpenTheirResultSets) {
  TScratchDb db;
  auto c = Open(db.Name());
  Exec(*c, "CREATE TABLE t (id INT PRIMARY KEY, v INT)");
  Exec(*c, "INSERT INTO t VALUES (1, 10)");
  for (bool fetchAll : {false, true}) {
    SCOPED_TRACE(fetchAll ? "fetch all" : "in blocks");
    auto rs = Recordset(*c, "UPDATE t SET v = v + 1 WHERE id = 1; SELECT v FROM t WHERE id = 1",
                        [&](TMySQLRecordset& r) { r.SetProp(prFetchAll, fetchAll); });
    rs->Open();
    EXPECT_EQ(Rows(*rs), TRows{fetchAll ? "12" : "11"});
    rs->Close();
  }
  // With the open-next flag each open takes the next result; results nobody opens are dropped.
  auto rs = Recordset(*c, "SELECT 1 a; SELECT 2 b; SELECT 3 c");
  rs->Open();
  EXPECT_EQ(Rows(*rs), TRows{"1"});
  rs->Close();
  Variant more;
  rs->GetProp(prHasMoreResults, more);
  EXPECT_TRUE(more.AsBoolean());
  rs->SetProp(prOpenNext, true);
  rs->Open();
  EXPECT_EQ(rs->Fields()[0]->Name, "b");
  EXPECT_EQ(Rows(*rs), TRows{"2"});
  rs->Close();
  rs->SetProp(prOpenNext, false);
  rs->SetSQL("SELECT 4");
  rs->Open();
  EXPECT_EQ(Rows(*rs), TRows{"4"}) << "the unopened third result did not get in the way";
}

TEST_P(MySQLRecordsetDbTest, ColumnsOfTablesTakenInTurnKeepTheirOwnTable) {
  TScratchDb db;
  auto c = Open(db.Name());
  Exec(*c, "CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(20))");
  Exec(*c, "CREATE TABLE u (id INT PRIMARY KEY, x INT)");
  Exec(*c, "INSERT INTO t VALUES (1, 'one'), (2, 'two')");
  Exec(*c, "INSERT INTO u VALUES (1, 10)");
  // Runs of one table's columns, the same table under two aliases, and a table without alias.
  auto rs = Recordset(*c,
                      "SELECT a.id, a.name, b.id AS bid, a.id AS aid, b.name AS bname, u.x FROM t a "
                      "JOIN t b ON b.id = a.id + 1 JOIN u ON u.id = a.id");
  rs->Open();
  const struct {
    const char* Field;
    const char* Table;
    const char* Alias;
  } cases[] = {{"id", "t", "a"},  {"name", "t", "a"},  {"bid", "t", "b"},
               {"aid", "t", "a"}, {"bname", "t", "b"}, {"x", "u", ""}};
  for (const auto& w : cases) {
    SCOPED_TRACE(w.Field);
    const TCRTableInfo* table = static_cast<TCRFieldDesc*>(rs->FieldByName(w.Field))->TableInfo;
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->GetTableName(), w.Table);
    EXPECT_EQ(table->GetTableAlias(), w.Alias);
  }
  EXPECT_EQ(rs->GetTablesInfo().GetCount(), 3);
  EXPECT_EQ(Rows(*rs), TRows{"1|one|2|1|two|10"});
}

TEST_P(MySQLRecordsetDbTest, FieldsBeforeOpeningComeFromARowlessRun) {
  TScratchDb db;
  auto c = Open(db.Name());
  Exec(*c, "CREATE TABLE t (id INT PRIMARY KEY, name VARCHAR(300))");
  Exec(*c, "INSERT INTO t SELECT seq, 'n' FROM seq_1_to_5");
  auto rs = Recordset(*c, "SELECT a.id, a.name FROM t a LIMIT 3", [](TMySQLRecordset& r) {
    r.SetProp(prLongStrings, false);
    r.SetProp(prFlatBuffers, false);
  });
  rs->InitFields();
  ASSERT_EQ(rs->GetFieldCount(), 2);
  EXPECT_EQ(rs->FieldByName("name")->DataType, dtMemo) << "LongStrings off: 600 bytes is a memo";
  EXPECT_EQ(rs->GetMyCommand()->GetSQL(), "SELECT a.id, a.name FROM t a LIMIT 3") << "the text is restored";
  const TCRTableInfo* table = static_cast<TCRFieldDesc*>(rs->FieldByName("id"))->TableInfo;
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->GetTableName(), "t");
  EXPECT_EQ(table->GetTableAlias(), "a");
  rs->Open();
  EXPECT_EQ(Rows(*rs).size(), 3u);
}

// Under NO_BACKSLASH_ESCAPES the rowless run finds the LIMIT after 'C:\': read with the backslash
// as an escape, a second LIMIT went at the end and the server refused the statement.
TEST_P(MySQLRecordsetDbTest, FieldsBeforeOpeningAfterABackslashInAString) {
  TScratchDb db;
  auto c = Open(db.Name());
  Exec(*c, "CREATE TABLE t (id INT PRIMARY KEY)");
  Exec(*c, "SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'");
  auto rs = Recordset(*c, "SELECT id, 'C:\\' AS p FROM t LIMIT 3");
  rs->InitFields();
  EXPECT_EQ(rs->GetFieldCount(), 2);
  EXPECT_EQ(rs->GetMyCommand()->GetSQL(), "SELECT id, 'C:\\' AS p FROM t LIMIT 3") << "the text is restored";
}

}  // namespace

namespace {

TEST_P(MySQLRecordsetDbTest, ProcedureCallsHandBackTheirOutParameters) {
  TScratchDb db;
  auto c = Open(db.Name());
  Exec(*c,
       "CREATE PROCEDURE p(IN x INT, OUT y INT, OUT m TEXT) BEGIN SET y = x * 2; SET m = REPEAT('m', 40); "
       "END");
  auto rs = Recordset(*c, "CALL p(21, @y, @m); SELECT @y AS `@y`, @m AS `@m`", [](TMySQLRecordset& r) {
    r.SetProp(prProcedureCall, true);
    r.SetProp(prFlatBuffers, false);
  });
  TMySQLCommand& cmd = *rs->GetMyCommand();
  TParamDesc* y = cmd.AddParam();
  y->SetName("y");
  y->SetParamType(pdOutput);
  y->SetDataType(dtInt32);
  TParamDesc* m = cmd.AddParam();
  m->SetName("m");
  m->SetParamType(pdOutput);
  m->SetDataType(dtMemo);
  TBlob* blob = new TBlob();
  m->SetObject(blob);
  rs->Open();
  EXPECT_TRUE(cmd.OutParamsRead);
  EXPECT_EQ(y->GetValue().AsInteger(), 42);
  EXPECT_EQ(blob->GetAsString(), std::string(40, 'm')) << "text column into a blob parameter";
  rs->Close();
  blob->Release();
}

}  // namespace

namespace {

INSTANTIATE_TEST_SUITE_P(Apis, MySQLRecordsetDbTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "ClientLibrary" : "Direct";
                         });

}  // namespace
