#include "mysql/MyClasses.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

#include "core/MemCompressedBlob.h"
#include "core/MemFieldValues.h"
#include "platform/runtime/Currency.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/FMTBcd.h"
#include "platform/runtime/Format.h"

namespace {

constexpr int ErSyntaxError = 1064;

// Line number in a syntax-error message: the last run of digits, 0 when there is none or it
// does not fit.
int32_t LastNumberIn(std::string_view msg) {
  size_t end = msg.size();
  while (end > 0 && !(msg[end - 1] >= '0' && msg[end - 1] <= '9')) --end;
  size_t begin = end;
  while (begin > 0 && msg[begin - 1] >= '0' && msg[begin - 1] <= '9') --begin;
  int32_t value = 0;
  auto [ptr, ec] = std::from_chars(msg.data() + begin, msg.data() + end, value);
  (void)ptr;
  return ec == std::errc() ? value : 0;
}

// The escape letter of a byte that must not appear bare inside a literal, or 0.
template <typename Ch>
Ch EscapeOf(Ch c) noexcept {
  switch (c) {
    case 0:
      return '0';
    case '\n':
      return 'n';
    case '\r':
      return 'r';
    case 26:
      return 'Z';
    case '"':
    case '\'':
    case '\\':
      return c;
    default:
      return 0;
  }
}

}  // namespace

EMyError::EMyError(int errorCode, std::string msg) : EDAError(errorCode, std::move(msg)) {
  if (errorCode == ErSyntaxError) LineNumber = LastNumberIn(Message());
}

// ---- escaping and quoting ------------------------------------------------------------------

size_t EscapeString(char* dest, const char* src, size_t length, TCharsetKind charset,
                    bool noBackslashEscapes) {
  const char* end = src + length;
  char* out = dest;
  if (noBackslashEscapes) {
    // The server reads every byte as it is but a quote, which a second one escapes; no trail
    // byte of the supported multi-byte sets is a quote, so no character is split.
    for (const char* p = src; p < end; ++p) {
      if (*p == '\'') *out++ = '\'';
      *out++ = *p;
    }
    *out = '\0';
    return static_cast<size_t>(out - dest);
  }
  const bool multiByte = charset != TCharsetKind::SingleByte;
  for (const char* p = src; p < end;) {
    if (multiByte && static_cast<unsigned char>(*p) >= 0x80) {
      size_t n = MbCharLen(charset, p, end);
      if (n > 1) {
        for (size_t i = 0; i < n; ++i) *out++ = *p++;
        continue;
      }
      // A lead byte without a valid trail: escaped, the server skips it as one byte and so
      // never pairs it with a backslash we insert before the next byte.
      if (IsMbLead(charset, static_cast<unsigned char>(*p))) *out++ = '\\';
      *out++ = *p++;
      continue;
    }
    char e = EscapeOf(*p);
    if (e != 0) {
      *out++ = '\\';
      *out++ = e;
    } else {
      *out++ = *p;
    }
    ++p;
  }
  *out = '\0';
  return static_cast<size_t>(out - dest);
}

size_t EscapeWideString(char16_t* dest, const char16_t* src, size_t length) {
  char16_t* out = dest;
  for (size_t i = 0; i < length; ++i) {
    char16_t e = EscapeOf(src[i]);
    if (e != 0) {
      *out++ = u'\\';
      *out++ = e;
    } else {
      *out++ = src[i];
    }
  }
  *out = 0;
  return static_cast<size_t>(out - dest);
}

std::string QuoteString(std::string_view src, TCharsetKind charset, bool noBackslashEscapes) {
  std::string result(2 * src.size() + 2, '\0');
  result[0] = '\'';
  size_t n = EscapeString(result.data() + 1, src.data(), src.size(), charset, noBackslashEscapes);
  result.resize(n + 2);
  result[n + 1] = '\'';
  return result;
}

std::u16string QuoteWideString(std::u16string_view src) {
  std::u16string result(2 * src.size() + 2, u'\0');
  result[0] = u'\'';
  size_t n = EscapeWideString(result.data() + 1, src.data(), src.size());
  result.resize(n + 2);
  result[n + 1] = u'\'';
  return result;
}

