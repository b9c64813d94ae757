// The abstract record set: owns the field descriptions and the string heap, lays out records,
// reads and writes field values in record buffers (raw, as variants, as blobs), holds the filter
// and cached-update switches, and declares the navigation, editing and cached-update operations
// that the in-memory record store implements and the provider record sets extend.
//
// Field numbers are 1-based; a number outside 1..GetFieldCount() is an assertion failure.
// Record buffers are RecordSize() + CalcRecordSize() bytes from AllocRecBuf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/MemBlob.h"
#include "core/MemBlocks.h"
#include "core/MemFieldDesc.h"
#include "platform/db/FieldTypes.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Variant.h"

struct TFieldDirectReader;

// TUpdateKind and TUpdateAction: what an apply of a cached change does, and what the dataset
// answers (the dataset model's own).

// The null mark of a field, one byte after the record's values: 0 holds a value, any other mark
// is NULL. Beyond 1 it tells why a value the server holds reads as NULL: such a cell is written
// only when set (a post of other fields leaves it as the server has it).
inline constexpr uint8_t NullMarkNull = 1;
inline constexpr uint8_t NullMarkZeroDate = 2;     // the zero date '0000-00-00'
inline constexpr uint8_t NullMarkPartialDate = 3;  // a date no date-time holds ('2024-00-10'): never set

// A set of item statuses (bit 1 << TItemStatus).
using TItemTypes = uint8_t;
inline constexpr TItemTypes ItemTypesUnmodifiedModifiedInserted = 7;

// The exchange forms of date and time values (GetDateFromBuf / PutDateToBuf).
enum TDateFormat : uint8_t {
  dfMSecs = 0,     // double: milliseconds since 0001-01-01 (that day counted as day 1)
  dfDateTime = 1,  // the stored 8-byte date-time value unchanged
  dfTime = 2,      // int32: milliseconds since midnight
  dfDate = 3,      // int32: day number, 0001-01-01 being day 1
};

// A record position. The in-memory store fills RefreshIteration, Item and ItemStamp (the item's
// Stamp, which tells the record from a later one in the same slot); the base knows only the
// record number (-1 for none).
struct TRecBookmark {
  uint32_t RefreshIteration = 0;
  TItemHeader* Item = nullptr;
  int32_t Order = -1;
  uint32_t ItemStamp = 0;
};

// One column of a client-side sort order and the list of them.
struct TSortColumn {
  TFieldDesc* FieldDesc = nullptr;
  bool DescendingOrder = false;
  bool CaseSensitive = true;
};

class TSortColumns {
 public:
  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  TSortColumn* Items(int index) const;  // assertion failure outside 0..Count-1
  TSortColumn* Add();
  void Clear() noexcept { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TSortColumn>> FItems;
};

// A parsed filter text, evaluated against record buffers.
class TFilterExpression {
 public:
  virtual ~TFilterExpression() = default;
  // True when the record passes.
  virtual bool Evaluate(void* recBuf) = 0;
};

class TData {
 public:
  using TNotifyFunc = std::function<void()>;
  using TApplyFunc = std::function<void(TUpdateKind kind, TUpdateAction& action, bool lastItem)>;
  // True when the record passes.
  using TFilterFunc = std::function<bool(void* recBuf)>;
  using TRecordFunc = std::function<void(void* recBuf)>;

  TData();
  // Derived record sets close themselves in their own destructor: virtual calls made here reach
  // only this class.
  virtual ~TData();
  TData(const TData&) = delete;
  TData& operator=(const TData&) = delete;

  // ---- Lifecycle ----
  virtual void Open();
  // Never leaves the record set active; an error of the provider's close is raised afterwards.
  virtual void Close();
  virtual void Prepare();
  virtual void UnPrepare();
  virtual void Reopen();
  bool Active() const noexcept { return FActive; }
  bool Prepared() const noexcept { return FPrepared; }

