#include "console/browsers/EditDialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <cstdint>

#include "components/MyAccessDataSet.h"
#include "console/browsers/BrowserPaging.h"
#include "console/browsers/DialogValues.h"
#include "console/browsers/RowStillAsRead.h"
#include "console/common/TypedText.h"
#include "console/controls/FlatBtns.h"
#include "platform/db/DataSet.h"
#include "platform/db/Fields.h"
#include "platform/widgets/DBControls.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

constexpr Qt::WindowFlags kDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

QLabel* AddLabel(QWidget* parent, const QString& text, int x, int y, int w = 200) {
  auto* label = new QLabel(text, parent);
  label->setGeometry(x, y, w, 18);
  return label;
}

TFlatButton* AddButton(QWidget* parent, const QString& caption, int x, int y) {
  auto* button = new TFlatButton(parent);
  button->SetCaption(caption);
  button->setGeometry(x, y, 75, 25);
  return button;
}

// The range of the balance column, from its field type.
void FieldRange(const TField* field, int64_t& min, int64_t& max) {
  switch (field ? field->DataType() : ftInteger) {
    case ftSmallint:
      min = INT16_MIN, max = INT16_MAX;
      return;
    case ftWord:
      min = 0, max = UINT16_MAX;
      return;
    case ftLargeint:
      min = INT64_MIN, max = INT64_MAX;
      return;
    default:
      min = INT32_MIN, max = INT32_MAX;
      return;
  }
}

}  // namespace

void PostOrCancel(TDataSet& dataset) {
  try {
    dataset.Post();
  } catch (...) {
    // A refused write is not kept pending: the row would show a value the server does not hold,
    // and leaving the row later would send it again without being asked.
    if (dataset.State() == dsEdit || dataset.State() == dsInsert) dataset.Cancel();
    throw;
  }
}

Tuser_password::Tuser_password(TDataSet& dataset, TDBEdit& target, const QString& accountLabel,
                               QWidget* parent)
    : QDialog(parent, kDialogFlags), FDataSet(dataset), FTarget(target) {
  setWindowTitle(QStringLiteral("输入新密码"));
  setFixedSize(260, 150);
  lbl1 = AddLabel(this, accountLabel, 20, 12);
  AddLabel(this, QStringLiteral("新密码"), 20, 42, 50);
  edt1 = new QLineEdit(this);
  edt1->setGeometry(70, 40, 170, 22);
  AddLabel(this, QStringLiteral("* 输入新密码并确定将自动转换MD5"), 20, 70, 230);
  AddLabel(this, QStringLiteral("不修改留空并确定即可"), 20, 88, 230);
  btn1 = AddButton(this, QStringLiteral("确定"), 92, 114);
  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] { Confirm(); });
}

void Tuser_password::Confirm() {
  if (!edt1->text().isEmpty()) {
    // A character the account's set lacks would be hashed as "?": the player's password would
    // not be the one typed.
    const QString problem = UnencodableText(edt1->text(), FTarget.Link().Charset(), QStringLiteral("新密码"));
    if (!problem.isEmpty()) {
      ShowMessageBox(problem, CaptionError, TMsgIcon::Error);
      edt1->setFocus();
      return;
    }
    FDataSet.Edit();
    FTarget.setText(QString::fromStdString(StoredPasswordForm(FTarget.Link().Encode(edt1->text()))));
    PostOrCancel(FDataSet);
  }
  accept();
}

