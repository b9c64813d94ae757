// The frame and login windows driven offscreen with scripted connections: the first start,
// the connect sequence's texts and state, the input checks, zone mode, the clock, finding open
// tool windows, help and re-login.
#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QtTest>
#include <memory>
#include <set>

#include "ConsoleTestSupport.h"
#include "console/backup/Unit_bakdata.h"
#include "console/controls/FlatBtns.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit2.h"
#include "console/frame/VersionCheck.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiRecorder.h"

namespace {

// Connections that open unless their database is named in Failing.
struct TScript {
  std::set<std::string> Failing;
  std::vector<TConnectTarget> Opened;
};

class TFakeConnection : public TLoginConnection {
 public:
  explicit TFakeConnection(std::shared_ptr<TScript> script) : FScript(std::move(script)) {}
  void Close() override { FOpen = false; }
  void Open(const TConnectTarget& target) override {
    if (FScript->Failing.count(target.Database))
      throw Exception("Unknown database '" + target.Database + "'");
    FScript->Opened.push_back(target);
    FOpen = true;
  }
  bool Connected() const override { return FOpen; }
  TCustomDAConnection* Connection() override { return nullptr; }

 private:
  std::shared_ptr<TScript> FScript;
  bool FOpen = false;
};

}  // namespace

class FormMainTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void FirstStartWritesDefaultsAndShowsThem();
  void IniThatCannotBeWrittenIsReported_data();
  void IniThatCannotBeWrittenIsReported();
  void LoginGivesStatusLineAndEnablesFrame();
  void LoginConnectsToTheDatabasesShown();
  void FailingLogDatabaseKeepsEarlierConnections();
  void CharsetChoiceReachesAllThreeConnections();
  void InputChecksStopBeforeSaving_data();
  void InputChecksStopBeforeSaving();
  void UntickedSaveResetsSectionDB();
  void ZoneModeWithoutZonesEmptiesEdits();
  void LongSettingsFromTheFileAreUsedWhole_data();
  void LongSettingsFromTheFileAreUsedWhole();
  void LoginLayoutsKeepPanelsApart_data();
  void LoginLayoutsKeepPanelsApart();
  void ClockNamesTheWeekday();
  void FindChildRestoresThroughMdiArea();
  void HelpFileMissingOrBroken();
  void ReloginMakesANewLoginWindow();
  void LoginPictureOpensTheMakersPage_data();
  void LoginPictureOpensTheMakersPage();
  void ClosingTheLoginEndsTheProgram_data();
  void ClosingTheLoginEndsTheProgram();
  void MenusListTheirItemsInOrder();
  void BackupWindowGivesBackTheStatusBar_data();
  void BackupWindowGivesBackTheStatusBar();

 private:
  std::unique_ptr<TFormMain> MakeFrame();
  QString IniPath() const { return FDir->filePath("DB.ini"); }

  std::unique_ptr<QTemporaryDir> FDir;
  std::unique_ptr<TUiRecorder> FUi;
  std::unique_ptr<TUiServiceScope> FScope;
  std::shared_ptr<TScript> FScript;
};

void FormMainTest::init() {
  FDir = std::make_unique<QTemporaryDir>();
  FUi = std::make_unique<TUiRecorder>();
  FScope = std::make_unique<TUiServiceScope>(*FUi);
  FScript = std::make_shared<TScript>();
}

void FormMainTest::cleanup() {
  FScope.reset();
  FUi.reset();
  FDir.reset();
}

std::unique_ptr<TFormMain> FormMainTest::MakeFrame() {
  auto script = FScript;
  return std::make_unique<TFormMain>([script](int) { return std::make_unique<TFakeConnection>(script); },
                                     IniPath());
}

void FormMainTest::FirstStartWritesDefaultsAndShowsThem() {
  auto frame = MakeFrame();
  QCOMPARE(ReadAll(IniPath()), kDefaultDbIni);
  Tlogin* login = frame->Login();
  QVERIFY(login);
  QVERIFY(!frame->isEnabled());
  QVERIFY(login->isEnabled());  // disabling the frame leaves its login window usable
  QCOMPARE(login->windowTitle(), QStringLiteral("连接到游戏数据库"));
  QCOMPARE(login->edt1->text(), QStringLiteral("localhost"));
  QCOMPARE(login->Edit1->text(), QStringLiteral("3306"));
  QCOMPARE(login->cbb2->currentText(), QStringLiteral("默认"));
  QCOMPARE(login->edt4->text(), QStringLiteral("account,zqv,zqv_log"));
  QCOMPARE(login->edt2->text(), QStringLiteral("root"));
  QVERIFY(login->chk1->isChecked());
  QVERIFY(!login->LoginConnected());
}

