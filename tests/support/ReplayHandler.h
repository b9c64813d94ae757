// A user transport that plays a server from a list of packet payloads, for fuzzing whole
// exchanges: each read hands out at most the rest of one packet, numbered after the packet the
// client sent last, so that the client never reads ahead of what it has asked; what the client
// writes is kept, and split into its packets. Reads past the last packet return 0 (the peer went
// away). Header-only so the fuzz targets can use it without the test-support library.
//
// The fuzz targets' inputs hold the payloads as records: two bytes of length (low byte first),
// then that many bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mysql/MySqlVio.h"

class TReplayHandler : public TMyIOHandler {
 public:
  using TBytes = std::vector<uint8_t>;

  // The records of data[0, size) as payloads; a record cut short by the end is taken as it is.
  static std::vector<TBytes> SplitRecords(const uint8_t* data, size_t size) {
    std::vector<TBytes> out;
    size_t pos = 0;
    while (pos + 2 <= size) {
      const size_t length = data[pos] | size_t{data[pos + 1]} << 8;
      pos += 2;
      const size_t n = std::min(length, size - pos);
      out.emplace_back(data + pos, data + pos + n);
      pos += n;
    }
    return out;
  }
  // One record of the payload, for building inputs.
  static void AddRecord(TBytes& out, const TBytes& payload) {
    out.push_back(static_cast<uint8_t>(payload.size()));
    out.push_back(static_cast<uint8_t>(payload.size() >> 8));
    out.insert(out.end(), payload.begin(), payload.end());
  }

  THandle Connect(const std::string&, int) override {
    ++Connects;
    FNextSeq = 0;  // a new connection starts with the greeting
    return this;
  }
  void Disconnect(THandle) override { ++Disconnects; }
  int Read(THandle, uint8_t* buffer, int offset, int count) override {
    if (FSent == FWire.size()) {
      if (Next == Packets.size() || count <= 0) return 0;
      const TBytes& payload = Packets[Next++];
      FWire.assign({static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8),
                    static_cast<uint8_t>(payload.size() >> 16), FNextSeq++});
      FWire.insert(FWire.end(), payload.begin(), payload.end());
      FSent = 0;
    }
    const size_t n = std::min(static_cast<size_t>(count), FWire.size() - FSent);
    std::memcpy(buffer + offset, FWire.data() + FSent, n);
    FSent += n;
    return static_cast<int>(n);
  }
  int Write(THandle, const uint8_t* buffer, int offset, int count) override {
    Output.insert(Output.end(), buffer + offset, buffer + offset + count);
    while (Output.size() - FParsed >= 4) {
      const size_t length =
          Output[FParsed] | size_t{Output[FParsed + 1]} << 8 | size_t{Output[FParsed + 2]} << 16;
      if (Output.size() - FParsed - 4 < length) break;
      FNextSeq = static_cast<uint8_t>(Output[FParsed + 3] + 1);
      ClientPackets.emplace_back(Output.begin() + static_cast<std::ptrdiff_t>(FParsed + 4),
                                 Output.begin() + static_cast<std::ptrdiff_t>(FParsed + 4 + length));
      FParsed += 4 + length;
    }
    return count;
  }
  int GetTimeout(THandle) override { return Timeout; }
  void SetTimeout(THandle, int seconds) override { Timeout = seconds; }

  std::vector<TBytes> Packets;  // the server's payloads, in the order they are read
  size_t Next = 0;              // the next of them to hand out
  TBytes Output;                // every byte the client wrote
  std::vector<TBytes> ClientPackets;
  int Connects = 0, Disconnects = 0, Timeout = 0;

 private:
  TBytes FWire;  // the packet being handed out, with its header
  size_t FSent = 0;
  size_t FParsed = 0;
  uint8_t FNextSeq = 0;
};
