#include "core/CRAccess.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "BlobTestSupport.h"
#include "core/MemBlob.h"

namespace {

// A connection whose session calls are logged; Connect fails the first FailingConnects times.
class TLoggingConnection : public TCRConnection {
 public:
  std::string Log;
  int FailingConnects = 0;
  bool DisconnectFails = false;

  void Connect(const std::string&) override {
    Log += "Connect,";
    if (FailingConnects > 0) {
      --FailingConnects;
      throw EDAError(2003, "Can't connect");
    }
    FConnected = true;
  }
  void Disconnect() override {
    Log += "Disconnect,";
    FConnected = false;
    if (DisconnectFails) throw EDAError(2013, "Lost connection");
  }
};

TEST(CRConnectionDoErrorTest, FollowsTheCallbacksPolicy) {
  const struct {
    const char* name;
    // Reconnect and re-execute as OnError answers them on each call (the last repeats); none: no OnError.
    std::vector<std::pair<bool, bool>> answers;
    int failingConnects;
    bool disconnectFails, successCallbackFails;
    std::string log;
    bool failOver;
  } cases[] = {
      {"no callback: nothing happens", {}, 0, false, false, "", false},
      {"plain report", {{false, false}}, 0, false, false, "OnError 0,", false},
      {"reconnect and re-execute",
       {{true, true}},
       0,
       false,
       false,
       "OnError 0,Disconnect,Connect,OnReconnectSuccess,",
       true},
      {"reconnect without re-execute",
       {{true, false}},
       0,
       false,
       false,
       "OnError 0,Disconnect,Connect,OnReconnectSuccess,",
       false},
      {"failing close and failing success handler are swallowed",
       {{true, true}},
       0,
       true,
       true,
       "OnError 0,Disconnect,Connect,OnReconnectSuccess,",
       true},
      {"failing reconnects until the callback gives up",
       {{true, true}, {true, true}, {true, true}, {false, false}},
       10,
       false,
       false,
       "OnError 0,Disconnect,Connect,OnError 1,Connect,OnError 2,Connect,OnError 3,"
       "OnReconnectError connected=1,",
       false},
      {"a later reconnect succeeds",
       {{true, true}},
       2,
       false,
       false,
       "OnError 0,Disconnect,Connect,OnError 1,Connect,OnError 2,Connect,OnReconnectSuccess,",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TLoggingConnection conn;
    conn.FailingConnects = c.failingConnects;
    conn.DisconnectFails = c.disconnectFails;
    if (!c.answers.empty()) {
      conn.OnError = [&](EDAError& e, bool& fail, bool& reconnect, bool& reexecute, int attempt,
                         TConnLostCause& cause) {
        EXPECT_EQ(e.ErrorCode, 2013);
        EXPECT_EQ(reconnect, attempt > 0) << "Reconnect starts true from the second call on";
        EXPECT_FALSE(reexecute);
        conn.Log += "OnError " + std::to_string(attempt) + ",";
        std::tie(reconnect, reexecute) = c.answers[std::min<size_t>(attempt, c.answers.size() - 1)];
        fail = false;
        cause = clOpen;
      };
    }
    conn.OnReconnectSuccess = [&] {
      conn.Log += "OnReconnectSuccess,";
      if (c.successCallbackFails) throw Exception("handler failed");
    };
    conn.OnReconnectError = [&] {
      conn.Log += std::string("OnReconnectError connected=") + (conn.GetConnected() ? "1," : "0,");
      throw Exception("close failed");  // swallowed
    };
    EDAError error(2013, "Lost connection to MySQL server during query");
    bool fail = true;
    if (c.failOver) {
      EXPECT_THAT([&] { conn.DoError(error, fail); },
                  testing::Throws<EFailOver>(testing::Field(&EFailOver::ConnLostCause, clOpen)));
    } else {
      EXPECT_NO_THROW(conn.DoError(error, fail));
    }
    EXPECT_EQ(conn.Log, c.log);
    EXPECT_EQ(fail, c.answers.empty()) << "the callback cleared Fail";
    EXPECT_EQ(conn.GetConnected(), c.log.ends_with("OnReconnectSuccess,"));  // closed after giving up
    conn.OnError = nullptr;  // the connection is usable for the next error: no flag was left set
    conn.Log.clear();
    EXPECT_NO_THROW(conn.DoError(error, fail));
    EXPECT_EQ(conn.Log, "");
  }
}

TEST(CRConnectionDoErrorTest, NestedCallsReturnAtOnceAndACallbacksExceptionClearsTheFlag) {
  TLoggingConnection conn;
  int calls = 0;
  bool raise = false;
  conn.OnError = [&](EDAError& e, bool& fail, bool& reconnect, bool&, int, TConnLostCause&) {
    ++calls;
    if (raise) throw EAbort("stop");
    conn.DoError(e, fail);  // e.g. an error raised while the handler closes a dataset
    reconnect = true;
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
  raise = true;
  EXPECT_THROW(conn.DoError(error, fail), EAbort);
  EXPECT_THROW(conn.DoError(error, fail), EAbort);
  EXPECT_EQ(calls, 3);
}

auto AssertionNaming(const std::string& text) {
  return testing::ThrowsMessage<EAssertionFailed>(testing::HasSubstr(text));
}

TEST(CRConnectionTest, PropertiesUnknownIdsAndOperationsAProviderMustSupply) {
  TCRConnection conn;
  conn.SetUsername("gm");
  EXPECT_TRUE(conn.SetProp(prConvertEOL, true));
  EXPECT_TRUE(conn.GetConvertEOL());
  Variant v;
  EXPECT_TRUE(conn.GetProp(prUsername, v));
  EXPECT_EQ(v.AsString(), "gm");
  EXPECT_THAT([&] { conn.SetProp(1000, 1); }, AssertionNaming("1000"));
  EXPECT_THAT([&] { conn.SetProp(prUsername, "x"); }, AssertionNaming("1"));
  EXPECT_THAT([&] { conn.GetProp(prAutoCommit, v); }, AssertionNaming("5"));
  TCRCommand cmd;
  EXPECT_THAT([&] { cmd.SetProp(prFetchRows, 25); }, AssertionNaming("21"));
  EXPECT_THAT([&] { cmd.GetProp(prAutoCommit, v); }, AssertionNaming("5"));
  const std::pair<const char*, std::function<void()>> abstract[] = {
      {"TCRConnection.Connect", [&] { conn.Connect(""); }},
      {"TCRConnection.Commit", [&] { conn.Commit(); }},
      {"TCRConnection.CheckIsValid", [&] { conn.CheckIsValid(); }},
      {"TCRCommand.Execute", [&] { cmd.Execute(); }},
      {"TCRCommand.SetCursorState", [&] { cmd.Prepare(); }},
  };
  for (const auto& [name, call] : abstract) EXPECT_THAT(call, AssertionNaming(name));
}

class TSizedParamDesc : public TParamDesc {};

class TSizedParamCommand : public TCRCommand {
 public:
  TParamDescClass GetParamDescClass() const override { return &CreateParamDescOf<TSizedParamDesc>; }
};

TEST(CRCommandTest, ParametersOfTheCommandsClass) {
  TSizedParamCommand cmd;
  TParamDesc* a = cmd.AddParam();
  TParamDesc* b = cmd.AddParam();
  b->SetName("b");
  EXPECT_NE(dynamic_cast<TSizedParamDesc*>(a), nullptr);
  cmd.DeleteParam(0);
  EXPECT_EQ(cmd.GetParamCount(), 1);
  EXPECT_EQ(cmd.GetParam(0)->GetName(), "b");
  EXPECT_THROW(cmd.GetParam(1), EListError);
  EXPECT_THROW(cmd.GetParam(-1), EListError);
  EXPECT_THROW(cmd.DeleteParam(3), EListError);
}

}  // namespace
