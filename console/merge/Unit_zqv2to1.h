// The zone-merge window "游戏合区工具": two connection groups (the source zone "转出分区" and the
// target zone "转入分区") with three connections of its own each, the merge options, the
// operation log and the event log zqv2to1_log.txt. The run itself is TZoneMerge; the window is its
// sink. While the run goes on the window refuses to close (it offers to stop the run instead) and
// nothing that could start another run or drop a connection can be pressed.
#pragma once

#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

#include "console/common/DbIniSettings.h"
#include "console/merge/ZoneMerge.h"
#include "console/merge/Zqv2to1Rules.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QRadioButton;
class QTabWidget;
class TFlatButton;
class TFlatGroupBox;
class TMyConnection;

// Seconds a connection attempt of the window may take.
inline constexpr int kMergeConnectTimeoutSeconds = 10;
// Seconds the connections' own statements may wait, as browsing does; the run's statements set
// their own.
inline constexpr int kMergeBrowseTimeoutSeconds = 30;

class Tzqv2to1 : public QWidget, private TZoneMergeSink {
  Q_OBJECT

 public:
  // loginState reads the latest login's settings when a side is filled from them.
  explicit Tzqv2to1(std::function<TDbSettings()> loginState, QWidget* parent = nullptr);
  ~Tzqv2to1() override;

  // The log lines the run writes.
  void WriteOperation(const QString& text);
  void WriteEvent(const QString& text);
  void SetProgress(const QString& text);

  // The handlers.
  void ConnectSide(int side);  // btn1 (0, source), btn2 (1, target)
  void FillSide(int side);     // chk1, chk2 switched
  void StartWork();            // btn3
  void SaveLog();              // btn4

  bool Busy() const noexcept { return FBusy; }
  bool StopRequested() const noexcept { return FStop; }
  // Whether the side's connections are all open.
  bool SideConnected(int side) const noexcept { return FConnected.at(static_cast<size_t>(side)); }
  // The settings the side's connect copied last.
  const TZoneMergeSide& Settings(int side) const { return FSettings.at(static_cast<size_t>(side)); }
  // The counts of the last run.
  const TZoneMergeCounts& LastCounts() const noexcept { return FCounts; }
  // The event memo's lines, as the event log file holds them.
  const QStringList& EventLines() const noexcept { return FEvents; }
  QString EventFileName() const { return FEventFile.FileName(); }
  // 1-6: source account, character, log; target account, character, log.
  TMyConnection& con(int n) const { return *FCons.at(static_cast<size_t>(n - 1)); }
  // The status bar's panels.
  QString StatusPanel(int panel) const;

  QTabWidget* pgc1 = nullptr;
  // 数据设置
  TFlatGroupBox* grp1 = nullptr;
  TFlatGroupBox* grp2 = nullptr;
  QLineEdit *edt_srv1 = nullptr, *edt_port1 = nullptr, *edt_acc1 = nullptr, *edt_char1 = nullptr;
  QLineEdit *edt_log1 = nullptr, *edt_uid1 = nullptr, *edt_pwd1 = nullptr;
  QLineEdit *edt_srv2 = nullptr, *edt_port2 = nullptr, *edt_acc2 = nullptr, *edt_char2 = nullptr;
  QLineEdit *edt_log2 = nullptr, *edt_uid2 = nullptr, *edt_pwd2 = nullptr;
  QCheckBox *chk1 = nullptr, *chk2 = nullptr, *chk3 = nullptr, *chk4 = nullptr;
  TFlatButton *btn1 = nullptr, *btn2 = nullptr;
  QLabel *lbl1 = nullptr, *lbl2 = nullptr;
  // 内容与规则
  QCheckBox *chk5 = nullptr, *chk6 = nullptr, *chk7 = nullptr, *chk8 = nullptr, *chk9 = nullptr;
  QCheckBox *chk10 = nullptr, *chk11 = nullptr, *chk12 = nullptr;
  QLineEdit *edt1 = nullptr, *edt2 = nullptr, *edt4 = nullptr;
  QRadioButton *rb1 = nullptr, *rb2 = nullptr, *rb3 = nullptr, *rb4 = nullptr, *rb5 = nullptr;
  QRadioButton *rb6 = nullptr, *rb7 = nullptr, *rb8 = nullptr, *rb9 = nullptr, *rb10 = nullptr;
  TFlatGroupBox *grp6 = nullptr, *grp7 = nullptr;
  QLabel *lbl11 = nullptr, *lbl12 = nullptr;
  // 合区工作台
  QPlainTextEdit* mmo1 = nullptr;
  QPlainTextEdit* mmo2 = nullptr;
  TFlatButton *btn3 = nullptr, *btn4 = nullptr;
  QLabel *lbl20 = nullptr, *lbl21 = nullptr, *lbl5 = nullptr, *lbl22 = nullptr;
  QProgressBar* pb1 = nullptr;
  QCheckBox* chk13 = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // One side's controls and connections, so both sides run one code path.
  struct TSide {
    QLineEdit* Edits[7];  // server, port, account, character and log database, user, password
    QCheckBox* Fill;
    QCheckBox* NoLogs;
    TFlatButton* Button;
    QLabel* State;
    QString Word;  // 转出 or 转入
  };
  class TBusyScope;

  void BuildControls();
  QWidget* BuildDataPage();
  QWidget* BuildRulesPage();
  QWidget* BuildWorkPage();
  TFlatGroupBox* BuildSideGroup(int side, QWidget* parent);
  void WireControls();
  void DisconnectSide(int side);
  // Opens connection n of the side (0 account, 1 character, 2 log); false with the failure shown.
  bool OpenSideConnection(int side, int n);
  void OptionClicked(QCheckBox* box, bool on);
  void NoLogsClicked(int side, bool on);
  TZoneMergeOptions Options() const;
  void SetBusy(bool on);
  void SetStatusPanel(int panel, const QString& text);
  // Adds a line to the event memo and, while saving is on, to the event log file.
  void AddEventLine(const QString& line);

  // The sink.
  void BeginEventLog(const QString& header) override;
  void Operation(const QString& text) override { WriteOperation(text); }
  void Event(const QString& text) override { WriteEvent(text); }
  void Progress(const QString& percent) override { SetProgress(percent); }
  void Step(const QString& text) override;
  void Description(const QString& text) override;
  bool Ask(const QString& text, const QString& title, bool warningIcon, bool defaultYes) override;
  void Inform(const QString& text, const QString& title, bool errorIcon) override;
  bool ProcessMessagesAndCheckStop() override;

  std::function<TDbSettings()> FLoginState;
  std::array<std::unique_ptr<TMyConnection>, 6> FCons;
  std::array<TSide, 2> FSides{};
  std::array<TZoneMergeSide, 2> FSettings;
  std::array<bool, 2> FConnected{};
  QLabel* FPanels[2] = {};
  QStringList FEvents;
  TMergeEventFile FEventFile;
  TZoneMergeCounts FCounts;
  // Busy: a run or a connection attempt is on the stack; running: it is the run.
  bool FBusy = false;
  bool FRunning = false;
  bool FStop = false;
};
