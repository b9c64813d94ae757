#include "platform/runtime/Variant.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>

#include "platform/runtime/Charset.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/LocaleCompare.h"

using Int128 = __int128;

namespace {

bool IsIntegerType(uint16_t t) {
  switch (t) {
    case varSmallint:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varUInt64:
      return true;
    default:
      return false;
  }
}

bool IsFloatType(uint16_t t) {
  return t == varSingle || t == varDouble || t == varDate;
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Integer text within the range of int64 or uint64.
bool ParseInteger(std::string_view s, Int128& v) {
  s = Trimmed(s);
  bool neg = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.size() > 20) return false;
  v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  if (neg) v = -v;
  return v >= Int128(INT64_MIN) && v <= Int128(UINT64_MAX);
}

// Decimal or exponent text; no "inf" or "nan".
bool ParseDouble(std::string_view s, double& v) {
  s = Trimmed(s);
  bool neg = false;
  if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
    neg = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || !((s[0] >= '0' && s[0] <= '9') || s[0] == '.')) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  if (neg) v = -v;
  return true;
}

std::string Int128ToStr(Int128 v) {
  if (v >= 0) return UIntToStr(static_cast<uint64_t>(v));
  return IntToStr(static_cast<int64_t>(v));
}

int Sign(Int128 a, Int128 b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

int CompareDoubles(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) ? (std::isnan(b) ? 0 : -1) : 1;
  return a < b ? -1 : a > b ? 1 : 0;
}

[[noreturn]] void ThrowCast(uint16_t from, uint16_t to) {
  throw EVariantTypeCastError(Format("Could not convert variant of type (%s) into type (%s)",
                                     {VarTypeAsText(from), VarTypeAsText(to)}));
}

bool BcdIsZero(const TBcd& b) {
  return BcdCompare(b, Int64ToBcd(0)) == 0;
}

}  // namespace

std::string VarTypeAsText(uint16_t varType) {
  switch (varType) {
    case varEmpty:
      return "Empty";
    case varNull:
      return "Null";
    case varSmallint:
      return "Smallint";
    case varInteger:
      return "Integer";
    case varSingle:
      return "Single";
    case varDouble:
      return "Double";
    case varCurrency:
      return "Currency";
    case varDate:
      return "Date";
    case varOleStr:
      return "OleStr";
    case varBoolean:
      return "Boolean";
    case varShortInt:
      return "ShortInt";
    case varByte:
      return "Byte";
    case varWord:
      return "Word";
    case varLongWord:
      return "LongWord";
    case varInt64:
      return "Int64";
    case varUInt64:
      return "UInt64";
    case varString:
      return "String";
    case varFMTBcd:
      return "FMTBcd";
    case varArray | varByte:
      return "Array Byte";
    case varByRef:
      return "ByRef";
    default:
      return "Unknown " + IntToStr(varType);
  }
}

// ---- construction ---------------------------------------------------------------------------

Variant Variant::Null() {
  Variant v;
  v.FType = varNull;
  return v;
}
Variant Variant::FromDateTime(TDateTime value) {
  return Variant(varDate, value);
}

Variant Variant::FromBytes(std::vector<uint8_t> bytes) {
  return Variant(varArray | varByte, std::make_shared<const std::vector<uint8_t>>(std::move(bytes)));
}

Variant Variant::FromBytes(const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  return FromBytes(std::vector<uint8_t>(p, p + (p ? count : 0)));
}

Variant Variant::FromObject(void* object) {
  return Variant(varByRef, object);
}

bool Variant::IsNumeric() const noexcept {
  return IsIntegerType(FType) || IsFloatType(FType) || FType == varCurrency || FType == varFMTBcd;
}

void Variant::CastError(uint16_t target) const {
  ThrowCast(FType, target);
}

void Variant::OverflowError(uint16_t target) const {
  throw EVariantOverflowError(Format("Overflow while converting variant of type (%s) into type (%s)",
                                     {VarTypeAsText(FType), VarTypeAsText(target)}));
}

