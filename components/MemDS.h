// TMemDataSet: the dataset whose records live in a record set of the record store (TData; a
// TMemData here, the provider record set in the query datasets). It turns field descriptions
// into field definitions, lays out the dataset's record buffers around the record set's records,
// and forwards navigation, field access, bookmarks, editing, cached updates, filters and Locate
// to the record set.
//
// Record buffer layout: the record set's record (RecordSize bytes), its calculated area
// (CalcRecordSize), the dataset's own calculated area (CalcFieldsSize: a null byte and the value
// of each calculated or lookup field), the record information block (record number int32, update
// status, bookmark flag, complex-references flag) and the record set's bookmark.
//
// References: a buffer filled from the record set holds one reference of its own to each blob,
// variant object and heap string of the record (complex-references flag set), so that what it
// shows stays alive while the record set changes; refilling or freeing the buffer releases them.
// A buffer being edited owns its own copies of heap strings and variant objects and shares the
// record's blobs (edited in cached mode, so Cancel restores them); one being inserted owns new
// ones. A successful Post hands them to the record set.
//
// Server operations: with cached updates off, the record set calls PerformAppend, PerformUpdate
// and PerformDelete before it changes anything (an error leaves the record set unchanged and the
// dataset in its edit state); with cached updates on, ApplyUpdates calls them per change. They do
// nothing here; the query datasets override them and the batch operations.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/CRXml.h"
#include "core/MemDataStore.h"
#include "platform/db/DataSet.h"
#include "platform/db/FieldClasses.h"

class TMemDataSet;

// The update-record event's answer that asks for the dataset's own processing of the change.
inline constexpr uint8_t UpdateActionDefault = 10;

class TMemDataSet : public TDataSet {
 public:
  explicit TMemDataSet(TComponent* owner = nullptr);
  ~TMemDataSet() override;

  // ---- Record set ----
  // The record set (a TMemData unless a descendant installs another); never nil.
  TData& IRecordSet() const noexcept { return *FIRecordSet; }
  // The record set as the in-memory store (nil for a record set of another kind).
  TMemData* MemData() const noexcept { return dynamic_cast<TMemData*>(FIRecordSet.get()); }
  // Prepares the record set (once) and describes its fields; UnPrepare closes the dataset first.
  virtual void Prepare();
  virtual void UnPrepare();
  bool Prepared() const { return FIRecordSet->Prepared(); }

  // ---- Options ----
  // A definition is required only when its description is and this switch is on (the default).
  bool RequiredFields() const noexcept { return FRequiredFields; }
  void SetRequiredFields(bool value) { FRequiredFields = value; }
  // On (the default): calculated and lookup fields are described to the record set, which then
  // sorts, filters and locates by them too; the values live in its calculated area. Off: the
  // dataset keeps them in its own area. Takes effect at the next open.
  bool RecordSetCalcFields = true;
  // Integer and float fields get the range their precision allows when opened.
  bool NumberRange = false;
  // The record set's sort order ("Name DESC; Age"); a change re-sorts an open dataset.
  const std::string& IndexFieldNames() const;
  void SetIndexFieldNames(const std::string& value);
  // EDatabaseError "Cannot perform this operation on an open dataset" for a change while open.
  bool CachedUpdates() const noexcept { return FCachedUpdates; }
  void SetCachedUpdates(bool value);
  // From another TMemDataSet: CachedUpdates and RequiredFields; else the platform's assignment.
  void Assign(TPersistent* source) override;

