// Unit DBAccess, the query dataset's write path: a posted insert, edit or delete becomes one
// statement on the server (the user's own text for the kind, or the generator's), its parameters
// take the record's old and new values, and the rows it touched are checked. Cached updates are
// applied through the same path, gathered into batches when asked.
#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "components/DASQLGenerator.h"
#include "components/DBAccessDataSet.h"
#include "components/DBAccessText.h"
#include "core/CRTableInfo.h"
#include "core/DAConsts.h"
#include "core/MemBlob.h"
#include "platform/runtime/Exceptions.h"

namespace {

// The one type of a set; a set of several (or none) is a custom statement.
TStatementType SingleType(TStatementTypes types) noexcept {
  int found = -1;
  for (int t = stQuery; t <= stBatchUpdate; ++t) {
    if (!HasStatementType(types, static_cast<TStatementType>(t))) continue;
    if (found >= 0) return stCustom;
    found = t;
  }
  return found < 0 ? stCustom : static_cast<TStatementType>(found);
}

// The smallest max_allowed_packet a server takes: a text within it needs no asking.
constexpr size_t MinStatementByteLimit = 1024;

// A bound of the bytes a parameter's value takes written into the text as a literal: escaped or
// hex-written bytes at most double, a UTF-16 unit becomes at most three bytes of UTF-8.
size_t LiteralBound(TDAParam& param) {
  constexpr size_t Scalar = 64;  // numbers, dates, NULL, quotes and a charset introducer
  if (param.IsNull()) return Scalar;
  if (param.IsBlob()) {
    TBlob* blob = param.DataType() == ftMemo ? param.GetAsMemoRef() : param.GetAsBlobRef();
    return Scalar + (blob != nullptr ? 2 * size_t{blob->GetSize()} : 0);
  }
  const Variant value = param.Value();
  if (value.IsObject()) return Scalar + 2 * size_t{static_cast<TBlob*>(value.AsObject())->GetSize()};
  if (value.IsByteArray()) return Scalar + 2 * value.AsBytes().size();
  if (value.VarType() == varOleStr) return Scalar + 3 * value.AsWideString().size();
  if (value.VarType() == varString) return Scalar + 2 * value.AsString().size();
  return Scalar;
}

bool IsWriteType(TStatementType type) noexcept {
  return type == stInsert || type == stUpdate || type == stDelete || type == stBatchUpdate;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i] != 0; ++i) {
    if (i >= text.size()) return false;
    const char c = text[i];
    if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c) != prefix[i]) return false;
  }
  return true;
}

}  // namespace

TStringList* TCustomDADataSet::UpdateSQLList(TStatementType type) noexcept {
  switch (type) {
    case stInsert:
      return &FSQLInsert;
    case stUpdate:
      return &FSQLUpdate;
    case stDelete:
      return &FSQLDelete;
    case stRefresh:
      return &FSQLRefresh;
    default:
      return nullptr;
  }
}

std::string TCustomDADataSet::UserUpdateSQL(TStatementType type) {
  if (FUpdateObject != nullptr)
    if (TStringList* list = FUpdateObject->SQLOfType(type);
        list != nullptr && !TrimSQLBlanks(list->Text()).empty())
      return list->Text();
  const TStringList* own = UpdateSQLList(type);
  if (own == nullptr) return {};
  std::string text = own->Text();
  if (TrimSQLBlanks(text).empty()) return {};
  if (Macros().Count() > 0) Macros().Expand(text);
  if (type == stRefresh) {
    // "WHERE condition" stands for the dataset's own statement narrowed by that condition.
    const std::string trimmed = TrimSQLBlanks(text);
    const bool whereForm =
        StartsWithNoCase(trimmed, "WHERE") &&
        (trimmed.size() == 5 || static_cast<unsigned char>(trimmed[5]) <= 32 || trimmed[5] == '(');
    if (whereForm) text = SQLAddWhere(FCommand->InternalFinalSQL(), TrimSQLBlanks(trimmed.substr(5)));
  }
  return TrimSQLBlanks(text).empty() ? std::string() : text;
}

