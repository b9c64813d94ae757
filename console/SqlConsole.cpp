#include "console/SqlConsole.h"

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
