// The dataset's provider-support side, the datasets a connection makes, the reconnect decision
// while a dataset still reads on the session, directional Locate and the access helpers, against
// the test server.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "components/DBAccessParams.h"
#include "components/MyAccessCommand.h"
#include "components/MyAccessDataSet.h"
#include "mysql/ApiTestSupport.h"
#include "mysql/MyClasses.h"
#include "platform/db/Fields.h"
#include "support/ManualMessageLoop.h"

namespace {

using api_test::TScratchDb;

class MyProviderDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const TestServer::TInfo& srv = TestServer::Info();
    Conn.LoginPrompt = false;
    Conn.SetServer(srv.Host);
    Conn.SetPort(srv.Port);
    Conn.SetUsername(srv.NativeUser);
    Conn.SetPassword(srv.NativePassword);
    Conn.SetDatabase(Db.Name());
    Conn.Open();
    Run("CREATE TABLE t (a INT NOT NULL, b INT NOT NULL, name VARCHAR(20), PRIMARY KEY (a, b))");
    Run("INSERT INTO t VALUES (1, 1, 'x'), (1, 2, 'y'), (2, 1, 'x'), (3, 1, 'z'), (4, 1, 'x')");
  }
  void Run(const std::string& sql) {
    TMyCommand c;
    c.SetConnection(&Conn);
    c.SetSQLText(sql);
    c.Execute();
  }
  std::string Value(const std::string& sql) {
    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetSQLText(sql);
    q.Open();
    return q.Fields()[0]->IsNull() ? "NULL" : q.Fields()[0]->AsString();
  }

  TScratchDb Db;
  TMyConnection Conn;
};

TEST_F(MyProviderDbTest, ExecuteStatementNumbersPlaceholders) {
  struct Case {
    const char* name;
    std::string sql;
    std::vector<Variant> values;
    bool wantRows;
    std::string expect;  // the first column of the result, or the rows affected
  };
  const std::vector<Case> cases = {
      {"two placeholders",
       "SELECT COUNT(*) FROM t WHERE a = ? AND b = ?",
       {Variant(1), Variant(2)},
       true,
       "1"},
      {"text value", "SELECT COUNT(*) FROM t WHERE name = ?", {Variant(std::string("x"))}, true, "3"},
      {"update through a command",
       "UPDATE t SET name = ? WHERE a = ?",
       {Variant(std::string("w")), Variant(1)},
       false,
       "2"},
      {"no placeholder", "SELECT COUNT(*) FROM t", {}, true, "5"},
  };
  TMyQuery owner;
  owner.SetConnection(&Conn);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TParams params;
    for (const Variant& v : c.values) params.CreateParam(ftUnknown, "p", ptUnknown)->SetValue(v);
    std::unique_ptr<TCustomDADataSet> rows;
    const int affected = owner.PSExecuteStatement(c.sql, &params, c.wantRows ? &rows : nullptr);
    for (int i = 0; i < params.Count(); ++i) {
      EXPECT_EQ(params[i]->Name(), std::to_string(i + 1));
      EXPECT_EQ(params[i]->ParamType(), ptInput);
    }
    if (c.wantRows) {
      ASSERT_NE(dynamic_cast<TCustomMyDataSet*>(rows.get()), nullptr);
      ASSERT_TRUE(rows->Active());
      EXPECT_EQ(rows->Fields()[0]->AsString(), c.expect);
    } else {
      EXPECT_EQ(std::to_string(affected), c.expect);
    }
  }
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(name ORDER BY a, b) FROM t"), "w,w,x,z,x");
}

