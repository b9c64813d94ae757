// The MySQL protocol's vocabulary, below the transports, the packet codecs and the session: the
// client error numbers with their texts and the client exception, the column types and column
// flags of field packets, the zero date, the packet cap, and the size of fixed-size binary values.
// Everything here is constants and pure functions; nothing does I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "platform/runtime/DateTimeUtils.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

// ---- limits ----------------------------------------------------------------------------------

inline constexpr int MYSQL_MAX_PACKET_SIZE = 0x40000000;  // the largest packet; announced at login

// ---- error numbers ---------------------------------------------------------------------------

inline constexpr int CR_MIN_ERROR = 2000;
inline constexpr int CR_MAX_ERROR = 2047;

// Client error numbers the library raises.
inline constexpr int CR_UNKNOWN_ERROR = 2000;
inline constexpr int CR_CONN_HOST_ERROR = 2003;
inline constexpr int CR_UNKNOWN_HOST = 2005;
inline constexpr int CR_SERVER_GONE_ERROR = 2006;
inline constexpr int CR_VERSION_ERROR = 2007;
inline constexpr int CR_SERVER_HANDSHAKE_ERR = 2012;
inline constexpr int CR_SERVER_LOST = 2013;
inline constexpr int CR_COMMANDS_OUT_OF_SYNC = 2014;
inline constexpr int CR_NAMEDPIPEWAIT_ERROR = 2016;
inline constexpr int CR_NAMEDPIPEOPEN_ERROR = 2017;
inline constexpr int CR_NAMEDPIPESETSTATE_ERROR = 2018;
inline constexpr int CR_NET_PACKET_TOO_LARGE = 2020;
inline constexpr int CR_SSL_CONNECTION_ERROR = 2026;
inline constexpr int CR_MALFORMED_PACKET = 2027;
inline constexpr int CR_NULL_POINTER = 2028;
inline constexpr int CR_NO_PREPARE_STMT = 2029;
inline constexpr int CR_PARAMS_NOT_BOUND = 2030;
inline constexpr int CR_CONN_UNKNOW_PROTOCOL = 2046;
inline constexpr int CR_INVALID_CONN_HANDLE = 2047;
// Server-side numbers the packet layer raises itself.
inline constexpr int ER_NET_PACKETS_OUT_OF_ORDER = 1156;
inline constexpr int ER_NET_UNCOMPRESS_ERROR = 1157;

// ---- errors ----------------------------------------------------------------------------------

class EMySqlException : public Exception {
 public:
  EMySqlException(int errorCode, std::string message) : Exception(std::move(message)), ErrorCode(errorCode) {}
  int ErrorCode;
};

// The client text of 2000-2047; "" for any other number.
const char* MySqlClientErrorText(int code) noexcept;
// The client text formatted with args (left unformatted when the args do not fit it), then CR LF
// and detail when detail is not empty. A server error therefore reads CR LF + the server's text.
std::string MySqlErrorMessage(int code, std::initializer_list<FormatArg> args = {},
                              std::string_view detail = {});
[[noreturn]] void RaiseMySqlClientError(int code, std::initializer_list<FormatArg> args = {},
                                        std::string_view detail = {});

// ---- columns ---------------------------------------------------------------------------------

// MySQL column types: the field-type byte of the client protocol.
enum TMyFieldType : uint8_t {
  mftDecimal = 0,
  mftTiny = 1,
  mftShort = 2,
  mftLong = 3,
  mftFloat = 4,
  mftDouble = 5,
  mftNull = 6,
  mftTimestamp = 7,
  mftLongLong = 8,
  mftInt24 = 9,
  mftDate = 10,
  mftTime = 11,
  mftDateTime = 12,
  mftYear = 13,
  mftNewDate = 14,
  mftVarChar = 15,
  mftBit = 16,
  mftNewDecimal = 246,
  mftEnum = 247,
  mftSet = 248,
  mftTinyBlob = 249,
  mftMediumBlob = 250,
  mftLongBlob = 251,
  mftBlob = 252,
  mftVarString = 253,
  mftString = 254,
  mftGeometry = 255,
};

// Column flags of a field packet.
inline constexpr uint32_t mffNotNull = 1;
inline constexpr uint32_t mffPriKey = 2;
inline constexpr uint32_t mffUniqueKey = 4;
inline constexpr uint32_t mffMultipleKey = 8;
inline constexpr uint32_t mffUnsigned = 32;
inline constexpr uint32_t mffBinary = 128;
inline constexpr uint32_t mffAutoIncrement = 512;
inline constexpr uint32_t mffPartKey = 16384;
inline constexpr uint32_t mffNum = 0x8000;

// Bytes of a binary-protocol value of a fixed-size column type (TINY 1, SHORT and YEAR 2, LONG,
// INT24 and FLOAT 4, LONGLONG and DOUBLE 8); 0 for the types whose values carry a length.
size_t MySqlBinaryFixedSize(uint8_t type) noexcept;

// Stands for the zero date "0000-00-00 00:00:00" in dtDate, dtTime and dtDateTime fields: the day
// before 0001-01-01 (days since 1899-12-30), a value no real date has, so that a real 0001-01-01
// reads and writes back as itself. It is no valid platform date (DecodeDate raises for it).
// dtDateTimeUs fields hold the zero date as DateTimeUsZero.
inline constexpr TDateTime MySQLZeroDate = MinDateTime - 1;
