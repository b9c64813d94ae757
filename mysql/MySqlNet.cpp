#include "mysql/MySqlNet.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

// ---- pure codecs ------------------------------------------------------------------------------

namespace {

void PutUInt24(uint8_t* out, uint32_t value) noexcept {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
}

}  // namespace

void MySqlPutHeader(uint8_t* out, uint32_t length, uint8_t seq) noexcept {
  PutUInt24(out, length);
  out[3] = seq;
}

bool MySqlParseErrorPacket(const uint8_t* packet, size_t length, int& number, std::string& message) {
  if (length < 3 || packet[0] != 0xFF) return false;
  number = packet[1] | packet[2] << 8;
  size_t pos = 3;
  // Servers speaking the 4.1 protocol put "#" and the five-character SQL state first.
  if (length >= pos + 6 && packet[pos] == '#') pos += 6;
  const uint8_t* text = packet + pos;
  const void* zero = std::memchr(text, 0, length - pos);
  size_t textLength = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - text) : length - pos;
  message.assign(reinterpret_cast<const char*>(text), textLength);
  return true;
}

TBytes MySqlCompressEnvelope(uint8_t compSeq, const uint8_t* data, size_t length) {
  DA_ASSERT(length <= static_cast<size_t>(MYSQL_MAX_CHUNK));
  constexpr size_t header = MYSQL_HEADER_SIZE + MYSQL_COMP_HEADER_EXTRA;
  TBytes out;
  if (length > static_cast<size_t>(MYSQL_MIN_COMPRESS_LENGTH)) {
    uLongf size = compressBound(static_cast<uLong>(length));
    out.resize(header + size);
    // Data that does not shrink (already packed, random) would overflow the 3-byte length of
    // a full chunk: it goes stored instead.
    if (compress(out.data() + header, &size, data, static_cast<uLong>(length)) == Z_OK && size < length) {
      out.resize(header + size);
      MySqlPutHeader(out.data(), static_cast<uint32_t>(size), compSeq);
      PutUInt24(out.data() + MYSQL_HEADER_SIZE, static_cast<uint32_t>(length));
      return out;
    }
  }
  out.resize(header + length);
  MySqlPutHeader(out.data(), static_cast<uint32_t>(length), compSeq);
  PutUInt24(out.data() + MYSQL_HEADER_SIZE, 0);
  if (length > 0) std::memcpy(out.data() + header, data, length);
  return out;
}

bool MySqlInflate(const uint8_t* source, size_t sourceLength, uint8_t* target, size_t expected) noexcept {
  uLongf size = static_cast<uLongf>(expected);
  int rc = uncompress(target, &size, source, static_cast<uLong>(sourceLength));
  return rc == Z_OK && size == expected;
}

// ---- TMySqlNet: state and errors ----------------------------------------------------------------

TMySqlNet::TMySqlNet(std::unique_ptr<TMySqlVio> vio) : FVio(std::move(vio)) {
  Reset();
}

TMySqlNet::~TMySqlNet() = default;

void TMySqlNet::SetVio(std::unique_ptr<TMySqlVio> vio) {
  std::unique_ptr<TMySqlVio> old = std::move(FVio);
  FVio = std::move(vio);
  FBroken = false;
  FInflated.clear();
  FInflatedPos = 0;
  Reset();
  if (old) {
    try {
      old->Close();
    } catch (...) {
      // The old transport is being thrown away; a failure to close it changes nothing.
    }
  }
}

void TMySqlNet::CheckUsable() {
  if (!FVio || FBroken) RaiseMySqlClientError(CR_SERVER_GONE_ERROR);
  CheckNotWaiting();
}

// A statement started by an event the wait hook ran would be sent amid the reply awaited, or
// read that reply as its own, and its buffer writes would move the one the wait reads into:
// it is refused, and the wait goes on undisturbed.
void TMySqlNet::CheckNotWaiting() {
  if (FInVio > 0) RaiseMySqlClientError(CR_COMMANDS_OUT_OF_SYNC);
}

namespace {

struct TInVio {
  explicit TInVio(int& depth) noexcept : Depth(depth) { ++Depth; }
  ~TInVio() { --Depth; }
  TInVio(const TInVio&) = delete;
  TInVio& operator=(const TInVio&) = delete;
  int& Depth;
};

}  // namespace

void TMySqlNet::Fatal(int code, std::initializer_list<FormatArg> args, std::string_view detail) {
  FBroken = true;
  RaiseMySqlClientError(code, args, detail);
}

void TMySqlNet::RaiseServerError(const uint8_t* packet, size_t length) {
  int number = 0;
  std::string text;
  if (!MySqlParseErrorPacket(packet, length, number, text)) Malformed();
  throw EMySqlException(number, MySqlErrorMessage(number, {}, text));
}