  // ---- Field descriptions and types ----
  // The description behind a field (for a calculated or lookup field the calculated description
  // of its name, nil when the dataset keeps it itself). EAssertionFailed for a nil field or one
  // of another dataset.
  [[gnu::always_inline]] TFieldDesc* GetFieldDesc(const TField* field) const {
    // A data field of this dataset finds its descriptor by its number: every value read asks.
    if (field != nullptr && field->DataSet() == this && field->FieldKind() == fkData) {
      const TFieldDescs& descs = FIRecordSet->Fields();
      const int fieldNo = field->FieldNo();
      if (fieldNo > 0 && fieldNo <= descs.Count()) return descs.begin()[fieldNo - 1].get();  // in range
    }
    return FindFieldDesc(field);
  }
  // The field type of a data-type code; EAssertionFailed "Unknown data type" for a code without
  // one.
  virtual TFieldType GetFieldType(TDataType dataType) const;
  virtual TFieldType GetFieldTypeByDesc(const TFieldDesc& desc) const { return GetFieldType(desc.DataType); }
  // The data-type code of a field type (0 for a type the record store cannot hold).
  static TDataType GetDataType(TFieldType fieldType) noexcept;
  // The definition's size: the Length of strings (at least 1) and binary values, the fraction
  // digits of the microsecond types, 0 for others.
  virtual int GetFieldDefSize(TFieldType fieldType, const TFieldDesc& desc) const;
  // The child definitions of an object or array definition, from its object type, recursively.
  void AddChildDefs(TFieldDef& parent, const TObjectType& type, int depth);
  // Range of an integer or float definition with a precision: -(10^p - 1) .. 10^p - 1, clamped
  // to what the field's type holds.
  virtual void SetNumberRange(TFieldDef& fieldDef);

  // ---- Cached updates ----
  // Posts a pending edit, then applies every change (PerformUpdate, PerformAppend, PerformDelete
  // or the update-record event) in the order of each record's first change. EDatabaseError "Not
  // in cached update mode" outside cached mode; an uaAbort answer ends the apply silently.
  virtual void ApplyUpdates();
  void CommitUpdates();
  // Forgets the changes already applied, applying nothing: the others stay pending.
  void CommitAppliedUpdates();
  void CancelUpdates();
  void RestoreUpdates();
  void RevertRecord();
  // The current record's status (isUnmodified outside cached mode or on an empty dataset).
  TItemStatus UpdateStatus();
  bool UpdatesPending() const { return FIRecordSet->GetUpdatesPending(); }

  // ---- Searching and filters ----
  // Locate options beyond the platform's: a linear search from the record after the current one
  // onwards, or from the one before it back to the first.
  static constexpr TLocateOptions loLocateForward = 0x08;
  static constexpr TLocateOptions loLocateBackward = 0x10;
  bool Locate(const std::string& keyFields, const std::vector<Variant>& keyValues,
              TLocateOptions options) override;
  using TDataSet::Locate;
  std::vector<Variant> Lookup(const std::string& keyFields, const std::vector<Variant>& keyValues,
                              const std::string& resultFields) override;
  void SetFiltered(bool value) override;
  void SetFilterText(const std::string& value) override;
  void SetFilterOptions(TFilterOptions value) override;
  void SetOnFilterRecord(TFilterRecordEvent value) override;

  // ---- Bookmarks ----
  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;

