// The query dataset's final SQL, refresh, key fields, SQL editing and master/detail, and the
// access helpers.
#include <algorithm>
#include <set>

#include "components/DBAccessDataSet.h"
#include "components/DBAccessText.h"
#include "core/DAConsts.h"
#include "platform/db/DataSource.h"

namespace {

// The names of a field list ("a;b", as the platform separates them), trimmed.
std::vector<std::string> SplitFieldNames(const std::string& list) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string name = TrimSQLBlanks(std::string_view(list).substr(start, end - start));
    if (!name.empty()) names.push_back(std::move(name));
    start = end + 1;
  }
  return names;
}

// Whether following masters from the source reaches the dataset.
bool LeadsTo(TDataSource* source, const TDataSet* dataSet) {
  for (int depth = 0; source != nullptr && depth < 1000; ++depth) {
    TDataSet* master = source->DataSet();
    if (master == nullptr) return false;
    if (master == dataSet) return true;
    source = master->GetDataSource();
  }
  return false;
}

// A re-read of the rows replaces the cached changes, which nothing has written yet.
void RefuseRereadOverCachedChanges(TCustomDADataSet& dataSet) {
  if (!dataSet.CachedUpdates() || !dataSet.UpdatesPending()) return;
  throw EDatabaseError(
      Format("%s holds cached changes not applied: apply or cancel them before its rows are read again",
             {dataSet.Name().empty() ? dataSet.ClassName() : dataSet.Name()}));
}

}  // namespace

// ---- Final SQL and SQL editing -------------------------------------------------------------------

std::string TCustomDADataSet::FinalSQL() {
  std::string sql = FCommand->InternalFinalSQL();
  if (!FFilterSQL.empty()) sql = SQLAddWhere(sql, FFilterSQL);
  if (MasterSource() != nullptr && !FMasterFields.empty() && !FDetailFields.empty() &&
      !FOptions->LocalMasterDetail()) {
    const std::vector<std::string> masters = SplitFieldNames(FMasterFields);
    const std::vector<std::string> details = SplitFieldNames(FDetailFields);
    TCRRecordSet* rs = CRRecordSet();
    const TCRTableInfoClass& names = rs != nullptr ? rs->GetTableInfoClass() : TCRTableInfo::Class();
    std::string condition;
    for (size_t i = 0; i < std::min(masters.size(), details.size()); ++i) {
      if (!condition.empty()) condition += " and ";
      condition += names.NormalizeName(details[i]) + " = :" + names.NormalizeName(masters[i]);
    }
    sql = SQLAddWhere(sql, condition);
  }
  return sql;
}

std::string TCustomDADataSet::QuoteName(const std::string& name) {
  TCRRecordSet* rs = CRRecordSet();
  const TCRTableInfoClass& names = rs != nullptr ? rs->GetTableInfoClass() : TCRTableInfo::Class();
  return names.NormalizeName(name, FOptions->QuoteNames);
}

std::string TCustomDADataSet::UnQuoteName(const std::string& name) const {
  TCRRecordSet* rs = CRRecordSet();
  const TCRTableInfoClass& names = rs != nullptr ? rs->GetTableInfoClass() : TCRTableInfo::Class();
  return names.UnQuote(name);
}

// A dialect supplies the clause editing; the generic dataset knows no SQL grammar.
std::string TCustomDADataSet::SQLAddWhere(const std::string&, const std::string&) {
  return {};
}

std::string TCustomDADataSet::SQLDeleteWhere(const std::string&) const {
  return {};
}

std::string TCustomDADataSet::SQLSetOrderBy(const std::string&, const std::string&) const {
  return {};
}

std::string TCustomDADataSet::SQLGetOrderBy(const std::string&) const {
  return {};
}

void TCustomDADataSet::AddWhere(const std::string& condition) {
  SetSQLText(SQLAddWhere(TrimSQLBlanks(SQL().Text()), condition));
}

void TCustomDADataSet::DeleteWhere() {
  SetSQLText(SQLDeleteWhere(TrimSQLBlanks(SQL().Text())));
}

void TCustomDADataSet::SetOrderBy(const std::string& fields) {
  SetSQLText(SQLSetOrderBy(TrimSQLBlanks(SQL().Text()), fields));
}

