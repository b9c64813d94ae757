// TCustomDASQLMonitor: traces what the data-access components do (statements prepared, unprepared
// and executed with their parameters, connects and disconnects, transactions, errors) as text
// lines.
//
// The components call the class-level operations (SQLExecute, DBConnect, ...) with the monitor
// class their connection names; the operation finds that class's current monitor and hands the
// event to it. A monitor sends each line to its sinks: the debug dialog (a process-wide procedure
// the application may install), the application's OnSQL event, and the two external monitor
// services of other platforms, which do not exist here: selecting them sends nothing and fails
// nothing.
//
// Texts (the object text is the component's name, or its class name + " ($" + 8 hex digits + ")";
// parts the format joins directly are separated by one blank):
//   "SQL Execute [name] <object>: <sql>"   (" [name]" only when given; also "SQL Prepare",
//                                           "SQL Unprepare"), then with tfParams CR LF and
//                                           one line per parameter
//   "Connect: user@server <object>"        (also "Disconnect: ", "Start: ", "Commit: ",
//                                           "Rollback: ")
//   "Error: <message>"
// A parameter line: ":name(Type[len],IN)=value" + " " + CR LF. OnSQL receives "Prepare: <sql>",
// "Unprepare: <sql>" or "<name>: <sql>" (just the SQL without a name) with the parameter lines, and
// the other texts as above.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/runtime/Components.h"

class EDAError;
class TParam;
class TParams;

enum TDATraceFlag : uint8_t {
  tfQPrepare,
  tfQExecute,
  tfQFetch,
  tfError,
  tfStmt,
  tfConnect,
  tfTransact,
  tfBlob,
  tfService,
  tfMisc,
  tfParams
};
using TDATraceFlags = uint32_t;
constexpr TDATraceFlags TraceFlag(TDATraceFlag f) {
  return TDATraceFlags{1} << f;
}
inline constexpr TDATraceFlags DefaultTraceFlags =
    TraceFlag(tfQPrepare) | TraceFlag(tfQExecute) | TraceFlag(tfError) | TraceFlag(tfConnect) |
    TraceFlag(tfTransact) | TraceFlag(tfMisc) | TraceFlag(tfParams);

enum TMonitorOption : uint8_t { moDialog, moSQLMonitor, moQuillwerk, moCustom, moHandled };
using TMonitorOptions = uint8_t;
constexpr TMonitorOptions MonitorOption(TMonitorOption o) {
  return static_cast<TMonitorOptions>(1u << o);
}
inline constexpr TMonitorOptions DefaultMonitorOptions = MonitorOption(moDialog) |
                                                         MonitorOption(moSQLMonitor) |
                                                         MonitorOption(moQuillwerk) | MonitorOption(moCustom);

// The kind of a statement event, as the debug dialog is told it.
enum class TDASQLEventKind : uint8_t { Prepare, Unprepare, Execute };

// The debug dialog: called before a statement runs when the component's Debug flag is set (or the
// monitor asks for it). Installed by the application; none by default.
using TDebugDialogProc =
    std::function<void(TComponent* component, const std::string& sql, TParams* params, TDASQLEventKind kind)>;
void SetDebugDialogProc(TDebugDialogProc proc);

class TCustomDASQLMonitor;
// A monitor class as the components name it: answers the class's current monitor (or none).
using TDASQLMonitorClass = TCustomDASQLMonitor* (*)();

// The event sink of the application: sender is the traced component, flag the event's trace flag.
using TOnSQLEvent = std::function<void(TComponent* sender, const std::string& text, TDATraceFlag flag)>;

class TCustomDASQLMonitor : public TComponent {
 public:
  explicit TCustomDASQLMonitor(TComponent* owner = nullptr);
  ~TCustomDASQLMonitor() override;

  bool Active() const noexcept { return FActive; }
  // While the owner loads, the value is applied when loading ends.
  void SetActive(bool value);
  TDATraceFlags TraceFlags = DefaultTraceFlags;
  TMonitorOptions Options() const noexcept { return FOptions; }
  void SetOptions(TMonitorOptions value);
  TOnSQLEvent OnSQL;

