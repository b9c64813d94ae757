#include "mysql/MyFieldValues.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <span>
#include <typeinfo>

#include "core/CLRClasses.h"
#include "core/CRAccess.h"
#include "core/DAError.h"
#include "core/MemBlocks.h"
#include "core/MemCompressedBlob.h"
#include "core/MemData.h"
#include "core/MemFieldValues.h"
#include "mysql/MySqlProtocol.h"
#include "mysql/MySqlStmt.h"
#include "mysql/MyTableInfo.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

constexpr size_t MaxFloatTextInMessage = 36;

[[noreturn]] void RaiseNotInteger(std::string_view text) {
  throw EConvertError(Format("'%s' is not a valid integer value", {text}));
}

[[noreturn]] void RaiseNotFloat(std::string_view text) {
  throw EConvertError(
      Format("'%s' is not a valid floating point value", {text.substr(0, MaxFloatTextInMessage)}));
}

[[noreturn]] void RaiseNotDate(std::string_view text) {
  throw EConvertError(Format("'%s' is not a valid date and time", {text}));
}

// The binary row decoder gives FLOAT 4 bytes and DOUBLE 8: any other length is a malformed row.
[[noreturn]] void RaiseBadFloatLength(size_t len) {
  RaiseMySqlClientError(CR_MALFORMED_PACKET, {}, Format("Float Len = %d", {int64_t(len)}));
}

std::string SignedText(bool negative, uint64_t magnitude) {
  return (negative && magnitude != 0 ? "-" : "") + std::to_string(magnitude);
}

// ---- integers ---------------------------------------------------------------------------------

// The range of values an integer field holds.
void IntegerRange(const TMySQLFieldDesc& f, int64_t& lo, uint64_t& hi) {
  switch (f.DataType) {
    case dtInt8:
      lo = f.Size == 1 ? INT8_MIN : INT16_MIN;
      hi = f.Size == 1 ? INT8_MAX : INT16_MAX;
      return;
    case dtInt16:
      lo = INT16_MIN;
      hi = INT16_MAX;
      return;
    case dtUInt16:
      lo = 0;
      hi = UINT16_MAX;
      return;
    case dtInt32:
      lo = INT32_MIN;
      hi = INT32_MAX;
      return;
    case dtUInt32:
      lo = 0;
      hi = UINT32_MAX;
      return;
    case dtInt64:
      lo = INT64_MIN;
      hi = INT64_MAX;
      return;
    case dtUInt64:
      lo = 0;
      hi = UINT64_MAX;
      return;
    default:
      DA_ASSERT_MSG(false, "Not an integer field: " + f.Name);
  }
}

// Stores sign and magnitude into the field's slot (Size bytes) when they lie within lo..hi; a
// value out of that range raises instead of wrapping.
inline void StoreIntegerInRange(const TMySQLFieldDesc& f, uint8_t* slot, bool negative, uint64_t magnitude,
                                int64_t lo, uint64_t hi) {
  const uint64_t lowest = static_cast<uint64_t>(-(lo + 1)) + 1;  // |lo| without overflow
  if (negative ? magnitude > lowest : magnitude > hi) RaiseOutOfRange(SignedText(negative, magnitude), f);
  const int64_t value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  switch (f.Size) {
    case 1:
      Marshal::WriteByte(slot, 0, static_cast<uint8_t>(value));
      break;
    case 2:
      Marshal::WriteInt16(slot, static_cast<int16_t>(value));
      break;
    case 4:
      Marshal::WriteInt32(slot, 0, static_cast<int32_t>(value));
      break;
    case 8:
      Marshal::WriteInt64(slot, value);
      break;
    default:
      DA_ASSERT_MSG(false, Format("Invalid size %d of integer field %s", {int(f.Size), f.Name}));
  }
}

// Stores sign and magnitude into the field's slot (Size bytes); a value out of the field's range
// raises instead of wrapping.
void StoreInteger(const TMySQLFieldDesc& f, uint8_t* slot, bool negative, uint64_t magnitude) {
  if (f.DataType == dtBoolean) {
    Marshal::WriteInt16(slot, magnitude != 0 ? int16_t{-1} : int16_t{0});
    return;
  }
  int64_t lo;
  uint64_t hi;
  IntegerRange(f, lo, hi);
  StoreIntegerInRange(f, slot, negative, magnitude, lo, hi);
}

// A BIT value: its bytes big-endian.
uint64_t BitValue(const uint8_t* bytes, size_t len) {
  if (len > 8) throw EConvertError(Format("BIT value of %d bytes is too long", {int(len)}));
  uint64_t v = 0;
  for (size_t i = 0; i < len; ++i) v = (v << 8) | bytes[i];
  return v;
}

