// The fetching side of TMySQLRecordset: blocks of rows into new items, each column converted into
// the record layout (MyFieldValues), and the OUT parameters of a procedure call.
#include <cstring>
#include <exception>
#include <string>

#include "core/DAConsts.h"
#include "core/MemBlob.h"
#include "mysql/MySQLRecordset.h"
#include "mysql/MySqlProtocol.h"
#include "platform/runtime/Exceptions.h"

namespace {

bool IsBlobType(TDataType t) {
  return t == dtBlob || t == dtMemo || t == dtWideMemo;
}

bool IsHeapType(TDataType t) {
  return t == dtExtString || t == dtExtWideString || t == dtExtVarBytes;
}

}  // namespace

void TMySQLRecordset::InitFields() {
  TCRRecordSet::InitFields();
  FFetchFields.assign(static_cast<size_t>(FFields.Count()), nullptr);
  FFetchStores.assign(static_cast<size_t>(FFields.Count()), TMyTextStore{});
  for (int i = 0; i < FFields.Count(); ++i) {
    auto* f = AsMyFieldDesc(FFields[i]);
    // Calculated and lookup fields, and attributes, are not columns of the result: NULL here.
    if (f != nullptr && f->FieldDescKind == fdkData && !f->HasParent()) {
      FFetchFields[static_cast<size_t>(i)] = f;
      FFetchStores[static_cast<size_t>(i)] = MyTextStoreOf(*f);
    }
  }
}

void TMySQLRecordset::ClearFields() {
  FFetchFields.clear();
  FFetchStores.clear();
  TCRRecordSet::ClearFields();
}

TMyConvertContext TMySQLRecordset::ConvertContext() {
  TMyConvertContext cx;
  cx.Heap = &StringHeap();
  cx.UseUnicode = FUseUnicode;
  cx.NullForZeroDate = FNullForZeroDate;
  cx.CompressBlobMode = GetMyCommand()->GetCompressBlobMode();
  return cx;
}

bool TMySQLRecordset::Fetch() {
  TMySQLCommand* cmd = GetMyCommand();
  if (GetFieldDescCount() == 0) {
    FreeResult(false);
    throw EDatabaseError(MessageText(SNoResultSet));
  }
  const TCursorState state = cmd->GetCursorState();
  if (state == csInactive || state == csFetched) return false;
  const bool prepared = cmd->GetPrepared();
  if (prepared ? FStmtFetchState == 2 : cmd->GetResult() == nullptr) return false;
  DA_ASSERT_MSG(state >= csExecuted, "fetch from a command that was not executed");
  if (state == csExecuted) cmd->SetCursorState(GetFetchAll() ? csFetchingAll : csFetching);
  bool cancel = false;
  DoBeforeFetch(cancel);
  if (cancel) {
    DoAfterFetch();
    return false;
  }
  PItemHeader first = nullptr;
  int rows = 0;
  const uint64_t generation = DataGeneration();
  try {
    if (prepared && FStmtFetchState == 0) {
      FStmtFetchState = 1;
      cmd->CheckStmt(API().StmtBindResults(cmd->GetStmt()));
    }
    rows = FetchBlock(first);
  } catch (...) {
    // A lost connection closes its datasets while the error is raised: the block's items and
    // the result went with them, and nothing is left to keep or drop.
    if (DataGeneration() != generation) throw;
    // The rows read before the failure stay; the rest of the result is dropped, and reading on
    // says so rather than ending as though the result were whole.
    std::string failure = "unknown error";
    try {
      throw;
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
    }
    LoseUnreadRows(failure);
    CountFetched(first);
    ReorderItems(first);
    try {
      FreeResult(true);
    } catch (...) {
      // the first error is the one to report
    }
    DoAfterFetch();
    throw;
  }
  CountFetched(first);
  ReorderItems(first);
  try {
    if (rows > 0 && cmd->ProcedureCall && GetRecordCount() == 1 && cmd->GetParamCount() > 0)
      AssignOutParams();
  } catch (...) {
    DoAfterFetch();
    throw;
  }
  DoAfterFetch();
  return rows > 0;
}

void TMySQLRecordset::SetToEnd() {
  FetchAll();
  TCRRecordSet::SetToEnd();
}

