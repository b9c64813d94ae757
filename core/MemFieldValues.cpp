#include "core/MemFieldValues.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/CLRClasses.h"
#include "core/DAConsts.h"
#include "core/MemBlob.h"
#include "core/MemBlocks.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

char16_t UnitAt(const void* p, size_t i) {
  return static_cast<char16_t>(Marshal::ReadInt16(p, static_cast<ptrdiff_t>(2 * i)));
}

void PutUnit(void* p, size_t i, char16_t c) {
  Marshal::WriteInt16(p, static_cast<ptrdiff_t>(2 * i), static_cast<int16_t>(c));
}

size_t WideLength(const void* p, size_t maxUnits) {
  size_t n = 0;
  while (n < maxUnits && UnitAt(p, n) != 0) ++n;
  return n;
}

bool IsHighSurrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

// ---- Copies into exchange buffers -------------------------------------------------------------

void CopyAnsiText(const void* src, size_t srcMax, void* dest, size_t destSize, bool expandEol) {
  // Only text that must be cut needs the code page's character boundaries.
  CopyAnsiText(AnsiTextOf(src, srcMax), dest, destSize, expandEol);
}

void CopyAnsiText(std::string_view text, void* dest, size_t destSize, bool expandEol) {
  DA_ASSERT(destSize >= 1);
  auto* d = static_cast<char*>(dest);
  const size_t room = destSize - 1;
  if (!expandEol) {
    const size_t n = text.size() <= room ? text.size() : MbCutLength(AnsiCharsetKind(), text, room);
    if (n > 0) std::memcpy(d, text.data(), n);
    d[n] = '\0';
    return;
  }
  const TCharsetKind cs = AnsiCharsetKind();
  const char* s = text.data();
  const size_t len = text.size();
  size_t in = 0, out = 0;
  bool afterCR = false;
  while (in < len) {
    if (s[in] == '\n' && !afterCR) {
      if (out + 2 > room) break;
      d[out++] = '\r';
      d[out++] = '\n';
      ++in;
      continue;
    }
    const size_t n = MbCharLen(cs, s + in, s + len);
    if (out + n > room) break;
    afterCR = n == 1 && s[in] == '\r';
    std::memcpy(d + out, s + in, n);
    out += n;
    in += n;
  }
  d[out] = '\0';
}

void CopyWideText(const void* src, size_t srcMaxUnits, void* dest, size_t destSize, bool expandEol) {
  DA_ASSERT(destSize >= 2);
  const size_t len = WideLength(src, srcMaxUnits);
  const size_t room = destSize / 2 - 1;
  size_t in = 0, out = 0;
  bool afterCR = false;
  while (in < len) {
    const char16_t c = UnitAt(src, in);
    if (expandEol && c == u'\n' && !afterCR) {
      if (out + 2 > room) break;
      PutUnit(dest, out++, u'\r');
      PutUnit(dest, out++, u'\n');
      ++in;
      continue;
    }
    const size_t n = IsHighSurrogate(c) && in + 1 < len && IsLowSurrogate(UnitAt(src, in + 1)) ? 2 : 1;
    if (out + n > room) break;
    afterCR = c == u'\r';
    for (size_t k = 0; k < n; ++k) PutUnit(dest, out++, UnitAt(src, in++));
  }
  PutUnit(dest, out, 0);
}

void CopyVarBytes(const void* src, size_t srcSize, void* dest, size_t destSize) {
  DA_ASSERT(srcSize >= 2);
  const size_t count = static_cast<uint16_t>(Marshal::ReadInt16(src));
  DA_ASSERT_MSG(count + 2 <= srcSize, "Invalid data size");
  DA_ASSERT_MSG(count + 2 <= destSize, "Invalid data size");
  std::memcpy(dest, src, count + 2);
}

// ---- Exchange buffers as values ---------------------------------------------------------------

