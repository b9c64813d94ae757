#include "console/frame/Unit2.h"

#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <memory>

#include "components/DBAccess.h"
#include "components/MyAccessConnection.h"
#include "console/backup/Unit_bakdata.h"
#include "console/browsers/BrowserLinks.h"
#include "console/browsers/Unit_bankmanager.h"
#include "console/browsers/Unit_charmanager.h"
#include "console/browsers/Unit_logmanager.h"
#include "console/browsers/Unit_usermanager.h"
#include "console/common/DbIniSettings.h"
#include "console/common/MyLoginConnection.h"
#include "console/frame/Unit1.h"
#include "console/frame/Unit_updatever.h"
#include "console/guild/Unit_gonghui.h"
#include "console/items/Unit_itemsell.h"
#include "console/merge/Unit_zqv2to1.h"
#include "console/tools/Unit_set1.h"
#include "console/tools/Unit_set2.h"
#include "platform/runtime/Charset.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/JpegImage.h"
#include "platform/widgets/UiService.h"

// Resources of a static library are registered by hand.
static void RegisterArtwork() {
  Q_INIT_RESOURCE(console);
}

namespace {

QImage FrameArtwork() {
  RegisterArtwork();
  QFile file(QStringLiteral(":/console/art/frame.jpg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray data = file.readAll();
  return JpegToImage(std::string_view(data.constData(), static_cast<size_t>(data.size())));
}

// The help file's name as it lies in the folder, found without regard to case.
QString FindHelpFile() {
  const QStringList names = QDir::current().entryList(QDir::Files);
  for (const QString& name : names)
    if (name.compare(QStringLiteral("gamehelp.chm"), Qt::CaseInsensitive) == 0) return name;
  return {};
}

}  // namespace

TFormMain::TFormMain(TLoginConnectionFactory factory, QString iniFileName, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                              Qt::MSWindowsFixedSizeDialogHint),
      FFactory(std::move(factory)),
      FIniFileName(std::move(iniFileName)) {
  setWindowTitle(QStringLiteral("Quenmar GM管理工具"));
  FMdiArea = new QMdiArea(this);
  setCentralWidget(FMdiArea);
  BuildMenus();
  BuildStatusBar();
  // The client area (picture and status bar) is 890 x 563.
  FMdiArea->setFixedSize(890, 563 - statusBar()->sizeHint().height());
  const QImage art = FrameArtwork();
  if (!art.isNull())
    FMdiArea->setBackground(
        QBrush(art.scaled(FMdiArea->size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
  setFixedSize(sizeHint());
  if (QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
  CreateLogin();
}

TFormMain::~TFormMain() {
  FClockThread->quit();
  FClockThread->wait();
  // Tool windows read through the login's connections: they go before the logins do.
  qDeleteAll(FMdiArea->subWindowList());
}

void TFormMain::BuildMenus() {
  QMenu* config = menuBar()->addMenu(QStringLiteral("游戏配置"));
  ConnectGuarded(config->addAction(QStringLiteral("基本配置")), &QAction::triggered, this,
                 [this](bool) { OpenIniViewer(); });
  ConnectGuarded(config->addAction(QStringLiteral("高级配置")), &QAction::triggered, this,
                 [this](bool) { OpenSqlConsole(); });
  config->addSeparator();
  ConnectGuarded(config->addAction(QStringLiteral("重新登录")), &QAction::triggered, this,
                 [this](bool) { Relogin(); });
  ConnectGuarded(config->addAction(QStringLiteral("退出系统")), &QAction::triggered, this,
                 [this](bool) { close(); });
  QMenu* players = menuBar()->addMenu(QStringLiteral("玩家管理"));
  ConnectGuarded(players->addAction(QStringLiteral("帐号管理")), &QAction::triggered, this,
                 [this](bool) { OpenAccountBrowser(); });
  ConnectGuarded(players->addAction(QStringLiteral("角色管理")), &QAction::triggered, this,
                 [this](bool) { OpenCharBrowser(); });
  ConnectGuarded(players->addAction(QStringLiteral("仓库管理")), &QAction::triggered, this,
                 [this](bool) { OpenBankBrowser(); });
  players->addSeparator();
  ConnectGuarded(players->addAction(QStringLiteral("发放物品")), &QAction::triggered, this,
                 [this](bool) { OpenItemSell(); });
  ConnectGuarded(players->addAction(QStringLiteral("积分充值")), &QAction::triggered, this,
                 [this](bool) { ShowRechargeHint(); });
  QMenu* logs = menuBar()->addMenu(QStringLiteral("日志管理"));
  ConnectGuarded(logs->addAction(QStringLiteral("日志管理")), &QAction::triggered, this,
                 [this](bool) { OpenLogBrowser(); });
  QMenu* guilds = menuBar()->addMenu(QStringLiteral("工会管理"));
  ConnectGuarded(guilds->addAction(QStringLiteral("管理工会")), &QAction::triggered, this,
                 [this](bool) { OpenGuilds(); });
  QMenu* data = menuBar()->addMenu(QStringLiteral("数据管理"));
  ConnectGuarded(data->addAction(QStringLiteral("备份/还原/压缩")), &QAction::triggered, this,
                 [this](bool) { OpenBackupWindow(); });
  data->addSeparator();
  ConnectGuarded(data->addAction(QStringLiteral("全自动合区工具")), &QAction::triggered, this,
                 [this](bool) { OpenMergeWindow(); });
  QMenu* help = menuBar()->addMenu(QStringLiteral("帮助"));
  ConnectGuarded(help->addAction(QStringLiteral("帮助主题")), &QAction::triggered, this,
                 [this](bool) { ShowHelp(); });
  ConnectGuarded(help->addAction(QStringLiteral("版本升级")), &QAction::triggered, this,
                 [this](bool) { ShowVersionWindow(); });
}

void TFormMain::BuildStatusBar() {
  FStatusText = new QLabel(this);
  FStatusText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  FClock = new QLabel(this);
  FClock->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // 200 px, or what the clock needs in the font at hand; the message panel takes the rest.
  const QString widest = ClockText(EncodeDateTime(2000, 12, 28, 20, 58, 58, 0));
  FClock->setFixedWidth(std::max(200, FClock->fontMetrics().horizontalAdvance(widest) + 8));
  FStatusText->setMinimumWidth(400);
  statusBar()->addWidget(FStatusText, 1);
  statusBar()->addPermanentWidget(FClock);
  statusBar()->setSizeGripEnabled(false);
  // The seconds come from a thread of their own: the box shown while a statement waits for the
  // server keeps the application's timers still (their statements would run on the session that
  // waits) but lets posted calls through, and a timer of this thread would stop the clock.
  FClockThread = std::make_unique<QThread>();
  auto* seconds = new QTimer;
  seconds->setInterval(1000);
  seconds->moveToThread(FClockThread.get());
  connect(FClockThread.get(), &QThread::started, seconds, qOverload<>(&QTimer::start));
  connect(FClockThread.get(), &QThread::finished, seconds, &QObject::deleteLater);
  connect(
      seconds, &QTimer::timeout, this, [this] { Guarded([this] { TickClock(); }); }, Qt::QueuedConnection);
  FClockThread->start();
}

void TFormMain::CreateLogin() {
  FLogins.push_back(std::make_unique<Tlogin>(*this, FIniFileName, FFactory));
  Tlogin* login = FLogins.back().get();
  login->show();
  // The window manager keeps the login above its frame.
  if (login->windowHandle() && windowHandle()) login->windowHandle()->setTransientParent(windowHandle());
}

void TFormMain::Relogin() {
  CreateLogin();
}

QString TFormMain::ClockText(TDateTime value) {
  static const char* const kWeekdays[7] = {"星期日", "星期一", "星期二", "星期三",
                                           "星期四", "星期五", "星期六"};
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  DecodeDateTime(value, y, mo, d, h, mi, s, ms);
  const int weekday = DateTimeToTimeStamp(value).Date % 7;  // 0001-01-01 (day 1) was a Monday
  return QStringLiteral("%1年%2月%3日 %4时%5分%6秒  ")
             .arg(y, 4, 10, QLatin1Char('0'))
             .arg(mo, 2, 10, QLatin1Char('0'))
             .arg(d, 2, 10, QLatin1Char('0'))
             .arg(h, 2, 10, QLatin1Char('0'))
             .arg(mi, 2, 10, QLatin1Char('0'))
             .arg(s, 2, 10, QLatin1Char('0')) +
         QString::fromUtf8(kWeekdays[weekday]) + " ";
}

void TFormMain::TickClock() {
  FClock->setText(ClockText(Ui().Now()));
}

void TFormMain::SetStatusText(const QString& text) {
  FStatusText->setText(text);
}
QString TFormMain::StatusText() const {
  return FStatusText->text();
}
QString TFormMain::ClockPanelText() const {
  return FClock->text();
}

void TFormMain::ShowNotConnected() {
  if (!Login() || !Login()->LoginConnected()) SetStatusText(QStringLiteral("当前没有数据库连接..."));
}

void TFormMain::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) ShowNotConnected();
  QMainWindow::changeEvent(event);
}

void TFormMain::closeEvent(QCloseEvent* event) {
  // A tool window whose query runs refuses to close, and so does the frame around it.
  FMdiArea->closeAllSubWindows();
  if (!FMdiArea->subWindowList().isEmpty()) return event->ignore();
  // Every login window (re-login keeps the earlier ones) goes with the frame.
  for (const auto& login : FLogins) login->close();
  QMainWindow::closeEvent(event);
}

void TFormMain::Bring(QMdiSubWindow* child) {
  // Restored behind another window it would still not be seen: it becomes the active one.
  child->showNormal();
  FMdiArea->setActiveSubWindow(child);
}

bool TFormMain::FindChild(const QString& name) {
  for (QMdiSubWindow* child : FMdiArea->subWindowList()) {
    QWidget* tool = child->widget();
    if (child->objectName() != name && !(tool && tool->objectName() == name)) continue;
    Bring(child);
    return true;
  }
  return false;
}

namespace {

bool SameZone(const TDbSettings& a, const TDbSettings& b) {
  return a.Server == b.Server && a.Port == b.Port && a.AccDB == b.AccDB && a.CharDB == b.CharDB &&
         a.LogDB == b.LogDB && a.Uid == b.Uid && a.CharsetIndex == b.CharsetIndex;
}

const Tlogin* LoginOf(const QMdiSubWindow* child) {
  return static_cast<const Tlogin*>(child->property(kChildLoginProperty).value<void*>());
}

}  // namespace

bool TFormMain::OnCurrentZone(const QMdiSubWindow* child) const {
  const Tlogin* opened = LoginOf(child);
  return opened == Login() ||
         (opened != nullptr && Login() != nullptr && SameZone(opened->LoginState(), Login()->LoginState()));
}

bool TFormMain::FindZoneChild(const QString& name) {
  for (QMdiSubWindow* child : FMdiArea->subWindowList()) {
    QWidget* tool = child->widget();
    if (child->objectName() != name && !(tool && tool->objectName() == name)) continue;
    // After a login to another zone the window would still read and write the earlier zone
    // through the earlier login's connections.
    if (OnCurrentZone(child) || !child->close()) {
      Bring(child);
      return true;
    }
    return false;
  }
  return false;
}

void TFormMain::CloseToolsOfEarlierZones() {
  for (QMdiSubWindow* child : FMdiArea->subWindowList()) {
    if (!child->property(kChildLoginProperty).isValid()) continue;  // connections of its own
    const QString title = child->widget() ? child->widget()->windowTitle() : child->windowTitle();
    if (OnCurrentZone(child)) {
      child->setWindowTitle(title);
      continue;
    }
    // The status bar names the new zone now: a window still busy on the earlier one says which
    // zone it works on until it closes.
    const Tlogin* opened = LoginOf(child);
    if (!child->close()) {
      child->setProperty(kChildLeftBehindProperty, true);
      if (opened != nullptr)
        child->setWindowTitle(title + QStringLiteral("  [") + opened->ZoneText() + QStringLiteral("]"));
    }
  }
}

bool TFormMain::CheckTable(TCustomDAConnection* connection, const QString& table, bool quiet) {
  bool found = false;
  if (connection) {
    if (!RunShowingFailure(QStringLiteral("读取数据表列表失败，请检查网络连接！"),
                           [&] { found = HasTableNamed(*connection, table); }))
      return false;
  }
  if (!found && !quiet)
    ShowMessageBox(QStringLiteral("数据表：") + table + QStringLiteral(",没有找到！"), CaptionError,
                   TMsgIcon::Error);
  return found;
}

bool TFormMain::CheckAccountTable(const QString& table) {
  return CheckTable(Login() ? Login()->con1().Connection() : nullptr, table, false);
}
bool TFormMain::CheckCharTable(const QString& table) {
  return CheckTable(Login() ? Login()->con2().Connection() : nullptr, table, false);
}
bool TFormMain::CheckLogTable(const QString& table) {
  return CheckTable(Login() ? Login()->con3().Connection() : nullptr, table, false);
}
bool TFormMain::HasCharTable(const QString& table) {
  return CheckTable(Login() ? Login()->con2().Connection() : nullptr, table, true);
}

void TFormMain::AddChild(QWidget* tool, bool onLogin) {
  QMdiSubWindow* child = FMdiArea->addSubWindow(tool);
  child->setAttribute(Qt::WA_DeleteOnClose);
  if (onLogin) child->setProperty(kChildLoginProperty, QVariant::fromValue(static_cast<void*>(Login())));
  child->setWindowTitle(tool->windowTitle());
  // As tall as the tool needs (a browser's page of rows), within the area.
  const int height = std::max(FMdiArea->height() * 9 / 10, child->minimumSizeHint().height());
  child->setGeometry(0, 0, FMdiArea->width(), std::min(height, FMdiArea->height()));
  child->show();
}

void TFormMain::OpenAccountBrowser() {
  if (FindZoneChild(QStringLiteral("usermanager"))) return;
  if (!CheckAccountTable(QStringLiteral("user"))) return;
  TGameLinks links;
  if (!BrowserLinks(links)) return;
  auto* browser = new Tusermanager(*links.Acc, links.Charset);
  browser->SetLinks(links);
  AddChild(browser);
}

void OpenLinkedBrowser(TLinkedBrowser kind, const TGameLinks& links, QWidget* owner, int64_t accountId,
                       const QString& name) {
  switch (kind) {
    case TLinkedBrowser::Accounts: {
      auto* browser = new Tusermanager(*links.Acc, links.Charset);
      browser->SetLinks(links);
      ShowBesides(owner, browser);
      browser->SearchAccount(accountId, name);
      return;
    }
    case TLinkedBrowser::Characters: {
      auto* browser = new Tcharmanager(links);
      ShowBesides(owner, browser);
      browser->SearchAccount(accountId, name);
      return;
    }
    case TLinkedBrowser::Warehouse: {
      auto* browser = new Tbankmanager(links);
      ShowBesides(owner, browser);
      browser->SearchAccount(accountId, name);
      return;
    }
  }
}

bool TFormMain::BrowserLinks(TGameLinks& links) {
  if (Login() == nullptr) return false;
  links.Acc = dynamic_cast<TCustomMyConnection*>(Login()->con1().Connection());
  links.Chr = dynamic_cast<TCustomMyConnection*>(Login()->con2().Connection());
  links.Log = dynamic_cast<TCustomMyConnection*>(Login()->con3().Connection());
  links.AccDB = Login()->LoginState().AccDB;
  links.Charset = Login()->LoginCharset();
  links.Open = &OpenLinkedBrowser;
  return links.Acc && links.Chr && links.Log;
}

void TFormMain::OpenCharBrowser() {
  if (FindZoneChild(QStringLiteral("charmanager"))) return;
  if (!CheckCharTable(QStringLiteral("user"))) return;
  TGameLinks links;
  if (!BrowserLinks(links)) return;
  AddChild(new Tcharmanager(links));
}

void TFormMain::OpenBankBrowser() {
  if (FindZoneChild(QStringLiteral("bankmanager"))) return;
  if (!CheckCharTable(QStringLiteral("t_bank"))) return;
  TGameLinks links;
  if (!BrowserLinks(links)) return;
  AddChild(new Tbankmanager(links));
}

void TFormMain::OpenLogBrowser() {
  if (FindZoneChild(QStringLiteral("logmanager"))) return;
  if (!CheckLogTable(QStringLiteral("t_log_user_history"))) return;
  auto* logs = dynamic_cast<TCustomMyConnection*>(Login()->con3().Connection());
  auto* chars = dynamic_cast<TCustomMyConnection*>(Login()->con2().Connection());
  if (logs == nullptr || chars == nullptr) return;
  const QString charDb = QString::fromStdU16String(AnsiToWide(Login()->LoginState().CharDB));
  AddChild(new Tlogmanager(*logs, *chars, charDb, Login()->LoginCharset()));
}

void TFormMain::OpenBackupWindow() {
  if (FindChild(QStringLiteral("bakdata"))) return;
  // The window logs in with a connection of its own, prefilled from the latest login.
  const QStringList& s = FLoginSettings;
  TLoginInput input;
  if (s.size() >= 8) {
    input.Server = s[0];
    input.Port = s[1];
    input.Uid = s[6];
    input.Pwd = s[7];
    for (int i = 0; i < kCharsetCount; ++i)
      if (s[2] == QString::fromUtf8(CharsetItemText(i))) input.CharsetIndex = i;
  }
  auto* window = new Tbakdata(input);
  // The window's texts are about its own connection: when it closes, the status bar shows again
  // what its texts covered, unless something else has written there since.
  struct TCovered {
    QString Beneath, Shown;
    bool Any = false;
  };
  auto covered = std::make_shared<TCovered>();
  // The label is the context of both: the connections go with it, whichever of the label and the
  // window a closing frame frees first.
  QLabel* label = FStatusText;
  connect(window, &Tbakdata::StatusText, label, [label, covered](const QString& text) {
    if (!covered->Any || label->text() != covered->Shown) covered->Beneath = label->text();
    covered->Any = true;
    covered->Shown = text;
    label->setText(text);
  });
  connect(window, &QObject::destroyed, label, [label, covered] {
    if (covered->Any && label->text() == covered->Shown) label->setText(covered->Beneath);
  });
  AddChild(window, false);
}

void TFormMain::OpenMergeWindow() {
  if (FindChild(QStringLiteral("zqv2to1"))) return;
  // The window connects on its own; the latest login's settings only fill its edits on request.
  AddChild(new Tzqv2to1([this] { return Login() ? Login()->LoginState() : TDbSettings(); }), false);
}

void TFormMain::OpenGuilds() {
  if (FindZoneChild(QStringLiteral("gonghui")) || Login() == nullptr) return;
  auto* con2 = dynamic_cast<TCustomMyConnection*>(Login()->con2().Connection());
  if (con2 == nullptr) return;
  Tgonghui* list = nullptr;
  if (RunShowingFailure(kReadFailure, [&] { list = new Tgonghui(*con2, Login()->LoginCharset()); }))
    AddChild(list);
}

void TFormMain::OpenItemSell() {
  if (FindZoneChild(QStringLiteral("itemsell")) || Login() == nullptr) return;
  // Without the game's gift table every send would fail only after the names and items are typed.
  if (!CheckCharTable(QStringLiteral("t_gift"))) return;
  auto* con2 = dynamic_cast<TCustomMyConnection*>(Login()->con2().Connection());
  if (con2 == nullptr) return;
  AddChild(new Titemsell(*con2, Login()->LoginCharset()));
}

void TFormMain::OpenIniViewer() {
  if (FindZoneChild(QStringLiteral("sallset")) || Login() == nullptr) return;
  auto* con2 = dynamic_cast<TCustomMyConnection*>(Login()->con2().Connection());
  if (con2 == nullptr) return;
  AddChild(new Tsallset(*con2, Login()->LoginCharset()));
}

void TFormMain::OpenSqlConsole() {
  if (FindZoneChild(QStringLiteral("bigset")) || Login() == nullptr) return;
  auto* con1 = dynamic_cast<TMyConnection*>(Login()->con1().Connection());
  auto* con2 = dynamic_cast<TMyConnection*>(Login()->con2().Connection());
  auto* con3 = dynamic_cast<TMyConnection*>(Login()->con3().Connection());
  if (con1 == nullptr || con2 == nullptr || con3 == nullptr) return;
  // The console opens sessions of its own, like the login's: free SQL never moves the sessions the
  // other windows read and write through.
  std::unique_ptr<Tbigset> console;
  try {
    console = std::make_unique<Tbigset>(*con1, *con2, *con3, Login()->LoginCharset());
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    ShowMessageBox(FailureText(QStringLiteral("打开高级操作失败，请检查网络连接！"), e), CaptionError,
                   TMsgIcon::Error);
    return;
  }
  AddChild(console.release());
}

void TFormMain::ShowRechargeHint() {
  ShowMessageBox(QStringLiteral("直接在帐号管理里可以进行充值！"), CaptionHint, TMsgIcon::Information);
}

void TFormMain::ShowVersionWindow() {
  if (Tupdatever* window = Login() ? Login()->updatever() : nullptr) window->ShowRestored();
}

void TFormMain::ShowHelp() {
  const QString file = FindHelpFile();
  if (file.isEmpty()) {
    ShowMessage(QStringLiteral("没有找到帮助文件：GameHelp.CHM，请登录作者网站下载。"));
    return;
  }
  if (!Ui().ShellOpen(QDir::current().absoluteFilePath(file)))
    ShowMessage(QStringLiteral("启动出现异常，可能是帮助文件已被破坏！"));
}