std::string QuoteBinary(std::string_view bytes, TCharsetKind connCharset, bool noBackslashEscapes) {
  if (connCharset == TCharsetKind::SingleByte || bytes.empty())
    return QuoteString(bytes, connCharset, noBackslashEscapes);
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string result;
  result.reserve(2 * bytes.size() + 3);
  result += "X'";
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    result += Digits[b >> 4];
    result += Digits[b & 0x0F];
  }
  result += '\'';
  return result;
}

// ---- identifiers -----------------------------------------------------------------------------

namespace {

// The name rules of the table-info class, for names this unit has split itself.
bool IsNameQuote(char c) noexcept {
  return TMyTableInfo::IsNameQuote(c);
}
bool IsEnclosed(std::string_view value) noexcept {
  return TMyTableInfo::IsEnclosed(value);
}
bool NeedsQuotes(std::string_view value) noexcept {
  return TMyTableInfo::NeedsQuotes(value);
}

// Bytes of the character at name[i] as the server reads the name in `cs`.
size_t NameCharLen(std::string_view name, size_t i, TCharsetKind cs) noexcept {
  if (cs == TCharsetKind::SingleByte || static_cast<unsigned char>(name[i]) < 0x80) return 1;
  return MbCharLen(cs, name.data() + i, name.data() + name.size());
}

// Position of the first point that is not inside quotes, or npos. A quote opens a quoted part
// only at the start of a part (the name's start or right after a point); a doubled quote stays
// inside; a multi-byte character (whose trail may be a backquote) is never a quote.
size_t FirstPointOutsideQuotes(std::string_view name, TCharsetKind cs) noexcept {
  char quote = 0;
  bool partStart = true;
  for (size_t i = 0; i < name.size();) {
    size_t n = NameCharLen(name, i, cs);
    char c = name[i];
    i += n;
    if (n > 1) {
      partStart = false;
      continue;
    }
    if (quote != 0) {
      if (c != quote) continue;
      if (i < name.size() && name[i] == quote) {
        ++i;
      } else {
        quote = 0;
      }
      continue;
    }
    if (c == '.') return i - 1;
    if (partStart && IsNameQuote(c)) quote = c;
    partStart = false;
  }
  return std::string_view::npos;
}

// A quoted name that ends exactly at its last character as the server reads it in `cs`: its
// quote character appears inside only doubled, and (for string quotes) without backslashes.
bool IsWellQuoted(std::string_view name, TCharsetKind cs) noexcept {
  if (!IsEnclosed(name)) return false;
  const char q = name.front();
  for (size_t i = 1; i + 1 < name.size();) {
    size_t n = NameCharLen(name, i, cs);
    if (i + n > name.size() - 1) return false;  // the closing quote would be a trail byte
    char c = name[i];
    i += n;
    if (n > 1) continue;
    if (c == '\\' && q != '`') return false;
    if (c != q) continue;
    if (i + 1 < name.size() && name[i] == q) {
      ++i;
    } else {
      return false;
    }
  }
  return true;
}

// In backquotes, each backquote character doubled. A name that ends in a lead byte which the
// closing backquote would complete as a character cannot be quoted in `cs`.
std::string Backquoted(std::string_view name, TCharsetKind cs) {
  std::string result;
  result.reserve(name.size() + 2);
  result += '`';
  size_t last = 1;  // bytes of the last character
  for (size_t i = 0; i < name.size(); i += last) {
    last = NameCharLen(name, i, cs);
    if (last == 1 && name[i] == '`') result += '`';
    result.append(name.substr(i, last));
  }
  if (!name.empty() && last == 1 && IsMbLead(cs, static_cast<unsigned char>(name.back()))) {
    const char tail[2] = {name.back(), '`'};
    if (MbCharLen(cs, tail, tail + 2) == 2)
      throw EDatabaseError("The name " + std::string(name) +
                           " ends inside a character of the connection's character set and cannot be quoted");
  }
  result += '`';
  return result;
}

std::string BackquoteSimple(std::string_view name, bool force, TCharsetKind cs) {
  if (IsWellQuoted(name, cs)) return std::string(name);
  // A reserved word written bare would be read as the keyword.
  if (force || NeedsQuotes(name) || TMyTableInfo::IsReservedWord(name)) return Backquoted(name, cs);
  return std::string(name);
}

std::string UnquoteSimple(std::string_view name) {
  if (name.size() < 3) return std::string(name);
  if (IsEnclosed(name) && !NeedsQuotes(name)) return std::string(name.substr(1, name.size() - 2));
  return std::string(name);
}

}  // namespace

