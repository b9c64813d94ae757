// The server greeting and the login packet built from it.
#include <cstddef>
#include <cstdint>
#include <span>

#include "mysql/MySqlPackets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const TMySqlGreeting g = ParseMySqlGreeting(std::span<const uint8_t>(data, size));
    TMySqlLoginRequest q;
    q.ServerCapabilities = g.ServerCapabilities;
    q.ClientFlags = MySqlNegotiateClientFlags(g.ServerCapabilities, 0, CLIENT_COMPRESS, 0);
    q.User = "u";
    q.Password = "p";
    q.Database = "d";
    q.Scramble = g.Scramble;
    q.HasScramble20 = g.HasScramble20;
    BuildMySqlLoginPacket(q);
  } catch (const EMySqlException&) {
  }
  return 0;
}
