// A dataset that reads its rows a block at a time does so on a second session of its own: that
// session must read the statement under the sql_mode its connection's session has, or a text
// written for one mode is refused, or runs with another meaning, on the other.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "components/MyAccessDataSet.h"
#include "mysql/ApiTestSupport.h"
#include "platform/db/Fields.h"

namespace {

using api_test::TScratchDb;

class MyFetchSessionDbTest : public ::testing::Test {
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
    }
    Conn.ExecSQL("CREATE TABLE t (id INT PRIMARY KEY, p VARCHAR(20))");
    Conn.ExecSQL("INSERT INTO t VALUES (1, 'C:\\\\'), (2, 'x')");
    Conn.ExecSQL("SET GLOBAL log_output = 'TABLE'");
    Conn.ExecSQL("SET GLOBAL general_log = 1");
  }

  std::string Value(const std::string& sql) {
    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetSQLText(sql);
    q.Open();
    return q.Fields()[0]->IsNull() ? "NULL" : q.Fields()[0]->AsString();
  }

  // Every value of every row, or the error of opening.
  std::string Rows(const std::string& sql, bool fetchAll) {
    TMyQuery q;
    q.SetConnection(&Own);
    q.SetFetchAll(fetchAll);
    q.SetSQLText(sql);
    std::string rows;
    try {
      q.Open();
      for (; !q.Eof(); q.Next()) {
        rows += "(";
        for (int i = 0; i < q.FieldCount(); ++i) rows += (i ? "|" : "") + q.Fields()[i]->AsString();
        rows += ")";
      }
    } catch (const Exception& e) {
      return "error: " + e.Message();
    }
    return rows;
  }

  // The statements like `like` that the sessions logged in to this test's database, `logger`'s
  // aside, sent since `since`. Tests running beside this one on the server are left out.
  std::string SentByOthers(const std::string& logger, const std::string& since, const std::string& like) {
    return Value(
        "SELECT IFNULL(GROUP_CONCAT(argument ORDER BY event_time SEPARATOR ' / '), '') FROM "
        "mysql.general_log "
        "WHERE thread_id <> " +
        logger + " AND event_time >= '" + since + "' AND argument LIKE '" + like +
        "' AND thread_id IN (SELECT thread_id FROM mysql.general_log WHERE command_type = 'Connect' AND "
        "argument LIKE '% on " +
        Db.Name() + " %')");
  }

  TScratchDb Db;
  TMyConnection Conn;
  TMyConnection Own;
};

TEST_F(MyFetchSessionDbTest, TheFetchSessionReadsTheStatementUnderTheConnectionsMode) {
  struct Case {
    const char* Name;
    const char* Mode;  // set on the connection's session; nil: left as a new session has it
    const char* Text;
    const char* Rows;
  };
  const Case cases[] = {
      {"a backslash ending a string", "NO_BACKSLASH_ESCAPES", "SELECT id FROM t WHERE p = 'C:\\' ORDER BY id",
       "(1)"},
      {"a backslash before a letter", "NO_BACKSLASH_ESCAPES", "SELECT id, 'C:\\new' FROM t ORDER BY id",
       "(1|C:\\new)(2|C:\\new)"},
      {"a double-quoted column", "ANSI_QUOTES", "SELECT id FROM t WHERE \"p\" = 'x' ORDER BY id", "(2)"},
      {"|| joining texts", "PIPES_AS_CONCAT", "SELECT id, p || '!' FROM t ORDER BY id", "(1|C:\\!)(2|x!)"},
      {"modes together", "ANSI_QUOTES,NO_BACKSLASH_ESCAPES", "SELECT \"id\" FROM t WHERE p = 'C:\\'", "(1)"},
      // A session whose mode nobody named reads the same as the fetch session's.
      {"the mode a session starts with", nullptr, "SELECT id, 'a\\'b' FROM t ORDER BY id", "(1|a'b)(2|a'b)"},
  };
  const std::string logger = Value("SELECT CAST(CONNECTION_ID() AS CHAR)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Own.Close();
    Own.Open();
    if (c.Mode != nullptr) Own.ExecSQL(std::string("SET SESSION sql_mode = '") + c.Mode + "'");
    const std::string since = Value("SELECT CAST(NOW(6) AS CHAR)");
    EXPECT_EQ(Rows(c.Text, true), c.Rows);
    EXPECT_EQ(Rows(c.Text, false), c.Rows);
    // What the other sessions sent about the mode since: nothing at all for a mode nobody named.
    const std::string sent = SentByOthers(logger, since, "%sql_mode%");
    if (c.Mode == nullptr)
      EXPECT_EQ(sent, "");
    else
      EXPECT_NE(sent.find(std::string("SET SESSION sql_mode = '") + c.Mode + "'"), std::string::npos) << sent;
  }
}

