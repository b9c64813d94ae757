#include "console/browsers/Unit_logmanager.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <functional>
#include <iterator>

#include "components/MyAccessCommand.h"
#include "components/MyAccessConnection.h"
#include "components/MyAccessDataSet.h"
#include "console/browsers/BrowserLinks.h"
#include "console/common/MyLoginConnection.h"
#include "console/common/TypedText.h"
#include "console/controls/FlatBtns.h"
#include "platform/runtime/DateTimeUtils.h"
#include "platform/widgets/DBControls.h"
#include "platform/widgets/DBGrid.h"
#include "platform/widgets/ErrorReport.h"
#include "platform/widgets/UiService.h"

namespace {

// A cleanup of a large log is one long statement, beyond what a page may take.
constexpr int kCleanupTimeoutSeconds = 300;
constexpr char kTimeFormat[] = "yyyy-mm-dd hh:nn:ss";

std::unique_ptr<TLogTexts> MakeLogTexts(TCustomMyConnection& logConnection, const QString& charDb,
                                        const QString& charsetText) {
  const TFieldCharset charset = FieldCharsetOfChoice(charsetText);
  const std::string quotedDb =
      QuotedColumn(EncodeFieldText(charDb, charset), logConnection.LiteralStyle().Charset);
  const std::string types = EncodeFieldText(QString::fromStdString(LogTypeExpression()), charset);
  return std::make_unique<TLogTexts>(LogFieldList(quotedDb, types));
}

std::vector<TDBGridColumn> LogColumns() {
  return {{"OperateID", QStringLiteral("序号"), 60, Qt::AlignCenter, true},
          {"UserID", QStringLiteral("角色ID"), 100, Qt::AlignCenter, true},
          // Computed by the page statement: no column of the log could take an edit.
          {"Type", QStringLiteral("动作"), 72, Qt::AlignCenter, true},
          {"strParam1", QStringLiteral("发送内容"), 90, Qt::AlignCenter, false},
          {"strParam2", QStringLiteral("接收内容"), 74, Qt::AlignCenter, true},
          {"strParam3", QStringLiteral("附加内容"), 71, Qt::AlignCenter, true},
          {"LogTime", QStringLiteral("时间"), 120, Qt::AlignCenter, false},
          {"userIP", QStringLiteral("操作IP"), 102, Qt::AlignCenter, false}};
}

QString NowText() {
  return QString::fromStdString(FormatDateTime(kTimeFormat, Ui().Now()));
}

}  // namespace

Tlogmanager::Tlogmanager(TCustomMyConnection& logConnection, TCustomMyConnection& charConnection,
                         const QString& charDb, const QString& charsetText, QWidget* parent)
    : Tlogmanager(logConnection, charConnection, MakeLogTexts(logConnection, charDb, charsetText),
                  charsetText, parent) {}

Tlogmanager::Tlogmanager(TCustomMyConnection& logConnection, TCustomMyConnection& charConnection,
                         std::unique_ptr<TLogTexts> texts, const QString& charsetText, QWidget* parent)
    : TPagedBrowser(logConnection, charsetText, *texts, parent),
      FCharConnection(charConnection),
      FTexts(std::move(texts)),
      FCleanup(std::make_unique<TMyCommand>()) {
  setObjectName(QStringLiteral("logmanager"));
  setWindowTitle(QStringLiteral("日志管理"));
  FCleanup->SetCommandTimeout(kCleanupTimeoutSeconds);
  SetGridColumns(LogColumns());
  dbgrd1->SetMultiSelect(true);
  BuildStrips();
  RefreshPages();
}

Tlogmanager::~Tlogmanager() {
  // The detail strip lets go of the data source before the family's queries close.
  for (TDBControlLink* link :
       {&dbedtuserID->Link(), &dbmmostrParam1->Link(), &dbmmostrParam2->Link(), &dbmmostrParam3->Link()})
    link->SetDataSource(nullptr);
}