std::string_view AnsiTextOf(const void* source, size_t size) {
  const auto* s = static_cast<const char*>(source);
  return std::string_view(s, strnlen(s, size));
}

std::u16string WideTextOf(const void* source, size_t size) {
  const size_t n = WideLength(source, size / 2);
  std::u16string text(n, u'\0');
  std::memcpy(text.data(), source, n * 2);
  return text;
}

std::span<const uint8_t> VarBytesOf(const void* source, size_t size, size_t maxCount) {
  DA_ASSERT_MSG(size >= 2, "Invalid data size");
  const size_t count = static_cast<uint16_t>(Marshal::ReadInt16(source));
  DA_ASSERT_MSG(count + 2 <= size, "Invalid data size");
  if (count > maxCount) throw EConvertError("Invalid data size");
  return {static_cast<const uint8_t*>(source) + 2, count};
}

// ---- Inline fields ----------------------------------------------------------------------------

std::string ReadAnsiText(const void* field, size_t fieldSize) {
  return std::string(AnsiTextOf(field, fieldSize));
}

std::u16string ReadWideText(const void* field, size_t fieldSize) {
  return WideTextOf(field, fieldSize);
}

void StoreAnsiText(void* field, size_t fieldSize, std::string_view text) {
  DA_ASSERT(fieldSize >= 1);
  const size_t n =
      text.size() < fieldSize ? text.size() : MbCutLength(AnsiCharsetKind(), text, fieldSize - 1);
  auto* d = static_cast<char*>(field);
  std::memcpy(d, text.data(), n);
  d[n] = '\0';
}

size_t FieldSlotSize(const TFieldDesc& field) noexcept {
  return field.DataType == dtString ? field.Size + InlineTextCountSize : field.Size;
}

std::string_view InlineTextOf(const void* slot, size_t fieldSize) {
  const auto* s = static_cast<const char*>(slot);
  const size_t count = static_cast<uint16_t>(Marshal::ReadInt16(slot, static_cast<ptrdiff_t>(fieldSize)));
  // A count that does not fit the slot or miss its terminator was not written with the text.
  if (count > 0 && count <= fieldSize && s[count - 1] == '\0') return std::string_view(s, count - 1);
  return std::string_view(s, strnlen(s, fieldSize));
}

void StoreInlineText(void* slot, size_t fieldSize, std::string_view text) {
  DA_ASSERT(fieldSize >= 1 && fieldSize < UINT16_MAX + 1);
  const size_t n =
      text.size() < fieldSize ? text.size() : MbCutLength(AnsiCharsetKind(), text, fieldSize - 1);
  auto* d = static_cast<char*>(slot);
  if (n > 0) std::memcpy(d, text.data(), n);
  d[n] = '\0';
  Marshal::WriteInt16(slot, static_cast<ptrdiff_t>(fieldSize),
                      static_cast<int16_t>(static_cast<uint16_t>(n + 1)));
}

void StoreWideText(void* field, size_t fieldSize, std::u16string_view text) {
  DA_ASSERT(fieldSize >= 2);
  const size_t n = WideCutLength(text, fieldSize / 2 - 1);
  std::memcpy(field, text.data(), n * 2);
  PutUnit(field, n, 0);
}

void StoreVarBytes(void* field, std::span<const uint8_t> bytes) {
  DA_ASSERT_MSG(bytes.size() <= UINT16_MAX, "Invalid data size");
  Marshal::WriteInt16(field, static_cast<int16_t>(static_cast<uint16_t>(bytes.size())));
  if (!bytes.empty()) std::memcpy(static_cast<uint8_t*>(field) + 2, bytes.data(), bytes.size());
}

size_t WideCutLength(std::u16string_view text, size_t maxUnits) noexcept {
  if (text.size() <= maxUnits) return text.size();
  size_t n = maxUnits;
  if (n > 0 && IsHighSurrogate(text[n - 1]) && IsLowSurrogate(text[n])) --n;
  return n;
}

// ---- String-heap blocks -----------------------------------------------------------------------

