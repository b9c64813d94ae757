// The provider layer between the components and a server protocol: the abstract connection and
// command, the parameter descriptions a command carries, the numbered provider properties, and the
// error path with reconnect-and-repeat ("failover").
//
// Components never talk to a protocol directly: they create provider objects of the classes the
// provider names and set options through SetProp/GetProp with the ids below. A provider class
// handles its own ids first and passes the rest to its base; an id nobody handles is a
// programming error (EAssertionFailed whose message holds the id).
//
// The record set built on a command lives in core/CRRecordSet.h, the table descriptions in
// core/CRTableInfo.h.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/DAError.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Variant.h"

class TComponent;
class TCRConnectionPool;
class TSharedObject;

// ---- Property ids shared by every provider (the MySQL provider adds ids from 1000 on) ---------

inline constexpr int prUsername = 1;             // connection get: string
inline constexpr int prAutoCommit = 5;           // connection and command set: Boolean
inline constexpr int prParamCheck = 11;          // command get: always false
inline constexpr int prRowsAffected = 13;        // provider commands: integer
inline constexpr int prUniDirectional = 20;      // record set set: Boolean
inline constexpr int prFetchRows = 21;           // record set set: integer
inline constexpr int prFetchAll = 22;            // record set set and get: Boolean
inline constexpr int prExecuting = 24;           // command get: Boolean
inline constexpr int prLongStrings = 25;         // record set set: Boolean
inline constexpr int prEnableEmptyStrings = 26;  // record set set: Boolean
inline constexpr int prFlatBuffers = 27;         // record set set: Boolean
inline constexpr int prConvertEOL = 28;          // connection set: Boolean
inline constexpr int prIndexFieldNames = 29;     // record set set: string
inline constexpr int prCompressBlobMode = 30;    // record set set: integer (kept by the command)
inline constexpr int prDisconnectedMode = 31;    // connection set: Boolean
// Sent to commands by components of every provider; commands accept it and do nothing with it.
inline constexpr int prCommandNoEffect = 32;

// Where blobs are kept compressed (prCompressBlobMode, kept by the command): in the record store,
// on the server, or both.
enum TCompressBlobMode : uint8_t { cbNone = 0, cbClient = 1, cbServer = 2, cbClientServer = 3 };

// Raises EAssertionFailed for a property id that no class in the chain handles.
[[noreturn]] void RaiseUnknownProp(int prop, const char* file, int line);

// ---- Lost connections and failover ----------------------------------------------------------

// Which kind of operation was running when the connection was lost.
enum TConnLostCause : uint8_t {
  clUnknown,
  clExecute,
  clOpen,
  clRefresh,
  clApply,
  clServiceQuery,
  clTransStart,
  clConnectionApply,
  clConnect
};

// Raised by TCRConnection::DoError after a reconnect that asked for the failed operation to be
// repeated: the layer that catches it runs the operation again. Its message is empty.
class EFailOver : public Exception {
 public:
  explicit EFailOver(TConnLostCause cause) : Exception(std::string()), ConnLostCause(cause) {}
  TConnLostCause ConnLostCause;
};

// ---- Parameter descriptions -----------------------------------------------------------------

// The provider-side description of one statement parameter. The command component copies its
// parameters into these before execution; the provider command reads them.
class TParamDesc {
 public:
  TParamDesc() = default;
  virtual ~TParamDesc() = default;
  TParamDesc(const TParamDesc&) = delete;
  TParamDesc& operator=(const TParamDesc&) = delete;

  const std::string& GetName() const noexcept { return FName; }
  void SetName(std::string value) { FName = std::move(value); }
  // A record-store data-type code (0 after construction).
  uint16_t GetDataType() const noexcept { return FDataType; }
  virtual void SetDataType(uint16_t value) { FDataType = value; }
  // The parameter direction as the components pass it.
  uint8_t GetParamType() const noexcept { return FParamType; }
  void SetParamType(uint8_t value) { FParamType = value; }
  int32_t GetSize() const noexcept { return FSize; }
  virtual void SetSize(int32_t value) { FSize = value; }

  // A copy of the value.
  virtual Variant GetValue() const { return FValue; }
  // Stores the value; the parameter is null when the value is Empty or Null.
  virtual void SetValue(const Variant& value);
  // Nil when the value is Empty or Null. EAssertionFailed when the value holds anything but an
  // object reference.
  virtual TSharedObject* GetObject() const;
  // The value becomes a reference to the object (the parameter does not own it); the parameter
  // is null only when the object is nil.
  virtual void SetObject(TSharedObject* object);
  virtual bool GetNull() const { return FIsNull; }
  // Sets the null flag; either way the value becomes Empty.
  virtual void SetNull(bool value);

 protected:
  std::string FName;
  uint16_t FDataType = 0;
  uint8_t FParamType = 0;
  int32_t FSize = 0;
  Variant FValue;
  bool FIsNull = false;
};

// Creates a descriptor of a command's parameter class.
using TParamDescClass = std::unique_ptr<TParamDesc> (*)();

template <class T>
std::unique_ptr<TParamDesc> CreateParamDescOf() {
  return std::make_unique<T>();
}

