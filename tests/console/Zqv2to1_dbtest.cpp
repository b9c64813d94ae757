// The zone-merge window on the test server: connecting and disconnecting a side with its texts,
// a failing connection and the next press trying again, and a whole run over two fixture zones
// through the window (progress, logs, the event log file, the final box, the button, closing
// refused during the run and a stop asked for by closing).
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>
#include <QtTest>
#include <memory>

#include "ConsoleTestSupport.h"
#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "console/controls/FlatBtns.h"
#include "console/merge/Unit_zqv2to1.h"
#include "platform/widgets/FieldText.h"
#include "platform/widgets/UiRecorder.h"

class Zqv2to1DbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void ConnectFailAndRetry_data();
  void ConnectFailAndRetry();
  void WholeRunThroughTheWindow();
  void ClosingDuringTheRunStopsIt();

 private:
  // Types the zone's settings into side s and presses its button.
  void Connect(Tzqv2to1& w, int s, const TGameZone& zone);
  std::unique_ptr<Tzqv2to1> MakeWindow() {
    auto w = std::make_unique<Tzqv2to1>(nullptr);
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->resize(760, 560);
    w->show();
    return w;
  }
  QStringList Texts() const {
    QStringList texts;
    for (const auto& m : FUi->Messages()) texts << m.Args.Text;
    return texts;
  }
  static QString LastLine(const Tzqv2to1& w) {
    return w.mmo1->toPlainText().split('\n').back().section(QStringLiteral("  时间："), 0, 0);
  }
  int Count(const QString& db, const char* table) {
    return std::stoi(FAdmin->Value("SELECT COUNT(*) FROM `" + db.toStdString() + "`.`" + table + "`"));
  }

  QMap<QString, QString> FInfo;
  std::unique_ptr<TGameZone> FSource, FTarget;
  std::unique_ptr<TAdminSession> FAdmin;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
  std::unique_ptr<QTemporaryDir> FDir;
  QString FOldDir;
};

void Zqv2to1DbTest::Connect(Tzqv2to1& w, int s, const TGameZone& zone) {
  QLineEdit* const edits[2][7] = {
      {w.edt_srv1, w.edt_port1, w.edt_acc1, w.edt_char1, w.edt_log1, w.edt_uid1, w.edt_pwd1},
      {w.edt_srv2, w.edt_port2, w.edt_acc2, w.edt_char2, w.edt_log2, w.edt_uid2, w.edt_pwd2}};
  const QString values[7] = {
      FInfo["HOST"],        FInfo["PORT"],           zone.Acc(), zone.Chr(), zone.Log(),
      FInfo["NATIVE_USER"], FInfo["NATIVE_PASSWORD"]};
  for (int i = 0; i < 7; ++i) edits[s][i]->setText(values[i]);
  (s == 0 ? w.btn1 : w.btn2)->Click();
}

void Zqv2to1DbTest::initTestCase() {
  FInfo = ServerInfo();
  const QString pid = QString::number(QCoreApplication::applicationPid());
  FSource = std::make_unique<TGameZone>(FInfo, "zws_" + pid);
  FTarget = std::make_unique<TGameZone>(FInfo, "zwt_" + pid);
  FAdmin = std::make_unique<TAdminSession>(FInfo);
}

void Zqv2to1DbTest::init() {
  // Every test starts from freshly loaded zones: a run changes the target.
  QVERIFY(FSource->Load());
  QVERIFY(FTarget->Load(true));
  FDir = std::make_unique<QTemporaryDir>();
  FOldDir = QDir::currentPath();
  QDir::setCurrent(FDir->path());
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
}

void Zqv2to1DbTest::cleanup() {
  FScope.reset();
  FUi.reset();
  QDir::setCurrent(FOldDir);
  FDir.reset();
}

