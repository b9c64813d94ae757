// Which row a generated statement finds, against the test server: a key only when the result holds
// all of it, the table in the database the query named, refreshed values in their own fields,
// TEXT/BLOB columns written only when changed, conditions free of values read inexactly, and the
// searches (Locate, Refresh) over the newer column types. What was sent is read from the server's
// general log, for this test's own connection only.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "components/DBAccessParams.h"
#include "components/MyAccessDataSet.h"
#include "mysql/ApiTestSupport.h"
#include "mysql/MySqlProtocol.h"
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

bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class MyKeysDbTest : public ::testing::Test {
 protected:
  void SetUp() override { Connect(Conn, Db.Name()); }

  static void Connect(TMyConnection& conn, const std::string& database) {
    const TestServer::TInfo& srv = TestServer::Info();
    conn.LoginPrompt = false;
    conn.SetServer(srv.Host);
    conn.SetPort(srv.Port);
    conn.SetUsername(srv.NativeUser);
    conn.SetPassword(srv.NativePassword);
    conn.SetDatabase(database);
  }

  std::string Value(const std::string& sql, TMyConnection* conn = nullptr) {
    TMyQuery q;
    q.SetConnection(conn != nullptr ? conn : &Conn);
    q.SetSQLText(sql);
    q.Open();
    return q.Fields()[0]->IsNull() ? "NULL" : q.Fields()[0]->AsString();
  }
  // The rows of a table as "a,b,c;..." in key order.
  std::string Rows(const std::string& table, const std::string& columns, const std::string& order) {
    return Value("SELECT GROUP_CONCAT(CONCAT_WS(',', " + columns + ") ORDER BY " + order +
                 " SEPARATOR ';') FROM " + table);
  }

  void Open(TMyQuery& q, const std::string& sql, TMyConnection* conn = nullptr) {
    q.SetConnection(conn != nullptr ? conn : &Conn);
    q.SetSQLText(sql);
    q.Open();
  }

  // Statements `conn` sends from here on are read back by Sent.
  void StartLog(TMyConnection& conn) {
    Conn.ExecSQL("SET GLOBAL log_output = 'TABLE'");
    Conn.ExecSQL("SET GLOBAL general_log = 1");
    LoggedThread = Value("SELECT CAST(CONNECTION_ID() AS CHAR)", &conn);
    Since = Value("SELECT CAST(NOW(6) AS CHAR)");
  }
  void StartLog() { StartLog(Conn); }
  // The statements sent since StartLog that start with `prefix`, oldest first, joined by "|"; the
  // test's own reads of the clock and of the log are left out.
  std::string Sent(const std::string& prefix) {
    TMyQuery q;
    Open(q, "SELECT CAST(argument AS CHAR) FROM mysql.general_log WHERE thread_id = " + LoggedThread +
                " AND command_type IN ('Query', 'Execute') AND event_time >= '" + Since +
                "' AND argument LIKE '" + prefix +
                "%' AND argument NOT LIKE 'SELECT CAST(%' ORDER BY event_time");
    std::string all;
    for (; !q.Eof(); q.Next()) all += (all.empty() ? "" : "|") + q.Fields()[0]->AsString();
    return all;
  }

  TScratchDb Db;
  TMyConnection Conn;
  std::string LoggedThread;
  std::string Since;
};

// ---- the row key --------------------------------------------------------------------------------

