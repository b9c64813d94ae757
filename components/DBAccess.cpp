#include "components/DBAccess.h"

#include <algorithm>

#include "components/DBAccessDataSet.h"
#include "components/DBAccessDialog.h"
#include "components/DBAccessSQL.h"
#include "core/CRConnectionPool.h"
#include "core/CRRecordSet.h"
#include "core/DAConsts.h"
#include "core/MemData.h"
#include "platform/runtime/Classes.h"

namespace {

// Brackets a provider call with the application's busy indication.
class TWaitScope {
 public:
  TWaitScope() { StartWait(); }
  ~TWaitScope() { StopWait(); }
  TWaitScope(const TWaitScope&) = delete;
  TWaitScope& operator=(const TWaitScope&) = delete;
};

[[noreturn]] void MustBeOverridden() {
  RaiseAssertion(__FILE__, __LINE__, "abstract", "Must be overrided");
}

}  // namespace

// ---- Options ------------------------------------------------------------------------------------

void TDAConnectionOptions::SetDisconnectedMode(bool value) {
  if (value == FDisconnectedMode) return;
  if (FOwner != nullptr) FOwner->Close();
  FDisconnectedMode = value;
  if (FOwner != nullptr && FOwner->IConnection() != nullptr)
    FOwner->IConnection()->SetProp(prDisconnectedMode, value);
}

void TDAConnectionOptions::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TDAConnectionOptions*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  KeepDesignConnected = other->KeepDesignConnected;
  SetDisconnectedMode(other->FDisconnectedMode);
  LocalFailover = other->LocalFailover;
}

void TPoolingOptions::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TPoolingOptions*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  MaxPoolSize = other->MaxPoolSize;
  MinPoolSize = other->MinPoolSize;
  ConnectionLifetime = other->ConnectionLifetime;
  Validate = other->Validate;
}

// ---- Life -----------------------------------------------------------------------------------------

TCustomDAConnection::TCustomDAConnection(TComponent* owner) : TCustomConnection(owner) {
  LoginPrompt = true;
  FOptions = CreateOptions();
  FPoolingOptions = CreatePoolingOptions();
}

TCustomDAConnection::~TCustomDAConnection() {
  try {
    Close();
  } catch (...) {
    // Going away: a failing close leaves nothing to report to.
  }
  std::vector<TCustomDASQL*> commands;
  {
    std::lock_guard<std::mutex> guard(FClientsLock);
    commands.swap(FCommands);
  }
  for (TCustomDASQL* c : commands) c->ConnectionGone(this);
  // Datasets are detached before the client list goes, so none keeps a pointer to this one.
  std::vector<TCustomDADataSet*> dataSets;
  for (int i = 0; i < DataSetCount(); ++i)
    if (auto* ds = dynamic_cast<TCustomDADataSet*>(DataSets(i))) dataSets.push_back(ds);
  for (TCustomDADataSet* ds : dataSets) ds->ConnectionGone(this);
  if (FConnectDialog != nullptr) FConnectDialog->ConnectionGone(this);
  ReleaseIConnection();
}

std::unique_ptr<TDAConnectionOptions> TCustomDAConnection::CreateOptions() {
  return std::make_unique<TDAConnectionOptions>(this);
}

std::unique_ptr<TPoolingOptions> TCustomDAConnection::CreatePoolingOptions() {
  return std::make_unique<TPoolingOptions>(this);
}

TCRConnectionClass TCustomDAConnection::GetIConnectionClass() const {
  MustBeOverridden();
}

TCRCommandClass TCustomDAConnection::GetICommandClass() const {
  MustBeOverridden();
}

TCRRecordSetClass TCustomDAConnection::GetIRecordSetClass() const {
  MustBeOverridden();
}

TCustomDAConnection::TConnectDialogClass TCustomDAConnection::ConnectDialogClass() const {
  return [](TComponent* owner) { return std::make_unique<TCustomConnectDialog>(owner); };
}

// ---- Provider connection --------------------------------------------------------------------------

void TCustomDAConnection::CreateIConnection() {
  if (FIConnection == nullptr) SetIConnection(GetIConnectionClass().Create());
}

