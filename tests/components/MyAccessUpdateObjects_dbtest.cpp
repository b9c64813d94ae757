// Update objects, the user's refresh statement, the update events and the re-read after a post,
// against the test server; what ran is read from the general log of the test's own connection.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/MyAccessCommand.h"
#include "components/MyAccessDataSet.h"
#include "mysql/ApiTestSupport.h"
#include "support/ManualMessageLoop.h"

namespace {

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

class MyUpdateObjectDbTest : public ::testing::Test {
 protected:
  void SetUp() override { Connect(Conn); }
  void Connect(TMyConnection& conn) {
    const TestServer::TInfo& srv = TestServer::Info();
    conn.LoginPrompt = false;
    conn.SetServer(srv.Host);
    conn.SetPort(srv.Port);
    conn.SetUsername(srv.NativeUser);
    conn.SetPassword(srv.NativePassword);
    conn.SetDatabase(Db.Name());
  }
  void Open(TMyQuery& q, const std::string& sql) {
    q.SetConnection(&Conn);
    q.SetSQLText(sql);
    q.Open();
  }
  std::string Value(const std::string& sql) {
    TMyQuery q;
    Open(q, sql);
    return q.Fields()[0]->IsNull() ? "NULL" : q.Fields()[0]->AsString();
  }
  // The statements of this connection in the general log, joined by " | " (thread ids are not
  // reused while the server runs).
  void StartLog() {
    Conn.ExecSQL("SET GLOBAL log_output = 'TABLE'");
    Conn.ExecSQL("SET GLOBAL general_log = 1");
    Thread = Value("SELECT CAST(CONNECTION_ID() AS CHAR)");
  }
  std::string Logged(const std::string& like) {
    return Value(
        "SELECT COALESCE(GROUP_CONCAT(REPLACE(REPLACE(CAST(argument AS CHAR), '\\r', ''), '\\n', ' ') "
        "ORDER BY event_time SEPARATOR ' | '), '') FROM mysql.general_log WHERE thread_id = " +
        Thread + " AND command_type = 'Query' AND argument LIKE '" + like + "'");
  }
  void Edit(TMyQuery& q, const char* field, int value) {
    q.Edit();
    q.FieldByName(field)->SetAsInteger(value);
    q.Post();
  }

  api_test::TScratchDb Db;
  TMyConnection Conn;
  std::string Thread;
};

TEST_F(MyUpdateObjectDbTest, UpdateObjectsRunTheirOwnStatements) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lv INT)");
  Conn.ExecSQL("INSERT INTO hero VALUES (1, 0), (2, 0)");
  TMyQuery q;
  TMyUpdateSQL update;
  update.ModifySQL().SetText("UPDATE hero SET lv = :lv + 100 WHERE id = :OLD_id");
  q.SetUpdateObject(&update);
  EXPECT_EQ(update.DataSet(), &q);
  Open(q, "SELECT * FROM hero ORDER BY id");
  StartLog();
  Edit(q, "lv", 5);
  EXPECT_EQ(Logged("UPDATE hero%"), "UPDATE hero SET lv = 5 + 100 WHERE id = 1");

  TMyCommand command;
  command.SetSQLText("UPDATE hero SET lv = :lv * 2 WHERE id = :OLD_id");
  update.SetModifyObject(&command);
  q.Next();
  Edit(q, "lv", 7);
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(lv ORDER BY id) FROM hero"), "105,14") << "the object ran instead";

  TMyCommand empty;
  update.SetModifyObject(&empty);
  q.Edit();
  q.FieldByName("lv")->SetAsInteger(8);
  EXPECT_EQ(ErrorOf([&] { q.Post(); }),
            "SQL property of InsertObject, ModifyObject, DeleteObject or RefreshObject cannot be empty");
  q.Cancel();

  // Moved to another dataset, the object leaves the first on its generated statements.
  update.SetModifyObject(nullptr);
  TMyQuery other;
  other.SetUpdateObject(&update);
  EXPECT_EQ(update.DataSet(), &other);
  EXPECT_EQ(q.UpdateObject(), nullptr);
  Edit(q, "lv", 9);
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(lv ORDER BY id) FROM hero"), "105,9");
  {
    TMyUpdateSQL shortLived;
    q.SetUpdateObject(&shortLived);
  }
  EXPECT_EQ(q.UpdateObject(), nullptr) << "a destroyed object leaves the dataset";
  TCustomDADataSet plain;
  EXPECT_THROW(update.SetDataSet(&plain), Exception) << "only a MySQL dataset";
}

