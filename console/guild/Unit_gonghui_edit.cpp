#include "console/guild/Unit_gonghui_edit.h"

#include <QFormLayout>
#include <QVBoxLayout>

#include "components/MyAccessDataSet.h"
#include "console/browsers/RowStillAsRead.h"
#include "console/controls/FlatBtns.h"
#include "console/guild/Unit_gonghui.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/DBControls.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

Tgonghui_edit::Tgonghui_edit(Tgonghui& list) : QWidget(&list, Qt::Window), FList(list) {
  setObjectName(QStringLiteral("gonghui_edit"));
  setWindowTitle(QStringLiteral("工会编辑"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout();
  auto bind = [this, &list](TDBControlLink& link, const char* field) {
    link.SetCharset(list.FieldCharset());
    link.SetDataSource(&list.ds1());
    link.SetDataField(field);
  };
  dbedtName = new TDBEdit(this);
  bind(dbedtName->Link(), "Name");
  form->addRow(QStringLiteral("工会名称："), dbedtName);
  dbedtLevel = new TDBEdit(this);
  bind(dbedtLevel->Link(), "Level");
  form->addRow(QStringLiteral("工会等级："), dbedtLevel);
  dbmmoEnounce = new TDBMemo(this);
  bind(dbmmoEnounce->Link(), "Enounce");
  dbmmoEnounce->setFixedHeight(60);
  form->addRow(QStringLiteral("工会宣言："), dbmmoEnounce);
  dbmmoBulletin = new TDBMemo(this);
  bind(dbmmoBulletin->Link(), "Bulletin");
  dbmmoBulletin->setFixedHeight(60);
  form->addRow(QStringLiteral("工会公告："), dbmmoBulletin);
  dbtxtIcon = new TDBText(this);
  bind(dbtxtIcon->Link(), "Icon");
  form->addRow(QStringLiteral("工会图标："), dbtxtIcon);
  dbtxtCaptain = new TDBText(this);
  bind(dbtxtCaptain->Link(), "CaptainID");
  form->addRow(QStringLiteral("工会创建人ID："), dbtxtCaptain);
  dbimgIconData = new TDBImage(this);
  bind(dbimgIconData->Link(), "IconData");
  dbimgIconData->setMinimumSize(64, 64);
  form->addRow(QStringLiteral("工会徽标数据："), dbimgIconData);
  layout->addLayout(form);
  Button1 = new TFlatButton(this);
  Button1->SetCaption(QStringLiteral("确定修改"));
  Button1->setFixedSize(100, 24);
  layout->addWidget(Button1, 0, Qt::AlignCenter);
  ConnectGuarded(Button1, &TFlatButton::clicked, this, [this] { Commit(); });
}

Tgonghui_edit::~Tgonghui_edit() = default;

void Tgonghui_edit::closeEvent(QCloseEvent* event) {
  TMyQuery& query = FList.qry1();
  if (FRefused && query.Active() && query.State() == dsEdit) query.Cancel();
  QWidget::closeEvent(event);
}

void Tgonghui_edit::Commit() {
  TMyQuery& query = FList.qry1();
  // The list may have moved to an empty result since the editor opened: typing into the editor
  // then began a new row, and posting it would add a guild nobody asked for.
  if (!query.Active() || query.IsEmpty() || query.State() == dsInsert) {
    if (query.Active()) query.Cancel();
    ShowMessageBox(QStringLiteral("没有选择工会无法进行编辑！"), CaptionError, TMsgIcon::Error);
    return;
  }
  // A row the user did not touch is posted as it stands: nothing changes on the server.
  query.Edit();
  try {
    query.Post();
  } catch (const EDatabaseError& e) {
    if (!FoundNoRowAsRead(e)) throw;
    // The edit stays, with the game master's text in the controls.
    FRefused = true;
    ShowMessageBox(ChangedSinceReadText(), CaptionWarning, TMsgIcon::Warning);
    return;
  }
  FRefused = false;
  ShowMessageBox(QStringLiteral("修改成功！"), CaptionHint, TMsgIcon::Warning);
  close();
}
