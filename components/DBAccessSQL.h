// Unit DBAccess, the SQL command component: TCustomDASQL runs statements that return no rows. It
// keeps the SQL text, finds its ":name" parameters, expands its macros, hands the final text and
// the parameter values to a provider command made through its connection's class factory, and
// reads output parameters back.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "components/DBAccess.h"
#include "components/DBAccessMacros.h"
#include "components/DBAccessParams.h"
#include "platform/runtime/Classes.h"

using TAfterExecuteEvent = std::function<void(TComponent* sender, bool result)>;

class TCustomDADataSet;

// Deletes a command's provider command unless the command only borrows it (a dataset's internal
// command uses its record set's).
struct TICommandDeleter {
  bool Owned = true;
  TICommandDeleter() = default;
  explicit TICommandDeleter(bool owned) noexcept : Owned(owned) {}
  // Converting, so that a provider command made with make_unique can be stored.
  template <class T>
  TICommandDeleter(std::default_delete<T>) noexcept {}
  void operator()(TCRCommand* command) const noexcept {
    if (Owned) delete command;
  }
};

class TCustomDASQL : public TComponent {
 public:
  explicit TCustomDASQL(TComponent* owner = nullptr);
  ~TCustomDASQL() override;

  TCustomDAConnection* Connection() const noexcept { return FConnection; }
  // Registers with the new connection (and leaves the old one); the provider command follows.
  void SetConnection(TCustomDAConnection* value);

  // Changing the text unprepares the command, rescans its macros and rebuilds its parameters
  // (values of parameters whose names survive are kept). A text given to SetSQLText is kept whole
  // until its lines are asked for here.
  TStringList& SQL();
  void SetSQLText(const std::string& text);
  // The text as SQL().Text() gives it, without making a list of its lines.
  std::string SQLText() const;
  TDAParams& Params() const noexcept { return *FParams; }
  TMacros& Macros() const noexcept { return *FMacros; }
  // Off: the text is sent as written and Params are left alone.
  bool ParamCheck() const noexcept { return FParamCheck; }
  void SetParamCheck(bool value);
  bool Debug = false;
  bool AutoCommit() const noexcept { return FAutoCommit; }
  void SetAutoCommit(bool value);
  // Suppresses the trace monitor's hooks.
  bool Quiet = false;
  TAfterExecuteEvent AfterExecute;

  // The text with trailing blanks removed and macros expanded; for a dataset's internal command
  // the dataset's final text (its filter and master conditions added).
  virtual std::string FinalSQL() const;
  // The command's own text with trailing blanks removed and macros expanded.
  std::string InternalFinalSQL() const;

  // The dataset whose internal command this is (nil for a free command). Such a command shares
  // the provider command of the dataset's record set instead of owning one.
  TCustomDADataSet* DataSet() const noexcept { return FDataSet; }
  void SetDataSet(TCustomDADataSet* value) noexcept { FDataSet = value; }
  // The component a trace of what this command runs names: the dataset writing a row through it
  // while it does, else the dataset whose internal command it is, else the command itself.
  TComponent* TraceSender() noexcept;
  // Executes once: InternalExecute(1).
  void Execute() { InternalExecute(1); }
  // Takes a use of the connection (EDatabaseError "Connection is not defined" without one), writes
  // the parameters, executes `iters` times, reads output parameters and gives the use back, also
  // when the execution fails; AfterExecute then fires with the outcome. Nothing happens while
  // the provider command is still executing.
  virtual void InternalExecute(int iters);
  virtual void Prepare();
  virtual void UnPrepare();
  bool Prepared() const;
  bool Executing() const;
  // The provider's count of rows the last statement changed.
  int RowsAffected() const;

  void Assign(TPersistent* source) override;

  TCRCommand* ICommand() const noexcept { return FICommand.get(); }
  // The provider command follows the connection's provider connection.
  void SetIConnection(TCRConnection* value);
  // The connection is being destroyed: forget it.
  void ConnectionGone(TCustomDAConnection* connection);
  // The connection's session is about to close: a statement prepared on it is unprepared while
  // the session is still there, and the next use prepares again. Never raises.
  void SessionEnding() noexcept;

  // Finds the parameters of `sql` into `params` (nil: none) and returns the text with
  // placeholders ("?", or renamePrefix + name when given).
  virtual std::string ParseSQL(const std::string& sql, TDAParams* params,
                               const std::string& renamePrefix = {});

 protected:
  virtual void CreateICommand();
  virtual void AssignICommandProps(TCRCommand* command);
  virtual std::unique_ptr<TDAParams> CreateParams();
  virtual TCustomDAConnection* UsedConnection() const { return FConnection; }
  // Takes the connection into use (noConnectCheck false: only opens it, without counting).
  virtual void BeginConnection(bool noConnectCheck = true);
  virtual void EndConnection();
  virtual void InternalPrepare();
  virtual void InternalUnprepare();
  virtual void InternalExecuteCommand(int iters);
  // Told of each parameter found, with the length of the text built up to its placeholder.
  virtual void ParseSQLParam(const std::string& name, size_t placeholderEnd);
  virtual TParserClass CreateParser() const { return ParserClassOf<TParser>(); }
  // How the session reads a string literal: a parameter after 'C:\' is found only when the
  // scanner agrees with the server on whether the backslash escapes the quote.
  virtual bool TextNoBackslashEscapes() const { return false; }
  // Reads the text's parameters again when the session's reading of a backslash differs from the
  // one they were found under (the text was set before connecting, or sql_mode changed since).
  void FollowSessionTextMode();
  virtual void SQLChanged();
  virtual void ScanMacros();
  virtual void UpdateParams();
  virtual void ParamsFromICommand(TDAParams& params);
  virtual void WriteParams(bool withValues);
  virtual void ReadOutParams();
  // The provider's end-of-execution report.
  virtual void DoAfterExecute(bool result);
  void Notification(TComponent* component, TOperation operation) override;

  // Owns the provider command unless it is a dataset's record set's (SetDataSet).
  std::unique_ptr<TCRCommand, TICommandDeleter> FICommand;
  // The text last handed to the provider command, which shares it.
  std::shared_ptr<const std::string> FFinalSQL = std::make_shared<const std::string>();
  bool FSQLPassedUnparsed = false;
  bool FSQLUnparsedText = false;  // the current text came unparsed: its macros are not expanded
  bool FShowWait = true;

 private:
  friend class TCustomDADataSet;
  friend struct TDBAccessUtils;
  void FinishExecute(bool result);
  // The final text to hand over: a whole text sent as written is shared instead of copied.
  std::shared_ptr<const std::string> SharedFinalSQL() const;
  void OnMacrosChanged(TMacro* macro, TMacroChange change);

  TCustomDAConnection* FConnection = nullptr;
  TCustomDADataSet* FDataSet = nullptr;
  TCustomDADataSet* FRunningFor = nullptr;  // set by the dataset only while it runs a statement here
  TStringList FSQL;                         // empty while FText holds the text
  // The text SetSQLText gave, while nobody has asked for its lines (shared with the final text
  // when that is the same).
  std::shared_ptr<const std::string> FText;
  bool FSplittingText = false;  // its lines are being made: the text itself does not change
  std::unique_ptr<TDAParams> FParams;
  std::unique_ptr<TMacros> FMacros;
  bool FParamCheck = true;
  bool FParsedNoBackslashEscapes = false;  // the mode the command's own text was scanned under
  bool FAutoCommit = true;
  // Set while an execution holds the connection's use and the wait indication.
  bool FExecutionPending = false;
  bool FInExecuteLoop = false;
  bool FLastResult = false;
};
