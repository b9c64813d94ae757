// Binary rows of prepared statements decoded down to their values, and prepare replies.
// Byte 0: bit 7 set, the rest is a prepare reply; else its low 6 bits are the column count, the
// next count bytes choose each column's type, and the rest is the row.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mysql/MyClasses.h"
#include "mysql/MySqlStmt.h"

namespace {

constexpr uint8_t kTypes[] = {mftTiny,       mftShort,     mftLong, mftFloat,    mftDouble,    mftLongLong,
                              mftInt24,      mftDate,      mftTime, mftDateTime, mftTimestamp, mftYear,
                              mftNewDecimal, mftVarString, mftBlob, mftBit};

bool IsTemporal(uint8_t t) {
  return t == mftDate || t == mftTime || t == mftDateTime || t == mftTimestamp;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::span<const uint8_t> rest(data + 1, size - 1);
  if (data[0] & 0x80) {
    try {
      const TMySqlPrepareOk ok = ParseMySqlPrepareOk(rest);
      if (ok.FieldCount > MYSQL_MAX_FIELD_COUNT) __builtin_trap();
    } catch (const EMySqlException&) {
    }
    return 0;
  }
  const size_t count = data[0] & 0x3F;
  if (rest.size() < count) return 0;
  std::vector<TMySqlFieldInfo> fields(count);
  for (size_t i = 0; i < count; ++i) fields[i].Type = kTypes[rest[i] % sizeof kTypes];
  const std::span<const uint8_t> row = rest.subspan(count);
  TMySqlBinds binds(static_cast<int>(count));
  try {
    DecodeMySqlBinaryRow(row, binds.Binds, fields);
  } catch (const EMySqlException&) {
    return 0;
  }
  for (const TMySqlBind& b : binds.Binds) {
    if (b.IsNull) continue;
    if (size_t(b.Position) + b.Length > row.size()) __builtin_trap();  // every value lies inside the row
    if (!IsTemporal(b.Type)) continue;
    try {
      const TMySqlTime t = DecodeMySqlBinaryTemporal(row.subspan(b.Position, b.Length), b.Type);
      if (t.Month > 255 || t.Minute > 255) __builtin_trap();  // one byte each on the wire
    } catch (const EMySqlException&) {
    }
  }
  return 0;
}