void Zqv2to1DbTest::ConnectFailAndRetry_data() {
  QTest::addColumn<int>("edit");  // the database edit that names no database
  QTest::addColumn<QString>("state");
  QTest::addColumn<QString>("box");
  QTest::newRow("account") << 2 << QStringLiteral("帐号数据库连接失败，请检查配置!")
                           << QStringLiteral("帐号连接数据库失败，请检查配置!");
  QTest::newRow("character") << 3 << QStringLiteral("角色数据库连接失败，请检查配置!")
                             << QStringLiteral("角色连接数据库失败，请检查配置!");
  QTest::newRow("log") << 4 << QStringLiteral("日志数据库连接失败，请检查配置!")
                       << QStringLiteral("日志连接数据库失败，请检查配置!");
}

void Zqv2to1DbTest::ConnectFailAndRetry() {
  QFETCH(int, edit);
  auto w = MakeWindow();
  w->chk4->click();  // logs merged: the log connection opens too
  Connect(*w, 1, *FTarget);
  const QString dbs = FTarget->Acc() + "," + FTarget->Chr();
  QCOMPARE(w->lbl2->text(), QStringLiteral("转入分区连接正常..."));
  QCOMPARE(LastLine(*w), QStringLiteral("操作:转入分区连接正常，连接服务器") + FInfo["HOST"] +
                             QStringLiteral(",数据库:") + dbs + "...");
  QCOMPARE(w->StatusPanel(1),
           QStringLiteral("转入SRV") + FInfo["HOST"] + QStringLiteral(",DB:") + dbs + "...");
  QCOMPARE(w->btn2->Caption(), QStringLiteral("断开连接"));
  QVERIFY(!w->edt_srv2->isEnabled());
  const QString databases[3] = {FTarget->Acc(), FTarget->Chr(), FTarget->Log()};
  for (int n = 0; n < 3; ++n)
    QCOMPARE(QString::fromStdString(QueryValue(*w->con(4 + n).MyIConnection(), "SELECT DATABASE()")),
             databases[n]);
  w->btn2->Click();
  QCOMPARE(w->lbl2->text(), QStringLiteral("连接被断开..."));
  QCOMPARE(LastLine(*w), QStringLiteral("操作:转入分区连接被断开."));
  QCOMPARE(w->StatusPanel(1), QStringLiteral("没有转入分区连接.."));
  QCOMPARE(w->btn2->Caption(), QStringLiteral("测试并连接"));
  for (int n = 4; n <= 6; ++n) QVERIFY(!w->con(n).Connected());

  QLineEdit* const edits[7] = {w->edt_srv2, w->edt_port2, w->edt_acc2, w->edt_char2,
                               w->edt_log2, w->edt_uid2,  w->edt_pwd2};
  edits[edit]->setText(FTarget->Acc() + "_missing");
  w->btn2->Click();
  QTEST(w->lbl2->text(), "state");
  QCOMPARE(Texts().size(), 1);
  QTEST(Texts().front(), "box");
  QCOMPARE(FUi->Messages().front().Args.Icon, TMsgIcon::Error);
  QCOMPARE(w->btn2->Caption(), QStringLiteral("测试并连接"));
  QVERIFY(w->edt_srv2->isEnabled());
  // Those opened before stay open; the next press connects with the corrected settings instead
  // of taking the side for connected.
  for (int n = 0; n < 3; ++n) QCOMPARE(w->con(4 + n).Connected(), n < edit - 2);
  edits[edit]->setText(databases[edit - 2]);
  int attempts = 0;
  FUi->OnProcessMessages([&] {
    ++attempts;
    QVERIFY(!w->close());
    QVERIFY(!w->btn2->isEnabled());
  });
  w->btn2->Click();
  FUi->OnProcessMessages({});
  QCOMPARE(attempts, 3);
  QCOMPARE(w->btn2->Caption(), QStringLiteral("断开连接"));
  for (int n = 4; n <= 6; ++n) QVERIFY(w->con(n).Connected());
}