void Tlogmanager::BuildStrips() {
  auto* top = new QWidget(this);
  auto* search = new QHBoxLayout(top);
  search->setContentsMargins(0, 0, 0, 0);
  edt1 = new QLineEdit(QString::fromUtf8(kLogNameHint), top);
  edt2 = new QLineEdit(top);
  edt3 = new QLineEdit(top);
  edt1->setFixedWidth(100);
  for (QLineEdit* e : {edt2, edt3}) {
    e->setFixedWidth(150);
    e->setPlaceholderText(QString::fromUtf8(kTimeFormat));
  }
  search->addWidget(edt1);
  search->addWidget(new QLabel(QStringLiteral("从"), top));
  search->addWidget(edt2);
  search->addWidget(new QLabel(QStringLiteral("到"), top));
  search->addWidget(edt3);
  cbb1 = new QComboBox(top);
  for (const TLogActionFilter& f : kLogActionFilters) cbb1->addItem(QString::fromUtf8(f.Item));
  search->addWidget(cbb1);
  btn1 = AddStripButton(top, search, QStringLiteral("搜 索"), 60);
  search->addStretch(1);
  AddHelpLink(top, search, QStringLiteral("帮助"), kSortingHelp);

  auto* filters = new QWidget(this);
  auto* strip = new QHBoxLayout(filters);
  strip->setContentsMargins(0, 0, 0, 0);
  btn5 = AddStripButton(filters, strip, QStringLiteral("GM日志"), 70);
  btn8 = AddStripButton(filters, strip, QStringLiteral("交易发起"), 70);
  btn9 = AddStripButton(filters, strip, QStringLiteral("交易接收"), 70);
  btn10 = AddStripButton(filters, strip, QStringLiteral("拍卖日志"), 70);
  FlatButton1 = AddStripButton(filters, strip, QStringLiteral("全部日志"), 70);
  strip->addSpacing(16);
  strip->addWidget(new QLabel(QStringLiteral("清除"), filters));
  edt4 = new QLineEdit(filters);
  edt4->setFixedWidth(150);
  edt4->setPlaceholderText(QString::fromUtf8(kTimeFormat));
  strip->addWidget(edt4);
  strip->addWidget(new QLabel(QStringLiteral("之前的日志"), filters));
  btn6 = AddStripButton(filters, strip, QStringLiteral("提交"), 50);
  strip->addStretch(1);
  btn7 = AddStripButton(filters, strip, QStringLiteral("隐藏MEMO"), 80);

  auto* layout = static_cast<QVBoxLayout*>(this->layout());
  layout->insertWidget(0, top);
  layout->insertWidget(1, filters);
  pnl2 = BuildDetail();
  layout->addWidget(pnl2);

  cal1 = new QCalendarWidget(this);
  cal1->setFixedSize(240, 170);
  cal1->hide();

  for (QWidget* w : std::initializer_list<QWidget*>{edt1, edt2, edt3, edt4, cbb1, btn1, btn5, btn8, btn9,
                                                    btn10, FlatButton1, btn6, cal1})
    AddBusyControl(w);
  for (QLineEdit* e : {edt1, edt2, edt3, edt4}) e->installEventFilter(this);

  ConnectGuarded(btn1, &TFlatButton::clicked, this, [this] { Search(); });
  const std::pair<TFlatButton*, int> quick[] = {
      {btn5, 0}, {btn8, 1}, {btn9, 2}, {btn10, 3}, {FlatButton1, 4}};
  for (const auto& [button, index] : quick)
    ConnectGuarded(button, &TFlatButton::clicked, this, [this, index = index] { QuickFilter(index); });
  ConnectGuarded(btn6, &TFlatButton::clicked, this, [this] { CleanUp(); });
  ConnectGuarded(btn7, &TFlatButton::clicked, this, [this] { ToggleMemo(); });
  ConnectGuarded(cal1, &QCalendarWidget::activated, this, [this](QDate) { PickDate(); });
}

QWidget* Tlogmanager::BuildDetail() {
  auto* panel = new QWidget(this);
  auto* strip = new QHBoxLayout(panel);
  strip->setContentsMargins(0, 0, 0, 0);
  strip->addWidget(new QLabel(QStringLiteral("角色名"), panel));
  dbedtuserID = new TDBEdit(panel);
  dbedtuserID->setFixedWidth(100);
  auto bind = [this](TDBControlLink& link, const char* field) {
    link.SetCharset(FieldCharset());
    link.SetDataSource(&ds1());
    link.SetDataField(field);
  };
  bind(dbedtuserID->Link(), "UserID");
  dbedtuserID->setReadOnly(true);
  dbedtuserID->installEventFilter(this);
  strip->addWidget(dbedtuserID);
  const std::pair<const char*, TDBMemo**> memos[] = {
      {"发送", &dbmmostrParam1}, {"接收", &dbmmostrParam2}, {"附加", &dbmmostrParam3}};
  int field = 1;
  for (const auto& [label, memo] : memos) {
    strip->addWidget(new QLabel(QString::fromUtf8(label), panel));
    *memo = new TDBMemo(panel);
    bind((*memo)->Link(), ("strParam" + std::to_string(field++)).c_str());
    // The texts are there to be read and copied, not changed.
    (*memo)->setReadOnly(true);
    (*memo)->setFixedHeight(34);
    (*memo)->viewport()->installEventFilter(this);
    strip->addWidget(*memo, 1);
  }
  return panel;
}

bool Tlogmanager::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::KeyPress && cal1->isVisible() &&
      (watched == edt2 || watched == edt3 || watched == edt4))
    cal1->hide();
  if (type != QEvent::MouseButtonPress || Busy()) return TPagedBrowser::eventFilter(watched, event);
  if (watched == edt1) edt1->clear();
  if (watched == edt2 || watched == edt3 || watched == edt4) ShowCalendar(static_cast<QLineEdit*>(watched));
  // Questions and copies run after the press has been delivered.
  auto later = [this](std::function<void()> action) {
    QMetaObject::invokeMethod(
        this, [this, action] { Guarded([&] { action(); }); }, Qt::QueuedConnection);
  };
  if (watched == dbedtuserID) later([this] { CopyName(); });
  const TDBMemo* memos[] = {dbmmostrParam1, dbmmostrParam2, dbmmostrParam3};
  for (int i = 0; i < 3; ++i)
    if (watched == memos[i]->viewport()) later([this, i] { CopyParameter(i); });
  return TPagedBrowser::eventFilter(watched, event);
}

