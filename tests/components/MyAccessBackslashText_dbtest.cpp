// The dataset's own edits of its statement (an added WHERE, a filter, a removed WHERE, a new ORDER
// BY, the row count, a routine's output argument) on text holding a backslash in a string,
// against the test server under both readings of the backslash. What the server ran is read from
// its general log, for the dataset's own connection only, and the rows it gave are compared.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "components/MyAccessDataSet.h"
#include "mysql/ApiTestSupport.h"
#include "platform/db/Fields.h"

namespace {

using api_test::TScratchDb;

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

class MyBackslashTextDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (TMyConnection* conn : {&Conn, &Own}) {
      const TestServer::TInfo& srv = TestServer::Info();
      conn->LoginPrompt = false;
      conn->SetServer(srv.Host);
      conn->SetPort(srv.Port);
      conn->SetUsername(srv.NativeUser);
      conn->SetPassword(srv.NativePassword);
      conn->SetDatabase(Db.Name());
      conn->Options().SetCharset("gbk");
    }
    // Row 4 holds a GBK character whose second byte is 0x5C.
    Conn.ExecSQL("CREATE TABLE t (id INT PRIMARY KEY, p VARCHAR(20)) CHARACTER SET gbk");
    Conn.ExecSQL("INSERT INTO t VALUES (1, 'C:\\\\'), (2, 'a\\''), (3, 'x'), (4, '\x95\x5C')");
    Conn.ExecSQL("SET GLOBAL log_output = 'TABLE'");
    Conn.ExecSQL("SET GLOBAL general_log = 1");
  }

  std::string Value(const std::string& sql, TMyConnection& conn) {
    TMyQuery q;
    q.SetConnection(&conn);
    q.SetSQLText(sql);
    q.Open();
    return q.Fields()[0]->IsNull() ? "NULL" : q.Fields()[0]->AsString();
  }

  // The last statement starting with `prefix` the dataset's connection sent since `since`.
  std::string LastSent(const std::string& thread, const std::string& since, const std::string& prefix) {
    // HEX: the log's own reading of the GBK text would show its bytes escaped.
    return Value(
        "SELECT IFNULL(MAX(HEX(argument)), '') FROM (SELECT argument FROM mysql.general_log "
        "WHERE thread_id = " +
            thread + " AND command_type IN ('Query', 'Prepare', 'Execute') AND event_time >= '" + since +
            "' AND argument LIKE '" + prefix + "%' ORDER BY event_time DESC LIMIT 1) AS last_one",
        Conn);
  }

  TScratchDb Db;
  TMyConnection Conn;
  TMyConnection Own;  // the dataset's, whose statements the log shows
};