// The byte count sits in the last four bytes of the block (whose size the heap may round up), after
// the terminated text, so readers that stop at the terminator still read the text.
void* NewHeapText(TStringHeap& heap, std::string_view text) {
  DA_ASSERT(text.size() < static_cast<size_t>(INT32_MAX - 8));
  auto* block = static_cast<char*>(heap.NewBuf(static_cast<int32_t>(text.size() + 1 + sizeof(int32_t))));
  if (!text.empty()) std::memcpy(block, text.data(), text.size());
  block[text.size()] = '\0';
  const int32_t size = TStringHeap::BufSize(block);
  Marshal::WriteInt32(block, size - 4, static_cast<int32_t>(text.size()));
  return block;
}

void* NewHeapWideText(TStringHeap& heap, std::u16string_view text) {
  DA_ASSERT(text.size() < static_cast<size_t>(INT32_MAX / 2));
  return heap.AllocWideStr(text.data() ? text.data() : u"", false, static_cast<int32_t>(text.size()));
}

void* NewHeapVarBytes(TStringHeap& heap, std::span<const uint8_t> bytes) {
  DA_ASSERT_MSG(bytes.size() <= UINT16_MAX, "Invalid data size");
  void* block = heap.NewBuf(static_cast<int32_t>(bytes.size() + 2));
  StoreVarBytes(block, bytes);
  return block;
}

void* DuplicateHeapBlock(TStringHeap& heap, const void* block) {
  const int32_t size = TStringHeap::BufSize(block);
  void* copy = heap.NewBuf(size);
  std::memcpy(copy, block, static_cast<size_t>(size));
  return copy;
}

std::string_view HeapTextOf(const void* block) {
  if (!block) return {};
  const auto size = static_cast<size_t>(TStringHeap::BufSize(block));
  const auto* s = static_cast<const char*>(block);
  if (size >= 5) {
    const auto count = static_cast<size_t>(
        static_cast<uint32_t>(Marshal::ReadInt32(block, static_cast<ptrdiff_t>(size - 4))));
    if (count + 5 <= size && s[count] == '\0') return std::string_view(s, count);
  }
  return std::string_view(s, strnlen(s, size));
}

std::string HeapText(const void* block) {
  return std::string(HeapTextOf(block));
}

std::u16string HeapWideText(const void* block) {
  if (!block) return {};
  return ReadWideText(block, static_cast<size_t>(TStringHeap::BufSize(block)));
}

std::span<const uint8_t> HeapVarBytes(const void* block) {
  if (!block) return {};
  return VarBytesOf(block, static_cast<size_t>(TStringHeap::BufSize(block)), UINT16_MAX);
}

// ---- Numbers ----------------------------------------------------------------------------------

double RoundToScale(double value, int scale) {
  if (scale < 1 || !std::isfinite(value) || value == 0) return value;
  char sci[40];  // 18 significant digits: d.ddddddddddddddddde+XX
  const auto [end, ec] =
      std::to_chars(sci, sci + sizeof sci, std::fabs(value), std::chars_format::scientific, 17);
  DA_ASSERT(ec == std::errc());
  const char* e = std::find(sci, end, 'e');
  std::string digits;  // digits[k] weighs 10^(exponent - k)
  for (const char* p = sci; p < e; ++p)
    if (*p != '.') digits += *p;
  int exponent = 0;
  std::from_chars(e + 1 + (e[1] == '+' ? 1 : 0), end, exponent);
  const long keep = exponent + 1L + scale;  // the digits down to 10^-scale
  if (keep >= static_cast<long>(digits.size())) return value;
  if (keep < 0) return std::copysign(0.0, value);
  std::string units = digits.substr(0, static_cast<size_t>(keep));  // a count of 10^-scale
  if (digits[static_cast<size_t>(keep)] >= '5') {                   // half away from zero
    size_t i = units.size();
    while (i > 0 && units[i - 1] == '9') units[--i] = '0';
    if (i == 0)
      units.insert(units.begin(), '1');
    else
      ++units[i - 1];
  }
  if (units.empty()) units = "0";
  const std::string text = units + "e-" + std::to_string(scale);
  double rounded = 0;
  std::from_chars(text.data(), text.data() + text.size(), rounded);
  return std::copysign(rounded, value);
}

