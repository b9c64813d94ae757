#include "console/guild/Unit_gonghuicy_edit.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/browsers/BrowserPaging.h"
#include "console/browsers/RowStillAsRead.h"
#include "console/common/MyLoginConnection.h"
#include "console/common/TypedText.h"
#include "console/controls/FlatBtns.h"
#include "console/guild/GuildSql.h"
#include "console/guild/Unit_gonghui.h"
#include "platform/db/Fields.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/DBControls.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

Tgonghuicy_edit::Tgonghuicy_edit(Tgonghui& list)
    : QWidget(&list, Qt::Window),
      FList(list),
      FQuery(std::make_unique<TMyQuery>()),
      FSource(std::make_unique<TMyDataSource>()) {
  setObjectName(QStringLiteral("gonghuicy_edit"));
  setWindowTitle(QStringLiteral("成员编辑"));
  FQuery->SetCommandTimeout(kReadTimeoutSeconds);
  FQuery->Options().QuoteNames = true;
  FQuery->BeforePost = [this](TDataSet*) { CheckShownMember(); };
  FQuery->BeforeDelete = [this](TDataSet*) { CheckShownMember(); };
  // The game writes a member's title; the name, the key, is matched byte for byte too.
  PostOnlyIfStillAsRead(*FQuery, {"name", "nickname"});
  FSource->SetDataSet(FQuery.get());

  auto* layout = new QVBoxLayout(this);
  dbgrd1 = new TDBGrid(this);
  dbgrd1->SetCharset(list.FieldCharset());
  dbgrd1->SetColumns({{"name", {}, 200, std::nullopt, false},
                      {"nickname", {}, 220, std::nullopt, false},
                      {"official", {}, 100, std::nullopt, false}});
  dbgrd1->SetDataSource(FSource.get());
  dbgrd1->setMinimumSize(560, 240);
  layout->addWidget(dbgrd1, 1);

  auto* form = new QHBoxLayout();
  dbtxtname = new TDBText(this);
  dbedtnickname = new TDBEdit(this);
  dbedtofficial = new TDBEdit(this);
  const std::pair<TDBControlLink*, const char*> links[] = {{&dbtxtname->Link(), "name"},
                                                           {&dbedtnickname->Link(), "nickname"},
                                                           {&dbedtofficial->Link(), "official"}};
  for (const auto& [link, field] : links) {
    link->SetCharset(list.FieldCharset());
    link->SetDataSource(FSource.get());
    link->SetDataField(field);
  }
  dbtxtname->setMinimumWidth(100);
  form->addWidget(dbtxtname);
  form->addWidget(new QLabel(QStringLiteral("称号"), this));
  form->addWidget(dbedtnickname);
  form->addWidget(new QLabel(QStringLiteral("权限"), this));
  form->addWidget(dbedtofficial);
  layout->addLayout(form);

  auto* strip = new QHBoxLayout();
  edt1 = new QLineEdit(QStringLiteral("输入角色名"), this);
  edt1->installEventFilter(this);
  strip->addWidget(edt1);
  auto button = [this, strip](const QString& caption) {
    auto* b = new TFlatButton(this);
    b->SetCaption(caption);
    b->setFixedSize(70, 24);
    strip->addWidget(b);
    return b;
  };
  Button1 = button(QStringLiteral("搜 索"));
  Button2 = button(QStringLiteral("删除"));
  Button3 = button(QStringLiteral("提交修改"));
  Button4 = button(QStringLiteral("刷新"));
  layout->addLayout(strip);

  ConnectGuarded(Button1, &TFlatButton::clicked, this, [this] { Search(); });
  ConnectGuarded(edt1, &QLineEdit::returnPressed, this, [this] { Search(); });
  ConnectGuarded(Button2, &TFlatButton::clicked, this, [this] { DeleteMember(); });
  ConnectGuarded(dbgrd1, &QAbstractItemView::doubleClicked, this,
                 [this](const QModelIndex&) { DeleteMember(); });
  ConnectGuarded(Button3, &TFlatButton::clicked, this, [this] { Commit(); });
  ConnectGuarded(Button4, &TFlatButton::clicked, this,
                 [this] { RunShowingFailure(kReadFailure, [this] { RefreshMembers(); }); });
  try {
    RefreshMembers();
  } catch (...) {
    // The controls go with the window's base after the data source they still show.
    dbgrd1->SetDataSource(nullptr);
    for (TDBControlLink* link : {&dbtxtname->Link(), &dbedtnickname->Link(), &dbedtofficial->Link()})
      link->SetDataSource(nullptr);
    throw;
  }
}

