// Unit DAScript: TDAScript runs a text of many SQL statements. It splits the text into statements
// with a lexer (a changeable delimiter, "/" lines, comments and quotes read as the server reads
// them), lets the application see, change or skip each statement, runs it through a command, and
// after a failure stops, re-raises, reports or goes on as OnError decides. Statements may be
// collected and sent several at a time. TMyScript (components/MyScript.h) is the MySQL form.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/DBAccessMacros.h"
#include "core/CRParser.h"
#include "platform/runtime/Classes.h"
#include "platform/runtime/Components.h"

class TCustomDAConnection;
class TCustomDASQL;
class TStream;

enum TErrorAction { eaAbort, eaFail, eaException, eaContinue };

using TBeforeStatementExecuteEvent = std::function<void(TComponent* sender, std::string& sql, bool& omit)>;
using TAfterStatementExecuteEvent = std::function<void(TComponent* sender, const std::string& sql)>;
using TOnErrorEvent = std::function<void(TComponent* sender, const std::exception& e, const std::string& sql,
                                         TErrorAction& action)>;

// Statement kinds passed along with each statement.
inline constexpr int skOrdinary = 0;
inline constexpr int skDelimiter = 1;       // a DELIMITER command
inline constexpr int skBodyBlock = 0x8000;  // a routine or trigger body started under ";"

// Where eaException sends the error: the application installs its error report (a program
// without one shows nothing). Never throws.
using TApplicationExceptionProc = std::function<void(const std::exception& e)>;
void SetApplicationExceptionProc(TApplicationExceptionProc proc);
void ApplicationHandleException(const std::exception& e) noexcept;

class TDAScript : public TComponent {
 public:
  explicit TDAScript(TComponent* owner = nullptr);
  ~TDAScript() override;

  // Every change rescans the macros and starts the splitting again at the beginning.
  TStringList& SQL() noexcept { return FSQL; }
  // Copies the text only when it differs.
  void SetSQL(const TStringList& value);
  void SetSQLText(const std::string& text);

  TCustomDAConnection* Connection() const;
  void SetConnection(TCustomDAConnection* value);
  bool Debug() const;
  void SetDebug(bool value);
  const std::string& Delimiter() const noexcept { return FDelimiter; }
  void SetDelimiter(const std::string& value) { FDelimiter = value; }
  TMacros& Macros() noexcept { return *FMacros; }
  // Off: the statements go to the server exactly as written (a restore: a dump is plain SQL, and
  // `&b` in it is an operator). On: references to macros the application gave a value are
  // replaced, any other `&name` text is left as written.
  bool ExpandMacros = true;
  // The text is in the session's character set (a dump file): it is split in the set the session
  // has as each statement runs and sent as its bytes, never converted from ANSI.
  bool SendTextAsIs = false;

  TBeforeStatementExecuteEvent BeforeExecute;
  TAfterStatementExecuteEvent AfterExecute;
  TOnErrorEvent OnError;

  // Runs the whole text. EDatabaseError "Connection is not defined" (65113) without a
  // connection; with eaFail the statement's error; with eaAbort it returns after the failing
  // statement. The delimiter a DELIMITER command set holds until the run ends.
  virtual void Execute();
  // Splits off the next statement and runs it; false when the text is exhausted or a statement
  // asked to stop (the next call then starts at the beginning again).
  virtual bool ExecuteNext();
  // Reads the statements from the stream (from its position) instead of SQL, a block at a time,
  // so that a large script is never held whole. Errors as Execute.
  void ExecuteStream(TStream& stream);
  // ExecuteNext reads from the stream from now on (nil: SQL again); the stream must outlive the
  // reading.
  void SetSourceStream(TStream* stream);
  // Runs or collects one statement (see OnError for failures).
  virtual void ExecuteStatement(std::string sql, int kind, bool& breakExec, bool& omit);

  // Where the last statement lies: 0-based character offsets, lines and columns.
  int64_t StartPos() const noexcept { return FStartPos; }
  int64_t EndPos() const noexcept { return FEndPos; }
  int64_t StartLine() const noexcept { return FStartLine; }
  int64_t EndLine() const noexcept { return FEndLine; }
  int64_t StartCol() const noexcept { return FStartCol; }
  int64_t EndCol() const noexcept { return FEndCol; }
  // Where the statement that failed last starts. While OnError runs, StartPos, StartLine and
  // StartCol tell where the failing statement starts, also when it failed in a batch.
  int64_t ErrorOffset() const noexcept { return FErrorOffset; }

  // The command that runs the statements (made on first use).
  TCustomDASQL& Command();
  void Assign(TPersistent* source) override;

