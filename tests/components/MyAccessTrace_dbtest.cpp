// The SQL trace of a whole session against the test server: what OnSQL receives, in order, with
// its flags.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/MyAccessCommand.h"
#include "components/MyAccessDataSet.h"
#include "components/MySQLGenerator.h"
#include "components/OvrixMonitor.h"
#include "mysql/ApiTestSupport.h"

namespace {

using api_test::TScratchDb;

struct TEvent {
  TDATraceFlag Flag;
  std::string Text;
};

TEST(MyTraceDbTest, SessionEventsInOrder) {
  TScratchDb db;
  const TestServer::TInfo& srv = TestServer::Info();
  TCustomMySQLMonitor monitor;
  ASSERT_EQ(TCustomMySQLMonitor::GetCurrent(), &monitor);
  std::vector<TEvent> events;
  monitor.OnSQL = [&](TComponent*, const std::string& text, TDATraceFlag flag) {
    events.push_back({flag, text});
  };

  TMyConnection conn;
  conn.SetName("conn");
  conn.LoginPrompt = false;
  conn.SetServer(srv.Host);
  conn.SetPort(srv.Port);
  conn.SetUsername(srv.NativeUser);
  conn.SetPassword(srv.NativePassword);
  conn.SetDatabase(db.Name());
  const std::string who = srv.NativeUser + "@" + srv.Host + " conn";
  {
    TMyCommand setup;
    setup.Quiet = true;
    setup.SetConnection(&conn);
    setup.SetSQLText("CREATE TABLE t (a INT PRIMARY KEY, b VARCHAR(10))");
    setup.Execute();
    conn.Close();
  }
  events.clear();

  conn.Open();
  TMyCommand cmd;
  cmd.SetName("cmd");
  cmd.SetConnection(&conn);
  cmd.SetSQLText("INSERT INTO t VALUES (:a, :b)");
  cmd.Params().ParamByName("a")->SetAsInteger(1);
  cmd.Params().ParamByName("b")->SetAsString("x");
  cmd.Prepare();
  cmd.Execute();
  cmd.UnPrepare();
  conn.StartTransaction();
  conn.Commit();
  conn.StartTransaction();
  conn.Rollback();
  TMyCommand bad;
  bad.SetName("bad");
  bad.SetConnection(&conn);
  bad.SetSQLText("SELECT * FROM missing");
  EXPECT_THROW(bad.Execute(), EDAError);
  TMyCommand many;
  many.SetName("many");
  many.SetConnection(&conn);
  many.SetSQLText("INSERT INTO t VALUES (2, 'y'), (3, 'z')");
  many.Execute();
  TMyQuery q;
  q.SetName("q");
  q.SetConnection(&conn);
  q.SetSQLText("SELECT a FROM t");
  q.Open();
  q.Close();
  conn.Close();

  // Parameters read from the text have no direction of their own: an empty type text.
  const std::string params = "\r\n:a(Integer,)=1 \r\n:b(String[1],)='x' \r\n";
  const std::vector<TEvent> want = {
      {tfConnect, "Connect: " + who},
      {tfQPrepare, "Prepare: INSERT INTO t VALUES (?, ?)" + params},
      {tfQExecute, "INSERT INTO t VALUES (?, ?)" + params},
      {tfQPrepare, "Unprepare: INSERT INTO t VALUES (?, ?)" + params},
      {tfTransact, "Start: " + who},
      {tfTransact, "Commit: " + who},
      {tfTransact, "Start: " + who},
      {tfTransact, "Rollback: " + who},
      {tfQExecute, "SELECT * FROM missing"},
      {tfError, "Error: \r\nTable '" + db.Name() + ".missing' doesn't exist"},
      {tfQExecute, "INSERT INTO t VALUES (2, 'y'), (3, 'z')"},
      {tfMisc, "Records: 2  Duplicates: 0  Warnings: 0"},
      {tfQExecute, "SELECT a FROM t"},
      {tfConnect, "Disconnect: " + who},
  };
  ASSERT_EQ(events.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].Flag, want[i].Flag);
    EXPECT_EQ(events[i].Text, want[i].Text);
  }
}

