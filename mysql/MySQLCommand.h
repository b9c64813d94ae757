// TMySQLCommand: the MySQL command of the provider interface. It runs one SQL text on a
// TMySQLConnection, either as text with its parameters written in as SQL literals (at the "?"
// placeholders, or at positions the SQL component recorded), or as a server-side prepared
// statement after Prepare. It keeps the result handle a record set reads.
//
// Cursor states: csInactive -> (Prepare) csPrepared -> Execute: csExecuting, then csExecuted when
// the statement returned columns, else back to csInactive; the record set moves on to the fetch
// states. Execute acts only in csInactive and csPrepared.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/CRAccess.h"
#include "mysql/MySqlApi.h"

class TMySQLConnection;

// ---- property ids of the MySQL command --------------------------------------------------------

inline constexpr int prCommandTimeout = 1016;       // set: integer, seconds
inline constexpr int prOutParamsRead = 1026;        // Boolean
inline constexpr int prParamPosition = 1027;        // set: appends a 1-based placeholder position
inline constexpr int prCollectingPositions = 1028;  // set: Boolean; true clears the positions

// The parameter directions the components pass (TParamDesc::GetParamType).
inline constexpr uint8_t pdUnknown = 0;
inline constexpr uint8_t pdInput = 1;
inline constexpr uint8_t pdOutput = 2;
inline constexpr uint8_t pdInputOutput = 3;
inline constexpr uint8_t pdResult = 4;

// The 0-based offsets of the "?" placeholders of a MySQL statement, read as the server reads
// the text in `charset`: a "?" in a string, a quoted name or a comment is none. With
// `noBackslashEscapes` a backslash in a string is a plain character, as the session reads it.
// Errors: the lexer's Exception for a control character outside strings and comments.
std::vector<size_t> FindPlaceholders(const std::string& sql, TCharsetKind charset,
                                     bool noBackslashEscapes = false);

class TMySQLCommand : public TCRCommand {
 public:
  // Receives the statement text as sent (in ANSI even on a Unicode connection).
  using TTraceProc = std::function<void(const std::string& sql)>;

  TMySQLCommand() = default;
  // Frees the result and closes the statement; never throws.
  ~TMySQLCommand() override;

  // Creates the server-side statement (nothing when prepared). Errors: the server's (through
  // the connection's error path); nothing is left prepared after a failure.
  void Prepare() override;
  void Unprepare() override;
  bool GetPrepared() override { return FPrepared; }
  // Runs the statement: as text, or the prepared statement with the parameters bound. Without
  // ResultWanted every result of a batch is read and dropped; with it the first result stays
  // in GetResult. Calls AfterExecute with the outcome. Errors: EMyError / EFailOver / EAbort from
  // the connection's error path (EAbort also when a break was requested); conversion errors of
  // parameter values; EAssertionFailed without an open connection, or for parameter positions
  // that do not fit the text or the parameters.
  void Execute() override;
  // The connection must be a TMySQLConnection (or nil).
  void SetConnection(TCRConnection* value) override;
  // Stores the text; the split parts and, unless positions are being collected, the positions
  // are dropped.
  using TCRCommand::SetSQL;
  void SetSQL(std::shared_ptr<const std::string> value) override;
  TCursorState GetCursorState() override { return FCursorState; }
  void SetCursorState(TCursorState value) override { FCursorState = value; }

  // prParamCheck (ignored), prCommandTimeout, prOutParamsRead, prParamPosition,
  // prCollectingPositions; the rest to TCRCommand.
  bool SetProp(int prop, const Variant& value) override;
  // prRowsAffected (the count before the OUT-parameter result when OutParamsRead; -1 reads as
  // 0), prOutParamsRead; the rest to TCRCommand.
  bool GetProp(int prop, Variant& value) override;

  // The connection's error checks with this command's component (a connection must be set).
  virtual void CheckPtr(const void* value);
  virtual void CheckStatus(int status);
  virtual void CheckErrno();
  virtual void CheckStmt(int status);

  // The statement text Execute sends for the current SQL and parameters: UTF-8 on a Unicode
  // connection. Errors: as Execute's for positions and values.
  std::string BuildSQLText();
  // Affected rows (-1 when unknown) and the cursor state after an execution or a further result
  // of a batch: csExecuted when the result has columns, else csInactive.
  int64_t ResultInfo();
  // Hands the server's note on the last text statement to MessageHook.
  void ReportInfo();

