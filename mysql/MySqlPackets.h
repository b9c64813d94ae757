// Codecs of the session's packets: pure parse and build functions over byte spans, kept apart
// from the socket code so that each can be tested and fuzzed on bytes alone.
//
// Every parser reads through a bounded reader: a packet that is shorter than its fields, holds a
// length running past its end, or has bytes left over where none may be raises EMySqlException
// 2027 "Malformed packet". Nothing is read outside the given span. Every builder writes through
// the byte writer, the reader's counterpart.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mysql/MySqlAuth.h"
#include "mysql/MySqlProtocol.h"
#include "mysql/MySqlTypes.h"

// Status bits of OK and EOF packets.
enum : uint16_t {
  SERVER_STATUS_IN_TRANS = 1,
  SERVER_STATUS_AUTOCOMMIT = 2,
  SERVER_MORE_RESULTS_EXISTS = 8,
  SERVER_STATUS_NO_BACKSLASH_ESCAPES = 0x200,
  SERVER_SESSION_STATE_CHANGED = 0x4000,
};

// Highest column count a result may announce; more is a malformed header. A join may return
// more columns than a table holds; a prepared statement's count is 16-bit, and so are the record
// store's field numbers. Descriptions are stored as they arrive, so a peer that announces many
// and sends few costs nothing.
constexpr uint64_t MYSQL_MAX_FIELD_COUNT = 65535;

// ---- bounded reader -------------------------------------------------------------------------

class TMySqlByteReader {
 public:
  explicit TMySqlByteReader(std::span<const uint8_t> data) : FData(data) {}

  size_t Position() const { return FPos; }
  size_t Remaining() const { return FData.size() - FPos; }
  bool AtEnd() const { return FPos == FData.size(); }

  uint8_t PeekByte() const;
  uint8_t ReadByte();
  uint16_t ReadUInt16();
  uint32_t ReadUInt24();
  uint32_t ReadUInt32();
  uint64_t ReadUInt64();
  // A length-coded integer; nullopt for the NULL marker 251. The marker 255 is malformed.
  std::optional<uint64_t> ReadLengthCoded();
  // A length-coded integer that may not be NULL.
  uint64_t ReadLengthCodedValue();
  std::span<const uint8_t> ReadBytes(size_t count);
  // Bytes up to a 0 byte (consumed) or to the end.
  std::string ReadStringZ();
  // A length-coded string; NULL reads as empty.
  std::string ReadLengthCodedString();
  // The same as a view of the packet's bytes (valid while the packet is); NULL (0xFB) reads as empty.
  std::string_view ReadLengthCodedView() {
    // Most texts (every name of a column description) are shorter than 251 bytes: a length of
    // one byte, read in place.
    if (FPos < FData.size()) {
      const size_t len = FData[FPos];
      if (len < 251 && len < FData.size() - FPos) {
        const auto* text = reinterpret_cast<const char*>(FData.data()) + FPos + 1;
        FPos += 1 + len;
        return {text, len};
      }
    }
    return ReadLongLengthCodedView();
  }
  void Skip(size_t count) { ReadBytes(count); }
  void ExpectEnd() const;

 private:
  std::string_view ReadLongLengthCodedView();

  std::span<const uint8_t> FData;
  size_t FPos = 0;
};

// ---- byte writer ----------------------------------------------------------------------------

// Appends the protocol's encodings to a byte array: integers little-endian, length-coded
// integers and strings, and zero-terminated strings.
class TMySqlByteWriter {
 public:
  explicit TMySqlByteWriter(std::vector<uint8_t>& out) : FOut(out) {}

  size_t Size() const { return FOut.size(); }

  void WriteByte(uint8_t value) { FOut.push_back(value); }
  void WriteUInt16(uint16_t value) { WriteUInt(value, 2); }
  void WriteUInt24(uint32_t value) { WriteUInt(value, 3); }
  void WriteUInt32(uint32_t value) { WriteUInt(value, 4); }
  void WriteUInt64(uint64_t value) { WriteUInt(value, 8); }
  // 1, 3, 4 or 9 bytes: below 251 the value itself, else 252, 253 or 254 and 2, 3 or 8 bytes.
  void WriteLengthCoded(uint64_t value);
  void WriteBytes(std::span<const uint8_t> bytes) { FOut.insert(FOut.end(), bytes.begin(), bytes.end()); }
  void WriteFill(uint8_t value, size_t count) { FOut.insert(FOut.end(), count, value); }
  void WriteString(std::string_view text) { FOut.insert(FOut.end(), text.begin(), text.end()); }
  void WriteStringZ(std::string_view text);  // with the 0 byte
  // A length-coded length, then the bytes.
  void WriteCounted(std::span<const uint8_t> bytes);
  void WriteCounted(std::string_view text);
  // Appends count zero bytes for the caller to fill; the span is valid until the next write.
  std::span<uint8_t> Extend(size_t count);

 private:
  void WriteUInt(uint64_t value, int bytes);

  std::vector<uint8_t>& FOut;
};

// Raises EMySqlException 2027 "Malformed packet".
[[noreturn]] void RaiseMalformedPacket();

// ---- greeting and login ---------------------------------------------------------------------

struct TMySqlGreeting {
  uint8_t ProtocolVersion = 0;
  std::string ServerVersion;
  uint32_t ThreadId = 0;
  TMySqlScramble Scramble{};  // bytes 0-7 always, 8-19 when HasScramble20
  bool HasScramble20 = false;
  uint32_t ServerCapabilities = 0;
  uint8_t CharsetNr = 0;
  uint16_t ServerStatus = SERVER_STATUS_AUTOCOMMIT;
  std::string AuthPluginName;  // only from servers offering CLIENT_PLUGIN_AUTH
};

