// The version check against a web server of the test's own: the window comes up after a login
// only for a newer version (dotted parts compared as numbers), stays hidden for the same or an
// older one and for any failure, and a silent server neither holds the login nor the check for
// longer than its bound.
#include "console/frame/VersionCheck.h"

#include <QLabel>
#include <QMdiArea>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <chrono>
#include <memory>

#include "ConsoleTestSupport.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "console/frame/Unit_updatever.h"
#include "platform/widgets/UiRecorder.h"

namespace {

// Answers every request on 127.0.0.1 with Body under Status, or never while Silent.
class TVersionServer {
 public:
  TVersionServer() {
    FServer.listen(QHostAddress::LocalHost);
    QObject::connect(&FServer, &QTcpServer::newConnection, &FServer, [this] {
      while (QTcpSocket* socket = FServer.nextPendingConnection())
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { Serve(socket); });
    });
  }
  QString Address() const {
    return QStringLiteral("http://127.0.0.1:%1/version.txt").arg(FServer.serverPort());
  }

  QByteArray Status = "200 OK";
  QByteArray Body;
  bool Silent = false;
  QByteArray Request;

 private:
  void Serve(QTcpSocket* socket) {
    Request += socket->readAll();
    if (Silent || !Request.contains("\r\n\r\n")) return;
    socket->write("HTTP/1.1 " + Status + "\r\nContent-Type: text/plain\r\nContent-Length: " +
                  QByteArray::number(Body.size()) + "\r\nConnection: close\r\n\r\n" + Body);
    socket->disconnectFromHost();
  }
  QTcpServer FServer;
};

const QString kBlanks22(22, QLatin1Char(' '));
const QString kNewer = QStringLiteral("您当前使用的程序不是最新版本，建议更新！");
const QString kLatest = QStringLiteral("您当前使用的程序是最新版本，无需要更新！");
const QString kFailed = QStringLiteral("无法取得最新版本信息，请检查网络连接或稍后再试！");

}  // namespace

class VersionCheckTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void VersionsComparePartByPart();
  void WindowAfterLoginOnlyForANewerVersion_data();
  void WindowAfterLoginOnlyForANewerVersion();
  void SilentServerHoldsNeitherLoginNorCheck();
  void DownloadAndShowAgain();

 private:
  // A frame shown offscreen, logged in with connections that always open.
  std::unique_ptr<TFormMain> LoggedIn(const QString& address);

  std::unique_ptr<QTemporaryDir> FDir;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
  std::unique_ptr<TVersionServer> FServer;
};

void VersionCheckTest::init() {
  FDir = std::make_unique<QTemporaryDir>();
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
  FServer = std::make_unique<TVersionServer>();
}

void VersionCheckTest::cleanup() {
  FServer.reset();
  FScope.reset();
  FUi.reset();
  FDir.reset();
}

std::unique_ptr<TFormMain> VersionCheckTest::LoggedIn(const QString& address) {
  auto frame = std::make_unique<TFormMain>([](int) { return std::make_unique<TNoConnection>(); },
                                           FDir->filePath("DB.ini"));
  frame->SetVersionAddress(address);
  frame->show();
  if (!frame->Login()->ConnectAll()) return nullptr;
  return frame;
}

void VersionCheckTest::VersionsComparePartByPart() {
  const struct {
    const char *a, *b;
    std::optional<int> order;
  } cases[] = {
      {"2.3.0.1", "2.2.1.1015", 1},  // not 2301 against 221015
      {"2.2.1.999", "2.2.1.1015", -1},
      {"2.2.1.1015.0", "2.2.1.1015", 0},
      {"2147483647.1", "02147483647", 1},
      // A part no 32-bit number holds is no version, however its digits run.
      {"2147483648", "2.2", std::nullopt},
      {"99999999999999999999.1", "099999999999999999999", std::nullopt},
      {"2..2", "2.2", std::nullopt},
      {"2.3 beta", "2.2", std::nullopt},
  };
  for (const auto& c : cases) QVERIFY2(CompareVersions(c.a, c.b) == c.order, c.a);
}