std::string TCustomDADataSet::GetOrderBy() const {
  return SQLGetOrderBy(TrimSQLBlanks(SQL().Text()));
}

void TCustomDADataSet::SetFilterSQL(const std::string& value) {
  const std::string trimmed = TrimSQLBlanks(value);
  if (trimmed == FFilterSQL) return;
  const bool wasActive = Active();
  if (wasActive && !IsLoading()) RefuseRereadOverCachedChanges(*this);
  FFilterSQL = trimmed;
  if (!IsLoading()) {
    Close();
    UnPrepare();
    FieldDefs().Updated = false;
  }
  FCommand->UpdateParams();
  InstallLocalMasterDetail(FOptions->LocalMasterDetail());
  if (wasActive) {
    Open();
    First();
  }
}

// ---- Key fields and refresh ----------------------------------------------------------------------

void TCustomDADataSet::GetCurrentKeys(std::vector<TField*>& keyFields, std::vector<Variant>& values) {
  keyFields.clear();
  values.clear();
  const TKeyAndDataFields keyAndData = GetKeyAndDataFields(false);
  std::vector<TFieldDesc*> chosen = keyAndData.KeyFieldDescs;
  if (chosen.empty())
    for (TFieldDesc* desc : keyAndData.DataFieldDescs)
      if (!IRecordSet().IsBlobFieldType(desc->DataType) && desc->DataType != dtObject &&
          desc->DataType != dtArray)
        chosen.push_back(desc);
  for (TFieldDesc* desc : chosen) {
    for (TField* field : Fields())
      if (field->FieldKind() == fkData && field->FieldNo() == desc->FieldNo) {
        keyFields.push_back(field);
        break;
      }
  }
  if (!Active() || IsEmpty()) return;
  for (TField* field : keyFields) values.push_back(field->Value());
}

bool TCustomDADataSet::LocateKeys(const std::vector<TField*>& keyFields, const std::vector<Variant>& values) {
  if (keyFields.empty() || values.size() != keyFields.size()) return false;
  std::string names;
  for (TField* field : keyFields) names += (names.empty() ? "" : ";") + field->FieldName();
  return Locate(names, values, 0);
}

void TCustomDADataSet::Requery(const char* traceName) {
  BeginConnection();
  try {
    TraceSQL(traceName, false);
    FRecordCount = FOptions->QueryRecCount ? GetRecCount() : 0;
    WriteParams();
    // The buffers' strings live in the record set's heap, which the re-query clears.
    ReleaseAllBufferRefs();
    IRecordSet().Reopen();
    FieldDescsRenewed();
    ChooseDirectReaders();
    FRowsAffected = -1;
    TraceSQL(traceName, true);
  } catch (...) {
    EndConnection();
    throw;
  }
  EndConnection();
}

// The platform's Refresh: UpdateCursorPos, this, then Resync of the buffers.
void TCustomDADataSet::InternalRefresh() {
  RefuseRereadOverCachedChanges(*this);
  std::vector<TField*> keyFields;
  std::vector<Variant> values;
  GetCurrentKeys(keyFields, values);
  Requery("Refresh");
  IRecordSet().SetToBegin();
  if (values.empty()) return;
  // Resync after the locate must see the found record: the cursor is left on it.
  if (LocateKeys(keyFields, values))
    UpdateCursorPos();
  else
    IRecordSet().SetToBegin();
}

void TCustomDADataSet::SetFiltered(bool value) {
  if (!Active() || value == Filtered()) return TMemDataSet::SetFiltered(value);
  std::vector<TField*> keyFields;
  std::vector<Variant> values;
  GetCurrentKeys(keyFields, values);
  TMemDataSet::SetFiltered(value);
  LocateKeys(keyFields, values);
}

// ---- Master/detail -------------------------------------------------------------------------------

TDataSource* TCustomDADataSet::MasterSource() const {
  return FDataLink != nullptr ? FDataLink->DataSource() : nullptr;
}

void TCustomDADataSet::SetMasterSource(TDataSource* value) {
  if (value == MasterSource()) return;
  if (LeadsTo(value, this))
    throw EDatabaseError("Circular datalinks are not allowed");  // the platform's text
  FDataLink->SetDataSource(value);
  MasterDetailChanged();
}