// The server's first packet. Sections after the 8 challenge bytes are optional (older servers
// stop early) but each is whole or the packet is malformed.
// Errors: 2007 protocol version other than 10; 2027 malformed.
TMySqlGreeting ParseMySqlGreeting(std::span<const uint8_t> packet);

struct TMySqlLoginRequest {
  uint32_t ClientFlags = 0;  // negotiated
  uint32_t ServerCapabilities = 0;
  std::string User, Password, Database;
  TMySqlScramble Scramble{};
  bool HasScramble20 = false;
};

// The SSL request: the login packet's head (flags, maximum packet size, character set and 23
// zero bytes; 2 + 3 bytes without CLIENT_PROTOCOL_41), sent alone before TLS starts.
std::vector<uint8_t> BuildMySqlSslRequest(uint32_t clientFlags);

// The login packet's payload. The database name (when the server takes one) always ends with
// its 0 byte. Raises nothing.
std::vector<uint8_t> BuildMySqlLoginPacket(const TMySqlLoginRequest& request);

// The server's answer to a login packet or to a password proof.
struct TMySqlLoginReply {
  enum class TKind { Ok, OldPasswordSwitch, AuthSwitch, Challenge410 } Kind = TKind::Ok;
  std::string PluginName;     // AuthSwitch
  std::vector<uint8_t> Data;  // AuthSwitch: the new challenge; Challenge410: the 24 bytes
};

// Classifies a login reply (error packets never get here). Errors: 2012 "Error in server
// handshake" for a reply the login does not know (the detail says what it was); 2027 malformed.
TMySqlLoginReply ParseMySqlLoginReply(std::span<const uint8_t> packet, uint32_t clientFlags,
                                      uint32_t serverCapabilities);

// ---- OK, EOF and query replies --------------------------------------------------------------

struct TMySqlOkPacket {
  uint64_t AffectedRows = 0;
  uint64_t InsertId = 0;
  bool HasStatus = false;
  uint16_t ServerStatus = 0;
  uint16_t WarningCount = 0;
  std::string Info;
  // With session tracking: the system variables the statement changed, with their new values,
  // in the order reported (the same name may come more than once; the last one holds).
  std::vector<std::pair<std::string, std::string>> SystemVariables;
  // With session tracking: the statement changed the session's default database (USE, COM_INIT_DB);
  // Schema is its new name as the server stores names (utf8).
  bool SchemaChanged = false;
  std::string Schema;
};

// An OK packet (first byte 0). Status follows for 4.1 or transaction-aware servers; warnings for
// 4.1 only. With sessionTrack (CLIENT_SESSION_TRACK negotiated on a 4.1 session) the message is
// followed, when the status says the session state changed, by the state-change block; its
// system-variable and schema entries are read, other kinds are skipped. Errors: 2027 (also for an entry or a
// block running past its length, or bytes left over in one).
TMySqlOkPacket ParseMySqlOkPacket(std::span<const uint8_t> packet, bool protocol41, bool transactions,
                                  bool sessionTrack = false);

// True for the packet that ends rows or field descriptions: first byte 0xFE and shorter than 9
// bytes (a row starting with an 8-byte length is at least 9 bytes).
bool IsMySqlEofPacket(std::span<const uint8_t> packet) noexcept;

struct TMySqlEofPacket {
  bool HasStatus = false;
  uint16_t WarningCount = 0;
  uint16_t ServerStatus = 0;
};

// An EOF packet: 1 byte (pre-4.1) or 5 bytes with warnings and status. Errors: 2027.
TMySqlEofPacket ParseMySqlEofPacket(std::span<const uint8_t> packet);

struct TMySqlQueryReply {
  enum class TKind { Ok, LocalInfile, ResultSet } Kind = TKind::Ok;
  TMySqlOkPacket Ok;        // Kind Ok
  std::string FileName;     // Kind LocalInfile
  uint32_t FieldCount = 0;  // Kind ResultSet: 1..MYSQL_MAX_FIELD_COUNT
  uint64_t Extra = 0;       // Kind ResultSet, when the header carries it
};

// The first reply to a query. Errors: 2027 (also for a column count of 0 after a result-set
// marker or above MYSQL_MAX_FIELD_COUNT, and an empty file name).
TMySqlQueryReply ParseMySqlQueryReply(std::span<const uint8_t> packet, bool protocol41, bool transactions,
                                      bool sessionTrack = false);

// ---- field descriptions and rows ------------------------------------------------------------

// A field description packet: 7 columns from a 4.1 server, else 5; a field-list reply may add
// the column's default value. Errors: 2027.
TMySqlFieldInfo ParseMySqlFieldPacket(std::span<const uint8_t> packet, bool protocol41, bool longFlag,
                                      bool withDefault = false);
// The same into a description made before, whose names keep their room; `info` is left as it was
// when the packet does not parse.
void ParseMySqlFieldPacket(std::span<const uint8_t> packet, bool protocol41, bool longFlag, bool withDefault,
                           TMySqlFieldInfo& info);

// Decodes a text row into binds: offset and length of each column within `row`, or NULL.
// The columns must fill the row exactly. Errors: 2027.
void DecodeMySqlTextRow(std::span<const uint8_t> row, std::span<TMySqlBind> binds);

// Decodes a binary row of a prepared statement into binds, one per field, each taking the
// field's type: byte 0 is the packet header 0, a NULL bitmap of (count + 9) / 8 bytes follows
// (column i at bit i + 2), then the non-NULL values: fixed sizes for the integer and float
// types, a length-coded length for every other. The values must fill the row exactly.
// Errors: 2027.
void DecodeMySqlBinaryRow(std::span<const uint8_t> row, std::span<TMySqlBind> binds,
                          std::span<const TMySqlFieldInfo> fields);
