#include "console/guild/Unit_gonghui.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QVBoxLayout>

#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/browsers/RowStillAsRead.h"
#include "console/common/MyLoginConnection.h"
#include "console/common/TypedText.h"
#include "console/controls/FlatBtns.h"
#include "console/guild/GuildSql.h"
#include "console/guild/Unit_gonghui_edit.h"
#include "console/guild/Unit_gonghuicy_edit.h"
#include "platform/runtime/Exceptions.h"
#include "platform/widgets/DBControls.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

const QString kGuildSearchHint = QStringLiteral("请输入工会名");

}  // namespace

void ShowEditorWindow(QWidget& editor) {
  editor.setWindowFlags(Qt::Window | Qt::WindowStaysOnTopHint);
  editor.setAttribute(Qt::WA_DeleteOnClose);
  editor.adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = editor.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    editor.move(frame.topLeft());
  }
  editor.show();
}

QString FailureText(const QString& failure, const std::exception& e) {
  return failure + QStringLiteral("\n\r") + ExceptionText(e);
}

bool RunShowingFailure(const QString& failure, const std::function<void()>& work) {
  try {
    work();
    return true;
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    ShowMessageBox(FailureText(failure, e), CaptionError, TMsgIcon::Error);
    return false;
  }
}

Tgonghui::Tgonghui(TCustomMyConnection& con2, const QString& charsetText, QWidget* parent)
    : QWidget(parent),
      FConnection(con2),
      FFieldCharset(FieldCharsetOfChoice(charsetText)),
      FQuery(std::make_unique<TMyQuery>()),
      FStatements(std::make_unique<TMyQuery>()),
      FSource(std::make_unique<TMyDataSource>()) {
  setObjectName(QStringLiteral("gonghui"));
  setWindowTitle(QStringLiteral("工会管理"));
  setAttribute(Qt::WA_DeleteOnClose);
  for (TMyQuery* q : {FQuery.get(), FStatements.get()}) {
    q->SetCommandTimeout(kReadTimeoutSeconds);
    q->SetConnection(&FConnection);
  }
  FQuery->Options().QuoteNames = true;
  // The game writes a guild's declaration and bulletin: an edit never goes over theirs.
  PostOnlyIfStillAsRead(*FQuery, {"Enounce", "Bulletin"});
  FSource->SetDataSet(FQuery.get());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  dbgrd1 = new TDBGrid(this);
  dbgrd1->SetCharset(FFieldCharset);
  dbgrd1->SetDataSource(FSource.get());
  layout->addWidget(dbgrd1, 1);
  auto* strip = new QHBoxLayout();
  strip->addWidget(new QLabel(QStringLiteral("当前工会："), this));
  dbtxtName = new TDBText(this);
  dbtxtName->Link().SetCharset(FFieldCharset);
  dbtxtName->Link().SetDataSource(FSource.get());
  dbtxtName->Link().SetDataField("Name");
  dbtxtName->setMinimumWidth(120);
  strip->addWidget(dbtxtName);
  edt1 = new QLineEdit(kGuildSearchHint, this);
  edt1->setFixedWidth(150);
  edt1->installEventFilter(this);
  strip->addWidget(edt1);
  auto button = [this, strip](const QString& caption) {
    auto* b = new TFlatButton(this);
    b->SetCaption(caption);
    b->setFixedSize(80, 24);
    strip->addWidget(b);
    return b;
  };
  Button1 = button(QStringLiteral("搜 索"));
  strip->addStretch(1);
  Button2 = button(QStringLiteral("编辑工会"));
  Button3 = button(QStringLiteral("编辑成员"));
  Button4 = button(QStringLiteral("解散工会"));
  Button5 = button(QStringLiteral("刷新"));
  layout->addLayout(strip);

  ConnectGuarded(Button1, &TFlatButton::clicked, this, [this] { Search(); });
  ConnectGuarded(edt1, &QLineEdit::returnPressed, this, [this] { Search(); });
  ConnectGuarded(Button2, &TFlatButton::clicked, this, [this] { EditGuild(); });
  ConnectGuarded(dbgrd1, &QAbstractItemView::doubleClicked, this,
                 [this](const QModelIndex&) { EditGuild(); });
  ConnectGuarded(Button3, &TFlatButton::clicked, this, [this] { EditMembers(); });
  ConnectGuarded(Button4, &TFlatButton::clicked, this, [this] { Dissolve(); });
  ConnectGuarded(Button5, &TFlatButton::clicked, this,
                 [this] { RunShowingFailure(kReadFailure, [this] { RefreshGuilds(); }); });
  try {
    RefreshGuilds();
  } catch (...) {
    // The controls go with the window's base after the data source they still show.
    dbgrd1->SetDataSource(nullptr);
    dbtxtName->Link().SetDataSource(nullptr);
    throw;
  }
}