Tusermoney::Tusermoney(TDataSet& dataset, TDBEdit& target, const QString& accountLabel, QWidget* parent)
    : QDialog(parent, kDialogFlags), FDataSet(dataset), FTarget(target) {
  setWindowTitle(QStringLiteral("积分变更"));
  setFixedSize(260, 170);
  lblAccount = AddLabel(this, accountLabel, 20, 12);
  rb1 = new QRadioButton(QStringLiteral("增加"), this);
  rb2 = new QRadioButton(QStringLiteral("减少"), this);
  rb3 = new QRadioButton(QStringLiteral("归零"), this);
  int x = 20;
  for (QRadioButton* rb : {rb1, rb2, rb3}) {
    rb->setGeometry(x, 38, 60, 20);
    x += 70;
  }
  rb1->setChecked(true);
  lbl1 = AddLabel(this, QStringLiteral("数值"), 20, 72, 40);
  edt1 = new QLineEdit(this);
  edt1->setGeometry(70, 70, 170, 22);
  AddLabel(this, QStringLiteral("* 如果不修改请留空并确定！"), 20, 100, 230);
  Button1 = AddButton(this, QStringLiteral("确 定"), 92, 130);
  ConnectGuarded(rb1, &QRadioButton::clicked, this, [this](bool) { Choose(QStringLiteral("增加"), false); });
  ConnectGuarded(rb2, &QRadioButton::clicked, this, [this](bool) { Choose(QStringLiteral("减少"), false); });
  ConnectGuarded(rb3, &QRadioButton::clicked, this, [this](bool) { Choose(QStringLiteral("归零"), true); });
  ConnectGuarded(Button1, &TFlatButton::clicked, this, [this] { Confirm(); });
}

void Tusermoney::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  edt1->setFocus();
}

void Tusermoney::Choose(const QString& change, bool zero) {
  lbl1->setText(change);
  edt1->setEnabled(!zero);
  if (zero) return edt1->setText(QStringLiteral("0"));
  edt1->clear();
  edt1->setFocus();
}

void Tusermoney::Confirm() {
  if (edt1->text().isEmpty()) return accept();
  const TBalanceChange change = rb3->isChecked()   ? TBalanceChange::Zero
                                : rb2->isChecked() ? TBalanceChange::Subtract
                                                   : TBalanceChange::Add;
  // The balance may have changed on the server since the row was read (the game, another
  // console): the change applies to the value stored now, and the write names every value it
  // was computed from, so a change made in between makes it find no row instead of being lost.
  auto* dataset = dynamic_cast<TCustomMyDataSet*>(&FDataSet);
  // A change typed into the row and not yet posted goes first, as leaving the row sends it:
  // reading the row again would drop it.
  if (dataset != nullptr && FDataSet.State() == dsEdit) FDataSet.Post();
  if (dataset != nullptr) dataset->RefreshRecord();
  TField* field = FTarget.Field();
  int64_t min = 0, max = 0;
  FieldRange(field, min, max);
  const std::string current = field && !field->IsNull() ? field->AsString() : std::string();
  // Only digits are accepted, so the typed text goes into the message as it was typed.
  const TBalanceResult result = ChangeBalance(change, current, edt1->text().toStdString(), min, max);
  if (!result.Refusal.empty()) {
    ShowMessageBox(QString::fromStdString(result.Refusal), CaptionError, TMsgIcon::Error);
    edt1->setFocus();
    return;
  }
  FDataSet.Edit();
  FTarget.setText(QString::number(result.Value));
  if (dataset == nullptr || field == nullptr) {
    PostOrCancel(FDataSet);
    return accept();
  }
  // The write finds the row only while the balance is the one the change was computed from and
  // its texts are, byte for byte, those read (a name the session shows as "?" compares as read).
  bool written = false;
  try {
    written = PostIfStillAsRead(FDataSet, TableTextFields(*dataset), {field->FieldName()});
  } catch (...) {
    if (FDataSet.State() == dsEdit) FDataSet.Cancel();
    throw;
  }
  if (written) return accept();
  FDataSet.Cancel();
  dataset->RefreshRecord();
  const std::string now = !field->IsNull() ? field->AsString() : std::string();
  ShowMessageBox(now != current ? QStringLiteral("该帐号的数值刚被修改为：") + QString::fromStdString(now) +
                                      QStringLiteral("，请重新设定！")
                                : ChangedSinceReadText(),
                 CaptionError, TMsgIcon::Error);
  edt1->setFocus();
}