  // The base class has no current monitor.
  static TCustomDASQLMonitor* GetCurrent() { return nullptr; }
  virtual std::string GetMonitorName() const { return "DataAccess"; }

  // ---- Class-level operations: each finds the class's current monitor (nothing happens without
  // one, except that `debug` still opens the debug dialog before a statement). `after` marks the
  // call made once the operation has run.
  static void SQLPrepare(TDASQLMonitorClass cls, TComponent* obj, const std::string& sql, TParams* params,
                         bool after, bool debug = false);
  static void SQLUnprepare(TDASQLMonitorClass cls, TComponent* obj, const std::string& sql, TParams* params,
                           bool after, bool debug = false);
  static void SQLExecute(TDASQLMonitorClass cls, TComponent* obj, const std::string& sql, TParams* params,
                         const std::string& name, bool after, bool debug = false);
  static void DBConnect(TDASQLMonitorClass cls, TComponent* connection, const std::string& user,
                        const std::string& server, bool after);
  static void DBDisconnect(TDASQLMonitorClass cls, TComponent* connection, const std::string& user,
                           const std::string& server, bool after);
  static void TRStart(TDASQLMonitorClass cls, TComponent* connection, const std::string& user,
                      const std::string& server, bool after);
  static void TRCommit(TDASQLMonitorClass cls, TComponent* connection, const std::string& user,
                       const std::string& server, bool after);
  static void TRRollback(TDASQLMonitorClass cls, TComponent* connection, const std::string& user,
                         const std::string& server, bool after);
  static void DBError(TDASQLMonitorClass cls, TComponent* connection, const EDAError& e, bool after);

  // ---- Text helpers ----
  // The component's name, or its class name + " ($" + 8 upper-case hex digits + ")".
  static std::string ObjectText(const TComponent* obj);
  // The field-type name; string types add "[" + length of the value + "]".
  virtual std::string ParamDataTypeText(const TParam& param) const;
  // "IN", "OUT", "IN/OUT", "RESULT" or empty.
  virtual std::string ParamTypeToText(const TParam& param) const;
  // "<NULL>", 'text' for strings, the date-time text, "<BLOB:n>", "<CURSOR>" or the value's text.
  virtual std::string ParamValueToText(const TParam& param) const;
  // One line per parameter, each ending in " " + CR LF.
  std::string ParamLines(const TParams& params) const;

 protected:
  // Statement events: the kind text ("SQL Execute", ...), the text for OnSQL's prefix and the flag.
  virtual void SQLEvent(TComponent* obj, const std::string& sql, TParams* params, TDASQLEventKind kind,
                        const std::string& name, bool after, bool debug);
  virtual void ConnectEvent(TComponent* obj, const std::string& user, const std::string& server, bool connect,
                            bool after);
  virtual void StartEvent(TComponent* obj, const std::string& user, const std::string& server, bool after);
  virtual void CommitEvent(TComponent* obj, const std::string& user, const std::string& server, bool after);
  virtual void RollbackEvent(TComponent* obj, const std::string& user, const std::string& server, bool after);
  virtual void ErrorEvent(TComponent* obj, const EDAError& e, bool after);
  // Registering with the external monitor services: there are none on this platform.
  virtual void RegisterClient() {}
  virtual void UnregisterClient() {}
  void Loaded() override;

  bool IsTraced(TDATraceFlag flag) const { return FActive && (TraceFlags & TraceFlag(flag)) != 0; }
  bool HasOption(TMonitorOption option) const { return (FOptions & MonitorOption(option)) != 0; }
  // Hands the line to the sinks: OnSQL (not after the operation) gets `eventText`.
  void SendEvent(TComponent* obj, const std::string& sinkText, const std::string& eventText,
                 TDATraceFlag flag, bool after);

 private:
  void TransactionEvent(TComponent* obj, const char* kind, const std::string& user, const std::string& server,
                        bool after);

  bool FActive = true;
  bool FStreamedActive = true;
  TMonitorOptions FOptions = DefaultMonitorOptions;
};

// The debug dialog decision for a statement with no monitor, or with one: exposed for the MySQL
// monitor's statement event.
void CallDebugDialog(TComponent* obj, const std::string& sql, TParams* params, TDASQLEventKind kind);