TEST_F(MyKeysDbTest, AKeyCountsOnlyWhenTheResultHoldsAllOfIt) {
  struct Case {
    const char* Name;
    const char* Select;
    const char* Condition;  // of the UPDATE sent; nil: the write is refused, naming Missing
    const char* Missing;
  };
  // Rows (1,1), (1,2), (2,1); the first two are alike in every selected column but the key.
  const Case cases[] = {
      {"whole primary key", "SELECT a, b, c FROM t ORDER BY a, b", "a = 1 AND b = 1", ""},
      {"part of the primary key", "SELECT a, c FROM t ORDER BY a, b", nullptr, "b"},
      {"whole NOT NULL unique key without the primary key", "SELECT c, u FROM t ORDER BY a, b", "u = 11", ""},
      {"part of the NOT NULL unique key", "SELECT a, c, v FROM t ORDER BY a, b", nullptr, "b"},
      {"no column of any key", "SELECT c, w FROM t ORDER BY a, b", nullptr, "a, b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Conn.ExecSQL("DROP TABLE IF EXISTS t");
    // MyISAM: a statement that touched two rows cannot be rolled back.
    Conn.ExecSQL(
        "CREATE TABLE t (a INT, b INT, c VARCHAR(5), u INT NOT NULL, v INT NOT NULL, w INT NULL, "
        "PRIMARY KEY (a, b), UNIQUE KEY (u), UNIQUE KEY (v, w)) ENGINE = MyISAM");
    Conn.ExecSQL("INSERT INTO t VALUES (1, 1, 'x', 11, 1, 1), (1, 2, 'x', 12, 1, 2), (2, 1, 'y', 21, 2, 1)");
    const std::string checksum = Value("CHECKSUM TABLE t");
    TMyQuery q;
    Open(q, c.Select);
    StartLog();
    q.Edit();
    q.FieldByName("c")->SetAsString("e");
    if (c.Condition == nullptr) {
      const std::string refused =
          "the result does not hold the key of table t (missing: " + std::string(c.Missing) + ")";
      EXPECT_TRUE(ErrorOf([&] { q.Post(); }).ends_with(refused));
      q.Cancel();
      EXPECT_TRUE(ErrorOf([&] { q.Delete(); }).ends_with(refused));
      EXPECT_TRUE(ErrorOf([&] { q.RefreshRecord(); }).ends_with(refused));
      EXPECT_EQ(Sent("UPDATE") + Sent("DELETE") + Sent("SELECT"), "")
          << "nothing is sent but reads of the table";
      EXPECT_EQ(Value("CHECKSUM TABLE t"), checksum);
      continue;
    }
    q.Post();
    const std::string update = Sent("UPDATE");
    EXPECT_TRUE(Holds(update, c.Condition)) << update;
    EXPECT_FALSE(update.ends_with("LIMIT 1")) << update;
    EXPECT_EQ(Value("SELECT COUNT(*) FROM t WHERE c = 'e'"), "1");
    q.Delete();
    EXPECT_EQ(Value("SELECT COUNT(*) FROM t"), "2");
    EXPECT_EQ(Value("SELECT COUNT(*) FROM t WHERE c = 'e'"), "0");
    EXPECT_EQ(Sent("SHOW INDEX"), "SHOW INDEX FROM `t`") << "the keys are read once";
  }
}

// The shapes a GM meets: a result that filters a twin out by a column it does not show, an
// AUTO_INCREMENT column that repeats under MyISAM's PRIMARY KEY (grp, id), and a self-join whose
// updating table is the joined side. Edit, delete and refresh are refused before anything is
// sent, directly or from the cache; an insert is written.
TEST_F(MyKeysDbTest, AResultWithoutTheTablesKeyWritesNoRow) {
  struct Case {
    const char* Name;
    const char* Create;
    const char* Rows;
    const char* Select;
    const char* UpdatingTable;
    const char* Field;    // edited
    const char* Missing;  // named by the refusal
    const char* Insert;   // field set by the insert, whose row then holds After; nil: no insert
    const char* Columns;  // of that row
    const char* After;
  };
  const Case cases[] = {
      {"a twin filtered out by a hidden column",
       "ch (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(9), gold INT, deleted INT DEFAULT 0)",
       "(1, 'qingyun', 100, 1), (2, 'qingyun', 100, 0)", "SELECT name, gold FROM ch WHERE deleted = 0", "",
       "gold", "id", "name", "id, name, IFNULL(gold, 'NULL'), deleted", "3,new,NULL,0"},
      {"an AUTO_INCREMENT column without the rest of its key",
       "ch (grp INT NOT NULL DEFAULT 2, id INT AUTO_INCREMENT, name VARCHAR(9), PRIMARY KEY (grp, id)) "
       "ENGINE = MyISAM",
       "(1, 1, 'a'), (2, 1, 'b')", "SELECT id, name FROM ch WHERE grp = 2", "", "name", "grp", "name",
       "grp, id, name", "2,2,new"},
      {"a self-join writing the joined side", "ch (id INT PRIMARY KEY, name VARCHAR(9), parent INT)",
       "(1, 'root', NULL), (2, 'x', 1), (3, 'x', 1), (4, 'leaf', 3)",
       "SELECT p.id, p.name, q.name AS qn FROM ch p LEFT JOIN ch q ON q.id = p.parent WHERE p.id = 4", "q",
       "qn", "id", nullptr, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    for (bool cached : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (cached ? ", cached" : ""));
      Conn.ExecSQL("DROP TABLE IF EXISTS ch");
      Conn.ExecSQL(std::string("CREATE TABLE ") + c.Create);
      Conn.ExecSQL(std::string("INSERT INTO ch VALUES ") + c.Rows);
      const std::string checksum = Value("CHECKSUM TABLE ch");
      const std::string refused =
          std::string("the result does not hold the key of table ch (missing: ") + c.Missing + ")";
      TMyQuery q;
      q.SetCachedUpdates(cached);
      q.RefreshOptions = roAfterInsert;
      q.SetConnection(&Conn);
      q.SetSQLText(c.Select);
      q.SetUpdatingTable(c.UpdatingTable);
      q.Open();
      StartLog();
      q.Edit();
      q.FieldByName(c.Field)->SetAsString("999");
      if (cached) {
        q.Post();
        q.Delete();
        EXPECT_TRUE(ErrorOf([&] { q.ApplyUpdates(); }).ends_with(refused));
        EXPECT_TRUE(q.UpdatesPending());
        q.CancelUpdates();
      } else {
        EXPECT_TRUE(ErrorOf([&] { q.Post(); }).ends_with(refused));
        q.Cancel();
        EXPECT_TRUE(ErrorOf([&] { q.Delete(); }).ends_with(refused));
      }
      EXPECT_TRUE(ErrorOf([&] { q.RefreshRecord(); }).ends_with(refused));
      EXPECT_EQ(Sent("UPDATE") + Sent("DELETE") + Sent("SELECT"), "")
          << "nothing is sent but reads of the table";
      EXPECT_EQ(Value("CHECKSUM TABLE ch"), checksum);
      if (c.Insert == nullptr) continue;
      q.Append();
      q.FieldByName(c.Insert)->SetAsString("new");
      EXPECT_EQ(ErrorOf([&] {
                  q.Post();
                  if (cached) q.ApplyUpdates();
                }),
                "");
      EXPECT_EQ(Value(std::string("SELECT CONCAT_WS(',', ") + c.Columns + ") FROM ch WHERE name = 'new'"),
                c.After);
    }
  }
}

// A keyless row is found by the bytes of its texts, trailing blanks included, whatever the session's
// character set: its collation takes 'a' for 'A' and 'b ' for 'b'.
TEST_F(MyKeysDbTest, AKeylessRowIsFoundByTheBytesOfItsTexts) {
  {
    SCOPED_TRACE("twins under the column's collation");
    Conn.ExecSQL("CREATE TABLE kl (name VARCHAR(10) CHARACTER SET latin1, n INT)");
    Conn.ExecSQL("INSERT INTO kl VALUES ('A', 1), ('a', 1), ('b ', 2), ('b', 2)");
    TMyQuery q;
    Open(q, "SELECT * FROM kl ORDER BY n, BINARY name");
    q.Next();  // 'a'
    q.Edit();
    q.FieldByName("n")->SetAsInteger(11);
    EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
    q.Next();  // 'b'
    EXPECT_EQ(ErrorOf([&] { q.RefreshRecord(); }), "");
    EXPECT_EQ(q.FieldByName("name")->AsString(), "b");
    EXPECT_EQ(ErrorOf([&] { q.Delete(); }), "");
    EXPECT_EQ(Rows("kl", "HEX(name), n", "n, HEX(name)"), "41,1;6220,2;61,11");
  }
  struct Case {
    const char* Column;   // its character set
    const char* Session;  // the connection's
    const char* Hex;      // a text of the column's set that the session's holds too
  };
  const Case cases[] = {
      {"latin1", "gbk", "E9"},       // e acute
      {"gbk", "utf8", "D6D0"},       // the character for "middle"
      {"utf8mb3", "gbk", "E4B8AD"},  // the same in UTF-8
      {"gbk", "latin1", "41"},       // plain ASCII
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.Column) + " column, " + c.Session + " session");
    Conn.ExecSQL("DROP TABLE IF EXISTS kc");
    Conn.ExecSQL(std::string("CREATE TABLE kc (name VARCHAR(10) CHARACTER SET ") + c.Column + ", n INT)");
    // The twin with a trailing blank comes first on the server.
    Conn.ExecSQL(std::string("INSERT INTO kc VALUES (X'") + c.Hex + "20', 1), (X'" + c.Hex + "', 1)");
    TMyConnection conn;
    Connect(conn, Db.Name());
    conn.Options().SetCharset(c.Session);
    TMyQuery q;
    Open(q, "SELECT * FROM kc ORDER BY HEX(name)", &conn);
    q.Edit();
    q.FieldByName("n")->SetAsInteger(5);
    EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
    EXPECT_EQ(ErrorOf([&] { q.RefreshRecord(); }), "");
    EXPECT_EQ(q.FieldByName("n")->AsInteger(), 5);
    EXPECT_EQ(Rows("kc", "HEX(name), n", "HEX(name)"), std::string(c.Hex) + ",5;" + c.Hex + "20,1");
  }
}

