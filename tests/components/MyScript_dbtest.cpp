// Running scripts on the test server: what each error action does, statements sent several at a
// time and their failures, macros, a SET NAMES in the script, and a script without a connection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/DBAccessSQL.h"
#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "components/MyDump.h"
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

// Statements sent together: the server runs them in order and stops at the first failure. The
// failing statement is reported alone with its line, what follows is sent again on continue and
// not at all on abort or fail: the rows and events are those of the statements sent one by one.
TEST(MyScriptDbTest, OptimizationReportsTheFailingStatementAndSendsTheRestAgain) {
  const std::string longValue(70000, 'x');
  const std::string longInsert = "INSERT INTO t SELECT 5 + 0 * LENGTH('" + longValue + "')";
  struct Case {
    const char* Name;
    std::string Text;
    TErrorAction Action;
    bool Raises;
    const char* Rows;
    std::vector<std::string> Failed;    // "line: text" of each failure reported
    std::vector<std::string> AfterRan;  // the statements AfterExecute was told of
  };
  const std::string i1 = "INSERT INTO t VALUES (1)", i2 = "INSERT INTO t VALUES (2)",
                    i3 = "INSERT INTO t VALUES (3)", i4 = "INSERT INTO t VALUES (4)";
  const std::string m2 = "INSERT INTO missing VALUES (2)", m1 = "INSERT INTO missing VALUES (1)",
                    m3 = "INSERT INTO missing VALUES (3)";
  auto text = [](std::initializer_list<std::string> lines) {
    std::string t;
    for (const std::string& l : lines) t += l + ";\n";
    return t;
  };
  const Case cases[] = {
      {"continue, failure in the middle",
       text({i1, m2, i3, i4}),
       eaContinue,
       false,
       "1,3,4",
       {"2: " + m2},
       {i1, m2, i3, i4}},
      {"abort", text({i1, m2, i3, i4}), eaAbort, false, "1", {"2: " + m2}, {i1, m2}},
      {"fail", text({i1, m2, i3, i4}), eaFail, true, "1", {"2: " + m2}, {i1}},
      {"failure in the first", text({m1, i2, i3}), eaContinue, false, "2,3", {"1: " + m1}, {m1, i2, i3}},
      {"failure in the last", text({i1, i2, m3}), eaContinue, false, "1,2", {"3: " + m3}, {i1, i2, m3}},
      {"two failures",
       text({m1, i2, m3, i4}),
       eaContinue,
       false,
       "2,4",
       {"1: " + m1, "3: " + m3},
       {m1, i2, m3, i4}},
      // The long statement does not fit the batch: the batch before it is sent first, and its
      // abort ends the run there.
      {"abort in a flush mid-run",
       text({i1, m2, longInsert, "INSERT INTO t VALUES (6)"}),
       eaAbort,
       false,
       "1",
       {"2: " + m2},
       {i1, m2}},
  };
  for (bool batched : {true, false})
    for (const Case& k : cases) {
      SCOPED_TRACE(std::string(k.Name) + (batched ? ", sent together" : ", sent one by one"));
      TScratchDb db;
      TMyConnection c;
      Prepare(c, db.Name());
      c.ExecSQL("CREATE TABLE t (a INT)");
      TMyScript script;
      script.SetConnection(&c);
      script.SetUseOptimization(batched);
      script.SetSQLText(k.Text);
      std::vector<std::string> failed, after;
      script.OnError = [&](TComponent*, const std::exception&, const std::string& sql, TErrorAction& action) {
        failed.push_back(std::to_string(script.StartLine() + 1) + ": " + sql);
        action = k.Action;
      };
      script.AfterExecute = [&](TComponent*, const std::string& sql) { after.push_back(sql); };
      bool raised = false;
      try {
        script.Execute();
      } catch (const EDAError& e) {
        raised = true;
        EXPECT_EQ(e.ErrorCode, 1146);
      }
      EXPECT_EQ(raised, k.Raises);
      EXPECT_EQ(Scalar(c, "SELECT GROUP_CONCAT(a ORDER BY a) FROM t"), k.Rows);
      EXPECT_EQ(failed, k.Failed);
      EXPECT_EQ(after, k.AfterRan);
    }
}

