#include "core/MemDataSort.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "core/CLRClasses.h"
#include "core/DAConsts.h"
#include "core/MemDataStore.h"
#include "core/MemFieldValues.h"
#include "core/MemFilter.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Currency.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/LocaleCompare.h"

namespace {

int Sign(int v) noexcept {
  return v < 0 ? -1 : v > 0 ? 1 : 0;
}

template <class T>
int ThreeWay(T a, T b) noexcept {
  return a < b ? -1 : b < a ? 1 : 0;
}

// A total order on doubles: NaN after every number and equal to NaN.
int CompareDoubles(double a, double b) noexcept {
  const bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : na ? 1 : -1;
  return ThreeWay(a, b);
}

// A stored date-time counts the time of day backwards before 1899-12-30 (-1.25 is 06:00 of the
// day before): day plus the fraction's size is chronological.
double Chronological(double v) noexcept {
  if (!(v < 0)) return v;
  const double day = std::trunc(v);
  return day + (day - v);
}

[[noreturn]] void RaiseCannotConvertType() {
  throw EConvertError(MessageText(SCannotConvertType));
}

std::string_view TrimRight(std::string_view s, bool trim) {
  if (trim)
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Text positions that start a character.
bool AtAnsiCharStart(std::string_view text, size_t pos) {
  const TCharsetKind cs = AnsiCharsetKind();
  size_t p = 0;
  while (p < pos) p += MbCharLen(cs, text.data() + p, text.data() + text.size());
  return p == pos;
}

bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}
bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

// Whether key occurs in text starting and ending on character boundaries.
bool ContainsAnsi(std::string_view text, std::string_view key) {
  if (key.empty()) return true;
  const TCharsetKind cs = AnsiCharsetKind();
  for (size_t p = 0; p + key.size() <= text.size();) {
    if (text.compare(p, key.size(), key) == 0 && AtAnsiCharStart(text.substr(p), key.size())) return true;
    p += MbCharLen(cs, text.data() + p, text.data() + text.size());
  }
  return false;
}

bool ContainsWide(std::u16string_view text, std::u16string_view key) {
  if (key.empty()) return true;
  for (size_t p = text.find(key); p != std::u16string_view::npos; p = text.find(key, p + 1)) {
    const size_t end = p + key.size();
    const bool startOk = !(IsLowSurrogate(text[p]) && p > 0 && IsHighSurrogate(text[p - 1]));
    const bool endOk = end == text.size() || !(IsLowSurrogate(text[end]) && IsHighSurrogate(text[end - 1]));
    if (startOk && endOk) return true;
  }
  return false;
}

}  // namespace

// ---- Bytes ------------------------------------------------------------------------------------

int CompareBinary(const void* a, const void* b, size_t length) noexcept {
  return length == 0 ? 0 : Sign(std::memcmp(a, b, length));
}

int CompareBinaryValues(const void* a, size_t lenA, int options, const void* b, size_t lenB) noexcept {
  const auto* pa = static_cast<const uint8_t*>(a);
  const auto* pb = static_cast<const uint8_t*>(b);
  if (options & coPartialCompare) {
    if (lenA == 0) return 0;
    if (lenA > lenB) return 1;
    const std::basic_string_view<uint8_t> text(pb, lenB);
    return text.find(std::basic_string_view<uint8_t>(pa, lenA)) != text.npos ? 0 : 1;
  }
  if (options & coPartialKey) return lenA <= lenB ? CompareBinary(a, b, lenA) : 1;
  const int r = CompareBinary(a, b, std::min(lenA, lenB));
  return r != 0 ? r : ThreeWay(lenA, lenB);
}

// ---- Text -------------------------------------------------------------------------------------

int TStringComparer::CompareStrings(std::string_view a, std::string_view b, int options) {
  return LocaleCompareAnsi(a, b, (options & coCaseInsensitive) != 0);
}

int TStringComparer::CompareWideStrings(std::u16string_view a, std::u16string_view b, int options) {
  return LocaleCompareWide(a, b, (options & coCaseInsensitive) != 0);
}

int TStringComparer::CompareStringsLen(std::string_view a, std::string_view b, int options) {
  return CompareStrings(a, b.substr(0, MbCutLength(AnsiCharsetKind(), b, a.size())), options);
}

int TStringComparer::CompareWideStringsLen(std::u16string_view a, std::u16string_view b, int options) {
  return CompareWideStrings(a, b.substr(0, WideCutLength(b, a.size())), options);
}

int TStringComparer::CompareStrValues(std::string_view key, std::string_view fieldText, int options) {
  if (options & coPartialCompare) {
    if (options & coCaseInsensitive)
      return ContainsAnsi(AnsiUpperCase(fieldText), AnsiUpperCase(key)) ? 0 : 1;
    return ContainsAnsi(fieldText, key) ? 0 : 1;
  }
  if (options & coPartialKey) {
    if (key.empty()) return CompareStrings(key, fieldText, options);
    if (fieldText.size() < key.size()) return 1;
    return CompareStringsLen(key, fieldText, options);
  }
  return CompareStrings(key, fieldText, options);
}

int TStringComparer::CompareWideStrValues(std::u16string_view key, std::u16string_view fieldText,
                                          int options) {
  if (options & coPartialCompare) {
    if (options & coCaseInsensitive)
      return ContainsWide(WideUpperCase(fieldText), WideUpperCase(key)) ? 0 : 1;
    return ContainsWide(fieldText, key) ? 0 : 1;
  }
  if (options & coPartialKey) {
    if (key.empty()) return CompareWideStrings(key, fieldText, options);
    if (fieldText.size() < key.size()) return 1;
    return CompareWideStringsLen(key, fieldText, options);
  }
  return CompareWideStrings(key, fieldText, options);
}

