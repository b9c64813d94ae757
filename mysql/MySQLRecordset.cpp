#include "mysql/MySQLRecordset.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "core/CLRClasses.h"
#include "mysql/MyClasses.h"
#include "mysql/MyTableInfo.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/runtime/FMTBcd.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/LocaleCompare.h"

namespace {

bool IsBlobColumn(uint8_t type) {
  return type == mftTinyBlob || type == mftMediumBlob || type == mftLongBlob || type == mftBlob ||
         type == mftGeometry;
}

// The longest text the server writes for a number of the column: a display width (INT(3),
// FLOAT(3,1)) is no limit on the value, which may hold all the digits of its type, its sign, a
// point and an exponent.
uint32_t NumberTextLength(uint8_t type, uint32_t displayLength) {
  switch (type) {
    case mftTiny:
    case mftShort:
    case mftInt24:
    case mftLong:
    case mftLongLong:
    case mftYear:
      return std::max<uint32_t>(displayLength, 20);  // -9223372036854775808, 18446744073709551615
    case mftFloat:
    case mftDouble:
      return std::max<uint32_t>(displayLength + 2, 24);  // -2.2250738585072014e-308
    case mftDecimal:
    case mftNewDecimal:
      return displayLength + 2;
    default:
      return displayLength;
  }
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// A computed column whose name is a call of one of these functions keeps its UTF-8 byte length.
bool KeepsByteLength(const std::string& name) {
  const std::string lower = Lower(name);
  const size_t open = lower.find('(');
  if (open == std::string::npos || lower.find(')', open) == std::string::npos) return false;
  for (const char* f : {"format", "inet_ntoa", "concat"})
    if (lower.find(f) != std::string::npos) return true;
  return false;
}

// Sets the command's text keeping parameter positions (SetSQL alone would drop them).
void SetCommandText(TMySQLCommand& cmd, const std::string& sql, const std::vector<int>& positions) {
  if (positions.empty()) {
    cmd.SetSQL(sql);
    return;
  }
  cmd.SetProp(prCollectingPositions, true);
  cmd.SetSQL(sql);
  for (int position : positions) cmd.SetProp(prParamPosition, position);
  cmd.SetProp(prCollectingPositions, false);
}

}  // namespace

TMySQLRecordset::TMySQLRecordset() = default;

TMySQLRecordset::~TMySQLRecordset() {
  try {
    Close();
    TMySQLCommand* cmd = GetMyCommand();
    if (FNextResult != nullptr) {
      PMYSQL_RES next = FNextResult;
      FNextResult = nullptr;
      API().mysql_free_result(next);
    }
    // A statement prepared on the auxiliary connection goes before the connection does.
    if (FSavedConnection != nullptr) {
      cmd->Unprepare();
      CloseFetchConnection(true);
    }
  } catch (...) {
    // A destructor never throws; the connection's own destructor closes what is left.
  }
}

// ---- command and connection -------------------------------------------------------------------

void TMySQLRecordset::CreateCommand() {
  auto command = std::make_unique<TMySQLCommand>();
  command->ResultWanted = true;
  SetCommand(std::move(command));
}

void TMySQLRecordset::SetCommand(std::unique_ptr<TCRCommand> command) {
  DA_ASSERT_MSG(command == nullptr || dynamic_cast<TMySQLCommand*>(command.get()) != nullptr,
                "a MySQL record set needs a MySQL command");
  TCRRecordSet::SetCommand(std::move(command));
}

TMySQLConnection* TMySQLRecordset::CurrentConnection() const {
  auto* self = const_cast<TMySQLRecordset*>(this);
  TMySQLConnection* connection = self->GetMyCommand()->GetMyConnection();
  DA_ASSERT_MSG(connection != nullptr, "record set without a connection");
  return connection;
}

TMySQLAPI& TMySQLRecordset::API() const {
  TMySQLAPI* api = CurrentConnection()->GetAPI();
  DA_ASSERT(api != nullptr);
  return *api;
}

void TMySQLRecordset::RefreshConnectionCache() {
  TMySQLConnection* main = FSavedConnection ? FSavedConnection : GetMyCommand()->GetMyConnection();
  if (main == nullptr) return;
  FIsClient41 = main->IsClient41();
  FUseUnicode = main->GetUseUnicode() && !KeepSessionText;
  FUnicodeCharBytes = main->GetUnicodeCharBytes();
  FNumericType = main->GetNumericType();
  FServerMajor = main->GetServerMajor();
  FServerMinor = main->GetServerMinor();
}

void TMySQLRecordset::Disconnect() {
  if (!Prepared()) FreeResult(false);
  RefreshConnectionCache();
  TCRRecordSet::Disconnect();
}

// ---- auxiliary fetch connection ---------------------------------------------------------------

bool TMySQLRecordset::NeedsFetchConnection() {
  return !GetFetchAll() && FCreateConnection && FSavedConnection == nullptr &&
         GetMyCommand()->GetCursorState() != csExecuted;
}

void TMySQLRecordset::OpenFetchConnection() {
  TMySQLCommand* cmd = GetMyCommand();
  TMySQLConnection* main = CurrentConnection();
  TMySQLAPI& api = API();
  DA_ASSERT_MSG(main->GetMySQL() != nullptr, "record set on a closed connection");
  api.SetTimeout(main->GetMySQL(), static_cast<uint32_t>(cmd->CommandTimeout));
  main->CheckStatus(api.mysql_ping(main->GetMySQL()), GetComponent());

  std::unique_ptr<TMySQLConnection> aux;
  if (main->ConnectionSupplyHook) {
    aux.reset(main->ConnectionSupplyHook());
    DA_ASSERT_MSG(aux != nullptr, "ConnectionSupplyHook supplied no connection");
  } else {
    aux = std::make_unique<TMySQLConnection>();
    aux->AssignConnectionSettings(*main);
    aux->SetComponent(main->GetComponent());
  }
  try {
    aux->Connect("");
    // The text was written, and rewritten, as the main session reads it.
    aux->FollowSqlModeOf(*main);
    aux->FollowCharsetOf(*main);
    aux->FollowDatabaseOf(*main);
    if (main->GetInTransaction()) aux->StartTransaction();
  } catch (...) {
    if (main->ConnectionReturnHook) {
      aux->SetIsValid(false);
      main->ConnectionReturnHook(aux.release());
    }
    throw;
  }
  aux->SetAuxiliary(true);
  FSavedConnection = main;
  FFetchConnection = std::move(aux);
  cmd->SetConnection(FFetchConnection.get());
}

void TMySQLRecordset::CloseFetchConnection(bool killed) {
  if (FSavedConnection == nullptr) return;
  std::unique_ptr<TMySQLConnection> aux = std::move(FFetchConnection);
  TMySQLConnection* main = FSavedConnection;
  FSavedConnection = nullptr;
  // The record set is back on its main connection whatever happens to the auxiliary one.
  GetMyCommand()->SetConnection(main);
  FKillOnClose = false;
  std::exception_ptr error;
  if (aux->GetInTransaction() && !killed) {
    try {
      aux->Commit();
    } catch (...) {
      error = std::current_exception();
      killed = true;
    }
  }
  aux->SetAuxiliary(true);
  if (main->ConnectionReturnHook) {
    aux->SetIsValid(!killed);
    main->ConnectionReturnHook(aux.release());
  } else {
    aux.reset();  // disconnects
  }
  if (error) std::rethrow_exception(error);
}

// ---- results ----------------------------------------------------------------------------------

void TMySQLRecordset::FreeResult(bool next) {
  TMySQLCommand* cmd = GetMyCommand();
  bool killed = false;
  if (cmd->GetPrepared()) {
    if (cmd->GetStmt() != nullptr && cmd->GetResult() != nullptr && FStmtFetchState == 1) {
      // Ends on "no data", on truncation and on an error alike: nothing more comes from it.
      while (API().StmtFetchRow(cmd->GetStmt()) == 0) {
      }
    }
    FStmtFetchState = 2;
  } else if (cmd->GetMyConnection() == nullptr || cmd->GetMyConnection()->GetAPI() == nullptr ||
             cmd->GetMyConnection()->GetMySQL() == nullptr) {
    FResultState = rsNoMore;
    SetCommandType(ctUnknown);
    cmd->SetCursorState(csInactive);
    return;
  } else if (cmd->GetResult() != nullptr) {
    FreeTextResult(killed);
  }
  if (next && !cmd->GetPrepared() && FIsClient41 &&
      (FResultState == rsUnknown || FResultState == rsMoreResults) && FNextResult == nullptr)
    FindNextResult(killed);
  if (cmd->GetCursorState() == csFetching || cmd->GetCursorState() == csFetchingAll)
    cmd->SetCursorState(csFetched);
}

void TMySQLRecordset::FreeTextResult(bool& killed) {
  TMySQLCommand* cmd = GetMyCommand();
  TMySQLAPI& api = API();
  PMYSQL_RES result = cmd->GetResult();
  if (FSavedConnection != nullptr && FKillOnClose && !GetFetchAll() && FCreateConnection) {
    bool ended = false;
    for (int32_t n = 0; n < GetFetchRows() && !ended; ++n) ended = api.FetchRow(result) == nullptr;
    if (!ended) {
      // Reading the rest of a large SELECT could take minutes: the server ends it instead.
      const uint32_t thread = api.mysql_thread_id(cmd->GetMyConnection()->GetMySQL());
      api.mysql_real_query(FSavedConnection->GetMySQL(), "KILL " + std::to_string(thread));
      killed = true;
    }
  }
  while (api.FetchRow(result) != nullptr) {
  }
  cmd->SetResult(nullptr);
  api.mysql_free_result(result);
  if (FIsClient41 && !killed && api.mysql_more_results(cmd->GetMyConnection()->GetMySQL())) {
    FResultState = rsMoreResults;
  } else {
    FResultState = rsNoMore;
    CloseFetchConnection(killed);
  }
}

void TMySQLRecordset::FindNextResult(bool& killed) {
  TMySQLCommand* cmd = GetMyCommand();
  TMySQLAPI& api = API();
  PMYSQL_CON handle = cmd->GetMyConnection()->GetMySQL();
  // Reading ahead must not move the cursor of the result the record set still reports.
  const TCursorState cursor = cmd->GetCursorState();
  FNextRowsAffected = -2;
  try {
    while (FNextResult == nullptr) {
      const int status = api.mysql_next_result(handle);
      if (status < 0) {
        FResultState = rsNoMore;
        break;
      }
      if (status > 0) {
        FResultState = rsError;
        cmd->SetCursorState(csInactive);
        SetCommandType(ctUnknown);
        CheckStatus(status);
      }
      FResultState = rsMoreResults;
      cmd->SetPrevRowsAffected(FNextRowsAffected == -2 ? cmd->GetRowsAffected() : FNextRowsAffected);
      FNextRowsAffected = cmd->ResultInfo();
      FNextResult = api.mysql_use_result(handle);
      CheckErrno();
    }
  } catch (...) {
    if (FResultState != rsError) cmd->SetCursorState(cursor);
    try {
      CloseFetchConnection(killed);
    } catch (...) {
      // the server's error is the one to report
    }
    throw;
  }
  cmd->SetCursorState(cursor);
  if (FResultState != rsMoreResults) CloseFetchConnection(killed);
}

void TMySQLRecordset::DrainResults() {
  TMySQLCommand* cmd = GetMyCommand();
  do {
    FreeResult(true);
    if (FNextResult != nullptr) {
      cmd->SetResult(FNextResult);
      FNextResult = nullptr;
    }
  } while (FResultState == rsMoreResults);
}

// ---- prepare, execute, close ------------------------------------------------------------------

void TMySQLRecordset::InternalPrepare() {
  RefreshConnectionCache();
  if (NeedsFetchConnection()) OpenFetchConnection();
  try {
    TCRRecordSet::InternalPrepare();
    TMySQLCommand* cmd = GetMyCommand();
    PMYSQL_STMT stmt = cmd->GetStmt();
    DA_ASSERT_MSG(stmt != nullptr, "prepared command without a statement");
    SetCommandType(API().mysql_stmt_field_count(stmt) == 0 ? ctNoResultSet : ctResultSet);
    DA_ASSERT_MSG(cmd->GetResult() == nullptr, "FCommand.FSQLResult must be nil");
    cmd->SetResult(API().mysql_stmt_result_metadata(stmt));
    FStmtFetchState = 0;
  } catch (...) {
    GetMyCommand()->Unprepare();
    CloseFetchConnection(false);
    throw;
  }
}

void TMySQLRecordset::InternalUnPrepare() {
  TMySQLCommand* cmd = GetMyCommand();
  if (PMYSQL_RES result = cmd->GetResult()) {
    cmd->SetResult(nullptr);
    API().mysql_free_result(result);
  }
  TCRRecordSet::InternalUnPrepare();
  cmd->SetCursorState(csInactive);
  SetCommandType(ctUnknown);
  CloseFetchConnection(false);
}

void TMySQLRecordset::ExecCommand() {
  TMySQLCommand* cmd = GetMyCommand();
  RefreshConnectionCache();
  if (!cmd->OpenNext && (FNextResult != nullptr || FResultState == rsMoreResults)) {
    // Results of the previous batch that nobody opened would put the connection out of step.
    if (FNextResult != nullptr && cmd->GetResult() == nullptr) {
      cmd->SetResult(FNextResult);
      FNextResult = nullptr;
    }
    DrainResults();
  }
  FResultState = rsUnknown;
  FKillOnClose = false;
  FStmtFetchState = 0;
  if (NeedsFetchConnection()) OpenFetchConnection();
  try {
    TCRRecordSet::ExecCommand();
  } catch (...) {
    CloseFetchConnection(false);
    throw;
  }
  if (cmd->OpenNext && GetCommandType() == ctUnknown) {
    cmd->SetResult(FNextResult);
    cmd->SetRowsAffected(FNextRowsAffected);
    FNextResult = nullptr;
  }
  if (cmd->GetResult() != nullptr) {
    SetCommandType(ctResultSet);
  } else {
    SetCommandType(ctNoResultSet);
    if (!cmd->OpenNext) {
      FreeResult(true);
      if (FNextResult != nullptr) {
        cmd->SetResult(FNextResult);
        FNextResult = nullptr;
        cmd->SetRowsAffected(FNextRowsAffected);
        cmd->SetCursorState(csExecuted);
        SetCommandType(ctResultSet);
      }
    }
  }
  if (GetCommandType() != ctResultSet) cmd->SetCursorState(csInactive);
}

bool TMySQLRecordset::HasResultSet() {
  if (GetCommandType() == ctUnknown)
    return GetMyCommand()->GetResult() != nullptr || (GetMyCommand()->OpenNext && FNextResult != nullptr);
  return TCRRecordSet::HasResultSet();
}

bool TMySQLRecordset::IsAllFetched() {
  const bool all = TCRRecordSet::IsAllFetched();
  if (!FHandlerMode) return all;
  return all && FIsClient41 && (FServerMajor > 4 || (FServerMajor == 4 && FServerMinor >= 1));
}

void TMySQLRecordset::InternalClose() {
  TMySQLCommand* cmd = GetMyCommand();
  std::exception_ptr error;
  try {
    if (GetFetchAll())
      DrainResults();
    else
      FreeResult(true);
  } catch (...) {
    error = std::current_exception();
  }
  cmd->SetCursorState(Prepared() ? csPrepared : csInactive);
  if (!Prepared()) SetCommandType(ctUnknown);
  FStmtFetchState = 0;
  for (const auto& field : Fields()) {
    const auto* f = AsMyFieldDesc(static_cast<const TFieldDesc*>(field.get()));
    if (f != nullptr && f->MySQLType == mftTimestamp)
      if (auto* table = dynamic_cast<TMyTableInfo*>(f->TableInfo)) table->MaxTimestamp = 0;
  }
  TCRRecordSet::InternalClose();
  if (error) std::rethrow_exception(error);
}

// ---- properties -------------------------------------------------------------------------------

bool TMySQLRecordset::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case prFieldsAsString:
      FFieldsAsString = value.AsBoolean();
      return true;
    case prNullForZeroDate:
      FNullForZeroDate = value.AsBoolean();
      return true;
    case prProcedureCall:
      GetMyCommand()->ProcedureCall = value.AsBoolean();
      return true;
    case prEnableBoolean:
      FEnableBoolean = value.AsBoolean();
      return true;
    case prCreateConnection:
      FCreateConnection = value.AsBoolean();
      return true;
    case prCommandTimeout:
      GetMyCommand()->CommandTimeout = value.AsInteger();
      return true;
    case prOpenNext:
      GetMyCommand()->OpenNext = value.AsBoolean();
      return true;
    case prHandlerMode:
      FHandlerMode = value.AsBoolean();
      return true;
    default:
      return TCRRecordSet::SetProp(prop, value);
  }
}

