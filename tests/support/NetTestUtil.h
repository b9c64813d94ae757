// Small helpers of the packet-layer tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "mysql/MySqlNet.h"

// The error number an action raises as EMySqlException (its message in *message), 0 when it
// raises nothing. Any other exception fails the test.
inline int MySqlErrorOf(const std::function<void()>& action, std::string* message = nullptr) {
  try {
    action();
  } catch (const EMySqlException& e) {
    if (message) *message = e.Message();
    return e.ErrorCode;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "unexpected exception: " << e.what();
    return -1;
  }
  return 0;
}

// n bytes that compress somewhat (noise = false) or not at all (noise = true).
inline std::vector<uint8_t> TestPattern(size_t n, bool noise = false) {
  std::vector<uint8_t> b(n);
  uint32_t x = 2463534242u;
  for (size_t i = 0; i < n; ++i) {
    if (noise) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      b[i] = static_cast<uint8_t>(x);
    } else {
      b[i] = static_cast<uint8_t>(i * 7 + i / 4099);
    }
  }
  return b;
}