int TMySQLRecordset::FetchBlock(PItemHeader& first) {
  TMySQLCommand* cmd = GetMyCommand();
  TMySQLAPI& api = API();
  const TMyConvertContext cx = ConvertContext();
  const int32_t limit = GetFetchRows();
  const uint8_t* base = nullptr;
  int rows = 0;
  if (cmd->GetPrepared()) {
    PMYSQL_STMT stmt = cmd->GetStmt();
    for (; rows < limit; ++rows) {
      const int status = api.StmtFetchRow(stmt);
      if (status == MYSQL_NO_DATA || status == MYSQL_DATA_TRUNCATED) {
        FStmtFetchState = 2;
        FreeResult(true);
        break;
      }
      cmd->CheckStmt(status);
      const std::span<const TMySqlBind> columns = api.StmtGetRowColumns(stmt, FColumns, base);
      FillItem(first, cx, columns, base, true);
    }
    return rows;
  }
  PMYSQL_RES result = cmd->GetResult();
  for (; rows < limit; ++rows) {
    PMYSQL_ROW row = api.FetchRow(result);
    if (row == nullptr) {
      CheckErrno();
      FreeResult(true);
      break;
    }
    const std::span<const TMySqlBind> columns = api.GetRowColumns(result, row, FColumns, base);
    FillItem(first, cx, columns, base, false);
  }
  return rows;
}

void TMySQLRecordset::FillItem(PItemHeader& first, const TMyConvertContext& cx,
                               std::span<const TMySqlBind> columns, const uint8_t* base, bool binary) {
  PItemHeader item = AddItem();
  auto* rec = static_cast<uint8_t*>(TBlockManager::GetRecordPtr(item));
  // A failure part-way must find every reference slot either filled or nil.
  if (FHasComplexFields) std::memset(rec, 0, static_cast<size_t>(FDataSize));
  uint8_t* nulls = rec + FDataSize;
  try {
    for (size_t i = 0; i < FFetchFields.size(); ++i) {
      const TMySQLFieldDesc* f = FFetchFields[i];
      uint8_t mark = NullMarkNull;
      if (f != nullptr) {
        const auto index = static_cast<size_t>(f->ActualFieldNo);
        DA_ASSERT_MSG(index < columns.size(), "the row has fewer columns than the fields");
        const TMySqlBind& column = columns[index];
        if (column.IsNull != 0) {
          if (IsBlobType(f->DataType))
            Marshal::WriteIntPtr(rec, f->Offset, NewMyFieldBlob(*f, cx)->GetHandle());
          if (IsHeapType(f->DataType)) Marshal::WriteIntPtr(rec, f->Offset, nullptr);
        } else {
          const uint8_t* value =
              base != nullptr ? base + column.Position : reinterpret_cast<const uint8_t*>(column.Position);
          mark = binary ? StoreMyBinaryValue(*f, value, column.Length, rec, cx)
                        : StoreMyTextValueBy(FFetchStores[i], *f, reinterpret_cast<const char*>(value),
                                             column.Length, rec, cx);
        }
      }
      nulls[i] = mark;
    }
  } catch (...) {
    if (FHasComplexFields) FreeComplexFields(rec, true);
    if (first == item) first = nullptr;
    DeleteItem(item);
    throw;
  }
  if (first == nullptr) first = item;
}

void TMySQLRecordset::AssignOutParams() {
  TMySQLCommand* cmd = GetMyCommand();
  const void* rec = TBlockManager::GetRecordPtr(FirstItem());
  for (int i = 0; i < cmd->GetParamCount(); ++i) {
    TParamDesc* param = cmd->GetParam(i);
    const uint8_t kind = param->GetParamType();
    if (kind != pdOutput && kind != pdInputOutput && kind != pdResult) continue;
    const TFieldDesc* field = kind == pdResult ? (GetFieldDescCount() > 0 ? FFields[0] : nullptr)
                                               : FindField("@" + param->GetName());
    if (field == nullptr) continue;
    if (!IsBlobParamType(*param)) {
      param->SetValue(GetFieldAsVariant(field->FieldNo, rec));
      continue;
    }
    auto* target = dynamic_cast<TBlob*>(param->GetObject());
    DA_ASSERT_MSG(target != nullptr, "Blob parameter " + param->GetName() + " holds no blob");
    if (IsBlobType(field->DataType)) {
      target->Assign(GetBlob(field->FieldNo, rec));
    } else if (field->DataType == dtExtString) {
      target->Clear();
      if (!GetNull(field->FieldNo, rec))
        target->SetAsString(GetFieldAsVariant(field->FieldNo, rec).AsString());
    } else {
      throw EDatabaseError(MessageText(SDataTypeNotSupported));
    }
  }
  cmd->OutParamsRead = true;
}
