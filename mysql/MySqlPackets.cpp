#include "mysql/MySqlPackets.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr uint8_t kOkHeader = 0x00;
constexpr uint8_t kNullLength = 251;
constexpr uint8_t kEofHeader = 0xFE;
constexpr uint8_t kErrHeader = 0xFF;
constexpr uint8_t kMoreDataHeader = 0x01;
constexpr uint8_t kLoginCharset = 8;  // latin1; the session sets its own afterwards
constexpr uint32_t kMaxPacketSize = 0x40000000;
constexpr const char* kNativePasswordPlugin = "mysql_native_password";

std::string ToString(std::span<const uint8_t> bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

[[noreturn]] void RaiseMalformedPacket() {
  RaiseMySqlClientError(CR_MALFORMED_PACKET);
}

// ---- TMySqlByteReader -----------------------------------------------------------------------

uint8_t TMySqlByteReader::PeekByte() const {
  if (AtEnd()) RaiseMalformedPacket();
  return FData[FPos];
}

uint8_t TMySqlByteReader::ReadByte() {
  const uint8_t b = PeekByte();
  ++FPos;
  return b;
}

std::span<const uint8_t> TMySqlByteReader::ReadBytes(size_t count) {
  if (count > Remaining()) RaiseMalformedPacket();
  auto part = FData.subspan(FPos, count);
  FPos += count;
  return part;
}

static uint64_t LittleEndian(std::span<const uint8_t> b) {
  uint64_t v = 0;
  for (size_t i = b.size(); i-- > 0;) v = (v << 8) | b[i];
  return v;
}

uint16_t TMySqlByteReader::ReadUInt16() {
  return static_cast<uint16_t>(LittleEndian(ReadBytes(2)));
}
uint32_t TMySqlByteReader::ReadUInt24() {
  return static_cast<uint32_t>(LittleEndian(ReadBytes(3)));
}
uint32_t TMySqlByteReader::ReadUInt32() {
  return static_cast<uint32_t>(LittleEndian(ReadBytes(4)));
}
uint64_t TMySqlByteReader::ReadUInt64() {
  return LittleEndian(ReadBytes(8));
}

std::optional<uint64_t> TMySqlByteReader::ReadLengthCoded() {
  const uint8_t first = ReadByte();
  if (first < kNullLength) return first;
  switch (first) {
    case kNullLength:
      return std::nullopt;
    case 252:
      return ReadUInt16();
    case 253:
      return ReadUInt24();
    case 254:
      return ReadUInt64();
    default:
      RaiseMalformedPacket();
  }
}

uint64_t TMySqlByteReader::ReadLengthCodedValue() {
  const auto v = ReadLengthCoded();
  if (!v) RaiseMalformedPacket();
  return *v;
}

std::string TMySqlByteReader::ReadStringZ() {
  const auto rest = FData.subspan(FPos);
  const auto zero = std::find(rest.begin(), rest.end(), uint8_t{0});
  const size_t len = static_cast<size_t>(zero - rest.begin());
  FPos += len + (zero != rest.end() ? 1 : 0);
  return ToString(rest.first(len));
}

std::string TMySqlByteReader::ReadLengthCodedString() {
  const auto len = ReadLengthCoded();
  if (!len) return {};
  if (*len > Remaining()) RaiseMalformedPacket();
  return ToString(ReadBytes(static_cast<size_t>(*len)));
}

std::string_view TMySqlByteReader::ReadLongLengthCodedView() {
  const auto len = ReadLengthCoded();
  if (!len) return {};
  if (*len > Remaining()) RaiseMalformedPacket();
  const std::span<const uint8_t> bytes = ReadBytes(static_cast<size_t>(*len));
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

void TMySqlByteReader::ExpectEnd() const {
  if (!AtEnd()) RaiseMalformedPacket();
}

// ---- TMySqlByteWriter -----------------------------------------------------------------------

void TMySqlByteWriter::WriteUInt(uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) FOut.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void TMySqlByteWriter::WriteLengthCoded(uint64_t value) {
  if (value < kNullLength) {
    WriteByte(static_cast<uint8_t>(value));
  } else if (value < 0x10000) {
    WriteByte(252);
    WriteUInt(value, 2);
  } else if (value < 0x1000000) {
    WriteByte(253);
    WriteUInt(value, 3);
  } else {
    WriteByte(254);
    WriteUInt(value, 8);
  }
}

void TMySqlByteWriter::WriteStringZ(std::string_view text) {
  WriteString(text);
  WriteByte(0);
}

void TMySqlByteWriter::WriteCounted(std::span<const uint8_t> bytes) {
  WriteLengthCoded(bytes.size());
  WriteBytes(bytes);
}

void TMySqlByteWriter::WriteCounted(std::string_view text) {
  WriteLengthCoded(text.size());
  WriteString(text);
}

std::span<uint8_t> TMySqlByteWriter::Extend(size_t count) {
  const size_t at = FOut.size();
  FOut.resize(at + count);
  return std::span<uint8_t>(FOut).subspan(at);
}

// ---- greeting -------------------------------------------------------------------------------

TMySqlGreeting ParseMySqlGreeting(std::span<const uint8_t> packet) {
  TMySqlByteReader r(packet);
  TMySqlGreeting g;
  g.ProtocolVersion = r.ReadByte();
  if (g.ProtocolVersion != 10) RaiseMySqlClientError(CR_VERSION_ERROR, {int(g.ProtocolVersion), 10});
  // The version must be terminated: a greeting cut inside it has lost the fields after it.
  const auto rest = packet.subspan(r.Position());
  if (std::find(rest.begin(), rest.end(), uint8_t{0}) == rest.end()) RaiseMalformedPacket();
  g.ServerVersion = r.ReadStringZ();
  // Servers of version 10 and later prefix "5.5.5-" for old replication clients.
  if (g.ServerVersion.starts_with("5.5.5-") && g.ServerVersion.size() > 6 && g.ServerVersion[6] >= '1')
    g.ServerVersion.erase(0, 6);
  g.ThreadId = r.ReadUInt32();
  const auto part1 = r.ReadBytes(8);
  std::copy(part1.begin(), part1.end(), g.Scramble.begin());
  if (r.AtEnd()) return g;
  r.Skip(1);  // filler
  if (r.AtEnd()) return g;
  g.ServerCapabilities = r.ReadUInt16();
  if (r.AtEnd()) return g;
  // Character set, status, upper capabilities, challenge length and 10 reserved bytes.
  g.CharsetNr = r.ReadByte();
  g.ServerStatus = r.ReadUInt16();
  const uint32_t upper = r.ReadUInt16();
  r.Skip(11);
  if (g.ServerCapabilities & CLIENT_PROTOCOL_41) g.ServerCapabilities |= upper << 16;
  if (r.AtEnd()) return g;
  const auto part2 = r.ReadBytes(12);
  std::copy(part2.begin(), part2.end(), g.Scramble.begin() + 8);
  g.HasScramble20 = true;
  if (!r.AtEnd() && r.PeekByte() == 0) r.Skip(1);
  if (g.ServerCapabilities & CLIENT_PLUGIN_AUTH) g.AuthPluginName = r.ReadStringZ();
  return g;
}

// ---- login ----------------------------------------------------------------------------------

static void WritePasswordProof(TMySqlByteWriter& w, const TMySqlLoginRequest& q) {
  if (!(q.ServerCapabilities & CLIENT_SECURE_CONNECTION)) {
    w.WriteString(MySqlScramble323(q.Password, std::span<const uint8_t, 8>(q.Scramble.data(), 8)));
  } else if (q.Password.empty()) {
    w.WriteByte(0);
  } else if (q.HasScramble20) {
    const TSHA1Digest token = MySqlScramble41(q.Password, q.Scramble);
    w.WriteByte(static_cast<uint8_t>(token.size()));
    w.WriteBytes(token);
  } else {
    // An early 4.1 server answers this placeholder with its own 24-byte challenge.
    w.WriteFill('x', 8);
    w.WriteByte(0);
  }
}

std::vector<uint8_t> BuildMySqlSslRequest(uint32_t clientFlags) {
  std::vector<uint8_t> out;
  TMySqlByteWriter w(out);
  if (clientFlags & CLIENT_PROTOCOL_41) {
    w.WriteUInt32(clientFlags);
    w.WriteUInt32(kMaxPacketSize);
    w.WriteByte(kLoginCharset);
    w.WriteFill(0, 23);
  } else {
    w.WriteUInt16(static_cast<uint16_t>(clientFlags));
    // The 3-byte field cannot hold the 4.1 size: announce the largest it can.
    w.WriteUInt24(0xFFFFFF);
  }
  return out;
}

std::vector<uint8_t> BuildMySqlLoginPacket(const TMySqlLoginRequest& q) {
  std::vector<uint8_t> out = BuildMySqlSslRequest(q.ClientFlags);
  TMySqlByteWriter w(out);
  w.WriteStringZ(q.User);
  WritePasswordProof(w, q);
  if ((q.ServerCapabilities & CLIENT_CONNECT_WITH_DB) && (q.ClientFlags & CLIENT_CONNECT_WITH_DB))
    w.WriteStringZ(q.Database);
  if (q.ClientFlags & CLIENT_PLUGIN_AUTH) w.WriteStringZ(kNativePasswordPlugin);
  return out;
}

TMySqlLoginReply ParseMySqlLoginReply(std::span<const uint8_t> packet, uint32_t clientFlags,
                                      uint32_t serverCapabilities) {
  TMySqlLoginReply reply;
  if (packet.empty()) RaiseMalformedPacket();
  const uint8_t first = packet[0];
  const bool secure = serverCapabilities & CLIENT_SECURE_CONNECTION;
  if (first == kOkHeader) return reply;
  if (first == kEofHeader && packet.size() == 1 && secure) {
    reply.Kind = TMySqlLoginReply::TKind::OldPasswordSwitch;
    return reply;
  }
  if (first == kEofHeader && (clientFlags & CLIENT_PLUGIN_AUTH)) {
    TMySqlByteReader r(packet.subspan(1));
    reply.Kind = TMySqlLoginReply::TKind::AuthSwitch;
    reply.PluginName = r.ReadStringZ();
    const auto data = r.ReadBytes(r.Remaining());
    reply.Data.assign(data.begin(), data.end());
    return reply;
  }
  if (packet.size() == 24 && secure && first != kErrHeader) {
    reply.Kind = TMySqlLoginReply::TKind::Challenge410;
    reply.Data.assign(packet.begin(), packet.end());
    return reply;
  }
  RaiseMySqlClientError(
      CR_SERVER_HANDSHAKE_ERR, {},
      first == kMoreDataHeader
          ? "the server continued an authentication exchange the client does not know"
          : Format("unexpected reply to the login (first byte %d, %d bytes)", {int(first), packet.size()}));
}

// ---- OK, EOF and query replies --------------------------------------------------------------

namespace {

constexpr uint8_t kSessionTrackSystemVariables = 0;
constexpr uint8_t kSessionTrackSchema = 1;

std::span<const uint8_t> ReadLengthCodedBytes(TMySqlByteReader& r) {
  const uint64_t length = r.ReadLengthCodedValue();
  if (length > r.Remaining()) RaiseMalformedPacket();
  return r.ReadBytes(static_cast<size_t>(length));
}

// The session-state block: entries of a kind byte and length-coded data, each read within its own
// bounds so that an entry cannot reach into the next.
void ReadSessionState(TMySqlByteReader& r, TMySqlOkPacket& ok) {
  TMySqlByteReader block(ReadLengthCodedBytes(r));
  while (!block.AtEnd()) {
    const uint8_t kind = block.ReadByte();
    TMySqlByteReader entry(ReadLengthCodedBytes(block));
    if (kind == kSessionTrackSchema) {
      ok.Schema = ToString(ReadLengthCodedBytes(entry));
      entry.ExpectEnd();
      ok.SchemaChanged = true;
      continue;
    }
    if (kind != kSessionTrackSystemVariables) continue;
    std::string name = ToString(ReadLengthCodedBytes(entry));
    std::string value = ToString(ReadLengthCodedBytes(entry));
    entry.ExpectEnd();
    ok.SystemVariables.emplace_back(std::move(name), std::move(value));
  }
}

}  // namespace

static TMySqlOkPacket ReadOkBody(TMySqlByteReader& r, bool protocol41, bool transactions, bool sessionTrack) {
  TMySqlOkPacket ok;
  ok.AffectedRows = r.ReadLengthCodedValue();
  ok.InsertId = r.ReadLengthCodedValue();
  if (protocol41 || transactions) {
    ok.HasStatus = true;
    ok.ServerStatus = r.ReadUInt16();
    if (protocol41) ok.WarningCount = r.ReadUInt16();
  }
  // The server writes the message as a length-coded string.
  if (!r.AtEnd()) ok.Info = r.ReadLengthCodedString();
  if (sessionTrack && protocol41 && (ok.ServerStatus & SERVER_SESSION_STATE_CHANGED) && !r.AtEnd()) {
    ReadSessionState(r, ok);
    r.ExpectEnd();
  }
  return ok;
}

TMySqlOkPacket ParseMySqlOkPacket(std::span<const uint8_t> packet, bool protocol41, bool transactions,
                                  bool sessionTrack) {
  TMySqlByteReader r(packet);
  if (r.ReadByte() != kOkHeader) RaiseMalformedPacket();
  return ReadOkBody(r, protocol41, transactions, sessionTrack);
}

bool IsMySqlEofPacket(std::span<const uint8_t> packet) noexcept {
  return !packet.empty() && packet[0] == kEofHeader && packet.size() < 9;
}

TMySqlEofPacket ParseMySqlEofPacket(std::span<const uint8_t> packet) {
  TMySqlByteReader r(packet);
  if (r.ReadByte() != kEofHeader) RaiseMalformedPacket();
  TMySqlEofPacket eof;
  if (r.AtEnd()) return eof;
  eof.HasStatus = true;
  eof.WarningCount = r.ReadUInt16();
  eof.ServerStatus = r.ReadUInt16();
  r.ExpectEnd();
  return eof;
}

TMySqlQueryReply ParseMySqlQueryReply(std::span<const uint8_t> packet, bool protocol41, bool transactions,
                                      bool sessionTrack) {
  TMySqlByteReader r(packet);
  TMySqlQueryReply reply;
  const auto count = r.ReadLengthCoded();
  if (!count) {
    reply.Kind = TMySqlQueryReply::TKind::LocalInfile;
    reply.FileName = r.ReadStringZ();
    if (reply.FileName.empty()) RaiseMalformedPacket();
    return reply;
  }
  if (*count == 0) {
    reply.Ok = ReadOkBody(r, protocol41, transactions, sessionTrack);
    return reply;
  }
  if (*count > MYSQL_MAX_FIELD_COUNT) RaiseMalformedPacket();
  reply.Kind = TMySqlQueryReply::TKind::ResultSet;
  reply.FieldCount = static_cast<uint32_t>(*count);
  if (!r.AtEnd()) reply.Extra = r.ReadLengthCodedValue();
  r.ExpectEnd();
  return reply;
}

// ---- field descriptions and rows ------------------------------------------------------------

static uint32_t FixedColumn(TMySqlByteReader& r, size_t minLength) {
  const uint64_t len = r.ReadLengthCodedValue();
  if (len < minLength || len > r.Remaining()) RaiseMalformedPacket();
  return static_cast<uint32_t>(len);
}

TMySqlFieldInfo ParseMySqlFieldPacket(std::span<const uint8_t> packet, bool protocol41, bool longFlag,
                                      bool withDefault) {
  TMySqlFieldInfo info;
  ParseMySqlFieldPacket(packet, protocol41, longFlag, withDefault, info);
  return info;
}

void ParseMySqlFieldPacket(std::span<const uint8_t> packet, bool protocol41, bool longFlag, bool withDefault,
                           TMySqlFieldInfo& info) {
  TMySqlByteReader r(packet);
  // The names are views of the packet until the description is made from them at once: a result
  // reads one packet per column.
  std::string_view catalog, database, table, orgTable, name, orgName;
  uint32_t length = 0, flags = 0, decimals = 0, charsetNr = 0;
  uint8_t type = 0;
  if (protocol41) {
    catalog = r.ReadLengthCodedView();
    database = r.ReadLengthCodedView();
    table = r.ReadLengthCodedView();
    orgTable = r.ReadLengthCodedView();
    name = r.ReadLengthCodedView();
    orgName = r.ReadLengthCodedView();
    // Character set 2, length 4, type 1, flags 2, decimals 1, then filler.
    const uint32_t blockLen = FixedColumn(r, 10);
    TMySqlByteReader block(r.ReadBytes(blockLen));
    charsetNr = block.ReadUInt16();
    length = block.ReadUInt32();
    type = block.ReadByte();
    flags = block.ReadUInt16();
    decimals = block.ReadByte();
  } else {
    table = r.ReadLengthCodedView();
    name = r.ReadLengthCodedView();
    TMySqlByteReader lengthCol(r.ReadBytes(FixedColumn(r, 3)));
    length = lengthCol.ReadUInt24();
    TMySqlByteReader typeCol(r.ReadBytes(FixedColumn(r, 1)));
    type = typeCol.ReadByte();
    TMySqlByteReader flagCol(r.ReadBytes(FixedColumn(r, longFlag ? 3 : 2)));
    flags = longFlag ? flagCol.ReadUInt16() : flagCol.ReadByte();
    decimals = flagCol.ReadByte();
  }
  if (withDefault && !r.AtEnd()) r.ReadLengthCodedView();
  r.ExpectEnd();
  // The description read into is mostly that of the same column of the same query before: its
  // names are compared, which costs less than copying them again.
  auto keep = [](std::string& to, std::string_view from) {
    if (to.size() != from.size() || (!from.empty() && std::memcmp(to.data(), from.data(), from.size()) != 0))
      to.assign(from);
  };
  keep(info.Name, name);
  keep(info.OrgName, orgName);
  keep(info.Table, table);
  keep(info.OrgTable, orgTable);
  keep(info.Database, database);
  keep(info.Catalog, catalog);
  info.SetAttributes(length, 0, flags, decimals, charsetNr, type);
}

void DecodeMySqlTextRow(std::span<const uint8_t> row, std::span<TMySqlBind> binds) {
  // Every row of a result goes through here: lengths below 251 (one byte) are read in place, the
  // others through the reader; every length is checked against what the row still holds.
  const uint8_t* const data = row.data();
  const size_t size = row.size();
  size_t pos = 0;
  for (TMySqlBind& bind : binds) {
    if (pos >= size) RaiseMalformedPacket();
    uint64_t len = data[pos];
    if (len < kNullLength) {
      ++pos;
    } else {
      TMySqlByteReader r(row.subspan(pos));
      const auto coded = r.ReadLengthCoded();
      pos += r.Position();
      if (!coded) {
        bind.IsNull = 1;
        bind.Position = 0;
        bind.Length = 0;
        continue;
      }
      len = *coded;
    }
    if (len > size - pos) RaiseMalformedPacket();
    bind.IsNull = 0;
    bind.Position = static_cast<uint32_t>(pos);
    bind.Length = static_cast<uint32_t>(len);
    pos += static_cast<size_t>(len);
  }
  if (pos != size) RaiseMalformedPacket();
}

void DecodeMySqlBinaryRow(std::span<const uint8_t> row, std::span<TMySqlBind> binds,
                          std::span<const TMySqlFieldInfo> fields) {
  DA_ASSERT(binds.size() == fields.size());
  TMySqlByteReader r(row);
  if (r.ReadByte() != kOkHeader) RaiseMalformedPacket();
  const auto bitmap = r.ReadBytes((binds.size() + 9) / 8);
  for (size_t i = 0; i < binds.size(); ++i) {
    TMySqlBind& bind = binds[i];
    bind.Type = fields[i].Type;
    const size_t bit = i + 2;
    if (bitmap[bit / 8] & (1u << (bit % 8))) {
      bind.IsNull = 1;
      bind.Position = 0;
      bind.Length = 0;
      continue;
    }
    size_t len = MySqlBinaryFixedSize(bind.Type);
    if (len == 0) {
      const auto coded = r.ReadLengthCoded();
      if (!coded || *coded > r.Remaining()) RaiseMalformedPacket();
      len = static_cast<size_t>(*coded);
    }
    bind.IsNull = 0;
    bind.Position = static_cast<uint32_t>(r.Position());
    bind.Length = static_cast<uint32_t>(len);
    r.Skip(len);
  }
  r.ExpectEnd();
}
