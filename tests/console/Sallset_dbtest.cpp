// The game-server ini viewer over a zone folder and the fixture zone's schedule: the world
// server file found whatever the case of its names and however the folder is typed, read as
// GBK, and never written.
#include <QDir>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "ConsoleTestSupport.h"
#include "GameZone.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/common/MyLoginConnection.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "console/tools/GameServerIni.h"
#include "console/tools/Unit_set1.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/DBGridModel.h"
#include "platform/widgets/UiRecorder.h"

namespace {

// 服务器名 is 青云 in GBK; section and key names in another case than the viewer asks for.
const QByteArray kServerIni =
    "[GAME]\r\nDisplayName=\xc7\xe0\xd4\xc6\r\nMAXUSER=3000\r\nmaxRegionUser=500\r\nlistType=1\r\n"
    "allow=127.0.0.1\r\n[ListenClient]\r\nListenIP=0.0.0.0\r\nListenPort=7200\r\n"
    "[connectDatabase]\r\ndatabase=zqv\r\npassword=secret\r\n[connectLogin]\r\nConnectPort=6000\r\n";

}  // namespace

class SallsetDbTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void LoadsTheWorldServerFile_data();
  void LoadsTheWorldServerFile();
  void SaveWritesNothing();
  void ScheduleAndMenu();
  void KeysShowWholeInTheFrame();
  void ScheduleEditLandsOnTheRowEdited_data();
  void ScheduleEditLandsOnTheRowEdited();

 private:
  std::unique_ptr<Tsallset> Viewer() {
    return std::make_unique<Tsallset>(FLogin->MyConnection(), QStringLiteral("默认"));
  }
  QString Value(Tsallset& v, const char* key) {
    for (size_t i = 0; i < ServerIniKeys().size(); ++i)
      if (qstrcmp(ServerIniKeys()[i].Key, key) == 0) return v.Edits()[i]->text();
    return QStringLiteral("<no such key>");
  }

  QMap<QString, QString> FInfo;
  std::unique_ptr<TGameZone> FZone;
  std::unique_ptr<TMyLoginConnection> FLogin;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
  QTemporaryDir FDir;
};

void SallsetDbTest::initTestCase() {
  FInfo = ServerInfo();
  FZone = std::make_unique<TGameZone>(FInfo, QStringLiteral("ss_%1").arg(QCoreApplication::applicationPid()));
  QVERIFY(FZone->Load());
  FLogin = OpenLogin(FInfo, FZone->Chr().toStdString());
  // zone: the game's own spelling; loginonly: a login folder and nothing else.
  QVERIFY(QDir(FDir.path()).mkpath("zone/World"));
  QVERIFY(QDir(FDir.path()).mkpath("zone/Login"));
  WriteAll(FDir.filePath("zone/World/GameWorld_Server.ini"), kServerIni);
  // The same name saved by Windows editors as UTF-8 with its mark and as UTF-16.
  QVERIFY(QDir(FDir.path()).mkpath("utf8/world"));
  WriteAll(FDir.filePath("utf8/world/gameworld_server.ini"),
           "\xEF\xBB\xBF[game]\r\nDisplayName=" + QStringLiteral("青云").toUtf8() + "\r\n");
  QVERIFY(QDir(FDir.path()).mkpath("utf16/world"));
  const QString utf16 = QStringLiteral("\uFEFF[game]\r\nDisplayName=青云\r\n");
  WriteAll(FDir.filePath("utf16/world/gameworld_server.ini"),
           QByteArray(reinterpret_cast<const char*>(utf16.utf16()), utf16.size() * 2));
  QVERIFY(QDir(FDir.path()).mkpath("loginonly/login"));
  QVERIFY(QDir(FDir.path()).mkpath("empty"));
}

void SallsetDbTest::init() {
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
}

void SallsetDbTest::cleanup() {
  FScope.reset();
  FUi.reset();
}

