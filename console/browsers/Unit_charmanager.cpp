#include "console/browsers/Unit_charmanager.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "components/MyAccessDataSet.h"
#include "console/browsers/EditDialogs.h"
#include "console/controls/FlatBtns.h"
#include "platform/widgets/DBControls.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

const TCharTexts kCharTexts;

std::vector<TDBGridColumn> CharColumns() {
  struct {
    const char* field;
    const char* title;  // empty: the field's name
    int width;          // 0: the grid's own
    bool readOnly;
  } const columns[] = {
      {"ID", "序号", 50, true},
      {"Name", "角色名", 80, true},
      {"Level", "等级", 40, false},
      {"AP", "", 50, false},
      {"SP", "", 50, true},
      {"Gold", "金钱", 80, true},
      {"Str", "力量", 50, false},
      {"Con", "体力", 50, false},
      {"Dex", "敏捷", 50, false},
      {"Int", "智力", 50, false},
      {"Hit", "精神", 50, false},
      {"Credit", "声望", 60, false},
      {"OnlineTime", "在线时间", 80, false},
      {"deleted", "删除", 40, false},
      {"Faction", "国家", 40, false},
      // The long texts change through their dialog only.
      {"Skills", "技能", 0, true},
      {"Items", "装备背包", 0, true},
      {"CreateDate", "建立时间", 100, false},
      {"LastUpdateDate", "最最后登录", 100, false},
  };
  std::vector<TDBGridColumn> result;
  for (const auto& c : columns)
    result.push_back({c.field, QString::fromUtf8(*c.title ? c.title : c.field), c.width > 0 ? c.width : -1,
                      Qt::AlignCenter, c.readOnly});
  return result;
}

// The help link's text (UTF-8).
constexpr char kCharHelp[] =
    "参数说明：\n\r国家：0表示周朝，1表示商朝。\n\r职业：1战2凤3术4道。\n\r"
    "转职：0，1，2对应，0转，一转和二转。\n\r点击列名会根据升/降排序！\n\r"
    "点击详细信息可以对其它参数进行设置，更多帮助参见说明";

}  // namespace

Tcharmanager::Tcharmanager(const TGameLinks& links, QWidget* parent)
    : TPagedBrowser(*links.Chr, links.Charset, kCharTexts, parent), FLinks(links) {
  setObjectName(QStringLiteral("charmanager"));
  setWindowTitle(QStringLiteral("角色管理"));
  SetGridColumns(CharColumns());
  BuildStrips();
  RefreshPages();
}

Tcharmanager::~Tcharmanager() = default;

