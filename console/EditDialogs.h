// The password and balance dialogs of the browsers. Each edits the current row of the dataset
// of the window that opened it, through that window's bound detail edit: the value goes into
// the edit and the row is posted. The window is passed in, never found through a global, so two
// browsers of one kind each edit their own row.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QRadioButton;
class TDataSet;
class TDBEdit;
class TFlatButton;

// "输入新密码": the stored form of the typed password; an empty password changes nothing.
class Tuser_password : public QDialog {
  Q_OBJECT

 public:
  // target: the browser's password edit, bound to the row's password field of dataset.
  Tuser_password(TDataSet& dataset, TDBEdit& target, const QString& accountLabel, QWidget* parent = nullptr);

  QLabel* lbl1 = nullptr;  // "帐号：" + account
  QLineEdit* edt1 = nullptr;
  TFlatButton* btn1 = nullptr;

  // 确定.
  void Confirm();

 private:
  TDataSet& FDataSet;
  TDBEdit& FTarget;
};

// "积分变更": add to, subtract from or zero the balance. The row is read again first and the
// arithmetic is checked before it is touched, so a refused change leaves it unedited and the
// dialog open; the write is refused, with the new value shown, when the row changed on the server
// in between.
class Tusermoney : public QDialog {
  Q_OBJECT

 public:
  // target: the browser's balance edit, bound to the row's balance field of dataset.
  Tusermoney(TDataSet& dataset, TDBEdit& target, const QString& accountLabel, QWidget* parent = nullptr);

  QLabel* lblAccount = nullptr;  // "帐号：" + account
  QRadioButton* rb1 = nullptr;   // 增加
  QRadioButton* rb2 = nullptr;   // 减少
  QRadioButton* rb3 = nullptr;   // 归零
  QLabel* lbl1 = nullptr;        // the chosen change
  QLineEdit* edt1 = nullptr;     // amount
  TFlatButton* Button1 = nullptr;

  // 确 定.
  void Confirm();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Choose(const QString& change, bool zero);

  TDataSet& FDataSet;
  TDBEdit& FTarget;
};