// A little-endian integer of the binary protocol, by column type.
void BinaryInteger(const TMySQLFieldDesc& f, const uint8_t* p, size_t len, bool& negative,
                   uint64_t& magnitude) {
  const size_t size = MySqlBinaryFixedSize(f.MySQLType);
  DA_ASSERT_MSG(size != 0 && f.MySQLType != mftFloat && f.MySQLType != mftDouble,
                Format("Column type %d of field %s is no integer", {int(f.MySQLType), f.Name}));
  if (len != size) RaiseMySqlClientError(CR_MALFORMED_PACKET);
  uint64_t raw = 0;
  for (size_t i = size; i-- > 0;) raw = (raw << 8) | p[i];
  const uint64_t signBit = uint64_t{1} << (size * 8 - 1);
  negative = !f.IsUnsigned && (raw & signBit) != 0;
  if (negative) {
    const uint64_t extended = size == 8 ? raw : raw | ~((signBit << 1) - 1);
    magnitude = 0 - extended;
  } else {
    magnitude = raw;
  }
}

// The shortest decimal that reads back as the float, as a double: what the text protocol sends
// for a FLOAT column (76.7, not 76.69999694824219).
double FloatAsDouble(float value) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  double v = value;
  std::from_chars(buf, r.ptr, v);
  return v;
}

// ---- dates ------------------------------------------------------------------------------------

// Digits at [pos, pos + count) of the text; EConvertError when any is not a digit or missing.
int DigitsAt(std::string_view text, size_t pos, size_t count) {
  if (pos + count > text.size()) RaiseNotDate(text);
  int v = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') RaiseNotDate(text);
    v = v * 10 + (c - '0');
  }
  return v;
}

int TwoDigitYear(int yy) {
  return yy >= 70 ? 1900 + yy : 2000 + yy;
}

bool EncodeParts(int y, int mo, int d, int h, int mi, int s, TDateTime& value) {
  return TryEncodeDateTime(y, mo, d, h, mi, s, 0, value);
}

// A TIMESTAMP without separators, by display length.
bool CompactTimestamp(const TMySQLFieldDesc& f, std::string_view t, TDateTime& value) {
  int y, mo = 1, d = 1, h = 0, mi = 0, s = 0;
  switch (f.Length) {
    case 2:
      y = TwoDigitYear(DigitsAt(t, 0, 2));
      break;
    case 4:
      y = TwoDigitYear(DigitsAt(t, 0, 2));
      mo = DigitsAt(t, 2, 2);
      break;
    case 6:
    case 10:
    case 12:
      y = TwoDigitYear(DigitsAt(t, 0, 2));
      mo = DigitsAt(t, 2, 2);
      d = DigitsAt(t, 4, 2);
      if (f.Length >= 10) {
        h = DigitsAt(t, 6, 2);
        mi = DigitsAt(t, 8, 2);
      }
      if (f.Length == 12) s = DigitsAt(t, 10, 2);
      break;
    case 8:
    case 14:
      y = DigitsAt(t, 0, 4);
      mo = DigitsAt(t, 4, 2);
      d = DigitsAt(t, 6, 2);
      if (f.Length == 14) {
        h = DigitsAt(t, 8, 2);
        mi = DigitsAt(t, 10, 2);
        s = DigitsAt(t, 12, 2);
      }
      break;
    default:
      // A length the compact forms do not have: the server described the column so, and the value
      // is no date this client reads.
      RaiseNotDate(t);
  }
  return EncodeParts(y, mo, d, h, mi, s, value);
}

// "YYYY-MM-DD" and, with time, " HH:MM:SS" after it; fractional seconds are not read.
bool DashedDateTime(std::string_view t, bool withTime, TDateTime& value) {
  const int y = DigitsAt(t, 0, 4), mo = DigitsAt(t, 5, 2), d = DigitsAt(t, 8, 2);
  if (!withTime) return TryEncodeDate(y, mo, d, value);
  return EncodeParts(y, mo, d, DigitsAt(t, 11, 2), DigitsAt(t, 14, 2), DigitsAt(t, 17, 2), value);
}

TDateTime TimeValue(bool negative, uint64_t hours, int minutes, int seconds) {
  const double v = static_cast<double>(hours) / 24 + (minutes * 60 + seconds) / 86400.0;
  return negative ? -v : v;
}

TDateTime TextToTime(const TMySQLFieldDesc& f, std::string_view t) {
  const size_t colon = t.find(':');
  if (colon == std::string_view::npos || colon > 4)
    throw EDatabaseError(Format("Wrong time format. Field %s, value %s", {f.Name, t}));
  const bool negative = !t.empty() && t[0] == '-';
  const size_t start = negative ? 1 : 0;
  if (colon <= start) RaiseNotDate(t);
  const uint64_t hours = static_cast<uint64_t>(DigitsAt(t, start, colon - start));
  return TimeValue(negative, hours, DigitsAt(t, colon + 1, 2), DigitsAt(t, colon + 4, 2));
}

