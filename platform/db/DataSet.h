// TDataSet: the base of every dataset. It holds the fields and field definitions, the state,
// one active record buffer, the data sources it notifies, and the navigation, editing and event
// protocol; a dataset over a record store implements the protected hooks (cursor, buffers,
// positioning, bookmarks, field data, editing, calculated fields, filters, blob streams).
//
// Buffers: the active buffer holds the current record (edited in place in edit and insert
// state); a second buffer receives each fetch, so a fetch that fails leaves the current record
// as it was. There is no window of rows: a grid reads other rows through a TPeekScope, which
// points the active buffer at a peek buffer filled with that row. The cursor may therefore stand
// anywhere: every cursor-dependent operation first puts it back on the active record
// (UpdateCursorPos).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db/FieldDefs.h"
#include "platform/db/Fields.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Components.h"

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsBlockRead,
  dsOpening,
};

enum TDataEvent : uint8_t {
  deFieldChange,   // info: the TField
  deRecordChange,  // info: the TField, or 0 for the whole record
  deDataSetChange,
  deDataSetScroll,  // info: records moved
  deLayoutChange,
  deUpdateRecord,  // controls write their pending text into the fields
  deUpdateState,
  deCheckBrowseMode,
  deFocusControl,   // info: the TField
  deParentScroll,   // the master of a detail dataset moved
  deConnectChange,  // info: 1 connected, 0 disconnected
};

enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TDataAction : uint8_t { daFail, daAbort, daRetry };

using TRecordBuffer = uint8_t*;
// An opaque position: the bytes the dataset's bookmark hooks produce.
using TBookmark = std::vector<uint8_t>;

// Filter options (a set).
using TFilterOptions = uint8_t;
inline constexpr TFilterOptions foCaseInsensitive = 0x01;
inline constexpr TFilterOptions foNoPartialCompare = 0x02;
// Locate options (a set).
using TLocateOptions = uint8_t;
inline constexpr TLocateOptions loCaseInsensitive = 0x01;
inline constexpr TLocateOptions loPartialKey = 0x02;

class TDataSet;
class TDataSource;

