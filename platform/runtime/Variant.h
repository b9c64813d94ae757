// The platform's Variant: one value of any of the platform's variant types, with the standard
// conversions, equality and ordering between them.
//
// Conversions are locale-independent ("." as decimal separator; dates as yyyy-mm-dd hh:nn:ss).
// A conversion that cannot be made raises EVariantTypeCastError, one whose result does not fit
// the target raises EVariantOverflowError; both are EConvertError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/runtime/Currency.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/FMTBcd.h"

// Type codes of the platform.
enum : uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varOleStr = 0x0008,  // wide string
  varBoolean = 0x000B,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varUInt64 = 0x0015,
  varString = 0x0100,  // ANSI string
  varFMTBcd = 0x010F,  // the packed decimal record, a custom type of the platform
  varTypeMask = 0x0FFF,
  varArray = 0x2000,  // only as varArray | varByte: a byte array
  varByRef = 0x4000,  // alone: a reference to an object the variant does not own
};

class EVariantTypeCastError : public EConvertError {
 public:
  using EConvertError::EConvertError;
};

class EVariantOverflowError : public EConvertError {
 public:
  using EConvertError::EConvertError;
};

// Name of a type code for messages ("Integer", "String", "Array Byte", ...).
std::string VarTypeAsText(uint16_t varType);

class Variant {
 public:
  Variant() noexcept = default;  // varEmpty
  static Variant Null();

  Variant(bool v) : FType(varBoolean), FValue(v) {}
  Variant(char) = delete;  // a character is neither a number nor a string: say which
  Variant(signed char v) : FType(varShortInt), FValue(int64_t{v}) {}
  Variant(unsigned char v) : FType(varByte), FValue(int64_t{v}) {}
  Variant(short v) : FType(varSmallint), FValue(int64_t{v}) {}
  Variant(unsigned short v) : FType(varWord), FValue(int64_t{v}) {}
  Variant(int v) : FType(varInteger), FValue(int64_t{v}) {}
  Variant(unsigned v) : FType(varLongWord), FValue(int64_t{v}) {}
  Variant(long v) : FType(varInt64), FValue(int64_t{v}) {}
  Variant(long long v) : FType(varInt64), FValue(static_cast<int64_t>(v)) {}
  Variant(unsigned long v) : FType(varUInt64), FValue(static_cast<uint64_t>(v)) {}
  Variant(unsigned long long v) : FType(varUInt64), FValue(static_cast<uint64_t>(v)) {}
  Variant(float v) : FType(varSingle), FValue(double{v}) {}
  Variant(double v) : FType(varDouble), FValue(v) {}
  Variant(Currency v) : FType(varCurrency), FValue(v) {}
  Variant(const TBcd& v) : FType(varFMTBcd), FValue(v) {}
  Variant(const char* v) : FType(varString), FValue(std::string(v ? v : "")) {}
  Variant(std::string v) : FType(varString), FValue(std::move(v)) {}
  Variant(std::string_view v) : FType(varString), FValue(std::string(v)) {}
  Variant(const char16_t* v) : FType(varOleStr), FValue(std::u16string(v ? v : u"")) {}
  Variant(std::u16string v) : FType(varOleStr), FValue(std::move(v)) {}
  Variant(std::u16string_view v) : FType(varOleStr), FValue(std::u16string(v)) {}

  static Variant FromDateTime(TDateTime value);
  // A byte array (varArray | varByte) holding a copy of the bytes.
  static Variant FromBytes(std::vector<uint8_t> bytes);
  static Variant FromBytes(const void* data, size_t count);
  // A reference (varByRef) to an object the variant neither owns nor frees.
  static Variant FromObject(void* object);

  uint16_t VarType() const noexcept { return FType; }
  bool IsEmpty() const noexcept { return FType == varEmpty; }
  bool IsNull() const noexcept { return FType == varNull; }
  bool IsByteArray() const noexcept { return FType == (varArray | varByte); }
  bool IsObject() const noexcept { return FType == varByRef; }
  bool IsString() const noexcept { return FType == varString || FType == varOleStr; }
  // Integer, floating, currency, date and FMT-BCD types.
  bool IsNumeric() const noexcept;

  // Conversions. Empty converts to 0, False, "" and 1899-12-30; Null, byte arrays and object
  // references convert to nothing (EVariantTypeCastError). True converts to the integer -1.
  // Floating and currency values round to integers half to even; strings are read as integer,
  // then decimal text (blanks around allowed); "True"/"False" (any case) convert to Boolean.
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  uint64_t AsUInt64() const;
  double AsDouble() const;
  Currency AsCurrency() const;
  TDateTime AsDateTime() const;
  bool AsBoolean() const;
  std::string AsString() const;  // ANSI (wide strings through the ANSI code page)
  std::u16string AsWideString() const;
  TBcd AsBcd() const;
  // Byte arrays only (an ANSI string is not converted); valid while the variant lives.
  const std::vector<uint8_t>& AsBytes() const;
  void* AsObject() const;  // varByRef only

  // The value converted to another type code (as the conversions above); converting to
  // varEmpty or varNull gives that value.
  Variant ChangeType(uint16_t varType) const;

  // Standard ordering: -1, 0, 1. Null equals only Null and orders before everything else; Empty
  // compares as 0, False or "" with the other operand. Strings compare by the locale order
  // (LocaleCompare.h, case-sensitive; an ANSI operand is widened when the other is wide); a
  // number and a string compare as numbers (a string that is not a number raises
  // EVariantTypeCastError), Booleans as Booleans (False < True, any non-zero number is True),
  // dates as their day values, byte arrays byte by byte. A byte array or object reference
  // against any other type raises EVariantTypeCastError.
  friend int VarCompare(const Variant& a, const Variant& b);

  // VarCompare(a, b) == 0, without the locale collation for two strings.
  friend bool VarSameValue(const Variant& a, const Variant& b);

  friend bool operator==(const Variant& a, const Variant& b) { return VarSameValue(a, b); }
  friend bool operator!=(const Variant& a, const Variant& b) { return !VarSameValue(a, b); }
  friend bool operator<(const Variant& a, const Variant& b) { return VarCompare(a, b) < 0; }
  friend bool operator<=(const Variant& a, const Variant& b) { return VarCompare(a, b) <= 0; }
  friend bool operator>(const Variant& a, const Variant& b) { return VarCompare(a, b) > 0; }
  friend bool operator>=(const Variant& a, const Variant& b) { return VarCompare(a, b) >= 0; }

 private:
  using Bytes = std::shared_ptr<const std::vector<uint8_t>>;  // immutable, so copies may share
  using Storage = std::variant<std::monostate, int64_t, uint64_t, double, bool, Currency, TBcd, std::string,
                               std::u16string, Bytes, void*>;

  Variant(uint16_t type, Storage value) : FType(type), FValue(std::move(value)) {}
  [[noreturn]] void CastError(uint16_t target) const;
  [[noreturn]] void OverflowError(uint16_t target) const;
  template <typename T>
  const T& Get() const {
    return std::get<T>(FValue);
  }

  uint16_t FType = varEmpty;
  Storage FValue;
};

int VarCompare(const Variant& a, const Variant& b);
bool VarSameValue(const Variant& a, const Variant& b);

inline bool VarIsNull(const Variant& v) {
  return v.IsNull();
}
inline bool VarIsEmpty(const Variant& v) {
  return v.IsEmpty();
}
inline uint16_t VarType(const Variant& v) {
  return v.VarType();
}
// As AsString / AsWideString, but Null gives an empty string.
std::string VarToStr(const Variant& v);
std::u16string VarToWideStr(const Variant& v);