std::string BackquoteName(std::string_view name, bool force, TCharsetKind charset) {
  size_t point = FirstPointOutsideQuotes(name, charset);
  if (point == std::string_view::npos) return BackquoteSimple(name, force, charset);
  if (point == 0 || point == name.size() - 1) return Backquoted(name, charset);
  return BackquoteSimple(name.substr(0, point), false, charset) + "." +
         BackquoteName(name.substr(point + 1), false, charset);
}

std::string UnquoteName(std::string_view name, TCharsetKind charset) {
  if (name.size() < 3) return std::string(name);
  size_t point = FirstPointOutsideQuotes(name, charset);
  if (point == std::string_view::npos) return UnquoteSimple(name);
  return UnquoteSimple(name.substr(0, point)) + "." + UnquoteName(name.substr(point + 1), charset);
}

void SplitObjectName(std::string_view name, std::string& database, std::string& objName,
                     TCharsetKind charset) {
  size_t point = FirstPointOutsideQuotes(name, charset);
  if (point == std::string_view::npos) {
    database.clear();
    objName = UnquoteName(name, charset);
    return;
  }
  database = UnquoteSimple(name.substr(0, point));
  objName = UnquoteName(name.substr(point + 1), charset);
}

std::string EscapeBackquotes(std::string_view name, TCharsetKind charset) {
  const size_t lead = IsEnclosed(name) ? 1 : 0;
  const std::string_view inner = name.substr(lead, name.size() - 2 * lead);
  std::string result;
  result.reserve(name.size() + 8);
  result.append(name.substr(0, lead));
  bool prevBackquote = false;
  for (size_t i = 0; i < inner.size();) {
    const size_t n = NameCharLen(inner, i, charset);
    const bool backquote = n == 1 && inner[i] == '`';
    const bool first = i == 0;
    result.append(inner.substr(i, n));
    i += n;
    const bool last = i == inner.size();
    const bool nextBackquote = !last && inner[i] == '`' && NameCharLen(inner, i, charset) == 1;
    if (backquote && !first && !last && !prevBackquote && !nextBackquote) result += '`';
    prevBackquote = backquote;
  }
  result.append(name.substr(name.size() - lead));
  return result;
}

std::string GetFieldDescTableName(const TFieldDesc* fieldDesc) {
  const auto* desc = dynamic_cast<const TCRFieldDesc*>(fieldDesc);
  return desc != nullptr && desc->TableInfo != nullptr ? desc->TableInfo->GetTableName() : std::string();
}

bool IsBlobParamType(const TParamDesc& param) noexcept {
  const uint16_t type = param.GetDataType();
  return type == dtBlob || type == dtMemo || type == dtWideMemo;
}

// ---- values as SQL literals ------------------------------------------------------------------

