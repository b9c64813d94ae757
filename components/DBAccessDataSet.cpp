#include "components/DBAccessDataSet.h"

#include <algorithm>

#include "core/DAConsts.h"
#include "platform/db/DataSource.h"

// ---- TDADataSetOptions ------------------------------------------------------------------------

void TDADataSetOptions::CheckInactive() const {
  FOwner->CheckInactive();
}

void TDADataSetOptions::SetRequiredFields(bool value) {
  if (value == FRequiredFields) return;
  FRequiredFields = value;
  FOwner->SetRequiredFields(value);
  FOwner->FieldDefs().Updated = false;
  if (FOwner->Active()) FOwner->InitFieldDefs();
}

bool TDADataSetOptions::NumberRange() const noexcept {
  return FOwner->NumberRange;
}

void TDADataSetOptions::SetNumberRange(bool value) {
  FOwner->NumberRange = value;
}

void TDADataSetOptions::SetAutoPrepare(bool value) {
  if (value == FAutoPrepare) return;
  FOwner->UnPrepare();
  FAutoPrepare = value;
}

void TDADataSetOptions::SetTrimFixedChar(bool value) {
  FTrimFixedChar = value;
  FOwner->IRecordSet().TrimFixedChar = value;
}

void TDADataSetOptions::SetTrimVarChar(bool value) {
  FTrimVarChar = value;
  FOwner->IRecordSet().TrimVarChar = value;
}

void TDADataSetOptions::SetLongStrings(bool value) {
  CheckInactive();
  FLongStrings = value;
  if (TCRRecordSet* rs = FOwner->CRRecordSet()) rs->SetProp(prLongStrings, value);
  FOwner->FieldDefs().Updated = false;
}

void TDADataSetOptions::SetFlatBuffers(bool value) {
  CheckInactive();
  FFlatBuffers = value;
  if (TCRRecordSet* rs = FOwner->CRRecordSet()) rs->SetProp(prFlatBuffers, value);
}

void TDADataSetOptions::SetCompressBlobMode(TCompressBlobMode value) {
  if (value == FCompressBlobMode) return;
  CheckInactive();
  FCompressBlobMode = value;
  if (TCRRecordSet* rs = FOwner->CRRecordSet()) rs->SetProp(prCompressBlobMode, static_cast<int>(value));
  FOwner->FieldDefs().Updated = false;
}

void TDADataSetOptions::SetDetailDelay(int value) {
  FDetailDelay = value;
  if (FOwner->FDetailTimer != nullptr && value > 0)
    FOwner->FDetailTimer->SetInterval(static_cast<uint32_t>(value));
}

void TDADataSetOptions::SetLocalMasterDetail(bool value) {
  if (value == FLocalMasterDetail) return;
  CheckInactive();
  FLocalMasterDetail = value;
  FOwner->InstallLocalMasterDetail(value);
}

bool TDADataSetOptions::CacheCalcFields() const noexcept {
  return FOwner->FCacheCalcFields;
}

void TDADataSetOptions::SetCacheCalcFields(bool value) {
  if (value == FOwner->FCacheCalcFields) return;
  CheckInactive();
  FOwner->FCacheCalcFields = value;
}

void TDADataSetOptions::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TDADataSetOptions*>(source);
  if (other == nullptr) return TPersistent::Assign(source);
  SetRequiredFields(other->RequiredFields());
  StrictUpdate = other->StrictUpdate;
  SetNumberRange(other->NumberRange());
  QueryRecCount = other->QueryRecCount;
  SetAutoPrepare(other->AutoPrepare());
  ReturnParams = other->ReturnParams;
  SetTrimFixedChar(other->TrimFixedChar());
  SetTrimVarChar(other->TrimVarChar());
  if (other->LongStrings() != FLongStrings) SetLongStrings(other->LongStrings());
  if (other->FlatBuffers() != FFlatBuffers) SetFlatBuffers(other->FlatBuffers());
  SetDetailDelay(other->DetailDelay());
  SetFieldsReadOnly = other->SetFieldsReadOnly;
  QuoteNames = other->QuoteNames;
  SetCompressBlobMode(other->CompressBlobMode());
  SetLocalMasterDetail(other->LocalMasterDetail());
  SetCacheCalcFields(other->CacheCalcFields());
  FullRefresh = other->FullRefresh;
  UpdateAllFields = other->UpdateAllFields;
}

// ---- Construction -------------------------------------------------------------------------------

