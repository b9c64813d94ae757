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

// ---- dates and times --------------------------------------------------------------------------

void PutDate(TMySqlByteWriter& w, TDateTime value) {
  if (value == MySQLZeroDate) {
    w.WriteByte(0);
    return;
  }
  int year, month, day;
  DecodeDate(value, year, month, day);
  w.WriteByte(4);
  w.WriteUInt16(static_cast<uint16_t>(year));
  w.WriteByte(static_cast<uint8_t>(month));
  w.WriteByte(static_cast<uint8_t>(day));
}

void PutDateTime(TMySqlByteWriter& w, TDateTime value) {
  if (value == MySQLZeroDate) {
    w.WriteByte(0);
    return;
  }
  int year, month, day, hour, minute, second, msec;
  DecodeDateTime(value, year, month, day, hour, minute, second, msec);
  w.WriteByte(11);
  w.WriteUInt16(static_cast<uint16_t>(year));
  for (int part : {month, day, hour, minute, second}) w.WriteByte(static_cast<uint8_t>(part));
  w.WriteUInt32(static_cast<uint32_t>(msec) * 1000);
}

// A TIME is a duration: the whole days of the value and the time within the last of them, with
// the value's sign (a time of day has no days; -0.25 is -06:00:00).
void PutTime(TMySqlByteWriter& w, TDateTime value) {
  if (value == MySQLZeroDate) {
    w.WriteByte(0);
    return;
  }
  constexpr double kMaxMs = 4294967295.0 * MSecsPerDay;  // days must fit 32 bits
  const double ms = std::nearbyint(std::fabs(value) * MSecsPerDay);
  if (!std::isfinite(ms) || ms > kMaxMs)
    throw EConvertError("The value " + FloatToStr(value) + " is not a valid time");
  const auto total = static_cast<uint64_t>(ms);
  const uint64_t inDay = total % MSecsPerDay;
  w.WriteByte(12);
  w.WriteByte(value < 0 && total != 0 ? 1 : 0);
  w.WriteUInt32(static_cast<uint32_t>(total / MSecsPerDay));
  w.WriteByte(static_cast<uint8_t>(inDay / 3600000));
  w.WriteByte(static_cast<uint8_t>(inDay / 60000 % 60));
  w.WriteByte(static_cast<uint8_t>(inDay / 1000 % 60));
  w.WriteUInt32(static_cast<uint32_t>(inDay % 1000) * 1000);
}

