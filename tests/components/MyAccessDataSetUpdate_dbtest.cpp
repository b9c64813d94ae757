// The MySQL query's write path against the test server: what one edit, insert or delete sends
// (counted in the server's general log, for this test's own connection only), the key chosen on
// real tables, the errors of writes that cannot be sent, cached updates in batches and over
// several datasets, and GBK text whose trail byte is a backslash.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "components/MyAccessDataSet.h"
#include "core/DAConsts.h"
#include "mysql/ApiTestSupport.h"

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

class MyWriteDbTest : public ::testing::Test {
 protected:
  void SetUp() override { Connect(Conn); }

  void Connect(TMyConnection& conn, const std::string& charset = {}, bool unicode = false) {
    const TestServer::TInfo& srv = TestServer::Info();
    conn.LoginPrompt = false;
    conn.SetServer(srv.Host);
    conn.SetPort(srv.Port);
    conn.SetUsername(srv.NativeUser);
    conn.SetPassword(srv.NativePassword);
    conn.SetDatabase(Db.Name());
    if (!charset.empty()) conn.Options().SetCharset(charset);
    conn.Options().SetUseUnicode(unicode);
  }

  std::string Value(const std::string& sql) {
    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetSQLText(sql);
    q.Open();
    return q.Fields()[0]->IsNull() ? "NULL" : q.Fields()[0]->AsString();
  }

  void Open(TMyQuery& q, const std::string& sql) {
    q.SetConnection(&Conn);
    q.SetSQLText(sql);
    q.Open();
  }

  // Statements of this test's connection in the server's general log since StartLog (other
  // tests write there too, and may have switched the log on before).
  void StartLog() {
    Conn.ExecSQL("SET GLOBAL log_output = 'TABLE'");
    Conn.ExecSQL("SET GLOBAL general_log = 1");
    ConnectionId = Value("SELECT CAST(CONNECTION_ID() AS CHAR)");
    Baseline = CountLogged("UPDATE");
  }
  int CountLogged(const std::string& prefix) {
    return std::stoi(Value("SELECT CAST(COUNT(*) AS CHAR) FROM mysql.general_log WHERE thread_id = " +
                           ConnectionId + " AND command_type = 'Query' AND argument LIKE '" + prefix + "%'"));
  }
  int Logged(const std::string& prefix) { return CountLogged(prefix) - Baseline; }

  TScratchDb Db;
  TMyConnection Conn;
  std::string ConnectionId;
  int Baseline = 0;
};

TEST_F(MyWriteDbTest, OneEditSendsOneUpdateAndNoChangeSendsNothing) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, name VARCHAR(20), level INT)");
  Conn.ExecSQL("INSERT INTO hero VALUES (1, 'ann', 3), (2, 'bob', 4)");
  TMyQuery q;
  Open(q, "SELECT * FROM hero ORDER BY id");
  std::vector<std::string> traced;
  StartLog();
  q.Edit();
  q.FieldByName("level")->SetAsInteger(9);
  q.Post();
  EXPECT_EQ(Logged("UPDATE"), 1);
  EXPECT_EQ(Value("SELECT level FROM hero WHERE id = 1"), "9");
  EXPECT_EQ(Value("SELECT level FROM hero WHERE id = 2"), "4");
  q.Edit();
  q.FieldByName("level")->SetAsInteger(9);
  q.Post();
  EXPECT_EQ(Logged("UPDATE"), 1);
}

