// The login against the test server: the three shared connections opened in order over real
// sessions, the character-set choice as the server sees it, a failing log database, and a
// server that accepts the connection but never answers.
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QTcpServer>
#include <QtTest>
#include <chrono>

#include "GameZone.h"
#include "console/common/MyLoginConnection.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "mysql/MySQLConnection.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiRecorder.h"
#include "support/StallRelay.h"

namespace {

TMySQLConnection& Provider(TLoginConnection& con) {
  return static_cast<TMyLoginConnection&>(con).Provider();
}

}  // namespace

class LoginDbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void init();
  void LoginOpensAllThreeWithStatusLine();
  void CharsetChoiceAsTheServerSeesIt();
  void BadLogDatabaseKeepsAccountAndCharacter();
  void SilentServerEndsWithinTheTimeOut();
  void TableChecksNameTheMissingTable();
  void StalledServerDuringATableCheck();

 private:
  void WriteIni(const QString& logDb, const QString& host = {}, int port = 0);
  std::unique_ptr<TFormMain> Frame() { return std::make_unique<TFormMain>(&MakeMyLoginConnection, FIni); }

  QMap<QString, QString> FInfo;
  QString FPrefix;
  QTemporaryDir FDir;
  QString FIni;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
};

void LoginDbTest::initTestCase() {
  FInfo = ServerInfo();
  FPrefix = QStringLiteral("login_%1").arg(QCoreApplication::applicationPid());
  FIni = FDir.filePath("DB.ini");
  TAdminSession admin(FInfo);
  for (const char* kind : {"acc", "chr", "log"}) {
    const std::string db = (FPrefix + "_" + kind).toStdString();
    admin.Exec("DROP DATABASE IF EXISTS `" + db + "`");
    admin.Exec("CREATE DATABASE `" + db + "`");
  }
  admin.Exec("CREATE TABLE `" + (FPrefix + "_acc").toStdString() + "`.`user` (idx INT PRIMARY KEY)");
}

void LoginDbTest::cleanupTestCase() {
  TAdminSession admin(FInfo);
  for (const char* kind : {"acc", "chr", "log"})
    admin.Exec("DROP DATABASE IF EXISTS `" + (FPrefix + "_" + kind).toStdString() + "`");
}

void LoginDbTest::init() {
  FScope.reset();
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
  WriteIni(FPrefix + "_log");
}

void LoginDbTest::WriteIni(const QString& logDb, const QString& host, int port) {
  QFile f(FIni);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(QStringLiteral("[DB]\r\nServer=%1\r\nDBport=%2\r\nDBcharset=0\r\nDBacc=%3_acc\r\nDBchar=%3_chr\r\n"
                         "DBlog=%4\r\nUid=%5\r\nPwd=%6\r\n[User]\r\nsaveini=True\r\n")
              .arg(host.isEmpty() ? FInfo["HOST"] : host)
              .arg(port ? port : FInfo["PORT"].toInt())
              .arg(FPrefix, logDb, FInfo["NATIVE_USER"], FInfo["NATIVE_PASSWORD"])
              .toUtf8());
}

void LoginDbTest::LoginOpensAllThreeWithStatusLine() {
  auto frame = Frame();
  Tlogin* login = frame->Login();
  QVERIFY(login->ConnectAll());
  QVERIFY(frame->isEnabled());
  QCOMPARE(frame->StatusText(),
           QStringLiteral("已登录： %1 ,数据库：%2_acc,%2_chr,%2_log,用户：%3  [单一服务器]")
               .arg(FInfo["HOST"], FPrefix, FInfo["NATIVE_USER"]));
  QCOMPARE(QString::fromStdString(QueryValue(Provider(login->con3()), "SELECT DATABASE()")),
           FPrefix + "_log");
  QVERIFY(FUi->Messages().empty());
}

