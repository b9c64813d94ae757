// The MySQL query dataset against the test server: opening and fetching, options that need a
// closed dataset, executing, disconnected mode, the updating table, the record count, refresh and
// master/detail.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "components/MyAccessDataSet.h"
#include "core/DAConsts.h"
#include "mysql/ApiTestSupport.h"
#include "platform/db/NumericFields.h"
#include "support/ManualMessageLoop.h"
#include "support/StallRelay.h"

namespace {

using api_test::TScratchDb;

class MyQueryDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const TestServer::TInfo& srv = TestServer::Info();
    Conn.LoginPrompt = false;
    Conn.SetServer(srv.Host);
    Conn.SetPort(srv.Port);
    Conn.SetUsername(srv.NativeUser);
    Conn.SetPassword(srv.NativePassword);
    Conn.SetDatabase(Db.Name());
    Conn.ExecSQL(
        "CREATE TABLE user (id INT AUTO_INCREMENT PRIMARY KEY, name VARCHAR(20) NOT NULL, "
        "level SMALLINT, joined DATETIME, gold DECIMAL(10,2), born YEAR, score INT)");
    std::string values;
    for (int i = 1; i <= 20; ++i)
      values += std::string(i > 1 ? "," : "") + "(" + std::to_string(i) + ",'player" + std::to_string(i) +
                "'," + std::to_string(i % 3) + ",'2024-01-0" + std::to_string(i % 9 + 1) + " 10:00:00'," +
                std::to_string(i) + ".50,1990," + std::to_string(-i) + ")";
    Conn.ExecSQL("INSERT INTO user VALUES " + values);
    Query.SetConnection(&Conn);
  }

  int Count(const std::string& sql) {
    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetSQLText(sql);
    q.Open();
    return q.Fields()[0]->AsInteger();
  }

  TScratchDb Db;
  TMyConnection Conn;
  TMyQuery Query;
};

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

TEST_F(MyQueryDbTest, OpensALimitedSelectWithTypedRows) {
  Query.SetSQLText("Select * from user  LIMIT 0,17");
  Query.Open();
  EXPECT_EQ(Query.RecordCount(), 17);
  struct Column {
    const char* Name;
    TFieldType Type;
  };
  const Column columns[] = {{"id", ftInteger},      {"name", ftString}, {"level", ftSmallint},
                            {"joined", ftDateTime}, {"gold", ftFloat},  {"born", ftWord},
                            {"score", ftInteger}};
  ASSERT_EQ(Query.FieldCount(), 7);
  for (const Column& c : columns) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Query.FieldByName(c.Name)->DataType(), c.Type);
  }
  Query.Last();
  EXPECT_EQ(Query.FieldByName("id")->AsInteger(), 17);
  EXPECT_EQ(Query.FieldByName("name")->AsString(), "player17");
  EXPECT_EQ(Query.FieldByName("gold")->AsFloat(), 17.5);
  EXPECT_EQ(Query.FieldByName("id")->Origin, "user.id");
  EXPECT_EQ(Query.IdentityField(), Query.FieldByName("id"));
  EXPECT_TRUE(Query.CanModify());
  EXPECT_EQ(Query.RowsAffected(), -1);
}

TEST_F(MyQueryDbTest, FetchOptionsFollowTheirRules) {
  struct Case {
    const char* Name;
    int Rows;
    bool Accepted;
  };
  const Case cases[] = {
      {"zero", 0, false}, {"one", 1, true}, {"ten thousand", 10000, true}, {"above", 10001, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    EXPECT_EQ(ErrorOf([&] { Query.SetFetchRows(k.Rows); }), k.Accepted ? "" : "FetchRows must be 1..10000");
  }
  Query.SetUniDirectional(true);
  EXPECT_FALSE(Query.FetchAll());
  Query.SetFetchAll(true);
  EXPECT_FALSE(Query.UniDirectional());

  // Fetching in blocks of 3 still walks every row.
  Query.SetFetchAll(false);
  Query.SetFetchRows(3);
  Query.SetSQLText("SELECT id FROM user ORDER BY id");
  Query.Open();
  int seen = 0;
  for (; !Query.Eof(); Query.Next()) ++seen;
  EXPECT_EQ(seen, 20);

  const std::string open = "Cannot perform this operation on an open dataset";
  const std::pair<const char*, std::function<void()>> refused[] = {
      {"FetchRows", [&] { Query.SetFetchRows(5); }},
      {"UniDirectional", [&] { Query.SetUniDirectional(true); }},
      {"LongStrings", [&] { Query.Options().SetLongStrings(false); }},
      {"CompressBlobMode", [&] { Query.Options().SetCompressBlobMode(cbClient); }},
      {"EnableBoolean", [&] { Query.Options().SetEnableBoolean(false); }},
      {"LocalMasterDetail", [&] { Query.Options().SetLocalMasterDetail(true); }},
  };
  for (const auto& [name, action] : refused) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ErrorOf(action), open);
  }
  Query.Options().StrictUpdate = false;  // plain flags change on an open dataset
  EXPECT_TRUE(Query.Active());
}