bool TMySQLRecordset::GetProp(int prop, Variant& value) {
  switch (prop) {
    case prOpenNext:
      value = GetMyCommand()->OpenNext;
      return true;
    case prHasMoreResults:
      value = FResultState == rsMoreResults;
      return true;
    default:
      return TCRRecordSet::GetProp(prop, value);
  }
}

// ---- fields -----------------------------------------------------------------------------------

TFieldDescClass TMySQLRecordset::GetFieldDescType() const {
  return &CreateFieldDescOf<TMySQLFieldDesc>;
}

const TCRTableInfoClass& TMySQLRecordset::GetTableInfoClass() const {
  return TMyTableInfo::Class();
}

void TMySQLRecordset::CreateComplexField(void* recBuf, int index, bool withBlobs) {
  const auto* f = dynamic_cast<const TMySQLFieldDesc*>(Fields()[index]);
  const bool blob = f != nullptr && f->FieldDescKind == fdkData && !f->HasParent() &&
                    (f->DataType == dtBlob || f->DataType == dtMemo || f->DataType == dtWideMemo);
  if (!blob || !withBlobs) {
    TCRRecordSet::CreateComplexField(recBuf, index, withBlobs);
    return;
  }
  TMyConvertContext cx;
  cx.UseUnicode = FUseUnicode;
  cx.CompressBlobMode = GetMyCommand()->GetCompressBlobMode();
  Marshal::WriteIntPtr(recBuf, f->Offset, NewMyFieldBlob(*f, cx)->GetHandle());
}