// The generated-column check, the character sets of a keyless row's conditions and the column
// defaults share one read of the table's columns per open.
TEST_F(MyKeysDbTest, ATablesColumnsAreReadOncePerOpen) {
  Conn.ExecSQL(
      "CREATE TABLE kg (name VARCHAR(10) CHARACTER SET latin1 DEFAULT 'x', n INT, "
      "g INT AS (n + 1) VIRTUAL)");
  Conn.ExecSQL("INSERT INTO kg (name, n) VALUES ('a', 1)");
  TMyQuery q;
  q.Options().DefaultValues = true;
  StartLog();
  for (int open = 1; open <= 2; ++open) {
    SCOPED_TRACE(open);
    Open(q, "SELECT * FROM kg");
    EXPECT_EQ(q.FieldByName("name")->DefaultExpression, "x");
    q.Edit();
    q.FieldByName("n")->SetAsInteger(open * 10);
    EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
    const std::string sent = Sent("SHOW FULL COLUMNS");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), '|') + 1, open) << sent;
    q.Close();
  }
}

// ---- the table's database -----------------------------------------------------------------------

TEST_F(MyKeysDbTest, AQualifiedTableIsWrittenInItsOwnDatabase) {
  TScratchDb other;
  const std::string zoneA = Db.Name();
  for (const std::string& db : {zoneA, other.Name()}) {
    Conn.ExecSQL("CREATE TABLE " + db + ".account (id INT PRIMARY KEY, money INT, note VARCHAR(9))");
    Conn.ExecSQL("CREATE TABLE " + db + ".`odd``name` (id INT PRIMARY KEY, money INT)");
    Conn.ExecSQL("INSERT INTO " + db + ".account VALUES (1, 10, 'a'), (2, 20, 'b')");
    Conn.ExecSQL("INSERT INTO " + db + ".`odd``name` VALUES (1, 10)");
  }
  struct Case {
    const char* Name;
    std::string Database;  // of the connection
    std::string Table;     // as the query names it
    std::string Written;   // as the statements must name it
    const char* After;     // the table's rows after the edit, the insert and the delete
  };
  const Case cases[] = {
      {"connection on the other database", other.Name(), zoneA + ".account", "`" + zoneA + "`.`account`",
       "1:999,2:20"},
      {"connection on no database", "", zoneA + ".account", "`" + zoneA + "`.`account`", "1:999,2:20"},
      {"quoted parts with a back quote inside", "", "`" + zoneA + "`.`odd``name`",
       "`" + zoneA + "`.`odd``name`", "1:999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMyConnection conn;
    Connect(conn, c.Database);
    conn.Open();
    TMyQuery q;
    Open(q, "SELECT * FROM " + c.Table + " ORDER BY id", &conn);
    StartLog(conn);
    q.Edit();
    q.FieldByName("money")->SetAsInteger(999);
    q.Post();
    q.RefreshRecord();
    q.Append();
    q.FieldByName("id")->SetAsInteger(3);
    q.Post();
    q.Locate("id", {Variant(3)}, 0);
    q.Delete();
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', money ORDER BY id) FROM " + c.Table), c.After);
    for (const char* kind : {"UPDATE", "INSERT", "DELETE", "SELECT"}) {
      const std::string sent = Sent(kind);
      EXPECT_TRUE(Holds(sent, c.Written)) << kind << ": " << sent;
    }
    // Restore zoneA for the next case; the other database must never have changed.
    Conn.ExecSQL("UPDATE " + c.Table + " SET money = 10 WHERE id = 1");
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', money ORDER BY id) FROM " + other.Name() + ".account"),
              "1:10,2:20");
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', money ORDER BY id) FROM " + other.Name() + ".`odd``name`"),
              "1:10");
  }
}