// A row written by the dataset is traced once, as the dataset, named by its statement types,
// whatever supplies the statement (generated, the user's, an update object); the server's note
// on it comes with the dataset as sender too.
TEST(MyTraceDbTest, DatasetWritesAreTracedOnceUnderTheirTypes) {
  TScratchDb db;
  const TestServer::TInfo& srv = TestServer::Info();
  TCustomMySQLMonitor monitor;
  struct TSeen {
    TComponent* Sender;
    TDATraceFlag Flag;
    std::string Text;
  };
  std::vector<TSeen> events;
  monitor.OnSQL = [&](TComponent* sender, const std::string& text, TDATraceFlag flag) {
    if (flag == tfQExecute || flag == tfMisc) events.push_back({sender, flag, text});
  };
  TMyConnection conn;
  conn.LoginPrompt = false;
  conn.SetServer(srv.Host);
  conn.SetPort(srv.Port);
  conn.SetUsername(srv.NativeUser);
  conn.SetPassword(srv.NativePassword);
  conn.SetDatabase(db.Name());
  conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lv INT)");
  conn.ExecSQL("INSERT INTO hero VALUES (1, 0), (5, 0)");

  TMyQuery q;
  q.SetName("q");
  q.SetConnection(&conn);
  q.SetSQLText("SELECT * FROM hero ORDER BY id");
  q.Open();
  TMyUpdateSQL update;
  TMyCommand modify;
  modify.SetName("modify");
  modify.SetSQLText("UPDATE hero SET lv = :lv WHERE id = :OLD_id");
  auto edit = [&](int lv) {
    q.Edit();
    q.FieldByName("lv")->SetAsInteger(lv);
    q.Post();
  };
  const std::string one = ":lv(Integer,)=7 \r\n:OLD_id(Integer,)=1 \r\n";
  struct TCase {
    const char* Name;
    std::function<void()> Action;
    std::string Head;  // the start of the one statement traced
    std::string Tail;  // its end (the parameter lines)
    std::string Note;  // the server's note that follows it, if any
  };
  const std::vector<TCase> cases = {
      {"generated insert",
       [&] {
         q.Append();
         q.FieldByName("id")->SetAsInteger(2);
         q.FieldByName("lv")->SetAsInteger(3);
         q.Post();
       },
       "Insert: INSERT INTO hero", "\r\n:id(Integer,IN)=2 \r\n:lv(Integer,IN)=3 \r\n", ""},
      {"generated update", [&] { q.First(), edit(4); }, "Update: UPDATE hero", "=1 \r\n",
       "Rows matched: 1  Changed: 1  Warnings: 0"},
      {"generated refresh", [&] { q.RefreshRecord(); }, "Refresh: SELECT", "=1 \r\n", ""},
      {"generated lock", [&] { q.PerformSQL("", StatementTypeSet(stLock)); }, "Lock: SELECT NULL FROM hero",
       "=1 \r\n", ""},
      {"user update",
       [&] {
         q.SQLUpdate().SetText("UPDATE hero SET lv = :lv WHERE id = :OLD_id");
         edit(7);
         q.SQLUpdate().Clear();
       },
       "Update: UPDATE hero SET lv = ? WHERE id = ?\r\n\r\n" + one, "",
       "Rows matched: 1  Changed: 1  Warnings: 0"},
      {"user refresh",
       [&] {
         q.SQLRefresh().SetText("SELECT lv FROM hero WHERE id = :id");
         q.RefreshRecord();
         q.SQLRefresh().Clear();
       },
       "Refresh: SELECT lv FROM hero WHERE id = :id", "\r\n:id(Integer,IN)=1 \r\n", ""},
      {"update object's command",
       [&] {
         update.SetModifyObject(&modify);
         q.SetUpdateObject(&update);
         edit(7);
         q.SetUpdateObject(nullptr);
       },
       "Update: UPDATE hero SET lv = :lv WHERE id = :OLD_id\r\n" + one, "",
       "Rows matched: 1  Changed: 0  Warnings: 0"},
      {"generated delete", [&] { q.Last(), q.Delete(); }, "Delete: DELETE FROM hero", ")=2 \r\n", ""},
      {"batch of cached updates",
       [&] {
         q.Close();
         q.SetCachedUpdates(true);
         q.Options().UpdateBatchSize = 2;
         q.Open();
         edit(8);
         q.Next();
         edit(9);
         events.clear();
         q.ApplyUpdates();
       },
       "BatchUpdate: UPDATE hero", ")=5 \r\n", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    events.clear();
    c.Action();
    std::vector<TSeen> runs, notes;
    for (const TSeen& e : events) (e.Flag == tfQExecute ? runs : notes).push_back(e);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].Sender, &q);
    EXPECT_EQ(runs[0].Text.substr(0, c.Head.size()), c.Head);
    EXPECT_TRUE(runs[0].Text.ends_with(c.Tail)) << runs[0].Text;
    if (c.Note.empty()) continue;
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].Sender, &q);
    EXPECT_EQ(notes[0].Text, c.Note);
  }
  EXPECT_EQ(q.UpdatesPending(), false);
}

}  // namespace

