// Unit DBAccess: the server-neutral connection component. TCustomDAConnection owns one provider
// connection (core/CRAccess.h) made through a class factory, keeps the commands and datasets that
// use it, counts implicit uses so that it can disconnect between operations in disconnected mode,
// runs the user transaction ("Local"), and decides after a server error whether to reconnect and
// repeat the failed operation (failover).
//
// The other parts of the unit: components/DBAccessText.h (SQL text), DBAccessParams.h,
// DBAccessMacros.h, DBAccessSQL.h (the command) and DBAccessDialog.h (the connect dialog).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

#include "components/DASQLMonitor.h"
#include "core/CRAccess.h"
#include "core/DAConsts.h"
#include "core/DAError.h"
#include "platform/db/Connection.h"
#include "platform/runtime/Components.h"

class TCRRecordSet;
class TCustomConnectDialog;
class TCustomDAConnection;
class TCustomDADataSet;
class TCustomDASQL;
class TStringList;

// A provider class chosen at run time: creates objects of one class and recognises them.
template <class Base>
struct TProviderClass {
  const std::type_info* Type = nullptr;
  std::unique_ptr<Base> (*Create)() = nullptr;

  explicit operator bool() const noexcept { return Create != nullptr; }
  bool IsClassOf(const Base* object) const {
    return object != nullptr && Type != nullptr && typeid(*object) == *Type;
  }
};
using TCRConnectionClass = TProviderClass<TCRConnection>;
using TCRCommandClass = TProviderClass<TCRCommand>;
using TCRRecordSetClass = TProviderClass<TCRRecordSet>;

template <class T, class Base>
TProviderClass<Base> ProviderClassOf() {
  return TProviderClass<Base>{&typeid(T), []() -> std::unique_ptr<Base> { return std::make_unique<T>(); }};
}

enum TRetryMode : uint8_t { rmRaise, rmReconnect, rmReconnectExecute };

// What the connection needs of a dataset to apply its cached updates inside one transaction
// (ApplyUpdates). The query dataset implements it.
class IDAUpdatesApplier {
 public:
  virtual ~IDAUpdatesApplier() = default;
  virtual TCustomDAConnection* UpdatesConnection() = 0;
  virtual std::string UpdatesName() = 0;
  // Open and in cached-updates mode.
  virtual bool HasCachedUpdates() = 0;
  // Sends the pending changes, marking each applied.
  virtual void ApplyCachedUpdates() = 0;
  // Forgets the applied changes once the transaction committed.
  virtual void CommitCachedUpdates() = 0;
  // Changes marked applied by an attempt that did not commit become pending again.
  virtual void RestoreCachedUpdates() = 0;
  // Whether what the dataset writes stays written when the transaction is rolled back (its table
  // is of an engine without transactions). Asked before the transaction starts; may read the
  // server. False when not known.
  virtual bool WritesSurviveRollback() { return false; }
  // After a failed attempt, asked only where WritesSurviveRollback answered true: the changes
  // marked applied are on the server for good and are forgotten as a commit forgets them; the
  // others stay pending.
  virtual void KeepAppliedCachedUpdates() {}
  // Inside ApplyCachedUpdates.
  virtual bool IsApplyingUpdates() = 0;
};

class TDAConnectionOptions : public TPersistent {
 public:
  explicit TDAConnectionOptions(TCustomDAConnection* owner) : FOwner(owner) {}

  bool KeepDesignConnected = true;
  bool DisconnectedMode() const noexcept { return FDisconnectedMode; }
  // A change closes the connection first.
  void SetDisconnectedMode(bool value);
  bool LocalFailover = false;

  void Assign(TPersistent* source) override;

 protected:
  TCustomDAConnection* FOwner;
  bool FDisconnectedMode = false;
};

class TPoolingOptions : public TPersistent {
 public:
  explicit TPoolingOptions(TCustomDAConnection* owner) : FOwner(owner) {}
  int MaxPoolSize = 100;
  int MinPoolSize = 0;
  int ConnectionLifetime = 0;
  bool Validate = false;
  void Assign(TPersistent* source) override;

 protected:
  TCustomDAConnection* FOwner;
};

using TDAConnectionErrorEvent = std::function<void(TComponent* sender, EDAError& e, bool& fail)>;
using TConnectionLostEvent = std::function<void(TComponent* sender, TComponent* component,
                                                TConnLostCause cause, TRetryMode& retryMode)>;

class TCustomDAConnection : public TCustomConnection {
 public:
  explicit TCustomDAConnection(TComponent* owner = nullptr);
  // Closes the connection, detaches every command and dataset and releases the provider
  // connection.
  ~TCustomDAConnection() override;