void TCustomDADataSet::SetMasterFields(const std::string& value) {
  if (value == FMasterFields) return;
  FMasterFields = value;
  MasterDetailChanged();
}

void TCustomDADataSet::SetDetailFields(const std::string& value) {
  if (value == FDetailFields) return;
  FDetailFields = value;
  MasterDetailChanged();
}

// The condition in the SQL (and so the parameters) follows the link's settings.
void TCustomDADataSet::MasterDetailChanged() {
  if (IsLoading()) return;
  if (!FOptions->LocalMasterDetail()) {
    if (Active()) {
      Close();
      FCommand->UpdateParams();
      Open();
    } else {
      FCommand->UpdateParams();
    }
  }
  InstallLocalMasterDetail(FOptions->LocalMasterDetail());
}

bool TCustomDADataSet::IsMasterField(TField* field) {
  if (field == nullptr) return false;
  if (FMasterFields.empty()) return Params().FindParam(field->FieldName()) != nullptr;
  for (const std::string& name : SplitFieldNames(FMasterFields))
    if (SameFieldName(name, field->FieldName())) return true;
  return false;
}

// True when a parameter's value changed.
bool TCustomDADataSet::ReadMasterValues(TDAParams& params, bool apply) {
  TDataSet* master = MasterSource() != nullptr ? MasterSource()->DataSet() : nullptr;
  if (master == nullptr) return false;
  bool changed = false;
  auto take = [&](TDAParam* param, TField* field) {
    const Variant value = field->Value();
    if (!param->IsNull() || !value.IsNull()) {
      const Variant old = param->Value();
      if (old.IsNull() != value.IsNull() || old.VarType() != value.VarType() || !(old == value))
        changed = true;
    }
    if (apply) param->AssignFieldValue(field, value);
  };
  if (!FMasterFields.empty()) {
    for (const std::string& name : SplitFieldNames(FMasterFields)) {
      TField* field = master->FindField(name);
      if (field == nullptr) throw EDatabaseError(MessageFmt(SFieldNotFound, {name}));
      if (TDAParam* param = params.FindParam(name)) take(param, field);
    }
  } else {
    for (int i = 0; i < params.Count(); ++i)
      if (TField* field = master->FindField(params[i]->Name())) take(params[i], field);
  }
  return changed;
}

void TCustomDADataSet::SetMasterParams(TDAParams& params) {
  ReadMasterValues(params);
}

void TCustomDADataSet::RefreshDetailParams() {
  TDataSet* master = MasterSource() != nullptr ? MasterSource()->DataSet() : nullptr;
  if (!Active() || master == nullptr || !master->Active() || master->State() == dsSetKey) return;
  if (FOptions->LocalMasterDetail()) {
    IRecordSet().FilterUpdated();
    First();
    Resync();
    return;
  }
  // The re-query would drop the cached changes of the rows shown, which nothing has written yet:
  // they stay, with the rows and parameters of the record they were made under.
  if (CachedUpdates() && UpdatesPending() && ReadMasterValues(Params(), false))
    throw EDatabaseError(Format(
        "%s holds cached changes not applied: apply or cancel them before its master moves to another record",
        {Name().empty() ? ClassName() : Name()}));
  if (!ReadMasterValues(Params())) return;
  if (FOptions->DetailDelay() == 0) return RequeryDetail();
  // One re-query, DetailDelay after the master's last move.
  if (FDetailTimer == nullptr) {
    FDetailTimer = std::make_unique<TWin32Timer>();
    FDetailTimer->SetEnabled(false);
    FDetailTimer->SetOnTimer([this](TWin32Timer*) { DetailTimerTick(); });
  }
  FDetailTimer->SetEnabled(false);
  FDetailTimer->SetInterval(static_cast<uint32_t>(FOptions->DetailDelay()));
  FDetailTimer->SetEnabled(true);
}

void TCustomDADataSet::DetailTimerTick() {
  // The rows of the master's earlier record may be being edited or hold cached changes made in
  // the delay: the re-query would post a half-typed edit or drop the changes unwritten. It waits,
  // armed, until they are posted or cancelled and applied or cancelled.
  if (Active() && (State() != dsBrowse || (CachedUpdates() && UpdatesPending()))) return;
  FDetailTimer->SetEnabled(false);
  if (Active()) RequeryDetail();
}