void FormMainTest::IniThatCannotBeWrittenIsReported_data() {
  QTest::addColumn<QString>("kind");
  QTest::newRow("folder missing") << "no_such_folder";
  // None of these is read: a FIFO would hold the start for ever, a device would be read without end.
  QTest::newRow("FIFO") << "fifo";
  QTest::newRow("folder") << "folder";
  QTest::newRow("link to a device") << "device";
  QTest::newRow("over 1 MiB") << "big";
}

void FormMainTest::IniThatCannotBeWrittenIsReported() {
  // Started where DB.ini cannot be created or read: the start goes on, says why and shows
  // empty settings.
  QFETCH(QString, kind);
  const QString path = FDir->filePath(kind == "no_such_folder" ? "no_such_folder/DB.ini" : "DB.ini");
  if (kind == "fifo") QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
  if (kind == "folder") QVERIFY(QDir(FDir->path()).mkdir("DB.ini"));
  if (kind == "device") QVERIFY(QFile::link("/dev/zero", path));
  if (kind == "big") WriteAll(path, kDefaultDbIni + QByteArray(1024 * 1024, ';'));
  auto script = FScript;
  std::unique_ptr<TFormMain> frame;
  QVERIFY(Guarded([&] {
    frame = std::make_unique<TFormMain>([script](int) { return std::make_unique<TFakeConnection>(script); },
                                        path);
  }));
  QVERIFY(frame->Login());
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Caption, CaptionError);
  QVERIFY2(FUi->Messages()[0].Args.Text.contains(path), qPrintable(FUi->Messages()[0].Args.Text));
  QVERIFY(frame->Login()->edt1->text().isEmpty());
  if (kind == "no_such_folder") QVERIFY(!QFile::exists(path));
}

void FormMainTest::LoginGivesStatusLineAndEnablesFrame() {
  auto frame = MakeFrame();
  Tlogin* login = frame->Login();
  login->show();
  QVERIFY(login->ConnectAll());
  QVERIFY(frame->isEnabled());
  QVERIFY(login->isHidden());
  QVERIFY(login->LoginConnected());
  QCOMPARE(login->lbl1->text(), QStringLiteral("所有数据库均可成功连接..."));
  QCOMPARE(frame->StatusText(),
           QStringLiteral("已登录： localhost ,数据库：account,zqv,zqv_log,用户：root  [单一服务器]"));
  QCOMPARE(frame->LoginSettings(), (QStringList{"localhost", "3306", QStringLiteral("默认"), "account", "zqv",
                                                "zqv_log", "root", "480317"}));
  QCOMPARE(FScript->Opened.size(), size_t(3));
  QCOMPARE(FScript->Opened[0].Database + FScript->Opened[1].Database + FScript->Opened[2].Database,
           std::string("accountzqvzqv_log"));
  QVERIFY(ReadAll(IniPath()).contains("saveini=-1\r\n"));
  QVERIFY(FUi->Messages().empty());
}

void FormMainTest::LoginConnectsToTheDatabasesShown() {
  auto frame = MakeFrame();
  Tlogin* login = frame->Login();
  login->show();
  // Reached by the keyboard, the combined names take no typing: what it shows is what is used.
  login->edt4->setFocus();
  QTest::keyClicks(login->edt4, "2");
  QVERIFY(!login->chk2->isChecked());
  const QString shown = login->edt4->text();
  QVERIFY(login->ConnectAll());
  QCOMPARE(QString::fromStdString(FScript->Opened[0].Database + "," + FScript->Opened[1].Database + "," +
                                  FScript->Opened[2].Database),
           shown);
}

void FormMainTest::FailingLogDatabaseKeepsEarlierConnections() {
  FScript->Failing = {"no_such_log"};
  auto frame = MakeFrame();
  Tlogin* login = frame->Login();
  login->edtdbname3->setText("no_such_log");
  QVERIFY(!login->ConnectAll());
  QCOMPARE(login->lbl1->text(), QStringLiteral("日志数据库连接失败，请检查配置!"));
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, QStringLiteral("日志连接数据库失败，请检查配置!"));
  QCOMPARE(FUi->Messages()[0].Args.Caption, CaptionError);
  QVERIFY(login->con1().Connected());
  QVERIFY(login->con2().Connected());
  QVERIFY(!login->con3().Connected());
  QVERIFY(!login->LoginConnected());
  QVERIFY(!frame->isEnabled());
  // The settings were kept before the attempt.
  QVERIFY(ReadAll(IniPath()).contains("DBlog=no_such_log\r\n"));
}