void TCustomDADataSet::SetUpdateObject(TCustomDAUpdateSQL* value) {
  if (value == FUpdateObject) return;
  if (value != nullptr && !value->IsDataSetObject(this))
    throw Exception(MessageFmt(SUpdateObjectClasses, {value->DataSetClassName(), value->SQLClassName()}));
  TCustomDAUpdateSQL* old = FUpdateObject;
  FUpdateObject = value;
  if (old != nullptr) {
    RemoveFreeNotification(old);
    if (old->DataSet() == this) old->SetDataSet(nullptr);
  }
  if (value != nullptr) {
    FreeNotification(value);
    if (value->DataSet() != this) value->SetDataSet(this);
  }
}

void TCustomDADataSet::PerformAppend() {
  CheckRecordWritable(stInsert);
  if (!PerformSQL("", StatementTypeSet(stInsert))) return;
  // A gathered insert has not run yet: there is no new row to read.
  if (UsesBatchUpdate()) return;
  AfterInsertExecuted();
  if ((RefreshOptions & roAfterInsert) == 0 || !CanRefreshField()) return;
  // A generated refresh finds the new row by the table's key: a result without it cannot tell the
  // row from others alike, and the record stays as posted (the insert itself has run).
  const bool generated = (FUpdateObject == nullptr || FUpdateObject->ObjectOfType(stRefresh) == nullptr) &&
                         UserUpdateSQL(stRefresh).empty();
  if (generated && !GetKeyAndDataFields(false).MissingKeyColumns.empty()) return;
  RefreshRecordAfterPost();
}

void TCustomDADataSet::PerformUpdate() {
  CheckRecordWritable(stUpdate);
  if (!PerformSQL("", StatementTypeSet(stUpdate)) || UsesBatchUpdate()) return;
  if ((RefreshOptions & roAfterUpdate) != 0 && CanRefreshField()) RefreshRecordAfterPost();
}

void TCustomDADataSet::PerformDelete() {
  CheckRecordWritable(stDelete);
  PerformSQL("", StatementTypeSet(stDelete));
}

void TCustomDADataSet::RefreshRecordAfterPost() {
  PerformSQL("", StatementTypeSet(stRefresh));
}

bool TCustomDADataSet::CanRefreshField() {
  if (FUpdateObject != nullptr && FUpdateObject->ObjectOfType(stRefresh) != nullptr) return true;
  return UpdatingTableInfo() != nullptr || !UserUpdateSQL(stRefresh).empty();
}

// A generated statement writes the updating table's columns only: a record without an updating
// table, or with a change in a column of another table (or in a computed column), would be kept
// on screen and never reach the server.
void TCustomDADataSet::CheckRecordWritable(TStatementType type) {
  if (FUpdateObject != nullptr && FUpdateObject->ObjectOfType(type) != nullptr) return;
  if (!UserUpdateSQL(type).empty()) return;
  TCRTableInfo* table = UpdatingTableInfo();
  if (table == nullptr) throw EDatabaseError(MessageText(SNoUpdatingTable));
  if (type == stDelete) return;
  TDASQLGenerator& generator = SQLGenerator();
  generator.Clear();
  for (TField* field : Fields()) {
    if (field->FieldKind() != fkData) continue;
    const auto* desc = dynamic_cast<const TCRFieldDesc*>(GetFieldDesc(field));
    if (desc == nullptr || desc->TableInfo == table) continue;
    const bool changed = type == stInsert ? !generator.IsNull(*desc, false) : generator.FieldModified(*desc);
    if (changed)
      throw EDatabaseError(MessageFmt(SFieldNotInUpdatingTable, {field->FieldName(), table->GetTableName()}));
  }
}

TCustomDASQL& TCustomDADataSet::CheckUpdateQuery(TStatementType type) {
  TCustomDAConnection* connection = UsedConnection();
  if (connection == nullptr) throw EDatabaseError(MessageText(SConnectionNotDefined));
  std::unique_ptr<TCustomDASQL>& slot = FUpdateQueries[type];
  if (!slot) slot = connection->CreateSQL();
  // The dataset traces the statement itself, under its statement types.
  slot->Quiet = true;
  if (slot->Connection() != connection) slot->SetConnection(connection);
  slot->Debug = Debug;
  slot->SetAutoCommit(IsWriteType(type) && AutoCommit());
  return *slot;
}

