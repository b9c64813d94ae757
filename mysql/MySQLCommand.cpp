#include "mysql/MySQLCommand.h"

#include <atomic>
#include <utility>

#include "core/CLRClasses.h"
#include "mysql/MyClasses.h"
#include "mysql/MyParser.h"
#include "mysql/MySQLConnection.h"
#include "mysql/MySqlProtocol.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Format.h"

namespace {

bool IsInput(const TParamDesc* p) noexcept {
  return p->GetParamType() == pdInput || p->GetParamType() == pdUnknown;
}

}  // namespace

std::vector<size_t> FindPlaceholders(const std::string& sql, TCharsetKind charset, bool noBackslashEscapes) {
  std::vector<size_t> result;
  if (sql.find('?') == std::string::npos) return result;
  TMyParser parser(sql, charset);
  parser.NoBackslashEscapes = noBackslashEscapes;
  parser.OmitBlank = true;
  parser.OmitComment = true;
  parser.OmitKeywords = true;
  std::string lexem;
  for (int code = parser.GetNext(lexem); code != lcEnd; code = parser.GetNext(lexem))
    if (code == lcSymbol && lexem == "?")
      result.push_back(static_cast<size_t>(parser.GetCurrPos() - 1));  // "?" is one byte
  return result;
}

TMySQLCommand::~TMySQLCommand() {
  try {
    if (FResult != nullptr && FMyConnection != nullptr) {
      PMYSQL_RES result = FResult;
      FResult = nullptr;
      API().mysql_free_result(result);
    }
    if (FStmt != nullptr && FMyConnection != nullptr) API().mysql_stmt_close(FStmt);
  } catch (...) {
    // A destructor never throws; the handles belong to a session that may be gone.
  }
}

TMySQLAPI& TMySQLCommand::API() const {
  DA_ASSERT_MSG(FMyConnection != nullptr && FMyConnection->GetAPI() != nullptr,
                "command without a connection");
  return *FMyConnection->GetAPI();
}

PMYSQL_CON TMySQLCommand::Handle() const {
  DA_ASSERT_MSG(FMyConnection != nullptr, "command without a connection");
  DA_ASSERT_MSG(FMyConnection->GetMySQL() != nullptr, "command on a closed connection");
  return FMyConnection->GetMySQL();
}

void TMySQLCommand::CheckPtr(const void* value) {
  DA_ASSERT(FMyConnection != nullptr);
  FMyConnection->CheckPtr(value, FComponent);
}

void TMySQLCommand::CheckStatus(int status) {
  DA_ASSERT(FMyConnection != nullptr);
  FMyConnection->CheckStatus(status, FComponent);
}

void TMySQLCommand::CheckErrno() {
  DA_ASSERT(FMyConnection != nullptr);
  FMyConnection->CheckErrno(FComponent);
}

void TMySQLCommand::CheckStmt(int status) {
  DA_ASSERT(FMyConnection != nullptr);
  FMyConnection->CheckStmt(status, FStmt, FComponent);
}

// ---- settings ---------------------------------------------------------------------------------

void TMySQLCommand::SetConnection(TCRConnection* value) {
  if (value == FConnection) return;
  auto* connection = dynamic_cast<TMySQLConnection*>(value);
  DA_ASSERT_MSG(value == nullptr || connection != nullptr, "a MySQL command needs a MySQL connection");
  TCRCommand::SetConnection(value);
  FMyConnection = connection;
  FSQLParts.clear();  // split for the previous connection's character set
}

void TMySQLCommand::SetSQL(std::shared_ptr<const std::string> value) {
  TCRCommand::SetSQL(std::move(value));
  if (!FCollectingPositions) FParamPositions.clear();
  FSQLParts.clear();
}

bool TMySQLCommand::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case prParamCheck:
      return true;
    case prCommandTimeout:
      CommandTimeout = value.AsInteger();
      return true;
    case prOutParamsRead:
      OutParamsRead = value.AsBoolean();
      return true;
    case prParamPosition:
      FParamPositions.push_back(value.AsInteger());
      return true;
    case prCollectingPositions:
      FCollectingPositions = value.AsBoolean();
      if (FCollectingPositions) FParamPositions.clear();
      return true;
    default:
      return TCRCommand::SetProp(prop, value);
  }
}

