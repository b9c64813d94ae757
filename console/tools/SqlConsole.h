// What the SQL console decides without widgets: the statement a template writes, the statements
// of a typed text and the result texts of a run.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

class TCustomMyConnection;

// A template: the memo's new text and whether 执行 is then ticked.
struct TSqlTemplate {
  QString Text;
  bool Execute = false;
};

// kindIndex: the statement kind's item index (1 insert, 2 delete, anything else select).
TSqlTemplate SqlTemplate(int kindIndex, const QString& table);

// Status panel 0 after a run: rows for a result set, or nothing for a statement without one.
QString QueryDoneText(int rowCount);
QString ExecuteDoneText();
// Status panel 1: the statement as run.
QString StatementPanelText(const QString& memo);

// One statement of a typed text and where it starts (0-based line and column).
struct TTypedStatement {
  std::string Text;
  int64_t Line = 0;
  int64_t Col = 0;
};

// The statements of text (the connection's bytes) as the script splitter cuts them, sending
// nothing: a routine body, or the text between DELIMITER commands, is one statement; a DELIMITER
// command itself and what holds only blanks and comments are none. Raises what connecting raises.
std::vector<TTypedStatement> SplitTypedSql(TCustomMyConnection& connection, const std::string& text);

// The refusal of a text of several statements: how many, and where the second starts.
QString SeveralStatementsText(const std::vector<TTypedStatement>& statements);