void TCustomDAConnection::InstallCallbacks(TCRConnection& c) {
  c.OnError = [this](EDAError& e, bool& fail, bool& reconnect, bool& reexecute, int attempt,
                     TConnLostCause& cause) { DoError(e, fail, cause, attempt, reexecute, reconnect); };
  c.OnReconnectError = [this]() { Close(); };
  c.OnReconnectSuccess = [this]() {
    // A new session: no transaction of the old one survives it.
    FTransactionName.clear();
    if (AfterConnect) AfterConnect(this);
  };
}

void TCustomDAConnection::SetIConnection(std::unique_ptr<TCRConnection> value) {
  if (value == nullptr && !IsDestroying()) {
    for (TCustomDASQL* c : Commands()) c->SetIConnection(nullptr);
  }
  FIConnection = std::move(value);
  if (FIConnection == nullptr) return;
  FIConnection->SetComponent(this);
  InstallCallbacks(*FIConnection);
  FIConnection->SetProp(prConvertEOL, FConvertEOL);
  FIConnection->SetProp(prDisconnectedMode, FOptions->DisconnectedMode());
  for (TCustomDASQL* c : Commands()) c->SetIConnection(FIConnection.get());
}

void TCustomDAConnection::ReleaseIConnection() {
  if (FIConnection == nullptr) return;
  std::unique_ptr<TCRConnection> c = std::move(FIConnection);
  if (!IsDestroying())
    for (TCustomDASQL* command : Commands()) command->SetIConnection(nullptr);
  c->OnError = nullptr;
  c->OnReconnectError = nullptr;
  c->OnReconnectSuccess = nullptr;
  if (c->GetPool() != nullptr)
    TCRConnection::ReturnToPool(std::move(c));
  else
    c.reset();
}

// ---- Connecting ---------------------------------------------------------------------------------

bool TCustomDAConnection::GetConnected() const {
  return FIConnection != nullptr && FIConnection->GetConnected();
}

void TCustomDAConnection::SetConnected(bool value) {
  if (IsLoading()) {
    // Connected read from a form is applied when loading ends.
    if (value && (FOptions->KeepDesignConnected || IsDesigning())) TCustomConnection::SetConnected(true);
    return;
  }
  if (GetConnected() == value) return;
  if (!value) return PerformDisconnect();
  ++FConnectCount;
  try {
    if (NeedPrompt() && ConnectDialogClass() != nullptr)
      ConnectWithDialog();
    else
      PerformConnect();
  } catch (...) {
    if (!GetConnected() && FConnectCount > 0) --FConnectCount;
    throw;
  }
}

void TCustomDAConnection::ConnectWithDialog() {
  std::unique_ptr<TCustomConnectDialog> own;
  TCustomConnectDialog* dialog = FConnectDialog;
  if (dialog == nullptr) {
    own = ConnectDialogClass()(nullptr);
    dialog = own.get();
  }
  dialog->SetConnection(this);
  if (dialog->Execute()) return PerformConnect();
  // The caller's handler takes the use back.
  if (IsDesigning() || StreamedConnected()) throw EDatabaseError(MessageText(SCannotConnect));
  throw EAbort(std::string());
}

void TCustomDAConnection::PerformConnect() {
  TCustomConnection::SetConnected(true);
}

void TCustomDAConnection::DoConnect() {
  TDASQLMonitorClass monitor = SQLMonitorClass();
  TCustomDASQLMonitor::DBConnect(monitor, this, FUsername, FServer, false);
  CreateIConnection();
  RunOperation(clConnect, [this] {
    TWaitScope wait;
    FIConnection->SetUsername(FUsername);
    FIConnection->SetPassword(FPassword);
    FIConnection->SetServer(FServer);
    FIConnection->Connect(std::string());
  });
  TCustomDASQLMonitor::DBConnect(monitor, this, FUsername, FServer, true);
}

void TCustomDAConnection::PerformDisconnect() {
  FConnectCount = 0;
  FPromptAllowed = true;
  try {
    TCustomConnection::SetConnected(false);
  } catch (EDAError& e) {
    // A lost session cannot end its transaction: the close is repeated without it.
    if (!IsFatalError(e)) throw;
    FTransactionName.clear();
    if (GetConnected()) DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(this);
  }
  FTransactionName.clear();
}

