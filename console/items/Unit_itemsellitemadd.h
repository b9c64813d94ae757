// The item options dialog ("颜色和等级"): colour, enhancement level and binding of one item; 确 定
// adds the item's line to the item list and reports it in the item picker's status bar.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QRadioButton;
class TFlatButton;

class Titemsellitemadd : public QDialog {
  Q_OBJECT

 public:
  // target: the item list; status: the item picker's status bar.
  Titemsellitemadd(const QString& itemName, QPlainTextEdit& target, QLabel& status,
                   QWidget* parent = nullptr);

  // 确 定: name, colour, level and "绑定" or "不绑定" joined by ",".
  void Confirm();
  QString ItemLine() const;

  QLabel* lbl5 = nullptr;
  QComboBox* cbb1 = nullptr;  // colour
  QComboBox* cbb2 = nullptr;  // level
  QRadioButton* rb1 = nullptr;
  QRadioButton* rb2 = nullptr;
  TFlatButton* Button1 = nullptr;
  TFlatButton* Button2 = nullptr;

 private:
  QString FName;
  QPlainTextEdit& FTarget;
  QLabel& FStatus;
};