TEST_F(MyUpdateObjectDbTest, AnUpdateObjectsStatementsAreAppliedOneAtATime) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lv INT)");
  Conn.ExecSQL("INSERT INTO hero VALUES (1, 0), (2, 0)");
  TMyQuery q;
  TMyUpdateSQL update;
  update.ModifySQL().SetText("UPDATE hero SET lv = :lv + 100 WHERE id = :OLD_id");
  q.SetUpdateObject(&update);
  q.SetCachedUpdates(true);
  q.Options().UpdateBatchSize = 3;
  Open(q, "SELECT * FROM hero ORDER BY id");
  Edit(q, "lv", 1);
  q.Next();
  Edit(q, "lv", 2);
  std::vector<TStatementTypes> ran;
  q.BeforeUpdateExecute = [&](TCustomDADataSet*, TStatementTypes types, TDAParams&) { ran.push_back(types); };
  q.ApplyUpdates();
  EXPECT_EQ(ran, std::vector<TStatementTypes>(2, StatementTypeSet(stUpdate)));
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM hero"), "1:101,2:102");

  // An update-record handler hands the kind's statement to the dataset.
  q.CommitUpdates();
  update.ModifySQL().SetText("UPDATE hero SET lv = :lv * 2 WHERE id = :OLD_id");
  q.OnUpdateRecord = [&](TDataSet*, TUpdateKind kind, TUpdateAction& action) {
    update.Apply(kind);
    action = uaApplied;
  };
  Edit(q, "lv", 3);
  q.ApplyUpdates();
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM hero"), "1:101,2:6");
}

TEST_F(MyUpdateObjectDbTest, RefreshStatementsAndRefreshAfterPost) {
  Conn.ExecSQL(
      "CREATE TABLE hero (id INT AUTO_INCREMENT PRIMARY KEY, lv INT, "
      "ts TIMESTAMP(6) NOT NULL DEFAULT CURRENT_TIMESTAMP(6) ON UPDATE CURRENT_TIMESTAMP(6))");
  Conn.ExecSQL("INSERT INTO hero (id, lv, ts) VALUES (1, 1, '2001-01-01')");
  for (const char* refresh : {"WHERE id = :id", "SELECT id, lv FROM hero WHERE id = :id"}) {
    SCOPED_TRACE(refresh);
    TMyQuery q;
    q.SQLRefresh().SetText(refresh);
    Open(q, "SELECT id, lv FROM hero");
    Conn.ExecSQL("UPDATE hero SET lv = lv + 10");
    q.RefreshRecord();
    EXPECT_EQ(q.FieldByName("lv")->AsString(), Value("SELECT lv FROM hero WHERE id = 1"));
  }

  TMyQuery q;
  q.RefreshOptions = roAfterInsert | roAfterUpdate;
  Open(q, "SELECT * FROM hero ORDER BY id");
  q.Append();
  q.FieldByName("lv")->SetAsInteger(5);
  q.Post();
  EXPECT_EQ(q.FieldByName("ts")->AsString(), Value("SELECT ts FROM hero WHERE id = 2")) << "after the insert";
  q.First();
  Edit(q, "lv", 6);
  EXPECT_NE(Value("SELECT ts FROM hero WHERE id = 1").substr(0, 4), "2001");
  EXPECT_EQ(q.FieldByName("ts")->AsString(), Value("SELECT ts FROM hero WHERE id = 1")) << "after the update";
  q.Close();

  // The same while cached updates are applied.
  q.SetCachedUpdates(true);
  q.Open();
  q.Append();
  q.FieldByName("lv")->SetAsInteger(7);
  q.Post();
  q.ApplyUpdates();
  q.CommitUpdates();
  q.Last();
  EXPECT_EQ(q.FieldByName("id")->AsString(), "3");
  EXPECT_EQ(q.FieldByName("ts")->AsString(), Value("SELECT ts FROM hero WHERE id = 3"));

  // Asked for batches, each change is still re-read after it is written.
  q.Options().UpdateBatchSize = 3;
  q.Append();
  q.FieldByName("lv")->SetAsInteger(8);
  q.Post();
  q.First();
  Edit(q, "lv", 9);
  q.ApplyUpdates();
  q.CommitUpdates();
  EXPECT_EQ(q.FieldByName("ts")->AsString(), Value("SELECT ts FROM hero WHERE id = 1"));
  q.Last();
  EXPECT_EQ(q.FieldByName("id")->AsString() + " " + q.FieldByName("ts")->AsString(),
            "4 " + Value("SELECT ts FROM hero WHERE id = 4"));
}