TEST_F(MyWriteDbTest, InsertDeleteAndTheirChecks) {
  Conn.ExecSQL("CREATE TABLE hero (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20))");
  Conn.ExecSQL("CREATE TABLE guild (gid INT PRIMARY KEY, title VARCHAR(20))");
  Conn.ExecSQL("CREATE TABLE twin (name VARCHAR(10), n INT)");
  Conn.ExecSQL("INSERT INTO hero VALUES (5, 'ann'), (6, 'bob')");
  Conn.ExecSQL("INSERT INTO guild VALUES (9, 'red')");
  Conn.ExecSQL("INSERT INTO twin VALUES ('a', 1), ('a', 1)");

  TMyQuery q;
  Open(q, "SELECT * FROM hero ORDER BY id");
  q.Append();
  q.FieldByName("name")->SetAsString("cy");
  q.Post();
  EXPECT_EQ(q.FieldByName("id")->AsInteger(), 7) << "the AUTO_INCREMENT id shows";
  EXPECT_EQ(q.InsertId(), 7);
  q.First();
  q.Delete();
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id ORDER BY id) FROM hero"), "6,7");

  // A row another user deleted: the update finds no row.
  Conn.ExecSQL("DELETE FROM hero WHERE id = 6");
  q.First();
  q.Edit();
  q.FieldByName("name")->SetAsString("gone");
  EXPECT_EQ(ErrorOf([&] { q.Post(); }), "Update failed. Found 0 records");
  EXPECT_EQ(q.State(), dsEdit);
  q.Cancel();

  // Two identical rows of a keyless table: one delete removes one row.
  TMyQuery twins;
  Open(twins, "SELECT * FROM twin");
  twins.Delete();
  EXPECT_EQ(Value("SELECT COUNT(*) FROM twin"), "1");

  // A change in a column of the join's other table would never reach the server.
  TMyQuery join;
  Open(join, "SELECT h.id, h.name, g.title FROM hero h JOIN guild g ON g.gid = h.id + 2");
  ASSERT_EQ(join.RecordCount(), 1);
  join.Edit();
  join.FieldByName("title")->SetAsString("blue");
  EXPECT_EQ(ErrorOf([&] { join.Post(); }), "Field title does not belong to the updating table hero");
  EXPECT_EQ(join.State(), dsEdit);
  join.Cancel();
  EXPECT_EQ(Value("SELECT title FROM guild"), "red");
}

TEST_F(MyWriteDbTest, KeyChosenOnRealTables) {
  struct Case {
    const char* Name;
    const char* Create;
    const char* Key;  // the key's columns, "" for none
    bool LimitOne;
  };
  const Case cases[] = {
      {"primary key", "(id INT PRIMARY KEY, a INT, KEY(a))", "id", false},
      {"unique key on NOT NULL columns", "(u INT NOT NULL, v INT NOT NULL, a INT, UNIQUE KEY(u, v))", "u,v",
       false},
      {"nullable unique key", "(u INT NULL, a INT, UNIQUE KEY(u))", "", true},
      {"plain index falls back to all columns", "(x INT, a INT, KEY(x))", "", true},
      {"FLOAT key is no key", "(f FLOAT NOT NULL PRIMARY KEY, a INT)", "", true},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string table = "k" + std::to_string(++n);
    Conn.ExecSQL("CREATE TABLE " + table + " " + c.Create);
    TMyQuery q;
    Open(q, "SELECT * FROM " + table);
    std::string key;
    for (TFieldDesc* desc : q.GetKeyAndDataFields(false).KeyFieldDescs)
      key += (key.empty() ? "" : ",") + desc->Name;
    EXPECT_EQ(key, c.Key);
    q.Append();
    q.Fields()[0]->SetAsInteger(1);
    q.Fields()[1]->SetAsInteger(2);
    q.Post();
    q.Edit();
    q.Fields()[1]->SetAsInteger(3);
    q.Post();
    const std::string update = q.SQLGenerator().GenerateSQLForUpdatingTable(stDelete, true);
    EXPECT_EQ(update.ends_with("LIMIT 1"), c.LimitOne) << update;
    EXPECT_EQ(Value("SELECT COUNT(*) FROM " + table + " WHERE " + q.Fields()[1]->FieldName() + " = 3"), "1");
  }
  Conn.ExecSQL("CREATE TABLE blobs (b BLOB)");
  Conn.ExecSQL("INSERT INTO blobs VALUES ('x')");
  TMyQuery q;
  Open(q, "SELECT * FROM blobs");
  EXPECT_EQ(ErrorOf([&] { q.Delete(); }), "Key fields not found");
}