// Date-times and times with their microseconds; the zero date has no parts.
void PutMicros(TMySqlByteWriter& w, TDataType dataType, const Variant& value) {
  TFieldDesc field;
  field.DataType = dataType;
  const int64_t v = MicrosOfVariant(value, field);
  if (dataType == dtDateTimeUs) {
    if (v == DateTimeUsZero) {
      w.WriteByte(0);
      return;
    }
    int year, month, day, hour, minute, second, usec;
    DecodeDateTimeUs(v, year, month, day, hour, minute, second, usec);
    w.WriteByte(11);
    w.WriteUInt16(static_cast<uint16_t>(year));
    for (int part : {month, day, hour, minute, second}) w.WriteByte(static_cast<uint8_t>(part));
    w.WriteUInt32(static_cast<uint32_t>(usec));
    return;
  }
  const uint64_t total = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  const uint64_t secs = total / 1000000;
  w.WriteByte(12);
  w.WriteByte(v < 0 ? 1 : 0);
  w.WriteUInt32(static_cast<uint32_t>(secs / 86400));
  w.WriteByte(static_cast<uint8_t>(secs / 3600 % 24));
  w.WriteByte(static_cast<uint8_t>(secs / 60 % 60));
  w.WriteByte(static_cast<uint8_t>(secs % 60));
  w.WriteUInt32(static_cast<uint32_t>(total % 1000000));
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
void PutBlob(TMySqlByteWriter& w, void* object, bool text, bool unicode) {
  TBlob* blob = dynamic_cast<TBlob*>(static_cast<TSharedObject*>(object));
  DA_ASSERT_MSG(blob != nullptr, "a parameter's object is not a blob");
  if (blob->IsUnicode()) {
    w.WriteCounted(unicode ? WideToUtf8(blob->GetAsWideString()) : blob->GetAsString());
    return;
  }
  if (text && unicode) {
    w.WriteCounted(AnsiToUtf8(blob->GetAsString()));
    return;
  }
  const uint32_t size = blob->GetSize();
  w.WriteLengthCoded(size);
  const std::span<uint8_t> target = w.Extend(size);
  if (size != 0) {
    const uint32_t read = blob->Read(0, size, target.data());
    DA_ASSERT_MSG(read == size, "a blob delivered fewer bytes than its size");
  }
}

void PutTextOrBytes(TMySqlByteWriter& w, TDataType dataType, const Variant& value, bool unicode) {
  if (value.IsByteArray()) {
    const auto& bytes = value.AsBytes();
    w.WriteCounted(bytes);
  } else if (value.IsObject()) {
    PutBlob(w, value.AsObject(), IsTextType(dataType), unicode);
  } else if (IsTextType(dataType)) {
    w.WriteCounted(TextBytes(value, unicode));
  } else {
    w.WriteCounted(value.AsString());  // binary types and decimal text
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
  TMySqlByteWriter w(out);
  switch (dataType) {
    case dtInt8:
      w.WriteByte(static_cast<uint8_t>(IntegerOf(value, varShortInt)));
      return;
    case dtBoolean:
      w.WriteByte(value.AsBoolean() ? 1 : 0);
      return;
    case dtInt16:
      w.WriteUInt16(static_cast<uint16_t>(IntegerOf(value, varSmallint)));
      return;
    case dtInt32:
      w.WriteUInt32(static_cast<uint32_t>(IntegerOf(value, varInteger)));
      return;
    case dtUInt16:
      w.WriteUInt32(static_cast<uint32_t>(IntegerOf(value, varWord)));
      return;
    case dtUInt32:
      w.WriteUInt32(static_cast<uint32_t>(IntegerOf(value, varLongWord)));
      return;
    case dtInt64:
      w.WriteUInt64(static_cast<uint64_t>(value.AsInt64()));
      return;
    case dtFloat: {
      const double d = value.AsDouble();
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      w.WriteUInt64(bits);
      return;
    }
    case dtDate:
      PutDate(w, value.AsDateTime());
      return;
    case dtTime:
      PutTime(w, value.AsDateTime());
      return;
    case dtDateTime:
      PutDateTime(w, value.AsDateTime());
      return;
    case dtUInt64:
      w.WriteUInt64(value.AsUInt64());
      return;
    case dtDateTimeUs:
    case dtTimeUs:
      PutMicros(w, dataType, value);
      return;
    default:
      MySqlParamWireType(dataType);  // the assertion for types without a wire form
      PutTextOrBytes(w, dataType, value, unicode);
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
  TMySqlByteWriter w(out);
  w.WriteUInt32(statementId);
  w.WriteByte(0);    // flags: no cursor
  w.WriteUInt32(1);  // iteration count
  const auto sent = MySqlSentParams(params);
  if (paramCount == 0 || sent.size() != paramCount) return out;

  std::vector<bool> isNull(sent.size());
  const std::span<uint8_t> bitmap = w.Extend((sent.size() + 7) / 8);
  TBytes types;
  types.reserve(sent.size() * 2);
  TMySqlByteWriter typeWriter(types);
  for (size_t i = 0; i < sent.size(); ++i) {
    isNull[i] = sent[i].IsNull || sent[i].Value.IsNull();
    if (isNull[i]) bitmap[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    typeWriter.WriteUInt16(MySqlParamWireType(sent[i].DataType));
  }
  const bool newTypes = types != lastTypes;
  w.WriteByte(newTypes ? 1 : 0);
  if (newTypes) w.WriteBytes(types);
  for (size_t i = 0; i < sent.size(); ++i) {
    if (!isNull[i]) AppendMySqlParamValue(out, sent[i].DataType, sent[i].Value, unicode);
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
    TBytes args;
    TMySqlByteWriter(args).WriteUInt32(id);
    FSession->SimpleCommand(COM_STMT_CLOSE, args, true);
  }
}

void TMySqlStmt::SessionClosed() noexcept {
  FResult.reset();
  FSession = nullptr;
  FPrepared = false;
  FStatementId = 0;
}
