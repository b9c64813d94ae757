// Field descriptions and the record layout: the data-type codes every subsystem shares, the
// descriptor of one column, the descriptor list, and how a record buffer is laid out from them.
//
// A record buffer holds each data field's value at its Offset, then one null-indicator byte per
// descriptor (in FieldNo order), rounded up to an even size; calculated fields live in a separate
// area that follows the record. References (blobs, heap strings, variant objects) take
// sizeof(void*) bytes and may sit unaligned: every access goes through Marshal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/MemBlob.h"

using TDataType = uint16_t;

// What a record holds for a field of each type ("Size" is the descriptor's Size).
inline constexpr TDataType dtUnknown = 0;
inline constexpr TDataType dtString = 1;  // zero-terminated ANSI text inline, Size bytes
inline constexpr TDataType dtInt8 = 2;    // 1 byte signed (2 bytes when Size is 2)
inline constexpr TDataType dtInt16 = 3;
inline constexpr TDataType dtInt32 = 4;
inline constexpr TDataType dtFloat = 5;  // 8-byte double
inline constexpr TDataType dtDate = 6;   // 8-byte date-time value
inline constexpr TDataType dtTime = 7;
inline constexpr TDataType dtDateTime = 8;
inline constexpr TDataType dtUInt16 = 9;
inline constexpr TDataType dtBoolean = 10;  // 16-bit, true when not 0
inline constexpr TDataType dtInt64 = 11;
inline constexpr TDataType dtCurrency = 12;     // 8-byte double
inline constexpr TDataType dtBlob = 13;         // TBlob reference
inline constexpr TDataType dtMemo = 14;         // TBlob reference
inline constexpr TDataType dtObject = 15;       // Size bytes as they are
inline constexpr TDataType dtReference = 16;    // Size bytes as they are
inline constexpr TDataType dtArray = 17;        // Size bytes as they are
inline constexpr TDataType dtTable = 18;        // Size bytes as they are
inline constexpr TDataType dtVariant = 19;      // TVariantObject reference
inline constexpr TDataType dtExtString = 20;    // string-heap reference to ANSI text (nil allowed)
inline constexpr TDataType dtBytes = 21;        // Length bytes inline
inline constexpr TDataType dtVarBytes = 22;     // 16-bit count, then up to Length bytes inline
inline constexpr TDataType dtExtVarBytes = 23;  // string-heap reference: 16-bit count, then the bytes
inline constexpr TDataType dtUInt32 = 24;
inline constexpr TDataType dtWideString = 25;     // zero-terminated UTF-16 inline, at an even offset
inline constexpr TDataType dtExtWideString = 26;  // string-heap reference to UTF-16 text
inline constexpr TDataType dtBCD = 27;            // 64-bit integer scaled by 10,000
inline constexpr TDataType dtFmtBCD = 28;         // 34-byte TBcd
inline constexpr TDataType dtGuid = 29;           // zero-terminated ANSI text inline
inline constexpr TDataType dtWideMemo = 30;       // TBlob reference, Unicode
// Unsigned 64-bit integer (BIGINT UNSIGNED, BIT): 8 bytes; variant varUInt64; XML type "ui8".
inline constexpr TDataType dtUInt64 = 31;
// Date-time with fractional seconds: int64 microseconds, day * USecsPerDay + microseconds of the
// day, 0001-01-01 being day 1; 0 is the zero date (platform/runtime/DateTimeUtils.h). Scale holds
// the fraction digits (1..6). Variant: the exact text ("yyyy-mm-dd hh:nn:ss.ffffff"). XML
// "datetime".
inline constexpr TDataType dtDateTimeUs = 32;
// Time with fractional seconds: int64 signed microseconds; variant "[-]hh:nn:ss.ffffff". XML "time".
inline constexpr TDataType dtTimeUs = 33;
inline constexpr TDataType dtMaxDataType = dtTimeUs;

// Bytes a reference takes in a record.
inline constexpr uint16_t RefFieldSize = sizeof(void*);

enum TFieldDescKind : uint8_t { fdkData = 0, fdkCalculated = 2 };

class TObjectType;

// One attribute of an object type.
struct TAttribute {
  std::string Name;
  TDataType DataType = dtUnknown;
  uint16_t Length = 0;
  uint16_t Scale = 0;
  uint16_t Size = 0;
  // The type of an object or array attribute; the enclosing type holds a reference to it.
  TObjectType* ObjectType = nullptr;
};

// The type of an object field: its attributes, by index. Shared by the descriptors that use it.
class TObjectType : public TSharedObject {
 public:
  // Takes a reference to each attribute's own object type.
  explicit TObjectType(std::string name, std::vector<TAttribute> attributes = {});

  const std::string& Name() const noexcept { return FName; }
  int GetAttributeCount() const noexcept { return static_cast<int>(FAttributes.size()); }
  // EListError for an index outside 0..count-1.
  const TAttribute& GetAttributes(int index) const;

 private:
  ~TObjectType() override;

