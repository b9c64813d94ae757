// The login window: the connection settings from and to DB.ini, the single-server and zone
// modes, and the connect sequence that opens the three shared connections. After a login it is
// hidden, not freed: it holds the login state the tool windows read.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "console/common/DbIniSettings.h"
#include "console/common/LoginSession.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class TFlatButton;
class TFormMain;
class Tupdatever;

class Tlogin : public QWidget, private TLoginSink {
  Q_OBJECT

 public:
  // A window of frame's (which it disables while shown; frame owns it), reading iniFileName.
  Tlogin(TFormMain& frame, QString iniFileName, const TLoginConnectionFactory& factory);
  ~Tlogin() override;

  // ---- login state ----
  bool LoginConnected() const noexcept { return FSession.Connected(); }
  const TDbSettings& LoginState() const noexcept { return FState; }
  // The character-set item's text, as chosen at the login.
  QString LoginCharset() const;
  // The zone of the login, as a caption names it: the zone's name in zone mode, else the server,
  // port and databases. Empty before a login.
  const QString& ZoneText() const noexcept { return FZoneText; }
  TLoginConnection& con1() { return FSession.Con(0); }
  TLoginConnection& con2() { return FSession.Con(1); }
  TLoginConnection& con3() { return FSession.Con(2); }

  // ---- controls the tests drive ----
  QLineEdit* edt1 = nullptr;   // server
  QLineEdit* Edit1 = nullptr;  // port
  QComboBox* cbb2 = nullptr;   // character set
  QLineEdit* edt4 = nullptr;   // the three database names
  QCheckBox* chk2 = nullptr;   // 详细配置
  QLineEdit* edtdbname1 = nullptr;
  QLineEdit* edtdbname2 = nullptr;
  QLineEdit* edtdbname3 = nullptr;
  QLineEdit* edt2 = nullptr;    // user
  QLineEdit* edt3 = nullptr;    // password
  QCheckBox* chk1 = nullptr;    // 保存配置
  QCheckBox* chk3 = nullptr;    // 多区服模式
  QLabel* lbl1 = nullptr;       // status
  TFlatButton* btn2 = nullptr;  // 确  定
  TFlatButton* btn1 = nullptr;  // 取  消
  QComboBox* cbb1 = nullptr;    // zone
  TFlatButton* btn3 = nullptr;  // 配置分区 (disabled: the zone editor is not there yet)
  QWidget* p1 = nullptr;        // account, switches, status and buttons
  QWidget* p2 = nullptr;        // the three database names (详细配置)
  QWidget* p3 = nullptr;        // server, port, character set
  QWidget* p4 = nullptr;        // zone choice (多区服模式)
  QLabel* img1 = nullptr;       // the title picture; a click opens the maker's page

  // The connect sequence of 确  定; true when all three connections are open.
  bool ConnectAll();
  // Zone mode on or off, as ticking 多区服模式 does.
  void SetZoneMode(bool on);
  // 配置分区: the zone editor, modal; its changes reach the zone list when it closes.
  void EditZones();
  // The version window of this window's login; null before a login.
  Tupdatever* updatever() const;

 protected:
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  // Settings as DB.ini gives them (UTF-8).
  void ShowSettings(const TDbSettings& s);
  // The edits' texts through convert (to ANSI for the login, to UTF-8 for DB.ini).
  TDbSettings TypedSettings(std::string (*convert)(const QString&)) const;
  void SetDetailed(bool on);
  // Stacks the shown panels from the top and sizes the window to them.
  void Relayout();
  void LoadZone();
  void FinishLogin();
  void StartVersionCheck();
  void Status(const std::string& text) override;
  void Error(const std::string& text) override;
  void ProcessMessages() override;

  TFormMain& FFrame;
  TDbIni FIni;
  TLoginSession FSession;
  TDbSettings FState;
  QLabel* FDbNamesLabel = nullptr;
  QString FZoneText;
  bool FLoading = false;
  // A panel of the frame's MDI area, which frees it with the frame.
  QPointer<Tupdatever> FUpdatever;
};