int32_t TextToInt32(std::string_view text) {
  std::string_view t = text;
  while (!t.empty() && static_cast<unsigned char>(t.front()) <= ' ') t.remove_prefix(1);
  while (!t.empty() && static_cast<unsigned char>(t.back()) <= ' ') t.remove_suffix(1);
  if (!t.empty() && t.front() == '+') t.remove_prefix(1);
  int32_t value = 0;
  auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || ec != std::errc() || ptr != t.data() + t.size())
    throw EConvertError(Format("'%s' is not a valid integer value", {text}));
  return value;
}

// ---- Variants -------------------------------------------------------------------------------

[[noreturn]] void RaiseCannotConvert(TDataType type) {
  throw EConvertError(std::string(MessageText(SCannotConvertType)) + " " + std::to_string(type));
}

void RaiseOutOfRange(std::string_view value, const TFieldDesc& field) {
  throw EConvertError(Format("Value %s is out of range for field %s", {value, field.Name}));
}

namespace {

bool IsIntegerVarType(uint16_t t) {
  return t == varShortInt || t == varByte || t == varSmallint || t == varWord || t == varInteger ||
         t == varLongWord || t == varInt64 || t == varUInt64;
}

// The integer types 16-bit fields take.
bool IsSmallIntegerVarType(uint16_t t) {
  return t == varShortInt || t == varByte || t == varSmallint || t == varWord || t == varInteger;
}

int64_t RangedInteger(const Variant& value, int64_t lo, int64_t hi, const TFieldDesc& field) {
  int64_t v = 0;
  try {
    v = value.AsInt64();
  } catch (const EVariantOverflowError&) {
    RaiseOutOfRange(VarToStr(value), field);
  }
  if (v < lo || v > hi) RaiseOutOfRange(VarToStr(value), field);
  return v;
}

int32_t Int32Of(const Variant& value, const TFieldDesc& field) {
  const uint16_t t = value.VarType();
  if (t == varString || t == varOleStr) return TextToInt32(value.AsString());
  if (IsSmallIntegerVarType(t) || t == varSingle || t == varDouble || t == varCurrency)
    return static_cast<int32_t>(RangedInteger(value, INT32_MIN, INT32_MAX, field));
  RaiseCannotConvert(field.DataType);
}

}  // namespace

// dtInt8 .. dtBoolean: the accepted variant types and the range of each field type.
void StoreIntegerVariant(const TFieldDesc& field, void* p, const Variant& value) {
  const uint16_t t = value.VarType();
  switch (field.DataType) {
    case dtInt8: {
      if (!IsIntegerVarType(t)) RaiseCannotConvert(field.DataType);
      const auto v = static_cast<int16_t>(RangedInteger(value, INT8_MIN, INT8_MAX, field));
      if (field.Size == 1)
        Marshal::WriteByte(p, static_cast<uint8_t>(v));
      else
        Marshal::WriteInt16(p, v);
      break;
    }
    case dtInt16:
      if (!IsSmallIntegerVarType(t)) RaiseCannotConvert(field.DataType);
      Marshal::WriteInt16(p, static_cast<int16_t>(RangedInteger(value, INT16_MIN, INT16_MAX, field)));
      break;
    case dtUInt16:
      if (!IsSmallIntegerVarType(t)) RaiseCannotConvert(field.DataType);
      Marshal::WriteInt16(p, static_cast<int16_t>(RangedInteger(value, 0, UINT16_MAX, field)));
      break;
    case dtInt32:
      Marshal::WriteInt32(p, Int32Of(value, field));
      break;
    case dtUInt32:
      if (!IsIntegerVarType(t)) RaiseCannotConvert(field.DataType);
      Marshal::WriteInt32(p, static_cast<int32_t>(RangedInteger(value, 0, UINT32_MAX, field)));
      break;
    case dtInt64:
      if (!IsIntegerVarType(t)) RaiseCannotConvert(field.DataType);
      Marshal::WriteInt64(p, RangedInteger(value, INT64_MIN, INT64_MAX, field));
      break;
    case dtUInt64: {
      if (!IsIntegerVarType(t)) RaiseCannotConvert(field.DataType);
      uint64_t v = 0;
      try {
        v = value.AsUInt64();
      } catch (const EVariantOverflowError&) {
        RaiseOutOfRange(VarToStr(value), field);
      }
      Marshal::WriteInt64(p, static_cast<int64_t>(v));
      break;
    }
    case dtBoolean:
      if (t != varBoolean) RaiseCannotConvert(field.DataType);
      Marshal::WriteInt16(p, value.AsBoolean() ? -1 : 0);
      break;
    default:
      RaiseCannotConvert(field.DataType);
  }
}