// A TIMESTAMP read raises the newest one its table has seen.
void NoteTimestamp(const TMySQLFieldDesc& f, TDateTime value) {
  if (auto* table = dynamic_cast<TMyTableInfo*>(f.TableInfo))
    if (value > table->MaxTimestamp) table->MaxTimestamp = value;
}

// What a temporal value the server sent is: a date-time, the zero date, or a date no date-time
// holds (a zero month or day beside other parts: '2024-00-10', '0000-00-00 12:34:56'; a year 0).
// The zero date reads as NULL or as the zero date; the other has no form to read it in, and read
// as either it would be written or compared as the wrong value later: it reads as NULL under its
// own mark, which keeps it from being set or written.
enum class TDateKind : uint8_t { Valid, Zero, Partial };

// Stores a temporal value, or the zero date as NULL or MySQLZeroDate; gives the null mark.
uint8_t StoreDate(const TMySQLFieldDesc& f, uint8_t* slot, TDateKind kind, TDateTime value,
                  const TMyConvertContext& cx) {
  if (kind == TDateKind::Partial) return NullMarkPartialDate;
  if (kind == TDateKind::Zero) {
    if (cx.NullForZeroDate) return NullMarkZeroDate;
    value = MySQLZeroDate;
  } else if (f.MySQLType == mftTimestamp) {
    NoteTimestamp(f, value);
  }
  Marshal::WriteInt64(slot, BitConverter::DoubleToInt64Bits(value));
  return 0;
}

bool IsZeroDate(const TMySqlTime& t) {
  return t.Year == 0 && t.Month == 0 && t.Day == 0 && t.Hour == 0 && t.Minute == 0 && t.Second == 0 &&
         t.SecondPart == 0;
}

TDateKind KindOfInvalid(const TMySqlTime& t) {
  return IsZeroDate(t) ? TDateKind::Zero : TDateKind::Partial;
}

TDateKind BinaryToDateTime(const TMySQLFieldDesc& f, const uint8_t* p, size_t len, TDateTime& value) {
  const TMySqlTime t = DecodeMySqlBinaryTemporal(std::span<const uint8_t>(p, len), f.MySQLType);
  if (f.MySQLType == mftTime) {
    value = TimeValue(t.Neg != 0, t.Hour, static_cast<int>(t.Minute), static_cast<int>(t.Second));
    return TDateKind::Valid;
  }
  const int y = static_cast<int>(t.Year), mo = static_cast<int>(t.Month), d = static_cast<int>(t.Day);
  const bool valid = f.DataType == dtDate
                         ? TryEncodeDate(y, mo, d, value)
                         : EncodeParts(y, mo, d, static_cast<int>(t.Hour), static_cast<int>(t.Minute),
                                       static_cast<int>(t.Second), value);
  return valid ? TDateKind::Valid : KindOfInvalid(t);
}

// Microseconds from the text or binary form; the zero date is NULL or the zero date.
uint8_t StoreMicros(uint8_t* slot, TDateKind kind, int64_t value, const TMyConvertContext& cx) {
  if (kind == TDateKind::Partial) return NullMarkPartialDate;
  if (kind == TDateKind::Zero) {
    if (cx.NullForZeroDate) return NullMarkZeroDate;
    value = DateTimeUsZero;
  }
  Marshal::WriteInt64(slot, value);
  return 0;
}

// "0000-00-00", with a time of zeros after it or not (a TIMESTAMP may come without separators).
bool IsZeroDateText(std::string_view text) {
  return !text.empty() && text.find_first_not_of("0-: .") == std::string_view::npos;
}

// Digits where a date's digits stand, with its separators: a value the server wrote, which may
// still be no date ('2024-00-10').
bool HasDateShape(std::string_view text) {
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (i != 4 && i != 7 && (text[i] < '0' || text[i] > '9') && text[i] != ' ' && text[i] != ':' &&
        text[i] != '.')
      return false;
  return true;
}

TDateKind TextToMicros(const TMySQLFieldDesc& f, std::string_view text, int64_t& value) {
  if (f.DataType == dtTimeUs) {
    if (!TryStrToTimeUs(text, value))
      throw EDatabaseError(Format("Wrong time format. Field %s, value %s", {f.Name, text}));
    return TDateKind::Valid;
  }
  if (TryStrToDateTimeUs(text, value)) return value != DateTimeUsZero ? TDateKind::Valid : TDateKind::Zero;
  if (!HasDateShape(text)) RaiseNotDate(text);
  return TDateKind::Partial;
}

TDateKind BinaryToMicros(const TMySQLFieldDesc& f, const uint8_t* p, size_t len, int64_t& value) {
  const TMySqlTime t = DecodeMySqlBinaryTemporal(std::span<const uint8_t>(p, len), f.MySQLType);
  if (t.SecondPart > 999999) RaiseMySqlClientError(CR_MALFORMED_PACKET);
  if (f.MySQLType == mftTime) {
    const int64_t magnitude =
        ((int64_t{t.Hour} * 60 + t.Minute) * 60 + t.Second) * 1000000 + static_cast<int64_t>(t.SecondPart);
    value = t.Neg ? -magnitude : magnitude;
    return TDateKind::Valid;
  }
  if (TryEncodeDateTimeUs(static_cast<int>(t.Year), static_cast<int>(t.Month), static_cast<int>(t.Day),
                          static_cast<int>(t.Hour), static_cast<int>(t.Minute), static_cast<int>(t.Second),
                          static_cast<int>(t.SecondPart), value))
    return TDateKind::Valid;
  return KindOfInvalid(t);
}

