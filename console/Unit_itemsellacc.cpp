#include "console/Unit_itemsellacc.h"

#include <QLabel>
#include <QPlainTextEdit>

#include "platform/widgets/DBGridModel.h"
#include "platform/widgets/UiService.h"

namespace {

const TPickerTexts kCharacterTexts = {"物品发放—添加角色",
                                      "user",
                                      "ID,Name,Level,Deleted",
                                      "name",
                                      "角色数: ",
                                      "双击角色名即可添加到发放列表中...",
                                      "请输入角色名",
                                      "查询角色数据表失败！请检查网络连接！\r\n错误信息：",
                                      " "};

std::vector<TDBGridColumn> CharacterColumns() {
  return {{"ID", QStringLiteral("序号"), 60, Qt::AlignCenter, true},
          {"Name", QStringLiteral("角色名"), 140, Qt::AlignCenter, true},
          {"Level", QStringLiteral("等级"), 60, Qt::AlignCenter, true},
          {"deleted", QStringLiteral("是否删除"), 70, Qt::AlignCenter, true}};
}

}  // namespace

Titemsellacc::Titemsellacc(TCustomMyConnection& con2, TFieldCharset charset, QPlainTextEdit& target,
                           QWidget* parent)
    : TItemPicker(con2, charset, kCharacterTexts, CharacterColumns(), parent), FTarget(target) {}

void Titemsellacc::PickRow() {
  if (!HasRow()) {
    ShowMessageBox(QStringLiteral("不能添加空记录！"), CaptionError, TMsgIcon::Error);
    return;
  }
  const QString name = CurrentText("Name");
  if (MemoLines(FTarget).size() >= kMaxListLines) {
    ShowMessageBox(QStringLiteral("最多只能添加10个角色名！"), CaptionError, TMsgIcon::Error);
    stat1->setText(QStringLiteral("添加 ") + name + QStringLiteral(" 失败！"));
    return;
  }
  AppendMemoLine(FTarget, name);
  stat1->setText(QStringLiteral("添加 ") + name + QStringLiteral(" 成功！"));
}