// The parameters of a command; the list owns them.
class TParamDescs {
 public:
  TParamDescs() = default;
  TParamDescs(const TParamDescs&) = delete;
  TParamDescs& operator=(const TParamDescs&) = delete;

  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  // EListError "List index out of bounds (%d)" outside 0..Count-1.
  TParamDesc* GetItems(int index) const;
  TParamDesc* operator[](int index) const { return GetItems(index); }
  // Appends the descriptor and returns it.
  TParamDesc* Add(std::unique_ptr<TParamDesc> param);
  // Frees the descriptor at index (EListError outside the list).
  void Delete(int index);
  void Clear() noexcept { FItems.clear(); }
  int IndexOf(const TParamDesc* param) const noexcept;

 private:
  std::vector<std::unique_ptr<TParamDesc>> FItems;
};

// ---- Connection -----------------------------------------------------------------------------

// The abstract provider connection. The operations a provider must supply (Connect, Disconnect,
// the transaction calls, CheckIsValid) raise EAssertionFailed naming themselves when a class
// leaves them out.
//
// A derived class disconnects in its own destructor: by the time this destructor runs, the
// provider's Disconnect is no longer reachable.
class TCRConnection {
 public:
  // Called for every server error (see DoError). fail, reconnect, reexecute and cause are
  // in-out; attempt counts the reconnects already tried for this error.
  using TErrorProc = std::function<void(EDAError& e, bool& fail, bool& reconnect, bool& reexecute,
                                        int attempt, TConnLostCause& cause)>;
  using TNotifyProc = std::function<void()>;

  TCRConnection();
  // A pooled connection freed while handed out gives its pool slot back.
  virtual ~TCRConnection();
  TCRConnection(const TCRConnection&) = delete;
  TCRConnection& operator=(const TCRConnection&) = delete;

  // The error path of the provider: asks OnError what to do and, when it says so, reconnects
  // (Disconnect on the first attempt, then Connect) and offers OnError the next attempt while
  // reconnecting fails and it keeps Reconnect set. After a successful reconnect with Reexecute
  // set, raises EFailOver carrying the cause from OnError. When OnError gives up after failed
  // reconnects, OnReconnectError runs (with Connected reported true meanwhile, so that the owner
  // can close its side). A call made while the connection is already inside DoError returns at
  // once. Exceptions of Disconnect, Connect and the reconnect callbacks are swallowed; an
  // exception of OnError propagates.
  virtual void DoError(EDAError& e, bool& fail);

  virtual void Connect(const std::string& connectString);
  virtual void Disconnect();
  virtual void StartTransaction();
  virtual void Commit();
  virtual void Rollback();
  // Checks that the session still works and stores the answer in IsValid.
  virtual bool CheckIsValid();
  // Brings a session handed back to its pool to the state a new one has, so that the next user
  // meets nothing of the last one's (a provider whose sessions keep state overrides it); false
  // when it cannot, and the pool then frees the connection. Never throws.
  virtual bool ResetSession() noexcept { return true; }

  virtual void SetUsername(const std::string& value) { FUsername = value; }
  virtual void SetPassword(const std::string& value) { FPassword = value; }
  void SetServer(const std::string& value) { FServer = value; }
  const std::string& GetUsername() const noexcept { return FUsername; }
  const std::string& GetPassword() const noexcept { return FPassword; }
  const std::string& GetServer() const noexcept { return FServer; }

  // ids prAutoCommit, prConvertEOL, prDisconnectedMode; true when handled. Another id raises
  // EAssertionFailed with the id as message.
  virtual bool SetProp(int prop, const Variant& value);
  // id prUsername; another id raises EAssertionFailed.
  virtual bool GetProp(int prop, Variant& value);

  bool GetConnected() const noexcept { return FConnected; }
  bool GetAutoCommit() const noexcept { return FAutoCommit; }
  bool GetConvertEOL() const noexcept { return FConvertEOL; }
  bool GetDisconnectedMode() const noexcept { return FDisconnectedMode; }
  bool GetIsValid() const noexcept { return FIsValid; }
  void SetIsValid(bool value) noexcept { FIsValid = value; }
  // Tick count at construction: the pool measures a connection's age from it.
  uint32_t GetCreationTime() const noexcept { return FCreationTime; }

  // Pool bookkeeping, kept by the pool (core/CRConnectionPool). A connection handed out by a pool
  // keeps the pool alive.
  TCRConnectionPool* GetPool() const noexcept { return FPool.get(); }
  void SetPool(std::shared_ptr<TCRConnectionPool> value) noexcept { FPool = std::move(value); }
  int GetPoolVersion() const noexcept { return FPoolVersion; }
  void SetPoolVersion(int value) noexcept { FPoolVersion = value; }

  // Hands a connection that a pool handed out back to that pool, which keeps it for reuse or
  // frees it. The error and reconnect callbacks and the owning component are cleared first.
  // EAssertionFailed for a connection without a pool.
  static void ReturnToPool(std::unique_ptr<TCRConnection> connection);

  // The owning component.
  TComponent* GetComponent() const noexcept { return FComponent; }
  void SetComponent(TComponent* value) noexcept { FComponent = value; }

