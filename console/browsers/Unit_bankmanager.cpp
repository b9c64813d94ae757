#include "console/browsers/Unit_bankmanager.h"

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

std::vector<TDBGridColumn> BankColumns() {
  // Money and password change through their dialogs only (the balance's checks, the stored
  // password form), the items through theirs.
  return {{"AccountID1", QStringLiteral("帐号"), 80, Qt::AlignCenter, true},
          {"Items", QStringLiteral("装备数据"), 360, Qt::AlignCenter, true},
          {"BankMoney", QStringLiteral("金钱"), 120, Qt::AlignCenter, true},
          {"Password", QStringLiteral("仓库密码"), 180, Qt::AlignCenter, true}};
}

// The help link's text (UTF-8).
constexpr char kBankHelp[] = "参数说明：\n\r点击列名会根据升/降排序！大铅笔所在行的数据可编辑";

}  // namespace

Tbankmanager::Tbankmanager(const TGameLinks& links, QWidget* parent)
    : TPagedBrowser(*links.Chr, links.Charset, FTexts, parent),
      FLinks(links),
      FTexts(links.AccDB, LiteralStyle().Charset) {
  setObjectName(QStringLiteral("bankmanager"));
  setWindowTitle(QStringLiteral("仓库管理"));
  // The owner's name comes from a table of its own: the changes of a row go to t_bank only.
  qry1().SetUpdatingTable("t_bank");
  SetGridColumns(BankColumns());
  BuildStrips();
  RefreshPages();
}

Tbankmanager::~Tbankmanager() = default;

void Tbankmanager::BuildStrips() {
  auto* top = new QWidget(this);
  auto* search = new QHBoxLayout(top);
  search->setContentsMargins(0, 0, 0, 0);
  search->addWidget(new QLabel(QStringLiteral("按角色搜索："), top));
  edt1 = new QLineEdit(QString::fromUtf8(kBankSearchHint), top);
  edt1->setFixedWidth(150);
  search->addWidget(edt1);
  chk1 = new QCheckBox(QStringLiteral("按帐号查询"), top);
  search->addWidget(chk1);
  btn1 = AddStripButton(top, search, QStringLiteral("确 定"), 60);
  search->addStretch(1);
  AddHelpLink(top, search, QStringLiteral("参数帮助"), kBankHelp);
  QLabel* account = AddStripLink(top, search, QStringLiteral("管理此仓库帐号"));

  auto* detail = new QWidget(this);
  auto* strip = new QHBoxLayout(detail);
  strip->setContentsMargins(0, 0, 0, 0);
  auto addEdit = [&](const QString& label, const char* field, int width) {
    strip->addWidget(new QLabel(label, detail));
    auto* edit = new TDBEdit(detail);
    edit->Link().SetCharset(FieldCharset());
    edit->Link().SetDataSource(&ds1());
    edit->Link().SetDataField(field);
    edit->setFixedWidth(width);
    // Each changes through its dialog, or is copied, on a click.
    edit->setReadOnly(true);
    edit->installEventFilter(this);
    strip->addWidget(edit);
    return edit;
  };
  edtAccount = addEdit(QStringLiteral("帐号ID"), "AccountID1", 90);
  edtMoney = addEdit(QStringLiteral("金钱"), "BankMoney", 90);
  edtPassword = addEdit(QStringLiteral("仓库密码"), "Password", 130);
  edtItems = addEdit(QStringLiteral("仓库物品"), "Items", 200);
  strip->addStretch(1);
  btn7 = AddStripButton(detail, strip, QStringLiteral("删除"), 60);

  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  layout->insertWidget(0, top);
  layout->insertWidget(1, detail);
  for (QWidget* w : std::initializer_list<QWidget*>{top, detail}) AddBusyControl(w);

  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] { Search(); });
  ConnectGuarded(edt1, &QLineEdit::returnPressed, this, [this] { Search(); });
  ConnectGuarded(btn7, &TFlatButton::clicked, this, [this] { DeleteCurrent(); });
  ConnectGuarded(account, &QLabel::linkActivated, this, [this](const QString&) { OpenAccount(); });
  ConnectGuarded(dbgrd1, &TDBGrid::RecordDoubleClicked, this, [this] {
    if (!Busy()) OpenAccount();
  });
}