Tbankpassword::Tbankpassword(TDataSet& dataset, TDBEdit& target, const QString& accountLabel, QWidget* parent)
    : Tuser_password(dataset, target, accountLabel, parent) {}

Tbank_money::Tbank_money(TDataSet& dataset, TDBEdit& target, const QString& accountLabel, QWidget* parent)
    : Tusermoney(dataset, target, accountLabel, parent) {
  setWindowTitle(QStringLiteral("仓库金币变动"));
}

TRowTextDialog::TRowTextDialog(TDataSet& dataset, QWidget* parent)
    : QDialog(parent, kDialogFlags), FDataSet(dataset) {}

TDBMemo* TRowTextDialog::AddMemo(TDataSource& source, TFieldCharset charset, const char* field,
                                 const QString& label, int y, int height) {
  // The label reads top to bottom, one character a line.
  QString vertical;
  for (const QChar c : label) vertical += QString(c) + QLatin1Char('\n');
  auto* side = new QLabel(vertical.trimmed(), this);
  side->setAlignment(Qt::AlignCenter);
  side->setGeometry(10, y, 20, height);
  auto* memo = new TDBMemo(this);
  memo->Link().SetCharset(charset);
  memo->Link().SetDataSource(&source);
  memo->Link().SetDataField(field);
  memo->setGeometry(36, y, 460, height);
  FTextFields.emplace_back(field);
  return memo;
}

void TRowTextDialog::AddButtons(const QString& hint, int y) {
  AddLabel(this, hint, 36, y, 300);
  btn1 = AddButton(this, QStringLiteral("确定修改"), 340, y + 24);
  btn2 = AddButton(this, QStringLiteral("放弃修改"), 420, y + 24);
  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] { Confirm(); });
  ConnectGuarded(btn2, &TFlatButton::clicked, this, [this] { reject(); });
}

void TRowTextDialog::Confirm() {
  if (FDataSet.State() == dsEdit) {
    // The memos hold their text until asked for it.
    FDataSet.UpdateRecord();
    if (!FDataSet.Modified()) {
      FDataSet.Cancel();
      return accept();
    }
    if (!PostIfStillAsRead(FDataSet, FTextFields)) {
      // The edit stays, with the game master's text in the memos.
      ShowMessageBox(ChangedSinceReadText(), CaptionWarning, TMsgIcon::Warning);
      return;
    }
    ShowMessageBox(QStringLiteral("修改成功！注意如果修改错误将可能导致仓库不能打开！"), CaptionHint,
                   TMsgIcon::Warning);
  }
  accept();
}

void TRowTextDialog::reject() {
  if (FDataSet.State() == dsEdit) FDataSet.Cancel();
  QDialog::reject();
}

Tbankitems::Tbankitems(TDataSet& dataset, TDataSource& source, TFieldCharset charset,
                       const QString& accountLabel, QWidget* parent)
    : TRowTextDialog(dataset, parent) {
  setWindowTitle(QStringLiteral("编辑仓库物品"));
  setFixedSize(510, 330);
  lbl1 = AddLabel(this, accountLabel, 36, 10, 300);
  mmo1 = AddMemo(source, charset, "Items", QStringLiteral("仓库物品"), 34, 230);
  AddButtons(QStringLiteral("* 如果您对装备数据并不熟悉，请勿修改！"), 272);
}

Tskillitems::Tskillitems(TDataSet& dataset, TDataSource& source, TFieldCharset charset,
                         const QString& nameLabel, QWidget* parent)
    : TRowTextDialog(dataset, parent) {
  setWindowTitle(QStringLiteral("技技能和背包"));
  setFixedSize(510, 420);
  lbl1 = AddLabel(this, nameLabel, 36, 10, 300);
  mmoSkills = AddMemo(source, charset, "Skills", QStringLiteral("技能数据"), 34, 150);
  mmoItems = AddMemo(source, charset, "Items", QStringLiteral("背包数据"), 192, 170);
  AddButtons(QStringLiteral("* 如果您对这些数据并不熟悉，请勿修改！"), 366);
}
