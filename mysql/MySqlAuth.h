// Password proofs and capability negotiation of the login: pure functions over bytes, no I/O.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "mysql/SHA1Managed.h"

// Capability bits of the client/server protocol.
enum : uint32_t {
  CLIENT_LONG_PASSWORD = 0x1,
  CLIENT_FOUND_ROWS = 0x2,  // affected rows count the rows matched, not only those changed
  CLIENT_LONG_FLAG = 0x4,
  CLIENT_CONNECT_WITH_DB = 0x8,
  CLIENT_COMPRESS = 0x20,
  CLIENT_LOCAL_FILES = 0x80,
  CLIENT_PROTOCOL_41 = 0x200,
  CLIENT_SSL = 0x800,
  CLIENT_TRANSACTIONS = 0x2000,
  CLIENT_SECURE_CONNECTION = 0x8000,
  CLIENT_MULTI_STATEMENTS = 0x10000,
  CLIENT_MULTI_RESULTS = 0x20000,
  // Lets the server name the account's authentication method when it is not one we have.
  CLIENT_PLUGIN_AUTH = 0x80000,
  // OK packets then say which session variables a statement changed (the character set above all,
  // which literals must be escaped for).
  CLIENT_SESSION_TRACK = 0x800000,
};

// What every login asks for on top of the caller's flags.
constexpr uint32_t MYSQL_DEFAULT_CLIENT_FLAGS = 0x3A285;

// Session protocols: 0 and 1 TCP, 2 Unix socket, 3 pipe (a Unix socket here), 5 TLS over TCP.
enum : uint32_t {
  MYSQL_PROTOCOL_DEFAULT = 0,
  MYSQL_PROTOCOL_TCP = 1,
  MYSQL_PROTOCOL_SOCKET = 2,
  MYSQL_PROTOCOL_PIPE = 3,
  MYSQL_PROTOCOL_SSL = 5
};

// The 20-byte challenge of a 4.1 server; the first 8 bytes are the pre-4.1 challenge.
using TMySqlScramble = std::array<uint8_t, 20>;

// The 4.1 password token: SHA1(scramble + SHA1(SHA1(password))) XOR SHA1(password).
TSHA1Digest MySqlScramble41(std::string_view password, const TMySqlScramble& scramble);

// The pre-4.1 scramble: eight characters answering the first 8 bytes of `message`, followed by a
// 0 byte; an empty password gives the 0 byte alone. Spaces and tabs of the password are skipped.
std::string MySqlScramble323(std::string_view password, std::span<const uint8_t, 8> message);

// The two 31-bit words of the pre-4.1 password hash (spaces and tabs skipped).
std::array<uint32_t, 2> MySqlHashPassword323(std::span<const uint8_t> text);

// The answer to an early 4.1 server's 24-byte challenge that does not start with '*':
// updates `scramble` from the challenge and returns the 20 bytes to send.
TSHA1Digest MySqlAnswerChallenge410(std::string_view password, std::span<const uint8_t, 24> challenge,
                                    TMySqlScramble& scramble);

// The client flags of a login: the preset and given flags with the defaults and
// CLIENT_CONNECT_WITH_DB added, then reduced to what the server offers. CLIENT_SSL survives only
// for protocol 5 (the switch to TLS needs a TLS transport); CLIENT_PLUGIN_AUTH is asked for
// when the server offers it.
uint32_t MySqlNegotiateClientFlags(uint32_t serverCaps, uint32_t presetFlags, uint32_t givenFlags,
                                   uint32_t protocol);
