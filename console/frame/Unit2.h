// The frame window: an MDI area in which every tool window opens as a child, the menus, the
// status bar with its message panel and clock, help, and the login window that holds the
// shared connections. Tool windows are found through the MDI area, never through globals.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <vector>

#include "console/common/LoginSession.h"
#include "platform/runtime/DateTimeUtils.h"

class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QThread;
class TCustomDAConnection;
class Tlogin;
struct TGameLinks;
enum class TLinkedBrowser;

// The frame's opener of a browser linked from another (TGameLinks::Open): it knows every browser.
void OpenLinkedBrowser(TLinkedBrowser kind, const TGameLinks& links, QWidget* owner, int64_t accountId,
                       const QString& name);

class TFormMain : public QMainWindow {
  Q_OBJECT

 public:
  // Creates the frame with its login window (shown, the frame disabled until a login).
  // factory makes the login's connections; iniFileName names the settings file.
  explicit TFormMain(TLoginConnectionFactory factory, QString iniFileName = QStringLiteral("DB.ini"),
                     QWidget* parent = nullptr);
  ~TFormMain() override;

  // The login window of the latest login; re-login replaces it.
  Tlogin* Login() const noexcept { return FLogins.empty() ? nullptr : FLogins.back().get(); }
  QMdiArea* MdiArea() const noexcept { return FMdiArea; }

  // Restores the MDI child whose object name is name (exact) and makes it the active one; false
  // when none is open.
  bool FindChild(const QString& name);
  // The same for a tool working over the login's connections: one opened on an earlier login to
  // another zone is closed instead (false; a busy one that refuses stays and is restored).
  bool FindZoneChild(const QString& name);
  // After a login: every tool window working over an earlier login's connections to other
  // databases is closed; one that refuses (busy) names its zone in its caption until it closes.
  // The backup and zone-merge windows hold connections of their own and stay.
  void CloseToolsOfEarlierZones();
  // Table tests on the account, character and log connections: a missing table gives
  // "数据表：<name>,没有找到！" and false. HasCharTable asks without a message.
  bool CheckAccountTable(const QString& table);
  bool CheckCharTable(const QString& table);
  bool CheckLogTable(const QString& table);
  bool HasCharTable(const QString& table);

  // Status panel 0 (messages) and 1 (clock).
  void SetStatusText(const QString& text);
  QString StatusText() const;
  QString ClockPanelText() const;
  // "yyyy年mm月dd日 hh时nn分ss秒", two blanks, the weekday's name, one blank.
  static QString ClockText(TDateTime value);

  // The eight settings of the latest login, in the order server, port, character set,
  // account, character and log database, user, password.
  const QStringList& LoginSettings() const noexcept { return FLoginSettings; }
  void SetLoginSettings(QStringList settings) { FLoginSettings = std::move(settings); }

  // Menu commands.
  // 帐号管理: the account browser, once, after the table check.
  void OpenAccountBrowser();
  // 日志管理: the log browser, once, after the table check.
  void OpenLogBrowser();
  // 角色管理 and 仓库管理: the character and warehouse browsers, once each, after the table check.
  void OpenCharBrowser();
  void OpenBankBrowser();
  // 管理工会: the guild list, once.
  void OpenGuilds();
  // 发放物品: the item-issuing window, once, after the table check.
  void OpenItemSell();
  // 基本配置: the game-server ini viewer, once.
  void OpenIniViewer();
  // 高级配置: the SQL console, once.
  void OpenSqlConsole();
  void Relogin();
  void ShowHelp();
  void ShowRechargeHint();
  // 版本升级: the version window of the latest login, shown again.
  void ShowVersionWindow();
  // 备份/还原/压缩: the backup window, once.
  void OpenBackupWindow();
  // 全自动合区工具: the zone-merge window, once.
  void OpenMergeWindow();

  QString IniFileName() const { return FIniFileName; }
  // Where each login asks for the newest version; empty asks nobody (the check then fails).
  QString VersionAddress() const { return FVersionAddress; }
  void SetVersionAddress(QString address) { FVersionAddress = std::move(address); }

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  void BuildStatusBar();
  void CreateLogin();
  void TickClock();
  void ShowNotConnected();
  bool CheckTable(TCustomDAConnection* connection, const QString& table, bool quiet);
  // Shows a new tool window as an MDI child that frees itself when closed. onLogin: it works
  // over the latest login's connections (the backup and merge windows have their own).
  void AddChild(QWidget* tool, bool onLogin = true);
  // The child works over the latest login's connections, or over an earlier login's to the same
  // databases.
  bool OnCurrentZone(const QMdiSubWindow* child) const;
  // Restores an open tool window and makes it the active one.
  void Bring(QMdiSubWindow* child);
  // The latest login's connections for the browsers; false when one is missing.
  bool BrowserLinks(TGameLinks& links);

  TLoginConnectionFactory FFactory;
  QString FIniFileName;
  QMdiArea* FMdiArea = nullptr;
  QLabel* FStatusText = nullptr;
  QLabel* FClock = nullptr;
  std::unique_ptr<QThread> FClockThread;  // the clock's seconds
  // Every login window made, the latest last. Owned here rather than as Qt children: a child
  // window would be disabled with the frame it disables.
  std::vector<std::unique_ptr<Tlogin>> FLogins;
  QStringList FLoginSettings;
  QString FVersionAddress;
};