void SallsetDbTest::LoadsTheWorldServerFile_data() {
  QTest::addColumn<QString>("typed");  // below the test's folder; "" types nothing at all
  QTest::addColumn<QString>("name");   // DisplayName's edit afterwards
  QTest::addColumn<QString>("message");
  QTest::newRow("closing separator") << "zone/" << QStringLiteral("青云") << QString();
  QTest::newRow("no closing separator") << "zone" << QStringLiteral("青云") << QString();
  QTest::newRow("backslashes") << "zone\\" << QStringLiteral("青云") << QString();
  QTest::newRow("UTF-8 with its mark") << "utf8" << QStringLiteral("青云") << QString();
  QTest::newRow("UTF-16") << "utf16" << QStringLiteral("青云") << QString();
  QTest::newRow("login folder only") << "loginonly" << QString() << QString();
  QTest::newRow("no game folders") << "empty" << QStringLiteral("old")
                                   << QStringLiteral("没有找到Login或World目录，请核对路径是否正确！");
  QTest::newRow("nothing typed") << "" << QStringLiteral("old") << QStringLiteral("分区路径不能为空！");
}

void SallsetDbTest::LoadsTheWorldServerFile() {
  QFETCH(QString, typed);
  auto v = Viewer();
  for (QLineEdit* e : v->Edits()) e->setText(QStringLiteral("old"));
  v->edt1->setText(typed.isEmpty() ? QString() : QDir::toNativeSeparators(FDir.path()) + "/" + typed);
  v->LoadSettings();
  QTEST(Value(*v, "DisplayName"), "name");
  QFETCH(QString, message);
  QCOMPARE(FUi->Messages().size(), size_t(message.isEmpty() ? 0 : 1));
  if (!message.isEmpty()) QCOMPARE(FUi->Messages()[0].Args.Text, message);
  if (QTest::currentDataTag() == QByteArray("closing separator")) {
    QCOMPARE(Value(*v, "maxUser"), QStringLiteral("3000"));
    QCOMPARE(Value(*v, "password"), QStringLiteral("secret"));  // connectDatabase's, read first
    QCOMPARE(Value(*v, "ConnectPort"), QString());              // connectDatabase has none
    QCOMPARE(v->Edits().back()->text(), QStringLiteral("6000"));
    QCOMPARE(v->Edits().size(), size_t(36));
  }
}

void SallsetDbTest::SaveWritesNothing() {
  const QString file = FDir.filePath("zone/World/GameWorld_Server.ini");
  const QDateTime modified = QFileInfo(file).lastModified();
  auto v = Viewer();
  v->edt1->setText(FDir.filePath("zone/"));
  v->LoadSettings();
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty()) {
    v->resize(900, 620);
    QVERIFY(v->grab().save(QDir(shots).filePath("ini-viewer.png")));
  }
  v->Edits()[0]->setText(QStringLiteral("改过"));
  v->SaveSettings();
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("请到游戏目录下修改此文件！"));
  QCOMPARE(FUi->Messages()[0].Args.Caption, QStringLiteral("警告"));
  QCOMPARE(ReadAll(file), kServerIni);
  QCOMPARE(QFileInfo(file).lastModified(), modified);
}

void SallsetDbTest::ScheduleAndMenu() {
  auto v = Viewer();
  QCOMPARE(v->qry1().RecordCount(), 3);
  QCOMPARE(v->StatusText(), QStringLiteral("注意：设置内容大部份需要在服务器上运行。"));
  // Without the schedule table the window is not made, and its half-made controls go cleanly.
  TMyLoginConnection account("");
  account.Open({FInfo["HOST"].toStdString(),
                FInfo["PORT"].toInt(),
                FInfo["NATIVE_USER"].toStdString(),
                FInfo["NATIVE_PASSWORD"].toStdString(),
                FZone->Acc().toStdString(),
                {}});
  QVERIFY_THROWS_EXCEPTION(std::exception, Tsallset(account.MyConnection(), QStringLiteral("默认")));
  QTemporaryDir dir;
  FZone->WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenIniViewer();
  frame.OpenIniViewer();
  QCOMPARE(frame.MdiArea()->subWindowList().size(), 1);
  QCOMPARE(frame.MdiArea()->subWindowList()[0]->widget()->objectName(), QStringLiteral("sallset"));
}