namespace {

constexpr uint32_t MaxUncompressedBlobText = 50;

// RAII for a shared object this code created.
struct TReleaseBlob {
  void operator()(TBlob* blob) const { blob->Release(); }
};

// Text is converted to the set it is sent in first and escaped after: escaped before, a
// backslash could become the trail byte of a character the conversion forms (GBK BF 5C). The
// escaping follows the set the session reads in, which a statement may have changed from UTF-8.
std::string QuoteAnsiAsUtf8(std::string_view ansi, TCharsetKind sessionCharset, bool noBackslashEscapes) {
  return QuoteString(AnsiToUtf8(ansi), sessionCharset, noBackslashEscapes);
}

std::string QuoteWideAsUtf8(std::u16string_view wide, TCharsetKind sessionCharset, bool noBackslashEscapes) {
  return QuoteString(WideToUtf8(wide), sessionCharset, noBackslashEscapes);
}

// The literal of a blob's content as it is stored: one piece after Defrag. Compressed content is
// bytes whatever the blob holds.
std::string BlobContentToSQL(TBlob* blob, bool useUnicode, TCharsetKind connCharset, bool binary, bool nbe) {
  PPieceHeader piece = blob->GetFirstPiece();
  if (piece == nullptr || piece->Used == 0) return "''";
  DA_ASSERT(piece->Next == nullptr);
  const char* data = reinterpret_cast<const char*>(TBlob::PieceData(piece));
  const std::string_view bytes(data, piece->Used);
  auto* compressed = dynamic_cast<TCompressedBlob*>(blob);
  if (binary || (compressed != nullptr && compressed->IsCompressed()))
    return QuoteBinary(bytes, connCharset, nbe);
  if (!useUnicode) return QuoteString(bytes, connCharset, nbe);
  if (!blob->IsUnicode()) return QuoteAnsiAsUtf8(bytes, connCharset, nbe);
  std::u16string wide(bytes.size() / 2, u'\0');
  std::memcpy(wide.data(), bytes.data(), wide.size() * 2);
  return QuoteWideAsUtf8(wide, connCharset, nbe);
}

std::string BlobToSQL(TBlob* blob, bool useUnicode, bool compress, TCharsetKind connCharset, bool binary,
                      bool nbe) {
  DA_ASSERT_MSG(blob != nullptr, "a blob parameter without a blob object");
  blob->Defrag();
  auto* compressed = dynamic_cast<TCompressedBlob*>(blob);
  if (compress) {
    if (compressed == nullptr && blob->GetSize() <= MaxUncompressedBlobText)
      return BlobContentToSQL(blob, useUnicode, connCharset, binary, nbe);
    std::unique_ptr<TBlob, TReleaseBlob> temp;
    if (compressed == nullptr) {
      temp.reset(compressed = new TCompressedBlob(blob->IsUnicode()));
      compressed->Assign(blob);
    }
    compressed->SetCompressed(true);
    compressed->Defrag();
    return BlobContentToSQL(compressed, useUnicode, connCharset, binary, nbe);
  }
  if (compressed == nullptr || !compressed->IsCompressed())
    return BlobContentToSQL(blob, useUnicode, connCharset, binary, nbe);
  // Compressed content sent plain: read through the text accessors, which uncompress.
  if (binary) return QuoteBinary(blob->GetAsString(), connCharset, nbe);
  if (!useUnicode) return QuoteString(blob->GetAsString(), connCharset, nbe);
  if (blob->IsUnicode()) return QuoteWideAsUtf8(blob->GetAsWideString(), connCharset, nbe);
  return QuoteAnsiAsUtf8(blob->GetAsString(), connCharset, nbe);
}

}  // namespace

TCharsetKind SQLTextCharset(std::string_view connectionCharset, bool useUnicode) {
  return useUnicode ? TCharsetKind::Utf8 : CharsetKindByName(connectionCharset);
}

std::string StringValueToSQL(const Variant& value, bool useUnicode, bool compress, TCharsetKind connCharset,
                             bool binary, bool noBackslashEscapes) {
  const bool nbe = noBackslashEscapes;
  if (value.IsObject())
    return BlobToSQL(static_cast<TBlob*>(value.AsObject()), useUnicode, compress, connCharset, binary, nbe);
  if (value.IsByteArray()) {
    const auto& bytes = value.AsBytes();
    return QuoteBinary(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                       connCharset, nbe);
  }
  if (!useUnicode) return QuoteString(value.AsString(), connCharset, nbe);
  if (value.VarType() == varOleStr) return QuoteWideAsUtf8(value.AsWideString(), connCharset, nbe);
  return QuoteAnsiAsUtf8(value.AsString(), connCharset, nbe);
}