void VersionCheckTest::WindowAfterLoginOnlyForANewerVersion_data() {
  QTest::addColumn<QByteArray>("status");
  QTest::addColumn<QByteArray>("body");
  QTest::addColumn<bool>("shown");
  QTest::addColumn<QString>("latest");
  QTest::addColumn<QString>("verdict");
  const QByteArray ok = "200 OK";
  const QString was = QStringLiteral("程序最新版本：");
  QTest::newRow("next build") << ok << QByteArray("2.2.1.1016") << true << was + "2.2.1.1016" << kNewer;
  QTest::newRow("next minor") << ok << QByteArray("2.3.0.1") << true << was + "2.3.0.1" << kNewer;
  QTest::newRow("same") << ok << QByteArray("2.2.1.1015") << false << was + "2.2.1.1015" << kLatest;
  QTest::newRow("same with line end")
      << ok << QByteArray("2.2.1.1015\r\n") << false << was + "2.2.1.1015" << kLatest;
  QTest::newRow("byte-order mark") << ok
                                   << QByteArray(
                                          "\xEF\xBB\xBF"
                                          "2.2.1.1016\r\n")
                                   << true << was + "2.2.1.1016" << kNewer;
  QTest::newRow("200 digits") << ok << QByteArray(200, '9') << false << kBlanks22 << kFailed;
  QTest::newRow("no version") << ok << QByteArray("<html>busy</html>") << false << kBlanks22 << kFailed;
  QTest::newRow("not found") << QByteArray("404 Not Found") << QByteArray("9.9") << false << kBlanks22
                             << kFailed;
  QTest::newRow("over the limit") << ok << QByteArray(kVersionReplyLimit + 1, '9') << false << kBlanks22
                                  << kFailed;
}

void VersionCheckTest::WindowAfterLoginOnlyForANewerVersion() {
  QFETCH(QByteArray, status);
  QFETCH(QByteArray, body);
  QFETCH(bool, shown);
  QFETCH(QString, latest);
  QFETCH(QString, verdict);
  FServer->Status = status;
  FServer->Body = body;
  auto frame = LoggedIn(FServer->Address());
  QVERIFY(frame);
  Tupdatever* window = frame->Login()->updatever();
  QVERIFY(window);
  QTRY_VERIFY(window->CheckDone());
  QCOMPARE(window->isVisible(), shown);
  QCOMPARE(window->btn1->isVisibleTo(window), shown);
  QCOMPARE(window->UpdateFlag, shown ? QStringLiteral("1") : QString());
  QCOMPARE(window->lbl1->text(), QStringLiteral("程序当前版本：2.2.1.1015"));
  QCOMPARE(window->lbl2->text(), latest);
  QCOMPARE(window->lbl3->text(), verdict);
  QVERIFY(FServer->Request.startsWith("GET /version.txt HTTP/1.1\r\n"));
  QVERIFY(FServer->Request.contains("\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n"));
  QVERIFY(FServer->Request.contains("\r\nAccept: text/html, */*\r\n"));
  QVERIFY(FUi->Messages().empty());
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty() && body == "2.3.0.1")
    QVERIFY(frame->grab().save(QDir(shots).filePath("version-window.png")));
}

void VersionCheckTest::SilentServerHoldsNeitherLoginNorCheck() {
  FServer->Silent = true;
  const auto start = std::chrono::steady_clock::now();
  auto frame = LoggedIn(FServer->Address());
  QVERIFY(frame);
  QVERIFY(std::chrono::steady_clock::now() - start < std::chrono::seconds(2));
  QVERIFY(frame->isEnabled());
  QVERIFY(frame->StatusText().startsWith(QStringLiteral("已登录： ")));
  Tupdatever* window = frame->Login()->updatever();
  QTRY_VERIFY_WITH_TIMEOUT(window->CheckDone(), kVersionCheckMilliseconds + 3000);
  QVERIFY(std::chrono::steady_clock::now() - start <
          std::chrono::milliseconds(kVersionCheckMilliseconds + 2000));
  QVERIFY(FServer->Request.startsWith("GET "));  // it was asked, and kept silent
  QVERIFY(!window->isVisible());
  QCOMPARE(window->lbl2->text(), kBlanks22);
  QCOMPARE(window->lbl3->text(), kFailed);
}

void VersionCheckTest::DownloadAndShowAgain() {
  FServer->Body = "2.3";
  auto frame = LoggedIn(FServer->Address());
  QVERIFY(frame);
  Tupdatever* window = frame->Login()->updatever();
  QTRY_VERIFY(window->isVisible());
  window->btn1->Click();
  QCOMPARE(FUi->ShellOpened(), QStringList{QString::fromLatin1(kDownloadPage)});
  FUi->SetShellResult(false);
  window->btn1->Click();
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text,
           QStringLiteral("Internet Explorer 浏览器加载失败，请手动打开软件主页：") + kDownloadPage);
  window->btn2->Click();
  QVERIFY(!window->isVisible());
  frame->ShowVersionWindow();  // 版本升级
  QVERIFY(window->isVisible());
}

QTEST_MAIN(VersionCheckTest)
#include "VersionCheck_test.moc"