TEST_F(MyUpdateObjectDbTest, UpdateEventsSeeTypesAndParameters) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lv INT, note VARCHAR(20))");
  Conn.ExecSQL("INSERT INTO hero VALUES (1, 1, 'a')");
  TMyQuery q;
  q.SQLUpdate().SetText("UPDATE hero SET lv = :lv, note = :stamp WHERE id = :OLD_id");
  std::vector<std::string> seen;
  auto names = [](TDAParams& params) {
    std::string text;
    for (int i = 0; i < params.Count(); ++i)
      text += (i > 0 ? "," : "") + params[i]->Name() + "=" + params[i]->AsString();
    return text;
  };
  q.BeforeUpdateExecute = [&](TCustomDADataSet*, TStatementTypes types, TDAParams& params) {
    seen.push_back("before " + std::to_string(types) + " " + names(params));
    if (TDAParam* stamp = params.FindParam("stamp")) stamp->SetAsString("by event");
  };
  q.AfterUpdateExecute = [&](TCustomDADataSet*, TStatementTypes types, TDAParams& params) {
    seen.push_back("after " + std::to_string(types) + " " + names(params));
  };
  Open(q, "SELECT * FROM hero ORDER BY id");
  q.Append();
  q.FieldByName("id")->SetAsInteger(2);
  q.FieldByName("lv")->SetAsInteger(4);
  q.Post();
  Edit(q, "lv", 5);
  q.Delete();
  const std::string ins = std::to_string(StatementTypeSet(stInsert));
  const std::string upd = std::to_string(StatementTypeSet(stUpdate));
  const std::string del = std::to_string(StatementTypeSet(stDelete));
  const std::vector<std::string> expected = {"before " + ins + " 2,4",
                                             "after " + ins + " 2,4",
                                             "before " + upd + " lv=5,stamp=,OLD_id=2",
                                             "after " + upd + " lv=5,stamp=by event,OLD_id=2",
                                             "before " + del + " 2",
                                             "after " + del + " 2"};
  ASSERT_EQ(seen.size(), expected.size());
  for (size_t i = 0; i < seen.size(); ++i)
    EXPECT_EQ(seen[i].substr(0, seen[i].find(' ', 7) + 1),
              expected[i].substr(0, expected[i].find(' ', 7) + 1));
  EXPECT_EQ(seen[2], expected[2]);
  EXPECT_EQ(seen[3], expected[3]);
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv, ':', note) FROM hero"), "1:1:a");

  // A parameter the event leaves without a type is refused before anything is sent.
  q.BeforeUpdateExecute = [](TCustomDADataSet*, TStatementTypes, TDAParams&) {};
  q.First();
  q.Edit();
  q.FieldByName("lv")->SetAsInteger(9);
  EXPECT_EQ(ErrorOf([&] { q.Post(); }), "Unknown type of parameter stamp");
  q.Cancel();
  EXPECT_EQ(Value("SELECT lv FROM hero WHERE id = 1"), "1");
}

TEST_F(MyUpdateObjectDbTest, CachedInsertKeepsItsIdForALaterEdit) {
  Conn.ExecSQL("CREATE TABLE hero (id INT AUTO_INCREMENT PRIMARY KEY, lv INT)");
  Conn.ExecSQL("INSERT INTO hero VALUES (40, 0)");
  TMyQuery q;
  q.SetCachedUpdates(true);
  Open(q, "SELECT * FROM hero ORDER BY id");
  q.Append();
  q.FieldByName("lv")->SetAsInteger(1);
  q.Post();
  q.ApplyUpdates();
  q.CommitUpdates();
  EXPECT_EQ(q.FieldByName("id")->AsString(), "41");
  StartLog();
  Edit(q, "lv", 2);
  q.ApplyUpdates();
  EXPECT_EQ(Logged("UPDATE hero%"), "UPDATE hero SET   lv = 2 WHERE   id = 41");
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM hero"), "40:0,41:2");
}