TCustomDADataSet::TCustomDADataSet(TComponent* owner) : TMemDataSet(owner), FDesignCreate(IsDesigning()) {
  FDataLink = std::make_unique<TDADetailDataLink>(this, this);
  for (TStringList* list : {&FSQLInsert, &FSQLUpdate, &FSQLDelete, &FSQLRefresh})
    list->SetKeepLineBreaks(true);
  CreateParts();
}

TCustomDADataSet::~TCustomDADataSet() {
  try {
    Close();
    UnPrepare();
  } catch (...) {
    // Going away: the record set frees what is left.
  }
  // The update object forgets this dataset.
  if (FUpdateObject != nullptr) SetUpdateObject(nullptr);
  FDetailTimer.reset();
  FHelper.reset();
  FDataLink.reset();
  if (FConnection != nullptr) FConnection->UnRegisterClient(this);
}

void TCustomDADataSet::CreateParts() {
  if (FCommand != nullptr) FCommand->SetDataSet(nullptr);
  FCommand = CreateCommand();
  FCommand->SetDataSet(this);
  FCommand->SetAutoCommit(FAutoCommit);
  FOptions = CreateOptions();
  FSQLGenerator = CreateSQLGenerator();
  IRecordSet().TrimFixedChar = FOptions->TrimFixedChar();
  CreateIRecordSet();
  SetRequiredFields(FOptions->RequiredFields());
}

std::unique_ptr<TCustomDASQL> TCustomDADataSet::CreateCommand() {
  return std::make_unique<TCustomDASQL>(nullptr);
}

std::unique_ptr<TDASQLGenerator> TCustomDADataSet::CreateSQLGenerator() {
  return std::make_unique<TDASQLGenerator>(this);
}

std::unique_ptr<TDADataSetOptions> TCustomDADataSet::CreateOptions() {
  return std::make_unique<TDADataSetOptions>(this);
}

void TCustomDADataSet::CreateIRecordSet() {
  TCustomDAConnection* conn = UsedConnection();
  const TCRRecordSetClass cls = conn != nullptr ? conn->GetIRecordSetClass() : DefaultIRecordSetClass();
  if (!cls || cls.IsClassOf(CRRecordSet())) return;
  SetIRecordSet(cls.Create());
}

void TCustomDADataSet::SetIRecordSet(std::unique_ptr<TData> recordSet) {
  // The command must let go of the old record set's provider command before that goes.
  if (FCommand != nullptr) FCommand->FICommand.reset();
  try {
    TMemDataSet::SetIRecordSet(std::move(recordSet));
  } catch (...) {
    FCRRecordSet = dynamic_cast<TCRRecordSet*>(&IRecordSet());
    throw;
  }
  FCRRecordSet = dynamic_cast<TCRRecordSet*>(&IRecordSet());
  if (TCRRecordSet* rs = CRRecordSet()) {
    rs->OnBeforeFetch = [this](bool& cancel) {
      if (BeforeFetch) BeforeFetch(this, cancel);
    };
    rs->OnAfterFetch = [this] {
      if (AfterFetch) AfterFetch(this);
    };
    AssignRecordSetProps(*rs);
  }
  if (FCommand != nullptr) FCommand->CreateICommand();
}

void TCustomDADataSet::AssignRecordSetProps(TCRRecordSet& rs) {
  rs.SetProp(prUniDirectional, FUniDirectional);
  rs.SetProp(prFetchRows, FFetchRows);
  rs.SetProp(prFetchAll, FFetchAll);
  if (FOptions != nullptr) {
    rs.SetProp(prLongStrings, FOptions->LongStrings());
    rs.SetProp(prFlatBuffers, FOptions->FlatBuffers());
    rs.SetProp(prCompressBlobMode, static_cast<int>(FOptions->CompressBlobMode()));
    rs.TrimFixedChar = FOptions->TrimFixedChar();
    rs.TrimVarChar = FOptions->TrimVarChar();
  }
  TCustomDAConnection* conn = UsedConnection();
  rs.SetConnection(conn != nullptr ? conn->IConnection() : nullptr);
  rs.SetComponent(this);
}

TCRCommand* TCustomDADataSet::RecordSetCommand() const {
  TCRRecordSet* rs = CRRecordSet();
  return rs != nullptr ? rs->GetCommand() : nullptr;
}

// ---- Connection -----------------------------------------------------------------------------------

