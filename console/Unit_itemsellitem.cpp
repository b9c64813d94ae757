#include "console/Unit_itemsellitem.h"

#include <QLabel>
#include <QPlainTextEdit>

#include "console/Unit_itemsellitemadd.h"
#include "platform/widgets/DBGridModel.h"
#include "platform/widgets/UiService.h"

namespace {

const TPickerTexts kItemTexts = {"物品发放—添加物品",
                                 "t_itemname",
                                 "*",
                                 "itemname",
                                 "装备数: ",
                                 "双击装备名即可添加到发放列表中...",
                                 "请输入物品名",
                                 "查询装备数据表失败！请检查网络连接！\r\n错误信息：",
                                 "  "};

std::vector<TDBGridColumn> ItemColumns() {
  return {{"itemNo", QStringLiteral("序号"), 60, Qt::AlignCenter, true},
          {"itemName", QStringLiteral("物品名"), 140, Qt::AlignCenter, true},
          {"itemDbidx", QStringLiteral("物品DNA"), 80, Qt::AlignCenter, true},
          {"itemMemo", QStringLiteral("简介"), 200, std::nullopt, true}};
}

}  // namespace

Titemsellitem::Titemsellitem(TCustomMyConnection& con2, TFieldCharset charset, QPlainTextEdit& target,
                             QWidget* parent)
    : TItemPicker(con2, charset, kItemTexts, ItemColumns(), parent), FTarget(target) {}

void Titemsellitem::PickRow() {
  if (!HasRow()) {
    ShowMessageBox(QStringLiteral("不能添加空记录！"), CaptionError, TMsgIcon::Error);
    return;
  }
  const QString name = CurrentText("itemName");
  if (MemoLines(FTarget).size() >= kMaxListLines) {
    ShowMessageBox(QStringLiteral("最多只能添加10件物品！"), CaptionError, TMsgIcon::Error);
    stat1->setText(QStringLiteral("添加 ") + name + QStringLiteral(" 失败！"));
    return;
  }
  Titemsellitemadd dialog(name, FTarget, *stat1, this);
  Ui().ExecModal(dialog);
}