bool TCustomDADataSet::UsesBatchUpdate() const {
  // Without a row-count check on the server a batch could not stop where a single statement
  // stops: the changes then go one at a time. An update object's statements go one at a time,
  // and so do statements whose output values come back (ReturnParams) or whose record is re-read
  // after it (roAfterInsert, roAfterUpdate).
  return FApplyingUpdates && Options().UpdateBatchSize >= 2 && FUpdateObject == nullptr &&
         !Options().ReturnParams && (RefreshOptions & (roAfterInsert | roAfterUpdate)) == 0 &&
         (!Options().StrictUpdate || !FBatchCheck.empty());
}

bool TCustomDADataSet::IsBatchFull() const {
  return FBatchCount + FBatchPartsRan >= Options().UpdateBatchSize;
}

void TCustomDADataSet::FlushBatch() {
  if (FBatchCount == 0) return;
  try {
    PerformSQL("", StatementTypeSet(stBatchUpdate));
  } catch (...) {
    ClearBatch();
    throw;
  }
  ClearBatch();
}

void TCustomDADataSet::ClearBatch() noexcept {
  FBatchSQL.clear();
  FBatchParams.Clear();
  FBatchCount = 0;
  FBatchChecked = false;
  FBatchInserts.clear();
  FBatchBytes = 0;
  FBatchPartsRan = 0;
  FBatchPartsRows = 0;
}

void TCustomDADataSet::FlushBatchPart() {
  const int ran = FBatchPartsRan + FBatchCount;
  // A failure leaves the whole batch to the caller, which clears it.
  PerformSQL("", StatementTypeSet(stBatchUpdate));
  const int rows = FRowsAffected;
  ClearBatch();
  FBatchPartsRan = ran;
  FBatchPartsRows = rows;
}

TField* TCustomDADataSet::GetFieldByParamName(const std::string& name, bool& old) {
  old = false;
  if (TField* field = FindField(name)) return field;
  if (StartsWithNoCase(name, "OLD_")) {
    old = true;
    return FindField(name.substr(4));
  }
  if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos && name.size() < 6) {
    const int number = std::stoi(name);
    for (TField* field : Fields())
      if (field->FieldNo() == number) return field;
  }
  return nullptr;
}

void TCustomDADataSet::AssignFieldValueToParam(TField* field, bool old, TDAParam& param) {
  param.AssignFieldValue(field, old ? field->OldValue() : field->Value());
}

void TCustomDADataSet::BindGeneratedParams(TDAParams& params) {
  TDAParamsInfo& infos = SQLGenerator().ParamsInfo();
  for (int i = 0; i < params.Count(); ++i) {
    TDAParamInfo* info = i < infos.Count() ? infos.Items(i) : nullptr;
    if (info == nullptr || info->Field == nullptr)
      throw EDatabaseError(MessageFmt(SNoCorrespondParam, {params[i]->Name()}));
    AssignFieldValueToParam(info->Field, info->Old, *params[i]);
  }
}

void TCustomDADataSet::BindParamsByName(TDAParams& params, TStatementType type) {
  for (int i = 0; i < params.Count(); ++i) {
    TDAParam& param = *params[i];
    bool old = false;
    if (TField* field = GetFieldByParamName(param.Name(), old)) {
      const TParamType kind = param.ParamType();
      if (Options().ReturnParams && (kind == ptOutput || kind == ptResult)) {
        // Filled by the statement: only the type is taken.
        param.Clear();
        param.SetDataType(field->DataType());
        continue;
      }
      // An input-output parameter carries the field's value in as well.
      AssignFieldValueToParam(field, old, param);
      continue;
    }
    if (type == stRefresh || type == stRefreshQuick)
      if (TDAParam* own = Params().FindParam(param.Name())) {
        param.Assign(own);
        continue;
      }
    // The event is there to fill what no field feeds.
    if (BeforeUpdateExecute) continue;
    throw EDatabaseError(MessageFmt(SNoCorrespondParam, {param.Name()}));
  }
}