void TMySQLRecordset::InternalInitFields() {
  RefreshConnectionCache();
  TMySQLCommand* cmd = GetMyCommand();
  const TMyStatementShape shape = StatementShape(cmd->GetSQL());
  if (GetCommandType() == ctUnknown) {
    DescribeWithoutRows(shape);
    return;
  }
  if (GetCommandType() != ctResultSet) return;
  CreateFieldDescs(shape);
  if (FSavedConnection != nullptr) FKillOnClose = shape.SingleSelect;
}

void TMySQLRecordset::DescribeWithoutRows(const TMyStatementShape& shape) {
  TMySQLCommand* cmd = GetMyCommand();
  const std::string sql = cmd->GetSQL();
  const std::vector<std::string> parts = cmd->GetSQLParts();
  const std::vector<int> positions = cmd->GetParamPositions();
  if (!cmd->ProcedureCall) {
    std::vector<int> moved = positions;
    SetCommandText(*cmd, RewriteMyLimitZero(sql, moved, TextNoBackslashEscapes()), moved);
  }
  DA_ASSERT_MSG(cmd->GetResult() == nullptr, "FCommand.FSQLResult must be nil");
  DA_ASSERT_MSG(FNextResult == nullptr, "FSQLResultNext must be nil");
  std::exception_ptr error;
  try {
    FResultState = rsUnknown;
    cmd->Execute();
    if (cmd->GetResult() == nullptr) {
      FreeResult(true);
      cmd->SetResult(FNextResult);
      FNextResult = nullptr;
    }
    if (cmd->GetResult() != nullptr) CreateFieldDescs(shape);
    DrainResults();
  } catch (...) {
    error = std::current_exception();
    // A result this client cannot describe is read to its end all the same: the session's next
    // statement must not meet its rows.
    if (cmd->GetResult() != nullptr || FNextResult != nullptr) {
      try {
        DrainResults();
      } catch (...) {
        // The description's error is the one reported.
      }
    }
  }
  SetCommandText(*cmd, sql, positions);
  cmd->SetSQLParts(parts);
  cmd->SetCursorState(Prepared() ? csPrepared : csInactive);
  FResultState = rsUnknown;
  if (error) std::rethrow_exception(error);
}