void TCustomDAConnection::DoDisconnect() {
  if (InTransaction() && !FInProcessDisconnecting && GetConnected()) {
    if (CommitOnDisconnect())
      Commit();
    else
      Rollback();
  }
  if (!GetConnected()) return;
  // Statements prepared on the session go with it (datasets did so when told of the close).
  for (TCustomDASQL* c : Commands()) c->SessionEnding();
  TDASQLMonitorClass monitor = SQLMonitorClass();
  TCustomDASQLMonitor::DBDisconnect(monitor, this, FUsername, FServer, false);
  if (FIConnection->GetPool() != nullptr) {
    ReleaseIConnection();
  } else {
    // A failed close still leaves the session unusable: it counts as closed.
    try {
      FIConnection->Disconnect();
    } catch (EDAError& e) {
      if (!IsFatalError(e)) throw;
    }
  }
  TCustomDASQLMonitor::DBDisconnect(monitor, this, FUsername, FServer, true);
}

bool TCustomDAConnection::NeedPrompt() const {
  if (!LoginPrompt && (!IsDesigning() || (!FUsername.empty() && !FPassword.empty()))) return false;
  if (!IsDesigning()) return true;
  return !IsLoading() && !StreamedConnected();
}

void TCustomDAConnection::InternalConnect() {
  const int stored = FConnectCount;
  const bool storedPrompt = LoginPrompt;
  ++FConnectCount;
  LoginPrompt = LoginPrompt && FPromptAllowed;
  try {
    SetConnected(true);
  } catch (...) {
    // No use is taken when the connection could not be opened.
    FConnectCount = stored;
    LoginPrompt = storedPrompt;
    throw;
  }
  FConnectCount = stored + 1;
  LoginPrompt = storedPrompt;
  FPromptAllowed = !GetConnected();
}

void TCustomDAConnection::InternalDisconnect() {
  if (FConnectCount > 0) --FConnectCount;
  if (FConnectCount == 0 && FOptions->DisconnectedMode() && !InTransaction()) Close();
  FPromptAllowed = false;
}

// ---- Settings -----------------------------------------------------------------------------------

void TCustomDAConnection::SetUsername(const std::string& value) {
  if (value == FUsername) return;
  Close();
  FUsername = value;
}

void TCustomDAConnection::SetPassword(const std::string& value) {
  if (value == FPassword) return;
  Close();
  FPassword = value;
}

void TCustomDAConnection::SetServer(const std::string& value) {
  if (value == FServer) return;
  Close();
  FServer = value;
}

void TCustomDAConnection::SetConvertEOL(bool value) {
  FConvertEOL = value;
  if (FIConnection != nullptr) FIConnection->SetProp(prConvertEOL, value);
}

void TCustomDAConnection::SetPooling(bool value) {
  if (value == FPooling) return;
  Close();
  ReleaseIConnection();
  FPooling = value;
}

void TCustomDAConnection::SetConnectDialog(TCustomConnectDialog* value) {
  if (value == FConnectDialog) return;
  if (FConnectDialog != nullptr) {
    RemoveFreeNotification(FConnectDialog);
    if (FConnectDialog->Connection() == this) FConnectDialog->SetConnection(nullptr);
  }
  FConnectDialog = value;
  if (value != nullptr) {
    FreeNotification(value);
    value->SetConnection(this);
  }
}

void TCustomDAConnection::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TCustomDAConnection*>(source);
  if (other == nullptr) return TCustomConnection::Assign(source);
  SetUsername(other->FUsername);
  SetPassword(other->FPassword);
  SetServer(other->FServer);
  LoginPrompt = other->LoginPrompt;
  FPoolingOptions->Assign(other->FPoolingOptions.get());
  SetPooling(other->FPooling);
  SetConnectDialog(other->FConnectDialog);
  OnError = other->OnError;
  SetConvertEOL(other->FConvertEOL);
  FOptions->Assign(other->FOptions.get());
  FAutoCommit = other->FAutoCommit;
  BeforeConnect = other->BeforeConnect;
  AfterConnect = other->AfterConnect;
  BeforeDisconnect = other->BeforeDisconnect;
  AfterDisconnect = other->AfterDisconnect;
}