// Each edit finds its place as the session reads the text: with NO_BACKSLASH_ESCAPES 'C:\' is a
// whole string, and read the other way the edit lands inside it, where the server either refuses
// the statement or runs one meaning something else.
TEST_F(MyBackslashTextDbTest, EditsOfTheStatementFollowTheSessionsReadingOfABackslash) {
  enum TEdit { AddWhere, Filter, DeleteWhere, OrderBy };
  struct Case {
    const char* Name;
    bool NoBackslashEscapes;
    const char* Text;
    TEdit Edit;
    const char* Argument;
    const char* Sent;  // the SELECT the server ran; nil where its log escapes the text's bytes
    const char* Rows;  // the ids it gave, in order
  };
  const Case cases[] = {
      {"a condition added before ORDER BY", true, "SELECT id FROM t WHERE p = 'C:\\' ORDER BY id", AddWhere,
       "id < 5", "SELECT id FROM t WHERE (p = 'C:\\') AND id < 5  ORDER BY id", "1"},
      {"a filter holding OR keeps to its own parentheses", true, "SELECT id FROM t WHERE id <> 3 ORDER BY id",
       Filter, "p = 'C:\\' OR id = 3",
       "SELECT id FROM t WHERE (id <> 3) AND (p = 'C:\\' OR id = 3)  ORDER BY id", "1"},
      {"the WHERE removed, ORDER BY kept", true, "SELECT id FROM t WHERE p <> 'C:\\' ORDER BY id DESC",
       DeleteWhere, "", "SELECT id FROM t ORDER BY id DESC", "4,3,2,1"},
      {"ORDER BY replaced", true, "SELECT id FROM t WHERE p <> 'C:\\' ORDER BY id", OrderBy, "id DESC",
       "SELECT id FROM t WHERE p <> 'C:\\' ORDER BY id DESC", "4,3,2"},
      {"a GBK character ending in 0x5C", true, "SELECT id FROM t WHERE p = '\x95\x5C' ORDER BY id", AddWhere,
       "id > 0", nullptr, "4"},
      // The default reading stays as it was.
      {"an escaped quote, default mode", false, "SELECT id FROM t WHERE p = 'a\\'' ORDER BY id", AddWhere,
       "id < 5", "SELECT id FROM t WHERE (p = 'a\\'') AND id < 5  ORDER BY id", "2"},
      {"an escaped backslash, default mode", false, "SELECT id FROM t WHERE p <> 'C:\\\\' ORDER BY id",
       OrderBy, "id DESC", "SELECT id FROM t WHERE p <> 'C:\\\\' ORDER BY id DESC", "4,3,2"},
      {"an escaped quote in a filter, default mode", false, "SELECT id FROM t WHERE id <> 3 ORDER BY id",
       Filter, "p = 'a\\'' OR id = 3",
       "SELECT id FROM t WHERE (id <> 3) AND (p = 'a\\'' OR id = 3)  ORDER BY id", "2"},
  };
  Own.Open();
  const std::string thread = Value("SELECT CAST(CONNECTION_ID() AS CHAR)", Own);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Own.ExecSQL(c.NoBackslashEscapes ? "SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'"
                                     : "SET SESSION sql_mode = ''");
    const std::string since = Value("SELECT CAST(NOW(6) AS CHAR)", Conn);
    TMyQuery q;
    q.SetConnection(&Own);
    q.SetSQLText(c.Text);
    std::string rows;
    const std::string error = ErrorOf([&] {
      switch (c.Edit) {
        case AddWhere:
          q.AddWhere(c.Argument);
          break;
        case Filter:
          q.SetFilterSQL(c.Argument);
          break;
        case DeleteWhere:
          q.DeleteWhere();
          break;
        case OrderBy:
          q.SetOrderBy(c.Argument);
          break;
      }
      q.Open();
      for (; !q.Eof(); q.Next()) rows += (rows.empty() ? "" : ",") + q.Fields()[0]->AsString();
    });
    EXPECT_EQ(error, "");
    EXPECT_EQ(rows, c.Rows);
    if (c.Sent != nullptr) {
      EXPECT_EQ(LastSent(thread, since, "SELECT"), Hex(c.Sent));
    }
  }
}

// A query with LIMIT is counted as a derived table: read with the backslash as an escape, the
// LIMIT vanished into 'C:\' and the count was of every row.
TEST(MyBackslashTextTest, ALimitAfterABackslashMakesTheCountADerivedTable) {
  EXPECT_EQ(TCustomMyDataSet::CountSQL("SELECT id FROM t WHERE p <> 'C:\\' LIMIT 1", true),
            "SELECT COUNT(*) FROM (SELECT id FROM t WHERE p <> 'C:\\' LIMIT 1) AS counted_rows");
  EXPECT_EQ(TCustomMyDataSet::CountSQL("SELECT id FROM t WHERE p <> 'a\\'' LIMIT 1", false),
            "SELECT COUNT(*) FROM (SELECT id FROM t WHERE p <> 'a\\'' LIMIT 1) AS counted_rows");
}

// A routine called with 'C:\' before its OUT argument brings the argument's value back into
// the record: the placeholder after the string is found as the session reads the text.
TEST_F(MyBackslashTextDbTest, AnOutArgumentAfterABackslashComesBack) {
  Conn.ExecSQL(
      "CREATE PROCEDURE tag(IN p_id INT, IN p_dir VARCHAR(20), OUT p_note VARCHAR(40)) BEGIN "
      "SET p_note = CONCAT(p_dir, p_id); UPDATE t SET p = p_note WHERE id = p_id; END");
  Own.ExecSQL("SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'");
  TMyQuery q;
  q.SetConnection(&Own);
  q.Options().ReturnParams = true;
  q.SQLUpdate().SetText("CALL tag(:OLD_id, 'C:\\', :p)");
  q.SetSQLText("SELECT id, p FROM t WHERE id = 3");
  q.Open();
  q.Edit();
  q.FieldByName("p")->SetAsString("typed");
  EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
  EXPECT_EQ(q.FieldByName("p")->AsString(), "C:\\3");
  EXPECT_EQ(Value("SELECT HEX(p) FROM t WHERE id = 3", Conn), "433A5C33");
}

}  // namespace
