// One console per user and display: a second start of the program asks the first to come to
// the front and ends within two seconds; a socket left by a crashed first instance is taken over.
#include "console/frame/SingleInstance.h"

#include <QElapsedTimer>
#include <QLocalServer>
#include <QProcess>
#include <QtTest>

class SingleInstanceTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void SecondStartActivatesFirstAndExits();
  void KeyDependsOnDisplay();
  void LeftoverSocketIsTakenOver();
};

void SingleInstanceTest::initTestCase() {
  // A display of this test's own, so that no console of the user's answers.
  qputenv("DISPLAY", ":console-test-" + QByteArray::number(QCoreApplication::applicationPid()));
  qunsetenv("WAYLAND_DISPLAY");
}

void SingleInstanceTest::SecondStartActivatesFirstAndExits() {
  TSingleInstance first(QStringLiteral("游戏管理工具"));
  QVERIFY(!first.ActivateExisting(200));
  QVERIFY(first.Listen());
  int activations = 0;
  connect(&first, &TSingleInstance::activationRequested, [&] { ++activations; });

  QProcess second;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  second.setProcessEnvironment(env);
  second.setWorkingDirectory(QDir::tempPath());
  QElapsedTimer clock;
  clock.start();
  second.start(QStringLiteral(DA_GMCONSOLE_PATH));
  QVERIFY(second.waitForStarted(5000));
  // The first instance answers from its event loop, so wait by running it.
  QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 5000);
  QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed()) + " ms"));
  QCOMPARE(second.exitStatus(), QProcess::NormalExit);
  QCOMPARE(second.exitCode(), 0);
  QTRY_COMPARE(activations, 1);
}

void SingleInstanceTest::KeyDependsOnDisplay() {
  const QString here = SingleInstanceKey(QStringLiteral("游戏管理工具"));
  qputenv("DISPLAY", ":other");
  const QString there = SingleInstanceKey(QStringLiteral("游戏管理工具"));
  initTestCase();
  QVERIFY(here != there);
  QCOMPARE(SingleInstanceKey(QStringLiteral("游戏管理工具")), here);
}

void SingleInstanceTest::LeftoverSocketIsTakenOver() {
  TSingleInstance first(QStringLiteral("left over"));
  const QString path = QDir(QDir::tempPath()).filePath(first.Key());
  QFile leftover(path);
  QVERIFY(leftover.open(QIODevice::WriteOnly));
  leftover.close();
  QVERIFY(!first.ActivateExisting(200));
  QVERIFY(first.Listen());
  TSingleInstance second(QStringLiteral("left over"));
  QVERIFY(second.ActivateExisting(1000));
}

QTEST_MAIN(SingleInstanceTest)
#include "SingleInstance_test.moc"