// ---- text -------------------------------------------------------------------------------------

// The column's text in ANSI: UTF-8 under Unicode is converted, so that the slot always holds
// what the code page reads (and writes back) as the same characters.
std::string_view AnsiText(const char* text, size_t len, const TMyConvertContext& cx, std::string& scratch) {
  if (!cx.UseUnicode) return {text, len};
  scratch = WideToAnsi(DecodeMyUtf8(std::string_view(text, len)));
  return scratch;
}

void StoreInlineText(const TMySQLFieldDesc& f, uint8_t* slot, std::string_view text) {
  DA_ASSERT(f.Size >= 1);
  // Never past the slot, whatever the column says; the count keeps zero bytes in the text.
  ::StoreInlineText(slot, f.Size, text);
}

void StoreWideInline(const TMySQLFieldDesc& f, uint8_t* slot, const char* text, size_t len, bool utf8) {
  const size_t room = f.Size / 2 - 1;
  std::u16string wide =
      utf8 ? DecodeMyUtf8(std::string_view(text, len)) : AnsiToWide(std::string_view(text, len));
  const size_t n = WideCutLength(wide, room);
  std::memcpy(slot, wide.data(), n * 2);
  Marshal::WriteInt16(slot, static_cast<ptrdiff_t>(2 * n), 0);
}

void StoreBytes(const TMySQLFieldDesc& f, uint8_t* slot, const uint8_t* bytes, size_t len,
                const TMyConvertContext& cx) {
  if (f.DataType == dtBytes) {  // BINARY(n): n bytes, a shorter value padded with zero bytes
    if (len > f.Length) RaiseOutOfRange(Format("of %d bytes", {int64_t(len)}), f);
    if (len > 0) std::memcpy(slot, bytes, len);
    std::memset(slot + len, 0, f.Length - len);
    return;
  }
  if (f.DataType == dtExtVarBytes) {
    // Held out of line but read back into the field's own room: no longer than the column says.
    if (len > UINT16_MAX || len > f.Length) RaiseOutOfRange(Format("of %d bytes", {int64_t(len)}), f);
    Marshal::WriteIntPtr(slot, NewHeapVarBytes(*cx.Heap, {bytes, len}));
    return;
  }
  if (len > f.Length) RaiseOutOfRange(Format("of %d bytes", {int64_t(len)}), f);
  StoreVarBytes(slot, {bytes, len});
}

void StoreBlob(const TMySQLFieldDesc& f, uint8_t* slot, const char* data, size_t len,
               const TMyConvertContext& cx) {
  TBlob* blob = NewMyFieldBlob(f, cx);
  Marshal::WriteIntPtr(slot, blob->GetHandle());  // the record owns it from here, failing or not
  if (len > UINT32_MAX - 1) throw EConvertError(Format("Value of field %s is too large", {f.Name}));
  if (blob->IsUnicode()) {
    const std::u16string wide = DecodeMyUtf8(std::string_view(data, len));
    blob->Write(0, static_cast<uint32_t>(wide.size() * 2), wide.data());
  } else if (len > 0) {
    blob->Write(0, static_cast<uint32_t>(len), data);
  }
  if (auto* compressed = dynamic_cast<TCompressedBlob*>(blob))
    compressed->SetCompressed(cx.CompressBlobMode == cbClient || cx.CompressBlobMode == cbClientServer);
  blob->SetModified(false);  // the value as read is no change to write back
}

