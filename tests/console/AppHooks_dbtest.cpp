// What main() installs: the library's busy bracket drives the wait cursor, and a script failure
// its handler sends to the application shows one error box while the script goes on.
#include <QtTest>
#include <memory>

#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "components/MyScript.h"
#include "console/common/AppHooks.h"
#include "core/MemData.h"
#include "mysql/MySQLConnection.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/FieldText.h"
#include "platform/widgets/UiRecorder.h"
#include "platform/widgets/WaitCursor.h"

class AppHooksTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { InstallApplicationHooks(); }
  void WaitBracketDrivesTheCursor();
  void ScriptErrorHandedToTheApplicationShowsOneBox();
  void DatabaseFailuresReadInChineseFirst_data();
  void DatabaseFailuresReadInChineseFirst();
};

namespace {

void Connect(TMyConnection& conn) {
  const QMap<QString, QString> info = ServerInfo();
  conn.LoginPrompt = false;
  conn.SetServer(info["HOST"].toStdString());
  conn.SetPort(info["PORT"].toInt());
  conn.SetUsername(info["NATIVE_USER"].toStdString());
  conn.SetPassword(info["NATIVE_PASSWORD"].toStdString());
  conn.Open();
}

}  // namespace

void AppHooksTest::WaitBracketDrivesTheCursor() {
  QCOMPARE(WaitCursorDepth(), 0);
  StartWait();
  StartWait();
  QCOMPARE(WaitCursorDepth(), 2);
  StopWait();
  StopWait();
  QCOMPARE(WaitCursorDepth(), 0);
}

void AppHooksTest::ScriptErrorHandedToTheApplicationShowsOneBox() {
  const QMap<QString, QString> info = ServerInfo();
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  TMyConnection conn;
  conn.LoginPrompt = false;
  conn.SetServer(info["HOST"].toStdString());
  conn.SetPort(info["PORT"].toInt());
  conn.SetUsername(info["NATIVE_USER"].toStdString());
  conn.SetPassword(info["NATIVE_PASSWORD"].toStdString());
  TMyScript script;
  script.SetConnection(&conn);
  script.SetSQLText("SELECT * FROM no_such_db.no_such_table;\nSELECT 1;");
  int failures = 0;
  script.OnError = [&](TComponent*, const std::exception&, const std::string&, TErrorAction& action) {
    ++failures;
    action = eaException;
  };
  script.Execute();
  QCOMPARE(failures, 1);
  QCOMPARE(ui.Messages().size(), size_t(1));
  QCOMPARE(ui.Messages()[0].Args.Caption, QStringLiteral("错误"));
  QVERIFY(ui.Messages()[0].Args.Text.contains(QStringLiteral("no_such")));
  QCOMPARE(WaitCursorDepth(), 0);
}

void AppHooksTest::DatabaseFailuresReadInChineseFirst_data() {
  QTest::addColumn<int>("failure");
  QTest::addColumn<QString>("lead");  // empty: the text alone
  QTest::addColumn<QString>("text");  // what follows the lead
  const QString server = QStringLiteral("数据库操作失败，请检查网络连接和输入的数据！");
  // A browser's page, count or refresh read on a session the server has dropped.
  QTest::newRow("a read on a lost session") << 0 << server << QStringLiteral("Lost connection");
  // A grid cell, the detail strip or an editing dialog posting a row the server refuses.
  QTest::newRow("a write the server refuses") << 1 << server << QStringLiteral("Duplicate entry");
  // A text longer than its column, refused before anything is sent.
  QTest::newRow("a text longer than its field")
      << 2 << QStringLiteral("数据操作失败，请检查输入的数据！")
      << QStringLiteral("Field 'Name' holds at most 4 bytes: the text has 6");
  QTest::newRow("not a database failure") << 3 << QString() << QStringLiteral("no file");
}

// A failure the windows leave to the error report shows the console's sentence first, then the
// server's or the library's text; other failures show their text alone.
void AppHooksTest::DatabaseFailuresReadInChineseFirst() {
  QFETCH(int, failure);
  QFETCH(QString, lead);
  QFETCH(QString, text);
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  TMyConnection conn;
  Connect(conn);
  TMyQuery query;
  query.SetConnection(&conn);
  const std::string db = "ah_" + std::to_string(QCoreApplication::applicationPid());
  query.SetSQLText("CREATE DATABASE IF NOT EXISTS " + db);
  query.Execute();
  query.SetSQLText("USE " + db);
  query.Execute();
  query.SetSQLText("CREATE TEMPORARY TABLE t_lead (ID INT PRIMARY KEY, Name VARCHAR(4))");
  query.Execute();
  query.SetSQLText("INSERT INTO t_lead VALUES (1, 'a'), (2, 'b')");
  query.Execute();
  query.SetSQLText("SELECT * FROM t_lead ORDER BY ID");
  query.Open();
  QVERIFY(!Guarded([&] {
    switch (failure) {
      case 0: {
        TAdminSession admin(ServerInfo());
        admin.Exec("KILL CONNECTION " + QueryValue(*conn.MyIConnection(), "SELECT CONNECTION_ID()"));
        query.Refresh();
        break;
      }
      case 1:
        query.Edit();
        query.FieldByName("ID")->SetAsInteger(2);
        query.Post();
        break;
      case 2:
        query.Edit();
        FieldTextToStore(*query.FieldByName("Name"), QStringLiteral("abcdef"), TFieldCharset::Utf8);
        break;
      default:
        throw EFOpenError("no file");
    }
  }));
  QCOMPARE(ui.Messages().size(), size_t(1));
  const QString shown = ui.Messages()[0].Args.Text;
  if (lead.isEmpty()) {
    QCOMPARE(shown, text);
  } else {
    QVERIFY2(shown.startsWith(lead + QStringLiteral("\n\r") + text), qPrintable(shown));
  }
  if (query.State() != dsBrowse && conn.Connected()) query.Cancel();
  TAdminSession(ServerInfo()).Exec("DROP DATABASE " + db);
}

QTEST_MAIN(AppHooksTest)
#include "AppHooks_dbtest.moc"