  // ---- Fields and layout ----
  // The descriptor class the provider hook instantiates.
  virtual TFieldDescClass GetFieldDescType() const;
  // Describes the fields (when the record set describes its own), makes their names unique and
  // lays out the record.
  virtual void InitFields();
  virtual void ClearFields();
  virtual int GetFieldCount() const;
  int GetFieldDescCount() const noexcept { return FFields.Count(); }
  const TFieldDescs& Fields() const noexcept { return FFields; }
  // The descriptor of field FieldNo (1-based).
  TFieldDesc& FieldOf(int fieldNo) const {
    if (fieldNo < 1 || fieldNo > FFields.Count()) RaiseFieldNoOutOfRange(fieldNo);
    return *FFields.begin()[fieldNo - 1];  // checked just above
  }
  TFieldDesc* FindField(std::string_view name) const { return FFields.FindField(name); }
  TFieldDesc* FieldByName(std::string_view name) const { return FFields.FieldByName(name); }
  // "[" + index + "]": the name of an array element's descriptor.
  virtual std::string GetArrayElementName(int index) const;
  int32_t RecordSize() const noexcept { return FRecordSize; }
  int32_t CalcRecordSize() const noexcept { return FCalcRecordSize; }
  int32_t DataSize() const noexcept { return FDataSize; }
  int32_t CalcDataSize() const noexcept { return FCalcDataSize; }
  bool HasComplexFields() const noexcept { return FHasComplexFields; }
  bool HasBlobFields() const;
  // Recomputes HasComplexFields, which fields CreateComplexFields visits, and how GetField and
  // PutField reach each field, from the descriptors (laid out).
  void UpdateComplexFieldsFlag();
  virtual bool IsBlobFieldType(TDataType dataType) const;
  virtual bool IsComplexFieldType(TDataType dataType) const;
  // Whether line breaks are expanded to CR LF when string fields are read.
  virtual bool GetConvertEOL() const;
  TStringHeap& StringHeap() noexcept { return *FStringHeap; }

  // ---- Record buffers ----
  // RecordSize + CalcRecordSize zero bytes. FreeRecBuf releases the memory only.
  void* AllocRecBuf() const;
  static void FreeRecBuf(void* recBuf) noexcept;
  // Zero-fills the record when the layout has complex fields, then sets every field null.
  void InitRecord(void* recBuf);

