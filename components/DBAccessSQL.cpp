#include "components/DBAccessSQL.h"

#include <exception>
#include <string_view>
#include <vector>

#include "components/DBAccessDataSet.h"
#include "components/DBAccessText.h"
#include "core/DAConsts.h"
#include "core/MemBlob.h"
#include "core/MemData.h"

TCustomDASQL::TCustomDASQL(TComponent* owner) : TComponent(owner) {
  FParams = CreateParams();
  FMacros = std::make_unique<TMacros>(this);
  FMacros->OnChanged = [this](TMacro* macro, TMacroChange change) { OnMacrosChanged(macro, change); };
  FSQL.SetKeepLineBreaks(true);
  FSQL.OnChange = [this](TStringList*) {
    if (!FSplittingText) SQLChanged();
  };
}

TCustomDASQL::~TCustomDASQL() {
  FSQL.OnChange = nullptr;
  FMacros->OnChanged = nullptr;
  try {
    UnPrepare();
  } catch (...) {
    // Going away: the provider frees what the statement held with its command.
  }
  if (FConnection != nullptr) FConnection->UnRegisterClient(this);
}

std::unique_ptr<TDAParams> TCustomDASQL::CreateParams() {
  return std::make_unique<TDAParams>(this);
}

// ---- Connection and provider command ------------------------------------------------------------

void TCustomDASQL::SetConnection(TCustomDAConnection* value) {
  if (value == FConnection) return;
  if (FConnection != nullptr) {
    try {
      UnPrepare();
    } catch (...) {
      // The old connection's statement is dropped with its provider command below.
    }
    FConnection->UnRegisterClient(this);
    RemoveFreeNotification(FConnection);
  }
  FConnection = value;
  if (value != nullptr) {
    // A session opened reads backslashes in strings its own way: the parameters follow it.
    value->RegisterClient(this, [this](TCustomConnection*, bool connecting) {
      if (!connecting) return;
      try {
        FollowSessionTextMode();
      } catch (...) {
        // The text is read again, and its error raised, when it runs.
      }
    });
    FreeNotification(value);
  }
  if (FICommand != nullptr) {
    if (value != nullptr)
      CreateICommand();
    else
      FICommand->SetConnection(nullptr);
  }
  FollowSessionTextMode();
}

void TCustomDASQL::ConnectionGone(TCustomDAConnection* connection) {
  if (FConnection != connection) return;
  FConnection = nullptr;
  if (FICommand != nullptr) FICommand->SetConnection(nullptr);
}

void TCustomDASQL::SessionEnding() noexcept {
  if (!Prepared()) return;
  // Traced as an unprepare of the user's own: the monitor saw the statement prepared.
  TCustomDAConnection* conn = UsedConnection();
  const TDASQLMonitorClass monitor = conn != nullptr ? conn->SQLMonitorClass() : nullptr;
  auto trace = [&](bool after) {
    if (Quiet || monitor == nullptr) return;
    try {
      TCustomDASQLMonitor::SQLUnprepare(monitor, this, *FFinalSQL, FParams.get(), after, Debug);
    } catch (...) {
      // A trace handler's failure does not keep the statement on a closing session.
    }
  };
  trace(false);
  try {
    // The use Prepare took goes with the session: the connection resets its count as it closes.
    InternalUnprepare();
  } catch (...) {
    // The statement cannot outlive the session anyway.
  }
  trace(true);
}

TComponent* TCustomDASQL::TraceSender() noexcept {
  if (FRunningFor != nullptr) return FRunningFor;
  if (FDataSet != nullptr) return FDataSet;
  return this;
}

void TCustomDASQL::Notification(TComponent* component, TOperation operation) {
  if (operation == opRemove && component == FConnection) ConnectionGone(FConnection);
  TComponent::Notification(component, operation);
}

void TCustomDASQL::SetIConnection(TCRConnection* value) {
  if (FICommand != nullptr) FICommand->SetConnection(value);
}