TEST_F(MyQueryDbTest, ExecuteReportsRowsAffectedAndOpensAResult) {
  Query.SetSQLText("UPDATE user SET level = 9 WHERE id <= :last");
  Query.ParamByName("last")->SetAsInteger(5);
  Query.Execute();
  EXPECT_EQ(Query.RowsAffected(), 5);
  EXPECT_FALSE(Query.Active());
  EXPECT_EQ(Count("SELECT COUNT(*) FROM user WHERE level = 9"), 5);

  Query.SetSQLText("INSERT INTO user (name) VALUES ('newcomer')");
  Query.Execute();
  EXPECT_EQ(Query.InsertId(), 21);

  Query.SetSQLText("SELECT name FROM user WHERE id = 3");
  Query.Execute();
  ASSERT_TRUE(Query.Active());
  EXPECT_EQ(Query.FieldByName("name")->AsString(), "player3");

  Query.Close();
  Query.SetSQLText("  ");
  EXPECT_EQ(ErrorOf([&] { Query.Open(); }), "No SQL statement provided");
}

TEST_F(MyQueryDbTest, DisconnectedModeClosesTheConnectionAfterEachOperation) {
  Conn.Options().SetDisconnectedMode(true);
  struct Case {
    const char* Name;
    const char* Sql;
    bool Fails;
  };
  const Case cases[] = {
      {"update", "UPDATE user SET level = 1 WHERE id = 1", false},
      {"server error", "UPDATE no_such_table SET a = 1", true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    Query.SetSQLText(k.Sql);
    EXPECT_EQ(!ErrorOf([&] { Query.Execute(); }).empty(), k.Fails);
    EXPECT_FALSE(Conn.Connected());
    EXPECT_EQ(Conn.ConnectCount(), 0);
  }
  // An opened dataset keeps its rows while the connection is closed again.
  Query.SetSQLText("SELECT id FROM user");
  Query.Open();
  EXPECT_FALSE(Conn.Connected());
  EXPECT_TRUE(Query.Active());
  EXPECT_EQ(Query.RecordCount(), 20);
}

TEST_F(MyQueryDbTest, UpdatingTableIsTheFirstTableOrTheNamedOne) {
  Conn.ExecSQL("CREATE TABLE guild (gid INT PRIMARY KEY, owner INT, title VARCHAR(10))");
  Conn.ExecSQL("INSERT INTO guild VALUES (1, 1, 'first')");
  Query.SetSQLText("SELECT u.id, u.name, g.gid, g.title FROM user u JOIN guild g ON g.owner = u.id");
  Query.Options().SetFieldsReadOnly = true;
  Query.Open();
  ASSERT_NE(Query.UpdatingTableInfo(), nullptr);
  EXPECT_EQ(Query.UpdatingTableInfo()->GetTableName(), "user");
  EXPECT_FALSE(Query.FieldByName("name")->ReadOnly());
  EXPECT_TRUE(Query.FieldByName("title")->ReadOnly());

  Query.SetUpdatingTable("g");
  EXPECT_EQ(Query.UpdatingTableInfo()->GetTableName(), "guild");
  EXPECT_FALSE(Query.FieldByName("title")->ReadOnly());

  // A wrong name raises every time the dataset opens, never falling back to another table.
  Query.Close();
  Query.SetUpdatingTable("nonesuch");
  for (int attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(ErrorOf([&] { Query.Open(); }), "Wrong UpdatingTable value - table nonesuch is unknown");
    EXPECT_FALSE(Query.Active());
  }
}

TEST_F(MyQueryDbTest, RecordCountQueryCountsWhatTheQueryReturns) {
  struct Case {
    const char* Name;
    const char* Sql;
    int Expected;
  };
  const Case cases[] = {
      {"plain with order", "SELECT * FROM user WHERE id > 5 ORDER BY name", 15},
      {"distinct", "SELECT DISTINCT level FROM user", 3},
      {"group by", "SELECT level, COUNT(*) FROM user GROUP BY level", 3},
      {"limit", "SELECT id FROM user LIMIT 4", 4},
  };
  Query.SetFetchAll(false);
  Query.SetFetchRows(1);
  Query.Options().QueryRecCount = true;
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    Query.SetSQLText(k.Sql);
    Query.Open();
    EXPECT_EQ(Query.RecordCount(), k.Expected);
    Query.Close();
  }
  EXPECT_EQ(TCustomMyDataSet::CountSQL("SELECT a, b FROM t WHERE c ORDER BY a"),
            "SELECT COUNT(*) FROM t WHERE c");
  EXPECT_EQ(TCustomMyDataSet::CountSQL("SHOW TABLES"), "");
}