void TCustomDADataSet::RunBeforeUpdateExecute(TStatementTypes types, TDAParams& params) {
  if (!BeforeUpdateExecute) return;
  BeforeUpdateExecute(this, types, params);
  for (int i = 0; i < params.Count(); ++i)
    if (params[i]->DataType() == ftUnknown)
      throw EDatabaseError(MessageFmt(SUnknownParamType, {params[i]->Name()}));
}

// Output values go into the record in hand (the one being posted or applied).
void TCustomDADataSet::ReturnOutParams(TDAParams& params) {
  for (int i = 0; i < params.Count(); ++i) {
    const TDAParam& param = *params[i];
    const TParamType kind = param.ParamType();
    if (kind != ptOutput && kind != ptInputOutput && kind != ptResult) continue;
    bool old = false;
    TField* field = GetFieldByParamName(param.Name(), old);
    TFieldDesc* desc =
        field != nullptr && !old && field->FieldKind() == fkData ? GetFieldDesc(field) : nullptr;
    void* buffer = GetActiveRecBuf();
    if (desc == nullptr || buffer == nullptr || IRecordSet().IsBlobFieldType(desc->DataType)) continue;
    IRecordSet().PutFieldAsVariant(desc->FieldNo, buffer, param.Value());
  }
}

void TCustomDADataSet::CheckRowsAffected(int count) {
  FRowsAffected = count;
  if (Options().StrictUpdate && (count == 0 || count > 1))
    throw EDatabaseError(MessageFmt(SUpdateFailed, {count}));
}

bool TCustomDADataSet::CheckRefreshCount(int count) {
  FRowsAffected = count;
  if (Options().StrictUpdate && count != 1) throw EDatabaseError(MessageFmt(SRefreshFailed, {count}));
  return count > 0;
}

// Adds one statement with its bound parameters to the batch; every parameter of the batch is
// positional ("?"), in the order of the text.
void TCustomDADataSet::GatherIntoBatch(TStatementType type, const std::string& text, TDAParams& params) {
  size_t bytes = text.size() + 3 + (Options().StrictUpdate ? FBatchCheck.size() + 3 : 0);
  for (int i = 0; i < params.Count(); ++i) bytes += LiteralBound(*params[i]);
  // The server refuses a statement text over its max_allowed_packet whole (1 KiB at the least):
  // the statements gathered before go first, and a single one too large fails alone.
  if (FBatchCount > 0 && FBatchBytes + bytes > MinStatementByteLimit) {
    const size_t limit = StatementByteLimit();
    if (limit != 0 && FBatchBytes + bytes > limit) FlushBatchPart();
  }
  FBatchBytes += bytes;
  if (FBatchCount == 0) FBatchChecked = Options().StrictUpdate && !FBatchCheck.empty();
  if (FBatchCount > 0) FBatchSQL += "\r\n";
  FBatchSQL += text;
  FBatchSQL += ";";
  if (FBatchChecked) FBatchSQL += "\r\n" + FBatchCheck + ";";
  for (int i = 0; i < params.Count(); ++i) {
    auto* copy = static_cast<TDAParam*>(FBatchParams.Add());
    copy->Assign(params[i]);
  }
  if (type == stInsert && FIdentityField != nullptr)
    if (TMemData* data = MemData(); data != nullptr && data->CurrentItem() != nullptr)
      FBatchInserts.push_back({FBatchCount, data->CurrentItem(), data->CurrentItem()->Stamp});
  ++FBatchCount;
}