void TCustomDADataSet::RequeryDetail() {
  CheckBrowseMode();
  Requery("Refresh");
  First();
  Resync();
}

void TCustomDADataSet::InternalPost() {
  TMemDataSet::InternalPost();
  DropForeignDetailRecord();
}

// A posted record whose detail fields differ from the master's current values belongs to another
// master record: it leaves this dataset's rows (nothing is sent for that).
void TCustomDADataSet::DropForeignDetailRecord() {
  TDataSet* master = MasterSource() != nullptr ? MasterSource()->DataSet() : nullptr;
  if (master == nullptr || !master->Active() || CachedUpdates()) return;
  const std::vector<std::string> masters = SplitFieldNames(FMasterFields);
  const std::vector<std::string> details = SplitFieldNames(FDetailFields);
  bool belongs = true;
  for (size_t i = 0; belongs && i < std::min(masters.size(), details.size()); ++i) {
    TField* masterField = master->FindField(masters[i]);
    TField* detailField = FindField(details[i]);
    if (masterField != nullptr && detailField != nullptr)
      belongs = masterField->Value() == detailField->Value();
  }
  if (belongs) return;
  TData& data = IRecordSet();
  auto onDelete = std::move(data.OnDeleteRecord);
  data.OnDeleteRecord = nullptr;
  try {
    data.DeleteRecord();
  } catch (...) {
    data.OnDeleteRecord = std::move(onDelete);
    throw;
  }
  data.OnDeleteRecord = std::move(onDelete);
}

void TCustomDADataSet::DoBeforeEdit() {
  if ((RefreshOptions & roBeforeEdit) != 0) RefreshRecord();
  TMemDataSet::DoBeforeEdit();
}

void TCustomDADataSet::InstallLocalMasterDetail(bool on) {
  if (on)
    IRecordSet().FilterMDFunc = [this](void* recBuf) { return LocalMasterDetailAccepts(recBuf); };
  else
    IRecordSet().FilterMDFunc = nullptr;
  if (Active()) IRecordSet().FilterUpdated();
}

// The record's detail fields equal the master's current values.
bool TCustomDADataSet::LocalMasterDetailAccepts(void* recBuf) {
  TDataSet* master = MasterSource() != nullptr ? MasterSource()->DataSet() : nullptr;
  if (master == nullptr || !master->Active()) return true;
  const std::vector<std::string> masters = SplitFieldNames(FMasterFields);
  const std::vector<std::string> details = SplitFieldNames(FDetailFields);
  for (size_t i = 0; i < std::min(masters.size(), details.size()); ++i) {
    TField* masterField = master->FindField(masters[i]);
    TField* detailField = FindField(details[i]);
    if (masterField == nullptr || detailField == nullptr) continue;
    const Variant value = IRecordSet().GetFieldAsVariant(detailField->FieldNo(), recBuf);
    const Variant wanted = masterField->Value();
    if (value.IsNull() || wanted.IsNull()) {
      if (value.IsNull() != wanted.IsNull()) return false;
      continue;
    }
    if (!(value == wanted)) return false;
  }
  return true;
}

void TCustomDADataSet::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component == FConnection) ConnectionGone(FConnection);
  if (operation == opRemove && component == FUpdateObject) FUpdateObject = nullptr;
  TMemDataSet::Notification(component, operation);
}

void TCustomDADataSet::ConnectionGone(TCustomDAConnection* connection) {
  if (connection == nullptr || FConnection != connection) return;
  FConnection = nullptr;
  FPrepareHeld = false;  // the connection's uses go with it
  if (TCRRecordSet* rs = CRRecordSet()) rs->SetConnection(nullptr);
  if (FCommand != nullptr) FCommand->ConnectionGone(connection);
}

// ---- The statement generator's host ----------------------------------------------------------------

TDASQLGeneratorSettings TCustomDADataSet::GeneratorSettings() {
  TDASQLGeneratorSettings settings;
  settings.FullRefresh = FOptions->FullRefresh;
  settings.QuoteNames = FOptions->QuoteNames;
  settings.ReadOnly = FReadOnly;
  settings.Designing = FDesignCreate;
  settings.Active = Active();
  settings.CachedUpdates = CachedUpdates();
  settings.ApplyingUpdates = FApplyingUpdates;
  settings.HasOwnParams = Params().Count() > 0;
  return settings;
}