// A "?" in a string, a back-quoted name or a comment is text, not a placeholder: the statement
// writes it as it stands and its placeholders take the values in order.
TEST_F(MyProviderDbTest, ExecuteStatementLeavesAQuestionMarkInTextAlone) {
  Run("CREATE TABLE `q?` (id INT PRIMARY KEY, note VARCHAR(20), `why?` VARCHAR(20))");
  struct Case {
    const char* name;
    std::string sql;
    std::vector<Variant> values;
    std::string row;  // HEX(note), HEX(`why?`) of row 1 afterwards
  };
  const std::vector<Case> cases = {
      {"in a string before the placeholders",
       "INSERT INTO `q?` (note, id, `why?`) VALUES ('ok?', ?, ?)",
       {Variant(1), Variant(std::string("a"))},
       "6F6B3F,61"},
      {"in a string after an escaped quote and an escaped backslash",
       "UPDATE `q?` SET note = ? WHERE id = ? AND note <> 'it\\'s? \\\\?'",
       {Variant(std::string("b?")), Variant(1)},
       "623F,61"},
      {"in comments",
       "UPDATE `q?` /* ? */ SET `why?` = ? -- ?\n WHERE id = ? # ?",
       {Variant(std::string("c")), Variant(1)},
       "623F,63"},
  };
  TMyQuery owner;
  owner.SetConnection(&Conn);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TParams params;
    for (const Variant& v : c.values) params.CreateParam(ftUnknown, "p", ptUnknown)->SetValue(v);
    EXPECT_EQ(owner.PSExecuteStatement(c.sql, &params), 1);
    EXPECT_EQ(Value("SELECT CONCAT_WS(',', HEX(note), HEX(`why?`)) FROM `q?` WHERE id = 1"), c.row);
  }
  EXPECT_EQ(Value("SELECT COUNT(*) FROM `q?`"), "1");
}

TEST_F(MyProviderDbTest, KeyFieldsOpenOnceAndRestoreSettings) {
  struct Case {
    const char* name;
    bool fetchAll;
    int fetchRows;
    bool debug;
  };
  const std::vector<Case> cases = {
      {"fetch all, debug", true, 25, true},
      {"fetch in blocks", false, 7, false},
      {"one row", true, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetSQLText("SELECT name, b, a FROM t");
    q.SetFetchAll(c.fetchAll);
    q.SetFetchRows(c.fetchRows);
    q.Debug = c.debug;
    EXPECT_EQ(q.PSGetKeyFields(), "a;b");  // in the key's order
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.FetchAll(), c.fetchAll);
    EXPECT_EQ(q.FetchRows(), c.fetchRows);
    EXPECT_EQ(q.Debug, c.debug);
  }
  TMyQuery open;
  open.SetConnection(&Conn);
  open.SetSQLText("SELECT a, b FROM t");
  open.Open();
  open.Next();
  EXPECT_EQ(open.PSGetKeyFields(), "a;b");
  EXPECT_TRUE(open.Active());
  EXPECT_EQ(open.Fields()[1]->AsInteger(), 2);  // the open dataset stays where it was
}

TEST_F(MyProviderDbTest, DefaultOrderTransactionsTextAndReset) {
  TMyQuery q;
  q.SetConnection(&Conn);
  q.SetSQLText("SELECT name, b, a FROM t ORDER BY name DESC, 2");
  q.Open();
  TCustomDADataSet::TPSIndexDef order;
  ASSERT_TRUE(q.PSGetDefaultOrder(order));
  EXPECT_EQ(order.Fields, "name;b");
  EXPECT_EQ(order.DescFields, "name");
  EXPECT_EQ(q.PSGetQuoteChar(), "`");
  EXPECT_TRUE(q.PSIsSQLBased() && q.PSIsSQLSupported());
  EXPECT_EQ(q.PSGetParams(), &q.Params());

  q.PSSetCommandText("");
  EXPECT_TRUE(q.Active());
  q.PSSetCommandText("SELECT a FROM t");
  EXPECT_FALSE(q.PSGetDefaultOrder(order));

  // Transactions follow AutoCommit and the connection state.
  q.SetAutoCommit(false);
  q.PSStartTransaction();
  EXPECT_FALSE(Conn.InTransaction());
  q.SetAutoCommit(true);
  q.PSStartTransaction();
  EXPECT_TRUE(Conn.InTransaction());
  Run("DELETE FROM t WHERE a = 4");
  q.PSEndTransaction(false);
  EXPECT_FALSE(Conn.InTransaction());
  EXPECT_EQ(Value("SELECT COUNT(*) FROM t"), "5");

  q.Open();
  Run("DELETE FROM t WHERE a = 4");
  EXPECT_EQ(q.RecordCount(), 5);
  q.PSReset();
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(q.RecordCount(), 4);
}

