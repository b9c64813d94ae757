// The MySQL packet layer: framing with sequence numbers, packets longer than 16 MB and the
// compressed envelope. Payloads are encoded and decoded by the byte writer and reader of
// MySqlPackets.h; the protocol's numbers, errors and column vocabulary are in MySqlProtocol.h.
//
// Layers: the pure codecs below work on bytes only; TMySqlNet adds the I/O through a TMySqlVio.
// Errors that leave the byte stream out of step (1156 out of order, 1157 bad compressed data,
// 2013 lost connection, 2020 packet over the cap, 2027 malformed packet) mark the TMySqlNet
// broken: every later read or flush raises 2006 until a new transport is set. A server error
// packet is not fatal: the packet is consumed and the stream stays in step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/CLRClasses.h"
#include "mysql/MySqlProtocol.h"
#include "mysql/MySqlVio.h"

// ---- protocol constants -----------------------------------------------------------------------

inline constexpr int MYSQL_HEADER_SIZE = 4;
inline constexpr int MYSQL_COMP_HEADER_EXTRA = 3;  // the compressed header is 4 + 3 bytes
inline constexpr int MYSQL_PACKET_BUFFER_SIZE = 8192;
inline constexpr int MYSQL_MAX_CHUNK = 0xFFFFFF;
inline constexpr int MYSQL_MIN_COMPRESS_LENGTH = 50;  // smaller data travels uncompressed

// ---- pure codecs ------------------------------------------------------------------------------

void MySqlPutHeader(uint8_t* out, uint32_t length, uint8_t seq) noexcept;
inline uint32_t MySqlGetUInt24(const uint8_t* p) noexcept {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}

// Decodes an error packet (0xFF, 2-byte number, optional "#" + 5-character SQL state, message to
// the end or to a 0 byte). False when the packet is too short to be one.
bool MySqlParseErrorPacket(const uint8_t* packet, size_t length, int& number, std::string& message);

// The compressed-protocol envelope around data (plain packets): 3-byte body length, compSeq,
// 3-byte uncompressed length, body. Data of 50 bytes or less, or that zlib cannot shrink, is
// stored as is with uncompressed length 0. length <= 0xFFFFFF.
TBytes MySqlCompressEnvelope(uint8_t compSeq, const uint8_t* data, size_t length);
// Inflates source into exactly expected bytes at target. False when zlib fails or the result
// has any other length.
bool MySqlInflate(const uint8_t* source, size_t sourceLength, uint8_t* target, size_t expected) noexcept;

// ---- TMySqlNet --------------------------------------------------------------------------------

class TMySqlNet {
 public:
  explicit TMySqlNet(std::unique_ptr<TMySqlVio> vio = nullptr);
  ~TMySqlNet();
  TMySqlNet(const TMySqlNet&) = delete;
  TMySqlNet& operator=(const TMySqlNet&) = delete;

  TMySqlVio* Vio() const noexcept { return FVio.get(); }
  // Closes and frees the old transport; a new one starts unbroken with nothing buffered.
  void SetVio(std::unique_ptr<TMySqlVio> vio);

  bool Compress() const noexcept { return FCompress; }
  void SetCompress(bool value) noexcept { FCompress = value; }
  uint8_t Sequence() const noexcept { return FSeq; }
  void SetSequence(uint8_t value) noexcept { FSeq = value; }
  uint8_t CompressedSequence() const noexcept { return FCompSeq; }
  bool Broken() const noexcept { return FBroken; }
  // A read or write of this connection waits in the transport: the application's wait hook may
  // be running its events, and nothing else may use the connection until the wait is over.
  bool Waiting() const noexcept { return FInVio > 0; }
  // Largest logical packet accepted from the peer (default 0x40000000); more raises 2020.
  int MaxPacketSize() const noexcept { return FMaxPacketSize; }
  void SetMaxPacketSize(int value) noexcept { FMaxPacketSize = value > 0 ? value : MYSQL_MAX_PACKET_SIZE; }

