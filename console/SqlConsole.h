// What the SQL console decides without widgets: the statement a template writes and the
// result texts of a run.
#pragma once

#include <QString>

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
