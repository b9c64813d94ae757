#include "core/CRAccess.h"

#include <string>
#include <utility>

#include "core/CRConnectionPool.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/SyncObjs.h"

namespace {

// An operation the provider class must supply was called on a class that left it out.
[[noreturn]] void RaiseAbstract(const char* operation, int line) {
  RaiseAssertion(__FILE__, line, operation, std::string("Abstract operation ") + operation + " called");
}

// Sets a flag for the lifetime of the guard, clearing it on every path out.
class TFlagGuard {
 public:
  explicit TFlagGuard(bool& flag) noexcept : FFlag(flag) { FFlag = true; }
  ~TFlagGuard() { FFlag = false; }
  TFlagGuard(const TFlagGuard&) = delete;
  TFlagGuard& operator=(const TFlagGuard&) = delete;

 private:
  bool& FFlag;
};

[[noreturn]] void RaiseListIndex(int index) {
  throw EListError(Format("List index out of bounds (%d)", {index}));
}

}  // namespace

void RaiseUnknownProp(int prop, const char* file, int line) {
  RaiseAssertion(file, line, "prop", IntToStr(prop));
}

// ---- TParamDesc -------------------------------------------------------------------------------

void TParamDesc::SetValue(const Variant& value) {
  FValue = value;
  FIsNull = value.IsEmpty() || value.IsNull();
}

TSharedObject* TParamDesc::GetObject() const {
  if (FValue.IsEmpty() || FValue.IsNull()) return nullptr;
  DA_ASSERT_MSG(FValue.IsObject(), "Parameter " + FName + " holds no object");
  return static_cast<TSharedObject*>(FValue.AsObject());
}

void TParamDesc::SetObject(TSharedObject* object) {
  FValue = Variant::FromObject(object);
  FIsNull = object == nullptr;  // never the null state of an earlier value
}

void TParamDesc::SetNull(bool value) {
  FIsNull = value;
  FValue = Variant();
}

// ---- TParamDescs ------------------------------------------------------------------------------

TParamDesc* TParamDescs::GetItems(int index) const {
  if (index < 0 || index >= Count()) RaiseListIndex(index);
  return FItems[static_cast<size_t>(index)].get();
}

TParamDesc* TParamDescs::Add(std::unique_ptr<TParamDesc> param) {
  DA_ASSERT(param != nullptr);
  FItems.push_back(std::move(param));
  return FItems.back().get();
}

void TParamDescs::Delete(int index) {
  if (index < 0 || index >= Count()) RaiseListIndex(index);
  FItems.erase(FItems.begin() + index);
}

int TParamDescs::IndexOf(const TParamDesc* param) const noexcept {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == param) return static_cast<int>(i);
  return -1;
}

// ---- TCRConnection ----------------------------------------------------------------------------

TCRConnection::TCRConnection() : FCreationTime(GetTickCount()) {}

TCRConnection::~TCRConnection() {
  if (FPool) FPool->ReleaseSlot();
}

void TCRConnection::ReturnToPool(std::unique_ptr<TCRConnection> connection) {
  DA_ASSERT(connection != nullptr && connection->FPool != nullptr);
  // The component that installed these may be gone before the connection is next handed out.
  connection->OnError = nullptr;
  connection->OnReconnectError = nullptr;
  connection->OnReconnectSuccess = nullptr;
  connection->FComponent = nullptr;
  std::shared_ptr<TCRConnectionPool> pool = connection->FPool;
  pool->PutConnection(std::move(connection));
}

void TCRConnection::Connect(const std::string&) {
  RaiseAbstract("TCRConnection.Connect", __LINE__);
}
void TCRConnection::Disconnect() {
  RaiseAbstract("TCRConnection.Disconnect", __LINE__);
}
void TCRConnection::StartTransaction() {
  RaiseAbstract("TCRConnection.StartTransaction", __LINE__);
}
void TCRConnection::Commit() {
  RaiseAbstract("TCRConnection.Commit", __LINE__);
}
void TCRConnection::Rollback() {
  RaiseAbstract("TCRConnection.Rollback", __LINE__);
}
bool TCRConnection::CheckIsValid() {
  RaiseAbstract("TCRConnection.CheckIsValid", __LINE__);
}