double FloatOfVariant(const Variant& value, const TFieldDesc& field) {
  const uint16_t t = value.VarType();
  if (IsIntegerVarType(t)) return value.AsDouble();
  if (t == varSingle || t == varDouble || t == varCurrency || t == varString || t == varOleStr)
    return RoundToScale(value.AsDouble(), field.Scale);
  RaiseCannotConvert(field.DataType);
}

// A date-time that reads back: out-of-range values raise EConvertError.
TDateTime DateTimeOfVariant(const Variant& value) {
  const TDateTime v = value.AsDateTime();
  DateTimeToTimeStamp(v);
  return v;
}

int64_t MicrosOfVariant(const Variant& value, const TFieldDesc& field) {
  const bool time = field.DataType == dtTimeUs;
  if (value.VarType() == varDate) {
    const TDateTime v = value.AsDateTime();
    if (!time) return DateTimeToDateTimeUs(v);
    if (!std::isfinite(v) || std::fabs(v) > 1e6) RaiseOutOfRange(VarToStr(value), field);
    return std::llround(v * MSecsPerDay) * 1000;
  }
  if (!value.IsString() && !value.IsNumeric()) RaiseCannotConvert(field.DataType);
  const std::string text = value.AsString();
  int64_t v = 0;
  if (!(time ? TryStrToTimeUs(text, v) : TryStrToDateTimeUs(text, v)))
    throw EConvertError(Format("'%s' is not a valid %s value for field %s",
                               {text, std::string(time ? "time" : "date and time"), field.Name}));
  return v;
}

const std::vector<uint8_t>& BytesOfVariant(const Variant& value) {
  DA_ASSERT_MSG(value.IsByteArray(), "Invalid VType");
  return value.AsBytes();
}

std::string TrimRightBlanksIf(std::string s, bool trim) {
  if (trim)
    while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::u16string TrimRightBlanksIf(std::u16string s, bool trim) {
  if (trim)
    while (!s.empty() && s.back() == u' ') s.pop_back();
  return s;
}

Variant Int8FieldVariant(const void* p, const TFieldDesc& field) {
  const int v = field.Size == 1 ? static_cast<int8_t>(Marshal::ReadByte(p)) : Marshal::ReadInt16(p);
  if (v >= INT8_MIN && v <= INT8_MAX) return Variant(static_cast<signed char>(v));
  return Variant(static_cast<short>(v));  // wider than its type: keep the value
}

void StoreBlobVariant(TBlob& blob, bool wide, const Variant& value) {
  if (wide) {
    const std::u16string text = value.AsWideString();
    blob.EnableRollback();
    blob.SetAsWideString(text);
  } else {
    const std::string text = value.AsString();
    blob.EnableRollback();
    blob.SetAsString(text);
  }
}