void TMySQLRecordset::CreateFieldDescs(const TMyStatementShape& shape) {
  TMySQLCommand* cmd = GetMyCommand();
  PMYSQL_RES result = cmd->GetResult();
  DA_ASSERT_MSG(result != nullptr, "no result to describe");
  TMySQLAPI& api = API();
  GetTablesInfo().Clear();
  const uint32_t count = api.mysql_num_fields(result);
  // One record for all columns, and all opens: each column overwrites every member, and the texts
  // keep their buffers from one column to the next.
  TMySqlFieldRecord& column = FColumnRecord;
  TColumnTableMemo tableMemo;
  for (uint32_t i = 0; i < count; ++i) {
    api.GetFieldInfo(result, i, column, FUseUnicode);
    if (FUseUnicode) {
      column.Name = Utf8ToAnsi(column.Name);
      column.OrgName = Utf8ToAnsi(column.OrgName);
      column.Table = Utf8ToAnsi(column.Table);
      column.OrgTable = Utf8ToAnsi(column.OrgTable);
    }
    TDataType dataType = dtUnknown;
    uint32_t size = 0;
    bool fixed = false;
    GetFieldType(column, shape, dataType, size, fixed);
    auto desc = std::make_unique<TMySQLFieldDesc>();
    desc->FieldNo = static_cast<uint16_t>(i + 1);
    desc->ActualFieldNo = static_cast<int>(i);
    FillFieldDesc(*desc, column, dataType, size, fixed, tableMemo);
    FFields.Add(std::move(desc));
  }
  GetTablesInfo().NormalizeNames();
  ParseTables(shape);
}

