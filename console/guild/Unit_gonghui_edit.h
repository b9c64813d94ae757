// The guild editor: the guild list's current row in data-aware controls, the emblem decoded
// from its JPEG, posted by 确定修改.
#pragma once

#include <QWidget>

class TDBEdit;
class TDBImage;
class TDBMemo;
class TDBText;
class TFlatButton;
class Tgonghui;

class Tgonghui_edit : public QWidget {
  Q_OBJECT

 public:
  explicit Tgonghui_edit(Tgonghui& list);
  ~Tgonghui_edit() override;

  // 确定修改.
  void Commit();

  TDBEdit* dbedtName = nullptr;
  TDBEdit* dbedtLevel = nullptr;
  TDBMemo* dbmmoEnounce = nullptr;
  TDBMemo* dbmmoBulletin = nullptr;
  TDBText* dbtxtIcon = nullptr;
  TDBText* dbtxtCaptain = nullptr;
  TDBImage* dbimgIconData = nullptr;
  TFlatButton* Button1 = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  Tgonghui& FList;
  // The last 确定修改 found the row changed since it was read: closing the editor then discards
  // the edit, as the message asks, instead of leaving it for the list to post when it moves.
  bool FRefused = false;
};
