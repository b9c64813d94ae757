// An in-memory transport for packet-layer tests and fuzzing: reads come from Input (at most
// MaxRead bytes per call, so reads split anywhere), writes collect in Output. Header-only so the
// fuzz targets can use it without the test-support library.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "mysql/MySqlVio.h"

class TMemoryVio : public TMySqlVio {
 public:
  explicit TMemoryVio(std::vector<uint8_t> input = {}, size_t maxRead = 0)
      : Input(std::move(input)), MaxRead(maxRead) {
    TMySqlVio::Connect();
  }

  int GetTimeout() override { return Timeout; }
  void SetTimeout(int seconds) override { Timeout = seconds; }
  int Read(uint8_t* buffer, int offset, int count) override {
    ++ReadCalls;
    size_t n = std::min(static_cast<size_t>(count), Input.size() - InputPos);
    if (MaxRead > 0) n = std::min(n, MaxRead);
    if (n > 0) std::memcpy(buffer + offset, Input.data() + InputPos, n);
    InputPos += n;
    FErrorText = n == 0 ? "end of test input" : "";
    return static_cast<int>(n);
  }
  int Write(const uint8_t* buffer, int offset, int count) override {
    if (WriteLimit >= 0 && Output.size() + static_cast<size_t>(count) > static_cast<size_t>(WriteLimit)) {
      size_t room =
          static_cast<size_t>(WriteLimit) - std::min(Output.size(), static_cast<size_t>(WriteLimit));
      Output.insert(Output.end(), buffer + offset, buffer + offset + room);
      FErrorText = room == 0 ? "peer closed" : "";
      return static_cast<int>(room);
    }
    Output.insert(Output.end(), buffer + offset, buffer + offset + count);
    return count;
  }
  void Close() override { Closed = true; }

  std::vector<uint8_t> Input;
  size_t InputPos = 0;
  size_t MaxRead;
  long WriteLimit = -1;  // bytes accepted before writes return 0 (a peer that went away)
  std::vector<uint8_t> Output;
  int ReadCalls = 0;
  int Timeout = 0;
  bool Closed = false;
};