bool TMySQLCommand::GetProp(int prop, Variant& value) {
  switch (prop) {
    case prRowsAffected: {
      DA_ASSERT_MSG(!OutParamsRead || ProcedureCall,
                    "OUT parameters read from a command that is no procedure call");
      const int64_t rows = OutParamsRead ? FPrevRowsAffected : FRowsAffected;
      value = rows < 0 ? int64_t{0} : rows;
      return true;
    }
    case prOutParamsRead:
      value = OutParamsRead;
      return true;
    default:
      return TCRCommand::GetProp(prop, value);
  }
}

// ---- prepare ----------------------------------------------------------------------------------

void TMySQLCommand::Prepare() {
  if (FPrepared) return;
  PMYSQL_CON handle = Handle();
  TMySQLAPI& api = API();
  FStmt = api.mysql_stmt_init(handle);
  try {
    CheckPtr(FStmt);
    api.SetTimeout(handle, static_cast<uint32_t>(CommandTimeout));
    const std::string text = FMyConnection->GetUseUnicode() ? AnsiToUtf8(GetSQL()) : GetSQL();
    FMyConnection->NoteStatementText(text);
    CheckStmt(api.mysql_stmt_prepare(FStmt, text));
    FPrepared = true;
    TCRCommand::Prepare();
  } catch (...) {
    if (FStmt != nullptr) api.mysql_stmt_close(FStmt);
    FStmt = nullptr;
    FPrepared = false;
    throw;
  }
}

void TMySQLCommand::Unprepare() {
  if (!FPrepared || FStmt == nullptr) return;
  PMYSQL_STMT stmt = FStmt;
  FStmt = nullptr;
  FPrepared = false;
  TCRCommand::Unprepare();
  API().mysql_stmt_close(stmt);
}

// ---- execute ----------------------------------------------------------------------------------

void TMySQLCommand::Execute() {
  if (FCursorState != csInactive && FCursorState != csPrepared) return;
  OutParamsRead = false;
  const TCursorState kept = FCursorState;
  API().SetTimeout(Handle(), static_cast<uint32_t>(CommandTimeout));
  SetExecuting(true);
  BreakRequested = false;
  FCursorState = csExecuting;
  try {
    if (FPrepared)
      ExecutePrepared();
    else
      ExecuteText();
  } catch (...) {
    SetExecuting(false);
    if (FCursorState != csInactive) FCursorState = kept;
    if (AfterExecute) AfterExecute(false);
    if (BreakRequested) throw EAbort("Operation aborted");
    throw;
  }
  SetExecuting(false);
  if (AfterExecute) AfterExecute(true);
}

void TMySQLCommand::ExecuteText() {
  PMYSQL_CON handle = Handle();
  TMySQLAPI& api = API();
  if (!OpenNext) {
    FStatementsRun = 0;
    // A text sent as it is goes from the command's own copy.
    std::string built;
    if (!SendTextAsIs) built = BuildSQLText();
    const std::string& text = SendTextAsIs ? GetSQL() : built;
    DA_ASSERT_MSG(!SendTextAsIs || FParams.Count() == 0, "a text sent as it is takes no parameters");
    CheckPacketSize(text.size());
    if (TraceHook) TraceHook(FMyConnection->GetUseUnicode() && !SendTextAsIs ? Utf8ToAnsi(text) : text);
    FResultRows.clear();
    FResultInsertIds.clear();
    FMyConnection->NoteStatementText(text);
    CheckStatus(WhileWaiting ? api.QueryWhileWaiting(handle, text, WhileWaiting)
                             : api.mysql_real_query(handle, text));
  }
  FRowsAffected = ResultInfo();
  if (MessageHook && !OpenNext) ReportInfo();
  if (!ResultWanted) {
    FResultRows.assign(1, FRowsAffected);
    FResultInsertIds.assign(1, InsertIdOf(handle));
    DropResults();
  } else if (!OpenNext) {
    DA_ASSERT_MSG(FResult == nullptr, "the result of the previous execution was not freed");
    FResult = api.mysql_use_result(handle);
    CheckErrno();
  }
}