// In three columns the sections needed more height than the frame gives: the edits of the two
// database sections were squeezed to lines and their labels ran into each other.
void SallsetDbTest::KeysShowWholeInTheFrame() {
  QTemporaryDir dir;
  FZone->WriteIni(dir.filePath("DB.ini"));
  TFormMain frame(&MakeMyLoginConnection, dir.filePath("DB.ini"));
  frame.show();
  QVERIFY(QTest::qWaitForWindowExposed(&frame));
  QVERIFY(frame.Login()->ConnectAll());
  frame.OpenIniViewer();
  QMdiSubWindow* child = frame.MdiArea()->subWindowList().value(0);
  QVERIFY(child != nullptr);
  auto* v = qobject_cast<Tsallset*>(child->widget());
  QVERIFY(v != nullptr);
  QCoreApplication::processEvents();
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty())
    QVERIFY(frame.grab().save(QDir(shots).filePath("ini-viewer-in-frame.png")));
  for (QLineEdit* edit : v->Edits()) {
    // Whole within the window and within what its scrolling part shows without scrolling.
    QWidget* viewport = edit->parentWidget();
    while (viewport != v && viewport->objectName() != QLatin1String("qt_scrollarea_viewport"))
      viewport = viewport->parentWidget();
    const QRect shown = QRect(edit->mapTo(v, QPoint(0, 0)), edit->size());
    const QRect inView = QRect(edit->mapTo(viewport, QPoint(0, 0)), edit->size());
    QVERIFY2(edit->height() >= edit->minimumSizeHint().height() && v->rect().contains(shown) &&
                 viewport->rect().contains(inView),
             qPrintable(QStringLiteral("%1: %2x%3 at %4,%5 in %6x%7")
                            .arg(edit->objectName())
                            .arg(edit->width())
                            .arg(edit->height())
                            .arg(shown.x())
                            .arg(shown.y())
                            .arg(v->width())
                            .arg(v->height())));
  }
}

void SallsetDbTest::ScheduleEditLandsOnTheRowEdited_data() {
  QTest::addColumn<QString>("field");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<QString>("row");  // the edited row as the server then holds it
  QTest::newRow("week day") << "WeekDay"
                            << "5"
                            << "3|2|5|30:00:00|-01:00:00";
  QTest::newRow("start past a day") << "StartTime"
                                    << "26:30:00"
                                    << "3|2|3|26:30:00|-01:00:00";
}

void SallsetDbTest::ScheduleEditLandsOnTheRowEdited() {
  QFETCH(QString, field);
  QFETCH(QString, typed);
  TAdminSession admin(FInfo);
  const std::string table = "`" + FZone->Chr().toStdString() + "`.t_castlewar_time_set";
  // A war past midnight keeps its hours beyond a day; another row shares every other value.
  admin.Exec("UPDATE " + table + " SET StartTime='30:00:00', EndTime='-01:00:00' WHERE ID=3");
  admin.Exec("INSERT INTO " + table +
             " (ID,CastleID,WeekDay,StartTime,EndTime) VALUES (4,2,3,'21:00:00','22:00:00')");
  auto rows = [&](const std::string& where) {
    return admin.Value(
        "SELECT GROUP_CONCAT(ID,'|',CastleID,'|',WeekDay,'|',StartTime,'|',EndTime ORDER BY ID) FROM " +
        table + " WHERE " + where);
  };
  const std::string before = rows("ID<>3");
  auto v = Viewer();
  TDBGridModel& model = v->dbgrd1->GridModel();
  int column = 0;
  while (column < model.columnCount() && model.ColumnField(column)->FieldName() != field.toStdString())
    ++column;
  QVERIFY(column < model.columnCount());
  QVERIFY(v->qry1().Locate("ID", Variant(3), {}));
  const int row = v->qry1().RecNo() - 1;
  QVERIFY(model.setData(model.index(row, column), typed, Qt::EditRole));
  if (v->qry1().State() == dsEdit) v->qry1().Post();
  QVERIFY(FUi->Messages().empty());
  QTEST(QString::fromStdString(rows("ID=3")), "row");
  QCOMPARE(rows("ID<>3"), before);
  admin.Exec("DELETE FROM " + table + " WHERE ID=4");
  admin.Exec("UPDATE " + table + " SET WeekDay=3, StartTime='21:00:00', EndTime='22:00:00' WHERE ID=3");
}

QTEST_MAIN(SallsetDbTest)
#include "Sallset_dbtest.moc"
