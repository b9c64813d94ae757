#include "platform/db/NumericFields.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "platform/db/DBConsts.h"
#include "platform/runtime/Format.h"

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

template <typename T>
static bool ParseInteger(std::string_view text, T& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool TryTextToInt64(std::string_view text, int64_t& value) {
  return ParseInteger(text, value);
}

bool TryTextToUInt64(std::string_view text, uint64_t& value) {
  return ParseInteger(text, value);
}

bool TryTextToFloat(std::string_view text, double& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

namespace {

[[noreturn]] void InvalidInteger(const std::string& text) {
  throw EConvertError(Format(SInvalidIntegerValue, {text}));
}

[[noreturn]] void InvalidFloat(const std::string& text) {
  throw EConvertError(Format(SInvalidFloatValue, {text}));
}

bool IsBlank(const std::string& text) {
  return TrimBlanks(text).empty();
}

// A float rounded to the nearest integer (ties to even, as the variant conversions do).
int64_t RoundToInt64(double value) {
  double r = std::nearbyint(value);
  if (!std::isfinite(r) || r < -9223372036854775808.0 || r >= 9223372036854775808.0)
    throw EConvertError(Format(SInvalidIntegerValue, {FloatToStr(value)}));
  return static_cast<int64_t>(r);
}

std::string FloatText(double value, int precision) {
  if (precision <= 0 || precision >= 15) return FloatToStr(value);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*g", precision, value);  // "C" numeric locale in this library
  return buf;
}

}  // namespace

TNumericField::TNumericField(TComponent* owner) : TField(owner) {
  SetAlignment(taRightJustify);
}

// ---- TIntegerField --------------------------------------------------------------------------

TIntegerField::TIntegerField(TComponent* owner, TFieldType type) : TNumericField(owner) {
  SetDataType(type);
  switch (type) {
    case ftSmallint:
      FMinRange = std::numeric_limits<int16_t>::min();
      FMaxRange = std::numeric_limits<int16_t>::max();
      break;
    case ftWord:
      FMinRange = 0;
      FMaxRange = std::numeric_limits<uint16_t>::max();
      break;
    default:
      FMinRange = std::numeric_limits<int32_t>::min();
      FMaxRange = std::numeric_limits<int32_t>::max();
      break;
  }
}

int TIntegerField::DataSize() const {
  return DataType() == ftSmallint || DataType() == ftWord ? 2 : 4;
}

bool TIntegerField::ReadValue(int64_t& value) const {
  switch (DataType()) {
    case ftSmallint: {
      int16_t v = 0;
      if (!GetNative(v)) return false;
      value = v;
      return true;
    }
    case ftWord: {
      uint16_t v = 0;
      if (!GetNative(v)) return false;
      value = v;
      return true;
    }
    default: {
      int32_t v = 0;
      if (!GetNative(v)) return false;
      value = v;
      return true;
    }
  }
}

int64_t TIntegerField::GetAsLargeInt() const {
  int64_t v = 0;
  return ReadValue(v) ? v : 0;
}

int32_t TIntegerField::GetAsInteger() const {
  return static_cast<int32_t>(GetAsLargeInt());
}

void TIntegerField::SetAsLargeInt(int64_t value) {
  int64_t lo = FMinRange, hi = FMaxRange;
  if (MinValue != 0 || MaxValue != 0) {
    lo = std::max<int64_t>(lo, MinValue);
    hi = std::min<int64_t>(hi, MaxValue);
  }
  if ((value < lo || value > hi) && !(value == 0 && ZeroInRange))
    RangeError(IntToStr(value), IntToStr(lo), IntToStr(hi));
  switch (DataType()) {
    case ftSmallint:
      SetNative(static_cast<int16_t>(value));
      break;
    case ftWord:
      SetNative(static_cast<uint16_t>(value));
      break;
    default:
      SetNative(static_cast<int32_t>(value));
      break;
  }
}

void TIntegerField::SetAsFloat(double value) {
  SetAsLargeInt(RoundToInt64(value));
}

std::string TIntegerField::GetAsString() const {
  int64_t v = 0;
  return ReadValue(v) ? IntToStr(v) : std::string();
}

void TIntegerField::SetAsString(const std::string& value) {
  if (IsBlank(value)) return Clear();
  int64_t v;
  if (!ParseInteger(value, v)) InvalidInteger(value);
  SetAsLargeInt(v);
}

Variant TIntegerField::GetAsVariant() const {
  int64_t v = 0;
  if (!ReadValue(v)) return Variant::Null();
  if (DataType() == ftSmallint) return Variant(static_cast<short>(v));
  if (DataType() == ftWord) return Variant(static_cast<unsigned short>(v));
  return Variant(static_cast<int>(v));
}

void TIntegerField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.IsString()) return SetAsString(value.AsString());
  SetAsLargeInt(value.AsInt64());
}

