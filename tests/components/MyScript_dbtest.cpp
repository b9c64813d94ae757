// Running scripts on the test server: what each error action does, statements sent several at a
// time, and a script without a connection.
#include <gtest/gtest.h>

#include <string>

#include "components/DBAccessSQL.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "components/MyRowReader.h"
#include "components/MyScript.h"
#include "core/DAConsts.h"
#include "mysql/ApiTestSupport.h"

namespace {

using api_test::TScratchDb;

void Prepare(TMyConnection& c, const std::string& database) {
  c.LoginPrompt = false;
  c.SetServer(TestServer::Info().Host);
  c.SetPort(TestServer::Info().Port);
  c.SetUsername(TestServer::Info().NativeUser);
  c.SetPassword(TestServer::Info().NativePassword);
  c.SetDatabase(database);
}

std::string Scalar(TMyConnection& c, const std::string& sql) {
  const auto rows = TMyRowReader::FirstColumn(c, sql);
  return rows.empty() ? "<none>" : rows[0];
}

TEST(MyScriptDbTest, ErrorActionsDecideWhatRunsAfterAFailure) {
  struct Case {
    const char* Name;
    TErrorAction Action;
    bool Raises;
    const char* RowsAfter;
    int Reported;  // errors handed to the application's report
  };
  const Case cases[] = {
      {"continue", eaContinue, false, "2", 0},
      {"abort", eaAbort, false, "1", 0},
      {"fail", eaFail, true, "1", 0},
      {"exception", eaException, false, "2", 1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TScratchDb db;
    TMyConnection c;
    Prepare(c, db.Name());
    TMyScript script;
    script.SetConnection(&c);
    script.SetSQLText(
        "CREATE TABLE t (a INT);\nINSERT INTO t VALUES (1);\nINSERT INTO missing VALUES (1);\n"
        "INSERT INTO t VALUES (2);");
    std::string failedSql;
    script.OnError = [&](TComponent*, const std::exception&, const std::string& sql, TErrorAction& action) {
      failedSql = sql;
      action = k.Action;
    };
    int reported = 0;
    SetApplicationExceptionProc([&](const std::exception&) { ++reported; });
    bool raised = false;
    try {
      script.Execute();
    } catch (const EDAError& e) {
      raised = true;
      EXPECT_EQ(e.ErrorCode, 1146);
    }
    SetApplicationExceptionProc(nullptr);
    EXPECT_EQ(raised, k.Raises);
    EXPECT_EQ(failedSql, "INSERT INTO missing VALUES (1)");
    EXPECT_EQ(Scalar(c, "SELECT COUNT(*) FROM t"), k.RowsAfter);
    EXPECT_EQ(reported, k.Reported);
  }
}

TEST(MyScriptDbTest, OptimizationSendsStatementsTogether) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  c.Open();
  TMyScript script;
  script.SetConnection(&c);
  script.SetUseOptimization(true);
  script.SetSQLText("SET @a = 1;\nSET @a = @a + 1;\nSET @a = @a * 10;\n");
  int after = 0;
  script.AfterExecute = [&](TComponent*, const std::string&) { ++after; };
  script.Execute();
  EXPECT_EQ(after, 3);
  EXPECT_EQ(script.Command().SQL().Text(), "SET @a = 1;\r\nSET @a = @a + 1;\r\nSET @a = @a * 10\r\n");
  EXPECT_EQ(Scalar(c, "SELECT @a"), "20");
}

TEST(MyScriptDbTest, ADataSetKeepsTheRowsOfTheLastSelect) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  TMyQuery query;
  query.SetConnection(&c);
  TMyScript script;
  script.SetDataSet(&query);
  script.SetSQLText(
      "CREATE TABLE t (a INT);\nINSERT INTO t VALUES (1), (2);\nSELECT a FROM t ORDER BY a DESC");
  script.Execute();
  ASSERT_TRUE(query.Active());
  EXPECT_EQ(query.RecordCount(), 2);
  query.First();
  EXPECT_EQ(query.FieldByName("a")->AsString(), "2");
}

TEST(MyScriptDbTest, NoConnectionRunsNothing) {
  TMyScript script;
  script.SetSQLText("SELECT 1");
  try {
    script.Execute();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), MessageText(SConnectionNotDefined));
  }
}

}  // namespace
