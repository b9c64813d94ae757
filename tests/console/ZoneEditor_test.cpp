// The zone editor over DB.ini: a zone added twice stays one section with the later values, names
// that would reach the single server's sections or could not come back as themselves are refused
// with the file untouched, only a listed zone is deleted, and the login's zone list follows.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>
#include <memory>

#include "ConsoleTestSupport.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "console/frame/Unit_addarea.h"
#include "console/frame/ZoneList.h"
#include "platform/widgets/UiRecorder.h"

namespace {

// 一区 and 二区 in GBK, as the file holds them.
const QByteArray kYiqu = "\xD2\xBB\xC7\xF8";
const QByteArray kErqu = "\xB6\xFE\xC7\xF8";

const QByteArray kIniWithZone = "; kept by the console\r\n" + kDefaultDbIni + "\r\n[" + kErqu +
                                "]\r\nareaname=" + kErqu + "\r\nareaaddr=10.0.0.2\r\n";

}  // namespace

class ZoneEditorTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void AddingAZoneTwiceKeepsOneSection();
  void RefusedNamesLeaveTheFile_data();
  void RefusedNamesLeaveTheFile();
  void DeletesOnlyAListedZone_data();
  void DeletesOnlyAListedZone();
  void LoginListsTheZonesAfterTheEditorCloses();
  void HintScrollsBackAtTheLeftEdge();

 private:
  QString IniPath() const { return FDir->filePath("DB.ini"); }
  QStringList Messages() const {
    QStringList texts;
    for (const auto& m : FUi->Messages()) texts << m.Args.Text;
    return texts;
  }

  std::unique_ptr<QTemporaryDir> FDir;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
};

void ZoneEditorTest::init() {
  FDir = std::make_unique<QTemporaryDir>();
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
  WriteAll(IniPath(), kIniWithZone);
}

void ZoneEditorTest::cleanup() {
  FScope.reset();
  FUi.reset();
  FDir.reset();
}

void ZoneEditorTest::AddingAZoneTwiceKeepsOneSection() {
  Taddarea editor(TDbIni(IniPath().toStdString()));
  editor.show();
  QCOMPARE(editor.cbb1->currentText(), QStringLiteral("二区"));
  editor.e7->setText(QStringLiteral("一区"));
  editor.btn2->Click();
  editor.e1->setText(QStringLiteral("10.0.0.1"));
  editor.edt1->setText(QStringLiteral("3307"));
  editor.cbb2->setCurrentIndex(2);
  editor.e6->setText(QStringLiteral("新密码"));
  editor.btn2->Click();
  editor.e7->setText(QStringLiteral("db"));
  editor.btn2->Click();
  QCOMPARE(Messages(),
           (QStringList{QStringLiteral("增加新的分区成功！"), QStringLiteral("增加新的分区成功！"),
                        QStringLiteral("分区名不能是DB或User！")}));
  // One section, updated key by key, after everything that was there; GBK bytes throughout.
  QCOMPARE(ReadAll(IniPath()),
           kIniWithZone + "[" + kYiqu + "]\r\nareaname=" + kYiqu +
               "\r\nareaaddr=10.0.0.1\r\nareaport=3307\r\nareacharset=2\r\nareaacc=account\r\n"
               "areachar=zqv\r\narealog=zqv_log\r\nareauid=root\r\nareapwd=\xD0\xC2\xC3\xDC\xC2\xEB\r\n");
  QCOMPARE(editor.cbb1->count(), 2);
  QCOMPARE(editor.cbb1->itemText(1), QStringLiteral("一区"));
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty()) {
    editor.lbl9->move(81, editor.lbl9->y());  // the hint at the left end of its run
    QVERIFY(editor.grab().save(QDir(shots).filePath("zone-editor.png")));
  }
}

void ZoneEditorTest::RefusedNamesLeaveTheFile_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("message");
  const QString reserved = QStringLiteral("分区名不能是DB或User！");
  const QString shape = QStringLiteral("分区名不能含有方括号或换行，不能以分号开头，前后不能有空格或引号！");
  QTest::newRow("db") << "db" << reserved;
  QTest::newRow("User") << "uSER" << reserved;
  QTest::newRow("bracket") << "a]b" << shape;
  QTest::newRow("opening bracket") << "[a" << shape;
  QTest::newRow("comment") << ";a" << shape;
  QTest::newRow("leading blank") << " a" << shape;
  QTest::newRow("trailing blank") << "a " << shape;
  QTest::newRow("line break") << "a\r\n[DB]" << shape;
  QTest::newRow("quoted") << "\"a\"" << shape;
  QTest::newRow("outside GBK") << QStringLiteral("区\U0001F600")
                               << QStringLiteral("分区名含有GBK编码以外的字符！");
}

