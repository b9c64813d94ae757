#include "components/DBAccess.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "FakeProvider.h"
#include "components/DBAccessDialog.h"
#include "core/DAConsts.h"
#include "platform/db/VectorDataSet.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/IniFile.h"

namespace {

struct ConnectionFixture : ::testing::Test {
  ConnectionFixture() {
    Fake() = FakeLog{};
    connection.SetName("conn");
    connection.BeforeConnect = [this](TComponent*) { events.push_back("BeforeConnect"); };
    connection.AfterConnect = [this](TComponent*) { events.push_back("AfterConnect"); };
    connection.BeforeDisconnect = [this](TComponent*) { events.push_back("BeforeDisconnect"); };
    connection.AfterDisconnect = [this](TComponent*) { events.push_back("AfterDisconnect"); };
  }
  std::vector<std::string> events;  // outlives the connection, which closes as it goes
  FakeDAConnection connection;
};

TEST_F(ConnectionFixture, ConnectAndDisconnectEventOrder) {
  connection.Open();
  connection.Open();  // already open: nothing
  connection.Close();
  const std::vector<std::string> want = {"BeforeConnect", "AfterConnect", "BeforeDisconnect",
                                         "AfterDisconnect"};
  EXPECT_EQ(events, want);
  EXPECT_EQ(Fake().Events, (std::vector<std::string>{"connect", "disconnect"}));
}

TEST_F(ConnectionFixture, SettersThatCloseAndThatDoNot) {
  const struct {
    const char* Name;
    std::function<void(FakeDAConnection&)> Set;
    bool Closes;
  } cases[] = {
      {"same user name", [](FakeDAConnection& c) { c.SetUsername(c.Username()); }, false},
      {"other user name", [](FakeDAConnection& c) { c.SetUsername("other"); }, true},
      {"other password", [](FakeDAConnection& c) { c.SetPassword("pw"); }, true},
      {"other server", [](FakeDAConnection& c) { c.SetServer("host2"); }, true},
      {"same server", [](FakeDAConnection& c) { c.SetServer(c.Server()); }, false},
      {"pooling", [](FakeDAConnection& c) { c.SetPooling(!c.Pooling()); }, true},
      {"disconnected mode",
       [](FakeDAConnection& c) { c.Options().SetDisconnectedMode(!c.Options().DisconnectedMode()); }, true},
      {"convert EOL", [](FakeDAConnection& c) { c.SetConvertEOL(true); }, false},
      {"auto commit", [](FakeDAConnection& c) { c.SetAutoCommit(false); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    connection.Open();
    c.Set(connection);
    EXPECT_EQ(connection.Connected(), !c.Closes);
    connection.Close();
  }
}

TEST_F(ConnectionFixture, DisconnectClosesTheDataSets) {
  VectorDataSet data;
  data.AddRow(1, "a");
  connection.RegisterClient(&data);
  connection.Open();
  data.Open();
  connection.Close();
  EXPECT_FALSE(data.Active());
  TCRDataSource source, copy;
  source.SetDataSet(&data);
  source.AutoEdit = false;
  copy.Assign(&source);
  EXPECT_EQ(copy.DataSet(), &data);
  EXPECT_FALSE(copy.AutoEdit);
}

TEST_F(ConnectionFixture, DisconnectDetachesNothingAndDestroyDetachesCommands) {
  auto own = std::make_unique<FakeDAConnection>();
  TCustomDASQL command;
  command.SetConnection(own.get());
  EXPECT_EQ(own->Commands().size(), 1u);
  own->Open();
  own->Close();
  EXPECT_EQ(own->Commands().size(), 1u);
  own.reset();
  EXPECT_EQ(command.Connection(), nullptr);
}

TEST_F(ConnectionFixture, TransactionErrors) {
  try {
    connection.Commit();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), MessageText(SConnectionClosed));
  }
  EXPECT_THROW(connection.StartTransaction(), EDatabaseError);
  connection.Open();
  connection.StartTransaction();
  EXPECT_TRUE(connection.InTransaction());
  try {
    connection.StartTransaction();
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), MessageText(STransactionInProgress));
  }
  connection.Rollback();
  EXPECT_FALSE(connection.InTransaction());
  EXPECT_EQ(Fake().Events, (std::vector<std::string>{"connect", "start", "rollback"}));
}

TEST_F(ConnectionFixture, ClosingCommitsARunningTransaction) {
  connection.Open();
  connection.StartTransaction();
  connection.Close();
  EXPECT_EQ(Fake().Events, (std::vector<std::string>{"connect", "start", "commit", "disconnect"}));
}