  // ---- Connecting ----
  bool GetConnected() const override;
  // Connects (BeforeConnect, the login dialog when one is needed, DoConnect, AfterConnect) or
  // disconnects (BeforeDisconnect, DoDisconnect, AfterDisconnect). A cancelled login raises EAbort
  // at run time; errors of the provider propagate with the use count restored.
  void SetConnected(bool value) override;

  // The implicit-use pair around every execution, open, script run and dump: InternalConnect
  // takes one use and opens the connection when needed (a failed open takes none);
  // InternalDisconnect gives one back (never below 0) and, in disconnected mode, closes the
  // connection when the last use went and no transaction runs.
  virtual void InternalConnect();
  virtual void InternalDisconnect();
  int ConnectCount() const noexcept { return FConnectCount; }

  TDAConnectionErrorEvent OnError;
  TConnectionLostEvent OnConnectionLost;

  // ---- Settings (a different value closes the connection first) ----
  const std::string& Username() const noexcept { return FUsername; }
  void SetUsername(const std::string& value);
  const std::string& Password() const noexcept { return FPassword; }
  void SetPassword(const std::string& value);
  const std::string& Server() const noexcept { return FServer; }
  virtual void SetServer(const std::string& value);
  bool AutoCommit() const noexcept { return FAutoCommit; }
  void SetAutoCommit(bool value) { FAutoCommit = value; }
  bool ConvertEOL() const noexcept { return FConvertEOL; }
  void SetConvertEOL(bool value);
  bool Pooling() const noexcept { return FPooling; }
  // A change closes the connection and releases the provider connection.
  void SetPooling(bool value);
  TDAConnectionOptions& Options() const { return *FOptions; }
  TPoolingOptions& PoolingOptions() const { return *FPoolingOptions; }
  void SetPoolingOptions(TPoolingOptions& value) { FPoolingOptions->Assign(&value); }
  TCustomConnectDialog* ConnectDialog() const noexcept { return FConnectDialog; }
  void SetConnectDialog(TCustomConnectDialog* value);

  void Assign(TPersistent* source) override;

  // ---- Transactions ----
  // EDatabaseError 65091 when closed (in disconnected mode it opens first), 65116 when one runs.
  virtual void StartTransaction();
  // EDatabaseError 65091 when closed.
  virtual void Commit();
  virtual void Rollback();
  virtual bool InTransaction() const { return !FTransactionName.empty(); }
  // Right after Rollback: whether the server said that some of what the transaction wrote stays
  // written (tables without transactions). True when the server does not tell.
  virtual bool RollbackLeftWrites() { return true; }
  // The connection is closing because its session was lost (a fatal error nothing reconnected).
  bool ClosingLostSession() const noexcept { return FInProcessDisconnecting; }
  // Inside ApplyUpdates: the connection settles the datasets' changes once an attempt fails.
  bool ApplyingUpdates() const noexcept { return FApplyingUpdates; }
  // Applies the cached updates of every given dataset in one transaction. Each must use this
  // connection (EDatabaseError 65112). After a failed attempt the changes it wrote to tables a
  // rollback does not undo (WritesSurviveRollback) count as committed, every other change is
  // pending again, and the attempt's error propagates; a failover repeats the sequence once.
  virtual void ApplyUpdates(const std::vector<IDAUpdatesApplier*>& dataSets);
  // The same for every dataset of this connection that keeps cached updates.
  virtual void ApplyUpdates();

  // ---- Server information and lists ----
  virtual std::string GetServerVersion() { return {}; }
  virtual int GetServerVersionNumber() { return 0; }
  virtual void GetTableNames(TStringList& list);
  virtual void GetDatabaseNames(TStringList& list);
  virtual void GetStoredProcNames(TStringList& list);
  // A dataset on this connection, owned by the caller.
  virtual std::unique_ptr<TCustomDADataSet> CreateDataSet();
  // A command on this connection, owned by the caller.
  virtual std::unique_ptr<TCustomDASQL> CreateSQL();

  // ---- Provider side ----
  TCRConnection* IConnection() const noexcept { return FIConnection.get(); }
  virtual TCRConnectionClass GetIConnectionClass() const;
  virtual TCRCommandClass GetICommandClass() const;
  virtual TCRRecordSetClass GetIRecordSetClass() const;
  virtual TDASQLMonitorClass SQLMonitorClass() const { return &TCustomDASQLMonitor::GetCurrent; }
  // The dialog class used when none is assigned: the base dialog; none for no dialog at all.
  using TConnectDialogClass = std::unique_ptr<TCustomConnectDialog> (*)(TComponent* owner);
  virtual TConnectDialogClass ConnectDialogClass() const;

