// The provider record set: the in-memory record store driven by a provider command. Opening it
// executes the command, describes the fields and fetches rows in blocks as the cursor moves; it
// can also fetch everything at once, or keep only the current block (unidirectional). It keeps the
// list of tables the query reads, from which the components write update statements.
//
// What a provider supplies: CreateCommand (its command class), InternalInitFields (the field
// descriptions, of GetFieldDescType's class), GetTableInfoClass (its name rules) and Fetch. Fetch
// reads up to GetFetchRows() rows into new items at the end of the list (AddItem, then
// ReorderItems over the new ones), brackets the block with DoBeforeFetch / DoAfterFetch, moves the
// command's cursor state to csFetched when the rows run out, and returns whether any row came. It
// never frees or reuses items itself: in unidirectional mode the record set releases the previous
// block's records (with their strings and blobs) before it asks for the next block.
//
// A provider's destructor closes the record set itself (Close), so that its own InternalClose runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/CRAccess.h"
#include "core/CRTableInfo.h"
#include "core/MemDataStore.h"

// What the last execution of the record set's command produced (set by the provider).
enum TCRCommandType : uint8_t {
  ctUnknown = 0,      // not executed or prepared yet
  ctNoResultSet = 1,  // the statement returned no rows
  ctResultSet = 2,    // it returned a result set
};

class TCRRecordSet : public TMemData {
 public:
  using TBeforeFetchProc = std::function<void(bool& cancel)>;
  using TNotifyProc = std::function<void()>;

  TCRRecordSet();
  ~TCRRecordSet() override;

  // ---- Command and connection ----
  // The record set's command, made by CreateCommand on first use.
  TCRCommand* GetCommand();
  // Takes over the command (freeing the one it replaces).
  virtual void SetCommand(std::unique_ptr<TCRCommand> command);
  virtual void SetConnection(TCRConnection* connection) { GetCommand()->SetConnection(connection); }
  virtual void SetSQL(const std::string& sql) { GetCommand()->SetSQL(sql); }
  // The owning component, kept in the command.
  void SetComponent(TComponent* component) { GetCommand()->SetComponent(component); }
  TComponent* GetComponent() { return GetCommand()->GetComponent(); }

  // ---- Lifecycle ----
  // Nothing when prepared; otherwise prepares, and describes the fields when the prepared
  // statement returns a result set.
  void Prepare() override;
  // Unprepares and clears the tables info.
  void UnPrepare() override;
  // Drops the command's server side and the prepared state, keeping the rows: used when the
  // connection closes in disconnected mode.
  virtual void Disconnect();
  // The rows not read yet are gone: their session was lost, or reading one failed (failure holds
  // that error's text). The rows read stay, and reading on raises EDatabaseError instead of
  // ending as though the result had no more rows. Opening the record set again clears it.
  void LoseUnreadRows(const std::string& failure = {});
  // Executes the command and clears the fetch break.
  virtual void ExecCommand();
  // The next open reads the result the last ExecCommand left instead of executing again (a
  // statement run first to learn whether it returns rows).
  void OpenExecutedNext() noexcept { FOpenExecuted = true; }
  // Fetches blocks until no more rows come (or a break or the before-fetch callback stops it).
  virtual void FetchAll();
  // Makes the next block's DoBeforeFetch cancel; a running FetchAll stops there. Any thread may
  // call it.
  virtual void BreakFetch() noexcept { FFetchBreak.store(true, std::memory_order_release); }
  // True when the command's cursor state is csInactive or csFetched.
  virtual bool IsAllFetched();
  virtual bool HasResultSet() { return FCommandType == ctResultSet; }
  uint8_t GetCommandType() const noexcept { return FCommandType; }
  // Rows read from the server since the record set opened (released ones included).
  int32_t GetFetchedRows() const noexcept { return FFetchedRows; }
  void SetCommandType(uint8_t value) noexcept { FCommandType = value; }

  // ---- Fields and tables ----
  TFieldDescClass GetFieldDescType() const override;
  // The base InitFields; then every field's name rules are the record set's table-info class.
  void InitFields() override;
  virtual const TCRTableInfoClass& GetTableInfoClass() const { return TCRTableInfo::Class(); }
  // The tables the query reads, of GetTableInfoClass's items, made on first use.
  TCRTablesInfo& GetTablesInfo();
  // The ConvertEOL flag of the command's connection (false without one).
  bool GetConvertEOL() const override;

