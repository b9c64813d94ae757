// Unit MyScript: TMyScript, the script component on a MySQL connection. It splits with the MySQL
// lexer, runs statements through a TMyCommand, takes the DELIMITER command (the new delimiter ends
// at the first blank) and keeps the body of a CREATE PROCEDURE / FUNCTION / TRIGGER whole while
// the delimiter is ";" (it then ends at a "/" line or the end of the text). With UseOptimization,
// statements go to the server several at a time, as one text.
#pragma once

#include <memory>
#include <string>

#include "components/DAScript.h"

class TCustomMyConnection;
class TCustomMyDataSet;

class TMyScript : public TDAScript {
 public:
  explicit TMyScript(TComponent* owner = nullptr);

  TCustomMyConnection* Connection() const;
  void SetConnection(TCustomMyConnection* value);
  bool UseOptimization() const noexcept { return FUseOptimization; }
  void SetUseOptimization(bool value) noexcept { FUseOptimization = value; }
  // Statements run through this dataset instead of the command, with its parameters and macros:
  // a statement that returns rows leaves them open in it. Not owned; forgotten when it goes.
  TCustomMyDataSet* DataSet() const noexcept { return FDataSet; }
  void SetDataSet(TCustomMyDataSet* value);
  // On: a CREATE PROCEDURE, FUNCTION or TRIGGER under the ";" delimiter ends at the ";" after the
  // END of its outermost BEGIN (after its one statement when it has no BEGIN), so that what
  // follows is a statement of its own. Off (a restore, a script file): it reaches to a "/" line or
  // the end of the text.
  bool RoutineEndsAtItsEnd = false;

 protected:
  TParserClass GetParserClass() const override;
  bool DelimiterArgumentEnds() const override { return true; }
  void OnLexeme(int code, const std::string& text, bool firstInStatement) override;
  bool IsExtraEnd(int code, const std::string& lexem) const override;
  TCharsetKind TextCharset() const override;
  // The session's sql_mode as the server last reported it.
  bool TextNoBackslashEscapes() const override;
  std::unique_ptr<TCustomDASQL> CreateCommand() override;
  // Also needs a client and a server that take several statements in one text (4.1 and later).
  bool CanOptimize(const std::string& sql) override;
  // A SET of names or character sets (also in an executable comment) and a CALL may change the
  // session's character set; a SET of the sql_mode may change how backslashes are read.
  bool EndsBatch(const std::string& sql) const override;
  int64_t BatchStatementsRun() override;
  TCustomDAConnection* UsedConnection() const override;
  void RunStarting() override;
  void RunEnded() noexcept override;
  void RunText(const std::string& sql) override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  int FLastCode = 0;
  // With RoutineEndsAtItsEnd, in a routine body: the BEGIN and CASE blocks open, and whether the
  // last word was an END whose block (END IF, END CASE, plain END) the next word tells.
  int FBlockDepth = 0;
  bool FEndPending = false;
  TCustomMyDataSet* FDataSet = nullptr;
};