void TCustomDADataSet::SetConnection(TCustomDAConnection* value) {
  if (value == FConnection) return;
  Close();
  UnPrepare();
  FieldDefs().Updated = false;
  if (FConnection != nullptr) {
    FConnection->UnRegisterClient(this);
    RemoveFreeNotification(FConnection);
  }
  FConnection = value;
  if (value != nullptr) {
    value->RegisterClient(this);
    FreeNotification(value);
  }
  FCommand->SetConnection(value);
  CreateIRecordSet();
  if (TCRRecordSet* rs = CRRecordSet()) rs->SetConnection(value != nullptr ? value->IConnection() : nullptr);
}

void TCustomDADataSet::BeginConnection() {
  TCustomDAConnection* conn = UsedConnection();
  if (conn == nullptr) throw EDatabaseError(MessageText(SConnectionNotDefined));
  conn->InternalConnect();
  try {
    CreateIRecordSet();
    TCRRecordSet* rs = CRRecordSet();
    DA_ASSERT_MSG(rs != nullptr, "The connection supplies no record set");
    rs->SetConnection(conn->IConnection());
    if (FCommand->FICommand.get() != rs->GetCommand()) FCommand->CreateICommand();
    FCommand->FollowSessionTextMode();
  } catch (...) {
    conn->InternalDisconnect();
    throw;
  }
}

void TCustomDADataSet::EndConnection() {
  if (TCustomDAConnection* conn = UsedConnection()) conn->InternalDisconnect();
}

void TCustomDADataSet::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deConnectChange && info == 0) {
    TCustomDAConnection* conn = UsedConnection();
    TCRRecordSet* rs = CRRecordSet();
    // Cached changes of a lost session were never written, or written in the transaction the
    // server rolled back with it: the rows stay with them pending, to be applied once the
    // connection is open again. Rows the server had still to send are gone, and reading on says so.
    const TMemData* data = Active() && CachedUpdates() ? MemData() : nullptr;
    const bool keepChanges = conn != nullptr && conn->ClosingLostSession() && data != nullptr &&
                             data->HasCachedChanges() && rs != nullptr;
    const bool rowsUnread = keepChanges && !rs->IsAllFetched();
    // Under the connection's apply the connection settles the changes once the error reaches it.
    if (keepChanges && conn->InTransaction() && !conn->ApplyingUpdates()) {
      // An apply under way marks what ran once the error reaches it: it restores after that.
      if (FApplyingUpdates)
        FRestoreAfterApply = true;
      else
        RestoreUpdates();
    }
    if (conn != nullptr && (conn->Options().DisconnectedMode() || keepChanges) && Active()) {
      // The rows stay; only what the server held for the statement goes.
      if (rs != nullptr) rs->Disconnect();
      if (rowsUnread) rs->LoseUnreadRows();
      FPrepareHeld = false;
      return;
    }
    TMemDataSet::DataEvent(event, info);
    // The statement prepared on the closing session is unprepared while the session is there;
    // the connection resets its uses itself, so the one Prepare took is not given back.
    if (Prepared()) {
      FPrepareHeld = false;
      try {
        UnPrepare();
      } catch (...) {
        // The statement cannot outlive the session anyway.
      }
    }
    return;
  }
  TMemDataSet::DataEvent(event, info);
}

bool TCustomDADataSet::TracingEnabled() const {
  if (Internal) return false;
  TCustomDAConnection* conn = UsedConnection();
  return Debug || (conn != nullptr && conn->SQLMonitorClass()() != nullptr);
}

void TCustomDADataSet::TraceSQL(const char* what, bool after) {
  if (!TracingEnabled()) return;
  TCustomDASQLMonitor::SQLExecute(UsedConnection()->SQLMonitorClass(), this, FinalSQL(), &Params(), what,
                                  after, Debug);
}

// ---- Fetching options ------------------------------------------------------------------------------

void TCustomDADataSet::SetFetchRows(int value) {
  if (value == FFetchRows) return;
  CheckInactive();
  if (value < 1 || value > 10000) throw EDatabaseError(MessageText(SInvalidFetchRows));
  FFetchRows = value;
  if (TCRRecordSet* rs = CRRecordSet()) rs->SetProp(prFetchRows, value);
}

void TCustomDADataSet::SetFetchAll(bool value) {
  FFetchAll = value;
  if (value) FUniDirectional = false;
  TCRRecordSet* rs = CRRecordSet();
  if (rs == nullptr) return;
  if (value) rs->SetProp(prUniDirectional, false);
  rs->SetProp(prFetchAll, value);
  if (value && Active()) {
    CheckBrowseMode();
    UpdateCursorPos();
    rs->FetchAll();
    Resync();
  }
}

