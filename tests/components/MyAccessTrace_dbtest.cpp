// The SQL trace of a whole session against the test server: what OnSQL receives, in order, with
// its flags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/MyAccessCommand.h"
#include "components/MyAccessDataSet.h"
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

}  // namespace
