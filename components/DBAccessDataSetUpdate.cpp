// Unit DBAccess, the query dataset's write path: a posted insert, edit or delete becomes one
// statement on the server (the user's own text for the kind, or the generator's), its parameters
// take the record's old and new values, and the rows it touched are checked. Cached updates are
// applied through the same path, gathered into batches when asked.
#include <algorithm>
#include <string>
#include <vector>

#include "components/DASQLGenerator.h"
#include "components/DBAccessDataSet.h"
#include "components/DBAccessText.h"
#include "core/CRTableInfo.h"
#include "core/DAConsts.h"
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
    default:
      return nullptr;
  }
}

void TCustomDADataSet::PerformAppend() {
  CheckRecordWritable(stInsert);
  if (PerformSQL("", StatementTypeSet(stInsert))) AfterInsertExecuted();
}

void TCustomDADataSet::PerformUpdate() {
  CheckRecordWritable(stUpdate);
  PerformSQL("", StatementTypeSet(stUpdate));
}

void TCustomDADataSet::PerformDelete() {
  CheckRecordWritable(stDelete);
  PerformSQL("", StatementTypeSet(stDelete));
}

// A generated statement writes the updating table's columns only: a record without an updating
// table, or with a change in a column of another table (or in a computed column), would be kept
// on screen and never reach the server.
void TCustomDADataSet::CheckRecordWritable(TStatementType type) {
  const TStringList* own = UpdateSQLList(type);
  if (own != nullptr && !TrimSQLBlanks(own->Text()).empty()) return;
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
  if (slot->Connection() != connection) slot->SetConnection(connection);
  slot->Debug = Debug;
  slot->SetAutoCommit(IsWriteType(type) && AutoCommit());
  return *slot;
}

bool TCustomDADataSet::UsesBatchUpdate() const {
  // Without a row-count check on the server a batch could not stop where a single statement
  // stops: the changes then go one at a time.
  return FApplyingUpdates && Options().UpdateBatchSize >= 2 &&
         (!Options().StrictUpdate || !FBatchCheck.empty());
}

bool TCustomDADataSet::IsBatchFull() const {
  return FBatchCount >= Options().UpdateBatchSize;
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

void TCustomDADataSet::BindParamsByName(TDAParams& params) {
  for (int i = 0; i < params.Count(); ++i) {
    bool old = false;
    TField* field = GetFieldByParamName(params[i]->Name(), old);
    if (field == nullptr) throw EDatabaseError(MessageFmt(SNoCorrespondParam, {params[i]->Name()}));
    AssignFieldValueToParam(field, old, *params[i]);
  }
}

// Adds one statement with its bound parameters to the batch; every parameter of the batch is
// positional ("?"), in the order of the text.
void TCustomDADataSet::GatherIntoBatch(const std::string& text, TDAParams& params) {
  if (FBatchCount == 0) FBatchChecked = Options().StrictUpdate && !FBatchCheck.empty();
  if (FBatchCount > 0) FBatchSQL += "\r\n";
  FBatchSQL += text;
  FBatchSQL += ";";
  if (FBatchChecked) FBatchSQL += "\r\n" + FBatchCheck + ";";
  for (int i = 0; i < params.Count(); ++i) {
    auto* copy = static_cast<TDAParam*>(FBatchParams.Add());
    copy->Assign(params[i]);
  }
  ++FBatchCount;
}

bool TCustomDADataSet::PerformSQL(const std::string& sql, TStatementTypes types) {
  const TStatementType type = SingleType(types);
  const bool batching = UsesBatchUpdate() && type != stBatchUpdate && type != stLock && type != stRefresh;
  TCustomDASQL& query = CheckUpdateQuery(type);
  TDAParams statementParams;
  std::string text;
  const TStringList* own = UpdateSQLList(type);
  if (type == stBatchUpdate) {
    text = FBatchSQL;
    query.SetParamCheck(false);
    query.SetSQLText(text);
    query.Params().Assign(&FBatchParams);
  } else if (!sql.empty() || (own != nullptr && !TrimSQLBlanks(own->Text()).empty())) {
    // The user's statement: its ":name" parameters are found and bound by name, then it runs
    // with "?" placeholders.
    text = query.ParseSQL(sql.empty() ? own->Text() : sql, &statementParams);
    BindParamsByName(statementParams);
  } else {
    const bool modifiedOnly = !Options().UpdateAllFields && !DesignCreate();
    text = SQLGenerator().GenerateSQLForUpdatingTable(type, modifiedOnly, &statementParams,
                                                      batching ? FBatchCount : -1);
    if (text.empty()) return false;
    BindGeneratedParams(statementParams);
  }
  if (batching) {
    GatherIntoBatch(text, statementParams);
    return true;
  }
  if (type != stBatchUpdate) {
    query.SetParamCheck(false);
    query.SetSQLText(text);
    query.Params().Assign(&statementParams);
  }
  if (type == stBatchUpdate) {
    RunBatch(query);
    return true;
  }
  query.Execute();
  if (IsWriteType(type)) {
    FRowsAffected = query.RowsAffected();
    if (Options().StrictUpdate && (FRowsAffected == 0 || FRowsAffected > 1))
      throw EDatabaseError(MessageFmt(SUpdateFailed, {FRowsAffected}));
  }
  return true;
}

void TCustomDADataSet::RunBatch(TCustomDASQL& query) {
  // With the check, the results come in pairs: a write, then its check.
  const size_t stride = FBatchChecked ? 2 : 1;
  auto results = [&query] {
    TCRCommand* command = query.ICommand();
    return command != nullptr ? command->GetResultRowsAffected() : std::vector<int64_t>{};
  };
  auto noteRan = [this](size_t count) {
    if (TMemData* data = MemData()) data->SetBatchRan(static_cast<int>(count));
  };
  try {
    query.Execute();
  } catch (const EFailOver&) {
    noteRan(results().size() / stride);
    throw;
  } catch (const EDatabaseError&) {
    const std::vector<int64_t> rows = results();
    noteRan(rows.size() / stride);
    // A write that ran and then failed its check: the error a single statement gives.
    if (FBatchChecked && rows.size() % 2 == 1)
      throw EDatabaseError(MessageFmt(SUpdateFailed, {static_cast<int>(rows.back())}));
    throw;
  }
  const std::vector<int64_t> rows = results();
  FRowsAffected = 0;
  for (size_t i = 0; i < rows.size(); i += stride)
    FRowsAffected += static_cast<int>(std::max<int64_t>(rows[i], 0));
  if (rows.empty()) FRowsAffected = query.RowsAffected();
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
      throw;
    }
    FApplyingUpdates = false;
    return;
  }
}