// A zero DATE or DATETIME reads as NULL, like a zero TIMESTAMP: the row is found whichever it
// holds, whether the column is a key or one of a keyless row's columns.
TEST_F(MyKeysDbTest, ARowHoldingAZeroDateIsFoundToWriteAndRead) {
  Conn.ExecSQL("SET SESSION sql_mode = ''");
  struct Case {
    const char* Name;
    const char* Create;
    const char* Rows;
    const char* Columns;  // as the rows are read back
    const char* After;    // after an edit of each row's n and the delete of the first row
  };
  const Case cases[] = {
      {"keyless, nullable DATETIME and DATE", "(d DATETIME NULL, dd DATE NULL, n INT)",
       "('0000-00-00 00:00:00', '2024-01-02', 1), (NULL, '0000-00-00', 2), (NULL, NULL, 3)",
       "IFNULL(d, 'N'), IFNULL(dd, 'N'), n", "N,0000-00-00,12;N,N,13"},
      {"keyless, DATETIME(6)", "(d DATETIME(6) NULL, n INT)", "('0000-00-00 00:00:00', 1), (NULL, 2)",
       "IFNULL(d, 'N'), n", "N,12"},
      {"a DATE key", "(dd DATE NOT NULL PRIMARY KEY, n INT)", "('0000-00-00', 1), ('2024-01-02', 2)", "dd, n",
       "2024-01-02,12"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Conn.ExecSQL("DROP TABLE IF EXISTS z");
    Conn.ExecSQL(std::string("CREATE TABLE z ") + c.Create);
    Conn.ExecSQL(std::string("INSERT INTO z VALUES ") + c.Rows);
    TMyQuery q;
    Open(q, "SELECT * FROM z ORDER BY n");
    for (q.First(); !q.Eof(); q.Next()) {
      q.Edit();
      q.FieldByName("n")->SetAsInteger(q.FieldByName("n")->AsInteger() + 10);
      EXPECT_EQ(ErrorOf([&] { q.Post(); }), "") << q.FieldByName("n")->AsInteger();
      if (q.State() != dsBrowse) q.Cancel();
      EXPECT_EQ(ErrorOf([&] { q.RefreshRecord(); }), "");
    }
    q.First();
    EXPECT_EQ(ErrorOf([&] { q.Delete(); }), "");
    EXPECT_EQ(Rows("z", c.Columns, "n"), c.After);
  }
}

// The zero date read as NULL is that row's zero date, not a NULL beside it in a row alike in
// every other column.
TEST_F(MyKeysDbTest, AZeroDateReadAsNullFindsItsOwnRowBesideANullTwin) {
  Conn.ExecSQL("SET SESSION sql_mode = ''");
  Conn.ExecSQL("CREATE TABLE z (d DATETIME NULL, n INT)");
  Conn.ExecSQL("INSERT INTO z VALUES (NULL, 5), ('0000-00-00 00:00:00', 5)");
  TMyQuery q;
  Open(q, "SELECT * FROM z");
  q.Last();
  q.Edit();
  q.FieldByName("n")->SetAsInteger(6);
  EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
  EXPECT_EQ(Rows("z", "IFNULL(d, 'N'), n", "n"), "N,5;0000-00-00 00:00:00,6");
}

// Under the default NullForZeroDate a zero DATE, DATETIME or TIMESTAMP reads as NULL: a post of
// other fields leaves it as the server holds it, and clearing it writes NULL.
TEST_F(MyKeysDbTest, AZeroDateReadAsNullIsWrittenOnlyWhenCleared) {
  Conn.ExecSQL("SET SESSION sql_mode = ''");
  const std::string columns =
      "IFNULL(CAST(d AS CHAR), 'N'), IFNULL(CAST(dt AS CHAR), 'N'), "
      "IFNULL(CAST(ts AS CHAR), 'N'), n";
  const std::string zero = "0000-00-00,0000-00-00 00:00:00,0000-00-00 00:00:00";
  for (bool cached : {false, true}) {
    for (bool all : {false, true}) {
      SCOPED_TRACE(std::string(cached ? "cached" : "posted") + (all ? ", every field" : ""));
      Conn.ExecSQL("DROP TABLE IF EXISTS zd");
      Conn.ExecSQL(
          "CREATE TABLE zd (id INT PRIMARY KEY, d DATE NULL, dt DATETIME NULL, "
          "ts TIMESTAMP NULL DEFAULT NULL, n INT)");
      Conn.ExecSQL(
          "INSERT INTO zd VALUES (1, '0000-00-00', '0000-00-00', '0000-00-00', 1), "
          "(2, '0000-00-00', '0000-00-00', '0000-00-00', 2)");
      TMyQuery q;
      q.SetCachedUpdates(cached);
      q.Options().UpdateAllFields = all;
      Open(q, "SELECT * FROM zd ORDER BY id");
      StartLog();
      q.Edit();
      q.FieldByName("n")->SetAsInteger(11);
      q.Post();
      q.Next();
      q.Edit();
      for (const char* name : {"d", "dt", "ts"}) q.FieldByName(name)->Clear();
      q.Post();
      if (cached) q.ApplyUpdates();
      EXPECT_EQ(Rows("zd", columns, "id"), zero + ",11;N,N,N,2");
      const std::string sent = Sent("UPDATE");
      const std::string first = sent.substr(0, sent.find('|'));
      EXPECT_FALSE(Holds(first, " d =") || Holds(first, "dt") || Holds(first, "ts")) << first;
      EXPECT_TRUE(Holds(sent.substr(first.size()), "ts = NULL")) << sent;
    }
  }
}

// With NullForZeroDate off a zero date reads as its text and as a date-time no field access
// refuses, and is written back as the zero date; a real 0001-01-01 stays that day.
TEST_F(MyKeysDbTest, AZeroDateReadAsItselfIsWrittenBackUnchanged) {
  Conn.ExecSQL("SET SESSION sql_mode = ''");
  const std::string columns = "CAST(d AS CHAR), CAST(dt AS CHAR), IFNULL(CAST(ts AS CHAR), 'N'), n";
  for (const char* key : {"id INT PRIMARY KEY", "id INT"}) {
    for (bool cached : {false, true}) {
      SCOPED_TRACE(std::string(key) + (cached ? ", cached" : ""));
      Conn.ExecSQL("DROP TABLE IF EXISTS zd");
      Conn.ExecSQL(std::string("CREATE TABLE zd (") + key +
                   ", d DATE, dt DATETIME, ts TIMESTAMP NULL DEFAULT NULL, n INT)");
      Conn.ExecSQL(
          "INSERT INTO zd VALUES (1, '0000-00-00', '0000-00-00', '0000-00-00', 1), "
          "(2, '0001-01-01', '0001-01-01', NULL, 2)");
      TMyQuery q;
      q.Options().SetNullForZeroDate(false);
      q.Options().UpdateAllFields = true;
      q.SetCachedUpdates(cached);
      Open(q, "SELECT * FROM zd ORDER BY id");
      const struct {
        const char* Name;
        const char* Text;
      } cells[] = {{"d", "0000-00-00"}, {"dt", "0000-00-00 00:00:00"}, {"ts", "0000-00-00 00:00:00"}};
      for (const auto& cell : cells) {
        TField* f = q.FieldByName(cell.Name);
        EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(f->AsString(), cell.Text); }), "") << cell.Name;
        EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(f->DisplayText(), cell.Text); }), "") << cell.Name;
        EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(f->AsDateTime(), MySQLZeroDate); }), "") << cell.Name;
        EXPECT_EQ(ErrorOf([&] { f->AsFloat(); }), "") << cell.Name;
      }
      for (q.First(); !q.Eof(); q.Next()) {
        q.Edit();
        q.FieldByName("n")->SetAsInteger(q.FieldByName("n")->AsInteger() + 10);
        EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
      }
      if (cached) {
        EXPECT_EQ(ErrorOf([&] { q.ApplyUpdates(); }), "");
      }
      EXPECT_EQ(Rows("zd", columns, "id"),
                "0000-00-00,0000-00-00 00:00:00,0000-00-00 00:00:00,11;0001-01-01,0001-01-01 00:00:00,N,12");
    }
  }
}