void TMySQLCommand::CheckPacketSize(size_t textSize) {
  // No server takes less than 1 KiB: a shorter text needs no asking.
  constexpr size_t MinMaxAllowedPacket = 1024;
  if (textSize + 1 <= MinMaxAllowedPacket) return;
  const int64_t limit = FMyConnection->MaxAllowedPacket();
  // The server would refuse the text and end the session, with the transaction it held.
  if (limit > 0 && static_cast<int64_t>(textSize) + 1 > limit)
    FMyConnection->RaiseClientError(CR_NET_PACKET_TOO_LARGE, MySqlClientErrorText(CR_NET_PACKET_TOO_LARGE),
                                    FComponent);
  API().SetTimeout(Handle(), static_cast<uint32_t>(CommandTimeout));  // the question set its own
}

void TMySQLCommand::DropResults() {
  PMYSQL_CON handle = Handle();
  TMySQLAPI& api = API();
  for (;;) {
    if (PMYSQL_RES result = api.mysql_use_result(handle)) api.mysql_free_result(result);
    // A result that failed to come, or broke off while its rows were dropped.
    CheckErrno();
    ++FStatementsRun;
    if (!FMyConnection->IsClient41()) return;
    const int next = api.mysql_next_result(handle);
    if (next < 0) return;
    if (next > 0) FMyConnection->RaiseError(FComponent);
    const uint64_t rows = api.mysql_affected_rows(handle);
    FResultRows.push_back(rows == ~uint64_t{0} ? -1 : static_cast<int64_t>(rows));
    FResultInsertIds.push_back(InsertIdOf(handle));
  }
}

void TMySQLCommand::ExecutePrepared() {
  TMySQLAPI& api = API();
  CheckStmt(api.StmtExecute(FStmt, FParams, FMyConnection->GetUseUnicode()));
  FPrevRowsAffected = FRowsAffected;
  FRowsAffected = ResultInfo();
  if (!ResultWanted) {
    api.mysql_stmt_free_result(FStmt);
    return;
  }
  // The field descriptions taken at prepare time are replaced by the ones of this execution.
  if (FResult != nullptr) {
    PMYSQL_RES old = FResult;
    FResult = nullptr;
    api.mysql_free_result(old);
  }
  FResult = api.mysql_stmt_result_metadata(FStmt);
  CheckErrno();
}

int64_t TMySQLCommand::InsertIdOf(PMYSQL_CON handle) {
  try {
    return static_cast<int64_t>(API().mysql_insert_id(handle));
  } catch (const Exception&) {
    return 0;  // an API without it: no value to tell
  }
}

void TMySQLCommand::ReportInfo() {
  std::string info;
  try {
    info = API().mysql_info(Handle());
  } catch (const Exception&) {
    return;  // an API without the note: nothing to report
  }
  if (!info.empty()) MessageHook(info);
}

int64_t TMySQLCommand::ResultInfo() {
  TMySQLAPI& api = API();
  uint64_t rows;
  uint32_t columns;
  if (FPrepared) {
    DA_ASSERT(FStmt != nullptr);
    rows = api.mysql_stmt_affected_rows(FStmt);
    columns = api.mysql_stmt_field_count(FStmt);
  } else {
    PMYSQL_CON handle = Handle();
    rows = api.mysql_affected_rows(handle);
    columns = api.mysql_field_count(handle);
  }
  FCursorState = columns > 0 ? csExecuted : csInactive;
  return rows == ~uint64_t{0} ? -1 : static_cast<int64_t>(rows);
}

// ---- parameters written into the text ----------------------------------------------------------

std::string TMySQLCommand::BuildSQLText() {
  DA_ASSERT_MSG(FMyConnection != nullptr, "command without a connection");
  const bool unicode = FMyConnection->GetUseUnicode();
  if (SendTextAsIs) {
    DA_ASSERT_MSG(FParams.Count() == 0, "a text sent as it is takes no parameters");
    return GetSQL();
  }
  if (FParams.Count() == 0 || GetSQL().find('?') == std::string::npos)
    return unicode ? AnsiToUtf8(GetSQL()) : GetSQL();
  const std::vector<TParamDesc*> params = PlaceholderParams();
  if (!FParamPositions.empty()) return TextWithPositions(params);
  return TextWithPlaceholders(params);
}