void Zqv2to1DbTest::WholeRunThroughTheWindow() {
  // An event log of an earlier run starts anew.
  WriteAll(QStringLiteral("zqv2to1_log.txt"), "old record\r\n");
  auto w = MakeWindow();
  Connect(*w, 0, *FSource);
  Connect(*w, 1, *FTarget);
  w->chk7->click();  // warehouses too
  const int accountsBefore = Count(FTarget->Acc(), "user");
  const int charsBefore = Count(FTarget->Chr(), "user");
  w->pgc1->setCurrentIndex(2);
  QList<int> progress;
  bool checkedWhileRunning = false;
  FUi->OnProcessMessages([&] {
    progress << w->pb1->value();
    if (checkedWhileRunning || !w->lbl20->text().startsWith(QStringLiteral("共有帐号"))) return;
    checkedWhileRunning = true;
    QVERIFY(!w->btn3->isEnabled());
    QVERIFY(!w->btn1->isEnabled());
    // Closing is refused; "No" lets the run go on.
    FUi->Answer(TMsgResult::No);
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
  });
  w->btn3->Click();
  FUi->OnProcessMessages({});
  QVERIFY(checkedWhileRunning);
  const TZoneMergeCounts& c = w->LastCounts();
  QVERIFY(c.Completed);
  QVERIFY(!c.Stopped);
  QVERIFY(c.AccountsCopied > 0 && c.CharactersCopied > 0);
  QCOMPARE(Count(FTarget->Acc(), "user"), accountsBefore + c.AccountsCopied);
  QCOMPARE(Count(FTarget->Chr(), "user"), charsBefore + c.CharactersCopied);
  QVERIFY(w->btn3->isEnabled() && w->btn1->isEnabled());
  QCOMPARE(progress.back(), 100);
  QCOMPARE(w->lbl5->text(), QStringLiteral("100 %"));
  // The close question, then the final box with the counts.
  QCOMPARE(Texts().size(), 2);
  QCOMPARE(FUi->Messages()[0].Args.Buttons, TMsgButtons::YesNo);
  QVERIFY2(Texts()[1].startsWith(QStringLiteral("合区所有操作已完成！")), qPrintable(Texts()[1]));
  QCOMPARE(FUi->Messages()[1].Args.Caption, QStringLiteral("提示"));
  // The event log file holds the memo's lines, starting with the new header, in GBK.
  const QStringList events = w->EventLines();
  QVERIFY(events.size() > 1);
  QVERIFY(events.front().startsWith(QStringLiteral("合区重复帐号角色处理记录  ")));
  QVERIFY2(events.contains(QStringLiteral("事件:原角色：白露 添加重复规则后仍然重复，跳过！")),
           qPrintable(events.join('\n')));
  QCOMPARE(ReadAll(QStringLiteral("zqv2to1_log.txt")),
           QByteArray::fromStdString(EncodeFieldText(events.join("\r\n") + "\r\n", TFieldCharset::Gbk)));
  // The picture a person looks at after the run.
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty())
    QVERIFY(w->grab().save(QDir(shots).filePath("zqv2to1-after-run.png")));
  QVERIFY(w->close());
}

void Zqv2to1DbTest::ClosingDuringTheRunStopsIt() {
  auto w = MakeWindow();
  Connect(*w, 0, *FSource);
  Connect(*w, 1, *FTarget);
  const int accountsBefore = Count(FTarget->Acc(), "user");
  int accountSteps = 0;
  FUi->OnProcessMessages([&] {
    if (!w->lbl20->text().startsWith(QStringLiteral("共有帐号"))) return;
    if (++accountSteps != 2) return;
    FUi->Answer(TMsgResult::Yes);
    QVERIFY(!w->close());
    QVERIFY(w->StopRequested());
    // Asking again only says the run is ending.
    QVERIFY(!w->close());
  });
  w->btn3->Click();
  FUi->OnProcessMessages({});
  const TZoneMergeCounts& c = w->LastCounts();
  QVERIFY(c.Stopped);
  QVERIFY(!c.Completed);
  QCOMPARE(accountSteps, 2);
  QCOMPARE(Count(FTarget->Acc(), "user"), accountsBefore + c.AccountsCopied);
  QVERIFY(c.AccountsCopied <= 2);
  QCOMPARE(Texts().size(), 2);  // the question and the note that the run is ending; no final box
  QCOMPARE(FUi->Messages()[0].Args.Buttons, TMsgButtons::YesNo);
  QVERIFY(w->btn3->isEnabled());
  QVERIFY(w->close());
}

QTEST_MAIN(Zqv2to1DbTest)
#include "Zqv2to1_dbtest.moc"
