#include "platform/db/FieldClasses.h"

#include <cmath>
#include <cstring>

#include "platform/db/DBConsts.h"
#include "platform/db/DataSet.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Format.h"

namespace {

constexpr int64_t USecsPerMSec = 1000;
bool IsBlank(const std::string& text) {
  for (char c : text)
    if (c != ' ' && c != '\t') return false;
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Times of a day before 1899-12-30 are subtracted from it: the day is the whole part.
bool IsZeroDateTime(TDateTime value) {
  return std::trunc(value) == ZeroDateTime;
}

// Millisecond form of a date-time; the zero date is 0.
double DateTimeToMSecs(TDateTime value) {
  if (IsZeroDateTime(value)) return 0;
  return TimeStampToMSecs(DateTimeToTimeStamp(value));
}

TDateTime MSecsToDateTime(double msecs) {
  if (msecs >= 0 && msecs < MSecsPerDay) return ZeroDateTime;
  return DateTimeOfMSecs(msecs);  // TimeStampToDateTime(MSecsToTimeStamp(msecs)) in one step
}

// "0000-00-00", "0000-00-00 00:00:00" (any fraction of zeros): the zero date.
bool IsZeroDateText(std::string_view text) {
  text = Trim(text);
  if (text.size() < 10 || text.substr(0, 10) != "0000-00-00") return false;
  for (char c : text.substr(10))
    if (c != '0' && c != ' ' && c != ':' && c != '.') return false;
  return true;
}

std::string Digits(int64_t value, int width) {
  std::string s = IntToStr(value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
  return s;
}

std::string FractionText(int64_t usec, int scale) {
  if (scale <= 0) return {};
  std::string f = Digits(usec, 6);
  return "." + f.substr(0, static_cast<size_t>(scale));
}

// "ss[.ffffff]" at the end of a date or time text: whole seconds and microseconds.
bool ParseSeconds(std::string_view s, int& sec, int64_t& usec) {
  size_t dot = s.find('.');
  std::string_view whole = s.substr(0, dot);
  if (whole.size() != 2 || !isdigit(static_cast<unsigned char>(whole[0])) ||
      !isdigit(static_cast<unsigned char>(whole[1])))
    return false;
  sec = (whole[0] - '0') * 10 + (whole[1] - '0');
  usec = 0;
  if (dot == std::string_view::npos) return true;
  std::string_view frac = s.substr(dot + 1);
  if (frac.empty() || frac.size() > 6) return false;
  for (size_t i = 0; i < 6; ++i) {
    if (i < frac.size() && !isdigit(static_cast<unsigned char>(frac[i]))) return false;
    usec = usec * 10 + (i < frac.size() ? frac[i] - '0' : 0);
  }
  return true;
}

bool ParseNumber(std::string_view s, int& value, size_t minDigits, size_t maxDigits) {
  if (s.size() < minDigits || s.size() > maxDigits) return false;
  value = 0;
  for (char c : s) {
    if (!isdigit(static_cast<unsigned char>(c))) return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// "hh:nn[:ss[.ffffff]]" (hours up to maxHourDigits digits) into microseconds.
bool ParseTimeOfDay(std::string_view s, int64_t& usec, size_t maxHourDigits) {
  size_t c1 = s.find(':');
  if (c1 == std::string_view::npos) return false;
  size_t c2 = s.find(':', c1 + 1);
  int h, m, sec = 0;
  int64_t frac = 0;
  if (!ParseNumber(s.substr(0, c1), h, 1, maxHourDigits)) return false;
  if (!ParseNumber(s.substr(c1 + 1, c2 == std::string_view::npos ? std::string_view::npos : c2 - c1 - 1), m,
                   2, 2))
    return false;
  if (c2 != std::string_view::npos && !ParseSeconds(s.substr(c2 + 1), sec, frac)) return false;
  if (m > 59 || sec > 59) return false;
  usec = ((static_cast<int64_t>(h) * 60 + m) * 60 + sec) * 1000000 + frac;
  return true;
}

bool TryTextToDateTimeUs(std::string_view text, int64_t& value) {
  text = Trim(text);
  if (IsZeroDateText(text)) {
    size_t dot = text.find('.');
    if (dot != std::string_view::npos && text.size() - dot - 1 > 6) return false;
    value = 0;
    return true;
  }
  int y, mo, d;
  if (text.size() < 10 || text[4] != '-' || text[7] != '-' || !ParseNumber(text.substr(0, 4), y, 4, 4) ||
      !ParseNumber(text.substr(5, 2), mo, 2, 2) || !ParseNumber(text.substr(8, 2), d, 2, 2))
    return false;
  TDateTime date;
  if (!TryEncodeDate(y, mo, d, date)) return false;
  int64_t tod = 0;
  std::string_view rest = Trim(text.substr(10));
  if (!rest.empty() && (text[10] != ' ' || !ParseTimeOfDay(rest, tod, 2) || tod >= USecsPerDay)) return false;
  value = static_cast<int64_t>(DateTimeToTimeStamp(date).Date) * USecsPerDay + tod;
  return true;
}

std::string DateTimeUsText(int64_t value, int scale) {
  if (value >= 0 && value < USecsPerDay) return "0000-00-00 00:00:00" + FractionText(value % 1000000, scale);
  TTimeStamp ts{static_cast<int32_t>(value % USecsPerDay / 1000), static_cast<int32_t>(value / USecsPerDay)};
  int y, mo, d;
  DecodeDate(TimeStampToDateTime(ts), y, mo, d);
  int64_t tod = value % USecsPerDay;
  int64_t h = tod / 3600000000, mi = tod / 60000000 % 60, s = tod / 1000000 % 60;
  return Digits(y, 4) + "-" + Digits(mo, 2) + "-" + Digits(d, 2) + " " + Digits(h, 2) + ":" + Digits(mi, 2) +
         ":" + Digits(s, 2) + FractionText(tod % 1000000, scale);
}

bool ParseGuid(std::string_view s) {
  if (s.size() != 38 || s[0] != '{' || s[37] != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? s[i] != '-' : !isxdigit(static_cast<unsigned char>(s[i]))) return false;
  }
  return true;
}

}  // namespace

// ---- TStringField ---------------------------------------------------------------------------

TStringField::TStringField(TComponent* owner) : TField(owner) {
  SetDataType(ftString);
  SetSizeUnchecked(20);
}

void TStringField::CheckTypeSize(int value) const {
  if (value < 0 || value > 65535) TField::CheckTypeSize(-1);
}

void TStringField::SetFixedChar(bool value) {
  SetDataType(value ? ftFixedChar : ftString);
}

std::string TStringField::GetAsString() const {
  std::string_view stored;
  bool isNull;
  if (GetDirectText(stored, isNull)) return isNull ? std::string() : std::string(stored);
  std::string text;
  if (!GetDataText(text)) return {};
  return text;
}

void TStringField::SetAsString(const std::string& value) {
  SetDataText(
      std::string_view(value.data(), MbCutLength(AnsiCharsetKind(), value, static_cast<size_t>(Size()))));
}

int32_t TStringField::GetAsInteger() const {
  int64_t v = GetAsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) throw EConvertError(Format(SInvalidIntegerValue, {GetAsString()}));
  return static_cast<int32_t>(v);
}

int64_t TStringField::GetAsLargeInt() const {
  std::string s = GetAsString();
  int64_t v;
  if (!TryTextToInt64(s, v)) throw EConvertError(Format(SInvalidIntegerValue, {s}));
  return v;
}

double TStringField::GetAsFloat() const {
  std::string s = GetAsString();
  double v;
  if (!TryTextToFloat(s, v)) throw EConvertError(Format(SInvalidFloatValue, {s}));
  return v;
}

bool TStringField::GetAsBoolean() const {
  std::string s = GetAsString();
  if (s.size() == 1) {
    char c = s[0];
    if (c == 'T' || c == 't' || c == 'Y' || c == 'y') return true;
    if (c == 'F' || c == 'f' || c == 'N' || c == 'n') return false;
  }
  return Variant(s).AsBoolean();
}

Variant TStringField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TStringField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  SetAsString(value.AsString());
}

void TStringField::GetText(std::string& text, bool) const {
  text = GetAsString();
}

TGuidField::TGuidField(TComponent* owner) : TStringField(owner) {
  SetDataType(ftGuid);
  SetSizeUnchecked(38);
}

void TGuidField::CheckTypeSize(int value) const {
  if (value != 38) TField::CheckTypeSize(-1);
}

void TGuidField::SetAsString(const std::string& value) {
  if (IsBlank(value)) return Clear();
  if (!ParseGuid(Trim(value))) throw EConvertError(Format(SInvalidGuidValue, {value}));
  TStringField::SetAsString(std::string(Trim(value)));
}

// ---- TWideStringField -----------------------------------------------------------------------

TWideStringField::TWideStringField(TComponent* owner) : TField(owner) {
  SetDataType(ftWideString);
  SetSizeUnchecked(20);
}

void TWideStringField::CheckTypeSize(int value) const {
  if (value < 0 || value > 32767) TField::CheckTypeSize(-1);
}

std::u16string TWideStringField::GetAsWideString() const {
  std::u16string buf(static_cast<size_t>(Size()) + 1, u'\0');
  if (!GetData(buf.data())) return {};
  size_t n = 0;
  while (n < static_cast<size_t>(Size()) && buf[n] != 0) ++n;
  buf.resize(n);
  return buf;
}

void TWideStringField::SetAsWideString(const std::u16string& value) {
  std::u16string buf(static_cast<size_t>(Size()) + 1, u'\0');
  size_t n = std::min(value.size(), static_cast<size_t>(Size()));
  // A surrogate pair is kept whole.
  if (n > 0 && n < value.size() && value[n - 1] >= 0xD800 && value[n - 1] <= 0xDBFF) --n;
  std::copy(value.begin(), value.begin() + static_cast<std::ptrdiff_t>(n), buf.begin());
  SetData(buf.data());
}

Variant TWideStringField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsWideString());
}

