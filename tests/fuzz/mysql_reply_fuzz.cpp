// OK, EOF, error, query and login replies. The first byte picks the parser and its options.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "mysql/MySqlNet.h"
#include "mysql/MySqlPackets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  const std::span<const uint8_t> packet(data + 1, size - 1);
  const bool p41 = mode & 0x10, transactions = mode & 0x20, tracked = mode & 0x40;
  try {
    switch (mode & 0x0F) {
      case 0:
        ParseMySqlOkPacket(packet, p41, transactions, tracked);
        break;
      case 1:
        if (IsMySqlEofPacket(packet)) ParseMySqlEofPacket(packet);
        break;
      case 2:
        ParseMySqlQueryReply(packet, p41, transactions, tracked);
        break;
      case 3:
        ParseMySqlLoginReply(packet, (mode & 0x40) ? CLIENT_PLUGIN_AUTH : 0,
                             p41 ? CLIENT_SECURE_CONNECTION : 0);
        break;
      case 4: {
        int number = 0;
        std::string message;
        MySqlParseErrorPacket(packet.data(), packet.size(), number, message);
        break;
      }
      default:
        break;
    }
  } catch (const EMySqlException&) {
  }
  return 0;
}
