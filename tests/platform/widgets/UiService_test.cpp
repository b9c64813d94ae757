// The dialog service: the recorder's script and defaults, the message box helpers' captions
// and icons, and the Qt service's boxes answered without blocking.
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "platform/widgets/UiRecorder.h"

class UiServiceTest : public QObject {
  Q_OBJECT

 private slots:
  void HelpersUseTheirCaptionAndIcon();
  void UnscriptedAnswersChangeNothing();
  void ScriptedAnswersAreUsedInOrder();
  void DialogScriptFillsAndAccepts();
  void ChoosersShellAndClock();
  void FilterPairsBecomeQtFilters_data();
  void FilterPairsBecomeQtFilters();
  void QtBoxAnswersWithItsButtons_data();
  void QtBoxAnswersWithItsButtons();
  void ShellOpenReportsTheOpenersExitCode_data();
  void ShellOpenReportsTheOpenersExitCode();
};

void UiServiceTest::HelpersUseTheirCaptionAndIcon() {
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  QVERIFY(dynamic_cast<TUiRecorder*>(&Ui()));
  ShowError(QStringLiteral("数据表：user,没有找到！"));
  ShowHint(QStringLiteral("删除记录成功！"));
  ShowWarning(QStringLiteral("所查询的帐号不存在！"));
  ShowMessageBox(QStringLiteral("帐号名已复制！"), CaptionHint, TMsgIcon::Warning);
  QCOMPARE(ui.Messages().size(), size_t(4));
  struct {
    QString caption;
    TMsgIcon icon;
  } expected[] = {{QStringLiteral("错误"), TMsgIcon::Error},
                  {QStringLiteral("提示"), TMsgIcon::Information},
                  {QStringLiteral("警告"), TMsgIcon::Warning},
                  {QStringLiteral("提示"), TMsgIcon::Warning}};
  for (size_t i = 0; i < 4; ++i) {
    const TMessageBoxArgs& args = ui.Messages()[i].Args;
    QCOMPARE(args.Caption, expected[i].caption);
    QCOMPARE(args.Icon, expected[i].icon);
    QCOMPARE(args.Buttons, TMsgButtons::Ok);
  }
  QCOMPARE(ui.Messages()[0].Args.Text, QStringLiteral("数据表：user,没有找到！"));
}

void UiServiceTest::UnscriptedAnswersChangeNothing() {
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  // The delete question has No as its default: an unscripted test never deletes.
  QVERIFY(!AskYesNo(QStringLiteral("删除是不可逆操作，确定要删除该记录吗？"), CaptionHint, true));
  QVERIFY(AskYesNo(QStringLiteral("是否复制？")));
  QVERIFY(AskOkCancel(QStringLiteral("继续？"), CaptionWarning, TMsgIcon::Warning));
  QDialog dialog;
  dialog.setWindowTitle(QStringLiteral("输入新密码"));
  QCOMPARE(Ui().ExecModal(dialog), int(QDialog::Rejected));
  QVERIFY(!Ui().OpenFileName({QStringLiteral("打开"), {}, {}, {}}).has_value());
  QCOMPARE(ui.Messages()[0].Answer, TMsgResult::No);
  QCOMPARE(ui.Messages()[0].Args.Icon, TMsgIcon::Question);
  QCOMPARE(ui.Dialogs(), QStringList{QStringLiteral("输入新密码")});
  QCOMPARE(ui.Choosers(), QStringList{QStringLiteral("打开")});
}

void UiServiceTest::ScriptedAnswersAreUsedInOrder() {
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  ui.Answer(TMsgResult::Yes);
  ui.Answer(TMsgResult::Cancel);
  QVERIFY(AskYesNo(QStringLiteral("a"), CaptionHint, true));
  QVERIFY(!AskOkCancel(QStringLiteral("b"), CaptionWarning, TMsgIcon::Warning));
  QCOMPARE(ui.PendingScript(), size_t(0));
  QVERIFY(!AskYesNo(QStringLiteral("c"), CaptionHint, true));  // script used up: the default again
}

void UiServiceTest::DialogScriptFillsAndAccepts() {
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  QDialog dialog;
  auto* edit = new QLineEdit(&dialog);
  ui.OnDialog([](QDialog& d) {
    d.findChild<QLineEdit*>()->setText(QStringLiteral("secret"));
    return int(QDialog::Accepted);
  });
  QCOMPARE(Ui().ExecModal(dialog), int(QDialog::Accepted));
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  QCOMPARE(edit->text(), QStringLiteral("secret"));
}

void UiServiceTest::ChoosersShellAndClock() {
  TUiRecorder ui;
  TUiServiceScope scope(ui);
  ui.Choose(QStringLiteral("/tmp/a.SQL"));
  ui.Choose(std::nullopt);
  ui.Choose(QStringLiteral("/srv/zone1"));
  QCOMPARE(Ui().SaveFileName({QStringLiteral("保存"), {}, QStringLiteral("A.SQL"), {}}).value(),
           QStringLiteral("/tmp/a.SQL"));
  QVERIFY(!Ui().OpenFileName({}).has_value());
  QCOMPARE(Ui().DirectoryName(QStringLiteral("选择游戏分区目录"), QStringLiteral(".")).value(),
           QStringLiteral("/srv/zone1"));
  ui.SetShellResult(false);
  QVERIFY(!Ui().ShellOpen(QStringLiteral("gamehelp.chm")));
  QCOMPARE(ui.ShellOpened(), QStringList{QStringLiteral("gamehelp.chm")});

  TDateTime saturday = EncodeDateTime(2024, 6, 1, 12, 30, 0, 0);
  ui.SetNow(saturday);
  QCOMPARE(Ui().Now(), saturday);

  int stops = 0;
  ui.OnProcessMessages([&] { ++stops; });
  Ui().ProcessMessages();
  Ui().ProcessMessages();
  QCOMPARE(ui.ProcessMessagesCalls(), 2);
  QCOMPARE(stops, 2);
}