void FormMainTest::CharsetChoiceReachesAllThreeConnections() {
  auto frame = MakeFrame();
  Tlogin* login = frame->Login();
  login->cbb2->setCurrentIndex(2);
  QVERIFY(login->ConnectAll());
  for (const TConnectTarget& t : FScript->Opened) QCOMPARE(t.Charset, std::string("gbk"));
  QCOMPARE(login->LoginCharset(), QStringLiteral("gbk"));
  QVERIFY(ReadAll(IniPath()).contains("DBcharset=2\r\n"));
  FScript->Opened.clear();
  login->cbb2->setCurrentIndex(0);
  QVERIFY(login->ConnectAll());
  for (const TConnectTarget& t : FScript->Opened) QCOMPARE(t.Charset, std::string());
}

void FormMainTest::InputChecksStopBeforeSaving_data() {
  QTest::addColumn<QString>("edit");
  QTest::addColumn<QString>("value");
  QTest::addColumn<QString>("message");
  QTest::newRow("no user") << "edt2"
                           << "" << QStringLiteral("用户名或密码不能为空！");
  QTest::newRow("no password") << "edt3"
                               << "" << QStringLiteral("用户名或密码不能为空！");
  QTest::newRow("no server") << "edt1"
                             << "" << QStringLiteral("数据库地址或数据库名不能为空！");
  QTest::newRow("no character database") << "edtdbname2"
                                         << "" << QStringLiteral("数据库地址或数据库名不能为空！");
  QTest::newRow("no port") << "Edit1"
                           << "" << QStringLiteral("数据库的端口号或字符集不能为空！");
  QTest::newRow("port out of range") << "Edit1"
                                     << "70000" << QStringLiteral("数据库的端口号必须是1到65535之间的数字！");
  QTest::newRow("port not a number") << "Edit1"
                                     << "33a" << QStringLiteral("数据库的端口号必须是1到65535之间的数字！");
  // Saved and sent as "?" otherwise: the next start showed another password than the one typed.
  QTest::newRow("password the code page cannot hold")
      << "edt3" << QStringLiteral("pw\U0001F600")
      << QStringLiteral("密码含有当前字符集无法保存的字符 U+1F600，请修改后再试！");
  QTest::newRow("database the code page cannot hold")
      << "edtdbname2" << QStringLiteral("zqv\uD55C")
      << QStringLiteral("角色库含有当前字符集无法保存的字符 U+D55C，请修改后再试！");
  // It would end the line in DB.ini: the next start would read another password, and a key of its own.
  QTest::newRow("password with a line break")
      << "edt3" << QStringLiteral("pw\r\nServer=elsewhere") << QStringLiteral("密码不能含有换行！");
}

void FormMainTest::InputChecksStopBeforeSaving() {
  QFETCH(QString, edit);
  QFETCH(QString, value);
  QFETCH(QString, message);
  auto frame = MakeFrame();
  Tlogin* login = frame->Login();
  const QByteArray before = ReadAll(IniPath());
  QLineEdit* target = edit == "edt1"         ? login->edt1
                      : edit == "Edit1"      ? login->Edit1
                      : edit == "edt2"       ? login->edt2
                      : edit == "edt3"       ? login->edt3
                      : edit == "edtdbname2" ? login->edtdbname2
                                             : nullptr;
  QVERIFY(target);
  target->setText(value);
  QVERIFY(!login->ConnectAll());
  QCOMPARE(FUi->Messages().size(), size_t(1));
  QCOMPARE(FUi->Messages()[0].Args.Text, message);
  QCOMPARE(FUi->Messages()[0].Args.Icon, TMsgIcon::Error);
  QCOMPARE(ReadAll(IniPath()), before);
  QVERIFY(FScript->Opened.empty());
}