TEST_F(ConnectionFixture, DisconnectedModeUseCountNeverBelowZero) {
  connection.Options().SetDisconnectedMode(true);
  connection.InternalDisconnect();
  EXPECT_EQ(connection.ConnectCount(), 0);
  connection.InternalConnect();
  connection.InternalConnect();
  EXPECT_EQ(connection.ConnectCount(), 2);
  connection.InternalDisconnect();
  EXPECT_TRUE(connection.Connected());
  connection.InternalDisconnect();
  EXPECT_FALSE(connection.Connected());
  Fake().ConnectFailures = 1;
  EXPECT_THROW(connection.InternalConnect(), EDAError);
  EXPECT_EQ(connection.ConnectCount(), 0);
  connection.InternalDisconnect();
  EXPECT_EQ(connection.ConnectCount(), 0);
  Fake().ConnectFailures = 1;
  EXPECT_THROW(connection.StartTransaction(), EDAError);
  EXPECT_EQ(connection.ConnectCount(), 0);
}

TEST_F(ConnectionFixture, LoginDialogWithoutDisplayAbortsSilently) {
  connection.LoginPrompt = true;
  connection.SetUsername("u");
  EXPECT_THROW(connection.Open(), EAbort);
  EXPECT_FALSE(connection.Connected());
  EXPECT_EQ(connection.ConnectCount(), 0);
  EXPECT_EQ(connection.Username(), "u");
  TCustomConnectDialog dialog;
  EXPECT_EQ(dialog.Caption, "Connect");
  EXPECT_EQ(dialog.CancelButton, "Cancel");
  dialog.SetLabelSet(7);
  EXPECT_EQ(dialog.Caption, "Connect");  // no texts of its own: English
  EXPECT_THROW(dialog.Execute(), EDatabaseError);
}

// The dialog remembers who logged in where: the stored login is offered first, the server list
// keeps the latest server first and each server once, whatever its case.
TEST_F(ConnectionFixture, LoginDialogRemembersLoginsInTheSettingsFile) {
  const std::string file = ::testing::TempDir() + "connect_" + std::to_string(::getpid()) + "/connect.ini";
  std::remove(file.c_str());
  TCustomConnectDialog dialog;
  dialog.SettingsFile = file;
  dialog.SetConnection(&connection);
  std::string offered;
  std::string typedServer;
  SetConnectDialogProc([&](TCustomConnectDialog& d) {
    offered = d.Connection()->Username() + "@" + d.Connection()->Server();
    d.Connection()->SetServer(typedServer);
    d.Connection()->SetUsername("gm");
    return !typedServer.empty();
  });
  struct Step {
    const char* Name;
    std::string Server;  // empty: the user cancels
    std::string WantOffered;
    std::vector<std::string> WantList;
  };
  connection.SetUsername("first");
  connection.SetServer("start");
  const std::vector<Step> steps = {
      {"nothing stored yet", "alpha", "first@start", {"alpha"}},
      {"a second server goes first", "beta", "gm@alpha", {"beta", "alpha"}},
      {"a known server in other case moves up once", "ALPHA", "gm@beta", {"ALPHA", "beta"}},
      {"cancelled: nothing changes", "", "gm@ALPHA", {"ALPHA", "beta"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.Name);
    typedServer = step.Server;
    EXPECT_EQ(dialog.Execute(), !step.Server.empty());
    EXPECT_EQ(offered, step.WantOffered);
    TStringList list;
    dialog.GetServerList(list);
    std::vector<std::string> got;
    for (int i = 0; i < list.Count(); ++i) got.push_back(list[i]);
    EXPECT_EQ(got, step.WantList);
  }
  SetConnectDialogProc(nullptr);
  std::remove(file.c_str());
}

// A remembered login reads back as it was typed, or is not remembered at all; a settings file that
// cannot be written is said, not passed over.
TEST_F(ConnectionFixture, LoginDialogKeepsOnlyLoginsThatReadBackWhole) {
  const std::string dir = ::testing::TempDir() + "connect_whole_" + std::to_string(::getpid());
  const std::string file = dir + "/connect.ini";
  TCustomConnectDialog dialog;
  dialog.SettingsFile = file;
  dialog.SetConnection(&connection);
  std::string user, server;
  SetConnectDialogProc([&](TCustomConnectDialog& d) {
    d.Connection()->SetUsername(user);
    d.Connection()->SetServer(server);
    return true;
  });
  struct Case {
    const char* Name;
    std::string User, Server;
    bool Kept;
  } cases[] = {
      {"outer blanks, quotes and a bracket", " [gm] ", "\"db1\"", true},
      {"a line break in the user name", "gm\r\n[Connect]\r\nServer 1=evil", "db2", false},
      {"a line feed in the server", "gm", "db3\n[x]", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    user = c.User;
    server = c.Server;
    EXPECT_TRUE(dialog.Execute());
    const TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("Connect", "Username", "(none)"), c.Kept ? c.User : " [gm] ");
    EXPECT_EQ(ini.ReadString("Connect", "Server 1", "(none)"), c.Kept ? c.Server : "\"db1\"");
    EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{"Connect"});
  }
  // The file cannot take the new text: a folder stands where it would be written first.
  ASSERT_EQ(::mkdir((file + ".new").c_str(), 0700), 0);
  user = "gm";
  server = "db4";
  EXPECT_THROW(dialog.Execute(), EIniFileException);
  ::rmdir((file + ".new").c_str());
  SetConnectDialogProc(nullptr);
  std::remove(file.c_str());
  ::rmdir(dir.c_str());
}