// A row found by its values cannot be found while it holds a date the client cannot read
// ('2024-00-10' reads as NULL): its writes and refresh are refused, naming the column, before
// anything is sent.
TEST_F(MyKeysDbTest, ARowFoundByItsValuesIsRefusedWhileItHoldsAnUnreadableDate) {
  Conn.ExecSQL("SET SESSION sql_mode = ''");
  const struct {
    const char* Name;
    const char* Create;
    bool CheckRowVersion;
  } cases[] = {{"keyless", "(id INT, d DATE, n INT)", false},
               {"row version", "(id INT PRIMARY KEY, d DATE, n INT)", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Conn.ExecSQL("DROP TABLE IF EXISTS pz");
    Conn.ExecSQL(std::string("CREATE TABLE pz ") + c.Create);
    Conn.ExecSQL("INSERT INTO pz VALUES (1, NULL, 1), (2, '2024-00-10', 1)");
    const std::string checksum = Value("CHECKSUM TABLE pz");
    TMyQuery q;
    q.Options().CheckRowVersion = c.CheckRowVersion;
    Open(q, "SELECT * FROM pz");
    q.Last();
    StartLog();
    q.Edit();
    q.FieldByName("n")->SetAsInteger(2);
    EXPECT_TRUE(Holds(ErrorOf([&] { q.Post(); }), "field 'd' holds a date the client cannot read"));
    q.Cancel();
    EXPECT_TRUE(Holds(ErrorOf([&] { q.Delete(); }), "field 'd'"));
    EXPECT_EQ(Sent("UPDATE") + Sent("DELETE"), "");
    EXPECT_EQ(Value("CHECKSUM TABLE pz"), checksum);
  }
}

// Two tables of one name in two databases, joined under aliases: each side's refresh and lock
// statements name its own alias and read its own row.
TEST_F(MyKeysDbTest, ASameNamedTableOfAnotherDatabaseIsReadUnderItsOwnAlias) {
  TScratchDb other;
  const std::string zoneA = Db.Name(), zoneB = other.Name();
  for (const std::string& db : {zoneA, zoneB}) {
    Conn.ExecSQL("CREATE TABLE " + db + ".hero (id INT PRIMARY KEY, name VARCHAR(9), lv INT)");
    Conn.ExecSQL("INSERT INTO " + db + ".hero VALUES (1, 'ann', 1), (2, 'bob', 2)");
  }
  struct Case {
    const char* Alias;
    const char* Level;  // the field of that side's lv
    std::string Table;  // the side's table
    std::string Other;  // the table nobody edits
  };
  const Case cases[] = {{"a", "lv", zoneA + ".hero", zoneB + ".hero"},
                        {"b", "lv_1", zoneB + ".hero", zoneA + ".hero"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Alias);
    TMyQuery q;
    q.RefreshOptions = roAfterUpdate;
    q.SetConnection(&Conn);
    q.SetSQLText("SELECT a.*, b.* FROM " + zoneA + ".hero a JOIN " + zoneB +
                 ".hero b ON b.id = a.id WHERE a.id = 1");
    q.SetUpdatingTable(c.Alias);
    q.Open();
    q.Edit();
    q.FieldByName(c.Level)->SetAsInteger(50);
    EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
    Conn.ExecSQL("UPDATE " + c.Table + " SET lv = 60 WHERE id = 1");
    EXPECT_EQ(ErrorOf([&] { q.RefreshRecord(); }), "");
    EXPECT_EQ(q.FieldByName(c.Level)->AsInteger(), 60);
    TDAParams params;
    const std::string lock = q.SQLGenerator().GenerateSQLForUpdatingTable(stLock, false, &params);
    EXPECT_TRUE(Holds(lock, std::string(" ") + c.Alias + ".id = ?")) << lock;
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM " + c.Table), "1:60,2:2");
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM " + c.Other), "1:1,2:2");
    Conn.ExecSQL("UPDATE " + c.Table + " SET lv = 1 WHERE id = 1");
  }
}

// ---- column names -------------------------------------------------------------------------------

TEST_F(MyKeysDbTest, AnAliasedColumnIsWrittenUnderItsOwnName) {
  Conn.ExecSQL("CREATE TABLE pair (id INT PRIMARY KEY, a INT, b INT)");
  Conn.ExecSQL("INSERT INTO pair VALUES (1, 10, 20)");
  const char* selects[] = {"SELECT id, a AS b, b AS a FROM pair",
                           "SELECT x.id, x.a AS b, x.b AS a FROM pair x",
                           "SELECT x.id AS k, x.a AS b, x.b AS a FROM pair AS x"};
  int value = 0;
  for (const char* select : selects) {
    SCOPED_TRACE(select);
    TMyQuery q;
    Open(q, select);
    q.Edit();
    q.FieldByName("b")->SetAsInteger(++value);  // column a
    EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
    EXPECT_EQ(Rows("pair", "id, a, b", "id"), "1," + std::to_string(value) + ",20");
    q.RefreshRecord();
    EXPECT_EQ(q.FieldByName("b")->AsInteger(), value);
    EXPECT_EQ(q.FieldByName("a")->AsInteger(), 20);
  }
}

// ---- refreshed values ---------------------------------------------------------------------------

TEST_F(MyKeysDbTest, RefreshPutsEachColumnIntoItsOwnField) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lvl INT, name VARCHAR(9), title VARCHAR(60))");
  Conn.ExecSQL("INSERT INTO hero VALUES (7, 1, 'ann', '')");
  struct Case {
    const char* Name;
    std::vector<const char*> Fields;  // persistent fields, in this order
  };
  const Case cases[] = {
      {"fields in the SELECT's order", {"id", "lvl", "name", "title"}},
      {"fields in another order", {"title", "name", "lvl", "id"}},
      {"fewer fields than columns", {"lvl", "id"}},
  };
  int level = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMyQuery q;
    for (const char* name : c.Fields) {
      const bool text = std::string(name) == "name" || std::string(name) == "title";
      TField* field =
          text ? static_cast<TField*>(new TStringField(&q)) : static_cast<TField*>(new TIntegerField(&q));
      field->SetFieldName(name);
      if (text) field->SetSize(60);
      field->SetDataSet(&q);
    }
    ASSERT_EQ(ErrorOf([&] { Open(q, "SELECT * FROM hero"); }), "");
    ++level;
    Conn.ExecSQL("UPDATE hero SET lvl = " + std::to_string(level) + ", title = REPEAT('t', " +
                 std::to_string(level * 10) + ")");
    ASSERT_EQ(ErrorOf([&] { q.RefreshRecord(); }), "");
    EXPECT_EQ(q.FieldByName("id")->AsInteger(), 7);
    EXPECT_EQ(q.FieldByName("lvl")->AsInteger(), level);
    if (TField* title = q.FindField("title")) {
      EXPECT_EQ(title->AsString(), std::string(level * 10, 't'));
    }
    // The next edit finds the row by its key.
    q.Edit();
    q.FieldByName("lvl")->SetAsInteger(level * 10);
    q.Post();
    EXPECT_EQ(Value("SELECT lvl FROM hero WHERE id = 7"), std::to_string(level * 10));
  }
}