void TCustomDAConnection::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove) {
    if (component == FConnectDialog) FConnectDialog = nullptr;
    std::lock_guard<std::mutex> guard(FClientsLock);
    FCommands.erase(std::remove(FCommands.begin(), FCommands.end(), component), FCommands.end());
  }
  TCustomConnection::Notification(component, operation);
}

// ---- Clients ------------------------------------------------------------------------------------

void TCustomDAConnection::RegisterClient(TComponent* client, TConnectChangeEvent event) {
  std::lock_guard<std::mutex> guard(FClientsLock);
  if (auto* command = dynamic_cast<TCustomDASQL*>(client))
    if (std::find(FCommands.begin(), FCommands.end(), command) == FCommands.end())
      FCommands.push_back(command);
  TCustomConnection::RegisterClient(client, std::move(event));
}

void TCustomDAConnection::UnRegisterClient(TComponent* client) {
  std::lock_guard<std::mutex> guard(FClientsLock);
  FCommands.erase(std::remove(FCommands.begin(), FCommands.end(), client), FCommands.end());
  TCustomConnection::UnRegisterClient(client);
}

std::vector<TCustomDASQL*> TCustomDAConnection::Commands() const {
  std::lock_guard<std::mutex> guard(FClientsLock);
  return FCommands;
}

std::unique_ptr<TCustomDADataSet> TCustomDAConnection::CreateDataSet() {
  auto dataSet = std::make_unique<TCustomDADataSet>(nullptr);
  dataSet->SetConnection(this);
  return dataSet;
}

std::unique_ptr<TCustomDASQL> TCustomDAConnection::CreateSQL() {
  auto sql = std::make_unique<TCustomDASQL>(nullptr);
  sql->SetConnection(this);
  return sql;
}

void TCustomDAConnection::GetTableNames(TStringList& list) {
  list.Clear();
}

void TCustomDAConnection::GetDatabaseNames(TStringList& list) {
  list.Clear();
}

void TCustomDAConnection::GetStoredProcNames(TStringList& list) {
  list.Clear();
}

// ---- Transactions -------------------------------------------------------------------------------

void TCustomDAConnection::StartTransaction() {
  if (FOptions->DisconnectedMode()) InternalConnect();
  try {
    if (!GetConnected()) throw EDatabaseError(MessageText(SConnectionClosed));
    if (InTransaction()) throw EDatabaseError(MessageText(STransactionInProgress));
    TDASQLMonitorClass monitor = SQLMonitorClass();
    TCustomDASQLMonitor::TRStart(monitor, this, FUsername, FServer, false);
    RunOperation(clTransStart, [this] {
      DoStartTransaction();
      FIConnection->SetProp(prAutoCommit, false);
    });
    TCustomDASQLMonitor::TRStart(monitor, this, FUsername, FServer, true);
  } catch (...) {
    // The use taken for the transaction goes back when it never started.
    if (FOptions->DisconnectedMode() && !InTransaction()) InternalDisconnect();
    throw;
  }
}

void TCustomDAConnection::DoStartTransaction() {
  FIConnection->StartTransaction();
  FTransactionName = "Local";
}

void TCustomDAConnection::Commit() {
  if (!GetConnected()) throw EDatabaseError(MessageText(SConnectionClosed));
  const bool wasInTransaction = InTransaction();
  TDASQLMonitorClass monitor = SQLMonitorClass();
  TCustomDASQLMonitor::TRCommit(monitor, this, FUsername, FServer, false);
  FIConnection->Commit();
  FTransactionName.clear();
  FIConnection->SetProp(prAutoCommit, FAutoCommit);
  TCustomDASQLMonitor::TRCommit(monitor, this, FUsername, FServer, true);
  if (wasInTransaction && FOptions->DisconnectedMode()) InternalDisconnect();
}

void TCustomDAConnection::Rollback() {
  if (!GetConnected()) throw EDatabaseError(MessageText(SConnectionClosed));
  const bool wasInTransaction = InTransaction();
  TDASQLMonitorClass monitor = SQLMonitorClass();
  TCustomDASQLMonitor::TRRollback(monitor, this, FUsername, FServer, false);
  FIConnection->Rollback();
  FTransactionName.clear();
  FIConnection->SetProp(prAutoCommit, FAutoCommit);
  TCustomDASQLMonitor::TRRollback(monitor, this, FUsername, FServer, true);
  if (wasInTransaction && FOptions->DisconnectedMode()) InternalDisconnect();
}

