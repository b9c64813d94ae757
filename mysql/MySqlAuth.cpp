#include "mysql/MySqlAuth.h"

#include <cmath>

namespace {

std::span<const uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The pre-4.1 random generator.
class TRandom323 {
 public:
  TRandom323(uint32_t seed1, uint32_t seed2) : FSeed1(seed1 % kMax), FSeed2(seed2 % kMax) {}
  double Next() {
    FSeed1 = (FSeed1 * 3 + FSeed2) % kMax;
    FSeed2 = (FSeed1 + FSeed2 + 33) % kMax;
    return static_cast<double>(FSeed1) / static_cast<double>(kMax);
  }

 private:
  static constexpr uint64_t kMax = 0x3FFFFFFF;
  uint64_t FSeed1, FSeed2;
};

}  // namespace

TSHA1Digest MySqlScramble41(std::string_view password, const TMySqlScramble& scramble) {
  TSHA1Managed sha;
  sha.Update(password);
  const TSHA1Digest stage1 = sha.Final();
  sha.Update(stage1);
  const TSHA1Digest stage2 = sha.Final();
  sha.Update(scramble);
  sha.Update(stage2);
  TSHA1Digest token = sha.Final();
  for (size_t i = 0; i < token.size(); ++i) token[i] ^= stage1[i];
  return token;
}

std::array<uint32_t, 2> MySqlHashPassword323(std::span<const uint8_t> text) {
  // 32-bit arithmetic gives the same low 31 bits as the original's wider words.
  uint32_t nr = 1345345333u, add = 7, nr2 = 305419889u;
  for (uint8_t c : text) {
    if (c == ' ' || c == '\t') continue;
    nr ^= (((nr & 63) + add) * c) + (nr << 8);
    nr2 += (nr2 << 8) ^ nr;
    add += c;
  }
  return {nr & 0x7FFFFFFFu, nr2 & 0x7FFFFFFFu};
}

std::string MySqlScramble323(std::string_view password, std::span<const uint8_t, 8> message) {
  std::string out;
  if (!password.empty()) {
    const auto hashPass = MySqlHashPassword323(Bytes(password));
    const auto hashMessage = MySqlHashPassword323(message);
    TRandom323 rnd(hashPass[0] ^ hashMessage[0], hashPass[1] ^ hashMessage[1]);
    for (size_t i = 0; i < message.size(); ++i)
      out.push_back(static_cast<char>(std::floor(rnd.Next() * 31) + 64));
    const char extra = static_cast<char>(std::floor(rnd.Next() * 31));
    for (char& c : out) c ^= extra;
  }
  out.push_back('\0');
  return out;
}

TSHA1Digest MySqlAnswerChallenge410(std::string_view password, std::span<const uint8_t, 24> challenge,
                                    TMySqlScramble& scramble) {
  std::string stripped;
  for (char c : password)
    if (c != ' ' && c != '\t') stripped.push_back(c);
  TSHA1Managed sha;
  sha.Update(stripped);
  const TSHA1Digest a = sha.Final();
  sha.Update(challenge.first<4>());
  sha.Update(a);
  const TSHA1Digest b = sha.Final();
  TSHA1Digest answer{};
  for (size_t i = 0; i < scramble.size(); ++i) {
    scramble[i] = challenge[4 + i] ^ b[i];
    answer[i] = scramble[i] ^ a[i];
  }
  return answer;
}

uint32_t MySqlNegotiateClientFlags(uint32_t serverCaps, uint32_t presetFlags, uint32_t givenFlags,
                                   uint32_t protocol) {
  const bool tls = protocol == MYSQL_PROTOCOL_SSL;
  uint32_t flags = presetFlags | givenFlags | MYSQL_DEFAULT_CLIENT_FLAGS | CLIENT_CONNECT_WITH_DB;
  if (tls) flags |= CLIENT_SSL;
  if (flags & CLIENT_PROTOCOL_41) flags |= CLIENT_SESSION_TRACK;
  for (uint32_t bit : {uint32_t(CLIENT_COMPRESS), uint32_t(CLIENT_PROTOCOL_41), uint32_t(CLIENT_SSL),
                       uint32_t(CLIENT_SESSION_TRACK)})
    if (!(serverCaps & bit)) flags &= ~bit;
  // The session-state block is laid out for the 4.1 protocol only.
  if (!(flags & CLIENT_PROTOCOL_41)) flags &= ~uint32_t(CLIENT_SESSION_TRACK);
  // A preset CLIENT_SSL over a plain transport would announce a TLS switch nobody can make.
  if (!tls) flags &= ~uint32_t(CLIENT_SSL);
  if ((serverCaps & CLIENT_PLUGIN_AUTH) && (flags & CLIENT_PROTOCOL_41) &&
      (serverCaps & CLIENT_SECURE_CONNECTION))
    flags |= CLIENT_PLUGIN_AUTH;
  else
    flags &= ~uint32_t(CLIENT_PLUGIN_AUTH);
  return flags;
}