void TIntegerField::GetText(std::string& text, bool) const {
  text = GetAsString();
}

// ---- TLargeintField -------------------------------------------------------------------------

TLargeintField::TLargeintField(TComponent* owner) : TNumericField(owner) {
  SetDataType(ftLargeint);
}

int64_t TLargeintField::GetAsLargeInt() const {
  int64_t v = 0;
  return GetNative(v) ? v : 0;
}

int32_t TLargeintField::GetAsInteger() const {
  int64_t v = GetAsLargeInt();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw EConvertError(Format(SInvalidIntegerValue, {IntToStr(v)}));
  return static_cast<int32_t>(v);
}

void TLargeintField::SetAsLargeInt(int64_t value) {
  if ((MinValue != 0 || MaxValue != 0) && (value < MinValue || value > MaxValue))
    RangeError(IntToStr(value), IntToStr(MinValue), IntToStr(MaxValue));
  SetNative(value);
}

void TLargeintField::SetAsFloat(double value) {
  SetAsLargeInt(RoundToInt64(value));
}

std::string TLargeintField::GetAsString() const {
  int64_t v = 0;
  return GetNative(v) ? IntToStr(v) : std::string();
}

void TLargeintField::SetAsString(const std::string& value) {
  if (IsBlank(value)) return Clear();
  int64_t v;
  if (!ParseInteger(value, v)) InvalidInteger(value);
  SetAsLargeInt(v);
}

Variant TLargeintField::GetAsVariant() const {
  int64_t v = 0;
  return GetNative(v) ? Variant(static_cast<long long>(v)) : Variant::Null();
}

void TLargeintField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.IsString()) return SetAsString(value.AsString());
  SetAsLargeInt(value.AsInt64());
}

void TLargeintField::GetText(std::string& text, bool) const {
  text = GetAsString();
}

// ---- TLargeUIntField ------------------------------------------------------------------------

TLargeUIntField::TLargeUIntField(TComponent* owner) : TNumericField(owner) {
  SetDataType(ftLargeUInt);
}

uint64_t TLargeUIntField::GetAsLargeUInt() const {
  uint64_t v = 0;
  return GetNative(v) ? v : 0;
}

int64_t TLargeUIntField::GetAsLargeInt() const {
  uint64_t v = GetAsLargeUInt();
  if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
    throw EConvertError(Format(SInvalidIntegerValue, {UIntToStr(v)}));
  return static_cast<int64_t>(v);
}

int32_t TLargeUIntField::GetAsInteger() const {
  uint64_t v = GetAsLargeUInt();
  if (v > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
    throw EConvertError(Format(SInvalidIntegerValue, {UIntToStr(v)}));
  return static_cast<int32_t>(v);
}

void TLargeUIntField::SetAsLargeUInt(uint64_t value) {
  uint64_t lo = 0, hi = std::numeric_limits<uint64_t>::max();
  if (MinValue != 0 || MaxValue != 0) lo = MinValue, hi = MaxValue;
  if (value < lo || value > hi) RangeError(UIntToStr(value), UIntToStr(lo), UIntToStr(hi));
  SetNative(value);
}

void TLargeUIntField::SetAsLargeInt(int64_t value) {
  if (value < 0) {
    uint64_t hi = MinValue != 0 || MaxValue != 0 ? MaxValue : std::numeric_limits<uint64_t>::max();
    RangeError(IntToStr(value), UIntToStr(MinValue), UIntToStr(hi));
  }
  SetAsLargeUInt(static_cast<uint64_t>(value));
}

void TLargeUIntField::SetAsFloat(double value) {
  double r = std::nearbyint(value);
  if (!std::isfinite(r) || r < 0 || r >= 18446744073709551616.0)
    RangeError(FloatToStr(value), "0", UIntToStr(std::numeric_limits<uint64_t>::max()));
  SetAsLargeUInt(static_cast<uint64_t>(r));
}

std::string TLargeUIntField::GetAsString() const {
  uint64_t v = 0;
  return GetNative(v) ? UIntToStr(v) : std::string();
}

void TLargeUIntField::SetAsString(const std::string& value) {
  if (IsBlank(value)) return Clear();
  std::string_view t = TrimBlanks(value);
  int64_t negative;
  if (!t.empty() && t.front() == '-' && ParseInteger(t, negative)) return SetAsLargeInt(negative);
  uint64_t v;
  if (!ParseInteger(t, v)) InvalidInteger(value);
  SetAsLargeUInt(v);
}

Variant TLargeUIntField::GetAsVariant() const {
  uint64_t v = 0;
  return GetNative(v) ? Variant(static_cast<unsigned long long>(v)) : Variant::Null();
}

void TLargeUIntField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.IsString()) return SetAsString(value.AsString());
  if (value.VarType() == varUInt64) return SetAsLargeUInt(value.AsUInt64());
  SetAsLargeInt(value.AsInt64());
}

