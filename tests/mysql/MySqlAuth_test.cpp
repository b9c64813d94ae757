#include "mysql/MySqlAuth.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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

TEST(TSHA1ManagedTest, KnownDigestsAndRestartAfterFinal) {
  EXPECT_EQ(Hex(TSHA1Managed::ComputeHash(std::string_view("abc"))), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  TSHA1Managed sha;
  sha.Update(std::string_view("a"));
  sha.Update(std::string_view("bc"));
  EXPECT_EQ(Hex(sha.Final()), "A9993E364706816ABA3E25717850C26C9CD0D89D");
  EXPECT_EQ(Hex(sha.Final()), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");  // empty input
}

// The server keeps SHA1(SHA1(password)) and checks the token by undoing the XOR.
TEST(MySqlScramble41Test, ServerCheckRecoversTheStoredHash) {
  const TMySqlScramble scramble = SampleScramble();
  const TSHA1Digest token = MySqlScramble41("password", scramble);
  const std::string stored = "2470C0C06DEE42FD1618BB99005ADCA2EC9D1E19";  // the server's hash of "password"
  TSHA1Managed sha;
  sha.Update(scramble);
  TSHA1Digest stage2{};
  for (size_t i = 0; i < 20; ++i) stage2[i] = static_cast<uint8_t>(std::stoi(stored.substr(i * 2, 2), nullptr, 16));
  sha.Update(stage2);
  TSHA1Digest stage1 = sha.Final();
  for (size_t i = 0; i < 20; ++i) stage1[i] ^= token[i];
  EXPECT_EQ(Hex(TSHA1Managed::ComputeHash(stage1)), stored);
  EXPECT_NE(Hex(MySqlScramble41("Password", scramble)), Hex(token));
}

TEST(MySqlScramble323Test, HashMatchesTheServersOldPasswordFunction) {
  struct Case { const char* password; const char* hash; };
  for (const Case& c : {Case{"password", "5d2e19393cc5ef67"}, Case{"pass word", "5d2e19393cc5ef67"},
                        Case{"pass\tword", "5d2e19393cc5ef67"}}) {
    SCOPED_TRACE(c.password);
    const std::string_view p(c.password);
    const auto h = MySqlHashPassword323({reinterpret_cast<const uint8_t*>(p.data()), p.size()});
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", h[0], h[1]);
    EXPECT_STREQ(text, c.hash);
  }
}

TEST(MySqlScramble323Test, EightPrintableCharactersAndTerminator) {
  const TMySqlScramble s = SampleScramble();
  const std::span<const uint8_t, 8> message(s.data(), 8);
  const std::string a = MySqlScramble323("secret", message);
  ASSERT_EQ(a.size(), 9u);
  EXPECT_EQ(a[8], '\0');
  for (int i = 0; i < 8; ++i) EXPECT_GE(static_cast<unsigned char>(a[i]), 64 - 31);
  EXPECT_EQ(a, MySqlScramble323("secret", message));
  EXPECT_NE(a, MySqlScramble323("secreT", message));
  EXPECT_EQ(MySqlScramble323("", message), std::string(1, '\0'));
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
  struct Case { const char* name; uint32_t server, preset, given, protocol, expect; };
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MySqlNegotiateClientFlags(c.server, c.preset, c.given, c.protocol), c.expect);
  }
}
