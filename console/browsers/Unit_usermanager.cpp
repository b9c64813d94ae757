#include "console/browsers/Unit_usermanager.h"

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

const TAccountTexts kAccountTexts;

std::vector<TDBGridColumn> AccountColumns() {
  return {{"idx", QStringLiteral("序号"), 60, Qt::AlignCenter, true},
          {"username", QStringLiteral("用户名"), 100, Qt::AlignCenter, true},
          // The password and the balance change through their dialogs only (the stored password
          // form, the balance's checks), never as typed into the grid.
          {"password", QStringLiteral("密码*"), 115, Qt::AlignCenter, true},
          {"deleted", QStringLiteral("删除"), 60, Qt::AlignCenter, false},
          {"user_priv", QStringLiteral("权限"), 80, Qt::AlignCenter, true},
          {"locked", QStringLiteral("锁定"), 55, Qt::AlignCenter, true},
          {"latest_login_date", QStringLiteral("最后登录"), 120, Qt::AlignCenter, false},
          {"latest_login_ip", QStringLiteral("最后登录IP"), 90, Qt::AlignCenter, false},
          {"webmoney", QStringLiteral("网站积分"), 70, Qt::AlignCenter, true}};
}

}  // namespace

Tusermanager::Tusermanager(TCustomMyConnection& connection, const QString& charsetText, QWidget* parent)
    : TPagedBrowser(connection, charsetText, kAccountTexts, parent) {
  setObjectName(QStringLiteral("usermanager"));
  setWindowTitle(QStringLiteral("帐号管理"));
  SetGridColumns(AccountColumns());
  BuildStrips();
  RefreshPages();
}

Tusermanager::~Tusermanager() = default;

void Tusermanager::BuildStrips() {
  auto* top = new QWidget(this);
  auto* search = new QHBoxLayout(top);
  search->setContentsMargins(0, 0, 0, 0);
  search->addWidget(new QLabel(QStringLiteral("查找帐号："), top));
  edt1 = new QLineEdit(QString::fromUtf8(kAccountSearchHint), top);
  edt1->setFixedWidth(150);
  edt1->installEventFilter(this);
  search->addWidget(edt1);
  chk1 = new QCheckBox(QStringLiteral("按权限(数字)"), top);
  CheckBox1 = new QCheckBox(QStringLiteral("模糊查找"), top);
  CheckBox1->setChecked(true);
  search->addWidget(chk1);
  search->addWidget(CheckBox1);
  btn1 = AddStripButton(top, search, QStringLiteral("确 定"), 60);
  search->addStretch(1);
  AddHelpLink(top, search, QStringLiteral("参数帮助"), kSortingHelp);
  QLabel* characters = AddStripLink(top, search, QStringLiteral("管理该帐号下角色"));

  auto* detail = new QWidget(this);
  auto* strip = new QHBoxLayout(detail);
  strip->setContentsMargins(0, 0, 0, 0);
  auto addEdit = [&](const QString& label, const char* field, TDBEdit*& edit) {
    strip->addWidget(new QLabel(label, detail));
    edit = new TDBEdit(detail);
    edit->Link().SetCharset(FieldCharset());
    edit->Link().SetDataSource(&ds1());
    edit->Link().SetDataField(field);
    edit->setFixedWidth(&edit == &edtPassword ? 130 : 70);
    strip->addWidget(edit);
  };
  addEdit(QStringLiteral("权限"), "user_priv", edtPriv);
  addEdit(QStringLiteral("用户名"), "username", edtName);
  addEdit(QStringLiteral("密码"), "password", edtPassword);
  addEdit(QStringLiteral("锁定"), "locked", edtLocked);
  addEdit(QStringLiteral("网站积分"), "webmoney", edtMoney);
  edtName->setEnabled(false);
  // These change through their dialogs and questions, which a click opens.
  for (TDBEdit* e : {edtPriv, edtPassword, edtLocked, edtMoney}) {
    e->setReadOnly(true);
    e->installEventFilter(this);
  }
  strip->addStretch(1);
  btn6 = AddStripButton(detail, strip, QStringLiteral("提交"), 60);
  btn7 = AddStripButton(detail, strip, QStringLiteral("删除当前帐号"), 100);

  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  layout->insertWidget(0, top);
  layout->insertWidget(1, detail);
  for (QWidget* w : std::initializer_list<QWidget*>{edt1, chk1, CheckBox1, btn1, btn6, btn7, detail})
    AddBusyControl(w);

  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] { Search(); });
  ConnectGuarded(edt1, &QLineEdit::returnPressed, this, [this] { Search(); });
  ConnectGuarded(chk1, &QCheckBox::toggled, this, [this](bool on) {
    if (on)
      edt1->setText(QStringLiteral("65535"));
    else
      edt1->clear();
  });
  ConnectGuarded(btn6, &TFlatButton::clicked, this, [this] { CommitRow(); });
  ConnectGuarded(btn7, &TFlatButton::clicked, this, [this] { DeleteCurrent(); });
  ConnectGuarded(characters, &QLabel::linkActivated, this, [this](const QString&) { OpenCharacters(); });
  ConnectGuarded(dbgrd1, &TDBGrid::RecordDoubleClicked, this, [this] {
    if (!Busy()) OpenCharacters();
  });
}