// ---- TEXT and BLOB ------------------------------------------------------------------------------

TEST_F(MyKeysDbTest, ATextOrBlobIsWrittenOnlyWhenItChanged) {
  Conn.ExecSQL("CREATE TABLE tt (id INT PRIMARY KEY, tx TEXT, bl BLOB, f INT)");
  for (bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "cached updates" : "posted at once");
    Conn.ExecSQL("DELETE FROM tt");
    Conn.ExecSQL("INSERT INTO tt VALUES (1, 'text', 'bytes', 0)");
    TMyQuery q;
    q.SetCachedUpdates(cached);
    Open(q, "SELECT * FROM tt");
    StartLog();
    const auto post = [&](const char* field, const std::string& value) {
      q.Edit();
      q.FieldByName(field)->SetAsString(value);
      q.Post();
      if (cached) q.ApplyUpdates();
      if (cached) q.CommitUpdates();
    };
    post("f", "1");
    // Another session changes the texts; editing another column must not undo that.
    TMyConnection other;
    Connect(other, Db.Name());
    other.ExecSQL("UPDATE tt SET tx = 'theirs', bl = 'their bytes'");
    post("f", "2");
    EXPECT_EQ(Rows("tt", "tx, bl, f", "id"), "theirs,their bytes,2");
    EXPECT_FALSE(Holds(Sent("UPDATE"), "tx")) << Sent("UPDATE");
    post("tx", "mine");
    post("f", "3");
    EXPECT_EQ(Rows("tt", "tx, bl, f", "id"), "mine,their bytes,3");
  }
}

