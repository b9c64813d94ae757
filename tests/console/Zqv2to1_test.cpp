// The zone-merge window offscreen without a server: the keys its tag and compensation edits
// take, the options that enable each other, filling a side from the login, a port that is no
// number, the event log file kept whole in GBK, and the saved operation log.
#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QtTest>
#include <memory>

#include "ConsoleTestSupport.h"
#include "components/MyAccessConnection.h"
#include "console/controls/FlatBtns.h"
#include "console/merge/Unit_zqv2to1.h"
#include "platform/runtime/Charset.h"
#include "platform/widgets/FieldText.h"
#include "platform/widgets/UiRecorder.h"

class Zqv2to1Test : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void TypedKeys_data();
  void TypedKeys();
  void OptionsEnableEachOther();
  void FillFromLogin();
  void PortThatIsNoNumberChangesNothing();
  void EventLogFileHoldsTheMemoInGbk();
  void OperationLogIsSaved();
  void FailuresShowChineseTextReadably();

 private:
  QStringList Texts() const {
    QStringList texts;
    for (const auto& m : FUi->Messages()) texts << m.Args.Text;
    return texts;
  }
  QStringList Log() const { return FWindow->mmo1->toPlainText().split('\n'); }
  static QByteArray Gbk(const QString& text) {
    return QByteArray::fromStdString(EncodeFieldText(text, TFieldCharset::Gbk));
  }

  std::unique_ptr<QTemporaryDir> FDir;
  QString FOldDir;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
  std::unique_ptr<Tzqv2to1> FWindow;
  TDbSettings FLogin;
};

void Zqv2to1Test::init() {
  FDir = std::make_unique<QTemporaryDir>();
  FOldDir = QDir::currentPath();
  QDir::setCurrent(FDir->path());
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
  FUi->SetNow(EncodeDateTime(2026, 3, 4, 5, 6, 7, 0));
  FLogin = {"10.1.2.3", "3307", 0, "acc_a", "chr_a", "log_a", "gm", "pw", true};
  FWindow = std::make_unique<Tzqv2to1>([this] { return FLogin; });
  FWindow->setAttribute(Qt::WA_DeleteOnClose, false);
  FWindow->show();
}

void Zqv2to1Test::cleanup() {
  FWindow.reset();
  FScope.reset();
  FUi.reset();
  QDir::setCurrent(FOldDir);
  FDir.reset();
}

void Zqv2to1Test::TypedKeys_data() {
  QTest::addColumn<int>("edit");  // 1 account tag, 2 character tag, 4 compensation
  QTest::addColumn<QString>("before");
  QTest::addColumn<int>("caret");
  QTest::addColumn<QString>("typed");  // "\b" for backspace, "\x7f" for delete
  QTest::addColumn<QString>("after");
  QTest::addColumn<QString>("box");
  const QString letterFirst = QStringLiteral("必须以字母开头！");
  QTest::newRow("account tag digit inside") << 1 << "us" << 2 << "2"
                                            << "us2" << QString();
  QTest::newRow("account tag upper case") << 1 << "us" << 2 << "X"
                                          << "us" << QStringLiteral("只能输入小写字母或数字！");
  QTest::newRow("account tag digit first") << 1 << "us" << 0 << "9"
                                           << "us" << letterFirst;
  QTest::newRow("backspace") << 1 << "us2" << 3 << "\b"
                             << "us" << QString();
  QTest::newRow("character tag upper case") << 2 << "CH" << 2 << "X"
                                            << "CHX" << QString();
  QTest::newRow("character tag digit first") << 2 << "" << 0 << "5"
                                             << "" << letterFirst;
  QTest::newRow("character tag GBK") << 2 << "CH" << 2 << "青"
                                     << "CH" << QStringLiteral("只能输入字母或数字！");
  QTest::newRow("compensation 0 inside") << 4 << "5" << 1 << "0"
                                         << "50" << QString();
  QTest::newRow("compensation 0 first") << 4 << "" << 0 << "0"
                                        << "" << QStringLiteral("第一个数字不能为0！");
  QTest::newRow("compensation letter") << 4 << "5" << 1 << "k"
                                       << "5" << QStringLiteral("只能输入0-9的数字！");
  // The Delete key's event carries the character 0x7F: it deletes, it types nothing.
  QTest::newRow("delete key") << 1 << "us2" << 0 << "\x7f"
                              << "s2" << QString();
  QTest::newRow("delete key, compensation") << 4 << "50" << 1 << "\x7f"
                                            << "5" << QString();
  QTest::newRow("ctrl+c") << 2 << "CH2" << 3 << "\x03"
                          << "CH2" << QString();
}