void Tusermanager::OpenCharacters() {
  if (!HasAccountRow() || FLinks.Chr == nullptr) return;
  OpenLinked(TLinkedBrowser::Characters, FLinks, this, qry1().FieldByName("idx")->AsLargeInt(), UserName());
}

bool Tusermanager::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::MouseButtonPress || Busy()) return TPagedBrowser::eventFilter(watched, event);
  if (watched == edt1) {
    edt1->clear();
    return false;
  }
  // The dialogs and questions run after the click has been delivered.
  auto later = [this](void (Tusermanager::*action)()) {
    QMetaObject::invokeMethod(
        this, [this, action] { Guarded([&] { (this->*action)(); }); }, Qt::QueuedConnection);
  };
  if (watched == edtPassword) later(&Tusermanager::EditPassword);
  if (watched == edtMoney) later(&Tusermanager::EditBalance);
  if (watched == edtLocked) later(&Tusermanager::ToggleLock);
  if (watched == edtPriv) later(&Tusermanager::ToggleGm);
  return TPagedBrowser::eventFilter(watched, event);
}

void Tusermanager::Search() {
  const QString text = edt1->text();
  if (text.isEmpty() || text == QString::fromUtf8(kAccountSearchHint)) {
    ShowMessageBox(QStringLiteral("搜索条件不能为空!"), CaptionWarning, TMsgIcon::Warning);
    return;
  }
  if (chk1->isChecked() && !IsPrivilegeText(text.toStdString())) {
    ShowMessageBox(QStringLiteral("按权限查找只能输入数字！"), CaptionWarning, TMsgIcon::Warning);
    return;
  }
  const TAccountSearch search{Encode(text), chk1->isChecked(), CheckBox1->isChecked()};
  RunSearch(AccountSearchWhere(search, LiteralStyle()), search.ByPrivilege);
}

void Tusermanager::SearchAccount(int64_t idx, const QString& name) {
  edt1->setText(name);
  CheckBox1->setChecked(false);
  RunSearch(AccountIdxWhere(idx), false);
}

bool Tusermanager::HasAccountRow() const {
  TMyQuery& query = const_cast<Tusermanager*>(this)->qry1();
  if (query.Active() && !query.IsEmpty() && query.State() != dsInsert) return true;
  ShowMessageBox(QStringLiteral("当前没有选中的帐号！"), CaptionHint, TMsgIcon::Warning);
  return false;
}

void Tusermanager::DeleteCurrent() {
  if (!HasAccountRow()) return;
  if (!AskYesNo(QStringLiteral("删除是不可逆操作，确定要删除该记录吗？"), CaptionHint, true)) return;
  qry1().Delete();
  ShowMessageBox(QStringLiteral("删除记录成功！"), CaptionHint, TMsgIcon::Warning);
}

void Tusermanager::CommitRow() {
  if (!HasAccountRow()) return;
  // Only a row edited in the grid has anything to write.
  if (qry1().State() != dsEdit) return;
  if (!qry1().Modified()) return qry1().Cancel();
  qry1().Post();
  ShowMessageBox(QStringLiteral("修改记录成功！"), CaptionHint, TMsgIcon::Warning);
}

QString Tusermanager::UserName() const {
  return edtName->text();
}

void Tusermanager::EditPassword() {
  if (!qry1().Active() || qry1().IsEmpty()) return;
  Tuser_password dialog(qry1(), *edtPassword, QStringLiteral("帐号：") + UserName(), this);
  Ui().ExecModal(dialog);
}

void Tusermanager::EditBalance() {
  if (!qry1().Active() || qry1().IsEmpty()) return;
  Tusermoney dialog(qry1(), *edtMoney, QStringLiteral("帐号：") + UserName(), this);
  Ui().ExecModal(dialog);
}

void Tusermanager::PostValue(TDBEdit& edit, const QString& value) {
  qry1().Edit();
  edit.setText(value);
  PostOrCancel(qry1());
}

void Tusermanager::ToggleLock() {
  if (!qry1().Active() || qry1().IsEmpty()) return;
  const bool locked = edtLocked->text() != QStringLiteral("0");
  const QString question =
      QStringLiteral("当前帐号:") + UserName() +
      (locked ? QStringLiteral("已锁定，是否解锁？") : QStringLiteral("未锁定，是否锁定？"));
  if (!AskYesNo(question)) return;
  PostValue(*edtLocked, locked ? QStringLiteral("0") : QStringLiteral("1"));
}

void Tusermanager::ToggleGm() {
  if (!qry1().Active() || qry1().IsEmpty()) return;
  if (edtPriv->text() == QStringLiteral("65535")) {
    if (AskYesNo(QStringLiteral("当前帐号:") + UserName() + QStringLiteral("属于GM帐号，是否改为普通帐号？")))
      PostValue(*edtPriv, QStringLiteral("1"));
    return;
  }
  if (!AskYesNo(QStringLiteral("当前帐号:") + UserName() + QStringLiteral("属于普通帐号，是否改为GM帐号？")))
    return;
  if (!AskOkCancel(QStringLiteral("您选择了将普通帐号变成GM帐号，这样会降低游戏"
                                  "的安全性，是否继续？"),
                   CaptionWarning, TMsgIcon::Warning, true))
    return;
  PostValue(*edtPriv, QStringLiteral("65535"));
}
