// Server-side prepared statements of the binary protocol: the codecs (prepare reply, execute
// request with its parameter encodings, binary date and time values), kept as pure functions over
// bytes, and TMySqlStmt, which runs them on a session.
//
// Every parser reads through a bounded reader: a packet or value shorter than its fields, or with
// bytes left over, raises EMySqlException 2027 "Malformed packet".
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/CLRClasses.h"
#include "core/CRAccess.h"
#include "core/MemFieldDesc.h"
#include "mysql/MySqlResultSet.h"
#include "mysql/MySqlSession.h"
#include "mysql/MySqlTypes.h"
#include "platform/runtime/Variant.h"

// Fetch results of a statement (besides 0, a row).
inline constexpr int MYSQL_NO_DATA = 100;
inline constexpr int MYSQL_DATA_TRUNCATED = 101;

// The flag byte that follows a parameter's type byte.
inline constexpr uint8_t MYSQL_PARAM_UNSIGNED = 0x80;

// The platform's parameter direction of a function result, which is never sent.
inline constexpr uint8_t MYSQL_PARAM_RESULT = 4;

// ---- prepare reply ----------------------------------------------------------------------------

struct TMySqlPrepareOk {
  uint32_t StatementId = 0;
  uint16_t FieldCount = 0;
  uint16_t ParamCount = 0;
  uint16_t WarningCount = 0;
};

// The first packet of a prepare reply: 0, statement id (4), field count (2), parameter count (2),
// then optionally a filler byte and the warning count (2). Error packets never get here.
// Errors: 2027 (also for a field count above MYSQL_MAX_FIELD_COUNT).
TMySqlPrepareOk ParseMySqlPrepareOk(std::span<const uint8_t> packet);

// ---- execute request --------------------------------------------------------------------------

// One parameter value as a statement sends it. Value may hold a byte array, or a blob as an
// object reference (TParamDesc::SetObject), for the text and binary types.
struct TMySqlStmtParam {
  TDataType DataType = dtUnknown;
  uint8_t ParamType = 0;  // the direction; a leading MYSQL_PARAM_RESULT is not sent
  bool IsNull = false;    // also NULL when Value is Null
  Variant Value;
};

// The values of a command's parameter descriptions.
std::vector<TMySqlStmtParam> MySqlStmtParams(const TParamDescs& params);

// The 2-byte type a parameter is sent with: the protocol's column type and, for dtUInt16 and
// dtUInt32, MYSQL_PARAM_UNSIGNED in the high byte. Text, binary and decimal types travel as
// VAR_STRING. A type without a wire form (dtCurrency, dtObject...) fails an assertion
// "Invalid internal field type $%X (%d)".
uint16_t MySqlParamWireType(TDataType dataType);

// Appends the binary form of one non-NULL value of the given data type:
//  integers little-endian (TINY 1, SHORT 2, LONG 4 bytes - dtUInt16 as LONG -, LONGLONG 8),
//  dtBoolean one byte 0/1, dtFloat the 8 bytes of the double;
//  dtDate: 4, year (2), month, day; dtDateTime: 11, year (2), month, day, hour, minute, second,
//  microseconds (4); dtTime: 12, sign, whole days (4), hour, minute, second, microseconds (4),
//  the sign and days taken from the value (a time of day has 0 days); MySQLZeroDate as the
//  zero date (length 0);
//  text, decimal and binary types: length-coded length and the bytes. Byte arrays and blobs of
//  dtBlob, dtBytes and dtVarBytes go as they are; text goes as UTF-8 with `unicode`, else as ANSI
//  (wide values and wide blobs converted); a compressed blob is read uncompressed and left as it is.
//  An object reference that is not a blob fails an assertion.
// Errors: EConvertError (EVariantOverflowError, EVariantTypeCastError) for a value that does not
// convert to the type or does not fit it; the assertion of MySqlParamWireType.
void AppendMySqlParamValue(TBytes& out, TDataType dataType, const Variant& value, bool unicode);

// The parameters to send: the list less a leading result parameter.
std::span<const TMySqlStmtParam> MySqlSentParams(std::span<const TMySqlStmtParam> params);

// The payload of COM_STMT_EXECUTE after the command byte: statement id, flags 0, iteration count
// 1; then, when the statement has parameters and exactly that many are sent, the NULL bitmap, the
// new-parameters-bound flag, the types (only when they differ from lastTypes, which then takes
// them) and the non-NULL values. A count that does not match sends no parameter block and leaves
// lastTypes; the server then refuses the statement. Errors: as AppendMySqlParamValue.
TBytes BuildMySqlExecuteRequest(uint32_t statementId, uint32_t paramCount,
                                std::span<const TMySqlStmtParam> params, bool unicode, TBytes& lastTypes);

// ---- binary values ------------------------------------------------------------------------

enum : int32_t { MYSQL_TIMESTAMP_DATE = 0, MYSQL_TIMESTAMP_DATETIME = 1, MYSQL_TIMESTAMP_TIME = 2 };