void TCustomDAConnection::ApplyUpdates(const std::vector<IDAUpdatesApplier*>& dataSets) {
  RunOperation(clConnectionApply, [&] {
    for (;;) {
      try {
        ApplyUpdatesOnce(dataSets);
        return;
      } catch (const EFailOver&) {
        // Reconnected: the whole sequence runs again over what the attempt left pending.
      }
    }
  });
}

void TCustomDAConnection::ApplyUpdates() {
  std::vector<IDAUpdatesApplier*> dataSets;
  for (int i = 0; i < DataSetCount(); ++i)
    if (auto* d = dynamic_cast<IDAUpdatesApplier*>(DataSets(i))) dataSets.push_back(d);
  ApplyUpdates(dataSets);
}

void TCustomDAConnection::ApplyUpdatesOnce(const std::vector<IDAUpdatesApplier*>& dataSets) {
  for (IDAUpdatesApplier* d : dataSets)
    if (d->UpdatesConnection() != this)
      throw EDatabaseError(MessageFmt(SDataSetNotOwned, {d->UpdatesName(), Name()}));
  // Asked before anything is written: once an attempt failed the session may be gone.
  std::vector<IDAUpdatesApplier*> kept;
  for (IDAUpdatesApplier* d : dataSets)
    if (d->HasCachedUpdates() && d->WritesSurviveRollback()) kept.push_back(d);
  StartTransaction();
  FApplyingUpdates = true;
  try {
    for (IDAUpdatesApplier* d : dataSets)
      if (d->HasCachedUpdates()) d->ApplyCachedUpdates();
    Commit();
    FApplyingUpdates = false;
  } catch (const EFailOver&) {
    FApplyingUpdates = false;
    SettleFailedApply(dataSets, kept);
    throw;
  } catch (...) {
    FApplyingUpdates = false;
    bool leftWrites = true;  // a session gone without a rollback keeps all such writes
    if (GetConnected() && InTransaction()) {
      try {
        Rollback();
        leftWrites = RollbackLeftWrites();
        // Asked again on the live session: a table may have changed its engine since it was read.
        if (leftWrites) {
          std::vector<IDAUpdatesApplier*> now;
          for (IDAUpdatesApplier* d : dataSets)
            if (d->HasCachedUpdates() && d->WritesSurviveRollback()) now.push_back(d);
          kept = std::move(now);
        }
      } catch (...) {
        // The apply's error is the one reported; what was read before the attempt decides.
      }
    }
    if (!leftWrites) kept.clear();
    SettleFailedApply(dataSets, kept);
    throw;
  }
  for (IDAUpdatesApplier* d : dataSets)
    if (d->HasCachedUpdates()) d->CommitCachedUpdates();
}

// A table without transactions keeps what the attempt wrote to it: those changes are committed
// in the cache, so that the next attempt does not write them again. Everything else the attempt
// marked applied was rolled back (or never committed) and is pending again.
void TCustomDAConnection::SettleFailedApply(const std::vector<IDAUpdatesApplier*>& dataSets,
                                            const std::vector<IDAUpdatesApplier*>& kept) {
  for (IDAUpdatesApplier* d : kept)
    if (d->HasCachedUpdates()) d->KeepAppliedCachedUpdates();
  for (IDAUpdatesApplier* d : dataSets)
    if (d->HasCachedUpdates()) d->RestoreCachedUpdates();
}

// ---- Operations and the error path ----------------------------------------------------------------

void TCustomDAConnection::PushOperation(TConnLostCause operation, int flag) {
  if (!FOptions->LocalFailover) return;
  if (FOperations.size() == FOperations.capacity()) FOperations.reserve(FOperations.size() + 50);
  FOperations.emplace_back(operation, flag);
}

void TCustomDAConnection::PopOperation() {
  if (FOptions->LocalFailover && !FOperations.empty()) FOperations.pop_back();
}

