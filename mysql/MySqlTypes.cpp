#include "mysql/MySqlTypes.h"

#include "mysql/MySqlProtocol.h"
#include "platform/runtime/Exceptions.h"

TMySqlBinds::TMySqlBinds(int count) : Binds(count > 0 ? static_cast<size_t>(count) : 0) {}

TMySqlBind& TMySqlBinds::operator[](int index) {
  DA_ASSERT(index >= 0 && index < Count());
  return Binds[static_cast<size_t>(index)];
}

const TMySqlBind& TMySqlBinds::operator[](int index) const {
  DA_ASSERT(index >= 0 && index < Count());
  return Binds[static_cast<size_t>(index)];
}

void TMySqlFieldInfo::Init(std::string name, std::string orgName, std::string table, std::string orgTable,
                           std::string db, std::string catalog, uint32_t length, uint32_t maxLength,
                           uint32_t flags, uint32_t decimals, uint32_t charsetNr, uint8_t type) {
  Name = std::move(name);
  OrgName = std::move(orgName);
  Table = std::move(table);
  OrgTable = std::move(orgTable);
  Database = std::move(db);
  Catalog = std::move(catalog);
  SetAttributes(length, maxLength, flags, decimals, charsetNr, type);
}

void TMySqlFieldInfo::SetAttributes(uint32_t length, uint32_t maxLength, uint32_t flags, uint32_t decimals,
                                    uint32_t charsetNr, uint8_t type) {
  Length = length;
  MaxLength = maxLength;
  Flags = flags;
  Decimals = decimals;
  CharsetNr = charsetNr;
  Type = type;
  const bool numeric = (type <= 9 && type != 7) || (type == 7 && (length == 14 || length == 8)) || type == 13;
  if (numeric) Flags |= mffNum;
}

TMySqlTime TMySqlTime::FromDateTime(TDateTime value) {
  int year, month, day, hour, minute, second, msec;
  DecodeDateTime(value, year, month, day, hour, minute, second, msec);
  TMySqlTime t;
  t.Year = static_cast<uint32_t>(year);
  t.Month = static_cast<uint32_t>(month);
  t.Day = static_cast<uint32_t>(day);
  t.Hour = static_cast<uint32_t>(hour);
  t.Minute = static_cast<uint32_t>(minute);
  t.Second = static_cast<uint32_t>(second);
  t.SecondPart = static_cast<uint32_t>(msec) * 1000;
  t.TimeType = 1;
  return t;
}

namespace {

// Digits from pos up to the first non-digit; saturates instead of overflowing.
int Digits(std::string_view text, size_t pos) {
  int value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    if (value > 99999999) return value;
    value = value * 10 + (text[pos] - '0');
  }
  return value;
}

}  // namespace

void ParseMySQLVersion(std::string_view text, int& major, int& minor, int& release) {
  major = Digits(text, 0);
  minor = 0;
  release = 0;
  size_t dot = text.find('.');
  if (dot == std::string_view::npos) return;
  minor = Digits(text, dot + 1);
  dot = text.find('.', dot + 1);
  if (dot == std::string_view::npos) return;
  release = Digits(text, dot + 1);
}
