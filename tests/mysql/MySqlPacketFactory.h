// Message factories that keep the test bytes of server packets readable, and the fake server's
// side of a login.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "support/FakeMySqlServer.h"

namespace mysql_test {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t SampleScramble[20] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j',
                                               'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't'};
inline constexpr uint32_t Caps40 = 0x202C, Caps41 = 0xA22D, MariaDbCaps = 0x81BFF7FE;

inline void Put(Bytes& b, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutText(Bytes& b, std::string_view s) {
  b.insert(b.end(), s.begin(), s.end());
}
inline void PutZ(Bytes& b, std::string_view s) {
  PutText(b, s), b.push_back(0);
}
inline void PutLenc(Bytes& b, uint64_t v) {
  const int size = v < 251 ? 1 : v < 0x10000 ? 2 : v < 0x1000000 ? 3 : 8;
  if (size > 1) b.push_back(size == 2 ? 252 : size == 3 ? 253 : 254);
  Put(b, v, size);
}
inline void PutLencText(Bytes& b, std::string_view s) {
  PutLenc(b, s.size()), PutText(b, s);
}
inline void PutScramble(Bytes& b, int from, int to) {
  b.insert(b.end(), SampleScramble + from, SampleScramble + to);
}

// Protocol 10 up to the low capability word: what a 3.23 server sends.
inline Bytes GreetingHead(std::string_view version, uint16_t caps) {
  Bytes b{10};
  PutZ(b, version);
  Put(b, 0x04030201, 4);  // thread id
  PutScramble(b, 0, 8);
  b.push_back(0);
  Put(b, caps, 2);
  return b;
}
inline Bytes Greeting323() {
  return GreetingHead("3.23.58", 0x202C);
}
// 4.0 adds the character set, the status and 13 reserved bytes; 4.1 the scramble's 12 more bytes.
inline Bytes Greeting40(std::string_view version = "4.0.27", uint16_t caps = Caps40) {
  Bytes b = GreetingHead(version, caps);
  b.push_back(8);
  Put(b, 2, 2);
  b.insert(b.end(), 13, 0);
  return b;
}
inline Bytes Greeting41NoTerminator() {
  Bytes b = Greeting40("4.1.0-alpha", Caps41);
  PutScramble(b, 8, 20);
  return b;
}
inline Bytes Greeting41() {
  Bytes b = Greeting40("4.1.2-alpha", Caps41);
  PutScramble(b, 8, 20);
  b.push_back(0);
  return b;
}
inline Bytes GreetingMariaDb() {
  Bytes b = GreetingHead("5.5.5-10.11.6-MariaDB", MariaDbCaps & 0xFFFF);
  b.push_back(45);
  Put(b, 2, 2);
  Put(b, MariaDbCaps >> 16, 2);
  b.push_back(21);
  b.insert(b.end(), 6, 0);
  Put(b, 0x1D, 4);  // the server's extended capabilities
  PutScramble(b, 8, 20);
  b.push_back(0);
  PutZ(b, "mysql_native_password");
  return b;
}

inline Bytes OkPacket41(uint64_t affected, uint64_t insertId, uint16_t status, uint16_t warnings = 0,
                        std::string_view info = {}) {
  Bytes b{0};
  PutLenc(b, affected);
  PutLenc(b, insertId);
  Put(b, status, 2);
  Put(b, warnings, 2);
  if (!info.empty()) PutLencText(b, info);  // the server sends the message length-coded
  return b;
}

inline Bytes EofPacket(uint16_t warnings, uint16_t status) {
  Bytes b{0xFE};
  Put(b, warnings, 2);
  Put(b, status, 2);
  return b;
}

inline Bytes ErrorPacket41(uint16_t number, std::string_view state, std::string_view text) {
  Bytes b{0xFF};
  Put(b, number, 2);
  b.push_back('#');
  PutText(b, state);
  PutText(b, text);
  return b;
}

inline Bytes AuthSwitch(std::string_view plugin, const Bytes& data) {
  Bytes b{0xFE};
  PutZ(b, plugin);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

inline Bytes FieldPacket41(std::string_view db, std::string_view table, std::string_view orgTable,
                           std::string_view name, std::string_view orgName, uint16_t charset, uint32_t length,
                           uint8_t type, uint16_t flags, uint8_t decimals) {
  Bytes b;
  for (std::string_view s : {std::string_view("def"), db, table, orgTable, name, orgName}) PutLencText(b, s);
  b.push_back(0x0C);
  Put(b, charset, 2);
  Put(b, length, 4);
  b.push_back(type);
  Put(b, flags, 2);
  b.push_back(decimals);
  Put(b, 0, 2);
  return b;
}

// A text row of the given values; nullptr stands for NULL.
inline Bytes TextRow(std::initializer_list<const char*> values) {
  Bytes b;
  for (const char* v : values) v ? PutLencText(b, v) : b.push_back(0xFB);
  return b;
}

// The fake server's side of a MariaDB login, ready for commands.
inline TFakeMySqlServer& LoggedIn(TFakeMySqlServer& server) {
  server.SetStepTimeoutMs(3000);
  return server.SendPacket(0, GreetingMariaDb()).ReadPacket(1).SendPacket(2, OkPacket41(0, 0, 2));
}

}  // namespace mysql_test
