// Field types, field kinds and the small value types fields, definitions and parameters share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Values below 38 are the platform's field types; 38 and above are the extended types of this
// library, which forms store as an integer of their own.
enum TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftParadoxOle,
  ftDBaseOle,
  ftTypedBinary,
  ftCursor,
  ftFixedChar,
  ftWideString,
  ftLargeint,
  ftADT,
  ftArray,
  ftReference,
  ftDataSet,
  ftOraBlob,
  ftOraClob,
  ftVariant,
  ftInterface,
  ftIDispatch,
  ftGuid,
  ftTimeStamp,
  ftFMTBcd,
  // Extended types.
  ftLargeUInt,   // unsigned 64-bit integer
  ftDateTimeUs,  // date-time with microseconds: int64 microseconds, 0001-01-01 being day 1
  ftTimeUs,      // signed duration in microseconds
};

inline constexpr int FirstExtendedFieldType = ftLargeUInt;  // 38
inline constexpr int FieldTypeCount = ftTimeUs + 1;

// The enumerator's name without "ft" ("LargeUInt"); "Unknown" outside the range.
std::string FieldTypeName(int fieldType);
// A type that stores no fixed-size value in the record but a stream (blob, memo, graphic ...).
// Inline: a dataset asks it of every field at every move.
inline bool IsBlobFieldType(TFieldType fieldType) {
  switch (fieldType) {
    case ftBlob:
    case ftMemo:
    case ftGraphic:
    case ftFmtMemo:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return true;
    default:
      return false;
  }
}

// Field and parameter names compare without case (the platform's locale-aware comparison).
bool SameFieldName(std::string_view a, std::string_view b);

// No byte of the name has its high bit set.
bool IsAsciiName(std::string_view name) noexcept;

// One name compared with many (a lookup through fields or definitions): SameFieldName(other,
// name), with the checks of the name itself made once.
class TFieldNameProbe {
 public:
  explicit TFieldNameProbe(std::string_view name) noexcept : FName(name), FAscii(IsAsciiName(name)) {}
  bool Matches(std::string_view other) const { return Matches(other, IsAsciiName(other)); }
  // otherAscii: IsAsciiName(other), kept by the caller beside the name.
  bool Matches(std::string_view other, bool otherAscii) const {
    // ASCII names of different lengths never match.
    if (other.size() != FName.size() && FAscii && otherAscii) return false;
    return SameFieldName(other, FName);
  }

 private:
  std::string_view FName;
  bool FAscii;
};

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };

enum TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };

// Field roles for the statement generators (a set).
using TProviderFlags = uint8_t;
inline constexpr TProviderFlags pfInUpdate = 0x01;
inline constexpr TProviderFlags pfInWhere = 0x02;
inline constexpr TProviderFlags pfInKey = 0x04;
inline constexpr TProviderFlags pfHidden = 0x08;

// What an apply of a cached change does, and what the dataset's update handlers answer.
enum TUpdateKind : uint8_t { ukModify = 0, ukInsert = 1, ukDelete = 2 };
enum TUpdateAction : uint8_t { uaFail = 0, uaAbort = 1, uaSkip = 2, uaRetry = 3, uaApplied = 4 };

enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };

// A SQL time stamp in its parts; Fractions are milliseconds.
struct TSQLTimeStamp {
  int16_t Year = 0;
  uint16_t Month = 0;
  uint16_t Day = 0;
  uint16_t Hour = 0;
  uint16_t Minute = 0;
  uint16_t Second = 0;
  uint32_t Fractions = 0;
  friend bool operator==(const TSQLTimeStamp&, const TSQLTimeStamp&) = default;
};

// Raise EConvertError for a value that is not a valid date-time.
TSQLTimeStamp DateTimeToSQLTimeStamp(double value);
double SQLTimeStampToDateTime(const TSQLTimeStamp& value);
