// The box shown while a statement waits: the SQL console's statement on a sleeping server (the box
// keeps the window from taking input, 取消 ends the wait with the console's failure box, the server
// ends the console's session (the login's stays), the console goes on with a new one), a browser's
// page load that one 取消 ends, and the frame's clock that goes on meanwhile.
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
#include "components/MyAccessDataSet.h"
#include "console/browsers/Unit_usermanager.h"
#include "console/common/AppHooks.h"
#include "console/common/ServerWaitBox.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/Unit2.h"
#include "console/tools/SqlConsole.h"
#include "console/tools/Unit_set2.h"
#include "mysql/MySqlVioTcp.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiRecorder.h"
#include "support/StallRelay.h"

class ServerWaitBoxDbTest : public QObject {
  Q_OBJECT
 private slots:
  void CancelEndsTheWaitAsALostSession();
  void ClockGoesOnWhileTheBoxShows();
  void OneCancelEndsAPageLoad();
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

// The frame's clock keeps its seconds while a statement waits behind the box.
void ServerWaitBoxDbTest::ClockGoesOnWhileTheBoxShows() {
  InstallApplicationHooks();
  const QMap<QString, QString> info = ServerInfo();
  QTemporaryDir dir;
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  TFormMain frame([](int) { return std::make_unique<TMyLoginConnection>(""); }, dir.filePath("DB.ini"));
  frame.show();
  const std::unique_ptr<TMyLoginConnection> login = OpenLogin(info, "");
  const TDateTime later = EncodeDateTime(2026, 12, 5, 9, 8, 7, 0);
  bool ticked = false, done = false;
  std::function<void()> poll = [&] {
    if (done) return;
    if (ServerWaitBox() != nullptr) {
      ui.SetNow(later);
      if (frame.ClockPanelText() == TFormMain::ClockText(later)) {
        ticked = true;
        return ServerWaitBoxCancel()->click();
      }
    }
    QMetaObject::invokeMethod(qApp, poll, Qt::QueuedConnection);
  };
  QMetaObject::invokeMethod(qApp, poll, Qt::QueuedConnection);
  try {
    QueryValue(login->Provider(), "SELECT SLEEP(8)");
  } catch (const std::exception&) {
    // Cancelled once the clock had moved on.
  }
  done = true;
  QCoreApplication::processEvents();
  QVERIFY(ticked);
}

// A page load on a server gone silent: one 取消 ends it (the connection's attempt to reconnect to
// the same server shows no second box), the labels name no page, and the next page, once the
// server answers again, comes on a new session.
void ServerWaitBoxDbTest::OneCancelEndsAPageLoad() {
  InstallApplicationHooks();
  const QMap<QString, QString> info = ServerInfo();
  TGameZone zone(info, QStringLiteral("wc_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(zone.Load());
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  TStallRelay relay(info["HOST"].toStdString(), info["PORT"].toInt());
  TMyLoginConnection login("gb2312");
  login.Open({"127.0.0.1",
              relay.Port,
              info["NATIVE_USER"].toStdString(),
              info["NATIVE_PASSWORD"].toStdString(),
              zone.Acc().toStdString(),
              {}});
  Tusermanager b(login.MyConnection(), QStringLiteral("默认"));
  b.show();
  int boxes = 0;
  bool done = false;
  std::function<void()> poll = [&] {
    if (done) return;
    if (QDialog* box = ServerWaitBox(); box != nullptr && !box->property("pressed").toBool()) {
      box->setProperty("pressed", true);
      ++boxes;
      ServerWaitBoxCancel()->click();
    }
    QMetaObject::invokeMethod(qApp, poll, Qt::QueuedConnection);
  };
  QMetaObject::invokeMethod(qApp, poll, Qt::QueuedConnection);
  relay.Stall();
  QVERIFY(!Guarded([&] { b.NextPage(); }));
  done = true;
  QCoreApplication::processEvents();
  QCOMPARE(boxes, 1);
  QCOMPARE(ui.Messages().size(), size_t(1));
  QVERIFY(ui.Messages()[0].Args.Text.contains(kMySqlWaitCancelledText));
  QCOMPARE(b.lbl2->text(), QString());
  relay.Resume();
  b.NextPage();
  QCOMPARE(b.lbl2->text(), QStringLiteral("第 2 页/共 3 页"));
  QCOMPARE(b.qry1().RecordCount(), 17);
  QCOMPARE(ui.Messages().size(), size_t(1));
}

QTEST_MAIN(ServerWaitBoxDbTest)
#include "ServerWaitBox_dbtest.moc"