void TCustomDADataSet::SetUniDirectional(bool value) {
  if (value == FUniDirectional) return;
  CheckInactive();
  FUniDirectional = value;
  if (value) FFetchAll = false;
  if (TCRRecordSet* rs = CRRecordSet()) {
    if (value) rs->SetProp(prFetchAll, false);
    rs->SetProp(prUniDirectional, value);
  }
}

void TCustomDADataSet::SetReadOnly(bool value) {
  FReadOnly = value;
}

void TCustomDADataSet::SetAutoCommit(bool value) {
  FAutoCommit = value;
  FCommand->SetAutoCommit(value);
}

// ---- Preparing, opening and executing --------------------------------------------------------------

void TCustomDADataSet::SQLChanging() {
  if (IsLoading()) return;
  Close();
  UnPrepare();
  FieldDefs().Updated = false;
}

void TCustomDADataSet::WriteParams() {
  if (FCommand->FICommand == nullptr) FCommand->CreateICommand();
  if (FCommand->FICommand != nullptr) FCommand->WriteParams(true);
}

void TCustomDADataSet::Prepare() {
  if (Prepared() || Active()) return;
  BeginConnection();
  try {
    TDataSource* master = MasterSource();
    if (master != nullptr && master->DataSet() != nullptr && master->DataSet()->Active())
      SetMasterParams(Params());
    WriteParams();
    if (TracingEnabled())
      TCustomDASQLMonitor::SQLPrepare(UsedConnection()->SQLMonitorClass(), this, FinalSQL(), &Params(), false,
                                      Debug);
    TMemDataSet::Prepare();
    if (TracingEnabled())
      TCustomDASQLMonitor::SQLPrepare(UsedConnection()->SQLMonitorClass(), this, FinalSQL(), &Params(), true,
                                      Debug);
  } catch (...) {
    EndConnection();
    throw;
  }
  FPrepareHeld = true;
}

void TCustomDADataSet::UnPrepare() {
  const bool prepared = Prepared();
  if (Active()) Close();
  if (prepared && TracingEnabled())
    TCustomDASQLMonitor::SQLUnprepare(UsedConnection()->SQLMonitorClass(), this, FinalSQL(), &Params(), false,
                                      Debug);
  TMemDataSet::UnPrepare();
  if (TCRRecordSet* rs = CRRecordSet()) rs->GetTablesInfo().Clear();
  FUpdatingTableIndex = -1;
  if (prepared && TracingEnabled())
    TCustomDASQLMonitor::SQLUnprepare(UsedConnection()->SQLMonitorClass(), this, FinalSQL(), &Params(), true,
                                      Debug);
  if (FPrepareHeld) {
    FPrepareHeld = false;
    EndConnection();
  }
}

void TCustomDADataSet::OpenCursor() {
  BeginConnection();
  try {
    if (FOpenExecuted) {
      FOpenExecuted = false;
      CRRecordSet()->OpenExecutedNext();
      TMemDataSet::OpenCursor();
    } else {
      TraceSQL("", false);
      CheckSQL();
      TDataSource* master = MasterSource();
      if (master != nullptr && master->DataSet() != nullptr && master->DataSet()->Active() &&
          !FOptions->LocalMasterDetail())
        SetMasterParams(Params());
      FRecordCount = FOptions->QueryRecCount ? GetRecCount() : 0;
      WriteParams();
      TMemDataSet::OpenCursor();
      TraceSQL("", true);
    }
    FRowsAffected = -1;
    AfterOpenCursor();
  } catch (...) {
    EndConnection();
    throw;
  }
  EndConnection();
}

void TCustomDADataSet::CloseCursor() {
  FIdentityField = nullptr;
  TMemDataSet::CloseCursor();
}

void TCustomDADataSet::Execute() {
  if (Active()) Close();
  if (FOptions->AutoPrepare()) Prepare();
  BeginConnection();
  TCustomDAConnection* conn = UsedConnection();
  bool rows = false;
  try {
    CheckSQL();
    TDataSource* master = MasterSource();
    if (master != nullptr && master->DataSet() != nullptr && master->DataSet()->Active())
      SetMasterParams(Params());
    WriteParams();
    TraceSQL("", false);
    TCRRecordSet* rs = CRRecordSet();
    conn->RunOperation(clExecute, [rs] { rs->ExecCommand(); });
    rows = rs->HasResultSet();
    if (!rows) FRowsAffected = FCommand->RowsAffected();
    TraceSQL("", true);
    if (rows) {
      FOpenExecuted = true;
      Open();
    }
  } catch (...) {
    FOpenExecuted = false;
    try {
      EndConnection();
    } catch (...) {
      // The execution's own error is the one reported.
    }
    if (AfterExecute) AfterExecute(this, false);
    throw;
  }
  if (!rows && conn->Options().DisconnectedMode() && conn->GetConnected() && !conn->InTransaction() &&
      (!conn->AutoCommit() || !FAutoCommit))
    conn->SetImplicitTransaction();
  EndConnection();
  if (AfterExecute) AfterExecute(this, true);
}