void Zqv2to1Test::TypedKeys() {
  QFETCH(int, edit);
  QFETCH(QString, before);
  QFETCH(int, caret);
  QFETCH(QString, typed);
  QLineEdit* e = edit == 1 ? FWindow->edt1 : edit == 2 ? FWindow->edt2 : FWindow->edt4;
  e->setText(before);
  e->setCursorPosition(caret);
  const int key = typed == "\b"     ? int(Qt::Key_Backspace)
                  : typed == "\x7f" ? int(Qt::Key_Delete)
                                    : int(typed.front().toUpper().unicode());
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, typed);
  QCoreApplication::sendEvent(e, &press);
  QTEST(e->text(), "after");
  QFETCH(QString, box);
  QCOMPARE(Texts(), box.isEmpty() ? QStringList() : QStringList({box}));
  if (!box.isEmpty()) QCOMPARE(FUi->Messages().front().Args.Caption, QStringLiteral("提示"));
}

void Zqv2to1Test::OptionsEnableEachOther() {
  FWindow->chk7->click();
  FWindow->chk6->click();
  QVERIFY(!FWindow->chk7->isChecked());
  QVERIFY(!FWindow->chk7->isEnabled());
  FWindow->chk6->click();
  QVERIFY(FWindow->chk7->isEnabled());
  QVERIFY(!FWindow->chk7->isChecked());
  FWindow->chk10->click();
  // The log databases: turning either box off enables both edits, on disables both.
  FWindow->chk3->click();
  QVERIFY(!FWindow->chk4->isChecked());
  QVERIFY(FWindow->edt_log1->isEnabled() && FWindow->edt_log2->isEnabled());
  FWindow->chk4->click();
  QVERIFY(FWindow->chk3->isChecked());
  QVERIFY(!FWindow->edt_log1->isEnabled() && !FWindow->edt_log2->isEnabled());
  QCOMPARE(Log().mid(1).replaceInStrings(QRegularExpression("  时间：.*"), ""),
           QStringList({QStringLiteral("操作:仓库是否合并：是."), QStringLiteral("操作:帐号是否合并：否."),
                        QStringLiteral("操作:帐号是否合并：是."),
                        QStringLiteral("操作:已删除角色是否丢弃：否.")}));
}

void Zqv2to1Test::FillFromLogin() {
  FLogin.AccDB = WideToAnsi(u"帐号库");
  auto texts = [](std::initializer_list<QLineEdit*> edits) {
    QStringList t;
    for (QLineEdit* e : edits) t << e->text();
    return t;
  };
  Tzqv2to1& w = *FWindow;
  w.chk2->click();
  QCOMPARE(texts({w.edt_srv2, w.edt_port2, w.edt_acc2, w.edt_char2, w.edt_log2, w.edt_uid2, w.edt_pwd2}),
           QStringList({"10.1.2.3", "3307", "2account", "2zqv", "2zqv_log", "gm", "pw"}));
  w.chk1->click();
  QCOMPARE(texts({w.edt_srv1, w.edt_port1, w.edt_acc1, w.edt_char1, w.edt_log1, w.edt_uid1, w.edt_pwd1}),
           QStringList({"10.1.2.3", "3307", QStringLiteral("帐号库"), "chr_a", "log_a", "gm", "pw"}));
  // Switching the box off leaves the edits as they are.
  w.edt_srv1->setText("other");
  w.chk1->click();
  QCOMPARE(w.edt_srv1->text(), QStringLiteral("other"));
  QCOMPARE(Log().mid(1).replaceInStrings(QRegularExpression("  时间：.*"), ""),
           QStringList({QStringLiteral("操作:转入分区使用当前连接字串填充。"),
                        QStringLiteral("操作:转出分区使用当前连接字串填充。")}));
}

