// What main() installs: the library's busy bracket drives the wait cursor, and a script failure
// its handler sends to the application shows one error box while the script goes on.
#include <QtTest>
#include <memory>

#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "components/MyScript.h"
#include "console/AppHooks.h"
#include "core/MemData.h"
#include "platform/widgets/UiRecorder.h"
#include "platform/widgets/WaitCursor.h"

class AppHooksTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { InstallApplicationHooks(); }
  void WaitBracketDrivesTheCursor();
  void ScriptErrorHandedToTheApplicationShowsOneBox();
};

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

QTEST_MAIN(AppHooksTest)
#include "AppHooks_dbtest.moc"
