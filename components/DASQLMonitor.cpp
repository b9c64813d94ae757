#include "components/DASQLMonitor.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "core/DAError.h"
#include "platform/db/Params.h"
#include "platform/runtime/DateTimeUtils.h"

namespace {

std::mutex& DebugDialogLock() {
  static std::mutex lock;
  return lock;
}

TDebugDialogProc& DebugDialog() {
  static TDebugDialogProc proc;
  return proc;
}

bool IsStringType(TFieldType t) {
  return t == ftString || t == ftFixedChar || t == ftWideString;
}

const char* KindText(TDASQLEventKind kind) {
  switch (kind) {
    case TDASQLEventKind::Prepare:
      return "SQL Prepare";
    case TDASQLEventKind::Unprepare:
      return "SQL Unprepare";
    case TDASQLEventKind::Execute:
      break;
  }
  return "SQL Execute";
}

}  // namespace

void SetDebugDialogProc(TDebugDialogProc proc) {
  std::lock_guard<std::mutex> guard(DebugDialogLock());
  DebugDialog() = std::move(proc);
}

void CallDebugDialog(TComponent* obj, const std::string& sql, TParams* params, TDASQLEventKind kind) {
  TDebugDialogProc proc;
  {
    std::lock_guard<std::mutex> guard(DebugDialogLock());
    proc = DebugDialog();
  }
  if (proc) proc(obj, sql, params, kind);
}

TCustomDASQLMonitor::TCustomDASQLMonitor(TComponent* owner) : TComponent(owner) {
  // A monitor placed on a form being read becomes active with the form; any other at once.
  if (owner != nullptr && owner->IsLoading()) {
    FActive = false;
    BeginLoading();
  }
}

TCustomDASQLMonitor::~TCustomDASQLMonitor() {
  if (FActive) UnregisterClient();
}

void TCustomDASQLMonitor::SetActive(bool value) {
  if (IsLoading()) {
    FStreamedActive = value;
    return;
  }
  if (value == FActive) return;
  FActive = value;
  if (FActive)
    RegisterClient();
  else
    UnregisterClient();
}

void TCustomDASQLMonitor::SetOptions(TMonitorOptions value) {
  if (value == FOptions) return;
  if (FActive) UnregisterClient();
  FOptions = value;
  if (FActive) RegisterClient();
}

void TCustomDASQLMonitor::Loaded() {
  TComponent::Loaded();
  SetActive(FStreamedActive);
}

// ---- Class-level operations ---------------------------------------------------------------------

void TCustomDASQLMonitor::SQLPrepare(TDASQLMonitorClass cls, TComponent* obj, const std::string& sql,
                                     TParams* params, bool after, bool debug) {
  TCustomDASQLMonitor* m = cls != nullptr ? cls() : nullptr;
  if (m != nullptr)
    m->SQLEvent(obj, sql, params, TDASQLEventKind::Prepare, {}, after, debug);
  else if (debug && !after)
    CallDebugDialog(obj, sql, params, TDASQLEventKind::Prepare);
}

void TCustomDASQLMonitor::SQLUnprepare(TDASQLMonitorClass cls, TComponent* obj, const std::string& sql,
                                       TParams* params, bool after, bool debug) {
  TCustomDASQLMonitor* m = cls != nullptr ? cls() : nullptr;
  if (m != nullptr)
    m->SQLEvent(obj, sql, params, TDASQLEventKind::Unprepare, {}, after, debug);
  else if (debug && !after)
    CallDebugDialog(obj, sql, params, TDASQLEventKind::Unprepare);
}

void TCustomDASQLMonitor::SQLExecute(TDASQLMonitorClass cls, TComponent* obj, const std::string& sql,
                                     TParams* params, const std::string& name, bool after, bool debug) {
  TCustomDASQLMonitor* m = cls != nullptr ? cls() : nullptr;
  if (m != nullptr)
    m->SQLEvent(obj, sql, params, TDASQLEventKind::Execute, name, after, debug);
  else if (debug && !after)
    CallDebugDialog(obj, sql, params, TDASQLEventKind::Execute);
}