// Text, numbers held as text, blobs and bytes: what both protocols deliver as the column's bytes.
bool StoreBytesValue(const TMySQLFieldDesc& f, uint8_t* slot, const char* text, size_t len,
                     const TMyConvertContext& cx) {
  std::string scratch;
  switch (f.DataType) {
    case dtString:
      StoreInlineText(f, slot, AnsiText(text, len, cx, scratch));
      return true;
    case dtExtString:
      Marshal::WriteIntPtr(slot, NewHeapText(*cx.Heap, AnsiText(text, len, cx, scratch)));
      return true;
    case dtWideString:
      StoreWideInline(f, slot, text, len, cx.UseUnicode);
      return true;
    case dtExtWideString: {
      const std::u16string wide =
          cx.UseUnicode ? DecodeMyUtf8(std::string_view(text, len)) : AnsiToWide(std::string_view(text, len));
      Marshal::WriteIntPtr(slot, NewHeapWideText(*cx.Heap, wide));
      return true;
    }
    case dtFloat: {
      const double v = ParseMyFloat(std::string_view(text, len));
      Marshal::WriteInt64(slot, BitConverter::DoubleToInt64Bits(v));
      return true;
    }
    case dtBCD: {
      Currency value;
      if (!TryStrToCurr(std::string_view(text, len), value)) RaiseOutOfRange(std::string_view(text, len), f);
      Marshal::WriteInt64(slot, value.Scaled);
      return true;
    }
    case dtFmtBCD: {
      TBcd bcd;
      if (!TryStrToBcd(std::string_view(text, len), bcd)) RaiseOutOfRange(std::string_view(text, len), f);
      TBcd normalized;
      const int precision = std::min<int>(std::max<int>(f.Length, 1), MaxFMTBcdFractionSize);
      if (!NormalizeBcd(bcd, normalized, precision, f.Scale)) RaiseOutOfRange(std::string_view(text, len), f);
      std::memcpy(slot, &normalized, sizeof normalized);
      return true;
    }
    case dtBlob:
    case dtMemo:
    case dtWideMemo:
      StoreBlob(f, slot, text, len, cx);
      return true;
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes:
      StoreBytes(f, slot, reinterpret_cast<const uint8_t*>(text), len, cx);
      return true;
    default:
      return false;
  }
}

bool IsIntegerType(TDataType t) {
  return t == dtInt8 || t == dtInt16 || t == dtUInt16 || t == dtInt32 || t == dtUInt32 || t == dtInt64 ||
         t == dtUInt64 || t == dtBoolean;
}

bool IsMicrosType(TDataType t) {
  return t == dtDateTimeUs || t == dtTimeUs;
}

bool IsTextType(TDataType t) {
  return t == dtString || t == dtExtString || t == dtWideString || t == dtExtWideString;
}

// The text form the text protocol gives a column that the binary protocol sends as a number or
// date, for text fields of such columns.
std::string BinaryAsText(const TMySQLFieldDesc& f, const uint8_t* p, size_t len) {
  switch (f.MySQLType) {
    case mftTiny:
    case mftShort:
    case mftYear:
    case mftLong:
    case mftInt24:
    case mftLongLong: {
      bool negative;
      uint64_t magnitude;
      BinaryInteger(f, p, len, negative, magnitude);
      return SignedText(negative, magnitude);
    }
    case mftFloat:
    case mftDouble: {
      char buf[32];
      std::to_chars_result r;
      if (len == 4) {
        float v;
        std::memcpy(&v, p, 4);
        r = std::to_chars(buf, buf + sizeof buf, v);
      } else {
        if (len != 8) RaiseBadFloatLength(len);
        double v;
        std::memcpy(&v, p, 8);
        r = std::to_chars(buf, buf + sizeof buf, v);
      }
      return std::string(buf, r.ptr);
    }
    case mftDate:
    case mftDateTime:
    case mftTimestamp:
    case mftTime: {
      const TMySqlTime t = DecodeMySqlBinaryTemporal(std::span<const uint8_t>(p, len), f.MySQLType);
      std::string s;
      if (f.MySQLType == mftTime)
        s = Format("%s%.2d:%.2d:%.2d", {t.Neg ? "-" : "", int64_t(t.Hour), int(t.Minute), int(t.Second)});
      else
        s = Format("%.4d-%.2d-%.2d", {int(t.Year), int(t.Month), int(t.Day)});
      if (f.MySQLType == mftDateTime || f.MySQLType == mftTimestamp)
        s += Format(" %.2d:%.2d:%.2d", {int(t.Hour), int(t.Minute), int(t.Second)});
      if (f.MySQLType != mftDate && f.Decimals > 0 && f.Decimals <= 6)
        s += "." + Format("%.6d", {int(t.SecondPart)}).substr(0, f.Decimals);
      return s;
    }
    default:
      return std::string(reinterpret_cast<const char*>(p), len);
  }
}

}  // namespace

// ---- building blocks --------------------------------------------------------------------------