TEST_F(MyQueryDbTest, RefreshKeepsTheRowOrGoesToTheFirst) {
  Query.SetSQLText("SELECT id, name FROM user ORDER BY id");
  Query.Open();
  Query.SetRecNo(7);
  Conn.ExecSQL("UPDATE user SET name = 'renamed' WHERE id = 7");
  Query.Refresh();
  EXPECT_EQ(Query.FieldByName("id")->AsInteger(), 7);
  EXPECT_EQ(Query.FieldByName("name")->AsString(), "renamed");

  Conn.ExecSQL("DELETE FROM user WHERE id = 7");
  Query.Refresh();
  EXPECT_EQ(Query.FieldByName("id")->AsInteger(), 1);
  EXPECT_EQ(Query.RecordCount(), 19);

  // One record by its key.
  Query.SetRecNo(4);
  const int id = Query.FieldByName("id")->AsInteger();
  Conn.ExecSQL("UPDATE user SET name = 'single' WHERE id = " + std::to_string(id));
  Query.RefreshRecord();
  EXPECT_EQ(Query.FieldByName("name")->AsString(), "single");
  Conn.ExecSQL("DELETE FROM user WHERE id = " + std::to_string(id));
  EXPECT_EQ(ErrorOf([&] { Query.RefreshRecord(); }), "Refresh failed. Found 0 records");

  // Rows changed since the newest TIMESTAMP: changed values come in, deleted rows go, the
  // current row stays.
  Conn.ExecSQL(
      "CREATE TABLE stamped (id INT PRIMARY KEY, v INT, "
      "ts TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP ON UPDATE CURRENT_TIMESTAMP)");
  Conn.ExecSQL("INSERT INTO stamped (id, v) VALUES (1, 10), (2, 20), (3, 30)");
  TMyQuery stamped;
  stamped.SetConnection(&Conn);
  stamped.SetSQLText("SELECT * FROM stamped ORDER BY id");
  stamped.Open();
  stamped.SetRecNo(1);
  Conn.ExecSQL("UPDATE stamped SET v = 99 WHERE id = 2");
  Conn.ExecSQL("DELETE FROM stamped WHERE id = 3");
  stamped.RefreshQuick(true);
  EXPECT_EQ(stamped.RecordCount(), 2);
  EXPECT_EQ(stamped.FieldByName("id")->AsInteger(), 1);
  stamped.Next();
  EXPECT_EQ(stamped.FieldByName("v")->AsInteger(), 99);

  TMyQuery keyless;
  keyless.SetConnection(&Conn);
  keyless.SetSQLText("SELECT 1 AS one");
  keyless.Open();
  EXPECT_EQ(ErrorOf([&] { keyless.RefreshQuick(false); }), "Unique keyfields required");
}

