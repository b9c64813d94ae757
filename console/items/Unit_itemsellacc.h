// The character picker of the item-issuing window ("物品发放—添加角色"): a double-click adds the
// character's name to the window's character list, at most 10 names.
#pragma once

#include "console/items/ItemPicker.h"

class Titemsellacc : public TItemPicker {
  Q_OBJECT

 public:
  // target: the window's character list.
  Titemsellacc(TCustomMyConnection& con2, TFieldCharset charset, QPlainTextEdit& target,
               QWidget* parent = nullptr);

 protected:
  void Add(const QString& name) override;
};