namespace {

// Eight bytes as loaded from memory (the first byte lowest): their value as eight decimal digits,
// or false when one of them is no digit. A few wide products instead of eight dependent steps.
bool EightDigits(uint64_t chunk, uint64_t& value) {
  static_assert(std::endian::native == std::endian::little, "digit bytes are read little-endian");
  constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0u;
  // Each byte is 0x30..0x39 exactly when its high nibble is 3 and adding 6 keeps it so.
  if (((chunk & kHigh) | (((chunk + 0x0606060606060606u) & kHigh) >> 4)) != 0x3333333333333333u) return false;
  chunk -= 0x3030303030303030u;
  chunk = chunk * 10 + (chunk >> 8);  // pairs of digits, in every other byte
  value = (((chunk & 0x000000FF000000FFu) * (100 + (uint64_t{1000000} << 32))) +
           (((chunk >> 16) & 0x000000FF000000FFu) * (1 + (uint64_t{10000} << 32)))) >>
          32;
  return true;
}

uint32_t Load32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

uint64_t ParseMyInteger(std::string_view text, bool& negative) {
  negative = !text.empty() && text[0] == '-';
  const size_t start = negative ? 1 : 0;
  const size_t digits = text.size() - start;
  if (digits == 0) RaiseNotInteger(text);
  const char* p = text.data() + start;
  uint64_t v = 0;
  size_t i = 0;
  if (digits >= 4) {
    // Four to eight digits as one word of eight, led by as many '0's as it lacks: its first four
    // bytes and its last four, overlapping where it is shorter than eight, read no byte beyond it.
    const size_t n = std::min<size_t>(digits, 8);
    const uint64_t first = (uint64_t{Load32(p)} << (8 * (8 - n))) & 0xFFFFFFFFu;
    const uint64_t chunk =
        (uint64_t{Load32(p + n - 4)} << 32) | first | (uint64_t{0x30303030} >> (8 * (n - 4)));
    if (!EightDigits(chunk, v)) RaiseNotInteger(text);
    i = n;
  }
  // Nineteen digits always fit 64 bits: only longer texts need the overflow test on every digit.
  const size_t safeEnd = std::min<size_t>(digits, 19);
  for (; i < safeEnd; ++i) {
    const unsigned d = static_cast<unsigned char>(p[i]) - '0';
    if (d > 9) RaiseNotInteger(text);
    v = v * 10 + d;
  }
  for (; i < digits; ++i) {
    const unsigned d = static_cast<unsigned char>(p[i]) - '0';
    if (d > 9 || v > (UINT64_MAX - d) / 10) RaiseNotInteger(text);
    v = v * 10 + d;
  }
  return v;
}

double ParseMyFloat(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  const size_t mantissa = i;
  bool digits = false, point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!digits) RaiseNotFloat(text);
  if (i < text.size()) {
    if (text[i] != 'e' && text[i] != 'E') RaiseNotFloat(text);
    const std::string_view exponent = text.substr(i + 1);
    size_t e = !exponent.empty() && (exponent[0] == '-' || exponent[0] == '+') ? 1 : 0;
    if (e == exponent.size()) RaiseNotInteger(exponent);
    for (; e < exponent.size(); ++e)
      if (exponent[e] < '0' || exponent[e] > '9') RaiseNotInteger(exponent);
  }
  double v = 0;
  const auto r = std::from_chars(text.data() + mantissa, text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size()) RaiseNotFloat(text);
  return text[0] == '-' ? -v : v;
}

bool MyTextToDateTime(const TMySQLFieldDesc& f, std::string_view text, TDateTime& value) {
  switch (f.MySQLType) {
    case mftTimestamp:
      // Servers from 4.1 on send every TIMESTAMP, with or without fractional seconds, dashed.
      if (text.size() >= 19 && text[4] == '-') return DashedDateTime(text, true, value);
      if (f.Length >= 19 && f.Length <= 26) RaiseNotDate(text);
      return CompactTimestamp(f, text, value);
    case mftDate:
    case mftNewDate:
      return DashedDateTime(text, false, value);
    case mftTime:
      value = TextToTime(f, text);
      return true;
    default:
      return DashedDateTime(text, true, value);
  }
}

size_t DecodeMyUtf8(const char* text, size_t len, char16_t* dest, size_t destUnits) {
  static constexpr const char* Incomplete = "incomplete multibyte char";
  static constexpr const char* Malformed = "malformed trail byte or out of range char";
  static constexpr const char* MalformedLast = "malformed trail byte";
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  size_t in = 0, out = 0;
  while (in < len) {
    const uint8_t lead = s[in];
    if (lead < 0x80) {
      if (out >= destUnits) break;
      dest[out++] = lead;
      ++in;
      continue;
    }
    size_t trail;
    uint32_t c;
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1;
      c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2;
      c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3;
      c = lead & 0x07;
    } else {
      throw Exception(Malformed);
    }
    for (size_t k = 1; k <= trail; ++k) {
      if (in + k >= len) throw Exception(Incomplete);
      const uint8_t b = s[in + k];
      if ((b & 0xC0) != 0x80) throw Exception(k == trail ? MalformedLast : Malformed);
      c = (c << 6) | (b & 0x3F);
    }
    const uint32_t least = trail == 1 ? 0x80 : trail == 2 ? 0x800 : 0x10000;
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) throw Exception(Malformed);
    const size_t units = c >= 0x10000 ? 2 : 1;
    if (out + units > destUnits) break;
    if (units == 2) {
      dest[out++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      dest[out++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      dest[out++] = static_cast<char16_t>(c);
    }
    in += trail + 1;
  }
  return out;
}

std::u16string DecodeMyUtf8(std::string_view text) {
  std::u16string wide(text.size(), u'\0');
  wide.resize(DecodeMyUtf8(text.data(), text.size(), wide.data(), wide.size()));
  return wide;
}