  // ---- Field access ----
  // Null indicator set (a blob field also needs an empty or missing blob); a child of an object
  // field is always null here. Both run for every field of every record: inline, the blob case
  // not.
  bool GetNull(int fieldNo, const void* recBuf) { return NullOf(FieldOf(fieldNo), fieldNo, recBuf); }
  // The same for a descriptor already looked up (FieldOf(fieldNo)).
  bool GetNull(const TFieldDesc& field, int fieldNo, const void* recBuf) {
    return NullOf(field, fieldNo, recBuf);
  }
  // Setting a blob field null also empties its blob (in cached mode, so Cancel restores it); a
  // blob that held '' is changed too, so that the change is written.
  void SetNull(int fieldNo, void* recBuf, bool value) {
    const TFieldDesc& f = FieldOf(fieldNo);
    const int32_t at = FDataSize + fieldNo - 1;
    const bool wasNull = Marshal::ReadByte(recBuf, at) != 0;
    Marshal::WriteByte(recBuf, at, value ? 1 : 0);
    if (value && f.FieldDescKind == fdkData && IsBlobFieldType(f.DataType))
      EmptyBlobOfNull(f, recBuf, wasNull);
  }
  // The null mark (NullMarkNull ..) of a field that is no blob and no attribute.
  uint8_t GetNullMark(int fieldNo, const void* recBuf) const {
    return Marshal::ReadByte(recBuf, FDataSize + fieldNo - 1);
  }
  // The field's value in its exchange form (ReadFieldData) into dest, which holds destSize
  // bytes; isNull reports a null field (dest is then untouched).
  void GetField(int fieldNo, const void* recBuf, void* dest, size_t destSize, bool& isNull);
  // Writes the exchange form from source (sourceSize bytes) and clears the null indicator.
  void PutField(int fieldNo, void* recBuf, const void* source, size_t sourceSize);
  // Exchange forms: dtString, dtGuid, dtExtString: zero-terminated ANSI text; dtWideString,
  // dtExtWideString: zero-terminated UTF-16; dtDate: int32 day number; dtTime: int32
  // milliseconds; dtDateTime: double milliseconds (TDateFormat); dtUInt32: int64; dtVariant: a
  // constructed Variant; dtVarBytes, dtExtVarBytes: 16-bit count then the bytes; dtFmtBCD: TBcd;
  // every other type: its Size bytes as stored (blob fields: the reference).
  // Reading cuts text to destSize (at a character boundary) and expands LF to CR LF when
  // GetConvertEOL answers true; a destination too small for a fixed-size form is an assertion
  // failure, as is a nil heap reference.
  void ReadFieldData(const TFieldDesc& field, const void* recBuf, void* dest, size_t destSize);
  // Writing cuts text to the field (at a character boundary) and replaces heap blocks. Raises
  // EConvertError for a dtUInt32 value out of range; EAssertionFailed ("Invalid data size") for
  // var-bytes longer than the field's Length or than the source.
  void WriteFieldData(const TFieldDesc& field, void* recBuf, const void* source, size_t sourceSize);
  // ANSI text fields (dtString, dtExtString) with every byte, zero bytes included (the exchange
  // form ends at the first zero): false for a null field; LF expanded as ReadFieldData does.
  // PutFieldText cuts the text to the field at a character boundary and clears the null
  // indicator. Other types are an assertion failure.
  bool GetFieldText(int fieldNo, const void* recBuf, std::string& value);
  void PutFieldText(int fieldNo, void* recBuf, std::string_view value);
  // A reader of field fieldNo's value straight from a record buffer of this store, for a dataset
  // field that reads it as ReadFieldData and GetFieldText do; false for a form it does not read
  // (blobs, objects, wide text and other rarer forms keep the usual path).
  bool DirectReaderOf(int fieldNo, TFieldDirectReader& reader);
  // Changes whenever the fields are described or laid out anew: a reader of an older layout is
  // not used.
  const uint64_t& LayoutStamp() const noexcept { return FLayoutStamp; }
  static bool IsAnsiTextType(TDataType dataType) noexcept {
    return dataType == dtString || dataType == dtExtString;
  }
  // Null fields give Null. EConvertError "Cannot convert type <code>" for types without a
  // variant form (unknown, blob, object, reference, array, table).
  virtual Variant GetFieldAsVariant(int fieldNo, const void* recBuf);
  // Null or Empty sets the field null. A value the field's type does not accept raises
  // EConvertError "Cannot convert type <code>"; an integer out of the field's range raises
  // EConvertError; nothing is stored then.
  virtual void PutFieldAsVariant(int fieldNo, void* recBuf, const Variant& value);
  // Converts the 8-byte stored date-time at buf into the exchange form at date.
  [[gnu::noinline]] void GetDateFromBuf(const void* buf, void* date, TDateFormat format);
  [[gnu::noinline]] void PutDateToBuf(void* buf, const void* date, TDateFormat format);
  // The same for milliseconds (dfMSecs), the form every date-time field is read and written in,
  // without the dispatch on the format.
  [[gnu::noinline]] static void ReadMSecs(const void* buf, void* date);
  [[gnu::noinline]] static void WriteMSecs(void* buf, const void* date);

  // ---- Blobs ----
  // The blob of a blob field. EDatabaseError "Field is not BLOB" for another field;
  // EAssertionFailed "Object for field (n) = nil" when the record holds none.
  TBlob* GetBlob(int fieldNo, const void* recBuf);
  // Stores a blob in the record, which takes over the caller's reference (the previous one is
  // not released).
  void SetBlob(int fieldNo, void* recBuf, TBlob* blob);
  // Reads from the field's blob (or its rollback copy); a wide blob reads as ANSI text unless
  // raw. Returns the bytes copied.
  uint32_t ReadBlob(int fieldNo, const void* recBuf, uint32_t position, uint32_t count, void* dest,
                    bool fromRollback = false, bool raw = false);
  // Switch the blob to cached mode, then write / truncate / resize. For a wide blob, positions
  // and sizes are ANSI ones and the bytes ANSI text unless raw. Each gives the field a value (a
  // size of 0 is ''); SetNull makes it NULL.
  void WriteBlob(int fieldNo, void* recBuf, uint32_t position, uint32_t count, const void* source,
                 bool raw = false);
  void TruncateBlob(int fieldNo, void* recBuf, uint32_t size, bool raw = false);
  void SetBlobSize(int fieldNo, void* recBuf, uint32_t newSize, bool raw = false);
  // 0 for a null field; a wide blob gives its ANSI length unless raw.
  uint32_t GetBlobSize(int fieldNo, const void* recBuf, bool fromRollback = false, bool raw = false);