void TWideStringField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  SetAsWideString(value.AsWideString());
}

// ---- TBooleanField --------------------------------------------------------------------------

TBooleanField::TBooleanField(TComponent* owner) : TField(owner) {
  SetDataType(ftBoolean);
}

void TBooleanField::SetDisplayValues(const std::string& value) {
  size_t sep = value.find(';');
  if (sep == std::string::npos || sep == 0 || sep + 1 == value.size())
    throw EDatabaseError(Format("Invalid boolean display values '%s'", {value}));
  FDisplayValues = value;
  FTrueText = value.substr(0, sep);
  FFalseText = value.substr(sep + 1);
  PropertyChanged(false);
}

bool TBooleanField::GetAsBoolean() const {
  uint16_t v = 0;
  return GetNative(v) && v != 0;
}

void TBooleanField::SetAsBoolean(bool value) {
  SetNative(static_cast<uint16_t>(value ? 1 : 0));
}

std::string TBooleanField::GetAsString() const {
  uint16_t v = 0;
  if (!GetNative(v)) return {};
  return v != 0 ? FTrueText : FFalseText;
}

void TBooleanField::SetAsString(const std::string& value) {
  std::string_view t = Trim(value);
  if (t.empty()) return Clear();
  auto startsPart = [t](const std::string& part) {
    return t.size() <= part.size() && SameFieldName(std::string_view(part).substr(0, t.size()), t);
  };
  if (startsPart(FFalseText))
    SetAsBoolean(false);
  else if (startsPart(FTrueText))
    SetAsBoolean(true);
  else
    throw EConvertError(Format(SInvalidBoolValue, {value}));
}