void TCustomDASQLMonitor::DBConnect(TDASQLMonitorClass cls, TComponent* connection, const std::string& user,
                                    const std::string& server, bool after) {
  if (TCustomDASQLMonitor* m = cls != nullptr ? cls() : nullptr)
    m->ConnectEvent(connection, user, server, true, after);
}

void TCustomDASQLMonitor::DBDisconnect(TDASQLMonitorClass cls, TComponent* connection,
                                       const std::string& user, const std::string& server, bool after) {
  if (TCustomDASQLMonitor* m = cls != nullptr ? cls() : nullptr)
    m->ConnectEvent(connection, user, server, false, after);
}

void TCustomDASQLMonitor::TRStart(TDASQLMonitorClass cls, TComponent* connection, const std::string& user,
                                  const std::string& server, bool after) {
  if (TCustomDASQLMonitor* m = cls != nullptr ? cls() : nullptr)
    m->StartEvent(connection, user, server, after);
}

void TCustomDASQLMonitor::TRCommit(TDASQLMonitorClass cls, TComponent* connection, const std::string& user,
                                   const std::string& server, bool after) {
  if (TCustomDASQLMonitor* m = cls != nullptr ? cls() : nullptr)
    m->CommitEvent(connection, user, server, after);
}

void TCustomDASQLMonitor::TRRollback(TDASQLMonitorClass cls, TComponent* connection, const std::string& user,
                                     const std::string& server, bool after) {
  if (TCustomDASQLMonitor* m = cls != nullptr ? cls() : nullptr)
    m->RollbackEvent(connection, user, server, after);
}

void TCustomDASQLMonitor::DBError(TDASQLMonitorClass cls, TComponent* connection, const EDAError& e,
                                  bool after) {
  if (TCustomDASQLMonitor* m = cls != nullptr ? cls() : nullptr) m->ErrorEvent(connection, e, after);
}

// ---- Events -------------------------------------------------------------------------------------

void TCustomDASQLMonitor::SQLEvent(TComponent* obj, const std::string& sql, TParams* params,
                                   TDASQLEventKind kind, const std::string& name, bool after, bool debug) {
  const TDATraceFlag flag = kind == TDASQLEventKind::Execute ? tfQExecute : tfQPrepare;
  // The component's own Debug flag opens the dialog whatever the monitor's settings.
  if (!after && (debug || (IsTraced(flag) && HasOption(moDialog) && !HasOption(moCustom) && !IsDesigning())))
    CallDebugDialog(obj, sql, params, kind);
  if (!IsTraced(flag)) return;
  std::string lines;
  if (params != nullptr && params->Count() > 0 && (TraceFlags & TraceFlag(tfParams)) != 0)
    lines = "\r\n" + ParamLines(*params);
  std::string head = KindText(kind);
  if (kind == TDASQLEventKind::Execute && !name.empty()) head += " [" + name + "]";
  const std::string sinkText = head + " " + ObjectText(obj) + ": " + sql + lines;
  std::string eventText;
  if (kind == TDASQLEventKind::Prepare)
    eventText = "Prepare: ";
  else if (kind == TDASQLEventKind::Unprepare)
    eventText = "Unprepare: ";
  else if (!name.empty())
    eventText = name + ": ";
  SendEvent(obj, sinkText, eventText + sql + lines, flag, after);
}

void TCustomDASQLMonitor::ConnectEvent(TComponent* obj, const std::string& user, const std::string& server,
                                       bool connect, bool after) {
  if (!IsTraced(tfConnect)) return;
  const std::string text =
      std::string(connect ? "Connect: " : "Disconnect: ") + user + "@" + server + " " + ObjectText(obj);
  SendEvent(obj, text, text, tfConnect, after);
}

