// The MySQL field description and the conversion of one column value into its record slot: the
// text of a text-protocol row, or the binary value of a prepared statement's row. The record set
// calls these for every column of every fetched row, so they work straight on the row's bytes.
//
// Values never wrap: an integer that does not fit its field raises EConvertError "Value %s is out
// of range for field %s"; malformed numbers raise EConvertError naming the text. An invalid date
// is NULL: the zero date "0000-00-00" (or MySQLZeroDate, as the caller asks) under the zero-date
// mark, a date no date-time holds (a zero month or day, '2024-00-10') under the partial-date mark.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

#include "core/CRTableInfo.h"
#include "platform/runtime/DateTimeUtils.h"

class TStringHeap;
class TBlob;

// A result column as the MySQL record set describes it.
class TMySQLFieldDesc : public TCRFieldDesc {
 public:
  uint8_t MySQLType = 0;  // the protocol's column type (TMyFieldType)
  bool IsUnsigned = false;
  bool IsPrimaryKey = false;
  bool IsAutoIncrement = false;
  bool IsBinary = false;   // the binary flag: binary strings, and text of a binary collation
  uint16_t CharsetNr = 0;  // 63: bytes without a character set
  uint8_t Decimals = 0;    // digits after the point (fractional seconds of temporal columns)
};

// The description as a MySQL column's, nil when it is another kind. Asks the exact type first: a
// cast through the class tree costs a name comparison per level, and every open asks for each
// column.
template <class Desc>
auto AsMyFieldDesc(Desc* desc)
    -> std::conditional_t<std::is_const_v<Desc>, const TMySQLFieldDesc*, TMySQLFieldDesc*> {
  using Result = std::conditional_t<std::is_const_v<Desc>, const TMySQLFieldDesc*, TMySQLFieldDesc*>;
  if (desc == nullptr) return nullptr;
  if (typeid(*desc) == typeid(TMySQLFieldDesc)) return static_cast<Result>(desc);
  return dynamic_cast<Result>(desc);
}

// What a conversion needs besides the field and the value.
struct TMyConvertContext {
  TStringHeap* Heap = nullptr;   // receives dtExtString, dtExtWideString and dtExtVarBytes values
  bool UseUnicode = false;       // text arrives in UTF-8
  bool NullForZeroDate = true;   // the zero date reads as NULL, else as MySQLZeroDate
  uint8_t CompressBlobMode = 0;  // TCompressBlobMode of the command
};

// Stores the non-NULL text-protocol value (len bytes at text) of field f into its slot of the
// record rec. Returns the field's null mark (core/MemData.h): 0 when stored, else the mark of an
// invalid date, which reads as NULL (the slot is left as it was). Blob slots receive a new blob, heap slots a
// new heap block; the slot must not hold one already. Errors: EConvertError (numbers, dates, ranges, UTF-8);
// EDatabaseError "Wrong time format. Field %s, value %s"; EAssertionFailed for a data type the record set
// never makes.
uint8_t StoreMyTextValue(const TMySQLFieldDesc& f, const char* text, size_t len, uint8_t* rec,
                         const TMyConvertContext& cx);

// How a column's text-protocol values are stored, chosen once per result (MyTextStoreOf): the
// forms most rows hold, integers and text, go without asking the column's type at every value.
struct TMyTextStore {
  enum TKind : uint8_t { General, Integer, InlineText, HeapText };
  TKind Kind = General;
  int64_t Lowest = 0;  // Integer: the field's range
  uint64_t Highest = 0;
};
TMyTextStore MyTextStoreOf(const TMySQLFieldDesc& f);
// StoreMyTextValue through the store chosen for f: the same result and errors.
uint8_t StoreMyTextValueBy(const TMyTextStore& how, const TMySQLFieldDesc& f, const char* text, size_t len,
                           uint8_t* rec, const TMyConvertContext& cx);

// The same for the binary value of a prepared statement's row (the bytes the protocol sends for
// the column: fixed-size little-endian numbers, the binary date forms, length-stripped text).
// Errors: as StoreMyTextValue; EMySqlException 2027 for a binary value of the wrong size.
uint8_t StoreMyBinaryValue(const TMySQLFieldDesc& f, const uint8_t* value, size_t len, uint8_t* rec,
                           const TMyConvertContext& cx);

// A new blob for field f (a compressed blob unless the mode is cbNone), wide for dtWideMemo and
// for dtMemo under Unicode.
TBlob* NewMyFieldBlob(const TMySQLFieldDesc& f, const TMyConvertContext& cx);

// ---- building blocks (exposed for their tests) ------------------------------------------------

// Decimal integer text with an optional "-": the value, or EConvertError "'%s' is not a valid
// integer value" for anything else and for a magnitude beyond 64 bits. negative tells the sign;
// the magnitude comes back unsigned.
uint64_t ParseMyInteger(std::string_view text, bool& negative);

// A MySQL number in text: optional sign, digits with one ".", optional exponent. EConvertError
// "'%s' is not a valid floating point value" (the first 36 characters of the text) for anything
// else, "'%s' is not a valid integer value" for a bad exponent.
double ParseMyFloat(std::string_view text);

// The date-time of a temporal column's text, by its MySQL type and display length: TIMESTAMP in
// the compact forms of lengths 2 to 14 or in the "YYYY-MM-DD HH:MM:SS" layout (fractional
// seconds are not read), DATE, DATETIME, TIME (hours may exceed 24; a leading "-" negates).
// Returns false for an invalid date. Errors: EDatabaseError "Wrong time format. Field %s, value
// %s" for a TIME with more than 4 characters before its first ":"; EConvertError for text that
// does not have the layout (a compact TIMESTAMP of a display length it has no form for included).
bool MyTextToDateTime(const TMySQLFieldDesc& f, std::string_view text, TDateTime& value);

// UTF-8 into at most destUnits UTF-16 units at dest (a character that does not fit whole ends
// the decoding); returns the units written. Errors: Exception "incomplete multibyte char" (the
// input ends inside a sequence), "malformed trail byte or out of range char" (a bad trail byte
// before the last one of a sequence, an overlong or out-of-range sequence), "malformed trail
// byte" (a bad last trail byte).
size_t DecodeMyUtf8(const char* text, size_t len, char16_t* dest, size_t destUnits);
std::u16string DecodeMyUtf8(std::string_view text);

// Size, Length and Scale of a described field by its data type: inline text and bytes take their
// length plus terminator or count, references (blobs, heap text) RefFieldSize, numbers and dates
// their fixed size. A heap text of length 0 gets Length 65535. EAssertionFailed for a data type
// the record set never describes.
void SetMyFieldSize(TMySQLFieldDesc& desc, uint16_t length, uint16_t scale);
