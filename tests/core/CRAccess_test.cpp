#include "core/CRAccess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/MemBlob.h"
#include "BlobTestSupport.h"

namespace {

// ---- error path -----------------------------------------------------------------------------

// A connection whose session calls are logged; Connect fails the first `failingConnects` times.
class TLoggingConnection : public TCRConnection {
 public:
  std::vector<std::string> Log;
  int FailingConnects = 0;
  bool DisconnectFails = false;

  void Connect(const std::string&) override {
    Log.push_back("Connect");
    if (FailingConnects > 0) {
      --FailingConnects;
      throw EDAError(2003, "Can't connect");
    }
    FConnected = true;
  }
  void Disconnect() override {
    Log.push_back("Disconnect");
    FConnected = false;
    if (DisconnectFails) throw EDAError(2013, "Lost connection");
  }
};

// What the error callback answers on each call (the last entry repeats).
struct TAnswer {
  bool Reconnect;
  bool Reexecute;
};

struct TDoErrorCase {
  const char* Name;
  std::vector<TAnswer> Answers;  // empty: no OnError at all
  int FailingConnects;
  bool DisconnectFails;
  bool SuccessCallbackFails;
  std::vector<std::string> ExpectedLog;
  bool ExpectFailOver;
};

void Wire(TLoggingConnection& conn, const TDoErrorCase& c) {
  if (!c.Answers.empty()) {
    conn.OnError = [&conn, &c](EDAError& e, bool& fail, bool& reconnect, bool& reexecute, int attempt,
                               TConnLostCause& cause) {
      EXPECT_EQ(e.ErrorCode, 2013);
      EXPECT_EQ(reconnect, attempt > 0) << "Reconnect starts true from the second call on";
      EXPECT_FALSE(reexecute);
      conn.Log.push_back("OnError " + std::to_string(attempt));
      const TAnswer& a = c.Answers[std::min<size_t>(static_cast<size_t>(attempt), c.Answers.size() - 1)];
      reconnect = a.Reconnect;
      reexecute = a.Reexecute;
      fail = false;
      cause = clOpen;
    };
  }
  conn.OnReconnectSuccess = [&conn, &c] {
    conn.Log.push_back("OnReconnectSuccess");
    if (c.SuccessCallbackFails) throw Exception("handler failed");
  };
  conn.OnReconnectError = [&conn] {
    conn.Log.push_back(std::string("OnReconnectError connected=") + (conn.GetConnected() ? "1" : "0"));
    throw Exception("close failed");  // swallowed
  };
}

TEST(CRConnectionDoErrorTest, FollowsTheCallbacksPolicy) {
  const std::vector<TDoErrorCase> cases = {
      {"no callback: nothing happens", {}, 0, false, false, {}, false},
      {"plain report", {{false, false}}, 0, false, false, {"OnError 0"}, false},
      {"reconnect and re-execute",
       {{true, true}},
       0,
       false,
       false,
       {"OnError 0", "Disconnect", "Connect", "OnReconnectSuccess"},
       true},
      {"reconnect without re-execute",
       {{true, false}},
       0,
       false,
       false,
       {"OnError 0", "Disconnect", "Connect", "OnReconnectSuccess"},
       false},
      {"failing close and failing success handler are swallowed",
       {{true, true}},
       0,
       true,
       true,
       {"OnError 0", "Disconnect", "Connect", "OnReconnectSuccess"},
       true},
      {"failing reconnects until the callback gives up",
       {{true, true}, {true, true}, {true, true}, {false, false}},
       10,
       false,
       false,
       {"OnError 0", "Disconnect", "Connect", "OnError 1", "Connect", "OnError 2", "Connect", "OnError 3",
        "OnReconnectError connected=1"},
       false},
      {"a later reconnect succeeds",
       {{true, true}},
       2,
       false,
       false,
       {"OnError 0", "Disconnect", "Connect", "OnError 1", "Connect", "OnError 2", "Connect",
        "OnReconnectSuccess"},
       true},
  };
  for (const TDoErrorCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TLoggingConnection conn;
    conn.FailingConnects = c.FailingConnects;
    conn.DisconnectFails = c.DisconnectFails;
    Wire(conn, c);
    EDAError error(2013, "Lost connection to MySQL server during query");
    bool fail = true;
    if (c.ExpectFailOver) {
      try {
        conn.DoError(error, fail);
        ADD_FAILURE() << "EFailOver expected";
      } catch (const EFailOver& e) {
        EXPECT_EQ(e.ConnLostCause, clOpen);
        EXPECT_EQ(e.Message(), "");
      }
    } else {
      EXPECT_NO_THROW(conn.DoError(error, fail));
    }
    EXPECT_EQ(conn.Log, c.ExpectedLog);
    EXPECT_EQ(fail, c.Answers.empty()) << "the callback cleared Fail";
    // The connection is usable for the next error: no flag was left set.
    conn.Log.clear();
    conn.FailingConnects = 0;
    conn.OnError = nullptr;
    EXPECT_NO_THROW(conn.DoError(error, fail));
  }
}

TEST(CRConnectionDoErrorTest, AfterGivingUpTheConnectionIsReportedClosed) {
  TLoggingConnection conn;
  conn.FailingConnects = 1;
  bool connectedInside = false;
  conn.OnError = [](EDAError&, bool&, bool& reconnect, bool&, int attempt, TConnLostCause&) {
    reconnect = attempt == 0;
  };
  conn.OnReconnectError = [&] { connectedInside = conn.GetConnected(); };
  EDAError error(2006, "MySQL server has gone away");
  bool fail = true;
  conn.DoError(error, fail);
  EXPECT_TRUE(connectedInside);
  EXPECT_FALSE(conn.GetConnected());
  EXPECT_TRUE(fail);
}

TEST(CRConnectionDoErrorTest, NestedCallsReturnAtOnce) {
  TLoggingConnection conn;
  int calls = 0;
  conn.OnError = [&](EDAError& e, bool& fail, bool&, bool&, int, TConnLostCause&) {
    ++calls;
    conn.DoError(e, fail);  // e.g. an error raised while the handler closes a dataset
  };
  conn.OnReconnectSuccess = [&] {
    EDAError inner(2013, "inner");
    bool innerFail = true;
    conn.DoError(inner, innerFail);
  };
  EDAError error(2013, "Lost connection");
  bool fail = true;
  conn.DoError(error, fail);
  EXPECT_EQ(calls, 1);
}

TEST(CRConnectionDoErrorTest, AnExceptionOfTheCallbackPropagatesAndClearsTheFlag) {
  TLoggingConnection conn;
  bool raise = true;
  int calls = 0;
  conn.OnError = [&](EDAError&, bool&, bool&, bool&, int, TConnLostCause&) {
    ++calls;
    if (raise) throw EAbort("stop");
  };
  EDAError error(1064, "syntax");
  bool fail = true;
  EXPECT_THROW(conn.DoError(error, fail), EAbort);
  raise = false;
  conn.DoError(error, fail);
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(conn.Log.empty());
}

// ---- properties and abstract operations -----------------------------------------------------

template <class F>
void ExpectAssertionNaming(F&& call, const std::string& text) {
  try {
    call();
    ADD_FAILURE() << "EAssertionFailed expected";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(e.Message().find(text), std::string::npos) << e.Message();
  }
}

TEST(CRConnectionTest, PropertiesAndUnknownIds) {
  TCRConnection conn;
  EXPECT_FALSE(conn.GetConnected());
  EXPECT_TRUE(conn.GetIsValid());
  conn.SetUsername("gm");
  conn.SetPassword("secret");
  conn.SetServer("db1");
  EXPECT_TRUE(conn.SetProp(prAutoCommit, true));
  EXPECT_TRUE(conn.SetProp(prConvertEOL, true));
  EXPECT_TRUE(conn.SetProp(prDisconnectedMode, true));
  EXPECT_TRUE(conn.GetAutoCommit() && conn.GetConvertEOL() && conn.GetDisconnectedMode());
  EXPECT_TRUE(conn.SetProp(prConvertEOL, false));
  EXPECT_FALSE(conn.GetConvertEOL());
  Variant v;
  EXPECT_TRUE(conn.GetProp(prUsername, v));
  EXPECT_EQ(v.AsString(), "gm");
  EXPECT_EQ(conn.GetPassword(), "secret");
  EXPECT_EQ(conn.GetServer(), "db1");
  ExpectAssertionNaming([&] { conn.SetProp(1000, 1); }, "1000");
  ExpectAssertionNaming([&] { conn.SetProp(prUsername, "x"); }, "1");
  ExpectAssertionNaming([&] { conn.GetProp(prAutoCommit, v); }, "5");
}

TEST(CRConnectionTest, OperationsAProviderMustSupplyRaise) {
  TCRConnection conn;
  ExpectAssertionNaming([&] { conn.Connect(""); }, "TCRConnection.Connect");
  ExpectAssertionNaming([&] { conn.Disconnect(); }, "TCRConnection.Disconnect");
  ExpectAssertionNaming([&] { conn.StartTransaction(); }, "TCRConnection.StartTransaction");
  ExpectAssertionNaming([&] { conn.Commit(); }, "TCRConnection.Commit");
  ExpectAssertionNaming([&] { conn.Rollback(); }, "TCRConnection.Rollback");
  ExpectAssertionNaming([&] { conn.CheckIsValid(); }, "TCRConnection.CheckIsValid");
  TCRCommand cmd;
  ExpectAssertionNaming([&] { cmd.Execute(); }, "TCRCommand.Execute");
  ExpectAssertionNaming([&] { cmd.GetPrepared(); }, "TCRCommand.GetPrepared");
  ExpectAssertionNaming([&] { cmd.GetCursorState(); }, "TCRCommand.GetCursorState");
  ExpectAssertionNaming([&] { cmd.Prepare(); }, "TCRCommand.SetCursorState");
}

class TStateCommand : public TCRCommand {
 public:
  TCursorState State = csInactive;
  TCursorState GetCursorState() override { return State; }
  void SetCursorState(TCursorState value) override { State = value; }
  void RunAndReport(bool executing) {
    SetExecuting(executing);
  }
};

TEST(CRCommandTest, PropertiesPrepareAndConnection) {
  TStateCommand cmd;
  EXPECT_TRUE(cmd.SetProp(prAutoCommit, true));
  EXPECT_TRUE(cmd.GetAutoCommit());
  EXPECT_TRUE(cmd.SetProp(prCommandNoEffect, false));
  EXPECT_TRUE(cmd.SetProp(prCommandNoEffect, "anything"));
  EXPECT_TRUE(cmd.GetAutoCommit());
  Variant v = true;
  EXPECT_TRUE(cmd.GetProp(prParamCheck, v));
  EXPECT_FALSE(v.AsBoolean());
  cmd.RunAndReport(true);
  EXPECT_TRUE(cmd.GetProp(prExecuting, v));
  EXPECT_TRUE(v.AsBoolean());
  ExpectAssertionNaming([&] { cmd.SetProp(prFetchRows, 25); }, "21");
  ExpectAssertionNaming([&] { cmd.GetProp(prAutoCommit, v); }, "5");

  cmd.Prepare();
  EXPECT_EQ(cmd.State, csPrepared);
  cmd.Unprepare();
  EXPECT_EQ(cmd.State, csInactive);
  TCRConnection conn;
  cmd.SetConnection(&conn);
  cmd.SetSQL("SELECT 1");
  EXPECT_EQ(cmd.GetConnection(), &conn);
  EXPECT_EQ(cmd.GetSQL(), "SELECT 1");
}

// ---- parameters -----------------------------------------------------------------------------

class TSizedParamDesc : public TParamDesc {};

class TSizedParamCommand : public TStateCommand {
 public:
  TParamDescClass GetParamDescClass() const override { return &CreateParamDescOf<TSizedParamDesc>; }
};

TEST(CRCommandTest, ParametersOfTheCommandsClass) {
  TSizedParamCommand cmd;
  TParamDesc* a = cmd.AddParam();
  TParamDesc* b = cmd.AddParam();
  a->SetName("a");
  b->SetName("b");
  EXPECT_NE(dynamic_cast<TSizedParamDesc*>(a), nullptr);
  EXPECT_EQ(cmd.GetParamCount(), 2);
  EXPECT_EQ(cmd.GetParam(1), b);
  EXPECT_EQ(cmd.Params().IndexOf(b), 1);
  cmd.DeleteParam(0);
  EXPECT_EQ(cmd.GetParamCount(), 1);
  EXPECT_EQ(cmd.GetParam(0)->GetName(), "b");
  EXPECT_THROW(cmd.GetParam(1), EListError);
  EXPECT_THROW(cmd.GetParam(-1), EListError);
  EXPECT_THROW(cmd.DeleteParam(3), EListError);
  cmd.Params().Clear();
  EXPECT_EQ(cmd.GetParamCount(), 0);
}

TEST(ParamDescTest, ValueAndNullState) {
  struct Case {
    const char* Name;
    Variant Value;
    bool Null;
  };
  const Case cases[] = {
      {"Null", Variant::Null(), true},
      {"Empty", Variant(), true},
      {"zero", Variant(0), false},
      {"empty string", Variant(""), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TParamDesc p;
    p.SetValue(c.Value);
    EXPECT_EQ(p.GetNull(), c.Null);
    EXPECT_EQ(p.GetValue().VarType(), c.Value.VarType());
  }
  TParamDesc p;
  EXPECT_EQ(p.GetDataType(), 0);
  p.SetValue(5);
  p.SetNull(false);
  EXPECT_TRUE(p.GetValue().IsEmpty());
  EXPECT_FALSE(p.GetNull());
  p.SetValue(5);
  p.SetNull(true);
  EXPECT_TRUE(p.GetValue().IsEmpty());
  EXPECT_TRUE(p.GetNull());
  p.SetDataType(13);
  p.SetParamType(3);
  p.SetSize(255);
  EXPECT_EQ(p.GetDataType(), 13);
  EXPECT_EQ(p.GetParamType(), 3);
  EXPECT_EQ(p.GetSize(), 255);
}

TEST(ParamDescTest, ObjectReferences) {
  TParamDesc p;
  EXPECT_EQ(p.GetObject(), nullptr);
  blobtest::Ref<TBlob> blob(new TBlob);
  p.SetObject(blob.p);
  EXPECT_EQ(p.GetValue().VarType(), 16384);
  EXPECT_EQ(p.GetObject(), blob.p);
  EXPECT_EQ(blob->RefCount(), 1) << "the parameter does not own the object";
  p.SetValue(Variant::Null());
  EXPECT_EQ(p.GetObject(), nullptr);
  p.SetValue(5);
  EXPECT_THROW(p.GetObject(), EAssertionFailed);
}

}  // namespace
