// The SQL console's statement waits on a sleeping server: the box shows and keeps the window from
// taking input, 取消 ends the wait with the console's failure box, the server ends the console's
// session (the login's stays), and the console goes on with a new one.
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <chrono>
#include <thread>

#include "GameZone.h"
#include "console/AppHooks.h"
#include "console/ServerWaitBox.h"
#include "console/SqlConsole.h"
#include "console/Unit_set2.h"
#include "console/controls/FlatBtns.h"
#include "mysql/MySqlVioTcp.h"
#include "platform/widgets/UiRecorder.h"

class ServerWaitBoxDbTest : public QObject {
  Q_OBJECT
 private slots:
  void CancelEndsTheWaitAsALostSession();
};

void ServerWaitBoxDbTest::CancelEndsTheWaitAsALostSession() {
  InstallApplicationHooks();
  const QMap<QString, QString> info = ServerInfo();
  TGameZone zone(info, QStringLiteral("wb_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(zone.Load());
  TAdminSession admin(info);
  std::unique_ptr<TMyLoginConnection> logins[3] = {OpenLogin(info, zone.Acc().toStdString(), "gb2312"),
                                                   OpenLogin(info, zone.Chr().toStdString()),
                                                   OpenLogin(info, zone.Log().toStdString())};
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  Tbigset console(logins[0]->MyConnection(), logins[1]->MyConnection(), logins[2]->MyConnection(),
                  QStringLiteral("默认"));
  console.show();
  QVERIFY(QTest::qWaitForWindowExposed(&console));
  TFlatButton* run = console.Tab(1).RunButton;
  int runsClicked = 0;
  connect(run, &TFlatButton::clicked, this, [&] { ++runsClicked; });
  // The console waits on a session of its own; the login's stays as it is.
  const std::string session =
      QueryValue(*console.Tab(1).Connection->MyIConnection(), "SELECT CONNECTION_ID()");
  const std::string login = QueryValue(logins[1]->Provider(), "SELECT CONNECTION_ID()");

  // Posted calls still run inside the wait: this one waits for the box, clicks the console's run
  // button through the window system, and presses 取消.
  QString seconds;
  std::function<void()> poll = [&] {
    if (ServerWaitBox() == nullptr) return void(QMetaObject::invokeMethod(qApp, poll, Qt::QueuedConnection));
    seconds = ServerWaitBoxSeconds()->text();
    if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty())
      ServerWaitBox()->grab().save(QDir(shots).filePath("server-wait-box.png"));
    QTest::mouseClick(console.windowHandle(), Qt::LeftButton, {}, run->mapTo(&console, run->rect().center()));
    ServerWaitBoxCancel()->click();
  };
  QMetaObject::invokeMethod(qApp, poll, Qt::QueuedConnection);
  console.pgc1->setCurrentIndex(1);
  console.Tab(1).Memo->setPlainText(QStringLiteral("SELECT SLEEP(30)"));
  console.Run(1);

  QVERIFY2(seconds.startsWith(QStringLiteral("正在等待服务器响应… 已等待 ")), qPrintable(seconds));
  QCOMPARE(runsClicked, 0);
  QCOMPARE(ServerWaitBox(), nullptr);
  QCOMPARE(QApplication::overrideCursor(), nullptr);
  QCOMPARE(ui.Messages().size(), size_t(1));
  const QString text = ui.Messages()[0].Args.Text;
  QVERIFY2(text.startsWith(QStringLiteral("错误信息：\r\n")) && text.contains(kMySqlWaitCancelledText),
           qPrintable(text));
  // The server sees the session end (SLEEP notices it); a safety bound only.
  const std::string gone = "SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " + session;
  for (int i = 0; i < 300 && admin.Value(gone) != "0"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  QCOMPARE(admin.Value(gone), std::string("0"));

  console.Tab(1).Memo->setPlainText(QStringLiteral("SELECT 1"));
  console.Run(1);
  QCOMPARE(ui.Messages().size(), size_t(1));
  QCOMPARE(console.ResultPanel(), QueryDoneText(1));
  QVERIFY(QueryValue(*console.Tab(1).Connection->MyIConnection(), "SELECT CONNECTION_ID()") != session);
  QVERIFY(logins[1]->Connected());
  QCOMPARE(QueryValue(logins[1]->Provider(), "SELECT CONNECTION_ID()"), login);
}

QTEST_MAIN(ServerWaitBoxDbTest)
#include "ServerWaitBox_dbtest.moc"