namespace {

constexpr double SecsPerDay = 86400.0;

std::string FloatLiteral(double value) {
  if (!std::isfinite(value)) throw EConvertError("The value " + FloatToStr(value) + " has no SQL literal");
  return FloatToStr(value);  // "." as decimal separator
}

// h:m:s without leading zeros, negative times with a leading "-".
std::string TimeLiteral(TDateTime value) {
  double secs = std::nearbyint(value * SecsPerDay);  // half to even
  if (!std::isfinite(secs) || std::fabs(secs) > 9.0e15)
    throw EConvertError("The value " + FloatToStr(value) + " is not a valid time");
  auto total = static_cast<int64_t>(std::fabs(secs));
  return std::string(secs < 0 ? "'-" : "'") + IntToStr(total / 3600) + ":" + IntToStr(total / 60 % 60) + ":" +
         IntToStr(total % 60) + "'";
}

// A date-time or time with all its microseconds.
std::string MicrosLiteral(TDataType dataType, const Variant& value) {
  TFieldDesc field;
  field.DataType = dataType;
  const int64_t v = MicrosOfVariant(value, field);
  if (dataType == dtTimeUs) return "'" + TimeUsToStr(v, MaxFractionDigits) + "'";
  if (v == DateTimeUsZero) return "'0000-00-00 00:00:00'";
  return "'" + DateTimeUsToStr(v, MaxFractionDigits) + "'";
}

bool IsIntegerType(TDataType t) noexcept {
  return t == dtInt8 || t == dtInt16 || t == dtInt32 || t == dtUInt16 || t == dtUInt32 || t == dtInt64;
}

// A value of a type without a literal form of its own (variant, object and array fields):
// written by what the value is, never as unquoted text.
std::string OwnTypeLiteral(const Variant& value, int serverMajorVersion, bool compress, bool useUnicode,
                           TCharsetKind connCharset, bool nbe) {
  switch (value.VarType()) {
    case varBoolean:
      return ValueToSQLText(dtBoolean, value, false, serverMajorVersion, compress, useUnicode, connCharset);
    case varDate:
      return ValueToSQLText(dtDateTime, value, false, serverMajorVersion, compress, useUnicode, connCharset);
    case varUInt64:
      return UIntToStr(value.AsUInt64());
    case varSingle:
    case varDouble:
      return FloatLiteral(value.AsDouble());
    default:
      break;
  }
  if (value.IsNumeric()) return value.AsString();  // integers, currency and packed decimals
  return StringValueToSQL(value, useUnicode, compress, connCharset, value.IsByteArray() || value.IsObject(),
                          nbe);
}

}  // namespace

void AppendSQLValue(StringBuilder& sb, TDataType dataType, const Variant& value, int serverMajorVersion,
                    bool compress, bool useUnicode, bool isNull, TCharsetKind connCharset,
                    bool noBackslashEscapes) {
  const bool nbe = noBackslashEscapes;
  if (isNull || value.IsNull()) {
    sb.Append("NULL");
    return;
  }
  if ((dataType == dtDate || dataType == dtTime || dataType == dtDateTime) &&
      value.AsDateTime() == MySQLZeroDate) {
    sb.Append("'0000-00-00 00:00:00'");
    return;
  }
  switch (dataType) {
    case dtUnknown:
    case dtBlob:
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes:
      sb.Append(StringValueToSQL(value, false, compress, connCharset, value.IsObject() || value.IsByteArray(),
                                 nbe));
      return;
    case dtString:
    case dtMemo:
    case dtExtString:
    case dtWideString:
    case dtExtWideString:
    case dtWideMemo:
    case dtGuid:
      sb.Append(StringValueToSQL(value, useUnicode, compress, connCharset, false, nbe));
      return;
    case dtFloat:
    case dtCurrency:
      sb.Append(value.VarType() == varCurrency ? CurrToStr(value.AsCurrency())
                                               : FloatLiteral(value.AsDouble()));
      return;
    case dtFmtBCD:
      sb.Append(BcdToStr(value.AsBcd()));
      return;
    case dtBCD:
      sb.Append(CurrToStr(value.AsCurrency()));
      return;
    case dtDate:
      sb.Append("'" + FormatDateTime("yyyy-mm-dd", value.AsDateTime()) + "'");
      return;
    case dtDateTime: {
      // The milliseconds go as the prepared path sends them; a whole second keeps its plain form.
      const TDateTime v = value.AsDateTime();
      int y, mo, d, h, mi, s, ms;
      DecodeDateTime(v, y, mo, d, h, mi, s, ms);
      sb.Append("'" + FormatDateTime(ms != 0 ? "yyyy-mm-dd hh:nn:ss.zzz" : "yyyy-mm-dd hh:nn:ss", v) + "'");
      return;
    }
    case dtTime:
      sb.Append(TimeLiteral(value.AsDateTime()));
      return;
    case dtDateTimeUs:
    case dtTimeUs:
      sb.Append(MicrosLiteral(dataType, value));
      return;
    case dtUInt64:
      sb.Append(UIntToStr(value.AsUInt64()));
      return;
    case dtBoolean:
      if (serverMajorVersion < 5)
        sb.Append(value.AsBoolean() ? "1" : "0");
      else
        sb.Append(value.AsBoolean() ? "b'1'" : "b'0'");
      return;
    default:
      break;
  }
  if (IsIntegerType(dataType))
    sb.Append(dataType == dtUInt32 && value.VarType() == varUInt64 ? UIntToStr(value.AsUInt64())
                                                                   : IntToStr(value.AsInt64()));
  else
    sb.Append(OwnTypeLiteral(value, serverMajorVersion, compress, useUnicode, connCharset, nbe));
}