void TMySQLRecordset::GetFieldType(const TMySqlFieldRecord& column, const TMyStatementShape& shape,
                                   TDataType& dataType, uint32_t& size, bool& fixed) const {
  const bool binary = (column.Flags & mffBinary) != 0;
  fixed = false;
  // Bytes stay bytes even as text: a binary string or a BIT value may hold zero bytes.
  const bool bytes = column.Type == mftBit ||
                     (column.CharsetNr == BinaryCharsetNr &&
                      (column.Type == mftString || column.Type == mftVarChar || column.Type == mftVarString));
  const bool asString = FFieldsAsString && !IsBlobColumn(column.Type) && !bytes;
  if (asString)
    dataType = dtString;
  else if (!MySQLTypeToDataType(column.Type, column.Length, binary, fixed, dataType, FNumericType,
                                FUseUnicode, FEnableBoolean, (column.Flags & mffUnsigned) != 0))
    throw EDatabaseError(Format("Unknown MySQL datatype (%d) of column %s", {int(column.Type), column.Name}));
  if (!asString) RefineFieldType(column, dataType, fixed);
  size = column.Length;
  if (asString) size = NumberTextLength(column.Type, size);
  if (dataType == dtFmtBCD) {
    // The column's length counts its sign and point besides the digits.
    const uint32_t point = column.Decimals > 0 ? 1 : 0, sign = (column.Flags & mffUnsigned) != 0 ? 0 : 1;
    size =
        std::max<uint32_t>(size > point + sign ? size - point - sign : size, std::max(column.Decimals, 1u));
    // More digits than a packed decimal holds (DECIMAL(65,x)): the server's exact text.
    if (size > static_cast<uint32_t>(MaxFMTBcdFractionSize)) {
      dataType = dtString;
      size = column.Length;
    }
  }
  if (FUseUnicode && (dataType == dtMemo || dataType == dtWideString || dataType == dtExtWideString ||
                      dataType == dtWideMemo)) {
    // UTF-8 lengths are bytes, four (utf8mb4) or three to a character; some computed columns
    // keep theirs.
    if (shape.IsShow)
      size += 2;
    else if (!column.Table.empty() || !KeepsByteLength(column.Name))
      size /= static_cast<uint32_t>(FUnicodeCharBytes);
    else
      size += 2;
  }
  if (column.Table.empty() && !FFieldsAsString && column.Type == mftLongLong && column.Length == 1 &&
      FEnableBoolean && binary)
    dataType = dtBoolean;
  if (column.Table.empty() && column.Type == mftVarString && column.Length == 65535)
    dataType = binary ? dtBlob : dtMemo;
  AdjustShowLength(column.Name, shape, size);
  if (!GetLongStrings() && size >= 257) {
    if (dataType == dtString) dataType = dtMemo;
    if (dataType == dtWideString) dataType = dtWideMemo;
  }
  const bool outOfLine = !GetFlatBuffers() && (size >= 32 || size == 0);
  // A value too long for an inline slot (whose size is 16-bit) goes to the string heap too.
  if (dataType == dtString && (outOfLine || size >= UINT16_MAX)) dataType = dtExtString;
  if (dataType == dtWideString && (outOfLine || size >= UINT16_MAX / 2)) dataType = dtExtWideString;
  if (dataType == dtVarBytes && (outOfLine || size >= UINT16_MAX - 2)) dataType = dtExtVarBytes;
  if (dataType == dtBytes && size >= UINT16_MAX - 2) dataType = dtExtVarBytes;
}

