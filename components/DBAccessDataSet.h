// Unit DBAccess, the query dataset: TCustomDADataSet runs an SQL text on a connection and keeps
// the rows in the provider record set (a record store). Its internal command holds the SQL, the
// parameters and the macros; it shares the record set's provider command, so that preparing,
// opening and executing all go through one statement. TDADataSetOptions are its options and
// TDBAccessUtils reaches the non-public parts of commands and datasets for scripts and dumps.
//
// Every operation that talks to the server takes a use of the connection first and gives it back
// on every path (TCustomDAConnection::InternalConnect / InternalDisconnect), so that a connection
// in disconnected mode is open only while something runs. In that mode a closing connection
// leaves open datasets open (their rows are in memory).
//
// The parts: DBAccessDataSet.cpp (options, construction, connection, opening, fetching,
// executing, updating table), DBAccessDataSetRefresh.cpp (final SQL, refresh, key fields, SQL
// editing, master/detail, the access helpers).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/DASQLGenerator.h"
#include "components/DBAccessSQL.h"
#include "components/DBAccessUpdateSQL.h"
#include "components/MemDS.h"
#include "core/CRRecordSet.h"
#include "core/Win32Timer.h"

class TCustomDADataSet;

using TRefreshOptions = uint8_t;
inline constexpr TRefreshOptions roAfterInsert = 0x01;
inline constexpr TRefreshOptions roAfterUpdate = 0x02;
inline constexpr TRefreshOptions roBeforeEdit = 0x04;

using TBeforeFetchEvent = std::function<void(TCustomDADataSet* sender, bool& cancel)>;
// Before and after a statement of the write path or a record refresh runs: its statement types
// and the parameters it is sent with (the event may fill or retype them).
using TUpdateExecuteEvent =
    std::function<void(TCustomDADataSet* sender, TStatementTypes types, TDAParams& params)>;
using TAfterFetchEvent = std::function<void(TCustomDADataSet* sender)>;

class TDADataSetOptions : public TPersistent {
 public:
  explicit TDADataSetOptions(TCustomDADataSet* owner) : FOwner(owner) {}

  // Plain flags, read by the dataset and its statement generator.
  bool SetFieldsReadOnly = false;
  bool StrictUpdate = true;
  bool QueryRecCount = false;
  bool ReturnParams = false;
  bool RemoveOnRefresh = true;
  bool QuoteNames = false;
  bool FullRefresh = false;
  bool FieldsOrigin = false;
  int UpdateBatchSize = 1;
  bool UpdateAllFields = false;

  // The dataset's required-fields flag; a change updates the field definitions.
  bool RequiredFields() const noexcept { return FRequiredFields; }
  void SetRequiredFields(bool value);
  // The dataset's number-range flag.
  bool NumberRange() const noexcept;
  void SetNumberRange(bool value);
  // A change unprepares the dataset.
  bool AutoPrepare() const noexcept { return FAutoPrepare; }
  void SetAutoPrepare(bool value);
  // Copied straight into the record store.
  bool TrimFixedChar() const noexcept { return FTrimFixedChar; }
  void SetTrimFixedChar(bool value);
  bool TrimVarChar() const noexcept { return FTrimVarChar; }
  void SetTrimVarChar(bool value);
  // Record-set properties: the dataset must be closed (EDatabaseError "Cannot perform this
  // operation on an open dataset").
  bool LongStrings() const noexcept { return FLongStrings; }
  void SetLongStrings(bool value);
  bool FlatBuffers() const noexcept { return FFlatBuffers; }
  void SetFlatBuffers(bool value);
  TCompressBlobMode CompressBlobMode() const noexcept { return FCompressBlobMode; }
  void SetCompressBlobMode(TCompressBlobMode value);
  // Milliseconds between the master's last move and the detail's re-query (0: at once).
  int DetailDelay() const noexcept { return FDetailDelay; }
  void SetDetailDelay(int value);
  // The master/detail condition as the record store's filter instead of in the SQL; closed only.
  bool LocalMasterDetail() const noexcept { return FLocalMasterDetail; }
  void SetLocalMasterDetail(bool value);
  // Stored in the dataset; closed only.
  bool CacheCalcFields() const noexcept;
  void SetCacheCalcFields(bool value);