  // ---- Clients ----
  // Commands and datasets that use this connection (thread-safe); datasets are closed when the
  // connection closes.
  void RegisterClient(TComponent* client, TConnectChangeEvent event = nullptr) override;
  void UnRegisterClient(TComponent* client) override;
  std::vector<TCustomDASQL*> Commands() const;

  // ---- Operations and errors ----
  // The kind of operation running, for the lost-connection decision (kept with LocalFailover).
  virtual void PushOperation(TConnLostCause operation, int flag = 1);
  virtual void PopOperation();
  // The cause a lost connection gets while `component` runs (see the decision table in DoError).
  virtual TConnLostCause DetectConnLostCause(TComponent* component);
  // The provider's error path: decides whether the connection is lost, whether to reconnect and
  // whether to repeat the operation (at most once until an operation completes).
  virtual void DoError(EDAError& e, bool& fail, TConnLostCause& cause, int attempt, bool& reconnectExecute,
                       bool& reconnect);
  virtual bool IsFatalError(const EDAError& /*e*/) const { return false; }
  virtual bool IsKeyViolation(const EDAError& /*e*/) const { return false; }
  // Reconnect attempts after a lost connection before giving up.
  static constexpr int MaxReconnectAttempts = 3;

  // Runs `operation` recorded as `kind`; the failover repeat allowance is renewed when the
  // outermost operation ends other than by a failover.
  template <class F>
  void RunOperation(TConnLostCause kind, F&& operation);

  const std::string& TransactionName() const noexcept { return FTransactionName; }
  // Used by commands in disconnected mode to keep the connection open until Commit or Rollback.
  void SetImplicitTransaction() { FTransactionName = "CRImplicitTransaction"; }

 protected:
  virtual void CreateIConnection();
  virtual void SetIConnection(std::unique_ptr<TCRConnection> value);
  void ReleaseIConnection();
  virtual bool CommitOnDisconnect() const { return true; }
  virtual bool NeedPrompt() const;
  void DoConnect() override;
  void DoDisconnect() override;
  virtual void DoStartTransaction();
  virtual std::unique_ptr<TDAConnectionOptions> CreateOptions();
  // A derived connection's constructor installs its own options (CreateOptions in the base
  // constructor can only make the base ones).
  void ReplaceOptions(std::unique_ptr<TDAConnectionOptions> value) { FOptions = std::move(value); }
  virtual std::unique_ptr<TPoolingOptions> CreatePoolingOptions();
  // True when `client` still holds provider state that a reconnect would lose.
  virtual bool HoldsServerState(TComponent* client, TComponent* failed, TConnLostCause cause);
  // Whether an open dataset still has rows to read on this connection's session.
  virtual bool RowsPendingOnSession(TCustomDADataSet& dataSet);
  void Notification(TComponent* component, TOperation operation) override;

  std::unique_ptr<TCRConnection> FIConnection;
  std::string FTransactionName;

 private:
  friend class TDAConnectionOptions;
  void ConnectWithDialog();
  void PerformConnect();
  void PerformDisconnect();
  void ApplyUpdatesOnce(const std::vector<IDAUpdatesApplier*>& dataSets);
  static void SettleFailedApply(const std::vector<IDAUpdatesApplier*>& dataSets,
                                const std::vector<IDAUpdatesApplier*>& kept);
  void OperationEnded(bool failover);
  void InstallCallbacks(TCRConnection& c);

  std::string FUsername, FPassword, FServer;
  bool FAutoCommit = true;
  bool FInProcessDisconnecting = false;
  bool FApplyingUpdates = false;
  TCustomConnectDialog* FConnectDialog = nullptr;
  bool FConvertEOL = false;
  std::unique_ptr<TDAConnectionOptions> FOptions;
  std::unique_ptr<TPoolingOptions> FPoolingOptions;
  bool FPooling = false;
  mutable std::mutex FClientsLock;
  int FConnectCount = 0;
  std::vector<TCustomDASQL*> FCommands;
  bool FPromptAllowed = true;
  std::vector<std::pair<TConnLostCause, int>> FOperations;
  int FOperationDepth = 0;
  bool FFailoverUsed = false;  // a repeat was granted and no operation has ended since
};

template <class F>
void TCustomDAConnection::RunOperation(TConnLostCause kind, F&& operation) {
  PushOperation(kind);
  ++FOperationDepth;
  try {
    operation();
  } catch (const EFailOver&) {
    --FOperationDepth;
    PopOperation();
    OperationEnded(true);
    throw;
  } catch (...) {
    --FOperationDepth;
    PopOperation();
    OperationEnded(false);
    throw;
  }
  --FOperationDepth;
  PopOperation();
  OperationEnded(false);
}