void FormMainTest::UntickedSaveResetsSectionDB() {
  auto frame = MakeFrame();
  Tlogin* login = frame->Login();
  login->edt1->setText("10.1.1.1");
  login->chk1->setChecked(false);
  QVERIFY(login->ConnectAll());
  const QByteArray text = ReadAll(IniPath());
  QVERIFY(text.contains("Server=localhost\r\n"));
  QVERIFY(text.contains("saveini=false\r\n"));
  QCOMPARE(FScript->Opened[0].Server, std::string("10.1.1.1"));
}

void FormMainTest::ZoneModeWithoutZonesEmptiesEdits() {
  auto frame = MakeFrame();
  Tlogin* login = frame->Login();
  login->SetZoneMode(true);
  QVERIFY(login->chk3->isChecked());
  QCOMPARE(login->edt4->text(), QStringLiteral(",,"));
  QVERIFY(login->edt1->text().isEmpty());
  QVERIFY(login->edt2->text().isEmpty());
  QCOMPARE(login->cbb2->currentIndex(), 0);
  QCOMPARE(login->height(), 380);
  login->SetZoneMode(false);
  QCOMPARE(login->edt1->text(), QStringLiteral("localhost"));
  QCOMPARE(login->height(), 340);
}

void FormMainTest::LongSettingsFromTheFileAreUsedWhole_data() {
  QTest::addColumn<bool>("zone");
  QTest::newRow("single server") << false;
  QTest::newRow("zone") << true;
}

void FormMainTest::LongSettingsFromTheFileAreUsedWhole() {
  QFETCH(bool, zone);
  // Longer than a person may type into the login, as the zone editor and the file take them.
  const std::string server = "db-zone03.game-hosting.example";
  const std::string password = "p'w\\0123456789abcdefghij";
  const std::string account = "account_zone03_merged";
  const QByteArray section = zone ? "\xB6\xFE\xC7\xF8" : "DB";  // 二区 in GBK
  QByteArray ini = kDefaultDbIni;
  if (zone)
    ini += "[" + section + "]\r\nareaname=" + section + "\r\nareaaddr=" + server.c_str() +
           "\r\nareaport=3306\r\nareacharset=2\r\nareaacc=" + account.c_str() +
           "\r\nareachar=zqv\r\narealog=zqv_log\r\nareauid=root\r\nareapwd=" + password.c_str() + "\r\n";
  else
    ini.replace("Server=localhost", ("Server=" + server).c_str())
        .replace("Pwd=480317", ("Pwd=" + password).c_str())
        .replace("DBacc=account", ("DBacc=" + account).c_str());
  WriteAll(IniPath(), ini);
  auto frame = MakeFrame();
  Tlogin* login = frame->Login();
  if (zone) login->SetZoneMode(true);
  QVERIFY(login->ConnectAll());
  QCOMPARE(FScript->Opened.size(), size_t(3));
  QCOMPARE(FScript->Opened[0].Server, server);
  QCOMPARE(FScript->Opened[0].Pwd, password);
  QCOMPARE(FScript->Opened[0].Database, account);
  // What the login saved is what the file held.
  if (!zone) QCOMPARE(ReadAll(IniPath()), QByteArray(ini).replace("saveini=True", "saveini=-1"));
  // Typing stays limited.
  login->edt2->clear();
  QTest::keyClicks(login->edt2, QString(30, 'x'));
  QCOMPARE(login->edt2->text().size(), 20);
}

void FormMainTest::LoginLayoutsKeepPanelsApart_data() {
  QTest::addColumn<bool>("zone");
  QTest::addColumn<bool>("detailed");
  QTest::addColumn<int>("height");
  QTest::newRow("single server") << false << false << 340;
  QTest::newRow("single server, detailed") << false << true << 435;
  QTest::newRow("zones") << true << false << 380;
  QTest::newRow("zones, detailed") << true << true << 475;
}

void FormMainTest::LoginLayoutsKeepPanelsApart() {
  QFETCH(bool, zone);
  QFETCH(bool, detailed);
  QFETCH(int, height);
  auto frame = MakeFrame();
  Tlogin* login = frame->Login();
  login->show();
  // Either order of the two switches ends in the same layout.
  for (const bool zoneFirst : {true, false}) {
    login->chk2->setChecked(false);
    login->SetZoneMode(false);
    if (zoneFirst) login->SetZoneMode(zone);
    login->chk2->setChecked(detailed);
    if (!zoneFirst) login->SetZoneMode(zone);
    QCOMPARE(login->height(), height);
    QWidget* panels[] = {login->p4, login->p3, login->p2, login->p1};
    QCOMPARE(login->p4->isVisible(), zone);
    QCOMPARE(login->p2->isVisible(), detailed);
    for (QWidget* panel : panels) {
      if (!panel->isVisible()) continue;
      QVERIFY(login->rect().contains(panel->geometry()));
      QVERIFY(panel->rect().contains(panel->childrenRect()));
      for (QWidget* other : panels)
        if (other != panel && other->isVisible()) QVERIFY(!panel->geometry().intersects(other->geometry()));
    }
  }
  QVERIFY(login->btn3->isEnabled());  // it opens the zone editor
  if (const QString shots = qEnvironmentVariable("DA_SCREENSHOT_DIR"); !shots.isEmpty())
    QVERIFY(login->grab().save(QDir(shots).filePath(
        QStringLiteral("login-%1%2.png").arg(zone ? "zones" : "single", detailed ? "-detailed" : ""))));
}