// ---- TMySqlNet: writing ---------------------------------------------------------------------------

void TMySqlNet::Reset() {
  CheckNotWaiting();
  FSeq = 0;
  FCompSeq = 0;
  FWriting = false;
  FCompOut.clear();
  BeginWrite();
}

void TMySqlNet::BeginWrite() {
  CheckNotWaiting();
  if (FWriting) return;
  FBuffer.SetLength(MYSQL_HEADER_SIZE);
  FBuffer.SetPosition(MYSQL_HEADER_SIZE);
  FWriting = true;
  FFullChunkSent = false;
}

// Bytes collect in the buffer until the payload would reach 0xFFFFFF; then a full chunk goes out:
// the buffered part, followed by the rest straight from the caller's memory.
void TMySqlNet::Append(const uint8_t* data, size_t count) {
  BeginWrite();
  while (count > 0) {
    const size_t payload = static_cast<size_t>(FBuffer.Length() - MYSQL_HEADER_SIZE);
    if (payload + count < static_cast<size_t>(MYSQL_MAX_CHUNK)) {
      FBuffer.Write(data, 0, static_cast<int>(count));
      return;
    }
    CheckUsable();
    const size_t take = MYSQL_MAX_CHUNK - payload;
    uint8_t* buffer = FBuffer.GetBuffer().data();
    MySqlPutHeader(buffer, MYSQL_MAX_CHUNK, FSeq++);
    SendRaw(buffer, MYSQL_HEADER_SIZE + payload);
    SendRaw(data, take);
    data += take;
    count -= take;
    FBuffer.SetLength(MYSQL_HEADER_SIZE);
    FBuffer.SetPosition(MYSQL_HEADER_SIZE);
    FFullChunkSent = true;
  }
}

void TMySqlNet::Flush() {
  if (!FWriting) return;
  const size_t payload = static_cast<size_t>(FBuffer.Length() - MYSQL_HEADER_SIZE);
  if (payload == 0 && !FFullChunkSent) return;
  CheckUsable();
  uint8_t* buffer = FBuffer.GetBuffer().data();
  MySqlPutHeader(buffer, static_cast<uint32_t>(payload), FSeq++);
  SendRaw(buffer, MYSQL_HEADER_SIZE + payload);
  EndSend();
  FBuffer.SetLength(MYSQL_HEADER_SIZE);
  FBuffer.SetPosition(MYSQL_HEADER_SIZE);
  FFullChunkSent = false;
}

void TMySqlNet::FlushWith(std::span<const uint8_t> bytes) {
  // Short payloads are cheaper copied and written once; those of a chunk or more already go
  // straight from bytes in Append.
  constexpr size_t kDirect = 16384;
  BeginWrite();
  const size_t payload = static_cast<size_t>(FBuffer.Length() - MYSQL_HEADER_SIZE);
  if (bytes.size() < kDirect || FFullChunkSent ||
      payload + bytes.size() >= static_cast<size_t>(MYSQL_MAX_CHUNK)) {
    WriteBytes(bytes);
    Flush();
    return;
  }
  CheckUsable();
  uint8_t* buffer = FBuffer.GetBuffer().data();
  MySqlPutHeader(buffer, static_cast<uint32_t>(payload + bytes.size()), FSeq++);
  SendRaw(buffer, MYSQL_HEADER_SIZE + payload);
  SendRaw(bytes.data(), bytes.size());
  EndSend();
  FBuffer.SetLength(MYSQL_HEADER_SIZE);
  FBuffer.SetPosition(MYSQL_HEADER_SIZE);
  FFullChunkSent = false;
}

void TMySqlNet::FlushEmpty() {
  BeginWrite();
  DA_ASSERT_MSG(FBuffer.Length() == MYSQL_HEADER_SIZE, "FlushEmpty with a packet being built");
  CheckUsable();
  uint8_t header[MYSQL_HEADER_SIZE];
  MySqlPutHeader(header, 0, FSeq++);
  SendRaw(header, sizeof header);
  EndSend();
  FFullChunkSent = false;
}

void TMySqlNet::SendRaw(const uint8_t* data, size_t count) {
  if (FCompress) {
    SendCompressed(data, count);
    return;
  }
  if (count == 0) return;
  TInVio inVio(FInVio);
  if (FVio->WriteAll(data, 0, static_cast<int>(count)) != static_cast<int>(count))
    Fatal(CR_SERVER_LOST, {}, FVio->ErrorText());
}