// A DATE, DATETIME or TIMESTAMP value of a binary row (its bytes after the length): 0 bytes (the
// zero date), 4 (date), 7 (and time) or 11 (and microseconds). A TIME value: 0, 8 or 12 bytes:
// sign, days (4), hour, minute, second[, microseconds]; its days are counted into Hour.
// Errors: 2027 for any other length, days that overflow the hours, or a type that is not one of
// these.
TMySqlTime DecodeMySqlBinaryTemporal(std::span<const uint8_t> value, uint8_t type);

// ---- TMySqlStmt -------------------------------------------------------------------------------

// A prepared statement on one session. States: created -> Prepare (prepared) -> Execute, with a
// result when the statement returns rows -> Fetch until MYSQL_NO_DATA -> FreeResult or the next
// Execute -> Close (not prepared). Used by the thread that uses its session.
class TMySqlStmt {
 public:
  explicit TMySqlStmt(TMySqlSession& session);
  // Close, swallowing every failure: the connection may be gone already.
  virtual ~TMySqlStmt();
  TMySqlStmt(const TMySqlStmt&) = delete;
  TMySqlStmt& operator=(const TMySqlStmt&) = delete;

  // Error number and text of the last client-API call on this statement (kept by the client API).
  uint32_t ErrorNumber = 0;
  std::string ErrorText;

  // Prepares text on the server; a statement prepared before is closed first.
  // Errors: the server's (syntax errors...); 2006 when the session is not usable; 2014 while a
  // result is pending on it; 2013, 2027 (the session breaks).
  void Prepare(std::span<const uint8_t> text);
  // Frees the previous result, sends the parameters and reads the reply; a reply with rows gives
  // the statement a result (field descriptions from the reply) whose rows decode as binary rows.
  // Errors: 2029 when not prepared; as AppendMySqlParamValue (nothing is sent then); as Prepare.
  void Execute(std::span<const TMySqlStmtParam> params, bool unicode);
  void Execute(const TParamDescs& params, bool unicode) { Execute(MySqlStmtParams(params), unicode); }
  // Values kept for ExecuteBound, which executes with them (none bound: no parameters).
  void BindParams(std::vector<TMySqlStmtParam> params, bool unicode) {
    FBoundParams = std::move(params);
    FBoundUnicode = unicode;
  }
  void ExecuteBound() { Execute(FBoundParams, FBoundUnicode); }
  // Binds of FieldCount entries into which rows are decoded. Errors: 2029 when not prepared, 2000
  // without a result.
  void BindResult(std::unique_ptr<TMySqlBinds> binds);
  // The next row into the result binds: 0, or MYSQL_NO_DATA at the end (or without a result).
  // Errors: the server's (the result ends); 2013, 2027 (the session breaks).
  int Fetch();
  // Reads what is left of the result and frees it. Errors: as Fetch (the result is freed).
  void FreeResult();
  // Frees the result and, when prepared, sends COM_STMT_CLOSE (no reply). The statement is not
  // prepared afterwards whatever fails. Errors: as FreeResult; 2006, 2013, 2014 for the close.
  void Close();
  // The session is closing: the result is freed while the session still exists, and the
  // statement forgets it; every later operation raises 2006.
  void SessionClosed() noexcept;

  TMySqlSession* Session() const noexcept { return FSession; }
  uint32_t StatementId() const noexcept { return FStatementId; }
  bool Prepared() const noexcept { return FPrepared; }
  uint32_t ParamCount() const noexcept { return FParamCount; }
  uint32_t FieldCount() const noexcept { return static_cast<uint32_t>(FFields.size()); }
  const std::vector<TMySqlFieldInfo>& Fields() const noexcept { return FFields; }
  uint64_t AffectedRows() const noexcept { return FAffectedRows; }
  // The type bytes sent with the last execute (2 per parameter).
  const TBytes& ParamTypes() const noexcept { return FParamTypes; }
  // The result of the last execute; nil when it had no rows or was freed.
  TMySqlResultSet* Result() const noexcept { return FResult.get(); }

 private:
  TMySqlSession* FSession;
  std::unique_ptr<TMySqlResultSet> FResult;
  uint32_t FStatementId = 0;
  bool FPrepared = false;
  uint32_t FParamCount = 0;
  std::vector<TMySqlStmtParam> FBoundParams;
  bool FBoundUnicode = false;
  std::vector<TMySqlFieldInfo> FFields;
  uint64_t FAffectedRows = 0;
  TBytes FParamTypes;

  TMySqlSession& CheckSession() const;
  void ReadPrepareReply(std::span<const uint8_t> reply);
  // Reads description packets up to their EOF: exactly count of them, parsed into fields when
  // given, else dropped.
  void ReadDescriptions(uint32_t count, std::vector<TMySqlFieldInfo>* fields);
  void TakeResult();
};
