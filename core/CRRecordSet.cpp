#include "core/CRRecordSet.h"

#include <string>
#include <typeinfo>
#include <utility>

#include "core/DAConsts.h"
#include "platform/runtime/Exceptions.h"

namespace {

constexpr int32_t MaxFetchRows = 10000;

}  // namespace

TCRRecordSet::TCRRecordSet() {
  BlockManager().SetDefaultItemCount(static_cast<uint16_t>(FFetchRows));
}

TCRRecordSet::~TCRRecordSet() {
  try {
    Close();
  } catch (...) {
    // A destructor never throws; what is left goes with the store.
  }
  FCommand.reset();
  FTablesInfo.reset();
}

// ---- Command and connection -------------------------------------------------------------------

void TCRRecordSet::CreateCommand() {
  RaiseAssertion(__FILE__, __LINE__, "CreateCommand", "Abstract operation TCRRecordSet.CreateCommand called");
}

TCRCommand* TCRRecordSet::GetCommand() {
  if (!FCommand) CreateCommand();
  DA_ASSERT_MSG(FCommand != nullptr, "CreateCommand installed no command");
  return FCommand.get();
}

void TCRRecordSet::SetCommand(std::unique_ptr<TCRCommand> command) {
  FCommand = std::move(command);
}

bool TCRRecordSet::GetConvertEOL() const {
  TCRConnection* connection = FCommand ? FCommand->GetConnection() : nullptr;
  return connection != nullptr && connection->GetConvertEOL();
}

// ---- Lifecycle --------------------------------------------------------------------------------

void TCRRecordSet::Prepare() {
  if (FPrepared) return;
  TMemData::Prepare();
  if (FCommandType == ctResultSet) InitFields();
}

void TCRRecordSet::UnPrepare() {
  TMemData::UnPrepare();
  if (FTablesInfo) FTablesInfo->Clear();
}

void TCRRecordSet::Disconnect() {
  InternalUnPrepare();
  FPrepared = false;
}

void TCRRecordSet::LoseUnreadRows(const std::string& failure) {
  FUnreadRowsLost = true;
  FUnreadRowsFailure = failure;
}

void TCRRecordSet::CheckUnreadRowsKept() const {
  if (!FUnreadRowsLost) return;
  if (!FUnreadRowsFailure.empty())
    throw EDatabaseError("Cannot fetch further records: reading them failed (" + FUnreadRowsFailure +
                         "); the records read so far and the cached updates stay, and the dataset reads "
                         "the others when it is opened again");
  throw EDatabaseError(
      "Cannot fetch further records: the session holding them was lost; the records read so far and "
      "the cached updates stay, and the dataset reads the others when it is opened again");
}

void TCRRecordSet::InternalOpen() {
  FEof = false;
  try {
    ExecuteAndFetch();
  } catch (...) {
    FOpenExecuted = false;
    try {
      InternalClose();
      FreeData();
    } catch (...) {
      // the error of the open is the one to report
    }
    throw;
  }
}

void TCRRecordSet::ExecuteAndFetch() {
  const bool describedWhenPrepared = FPrepared && FCommandType == ctResultSet;
  if (FOpenExecuted)
    FOpenExecuted = false;
  else
    ExecCommand();
  if (!describedWhenPrepared || NeedReinitFields()) InitFields();
  if (FFetchAll)
    FetchAll();
  else
    Fetch();
}

void TCRRecordSet::ExecCommand() {
  GetCommand()->Execute();
  FFetchBreak.store(false, std::memory_order_release);
}

void TCRRecordSet::FetchAll() {
  CheckUnreadRowsKept();
  while (Fetch()) {
  }
}

bool TCRRecordSet::IsAllFetched() {
  const TCursorState state = GetCommand()->GetCursorState();
  return state == csInactive || state == csFetched;
}

void TCRRecordSet::DoBeforeFetch(bool& cancel) {
  cancel = FFetchBreak.load(std::memory_order_acquire);
  if (OnBeforeFetch) OnBeforeFetch(cancel);
  if (cancel && GetCommand()->GetCursorState() == csFetchingAll) GetCommand()->SetCursorState(csFetching);
}

void TCRRecordSet::DoAfterFetch() {
  if (OnAfterFetch) OnAfterFetch();
}

void TCRRecordSet::InitData() {
  TMemData::InitData();
  FDroppedRecords = 0;
  FFetchedRows = 0;
  FUnreadRowsLost = false;
  FUnreadRowsFailure.clear();
}

void TCRRecordSet::CountFetched(PItemHeader first) noexcept {
  for (PItemHeader p = first; p; p = p->Next) ++FFetchedRows;
}

// ---- Fields and tables ------------------------------------------------------------------------

TFieldDescClass TCRRecordSet::GetFieldDescType() const {
  return &CreateFieldDescOf<TCRFieldDesc>;
}

void TCRRecordSet::InitFields() {
  TMemData::InitFields();
  const TCRTableInfoClass& tableInfoClass = GetTableInfoClass();
  // The columns are mostly of one class: a cast through the class tree is asked once per class.
  const std::type_info* lastType = nullptr;
  bool lastIsCR = false;
  for (const auto& field : FFields) {
    TFieldDesc* desc = field.get();
    if (lastType == nullptr || typeid(*desc) != *lastType) {
      lastType = &typeid(*desc);
      lastIsCR = dynamic_cast<TCRFieldDesc*>(desc) != nullptr;
    }
    if (lastIsCR) static_cast<TCRFieldDesc*>(desc)->SetTableInfoClass(tableInfoClass);
  }
}