void TMySQLRecordset::RefineFieldType(const TMySqlFieldRecord& column, TDataType& dataType,
                                      bool& fixed) const {
  // Binary strings are bytes: a zero byte is data, and nothing is decoded as text.
  if (column.CharsetNr == BinaryCharsetNr) {
    if (column.Type == mftString) dataType = column.Length > 0 ? dtBytes : dtVarBytes;
    if (column.Type == mftVarChar || column.Type == mftVarString)
      dataType = GetLongStrings() || column.Length < 257 ? dtVarBytes : dtBlob;
    if (dataType == dtMemo || dataType == dtWideMemo) dataType = dtBlob;
    if (dataType == dtBytes || dataType == dtVarBytes || dataType == dtBlob) fixed = false;
  }
  // Fractional seconds need exact microseconds.
  const bool fraction = column.Decimals >= 1 && column.Decimals <= 6;
  if (fraction && (column.Type == mftDateTime || column.Type == mftTimestamp)) dataType = dtDateTimeUs;
  // A TIME is a signed span up to 838:59:59, not a time of day: held exactly whatever its scale.
  if (column.Type == mftTime) dataType = dtTimeUs;
}

void TMySQLRecordset::AdjustShowLength(const std::string& name, const TMyStatementShape& shape,
                                       uint32_t& size) const {
  if (!shape.IsShow && !shape.IsExplain) return;
  const std::string lower = Lower(name);
  if (shape.IsShow) {
    if (shape.ShowPrivileges && (lower == "privilege" || lower == "context") && size < 30) size = 40;
    if (shape.ShowSlaveStatus && lower == "slave_io_state" && size < 80) size = 80;
    if (shape.ShowSlaveStatus && lower == "last_error" && size < 80) size = 2048;
    if (shape.ShowCreate && lower == "create table" && FServerMajor == 4 && FServerMinor == 0) size = 65535;
  }
  if (shape.IsExplain && lower == "type") size = 65535;
}