Variant TBooleanField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsBoolean());
}

void TBooleanField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.IsString()) return SetAsString(value.AsString());
  SetAsBoolean(value.AsBoolean());
}

// ---- TDateTimeField -------------------------------------------------------------------------

TDateTimeField::TDateTimeField(TComponent* owner, TFieldType type) : TField(owner) {
  SetDataType(type);
}

TDateTime TDateTimeField::GetAsDateTime() const {
  switch (DataType()) {
    case ftDate: {
      int32_t day = 0;
      return GetNative(day) ? static_cast<TDateTime>(day - DateDelta) : 0;
    }
    case ftTime: {
      int32_t ms = 0;
      return GetNative(ms) ? static_cast<TDateTime>(ms) / MSecsPerDay : 0;
    }
    default: {
      double ms = 0;
      return GetNative(ms) ? MSecsToDateTime(ms) : 0;
    }
  }
}

void TDateTimeField::SetAsDateTime(TDateTime value) {
  switch (DataType()) {
    case ftDate: {
      int32_t day = IsZeroDateTime(value) ? 0 : DateTimeToTimeStamp(value).Date;
      SetNative(day);
      break;
    }
    case ftTime: {
      int32_t ms = DateTimeToTimeStamp(value).Time;
      SetNative(ms);
      break;
    }
    default:
      SetNative(DateTimeToMSecs(value));
      break;
  }
}

