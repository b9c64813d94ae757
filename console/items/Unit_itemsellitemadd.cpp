#include "console/items/Unit_itemsellitemadd.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>

#include "console/controls/FlatBtns.h"
#include "console/items/ItemPicker.h"
#include "platform/widgets/ErrorReport.h"

Titemsellitemadd::Titemsellitemadd(const QString& itemName, QPlainTextEdit& target, QLabel& status,
                                   QWidget* parent)
    : QDialog(parent), FName(itemName), FTarget(target), FStatus(status) {
  setWindowTitle(QStringLiteral("颜色和等级"));
  setModal(true);
  auto* grid = new QGridLayout(this);
  lbl5 = new QLabel(itemName, this);
  lbl5->setStyleSheet(QStringLiteral("color: rgb(0,0,160); font-weight: bold;"));
  grid->addWidget(lbl5, 0, 0, 1, 2);
  cbb1 = new QComboBox(this);
  cbb1->addItems(
      {QStringLiteral("白色"), QStringLiteral("绿色"), QStringLiteral("蓝色"), QStringLiteral("金色")});
  cbb2 = new QComboBox(this);
  for (int i = 0; i <= 10; ++i) cbb2->addItem(QStringLiteral("+") + QString::number(i));
  grid->addWidget(new QLabel(QStringLiteral("颜色："), this), 1, 0);
  grid->addWidget(cbb1, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("等级："), this), 2, 0);
  grid->addWidget(cbb2, 2, 1);
  rb1 = new QRadioButton(QStringLiteral("绑定"), this);
  rb1->setChecked(true);
  rb2 = new QRadioButton(QStringLiteral("不绑定"), this);
  grid->addWidget(rb1, 3, 0);
  grid->addWidget(rb2, 3, 1);
  Button1 = new TFlatButton(this);
  Button1->SetCaption(QStringLiteral("确 定"));
  Button2 = new TFlatButton(this);
  Button2->SetCaption(QStringLiteral("取消"));
  for (TFlatButton* b : {Button1, Button2}) b->setFixedSize(70, 24);
  grid->addWidget(Button1, 4, 0);
  grid->addWidget(Button2, 4, 1);
  ConnectGuarded(Button1, &TFlatButton::clicked, this, [this] { Confirm(); });
  ConnectGuarded(Button2, &TFlatButton::clicked, this, [this] { reject(); });
}

QString Titemsellitemadd::ItemLine() const {
  return FName + "," + cbb1->currentText() + "," + cbb2->currentText() + "," +
         (rb1->isChecked() ? QStringLiteral("绑定") : QStringLiteral("不绑定"));
}

void Titemsellitemadd::Confirm() {
  AppendMemoLine(FTarget, ItemLine());
  FStatus.setText(QStringLiteral("添加 ") + FName + QStringLiteral(" 成功！"));
  accept();
}
