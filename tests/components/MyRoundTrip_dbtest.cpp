// A table of every kind of column the game keeps, edited cell by cell through the MySQL query:
// each edit is one statement of the test's own connection (general log), and the table ends as
// the same edits made by plain SQL leave its twin (CHECKSUM TABLE, and HEX of every cell).
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "components/MyAccessDataSet.h"
#include "mysql/ApiTestSupport.h"

namespace {

using api_test::TScratchDb;
using namespace std::string_literals;

class MyRoundTripDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const TestServer::TInfo& srv = TestServer::Info();
    Conn.LoginPrompt = false;
    Conn.SetServer(srv.Host);
    Conn.SetPort(srv.Port);
    Conn.SetUsername(srv.NativeUser);
    Conn.SetPassword(srv.NativePassword);
    Conn.SetDatabase(Db.Name());
    Conn.Options().SetNumericType(ntFmtBCD);
  }

  std::string Value(const std::string& sql) {
    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetSQLText(sql);
    q.Open();
    return q.Fields()[0]->IsNull() ? "NULL" : q.Fields()[0]->AsString();
  }

  int Updates() {
    return std::stoi(Value("SELECT CAST(COUNT(*) AS CHAR) FROM mysql.general_log WHERE thread_id = " +
                           ConnectionId + " AND command_type = 'Query' AND argument LIKE 'UPDATE%'"));
  }

  TScratchDb Db;
  TMyConnection Conn;
  std::string ConnectionId;
};

// One cell's new value: text for SetAsString, bytes for a BLOB, or NULL; and the same as SQL.
struct TEdit {
  int id;
  const char* column;
  std::variant<std::string, std::vector<uint8_t>, std::nullptr_t> value;
  std::string sql;
};

TEST_F(MyRoundTripDbTest, EveryColumnKindEditedCellByCellEndsAsPlainSqlLeavesIt) {
  const std::string columns =
      "(id INT PRIMARY KEY, v VARCHAR(20), c CHAR(4), t TIME, d65 DECIMAL(65,30), d20 DECIMAL(20,6), b BLOB, "
      "dt3 DATETIME(3), n INT)";
  const std::string rows =
      "(1, 'a\\0b', 'p\\0', '-838:59:59', "
      "'12345678901234567890123456789012345.123456789012345678901234567890', "
      "'12345678901234.123456', 0x00FF10, '2024-01-02 03:04:05.123', NULL), "
      "(2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 5)";
  for (const char* table : {"ours", "theirs"}) {
    Conn.ExecSQL("CREATE TABLE "s + table + " " + columns);
    Conn.ExecSQL("INSERT INTO "s + table + " VALUES " + rows);
  }
  const std::string d65 = "-" + std::string(35, '9') + "." + std::string(30, '9');
  const std::vector<TEdit> edits = {
      {1, "v", "x\0y\0"s, "'x\\0y\\0'"},
      {1, "c", "\0\0"s, "'\\0\\0'"},
      {1, "t", "838:59:59"s, "'838:59:59'"},
      {1, "d65", d65, "'" + d65 + "'"},
      {1, "d20", "99999999999999.999999"s, "'99999999999999.999999'"},
      {1, "b", std::vector<uint8_t>{0, 1, 0x5C, 0x27, 0xFF}, "0x00015C27FF"},
      {1, "dt3", "2025-12-31 23:59:59.999"s, "'2025-12-31 23:59:59.999'"},
      {1, "n", "7"s, "7"},
      {2, "v", ""s, "''"},
      {2, "t", "-00:00:01"s, "'-00:00:01'"},
      {2, "d20", "-0.000001"s, "'-0.000001'"},
      {2, "n", nullptr, "NULL"},
      {1, "v", nullptr, "NULL"},
  };

  Conn.ExecSQL("SET GLOBAL log_output = 'TABLE'");
  Conn.ExecSQL("SET GLOBAL general_log = 1");
  ConnectionId = Value("SELECT CAST(CONNECTION_ID() AS CHAR)");
  TMyQuery q;
  q.SetConnection(&Conn);
  q.SetSQLText("SELECT * FROM ours");
  q.Open();
  for (const TEdit& e : edits) {
    SCOPED_TRACE(std::to_string(e.id) + "." + e.column + " = " + e.sql);
    ASSERT_TRUE(q.Locate("id", Variant(e.id)));
    const int before = Updates();
    q.Edit();
    TField* field = q.FieldByName(e.column);
    if (const auto* text = std::get_if<std::string>(&e.value))
      field->SetAsString(*text);
    else if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&e.value))
      field->SetAsBytes(*bytes);
    else
      field->Clear();
    q.Post();
    EXPECT_EQ(Updates() - before, 1) << "one statement for one edit";
    Conn.ExecSQL("UPDATE theirs SET "s + e.column + " = " + e.sql + " WHERE id = " + std::to_string(e.id));
    const std::string cell = "SELECT HEX("s + e.column + ") FROM ";
    const std::string where = " WHERE id = " + std::to_string(e.id);
    EXPECT_EQ(Value(cell + "ours" + where), Value(cell + "theirs" + where));
  }
  TMyQuery check;
  check.SetConnection(&Conn);
  check.SetSQLText("CHECKSUM TABLE ours, theirs");
  check.Open();
  const std::string ours = check.Fields()[1]->AsString();
  check.Next();
  EXPECT_EQ(ours, check.Fields()[1]->AsString());
}

}  // namespace