void TLargeUIntField::GetText(std::string& text, bool) const {
  text = GetAsString();
}

// ---- TFloatField ----------------------------------------------------------------------------

TFloatField::TFloatField(TComponent* owner, TFieldType type) : TNumericField(owner) {
  SetDataType(type);
}

double TFloatField::GetAsFloat() const {
  double v = 0;
  return GetNative(v) ? v : 0;
}

int32_t TFloatField::GetAsInteger() const {
  int64_t v = GetAsLargeInt();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw EConvertError(Format(SInvalidIntegerValue, {IntToStr(v)}));
  return static_cast<int32_t>(v);
}

int64_t TFloatField::GetAsLargeInt() const {
  return RoundToInt64(GetAsFloat());
}

void TFloatField::SetAsFloat(double value) {
  if (!std::isfinite(value)) InvalidFloat(FloatToStr(value));
  if ((MinValue != 0 || MaxValue != 0) && (value < MinValue || value > MaxValue))
    RangeError(FloatToStr(value), FloatToStr(MinValue), FloatToStr(MaxValue));
  SetNative(value);
}

std::string TFloatField::GetAsString() const {
  double v = 0;
  return GetNative(v) ? FloatToStr(v) : std::string();
}

void TFloatField::SetAsString(const std::string& value) {
  if (IsBlank(value)) return Clear();
  double v;
  if (!TryTextToFloat(value, v)) InvalidFloat(value);
  SetAsFloat(v);
}

Variant TFloatField::GetAsVariant() const {
  double v = 0;
  return GetNative(v) ? Variant(v) : Variant::Null();
}

void TFloatField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.IsString()) return SetAsString(value.AsString());
  SetAsFloat(value.AsDouble());
}

void TFloatField::GetText(std::string& text, bool displayText) const {
  double v = 0;
  if (!GetNative(v)) {
    text.clear();
    return;
  }
  // Editing shows every digit, so that an unchanged text writes back the same value.
  text = displayText ? FloatText(v, Precision) : FloatToStr(v);
}

Variant TCurrencyField::GetAsVariant() const {
  double v = 0;
  return GetNative(v) ? Variant(DoubleToCurr(v)) : Variant::Null();
}

// ---- TBCDField ------------------------------------------------------------------------------

TBCDField::TBCDField(TComponent* owner) : TNumericField(owner) {
  SetDataType(ftBCD);
  SetSizeUnchecked(4);
}

void TBCDField::CheckTypeSize(int value) const {
  if (value < 0 || value > 4) TField::CheckTypeSize(-1);
}

Currency TBCDField::GetAsCurrency() const {
  Currency v;
  return GetNative(v) ? v : Currency{};
}

void TBCDField::SetAsCurrency(Currency value) {
  // Rounded to the field's places, half away from zero.
  int64_t unit = 1;
  for (int i = Size(); i < 4; ++i) unit *= 10;
  if (unit > 1) {
    int64_t rem = value.Scaled % unit;
    int64_t base = value.Scaled - rem;
    if (2 * (rem < 0 ? -rem : rem) >= unit) base += rem < 0 ? -unit : unit;
    value.Scaled = base;
  }
  Currency lo = MinValue, hi = MaxValue;
  bool ranged = MinValue.Scaled != 0 || MaxValue.Scaled != 0;
  if (!ranged && Precision > 0 && Precision - Size() < 15) {
    int64_t limit = 1;
    for (int i = 0; i < Precision; ++i) limit *= 10;
    for (int i = Size(); i < 4; ++i) limit *= 10;
    lo = Currency::FromScaled(-(limit - unit));
    hi = Currency::FromScaled(limit - unit);
    ranged = true;
  }
  if (ranged && (value < lo || value > hi)) RangeError(CurrToStr(value), CurrToStr(lo), CurrToStr(hi));
  SetNative(value);
}