Tgonghui::~Tgonghui() {
  // Editors still open work on this window's rows: they go first.
  for (QWidget* editor : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (editor->isWindow()) delete editor;
  dbgrd1->SetDataSource(nullptr);
  dbtxtName->Link().SetDataSource(nullptr);
}

bool Tgonghui::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edt1 && event->type() == QEvent::MouseButtonPress) edt1->clear();
  return QWidget::eventFilter(watched, event);
}

std::string Tgonghui::CurrentValue(const char* field) const {
  TMyQuery& q = *FQuery;
  if (!q.Active() || q.IsEmpty()) return {};
  TField* f = q.FindField(field);
  return f != nullptr && !f->IsNull() ? f->AsString() : std::string();
}

std::string Tgonghui::CurrentId() const {
  return CurrentValue("ID");
}

void Tgonghui::OpenGuilds(const std::string& sql) {
  FQuery->Close();
  FQuery->SetConnection(&FConnection);
  FQuery->SetSQLText(sql);
  FQuery->Open();
}

void Tgonghui::RefreshGuilds() {
  OpenGuilds(GuildListSql());
}

void Tgonghui::Search() {
  const QString text = edt1->text();
  if (text.isEmpty()) {
    ShowMessageBox(QStringLiteral("搜索内容不能为空！"), CaptionHint, TMsgIcon::Information);
    return;
  }
  // A "?" in place of a character the set lacks would find other guilds than the one named.
  const std::string typed = TypedBytes(text, FFieldCharset, QStringLiteral("搜索内容"));
  RunShowingFailure(kReadFailure, [&] { OpenGuilds(GuildSearchSql(typed, LiteralStyle())); });
}

Tgonghui_edit* Tgonghui::EditGuild() {
  if (CurrentValue("Name").empty()) {
    ShowMessageBox(QStringLiteral("没有选择工会无法进行编辑！"), CaptionError, TMsgIcon::Error);
    return nullptr;
  }
  auto* editor = new Tgonghui_edit(*this);
  ShowEditorWindow(*editor);
  return editor;
}

Tgonghuicy_edit* Tgonghui::EditMembers() {
  if (CurrentId().empty()) {
    ShowMessageBox(QStringLiteral("没有选择工会,无法进行成员编辑！"), CaptionError, TMsgIcon::Error);
    return nullptr;
  }
  Tgonghuicy_edit* editor = nullptr;
  if (!RunShowingFailure(kReadFailure, [&] { editor = new Tgonghuicy_edit(*this); })) return nullptr;
  ShowEditorWindow(*editor);
  return editor;
}

void Tgonghui::Dissolve() {
  const std::string id = CurrentId();
  if (id.empty()) {
    ShowMessageBox(QStringLiteral("没有选择工会,无法解散！"), CaptionError, TMsgIcon::Error);
    return;
  }
  if (!AskYesNo(QStringLiteral("解散操作是不可逆操作，确定要解散该工会吗？"), CaptionHint, true)) return;
  // The members go first, then the guild: the game's MyISAM tables take nothing back, and a
  // guild left without members can still be chosen and dissolved again.
  const std::vector<std::string> statements = DissolveGuildSql(id, LiteralStyle());
  for (size_t i = 0; i < statements.size(); ++i) {
    try {
      FStatements->Close();
      FStatements->SetConnection(&FConnection);
      FStatements->SetSQLText(statements[i]);
      FStatements->Execute();
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      // Past the first statement the members are gone already: the box says so.
      ShowMessageBox(FailureText(i == 0 ? QStringLiteral("执行失败，请检查网络连接！")
                                        : QStringLiteral("该工会的成员已全部删除，但工会本身没有删除，"
                                                         "请重新解散！"),
                                 e),
                     CaptionError, TMsgIcon::Error);
      if (i > 0) RunShowingFailure(kReadFailure, [this] { RefreshGuilds(); });
      return;
    }
  }
  // No guild row went: it was gone before (dissolved in the game meanwhile), nothing to report
  // as done.
  const bool removed = FStatements->RowsAffected() > 0;
  ShowMessageBox(
      removed ? QStringLiteral("解散工会成功！") : QStringLiteral("该工会已不存在，可能已被解散！"),
      CaptionHint, TMsgIcon::Warning);
  RunShowingFailure(kReadFailure, [this] { RefreshGuilds(); });
}