void TCustomDAConnection::OperationEnded(bool failover) {
  // The repeat allowance lasts until the outermost operation ends other than by the repeat.
  if (FOperationDepth == 0 && !failover) FFailoverUsed = false;
}

// The provider reconnects underneath this component, so the uses of the operations still running
// are kept as they are.
TConnLostCause TCustomDAConnection::DetectConnLostCause(TComponent* component) {
  TConnLostCause result = clUnknown;
  int flag = 1;
  for (auto it = FOperations.rbegin(); it != FOperations.rend(); ++it) {
    if (it->first > result) {
      result = it->first;
      flag = it->second;
    }
    if (it->first == clConnectionApply) {
      auto* applier = dynamic_cast<IDAUpdatesApplier*>(component);
      if (applier != nullptr && applier->IsApplyingUpdates()) return clUnknown;
      break;
    }
  }
  return flag == 0 ? clUnknown : result;
}

bool TCustomDAConnection::HoldsServerState(TComponent* client, TComponent* failed, TConnLostCause cause) {
  if (auto* dataSet = dynamic_cast<TCustomDADataSet*>(client)) {
    if (dataSet->CRRecordSet() == nullptr) return false;
    if (dataSet->Prepared()) return true;
    // Rows still unread on the session go with it; a refresh of that very dataset reads them anew.
    if (cause == clRefresh && client == failed) return false;
    return dataSet->Active() && RowsPendingOnSession(*dataSet);
  }
  auto* command = dynamic_cast<TCustomDASQL*>(client);
  return command != nullptr && command->Prepared() && !command->Executing();
}

bool TCustomDAConnection::RowsPendingOnSession(TCustomDADataSet& dataSet) {
  TCRRecordSet* recordSet = dataSet.CRRecordSet();
  return recordSet != nullptr && !recordSet->IsAllFetched();
}

void TCustomDAConnection::DoError(EDAError& e, bool& fail, TConnLostCause& cause, int attempt,
                                  bool& reconnectExecute, bool& reconnect) {
  cause = clUnknown;
  TCustomDASQLMonitor::DBError(SQLMonitorClass(), this, e, false);
  const bool fatal = IsFatalError(e);
  const bool failover = FOptions->LocalFailover;
  reconnect = false;
  if (fatal) {
    cause = DetectConnLostCause(e.Component);
    const bool outsideTransaction = !InTransaction() || cause == clConnectionApply;
    const bool mayReconnect =
        GetConnected() || (attempt > 0 && failover && attempt < MaxReconnectAttempts) ||
        (cause == clConnect && FOptions->DisconnectedMode() && attempt < MaxReconnectAttempts);
    reconnect = outsideTransaction && mayReconnect;
    for (int i = 0; reconnect && i < DataSetCount(); ++i)
      if (HoldsServerState(DataSets(i), e.Component, cause)) reconnect = false;
    for (TCustomDASQL* client : Commands())
      if (reconnect && HoldsServerState(client, e.Component, cause)) reconnect = false;
  }
  if (reconnect && failover) {
    TRetryMode retry = cause == clUnknown || cause == clExecute ? rmRaise : rmReconnectExecute;
    if (OnConnectionLost) OnConnectionLost(this, e.Component, cause, retry);
    reconnect = retry > rmRaise;
    reconnectExecute =
        (retry == rmReconnectExecute && cause != clUnknown) || (cause == clConnect && retry >= rmReconnect);
    // An operation is repeated once: a statement that itself drops the connection would
    // otherwise be sent again after every reconnect.
    if (reconnectExecute && attempt == 0 && FFailoverUsed && cause != clConnect) reconnectExecute = false;
    if (reconnectExecute) FFailoverUsed = true;
    fail = !reconnectExecute;
  }
  if (!(failover && reconnect) && OnError) OnError(this, e, fail);
  if (fatal && FIConnection != nullptr && FIConnection->GetPool() != nullptr)
    FIConnection->GetPool()->Invalidate();
  if (fatal && attempt == 0 && !reconnect && !FInProcessDisconnecting) {
    FInProcessDisconnecting = true;
    try {
      Close();
    } catch (...) {
      FInProcessDisconnecting = false;
      throw;
    }
    FInProcessDisconnecting = false;
  }
}