// The server's note on a statement reaches OnSQL only while that statement runs, with a sender
// that is still there: a row write that fails through an update object's command leaves nothing
// behind in the command once the dataset is gone (the handler reads its sender's name).
TEST(MyTraceDbTest, NotesOfAFailedWriteEndWithIt) {
  TScratchDb db;
  const TestServer::TInfo& srv = TestServer::Info();
  TCustomMySQLMonitor monitor;
  std::vector<std::string> notes;
  monitor.OnSQL = [&](TComponent* sender, const std::string& text, TDATraceFlag flag) {
    if (flag == tfMisc) notes.push_back(sender->Name() + ": " + text);
  };
  TMyConnection conn;
  conn.LoginPrompt = false;
  conn.SetServer(srv.Host);
  conn.SetPort(srv.Port);
  conn.SetUsername(srv.NativeUser);
  conn.SetPassword(srv.NativePassword);
  conn.SetDatabase(db.Name());
  conn.ExecSQL("CREATE TABLE hero (id INT PRIMARY KEY, lv INT)");
  conn.ExecSQL("INSERT INTO hero VALUES (1, 0), (5, 0)");

  TMyCommand modify;
  modify.SetName("modify");
  modify.SetConnection(&conn);
  modify.SetSQLText("UPDATE hero SET id = :id WHERE id = :OLD_id");
  TMyUpdateSQL update;
  update.SetModifyObject(&modify);
  auto q = std::make_unique<TMyQuery>();
  q->SetName("q");
  q->SetConnection(&conn);
  q->SetSQLText("SELECT * FROM hero ORDER BY id");
  q->SetUpdateObject(&update);
  q->Open();
  q->Edit();
  q->FieldByName("id")->SetAsInteger(5);
  EXPECT_THROW(q->Post(), EDAError);  // duplicate key
  q->Cancel();
  q.reset();

  modify.SetSQLText("UPDATE hero SET lv = lv + 1");
  modify.Quiet = true;
  modify.Execute();
  EXPECT_TRUE(notes.empty()) << notes[0];
  modify.Quiet = false;
  modify.Execute();
  EXPECT_EQ(notes, std::vector<std::string>{"modify: Rows matched: 2  Changed: 2  Warnings: 0"});
}

// Statements still prepared when their connection closes are unprepared with it, and the monitor
// that saw them prepared sees that, before the disconnect.
TEST(MyTraceDbTest, ClosingTheConnectionTracesTheUnprepares) {
  const TestServer::TInfo& srv = TestServer::Info();
  TCustomMySQLMonitor monitor;
  std::vector<std::string> events;
  monitor.OnSQL = [&](TComponent* sender, const std::string& text, TDATraceFlag flag) {
    if (flag == tfQPrepare || flag == tfConnect) events.push_back(sender->Name() + " " + text);
  };
  TMyConnection conn;
  conn.SetName("conn");
  conn.LoginPrompt = false;
  conn.SetServer(srv.Host);
  conn.SetPort(srv.Port);
  conn.SetUsername(srv.NativeUser);
  conn.SetPassword(srv.NativePassword);
  conn.Open();
  TMyCommand cmd;
  cmd.SetName("cmd");
  cmd.SetConnection(&conn);
  cmd.SetSQLText("DO 1");
  cmd.Prepare();
  TMyQuery q;
  q.SetName("q");
  q.SetConnection(&conn);
  q.SetSQLText("SELECT 2");
  q.Prepare();
  events.clear();
  conn.Close();
  EXPECT_FALSE(cmd.Prepared());
  EXPECT_FALSE(q.Prepared());
  const std::string who = srv.NativeUser + "@" + srv.Host + " conn";
  const std::vector<std::string> want = {"q Unprepare: SELECT 2", "cmd Unprepare: DO 1",
                                         "conn Disconnect: " + who};
  EXPECT_EQ(events, want);
}