 protected:
  virtual TParserClass GetParserClass() const;
  // True: a blank or the end ends the argument of DELIMITER.
  virtual bool DelimiterArgumentEnds() const { return false; }
  // Told each significant lexeme that does not end the statement.
  virtual void OnLexeme(int /*code*/, const std::string& /*text*/, bool /*firstInStatement*/) {}
  // An extra end of statement: told the lexeme before the delimiter rules are asked.
  virtual bool IsExtraEnd(int /*code*/, const std::string& /*lexem*/) const { return false; }
  // The character set the script text is in (how the server reads it).
  virtual TCharsetKind TextCharset() const { return AnsiCharsetKind(); }
  // The server reads a backslash in a string as a plain character (as the text is split now).
  virtual bool TextNoBackslashEscapes() const { return false; }
  virtual std::unique_ptr<TCustomDASQL> CreateCommand();
  virtual void DoBeforeStatement(const std::string& /*sql*/) {}
  virtual void DoAfterStatement(const std::string& /*sql*/) {}
  bool IsBodyBlock(int kind) const noexcept { return kind == skBodyBlock; }
  virtual bool CanOptimize(const std::string& sql);
  // True when the rest of the text cannot be split before this statement ran (it may change the
  // session's character set): a batch holding it is sent at once.
  virtual bool EndsBatch(const std::string& /*sql*/) const { return false; }
  // How many statements of the batch just sent completed before the failure that ended it; -1
  // when it cannot be told (the whole batch is then reported as one failure).
  virtual int64_t BatchStatementsRun() { return -1; }
  // The connection a run takes into use (the command's; a script over a dataset: the dataset's).
  virtual TCustomDAConnection* UsedConnection() const { return Connection(); }
  // Around a run: a dataset the statements go through shows nothing while they run.
  virtual void RunStarting() {}
  virtual void RunEnded() noexcept {}
  // Sends one statement (or a collected batch) to the server.
  virtual void RunText(const std::string& sql);
  // Called by the command once a statement run on its own is sent and before its reply is read:
  // splits off the statement after it, so that the splitting overlaps the server's work. Nothing
  // else happens early: that statement's events, its run and an error of its splitting come when
  // the next ExecuteNext takes it, and it is split again when the session's character set changed
  // meanwhile. Never throws.
  void ReadAhead() noexcept;
  // Frees the lexer and starts the positions again.
  void Reset();
  void Notification(TComponent* component, TOperation operation) override;

  bool FUseOptimization = false;
  int FDelimiterState = 0;
  int FKind = skOrdinary;
  std::string FCurrentDelimiter;

 private:
  struct TCut;
  // The splitting of one statement, kept between calls while a statement read ahead waits half split.
  struct TSplitting;
  enum class TSplitEnd { Statement, TextEnd, Paused };
  // A statement as split off the text.
  struct TStatement {
    std::string Text;
    int Kind = skOrdinary;
    bool DelimiterCommand = false;  // a DELIMITER command: sets NewDelimiter, runs nothing
    std::string NewDelimiter;
  };
  // Where the last statement lies (see StartPos and the rest).
  struct TPlace {
    int64_t StartOffset, StartPos, StartLine, StartCol, EndPos, EndLine, EndCol;
  };
  struct TAhead;
  struct TBatchEntry {
    std::string Text;
    int64_t Pos, Line, Col;
  };
  void CreateLexer();
  // Frees the lexer with what was read ahead of it.
  void DropLexer() noexcept;
  // Splits off the next statement (or goes on with the one begun). With a limit it pauses once
  // that many bytes of the statement are collected.
  TSplitEnd SplitNext(TStatement& statement, size_t limit = 0);
  TSplitEnd SplitOn(TSplitting& splitting, TStatement& statement, size_t limit);
  TPlace Place() const noexcept;
  void SetPlace(const TPlace& place) noexcept;
  // The statement with the script's own macros replaced (see ExpandMacros).
  std::string ScriptText(const std::string& sql) const;
  // The lexer reads on in the set the session now has.
  void FollowSessionCharset();
  void ReportFailure(const std::exception& e, const std::string& sql, TErrorAction& action);
  void TakeStartPosition();
  // The statement ends at this lexeme.
  bool IsEnd(int code, const std::string& lexem, const std::string& prevLexem) const;
  // The lexeme is a word that ends in the delimiter ("END$$").
  bool EndsInDelimiter(int code, const std::string& lexem) const;
  bool PlainRunsAllowed() const;
  void StepDelimiterState(int code, const std::string& lexem, std::string& newDelimiter);
  bool FinishStatement(TCut& cut, int code);
  void RunOrHandle(const std::string& sql, bool& breakExec);
  void FlushBatch(bool& breakExec);
  void BeginRun();
  void EndRun();

  TStringList FSQL;
  std::string FDelimiter = ";";
  std::unique_ptr<TMacros> FMacros;
  std::unique_ptr<TCustomDASQL> FCommand;
  std::unique_ptr<TParser> FLexer;
  std::unique_ptr<TSplitting> FSplitting;  // the statement being split, when its splitting paused
  size_t FSizeHint = 0;                    // room for the next statement
  std::unique_ptr<TAhead> FAhead;          // the statement split while the one before it ran
  bool FInNext = false;                    // ExecuteNext runs its statement
  bool FAheadOpen = false;                 // the statement being sent may read the next one ahead
  TStream* FStream = nullptr;              // the stream ExecuteStream reads
  bool FExecuting = false;
  std::vector<TBatchEntry> FBatch;
  size_t FBatchSize = 0;
  int64_t FStartOffset = 0;
  int64_t FStartPos = 0, FEndPos = 0, FStartLine = 0, FEndLine = 0, FStartCol = 0, FEndCol = 0;
  int64_t FErrorOffset = 0;
};
