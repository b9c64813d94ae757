// A provider that runs nothing: a connection and a command that record what the components ask of
// them and fail on request, and a connection component made of them.
#pragma once

#include <string>
#include <vector>

#include "components/DBAccess.h"
#include "components/DBAccessSQL.h"
#include "core/CRAccess.h"

// The server error codes the fake treats as a lost connection.
inline constexpr int FakeLostConnection = 2013;

struct FakeLog {
  std::vector<std::string> Events;
  // Errors the next executions raise, first first; 0 means success.
  std::vector<int> ExecuteErrors;
  int ConnectFailures = 0;  // connects that fail before one succeeds
  bool CallAfterExecuteOnError = true;
};

inline FakeLog& Fake() {
  static FakeLog log;
  return log;
}

class FakeConnection : public TCRConnection {
 public:
  ~FakeConnection() override { FConnected = false; }
  void Connect(const std::string&) override {
    Fake().Events.push_back("connect");
    if (Fake().ConnectFailures > 0) {
      --Fake().ConnectFailures;
      throw EDAError(2003, "Can't connect");
    }
    FConnected = true;
  }
  void Disconnect() override {
    Fake().Events.push_back("disconnect");
    FConnected = false;
  }
  void StartTransaction() override { Fake().Events.push_back("start"); }
  void Commit() override { Fake().Events.push_back("commit"); }
  void Rollback() override { Fake().Events.push_back("rollback"); }
  bool CheckIsValid() override { return FIsValid; }
};

class FakeCommand : public TCRCommand {
 public:
  bool GetPrepared() override { return FPrepared; }
  void Prepare() override { FPrepared = true; }
  void Unprepare() override { FPrepared = false; }
  TCursorState GetCursorState() override { return FState; }
  void SetCursorState(TCursorState value) override { FState = value; }
  bool GetProp(int prop, Variant& value) override {
    if (prop == prRowsAffected) {
      value = Variant(Rows);
      return true;
    }
    return TCRCommand::GetProp(prop, value);
  }

  void Execute() override {
    std::string line = "execute " + GetSQL();
    for (int i = 0; i < GetParamCount(); ++i)
      line += " " + GetParam(i)->GetName() + "=" +
              (GetParam(i)->GetNull() ? "null" : GetParam(i)->GetValue().AsString());
    Fake().Events.push_back(line);
    int error = 0;
    if (!Fake().ExecuteErrors.empty()) {
      error = Fake().ExecuteErrors.front();
      Fake().ExecuteErrors.erase(Fake().ExecuteErrors.begin());
    }
    if (error == 0) {
      Rows = 1;
      if (AfterExecute) AfterExecute(true);
      return;
    }
    try {
      EDAError e(error, "error " + std::to_string(error));
      e.Component = GetComponent();
      bool fail = true;
      if (FConnection != nullptr) FConnection->DoError(e, fail);
      throw e;
    } catch (...) {
      if (Fake().CallAfterExecuteOnError && AfterExecute) AfterExecute(false);
      throw;
    }
  }

  int Rows = 0;

 private:
  bool FPrepared = false;
  TCursorState FState = csInactive;
};

class FakeDAConnection : public TCustomDAConnection {
 public:
  explicit FakeDAConnection(TComponent* owner = nullptr) : TCustomDAConnection(owner) { LoginPrompt = false; }
  TCRConnectionClass GetIConnectionClass() const override {
    return ProviderClassOf<FakeConnection, TCRConnection>();
  }
  TCRCommandClass GetICommandClass() const override { return ProviderClassOf<FakeCommand, TCRCommand>(); }
  bool IsFatalError(const EDAError& e) const override { return e.ErrorCode == FakeLostConnection; }
};