  TErrorProc OnError;
  TNotifyProc OnReconnectError;
  TNotifyProc OnReconnectSuccess;

 protected:
  uint32_t FCreationTime;
  bool FConnected = false;
  std::string FUsername;
  std::string FPassword;
  std::string FServer;
  bool FAutoCommit = false;
  bool FConvertEOL = false;
  bool FIsValid = true;
  std::shared_ptr<TCRConnectionPool> FPool;
  int FPoolVersion = 0;
  TComponent* FComponent = nullptr;
  bool FDisconnectedMode = false;
  bool FInProcessError = false;  // inside DoError: nested calls return at once
  bool FReconnected = false;     // the last reconnect of DoError succeeded

 private:
  // Step 4 of the error path: true when the connection came back.
  bool TryReconnect(int attempt);
  void NotifyReconnectError();
};

// ---- Command --------------------------------------------------------------------------------

// Cursor states of a command. This layer uses inactive, prepared and the fetching states; the
// provider uses those in between.
using TCursorState = uint8_t;
inline constexpr TCursorState csInactive = 0;
inline constexpr TCursorState csPrepared = 3;
inline constexpr TCursorState csExecuting = 6;
inline constexpr TCursorState csExecuted = 7;  // executed with a result to read
inline constexpr TCursorState csFetching = 8;
inline constexpr TCursorState csFetchingAll = 9;  // a break moves it to csFetching
inline constexpr TCursorState csFetched = 10;     // every row read

// The abstract provider command: one SQL text with parameters on a connection. The operations a
// provider must supply (GetPrepared, Execute, GetCursorState, SetCursorState) raise
// EAssertionFailed naming themselves when a class leaves them out.
class TCRCommand {
 public:
  // Installed by the command component; the provider calls it after every execution with
  // whether it succeeded.
  using TAfterExecuteProc = std::function<void(bool succeeded)>;

  TCRCommand() = default;
  virtual ~TCRCommand() = default;
  TCRCommand(const TCRCommand&) = delete;
  TCRCommand& operator=(const TCRCommand&) = delete;

  // The base moves the cursor state to csPrepared / csInactive; providers prepare on the server
  // first.
  virtual void Prepare();
  virtual void Unprepare();
  virtual bool GetPrepared();
  virtual void Execute();
  virtual void SetConnection(TCRConnection* value) { FConnection = value; }
  TCRConnection* GetConnection() const noexcept { return FConnection; }
  // The text is held shared with whoever gave it: a statement of megabytes is kept once.
  virtual void SetSQL(std::shared_ptr<const std::string> value);
  void SetSQL(const std::string& value) { SetSQL(std::make_shared<const std::string>(value)); }
  const std::string& GetSQL() const noexcept;
  virtual TCursorState GetCursorState();
  virtual void SetCursorState(TCursorState value);

  // The descriptor class AddParam creates.
  virtual TParamDescClass GetParamDescClass() const;
  // Creates a descriptor of GetParamDescClass, appends it and returns it.
  virtual TParamDesc* AddParam();
  // Frees the descriptor at index (EListError outside the list).
  void DeleteParam(int index) { FParams.Delete(index); }
  int GetParamCount() const noexcept { return FParams.Count(); }
  // EListError outside 0..GetParamCount()-1.
  TParamDesc* GetParam(int index) const { return FParams.GetItems(index); }
  TParamDescs& Params() noexcept { return FParams; }

  // prAutoCommit; prCommandNoEffect is accepted and ignored; another id raises EAssertionFailed.
  virtual bool SetProp(int prop, const Variant& value);
  // prParamCheck (false), prExecuting; another id raises EAssertionFailed.
  virtual bool GetProp(int prop, Variant& value);

  bool GetAutoCommit() const noexcept { return FAutoCommit; }
  // The affected-row count of each result of the last execution of a text, in order, up to the
  // statement that failed; empty where the provider does not count them.
  virtual std::vector<int64_t> GetResultRowsAffected() const { return {}; }
  // Beside it, the AUTO_INCREMENT value each of those results reported (0 for none).
  virtual std::vector<int64_t> GetResultInsertIds() const { return {}; }
  // Another thread may read it (prExecuting) while the command runs.
  bool GetExecuting() const noexcept { return FExecuting.load(std::memory_order_acquire); }
  uint8_t GetCompressBlobMode() const noexcept { return FCompressBlobMode; }
  void SetCompressBlobMode(uint8_t value) noexcept { FCompressBlobMode = value; }
  TComponent* GetComponent() const noexcept { return FComponent; }
  void SetComponent(TComponent* value) noexcept { FComponent = value; }

  TAfterExecuteProc AfterExecute;

 protected:
  void SetExecuting(bool value) noexcept { FExecuting.store(value, std::memory_order_release); }

  TCRConnection* FConnection = nullptr;
  std::shared_ptr<const std::string> FSQL;  // nil: no text
  TParamDescs FParams;
  bool FAutoCommit = false;
  TComponent* FComponent = nullptr;
  uint8_t FCompressBlobMode = 0;

 private:
  std::atomic<bool> FExecuting{false};
};
