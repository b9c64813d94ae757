// Text and binary rows. The first byte gives the column count and the row kind; for binary rows
// the next count bytes are the column types.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "mysql/MySqlPackets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t count = data[0] & 0x3F;
  const bool binary = data[0] & 0x80;
  std::span<const uint8_t> rest(data + 1, size - 1);
  TMySqlBinds binds(static_cast<int>(count));
  try {
    if (!binary) {
      DecodeMySqlTextRow(rest, binds.Binds);
    } else {
      if (rest.size() < count) return 0;
      std::vector<TMySqlFieldInfo> fields(count);
      for (size_t i = 0; i < count; ++i) fields[i].Type = rest[i];
      DecodeMySqlBinaryRow(rest.subspan(count), binds.Binds, fields);
    }
    for (const TMySqlBind& b : binds.Binds) {
      // Every bound value lies inside the row.
      if (!b.IsNull && size_t(b.Position) + b.Length > rest.size()) __builtin_trap();
    }
  } catch (const EMySqlException&) {
  }
  return 0;
}
