// The library's message loop over Qt's: timers fire on the event loop, stop when disarmed (also
// from inside their own proc), survive a failing proc, and the busy cursor nests.
#include "platform/widgets/QtMessageLoop.h"

#include <QApplication>
#include <QtTest>
#include <thread>

#include "platform/runtime/Exceptions.h"
#include "platform/widgets/UiRecorder.h"
#include "platform/widgets/WaitCursor.h"

class QtMessageLoopTest : public QObject {
  Q_OBJECT

 private slots:
  void TimerFiresUntilDisarmed();
  void ProcDisarmsItsOwnTimer();
  void FailingProcIsReportedAndTimerGoesOn();
  void LoopDestroyedWithArmedTimers();
  void WaitCursorNests();
};

void QtMessageLoopTest::TimerFiresUntilDisarmed() {
  TQtMessageLoopInstaller installer;
  TMessageLoop* loop = GetMessageLoop();
  QCOMPARE(loop, static_cast<TMessageLoop*>(&installer.Loop()));
  int fired = 0;
  TMessageLoop::TTimerId id = loop->ArmTimer(5, [&] { ++fired; });
  QVERIFY(id != 0);
  QTRY_VERIFY_WITH_TIMEOUT(fired >= 3, 5000);
  loop->DisarmTimer(id);
  int atDisarm = fired;
  QTest::qWait(50);
  QCOMPARE(fired, atDisarm);
  QCOMPARE(installer.Loop().ArmedCount(), size_t(0));
  loop->DisarmTimer(id);  // twice, and an id never given: nothing happens
  loop->DisarmTimer(0);
}

void QtMessageLoopTest::ProcDisarmsItsOwnTimer() {
  TQtMessageLoop loop;
  int fired = 0;
  // The proc owns state that disarming drops: a shared count shows when the loop lets it go.
  auto owned = std::make_shared<int>(0);
  TMessageLoop::TTimerId id = 0;
  id = loop.ArmTimer(5, [&, owned] {
    ++fired;
    loop.DisarmTimer(id);
  });
  QTRY_COMPARE_WITH_TIMEOUT(fired, 1, 5000);
  QTest::qWait(50);
  QCOMPARE(fired, 1);
  QCOMPARE(owned.use_count(), 1L);
}

void QtMessageLoopTest::FailingProcIsReportedAndTimerGoesOn() {
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  TQtMessageLoop loop;
  int fired = 0;
  TMessageLoop::TTimerId id = loop.ArmTimer(5, [&] {
    if (++fired == 1) throw EDatabaseError("refresh failed");
  });
  QTRY_VERIFY_WITH_TIMEOUT(fired >= 2, 5000);
  loop.DisarmTimer(id);
  QCOMPARE(ui.Messages().size(), size_t(1));
  QCOMPARE(ui.Messages()[0].Args.Text, QStringLiteral("refresh failed"));
}

void QtMessageLoopTest::LoopDestroyedWithArmedTimers() {
  int fired = 0;
  {
    TQtMessageLoop loop;
    loop.ArmTimer(1, [&] { ++fired; });
    loop.ArmTimer(1000, [&] { ++fired; });
  }
  QTest::qWait(20);
  QCOMPARE(fired, 0);
}

void QtMessageLoopTest::WaitCursorNests() {
  QVERIFY(!QApplication::overrideCursor());
  WaitCursorStart();
  WaitCursorStart();
  QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  WaitCursorStop();
  QVERIFY(QApplication::overrideCursor());
  WaitCursorStop();
  QVERIFY(!QApplication::overrideCursor());
  WaitCursorStop();  // unmatched: nothing to restore
  QCOMPARE(WaitCursorDepth(), 0);
  // The library may start a wait from a worker thread: the GUI cursor is left alone there.
  std::thread worker([] { WaitCursorStart(); });
  worker.join();
  QCOMPARE(WaitCursorDepth(), 0);
  QVERIFY(!QApplication::overrideCursor());
}

QTEST_MAIN(QtMessageLoopTest)
#include "QtMessageLoop_test.moc"