// The plain stream is cut into compressed packets of at most 0xFFFFFF bytes each (the limit of
// their 3-byte uncompressed length); a plain packet may span several.
void TMySqlNet::SendCompressed(const uint8_t* data, size_t count) {
  while (count > 0) {
    const size_t take = std::min(count, MYSQL_MAX_CHUNK - FCompOut.size());
    FCompOut.insert(FCompOut.end(), data, data + take);
    data += take;
    count -= take;
    if (FCompOut.size() == static_cast<size_t>(MYSQL_MAX_CHUNK)) SendCompressedPacket();
  }
}

void TMySqlNet::SendCompressedPacket() {
  if (FCompOut.empty()) return;
  TBytes envelope = MySqlCompressEnvelope(FCompSeq++, FCompOut.data(), FCompOut.size());
  FCompOut.clear();
  TInVio inVio(FInVio);
  if (FVio->WriteAll(envelope.data(), 0, static_cast<int>(envelope.size())) !=
      static_cast<int>(envelope.size()))
    Fatal(CR_SERVER_LOST, {}, FVio->ErrorText());
}

// With compression the packet's remaining bytes go out now, and the plain sequence continues
// from the compressed one.
void TMySqlNet::EndSend() {
  if (!FCompress) return;
  SendCompressedPacket();
  FSeq = FCompSeq;
}

// ---- TMySqlNet: reading -----------------------------------------------------------------------

void TMySqlNet::VioRead(uint8_t* target, size_t count) {
  if (count == 0) return;
  TInVio inVio(FInVio);
  if (FVio->ReadAll(target, 0, static_cast<int>(count)) != static_cast<int>(count))
    Fatal(CR_SERVER_LOST, {}, FVio->ErrorText());
}

void TMySqlNet::ReadRaw(uint8_t* target, size_t count) {
  if (!FCompress) {
    VioRead(target, count);
    return;
  }
  while (count > 0) {
    if (FInflatedPos == FInflated.size()) ReadCompressedPacket();
    const size_t take = std::min(count, FInflated.size() - FInflatedPos);
    if (take == 0) continue;  // an empty compressed packet: read the next one
    std::memcpy(target, FInflated.data() + FInflatedPos, take);
    FInflatedPos += take;
    target += take;
    count -= take;
  }
}

void TMySqlNet::ReadCompressedPacket() {
  uint8_t header[MYSQL_HEADER_SIZE + MYSQL_COMP_HEADER_EXTRA];
  VioRead(header, sizeof header);
  if (header[3] != FCompSeq)
    Fatal(ER_NET_PACKETS_OUT_OF_ORDER, {},
          Format("ReceiveCompHeader: Net packets out of order: received[%d], expected[%d]",
                 {header[3], FCompSeq}));
  ++FCompSeq;
  const uint32_t packedLength = MySqlGetUInt24(header);
  const uint32_t plainLength = MySqlGetUInt24(header + MYSQL_HEADER_SIZE);
  // A buffer grown by one huge packet is not kept for the small ones that follow.
  if (FInflated.capacity() > (1u << 20) && std::max(packedLength, plainLength) < (1u << 16))
    TBytes().swap(FInflated);
  FInflatedPos = 0;
  if (plainLength == 0) {
    FInflated.resize(packedLength);
    VioRead(FInflated.data(), packedLength);
    return;
  }
  FPacked.resize(packedLength);
  VioRead(FPacked.data(), packedLength);
  FInflated.resize(plainLength);
  if (!MySqlInflate(FPacked.data(), packedLength, FInflated.data(), plainLength)) {
    FInflated.clear();
    Fatal(ER_NET_UNCOMPRESS_ERROR);
  }
  if (FPacked.capacity() > (1u << 20)) TBytes().swap(FPacked);
}

uint32_t TMySqlNet::ReadHeader() {
  uint8_t header[MYSQL_HEADER_SIZE];
  ReadRaw(header, sizeof header);
  if (!FCompress) {
    if (header[3] != FSeq)
      Fatal(ER_NET_PACKETS_OUT_OF_ORDER, {},
            Format("ReceiveHeader: Net packets out of order: received[%d], expected[%d]", {header[3], FSeq}));
    ++FSeq;
    FCompSeq = FSeq;
  } else {
    ++FSeq;  // the compressed envelope carries the checked sequence
  }
  return MySqlGetUInt24(header);
}

void TMySqlNet::Discard(size_t count) {
  uint8_t scratch[4096];
  while (count > 0) {
    const size_t take = std::min(count, sizeof scratch);
    ReadRaw(scratch, take);
    count -= take;
  }
}