void TMySQLRecordset::FillFieldDesc(TMySQLFieldDesc& desc, const TMySqlFieldRecord& column,
                                    TDataType dataType, uint32_t size, bool fixed, TColumnTableMemo& memo) {
  desc.Name = column.Name;
  const bool aliased = !SameAsciiCaseless(column.OrgTable, column.Table);
  // The column's own name, also under a table alias: a column alias is no name to write to.
  desc.ActualName = column.OrgName.empty() ? column.Name : column.OrgName;
  if (!column.Table.empty()) {
    // Columns of one table come one after another: the table found for the previous column is the
    // one a lookup would find again.
    if (memo.Table == nullptr || memo.Aliased != aliased || memo.Name != column.Table ||
        memo.OrgName != column.OrgTable) {
      memo.Table = TableInfoOfColumn(column, aliased);
      memo.Aliased = aliased;
      memo.Name = column.Table;
      memo.OrgName = column.OrgTable;
    }
    desc.TableInfo = memo.Table;
  }
  const uint16_t length = static_cast<uint16_t>(std::min<uint32_t>(size, UINT16_MAX));
  desc.DataType = dataType;
  if (dataType != dtBlob && dataType != dtMemo && dataType != dtWideMemo) desc.Length = length;
  desc.MySQLType = column.Type;
  desc.IsUnsigned = (column.Flags & mffUnsigned) != 0;
  desc.IsPrimaryKey = (column.Flags & mffPriKey) != 0;
  desc.IsAutoIncrement = (column.Flags & mffAutoIncrement) != 0;
  desc.IsBinary = (column.Flags & mffBinary) != 0;
  desc.CharsetNr = static_cast<uint16_t>(column.CharsetNr);
  desc.Decimals = static_cast<uint8_t>(std::min<uint32_t>(column.Decimals, UINT8_MAX));
  desc.Fixed = fixed;
  desc.Required = (column.Flags & mffNotNull) != 0;
  desc.ReadOnly = column.Type == mftNull;
  desc.IsKey = (column.Flags & (mffPriKey | mffUniqueKey | mffMultipleKey | mffPartKey)) != 0;
  SetMyFieldSize(desc, length, static_cast<uint16_t>(std::min<uint32_t>(column.Decimals, UINT16_MAX)));
}

TCRTableInfo* TMySQLRecordset::TableInfoOfColumn(const TMySqlFieldRecord& column, bool aliased) {
  TCRTablesInfo& tables = GetTablesInfo();
  const std::string& name = aliased && !column.OrgTable.empty() ? column.OrgTable : column.Table;
  const int index = aliased ? tables.IndexByAlias(column.Table) : tables.IndexByName(name);
  if (index >= 0) return tables[index];
  TCRTableInfo* table = tables.Add();
  table->SetTableName(name);
  table->SetTableAlias(aliased ? column.Table : std::string());
  return table;
}