  // ---- writing: a packet is built in the buffer, then sent by Flush ----
  // Sequence numbers := 0; the buffer is emptied.
  void Reset();
  void WriteByte(uint8_t value) { Append(&value, 1); }
  // A payload that reaches 0xFFFFFF bytes goes out at once as full chunks, straight from bytes.
  void WriteBytes(std::span<const uint8_t> bytes) {
    if (!bytes.empty()) Append(bytes.data(), bytes.size());
  }
  // Sends the packet being built. A packet whose full chunks already went out gets its last,
  // shorter chunk here, empty when nothing followed them. Nothing is sent for an empty packet
  // (use FlushEmpty). Errors: 2013, 2006.
  void Flush();
  // WriteBytes(bytes) then Flush, the same bytes on the wire; a long payload goes out from the
  // caller's memory instead of being copied into the buffer first.
  void FlushWith(std::span<const uint8_t> bytes);
  // Sends an empty packet; the packet being built must be empty (else an assertion fails).
  void FlushEmpty();

  // ---- reading ----
  // Reads one logical packet (chunks joined) into the buffer, read position 0. A server error
  // packet raises EMySqlException with the server's number and text. Errors: 1156, 1157, 2013,
  // 2020, 2027 (a malformed error packet), 2006.
  void ReadPacket();
  // Reads one packet into a fresh array. A packet of exactly 0xFFFFFF bytes is consumed whole
  // and raises ArgumentException "Cannot retrieve huge data in FetchAll mode"; an empty packet
  // is malformed (2027). Otherwise as ReadPacket.
  TBytes ReadPacketBytes();
  // Reads and discards one physical packet (one header) in pieces of at most chunkSize bytes.
  // firstBytes receives the last piece, its byte 0 replaced by the packet's first byte (by 0
  // when checkError is off). With checkError a first byte 0xFF raises the server error.
  // Returns the packet length.
  int SkipPacket(TBytes& firstBytes, int chunkSize, bool checkError);

  // The packet buffer: after a read the payload; while writing, 4 header bytes and the payload.
  int Length() const noexcept { return FBuffer.Length(); }
  const uint8_t* Data() const noexcept { return FBuffer.GetBuffer().data(); }
  // The payload of the packet just read.
  std::span<const uint8_t> Packet() const noexcept { return {Data(), static_cast<size_t>(Length())}; }

 private:
  void CheckUsable();
  void CheckNotWaiting();
  [[noreturn]] void Fatal(int code, std::initializer_list<FormatArg> args = {}, std::string_view detail = {});
  [[noreturn]] void Malformed() { Fatal(CR_MALFORMED_PACKET); }
  [[noreturn]] void RaiseServerError(const uint8_t* packet, size_t length);

  void BeginWrite();
  void Append(const uint8_t* data, size_t count);
  void SendPlainPacket(const uint8_t* header, const uint8_t* payload, size_t payloadLength);
  void SendRaw(const uint8_t* data, size_t count);
  void SendCompressed(const uint8_t* data, size_t count);
  void SendCompressedPacket();
  void EndSend();

  void VioRead(uint8_t* target, size_t count);
  void ReadRaw(uint8_t* target, size_t count);
  void ReadCompressedPacket();
  uint32_t ReadHeader();
  // ReadPacket of a whole small packet already received (and inflated): one copy and no further
  // call. False, with nothing consumed, when the general path must read it.
  bool ReadPacketReadAhead();
  void Discard(size_t count);

  std::unique_ptr<TMySqlVio> FVio;
  MemoryStream FBuffer{MYSQL_PACKET_BUFFER_SIZE};
  TBytes FInflated;  // data unpacked from compressed packets, not yet consumed from FInflatedPos
  size_t FInflatedPos = 0;
  TBytes FCompOut;  // plain bytes waiting to go out in a compressed packet
  TBytes FPacked;   // the body of the compressed packet being read
  uint8_t FSeq = 0;
  uint8_t FCompSeq = 0;
  bool FCompress = false;
  bool FBroken = false;
  int FInVio = 0;               // transport calls under way (see Waiting)
  bool FWriting = false;        // the buffer holds a packet being built, not one read
  bool FFullChunkSent = false;  // the packet being built already sent a chunk of 0xFFFFFF bytes
  int FMaxPacketSize = MYSQL_MAX_PACKET_SIZE;
};