std::string TDateTimeField::GetAsString() const {
  if (IsNull()) return {};
  TDateTime v = GetAsDateTime();
  switch (DataType()) {
    case ftDate:
      return IsZeroDateTime(v) ? "0000-00-00" : DateToStr(v);
    case ftTime:
      return TimeToStr(v);
    default:
      return IsZeroDateTime(v) ? "0000-00-00 00:00:00" : DateTimeToStr(v);
  }
}

void TDateTimeField::SetAsString(const std::string& value) {
  if (IsBlank(value)) return Clear();
  if (DataType() != ftTime && IsZeroDateText(value)) return SetAsDateTime(ZeroDateTime);
  TDateTime v;
  if (!TryStrToDateTime(value, v)) throw EConvertError(Format(SInvalidDateTimeValue, {value}));
  SetAsDateTime(v);
}

Variant TDateTimeField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant::FromDateTime(GetAsDateTime());
}

void TDateTimeField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.IsString()) return SetAsString(value.AsString());
  SetAsDateTime(value.AsDateTime());
}

// ---- TDateTimeUsField -----------------------------------------------------------------------

TDateTimeUsField::TDateTimeUsField(TComponent* owner) : TField(owner) {
  SetDataType(ftDateTimeUs);
  SetSizeUnchecked(6);
}

void TDateTimeUsField::CheckTypeSize(int value) const {
  if (value < 0 || value > 6) TField::CheckTypeSize(-1);
}

int64_t TDateTimeUsField::GetAsLargeInt() const {
  int64_t v = 0;
  return GetNative(v) ? v : 0;
}

TDateTime TDateTimeUsField::GetAsDateTime() const {
  int64_t v = 0;
  if (!GetNative(v)) return 0;
  int64_t ms = v / USecsPerMSec + (v % USecsPerMSec >= 500 ? 1 : 0);
  return MSecsToDateTime(static_cast<double>(ms));
}

void TDateTimeUsField::SetAsDateTime(TDateTime value) {
  SetNative(static_cast<int64_t>(DateTimeToMSecs(value)) * USecsPerMSec);
}

std::string TDateTimeUsField::GetAsString() const {
  int64_t v = 0;
  return GetNative(v) ? DateTimeUsText(v, Size()) : std::string();
}

void TDateTimeUsField::SetAsString(const std::string& value) {
  if (IsBlank(value)) return Clear();
  int64_t v;
  if (!TryTextToDateTimeUs(value, v)) throw EConvertError(Format(SInvalidDateTimeValue, {value}));
  SetNative(v);
}

Variant TDateTimeUsField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TDateTimeUsField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.VarType() == varDate) return SetAsDateTime(value.AsDateTime());
  SetAsString(value.AsString());
}

// ---- TTimeUsField ---------------------------------------------------------------------------

TTimeUsField::TTimeUsField(TComponent* owner) : TField(owner) {
  SetDataType(ftTimeUs);
  SetSizeUnchecked(6);
}

void TTimeUsField::CheckTypeSize(int value) const {
  if (value < 0 || value > 6) TField::CheckTypeSize(-1);
}

int64_t TTimeUsField::GetAsLargeInt() const {
  int64_t v = 0;
  return GetNative(v) ? v : 0;
}

TDateTime TTimeUsField::GetAsDateTime() const {
  int64_t v = GetAsLargeInt();
  if (v <= -USecsPerDay || v >= USecsPerDay)
    throw EConvertError(Format("'%s' is not a valid time", {GetAsString()}));
  return static_cast<double>(v) / static_cast<double>(USecsPerDay);
}