// `&name` is a macro reference only for a macro the application set on the script; other such
// text (the & operator) goes to the server as written. A command keeps its rule: an undefined
// macro is replaced by nothing.
TEST(MyScriptDbTest, OnlyMacrosTheApplicationSetAreReplaced) {
  TScratchDb db;
  TMyConnection c;
  Prepare(c, db.Name());
  c.ExecSQL("CREATE TABLE m (v INT)");
  struct Case {
    const char* Name;
    std::string Text;
    const char* Table;  // the macro `tbl` the application sets, or nothing
    const char* Value;
  };
  const Case cases[] = {
      {"no macro set", "INSERT INTO m SELECT 6 &b FROM (SELECT 3 AS b) x", nullptr, "2"},
      {"another macro set", "INSERT INTO &tbl SELECT 6 &b FROM (SELECT 3 AS b) x", "m", "2"},
      {"routine body",
       "DELIMITER $$\nCREATE FUNCTION f_and(b INT) RETURNS INT DETERMINISTIC RETURN 6 &b $$\nDELIMITER ;\n"
       "INSERT INTO m VALUES (f_and(3))",
       nullptr, "2"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    c.ExecSQL("DELETE FROM m");
    TMyScript script;
    script.SetConnection(&c);
    script.SetSQLText(k.Text);
    if (k.Table != nullptr) script.Macros().MacroByName("tbl")->SetValue(k.Table);
    script.Execute();
    EXPECT_EQ(Scalar(c, "SELECT GROUP_CONCAT(v) FROM m"), k.Value);
  }
  TMyCommand command;
  command.SetConnection(&c);
  command.SetSQLText("INSERT INTO m SELECT 6 &b FROM (SELECT 3 AS b) x");
  c.ExecSQL("DELETE FROM m");
  command.Execute();
  EXPECT_EQ(Scalar(c, "SELECT GROUP_CONCAT(v) FROM m"), "6");
}

// A SET NAMES the script runs changes how the server reads the rest of the text, so the splitter
// reads it in the new set too: a 0x5C after a GBK lead byte is a backslash on latin1 and part of
// a character on gbk.
TEST(MyScriptDbTest, TheSplitterReadsOnInTheSetTheScriptGaveTheSession) {
  const std::string latin1Literal = "'\x95\\\\'";  // latin1 bytes 95 5C, escaped as latin1
  const std::string gbkLiteral = "'\x95\x5C'";     // one gbk character, as gbk escapes it
  struct Case {
    const char* Name;
    std::string Charset;
    std::string Set;
    std::string Literal;
  };
  const Case cases[] = {
      {"gbk connection, SET NAMES latin1", "gbk", "SET NAMES latin1", latin1Literal},
      {"gbk connection, versioned comment", "gbk", "/*!40101 SET NAMES latin1 */", latin1Literal},
      {"gbk connection, SET CHARACTER SET", "gbk", "SET CHARACTER SET latin1", latin1Literal},
      {"latin1 connection, SET NAMES gbk", "latin1", "SET NAMES gbk", gbkLiteral},
  };
  struct Way {
    const char* Name;
    bool Batched, Stream;
  };
  for (const Way& way :
       {Way{"", false, false}, Way{", sent together", true, false}, Way{", from a stream", false, true}})
    for (const Case& k : cases) {
      SCOPED_TRACE(std::string(k.Name) + way.Name);
      TScratchDb db;
      TMyConnection c;
      Prepare(c, db.Name());
      c.Options().SetCharset(k.Charset);
      c.ExecSQL("CREATE TABLE t (id INT, v VARBINARY(8))");
      // From a stream the statement after the SET spans the lexer's blocks, so far that the block
      // where it starts is let go, and it is too long to be split ahead whole.
      std::string comments;
      if (way.Stream)
        for (int i = 0; i < 17; ++i) comments += "/* " + std::string(70000, '-') + " */\n";
      // Split as the server splits: the SET and each INSERT on its own.
      std::vector<std::string> expected = {k.Set};
      for (int i = 1; i <= 3; ++i)
        expected.push_back((i == 1 ? comments : "") + "INSERT INTO t VALUES (" + std::to_string(i) + ", " +
                           k.Literal + ")");
      std::string text;
      for (const std::string& statement : expected) text += statement + ";\n";
      TMyScript script;
      script.SetConnection(&c);
      script.SetUseOptimization(way.Batched);
      TStringStream stream(text);
      if (!way.Stream) script.SetSQLText(text);
      int errors = 0;
      script.OnError = [&](TComponent*, const std::exception&, const std::string&, TErrorAction& action) {
        ++errors;
        action = eaContinue;
      };
      std::vector<std::string> ran;
      script.AfterExecute = [&](TComponent*, const std::string& sql) { ran.push_back(sql); };
      if (way.Stream)
        script.ExecuteStream(stream);
      else
        script.Execute();
      EXPECT_EQ(errors, 0);
      EXPECT_TRUE(ran == expected) << ran.size() << " statements";
      EXPECT_EQ(Scalar(c, "SELECT GROUP_CONCAT(id, ':', HEX(v) ORDER BY id) FROM t"), "1:955C,2:955C,3:955C");
    }
}

// Line ends inside literals and routine bodies reach the server as the text has them, through the
// script runner and through a restore.
TEST(MyScriptDbTest, LineEndsInsideLiteralsArriveAsWritten) {
  const std::string text =
      "INSERT INTO t VALUES (1, 'a\nb');\r\nINSERT INTO t VALUES (2, 'c\r\nd');\n"
      "DELIMITER $$\nCREATE FUNCTION two() RETURNS VARCHAR(9) DETERMINISTIC RETURN 'e\nf' $$\nDELIMITER ;\n"
      "INSERT INTO t VALUES (3, two());\n";
  for (bool restore : {false, true}) {
    SCOPED_TRACE(restore ? "restore" : "script");
    TScratchDb db;
    TMyConnection c;
    Prepare(c, db.Name());
    c.ExecSQL("CREATE TABLE t (id INT, v VARBINARY(8))");
    if (restore) {
      TMyDump dump;
      dump.SetConnection(&c);
      dump.SQL().SetText(text);
      dump.Restore();
    } else {
      TMyScript script;
      script.SetConnection(&c);
      script.SetSQLText(text);
      script.Execute();
    }
    EXPECT_EQ(Scalar(c, "SELECT GROUP_CONCAT(HEX(v) ORDER BY id) FROM t"), "610A62,630D0A64,650A66");
  }
}

// The statement after the one running is split while the server works, yet it reaches the server,
// the events and the error handling only in its turn: after a failure that stops the script it is
// never sent, and a statement that cannot be split fails after the one before it ran. The third
// statement is too long to be split ahead whole.
TEST(MyScriptDbTest, AStatementSplitEarlyRunsOnlyInItsTurn) {
  const std::string text = "INSERT INTO t VALUES (1);\nINSERT INTO missing VALUES (2);\n/* " +
                           std::string(1200000, '-') +
                           " */ INSERT INTO t VALUES (3);\nSELECT \x01;\nINSERT INTO t VALUES (4);\n";
  struct Case {
    const char* Name;
    TErrorAction Action;
    const char* Events;
    const char* Raised;  // the start of the error the run ends with
    const char* Sent;    // the INSERTs the server received, in order
  };
  const Case cases[] = {
      {"continue", eaContinue, "before 0 1|after 0 1|before 1 2|error 1 2|after 1 2|before 2 3|after 2 3",
       "Parser: The unknown symbol", "1,2,3"},
      {"abort", eaAbort, "before 0 1|after 0 1|before 1 2|error 1 2|after 1 2", "", "1,2"},
      {"fail", eaFail, "before 0 1|after 0 1|before 1 2|error 1 2", "Table '", "1,2"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TScratchDb db;
    TMyConnection c;
    Prepare(c, db.Name());
    c.ExecSQL("CREATE TABLE t (a INT)");
    c.ExecSQL("SET GLOBAL log_output = 'TABLE'");
    c.ExecSQL("SET GLOBAL general_log = 1");
    const std::string id = Scalar(c, "SELECT CONNECTION_ID()");
    TMyScript script;
    script.SetConnection(&c);
    script.SetSQLText(text);
    std::string events;
    // The statement's line and the number in its VALUES.
    auto note = [&](const char* what, const std::string& sql) {
      const size_t open = sql.find('(');
      events += std::string(events.empty() ? "" : "|") + what + " " + std::to_string(script.StartLine()) +
                " " + (open == std::string::npos ? sql : sql.substr(open + 1, 1));
    };
    script.BeforeExecute = [&](TComponent*, std::string& sql, bool&) { note("before", sql); };
    script.AfterExecute = [&](TComponent*, const std::string& sql) { note("after", sql); };
    script.OnError = [&](TComponent*, const std::exception&, const std::string& sql, TErrorAction& action) {
      note("error", sql);
      action = k.Action;
    };
    std::string raised;
    try {
      script.Execute();
    } catch (const std::exception& e) {
      raised = e.what();
    }
    EXPECT_EQ(events, k.Events);
    EXPECT_EQ(raised.substr(0, std::string(k.Raised).size()), k.Raised) << raised;
    EXPECT_EQ(raised.empty(), *k.Raised == '\0');
    std::string sent;
    for (const std::string& sql : TMyRowReader::FirstColumn(
             c, "SELECT argument FROM mysql.general_log WHERE command_type = 'Query' AND thread_id = " + id +
                    " AND argument LIKE '%INSERT INTO %' AND argument NOT LIKE 'SELECT%'"))
      sent += (sent.empty() ? "" : ",") + sql.substr(sql.find('(') + 1, 1);
    EXPECT_EQ(sent, k.Sent);
  }
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

// A session that reads backslashes as plain characters: 'C:\' is a whole string there, and the
// statements after it are split as the server reads them, also when the script set the mode.
TEST(MyScriptDbTest, SplitsAsTheSessionsBackslashModeReads) {
  struct Case {
    const char* Name;
    bool ModeBefore;  // set on the session before the run; otherwise by the script
    bool Optimized;
  };
  const Case cases[] = {{"set by the script", false, false},
                        {"set by the script, sent in batches", false, true},
                        {"the session's mode", true, false}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    TScratchDb db;
    TMyConnection c;
    Prepare(c, db.Name());
    c.ExecSQL("CREATE TABLE t (id INT, s VARCHAR(20))");
    const std::string mode = "SET SESSION sql_mode = 'NO_BACKSLASH_ESCAPES'";
    if (k.ModeBefore) c.ExecSQL(mode);
    TMyScript script;
    script.SetConnection(&c);
    script.SetUseOptimization(k.Optimized);
    script.SetSQLText((k.ModeBefore ? std::string() : mode + ";\n") +
                      "INSERT INTO t VALUES (1, 'C:\\');\nINSERT INTO t VALUES (2, 'a;b');\n"
                      "INSERT INTO t VALUES (3, 'it''s\\');\n");
    std::vector<std::string> ran;
    script.AfterExecute = [&](TComponent*, const std::string& sql) { ran.push_back(sql); };
    EXPECT_NO_THROW(script.Execute());
    EXPECT_EQ(ran.size(), k.ModeBefore ? 3u : 4u);
    EXPECT_EQ(Scalar(c, "SELECT GROUP_CONCAT(HEX(s) ORDER BY id) FROM t"), "433A5C,613B62,697427735C");
  }
}

}  // namespace