// ---- Values -----------------------------------------------------------------------------------

namespace {

std::u16string ReadWideKey(const void* p) {
  std::u16string text;
  const auto* bytes = static_cast<const uint8_t*>(p);
  for (size_t i = 0;; i += 2) {
    char16_t unit;
    std::memcpy(&unit, bytes + i, 2);
    if (unit == 0) return text;
    text += unit;
  }
}

void SetKeyBytes(const void* p, TCompareValue& out) {
  out.Group = TCompareValue::cgBytes;
  const auto count = static_cast<uint16_t>(Marshal::ReadInt16(p));
  out.Bytes = {static_cast<const uint8_t*>(p) + 2, count};
}

}  // namespace

void KeyCompareValue(const void* valuePtr, TDataType valueType, TCompareValue& out) {
  out.DataType = valueType;
  const void* p = valuePtr;
  switch (valueType) {
    case dtString:
    case dtGuid:
    case dtMemo:
      out.Group = TCompareValue::cgText;
      out.Text = static_cast<const char*>(p);
      return;
    case dtExtString: {
      const auto count = static_cast<uint32_t>(Marshal::ReadInt32(p));
      out.Group = TCompareValue::cgText;
      out.Text = std::string_view(static_cast<const char*>(p) + 4, count);
      return;
    }
    case dtWideString:
    case dtExtWideString:
    case dtWideMemo:
      out.Group = TCompareValue::cgWideText;
      out.WideText = ReadWideKey(p);
      return;
    case dtInt8:
    case dtInt16:
    case dtUInt16:
    case dtInt32:
      out.Integer = Marshal::ReadInt32(p);
      return;
    case dtUInt32:
      out.Integer = static_cast<uint32_t>(Marshal::ReadInt32(p));
      return;
    case dtInt64:
      out.Integer = Marshal::ReadInt64(p);
      return;
    case dtUInt64:
    case dtDateTimeUs:
    case dtTimeUs:
      out.Group = valueType == dtUInt64 ? TCompareValue::cgUInt64 : TCompareValue::cgMicros;
      out.Integer = Marshal::ReadInt64(p);
      return;
    case dtBoolean:
      out.Group = TCompareValue::cgBoolean;
      out.Integer = Marshal::ReadByte(p) != 0;
      return;
    case dtFloat:
    case dtCurrency:
    case dtDate:
    case dtTime:
    case dtDateTime:
      out.Group = valueType == dtFloat || valueType == dtCurrency ? TCompareValue::cgFloat
                                                                  : TCompareValue::cgDateTime;
      out.Float = BitConverter::Int64BitsToDouble(Marshal::ReadInt64(p));
      return;
    case dtBCD:
      out.Group = TCompareValue::cgBcd;
      out.Integer = Marshal::ReadInt64(p);
      return;
    case dtFmtBCD:
      out.Group = TCompareValue::cgFmtBcd;
      std::memcpy(&out.Bcd, p, sizeof out.Bcd);
      return;
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes:
    case dtBlob:
      SetKeyBytes(p, out);
      return;
    case dtVariant:
      out.Group = TCompareValue::cgVariant;
      out.Value = *static_cast<const Variant*>(p);
      return;
    case dtObject:
    case dtReference:
    case dtArray:
    case dtTable:
      RaiseCannotConvertType();
    default:
      DA_ASSERT_MSG(false, "Unknown ValueType = " + std::to_string(valueType));
  }
}