void TTimeUsField::SetAsDateTime(TDateTime value) {
  SetNative(static_cast<int64_t>(DateTimeToTimeStamp(value).Time) * USecsPerMSec);
}

std::string TTimeUsField::GetAsString() const {
  int64_t v = 0;
  if (!GetNative(v)) return {};
  std::string sign = v < 0 ? "-" : "";
  uint64_t a = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  int64_t secs = static_cast<int64_t>(a / 1000000);
  return sign + Digits(secs / 3600, 2) + ":" + Digits(secs / 60 % 60, 2) + ":" + Digits(secs % 60, 2) +
         FractionText(static_cast<int64_t>(a % 1000000), Size());
}

void TTimeUsField::SetAsString(const std::string& value) {
  if (IsBlank(value)) return Clear();
  std::string_view t = Trim(value);
  bool negative = !t.empty() && t.front() == '-';
  if (negative) t.remove_prefix(1);
  int64_t v;
  if (!ParseTimeOfDay(t, v, 9)) throw EConvertError(Format(SInvalidDateTimeValue, {value}));
  SetNative(negative ? -v : v);
}

Variant TTimeUsField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

void TTimeUsField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.VarType() == varDate) return SetAsDateTime(value.AsDateTime());
  SetAsString(value.AsString());
}

// ---- TBinaryField ---------------------------------------------------------------------------

TBinaryField::TBinaryField(TComponent* owner, TFieldType type) : TField(owner) {
  SetDataType(type);
  SetSizeUnchecked(16);
}

void TBinaryField::CheckTypeSize(int value) const {
  if (value < 0 || value > 65535) TField::CheckTypeSize(-1);
}

std::vector<uint8_t> TBinaryField::GetAsBytes() const {
  std::vector<uint8_t> buf(static_cast<size_t>(DataSize()));
  if (!GetData(buf.data())) return {};
  if (DataType() != ftVarBytes) return buf;
  uint16_t n;
  std::memcpy(&n, buf.data(), 2);
  n = std::min<uint16_t>(n, static_cast<uint16_t>(Size()));
  return std::vector<uint8_t>(buf.begin() + 2, buf.begin() + 2 + n);
}

void TBinaryField::SetAsBytes(const std::vector<uint8_t>& value) {
  if (value.size() > static_cast<size_t>(Size()))
    throw EDatabaseError(
        Format(SFieldSizeError, {static_cast<int64_t>(value.size()), DisplayLabel(), Size()}));
  std::vector<uint8_t> buf(static_cast<size_t>(DataSize()), 0);
  size_t at = 0;
  if (DataType() == ftVarBytes) {
    uint16_t n = static_cast<uint16_t>(value.size());
    std::memcpy(buf.data(), &n, 2);
    at = 2;
  }
  if (!value.empty()) std::memcpy(buf.data() + at, value.data(), value.size());
  SetData(buf.data());
}

std::string TBinaryField::GetAsString() const {
  std::vector<uint8_t> b = GetAsBytes();
  return std::string(b.begin(), b.end());
}

void TBinaryField::SetAsString(const std::string& value) {
  SetAsBytes(std::vector<uint8_t>(value.begin(), value.end()));
}

Variant TBinaryField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant::FromBytes(GetAsBytes());
}

void TBinaryField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.IsByteArray()) return SetAsBytes(value.AsBytes());
  SetAsString(value.AsString());
}

// ---- TBlobField -----------------------------------------------------------------------------

TBlobField::TBlobField(TComponent* owner, TFieldType type) : TField(owner) {
  SetDataType(type);
}

std::unique_ptr<TStream> TBlobField::OpenStream(TBlobStreamMode mode) const {
  if (!DataSet()) throw EDatabaseError(Format(SDataSetMissing, {DisplayLabel()}));
  return DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), mode);
}

int64_t TBlobField::BlobSize() const {
  return OpenStream(bmRead)->Size();
}

void TBlobField::LoadFromStream(TStream& stream) {
  std::unique_ptr<TStream> blob = OpenStream(bmWrite);
  stream.SetPosition(0);
  blob->CopyFrom(stream, 0);
}

