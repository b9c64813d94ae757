#include "mysql/MySqlStmt.h"

#include <cmath>
#include <cstring>
#include <exception>

#include "core/MemBlob.h"
#include "core/MemFieldValues.h"
#include "mysql/MySqlAuth.h"
#include "mysql/MySqlPackets.h"
#include "mysql/MySqlProtocol.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Format.h"

namespace {

// ---- little-endian writers --------------------------------------------------------------------

void PutUInt16(TBytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutUInt32(TBytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutUInt64(TBytes& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutCounted(TBytes& out, const void* data, size_t count) {
  uint8_t length[9];
  const int n = MySqlPutLengthCoded(length, count);
  out.insert(out.end(), length, length + n);
  const auto* p = static_cast<const uint8_t*>(data);
  out.insert(out.end(), p, p + count);
}

void PutCounted(TBytes& out, const std::string& bytes) {
  PutCounted(out, bytes.data(), bytes.size());
}

// ---- dates and times --------------------------------------------------------------------------

void PutDate(TBytes& out, TDateTime value) {
  if (value == MySQLZeroDate) {
    out.push_back(0);
    return;
  }
  int year, month, day;
  DecodeDate(value, year, month, day);
  out.push_back(4);
  PutUInt16(out, static_cast<uint16_t>(year));
  out.push_back(static_cast<uint8_t>(month));
  out.push_back(static_cast<uint8_t>(day));
}

void PutDateTime(TBytes& out, TDateTime value) {
  if (value == MySQLZeroDate) {
    out.push_back(0);
    return;
  }
  int year, month, day, hour, minute, second, msec;
  DecodeDateTime(value, year, month, day, hour, minute, second, msec);
  out.push_back(11);
  PutUInt16(out, static_cast<uint16_t>(year));
  for (int part : {month, day, hour, minute, second}) out.push_back(static_cast<uint8_t>(part));
  PutUInt32(out, static_cast<uint32_t>(msec) * 1000);
}

// A TIME is a duration: the whole days of the value and the time within the last of them, with
// the value's sign (a time of day has no days; -0.25 is -06:00:00).
void PutTime(TBytes& out, TDateTime value) {
  if (value == MySQLZeroDate) {
    out.push_back(0);
    return;
  }
  constexpr double kMaxMs = 4294967295.0 * MSecsPerDay;  // days must fit 32 bits
  const double ms = std::nearbyint(std::fabs(value) * MSecsPerDay);
  if (!std::isfinite(ms) || ms > kMaxMs)
    throw EConvertError("The value " + FloatToStr(value) + " is not a valid time");
  const auto total = static_cast<uint64_t>(ms);
  const uint64_t inDay = total % MSecsPerDay;
  out.push_back(12);
  out.push_back(value < 0 && total != 0 ? 1 : 0);
  PutUInt32(out, static_cast<uint32_t>(total / MSecsPerDay));
  out.push_back(static_cast<uint8_t>(inDay / 3600000));
  out.push_back(static_cast<uint8_t>(inDay / 60000 % 60));
  out.push_back(static_cast<uint8_t>(inDay / 1000 % 60));
  PutUInt32(out, static_cast<uint32_t>(inDay % 1000) * 1000);
}

// Date-times and times with their microseconds; the zero date has no parts.
void PutMicros(TBytes& out, TDataType dataType, const Variant& value) {
  TFieldDesc field;
  field.DataType = dataType;
  const int64_t v = MicrosOfVariant(value, field);
  if (dataType == dtDateTimeUs) {
    if (v == DateTimeUsZero) {
      out.push_back(0);
      return;
    }
    int year, month, day, hour, minute, second, usec;
    DecodeDateTimeUs(v, year, month, day, hour, minute, second, usec);
    out.push_back(11);
    PutUInt16(out, static_cast<uint16_t>(year));
    for (int part : {month, day, hour, minute, second}) out.push_back(static_cast<uint8_t>(part));
    PutUInt32(out, static_cast<uint32_t>(usec));
    return;
  }
  const uint64_t total = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  const uint64_t secs = total / 1000000;
  out.push_back(12);
  out.push_back(v < 0 ? 1 : 0);
  PutUInt32(out, static_cast<uint32_t>(secs / 86400));
  out.push_back(static_cast<uint8_t>(secs / 3600 % 24));
  out.push_back(static_cast<uint8_t>(secs / 60 % 60));
  out.push_back(static_cast<uint8_t>(secs % 60));
  PutUInt32(out, static_cast<uint32_t>(total % 1000000));
}

// ---- text and bytes ---------------------------------------------------------------------------

bool IsTextType(TDataType t) {
  switch (t) {
    case dtUnknown:
    case dtString:
    case dtMemo:
    case dtExtString:
    case dtWideString:
    case dtExtWideString:
    case dtWideMemo:
      return true;
    default:
      return false;
  }
}

std::string TextBytes(const Variant& value, bool unicode) {
  if (!unicode) return value.AsString();
  if (value.VarType() == varOleStr) return WideToUtf8(value.AsWideString());
  return AnsiToUtf8(value.AsString());
}

// A blob of text is converted as text is; any other is sent as its bytes, read whole (a compressed
// blob inflates straight into the request) so that the length sent is the length written.
void PutBlob(TBytes& out, void* object, bool text, bool unicode) {
  TBlob* blob = dynamic_cast<TBlob*>(static_cast<TSharedObject*>(object));
  DA_ASSERT_MSG(blob != nullptr, "a parameter's object is not a blob");
  if (blob->IsUnicode()) {
    PutCounted(out, unicode ? WideToUtf8(blob->GetAsWideString()) : blob->GetAsString());
    return;
  }
  if (text && unicode) {
    PutCounted(out, AnsiToUtf8(blob->GetAsString()));
    return;
  }
  const uint32_t size = blob->GetSize();
  uint8_t length[9];
  const int n = MySqlPutLengthCoded(length, size);
  out.insert(out.end(), length, length + n);
  const size_t at = out.size();
  out.resize(at + size);
  if (size != 0) {
    const uint32_t read = blob->Read(0, size, out.data() + at);
    DA_ASSERT_MSG(read == size, "a blob delivered fewer bytes than its size");
  }
}

void PutTextOrBytes(TBytes& out, TDataType dataType, const Variant& value, bool unicode) {
  if (value.IsByteArray()) {
    const auto& bytes = value.AsBytes();
    PutCounted(out, bytes.data(), bytes.size());
  } else if (value.IsObject()) {
    PutBlob(out, value.AsObject(), IsTextType(dataType), unicode);
  } else if (IsTextType(dataType)) {
    PutCounted(out, TextBytes(value, unicode));
  } else {
    PutCounted(out, value.AsString());  // binary types and decimal text
  }
}

// Integers go through the platform's conversions, which refuse values the type cannot hold.
int64_t IntegerOf(const Variant& value, uint16_t varType) {
  return value.ChangeType(varType).AsInt64();
}

}  // namespace

// ---- prepare reply ------------------------------------------------------------------------------

TMySqlPrepareOk ParseMySqlPrepareOk(std::span<const uint8_t> packet) {
  TMySqlByteReader r(packet);
  if (r.ReadByte() != 0) RaiseMalformedPacket();
  TMySqlPrepareOk ok;
  ok.StatementId = r.ReadUInt32();
  ok.FieldCount = r.ReadUInt16();
  ok.ParamCount = r.ReadUInt16();
  if (!r.AtEnd()) {
    r.ReadByte();  // filler
    ok.WarningCount = r.ReadUInt16();
  }
  r.ExpectEnd();
  if (ok.FieldCount > MYSQL_MAX_FIELD_COUNT) RaiseMalformedPacket();
  return ok;
}

// ---- execute request ----------------------------------------------------------------------------

uint16_t MySqlParamWireType(TDataType dataType) {
  switch (dataType) {
    case dtUnknown:
    case dtString:
    case dtBlob:
    case dtMemo:
    case dtExtString:
    case dtWideString:
    case dtExtWideString:
    case dtBCD:
    case dtFmtBCD:
    case dtWideMemo:
    // Byte values have an encoding of their own below, so they get the type that carries it.
    case dtBytes:
    case dtVarBytes:
    case dtExtVarBytes:
      return mftVarString;
    case dtInt8:
    case dtBoolean:
      return mftTiny;
    case dtInt16:
      return mftShort;
    case dtInt32:
      return mftLong;
    case dtUInt16:
    case dtUInt32:
      return mftLong | MYSQL_PARAM_UNSIGNED << 8;
    case dtFloat:
      return mftDouble;
    case dtDate:
      return mftDate;
    case dtTime:
      return mftTime;
    case dtDateTime:
      return mftDateTime;
    case dtInt64:
      return mftLongLong;
    case dtUInt64:
      return mftLongLong | MYSQL_PARAM_UNSIGNED << 8;
    case dtDateTimeUs:
      return mftDateTime;
    case dtTimeUs:
      return mftTime;
    default:
      break;
  }
  DA_ASSERT_MSG(false, Format("Invalid internal field type $%X (%d)", {dataType, dataType}));
  return 0;
}

void AppendMySqlParamValue(TBytes& out, TDataType dataType, const Variant& value, bool unicode) {
  switch (dataType) {
    case dtInt8:
      out.push_back(static_cast<uint8_t>(IntegerOf(value, varShortInt)));
      return;
    case dtBoolean:
      out.push_back(value.AsBoolean() ? 1 : 0);
      return;
    case dtInt16:
      PutUInt16(out, static_cast<uint16_t>(IntegerOf(value, varSmallint)));
      return;
    case dtInt32:
      PutUInt32(out, static_cast<uint32_t>(IntegerOf(value, varInteger)));
      return;
    case dtUInt16:
      PutUInt32(out, static_cast<uint32_t>(IntegerOf(value, varWord)));
      return;
    case dtUInt32:
      PutUInt32(out, static_cast<uint32_t>(IntegerOf(value, varLongWord)));
      return;
    case dtInt64:
      PutUInt64(out, static_cast<uint64_t>(value.AsInt64()));
      return;
    case dtFloat: {
      const double d = value.AsDouble();
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      PutUInt64(out, bits);
      return;
    }
    case dtDate:
      PutDate(out, value.AsDateTime());
      return;
    case dtTime:
      PutTime(out, value.AsDateTime());
      return;
    case dtDateTime:
      PutDateTime(out, value.AsDateTime());
      return;
    case dtUInt64:
      PutUInt64(out, value.AsUInt64());
      return;
    case dtDateTimeUs:
    case dtTimeUs:
      PutMicros(out, dataType, value);
      return;
    default:
      MySqlParamWireType(dataType);  // the assertion for types without a wire form
      PutTextOrBytes(out, dataType, value, unicode);
      return;
  }
}

std::vector<TMySqlStmtParam> MySqlStmtParams(const TParamDescs& params) {
  std::vector<TMySqlStmtParam> values(static_cast<size_t>(params.Count()));
  for (int i = 0; i < params.Count(); ++i) {
    const TParamDesc& p = *params[i];
    values[static_cast<size_t>(i)] = {p.GetDataType(), p.GetParamType(), p.GetNull(), p.GetValue()};
  }
  return values;
}

std::span<const TMySqlStmtParam> MySqlSentParams(std::span<const TMySqlStmtParam> params) {
  if (!params.empty() && params.front().ParamType == MYSQL_PARAM_RESULT) return params.subspan(1);
  return params;
}

TBytes BuildMySqlExecuteRequest(uint32_t statementId, uint32_t paramCount,
                                std::span<const TMySqlStmtParam> params, bool unicode, TBytes& lastTypes) {
  TBytes out;
  PutUInt32(out, statementId);
  out.push_back(0);   // flags: no cursor
  PutUInt32(out, 1);  // iteration count
  const auto sent = MySqlSentParams(params);
  if (paramCount == 0 || sent.size() != paramCount) return out;

  const size_t bitmapAt = out.size();
  out.resize(bitmapAt + (sent.size() + 7) / 8);
  TBytes types;
  types.reserve(sent.size() * 2);
  for (size_t i = 0; i < sent.size(); ++i) {
    if (sent[i].IsNull || sent[i].Value.IsNull())
      out[bitmapAt + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    PutUInt16(types, MySqlParamWireType(sent[i].DataType));
  }
  const bool newTypes = types != lastTypes;
  out.push_back(newTypes ? 1 : 0);
  if (newTypes) out.insert(out.end(), types.begin(), types.end());
  for (size_t i = 0; i < sent.size(); ++i) {
    if (!(out[bitmapAt + i / 8] & (1u << (i % 8))))
      AppendMySqlParamValue(out, sent[i].DataType, sent[i].Value, unicode);
  }
  lastTypes = std::move(types);
  return out;
}

// ---- binary values ------------------------------------------------------------------------------

TMySqlTime DecodeMySqlBinaryTemporal(std::span<const uint8_t> value, uint8_t type) {
  TMySqlByteReader r(value);
  TMySqlTime t;
  const size_t size = value.size();
  if (type == mftDate || type == mftDateTime || type == mftTimestamp) {
    if (size != 0 && size != 4 && size != 7 && size != 11) RaiseMalformedPacket();
    t.TimeType = type == mftDate ? MYSQL_TIMESTAMP_DATE : MYSQL_TIMESTAMP_DATETIME;
    if (size >= 4) {
      t.Year = r.ReadUInt16();
      t.Month = r.ReadByte();
      t.Day = r.ReadByte();
    }
    if (size >= 7) {
      t.Hour = r.ReadByte();
      t.Minute = r.ReadByte();
      t.Second = r.ReadByte();
    }
    if (size == 11) t.SecondPart = r.ReadUInt32();
  } else if (type == mftTime) {
    if (size != 0 && size != 8 && size != 12) RaiseMalformedPacket();
    t.TimeType = MYSQL_TIMESTAMP_TIME;
    if (size >= 8) {
      t.Neg = r.ReadByte() != 0 ? 1 : 0;
      const uint32_t days = r.ReadUInt32();
      const uint32_t hour = r.ReadByte();
      if (days > (UINT32_MAX - hour) / 24) RaiseMalformedPacket();
      t.Hour = days * 24 + hour;
      t.Minute = r.ReadByte();
      t.Second = r.ReadByte();
    }
    if (size == 12) t.SecondPart = r.ReadUInt32();
  } else {
    RaiseMalformedPacket();
  }
  r.ExpectEnd();
  return t;
}

// ---- TMySqlStmt ---------------------------------------------------------------------------------

TMySqlStmt::TMySqlStmt(TMySqlSession& session) : FSession(&session) {}

TMySqlStmt::~TMySqlStmt() {
  try {
    Close();
  } catch (...) {
    // A dead connection cannot take the close; the server drops the statement with the session.
  }
}

TMySqlSession& TMySqlStmt::CheckSession() const {
  if (!FSession) RaiseMySqlClientError(CR_SERVER_GONE_ERROR);
  return *FSession;
}

void TMySqlStmt::Prepare(std::span<const uint8_t> text) {
  TMySqlSession& session = CheckSession();
  if (FPrepared) Close();
  ReadPrepareReply(session.SimpleCommand(COM_STMT_PREPARE, text));
}

void TMySqlStmt::ReadPrepareReply(std::span<const uint8_t> reply) {
  TMySqlPrepareOk ok;
  try {
    ok = ParseMySqlPrepareOk(reply);
  } catch (...) {
    FSession->MarkBroken();  // what follows the reply cannot be told apart any more
    throw;
  }
  // The server holds the statement from here on: a failure below still closes it there.
  FStatementId = ok.StatementId;
  FPrepared = true;
  FParamCount = ok.ParamCount;
  FParamTypes.clear();
  FFields.clear();
  FAffectedRows = 0;
  try {
    if (ok.ParamCount > 0) ReadDescriptions(ok.ParamCount, nullptr);
    if (ok.FieldCount > 0) ReadDescriptions(ok.FieldCount, &FFields);
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
}

void TMySqlStmt::ReadDescriptions(uint32_t count, std::vector<TMySqlFieldInfo>* fields) {
  TMySqlSession& session = *FSession;
  const bool protocol41 = session.IsProtocol41();
  const bool longFlag = session.ServerCapabilities() & CLIENT_LONG_FLAG;
  session.SetPendingStatus(MYSQL_STATUS_GET_RESULT);  // read like the descriptions of a result
  uint32_t read = 0;
  std::span<const uint8_t> packet;
  while (session.ReadResultPacket(packet)) {
    try {
      if (read == count) RaiseMalformedPacket();
      if (fields) fields->push_back(ParseMySqlFieldPacket(packet, protocol41, longFlag));
    } catch (...) {
      session.MarkBroken();
      throw;
    }
    ++read;
  }
  if (read != count) RaiseMalformedPacket();
}

void TMySqlStmt::Execute(std::span<const TMySqlStmtParam> params, bool unicode) {
  TMySqlSession& session = CheckSession();
  if (!FPrepared) RaiseMySqlClientError(CR_NO_PREPARE_STMT);
  FreeResult();
  TBytes types = FParamTypes;
  const TBytes request = BuildMySqlExecuteRequest(FStatementId, FParamCount, params, unicode, types);
  try {
    session.SimpleCommand(COM_STMT_EXECUTE, request, true);
    session.ReadQueryResult();
  } catch (...) {
    // Whether the server kept the types is unknown: the next execute sends them again.
    FParamTypes.clear();
    throw;
  }
  FParamTypes = std::move(types);
  FAffectedRows = session.AffectedRows();
  if (session.PendingStatus() == MYSQL_STATUS_GET_RESULT) TakeResult();
}

void TMySqlStmt::TakeResult() {
  TMySqlSession& session = *FSession;
  FFields = session.TakeFields();
  FResult = std::make_unique<TMySqlResultSet>(session, FFields);
  // Rows of a statement are binary rows, bound or not.
  FResult->SetResultBinds(std::make_unique<TMySqlBinds>(static_cast<int>(FFields.size())));
}

void TMySqlStmt::BindResult(std::unique_ptr<TMySqlBinds> binds) {
  if (!FPrepared) RaiseMySqlClientError(CR_NO_PREPARE_STMT);
  if (!FResult) RaiseMySqlClientError(CR_UNKNOWN_ERROR);
  DA_ASSERT(binds && binds->Count() == static_cast<int>(FResult->FieldCount()));
  FResult->SetResultBinds(std::move(binds));
}

int TMySqlStmt::Fetch() {
  if (!FResult) return MYSQL_NO_DATA;
  return FResult->Fetch() ? 0 : MYSQL_NO_DATA;
}

void TMySqlStmt::FreeResult() {
  if (!FResult) return;
  const std::unique_ptr<TMySqlResultSet> result = std::move(FResult);
  result->Close();
  // A procedure call ends with further results of its own; left unread they would block the
  // session for every later command.
  TMySqlSession& session = CheckSession();
  while (session.State() == TMySqlSessionState::ResultPending && session.MoreResults()) {
    session.NextResult();
    session.DrainResult();
  }
}

void TMySqlStmt::Close() {
  std::exception_ptr failure;
  try {
    FreeResult();
  } catch (...) {
    failure = std::current_exception();
  }
  const bool prepared = FPrepared;
  const uint32_t id = FStatementId;
  FPrepared = false;
  FStatementId = 0;
  FParamCount = 0;
  FFields.clear();
  FParamTypes.clear();
  if (failure) std::rethrow_exception(failure);
  if (prepared && FSession) {
    const uint8_t args[4] = {uint8_t(id), uint8_t(id >> 8), uint8_t(id >> 16), uint8_t(id >> 24)};
    FSession->SimpleCommand(COM_STMT_CLOSE, args, true);
  }
}

void TMySqlStmt::SessionClosed() noexcept {
  FResult.reset();
  FSession = nullptr;
  FPrepared = false;
  FStatementId = 0;
}