  std::string FName;
  std::vector<TAttribute> FAttributes;
};

// The description of one column. Providers derive their own descriptors from it (the record set's
// GetFieldDescType names the class to create).
class TFieldDesc {
 public:
  TFieldDesc() = default;
  virtual ~TFieldDesc();
  TFieldDesc(const TFieldDesc&) = delete;
  TFieldDesc& operator=(const TFieldDesc&) = delete;

  std::string Name;        // unique among top-level fields after InitFields
  std::string ActualName;  // the column's name in its table, when the provider knows it
  TDataType DataType = dtUnknown;
  uint16_t Length = 0;    // declared length; dtBytes: byte count; dtVarBytes: maximum
  uint16_t Scale = 0;     // decimal places
  uint16_t FieldNo = 0;   // 1-based position in the list
  int ActualFieldNo = 0;  // 0-based column number in the provider's result
  uint16_t Size = 0;      // bytes the field takes in the record, set by the provider
  uint32_t Offset = 0;    // computed by the layout
  bool Required = false;
  bool ReadOnly = false;
  bool IsKey = false;
  bool Fixed = false;         // fixed-length character column
  bool Hidden = false;        // shown as a hidden column
  bool HiddenObject = false;  // not exposed as a dataset field at all
  TFieldDescKind FieldDescKind = fdkData;
  TFieldDesc* ParentField = nullptr;  // the object or array field this one is part of

  // The object type of an object or array field; the descriptor holds a reference to it.
  TObjectType* ObjectType() const noexcept { return FObjectType; }
  void SetObjectType(TObjectType* value);

  bool HasParent() const noexcept { return ParentField != nullptr; }
  // The path through the parents: "Parent.Child" for object attributes, "Parent[n]" for array
  // elements (whose Name is "[n]"); the Name for top-level fields.
  std::string FullName() const;

 private:
  TObjectType* FObjectType = nullptr;
};

// Creates a descriptor of the record set's descriptor class.
using TFieldDescClass = std::unique_ptr<TFieldDesc> (*)();

template <class T>
std::unique_ptr<TFieldDesc> CreateFieldDescOf() {
  return std::make_unique<T>();
}

// The descriptors of a record set; the list owns them.
class TFieldDescs {
 public:
  TFieldDescs() = default;
  TFieldDescs(const TFieldDescs&) = delete;
  TFieldDescs& operator=(const TFieldDescs&) = delete;

  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  // index 0..Count-1; another index is an assertion failure.
  TFieldDesc* Items(int index) const {
    if (index < 0 || index >= Count()) RaiseIndexOutOfRange(index);
    return FItems[static_cast<size_t>(index)].get();
  }
  TFieldDesc* operator[](int index) const { return Items(index); }
  // Appends a descriptor and returns it.
  TFieldDesc* Add(std::unique_ptr<TFieldDesc> desc);
  void Clear() noexcept;

  // A plain name (no "." and no "[") is first looked for among the top-level descriptors; then
  // every descriptor is searched, a dotted or bracketed name against the full name and a plain
  // name against the Name of child descriptors. Case is ignored. Nil when nothing matches.
  TFieldDesc* FindField(std::string_view name) const;
  // As FindField; raises EDatabaseError "Field %s not found" (65128) when nothing matches.
  TFieldDesc* FieldByName(std::string_view name) const;

  auto begin() const noexcept { return FItems.begin(); }
  auto end() const noexcept { return FItems.end(); }

 private:
  // Field access runs for every field of every record: the check stays inline, its failure not.
  [[noreturn]] void RaiseIndexOutOfRange(int index) const;

  std::vector<std::unique_ptr<TFieldDesc>> FItems;
};

// Sizes of a laid-out record.
struct TRecordLayout {
  int32_t DataSize = 0;        // bytes of the data fields
  int32_t RecordSize = 0;      // data, null indicators, rounded up to even
  int32_t CalcDataSize = 0;    // bytes of the calculated fields
  int32_t CalcRecordSize = 0;  // CalcDataSize rounded up to even
};

// Least Size a field of the type needs: what its reads and writes touch. dtInt8 takes 1 or 2.
uint16_t MinFieldSize(const TFieldDesc& field) noexcept;

// Computes every descriptor's Offset and the record sizes. Data fields are placed in list order
// (dtWideString at an even offset), the null indicators follow the data, then calculated fields
// in their own area after RecordSize. EAssertionFailed when a FieldNo is not its 1-based
// position, when a Size is too small for its type or dtInt8 has a Size other than 1 or 2, or
// when the record would exceed 2 GiB.
TRecordLayout LayoutFields(const TFieldDescs& fields);

// Makes the names of the top-level descriptors unique, ignoring case: the first of equal names
// (in FieldNo order) keeps it, the others get "_1", "_2", ...; a name that is already taken
// pushes the later field on to the next free suffix (ID, ID_1, ID_2; a column ID_1 becomes
// ID_1_1).
void MakeUniqueFieldNames(const TFieldDescs& fields);