TEST_F(MyQueryDbTest, FilterSqlAndNumberRanges) {
  Query.SetSQLText("SELECT * FROM user WHERE level = 1");
  Query.SetFilterSQL("  id > 10 ");
  EXPECT_NE(Query.FinalSQL().find("id > 10"), std::string::npos);
  Query.Options().SetNumberRange(true);
  Query.Open();
  for (; !Query.Eof(); Query.Next()) {
    EXPECT_GT(Query.FieldByName("id")->AsInteger(), 10);
    EXPECT_EQ(Query.FieldByName("level")->AsInteger(), 1);
  }
  // The column types' true ranges: real years and the smallest INT are accepted.
  auto* born = dynamic_cast<TIntegerField*>(Query.FieldByName("born"));
  auto* score = dynamic_cast<TIntegerField*>(Query.FieldByName("score"));
  auto* level = dynamic_cast<TIntegerField*>(Query.FieldByName("level"));
  ASSERT_TRUE(born && score && level);
  EXPECT_EQ(born->MaxValue, 2155);
  EXPECT_EQ(score->MinValue, -2147483647 - 1);
  EXPECT_EQ(level->MinValue, -32768);
  Query.Edit();
  Query.FieldByName("born")->SetAsInteger(2024);
  Query.FieldByName("score")->SetAsInteger(-2147483647 - 1);
  EXPECT_NE(ErrorOf([&] { Query.FieldByName("level")->SetAsInteger(40000); }), "");
  Query.Cancel();
}

TEST_F(MyQueryDbTest, DetailFollowsItsMasterAfterTheDelay) {
  TManualMessageLoop loop;
  TMessageLoopInstaller installed(&loop);
  Conn.ExecSQL("CREATE TABLE item (iid INT PRIMARY KEY, owner INT)");
  Conn.ExecSQL("INSERT INTO item VALUES (1, 1), (2, 1), (3, 2)");
  TMyQuery master;
  master.SetConnection(&Conn);
  master.SetSQLText("SELECT id FROM user WHERE id <= 3 ORDER BY id");
  TMyDataSource source;
  source.SetDataSet(&master);
  TMyQuery detail;
  detail.SetConnection(&Conn);
  detail.SetSQLText("SELECT iid, owner FROM item");
  detail.SetMasterSource(&source);
  detail.SetMasterFields("id");
  detail.SetDetailFields("owner");
  EXPECT_EQ(ErrorOf([&] { master.SetMasterSource(nullptr); }), "");
  master.Open();
  detail.Open();
  EXPECT_EQ(detail.RecordCount(), 2);

  detail.Options().SetDetailDelay(100);
  master.Next();
  EXPECT_EQ(detail.RecordCount(), 2);  // not yet
  loop.Advance(99);
  EXPECT_EQ(detail.RecordCount(), 2);
  loop.Advance(1);
  EXPECT_EQ(detail.RecordCount(), 1);
  EXPECT_EQ(detail.FieldByName("iid")->AsInteger(), 3);

  master.Next();  // no items: the detail empties once the delay is over
  loop.Advance(100);
  EXPECT_TRUE(detail.IsEmpty());

  // A posted row that belongs to another master row leaves the detail.
  master.First();
  loop.Advance(100);
  ASSERT_EQ(detail.RecordCount(), 2);
  struct Case {
    const char* Name;
    int Owner;
    int Expected;
  };
  const Case posted[] = {{"same master", 1, 3}, {"other master", 2, 3}};
  int next = 10;
  for (const Case& k : posted) {
    SCOPED_TRACE(k.Name);
    detail.Append();
    detail.FieldByName("iid")->SetAsInteger(next++);
    detail.FieldByName("owner")->SetAsInteger(k.Owner);
    detail.Post();
    EXPECT_EQ(detail.RecordCount(), k.Expected);
  }

  TDataSource back;
  back.SetDataSet(&detail);
  EXPECT_EQ(ErrorOf([&] { master.SetMasterSource(&back); }), "Circular datalinks are not allowed");
}

