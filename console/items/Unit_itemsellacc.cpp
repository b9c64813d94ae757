#include "console/items/Unit_itemsellacc.h"

#include <QLabel>

Titemsellacc::Titemsellacc(TCustomMyConnection& con2, TFieldCharset charset, QPlainTextEdit& target,
                           QWidget* parent)
    : TItemPicker(con2, charset, TPickerKind::Character, target, parent) {}

void Titemsellacc::Add(const QString& name) {
  AppendMemoLine(Target(), name);
  stat1->setText(QStringLiteral("添加 ") + name + QStringLiteral(" 成功！"));
}