  TMySQLConnection* GetMyConnection() const noexcept { return FMyConnection; }

  int32_t CommandTimeout = 0;
  bool ProcedureCall = false;
  bool OutParamsRead = false;
  // A record set reads the result: Execute keeps it in GetResult.
  bool ResultWanted = false;
  // The text is already in the session's character set (a dump file read back) and goes as its
  // bytes; otherwise under Unicode it is ANSI and converted to UTF-8 first.
  bool SendTextAsIs = false;
  // How many statements of the last text sent completed: after a failure, the failing one is the
  // next (a text of several statements stops at the first that fails).
  int64_t StatementsRun() const noexcept { return FStatementsRun; }
  // Execute takes the result the record set moved into the command instead of running the text.
  bool OpenNext = false;
  // Set by another thread to turn the failure of the running Execute into EAbort.
  std::atomic<bool> BreakRequested{false};
  TTraceProc TraceHook;
  // Called while the server runs a text statement, between sending it and reading its reply,
  // where the client API allows (see TMySQLAPI::QueryWhileWaiting); must not throw.
  std::function<void()> WhileWaiting;
  // Receives the server's note on a text statement just run (rows matched, duplicates, warnings),
  // when there is one.
  std::function<void(const std::string& text)> MessageHook;

  int64_t GetRowsAffected() const noexcept { return FRowsAffected; }
  void SetRowsAffected(int64_t value) noexcept { FRowsAffected = value; }
  int64_t GetPrevRowsAffected() const noexcept { return FPrevRowsAffected; }
  void SetPrevRowsAffected(int64_t value) noexcept { FPrevRowsAffected = value; }
  // Of a text execution whose results were dropped: each result's count (-1 for rows), up to the
  // statement that failed.
  std::vector<int64_t> GetResultRowsAffected() const override { return FResultRows; }
  // Each of those results' insert id: a batch of INSERTs learns every new row's value.
  std::vector<int64_t> GetResultInsertIds() const override { return FResultInsertIds; }

  // The text split at its placeholders (each part as sent); empty until a text execution with
  // parameters splits it. The record set saves and restores them around a rewritten text.
  const std::vector<std::string>& GetSQLParts() const noexcept { return FSQLParts; }
  void SetSQLParts(std::vector<std::string> value) { FSQLParts = std::move(value); }
  const std::vector<int>& GetParamPositions() const noexcept { return FParamPositions; }

  // The client result handle: the rows of a text execution, or the field descriptions of a
  // prepared statement. The command frees it in its destructor and when a prepared execution
  // replaces it; whoever frees it otherwise sets it to nil.
  PMYSQL_RES GetResult() const noexcept { return FResult; }
  void SetResult(PMYSQL_RES value) noexcept { FResult = value; }
  // The prepared statement; nil when not prepared.
  PMYSQL_STMT GetStmt() const noexcept { return FStmt; }

 private:
  TMySQLAPI& API() const;
  PMYSQL_CON Handle() const;
  void ExecuteText();
  void ExecutePrepared();
  // Reads and drops every result of the last reply (all results of a batch).
  void DropResults();
  // Refuses, before sending, a text the session's max_allowed_packet does not hold (2020): the
  // server would end the session over it.
  void CheckPacketSize(size_t textSize);
  // The current result's insert id; 0 from an API that does not tell it.
  int64_t InsertIdOf(PMYSQL_CON handle);
  // The parameters in placeholder order.
  std::vector<TParamDesc*> PlaceholderParams() const;
  void AppendParam(StringBuilder& sb, const TParamDesc& param) const;
  void SplitSQL();
  std::string TextWithPositions(const std::vector<TParamDesc*>& params) const;
  std::string TextWithPlaceholders(const std::vector<TParamDesc*>& params);

  TMySQLConnection* FMyConnection = nullptr;
  TCursorState FCursorState = csInactive;
  int64_t FRowsAffected = -1;
  int64_t FPrevRowsAffected = 0;
  int64_t FStatementsRun = 0;
  std::vector<std::string> FSQLParts;
  bool FSplitNoBackslashEscapes = false;  // the session's mode FSQLParts were split under
  std::vector<int> FParamPositions;
  std::vector<int64_t> FResultRows;
  std::vector<int64_t> FResultInsertIds;
  bool FCollectingPositions = false;
  bool FPrepared = false;
  PMYSQL_STMT FStmt = nullptr;
  PMYSQL_RES FResult = nullptr;
};