using TDataSetNotifyEvent = std::function<void(TDataSet* dataSet)>;
using TDataSetErrorEvent = std::function<void(TDataSet* dataSet, EDatabaseError& e, TDataAction& action)>;
using TFilterRecordEvent = std::function<void(TDataSet* dataSet, bool& accept)>;
using TUpdateRecordEvent = std::function<void(TDataSet* dataSet, TUpdateKind kind, TUpdateAction& action)>;
using TUpdateErrorEvent =
    std::function<void(TDataSet* dataSet, EDatabaseError& e, TUpdateKind kind, TUpdateAction& action)>;

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner = nullptr);
  ~TDataSet() override;

  // ---- Fields ----
  TFields& Fields() const noexcept { return *FFields; }
  TFieldDefs& FieldDefs() const noexcept { return *FFieldDefs; }
  int FieldCount() const noexcept { return FFields->Count(); }
  TField* FindField(std::string_view name) const { return FFields->FindField(name); }
  // EDatabaseError "Field '%s' not found".
  TField* FieldByName(std::string_view name) const { return FFields->FieldByName(name); }
  // The fields named in a list separated by ";" (each must exist).
  std::vector<TField*> GetFieldList(std::string_view fieldNames) const;
  void GetFieldNames(TStringList& list) const;
  // Describes the cursor in FieldDefs (InternalInitFieldDefs) unless they are up to date.
  void InitFieldDefs();
  // The fields were created from the definitions at open (none existed before).
  bool DefaultFields() const noexcept { return FDefaultFields; }
  // Bytes of the calculated area: each calculated or lookup field's null byte and value.
  int CalcFieldsSize() const noexcept { return FCalcFieldsSize; }
  bool AutoCalcFields = true;

  // ---- State ----
  TDataSetState State() const noexcept { return FState; }
  bool Active() const noexcept { return FState != dsInactive && FState != dsOpening; }
  // EDatabaseError "Cannot perform this operation on an open dataset" / "... on a closed dataset".
  void CheckInactive() const;
  void CheckActive() const;
  // Whether records may be changed at all; true here.
  virtual bool CanModify() const { return true; }
  bool Modified() const noexcept { return FModified; }

  // ---- Opening ----
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  // Opening: BeforeOpen, the cursor (OpenCursor), the first record, AfterOpen; an error closes
  // the cursor again. Closing: BeforeClose, the cursor (CloseCursor), AfterClose.
  void SetActive(bool value);
  // Re-reads the records and keeps the current one where it still exists.
  void Refresh();

  // ---- Navigation ----
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves up to distance records; returns how many were passed. Sets Eof or Bof at an end.
  int MoveBy(int distance);
  bool Bof() const noexcept { return FBof; }
  bool Eof() const noexcept { return FEof; }
  bool IsEmpty() const noexcept { return !FHasRecord; }
  // 1-based number of the current (or peeked) record; -1 where the dataset has none.
  int RecNo() { return Active() ? GetRecNo() : -1; }
  void SetRecNo(int value);
  int RecordCount() { return Active() ? GetRecordCount() : 0; }

  // ---- Bookmarks ----
  // The current record's position (empty without a current record).
  TBookmark GetBookmark();
  // EDatabaseError "Record not found" for a position the dataset no longer has.
  void GotoBookmark(const TBookmark& bookmark);
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // -1, 0, 1; empty bookmarks come after all others and equal each other.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);

  // ---- Searching ----
  // The first record from the start whose key fields (separated by ";") equal the values; the
  // dataset moves there (true) or stays (false). Null matches only null. Strings compare by
  // the options: case ignored, the key a prefix.
  virtual bool Locate(const std::string& keyFields, const std::vector<Variant>& keyValues,
                      TLocateOptions options);
  bool Locate(const std::string& keyFields, const Variant& keyValue, TLocateOptions options = 0) {
    return Locate(keyFields, std::vector<Variant>{keyValue}, options);
  }
  // The result fields of the record Locate would find, without moving; Nulls when none.
  virtual std::vector<Variant> Lookup(const std::string& keyFields, const std::vector<Variant>& keyValues,
                                      const std::string& resultFields);
  bool FindFirst() { return FFound = FindRecord(true, true); }
  bool FindLast() { return FFound = FindRecord(true, false); }
  bool FindNext() { return FFound = FindRecord(false, true); }
  bool FindPrior() { return FFound = FindRecord(false, false); }
  bool Found() const noexcept { return FFound; }

  // ---- Editing ----
  // Edit of an empty dataset inserts. EDatabaseError "Cannot modify a read-only dataset" when
  // CanModify answers false.
  void Edit();
  void Insert();
  void Append();
  // Writes pending control text (UpdateRecord), checks required fields, then InternalPost; an
  // error leaves the dataset in its edit state with the values as they were.
  void Post();
  void Cancel();
  void Delete();
  // Posts a modified record or cancels an unmodified one.
  void CheckBrowseMode();
  // Asks the controls to write their pending text into the fields. EDatabaseError "Dataset not
  // in edit or insert mode" outside edit and insert.
  void UpdateRecord();
  // Clears every field of the record being edited.
  void ClearFields();

  // ---- Controls ----
  // Counted: while disabled, display notices are held and one change notice (with the state
  // notice, when the state changed) follows the matching EnableControls.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const noexcept { return FDisableCount > 0; }

  // ---- Filters ----
  bool Filtered() const noexcept { return FFiltered; }
  virtual void SetFiltered(bool value);
  const std::string& Filter() const noexcept { return FFilterText; }
  virtual void SetFilterText(const std::string& value);
  TFilterOptions FilterOptions() const noexcept { return FFilterOptions; }
  virtual void SetFilterOptions(TFilterOptions value);
  const TFilterRecordEvent& OnFilterRecord() const noexcept { return FOnFilterRecord; }
  virtual void SetOnFilterRecord(TFilterRecordEvent value);

  // ---- Master and data sources ----
  // The master's data source of a detail dataset; nil here.
  virtual TDataSource* GetDataSource() const { return nullptr; }
  // Whether this dataset follows dataSource through its chain of masters.
  bool IsLinkedTo(TDataSource* dataSource) const;
  int DataSourceCount() const noexcept { return static_cast<int>(FDataSources.size()); }

  // ---- Field data (the dataset implements these) ----
  // Copies the field's value from the record buffer of the current state (GetActiveRecBuf)
  // into buffer, in the field's native form (DataSize bytes at most); buffer nil only asks
  // whether there is a value. False when the field is null or there is no record.
  virtual bool GetFieldData(TField* field, void* buffer);
  // Stores the native form from buffer (nil: null) in the record buffer of the current state.
  // The checks, validation and change notice are the caller's (TField::SetData).
  virtual void SetFieldData(TField* field, const void* buffer);
  // A text field's value with every byte; these defaults go through the native form, which ends
  // at the first zero byte. Datasets that hold text with its length override them.
  virtual bool GetFieldText(TField* field, std::string& value);
  virtual void SetFieldText(TField* field, std::string_view value);
  // A stream over a blob field's value in the current record buffer.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);

  // ---- Field writes ----
  // Raises EDatabaseError "Dataset not in edit or insert mode" unless the state is edit, insert,
  // set-key, calc-fields, filter or new-value; "Field '%s' cannot be modified" for a read-only
  // or calculated field in edit, insert and set-key, and while a peek shows another row.
  void CheckFieldWritable(TField* field);
  // After a field's value was stored: the field-change notice, except in the states that compute
  // values (calc-fields, filter, new-value).
  void FieldValueChanged(TField* field);
  // Reads / writes a field as the given state shows it (old and new values).
  Variant GetStateFieldValue(TDataSetState state, TField* field);
  void SetStateFieldValue(TDataSetState state, TField* field, const Variant& value);

  // ---- Notifications ----
  // Field changes recalculate and mark the record modified; then the data sources hear of it
  // (display notices only while controls are enabled). A disconnect of the connection closes.
  virtual void DataEvent(TDataEvent event, intptr_t info);

  // ---- Peeking at other rows (grids) ----
  // A record buffer of this dataset for one grid; freed with it (or when the dataset closes).
  class TPeekBuffer {
   public:
    explicit TPeekBuffer(TDataSet* dataSet) : FDataSet(dataSet) {}
    ~TPeekBuffer();
    TPeekBuffer(const TPeekBuffer&) = delete;
    TPeekBuffer& operator=(const TPeekBuffer&) = delete;
    TDataSet* DataSet() const noexcept { return FDataSet; }

   private:
    friend class TDataSet;
    TDataSet* FDataSet;
    TRecordBuffer FBuffer = nullptr;
  };
  std::unique_ptr<TPeekBuffer> CreatePeekBuffer() { return std::make_unique<TPeekBuffer>(this); }

  // While it lives, the fields, RecNo and the calculated values show record recNo (1-based)
  // from the peek buffer; the current record, the state and the events are untouched, and no
  // field can be written. The current record itself (also while edited) is shown as it is.
  // Valid() is false when there is no such record (the fields then show the current record).
  class TPeekScope {
   public:
    TPeekScope(TPeekBuffer& buffer, int recNo);
    ~TPeekScope();
    TPeekScope(const TPeekScope&) = delete;
    TPeekScope& operator=(const TPeekScope&) = delete;
    bool Valid() const noexcept { return FValid; }

   private:
    TDataSet* FDataSet;
    TRecordBuffer FSaved = nullptr;
    TRecordBuffer FPeeked = nullptr;
    bool FValid = false;
    bool FSwapped = false;
  };

  // ---- Events ----
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnCalcFields, OnNewRecord;
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;
  TUpdateRecordEvent OnUpdateRecord;
  TUpdateErrorEvent OnUpdateError;

 protected:
  // ==== Hooks of a concrete dataset ====
  // ---- Cursor ----
  virtual void InternalOpen();   // opens the cursor; then InitFieldDefs, CreateFields, BindFields
  virtual void InternalClose();  // closes it; then BindFields(false), DestroyFields when default
  virtual bool IsCursorOpen() const { return false; }
  virtual void InternalInitFieldDefs() {}
  // Re-reads the records (Refresh); the cursor stays on the current record where it can.
  virtual void InternalRefresh() {}
  virtual void OpenCursor() { InternalOpen(); }
  virtual void CloseCursor() { InternalClose(); }
  // ---- Buffers ----
  // A record buffer for this dataset's layout; FreeRecordBuffer releases it and what it refers to.
  virtual TRecordBuffer AllocRecordBuffer();
  virtual void FreeRecordBuffer(TRecordBuffer& buffer);
  // An empty record for an insert (every field null).
  virtual void InternalInitRecord(TRecordBuffer /*buffer*/) {}
  // ---- Records and positioning ----
  // Fills buffer with the record at the cursor (gmCurrent) or moves the cursor and fills it
  // (gmNext, gmPrior), with its bookmark, bookmark flag bfCurrent and calculated fields
  // (GetCalcFields). grBOF / grEOF when there is no such record (the cursor then stands at that
  // end); the buffer's content is then of no use.
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck);
  virtual void InternalFirst() {}  // cursor before the first record
  virtual void InternalLast() {}   // cursor after the last record
  // Cursor on the record the buffer holds (by default: its bookmark).
  virtual void InternalSetToRecord(TRecordBuffer buffer);
  virtual int GetRecordCount() { return -1; }
  // The active buffer's record number; -1 when unknown.
  virtual int GetRecNo() { return -1; }
  // Cursor on record value (1-based); false when there is none. The default walks from the
  // start.
  virtual bool InternalSetRecNo(int value);
  // ---- Bookmarks ----
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer /*buffer*/) { return bfCurrent; }
  virtual void SetBookmarkFlag(TRecordBuffer /*buffer*/, TBookmarkFlag /*value*/) {}
  virtual void GetBookmarkData(TRecordBuffer /*buffer*/, TBookmark& data) { data.clear(); }
  virtual void SetBookmarkData(TRecordBuffer /*buffer*/, const TBookmark& /*data*/) {}
  // Cursor on the bookmarked record.
  virtual void InternalGotoBookmark(const TBookmark& bookmark);
  // ---- Editing ----
  virtual void InternalEdit() {}
  virtual void InternalInsert() {}
  // Stores the active buffer: a new record (insert state; bookmark flag bfEOF means append) or
  // the changed one. Leaves the cursor on the stored record.
  virtual void InternalPost();
  // Cursor on the record that follows the deleted one (or at the end).
  virtual void InternalDelete();
  virtual void InternalCancel() {}
  // ---- Calculated fields ----
  virtual void ClearCalcFields(TRecordBuffer /*buffer*/) {}
  // Computes the calculated and lookup fields of buffer when there are any.
  virtual void GetCalcFields(TRecordBuffer buffer);
  // ---- Filters and search ----
  // The next record passing the filter from the start / the end (restart) or from the current
  // one, made current; false when none.
  virtual bool FindRecord(bool /*restart*/, bool /*goForward*/) { return false; }
  // The record buffer fields read and write in the current state: calc-fields the buffer being
  // calculated, filter the one being filtered, old-value the lent old-value buffer (SetStateBuffer),
  // every other state the active buffer. Nil when there is none.
  virtual TRecordBuffer GetActiveRecBuf();

  // ---- Events (descendants extend them) ----
  virtual void DoBeforeOpen() { Fire(BeforeOpen); }
  virtual void DoAfterOpen() { Fire(AfterOpen); }
  virtual void DoBeforeClose() { Fire(BeforeClose); }
  virtual void DoAfterClose() { Fire(AfterClose); }
  virtual void DoBeforeInsert() { Fire(BeforeInsert); }
  virtual void DoAfterInsert() { Fire(AfterInsert); }
  virtual void DoBeforeEdit() { Fire(BeforeEdit); }
  virtual void DoAfterEdit() { Fire(AfterEdit); }
  virtual void DoBeforePost() { Fire(BeforePost); }
  virtual void DoAfterPost() { Fire(AfterPost); }
  virtual void DoBeforeCancel() { Fire(BeforeCancel); }
  virtual void DoAfterCancel() { Fire(AfterCancel); }
  virtual void DoBeforeDelete() { Fire(BeforeDelete); }
  virtual void DoAfterDelete() { Fire(AfterDelete); }
  virtual void DoBeforeScroll() { Fire(BeforeScroll); }
  virtual void DoAfterScroll() { Fire(AfterScroll); }
  virtual void DoBeforeRefresh() { Fire(BeforeRefresh); }
  virtual void DoAfterRefresh() { Fire(AfterRefresh); }
  virtual void DoOnCalcFields() { Fire(OnCalcFields); }
  virtual void DoOnNewRecord() { Fire(OnNewRecord); }

  // ==== Services for concrete datasets ====
  TRecordBuffer ActiveBuffer() const noexcept { return FActiveBuffer; }
  bool HasRecord() const noexcept { return FHasRecord; }
  // What GetActiveRecBuf answers in the browse state.
  TRecordBuffer BrowseRecBuf() const noexcept {
    if (FStateBuffers[dsBrowse]) return FStateBuffers[dsBrowse];
    return FHasRecord ? FActiveBuffer : nullptr;
  }
  // The browse record the fields' direct readers (TFieldDirectReader) may read now; nil when a
  // read goes through GetFieldData: another state, or a dataset that has not allowed them.
  TRecordBuffer DirectRecBuf() const noexcept {
    return FDirectReads && FState == dsBrowse ? BrowseRecBuf() : nullptr;
  }
  // A dataset allows them while what GetFieldData reads in the browse state is BrowseRecBuf.
  void SetDirectReads(bool value) noexcept { FDirectReads = value; }
  // Lends a buffer to a state (old-value, filter, new-value ...); nil returns to the default.
  void SetStateBuffer(TDataSetState state, TRecordBuffer buffer);
  // Creates the default fields from FieldDefs (when DefaultFields), binds fields to their
  // definitions and lays out the calculated area, destroys the default fields.
  virtual void CreateFields();
  // EDatabaseError "Field '%s' not found" for a data field without definition, "Type mismatch
  // for field '%s', expecting: %s actual: %s" for a differing type below the extended range.
  virtual void BindFields(bool binding);
  virtual void DestroyFields();
  // Runs OnCalcFields (and the lookups) on buffer in the calc-fields state.
  void CalculateFields(TRecordBuffer buffer);
  // A calculated field's value in a calculated area: a null byte then the native form at the
  // field's Offset.
  bool GetCalcFieldData(const uint8_t* calcArea, TField* field, void* buffer) const;
  void SetCalcFieldData(uint8_t* calcArea, TField* field, const void* buffer) const;
  // Whether OnFilterRecord accepts the record in buffer (true without a handler); runs in the
  // filter state on that buffer.
  bool RecordFilterAccepts(TRecordBuffer buffer);
  // Puts the cursor back on the active record (or the insertion point).
  void UpdateCursorPos();
  // Re-reads the active record at the cursor (else the next, else the prior; else empty) and
  // tells the data sources.
  void Resync();
  void CheckCanModify() const;
  // EDatabaseError while a peek or a search shows another row: the buffers are lent out.
  void CheckNotPeeking() const;
  // Runs operation; an EDatabaseError goes to errorEvent, whose answer fails (re-raise), aborts
  // (EAbort) or retries.
  void CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& errorEvent);
  void SetState(TDataSetState value);
  // Switches to a state for a computation; RestoreState returns to the state given back.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState value);
  void SetModified(bool value) noexcept { FModified = value; }
  [[noreturn]] void AbstractError(const char* operation) const;
  // Whether the fields' values (read from the record they show) match the keys under Locate's
  // options.
  bool RecordMatches(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                     TLocateOptions options) const;

 private:
  friend class TField;
  friend class TDataSource;

  void Fire(const TDataSetNotifyEvent& event) {
    if (event) event(this);
  }
  void OpenDataSet();
  void CloseDataSet();
  void AllocateBuffers();
  void FreeBuffers() noexcept;
  // Fetches into the spare buffer and makes it current on success.
  bool Fetch(TGetMode mode);
  void BeginInsertAppend();
  void EndInsertAppend(bool append);
  void CheckRequiredFields();
  void FreeFieldBuffers();
  void NotifyDataSources(TDataEvent event, intptr_t info) {
    // Every move notifies: a dataset read in code, with no sources and controls enabled, has
    // nothing to do.
    if (FDataSources.empty() && FDisableCount == 0) return;
    NotifyDataSourcesNow(event, info);
  }
  void NotifyDataSourcesNow(TDataEvent event, intptr_t info);
  void CalcLookupValue(TField* field);
  // From the first record on, the first whose fields match (the cursor stays there); onMatch
  // runs while the fields show it.
  bool ScanFor(const std::vector<TField*>& fields, const std::vector<Variant>& values, TLocateOptions options,
               const std::function<void()>& onMatch);
  void AddDataSource(TDataSource* source);
  void RemoveDataSource(TDataSource* source);

  std::unique_ptr<TFields> FFields;
  std::unique_ptr<TFieldDefs> FFieldDefs;
  std::vector<TDataSource*> FDataSources;
  std::vector<TPeekBuffer*> FPeekBuffers;
  TDataSetState FState = dsInactive;
  TDataSetState FDisableState = dsInactive;
  TDataEvent FEnableEvent = deDataSetChange;
  int FDisableCount = 0;
  int FCalcFieldsSize = 0;
  int FPeekDepth = 0;
  TRecordBuffer FActiveBuffer = nullptr;
  TRecordBuffer FSpareBuffer = nullptr;
  TRecordBuffer FCalcBuffer = nullptr;
  TRecordBuffer FStateBuffers[dsOpening + 1] = {};
  TBookmark FInsertBookmark;  // the record an insert goes before (empty: the end)
  bool FHasRecord = false;
  bool FBof = true;
  bool FEof = true;
  bool FModified = false;
  bool FDefaultFields = false;
  bool FFieldsFromDefs = false;  // CreateFields made one field per definition, in order
  bool FDirectReads = false;
  bool FFound = false;
  bool FFiltered = false;
  bool FHasLookupFields = false;
  TFilterOptions FFilterOptions = 0;
  std::string FFilterText;
  TFilterRecordEvent FOnFilterRecord;
};