// Cached changes of a detail's rows are written by nobody but ApplyUpdates: a master move that would
// re-query the detail is refused while they are pending, instead of dropping them unwritten.
TEST_F(MyQueryDbTest, AMasterMoveKeepsTheDetailsCachedChanges) {
  TManualMessageLoop loop;
  TMessageLoopInstaller installed(&loop);
  Conn.ExecSQL("CREATE TABLE item (iid INT PRIMARY KEY, owner INT, n INT)");
  Conn.ExecSQL("INSERT INTO item VALUES (1, 1, 0), (2, 1, 0), (3, 2, 0)");
  struct Case {
    const char* Name;
    bool Local;
    int Delay;
    std::string Error;  // of the first move
  };
  const Case cases[] = {
      {"re-queried at once", false, 0,
       "detail holds cached changes not applied: apply or cancel them before its master moves to another "
       "record"},
      {"re-queried after a delay", false, 100,
       "detail holds cached changes not applied: apply or cancel them before its master moves to another "
       "record"},
      {"filtered locally", true, 0, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    Conn.ExecSQL("UPDATE item SET n = 0");
    TMyQuery master;
    master.SetConnection(&Conn);
    master.SetSQLText("SELECT id FROM user WHERE id <= 2 ORDER BY id");
    TMyDataSource source;
    source.SetDataSet(&master);
    TMyQuery detail;
    detail.SetName("detail");
    detail.SetConnection(&Conn);
    detail.SetSQLText("SELECT iid, owner, n FROM item ORDER BY iid");
    detail.SetCachedUpdates(true);
    detail.Options().SetLocalMasterDetail(k.Local);
    detail.Options().SetDetailDelay(k.Delay);
    detail.SetMasterSource(&source);
    detail.SetMasterFields("id");
    detail.SetDetailFields("owner");
    master.Open();
    detail.Open();
    detail.Edit();
    detail.FieldByName("n")->SetAsInteger(7);
    detail.Post();
    EXPECT_EQ(ErrorOf([&] { master.Next(); }), k.Error);
    EXPECT_TRUE(detail.UpdatesPending());
    detail.ApplyUpdates();
    detail.CommitUpdates();
    EXPECT_EQ(Count("SELECT SUM(n) FROM item WHERE iid = 1"), 7);
    // Nothing pending: the master moves and the detail follows.
    master.First();
    EXPECT_EQ(ErrorOf([&] { master.Next(); }), "");
    loop.Advance(k.Delay);
    ASSERT_EQ(detail.RecordCount(), 1);
    EXPECT_EQ(detail.FieldByName("iid")->AsInteger(), 3);
  }
}

// Inside the delay after a master's move the detail still shows the earlier record's rows: an edit
// in progress or a cached change made there is neither posted nor dropped by the delayed re-query,
// which comes once the edit is posted and the changes applied.
TEST_F(MyQueryDbTest, TheDelayedDetailRequeryKeepsAnEditMadeInTheDelay) {
  TManualMessageLoop loop;
  TMessageLoopInstaller installed(&loop);
  Conn.ExecSQL("CREATE TABLE item (iid INT PRIMARY KEY, owner INT, n INT)");
  Conn.ExecSQL("INSERT INTO item VALUES (1, 1, 0), (2, 1, 0), (3, 2, 0)");
  for (const bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "cached" : "posted at once");
    Conn.ExecSQL("UPDATE item SET n = 0");
    TMyQuery master;
    master.SetConnection(&Conn);
    master.SetSQLText("SELECT id FROM user WHERE id <= 2 ORDER BY id");
    TMyDataSource source;
    source.SetDataSet(&master);
    TMyQuery detail;
    detail.SetConnection(&Conn);
    detail.SetSQLText("SELECT iid, owner, n FROM item ORDER BY iid");
    detail.SetCachedUpdates(cached);
    detail.Options().SetDetailDelay(100);
    detail.SetMasterSource(&source);
    detail.SetMasterFields("id");
    detail.SetDetailFields("owner");
    master.Open();
    detail.Open();
    master.Next();
    detail.Edit();
    detail.FieldByName("n")->SetAsInteger(7);
    loop.Advance(300);
    EXPECT_EQ(detail.State(), dsEdit);
    EXPECT_EQ(detail.FieldByName("n")->AsInteger(), 7) << "the edit stays as typed";
    EXPECT_EQ(Count("SELECT SUM(n) FROM item"), 0) << "nothing written before the post";
    detail.Post();
    if (cached) {
      loop.Advance(300);
      EXPECT_TRUE(detail.UpdatesPending());
      detail.ApplyUpdates();
      detail.CommitUpdates();
    }
    EXPECT_EQ(Count("SELECT SUM(n) FROM item WHERE iid = 1"), 7);
    EXPECT_EQ(Count("SELECT SUM(n) FROM item"), 7);
    loop.Advance(100);
    ASSERT_EQ(detail.RecordCount(), 1) << "the master's record's rows, once nothing is pending";
    EXPECT_EQ(detail.FieldByName("iid")->AsInteger(), 3);
  }
}

