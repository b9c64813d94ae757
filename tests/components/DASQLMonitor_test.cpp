#include "components/DASQLMonitor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "components/DBAccessParams.h"
#include "components/OvrixMonitor.h"
#include "core/DAError.h"

namespace {

struct Line {
  std::string Text;
  TDATraceFlag Flag;
};

struct MonitorFixture : ::testing::Test {
  MonitorFixture() {
    monitor.OnSQL = [this](TComponent*, const std::string& text, TDATraceFlag flag) {
      lines.push_back({text, flag});
    };
    owner.SetName("cmd1");
    TDAParam* id = static_cast<TDAParam*>(params.CreateParam(ftInteger, "id", ptInput));
    id->SetAsInteger(7);
    TDAParam* name = static_cast<TDAParam*>(params.CreateParam(ftString, "name", ptInputOutput));
    name->SetAsString("ann");
    params.CreateParam(ftMemo, "note", ptUnknown)->SetAsString("12345");
    params.CreateParam(ftDateTime, "at", ptOutput)->SetValue(Variant::Null());
  }
  ~MonitorFixture() override { SetDebugDialogProc(nullptr); }

  TCustomMySQLMonitor monitor;
  TComponent owner;
  TDAParams params;
  std::vector<Line> lines;
};

TEST_F(MonitorFixture, StatementAndParameterTexts) {
  TCustomDASQLMonitor::SQLExecute(&TCustomMySQLMonitor::GetCurrent, &owner, "UPDATE t SET a = ?", &params, {},
                                  false);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Flag, tfQExecute);
  EXPECT_EQ(lines[0].Text,
            "UPDATE t SET a = ?\r\n"
            ":id(Integer,IN)=7 \r\n"
            ":name(String[3],IN/OUT)='ann' \r\n"
            ":note(Memo,)=<BLOB:5> \r\n"
            ":at(DateTime,OUT)=<NULL> \r\n");
  TCustomDASQLMonitor::SQLPrepare(&TCustomMySQLMonitor::GetCurrent, &owner, "SELECT 1", nullptr, false);
  TCustomDASQLMonitor::SQLExecute(&TCustomMySQLMonitor::GetCurrent, &owner, "SELECT 2", nullptr, "Refresh",
                                  false);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].Text, "Prepare: SELECT 1");
  EXPECT_EQ(lines[1].Flag, tfQPrepare);
  EXPECT_EQ(lines[2].Text, "Refresh: SELECT 2");
}

TEST_F(MonitorFixture, NoParameterLinesWithoutTheirFlag) {
  monitor.TraceFlags &= ~TraceFlag(tfParams);
  TCustomDASQLMonitor::SQLExecute(&TCustomMySQLMonitor::GetCurrent, &owner, "DELETE FROM t", &params, {},
                                  false);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Text, "DELETE FROM t");
}

TEST_F(MonitorFixture, ConnectionTransactionAndErrorTexts) {
  const TDASQLMonitorClass cls = &TCustomMySQLMonitor::GetCurrent;
  TCustomDASQLMonitor::DBConnect(cls, &owner, "root", "db1", false);
  TCustomDASQLMonitor::DBConnect(cls, &owner, "root", "db1", true);  // after calls reach no event
  TCustomDASQLMonitor::DBDisconnect(cls, &owner, "root", "db1", false);
  TCustomDASQLMonitor::TRStart(cls, &owner, "root", "db1", false);
  TCustomDASQLMonitor::TRCommit(cls, &owner, "root", "db1", false);
  TCustomDASQLMonitor::TRRollback(cls, &owner, "root", "db1", false);
  TCustomDASQLMonitor::DBError(cls, &owner, EDAError(1062, "Duplicate entry"), false);
  const std::vector<std::pair<std::string, TDATraceFlag>> want = {
      {"Connect: root@db1 cmd1", tfConnect},   {"Disconnect: root@db1 cmd1", tfConnect},
      {"Start: root@db1 cmd1", tfTransact},    {"Commit: root@db1 cmd1", tfTransact},
      {"Rollback: root@db1 cmd1", tfTransact}, {"Error: Duplicate entry", tfError}};
  ASSERT_EQ(lines.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(want[i].first);
    EXPECT_EQ(lines[i].Text, want[i].first);
    EXPECT_EQ(lines[i].Flag, want[i].second);
  }
}

TEST_F(MonitorFixture, FirstMonitorStaysCurrentAndInactiveTracesNothing) {
  {
    TCustomMySQLMonitor second;
    EXPECT_EQ(TCustomMySQLMonitor::GetCurrent(), &monitor);
  }
  EXPECT_EQ(TCustomMySQLMonitor::GetCurrent(), &monitor);
  EXPECT_EQ(TCustomDASQLMonitor::GetCurrent(), nullptr);
  monitor.SetActive(false);
  TCustomDASQLMonitor::SQLExecute(&TCustomMySQLMonitor::GetCurrent, &owner, "SELECT 1", nullptr, {}, false);
  TCustomMySQLMonitor::ProviderMessage(&owner, "Warning 1265");
  EXPECT_TRUE(lines.empty());
  monitor.SetActive(true);
  TCustomMySQLMonitor::ProviderMessage(&owner, "Warning 1265");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].Flag, tfMisc);
}

TEST_F(MonitorFixture, ObjectTextOfAnUnnamedComponent) {
  TComponent unnamed;
  const std::string text = TCustomDASQLMonitor::ObjectText(&unnamed);
  ASSERT_EQ(text.size(), std::string("TComponent ($12345678)").size()) << text;
  EXPECT_EQ(text.substr(0, 13), "TComponent ($");
  EXPECT_EQ(text.back(), ')');
  EXPECT_EQ(TCustomDASQLMonitor::ObjectText(&owner), "cmd1");
}

TEST_F(MonitorFixture, DebugDialogOnlyForDebugComponentsBeforeTheStatement) {
  std::vector<std::string> shown;
  SetDebugDialogProc(
      [&](TComponent*, const std::string& sql, TParams*, TDASQLEventKind) { shown.push_back(sql); });
  const TDASQLMonitorClass cls = &TCustomMySQLMonitor::GetCurrent;
  TCustomDASQLMonitor::SQLExecute(cls, &owner, "A", nullptr, {}, false, false);
  TCustomDASQLMonitor::SQLExecute(cls, &owner, "B", nullptr, {}, false, true);
  TCustomDASQLMonitor::SQLExecute(cls, &owner, "C", nullptr, {}, true, true);
  // Without any monitor the Debug flag still opens the dialog.
  TCustomDASQLMonitor::SQLExecute(&TCustomDASQLMonitor::GetCurrent, &owner, "D", nullptr, {}, false, true);
  EXPECT_EQ(shown, (std::vector<std::string>{"B", "D"}));
}

}  // namespace