bool TCustomDADataSet::PerformSQL(const std::string& sql, TStatementTypes types) {
  const TStatementType type = SingleType(types);
  if (FUpdateObject != nullptr)
    if (TComponent* object = FUpdateObject->ObjectOfType(type)) return RunUpdateObject(*object, type, types);
  if (type == stRefresh || type == stCheck) return PerformRefreshSQL(sql, type, types);
  const bool batching = UsesBatchUpdate() && type != stBatchUpdate && type != stLock;
  TCustomDASQL& query = CheckUpdateQuery(type);
  TDAParams statementParams;
  std::string text;
  const std::string user = sql.empty() && type != stBatchUpdate ? UserUpdateSQL(type) : sql;
  if (type == stBatchUpdate) {
    text = FBatchSQL;
    query.SetParamCheck(false);
    query.SetSQLText(text);
    query.Params().Assign(&FBatchParams);
  } else if (!user.empty()) {
    // The user's statement: its ":name" parameters are found and bound by name, then it runs
    // with "?" placeholders.
    text = query.ParseSQL(user, &statementParams);
    if (Options().ReturnParams && !batching) DescribeCallParams(text, statementParams);
    BindParamsByName(statementParams, type);
  } else {
    const bool modifiedOnly = !Options().UpdateAllFields && !DesignCreate();
    text = SQLGenerator().GenerateSQLForUpdatingTable(type, modifiedOnly, &statementParams,
                                                      batching ? FBatchCount : -1);
    if (text.empty()) return false;
    BindGeneratedParams(statementParams);
  }
  if (batching) {
    GatherIntoBatch(type, text, statementParams);
    return true;
  }
  if (type == stBatchUpdate) {
    RunBeforeUpdateExecute(types, query.Params());
    RunTraced(types, text, query.Params(), &query, [this, &query] { RunBatch(query); });
    if (AfterUpdateExecute) AfterUpdateExecute(this, types, query.Params());
    return true;
  }
  query.SetParamCheck(false);
  query.SetSQLText(text);
  query.Params().Assign(&statementParams);
  RunBeforeUpdateExecute(types, query.Params());
  RunTraced(types, text, query.Params(), &query, [this, &query] { ExecuteUpdateQuery(query); });
  if (IsWriteType(type)) CheckRowsAffected(query.RowsAffected());
  if (Options().ReturnParams) ReturnOutParams(query.Params());
  if (AfterUpdateExecute) AfterUpdateExecute(this, types, query.Params());
  return true;
}

// The update object's own command or dataset runs its own text with the record's values.
bool TCustomDADataSet::RunUpdateObject(TComponent& object, TStatementType type, TStatementTypes types) {
  TCustomDAConnection* connection = UsedConnection();
  if (auto* command = dynamic_cast<TCustomDASQL*>(&object)) {
    if (TrimSQLBlanks(command->SQL().Text()).empty())
      throw EDatabaseError(MessageText(SUpdateObjectEmptySQL));
    if (command->Connection() == nullptr) command->SetConnection(connection);
    BindParamsByName(command->Params(), type);
    RunBeforeUpdateExecute(types, command->Params());
    // Traced once, as this dataset, not also as the command.
    const bool quiet = command->Quiet;
    command->Quiet = true;
    try {
      RunTraced(types, command->FinalSQL(), command->Params(), command, [command] { command->Execute(); });
    } catch (...) {
      command->Quiet = quiet;
      throw;
    }
    command->Quiet = quiet;
    if (IsWriteType(type)) CheckRowsAffected(command->RowsAffected());
    if (Options().ReturnParams || type == stRefresh) ReturnOutParams(command->Params());
    if (AfterUpdateExecute) AfterUpdateExecute(this, types, command->Params());
    return true;
  }
  auto* dataSet = dynamic_cast<TCustomDADataSet*>(&object);
  if (dataSet == nullptr) RaiseAssertion(__FILE__, __LINE__, "update object", object.ClassName());
  if (TrimSQLBlanks(dataSet->SQL().Text()).empty()) throw EDatabaseError(MessageText(SUpdateObjectEmptySQL));
  if (dataSet->Connection() == nullptr) dataSet->SetConnection(connection);
  dataSet->Close();
  BindParamsByName(dataSet->Params(), type);
  RunBeforeUpdateExecute(types, dataSet->Params());
  // Traced once, as this dataset, not also as the object's own open or execute.
  const bool internal = dataSet->Internal;
  const bool quiet = dataSet->Command().Quiet;
  auto restore = [&] {
    dataSet->Internal = internal;
    dataSet->Command().Quiet = quiet;
  };
  dataSet->Internal = true;
  dataSet->Command().Quiet = true;
  try {
    const bool rows = type == stRefresh || type == stCheck;
    RunTraced(types, dataSet->FinalSQL(), dataSet->Params(), &dataSet->Command(), [dataSet, rows] {
      if (rows)
        dataSet->Open();
      else
        dataSet->Execute();
    });
    if (rows) {
      if (CheckRefreshCount(dataSet->RecordCount())) CopyHelperRow(*dataSet, type == stCheck);
    } else if (IsWriteType(type)) {
      CheckRowsAffected(dataSet->RowsAffected());
    }
  } catch (...) {
    restore();
    dataSet->Close();
    throw;
  }
  restore();
  dataSet->Close();
  if (AfterUpdateExecute) AfterUpdateExecute(this, types, dataSet->Params());
  return true;
}