void* TCustomDADataSet::GeneratorOldRecBuf() {
  const TDataSetState saved = SetTempState(dsOldValue);
  void* buffer = GetActiveRecBuf();
  RestoreState(saved);
  return buffer;
}

TField* TCustomDADataSet::FieldOfDesc(const TFieldDesc* desc) {
  if (desc == nullptr) return nullptr;
  for (TField* field : Fields())
    if (field->FieldKind() == fkData && field->FieldNo() == desc->FieldNo) return field;
  return nullptr;
}

TFieldDesc* TCustomDADataSet::IdentityFieldDesc() {
  return FIdentityField != nullptr ? GetFieldDesc(FIdentityField) : nullptr;
}

TCRTablesInfo* TCustomDADataSet::RecordSetTablesInfo() {
  TCRRecordSet* rs = CRRecordSet();
  return rs != nullptr ? &rs->GetTablesInfo() : nullptr;
}

// ---- Helper statements -------------------------------------------------------------------------------

std::unique_ptr<TCustomDADataSet> TCustomDADataSet::CreateHelperDataSet() {
  return std::make_unique<TCustomDADataSet>(nullptr);
}

TCustomDADataSet& TCustomDADataSet::Helper() {
  if (FHelper == nullptr) {
    FHelper = CreateHelperDataSet();
    FHelper->Internal = true;
    FHelper->Command().Quiet = true;
  }
  FHelper->SetConnection(UsedConnection());
  return *FHelper;
}

TCustomDADataSet& TCustomDADataSet::RunHelper(const std::string& sql, TDAParams* params,
                                              const char* traceName) {
  TCustomDADataSet& helper = Helper();
  helper.Close();
  helper.SetSQLText(sql);
  if (params != nullptr) {
    // Generated statements hold "?" placeholders: the values go in parameter order.
    if (helper.Params().Count() == 0)
      helper.Params().Assign(params);
    else
      for (int i = 0; i < helper.Params().Count(); ++i)
        if (TDAParam* own = params->FindParam(helper.Params()[i]->Name())) helper.Params()[i]->Assign(own);
  }
  TraceSQL(traceName, false);
  helper.Open();
  TraceSQL(traceName, true);
  return helper;
}

void TCustomDADataSet::CopyHelperRow(TCustomDADataSet& helper, bool check) {
  TData& data = IRecordSet();
  // A record being posted or applied is in its buffer, which the record store takes afterwards.
  const bool intoBuffer = State() == dsInsert || State() == dsEdit || ApplyingRecords();
  void* target = intoBuffer ? GetActiveRecBuf() : nullptr;
  if (intoBuffer && target == nullptr) return;
  void* buffer = intoBuffer ? nullptr : data.AllocRecBuf();
  try {
    if (!intoBuffer) {
      UpdateCursorPos();
      data.GetRecord(buffer);
      target = buffer;
    }
    std::vector<std::pair<TFieldDesc*, Variant>> values;
    for (TField* column : helper.Fields()) {
      // A generated column alias names the field number: the dataset's fields may stand in
      // another order than the record set's columns, or be fewer.
      const int index = FSQLGenerator->AliasToIndex(column->FieldName());
      TField* field = index < 0 ? FindField(column->FieldName()) : nullptr;
      for (TField* candidate : Fields())
        if (index >= 0 && candidate->FieldKind() == fkData && candidate->FieldNo() == index + 1)
          field = candidate;
      TFieldDesc* desc = field != nullptr && field->FieldKind() == fkData ? GetFieldDesc(field) : nullptr;
      // Long strings live in the string heap, counted by reference: replacing one is safe. Blobs
      // would count the server's value as the user's change.
      if (desc == nullptr || data.IsBlobFieldType(desc->DataType) || desc->DataType == dtVariant) continue;
      const Variant value = column->Value();
      if (check) {
        const bool editing = State() == dsEdit || State() == dsInsert;
        const Variant held = editing ? field->OldValue() : field->Value();
        if (!(held == value)) throw EDatabaseError(MessageText(SRecordChanged));
        continue;
      }
      values.emplace_back(desc, value);
    }
    for (const auto& [desc, value] : values) {
      data.PutFieldAsVariant(desc->FieldNo, target, value);
      TrackRowValue(desc, value);
    }
    if (!intoBuffer) data.PutRecord(buffer);
  } catch (...) {
    if (buffer != nullptr) TData::FreeRecBuf(buffer);
    throw;
  }
  if (buffer != nullptr) TData::FreeRecBuf(buffer);
}