// A quick refresh brings the server's changes into the rows without a cached change; a row holding
// one keeps it, and the apply writes that change, not the server's values back.
TEST_F(MyQueryDbTest, AQuickRefreshKeepsTheCachedChangeOfARow) {
  Conn.ExecSQL(
      "CREATE TABLE stamped (id INT PRIMARY KEY, v INT, w INT, "
      "ts TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP ON UPDATE CURRENT_TIMESTAMP)");
  Conn.ExecSQL("INSERT INTO stamped (id, v, w) VALUES (1, 10, 0), (2, 20, 0), (3, 30, 0)");
  TMyQuery q;
  q.SetConnection(&Conn);
  q.SetSQLText("SELECT * FROM stamped ORDER BY id");
  q.SetCachedUpdates(true);
  q.Open();
  q.Next();
  q.Edit();
  q.FieldByName("v")->SetAsInteger(5);
  q.Post();
  Conn.ExecSQL("UPDATE stamped SET w = 99, ts = ts + INTERVAL 1 SECOND WHERE id = 2");
  Conn.ExecSQL("UPDATE stamped SET w = 77, ts = ts + INTERVAL 1 SECOND WHERE id = 3");
  q.RefreshQuick(false);
  std::string local;
  for (q.First(); !q.Eof(); q.Next())
    local += q.FieldByName("v")->AsString() + ":" + q.FieldByName("w")->AsString() + ",";
  EXPECT_EQ(local, "10:0,5:0,30:77,");
  q.ApplyUpdates();
  q.CommitUpdates();
  TMyQuery server;
  server.SetConnection(&Conn);
  server.SetSQLText("SELECT GROUP_CONCAT(id, ':', v, ':', w ORDER BY id) FROM stamped");
  server.Open();
  EXPECT_EQ(server.Fields()[0]->AsString(), "1:10:0,2:5:99,3:30:77");
}

// With fields as text a number is the server's whole text: a display width is no limit.
TEST_F(MyQueryDbTest, NumbersAsTextAreWholeWhateverTheirDisplayWidth) {
  Conn.ExecSQL(
      "CREATE TABLE nums (id INT PRIMARY KEY, i3 INT(3), f31 FLOAT(3,1), d DOUBLE, t1 TINYINT(1), "
      "s2 SMALLINT(2), dec65 DECIMAL(65,30), tm TIME)");
  Conn.ExecSQL(
      "INSERT INTO nums VALUES (1, 123456, 76.7, 2.2250738585072014e-308, -128, -32768, 0, '838:59:59'), "
      "(2, 2147483647, -99.9, -1.7976931348623157e308, 127, 32767, -0.000000000000000000000000000001, "
      "'-838:59:59')");
  struct Case {
    const char* Column;
    const char* Id;
    const char* Text;
  };
  const Case cases[] = {
      {"i3", "1", "123456"},
      {"i3", "2", "2147483647"},
      {"f31", "1", "76.7"},
      {"f31", "2", "-99.9"},
      {"d", "1", "2.2250738585072014e-308"},
      {"d", "2", "-1.7976931348623157e308"},
      {"t1", "1", "-128"},
      {"s2", "1", "-32768"},
      {"dec65", "2", "-0.000000000000000000000000000001"},
      {"tm", "2", "-838:59:59"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.Column) + " of row " + k.Id);
    TMyQuery q;
    q.SetConnection(&Conn);
    q.Options().SetFieldsAsString(true);
    q.SetSQLText(std::string("SELECT ") + k.Column + " FROM nums WHERE id = " + k.Id);
    q.Open();
    EXPECT_EQ(q.Fields()[0]->AsString(), k.Text);
  }
}

}  // namespace

// The time-out set on a query holds for every statement it runs, whatever connection and text it
// is given afterwards: a server that stops answering ends the open within that time.
TEST(MyQueryStallTest, CommandTimeoutOutlivesConnectionAndTextChanges) {
  const TestServer::TInfo& srv = TestServer::Info();
  TStallRelay relay(srv.Host, srv.Port);
  TMyConnection conn;
  conn.LoginPrompt = false;
  conn.SetServer("127.0.0.1");
  conn.SetPort(relay.Port);
  conn.SetUsername(srv.NativeUser);
  conn.SetPassword(srv.NativePassword);
  conn.SetConnectionTimeout(2);  // bounds the attempt to reconnect after the time-out
  conn.Open();
  TMyQuery query;
  query.SetCommandTimeout(30);
  query.SetConnection(&conn);
  query.SetSQLText("SELECT 1");
  query.Open();
  query.Close();
  query.SetConnection(&conn);
  query.SetSQLText("SELECT 2");
  EXPECT_EQ(query.CommandTimeout(), 30);
  relay.Stall();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(ErrorOf([&] { query.Open(); }), "");
  const auto waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(waited, 29.0);
  EXPECT_LT(waited, 38.0);
}