TCRTablesInfo& TCRRecordSet::GetTablesInfo() {
  if (!FTablesInfo) FTablesInfo = std::make_unique<TCRTablesInfo>(GetTableInfoClass());
  return *FTablesInfo;
}

// ---- Cursor and fetching ----------------------------------------------------------------------

void TCRRecordSet::DropFetchedRecords() {
  FDroppedRecords += FRecordCount;
  while (PItemHeader item = FFirstItem) {
    if (FHasComplexFields) {
      FreeComplexFields(TBlockManager::GetRecordPtr(item), true);
      if (PItemHeader rollback = BlockManager().Rollback(item))
        FreeComplexFields(TBlockManager::GetRecordPtr(rollback), true);
    }
    DeleteItem(item);
  }
  FRecordCount = 0;
  FRecordNoOffset = 0;
  DropRecordIndex();
}

void TCRRecordSet::GetNextRecord(void* recBuf) {
  if (FEof) return;
  PItemHeader item = FBof || !FCurrentItem ? FFirstItem : FCurrentItem->Next;
  for (;;) {
    while (item && IsHidden(item)) item = item->Next;
    if (item) break;
    // The walk ran past the last fetched record: the next block continues it.
    const bool replaces = FUniDirectional || CanFetchBack();
    PItemHeader last = FLastItem;
    // Before the end of the rows fetched counts as the result's end: the rest may be gone.
    CheckUnreadRowsKept();
    if (replaces && last) {
      if (IsAllFetched()) break;  // keep the last block: nothing would replace it
      // Releasing the block would silently discard changes the server has not seen yet.
      if (FCachedUpdates && GetUpdatesPending())
        throw EDatabaseError(
            "Cannot fetch further records while cached updates are pending; apply or cancel them first");
      DropFetchedRecords();
      last = nullptr;
    }
    if (!Fetch()) break;
    item = last ? last->Next : FFirstItem;
  }
  if (!item) {
    FCurrentItem = nullptr;
    FBof = false;
    FEof = true;
    return;
  }
  FCurrentItem = item;
  FBof = false;
  FEof = false;
  if (recBuf) BlockManager().GetRecord(item, recBuf);
}

void TCRRecordSet::GetPriorRecord(void* recBuf) {
  if (!FUniDirectional) {
    TMemData::GetPriorRecord(recBuf);
    return;
  }
  // Records before the current block are gone.
  FCurrentItem = nullptr;
  FEof = false;
  FBof = true;
}

int32_t TCRRecordSet::GetRecordCount() const {
  return TMemData::GetRecordCount() + FDroppedRecords;
}

int32_t TCRRecordSet::GetRecordNo() const {
  const int32_t no = TMemData::GetRecordNo();
  return no > 0 ? no + FDroppedRecords : 0;
}

void TCRRecordSet::SetRecordNo(int32_t n) {
  if (n <= FDroppedRecords) return;
  TMemData::SetRecordNo(n - FDroppedRecords);
}

void TCRRecordSet::FilterUpdated() {
  const bool eofBefore = FEof;
  const bool heldNone = FFirstItem == nullptr;
  TMemData::FilterUpdated();
  if (!eofBefore && FEof && (heldNone || !IsAllFetched())) FEof = false;
}

void TCRRecordSet::SortItems() {
  if (FActive && !IndexFieldNames().empty() && !IsAllFetched()) FetchAll();
  TMemData::SortItems();
}

// ---- Properties -------------------------------------------------------------------------------

bool TCRRecordSet::SetProp(int prop, const Variant& value) {
  switch (prop) {
    case prUniDirectional:
      FUniDirectional = value.AsBoolean();
      return true;
    case prFetchRows: {
      const int32_t rows = value.AsInteger();
      if (rows < 1 || rows > MaxFetchRows) throw EDatabaseError(MessageText(SInvalidFetchRows));
      FFetchRows = rows;
      BlockManager().SetDefaultItemCount(static_cast<uint16_t>(rows));
      return true;
    }
    case prFetchAll:
      FFetchAll = value.AsBoolean();
      return true;
    case prLongStrings:
      FLongStrings = value.AsBoolean();
      return true;
    case prEnableEmptyStrings:
      EnableEmptyStrings = value.AsBoolean();
      return true;
    case prFlatBuffers:
      FFlatBuffers = value.AsBoolean();
      return true;
    case prIndexFieldNames:
      SetIndexFieldNames(value.AsString());
      return true;
    case prCompressBlobMode:
      GetCommand()->SetCompressBlobMode(static_cast<uint8_t>(value.AsInteger()));
      return true;
    default:
      RaiseUnknownProp(prop, __FILE__, __LINE__);
  }
}

bool TCRRecordSet::GetProp(int prop, Variant& value) {
  if (prop == prFetchAll) {
    value = FFetchAll;
    return true;
  }
  RaiseUnknownProp(prop, __FILE__, __LINE__);
}