// Each INSERT of a batch reports its own id (the session steps by 5): every applied record takes
// the one its statement got, so later edits reach their rows.
TEST_F(MyUpdateObjectDbTest, BatchedCachedInsertsKeepTheirIds) {
  Conn.ExecSQL("CREATE TABLE hero (id INT AUTO_INCREMENT PRIMARY KEY, lv INT)");
  Conn.ExecSQL("INSERT INTO hero VALUES (40, 0)");
  Conn.ExecSQL("SET SESSION auto_increment_increment = 5");
  TMyQuery q;
  q.SetCachedUpdates(true);
  q.Options().UpdateBatchSize = 3;
  Open(q, "SELECT * FROM hero ORDER BY id");
  for (int lv : {1, 2, 3}) {
    q.Append();
    q.FieldByName("lv")->SetAsInteger(lv);
    q.Post();
  }
  std::vector<TStatementTypes> ran;
  q.BeforeUpdateExecute = [&](TCustomDADataSet*, TStatementTypes types, TDAParams&) { ran.push_back(types); };
  q.ApplyUpdates();
  q.CommitUpdates();
  EXPECT_EQ(ran, std::vector<TStatementTypes>{StatementTypeSet(stBatchUpdate)}) << "one batch";
  q.BeforeUpdateExecute = nullptr;
  StartLog();
  std::string ids;
  for (q.First(); !q.Eof(); q.Next())
    ids += q.FieldByName("id")->AsString() + ":" + q.FieldByName("lv")->AsString() + ",";
  EXPECT_EQ(ids, Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id SEPARATOR ',') FROM hero") + ",");
  EXPECT_EQ(ids, "40:0,41:1,46:2,51:3,");

  q.Options().UpdateBatchSize = 1;
  for (q.First(); !q.Eof(); q.Next()) {
    q.Edit();
    q.FieldByName("lv")->SetAsInteger(q.FieldByName("lv")->AsInteger() * 10 + 1);
    q.Post();
  }
  q.ApplyUpdates();
  EXPECT_EQ(Logged("UPDATE hero%"),
            "UPDATE hero SET   lv = 1 WHERE   id = 40 | UPDATE hero SET   lv = 11 WHERE   id = 41 | "
            "UPDATE hero SET   lv = 21 WHERE   id = 46 | UPDATE hero SET   lv = 31 WHERE   id = 51");
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM hero"), "40:1,41:11,46:21,51:31");
}

// The user's statements call routines with an INOUT and an OUT argument: the input goes in, the
// routine's values come back into the record after the post and after an apply.
TEST_F(MyUpdateObjectDbTest, ReturnParamsBringBackARoutinesOutputs) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lv INT, note VARCHAR(20))");
  Conn.ExecSQL("INSERT INTO hero VALUES (1, 1, 'a')");
  Conn.ExecSQL(
      "CREATE PROCEDURE lv_up(IN p_id INT, INOUT p_lv INT, OUT p_note VARCHAR(20)) BEGIN "
      "SET p_lv = p_lv * 10, p_note = CONCAT('lv ', p_lv); "
      "UPDATE hero SET lv = p_lv, note = p_note WHERE id = p_id; END");
  Conn.ExecSQL(
      "CREATE PROCEDURE hero_add(IN p_id INT, INOUT p_lv INT, OUT p_note VARCHAR(20)) BEGIN "
      "SET p_lv = p_lv * 10, p_note = CONCAT('new ', p_lv); "
      "INSERT INTO hero VALUES (p_id, p_lv, p_note); END");
  auto row = [](TMyQuery& q) {
    return q.FieldByName("id")->AsString() + ":" + q.FieldByName("lv")->AsString() + ":" +
           q.FieldByName("note")->AsString();
  };
  auto prepare = [&](TMyQuery& q) {
    q.Options().ReturnParams = true;
    q.SQLUpdate().SetText("CALL lv_up(:OLD_id, :lv, :note)");
    q.SQLInsert().SetText("CALL hero_add(:id, :lv, :note)");
    Open(q, "SELECT * FROM hero ORDER BY id");
  };
  TMyQuery q;
  prepare(q);
  StartLog();
  Edit(q, "lv", 2);
  EXPECT_EQ(row(q), "1:20:lv 20");
  EXPECT_EQ(Logged("SET @%") + " | " + Logged("CALL%"),
            "SET @__out_1 = 2 | CALL lv_up(1, @__out_1, @__out_2)");
  q.Append();
  q.FieldByName("id")->SetAsInteger(2);
  q.FieldByName("lv")->SetAsInteger(3);
  q.Post();
  EXPECT_EQ(row(q), "2:30:new 30");
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv, ':', note ORDER BY id) FROM hero"),
            "1:20:lv 20,2:30:new 30");

  // Asked for batches, the calls still go one at a time: a batch could not bring values back.
  TMyQuery cached;
  cached.SetCachedUpdates(true);
  cached.Options().UpdateBatchSize = 3;
  prepare(cached);
  Edit(cached, "lv", 3);
  cached.Last();
  Edit(cached, "lv", 4);
  cached.ApplyUpdates();
  EXPECT_EQ(row(cached), "2:40:lv 40");
  cached.First();
  EXPECT_EQ(row(cached), "1:30:lv 30");
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv, ':', note ORDER BY id) FROM hero"),
            "1:30:lv 30,2:40:lv 40");
}