TEST_F(MyProviderDbTest, ConnectionsMakeTheirOwnDataSets) {
  std::unique_ptr<TCustomDADataSet> mine = Conn.CreateDataSet();
  EXPECT_NE(dynamic_cast<TCustomMyDataSet*>(mine.get()), nullptr);
  EXPECT_EQ(mine->Connection(), &Conn);
  // The server-neutral connection's answer: a dataset of the base class on it.
  std::unique_ptr<TCustomDADataSet> base = Conn.TCustomDAConnection::CreateDataSet();
  EXPECT_EQ(dynamic_cast<TCustomMyDataSet*>(base.get()), nullptr);
  EXPECT_EQ(base->Connection(), &Conn);
}

// A lost session takes unread rows with it: no silent reconnect while a dataset still reads there.
TEST_F(MyProviderDbTest, ReconnectWithdrawnWhileRowsPendOnTheSession) {
  struct Case {
    const char* name;
    bool fetchAll;
    bool ownConnection;  // rows read on the dataset's own auxiliary connection
    bool refreshOfIt;    // the lost statement is that dataset's own refresh
    bool reconnect;
  };
  const std::vector<Case> cases = {
      {"all rows read", true, false, false, true},
      {"rows pending on the session", false, false, false, false},
      {"rows pending on an own connection", false, true, false, true},
      {"the pending dataset's own refresh", false, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!Conn.GetConnected()) Conn.Open();
    TMyQuery q;
    q.SetConnection(&Conn);
    q.Options().SetCreateConnection(c.ownConnection);
    q.SetFetchAll(c.fetchAll);
    q.SetFetchRows(1);
    q.SetSQLText("SELECT a FROM t");
    q.Open();
    Conn.Options().LocalFailover = c.refreshOfIt;
    if (c.refreshOfIt) Conn.PushOperation(clRefresh);
    EMyError lost(2013, "Lost connection to server during query");
    lost.Component = c.refreshOfIt ? static_cast<TComponent*>(&q) : nullptr;
    bool fail = true, reconnectExecute = false, reconnect = false;
    TConnLostCause cause = clUnknown;
    Conn.DoError(lost, fail, cause, 0, reconnectExecute, reconnect);
    if (c.refreshOfIt) Conn.PopOperation();
    Conn.Options().LocalFailover = false;
    EXPECT_EQ(reconnect, c.reconnect);
    EXPECT_EQ(Conn.GetConnected(), c.reconnect);
  }
}