void FormMainTest::ClockNamesTheWeekday() {
  struct {
    int day;
    const char* text;
  } cases[] = {
      {5, "2026年12月05日 09时08分07秒  星期六 "},
      {6, "2026年12月06日 09时08分07秒  星期日 "},
      {7, "2026年12月07日 09时08分07秒  星期一 "},
  };
  for (const auto& c : cases)
    QCOMPARE(TFormMain::ClockText(EncodeDateTime(2026, 12, c.day, 9, 8, 7, 0)), QString::fromUtf8(c.text));
  auto frame = MakeFrame();
  FUi->SetNow(EncodeDateTime(2026, 12, 5, 9, 8, 7, 0));
  QTRY_COMPARE_WITH_TIMEOUT(frame->ClockPanelText(), QString::fromUtf8(cases[0].text), 3000);
}

void FormMainTest::FindChildRestoresThroughMdiArea() {
  auto frame = MakeFrame();
  auto* tool = new QWidget;
  tool->setObjectName("usermanager");
  QMdiSubWindow* child = frame->MdiArea()->addSubWindow(tool);
  frame->show();
  child->showMinimized();
  QVERIFY(child->isMinimized());
  QVERIFY(frame->FindChild("usermanager"));
  QVERIFY(!child->isMinimized());
  QVERIFY(!frame->FindChild("UserManager"));  // exact names only
  QVERIFY(!frame->FindChild("charmanager"));
  // Open behind another window, it comes to the front as the active one (in the frame a login
  // has enabled).
  frame->setEnabled(true);
  auto* other = new QWidget;
  other->setObjectName("logmanager");
  QMdiSubWindow* front = frame->MdiArea()->addSubWindow(other);
  front->show();
  frame->MdiArea()->setActiveSubWindow(front);
  QCOMPARE(frame->MdiArea()->currentSubWindow(), front);
  QVERIFY(frame->FindChild("usermanager"));
  // The current one, which is active as soon as the frame is.
  QCOMPARE(frame->MdiArea()->currentSubWindow(), child);
}

void FormMainTest::HelpFileMissingOrBroken() {
  auto frame = MakeFrame();
  const QString before = QDir::currentPath();
  QDir::setCurrent(FDir->path());
  frame->ShowHelp();
  WriteAll(FDir->filePath("GameHelp.CHM"), "help");
  FUi->SetShellResult(false);
  frame->ShowHelp();
  FUi->SetShellResult(true);
  frame->ShowHelp();
  QDir::setCurrent(before);
  QCOMPARE(FUi->Messages().size(), size_t(2));
  QCOMPARE(FUi->Messages()[0].Args.Text,
           QStringLiteral("没有找到帮助文件：GameHelp.CHM，请登录作者网站下载。"));
  QCOMPARE(FUi->Messages()[1].Args.Text, QStringLiteral("启动出现异常，可能是帮助文件已被破坏！"));
  QCOMPARE(FUi->ShellOpened().size(), 2);
  QVERIFY(FUi->ShellOpened()[1].endsWith("GameHelp.CHM"));
}

void FormMainTest::LoginPictureOpensTheMakersPage_data() {
  QTest::addColumn<bool>("started");
  QTest::newRow("shell opens it") << true;
  QTest::newRow("shell cannot") << false;
}

