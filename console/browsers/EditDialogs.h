// The password and balance dialogs of the browsers. Each edits the current row of the dataset
// of the window that opened it, through that window's bound detail edit: the value goes into
// the edit and the row is posted. The window is passed in, never found through a global, so two
// browsers of one kind each edit their own row.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "platform/widgets/FieldText.h"

class QLabel;
class QLineEdit;
class QRadioButton;
class TDataSet;
class TDataSource;
class TDBEdit;
class TDBMemo;
class TFlatButton;

// Posts the row; when the write is refused the row goes back to what was read and the error
// goes on to the caller.
void PostOrCancel(TDataSet& dataset);

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

// The warehouse's password, in the same stored form.
class Tbankpassword : public Tuser_password {
  Q_OBJECT

 public:
  Tbankpassword(TDataSet& dataset, TDBEdit& target, const QString& accountLabel, QWidget* parent = nullptr);
};

// "仓库金币变动": the warehouse's money, changed as the account balance is.
class Tbank_money : public Tusermoney {
  Q_OBJECT

 public:
  Tbank_money(TDataSet& dataset, TDBEdit& target, const QString& accountLabel, QWidget* parent = nullptr);
};

// The long texts of a row in memos bound to the browser's data source. 确定修改 writes what the
// memos changed (nothing when they changed nothing); 放弃修改 and closing undo the edit, so an
// abandoned text is never written later by a move of the row.
class TRowTextDialog : public QDialog {
  Q_OBJECT

 public:
  TRowTextDialog(TDataSet& dataset, QWidget* parent);

  QLabel* lbl1 = nullptr;       // the row's label
  TFlatButton* btn1 = nullptr;  // 确定修改
  TFlatButton* btn2 = nullptr;  // 放弃修改

  void Confirm();
  void reject() override;

 protected:
  TDBMemo* AddMemo(TDataSource& source, TFieldCharset charset, const char* field, const QString& label, int y,
                   int height);
  void AddButtons(const QString& hint, int y);

 private:
  TDataSet& FDataSet;
  std::vector<std::string> FTextFields;  // the memos' fields
};

// "编辑仓库物品": the warehouse's Items.
class Tbankitems : public TRowTextDialog {
  Q_OBJECT

 public:
  Tbankitems(TDataSet& dataset, TDataSource& source, TFieldCharset charset, const QString& accountLabel,
             QWidget* parent = nullptr);

  TDBMemo* mmo1 = nullptr;
};

// "技技能和背包": a character's Skills and Items, each in its own memo.
class Tskillitems : public TRowTextDialog {
  Q_OBJECT

 public:
  Tskillitems(TDataSet& dataset, TDataSource& source, TFieldCharset charset, const QString& nameLabel,
              QWidget* parent = nullptr);

  TDBMemo* mmoSkills = nullptr;  // 技能数据
  TDBMemo* mmoItems = nullptr;   // 背包数据
};