// ---- The error decision -------------------------------------------------------------------------

struct DecisionCase {
  const char* Name;
  int Code;
  bool LocalFailover;
  bool InTransaction;
  TConnLostCause Operation;
  int Attempt;
  int HandlerRetry;  // -1: no OnConnectionLost handler
  bool WantReconnect;
  bool WantReexecute;
  bool WantFail;
  TConnLostCause WantCause;
  bool WantOnError;
  bool WantClosed;
};

class DoErrorDecision : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(DoErrorDecision, Table) {
  const DecisionCase& c = GetParam();
  Fake() = FakeLog{};
  FakeDAConnection connection;
  connection.Options().LocalFailover = c.LocalFailover;
  bool onError = false;
  connection.OnError = [&](TComponent*, EDAError&, bool&) { onError = true; };
  if (c.HandlerRetry >= 0)
    connection.OnConnectionLost = [&](TComponent*, TComponent*, TConnLostCause, TRetryMode& mode) {
      mode = static_cast<TRetryMode>(c.HandlerRetry);
    };
  connection.Open();
  if (c.InTransaction) connection.StartTransaction();
  connection.PushOperation(c.Operation);
  // After the first attempt the provider's session is gone.
  if (c.Attempt > 0) connection.IConnection()->Disconnect();
  EDAError e(c.Code, "lost");
  bool fail = true, reexecute = false, reconnect = c.Attempt > 0;
  TConnLostCause cause = clUnknown;
  connection.DoError(e, fail, cause, c.Attempt, reexecute, reconnect);
  EXPECT_EQ(reconnect, c.WantReconnect);
  EXPECT_EQ(reexecute, c.WantReexecute);
  EXPECT_EQ(fail, c.WantFail);
  EXPECT_EQ(cause, c.WantCause);
  EXPECT_EQ(onError, c.WantOnError);
  EXPECT_EQ(!connection.Connected(), c.WantClosed);
}

