#include "console/tools/SqlConsole.h"

#include "components/MyAccessConnection.h"
#include "components/MyScript.h"

TSqlTemplate SqlTemplate(int kindIndex, const QString& table) {
  switch (kindIndex) {
    case 1:
      // A starting point the game master completes by hand.
      return {QStringLiteral("INSERT INTO FROM ") + table, true};
    case 2:
      return {QStringLiteral("DELETE FROM ") + table, true};
    default:
      return {QStringLiteral("SELECT * FROM ") + table, false};
  }
}

QString QueryDoneText(int rowCount) {
  return QStringLiteral("查询完成,得到：") + QString::number(rowCount) + QStringLiteral("条记录");
}

QString ExecuteDoneText() {
  return QStringLiteral("执行完成。");
}

QString StatementPanelText(const QString& memo) {
  return memo + QStringLiteral("   ");
}

std::vector<TTypedStatement> SplitTypedSql(TCustomMyConnection& connection, const std::string& text) {
  std::vector<TTypedStatement> statements;
  TMyScript script;
  script.SetConnection(&connection);
  // As typed: "&name" is an operator and a name, never a macro.
  script.ExpandMacros = false;
  // What is typed after a routine's END is a statement of its own, not part of the routine.
  script.RoutineEndsAtItsEnd = true;
  script.SetSQLText(text);
  script.BeforeExecute = [&](TComponent*, std::string& sql, bool& omit) {
    if (omit) return;  // a DELIMITER command: the splitter's own
    statements.push_back({sql, script.StartLine(), script.StartCol()});
    omit = true;
  };
  script.Execute();
  return statements;
}

QString SeveralStatementsText(const std::vector<TTypedStatement>& statements) {
  const TTypedStatement& second = statements.at(1);
  return QStringLiteral(
             "查询语句中有%1条语句，一次只能运行一条：第2条语句从第%2行第%3列开始。没有执行任何语句。")
      .arg(statements.size())
      .arg(second.Line + 1)
      .arg(second.Col + 1);
}