// ---- numeric conversions --------------------------------------------------------------------

namespace {

// Rounded half to even; false when out of the int64/uint64 range or not finite.
bool RoundDouble(double d, Int128& v) {
  double r = std::nearbyint(d);
  if (!std::isfinite(r) || r < -9223372036854775808.0 || r >= 18446744073709551616.0) return false;
  v = static_cast<Int128>(r);
  return true;
}

Int128 RoundCurrency(Currency c) {
  Int128 q = c.Scaled / CurrencyScale, r = c.Scaled % CurrencyScale;
  Int128 half = CurrencyScale / 2;
  if (r > half || (r == half && (q & 1))) ++q;
  if (r < -half || (r == -half && (q & 1))) --q;
  return q;
}

}  // namespace

int64_t Variant::AsInt64() const {
  Int128 v = 0;
  switch (FType) {
    case varEmpty:
      return 0;
    case varBoolean:
      return Get<bool>() ? -1 : 0;
    case varUInt64:
      v = Get<uint64_t>();
      break;
    case varSingle:
    case varDouble:
    case varDate:
      if (!RoundDouble(Get<double>(), v)) OverflowError(varInt64);
      break;
    case varCurrency:
      return static_cast<int64_t>(RoundCurrency(Get<Currency>()));
    case varFMTBcd:
      try {
        return BcdToInt64(Get<TBcd>());
      } catch (const EConvertError&) {
        OverflowError(varInt64);
      }
    case varString:
    case varOleStr: {
      std::string s = AsString();
      double d;
      if (!ParseInteger(s, v)) {
        if (!ParseDouble(s, d)) CastError(varInt64);
        if (!RoundDouble(d, v)) OverflowError(varInt64);
      }
      break;
    }
    default:
      if (!IsIntegerType(FType)) CastError(varInt64);
      return Get<int64_t>();
  }
  if (v < INT64_MIN || v > INT64_MAX) OverflowError(varInt64);
  return static_cast<int64_t>(v);
}

uint64_t Variant::AsUInt64() const {
  if (FType == varUInt64) return Get<uint64_t>();
  Int128 v = 0;
  if (FType == varSingle || FType == varDouble || FType == varDate) {
    if (!RoundDouble(Get<double>(), v)) OverflowError(varUInt64);
  } else if (IsString()) {
    std::string s = AsString();
    double d;
    if (!ParseInteger(s, v)) {
      if (!ParseDouble(s, d)) CastError(varUInt64);
      if (!RoundDouble(d, v)) OverflowError(varUInt64);
    }
  } else {
    v = AsInt64();
  }
  if (v < 0 || v > Int128(UINT64_MAX)) OverflowError(varUInt64);
  return static_cast<uint64_t>(v);
}

int32_t Variant::AsInteger() const {
  int64_t v;
  try {
    v = AsInt64();
  } catch (const EVariantOverflowError&) {
    OverflowError(varInteger);
  }
  if (v < INT32_MIN || v > INT32_MAX) OverflowError(varInteger);
  return static_cast<int32_t>(v);
}

double Variant::AsDouble() const {
  switch (FType) {
    case varEmpty:
      return 0;
    case varBoolean:
      return Get<bool>() ? -1 : 0;
    case varUInt64:
      return static_cast<double>(Get<uint64_t>());
    case varSingle:
    case varDouble:
    case varDate:
      return Get<double>();
    case varCurrency:
      return CurrToDouble(Get<Currency>());
    case varFMTBcd:
      return BcdToDouble(Get<TBcd>());
    case varString:
    case varOleStr: {
      double d;
      if (!ParseDouble(AsString(), d)) CastError(varDouble);
      return d;
    }
    default:
      if (!IsIntegerType(FType)) CastError(varDouble);
      return static_cast<double>(Get<int64_t>());
  }
}