TBlob* NewMyFieldBlob(const TMySQLFieldDesc& f, const TMyConvertContext& cx) {
  const bool wide = f.DataType == dtWideMemo || (f.DataType == dtMemo && cx.UseUnicode);
  if (cx.CompressBlobMode != cbNone) return new TCompressedBlob(wide);
  return new TBlob(wide);
}

// ---- values into slots ------------------------------------------------------------------------

namespace {

// A conversion error names its field: the value alone does not tell which column failed.
template <class Store>
uint8_t NamingField(const TMySQLFieldDesc& f, Store store) {
  try {
    return store();
  } catch (Exception& e) {
    const bool conversion = dynamic_cast<EConvertError*>(&e) != nullptr || typeid(e) == typeid(Exception);
    if (conversion && e.Message().find("field " + f.Name) == std::string::npos)
      e.SetMessage(e.Message() + " (field " + f.Name + ")");
    throw;
  }
}

uint8_t StoreTextValue(const TMySQLFieldDesc& f, const char* text, size_t len, uint8_t* rec,
                       const TMyConvertContext& cx) {
  uint8_t* slot = rec + f.Offset;
  if (IsIntegerType(f.DataType)) {
    bool negative = false;
    uint64_t magnitude;
    if (f.MySQLType == mftBit)
      magnitude = BitValue(reinterpret_cast<const uint8_t*>(text), len);
    else
      magnitude = ParseMyInteger(std::string_view(text, len), negative);
    StoreInteger(f, slot, negative, magnitude);
    return false;
  }
  if (f.DataType == dtDate || f.DataType == dtTime || f.DataType == dtDateTime) {
    TDateTime value = 0;
    const std::string_view t(text, len);
    const TDateKind kind = MyTextToDateTime(f, t, value) ? TDateKind::Valid
                           : IsZeroDateText(t)           ? TDateKind::Zero
                                                         : TDateKind::Partial;
    return StoreDate(f, slot, kind, value, cx);
  }
  if (IsMicrosType(f.DataType)) {
    int64_t value = 0;
    const TDateKind kind = TextToMicros(f, std::string_view(text, len), value);
    return StoreMicros(slot, kind, value, cx);
  }
  if (!StoreBytesValue(f, slot, text, len, cx))
    DA_ASSERT_MSG(
        false, Format("Invalid internal field type $%X (%d) for field %s", {f.DataType, f.DataType, f.Name}));
  return false;
}

uint8_t StoreBinaryValue(const TMySQLFieldDesc& f, const uint8_t* value, size_t len, uint8_t* rec,
                         const TMyConvertContext& cx) {
  uint8_t* slot = rec + f.Offset;
  const char* bytes = reinterpret_cast<const char*>(value);
  if (IsIntegerType(f.DataType)) {
    bool negative = false;
    uint64_t magnitude;
    if (f.MySQLType == mftBit)
      magnitude = BitValue(value, len);
    else if (f.MySQLType == mftDecimal || f.MySQLType == mftNewDecimal)
      magnitude = ParseMyInteger(std::string_view(bytes, len), negative);
    else
      BinaryInteger(f, value, len, negative, magnitude);
    StoreInteger(f, slot, negative, magnitude);
    return false;
  }
  if (f.DataType == dtDate || f.DataType == dtTime || f.DataType == dtDateTime) {
    TDateTime v = 0;
    const TDateKind kind = BinaryToDateTime(f, value, len, v);
    return StoreDate(f, slot, kind, v, cx);
  }
  if (IsMicrosType(f.DataType)) {
    int64_t v = 0;
    const TDateKind kind = BinaryToMicros(f, value, len, v);
    return StoreMicros(slot, kind, v, cx);
  }
  if (f.DataType == dtFloat && (f.MySQLType == mftFloat || f.MySQLType == mftDouble)) {
    double v;
    if (len == 4) {
      float single;
      std::memcpy(&single, value, 4);
      v = FloatAsDouble(single);
    } else {
      if (len != 8) RaiseBadFloatLength(len);
      std::memcpy(&v, value, 8);
    }
    Marshal::WriteInt64(slot, BitConverter::DoubleToInt64Bits(v));
    return false;
  }
  if (IsTextType(f.DataType)) {
    // Numbers and dates as text are ASCII, the same in UTF-8.
    const std::string text = BinaryAsText(f, value, len);
    StoreBytesValue(f, slot, text.data(), text.size(), cx);
    return false;
  }
  if (!StoreBytesValue(f, slot, bytes, len, cx))
    DA_ASSERT_MSG(
        false, Format("Invalid internal field type $%X (%d) for field %s", {f.DataType, f.DataType, f.Name}));
  return false;
}

}  // namespace

