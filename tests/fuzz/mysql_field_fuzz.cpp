// Field description packets of every layout. The first byte picks the layout.
#include <cstddef>
#include <cstdint>
#include <span>

#include "mysql/MySqlPackets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  try {
    ParseMySqlFieldPacket(std::span<const uint8_t>(data + 1, size - 1), mode & 1, mode & 2, mode & 4);
  } catch (const EMySqlException&) {
  }
  return 0;
}