Currency Variant::AsCurrency() const {
  Currency c;
  switch (FType) {
    case varEmpty:
      return Currency{};
    case varCurrency:
      return Get<Currency>();
    case varSingle:
    case varDouble:
    case varDate:
      if (!TryDoubleToCurr(Get<double>(), c)) OverflowError(varCurrency);
      return c;
    case varFMTBcd:
      try {
        return BcdToCurr(Get<TBcd>());
      } catch (const EConvertError&) {
        OverflowError(varCurrency);
      }
    case varString:
    case varOleStr:
      if (!TryStrToCurr(AsString(), c)) CastError(varCurrency);
      return c;
    case varUInt64:
      if (Get<uint64_t>() > uint64_t(INT64_MAX)) OverflowError(varCurrency);
      [[fallthrough]];
    default:
      try {
        return Int64ToCurr(AsInt64());
      } catch (const EVariantTypeCastError&) {
        CastError(varCurrency);
      } catch (const EConvertError&) {
        OverflowError(varCurrency);
      }
  }
}

TDateTime Variant::AsDateTime() const {
  if (IsString()) {
    std::string s = AsString();
    TDateTime d;
    if (!TryStrToDateTime(s, d)) CastError(varDate);
    return d;
  }
  if (FType == varEmpty || FType == varBoolean || IsNumeric()) return AsDouble();
  CastError(varDate);
}

bool Variant::AsBoolean() const {
  switch (FType) {
    case varEmpty:
      return false;
    case varBoolean:
      return Get<bool>();
    case varUInt64:
      return Get<uint64_t>() != 0;
    case varSingle:
    case varDouble:
    case varDate:
      return Get<double>() != 0;
    case varCurrency:
      return Get<Currency>().Scaled != 0;
    case varFMTBcd:
      return !BcdIsZero(Get<TBcd>());
    case varString:
    case varOleStr: {
      std::string s(Trimmed(AsString()));
      std::transform(s.begin(), s.end(), s.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
      if (s == "true") return true;
      if (s == "false") return false;
      double d;
      if (!ParseDouble(s, d)) CastError(varBoolean);
      return d != 0;
    }
    default:
      if (!IsIntegerType(FType)) CastError(varBoolean);
      return Get<int64_t>() != 0;
  }
}

// ---- text, BCD, bytes, objects --------------------------------------------------------------

std::string Variant::AsString() const {
  switch (FType) {
    case varEmpty:
      return {};
    case varString:
      return Get<std::string>();
    case varOleStr:
      return WideToAnsi(Get<std::u16string>());
    case varBoolean:
      return Get<bool>() ? "True" : "False";
    case varUInt64:
      return UIntToStr(Get<uint64_t>());
    case varSingle: {
      char buf[32];
      auto r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(Get<double>()));
      return std::string(buf, r.ptr);
    }
    case varDouble:
      return FloatToStr(Get<double>());
    case varDate:
      return DateTimeToStr(Get<double>());
    case varCurrency:
      return CurrToStr(Get<Currency>());
    case varFMTBcd:
      return BcdToStr(Get<TBcd>());
    default:
      if (!IsIntegerType(FType)) CastError(varString);
      return IntToStr(Get<int64_t>());
  }
}

std::u16string Variant::AsWideString() const {
  if (FType == varOleStr) return Get<std::u16string>();
  try {
    return AnsiToWide(AsString());
  } catch (const EVariantTypeCastError&) {
    CastError(varOleStr);
  }
}

TBcd Variant::AsBcd() const {
  switch (FType) {
    case varFMTBcd:
      return Get<TBcd>();
    case varCurrency:
      return CurrToBcd(Get<Currency>());
    case varSingle:
    case varDouble:
    case varDate:
      if (!std::isfinite(Get<double>())) OverflowError(varFMTBcd);
      return DoubleToBcd(Get<double>());
    case varString:
    case varOleStr: {
      TBcd b;
      if (!TryStrToBcd(AsString(), b)) CastError(varFMTBcd);
      return b;
    }
    case varUInt64:
      return StrToBcd(UIntToStr(Get<uint64_t>()));
    default:
      try {
        return Int64ToBcd(AsInt64());
      } catch (const EVariantTypeCastError&) {
        CastError(varFMTBcd);
      }
  }
}