  // ---- Cursor and fetching ----
  // Walks to the next visible record, fetching a block whenever the walk runs past the last
  // fetched record (in unidirectional mode the new block replaces the old one); Eof when no more
  // rows come, EDatabaseError when they were lost with their session or after a failed read.
  void GetNextRecord(void* recBuf) override;
  // Walks back over fetched records; in unidirectional mode only reports Bof.
  void GetPriorRecord(void* recBuf) override;
  // Record numbers count the rows a unidirectional record set already released.
  int32_t GetRecordCount() const override;
  int32_t GetRecordNo() const override;
  // A record already released in unidirectional mode cannot be reached: nothing happens then.
  void SetRecordNo(int32_t n) override;
  // The base re-filtering, keeping Eof clear when it was clear and further rows may come, so
  // that walking on fetches them.
  void FilterUpdated() override;
  // With sort columns, every row still on the server is fetched first, so that the order covers
  // them all; then the store sorts.
  void SortItems() override;

  // ---- Properties ----
  // prUniDirectional, prFetchRows (EDatabaseError "FetchRows must be 1..10000" outside that
  // range), prFetchAll, prLongStrings, prEnableEmptyStrings, prFlatBuffers, prIndexFieldNames
  // (SetIndexFieldNames, raising what it raises), prCompressBlobMode (kept by the command);
  // another id raises EAssertionFailed.
  virtual bool SetProp(int prop, const Variant& value);
  // prFetchAll; another id raises EAssertionFailed.
  virtual bool GetProp(int prop, Variant& value);
  bool GetUniDirectional() const noexcept { return FUniDirectional; }
  int32_t GetFetchRows() const noexcept { return FFetchRows; }
  bool GetFetchAll() const noexcept { return FFetchAll; }
  bool GetLongStrings() const noexcept { return FLongStrings; }
  bool GetFlatBuffers() const noexcept { return FFlatBuffers; }

  TBeforeFetchProc OnBeforeFetch;
  TNotifyProc OnAfterFetch;

 protected:
  // Creates the provider's command and installs it with SetCommand. The base raises
  // EAssertionFailed: a provider must supply it.
  virtual void CreateCommand();
  // Whether the provider can fetch rows it already dropped (then a new block replaces the old
  // records, as in unidirectional mode); false here.
  virtual bool CanFetchBack() { return false; }
  // Whether a statement prepared with a result set must describe its fields again at each
  // execution; false here.
  virtual bool NeedReinitFields() { return false; }
  // Executes, describes the fields and fetches the first block (or everything with FetchAll).
  virtual void ExecuteAndFetch();
  // Called by Fetch before a block: cancel starts as the fetch break; OnBeforeFetch may set it;
  // a cancelled fetch-all cursor (csFetchingAll) becomes csFetching.
  virtual void DoBeforeFetch(bool& cancel);
  // Called by Fetch after a block.
  virtual void DoAfterFetch();

  void InternalPrepare() override { GetCommand()->Prepare(); }
  void InternalUnPrepare() override { GetCommand()->Unprepare(); }
  // Clears Eof and runs ExecuteAndFetch; a failure closes the command's result and releases the
  // rows fetched so far before it propagates.
  void InternalOpen() override;
  void InitData() override;
  // Counts the rows of a block a provider's Fetch just read: the items from `first` to the last.
  void CountFetched(PItemHeader first) noexcept;

 private:
  // Releases every record held (unidirectional: the block the walk ran past), counting them as
  // dropped for the record numbers.
  void DropFetchedRecords();
  // Raises when the rows not read yet went with a lost session.
  void CheckUnreadRowsKept() const;

  std::unique_ptr<TCRCommand> FCommand;
  std::unique_ptr<TCRTablesInfo> FTablesInfo;
  bool FUniDirectional = false;
  int32_t FFetchRows = 25;
  bool FFetchAll = false;
  bool FLongStrings = true;
  bool FFlatBuffers = true;
  std::atomic<bool> FFetchBreak{false};
  uint8_t FCommandType = ctUnknown;
  int32_t FDroppedRecords = 0;  // visible records released in unidirectional mode
  int32_t FFetchedRows = 0;
  bool FOpenExecuted = false;
  bool FUnreadRowsLost = false;
  std::string FUnreadRowsFailure;  // the error that ended the reading, when one did
};