// The user's statements take the dataset's macros; they make a result of no real column
// writable; the check statement compares the record with the server's row.
TEST_F(MyUpdateObjectDbTest, UserStatementsTakeMacrosAndTheCheckCompares) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lv INT)");
  Conn.ExecSQL("INSERT INTO hero VALUES (1, 0)");
  TMyQuery q;
  q.SetConnection(&Conn);
  q.SetSQLText("SELECT id, lv FROM &tbl ORDER BY id");
  q.Macros().MacroByName("tbl")->SetValue("hero");
  q.SQLInsert().SetText("INSERT INTO &tbl VALUES (:id, :lv)");
  q.SQLUpdate().SetText("UPDATE &tbl SET lv = :lv WHERE id = :OLD_id");
  q.SQLDelete().SetText("DELETE FROM &tbl WHERE id = :OLD_id");
  q.SQLRefresh().SetText("SELECT lv FROM &tbl WHERE id = :id");
  q.Open();
  StartLog();
  Edit(q, "lv", 5);
  q.Append();
  q.FieldByName("id")->SetAsInteger(2);
  q.FieldByName("lv")->SetAsInteger(6);
  q.Post();
  q.RefreshRecord();
  q.Delete();
  EXPECT_EQ(Logged("UPDATE hero%") + " | " + Logged("INSERT INTO hero VALUES (2%") + " | " +
                Logged("SELECT lv FROM hero%") + " | " + Logged("DELETE FROM hero%"),
            "UPDATE hero SET lv = 5 WHERE id = 1 | INSERT INTO hero VALUES (2, 6) | "
            "SELECT lv FROM hero WHERE id = 2 | DELETE FROM hero WHERE id = 2");

  TMyQuery computed;
  Open(computed, "SELECT NULL AS id");
  EXPECT_FALSE(computed.CanModify());
  computed.Close();
  computed.SQLUpdate().SetText("UPDATE hero SET lv = :lv WHERE id = :OLD_id");
  computed.Open();
  EXPECT_TRUE(computed.CanModify());

  TMyQuery check;
  Open(check, "SELECT * FROM hero");
  EXPECT_TRUE(check.PerformSQL("", StatementTypeSet(stCheck))) << "unchanged";
  Conn.ExecSQL("UPDATE hero SET lv = 9");
  EXPECT_EQ(ErrorOf([&] { check.PerformSQL("", StatementTypeSet(stCheck)); }),
            "Record was changed by another user");
  EXPECT_EQ(check.FieldByName("lv")->AsInteger(), 5) << "nothing copied";
}

TEST_F(MyUpdateObjectDbTest, CheckRowVersionRefusesARowChangedElsewhere) {
  Conn.ExecSQL(
      "CREATE TABLE hero (id INT PRIMARY KEY, lv INT, "
      "ts TIMESTAMP NOT NULL DEFAULT CURRENT_TIMESTAMP ON UPDATE CURRENT_TIMESTAMP)");
  Conn.ExecSQL("INSERT INTO hero (id, lv, ts) VALUES (1, 0, '2001-01-01'), (2, 0, '2001-01-01')");
  TMyQuery q;
  static_cast<TMyDataSetOptions&>(q.Options()).CheckRowVersion = true;
  Open(q, "SELECT * FROM hero ORDER BY id");
  TMyConnection another;
  Connect(another);
  another.ExecSQL("UPDATE hero SET lv = 50, ts = '2002-02-02' WHERE id = 1");
  q.Edit();
  q.FieldByName("lv")->SetAsInteger(1);
  EXPECT_EQ(ErrorOf([&] { q.Post(); }), "Update failed. Found 0 records");
  q.Cancel();
  q.Next();
  Edit(q, "lv", 2);
  EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM hero"), "1:50,2:2");
}