void Tcharmanager::BuildStrips() {
  auto* top = new QWidget(this);
  auto* search = new QHBoxLayout(top);
  search->setContentsMargins(0, 0, 0, 0);
  search->addWidget(new QLabel(QStringLiteral("查找角色："), top));
  edt1 = new QLineEdit(QString::fromUtf8(kCharSearchHint), top);
  edt1->setFixedWidth(150);
  search->addWidget(edt1);
  chk1 = new QCheckBox(QStringLiteral("按帐号查询"), top);
  chk3 = new QCheckBox(QStringLiteral("模糊查询"), top);
  chk3->setChecked(true);
  search->addWidget(chk1);
  search->addWidget(chk3);
  btn1 = AddStripButton(top, search, QStringLiteral("确 定"), 60);
  search->addStretch(1);
  AddHelpLink(top, search, QStringLiteral("参数帮助"), kCharHelp);
  QLabel* account = AddStripLink(top, search, QStringLiteral("该角色的帐号管理"));
  QLabel* online = AddStripLink(top, search, QStringLiteral("是否在线"));

  auto* detail = new QWidget(this);
  auto* strip = new QHBoxLayout(detail);
  strip->setContentsMargins(0, 0, 0, 0);
  auto addEdit = [&](QWidget* owner, QLayout* into, const QString& label, const char* field, int width) {
    into->addWidget(new QLabel(label, owner));
    auto* edit = new TDBEdit(owner);
    edit->Link().SetCharset(FieldCharset());
    edit->Link().SetDataSource(&ds1());
    edit->Link().SetDataField(field);
    edit->setFixedWidth(width);
    into->addWidget(edit);
    return edit;
  };
  addEdit(detail, strip, QStringLiteral("金钱"), "Gold", 80);
  edtName = addEdit(detail, strip, QStringLiteral("角色名"), "Name", 100);
  // The name is copied, not edited, from here.
  edtName->setReadOnly(true);
  edtName->installEventFilter(this);
  addEdit(detail, strip, QStringLiteral("等级"), "Level", 50);
  addEdit(detail, strip, QStringLiteral("声望"), "Credit", 60);
  chk2 = new QCheckBox(QStringLiteral("详细信息"), detail);
  strip->addWidget(chk2);
  strip->addStretch(1);
  btn6 = AddStripButton(detail, strip, QStringLiteral("提交修改"), 70);
  btn7 = AddStripButton(detail, strip, QStringLiteral("删除本条"), 70);

  p2 = new QWidget(this);
  auto* rows = new QVBoxLayout(p2);
  rows->setContentsMargins(0, 0, 0, 0);
  auto* panel = new QHBoxLayout;
  auto* actions = new QHBoxLayout;
  rows->addLayout(panel);
  rows->addLayout(actions);
  struct {
    const char* label;
    const char* field;
  } const panelFields[] = {{"国家", "Faction"}, {"职业", "Metier"}, {"转职", "MetierLevel"},
                           {"删除", "deleted"}, {"PK值", "PK"},     {"体力", "Con"},
                           {"力量", "Str"},     {"智力", "Int"},    {"敏捷", "Dex"},
                           {"精神", "Hit"},     {"AP", "AP"},       {"SP", "SP"}};
  for (const auto& f : panelFields) addEdit(p2, panel, QString::fromUtf8(f.label), f.field, 36);
  panel->addStretch(1);
  actions->addStretch(1);
  TFlatButton* commit = AddStripButton(p2, actions, QStringLiteral("提交修改"), 70);
  TFlatButton* others = AddStripButton(p2, actions, QStringLiteral("同帐号其它角色"), 110);
  TFlatButton* bank = AddStripButton(p2, actions, QStringLiteral("查看本角色仓库"), 110);
  TFlatButton* skills = AddStripButton(p2, actions, QStringLiteral("技能背包数据修改[&S]"), 140);
  p2->hide();

  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  layout->insertWidget(0, top);
  layout->insertWidget(1, detail);
  layout->insertWidget(2, p2);
  for (QWidget* w : std::initializer_list<QWidget*>{top, detail, p2}) AddBusyControl(w);

  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] { Search(); });
  ConnectGuarded(edt1, &QLineEdit::returnPressed, this, [this] { Search(); });
  ConnectGuarded(chk1, &QCheckBox::toggled, this, [this](bool on) {
    if (on) chk3->setChecked(false);
  });
  ConnectGuarded(chk3, &QCheckBox::toggled, this, [this](bool on) {
    if (on) chk1->setChecked(false);
  });
  ConnectGuarded(chk2, &QCheckBox::toggled, this, [this](bool on) { ShowDetail(on); });
  ConnectGuarded(btn6, &TFlatButton::clicked, this, [this] { CommitRow(); });
  ConnectGuarded(commit, &TFlatButton::clicked, this, [this] { CommitRow(); });
  ConnectGuarded(btn7, &TFlatButton::clicked, this, [this] { DeleteCurrent(); });
  ConnectGuarded(others, &TFlatButton::clicked, this, [this] { ShowAccountCharacters(); });
  ConnectGuarded(bank, &TFlatButton::clicked, this, [this] { OpenWarehouse(); });
  ConnectGuarded(skills, &TFlatButton::clicked, this, [this] { EditSkillsAndItems(); });
  ConnectGuarded(account, &QLabel::linkActivated, this, [this](const QString&) { OpenAccount(); });
  ConnectGuarded(online, &QLabel::linkActivated, this, [this](const QString&) { CheckOnline(); });
  ConnectGuarded(dbgrd1, &TDBGrid::RecordDoubleClicked, this, [this] {
    if (!Busy()) OpenAccount();
  });
}

bool Tcharmanager::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edtName && event->type() == QEvent::MouseButtonPress && !Busy())
    QMetaObject::invokeMethod(
        this, [this] { Guarded([&] { CopyName(); }); }, Qt::QueuedConnection);
  return TPagedBrowser::eventFilter(watched, event);
}

void Tcharmanager::CopyName() {
  if (!qry1().Active() || qry1().IsEmpty()) return;
  edtName->selectAll();
  Ui().SetClipboardText(edtName->text());
  ShowMessageBox(QStringLiteral("角色名已复制到剪贴板！修改它直接输入！"), CaptionWarning,
                 TMsgIcon::Information);
}

void Tcharmanager::ShowDetail(bool on) {
  // The panel takes its room from the grid, which scrolls its page meanwhile.
  static constexpr int kPanelRoom = 64;
  if (p2->isHidden() != on) return;
  dbgrd1->setMinimumHeight(dbgrd1->minimumHeight() + (on ? -kPanelRoom : kPanelRoom));
  p2->setVisible(on);
  btn6->setVisible(!on);
}

void Tcharmanager::Search() {
  const QString text = edt1->text();
  if (text.isEmpty() || text == QString::fromUtf8(kCharSearchHint)) {
    ShowMessageBox(QStringLiteral("搜索条件不能为空!"), CaptionError, TMsgIcon::Error);
    return;
  }
  if (!chk1->isChecked())
    return RunSearch(CharNameWhere(Encode(text), LiteralStyle(), chk3->isChecked()), false);
  if (FLinks.Acc == nullptr) return;
  auto account = OpenLookup(*FLinks.Acc, "Select * from user where " +
                                             NameIs("username", Encode(text), FLinks.Acc->LiteralStyle()));
  if (account->IsEmpty()) {
    ShowMessageBox(QStringLiteral("所查询的帐号不存在！"), CaptionWarning, TMsgIcon::Warning);
    return;
  }
  RunSearch(AccountIdWhere(account->FieldByName("idx")->AsLargeInt()), true);
}