bool TMySQLRecordset::TextNoBackslashEscapes() {
  const TMySQLConnection* session = GetMyCommand()->GetMyConnection();
  return session != nullptr && session->NoBackslashEscapes();
}

const TMyStatementShape& TMySQLRecordset::StatementShape(const std::string& sql) {
  auto& m = FShapeMemo;
  const TCharsetKind charset = AnsiCharsetKind();
  const bool noBackslashEscapes = TextNoBackslashEscapes();
  if (!m.Valid || m.ServerMajor != FServerMajor || m.Charset != charset ||
      m.NoBackslashEscapes != noBackslashEscapes || m.SQL != sql) {
    m.Valid = false;  // until the analysis succeeded
    m.Shape = AnalyseMyStatement(sql, FServerMajor, noBackslashEscapes);
    m.NoBackslashEscapes = noBackslashEscapes;
    m.SQL = sql;
    m.ServerMajor = FServerMajor;
    m.Charset = charset;
    m.Valid = true;
  }
  return m.Shape;
}

const std::vector<TMyTableRef>& TMySQLRecordset::TableRefs(const std::string& sql) {
  auto& m = FTableRefsMemo;
  const TCharsetKind charset = AnsiCharsetKind();
  const bool noBackslashEscapes = TextNoBackslashEscapes();
  if (!m.Valid || m.Handler != FHandlerMode || m.Charset != charset ||
      m.NoBackslashEscapes != noBackslashEscapes || m.SQL != sql) {
    m.Valid = false;
    m.Refs = ParseMyTableRefs(sql, FHandlerMode, noBackslashEscapes);
    m.NoBackslashEscapes = noBackslashEscapes;
    m.SQL = sql;
    m.Handler = FHandlerMode;
    m.Charset = charset;
    m.Valid = true;
  }
  return m.Refs;
}

// ---- tables of the statement ------------------------------------------------------------------

void TMySQLRecordset::ParseTables(const TMyStatementShape& shape) {
  if (!FHandlerMode && !shape.HasSelect) {
    if (shape.ShowColumns || shape.IsDescribe) WidenTypeColumn();
    return;
  }
  TCRTablesInfo& tables = GetTablesInfo();
  tables.BeginUpdate();
  try {
    for (const TMyTableRef& ref : TableRefs(GetMyCommand()->GetSQL())) {
      const std::string name = MyTableRefName(ref.Name);
      DA_ASSERT_MSG(!name.empty(), "TableName cannot be empty");
      TCRTableInfo* table = nullptr;
      if (!ref.Alias.empty()) {
        const std::string alias = UnquoteName(ref.Alias);
        const int index = tables.IndexByAlias(alias);
        table = index >= 0 ? tables[index] : tables.Add();
        table->SetTableAlias(alias);
        table->SetTableName(name);
      } else {
        const int index = tables.IndexByName(name);
        if (index >= 0) {
          table = tables[index];
          table->SetTableAlias(std::string());
        } else if (FServerMajor >= 5) {
          table = tables.Add();
          table->SetTableName(name);
        }
      }
      if (table != nullptr) table->SetTableNameFull(ref.Name);
    }
  } catch (...) {
    tables.EndUpdate();
    throw;
  }
  tables.EndUpdate();
  for (int i = 0; i < tables.GetCount(); ++i)
    if (tables[i]->GetTableNameFull().empty()) tables[i]->SetTableNameFull(tables[i]->GetTableName());
}

void TMySQLRecordset::WidenTypeColumn() {
  TFieldDesc* field = FindField("Type");
  if (field == nullptr) return;
  auto& desc = static_cast<TMySQLFieldDesc&>(*field);
  if (!GetLongStrings() && (desc.DataType == dtString || desc.DataType == dtExtString))
    desc.DataType = dtMemo;
  else if (!GetLongStrings() && (desc.DataType == dtWideString || desc.DataType == dtExtWideString))
    desc.DataType = dtWideMemo;
  if (desc.DataType != dtBlob && desc.DataType != dtMemo && desc.DataType != dtWideMemo) desc.Length = 256;
  SetMyFieldSize(desc, desc.Length, desc.Scale);
}