bool Tbankmanager::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::MouseButtonPress || Busy()) return TPagedBrowser::eventFilter(watched, event);
  // The dialogs run after the click has been delivered.
  auto later = [this](void (Tbankmanager::*action)()) {
    QMetaObject::invokeMethod(
        this, [this, action] { Guarded([&] { (this->*action)(); }); }, Qt::QueuedConnection);
  };
  if (watched == edtPassword) later(&Tbankmanager::EditPassword);
  if (watched == edtMoney) later(&Tbankmanager::EditMoney);
  if (watched == edtItems) later(&Tbankmanager::EditItems);
  if (watched == edtAccount) later(&Tbankmanager::CopyAccount);
  return TPagedBrowser::eventFilter(watched, event);
}

void Tbankmanager::Search() {
  const QString text = edt1->text();
  if (text.isEmpty() || text == QString::fromUtf8(kBankSearchHint)) {
    ShowMessageBox(QStringLiteral("搜索条件不能为空!"), CaptionHint, TMsgIcon::Information);
    return;
  }
  const bool byAccount = chk1->isChecked();
  int64_t key = 0;
  if (byAccount) {
    if (FLinks.Acc == nullptr) return;
    auto account = OpenLookup(*FLinks.Acc, "Select * from user where " +
                                               NameIs("username", Encode(text), FLinks.Acc->LiteralStyle()));
    if (account->IsEmpty()) {
      ShowMessageBox(QStringLiteral("所查询的帐号不存在！！！"), CaptionHint, TMsgIcon::Information);
      return;
    }
    key = account->FieldByName("idx")->AsLargeInt();
  } else {
    // By the name's own bytes ("bob" is not "Bob"); of twins of one name the living character,
    // who may have taken the name up since the other was deleted.
    auto character = OpenLookup(Connection(), CharacterByNameSql("AccountID", Encode(text), LiteralStyle()));
    if (character->IsEmpty()) {
      ShowMessageBox(QStringLiteral("输入有误，没有查询到指定的角色！"), CaptionHint, TMsgIcon::Information);
      return;
    }
    key = character->FieldByName("AccountID")->AsLargeInt();
  }
  RunSearch(AccountIdWhere(key), byAccount);
}

void Tbankmanager::SearchAccount(int64_t accountId, const QString& name) {
  edt1->setText(name);
  chk1->setChecked(true);
  RunSearch(AccountIdWhere(accountId), true);
}

bool Tbankmanager::HasBankRow() const {
  TMyQuery& query = const_cast<Tbankmanager*>(this)->qry1();
  if (query.Active() && !query.IsEmpty() && query.State() != dsInsert) return true;
  ShowMessageBox(QStringLiteral("当前没有选中的仓库！"), CaptionHint, TMsgIcon::Warning);
  return false;
}

void Tbankmanager::DeleteCurrent() {
  if (!HasBankRow()) return;
  if (!AskYesNo(QStringLiteral("删除是不可逆操作，确定要删除该记录吗？"), CaptionHint, true)) return;
  qry1().Delete();
  ShowMessageBox(QStringLiteral("删除记录成功！"), CaptionHint, TMsgIcon::Warning);
}

QString Tbankmanager::AccountLabel() const {
  return QStringLiteral("帐号ID：") + edtAccount->text();
}

void Tbankmanager::EditPassword() {
  if (!qry1().Active() || qry1().IsEmpty()) return;
  Tbankpassword dialog(qry1(), *edtPassword, AccountLabel(), this);
  Ui().ExecModal(dialog);
}

void Tbankmanager::EditMoney() {
  if (!qry1().Active() || qry1().IsEmpty()) return;
  Tbank_money dialog(qry1(), *edtMoney, AccountLabel(), this);
  Ui().ExecModal(dialog);
}

void Tbankmanager::EditItems() {
  if (!qry1().Active() || qry1().IsEmpty()) return;
  Tbankitems dialog(qry1(), ds1(), FieldCharset(), AccountLabel(), this);
  Ui().ExecModal(dialog);
}

void Tbankmanager::CopyAccount() {
  if (!qry1().Active() || qry1().IsEmpty()) return;
  edtAccount->selectAll();
  Ui().SetClipboardText(edtAccount->text());
  ShowMessageBox(QStringLiteral("帐号名已复制！"), CaptionHint, TMsgIcon::Information);
}

void Tbankmanager::OpenAccount() {
  if (!HasBankRow()) return;
  const QString name = edtAccount->text();
  if (name.isEmpty() || FLinks.Acc == nullptr) {
    ShowMessageBox(QStringLiteral("当前仓库没有关联帐号，建议删除！！！"), CaptionWarning, TMsgIcon::Warning);
    return;
  }
  OpenLinked(TLinkedBrowser::Accounts, FLinks, this, qry1().FieldByName("AccountID")->AsLargeInt(), name);
}
