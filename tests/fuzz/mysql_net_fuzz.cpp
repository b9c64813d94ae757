// The packet layer's framer (plain and compressed) and the byte reader on its packets against
// hostile bytes.
//
// Input: byte 0 = mode (bit 0 compression; bits 1-3 the read size: 0 = whole, n = 2^(n-1) bytes
// per read), bytes 1-8 = a program of reader calls, the rest = what the peer sends. A malformed
// stream may raise EMySqlException only (and ReadPacketBytes its documented ArgumentException);
// anything else, an assertion or a sanitizer report is a bug.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mysql/MySqlNet.h"
#include "mysql/MySqlPackets.h"
#include "mysql/MySqlTypes.h"
#include "tests/support/MemoryVio.h"

namespace {

void RunReaders(const TMySqlNet& net, const uint8_t* program) {
  TMySqlByteReader r(net.Packet());
  for (int i = 0; i < 8; ++i) {
    switch (program[i] % 10) {
      case 0:
        r.ReadByte();
        break;
      case 1:
        r.ReadUInt16();
        break;
      case 2:
        r.ReadUInt24();
        break;
      case 3:
        r.ReadUInt32();
        break;
      case 4:
        r.ReadUInt64();
        break;
      case 5: {
        const auto n = r.ReadLengthCoded();
        if (n && *n <= r.Remaining()) r.Skip(static_cast<size_t>(*n));
        break;
      }
      case 6: {
        std::string text = r.ReadStringZ();
        int major, minor, release;
        ParseMySQLVersion(text, major, minor, release);
        break;
      }
      case 7:
        r.ReadBytes(program[i] / 10 % 17);
        break;
      case 8:
        r.Skip(program[i] / 10 % 5);
        break;
      default: {
        int number;
        std::string message;
        MySqlParseErrorPacket(net.Data(), static_cast<size_t>(net.Length()), number, message);
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 9) return 0;
  const uint8_t mode = data[0];
  const uint8_t* program = data + 1;
  const int shift = mode >> 1 & 7;
  std::vector<uint8_t> stream(data + 9, data + size);
  TMySqlNet net(std::make_unique<TMemoryVio>(std::move(stream), shift ? size_t{1} << (shift - 1) : 0));
  net.SetCompress(mode & 1);
  net.SetMaxPacketSize(1 << 20);
  for (int round = 0; round < 8 && !net.Broken(); ++round) {
    try {
      switch ((program[round] >> 4) % 3) {
        case 0:
          net.ReadPacket();
          RunReaders(net, program);
          break;
        case 1:
          try {
            net.ReadPacketBytes();
          } catch (const ArgumentException&) {
            // a packet of 0xFFFFFF bytes, consumed and refused as documented
          }
          break;
        default: {
          TBytes first;
          net.SkipPacket(first, 1 + program[round] % 64, program[round] & 1);
          break;
        }
      }
    } catch (const EMySqlException&) {
      // the peer's fault, reported as it should be
    }
  }
  return 0;
}