namespace {

void ReadBlobValue(TData& data, const void* recBuf, const TFieldDesc& field, TCompareValue& out) {
  TBlob* blob = data.GetBlob(field.FieldNo, recBuf);
  if (field.DataType == dtWideMemo) {
    out.Group = TCompareValue::cgWideText;
    out.WideText = blob->GetAsWideString();
  } else if (field.DataType == dtMemo) {
    out.Group = TCompareValue::cgText;
    out.OwnText = blob->GetAsString();
    out.Text = out.OwnText;
  } else {
    out.Group = TCompareValue::cgBytes;
    out.OwnBytes.resize(blob->GetSize());
    out.OwnBytes.resize(blob->Read(0, 0, out.OwnBytes.data()));
    out.Bytes = out.OwnBytes;
  }
}

// Integers, Booleans (0 or 1) and BCD values (scaled) as the record holds them.
bool ReadStoredInteger(const uint8_t* p, const TFieldDesc& field, int64_t& value) noexcept {
  switch (field.DataType) {
    case dtInt8:
      value = field.Size == 1 ? static_cast<int8_t>(*p) : Marshal::ReadInt16(p);
      return true;
    case dtInt16:
      value = Marshal::ReadInt16(p);
      return true;
    case dtUInt16:
      value = static_cast<uint16_t>(Marshal::ReadInt16(p));
      return true;
    case dtInt32:
      value = Marshal::ReadInt32(p);
      return true;
    case dtUInt32:
      value = static_cast<uint32_t>(Marshal::ReadInt32(p));
      return true;
    case dtBoolean:
      value = Marshal::ReadInt16(p) != 0;
      return true;
    case dtInt64:
    case dtBCD:
    case dtDateTimeUs:
    case dtTimeUs:
      value = Marshal::ReadInt64(p);
      return true;
    default:
      return false;
  }
}

// The types ReadStoredInteger reads.
bool IsStoredIntegerType(TDataType type) noexcept {
  switch (type) {
    case dtInt8:
    case dtInt16:
    case dtUInt16:
    case dtInt32:
    case dtUInt32:
    case dtBoolean:
    case dtInt64:
    case dtBCD:
    case dtDateTimeUs:
    case dtTimeUs:
      return true;
    default:
      return false;
  }
}

bool ReadIntegerValue(const uint8_t* p, const TFieldDesc& field, TCompareValue& out) {
  if (!ReadStoredInteger(p, field, out.Integer)) return false;
  if (field.DataType == dtBoolean) out.Group = TCompareValue::cgBoolean;
  if (field.DataType == dtBCD) out.Group = TCompareValue::cgBcd;
  if (field.DataType == dtDateTimeUs || field.DataType == dtTimeUs) out.Group = TCompareValue::cgMicros;
  return true;
}

// Two values of a fixed-size field compared where they are stored: the sort's common case.
bool CompareStoredFixed(const void* recBuf1, const void* recBuf2, const TFieldDesc& field,
                        int& result) noexcept {
  const auto* p1 = static_cast<const uint8_t*>(recBuf1) + field.Offset;
  const auto* p2 = static_cast<const uint8_t*>(recBuf2) + field.Offset;
  int64_t i1, i2;
  if (ReadStoredInteger(p1, field, i1) && ReadStoredInteger(p2, field, i2)) {
    result = ThreeWay(i1, i2);
    return true;
  }
  switch (field.DataType) {
    case dtUInt64:
      result = ThreeWay(static_cast<uint64_t>(Marshal::ReadInt64(p1)),
                        static_cast<uint64_t>(Marshal::ReadInt64(p2)));
      return true;
    case dtFloat:
    case dtCurrency:
    case dtDate:
    case dtTime:
    case dtDateTime: {
      double d1 = BitConverter::Int64BitsToDouble(Marshal::ReadInt64(p1));
      double d2 = BitConverter::Int64BitsToDouble(Marshal::ReadInt64(p2));
      if (field.DataType != dtFloat && field.DataType != dtCurrency) {
        d1 = Chronological(d1);
        d2 = Chronological(d2);
      }
      result = CompareDoubles(d1, d2);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

void FieldCompareValue(TData& data, const void* recBuf, const TFieldDesc& field, TCompareValue& out) {
  out.DataType = field.DataType;
  const auto* p = static_cast<const uint8_t*>(recBuf) + field.Offset;
  const bool trim = field.Fixed ? data.TrimFixedChar : data.TrimVarChar;
  if (ReadIntegerValue(p, field, out)) return;
  switch (field.DataType) {
    case dtString:
      out.Group = TCompareValue::cgText;
      out.Text = TrimRight(InlineTextOf(p, field.Size), trim);
      return;
    case dtGuid:
      out.Group = TCompareValue::cgText;
      out.Text = AnsiTextOf(p, field.Size);
      return;
    case dtExtString:
      out.Group = TCompareValue::cgText;
      out.Text = TrimRight(HeapTextOf(Marshal::ReadIntPtr(p)), trim);
      return;
    case dtWideString:
    case dtExtWideString:
      out.Group = TCompareValue::cgWideText;
      out.WideText = TrimRightBlanksIf(
          field.DataType == dtWideString ? ReadWideText(p, field.Size) : HeapWideText(Marshal::ReadIntPtr(p)),
          trim);
      return;
    case dtFloat:
    case dtCurrency:
    case dtDate:
    case dtTime:
    case dtDateTime:
      out.Group = field.DataType == dtFloat || field.DataType == dtCurrency ? TCompareValue::cgFloat
                                                                            : TCompareValue::cgDateTime;
      out.Float = BitConverter::Int64BitsToDouble(Marshal::ReadInt64(p));
      return;
    case dtFmtBCD:
      out.Group = TCompareValue::cgFmtBcd;
      std::memcpy(&out.Bcd, p, sizeof out.Bcd);
      return;
    case dtUInt64:
      out.Group = TCompareValue::cgUInt64;
      out.Integer = Marshal::ReadInt64(p);
      return;
    case dtBytes:
      out.Group = TCompareValue::cgBytes;
      out.Bytes = {p, field.Length};
      return;
    case dtVarBytes:
    case dtExtVarBytes:
      out.Group = TCompareValue::cgBytes;
      out.Bytes = field.DataType == dtVarBytes ? VarBytesOf(p, field.Size, field.Length)
                                               : HeapVarBytes(Marshal::ReadIntPtr(p));
      return;
    case dtVariant:
      out.Group = TCompareValue::cgVariant;
      out.Value = data.GetFieldAsVariant(field.FieldNo, recBuf);
      return;
    case dtBlob:
    case dtMemo:
    case dtWideMemo:
      ReadBlobValue(data, recBuf, field, out);
      return;
    default:
      RaiseCannotConvertType();
  }
}

bool IsSortableType(TDataType dataType) noexcept {
  return dataType >= dtString && dataType <= dtMaxDataType && (dataType < dtObject || dataType > dtTable);
}

namespace {

using TGroup = TCompareValue::TGroup;

bool IsNumberGroup(TGroup g) {
  return g == TCompareValue::cgInteger || g == TCompareValue::cgUInt64 || g == TCompareValue::cgFloat ||
         g == TCompareValue::cgDateTime || g == TCompareValue::cgBcd || g == TCompareValue::cgFmtBcd;
}

long double NumberOf(const TCompareValue& v) {
  switch (v.Group) {
    case TCompareValue::cgInteger:
      return static_cast<long double>(v.Integer);
    case TCompareValue::cgUInt64:
      return static_cast<long double>(static_cast<uint64_t>(v.Integer));
    case TCompareValue::cgBcd:
      return static_cast<long double>(v.Integer) / 10000;
    case TCompareValue::cgFmtBcd:
      return BcdToDouble(v.Bcd);
    case TCompareValue::cgDateTime:
      return Chronological(v.Float);
    default:
      return v.Float;
  }
}

// The text a field value shows when compared with a text key.
std::string TextOf(const TCompareValue& v) {
  switch (v.Group) {
    case TCompareValue::cgText:
      return std::string(v.Text);
    case TCompareValue::cgWideText:
      return WideToAnsi(v.WideText);
    case TCompareValue::cgInteger:
      return IntToStr(v.Integer);
    case TCompareValue::cgUInt64:
      return UIntToStr(static_cast<uint64_t>(v.Integer));
    case TCompareValue::cgMicros:
      return v.DataType == dtTimeUs ? TimeUsToStr(v.Integer, MaxFractionDigits)
                                    : DateTimeUsToStr(v.Integer, MaxFractionDigits);
    case TCompareValue::cgFloat:
      return FloatToStr(v.Float);
    case TCompareValue::cgDateTime:
      return v.DataType == dtDate   ? DateToStr(v.Float)
             : v.DataType == dtTime ? TimeToStr(v.Float)
                                    : DateTimeToStr(v.Float);
    case TCompareValue::cgBcd:
      return CurrToStr(Currency::FromScaled(v.Integer));
    case TCompareValue::cgFmtBcd:
      return BcdToStr(v.Bcd);
    case TCompareValue::cgBoolean:
      return v.Integer ? "True" : "False";
    case TCompareValue::cgVariant:
      return VarToStr(v.Value);
    default:
      RaiseCannotConvertType();
  }
}

Variant VariantOf(const TCompareValue& v) {
  switch (v.Group) {
    case TCompareValue::cgText:
      return Variant(v.Text);
    case TCompareValue::cgWideText:
      return Variant(v.WideText);
    case TCompareValue::cgInteger:
      return Variant(static_cast<long long>(v.Integer));
    case TCompareValue::cgUInt64:
      return Variant(static_cast<unsigned long long>(v.Integer));
    case TCompareValue::cgMicros:
      return Variant(TextOf(v));
    case TCompareValue::cgFloat:
      return Variant(v.Float);
    case TCompareValue::cgDateTime:
      return Variant::FromDateTime(v.Float);
    case TCompareValue::cgBcd:
      return Variant(Currency::FromScaled(v.Integer));
    case TCompareValue::cgFmtBcd:
      return Variant(v.Bcd);
    case TCompareValue::cgBoolean:
      return Variant(v.Integer != 0);
    case TCompareValue::cgBytes:
      return Variant::FromBytes(v.Bytes.data(), v.Bytes.size());
    default:
      return v.Value;
  }
}

bool IsPartial(int options) {
  return (options & (coPartialKey | coPartialCompare)) != 0;
}

int CompareText(TStringComparer& strings, std::string_view value, std::string_view field, int options) {
  return IsPartial(options) ? strings.CompareStrValues(value, field, options)
                            : strings.CompareStrings(value, field, options);
}

int CompareWideText(TStringComparer& strings, std::u16string_view value, std::u16string_view field,
                    int options) {
  return IsPartial(options) ? strings.CompareWideStrValues(value, field, options)
                            : strings.CompareWideStrings(value, field, options);
}

int CompareSameGroup(TStringComparer& strings, const TCompareValue& v, const TCompareValue& f, int options) {
  switch (v.Group) {
    case TCompareValue::cgText:
      return CompareText(strings, v.Text, f.Text, options);
    case TCompareValue::cgWideText:
      return CompareWideText(strings, v.WideText, f.WideText, options);
    case TCompareValue::cgFloat:
      return CompareDoubles(v.Float, f.Float);
    case TCompareValue::cgDateTime:
      return CompareDoubles(Chronological(v.Float), Chronological(f.Float));
    case TCompareValue::cgFmtBcd:
      return Sign(BcdCompare(v.Bcd, f.Bcd));
    case TCompareValue::cgBytes:
      return CompareBinaryValues(v.Bytes.data(), v.Bytes.size(), options, f.Bytes.data(), f.Bytes.size());
    case TCompareValue::cgVariant:
      return Sign(VarCompare(v.Value, f.Value));
    case TCompareValue::cgUInt64:
      return ThreeWay(static_cast<uint64_t>(v.Integer), static_cast<uint64_t>(f.Integer));
    default:
      return ThreeWay(v.Integer, f.Integer);  // integers, BCD, Booleans, microseconds
  }
}

// A value of another group as the microseconds of `kind` (dtDateTimeUs or dtTimeUs).
int64_t MicrosOf(const TCompareValue& v, TDataType kind) {
  TFieldDesc field;
  field.DataType = kind;
  switch (v.Group) {
    case TCompareValue::cgText:
      return MicrosOfVariant(Variant(v.Text), field);
    case TCompareValue::cgWideText:
      return MicrosOfVariant(Variant(v.WideText), field);
    case TCompareValue::cgDateTime:
      return MicrosOfVariant(Variant::FromDateTime(v.Float), field);
    case TCompareValue::cgVariant:
      return MicrosOfVariant(v.Value, field);
    default:
      RaiseCannotConvertType();
  }
}

}  // namespace

int CompareValues(TStringComparer& strings, const TCompareValue& value, const TCompareValue& field,
                  int options) {
  const TGroup vg = value.Group, fg = field.Group;
  if (vg == fg) return CompareSameGroup(strings, value, field, options);
  // Microseconds compare exactly: the other side is read as a date-time or time.
  if (vg == TCompareValue::cgMicros) return ThreeWay(value.Integer, MicrosOf(field, value.DataType));
  if (fg == TCompareValue::cgMicros) return ThreeWay(MicrosOf(value, field.DataType), field.Integer);
  if (vg == TCompareValue::cgText && fg != TCompareValue::cgWideText)
    return CompareText(strings, value.Text, TextOf(field), options);
  if (vg == TCompareValue::cgWideText || (vg == TCompareValue::cgText && fg == TCompareValue::cgWideText)) {
    const std::u16string key = vg == TCompareValue::cgText ? AnsiToWide(value.Text) : value.WideText;
    const std::u16string text = fg == TCompareValue::cgWideText ? field.WideText : AnsiToWide(TextOf(field));
    return CompareWideText(strings, key, text, options);
  }
  if (IsNumberGroup(vg) && IsNumberGroup(fg)) return ThreeWay(NumberOf(value), NumberOf(field));
  if (vg == TCompareValue::cgVariant || fg == TCompareValue::cgVariant)
    return Sign(VarCompare(VariantOf(value), VariantOf(field)));
  RaiseCannotConvertType();
}

int CompareFieldValues(TData& data, TStringComparer& strings, const void* recBuf1, const void* recBuf2,
                       int options, const TFieldDesc& field) {
  const bool null1 = data.GetNull(field.FieldNo, recBuf1);
  const bool null2 = data.GetNull(field.FieldNo, recBuf2);
  if (null1 || null2) return null1 == null2 ? 0 : null1 ? -1 : 1;
  int result;
  if (CompareStoredFixed(recBuf1, recBuf2, field, result)) return result;
  TCompareValue a, b;
  FieldCompareValue(data, recBuf1, field, a);
  FieldCompareValue(data, recBuf2, field, b);
  return CompareValues(strings, a, b, options);
}

// ---- Index field names ------------------------------------------------------------------------

namespace {

[[noreturn]] void RaiseInvalidIndexFieldNames() {
  throw Exception("Invalid IndexFieldNames format!");
}

std::string UpperAscii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Reads index field names; every lexer failure is a format error.
class TIndexFieldNamesReader {
 public:
  explicit TIndexFieldNamesReader(std::string text) : FParser(std::move(text)) {
    FParser.OmitKeywords = true;  // a field may be called "Not" or "Like"
    FParser.KeepStringQuotes = true;
  }

  int Next() {
    try {
      FCode = FParser.GetNext(FLexem);
    } catch (const EAssertionFailed&) {
      throw;
    } catch (const Exception&) {
      RaiseInvalidIndexFieldNames();
    }
    return FCode;
  }
  int Code() const noexcept { return FCode; }
  const std::string& Lexem() const noexcept { return FLexem; }
  bool AtSeparator() const { return FCode == lcSymbol && (FLexem == ";" || FLexem == ","); }

  // The name a column starts with.
  std::string ReadName() {
    if (FCode == lcIdent) return FLexem;
    if (FCode == lcString) return Unquote(FLexem);
    std::string name;
    if (FCode != fcLeftBracket || !FParser.ReadBracketedText(name)) RaiseInvalidIndexFieldNames();
    return name;
  }

 private:
  static std::string Unquote(const std::string& quoted) {
    if (quoted.size() < 2 || quoted.back() != quoted.front()) RaiseInvalidIndexFieldNames();
    std::string name;
    for (size_t i = 1; i + 1 < quoted.size(); ++i) {
      name += quoted[i];
      if (quoted[i] == quoted.front()) ++i;  // a doubled quote stands for one
    }
    return name;
  }

  TBoolParser FParser;
  std::string FLexem;
  int FCode = lcEnd;
};

// Order and case words after a column's name, up to the separator or the end.
void ReadColumnWords(TIndexFieldNamesReader& reader, TSortColumn& column) {
  bool hasOrder = false, hasCase = false;
  for (reader.Next(); reader.Code() != lcEnd; reader.Next()) {
    if (reader.AtSeparator()) {
      reader.Next();
      return;
    }
    if (reader.Code() != lcIdent) RaiseInvalidIndexFieldNames();
    const std::string word = UpperAscii(reader.Lexem());
    bool& seen = word == "DESC" || word == "ASC" ? hasOrder : hasCase;
    if (seen || (word != "DESC" && word != "ASC" && word != "CIS" && word != "CS"))
      RaiseInvalidIndexFieldNames();
    seen = true;
    if (word == "DESC" || word == "ASC")
      column.DescendingOrder = word == "DESC";
    else
      column.CaseSensitive = word == "CS";
  }
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

}  // namespace

void ParseIndexFieldNames(std::string_view text, const TData& data, TSortColumns& columns) {
  columns.Clear();
  text = TrimBlanks(text);
  if (text.empty()) return;
  try {
    TIndexFieldNamesReader reader{std::string(text)};
    reader.Next();
    while (reader.Code() != lcEnd) {
      TFieldDesc* field = data.FieldByName(reader.ReadName());
      if (!IsSortableType(field->DataType)) RaiseCannotConvertType();
      TSortColumn* column = columns.Add();
      column->FieldDesc = field;
      ReadColumnWords(reader, *column);
    }
  } catch (...) {
    columns.Clear();
    throw;
  }
}

// ---- The record store's sort order ------------------------------------------------------------

void TMemData::ParseSortColumns() {
  FSortColumnsStale = false;
  FSortHasCalcFields = false;
  ParseIndexFieldNames(FIndexFieldNames, *this, FSortColumns);
  for (int i = 0; i < FSortColumns.Count(); ++i)
    if (FSortColumns.Items(i)->FieldDesc->FieldDescKind == fdkCalculated) FSortHasCalcFields = true;
}

void TMemData::SetIndexFieldNames(const std::string& text) {
  FIndexFieldNames = text;
  FSortColumns.Clear();
  FSortColumnsStale = true;
  if (!FActive) return;
  try {
    ParseSortColumns();
    SortItems();
  } catch (...) {
    // Unsorted, and staying so when the store is opened again.
    FIndexFieldNames.clear();
    FSortColumns.Clear();
    FSortColumnsStale = false;
    throw;
  }
}

namespace {

// A stable merge sort of an array of items by a three-way comparison that may raise; the array
// is then in no particular state (the caller still has the list it copied). Sorting an array
// rather than the list reads each record through one pointer, loads the records a merge reaches
// next while it compares, and costs n comparisons for records already in order.
template <class Compare>
class TItemArraySorter {
 public:
  TItemArraySorter(Compare& compare, PItemHeader* buffer) : FCompare(compare), FBuffer(buffer) {}

  void Sort(PItemHeader* a, size_t n) {
    if (n <= kRun) {
      InsertionSort(a, n);
      return;
    }
    const size_t half = n / 2;
    Sort(a, half);
    Sort(a + half, n - half);
    if (FCompare(a[half - 1], a[half]) > 0) Merge(a, half, n);
  }

 private:
  static constexpr size_t kRun = 12;
  static constexpr size_t kAhead = 32;

  // Each item goes after the equal ones before it: found by halving, unless it is in place.
  void InsertionSort(PItemHeader* a, size_t n) {
    for (size_t i = 1; i < n; ++i) {
      PItemHeader x = a[i];
      if (FCompare(a[i - 1], x) <= 0) continue;
      size_t lo = 0, hi = i - 1;
      while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (FCompare(a[mid], x) > 0)
          hi = mid;
        else
          lo = mid + 1;
      }
      std::copy_backward(a + lo, a + i, a + i + 1);
      a[lo] = x;
    }
  }

  // The left run goes to the buffer; the right one stays where the output ends.
  void Merge(PItemHeader* a, size_t half, size_t n) {
    std::copy(a, a + half, FBuffer);
    PItemHeader* l = FBuffer;
    PItemHeader* const lEnd = FBuffer + half;
    PItemHeader* r = a + half;
    PItemHeader* const rEnd = a + n;
    PItemHeader* out = a;
    while (l != lEnd && r != rEnd) {
      if (lEnd - l > static_cast<ptrdiff_t>(kAhead)) Prefetch(l[kAhead]);
      if (rEnd - r > static_cast<ptrdiff_t>(kAhead)) Prefetch(r[kAhead]);
      if (FCompare(*r, *l) < 0)
        *out++ = *r++;
      else
        *out++ = *l++;
    }
    std::copy(l, lEnd, out);
  }

  static void Prefetch(const TItemHeader* item) noexcept {
    __builtin_prefetch(item);
    __builtin_prefetch(reinterpret_cast<const char*>(item) + 64);
  }

  Compare& FCompare;
  PItemHeader* FBuffer;
};

}  // namespace

void TMemData::SortItems() {
  if (FSortColumnsStale) ParseSortColumns();
  if (FSortColumns.Count() == 0 || !FFirstItem) return;
  DropRecordIndex();
  DropSortOrder();
  auto compare = [this](PItemHeader a, PItemHeader b) { return CompareItems(a, b); };
  std::vector<PItemHeader> items, buffer;
  try {
    if (SortByStoredInteger()) return;
  } catch (...) {
    AssignNumbers();
    throw;
  }
  try {
    items.reserve(static_cast<size_t>(FRecordCount));
    for (PItemHeader p = FFirstItem; p; p = p->Next) items.push_back(p);
    buffer.resize(items.size() / 2 + 1);
  } catch (const std::bad_alloc&) {
    items.clear();  // no room for the arrays: the list is sorted in place
  }
  try {
    if (items.empty()) {
      MergeSortChain(FFirstItem, FLastItem, compare);
      AssignNumbers();
      return;
    }
    TItemArraySorter<decltype(compare)>(compare, buffer.data()).Sort(items.data(), items.size());
  } catch (...) {
    AssignNumbers();  // an array sort that failed left the list as it was
    throw;
  }
  RelinkInOrder(items);
  FSortOrder = std::move(items);
  FSortOrderValid = true;
}

// One integer column of stored data, compared as CompareFieldValues compares it (nulls first,
// then by value, ties in list order): each record's key is read once and the keys are sorted
// beside their items, where the general sort reads two records for every comparison. False,
// with the list untouched, for any other order or when there is no room for the keys.
bool TMemData::SortByStoredInteger() {
  if (FSortColumns.Count() != 1 || FSortHasCalcFields) return false;
  const TSortColumn& column = *FSortColumns.Items(0);
  const TFieldDesc& field = *column.FieldDesc;
  if (field.FieldDescKind != fdkData || !IsStoredIntegerType(field.DataType)) return false;
  struct TKeyed {
    int64_t Key;
    PItemHeader Item;
  };
  std::vector<TKeyed> keyed;
  std::vector<PItemHeader> items;  // the nulls, then every item in order
  try {
    keyed.reserve(static_cast<size_t>(FRecordCount));
    for (PItemHeader p = FFirstItem; p; p = p->Next) {
      const void* rec = TBlockManager::GetRecordPtr(p);
      if (GetNull(field.FieldNo, rec)) {
        items.push_back(p);
        continue;
      }
      int64_t key = 0;
      ReadStoredInteger(static_cast<const uint8_t*>(rec) + field.Offset, field, key);
      keyed.push_back({key, p});
    }
    items.reserve(items.size() + keyed.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Descending turns the whole order round but keeps equal records in list order.
  if (column.DescendingOrder)
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const TKeyed& a, const TKeyed& b) { return b.Key < a.Key; });
  else
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const TKeyed& a, const TKeyed& b) { return a.Key < b.Key; });
  const size_t nulls = items.size();
  for (const TKeyed& k : keyed) items.push_back(k.Item);
  if (column.DescendingOrder)
    std::rotate(items.begin(), items.begin() + static_cast<ptrdiff_t>(nulls), items.end());
  RelinkInOrder(items);
  FSortOrder = std::move(items);
  FSortOrderValid = true;
  return true;
}

// Relinks the list in the array's order and numbers the items by their present verdicts, as
// AssignNumbers does, in one pass: the array gives the addresses ahead, so the loads overlap
// where a walk along the new links would wait for each item in turn.
void TMemData::RelinkInOrder(const std::vector<PItemHeader>& items) noexcept {
  constexpr size_t kAhead = 16;
  PItemHeader prev = nullptr;
  int32_t count = 0;
  const size_t n = items.size();
  for (size_t i = 0; i < n; ++i) {
    if (i + kAhead < n) __builtin_prefetch(items[i + kAhead], 1);
    PItemHeader p = items[i];
    p->Prev = prev;
    p->Order = p->FilterResult == FilterVisible ? ++count : 0;
    if (prev) prev->Next = p;
    prev = p;
  }
  prev->Next = nullptr;
  FFirstItem = items.front();
  FLastItem = prev;
  FRecordCount = count;
  FRecordNoOffset = 0;
}

int TMemData::CompareItems(PItemHeader a, PItemHeader b) {
  return CompareRecords(TBlockManager::GetRecordPtr(a), TBlockManager::GetRecordPtr(b));
}

int TMemData::CompareRecords(const void* recBuf1, const void* recBuf2) {
  if (FSortHasCalcFields) {
    // Calculated columns live after the record: compare copies with the calculated area filled.
    for (void** buf : {&FSortBuf1, &FSortBuf2}) {
      if (!*buf) *buf = AllocRecBuf();
      std::memset(static_cast<uint8_t*>(*buf) + FRecordSize, 0, static_cast<size_t>(FCalcRecordSize));
    }
    std::memcpy(FSortBuf1, recBuf1, static_cast<size_t>(FRecordSize));
    std::memcpy(FSortBuf2, recBuf2, static_cast<size_t>(FRecordSize));
    if (OnCalcFields) {
      OnCalcFields(FSortBuf1);
      OnCalcFields(FSortBuf2);
    }
    recBuf1 = FSortBuf1;
    recBuf2 = FSortBuf2;
  }
  for (int i = 0; i < FSortColumns.Count(); ++i) {
    const TSortColumn& column = *FSortColumns.Items(i);
    const int r = CompareBySortColumn(recBuf1, recBuf2, column);
    if (r != 0) return column.DescendingOrder ? -r : r;
  }
  return 0;
}

int TMemData::CompareBySortColumn(const void* recBuf1, const void* recBuf2, const TSortColumn& column) {
  return CompareFieldValue(recBuf1, recBuf2, column.CaseSensitive ? 0 : coCaseInsensitive, *column.FieldDesc);
}

int TMemData::CompareFieldValue(const void* recBuf1, const void* recBuf2, int options,
                                const TFieldDesc& field) {
  return CompareFieldValues(*this, *this, recBuf1, recBuf2, options, field);
}

int TMemData::CompareFields(const void* valuePtr, TDataType valueType, int options, const void* recBuf,
                            const TFieldDesc& field) {
  TCompareValue value;
  KeyCompareValue(valuePtr, valueType, value);
  // A key meets a trimmed field value trimmed too, so that it finds what sorting put together.
  const bool trim = field.DataType != dtGuid && (field.Fixed ? TrimFixedChar : TrimVarChar);
  value.Text = TrimRight(value.Text, trim);
  value.WideText = TrimRightBlanksIf(std::move(value.WideText), trim);
  if (GetNull(field.FieldNo, recBuf)) return 1;
  TCompareValue fieldValue;
  FieldCompareValue(*this, recBuf, field, fieldValue);
  return CompareValues(*this, value, fieldValue, options);
}

void TMemData::RelinkAfter(PItemHeader item, PItemHeader prev) noexcept {
  if (item->Prev == prev) return;
  // Unlink.
  if (item->Prev)
    item->Prev->Next = item->Next;
  else
    FFirstItem = item->Next;
  if (item->Next)
    item->Next->Prev = item->Prev;
  else
    FLastItem = item->Prev;
  // Link after prev (first when nil).
  item->Prev = prev;
  item->Next = prev ? prev->Next : FFirstItem;
  if (prev)
    prev->Next = item;
  else
    FFirstItem = item;
  if (item->Next)
    item->Next->Prev = item;
  else
    FLastItem = item;
}

// ---- The sort order as an array ---------------------------------------------------------------

void TMemData::DropSortOrder() noexcept {
  FSortOrder.clear();
  FSortOrderValid = false;
  FSortOrderPending = nullptr;
  FSortOrderHint = nullptr;
}

bool TMemData::SortOrderIndex(PItemHeader item, size_t& index) const noexcept {
  if (!FSortOrderValid || FSortOrderPending || !item || item != FSortOrderHint) return false;
  index = FSortOrderHintIndex;
  return true;
}

void TMemData::HintSortOrder(PItemHeader item, size_t index) noexcept {
  FSortOrderHint = item;
  FSortOrderHintIndex = index;
}

void TMemData::NoteLinked(PItemHeader item) noexcept {
  if (!FSortOrderValid) return;
  if (FSortOrderPending)
    DropSortOrder();  // a second item missing from the array: it is built again when needed
  else
    FSortOrderPending = item;
}

// A linked item that stays where it is: at either end it joins the array cheaply.
void TMemData::NoteStaying(PItemHeader item) noexcept {
  if (!FSortOrderValid || FSortOrderPending != item) return;
  try {
    if (!item->Next)
      FSortOrder.push_back(item);
    else if (!item->Prev)
      FSortOrder.insert(FSortOrder.begin(), item);
    else
      return;
    FSortOrderPending = nullptr;
    HintSortOrder(item, item->Next ? 0 : FSortOrder.size() - 1);
  } catch (const std::bad_alloc&) {
    DropSortOrder();
  }
}

// Afterwards the array holds every item of the list but `item`, in list order.
void TMemData::SortOrderWithout(PItemHeader item) {
  if (FSortOrderValid && FSortOrderPending == item) return;
  if (FSortOrderValid && !FSortOrderPending) {
    const auto at = std::find(FSortOrder.begin(), FSortOrder.end(), item);
    DA_ASSERT(at != FSortOrder.end());
    FSortOrder.erase(at);
    FSortOrderHint = nullptr;
  } else {
    DropSortOrder();
    for (PItemHeader p = FFirstItem; p; p = p->Next)
      if (p != item) FSortOrder.push_back(p);
  }
  FSortOrderValid = true;
  FSortOrderPending = item;
}

// Where an out-of-place item goes (its index in the sort order without it), found by halving the
// order: forward, before the first record it does not sort after; backward, after the last record
// it does not sort before. On a sorted list that is where the neighbour-by-neighbour walk stopped.
// Raises what comparing raises.
size_t TMemData::SortedPlace(PItemHeader item, bool forward) {
  SortOrderWithout(item);
  size_t lo = 0, hi = FSortOrder.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const int r = CompareItems(item, FSortOrder[mid]);
    if (forward ? r > 0 : r >= 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// The neighbour-by-neighbour walk, for when the sort order's array cannot be had.
PItemHeader TMemData::WalkedPlace(PItemHeader item, bool forward) {
  PItemHeader prev = item->Prev;
  if (forward) {
    prev = item->Next;
    while (prev->Next && CompareItems(item, prev->Next) > 0) prev = prev->Next;
  } else {
    while (prev && CompareItems(item, prev) < 0) prev = prev->Prev;
  }
  return prev;
}

void TMemData::MoveSortedRecord(PItemHeader item) {
  if (FSortColumns.Count() == 0 || FSortColumnsStale) return;
  constexpr size_t kStays = SIZE_MAX;
  size_t place = kStays;
  PItemHeader walked = item;  // the place found by walking, when it came to that
  try {
    // Forward past the records it sorts after, or back past those it sorts before; equal records
    // keep it where it is.
    const bool forward = item->Next && CompareItems(item, item->Next) > 0;
    if (forward || (item->Prev && CompareItems(item, item->Prev) < 0)) {
      try {
        place = SortedPlace(item, forward);
      } catch (const std::bad_alloc&) {
        DropSortOrder();
        walked = WalkedPlace(item, forward);
      }
    }
  } catch (const EAssertionFailed&) {
    throw;
  } catch (const Exception&) {
    return;  // the record is written already: it stays where it is rather than being lost
  }
  if (walked != item) return MoveItemAfter(item, walked);
  if (place == kStays) {
    NoteStaying(item);
    return;
  }
  PItemHeader prev = place > 0 ? FSortOrder[place - 1] : nullptr;
  try {
    FSortOrder.insert(FSortOrder.begin() + static_cast<ptrdiff_t>(place), item);
    FSortOrderPending = nullptr;
    HintSortOrder(item, place);
  } catch (const std::bad_alloc&) {
    DropSortOrder();
  }
  MoveItemAfter(item, prev);
}

// Relinks a record after prev (first for nil), keeping numbers right.
void TMemData::MoveItemAfter(PItemHeader item, PItemHeader prev) {
  if (prev == item->Prev) return;
  DropRecordIndex();
  const bool counted = item->FilterResult == FilterVisible;
  if (counted) UpdateItemOrders(item, ouDeleted);
  RelinkAfter(item, prev);
  if (counted) UpdateItemOrders(item, ouInserted);
}