void TCustomDASQL::CreateICommand() {
  if (FDataSet != nullptr) {
    // The record set's command: the dataset opens and executes through it.
    TCRCommand* shared = FDataSet->RecordSetCommand();
    if (FICommand.get() != shared) {
      FICommand.reset();
      FICommand = std::unique_ptr<TCRCommand, TICommandDeleter>(shared, TICommandDeleter(false));
    }
    return AssignICommandProps(shared);
  }
  TCustomDAConnection* conn = UsedConnection();
  if (conn == nullptr) return AssignICommandProps(nullptr);
  const TCRCommandClass cls = conn->GetICommandClass();
  if (FICommand != nullptr && !cls.IsClassOf(FICommand.get())) FICommand.reset();
  if (FICommand == nullptr) FICommand = cls.Create();
  AssignICommandProps(FICommand.get());
}

void TCustomDASQL::AssignICommandProps(TCRCommand* command) {
  if (command == nullptr) return;
  TCustomDAConnection* conn = UsedConnection();
  command->SetConnection(conn != nullptr ? conn->IConnection() : nullptr);
  command->SetSQL(FFinalSQL);
  command->SetProp(prAutoCommit, FAutoCommit);
  command->AfterExecute = [this](bool result) { DoAfterExecute(result); };
  command->SetComponent(conn != nullptr && FConnection == nullptr ? static_cast<TComponent*>(conn) : this);
  Variant parsesItself;
  if (!command->GetProp(prParamCheck, parsesItself) || !parsesItself.AsBoolean()) UpdateParams();
}

void TCustomDASQL::BeginConnection(bool noConnectCheck) {
  TCustomDAConnection* conn = UsedConnection();
  if (conn == nullptr) throw EDatabaseError(MessageText(SConnectionNotDefined));
  if (noConnectCheck)
    conn->InternalConnect();
  else if (!conn->GetConnected())
    conn->Open();
  try {
    if (FConnection == nullptr) conn->RegisterClient(this);
    if (FICommand == nullptr || !conn->GetICommandClass().IsClassOf(FICommand.get())) CreateICommand();
    FICommand->SetConnection(conn->IConnection());
    FollowSessionTextMode();
  } catch (...) {
    if (noConnectCheck) conn->InternalDisconnect();
    throw;
  }
}

void TCustomDASQL::FollowSessionTextMode() {
  if (FSQLUnparsedText || (!FParamCheck && !IsDesigning()) || Prepared()) return;
  if (TextNoBackslashEscapes() != FParsedNoBackslashEscapes) UpdateParams();
}

void TCustomDASQL::EndConnection() {
  if (TCustomDAConnection* conn = UsedConnection()) conn->InternalDisconnect();
}

// ---- SQL text, parameters and macros -------------------------------------------------------------

namespace {

// Whether two texts give the same lines: split into lines, a text reads back as it was, a last
// line without a break given one ("\r\n").
bool SameLines(std::string_view a, std::string_view b) {
  auto ended = [](std::string_view t) { return t.empty() || t.back() == '\r' || t.back() == '\n'; };
  if (ended(a) == ended(b)) return a == b;
  if (!ended(a)) std::swap(a, b);
  return a.size() == b.size() + 2 && a.substr(0, b.size()) == b && a.substr(b.size()) == "\r\n";
}

}  // namespace

void TCustomDASQL::SetSQLText(const std::string& text) {
  // The same text passed the other way (parsed or unparsed) is taken again.
  if (FSQLUnparsedText == FSQLPassedUnparsed) {
    const bool same = FText != nullptr    ? SameLines(*FText, text)
                      : FSQL.Count() == 0 ? text.empty()
                                          : SameLines(FSQL.ExactText(), text);
    if (same) return;
  }
  if (!FSQL.KeepLineBreaks() || FSQL.Sorted()) {
    // A list set to read its lines otherwise takes them as it reads them.
    TStringList lines;
    lines.SetKeepLineBreaks(true);
    lines.SetText(text);
    FSQL.BeginUpdate();
    FSQL.Assign(lines);
    FSQL.EndUpdate();
    return;
  }
  // Kept whole, without a list of its lines (a restore passes statements of megabytes here).
  auto whole = std::make_shared<const std::string>(text);
  FSQL.BeginUpdate();
  FSQL.Clear();
  FText = std::move(whole);
  FSQL.EndUpdate();
}