TMyTextStore MyTextStoreOf(const TMySQLFieldDesc& f) {
  TMyTextStore how;
  if (IsIntegerType(f.DataType) && f.DataType != dtBoolean && f.MySQLType != mftBit &&
      (f.Size == 1 || f.Size == 2 || f.Size == 4 || f.Size == 8)) {
    how.Kind = TMyTextStore::Integer;
    IntegerRange(f, how.Lowest, how.Highest);
  } else if (f.DataType == dtString) {
    how.Kind = TMyTextStore::InlineText;
  } else if (f.DataType == dtExtString) {
    how.Kind = TMyTextStore::HeapText;
  }
  return how;
}

namespace {

// StoreInteger with the range chosen beforehand.
void StoreIntegerIn(const TMyTextStore& how, const TMySQLFieldDesc& f, uint8_t* slot, std::string_view text) {
  bool negative = false;
  const uint64_t magnitude = ParseMyInteger(text, negative);
  StoreIntegerInRange(f, slot, negative, magnitude, how.Lowest, how.Highest);
}

uint8_t StoreTextValueBy(const TMyTextStore& how, const TMySQLFieldDesc& f, const char* text, size_t len,
                         uint8_t* rec, const TMyConvertContext& cx) {
  uint8_t* slot = rec + f.Offset;
  switch (how.Kind) {
    case TMyTextStore::Integer:
      StoreIntegerIn(how, f, slot, std::string_view(text, len));
      return false;
    case TMyTextStore::InlineText:
      if (cx.UseUnicode) break;
      StoreInlineText(f, slot, std::string_view(text, len));
      return false;
    case TMyTextStore::HeapText:
      if (cx.UseUnicode) break;
      Marshal::WriteIntPtr(slot, NewHeapText(*cx.Heap, std::string_view(text, len)));
      return false;
    default:
      break;
  }
  return StoreTextValue(f, text, len, rec, cx);
}

}  // namespace

uint8_t StoreMyTextValueBy(const TMyTextStore& how, const TMySQLFieldDesc& f, const char* text, size_t len,
                           uint8_t* rec, const TMyConvertContext& cx) {
  return NamingField(f, [&] { return StoreTextValueBy(how, f, text, len, rec, cx); });
}

uint8_t StoreMyTextValue(const TMySQLFieldDesc& f, const char* text, size_t len, uint8_t* rec,
                         const TMyConvertContext& cx) {
  return NamingField(f, [&] { return StoreTextValue(f, text, len, rec, cx); });
}

uint8_t StoreMyBinaryValue(const TMySQLFieldDesc& f, const uint8_t* value, size_t len, uint8_t* rec,
                           const TMyConvertContext& cx) {
  return NamingField(f, [&] { return StoreBinaryValue(f, value, len, rec, cx); });
}

void SetMyFieldSize(TMySQLFieldDesc& desc, uint16_t length, uint16_t scale) {
  switch (desc.DataType) {
    case dtString:
      DA_ASSERT(length < UINT16_MAX);
      desc.Size = static_cast<uint16_t>(length + 1);
      desc.Length = length;
      break;
    case dtInt8:
    case dtInt16:
    case dtUInt16:
    case dtBoolean:
      desc.Size = 2;
      break;
    case dtInt32:
    case dtUInt32:
      desc.Size = 4;
      break;
    case dtBlob:
    case dtMemo:
    case dtWideMemo:
      desc.Size = RefFieldSize;
      break;
    case dtFloat:
    case dtBCD:
      desc.Size = 8;
      desc.Length = length;
      desc.Scale = scale;
      break;
    case dtDate:
    case dtTime:
    case dtDateTime:
      desc.Size = 8;
      desc.Length = length;
      break;
    case dtInt64:
    case dtUInt64:
      desc.Size = 8;
      break;
    case dtDateTimeUs:
    case dtTimeUs:
      desc.Size = 8;
      desc.Length = length;
      desc.Scale = scale;
      break;
    case dtBytes:
      DA_ASSERT(length > 0);
      desc.Size = length;
      desc.Length = length;
      break;
    case dtExtString:
    case dtExtWideString:
      desc.Size = RefFieldSize;
      desc.Length = length == 0 ? UINT16_MAX : length;
      break;
    case dtVarBytes:
      DA_ASSERT(length <= UINT16_MAX - 2);
      desc.Size = static_cast<uint16_t>(length + 2);
      desc.Length = length;
      break;
    case dtExtVarBytes:
      desc.Size = RefFieldSize;
      desc.Length = length;
      break;
    case dtWideString:
      DA_ASSERT(length < UINT16_MAX / 2);
      desc.Size = static_cast<uint16_t>((length + 1) * 2);
      desc.Length = length;
      break;
    case dtFmtBCD:
      desc.Size = static_cast<uint16_t>(std::max<int>(length + 1, sizeof(TBcd)));
      desc.Length = length;
      desc.Scale = scale;
      break;
    default:
      DA_ASSERT_MSG(false, Format("Invalid internal field type $%X (%d) for field %s",
                                  {desc.DataType, desc.DataType, desc.Name}));
  }
}