// A "SET NAMES" run on the connection's session is made on the fetch session too: the text's bytes
// are of that set, where the fetch session read them in the set it connected with.
TEST_F(MyFetchSessionDbTest, TheFetchSessionTakesTextInTheSetTheConnectionsSessionWasGiven) {
  struct Case {
    const char* Name;
    const char* Names;  // run on the connection's session; nil: none
    const char* Rows;
    const char* Sent;  // the other sessions' SET NAMES
  };
  const Case cases[] = {
      {"gbk given by a statement", "gbk", "(E4B8AD)", "SET NAMES latin1 / SET NAMES gbk"},
      {"the set the connection asked for", nullptr, "(C396C390)", "SET NAMES latin1"},
  };
  Own.Options().SetCharset("latin1");
  const std::string logger = Value("SELECT CAST(CONNECTION_ID() AS CHAR)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Own.Close();
    Own.Open();
    if (c.Names != nullptr) Own.ExecSQL(std::string("SET NAMES ") + c.Names);
    const std::string since = Value("SELECT CAST(NOW(6) AS CHAR)");
    // 中 in GBK.
    const std::string text = "SELECT HEX(CONVERT('\xD6\xD0' USING utf8mb4))";
    EXPECT_EQ(Rows(text, true), c.Rows);
    EXPECT_EQ(Rows(text, false), c.Rows);
    EXPECT_EQ(SentByOthers(logger, since, "SET NAMES%"), c.Sent);
  }
}

TEST(MySqlModeNamedTest, AStatementNamingTheModeMarksTheSession) {
  struct Case {
    const char* Text;
    bool Named;
  };
  const Case cases[] = {
      {"SET SESSION sql_mode = ''", true},
      {"set @@SQL_MODE='ANSI'", true},
      {"SET STATEMENT Sql_Mode = '' FOR SELECT 1", true},
      {"SELECT sql_mode_x FROM t", true},  // a needless look costs little
      {"SELECT 1", false},
      {"SELECT my_mode, sql_m FROM t_sql", false},
      {"sql_mod", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    TMySQLConnection connection;
    connection.NoteStatementText(c.Text);
    EXPECT_EQ(connection.SqlModeMayHaveChanged(), c.Named);
  }
}

}  // namespace

// A statement that moved the connection's session to another database ("USE") moves the fetch
// session with it: it read the rows of the database the connection was opened on, and the edit
// of one of them was written to the row of the same key in the other.
TEST_F(MyFetchSessionDbTest, TheFetchSessionReadsTheDatabaseTheConnectionsSessionUses) {
  TScratchDb other;
  Conn.ExecSQL("CREATE TABLE " + other.Name() + ".t (id INT PRIMARY KEY, p VARCHAR(20))");
  Conn.ExecSQL("INSERT INTO " + other.Name() + ".t VALUES (1, 'other'), (2, 'y')");
  Own.ExecSQL("USE " + other.Name());
  TMyQuery q;
  q.SetConnection(&Own);
  q.SetFetchAll(false);
  q.SetSQLText("SELECT * FROM t ORDER BY id");
  q.Open();
  EXPECT_EQ(q.FieldByName("p")->AsString(), "other");
  q.Edit();
  q.FieldByName("p")->SetAsString("edited");
  q.Post();
  q.Close();
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(p ORDER BY id) FROM " + other.Name() + ".t"), "edited,y");
  EXPECT_EQ(Value("SELECT HEX(GROUP_CONCAT(p ORDER BY id)) FROM " + Db.Name() + ".t"), "433A5C2C78");
}