TStringList& TCustomDASQL::SQL() {
  if (FText != nullptr) {
    FSplittingText = true;
    try {
      FSQL.SetText(*FText);
    } catch (...) {
      FSplittingText = false;
      throw;
    }
    FSplittingText = false;
    FText.reset();
  }
  return FSQL;
}

std::string TCustomDASQL::SQLText() const {
  if (FText == nullptr) return FSQL.Text();
  const std::string& text = *FText;
  if (text.empty() || text.back() == '\r' || text.back() == '\n') return text;
  return text + "\r\n";
}

std::string TCustomDASQL::FinalSQL() const {
  return FDataSet != nullptr ? FDataSet->FinalSQL() : InternalFinalSQL();
}

std::string TCustomDASQL::InternalFinalSQL() const {
  std::string sql = FText != nullptr ? *FText : FSQL.Text();
  size_t end = sql.size();
  while (end > 0 && static_cast<unsigned char>(sql[end - 1]) <= 32) --end;
  sql.resize(end);
  // A text passed unparsed goes as written: macros of an earlier text do not apply to it.
  if (!FSQLUnparsedText) FMacros->Expand(sql);
  return sql;
}

std::shared_ptr<const std::string> TCustomDASQL::SharedFinalSQL() const {
  // The final text is the text itself when nothing is added, trimmed or expanded.
  if (FText != nullptr && FDataSet == nullptr && FSQLUnparsedText &&
      (FText->empty() || static_cast<unsigned char>(FText->back()) > 32))
    return FText;
  return std::make_shared<const std::string>(FinalSQL());
}

void TCustomDASQL::SetParamCheck(bool value) {
  if (value == FParamCheck) return;
  FParamCheck = value;
  UpdateParams();
}

void TCustomDASQL::SetAutoCommit(bool value) {
  FAutoCommit = value;
  if (FICommand != nullptr) FICommand->SetProp(prAutoCommit, value);
}

void TCustomDASQL::SQLChanged() {
  if (FDataSet != nullptr)
    FDataSet->SQLChanging();
  else if (Prepared())
    UnPrepare();
  FSQLUnparsedText = FSQLPassedUnparsed;
  if (!IsLoading() && !FSQLPassedUnparsed) ScanMacros();
  if (FSQLPassedUnparsed) {
    FFinalSQL = SharedFinalSQL();
    if (FICommand != nullptr) FICommand->SetSQL(FFinalSQL);
    return;
  }
  UpdateParams();
}

void TCustomDASQL::ScanMacros() {
  FMacros->Scan(SQLText());
}

void TCustomDASQL::OnMacrosChanged(TMacro* /*macro*/, TMacroChange change) {
  if (change == TMacroChange::Active)
    UpdateParams();
  else
    SQLChanged();
}

void TCustomDASQL::UpdateParams() {
  std::string sql = FinalSQL();
  if (!FParamCheck && !IsDesigning()) {
    FFinalSQL = std::make_shared<const std::string>(std::move(sql));
    if (FICommand != nullptr) FICommand->SetSQL(FFinalSQL);
    return;
  }
  TDAParams fresh;
  Variant parsesItself;
  if (FICommand != nullptr && FICommand->GetProp(prParamCheck, parsesItself) && parsesItself.AsBoolean()) {
    auto shared = std::make_shared<const std::string>(std::move(sql));
    FICommand->SetSQL(shared);
    ParamsFromICommand(fresh);
    FFinalSQL = std::move(shared);
  } else {
    FParsedNoBackslashEscapes = TextNoBackslashEscapes();
    FFinalSQL = std::make_shared<const std::string>(ParseSQL(sql, &fresh));
    if (FICommand != nullptr) FICommand->SetSQL(FFinalSQL);
  }
  // The same names in the same order: the parameters stay as they are (callers may hold them).
  bool same = fresh.Count() == FParams->Count();
  for (int i = 0; same && i < fresh.Count(); ++i) same = fresh[i]->Name() == (*FParams)[i]->Name();
  if (same) return;
  // Values of parameters that keep their names survive the change.
  for (int i = 0; i < fresh.Count(); ++i)
    if (TDAParam* old = FParams->FindParam(fresh[i]->Name())) fresh[i]->Assign(old);
  FParams->BeginUpdate();
  FParams->Assign(&fresh);
  FParams->EndUpdate();
}