std::vector<TParamDesc*> TMySQLCommand::PlaceholderParams() const {
  std::vector<TParamDesc*> params;
  params.reserve(static_cast<size_t>(FParams.Count()));
  if (!ProcedureCall) {
    for (int i = 0; i < FParams.Count(); ++i) params.push_back(FParams[i]);
    return params;
  }
  // A procedure call names its INOUT arguments first, then its IN arguments.
  for (int i = 0; i < FParams.Count(); ++i)
    if (FParams[i]->GetParamType() == pdInputOutput) params.push_back(FParams[i]);
  for (int i = 0; i < FParams.Count(); ++i)
    if (IsInput(FParams[i])) params.push_back(FParams[i]);
  return params;
}

void TMySQLCommand::AppendParam(StringBuilder& sb, const TParamDesc& param) const {
  const bool compress = FCompressBlobMode == cbServer || FCompressBlobMode == cbClientServer;
  AppendSQLValue(sb, static_cast<TDataType>(param.GetDataType()), param.GetValue(),
                 FMyConnection->GetServerMajor(), compress, FMyConnection->GetUseUnicode(), param.GetNull(),
                 FMyConnection->GetTextCharset(), FMyConnection->NoBackslashEscapes());
}

void TMySQLCommand::SplitSQL() {
  const bool unicode = FMyConnection->GetUseUnicode();
  // Under Unicode the text is ANSI until it is sent; otherwise the server reads it as it is.
  const TCharsetKind charset = unicode ? AnsiCharsetKind() : FMyConnection->GetTextCharset();
  FSQLParts.clear();
  FSplitNoBackslashEscapes = FMyConnection->NoBackslashEscapes();
  size_t start = 0;
  for (size_t pos : FindPlaceholders(GetSQL(), charset, FSplitNoBackslashEscapes)) {
    FSQLParts.push_back(unicode ? AnsiToUtf8(GetSQL().substr(start, pos - start))
                                : GetSQL().substr(start, pos - start));
    start = pos + 1;
  }
  FSQLParts.push_back(unicode ? AnsiToUtf8(GetSQL().substr(start)) : GetSQL().substr(start));
}

std::string TMySQLCommand::TextWithPlaceholders(const std::vector<TParamDesc*>& params) {
  // A SET of sql_mode since the split changes where the text's strings end.
  if (FSQLParts.empty() || FSplitNoBackslashEscapes != FMyConnection->NoBackslashEscapes()) SplitSQL();
  StringBuilder sb;
  for (size_t i = 0; i < FSQLParts.size(); ++i) {
    sb.Append(FSQLParts[i]);
    if (i + 1 == FSQLParts.size()) break;
    DA_ASSERT_MSG(i < params.size(), Format("No parameter for placeholder %d of %s", {int(i), GetSQL()}));
    AppendParam(sb, *params[i]);
  }
  return sb.ToString();
}

std::string TMySQLCommand::TextWithPositions(const std::vector<TParamDesc*>& params) const {
  DA_ASSERT_MSG(
      ProcedureCall || FParamPositions.size() == params.size(),
      Format("%d parameter positions for %d parameters", {int(FParamPositions.size()), int(params.size())}));
  const bool unicode = FMyConnection->GetUseUnicode();
  auto copy = [&](StringBuilder& sb, size_t from, size_t to) {
    const std::string part = GetSQL().substr(from, to - from);
    sb.Append(unicode ? AnsiToUtf8(part) : part);
  };
  StringBuilder sb;
  size_t start = 0;
  for (size_t i = 0; i < FParamPositions.size(); ++i) {
    const int position = FParamPositions[i];
    DA_ASSERT_MSG(position >= 1 && static_cast<size_t>(position) <= GetSQL().size() &&
                      static_cast<size_t>(position) > start,
                  Format("Parameter position %d outside the text or out of order", {position}));
    DA_ASSERT_MSG(i < params.size(), Format("No parameter for placeholder %d of %s", {int(i), GetSQL()}));
    copy(sb, start, static_cast<size_t>(position) - 1);
    AppendParam(sb, *params[i]);
    start = static_cast<size_t>(position);
  }
  copy(sb, start, GetSQL().size());
  return sb.ToString();
}