void Zqv2to1Test::PortThatIsNoNumberChangesNothing() {
  FWindow->edt_port1->setText("33o6");
  FWindow->btn1->Click();
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages().front().Args.Caption, QStringLiteral("错误"));
  QVERIFY2(Texts().front().contains("33o6"), qPrintable(Texts().front()));
  QCOMPARE(FWindow->lbl1->text(), QStringLiteral("* 没有连接转出分区"));
  QCOMPARE(FWindow->btn1->Caption(), QStringLiteral("开始连接"));
  QVERIFY(FWindow->edt_srv1->isEnabled());
  QVERIFY(FWindow->Settings(0).Server.isEmpty());
  QVERIFY(!FWindow->con(1).Connected());
  QCOMPARE(Log().size(), 1);
}

void Zqv2to1Test::EventLogFileHoldsTheMemoInGbk() {
  const QString file = QDir::current().filePath(QStringLiteral("zqv2to1_log.txt"));
  auto lines = [](const QStringList& events) {
    QString text;
    for (const QString& e : events) text += QStringLiteral("事件:") + e + "\r\n";
    return Gbk(text);
  };
  const QString clash = QStringLiteral("角色：白露 发生重复,新角色为：CH2白露 成功合并！");
  FWindow->WriteEvent(clash);
  QCOMPARE(ReadAll(file), lines({clash}));
  FWindow->WriteEvent("two");
  QCOMPARE(ReadAll(file), lines({clash, "two"}));
  // A file changed behind the window's back is written whole again.
  WriteAll(file, "someone else");
  FWindow->WriteEvent("three");
  QCOMPARE(ReadAll(file), lines({clash, "two", "three"}));
  // Lines added while saving is off reach the file with the next saved line.
  FWindow->chk13->setChecked(false);
  FWindow->WriteEvent("four");
  QCOMPARE(ReadAll(file), lines({clash, "two", "three"}));
  FWindow->chk13->setChecked(true);
  FWindow->WriteEvent("five");
  QCOMPARE(ReadAll(file), lines({clash, "two", "three", "four", "five"}));
  QCOMPARE(FWindow->mmo2->toPlainText().count('\n'), 4);
}

void Zqv2to1Test::OperationLogIsSaved() {
  QCOMPARE(ProposedMergeLogName(EncodeDateTime(2026, 3, 4, 15, 6, 7, 0)),
           QStringLiteral("ZQV2To1260304150607.txt"));
  FWindow->WriteOperation(QStringLiteral("合区开始..."));
  const QString file = FDir->filePath("saved.txt");
  FUi->Choose(file);
  FWindow->btn4->Click();
  QCOMPARE(
      ReadAll(file),
      Gbk(QStringLiteral("操作:合区程序启动！合区之前请关闭游戏直至合区结束，同时备份转出转入数据库！"
                         "  时间：2026-03-04 05:06:07\r\n操作:合区开始...  时间：2026-03-04 05:06:07\r\n")));
}

// The texts went into the error box as UTF-8 bytes, which it reads in the desktop's code page.
void Zqv2to1Test::FailuresShowChineseTextReadably() {
  FWindow->edt_port1->setText(QStringLiteral("三三零六"));
  FWindow->btn1->Click();
  const QString missing = FDir->filePath(QStringLiteral("无此目录/日志.txt"));
  FUi->Choose(missing);
  FWindow->btn4->Click();
  QCOMPARE(Texts().size(), 2);
  QVERIFY2(Texts()[0].contains(QStringLiteral("'三三零六'")), qPrintable(Texts()[0]));
  QVERIFY2(Texts()[1].contains(missing), qPrintable(Texts()[1]));
}

QTEST_MAIN(Zqv2to1Test)
#include "Zqv2to1_test.moc"