// Re-reads the record (or, for a check, compares it) with the user's refresh statement or the
// generated one.
bool TCustomDADataSet::PerformRefreshSQL(const std::string& sql, TStatementType type, TStatementTypes types) {
  std::string text = sql.empty() ? UserUpdateSQL(stRefresh) : sql;
  TDAParams generated;
  const bool isGenerated = text.empty();
  if (isGenerated) {
    text = FSQLGenerator->GenerateSQLForUpdatingTable(stRefresh, false, &generated);
    if (text.empty()) return false;
    // Each parameter takes the value of the field (and version) the generator noted for it; a
    // record just applied is on the server with its new values.
    TDAParamsInfo& infos = FSQLGenerator->ParamsInfo();
    for (int i = 0; i < generated.Count() && i < infos.Count(); ++i)
      if (TField* field = infos.Items(i)->Field)
        AssignFieldValueToParam(field, infos.Items(i)->Old && !ApplyingRecords(), *generated[i]);
  }
  TCustomDADataSet& helper = Helper();
  helper.Close();
  helper.SetSQLText(text);
  if (!isGenerated)
    BindParamsByName(helper.Params(), stRefresh);
  else if (Params().Count() == 0 && !Options().FullRefresh)
    helper.Params().Assign(&generated);  // "?" placeholders: the values go in order, none kept
  else
    for (int i = 0; i < helper.Params().Count(); ++i)
      if (TDAParam* own = generated.FindParam(helper.Params()[i]->Name())) helper.Params()[i]->Assign(own);
  RunBeforeUpdateExecute(types, helper.Params());
  try {
    RunTraced(types, helper.FinalSQL(), helper.Params(), &helper.Command(), [&helper] { helper.Open(); });
    if (CheckRefreshCount(helper.RecordCount())) CopyHelperRow(helper, type == stCheck);
  } catch (...) {
    helper.Close();
    throw;
  }
  helper.Close();
  if (AfterUpdateExecute) AfterUpdateExecute(this, types, helper.Params());
  return true;
}

void TCustomDADataSet::RunTraced(TStatementTypes types, const std::string& sql, TDAParams& params,
                                 TCustomDASQL* command, const std::function<void()>& run) {
  if (!TracingEnabled()) return run();
  const TDASQLMonitorClass monitor = UsedConnection()->SQLMonitorClass();
  const std::string names = StatementTypeNames(types);
  // A command of its own takes its provider command for the connection first: the monitor
  // listens on the one that runs.
  const bool hold = command != nullptr && command->FDataSet == nullptr;
  if (hold) command->BeginConnection();
  FRunningUpdateCommand = command;
  if (command != nullptr) command->FRunningFor = this;
  auto release = [this, command, hold] {
    FRunningUpdateCommand = nullptr;
    if (command != nullptr) command->FRunningFor = nullptr;
    if (hold) command->EndConnection();
  };
  try {
    TCustomDASQLMonitor::SQLExecute(monitor, this, sql, &params, names, false, Debug);
    run();
    TCustomDASQLMonitor::SQLExecute(monitor, this, sql, &params, names, true, Debug);
  } catch (...) {
    // A failed statement ends its trace too: what the monitor hooked into the command for it goes.
    try {
      TCustomDASQLMonitor::SQLExecute(monitor, this, sql, &params, names, true, Debug);
    } catch (...) {
      // The statement's own error is the one reported.
    }
    release();
    throw;
  }
  release();
}