// ---- Quick refresh and record refresh ----------------------------------------------------------------

void TCustomDADataSet::RefreshQuick(bool checkDeleted) {
  CheckActive();
  CheckBrowseMode();
  const TKeyAndDataFields keyAndData = GetKeyAndDataFields(false);
  if (keyAndData.KeyFieldDescs.empty()) throw EDatabaseError(MessageText(SUniqueKeyFieldsRequired));
  if (UpdatingTableInfo() == nullptr) return;
  std::vector<TField*> keyFields;
  std::vector<Variant> values;
  GetCurrentKeys(keyFields, values);
  DisableControls();
  const bool strict = FOptions->StrictUpdate;
  FOptions->StrictUpdate = false;
  try {
    if (checkDeleted && !IsEmpty()) RemoveDeletedRows(keyAndData);
    RefreshChangedRows(keyAndData);
    if (!LocateKeys(keyFields, values)) First();
  } catch (...) {
    FOptions->StrictUpdate = strict;
    EnableControls();
    throw;
  }
  FOptions->StrictUpdate = strict;
  EnableControls();
}

namespace {

// The key values of a row as one text, for comparing rows of two datasets.
std::string KeyText(const std::vector<TField*>& fields) {
  std::string text;
  for (TField* field : fields) {
    text += field->IsNull() ? std::string("\x01") : field->AsString();
    text += '\0';
  }
  return text;
}

}  // namespace

// Local rows whose key the server no longer has leave the record store (nothing is sent).
void TCustomDADataSet::RemoveDeletedRows(const TKeyAndDataFields& keyAndData) {
  if (CachedUpdates()) return;  // a pending local change must not vanish
  TCustomDADataSet& keys =
      RunHelper(FSQLGenerator->GenerateSQLForUpdatingTable(stRefreshCheckDeleted, false), nullptr, "Refresh");
  std::vector<TField*> serverKeys, localKeys;
  for (TFieldDesc* desc : keyAndData.KeyFieldDescs) {
    localKeys.push_back(FieldOfDesc(desc));
    serverKeys.push_back(keys.FindField(desc->Name));
  }
  if (std::find(serverKeys.begin(), serverKeys.end(), nullptr) != serverKeys.end() ||
      std::find(localKeys.begin(), localKeys.end(), nullptr) != localKeys.end())
    return;
  std::set<std::string> present;
  for (keys.First(); !keys.Eof(); keys.Next()) present.insert(KeyText(serverKeys));
  keys.Close();
  TData& data = IRecordSet();
  auto onDelete = std::move(data.OnDeleteRecord);
  data.OnDeleteRecord = nullptr;
  try {
    First();
    while (!Eof()) {
      if (present.count(KeyText(localKeys)) != 0) {
        Next();
        continue;
      }
      UpdateCursorPos();
      data.DeleteRecord();
      Resync();
    }
  } catch (...) {
    data.OnDeleteRecord = std::move(onDelete);
    throw;
  }
  data.OnDeleteRecord = std::move(onDelete);
}

// Rows changed since the newest TIMESTAMP seen take the server's values; rows the dataset does
// not hold are left to the next full refresh, and so are rows holding a cached change not yet
// applied (the server's values would replace it, and the apply would write them back instead).
void TCustomDADataSet::RefreshChangedRows(const TKeyAndDataFields& keyAndData) {
  TDAParams params;
  TCustomDADataSet& rows =
      RunHelper(FSQLGenerator->GenerateSQLForUpdatingTable(stRefreshQuick, false), &Params(), "Refresh");
  FRowsAffected = rows.RecordCount();
  std::vector<TField*> serverKeys;
  std::string names;
  for (TFieldDesc* desc : keyAndData.KeyFieldDescs) {
    TField* local = FieldOfDesc(desc);
    if (local == nullptr) return;
    serverKeys.push_back(rows.FindField(local->FieldName()));
    names += (names.empty() ? "" : ";") + local->FieldName();
  }
  if (std::find(serverKeys.begin(), serverKeys.end(), nullptr) != serverKeys.end()) return;
  for (rows.First(); !rows.Eof(); rows.Next()) {
    std::vector<Variant> values;
    for (TField* key : serverKeys) values.push_back(key->Value());
    if (!Locate(names, values, 0)) continue;
    if (CachedUpdates() && UpdateStatus() != isUnmodified) continue;
    UpdateCursorPos();
    CopyHelperRow(rows);
  }
  rows.Close();
  Resync();
}