// ---- values read inexactly ----------------------------------------------------------------------

TEST_F(MyKeysDbTest, AnInexactDecimalNeverBreaksAWrite) {
  Conn.ExecSQL("CREATE TABLE keyed (id INT PRIMARY KEY, amount DECIMAL(20,6), price DECIMAL(10,2), n INT)");
  Conn.ExecSQL("CREATE TABLE keyless (amount DECIMAL(20,6), price DECIMAL(10,2), n INT)");
  for (const char* table : {"keyed", "keyless"}) {
    const bool keyed = std::string(table) == "keyed";
    Conn.ExecSQL(std::string("INSERT INTO ") + table + " VALUES (" + (keyed ? "1, " : "") +
                 "12345678901234.123456, 12.34, 0), (" + (keyed ? "2, " : "") +
                 "12345678901234.123457, 12.34, 5)");
  }
  struct Case {
    const char* Name;
    const char* Table;
    bool CheckRowVersion;
    const char* After;  // n of the rows, by amount
  };
  const Case cases[] = {
      {"row version check of an unchanged keyed row", "keyed", true, "1,5"},
      {"keyless row", "keyless", false, "1,5"},
      {"keyless row with the row version check", "keyless", true, "2,5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMyQuery q;
    q.Options().CheckRowVersion = c.CheckRowVersion;
    Open(q, std::string("SELECT * FROM ") + c.Table + " ORDER BY amount");
    StartLog();
    q.Edit();
    q.FieldByName("n")->SetAsInteger(q.FieldByName("n")->AsInteger() + 1);
    q.Post();
    const std::string update = Sent("UPDATE");
    EXPECT_FALSE(Holds(update, "amount")) << update;
    EXPECT_TRUE(Holds(update, "price = ")) << "an exact DECIMAL stays: " << update;
    EXPECT_EQ(Value(std::string("SELECT GROUP_CONCAT(n ORDER BY amount) FROM ") + c.Table), c.After);
  }
}

// ---- smaller ------------------------------------------------------------------------------------

TEST_F(MyKeysDbTest, SearchesAndStatementsOverLessCommonShapes) {
  Conn.ExecSQL("SET SESSION sql_mode = ''");
  Conn.ExecSQL("CREATE TABLE stamp (ts TIMESTAMP NULL DEFAULT NULL, n INT)");
  Conn.ExecSQL("INSERT INTO stamp VALUES ('0000-00-00 00:00:00', 1), (NULL, 2)");
  Conn.ExecSQL("CREATE TABLE big (id BIGINT UNSIGNED PRIMARY KEY, n INT)");
  Conn.ExecSQL("INSERT INTO big VALUES (18446744073709551615, 1), (5, 2)");
  Conn.ExecSQL("CREATE TABLE micro (at DATETIME(6), span TIME(6), n INT)");
  Conn.ExecSQL(
      "INSERT INTO micro VALUES ('2024-05-06 07:08:09.123456', '-838:59:58.5', 1), "
      "('2024-05-06 07:08:09.123457', '12:00:00', 2)");

  {
    SCOPED_TRACE("a keyless row whose TIMESTAMP reads as NULL is found, zero or NULL");
    TMyQuery q;
    Open(q, "SELECT * FROM stamp ORDER BY n");
    for (q.First(); !q.Eof(); q.Next()) {
      EXPECT_TRUE(q.FieldByName("ts")->IsNull());
      EXPECT_EQ(ErrorOf([&] { q.RefreshRecord(); }), "");
      q.Edit();
      q.FieldByName("n")->SetAsInteger(q.FieldByName("n")->AsInteger() + 100);
      EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
    }
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(n ORDER BY n) FROM stamp"), "101,102");
  }
  {
    SCOPED_TRACE("the lock statement of an aliased query");
    TMyQuery q;
    Open(q, "SELECT * FROM big x ORDER BY id");
    TDAParams params;
    const std::string lock = q.SQLGenerator().GenerateSQLForUpdatingTable(stLock, false, &params);
    ASSERT_EQ(params.Count(), 1) << lock;
    params[0]->SetAsString("5");
    TMyQuery run;
    run.SetConnection(&Conn);
    run.SetParamCheck(false);
    run.SetSQLText(lock);
    run.Params().Assign(&params);
    EXPECT_EQ(ErrorOf([&] { run.Open(); }), "") << lock;
    EXPECT_EQ(run.RecordCount(), 1) << lock;
  }
  {
    SCOPED_TRACE("Locate, Lookup and Refresh on a BIGINT UNSIGNED key");
    TMyQuery q;
    Open(q, "SELECT * FROM big ORDER BY id");
    EXPECT_TRUE(q.Locate("id", {Variant(18446744073709551615ULL)}, 0));
    EXPECT_EQ(q.FieldByName("n")->AsInteger(), 1);
    EXPECT_EQ(q.Lookup("id", {Variant(5ULL)}, "n")[0].AsInteger(), 2);
    EXPECT_EQ(ErrorOf([&] { q.Refresh(); }), "");
    EXPECT_EQ(q.FieldByName("n")->AsInteger(), 1) << "still on the same row";
    EXPECT_EQ(ErrorOf([&] { q.RefreshRecord(); }), "");
    q.Edit();
    q.FieldByName("n")->SetAsInteger(3);
    EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
    EXPECT_EQ(Value("SELECT n FROM big WHERE id = 18446744073709551615"), "3");
  }
  {
    SCOPED_TRACE("Locate and Refresh on a keyless table with DATETIME(6) and TIME(6)");
    TMyQuery q;
    Open(q, "SELECT * FROM micro ORDER BY n");
    EXPECT_TRUE(q.Locate("at", {Variant(std::string("2024-05-06 07:08:09.123457"))}, 0));
    EXPECT_EQ(q.FieldByName("n")->AsInteger(), 2);
    EXPECT_TRUE(q.Locate("span", {Variant(std::string("-838:59:58.500000"))}, 0));
    EXPECT_EQ(q.FieldByName("n")->AsInteger(), 1);
    q.Last();
    EXPECT_EQ(ErrorOf([&] { q.Refresh(); }), "");
    EXPECT_EQ(q.FieldByName("n")->AsInteger(), 2) << "still on the same row";
    q.First();
    EXPECT_EQ(ErrorOf([&] { q.RefreshRecord(); }), "");
    q.Edit();
    q.FieldByName("n")->SetAsInteger(3);
    EXPECT_EQ(ErrorOf([&] { q.Post(); }), "");
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(n ORDER BY at) FROM micro"), "3,2");
  }
  {
    SCOPED_TRACE("the identity field follows the updating table");
    Conn.ExecSQL("CREATE TABLE hero (hid INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(9))");
    Conn.ExecSQL("CREATE TABLE guild (gid INT AUTO_INCREMENT PRIMARY KEY, title VARCHAR(9))");
    Conn.ExecSQL("INSERT INTO hero VALUES (1, 'ann')");
    Conn.ExecSQL("INSERT INTO guild VALUES (40, 'red')");
    TMyQuery q;
    Open(q, "SELECT h.*, g.* FROM hero h, guild g");
    ASSERT_NE(q.IdentityField(), nullptr);
    EXPECT_EQ(q.IdentityField()->FieldName(), "hid");
    q.SetUpdatingTable("g");
    ASSERT_NE(q.IdentityField(), nullptr);
    EXPECT_EQ(q.IdentityField()->FieldName(), "gid");
    q.Append();
    q.FieldByName("title")->SetAsString("blue");
    q.Post();
    EXPECT_EQ(q.FieldByName("gid")->AsInteger(), 41);
    EXPECT_EQ(Value("SELECT title FROM guild WHERE gid = 41"), "blue");
  }
}

}  // namespace
