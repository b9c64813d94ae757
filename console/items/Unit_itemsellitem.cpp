#include "console/items/Unit_itemsellitem.h"

#include "console/items/Unit_itemsellitemadd.h"
#include "platform/widgets/UiService.h"

Titemsellitem::Titemsellitem(TCustomMyConnection& con2, TFieldCharset charset, QPlainTextEdit& target,
                             QWidget* parent)
    : TItemPicker(con2, charset, TPickerKind::Item, target, parent) {}

void Titemsellitem::Add(const QString& name) {
  Titemsellitemadd dialog(name, Target(), *stat1, this);
  Ui().ExecModal(dialog);
}