void LoginDbTest::CharsetChoiceAsTheServerSeesIt() {
  auto frame = Frame();
  Tlogin* login = frame->Login();
  struct {
    int index;
    const char* sets[3];
  } cases[] = {{2, {"gbk", "gbk", "gbk"}}, {0, {"gb2312", "latin1", "latin1"}}};
  for (const auto& c : cases) {
    // A fresh window for "默认": a set once chosen stays on a connection.
    if (c.index == 0) {
      frame = Frame();
      login = frame->Login();
    }
    login->cbb2->setCurrentIndex(c.index);
    QVERIFY2(login->ConnectAll(), qPrintable(login->lbl1->text()));
    TLoginConnection* cons[3] = {&login->con1(), &login->con2(), &login->con3()};
    for (int i = 0; i < 3; ++i)
      QCOMPARE(QString::fromStdString(QueryValue(Provider(*cons[i]), "SELECT @@character_set_client")),
               QString::fromLatin1(c.sets[i]));
  }
}

void LoginDbTest::BadLogDatabaseKeepsAccountAndCharacter() {
  WriteIni(FPrefix + "_no_such_log");
  auto frame = Frame();
  Tlogin* login = frame->Login();
  QVERIFY(!login->ConnectAll());
  QCOMPARE(login->lbl1->text(), QStringLiteral("日志数据库连接失败，请检查配置!"));
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("日志连接数据库失败，请检查配置!"));
  QVERIFY(login->con1().Connected());
  QVERIFY(login->con2().Connected());
  QVERIFY(!login->con3().Connected());
  QVERIFY(!frame->isEnabled());
}

void LoginDbTest::SilentServerEndsWithinTheTimeOut() {
  // Listens but never greets: the kernel completes the connection, nobody answers.
  QTcpServer silent;
  QVERIFY(silent.listen(QHostAddress::LocalHost));
  WriteIni(FPrefix + "_log", QStringLiteral("127.0.0.1"), silent.serverPort());
  auto frame = Frame();
  Tlogin* login = frame->Login();
  const auto start = std::chrono::steady_clock::now();
  QVERIFY(!login->ConnectAll());
  const auto waited = std::chrono::steady_clock::now() - start;
  QVERIFY(waited < std::chrono::seconds(kConnectTimeoutSeconds + 3));
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("帐号连接数据库失败，请检查配置!"));
  QVERIFY(login->isEnabled());
  QVERIFY(login->btn2->isEnabled());
}

void LoginDbTest::TableChecksNameTheMissingTable() {
  auto frame = Frame();
  QVERIFY(frame->Login()->ConnectAll());
  QVERIFY(frame->CheckAccountTable(QStringLiteral("USER")));  // found without regard to case
  QVERIFY(!frame->HasCharTable(QStringLiteral("t_gift")));    // and without a message
  QVERIFY(FUi->Messages().empty());
  QVERIFY(!frame->CheckLogTable(QStringLiteral("t_log_user_history")));
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("数据表：t_log_user_history,没有找到！"));
  QCOMPARE(FUi->Messages()[0].Args.Caption, CaptionError);
}

void LoginDbTest::StalledServerDuringATableCheck() {
  TStallRelay relay(FInfo["HOST"].toStdString(), FInfo["PORT"].toInt());
  WriteIni(FPrefix + "_log", QStringLiteral("127.0.0.1"), relay.Port);
  auto frame = Frame();
  QVERIFY(frame->Login()->ConnectAll());
  relay.Stall();
  const auto start = std::chrono::steady_clock::now();
  QVERIFY(Guarded([&] { frame->OpenAccountBrowser(); }));  // as the menu runs it
  // The read time-out, then one attempt to reconnect, bounded by the connect time-out.
  QVERIFY(std::chrono::steady_clock::now() - start <
          std::chrono::seconds(kReadTimeoutSeconds + kConnectTimeoutSeconds + 5));
  // The frame's own sentence first, then the client's text.
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QVERIFY2(
      FUi->Messages()[0].Args.Text.startsWith(QStringLiteral("读取数据表列表失败，请检查网络连接！\n\r")) &&
          FUi->Messages()[0].Args.Text.size() > 20,
      qPrintable(FUi->Messages()[0].Args.Text));
  QCOMPARE(FUi->Messages()[0].Args.Caption, CaptionError);
  QVERIFY(frame->isEnabled());
  QVERIFY(frame->MdiArea()->subWindowList().isEmpty());
}

QTEST_MAIN(LoginDbTest)
#include "Login_dbtest.moc"