  // ---- Complex fields (objects and heap blocks a record holds) ----
  // CreateComplexField for each data field of a complex type.
  virtual void CreateComplexFields(void* recBuf, bool withBlobs);
  // Data fields only: a new blob (withBlobs), a new variant object, a nil heap reference.
  // index is 0-based.
  virtual void CreateComplexField(void* recBuf, int index, bool withBlobs);
  // Releases blobs (withBlobs), variant objects and heap blocks; a reference whose object or
  // block is gone is cleared in the record.
  virtual void FreeComplexFields(void* recBuf, bool withBlobs);
  // Copies variant values into dest's objects and duplicates heap blocks; blobs are not copied.
  virtual void CopyComplexFields(const void* source, void* dest);
  // One more reference to every object and heap block. EAssertionFailed "Shared object for
  // <name>=nil" when an object is missing.
  virtual void AddRefComplexFields(void* recBuf);
  // Cancels every blob's pending changes, then frees the other complex fields.
  virtual void CancelComplexFields(void* recBuf);
  // Fills recBuf with the current record, with its own variant objects and heap blocks (blobs
  // stay shared and are edited in cached mode). recBuf's former content is overwritten.
  void EditRecord(void* recBuf);
  // Stores the edited record: UpdateRecord, commits its blobs and releases the replaced
  // record's complex fields. Afterwards the record set owns recBuf's complex fields.
  void PostRecord(void* recBuf);

  // ---- Navigation and editing (the record store implements these) ----
  virtual bool GetEof() const;
  virtual bool GetBof() const;
  virtual int32_t GetRecordCount() const;
  virtual int32_t GetRecordNo() const;
  virtual void SetRecordNo(int32_t value);
  virtual void GetRecord(void* recBuf) = 0;
  virtual void GetNextRecord(void* recBuf) = 0;
  virtual void GetPriorRecord(void* recBuf) = 0;
  virtual void PutRecord(const void* recBuf) = 0;
  virtual void AppendRecord(const void* recBuf) = 0;
  virtual void InsertRecord(const void* recBuf) = 0;
  virtual void UpdateRecord(const void* recBuf) = 0;
  virtual void DeleteRecord() = 0;
  virtual void SetToBegin();
  virtual void SetToEnd();
  // The base bookmark carries the record number only.
  virtual void GetBookmark(TRecBookmark& bookmark);
  virtual void SetToBookmark(const TRecBookmark* bookmark);
  virtual bool BookmarkValid(const TRecBookmark* bookmark);
  // -1, 0, 1: two nil bookmarks are equal, a nil one comes after any other, else the order of
  // the record numbers.
  virtual int CompareBookmarks(const TRecBookmark* a, const TRecBookmark* b);

  // ---- Callbacks of the dataset layer ----
  virtual void NotifyInsertRecord();
  virtual void NotifyDeleteRecord();
  virtual void NotifyUpdateRecord();
  virtual void NotifyApplyRecord(TUpdateKind kind, TUpdateAction& action, bool lastItem);
  TNotifyFunc OnInsertRecord, OnDeleteRecord, OnUpdateRecord;
  TApplyFunc OnApplyRecord;
  TNotifyFunc OnInitFields;  // after the provider described the fields
  // Appends a field description of this store's field class with the next field number; for
  // InternalInitFields and OnInitFields (a dataset describes its calculated fields there).
  TFieldDesc& AddFieldDesc(const std::string& name, TDataType type, uint16_t size, uint16_t length);
  TRecordFunc OnCalcFields;  // computes the calculated fields of a record