const std::vector<uint8_t>& Variant::AsBytes() const {
  if (!IsByteArray()) CastError(varArray | varByte);
  return *Get<Bytes>();
}

void* Variant::AsObject() const {
  if (!IsObject()) CastError(varByRef);
  return Get<void*>();
}

Variant Variant::ChangeType(uint16_t varType) const {
  if (varType == FType) return *this;
  auto ranged = [this, varType](int64_t lo, int64_t hi) {
    int64_t v;
    try {
      v = AsInt64();
    } catch (const EVariantOverflowError&) {
      OverflowError(varType);
    }
    if (v < lo || v > hi) OverflowError(varType);
    return v;
  };
  switch (varType) {
    case varEmpty:
      return Variant();
    case varNull:
      return Null();
    case varShortInt:
      return Variant(static_cast<signed char>(ranged(INT8_MIN, INT8_MAX)));
    case varByte:
      return Variant(static_cast<unsigned char>(ranged(0, UINT8_MAX)));
    case varSmallint:
      return Variant(static_cast<short>(ranged(INT16_MIN, INT16_MAX)));
    case varWord:
      return Variant(static_cast<unsigned short>(ranged(0, UINT16_MAX)));
    case varInteger:
      return Variant(AsInteger());
    case varLongWord:
      return Variant(static_cast<unsigned>(ranged(0, UINT32_MAX)));
    case varInt64:
      return Variant(AsInt64());
    case varUInt64:
      return Variant(static_cast<unsigned long long>(AsUInt64()));
    case varSingle: {
      double d = AsDouble();
      if (std::isfinite(d) && std::fabs(d) > FLT_MAX) OverflowError(varSingle);
      return Variant(static_cast<float>(d));
    }
    case varDouble:
      return Variant(AsDouble());
    case varCurrency:
      return Variant(AsCurrency());
    case varDate:
      return FromDateTime(AsDateTime());
    case varOleStr:
      return Variant(AsWideString());
    case varString:
      return Variant(AsString());
    case varBoolean:
      return Variant(AsBoolean());
    case varFMTBcd:
      return Variant(AsBcd());
    default:
      CastError(varType);
  }
}

// ---- comparison -----------------------------------------------------------------------------