std::string TCustomDASQL::ParseSQL(const std::string& sql, TDAParams* params,
                                   const std::string& renamePrefix) {
  TParseSQLOptions options;
  options.RenamePrefix = renamePrefix;
  options.NoBackslashEscapes = TextNoBackslashEscapes();
  // A dataset's command reads quoted parameter names in the dataset's own quotes.
  if (FDataSet != nullptr) options.NameQuoteBegin = options.NameQuoteEnd = FDataSet->QuoteChar();
  std::vector<std::string> names;
  const std::string text =
      ParseSQLParams(sql, CreateParser(), &names, options,
                     [this](const std::string& name, size_t at) { ParseSQLParam(name, at); });
  if (params != nullptr)
    for (const std::string& name : names) params->CreateParam(ftUnknown, name, ptUnknown);
  return text;
}

void TCustomDASQL::ParseSQLParam(const std::string& /*name*/, size_t /*placeholderEnd*/) {}

void TCustomDASQL::ParamsFromICommand(TDAParams& params) {
  for (int i = 0; i < FICommand->GetParamCount(); ++i) {
    const TParamDesc* d = FICommand->GetParam(i);
    params.CreateParam(DataTypeToFieldType(d->GetDataType()), d->GetName(),
                       static_cast<TParamType>(d->GetParamType()));
  }
}

void TCustomDASQL::WriteParams(bool withValues) {
  const int count = FParams->Count();
  for (int i = 0; i < count; ++i) {
    TDAParam* p = (*FParams)[i];
    TParamDesc* d = i < FICommand->GetParamCount() ? FICommand->GetParam(i) : FICommand->AddParam();
    d->SetName(p->Name());
    d->SetDataType(FieldTypeToDataType(p->DataType()));
    d->SetParamType(p->ParamType());
    d->SetSize(p->Size());
    if (!withValues) continue;
    const TFieldType t = p->DataType();
    const TParamType dir = p->ParamType();
    const bool output = dir == ptOutput || dir == ptInputOutput || dir == ptResult;
    // An output blob keeps its object for the value to come back into.
    if (p->IsBlob() && (output || !p->IsNull())) {
      d->SetObject(p->GetAsBlobRef());
    } else if (p->IsNull()) {
      d->SetNull(true);
    } else if (t == ftBytes || t == ftVarBytes || t == ftBlob) {
      d->SetValue(Variant::FromBytes(p->AsBytes()));
    } else if (t == ftDate || t == ftTime || t == ftDateTime) {
      d->SetValue(Variant::FromDateTime(p->AsDateTime()));
    } else {
      d->SetValue(p->Value());
    }
  }
  while (FICommand->GetParamCount() > count) FICommand->DeleteParam(FICommand->GetParamCount() - 1);
}

void TCustomDASQL::ReadOutParams() {
  const int count = std::min(FParams->Count(), FICommand->GetParamCount());
  for (int i = 0; i < count; ++i) {
    TDAParam* p = (*FParams)[i];
    if (p->ParamType() == ptInput || p->IsBlob()) continue;
    const TParamDesc* d = FICommand->GetParam(i);
    if (d->GetNull())
      p->Clear();
    else
      p->SetValue(d->GetValue());
  }
}

// ---- Preparing and executing -----------------------------------------------------------------------

bool TCustomDASQL::Prepared() const {
  return FICommand != nullptr && FICommand->GetPrepared();
}

bool TCustomDASQL::Executing() const {
  return FICommand != nullptr && FICommand->GetExecuting();
}

int TCustomDASQL::RowsAffected() const {
  Variant v;
  if (FICommand == nullptr || !FICommand->GetProp(prRowsAffected, v)) return 0;
  return v.AsInteger();
}

void TCustomDASQL::InternalPrepare() {
  FICommand->Prepare();
}

void TCustomDASQL::InternalUnprepare() {
  FICommand->Unprepare();
}

void TCustomDASQL::Prepare() {
  if (Prepared()) return;
  BeginConnection();
  try {
    const TDASQLMonitorClass monitor = UsedConnection()->SQLMonitorClass();
    if (!Quiet) TCustomDASQLMonitor::SQLPrepare(monitor, this, *FFinalSQL, FParams.get(), false, Debug);
    InternalPrepare();
    if (!Quiet) TCustomDASQLMonitor::SQLPrepare(monitor, this, *FFinalSQL, FParams.get(), true, Debug);
  } catch (...) {
    EndConnection();
    throw;
  }
}