TEST_F(MyProviderDbTest, LocateFromTheCurrentRecordEitherWay) {
  TMyQuery q;
  q.SetConnection(&Conn);
  q.SetSQLText("SELECT a, name FROM t ORDER BY a, b");
  q.Open();
  struct Case {
    const char* name;
    int startRecNo;
    TLocateOptions options;
    bool found;
    int recNo;
  };
  const std::vector<Case> cases = {
      {"from the start", 4, 0, true, 1},
      {"forward skips the current", 1, TMemDataSet::loLocateForward, true, 3},
      {"forward to the last", 3, TMemDataSet::loLocateForward, true, 5},
      {"forward past the last match", 5, TMemDataSet::loLocateForward, false, 5},
      {"backward", 5, TMemDataSet::loLocateBackward, true, 3},
      {"backward to the first", 3, TMemDataSet::loLocateBackward, true, 1},
      {"backward before the first match", 1, TMemDataSet::loLocateBackward, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    q.SetRecNo(c.startRecNo);
    EXPECT_EQ(q.Locate("name", Variant(std::string("x")), c.options), c.found);
    EXPECT_EQ(q.RecNo(), c.recNo);
  }
}

TEST_F(MyProviderDbTest, ParameterNamesInTheOwnersQuotes) {
  TMyQuery q;
  q.SetConnection(&Conn);
  q.SetSQLText("SELECT COUNT(*) FROM t WHERE name = :`my p`");
  ASSERT_EQ(q.Params().Count(), 1);
  EXPECT_EQ(q.Params()[0]->Name(), "my p");
  q.ParamByName("my p")->SetValue(Variant(std::string("x")));
  q.Open();
  EXPECT_EQ(q.Fields()[0]->AsString(), "3");

  TMyCommand free;
  free.SetSQLText("SELECT :\"my p\", :`b q`");
  ASSERT_EQ(free.Params().Count(), 2);
  EXPECT_EQ(free.Params()[0]->Name(), "my p");
  EXPECT_EQ(free.Params()[1]->Name(), "`b q`");
}

TEST_F(MyProviderDbTest, AccessHelpersRefuseOtherObjects) {
  TMyQuery q;
  q.SetConnection(&Conn);
  q.SetFetchAll(false);
  TMyCommand command;
  command.SetConnection(&Conn);
  TComponent other;
  EXPECT_NE(TMyAccessUtils::GetICommand(&q), nullptr);
  EXPECT_FALSE(TMyAccessUtils::GetFetchAll(&q));
  EXPECT_THROW(TMyAccessUtils::GetICommand(&other), EAssertionFailed);
  EXPECT_THROW(TMyAccessUtils::GetFetchAll(&command), EAssertionFailed);

  const std::vector<std::pair<const char*, std::function<void()>>> helpers = {
      {"UsedConnection", [&] { TDBAccessUtils::UsedConnection(&other); }},
      {"SetAutoCommit", [&] { TDBAccessUtils::SetAutoCommit(&other, false); }},
      {"SetQuiet", [&] { TDBAccessUtils::SetQuiet(&other, true); }},
      {"GetSQL", [&] { TDBAccessUtils::GetSQL(&other); }},
      {"SetSQLText", [&] { TDBAccessUtils::SetSQLText(&other, "SELECT 1"); }},
      {"GetParams", [&] { TDBAccessUtils::GetParams(&other); }},
      {"Execute", [&] { TDBAccessUtils::Execute(&other); }},
      {"GetRowsAffected", [&] { TDBAccessUtils::GetRowsAffected(&other); }},
  };
  for (const auto& [name, call] : helpers) {
    SCOPED_TRACE(name);
    EXPECT_THROW(call(), EAssertionFailed);
  }
}

// BeforeFetch may stop reading at a block; AfterFetch follows every block read.
TEST_F(MyProviderDbTest, FetchEventsOfTheDataSet) {
  struct Case {
    const char* name;
    int cancelAtBlock;  // 0: never
    int wantRecords;
    int wantAfter;
  };
  const std::vector<Case> cases = {
      {"read to the end", 0, 5, 3},
      {"cancelled before the second block", 2, 2, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TMyQuery q;
    q.SetConnection(&Conn);
    q.SetFetchAll(false);
    q.SetFetchRows(2);
    q.SetSQLText("SELECT a FROM t ORDER BY a, b");
    int before = 0, after = 0;
    q.BeforeFetch = [&](TCustomDADataSet* sender, bool& cancel) {
      EXPECT_EQ(sender, &q);
      cancel = ++before == c.cancelAtBlock;
    };
    q.AfterFetch = [&](TCustomDADataSet*) { ++after; };
    q.Open();
    q.Last();
    EXPECT_EQ(q.RecordCount(), c.wantRecords);
    EXPECT_EQ(after, c.wantAfter);
  }
}

// Each move of the master starts the delay again: one re-query, for the row the master rests on.
TEST_F(MyProviderDbTest, DetailDelayRestartsOnEveryMasterMove) {
  TManualMessageLoop loop;
  TMessageLoopInstaller installed(&loop);
  TMyQuery master;
  master.SetConnection(&Conn);
  master.SetSQLText("SELECT DISTINCT a FROM t ORDER BY a");
  TMyDataSource source;
  source.SetDataSet(&master);
  TMyQuery detail;
  detail.SetConnection(&Conn);
  detail.SetSQLText("SELECT a, b FROM t");
  detail.SetMasterSource(&source);
  detail.SetMasterFields("a");
  detail.SetDetailFields("a");
  master.Open();
  detail.Open();
  int requeries = 0;
  detail.AfterFetch = [&](TCustomDADataSet*) { ++requeries; };
  detail.Options().SetDetailDelay(100);
  master.Next();  // a = 2
  loop.Advance(60);
  master.Next();  // a = 3: the delay starts again
  loop.Advance(60);
  EXPECT_EQ(requeries, 0);
  EXPECT_EQ(detail.RecordCount(), 2);  // still the rows of a = 1
  loop.Advance(40);
  EXPECT_EQ(requeries, 1);
  ASSERT_EQ(detail.RecordCount(), 1);
  EXPECT_EQ(detail.FieldByName("a")->AsInteger(), 3);
}

}  // namespace