  // ---- Cached updates (the record store implements these) ----
  bool CachedUpdates() const noexcept { return FCachedUpdates; }
  // Switching off cancels pending updates first; switching on shows unmodified, modified and
  // inserted records.
  void SetCachedUpdates(bool value);
  virtual TItemStatus GetUpdateStatus();
  virtual uint8_t GetUpdateResult();
  virtual bool GetUpdatesPending();
  virtual void SetCacheRecBuf(void* newBuf, void* oldBuf);
  virtual void ApplyUpdates();
  virtual void CommitUpdates();
  virtual void CommitAppliedUpdates();
  virtual void CancelUpdates();
  virtual void RestoreUpdates();
  virtual void RevertRecord();
  virtual void GetOldRecord(void* recBuf);

  // ---- Filter ----
  const std::string& FilterText() const noexcept { return FFilterText; }
  // Nothing for an unchanged text. While active the new filter is built first, so a bad text
  // raises and the old filter stays in force.
  virtual void SetFilterText(const std::string& text);
  TItemTypes FilterItemTypes() const noexcept { return FFilterItemTypes; }
  virtual void SetFilterItemTypes(TItemTypes value);
  // Re-evaluates which records pass after a filter changed.
  virtual void FilterUpdated();
  bool HasFilter() const noexcept { return FilterFunc || FilterMDFunc || FFilterExpression; }
  TFilterExpression* FilterExpression() const noexcept { return FFilterExpression.get(); }
  TFilterFunc FilterFunc;    // the record filter
  TFilterFunc FilterMDFunc;  // the master/detail filter
  bool FilterCaseInsensitive = false;
  bool FilterNoPartialCompare = false;

  // ---- Options ----
  bool TrimFixedChar = false;  // strip trailing blanks of fixed-length strings read as variants
  bool TrimVarChar = false;    // the same for other strings
  bool EnableEmptyStrings = false;

 protected:
  // Provider hooks; empty here.
  virtual void InternalPrepare() {}
  virtual void InternalUnPrepare() {}
  virtual void InternalOpen() {}
  virtual void InternalClose() {}
  virtual void InternalInitFields() {}
  // Bof and Eof true, no records.
  virtual void InitData();
  virtual void FreeData();
  // Parses a non-empty, trimmed filter text; raises for a bad text.
  virtual std::unique_ptr<TFilterExpression> ParseFilter(const std::string& text) = 0;

  TFieldDescs FFields;
  std::unique_ptr<TStringHeap> FStringHeap;
  int32_t FRecordSize = 0;
  int32_t FCalcRecordSize = 0;
  int32_t FDataSize = 0;
  int32_t FCalcDataSize = 0;
  int32_t FRecordCount = 0;
  int32_t FRecordNoOffset = 0;
  bool FBof = true;
  bool FEof = true;
  bool FActive = false;
  bool FPrepared = false;
  bool FDescribeFields = true;  // InitFields, Close and UnPrepare re-create the descriptors
  bool FHasComplexFields = false;
  bool FCachedUpdates = false;
  TItemTypes FFilterItemTypes = 0;
  std::string FFilterText;
  std::unique_ptr<TFilterExpression> FFilterExpression;