// The picture shows a hand cursor; a click on it did nothing.
void FormMainTest::LoginPictureOpensTheMakersPage() {
  QFETCH(bool, started);
  FUi->SetShellResult(started);
  auto frame = MakeFrame();
  Tlogin* login = frame->Login();
  login->show();
  QTest::mouseClick(login->img1, Qt::LeftButton);
  QCOMPARE(FUi->ShellOpened(), QStringList{QString::fromLatin1(kDownloadPage)});
  QCOMPARE(FUi->Messages().size(), size_t(started ? 0 : 1));
  if (!started) QVERIFY(FUi->Messages()[0].Args.Text.endsWith(QString::fromLatin1(kDownloadPage)));
}

void FormMainTest::ReloginMakesANewLoginWindow() {
  auto frame = MakeFrame();
  QPointer<Tlogin> first = frame->Login();
  QVERIFY(first->ConnectAll());
  frame->Relogin();
  QVERIFY(frame->Login() != first);
  QVERIFY(first);  // the earlier one and its connections stay
  QVERIFY(first->con1().Connected());
  QVERIFY(!frame->isEnabled());
  frame->ShowRechargeHint();
  QCOMPARE(FUi->Messages().back().Args.Text, QStringLiteral("直接在帐号管理里可以进行充值！"));
  QCOMPARE(FUi->Messages().back().Args.Caption, CaptionHint);
}

void FormMainTest::ClosingTheLoginEndsTheProgram_data() {
  QTest::addColumn<bool>("relogin");
  QTest::newRow("first login") << false;
  QTest::newRow("re-login") << true;
}

// Closed by the window manager (Alt+F4) instead of "取消": the frame it disabled went on
// without it, disabled for good.
void FormMainTest::ClosingTheLoginEndsTheProgram() {
  QFETCH(bool, relogin);
  auto frame = MakeFrame();
  frame->show();
  if (relogin) {
    QVERIFY(frame->Login()->ConnectAll());
    frame->Relogin();
  }
  Tlogin* login = frame->Login();
  login->show();
  QVERIFY(!frame->isEnabled());
  QVERIFY(login->close());
  QCoreApplication::processEvents();
  QVERIFY(!frame->isVisible());
  QVERIFY(FUi->Messages().empty());
}

// Each menu's items as the game master finds them, "-" for a separator.
void FormMainTest::MenusListTheirItemsInOrder() {
  auto frame = MakeFrame();
  QStringList menus;
  for (QAction* top : frame->menuBar()->actions()) {
    QStringList items;
    for (QAction* item : top->menu()->actions())
      items << (item->isSeparator() ? QStringLiteral("-") : item->text());
    menus << top->text() + ": " + items.join(QLatin1Char(' '));
  }
  QCOMPARE(menus, QStringList({QStringLiteral("游戏配置: 基本配置 高级配置 - 重新登录 退出系统"),
                               QStringLiteral("玩家管理: 帐号管理 角色管理 仓库管理 - 发放物品 积分充值"),
                               QStringLiteral("日志管理: 日志管理"), QStringLiteral("工会管理: 管理工会"),
                               QStringLiteral("数据管理: 备份/还原/压缩 - 全自动合区工具"),
                               QStringLiteral("帮助: 帮助主题 版本升级")}));
}

// The backup window's texts speak of its own connection: closed, it leaves the status bar to what
// its texts covered, unless another text was written there meanwhile.
void FormMainTest::BackupWindowGivesBackTheStatusBar_data() {
  QTest::addColumn<bool>("writtenMeanwhile");
  QTest::newRow("left alone") << false;
  QTest::newRow("written meanwhile") << true;
}

void FormMainTest::BackupWindowGivesBackTheStatusBar() {
  QFETCH(bool, writtenMeanwhile);
  auto frame = MakeFrame();
  QVERIFY(frame->Login()->ConnectAll());
  const QString login = frame->StatusText();
  frame->OpenBackupWindow();
  auto* window = frame->findChild<Tbakdata*>();
  QVERIFY(window);
  emit window->StatusText(QStringLiteral("已连接：localhost,可以进行操作"));
  emit window->StatusText(QStringLiteral("已连接：localhost,可以进行数据库的备份操作"));
  QCOMPARE(frame->StatusText(), QStringLiteral("已连接：localhost,可以进行数据库的备份操作"));
  if (writtenMeanwhile) frame->SetStatusText(QStringLiteral("当前没有数据库连接..."));
  QVERIFY(window->parentWidget()->close());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QVERIFY(!frame->findChild<Tbakdata*>());
  QCOMPARE(frame->StatusText(), writtenMeanwhile ? QStringLiteral("当前没有数据库连接...") : login);
}

QTEST_MAIN(FormMainTest)
#include "FormMain_test.moc"