void TMySqlNet::ReadPacket() {
  CheckUsable();
  FWriting = false;
  if (ReadPacketReadAhead()) return;
  uint32_t length = ReadHeader();
  if (length > static_cast<uint32_t>(FMaxPacketSize)) Fatal(CR_NET_PACKET_TOO_LARGE);
  // Read straight over the previous packet: a failing read breaks the connection before any of
  // it is looked at.
  FBuffer.ResetForOverwrite(static_cast<int>(length));
  ReadRaw(FBuffer.GetBuffer().data(), length);
  size_t total = length;
  while (length == static_cast<uint32_t>(MYSQL_MAX_CHUNK)) {
    length = ReadHeader();
    if (total + length > static_cast<size_t>(FMaxPacketSize)) Fatal(CR_NET_PACKET_TOO_LARGE);
    FBuffer.SetLength(static_cast<int>(total + length));
    ReadRaw(FBuffer.GetBuffer().data() + total, length);
    total += length;
  }
  FBuffer.SetPosition(0);
  if (total > 0 && Data()[0] == 0xFF) RaiseServerError(Data(), total);
}

bool TMySqlNet::ReadPacketReadAhead() {
  // Received bytes: inflated ones on a compressed connection, else the transport's read-ahead.
  const std::span<const uint8_t> ahead =
      FCompress ? std::span<const uint8_t>(FInflated).subspan(FInflatedPos) : FVio->PeekReadAhead();
  if (ahead.size() < MYSQL_HEADER_SIZE) return false;
  const uint32_t length = MySqlGetUInt24(ahead.data());
  // Anything out of the ordinary (a sequence error, a chunked or oversized packet) takes the
  // general path, which reports it.
  if ((!FCompress && ahead[3] != FSeq) || length >= static_cast<uint32_t>(MYSQL_MAX_CHUNK) ||
      length > static_cast<uint32_t>(FMaxPacketSize) || ahead.size() - MYSQL_HEADER_SIZE < length)
    return false;
  ++FSeq;
  if (FCompress) {
    FInflatedPos += MYSQL_HEADER_SIZE + length;
  } else {
    FCompSeq = FSeq;
    FVio->ConsumeReadAhead(static_cast<int>(MYSQL_HEADER_SIZE + length));
  }
  FBuffer.ResetForOverwrite(static_cast<int>(length));
  if (length > 0) std::memcpy(FBuffer.GetBuffer().data(), ahead.data() + MYSQL_HEADER_SIZE, length);
  if (length > 0 && Data()[0] == 0xFF) RaiseServerError(Data(), length);
  return true;
}

TBytes TMySqlNet::ReadPacketBytes() {
  CheckUsable();
  uint32_t length = ReadHeader();
  if (length == 0) Malformed();
  if (length > static_cast<uint32_t>(FMaxPacketSize)) Fatal(CR_NET_PACKET_TOO_LARGE);
  if (length == static_cast<uint32_t>(MYSQL_MAX_CHUNK)) {
    // Consume the whole packet so that the stream stays in step, then refuse it.
    size_t total = 0;
    for (;;) {
      total += length;
      if (total > static_cast<size_t>(FMaxPacketSize)) Fatal(CR_NET_PACKET_TOO_LARGE);
      Discard(length);
      if (length < static_cast<uint32_t>(MYSQL_MAX_CHUNK)) break;
      length = ReadHeader();
    }
    throw ArgumentException("Cannot retrieve huge data in FetchAll mode");
  }
  TBytes packet(length);
  ReadRaw(packet.data(), length);
  if (packet[0] == 0xFF) RaiseServerError(packet.data(), length);
  return packet;
}

int TMySqlNet::SkipPacket(TBytes& firstBytes, int chunkSize, bool checkError) {
  DA_ASSERT(chunkSize > 0);
  CheckUsable();
  const uint32_t length = ReadHeader();
  const size_t chunk = static_cast<size_t>(chunkSize);
  uint8_t firstByte = 0;
  firstBytes.assign(1, 0);
  for (size_t done = 0; done < length;) {
    const size_t piece = std::min<size_t>(chunk, length - done);
    firstBytes.resize(piece);
    ReadRaw(firstBytes.data(), piece);
    if (done == 0) {
      firstByte = firstBytes[0];
      if (checkError && firstByte == 0xFF) {
        if (length > static_cast<uint32_t>(FMaxPacketSize)) Fatal(CR_NET_PACKET_TOO_LARGE);
        TBytes whole(length);
        std::memcpy(whole.data(), firstBytes.data(), piece);
        ReadRaw(whole.data() + piece, length - piece);
        RaiseServerError(whole.data(), length);
      }
    }
    done += piece;
  }
  firstBytes[0] = checkError ? firstByte : 0;
  return static_cast<int>(length);
}
