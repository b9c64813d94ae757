// The item picker of the item-issuing window ("物品发放—添加物品") over t_itemname: a double-click
// opens the item options dialog for the row's item, which adds it to the window's item list (at
// most 10 items).
#pragma once

#include "console/items/ItemPicker.h"

class Titemsellitem : public TItemPicker {
  Q_OBJECT

 public:
  // target: the window's item list.
  Titemsellitem(TCustomMyConnection& con2, TFieldCharset charset, QPlainTextEdit& target,
                QWidget* parent = nullptr);

 protected:
  void Add(const QString& name) override;
};
