#include "mysql/MySqlAuth.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Hex(std::span<const uint8_t> bytes) {
  std::string s;
  char buf[3];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    s += buf;
  }
  return s;
}

TMySqlScramble SampleScramble() {
  TMySqlScramble s{};
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint8_t>(0x21 + i * 3);
  return s;
}

}  // namespace

// The logins against the test server prove both scrambles; these pin what they cannot.
TEST(TSHA1ManagedTest, RestartsAfterFinal) {
  TSHA1Managed sha;
  sha.Update(std::string_view("a"));
  sha.Update(std::string_view("bc"));
  EXPECT_EQ(Hex(sha.Final()), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(Hex(sha.Final()), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");  // empty input
}

// Blanks and tabs in a password do not count, as in the server's old password function.
TEST(MySqlScramble323Test, HashSkipsBlanks) {
  for (std::string_view p : {"password", "pass word", "pass\tword"}) {
    SCOPED_TRACE(p);
    const auto h = MySqlHashPassword323({reinterpret_cast<const uint8_t*>(p.data()), p.size()});
    EXPECT_EQ(std::vector<uint32_t>({h[0], h[1]}), std::vector<uint32_t>({0x5d2e1939, 0x3cc5ef67}));
  }
  const TMySqlScramble s = SampleScramble();
  EXPECT_EQ(MySqlScramble323("", std::span<const uint8_t, 8>(s.data(), 8)), std::string(1, '\0'));
}

TEST(MySqlAnswerChallenge410Test, AnswerUndoesToTheStrippedPasswordHash) {
  std::array<uint8_t, 24> challenge{};
  for (size_t i = 0; i < challenge.size(); ++i) challenge[i] = static_cast<uint8_t>(i * 7 + 1);
  TMySqlScramble scramble{};
  const TSHA1Digest answer = MySqlAnswerChallenge410("pa ss", challenge, scramble);
  const TSHA1Digest a = TSHA1Managed::ComputeHash(std::string_view("pass"));
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(answer[i] ^ scramble[i], a[i]);
}

TEST(MySqlNegotiateClientFlagsTest, KeepsOnlyWhatTheServerOffers) {
  struct Case {
    const char* name;
    uint32_t server, preset, given, protocol, expect;
  };
  const uint32_t base = MYSQL_DEFAULT_CLIENT_FLAGS | CLIENT_CONNECT_WITH_DB;
  const uint32_t srv41 = 0xF7FF;  // everything of the low word
  const Case cases[] = {
      {"4.0 server", 0x202C, 0, 0, 0, base & ~uint32_t(CLIENT_PROTOCOL_41)},
      {"4.1 server, compression asked", srv41, CLIENT_COMPRESS, 0, 0, base | CLIENT_COMPRESS},
      {"compression not offered", srv41 & ~uint32_t(CLIENT_COMPRESS), 0, CLIENT_COMPRESS, 0, base},
      {"preset TLS over TCP dropped", srv41 | CLIENT_SSL, CLIENT_SSL, 0, 1, base},
      {"TLS protocol", srv41 | CLIENT_SSL, 0, 0, 5, base | CLIENT_SSL},
      {"TLS not offered", srv41 & ~uint32_t(CLIENT_SSL), 0, 0, 5, base},
      {"plugin names asked for", srv41 | CLIENT_PLUGIN_AUTH, 0, 0, 0, base | CLIENT_PLUGIN_AUTH},
      {"no plugin names without 4.1", (srv41 & ~uint32_t(CLIENT_PROTOCOL_41)) | CLIENT_PLUGIN_AUTH, 0,
       CLIENT_PLUGIN_AUTH, 0, base & ~uint32_t(CLIENT_PROTOCOL_41)},
      {"session tracking asked for", srv41 | CLIENT_SESSION_TRACK, 0, 0, 0, base | CLIENT_SESSION_TRACK},
      {"no session tracking without 4.1", (srv41 & ~uint32_t(CLIENT_PROTOCOL_41)) | CLIENT_SESSION_TRACK, 0,
       0, 0, base & ~uint32_t(CLIENT_PROTOCOL_41)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MySqlNegotiateClientFlags(c.server, c.preset, c.given, c.protocol), c.expect);
  }
}