  // From other dataset options: every option but RemoveOnRefresh, FieldsOrigin and
  // UpdateBatchSize.
  void Assign(TPersistent* source) override;

 protected:
  TCustomDADataSet& Owner() const noexcept { return *FOwner; }
  // The closed-dataset check (nothing while the owner is inactive).
  void CheckInactive() const;

  TCustomDADataSet* FOwner;
  bool FRequiredFields = true;
  bool FAutoPrepare = false;
  bool FTrimFixedChar = true;
  bool FTrimVarChar = false;
  bool FLongStrings = true;
  bool FFlatBuffers = false;
  TCompressBlobMode FCompressBlobMode = cbNone;
  int FDetailDelay = 0;
  bool FLocalMasterDetail = false;
};

class TCustomDADataSet : public TMemDataSet,
                         public IDADetailDataSet,
                         public IDAUpdatesApplier,
                         public IDASQLGeneratorHost {
 public:
  explicit TCustomDADataSet(TComponent* owner = nullptr);
  ~TCustomDADataSet() override;

  // ---- Connection ----
  TCustomDAConnection* Connection() const noexcept { return FConnection; }
  // Another connection closes and unprepares the dataset first; the record set follows the new
  // connection's record-set class.
  void SetConnection(TCustomDAConnection* value);
  // The connection the dataset works with (its own, or one a script or dump lent it).
  virtual TCustomDAConnection* UsedConnection() const { return FConnection; }

  // ---- SQL, parameters and macros (the internal command's) ----
  TStringList& SQL() const { return FCommand->SQL(); }
  void SetSQLText(const std::string& text) { FCommand->SetSQLText(text); }
  TDAParams& Params() const noexcept { return FCommand->Params(); }
  TDAParam* ParamByName(std::string_view name) const { return Params().ParamByName(name); }
  TMacros& Macros() const noexcept { return FCommand->Macros(); }
  bool ParamCheck() const noexcept { return FCommand->ParamCheck(); }
  void SetParamCheck(bool value) { FCommand->SetParamCheck(value); }
  TCustomDASQL& Command() const noexcept { return *FCommand; }
  // The text sent: the command's text with macros expanded, FilterSQL and the master/detail
  // condition added.
  std::string FinalSQL() override;
  // Trimmed; a change closes and unprepares the dataset and reopens one that was open.
  const std::string& FilterSQL() const noexcept { return FFilterSQL; }
  void SetFilterSQL(const std::string& value);
  // The dataset's SQL with the condition added to its WHERE clause.
  void AddWhere(const std::string& condition);
  void DeleteWhere();
  void SetOrderBy(const std::string& fields);
  std::string GetOrderBy() const;

  // ---- Fetching ----
  // 1..10000 (EDatabaseError "FetchRows must be 1..10000"); a change needs a closed dataset.
  int FetchRows() const noexcept { return FFetchRows; }
  void SetFetchRows(int value);
  // True clears UniDirectional and fetches an open dataset's remaining rows.
  bool FetchAll() const noexcept { return FFetchAll; }
  virtual void SetFetchAll(bool value);
  // A change needs a closed dataset; true clears FetchAll.
  bool UniDirectional() const noexcept { return FUniDirectional; }
  void SetUniDirectional(bool value);
  bool ReadOnly() const noexcept { return FReadOnly; }
  virtual void SetReadOnly(bool value);
  bool Debug = false;
  bool AutoCommit() const noexcept { return FAutoCommit; }
  void SetAutoCommit(bool value);
  TRefreshOptions RefreshOptions = 0;
  TBeforeFetchEvent BeforeFetch;
  TAfterFetchEvent AfterFetch;
  TAfterExecuteEvent AfterExecute;

  TDADataSetOptions& Options() const noexcept { return *FOptions; }

  // ---- Preparing and executing ----
  // Only when neither prepared nor open: holds the connection until UnPrepare.
  void Prepare() override;
  void UnPrepare() override;
  // Closes an open dataset; with AutoPrepare prepares; a statement that returns rows opens the
  // dataset, any other runs through the command and sets RowsAffected. Server errors pass
  // through; the connection's use is given back on every path.
  virtual void Execute();
  bool Executing() const { return FCommand->Executing(); }
  int RowsAffected() const noexcept { return FRowsAffected; }

  // ---- Updating table and keys ----
  // Empty: the first table of the statement. A name matching no table (by name, then by alias)
  // raises EDatabaseError "Wrong UpdatingTable value - table %s is unknown".
  const std::string& UpdatingTable() const noexcept { return FUpdatingTable; }
  virtual void SetUpdatingTable(const std::string& value);
  // Index of the updating table in the record set's tables; -1 for none.
  int UpdatingTableIndex() const noexcept { return FUpdatingTableIndex; }
  TCRTableInfo* UpdatingTableInfo() override;
  // The key and data field descriptions of a table of the record set (none here).
  virtual TKeyAndDataFields KeyAndDataFieldsOf(int tableIndex, bool forceAll);
  // Those of the updating table.
  TKeyAndDataFields GetKeyAndDataFields(bool forceAll) override {
    return KeyAndDataFieldsOf(FUpdatingTableIndex, forceAll);
  }
  // The fields that identify the current record (its key, else its non-blob data fields) and
  // their values (left empty without a current record).
  void GetCurrentKeys(std::vector<TField*>& keyFields, std::vector<Variant>& values);
  // The auto-increment field of the updating table (set by the MySQL dataset), or nil.
  TField* IdentityField() const noexcept { return FIdentityField; }

  // ---- Refresh ----
  // Re-reads the rows changed since the newest TIMESTAMP seen (and, with checkDeleted, drops the
  // local rows deleted on the server) through the statement generator; the current row stays
  // when it still exists, else the first becomes current. EDatabaseError "Unique keyfields
  // required" without a key; the generator's errors ("Timestamp field required" without a
  // TIMESTAMP column) and the server's pass through.
  virtual void RefreshQuick(bool checkDeleted);
  // Re-reads the current record by its key. EDatabaseError "Refresh failed. Found %d records"
  // (under StrictUpdate) when the key does not find exactly one row.
  void RefreshRecord();
  // The statement generator (made by CreateSQLGenerator).
  TDASQLGenerator& SQLGenerator() const noexcept { return *FSQLGenerator; }

  // ---- Writing records (components/DBAccessDataSetUpdate.cpp) ----
  // The user's own statements for an insert, an update and a delete: a ":name" parameter takes
  // the field of that name, ":OLD_name" its old value, a number the field of that number. Empty:
  // the statement generator writes them.
  TStringList& SQLInsert() noexcept { return FSQLInsert; }
  TStringList& SQLUpdate() noexcept { return FSQLUpdate; }
  TStringList& SQLDelete() noexcept { return FSQLDelete; }
  // The user's own statement re-reading the record; a text beginning with WHERE adds its
  // condition to the dataset's own SQL. The dataset's macros are expanded in all four.
  TStringList& SQLRefresh() noexcept { return FSQLRefresh; }
  // The user's statements or objects for the write path, in place of the dataset's own lists.
  // Setting it links both ways; a previous update object of this dataset is released; while it
  // is set nothing is gathered into batches.
  TCustomDAUpdateSQL* UpdateObject() const noexcept { return FUpdateObject; }
  void SetUpdateObject(TCustomDAUpdateSQL* value);
  // Not run for a statement gathered into a batch. While BeforeUpdateExecute is assigned, a
  // parameter no field feeds is left for it to fill, and every parameter must have a type after
  // it ("Unknown type of parameter %s").
  TUpdateExecuteEvent BeforeUpdateExecute;
  TUpdateExecuteEvent AfterUpdateExecute;
  // Runs the statement of `types` for the record being written: `sql`, else the user's own text
  // for the type, else the generated one. False when there was nothing to run (an edit that
  // changed nothing). While cached updates are applied in batches the statement is gathered
  // instead. Errors: "Update failed. Found %d records" (StrictUpdate), "Not found field
  // corresponding parameter %s", "Connection is not defined", and the server's.
  virtual bool PerformSQL(const std::string& sql, TStatementTypes types);
  // Applies the cached updates as one operation of the connection; after a failover (the
  // connection was re-established) the whole apply runs again.
  void ApplyUpdates() override;

  // ---- Master/detail ----
  TDataSource* MasterSource() const;
  // EDatabaseError "Circular datalinks are not allowed" for a source that leads back here.
  void SetMasterSource(TDataSource* value);
  const std::string& MasterFields() const noexcept { return FMasterFields; }
  void SetMasterFields(const std::string& value);
  const std::string& DetailFields() const noexcept { return FDetailFields; }
  void SetDetailFields(const std::string& value);
  TDataSource* GetDataSource() const override { return MasterSource(); }
  void RefreshDetailParams() override;
  bool IsMasterField(TField* field) override;

  // ---- Text helpers of the dialect (empty texts here) ----
  std::string QuoteName(const std::string& name) override;
  virtual std::string UnQuoteName(const std::string& name) const;
  std::string SQLAddWhere(const std::string& sql, const std::string& condition) override;
  virtual std::string SQLDeleteWhere(const std::string& sql) const;
  virtual std::string SQLSetOrderBy(const std::string& sql, const std::string& fields) const;
  virtual std::string SQLGetOrderBy(const std::string& sql) const;

  // ---- Provider support (the platform's provider components talk to the dataset here) ----
  // The quote character of names (a double quote; the back quote for MySQL).
  virtual char QuoteChar() const { return '"'; }
  // The offsets of the "?" placeholders of a statement: here every "?"; a dialect leaves out those
  // in its strings, quoted names and comments.
  virtual std::vector<size_t> PlaceholderOffsets(const std::string& sql);
  // Transactions of the connection, only while AutoCommit is on and the connection is connected.
  void PSStartTransaction();
  void PSEndTransaction(bool commit);
  // Runs `sql` with each "?" made ":1", ":2", ...: `params` are renamed "1", "2", ... (those of no
  // kind become input). With `resultSet` the rows come back in a dataset of the connection, else
  // an SQL command of the connection runs it. Returns the rows affected. Errors: EDatabaseError
  // "Connection is not defined", and the server's.
  int PSExecuteStatement(const std::string& sql, TParams* params,
                         std::unique_ptr<TCustomDADataSet>* resultSet = nullptr);
  TDAParams* PSGetParams() { return &Params(); }
  std::string PSGetQuoteChar() const { return std::string(1, QuoteChar()); }
  bool PSIsSQLBased() const { return true; }
  bool PSIsSQLSupported() const { return true; }
  // The updating table's key fields joined by ";". A closed dataset without fields is opened once
  // for them (FetchAll off, FetchRows 1, Debug off, all three restored, closed again).
  std::string PSGetKeyFields();
  // An empty text leaves the SQL as it is.
  void PSSetCommandText(const std::string& text);
  // An open dataset is closed and opened again.
  void PSReset();
  // The order of the ORDER BY clause: field names joined by ";" (a number n names the n-th field
  // definition) and those followed by DESC. False for no ORDER BY.
  struct TPSIndexDef {
    std::string Fields;
    std::string DescFields;
  };
  bool PSGetDefaultOrder(TPSIndexDef& order);

  // ---- Provider side ----
  // Kept by SetIRecordSet, through which every record set comes: an open asks several times.
  TCRRecordSet* CRRecordSet() const noexcept { return FCRRecordSet; }
  // The record set's provider command (nil while the dataset has no provider record set).
  TCRCommand* RecordSetCommand() const;
  // Whether the component is being designed (taken at construction).
  bool DesignCreate() const noexcept { return FDesignCreate; }
  // Another dataset's internal query: its own executions are not traced.
  bool Internal = false;
  // The command running the write statement in hand, which the trace names as this dataset
  // (the MySQL monitor reads the server's note from it); nil otherwise.
  TCustomDASQL* RunningUpdateCommand() const noexcept { return FRunningUpdateCommand; }

  void Assign(TPersistent* source) override;
  void DataEvent(TDataEvent event, intptr_t info) override;
  // The connection is being destroyed: the dataset forgets it (and its provider connection).
  void ConnectionGone(TCustomDAConnection* connection);

  // ---- IDAUpdatesApplier ----
  TCustomDAConnection* UpdatesConnection() override { return UsedConnection(); }
  std::string UpdatesName() override { return Name(); }
  bool HasCachedUpdates() override { return Active() && CachedUpdates(); }
  void ApplyCachedUpdates() override { ApplyUpdates(); }
  void CommitCachedUpdates() override { CommitUpdates(); }
  void RestoreCachedUpdates() override { RestoreUpdates(); }
  void KeepAppliedCachedUpdates() override { CommitAppliedUpdates(); }
  bool IsApplyingUpdates() override { return FApplyingUpdates; }

  // ---- IDASQLGeneratorHost ----
  TDASQLGeneratorSettings GeneratorSettings() override;
  TData& GeneratorData() override { return IRecordSet(); }
  void* GeneratorNewRecBuf() override { return GetActiveRecBuf(); }
  void* GeneratorOldRecBuf() override;
  TField* FieldOfDesc(const TFieldDesc* desc) override;
  TFieldDesc* IdentityFieldDesc() override;
  TCRTablesInfo* RecordSetTablesInfo() override;
  std::string GetSQLText() override { return SQL().Text(); }

 protected:
  // The user's text for a type (the update object's, else the dataset's own list with macros
  // expanded and the WHERE form of SQLRefresh); empty when there is none.
  std::string UserUpdateSQL(TStatementType type);
  friend class TDADataSetOptions;
  friend class TCustomDASQL;
  friend struct TDBAccessUtils;

  // The command's text is about to change: the dataset closes and unprepares.
  void SQLChanging();

  // ---- Made through the virtual operations ----
  virtual std::unique_ptr<TCustomDASQL> CreateCommand();
  virtual std::unique_ptr<TDADataSetOptions> CreateOptions();
  virtual std::unique_ptr<TDASQLGenerator> CreateSQLGenerator();
  // ---- Write path (components/DBAccessDataSetUpdate.cpp) ----
  // A record without an updating table, or with a change in a column the generated statement
  // does not write (another table's, a computed one), raises instead of being kept unsent:
  // "The record cannot be written: the query has no updating table", "Field %s does not belong
  // to the updating table %s".
  void PerformAppend() override;
  void PerformUpdate() override;
  void PerformDelete() override;
  // Re-reads the record being posted or applied (roAfterInsert, roAfterUpdate).
  virtual void RefreshRecordAfterPost();
  // Whether the record can be re-read: an updating table or the user's refresh statement.
  virtual bool CanRefreshField();
  bool UsesBatchUpdate() const override;
  bool IsBatchFull() const override;
  void FlushBatch() override;
  // The largest statement text, in bytes, the session takes (0: no limit known); a batch that
  // would pass it is sent in parts.
  virtual size_t StatementByteLimit() { return 0; }
  // The insert ran: the MySQL dataset reads the new AUTO_INCREMENT value here.
  virtual void AfterInsertExecuted() {}
  // The user's statement (placeholders "?", one parameter each) calls a stored routine and
  // ReturnParams is set: the dialect marks the parameters the routine writes back as output or
  // input-output (nothing here).
  virtual void DescribeCallParams(const std::string& /*text*/, TDAParams& /*params*/) {}
  // Runs the update query's statement; the MySQL dataset reads a routine's output parameters
  // back into the query's parameters.
  virtual void ExecuteUpdateQuery(TCustomDASQL& query) { query.Execute(); }
  // The command that runs statements of a type, made through the connection on first use.
  virtual TCustomDASQL& CheckUpdateQuery(TStatementType type);
  TCustomDASQL* UpdateQuery(TStatementType type) const noexcept { return FUpdateQueries[type].get(); }
  virtual void AssignFieldValueToParam(TField* field, bool old, TDAParam& param);
  // The field a parameter of the user's statement names (see SQLInsert); old tells OLD_ names.
  TField* GetFieldByParamName(const std::string& name, bool& old);
  // Runs a generated statement with its parameters and leaves its rows open in the helper
  // dataset (made by CreateHelperDataSet, on the same connection).
  TCustomDADataSet& RunHelper(const std::string& sql, TDAParams* params, const char* traceName);
  virtual std::unique_ptr<TCustomDADataSet> CreateHelperDataSet();
  TCustomDADataSet& Helper();
  // Copies the values of the helper's current row into the dataset's current record in the
  // record store (columns matched by the generator's "_n" alias or by name; blobs are left).
  // While a record is posted or applied the values go into its buffer, which the record store
  // then takes. With check, a value that differs from the record's raises "Record was changed by
  // another user" and nothing is written.
  void CopyHelperRow(TCustomDADataSet& helper, bool check = false);
  // A value copied into a record: the MySQL dataset follows its TIMESTAMP column.
  virtual void TrackRowValue(const TFieldDesc*, const Variant&) {}
  // The record-set class while no connection is set (none here).
  virtual TCRRecordSetClass DefaultIRecordSetClass() const { return {}; }
  // Makes the command, options and record set through the virtual operations above; each
  // class's constructor calls it so that its own forms are made.
  void CreateParts();
  void CreateIRecordSet() override;
  void SetIRecordSet(std::unique_ptr<TData> recordSet) override;
  // Passes the dataset's settings to a (new) record set.
  virtual void AssignRecordSetProps(TCRRecordSet& recordSet);

  // ---- Connection holding ----
  // Takes a use of the connection ("Connection is not defined" without one) and points the
  // record set at its provider connection.
  virtual void BeginConnection();
  virtual void EndConnection();

  // ---- Hooks ----
  // "No SQL statement provided" for an empty SQL is the MySQL dataset's; nothing here.
  virtual void CheckSQL() {}
  virtual void AfterOpenCursor() {}
  // The record set described its fields anew (a re-query): what points at the old descriptions
  // is dropped.
  virtual void FieldDescsRenewed() {}
  // The record count by the count query (0 here).
  virtual int GetRecCount() { return 0; }
  // The trace of an operation (Prepare, Open, Refresh, ...), before and after.
  void TraceSQL(const char* what, bool after);
  bool TracingEnabled() const;

  // ---- Dataset hooks ----
  // RecordCount: while open with a counted query that count; otherwise the record store's.
  int GetRecordCount() override;
  void OpenCursor() override;
  void CloseCursor() override;
  void InternalRefresh() override;
  void CreateFields() override;
  void SetFiltered(bool value) override;

  // The master's current values into the parameters named by MasterFields (or by the master's
  // field names). EDatabaseError "Field '%s' not found" for a missing master field.
  void SetMasterParams(TDAParams& params);
  // After a posted record of a detail: a record that no longer matches the master leaves.
  void DropForeignDetailRecord();
  void InternalPost() override;
  // Refreshes the record first with roBeforeEdit.
  void DoBeforeEdit() override;
  // Locates noted key values again; false when they are not found.
  bool LocateKeys(const std::vector<TField*>& keyFields, const std::vector<Variant>& values);
  // Runs the statement again and re-reads the rows (full refresh, detail re-query).
  void Requery(const char* traceName);
  void Notification(TComponent* component, TOperation operation) override;

  std::unique_ptr<TCustomDASQL> FCommand;
  TCRRecordSet* FCRRecordSet = nullptr;  // the record set as a provider's, nil for another kind
  std::unique_ptr<TDADataSetOptions> FOptions;
  std::unique_ptr<TDASQLGenerator> FSQLGenerator;
  std::unique_ptr<TCustomDADataSet> FHelper;
  int FRowsAffected = -1;
  int FRecordCount = 0;  // by the count query
  int FUpdatingTableIndex = -1;
  TField* FIdentityField = nullptr;
  bool FApplyingUpdates = false;
  // The session was lost inside a transaction during the apply: what it marked applied was
  // rolled back, and is pending again when the apply has failed.
  bool FRestoreAfterApply = false;
  // The write path's commands, one per statement type, and the batch being gathered.
  std::unique_ptr<TCustomDASQL> FUpdateQueries[stBatchUpdate + 1];
  TStringList FSQLInsert, FSQLUpdate, FSQLDelete, FSQLRefresh;
  TCustomDAUpdateSQL* FUpdateObject = nullptr;
  std::string FBatchSQL;
  TDAParams FBatchParams;
  int FBatchCount = 0;
  bool FBatchChecked = false;  // each statement of the batch is followed by the row-count check
  size_t FBatchBytes = 0;      // a bound of the gathered text's size with its values written in
  // Statements of the batch sent already, in parts before the one being gathered, and the rows
  // they changed.
  int FBatchPartsRan = 0;
  int FBatchPartsRows = 0;
  // The gathered inserts into a table with an identity field: the statement's place in the batch
  // and the record it writes, which takes the insert id that statement reports.
  struct TBatchInsert {
    int Statement;
    PItemHeader Item;
    uint32_t Stamp;
  };
  std::vector<TBatchInsert> FBatchInserts;
  std::string FBatchCheck;  // the generator's row-count check for this apply's server
  bool FCacheCalcFields = false;

 private:
  TStringList* UpdateSQLList(TStatementType type) noexcept;
  void CheckRecordWritable(TStatementType type);
  void BindGeneratedParams(TDAParams& params);
  // Each parameter from the field its name names; for a refresh also from a namesake among the
  // dataset's own parameters.
  void BindParamsByName(TDAParams& params, TStatementType type);
  bool RunUpdateObject(TComponent& object, TStatementType type, TStatementTypes types);
  bool PerformRefreshSQL(const std::string& sql, TStatementType type, TStatementTypes types);
  void RunBeforeUpdateExecute(TStatementTypes types, TDAParams& params);
  // Runs a statement of the write path traced once, as this dataset, under its type names.
  void RunTraced(TStatementTypes types, const std::string& sql, TDAParams& params, TCustomDASQL* command,
                 const std::function<void()>& run);
  void ReturnOutParams(TDAParams& params);
  void CheckRowsAffected(int count);
  bool CheckRefreshCount(int count);
  void GatherIntoBatch(TStatementType type, const std::string& text, TDAParams& params);
  // The records of the batch's inserts take the insert ids their statements reported (those
  // that ran, when the batch failed midway).
  void TakeBatchInsertIds(TCustomDASQL& query, size_t stride);
  void ClearBatch() noexcept;
  // Sends the statements gathered so far as one part of the batch (it would pass the session's
  // limit with the next); the batch goes on gathering after them.
  void FlushBatchPart();
  // Runs the gathered batch: a statement failing, or touching other than one row (StrictUpdate),
  // raises as it would alone, and the record set learns how many statements ran before it.
  void RunBatch(TCustomDASQL& query);
  void WriteParams();
  void OpenRecordSet();
  void ChooseUpdatingTable(bool raise);
  void ApplyFieldsReadOnly();
  void MasterDetailChanged();
  void InstallLocalMasterDetail(bool on);
  bool LocalMasterDetailAccepts(void* recBuf);
  void DetailTimerTick();
  void RemoveDeletedRows(const TKeyAndDataFields& keyAndData);
  void RefreshChangedRows(const TKeyAndDataFields& keyAndData);
  void RequeryDetail();
  // With apply false the parameters are left as they are: only whether a value differs is answered.
  bool ReadMasterValues(TDAParams& params, bool apply = true);

  TCustomDAConnection* FConnection = nullptr;
  TCustomDASQL* FRunningUpdateCommand = nullptr;
  std::string FFilterSQL;
  int FFetchRows = 25;
  bool FFetchAll = false;
  bool FUniDirectional = false;
  bool FReadOnly = false;
  bool FAutoCommit = true;
  bool FDesignCreate = false;
  bool FPrepareHeld = false;   // Prepare holds a use of the connection
  bool FOpenExecuted = false;  // Execute ran the statement: the open reads its result
  std::string FUpdatingTable;
  std::string FMasterFields, FDetailFields;
  std::unique_ptr<TDADetailDataLink> FDataLink;
  std::unique_ptr<TWin32Timer> FDetailTimer;
};