void TCustomDADataSet::RefreshRecord() {
  CheckActive();
  if (IsEmpty()) return;
  if (PerformSQL("", StatementTypeSet(stRefresh)) && State() == dsBrowse) Resync();
}

// ---- TDBAccessUtils -------------------------------------------------------------------------------

namespace {

[[noreturn]] void WrongObject(TComponent* obj) {
  RaiseAssertion(__FILE__, __LINE__, "TCustomDASQL or TCustomDADataSet",
                 obj != nullptr ? obj->ClassName() : std::string("nil"));
}

TCustomDASQL& CommandOf(TComponent* obj) {
  if (auto* sql = dynamic_cast<TCustomDASQL*>(obj)) return *sql;
  if (auto* ds = dynamic_cast<TCustomDADataSet*>(obj)) return ds->Command();
  WrongObject(obj);
}

}  // namespace

TCustomDAConnection* TDBAccessUtils::UsedConnection(TComponent* obj) {
  if (auto* ds = dynamic_cast<TCustomDADataSet*>(obj)) return ds->UsedConnection();
  return CommandOf(obj).UsedConnection();
}

void TDBAccessUtils::SetAutoCommit(TComponent* obj, bool value) {
  if (auto* ds = dynamic_cast<TCustomDADataSet*>(obj)) return ds->SetAutoCommit(value);
  CommandOf(obj).SetAutoCommit(value);
}

TCRConnection* TDBAccessUtils::GetIConnection(TCustomDAConnection* connection) {
  return connection->IConnection();
}

TCRRecordSet* TDBAccessUtils::GetIRecordSet(TCustomDADataSet* dataSet) {
  return dataSet->CRRecordSet();
}

TCRTablesInfo& TDBAccessUtils::GetTablesInfo(TCustomDADataSet* dataSet) {
  TCRRecordSet* rs = dataSet->CRRecordSet();
  DA_ASSERT(rs != nullptr);
  return rs->GetTablesInfo();
}

std::vector<TFieldDesc*> TDBAccessUtils::GetFieldDescs(TCustomDADataSet* dataSet) {
  std::vector<TFieldDesc*> descs;
  for (const auto& desc : dataSet->IRecordSet().Fields()) descs.push_back(desc.get());
  return descs;
}

void TDBAccessUtils::SetQuiet(TComponent* obj, bool value) {
  if (auto* ds = dynamic_cast<TCustomDADataSet*>(obj)) ds->Internal = value;
  CommandOf(obj).Quiet = value;
}

TStringList& TDBAccessUtils::GetSQL(TComponent* obj) {
  return CommandOf(obj).SQL();
}

void TDBAccessUtils::SetSQLText(TComponent* obj, const std::string& text) {
  TCustomDASQL& command = CommandOf(obj);
  TCRCommand* provider = command.ICommand();
  command.FSQLPassedUnparsed = true;
  if (provider != nullptr) provider->SetProp(prCommandNoEffect, true);
  try {
    command.SetSQLText(text);
  } catch (...) {
    command.FSQLPassedUnparsed = false;
    if (provider != nullptr) provider->SetProp(prCommandNoEffect, false);
    throw;
  }
  command.FSQLPassedUnparsed = false;
  if (provider != nullptr) provider->SetProp(prCommandNoEffect, false);
}

TDAParams& TDBAccessUtils::GetParams(TComponent* obj) {
  return CommandOf(obj).Params();
}

void TDBAccessUtils::Execute(TComponent* obj) {
  if (auto* ds = dynamic_cast<TCustomDADataSet*>(obj)) return ds->Execute();
  CommandOf(obj).Execute();
}

int TDBAccessUtils::GetRowsAffected(TComponent* obj) {
  if (auto* ds = dynamic_cast<TCustomDADataSet*>(obj)) return ds->RowsAffected();
  return CommandOf(obj).RowsAffected();
}