void TCustomDASQL::UnPrepare() {
  if (!Prepared()) return;
  TCustomDAConnection* conn = UsedConnection();
  const TDASQLMonitorClass monitor = conn != nullptr ? conn->SQLMonitorClass() : nullptr;
  const bool traced = !Quiet && monitor != nullptr;
  if (traced) TCustomDASQLMonitor::SQLUnprepare(monitor, this, *FFinalSQL, FParams.get(), false, Debug);
  InternalUnprepare();
  if (traced) TCustomDASQLMonitor::SQLUnprepare(monitor, this, *FFinalSQL, FParams.get(), true, Debug);
  EndConnection();
}

void TCustomDASQL::InternalExecuteCommand(int iters) {
  for (int i = 0; i < iters; ++i) FICommand->Execute();
}

void TCustomDASQL::InternalExecute(int iters) {
  if (Executing()) return;
  BeginConnection(true);
  FExecutionPending = true;
  FLastResult = false;
  TCustomDAConnection* conn = UsedConnection();
  const TDASQLMonitorClass monitor = conn->SQLMonitorClass();
  try {
    if (!Quiet) TCustomDASQLMonitor::SQLExecute(monitor, this, *FFinalSQL, FParams.get(), {}, false, Debug);
    if (FShowWait) StartWait();
    WriteParams(true);
    FInExecuteLoop = true;
    for (;;) {
      try {
        conn->RunOperation(clExecute, [&] { InternalExecuteCommand(iters); });
        break;
      } catch (const EFailOver&) {
        // Reconnected: the statement runs again (the connection allows this once).
      }
    }
    FInExecuteLoop = false;
    if (!Quiet) TCustomDASQLMonitor::SQLExecute(monitor, this, *FFinalSQL, FParams.get(), {}, true, Debug);
  } catch (...) {
    FInExecuteLoop = false;
    try {
      // A failed statement ends its trace too: what the monitor hooked into it for the run goes.
      if (!Quiet) TCustomDASQLMonitor::SQLExecute(monitor, this, *FFinalSQL, FParams.get(), {}, true, Debug);
    } catch (...) {
      // The execution's own error is the one reported.
    }
    try {
      FinishExecute(false);
    } catch (...) {
      // The execution's own error is the one reported.
    }
    throw;
  }
  FinishExecute(FLastResult);
}

void TCustomDASQL::DoAfterExecute(bool result) {
  FLastResult = result;
  if (!FInExecuteLoop) FinishExecute(result);
}

// Gives back what the execution took (the wait indication, the connection's use) whatever
// happens on the way, then tells AfterExecute.
void TCustomDASQL::FinishExecute(bool result) {
  if (!FExecutionPending) return;
  FExecutionPending = false;
  std::exception_ptr error;
  if (result) {
    try {
      ReadOutParams();
    } catch (...) {
      error = std::current_exception();
      result = false;
    }
  }
  if (FShowWait) StopWait();
  TCustomDAConnection* conn = UsedConnection();
  if (conn != nullptr && conn->Options().DisconnectedMode() && conn->GetConnected() &&
      !conn->InTransaction() && (!conn->AutoCommit() || !FAutoCommit))
    conn->SetImplicitTransaction();
  try {
    EndConnection();
  } catch (...) {
    if (error == nullptr) error = std::current_exception();
  }
  if (AfterExecute) AfterExecute(this, result);
  if (error != nullptr) std::rethrow_exception(error);
}

void TCustomDASQL::Assign(TPersistent* source) {
  auto* other = dynamic_cast<TCustomDASQL*>(source);
  if (other == nullptr) return TComponent::Assign(source);
  SetConnection(other->FConnection);
  FParamCheck = other->FParamCheck;
  SetSQLText(other->SQLText());
  FMacros->Assign(other->FMacros.get());
  FParams->Assign(other->FParams.get());
  Debug = other->Debug;
  SetAutoCommit(other->FAutoCommit);
}