void TCustomDASQLMonitor::TransactionEvent(TComponent* obj, const char* kind, const std::string& user,
                                           const std::string& server, bool after) {
  if (!IsTraced(tfTransact)) return;
  const std::string text = std::string(kind) + user + "@" + server + " " + ObjectText(obj);
  SendEvent(obj, text, text, tfTransact, after);
}

void TCustomDASQLMonitor::StartEvent(TComponent* obj, const std::string& user, const std::string& server,
                                     bool after) {
  TransactionEvent(obj, "Start: ", user, server, after);
}

void TCustomDASQLMonitor::CommitEvent(TComponent* obj, const std::string& user, const std::string& server,
                                      bool after) {
  TransactionEvent(obj, "Commit: ", user, server, after);
}

void TCustomDASQLMonitor::RollbackEvent(TComponent* obj, const std::string& user, const std::string& server,
                                        bool after) {
  TransactionEvent(obj, "Rollback: ", user, server, after);
}

void TCustomDASQLMonitor::ErrorEvent(TComponent* obj, const EDAError& e, bool after) {
  if (!IsTraced(tfError)) return;
  const std::string text = "Error: " + e.Message();
  SendEvent(obj, text, text, tfError, after);
}

void TCustomDASQLMonitor::SendEvent(TComponent* obj, const std::string& /*sinkText*/,
                                    const std::string& eventText, TDATraceFlag flag, bool after) {
  // The platform monitor service and the external monitor program (moSQLMonitor, moQuillwerk)
  // would get sinkText; neither exists on this platform.
  if (!after && OnSQL) OnSQL(obj, eventText, flag);
}

// ---- Text helpers -------------------------------------------------------------------------------

std::string TCustomDASQLMonitor::ObjectText(const TComponent* obj) {
  if (obj == nullptr) return {};
  if (!obj->Name().empty()) return obj->Name();
  char id[16];
  std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(obj) & 0xFFFFFFFFu));
  return obj->ClassName() + " ($" + id + ")";
}

std::string TCustomDASQLMonitor::ParamDataTypeText(const TParam& param) const {
  std::string text = FieldTypeName(param.DataType());
  if (IsStringType(param.DataType())) {
    const size_t length =
        param.DataType() == ftWideString ? param.AsWideString().size() : param.AsString().size();
    text += "[" + std::to_string(length) + "]";
  }
  return text;
}

std::string TCustomDASQLMonitor::ParamTypeToText(const TParam& param) const {
  switch (param.ParamType()) {
    case ptInput:
      return "IN";
    case ptOutput:
      return "OUT";
    case ptInputOutput:
      return "IN/OUT";
    case ptResult:
      return "RESULT";
    case ptUnknown:
      break;
  }
  return {};
}

std::string TCustomDASQLMonitor::ParamValueToText(const TParam& param) const {
  if (param.IsNull()) return "<NULL>";
  switch (param.DataType()) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
      return "'" + param.AsString() + "'";
    case ftDate:
      return DateToStr(param.AsDateTime());
    case ftTime:
      return TimeToStr(param.AsDateTime());
    case ftDateTime:
      return DateTimeToStr(param.AsDateTime());
    case ftBytes:
    case ftVarBytes:
      return "<BLOB:" + std::to_string(param.AsBytes().size()) + ">";
    case ftBlob:
    case ftMemo:
      return "<BLOB:" + std::to_string(param.AsString().size()) + ">";
    case ftCursor:
      return "<CURSOR>";
    default:
      return param.AsString();
  }
}

std::string TCustomDASQLMonitor::ParamLines(const TParams& params) const {
  std::string out;
  for (int i = 0; i < params.Count(); ++i) {
    const TParam& p = *params[i];
    out += ":" + p.Name() + "(" + ParamDataTypeText(p) + "," + ParamTypeToText(p) +
           ")=" + ParamValueToText(p) + " \r\n";
  }
  return out;
}
