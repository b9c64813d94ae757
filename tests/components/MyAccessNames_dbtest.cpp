// Names the server reads as reserved words, against the test server: a column or table called
// `from`, `order`, `key` or `desc` is written back-quoted by every generated statement even with
// QuoteNames off, and the rows land as plain SQL would put them. What was sent is read from the
// server's general log, for this test's own connection only.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "components/MyAccessDataSet.h"
#include "mysql/ApiTestSupport.h"
#include "mysql/MyTableInfo.h"
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

class MyNamesDbTest : public ::testing::Test {
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
  }

  std::string Value(const std::string& sql, TMyConnection* conn = nullptr) {
    TMyQuery q;
    q.SetConnection(conn != nullptr ? conn : &Conn);
    q.SetSQLText(sql);
    q.Open();
    return q.Fields()[0]->IsNull() ? "NULL" : q.Fields()[0]->AsString();
  }

  std::string Checksum(const std::string& table) {
    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetSQLText("CHECKSUM TABLE " + table);
    q.Open();
    return q.Fields()[1]->AsString();
  }

  // Statements Own sends from here on are read back by Sent.
  void StartLog() {
    Conn.ExecSQL("SET GLOBAL log_output = 'TABLE'");
    Conn.ExecSQL("SET GLOBAL general_log = 1");
    LoggedThread = Value("SELECT CAST(CONNECTION_ID() AS CHAR)", &Own);
    Since = Value("SELECT CAST(NOW(6) AS CHAR)");
  }
  // The statements sent since StartLog that start with `prefix`, oldest first, joined by "|".
  std::string Sent(const std::string& prefix) {
    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetSQLText("SELECT CAST(argument AS CHAR) FROM mysql.general_log WHERE thread_id = " + LoggedThread +
                 " AND command_type IN ('Query', 'Execute') AND event_time >= '" + Since +
                 "' AND argument LIKE '" + prefix + "%' ORDER BY event_time");
    q.Open();
    std::string all;
    for (; !q.Eof(); q.Next()) all += (all.empty() ? "" : "|") + q.Fields()[0]->AsString();
    return all;
  }

  TScratchDb Db;
  TMyConnection Conn;
  TMyConnection Own;  // the dataset's, whose statements the log shows
  std::string LoggedThread;
  std::string Since;
};

// ---- generated writes ---------------------------------------------------------------------------

TEST_F(MyNamesDbTest, AReservedWordIsBackQuotedInEveryGeneratedStatement) {
  struct Case {
    const char* Name;
    const char* Create;  // the table; its rows come from the same INSERT in each case
    bool UpdateAllFields;
    bool FullRefresh;  // and a refresh after each insert and update
  };
  const Case cases[] = {
      {"primary key", "CREATE TABLE `order` (id INT PRIMARY KEY, `from` VARCHAR(32), `key` INT, `desc` INT)",
       false, false},
      {"primary key, refreshed after each write by name",
       "CREATE TABLE `order` (id INT PRIMARY KEY, `from` VARCHAR(32), `key` INT, `desc` INT)", false, true},
      {"reserved key column, all fields written",
       "CREATE TABLE `order` (`key` INT PRIMARY KEY, id INT, `from` VARCHAR(32), `desc` INT)", true, false},
      {"keyless", "CREATE TABLE `order` (id INT, `from` VARCHAR(32), `key` INT, `desc` INT)", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Conn.ExecSQL("DROP TABLE IF EXISTS `order`, plain");
    Conn.ExecSQL(c.Create);
    Conn.ExecSQL(
        "INSERT INTO `order` (id, `from`, `key`, `desc`) VALUES (1, 'web', 10, 100), (2, 'gm', 20, 200)");
    Conn.ExecSQL("CREATE TABLE plain LIKE `order`");
    Conn.ExecSQL("INSERT INTO plain SELECT * FROM `order`");
    TMyQuery q;
    q.SetConnection(&Own);
    q.Options().QuoteNames = false;
    q.Options().UpdateAllFields = c.UpdateAllFields;
    q.Options().FullRefresh = c.FullRefresh;
    if (c.FullRefresh) q.RefreshOptions = roAfterInsert | roAfterUpdate;
    q.SetSQLText("SELECT * FROM `order` ORDER BY id");
    q.Open();
    StartLog();
    EXPECT_EQ(ErrorOf([&] {
                q.Edit();
                q.FieldByName("from")->SetAsString("shop");
                q.FieldByName("desc")->SetAsInteger(101);
                q.Post();
                q.RefreshRecord();
                q.Append();
                q.FieldByName("id")->SetAsInteger(3);
                q.FieldByName("from")->SetAsString("new");
                q.FieldByName("key")->SetAsInteger(30);
                q.FieldByName("desc")->SetAsInteger(300);
                q.Post();
                q.Locate("id", {Variant(2)}, 0);
                q.Delete();
              }),
              "");
    Conn.ExecSQL("UPDATE plain SET `from` = 'shop', `desc` = 101 WHERE id = 1");
    Conn.ExecSQL("INSERT INTO plain (id, `from`, `key`, `desc`) VALUES (3, 'new', 30, 300)");
    Conn.ExecSQL("DELETE FROM plain WHERE id = 2");
    EXPECT_EQ(Checksum("`order`"), Checksum("plain"));
    for (const char* kind : {"UPDATE", "INSERT", "DELETE", "SELECT"}) {
      const std::string sent = Sent(kind);
      SCOPED_TRACE(sent);
      EXPECT_NE(sent.find("`order`"), std::string::npos) << kind;
      for (const char* bare :
           {" from ", " key ", " desc ", "(from", "(key", "(desc", ".from", ".key", ".desc"})
        EXPECT_EQ(sent.find(bare), std::string::npos) << kind << " names " << bare << " bare";
    }
    EXPECT_NE(Sent("UPDATE").find("`from` = "), std::string::npos);
  }
}

// ---- the list against the server -----------------------------------------------------------------

TEST_F(MyNamesDbTest, TheReservedWordsAreThoseTheServerRefusesAsNames) {
  // Every keyword the server knows: reserved when it cannot stand unquoted as a column alias.
  TMyQuery keywords;
  keywords.SetConnection(&Conn);
  keywords.SetSQLText("SELECT WORD FROM information_schema.KEYWORDS WHERE WORD REGEXP '^[A-Za-z0-9_]+$'");
  keywords.Open();
  int checked = 0;
  for (; !keywords.Eof(); keywords.Next(), ++checked) {
    const std::string word = keywords.Fields()[0]->AsString();
    const bool refused = !ErrorOf([&] { Conn.ExecSQL("SELECT 1 AS " + word); }).empty();
    // Words the grammar takes for something else in a table or a select list's first place.
    const bool elsewhere =
        word == "VALUE" || word == "SQL_BUFFER_RESULT" || word == "SQL_CACHE" || word == "SQL_NO_CACHE";
    EXPECT_EQ(TMyTableInfo::IsReservedWord(word), refused || elsewhere) << word;
  }
  EXPECT_GT(checked, 600);
}

}  // namespace