bool TCRConnection::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case prAutoCommit:
      FAutoCommit = value.AsBoolean();
      return true;
    case prConvertEOL:
      FConvertEOL = value.AsBoolean();
      return true;
    case prDisconnectedMode:
      FDisconnectedMode = value.AsBoolean();
      return true;
    default:
      RaiseUnknownProp(prop, __FILE__, __LINE__);
  }
}

bool TCRConnection::GetProp(int prop, Variant& value) {
  if (prop == prUsername) {
    value = FUsername;
    return true;
  }
  RaiseUnknownProp(prop, __FILE__, __LINE__);
}

void TCRConnection::DoError(EDAError& e, bool& fail) {
  TConnLostCause cause = clUnknown;
  for (int attempt = 0;; ++attempt) {
    if (FInProcessError) return;
    bool reconnect = attempt > 0;
    bool reexecute = false;
    if (OnError) {
      TFlagGuard inError(FInProcessError);
      OnError(e, fail, reconnect, reexecute, attempt, cause);
    }
    if (!reconnect) {
      if (attempt > 0 && !FReconnected) NotifyReconnectError();
      return;
    }
    if (TryReconnect(attempt)) {
      if (reexecute) throw EFailOver(cause);
      return;
    }
  }
}

bool TCRConnection::TryReconnect(int attempt) {
  FReconnected = false;
  TFlagGuard inError(FInProcessError);
  if (attempt == 0) {
    try {
      Disconnect();
    } catch (...) {
      // The session is being replaced: a failing close changes nothing.
    }
  }
  try {
    Connect(std::string());
    FReconnected = true;
    if (OnReconnectSuccess) OnReconnectSuccess();
  } catch (...) {
    // A failed reconnect is offered to OnError again as the next attempt.
  }
  return FReconnected;
}

void TCRConnection::NotifyReconnectError() {
  if (!OnReconnectError) return;
  // Reported as connected so that the owner's close runs its full disconnect.
  TFlagGuard inError(FInProcessError);
  TFlagGuard connected(FConnected);
  try {
    OnReconnectError();
  } catch (...) {
    // The error that brought us here is what the caller sees.
  }
}

// ---- TCRCommand -------------------------------------------------------------------------------

void TCRCommand::SetSQL(std::shared_ptr<const std::string> value) {
  FSQL = std::move(value);
}

const std::string& TCRCommand::GetSQL() const noexcept {
  static const std::string none;
  return FSQL != nullptr ? *FSQL : none;
}

void TCRCommand::Prepare() {
  SetCursorState(csPrepared);
}
void TCRCommand::Unprepare() {
  SetCursorState(csInactive);
}
bool TCRCommand::GetPrepared() {
  RaiseAbstract("TCRCommand.GetPrepared", __LINE__);
}
void TCRCommand::Execute() {
  RaiseAbstract("TCRCommand.Execute", __LINE__);
}
TCursorState TCRCommand::GetCursorState() {
  RaiseAbstract("TCRCommand.GetCursorState", __LINE__);
}
void TCRCommand::SetCursorState(TCursorState) {
  RaiseAbstract("TCRCommand.SetCursorState", __LINE__);
}

TParamDescClass TCRCommand::GetParamDescClass() const {
  return &CreateParamDescOf<TParamDesc>;
}

TParamDesc* TCRCommand::AddParam() {
  return FParams.Add(GetParamDescClass()());
}

bool TCRCommand::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case prAutoCommit:
      FAutoCommit = value.AsBoolean();
      return true;
    case prCommandNoEffect:
      return true;
    default:
      RaiseUnknownProp(prop, __FILE__, __LINE__);
  }
}

bool TCRCommand::GetProp(int prop, Variant& value) {
  switch (prop) {
    case prParamCheck:
      value = false;
      return true;
    case prExecuting:
      value = GetExecuting();
      return true;
    default:
      RaiseUnknownProp(prop, __FILE__, __LINE__);
  }
}