void TBCDField::SetAsFloat(double value) {
  Currency c;
  if (!TryDoubleToCurr(value, c)) InvalidFloat(FloatToStr(value));
  SetAsCurrency(c);
}

int32_t TBCDField::GetAsInteger() const {
  int64_t v = GetAsLargeInt();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw EConvertError(Format(SInvalidIntegerValue, {IntToStr(v)}));
  return static_cast<int32_t>(v);
}

int64_t TBCDField::GetAsLargeInt() const {
  return BcdToInt64(CurrToBcd(GetAsCurrency()));
}

TBcd TBCDField::GetAsBCD() const {
  return CurrToBcd(GetAsCurrency());
}

std::string TBCDField::GetAsString() const {
  Currency v;
  return GetNative(v) ? CurrToStr(v) : std::string();
}

void TBCDField::SetAsString(const std::string& value) {
  if (IsBlank(value)) return Clear();
  Currency c;
  if (!TryStrToCurr(value, c)) InvalidFloat(value);
  SetAsCurrency(c);
}

Variant TBCDField::GetAsVariant() const {
  Currency v;
  return GetNative(v) ? Variant(v) : Variant::Null();
}

void TBCDField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.IsString()) return SetAsString(value.AsString());
  SetAsCurrency(value.AsCurrency());
}

void TBCDField::GetText(std::string& text, bool) const {
  text = GetAsString();
}

// ---- TFMTBCDField ---------------------------------------------------------------------------

TFMTBCDField::TFMTBCDField(TComponent* owner) : TNumericField(owner) {
  SetDataType(ftFMTBcd);
  SetSizeUnchecked(8);
}

void TFMTBCDField::CheckTypeSize(int value) const {
  if (value < 0 || value > MaxFMTBcdFractionSize - 1) TField::CheckTypeSize(-1);
}

TBcd TFMTBCDField::GetAsBCD() const {
  TBcd v{};
  if (!GetNative(v)) return Int64ToBcd(0);
  return v;
}

void TFMTBCDField::SetAsBCD(const TBcd& value) {
  int precision = Precision > 0 ? Precision : MaxFMTBcdFractionSize;
  TBcd normalized;
  if (!NormalizeBcd(value, normalized, precision, Size())) {
    std::string max(static_cast<size_t>(precision - Size()), '9');
    if (max.empty()) max = "0";
    if (Size() > 0) max += "." + std::string(static_cast<size_t>(Size()), '9');
    RangeError(BcdToStr(value), "-" + max, max);
  }
  SetNative(normalized);
}

int32_t TFMTBCDField::GetAsInteger() const {
  int64_t v = GetAsLargeInt();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw EConvertError(Format(SInvalidIntegerValue, {IntToStr(v)}));
  return static_cast<int32_t>(v);
}

int64_t TFMTBCDField::GetAsLargeInt() const {
  return BcdToInt64(GetAsBCD());
}

double TFMTBCDField::GetAsFloat() const {
  return BcdToDouble(GetAsBCD());
}

Currency TFMTBCDField::GetAsCurrency() const {
  return BcdToCurr(GetAsBCD());
}

std::string TFMTBCDField::GetAsString() const {
  TBcd v{};
  return GetNative(v) ? BcdToStr(v) : std::string();
}

void TFMTBCDField::SetAsString(const std::string& value) {
  if (IsBlank(value)) return Clear();
  TBcd v;
  if (!TryStrToBcd(value, v)) throw EConvertError(Format(SInvalidBcdValue, {value}));
  SetAsBCD(v);
}

Variant TFMTBCDField::GetAsVariant() const {
  TBcd v{};
  return GetNative(v) ? Variant(v) : Variant::Null();
}

void TFMTBCDField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.IsString()) return SetAsString(value.AsString());
  SetAsBCD(value.AsBcd());
}

void TFMTBCDField::GetText(std::string& text, bool) const {
  text = GetAsString();
}