  // ---- Field data ----
  bool GetFieldData(TField* field, void* buffer) override;
  void SetFieldData(TField* field, const void* buffer) override;
  bool GetFieldText(TField* field, std::string& value) override;
  void SetFieldText(TField* field, std::string_view value) override;
  // A TBlobStream. EDatabaseError "Field is not BLOB" for a field without a blob description.
  std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode) override;
  // The record buffer fields read in the current state (see GetActiveRecBuf).
  TRecordBuffer CurrentRecBuf() { return GetActiveRecBuf(); }
  // The same, with the browse state outside an apply answered inline: every field read asks.
  TRecordBuffer FieldRecBuf() {
    if (State() == dsBrowse && !FReadBuffer && !FApplying) return BrowseRecBuf();
    return GetActiveRecBuf();
  }

  // ---- XML (components/MemDSXml.cpp) ----
  // The "dt:type" and type attributes of a column. EDatabaseError "Data type is not supported"
  // for a code without an XML type.
  virtual void WriteFieldXMLDataType(TField* field, const TFieldDesc& desc, XmlTextWriter& writer);
  // "name", "rs:number", nullability, writability, base column, key and auto-increment marks.
  virtual void WriteFieldXMLAttributes(TField* field, const TFieldDesc& desc, XmlTextWriter& writer,
                                       const std::string& uniqueName);
  // The escaped UTF-8 text of the field's value in the current record ("." as decimal separator).
  virtual void WriteXMLData(TField* field, const TFieldDesc& desc, std::string& text);

  // ---- Notifications ----
  // A detail dataset goes to its first record when its master moved to another record, and only
  // re-reads the current one when the master stayed.
  void DataEvent(TDataEvent event, intptr_t info) override;

 protected:
  // The record set is applying or committing cached changes: the record in hand is in the
  // apply buffers.
  bool ApplyingRecords() const noexcept { return FApplying; }
  // ---- Record set hooks ----
  // Creates a TMemData and installs it with SetIRecordSet.
  virtual void CreateIRecordSet();
  // Installs a record set: the cached-updates switch and the callbacks (server operations, apply).
  virtual void SetIRecordSet(std::unique_ptr<TData> recordSet);
  // Turns the field descriptions into field definitions (data fields that are not hidden object
  // attributes; unknown types are passed over).
  virtual void CreateFieldDefs();
  // What CreateFieldDefs makes of a description; false when it makes no definition of it.
  struct TDefValues {
    TFieldType Type = ftUnknown;
    int Size = 0, Precision = 0;
    bool Required = false;
    TFieldAttributes Attributes = 0;
    bool HasChildren = false;  // an object or array column with its object type
  };
  bool DefValuesOf(const TFieldDesc& desc, TDefValues& values) const;
  // Whether the definitions are those CreateFieldDefs would make of the record set's descriptions
  // now (a cursor opened again on the same columns).
  bool FieldDefsMatchDescs() const;

  // ---- Server operations (the query datasets override these) ----
  virtual void PerformAppend() {}
  virtual void PerformUpdate() {}
  virtual void PerformDelete() {}
  virtual bool UsesBatchUpdate() const { return false; }
  virtual bool IsBatchFull() const { return false; }
  // EAssertionFailed "Should be overridden" here.
  virtual void FlushBatch();

  // ---- Dataset hooks ----
  void InternalOpen() override;
  void InternalClose() override;
  bool IsCursorOpen() const override { return FIRecordSet->Active(); }
  void InternalInitFieldDefs() override;
  TRecordBuffer AllocRecordBuffer() override;
  void FreeRecordBuffer(TRecordBuffer& buffer) override;
  void InternalInitRecord(TRecordBuffer buffer) override;
  TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) override;
  void InternalFirst() override { FIRecordSet->SetToBegin(); }
  void InternalLast() override { FIRecordSet->SetToEnd(); }
  int GetRecordCount() override { return FIRecordSet->GetRecordCount(); }
  int GetRecNo() override;
  bool InternalSetRecNo(int value) override;
  TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override;
  void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) override;
  void GetBookmarkData(TRecordBuffer buffer, TBookmark& data) override;
  void SetBookmarkData(TRecordBuffer buffer, const TBookmark& data) override;
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  void InternalSetToRecord(TRecordBuffer buffer) override;
  void InternalEdit() override;
  void InternalPost() override;
  void InternalDelete() override;
  void InternalCancel() override;
  void ClearCalcFields(TRecordBuffer buffer) override;
  bool FindRecord(bool restart, bool goForward) override;
  // Final: FieldRecBuf answers its browse case without it.
  TRecordBuffer GetActiveRecBuf() final;
  void DoAfterScroll() override;

  // ---- Record buffer parts ----
  int32_t RecBufSize() const noexcept { return FRecBufSize; }
  TItemStatus RecordStatus(TRecordBuffer buffer) const noexcept;
  // Releases the references a buffer holds (see the header comment); nothing when it holds none.
  void ReleaseBufferRefs(TRecordBuffer buffer);
  // Releases the references of every record buffer of the dataset: done before the record set
  // frees the records and strings they point into (a re-query).
  void ReleaseAllBufferRefs();
  // Direct readers (TFieldDirectReader) for the data fields of the forms the record set reads
  // directly, chosen at the open and again after the record set described its fields anew (a
  // re-query), removed at the close; they read only while no other buffer is lent for field reads
  // (a Lookup, an apply).
  void ChooseDirectReaders();

 private:
  friend class TBlobStream;
  struct TApplyScope;
  // A record buffer of this dataset for the duration of a scope.
  class TTempBuffer {
   public:
    explicit TTempBuffer(TMemDataSet& ds) : FDataSet(ds), FBuffer(ds.AllocRecordBuffer()) {}
    ~TTempBuffer() { FDataSet.FreeRecordBuffer(FBuffer); }
    TTempBuffer(const TTempBuffer&) = delete;
    TTempBuffer& operator=(const TTempBuffer&) = delete;
    TRecordBuffer get() const noexcept { return FBuffer; }

   private:
    TMemDataSet& FDataSet;
    TRecordBuffer FBuffer;
  };

  // Record information block.
  int32_t& RecNoOf(TRecordBuffer buffer) const noexcept;
  uint8_t& InfoByte(TRecordBuffer buffer, int index) const noexcept;
  void FillRecordInfo(TRecordBuffer buffer);
  void ReleaseBlobRefs(TRecordBuffer buffer);
  void DropDirectReaders();
  void SyncDirectReads() { SetDirectReads(FDirectReaders && !FReadBuffer && !FApplying); }
  // Calculated fields in the record set.
  void DescribeCalcFields();
  void CalcRecordSetFields(void* recBuf);
  void CheckCachedUpdates() const;
  void ResyncHere();
  // ApplyUpdates and CommitUpdates: the record set's step under the apply scope, the cursor kept.
  void RunCachedUpdates(void (TData::*step)());
  void AdjustPersistentFields();
  void ComputeLayout();

  // Cached updates (components/MemDS.cpp).
  void ApplyRecord(TUpdateKind kind, TUpdateAction& action, bool lastItem);
  void DefaultApplyRecord(TUpdateKind kind, TUpdateAction& action, bool lastItem);

  // Filters and Locate (components/MemDSLocate.cpp).
  void InstallFilter(bool filtered);
  void FilterChanged();
  bool FilterRecordFunc(void* recBuf);
  bool LocateRecord(const std::vector<TField*>& fields, const std::vector<Variant>& values,
                    TLocateOptions options);
  bool UseDatasetLocate(const std::vector<TField*>& fields) const;

  // GetFieldDesc for the fields its fast path does not answer.
  TFieldDesc* FindFieldDesc(const TField* field) const;
  std::unique_ptr<TData> FIRecordSet;
  bool FRequiredFields = true;
  bool FCachedUpdates = false;
  int32_t FCalcOfs = 0;      // the dataset's calculated area
  int32_t FInfoOfs = 0;      // the record information block
  int32_t FBookmarkOfs = 0;  // the record set's bookmark
  int32_t FRecBufSize = 0;
  TRecordBuffer FOldBuffer = nullptr;     // the old record, for the old-value state
  TRecordBuffer FFilterBuffer = nullptr;  // the record a filter event judges
  TRecordBuffer FReadBuffer = nullptr;    // a record Lookup reads its result fields from
  TRecordBuffer FApplyNewBuffer = nullptr;
  TRecordBuffer FApplyOldBuffer = nullptr;
  TRecordBuffer FCalcBuffer = nullptr;      // a record the record set has calculated
  std::vector<TRecordBuffer> FLiveBuffers;  // every buffer AllocRecordBuffer gave and not freed yet
  bool FApplying = false;
  bool FDirectReaders = false;  // the fields got their direct readers at the open
  TBookmark FParentBookmark;    // the master's record at the last parent scroll
};

// ---- TMemDSUtils --------------------------------------------------------------------------

namespace TMemDSUtils {
// The blob of a blob field in the dataset's current record buffer (nil when there is no record).
// EDatabaseError "Field is not BLOB" for another field.
TBlob* GetBlob(TMemDataSet& dataSet, TField* field);
}  // namespace TMemDSUtils
