// Small records shared by the MySQL protocol units: column bindings, field descriptions, the
// date-time record and the server-version parser.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/DateTimeUtils.h"

// One bound column of a row or statement. Position is an offset into the row buffer or an
// address, as the user of the binding decides (wide enough for an address on a 64-bit build).
class TMySqlBind {
 public:
  uint8_t IsNull = 0;
  uintptr_t Position = 0;
  uint32_t Length = 0;
  uint8_t Type = 0;  // the protocol's column type code
};

class TMySqlBinds {
 public:
  explicit TMySqlBinds(int count);

  int Count() const noexcept { return static_cast<int>(Binds.size()); }
  // Index outside 0..Count-1 fails an assertion.
  TMySqlBind& operator[](int index);
  const TMySqlBind& operator[](int index) const;

  std::vector<TMySqlBind> Binds;
};

// A result column as the field packets describe it.
class TMySqlFieldInfo {
 public:
  std::string Name, OrgName, Table, OrgTable, Database, Catalog;
  uint32_t Length = 0, MaxLength = 0, Flags = 0, Decimals = 0, CharsetNr = 0;
  uint8_t Type = 0;

  // Stores the values, then adds mffNum for numeric types: codes 0-9 except TIMESTAMP (7),
  // TIMESTAMP when its length is 14 or 8, and YEAR (13).
  void Init(std::string name, std::string orgName, std::string table, std::string orgTable, std::string db,
            std::string catalog, uint32_t length, uint32_t maxLength, uint32_t flags, uint32_t decimals,
            uint32_t charsetNr, uint8_t type);
  // The values besides the names, with mffNum as Init adds it.
  void SetAttributes(uint32_t length, uint32_t maxLength, uint32_t flags, uint32_t decimals,
                     uint32_t charsetNr, uint8_t type);
};

// The client library's date-time record.
class TMySqlTime {
 public:
  uint32_t Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
  uint32_t SecondPart = 0;  // microseconds
  uint8_t Neg = 0;
  int32_t TimeType = 0;  // 1 = date and time

  // Decodes a platform date-time; the fraction is its milliseconds x 1000. A value outside the
  // date-time range raises EConvertError.
  static TMySqlTime FromDateTime(TDateTime value);
};

// "4.1.3-beta-nt" gives 4, 1, 3: the major number runs up to the first "."; minor and release
// are the digits after each following "." up to the first non-digit. Missing or non-numeric
// parts give 0; a peer's text can never make this fail.
void ParseMySQLVersion(std::string_view text, int& major, int& minor, int& release);
