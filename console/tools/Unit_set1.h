// The game-server ini viewer: the world server's settings file of one zone key by key, for
// reading only, and the castle-war schedule of the character database.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTabWidget;
class TCustomMyConnection;
class TDBGrid;
class TFlatButton;
class TMyDataSource;
class TMyQuery;

class Tsallset : public QWidget {
  Q_OBJECT

 public:
  // con2: the login's character connection (not owned); the schedule is read from it once.
  Tsallset(TCustomMyConnection& con2, const QString& charsetText, QWidget* parent = nullptr);
  ~Tsallset() override;

  // ..., 载入当前配置 and 保存修改.
  void ChooseDirectory();
  void LoadSettings();
  void SaveSettings();

  // One edit per key, in the order of ServerIniKeys().
  const std::vector<QLineEdit*>& Edits() const noexcept { return FEdits; }
  TMyQuery& qry1() noexcept { return *FQuery; }
  QString StatusText() const;

  QTabWidget* pgc1 = nullptr;
  QLineEdit* edt1 = nullptr;  // 当前游戏分区目录
  TFlatButton* Button1 = nullptr;
  TFlatButton* Button2 = nullptr;
  TFlatButton* Button3 = nullptr;
  QCheckBox* chk1 = nullptr;
  TDBGrid* dbgrd1 = nullptr;

 private:
  QWidget* BuildSettingsTab();
  QWidget* BuildScheduleTab(const QString& charsetText);

  std::unique_ptr<TMyQuery> FQuery;
  std::unique_ptr<TMyDataSource> FSource;
  std::vector<QLineEdit*> FEdits;
  QLabel* FStatus = nullptr;
};