TEST_F(MyUpdateObjectDbTest, AutoRefreshTimerSkipsARecordBeingEditedAndCachedChanges) {
  TManualMessageLoop loop;
  TMessageLoopInstaller installed(&loop);
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lv INT)");
  Conn.ExecSQL("INSERT INTO hero VALUES (1, 0)");
  TMyQuery q;
  Open(q, "SELECT * FROM hero");
  auto& options = static_cast<TMyDataSetOptions&>(q.Options());
  options.SetAutoRefreshInterval(5);
  options.SetAutoRefresh(true);
  options.SetAutoRefreshInterval(5);
  EXPECT_EQ(loop.ArmedCount(), 1u);
  Conn.ExecSQL("UPDATE hero SET lv = 1");
  loop.Advance(4999);
  EXPECT_EQ(q.FieldByName("lv")->AsInteger(), 0);
  loop.Advance(1);
  EXPECT_EQ(q.FieldByName("lv")->AsInteger(), 1) << "refreshed after 5000 ms";
  q.Edit();
  q.FieldByName("lv")->SetAsInteger(7);
  Conn.ExecSQL("UPDATE hero SET lv = 2");
  loop.Advance(10000);
  EXPECT_EQ(q.State(), dsEdit);
  EXPECT_EQ(q.FieldByName("lv")->AsInteger(), 7) << "the edit stays";
  q.Cancel();

  // A cached change not yet applied stays too, and the apply writes it.
  q.Close();
  q.SetCachedUpdates(true);
  q.Open();
  q.Edit();
  q.FieldByName("lv")->SetAsInteger(8);
  q.Post();
  Conn.ExecSQL("UPDATE hero SET lv = 3");
  loop.Advance(10000);
  EXPECT_TRUE(q.UpdatesPending());
  EXPECT_EQ(q.FieldByName("lv")->AsInteger(), 8) << "the cached change stays";
  q.ApplyUpdates();
  q.CommitUpdates();
  EXPECT_EQ(Value("SELECT lv FROM hero"), "8");
}

// The connection is killed before the second statement (or batch) of an apply: the apply runs
// again on a new session, and each change reaches the server once.
TEST_F(MyUpdateObjectDbTest, FailoverDuringApplyWritesEachChangeOnce) {
  Conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lv INT) ENGINE=InnoDB");
  Conn.ExecSQL("CREATE TABLE writes (id INT PRIMARY KEY, n INT) ENGINE=InnoDB");
  Conn.ExecSQL(
      "CREATE TRIGGER counted AFTER UPDATE ON hero FOR EACH ROW "
      "INSERT INTO writes VALUES (NEW.id, 1) ON DUPLICATE KEY UPDATE n = n + 1");
  for (int batch : {1, 3}) {
    SCOPED_TRACE(batch);
    Conn.ExecSQL("DELETE FROM hero");
    Conn.ExecSQL("DELETE FROM writes");
    Conn.ExecSQL("INSERT INTO hero VALUES (1,0),(2,0),(3,0),(4,0),(5,0),(6,0)");
    TMyConnection victim, killer;
    Connect(victim);
    Connect(killer);
    victim.Options().LocalFailover = true;
    TMyQuery q;
    q.SetConnection(&victim);
    q.SetCachedUpdates(true);
    q.Options().UpdateBatchSize = batch;
    q.SetSQLText("SELECT * FROM hero ORDER BY id");
    q.Open();
    for (q.First(); !q.Eof(); q.Next()) {
      q.Edit();
      q.FieldByName("lv")->SetAsInteger(q.FieldByName("id")->AsInteger() * 10);
      q.Post();
    }
    int statements = 0;
    auto session = [&] {
      TMyQuery id;
      id.SetConnection(&victim);
      id.SetSQLText("SELECT CAST(CONNECTION_ID() AS CHAR)");
      id.Open();
      return id.Fields()[0]->AsString();
    };
    std::string killed;
    q.BeforeUpdateExecute = [&](TCustomDADataSet*, TStatementTypes, TDAParams&) {
      if (++statements != 2) return;
      killed = session();
      killer.ExecSQL("KILL CONNECTION " + killed);
    };
    q.ApplyUpdates();
    EXPECT_NE(session(), killed) << "the apply went on in a new session";
    EXPECT_FALSE(q.UpdatesPending());
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', lv ORDER BY id) FROM hero"),
              "1:10,2:20,3:30,4:40,5:50,6:60");
    EXPECT_EQ(Value("SELECT GROUP_CONCAT(id, ':', n ORDER BY id) FROM writes"), "1:1,2:1,3:1,4:1,5:1,6:1");
  }
}

}  // namespace