TEST_F(MyWriteDbTest, CachedUpdatesInBatchesAndAcrossDataSets) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, level INT)");
  Conn.ExecSQL("CREATE TABLE item (id INT PRIMARY KEY, owner INT)");
  Conn.ExecSQL("INSERT INTO hero VALUES (1,0),(2,0),(3,0),(4,0),(5,0),(6,0),(7,0)");
  Conn.ExecSQL("INSERT INTO item VALUES (1, 1)");
  TMyQuery heroes;
  heroes.SetCachedUpdates(true);
  heroes.Options().UpdateBatchSize = 3;
  Open(heroes, "SELECT * FROM hero ORDER BY id");
  for (heroes.First(); !heroes.Eof(); heroes.Next()) {
    heroes.Edit();
    heroes.FieldByName("level")->SetAsInteger(heroes.FieldByName("id")->AsInteger() * 10);
    heroes.Post();
  }
  StartLog();
  heroes.ApplyUpdates();
  heroes.CommitUpdates();
  EXPECT_EQ(Logged("UPDATE"), 3) << "7 changes in batches of 3";
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(level ORDER BY id) FROM hero"), "10,20,30,40,50,60,70");

  // The second dataset fails: the first one's change stays pending and goes with the next apply.
  heroes.Options().UpdateBatchSize = 1;
  TMyQuery items;
  items.SetCachedUpdates(true);
  Open(items, "SELECT * FROM item");
  heroes.First();
  heroes.Edit();
  heroes.FieldByName("level")->SetAsInteger(99);
  heroes.Post();
  items.Edit();
  items.FieldByName("owner")->SetAsInteger(2);
  items.Post();
  Conn.ExecSQL("DELETE FROM item");
  EXPECT_EQ(ErrorOf([&] { Conn.ApplyUpdates({&heroes, &items}); }), "Update failed. Found 0 records");
  EXPECT_EQ(Value("SELECT level FROM hero WHERE id = 1"), "10");
  EXPECT_TRUE(heroes.UpdatesPending());
  Conn.ExecSQL("INSERT INTO item VALUES (1, 1)");
  Conn.ApplyUpdates({&heroes, &items});
  EXPECT_EQ(Value("SELECT level FROM hero WHERE id = 1"), "99");
  EXPECT_EQ(Value("SELECT owner FROM item"), "2");
  EXPECT_FALSE(heroes.UpdatesPending());
}

TEST_F(MyWriteDbTest, GbkTextWithABackslashTrailByteRoundTrips) {
  // 0x95 0x5C is one GBK character whose trail byte is "\".
  const std::string name = std::string("A\x95\x5C") + "'B";
  struct Layout {
    const char* Name;
    const char* Column;
    const char* Charset;
    bool Unicode;
  };
  const Layout layouts[] = {
      {"GBK bytes in latin1 over latin1", "VARCHAR(20) CHARACTER SET latin1", "latin1", false},
      {"gbk column over gbk", "VARCHAR(20) CHARACTER SET gbk", "gbk", false},
      {"gbk column over Unicode", "VARCHAR(20) CHARACTER SET gbk", "", true},
      {"utf8mb4 column over Unicode", "VARCHAR(20) CHARACTER SET utf8mb4", "", true},
  };
  int n = 0;
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.Name);
    const std::string table = "g" + std::to_string(++n);
    Conn.ExecSQL("CREATE TABLE " + table + " (id INT PRIMARY KEY, name " + l.Column + ")");
    TMyConnection conn;
    Connect(conn, l.Charset, l.Unicode);
    TMyQuery q;
    q.SetConnection(&conn);
    q.SetSQLText("SELECT * FROM " + table);
    q.Open();
    q.Append();
    q.FieldByName("id")->SetAsInteger(1);
    q.FieldByName("name")->SetAsString(name);
    q.Post();
    q.Edit();
    q.FieldByName("name")->SetAsString(name + name);
    q.Post();
    q.Close();
    q.Open();
    EXPECT_EQ(q.FieldByName("name")->AsString(), name + name);
    EXPECT_EQ(q.RecordCount(), 1);
  }
}

}  // namespace
