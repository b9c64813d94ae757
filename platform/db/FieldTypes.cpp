#include "platform/db/FieldTypes.h"

#include <cstring>

#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/LocaleCompare.h"

namespace {

const char* const FieldTypeNames[FieldTypeCount] = {
    "Unknown",     "String",    "Smallint",  "Integer",    "Word",       "Boolean",    "Float",
    "Currency",    "BCD",       "Date",      "Time",       "DateTime",   "Bytes",      "VarBytes",
    "AutoInc",     "Blob",      "Memo",      "Graphic",    "FmtMemo",    "ParadoxOle", "DBaseOle",
    "TypedBinary", "Cursor",    "FixedChar", "WideString", "Largeint",   "ADT",        "Array",
    "Reference",   "DataSet",   "OraBlob",   "OraClob",    "Variant",    "Interface",  "IDispatch",
    "Guid",        "TimeStamp", "FMTBcd",    "LargeUInt",  "DateTimeUs", "TimeUs",
};

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

}  // namespace

std::string FieldTypeName(int fieldType) {
  if (fieldType < 0 || fieldType >= FieldTypeCount) return "Unknown";
  return FieldTypeNames[fieldType];
}

namespace {

// No byte of the text has its high bit set; eight bytes at a time.
bool AllAscii(std::string_view text) {
  size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + i, sizeof word);
    if (word & 0x8080808080808080u) return false;
  }
  for (; i < text.size(); ++i)
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  return true;
}

}  // namespace

bool SameFieldName(std::string_view a, std::string_view b) {
  // Names of different lengths in ASCII alone never match: the usual case of a lookup.
  if (a.size() != b.size() && AllAscii(a) && AllAscii(b)) return false;
  bool ascii = true;
  if (a.size() == b.size()) {
    size_t i = 0;
    for (; i < a.size(); ++i) {
      if (static_cast<unsigned char>(a[i]) >= 0x80 || static_cast<unsigned char>(b[i]) >= 0x80) {
        ascii = false;
        break;
      }
      if (AsciiLower(a[i]) != AsciiLower(b[i])) break;
    }
    if (i == a.size()) return true;
  } else {
    for (char c : a) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    for (char c : b) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  }
  // Names in the code page's own letters need its case rules.
  return !ascii && LocaleCompareAnsi(a, b, true) == 0;
}

bool IsAsciiName(std::string_view name) noexcept {
  return AllAscii(name);
}

TSQLTimeStamp DateTimeToSQLTimeStamp(double value) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  TSQLTimeStamp ts;
  ts.Year = static_cast<int16_t>(y);
  ts.Month = static_cast<uint16_t>(mo);
  ts.Day = static_cast<uint16_t>(d);
  ts.Hour = static_cast<uint16_t>(h);
  ts.Minute = static_cast<uint16_t>(mi);
  ts.Second = static_cast<uint16_t>(s);
  ts.Fractions = static_cast<uint32_t>(ms);
  return ts;
}

double SQLTimeStampToDateTime(const TSQLTimeStamp& value) {
  if (value.Year == 0 && value.Month == 0 && value.Day == 0) {
    TDateTime t;
    if (!TryEncodeTime(value.Hour, value.Minute, value.Second, static_cast<int>(value.Fractions), t))
      throw EConvertError("Invalid argument to time encode");
    return t;
  }
  return EncodeDateTime(value.Year, value.Month, value.Day, value.Hour, value.Minute, value.Second,
                        static_cast<int>(value.Fractions));
}