void UiServiceTest::FilterPairsBecomeQtFilters_data() {
  QTest::addColumn<QString>("pairs");
  QTest::addColumn<QString>("filter");
  QTest::newRow("one") << QStringLiteral("*.csv|*.csv") << QStringLiteral("*.csv (*.csv)");
  QTest::newRow("backup") << QStringLiteral("SQL文件|*.SQL|BAK文件|*.BAK|TXT文件|*.TXT|所有文件|*.*")
                          << QStringLiteral(
                                 "SQL文件 (*.SQL);;BAK文件 (*.BAK);;TXT文件 (*.TXT);;所有文件 (*.*)");
  // A pattern that names no files shows every file, as its description says.
  QTest::newRow("no pattern") << QStringLiteral("TXT文件|*.TXT|所有文件|所有文件")
                              << QStringLiteral("TXT文件 (*.TXT);;所有文件 (*)");
  QTest::newRow("pattern list") << QStringLiteral("图片|*.jpg;*.jpeg")
                                << QStringLiteral("图片 (*.jpg *.jpeg)");
  QTest::newRow("odd tail ignored") << QStringLiteral("A|*.a|B") << QStringLiteral("A (*.a)");
  QTest::newRow("empty") << QString() << QString();
}

void UiServiceTest::FilterPairsBecomeQtFilters() {
  QFETCH(QString, pairs);
  QFETCH(QString, filter);
  QCOMPARE(QtFilterFromPairs(pairs), filter);
}

void UiServiceTest::QtBoxAnswersWithItsButtons_data() {
  QTest::addColumn<int>("buttons");
  QTest::addColumn<int>("defaultButton");
  QTest::addColumn<int>("key");
  QTest::addColumn<int>("answer");
  QTest::addColumn<QStringList>("captions");  // the buttons' texts, sorted
  const QStringList ok{QStringLiteral("确定")};
  const QStringList okCancel = QStringList{QStringLiteral("取消"), QStringLiteral("确定")};
  const QStringList yesNo = QStringList{QStringLiteral("否"), QStringLiteral("是")};
  auto row = [](const char* name, TMsgButtons b, TMsgResult d, Qt::Key key, TMsgResult a, QStringList c) {
    c.sort();
    QTest::newRow(name) << int(b) << int(d) << int(key) << int(a) << c;
  };
  row("ok by enter", TMsgButtons::Ok, TMsgResult::Ok, Qt::Key_Return, TMsgResult::Ok, ok);
  row("default no by enter", TMsgButtons::YesNo, TMsgResult::No, Qt::Key_Return, TMsgResult::No, yesNo);
  row("default yes by enter", TMsgButtons::YesNo, TMsgResult::Yes, Qt::Key_Return, TMsgResult::Yes, yesNo);
  row("yes/no escaped", TMsgButtons::YesNo, TMsgResult::Yes, Qt::Key_Escape, TMsgResult::No, yesNo);
  row("ok/cancel escaped", TMsgButtons::OkCancel, TMsgResult::Ok, Qt::Key_Escape, TMsgResult::Cancel,
      okCancel);
  row("default cancel by enter", TMsgButtons::OkCancel, TMsgResult::Cancel, Qt::Key_Return,
      TMsgResult::Cancel, okCancel);
}

void UiServiceTest::QtBoxAnswersWithItsButtons() {
  QFETCH(int, buttons);
  QFETCH(int, defaultButton);
  QFETCH(int, key);
  QFETCH(int, answer);
  TQtUiService service;
  QFETCH(QStringList, captions);
  bool onTop = false;
  QString shownText;
  QStringList shownCaptions;
  // The box is modal: a timer inside its loop looks at it and presses the key.
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    QVERIFY(box);
    onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    shownText = box->text();
    for (QAbstractButton* b : box->buttons()) shownCaptions << b->text();
    shownCaptions.sort();
    QTest::keyClick(box, Qt::Key(key));
  });
  TMsgResult result = service.MessageBox({QStringLiteral("第一行\r\n第二行"), CaptionHint, TMsgIcon::Question,
                                          TMsgButtons(buttons), TMsgResult(defaultButton)});
  QCOMPARE(int(result), answer);
  QVERIFY(onTop);
  QCOMPARE(shownText, QStringLiteral("第一行\n第二行"));
  QCOMPARE(shownCaptions, captions);
}

void UiServiceTest::ShellOpenReportsTheOpenersExitCode_data() {
  QTest::addColumn<QByteArray>("opener");  // the stand-in's script; empty: there is none
  QTest::addColumn<bool>("opened");
  QTest::newRow("opened") << QByteArray("exit 0") << true;
  QTest::newRow("no program for it") << QByteArray("exit 3") << false;
  QTest::newRow("no opener") << QByteArray() << false;
}

void UiServiceTest::ShellOpenReportsTheOpenersExitCode() {
  QFETCH(QByteArray, opener);
  QFETCH(bool, opened);
  QTemporaryDir dir;
  if (!opener.isEmpty()) {
    QFile script(dir.filePath(QStringLiteral("xdg-open")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n" + opener + "\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", dir.path().toLocal8Bit());
  TQtUiService service;
  const bool result = service.ShellOpen(QStringLiteral("GameHelp.CHM"));
  qputenv("PATH", path);
  QCOMPARE(result, opened);
}

QTEST_MAIN(UiServiceTest)
#include "UiService_test.moc"