int TCustomDADataSet::GetRecordCount() {
  const int held = TMemDataSet::GetRecordCount();
  // The server's count stands for the rows not fetched yet; those held count as they are now,
  // local inserts and deletes included.
  TCRRecordSet* rs = CRRecordSet();
  if (FOptions->QueryRecCount && FRecordCount > 0 && rs != nullptr)
    return std::max(FRecordCount - rs->GetFetchedRows(), 0) + held;
  return held;
}

// ---- Updating table ----------------------------------------------------------------------------------

void TCustomDADataSet::CreateFields() {
  TMemDataSet::CreateFields();
  ChooseUpdatingTable(true);
}

void TCustomDADataSet::SetUpdatingTable(const std::string& value) {
  FUpdatingTable = value;
  if (Active()) ChooseUpdatingTable(true);
}

TCRTableInfo* TCustomDADataSet::UpdatingTableInfo() {
  TCRRecordSet* rs = CRRecordSet();
  if (rs == nullptr || FUpdatingTableIndex < 0 || FUpdatingTableIndex >= rs->GetTablesInfo().GetCount())
    return nullptr;
  return rs->GetTablesInfo()[FUpdatingTableIndex];
}

// A name that matches no table raises every time it is met: falling back to another table would
// write the user's changes somewhere they did not ask for.
void TCustomDADataSet::ChooseUpdatingTable(bool raise) {
  FUpdatingTableIndex = -1;
  TCRRecordSet* rs = CRRecordSet();
  if (rs == nullptr || rs->GetTablesInfo().GetCount() == 0) return;
  TCRTablesInfo& tables = rs->GetTablesInfo();
  int index = 0;
  if (!FUpdatingTable.empty()) {
    const std::string bare = UnQuoteName(FUpdatingTable);
    index = tables.IndexByName(FUpdatingTable);
    if (index < 0) index = tables.IndexByName(bare);
    if (index < 0) index = tables.IndexByAlias(FUpdatingTable);
    if (index < 0) index = tables.IndexByAlias(bare);
    if (index < 0) {
      if (raise) throw EDatabaseError(MessageFmt(SBadUpdatingTable, {FUpdatingTable}));
      return;
    }
  }
  FUpdatingTableIndex = index;
  ApplyFieldsReadOnly();
}

void TCustomDADataSet::ApplyFieldsReadOnly() {
  if (!FOptions->SetFieldsReadOnly || FReadOnly) return;
  TCRTableInfo* table = UpdatingTableInfo();
  for (TField* field : Fields()) {
    if (field->FieldKind() != fkData) continue;
    auto* desc = dynamic_cast<TCRFieldDesc*>(GetFieldDesc(field));
    field->SetReadOnly(desc == nullptr || desc->TableInfo != table || desc->ReadOnly);
  }
}

TKeyAndDataFields TCustomDADataSet::KeyAndDataFieldsOf(int, bool) {
  return {};
}

// ---- Assignment ------------------------------------------------------------------------------------

void TCustomDADataSet::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TCustomDADataSet*>(source);
  if (other == nullptr) return TMemDataSet::Assign(source);
  TMemDataSet::Assign(source);
  SetConnection(other->FConnection);
  SetMasterSource(other->MasterSource());
  SetMasterFields(other->FMasterFields);
  SetDetailFields(other->FDetailFields);
  SetParamCheck(other->ParamCheck());
  SetSQLText(other->SQL().Text());
  SetFilterSQL(other->FFilterSQL);
  Macros().Assign(&other->Macros());
  Params().Assign(&other->Params());
  Debug = other->Debug;
  SetFetchRows(other->FFetchRows);
  SetUniDirectional(other->FUniDirectional);
  SetAutoCommit(other->FAutoCommit);
  RefreshOptions = other->RefreshOptions;
  FSQLInsert.Assign(other->FSQLInsert);
  FSQLUpdate.Assign(other->FSQLUpdate);
  FSQLDelete.Assign(other->FSQLDelete);
  FSQLRefresh.Assign(other->FSQLRefresh);
  FUpdatingTable = other->FUpdatingTable;
  FOptions->Assign(other->FOptions.get());
}