void Tlogmanager::ShowCalendar(QLineEdit* edit) {
  const QPoint places[] = {{288, 32}, {440, 32}, {536, 64}};
  const int index = edit == edt2 ? 0 : edit == edt3 ? 1 : 2;
  FDateEdit = edit;
  cal1->move(places[index]);
  cal1->raise();
  cal1->show();
}

void Tlogmanager::PickDate() {
  const QDate date = cal1->selectedDate();
  if (FDateEdit != nullptr && date.isValid())
    FDateEdit->setText(QString::fromStdString(
        FormatDateTime(kTimeFormat, EncodeDateTime(date.year(), date.month(), date.day(), 0, 0, 0, 0))));
  cal1->hide();
}

void Tlogmanager::ShowRefusal(const TLogRefusal& refusal) {
  const QString text = QString::fromStdString(refusal.Text);
  switch (refusal.Box) {
    case TLogBox::Hint:
      return ShowMessageBox(text, CaptionHint, TMsgIcon::Information);
    case TLogBox::Warning:
      return ShowMessageBox(text, CaptionWarning, TMsgIcon::Warning);
    case TLogBox::Error:
      return ShowMessageBox(text, CaptionError, TMsgIcon::Error);
  }
}

std::optional<int64_t> Tlogmanager::CharacterId(const QString& name) {
  // The name is matched byte for byte, as the game stores it, whatever the connection speaks: a
  // latin1 column's collation would take "Bob" for "bob", or another GBK name whose bytes differ
  // only in case.
  auto query =
      OpenLookup(FCharConnection, CharacterByNameSql("ID", Encode(name), FCharConnection.LiteralStyle()));
  if (query->IsEmpty()) return std::nullopt;
  return query->FieldByName("ID")->AsLargeInt();
}

void Tlogmanager::Search() {
  const QString name = edt1->text();
  const std::string start = edt2->text().toStdString();
  const std::string end = edt3->text().toStdString();
  if (auto refusal = CheckLogSearch(name.toStdString(), start, end, NowText().toStdString()))
    return ShowRefusal(*refusal);
  const std::optional<int64_t> id = CharacterId(name);
  if (!id) return ShowMessageBox(QStringLiteral("所查询的角色不存在！"), CaptionWarning, TMsgIcon::Warning);
  RunSearch(LogSearchWhere(*id, start, end, cbb1->currentIndex(), LiteralStyle()), false);
}

void Tlogmanager::QuickFilter(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kLogQuickFilters))) return;
  RunFilter(kLogQuickFilters[index]);
}

void Tlogmanager::CleanUp() {
  const std::string date = edt4->text().toStdString();
  if (auto refusal = CheckLogCleanup(date, NowText().toStdString())) return ShowRefusal(*refusal);
  if (!AskOkCancel(
          QStringLiteral("删除操作是不可逆的！为了您方便对游戏的管理，建议保留至少3天的日志，是否继续？"),
          CaptionWarning, TMsgIcon::Warning, true))
    return;
  FCleanup->SetConnection(&Connection());
  FCleanup->SetSQLText(LogCleanupStatement(date, LiteralStyle()));
  FCleanup->Execute();
  const int deleted = FCleanup->RowsAffected();
  ShowMessageBox(QStringLiteral("删除指定日期之前记录成功！共删除%1条记录。").arg(deleted), CaptionHint,
                 TMsgIcon::Information);
  RefreshPages();
}

void Tlogmanager::ToggleMemo() {
  const bool shown = !pnl2->isHidden();
  pnl2->setVisible(!shown);
  btn7->SetCaption(shown ? QStringLiteral("显示MEMO") : QStringLiteral("隐藏MEMO"));
}

void Tlogmanager::CopyName() {
  dbedtuserID->selectAll();
  Ui().SetClipboardText(dbedtuserID->text());
  ShowMessageBox(QStringLiteral("角色名已复制！"), CaptionHint, TMsgIcon::Information);
}

void Tlogmanager::CopyParameter(int which) {
  static const char* const kQuestions[] = {"是否复制此角色的日志发送内容！", "是否复制此角色的日志接收内容！",
                                           "是否复制此角色的日志附加内容！"};
  TDBMemo* memos[] = {dbmmostrParam1, dbmmostrParam2, dbmmostrParam3};
  if (which < 0 || which > 2) return;
  memos[which]->selectAll();
  if (!AskYesNo(QString::fromUtf8(kQuestions[which]))) return;
  Ui().SetClipboardText(memos[which]->toPlainText());
  ShowMessageBox(QStringLiteral("已成功将指定内容复制到剪贴板！"), CaptionHint, TMsgIcon::Information);
}