INSTANTIATE_TEST_SUITE_P(Cases, DoErrorDecision,
                         ::testing::Values(
                             //             name  code  failover trans  operation   att handler  reconn reexec
                             //             fail  cause  onError closed
                             DecisionCase{"server error", 1064, true, false, clOpen, 0, -1, false, false,
                                          true, clUnknown, true, false},
                             DecisionCase{"lost, no failover", 2013, false, false, clOpen, 0, -1, true, false,
                                          true, clUnknown, true, false},
                             DecisionCase{"lost while opening", 2013, true, false, clOpen, 0, -1, true, true,
                                          false, clOpen, false, false},
                             DecisionCase{"lost while executing", 2013, true, false, clExecute, 0, -1, false,
                                          false, true, clExecute, true, true},
                             DecisionCase{"handler asks to repeat an execute", 2013, true, false, clExecute,
                                          0, 2, true, true, false, clExecute, false, false},
                             DecisionCase{"handler raises", 2013, true, false, clOpen, 0, 0, false, false,
                                          true, clOpen, true, true},
                             DecisionCase{"handler reconnects only", 2013, true, false, clOpen, 0, 1, true,
                                          false, true, clOpen, false, false},
                             DecisionCase{"in a transaction", 2013, true, true, clOpen, 0, -1, false, false,
                                          true, clOpen, true, true},
                             DecisionCase{"in a transaction applying", 2013, true, true, clConnectionApply, 0,
                                          -1, true, true, false, clConnectionApply, false, false},
                             DecisionCase{"later attempt", 2013, true, false, clOpen, 1, -1, true, true,
                                          false, clOpen, false, true},
                             DecisionCase{"attempts used up", 2013, true, false, clOpen,
                                          TCustomDAConnection::MaxReconnectAttempts, -1, false, false, true,
                                          clOpen, true, true}),
                         [](const ::testing::TestParamInfo<DecisionCase>& info) {
                           std::string name = info.param.Name;
                           for (char& ch : name)
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

// A statement that drops the connection itself is repeated once after the reconnect, not forever.
TEST(FailoverTest, RepeatsOnceThenLetsTheErrorThrough) {
  Fake() = FakeLog{};
  FakeDAConnection connection;
  connection.Options().LocalFailover = true;
  connection.OnConnectionLost = [](TComponent*, TComponent*, TConnLostCause, TRetryMode& mode) {
    mode = rmReconnectExecute;
  };
  TCustomDASQL command;
  command.SetConnection(&connection);
  command.SetSQLText("KILL CONNECTION_ID()");
  Fake().ExecuteErrors = {FakeLostConnection, FakeLostConnection, FakeLostConnection, FakeLostConnection};
  EXPECT_THROW(command.Execute(), EDAError);
  int executions = 0;
  for (const std::string& e : Fake().Events) executions += e.rfind("execute", 0) == 0;
  EXPECT_EQ(executions, 2);
  // The allowance comes back for the next operation.
  Fake().ExecuteErrors = {FakeLostConnection};
  if (!connection.Connected()) connection.Open();
  command.Execute();
}

// ---- Applying the updates of several datasets ------------------------------------------------------

struct FakeApplier : IDAUpdatesApplier {
  FakeApplier(TCustomDAConnection* c, std::vector<std::string>* log) : Conn(c), Log(log) {}
  TCustomDAConnection* UpdatesConnection() override { return Conn; }
  std::string UpdatesName() override { return "ds"; }
  bool HasCachedUpdates() override { return true; }
  void ApplyCachedUpdates() override {
    ++Applied;
    Pending = 0;
    if (FailNext > 0) {
      --FailNext;
      throw EDAError(FailCode, "apply failed");
    }
  }
  void CommitCachedUpdates() override { Log->push_back("committed " + std::to_string(Applied)); }
  void RestoreCachedUpdates() override { Pending = 2; }
  bool IsApplyingUpdates() override { return false; }

  TCustomDAConnection* Conn;
  std::vector<std::string>* Log;
  int Applied = 0;
  int Pending = 2;
  int FailNext = 0;
  int FailCode = 1062;
};

// Changes marked applied by an attempt that rolled back are pending again for the next attempt.
TEST(ApplyUpdatesTest, RollbackRestoresPendingChanges) {
  Fake() = FakeLog{};
  FakeDAConnection connection;
  connection.Open();
  std::vector<std::string> log;
  FakeApplier a(&connection, &log);
  a.FailNext = 1;
  EXPECT_THROW(connection.ApplyUpdates({&a}), EDAError);
  EXPECT_EQ(a.Pending, 2);
  EXPECT_FALSE(connection.InTransaction());
  EXPECT_EQ(Fake().Events.back(), "rollback");
  connection.ApplyUpdates({&a});
  EXPECT_EQ(log, std::vector<std::string>{"committed 2"});
  FakeDAConnection other;
  FakeApplier foreign(&other, &log);
  try {
    connection.ApplyUpdates({&foreign});
    FAIL() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), MessageFmt(SDataSetNotOwned, {"ds", ""}));
  }
}

// Before a failover rerun the changes of the failed attempt are pending again.
TEST(ApplyUpdatesTest, FailoverRerunRestoresPendingChanges) {
  Fake() = FakeLog{};
  FakeDAConnection connection;
  connection.Options().LocalFailover = true;
  connection.Open();
  std::vector<std::string> log;
  int restoredBeforeRerun = 0;
  // The lost connection reaches the error path the way the provider's execution would report it.
  struct Reporter : FakeApplier {
    using FakeApplier::FakeApplier;
    void ApplyCachedUpdates() override {
      ++Applied;
      Pending = 0;
      if (FailNext > 0) {
        --FailNext;
        EDAError e(FakeLostConnection, "lost");
        bool fail = true;
        Conn->IConnection()->DoError(e, fail);
        throw e;
      }
    }
    void RestoreCachedUpdates() override {
      ++*Restored;
      Pending = 2;
    }
    int* Restored = nullptr;
  } r(&connection, &log);
  r.FailNext = 1;
  r.Restored = &restoredBeforeRerun;
  connection.ApplyUpdates({&r});
  EXPECT_EQ(restoredBeforeRerun, 1);
  EXPECT_EQ(r.Applied, 2);
  EXPECT_EQ(log, std::vector<std::string>{"committed 2"});
}

}  // namespace