bool Tcharmanager::HasCharRow() const {
  TMyQuery& query = const_cast<Tcharmanager*>(this)->qry1();
  if (query.Active() && !query.IsEmpty() && query.State() != dsInsert) return true;
  ShowMessageBox(QStringLiteral("当前没有选中的角色！"), CaptionHint, TMsgIcon::Warning);
  return false;
}

void Tcharmanager::CommitRow() {
  if (!HasCharRow()) return;
  if (qry1().State() != dsEdit) return;
  // The strip's edits hold what was typed until asked for it, as a move to another row asks.
  qry1().UpdateRecord();
  if (!qry1().Modified()) return qry1().Cancel();
  qry1().Post();
  ShowMessageBox(QStringLiteral("修改记录成功！"), CaptionHint, TMsgIcon::Information);
}

void Tcharmanager::DeleteCurrent() {
  if (!HasCharRow()) return;
  if (!AskYesNo(QStringLiteral("删除是不可逆操作，确定要删除该记录吗？"), CaptionHint, true)) return;
  qry1().Delete();
  ShowMessageBox(QStringLiteral("删除记录成功！"), CaptionHint, TMsgIcon::Information);
}

std::optional<double> Tcharmanager::LastSession(int64_t id, int kind) {
  auto query = OpenLookup(
      *FLinks.Log,
      "SELECT LogTime FROM t_log_user_history WHERE type=15 AND `longParam1`=" + std::to_string(kind) +
          " AND userID=" + std::to_string(id) + " ORDER BY OperateID DESC limit 0,1");
  if (query->IsEmpty() || query->Fields()[0]->IsNull()) return std::nullopt;
  return query->Fields()[0]->AsDateTime();
}

void Tcharmanager::CheckOnline() {
  if (!HasCharRow() || FLinks.Log == nullptr) return;
  const int64_t id = qry1().FieldByName("ID")->AsLargeInt();
  std::optional<double> login, logout;
  try {
    login = LastSession(id, 1);
    logout = LastSession(id, 2);
  } catch (const EAbort&) {
    throw;
  } catch (...) {
    ShowMessageBox(QStringLiteral("查询失败，请检查网络连接！"), CaptionWarning, TMsgIcon::Warning);
    return;
  }
  switch (OnlineStateOf(login, logout)) {
    case TOnlineState::NoLog:
      ShowMessageBox(QStringLiteral("查询为空，可能您完全清空了日志记录！"), CaptionWarning,
                     TMsgIcon::Warning);
      return;
    case TOnlineState::Online:
      ShowMessageBox(QStringLiteral("该用户当前在线，不能修改！！"), CaptionWarning, TMsgIcon::Error);
      return;
    case TOnlineState::Offline:
      ShowMessageBox(QStringLiteral("该用户当前不在线，可以修改！"), CaptionHint, TMsgIcon::Information);
      return;
  }
}

std::optional<Tcharmanager::TRowAccount> Tcharmanager::RowAccount() {
  if (!HasCharRow() || FLinks.Acc == nullptr) return std::nullopt;
  auto account = OpenLookup(*FLinks.Acc, "Select * from user where idx=" +
                                             std::to_string(qry1().FieldByName("AccountID")->AsLargeInt()));
  if (account->IsEmpty()) {
    ShowMessageBox(QStringLiteral("当前角色没有关联帐号，建议删除！！！"), CaptionWarning, TMsgIcon::Warning);
    return std::nullopt;
  }
  return TRowAccount{account->FieldByName("idx")->AsLargeInt(),
                     DecodeFieldText(account->FieldByName("username")->AsString(), FieldCharset())};
}

void Tcharmanager::OpenAccount() {
  const std::optional<TRowAccount> account = RowAccount();
  if (!account) return;
  OpenLinked(TLinkedBrowser::Accounts, FLinks, this, account->Idx, account->Name);
}

void Tcharmanager::SearchAccount(int64_t accountId, const QString& name) {
  edt1->setText(name);
  edt1->selectAll();
  edt1->setFocus();
  chk1->setChecked(true);
  RunSearch(AccountIdWhere(accountId), true);
}

void Tcharmanager::ShowAccountCharacters() {
  const std::optional<TRowAccount> account = RowAccount();
  if (!account) return;
  SearchAccount(account->Idx, account->Name);
}

void Tcharmanager::OpenWarehouse() {
  const std::optional<TRowAccount> account = RowAccount();
  if (!account) return;
  OpenLinked(TLinkedBrowser::Warehouse, FLinks, this, account->Idx, account->Name);
}

void Tcharmanager::EditSkillsAndItems() {
  if (!HasCharRow()) return;
  Tskillitems dialog(qry1(), ds1(), FieldCharset(), QStringLiteral("角色名：") + edtName->text(), this);
  Ui().ExecModal(dialog);
}