void ZoneEditorTest::RefusedNamesLeaveTheFile() {
  QFETCH(QString, name);
  QFETCH(QString, message);
  Taddarea editor(TDbIni(IniPath().toStdString()));
  editor.e7->setText(name);
  editor.btn2->Click();
  QCOMPARE(Messages(), QStringList{message});
  QCOMPARE(ReadAll(IniPath()), kIniWithZone);
  // A line break in any value would start a line of its own; the message names the field.
  TDbSettings s = DefaultDbSettings();
  s.Pwd = "x\r\n[DB]\r\nServer=elsewhere";
  QCOMPARE(QString::fromStdString(AddZone(TDbIni(IniPath().toStdString()), "z", s).Message),
           QStringLiteral("用户密码不能含有换行！"));
  QCOMPARE(ReadAll(IniPath()), kIniWithZone);
}

void ZoneEditorTest::DeletesOnlyAListedZone_data() {
  QTest::addColumn<QByteArray>("file");
  QTest::addColumn<QString>("chosen");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QByteArray>("after");
  const QString choose = QStringLiteral("请选择您要删除的分区！");
  QTest::newRow("listed") << kIniWithZone << QStringLiteral("二区") << QStringLiteral("删除分区：二区成功！")
                          << "; kept by the console\r\n" + kDefaultDbIni + "\r\n";
  QTest::newRow("nothing chosen") << kDefaultDbIni << QString() << choose << kDefaultDbIni;
  QTest::newRow("unlisted section") << kIniWithZone << "User" << choose << kIniWithZone;
  const QByteArray dbNamed = kDefaultDbIni + "areaname=DB\r\n";
  QTest::newRow("main section named as a zone") << dbNamed << "DB" << choose << dbNamed;
}

void ZoneEditorTest::DeletesOnlyAListedZone() {
  QFETCH(QByteArray, file);
  QFETCH(QString, chosen);
  QFETCH(QString, message);
  QFETCH(QByteArray, after);
  WriteAll(IniPath(), file);
  Taddarea editor(TDbIni(IniPath().toStdString()));
  // The list offers only what the file lists; a name from elsewhere is looked up again.
  editor.cbb1->setEditable(true);
  editor.cbb1->setCurrentText(chosen);
  editor.btn1->Click();
  QCOMPARE(Messages(), QStringList{message});
  QCOMPARE(ReadAll(IniPath()), after);
}

void ZoneEditorTest::LoginListsTheZonesAfterTheEditorCloses() {
  TFormMain frame([](int) { return std::make_unique<TNoConnection>(); }, IniPath());
  Tlogin* login = frame.Login();
  login->SetZoneMode(true);
  QCOMPARE(login->cbb1->count(), 1);
  FUi->OnDialog([](QDialog& dialog) {
    auto& editor = dynamic_cast<Taddarea&>(dialog);
    editor.e7->setText(QStringLiteral("一区"));
    editor.e1->setText(QStringLiteral("10.0.0.1"));
    editor.btn2->Click();
    return int(QDialog::Rejected);
  });
  login->btn3->Click();
  QCOMPARE(FUi->Dialogs(), QStringList{QStringLiteral("增加新的分区")});
  QCOMPARE(login->cbb1->count(), 2);
  login->cbb1->setCurrentIndex(1);
  QCOMPARE(login->edt1->text(), QStringLiteral("10.0.0.1"));
}

void ZoneEditorTest::HintScrollsBackAtTheLeftEdge() {
  const struct { int left, next; } cases[] = {{225, 223}, {82, 80}, {81, 79}, {80, 225}, {-300, 225}};
  for (const auto& c : cases) QVERIFY2(NextHintLeft(c.left) == c.next, qPrintable(QString::number(c.left)));
}

QTEST_MAIN(ZoneEditorTest)
#include "ZoneEditor_test.moc"