namespace {

enum class NumKind { Integer, Float, Decimal };

struct Number {
  NumKind Kind;
  Int128 Int = 0;
  double Float = 0;
  TBcd Decimal{};
};

// A numeric operand, or a string read as one (integer, then decimal, then any floating text);
// `other` (the other operand's type) is named in the error for a string that is not a number.
Number ToNumber(const Variant& v, uint16_t other) {
  Number n{NumKind::Integer};
  uint16_t t = v.VarType();
  if (t == varUInt64) {
    n.Int = v.AsUInt64();
  } else if (IsIntegerType(t)) {
    n.Int = v.AsInt64();
  } else if (IsFloatType(t)) {
    n.Kind = NumKind::Float;
    n.Float = v.AsDouble();
  } else if (t == varCurrency || t == varFMTBcd) {
    n.Kind = NumKind::Decimal;
    n.Decimal = v.AsBcd();
  } else {
    std::string s = v.AsString();
    if (ParseInteger(s, n.Int)) return n;
    if (TryStrToBcd(Trimmed(s), n.Decimal)) {
      n.Kind = NumKind::Decimal;
      return n;
    }
    n.Kind = NumKind::Float;
    if (!ParseDouble(s, n.Float)) ThrowCast(t, other);
  }
  return n;
}

double AsFloat(const Number& n) {
  switch (n.Kind) {
    case NumKind::Integer:
      return static_cast<double>(n.Int);
    case NumKind::Float:
      return n.Float;
    default:
      return BcdToDouble(n.Decimal);
  }
}

TBcd AsDecimal(const Number& n) {
  return n.Kind == NumKind::Decimal ? n.Decimal : StrToBcd(Int128ToStr(n.Int));
}

int CompareNumbers(const Variant& a, const Variant& b) {
  Number x = ToNumber(a, b.VarType()), y = ToNumber(b, a.VarType());
  if (x.Kind == NumKind::Integer && y.Kind == NumKind::Integer) return Sign(x.Int, y.Int);
  if (x.Kind == NumKind::Float || y.Kind == NumKind::Float) return CompareDoubles(AsFloat(x), AsFloat(y));
  return BcdCompare(AsDecimal(x), AsDecimal(y));
}

// A date against a string: date text, else a number of days.
TDateTime DateOperand(const Variant& v) {
  if (!v.IsString()) return v.AsDateTime();
  TDateTime d;
  if (TryStrToDateTime(v.AsString(), d)) return d;
  return v.AsDouble();
}

// Empty stands for the zero value of the other operand's type.
Variant ZeroLike(const Variant& other) {
  switch (other.VarType()) {
    case varString:
      return Variant(std::string());
    case varOleStr:
      return Variant(std::u16string());
    case varBoolean:
      return Variant(false);
    default:
      return Variant(0);
  }
}

int CompareBytes(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  size_t n = std::min(a.size(), b.size());
  int r = n ? std::memcmp(a.data(), b.data(), n) : 0;
  if (r == 0) r = a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

}  // namespace

int VarCompare(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull() ? 0 : a.IsNull() ? -1 : 1;
  if (a.IsObject() || b.IsObject()) {
    if (!a.IsObject()) a.CastError(varByRef);
    if (!b.IsObject()) b.CastError(varByRef);
    void *x = a.AsObject(), *y = b.AsObject();
    return x == y ? 0 : std::less<void*>()(x, y) ? -1 : 1;
  }
  if (a.IsByteArray() || b.IsByteArray()) {
    if (!a.IsByteArray()) a.CastError(varArray | varByte);
    if (!b.IsByteArray()) b.CastError(varArray | varByte);
    return CompareBytes(a.AsBytes(), b.AsBytes());
  }
  if (a.IsEmpty() || b.IsEmpty()) {
    if (a.IsEmpty() && b.IsEmpty()) return 0;
    return a.IsEmpty() ? VarCompare(ZeroLike(b), b) : VarCompare(a, ZeroLike(a));
  }
  if (a.IsString() && b.IsString()) {
    if (a.VarType() == varOleStr || b.VarType() == varOleStr)
      return LocaleCompareWide(a.AsWideString(), b.AsWideString(), false);
    return LocaleCompareAnsi(a.Get<std::string>(), b.Get<std::string>(), false);
  }
  if (a.VarType() == varBoolean || b.VarType() == varBoolean) return int(a.AsBoolean()) - int(b.AsBoolean());
  if (a.VarType() == varDate || b.VarType() == varDate) return CompareDoubles(DateOperand(a), DateOperand(b));
  return CompareNumbers(a, b);
}

bool VarSameValue(const Variant& a, const Variant& b) {
  // The locale order tells strings apart exactly as their code units (or, both ANSI, bytes) do.
  if (a.VarType() == varString && b.VarType() == varString)
    return a.Get<std::string>() == b.Get<std::string>();
  if (a.IsString() && b.IsString()) return a.AsWideString() == b.AsWideString();
  return VarCompare(a, b) == 0;
}

std::string VarToStr(const Variant& v) {
  return v.IsNull() ? std::string() : v.AsString();
}
std::u16string VarToWideStr(const Variant& v) {
  return v.IsNull() ? std::u16string() : v.AsWideString();
}