std::string ValueToSQLText(TDataType dataType, const Variant& value, bool isNull, int serverMajorVersion,
                           bool compress, bool useUnicode, TCharsetKind connCharset,
                           bool noBackslashEscapes) {
  StringBuilder sb;
  AppendSQLValue(sb, dataType, value, serverMajorVersion, compress, useUnicode, isNull, connCharset,
                 noBackslashEscapes);
  return sb.ToString();
}

// ---- column types ----------------------------------------------------------------------------

bool MySQLTypeToDataType(int fieldType, uint32_t length, bool binary, bool& fixed, TDataType& dataType,
                         TDANumericType numericType, bool useUnicode, bool enableBoolean, bool isUnsigned) {
  switch (fieldType) {
    case mftDecimal:
    case mftNewDecimal:
      dataType = numericType == ntBCD ? dtBCD : numericType == ntFmtBCD ? dtFmtBCD : dtFloat;
      break;
    case mftTiny:
      dataType = enableBoolean && length == 1 ? dtBoolean : isUnsigned ? dtUInt16 : dtInt8;
      break;
    case mftShort:
      dataType = isUnsigned ? dtUInt16 : dtInt16;
      break;
    case mftLong:
      dataType = isUnsigned ? dtUInt32 : dtInt32;
      break;
    case mftInt24:
      dataType = dtInt32;
      break;
    case mftLongLong:
      dataType = isUnsigned ? dtUInt64 : dtInt64;
      break;
    case mftBit:
      dataType = dtUInt64;  // all 64 bits, unsigned as the server orders them
      break;
    case mftFloat:
    case mftDouble:
      dataType = dtFloat;
      break;
    case mftNull:
    case mftVarChar:
    case mftVarString:
    case mftEnum:
    case mftSet:
      dataType = dtString;
      break;
    case mftString:
      dataType = dtString;
      fixed = true;
      break;
    case mftTimestamp:
    case mftDateTime:
      dataType = dtDateTime;
      break;
    case mftDate:
      dataType = dtDate;
      break;
    case mftTime:
      dataType = dtTime;
      break;
    case mftYear:
      dataType = dtUInt16;
      break;
    case mftTinyBlob:
    case mftMediumBlob:
    case mftLongBlob:
    case mftBlob:
    case mftGeometry:
      dataType = binary ? dtBlob : dtMemo;
      break;
    default:
      return false;
  }
  if (useUnicode && dataType == dtString) dataType = dtWideString;
  if (useUnicode && dataType == dtMemo) dataType = dtWideMemo;
  return true;
}