 private:
  uint64_t FLayoutStamp = 0;
  // Field access runs for every field of every record: the check stays inline, its failure not.
  [[noreturn]] void RaiseFieldNoOutOfRange(int fieldNo) const;
  void BuildFilter();
  // How GetField and PutField reach each field (index FieldNo - 1) without its descriptor, set
  // from the descriptors with the layout. Fields of the forms every row of a typical result has
  // (fixed-size values, date-times, inline text) that no parent holds and that are not blobs get
  // their own kind; every other field is faDescriptor and goes through its descriptor.
  enum TFieldAccessKind : uint8_t {
    faDescriptor = 0,
    faCopy1,
    faCopy2,
    faCopy4,
    faCopy8,
    faDateTime,    // dtDateTime: milliseconds in and out
    faInlineText,  // dtString
  };
  struct TFieldAccess {
    uint32_t Offset;
    uint16_t Size;
    TFieldAccessKind Kind;
  };
  std::vector<TFieldAccess> FFieldAccess;
  // The kind of a field's entry; faDescriptor unless it is one of the forms named there.
  TFieldAccessKind FieldAccessKind(const TFieldDesc& field) const;
  // GetField and PutField for the other fields (and numbers outside the list). Out of line, so that
  // the fields of an access kind are reached without saving registers for them.
  [[gnu::noinline]] void GetFieldByDescriptor(int fieldNo, const void* recBuf, void* dest, size_t destSize,
                                              bool& isNull);
  [[gnu::noinline]] void PutFieldByDescriptor(int fieldNo, void* recBuf, const void* source,
                                              size_t sourceSize);
  // GetField and PutField for a field of a kind other than faDescriptor.
  [[gnu::always_inline]] void ReadFastField(const TFieldAccess& access, const void* recBuf, void* dest,
                                            size_t destSize);
  [[gnu::always_inline]] void WriteFastField(const TFieldAccess& access, void* recBuf, const void* source,
                                             size_t sourceSize);
  // Indexes of the data fields of a complex type: every record of an append visits them.
  std::vector<int> FComplexFieldIndexes;
  // The same split: the record offsets of the heap texts, the indexes of the blobs and variants.
  // Every record a dataset moves to takes and drops a reference through them.
  std::vector<uint32_t> FHeapRefOffsets;
  std::vector<int> FObjectRefIndexes;
  // Attributes of object fields are reached through their parent object, not written here.
  void CheckWritable(const TFieldDesc& field) const;
  [[noreturn]] void RaiseHeldByParent(const TFieldDesc& field) const;
  TBlob* FieldBlob(const TFieldDesc& field, const void* recBuf) const;
  // ReadFieldData and WriteFieldData, inline in MemData.cpp.
  void ReadFieldValue(const TFieldDesc& field, const void* recBuf, void* dest, size_t destSize);
  void WriteFieldValue(const TFieldDesc& field, void* recBuf, const void* source, size_t sourceSize);
  // The forms ReadFieldData and WriteFieldData pass on. Kept out of line: inlined, they would
  // make the dispatch of every fixed-size value save and restore registers.
  // Inline text in a dtString field of fieldSize bytes (the field's Size).
  [[gnu::noinline]] void ReadInlineText(size_t fieldSize, const uint8_t* p, void* dest, size_t destSize);
  // The text ReadInlineText does not copy as it is: without a count, cut, or with line breaks expanded.
  [[gnu::noinline]] void ReadOtherInlineText(size_t fieldSize, const uint8_t* p, void* dest, size_t destSize);
  [[gnu::noinline]] void ReadOtherFieldData(const TFieldDesc& field, const void* recBuf, void* dest,
                                            size_t destSize);
  [[gnu::noinline]] void WriteInlineText(size_t fieldSize, uint8_t* p, const void* source, size_t sourceSize);
  [[gnu::noinline]] void WriteOtherFieldData(const TFieldDesc& field, void* recBuf, const void* source,
                                             size_t sourceSize);
  bool NullOf(const TFieldDesc& f, int fieldNo, const void* recBuf) {
    if (f.HasParent()) return true;  // attribute values live in the parent object, not in the record
    if (Marshal::ReadByte(recBuf, FDataSize + fieldNo - 1) == 0) return false;
    return f.FieldDescKind != fdkData || !IsBlobFieldType(f.DataType) || BlobOfNullEmpty(f, recBuf);
  }
  // A blob field flagged null is null only while its blob is missing or empty (bytes written
  // straight into the blob make it a value); an empty blob not flagged null holds ''.
  bool BlobOfNullEmpty(const TFieldDesc& f, const void* recBuf) const;
  void EmptyBlobOfNull(const TFieldDesc& f, void* recBuf, bool wasNull);
  TVariantObject* FieldVariantObject(const TFieldDesc& field, const void* recBuf) const;
  // Stores a new heap block in the field and releases the one it replaces.
  void ReplaceHeapBlock(const TFieldDesc& field, void* recBuf, void* block);
  void StoreVariant(const TFieldDesc& field, void* recBuf, const Variant& value);
};

// ---- Field access ----

// ReadFieldValue and WriteFieldValue for the kinds of the access entries: one dispatch on a kind
// set with the layout instead of one on the type and another on the size.
inline void TData::ReadFastField(const TFieldAccess& access, const void* recBuf, void* dest,
                                 size_t destSize) {
  const auto* p = static_cast<const uint8_t*>(recBuf) + access.Offset;
  switch (access.Kind) {
    case faCopy1:
      DA_ASSERT(destSize >= 1);
      std::memcpy(dest, p, 1);
      return;
    case faCopy2:
      DA_ASSERT(destSize >= 2);
      std::memcpy(dest, p, 2);
      return;
    case faCopy4:
      DA_ASSERT(destSize >= 4);
      std::memcpy(dest, p, 4);
      return;
    case faCopy8:
      DA_ASSERT(destSize >= 8);
      std::memcpy(dest, p, 8);
      return;
    case faDateTime:
      DA_ASSERT(destSize >= sizeof(double));
      ReadMSecs(p, dest);
      return;
    case faInlineText:
      ReadInlineText(access.Size, p, dest, destSize);
      return;
    case faDescriptor:
      return;  // GetField reads those through their descriptor
  }
}

inline void TData::WriteFastField(const TFieldAccess& access, void* recBuf, const void* source,
                                  size_t sourceSize) {
  auto* p = static_cast<uint8_t*>(recBuf) + access.Offset;
  switch (access.Kind) {
    case faCopy1:
      DA_ASSERT(sourceSize >= 1);
      std::memcpy(p, source, 1);
      return;
    case faCopy2:
      DA_ASSERT(sourceSize >= 2);
      std::memcpy(p, source, 2);
      return;
    case faCopy4:
      DA_ASSERT(sourceSize >= 4);
      std::memcpy(p, source, 4);
      return;
    case faCopy8:
      DA_ASSERT(sourceSize >= 8);
      std::memcpy(p, source, 8);
      return;
    case faDateTime:
      DA_ASSERT(sourceSize >= sizeof(double));
      WriteMSecs(p, source);
      return;
    case faInlineText:
      WriteInlineText(access.Size, p, source, sourceSize);
      return;
    case faDescriptor:
      return;  // PutField writes those through their descriptor
  }
}

inline void TData::GetField(int fieldNo, const void* recBuf, void* dest, size_t destSize, bool& isNull) {
  const size_t index = static_cast<unsigned>(fieldNo) - 1u;  // field 0 wraps to the largest
  if (index < FFieldAccess.size() && FFieldAccess[index].Kind != faDescriptor) {
    // Neither a blob nor held by a parent: the null flag alone tells a null field.
    isNull = Marshal::ReadByte(recBuf, FDataSize + fieldNo - 1) != 0;
    if (!isNull) ReadFastField(FFieldAccess[index], recBuf, dest, destSize);
    return;
  }
  GetFieldByDescriptor(fieldNo, recBuf, dest, destSize, isNull);
}

inline void TData::PutField(int fieldNo, void* recBuf, const void* source, size_t sourceSize) {
  const size_t index = static_cast<unsigned>(fieldNo) - 1u;
  if (index < FFieldAccess.size() && FFieldAccess[index].Kind != faDescriptor)
    WriteFastField(FFieldAccess[index], recBuf, source, sourceSize);
  else
    PutFieldByDescriptor(fieldNo, recBuf, source, sourceSize);
  Marshal::WriteByte(recBuf, FDataSize + fieldNo - 1, 0);  // SetNull(false): no blob to empty
}

// ---- Process-wide hooks of the user interface ----

using TWaitProc = void (*)();
using TApplicationTitleProc = std::string (*)();

// Set once at start-up by the application (nil: nothing happens).
void SetStartWaitProc(TWaitProc proc) noexcept;
void SetStopWaitProc(TWaitProc proc) noexcept;
void SetApplicationTitleProc(TApplicationTitleProc proc) noexcept;
// Bracket connecting, opening and executing, so that the user interface can show it is busy.
void StartWait();
void StopWait();
// The application's title; empty without a hook.
std::string ApplicationTitle();