void TCustomDADataSet::RunBatch(TCustomDASQL& query) {
  // With the check, the results come in pairs: a write, then its check.
  const size_t stride = FBatchChecked ? 2 : 1;
  auto results = [&query] {
    TCRCommand* command = query.ICommand();
    return command != nullptr ? command->GetResultRowsAffected() : std::vector<int64_t>{};
  };
  auto noteRan = [this](size_t count) {
    if (TMemData* data = MemData()) data->SetBatchRan(FBatchPartsRan + static_cast<int>(count));
  };
  try {
    query.Execute();
  } catch (const EFailOver&) {
    noteRan(results().size() / stride);
    TakeBatchInsertIds(query, stride);
    throw;
  } catch (const EDatabaseError&) {
    const std::vector<int64_t> rows = results();
    noteRan(rows.size() / stride);
    TakeBatchInsertIds(query, stride);
    // A write that ran and then failed its check: the error a single statement gives.
    if (FBatchChecked && rows.size() % 2 == 1)
      throw EDatabaseError(MessageFmt(SUpdateFailed, {static_cast<int>(rows.back())}));
    throw;
  }
  TakeBatchInsertIds(query, stride);
  const std::vector<int64_t> rows = results();
  FRowsAffected = FBatchPartsRows;
  for (size_t i = 0; i < rows.size(); i += stride)
    FRowsAffected += static_cast<int>(std::max<int64_t>(rows[i], 0));
  if (rows.empty()) FRowsAffected = FBatchPartsRows + query.RowsAffected();
}

void TCustomDADataSet::TakeBatchInsertIds(TCustomDASQL& query, size_t stride) {
  TMemData* data = MemData();
  TFieldDesc* desc = FIdentityField != nullptr ? GetFieldDesc(FIdentityField) : nullptr;
  TCRCommand* command = query.ICommand();
  if (FBatchInserts.empty() || data == nullptr || desc == nullptr || command == nullptr) return;
  const std::vector<int64_t> ids = command->GetResultInsertIds();
  for (const TBatchInsert& insert : FBatchInserts) {
    const size_t at = static_cast<size_t>(insert.Statement) * stride;
    if (at >= ids.size() || ids[at] == 0) continue;  // not run, or the row named its own value
    // The record store takes a 32-bit column's value only as a 32-bit variant.
    const int64_t id = ids[at];
    const Variant value = id >= INT32_MIN && id <= INT32_MAX ? Variant(static_cast<int>(id))
                                                             : Variant(static_cast<long long>(id));
    if (insert.Item == data->CurrentItem()) {
      // The record in hand: the record store takes its buffer back when its apply returns.
      if (void* buffer = GetActiveRecBuf()) IRecordSet().PutFieldAsVariant(desc->FieldNo, buffer, value);
    } else {
      data->PutAppliedField(insert.Item, insert.Stamp, desc->FieldNo, value);
    }
  }
}

void TCustomDADataSet::ApplyUpdates() {
  TCustomDAConnection* connection = UsedConnection();
  if (connection == nullptr) throw EDatabaseError(MessageText(SConnectionNotDefined));
  // A failover (the connection was re-established) runs the whole apply again.
  for (int attempt = 0;; ++attempt) {
    ClearBatch();
    FBatchCheck =
        Options().UpdateBatchSize >= 2 ? SQLGenerator().RowCountCheck(connection->GetServerVersion()) : "";
    FApplyingUpdates = true;
    try {
      connection->RunOperation(clApply, [this] { TMemDataSet::ApplyUpdates(); });
    } catch (const EFailOver&) {
      FApplyingUpdates = false;
      if (attempt < TCustomDAConnection::MaxReconnectAttempts) continue;
      throw;
    } catch (...) {
      FApplyingUpdates = false;
      ClearBatch();
      if (FRestoreAfterApply && Active()) RestoreUpdates();
      FRestoreAfterApply = false;
      throw;
    }
    FApplyingUpdates = false;
    FRestoreAfterApply = false;
    return;
  }
}