// Helpers through which scripts, dumps and datasets reach the non-public parts of commands and
// datasets. Each takes a TCustomDASQL or a TCustomDADataSet; any other object fails an assertion
// naming its class.
struct TDBAccessUtils {
  static TCustomDAConnection* UsedConnection(TComponent* obj);
  static void SetAutoCommit(TComponent* obj, bool value);
  static TCRConnection* GetIConnection(TCustomDAConnection* connection);
  static TCRRecordSet* GetIRecordSet(TCustomDADataSet* dataSet);
  static TCRTablesInfo& GetTablesInfo(TCustomDADataSet* dataSet);
  static void InternalConnect(TCustomDAConnection* connection) { connection->InternalConnect(); }
  static void InternalDisconnect(TCustomDAConnection* connection) { connection->InternalDisconnect(); }
  static std::vector<TFieldDesc*> GetFieldDescs(TCustomDADataSet* dataSet);
  static void SetQuiet(TComponent* obj, bool value);
  static TStringList& GetSQL(TComponent* obj);
  // Sets the text with macro scanning and parameter parsing suspended (the provider command is
  // told so for the duration): the text goes to the server exactly as written.
  static void SetSQLText(TComponent* obj, const std::string& text);
  static TDAParams& GetParams(TComponent* obj);
  static void Execute(TComponent* obj);
  static int GetRowsAffected(TComponent* obj);
};