void TBlobField::SaveToStream(TStream& stream) const {
  std::unique_ptr<TStream> blob = OpenStream(bmRead);
  if (blob->Size() > 0) stream.CopyFrom(*blob, 0);
}

std::string TBlobField::GetAsString() const {
  std::unique_ptr<TStream> blob = OpenStream(bmRead);
  std::string text(static_cast<size_t>(blob->Size()), '\0');
  blob->SetPosition(0);
  text.resize(static_cast<size_t>(blob->Read(text.data(), static_cast<int64_t>(text.size()))));
  return text;
}

void TBlobField::SetAsString(const std::string& value) {
  std::unique_ptr<TStream> blob = OpenStream(bmWrite);
  blob->WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
}

std::vector<uint8_t> TBlobField::GetAsBytes() const {
  std::string s = GetAsString();
  return std::vector<uint8_t>(s.begin(), s.end());
}

void TBlobField::SetAsBytes(const std::vector<uint8_t>& value) {
  std::unique_ptr<TStream> blob = OpenStream(bmWrite);
  blob->WriteBuffer(value.data(), static_cast<int64_t>(value.size()));
}

Variant TBlobField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant::FromBytes(GetAsBytes());
}

void TBlobField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  if (value.IsByteArray()) return SetAsBytes(value.AsBytes());
  SetAsString(value.AsString());
}

void TBlobField::Clear() {
  // NULL, not '' (what a stream opened for writing leaves).
  TField::Clear();
}

void TBlobField::GetText(std::string& text, bool displayText) const {
  bool memo = dynamic_cast<const TMemoField*>(this) != nullptr;
  if (!displayText && memo) {
    text = GetAsString();
    return;
  }
  text = memo ? "(MEMO)" : DataType() == ftGraphic ? "(GRAPHIC)" : "(BLOB)";
  if (IsNull())
    for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
}

Variant TMemoField::GetAsVariant() const {
  if (IsNull()) return Variant::Null();
  return Variant(GetAsString());
}

// ---- TVariantField --------------------------------------------------------------------------

TVariantField::TVariantField(TComponent* owner) : TField(owner) {
  SetDataType(ftVariant);
}

Variant TVariantField::GetAsVariant() const {
  Variant v;
  if (!GetData(&v)) return Variant::Null();
  return v;
}

void TVariantField::SetAsVariant(const Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return Clear();
  SetData(&value);
}

// ---- Field classes by type ------------------------------------------------------------------

TField* CreateFieldOfType(TFieldType type, TComponent* owner) {
  switch (type) {
    case ftString:
      return new TStringField(owner);
    case ftFixedChar: {
      auto* f = new TStringField(owner);
      f->SetFixedChar(true);
      return f;
    }
    case ftGuid:
      return new TGuidField(owner);
    case ftWideString:
      return new TWideStringField(owner);
    case ftSmallint:
      return new TSmallintField(owner);
    case ftInteger:
      return new TIntegerField(owner);
    case ftWord:
      return new TWordField(owner);
    case ftAutoInc:
      return new TAutoIncField(owner);
    case ftLargeint:
      return new TLargeintField(owner);
    case ftLargeUInt:
      return new TLargeUIntField(owner);
    case ftFloat:
      return new TFloatField(owner);
    case ftCurrency:
      return new TCurrencyField(owner);
    case ftBCD:
      return new TBCDField(owner);
    case ftFMTBcd:
      return new TFMTBCDField(owner);
    case ftBoolean:
      return new TBooleanField(owner);
    case ftDate:
      return new TDateField(owner);
    case ftTime:
      return new TTimeField(owner);
    case ftDateTime:
      return new TDateTimeField(owner);
    case ftDateTimeUs:
      return new TDateTimeUsField(owner);
    case ftTimeUs:
      return new TTimeUsField(owner);
    case ftBytes:
      return new TBytesField(owner);
    case ftVarBytes:
      return new TVarBytesField(owner);
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
      return new TMemoField(owner, type);
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
      return new TBlobField(owner, type);
    case ftVariant:
      return new TVariantField(owner);
    default:
      return nullptr;
  }
}
