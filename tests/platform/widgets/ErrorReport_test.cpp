// The error report: what it shows for each kind of exception, and that a failing handler, slot
// or event leaves one box behind and the application running.
#include "platform/widgets/ErrorReport.h"

#include <QPushButton>
#include <QtTest>

#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/UiRecorder.h"

namespace {

// Raises from its event handler, as an unguarded handler with a database error would.
class ThrowingObject : public QObject {
 protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw EDatabaseError("\r\nTable 'zqv.user' doesn't exist");
    return QObject::event(e);
  }
};

}  // namespace

class ErrorReportTest : public QObject {
  Q_OBJECT

 private slots:
  void TextOfEachException_data();
  void TextOfEachException();
  void AbortIsSilent();
  void ThrowingSlotLeavesTheButtonWorking();
  void ThrowingEventHandlerIsCaughtAtDelivery();
  void ErrorWhileABoxIsUpShowsNoSecondBox();
};

void ErrorReportTest::TextOfEachException_data() {
  QTest::addColumn<QByteArray>("message");
  QTest::addColumn<QString>("shown");
  QTest::newRow("plain") << QByteArray("Dataset not in edit or insert mode")
                         << QStringLiteral("Dataset not in edit or insert mode");
  QTest::newRow("server message") << QByteArray("\r\nDuplicate entry 'a' for key 'PRIMARY'")
                                  << QStringLiteral("Duplicate entry 'a' for key 'PRIMARY'");
  QTest::newRow("inner breaks kept") << QByteArray("Lost connection\r\nduring query")
                                     << QStringLiteral("Lost connection\r\nduring query");
  // ANSI text in the process code page (GBK): 角色 = BD C7 C9 AB.
  QTest::newRow("gbk") << QByteArray("\xBD\xC7\xC9\xAB") << QStringLiteral("角色");
}

void ErrorReportTest::TextOfEachException() {
  QFETCH(QByteArray, message);
  QFETCH(QString, shown);
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  Guarded([&] { throw EDatabaseError(message.toStdString()); });
  QCOMPARE(ui.Messages().size(), size_t(1));
  QCOMPARE(ui.Messages()[0].Args.Caption, QStringLiteral("错误"));
  QCOMPARE(ui.Messages()[0].Args.Icon, TMsgIcon::Error);
  QCOMPARE(ui.Messages()[0].Args.Text, shown);
}

void ErrorReportTest::AbortIsSilent() {
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  QVERIFY(!Guarded([] { throw EAbort("stopped"); }));
  QVERIFY(!Guarded([] { throw std::runtime_error("std"); }));
  QVERIFY(!Guarded([] { throw 42; }));
  ReportException(std::make_exception_ptr(EAbort()));
  QCOMPARE(ui.Messages().size(), size_t(2));
  QCOMPARE(ui.Messages()[0].Args.Text, QStringLiteral("std"));
  QVERIFY(!ui.Messages()[1].Args.Text.isEmpty());
}

void ErrorReportTest::ThrowingSlotLeavesTheButtonWorking() {
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  QPushButton button;
  button.show();
  int clicks = 0;
  ConnectGuarded(&button, &QPushButton::clicked, &button, [&](bool) {
    if (++clicks == 1) throw EDatabaseError("first click fails");
  });
  QTest::mouseClick(&button, Qt::LeftButton);
  QTest::mouseClick(&button, Qt::LeftButton);
  QCOMPARE(clicks, 2);
  QCOMPARE(ui.Messages().size(), size_t(1));
  QCOMPARE(ui.Messages()[0].Args.Text, QStringLiteral("first click fails"));
}

void ErrorReportTest::ThrowingEventHandlerIsCaughtAtDelivery() {
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  ThrowingObject target;
  QEvent sent(QEvent::User);
  QCoreApplication::sendEvent(&target, &sent);
  // Posted: delivered from the event loop itself, which goes on afterwards.
  QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
  bool after = false;
  QTimer::singleShot(0, [&] { after = true; });
  QTRY_VERIFY(after);
  QCOMPARE(ui.Messages().size(), size_t(2));
  QCOMPARE(ui.Messages()[0].Args.Text, QStringLiteral("Table 'zqv.user' doesn't exist"));
}

namespace {

// A box whose own message loop delivers another failing handler, as a timer would.
class ReentrantRecorder : public TUiRecorder {
 public:
  TMsgResult MessageBox(const TMessageBoxArgs& args) override {
    Guarded([] { throw EDatabaseError("refresh failed again"); });
    return TUiRecorder::MessageBox(args);
  }
};

}  // namespace

void ErrorReportTest::ErrorWhileABoxIsUpShowsNoSecondBox() {
  ReentrantRecorder ui;
  TUiServiceScope scope(ui);
  Guarded([] { throw EDatabaseError("refresh failed"); });
  QCOMPARE(ui.Messages().size(), size_t(1));
  QCOMPARE(ui.Messages()[0].Args.Text, QStringLiteral("refresh failed"));
  Guarded([] { throw EDatabaseError("later"); });  // the next report shows again
  QCOMPARE(ui.Messages().size(), size_t(2));
}

int main(int argc, char** argv) {
  TGuardedApplication app(argc, argv);
  SetAnsiCodePage(936);
  ErrorReportTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "ErrorReport_test.moc"