Tgonghuicy_edit::~Tgonghuicy_edit() {
  dbgrd1->SetDataSource(nullptr);
  for (TDBControlLink* link : {&dbtxtname->Link(), &dbedtnickname->Link(), &dbedtofficial->Link()})
    link->SetDataSource(nullptr);
}

bool Tgonghuicy_edit::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edt1 && event->type() == QEvent::MouseButtonPress) edt1->clear();
  return QWidget::eventFilter(watched, event);
}

void Tgonghuicy_edit::OpenMembers(const std::string& sql) {
  FQuery->Close();
  FQuery->SetConnection(&FList.Connection());
  FQuery->SetSQLText(sql);
  FQuery->Open();
}

void Tgonghuicy_edit::RefreshMembers() {
  FUnionId = FList.CurrentId();
  ShowGuildMembers();
}

void Tgonghuicy_edit::ShowGuildMembers() {
  OpenMembers(GuildMembersSql(FUnionId, FList.LiteralStyle()));
}

void Tgonghuicy_edit::Search() {
  const QString text = edt1->text();
  if (text.isEmpty()) {
    ShowMessageBox(QStringLiteral("搜索内容不能为空！"), CaptionHint, TMsgIcon::Information);
    return;
  }
  const std::string typed = TypedBytes(text, FList.FieldCharset(), QStringLiteral("搜索内容"));
  RunShowingFailure(kReadFailure, [&] { OpenMembers(MemberSearchSql(typed, FList.LiteralStyle())); });
}

bool Tgonghuicy_edit::HasMemberRow() {
  // Typing a title over an empty list began a new row: it is no member, and posting it would
  // add one nobody asked for.
  if (FQuery->Active() && FQuery->State() == dsInsert) FQuery->Cancel();
  return FQuery->Active() && !FQuery->IsEmpty();
}

void Tgonghuicy_edit::CheckShownMember() {
  if (FQuery->State() == dsInsert) return;
  // The name is the table's key, and the game's latin1 column takes "bob" for "Bob": a member who
  // left and a namesake who joined meanwhile would take the write meant for the row shown.
  const Variant name = FQuery->FieldByName("name")->OldValue();
  const Variant unionId = FQuery->FieldByName("UnionID")->OldValue();
  if (name.IsNull()) return;
  TMyQuery held;
  held.SetCommandTimeout(kReadTimeoutSeconds);
  held.SetConnection(&FList.Connection());
  TDBAccessUtils::SetSQLText(&held, "select name, UnionID from t_union_citizen where name = " +
                                        SqlLiteral(name.AsString(), FList.LiteralStyle()));
  held.Open();
  // No row: the write finds none and says so itself.
  if (held.IsEmpty()) return;
  if (held.FieldByName("name")->AsString() == name.AsString() &&
      held.FieldByName("UnionID")->AsString() == unionId.AsString())
    return;
  ShowMessageBox(
      QStringLiteral("该成员已变动（已退出工会，或其名字已属于另一条成员记录），没有修改！请刷新后重试。"),
      CaptionError, TMsgIcon::Error);
  throw EAbort("the member shown is no longer the one the server holds");
}

void Tgonghuicy_edit::DeleteMember() {
  // Nothing to delete: no question about it.
  if (!HasMemberRow()) return;
  if (!AskYesNo(QStringLiteral("删除是不可逆操作，确定要删除该成员吗？"), CaptionHint, true)) return;
  FQuery->Delete();
  ShowMessageBox(QStringLiteral("删除成员成功！"), CaptionHint, TMsgIcon::Warning);
  // The guild this editor was opened for, wherever the list has moved since.
  RunShowingFailure(kReadFailure, [this] { ShowGuildMembers(); });
}

void Tgonghuicy_edit::Commit() {
  if (!HasMemberRow()) return;
  FQuery->Edit();
  try {
    FQuery->Post();
  } catch (const EDatabaseError& e) {
    if (!FoundNoRowAsRead(e)) throw;
    // The edit stays, with the game master's text in the controls.
    ShowMessageBox(ChangedSinceReadText(), CaptionWarning, TMsgIcon::Warning);
    return;
  }
  ShowMessageBox(QStringLiteral("修改成功！"), CaptionHint, TMsgIcon::Warning);
}
