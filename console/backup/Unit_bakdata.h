// The backup window "备份/还原/压缩": its own login, backup, restore, repair and optimize, creation
// and deletion of databases, and the operation log. The window wires; TBakData does the work and
// reports through the window as its sink. While an operation runs the window refuses to close
// and every control that could start another is disabled.
#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "console/backup/BakData.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;
class TFlatButton;

class Tbakdata : public QWidget, private TBakDataSink {
  Q_OBJECT

 public:
  // login: the login window's settings the form starts with.
  explicit Tbakdata(const TLoginInput& login, QWidget* parent = nullptr);
  ~Tbakdata() override;

  TBakData& Work() noexcept { return *FWork; }
  bool Busy() const noexcept { return FBusy; }

  // The buttons' handlers.
  void LoginOrLogout();      // btn1
  void ChooseBackupFile();   // btn5
  void ChooseRestoreFile();  // btn7
  void RunBackup();          // btn2
  void RunRestore();         // btn4
  void RunMaintenance();     // btn3
  void DropDatabase();       // btn9
  void CreateDatabase();     // btn6
  void SaveLog();            // Button1
  void SaveLogAgain();       // F10 in tb_memo
  void RefreshDatabaseLists();
  // One log entry: the local time, the text, a line of 38 hyphens.
  void WriteBakLog(const QString& text);

  QLabel* lbl1 = nullptr;
  QTabWidget* pgc1 = nullptr;
  // 登录
  QLineEdit* e1 = nullptr;
  QLineEdit* portedt = nullptr;
  QLineEdit* e_uid = nullptr;
  QLineEdit* e_pwd = nullptr;
  QComboBox* cbb5 = nullptr;
  TFlatButton* btn1 = nullptr;
  QLabel* lbl6 = nullptr;
  // 备份
  QComboBox* cbb1 = nullptr;
  QLineEdit* e2 = nullptr;
  QPushButton* btn5 = nullptr;
  QCheckBox* cbTbBackup = nullptr;
  QCheckBox* cbDataBackUp = nullptr;
  TFlatButton* btn2 = nullptr;
  QLabel* Label1 = nullptr;
  QProgressBar* ProgressBar = nullptr;
  QLabel* lbl7 = nullptr;
  // 还原
  QComboBox* cbb3 = nullptr;
  QLineEdit* e4 = nullptr;
  QPushButton* btn7 = nullptr;
  TFlatButton* btn4 = nullptr;
  QLabel* Label2 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QLabel* lbl14 = nullptr;
  // 修复/优化
  QComboBox* cbb2 = nullptr;
  QRadioButton* rb1 = nullptr;
  QRadioButton* rb2 = nullptr;
  QRadioButton* rb3 = nullptr;
  TFlatButton* btn3 = nullptr;
  QLabel* Label5 = nullptr;
  QProgressBar* pb1 = nullptr;
  QLabel* lbl11 = nullptr;
  // 创建/删除
  QComboBox* cbb4 = nullptr;
  TFlatButton* btn9 = nullptr;
  QLineEdit* edt1 = nullptr;
  TFlatButton* btn6 = nullptr;
  QLabel* lbl18 = nullptr;
  // 日志
  QPlainTextEdit* tb_memo = nullptr;
  TFlatButton* Button1 = nullptr;

 signals:
  // The frame's status line.
  void StatusText(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class TBusyScope;
  void BuildControls();
  void TabChanged(int index);
  void SetBusy(bool on);
  // The login tab of a window whose session is closed.
  void ShowLoggedOut();
  void SaveLogTo(const QString& fileName);
  std::string Chosen(const QComboBox* box) const;
  QString Server() const;

  // The sink: each operation writes to its own tab's labels.
  void Log(const QString& text) override { WriteBakLog(text); }
  void Hint(const QString& text) override;
  void Step(const QString& text) override;
  void Progress(int percent) override;
  void ProcessMessages() override;

  std::unique_ptr<TBakData> FWork;
  int FRunningTab = -1;
  bool FBusy = false;
  bool FShownConnected = false;  // the login tab shows the session open
  QString FLogFileName;
};
